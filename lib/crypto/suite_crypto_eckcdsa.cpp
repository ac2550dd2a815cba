// EC-KCDSA (TTAK.KO-12.0015/R3, ISO/IEC 14888-3) over OpenSSL's EC_POINT arithmetic, on any
// curve of the table.
#include <cstring>

#include "crypto_pkey.hpp"
#include "ostrel/owners.hpp"

using namespace ostrel;
using namespace ostrel::crypto;

namespace {

// X(P) as a field-length octet string.
bool x_octets(const EcCache &c, const EC_POINT *p, uint8_t *out, BN_CTX *ctx) {
    BnPtr x = new_bn();
    return x && EC_POINT_get_affine_coordinates(c.group, p, x.get(), nullptr, ctx) &&
           bn_to_fixed(x.get(), out, static_cast<size_t>(c.field_bytes));
}

}  // namespace

namespace ostrel::crypto {

int eckcdsa_hash(unsigned char *out, unsigned int *out_len, const unsigned char *msg, unsigned int msg_len,
                 int hash_alg, const WJ_EC_Parameters *params, const WJ_EC_POINT *q) {
    if (!out_len || (!msg && msg_len) || !q) return WJ_ERR_BAD_ARGUMENT;
    const HashInfo *hi = hash_info(hash_alg);
    if (!hi) return WJ_ERR_UNKNOWN_ID;
    int err = 0;
    const EcCache *c = ec_cache(params, &err);
    if (!c) return err;
    if (ec_point_curve(q) != params->curve) return WJ_ERR_BAD_ARGUMENT;
    if (!out) return put_out(out, out_len, nullptr, hi->length);
    if (*out_len < hi->length) return WJ_ERR_BUFFER_SMALL;
    // z: the first l/8 bytes of X(Q) || Y(Q), zero-padded on the right.
    size_t fb = static_cast<size_t>(c->field_bytes);
    uint8_t xy[2 * 66], z[128] = {};
    if (!ec_point_xy(q, *c, xy)) return WJ_ERR_BAD_ARGUMENT;
    size_t zn = hi->block;
    std::memcpy(z, xy, std::min(zn, 2 * fb));
    return hash_concat(hash_alg, z, zn, msg, msg_len, out, out_len);
}

int eckcdsa_sign(WJ_ECKCDSA_Signature *sig, const unsigned char *hash, unsigned int hash_len, int hash_alg,
                 const WJ_BigInt *d, const WJ_ECKCDSA_Parameters *params) {
    if (!sig || !sig->s || !hash || !bigint_valid(d) || d->Sign) return WJ_ERR_BAD_ARGUMENT;
    const HashInfo *hi = hash_info(hash_alg);
    if (!hi) return WJ_ERR_UNKNOWN_ID;
    if (hash_len != hi->length) return WJ_ERR_BAD_ARGUMENT;
    int err = 0;
    const EcCache *c = ec_cache(params, &err);
    if (!c) return err;
    const BIGNUM *n = c->order.get();
    unsigned cut = kcdsa_cut(hash_len, static_cast<unsigned>(c->order_bytes));
    const uint8_t *h = hash + (hash_len - cut);
    BnCtxPtr ctx = new_bn_ctx();
    BnPtr bd = bn_of(d), k = new_bn(), e = new_bn(), s = new_bn();
    PointPtr w(EC_POINT_new(c->group));
    if (!ctx || !bd || !k || !e || !s || !w) return WJ_ERR_MEMORY;
    if (BN_is_zero(bd.get()) || BN_cmp(bd.get(), n) >= 0) return WJ_ERR_BAD_ARGUMENT;
    BN_set_flags(bd.get(), BN_FLG_CONSTTIME);
    BN_set_flags(k.get(), BN_FLG_CONSTTIME);
    uint8_t wx[66], r[WJ_HASH_MAX_LENGTH];
    unsigned rn = 0;
    for (int attempt = 0;; ++attempt) {
        if (take_fixed_k(k.get())) {
            if (BN_is_zero(k.get()) || BN_cmp(k.get(), n) >= 0) return WJ_ERR_BAD_ARGUMENT;
            attempt = 100;
        } else if (int rc = random_scalar(k.get(), n, ctx.get())) {
            return rc;
        }
        if (!EC_POINT_mul(c->group, w.get(), k.get(), nullptr, nullptr, ctx.get()) ||
            !x_octets(*c, w.get(), wx, ctx.get()))
            return WJ_ERR_INTERNAL;
        if (int rc = hash_concat(hash_alg, wx, static_cast<size_t>(c->field_bytes), nullptr, 0, r, &rn)) return rc;
        if (int rc = kcdsa_e(e.get(), r + (rn - cut), h, cut, n, ctx.get())) return rc;
        if (int rc = kcdsa_s(s.get(), bd.get(), k.get(), e.get(), n, c->mont_n.get(), ctx.get())) return rc;
        if (!BN_is_zero(s.get())) break;
        if (attempt >= 100) return WJ_ERR_INTERNAL;
    }
    wipe(wx, sizeof wx);
    std::memcpy(sig->r, r + (rn - cut), cut);
    sig->rLength = cut;
    return bigint_from_bn(sig->s, s.get());
}

int eckcdsa_verify(const WJ_ECKCDSA_Signature *sig, const unsigned char *hash, unsigned int hash_len, int hash_alg,
                   const WJ_EC_POINT *q, const WJ_ECKCDSA_Parameters *params) {
    if (!sig || !bigint_valid(sig->s) || !hash || !q) return WJ_ERR_BAD_ARGUMENT;
    const HashInfo *hi = hash_info(hash_alg);
    if (!hi) return WJ_ERR_UNKNOWN_ID;
    if (hash_len != hi->length) return WJ_ERR_BAD_ARGUMENT;
    int err = 0;
    const EcCache *c = ec_cache(params, &err);
    if (!c) return err;
    if (ec_point_curve(q) != params->curve) return WJ_ERR_BAD_ARGUMENT;
    const BIGNUM *n = c->order.get();
    unsigned len = kcdsa_r_length(sig->rLength, hash_len, static_cast<unsigned>(c->order_bytes));
    if (!len || len > sizeof sig->r) return WJ_ERR_ECKCDSA_VERIFY;
    BnCtxPtr ctx = new_bn_ctx();
    BnPtr s = bn_of(sig->s), e = new_bn();
    PointPtr w(EC_POINT_new(c->group));
    if (!ctx || !s || !e || !w) return WJ_ERR_MEMORY;
    if (BN_is_negative(s.get()) || BN_is_zero(s.get()) || BN_cmp(s.get(), n) >= 0) return WJ_ERR_ECKCDSA_VERIFY;
    if (EC_POINT_is_at_infinity(c->group, ec_point_raw(q))) return WJ_ERR_ECKCDSA_VERIFY;
    if (int rc = kcdsa_e(e.get(), sig->r, hash + (hash_len - len), len, n, ctx.get())) return rc;
    // W' = e G + s Q
    if (!EC_POINT_mul(c->group, w.get(), e.get(), ec_point_raw(q), s.get(), ctx.get())) return WJ_ERR_INTERNAL;
    if (EC_POINT_is_at_infinity(c->group, w.get())) return WJ_ERR_ECKCDSA_VERIFY;
    uint8_t wx[66], r[WJ_HASH_MAX_LENGTH];
    unsigned rn = 0;
    if (!x_octets(*c, w.get(), wx, ctx.get())) return WJ_ERR_INTERNAL;
    if (int rc = hash_concat(hash_alg, wx, static_cast<size_t>(c->field_bytes), nullptr, 0, r, &rn)) return rc;
    return ct_equal(r + (rn - len), sig->r, len) ? 0 : WJ_ERR_ECKCDSA_VERIFY;
}

}  // namespace ostrel::crypto

