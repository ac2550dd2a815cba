// The handshake's arithmetic against the same work on OpenSSL, in the same run, for an RSA-2048
// server key: the client's weak value (KDF, h^2, random blinding r^e), the server's strong value
// (the private operation) and the client's check and unblinding. Keys arrive as PKCS#1 DER on
// both sides, so each baseline decodes them too.
#include <benchmark/benchmark.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <string>
#include <vector>

#include "suite_php.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct Key {
    EVP_PKEY *pkey = nullptr;
    Bytes priv, pub;  // PKCS#1 DER
    BIGNUM *n = nullptr, *e = nullptr;
};

const Key &key() {
    static Key k = [] {
        Key r;
        r.pkey = EVP_RSA_gen(2048);
        unsigned char *p = nullptr;
        int len = i2d_PrivateKey(r.pkey, &p);
        r.priv.assign(p, p + len);
        OPENSSL_free(p);
        p = nullptr;
        len = i2d_PublicKey(r.pkey, &p);
        r.pub.assign(p, p + len);
        OPENSSL_free(p);
        EVP_PKEY_get_bn_param(r.pkey, "n", &r.n);
        EVP_PKEY_get_bn_param(r.pkey, "e", &r.e);
        return r;
    }();
    return k;
}

ZQ_PHP_DATA view(const Bytes &b) {
    return ZQ_PHP_DATA{static_cast<unsigned>(b.size()), const_cast<unsigned char *>(b.data())};
}

const std::string kPassword = "a weak password";

// The KDF on EVP SHA-1, as the baseline's first step.
Bytes evp_kdf(size_t length) {
    Bytes out, prev;
    for (int i = 0; out.size() < length; ++i) {
        EVP_MD_CTX *c = EVP_MD_CTX_new();
        EVP_DigestInit_ex(c, EVP_sha1(), nullptr);
        EVP_DigestUpdate(c, kPassword.data(), kPassword.size());
        std::string pad(static_cast<size_t>(i + 1), static_cast<char>('A' + i));
        EVP_DigestUpdate(c, pad.data(), pad.size());
        if (i) EVP_DigestUpdate(c, prev.data(), prev.size());
        prev.assign(20, 0);
        unsigned n = 0;
        EVP_DigestFinal_ex(c, prev.data(), &n);
        EVP_MD_CTX_free(c);
        out.insert(out.end(), prev.begin(), prev.end());
    }
    out.resize(length);
    return out;
}

void BM_Ostrel_WeakValue(benchmark::State &st) {
    ZQ_PHP_DATA pw{static_cast<unsigned>(kPassword.size()), (unsigned char *)kPassword.data()}, pub = view(key().pub);
    for (auto _ : st) {
        ZQ_PHP_DATA w{}, r{};
        if (QRT_PHP_ComputeWeakValue(&w, &r, &pw, &pub)) st.SkipWithError("weak value failed");
        QRT_PHP_DATA_Reset(&w);
        QRT_PHP_DATA_Reset(&r);
    }
}

void BM_OpenSSL_WeakValue(benchmark::State &st) {
    const Key &k = key();
    BN_CTX *ctx = BN_CTX_new();
    BIGNUM *g = BN_new(), *r = BN_new(), *w = BN_new();
    Bytes out(256);
    for (auto _ : st) {
        // The public key arrives as PKCS#1 DER, as it does for ours.
        const unsigned char *p = k.pub.data();
        EVP_PKEY *pk = d2i_PublicKey(EVP_PKEY_RSA, nullptr, &p, static_cast<long>(k.pub.size()));
        BIGNUM *n = nullptr, *e = nullptr;
        EVP_PKEY_get_bn_param(pk, "n", &n);
        EVP_PKEY_get_bn_param(pk, "e", &e);
        Bytes h = evp_kdf(static_cast<size_t>(BN_num_bytes(k.n)));
        BN_bin2bn(h.data(), static_cast<int>(h.size()), g);
        BN_mod_sqr(g, g, n, ctx);
        BN_priv_rand_range(r, n);
        BN_mod_exp(w, r, e, n, ctx);
        BN_mod_mul(w, w, g, n, ctx);
        benchmark::DoNotOptimize(BN_bn2bin(w, out.data()));
        BN_free(n);
        BN_free(e);
        EVP_PKEY_free(pk);
    }
    for (BIGNUM *b : {g, r, w}) BN_free(b);
    BN_CTX_free(ctx);
}

Bytes sample_weak() {
    ZQ_PHP_DATA pw{static_cast<unsigned>(kPassword.size()), (unsigned char *)kPassword.data()}, pub = view(key().pub);
    ZQ_PHP_DATA w{}, r{};
    QRT_PHP_ComputeWeakValue(&w, &r, &pw, &pub);
    Bytes out(w.data, w.data + w.len);
    QRT_PHP_DATA_Reset(&w);
    QRT_PHP_DATA_Reset(&r);
    return out;
}

