// PKCS#12 files both ways with openssl: its default, -legacy, -nomac and empty-password files
// read here, ours read by `openssl pkcs12`, the list form, enveloped safes and signed integrity
// checked with `openssl cms`; the KDF vectors; bounds and hostile counts.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "ostrel/test_support.hpp"
#include "ostrel/vectors.hpp"
#include "suite_pkcs12.h"
#include "suite_pkcs5.h"

namespace {

using Bytes = std::vector<unsigned char>;
namespace t = ostrel::test;
using Out = t::OutBin;

[[maybe_unused]] const int kTraceOn = QRT_Trace_Initialize();

BIN view(const Bytes &b) { return BIN{static_cast<unsigned>(b.size()), const_cast<unsigned char *>(b.data())}; }
Bytes str(const std::string &s) { return Bytes(s.begin(), s.end()); }
Bytes hex(const std::string &s) { return t::from_hex(s); }
const std::string kLegacy = " -provider legacy -provider default";

Bytes tlv(unsigned char tag, const Bytes &c) {
    Bytes o{tag};
    size_t n = c.size();
    if (n < 0x80) {
        o.push_back(static_cast<unsigned char>(n));
    } else if (n < 0x100) {
        o.insert(o.end(), {0x81, static_cast<unsigned char>(n)});
    } else if (n < 0x10000) {
        o.insert(o.end(), {0x82, static_cast<unsigned char>(n >> 8), static_cast<unsigned char>(n)});
    } else {
        o.insert(o.end(), {0x83, static_cast<unsigned char>(n >> 16), static_cast<unsigned char>(n >> 8),
                           static_cast<unsigned char>(n)});
    }
    o.insert(o.end(), c.begin(), c.end());
    return o;
}
Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes o;
    for (const Bytes &p : parts) o.insert(o.end(), p.begin(), p.end());
    return o;
}

// Root, CA and user certificates with keys (DER), made once by openssl.
struct Pki {
    t::TempDir dir;
    Bytes rootCert, caCert, userCert, userKey, caKey, rootKey, user2Cert, user2Key;
    std::string d(const std::string &n) const { return dir / n; }
    Bytes der(const std::string &n) const { return str(t::read_file(d(n))); }
    Pki() {
        const std::string D = dir.path() + "/";
        std::string cmd =
            "cd " + D +
            " && printf 'basicConstraints=CA:TRUE\\n' > ca.ext && "
            "openssl req -x509 -newkey rsa:2048 -nodes -keyout root.key -out root.pem -subj /CN=Root -days 30 && "
            "openssl req -newkey rsa:2048 -nodes -keyout ca.key -out ca.csr -subj /CN=CA && "
            "openssl x509 -req -in ca.csr -CA root.pem -CAkey root.key -CAcreateserial -out ca.pem -days 30 "
            "-extfile ca.ext && "
            "for u in user user2; do openssl req -newkey rsa:2048 -nodes -keyout $u.key -out $u.csr -subj /CN=$u && "
            "openssl x509 -req -in $u.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out $u.pem -days 30; done && "
            "cat root.pem ca.pem > chain.pem && "
            "for c in root ca user user2; do openssl x509 -in $c.pem -outform DER -out $c.der && "
            "openssl pkcs8 -topk8 -nocrypt -in $c.key -outform DER -out $c.key.der; done";
        if (t::run("(" + cmd + ") >/dev/null 2>&1") != 0) return;
        rootCert = der("root.der");
        caCert = der("ca.der");
        userCert = der("user.der");
        userKey = der("user.key.der");
        caKey = der("ca.key.der");
        rootKey = der("root.key.der");
        user2Cert = der("user2.der");
        user2Key = der("user2.key.der");
    }
    // openssl pkcs12 -export of the user key and certificate with the chain (root first).
    Bytes openssl_export(const std::string &opts, const std::string &pw) const {
        std::remove(d("o.p12").c_str());
        t::run("openssl pkcs12 -export -inkey " + d("user.key") + " -in " + d("user.pem") + " -certfile " +
               d("chain.pem") + " -passout pass:" + pw + " " + opts + " -out " + d("o.p12") + " 2>/dev/null");
        return der("o.p12");
    }
    // What `openssl pkcs12 -nodes` prints for a file of ours, empty when it fails.
    std::string openssl_read(const Bytes &pfx, const std::string &pw, const std::string &opts = "") const {
        t::write_file(d("ours.p12"), std::string(pfx.begin(), pfx.end()));
        std::string out;
        if (t::run("openssl pkcs12 -nodes -in " + d("ours.p12") + " -passin pass:" + pw + " " + opts + " 2>/dev/null",
                   &out) != 0)
            return "";
        return out;
    }
};
const Pki &pki() {
    static Pki p;
    return p;
}
bool ready() { return t::have_command("openssl") && !pki().userKey.empty(); }
#define NEED_OPENSSL() \
    if (!ready()) GTEST_SKIP() << "openssl not available"

size_t count_of(const std::string &s, const std::string &what) {
    size_t n = 0;
    for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1)) ++n;
    return n;
}

// The base64 body of a DER value as it appears in openssl's PEM output (first line).
std::string pem_line(const Bytes &der) {
    Bytes b64(4 * ((der.size() + 2) / 3) + 1);
    EVP_EncodeBlock(b64.data(), der.data(), static_cast<int>(der.size()));
    return std::string(b64.begin(), b64.begin() + 64);
}

