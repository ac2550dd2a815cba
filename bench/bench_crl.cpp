// A CRL of 100 000 entries as a CA signs it (RSA-2048, SHA-256, serials of 16 octets), made
// with OpenSSL in this process: look-up, building the index (OpenSSL sorts on its first
// look-up), decoding and the signature, each against OpenSSL on the same bytes. Memory per entry
// (decoded tree, plus the index for us) is reported as a counter.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/x509.h>

#include <vector>

#include "suite_crl.h"

namespace {

using Bytes = std::vector<unsigned char>;
constexpr int kEntries = 100000;

struct Fixture {
    Bytes crl, issuer;
    std::vector<Bytes> serials;  // content octets of every entry's serial
};

const Fixture &fixture() {
    static Fixture f = [] {
        Fixture r;
        EVP_PKEY *key = EVP_RSA_gen(2048);
        X509 *ca = X509_new();
        X509_NAME *name = X509_NAME_new();
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>("Bench CA"), -1, -1, 0);
        X509_set_version(ca, 2);
        X509_set_subject_name(ca, name);
        X509_set_issuer_name(ca, name);
        X509_gmtime_adj(X509_getm_notBefore(ca), 0);
        X509_gmtime_adj(X509_getm_notAfter(ca), 86400);
        X509_set_pubkey(ca, key);
        X509_sign(ca, key, EVP_sha256());
        unsigned char *p = nullptr;
        int n = i2d_X509(ca, &p);
        r.issuer.assign(p, p + n);
        OPENSSL_free(p);

        X509_CRL *crl = X509_CRL_new();
        X509_CRL_set_version(crl, 1);
        X509_CRL_set_issuer_name(crl, name);
        ASN1_TIME *now = ASN1_TIME_set(nullptr, time(nullptr));
        ASN1_TIME *next = ASN1_TIME_set(nullptr, time(nullptr) + 86400);
        X509_CRL_set1_lastUpdate(crl, now);
        X509_CRL_set1_nextUpdate(crl, next);
        for (int i = 0; i < kEntries; ++i) {
            unsigned char s[16];
            RAND_bytes(s, sizeof s);
            s[0] &= 0x7f;
            s[0] |= 0x01;
            r.serials.emplace_back(s, s + sizeof s);
            X509_REVOKED *rev = X509_REVOKED_new();
            ASN1_INTEGER *ai = ASN1_INTEGER_new();
            ASN1_STRING_set(ai, s, sizeof s);
            X509_REVOKED_set_serialNumber(rev, ai);
            X509_REVOKED_set_revocationDate(rev, now);
            X509_CRL_add0_revoked(crl, rev);
            ASN1_INTEGER_free(ai);
        }
        X509_CRL_sign(crl, key, EVP_sha256());
        p = nullptr;
        n = i2d_X509_CRL(crl, &p);
        r.crl.assign(p, p + n);
        OPENSSL_free(p);
        ASN1_TIME_free(now);
        ASN1_TIME_free(next);
        X509_CRL_free(crl);
        X509_NAME_free(name);
        X509_free(ca);
        EVP_PKEY_free(key);
        return r;
    }();
    return f;
}

size_t heap_in_use() { return mallinfo2().uordblks; }

CertificateList *decode(const Bytes &der) {
    BIN in{static_cast<unsigned>(der.size()), const_cast<unsigned char *>(der.data())};
    CertificateList *crl = nullptr;
    QRT_GetCRLCtxBin(0, &in, &crl);
    return crl;
}

X509_CRL *openssl_decode(const Bytes &der) {
    const unsigned char *p = der.data();
    return d2i_X509_CRL(nullptr, &p, static_cast<long>(der.size()));
}

void BM_Ostrel_CRL_Lookup(benchmark::State &state) {
    const Fixture &f = fixture();
    CertificateList *crl = decode(f.crl);
    std::vector<HUGE> probes;
    for (size_t i = 0; i < 4096; ++i) {
        const Bytes &s = f.serials[(i * 7919) % f.serials.size()];
        probes.push_back(HUGE{static_cast<unsigned short>(s.size()), const_cast<unsigned char *>(s.data())});
    }
    size_t before = heap_in_use();
    QRT_CRL_IsCertRevoked(&crl->tbsCertList, &probes[0]);  // builds the index
    state.counters["index_bytes_per_entry"] = double(heap_in_use() - before) / kEntries;
    size_t i = 0;
    for (auto _ : state) {
        int r = QRT_CRL_IsCertRevoked(&crl->tbsCertList, &probes[i++ & 4095]);
        if (r != 1) state.SkipWithError("not found");
        benchmark::DoNotOptimize(r);
    }
    QRT_ASN_FreePDU(crl, CertificateList_PDU);
}

