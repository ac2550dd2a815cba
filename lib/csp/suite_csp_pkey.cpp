// Public-key operations on decoded keys: key lengths, the KCDSA Z value, key-pair proof and
// Diffie-Hellman key derivation.
#include <cstring>
#include <type_traits>
#include <vector>

#include "csp_pkey.hpp"

using namespace ostrel;
using namespace ostrel::csp;

namespace {

// Temporaries from a core pool, pushed back (wiped) when the holder ends.
class PoolTemps {
  public:
    PoolTemps() : pool_(WJ_POOL_CTX_New()) {}
    ~PoolTemps() {
        for (WJ_BigInt *a : out_) WJ_POOL_CTX_Push(pool_, a);
        WJ_POOL_CTX_Free(pool_);
    }
    WJ_BigInt *pop(unsigned words) {
        WJ_BigInt *a = pool_ ? WJ_POOL_CTX_Pop(pool_, words) : nullptr;
        if (a) out_.push_back(a);
        return a;
    }

  private:
    WJ_POOL_CTX *pool_;
    std::vector<WJ_BigInt *> out_;
};

// Arithmetic failures of a proof: no inverse means the private value cannot belong to a pair.
int proof_fail(const char *fn, int core_rc) {
    OSTREL_CORE_FAIL(fn, core_rc);
    return core_rc == WJ_ERR_NOT_INVERTIBLE ? QRT_CSP_INVALID_KEYPAIR : QRT_CSP_CRYPTO_FAILED;
}

int prove(int id, const KeySet &ks) {
    PoolTemps tmp;
    if (id == kRsa) {
        const WJ_RSA_PublicKey *pub = ks.pub->rsa;
        const WJ_RSA_PrivateKey *priv = ks.priv->rsa;
        WJ_BigInt *m = tmp.pop(1), *c = tmp.pop(pub->n->Length), *m2 = tmp.pop(priv->n->Length);
        if (!m || !c || !m2) return QRT_CSP_MALLOC_FAILED;
        static const unsigned char k1234[] = {0x04, 0xd2};
        if (WJ_BigInt_BytesToInt(m, k1234, 2)) return QRT_CSP_MALLOC_FAILED;
        if (int rc = WJ_BigInt_ModExp(c, m, pub->e, pub->n)) return proof_fail("WJ_BigInt_ModExp", rc);
        if (int rc = WJ_BigInt_ModExp(m2, c, priv->d, priv->n)) return proof_fail("WJ_BigInt_ModExp", rc);
        return WJ_BigInt_Cmp(m, m2) == 0 ? 0 : QRT_CSP_INVALID_KEYPAIR;
    }
    const WJ_BigInt *x = ks.priv->x;
    if (ks.params->dl) {
        const WJ_DL_Parameters *p = ks.params->dl;
        WJ_BigInt *e = tmp.pop(p->q->Length), *t = tmp.pop(p->p->Length);
        if (!e || !t) return QRT_CSP_MALLOC_FAILED;
        if (id == kKcdsa) {
            if (int rc = WJ_BigInt_ModInverse(e, x, p->q)) return proof_fail("WJ_BigInt_ModInverse", rc);
        } else if (WJ_BigInt_Copy(e, x)) {
            return QRT_CSP_MALLOC_FAILED;
        }
        if (int rc = WJ_BigInt_ModExp(t, p->g, e, p->p)) return proof_fail("WJ_BigInt_ModExp", rc);
        return WJ_BigInt_Cmp(t, ks.pub->y) == 0 ? 0 : QRT_CSP_INVALID_KEYPAIR;
    }
    const WJ_EC_Parameters *ec = ks.params->ec;
    WJ_BigInt *n = tmp.pop(1), *e = tmp.pop(1);
    WJ_EC_POINT *q = WJ_EC_Point_New(ec);
    if (!n || !e || !q) {
        WJ_EC_Point_Free(q);
        return QRT_CSP_MALLOC_FAILED;
    }
    int rc = WJ_EC_OrderOf(n, ec);
    if (!rc) rc = id == kEckcdsa ? WJ_BigInt_ModInverse(e, x, n) : WJ_BigInt_Mod(e, x, n);
    if (!rc && bigint_zero(e)) rc = WJ_ERR_NOT_INVERTIBLE;
    if (!rc) rc = WJ_EC_MulPre(q, e, ec);
    int same = rc ? 1 : WJ_EC_Cmp(q, ks.pub->q, ec);
    WJ_EC_Point_Free(q);
    if (rc) return proof_fail("WJ_EC_MulPre", rc);
    return same == 0 ? 0 : QRT_CSP_INVALID_KEYPAIR;
}

}  // namespace