void BM_Ostrel_StrongValue(benchmark::State &st) {
    Bytes weak = sample_weak();
    ZQ_PHP_DATA w = view(weak), priv = view(key().priv);
    for (auto _ : st) {
        ZQ_PHP_DATA s{};
        if (QRT_PHP_ComputeStrongValue(&s, &w, &priv)) st.SkipWithError("strong value failed");
        QRT_PHP_DATA_Reset(&s);
    }
}

// The private operation without padding, which is what the strong value is.
void BM_OpenSSL_StrongValue(benchmark::State &st) {
    Bytes weak = sample_weak();
    Bytes in(256, 0);
    std::copy(weak.begin(), weak.end(), in.begin() + static_cast<long>(256 - weak.size()));
    const Bytes &der = key().priv;
    Bytes out(256);
    for (auto _ : st) {
        // The private key arrives as PKCS#1 DER, as it does for ours.
        const unsigned char *p = der.data();
        EVP_PKEY *pk = d2i_PrivateKey(EVP_PKEY_RSA, nullptr, &p, static_cast<long>(der.size()));
        EVP_PKEY_CTX *c = EVP_PKEY_CTX_new(pk, nullptr);
        EVP_PKEY_decrypt_init(c);
        EVP_PKEY_CTX_set_rsa_padding(c, RSA_NO_PADDING);
        size_t n = out.size();
        if (EVP_PKEY_decrypt(c, out.data(), &n, in.data(), in.size()) != 1) st.SkipWithError("decrypt failed");
        benchmark::DoNotOptimize(out.data());
        EVP_PKEY_CTX_free(c);
        EVP_PKEY_free(pk);
    }
}

struct Exchange {
    Bytes weak, blind, strong;
};
Exchange sample_exchange() {
    ZQ_PHP_DATA pw{static_cast<unsigned>(kPassword.size()), (unsigned char *)kPassword.data()}, pub = view(key().pub),
                                                                                                priv = view(key().priv);
    ZQ_PHP_DATA w{}, r{}, s{};
    QRT_PHP_ComputeWeakValue(&w, &r, &pw, &pub);
    QRT_PHP_ComputeStrongValue(&s, &w, &priv);
    Exchange x{Bytes(w.data, w.data + w.len), Bytes(r.data, r.data + r.len), Bytes(s.data, s.data + s.len)};
    for (ZQ_PHP_DATA *d : {&w, &r, &s}) QRT_PHP_DATA_Reset(d);
    return x;
}

void BM_Ostrel_CheckAndUnblind(benchmark::State &st) {
    Exchange x = sample_exchange();
    ZQ_PHP_DATA w = view(x.weak), r = view(x.blind), s = view(x.strong), pub = view(key().pub);
    for (auto _ : st) {
        ZQ_PHP_DATA out{};
        if (QRT_PHP_CheckStrongValue(&s, &w, &pub) || QRT_PHP_ComputeStrongPasswd(&out, &s, &r, &pub))
            st.SkipWithError("check failed");
        QRT_PHP_DATA_Reset(&out);
    }
}

void BM_OpenSSL_CheckAndUnblind(benchmark::State &st) {
    Exchange x = sample_exchange();
    const Key &k = key();
    BN_CTX *ctx = BN_CTX_new();
    BIGNUM *w = BN_bin2bn(x.weak.data(), static_cast<int>(x.weak.size()), nullptr);
    BIGNUM *r = BN_bin2bn(x.blind.data(), static_cast<int>(x.blind.size()), nullptr);
    BIGNUM *s = BN_bin2bn(x.strong.data(), static_cast<int>(x.strong.size()), nullptr);
    BIGNUM *c = BN_new(), *inv = BN_new();
    Bytes out(256);
    for (auto _ : st) {
        const unsigned char *p = k.pub.data();
        EVP_PKEY *pk = d2i_PublicKey(EVP_PKEY_RSA, nullptr, &p, static_cast<long>(k.pub.size()));
        BIGNUM *n = nullptr, *e = nullptr;
        EVP_PKEY_get_bn_param(pk, "n", &n);
        EVP_PKEY_get_bn_param(pk, "e", &e);
        BN_mod_exp(c, s, e, n, ctx);
        if (BN_cmp(c, w) != 0) st.SkipWithError("baseline check failed");
        BN_mod_inverse(inv, r, n, ctx);
        BN_mod_mul(inv, inv, s, n, ctx);
        benchmark::DoNotOptimize(BN_bn2bin(inv, out.data()));
        BN_free(n);
        BN_free(e);
        EVP_PKEY_free(pk);
    }
    for (BIGNUM *b : {w, r, s, c, inv}) BN_free(b);
    BN_CTX_free(ctx);
}

}  // namespace

BENCHMARK(BM_Ostrel_WeakValue);
BENCHMARK(BM_OpenSSL_WeakValue);
BENCHMARK(BM_Ostrel_StrongValue);
BENCHMARK(BM_OpenSSL_StrongValue);
BENCHMARK(BM_Ostrel_CheckAndUnblind);
BENCHMARK(BM_OpenSSL_CheckAndUnblind);
BENCHMARK_MAIN();