void BM_OpenSSL_CRL_Lookup(benchmark::State &state) {
    const Fixture &f = fixture();
    X509_CRL *crl = openssl_decode(f.crl);
    std::vector<ASN1_INTEGER *> probes;
    for (size_t i = 0; i < 4096; ++i) {
        const Bytes &s = f.serials[(i * 7919) % f.serials.size()];
        ASN1_INTEGER *ai = ASN1_INTEGER_new();
        ASN1_STRING_set(ai, s.data(), static_cast<int>(s.size()));
        probes.push_back(ai);
    }
    X509_REVOKED *rev = nullptr;
    X509_CRL_get0_by_serial(crl, &rev, probes[0]);  // sorts the entries
    size_t i = 0;
    for (auto _ : state) {
        int r = X509_CRL_get0_by_serial(crl, &rev, probes[i++ & 4095]);
        if (r != 1) state.SkipWithError("not found");
        benchmark::DoNotOptimize(r);
    }
    for (auto *p : probes) ASN1_INTEGER_free(p);
    X509_CRL_free(crl);
}

// The first look-up on a freshly decoded CRL: our index build, OpenSSL's sort.
void BM_Ostrel_CRL_FirstLookup(benchmark::State &state) {
    const Fixture &f = fixture();
    HUGE probe{static_cast<unsigned short>(f.serials[5].size()), const_cast<unsigned char *>(f.serials[5].data())};
    for (auto _ : state) {
        state.PauseTiming();
        CertificateList *crl = decode(f.crl);
        state.ResumeTiming();
        benchmark::DoNotOptimize(QRT_CRL_IsCertRevoked(&crl->tbsCertList, &probe));
        state.PauseTiming();
        QRT_ASN_FreePDU(crl, CertificateList_PDU);
        state.ResumeTiming();
    }
}

void BM_OpenSSL_CRL_FirstLookup(benchmark::State &state) {
    const Fixture &f = fixture();
    ASN1_INTEGER *probe = ASN1_INTEGER_new();
    ASN1_STRING_set(probe, f.serials[5].data(), static_cast<int>(f.serials[5].size()));
    for (auto _ : state) {
        state.PauseTiming();
        X509_CRL *crl = openssl_decode(f.crl);
        state.ResumeTiming();
        X509_REVOKED *rev = nullptr;
        benchmark::DoNotOptimize(X509_CRL_get0_by_serial(crl, &rev, probe));
        state.PauseTiming();
        X509_CRL_free(crl);
        state.ResumeTiming();
    }
    ASN1_INTEGER_free(probe);
}

void BM_Ostrel_CRL_Decode(benchmark::State &state) {
    const Fixture &f = fixture();
    size_t before = heap_in_use();
    CertificateList *probe = decode(f.crl);
    state.counters["tree_bytes_per_entry"] = double(heap_in_use() - before) / kEntries;
    QRT_ASN_FreePDU(probe, CertificateList_PDU);
    for (auto _ : state) {
        CertificateList *crl = decode(f.crl);
        if (!crl) state.SkipWithError("decode failed");
        QRT_ASN_FreePDU(crl, CertificateList_PDU);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.crl.size()));
}

void BM_OpenSSL_CRL_Decode(benchmark::State &state) {
    const Fixture &f = fixture();
    size_t before = heap_in_use();
    X509_CRL *probe = openssl_decode(f.crl);
    state.counters["tree_bytes_per_entry"] = double(heap_in_use() - before) / kEntries;
    X509_CRL_free(probe);
    for (auto _ : state) {
        X509_CRL *crl = openssl_decode(f.crl);
        if (!crl) state.SkipWithError("decode failed");
        X509_CRL_free(crl);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.crl.size()));
}

void BM_Ostrel_CRL_Verify(benchmark::State &state) {
    const Fixture &f = fixture();
    CertificateList *crl = decode(f.crl);
    BIN in{static_cast<unsigned>(f.issuer.size()), const_cast<unsigned char *>(f.issuer.data())};
    void *ca = nullptr;
    QRT_ASN_DecodePDU(&ca, &in, Certificate_PDU);
    for (auto _ : state) {
        int rc = QRT_CRL_VerifySignature(crl, &static_cast<Certificate *>(ca)->tbsCertificate);
        if (rc) state.SkipWithError("does not verify");
    }
    QRT_ASN_FreePDU(ca, Certificate_PDU);
    QRT_ASN_FreePDU(crl, CertificateList_PDU);
}

void BM_OpenSSL_CRL_Verify(benchmark::State &state) {
    const Fixture &f = fixture();
    X509_CRL *crl = openssl_decode(f.crl);
    const unsigned char *p = f.issuer.data();
    X509 *ca = d2i_X509(nullptr, &p, static_cast<long>(f.issuer.size()));
    for (auto _ : state) {
        if (X509_CRL_verify(crl, X509_get0_pubkey(ca)) != 1) state.SkipWithError("does not verify");
    }
    X509_free(ca);
    X509_CRL_free(crl);
}

}  // namespace

BENCHMARK(BM_Ostrel_CRL_Lookup);
BENCHMARK(BM_OpenSSL_CRL_Lookup);
BENCHMARK(BM_Ostrel_CRL_FirstLookup)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenSSL_CRL_FirstLookup)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ostrel_CRL_Decode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenSSL_CRL_Decode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ostrel_CRL_Verify)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenSSL_CRL_Verify)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