struct Decoded {
    Out key, cert, ca, root, crl;
    int rc = -1;
    Decoded(const Bytes &pfx, const std::string &password) {
        BIN in = view(pfx), pw{static_cast<unsigned>(password.size()),
                               reinterpret_cast<unsigned char *>(const_cast<char *>(password.data()))};
        rc = QRT_PKCS12_DecodePFXEx(nullptr, &key, &cert, &ca, &root, &crl, &in, &pw);
    }
    Bytes plainKey(const std::string &password) {
        BIN k = key.b, pw{static_cast<unsigned>(password.size()),
                          reinterpret_cast<unsigned char *>(const_cast<char *>(password.data()))};
        if (!QRT_PKCS12_IsSHKey(&k)) return key.bytes();
        Out plain;
        EXPECT_EQ(QRT_PKCS12_DecodeSHKey(&plain, &k, &pw), 0);
        return plain.bytes();
    }
};

// A password from a literal (the literal outlives the BIN).
BIN pwd(const char *s) {
    return BIN{static_cast<unsigned>(std::strlen(s)), reinterpret_cast<unsigned char *>(const_cast<char *>(s))};
}

struct List {
    ZQ_PKCS12_PARAM *head = nullptr;
    ~List() { QRT_PKCS12_Param_Free(head); }
};

TEST(Pkcs12Frame, VersionAndReasons) {
    EXPECT_STREQ(QRT_PKCS12_GetVersion(), "1.7.0.1");
    EXPECT_EQ(QRT_PKCS12_CheckVersion("1.7.0.1"), 0);
    EXPECT_EQ(QRT_PKCS12_CheckVersion("1.7.0.2"), -1);
    EXPECT_STREQ(QRT_PKCS12_GetErrorReason(37750, 1), "invalid mac");
    EXPECT_STREQ(QRT_PKCS12_GetErrorReason(37718, 1), "unknown version");
    EXPECT_STRNE(QRT_PKCS12_GetErrorReason(37760, 0), "");
    EXPECT_STRNE(QRT_PKCS12_GetErrorReason(37760, 0), "no bag");
    EXPECT_STREQ(QRT_PKCS12_GetErrorReason(37131, 1), "invalid password");  // handed to PKCS#5
    EXPECT_STREQ(QRT_PKCS12_GetErrorReason(37799, 1), "");
}

// The shared vectors; the password is every second byte of password_bmp less the terminator.
TEST(Pkcs12Kdf, SharedVectors) {
    int n = 0;
    for (const auto &v : t::read_vectors("../shared/vectors/pkcs12_kdf.txt")) {
        SCOPED_TRACE("pkcs12_kdf.txt line " + std::to_string(v.line));
        Bytes bmp = hex(v.get("password_bmp")), pw, salt = hex(v.get("salt")), want = hex(v.get("key"));
        for (size_t i = 1; i + 2 < bmp.size(); i += 2) pw.push_back(bmp[i]);
        const std::string h = v.get("hash");
        int hash = h == "SHA-1" ? 3 : h == "SHA-224" ? 9 : h == "SHA-256" ? 6 : h == "SHA-384" ? 7 : 8;
        BIN p = view(pw), s = view(salt);
        Out out;
        ASSERT_EQ(QRT_PKCS12_KDF(&out, static_cast<int>(want.size()), hash, &p, &s, std::stoi(v.get("iterations")),
                                 std::stoi(v.get("id"))),
                  0);
        EXPECT_EQ(out.bytes(), want);
        ++n;
    }
    EXPECT_EQ(n, 28);
}

// openssl's files: key, certificate and the chain whatever the order of -certfile.
TEST(Pkcs12Read, OpensslFiles) {
    NEED_OPENSSL();
    const Pki &p = pki();
    struct Case {
        std::string opts, pw;
    } cases[] = {{"", "secret"},
                 {"-legacy" + kLegacy, "secret"},
                 {"-nomac", "secret"},
                 {"", ""},
                 {"-legacy" + kLegacy, ""},
                 {"-iter 600000", "secret"},
                 {"-macalg sha224", "secret"},
                 {"-macalg sha512", "secret"},
                 {"-macalg sha384", "secret"}};
    for (const Case &c : cases) {
        SCOPED_TRACE("openssl pkcs12 -export " + c.opts + " pw '" + c.pw + "'");
        Bytes pfx = p.openssl_export(c.opts, c.pw);
        ASSERT_FALSE(pfx.empty());
        BIN in = view(pfx);
        EXPECT_EQ(QRT_PKCS12_IsPFX(&in), 1);
        Decoded d(pfx, c.pw);
        ASSERT_EQ(d.rc, 0) << t::trace_text();
        EXPECT_EQ(d.plainKey(c.pw), p.userKey);
        EXPECT_EQ(d.cert.bytes(), p.userCert);
        EXPECT_EQ(d.ca.bytes(), p.caCert);
        EXPECT_EQ(d.root.bytes(), p.rootCert);
        EXPECT_TRUE(d.crl.empty());
        // outputs not asked for are left alone; the issuer comes without the root
        BIN in2 = view(pfx), pw = {static_cast<unsigned>(c.pw.size()),
                                   reinterpret_cast<unsigned char *>(const_cast<char *>(c.pw.data()))};
        Out ca;
        ASSERT_EQ(QRT_PKCS12_DecodePFX(nullptr, nullptr, nullptr, &ca, nullptr, &in2, &pw), 0);
        EXPECT_EQ(ca.bytes(), p.caCert);
    }
    // a wrong password: the MAC, or without one the safe
    Decoded wrong(p.openssl_export("", "secret"), "Secret");
    EXPECT_EQ(wrong.rc, QRT_PKCS12_INVALID_MAC);
    EXPECT_TRUE(wrong.key.empty() && wrong.cert.empty());
    Decoded wrongNomac(p.openssl_export("-nomac -certpbe AES-256-CBC", "secret"), "Secret");
    EXPECT_EQ(wrongNomac.rc, QRT_PKCS12_BAD_ENCRYPTED_DATA);
    // certificates in the clear: the shrouded key tells
    Decoded clearCerts(p.openssl_export("-nomac", "secret"), "Secret");
    ASSERT_EQ(clearCerts.rc, 0);
    EXPECT_EQ(clearCerts.cert.bytes(), p.userCert);
    Out plain;
    BIN wrongPw = pwd("Secret");
    EXPECT_EQ(QRT_PKCS12_DecodeSHKey(&plain, clearCerts.key.get(), &wrongPw), QRT_PKCS12_INVALID_PASSWORD);
}

