// Names as text against OpenSSL on the same inputs in the same run: printing the subject of every
// Mozilla root of the system (QRT_ExtractRDN against X509_NAME_print_ex with XN_FLAG_RFC2253 into
// a memory BIO), printing one three-RDN name in each locale, and building and encoding a
// three-attribute name (QRT_ImplementRDN and DER encoding against three
// X509_NAME_add_entry_by_txt and i2d_X509_NAME).
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <openssl/bio.h>
#include <openssl/x509.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "suite_pkc.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes pem_body(const std::string &text) {
    BIN pem{static_cast<unsigned>(text.size()), reinterpret_cast<unsigned char *>(const_cast<char *>(text.data()))};
    BIN der{0, nullptr};
    Bytes out;
    if (QRT_PKC_DecodePEM(&der, &pem) == 0) out.assign(der.value, der.value + der.length);
    QRT_BIN_Reset(&der);
    return out;
}

// The roots, decoded once by both sides.
struct Roots {
    std::vector<void *> ours;  // Certificate trees
    std::vector<X509 *> theirs;
    Roots() {
        const std::string dir = "/usr/share/ca-certificates/mozilla";
        DIR *d = opendir(dir.c_str());
        if (!d) return;
        while (dirent *e = readdir(d)) {
            if (e->d_name[0] == '.') continue;
            std::ifstream in(dir + "/" + e->d_name);
            std::stringstream ss;
            ss << in.rdbuf();
            Bytes der = pem_body(ss.str());
            if (der.empty()) continue;
            BIN bin{static_cast<unsigned>(der.size()), der.data()};
            void *tree = nullptr;
            const unsigned char *p = der.data();
            X509 *x = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
            if (QRT_ASN_DecodePDU(&tree, &bin, Certificate_PDU) != 0 || !x) {
                if (tree) QRT_ASN_FreePDU(tree, Certificate_PDU);
                X509_free(x);
                continue;
            }
            ours.push_back(tree);
            theirs.push_back(x);
        }
        closedir(d);
    }
    ~Roots() {
        for (void *t : ours) QRT_ASN_FreePDU(t, Certificate_PDU);
        for (X509 *x : theirs) X509_free(x);
    }
};

Roots &roots() {
    static Roots r;
    return r;
}

void BM_Ostrel_ExtractRDN_Roots(benchmark::State &state) {
    QRT_PKC_SetOption("locale", "ko_KR-UTF-8");
    auto &r = roots();
    for (auto _ : state) {
        for (void *t : r.ours) {
            char *out = nullptr;
            if (QRT_ExtractRDN(0, &static_cast<Certificate *>(t)->tbsCertificate.subject, &out) == 0) QRT_free(out);
            benchmark::DoNotOptimize(out);
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long>(r.ours.size()));
    QRT_PKC_SetOption("locale", "ko_KR-euc");
}

void BM_OpenSSL_NamePrintRFC2253_Roots(benchmark::State &state) {
    auto &r = roots();
    BIO *bio = BIO_new(BIO_s_mem());
    for (auto _ : state) {
        for (X509 *x : r.theirs) {
            X509_NAME_print_ex(bio, X509_get_subject_name(x), 0, XN_FLAG_RFC2253);
            char *text = nullptr;
            benchmark::DoNotOptimize(BIO_get_mem_data(bio, &text));
            BIO_reset(bio);
        }
    }
    BIO_free(bio);
    state.SetItemsProcessed(state.iterations() * static_cast<long>(r.theirs.size()));
}

const char *kText = "CN=leaf.example.test,O=Ostrel Bench,C=KR";

// One three-RDN name, printed under the EUC-KR (0) or the UTF-8 (1) locale.
void BM_Ostrel_ExtractRDN_ThreeRDNs(benchmark::State &state) {
    QRT_PKC_SetOption("locale", state.range(0) ? "ko_KR-UTF-8" : "ko_KR-euc");
    Name name{};
    QRT_ImplementRDN(&name, kText);
    for (auto _ : state) {
        char *out = nullptr;
        QRT_ExtractRDN(0, &name, &out);
        benchmark::DoNotOptimize(out);
        QRT_free(out);
    }
    QRT_NameFree(&name);
    QRT_PKC_SetOption("locale", "ko_KR-euc");
}

void BM_Ostrel_ImplementRDN_Encode(benchmark::State &state) {
    for (auto _ : state) {
        Name name{};
        QRT_ImplementRDN(&name, kText);
        BIN der{0, nullptr};
        QRT_ASN_EncodePDU(&der, &name, Name_PDU);
        benchmark::DoNotOptimize(der.value);
        QRT_BIN_Reset(&der);
        QRT_NameFree(&name);
    }
}

void BM_OpenSSL_AddEntries_i2d(benchmark::State &state) {
    for (auto _ : state) {
        X509_NAME *name = X509_NAME_new();
        X509_NAME_add_entry_by_txt(name, "C", MBSTRING_UTF8, reinterpret_cast<const unsigned char *>("KR"), -1, -1, 0);
        X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8, reinterpret_cast<const unsigned char *>("Ostrel Bench"), -1,
                                   -1, 0);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char *>("leaf.example.test"), -1, -1, 0);
        unsigned char *der = nullptr;
        benchmark::DoNotOptimize(i2d_X509_NAME(name, &der));
        OPENSSL_free(der);
        X509_NAME_free(name);
    }
}

}  // namespace

BENCHMARK(BM_Ostrel_ExtractRDN_Roots);
BENCHMARK(BM_OpenSSL_NamePrintRFC2253_Roots);
BENCHMARK(BM_Ostrel_ExtractRDN_ThreeRDNs)->Arg(0)->Arg(1);
BENCHMARK(BM_Ostrel_ImplementRDN_Encode);
BENCHMARK(BM_OpenSSL_AddEntries_i2d);
