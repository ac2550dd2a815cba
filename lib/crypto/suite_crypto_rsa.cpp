// RSA over OpenSSL: key records with their cached EVP_PKEY, PKCS#1 DER forms, the raw
// operations, PKCS#1 v1.5 encryption and signatures (the DigestInfo is built here, so every hash
// of the core can be signed), PSS, OAEP and key generation.
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/param_build.h>
#include <openssl/params.h>
#include <openssl/rsa.h>

#include <array>
#include <cstring>
#include <new>

#include "crypto_der.hpp"
#include "crypto_pkey.hpp"
#include "ostrel/owners.hpp"

using namespace ostrel;
using namespace ostrel::crypto;

namespace {


// DigestInfo prefixes (RFC 8017 section 9.2, note 1; HAS-160 is 1.2.410.200004.1.2).
struct DigestInfo {
    int hash;
    const char *prefix;
};
constexpr DigestInfo kDigestInfos[] = {
    {WJ_HASH_MD2, "3020300c06082a864886f70d020205000410"},
    {WJ_HASH_MD5, "3020300c06082a864886f70d020505000410"},
    {WJ_HASH_SHA1, "3021300906052b0e03021a05000414"},
    {WJ_HASH_HAS160, "3024300c06082a831a8c9a44010205000414"},
    {WJ_HASH_RIPEMD160, "3021300906052b2403020105000414"},
    {WJ_HASH_SHA224, "302d300d06096086480165030402040500041c"},
    {WJ_HASH_SHA256, "3031300d060960864801650304020105000420"},
    {WJ_HASH_SHA384, "3041300d060960864801650304020205000430"},
    {WJ_HASH_SHA512, "3051300d060960864801650304020305000440"},
};

int nib(char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; }

// The bytes a v1.5 signature covers: DigestInfo || digest, or the data itself for hash -1.
int v15_payload(int hash_alg, const unsigned char *digest, unsigned len, SecBytes &out) {
    out.clear();
    if (hash_alg == -1) {
        out.assign(digest, digest + len);
        return 0;
    }
    const HashInfo *hi = hash_info(hash_alg);
    if (!hi) return WJ_ERR_UNKNOWN_ID;
    if (len != hi->length) return WJ_ERR_BAD_ARGUMENT;
    for (const DigestInfo &d : kDigestInfos)
        if (d.hash == hash_alg) {
            for (const char *p = d.prefix; p[0] && p[1]; p += 2)
                out.push_back(static_cast<uint8_t>(nib(p[0]) << 4 | nib(p[1])));
            out.insert(out.end(), digest, digest + len);
            return 0;
        }
    return WJ_ERR_UNKNOWN_ID;
}

bool push_bn(OSSL_PARAM_BLD *bld, const char *name, const WJ_BigInt *a, std::vector<BnPtr> &keep) {
    keep.push_back(bn_of(a));
    return keep.back() && OSSL_PARAM_BLD_push_BN(bld, name, keep.back().get());
}

// OpenSSL's own limit for RSA moduli; larger keys are refused when read.
constexpr unsigned kMaxModulusBits = 16384;

struct RsaImpl {
    PkeySlot slot;
    OpCtx op;  // v1.5 signing (private records) or signature recovery (public records)
};

PkeySlot *slot_of(void *internal) { return internal ? &static_cast<RsaImpl *>(internal)->slot : nullptr; }
OpCtx *op_of(void *internal) { return internal ? &static_cast<RsaImpl *>(internal)->op : nullptr; }

PkeyPtr public_pkey(const WJ_RSA_PublicKey *key, int *err) {
    *err = WJ_ERR_BAD_ARGUMENT;
    if (!key || !bigint_valid(key->n) || !bigint_valid(key->e) || bigint_is_zero(key->n) || bigint_is_zero(key->e) ||
        key->n->Sign || key->e->Sign)
        return nullptr;
    PkeySlot *slot = slot_of(key->internal);
    if (slot)
        if (PkeyPtr p = slot->get({key->n, key->e})) return p;
    *err = WJ_ERR_MEMORY;
    BldPtr bld(OSSL_PARAM_BLD_new());
    std::vector<BnPtr> keep;
    if (!bld || !push_bn(bld.get(), OSSL_PKEY_PARAM_RSA_N, key->n, keep) ||
        !push_bn(bld.get(), OSSL_PKEY_PARAM_RSA_E, key->e, keep))
        return nullptr;
    ParamPtr params(OSSL_PARAM_BLD_to_param(bld.get()));
    if (!params) return nullptr;
    PkeyPtr pkey = pkey_fromdata("RSA", EVP_PKEY_PUBLIC_KEY, params.get());
    *err = pkey ? 0 : WJ_ERR_BAD_ARGUMENT;
    if (pkey && slot) slot->put({key->n, key->e}, pkey.get());
    return pkey;
}

PkeyPtr private_pkey(const WJ_RSA_PrivateKey *key, int *err) {
    *err = WJ_ERR_BAD_ARGUMENT;
    if (!key) return nullptr;
    const WJ_BigInt *all[] = {key->n, key->e, key->d, key->p, key->q, key->dP, key->dQ, key->qInv};
    for (const WJ_BigInt *a : all)
        if (!bigint_valid(a) || a->Sign) return nullptr;
    if (bigint_is_zero(key->n) || bigint_is_zero(key->e) || bigint_is_zero(key->d)) return nullptr;
    bool crt = true;
    for (int i = 3; i < 8; ++i) crt = crt && !bigint_is_zero(all[i]);
    std::initializer_list<const WJ_BigInt *> values = {key->n, key->e,  key->d,  key->p,
                                                       key->q, key->dP, key->dQ, key->qInv};
    PkeySlot *slot = slot_of(key->internal);
    if (slot)
        if (PkeyPtr p = slot->get(values)) return p;
    *err = WJ_ERR_MEMORY;
    BldPtr bld(OSSL_PARAM_BLD_new());
    std::vector<BnPtr> keep;
    if (!bld || !push_bn(bld.get(), OSSL_PKEY_PARAM_RSA_N, key->n, keep) ||
        !push_bn(bld.get(), OSSL_PKEY_PARAM_RSA_E, key->e, keep) ||
        !push_bn(bld.get(), OSSL_PKEY_PARAM_RSA_D, key->d, keep))
        return nullptr;
    if (crt && (!push_bn(bld.get(), OSSL_PKEY_PARAM_RSA_FACTOR1, key->p, keep) ||
                !push_bn(bld.get(), OSSL_PKEY_PARAM_RSA_FACTOR2, key->q, keep) ||
                !push_bn(bld.get(), OSSL_PKEY_PARAM_RSA_EXPONENT1, key->dP, keep) ||
                !push_bn(bld.get(), OSSL_PKEY_PARAM_RSA_EXPONENT2, key->dQ, keep) ||
                !push_bn(bld.get(), OSSL_PKEY_PARAM_RSA_COEFFICIENT1, key->qInv, keep)))
        return nullptr;
    ParamPtr params(OSSL_PARAM_BLD_to_param(bld.get()));
    if (!params) return nullptr;
    PkeyPtr pkey = pkey_fromdata("RSA", EVP_PKEY_KEYPAIR, params.get());
    for (OSSL_PARAM *q = params.get(); q->key; ++q) OPENSSL_cleanse(q->data, q->data_size);
    *err = pkey ? 0 : WJ_ERR_BAD_ARGUMENT;
    if (pkey && slot) slot->put(values, pkey.get());
    return pkey;
}

PkeyCtxPtr op_ctx(EVP_PKEY *pkey) { return PkeyCtxPtr(EVP_PKEY_CTX_new_from_pkey(libctx(), pkey, nullptr)); }

const EVP_MD *md_of(int hash_alg) {
    const HashInfo *hi = hash_info(hash_alg);
    return hi && hi->evp_name ? fetch_md(hi->evp_name) : nullptr;
}

// MGF1 hash of a mask-generation number; NULL for an unknown number.
const EVP_MD *mgf_md(int mgf_alg, int hash_alg) {
    switch (mgf_alg) {
        case WJ_MGF1_SAME_HASH:
            return md_of(hash_alg);
        case WJ_MGF1_SHA1:
            return md_of(WJ_HASH_SHA1);
        case WJ_MGF1_SHA256:
            return md_of(WJ_HASH_SHA256);
        case WJ_MGF1_SHA384:
            return md_of(WJ_HASH_SHA384);
        case WJ_MGF1_SHA512:
            return md_of(WJ_HASH_SHA512);
        default:
            return nullptr;
    }
}

int modulus_bytes(EVP_PKEY *pkey) { return EVP_PKEY_get_size(pkey); }

// Input of the raw operations, left-padded to the modulus length.
int raw_input(const unsigned char *in, unsigned len, size_t k, SecBytes &buf) {
    if (len > k) return WJ_ERR_BAD_ARGUMENT;
    buf.assign(k, 0);
    if (len) std::memcpy(buf.data() + (k - len), in, len);
    return 0;
}

int raw_op(bool priv, unsigned char *out, unsigned *out_len, const unsigned char *in, unsigned in_len, EVP_PKEY *pkey) {
    size_t k = static_cast<size_t>(modulus_bytes(pkey));
    if (!out) return put_out(out, out_len, nullptr, k);
    if (*out_len < k) return WJ_ERR_BUFFER_SMALL;
    SecBytes buf, res(k);
    if (int rc = raw_input(in, in_len, k, buf)) return rc;
    PkeyCtxPtr ctx = op_ctx(pkey);
    if (!ctx) return WJ_ERR_MEMORY;
    size_t n = k;
    int ok = priv ? EVP_PKEY_decrypt_init(ctx.get()) : EVP_PKEY_encrypt_init(ctx.get());
    if (ok != 1 || EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_NO_PADDING) != 1) return WJ_ERR_INTERNAL;
    ok = priv ? EVP_PKEY_decrypt(ctx.get(), res.data(), &n, buf.data(), k)
              : EVP_PKEY_encrypt(ctx.get(), res.data(), &n, buf.data(), k);
    if (ok != 1 || n > k) {
        ERR_clear_error();
        return WJ_ERR_BAD_ARGUMENT;  // the input is not below the modulus
    }
    // The result is always written as the modulus length.
    std::memset(out, 0, k - n);
    std::memcpy(out + (k - n), res.data(), n);
    *out_len = static_cast<unsigned>(k);
    return 0;
}

