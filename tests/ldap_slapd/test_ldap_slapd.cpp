// The directory library against a real slapd started by the test (certificates, CRLs and trust
// lists fetched by URL and by host and DN, binds, size limits, CRL checks, lists of 1000
// entries, many threads at once) and against a fake directory on loopback for what slapd will
// not do (stall, close mid-answer, claim a 2 GiB message). Every row checks the result code,
// the bytes and the trace records the call leaves.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <thread>

#include "directory.hpp"
#include "ostrel/loopback_server.hpp"
#include "suite_ldap.h"

namespace {

using ostrel::test::Directory;
using ostrel::test::LoopbackServer;
using ostrel::test::OutBin;
using ostrel::test::trace_field;
using ostrel::test::trace_records;
using Bytes = std::vector<unsigned char>;

// libldap reads no ldap.conf or ldaprc: an empty host in a URL means localhost here.
struct Environment : ::testing::Environment {
    void SetUp() override {
        setenv("LDAPNOINIT", "1", 1);
        QRT_Trace_Initialize();
    }
};
const auto *const kEnvironment = ::testing::AddGlobalTestEnvironment(new Environment);

// The slapd of the test program, made on first use and stopped at exit.
Directory *directory(bool with_users) {
    static std::unique_ptr<Directory> dir;
    static bool users = false;
    if (dir && (users || !with_users)) return dir.get();
    dir = std::make_unique<Directory>();
    users = with_users;
    if (!dir->start(with_users)) {
        ADD_FAILURE() << "directory fixture: " << dir->why();
        dir.reset();
    }
    return dir.get();
}

// The calling thread's trace records as "function:code".
std::vector<std::string> trace() {
    std::vector<std::string> out;
    for (const std::string &r : trace_records()) out.push_back(trace_field(r, 2) + ":" + trace_field(r, 3));
    return out;
}

std::string joined(const std::vector<std::string> &v) {
    std::string s;
    for (const auto &x : v) s += "  " + x + "\n";
    return s;
}

// `want` appears in `got` in order, and the last records agree (lower libraries may add records
// of their own in between).
void expect_trace(const std::vector<std::string> &got, const std::vector<std::string> &want, const std::string &row) {
    size_t i = 0;
    for (const std::string &r : got)
        if (i < want.size() && r == want[i]) ++i;
    EXPECT_EQ(i, want.size()) << row << ": want\n" << joined(want) << "got\n" << joined(got);
    if (want.empty()) {
        EXPECT_TRUE(got.empty()) << row << ": unexpected records\n" << joined(got);
    } else if (!got.empty()) {
        EXPECT_EQ(got.back(), want.back()) << row;
    }
}

Bytes bytes_of(const BIN &b) { return b.value ? Bytes(b.value, b.value + b.length) : Bytes(); }

std::string dead_host() { return "127.0.0.1:" + std::to_string(ostrel::test::free_loopback_port()); }

// One row: a call that fills out, the code, the bytes (empty: out must stay empty) and the
// records ("function:code") the trace must hold.
struct Row {
    std::string name;
    std::function<int(BIN *)> call;
    int code;
    Bytes want;
    std::vector<std::string> records;
};

void run_rows(const std::vector<Row> &rows) {
    for (const Row &row : rows) {
        trace_records();
        OutBin out;
        int rc = row.call(out.get());
        std::vector<std::string> got = trace();
        EXPECT_EQ(rc, row.code) << row.name << "\n" << joined(got);
        EXPECT_EQ(out.bytes(), row.want) << row.name;
        expect_trace(got, row.records, row.name);
    }
}

const timeval kSecond{1, 0};

TEST(LdapSlapd, FetchesByUrlAndHostWithTheirCodesAndRecords) {
    Directory *d = directory(false);
    ASSERT_TRUE(d);
    const std::string ca_url = d->url("cn=Test%20CA,o=Test"), user_url = d->url("cn=User,o=Test");
    const std::string korean_dn = "cn=\xC8\xAB\xB1\xE6\xB5\xBF,o=Test";  // 홍길동 in EUC-KR
    Bytes ca_der = d->ca;
    BIN issuer{static_cast<unsigned>(ca_der.size()), ca_der.data()};
    BIN other{static_cast<unsigned>(d->other_ca.size()), d->other_ca.data()};
    unsigned char junk_bytes[] = {0x30, 0x03, 0x02, 0x01, 0x05};
    BIN junk{sizeof junk_bytes, junk_bytes};
    ZQ_LDAP_GET_PARAM root{nullptr, const_cast<char *>(Directory::kRootDN), const_cast<char *>(Directory::kRootPW)};
    ZQ_LDAP_GET_PARAM wrong{nullptr, const_cast<char *>(Directory::kRootDN), const_cast<char *>("wrong")};
    timeval tv = kSecond;
    ZQ_LDAP_GET_PARAM timed{&tv, nullptr, nullptr};
    const std::string long_dn = "cn=" + std::string(64 * 1024, 'a') + ",o=Test";

    auto cert = [](std::string loc, const char *dn, int kind) {
        return [=](BIN *out) { return QRT_LDAP_GetCert(out, loc.c_str(), dn, kind, nullptr); };
    };
    auto cert_dn = [](std::string loc, std::string dn, int kind) {
        return [=](BIN *out) { return QRT_LDAP_GetCert(out, loc.c_str(), dn.c_str(), kind, nullptr); };
    };
    const std::string G = "QRT_LDAP_GetCert:";
    const char *CA = ca_url.c_str(), *USER = user_url.c_str();
    run_rows({
        {"kind 1 by URL", cert(ca_url, nullptr, 1), 0, d->ca, {}},
        {"kind 65", [&](BIN *o) { return QRT_LDAP_GetCore(o, CA, nullptr, 65, &tv); }, 0, d->arl, {}},
        {"kind 66", [&](BIN *o) { return QRT_LDAP_GetObject(o, CA, nullptr, 66, &timed); }, 0, d->crl, {}},
        {"kind 67", cert(ca_url, nullptr, 67), 0, d->dcrl, {}},
        {"kind 2 under ;binary", cert(user_url, nullptr, 2), 0, d->user, {}},
        {"kind 145 under the plain name", cert(ca_url, nullptr, 145), 0, d->sign, {}},
        {"kind 81 whose only value is NULL",
         cert(d->url("cn=NullList,o=Test"), nullptr, 81),
         QRT_LDAP_NO_RESULTS,
         {},
         {G + "34014"}},
        {"kind 1 on a user", cert(user_url, nullptr, 1), QRT_LDAP_NO_RESULTS, {}, {G + "34014"}},
        {"URL attribute overrides the kind", cert(ca_url + "?cACertificate;binary", nullptr, 2), 0, d->ca, {}},
        {"URL attribute overrides kind 3", cert(ca_url + "?cACertificate;binary", nullptr, 3), 0, d->ca, {}},
        {"host:port with an EUC-KR DN", cert_dn(d->host(), korean_dn, 2), 0, d->korean, {}},
        {"host without a DN", cert(d->host(), nullptr, 2), QRT_LDAP_INVALID_INPUT, {}, {G + "34013"}},
        {"kind 3 before connecting", cert_dn(dead_host(), "cn=x", 3), QRT_LDAP_INVALID_KIND, {}, {G + "34011"}},
        {"absent base DN",
         cert(d->url("cn=Nobody,o=Test"), nullptr, 1),
         QRT_LDAP_SEARCH_FAILED,
         {},
         {"ldap_search_ext_s:32", G + "34004"}},
        {"filter matching nothing",
         cert(d->url("o=Test??sub?(cn=Nobody)"), nullptr, 1),
         QRT_LDAP_NO_ENTRY,
         {},
         {G + "34006"}},
        {"refused port",
         cert_dn(dead_host(), "cn=x", 1),
         QRT_LDAP_BIND_FAILED,
         {},
         {"ldap_simple_bind_s:-1", G + "34002"}},
        // Revocation lists checked under their issuer.
        {"GetCRL under the CA",
         [&](BIN *o) { return QRT_LDAP_GetCRL(o, CA, nullptr, &issuer, nullptr); },
         0,
         d->crl,
         {}},
        {"GetARL under the CA", [&](BIN *o) { return QRT_LDAP_GetARL(o, CA, nullptr, &issuer, &tv); }, 0, d->arl, {}},
        {"GetDCRL_Ex under the CA",
         [&](BIN *o) { return QRT_LDAP_GetDCRL_Ex(o, CA, nullptr, &issuer, &root); },
         0,
         d->dcrl,
         {}},
        {"GetCRL under another key",
         [&](BIN *o) { return QRT_LDAP_GetCRL(o, CA, nullptr, &other, nullptr); },
         33050,
         {},
         {"QRT_LDAP_GetCRL:33050"}},
        {"GetCRL_Ex under no certificate",
         [&](BIN *o) { return QRT_LDAP_GetCRL_Ex(o, CA, nullptr, &junk, nullptr); },
         QRT_LDAP_DECODE_FAILED,
         {},
         {"QRT_LDAP_GetCRL_Ex:34012"}},
        {"GetCRL of a certificate",
         [&](BIN *o) { return QRT_LDAP_GetCRL(o, USER, nullptr, &issuer, nullptr); },
         QRT_LDAP_NO_RESULTS,
         {},
         {"QRT_LDAP_GetCRL:34014"}},
        {"RetrieveERL of the CRL",
         [&](BIN *o) { return QRT_LDAP_RetrieveERL(nullptr, o, 66, CA, nullptr, nullptr); },
         0,
         d->crl,
         {}},
        {"RetrieveERL of the ARL",
         [&](BIN *o) { return QRT_LDAP_RetrieveERL(nullptr, o, 65, CA, nullptr, nullptr); },
         0,
         d->arl,
         {}},
        {"RetrieveERL of kind 67",
         [&](BIN *o) { return QRT_LDAP_RetrieveERL(nullptr, o, 67, CA, nullptr, nullptr); },
         QRT_LDAP_INVALID_KIND,
         {},
         {"QRT_LDAP_RetrieveERL:34011"}},
        {"RetrieveCertBin",
         [&](BIN *o) { return QRT_LDAP_RetrieveCertBin(nullptr, o, USER, nullptr, 2); },
         0,
         d->user,
         {}},
        // Binds.
        {"simple bind as the rootdn",
         [&](BIN *o) { return QRT_LDAP_GetCert_Ex(o, CA, nullptr, 1, &root); },
         0,
         d->ca,
         {}},
        {"wrong password",
         [&](BIN *o) { return QRT_LDAP_GetCore_Ex(o, CA, nullptr, 1, &wrong); },
         QRT_LDAP_BIND_FAILED,
         {},
         {"ldap_simple_bind_s:49", "QRT_LDAP_GetCore_Ex:34002"}},
        {"GetObject_Ex needs its parameters",
         [&](BIN *o) { return QRT_LDAP_GetObject_Ex(o, CA, nullptr, 1, nullptr); },
         QRT_LDAP_INVALID_INPUT,
         {},
         {}},
        // What we parse ourselves: the location and the DN.
        {"a 64 KiB DN",
         cert_dn(d->host(), long_dn, 1),
         QRT_LDAP_SEARCH_FAILED,
         {},
         {"ldap_search_ext_s:34", G + "34004"}},
        {"%-escapes in the URL",
         cert(d->url("cn%3DTest%20CA%2Co%3DTest?cACertificate%3Bbinary"), nullptr, 2),
         0,
         d->ca,
         {}},
        {"an empty host",
         cert("ldap://:" + std::to_string(d->port()) + "/cn=Test%20CA,o=Test", nullptr, 1),
         0,
         d->ca,
         {}},
        {"a host no URL may hold",
         cert("ldap://bad%20host:" + std::to_string(d->port()) + "/o=Test", nullptr, 1),
         QRT_LDAP_INIT_FAILED,
         {},
         {"ldap_init:-9", G + "34001"}},
        {"a bad scope",
         cert(ca_url + "?cACertificate?everywhere", nullptr, 1),
         QRT_LDAP_URL_PARSE_FAILED,
         {},
         {"ldap_url_parse:8", G + "34007"}},
        {"a port out of range",
         cert_dn("127.0.0.1:70000", "cn=x", 1),
         QRT_LDAP_INIT_FAILED,
         {},
         {"ldap_init:-9", G + "34001"}},
        {"a DN that is not EUC-KR", cert_dn(d->host(), "cn=\xA1,o=Test", 1), -1, {}, {"QRT_EncodeUTF8:-1", G + "-1"}},
        {"a URL DN that is not EUC-KR",
         cert(d->url("cn=%C8,o=Test"), nullptr, 1),
         -1,
         {},
         {"QRT_EncodeUTF8:-1", G + "-1"}},
    });
}

TEST(LdapSlapd, DecodedFetchesAndNothingHalfWritten) {
    Directory *d = directory(false);
    ASSERT_TRUE(d);
    const std::string ca_url = d->url("cn=Test%20CA,o=Test");

    Certificate *cert = nullptr;
    ASSERT_EQ(QRT_LDAP_RetrieveCert(nullptr, &cert, ca_url.c_str(), nullptr, 1), 0);
    CertificateList *crl = nullptr;
    EXPECT_EQ(QRT_LDAP_RetrieveCRL(nullptr, &crl, ca_url.c_str(), nullptr, cert), 0);
    EXPECT_TRUE(crl);
    QRT_ASN_FreePDU(crl, CertificateList_PDU);
    crl = nullptr;
    EXPECT_EQ(QRT_LDAP_RetrieveARL(nullptr, &crl, ca_url.c_str(), nullptr, cert), 0);
    QRT_ASN_FreePDU(crl, CertificateList_PDU);
    // The ARL checked under another key fails and leaves nothing behind.
    Certificate *other = nullptr;
    BIN other_der{static_cast<unsigned>(d->other_ca.size()), d->other_ca.data()};
    ASSERT_EQ(QRT_ASN_DecodePDU(reinterpret_cast<void **>(&other), &other_der, Certificate_PDU), 0);
    crl = nullptr;
    EXPECT_EQ(QRT_LDAP_RetrieveARL(nullptr, &crl, ca_url.c_str(), nullptr, other), 33050);
    EXPECT_EQ(crl, nullptr);
    QRT_ASN_FreePDU(other, Certificate_PDU);
    QRT_ASN_FreePDU(cert, Certificate_PDU);
    // A CRL is no certificate.
    cert = nullptr;
    EXPECT_EQ(QRT_LDAP_RetrieveCert(nullptr, &cert, (ca_url + "?certificateRevocationList;binary").c_str(), nullptr, 1),
              QRT_LDAP_DECODE_FAILED);
    EXPECT_EQ(cert, nullptr);

    // A failing list call leaves the list as it was; a working one appends after its last node.
    ZQ_BIN_LIST *list = nullptr;
    unsigned char first[] = "first";
    BIN b{5, first};
    ASSERT_EQ(QRT_BIN_LIST_Add(&list, &b), 0);
    EXPECT_EQ(QRT_LDAP_GetCoreList(&list, d->url("cn=User,o=Test").c_str(), nullptr, 1, nullptr), QRT_LDAP_NO_RESULTS);
    EXPECT_EQ(list->next, nullptr);
    EXPECT_EQ(QRT_LDAP_GetCoreList(&list, ca_url.c_str(), nullptr, 1, nullptr), 0);
    ASSERT_TRUE(list->next);
    EXPECT_EQ(bytes_of(list->value), Bytes(first, first + 5));
    EXPECT_EQ(bytes_of(list->next->value), d->ca);
    EXPECT_EQ(list->next->next, nullptr);
    QRT_BIN_LIST_Free(list);
    trace_records();
}

TEST(LdapSlapd, ListsOfAThousandEntries) {
    Directory *d = directory(true);
    ASSERT_TRUE(d);
    const std::string users = d->url("ou=Users,o=Test??one");
    // The certificates as text keys (GCC 12 at -O3 misjudges a set of byte vectors).
    auto key = [](const Bytes &b) { return std::string(b.begin(), b.end()); };
    std::set<std::string> loaded;
    for (const Bytes &u : d->users) loaded.insert(key(u));
    auto collect = [](ZQ_BIN_LIST *list) {
        std::vector<Bytes> v;
        for (ZQ_BIN_LIST *n = list; n; n = n->next) v.push_back(bytes_of(n->value));
        return v;
    };

    // Anonymous: the directory stops at 500, says so, and the 500 are used.
    trace_records();
    ZQ_BIN_LIST *list = nullptr;
    ASSERT_EQ(QRT_LDAP_GetCertList(&list, users.c_str(), nullptr, 2, nullptr), 0);
    expect_trace(trace(), {"ldap_search_ext_s:4"}, "anonymous list");
    std::vector<Bytes> got = collect(list);
    EXPECT_EQ(got.size(), 500u);
    for (const Bytes &v : got) EXPECT_TRUE(loaded.count(key(v)));
    QRT_BIN_LIST_Free(list);

    // A bind DN without a password binds anonymously.
    ZQ_LDAP_GET_PARAM half{nullptr, const_cast<char *>(Directory::kRootDN), nullptr};
    list = nullptr;
    ASSERT_EQ(QRT_LDAP_GetListCore_Ex(&list, users.c_str(), nullptr, 2, &half), 0);
    EXPECT_EQ(collect(list).size(), 500u);
    QRT_BIN_LIST_Free(list);
    trace_records();

    // The rootdn has no limit: every certificate once.
    timeval tv{10, 0};
    ZQ_LDAP_GET_PARAM root{&tv, const_cast<char *>(Directory::kRootDN), const_cast<char *>(Directory::kRootPW)};
    list = nullptr;
    ASSERT_EQ(QRT_LDAP_GetCertList_Ex(&list, users.c_str(), nullptr, 2, &root), 0);
    expect_trace(trace(), {}, "rootdn list");
    got = collect(list);
    EXPECT_EQ(got.size(), 1000u);
    std::set<std::string> distinct;
    for (const Bytes &v : got) distinct.insert(key(v));
    EXPECT_EQ(distinct, loaded);
    QRT_BIN_LIST_Free(list);

    // The object form takes its time-out from the parameters and binds anonymously.
    list = nullptr;
    EXPECT_EQ(QRT_LDAP_GetObjectList_Ex(&list, users.c_str(), nullptr, 2, &root), 0);
    EXPECT_EQ(collect(list).size(), 1000u);
    QRT_BIN_LIST_Free(list);
    list = nullptr;
    EXPECT_EQ(QRT_LDAP_GetObjectList(&list, users.c_str(), nullptr, 2, &root), 0);
    EXPECT_EQ(collect(list).size(), 500u);
    QRT_BIN_LIST_Free(list);
    trace_records();
}

TEST(LdapSlapd, EightThreadsFiftyFetchesEach) {
    Directory *d = directory(false);
    ASSERT_TRUE(d);
    const std::string url = d->url("cn=Test%20CA,o=Test");
    std::atomic<int> good{0}, bad{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 50; ++i) {
                BIN out{0, nullptr};
                timeval tv{10, 0};
                int rc = QRT_LDAP_GetCert(&out, url.c_str(), nullptr, 1, &tv);
                (rc == 0 && bytes_of(out) == d->ca ? good : bad)++;
                QRT_BIN_Reset(&out);
            }
            QRT_Trace_ClearError();
        });
    for (auto &t : threads) t.join();
    EXPECT_EQ(good.load(), 400);
    EXPECT_EQ(bad.load(), 0);
}

