// Arbitrary bytes arriving on a stream are read as records until the stream ends: every
// record must be bounded, and nothing may leak or be read past what arrived.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

#include "suite_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 200000) return 0;
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return 0;
    int sz = 1 << 20;
    setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &sz, sizeof sz);
    setsockopt(fds[1], SOL_SOCKET, SO_RCVBUF, &sz, sizeof sz);
    size_t off = 0;
    while (off < size) {
        ssize_t w = write(fds[0], data + off, size - off);
        if (w <= 0) break;
        off += (size_t)w;
    }
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