// An empty password whose MAC was made without the terminator (the zero-length form).
TEST(Pkcs12Read, EmptyPasswordZeroLengthForm) {
    NEED_OPENSSL();
    Bytes pfx = pki().openssl_export("", "");
    const unsigned char *q = pfx.data();
    PKCS12 *p12 = d2i_PKCS12(nullptr, &q, static_cast<long>(pfx.size()));
    ASSERT_NE(p12, nullptr);
    ASSERT_EQ(PKCS12_set_mac(p12, nullptr, 0, nullptr, 0, 2048, EVP_sha256()), 1);
    unsigned char *der = nullptr;
    int len = i2d_PKCS12(p12, &der);
    Bytes remac(der, der + len);
    OPENSSL_free(der);
    PKCS12_free(p12);
    ASSERT_NE(remac, pfx);
    Decoded d(remac, "");
    ASSERT_EQ(d.rc, 0) << t::trace_text();
    EXPECT_EQ(d.plainKey(""), pki().userKey);

    // PKCS#12 PBE safes, shrouded key and MAC all in the zero-length form
    const unsigned char *kp = pki().userKey.data(), *cp = pki().userCert.data();
    EVP_PKEY *key = d2i_AutoPrivateKey(nullptr, &kp, static_cast<long>(pki().userKey.size()));
    X509 *cert = d2i_X509(nullptr, &cp, static_cast<long>(pki().userCert.size()));
    ASSERT_TRUE(key && cert);
    p12 = PKCS12_create(nullptr, nullptr, key, cert, nullptr, NID_pbe_WithSHA1And3_Key_TripleDES_CBC,
                        NID_pbe_WithSHA1And3_Key_TripleDES_CBC, 2048, 2048, 0);
    EVP_PKEY_free(key);
    X509_free(cert);
    ASSERT_NE(p12, nullptr);
    der = nullptr;
    len = i2d_PKCS12(p12, &der);
    Bytes bare(der, der + len);
    OPENSSL_free(der);
    PKCS12_free(p12);
    Decoded b(bare, "");
    ASSERT_EQ(b.rc, 0) << t::trace_text();
    EXPECT_EQ(b.cert.bytes(), pki().userCert);
    EXPECT_EQ(b.plainKey(""), pki().userKey);
    EXPECT_EQ(Decoded(bare, "x").rc, QRT_PKCS12_INVALID_MAC);
}

// Ours read by openssl: PKCS#12 PBE and PBES2 safes, plain and shrouded keys.
TEST(Pkcs12Write, OpensslReadsOurs) {
    NEED_OPENSSL();
    const Pki &p = pki();
    BIN key = view(p.userKey), cert = view(p.userCert), ca = view(p.caCert), pw = pwd("pass word");
    Out shrouded11, shrouded3;
    ASSERT_EQ(QRT_PKCS12_EncodeSHKey(&shrouded11, 11, &key, &pw), 0);
    ASSERT_EQ(QRT_PKCS12_EncodeSHKey(&shrouded3, 3, &key, &pw), 0);
    struct Case {
        int pbeID;
        BIN *key;
        std::string opts;
    } cases[] = {
        {3, &key, ""},     {11, &key, ""}, {6, &key, kLegacy}, {11, shrouded11.get(), ""}, {3, shrouded3.get(), ""},
        {1, &key, kLegacy}};
    for (const Case &c : cases) {
        SCOPED_TRACE("pbeID " + std::to_string(c.pbeID) + (c.key == &key ? " plain" : " shrouded"));
        Out pfx;
        ASSERT_EQ(QRT_PKCS12_EncodePFX(&pfx, c.pbeID, c.key, &cert, &ca, nullptr, &pw), 0) << t::trace_text();
        std::string text = p.openssl_read(pfx.bytes(), "'pass word'", c.opts);
        EXPECT_EQ(count_of(text, "BEGIN PRIVATE KEY"), 1u) << text;
        EXPECT_EQ(count_of(text, "BEGIN CERTIFICATE"), 2u);
        EXPECT_NE(text.find(pem_line(p.userCert)), std::string::npos);
        EXPECT_NE(text.find("localKeyID: 01 00 00 00"), std::string::npos);
        // and back here, the key as it was given
        Decoded d(pfx.bytes(), "pass word");
        ASSERT_EQ(d.rc, 0);
        EXPECT_EQ(d.key.bytes(), Bytes(c.key->value, c.key->value + c.key->length));
        EXPECT_EQ(d.ca.bytes(), p.caCert);
        EXPECT_TRUE(d.root.empty());
    }
    // the key openssl prints is ours
    Out pfx;
    ASSERT_EQ(QRT_PKCS12_EncodePFX(&pfx, 11, &key, &cert, nullptr, nullptr, &pw), 0);
    std::string text = p.openssl_read(pfx.bytes(), "'pass word'");
    t::write_file(p.d("k.pem"), text);
    std::string a, b;
    t::run("openssl pkey -in " + p.d("k.pem") + " -pubout 2>/dev/null", &a);
    t::run("openssl pkey -in " + p.d("user.key") + " -pubout 2>/dev/null", &b);
    EXPECT_FALSE(a.empty());
    EXPECT_EQ(a, b);
    // argument checks and an unknown scheme
    QRT_BIN_Reset(pfx.get());
    EXPECT_EQ(QRT_PKCS12_EncodePFX(&pfx, 11, &key, &cert, nullptr, nullptr, nullptr), QRT_PKCS12_INVALID_INPUT);
    BIN empty{0, nullptr};
    EXPECT_EQ(QRT_PKCS12_EncodePFX(&pfx, 11, &key, &cert, nullptr, nullptr, &empty), QRT_PKCS12_INVALID_INPUT);
    EXPECT_EQ(QRT_PKCS12_EncodePFX(&pfx, 7, &key, &cert, nullptr, nullptr, &pw), QRT_PKCS12_UNKNOWN_PBEID);
    EXPECT_TRUE(pfx.empty());
}

