// Public-key operations of the provider: key decoding per algorithm (with the per-thread cache of
// decoded keys), key lengths, the KCDSA Z value, RSA encryption, key and parameter generation,
// key-pair proof, Diffie-Hellman, the key-form copies and the DER and big-integer routines.
#include <cstring>
#include <type_traits>
#include <vector>

#include "csp_pkey.hpp"
#include "ostrel/tlv.hpp"
#include "ostrel/owners.hpp"
#include "ostrel/reader.hpp"

using namespace ostrel;
using namespace ostrel::csp;

namespace ostrel::csp {

ParamObj::~ParamObj() {
    WJ_DH_Parameters_Free(dl);  // the three discrete-log records are one type
    WJ_ECDSA_Parameters_Free(ec);
}
PubObj::~PubObj() {
    WJ_RSA_PublicKey_Free(rsa);
    WJ_BigInt_Free(y);
    WJ_EC_Point_Free(q);
}
PrivObj::~PrivObj() {
    WJ_RSA_PrivateKey_Free(rsa);
    WJ_BigInt_Free(x);
}

int core_pkey_id(int pkey_id) {
    switch (pkey_id) {
        case kRsa:
            return WJ_PKEY_RSA;
        case kDh:
            return WJ_PKEY_DH;
        case kDsa:
            return WJ_PKEY_DSA;
        case kKcdsa:
            return WJ_PKEY_KCDSA;
        case kEcdsa:
            return WJ_PKEY_ECDSA;
        case kEckcdsa:
            return WJ_PKEY_ECKCDSA;
        default:
            return 0;
    }
}

int pss_hash(int hash_id, bool pss) {
    switch (hash_id) {
        case 1:
            return WJ_HASH_MD2;
        case 2:
            return WJ_HASH_MD5;
        case 3:
            return WJ_HASH_SHA1;
        case 6:
            return WJ_HASH_SHA256;
        case 7:
            return WJ_HASH_SHA384;
        case 8:
            return WJ_HASH_SHA512;
        case 9:
            return pss ? WJ_HASH_SHA224 : 0;
        default:
            return 0;
    }
}

WJ_BigInt *der_integer(const BIN *in, int *core_rc) {
    *core_rc = WJ_ERR_BAD_ARGUMENT;
    if (!in || !in->value) return nullptr;
    WJ_BigInt *a = WJ_BigInt_New(1);
    if (!a) {
        *core_rc = WJ_ERR_MEMORY;
        return nullptr;
    }
    if ((*core_rc = WJ_BigInt_DerDecode(a, in->value, in->length)) != 0) {
        WJ_BigInt_Free(a);
        return nullptr;
    }
    return a;
}

int set_bin(BIN *out, const unsigned char *data, unsigned n) {
    auto *p = static_cast<unsigned char *>(QRT_malloc(n ? n : 1));
    if (!p) return QRT_CSP_MALLOC_FAILED;
    if (n) std::memcpy(p, data, n);
    *out = BIN{n, p};
    return 0;
}

}  // namespace ostrel::csp

namespace {

// The last few objects this thread decoded, by the bytes they came from (most recent last).
template <class T>
class Recent {
  public:
    std::shared_ptr<const T> find(const SecBytes &key) {
        for (size_t i = items_.size(); i-- > 0;) {
            const Item &it = items_[i];
            if (it.key.size() == key.size() && ct_equal(it.key.data(), key.data(), static_cast<unsigned>(key.size()))) {
                std::shared_ptr<const T> v = it.value;
                if (i + 1 != items_.size()) {
                    Item moved = std::move(items_[i]);
                    items_.erase(items_.begin() + static_cast<long>(i));
                    items_.push_back(std::move(moved));
                }
                return v;
            }
        }
        return nullptr;
    }
    void put(SecBytes key, std::shared_ptr<const T> value) {
        if (items_.size() >= kMax) items_.erase(items_.begin());
        items_.push_back(Item{std::move(key), std::move(value)});
    }