int check_out_args(const unsigned char *in, unsigned in_len, const unsigned *out_len) {
    return (!out_len || (!in && in_len)) ? WJ_ERR_BAD_ARGUMENT : 0;
}

int v15_padding(EVP_PKEY_CTX *ctx) {
    return EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) == 1 ? 0 : WJ_ERR_INTERNAL;
}

// Public-key encryption under the padding `pad` sets up; `overhead` bytes of the modulus are the
// padding's least, and `refused` is the code when OpenSSL turns the message down.
template <class Pad>
int rsa_encrypt(unsigned char *out, unsigned *out_len, const unsigned char *in, unsigned in_len,
                const WJ_RSA_PublicKey *key, Pad pad, size_t overhead, int refused) {
    int err = 0;
    PkeyPtr pkey = public_pkey(key, &err);
    if (!pkey) return err;
    size_t k = static_cast<size_t>(modulus_bytes(pkey.get()));
    if (!out) return put_out(out, out_len, nullptr, k);
    if (*out_len < k) return WJ_ERR_BUFFER_SMALL;
    if (in_len + overhead > k) return WJ_ERR_BAD_ARGUMENT;
    PkeyCtxPtr ctx = op_ctx(pkey.get());
    if (!ctx) return WJ_ERR_MEMORY;
    if (EVP_PKEY_encrypt_init(ctx.get()) != 1) return WJ_ERR_INTERNAL;
    if (int rc = pad(ctx.get())) return rc;
    size_t n = k;
    static const unsigned char empty = 0;
    if (EVP_PKEY_encrypt(ctx.get(), out, &n, in_len ? in : &empty, in_len) != 1) {
        ERR_clear_error();
        return refused;
    }
    *out_len = static_cast<unsigned>(n);
    return 0;
}

