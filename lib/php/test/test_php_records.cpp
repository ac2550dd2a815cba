// Records, messages, alerts and exact-length socket transfers over socketpairs.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "ostrel/test_support.hpp"
#include "suite_php.h"

using ostrel::test::to_hex;
using ostrel::test::trace_field;
using ostrel::test::trace_records;

namespace {

using Bytes = std::vector<unsigned char>;

struct Pair {
    int a = -1, b = -1;
    ZQ_PHP_CTX ca{}, cb{};
    Pair() {
        int fds[2];
        if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) == 0) {
            a = fds[0];
            b = fds[1];
        }
        ca.sock = a;
        cb.sock = b;
    }
    ~Pair() {
        if (a >= 0) close(a);
        if (b >= 0) close(b);
    }
    void send_raw(const Bytes &bytes) const { ASSERT_EQ(write(a, bytes.data(), bytes.size()), (ssize_t)bytes.size()); }
    void close_a() {
        close(a);
        a = -1;
    }
};

ZQ_PHP_DATA view(const Bytes &b) {
    return ZQ_PHP_DATA{static_cast<unsigned>(b.size()), const_cast<unsigned char *>(b.data())};
}
ZQ_PHP_DATA view(const std::string &s) {
    return ZQ_PHP_DATA{static_cast<unsigned>(s.size()),
                       reinterpret_cast<unsigned char *>(const_cast<char *>(s.data()))};
}
Bytes bytes_of(const ZQ_PHP_DATA &d) { return d.len ? Bytes(d.data, d.data + d.len) : Bytes{}; }

class PhpRecords : public ::testing::Test {
  protected:
    void SetUp() override {
        QRT_Trace_Initialize();
        QRT_Trace_ClearError();
    }
};

}  // namespace

TEST_F(PhpRecords, RecordWireFormatBothWays) {
    Pair p;
    Bytes body = {0x00, 0x03, 'a', 'b', 'c'};
    ZQ_PHP_DATA b = view(body);
    ASSERT_EQ(QRT_PHP_PHPRecord_Write(&p.ca, QRT_PHP_RECORD_REQUEST, &b), 0);
    unsigned char wire[10];
    ASSERT_EQ(read(p.b, wire, sizeof wire), 10);
    EXPECT_EQ(to_hex(wire, 10),
              "0101000005"
              "0003616263");

    // An empty body is a bare header, and reads back as an empty body.
    ASSERT_EQ(QRT_PHP_PHPRecord_Write(&p.ca, QRT_PHP_RECORD_ALERT, nullptr), 0);
    ZQ_PHP_RECORD rec{};
    ASSERT_EQ(QRT_PHP_PHPRecord_Read(&p.cb, &rec), 0);
    EXPECT_EQ(rec.type, QRT_PHP_RECORD_ALERT);
    EXPECT_EQ(rec.body.len, 0u);
    EXPECT_EQ(rec.body.data, nullptr);

    // The largest body travels whole even when the socket takes it in pieces.
    Bytes big(QRT_PHP_RECORD_MAX_BODY, 0x5a);
    ZQ_PHP_DATA bb = view(big);
    std::thread writer([&] { EXPECT_EQ(QRT_PHP_PHPRecord_Write(&p.ca, QRT_PHP_RECORD_WEAK, &bb), 0); });
    ASSERT_EQ(QRT_PHP_PHPRecord_Read(&p.cb, &rec), 0);
    writer.join();
    EXPECT_EQ(rec.type, QRT_PHP_RECORD_WEAK);
    EXPECT_EQ(rec.major, 1);
    EXPECT_EQ(rec.minor, 0);
    EXPECT_EQ(bytes_of(rec.body), big);
    QRT_PHP_PHPRecord_Reset(&rec);

    Bytes too_big(QRT_PHP_RECORD_MAX_BODY + 1);
    ZQ_PHP_DATA tb = view(too_big);
    EXPECT_EQ(QRT_PHP_PHPRecord_Write(&p.ca, QRT_PHP_RECORD_WEAK, &tb), QRT_PHP_INVALID_INPUT);
}

