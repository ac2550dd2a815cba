// Certificates for the benchmarks, made with OpenSSL in the benchmark's own process: a
// self-signed end-entity certificate of about 1 KB with the usual extensions.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <vector>

namespace bench {

// The DER of a certificate for key, signed with it under md.
inline std::vector<unsigned char> make_leaf(EVP_PKEY *key, const EVP_MD *md) {
    X509 *x = X509_new();
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), 0x1234567);
    X509_gmtime_adj(X509_getm_notBefore(x), 0);
    X509_gmtime_adj(X509_getm_notAfter(x), 86400L * 365);
    X509_NAME *name = X509_NAME_new();
    X509_NAME_add_entry_by_txt(name, "C", MBSTRING_ASC, (const unsigned char *)"KR", -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, (const unsigned char *)"Ostrel Bench", -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, (const unsigned char *)"leaf.example.test", -1, -1, 0);
    X509_set_subject_name(x, name);
    X509_set_issuer_name(x, name);
    X509_set_pubkey(x, key);
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, x, x, nullptr, nullptr, 0);
    const char *exts[][2] = {{"basicConstraints", "critical,CA:FALSE"},
                             {"keyUsage", "critical,digitalSignature,keyEncipherment"},
                             {"extendedKeyUsage", "serverAuth,clientAuth"},
                             {"subjectKeyIdentifier", "hash"},
                             {"subjectAltName", "DNS:leaf.example.test,DNS:www.example.test"},
                             {"crlDistributionPoints", "URI:http://crl.example.test/ca.crl"}};
    for (auto &e : exts) {
        X509_EXTENSION *ext = X509V3_EXT_conf(nullptr, &ctx, e[0], e[1]);
        X509_add_ext(x, ext, -1);
        X509_EXTENSION_free(ext);
    }
    X509_sign(x, key, md);
    unsigned char *der = nullptr;
    int n = i2d_X509(x, &der);
    std::vector<unsigned char> out(der, der + n);
    OPENSSL_free(der);
    X509_NAME_free(name);
    X509_free(x);
    return out;
}

}  // namespace bench
