// Elliptic curves over OpenSSL: the table of named curves and their process-wide groups, the
// parameter record and its ECParameters DER form, points, and ECDSA with cached key objects.
#include <openssl/core_names.h>
#include <openssl/objects.h>
#include <openssl/param_build.h>

#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "crypto_der.hpp"
#include "crypto_pkey.hpp"
#include "ostrel/owners.hpp"

using namespace ostrel;
using namespace ostrel::crypto;

namespace {

constexpr CurveInfo kCurves[] = {
    {WJ_EC_CURVE_P192, "prime192v1"},
    {WJ_EC_CURVE_P224, "secp224r1"},
    {WJ_EC_CURVE_P256, "prime256v1"},
    {WJ_EC_CURVE_P384, "secp384r1"},
    {WJ_EC_CURVE_P521, "secp521r1"},
    {WJ_EC_CURVE_K233, "sect233k1"},
    {WJ_EC_CURVE_B233, "sect233r1"},
    {WJ_EC_CURVE_K283, "sect283k1"},
    {WJ_EC_CURVE_B283, "sect283r1"},
    {WJ_EC_CURVE_BRAINPOOL_P224, "brainpoolP224r1"},
    {WJ_EC_CURVE_BRAINPOOL_P256, "brainpoolP256r1"},
    {WJ_EC_CURVE_BRAINPOOL_P384, "brainpoolP384r1"},
    {WJ_EC_CURVE_BRAINPOOL_P512, "brainpoolP512r1"},
    {WJ_EC_CURVE_SECP256K1, "secp256k1"},
};
constexpr size_t kCurveCount = sizeof kCurves / sizeof kCurves[0];

size_t curve_index(int id) {
    for (size_t i = 0; i < kCurveCount; ++i)
        if (kCurves[i].id == id) return i;
    return kCurveCount;
}

// One immutable cache per curve, made on first use and kept for the life of the process.
struct CurveSlot {
    std::once_flag once;
    EcCache cache;
    bool ok = false;
};
CurveSlot g_curves[kCurveCount];

void make_curve(size_t i) {
    EcCache &c = g_curves[i].cache;
    int nid = OBJ_sn2nid(kCurves[i].name);
    if (nid == NID_undef) return;
    EC_GROUP *g = EC_GROUP_new_by_curve_name_ex(libctx(), nullptr, nid);
    BnCtxPtr ctx = new_bn_ctx();
    if (!g || !ctx) {
        EC_GROUP_free(g);
        ERR_clear_error();
        return;
    }
    c.order.reset(BN_dup(EC_GROUP_get0_order(g)));
    c.mont_n.reset(BN_MONT_CTX_new());
    if (!c.order || !c.mont_n || !BN_MONT_CTX_set(c.mont_n.get(), c.order.get(), ctx.get())) {
        EC_GROUP_free(g);
        ERR_clear_error();
        return;
    }
    c.group = g;  // kept for the life of the process
    c.field_bytes = (EC_GROUP_get_degree(g) + 7) / 8;
    c.order_bytes = BN_num_bytes(c.order.get());
    g_curves[i].ok = true;
}

const EcCache *cache_of_curve(int id) {
    size_t i = curve_index(id);
    if (i == kCurveCount) return nullptr;
    std::call_once(g_curves[i].once, make_curve, i);
    return g_curves[i].ok ? &g_curves[i].cache : nullptr;
}

struct EcImpl {
    PkeySlot priv;  // ECDSA key object of the last private scalar
    OpCtx sign;     // and its signing context
};

}  // namespace

struct _WJ_EC_POINT {
    int curve = 0;
    EC_POINT *p = nullptr;
    std::mutex mu;
    EVP_PKEY *pub = nullptr;  // ECDSA key object of this point, made on first use
    OpCtx verify;             // and its verification context
    std::vector<uint8_t> xy;  // X || Y as field-length octets, kept once computed

    ~_WJ_EC_POINT() {
        verify.reset();
        EC_POINT_clear_free(p);
        EVP_PKEY_free(pub);
    }
    void changed() {
        verify.reset();
        std::lock_guard<std::mutex> lock(mu);
        EVP_PKEY_free(pub);
        pub = nullptr;
        xy.clear();
    }
};

