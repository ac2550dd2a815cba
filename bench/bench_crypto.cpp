// The crypto core's own primitives against OpenSSL in the same run: HAS-160 and MD2 against
// SHA-1 and MD5 (the nearest OpenSSL digests), RC5-32/12 CBC against Blowfish CBC, and the
// core's one-shot HMAC against EVP_MAC.
#include <vector>

#include "evp_baselines.hpp"
#include "suite_crypto.h"

namespace {

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

}  // namespace

BENCHMARK_CAPTURE(BM_Core_Hash, has160, WJ_HASH_HAS160)->Arg(16384);
BENCHMARK_CAPTURE(BM_OpenSSL_Digest, sha1, "SHA1")->Arg(16384);
BENCHMARK_CAPTURE(BM_Core_Hash, md2, WJ_HASH_MD2)->Arg(16384);
BENCHMARK_CAPTURE(BM_OpenSSL_Digest, md5, "MD5")->Arg(16384);
BENCHMARK_CAPTURE(BM_Core_Cbc, rc5_32_12, WJ_CIPHER_RC5)->Arg(16384);
BENCHMARK_CAPTURE(BM_OpenSSL_Cbc, blowfish, "BF-CBC")->Arg(16384);
BENCHMARK(BM_Core_Hmac)->Arg(64);
BENCHMARK(BM_OpenSSL_HmacSha256)->Arg(64);
BENCHMARK_MAIN();