  private:
    static constexpr size_t kMax = 8;
    struct Item {
        SecBytes key;
        std::shared_ptr<const T> value;
    };
    std::vector<Item> items_;
};

thread_local Recent<ParamObj> t_params;
thread_local Recent<PubObj> t_pubs;
thread_local Recent<PrivObj> t_privs;

// alg, then each part with its length.
SecBytes cache_key(int alg, std::initializer_list<const BIN *> parts) {
    SecBytes k;
    k.push_back(static_cast<unsigned char>(alg));
    for (const BIN *b : parts) {
        unsigned n = b ? b->length : 0;
        for (int s = 24; s >= 0; s -= 8) k.push_back(static_cast<unsigned char>(n >> s));
        if (n) k.insert(k.end(), b->value, b->value + n);
    }
    return k;
}

struct Names {
    const char *decode, *params, *pub;
};
Names names_of(int id) {
    switch (id) {
        case kRsa:
            return {"QRT_CSP_RSAKey_Decode", "", "WJ_PKCS1_PublicKey_Decode"};
        case kDh:
            return {"QRT_CSP_DHKey_Decode", "WJ_DH_Parameters_Decode", "WJ_BigInt_DerDecode"};
        case kDsa:
            return {"QRT_CSP_DSAKey_Decode", "WJ_DSA_Parameters_Decode", "WJ_BigInt_DerDecode"};
        case kKcdsa:
            return {"QRT_CSP_KCDSAKey_Decode", "WJ_KCDSA_Parameters_Decode", "WJ_BigInt_DerDecode"};
        case kEcdsa:
            return {"QRT_CSP_ECDSAKey_Decode", "WJ_ECDSA_Parameters_Decode", "WJ_ECDSA_PublicKey_Decode"};
        default:
            return {"QRT_CSP_ECKCDSAKey_Decode", "WJ_ECKCDSA_Parameters_Decode", "WJ_ECKCDSA_PublicKey_Decode"};
    }
}

bool bin_ok(const BIN *b) { return b && (b->value || b->length == 0); }

int decode_params(int id, const BIN *param, std::shared_ptr<const ParamObj> &out, const Names &nm) {
    SecBytes key = cache_key(id, {param});
    if ((out = t_params.find(key))) return 0;
    auto p = std::make_shared<ParamObj>();
    p->alg = id;
    int rc;
    if (id == kEcdsa || id == kEckcdsa) {
        if (!(p->ec = WJ_ECDSA_Parameters_New())) return OSTREL_PK_FAIL_AS(nm.decode, QRT_CSP_MALLOC_FAILED);
        rc = WJ_ECDSA_Parameters_Decode(p->ec, param->value, param->length);
    } else {
        if (!(p->dl = WJ_DSA_Parameters_New())) return OSTREL_PK_FAIL_AS(nm.decode, QRT_CSP_MALLOC_FAILED);
        rc = id == kDh    ? WJ_DH_Parameters_Decode(p->dl, param->value, param->length)
             : id == kDsa ? WJ_DSA_Parameters_Decode(p->dl, param->value, param->length)
                          : WJ_KCDSA_Parameters_Decode(p->dl, param->value, param->length);
    }
    if (rc) {
        OSTREL_CORE_FAIL(nm.params, rc);
        return OSTREL_PK_FAIL_AS(nm.decode, rc == WJ_ERR_MEMORY ? QRT_CSP_MALLOC_FAILED : QRT_CSP_BAD_PARAM);
    }
    out = p;
    t_params.put(std::move(key), p);
    return 0;
}

}  // namespace

