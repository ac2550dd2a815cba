// The generic public-key interface: parameter and key objects of any algorithm, their binary
// forms (PKCS#1 for RSA, our SEQUENCE of algorithm, parameters and values for the others), key
// and parameter generation, RSA encryption, and signatures by signature number.
#include <cstring>
#include <new>

#include "crypto_der.hpp"
#include "crypto_pkey.hpp"
#include "ostrel/owners.hpp"

using namespace ostrel;
using namespace ostrel::crypto;

namespace {

bool is_dl(int alg) { return alg == WJ_PKEY_DH || alg == WJ_PKEY_DSA || alg == WJ_PKEY_KCDSA; }
bool is_ec(int alg) { return alg == WJ_PKEY_ECDSA || alg == WJ_PKEY_ECKCDSA; }

}  // namespace

struct _WJC_PKEY_PARAMETERS {
    int alg = 0;
    WJ_DL_Parameters *dl = nullptr;
    WJ_EC_Parameters *ec = nullptr;

    ~_WJC_PKEY_PARAMETERS() { clear(); }
    void clear() {
        dl_free(dl);
        WJ_ECDSA_Parameters_Free(ec);
        dl = nullptr;
        ec = nullptr;
        alg = 0;
    }
    void swap(_WJC_PKEY_PARAMETERS &o) {
        std::swap(alg, o.alg);
        std::swap(dl, o.dl);
        std::swap(ec, o.ec);
    }
};

namespace {

int params_decode(WJC_PKEY_PARAMETERS &out, int alg, const unsigned char *in, unsigned len) {
    WJC_PKEY_PARAMETERS tmp;
    tmp.alg = alg;
    int rc;
    if (is_dl(alg)) {
        if (!(tmp.dl = dl_new())) return WJ_ERR_MEMORY;
        rc = dl_decode(tmp.dl, alg, in, len);
    } else if (is_ec(alg)) {
        if (!(tmp.ec = WJ_ECDSA_Parameters_New())) return WJ_ERR_MEMORY;
        rc = ec_decode(tmp.ec, in, len);
    } else {
        return WJ_ERR_UNKNOWN_ID;
    }
    if (rc == 0) out.swap(tmp);
    return rc;
}

int params_encode(der::Writer &w, const WJC_PKEY_PARAMETERS &p) {
    unsigned n = 0;
    auto enc = [&](unsigned char *o, unsigned *l) {
        return p.dl ? dl_encode(o, l, p.alg, p.dl) : WJ_ECDSA_Parameters_Encode(o, l, p.ec);
    };
    if (!p.dl && !p.ec) return WJ_ERR_BAD_ARGUMENT;
    if (int rc = enc(nullptr, &n)) return rc;
    SecBytes buf(n);
    if (int rc = enc(buf.data(), &n)) return rc;
    w.raw(buf.data(), n);
    return 0;
}

int params_copy(WJC_PKEY_PARAMETERS &dst, const WJC_PKEY_PARAMETERS &src) {
    der::Writer w;
    if (int rc = params_encode(w, src)) return rc;
    return params_decode(dst, src.alg, w.out.data(), static_cast<unsigned>(w.out.size()));
}

}  // namespace

struct _WJC_PKEY_PUBLIC_KEY {
    int alg = 0;
    WJ_RSA_PublicKey *rsa = nullptr;
    WJC_PKEY_PARAMETERS params;
    WJ_BigInt *y = nullptr;    // DH, DSA, KCDSA
    WJ_EC_POINT *q = nullptr;  // ECDSA, EC-KCDSA

    ~_WJC_PKEY_PUBLIC_KEY() { clear(); }
    void clear() {
        WJ_RSA_PublicKey_Free(rsa);
        WJ_BigInt_Free(y);
        WJ_EC_Point_Free(q);
        rsa = nullptr;
        y = nullptr;
        q = nullptr;
        params.clear();
        alg = 0;
    }
};

struct _WJC_PKEY_PRIVATE_KEY {
    int alg = 0;
    WJ_RSA_PrivateKey *rsa = nullptr;
    WJC_PKEY_PARAMETERS params;
    WJ_BigInt *y = nullptr;
    WJ_EC_POINT *q = nullptr;
    WJ_BigInt *x = nullptr;  // x or d