TEST_F(PhpRecords, VersionIsRefusedOnlyWhenBothNumbersAreWrong) {
    struct Case {
        unsigned char major, minor;
        int rc;
    } cases[] = {{1, 0, 0}, {1, 7, 0}, {3, 0, 0}, {2, 5, QRT_PHP_UNKNOWN_VERSION}, {0, 1, QRT_PHP_UNKNOWN_VERSION}};
    for (const Case &c : cases) {
        Pair p;
        p.send_raw({2, c.major, c.minor, 0, 1, 0x42});
        ZQ_PHP_RECORD rec{};
        EXPECT_EQ(QRT_PHP_PHPRecord_Read(&p.cb, &rec), c.rc) << int(c.major) << "." << int(c.minor);
        if (c.rc == 0) {
            EXPECT_EQ(bytes_of(rec.body), Bytes{0x42});
        }
        QRT_PHP_PHPRecord_Reset(&rec);
    }
    auto records = trace_records();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(trace_field(records.back(), 2), "QRT_PHP_PHPRecord_Read");
    EXPECT_EQ(trace_field(records.back(), 4), "unknown version");
}

TEST_F(PhpRecords, PeerClosingMidRecordOrFailingSocket) {
    {
        Pair p;  // header promises 4 bytes, 2 come
        p.send_raw({3, 1, 0, 0, 4, 0xaa, 0xbb});
        p.close_a();
        ZQ_PHP_RECORD rec{};
        EXPECT_EQ(QRT_PHP_PHPRecord_Read(&p.cb, &rec), QRT_PHP_SOCKET_CLOSED);
        EXPECT_EQ(rec.body.data, nullptr);
        auto records = trace_records();
        ASSERT_EQ(records.size(), 2u);
        EXPECT_EQ(trace_field(records[0], 2), "QRT_PHP_ReadSocket");
        EXPECT_EQ(trace_field(records[1], 2), "QRT_PHP_PHPRecord_Read");
        EXPECT_EQ(trace_field(records[1], 3), "40012");
    }
    {
        Pair p;  // closed inside the header
        p.send_raw({3, 1});
        p.close_a();
        ZQ_PHP_RECORD rec{};
        EXPECT_EQ(QRT_PHP_PHPRecord_Read(&p.cb, &rec), QRT_PHP_SOCKET_CLOSED);
        QRT_Trace_ClearError();
    }
    {
        Pair p;  // a receive time-out reads as "wait"
        timeval tv{0, 50000};
        setsockopt(p.b, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        unsigned char buf[4];
        EXPECT_EQ(QRT_PHP_ReadSocket(&p.cb, buf, 4), QRT_PHP_SOCKET_READ_WAIT);
        auto records = trace_records();
        ASSERT_EQ(records.size(), 2u);
        EXPECT_EQ(trace_field(records[0], 2), "recv");
    }
    {
        Pair p;  // writing to a gone peer fails cleanly (no SIGPIPE)
        p.close_a();
        unsigned char buf[4] = {1, 2, 3, 4};
        EXPECT_EQ(QRT_PHP_WriteSocket(&p.cb, buf, 4), QRT_PHP_SOCKET_WRITE_FAILED);
        ZQ_PHP_CTX bad{-1};
        EXPECT_EQ(QRT_PHP_ReadSocket(&bad, buf, 4), QRT_PHP_SOCKET_READ_FAILED);
        EXPECT_EQ(QRT_PHP_ReadSocket(&bad, buf, 0), 0);
    }
    QRT_Trace_ClearError();
}

TEST_F(PhpRecords, MessagesRoundTripAndShortBodiesAreRefused) {
    std::string id = "server.example";
    ZQ_PHP_DATA in = view(id), body{}, out{};
    ASSERT_EQ(QRT_PHP_ReqMessage_Encode(&body, &in), 0);
    EXPECT_EQ(to_hex(body.data, 2), "000e");
    ASSERT_EQ(QRT_PHP_ReqMessage_Decode(&out, &body), 0);
    EXPECT_EQ(std::string(out.data, out.data + out.len), id);
    QRT_PHP_DATA_Reset(&out);
    body.len -= 1;  // one byte short of its length prefix
    EXPECT_EQ(QRT_PHP_ReqMessage_Decode(&out, &body), QRT_PHP_BAD_MESSAGE);
    body.len += 1;
    QRT_PHP_DATA_Reset(&body);

    Bytes value = {0x01, 0x02, 0x03};
    ZQ_PHP_DATA v = view(value);
    using Enc = int (*)(ZQ_PHP_DATA *, const ZQ_PHP_DATA *);
    using Dec = int (*)(ZQ_PHP_DATA *, const ZQ_PHP_DATA *);
    for (auto [enc, dec] : {std::pair<Enc, Dec>{QRT_PHP_WeakMessage_Encode, QRT_PHP_WeakMessage_Decode},
                            std::pair<Enc, Dec>{QRT_PHP_StrongMessage_Encode, QRT_PHP_StrongMessage_Decode}}) {
        ASSERT_EQ(enc(&body, &v), 0);
        EXPECT_EQ(bytes_of(body), (Bytes{0, 3, 1, 2, 3}));
        ASSERT_EQ(dec(&out, &body), 0);
        EXPECT_EQ(bytes_of(out), value);
        QRT_PHP_DATA_Reset(&out);
        for (Bytes bad : {Bytes{}, Bytes{0}, Bytes{0, 4, 1, 2, 3}, Bytes{0xff, 0xff}}) {
            ZQ_PHP_DATA b = view(bad);
            EXPECT_EQ(dec(&out, &b), QRT_PHP_BAD_MESSAGE);
            EXPECT_EQ(out.data, nullptr);
        }
        QRT_PHP_DATA_Reset(&body);
    }

    int kind = 0;
    ASSERT_EQ(QRT_PHP_CertMessage_Encode(&body, QRT_PHP_CERT_PHP, &v), 0);
    EXPECT_EQ(bytes_of(body), (Bytes{2, 1, 2, 3}));
    ASSERT_EQ(QRT_PHP_CertMessage_Decode(&kind, &out, &body), 0);
    EXPECT_EQ(kind, QRT_PHP_CERT_PHP);
    EXPECT_EQ(bytes_of(out), value);
    QRT_PHP_DATA_Reset(&out);
    QRT_PHP_DATA_Reset(&body);
    EXPECT_EQ(QRT_PHP_CertMessage_Encode(&body, 3, &v), QRT_PHP_UNKNOWN_CERT);
    for (auto [bad, rc] : {std::pair<Bytes, int>{Bytes{}, QRT_PHP_BAD_MESSAGE},
                           {Bytes{0, 1}, QRT_PHP_UNKNOWN_CERT},
                           {Bytes{3, 1}, QRT_PHP_UNKNOWN_CERT}}) {
        ZQ_PHP_DATA b = view(bad);
        EXPECT_EQ(QRT_PHP_CertMessage_Decode(&kind, &out, &b), rc);
    }

    int alert = -1;
    ASSERT_EQ(QRT_PHP_AlertMessage_Encode(&body, QRT_PHP_ALERT_BAD_CERTIFICATE), 0);
    ASSERT_EQ(QRT_PHP_AlertMessage_Decode(&alert, &body), 0);
    EXPECT_EQ(alert, 31);
    QRT_PHP_DATA_Reset(&body);
    ZQ_PHP_DATA empty{0, nullptr};
    EXPECT_EQ(QRT_PHP_AlertMessage_Decode(&alert, &empty), QRT_PHP_BAD_MESSAGE);
    EXPECT_EQ(QRT_PHP_ReqMessage_Decode(nullptr, &empty), QRT_PHP_INVALID_INPUT);
    QRT_Trace_ClearError();
}

TEST_F(PhpRecords, AlertTablesAndWriteAlert) {
    struct {
        int code, alert;
    } to_alert[] = {{40001, 40}, {40003, 40}, {40050, 40}, {40054, 40}, {40020, 11}, {40021, 11}, {40022, 11},
                    {40025, 11}, {40023, 12}, {40024, 13}, {40026, 31}, {40031, 31}, {40035, 30}, {40010, 0},
                    {40012, 0},  {40030, 0},  {40060, 0},  {40065, 0},  {0, 0},      {-1, 0},     {6012, 0}};
    for (auto c : to_alert) EXPECT_EQ(QRT_PHP_ReasonToAlert(c.code), c.alert) << c.code;
    struct {
        int alert, code;
    } to_reason[] = {{10, 40060}, {11, 40061}, {12, 40062}, {13, 40066}, {30, 40063},
                     {31, 40064}, {40, 40065}, {0, 40025},  {99, 40025}};
    for (auto c : to_reason) EXPECT_EQ(QRT_PHP_AlertToReason(c.alert), c.code) << c.alert;

    Pair p;
    ASSERT_EQ(QRT_PHP_WriteAlert(&p.ca, QRT_PHP_ALERT_UNKNOWN_USERID), 0);
    unsigned char wire[6];
    ASSERT_EQ(read(p.b, wire, sizeof wire), 6);
    EXPECT_EQ(to_hex(wire, 6), "05010000010c");
}

TEST_F(PhpRecords, PhpCertificateLayout) {
    std::string id = "srv";
    Bytes key = {0x30, 0x03, 0x02, 0x01, 0x05}, sig = {0xee, 0xff};
    ZQ_PHP_DATA i = view(id), k = view(key), s = view(sig), tbs{}, cert{};
    ASSERT_EQ(QRT_PHP_EncodePHPCert_Init(&tbs, &i, &k), 0);
    EXPECT_EQ(to_hex(tbs.data, tbs.len),
              "010003737276"
              "00053003020105");
    ASSERT_EQ(QRT_PHP_EncodePHPCert_Final(&cert, &tbs, &s), 0);
    EXPECT_EQ(to_hex(cert.data, cert.len),
              "01000373727600053003020105"
              "0002eeff");

    ZQ_PHP_CERT dec{};
    ASSERT_EQ(QRT_PHP_DecodePHPCert(&dec, &cert), 0);
    EXPECT_EQ(std::string(dec.identity.data, dec.identity.data + dec.identity.len), id);
    EXPECT_EQ(bytes_of(dec.publicKey), key);
    EXPECT_EQ(bytes_of(dec.signature), sig);
    EXPECT_EQ(bytes_of(dec.tbs), bytes_of(tbs));
    QRT_PHP_PHPCert_Reset(&dec);

    Bytes good = bytes_of(cert);
    std::vector<Bytes> bad = {
        Bytes(good.begin(), good.begin() + 9),  // fewer than 10 bytes
        Bytes(good.begin(), good.end() - 1),    // signature overruns
    };
    Bytes v2 = good;
    v2[0] = 0x02;
    bad.push_back(v2);
    Bytes long_id = good;
    long_id[2] = 0x40;  // identity length past the end
    bad.push_back(long_id);
    for (const Bytes &b : bad) {
        ZQ_PHP_DATA d = view(b);
        EXPECT_EQ(QRT_PHP_DecodePHPCert(&dec, &d), QRT_PHP_BAD_CERTIFICATE) << to_hex(b.data(), b.size());
        EXPECT_EQ(dec.identity.data, nullptr);
    }
    QRT_PHP_DATA_Reset(&tbs);
    QRT_PHP_DATA_Reset(&cert);
    QRT_Trace_ClearError();
}

TEST_F(PhpRecords, X509PublicKeyAndUnsupportedX509Verification) {
    if (!ostrel::test::have_command("openssl")) GTEST_SKIP() << "openssl CLI not available";
    ostrel::test::TempDir dir;
    std::string key = dir / "ca.key", crt = dir / "ca.der", pub = dir / "ca.pub";
    ASSERT_EQ(ostrel::test::run("openssl req -x509 -newkey rsa:1024 -nodes -keyout " + key +
                                " -subj /CN=PHP-CA -days 2 "
                                "-outform DER -out " +
                                crt + " 2>/dev/null"),
              0);
    ASSERT_EQ(
        ostrel::test::run("openssl rsa -in " + key + " -RSAPublicKey_out -outform DER -out " + pub + " 2>/dev/null"),
        0);
    std::string der = ostrel::test::read_file(crt), expect = ostrel::test::read_file(pub);
    ZQ_PHP_DATA c = view(der), out{};
    ASSERT_EQ(QRT_PHP_DecodeX509Cert(&out, &c), 0);
    EXPECT_EQ(std::string(out.data, out.data + out.len), expect);
    QRT_PHP_DATA_Reset(&out);

    std::string broken = der.substr(0, der.size() / 2);
    ZQ_PHP_DATA b = view(broken);
    EXPECT_EQ(QRT_PHP_DecodeX509Cert(&out, &b), QRT_PHP_ASN_FAILED);
    EXPECT_EQ(QRT_PHP_VerifyX509Cert(&c, &c, &c), -1);
    QRT_Trace_ClearError();
}

TEST(PhpFrame, VersionAndTexts) {
    EXPECT_STREQ(QRT_PHP_GetVersion(), "1.5.0.3");
    EXPECT_STREQ(QRT_GetVersionPHP(), "1.5.0.3");
    EXPECT_EQ(QRT_PHP_CheckVersion("1.5.0.3"), 0);
    EXPECT_EQ(QRT_PHP_CheckVersion("1.5.1.0"), -1);
    EXPECT_STREQ(QRT_PHP_GetErrorReason(40066, 1), "blocked_userid alert received");
    EXPECT_STREQ(QRT_PHP_GetErrorReason(40031, 1), "invalid phpcert");
    EXPECT_STREQ(QRT_GetErrReasonPHP(40013, 1), "socket read wait");
    EXPECT_STREQ(QRT_PHP_GetErrorReason(40004, 1), "UnDefined Error Reason");
    EXPECT_STREQ(QRT_PHP_GetErrorReason(40001, 5), "UnDefined Error Reason");
    std::string ko = QRT_PHP_GetErrorReason(40030, 0);
    EXPECT_NE(ko, "UnDefined Error Reason");
    for (unsigned char ch : ko) EXPECT_TRUE(ch < 0x80 || (ch >= 0xa1 && ch <= 0xfe)) << int(ch);
}
