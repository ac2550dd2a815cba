// Certification requests both ways with the openssl command line (RSA v1.5 with three hashes,
// attributes, ECDSA, RSASSA-PSS, an info in non-minimal BER), the three ways of signing (key,
// callback, two steps), KCDSA round trips, and the failures and hostile inputs a caller meets.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "ostrel/der_build.hpp"
#include "ostrel/openssl_certs.hpp"
#include "ostrel/reader.hpp"
#include "ostrel/test_support.hpp"
#include "ostrel/tlv.hpp"
#include "suite_csp.h"
#include "suite_pkcs10.h"

namespace {

using Bytes = std::vector<unsigned char>;
using ostrel::test::OutBin;
using ostrel::test::read_file;
using ostrel::test::run;
using ostrel::test::TempDir;
using ostrel::test::trace_records;
using ostrel::test::trace_text;
using ostrel::test::write_file;
namespace der = ostrel::test::der;

const char kSubjectArg[] = "/C=KR/O=Ostrel Test/OU=Unit, with comma/CN=Requester";
const char kSubjectText[] = "cn=Requester,ou=Unit\\, with comma,o=Ostrel Test,c=KR";
const char kSubjectRfc2253[] = "subject=CN=Requester,OU=Unit\\, with comma,O=Ostrel Test,C=KR";
const Bytes kP256 = {0x06, 0x08, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07};

BIN view(const Bytes &b) { return BIN{static_cast<unsigned>(b.size()), const_cast<unsigned char *>(b.data())}; }
Bytes bytes_of(const std::string &s) { return Bytes(s.begin(), s.end()); }
Bytes bytes_of(const BIN *b) { return b && b->value ? Bytes(b->value, b->value + b->length) : Bytes(); }
BIN *new_bin(const Bytes &b) {
    BIN *out = QRT_BIN_New();
    QRT_BIN_Set(out, b.data(), static_cast<int>(b.size()));
    return out;
}
char *new_text(const std::string &s) {
    char *p = static_cast<char *>(QRT_malloc(s.size() + 1));
    std::memcpy(p, s.c_str(), s.size() + 1);
    return p;
}

struct Request {
    ZQ_PKCS10_CERT_REQUEST r{};
    Request() = default;
    Request(const Request &) = delete;
    ~Request() { QRT_PKCS10_ResetCertRequest(&r); }
    ZQ_PKCS10_CERT_REQUEST *operator->() { return &r; }
    ZQ_PKCS10_CERT_REQUEST *get() { return &r; }
};

// Keys made once: an RSA-2048 and a P-256 key as files for the command line and in the
// provider's forms.
struct Keys {
    TempDir dir;
    std::string rsaPem, ecPem;
    Bytes rsaPriv, rsaPub, ecPriv, ecPoint;
    EVP_PKEY *rsa = nullptr;

