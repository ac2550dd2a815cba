// Transport and the whole exchange: the responder URL, the HTTP/1.0 POST and its response
// header (read a byte at a time under a bound on every line, with no fixed buffer to overrun),
// the record framing of the I/O core, and QRT_OCSP_Client, which also matches the nonces.
#include <climits>
#include <string>
#include <string_view>

#include "ocsp_internal.h"
#include "ostrel/ct.hpp"

namespace ostrel::ocsp {
namespace {

// A response header holds at most this many lines, so a peer cannot keep the reader busy.
constexpr int kMaxHeaderLines = 256;

bool iequal_prefix(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        char a = s[i], b = prefix[i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
        if (a != b) return false;
    }
    return true;
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// "http://" host [":" port] ["/" path]: the host as written, with its port. Blanks and control
// characters are refused: the URL may come from a certificate, and they would end the request
// line or start header lines of its choosing.
int parse_url(std::string &host, std::string &path, const char *url) {
    constexpr std::string_view kScheme = "http://";
    std::string_view u(url);
    if (!iequal_prefix(u, kScheme)) return QRT_OCSP_HTTP_BAD_URL;
    for (char c : u)
        if (static_cast<unsigned char>(c) <= ' ' || c == 0x7f) return QRT_OCSP_HTTP_BAD_URL;
    u.remove_prefix(kScheme.size());
    size_t slash = u.find('/');
    std::string_view h = u.substr(0, slash);
    if (h.empty()) return QRT_OCSP_HTTP_BAD_URL;
    host.assign(h);
    path.assign(slash == std::string_view::npos ? std::string_view{} : u.substr(slash + 1));
    return 0;
}

int encode_header(std::string &out, const char *url, size_t contentLength) {
    std::string host, path;
    if (int rc = parse_url(host, path, url)) return rc;
    out = "POST /" + path + " HTTP/1.0\r\nHost: " + host +
          "\r\nAccept: */*\r\nContent-Type: application/ocsp-request\r\nContent-Length: " +
          std::to_string(contentLength) + "\r\n\r\n";
    return 0;
}

// One line up to and including its LF, at most QRT_OCSP_HTTP_MAX_LINE bytes.
int read_line(std::string &line, int fd) {
    line.clear();
    while (line.size() < QRT_OCSP_HTTP_MAX_LINE) {
        char c = 0;
        if (QRT_Socket_Recv(fd, &c, 1) != 1) return QRT_OCSP_SOCKET_READ_FAILED;
        line.push_back(c);
        if (c == '\n') return 0;
    }
    return QRT_OCSP_SOCKET_READ_FAILED;
}

// The decimal after a header name (blanks and one ':' skipped), saturated to the long long range;
// false when there is no number.
bool parse_number(std::string_view s, long long &out) {
    size_t i = 0;
    while (i < s.size() && is_blank(s[i])) ++i;
    if (i < s.size() && s[i] == ':') ++i;
    while (i < s.size() && is_blank(s[i])) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
    if (i >= s.size() || s[i] < '0' || s[i] > '9') return false;
    long long v = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i)
        v = v > LLONG_MAX / 10 - 1 ? LLONG_MAX : v * 10 + (s[i] - '0');
    out = negative ? -v : v;
    return true;
}

// Status-Line = HTTP-Version SP Status-Code SP Reason-Phrase CRLF
int status_of(std::string_view line, int &status) {
    size_t sp = line.find_first_of(" \t");
    if (sp == std::string_view::npos) return QRT_OCSP_HTTP_BAD_HEADER;
    std::string_view rest = line.substr(sp);
    size_t i = 0;
    while (i < rest.size() && is_blank(rest[i])) ++i;
    int v = 0, digits = 0;
    for (; i < rest.size() && rest[i] >= '0' && rest[i] <= '9' && digits < 3; ++i, ++digits)
        v = v * 10 + (rest[i] - '0');
    if (digits != 3 || (i < rest.size() && rest[i] >= '0' && rest[i] <= '9')) return QRT_OCSP_HTTP_BAD_HEADER;
    status = v;
    return 0;
}

int read_header(long long &length, int fd) {
    constexpr std::string_view kHttp = "HTTP/", kLength = "Content-Length";
    length = 0;
    bool status = false;
    std::string line;
    for (int n = 0; n < kMaxHeaderLines; ++n) {
        if (int rc = read_line(line, fd)) return rc;
        std::string_view l(line);
        if (l == "\r\n" || l == "\n") return status ? 0 : QRT_OCSP_HTTP_BAD_HEADER;
        if (iequal_prefix(l, kHttp)) {
            int code = 0;
            if (int rc = status_of(l, code)) return rc;
            if (code == 504) return QRT_OCSP_HTTP_GATEWAY_TIMEOUT;
            if (code < 200 || code > 299) return QRT_OCSP_HTTP_ERROR_STATUS;
            status = true;
        } else if (iequal_prefix(l, kLength)) {
            std::string_view rest = l.substr(kLength.size());
            long long v = 0;
            // "Content-Length-Foo:" is another header
            if (!rest.empty() && (rest[0] == ':' || is_blank(rest[0])) && parse_number(rest, v)) length = v;
        }
    }
    return QRT_OCSP_SOCKET_READ_FAILED;
}

int send_recv_http(SecBytes &body, int fd, const BIN &request, const char *url) {
    std::string header;
    if (int rc = encode_header(header, url, request.length)) return rc;
    if (request.length > INT_MAX - header.size()) return QRT_OCSP_INVALID_INPUT;
    // header and request leave in one piece, so no small write waits on the peer's ACK
    SecBytes message(header.begin(), header.end());
    put_raw(message, request.value, request.length);
    if (QRT_Socket_SendAll(fd, message.data(), static_cast<int>(message.size())) != 0)
        return QRT_OCSP_SOCKET_WRITE_FAILED;
    int length = 0;
    if (int rc = QRT_OCSP_HTTP_ReadRespHdr(&length, fd)) return rc;
    if (length <= 0) return QRT_OCSP_HTTP_NO_LENGTH;
    if (length > QRT_OCSP_HTTP_MAX_BODY) return QRT_OCSP_SOCKET_READ_FAILED;
    body.resize(static_cast<size_t>(length));
    if (QRT_Socket_RecvAll(fd, body.data(), length) != 0) return QRT_OCSP_SOCKET_READ_FAILED;
    return 0;
}

int send_recv_tcp(BinOwner &response, int fd, const BIN &request) {
    if (QRT_Socket_SendRecord(fd, 0, &request) != 0) return QRT_OCSP_SOCKET_WRITE_FAILED;
    int type = 0;
    if (QRT_Socket_RecvRecord(fd, &type, response.get()) != 0) return QRT_OCSP_SOCKET_READ_FAILED;
    return 0;
}

// A response nonce answers this request when it equals the request's extnValue, or its contents
// for a responder that echoes the bare octets.
bool nonce_matches(const NonceSeen &seen, const SecBytes &sent) {
    if (!seen.present) return true;
    const SecBytes &v = seen.value;
    if (v.size() == sent.size() && ct_equal(v.data(), sent.data(), v.size())) return true;
    const size_t inner = sent.size() - 2;  // the 20 octets after 04 14
    return v.size() == inner && ct_equal(v.data(), sent.data() + 2, inner);
}

int client(ZQ_OCSP_Response &response, BIN *requestOut, BIN *responseOut, const ZQ_OCSP_Request &request,
           const ZQ_OCSP_ClientParam &param, int fd) {
    if (param.useHTTP && !param.proxyURL) return QRT_OCSP_INVALID_INPUT;
    SecBytes der, nonce;
    if (int rc = build_request(der, nonce, request, param.privKey, param.CB_ComputeSignature)) return rc;
    BIN req = bin_view(der);
    BinOwner answer;
    if (param.useHTTP) {
        if (int rc = QRT_OCSP_SendRecvHTTP(answer.get(), fd, &req, param.proxyURL)) return rc;
    } else {
        if (int rc = QRT_OCSP_SendRecvTCP(answer.get(), fd, &req)) return rc;
    }
    NonceSeen seen;
    ResponseOwner decoded;
    if (int rc = decode_response(*decoded, *answer, param.serverCert, param.checkSign, &seen)) return rc;
    if (!nonce_matches(seen, nonce)) return QRT_OCSP_BAD_RESPONSE;
    bin_assign(requestOut, der);
    answer.release_to(responseOut);
    decoded.release_to(&response);
    return 0;
}

}  // namespace
}  // namespace ostrel::ocsp