// ---- A fake directory on loopback ----------------------------------------------------------

// Reads one LDAP message; its id and protocol op tag. False when the peer closed or the
// server stops.
bool read_message(int fd, const LoopbackServer &srv, int &id, int &op) {
    auto read_n = [&](unsigned char *p, size_t n) {
        while (n) {
            pollfd pf{fd, POLLIN, 0};
            if (srv.stopping()) return false;
            if (::poll(&pf, 1, 50) <= 0) continue;
            ssize_t k = ::recv(fd, p, n, 0);
            if (k <= 0) return false;
            p += k;
            n -= static_cast<size_t>(k);
        }
        return true;
    };
    unsigned char h[2];
    if (!read_n(h, 2) || h[0] != 0x30) return false;
    size_t len = h[1];
    if (len & 0x80) {
        unsigned char l[4];
        size_t k = len & 0x7f;
        if (k == 0 || k > 4 || !read_n(l, k)) return false;
        len = 0;
        for (size_t i = 0; i < k; ++i) len = len << 8 | l[i];
    }
    std::vector<unsigned char> body(len);
    if (len > 1 << 20 || !read_n(body.data(), len) || len < 3 || body[0] != 0x02 || body[1] > 4) return false;
    id = 0;
    for (size_t i = 0; i < body[1]; ++i) id = id << 8 | body[2 + i];
    const size_t at = 2 + body[1];
    op = at < len ? body[at] : 0;
    return true;
}

