// Password-based key derivation against OpenSSL's PKCS5_PBKDF2_HMAC and PKCS12_key_gen_uni for
// the same work, in the same run.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>

#include <vector>

#include "suite_csp.h"

namespace {

const unsigned char kPassword[] = "correct horse battery";
const unsigned char kSalt[8] = {1, 2, 3, 4, 5, 6, 7, 8};
// "correct horse battery" as a BMPString with its terminator.
std::vector<unsigned char> bmp_password() {
    std::vector<unsigned char> b;
    for (size_t i = 0; i + 1 < sizeof kPassword; ++i) b.insert(b.end(), {0, kPassword[i]});
    b.insert(b.end(), {0, 0});
    return b;
}

void BM_Ostrel_Pbkdf2(benchmark::State &st, int hash_id) {
    BIN pw{sizeof kPassword - 1, const_cast<unsigned char *>(kPassword)};
    BIN salt{sizeof kSalt, const_cast<unsigned char *>(kSalt)};
    const auto iter = static_cast<unsigned>(st.range(0));
    for (auto _ : st) {
        BIN key{0, nullptr};
        if (QRT_CSP_PBKDF2(&key, 32, &pw, &salt, iter, hash_id)) st.SkipWithError("pbkdf2 failed");
        benchmark::DoNotOptimize(key.value);
        QRT_BIN_Reset(&key);
    }
    st.counters["iter/s"] =
        benchmark::Counter(static_cast<double>(iter), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_OpenSSL_Pbkdf2(benchmark::State &st, const EVP_MD *(*md)()) {
    const int iter = static_cast<int>(st.range(0));
    unsigned char key[32];
    for (auto _ : st) {
        if (!PKCS5_PBKDF2_HMAC(reinterpret_cast<const char *>(kPassword), sizeof kPassword - 1, kSalt, sizeof kSalt,
                               iter, md(), sizeof key, key))
            st.SkipWithError("pbkdf2 failed");
        benchmark::DoNotOptimize(key);
    }
    st.counters["iter/s"] =
        benchmark::Counter(static_cast<double>(iter), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_Ostrel_Pkcs12Kdf(benchmark::State &st, int hash_id) {
    auto pwb = bmp_password();
    BIN pw{static_cast<unsigned>(pwb.size()), pwb.data()};
    BIN salt{sizeof kSalt, const_cast<unsigned char *>(kSalt)};
    const auto iter = static_cast<unsigned>(st.range(0)), len = static_cast<unsigned>(st.range(1));
    for (auto _ : st) {
        BIN key{0, nullptr};
        if (QRT_CSP_PKCS12_KDF(&key, len, &pw, &salt, iter, 1, hash_id)) st.SkipWithError("kdf failed");
        benchmark::DoNotOptimize(key.value);
        QRT_BIN_Reset(&key);
    }
}

void BM_OpenSSL_Pkcs12Kdf(benchmark::State &st, const EVP_MD *(*md)()) {
    auto pw = bmp_password();
    const int iter = static_cast<int>(st.range(0)), len = static_cast<int>(st.range(1));
    std::vector<unsigned char> key(static_cast<size_t>(len));
    for (auto _ : st) {
        if (!PKCS12_key_gen_uni(pw.data(), static_cast<int>(pw.size()), const_cast<unsigned char *>(kSalt),
                                sizeof kSalt, 1, iter, len, key.data(), md()))
            st.SkipWithError("kdf failed");
        benchmark::DoNotOptimize(key.data());
    }
}

}  // namespace

BENCHMARK_CAPTURE(BM_Ostrel_Pbkdf2, sha1, QRT_CSP_HASH_SHA1)->Arg(2048)->Arg(100000);
BENCHMARK_CAPTURE(BM_OpenSSL_Pbkdf2, sha1, EVP_sha1)->Arg(2048)->Arg(100000);
BENCHMARK_CAPTURE(BM_Ostrel_Pbkdf2, sha256, QRT_CSP_HASH_SHA256)->Arg(2048)->Arg(100000);
BENCHMARK_CAPTURE(BM_OpenSSL_Pbkdf2, sha256, EVP_sha256)->Arg(2048)->Arg(100000);
BENCHMARK_CAPTURE(BM_Ostrel_Pkcs12Kdf, sha1, QRT_CSP_HASH_SHA1)->Args({2048, 24});
BENCHMARK_CAPTURE(BM_OpenSSL_Pkcs12Kdf, sha1, EVP_sha1)->Args({2048, 24});
BENCHMARK_CAPTURE(BM_Ostrel_Pkcs12Kdf, sha256, QRT_CSP_HASH_SHA256)->Args({2048, 32});
BENCHMARK_CAPTURE(BM_OpenSSL_Pkcs12Kdf, sha256, EVP_sha256)->Args({2048, 32});
