// Arbitrary bytes as a responder's answer to an HTTP POST, fed through a socket pair: the header
// reader (bounded lines, status, Content-Length in its forms) and the body reader (at most
// 1 MiB, exactly the announced length). Nothing may leak, overrun or hang; a failure leaves the
// output empty.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

#include "fuzz_stream.hpp"
#include "suite_ocsp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    int fds[2];
    if (!ostrel::fuzz::feed_stream(data, size, fds)) return 0;
    // the answer ends here; the request still finds room on the other side
    shutdown(fds[0], SHUT_WR);
    static const uint8_t kRequest[] = {0x30, 0x03, 0x02, 0x01, 0x07};
    BIN req{sizeof kRequest, const_cast<uint8_t *>(kRequest)}, out{0, nullptr};
    int rc = QRT_OCSP_SendRecvHTTP(&out, fds[1], &req, "http://127.0.0.1:8080/ocsp");
    if (rc != 0 && (out.value || out.length)) __builtin_trap();
    if (rc == 0 && (out.length == 0 || out.length > QRT_OCSP_HTTP_MAX_BODY)) __builtin_trap();
    QRT_BIN_Reset(&out);
    close(fds[0]);
    close(fds[1]);
    return 0;
}
