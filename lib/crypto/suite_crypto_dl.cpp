// Discrete-log domain parameters (DH, DSA, KCDSA): the record, its DER forms, the cached BIGNUM
// and Montgomery forms, generation, key pairs, the DH shared secret, and DSA over OpenSSL.
#include <openssl/core_names.h>
#include <openssl/param_build.h>

#include <cstring>
#include <new>

#include "crypto_der.hpp"
#include "crypto_pkey.hpp"
#include "ostrel/owners.hpp"

using namespace ostrel;
using namespace ostrel::crypto;

namespace {

BigPtr new_big() { return ostrel::new_bigint(); }

// The largest p accepted: bounds the work a hostile parameter set can cause.
constexpr int kMaxPrimeBits = 8192;

struct DlImpl {
    std::mutex mu;
    Stamp stamp;  // p, q, g of the cache
    std::shared_ptr<const DlCache> cache;
    PkeySlot pub, priv;  // DSA keys: p, q, g with y, or with x
    OpCtx sign, verify;  // and their operation contexts
};

DlImpl *impl_of(const WJ_DL_Parameters *p) { return p ? static_cast<DlImpl *>(p->internal) : nullptr; }

std::shared_ptr<const DlCache> build_cache(const WJ_DL_Parameters *params, int *err) {
    *err = WJ_ERR_BAD_ARGUMENT;
    if (!bigint_valid(params->p) || !bigint_valid(params->g) || !bigint_valid(params->q)) return nullptr;
    auto c = std::make_shared<DlCache>();
    c->p = bn_of(params->p);
    c->q = bn_of(params->q);
    c->g = bn_of(params->g);
    BnCtxPtr ctx = new_bn_ctx();
    *err = WJ_ERR_MEMORY;
    if (!c->p || !c->q || !c->g || !ctx) return nullptr;
    *err = WJ_ERR_BAD_ARGUMENT;
    if (!BN_is_odd(c->p.get()) || BN_is_negative(c->p.get()) || BN_num_bits(c->p.get()) < 16 ||
        BN_num_bits(c->p.get()) > kMaxPrimeBits)
        return nullptr;
    if (BN_is_negative(c->g.get()) || BN_cmp(c->g.get(), BN_value_one()) <= 0 || BN_cmp(c->g.get(), c->p.get()) >= 0)
        return nullptr;
    if (BN_is_negative(c->q.get())) return nullptr;
    *err = WJ_ERR_MEMORY;
    c->mont_p.reset(BN_MONT_CTX_new());
    if (!c->mont_p || !BN_MONT_CTX_set(c->mont_p.get(), c->p.get(), ctx.get())) return nullptr;
    if (!BN_is_zero(c->q.get())) {
        *err = WJ_ERR_BAD_ARGUMENT;
        if (!BN_is_odd(c->q.get()) || BN_cmp(c->q.get(), c->p.get()) >= 0) return nullptr;
        *err = WJ_ERR_MEMORY;
        c->mont_q.reset(BN_MONT_CTX_new());
        if (!c->mont_q || !BN_MONT_CTX_set(c->mont_q.get(), c->q.get(), ctx.get())) return nullptr;
    }
    c->p_bytes = BN_num_bytes(c->p.get());
    c->q_bytes = BN_num_bytes(c->q.get());
    *err = 0;
    return c;
}

// y = g^e mod p for a secret e.
bool pow_g(BIGNUM *y, const BIGNUM *e, const DlCache &c, BN_CTX *ctx) {
    BnPtr ee(BN_dup(e));
    if (!ee) return false;
    BN_set_flags(ee.get(), BN_FLG_CONSTTIME);
    return BN_mod_exp_mont_consttime(y, c.g.get(), ee.get(), c.p.get(), ctx, c.mont_p.get());
}

enum Form { kDh, kDsa, kKcdsa };

// The decoded values, kept apart until the whole encoding has been read.
struct Decoded {
    BigPtr p = new_big(), q = new_big(), g = new_big(), j;
    SecBytes seed;
    bool has_seed = false;
    long count = -1, pvl = 0;
};

// Dss-Parms ::= SEQUENCE { p, q, g INTEGER }
// KCDSAParameters ::= SEQUENCE { p, q, g INTEGER, j INTEGER OPTIONAL, seed OCTET STRING OPTIONAL,
//                                count INTEGER OPTIONAL }
// DomainParameters ::= SEQUENCE { p, g, q INTEGER, j INTEGER OPTIONAL,
//                                 validationParms SEQUENCE { seed BIT STRING, pgenCounter INTEGER } OPTIONAL }
// DHParameter ::= SEQUENCE { prime, base INTEGER, privateValueLength INTEGER OPTIONAL }
int decode_form(Form form, const unsigned char *in, unsigned len, Decoded &d) {
    Reader r(in, len), seq;
    if (int rc = der::read_tlv(r, der::kSequence, seq)) return rc;
    if (!r.empty()) return WJ_ERR_BAD_DER;
    if (int rc = der::read_unsigned(seq, d.p.get())) return rc;
    if (form == kDh) {
        if (int rc = der::read_unsigned(seq, d.g.get())) return rc;
        if (der::next_is(seq, der::kInteger)) {
            Reader save = seq, mag;
            if (int rc = der::read_unsigned(seq, mag)) return rc;
            if (mag.remaining() <= 4) {  // PKCS#3 privateValueLength, not a subgroup order
                seq = save;
                if (int rc = der::read_small(seq, d.pvl)) return rc;
                return seq.empty() ? 0 : WJ_ERR_BAD_DER;
            }
            if (int rc = WJ_BigInt_BytesToInt(d.q.get(), mag.data(), static_cast<unsigned>(mag.remaining()))) return rc;
            if (der::next_is(seq, der::kInteger)) {
                d.j = new_big();
                if (int rc = der::read_unsigned(seq, d.j.get())) return rc;
            }
            if (der::next_is(seq, der::kSequence)) {
                Reader vp, bits;
                if (int rc = der::read_tlv(seq, der::kSequence, vp)) return rc;
                if (int rc = der::read_tlv(vp, der::kBitString, bits)) return rc;
                uint8_t unused = 0;
                if (!bits.u8(unused) || unused != 0) return WJ_ERR_BAD_DER;
                d.seed.assign(bits.data(), bits.data() + bits.remaining());
                d.has_seed = true;
                if (int rc = der::read_small(vp, d.count)) return rc;
                if (!vp.empty()) return WJ_ERR_BAD_DER;
            }
        }
        return seq.empty() ? 0 : WJ_ERR_BAD_DER;
    }
    if (int rc = der::read_unsigned(seq, d.q.get())) return rc;
    if (int rc = der::read_unsigned(seq, d.g.get())) return rc;
    if (form == kKcdsa) {
        if (der::next_is(seq, der::kInteger)) {
            d.j = new_big();
            if (int rc = der::read_unsigned(seq, d.j.get())) return rc;
        }
        if (der::next_is(seq, der::kOctetString)) {
            Reader s;
            if (int rc = der::read_tlv(seq, der::kOctetString, s)) return rc;
            d.seed.assign(s.data(), s.data() + s.remaining());
            d.has_seed = true;
        }
        if (der::next_is(seq, der::kInteger))
            if (int rc = der::read_small(seq, d.count)) return rc;
    }
    if (!seq.empty()) return WJ_ERR_BAD_DER;
    return bigint_is_zero(d.q.get()) ? WJ_ERR_BAD_DER : 0;
}

// p odd, 2 <= g < p, and q | p - 1 where q is given.
int check_values(const Decoded &d) {
    BnPtr p = bn_of(d.p.get()), q = bn_of(d.q.get()), g = bn_of(d.g.get()), t = new_bn();
    BnCtxPtr ctx = new_bn_ctx();
    if (!p || !q || !g || !t || !ctx) return WJ_ERR_MEMORY;
    if (!BN_is_odd(p.get()) || BN_num_bits(p.get()) < 16 || BN_num_bits(p.get()) > kMaxPrimeBits) return WJ_ERR_BAD_DER;
    if (BN_cmp(g.get(), BN_value_one()) <= 0 || BN_cmp(g.get(), p.get()) >= 0) return WJ_ERR_BAD_DER;
    if (!BN_is_zero(q.get())) {
        if (!BN_sub(t.get(), p.get(), BN_value_one()) || !BN_mod(t.get(), t.get(), q.get(), ctx.get()))
            return WJ_ERR_MEMORY;
        if (!BN_is_zero(t.get()) || BN_cmp(q.get(), p.get()) >= 0) return WJ_ERR_BAD_DER;
    }
    return 0;
}

int store(WJ_DL_Parameters *params, Decoded &d) {
    if (int rc = WJ_BigInt_Copy(params->p, d.p.get())) return rc;
    if (int rc = WJ_BigInt_Copy(params->q, d.q.get())) return rc;
    if (int rc = WJ_BigInt_Copy(params->g, d.g.get())) return rc;
    WJ_BigInt_Free(params->j);
    params->j = d.j.release();
    if (params->seed) {
        wipe(params->seed, params->seedLength);
        QRT_free(params->seed);
    }
    params->seed = nullptr;
    params->seedLength = 0;
    if (d.has_seed && !d.seed.empty()) {
        params->seed = static_cast<unsigned char *>(QRT_malloc(d.seed.size()));
        if (!params->seed) return WJ_ERR_MEMORY;
        std::memcpy(params->seed, d.seed.data(), d.seed.size());
        params->seedLength = static_cast<unsigned>(d.seed.size());
    }
    params->count = static_cast<int>(d.count);
    params->privateValueLength = static_cast<unsigned>(d.pvl);
    return 0;
}

int encode_form(Form form, unsigned char *out, unsigned *out_len, const WJ_DL_Parameters *params) {
    if (!params || !out_len) return WJ_ERR_BAD_ARGUMENT;
    der::Writer body, all;
    bool has_q = bigint_valid(params->q) && !bigint_is_zero(params->q);
    if (body.unsigned_int(params->p)) return WJ_ERR_BAD_ARGUMENT;
    if (form == kDh) {
        if (body.unsigned_int(params->g)) return WJ_ERR_BAD_ARGUMENT;
        if (has_q) {
            if (body.unsigned_int(params->q)) return WJ_ERR_BAD_ARGUMENT;
            if (params->j && body.unsigned_int(params->j)) return WJ_ERR_BAD_ARGUMENT;
            if (params->seed && params->count >= 0) {
                der::Writer vp, bits;
                bits.out.push_back(0);
                bits.raw(params->seed, params->seedLength);
                vp.tlv(der::kBitString, bits.out.data(), bits.out.size());
                vp.small(static_cast<unsigned long>(params->count));
                body.wrap(der::kSequence, vp);
            }
        } else if (params->privateValueLength) {
            body.small(params->privateValueLength);
        }
    } else {
        if (!has_q) return WJ_ERR_BAD_ARGUMENT;
        if (body.unsigned_int(params->q) || body.unsigned_int(params->g)) return WJ_ERR_BAD_ARGUMENT;
        if (form == kKcdsa) {
            if (params->j && body.unsigned_int(params->j)) return WJ_ERR_BAD_ARGUMENT;
            if (params->seed) body.tlv(der::kOctetString, params->seed, params->seedLength);
            if (params->count >= 0) body.small(static_cast<unsigned long>(params->count));
        }
    }
    all.wrap(der::kSequence, body);
    return put_out(out, out_len, all.out.data(), all.out.size());
}

WJ_DL_Parameters *new_params() {
    auto *p = static_cast<WJ_DL_Parameters *>(QRT_calloc(1, sizeof(WJ_DL_Parameters)));
    if (!p) return nullptr;
    p->count = -1;
    p->p = WJ_BigInt_New(1);
    p->q = WJ_BigInt_New(1);
    p->g = WJ_BigInt_New(1);
    if (p->p && p->q && p->g) p->internal = new (std::nothrow) DlImpl;
    if (!p->internal) {
        WJ_BigInt_Free(p->p);
        WJ_BigInt_Free(p->q);
        WJ_BigInt_Free(p->g);
        QRT_free(p);
        return nullptr;
    }
    return p;
}

void free_params(WJ_DL_Parameters *p) {
    if (!p) return;
    WJ_BigInt_Free(p->p);
    WJ_BigInt_Free(p->q);
    WJ_BigInt_Free(p->g);
    WJ_BigInt_Free(p->j);
    if (p->seed) {
        wipe(p->seed, p->seedLength);
        QRT_free(p->seed);
    }
    delete impl_of(p);
    QRT_free(p);
}

int decode_params(Form form, WJ_DL_Parameters *params, const unsigned char *in, unsigned len) {
    if (!params || !in || !params->p || !params->q || !params->g) return WJ_ERR_BAD_ARGUMENT;
    Decoded d;
    if (int rc = decode_form(form, in, len, d)) return rc;
    if (int rc = check_values(d)) return rc;
    return store(params, d);
}

// The FFC values of an OpenSSL key or parameter object into the record.
int take_ffc(WJ_DL_Parameters *params, EVP_PKEY *pkey) {
    const char *names[] = {OSSL_PKEY_PARAM_FFC_P, OSSL_PKEY_PARAM_FFC_Q, OSSL_PKEY_PARAM_FFC_G};
    WJ_BigInt *dst[] = {params->p, params->q, params->g};
    for (int i = 0; i < 3; ++i) {
        BIGNUM *bn = nullptr;
        if (!EVP_PKEY_get_bn_param(pkey, names[i], &bn)) return WJ_ERR_INTERNAL;
        int rc = bigint_from_bn(dst[i], bn);
        BN_free(bn);
        if (rc) return rc;
    }
    WJ_BigInt_Free(params->j);
    params->j = nullptr;
    if (params->seed) QRT_free(params->seed);
    params->seed = nullptr;
    params->seedLength = 0;
    params->count = -1;
    params->privateValueLength = 0;
    unsigned char seed[128];
    size_t seed_len = 0;
    int counter = -1;
    if (EVP_PKEY_get_octet_string_param(pkey, OSSL_PKEY_PARAM_FFC_SEED, seed, sizeof seed, &seed_len) && seed_len &&
        EVP_PKEY_get_int_param(pkey, OSSL_PKEY_PARAM_FFC_PCOUNTER, &counter) && counter >= 0) {
        params->seed = static_cast<unsigned char *>(QRT_malloc(seed_len));
        if (!params->seed) return WJ_ERR_MEMORY;
        std::memcpy(params->seed, seed, seed_len);
        params->seedLength = static_cast<unsigned>(seed_len);
        params->count = counter;
    }
    return 0;
}

unsigned default_q_bits(unsigned p_bits) { return p_bits <= 1024 ? 160 : p_bits <= 2048 ? 224 : 256; }

int ffc_paramgen(const char *alg, WJ_DL_Parameters *params, unsigned p_bits, unsigned q_bits) {
    if (!params || !params->p || !params->q || !params->g) return WJ_ERR_BAD_ARGUMENT;
    if (p_bits < 1024 || p_bits > 4096) return WJ_ERR_BAD_ARGUMENT;
    if (!q_bits) q_bits = default_q_bits(p_bits);
    if (q_bits != 160 && q_bits != 224 && q_bits != 256) return WJ_ERR_BAD_ARGUMENT;
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(libctx(), alg, nullptr));
    if (!ctx || EVP_PKEY_paramgen_init(ctx.get()) != 1) return WJ_ERR_INTERNAL;
    size_t pb = p_bits, qb = q_bits;
    char type[] = "fips186_4";
    OSSL_PARAM p[] = {OSSL_PARAM_construct_size_t(OSSL_PKEY_PARAM_FFC_PBITS, &pb),
                      OSSL_PARAM_construct_size_t(OSSL_PKEY_PARAM_FFC_QBITS, &qb),
                      OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_FFC_TYPE, type, 0), OSSL_PARAM_construct_end()};
    EVP_PKEY *raw = nullptr;
    if (EVP_PKEY_CTX_set_params(ctx.get(), p) != 1 || EVP_PKEY_generate(ctx.get(), &raw) != 1) return WJ_ERR_INTERNAL;
    PkeyPtr pkey(raw);
    return take_ffc(params, pkey.get());
}