namespace {

// Cache of the curve of params, and of the point when given (which must lie on the same curve).
const EcCache *checked(const WJ_EC_Parameters *params, const WJ_EC_POINT *point, int *err) {
    *err = WJ_ERR_BAD_ARGUMENT;
    if (!params) return nullptr;
    if (point && (!point->p || point->curve != params->curve)) return nullptr;
    const EcCache *c = cache_of_curve(params->curve);
    if (!c) *err = curve_index(params->curve) == kCurveCount ? WJ_ERR_BAD_ARGUMENT : WJ_ERR_UNKNOWN_ID;
    return c;
}

bool point_octets(const EcCache &c, const EC_POINT *p, SecBytes &out, BN_CTX *ctx) {
    size_t n = EC_POINT_point2oct(c.group, p, POINT_CONVERSION_UNCOMPRESSED, nullptr, 0, ctx);
    if (!n) return false;
    out.resize(n);
    return EC_POINT_point2oct(c.group, p, POINT_CONVERSION_UNCOMPRESSED, out.data(), n, ctx) == n;
}

PkeyPtr ec_pkey(const EcCache &c, int curve, const EC_POINT *q, const BIGNUM *d) {
    BnCtxPtr ctx = new_bn_ctx();
    SecBytes oct;
    if (!ctx || !point_octets(c, q, oct, ctx.get())) return nullptr;
    BldPtr bld(OSSL_PARAM_BLD_new());
    const char *name = kCurves[curve_index(curve)].name;
    if (!bld || !OSSL_PARAM_BLD_push_utf8_string(bld.get(), OSSL_PKEY_PARAM_GROUP_NAME, name, 0) ||
        !OSSL_PARAM_BLD_push_octet_string(bld.get(), OSSL_PKEY_PARAM_PUB_KEY, oct.data(), oct.size()) ||
        (d && !OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_PRIV_KEY, d)))
        return nullptr;
    OSSL_PARAM *op = OSSL_PARAM_BLD_to_param(bld.get());
    if (!op) return nullptr;
    PkeyPtr k = pkey_fromdata("EC", d ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY, op);
    for (OSSL_PARAM *p = op; p->key; ++p) OPENSSL_cleanse(p->data, p->data_size);
    OSSL_PARAM_free(op);
    return k;
}

PkeyPtr ecdsa_public(const WJ_EC_POINT *point, const WJ_EC_Parameters *params, int *err) {
    const EcCache *c = checked(params, point, err);
    if (!c) return nullptr;
    auto *pt = const_cast<WJ_EC_POINT *>(point);
    std::lock_guard<std::mutex> lock(pt->mu);
    if (!pt->pub) {
        if (EC_POINT_is_at_infinity(c->group, pt->p)) return nullptr;
        PkeyPtr k = ec_pkey(*c, params->curve, pt->p, nullptr);
        *err = WJ_ERR_BAD_ARGUMENT;
        if (!k) return nullptr;
        pt->pub = k.release();
    }
    *err = EVP_PKEY_up_ref(pt->pub) ? 0 : WJ_ERR_INTERNAL;
    return *err ? nullptr : PkeyPtr(pt->pub);
}

PkeyPtr ecdsa_private(const WJ_BigInt *d, const WJ_EC_Parameters *params, int *err) {
    const EcCache *c = checked(params, nullptr, err);
    if (!c) return nullptr;
    *err = WJ_ERR_BAD_ARGUMENT;
    if (!bigint_valid(d) || d->Sign || bigint_is_zero(d)) return nullptr;
    auto *impl = static_cast<EcImpl *>(params->internal);
    if (impl)
        if (PkeyPtr k = impl->priv.get({d})) return k;
    BnPtr bd = bn_of(d);
    BnCtxPtr ctx = new_bn_ctx();
    PointPtr q(EC_POINT_new(c->group));
    *err = WJ_ERR_MEMORY;
    if (!bd || !ctx || !q) return nullptr;
    *err = WJ_ERR_BAD_ARGUMENT;
    if (BN_cmp(bd.get(), c->order.get()) >= 0) return nullptr;
    BN_set_flags(bd.get(), BN_FLG_CONSTTIME);
    if (!EC_POINT_mul(c->group, q.get(), bd.get(), nullptr, nullptr, ctx.get())) return nullptr;
    PkeyPtr k = ec_pkey(*c, params->curve, q.get(), bd.get());
    if (!k) return nullptr;
    if (impl) impl->priv.put({d}, k.get());
    *err = 0;
    return k;
}