    Keys() {
        QRT_Trace_Initialize();
        rsaPem = dir / "rsa.pem";
        ecPem = dir / "ec.pem";
        EXPECT_EQ(run("openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out " + rsaPem + " 2>/dev/null"),
                  0);
        EXPECT_EQ(run("openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out " + ecPem + " 2>/dev/null"),
                  0);
        EXPECT_EQ(run("openssl rsa -in " + rsaPem + " -RSAPublicKey_out -outform DER -out " + (dir / "pub.der") +
                      " 2>/dev/null"),
                  0);
        rsaPub = bytes_of(read_file(dir / "pub.der"));
        rsa = load(rsaPem);
        rsaPriv = ostrel::test::provider_priv(rsa);
        EVP_PKEY *ec = load(ecPem);
        ecPriv = ostrel::test::provider_priv(ec);
        ecPoint.resize(65);
        size_t n = 0;
        EVP_PKEY_get_octet_string_param(ec, "encoded-pub-key", ecPoint.data(), ecPoint.size(), &n);
        ecPoint.resize(n);
        EVP_PKEY_free(ec);
    }
    ~Keys() { EVP_PKEY_free(rsa); }
    static EVP_PKEY *load(const std::string &pem) {
        FILE *f = fopen(pem.c_str(), "r");
        EVP_PKEY *k = f ? PEM_read_PrivateKey(f, nullptr, nullptr, nullptr) : nullptr;
        if (f) fclose(f);
        return k;
    }
    // The DER request the openssl command line makes with these options.
    Bytes openssl_req(const std::string &key, const std::string &opts) {
        std::string out = dir / "req.der";
        EXPECT_EQ(run("openssl req -new -key " + key + " -subj '" + kSubjectArg + "' " + opts + " -outform DER -out " +
                      out + " 2>&1"),
                  0)
            << opts;
        return bytes_of(read_file(out));
    }
    // openssl's verdict on a request of ours: the self-signature and the subject it prints.
    std::string openssl_verify(const Bytes &req) {
        std::string in = dir / "ours.der", text;
        write_file(in, std::string(req.begin(), req.end()));
        run("openssl req -inform DER -in " + in + " -verify -noout -subject -nameopt RFC2253 2>&1", &text);
        return text;
    }
};

Keys &keys() {
    static Keys k;
    return k;
}

int decode(Request &req, const Bytes &der) {
    BIN in = view(der);
    return QRT_PKCS10_DecodeCertRequest(req.get(), &in);
}

// The contents of the request's first element (the info) and the position of its version.
struct Parts {
    Bytes info, rest;  // the info element; the algorithm identifier and signature after it
};
Parts split(const Bytes &req) {
    using namespace ostrel;
    Reader r(req.data(), req.size()), body, content, whole;
    uint8_t tag = 0;
    EXPECT_EQ(tlv::read_tlv(r, tlv::kSequence, body), tlv::kOk);
    EXPECT_EQ(tlv::read_any(body, tag, content, &whole), tlv::kOk);
    Parts p;
    p.info.assign(whole.data(), whole.data() + whole.remaining());
    p.rest.assign(body.data(), body.data() + body.remaining());
    return p;
}

// A request for the RSA key, to be signed by the caller's choice of signer.
void rsa_request(Request &req, int signID) {
    req->keyAlg = QRT_PKCS10_KEY_RSA;
    req->subject = new_text(kSubjectText);
    req->publicKey = new_bin(keys().rsaPub);
    req->signID = signID;
}

TEST(Pkcs10Openssl, TheirRequestsDecode) {
    Keys &k = keys();
    struct Case {
        const char *opts;
        int signID;
        bool attributes;
    } cases[] = {
        {"-sha1", QRT_PKCS10_SIGN_SHA1_RSA, false},
        {"-sha256", QRT_PKCS10_SIGN_SHA256_RSA, false},
        {"-sha512", QRT_PKCS10_SIGN_SHA512_RSA, false},
        {"-sha256 -addext subjectAltName=DNS:requester.example", QRT_PKCS10_SIGN_SHA256_RSA, true},
    };
    for (const Case &c : cases) {
        Bytes der = k.openssl_req(k.rsaPem, c.opts);
        Request req;
        ASSERT_EQ(decode(req, der), 0) << c.opts << "\n" << trace_text();
        EXPECT_EQ(req->signID, c.signID) << c.opts;
        EXPECT_EQ(req->keyAlg, QRT_PKCS10_KEY_RSA);
        EXPECT_EQ(bytes_of(req->publicKey), k.rsaPub);
        EXPECT_STREQ(req->subject, kSubjectText);
        EXPECT_EQ(req->keyParam, nullptr);  // rsaEncryption's NULL is no parameter
        EXPECT_EQ(req->signParam, nullptr);
        ASSERT_EQ(req->attributes != nullptr, c.attributes) << c.opts;
        if (c.attributes) {
            EXPECT_EQ(req->attributes->value[0], 0x31);
        }
    }

    // A flipped signature bit: refused, with what the request asks for still shown.
    Bytes der = k.openssl_req(k.rsaPem, "-sha256");
    der[der.size() - 7] ^= 0x01;
    Request bad;
    EXPECT_EQ(decode(bad, der), QRT_PKCS10_INVALID_SIGNATURE);
    EXPECT_STREQ(bad->subject, kSubjectText);
    EXPECT_EQ(bytes_of(bad->publicKey), k.rsaPub);
    EXPECT_EQ(bad->signID, QRT_PKCS10_SIGN_SHA256_RSA);

    // Version 2 (value 1): refused before the signature is looked at, nothing filled.
    der = k.openssl_req(k.rsaPem, "-sha256");
    const Bytes v1 = {0x02, 0x01, 0x00};
    auto at = std::search(der.begin(), der.end(), v1.begin(), v1.end());
    ASSERT_NE(at, der.end());
    at[2] = 0x01;
    Request v2;
    EXPECT_EQ(decode(v2, der), QRT_PKCS10_UNKNOWN_VERSION);
    EXPECT_EQ(v2->subject, nullptr);
}

// An older generator's info: non-minimal lengths, signed over those very bytes.
TEST(Pkcs10Openssl, InfoInBerVerifiesAsReceived) {
    Keys &k = keys();
    Parts p = split(k.openssl_req(k.rsaPem, "-sha256"));
    using namespace ostrel;
    Reader r(p.info.data(), p.info.size()), content;
    ASSERT_EQ(tlv::read_tlv(r, tlv::kSequence, content), tlv::kOk);
    Bytes inner(content.data(), content.data() + content.remaining());
    ASSERT_EQ(Bytes(inner.begin(), inner.begin() + 3), (Bytes{0x02, 0x01, 0x00}));
    inner.erase(inner.begin(), inner.begin() + 3);
    inner.insert(inner.begin(), {0x02, 0x81, 0x01, 0x00});  // version with a long-form length
    size_t n = inner.size();
    Bytes info = {0x30, 0x84, 0x00, 0x00, static_cast<unsigned char>(n >> 8), static_cast<unsigned char>(n)};
    info.insert(info.end(), inner.begin(), inner.end());
    write_file(k.dir / "info.ber", std::string(info.begin(), info.end()));
    ASSERT_EQ(run("openssl dgst -sha256 -sign " + k.rsaPem + " -out " + (k.dir / "sig") + " " + (k.dir / "info.ber")),
              0);
    Bytes sig = {0x00};
    for (char c : read_file(k.dir / "sig")) sig.push_back(static_cast<unsigned char>(c));
    Bytes req = der::seq({info, der::sha256_rsa(), der::tlv(0x03, sig)});

    Request ours;
    EXPECT_EQ(decode(ours, req), 0) << trace_text();
    EXPECT_STREQ(ours->subject, kSubjectText);
    EXPECT_NE(k.openssl_verify(req).find("verify OK"), std::string::npos);
}

TEST(Pkcs10Openssl, EcdsaAndPssRequestsVerify) {
    Keys &k = keys();
    Request ec;
    ASSERT_EQ(decode(ec, k.openssl_req(k.ecPem, "-sha256")), 0) << trace_text();
    EXPECT_EQ(ec->keyAlg, QRT_PKCS10_KEY_EC);
    EXPECT_EQ(ec->signID, QRT_PKCS10_SIGN_ECDSA_SHA256);
    EXPECT_EQ(bytes_of(ec->keyParam), kP256);
    EXPECT_EQ(bytes_of(ec->publicKey), k.ecPoint);

    Request pss;
    ASSERT_EQ(decode(pss, k.openssl_req(k.rsaPem, "-sha256 -sigopt rsa_padding_mode:pss -sigopt rsa_pss_saltlen:32")),
              0)
        << trace_text();
    EXPECT_EQ(pss->signID, QRT_PKCS10_SIGN_RSA_PSS);
    ASSERT_NE(pss->signParam, nullptr);  // the RSASSA-PSS-params name SHA-256
    EXPECT_EQ(pss->signParam->value[0], 0x30);
}

// Our requests, signed with the key, through the callback and in two steps around openssl's
// signer, all pass openssl's self-signature check and print the subject given.
EVP_PKEY *g_signer = nullptr;
int g_callbacks = 0;
int openssl_signer(BIN *signature, const BIN *tbs, int signID, void *reserved) {
    ++g_callbacks;
    if (signID != QRT_PKCS10_SIGN_SHA256_RSA || reserved) return -5;
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    size_t n = 512;
    auto *out = static_cast<unsigned char *>(QRT_malloc(n));
    int ok = EVP_DigestSignInit(ctx, nullptr, EVP_sha256(), nullptr, g_signer) == 1 &&
             EVP_DigestSign(ctx, out, &n, tbs->value, tbs->length) == 1;
    EVP_MD_CTX_free(ctx);
    signature->value = out;
    signature->length = static_cast<unsigned>(n);
    return ok ? 0 : -6;
}
int failing_signer(BIN *, const BIN *, int, void *) {
    ++g_callbacks;
    return -77;
}

TEST(Pkcs10Openssl, OurRequestsVerify) {
    Keys &k = keys();
    g_signer = k.rsa;
    BIN priv = view(k.rsaPriv);

    std::vector<std::pair<const char *, Bytes>> made;
    {
        Request req;
        rsa_request(req, QRT_PKCS10_SIGN_SHA256_RSA);
        OutBin der;
        ASSERT_EQ(QRT_PKCS10_EncodeCertRequest(&der, req.get(), &priv), 0) << trace_text();
        made.emplace_back("key", der.bytes());
        // the empty attribute set is written, as [0] with no contents, right before the algorithm
        Parts p = split(der.bytes());
        EXPECT_EQ(Bytes(p.info.end() - 2, p.info.end()), (Bytes{0xA0, 0x00}));
    }
    {
        Request req;
        rsa_request(req, QRT_PKCS10_SIGN_SHA256_RSA);
        req->CB_ComputeSignature = openssl_signer;
        OutBin der;
        ASSERT_EQ(QRT_PKCS10_EncodeCertRequest(&der, req.get(), nullptr), 0) << trace_text();
        made.emplace_back("callback", der.bytes());
    }
    {
        Request req;
        rsa_request(req, QRT_PKCS10_SIGN_SHA256_RSA);
        OutBin info, der;
        ASSERT_EQ(QRT_PKCS10_EncodeCertRequest_Init(&info, req.get()), 0) << trace_text();
        write_file(k.dir / "tbs", std::string(info.b.value, info.b.value + info.b.length));
        ASSERT_EQ(run("openssl dgst -sha256 -sign " + k.rsaPem + " -out " + (k.dir / "sig") + " " + (k.dir / "tbs")),
                  0);
        Bytes sig = bytes_of(read_file(k.dir / "sig"));
        BIN s = view(sig);
        ASSERT_EQ(QRT_PKCS10_EncodeCertRequest_Final(&der, &info, QRT_PKCS10_SIGN_SHA256_RSA, nullptr, &s), 0);
        made.emplace_back("two steps", der.bytes());
    }
    {
        Request req;
        req->keyAlg = QRT_PKCS10_KEY_EC;
        req->subject = new_text(kSubjectText);
        req->publicKey = new_bin(k.ecPoint);
        req->keyParam = new_bin(kP256);
        req->signID = QRT_PKCS10_SIGN_ECDSA_SHA384;
        BIN ecPriv = view(k.ecPriv);
        OutBin der;
        ASSERT_EQ(QRT_PKCS10_EncodeCertRequest(&der, req.get(), &ecPriv), 0) << trace_text();
        made.emplace_back("ecdsa", der.bytes());
    }
    {
        Request req;
        rsa_request(req, QRT_PKCS10_SIGN_RSA_PSS);
        OutBin der;
        ASSERT_EQ(QRT_PKCS10_EncodeCertRequest(&der, req.get(), &priv), 0) << trace_text();
        made.emplace_back("pss defaults", der.bytes());
    }
    for (auto &[how, der] : made) {
        std::string text = k.openssl_verify(der);
        EXPECT_NE(text.find("verify OK"), std::string::npos) << how << ": " << text;
        EXPECT_NE(text.find(kSubjectRfc2253), std::string::npos) << how << ": " << text;
        Request back;
        EXPECT_EQ(decode(back, der), 0) << how << "\n" << trace_text();
        EXPECT_STREQ(back->subject, kSubjectText) << how;
    }
}

TEST(Pkcs10, SignerFailures) {
    g_signer = keys().rsa;
    Request req;
    rsa_request(req, QRT_PKCS10_SIGN_SHA256_RSA);
    OutBin der;
    EXPECT_EQ(QRT_PKCS10_EncodeCertRequest(&der, req.get(), nullptr), QRT_PKCS10_NO_CALLBACK);
    trace_records();

    req->CB_ComputeSignature = failing_signer;
    EXPECT_EQ(QRT_PKCS10_EncodeCertRequest(&der, req.get(), nullptr), QRT_PKCS10_CALLBACK_FAILED);
    EXPECT_TRUE(der.empty());
    bool recorded = false;
    for (const std::string &rec : trace_records())
        if (ostrel::test::trace_field(rec, 2) == "CB_ComputeSignature")
            recorded = ostrel::test::trace_field(rec, 3) == "-77";
    EXPECT_TRUE(recorded);

    struct Case {
        const char *what;
        int keyAlg, signID;
        const char *subject;
        int expected;
    } cases[] = {
        {"unknown key algorithm", 9, QRT_PKCS10_SIGN_SHA256_RSA, kSubjectText, QRT_PKCS10_UNKNOWN_ALGID},
        {"unknown signID", QRT_PKCS10_KEY_RSA, 99, kSubjectText, QRT_PKCS10_UNKNOWN_SIGNID},
        {"signID unfit for the key", QRT_PKCS10_KEY_RSA, QRT_PKCS10_SIGN_ECDSA_SHA256, kSubjectText,
         QRT_PKCS10_UNKNOWN_SIGNID},
        {"unparsable subject", QRT_PKCS10_KEY_RSA, QRT_PKCS10_SIGN_SHA256_RSA, "XX=nothing",
         QRT_PKCS10_SUBJECT_ENCODING_FAILED},
    };
    for (const Case &c : cases) {
        Request r;
        rsa_request(r, c.signID);
        r->keyAlg = c.keyAlg;
        QRT_free(r->subject);
        r->subject = new_text(c.subject);
        r->CB_ComputeSignature = openssl_signer;
        EXPECT_EQ(QRT_PKCS10_EncodeCertRequest(&der, r.get(), nullptr), c.expected) << c.what;
    }
    EXPECT_EQ(QRT_PKCS10_EncodeCertRequest(nullptr, req.get(), nullptr), QRT_PKCS10_INVALID_INPUT);
    const Bytes notInfo = {0x04, 0x00}, someSig = {1, 2, 3};
    BIN junk = view(notInfo), sig = view(someSig);
    EXPECT_EQ(QRT_PKCS10_EncodeCertRequest_Final(&der, &junk, 6, nullptr, &sig), QRT_PKCS10_INVALID_INPUT);
}

// KCDSA: the provider's keys, signed over the info itself, read back by our decoder; the
// parameters are demanded before anything is signed.
TEST(Pkcs10, Kcdsa) {
    OutBin param, priv, pub;
    ZQ_CSP_GenParamParam gp{};
    gp.kcdsa.primeLength = 1024;
    ASSERT_EQ(QRT_CSP_GenerateParam(&param, QRT_CSP_PKEY_KCDSA, &gp), 0) << trace_text();
    ZQ_CSP_GenKeyPairParam kp{};
    kp.kcdsa.pkeyParam = param.get();
    ASSERT_EQ(QRT_CSP_GenerateKeyPair(&priv, &pub, QRT_CSP_PKEY_KCDSA, &kp), 0) << trace_text();
    // OstrelPrivateKey ::= SEQUENCE { algorithm INTEGER, parameters, public INTEGER, private INTEGER }
    using namespace ostrel;
    Reader r(priv.b.value, priv.b.length), body, c, y, x;
    uint8_t tag = 0;
    ASSERT_EQ(tlv::read_tlv(r, tlv::kSequence, body), tlv::kOk);
    ASSERT_EQ(tlv::read_any(body, tag, c), tlv::kOk);
    ASSERT_EQ(tlv::read_any(body, tag, c), tlv::kOk);
    ASSERT_EQ(tlv::read_any(body, tag, c, &y), tlv::kOk);
    ASSERT_EQ(tlv::read_any(body, tag, c, &x), tlv::kOk);
    Bytes yDer(y.data(), y.data() + y.remaining()), xDer(x.data(), x.data() + x.remaining());
    BIN key = view(xDer);

    for (int signID : {QRT_PKCS10_SIGN_KCDSA_SHA1, QRT_PKCS10_SIGN_KCDSA_HAS160, QRT_PKCS10_SIGN_KCDSA_SHA256}) {
        Request req;
        req->keyAlg = QRT_PKCS10_KEY_KCDSA;
        req->subject = new_text("cn=KCDSA Requester,c=KR");
        req->publicKey = new_bin(yDer);
        req->keyParam = new_bin(bytes_of(param.get()));
        req->signID = signID;
        if (signID == QRT_PKCS10_SIGN_KCDSA_SHA1) req->signParam = new_bin(bytes_of(param.get()));
        OutBin der;
        ASSERT_EQ(QRT_PKCS10_EncodeCertRequest(&der, req.get(), &key), 0) << signID << "\n" << trace_text();
        Request back;
        ASSERT_EQ(decode(back, der.bytes()), 0) << signID << "\n" << trace_text();
        EXPECT_EQ(back->keyAlg, QRT_PKCS10_KEY_KCDSA);
        EXPECT_EQ(back->signID, signID);
        EXPECT_EQ(bytes_of(back->keyParam), bytes_of(param.get()));
        EXPECT_EQ(bytes_of(back->publicKey), yDer);
        EXPECT_EQ(back->signParam != nullptr, signID == QRT_PKCS10_SIGN_KCDSA_SHA1);
    }

    Request noParams;
    noParams->keyAlg = QRT_PKCS10_KEY_KCDSA;
    noParams->subject = new_text("cn=KCDSA Requester");
    noParams->publicKey = new_bin(yDer);
    noParams->signID = QRT_PKCS10_SIGN_KCDSA_SHA1;
    noParams->CB_ComputeSignature = failing_signer;
    g_callbacks = 0;
    OutBin der;
    EXPECT_EQ(QRT_PKCS10_EncodeCertRequest(&der, noParams.get(), nullptr), QRT_PKCS10_NO_KEY_PARAM);
    EXPECT_EQ(QRT_PKCS10_EncodeCertRequest(&der, noParams.get(), &key), QRT_PKCS10_NO_KEY_PARAM);
    EXPECT_EQ(g_callbacks, 0);

    // the signer's public key is part of what KCDSA hashes
    ZQ_PKCS10_KEY block{&key, nullptr, param.get(), nullptr};
    const Bytes message = {1, 2, 3};
    BIN data = view(message);
    EXPECT_EQ(QRT_PKCS10_ComputeSignature(der.get(), &data, &block, QRT_PKCS10_SIGN_KCDSA_SHA1),
              QRT_PKCS10_NO_PUBLIC_KEY);
}

TEST(Pkcs10, SignaturesAndMaps) {
    Keys &k = keys();
    const Bytes message = bytes_of("to be signed");
    BIN priv = view(k.rsaPriv), pub = view(k.rsaPub), data = view(message);
    ZQ_PKCS10_KEY signer{&priv, nullptr, nullptr, nullptr}, checker{nullptr, &pub, nullptr, nullptr};
    OutBin sig;
    ASSERT_EQ(QRT_PKCS10_ComputeSignature(&sig, &data, &signer, QRT_PKCS10_SIGN_SHA512_RSA), 0) << trace_text();
    EXPECT_EQ(QRT_PKCS10_VerifySignature(&sig.b, &data, &checker, QRT_PKCS10_SIGN_SHA512_RSA), 0) << trace_text();
    EXPECT_EQ(QRT_PKCS10_VerifySignature(&sig.b, &data, &checker, QRT_PKCS10_SIGN_SHA256_RSA),
              QRT_PKCS10_INVALID_SIGNATURE);
    sig.b.value[3] ^= 0x40;
    EXPECT_EQ(QRT_PKCS10_VerifySignature(&sig.b, &data, &checker, QRT_PKCS10_SIGN_SHA512_RSA),
              QRT_PKCS10_INVALID_SIGNATURE);
    EXPECT_EQ(QRT_PKCS10_VerifySignature(&sig.b, &data, &checker, 0), QRT_PKCS10_UNKNOWN_SIGNID);

    // the request numbering is not the provider's: 6 is SHA-256 here
    EXPECT_EQ(QRT_PKCS10_SignID_To_ObjID(6), &sha256WithRSAEncryption);
    EXPECT_EQ(QRT_PKCS10_SignID_To_ObjID(4), &kcdsaWithSHA1);
    EXPECT_EQ(QRT_PKCS10_ObjID_To_SignID(&kcdsa1WithSHA1), 4);
    EXPECT_EQ(QRT_PKCS10_ObjID_To_SignID(&sha384WithRSAEncryption), 7);
    EXPECT_EQ(QRT_PKCS10_ObjID_To_SignID(&rsaEncryption), -1);
    EXPECT_EQ(QRT_PKCS10_SignID_To_ObjID(30), nullptr);

    EXPECT_STREQ(QRT_PKCS10_GetVersion(), "1.6.1.0");
    EXPECT_STREQ(QRT_PKCS10_GetErrorReason(QRT_PKCS10_INVALID_SIGNATURE, 1), "invalid signature");
    EXPECT_STREQ(QRT_PKCS10_GetErrorReason(QRT_PKCS10_CALLBACK_FAILED, 1), "UnDefined Error Reason");
    EXPECT_STREQ(QRT_PKCS10_GetErrorReason(QRT_CSP_INVALID_SIGNATURE, 1), "UnDefined Error Reason");
}

// Outsized and malformed inputs give clean codes and leave nothing behind.
TEST(Pkcs10, HostileInput) {
    Keys &k = keys();
    BIN priv = view(k.rsaPriv);
    Request big;
    rsa_request(big, QRT_PKCS10_SIGN_SHA256_RSA);
    QRT_free(big->subject);
    big->subject = new_text("cn=" + std::string(1 << 20, 'a'));
    OutBin der;
    EXPECT_EQ(QRT_PKCS10_EncodeCertRequest(&der, big.get(), &priv), QRT_PKCS10_SUBJECT_ENCODING_FAILED);

    // 10,000 attributes, each an unstructuredName
    Bytes attrs;
    for (int i = 0; i < 10000; ++i) {
        std::string v = "attribute " + std::to_string(i);
        Bytes a = der::seq({der::tlv(0x06, {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x09, 0x02}),
                            der::tlv(0x31, der::text(0x16, v))});
        attrs.insert(attrs.end(), a.begin(), a.end());
    }
    Request many;
    rsa_request(many, QRT_PKCS10_SIGN_SHA256_RSA);
    many->attributes = new_bin(der::tlv(0x31, attrs));
    ASSERT_EQ(QRT_PKCS10_EncodeCertRequest(&der, many.get(), &priv), 0) << trace_text();
    Request back;
    ASSERT_EQ(decode(back, der.bytes()), 0) << trace_text();
    ASSERT_NE(back->attributes, nullptr);  // in DER order, so compared by length
    EXPECT_EQ(back->attributes->length, many->attributes->length);
    QRT_BIN_Reset(&der);

    // a 16 KB public key: written, and refused cleanly when read back
    Request wide;
    rsa_request(wide, QRT_PKCS10_SIGN_SHA256_RSA);
    QRT_BIN_Free(wide->publicKey);
    wide->publicKey = new_bin(Bytes(16384, 0x5a));
    wide->CB_ComputeSignature = openssl_signer;
    g_signer = k.rsa;
    ASSERT_EQ(QRT_PKCS10_EncodeCertRequest(&der, wide.get(), nullptr), 0) << trace_text();
    Request refused;
    EXPECT_EQ(decode(refused, der.bytes()), QRT_PKCS10_CSP_FUNCTION_FAILED);
    EXPECT_EQ(refused->subject, nullptr);

    // truncations of a good request
    Bytes good = k.openssl_req(k.rsaPem, "-sha256");
    for (size_t n : {size_t{0}, size_t{1}, size_t{4}, good.size() / 2, good.size() - 1}) {
        Request cut;
        Bytes part(good.begin(), good.begin() + static_cast<long>(n));
        int code = n ? decode(cut, part) : QRT_PKCS10_DecodeCertRequest(cut.get(), nullptr);
        EXPECT_TRUE(code == QRT_PKCS10_BAD_CERT_REQUEST || code == QRT_PKCS10_INVALID_INPUT) << n << " " << code;
        EXPECT_EQ(cut->subject, nullptr);
    }
    trace_records();
}

}  // namespace
