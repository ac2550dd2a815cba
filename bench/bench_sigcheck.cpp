// Checking a certificate's signature once it is decoded: the provider's one entry point over the
// TBS bytes the ASN.1 tree kept and the kept SubjectPublicKeyInfo, against X509_verify on an
// already decoded X509 with its already decoded key, for RSA-2048 with SHA-256 and ECDSA P-256.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <vector>

#include "bench_certs.hpp"
#include "suite_asn.h"
#include "suite_csp.h"

namespace {

using Bytes = std::vector<unsigned char>;

const Bytes &cert(int which) {
    static Bytes rsa, ec;
    if (rsa.empty()) {
        EVP_PKEY *k = EVP_RSA_gen(2048);
        rsa = bench::make_leaf(k, EVP_sha256());
        EVP_PKEY_free(k);
        k = EVP_EC_gen("P-256");
        ec = bench::make_leaf(k, EVP_sha256());
        EVP_PKEY_free(k);
    }
    return which ? ec : rsa;
}

void BM_Ostrel_VerifySignedData(benchmark::State &state) {
    const Bytes &der = cert(static_cast<int>(state.range(0)));
    BIN in{static_cast<unsigned>(der.size()), const_cast<unsigned char *>(der.data())};
    void *tree = nullptr;
    if (QRT_ASN_DecodePDU(&tree, &in, Certificate_PDU)) {
        state.SkipWithError("decode failed");
        return;
    }
    const Certificate *c = static_cast<Certificate *>(tree);
    BIN params = c->signatureAlgorithm.parameters;
    ZQ_CSP_AlgID id{c->signatureAlgorithm.algorithm.value, c->signatureAlgorithm.algorithm.length,
                    (c->signatureAlgorithm.bit_mask & AlgorithmIdentifier_parameters_present) ? &params : nullptr};
    BIN sig{(c->signature.length + 7) / 8, c->signature.value};
    for (auto _ : state) {
        int rc = QRT_CSP_VerifySignedData(&id, &c->tbsCertificate_encoded, &sig,
                                          &c->tbsCertificate.subjectPublicKeyInfo_encoded, nullptr);
        if (rc) state.SkipWithError("signature does not verify");
        benchmark::DoNotOptimize(rc);
    }
    QRT_ASN_FreePDU(tree, Certificate_PDU);
    state.SetLabel(state.range(0) ? "ECDSA P-256" : "RSA-2048");
}

void BM_OpenSSL_X509_verify(benchmark::State &state) {
    const Bytes &der = cert(static_cast<int>(state.range(0)));
    const unsigned char *p = der.data();
    X509 *x = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
    EVP_PKEY *key = X509_get0_pubkey(x);
    for (auto _ : state) {
        int ok = X509_verify(x, key);
        if (ok != 1) state.SkipWithError("signature does not verify");
        benchmark::DoNotOptimize(ok);
    }
    X509_free(x);
    state.SetLabel(state.range(0) ? "ECDSA P-256" : "RSA-2048");
}

BENCHMARK(BM_Ostrel_VerifySignedData)->Arg(0)->Arg(1);
BENCHMARK(BM_OpenSSL_X509_verify)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
