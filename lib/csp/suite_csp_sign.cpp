// Signatures: the digest-level QRT_CSP_VerifySignature/ComputeSignature with one branch per
// algorithm (each traced under its own name), the three KCDSA Z conventions of verification, and
// the whole-message forms over the core's generic keys.
#include <algorithm>
#include <cstring>

#include "csp_pkey.hpp"

using namespace ostrel;
using namespace ostrel::csp;

namespace {

enum Family { kNone, kRsaV15, kRsaPss, kDsaSig, kEcdsaSig, kKcdsaSig, kEckcdsaSig };

struct SignId {
    int id;
    Family family;
    int hash;      // core hash; -1 for the raw RSA form
    int core_msg;  // core signature number of the message forms, 0 when not offered
};

constexpr SignId kSignIds[] = {
    {1, kRsaV15, WJ_HASH_MD2, 1},
    {2, kRsaV15, WJ_HASH_MD5, 2},
    {3, kRsaV15, WJ_HASH_SHA1, 3},
    {4, kRsaV15, WJ_HASH_SHA256, 4},
    {5, kRsaV15, WJ_HASH_SHA384, 5},
    {6, kRsaV15, WJ_HASH_SHA512, 6},
    {7, kRsaV15, WJ_HASH_SHA224, 0},
    {9, kRsaV15, -1, 9},
    {10, kRsaV15, WJ_HASH_HAS160, 10},
    {11, kRsaPss, 0, 11},
    {31, kRsaPss, 0, 31},
    {32, kRsaPss, 0, 32},
    {33, kRsaPss, 0, 33},
    {34, kRsaPss, 0, 34},
    {15, kDsaSig, 0, 0},
    {16, kEcdsaSig, 0, 0},
    {41, kEcdsaSig, 0, 0},
    {42, kEcdsaSig, 0, 0},
    {21, kKcdsaSig, WJ_HASH_SHA1, WJC_SIGN_KCDSA_SHA1},
    {22, kKcdsaSig, WJ_HASH_HAS160, WJC_SIGN_KCDSA_HAS160},
    {27, kKcdsaSig, WJ_HASH_SHA256, WJC_SIGN_KCDSA_SHA256},
    {28, kKcdsaSig, WJ_HASH_SHA384, WJC_SIGN_KCDSA_SHA384},
    {29, kKcdsaSig, WJ_HASH_SHA512, WJC_SIGN_KCDSA_SHA512},
    {26, kKcdsaSig, WJ_HASH_SHA224, WJC_SIGN_KCDSA_SHA224},
    {23, kEckcdsaSig, WJ_HASH_SHA1, WJC_SIGN_ECKCDSA_SHA1},
    {24, kEckcdsaSig, WJ_HASH_HAS160, WJC_SIGN_ECKCDSA_HAS160},
    {35, kEckcdsaSig, WJ_HASH_SHA224, WJC_SIGN_ECKCDSA_SHA224},
    {36, kEckcdsaSig, WJ_HASH_SHA256, WJC_SIGN_ECKCDSA_SHA256},
    {37, kEckcdsaSig, WJ_HASH_SHA384, WJC_SIGN_ECKCDSA_SHA384},
    {38, kEckcdsaSig, WJ_HASH_SHA512, WJC_SIGN_ECKCDSA_SHA512},
};

const SignId *find_sign(int id) {
    for (const SignId &s : kSignIds)
        if (s.id == id) return &s;
    return nullptr;
}


// PSS parameters in the core's terms: 6001 without param, 6010 for unknown numbers.
int pss_of(const ZQ_CSP_SignParam *param, WJ_PSS_PARAM &out) {
    if (!param) return QRT_CSP_INVALID_INPUT;
    int hash = pss_hash(param->rsa_pss.hashID, true);
    if (!hash || param->rsa_pss.mgfID < 1 || param->rsa_pss.mgfID > 5) return QRT_CSP_UNKNOWN_ID;
    if (param->rsa_pss.saltLength < WJ_PSS_SALT_EMPTY) return QRT_CSP_INVALID_INPUT;
    out = WJ_PSS_PARAM{hash, param->rsa_pss.mgfID, param->rsa_pss.saltLength};
    return 0;
}

// The code of a failed check: a mismatch is 6012, anything else 6110.
int verify_code(const char *core_fn, int rc, int mismatch) {
    OSTREL_CORE_FAIL(core_fn, rc);
    return rc == mismatch ? QRT_CSP_INVALID_SIGNATURE : QRT_CSP_CRYPTO_FAILED;
}

// Failures that carry no trace: NULL or too short arguments.
int traced(const char *fn, int rc) { return rc == 0 || rc == QRT_CSP_INVALID_INPUT ? rc : OSTREL_FAIL_AS(fn, rc); }

// The core's signature records with their constructors and DER forms (the EC records may share
// the finite-field ones' type, so each family is its own descriptor).
#define OSTREL_SIG_RECORD(Name, P)                               \
    struct Name {                                                \
        using type = P;                                          \
        static P *make() { return P##_New(); }                   \
        static void release(P *s) { P##_Free(s); }               \
        static constexpr auto encode = P##_Encode;               \
        static constexpr auto decode = P##_Decode;               \
        static constexpr const char *encode_name = #P "_Encode"; \
        static constexpr const char *decode_name = #P "_Decode"; \
    }
OSTREL_SIG_RECORD(DsaRecord, WJ_DSA_Signature);
OSTREL_SIG_RECORD(EcdsaRecord, WJ_ECDSA_Signature);
OSTREL_SIG_RECORD(KcdsaRecord, WJ_KCDSA_Signature);
OSTREL_SIG_RECORD(EckcdsaRecord, WJ_ECKCDSA_Signature);
#undef OSTREL_SIG_RECORD

// Decodes the DER signature into a record and hands it to check; a signature that does not
// decode is 6016 under fn's name.
template <class R, class Check>
int with_decoded(const char *fn, const BIN *sig, Check check) {
    typename R::type *s = R::make();
    if (!s) return OSTREL_FAIL_AS(fn, QRT_CSP_MALLOC_FAILED);
    int rc = R::decode(s, sig->value, sig->length);
    if (rc) {
        OSTREL_CORE_FAIL(R::decode_name, rc);
        rc = OSTREL_FAIL_AS(fn, QRT_CSP_BAD_SIGNATURE);
    } else {
        rc = check(s);
    }
    R::release(s);
    return rc;
}

// ---- Verification branches ----

int QRT_CSP_RSA_Verify(const BIN *sig, const BIN *data, const BIN *pub, const SignId &si,
                       const ZQ_CSP_SignParam *param) {
    WJ_PSS_PARAM pss{};
    if (si.family == kRsaPss)
        if (int rc = pss_of(param, pss)) return traced(__func__, rc);
    KeySet ks;
    if (int rc = decode_keys(kRsa, ks, nullptr, pub, nullptr)) return traced(__func__, rc);
    int rc = si.family == kRsaPss
                 ? WJ_PKCS1_PSS_Verify(sig->value, sig->length, data->value, data->length, &pss, ks.pub->rsa)
                 : WJ_PKCS1_V15_Verify(sig->value, sig->length, si.hash, data->value, data->length, ks.pub->rsa);
    if (rc)
        return OSTREL_FAIL(
            verify_code(si.family == kRsaPss ? "WJ_PKCS1_PSS_Verify" : "WJ_PKCS1_V15_Verify", rc, WJ_ERR_RSA_VERIFY));
    return 0;
}

int QRT_CSP_DSA_Verify(const BIN *sig, const BIN *data, const BIN *pub, const SignId &, const ZQ_CSP_SignParam *param) {
    if (!param || !param->dsa.pkeyParam || data->length < 20) return QRT_CSP_INVALID_INPUT;
    const char *const fn = __func__;
    return with_decoded<DsaRecord>(fn, sig, [&](const WJ_DSA_Signature *s) {
        KeySet ks;
        if (int rc = decode_keys(kDsa, ks, param->dsa.pkeyParam, pub, nullptr)) return traced(fn, rc);
        if (int rc = WJ_DSA_Verify(s, data->value, data->length, ks.pub->y, ks.params->dl))
            return OSTREL_FAIL_AS(fn, verify_code("WJ_DSA_Verify", rc, WJ_ERR_DSA_VERIFY));
        return 0;
    });
}

int QRT_CSP_ECDSA_Verify(const BIN *sig, const BIN *data, const BIN *pub, const SignId &,
                         const ZQ_CSP_SignParam *param) {
    if (!param || !param->ecdsa.pkeyParam || data->length < 20) return QRT_CSP_INVALID_INPUT;
    const char *const fn = __func__;
    return with_decoded<EcdsaRecord>(fn, sig, [&](const WJ_ECDSA_Signature *s) {
        KeySet ks;
        if (int rc = decode_keys(kEcdsa, ks, param->ecdsa.pkeyParam, pub, nullptr)) return traced(fn, rc);
        if (int rc = WJ_ECDSA_Verify(s, data->value, data->length, ks.pub->q, ks.params->ec))
            return OSTREL_FAIL_AS(fn, verify_code("WJ_ECDSA_Verify", rc, WJ_ERR_ECDSA_VERIFY));
        return 0;
    });
}

// Hash(z || message) for a Z given as bytes.
int z_hash(int hash, const unsigned char *z, unsigned zn, const BIN *msg, unsigned char *out, unsigned *n) {
    WJC_HASH_CTX *ctx = WJC_HASH_CTX_New();
    if (!ctx) return WJ_ERR_MEMORY;
    int rc = WJC_Hash_Init(ctx, hash);
    if (!rc) rc = WJC_Hash_Update(ctx, z, zn);
    if (!rc) rc = WJC_Hash_Update(ctx, msg->value, msg->length);
    if (!rc) rc = WJC_Hash_Final(ctx, out, n);
    WJC_HASH_CTX_Free(ctx);
    return rc;
}

const BIN *precomputed(const ZQ_CSP_SignParam *param) {
    const BIN *h = param->kcdsa.hash;
    return h && h->value && h->length ? h : nullptr;
}

int QRT_CSP_KCDSA_Verify(const BIN *sig, const BIN *data, const BIN *pub, const SignId &si,
                         const ZQ_CSP_SignParam *param) {
    if (!param || !param->kcdsa.pkeyParam) return QRT_CSP_INVALID_INPUT;
    const char *const fn = __func__;
    KeySet ks;
    if (int rc = decode_keys(kKcdsa, ks, param->kcdsa.pkeyParam, pub, nullptr)) return traced(fn, rc);
    return with_decoded<KcdsaRecord>(fn, sig, [&](const WJ_KCDSA_Signature *s) {
        const WJ_BigInt *y = ks.pub->y;
        unsigned char h[WJ_HASH_MAX_LENGTH];
        unsigned hn = sizeof h;
        int rc;
        // 1. The signer's z = y mod 2^l (or the hash the caller computed).
        if (const BIN *given = precomputed(param)) {
            rc = WJ_KCDSA_Verify(s, given->value, given->length, si.hash, y, ks.params->dl);
        } else {
            rc = WJ_KCDSA_Hash(h, &hn, data->value, data->length, si.hash, y);
            if (!rc) rc = WJ_KCDSA_Verify(s, h, hn, si.hash, y, ks.params->dl);
        }
        // 2. and 3. Signers that took z as the low 512 bits of y in 64 bytes, or in their minimal
        // length.
        unsigned char z[64];
        kcdsa_z64(y, z);
        for (int form = 0; rc == WJ_ERR_KCDSA_VERIFY && form < 2; ++form) {
            if (data->length == 0 || bigint_zero(y)) {
                rc = WJ_ERR_BAD_ARGUMENT;
                break;
            }
            unsigned off = 0;
            if (form == 1)
                while (off < 63 && z[off] == 0) ++off;
            hn = sizeof h;
            rc = z_hash(si.hash, z + off, 64 - off, data, h, &hn);
            if (!rc) rc = WJ_KCDSA_Verify(s, h, hn, si.hash, y, ks.params->dl);
        }
        return rc ? OSTREL_FAIL_AS(fn, verify_code("WJ_KCDSA_Verify", rc, WJ_ERR_KCDSA_VERIFY)) : 0;
    });
}

int QRT_CSP_ECKCDSA_Verify(const BIN *sig, const BIN *data, const BIN *pub, const SignId &si,
                           const ZQ_CSP_SignParam *param) {
    if (!param || !param->eckcdsa.pkeyParam) return QRT_CSP_INVALID_INPUT;
    const char *const fn = __func__;
    KeySet ks;
    if (int rc = decode_keys(kEckcdsa, ks, param->eckcdsa.pkeyParam, pub, nullptr)) return traced(fn, rc);
    return with_decoded<EckcdsaRecord>(fn, sig, [&](const WJ_ECKCDSA_Signature *s) {
        unsigned char h[WJ_HASH_MAX_LENGTH];
        unsigned hn = sizeof h;
        int rc = WJ_ECKCDSA_Hash(h, &hn, data->value, data->length, si.hash, ks.params->ec, ks.pub->q);
        if (!rc) rc = WJ_ECKCDSA_Verify(s, h, hn, si.hash, ks.pub->q, ks.params->ec);
        return rc ? OSTREL_FAIL_AS(fn, verify_code("WJ_ECKCDSA_Verify", rc, WJ_ERR_ECKCDSA_VERIFY)) : 0;
    });
}

// ---- Signing branches ----

// Signs into a new record through sign and writes the record's DER into out.
template <class R, class Sign>
int sign_encoded(const char *fn, BIN *out, const char *core_fn, Sign sign) {
    typename R::type *s = R::make();
    if (!s) return OSTREL_FAIL_AS(fn, QRT_CSP_MALLOC_FAILED);
    int rc = sign(s);
    if (rc)
        OSTREL_CORE_FAIL(core_fn, rc);
    else
        rc = output_of(
            out, [&](unsigned char *o, unsigned *l) { return R::encode(o, l, s); }, R::encode_name);
    R::release(s);
    return rc ? OSTREL_FAIL_AS(fn, QRT_CSP_CRYPTO_FAILED) : 0;
}

int QRT_CSP_RSA_Sign(BIN *sig, const BIN *data, const BIN *priv, const SignId &si, const ZQ_CSP_SignParam *param) {
    WJ_PSS_PARAM pss{};
    if (si.family == kRsaPss)
        if (int rc = pss_of(param, pss)) return traced(__func__, rc);
    KeySet ks;
    if (int rc = decode_keys(kRsa, ks, nullptr, nullptr, priv)) return traced(__func__, rc);
    unsigned room = WJ_BigInt_GetByteLength(ks.priv->rsa->n) + 5;
    if (int rc = QRT_CSP_BIN_Resize(sig, room)) return OSTREL_FAIL(rc);
    int rc = si.family == kRsaPss
                 ? WJ_PKCS1_PSS_Sign(sig->value, &room, data->value, data->length, &pss, ks.priv->rsa)
                 : WJ_PKCS1_V15_Sign(sig->value, &room, si.hash, data->value, data->length, ks.priv->rsa);
    if (rc) {
        QRT_BIN_Reset(sig);
        OSTREL_CORE_FAIL(si.family == kRsaPss ? "WJ_PKCS1_PSS_Sign" : "WJ_PKCS1_V15_Sign", rc);
        return OSTREL_FAIL(QRT_CSP_CRYPTO_FAILED);
    }
    sig->length = room;
    return 0;
}

int QRT_CSP_DSA_Sign(BIN *sig, const BIN *data, const BIN *priv, const SignId &, const ZQ_CSP_SignParam *param) {
    if (!param || !param->dsa.pkeyParam || data->length < 20) return QRT_CSP_INVALID_INPUT;
    KeySet ks;
    if (int rc = decode_keys(kDsa, ks, param->dsa.pkeyParam, nullptr, priv)) return traced(__func__, rc);
    return sign_encoded<DsaRecord>(__func__, sig, "WJ_DSA_Sign", [&](WJ_DSA_Signature *s) {
        return WJ_DSA_Sign(s, data->value, data->length, ks.priv->x, ks.params->dl);
    });
}

int QRT_CSP_ECDSA_Sign(BIN *sig, const BIN *data, const BIN *priv, const SignId &, const ZQ_CSP_SignParam *param) {
    if (!param || !param->ecdsa.pkeyParam || data->length < 20) return QRT_CSP_INVALID_INPUT;
    KeySet ks;
    if (int rc = decode_keys(kEcdsa, ks, param->ecdsa.pkeyParam, nullptr, priv)) return traced(__func__, rc);
    return sign_encoded<EcdsaRecord>(__func__, sig, "WJ_ECDSA_Sign", [&](WJ_ECDSA_Signature *s) {
        return WJ_ECDSA_Sign(s, data->value, data->length, ks.priv->x, ks.params->ec);
    });
}

int QRT_CSP_KCDSA_Sign(BIN *sig, const BIN *data, const BIN *priv, const SignId &si, const ZQ_CSP_SignParam *param) {
    if (!param || !param->kcdsa.pkeyParam || !param->kcdsa.pubKey) return QRT_CSP_INVALID_INPUT;
    KeySet ks;
    if (int rc = decode_keys(kKcdsa, ks, param->kcdsa.pkeyParam, param->kcdsa.pubKey, priv))
        return traced(__func__, rc);
    unsigned char h[WJ_HASH_MAX_LENGTH];
    unsigned hn = sizeof h;
    const unsigned char *hv = h;
    int rc = 0;
    if (const BIN *given = precomputed(param)) {
        hv = given->value;
        hn = given->length;
    } else if ((rc = WJ_KCDSA_Hash(h, &hn, data->value, data->length, si.hash, ks.pub->y)) != 0) {
        OSTREL_CORE_FAIL("WJ_KCDSA_Hash", rc);
        return OSTREL_FAIL(QRT_CSP_CRYPTO_FAILED);
    }
    return sign_encoded<KcdsaRecord>(__func__, sig, "WJ_KCDSA_Sign", [&](WJ_KCDSA_Signature *s) {
        return WJ_KCDSA_Sign(s, hv, hn, si.hash, ks.priv->x, ks.params->dl);
    });
}

int QRT_CSP_ECKCDSA_Sign(BIN *sig, const BIN *data, const BIN *priv, const SignId &si, const ZQ_CSP_SignParam *param) {
    if (!param || !param->eckcdsa.pkeyParam || !param->eckcdsa.pubKey) return QRT_CSP_INVALID_INPUT;
    KeySet ks;
    if (int rc = decode_keys(kEckcdsa, ks, param->eckcdsa.pkeyParam, param->eckcdsa.pubKey, priv))
        return traced(__func__, rc);
    unsigned char h[WJ_HASH_MAX_LENGTH];
    unsigned hn = sizeof h;
    int rc = WJ_ECKCDSA_Hash(h, &hn, data->value, data->length, si.hash, ks.params->ec, ks.pub->q);
    if (rc) {
        OSTREL_CORE_FAIL("WJ_ECKCDSA_Hash", rc);
        return OSTREL_FAIL(QRT_CSP_CRYPTO_FAILED);
    }
    return sign_encoded<EckcdsaRecord>(__func__, sig, "WJ_ECKCDSA_Sign", [&](WJ_ECKCDSA_Signature *s) {
        return WJ_ECKCDSA_Sign(s, h, hn, si.hash, ks.priv->x, ks.params->ec);
    });
}

// The branch of each family, under one signature so one table serves both directions.
struct Branch {
    Family family;
    int (*verify)(const BIN *, const BIN *, const BIN *, const SignId &, const ZQ_CSP_SignParam *);
    int (*sign)(BIN *, const BIN *, const BIN *, const SignId &, const ZQ_CSP_SignParam *);
};

constexpr Branch kBranches[] = {
    {kRsaV15, QRT_CSP_RSA_Verify, QRT_CSP_RSA_Sign},       {kRsaPss, QRT_CSP_RSA_Verify, QRT_CSP_RSA_Sign},
    {kDsaSig, QRT_CSP_DSA_Verify, QRT_CSP_DSA_Sign},       {kEcdsaSig, QRT_CSP_ECDSA_Verify, QRT_CSP_ECDSA_Sign},
    {kKcdsaSig, QRT_CSP_KCDSA_Verify, QRT_CSP_KCDSA_Sign}, {kEckcdsaSig, QRT_CSP_ECKCDSA_Verify, QRT_CSP_ECKCDSA_Sign},
};

const Branch *branch_of(Family f) {
    for (const Branch &b : kBranches)
        if (b.family == f) return &b;
    return nullptr;
}

int verify_dispatch(const BIN *sig, const BIN *data, const BIN *pub, const SignId &si, const ZQ_CSP_SignParam *p) {
    const Branch *b = branch_of(si.family);
    return b ? b->verify(sig, data, pub, si, p) : QRT_CSP_UNKNOWN_ID;
}

int sign_dispatch(BIN *sig, const BIN *data, const BIN *priv, const SignId &si, const ZQ_CSP_SignParam *p) {
    const Branch *b = branch_of(si.family);
    return b ? b->sign(sig, data, priv, si, p) : QRT_CSP_UNKNOWN_ID;
}

// The generic key and parameter objects of a message form.
struct MsgKeys {
    WJC_PKEY_PUBLIC_KEY *pub = nullptr;
    WJC_PKEY_PRIVATE_KEY *priv = nullptr;
    WJC_PKEY_PARAMETERS *params = nullptr;
    ~MsgKeys() {
        WJC_PKEY_PublicKey_Free(pub);
        WJC_PKEY_PrivateKey_Free(priv);
        WJC_PKEY_Parameters_Free(params);
    }
};

// Core algorithm, PSS and parameters of a message form; codes for the caller to return.
int msg_setup(const char *fn, const SignId &si, const ZQ_CSP_SignParam *param, int &alg, WJ_PSS_PARAM &pss,
              bool &use_pss, MsgKeys &keys) {
    use_pss = false;
    if (si.family == kRsaV15 || si.family == kRsaPss) {
        alg = WJ_PKEY_RSA;
        if (si.family == kRsaPss) {
            if (int rc = pss_of(param, pss)) return traced(fn, rc);
            use_pss = true;
        }
        return 0;
    }
    if (si.family != kKcdsaSig && si.family != kEckcdsaSig) return OSTREL_FAIL_AS(fn, QRT_CSP_UNKNOWN_ID);
    alg = si.family == kKcdsaSig ? WJ_PKEY_KCDSA : WJ_PKEY_ECKCDSA;
    const BIN *pb = !param ? nullptr : si.family == kKcdsaSig ? param->kcdsa.pkeyParam : param->eckcdsa.pkeyParam;
    if (pb) {
        if (!bin_ok(pb)) return QRT_CSP_INVALID_INPUT;
        if (!(keys.params = WJC_PKEY_Parameters_New())) return OSTREL_FAIL_AS(fn, QRT_CSP_MALLOC_FAILED);
        if (int rc = WJC_PKEY_Parameters_Decode(keys.params, alg, pb->value, pb->length)) {
            OSTREL_CORE_FAIL("WJC_PKEY_Parameters_Decode", rc);
            return OSTREL_FAIL_AS(fn, QRT_CSP_BAD_PARAM);
        }
    }
    return 0;
}

}  // namespace

namespace ostrel::csp {

int verify_by_id(const BIN *sig, const BIN *data, const BIN *pub, int sign_id, const ZQ_CSP_SignParam *param) {
    const SignId *si = find_sign(sign_id);
    return si ? verify_dispatch(sig, data, pub, *si, param) : QRT_CSP_UNKNOWN_ID;
}

int sign_by_id(BIN *sig, const BIN *data, const BIN *priv, int sign_id, const ZQ_CSP_SignParam *param) {
    const SignId *si = find_sign(sign_id);
    return si ? sign_dispatch(sig, data, priv, *si, param) : QRT_CSP_UNKNOWN_ID;
}

}  // namespace ostrel::csp

extern "C" {

QRT_API int QRT_CSP_VerifySignature(const BIN *signature, const BIN *data, const BIN *publicKey, int signID,
                                    ZQ_CSP_SignParam *param) {
    const char *const fn_ = __func__;
    if (!bin_ok(signature) || !bin_ok(data) || !bin_ok(publicKey)) return QRT_CSP_INVALID_INPUT;
    return OSTREL_GUARD([&] {
        const SignId *si = find_sign(signID);
        if (!si) return OSTREL_FAIL_AS(fn_, QRT_CSP_UNKNOWN_ID);
        int rc = verify_dispatch(signature, data, publicKey, *si, param);
        return traced(fn_, rc);
    });
}

QRT_API int QRT_CSP_ComputeSignature(BIN *signature, const BIN *data, const BIN *privateKey, int signID,
                                     ZQ_CSP_SignParam *param) {
    const char *const fn_ = __func__;
    if (!signature || !bin_ok(data) || !bin_ok(privateKey)) return QRT_CSP_INVALID_INPUT;
    *signature = BIN{0, nullptr};
    return OSTREL_GUARD([&] {
        const SignId *si = find_sign(signID);
        if (!si) return OSTREL_FAIL_AS(fn_, QRT_CSP_UNKNOWN_ID);
        int rc = sign_dispatch(signature, data, privateKey, *si, param);
        if (rc) QRT_BIN_Reset(signature);
        return traced(fn_, rc);
    });
}

QRT_API int QRT_CSP_VerifyMsgSignature(const BIN *signature, const BIN *message, const BIN *publicKey, int signID,
                                       ZQ_CSP_SignParam *param) {
    static const char *fn = "QRT_CSP_VerifySignature";
    if (!bin_ok(signature) || !bin_ok(message) || !bin_ok(publicKey) || !publicKey->value) return QRT_CSP_INVALID_INPUT;
    if (int rc = state_gate()) return OSTREL_FAIL_AS(fn, rc);
    return OSTREL_GUARD_AS(fn, [&] {
        const SignId *si = find_sign(signID);
        if (!si || !si->core_msg) return OSTREL_FAIL_AS(fn, QRT_CSP_UNKNOWN_ID);
        int alg = 0;
        WJ_PSS_PARAM pss{};
        bool use_pss = false;
        MsgKeys keys;
        if (int rc = msg_setup(fn, *si, param, alg, pss, use_pss, keys)) return rc;
        // The key object comes from this thread's cache: decoding an RSA key costs more than
        // the check itself.
        int rc = 0;
        std::shared_ptr<const WJC_PKEY_PUBLIC_KEY> pub = generic_public_key(alg, publicKey, rc);
        if (!pub) {
            if (rc == WJ_ERR_MEMORY) return OSTREL_FAIL_AS(fn, QRT_CSP_MALLOC_FAILED);
            OSTREL_CORE_FAIL("WJC_PKEY_PublicKey_FromBinary", rc);
            return OSTREL_FAIL_AS(fn, QRT_CSP_BAD_PUBKEY);
        }
        rc = WJC_PKEY_Verify(signature->value, signature->length, si->hash == -1, message->value, message->length,
                             si->core_msg, pub.get(), keys.params, use_pss ? &pss : nullptr);
        if (rc) {
            int mismatch = alg == WJ_PKEY_RSA     ? WJ_ERR_RSA_VERIFY
                           : alg == WJ_PKEY_KCDSA ? WJ_ERR_KCDSA_VERIFY
                                                  : WJ_ERR_ECKCDSA_VERIFY;
            return OSTREL_FAIL_AS(fn, verify_code("WJC_PKEY_Verify", rc, mismatch));
        }
        return 0;
    });
}

QRT_API int QRT_CSP_ComputeMsgSignature(BIN *signature, const BIN *message, const BIN *privateKey, int signID,
                                        ZQ_CSP_SignParam *param) {
    static const char *fn = "QRT_CSP_ComputeSignature";
    if (!signature || !bin_ok(message) || !bin_ok(privateKey) || !privateKey->value) return QRT_CSP_INVALID_INPUT;
    *signature = BIN{0, nullptr};
    if (int rc = state_gate()) return OSTREL_FAIL_AS(fn, rc);
    return OSTREL_GUARD_AS(fn, [&] {
        const SignId *si = find_sign(signID);
        if (!si || !si->core_msg) return OSTREL_FAIL_AS(fn, QRT_CSP_UNKNOWN_ID);
        int alg = 0;
        WJ_PSS_PARAM pss{};
        bool use_pss = false;
        MsgKeys keys;
        if (int rc = msg_setup(fn, *si, param, alg, pss, use_pss, keys)) return rc;
        if (!(keys.priv = WJC_PKEY_PrivateKey_New())) return OSTREL_FAIL_AS(fn, QRT_CSP_MALLOC_FAILED);
        if (int rc = WJC_PKEY_PrivateKey_FromBinary(keys.priv, alg, privateKey->value, privateKey->length)) {
            OSTREL_CORE_FAIL("WJC_PKEY_PrivateKey_FromBinary", rc);
            return OSTREL_FAIL_AS(fn, QRT_CSP_BAD_PRIVKEY);
        }
        // 1024 bytes, or the modulus length of a larger RSA key.
        unsigned room = 1024;
        if (const WJ_RSA_PrivateKey *rsa = WJC_PKEY_PrivateKey_GetRSA(keys.priv))
            room = std::max(room, WJ_BigInt_GetByteLength(rsa->n));
        if (int rc = QRT_CSP_BIN_Resize(signature, room)) return OSTREL_FAIL_AS(fn, rc);
        int rc = WJC_PKEY_Sign(signature->value, &room, si->hash == -1, message->value, message->length, si->core_msg,
                               keys.priv, keys.params, use_pss ? &pss : nullptr);
        if (rc) {
            QRT_BIN_Reset(signature);
            OSTREL_CORE_FAIL("WJC_PKEY_Sign", rc);
            return OSTREL_FAIL_AS(fn, QRT_CSP_CRYPTO_FAILED);
        }
        signature->length = room;
        return 0;
    });
}

}  // extern "C"
