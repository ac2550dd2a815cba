// Requests, certificates and the identity verification value against OpenSSL in one process,
// RSA-2048 with SHA-256 throughout:
//   RequestDecode  QRT_PKCS10_DecodeCertRequest (with its self-check) vs d2i_X509_REQ + X509_REQ_verify
//   RequestSign    QRT_PKCS10_EncodeCertRequest with the key vs X509_REQ_sign + i2d_X509_REQ
//   CertSign       QRT_PKC_Cert_Encode vs X509_sign + i2d_X509 (the same six extensions)
//   ComputeVID     QRT_PKC_ComputeVID vs the same two SHA-256 digests through EVP
// The ratio lines give OpenSSL's time over ours.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstring>
#include <vector>

#include "bench_certs.hpp"
#include "bench_ratio.hpp"
#include "suite_csp.h"
#include "suite_pkc.h"
#include "suite_pkcs10.h"

namespace {

using Bytes = std::vector<unsigned char>;

template <class F>
Bytes i2d(F f) {
    unsigned char *p = nullptr;
    int n = f(&p);
    Bytes out(p, p + (n > 0 ? n : 0));
    OPENSSL_free(p);
    return out;
}

BIN view(const Bytes &b) { return BIN{static_cast<unsigned>(b.size()), const_cast<unsigned char *>(b.data())}; }

struct World {
    EVP_PKEY *key = EVP_RSA_gen(2048);
    Bytes priv = i2d([&](unsigned char **p) { return i2d_PrivateKey(key, p); });  // PKCS#1 for RSA
    Bytes pub = i2d([&](unsigned char **p) { return i2d_PublicKey(key, p); });    // RSAPublicKey
    X509_REQ *req = X509_REQ_new();
    Bytes reqDer;
    Bytes leafDer = bench::make_leaf(key, EVP_sha256());
    X509 *leaf = nullptr;

    World() {
        X509_NAME *name = X509_NAME_new();
        X509_NAME_add_entry_by_txt(name, "C", MBSTRING_ASC, (const unsigned char *)"KR", -1, -1, 0);
        X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, (const unsigned char *)"Ostrel Bench", -1, -1, 0);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, (const unsigned char *)"Requester", -1, -1, 0);
        X509_REQ_set_subject_name(req, name);
        X509_NAME_free(name);
        X509_REQ_set_pubkey(req, key);
        X509_REQ_sign(req, key, EVP_sha256());
        reqDer = i2d([&](unsigned char **p) { return i2d_X509_REQ(req, p); });
        const unsigned char *p = leafDer.data();
        leaf = d2i_X509(nullptr, &p, static_cast<long>(leafDer.size()));
    }
};

World &world() {
    static World w;
    return w;
}

void decode_ostrel(benchmark::State &st) {
    BIN in = view(world().reqDer);
    ZQ_PKCS10_CERT_REQUEST req{};
    for (auto _ : st) {
        if (QRT_PKCS10_DecodeCertRequest(&req, &in)) st.SkipWithError("does not decode");
        QRT_PKCS10_ResetCertRequest(&req);
    }
}

void decode_openssl(benchmark::State &st) {
    const Bytes &der = world().reqDer;
    for (auto _ : st) {
        const unsigned char *p = der.data();
        X509_REQ *r = d2i_X509_REQ(nullptr, &p, static_cast<long>(der.size()));
        if (!r || X509_REQ_verify(r, X509_REQ_get0_pubkey(r)) != 1) st.SkipWithError("does not verify");
        X509_REQ_free(r);
    }
}

void sign_request_ostrel(benchmark::State &st) {
    World &w = world();
    BIN priv = view(w.priv);
    BIN *pub = QRT_BIN_New();
    QRT_BIN_Set(pub, w.pub.data(), static_cast<int>(w.pub.size()));
    const char subject[] = "cn=Requester,o=Ostrel Bench,c=KR";
    auto *text = static_cast<char *>(QRT_malloc(sizeof subject));
    std::memcpy(text, subject, sizeof subject);
    ZQ_PKCS10_CERT_REQUEST req{};
    req.keyAlg = QRT_PKCS10_KEY_RSA;
    req.subject = text;
    req.publicKey = pub;
    req.signID = QRT_PKCS10_SIGN_SHA256_RSA;
    for (auto _ : st) {
        BIN der{0, nullptr};
        if (QRT_PKCS10_EncodeCertRequest(&der, &req, &priv)) st.SkipWithError("does not sign");
        QRT_BIN_Reset(&der);
    }
    QRT_PKCS10_ResetCertRequest(&req);
}

void sign_request_openssl(benchmark::State &st) {
    World &w = world();
    for (auto _ : st) {
        if (X509_REQ_sign(w.req, w.key, EVP_sha256()) <= 0) st.SkipWithError("does not sign");
        unsigned char *der = nullptr;
        int n = i2d_X509_REQ(w.req, &der);
        benchmark::DoNotOptimize(n);
        OPENSSL_free(der);
    }
}

