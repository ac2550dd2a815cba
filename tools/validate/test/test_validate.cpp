// The tools' validation module: the responder URL splitter; the directory callback against a
// slapd the test starts (kinds, the value appended, the codes of a failed fetch and their texts);
// the OCSP callback against `openssl ocsp` serving on a loopback port; the flags the wrappers
// hand to path validation for the authority key identifier forms; and validation through the
// wrappers without a store (a certificate set) and of a root.
#include <gtest/gtest.h>
#include <openssl/ocsp.h>
#include <openssl/pem.h>

#include <cstring>
#include <string>

#include "directory.hpp"
#include "err.h"
#include "ocsp_pki.hpp"
#include "ostrel/asn_tree.hpp"
#include "ostrel/peer_process.hpp"
#include "ostrel/test_support.hpp"
#include "suite_ldap.h"
#include "validate.h"

namespace {

using Bytes = std::vector<unsigned char>;
using ostrel::test::PeerProcess;
using ostrel::test::TempDir;

BIN bin_of(const Bytes &b) { return BIN{static_cast<unsigned>(b.size()), const_cast<unsigned char *>(b.data())}; }
Bytes bytes_of(const BIN &b) { return b.value ? Bytes(b.value, b.value + b.length) : Bytes(); }
Bytes file_bytes(const std::string &path) {
    std::string s = ostrel::test::read_file(path);
    return Bytes(s.begin(), s.end());
}

TEST(ToolsParseUrl, Table) {
    struct Case {
        const char *url;
        int rc;
        const char *host;
        int port;
        const char *path;
    } cases[] = {
        {"http://ocsp.example.com/status/check", 0, "ocsp.example.com", 80, "status/check"},
        {"http://127.0.0.1:8080/", 0, "127.0.0.1", 8080, ""},
        {"http://127.0.0.1:65535", 0, "127.0.0.1", 65535, ""},
        {"http://host", 0, "host", 80, ""},
        {"http://host:1/a:b/c", 0, "host", 1, "a:b/c"},
        {"ocsp.example.com:80/status", -1},
        {"https://ocsp.example.com/", -1},
        {"HTTP://host/", -1},
        {"http://host:0/", -1},
        {"http://host:70000/", -1},
        {"http://host:99999999999999999999/", -1},
        {"http://host:/", -1},
        {"http://host:8o/", -1},
        {"http://host:-1/", -1},
        {"http:///path", -1},
        {"http://:80/path", -1},
        {"", -1},
    };
    for (const Case &c : cases) {
        char host[64] = "x", path[64] = "x";
        int port = -7;
        EXPECT_EQ(parseURL(c.url, host, sizeof host, &port, path, sizeof path), c.rc) << c.url;
        if (c.rc != 0) {
            EXPECT_EQ(port, -7) << c.url;
            continue;
        }
        EXPECT_STREQ(host, c.host) << c.url;
        EXPECT_EQ(port, c.port) << c.url;
        EXPECT_STREQ(path, c.path) << c.url;
    }
    // What does not fit is refused, not cut: 7 characters fit 8 bytes, 8 do not.
    char host[8], path[8];
    int port = 0;
    EXPECT_EQ(parseURL("http://abcdefg/1234567", host, sizeof host, &port, path, sizeof path), 0);
    EXPECT_STREQ(host, "abcdefg");
    EXPECT_STREQ(path, "1234567");
    EXPECT_EQ(parseURL("http://abcdefgh/1", host, sizeof host, &port, path, sizeof path), -1);
    EXPECT_STREQ(host, "");
    EXPECT_EQ(parseURL("http://a/12345678", host, sizeof host, &port, path, sizeof path), -1);
    EXPECT_STREQ(path, "");
    EXPECT_EQ(parseURL(nullptr, host, sizeof host, &port, path, sizeof path), -1);
    EXPECT_EQ(parseURL("http://a/", nullptr, 0, &port, path, sizeof path), -1);
}

// ---- The directory callback ---------------------------------------------------------------

ostrel::test::Directory &directory() {
    static ostrel::test::Directory *d = [] {
        auto *r = new ostrel::test::Directory;
        if (!r->start(false)) ADD_FAILURE() << r->why();
        return r;
    }();
    return *d;
}

TEST(ToolsLdapCallback, KindsAndValues) {
    auto &dir = directory();
    ASSERT_GT(dir.port(), 0) << dir.why();
    const std::string ca = dir.url("cn=Test CA,o=Test");
    struct Case {
        int typeID;
        const Bytes &want;
    } cases[] = {{3, dir.ca}, {11, dir.crl}, {12, dir.arl}};
    for (const Case &c : cases) {
        ZQ_BIN_LIST head{};
        ASSERT_EQ(CB_LDAP_GetObject(&head, c.typeID, ca.c_str()), 0) << c.typeID << "\n" << ostrel::test::trace_text();
        EXPECT_EQ(bytes_of(head.value), c.want) << c.typeID;
        EXPECT_EQ(head.next, nullptr);
        // a second fetch is appended behind the first value
        ASSERT_EQ(CB_LDAP_GetObject(&head, c.typeID, ca.c_str()), 0);
        ASSERT_NE(head.next, nullptr);
        EXPECT_EQ(bytes_of(head.next->value), c.want);
        QRT_BIN_LIST_Reset(&head);
    }
}

TEST(ToolsLdapCallback, FailuresByKind) {
    auto &dir = directory();
    ASSERT_GT(dir.port(), 0) << dir.why();
    const std::string missing = dir.url("cn=Nobody,o=Test");
    const std::string nullList = dir.url("cn=NullList,o=Test");
    struct Case {
        int typeID;
        std::string uri;
        int rc;
    } cases[] = {
        {3, missing, QRT_LDAP_SEARCH_FAILED - 1700},  {11, missing, QRT_LDAP_SEARCH_FAILED - 1600},
        {12, missing, QRT_LDAP_SEARCH_FAILED - 1500}, {21, missing, QRT_LDAP_SEARCH_FAILED - 1400},
        {21, nullList, QRT_LDAP_NO_RESULTS - 1400},
    };
    for (const Case &c : cases) {
        ZQ_BIN_LIST head{};
        EXPECT_EQ(CB_LDAP_GetObject(&head, c.typeID, c.uri.c_str()), c.rc) << c.typeID << " " << c.uri;
        EXPECT_EQ(head.value.value, nullptr);
        EXPECT_EQ(head.next, nullptr);
    }
    EXPECT_EQ(CB_LDAP_GetObject(nullptr, 3, missing.c_str()), QRT_LDAP_INVALID_INPUT - 1700);
    // only the four kinds of validation objects are fetched
    for (int other : {0, 1, 2, 5, 13, 25, 65}) {
        ZQ_BIN_LIST head{};
        EXPECT_EQ(CB_LDAP_GetObject(&head, other, dir.url("cn=Test CA,o=Test").c_str()), -1) << other;
        EXPECT_EQ(head.value.value, nullptr);
    }
    ostrel::test::trace_records();
}

TEST(ToolsLdapCallback, CodeTexts) {
    // the four blocks read as the directory library's texts; the wrapper's own and path
    // validation's codes have theirs
    for (int i = 1; i <= 14; ++i) {
        for (int offset : {1700, 1600, 1500, 1400}) {
            const int code = 34000 + i - offset;
            EXPECT_STREQ(QRT_GetErrReason(code, 1), QRT_LDAP_GetErrorReason(34000 + i, 1)) << code;
        }
    }
    EXPECT_STREQ(QRT_GetErrReason(32304, 1), "ldap_search failed");
    EXPECT_STREQ(QRT_GetErrReason(32315, 1), "");
    EXPECT_STREQ(QRT_GetErrReason(QRT_VALIDATE_ROOT_CERT, 1), "the certificate is a root certificate");
    EXPECT_STREQ(QRT_GetErrReason(QRT_VALIDATE_AKID_DECODE, 1), "the authority key identifier cannot be decoded");
    EXPECT_STREQ(QRT_GetErrReason(QRT_VALIDATE_CERT_ENCODE, 1), "the certificate cannot be encoded");
    EXPECT_STREQ(QRT_GetErrReason(43036, 1), "cert is not found");
    EXPECT_STREQ(QRT_GetErrReason(43035, 1), "cert is revoked");
    EXPECT_STREQ(QRT_GetErrReason(27180, 1), "unknown certificate type");
}

// ---- The OCSP callback --------------------------------------------------------------------

const ocsp_test::Pki &ocsp_pki() {
    static ocsp_test::Pki p;
    return p;
}

// `openssl ocsp` answering for the test PKI's CA on a free loopback port.
class Responder {
  public:
    bool start() {
        port_ = ostrel::test::free_loopback_port();
        std::vector<std::string> argv{
            "openssl",  "ocsp",  "-index", "index.txt", "-CA", "ca.pem", "-rsigner",
            "ca.pem",   "-rkey", "ca.key", "-nmin",     "60",  "-port",  std::to_string(port_),
            "-timeout", "5"};
        return port_ > 0 && proc_.start(argv, ocsp_pki().path("responder.log"), ocsp_pki().path("")) &&
               proc_.wait_log("ACCEPT");
    }
    std::string url(const std::string &path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
    int port() const { return port_; }
    std::string log() const { return proc_.log_text(); }

  private:
    PeerProcess proc_;
    int port_ = -1;
};

struct OcspResult {
    ZQ_PVD_OCSPResult r{-9, 0, 0, {0, nullptr}};
    ~OcspResult() { QRT_BIN_Reset(&r.response); }
};

TEST(ToolsOcspCallback, AgreesWithOpensslOcsp) {
    ASSERT_TRUE(ocsp_pki().ok());
    Responder responder;
    ASSERT_TRUE(responder.start()) << responder.log();
    struct Case {
        const char *cert;
        int status;
        int opensslStatus;
    } cases[] = {
        {"ee1", 0, V_OCSP_CERTSTATUS_GOOD},
        {"ee2", 1, V_OCSP_CERTSTATUS_REVOKED},
        {"unknown", 2, V_OCSP_CERTSTATUS_UNKNOWN},
    };
    for (const Case &c : cases) {
        Bytes der = ocsp_pki().der(c.cert);
        BIN cert = bin_of(der);
        OcspResult res;
        testing::internal::CaptureStdout();
        int rc = CB_OCSP_CheckCert(&res.r, &cert, responder.url("/").c_str());
        std::string printed = testing::internal::GetCapturedStdout();
        ASSERT_EQ(rc, 0) << c.cert << "\n" << responder.log() << ostrel::test::trace_text();
        EXPECT_EQ(printed, "ip=127.0.0.1, port=" + std::to_string(responder.port()) + "\n");
        EXPECT_EQ(res.r.status, c.status) << c.cert;
        // the response handed back is the responder's, and says what the mapping says
        Bytes resp = bytes_of(res.r.response);
        const unsigned char *p = resp.data();
        OCSP_RESPONSE *o = d2i_OCSP_RESPONSE(nullptr, &p, static_cast<long>(resp.size()));
        ASSERT_NE(o, nullptr) << c.cert;
        OCSP_BASICRESP *basic = OCSP_response_get1_basic(o);
        ASSERT_NE(basic, nullptr);
        OCSP_SINGLERESP *single = OCSP_resp_get0(basic, 0);
        ASSERT_NE(single, nullptr);
        int reason = 0;
        ASN1_GENERALIZEDTIME *rev = nullptr, *thisUpd = nullptr, *nextUpd = nullptr;
        EXPECT_EQ(OCSP_single_get0_status(single, &reason, &rev, &thisUpd, &nextUpd), c.opensslStatus);
        struct tm tmThis {
        }, tmNext{};
        ASSERT_TRUE(thisUpd && nextUpd && ASN1_TIME_to_tm(thisUpd, &tmThis) && ASN1_TIME_to_tm(nextUpd, &tmNext));
        EXPECT_EQ(res.r.thisUpdate, timegm(&tmThis)) << c.cert;
        EXPECT_EQ(res.r.nextUpdate, timegm(&tmNext)) << c.cert;
        EXPECT_EQ(res.r.nextUpdate, res.r.thisUpdate + 3600) << c.cert;
        OCSP_BASICRESP_free(basic);
        OCSP_RESPONSE_free(o);
    }
    // a URL without the port goes to port 80 (nothing listens there for us: only the line counts)
    Bytes der = ocsp_pki().der("ee1");
    BIN cert = bin_of(der);
    OcspResult res;
    testing::internal::CaptureStdout();
    CB_OCSP_CheckCert(&res.r, &cert, "http://127.0.0.1/ocsp");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ip=127.0.0.1, port=80\n");
    ostrel::test::trace_records();
}

TEST(ToolsOcspCallback, Failures) {
    ASSERT_TRUE(ocsp_pki().ok());
    Bytes der = ocsp_pki().der("ee1");
    BIN cert = bin_of(der);
    OcspResult res;
    const std::string down = "http://127.0.0.1:" + std::to_string(ostrel::test::free_loopback_port()) + "/";
    testing::internal::CaptureStdout();
    EXPECT_EQ(CB_OCSP_CheckCert(&res.r, &cert, down.c_str()), -1) << "a responder that is down";
    EXPECT_EQ(CB_OCSP_CheckCert(&res.r, &cert, "ocsp.example.com/"), -1) << "no scheme";
    EXPECT_EQ(CB_OCSP_CheckCert(&res.r, &cert, "http://127.0.0.1:0/"), -1) << "port 0";
    // a certificate the request cannot be made for (no authority key identifier)
    Responder responder;
    ASSERT_TRUE(responder.start()) << responder.log();
    Bytes noaki = ocsp_pki().der("noaki");
    BIN bad = bin_of(noaki);
    EXPECT_EQ(CB_OCSP_CheckCert(&res.r, &bad, responder.url("/").c_str()), -1);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(res.r.status, -9) << "the result is left alone on failure";
    EXPECT_EQ(res.r.response.value, nullptr);
    EXPECT_EQ(CB_OCSP_CheckCert(nullptr, &cert, down.c_str()), QRT_PVD_INVALID_INPUT);
    EXPECT_EQ(CB_OCSP_CheckCert(&res.r, nullptr, down.c_str()), QRT_PVD_INVALID_INPUT);
    EXPECT_EQ(CB_OCSP_CheckCert(&res.r, &cert, nullptr), QRT_PVD_INVALID_INPUT);
    ostrel::test::trace_records();
}

// ---- The wrappers -------------------------------------------------------------------------

// A root and end-entity certificates of it whose authority key identifiers take each form.
class Certs {
  public:
    Certs() {
        ostrel::test::write_file(dir_ / "x.cnf", R"([root]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[keyid]
basicConstraints = CA:FALSE
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always
[both]
basicConstraints = CA:FALSE
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always, issuer:always
[none]
basicConstraints = CA:FALSE
subjectKeyIdentifier = none
authorityKeyIdentifier = none
[bad]
basicConstraints = CA:FALSE
2.5.29.35 = DER:04020102
)");
        std::string out;
        ok_ = ostrel::test::run("cd " + dir_.path() +
                                    " && ( openssl req -new -newkey rsa:2048 -nodes -keyout root.key -subj "
                                    "'/C=KR/O=Ostrel Test/CN=Unit Root' -out root.csr"
                                    " && openssl x509 -req -in root.csr -signkey root.key -set_serial 1 -days 30 "
                                    "-sha256 -extfile x.cnf -extensions root -outform DER -out root.der"
                                    " && openssl req -new -newkey rsa:2048 -nodes -keyout ee.key -subj "
                                    "'/C=KR/O=Ostrel Test/CN=Unit User' -out ee.csr"
                                    " && for e in keyid both none bad; do openssl x509 -req -in ee.csr -CA root.der "
                                    "-CAform DER -CAkey root.key -set_serial 2 -days 30 -sha256 -extfile x.cnf "
                                    "-extensions $e -outform DER -out $e.der || exit 1; done ) 2>&1",
                                &out) == 0;
        if (!ok_) ADD_FAILURE() << out;
    }
    bool ok() const { return ok_; }
    std::string file(const std::string &name) const { return dir_ / name; }
    Bytes der(const std::string &name) const { return file_bytes(dir_ / (name + ".der")); }
    // The decoded certificate (owned by the caller's AsnTree).
    ostrel::AsnTree<Certificate> tree(const std::string &name) const {
        ostrel::AsnTree<Certificate> t(Certificate_PDU);
        Bytes d = der(name);
        BIN b = bin_of(d);
        EXPECT_EQ(t.decode(&b), 0) << name;
        return t;
    }

