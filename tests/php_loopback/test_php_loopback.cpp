// Client and server of the handshake over loopback TCP, and clients facing servers that
// misbehave on the wire.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "php_test_keys.hpp"

using namespace php_test;
using ostrel::test::trace_field;

namespace {

const std::string kServerId = "php.server.test";

// What the key-lookup callback hands out; set by each test before its exchange.
struct ServerConfig {
    Bytes priv, cert;
    int kind = QRT_PHP_CERT_PHP;
    int refuse = 0;
    std::string seen;
};
ServerConfig g_server;
std::mutex g_server_mutex;

int lookup(const ZQ_PHP_DATA *identity, ZQ_PHP_DATA *priv, int *kind, ZQ_PHP_DATA *cert) {
    std::lock_guard<std::mutex> lock(g_server_mutex);
    g_server.seen.assign(identity->data, identity->data + identity->len);
    if (g_server.refuse) return g_server.refuse;
    *kind = g_server.kind;
    QRT_PHP_DATA_Set(priv, g_server.priv.data(), static_cast<unsigned>(g_server.priv.size()));
    QRT_PHP_DATA_Set(cert, g_server.cert.data(), static_cast<unsigned>(g_server.cert.size()));
    return 0;
}

int my_tid() { return static_cast<int>(static_cast<unsigned>(pthread_self())); }

// Every trace record of the process bucket split into the given thread's and the others'.
// Threads may share a bucket, so the records are fetched once both sides have finished.
std::vector<std::string> records_of(const std::vector<std::string> &all, int tid) {
    std::vector<std::string> out;
    for (const std::string &r : all)
        if (trace_field(r, 1) == std::to_string(tid)) out.push_back(r);
    return out;
}

bool has_record(const std::vector<std::string> &recs, const std::string &fn, int code) {
    for (const std::string &r : recs)
        if (trace_field(r, 2) == fn && trace_field(r, 3) == std::to_string(code)) return true;
    return false;
}

// A listening socket on 127.0.0.1 with a free port.
struct Listener {
    int fd = -1;
    int port = 0;
    Listener() {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t l = sizeof a;
        if (bind(fd, reinterpret_cast<sockaddr *>(&a), l) != 0 || listen(fd, 4) != 0) throw std::runtime_error("bind");
        getsockname(fd, reinterpret_cast<sockaddr *>(&a), &l);
        port = ntohs(a.sin_port);
    }
    ~Listener() { close(fd); }
    int connect_client() const {
        int c = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(port));
        if (connect(c, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) throw std::runtime_error("connect");
        return c;
    }
};

struct Outcome {
    int client_rc = -999, server_rc = -999;
    Bytes strong;
    std::string server_identity;
    std::vector<std::string> client_trace, server_trace;
};

class PhpLoopback : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (!ostrel::test::have_command("openssl")) return;
        dir_ = new ostrel::test::TempDir;
        server_ = new RsaKey(make_rsa(*dir_, "server", 2048));
        ca_ = new RsaKey(make_rsa(*dir_, "ca", 2048));
        other_ca_ = new RsaKey(make_rsa(*dir_, "other-ca", 1024));
        ca_cert_ = new Bytes(make_ca_cert(*dir_, *ca_, "PHP-CA"));
        other_ca_cert_ = new Bytes(make_ca_cert(*dir_, *other_ca_, "Other-CA"));
    }
    static void TearDownTestSuite() {
        delete server_;
        delete ca_;
        delete other_ca_;
        delete ca_cert_;
        delete other_ca_cert_;
        delete dir_;
    }
    void SetUp() override {
        if (!dir_) GTEST_SKIP() << "openssl CLI not available";
        QRT_Trace_Initialize();
        QRT_Trace_ClearError();
        std::lock_guard<std::mutex> lock(g_server_mutex);
        g_server = ServerConfig{};
        g_server.priv = server_->priv;
        g_server.cert = php_cert(kServerId, *server_, *ca_);
    }
    void TearDown() override { QRT_Trace_ClearError(); }

    // One client exchange against `serve`, which runs on the accepted socket in its own thread.
    static Outcome exchange(const std::string &password, const Bytes &ca_cert,
                            const std::function<int(int fd, std::string *identity)> &serve) {
        Outcome o;
        Listener l;
        int server_tid = 0;
        std::thread server([&] {
            server_tid = my_tid();
            int fd = accept(l.fd, nullptr, nullptr);
            o.server_rc = serve(fd, &o.server_identity);
            close(fd);
        });
        int fd = l.connect_client();
        ZQ_PHP_CTX *ctx = QRT_PHP_CreateCTX();
        ZQ_PHP_DATA id = view(kServerId), pw = view(password), ca = view(ca_cert), out{};
        o.client_rc = QRT_PHP_Connect(ctx, &out, fd, &id, &pw, &ca);
        o.strong = bytes_of(out);
        QRT_PHP_DATA_Reset(&out);
        QRT_PHP_DestroyCTX(ctx);
        close(fd);
        server.join();
        std::vector<std::string> all = ostrel::test::trace_records();
        o.client_trace = records_of(all, my_tid());
        o.server_trace = records_of(all, server_tid);
        return o;
    }

    // The library's own server.
    static int accept_server(int fd, std::string *identity) {
        ZQ_PHP_CTX *ctx = QRT_PHP_CreateCTX();
        ZQ_PHP_DATA id{};
        int rc = QRT_PHP_Accept(ctx, &id, fd, lookup);
        identity->assign(id.data, id.data + id.len);
        QRT_PHP_DATA_Reset(&id);
        QRT_PHP_DestroyCTX(ctx);
        return rc;
    }

    // A hand-made server that follows the protocol up to the strong value, then sends what
    // `strong_record` makes of the weak value (raw record bytes), and reports the first byte
    // the client sends afterwards (-1 when it only closes).
    static std::function<int(int, std::string *)> scripted(std::function<Bytes(const Bytes &weak)> strong_record,
                                                           int *after) {
        return [strong_record, after](int fd, std::string *) {
            ZQ_PHP_CTX ctx{fd};
            ZQ_PHP_RECORD rec{};
            if (QRT_PHP_PHPRecord_Read(&ctx, &rec)) return -2;
            QRT_PHP_PHPRecord_Reset(&rec);
            Bytes cert_body = {QRT_PHP_CERT_PHP};
            Bytes cert = php_cert(kServerId, *server_, *ca_);
            cert_body.insert(cert_body.end(), cert.begin(), cert.end());
            ZQ_PHP_DATA cb = view(cert_body);
            if (QRT_PHP_PHPRecord_Write(&ctx, QRT_PHP_RECORD_CERTIFICATE, &cb)) return -3;
            if (QRT_PHP_PHPRecord_Read(&ctx, &rec)) return -4;
            ZQ_PHP_DATA w{};
            if (QRT_PHP_WeakMessage_Decode(&w, &rec.body)) return -5;
            QRT_PHP_PHPRecord_Reset(&rec);
            Bytes raw = strong_record(bytes_of(w));
            QRT_PHP_DATA_Reset(&w);
            if (write(fd, raw.data(), raw.size()) != static_cast<ssize_t>(raw.size())) return -6;
            if (raw.size() < 5) shutdown(fd, SHUT_WR);  // a record cut short
            unsigned char b = 0;
            ssize_t n = read(fd, &b, 1);
            *after = n == 1 ? b : -1;
            return 0;
        };
    }

    static ostrel::test::TempDir *dir_;
    static RsaKey *server_, *ca_, *other_ca_;
    static Bytes *ca_cert_, *other_ca_cert_;
};