void send_all(int fd, const std::vector<unsigned char> &b) {
    size_t off = 0;
    while (off < b.size()) {
        ssize_t k = ::send(fd, b.data() + off, b.size() - off, MSG_NOSIGNAL);
        if (k <= 0) return;
        off += static_cast<size_t>(k);
    }
}

// The message id as a BER INTEGER.
std::vector<unsigned char> message_id(int id) {
    std::vector<unsigned char> v;
    do {
        v.insert(v.begin(), static_cast<unsigned char>(id & 0xff));
        id >>= 8;
    } while (id);
    if (v.front() & 0x80) v.insert(v.begin(), 0);
    v.insert(v.begin(), {0x02, static_cast<unsigned char>(v.size())});
    return v;
}

void answer_bind(int fd, int id) {
    std::vector<unsigned char> m = message_id(id);
    m.insert(m.end(), {0x61, 0x07, 0x0a, 0x01, 0x00, 0x04, 0x00, 0x04, 0x00});  // success
    m.insert(m.begin(), {0x30, static_cast<unsigned char>(m.size())});
    send_all(fd, m);
}

// Holds the connection open until the client leaves or the server stops, for 5 s at most: a
// client that does not keep its time-out fails the row instead of hanging the test.
void stall(int fd, const LoopbackServer &srv) {
    unsigned char sink[512];
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!srv.stopping() && std::chrono::steady_clock::now() < end) {
        pollfd pf{fd, POLLIN, 0};
        if (::poll(&pf, 1, 50) > 0 && ::recv(fd, sink, sizeof sink, 0) <= 0) return;
    }
}