  private:
    TempDir dir_;
    bool ok_ = false;
};

const Certs &certs() {
    static Certs c;
    return c;
}

// Validates user with the test root as the certificate set's root, CRLs off: the code and the
// path handed back.
std::pair<int, std::vector<Bytes>> validate_under_root(const Certificate *user) {
    Bytes root = certs().der("root");
    VALIDITY_CERT_SET set{};
    set.rootCert = bin_of(root);
    ZQ_PVD_CertPathResult result{};
    int rc = QRT_VerifyCertPathEx(user, nullptr, nullptr, nullptr, nullptr, nullptr, CERT_VERIFY_CRL, &set, &result);
    std::vector<Bytes> path;
    for (const ZQ_PVD_ObjectList *p = result.certPath; p; p = p->next) path.push_back(bytes_of(p->value.encObj));
    QRT_PVD_CertPathResult_Reset(&result);
    return {rc, path};
}

TEST(ToolsVerifyCertPath, FlagsFollowTheAuthorityKeyIdentifier) {
    ASSERT_TRUE(certs().ok());
    struct Case {
        const char *cert;
        int option;
        int rc;
        int flags;
    } cases[] = {
        {"keyid", 0, 0, PVD_FLAG_NO_OCSP | PVD_FLAG_STRICT},
        {"both", 0, 0, PVD_FLAG_NO_OCSP},
        {"none", 0, 0, PVD_FLAG_NO_OCSP},
        {"root", 0, 0, PVD_FLAG_NO_OCSP},
        {"both", CERT_VERIFY_CRL, 0, PVD_FLAG_NO_OCSP | PVD_FLAG_NO_CRL},
        {"both", CERT_VERIFY_RFC3280, 0, PVD_FLAG_NO_OCSP | PVD_FLAG_KEY_ONLY},
        {"keyid", 0xffff, 0, PVD_FLAG_NO_OCSP | PVD_FLAG_NO_CRL | PVD_FLAG_KEY_ONLY | PVD_FLAG_STRICT},
        {"bad", 0, QRT_VALIDATE_AKID_DECODE, -1},
    };
    for (const Case &c : cases) {
        auto t = certs().tree(c.cert);
        ASSERT_TRUE(t);
        int flags = -1;
        EXPECT_EQ(QRT_VerifyCertPath_Flags(t.get(), c.option, &flags), c.rc) << c.cert;
        EXPECT_EQ(flags, c.flags) << c.cert << " option " << c.option;
    }
    // the wrappers stop at an authority key identifier that does not decode
    auto bad = certs().tree("bad");
    EXPECT_EQ(QRT_VerifyCertPath(bad.get(), nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr),
              QRT_VALIDATE_AKID_DECODE);
    EXPECT_EQ(QRT_VerifyCertPath(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr),
              QRT_VALIDATE_CERT_ENCODE);
}

TEST(ToolsVerifyCertPath, CertificateSetWithoutStore) {
    ASSERT_TRUE(certs().ok());
    auto user = certs().tree("keyid");
    Bytes root = certs().der("root");
    auto [rc, path] = validate_under_root(user.get());
    ASSERT_EQ(rc, 0) << ostrel::test::trace_text();
    EXPECT_EQ(path, (std::vector<Bytes>{certs().der("keyid"), root}));
    VALIDITY_CERT_SET set{};
    set.rootCert = bin_of(root);
    // without the set (and no store, no directory) there is no issuer
    EXPECT_EQ(QRT_VerifyCertPath(user.get(), nullptr, nullptr, nullptr, nullptr, nullptr, CERT_VERIFY_CRL, nullptr),
              QRT_PVD_CERT_NOT_FOUND);
    // the split form takes the set as well; a 10 000-character directory entry is only a server
    // that cannot be asked
    const std::string huge(10000, 'h');
    const char *entries[3] = {huge.c_str(), "", nullptr};
    EXPECT_EQ(
        QRT_VerifyCertPathEx2(user.get(), nullptr, nullptr, entries, nullptr, nullptr, CERT_VERIFY_CRL, &set, nullptr),
        0);
    EXPECT_EQ(QRT_VerifyCertPath(user.get(), nullptr, nullptr, (huge + ";" + huge).c_str(), nullptr, nullptr,
                                 CERT_VERIFY_CRL, nullptr),
              QRT_PVD_CERT_NOT_FOUND);
    ostrel::test::trace_records();
}

TEST(ToolsVerifyCertPath, RootIsReportedAsRoot) {
    ASSERT_TRUE(certs().ok());
    auto root = certs().tree("root");
    Bytes rootDer = certs().der("root");
    VALIDITY_CERT_SET set{};
    set.rootCert = bin_of(rootDer);
    EXPECT_EQ(QRT_VerifyCertPathEx(root.get(), nullptr, nullptr, nullptr, nullptr, nullptr, 0, &set, nullptr),
              QRT_VALIDATE_ROOT_CERT);
    ostrel::test::trace_records();
}

// A certificate whose signed part is valid BER but not DER (the TBS length in a longer form
// than needed), signed over exactly those bytes: the wrapper must hand path validation the bytes
// as received, not the engine's re-encoding, or the issuer's signature no longer matches.
TEST(ToolsVerifyCertPath, SignedPartPassesAsReceived) {
    ASSERT_TRUE(certs().ok());
    const Bytes c = certs().der("keyid");
    ASSERT_TRUE(c.size() > 8 && c[0] == 0x30 && c[1] == 0x82 && c[4] == 0x30 && c[5] == 0x82);
    const size_t tbsLen = static_cast<size_t>(c[6]) << 8 | c[7], algAt = 8 + tbsLen;
    ASSERT_LT(algAt + 2, c.size());
    Bytes tbs{0x30, 0x83, 0x00, c[6], c[7]};
    tbs.insert(tbs.end(), c.begin() + 8, c.begin() + static_cast<long>(algAt));
    const Bytes alg(c.begin() + static_cast<long>(algAt), c.begin() + static_cast<long>(algAt + 2 + c[algAt + 1]));

    BIO *kb = BIO_new_file(certs().file("root.key").c_str(), "r");
    EVP_PKEY *key = kb ? PEM_read_bio_PrivateKey(kb, nullptr, nullptr, nullptr) : nullptr;
    BIO_free(kb);
    ASSERT_NE(key, nullptr);
    EVP_MD_CTX *md = EVP_MD_CTX_new();
    size_t sigLen = 0;
    Bytes sig;
    bool signedOk = EVP_DigestSignInit(md, nullptr, EVP_sha256(), nullptr, key) == 1 &&
                    EVP_DigestSign(md, nullptr, &sigLen, tbs.data(), tbs.size()) == 1;
    sig.resize(sigLen);
    signedOk = signedOk && EVP_DigestSign(md, sig.data(), &sigLen, tbs.data(), tbs.size()) == 1;
    EVP_MD_CTX_free(md);
    EVP_PKEY_free(key);
    ASSERT_TRUE(signedOk && sigLen == 256);
    Bytes body = tbs;
    body.insert(body.end(), alg.begin(), alg.end());
    body.insert(body.end(), {0x03, 0x82, 0x01, 0x01, 0x00});
    body.insert(body.end(), sig.begin(), sig.end());
    Bytes cert{0x30, 0x82, static_cast<unsigned char>(body.size() >> 8), static_cast<unsigned char>(body.size())};
    cert.insert(cert.end(), body.begin(), body.end());

    ostrel::AsnTree<Certificate> user(Certificate_PDU);
    BIN in = bin_of(cert);
    ASSERT_EQ(user.decode(&in), 0);
    ASSERT_EQ(bytes_of(user->tbsCertificate_encoded), tbs);
    auto [rc, path] = validate_under_root(user.get());
    ASSERT_EQ(rc, 0) << ostrel::test::trace_text();
    EXPECT_EQ(path, (std::vector<Bytes>{cert, certs().der("root")}));
    ostrel::test::trace_records();
}

}  // namespace