// p = 2jq + 1 with j and q prime, g = h^(2j) mod p != 1.
int kcdsa_paramgen(WJ_DL_Parameters *params, unsigned p_bits, unsigned q_bits) {
    if (!params || !params->p || !params->q || !params->g) return WJ_ERR_BAD_ARGUMENT;
    if (p_bits < 1024 || p_bits > 4096) return WJ_ERR_BAD_ARGUMENT;
    if (!q_bits) q_bits = default_q_bits(p_bits);
    if (q_bits < 160 || q_bits > 512 || q_bits % 8) return WJ_ERR_BAD_ARGUMENT;
    BnCtxPtr ctx = new_bn_ctx();
    BnPtr j = new_bn(), q = new_bn(), p = new_bn(), h = new_bn(), g = new_bn(), two_j = new_bn(), pm3 = new_bn();
    if (!ctx || !j || !q || !p || !h || !g || !two_j || !pm3) return WJ_ERR_MEMORY;
    // OpenSSL's primes have their two top bits set, so with |j| = |p| - |q| - 1 every 2jq + 1 has
    // exactly |p| bits.
    if (!BN_generate_prime_ex2(j.get(), static_cast<int>(p_bits - q_bits - 1), 0, nullptr, nullptr, nullptr, ctx.get()))
        return WJ_ERR_RANDOM;
    if (!BN_lshift1(two_j.get(), j.get())) return WJ_ERR_MEMORY;
    bool found = false;
    for (int count = 0; count < 100000 && !found; ++count) {
        if (!BN_generate_prime_ex2(q.get(), static_cast<int>(q_bits), 0, nullptr, nullptr, nullptr, ctx.get()))
            return WJ_ERR_RANDOM;
        if (!BN_mul(p.get(), two_j.get(), q.get(), ctx.get()) || !BN_add_word(p.get(), 1)) return WJ_ERR_MEMORY;
        if (BN_num_bits(p.get()) != static_cast<int>(p_bits)) continue;
        int prime = BN_check_prime(p.get(), ctx.get(), nullptr);
        if (prime < 0) return WJ_ERR_INTERNAL;
        found = prime == 1;
    }
    if (!found) return WJ_ERR_INTERNAL;
    if (!BN_sub(pm3.get(), p.get(), BN_value_one()) || !BN_sub_word(pm3.get(), 2)) return WJ_ERR_MEMORY;
    do {
        if (!BN_priv_rand_range_ex(h.get(), pm3.get(), 0, ctx.get()) || !BN_add_word(h.get(), 2)) return WJ_ERR_RANDOM;
        if (!BN_mod_exp(g.get(), h.get(), two_j.get(), p.get(), ctx.get())) return WJ_ERR_MEMORY;
    } while (BN_is_one(g.get()));
    BigPtr jb = new_big();
    if (int rc = bigint_from_bn(jb.get(), j.get())) return rc;
    if (int rc = bigint_from_bn(params->p, p.get())) return rc;
    if (int rc = bigint_from_bn(params->q, q.get())) return rc;
    if (int rc = bigint_from_bn(params->g, g.get())) return rc;
    WJ_BigInt_Free(params->j);
    params->j = jb.release();
    if (params->seed) QRT_free(params->seed);
    params->seed = nullptr;
    params->seedLength = 0;
    params->count = -1;
    params->privateValueLength = 0;
    return 0;
}