namespace ostrel::csp {

int decode_keys(int id, KeySet &ks, const BIN *param, const BIN *pub, const BIN *priv) {
    Names nm = names_of(id);
    if (!core_pkey_id(id)) return OSTREL_PK_FAIL_AS(nm.decode, QRT_CSP_UNKNOWN_ID);
    if ((id != kRsa && !param) || (param && !bin_ok(param)) || (pub && !bin_ok(pub)) || (priv && !bin_ok(priv)))
        return QRT_CSP_INVALID_INPUT;
    if (id != kRsa) {
        if (int rc = decode_params(id, param, ks.params, nm)) return rc;
    }
    if (pub) {
        SecBytes key = cache_key(id, {id == kRsa ? nullptr : param, pub});
        if (!(ks.pub = t_pubs.find(key))) {
            auto p = std::make_shared<PubObj>();
            int rc = 0;
            if (id == kRsa) {
                if (!(p->rsa = WJ_RSA_PublicKey_New())) return OSTREL_PK_FAIL_AS(nm.decode, QRT_CSP_MALLOC_FAILED);
                rc = WJ_PKCS1_PublicKey_Decode(p->rsa, pub->value, pub->length);
            } else if (ks.params->ec) {
                if (!(p->q = WJ_EC_Point_New(ks.params->ec)))
                    return OSTREL_PK_FAIL_AS(nm.decode, QRT_CSP_MALLOC_FAILED);
                rc = WJ_ECDSA_PublicKey_Decode(p->q, pub->value, pub->length, ks.params->ec);
            } else {
                p->y = der_integer(pub, &rc);
            }
            if (rc) {
                OSTREL_CORE_FAIL(nm.pub, rc);
                return OSTREL_PK_FAIL_AS(nm.decode, rc == WJ_ERR_MEMORY ? QRT_CSP_MALLOC_FAILED : QRT_CSP_BAD_PUBKEY);
            }
            ks.pub = p;
            t_pubs.put(std::move(key), p);
        }
    }
    if (priv) {
        auto p = std::make_shared<PrivObj>();
        int rc = 0;
        if (id == kRsa) {
            // RSA private keys are cached too: building the key object costs more than a signature
            // check with the public key.
            SecBytes key = cache_key(id, {priv});
            if ((ks.priv = t_privs.find(key))) return 0;
            if (!(p->rsa = WJ_RSA_PrivateKey_New())) return OSTREL_PK_FAIL_AS(nm.decode, QRT_CSP_MALLOC_FAILED);
            rc = WJ_PKCS1_PrivateKey_Decode(p->rsa, priv->value, priv->length);
            if (!rc) t_privs.put(std::move(key), p);
        } else {
            p->x = der_integer(priv, &rc);
        }
        if (rc) {
            OSTREL_CORE_FAIL(id == kRsa ? "WJ_PKCS1_PrivateKey_Decode" : "WJ_BigInt_DerDecode", rc);
            return OSTREL_PK_FAIL_AS(nm.decode, rc == WJ_ERR_MEMORY ? QRT_CSP_MALLOC_FAILED : QRT_CSP_BAD_PRIVKEY);
        }
        ks.priv = p;
    }
    return 0;
}

}  // namespace ostrel::csp

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

// Reduced y of the KCDSA Z forms: the 16 least significant words as 64 big-endian bytes.
void z_block(const WJ_BigInt *y, unsigned char z[64]) {
    std::memset(z, 0, 64);
    for (unsigned i = 0; i < 16 && i < y->Length; ++i)
        for (unsigned b = 0; b < 4; ++b) z[63 - 4 * i - b] = static_cast<unsigned char>(y->Data[i] >> (8 * b));
}

}  // namespace

namespace ostrel::csp {

int output_of(BIN *out, const std::function<int(unsigned char *, unsigned *)> &write, const char *core_fn) {
    unsigned n = 0;
    int rc = write(nullptr, &n);
    if (!rc) {
        if (int r2 = QRT_CSP_BIN_Resize(out, n)) return r2;
        rc = write(out->value, &n);
        if (!rc) out->length = n;
    }
    if (rc) {
        QRT_BIN_Reset(out);
        OSTREL_CORE_FAIL(core_fn, rc);
    }
    return rc;
}

void kcdsa_z64(const WJ_BigInt *y, unsigned char z[64]) { z_block(y, z); }

bool bigint_zero(const WJ_BigInt *a) {
    for (unsigned i = 0; i < a->Length; ++i)
        if (a->Data[i]) return false;
    return true;
}

}  // namespace ostrel::csp

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
        z_block(ks.pub->y, block);
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

