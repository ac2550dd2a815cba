// The validation cache and the file store, against OpenSSL on the same objects in the same run:
//   CacheHit/Ostrel          QRT_PVD_Cache_GetObject of a 1 KB certificate among 1 000 keys (the
//                            DER copied out under the list's read lock)
//   CacheHit/OpenSSL_store   X509_STORE_CTX_get_obj_by_subject on the same names in an X509_STORE
//                            holding the same 1 000 certificates
//   StoreGet/Ostrel          QRT_PVD_Store_GetObjectList of one certificate in the file store
//   StoreGet/OpenSSL_file    BIO_new_file + d2i_X509_bio of the same file
// After the table: the ratios OpenSSL CPU time / ours (above 1: we are faster), the throughput of
// two reader threads against one, and the bytes the cache holds per certificate beyond its DER
// and key.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "../lib/common/test/ostrel/openssl_certs.hpp"
#include "../lib/common/test/ostrel/test_support.hpp"
#include "bench_ratio.hpp"
#include "suite_pkc.h"
#include "suite_pvd.h"

namespace {

constexpr int kCerts = 1000;

struct Fixture {
    std::vector<X509 *> certs;
    std::vector<std::vector<unsigned char>> ders;
    std::vector<std::string> keys;  // our DN text of each subject
    X509_STORE *store = nullptr;
    X509_STORE_CTX *ctx = nullptr;
    ostrel::test::TempDir dir;
    std::string storePath;
    std::string storeFile;  // the one certificate file StoreGet reads
};

X509 *make(EVP_PKEY *key, int i) {
    X509 *x = X509_new();
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), 100000 + i);
    X509_gmtime_adj(X509_getm_notBefore(x), 0);
    X509_gmtime_adj(X509_getm_notAfter(x), 86400L * 365);
    X509_NAME *n = X509_NAME_new();
    std::string cn = "Bench CA " + std::to_string(i);
    X509_NAME_add_entry_by_txt(n, "C", MBSTRING_ASC, reinterpret_cast<const unsigned char *>("KR"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(n, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char *>("Ostrel Bench"), -1, -1,
                               0);
    X509_NAME_add_entry_by_txt(n, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>(cn.c_str()), -1, -1, 0);
    X509_set_subject_name(x, n);
    X509_set_issuer_name(x, n);
    X509_NAME_free(n);
    X509_set_pubkey(x, key);
    // a comment extension brings the certificate to about 1 KB
    X509V3_CTX v3;
    X509V3_set_ctx_nodb(&v3);
    X509V3_set_ctx(&v3, x, x, nullptr, nullptr, 0);
    std::string pad(640, 'p');
    X509_EXTENSION *ext = X509V3_EXT_conf_nid(nullptr, &v3, NID_netscape_comment, pad.c_str());
    X509_add_ext(x, ext, -1);
    X509_EXTENSION_free(ext);
    ext = X509V3_EXT_conf_nid(nullptr, &v3, NID_basic_constraints, "critical,CA:TRUE");
    X509_add_ext(x, ext, -1);
    X509_EXTENSION_free(ext);
    X509_sign(x, key, EVP_sha256());
    return x;
}

Fixture &fixture() {
    static Fixture *f = [] {
        auto *r = new Fixture;
        EVP_PKEY *key = EVP_EC_gen("P-256");
        r->store = X509_STORE_new();
        for (int i = 0; i < kCerts; ++i) {
            X509 *x = make(key, i);
            r->certs.push_back(x);
            r->ders.push_back(ostrel::test::der_of(x));
            X509_STORE_add_cert(r->store, x);
            BIN b{static_cast<unsigned>(r->ders.back().size()), r->ders.back().data()};
            char *dn = nullptr;
            QRT_ExtractDN(0, &b, 0, &dn);
            r->keys.emplace_back(dn ? dn : "");
            QRT_free(dn);
            QRT_PVD_Cache_AddObject(PVD_TYPE_CA, r->keys.back().c_str(), &b);
        }
        EVP_PKEY_free(key);
        r->ctx = X509_STORE_CTX_new();
        X509_STORE_CTX_init(r->ctx, r->store, nullptr, nullptr);
        r->storePath = r->dir / "store";
        BIN b{static_cast<unsigned>(r->ders[0].size()), r->ders[0].data()};
        QRT_PVD_Store_AddObject(r->storePath.c_str(), PVD_TYPE_CA, r->keys[0].c_str(), &b, nullptr);
        char *hex = nullptr;
        QRT_PVD_ObjDN_ToHex(&hex, r->keys[0].c_str());
        r->storeFile = r->storePath + "/ca/" + hex + "/cert_0186a0.der";
        QRT_free(hex);
        return r;
    }();
    return *f;
}

void cache_ostrel(benchmark::State &st) {
    Fixture &f = fixture();
    size_t i = 0;
    for (auto _ : st) {
        BIN out{0, nullptr};
        if (QRT_PVD_Cache_GetObject(&out, PVD_TYPE_CA, f.keys[i].c_str()) != 0) st.SkipWithError("miss");
        benchmark::DoNotOptimize(out.value);
        QRT_BIN_Reset(&out);
        i = (i + 7) % kCerts;
    }
}

void cache_openssl(benchmark::State &st) {
    Fixture &f = fixture();
    size_t i = 0;
    for (auto _ : st) {
        X509_OBJECT *o = X509_STORE_CTX_get_obj_by_subject(f.ctx, X509_LU_X509, X509_get_subject_name(f.certs[i]));
        if (!o) st.SkipWithError("miss");
        benchmark::DoNotOptimize(o);
        X509_OBJECT_free(o);
        i = (i + 7) % kCerts;
    }
}

void store_ostrel(benchmark::State &st) {
    Fixture &f = fixture();
    for (auto _ : st) {
        ZQ_BIN_LIST list{};
        if (QRT_PVD_Store_GetObjectList(f.storePath.c_str(), &list, PVD_TYPE_CA, f.keys[0].c_str()) != 0)
            st.SkipWithError("store get failed");
        QRT_BIN_LIST_Reset(&list);
    }
}

void store_openssl(benchmark::State &st) {
    Fixture &f = fixture();
    for (auto _ : st) {
        BIO *b = BIO_new_file(f.storeFile.c_str(), "rb");
        X509 *x = b ? d2i_X509_bio(b, nullptr) : nullptr;
        if (!x) st.SkipWithError("read failed");
        X509_free(x);
        BIO_free(b);
    }
}

// Lookups per second with n threads for about half a second each.
double readers(int n) {
    Fixture &f = fixture();
    std::atomic<bool> stop{false};
    std::atomic<long> total{0};
    std::vector<std::thread> ts;
    auto t0 = std::chrono::steady_clock::now();
    for (int t = 0; t < n; ++t) {
        ts.emplace_back([&, t] {
            long ops = 0;
            size_t i = static_cast<size_t>(t) * 97;
            while (!stop.load(std::memory_order_relaxed)) {
                BIN out{0, nullptr};
                QRT_PVD_Cache_GetObject(&out, PVD_TYPE_CA, f.keys[i].c_str());
                QRT_BIN_Reset(&out);
                i = (i + 7) % kCerts;
                ++ops;
            }
            total += ops;
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    stop = true;
    for (auto &th : ts) th.join();
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    return static_cast<double>(total.load()) / secs;
}

// The same with a loop that shares nothing: how far this machine lets two threads scale at all
// right now (on a loaded machine the reader figure means little without it).
double compute(int n) {
    std::atomic<bool> stop{false};
    std::atomic<long> total{0};
    std::vector<std::thread> ts;
    auto t0 = std::chrono::steady_clock::now();
    for (int t = 0; t < n; ++t) {
        ts.emplace_back([&] {
            long ops = 0;
            unsigned x = 1;
            while (!stop.load(std::memory_order_relaxed)) {
                for (int i = 0; i < 64; ++i) x = x * 1103515245u + 12345u;
                benchmark::DoNotOptimize(x);
                ++ops;
            }
            total += ops;
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    stop = true;
    for (auto &th : ts) th.join();
    return static_cast<double>(total.load()) /
           std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Heap bytes one cached certificate costs beyond its DER and its key text.
void bytes_per_cert() {
    Fixture &f = fixture();
    QRT_PVD_Cache_Finalize();
    malloc_trim(0);
    size_t before = mallinfo2().uordblks, payload = 0;
    for (int i = 0; i < kCerts; ++i) {
        BIN b{static_cast<unsigned>(f.ders[i].size()), f.ders[i].data()};
        QRT_PVD_Cache_AddObject(PVD_TYPE_CA, f.keys[i].c_str(), &b);
        payload += f.ders[i].size() + f.keys[i].size();
    }
    size_t used = mallinfo2().uordblks - before;
    std::printf("cache: %.1f bytes per certificate = DER + key (%.1f) + %.1f\n", double(used) / kCerts,
                double(payload) / kCerts, double(used - payload) / kCerts);
}

}  // namespace

int main(int argc, char **argv) {
    benchmark::RegisterBenchmark("CacheHit/Ostrel", cache_ostrel);
    benchmark::RegisterBenchmark("CacheHit/OpenSSL_store", cache_openssl);
    benchmark::RegisterBenchmark("StoreGet/Ostrel", store_ostrel);
    benchmark::RegisterBenchmark("StoreGet/OpenSSL_file", store_openssl);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    ostrel::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    double one = readers(1), two = readers(2);
    double c1 = compute(1), c2 = compute(2);
    std::printf(
        "readers: 1 thread %.0f lookups/s, 2 threads %.0f lookups/s, two / one = %.2f "
        "(a loop sharing nothing: two / one = %.2f)\n",
        one, two, two / one, c2 / c1);
    bytes_per_cert();
    return 0;
}
