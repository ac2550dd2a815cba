// The HTTP exchange against a stub on a loopback port: the exact request bytes, and what comes
// of hostile or broken answers (status codes, missing, negative or huge lengths, long lines, a
// body cut short, a server that never answers). Also the URL, and the library frame.
#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <mutex>
#include <string>

#include "ostrel/loopback_server.hpp"
#include "ostrel/test_support.hpp"
#include "suite_csp.h"
#include "suite_ocsp.h"

namespace {

using ostrel::test::LoopbackServer;
using ostrel::test::OutBin;

enum class After { Close, Hold, Silent };

// Reads what the client sends (its header and the announced body), answers with `answer` and
// then closes, holds the connection open, or (Silent) never answers.
class Stub {
  public:
    Stub(std::string answer, After after) {
        server_.start([this, answer, after](int fd) {
            std::string got = read_request(fd);
            {
                std::lock_guard<std::mutex> lock(m_);
                received_ = got;
            }
            if (after != After::Silent) QRT_Socket_SendAll(fd, answer.data(), static_cast<int>(answer.size()));
            if (after == After::Close) return;
            while (!server_.stopping()) {
                pollfd p{fd, POLLIN, 0};
                if (::poll(&p, 1, 50) > 0 && (p.revents & (POLLHUP | POLLERR))) return;
                char c;
                if (p.revents & POLLIN && ::recv(fd, &c, 1, 0) <= 0) return;
            }
        });
    }
    int port() const { return server_.port(); }
    std::string url(const std::string &path = "") const { return "http://127.0.0.1:" + std::to_string(port()) + path; }
    std::string received() {
        std::lock_guard<std::mutex> lock(m_);
        return received_;
    }

  private:
    std::string read_request(int fd) {
        std::string in;
        size_t want = std::string::npos;
        while (!server_.stopping() && in.size() < want) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            char buf[4096];
            ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) break;
            in.append(buf, static_cast<size_t>(n));
            size_t end = in.find("\r\n\r\n");
            size_t cl = in.find("Content-Length: ");
            if (end != std::string::npos && cl != std::string::npos) want = end + 4 + std::stoul(in.substr(cl + 16));
        }
        return in;
    }

    std::mutex m_;
    std::string received_;
    LoopbackServer server_;
};

[[maybe_unused]] const int kTraceOn = QRT_Trace_Initialize();
const std::string kRequest = std::string("\x30\x03\x02\x01\x07", 5);

int exchange(Stub &stub, OutBin &out, const std::string &url, int seconds = 5) {
    int fd = QRT_Socket_ClientEx("127.0.0.1", stub.port(), seconds);
    BIN req{static_cast<unsigned>(kRequest.size()),
            reinterpret_cast<unsigned char *>(const_cast<char *>(kRequest.data()))};
    int rc = QRT_OCSP_SendRecvHTTP(&out, fd, &req, url.c_str());
    QRT_Socket_Close(fd);
    if (rc) {
        EXPECT_TRUE(out.empty());
    }
    return rc;
}

TEST(OcspHttp, RequestBytesAndUrls) {
    for (const std::string path : {"", "/", "/ocsp/v1"}) {
        Stub stub("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok", After::Close);
        OutBin out;
        ASSERT_EQ(exchange(stub, out, stub.url(path)), 0);
        std::vector<unsigned char> body = out.bytes();
        EXPECT_EQ(std::string(body.begin(), body.end()), "ok");
        const std::string host = "127.0.0.1:" + std::to_string(stub.port());
        EXPECT_EQ(stub.received(), "POST " + (path.empty() ? std::string("/") : path) + " HTTP/1.0\r\nHost: " + host +
                                       "\r\nAccept: */*\r\nContent-Type: application/ocsp-request\r\n"
                                       "Content-Length: 5\r\n\r\n" +
                                       kRequest);
    }
    char *host = nullptr, *path = nullptr;
    ASSERT_EQ(QRT_OCSP_ParseURL(&host, &path, "http://ocsp.example:8080/a/b"), 0);
    EXPECT_STREQ(host, "ocsp.example:8080");
    EXPECT_STREQ(path, "a/b");
    QRT_free(host);
    QRT_free(path);
    for (const char *bad : {"ocsp.example/a", "https://ocsp.example/", "http:///a", "http:/x",
                            "http://h/a\r\nX-Injected: 1", "http://h/a b"}) {
        EXPECT_EQ(QRT_OCSP_ParseURL(&host, &path, bad), QRT_OCSP_HTTP_BAD_URL) << bad;
        EXPECT_TRUE(!host && !path);
        OutBin hdr;
        EXPECT_EQ(QRT_OCSP_HTTP_EncodeReqHdr(&hdr, bad, 5), QRT_OCSP_HTTP_BAD_URL);
    }
}

