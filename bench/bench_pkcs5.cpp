// The library's key derivations against OpenSSL's PKCS5_PBKDF2_HMAC and PKCS12_key_gen_uni for
// the same work, in the same run: PBKDF2 with HMAC-SHA-1 and HMAC-SHA-256 at 2048 iterations
// (a 32-byte key), and the PKCS#12 derivation with SHA-1 for a 24-byte key.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>

#include <vector>

#include "suite_pkcs5.h"

namespace {

const unsigned char kPassword[] = "correct horse battery";
const unsigned char kSalt[8] = {1, 2, 3, 4, 5, 6, 7, 8};
constexpr int kIterations = 2048;

void BM_Pkcs5_Pbkdf2(benchmark::State &st, int prfID) {
    ZQ_PKCS5_PBKDF2_PARAM p{{sizeof kSalt, const_cast<unsigned char *>(kSalt)}, kIterations, 0, prfID};
    BIN pw{sizeof kPassword - 1, const_cast<unsigned char *>(kPassword)};
    for (auto _ : st) {
        BIN key{0, nullptr};
        if (QRT_PKCS5_PBKDF2(&key, 32, &pw, &p)) st.SkipWithError("pbkdf2 failed");
        benchmark::DoNotOptimize(key.value);
        QRT_BIN_Reset(&key);
    }
}

void BM_OpenSSL_Pbkdf2(benchmark::State &st, const EVP_MD *(*md)()) {
    unsigned char key[32];
    for (auto _ : st) {
        if (!PKCS5_PBKDF2_HMAC(reinterpret_cast<const char *>(kPassword), sizeof kPassword - 1, kSalt, sizeof kSalt,
                               kIterations, md(), sizeof key, key))
            st.SkipWithError("PKCS5_PBKDF2_HMAC failed");
        benchmark::DoNotOptimize(key);
    }
}

void BM_Pkcs5_P12Kdf(benchmark::State &st) {
    ZQ_PKCS5_P12KDF_PARAM p{QRT_CSP_HASH_SHA1, {sizeof kSalt, const_cast<unsigned char *>(kSalt)}, kIterations, 1};
    BIN pw{sizeof kPassword - 1, const_cast<unsigned char *>(kPassword)};
    for (auto _ : st) {
        BIN key{0, nullptr};
        if (QRT_PKCS5_P12KDF(&key, 24, &pw, &p)) st.SkipWithError("p12 kdf failed");
        benchmark::DoNotOptimize(key.value);
        QRT_BIN_Reset(&key);
    }
}

void BM_OpenSSL_P12Kdf(benchmark::State &st) {
    // The same password as a BMPString with its terminator, as PKCS12_key_gen_uni takes it.
    std::vector<unsigned char> bmp;
    for (size_t i = 0; i + 1 < sizeof kPassword; ++i) bmp.insert(bmp.end(), {0, kPassword[i]});
    bmp.insert(bmp.end(), {0, 0});
    unsigned char key[24];
    for (auto _ : st) {
        if (!PKCS12_key_gen_uni(bmp.data(), static_cast<int>(bmp.size()), const_cast<unsigned char *>(kSalt),
                                sizeof kSalt, 1, kIterations, sizeof key, key, EVP_sha1()))
            st.SkipWithError("PKCS12_key_gen_uni failed");
        benchmark::DoNotOptimize(key);
    }
}

}  // namespace

BENCHMARK_CAPTURE(BM_Pkcs5_Pbkdf2, sha1, QRT_PKCS5_PRF_HMAC_SHA1);
BENCHMARK_CAPTURE(BM_OpenSSL_Pbkdf2, sha1, EVP_sha1);
BENCHMARK_CAPTURE(BM_Pkcs5_Pbkdf2, sha256, QRT_PKCS5_PRF_HMAC_SHA256);
BENCHMARK_CAPTURE(BM_OpenSSL_Pbkdf2, sha256, EVP_sha256);
BENCHMARK(BM_Pkcs5_P12Kdf);
BENCHMARK(BM_OpenSSL_P12Kdf);

BENCHMARK_MAIN();
