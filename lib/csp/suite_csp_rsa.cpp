// The older RSA-only forms: PKCS#1 DER keys, PKCS#1 v1.5, their own hash numbering and codes,
// no trace records and no state request of their own.
#include <cstring>

#include "csp_pkey.hpp"
#include "ostrel/owners.hpp"

using namespace ostrel;
using namespace ostrel::csp;

namespace {

struct PubKey {
    WJ_RSA_PublicKey *k = WJ_RSA_PublicKey_New();
    ~PubKey() { WJ_RSA_PublicKey_Free(k); }
};
struct PrivKey {
    WJ_RSA_PrivateKey *k = WJ_RSA_PrivateKey_New();
    ~PrivKey() { WJ_RSA_PrivateKey_Free(k); }
};

bool nonempty(const BIN *b) { return b && b->value && b->length; }

int read_public(const BIN *in, PubKey &key) {
    if (!key.k) return QRT_CSP_MALLOC_FAILED;
    return WJ_PKCS1_PublicKey_Decode(key.k, in->value, in->length) ? QRT_CSP_DECODE_RSAKEY_FAILED : 0;
}

int read_private(const BIN *in, PrivKey &key) {
    if (!key.k) return QRT_CSP_MALLOC_FAILED;
    return WJ_PKCS1_PrivateKey_Decode(key.k, in->value, in->length) ? QRT_CSP_DECODE_RSAKEY_FAILED : 0;
}

unsigned modulus(const WJ_BigInt *n) { return WJ_BigInt_GetByteLength(n); }

// alg of the older signature forms -> core hash; 0 when unknown.
int old_hash(int alg) {
    switch (alg) {
        case 0:
            return WJ_HASH_MD2;
        case 1:
            return WJ_HASH_MD5;
        case 2:
            return WJ_HASH_SHA1;
        case 4:
            return WJ_HASH_SHA256;
        case 5:
            return WJ_HASH_SHA384;
        case 6:
            return WJ_HASH_SHA512;
        default:
            return 0;
    }
}

// Runs a core call that writes at most `room` bytes into out (sized first, trimmed after).
template <class F>
int into(BIN *out, unsigned room, int fail, F call) {
    if (QRT_CSP_BIN_Resize(out, room)) return QRT_CSP_MALLOC_FAILED;
    unsigned n = room;
    if (call(out->value, &n) != 0) {
        QRT_BIN_Reset(out);
        return fail;
    }
    out->length = n;
    return 0;
}

}  // namespace

