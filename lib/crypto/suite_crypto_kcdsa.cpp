// KCDSA (TTAK.KO-12.0001/R4) over OpenSSL's BIGNUM, and the signature record that it shares with
// EC-KCDSA: SEQUENCE { r BIT STRING, s INTEGER }.
#include <cstring>

#include "crypto_der.hpp"
#include "crypto_pkey.hpp"
#include "ostrel/owners.hpp"

using namespace ostrel;
using namespace ostrel::crypto;

namespace ostrel::crypto {

int hash_concat(int alg, const uint8_t *a, size_t an, const uint8_t *b, size_t bn, uint8_t *out, unsigned *out_len) {
    thread_local Hasher h;
    if (int rc = h.init(alg)) return rc;
    unsigned n = h.info()->length;
    if (int rc = h.update(a, an)) return rc;
    if (int rc = h.update(b, bn)) return rc;
    if (int rc = h.final(out)) return rc;
    *out_len = n;
    return 0;
}

int kcdsa_e(BIGNUM *e, const uint8_t *r, const uint8_t *h, unsigned len, const BIGNUM *order, BN_CTX *ctx) {
    uint8_t x[WJ_HASH_MAX_LENGTH];
    for (unsigned i = 0; i < len; ++i) x[i] = r[i] ^ h[i];
    bool ok = BN_bin2bn(x, static_cast<int>(len), e) && BN_nnmod(e, e, order, ctx);
    wipe(x, sizeof x);
    return ok ? 0 : WJ_ERR_MEMORY;
}

// s = x (k - e) mod order, through Montgomery multiplication so the secrets take no short cuts.
int kcdsa_s(BIGNUM *s, const BIGNUM *x, const BIGNUM *k, const BIGNUM *e, const BIGNUM *order, const BN_MONT_CTX *mont,
            BN_CTX *ctx) {
    BnPtr t = new_bn(), xm = new_bn();
    if (!t || !xm) return WJ_ERR_MEMORY;
    BN_set_flags(t.get(), BN_FLG_CONSTTIME);
    BN_set_flags(xm.get(), BN_FLG_CONSTTIME);
    if (!BN_mod_sub(t.get(), k, e, order, ctx) ||
        !BN_to_montgomery(xm.get(), x, const_cast<BN_MONT_CTX *>(mont), ctx) ||
        !BN_mod_mul_montgomery(s, xm.get(), t.get(), const_cast<BN_MONT_CTX *>(mont), ctx))
        return WJ_ERR_MEMORY;
    return 0;
}

// The rule by which a verifier reads r: cut to the order length, or (a signer before the
// rightmost-bytes rule) the whole hash. 0 when r fits neither.
unsigned kcdsa_r_length(unsigned r_len, unsigned hash_len, unsigned order_bytes) {
    unsigned cut = kcdsa_cut(hash_len, order_bytes);
    if (r_len == cut) return cut;
    if (r_len == hash_len) return hash_len;
    return 0;
}

int kcdsa_hash(unsigned char *out, unsigned int *out_len, const unsigned char *msg, unsigned int msg_len, int hash_alg,
               const WJ_BigInt *y) {
    if (!out_len || (!msg && msg_len) || !bigint_valid(y) || y->Sign) return WJ_ERR_BAD_ARGUMENT;
    const HashInfo *hi = hash_info(hash_alg);
    if (!hi) return WJ_ERR_UNKNOWN_ID;
    if (!out) return put_out(out, out_len, nullptr, hi->length);
    if (*out_len < hi->length) return WJ_ERR_BUFFER_SMALL;
    // z = y mod 2^l as l/8 bytes: the low end of y.
    uint8_t z[128] = {};
    size_t zn = hi->block;
    for (size_t i = 0; i < zn; ++i)
        if (i / 4 < y->Length) z[zn - 1 - i] = static_cast<uint8_t>(y->Data[i / 4] >> (8 * (i % 4)));
    return hash_concat(hash_alg, z, zn, msg, msg_len, out, out_len);
}

int kcdsa_sign(WJ_KCDSA_Signature *sig, const unsigned char *hash, unsigned int hash_len, int hash_alg,
               const WJ_BigInt *x, const WJ_KCDSA_Parameters *params) {
    if (!sig || !sig->s || !hash || !bigint_valid(x) || x->Sign) return WJ_ERR_BAD_ARGUMENT;
    const HashInfo *hi = hash_info(hash_alg);
    if (!hi) return WJ_ERR_UNKNOWN_ID;
    if (hash_len != hi->length) return WJ_ERR_BAD_ARGUMENT;
    int err = 0;
    auto c = dl_cache(params, &err);
    if (!c) return err;
    if (BN_is_zero(c->q.get())) return WJ_ERR_BAD_ARGUMENT;
    const BIGNUM *q = c->q.get();
    unsigned cut = kcdsa_cut(hash_len, static_cast<unsigned>(c->q_bytes));
    const uint8_t *h = hash + (hash_len - cut);
    BnCtxPtr ctx = new_bn_ctx();
    BnPtr bx = bn_of(x), k = new_bn(), w = new_bn(), e = new_bn(), s = new_bn();
    if (!ctx || !bx || !k || !w || !e || !s) return WJ_ERR_MEMORY;
    if (BN_is_zero(bx.get()) || BN_cmp(bx.get(), q) >= 0) return WJ_ERR_BAD_ARGUMENT;
    BN_set_flags(bx.get(), BN_FLG_CONSTTIME);
    BN_set_flags(k.get(), BN_FLG_CONSTTIME);
    SecBytes wb(static_cast<size_t>(c->p_bytes));
    uint8_t r[WJ_HASH_MAX_LENGTH];
    unsigned rn = 0;
    for (int attempt = 0;; ++attempt) {
        if (take_fixed_k(k.get())) {
            if (BN_is_zero(k.get()) || BN_cmp(k.get(), q) >= 0) return WJ_ERR_BAD_ARGUMENT;
            attempt = 100;  // a fixed k gets no second try
        } else if (int rc = random_scalar(k.get(), q, ctx.get())) {
            return rc;
        }
        if (!BN_mod_exp_mont_consttime(w.get(), c->g.get(), k.get(), c->p.get(), ctx.get(), c->mont_p.get()) ||
            !bn_to_fixed(w.get(), wb.data(), wb.size()))
            return WJ_ERR_INTERNAL;
        if (int rc = hash_concat(hash_alg, wb.data(), wb.size(), nullptr, 0, r, &rn)) return rc;
        if (int rc = kcdsa_e(e.get(), r + (rn - cut), h, cut, q, ctx.get())) return rc;
        if (int rc = kcdsa_s(s.get(), bx.get(), k.get(), e.get(), q, c->mont_q.get(), ctx.get())) return rc;
        if (!BN_is_zero(s.get())) break;
        if (attempt >= 100) return WJ_ERR_INTERNAL;
    }
    std::memcpy(sig->r, r + (rn - cut), cut);
    sig->rLength = cut;
    return bigint_from_bn(sig->s, s.get());
}

int kcdsa_verify(const WJ_KCDSA_Signature *sig, const unsigned char *hash, unsigned int hash_len, int hash_alg,
                 const WJ_BigInt *y, const WJ_KCDSA_Parameters *params) {
    if (!sig || !bigint_valid(sig->s) || !hash || !bigint_valid(y)) return WJ_ERR_BAD_ARGUMENT;
    const HashInfo *hi = hash_info(hash_alg);
    if (!hi) return WJ_ERR_UNKNOWN_ID;
    if (hash_len != hi->length) return WJ_ERR_BAD_ARGUMENT;
    int err = 0;
    auto c = dl_cache(params, &err);
    if (!c) return err;
    if (BN_is_zero(c->q.get())) return WJ_ERR_BAD_ARGUMENT;
    const BIGNUM *q = c->q.get(), *p = c->p.get();
    unsigned len = kcdsa_r_length(sig->rLength, hash_len, static_cast<unsigned>(c->q_bytes));
    if (!len || len > sizeof sig->r) return WJ_ERR_KCDSA_VERIFY;
    BnCtxPtr ctx = new_bn_ctx();
    BnPtr s = bn_of(sig->s), by = bn_of(y), e = new_bn(), w = new_bn();
    if (!ctx || !s || !by || !e || !w) return WJ_ERR_MEMORY;
    if (BN_is_negative(s.get()) || BN_is_zero(s.get()) || BN_cmp(s.get(), q) >= 0) return WJ_ERR_KCDSA_VERIFY;
    if (BN_is_negative(by.get()) || BN_cmp(by.get(), BN_value_one()) <= 0 || BN_cmp(by.get(), p) >= 0)
        return WJ_ERR_KCDSA_VERIFY;
    if (int rc = kcdsa_e(e.get(), sig->r, hash + (hash_len - len), len, q, ctx.get())) return rc;
    if (!BN_mod_exp2_mont(w.get(), by.get(), s.get(), c->g.get(), e.get(), p, ctx.get(), c->mont_p.get()))
        return WJ_ERR_INTERNAL;
    SecBytes wb(static_cast<size_t>(c->p_bytes));
    uint8_t r[WJ_HASH_MAX_LENGTH];
    unsigned rn = 0;
    if (!bn_to_fixed(w.get(), wb.data(), wb.size())) return WJ_ERR_INTERNAL;
    if (int rc = hash_concat(hash_alg, wb.data(), wb.size(), nullptr, 0, r, &rn)) return rc;
    return ct_equal(r + (rn - len), sig->r, len) ? 0 : WJ_ERR_KCDSA_VERIFY;
}

// KCDSASignatureValue ::= SEQUENCE { r BIT STRING, s INTEGER }
int kcdsa_sig_encode(unsigned char *out, unsigned int *out_len, const WJ_KCDSA_Signature *sig) {
    if (!sig || !out_len || sig->rLength == 0 || sig->rLength > sizeof sig->r || !bigint_valid(sig->s))
        return WJ_ERR_BAD_ARGUMENT;
    size_t lr = sig->rLength + 1, ls = der::uint_content_length(sig->s);
    size_t body = der::header_length(lr) + lr + der::header_length(ls) + ls, total = der::header_length(body) + body;
    if (!out) return put_out(nullptr, out_len, nullptr, total);
    if (*out_len < total) return WJ_ERR_BUFFER_SMALL;
    der::Span o{out, *out_len};
    der::put_header(o, der::kSequence, body);
    der::put_header(o, der::kBitString, lr);
    o.put(0);  // no unused bits
    for (unsigned i = 0; i < sig->rLength; ++i) o.put(sig->r[i]);
    der::put_uint(o, sig->s);
    *out_len = static_cast<unsigned>(o.at);
    return 0;
}

int kcdsa_sig_decode(WJ_KCDSA_Signature *sig, const unsigned char *in, unsigned int len) {
    if (!sig || !sig->s || !in) return WJ_ERR_BAD_ARGUMENT;
    // The whole form is checked before anything is stored.
    Reader r(in, len), seq, bits, ms;
    if (int rc = der::read_tlv(r, der::kSequence, seq)) return rc;
    if (!r.empty()) return WJ_ERR_BAD_DER;
    if (int rc = der::read_tlv(seq, der::kBitString, bits)) return rc;
    uint8_t unused = 0;
    if (!bits.u8(unused) || unused != 0 || bits.empty() || bits.remaining() > sizeof sig->r) return WJ_ERR_BAD_DER;
    if (int rc = der::read_unsigned(seq, ms)) return rc;
    if (!seq.empty()) return WJ_ERR_BAD_DER;
    if (int rc = WJ_BigInt_BytesToInt(sig->s, ms.data(), static_cast<unsigned>(ms.remaining()))) return rc;
    sig->rLength = static_cast<unsigned>(bits.remaining());
    std::memcpy(sig->r, bits.data(), sig->rLength);
    return 0;
}

}  // namespace ostrel::crypto