// A key pair of a DL algorithm: x in [1, q - 1] (DH without q: of the private length), and
// y = g^x, or g^(x^-1) for KCDSA.
int dl_keygen(Form form, WJ_BigInt *x, WJ_BigInt *y, const WJ_DL_Parameters *params) {
    if (!x || !y) return WJ_ERR_BAD_ARGUMENT;
    int err = 0;
    auto c = dl_cache(params, &err);
    if (!c) return err;
    BnCtxPtr ctx = new_bn_ctx();
    BnPtr bx = new_bn(), by = new_bn(), e = new_bn();
    if (!ctx || !bx || !by || !e) return WJ_ERR_MEMORY;
    if (BN_is_zero(c->q.get())) {
        if (form != kDh) return WJ_ERR_BAD_ARGUMENT;
        int bits =
            params->privateValueLength ? static_cast<int>(params->privateValueLength) : BN_num_bits(c->p.get()) - 1;
        if (bits < 2 || bits >= BN_num_bits(c->p.get())) return WJ_ERR_BAD_ARGUMENT;
        do {
            if (!BN_priv_rand_ex(bx.get(), bits, BN_RAND_TOP_ONE, BN_RAND_BOTTOM_ANY, 0, ctx.get()))
                return WJ_ERR_RANDOM;
        } while (BN_is_zero(bx.get()));
    } else if (int rc = random_scalar(bx.get(), c->q.get(), ctx.get())) {
        return rc;
    }
    BN_set_flags(bx.get(), BN_FLG_CONSTTIME);
    if (form == kKcdsa) {
        if (!BN_mod_inverse(e.get(), bx.get(), c->q.get(), ctx.get())) return WJ_ERR_INTERNAL;
    } else if (!BN_copy(e.get(), bx.get())) {
        return WJ_ERR_MEMORY;
    }
    if (!pow_g(by.get(), e.get(), *c, ctx.get())) return WJ_ERR_INTERNAL;
    if (int rc = bigint_from_bn(x, bx.get())) return rc;
    return bigint_from_bn(y, by.get());
}

