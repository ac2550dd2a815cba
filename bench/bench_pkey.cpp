// Public-key operations through the provider against OpenSSL EVP for the same work, in the same
// run: RSA-2048 and ECDSA P-256 sign and verify; KCDSA-2048/224 against OpenSSL DSA-2048/224;
// EC-KCDSA P-256 against OpenSSL ECDSA P-256. The core's KCDSA-family primitives are measured
// too. Keys are made once; the OpenSSL side signs with a loaded key object, as an application
// would.
#include <benchmark/benchmark.h>
#include <openssl/core_names.h>
#include <openssl/dsa.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <vector>

#include "suite_csp.h"

namespace {

using Bytes = std::vector<unsigned char>;

BIN view(const Bytes &b) { return BIN{static_cast<unsigned>(b.size()), const_cast<unsigned char *>(b.data())}; }

Bytes der_int(const BIGNUM *bn) {
    WJ_BigInt *a = WJ_BigInt_New(1);
    Bytes mag(static_cast<size_t>(BN_num_bytes(bn)));
    BN_bn2bin(bn, mag.data());
    WJ_BigInt_BytesToInt(a, mag.data(), static_cast<unsigned>(mag.size()));
    unsigned n = 0;
    WJ_BigInt_DerEncode(nullptr, &n, a);
    Bytes out(n);
    WJ_BigInt_DerEncode(out.data(), &n, a);
    WJ_BigInt_Free(a);
    return out;
}

Bytes bn_param(EVP_PKEY *k, const char *name) {
    BIGNUM *bn = nullptr;
    EVP_PKEY_get_bn_param(k, name, &bn);
    Bytes d = der_int(bn);
    BN_free(bn);
    return d;
}

Bytes digest(size_t n) {
    Bytes d(n);
    for (size_t i = 0; i < n; ++i) d[i] = static_cast<unsigned char>(i * 37 + 11);
    return d;
}

// ---- Keys, made once ----

struct RsaKeys {
    EVP_PKEY *ossl = nullptr;
    Bytes priv, pub;
};
const RsaKeys &rsa() {
    static RsaKeys k = [] {
        RsaKeys r;
        r.ossl = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", size_t{2048});
        // The provider's PKCS#1 forms of the same key.
        unsigned char *p = nullptr;
        int n = i2d_PrivateKey(r.ossl, &p);
        r.priv.assign(p, p + n);
        OPENSSL_free(p);
        p = nullptr;
        n = i2d_PublicKey(r.ossl, &p);
        r.pub.assign(p, p + n);
        OPENSSL_free(p);
        return r;
    }();
    return k;
}

struct EcKeys {
    EVP_PKEY *ossl = nullptr;
    Bytes param, pub, priv;
};
const EcKeys &ec() {
    static EcKeys k = [] {
        EcKeys r;
        r.ossl = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "prime256v1");
        r.param = {0x06, 0x08, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07};
        unsigned char pt[80];
        size_t n = 0;
        EVP_PKEY_get_octet_string_param(r.ossl, OSSL_PKEY_PARAM_PUB_KEY, pt, sizeof pt, &n);
        r.pub.assign(pt, pt + n);
        r.priv = bn_param(r.ossl, OSSL_PKEY_PARAM_PRIV_KEY);
        return r;
    }();
    return k;
}

// An EC-KCDSA pair on P-256: Q = (d^-1 mod n) G.
const EcKeys &eckcdsa() {
    static EcKeys k = [] {
        EcKeys r;
        r.param = ec().param;
        WJ_EC_Parameters *p = WJ_ECKCDSA_Parameters_New();
        WJ_ECKCDSA_Parameters_SetCurve(p, WJ_EC_CURVE_P256);
        WJ_EC_POINT *q = WJ_EC_Point_New(p);
        WJ_BigInt *d = WJ_BigInt_New(1);
        WJ_ECKCDSA_GenerateKey(d, q, p);
        unsigned char oct[65];
        unsigned n = sizeof oct;
        WJ_EC_Point_Encode(oct, &n, q, 0);
        r.pub.assign(oct, oct + n);
        WJ_BigInt_DerEncode(nullptr, &n, d);
        r.priv.resize(n);
        WJ_BigInt_DerEncode(r.priv.data(), &n, d);
        WJ_BigInt_Free(d);
        WJ_EC_Point_Free(q);
        WJ_ECKCDSA_Parameters_Free(p);
        return r;
    }();
    return k;
}

