// Arbitrary bytes arriving on a stream are read as records until the stream ends: every
// record must be bounded, and nothing may leak or be read past what arrived.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

#include "fuzz_stream.hpp"
#include "suite_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    int fds[2];
    if (!ostrel::fuzz::feed_stream(data, size, fds)) return 0;
    close(fds[0]);
    for (;;) {
        int type = 0;
        BIN payload{0, nullptr};
        if (QRT_Socket_RecvRecord(fds[1], &type, &payload) != 0) break;
        if (payload.length > QRT_SOCKET_MAX_RECORD) __builtin_trap();
        QRT_BIN_Reset(&payload);
    }
    close(fds[1]);
    return 0;
}
