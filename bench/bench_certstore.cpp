// A certificate looked up by subject in a directory store of 1000 subjects: the tools' store
// (SHA-1 of the DN text, one file read, no decoding) against OpenSSL's hash-directory lookup
// (X509_LOOKUP_hash_dir, X509_STORE_CTX_get_obj_by_subject) over the same certificates in a
// directory prepared by `openssl rehash`, in the same run.
//   Lookup1000/OpenSSL_cold   a new X509_STORE per lookup, as a tool started per request has
//   Lookup1000/OpenSSL_warm   one X509_STORE for the run, which keeps what it has loaded
#include <benchmark/benchmark.h>
#include <openssl/ec.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "../lib/common/test/ostrel/openssl_certs.hpp"
#include "bench_ratio.hpp"
#include "certstorage.h"
#include "ostrel/asn_tree.hpp"

namespace {

constexpr int kSubjects = 1000;

struct Fixture {
    std::string dir;                 // holds store/ (ours) and hashed/ (OpenSSL's)
    std::vector<std::string> dns;    // our DN texts
    std::vector<X509_NAME *> names;  // the same subjects for OpenSSL
    bool ok = false;

    Fixture() {
        char tmpl[] = "/tmp/ostrel-bench-store-XXXXXX";
        if (!mkdtemp(tmpl)) return;
        dir = tmpl;
        std::string store = dir + "/store", hashed = dir + "/hashed";
        std::filesystem::create_directories(hashed);
        EVP_PKEY *key = EVP_EC_gen("P-256");
        X509 *ca = ostrel::test::make_cert(key, "Bench Root", nullptr, nullptr, 1, true);
        ok = key && ca;
        for (int i = 0; ok && i < kSubjects; ++i) {
            std::string cn = "Bench Subject " + std::to_string(i);
            X509 *x = ostrel::test::make_cert(key, cn.c_str(), ca, key, 1000 + i, false);
            auto der = ostrel::test::der_of(x);
            ostrel::AsnTree<Certificate> tree(Certificate_PDU);
            BIN b{static_cast<unsigned>(der.size()), der.data()};
            ok = x && tree.decode(&b) == 0 && QRT_PutCertificateToStorage(store.c_str(), 2, tree.get()) == 0;
            FILE *f = std::fopen((hashed + "/subject" + std::to_string(i) + ".pem").c_str(), "wx");
            ok = ok && f && PEM_write_X509(f, x) == 1;
            if (f) std::fclose(f);
            dns.push_back("cn=" + cn);
            names.push_back(X509_NAME_dup(X509_get_subject_name(x)));
            X509_free(x);
        }
        X509_free(ca);
        EVP_PKEY_free(key);
        // The links "<subject hash>.0" the hash-directory lookup opens.
        ok = ok && std::system(("openssl rehash " + hashed + " >/dev/null 2>&1").c_str()) == 0;
    }
    ~Fixture() {
        for (X509_NAME *n : names) X509_NAME_free(n);
        std::error_code ec;
        if (!dir.empty()) std::filesystem::remove_all(dir, ec);
    }
};

Fixture &fixture() {
    static Fixture f;
    return f;
}

X509_STORE *hashed_store(const std::string &dir) {
    X509_STORE *s = X509_STORE_new();
    X509_LOOKUP *l = s ? X509_STORE_add_lookup(s, X509_LOOKUP_hash_dir()) : nullptr;
    if (!l || X509_LOOKUP_add_dir(l, dir.c_str(), X509_FILETYPE_PEM) != 1) {
        X509_STORE_free(s);
        return nullptr;
    }
    return s;
}

bool openssl_lookup(X509_STORE *s, X509_NAME *name) {
    X509_STORE_CTX *ctx = X509_STORE_CTX_new();
    bool found = false;
    if (ctx && X509_STORE_CTX_init(ctx, s, nullptr, nullptr) == 1) {
        X509_OBJECT *obj = X509_STORE_CTX_get_obj_by_subject(ctx, X509_LU_X509, name);
        found = obj != nullptr;
        X509_OBJECT_free(obj);
    }
    X509_STORE_CTX_free(ctx);
    return found;
}

void lookup_ostrel(benchmark::State &st) {
    Fixture &f = fixture();
    if (!f.ok) return st.SkipWithError("fixture failed");
    std::string store = f.dir + "/store";
    size_t i = 0;
    for (auto _ : st) {
        BIN der{0, nullptr};
        if (QRT_GetCertificateFromStorage(store.c_str(), 2, f.dns[i].c_str(), &der) != 0) st.SkipWithError("lookup");
        QRT_BIN_Reset(&der);
        i = (i + 1) % f.dns.size();
    }
}

void lookup_openssl_cold(benchmark::State &st) {
    Fixture &f = fixture();
    if (!f.ok) return st.SkipWithError("fixture failed");
    std::string hashed = f.dir + "/hashed";
    size_t i = 0;
    for (auto _ : st) {
        X509_STORE *s = hashed_store(hashed);
        if (!s || !openssl_lookup(s, f.names[i])) st.SkipWithError("lookup");
        X509_STORE_free(s);
        i = (i + 1) % f.names.size();
    }
}

void lookup_openssl_warm(benchmark::State &st) {
    Fixture &f = fixture();
    if (!f.ok) return st.SkipWithError("fixture failed");
    X509_STORE *s = hashed_store(f.dir + "/hashed");
    size_t i = 0;
    for (auto _ : st) {
        if (!s || !openssl_lookup(s, f.names[i])) st.SkipWithError("lookup");
        i = (i + 1) % f.names.size();
    }
    X509_STORE_free(s);
}

}  // namespace

int main(int argc, char **argv) {
    benchmark::RegisterBenchmark("Lookup1000/Ostrel", lookup_ostrel);
    benchmark::RegisterBenchmark("Lookup1000/OpenSSL_cold", lookup_openssl_cold);
    benchmark::RegisterBenchmark("Lookup1000/OpenSSL_warm", lookup_openssl_warm);
    return ostrel::bench::run_with_ratios(argc, argv);
}