EVP_PKEY *dsa_2048_224() {
    static EVP_PKEY *k = [] {
        EVP_PKEY_CTX *pc = EVP_PKEY_CTX_new_from_name(nullptr, "DSA", nullptr);
        EVP_PKEY *params = nullptr, *key = nullptr;
        EVP_PKEY_paramgen_init(pc);
        EVP_PKEY_CTX_set_dsa_paramgen_bits(pc, 2048);
        EVP_PKEY_CTX_set_dsa_paramgen_q_bits(pc, 224);
        EVP_PKEY_paramgen(pc, &params);
        EVP_PKEY_CTX *kc = EVP_PKEY_CTX_new(params, nullptr);
        EVP_PKEY_keygen_init(kc);
        EVP_PKEY_keygen(kc, &key);
        EVP_PKEY_CTX_free(kc);
        EVP_PKEY_CTX_free(pc);
        EVP_PKEY_free(params);
        return key;
    }();
    return k;
}

struct KcdsaKeys {
    Bytes param, pub, priv;
};
const KcdsaKeys &kcdsa() {
    static KcdsaKeys k = [] {
        KcdsaKeys r;
        ZQ_CSP_GenParamParam g{};
        g.kcdsa.primeLength = 2048;
        BIN param{0, nullptr};
        QRT_CSP_GenerateParam(&param, QRT_CSP_PKEY_KCDSA, &g);
        r.param.assign(param.value, param.value + param.length);
        QRT_BIN_Reset(&param);
        WJ_KCDSA_Parameters *p = WJ_KCDSA_Parameters_New();
        WJ_KCDSA_Parameters_Decode(p, r.param.data(), static_cast<unsigned>(r.param.size()));
        WJ_BigInt *x = WJ_BigInt_New(1), *y = WJ_BigInt_New(1);
        WJ_KCDSA_GenerateKey(x, y, p);
        for (auto [a, out] : {std::pair{x, &r.priv}, std::pair{y, &r.pub}}) {
            unsigned n = 0;
            WJ_BigInt_DerEncode(nullptr, &n, a);
            out->resize(n);
            WJ_BigInt_DerEncode(out->data(), &n, a);
        }
        WJ_BigInt_Free(x);
        WJ_BigInt_Free(y);
        WJ_KCDSA_Parameters_Free(p);
        return r;
    }();
    return k;
}

// ---- OpenSSL EVP baselines ----

void openssl_sign(benchmark::State &st, EVP_PKEY *k, const EVP_MD *md, size_t dlen) {
    Bytes d = digest(dlen), sig(EVP_PKEY_get_size(k));
    for (auto _ : st) {
        EVP_PKEY_CTX *c = EVP_PKEY_CTX_new(k, nullptr);
        size_t n = sig.size();
        if (EVP_PKEY_sign_init(c) != 1 || (md && EVP_PKEY_CTX_set_signature_md(c, md) != 1) ||
            EVP_PKEY_sign(c, sig.data(), &n, d.data(), d.size()) != 1)
            st.SkipWithError("sign failed");
        EVP_PKEY_CTX_free(c);
        benchmark::DoNotOptimize(sig.data());
    }
}

