// Signed and enveloped data against OpenSSL's PKCS7 and CMS code on the same bytes, in the same
// run: an RSA-2048 signer with its CA certificate embedded (two certificates), opaque content
// with authenticated attributes, at 1 KiB and 1 MiB.
//   VerifyN/...    decoding and checking the first signer (no chain building)
//   SignN/...      from the DER certificates, DER key and the data to the DER message
//                  (OpenSSL also with certificate and key already parsed)
//   DecodeEnveloped1M/... AES-256-CBC enveloped data opened with the recipient's DER key
// The run ends with the ratios OpenSSL CPU time / ours (above 1: we are faster).
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "../lib/common/test/ostrel/openssl_certs.hpp"
#include "bench_ratio.hpp"
#include "suite_pkcs7.h"

namespace {

using ostrel::test::der_of;
using ostrel::test::make_cert;

using Bytes = std::vector<unsigned char>;

struct Fixture {
    EVP_PKEY *key = nullptr;  // the signer's and recipient's key
    X509 *leaf = nullptr, *ca = nullptr;
    Bytes leafDer, caDer, keyDer;  // keyDer: PKCS#1 RSAPrivateKey, the provider's form
    std::map<size_t, Bytes> data, dataInfo, signedMsg, envelopedMsg;
};

Fixture &fixture() {
    static Fixture f = [] {
        Fixture r;
        EVP_PKEY *caKey = EVP_RSA_gen(2048);
        r.key = EVP_RSA_gen(2048);
        r.ca = make_cert(caKey, "Bench CA", nullptr, nullptr, 1, true);
        r.leaf = make_cert(r.key, "Bench signer", r.ca, caKey, 0x1001, false);
        EVP_PKEY_free(caKey);
        r.leafDer = der_of(r.leaf);
        r.caDer = der_of(r.ca);
        unsigned char *p = nullptr;
        int n = i2d_PrivateKey(r.key, &p);  // RSA: the PKCS#1 structure
        r.keyDer.assign(p, p + n);
        OPENSSL_free(p);

        STACK_OF(X509) *extra = sk_X509_new_null();
        sk_X509_push(extra, r.ca);
        STACK_OF(X509) *recips = sk_X509_new_null();
        sk_X509_push(recips, r.leaf);
        for (size_t size : {size_t{1024}, size_t{1} << 20}) {
            Bytes d(size);
            for (size_t i = 0; i < size; ++i) d[i] = static_cast<unsigned char>(i * 7 + (i >> 10));
            r.data[size] = d;
            BIN in{static_cast<unsigned>(d.size()), d.data()}, info{0, nullptr};
            QRT_PKCS7_EncodeData(&info, &in);
            r.dataInfo[size].assign(info.value, info.value + info.length);
            QRT_BIN_Reset(&info);

            BIO *bio = BIO_new_mem_buf(d.data(), static_cast<int>(d.size()));
            PKCS7 *p7 = PKCS7_sign(r.leaf, r.key, extra, bio, PKCS7_BINARY);
            BIO_free(bio);
            unsigned char *q = nullptr;
            n = i2d_PKCS7(p7, &q);
            r.signedMsg[size].assign(q, q + n);
            OPENSSL_free(q);
            PKCS7_free(p7);

            bio = BIO_new_mem_buf(d.data(), static_cast<int>(d.size()));
            CMS_ContentInfo *cms = CMS_encrypt(recips, bio, EVP_aes_256_cbc(), CMS_BINARY);
            BIO_free(bio);
            q = nullptr;
            n = i2d_CMS_ContentInfo(cms, &q);
            r.envelopedMsg[size].assign(q, q + n);
            OPENSSL_free(q);
            CMS_ContentInfo_free(cms);
        }
        sk_X509_free(extra);
        sk_X509_free(recips);
        return r;
    }();
    return f;
}

BIN view(const Bytes &b) { return BIN{static_cast<unsigned>(b.size()), const_cast<unsigned char *>(b.data())}; }

void set_bytes(benchmark::State &st, size_t size) {
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * static_cast<int64_t>(size));
}

// ---- verify ----

void verify_ostrel(benchmark::State &st, size_t size) {
    Fixture &f = fixture();
    BIN in = view(f.signedMsg[size]);
    for (auto _ : st) {
        int digest = 0;
        BIN content{0, nullptr}, signer{0, nullptr};
        if (QRT_PKCS7_DecodeSigned(&digest, &content, &signer, nullptr, nullptr, &in) != 0)
            st.SkipWithError("QRT_PKCS7_DecodeSigned failed");
        QRT_BIN_Reset(&content);
        QRT_BIN_Reset(&signer);
    }
    set_bytes(st, size);
}