ostrel::test::TempDir *PhpLoopback::dir_ = nullptr;
RsaKey *PhpLoopback::server_ = nullptr;
RsaKey *PhpLoopback::ca_ = nullptr;
RsaKey *PhpLoopback::other_ca_ = nullptr;
Bytes *PhpLoopback::ca_cert_ = nullptr;
Bytes *PhpLoopback::other_ca_cert_ = nullptr;

Bytes record(int type, unsigned char major, unsigned char minor, const Bytes &body) {
    Bytes r(5 + body.size());
    r[0] = static_cast<unsigned char>(type);
    r[1] = major;
    r[2] = minor;
    r[3] = static_cast<unsigned char>(body.size() >> 8);
    r[4] = static_cast<unsigned char>(body.size());
    std::copy(body.begin(), body.end(), r.begin() + 5);
    return r;
}

}  // namespace

TEST_F(PhpLoopback, SamePasswordGivesTheSameStrongPasswordOnEveryRun) {
    Bytes want = reference_strong(*server_, "hunter2");
    // a value below the 2048-bit modulus in its minimal big-endian form (shorter when its top
    // octets are zero, which happens for one key in 256)
    ASSERT_TRUE(!want.empty() && want.size() <= 256u && (want.size() == 1 || want[0] != 0));
    for (int run = 0; run < 3; ++run) {
        Outcome o = exchange("hunter2", *ca_cert_, accept_server);
        ASSERT_EQ(o.client_rc, 0) << (o.client_trace.empty() ? "" : o.client_trace.back());
        ASSERT_EQ(o.server_rc, 0);
        EXPECT_EQ(o.server_identity, kServerId);
        EXPECT_EQ(o.strong, want);
        EXPECT_TRUE(o.client_trace.empty());
    }
    Outcome other = exchange("hunter3", *ca_cert_, accept_server);
    ASSERT_EQ(other.client_rc, 0);
    EXPECT_NE(other.strong, want);
}

