// Base64 through the codec against OpenSSL's EVP encoder and decoder, same inputs, both sides
// allocating their output each time as a caller would.
#include <benchmark/benchmark.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <string>
#include <vector>

#include "suite_codec.h"

namespace {

std::vector<unsigned char> input(size_t n) {
    std::vector<unsigned char> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = (unsigned char)(i * 131 + 7);
    return v;
}

std::string one_line(const std::vector<unsigned char> &data) {
    std::string s(4 * ((data.size() + 2) / 3) + 1, '\0');
    int k = EVP_EncodeBlock((unsigned char *)s.data(), data.data(), (int)data.size());
    s.resize((size_t)k);
    return s;
}

std::string lines(const std::vector<unsigned char> &data) {
    BIN in{(unsigned int)data.size(), (unsigned char *)data.data()}, out{0, nullptr};
    QRT_Base64_Encode(&out, &in);
    std::string s((char *)out.value, out.length);
    QRT_BIN_Reset(&out);
    return s;
}

void bytes(benchmark::State &st) { st.SetBytesProcessed((int64_t)st.iterations() * st.range(0)); }

void BM_Ostrel_BinToBase64(benchmark::State &st) {
    auto data = input((size_t)st.range(0));
    BIN in{(unsigned int)data.size(), data.data()};
    for (auto _ : st) {
        char *text = nullptr;
        QRT_BinToBase64(&in, &text);
        benchmark::DoNotOptimize(text);
        QRT_free(text);
    }
    bytes(st);
}

void BM_OpenSSL_EncodeBlock(benchmark::State &st) {
    auto data = input((size_t)st.range(0));
    for (auto _ : st) {
        auto *text = (unsigned char *)OPENSSL_malloc(4 * ((data.size() + 2) / 3) + 1);
        EVP_EncodeBlock(text, data.data(), (int)data.size());
        benchmark::DoNotOptimize(text);
        OPENSSL_free(text);
    }
    bytes(st);
}

void BM_Ostrel_Base64ToBin(benchmark::State &st) {
    std::string text = one_line(input((size_t)st.range(0)));
    for (auto _ : st) {
        BIN out{0, nullptr};
        QRT_Base64ToBin(text.c_str(), &out);
        benchmark::DoNotOptimize(out.value);
        QRT_free(out.value);  // plain release on both sides: no wiping
    }
    bytes(st);
}

void BM_OpenSSL_DecodeBlock(benchmark::State &st) {
    std::string text = one_line(input((size_t)st.range(0)));
    for (auto _ : st) {
        auto *out = (unsigned char *)OPENSSL_malloc(text.size() / 4 * 3 + 1);
        EVP_DecodeBlock(out, (const unsigned char *)text.data(), (int)text.size());
        benchmark::DoNotOptimize(out);
        OPENSSL_free(out);
    }
    bytes(st);
}

void BM_Ostrel_Base64_Encode(benchmark::State &st) {
    auto data = input((size_t)st.range(0));
    BIN in{(unsigned int)data.size(), data.data()};
    for (auto _ : st) {
        BIN out{0, nullptr};
        QRT_Base64_Encode(&out, &in);
        benchmark::DoNotOptimize(out.value);
        QRT_free(out.value);
    }
    bytes(st);
}

// EVP_EncodeUpdate writes the same 64-character lines (ended by LF only).
void BM_OpenSSL_EncodeLines(benchmark::State &st) {
    auto data = input((size_t)st.range(0));
    EVP_ENCODE_CTX *ctx = EVP_ENCODE_CTX_new();
    for (auto _ : st) {
        auto *out = (unsigned char *)OPENSSL_malloc(2 * data.size() + 80);
        int n = 0, m = 0;
        EVP_EncodeInit(ctx);
        EVP_EncodeUpdate(ctx, out, &n, data.data(), (int)data.size());
        EVP_EncodeFinal(ctx, out + n, &m);
        benchmark::DoNotOptimize(out);
        OPENSSL_free(out);
    }
    EVP_ENCODE_CTX_free(ctx);
    bytes(st);
}

void BM_Ostrel_Base64_Decode(benchmark::State &st) {
    std::string text = lines(input((size_t)st.range(0)));
    BIN in{(unsigned int)text.size(), (unsigned char *)text.data()};
    for (auto _ : st) {
        BIN out{0, nullptr};
        QRT_Base64_Decode(&out, &in);
        benchmark::DoNotOptimize(out.value);
        QRT_free(out.value);
    }
    bytes(st);
}

void BM_OpenSSL_DecodeLines(benchmark::State &st) {
    std::string text = lines(input((size_t)st.range(0)));
    EVP_ENCODE_CTX *ctx = EVP_ENCODE_CTX_new();
    for (auto _ : st) {
        auto *out = (unsigned char *)OPENSSL_malloc(text.size() + 1);
        int n = 0, m = 0;
        EVP_DecodeInit(ctx);
        EVP_DecodeUpdate(ctx, out, &n, (const unsigned char *)text.data(), (int)text.size());
        EVP_DecodeFinal(ctx, out + n, &m);
        benchmark::DoNotOptimize(out);
        OPENSSL_free(out);
    }
    EVP_ENCODE_CTX_free(ctx);
    bytes(st);
}

}  // namespace

BENCHMARK(BM_Ostrel_BinToBase64)->Arg(48)->Arg(4096)->Arg(1 << 20);
BENCHMARK(BM_OpenSSL_EncodeBlock)->Arg(48)->Arg(4096)->Arg(1 << 20);
BENCHMARK(BM_Ostrel_Base64ToBin)->Arg(48)->Arg(4096)->Arg(1 << 20);
BENCHMARK(BM_OpenSSL_DecodeBlock)->Arg(48)->Arg(4096)->Arg(1 << 20);
BENCHMARK(BM_Ostrel_Base64_Encode)->Arg(48)->Arg(4096)->Arg(1 << 20);
BENCHMARK(BM_OpenSSL_EncodeLines)->Arg(48)->Arg(4096)->Arg(1 << 20);
BENCHMARK(BM_Ostrel_Base64_Decode)->Arg(48)->Arg(4096)->Arg(1 << 20);
BENCHMARK(BM_OpenSSL_DecodeLines)->Arg(48)->Arg(4096)->Arg(1 << 20);
BENCHMARK_MAIN();