// Private-key decryption under the padding `pad` sets up; every padding failure is the same code.
template <class Pad>
int rsa_decrypt(unsigned char *out, unsigned *out_len, const unsigned char *in, unsigned in_len,
                const WJ_RSA_PrivateKey *key, Pad pad) {
    int err = 0;
    PkeyPtr pkey = private_pkey(key, &err);
    if (!pkey) return err;
    size_t k = static_cast<size_t>(modulus_bytes(pkey.get()));
    SecBytes c, m(k);
    if (in_len == 0 || raw_input(in, in_len, k, c)) return WJ_ERR_DECRYPT_FAILED;
    PkeyCtxPtr ctx = op_ctx(pkey.get());
    if (!ctx) return WJ_ERR_MEMORY;
    if (EVP_PKEY_decrypt_init(ctx.get()) != 1) return WJ_ERR_INTERNAL;
    if (int rc = pad(ctx.get())) return rc;
    size_t n = k;
    if (EVP_PKEY_decrypt(ctx.get(), m.data(), &n, c.data(), k) != 1) {
        ERR_clear_error();
        return WJ_ERR_DECRYPT_FAILED;
    }
    return put_out(out, out_len, m.data(), n);
}

// The PSS hash and MGF hash of a parameter set, with the digest length the hash gives.
int pss_hashes(const WJ_PSS_PARAM *param, unsigned digest_len, const EVP_MD *&md, const EVP_MD *&mgf) {
    md = md_of(param->hashAlg);
    mgf = mgf_md(param->mgfAlg, param->hashAlg);
    if (!md || !mgf) return WJ_ERR_UNKNOWN_ID;
    if (param->saltLength < WJ_PSS_SALT_EMPTY) return WJ_ERR_BAD_ARGUMENT;
    return digest_len == static_cast<unsigned>(EVP_MD_get_size(md)) ? 0 : WJ_ERR_BAD_ARGUMENT;
}