TEST(Pkcs12ShKey, BothWaysAndWrongPassword) {
    NEED_OPENSSL();
    const Pki &p = pki();
    BIN key = view(p.userKey), pw = pwd("pw"), bad = pwd("px");
    for (int pbeID : {3, 11}) {
        Out sh, back, fail;
        ASSERT_EQ(QRT_PKCS12_EncodeSHKey(&sh, pbeID, &key, &pw), 0);
        EXPECT_EQ(QRT_PKCS12_IsSHKey(sh.get()), 1);
        EXPECT_EQ(QRT_PKCS12_IsSHKey(&key), 0);
        ASSERT_EQ(QRT_PKCS12_DecodeSHKey(&back, sh.get(), &pw), 0);
        EXPECT_EQ(back.bytes(), p.userKey);
        EXPECT_EQ(QRT_PKCS12_DecodeSHKey(&fail, sh.get(), &bad), QRT_PKCS12_INVALID_PASSWORD);
        EXPECT_TRUE(fail.empty());
        const Bytes shb = sh.bytes();
        t::write_file(p.d("sh.der"), std::string(shb.begin(), shb.end()));
        std::string out;
        EXPECT_EQ(t::run("openssl pkcs8 -inform DER -in " + p.d("sh.der") +
                             " -passin pass:pw -outform PEM 2>/dev/null | openssl pkey -outform DER 2>/dev/null",
                         &out),
                  0);
        std::string want;
        t::run("openssl pkey -in " + p.d("user.key") + " -outform DER 2>/dev/null", &want);
        EXPECT_EQ(out, want);
    }
}

// The lower layer's PKCS#12 PBE against OpenSSL's for the same parameters.
TEST(Pkcs12Lower, PbeAndParams) {
    const unsigned char salt8[] = {1, 2, 3, 4, 5, 6, 7, 8};
    Bytes plain = str("safe contents, more than a block long");
    BIN in = view(plain), pw = pwd("pw"), bad = pwd("px"), salt{8, const_cast<unsigned char *>(salt8)};
    Out enc, dec, wrong, der, salt2;
    ASSERT_EQ(QRT_PKCS12_PBE_Encrypt(&enc, 3, &in, &pw, &salt, 1024), 0);
    X509_ALGOR *alg = PKCS5_pbe_set(NID_pbe_WithSHA1And3_Key_TripleDES_CBC, 1024, salt8, 8);
    ASSERT_NE(alg, nullptr);
    unsigned char *out = nullptr;
    int outlen = 0;
    ASSERT_NE(PKCS12_pbe_crypt(alg, "pw", 2, enc.b.value, static_cast<int>(enc.b.length), &out, &outlen, 0), nullptr);
    EXPECT_EQ(Bytes(out, out + outlen), plain);
    OPENSSL_free(out);
    X509_ALGOR_free(alg);
    ASSERT_EQ(QRT_PKCS12_PBE_Decrypt(&dec, 3, enc.get(), &pw, &salt, 1024), 0);
    EXPECT_EQ(dec.bytes(), plain);
    int rc = QRT_PKCS12_PBE_Decrypt(&wrong, 3, enc.get(), &bad, &salt, 1024);
    EXPECT_TRUE(rc == QRT_PKCS12_BAD_ENCRYPTED_DATA || (rc == 0 && wrong.bytes() != plain));
    EXPECT_EQ(QRT_PKCS12_PBE_Encrypt(&wrong, 11, &in, &pw, &salt, 1024), QRT_PKCS12_UNKNOWN_PBEID);

    int count = 0;
    ASSERT_EQ(QRT_PKCS12_PBE_EncodeParam(&der, &salt, 2048), 0);
    ASSERT_EQ(QRT_PKCS12_PBE_DecodeParam(&salt2, &count, der.get()), 0);
    EXPECT_EQ(salt2.bytes(), Bytes(salt8, salt8 + 8));
    EXPECT_EQ(count, 2048);
    Bytes huge = {0x30, 0x10, 0x04, 0x08, 1, 2, 3, 4, 5, 6, 7, 8, 0x02, 0x04, 0x7F, 0xFF, 0xFF, 0xFF};
    BIN h = view(huge);
    Out s3;
    EXPECT_EQ(QRT_PKCS12_PBE_DecodeParam(&s3, &count, &h), QRT_PKCS12_BAD_ALG_PARAM);
    EXPECT_TRUE(s3.empty());

    // MacData with each hash, and MD5 refused
    Bytes data = str("authenticated safe");
    BIN d = view(data);
    for (int hash : {3, 9, 6, 7, 8}) {
        Out mac;
        ASSERT_EQ(QRT_PKCS12_AsnMacData_Encode(&mac, hash, 3, &d, &pw), 0) << hash;
        EXPECT_EQ(QRT_PKCS12_AsnMacData_Verify(mac.get(), &d, &pw), 0);
        EXPECT_EQ(QRT_PKCS12_AsnMacData_Verify(mac.get(), &d, &bad), QRT_PKCS12_INVALID_MAC);
    }
    Out md5;
    EXPECT_EQ(QRT_PKCS12_AsnMacData_Encode(&md5, 2, 1, &d, &pw), QRT_PKCS12_INVALID_INPUT);
}