void verify_openssl_pkcs7(benchmark::State &st, size_t size) {
    const Bytes &msg = fixture().signedMsg[size];
    for (auto _ : st) {
        const unsigned char *p = msg.data();
        PKCS7 *p7 = d2i_PKCS7(nullptr, &p, static_cast<long>(msg.size()));
        BIO *out = BIO_new(BIO_s_mem());
        if (!p7 || PKCS7_verify(p7, nullptr, nullptr, nullptr, out, PKCS7_NOVERIFY | PKCS7_BINARY) != 1)
            st.SkipWithError("PKCS7_verify failed");
        BIO_free(out);
        PKCS7_free(p7);
    }
    set_bytes(st, size);
}

void verify_openssl_cms(benchmark::State &st, size_t size) {
    const Bytes &msg = fixture().signedMsg[size];
    for (auto _ : st) {
        const unsigned char *p = msg.data();
        CMS_ContentInfo *cms = d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(msg.size()));
        BIO *out = BIO_new(BIO_s_mem());
        if (!cms || CMS_verify(cms, nullptr, nullptr, nullptr, out, CMS_NO_SIGNER_CERT_VERIFY | CMS_BINARY) != 1)
            st.SkipWithError("CMS_verify failed");
        BIO_free(out);
        CMS_ContentInfo_free(cms);
    }
    set_bytes(st, size);
}

// ---- sign ----

void sign_ostrel(benchmark::State &st, size_t size) {
    Fixture &f = fixture();
    const Bytes &d = f.data[size];
    BIN data = view(d), cert = view(f.leafDer), ca = view(f.caDer), key = view(f.keyDer);
    for (auto _ : st) {
        BIN info{0, nullptr}, out{0, nullptr};
        if (QRT_PKCS7_EncodeData(&info, &data) != 0 ||
            QRT_PKCS7_EncodeSigned(&out, 6, &info, &cert, &key, &ca, nullptr) != 0)
            st.SkipWithError("QRT_PKCS7_EncodeSigned failed");
        QRT_BIN_Reset(&info);
        QRT_BIN_Reset(&out);
    }
    set_bytes(st, size);
}

// PKCS7_sign with parsed certificates and key, to DER.
bool openssl_sign(X509 *leaf, EVP_PKEY *key, X509 *ca, const Bytes &d) {
    STACK_OF(X509) *extra = sk_X509_new_null();
    sk_X509_push(extra, ca);
    BIO *bio = BIO_new_mem_buf(d.data(), static_cast<int>(d.size()));
    PKCS7 *p7 = PKCS7_sign(leaf, key, extra, bio, PKCS7_BINARY);
    unsigned char *der = nullptr;
    int n = p7 ? i2d_PKCS7(p7, &der) : -1;
    OPENSSL_free(der);
    PKCS7_free(p7);
    BIO_free(bio);
    sk_X509_free(extra);
    return n > 0;
}

void sign_openssl(benchmark::State &st, size_t size) {
    Fixture &f = fixture();
    const Bytes &d = f.data[size];
    for (auto _ : st) {
        const unsigned char *p = f.leafDer.data();
        X509 *leaf = d2i_X509(nullptr, &p, static_cast<long>(f.leafDer.size()));
        p = f.caDer.data();
        X509 *ca = d2i_X509(nullptr, &p, static_cast<long>(f.caDer.size()));
        p = f.keyDer.data();
        EVP_PKEY *key = d2i_PrivateKey(EVP_PKEY_RSA, nullptr, &p, static_cast<long>(f.keyDer.size()));
        if (!leaf || !ca || !key || !openssl_sign(leaf, key, ca, d)) st.SkipWithError("PKCS7_sign failed");
        EVP_PKEY_free(key);
        X509_free(ca);
        X509_free(leaf);
    }
    set_bytes(st, size);
}

void sign_openssl_preparsed(benchmark::State &st, size_t size) {
    Fixture &f = fixture();
    const Bytes &d = f.data[size];
    for (auto _ : st)
        if (!openssl_sign(f.leaf, f.key, f.ca, d)) st.SkipWithError("PKCS7_sign failed");
    set_bytes(st, size);
}

// ---- enveloped ----

void decode_enveloped_ostrel(benchmark::State &st, size_t size) {
    Fixture &f = fixture();
    BIN in = view(f.envelopedMsg[size]), cert = view(f.leafDer), key = view(f.keyDer);
    for (auto _ : st) {
        int enc = 0;
        BIN content{0, nullptr};
        if (QRT_PKCS7_DecodeEnveloped(&enc, &content, &in, &cert, &key) != 0 || enc != QRT_PKCS7_AES256)
            st.SkipWithError("QRT_PKCS7_DecodeEnveloped failed");
        QRT_BIN_Reset(&content);
    }
    set_bytes(st, size);
}