int set_curve(WJ_EC_Parameters *params, int curve) {
    if (!params) return WJ_ERR_BAD_ARGUMENT;
    if (curve_index(curve) == kCurveCount) return WJ_ERR_UNKNOWN_ID;
    if (!cache_of_curve(curve)) return WJ_ERR_UNKNOWN_ID;
    if (params->curve != curve) {
        params->curve = curve;
        if (auto *impl = static_cast<EcImpl *>(params->internal)) {
            impl->priv.reset();
            impl->sign.reset();
        }
    }
    return 0;
}

// The curve of our table with this OBJECT IDENTIFIER content; 0 when none.
int curve_of_oid(const uint8_t *oid, size_t n) {
    for (const CurveInfo &ci : kCurves) {
        int nid = OBJ_sn2nid(ci.name);
        const ASN1_OBJECT *obj = nid == NID_undef ? nullptr : OBJ_nid2obj(nid);
        if (obj && static_cast<size_t>(OBJ_length(obj)) == n && std::memcmp(OBJ_get0_data(obj), oid, n) == 0)
            return ci.id;
    }
    return 0;
}

int curve_of_nid(int nid) {
    for (const CurveInfo &ci : kCurves)
        if (OBJ_sn2nid(ci.name) == nid) return ci.id;
    return 0;
}

}  // namespace

namespace ostrel::crypto {

const CurveInfo *curve_info(int id) {
    size_t i = curve_index(id);
    return i == kCurveCount ? nullptr : &kCurves[i];
}

const EC_GROUP *curve_group(int id) {
    const EcCache *c = cache_of_curve(id);
    return c ? c->group : nullptr;
}

const EcCache *ec_cache(const WJ_EC_Parameters *params, int *err) { return checked(params, nullptr, err); }

const EC_POINT *ec_point_raw(const WJ_EC_POINT *point) { return point ? point->p : nullptr; }

bool ec_point_xy(const WJ_EC_POINT *point, const EcCache &c, uint8_t *out) {
    auto *pt = const_cast<WJ_EC_POINT *>(point);
    size_t fb = static_cast<size_t>(c.field_bytes);
    std::lock_guard<std::mutex> lock(pt->mu);
    if (pt->xy.size() != 2 * fb) {
        // The affine coordinates cost a field inversion: computed once per point.
        BnCtxPtr ctx = new_bn_ctx();
        BnPtr x = new_bn(), y = new_bn();
        std::vector<uint8_t> xy(2 * fb);
        if (!ctx || !x || !y || EC_POINT_is_at_infinity(c.group, pt->p) ||
            !EC_POINT_get_affine_coordinates(c.group, pt->p, x.get(), y.get(), ctx.get()) ||
            !bn_to_fixed(x.get(), xy.data(), fb) || !bn_to_fixed(y.get(), xy.data() + fb, fb))
            return false;
        pt->xy = std::move(xy);
    }
    std::memcpy(out, pt->xy.data(), 2 * fb);
    return true;
}

int ec_point_curve(const WJ_EC_POINT *point) { return point ? point->curve : 0; }

// ECParameters ::= CHOICE { namedCurve OBJECT IDENTIFIER, specifiedCurve SpecifiedECDomain, ... }
int ec_decode(WJ_EC_Parameters *params, const unsigned char *in, unsigned int len) {
    if (!params || !in) return WJ_ERR_BAD_ARGUMENT;
    Reader r(in, len), body;
    int curve = 0;
    if (der::next_is(r, der::kOid)) {
        if (int rc = der::read_tlv(r, der::kOid, body)) return rc;
        if (!r.empty() || body.empty()) return WJ_ERR_BAD_DER;
        curve = curve_of_oid(body.data(), body.remaining());
        if (!curve) return WJ_ERR_UNKNOWN_ID;
    } else {
        // Explicit parameters: accepted when they are those of a curve of the table.
        if (int rc = der::read_tlv(r, der::kSequence, body)) return rc;
        if (!r.empty()) return WJ_ERR_BAD_DER;
        const unsigned char *p = in;
        EC_GROUP *g = d2i_ECPKParameters(nullptr, &p, static_cast<long>(len));
        if (!g) return WJ_ERR_BAD_DER;
        BnCtxPtr ctx = new_bn_ctx();
        int nid = ctx ? EC_GROUP_check_named_curve(g, 0, ctx.get()) : NID_undef;
        EC_GROUP_free(g);
        curve = nid > 0 ? curve_of_nid(nid) : 0;
        if (!curve) return WJ_ERR_UNKNOWN_ID;
    }
    return set_curve(params, curve);
}

}  // namespace ostrel::crypto