// The DSA key object of parameters and y (public) or x (private, with y computed).
PkeyPtr dsa_pkey(const WJ_DL_Parameters *params, const WJ_BigInt *value, bool priv, int *err) {
    auto c = dl_cache(params, err);
    if (!c) return nullptr;
    *err = WJ_ERR_BAD_ARGUMENT;
    if (BN_is_zero(c->q.get()) || !bigint_valid(value) || value->Sign || bigint_is_zero(value)) return nullptr;
    DlImpl *impl = impl_of(params);
    PkeySlot *slot = impl ? (priv ? &impl->priv : &impl->pub) : nullptr;
    std::initializer_list<const WJ_BigInt *> stamp = {params->p, params->q, params->g, value};
    if (slot)
        if (PkeyPtr k = slot->get(stamp)) return k;
    *err = WJ_ERR_MEMORY;
    BnPtr v = bn_of(value), y = new_bn();
    BnCtxPtr ctx = new_bn_ctx();
    BldPtr bld(OSSL_PARAM_BLD_new());
    if (!v || !y || !ctx || !bld) return nullptr;
    *err = WJ_ERR_BAD_ARGUMENT;
    if (BN_cmp(v.get(), priv ? c->q.get() : c->p.get()) >= 0) return nullptr;
    *err = WJ_ERR_MEMORY;
    if (priv && !pow_g(y.get(), v.get(), *c, ctx.get())) return nullptr;
    if (!OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_FFC_P, c->p.get()) ||
        !OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_FFC_Q, c->q.get()) ||
        !OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_FFC_G, c->g.get()) ||
        !OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_PUB_KEY, priv ? y.get() : v.get()) ||
        (priv && !OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_PRIV_KEY, v.get())))
        return nullptr;
    OSSL_PARAM *op = OSSL_PARAM_BLD_to_param(bld.get());
    if (!op) return nullptr;
    PkeyPtr k = pkey_fromdata("DSA", priv ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY, op);
    for (OSSL_PARAM *q = op; q->key; ++q) OPENSSL_cleanse(q->data, q->data_size);
    OSSL_PARAM_free(op);
    *err = k ? 0 : WJ_ERR_BAD_ARGUMENT;
    if (k && slot) slot->put(stamp, k.get());
    return k;
}

}  // namespace

