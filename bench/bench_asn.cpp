// Certificate decoding and encoding through the ASN.1 layer against OpenSSL's d2i_X509/X509_free
// and i2d_X509, on the same inputs in the same run: every Mozilla root of the system's
// ca-certificates and a freshly made RSA leaf of about 1 KB. Allocation counters report calls
// and bytes per decoded certificate for both.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench_certs.hpp"
#include "suite_asn.h"

extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void __libc_free(void *);
}

namespace {

std::atomic<long> g_allocs{0}, g_bytes{0};

}  // namespace

// Counting allocator for the whole process (the library's QRT_malloc and OpenSSL's alike).
extern "C" void *malloc(size_t n) {
    g_allocs.fetch_add(1, std::memory_order_relaxed);
    g_bytes.fetch_add(static_cast<long>(n), std::memory_order_relaxed);
    return __libc_malloc(n);
}
extern "C" void *calloc(size_t c, size_t n) {
    g_allocs.fetch_add(1, std::memory_order_relaxed);
    g_bytes.fetch_add(static_cast<long>(c * n), std::memory_order_relaxed);
    return __libc_calloc(c, n);
}
extern "C" void *realloc(void *p, size_t n) {
    g_allocs.fetch_add(1, std::memory_order_relaxed);
    g_bytes.fetch_add(static_cast<long>(n), std::memory_order_relaxed);
    return __libc_realloc(p, n);
}
extern "C" void free(void *p) { __libc_free(p); }

namespace {

using Bytes = std::vector<unsigned char>;

Bytes base64(const std::string &text) {
    Bytes out;
    unsigned v = 0;
    int bits = 0;
    for (char c : text) {
        int d;
        if (c >= 'A' && c <= 'Z')
            d = c - 'A';
        else if (c >= 'a' && c <= 'z')
            d = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            d = c - '0' + 52;
        else if (c == '+')
            d = 62;
        else if (c == '/')
            d = 63;
        else
            continue;
        v = (v << 6) | static_cast<unsigned>(d);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<unsigned char>(v >> bits));
        }
    }
    return out;
}

std::vector<Bytes> load_roots() {
    std::vector<Bytes> out;
    const std::string dir = "/usr/share/ca-certificates/mozilla";
    DIR *d = opendir(dir.c_str());
    if (!d) return out;
    while (dirent *e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        std::ifstream in(dir + "/" + e->d_name);
        std::stringstream ss;
        ss << in.rdbuf();
        std::string t = ss.str();
        size_t b = t.find("-----BEGIN CERTIFICATE-----"), f = t.find("-----END CERTIFICATE-----");
        if (b == std::string::npos || f == std::string::npos) continue;
        out.push_back(base64(t.substr(b + 27, f - b - 27)));
    }
    closedir(d);
    return out;
}

// An RSA-2048 end-entity certificate with the usual extensions, about 1 KB of DER.
Bytes make_leaf() {
    EVP_PKEY *key = EVP_RSA_gen(2048);
    Bytes out = bench::make_leaf(key, EVP_sha256());
    EVP_PKEY_free(key);
    return out;
}

const std::vector<Bytes> &roots() {
    static std::vector<Bytes> r = load_roots();
    return r;
}

const std::vector<Bytes> &leaf() {
    static std::vector<Bytes> l{make_leaf()};
    return l;
}

const std::vector<Bytes> &inputs(const benchmark::State &st) { return st.range(0) == 0 ? roots() : leaf(); }

void report(benchmark::State &st, size_t certs, long allocs, long bytes) {
    double n = static_cast<double>(st.iterations()) * static_cast<double>(certs);
    st.counters["certs"] = static_cast<double>(certs);
    st.counters["allocs/cert"] = static_cast<double>(allocs) / n;
    st.counters["bytes/cert"] = static_cast<double>(bytes) / n;
    st.SetItemsProcessed(static_cast<int64_t>(n));
    st.SetLabel(st.range(0) == 0 ? "mozilla roots" : "1 KB RSA leaf");
}

void BM_Ostrel_DecodeFree(benchmark::State &st) {
    const auto &certs = inputs(st);
    QRT_ASN_AcquireCTX();
    long a0 = g_allocs, b0 = g_bytes;
    for (auto _ : st) {
        for (const Bytes &c : certs) {
            BIN in{static_cast<unsigned int>(c.size()), const_cast<unsigned char *>(c.data())};
            void *tree = nullptr;
            if (QRT_ASN_DecodePDU(&tree, &in, Certificate_PDU) != 0) st.SkipWithError("decode failed");
            benchmark::DoNotOptimize(tree);
            QRT_ASN_FreePDU(tree, Certificate_PDU);
        }
    }
    report(st, certs.size(), g_allocs - a0, g_bytes - b0);
}

void BM_OpenSSL_d2i_X509_Free(benchmark::State &st) {
    const auto &certs = inputs(st);
    long a0 = g_allocs, b0 = g_bytes;
    for (auto _ : st) {
        for (const Bytes &c : certs) {
            const unsigned char *p = c.data();
            X509 *x = d2i_X509(nullptr, &p, static_cast<long>(c.size()));
            if (!x) st.SkipWithError("d2i_X509 failed");
            benchmark::DoNotOptimize(x);
            X509_free(x);
        }
    }
    report(st, certs.size(), g_allocs - a0, g_bytes - b0);
}

void BM_Ostrel_Encode(benchmark::State &st) {
    const auto &certs = inputs(st);
    std::vector<void *> trees;
    for (const Bytes &c : certs) {
        BIN in{static_cast<unsigned int>(c.size()), const_cast<unsigned char *>(c.data())};
        void *tree = nullptr;
        QRT_ASN_DecodePDU(&tree, &in, Certificate_PDU);
        trees.push_back(tree);
    }
    long a0 = g_allocs, b0 = g_bytes;
    for (auto _ : st) {
        for (void *t : trees) {
            BIN out{0, nullptr};
            if (QRT_ASN_EncodePDU(&out, t, Certificate_PDU) != 0) st.SkipWithError("encode failed");
            benchmark::DoNotOptimize(out.value);
            QRT_BIN_Reset(&out);
        }
    }
    report(st, certs.size(), g_allocs - a0, g_bytes - b0);
    for (void *t : trees) QRT_ASN_FreePDU(t, Certificate_PDU);
}

void BM_OpenSSL_i2d_X509(benchmark::State &st) {
    const auto &certs = inputs(st);
    std::vector<X509 *> xs;
    for (const Bytes &c : certs) {
        const unsigned char *p = c.data();
        xs.push_back(d2i_X509(nullptr, &p, static_cast<long>(c.size())));
    }
    long a0 = g_allocs, b0 = g_bytes;
    for (auto _ : st) {
        for (X509 *x : xs) {
            unsigned char *der = nullptr;
            int n = i2d_X509(x, &der);
            if (n <= 0) st.SkipWithError("i2d_X509 failed");
            benchmark::DoNotOptimize(der);
            OPENSSL_free(der);
        }
    }
    report(st, certs.size(), g_allocs - a0, g_bytes - b0);
    for (X509 *x : xs) X509_free(x);
}

}  // namespace

BENCHMARK(BM_Ostrel_DecodeFree)->Arg(0)->Arg(1);
BENCHMARK(BM_OpenSSL_d2i_X509_Free)->Arg(0)->Arg(1);
BENCHMARK(BM_Ostrel_Encode)->Arg(0)->Arg(1);
BENCHMARK(BM_OpenSSL_i2d_X509)->Arg(0)->Arg(1);
BENCHMARK_MAIN();