void ostrel::crypto::PkeySlot::reset() {
    std::lock_guard<std::mutex> lock(mu_);
    EVP_PKEY_free(pkey_);
    pkey_ = nullptr;
    stamp_.clear();
}

extern "C" {

QRT_API const char *WJ_EC_CurveName(int curve) {
    const CurveInfo *ci = curve_info(curve);
    return ci ? ci->name : nullptr;
}

QRT_API WJ_EC_Parameters *WJ_ECDSA_Parameters_New(void) {
    auto *p = static_cast<WJ_EC_Parameters *>(QRT_calloc(1, sizeof(WJ_EC_Parameters)));
    if (!p) return nullptr;
    if (!(p->internal = new (std::nothrow) EcImpl)) {
        QRT_free(p);
        return nullptr;
    }
    return p;
}

QRT_API void WJ_ECDSA_Parameters_Free(WJ_EC_Parameters *params) {
    if (!params) return;
    delete static_cast<EcImpl *>(params->internal);
    QRT_free(params);
}

QRT_API int WJ_ECDSA_Parameters_Decode(WJ_EC_Parameters *params, const unsigned char *in, unsigned int inLength) {
    return OSTREL_PK_GUARD([&] { return ec_decode(params, in, inLength); });
}

QRT_API int WJ_ECDSA_Parameters_Encode(unsigned char *out, unsigned int *outLength, const WJ_EC_Parameters *params) {
    return OSTREL_PK_GUARD(params && outLength, [&] {
        const CurveInfo *ci = curve_info(params->curve);
        int nid = ci ? OBJ_sn2nid(ci->name) : NID_undef;
        const ASN1_OBJECT *obj = nid == NID_undef ? nullptr : OBJ_nid2obj(nid);
        if (!obj) return WJ_ERR_BAD_ARGUMENT;
        der::Writer w;
        w.tlv(der::kOid, OBJ_get0_data(obj), static_cast<size_t>(OBJ_length(obj)));
        return put_out(out, outLength, w.out.data(), w.out.size());
    });
}

QRT_API int WJ_ECDSA_Parameters_SetCurve(WJ_EC_Parameters *params, int curve) {
    return OSTREL_PK_GUARD([&] { return set_curve(params, curve); });
}

QRT_API WJ_EC_Parameters *WJ_ECKCDSA_Parameters_New(void) { return WJ_ECDSA_Parameters_New(); }
QRT_API void WJ_ECKCDSA_Parameters_Free(WJ_EC_Parameters *params) { WJ_ECDSA_Parameters_Free(params); }
QRT_API int WJ_ECKCDSA_Parameters_Decode(WJ_EC_Parameters *params, const unsigned char *in, unsigned int inLength) {
    return WJ_ECDSA_Parameters_Decode(params, in, inLength);
}
QRT_API int WJ_ECKCDSA_Parameters_Encode(unsigned char *out, unsigned int *outLength, const WJ_EC_Parameters *params) {
    return WJ_ECDSA_Parameters_Encode(out, outLength, params);
}
QRT_API int WJ_ECKCDSA_Parameters_SetCurve(WJ_EC_Parameters *params, int curve) {
    return WJ_ECDSA_Parameters_SetCurve(params, curve);
}

QRT_API WJ_EC_POINT *WJ_EC_Point_New(const WJ_EC_Parameters *curve) {
    int err = 0;
    const EcCache *c = checked(curve, nullptr, &err);
    if (!c) return nullptr;
    auto *pt = new (std::nothrow) WJ_EC_POINT;
    if (!pt) return nullptr;
    pt->curve = curve->curve;
    if (!(pt->p = EC_POINT_new(c->group))) {
        delete pt;
        return nullptr;
    }
    return pt;
}

QRT_API void WJ_EC_Point_Free(WJ_EC_POINT *point) { delete point; }

QRT_API int WJ_EC_Point_Encode(unsigned char *out, unsigned int *outLength, const WJ_EC_POINT *point, int compressed) {
    return OSTREL_PK_GUARD(point && point->p && outLength, [&] {
        const EcCache *c = cache_of_curve(point->curve);
        if (!c) return WJ_ERR_BAD_ARGUMENT;
        auto form = compressed ? POINT_CONVERSION_COMPRESSED : POINT_CONVERSION_UNCOMPRESSED;
        unsigned char buf[1 + 2 * 66];
        size_t n = EC_POINT_point2oct(c->group, point->p, form, buf, sizeof buf, nullptr);
        if (!n) return WJ_ERR_INTERNAL;
        return put_out(out, outLength, buf, n);
    });
}

QRT_API int WJ_EC_GeneratorOf(WJ_EC_POINT *g, const WJ_EC_Parameters *params) {
    return OSTREL_PK_GUARD([&] {
        int err = 0;
        const EcCache *c = checked(params, g, &err);
        if (!c) return err;
        g->changed();
        return EC_POINT_copy(g->p, EC_GROUP_get0_generator(c->group)) ? 0 : WJ_ERR_MEMORY;
    });
}

QRT_API int WJ_EC_OrderOf(WJ_BigInt *n, const WJ_EC_Parameters *params) {
    return OSTREL_PK_GUARD(n, [&] {
        int err = 0;
        const EcCache *c = checked(params, nullptr, &err);
        return c ? bigint_from_bn(n, c->order.get()) : err;
    });
}

// r := k P (P NULL: the generator), the scalar reduced mod n and treated as secret.
static int ec_mul(WJ_EC_POINT *r, const WJ_BigInt *k, const WJ_EC_POINT *p, const WJ_EC_Parameters *params) {
    int err = 0;
    const EcCache *c = checked(params, r, &err);
    if (!c) return err;
    if ((p && (!p->p || p->curve != params->curve)) || !bigint_valid(k)) return WJ_ERR_BAD_ARGUMENT;
    BnPtr bk = bn_of(k);
    BnCtxPtr ctx = new_bn_ctx();
    if (!bk || !ctx) return WJ_ERR_MEMORY;
    if (!BN_nnmod(bk.get(), bk.get(), c->order.get(), ctx.get())) return WJ_ERR_MEMORY;
    BN_set_flags(bk.get(), BN_FLG_CONSTTIME);
    PointPtr out(EC_POINT_new(c->group));
    if (!out) return WJ_ERR_MEMORY;
    int ok = p ? EC_POINT_mul(c->group, out.get(), nullptr, p->p, bk.get(), ctx.get())
               : EC_POINT_mul(c->group, out.get(), bk.get(), nullptr, nullptr, ctx.get());
    if (!ok) return WJ_ERR_INTERNAL;
    r->changed();
    return EC_POINT_copy(r->p, out.get()) ? 0 : WJ_ERR_MEMORY;
}

QRT_API int WJ_EC_Mul(WJ_EC_POINT *r, const WJ_BigInt *k, const WJ_EC_POINT *p, const WJ_EC_Parameters *params) {
    return OSTREL_PK_GUARD(p, [&] { return ec_mul(r, k, p, params); });
}

QRT_API int WJ_EC_MulPre(WJ_EC_POINT *r, const WJ_BigInt *k, const WJ_EC_Parameters *params) {
    return OSTREL_PK_GUARD([&] { return ec_mul(r, k, nullptr, params); });
}

QRT_API int WJ_EC_Cmp(const WJ_EC_POINT *a, const WJ_EC_POINT *b, const WJ_EC_Parameters *params) {
    return OSTREL_PK_GUARD([&] {
        int err = 0;
        const EcCache *c = checked(params, a, &err);
        if (!c || !checked(params, b, &err)) return err;
        BnCtxPtr ctx = new_bn_ctx();
        int rc = EC_POINT_cmp(c->group, a->p, b->p, ctx.get());
        return rc < 0 ? WJ_ERR_INTERNAL : rc;
    });
}

}  // extern "C"

