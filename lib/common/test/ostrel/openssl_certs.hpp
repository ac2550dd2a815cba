// Certificates and keys made with OpenSSL for tests and benchmarks that need a peer's objects:
// a certificate for a key (self-signed or issued, with the usual extensions and key
// identifiers), DER out of OpenSSL objects, and a private key in the provider's form.
#pragma once

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <vector>

namespace ostrel::test {

// The DER an OpenSSL i2d function writes, e.g. i2d_bytes([&](unsigned char **p) { return i2d_X509(x, p); }).
template <class F>
std::vector<unsigned char> i2d_bytes(F f) {
    unsigned char *p = nullptr;
    int n = f(&p);
    std::vector<unsigned char> out(p, p + (n > 0 ? n : 0));
    OPENSSL_free(p);
    return out;
}

inline std::vector<unsigned char> der_of(X509 *x) {
    return i2d_bytes([&](unsigned char **p) { return i2d_X509(x, p); });
}

// A certificate for key issued by (issuer, issuerKey), or self-signed when issuer is null: valid
// from an hour ago for a year, CN only, basic constraints and key usage for a CA or an end
// entity, subject key identifier (ski: "hash" or the identifier as colon-separated hex, to make a
// certificate that claims another key's identifier), authority key identifier when issued.
// nullptr on failure.
inline X509 *make_cert(EVP_PKEY *key, const char *cn, X509 *issuer, EVP_PKEY *issuerKey, long serial, bool ca,
                       const char *ski = "hash") {
    X509 *x = X509_new();
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), serial);
    X509_gmtime_adj(X509_getm_notBefore(x), -3600);
    X509_gmtime_adj(X509_getm_notAfter(x), 86400L * 365);
    X509_NAME *n = X509_NAME_new();
    X509_NAME_add_entry_by_txt(n, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>(cn), -1, -1, 0);
    X509_set_subject_name(x, n);
    X509_set_issuer_name(x, issuer ? X509_get_subject_name(issuer) : n);
    X509_NAME_free(n);
    X509_set_pubkey(x, key);
    struct Ext {
        int nid;
        const char *value;
    };
    const Ext exts[] = {
        {NID_basic_constraints, ca ? "critical,CA:TRUE" : "CA:FALSE"},
        {NID_key_usage,
         ca ? "critical,keyCertSign,cRLSign,digitalSignature" : "digitalSignature,nonRepudiation,keyEncipherment"},
        {NID_subject_key_identifier, ski},
        {NID_authority_key_identifier, issuer ? "keyid" : nullptr},
    };
    bool ok = true;
    for (const Ext &e : exts) {
        if (!e.value) continue;
        X509V3_CTX ctx;
        X509V3_set_ctx_nodb(&ctx);
        X509V3_set_ctx(&ctx, issuer ? issuer : x, x, nullptr, nullptr, 0);
        X509_EXTENSION *ext = X509V3_EXT_conf_nid(nullptr, &ctx, e.nid, e.value);
        ok = ok && ext && X509_add_ext(x, ext, -1) == 1;
        X509_EXTENSION_free(ext);
    }
    if (!ok || X509_sign(x, issuerKey ? issuerKey : key, EVP_sha256()) <= 0) {
        X509_free(x);
        return nullptr;
    }
    return x;
}

// The provider's private-key form: PKCS#1 RSAPrivateKey for RSA, the DER INTEGER of the private
// value (x or d) for the others; empty on failure.
inline std::vector<unsigned char> provider_priv(EVP_PKEY *k) {
    if (EVP_PKEY_is_a(k, "RSA")) return i2d_bytes([&](unsigned char **p) { return i2d_PrivateKey(k, p); });
    BIGNUM *bn = nullptr;
    if (EVP_PKEY_get_bn_param(k, OSSL_PKEY_PARAM_PRIV_KEY, &bn) != 1) return {};
    std::vector<unsigned char> mag(static_cast<size_t>(BN_num_bytes(bn)));
    BN_bn2bin(bn, mag.data());
    BN_clear_free(bn);
    if (mag.empty() || (mag[0] & 0x80)) mag.insert(mag.begin(), 0x00);
    std::vector<unsigned char> der{0x02};
    size_t n = mag.size();
    if (n < 0x80) {
        der.push_back(static_cast<unsigned char>(n));
    } else {
        std::vector<unsigned char> len;
        for (size_t m = n; m; m >>= 8) len.insert(len.begin(), static_cast<unsigned char>(m));
        der.push_back(static_cast<unsigned char>(0x80 | len.size()));
        der.insert(der.end(), len.begin(), len.end());
    }
    der.insert(der.end(), mag.begin(), mag.end());
    return der;
}

}  // namespace ostrel::test