// Two pairs in the list form; openssl sees both keys, the list comes back paired and chained.
TEST(Pkcs12List, TwoPairs) {
    NEED_OPENSSL();
    const Pki &p = pki();
    BIN k1 = view(p.userKey), c1 = view(p.userCert), k2 = view(p.user2Key), c2 = view(p.user2Cert);
    BIN ca = view(p.caCert), root = view(p.rootCert), pw = pwd("two");
    ZQ_PKCS12_PARAM e2{&k2, &c2, nullptr, nullptr, nullptr, nullptr};
    ZQ_PKCS12_PARAM e1{&k1, &c1, nullptr, nullptr, nullptr, &e2};
    ASSERT_EQ(QRT_BIN_LIST_Add(&e1.certs, &ca), 0);
    ASSERT_EQ(QRT_BIN_LIST_Add(&e1.certs, &root), 0);
    ASSERT_EQ(QRT_BIN_LIST_Add(&e2.certs, &ca), 0);  // written once
    Out pfx;
    int rc = QRT_PKCS12_EncodePFXEx(&pfx, 11, nullptr, nullptr, nullptr, nullptr, nullptr, &pw, &e1);
    QRT_BIN_LIST_Free(e1.certs);
    QRT_BIN_LIST_Free(e2.certs);
    ASSERT_EQ(rc, 0) << t::trace_text();
    std::string text = p.openssl_read(pfx.bytes(), "two");
    EXPECT_EQ(count_of(text, "BEGIN PRIVATE KEY"), 2u);
    EXPECT_EQ(count_of(text, "BEGIN CERTIFICATE"), 4u);
    EXPECT_NE(text.find("localKeyID: 02 00 00 00"), std::string::npos);

    List out;
    BIN in = pfx.b;
    ASSERT_EQ(QRT_PKCS12_DecodePFXEx(&out.head, nullptr, nullptr, nullptr, nullptr, nullptr, &in, &pw), 0);
    ASSERT_NE(out.head, nullptr);
    ASSERT_NE(out.head->next, nullptr);
    EXPECT_EQ(out.head->next->next, nullptr);
    const ZQ_PKCS12_PARAM *a = out.head, *b = out.head->next;
    EXPECT_EQ(Bytes(a->key->value, a->key->value + a->key->length), p.userKey);
    EXPECT_EQ(Bytes(b->cert->value, b->cert->value + b->cert->length), p.user2Cert);
    for (const ZQ_PKCS12_PARAM *e : {a, b}) {
        ASSERT_NE(e->certs, nullptr);
        EXPECT_EQ(Bytes(e->certs->value.value, e->certs->value.value + e->certs->value.length), p.caCert);
        ASSERT_NE(e->certs->next, nullptr);
        EXPECT_EQ(Bytes(e->certs->next->value.value, e->certs->next->value.value + e->certs->next->value.length),
                  p.rootCert);
    }
}

// An enveloped safe and signed integrity: openssl cms verifies the signature and opens the safe;
// we read it back with the recipient's key.
TEST(Pkcs12PublicKey, EnvelopedSafeSignedIntegrity) {
    NEED_OPENSSL();
    const Pki &p = pki();
    BIN k = view(p.userKey), c = view(p.userCert), caCert = view(p.caCert), caKey = view(p.caKey);
    BIN rootCert = view(p.rootCert), rootKey = view(p.rootKey);
    ZQ_PKCS12_PARAM e{&k, &c, nullptr, nullptr, nullptr, nullptr};
    ZQ_PKCS12_USERDATA ud{};
    ud.pvcID = QRT_PKCS12_PVC_PUBKEY;
    ud.encID = 2;
    ud.recipCert = &caCert;
    ud.itgID = QRT_PKCS12_ITG_PUBKEY;
    ud.signerCert = &rootCert;
    ud.signerKey = &rootKey;
    Out pfx;
    ASSERT_EQ(QRT_PKCS12_EncodeParam(&pfx, &e, &ud), 0) << t::trace_text();

    // the SignedData and, inside, the EnvelopedData, through openssl
    // our PFX: 30 len { 02 01 03, ContentInfo } without MacData
    Bytes all = pfx.bytes();
    size_t hdr = all[1] < 0x80 ? 2 : 2 + (all[1] & 0x7F);
    Bytes signedCI(all.begin() + static_cast<long>(hdr) + 3, all.end());
    t::write_file(p.d("sd.der"), std::string(signedCI.begin(), signedCI.end()));
    const unsigned char *q = nullptr;
    unsigned char *der = nullptr;
    int len = 0;
    ASSERT_EQ(t::run("openssl cms -verify -noverify -inform DER -in " + p.d("sd.der") + " -out " + p.d("as.der") +
                     " >/dev/null 2>&1"),
              0);
    Bytes as = p.der("as.der");
    q = as.data();
    STACK_OF(PKCS7) *safes = reinterpret_cast<STACK_OF(PKCS7) *>(
        ASN1_item_d2i(nullptr, &q, static_cast<long>(as.size()), ASN1_ITEM_rptr(PKCS12_AUTHSAFES)));
    ASSERT_NE(safes, nullptr);
    ASSERT_EQ(sk_PKCS7_num(safes), 1);
    der = nullptr;
    len = i2d_PKCS7(sk_PKCS7_value(safes, 0), &der);
    t::write_file(p.d("env.der"), std::string(der, der + len));
    OPENSSL_free(der);
    sk_PKCS7_pop_free(safes, PKCS7_free);
    ASSERT_EQ(t::run("openssl cms -decrypt -inform DER -in " + p.d("env.der") + " -recip " + p.d("ca.pem") +
                     " -inkey " + p.d("ca.key") + " -out " + p.d("safe.der") + " >/dev/null 2>&1"),
              0);
    Bytes safe = p.der("safe.der");
    EXPECT_NE(std::search(safe.begin(), safe.end(), p.userCert.begin(), p.userCert.end()), safe.end());

    // back here with the recipient's key; the password reader cannot open it
    ZQ_PKCS12_USERDATA rd{};
    rd.recipCert = &caCert;
    rd.recipKey = &caKey;
    List out;
    ASSERT_EQ(QRT_PKCS12_DecodeParam(&out.head, pfx.get(), &rd), 0) << t::trace_text();
    ASSERT_NE(out.head, nullptr);
    EXPECT_EQ(Bytes(out.head->key->value, out.head->key->value + out.head->key->length), p.userKey);
    ZQ_PKCS12_USERDATA wantMac{};
    wantMac.itgID = QRT_PKCS12_ITG_PASSWORD;
    List none;
    EXPECT_EQ(QRT_PKCS12_DecodeParam(&none.head, pfx.get(), &wantMac), QRT_PKCS12_MISMATCH_ITGID);
    Decoded d(pfx.bytes(), "x");
    EXPECT_EQ(d.rc, QRT_PKCS12_MISMATCH_PVCID);

    // a changed byte of the signed content fails the signature
    Bytes broken = pfx.bytes();
    auto at = std::search(broken.begin(), broken.end(), p.userCert.begin(), p.userCert.end());
    if (at == broken.end()) {
        // the safe is encrypted: flip a byte in the middle of the encrypted content instead
        at = broken.begin() + static_cast<long>(broken.size() / 2);
    }
    *at ^= 1;
    BIN bb = view(broken);
    List out2;
    int brc = QRT_PKCS12_DecodeParam(&out2.head, &bb, &rd);
    EXPECT_TRUE(brc == QRT_PKCS12_INVALID_SIGNATURE || brc == QRT_PKCS12_BAD_SIGNED_DATA) << brc;
}