enum class Fake { NoBindAnswer, NoSearchAnswer, CloseMidAnswer, HugeClaim };

void serve(Fake how, int fd, const LoopbackServer &srv) {
    int id = 0, op = 0;
    if (!read_message(fd, srv, id, op) || op != 0x60) return;
    if (how == Fake::NoBindAnswer) return stall(fd, srv);
    answer_bind(fd, id);
    if (!read_message(fd, srv, id, op) || op != 0x63) return;
    switch (how) {
        case Fake::NoSearchAnswer:
            return stall(fd, srv);
        case Fake::CloseMidAnswer: {
            // A search entry of 100 bytes of which 12 arrive.
            std::vector<unsigned char> m = {0x30, 0x64};
            std::vector<unsigned char> mid = message_id(id);
            m.insert(m.end(), mid.begin(), mid.end());
            m.insert(m.end(), {0x64, 0x5f, 0x04, 0x06, 'c', 'n', '=', 'x', ',', 'o'});
            return send_all(fd, m);
        }
        case Fake::HugeClaim: {
            // A message claiming 2 GiB, then as many bytes as the client will take.
            std::vector<unsigned char> m = {0x30, 0x84, 0x80, 0x00, 0x00, 0x00};
            std::vector<unsigned char> mid = message_id(id);
            m.insert(m.end(), mid.begin(), mid.end());
            m.insert(m.end(), {0x64, 0x84, 0x7f, 0xff, 0xff, 0xf0, 0x04, 0x84, 0x7f, 0xff, 0xff, 0xe0});
            send_all(fd, m);
            std::vector<unsigned char> chunk(1 << 20, 'A');
            for (int i = 0; i < 512 && !srv.stopping(); ++i)
                if (::send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL) <= 0) return;
            return stall(fd, srv);
        }
        default:
            return;
    }
}