TEST(OcspHttp, HostileAnswers) {
    const std::string ok = "HTTP/1.0 200 OK\r\n";
    struct Case {
        const char *what;
        std::string answer;
        After after;
        int expect;
        int seconds = 5;  // the receive time-out of the client socket
    } cases[] = {
        {"202", "HTTP/1.1 202 Accepted\r\nContent-Length: 3\r\n\r\nabc", After::Close, 0},
        {"lower case", "http/1.0 200 OK\r\ncontent-length: 3\r\n\r\nabc", After::Close, 0},
        {"no blank after the colon", ok + "Content-Length:3\r\n\r\nabc", After::Close, 0},
        {"503", "HTTP/1.0 503 Service Unavailable\r\nContent-Length: 0\r\n\r\n", After::Close,
         QRT_OCSP_HTTP_ERROR_STATUS},
        {"504", "HTTP/1.0 504 Gateway Timeout\r\n\r\n", After::Close, QRT_OCSP_HTTP_GATEWAY_TIMEOUT},
        {"no status line", "Content-Length: 3\r\n\r\nabc", After::Close, QRT_OCSP_HTTP_BAD_HEADER},
        {"status without a code", "HTTP/1.0 OK\r\nContent-Length: 3\r\n\r\nabc", After::Close,
         QRT_OCSP_HTTP_BAD_HEADER},
        {"no length", ok + "\r\nabc", After::Close, QRT_OCSP_HTTP_NO_LENGTH},
        {"zero length", ok + "Content-Length: 0\r\n\r\n", After::Close, QRT_OCSP_HTTP_NO_LENGTH},
        {"negative length", ok + "Content-Length: -5\r\n\r\nabc", After::Close, QRT_OCSP_HTTP_NO_LENGTH},
        {"5000-byte header line", ok + "X-Junk: " + std::string(5000, 'a') + "\r\nContent-Length: 3\r\n\r\nabc",
         After::Close, QRT_OCSP_SOCKET_READ_FAILED},
        {"endless header",
         ok +
             [] {
                 std::string s;
                 for (int i = 0; i < 300; ++i) s += "X-Junk: a\r\n";
                 return s;
             }(),
         After::Hold, QRT_OCSP_SOCKET_READ_FAILED},
        {"2000000000 announced", ok + "Content-Length: 2000000000\r\n\r\n", After::Hold, QRT_OCSP_SOCKET_READ_FAILED},
        {"one byte over the limit", ok + "Content-Length: 1048577\r\n\r\n", After::Hold, QRT_OCSP_SOCKET_READ_FAILED},
        {"body cut short", ok + "Content-Length: 10\r\n\r\nabc", After::Close, QRT_OCSP_SOCKET_READ_FAILED},
        {"header cut short", "HTTP/1.0 200 OK\r\nContent-Len", After::Close, QRT_OCSP_SOCKET_READ_FAILED},
        {"silent server", "", After::Silent, QRT_OCSP_SOCKET_READ_FAILED, 1},
    };
    for (const Case &c : cases) {
        Stub stub(c.answer, c.after);
        OutBin out;
        ostrel::test::trace_records();
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(exchange(stub, out, stub.url("/ocsp"), c.seconds), c.expect) << c.what;
        // every failure here ends without waiting for the peer, except the silent one (its time-out)
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << c.what;
        std::vector<std::string> trace = ostrel::test::trace_records();
        if (c.expect == QRT_OCSP_HTTP_GATEWAY_TIMEOUT) {
            ASSERT_FALSE(trace.empty());
            EXPECT_EQ(ostrel::test::trace_field(trace.front(), 2), "QRT_OCSP_HTTP_ReadRespHdr");
            EXPECT_EQ(ostrel::test::trace_field(trace.front(), 3), "35163");
            EXPECT_EQ(ostrel::test::trace_field(trace.back(), 3), "35163");
        }
    }
}