using namespace ostrel::ocsp;
using ostrel::BinOwner;
using ostrel::SecBytes;

extern "C" {

QRT_API int QRT_OCSP_ParseURL(char **host, char **path, const char *url) {
    if (!host || !path) return QRT_OCSP_INVALID_INPUT;
    *host = *path = nullptr;
    if (!url) return QRT_OCSP_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        std::string h, p;
        if (int rc = parse_url(h, p, url)) return rc;
        auto *hs = static_cast<char *>(QRT_malloc(h.size() + 1));
        auto *ps = static_cast<char *>(QRT_malloc(p.size() + 1));
        if (!hs || !ps) {
            QRT_free(hs);
            QRT_free(ps);
            throw std::bad_alloc();
        }
        std::memcpy(hs, h.c_str(), h.size() + 1);
        std::memcpy(ps, p.c_str(), p.size() + 1);
        *host = hs;
        *path = ps;
        return 0;
    });
}

QRT_API int QRT_OCSP_HTTP_EncodeReqHdr(BIN *out, const char *url, int contentLength) {
    if (!out) return QRT_OCSP_INVALID_INPUT;
    *out = BIN{0, nullptr};
    if (!url || contentLength < 0) return QRT_OCSP_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        std::string header;
        if (int rc = encode_header(header, url, static_cast<size_t>(contentLength))) return rc;
        bin_assign(out, header.data(), header.size());
        return 0;
    });
}

