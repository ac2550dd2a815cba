// Helpers shared by the core's public-key tests: records from and to OpenSSL objects, hex, and
// OpenSSL references over the default library context.
#pragma once

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>

#include <map>
#include <string>
#include <vector>

#include "ostrel/test_support.hpp"
#include "suite_crypto.h"

namespace pktest {

using Bytes = std::vector<unsigned char>;
using ostrel::test::from_hex;
using ostrel::test::to_hex;

inline std::string hex(const Bytes &b) { return to_hex(b.data(), b.size()); }

inline Bytes pattern(size_t n, unsigned seed = 1) {
    Bytes v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<unsigned char>(i * 167 + seed * 29 + (i >> 2));
    return v;
}

inline void set_bytes(WJ_BigInt *a, const Bytes &b) {
    ASSERT_EQ(WJ_BigInt_BytesToInt(a, b.data(), static_cast<unsigned>(b.size())), 0);
}

inline void set_hex(WJ_BigInt *a, const std::string &h) { set_bytes(a, from_hex(h)); }

inline WJ_BigInt *big(const std::string &h) {
    WJ_BigInt *a = WJ_BigInt_New(1);
    set_hex(a, h);
    return a;
}

inline Bytes bytes_of(const WJ_BigInt *a) {
    unsigned n = 0;
    EXPECT_EQ(WJ_BigInt_IntToBytes(nullptr, &n, a), 0);
    Bytes out(n);
    EXPECT_EQ(WJ_BigInt_IntToBytes(out.data(), &n, a), 0);
    return out;
}

inline std::string hex_of(const WJ_BigInt *a) { return hex(bytes_of(a)); }

inline void set_bn(WJ_BigInt *a, const BIGNUM *bn) {
    Bytes b(static_cast<size_t>(BN_num_bytes(bn)));
    BN_bn2bin(bn, b.data());
    set_bytes(a, b);
    a->Sign = BN_is_negative(bn) ? 1 : 0;
}

inline BIGNUM *bn_of(const WJ_BigInt *a) {
    Bytes b = bytes_of(a);
    BIGNUM *bn = BN_bin2bn(b.data(), static_cast<int>(b.size()), nullptr);
    BN_set_negative(bn, a->Sign);
    return bn;
}

inline void set_param(WJ_BigInt *a, const EVP_PKEY *pkey, const char *name) {
    BIGNUM *bn = nullptr;
    ASSERT_TRUE(EVP_PKEY_get_bn_param(pkey, name, &bn)) << name;
    set_bn(a, bn);
    BN_free(bn);
}

// Calls a function with the out/room convention: once for the length, once for the bytes.
template <class F>
Bytes call_out(F f, int want = 0) {
    unsigned n = 0;
    int rc = f(nullptr, &n);
    if (rc != 0) {
        EXPECT_EQ(rc, want);
        return {};
    }
    Bytes out(n);
    rc = f(out.data(), &n);
    EXPECT_EQ(rc, want);
    out.resize(rc == 0 ? n : 0);
    return out;
}

inline EVP_PKEY *openssl_keygen(const char *alg, const char *opt_name = nullptr, int opt = 0) {
    EVP_PKEY_CTX *c = EVP_PKEY_CTX_new_from_name(nullptr, alg, nullptr);
    EVP_PKEY *k = nullptr;
    EXPECT_EQ(EVP_PKEY_keygen_init(c), 1);
    if (opt_name) {
        OSSL_PARAM p[] = {OSSL_PARAM_construct_int(opt_name, &opt), OSSL_PARAM_construct_end()};
        EXPECT_EQ(EVP_PKEY_CTX_set_params(c, p), 1);
    }
    EXPECT_EQ(EVP_PKEY_generate(c, &k), 1);
    EVP_PKEY_CTX_free(c);
    return k;
}

// An RSA private record of the core filled from an OpenSSL key.
inline WJ_RSA_PrivateKey *rsa_private_of(const EVP_PKEY *k) {
    WJ_RSA_PrivateKey *p = WJ_RSA_PrivateKey_New();
    set_param(p->n, k, OSSL_PKEY_PARAM_RSA_N);
    set_param(p->e, k, OSSL_PKEY_PARAM_RSA_E);
    set_param(p->d, k, OSSL_PKEY_PARAM_RSA_D);
    set_param(p->p, k, OSSL_PKEY_PARAM_RSA_FACTOR1);
    set_param(p->q, k, OSSL_PKEY_PARAM_RSA_FACTOR2);
    set_param(p->dP, k, OSSL_PKEY_PARAM_RSA_EXPONENT1);
    set_param(p->dQ, k, OSSL_PKEY_PARAM_RSA_EXPONENT2);
    set_param(p->qInv, k, OSSL_PKEY_PARAM_RSA_COEFFICIENT1);
    return p;
}

inline WJ_RSA_PublicKey *rsa_public_of(const EVP_PKEY *k) {
    WJ_RSA_PublicKey *p = WJ_RSA_PublicKey_New();
    set_param(p->n, k, OSSL_PKEY_PARAM_RSA_N);
    set_param(p->e, k, OSSL_PKEY_PARAM_RSA_E);
    return p;
}

// The core's hash number of a vector file's hash name; 0 when unknown.
inline int hash_id(const std::string &name) {
    static const std::map<std::string, int> ids = {{"SHA-1", WJ_HASH_SHA1},     {"HAS-160", WJ_HASH_HAS160},
                                                   {"SHA-224", WJ_HASH_SHA224}, {"SHA-256", WJ_HASH_SHA256},
                                                   {"SHA-384", WJ_HASH_SHA384}, {"SHA-512", WJ_HASH_SHA512}};
    auto it = ids.find(name);
    return it == ids.end() ? 0 : it->second;
}

// A big integer owned by the caller's scope.
struct Big {
    WJ_BigInt *v = WJ_BigInt_New(1);
    Big() = default;
    explicit Big(const std::string &h) { set_hex(v, h); }
    Big(const Big &) = delete;
    Big &operator=(const Big &) = delete;
    ~Big() { WJ_BigInt_Free(v); }
    operator WJ_BigInt *() const { return v; }
};

inline std::string vectors(const std::string &name) { return "../shared/vectors/" + name; }

}  // namespace pktest
