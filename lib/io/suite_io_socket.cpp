// IPv4 TCP clients and servers, send/receive loops and record framing
// (4-byte big-endian payload length + 1, 1-byte type, payload).
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "io_internal.h"

using ostrel::io::ErrnoKeeper;

namespace {

constexpr int kSendPiece = 2048;

int sysfail(const char *call, const char *func) {
    ErrnoKeeper keep;
    OSTREL_SYSFAIL(call);
    return OSTREL_FAIL_AS(func, QRT_IO_ERROR);
}

// Resolves a dotted address or a host name (first address of the answer).
bool resolve(const char *host, sockaddr_in &addr, const char *func) {
    std::memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    if (inet_pton(AF_INET, host, &addr.sin_addr) == 1) return true;
    // The answer must fit the work buffer; grow it (within reason) rather than fail on long answers.
    std::vector<char> work(1024);
    struct hostent he, *res = nullptr;
    int herr = 0;
    int rc;
    while ((rc = gethostbyname_r(host, &he, work.data(), work.size(), &res, &herr)) == ERANGE &&
           work.size() < 65536)
        work.resize(work.size() * 2);
    if (rc != 0 || !res || !res->h_addr_list || !res->h_addr_list[0] || res->h_length != 4) {
        QRT_Trace_PutError("gethostbyname_r", herr ? herr : rc, hstrerror(herr ? herr : HOST_NOT_FOUND), __FILE__,
                           __LINE__);
        OSTREL_FAIL_AS(func, QRT_IO_ERROR);
        return false;
    }
    addr.sin_family = static_cast<sa_family_t>(res->h_addrtype);
    std::memcpy(&addr.sin_addr, res->h_addr_list[0], 4);
    return true;
}

int connect_to(const char *func, const char *host, int port, int seconds) {
    if (!host || port < 0 || port > 65535) return -1;
    sockaddr_in addr;
    if (!resolve(host, addr, func)) return -1;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return sysfail("socket", func);
    if (seconds >= 0) {
        timeval tv{};
        tv.tv_sec = seconds;
        if (::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) {
            sysfail("setsockopt", func);
            ::close(fd);
            return -1;
        }
    }
    int rc;
    do {
        rc = ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    } while (rc < 0 && errno == EINTR);
    if (rc != 0) {
        sysfail("connect", func);
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

extern "C" {

QRT_API int QRT_Socket_Initialize(void) { return 0; }
QRT_API int QRT_Socket_Finalize(void) { return 0; }

// Resolving a host name allocates: a failure there gives -1 like any other (with a record).
QRT_API int QRT_Socket_Client(const char *host, int port) {
    const char *fn = __func__;
    return OSTREL_GUARD_OR(-1, [&] { return connect_to(fn, host, port, -1); });
}

QRT_API int QRT_Socket_ClientEx(const char *host, int port, int seconds) {
    const char *fn = __func__;
    return OSTREL_GUARD_OR(-1, [&] { return connect_to(fn, host, port, seconds < 0 ? 0 : seconds); });
}

QRT_API int QRT_Socket_Server(const char * /*address: all local addresses are used*/, int port) {
    if (port < 0 || port > 65535) return -1;
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return sysfail("socket", __func__);
    int one = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0) {
        sysfail("setsockopt", __func__);
        ::close(fd);
        return -1;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        sysfail("bind", __func__);
        ::close(fd);
        return -1;
    }
    if (::listen(fd, 10) != 0) {
        sysfail("listen", __func__);
        ::close(fd);
        return -1;
    }
    return fd;
}

QRT_API int QRT_Socket_Accept(int fd, char *peer) {
    sockaddr_in addr{};
    socklen_t alen = sizeof addr;
    int c;
    do {
        c = ::accept(fd, reinterpret_cast<sockaddr *>(&addr), &alen);
    } while (c < 0 && errno == EINTR);
    if (c < 0) return sysfail("accept", __func__);
    if (peer && !inet_ntop(AF_INET, &addr.sin_addr, peer, INET_ADDRSTRLEN)) peer[0] = '\0';
    return c;
}

QRT_API int QRT_Socket_Close(int fd) {
    if (fd > 0) ::close(fd);
    return 0;
}
QRT_API int QRT_Close(int fd) { return QRT_Socket_Close(fd); }

// MSG_NOSIGNAL: a peer that went away gives -1 instead of killing the process with SIGPIPE.
QRT_API int QRT_Socket_Send(int fd, const void *buf, int len) {
    if (!buf || len < 0) return -1;
    ssize_t n;
    do {
        n = ::send(fd, buf, static_cast<size_t>(len), MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return sysfail("send", __func__);
    return static_cast<int>(n);
}

QRT_API int QRT_Socket_SendAll(int fd, const void *buf, int len) {
    if (!buf) return QRT_IO_INVALID_INPUT;
    if (len < 1) return 0;
    const auto *p = static_cast<const unsigned char *>(buf);
    int left = len;
    while (left > 0) {
        int piece = left < kSendPiece ? left : kSendPiece;
        int n = QRT_Socket_Send(fd, p, piece);
        if (n <= 0) return OSTREL_FAIL(QRT_IO_ERROR);
        p += n;
        left -= n;
    }
    return 0;
}
QRT_API int QRT_SendRawData(int fd, const void *buf, int len) { return QRT_Socket_SendAll(fd, buf, len); }

QRT_API int QRT_Socket_Recv(int fd, void *buf, int len) {
    if (!buf || len < 0) return -1;
    ssize_t n;
    do {
        n = ::recv(fd, buf, static_cast<size_t>(len), 0);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return sysfail("recv", __func__);
    return static_cast<int>(n);
}

QRT_API int QRT_Socket_RecvAll(int fd, void *buf, int len) {
    if (!buf) return QRT_IO_INVALID_INPUT;
    if (len < 1) return 0;
    auto *p = static_cast<unsigned char *>(buf);
    int got = 0;
    while (got < len) {
        int n = QRT_Socket_Recv(fd, p + got, len - got);
        if (n < 0) return OSTREL_FAIL(QRT_IO_ERROR);
        if (n == 0) return OSTREL_FAIL(QRT_IO_SOCKET_CLOSED);
        got += n;
    }
    return 0;
}

QRT_API int QRT_RecvData(int fd, unsigned char **out, int len) {
    if (!out || len < 1) return QRT_IO_INVALID_INPUT;
    auto *p = static_cast<unsigned char *>(QRT_calloc(static_cast<size_t>(len) + 1, 1));
    if (!p) return OSTREL_FAIL(QRT_IO_MALLOC_FAILED);
    int n = QRT_Socket_Recv(fd, p, len);
    if (n < 1) {
        QRT_free(p);
        return OSTREL_FAIL(QRT_IO_ERROR);
    }
    *out = p;
    return n;
}

QRT_API int QRT_ReadRawData(int fd, unsigned char **out, int len) {
    if (!out || len < 0) return QRT_IO_INVALID_INPUT;
    auto *p = static_cast<unsigned char *>(QRT_calloc(static_cast<size_t>(len) + 1, 1));
    if (!p) return OSTREL_FAIL(QRT_IO_MALLOC_FAILED);
    if (QRT_Socket_RecvAll(fd, p, len) != 0) {
        QRT_free(p);
        return OSTREL_FAIL(QRT_IO_ERROR);
    }
    *out = p;
    return 0;
}

QRT_API int QRT_Socket_SendRecord(int fd, int type, const BIN *payload) {
    if (!payload || (payload->length && !payload->value)) return QRT_IO_INVALID_INPUT;
    if (payload->length > 0x7FFFFFF0u) return QRT_IO_INVALID_INPUT;
    size_t total = static_cast<size_t>(payload->length) + 5;
    auto *buf = static_cast<unsigned char *>(QRT_malloc(total));
    if (!buf) return OSTREL_FAIL(QRT_IO_MALLOC_FAILED);
    uint32_t field = payload->length + 1;
    buf[0] = static_cast<unsigned char>(field >> 24);
    buf[1] = static_cast<unsigned char>(field >> 16);
    buf[2] = static_cast<unsigned char>(field >> 8);
    buf[3] = static_cast<unsigned char>(field);
    buf[4] = static_cast<unsigned char>(type);
    if (payload->length) std::memcpy(buf + 5, payload->value, payload->length);
    int rc = QRT_Socket_SendAll(fd, buf, static_cast<int>(total));
    QRT_free(buf);
    if (rc != 0) return OSTREL_FAIL(rc);
    return 0;
}

QRT_API int QRT_SendData(int fd, int type, const unsigned char *data, int len) {
    if (len < 0 || (len > 0 && !data)) return QRT_IO_INVALID_INPUT;
    BIN payload{static_cast<unsigned int>(len), const_cast<unsigned char *>(data)};
    return QRT_Socket_SendRecord(fd, type, &payload);
}

QRT_API int QRT_Socket_RecvRecord(int fd, int *type, BIN *payload) {
    if (!type || !payload) return QRT_IO_INVALID_INPUT;
    payload->length = 0;
    payload->value = nullptr;
    unsigned char head[5];
    int rc = QRT_Socket_RecvAll(fd, head, 5);
    if (rc != 0) return OSTREL_FAIL(rc);
    uint32_t field = (uint32_t{head[0]} << 24) | (uint32_t{head[1]} << 16) | (uint32_t{head[2]} << 8) | head[3];
    uint32_t n = field - 1;  // a length field of 0 wraps to a huge value and is rejected too
    if (n > QRT_SOCKET_MAX_RECORD) return OSTREL_FAIL(QRT_IO_ERROR);
    *type = head[4];
    if (n == 0) return 0;
    auto *buf = static_cast<unsigned char *>(QRT_malloc(n));
    if (!buf) return OSTREL_FAIL(QRT_IO_MALLOC_FAILED);
    rc = QRT_Socket_RecvAll(fd, buf, static_cast<int>(n));
    if (rc != 0) {
        QRT_free(buf);
        return OSTREL_FAIL(rc);
    }
    payload->value = buf;
    payload->length = n;
    return 0;
}

QRT_API int QRT_ReadData(int fd, unsigned char **data, int *len) {
    if (!data || !len) return QRT_IO_INVALID_INPUT;
    int type = 0;
    BIN payload{0, nullptr};
    int rc = QRT_Socket_RecvRecord(fd, &type, &payload);
    if (rc != 0) return rc;
    *data = payload.value;
    *len = static_cast<int>(payload.length);
    return 0;
}

QRT_API int QRT_Bind(const char *ip, int port) {
    if (!ip) return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    if (inet_pton(AF_INET, ip, &addr.sin_addr) != 1) return OSTREL_FAIL(QRT_IO_ERROR);
    const char *fn = __func__;
    return OSTREL_GUARD_OR(-1, [&] { return connect_to(fn, ip, port, -1); });
}

QRT_API unsigned int QRT_htonl(unsigned int v) { return htonl(v); }
QRT_API unsigned int QRT_ntohl(unsigned int v) { return ntohl(v); }
QRT_API unsigned short QRT_htons(unsigned short v) { return htons(v); }
QRT_API unsigned short QRT_ntohs(unsigned short v) { return ntohs(v); }
QRT_API unsigned int QRT_Socket_htonl(unsigned int v) { return htonl(v); }
QRT_API unsigned int QRT_Socket_ntohl(unsigned int v) { return ntohl(v); }
QRT_API unsigned short QRT_Socket_htons(unsigned short v) { return htons(v); }
QRT_API unsigned short QRT_Socket_ntohs(unsigned short v) { return ntohs(v); }

}  // extern "C"