namespace ostrel::crypto {

std::shared_ptr<const DlCache> dl_cache(const WJ_DL_Parameters *params, int *err) {
    *err = WJ_ERR_BAD_ARGUMENT;
    if (!params) return nullptr;
    DlImpl *impl = impl_of(params);
    if (!impl) return build_cache(params, err);
    std::lock_guard<std::mutex> lock(impl->mu);
    if (impl->cache && impl->stamp.matches({params->p, params->q, params->g})) {
        *err = 0;
        return impl->cache;
    }
    auto c = build_cache(params, err);
    if (c) {
        impl->cache = c;
        impl->stamp.take({params->p, params->q, params->g});
    }
    return c;
}

int dl_decode(WJ_DL_Parameters *params, int alg, const unsigned char *in, unsigned int len) {
    Form f = alg == WJ_PKEY_DH ? kDh : alg == WJ_PKEY_DSA ? kDsa : kKcdsa;
    return decode_params(f, params, in, len);
}

int dl_encode(unsigned char *out, unsigned int *out_len, int alg, const WJ_DL_Parameters *params) {
    Form f = alg == WJ_PKEY_DH ? kDh : alg == WJ_PKEY_DSA ? kDsa : kKcdsa;
    return encode_form(f, out, out_len, params);
}

WJ_DL_Parameters *dl_new() { return new_params(); }
void dl_free(WJ_DL_Parameters *p) { free_params(p); }

int dl_generate(int alg, WJ_DL_Parameters *params, unsigned p_bits, unsigned q_bits) {
    if (alg == WJ_PKEY_KCDSA) return kcdsa_paramgen(params, p_bits, q_bits);
    return ffc_paramgen(alg == WJ_PKEY_DH ? "DHX" : "DSA", params, p_bits, q_bits);
}

int dl_keypair(int alg, WJ_BigInt *x, WJ_BigInt *y, const WJ_DL_Parameters *params) {
    return dl_keygen(alg == WJ_PKEY_DH ? kDh : alg == WJ_PKEY_DSA ? kDsa : kKcdsa, x, y, params);
}

int dh_shared_secret(WJ_BigInt *secret, const WJ_DL_Parameters *params, const WJ_BigInt *x, const WJ_BigInt *peer) {
    if (!secret || !bigint_valid(x) || !bigint_valid(peer) || x->Sign || peer->Sign) return WJ_ERR_BAD_ARGUMENT;
    int err = 0;
    auto c = dl_cache(params, &err);
    if (!c) return err;
    BnCtxPtr ctx = new_bn_ctx();
    BnPtr bx = bn_of(x), by = bn_of(peer), pm1 = new_bn(), t = new_bn();
    if (!ctx || !bx || !by || !pm1 || !t) return WJ_ERR_MEMORY;
    if (!BN_sub(pm1.get(), c->p.get(), BN_value_one())) return WJ_ERR_MEMORY;
    if (BN_cmp(by.get(), BN_value_one()) <= 0 || BN_cmp(by.get(), pm1.get()) >= 0) return WJ_ERR_BAD_ARGUMENT;
    if (!BN_is_zero(c->q.get())) {
        if (!BN_mod_exp_mont(t.get(), by.get(), c->q.get(), c->p.get(), ctx.get(), c->mont_p.get()))
            return WJ_ERR_MEMORY;
        if (!BN_is_one(t.get())) return WJ_ERR_BAD_ARGUMENT;  // not in the subgroup
    }
    if (BN_is_zero(bx.get())) return WJ_ERR_BAD_ARGUMENT;
    BN_set_flags(bx.get(), BN_FLG_CONSTTIME);
    if (!BN_mod_exp_mont_consttime(t.get(), by.get(), bx.get(), c->p.get(), ctx.get(), c->mont_p.get()))
        return WJ_ERR_INTERNAL;
    return bigint_from_bn(secret, t.get());
}

int dsa_sign(WJ_DSA_Signature *sig, const unsigned char *digest, unsigned len, const WJ_BigInt *x,
             const WJ_DL_Parameters *params) {
    if (!sig || !sig->r || !sig->s || !digest || !len) return WJ_ERR_BAD_ARGUMENT;
    int err = 0;
    PkeyPtr k = dsa_pkey(params, x, true, &err);
    if (!k) return err;
    DlImpl *impl = impl_of(params);
    unsigned char der[160];
    size_t n = sizeof der;
    int rc = run_op(
        impl ? &impl->sign : nullptr, k.get(), [](EVP_PKEY_CTX *c) { return EVP_PKEY_sign_init(c) == 1; },
        [&](EVP_PKEY_CTX *c) { return EVP_PKEY_sign(c, der, &n, digest, len) == 1 ? 0 : WJ_ERR_INTERNAL; });
    return rc ? rc : WJ_DSA_Signature_Decode(sig, der, static_cast<unsigned>(n));
}

int dsa_verify(const WJ_DSA_Signature *sig, const unsigned char *digest, unsigned len, const WJ_BigInt *y,
               const WJ_DL_Parameters *params) {
    if (!sig || !digest || !len) return WJ_ERR_BAD_ARGUMENT;
    int err = 0;
    PkeyPtr k = dsa_pkey(params, y, false, &err);
    if (!k) return err;
    unsigned n = 0;
    if (WJ_DSA_Signature_Encode(nullptr, &n, sig) != 0) return WJ_ERR_BAD_ARGUMENT;
    SecBytes der(n);
    if (WJ_DSA_Signature_Encode(der.data(), &n, sig) != 0) return WJ_ERR_BAD_ARGUMENT;
    DlImpl *impl = impl_of(params);
    return run_op(
        impl ? &impl->verify : nullptr, k.get(), [](EVP_PKEY_CTX *c) { return EVP_PKEY_verify_init(c) == 1; },
        [&](EVP_PKEY_CTX *c) {
            if (EVP_PKEY_verify(c, der.data(), n, digest, len) == 1) return 0;
            ERR_clear_error();
            return WJ_ERR_DSA_VERIFY;
        });
}

}  // namespace ostrel::crypto

