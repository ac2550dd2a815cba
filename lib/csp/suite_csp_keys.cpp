// The provider's decoded key objects and the per-thread cache of the keys a thread decoded last
// (so a caller passing the same key bytes again reuses the core's prepared objects), with the
// small helpers the public-key modules share.
#include <cstring>
#include <type_traits>
#include <vector>

#include "csp_pkey.hpp"
#include "ostrel/owners.hpp"

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
thread_local Recent<WJC_PKEY_PUBLIC_KEY> t_generic_pubs;
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

std::shared_ptr<const WJC_PKEY_PUBLIC_KEY> generic_public_key(int core_alg, const BIN *pub, int &core_rc) {
    core_rc = 0;
    SecBytes key = cache_key(core_alg, {pub});
    if (auto hit = t_generic_pubs.find(key)) return hit;
    WJC_PKEY_PUBLIC_KEY *k = WJC_PKEY_PublicKey_New();
    if (!k) {
        core_rc = WJ_ERR_MEMORY;
        return nullptr;
    }
    std::shared_ptr<const WJC_PKEY_PUBLIC_KEY> owned(k, [](const WJC_PKEY_PUBLIC_KEY *p) {
        WJC_PKEY_PublicKey_Free(const_cast<WJC_PKEY_PUBLIC_KEY *>(p));
    });
    if ((core_rc = WJC_PKEY_PublicKey_FromBinary(k, core_alg, pub->value, pub->length))) return nullptr;
    t_generic_pubs.put(std::move(key), owned);
    return owned;
}

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

void kcdsa_z64(const WJ_BigInt *y, unsigned char z[64]) {
    std::memset(z, 0, 64);
    for (unsigned i = 0; i < 16 && i < y->Length; ++i)
        for (unsigned b = 0; b < 4; ++b) z[63 - 4 * i - b] = static_cast<unsigned char>(y->Data[i] >> (8 * b));
}

bool bigint_zero(const WJ_BigInt *a) {
    for (unsigned i = 0; i < a->Length; ++i)
        if (a->Data[i]) return false;
    return true;
}

}  // namespace ostrel::csp