// OpenSSL's salt length for a parameter set: the digest length or any (when verifying) for 0.
int pss_salt(const WJ_PSS_PARAM *param, bool verify) {
    if (param->saltLength > 0) return param->saltLength;
    if (param->saltLength == WJ_PSS_SALT_EMPTY) return 0;
    return verify ? RSA_PSS_SALTLEN_AUTO : RSA_PSS_SALTLEN_DIGEST;
}

bool pss_setup(EVP_PKEY_CTX *ctx, const EVP_MD *md, const EVP_MD *mgf, int salt_len) {
    return EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PSS_PADDING) == 1 &&
           EVP_PKEY_CTX_set_signature_md(ctx, md) == 1 && EVP_PKEY_CTX_set_rsa_mgf1_md(ctx, mgf) == 1 &&
           EVP_PKEY_CTX_set_rsa_pss_saltlen(ctx, salt_len) == 1;
}

std::array<WJ_BigInt **, 2> fields(WJ_RSA_PublicKey *k) { return {&k->n, &k->e}; }
std::array<WJ_BigInt **, 8> fields(WJ_RSA_PrivateKey *k) {
    return {&k->n, &k->e, &k->d, &k->p, &k->q, &k->dP, &k->dQ, &k->qInv};
}

template <class K>
void free_key(K *k) {
    if (!k) return;
    for (WJ_BigInt **f : fields(k)) WJ_BigInt_Free(*f);
    delete static_cast<RsaImpl *>(k->internal);
    QRT_free(k);
}

template <class K>
K *new_key() {
    auto *k = static_cast<K *>(QRT_calloc(1, sizeof(K)));
    if (!k) return nullptr;
    bool ok = true;
    for (WJ_BigInt **f : fields(k)) ok = ok && (*f = WJ_BigInt_New(1)) != nullptr;
    if (ok) k->internal = new (std::nothrow) RsaImpl;
    if (!k->internal) {
        free_key(k);
        return nullptr;
    }
    return k;
}

int set_from(WJ_BigInt *dst, EVP_PKEY *pkey, const char *name) {
    BIGNUM *bn = nullptr;
    if (!EVP_PKEY_get_bn_param(pkey, name, &bn)) return WJ_ERR_INTERNAL;
    int rc = bigint_from_bn(dst, bn);
    BN_clear_free(bn);
    return rc;
}

}  // namespace