    ~_WJC_PKEY_PRIVATE_KEY() { clear(); }
    void clear() {
        WJ_RSA_PrivateKey_Free(rsa);
        WJ_BigInt_Free(y);
        WJ_EC_Point_Free(q);
        WJ_BigInt_Free(x);
        rsa = nullptr;
        y = nullptr;
        q = nullptr;
        x = nullptr;
        params.clear();
        alg = 0;
    }
};

namespace {

template <class K>
void swap_keys(K &a, K &b) {
    std::swap(a.alg, b.alg);
    std::swap(a.rsa, b.rsa);
    a.params.swap(b.params);
    std::swap(a.y, b.y);
    std::swap(a.q, b.q);
    if constexpr (requires { a.x; }) std::swap(a.x, b.x);
}

// OstrelPublicKey  ::= SEQUENCE { algorithm INTEGER, parameters, public }
// OstrelPrivateKey ::= SEQUENCE { algorithm INTEGER, parameters, public, private INTEGER }
// public: INTEGER y, or OCTET STRING with the point.
template <class K>
int key_decode(K &out, int alg, const unsigned char *in, unsigned len, bool priv) {
    K tmp;
    tmp.alg = alg;
    if (!is_dl(alg) && !is_ec(alg)) return WJ_ERR_UNKNOWN_ID;
    Reader r(in, len), seq;
    if (int rc = der::read_tlv(r, der::kSequence, seq)) return rc;
    if (!r.empty()) return WJ_ERR_BAD_DER;
    long a = 0;
    if (int rc = der::read_small(seq, a)) return rc;
    if (a != alg) return WJ_ERR_BAD_ARGUMENT;
    const uint8_t *pstart = seq.data();
    uint8_t tag = 0;
    Reader body;
    if (!seq.peek(tag)) return WJ_ERR_SHORT_INPUT;
    if (tag != der::kSequence && tag != der::kOid) return WJ_ERR_BAD_DER;
    if (int rc = der::read_tlv(seq, tag, body)) return rc;
    if (int rc = params_decode(tmp.params, alg, pstart, static_cast<unsigned>(seq.data() - pstart))) return rc;
    if (is_dl(alg)) {
        if (!(tmp.y = WJ_BigInt_New(1))) return WJ_ERR_MEMORY;
        if (int rc = der::read_unsigned(seq, tmp.y)) return rc;
    } else {
        Reader oct;
        if (int rc = der::read_tlv(seq, der::kOctetString, oct)) return rc;
        if (!(tmp.q = WJ_EC_Point_New(tmp.params.ec))) return WJ_ERR_MEMORY;
        if (int rc = ec_point_decode(tmp.q, oct.data(), static_cast<unsigned>(oct.remaining()), tmp.params.ec))
            return rc;
    }
    if constexpr (requires { tmp.x; }) {
        if (priv) {
            if (!(tmp.x = WJ_BigInt_New(1))) return WJ_ERR_MEMORY;
            if (int rc = der::read_unsigned(seq, tmp.x)) return rc;
            if (bigint_is_zero(tmp.x)) return WJ_ERR_BAD_DER;
        }
    }
    if (!seq.empty()) return WJ_ERR_BAD_DER;
    swap_keys(out, tmp);
    return 0;
}

template <class K>
int key_encode(unsigned char *out, unsigned *out_len, const K &key) {
    der::Writer body, all;
    body.small(static_cast<unsigned long>(key.alg));
    if (int rc = params_encode(body, key.params)) return rc;
    if (key.y) {
        if (body.unsigned_int(key.y)) return WJ_ERR_BAD_ARGUMENT;
    } else if (key.q) {
        unsigned n = 0;
        if (int rc = WJ_EC_Point_Encode(nullptr, &n, key.q, 0)) return rc;
        SecBytes pt(n);
        if (int rc = WJ_EC_Point_Encode(pt.data(), &n, key.q, 0)) return rc;
        body.tlv(der::kOctetString, pt.data(), n);
    } else {
        return WJ_ERR_BAD_ARGUMENT;
    }
    if constexpr (requires { key.x; }) {
        if (!key.x || body.unsigned_int(key.x)) return WJ_ERR_BAD_ARGUMENT;
    }
    all.wrap(der::kSequence, body);
    return put_out(out, out_len, all.out.data(), all.out.size());
}

// The signature numbers: family and hash.
enum Family { kNone, kRsaV15, kRsaRaw, kRsaPss, kKcdsa, kEckcdsa };
struct SignInfo {
    Family family;
    int hash;
};
SignInfo sign_info(int alg) {
    switch (alg) {
        case WJC_SIGN_RSA_MD2:
            return {kRsaV15, WJ_HASH_MD2};
        case WJC_SIGN_RSA_MD5:
            return {kRsaV15, WJ_HASH_MD5};
        case WJC_SIGN_RSA_SHA1:
            return {kRsaV15, WJ_HASH_SHA1};
        case WJC_SIGN_RSA_SHA256:
            return {kRsaV15, WJ_HASH_SHA256};
        case WJC_SIGN_RSA_SHA384:
            return {kRsaV15, WJ_HASH_SHA384};
        case WJC_SIGN_RSA_SHA512:
            return {kRsaV15, WJ_HASH_SHA512};
        case WJC_SIGN_RSA_HAS160:
            return {kRsaV15, WJ_HASH_HAS160};
        case WJC_SIGN_RSA_RAW:
            return {kRsaRaw, -1};
        case WJC_SIGN_RSA_PSS:
        case 31:
        case 32:
        case 33:
        case 34:
            return {kRsaPss, 0};
        case WJC_SIGN_KCDSA_SHA1:
            return {kKcdsa, WJ_HASH_SHA1};
        case WJC_SIGN_KCDSA_HAS160:
            return {kKcdsa, WJ_HASH_HAS160};
        case WJC_SIGN_KCDSA_SHA256:
            return {kKcdsa, WJ_HASH_SHA256};
        case WJC_SIGN_KCDSA_SHA384:
            return {kKcdsa, WJ_HASH_SHA384};
        case WJC_SIGN_KCDSA_SHA512:
            return {kKcdsa, WJ_HASH_SHA512};
        case WJC_SIGN_KCDSA_SHA224:
            return {kKcdsa, WJ_HASH_SHA224};
        case WJC_SIGN_ECKCDSA_SHA1:
            return {kEckcdsa, WJ_HASH_SHA1};
        case WJC_SIGN_ECKCDSA_HAS160:
            return {kEckcdsa, WJ_HASH_HAS160};
        case WJC_SIGN_ECKCDSA_SHA224:
            return {kEckcdsa, WJ_HASH_SHA224};
        case WJC_SIGN_ECKCDSA_SHA256:
            return {kEckcdsa, WJ_HASH_SHA256};
        case WJC_SIGN_ECKCDSA_SHA384:
            return {kEckcdsa, WJ_HASH_SHA384};
        case WJC_SIGN_ECKCDSA_SHA512:
            return {kEckcdsa, WJ_HASH_SHA512};
        default:
            return {kNone, 0};
    }
}

// The value a signature covers: the data when hashed, else its hash (KCDSA family: H(z || M)).
template <class K>
int covered(const SignInfo &si, int hash, int hashed, const unsigned char *data, unsigned len, const K &key,
            const WJC_PKEY_PARAMETERS &params, uint8_t *out, unsigned *out_len) {
    if (hashed) {
        if (len > WJ_HASH_MAX_LENGTH && si.family != kRsaRaw) return WJ_ERR_BAD_ARGUMENT;
        if (si.family == kRsaRaw) return 0;
        std::memcpy(out, data, len);
        *out_len = len;
        return 0;
    }
    if (si.family == kRsaRaw) return WJ_ERR_BAD_ARGUMENT;  // the raw form signs a given value only
    *out_len = WJ_HASH_MAX_LENGTH;
    if (si.family == kKcdsa) return kcdsa_hash(out, out_len, data, len, hash, key.y);
    if (si.family == kEckcdsa) return eckcdsa_hash(out, out_len, data, len, hash, params.ec, key.q);
    return WJC_Hash(out, out_len, data, len, hash);
}

template <class K>
const WJC_PKEY_PARAMETERS *params_for(const K &key, const WJC_PKEY_PARAMETERS *given, int want_alg) {
    const WJC_PKEY_PARAMETERS *p = given ? given : &key.params;
    return p->alg == want_alg ? p : nullptr;
}

// What signing and verification share: the signature number's family and hash, the key's
// parameters, and the digest (or data) the signature covers.
struct Covered {
    SignInfo si;
    int hash = 0;
    const WJC_PKEY_PARAMETERS *params = nullptr;
    uint8_t h[WJ_HASH_MAX_LENGTH];
    unsigned hn = 0;
};

template <class K>
int prepare(Covered &c, int hashed, const unsigned char *data, unsigned len, int sign_alg, const K &key,
            const WJC_PKEY_PARAMETERS *given, const WJ_PSS_PARAM *pss) {
    c.si = sign_info(sign_alg);
    if (c.si.family == kNone) return WJ_ERR_UNKNOWN_ID;
    if (c.si.family == kRsaPss && !pss) return WJ_ERR_BAD_ARGUMENT;
    c.hash = c.si.family == kRsaPss ? pss->hashAlg : c.si.hash;
    bool rsa = c.si.family == kRsaV15 || c.si.family == kRsaRaw || c.si.family == kRsaPss;
    int want = rsa ? WJ_PKEY_RSA : c.si.family == kKcdsa ? WJ_PKEY_KCDSA : WJ_PKEY_ECKCDSA;
    if (key.alg != want) return WJ_ERR_BAD_ARGUMENT;
    c.params = rsa ? &key.params : params_for(key, given, want);
    if (!c.params) return WJ_ERR_BAD_ARGUMENT;
    return covered(c.si, c.hash, hashed, data, len, key, *c.params, c.h, &c.hn);
}

int do_sign(unsigned char *out, unsigned *out_len, int hashed, const unsigned char *data, unsigned len, int sign_alg,
            const WJC_PKEY_PRIVATE_KEY *key, const WJC_PKEY_PARAMETERS *given, const WJ_PSS_PARAM *pss) {
    if (!key || !out_len || (!data && len)) return WJ_ERR_BAD_ARGUMENT;
    Covered c;
    if (int rc = prepare(c, hashed, data, len, sign_alg, *key, given, pss)) return rc;
    switch (c.si.family) {
        case kRsaV15:
            return rsa_v15_sign(out, out_len, c.hash, c.h, c.hn, key->rsa);
        case kRsaRaw:
            return rsa_v15_sign(out, out_len, -1, data, len, key->rsa);
        case kRsaPss:
            return WJ_PKCS1_PSS_Sign(out, out_len, c.h, c.hn, pss, key->rsa);
        default:
            break;
    }
    WJ_KCDSA_Signature *sig = WJ_KCDSA_Signature_New();
    if (!sig) return WJ_ERR_MEMORY;
    int rc = c.si.family == kKcdsa ? kcdsa_sign(sig, c.h, c.hn, c.hash, key->x, c.params->dl)
                                   : eckcdsa_sign(sig, c.h, c.hn, c.hash, key->x, c.params->ec);
    if (rc == 0) rc = kcdsa_sig_encode(out, out_len, sig);
    WJ_KCDSA_Signature_Free(sig);
    return rc;
}

int do_verify(const unsigned char *sig, unsigned sig_len, int hashed, const unsigned char *data, unsigned len,
              int sign_alg, const WJC_PKEY_PUBLIC_KEY *key, const WJC_PKEY_PARAMETERS *given, const WJ_PSS_PARAM *pss) {
    if (!key || !sig || (!data && len)) return WJ_ERR_BAD_ARGUMENT;
    Covered c;
    if (int rc = prepare(c, hashed, data, len, sign_alg, *key, given, pss)) return rc;
    switch (c.si.family) {
        case kRsaV15:
            return rsa_v15_verify(sig, sig_len, c.hash, c.h, c.hn, key->rsa);
        case kRsaRaw:
            return rsa_v15_verify(sig, sig_len, -1, data, len, key->rsa);
        case kRsaPss:
            return WJ_PKCS1_PSS_Verify(sig, sig_len, c.h, c.hn, pss, key->rsa);
        default:
            break;
    }
    int fail = c.si.family == kKcdsa ? WJ_ERR_KCDSA_VERIFY : WJ_ERR_ECKCDSA_VERIFY;
    WJ_KCDSA_Signature *s = WJ_KCDSA_Signature_New();
    if (!s) return WJ_ERR_MEMORY;
    int rc = kcdsa_sig_decode(s, sig, sig_len);
    if (rc == 0)
        rc = c.si.family == kKcdsa ? kcdsa_verify(s, c.h, c.hn, c.hash, key->y, c.params->dl)
                                   : eckcdsa_verify(s, c.h, c.hn, c.hash, key->q, c.params->ec);
    else
        rc = fail;  // a malformed signature does not verify
    WJ_KCDSA_Signature_Free(s);
    return rc;
}

// A generic key from its binary form: PKCS#1 DER for RSA, our own form for the rest.
template <class Rsa, Rsa *(*make)(), void (*release)(Rsa *), int (*decode)(Rsa *, const unsigned char *, unsigned),
          class Key>
int key_from_binary(const char *fn, Key *key, int alg, const unsigned char *in, unsigned len, bool is_private) {
    if (!key || !in) return WJ_ERR_BAD_ARGUMENT;
    return OSTREL_PK_GUARD_AS(fn, [&] {
        if (alg != WJ_PKEY_RSA) return key_decode(*key, alg, in, len, is_private);
        Rsa *rsa = make();
        if (!rsa) return WJ_ERR_MEMORY;
        if (int rc = decode(rsa, in, len)) {
            release(rsa);
            return rc;
        }
        key->clear();
        key->alg = WJ_PKEY_RSA;
        key->rsa = rsa;
        return 0;
    });
}

}  // namespace