// The layered API: two safes in their own modes, attributes (a foreign one kept), and openssl's
// default file seen safe by safe.
TEST(Pkcs12Layered, SafesBagsAttributes) {
    NEED_OPENSSL();
    const Pki &p = pki();
    BIN key = view(p.userKey), cert = view(p.userCert), ca = view(p.caCert), pw = pwd("layers");
    Out shkey;
    ASSERT_EQ(QRT_PKCS12_EncodeSHKey(&shkey, 11, &key, &pw), 0);
    const Bytes name = {0, 'm', 0, 'e'}, id = {1, 0, 0, 0};
    const Bytes csp = tlv(
        0x30, cat({tlv(0x06, {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x11, 0x01}), tlv(0x31, tlv(0x1E, {0, 'x'}))}));
    BIN nameB = view(name), idB = view(id), cspB = view(csp);
    ZQ_PKCS12_ATTRIBS attrs{&nameB, &idB, &cspB};

    ZQ_PKCS12_BAG *keys = nullptr, *certs = nullptr;
    EXPECT_EQ(QRT_PKCS12_BagSet_Add(&keys, QRT_PKCS12_BAG_SHROUDEDKEY, &key, nullptr), QRT_PKCS12_BAD_SHKEY);
    EXPECT_EQ(QRT_PKCS12_BagSet_Add(&keys, 5, &key, nullptr), QRT_PKCS12_UNKNOWN_BAGID);
    ASSERT_EQ(QRT_PKCS12_BagSet_Add(&keys, QRT_PKCS12_BAG_SHROUDEDKEY, shkey.get(), &attrs), 0);
    ASSERT_EQ(QRT_PKCS12_BagSet_Add(&certs, QRT_PKCS12_BAG_CERT, &cert, &attrs), 0);
    ASSERT_EQ(QRT_PKCS12_BagSet_Add(&certs, QRT_PKCS12_BAG_CERT, &ca, nullptr), 0);
    EXPECT_EQ(QRT_PKCS12_BagSet_GetEx(certs, QRT_PKCS12_BAG_CERT, 1)->value->length, ca.length);
    EXPECT_EQ(QRT_PKCS12_BagSet_Get(certs, QRT_PKCS12_BAG_KEY), nullptr);

    ZQ_PKCS12_PFX *pfx = QRT_PKCS12_PFX_New();
    ZQ_PKCS12_PVC_MODE clear{QRT_PKCS12_PVC_NONE, 0, 0, nullptr}, sealed{QRT_PKCS12_PVC_PASSWORD, 11, 0, nullptr};
    ASSERT_EQ(QRT_PKCS12_PFX_Add(pfx, &clear, keys), 0);
    ASSERT_EQ(QRT_PKCS12_PFX_Add(pfx, &sealed, certs), 0);
    QRT_PKCS12_BagSet_Free(keys);
    QRT_PKCS12_BagSet_Free(certs);
    ZQ_PKCS12_USERDATA ud{};
    ud.itgID = QRT_PKCS12_ITG_PASSWORD;
    ud.pbeID = 11;
    ud.password = &pw;
    Out der;
    ASSERT_EQ(QRT_PKCS12_PFX_Encode(&der, pfx, &ud), 0) << t::trace_text();
    QRT_PKCS12_PFX_Free(pfx);
    std::string text = p.openssl_read(der.bytes(), "layers", "-info");
    EXPECT_EQ(count_of(text, "BEGIN PRIVATE KEY"), 1u) << text;
    EXPECT_EQ(count_of(text, "friendlyName: me"), 2u);

    ZQ_PKCS12_PFX back{};
    ASSERT_EQ(QRT_PKCS12_PFX_Decode(&back, der.get(), &ud), 0);
    ASSERT_TRUE(back.safes && back.safes->next && !back.safes->next->next);
    EXPECT_EQ(back.itgID, QRT_PKCS12_ITG_PASSWORD);
    EXPECT_EQ(back.safes->mode.pvcID, QRT_PKCS12_PVC_NONE);
    EXPECT_EQ(back.safes->next->mode.pvcID, QRT_PKCS12_PVC_PASSWORD);
    EXPECT_EQ(back.safes->next->mode.pbeID, 11);
    const ZQ_PKCS12_BAG *k = QRT_PKCS12_BagSet_Get(back.safes->bags, QRT_PKCS12_BAG_SHROUDEDKEY);
    ASSERT_NE(k, nullptr);
    ASSERT_TRUE(k->attribs.others && k->attribs.friendlyName);
    EXPECT_EQ(Bytes(k->attribs.others->value, k->attribs.others->value + k->attribs.others->length), csp);
    EXPECT_EQ(Bytes(k->attribs.friendlyName->value, k->attribs.friendlyName->value + 4), name);

    // one safe to its ContentInfo and back; attributes as DER and back
    Out ci;
    ASSERT_EQ(QRT_PKCS12_CtsSet_To_CtInfo(&ci, back.safes->next, &pw), 0);
    ZQ_PKCS12_CTS *set = nullptr;
    ASSERT_EQ(QRT_PKCS12_CtInfo_To_CtsSet(&set, ci.get(), &ud), 0);
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(QRT_PKCS12_BagSet_GetEx(set->bags, QRT_PKCS12_BAG_CERT, 1)->value->length, ca.length);
    QRT_PKCS12_CtsSet_Free(set);
    Out asn;
    ZQ_PKCS12_ATTRIBS again{};
    ASSERT_EQ(QRT_PKCS12_Attribs_To_AsnAttributes(&asn, &k->attribs), 0);
    ASSERT_EQ(QRT_PKCS12_AsnAttributes_To_Attribs(&again, asn.get()), 0);
    EXPECT_EQ(QRT_PKCS12_BIN_Cmp(again.localKeyId, &idB), 0);
    EXPECT_EQ(QRT_PKCS12_BIN_Cmp(again.others, &cspB), 0);
    QRT_PKCS12_Attribs_Reset(&again);
    QRT_PKCS12_PFX_Reset(&back);

    // openssl's default file: certificates under PBES2, the key in the clear safe
    Bytes def = p.openssl_export("", "layers");
    BIN d = view(def);
    ASSERT_EQ(QRT_PKCS12_PFX_Decode(&back, &d, &ud), 0);
    ASSERT_TRUE(back.safes && back.safes->next);
    EXPECT_EQ(back.safes->mode.pbeID, 11);
    EXPECT_NE(QRT_PKCS12_BagSet_GetEx(back.safes->bags, QRT_PKCS12_BAG_CERT, 2), nullptr);
    EXPECT_EQ(back.safes->next->mode.pvcID, QRT_PKCS12_PVC_NONE);
    EXPECT_NE(QRT_PKCS12_BagSet_Get(back.safes->next->bags, QRT_PKCS12_BAG_SHROUDEDKEY), nullptr);
    QRT_PKCS12_PFX_Reset(&back);
}