namespace {

struct PrivDel {
    void operator()(WJC_PKEY_PRIVATE_KEY *k) const { WJC_PKEY_PrivateKey_Free(k); }
};
struct PubDel {
    void operator()(WJC_PKEY_PUBLIC_KEY *k) const { WJC_PKEY_PublicKey_Free(k); }
};
struct ParamsDel {
    void operator()(WJC_PKEY_PARAMETERS *p) const { WJC_PKEY_Parameters_Free(p); }
};
using GenericPriv = std::unique_ptr<WJC_PKEY_PRIVATE_KEY, PrivDel>;
using GenericPub = std::unique_ptr<WJC_PKEY_PUBLIC_KEY, PubDel>;
using GenericParams = std::unique_ptr<WJC_PKEY_PARAMETERS, ParamsDel>;

// OAEP parameters in the core's terms; 6001 or 6010 when they cannot be.
int oaep_of(const ZQ_CSP_PEncParam *param, WJ_OAEP_PARAM &out) {
    if (!param) return QRT_CSP_INVALID_INPUT;
    int hash = pss_hash(param->rsa_oaep.hashID, false);
    if (!hash || param->rsa_oaep.mgfID != 1 || param->rsa_oaep.sourceID != 1) return QRT_CSP_UNKNOWN_ID;
    const BIN *src = param->rsa_oaep.source;
    if (src && src->length && !src->value) return QRT_CSP_INVALID_INPUT;
    out = WJ_OAEP_PARAM{hash, WJ_MGF1_SAME_HASH, src ? src->value : nullptr, src ? src->length : 0};
    return 0;
}

// The parameter BIN of a key-generation parameter, by algorithm.
const BIN *gen_param_bin(int id, const ZQ_CSP_GenKeyPairParam *p) {
    switch (id) {
        case kDh:
            return p->dh.pkeyParam;
        case kDsa:
            return p->dsa.pkeyParam;
        case kKcdsa:
            return p->kcdsa.pkeyParam;
        case kEcdsa:
            return p->ecdsa.pkeyParam;
        default:
            return p->eckcdsa.pkeyParam;
    }
}

// RSA encryption with a public key or decryption with a private one (v1.5 = 1, OAEP = 5); the
// output is sized to the modulus and released again when the operation fails.
template <bool Private>
int rsa_crypt(const char *fn, BIN *out, const BIN *in, const BIN *key_bin, int encID, ZQ_CSP_PEncParam *param) {
    if (!out || !bin_ok(in) || !bin_ok(key_bin)) return QRT_CSP_INVALID_INPUT;
    *out = BIN{0, nullptr};
    if (int rc = state_gate()) return OSTREL_FAIL_AS(fn, rc);
    return OSTREL_GUARD_AS(fn, [&] {
        int op = encID == 1 ? WJC_PKEY_ENC_V15 : encID == 5 ? WJC_PKEY_ENC_OAEP : 0;
        if (!op) return OSTREL_FAIL_AS(fn, QRT_CSP_UNKNOWN_ID);
        WJ_OAEP_PARAM oaep{};
        if (op == WJC_PKEY_ENC_OAEP)
            if (int rc = oaep_of(param, oaep)) return rc == QRT_CSP_INVALID_INPUT ? rc : OSTREL_FAIL_AS(fn, rc);
        std::conditional_t<Private, GenericPriv, GenericPub> key;
        int rc;
        const char *decoder;
        if constexpr (Private) {
            key.reset(WJC_PKEY_PrivateKey_New());
            decoder = "WJC_PKEY_PrivateKey_FromBinary";
            rc = key ? WJC_PKEY_PrivateKey_FromBinary(key.get(), WJ_PKEY_RSA, key_bin->value, key_bin->length) : 0;
        } else {
            key.reset(WJC_PKEY_PublicKey_New());
            decoder = "WJC_PKEY_PublicKey_FromBinary";
            rc = key ? WJC_PKEY_PublicKey_FromBinary(key.get(), WJ_PKEY_RSA, key_bin->value, key_bin->length) : 0;
        }
        if (!key) return OSTREL_FAIL_AS(fn, QRT_CSP_MALLOC_FAILED);
        if (rc) {
            OSTREL_CORE_FAIL(decoder, rc);
            return OSTREL_FAIL_AS(fn, Private ? QRT_CSP_BAD_PRIVKEY : QRT_CSP_BAD_PUBKEY);
        }
        unsigned room;
        if constexpr (Private)
            room = WJ_BigInt_GetByteLength(WJC_PKEY_PrivateKey_GetRSA(key.get())->n) + 16;
        else
            room = WJ_BigInt_GetByteLength(WJC_PKEY_PublicKey_GetRSA(key.get())->n) + 16;
        if ((rc = QRT_CSP_BIN_Resize(out, room)) != 0) return rc;
        const char *core_fn;
        if constexpr (Private) {
            core_fn = "WJC_PKEY_Decrypt";
            rc = WJC_PKEY_Decrypt(out->value, &room, in->value, in->length, op, &oaep, key.get());
        } else {
            core_fn = "WJC_PKEY_Encrypt";
            rc = WJC_PKEY_Encrypt(out->value, &room, in->value, in->length, op, &oaep, key.get());
        }
        if (rc) {
            QRT_BIN_Reset(out);
            OSTREL_CORE_FAIL(core_fn, rc);
            return OSTREL_FAIL_AS(fn, QRT_CSP_CRYPTO_FAILED);
        }
        out->length = room;
        return 0;
    });
}

}  // namespace