namespace ostrel::crypto {

int rsa_v15_sign(unsigned char *out, unsigned int *out_len, int hash_alg, const unsigned char *digest,
                 unsigned int digest_len, const WJ_RSA_PrivateKey *key) {
    if (int rc = check_out_args(digest, digest_len, out_len)) return rc;
    int err = 0;
    PkeyPtr pkey = private_pkey(key, &err);
    if (!pkey) return err;
    size_t k = static_cast<size_t>(modulus_bytes(pkey.get()));
    if (!out) return put_out(out, out_len, nullptr, k);
    if (*out_len < k) return WJ_ERR_BUFFER_SMALL;
    SecBytes tbs;
    if (int rc = v15_payload(hash_alg, digest, digest_len, tbs)) return rc;
    if (tbs.size() + 11 > k) return WJ_ERR_BAD_ARGUMENT;
    return run_op(
        op_of(key->internal), pkey.get(),
        [](EVP_PKEY_CTX *c) {
            return EVP_PKEY_sign_init(c) == 1 && EVP_PKEY_CTX_set_rsa_padding(c, RSA_PKCS1_PADDING) == 1;
        },
        [&](EVP_PKEY_CTX *c) {
            size_t n = k;
            if (EVP_PKEY_sign(c, out, &n, tbs.data(), tbs.size()) != 1) return WJ_ERR_INTERNAL;
            *out_len = static_cast<unsigned>(n);
            return 0;
        });
}

int rsa_v15_verify(const unsigned char *sig, unsigned int sig_len, int hash_alg, const unsigned char *digest,
                   unsigned int digest_len, const WJ_RSA_PublicKey *key) {
    if (!sig || (!digest && digest_len)) return WJ_ERR_BAD_ARGUMENT;
    int err = 0;
    PkeyPtr pkey = public_pkey(key, &err);
    if (!pkey) return err;
    SecBytes tbs;
    if (int rc = v15_payload(hash_alg, digest, digest_len, tbs)) return rc;
    size_t k = static_cast<size_t>(modulus_bytes(pkey.get()));
    SecBytes s, rec(k);
    if (sig_len == 0 || raw_input(sig, sig_len, k, s)) return WJ_ERR_RSA_VERIFY;
    return run_op(
        op_of(key->internal), pkey.get(),
        [](EVP_PKEY_CTX *c) {
            return EVP_PKEY_verify_recover_init(c) == 1 && EVP_PKEY_CTX_set_rsa_padding(c, RSA_PKCS1_PADDING) == 1;
        },
        [&](EVP_PKEY_CTX *c) {
            size_t n = k;
            if (EVP_PKEY_verify_recover(c, rec.data(), &n, s.data(), k) != 1) {
                ERR_clear_error();
                return WJ_ERR_RSA_VERIFY;
            }
            return (n == tbs.size() && ct_equal(rec.data(), tbs.data(), n)) ? 0 : WJ_ERR_RSA_VERIFY;
        });
}

// RSAPublicKey ::= SEQUENCE { modulus INTEGER, publicExponent INTEGER }
int pkcs1_public_decode(WJ_RSA_PublicKey *key, const unsigned char *in, unsigned int len) {
    if (!key || !in || !key->n || !key->e) return WJ_ERR_BAD_ARGUMENT;
    Reader r(in, len), seq;
    if (int rc = der::read_tlv(r, der::kSequence, seq)) return rc;
    if (int rc = der::read_unsigned(seq, key->n)) return rc;
    if (int rc = der::read_unsigned(seq, key->e)) return rc;
    if (!seq.empty() || bigint_is_zero(key->n) || bigint_is_zero(key->e)) return WJ_ERR_BAD_DER;
    if (WJ_BigInt_GetBitLength(key->n) > kMaxModulusBits) return WJ_ERR_BAD_DER;
    return 0;
}

// RSAPrivateKey ::= SEQUENCE { version INTEGER (0), modulus, publicExponent, privateExponent,
//                              prime1, prime2, exponent1, exponent2, coefficient INTEGER }
int pkcs1_private_decode(WJ_RSA_PrivateKey *key, const unsigned char *in, unsigned int len) {
    if (!key || !in) return WJ_ERR_BAD_ARGUMENT;
    WJ_BigInt *all[] = {key->n, key->e, key->d, key->p, key->q, key->dP, key->dQ, key->qInv};
    for (WJ_BigInt *a : all)
        if (!a) return WJ_ERR_BAD_ARGUMENT;
    Reader r(in, len), seq;
    if (int rc = der::read_tlv(r, der::kSequence, seq)) return rc;
    long version = -1;
    if (int rc = der::read_small(seq, version)) return rc;
    if (version != 0) return WJ_ERR_BAD_DER;
    for (WJ_BigInt *a : all) {
        if (int rc = der::read_unsigned(seq, a)) return rc == WJ_ERR_SHORT_INPUT ? WJ_ERR_BAD_DER : rc;
        if (bigint_is_zero(a)) return WJ_ERR_BAD_DER;
    }
    if (!seq.empty() || WJ_BigInt_GetBitLength(key->n) > kMaxModulusBits) return WJ_ERR_BAD_DER;
    return 0;
}

}  // namespace ostrel::crypto