// MacData the reader must refuse before any derivation, and PBE parameters over the limit.
TEST(Pkcs12Hostile, CountsAndAlgorithms) {
    NEED_OPENSSL();
    const Pki &p = pki();
    BIN key = view(p.userKey), pw = pwd("pw");
    Out ours;
    ASSERT_EQ(QRT_PKCS12_EncodePFX(&ours, 3, &key, nullptr, nullptr, nullptr, &pw), 0);
    Bytes pfx = ours.bytes();
    // our MacData (SHA-1, 8-byte salt, 1024 iterations) is the last 51 bytes: replace its count
    const size_t mac = pfx.size() - 51;
    ASSERT_EQ(pfx[mac], 0x30);
    ASSERT_EQ(pfx[mac + 1], 0x31);
    auto with_count = [&](const Bytes &count) {
        Bytes body(pfx.begin() + static_cast<long>(mac) + 2, pfx.end() - 4);
        Bytes outer(pfx.begin() + 4, pfx.begin() + static_cast<long>(mac));
        return tlv(0x30, cat({outer, tlv(0x30, cat({body, count}))}));
    };
    for (const Bytes &count : {Bytes{0x02, 0x04, 0x7F, 0xFF, 0xFF, 0xFF}, Bytes{0x02, 0x01, 0xFF},
                               Bytes{0x02, 0x01, 0x00}, Bytes{0x02, 0x05, 0x01, 0x00, 0x00, 0x00, 0x00}}) {
        auto t0 = std::chrono::steady_clock::now();
        Decoded d(with_count(count), "pw");
        EXPECT_EQ(d.rc, QRT_PKCS12_BAD_MAC_DATA);
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(200));
    }
    Decoded sameCount(with_count({0x02, 0x02, 0x04, 0x00}), "pw");
    EXPECT_EQ(sameCount.rc, 0);

    // MD5 MacData
    const unsigned char *q = pfx.data();
    PKCS12 *p12 = d2i_PKCS12(nullptr, &q, static_cast<long>(pfx.size()));
    ASSERT_NE(p12, nullptr);
    ASSERT_EQ(PKCS12_set_mac(p12, "pw", 2, nullptr, 0, 1, EVP_md5()), 1);
    unsigned char *der = nullptr;
    int len = i2d_PKCS12(p12, &der);
    Bytes md5(der, der + len);
    OPENSSL_free(der);
    PKCS12_free(p12);
    EXPECT_EQ(Decoded(md5, "pw").rc, QRT_PKCS12_BAD_MAC_DATA);

    // safes whose PBE count is over the limit
    ASSERT_EQ(QRT_PKCS5_SetIterationLimit(1000), 0);
    int limited = Decoded(p.openssl_export("-nomac -certpbe AES-256-CBC", "pw"), "pw").rc;
    int limitedLegacy = Decoded(p.openssl_export("-nomac -certpbe PBE-SHA1-3DES", "pw"), "pw").rc;
    int limitedMac = Decoded(p.openssl_export("", "pw"), "pw").rc;
    ASSERT_EQ(QRT_PKCS5_SetIterationLimit(QRT_PKCS5_DEFAULT_ITERATION_LIMIT), 0);
    EXPECT_EQ(limited, QRT_PKCS12_BAD_ALG_PARAM);
    EXPECT_EQ(limitedLegacy, QRT_PKCS12_BAD_ALG_PARAM);
    EXPECT_EQ(limitedMac, QRT_PKCS12_BAD_MAC_DATA);
}