TEST_F(PhpLoopback, CertificateOfAnotherCaOrIdentityIsRefusedWithBadCertificate) {
    // The client trusts another CA.
    Outcome o = exchange("pw", *other_ca_cert_, accept_server);
    EXPECT_EQ(o.client_rc, QRT_PHP_INVALID_PHPCERT);
    EXPECT_EQ(o.server_rc, QRT_PHP_ALERT_BAD_CERTIFICATE_RECEIVED);
    EXPECT_TRUE(has_record(o.client_trace, "QRT_PHP_Connect", 40031));
    EXPECT_TRUE(has_record(o.server_trace, "QRT_PHP_Accept", 40064));

    // The server presents a certificate for a different identity.
    {
        std::lock_guard<std::mutex> lock(g_server_mutex);
        g_server.cert = php_cert("someone.else", *server_, *ca_);
    }
    o = exchange("pw", *ca_cert_, accept_server);
    EXPECT_EQ(o.client_rc, QRT_PHP_INVALID_PHPCERT);
    EXPECT_EQ(o.server_rc, QRT_PHP_ALERT_BAD_CERTIFICATE_RECEIVED);
    EXPECT_TRUE(o.strong.empty());

    // An X.509 server certificate is not taken.
    {
        std::lock_guard<std::mutex> lock(g_server_mutex);
        g_server.kind = QRT_PHP_CERT_X509;
        g_server.cert = *ca_cert_;
    }
    o = exchange("pw", *ca_cert_, accept_server);
    EXPECT_EQ(o.client_rc, QRT_PHP_UNKNOWN_CERT);
    EXPECT_EQ(o.server_rc, QRT_PHP_ALERT_ILLEGAL_PARAMETER_RECEIVED);
}

TEST_F(PhpLoopback, RefusedIdentityShowsOnBothSides) {
    for (auto [code, alert_code] : {std::pair{QRT_PHP_UNKNOWN_USERID, QRT_PHP_ALERT_UNKNOWN_USERID_RECEIVED},
                                    std::pair{QRT_PHP_BLOCKED_USERID, QRT_PHP_ALERT_BLOCKED_USERID_RECEIVED}}) {
        {
            std::lock_guard<std::mutex> lock(g_server_mutex);
            g_server.refuse = code;
        }
        Outcome o = exchange("pw", *ca_cert_, accept_server);
        EXPECT_EQ(o.server_rc, code);
        EXPECT_EQ(o.client_rc, alert_code);
        EXPECT_EQ(g_server.seen, kServerId);
        EXPECT_TRUE(has_record(o.server_trace, "QRT_PHP_Accept", code));
        EXPECT_TRUE(has_record(o.client_trace, "QRT_PHP_Connect", alert_code));
        ASSERT_FALSE(o.client_trace.empty());
        EXPECT_EQ(trace_field(o.client_trace.back(), 4), QRT_PHP_GetErrorReason(alert_code, 1));
    }
    // A callback that finds the identity but has no certificate for it.
    {
        std::lock_guard<std::mutex> lock(g_server_mutex);
        g_server.refuse = 0;
        g_server.cert.clear();
    }
    Outcome o = exchange("pw", *ca_cert_, accept_server);
    EXPECT_EQ(o.server_rc, QRT_PHP_NO_CERTIFICATE);
    EXPECT_EQ(o.client_rc, QRT_PHP_ALERT_NO_CERTIFICATE_RECEIVED);
}