bool openssl_decode_enveloped(const Bytes &msg, EVP_PKEY *key, X509 *cert) {
    const unsigned char *p = msg.data();
    CMS_ContentInfo *cms = d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(msg.size()));
    BIO *out = BIO_new(BIO_s_mem());
    bool ok = cms && CMS_decrypt(cms, key, cert, nullptr, out, CMS_BINARY) == 1;
    BIO_free(out);
    CMS_ContentInfo_free(cms);
    return ok;
}

void decode_enveloped_openssl(benchmark::State &st, size_t size) {
    Fixture &f = fixture();
    const Bytes &msg = f.envelopedMsg[size];
    for (auto _ : st) {
        const unsigned char *p = f.leafDer.data();
        X509 *cert = d2i_X509(nullptr, &p, static_cast<long>(f.leafDer.size()));
        p = f.keyDer.data();
        EVP_PKEY *key = d2i_PrivateKey(EVP_PKEY_RSA, nullptr, &p, static_cast<long>(f.keyDer.size()));
        if (!cert || !key || !openssl_decode_enveloped(msg, key, cert)) st.SkipWithError("CMS_decrypt failed");
        EVP_PKEY_free(key);
        X509_free(cert);
    }
    set_bytes(st, size);
}

void decode_enveloped_openssl_preparsed(benchmark::State &st, size_t size) {
    Fixture &f = fixture();
    const Bytes &msg = f.envelopedMsg[size];
    for (auto _ : st)
        if (!openssl_decode_enveloped(msg, f.key, f.leaf)) st.SkipWithError("CMS_decrypt failed");
    set_bytes(st, size);
}

}  // namespace

// ---- peak heap ----
// Every malloc of the process passes through here while a measurement runs (not in sanitizer
// builds, which own malloc): the live bytes and their peak above the level at the start.
#if defined(__SANITIZE_ADDRESS__)
#define OSTREL_BENCH_HEAP 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer) || __has_feature(thread_sanitizer)
#define OSTREL_BENCH_HEAP 0
#endif
#endif
#ifndef OSTREL_BENCH_HEAP
#define OSTREL_BENCH_HEAP 1
#endif

#if OSTREL_BENCH_HEAP
extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void __libc_free(void *);
}

namespace heap {
std::atomic<bool> on{false};
std::atomic<long long> live{0}, peak{0};
void add(void *p) {
    if (!p || !on.load(std::memory_order_relaxed)) return;
    long long now = live += static_cast<long long>(malloc_usable_size(p));
    long long was = peak.load();
    while (now > was && !peak.compare_exchange_weak(was, now)) {
    }
}
void sub(void *p) {
    if (p && on.load(std::memory_order_relaxed)) live -= static_cast<long long>(malloc_usable_size(p));
}
}  // namespace heap

extern "C" {
void *malloc(size_t n) {
    void *p = __libc_malloc(n);
    heap::add(p);
    return p;
}
void *calloc(size_t n, size_t m) {
    void *p = __libc_calloc(n, m);
    heap::add(p);
    return p;
}
void *realloc(void *old, size_t n) {
    heap::sub(old);
    void *p = __libc_realloc(old, n);
    heap::add(p ? p : (n ? old : nullptr));
    return p;
}
void free(void *p) {
    heap::sub(p);
    __libc_free(p);
}
}
#endif