int ostrel::crypto::ec_point_decode(WJ_EC_POINT *point, const unsigned char *in, unsigned int len,
                                    const WJ_EC_Parameters *params) {
    int err = 0;
    const EcCache *c = checked(params, point, &err);
    if (!c || !in) return c ? WJ_ERR_BAD_ARGUMENT : err;
    if (len == 0 || (in[0] != 2 && in[0] != 3 && in[0] != 4)) return WJ_ERR_BAD_DER;
    BnCtxPtr ctx = new_bn_ctx();
    PointPtr tmp(EC_POINT_new(c->group));
    if (!ctx || !tmp) return WJ_ERR_MEMORY;
    // oct2point checks that the point lies on the curve.
    if (!EC_POINT_oct2point(c->group, tmp.get(), in, len, ctx.get()) || EC_POINT_is_at_infinity(c->group, tmp.get()))
        return WJ_ERR_BAD_DER;
    // A compressed point has one form: on a binary curve OpenSSL also takes y-bit 1 for x = 0,
    // which is written back with y-bit 0.
    if (in[0] != 4) {
        unsigned char back[160];
        size_t n = EC_POINT_point2oct(c->group, tmp.get(), POINT_CONVERSION_COMPRESSED, back, sizeof back, ctx.get());
        if (n != len || std::memcmp(back, in, len) != 0) return WJ_ERR_BAD_DER;
    }
    point->changed();
    return EC_POINT_copy(point->p, tmp.get()) ? 0 : WJ_ERR_MEMORY;
}