extern "C" {

QRT_API WJ_RSA_PublicKey *WJ_RSA_PublicKey_New(void) { return new_key<WJ_RSA_PublicKey>(); }
QRT_API void WJ_RSA_PublicKey_Free(WJ_RSA_PublicKey *key) { free_key(key); }
QRT_API WJ_RSA_PrivateKey *WJ_RSA_PrivateKey_New(void) { return new_key<WJ_RSA_PrivateKey>(); }
QRT_API void WJ_RSA_PrivateKey_Free(WJ_RSA_PrivateKey *key) { free_key(key); }

QRT_API int WJ_RSA_GenerateKey(WJ_RSA_PrivateKey *priv, WJ_RSA_PublicKey *pub, unsigned int bytes, unsigned long e) {
    if (!priv || bytes < 64 || bytes > 1024) return WJ_ERR_BAD_ARGUMENT;
    if (e == 0) e = 65537;
    if (e < 3 || !(e & 1)) return WJ_ERR_BAD_ARGUMENT;
    if (int rc = gate()) return rc;
    return OSTREL_PK_GUARD([&] {
        PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(libctx(), "RSA", nullptr));
        BnPtr exp = new_bn();
        if (!ctx || !exp || !BN_set_word(exp.get(), e)) return WJ_ERR_MEMORY;
        EVP_PKEY *raw = nullptr;
        if (EVP_PKEY_keygen_init(ctx.get()) != 1 ||
            EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), static_cast<int>(bytes * 8)) != 1 ||
            EVP_PKEY_CTX_set1_rsa_keygen_pubexp(ctx.get(), exp.get()) != 1 || EVP_PKEY_generate(ctx.get(), &raw) != 1)
            return WJ_ERR_INTERNAL;
        PkeyPtr pkey(raw);
        struct Part {
            WJ_BigInt *dst;
            const char *name;
        } parts[] = {
            {priv->n, OSSL_PKEY_PARAM_RSA_N},          {priv->e, OSSL_PKEY_PARAM_RSA_E},
            {priv->d, OSSL_PKEY_PARAM_RSA_D},          {priv->p, OSSL_PKEY_PARAM_RSA_FACTOR1},
            {priv->q, OSSL_PKEY_PARAM_RSA_FACTOR2},    {priv->dP, OSSL_PKEY_PARAM_RSA_EXPONENT1},
            {priv->dQ, OSSL_PKEY_PARAM_RSA_EXPONENT2}, {priv->qInv, OSSL_PKEY_PARAM_RSA_COEFFICIENT1},
        };
        for (const Part &p : parts) {
            if (!p.dst) return WJ_ERR_BAD_ARGUMENT;
            if (int rc = set_from(p.dst, pkey.get(), p.name)) return rc;
        }
        if (PkeySlot *slot = slot_of(priv->internal))
            slot->put({priv->n, priv->e, priv->d, priv->p, priv->q, priv->dP, priv->dQ, priv->qInv}, pkey.get());
        if (pub) {
            if (!pub->n || !pub->e) return WJ_ERR_BAD_ARGUMENT;
            if (int rc = WJ_BigInt_Copy(pub->n, priv->n)) return rc;
            if (int rc = WJ_BigInt_Copy(pub->e, priv->e)) return rc;
        }
        return 0;
    });
}

QRT_API int WJ_RSA_PublicKeyExp(unsigned char *out, unsigned int *outLength, const unsigned char *in,
                                unsigned int inLength, const WJ_RSA_PublicKey *key) {
    if (int rc = check_out_args(in, inLength, outLength)) return rc;
    if (int rc = gate()) return rc;
    return OSTREL_PK_GUARD([&] {
        int err = 0;
        PkeyPtr pkey = public_pkey(key, &err);
        return pkey ? raw_op(false, out, outLength, in, inLength, pkey.get()) : err;
    });
}

QRT_API int WJ_RSA_PrivateKeyExp(unsigned char *out, unsigned int *outLength, const unsigned char *in,
                                 unsigned int inLength, const WJ_RSA_PrivateKey *key) {
    if (int rc = check_out_args(in, inLength, outLength)) return rc;
    if (int rc = gate()) return rc;
    return OSTREL_PK_GUARD([&] {
        int err = 0;
        PkeyPtr pkey = private_pkey(key, &err);
        return pkey ? raw_op(true, out, outLength, in, inLength, pkey.get()) : err;
    });
}

QRT_API int WJ_PKCS1_PublicKey_Encode(unsigned char *out, unsigned int *outLength, const WJ_RSA_PublicKey *key) {
    return OSTREL_PK_GUARD(key && outLength, [&] {
        der::Writer body, all;
        if (body.unsigned_int(key->n) || body.unsigned_int(key->e)) return WJ_ERR_BAD_ARGUMENT;
        all.wrap(der::kSequence, body);
        return put_out(out, outLength, all.out.data(), all.out.size());
    });
}