namespace {

// Runs f once more with the heap measured; the peak of live bytes it added, as a multiple of `size`
// (the length of the message the call reads).
template <class F>
void peak_heap(benchmark::State &st, size_t size, F &&f) {
#if OSTREL_BENCH_HEAP
    // once first: one-time initialisation (thread contexts, providers) is not the call's cost
    if (!f()) st.SkipWithError("the call failed");
    for (auto _ : st) {
        heap::live = 0;
        heap::peak = 0;
        heap::on = true;
        bool ok = f();
        heap::on = false;
        if (!ok) st.SkipWithError("the call failed");
    }
    st.counters["peak_MiB"] = static_cast<double>(heap::peak.load()) / (1 << 20);
    st.counters["x_message"] = static_cast<double>(heap::peak.load()) / static_cast<double>(size);
#else
    for (auto _ : st) (void)f;
    st.SkipWithError("heap measurement is off in sanitizer builds");
#endif
}

void heap_decode_signed(benchmark::State &st, size_t size) {
    BIN in = view(fixture().signedMsg[size]);
    peak_heap(st, in.length, [&] {
        int digest = 0;
        BIN content{0, nullptr}, signer{0, nullptr};
        bool ok = QRT_PKCS7_DecodeSigned(&digest, &content, &signer, nullptr, nullptr, &in) == 0;
        QRT_BIN_Reset(&content);
        QRT_BIN_Reset(&signer);
        return ok;
    });
}

void heap_encode_signed(benchmark::State &st, size_t size) {
    Fixture &f = fixture();
    BIN info = view(f.dataInfo[size]), cert = view(f.leafDer), ca = view(f.caDer), key = view(f.keyDer);
    peak_heap(st, info.length, [&] {
        BIN out{0, nullptr};
        bool ok = QRT_PKCS7_EncodeSigned(&out, 6, &info, &cert, &key, &ca, nullptr) == 0;
        QRT_BIN_Reset(&out);
        return ok;
    });
}

void heap_decode_enveloped(benchmark::State &st, size_t size) {
    Fixture &f = fixture();
    BIN in = view(f.envelopedMsg[size]), cert = view(f.leafDer), key = view(f.keyDer);
    peak_heap(st, in.length, [&] {
        int enc = 0;
        BIN content{0, nullptr};
        bool ok = QRT_PKCS7_DecodeEnveloped(&enc, &content, &in, &cert, &key) == 0;
        QRT_BIN_Reset(&content);
        return ok;
    });
}

void heap_openssl_verify(benchmark::State &st, size_t size) {
    const Bytes &msg = fixture().signedMsg[size];
    peak_heap(st, msg.size(), [&] {
        const unsigned char *p = msg.data();
        PKCS7 *p7 = d2i_PKCS7(nullptr, &p, static_cast<long>(msg.size()));
        BIO *out = BIO_new(BIO_s_mem());
        bool ok = p7 && PKCS7_verify(p7, nullptr, nullptr, nullptr, out, PKCS7_NOVERIFY | PKCS7_BINARY) == 1;
        BIO_free(out);
        PKCS7_free(p7);
        return ok;
    });
}

void heap_openssl_decrypt(benchmark::State &st, size_t size) {
    Fixture &f = fixture();
    peak_heap(st, f.envelopedMsg[size].size(),
              [&] { return openssl_decode_enveloped(f.envelopedMsg[size], f.key, f.leaf); });
}

}  // namespace

namespace {

void register_all() {
    constexpr size_t k1K = 1024, k1M = size_t{1} << 20;
    for (auto [label, size] : {std::pair{"1K", k1K}, std::pair{"1M", k1M}}) {
        std::string v = std::string("Verify") + label, s = std::string("Sign") + label;
        benchmark::RegisterBenchmark((v + "/Ostrel").c_str(), verify_ostrel, size);
        benchmark::RegisterBenchmark((v + "/OpenSSL_PKCS7").c_str(), verify_openssl_pkcs7, size);
        benchmark::RegisterBenchmark((v + "/OpenSSL_CMS").c_str(), verify_openssl_cms, size);
        benchmark::RegisterBenchmark((s + "/Ostrel").c_str(), sign_ostrel, size);
        benchmark::RegisterBenchmark((s + "/OpenSSL_PKCS7").c_str(), sign_openssl, size);
        benchmark::RegisterBenchmark((s + "/OpenSSL_PKCS7_PreParsed").c_str(), sign_openssl_preparsed, size);
    }
    benchmark::RegisterBenchmark("DecodeEnveloped1M/Ostrel", decode_enveloped_ostrel, k1M);
    benchmark::RegisterBenchmark("DecodeEnveloped1M/OpenSSL_CMS", decode_enveloped_openssl, k1M);
    benchmark::RegisterBenchmark("DecodeEnveloped1M/OpenSSL_CMS_PreParsed", decode_enveloped_openssl_preparsed, k1M);
    using Fn = void (*)(benchmark::State &, size_t);
    const std::pair<const char *, Fn> heaps[] = {{"PeakHeap1M/DecodeSigned", heap_decode_signed},
                                                 {"PeakHeap1M/EncodeSigned", heap_encode_signed},
                                                 {"PeakHeap1M/DecodeEnveloped", heap_decode_enveloped},
                                                 {"PeakHeap1M/OpenSSL_PKCS7_verify", heap_openssl_verify},
                                                 {"PeakHeap1M/OpenSSL_CMS_decrypt", heap_openssl_decrypt}};
    for (auto [name, fn] : heaps) benchmark::RegisterBenchmark(name, fn, k1M)->Iterations(1);
}

}  // namespace

int main(int argc, char **argv) {
    // OSTREL_BENCH_PIN_HEAP=1 keeps freed memory in the process: glibc otherwise returns 1 MiB
    // buffers to the system between iterations and the 1 MiB figures include the page faults of
    // touching them again (both sides pay them; the default run shows what a program sees).
    if (const char *pin = std::getenv("OSTREL_BENCH_PIN_HEAP"); pin && *pin == '1') {
        mallopt(M_MMAP_THRESHOLD, 64 << 20);
        mallopt(M_TRIM_THRESHOLD, 256 << 20);
    }
    register_all();
    return ostrel::bench::run_with_ratios(argc, argv);
}