void openssl_verify(benchmark::State &st, EVP_PKEY *k, const EVP_MD *md, size_t dlen) {
    Bytes d = digest(dlen), sig(EVP_PKEY_get_size(k));
    size_t n = sig.size();
    EVP_PKEY_CTX *c = EVP_PKEY_CTX_new(k, nullptr);
    EVP_PKEY_sign_init(c);
    if (md) EVP_PKEY_CTX_set_signature_md(c, md);
    EVP_PKEY_sign(c, sig.data(), &n, d.data(), d.size());
    EVP_PKEY_CTX_free(c);
    for (auto _ : st) {
        EVP_PKEY_CTX *v = EVP_PKEY_CTX_new(k, nullptr);
        if (EVP_PKEY_verify_init(v) != 1 || (md && EVP_PKEY_CTX_set_signature_md(v, md) != 1) ||
            EVP_PKEY_verify(v, sig.data(), n, d.data(), d.size()) != 1)
            st.SkipWithError("verify failed");
        EVP_PKEY_CTX_free(v);
    }
}

void BM_OpenSSL_RsaSign(benchmark::State &st) { openssl_sign(st, rsa().ossl, EVP_sha256(), 32); }
void BM_OpenSSL_RsaVerify(benchmark::State &st) { openssl_verify(st, rsa().ossl, EVP_sha256(), 32); }
void BM_OpenSSL_EcdsaSign(benchmark::State &st) { openssl_sign(st, ec().ossl, nullptr, 32); }
void BM_OpenSSL_EcdsaVerify(benchmark::State &st) { openssl_verify(st, ec().ossl, nullptr, 32); }
void BM_OpenSSL_DsaSign(benchmark::State &st) { openssl_sign(st, dsa_2048_224(), nullptr, 28); }
void BM_OpenSSL_DsaVerify(benchmark::State &st) { openssl_verify(st, dsa_2048_224(), nullptr, 28); }

// ---- The provider ----

void ostrel_sign(benchmark::State &st, const Bytes &priv, int id, ZQ_CSP_SignParam *p, size_t dlen) {
    Bytes d = digest(dlen);
    BIN db = view(d), kb = view(priv);
    for (auto _ : st) {
        BIN sig{0, nullptr};
        if (QRT_CSP_ComputeSignature(&sig, &db, &kb, id, p)) st.SkipWithError("sign failed");
        benchmark::DoNotOptimize(sig.value);
        QRT_free(sig.value);  // a signature is no secret
    }
}

void ostrel_verify(benchmark::State &st, const Bytes &priv, const Bytes &pub, int id, ZQ_CSP_SignParam *p,
                   size_t dlen) {
    Bytes d = digest(dlen);
    BIN db = view(d), kb = view(priv), pb = view(pub), sig{0, nullptr};
    QRT_CSP_ComputeSignature(&sig, &db, &kb, id, p);
    for (auto _ : st)
        if (QRT_CSP_VerifySignature(&sig, &db, &pb, id, p)) st.SkipWithError("verify failed");
    QRT_BIN_Reset(&sig);
}

void BM_Ostrel_RsaSign(benchmark::State &st) { ostrel_sign(st, rsa().priv, 4, nullptr, 32); }
void BM_Ostrel_RsaVerify(benchmark::State &st) { ostrel_verify(st, rsa().priv, rsa().pub, 4, nullptr, 32); }

void BM_Ostrel_EcdsaSign(benchmark::State &st) {
    BIN param = view(ec().param);
    ZQ_CSP_SignParam p{};
    p.ecdsa.pkeyParam = &param;
    ostrel_sign(st, ec().priv, 16, &p, 32);
}
void BM_Ostrel_EcdsaVerify(benchmark::State &st) {
    BIN param = view(ec().param);
    ZQ_CSP_SignParam p{};
    p.ecdsa.pkeyParam = &param;
    ostrel_verify(st, ec().priv, ec().pub, 16, &p, 32);
}

