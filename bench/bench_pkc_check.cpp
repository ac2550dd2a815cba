// A certificate's signature under its issuer's key on decoded trees, against X509_verify on a
// decoded X509 with its decoded key; and the provider's whole-message RSA check (key bytes in,
// per call) against EVP_DigestVerify with an already decoded key.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <vector>

#include "bench_certs.hpp"
#include "suite_csp.h"
#include "suite_pkc.h"

namespace {

using Bytes = std::vector<unsigned char>;

const Bytes &rsa_cert() {
    static Bytes der = [] {
        EVP_PKEY *k = EVP_RSA_gen(2048);
        Bytes d = bench::make_leaf(k, EVP_sha256());
        EVP_PKEY_free(k);
        return d;
    }();
    return der;
}

void BM_Ostrel_PKC_VerifySignature(benchmark::State &state) {
    const Bytes &der = rsa_cert();
    BIN in{static_cast<unsigned>(der.size()), const_cast<unsigned char *>(der.data())};
    void *tree = nullptr;
    QRT_ASN_DecodePDU(&tree, &in, Certificate_PDU);
    auto *c = static_cast<Certificate *>(tree);
    for (auto _ : state) {
        if (QRT_PKC_VerifySignature(c, &c->tbsCertificate)) state.SkipWithError("does not verify");
    }
    QRT_ASN_FreePDU(tree, Certificate_PDU);
}

void BM_OpenSSL_X509_verify(benchmark::State &state) {
    const Bytes &der = rsa_cert();
    const unsigned char *p = der.data();
    X509 *x = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
    EVP_PKEY *key = X509_get0_pubkey(x);
    for (auto _ : state) {
        if (X509_verify(x, key) != 1) state.SkipWithError("does not verify");
    }
    X509_free(x);
}

// The message-level form: PKCS#1 key bytes, TBS and signature as a caller holds them.
void BM_Ostrel_CSP_VerifyMsgSignature(benchmark::State &state) {
    const Bytes &der = rsa_cert();
    BIN in{static_cast<unsigned>(der.size()), const_cast<unsigned char *>(der.data())};
    void *tree = nullptr;
    QRT_ASN_DecodePDU(&tree, &in, Certificate_PDU);
    auto *c = static_cast<Certificate *>(tree);
    const BitString &k = c->tbsCertificate.subjectPublicKeyInfo.subjectPublicKey;
    BIN key{(k.length + 7) / 8, k.value}, sig{(c->signature.length + 7) / 8, c->signature.value};
    for (auto _ : state) {
        if (QRT_CSP_VerifyMsgSignature(&sig, &c->tbsCertificate_encoded, &key, QRT_CSP_SIGN_RSA_SHA256, nullptr))
            state.SkipWithError("does not verify");
    }
    QRT_ASN_FreePDU(tree, Certificate_PDU);
}

void BM_OpenSSL_DigestVerify(benchmark::State &state) {
    const Bytes &der = rsa_cert();
    const unsigned char *p = der.data();
    X509 *x = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
    EVP_PKEY *key = X509_get0_pubkey(x);
    unsigned char *tbs = nullptr;
    int tbs_len = i2d_re_X509_tbs(x, &tbs);
    const ASN1_BIT_STRING *sig = nullptr;
    X509_get0_signature(&sig, nullptr, x);
    for (auto _ : state) {
        EVP_MD_CTX *ctx = EVP_MD_CTX_new();
        EVP_DigestVerifyInit(ctx, nullptr, EVP_sha256(), nullptr, key);
        if (EVP_DigestVerify(ctx, ASN1_STRING_get0_data(sig), static_cast<size_t>(ASN1_STRING_length(sig)), tbs,
                             static_cast<size_t>(tbs_len)) != 1)
            state.SkipWithError("does not verify");
        EVP_MD_CTX_free(ctx);
    }
    OPENSSL_free(tbs);
    X509_free(x);
}

}  // namespace

BENCHMARK(BM_Ostrel_PKC_VerifySignature)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OpenSSL_X509_verify)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Ostrel_CSP_VerifyMsgSignature)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OpenSSL_DigestVerify)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