long peak_resident_kib() {
    std::ifstream f("/proc/self/status");
    for (std::string line; std::getline(f, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

TEST(LdapFake, StallsClosesAndHugeClaimsEndWithTheirCodes) {
    struct Case {
        const char *name;
        Fake how;
        int code;
        std::vector<std::string> records;
    };
    const Case cases[] = {
        {"search never answered",
         Fake::NoSearchAnswer,
         QRT_LDAP_TIMEOUT,
         {"ldap_search_ext_s:-5", "QRT_LDAP_GetCert:34008"}},
        {"bind never answered",
         Fake::NoBindAnswer,
         QRT_LDAP_TIMEOUT,
         {"ldap_simple_bind_s:-5", "QRT_LDAP_GetCert:34008"}},
        {"closed mid-answer",
         Fake::CloseMidAnswer,
         QRT_LDAP_SEARCH_FAILED,
         {"ldap_search_ext_s:-1", "QRT_LDAP_GetCert:34004"}},
        {"2 GiB claim", Fake::HugeClaim, QRT_LDAP_SEARCH_FAILED, {"ldap_search_ext_s:-1", "QRT_LDAP_GetCert:34004"}},
    };
    for (const Case &c : cases) {
        LoopbackServer srv;
        ASSERT_TRUE(srv.start([&srv, how = c.how](int fd) { serve(how, fd, srv); }));
        const std::string url = "ldap://127.0.0.1:" + std::to_string(srv.port()) + "/cn=Test%20CA,o=Test";
        trace_records();
        long peak_before = peak_resident_kib();
        auto start = std::chrono::steady_clock::now();
        OutBin out;
        int rc = QRT_LDAP_GetCert(out.get(), url.c_str(), nullptr, 1, &kSecond);
        auto took = std::chrono::steady_clock::now() - start;
        std::vector<std::string> got = trace();
        EXPECT_EQ(rc, c.code) << c.name << "\n" << joined(got);
        EXPECT_TRUE(out.empty()) << c.name;
        expect_trace(got, c.records, c.name);
        EXPECT_LT(took, std::chrono::seconds(2)) << c.name;
        EXPECT_LT(peak_resident_kib() - peak_before, 64 * 1024) << c.name << ": resident memory grew";
        srv.stop();
    }
}

TEST(LdapFrame, VersionAndTexts) {
    EXPECT_STREQ(QRT_LDAP_GetVersion(), "1.7.1.0");
    EXPECT_STREQ(QRT_GetVersionLDAP(), "1.7.1.0");
    EXPECT_EQ(QRT_LDAP_CheckVersion(nullptr), 0);
    EXPECT_EQ(QRT_LDAP_CheckVersion("1.7.1.0"), 0);
    EXPECT_EQ(QRT_LDAP_CheckVersion("1.7.1.1"), -1);
    EXPECT_STREQ(QRT_LDAP_GetErrorReason(34008, 1), "ldap connection timeout");
    EXPECT_STREQ(QRT_LDAP_GetErrorReason(34008, 0), "");
    EXPECT_STREQ(QRT_GetErrReasonLDAP(33050, 1), "invalid signature");
    EXPECT_STREQ(QRT_LDAP_GetErrorReason(8003, 1), "malloc failed");
    EXPECT_STREQ(QRT_LDAP_GetErrorReason(34099, 1), "");
}

}  // namespace