// The parameters of the OpenSSL leaf, its extension values copied into their slots.
struct CertParam {
    void *tree = nullptr;
    ZQ_PKC_CERT_PARAM p{};
    CertParam() {
        World &w = world();
        BIN in = view(w.leafDer);
        QRT_ASN_DecodePDU(&tree, &in, Certificate_PDU);
        const TBSCertificate &tbs = static_cast<Certificate *>(tree)->tbsCertificate;
        p.serialNumber = BIN{tbs.serialNumber.length, tbs.serialNumber.value};
        p.signID = QRT_CSP_SIGN_RSA_SHA256;
        p.issuer = tbs.issuer;
        p.subject = tbs.subject;
        p.notBefore = 1700000000;
        p.notAfter = 1800000000;
        p.pkeyID = QRT_CSP_PKEY_RSA;
        p.publicKey = view(w.pub);
        const struct {
            const ObjectID *oid;
            int slot;
        } slots[] = {{&id_ce_subjectKeyIdentifier, QRT_PKC_EXT_SUBJECT_KEY_ID},
                     {&id_ce_keyUsage, QRT_PKC_EXT_KEY_USAGE},
                     {&id_ce_subjectAltName, QRT_PKC_EXT_SUBJECT_ALT_NAME},
                     {&id_ce_basicConstraints, QRT_PKC_EXT_BASIC_CONSTRAINTS},
                     {&id_ce_extKeyUsage, QRT_PKC_EXT_EXT_KEY_USAGE},
                     {&id_ce_cRLDistributionPoints, QRT_PKC_EXT_CRL_DP}};
        for (auto &s : slots)
            if (const Extension *e = QRT_GetExtension(tbs.extensions, s.oid)) p.ext[s.slot] = e->extnValue;
    }
    ~CertParam() { QRT_ASN_FreePDU(tree, Certificate_PDU); }
};

void sign_cert_ostrel(benchmark::State &st) {
    CertParam c;
    BIN priv = view(world().priv);
    for (auto _ : st) {
        BIN der{0, nullptr};
        if (QRT_PKC_Cert_Encode(&der, &c.p, QRT_CSP_PKEY_RSA, 0, &priv)) st.SkipWithError("does not sign");
        QRT_BIN_Reset(&der);
    }
}

void sign_cert_openssl(benchmark::State &st) {
    World &w = world();
    for (auto _ : st) {
        if (X509_sign(w.leaf, w.key, EVP_sha256()) <= 0) st.SkipWithError("does not sign");
        unsigned char *der = nullptr;
        int n = i2d_X509(w.leaf, &der);
        benchmark::DoNotOptimize(n);
        OPENSSL_free(der);
    }
}

const char kIdn[] = "8001011234567";
const Bytes kRandom(20, 0x5a);

void vid_ostrel(benchmark::State &st) {
    BIN random = view(kRandom);
    for (auto _ : st) {
        BIN vid{0, nullptr};
        if (QRT_PKC_ComputeVID(&vid, QRT_CSP_HASH_SHA256, kIdn, &random)) st.SkipWithError("fails");
        QRT_BIN_Reset(&vid);
    }
}

// HashContent ::= SEQUENCE { idn PrintableString, randomNum BIT STRING }, built once.
void vid_openssl(benchmark::State &st) {
    const size_t idn = sizeof kIdn - 1;
    Bytes der;
    der.reserve(64);
    for (unsigned char b : {static_cast<unsigned char>(0x30), static_cast<unsigned char>(2 + idn + 2 + 21),
                            static_cast<unsigned char>(0x13), static_cast<unsigned char>(idn)})
        der.push_back(b);
    for (size_t i = 0; i < idn; ++i) der.push_back(static_cast<unsigned char>(kIdn[i]));
    for (unsigned char b : {0x03, 21, 0x00}) der.push_back(b);
    for (unsigned char b : kRandom) der.push_back(b);
    unsigned char h1[EVP_MAX_MD_SIZE], h2[EVP_MAX_MD_SIZE];
    for (auto _ : st) {
        unsigned n = 0;
        EVP_Digest(der.data(), der.size(), h1, &n, EVP_sha256(), nullptr);
        EVP_Digest(h1, n, h2, &n, EVP_sha256(), nullptr);
        benchmark::DoNotOptimize(h2[0]);
    }
}

}  // namespace

int main(int argc, char **argv) {
    world();
    benchmark::RegisterBenchmark("RequestDecode/Ostrel", decode_ostrel)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("RequestDecode/OpenSSL", decode_openssl)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("RequestSign/Ostrel", sign_request_ostrel)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("RequestSign/OpenSSL", sign_request_openssl)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("CertSign/Ostrel", sign_cert_ostrel)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("CertSign/OpenSSL", sign_cert_openssl)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("ComputeVID/Ostrel", vid_ostrel);
    benchmark::RegisterBenchmark("ComputeVID/OpenSSL", vid_openssl);
    return ostrel::bench::run_with_ratios(argc, argv);
}
