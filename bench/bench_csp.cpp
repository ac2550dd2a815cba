// The provider's one-shot forms against raw OpenSSL EVP for the same work, in the same run:
// digests and CBC encryption of 16 KiB, HMAC-SHA-256 of 64 bytes, HAS-160 against SHA-1.
#include <benchmark/benchmark.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <vector>

#include "suite_csp.h"

namespace {

std::vector<unsigned char> input(size_t n, unsigned seed = 1) {
    std::vector<unsigned char> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<unsigned char>(i * 131 + seed);
    return v;
}

// The baseline's own library context with the providers SEED needs.
OSSL_LIB_CTX *baseline_ctx() {
    static OSSL_LIB_CTX *ctx = [] {
        OSSL_LIB_CTX *c = OSSL_LIB_CTX_new();
        OSSL_PROVIDER_load(c, "default");
        OSSL_PROVIDER_load(c, "legacy");
        return c;
    }();
    return ctx;
}

BIN view(std::vector<unsigned char> &v) { return BIN{static_cast<unsigned>(v.size()), v.data()}; }

// ---- digests ----

void BM_Ostrel_Hash(benchmark::State &st, int hash_id) {
    auto data = input(static_cast<size_t>(st.range(0)));
    BIN in = view(data);
    for (auto _ : st) {
        BIN out{0, nullptr};
        if (QRT_CSP_Hash(&out, &in, hash_id)) st.SkipWithError("hash failed");
        benchmark::DoNotOptimize(out.value);
        QRT_BIN_Reset(&out);
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * st.range(0));
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

// ---- CBC encryption with PKCS#5 padding ----

void BM_Ostrel_Encrypt(benchmark::State &st, int cipher_id) {
    auto data = input(static_cast<size_t>(st.range(0)));
    auto key = input(16, 7), iv = input(16, 9);
    BIN in = view(data), k = view(key), ivb = view(iv);
    ZQ_CSP_CipherParam p{};
    p.modeID = QRT_CSP_MODE_CBC;
    p.paddingID = QRT_CSP_PAD_PKCS5;
    p.modeParam.iv = &ivb;
    for (auto _ : st) {
        BIN out{0, nullptr};
        if (QRT_CSP_Encrypt(&out, &in, &k, cipher_id, &p)) st.SkipWithError("encrypt failed");
        benchmark::DoNotOptimize(out.value);
        QRT_free(out.value);  // cipher text is no secret: released without wiping
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * st.range(0));
}

void BM_OpenSSL_Encrypt(benchmark::State &st, const char *name) {
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

// ---- HMAC-SHA-256 ----

void BM_Ostrel_HmacSha256(benchmark::State &st) {
    auto data = input(static_cast<size_t>(st.range(0)));
    auto key = input(32, 5);
    BIN in = view(data), k = view(key);
    for (auto _ : st) {
        BIN out{0, nullptr};
        if (QRT_CSP_MAC(&out, &in, &k, QRT_CSP_MAC_HMAC_SHA256, nullptr)) st.SkipWithError("mac failed");
        benchmark::DoNotOptimize(out.value);
        QRT_BIN_Reset(&out);
    }
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

BENCHMARK_CAPTURE(BM_Ostrel_Hash, sha256, QRT_CSP_HASH_SHA256)->Arg(16384);
BENCHMARK_CAPTURE(BM_OpenSSL_Digest, sha256, "SHA256")->Arg(16384);
BENCHMARK_CAPTURE(BM_Ostrel_Hash, sha1, QRT_CSP_HASH_SHA1)->Arg(16384);
BENCHMARK_CAPTURE(BM_OpenSSL_Digest, sha1, "SHA1")->Arg(16384);
BENCHMARK_CAPTURE(BM_Ostrel_Hash, has160, QRT_CSP_HASH_HAS160)->Arg(16384);
BENCHMARK_CAPTURE(BM_Ostrel_Encrypt, aes128_cbc, QRT_CSP_CIPHER_AES)->Arg(16384);
BENCHMARK_CAPTURE(BM_OpenSSL_Encrypt, aes128_cbc, "AES-128-CBC")->Arg(16384);
BENCHMARK_CAPTURE(BM_Ostrel_Encrypt, seed_cbc, QRT_CSP_CIPHER_SEED)->Arg(16384);
BENCHMARK_CAPTURE(BM_OpenSSL_Encrypt, seed_cbc, "SEED-CBC")->Arg(16384);
BENCHMARK_CAPTURE(BM_Ostrel_Encrypt, aria128_cbc, QRT_CSP_CIPHER_ARIA128)->Arg(16384);
BENCHMARK_CAPTURE(BM_OpenSSL_Encrypt, aria128_cbc, "ARIA-128-CBC")->Arg(16384);
BENCHMARK(BM_Ostrel_HmacSha256)->Arg(64);
BENCHMARK(BM_OpenSSL_HmacSha256)->Arg(64);
BENCHMARK_MAIN();