extern "C" {

QRT_API int QRT_CSP_PublicEncrypt(BIN *out, const BIN *in, const BIN *publicKey, int encID, ZQ_CSP_PEncParam *param) {
    return rsa_crypt<false>(__func__, out, in, publicKey, encID, param);
}

QRT_API int QRT_CSP_PrivateDecrypt(BIN *out, const BIN *in, const BIN *privateKey, int encID, ZQ_CSP_PEncParam *param) {
    return rsa_crypt<true>(__func__, out, in, privateKey, encID, param);
}

QRT_API int QRT_CSP_GenerateKeyPair(BIN *privateKey, BIN *publicKey, int pkeyID, ZQ_CSP_GenKeyPairParam *param) {
    const char *const fn_ = __func__;
    if (!privateKey || !publicKey || !param) return QRT_CSP_INVALID_INPUT;
    *privateKey = BIN{0, nullptr};
    *publicKey = BIN{0, nullptr};
    if (int rc = state_gate()) return OSTREL_FAIL_AS(fn_, rc);
    return OSTREL_GUARD([&] {
        int core = core_pkey_id(pkeyID);
        if (!core) return OSTREL_FAIL_AS(fn_, QRT_CSP_UNKNOWN_ID);
        GenericPriv priv(WJC_PKEY_PrivateKey_New());
        GenericPub pub(WJC_PKEY_PublicKey_New());
        GenericParams params(WJC_PKEY_Parameters_New());
        if (!priv || !pub || !params) return OSTREL_FAIL_AS(fn_, QRT_CSP_MALLOC_FAILED);
        int rc;
        if (pkeyID == kRsa) {
            if (param->rsa.keyLength < 0 || param->rsa.e < 0) return QRT_CSP_INVALID_INPUT;
            WJC_PKEY_RSA_GENPARAM rsa{static_cast<unsigned>(param->rsa.keyLength),
                                      static_cast<unsigned long>(param->rsa.e)};
            rc = WJC_PKEY_GenerateKeyPair(priv.get(), pub.get(), core, nullptr, &rsa);
        } else {
            const BIN *pb = gen_param_bin(pkeyID, param);
            if (!bin_ok(pb)) return QRT_CSP_INVALID_INPUT;
            if ((rc = WJC_PKEY_Parameters_Decode(params.get(), core, pb->value, pb->length)) != 0) {
                OSTREL_CORE_FAIL("WJC_PKEY_Parameters_Decode", rc);
                return OSTREL_FAIL_AS(fn_, QRT_CSP_BAD_PARAM);
            }
            rc = WJC_PKEY_GenerateKeyPair(priv.get(), pub.get(), core, params.get(), nullptr);
        }
        if (rc) {
            OSTREL_CORE_FAIL("WJC_PKEY_GenerateKeyPair", rc);
            return OSTREL_FAIL_AS(fn_, rc);  // the core's own code
        }
        // Sized to the encodings (a large RSA private key does not fit a fixed buffer).
        if ((rc = output_of(
                 privateKey,
                 [&](unsigned char *o, unsigned *l) { return WJC_PKEY_PrivateKey_ToBinary(o, l, priv.get()); },
                 "WJC_PKEY_PrivateKey_ToBinary")) ||
            (rc = output_of(
                 publicKey, [&](unsigned char *o, unsigned *l) { return WJC_PKEY_PublicKey_ToBinary(o, l, pub.get()); },
                 "WJC_PKEY_PublicKey_ToBinary"))) {
            QRT_BIN_Reset(privateKey);
            return OSTREL_FAIL_AS(fn_, rc);
        }
        return 0;
    });
}

QRT_API int QRT_CSP_GenerateParam(BIN *param, int pkeyID, ZQ_CSP_GenParamParam *genParam) {
    const char *const fn_ = __func__;
    if (!param || !genParam) return QRT_CSP_INVALID_INPUT;
    *param = BIN{0, nullptr};
    if (int rc = state_gate()) return OSTREL_FAIL_AS(fn_, rc);
    return OSTREL_GUARD([&] {
        WJC_PKEY_GENPARAM gen{};
        int core = core_pkey_id(pkeyID);
        auto bits = [](int v) { return v < 0 ? 0u : static_cast<unsigned>(v); };
        switch (pkeyID) {
            case kDh:
                gen.primeBits = bits(genParam->dh.primeLength);
                gen.subprimeBits = bits(genParam->dh.factorLength);
                break;
            case kDsa:
                gen.primeBits = bits(genParam->dsa.primeLength);
                break;
            case kKcdsa:
                gen.primeBits = bits(genParam->kcdsa.primeLength);
                break;
            case kEcdsa:
                gen.curve = genParam->ecdsa.ncid;
                break;
            case kEckcdsa:
                gen.curve = genParam->eckcdsa.ncid;
                break;
            default:
                return OSTREL_FAIL_AS(fn_, QRT_CSP_UNKNOWN_ID);
        }
        GenericParams params(WJC_PKEY_Parameters_New());
        if (!params) return OSTREL_FAIL_AS(fn_, QRT_CSP_MALLOC_FAILED);
        int rc = WJC_PKEY_GenerateParameters(params.get(), core, &gen);
        if (!rc)
            rc = output_of(
                param, [&](unsigned char *o, unsigned *l) { return WJC_PKEY_Parameters_Encode(o, l, params.get()); },
                "WJC_PKEY_Parameters_Encode");
        else
            OSTREL_CORE_FAIL("WJC_PKEY_GenerateParameters", rc);
        return rc ? OSTREL_FAIL_AS(fn_, rc) : 0;  // the core's own code
    });
}

QRT_API int QRT_CSP_PrivateKey_ToCStr(BIN *out, const WJC_PKEY_PRIVATE_KEY *key) {
    const char *const fn_ = __func__;
    if (!out || !key) return QRT_CSP_INVALID_INPUT;
    *out = BIN{0, nullptr};
    return OSTREL_GUARD([&] {
        int rc = output_of(
            out, [&](unsigned char *o, unsigned *l) { return WJC_PKEY_PrivateKey_ToBinary(o, l, key); },
            "WJC_PKEY_PrivateKey_ToBinary");
        return rc ? OSTREL_FAIL_AS(fn_, rc > 0 ? rc : QRT_CSP_BAD_PRIVKEY) : 0;
    });
}

QRT_API int QRT_CSP_PublicKey_ToCStr(BIN *out, const WJC_PKEY_PUBLIC_KEY *key) {
    const char *const fn_ = __func__;
    if (!out || !key) return QRT_CSP_INVALID_INPUT;
    *out = BIN{0, nullptr};
    return OSTREL_GUARD([&] {
        int rc = output_of(
            out, [&](unsigned char *o, unsigned *l) { return WJC_PKEY_PublicKey_ToBinary(o, l, key); },
            "WJC_PKEY_PublicKey_ToBinary");
        return rc ? OSTREL_FAIL_AS(fn_, rc > 0 ? rc : QRT_CSP_BAD_PUBKEY) : 0;
    });
}

QRT_API int QRT_CSP_PrivateKey_FromCStr(WJC_PKEY_PRIVATE_KEY *key, int pkeyID, const BIN *in) {
    const char *const fn_ = __func__;
    if (!key || !in || !in->value) return QRT_CSP_INVALID_INPUT;
    int core = core_pkey_id(pkeyID);
    if (!core) return OSTREL_FAIL_AS(fn_, QRT_CSP_UNKNOWN_ID);
    if (int rc = WJC_PKEY_PrivateKey_FromBinary(key, core, in->value, in->length)) {
        OSTREL_CORE_FAIL("WJC_PKEY_PrivateKey_FromBinary", rc);
        return OSTREL_FAIL_AS(fn_, QRT_CSP_BAD_PRIVKEY);
    }
    return 0;
}

QRT_API int QRT_CSP_PublicKey_FromCStr(WJC_PKEY_PUBLIC_KEY *key, int pkeyID, const BIN *in) {
    const char *const fn_ = __func__;
    if (!key || !in || !in->value) return QRT_CSP_INVALID_INPUT;
    int core = core_pkey_id(pkeyID);
    if (!core) return OSTREL_FAIL_AS(fn_, QRT_CSP_UNKNOWN_ID);
    if (int rc = WJC_PKEY_PublicKey_FromBinary(key, core, in->value, in->length)) {
        OSTREL_CORE_FAIL("WJC_PKEY_PublicKey_FromBinary", rc);
        return OSTREL_FAIL_AS(fn_, QRT_CSP_BAD_PUBKEY);
    }
    return 0;
}

QRT_API int QRT_CSP_SecretKey_FromCStr(WJ_SECRET_KEY *key, int cipherID, const BIN *in) {
    const char *const fn_ = __func__;
    if (!key || !bin_ok(in)) return QRT_CSP_INVALID_INPUT;
    int core = 0;
    if (int rc = conv_cipher_id(cipherID, &core)) return OSTREL_FAIL_AS(fn_, rc);
    if (in->length > WJ_SECRET_KEY_MAX) return OSTREL_FAIL_AS(fn_, QRT_CSP_INVALID_KEY_LENGTH);
    if (int rc = WJC_SKEY_SecretKey_FromBinary(key, core, in->value, in->length)) {
        OSTREL_CORE_FAIL("WJC_SKEY_SecretKey_FromBinary", rc);
        return OSTREL_FAIL_AS(fn_, QRT_CSP_CRYPTO_FAILED);
    }
    return 0;
}

// The outer SEQUENCE must be one whose length fits the input (else -81); what is inside is the
// core's to judge, with a malformed inside always -80.
static int outer_sequence(const BIN *in) {
    Reader r(in->value, in->length);
    tlv::Header h;
    if (!tlv::next_is(r, tlv::kSequence) || tlv::read_header(r, tlv::Profile::kBer, h) || h.indefinite)
        return WJ_ERR_SHORT_INPUT;
    return 0;
}

QRT_API int QRT_CSP_PKCS1_PrivateKey_Decode(WJ_RSA_PrivateKey *key, const BIN *in) {
    if (!key || !in || !in->value) return WJ_ERR_BAD_ARGUMENT;
    if (int rc = outer_sequence(in)) return rc;
    int rc = WJ_PKCS1_PrivateKey_Decode(key, in->value, in->length);
    return rc == WJ_ERR_SHORT_INPUT ? WJ_ERR_BAD_DER : rc;
}

QRT_API int QRT_CSP_PKCS1_PublicKey_Decode(WJ_RSA_PublicKey *key, const BIN *in) {
    if (!key || !in || !in->value) return WJ_ERR_BAD_ARGUMENT;
    if (int rc = outer_sequence(in)) return rc;
    int rc = WJ_PKCS1_PublicKey_Decode(key, in->value, in->length);
    return rc == WJ_ERR_SHORT_INPUT ? WJ_ERR_BAD_DER : rc;
}

QRT_API int QRT_CSP_BigInt_DerDecode(WJ_BigInt *a, const BIN *in) {
    if (!a || !in || !in->value) return WJ_ERR_BAD_ARGUMENT;
    return WJ_BigInt_DerDecode(a, in->value, in->length);
}

QRT_API int QRT_CSP_BigInt_BytesToInt(WJ_BigInt *a, const BIN *in) {
    if (!a || !bin_ok(in)) return WJ_ERR_BAD_ARGUMENT;
    return WJ_BigInt_BytesToInt(a, in->value, in->length);
}

QRT_API int QRT_CSP_BigInt_GetByteLength(const WJ_BigInt *a) { return static_cast<int>(WJ_BigInt_GetByteLength(a)); }
QRT_API WJ_BigInt *QRT_CSP_BigInt_New(unsigned int words) { return WJ_BigInt_New(words); }
QRT_API void QRT_CSP_BigInt_Free(WJ_BigInt *a) { WJ_BigInt_Free(a); }
QRT_API int QRT_CSP_BigInt_Realloc(WJ_BigInt *a, unsigned int words) { return WJ_BigInt_Realloc(a, words); }
QRT_API int QRT_CSP_BigInt_Reset(WJ_BigInt *a) { return WJ_BigInt_Reset(a); }

}  // extern "C"
