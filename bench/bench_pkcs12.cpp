// PKCS#12 import against OpenSSL's PKCS12_parse for the same files, in the same run: one file as
// OpenSSL 3 writes by default (PBES2 AES-256 / HMAC-SHA-256, SHA-256 MAC, 2048 iterations) and
// one in the legacy form (RC2-40 certificates, Triple DES key, SHA-1 MAC). Ours is DecodePFX and
// DecodeSHKey of the shrouded key.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>
#include <openssl/x509.h>

#include <vector>

#include "suite_pkcs12.h"

namespace {

const char kPassword[] = "bench-password";

struct Files {
    std::vector<unsigned char> modern, legacy;
    Files() {
        OSSL_PROVIDER_load(nullptr, "legacy");
        OSSL_PROVIDER_load(nullptr, "default");
        EVP_PKEY *key = EVP_RSA_gen(2048);
        X509 *cert = X509_new();
        X509_set_version(cert, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
        X509_gmtime_adj(X509_getm_notBefore(cert), 0);
        X509_gmtime_adj(X509_getm_notAfter(cert), 86400);
        X509_NAME *name = X509_get_subject_name(cert);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>("bench"), -1, -1,
                                   0);
        X509_set_issuer_name(cert, name);
        X509_set_pubkey(cert, key);
        X509_sign(cert, key, EVP_sha256());
        modern = make(key, cert, 0, 0, 0);
        legacy = make(key, cert, NID_pbe_WithSHA1And3_Key_TripleDES_CBC, NID_pbe_WithSHA1And40BitRC2_CBC, 1);
        X509_free(cert);
        EVP_PKEY_free(key);
    }
    static std::vector<unsigned char> make(EVP_PKEY *key, X509 *cert, int keyNid, int certNid, int sha1Mac) {
        PKCS12 *p12 = PKCS12_create(kPassword, nullptr, key, cert, nullptr, keyNid, certNid, 2048, 2048, 0);
        if (!p12) return {};
        if (sha1Mac) PKCS12_set_mac(p12, kPassword, -1, nullptr, 0, 2048, EVP_sha1());
        unsigned char *der = nullptr;
        int len = i2d_PKCS12(p12, &der);
        std::vector<unsigned char> out(der, der + (len > 0 ? len : 0));
        OPENSSL_free(der);
        PKCS12_free(p12);
        return out;
    }
};
const Files &files() {
    static Files f;
    return f;
}

void ostrel_import(benchmark::State &st, const std::vector<unsigned char> &pfx) {
    BIN in{static_cast<unsigned>(pfx.size()), const_cast<unsigned char *>(pfx.data())};
    BIN pw{sizeof kPassword - 1, reinterpret_cast<unsigned char *>(const_cast<char *>(kPassword))};
    for (auto _ : st) {
        BIN key{0, nullptr}, cert{0, nullptr}, plain{0, nullptr};
        if (QRT_PKCS12_DecodePFX(nullptr, &key, &cert, nullptr, nullptr, &in, &pw) ||
            QRT_PKCS12_DecodeSHKey(&plain, &key, &pw))
            st.SkipWithError("decode failed");
        QRT_BIN_Reset(&key);
        QRT_BIN_Reset(&cert);
        QRT_BIN_Reset(&plain);
    }
}

void openssl_import(benchmark::State &st, const std::vector<unsigned char> &pfx) {
    for (auto _ : st) {
        const unsigned char *p = pfx.data();
        PKCS12 *p12 = d2i_PKCS12(nullptr, &p, static_cast<long>(pfx.size()));
        EVP_PKEY *key = nullptr;
        X509 *cert = nullptr;
        if (!p12 || !PKCS12_parse(p12, kPassword, &key, &cert, nullptr)) st.SkipWithError("parse failed");
        EVP_PKEY_free(key);
        X509_free(cert);
        PKCS12_free(p12);
    }
}

void BM_Ostrel_Import_Default(benchmark::State &st) { ostrel_import(st, files().modern); }
void BM_OpenSSL_Import_Default(benchmark::State &st) { openssl_import(st, files().modern); }
void BM_Ostrel_Import_Legacy(benchmark::State &st) { ostrel_import(st, files().legacy); }
void BM_OpenSSL_Import_Legacy(benchmark::State &st) { openssl_import(st, files().legacy); }

}  // namespace

BENCHMARK(BM_Ostrel_Import_Default);
BENCHMARK(BM_OpenSSL_Import_Default);
BENCHMARK(BM_Ostrel_Import_Legacy);
BENCHMARK(BM_OpenSSL_Import_Legacy);
BENCHMARK_MAIN();