void BM_Ostrel_KcdsaSign(benchmark::State &st) {
    BIN param = view(kcdsa().param), y = view(kcdsa().pub);
    ZQ_CSP_SignParam p{};
    p.kcdsa.pkeyParam = &param;
    p.kcdsa.pubKey = &y;
    ostrel_sign(st, kcdsa().priv, 27, &p, 28);
}
void BM_Ostrel_KcdsaVerify(benchmark::State &st) {
    BIN param = view(kcdsa().param), y = view(kcdsa().pub);
    ZQ_CSP_SignParam p{};
    p.kcdsa.pkeyParam = &param;
    p.kcdsa.pubKey = &y;
    ostrel_verify(st, kcdsa().priv, kcdsa().pub, 27, &p, 28);
}

// EC-KCDSA P-256 with the provider's SHA-1 identifier.
void BM_Ostrel_EcKcdsaSign(benchmark::State &st) {
    BIN param = view(eckcdsa().param), q = view(eckcdsa().pub);
    ZQ_CSP_SignParam p{};
    p.eckcdsa.pkeyParam = &param;
    p.eckcdsa.pubKey = &q;
    ostrel_sign(st, eckcdsa().priv, 23, &p, 32);
}
void BM_Ostrel_EcKcdsaVerify(benchmark::State &st) {
    BIN param = view(eckcdsa().param), q = view(eckcdsa().pub);
    ZQ_CSP_SignParam p{};
    p.eckcdsa.pkeyParam = &param;
    p.eckcdsa.pubKey = &q;
    ostrel_verify(st, eckcdsa().priv, eckcdsa().pub, 23, &p, 32);
}

// ---- The core's EC-KCDSA with SHA-256 ----

void BM_Core_EcKcdsaSha256(benchmark::State &st, bool sign) {
    WJ_EC_Parameters *p = WJ_ECKCDSA_Parameters_New();
    WJ_ECKCDSA_Parameters_SetCurve(p, WJ_EC_CURVE_P256);
    WJ_EC_POINT *q = WJ_EC_Point_New(p);
    WJ_BigInt *d = WJ_BigInt_New(1);
    WJ_ECKCDSA_GenerateKey(d, q, p);
    Bytes msg = digest(32);
    unsigned char h[64];
    unsigned hn = sizeof h;
    WJ_ECKCDSA_Hash(h, &hn, msg.data(), 32, WJ_HASH_SHA256, p, q);
    WJ_ECKCDSA_Signature *sig = WJ_ECKCDSA_Signature_New();
    WJ_ECKCDSA_Sign(sig, h, hn, WJ_HASH_SHA256, d, p);
    for (auto _ : st) {
        int rc = sign ? WJ_ECKCDSA_Sign(sig, h, hn, WJ_HASH_SHA256, d, p)
                      : WJ_ECKCDSA_Verify(sig, h, hn, WJ_HASH_SHA256, q, p);
        if (rc) st.SkipWithError("failed");
    }
    WJ_ECKCDSA_Signature_Free(sig);
    WJ_BigInt_Free(d);
    WJ_EC_Point_Free(q);
    WJ_ECKCDSA_Parameters_Free(p);
}

}  // namespace

BENCHMARK(BM_Ostrel_RsaSign);
BENCHMARK(BM_OpenSSL_RsaSign);
BENCHMARK(BM_Ostrel_RsaVerify);
BENCHMARK(BM_OpenSSL_RsaVerify);
BENCHMARK(BM_Ostrel_EcdsaSign);
BENCHMARK(BM_OpenSSL_EcdsaSign);
BENCHMARK(BM_Ostrel_EcdsaVerify);
BENCHMARK(BM_OpenSSL_EcdsaVerify);
BENCHMARK(BM_Ostrel_KcdsaSign);
BENCHMARK(BM_OpenSSL_DsaSign);
BENCHMARK(BM_Ostrel_KcdsaVerify);
BENCHMARK(BM_OpenSSL_DsaVerify);
BENCHMARK(BM_Ostrel_EcKcdsaSign);
BENCHMARK(BM_Ostrel_EcKcdsaVerify);
BENCHMARK_CAPTURE(BM_Core_EcKcdsaSha256, sign, true);
BENCHMARK_CAPTURE(BM_Core_EcKcdsaSha256, verify, false);