QRT_API int WJ_PKCS1_PublicKey_Decode(WJ_RSA_PublicKey *key, const unsigned char *in, unsigned int inLength) {
    return OSTREL_PK_GUARD([&] { return pkcs1_public_decode(key, in, inLength); });
}

QRT_API int WJ_PKCS1_PrivateKey_Encode(unsigned char *out, unsigned int *outLength, const WJ_RSA_PrivateKey *key) {
    return OSTREL_PK_GUARD(key && outLength, [&] {
        der::Writer body, all;
        body.small(0);
        for (const WJ_BigInt *a : {key->n, key->e, key->d, key->p, key->q, key->dP, key->dQ, key->qInv})
            if (body.unsigned_int(a)) return WJ_ERR_BAD_ARGUMENT;
        all.wrap(der::kSequence, body);
        return put_out(out, outLength, all.out.data(), all.out.size());
    });
}

QRT_API int WJ_PKCS1_PrivateKey_Decode(WJ_RSA_PrivateKey *key, const unsigned char *in, unsigned int inLength) {
    return OSTREL_PK_GUARD([&] { return pkcs1_private_decode(key, in, inLength); });
}

QRT_API int WJ_PKCS1_V15_Encrypt(unsigned char *out, unsigned int *outLength, const unsigned char *in,
                                 unsigned int inLength, const WJ_RSA_PublicKey *key) {
    if (int rc = check_out_args(in, inLength, outLength)) return rc;
    if (int rc = gate()) return rc;
    return OSTREL_PK_GUARD(
        [&] { return rsa_encrypt(out, outLength, in, inLength, key, v15_padding, 11, WJ_ERR_ENCRYPT_FAILED); });
}

QRT_API int WJ_PKCS1_V15_Decrypt(unsigned char *out, unsigned int *outLength, const unsigned char *in,
                                 unsigned int inLength, const WJ_RSA_PrivateKey *key) {
    if (!in || !outLength) return WJ_ERR_BAD_ARGUMENT;
    if (int rc = gate()) return rc;
    return OSTREL_PK_GUARD([&] { return rsa_decrypt(out, outLength, in, inLength, key, v15_padding); });
}

QRT_API int WJ_PKCS1_V15_Sign(unsigned char *out, unsigned int *outLength, int hashAlg, const unsigned char *digest,
                              unsigned int digestLength, const WJ_RSA_PrivateKey *key) {
    if (int rc = gate()) return rc;
    return OSTREL_PK_GUARD([&] { return rsa_v15_sign(out, outLength, hashAlg, digest, digestLength, key); });
}

QRT_API int WJ_PKCS1_V15_Verify(const unsigned char *signature, unsigned int signatureLength, int hashAlg,
                                const unsigned char *digest, unsigned int digestLength, const WJ_RSA_PublicKey *key) {
    if (int rc = gate()) return rc;
    return OSTREL_PK_GUARD(
        [&] { return rsa_v15_verify(signature, signatureLength, hashAlg, digest, digestLength, key); });
}

QRT_API int WJ_PKCS1_PSS_Sign(unsigned char *out, unsigned int *outLength, const unsigned char *digest,
                              unsigned int digestLength, const WJ_PSS_PARAM *param, const WJ_RSA_PrivateKey *key) {
    if (!param || !digest || !outLength) return WJ_ERR_BAD_ARGUMENT;
    if (int rc = gate()) return rc;
    return OSTREL_PK_GUARD([&] {
        const EVP_MD *md = nullptr, *mgf = nullptr;
        if (int rc = pss_hashes(param, digestLength, md, mgf)) return rc;
        int err = 0;
        PkeyPtr pkey = private_pkey(key, &err);
        if (!pkey) return err;
        size_t k = static_cast<size_t>(modulus_bytes(pkey.get()));
        if (!out) return put_out(out, outLength, nullptr, k);
        if (*outLength < k) return WJ_ERR_BUFFER_SMALL;
        PkeyCtxPtr ctx = op_ctx(pkey.get());
        if (!ctx) return WJ_ERR_MEMORY;
        size_t n = k;
        if (EVP_PKEY_sign_init(ctx.get()) != 1 || !pss_setup(ctx.get(), md, mgf, pss_salt(param, false)))
            return WJ_ERR_INTERNAL;
        if (EVP_PKEY_sign(ctx.get(), out, &n, digest, digestLength) != 1) {
            ERR_clear_error();
            return WJ_ERR_BAD_ARGUMENT;  // the modulus is too short for this hash and salt
        }
        *outLength = static_cast<unsigned>(n);
        return 0;
    });
}

