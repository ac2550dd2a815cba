// The crypto core's own primitives against OpenSSL in the same run: HAS-160 and MD2 against
// SHA-1 and MD5 (the nearest OpenSSL digests), RC5-32/12 CBC against Blowfish CBC, and the
// core's one-shot HMAC against EVP_MAC.
#include <benchmark/benchmark.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <vector>

#include "suite_crypto.h"

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

void BM_Core_Hash(benchmark::State &st, int alg) {
    auto data = input(static_cast<size_t>(st.range(0)));
    unsigned char out[WJ_HASH_MAX_LENGTH];
    for (auto _ : st) {
        unsigned n = 0;
        if (WJ_Hash(out, &n, data.data(), static_cast<unsigned>(data.size()), alg)) st.SkipWithError("hash failed");
        benchmark::DoNotOptimize(out);
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

void BM_Core_Cbc(benchmark::State &st, int alg) {
    auto data = input(static_cast<size_t>(st.range(0)));
    std::vector<unsigned char> out(data.size() + WJ_CIPHER_MAX_BLOCK);
    WJ_SECRET_KEY key{};
    key.keyLength = 16;
    WJ_CIPHER_PARAM p{};
    p.suiteParam.rc5.rounds = 12;
    p.modeID = WJ_MODE_CBC;
    p.paddingID = WJ_PAD_PKCS;
    p.modeParam.ivLength = 8;
    for (auto _ : st) {
        unsigned n = 0;
        if (WJC_Cipher_Encrypt(out.data(), &n, data.data(), static_cast<unsigned>(data.size()), &key, alg, &p))
            st.SkipWithError("encrypt failed");
        benchmark::DoNotOptimize(out.data());
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * st.range(0));
}

void BM_OpenSSL_Cbc(benchmark::State &st, const char *name) {
    auto data = input(static_cast<size_t>(st.range(0)));
    std::vector<unsigned char> out(data.size() + 32), key(16), iv(16);
    EVP_CIPHER *cipher = EVP_CIPHER_fetch(baseline_ctx(), name, nullptr);
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

void BM_Core_Hmac(benchmark::State &st) {
    auto data = input(static_cast<size_t>(st.range(0)));
    WJ_SECRET_KEY key{};
    key.keyLength = 32;
    unsigned char out[WJ_MAC_MAX_LENGTH];
    for (auto _ : st) {
        unsigned n = 0;
        if (WJC_MAC(out, &n, data.data(), static_cast<unsigned>(data.size()), &key, WJ_MAC_HMAC(WJ_HASH_SHA256),
                    nullptr))
            st.SkipWithError("mac failed");
        benchmark::DoNotOptimize(out);
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * st.range(0));
}

void BM_OpenSSL_Hmac(benchmark::State &st) {
    auto data = input(static_cast<size_t>(st.range(0)));
    std::vector<unsigned char> key(32);
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

BENCHMARK_CAPTURE(BM_Core_Hash, has160, WJ_HASH_HAS160)->Arg(16384);
BENCHMARK_CAPTURE(BM_OpenSSL_Digest, sha1, "SHA1")->Arg(16384);
BENCHMARK_CAPTURE(BM_Core_Hash, md2, WJ_HASH_MD2)->Arg(16384);
BENCHMARK_CAPTURE(BM_OpenSSL_Digest, md5, "MD5")->Arg(16384);
BENCHMARK_CAPTURE(BM_Core_Cbc, rc5_32_12, WJ_CIPHER_RC5)->Arg(16384);
BENCHMARK_CAPTURE(BM_OpenSSL_Cbc, blowfish, "BF-CBC")->Arg(16384);
BENCHMARK(BM_Core_Hmac)->Arg(64);
BENCHMARK(BM_OpenSSL_Hmac)->Arg(64);
BENCHMARK_MAIN();