int ostrel::crypto::ec_keypair(bool kcdsa, WJ_BigInt *d, WJ_EC_POINT *q, const WJ_EC_Parameters *params) {
    if (!d) return WJ_ERR_BAD_ARGUMENT;
    int err = 0;
    const EcCache *c = checked(params, q, &err);
    if (!c) return err;
    BnCtxPtr ctx = new_bn_ctx();
    BnPtr bd = new_bn(), e = new_bn();
    PointPtr pt(EC_POINT_new(c->group));
    if (!ctx || !bd || !e || !pt) return WJ_ERR_MEMORY;
    if (int rc = random_scalar(bd.get(), c->order.get(), ctx.get())) return rc;
    BN_set_flags(bd.get(), BN_FLG_CONSTTIME);
    if (kcdsa ? !BN_mod_inverse(e.get(), bd.get(), c->order.get(), ctx.get()) : !BN_copy(e.get(), bd.get()))
        return WJ_ERR_INTERNAL;
    BN_set_flags(e.get(), BN_FLG_CONSTTIME);
    if (!EC_POINT_mul(c->group, pt.get(), e.get(), nullptr, nullptr, ctx.get())) return WJ_ERR_INTERNAL;
    if (int rc = bigint_from_bn(d, bd.get())) return rc;
    q->changed();
    return EC_POINT_copy(q->p, pt.get()) ? 0 : WJ_ERR_MEMORY;
}

int ostrel::crypto::ecdsa_sign(WJ_ECDSA_Signature *sig, const unsigned char *digest, unsigned int len,
                               const WJ_BigInt *d, const WJ_ECDSA_Parameters *params) {
    if (!sig || !sig->r || !sig->s || !digest || !len) return WJ_ERR_BAD_ARGUMENT;
    int err = 0;
    PkeyPtr k = ecdsa_private(d, params, &err);
    if (!k) return err;
    auto *impl = static_cast<EcImpl *>(params->internal);
    unsigned char der[160];
    size_t n = sizeof der;
    int rc = run_op(
        impl ? &impl->sign : nullptr, k.get(), [](EVP_PKEY_CTX *c) { return EVP_PKEY_sign_init(c) == 1; },
        [&](EVP_PKEY_CTX *c) { return EVP_PKEY_sign(c, der, &n, digest, len) == 1 ? 0 : WJ_ERR_INTERNAL; });
    return rc ? rc : WJ_DSA_Signature_Decode(sig, der, static_cast<unsigned>(n));
}