// Structure: certificates only, too many safes or bags, another version, a file cut anywhere.
TEST(Pkcs12Hostile, Structure) {
    NEED_OPENSSL();
    const Pki &p = pki();
    auto pfx_of = [](const Bytes &authSafe, unsigned char version = 3) {
        const Bytes dataOid = tlv(0x06, {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x01});
        return tlv(0x30, cat({Bytes{0x02, 0x01, version}, tlv(0x30, cat({dataOid, tlv(0xA0, tlv(0x04, authSafe))}))}));
    };
    auto data_safe = [](const Bytes &safeContents) {
        const Bytes dataOid = tlv(0x06, {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x01});
        return tlv(0x30, cat({dataOid, tlv(0xA0, tlv(0x04, safeContents))}));
    };
    const Bytes certBag =
        tlv(0x30, cat({tlv(0x06, {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x0C, 0x0A, 0x01, 0x03}),
                       tlv(0xA0, tlv(0x30, cat({tlv(0x06, {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x16, 0x01}),
                                                tlv(0xA0, tlv(0x04, p.userCert))})))}));
    const Bytes secretBag =
        tlv(0x30, cat({tlv(0x06, {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x0C, 0x0A, 0x01, 0x05}),
                       tlv(0xA0, Bytes{0x05, 0x00})}));

    Bytes onlyCert = pfx_of(tlv(0x30, data_safe(tlv(0x30, certBag))));
    EXPECT_EQ(Decoded(onlyCert, "").rc, QRT_PKCS12_NO_BAG);
    List list;
    BIN in = view(onlyCert), empty{0, nullptr};
    ASSERT_EQ(QRT_PKCS12_DecodePFXEx(&list.head, nullptr, nullptr, nullptr, nullptr, nullptr, &in, &empty), 0);
    ASSERT_NE(list.head, nullptr);
    EXPECT_EQ(list.head->key, nullptr);
    ASSERT_NE(list.head->certs, nullptr);

    Bytes safes64, safes65;
    for (int i = 0; i < 64; ++i) safes64 = cat({safes64, data_safe({0x30, 0x00})});
    safes65 = cat({safes64, data_safe({0x30, 0x00})});
    EXPECT_EQ(Decoded(pfx_of(tlv(0x30, safes64)), "").rc, QRT_PKCS12_NO_BAG);
    EXPECT_EQ(Decoded(pfx_of(tlv(0x30, safes65)), "").rc, QRT_PKCS12_BAD_PFX);
    Bytes bags4096, bags4097;
    for (int i = 0; i < 4096; ++i) bags4096.insert(bags4096.end(), secretBag.begin(), secretBag.end());
    bags4097 = cat({bags4096, secretBag});
    EXPECT_EQ(Decoded(pfx_of(tlv(0x30, data_safe(tlv(0x30, bags4096)))), "").rc, QRT_PKCS12_NO_BAG);
    EXPECT_EQ(Decoded(pfx_of(tlv(0x30, data_safe(tlv(0x30, bags4097)))), "").rc, QRT_PKCS12_BAD_PFX);
    EXPECT_EQ(Decoded(pfx_of(tlv(0x30, data_safe(tlv(0x30, certBag))), 2), "").rc, QRT_PKCS12_UNKNOWN_VERSION);

    // every prefix of a real file: a code, empty outputs
    Bytes small = str(t::read_file("fuzz/corpus/pkcs12_decode/legacy_iter1.p12"));
    ASSERT_FALSE(small.empty());
    Decoded whole(small, "fuzz");
    ASSERT_EQ(whole.rc, 0);
    const Bytes shkey = whole.key.bytes();
    BIN fuzzPw = pwd("fuzz");
    for (size_t n = 0; n < shkey.size(); ++n) {
        Bytes cut(shkey.begin(), shkey.begin() + static_cast<long>(n));
        BIN c = view(cut);
        Out plain;
        EXPECT_NE(QRT_PKCS12_DecodeSHKey(&plain, &c, &fuzzPw), 0) << n;
        EXPECT_TRUE(plain.empty());
    }
    for (size_t n = 0; n < small.size(); ++n) {
        Decoded d(Bytes(small.begin(), small.begin() + static_cast<long>(n)), "fuzz");
        EXPECT_NE(d.rc, 0) << n;
        EXPECT_TRUE(d.key.empty() && d.cert.empty() && d.ca.empty());
    }
}

}  // namespace