extern "C" {

#define DL_RECORD_FUNCTIONS(ALG, FORM)                                                                          \
    QRT_API WJ_##ALG##_Parameters *WJ_##ALG##_Parameters_New(void) { return new_params(); }                     \
    QRT_API void WJ_##ALG##_Parameters_Free(WJ_##ALG##_Parameters *params) { free_params(params); }             \
    QRT_API int WJ_##ALG##_Parameters_Decode(WJ_##ALG##_Parameters *params, const unsigned char *in,            \
                                             unsigned int inLength) {                                           \
        return OSTREL_PK_GUARD([&] { return decode_params(FORM, params, in, inLength); });                      \
    }                                                                                                           \
    QRT_API int WJ_##ALG##_Parameters_Encode(unsigned char *out, unsigned int *outLength,                       \
                                             const WJ_##ALG##_Parameters *params) {                             \
        return OSTREL_PK_GUARD([&] { return encode_form(FORM, out, outLength, params); });                      \
    }                                                                                                           \
    QRT_API int WJ_##ALG##_GenerateParameters(WJ_##ALG##_Parameters *params, unsigned int primeBits,            \
                                              unsigned int subprimeBits) {                                      \
        if (int rc = gate()) return rc;                                                                         \
        return OSTREL_PK_GUARD([&] {                                                                            \
            return FORM == kKcdsa ? kcdsa_paramgen(params, primeBits, subprimeBits)                             \
                                  : ffc_paramgen(FORM == kDh ? "DHX" : "DSA", params, primeBits, subprimeBits); \
        });                                                                                                     \
    }                                                                                                           \
    QRT_API int WJ_##ALG##_GenerateKey(WJ_BigInt *x, WJ_BigInt *y, const WJ_##ALG##_Parameters *params) {       \
        if (int rc = gate()) return rc;                                                                         \
        return OSTREL_PK_GUARD([&] { return dl_keygen(FORM, x, y, params); });                                  \
    }