TEST_F(PhpLoopback, WrongStrongValueIsRefusedWithoutAlert) {
    int after = 0;
    // The server answers with the weak value raised by the CA's key instead of its own.
    auto wrong = [](const Bytes &w) {
        ZQ_PHP_DATA wd = view(w), priv = view(ca_->priv), s{};
        Bytes body;
        if (QRT_PHP_ComputeStrongValue(&s, &wd, &priv) == 0) {
            ZQ_PHP_DATA b{};
            QRT_PHP_StrongMessage_Encode(&b, &s);
            body = bytes_of(b);
            QRT_PHP_DATA_Reset(&b);
        } else {
            body = {0, 1, 7};
        }
        QRT_PHP_DATA_Reset(&s);
        return record(QRT_PHP_RECORD_STRONG, 1, 0, body);
    };
    Outcome o = exchange("pw", *ca_cert_, scripted(wrong, &after));
    EXPECT_EQ(o.server_rc, 0);
    EXPECT_EQ(o.client_rc, QRT_PHP_INVALID_STRONG);
    EXPECT_EQ(after, -1);  // the client closed without an alert
    EXPECT_TRUE(o.strong.empty());
}

TEST_F(PhpLoopback, BrokenRecordsFromTheServer) {
    struct Case {
        const char *what;
        std::function<Bytes(const Bytes &)> make;
        int client_rc;
        int alert;  // what the client sends back, -1 for nothing
    } cases[] = {
        {"peer closes mid-record",
         [](const Bytes &) {
             return Bytes{4, 1, 0};
         },
         QRT_PHP_SOCKET_CLOSED, -1},
        {"bad version",
         [](const Bytes &) {
             return record(4, 2, 5, {0, 1, 1});
         },
         QRT_PHP_UNKNOWN_VERSION, 11},
        {"body shorter than its length",
         [](const Bytes &) {
             return record(4, 1, 0, {0x01, 0x00, 1, 2, 3});
         },
         QRT_PHP_BAD_MESSAGE, 11},
        {"unexpected record type",
         [](const Bytes &) {
             return record(3, 1, 0, {0, 1, 1});
         },
         QRT_PHP_UNKNOWN_MESSAGE, 11},
        {"alert of an unknown value", [](const Bytes &) { return record(5, 1, 0, {77}); }, QRT_PHP_BAD_MESSAGE, 11},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        int after = 0;
        Outcome o = exchange("pw", *ca_cert_, scripted(c.make, &after));
        EXPECT_EQ(o.server_rc, 0);
        EXPECT_EQ(o.client_rc, c.client_rc);
        if (c.alert < 0) {
            EXPECT_EQ(after, -1);
        } else {
            EXPECT_EQ(after, QRT_PHP_RECORD_ALERT);  // the alert record's first byte
        }
        EXPECT_TRUE(has_record(o.client_trace, "QRT_PHP_Connect", c.client_rc));
    }
}

TEST_F(PhpLoopback, ClientWithAnUnreadableCaCertificate) {
    Bytes junk = {0x30, 0x03, 0x01, 0x01};
    Outcome o = exchange("pw", junk, accept_server);
    EXPECT_EQ(o.client_rc, QRT_PHP_ASN_FAILED);
    EXPECT_EQ(o.server_rc, QRT_PHP_UNKNOWN_MESSAGE);  // the server got an alert, not a request
}