extern "C" {

QRT_API int QRT_PublicEncryptBin(const BIN *pubKey, const BIN *in, BIN *out) {
    if (!nonempty(pubKey) || !in || (in->length && !in->value) || !out) return QRT_CSP_INVALID_INPUT;
    *out = BIN{0, nullptr};
    return OSTREL_OLD_FORM_GUARD([&] {
        PubKey key;
        if (int rc = read_public(pubKey, key)) return rc;
        return into(out, modulus(key.k->n), QRT_CSP_RSA_ENCRYPT_FAILED, [&](unsigned char *o, unsigned *n) {
            return WJ_PKCS1_V15_Encrypt(o, n, in->value, in->length, key.k);
        });
    });
}

QRT_API int QRT_PrivateDecryptBin(const BIN *privKey, const BIN *in, BIN *out) {
    if (!nonempty(privKey) || !nonempty(in) || !out) return QRT_CSP_INVALID_INPUT;
    *out = BIN{0, nullptr};
    return OSTREL_OLD_FORM_GUARD([&] {
        PrivKey key;
        if (int rc = read_private(privKey, key)) return rc;
        return into(out, modulus(key.k->n), QRT_CSP_RSA_DECRYPT_FAILED, [&](unsigned char *o, unsigned *n) {
            return WJ_PKCS1_V15_Decrypt(o, n, in->value, in->length, key.k);
        });
    });
}

QRT_API int QRT_GenSignatureBin(const BIN *privKey, int alg, const BIN *data, BIN *out) {
    if (!nonempty(privKey) || !data || (data->length && !data->value) || !out) return QRT_CSP_INVALID_INPUT;
    *out = BIN{0, nullptr};
    int hash = old_hash(alg);
    if (!hash) return QRT_CSP_UNKNOWN_ID;
    return OSTREL_OLD_FORM_GUARD([&] {
        unsigned char md[WJ_HASH_MAX_LENGTH];
        unsigned mn = 0;
        if (WJ_Hash(md, &mn, data->value, data->length, hash)) return QRT_CSP_INTERNAL;
        // The key is decoded through the provider's per-thread cache.
        KeySet ks;
        if (decode_keys(kRsa, ks, nullptr, nullptr, privKey)) return QRT_CSP_DECODE_RSAKEY_FAILED;
        return into(out, modulus(ks.priv->rsa->n), QRT_CSP_RSA_SIGN_FAILED,
                    [&](unsigned char *o, unsigned *n) { return WJ_PKCS1_V15_Sign(o, n, hash, md, mn, ks.priv->rsa); });
    });
}

QRT_API int QRT_VerifySignBin(const BIN *pubKey, int alg, const BIN *data, const BIN *signature) {
    if (!nonempty(pubKey) || !data || (data->length && !data->value) || !nonempty(signature)) return QRT_CSP_INVALID_INPUT;
    int hash = old_hash(alg);
    if (!hash) return QRT_CSP_UNKNOWN_ID;
    return OSTREL_OLD_FORM_GUARD([&] {
        unsigned char md[WJ_HASH_MAX_LENGTH];
        unsigned mn = 0;
        if (WJ_Hash(md, &mn, data->value, data->length, hash)) return QRT_CSP_INTERNAL;
        KeySet ks;
        if (decode_keys(kRsa, ks, nullptr, pubKey, nullptr)) return QRT_CSP_DECODE_RSAKEY_FAILED;
        int rc = WJ_PKCS1_V15_Verify(signature->value, signature->length, hash, md, mn, ks.pub->rsa);
        return rc == 0 ? 0 : rc == WJ_ERR_RSA_VERIFY ? QRT_CSP_INVALID_SIGNATURE : QRT_CSP_RSA_VERIFY_FAILED;
    });
}

QRT_API int QRT_GenerateKeyPairBin(int unused, int bits, BIN *pub, BIN *priv) {
    (void)unused;
    if (!pub || !priv) return QRT_CSP_INVALID_INPUT;
    *pub = BIN{0, nullptr};
    *priv = BIN{0, nullptr};
    if (bits < 512) bits = 512;
    if (bits > 8192) bits = 8192;
    return OSTREL_OLD_FORM_GUARD([&] {
        PrivKey key;
        PubKey pk;
        if (!key.k || !pk.k) return QRT_CSP_MALLOC_FAILED;
        if (WJ_RSA_GenerateKey(key.k, pk.k, static_cast<unsigned>(bits + 7) / 8, 0))
            return QRT_CSP_GENERATE_RSAKEY_FAILED;
        unsigned pn = 0, sn = 0;
        if (WJ_PKCS1_PublicKey_Encode(nullptr, &pn, pk.k) || WJ_PKCS1_PrivateKey_Encode(nullptr, &sn, key.k))
            return QRT_CSP_ENCODE_RSAKEY_FAILED;
        // Encoded into a work buffer that is wiped afterwards.
        SecBytes work(pn + sn);
        if (WJ_PKCS1_PublicKey_Encode(work.data(), &pn, pk.k) ||
            WJ_PKCS1_PrivateKey_Encode(work.data() + pn, &sn, key.k))
            return QRT_CSP_ENCODE_RSAKEY_FAILED;
        if (set_bin(pub, work.data(), pn) || set_bin(priv, work.data() + pn, sn)) {
            QRT_BIN_Reset(pub);
            return QRT_CSP_MALLOC_FAILED;
        }
        return 0;
    });
}

QRT_API int QRT_ProveRSAKeyPairBin(const BIN *privKey, const BIN *pubKey) {
    if (!nonempty(privKey) || !nonempty(pubKey)) return QRT_CSP_INVALID_INPUT;
    return OSTREL_OLD_FORM_GUARD([&] {
        PrivKey key;
        PubKey pk;
        if (int rc = read_private(privKey, key)) return rc;
        if (int rc = read_public(pubKey, pk)) return rc;
        unsigned char probe[20];
        std::memset(probe, 0x01, sizeof probe);
        SecBytes ct(modulus(pk.k->n)), back(modulus(key.k->n) + 1);
        unsigned cn = static_cast<unsigned>(ct.size()), bn = static_cast<unsigned>(back.size());
        if (WJ_PKCS1_V15_Encrypt(ct.data(), &cn, probe, sizeof probe, pk.k)) return QRT_CSP_RSA_ENCRYPT_FAILED;
        if (WJ_PKCS1_V15_Decrypt(back.data(), &bn, ct.data(), cn, key.k) || bn != sizeof probe ||
            std::memcmp(back.data(), probe, sizeof probe) != 0)
            return QRT_CSP_INVALID_KEYPAIR;
        return 0;
    });
}

QRT_API int QRT_GetRSAKeyLength(const BIN *pubKey, int *bytes) {
    if (!nonempty(pubKey) || !bytes) return QRT_CSP_INVALID_INPUT;
    return OSTREL_OLD_FORM_GUARD([&] {
        PubKey key;
        if (int rc = read_public(pubKey, key)) return rc;
        *bytes = static_cast<int>(modulus(key.k->n));
        return 0;
    });
}

}  // extern "C"
