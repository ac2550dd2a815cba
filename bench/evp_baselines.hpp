// OpenSSL EVP baselines the symmetric benchmarks share: digests, CBC encryption with PKCS#5
// padding and HMAC-SHA-256, each making its context per call as a caller of EVP would, over the
// baseline's own library context (default and legacy providers, for SEED and the like).
#pragma once

#include <benchmark/benchmark.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <cstdint>
#include <vector>

namespace {

std::vector<unsigned char> input(size_t n, unsigned seed = 1) {
    std::vector<unsigned char> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<unsigned char>(i * 131 + seed);
    return v;
}

OSSL_LIB_CTX *baseline_ctx() {
    static OSSL_LIB_CTX *ctx = [] {
        OSSL_LIB_CTX *c = OSSL_LIB_CTX_new();
        OSSL_PROVIDER_load(c, "default");
        OSSL_PROVIDER_load(c, "legacy");
        return c;
    }();
    return ctx;
}

void BM_OpenSSL_Digest(benchmark::State &st, const char *name) {
    auto data = input(static_cast<size_t>(st.range(0)));
    EVP_MD *md = EVP_MD_fetch(baseline_ctx(), name, nullptr);
    unsigned char out[EVP_MAX_MD_SIZE];
    for (auto _ : st) {
        unsigned n = 0;
        if (!EVP_Digest(data.data(), data.size(), out, &n, md, nullptr)) st.SkipWithError("digest failed");
        benchmark::DoNotOptimize(out);
    }
    EVP_MD_free(md);
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * st.range(0));
}

void BM_OpenSSL_Cbc(benchmark::State &st, const char *name) {
    auto data = input(static_cast<size_t>(st.range(0)));
    auto key = input(16, 7), iv = input(16, 9);
    EVP_CIPHER *cipher = EVP_CIPHER_fetch(baseline_ctx(), name, nullptr);
    std::vector<unsigned char> out(data.size() + 32);
    for (auto _ : st) {
        EVP_CIPHER_CTX *c = EVP_CIPHER_CTX_new();
        int n = 0, m = 0;
        if (!EVP_EncryptInit_ex2(c, cipher, key.data(), iv.data(), nullptr) ||
            !EVP_EncryptUpdate(c, out.data(), &n, data.data(), static_cast<int>(data.size())) ||
            !EVP_EncryptFinal_ex(c, out.data() + n, &m))
            st.SkipWithError("encrypt failed");
        EVP_CIPHER_CTX_free(c);
        benchmark::DoNotOptimize(out.data());
    }
    EVP_CIPHER_free(cipher);
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * st.range(0));
}

void BM_OpenSSL_HmacSha256(benchmark::State &st) {
    auto data = input(static_cast<size_t>(st.range(0)));
    auto key = input(32, 5);
    EVP_MAC *mac = EVP_MAC_fetch(baseline_ctx(), "HMAC", nullptr);
    char digest[] = "SHA256";
    OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                           OSSL_PARAM_construct_end()};
    unsigned char out[EVP_MAX_MD_SIZE];
    for (auto _ : st) {
        EVP_MAC_CTX *c = EVP_MAC_CTX_new(mac);
        size_t n = 0;
        if (!EVP_MAC_init(c, key.data(), key.size(), params) || !EVP_MAC_update(c, data.data(), data.size()) ||
            !EVP_MAC_final(c, out, &n, sizeof out))
            st.SkipWithError("mac failed");
        EVP_MAC_CTX_free(c);
        benchmark::DoNotOptimize(out);
    }
    EVP_MAC_free(mac);
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * st.range(0));
}

}  // namespace