QRT_API int WJ_PKCS1_PSS_Verify(const unsigned char *signature, unsigned int signatureLength,
                                const unsigned char *digest, unsigned int digestLength, const WJ_PSS_PARAM *param,
                                const WJ_RSA_PublicKey *key) {
    if (!param || !digest || !signature) return WJ_ERR_BAD_ARGUMENT;
    if (int rc = gate()) return rc;
    return OSTREL_PK_GUARD([&] {
        const EVP_MD *md = nullptr, *mgf = nullptr;
        if (int rc = pss_hashes(param, digestLength, md, mgf)) return rc;
        int err = 0;
        PkeyPtr pkey = public_pkey(key, &err);
        if (!pkey) return err;
        size_t k = static_cast<size_t>(modulus_bytes(pkey.get()));
        SecBytes s;
        if (signatureLength == 0 || raw_input(signature, signatureLength, k, s)) return WJ_ERR_RSA_VERIFY;
        PkeyCtxPtr ctx = op_ctx(pkey.get());
        if (!ctx) return WJ_ERR_MEMORY;
        if (EVP_PKEY_verify_init(ctx.get()) != 1 || !pss_setup(ctx.get(), md, mgf, pss_salt(param, true)))
            return WJ_ERR_INTERNAL;
        if (EVP_PKEY_verify(ctx.get(), s.data(), k, digest, digestLength) != 1) {
            ERR_clear_error();
            return WJ_ERR_RSA_VERIFY;
        }
        return 0;
    });
}

}  // extern "C"

namespace {

int oaep_setup(EVP_PKEY_CTX *ctx, const WJ_OAEP_PARAM *param) {
    const EVP_MD *md = md_of(param->hashAlg), *mgf = mgf_md(param->mgfAlg, param->hashAlg);
    if (!md || !mgf) return WJ_ERR_UNKNOWN_ID;
    if (EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_OAEP_PADDING) != 1 || EVP_PKEY_CTX_set_rsa_oaep_md(ctx, md) != 1 ||
        EVP_PKEY_CTX_set_rsa_mgf1_md(ctx, mgf) != 1)
        return WJ_ERR_INTERNAL;
    if (param->labelLength) {
        // OpenSSL takes ownership of the label.
        auto *label = static_cast<unsigned char *>(OPENSSL_memdup(param->label, param->labelLength));
        if (!label) return WJ_ERR_MEMORY;
        if (EVP_PKEY_CTX_set0_rsa_oaep_label(ctx, label, static_cast<int>(param->labelLength)) != 1) {
            OPENSSL_free(label);
            return WJ_ERR_INTERNAL;
        }
    }
    return 0;
}

}  // namespace

extern "C" {

QRT_API int WJ_PKCS1_OAEP_Encrypt(unsigned char *out, unsigned int *outLength, const unsigned char *in,
                                  unsigned int inLength, const WJ_OAEP_PARAM *param, const WJ_RSA_PublicKey *key) {
    if (!param || (!param->label && param->labelLength)) return WJ_ERR_BAD_ARGUMENT;
    if (int rc = check_out_args(in, inLength, outLength)) return rc;
    if (int rc = gate()) return rc;
    // OpenSSL refuses a message too long for the modulus and hash.
    auto pad = [param](EVP_PKEY_CTX *ctx) { return oaep_setup(ctx, param); };
    return OSTREL_PK_GUARD([&] { return rsa_encrypt(out, outLength, in, inLength, key, pad, 0, WJ_ERR_BAD_ARGUMENT); });
}

QRT_API int WJ_PKCS1_OAEP_Decrypt(unsigned char *out, unsigned int *outLength, const unsigned char *in,
                                  unsigned int inLength, const WJ_OAEP_PARAM *param, const WJ_RSA_PrivateKey *key) {
    if (!param || (!param->label && param->labelLength) || !in || !outLength) return WJ_ERR_BAD_ARGUMENT;
    if (int rc = gate()) return rc;
    auto pad = [param](EVP_PKEY_CTX *ctx) { return oaep_setup(ctx, param); };
    return OSTREL_PK_GUARD([&] { return rsa_decrypt(out, outLength, in, inLength, key, pad); });
}

}  // extern "C"
