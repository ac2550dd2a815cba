// Hex conversion through the I/O core against OpenSSL's buffer/hex helpers, same inputs.
#include <benchmark/benchmark.h>
#include <openssl/crypto.h>

#include <vector>

#include "suite_io.h"

namespace {

std::vector<unsigned char> input(size_t n) {
    std::vector<unsigned char> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = (unsigned char)(i * 131 + 7);
    return v;
}

void BM_Ostrel_BinToHex(benchmark::State &st) {
    auto data = input((size_t)st.range(0));
    for (auto _ : st) {
        char *s = nullptr;
        QRT_BinToHex(data.data(), (int)data.size(), &s);
        benchmark::DoNotOptimize(s);
        QRT_free(s);
    }
    st.SetBytesProcessed((int64_t)st.iterations() * st.range(0));
}

void BM_OpenSSL_BufToHex(benchmark::State &st) {
    auto data = input((size_t)st.range(0));
    for (auto _ : st) {
        char *s = OPENSSL_buf2hexstr(data.data(), (long)data.size());
        benchmark::DoNotOptimize(s);
        OPENSSL_free(s);
    }
    st.SetBytesProcessed((int64_t)st.iterations() * st.range(0));
}

void BM_Ostrel_HexToBin(benchmark::State &st) {
    auto data = input((size_t)st.range(0));
    char *hex = nullptr;
    QRT_BinToHex(data.data(), (int)data.size(), &hex);
    for (auto _ : st) {
        unsigned char *out = nullptr;
        int n = 0;
        QRT_HexToBin(hex, &out, &n);
        benchmark::DoNotOptimize(out);
        QRT_free(out);
    }
    QRT_free(hex);
    st.SetBytesProcessed((int64_t)st.iterations() * st.range(0));
}

void BM_OpenSSL_HexToBuf(benchmark::State &st) {
    auto data = input((size_t)st.range(0));
    char *hex = nullptr;
    QRT_BinToHex(data.data(), (int)data.size(), &hex);
    for (auto _ : st) {
        long n = 0;
        unsigned char *out = OPENSSL_hexstr2buf(hex, &n);  // accepts "ab:cd" too; plain hex here
        benchmark::DoNotOptimize(out);
        OPENSSL_free(out);
    }
    QRT_free(hex);
    st.SetBytesProcessed((int64_t)st.iterations() * st.range(0));
}

}  // namespace

BENCHMARK(BM_Ostrel_BinToHex)->Arg(32)->Arg(4096);
BENCHMARK(BM_OpenSSL_BufToHex)->Arg(32)->Arg(4096);
BENCHMARK(BM_Ostrel_HexToBin)->Arg(32)->Arg(4096);
BENCHMARK(BM_OpenSSL_HexToBuf)->Arg(32)->Arg(4096);
BENCHMARK_MAIN();