int ostrel::crypto::ecdsa_verify(const WJ_ECDSA_Signature *sig, const unsigned char *digest, unsigned int len,
                                 const WJ_EC_POINT *q, const WJ_ECDSA_Parameters *params) {
    if (!sig || !digest || !len) return WJ_ERR_BAD_ARGUMENT;
    int err = 0;
    PkeyPtr k = ecdsa_public(q, params, &err);
    if (!k) return err;
    unsigned char der[160];
    unsigned n = sizeof der;
    if (WJ_DSA_Signature_Encode(der, &n, sig) != 0) return WJ_ERR_ECDSA_VERIFY;  // values too long for the curve
    return run_op(
        &const_cast<WJ_EC_POINT *>(q)->verify, k.get(), [](EVP_PKEY_CTX *c) { return EVP_PKEY_verify_init(c) == 1; },
        [&](EVP_PKEY_CTX *c) {
            if (EVP_PKEY_verify(c, der, n, digest, len) == 1) return 0;
            ERR_clear_error();
            return WJ_ERR_ECDSA_VERIFY;
        });
}

extern "C" {

QRT_API int WJ_ECDSA_PublicKey_Decode(WJ_EC_POINT *point, const unsigned char *in, unsigned int inLength,
                                      const WJ_EC_Parameters *params) {
    return OSTREL_PK_GUARD([&] { return ec_point_decode(point, in, inLength, params); });
}
QRT_API int WJ_ECKCDSA_PublicKey_Decode(WJ_EC_POINT *point, const unsigned char *in, unsigned int inLength,
                                        const WJ_EC_Parameters *params) {
    return WJ_ECDSA_PublicKey_Decode(point, in, inLength, params);
}

QRT_API int WJ_ECDSA_GenerateKey(WJ_BigInt *d, WJ_EC_POINT *q, const WJ_EC_Parameters *params) {
    if (int rc = gate()) return rc;
    return OSTREL_PK_GUARD([&] { return ec_keypair(false, d, q, params); });
}
QRT_API int WJ_ECKCDSA_GenerateKey(WJ_BigInt *d, WJ_EC_POINT *q, const WJ_EC_Parameters *params) {
    if (int rc = gate()) return rc;
    return OSTREL_PK_GUARD([&] { return ec_keypair(true, d, q, params); });
}

QRT_API WJ_ECDSA_Signature *WJ_ECDSA_Signature_New(void) { return WJ_DSA_Signature_New(); }
QRT_API void WJ_ECDSA_Signature_Free(WJ_ECDSA_Signature *sig) { WJ_DSA_Signature_Free(sig); }
QRT_API int WJ_ECDSA_Signature_Encode(unsigned char *out, unsigned int *outLength, const WJ_ECDSA_Signature *sig) {
    return WJ_DSA_Signature_Encode(out, outLength, sig);
}
QRT_API int WJ_ECDSA_Signature_Decode(WJ_ECDSA_Signature *sig, const unsigned char *in, unsigned int inLength) {
    return WJ_DSA_Signature_Decode(sig, in, inLength);
}

QRT_API int WJ_ECDSA_Sign(WJ_ECDSA_Signature *sig, const unsigned char *digest, unsigned int digestLength,
                          const WJ_BigInt *d, const WJ_EC_Parameters *params) {
    if (int rc = gate()) return rc;
    return OSTREL_PK_GUARD([&] { return ecdsa_sign(sig, digest, digestLength, d, params); });
}

QRT_API int WJ_ECDSA_Verify(const WJ_ECDSA_Signature *sig, const unsigned char *digest, unsigned int digestLength,
                            const WJ_EC_POINT *q, const WJ_EC_Parameters *params) {
    if (int rc = gate()) return rc;
    return OSTREL_PK_GUARD([&] { return ecdsa_verify(sig, digest, digestLength, q, params); });
}

}  // extern "C"