extern "C" {

QRT_API WJ_KCDSA_Signature *WJ_KCDSA_Signature_New(void) {
    auto *s = static_cast<WJ_KCDSA_Signature *>(QRT_calloc(1, sizeof(WJ_KCDSA_Signature)));
    if (!s) return nullptr;
    if (!(s->s = WJ_BigInt_New(1))) {
        QRT_free(s);
        return nullptr;
    }
    return s;
}

QRT_API void WJ_KCDSA_Signature_Free(WJ_KCDSA_Signature *sig) {
    if (!sig) return;
    WJ_BigInt_Free(sig->s);
    QRT_free(sig);
}

QRT_API int WJ_KCDSA_Signature_Encode(unsigned char *out, unsigned int *outLength, const WJ_KCDSA_Signature *sig) {
    return OSTREL_PK_GUARD([&] { return kcdsa_sig_encode(out, outLength, sig); });
}

QRT_API int WJ_KCDSA_Signature_Decode(WJ_KCDSA_Signature *sig, const unsigned char *in, unsigned int inLength) {
    return OSTREL_PK_GUARD([&] { return kcdsa_sig_decode(sig, in, inLength); });
}

QRT_API int WJ_KCDSA_Hash(unsigned char *out, unsigned int *outLength, const unsigned char *msg, unsigned int msgLength,
                          int hashAlg, const WJ_BigInt *y) {
    if (int rc = gate()) return rc;
    return OSTREL_PK_GUARD([&] { return kcdsa_hash(out, outLength, msg, msgLength, hashAlg, y); });
}

QRT_API int WJ_KCDSA_Sign(WJ_KCDSA_Signature *sig, const unsigned char *hash, unsigned int hashLength, int hashAlg,
                          const WJ_BigInt *x, const WJ_KCDSA_Parameters *params) {
    if (int rc = gate()) return rc;
    return OSTREL_PK_GUARD([&] { return kcdsa_sign(sig, hash, hashLength, hashAlg, x, params); });
}

QRT_API int WJ_KCDSA_Verify(const WJ_KCDSA_Signature *sig, const unsigned char *hash, unsigned int hashLength,
                            int hashAlg, const WJ_BigInt *y, const WJ_KCDSA_Parameters *params) {
    if (int rc = gate()) return rc;
    return OSTREL_PK_GUARD([&] { return kcdsa_verify(sig, hash, hashLength, hashAlg, y, params); });
}

}  // extern "C"