extern "C" {

QRT_API int QRT_CSP_GetKeyLength(int *length, const BIN *publicKey, int pkeyID, const BIN *param) {
    const char *const fn_ = __func__;
    return OSTREL_GUARD(length && bin_ok(publicKey), [&] {
        switch (pkeyID) {
            case kRsa: {
                KeySet ks;
                if (int rc = decode_keys(kRsa, ks, nullptr, publicKey, nullptr)) return OSTREL_FAIL_AS(fn_, rc);
                *length = static_cast<int>(WJ_BigInt_GetByteLength(ks.pub->rsa->n));
                return 0;
            }
            case kDh:
            case kDsa:
            case kKcdsa: {
                if (!param) return QRT_CSP_INVALID_INPUT;
                int core = 0;
                WJ_BigInt *y = der_integer(publicKey, &core);
                if (!y) {
                    OSTREL_CORE_FAIL("WJ_BigInt_DerDecode", core);
                    return OSTREL_FAIL_AS(fn_, QRT_CSP_BAD_PUBKEY);
                }
                *length = static_cast<int>(WJ_BigInt_GetByteLength(y));
                WJ_BigInt_Free(y);
                return 0;
            }
            case kEcdsa:
            case kEckcdsa: {
                // From the point octets: compressed forms carry one field element, others two.
                if (publicKey->length == 0) return OSTREL_FAIL_AS(fn_, QRT_CSP_BAD_PUBKEY);
                unsigned char first = publicKey->value[0];
                *length = first == 0       ? 0
                          : (first & 0x02) ? static_cast<int>(publicKey->length - 1)
                                           : static_cast<int>((publicKey->length - 1) / 2);
                return 0;
            }
            default:
                return OSTREL_FAIL_AS(fn_, QRT_CSP_UNKNOWN_ID);
        }
    });
}

QRT_API int QRT_CSP_GetKeyLengthEx(int *length, const BIN *privateKey, int pkeyID, const BIN *param) {
    const char *const fn_ = __func__;
    return OSTREL_GUARD(length && bin_ok(privateKey), [&] {
        switch (pkeyID) {
            case kRsa: {
                KeySet ks;
                if (int rc = decode_keys(kRsa, ks, nullptr, nullptr, privateKey)) return OSTREL_FAIL_AS(fn_, rc);
                *length = static_cast<int>(WJ_BigInt_GetByteLength(ks.priv->rsa->n));
                return 0;
            }
            case kDh:
            case kDsa:
            case kKcdsa:
            case kEcdsa:
            case kEckcdsa: {
                bool ec = pkeyID == kEcdsa || pkeyID == kEckcdsa;
                if (!param && !ec) return QRT_CSP_INVALID_INPUT;
                int core = 0;
                WJ_BigInt *x = der_integer(privateKey, &core);
                if (!x) {
                    OSTREL_CORE_FAIL("WJ_BigInt_DerDecode", core);
                    return OSTREL_FAIL_AS(fn_, QRT_CSP_BAD_PRIVKEY);
                }
                *length = static_cast<int>(WJ_BigInt_GetByteLength(x));
                WJ_BigInt_Free(x);
                if (ec && param) {  // the field length of the curve, as for the public point
                    KeySet ks;
                    if (int rc = decode_keys(pkeyID, ks, param, nullptr, nullptr)) return OSTREL_FAIL_AS(fn_, rc);
                    WJ_EC_POINT *g = WJ_EC_Point_New(ks.params->ec);
                    unsigned n = 0;
                    int rc = g ? WJ_EC_GeneratorOf(g, ks.params->ec) : WJ_ERR_MEMORY;
                    if (!rc) rc = WJ_EC_Point_Encode(nullptr, &n, g, 1);
                    WJ_EC_Point_Free(g);
                    if (rc) return OSTREL_FAIL_AS(fn_, QRT_CSP_CRYPTO_FAILED);
                    *length = static_cast<int>(n - 1);
                }
                return 0;
            }
            default:
                return OSTREL_FAIL_AS(fn_, QRT_CSP_UNKNOWN_ID);
        }
    });
}

QRT_API int QRT_CSP_KCDSA_ComputeZ(BIN *z, const BIN *privateKey, const BIN *publicKey, const BIN *param) {
    const char *const fn_ = __func__;
    if (!z || !publicKey || !param) return QRT_CSP_INVALID_INPUT;
    *z = BIN{0, nullptr};
    return OSTREL_GUARD([&] {
        KeySet ks;
        if (int rc = decode_keys(kKcdsa, ks, param, publicKey, privateKey))
            return rc == 6001 ? rc : OSTREL_FAIL_AS(fn_, rc);
        unsigned char block[64];
        kcdsa_z64(ks.pub->y, block);
        if (int rc = set_bin(z, block, 64)) return OSTREL_FAIL_AS(fn_, rc);
        return 0;
    });
}

QRT_API int QRT_CSP_ProveKeyPair(const BIN *privateKey, const BIN *publicKey, int pkeyID, const BIN *param) {
    const char *const fn_ = __func__;
    if (!privateKey || !publicKey) return QRT_CSP_INVALID_INPUT;
    if (pkeyID != kRsa && core_pkey_id(pkeyID) && !param) return QRT_CSP_INVALID_INPUT;
    return OSTREL_GUARD([&] {
        if (!core_pkey_id(pkeyID)) return OSTREL_FAIL_AS(fn_, QRT_CSP_UNKNOWN_ID);
        KeySet ks;
        if (int rc = decode_keys(pkeyID, ks, pkeyID == kRsa ? nullptr : param, publicKey, privateKey))
            return rc == QRT_CSP_INVALID_INPUT ? rc : OSTREL_FAIL_AS(fn_, rc);
        if (int rc = prove(pkeyID, ks)) return OSTREL_FAIL_AS(fn_, rc);
        return 0;
    });
}

QRT_API int QRT_CSP_DeriveKey(BIN *secret, const BIN *privateKey, const BIN *peerPublicKey, int algID,
                              ZQ_CSP_DKeyParam *param) {
    const char *const fn_ = __func__;
    if (!secret || !privateKey || !peerPublicKey) return QRT_CSP_INVALID_INPUT;
    *secret = BIN{0, nullptr};
    return OSTREL_GUARD([&] {
        if (algID != 1) return OSTREL_FAIL_AS(fn_, QRT_CSP_UNKNOWN_ID);
        if (!param || !param->dh.pkeyParam) return QRT_CSP_INVALID_INPUT;
        KeySet ks;
        if (int rc = decode_keys(kDh, ks, param->dh.pkeyParam, peerPublicKey, privateKey))
            return rc == QRT_CSP_INVALID_INPUT ? rc : OSTREL_FAIL_AS(fn_, rc);
        WJ_BigInt *s = WJ_BigInt_New(1);
        if (!s) return OSTREL_FAIL_AS(fn_, QRT_CSP_MALLOC_FAILED);
        int rc = WJ_DH_ComputeSharedSecret(s, ks.params->dl, ks.priv->x, ks.pub->y);
        if (!rc)
            rc = output_of(
                secret, [&](unsigned char *o, unsigned *l) { return WJ_BigInt_IntToBytes(o, l, s); },
                "WJ_BigInt_IntToBytes");
        else
            OSTREL_CORE_FAIL("WJ_DH_ComputeSharedSecret", rc);
        WJ_BigInt_Free(s);
        return rc ? OSTREL_FAIL_AS(fn_, QRT_CSP_CRYPTO_FAILED) : 0;
    });
}

}  // extern "C"
