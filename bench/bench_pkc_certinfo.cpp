// The certificate record against OpenSSL on the same inputs in the same run: every Mozilla root
// of the system from DER to printable fields (QRT_ExtractCertInfo against d2i_X509 and
// X509_print_ex into a memory BIO), and one end-entity certificate with the usual extensions.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <string>
#include <vector>

#include "bench_certs.hpp"
#include "suite_pkc.h"

namespace {

using Bytes = std::vector<unsigned char>;

// The DER of every root, read once through OpenSSL's PEM reader.
const std::vector<Bytes> &roots() {
    static std::vector<Bytes> all;
    if (!all.empty()) return all;
    const std::string dir = "/usr/share/ca-certificates/mozilla";
    DIR *d = opendir(dir.c_str());
    if (!d) return all;
    while (dirent *e = readdir(d)) {
        std::string name = e->d_name;
        if (name.size() < 5 || name.compare(name.size() - 4, 4, ".crt") != 0) continue;
        BIO *in = BIO_new_file((dir + "/" + name).c_str(), "r");
        X509 *x = in ? PEM_read_bio_X509(in, nullptr, nullptr, nullptr) : nullptr;
        if (x) {
            unsigned char *der = nullptr;
            int n = i2d_X509(x, &der);
            if (n > 0) all.emplace_back(der, der + n);
            OPENSSL_free(der);
        }
        X509_free(x);
        BIO_free(in);
    }
    closedir(d);
    return all;
}

const Bytes &leaf() {
    static Bytes der;
    if (der.empty()) {
        EVP_PKEY *k = EVP_RSA_gen(2048);
        der = bench::make_leaf(k, EVP_sha256());
        EVP_PKEY_free(k);
    }
    return der;
}

const std::vector<Bytes> &inputs(int which) {
    static std::vector<Bytes> one;
    if (which == 0) return roots();
    if (one.empty()) one.push_back(leaf());
    return one;
}

void BM_Ostrel_ExtractCertInfo(benchmark::State &state) {
    const auto &certs = inputs(static_cast<int>(state.range(0)));
    if (certs.empty()) {
        state.SkipWithError("no certificates");
        return;
    }
    static CertInfo info;
    for (auto _ : state)
        for (const Bytes &c : certs) {
            int rc = QRT_ExtractCertInfo(0, nullptr, c.data(), static_cast<unsigned>(c.size()), 1, &info);
            if (rc) state.SkipWithError("extraction failed");
            benchmark::DoNotOptimize(info.sMSFP[0]);
        }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * certs.size()));
    state.SetLabel(state.range(0) ? "one leaf" : "system roots");
}

void BM_OpenSSL_d2i_X509_print(benchmark::State &state) {
    const auto &certs = inputs(static_cast<int>(state.range(0)));
    if (certs.empty()) {
        state.SkipWithError("no certificates");
        return;
    }
    BIO *out = BIO_new(BIO_s_mem());
    for (auto _ : state)
        for (const Bytes &c : certs) {
            const unsigned char *p = c.data();
            X509 *x = d2i_X509(nullptr, &p, static_cast<long>(c.size()));
            if (!x || X509_print_ex(out, x, XN_FLAG_RFC2253, 0) != 1) state.SkipWithError("print failed");
            X509_free(x);
            (void)BIO_reset(out);
        }
    BIO_free(out);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * certs.size()));
    state.SetLabel(state.range(0) ? "one leaf" : "system roots");
}

}  // namespace

BENCHMARK(BM_Ostrel_ExtractCertInfo)->Arg(0)->Arg(1);
BENCHMARK(BM_OpenSSL_d2i_X509_print)->Arg(0)->Arg(1);