DL_RECORD_FUNCTIONS(DH, kDh)
DL_RECORD_FUNCTIONS(DSA, kDsa)
DL_RECORD_FUNCTIONS(KCDSA, kKcdsa)

QRT_API int WJ_DH_ComputeSharedSecret(WJ_BigInt *secret, const WJ_DH_Parameters *params, const WJ_BigInt *x,
                                      const WJ_BigInt *peerY) {
    if (int rc = gate()) return rc;
    return OSTREL_PK_GUARD([&] { return dh_shared_secret(secret, params, x, peerY); });
}

QRT_API WJ_DSA_Signature *WJ_DSA_Signature_New(void) {
    auto *s = static_cast<WJ_DSA_Signature *>(QRT_calloc(1, sizeof(WJ_DSA_Signature)));
    if (!s) return nullptr;
    s->r = WJ_BigInt_New(1);
    s->s = WJ_BigInt_New(1);
    if (!s->r || !s->s) {
        WJ_DSA_Signature_Free(s);
        return nullptr;
    }
    return s;
}

QRT_API void WJ_DSA_Signature_Free(WJ_DSA_Signature *sig) {
    if (!sig) return;
    WJ_BigInt_Free(sig->r);
    WJ_BigInt_Free(sig->s);
    QRT_free(sig);
}

