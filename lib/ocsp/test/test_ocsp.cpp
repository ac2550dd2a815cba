// Requests read by OpenSSL, answers of `openssl ocsp` read by us (wrong signers, a BER answer,
// error statuses; the statuses and signers OpenSSL offers are in tests/ocsp_peer), and the whole exchange over the
// record framing against a record server that hands each query to `openssl ocsp -reqin/-respout`.
#include <gtest/gtest.h>
#include <openssl/ocsp.h>

#include <cstring>

#include "ocsp_pki.hpp"
#include "ostrel/der_build.hpp"
#include "ostrel/loopback_server.hpp"
#include "ostrel/openssl_certs.hpp"
#include "ostrel/test_support.hpp"
#include "ostrel/tlv.hpp"

namespace {

using namespace ocsp_test;
using ostrel::test::LoopbackServer;
using ostrel::test::OutBin;
using ostrel::test::record_handler;

[[maybe_unused]] const int kTraceOn = QRT_Trace_Initialize();

const Pki &pki() {
    static Pki p;
    return p;
}

Bytes encode(const ZQ_OCSP_Request &r, const BIN *key = nullptr, int expect = 0) {
    OutBin out;
    EXPECT_EQ(QRT_OCSP_EncodeRequest(&out, &r, key), expect);
    if (expect) {
        EXPECT_TRUE(out.empty());
    }
    return out.bytes();
}

OCSP_REQUEST *d2i_request(const Bytes &der) {
    const unsigned char *p = der.data();
    return d2i_OCSP_REQUEST(nullptr, &p, static_cast<long>(der.size()));
}

// The DER CertIDs of a request, in order, as OpenSSL reads them.
std::vector<Bytes> cert_ids(const Bytes &der) {
    std::vector<Bytes> ids;
    OCSP_REQUEST *req = d2i_request(der);
    if (!req) return ids;
    for (int i = 0; i < OCSP_request_onereq_count(req); ++i) {
        OCSP_CERTID *id = OCSP_onereq_get0_id(OCSP_request_onereq_get0(req, i));
        unsigned char *p = nullptr;
        int n = i2d_OCSP_CERTID(id, &p);
        ids.emplace_back(p, p + n);
        OPENSSL_free(p);
    }
    OCSP_REQUEST_free(req);
    return ids;
}

// OCSP_request_verify of a signed request, its signer certificate carried in it, the CA trusted.
int openssl_verify(const Bytes &der) {
    OCSP_REQUEST *req = d2i_request(der);
    if (!req) return -2;
    X509_STORE *store = X509_STORE_new();
    X509_STORE_load_file(store, pki().path("ca.pem").c_str());
    int rc = OCSP_request_verify(req, nullptr, store, 0);
    X509_STORE_free(store);
    OCSP_REQUEST_free(req);
    return rc;
}

EVP_PKEY *load_key(const std::string &keyFile) {
    FILE *f = std::fopen(pki().path(keyFile).c_str(), "r");
    EVP_PKEY *key = f ? PEM_read_PrivateKey(f, nullptr, nullptr, nullptr) : nullptr;
    if (f) std::fclose(f);
    return key;
}

// Signs with a PEM key of the PKI through OpenSSL.
Bytes openssl_sign(const std::string &keyFile, const EVP_MD *md, const Bytes &data) {
    EVP_PKEY *key = load_key(keyFile);
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    size_t n = 0;
    Bytes sig;
    if (key && EVP_DigestSignInit(ctx, nullptr, md, nullptr, key) == 1 &&
        EVP_DigestSign(ctx, nullptr, &n, data.data(), data.size()) == 1) {
        sig.resize(n);
        EVP_DigestSign(ctx, sig.data(), &n, data.data(), data.size());
        sig.resize(n);
    }
    EVP_MD_CTX_free(ctx);
    EVP_PKEY_free(key);
    return sig;
}

// A PEM private key of the PKI in the provider's form.
Bytes provider_key(const std::string &keyFile) {
    EVP_PKEY *key = load_key(keyFile);
    Bytes der = key ? ostrel::test::provider_priv(key) : Bytes();
    EVP_PKEY_free(key);
    return der;
}

// An outside signer: the delegated responder's RSA key with SHA-1, through OpenSSL.
int sign_outside(BIN *sigOut, int kind, const BIN *tbs) {
    Bytes sig = kind == 1 ? openssl_sign("rsp.key", EVP_sha1(), Bytes(tbs->value, tbs->value + tbs->length)) : Bytes();
    if (sig.empty()) return -1;
    sigOut->value = static_cast<unsigned char *>(QRT_malloc(sig.size()));
    std::memcpy(sigOut->value, sig.data(), sig.size());
    sigOut->length = static_cast<unsigned>(sig.size());
    return 0;
}

TEST(OcspRequest, OpenSSLReadsOurRequests) {
    ASSERT_TRUE(pki().ok());
    Req r(pki(), {"ee1", "rsp"});
    r.sign_cert(pki().der("rsp"));
    Bytes der = encode(r.r);
    pki().write("ours.der", der);
    std::string text = pki().sh("openssl ocsp -reqin ours.der -req_text");
    EXPECT_NE(text.find("Requestor Name: DirName:CN = rsp"), std::string::npos) << text;
    // ee1 has authorityInfoAccess, the responder's certificate has none
    size_t locator = text.find("Service Locator:");
    EXPECT_NE(locator, std::string::npos) << text;
    EXPECT_EQ(text.find("Service Locator:", locator + 1), std::string::npos) << text;
    EXPECT_NE(text.find("URI:http://127.0.0.1/ocsp"), std::string::npos) << text;
    // the nonce: an OCTET STRING of 20 octets inside extnValue
    size_t at = text.find("OCSP Nonce:");
    ASSERT_NE(at, std::string::npos) << text;
    EXPECT_EQ(text.find("0414", at), text.find_first_not_of(" \n", at + 11)) << text;

    // the same CertIDs as openssl's own request for these certificates
    pki().sh("openssl ocsp -issuer ca.pem -cert ee1.pem -cert rsp.pem -no_nonce -reqout theirs.der");
    std::vector<Bytes> ours = cert_ids(der), theirs = cert_ids(pki().file("theirs.der"));
    ASSERT_EQ(ours.size(), 2u);
    EXPECT_EQ(ours, theirs);

    // and the fields python computes from certificate and issuer
    Bytes ee1 = pki().der("ee1");
    BIN c = bin(ee1);
    CertID asn{};
    ASSERT_EQ(QRT_OCSP_AsnCertID_Encode(&asn, &c), 0);
    ZQ_OCSP_CertID id{};
    ASSERT_EQ(QRT_OCSP_AsnCertID_Decode(&id, &asn), 0);
    EXPECT_EQ(id.hashID, 3);
    EXPECT_EQ(cert_id_text(id), pki().python_cert_id("ee1"));
    QRT_OCSP_CertID_Reset(&id);
    QRT_OCSP_AsnCertID_Reset(&asn);

    // a fresh nonce every time
    Req one(pki(), {"ee1"});
    EXPECT_NE(encode(one.r), encode(one.r));
}

TEST(OcspRequest, SignedRequestsPassOpenSSLVerify) {
    ASSERT_TRUE(pki().ok());
    Req r(pki(), {"ee1"});
    r.sign_cert(pki().der("rsp"));
    r.r.signatureAttach = 1;
    r.r.signCertAttach = 1;
    r.r.signID = QRT_OCSP_SIGN_RSA_SHA1;
    Bytes key = provider_key("rsp.key");
    BIN k = bin(key);
    EXPECT_EQ(openssl_verify(encode(r.r, &k)), 1);

    // two phases around an outside signer
    OutBin tbs, sig, der;
    ASSERT_EQ(QRT_OCSP_EncodeRequest_Init(&tbs, &r.r), 0);
    ASSERT_EQ(sign_outside(sig.get(), 1, tbs.get()), 0);
    ASSERT_EQ(QRT_OCSP_EncodeRequest_Final(&der, tbs.get(), sig.get(), &r.r), 0);
    EXPECT_EQ(openssl_verify(der.bytes()), 1);

    // our own signature and check of the same bytes, under the signer certificate
    Bytes rsp = pki().der("rsp");
    BIN cert = bin(rsp);
    OutBin ours;
    ASSERT_EQ(QRT_OCSP_ComputeSignature(&ours, tbs.get(), &k, QRT_OCSP_SIGN_RSA_SHA1, &cert), 0);
    EXPECT_EQ(ours.bytes(), sig.bytes());  // PKCS#1 v1.5 is deterministic
    Bytes alg{0x30, 0x0d, 0x06, 0x09, 0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x01, 0x05, 0x05, 0x00};
    BIN algBin = bin(alg);
    EXPECT_EQ(QRT_OCSP_VerifySignature(tbs.get(), &algBin, ours.get(), &cert), 0);
    ours.b.value[0] ^= 1;
    EXPECT_EQ(QRT_OCSP_VerifySignature(tbs.get(), &algBin, ours.get(), &cert), QRT_OCSP_INVALID_SIGNATURE);

    // an ECDSA signer with SHA-256, the key algorithm taken from the signer certificate
    Req e(pki(), {"ee1"});
    e.sign_cert(pki().der("rspec"));
    e.r.signatureAttach = e.r.signCertAttach = 1;
    e.r.signID = QRT_OCSP_SIGN_CERTKEY_SHA256;
    Bytes ecKey = provider_key("rspec.key");
    BIN ek = bin(ecKey);
    EXPECT_EQ(openssl_verify(encode(e.r, &ek)), 1);
}

TEST(OcspRequest, RefusedRequestsLeaveNothing) {
    ASSERT_TRUE(pki().ok());
    Bytes key = provider_key("rsp.key");
    BIN k = bin(key);
    Req r(pki(), {"ee1"});
    r.r.signatureAttach = 1;
    r.r.signID = QRT_OCSP_SIGN_RSA_SHA1;
    encode(r.r, nullptr, QRT_OCSP_INVALID_INPUT);
    r.r.signID = 2;
    encode(r.r, &k, QRT_OCSP_UNKNOWN_SIGNID);
    r.r.signID = QRT_OCSP_SIGN_KCDSA_SHA1;  // KCDSA needs the signer certificate's parameters
    encode(r.r, &k, QRT_OCSP_BAD_CERT);
    r.r.signatureAttach = 0;
    r.sign_cert(bytes("not a certificate"));
    encode(r.r, nullptr, QRT_OCSP_BAD_CERT);

    Req noaki(pki(), {"ee1", "noaki"});
    encode(noaki.r, nullptr, QRT_OCSP_NO_AKI_IN_CERT);
    Bytes nocert = pki().der("noaki");
    BIN nc = bin(nocert);
    OutBin sl;
    EXPECT_EQ(QRT_OCSP_ServiceLocator_Encode(&sl, &nc), QRT_OCSP_NO_AIA_IN_CERT);
    EXPECT_TRUE(sl.empty());

    OutBin out;
    Bytes notTbs = bytes("\x30\x03\x02\x01\x01");
    BIN junk = bin(notTbs);
    EXPECT_EQ(QRT_OCSP_EncodeRequest_Final(&out, &junk, &junk, &r.r), QRT_OCSP_BAD_REQUEST);
    EXPECT_TRUE(out.empty());
}

// Decodes a response; the record must be empty whenever the result is not 0.
int decode(Resp &resp, const Bytes &der, const char *serverCert, int checkSign = 0) {
    Bytes server = serverCert ? pki().der(serverCert) : Bytes();
    BIN d = bin(der), s = bin(server);
    int rc = QRT_OCSP_DecodeResponseEx(&resp.r, &d, serverCert ? &s : nullptr, checkSign);
    if (rc) {
        EXPECT_TRUE(resp.empty()) << rc;
    }
    return rc;
}

// A CA-signed answer (no certificates) rebuilt with the length of tbsResponseData in a longer
// form than DER allows, and signed again over those bytes: valid BER, valid only as received.
Bytes ber_answer(const Bytes &der) {
    using namespace ostrel::tlv;
    using namespace ostrel::test::der;
    // OCSPResponse { status, [0] { ResponseBytes { type, OCTET STRING { BasicOCSPResponse } } } }
    ostrel::Reader r(der.data(), der.size()), resp, status, a0, rb, type, os, basic, tbs, alg, whole;
    uint8_t tag = 0;
    bool ok = !read_tlv(r, 0x30, resp) && !read_tlv(resp, 0x0a, status) && !read_tlv(resp, 0xa0, a0) &&
              !read_tlv(a0, 0x30, rb) && !read_tlv(rb, 0x06, type) && !read_tlv(rb, 0x04, os) &&
              !read_tlv(os, 0x30, basic) && !read_tlv(basic, 0x30, tbs) && !read_any(basic, tag, alg, &whole);
    EXPECT_TRUE(ok);
    Bytes content(tbs.data(), tbs.data() + tbs.remaining());
    Bytes berTbs = cat({{0x30, 0x84, 0, 0, static_cast<unsigned char>(content.size() >> 8),
                         static_cast<unsigned char>(content.size())},
                        content});
    Bytes bits = cat({{0x00}, openssl_sign("ca.key", EVP_sha256(), berTbs)});
    Bytes basicDer = seq({berTbs, Bytes(whole.data(), whole.data() + whole.remaining()), tlv(0x03, bits)});
    Bytes basicType(type.data(), type.data() + type.remaining());
    return seq({Bytes{0x0a, 0x01, 0x00}, tlv(0xa0, seq({tlv(0x06, basicType), tlv(0x04, basicDer)}))});
}

TEST(OcspResponse, OnlyAnAuthorisedSignerSpeaks) {
    ASSERT_TRUE(pki().ok());
    Req r(pki(), {"ee1"});
    Bytes q = encode(r.r);
    Bytes evil = pki().respond(q, "-rsigner evil.pem -rkey evil.key");
    Bytes evilBare = pki().respond(q, "-rsigner evil.pem -rkey evil.key -resp_no_certs");
    Bytes eeSigned = pki().respond(q, "-rsigner ee1.pem -rkey ee1.key");  // issued by the CA, not for OCSP
    Bytes bare = pki().respond(q, "-rsigner ca.pem -rkey ca.key -resp_no_certs");
    Bytes delegated = pki().respond(q, "-rsigner rsp.pem -rkey rsp.key -resp_key_id");
    Bytes flipped = bare;
    flipped.back() ^= 0x01;  // the signature's last octet: no certificate follows it

    struct Case {
        const char *what;
        const Bytes &der;
        const char *server;
        int checkSign;
        int expect;
    } cases[] = {
        {"look-alike of the CA embedded", evil, "ca", 0, QRT_OCSP_BAD_CERT},
        {"look-alike without certificates", evilBare, "ca", 0, QRT_OCSP_INVALID_SIGNATURE},
        {"end entity of the CA as responder", eeSigned, "ca", 0, QRT_OCSP_BAD_CERT},
        {"no certificate anywhere", bare, nullptr, 0, QRT_OCSP_NO_CERT},
        {"CA without certificates, CA given", bare, "ca", 0, 0},
        {"delegated by key, CA given", delegated, "ca", 0, 0},
        {"delegated by key, nothing given", delegated, nullptr, 0, 0},
        {"flipped signature bit", flipped, "ca", 0, QRT_OCSP_INVALID_SIGNATURE},
        {"flipped signature bit, not checked", flipped, "ca", 1, 0},
        {"responder ID names another", bare, "rsp", 1, QRT_OCSP_MISMATCH_RESPONDERID},
        {"a BER answer", ber_answer(bare), "ca", 0, 0},
    };
    for (const Case &c : cases) {
        Resp resp;
        EXPECT_EQ(decode(resp, c.der, c.server, c.checkSign), c.expect) << c.what;
    }
}

TEST(OcspResponse, StatusesAndMalformedAnswers) {
    struct Case {
        Bytes der;
        int expect;
    } cases[] = {
        {{0x30, 0x03, 0x0a, 0x01, 0x01}, QRT_OCSP_ERROR_MALFORMED_REQUEST},
        {{0x30, 0x03, 0x0a, 0x01, 0x02}, QRT_OCSP_ERROR_INTERNAL_ERROR},
        {{0x30, 0x03, 0x0a, 0x01, 0x03}, QRT_OCSP_ERROR_TRY_LATER},
        {{0x30, 0x03, 0x0a, 0x01, 0x05}, QRT_OCSP_ERROR_SIG_REQUIRED},
        {{0x30, 0x03, 0x0a, 0x01, 0x06}, QRT_OCSP_ERROR_UNAUTHORIZED},
        {{0x30, 0x03, 0x0a, 0x01, 0x04}, QRT_OCSP_ERROR_UNKNOWN},
        {{0x30, 0x03, 0x0a, 0x01, 0x00}, QRT_OCSP_BAD_RESPONSE},  // successful without responseBytes
        {bytes("<html>no</html>"), QRT_OCSP_BAD_RESPONSE},
        // responseBytes of another type
        {{0x30, 0x14, 0x0a, 0x01, 0x00, 0xa0, 0x0f, 0x30, 0x0d, 0x06, 0x09,
          0x2b, 0x06, 0x01, 0x05, 0x05, 0x07, 0x30, 0x01, 0x02, 0x04, 0x00},
         QRT_OCSP_BAD_RESPONSE},
        // basic, but not a BasicOCSPResponse
        {{0x30, 0x14, 0x0a, 0x01, 0x00, 0xa0, 0x0f, 0x30, 0x0d, 0x06, 0x09,
          0x2b, 0x06, 0x01, 0x05, 0x05, 0x07, 0x30, 0x01, 0x01, 0x04, 0x00},
         QRT_OCSP_ASN_DECODING_FAILED},
    };
    for (auto &c : cases) {
        Resp resp;
        ostrel::test::trace_records();
        EXPECT_EQ(decode(resp, c.der, nullptr), c.expect) << to_hex(c.der.data(), c.der.size());
        std::vector<std::string> trace = ostrel::test::trace_records();
        ASSERT_FALSE(trace.empty());
        EXPECT_EQ(ostrel::test::trace_field(trace.back(), 2), "QRT_OCSP_DecodeResponseEx");
        EXPECT_EQ(ostrel::test::trace_field(trace.back(), 3), std::to_string(c.expect));
    }
}

// QRT_OCSP_Client over the record framing against a record server; answer decides what the
// server sends back for each query.
struct RecordPeer {
    LoopbackServer server;
    explicit RecordPeer(std::function<Bytes(const Bytes &)> answer) {
        server.start(record_handler([answer](const std::vector<unsigned char> &q, std::vector<unsigned char> &reply) {
            reply = answer(q);
            return !reply.empty();
        }));
    }
    int exchange(Resp &resp, OutBin &reqOut, OutBin &respOut, const ZQ_OCSP_Request &r, const ZQ_OCSP_ClientParam &p) {
        int fd = QRT_Socket_ClientEx("127.0.0.1", server.port(), 5);
        int rc = QRT_OCSP_Client(&resp.r, &reqOut, &respOut, &r, &p, fd);
        QRT_Socket_Close(fd);
        if (rc) {
            EXPECT_TRUE(resp.empty() && reqOut.empty() && respOut.empty()) << rc;
        }
        return rc;
    }
};

TEST(OcspClient, RecordTransportAgainstOpenSSL) {
    ASSERT_TRUE(pki().ok());
    RecordPeer peer([](const Bytes &q) { return pki().respond(q); });
    Bytes ca = pki().der("ca");
    BIN caBin = bin(ca);
    ZQ_OCSP_ClientParam p{};
    p.serverCert = &caBin;
    Req r(pki(), {"ee2"});
    Resp resp;
    OutBin reqOut, respOut;
    ASSERT_EQ(peer.exchange(resp, reqOut, respOut, r.r, p), 0);
    EXPECT_EQ(resp.singles().at(0)->certStatus, QRT_OCSP_STATUS_REVOKED);
    // the responder echoed our nonce: its 22 octets stand in the response
    Bytes q = reqOut.bytes(), a = respOut.bytes();
    Bytes nonce(q.end() - 22, q.end());
    EXPECT_NE(std::search(a.begin(), a.end(), nonce.begin(), nonce.end()), a.end());

    // signed in two phases by the caller's signer
    Req s(pki(), {"ee1"});
    s.sign_cert(pki().der("rsp"));
    s.r.signatureAttach = s.r.signCertAttach = 1;
    s.r.signID = QRT_OCSP_SIGN_RSA_SHA1;
    p.CB_ComputeSignature = sign_outside;
    Resp signedResp;
    OutBin sq, sa;
    EXPECT_EQ(peer.exchange(signedResp, sq, sa, s.r, p), 0);
    EXPECT_EQ(openssl_verify(sq.bytes()), 1);

    // neither key nor signer: refused before anything is sent
    p.CB_ComputeSignature = nullptr;
    Resp none;
    OutBin nq, na;
    EXPECT_EQ(peer.exchange(none, nq, na, s.r, p), QRT_OCSP_INVALID_INPUT);
}

TEST(OcspClient, NonceMustAnswerThisRequest) {
    ASSERT_TRUE(pki().ok());
    Req other(pki(), {"ee1"});
    Bytes stale = pki().respond(encode(other.r));  // carries another request's nonce
    pki().sh("openssl ocsp -issuer ca.pem -cert ee1.pem -no_nonce -reqout plain.der");
    Bytes plain = pki().respond(pki().file("plain.der"));  // carries none
    Bytes ca = pki().der("ca");
    BIN caBin = bin(ca);
    ZQ_OCSP_ClientParam p{};
    p.serverCert = &caBin;
    Req r(pki(), {"ee1"});
    for (const auto &[answer, expect] : {std::pair{&stale, QRT_OCSP_BAD_RESPONSE}, std::pair{&plain, 0}}) {
        RecordPeer peer([answer](const Bytes &) { return *answer; });
        Resp resp;
        OutBin q, a;
        EXPECT_EQ(peer.exchange(resp, q, a, r.r, p), expect);
    }
}

}  // namespace