extern "C" {

QRT_API WJ_ECKCDSA_Signature *WJ_ECKCDSA_Signature_New(void) { return WJ_KCDSA_Signature_New(); }
QRT_API void WJ_ECKCDSA_Signature_Free(WJ_ECKCDSA_Signature *sig) { WJ_KCDSA_Signature_Free(sig); }
QRT_API int WJ_ECKCDSA_Signature_Encode(unsigned char *out, unsigned int *outLength, const WJ_ECKCDSA_Signature *sig) {
    return WJ_KCDSA_Signature_Encode(out, outLength, sig);
}
QRT_API int WJ_ECKCDSA_Signature_Decode(WJ_ECKCDSA_Signature *sig, const unsigned char *in, unsigned int inLength) {
    return WJ_KCDSA_Signature_Decode(sig, in, inLength);
}

QRT_API int WJ_ECKCDSA_Hash(unsigned char *out, unsigned int *outLength, const unsigned char *msg,
                            unsigned int msgLength, int hashAlg, const WJ_EC_Parameters *params, const WJ_EC_POINT *q) {
    if (int rc = gate()) return rc;
    return OSTREL_PK_GUARD([&] { return eckcdsa_hash(out, outLength, msg, msgLength, hashAlg, params, q); });
}

QRT_API int WJ_ECKCDSA_Sign(WJ_ECKCDSA_Signature *sig, const unsigned char *hash, unsigned int hashLength, int hashAlg,
                            const WJ_BigInt *d, const WJ_EC_Parameters *params) {
    if (int rc = gate()) return rc;
    return OSTREL_PK_GUARD([&] { return eckcdsa_sign(sig, hash, hashLength, hashAlg, d, params); });
}

QRT_API int WJ_ECKCDSA_Verify(const WJ_ECKCDSA_Signature *sig, const unsigned char *hash, unsigned int hashLength,
                              int hashAlg, const WJ_EC_POINT *q, const WJ_EC_Parameters *params) {
    if (int rc = gate()) return rc;
    return OSTREL_PK_GUARD([&] { return eckcdsa_verify(sig, hash, hashLength, hashAlg, q, params); });
}

}  // extern "C"
