// Exact-length reads and writes on the caller's socket.
#include <sys/socket.h>

#include <cerrno>

#include "php_internal.h"

extern "C" {

QRT_API int QRT_PHP_ReadSocket(ZQ_PHP_CTX *ctx, unsigned char *buf, int len) {
    if (!ctx || (len > 0 && !buf) || len < 0) return QRT_PHP_INVALID_INPUT;
    int got = 0;
    while (got < len) {
        ssize_t n = recv(ctx->sock, buf + got, static_cast<size_t>(len - got), 0);
        if (n > 0) {
            got += static_cast<int>(n);
            continue;
        }
        if (n == 0) return OSTREL_FAIL(QRT_PHP_SOCKET_CLOSED);
        if (errno == EINTR) continue;
        bool timed_out = errno == EAGAIN || errno == EWOULDBLOCK;
        OSTREL_SYSFAIL("recv");
        return OSTREL_FAIL(timed_out ? QRT_PHP_SOCKET_READ_WAIT : QRT_PHP_SOCKET_READ_FAILED);
    }
    return 0;
}

QRT_API int QRT_PHP_WriteSocket(ZQ_PHP_CTX *ctx, const unsigned char *buf, int len) {
    if (!ctx || (len > 0 && !buf) || len < 0) return QRT_PHP_INVALID_INPUT;
    int sent = 0;
    while (sent < len) {
        // MSG_NOSIGNAL: a peer that has gone away is a failure to report, not a signal.
        ssize_t n = send(ctx->sock, buf + sent, static_cast<size_t>(len - sent), MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        bool timed_out = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        if (n < 0) OSTREL_SYSFAIL("send");
        return OSTREL_FAIL(timed_out ? QRT_PHP_SOCKET_WRITE_WAIT : QRT_PHP_SOCKET_WRITE_FAILED);
    }
    return 0;
}

}  // extern "C"
