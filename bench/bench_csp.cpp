// The provider's one-shot forms against raw OpenSSL EVP for the same work, in the same run:
// digests and CBC encryption of 16 KiB, HMAC-SHA-256 of 64 bytes, HAS-160 against SHA-1.
#include <vector>

#include "evp_baselines.hpp"
#include "suite_csp.h"

namespace {

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

}  // namespace

BENCHMARK_CAPTURE(BM_Ostrel_Hash, sha256, QRT_CSP_HASH_SHA256)->Arg(16384);
BENCHMARK_CAPTURE(BM_OpenSSL_Digest, sha256, "SHA256")->Arg(16384);
BENCHMARK_CAPTURE(BM_Ostrel_Hash, sha1, QRT_CSP_HASH_SHA1)->Arg(16384);
BENCHMARK_CAPTURE(BM_OpenSSL_Digest, sha1, "SHA1")->Arg(16384);
BENCHMARK_CAPTURE(BM_Ostrel_Hash, has160, QRT_CSP_HASH_HAS160)->Arg(16384);
BENCHMARK_CAPTURE(BM_Ostrel_Encrypt, aes128_cbc, QRT_CSP_CIPHER_AES)->Arg(16384);
BENCHMARK_CAPTURE(BM_OpenSSL_Cbc, aes128_cbc, "AES-128-CBC")->Arg(16384);
BENCHMARK_CAPTURE(BM_Ostrel_Encrypt, seed_cbc, QRT_CSP_CIPHER_SEED)->Arg(16384);
BENCHMARK_CAPTURE(BM_OpenSSL_Cbc, seed_cbc, "SEED-CBC")->Arg(16384);
BENCHMARK_CAPTURE(BM_Ostrel_Encrypt, aria128_cbc, QRT_CSP_CIPHER_ARIA128)->Arg(16384);
BENCHMARK_CAPTURE(BM_OpenSSL_Cbc, aria128_cbc, "ARIA-128-CBC")->Arg(16384);
BENCHMARK(BM_Ostrel_HmacSha256)->Arg(64);
BENCHMARK(BM_OpenSSL_HmacSha256)->Arg(64);
BENCHMARK_MAIN();