extern "C" {

QRT_API WJC_PKEY_PARAMETERS *WJC_PKEY_Parameters_New(void) { return new (std::nothrow) WJC_PKEY_PARAMETERS; }
QRT_API void WJC_PKEY_Parameters_Free(WJC_PKEY_PARAMETERS *params) { delete params; }

QRT_API int WJC_PKEY_Parameters_Decode(WJC_PKEY_PARAMETERS *params, int alg, const unsigned char *in,
                                       unsigned int inLength) {
    return OSTREL_PK_GUARD(params && in, [&] { return params_decode(*params, alg, in, inLength); });
}

QRT_API int WJC_PKEY_Parameters_Encode(unsigned char *out, unsigned int *outLength, const WJC_PKEY_PARAMETERS *params) {
    return OSTREL_PK_GUARD(params && outLength, [&] {
        der::Writer w;
        if (int rc = params_encode(w, *params)) return rc;
        return put_out(out, outLength, w.out.data(), w.out.size());
    });
}

QRT_API int WJC_PKEY_Parameters_GetAlgorithm(const WJC_PKEY_PARAMETERS *params) { return params ? params->alg : 0; }

QRT_API int WJC_PKEY_GenerateParameters(WJC_PKEY_PARAMETERS *params, int alg, const WJC_PKEY_GENPARAM *gen) {
    if (!params || !gen) return WJ_ERR_BAD_ARGUMENT;
    if (int rc = gate()) return rc;
    return OSTREL_PK_GUARD([&] {
        WJC_PKEY_PARAMETERS tmp;
        tmp.alg = alg;
        int rc;
        if (is_dl(alg)) {
            if (!(tmp.dl = dl_new())) return WJ_ERR_MEMORY;
            rc = dl_generate(alg, tmp.dl, gen->primeBits, gen->subprimeBits);
        } else if (is_ec(alg)) {
            if (!(tmp.ec = WJ_ECDSA_Parameters_New())) return WJ_ERR_MEMORY;
            rc = WJ_ECDSA_Parameters_SetCurve(tmp.ec, gen->curve);
        } else {
            return WJ_ERR_UNKNOWN_ID;
        }
        if (rc == 0) params->swap(tmp);
        return rc;
    });
}

QRT_API WJC_PKEY_PUBLIC_KEY *WJC_PKEY_PublicKey_New(void) { return new (std::nothrow) WJC_PKEY_PUBLIC_KEY; }
QRT_API void WJC_PKEY_PublicKey_Free(WJC_PKEY_PUBLIC_KEY *key) { delete key; }
QRT_API WJC_PKEY_PRIVATE_KEY *WJC_PKEY_PrivateKey_New(void) { return new (std::nothrow) WJC_PKEY_PRIVATE_KEY; }
QRT_API void WJC_PKEY_PrivateKey_Free(WJC_PKEY_PRIVATE_KEY *key) { delete key; }

QRT_API int WJC_PKEY_PublicKey_FromBinary(WJC_PKEY_PUBLIC_KEY *key, int alg, const unsigned char *in,
                                          unsigned int inLength) {
    return key_from_binary<WJ_RSA_PublicKey, WJ_RSA_PublicKey_New, WJ_RSA_PublicKey_Free, pkcs1_public_decode>(
        __func__, key, alg, in, inLength, false);
}

QRT_API int WJC_PKEY_PublicKey_ToBinary(unsigned char *out, unsigned int *outLength, const WJC_PKEY_PUBLIC_KEY *key) {
    return OSTREL_PK_GUARD(key && outLength, [&] {
        if (key->alg == WJ_PKEY_RSA) return WJ_PKCS1_PublicKey_Encode(out, outLength, key->rsa);
        return key->alg ? key_encode(out, outLength, *key) : WJ_ERR_BAD_ARGUMENT;
    });
}

QRT_API int WJC_PKEY_PublicKey_GetAlgorithm(const WJC_PKEY_PUBLIC_KEY *key) { return key ? key->alg : 0; }

QRT_API int WJC_PKEY_PrivateKey_FromBinary(WJC_PKEY_PRIVATE_KEY *key, int alg, const unsigned char *in,
                                           unsigned int inLength) {
    return key_from_binary<WJ_RSA_PrivateKey, WJ_RSA_PrivateKey_New, WJ_RSA_PrivateKey_Free, pkcs1_private_decode>(
        __func__, key, alg, in, inLength, true);
}

QRT_API int WJC_PKEY_PrivateKey_ToBinary(unsigned char *out, unsigned int *outLength, const WJC_PKEY_PRIVATE_KEY *key) {
    return OSTREL_PK_GUARD(key && outLength, [&] {
        if (key->alg == WJ_PKEY_RSA) return WJ_PKCS1_PrivateKey_Encode(out, outLength, key->rsa);
        return key->alg ? key_encode(out, outLength, *key) : WJ_ERR_BAD_ARGUMENT;
    });
}

QRT_API int WJC_PKEY_PrivateKey_GetAlgorithm(const WJC_PKEY_PRIVATE_KEY *key) { return key ? key->alg : 0; }

QRT_API const WJ_RSA_PublicKey *WJC_PKEY_PublicKey_GetRSA(const WJC_PKEY_PUBLIC_KEY *key) {
    return key ? key->rsa : nullptr;
}
QRT_API const WJ_RSA_PrivateKey *WJC_PKEY_PrivateKey_GetRSA(const WJC_PKEY_PRIVATE_KEY *key) {
    return key ? key->rsa : nullptr;
}

QRT_API int WJC_PKEY_GenerateKeyPair(WJC_PKEY_PRIVATE_KEY *priv, WJC_PKEY_PUBLIC_KEY *pub, int alg,
                                     const WJC_PKEY_PARAMETERS *params, const WJC_PKEY_RSA_GENPARAM *rsa) {
    if (!priv || !pub) return WJ_ERR_BAD_ARGUMENT;
    if (int rc = gate()) return rc;
    return OSTREL_PK_GUARD([&] {
        WJC_PKEY_PRIVATE_KEY a;
        WJC_PKEY_PUBLIC_KEY b;
        a.alg = b.alg = alg;
        if (alg == WJ_PKEY_RSA) {
            if (!rsa || rsa->bits < 512 || rsa->bits > 8192) return WJ_ERR_BAD_ARGUMENT;
            if (!(a.rsa = WJ_RSA_PrivateKey_New()) || !(b.rsa = WJ_RSA_PublicKey_New())) return WJ_ERR_MEMORY;
            if (int rc = WJ_RSA_GenerateKey(a.rsa, b.rsa, (rsa->bits + 7) / 8, rsa->e)) return rc;
        } else {
            if (!is_dl(alg) && !is_ec(alg)) return WJ_ERR_UNKNOWN_ID;
            if (!params || params->alg != alg) return WJ_ERR_BAD_ARGUMENT;
            if (int rc = params_copy(a.params, *params)) return rc;
            if (int rc = params_copy(b.params, *params)) return rc;
            if (!(a.x = WJ_BigInt_New(1))) return WJ_ERR_MEMORY;
            if (is_dl(alg)) {
                if (!(a.y = WJ_BigInt_New(1)) || !(b.y = WJ_BigInt_New(1))) return WJ_ERR_MEMORY;
                if (int rc = dl_keypair(alg, a.x, a.y, a.params.dl)) return rc;
                if (int rc = WJ_BigInt_Copy(b.y, a.y)) return rc;
            } else {
                if (!(a.q = WJ_EC_Point_New(a.params.ec)) || !(b.q = WJ_EC_Point_New(b.params.ec)))
                    return WJ_ERR_MEMORY;
                if (int rc = ec_keypair(alg == WJ_PKEY_ECKCDSA, a.x, a.q, a.params.ec)) return rc;
                unsigned char oct[1 + 2 * 66];
                unsigned n = sizeof oct;
                if (int rc = WJ_EC_Point_Encode(oct, &n, a.q, 0)) return rc;
                if (int rc = ec_point_decode(b.q, oct, n, b.params.ec)) return rc;
            }
        }
        swap_keys(*priv, a);
        swap_keys(*pub, b);
        return 0;
    });
}

QRT_API int WJC_PKEY_Encrypt(unsigned char *out, unsigned int *outLength, const unsigned char *in,
                             unsigned int inLength, int op, const WJ_OAEP_PARAM *oaep, const WJC_PKEY_PUBLIC_KEY *key) {
    if (!key || key->alg != WJ_PKEY_RSA) return WJ_ERR_BAD_ARGUMENT;
    if (op == WJC_PKEY_ENC_V15) return WJ_PKCS1_V15_Encrypt(out, outLength, in, inLength, key->rsa);
    if (op == WJC_PKEY_ENC_OAEP) return WJ_PKCS1_OAEP_Encrypt(out, outLength, in, inLength, oaep, key->rsa);
    return WJ_ERR_UNKNOWN_ID;
}

QRT_API int WJC_PKEY_Decrypt(unsigned char *out, unsigned int *outLength, const unsigned char *in,
                             unsigned int inLength, int op, const WJ_OAEP_PARAM *oaep,
                             const WJC_PKEY_PRIVATE_KEY *key) {
    if (!key || key->alg != WJ_PKEY_RSA) return WJ_ERR_BAD_ARGUMENT;
    if (op == WJC_PKEY_ENC_V15) return WJ_PKCS1_V15_Decrypt(out, outLength, in, inLength, key->rsa);
    if (op == WJC_PKEY_ENC_OAEP) return WJ_PKCS1_OAEP_Decrypt(out, outLength, in, inLength, oaep, key->rsa);
    return WJ_ERR_UNKNOWN_ID;
}

QRT_API int WJC_PKEY_Sign(unsigned char *out, unsigned int *outLength, int hashed, const unsigned char *data,
                          unsigned int dataLength, int signAlg, const WJC_PKEY_PRIVATE_KEY *key,
                          const WJC_PKEY_PARAMETERS *params, const WJ_PSS_PARAM *pss) {
    if (int rc = gate()) return rc;
    return OSTREL_PK_GUARD(
        [&] { return do_sign(out, outLength, hashed, data, dataLength, signAlg, key, params, pss); });
}

QRT_API int WJC_PKEY_Verify(const unsigned char *signature, unsigned int signatureLength, int hashed,
                            const unsigned char *data, unsigned int dataLength, int signAlg,
                            const WJC_PKEY_PUBLIC_KEY *key, const WJC_PKEY_PARAMETERS *params,
                            const WJ_PSS_PARAM *pss) {
    if (int rc = gate()) return rc;
    return OSTREL_PK_GUARD(
        [&] { return do_verify(signature, signatureLength, hashed, data, dataLength, signAlg, key, params, pss); });
}

}  // extern "C"