QRT_API int QRT_OCSP_HTTP_ReadLine(BIN *line, int socket) {
    if (!line) return QRT_OCSP_INVALID_INPUT;
    *line = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        std::string l;
        if (int rc = read_line(l, socket)) return rc;
        bin_assign(line, l.data(), l.size());
        return 0;
    });
}

QRT_API int QRT_OCSP_HTTP_ReadRespHdr(int *contentLength, int socket) {
    if (!contentLength) return QRT_OCSP_INVALID_INPUT;
    *contentLength = 0;
    return OSTREL_GUARD_TRACE([&] {
        long long length = 0;
        if (int rc = read_header(length, socket)) return rc;
        *contentLength = static_cast<int>(length > INT_MAX ? INT_MAX : length < INT_MIN ? INT_MIN : length);
        return 0;
    });
}

QRT_API int QRT_OCSP_SendRecvHTTP(BIN *responseOut, int socket, const BIN *request, const char *url) {
    if (!responseOut) return QRT_OCSP_INVALID_INPUT;
    *responseOut = BIN{0, nullptr};
    if (!has_bytes(request) || !url) return QRT_OCSP_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        SecBytes body;
        if (int rc = send_recv_http(body, socket, *request, url)) return rc;
        bin_assign(responseOut, body);
        return 0;
    });
}

QRT_API int QRT_OCSP_SendRecvTCP(BIN *responseOut, int socket, const BIN *request) {
    if (!responseOut) return QRT_OCSP_INVALID_INPUT;
    *responseOut = BIN{0, nullptr};
    if (!has_bytes(request)) return QRT_OCSP_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        BinOwner answer;
        if (int rc = send_recv_tcp(answer, socket, *request)) return rc;
        if (!has_bytes(answer.get())) return QRT_OCSP_SOCKET_READ_FAILED;
        answer.release_to(responseOut);
        return 0;
    });
}

QRT_API int QRT_OCSP_Client(ZQ_OCSP_Response *response, BIN *requestOut, BIN *responseOut,
                            const ZQ_OCSP_Request *request, const ZQ_OCSP_ClientParam *param, int socket) {
    if (!response || !requestOut || !responseOut || !request || !param) return QRT_OCSP_INVALID_INPUT;
    *requestOut = BIN{0, nullptr};
    *responseOut = BIN{0, nullptr};
    QRT_OCSP_ResetResponse(response);
    return OSTREL_GUARD_TRACE([&] {
        int rc = client(*response, requestOut, responseOut, *request, *param, socket);
        if (rc) {
            QRT_BIN_Reset(requestOut);
            QRT_BIN_Reset(responseOut);
            QRT_OCSP_ResetResponse(response);
        }
        return rc;
    });
}

}  // extern "C"