TEST(OcspHttp, ClientOverHttpStub) {
    struct Case {
        const char *what;
        std::string answer;
        const char *url;  // nullptr: the stub's
        int expect;
    } cases[] = {
        {"an HTML page", "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: 14\r\n\r\n<html>no</html",
         nullptr, QRT_OCSP_BAD_RESPONSE},
        {"no http://", "", "ocsp.example/", QRT_OCSP_HTTP_BAD_URL},
    };
    // a self-signed certificate (OpenSSL gives it an authorityKeyIdentifier) to ask about
    ostrel::test::TempDir tmp;
    std::string out;
    ASSERT_EQ(ostrel::test::run("cd " + tmp.path() +
                                    " && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes "
                                    "-keyout k.pem -subj /CN=c -outform der -out c.der 2>&1",
                                &out),
              0)
        << out;
    std::string cert = ostrel::test::read_file(tmp / "c.der");
    BIN c{static_cast<unsigned>(cert.size()), reinterpret_cast<unsigned char *>(cert.data())};
    ZQ_OCSP_Request r{};
    ASSERT_EQ(QRT_BIN_LIST_Add(&r.reqCertList, &c), 0);
    for (const Case &k : cases) {
        Stub stub(k.answer, After::Close);
        std::string url = k.url ? k.url : stub.url("/");
        ZQ_OCSP_ClientParam p{};
        p.useHTTP = 1;
        p.proxyURL = url.data();
        ZQ_OCSP_Response resp{};
        OutBin q, a;
        int fd = QRT_Socket_ClientEx("127.0.0.1", stub.port(), 5);
        EXPECT_EQ(QRT_OCSP_Client(&resp, &q, &a, &r, &p, fd), k.expect) << k.what;
        QRT_Socket_Close(fd);
        EXPECT_TRUE(q.empty() && a.empty() && !resp.respList && !resp.cert && !resp.responderKeyID.value);
        if (k.url) {
            EXPECT_EQ(stub.received(), "") << "nothing is sent before the URL is known good";
        }
    }
    QRT_OCSP_ResetRequest(&r);
}

TEST(OcspFrame, VersionAndTexts) {
    EXPECT_STREQ(QRT_OCSP_GetVersion(), "1.5.2.8");
    EXPECT_EQ(QRT_OCSP_CheckVersion("1.5.2.8"), 0);
    EXPECT_EQ(QRT_OCSP_CheckVersion("1.5.2.9"), -1);
    EXPECT_STREQ(QRT_OCSP_GetErrorReason(35163, 1), "http gateway timeout");
    EXPECT_STREQ(QRT_OCSP_GetErrorReason(8040, 1), QRT_IO_GetErrorReason(8040, 1));
    EXPECT_STREQ(QRT_OCSP_GetErrorReason(6012, 0), QRT_CSP_GetErrorReason(6012, 0));
    EXPECT_STRNE(QRT_OCSP_GetErrorReason(35001, 0), "");
    EXPECT_STREQ(QRT_OCSP_GetErrorReason(35999, 1), "");
    EXPECT_STREQ(QRT_OCSP_GetErrorReason(35001, 2), "");
}

}  // namespace