// Dss-Sig-Value ::= SEQUENCE { r INTEGER, s INTEGER }
QRT_API int WJ_DSA_Signature_Encode(unsigned char *out, unsigned int *outLength, const WJ_DSA_Signature *sig) {
    if (!sig || !outLength || !bigint_valid(sig->r) || !bigint_valid(sig->s)) return WJ_ERR_BAD_ARGUMENT;
    size_t lr = der::uint_content_length(sig->r), ls = der::uint_content_length(sig->s);
    size_t body = der::header_length(lr) + lr + der::header_length(ls) + ls, total = der::header_length(body) + body;
    if (!out) return put_out(nullptr, outLength, nullptr, total);
    if (*outLength < total) return WJ_ERR_BUFFER_SMALL;
    der::Span o{out, *outLength};
    der::put_header(o, der::kSequence, body);
    der::put_uint(o, sig->r);
    der::put_uint(o, sig->s);
    *outLength = static_cast<unsigned>(o.at);
    return 0;
}

QRT_API int WJ_DSA_Signature_Decode(WJ_DSA_Signature *sig, const unsigned char *in, unsigned int inLength) {
    return OSTREL_PK_GUARD(sig && sig->r && sig->s && in, [&] {
        // The whole form is checked before either value is stored.
        Reader r(in, inLength), seq, mr, ms;
        if (int rc = der::read_tlv(r, der::kSequence, seq)) return rc;
        if (!r.empty()) return WJ_ERR_BAD_DER;
        if (int rc = der::read_unsigned(seq, mr)) return rc;
        if (int rc = der::read_unsigned(seq, ms)) return rc;
        if (!seq.empty()) return WJ_ERR_BAD_DER;
        if (int rc = WJ_BigInt_BytesToInt(sig->r, mr.data(), static_cast<unsigned>(mr.remaining()))) return rc;
        return WJ_BigInt_BytesToInt(sig->s, ms.data(), static_cast<unsigned>(ms.remaining()));
    });
}

QRT_API int WJ_DSA_Sign(WJ_DSA_Signature *sig, const unsigned char *digest, unsigned int digestLength,
                        const WJ_BigInt *x, const WJ_DSA_Parameters *params) {
    if (int rc = gate()) return rc;
    return OSTREL_PK_GUARD([&] { return dsa_sign(sig, digest, digestLength, x, params); });
}

QRT_API int WJ_DSA_Verify(const WJ_DSA_Signature *sig, const unsigned char *digest, unsigned int digestLength,
                          const WJ_BigInt *y, const WJ_DSA_Parameters *params) {
    if (int rc = gate()) return rc;
    return OSTREL_PK_GUARD([&] { return dsa_verify(sig, digest, digestLength, y, params); });
}

}  // extern "C"
