// The tools' crypto module: thin wrappers over the provider, the signature-algorithm maps and the
// encrypted password form.
#include "crypto.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "ostrel/ct.hpp"
#include "ostrel/owners.hpp"
#include "suite_codec.h"
#include "suite_crypto.h"

namespace {

// The module's signature numbers with their digest and key algorithms.
struct SignMap {
    int sign;
    int digest;
    int key;
};
constexpr SignMap kSignMaps[] = {
    {1, QRT_CSP_HASH_MD2, QRT_CSP_PKEY_RSA},
    {2, QRT_CSP_HASH_MD5, QRT_CSP_PKEY_RSA},
    {3, QRT_CSP_HASH_SHA1, QRT_CSP_PKEY_RSA},
    {4, QRT_CSP_HASH_SHA256, QRT_CSP_PKEY_RSA},
    {5, QRT_CSP_HASH_SHA384, QRT_CSP_PKEY_RSA},
    {6, QRT_CSP_HASH_SHA512, QRT_CSP_PKEY_RSA},
    {9, 0, QRT_CSP_PKEY_RSA},
    {15, QRT_CSP_HASH_SHA1, QRT_CSP_PKEY_DSA},
    {16, QRT_CSP_HASH_SHA1, QRT_CSP_PKEY_ECDSA},
    {21, QRT_CSP_HASH_SHA1, QRT_CSP_PKEY_KCDSA},
    {22, QRT_CSP_HASH_HAS160, QRT_CSP_PKEY_KCDSA},
    {23, QRT_CSP_HASH_SHA1, QRT_CSP_PKEY_ECKCDSA},
    {24, QRT_CSP_HASH_HAS160, QRT_CSP_PKEY_ECKCDSA},
};

const SignMap *find_sign(int sign) {
    for (const SignMap &m : kSignMaps)
        if (m.sign == sign) return &m;
    return nullptr;
}

// The algorithms whose digest-level functions take the data itself rather than a digest.
bool takes_message(int sign) { return sign == 9 || (sign >= 21 && sign <= 24); }

// The crypto core's codes the encrypted form names.
struct CoreText {
    int code;
    const char *text;
};
constexpr CoreText kCipherErrors[] = {
    {WJ_ERR_ENCRYPT_FAILED, "CIPHER_ERROR_ENCRYPT_FAILED"},
    {WJ_ERR_UNKNOWN_PADDING, "CIPHER_ERROR_UNKNOWN_PADDING"},
    {WJ_ERR_UNKNOWN_MODE, "CIPHER_ERROR_UNKNOWN_MODE"},
    {WJ_ERR_UNKNOWN_ID, "CIPHER_ERROR_UNKNOWN_ID"},
};

void print_cipher_error(int code) {
    for (const CoreText &t : kCipherErrors) {
        if (t.code == code) {
            std::printf("%s\n", t.text);
            return;
        }
    }
    std::printf("CIPHER_ERROR %d\n", code);
}

bool bin_ok(const BIN *b) { return b && (b->length == 0 || b->value); }

void empty(BIN *out) {
    if (out) *out = BIN{0, nullptr};
}

// Fills the provider's signature parameters for the key family of sign.
void sign_param(int key, const BIN *pub, const BIN *keyParam, ZQ_CSP_SignParam &p) {
    p = ZQ_CSP_SignParam{};
    auto *kp = const_cast<BIN *>(keyParam);
    auto *pk = const_cast<BIN *>(pub);
    switch (key) {
        case QRT_CSP_PKEY_DSA:
            p.dsa.pkeyParam = kp;
            break;
        case QRT_CSP_PKEY_ECDSA:
            p.ecdsa.pkeyParam = kp;
            break;
        case QRT_CSP_PKEY_KCDSA:
            p.kcdsa.pkeyParam = kp;
            p.kcdsa.pubKey = pk;
            break;
        case QRT_CSP_PKEY_ECKCDSA:
            p.eckcdsa.pkeyParam = kp;
            p.eckcdsa.pubKey = pk;
            break;
        default:
            break;
    }
}

int cipher(bool encrypt, BIN *out, const BIN *in, const BIN *key, const ZQ_CSP_CipherParam *cipherParam, const BIN *iv,
           int alg, int mode) {
    empty(out);
    if (!out || !bin_ok(in) || !bin_ok(key) || (iv && !bin_ok(iv))) return -3;
    ZQ_CSP_CipherParam p{};
    if (cipherParam) p = *cipherParam;
    p.modeID = mode;
    p.paddingID = !encrypt && cipherParam && cipherParam->paddingID ? cipherParam->paddingID : QRT_CSP_PAD_PKCS5;
    unsigned char ivBytes[32] = {};
    BIN ivBin{0, ivBytes};
    if (alg != QRT_CSP_CIPHER_RC4) {
        // The IV is one block of the cipher; a shorter one given is refused, never read past.
        ZQ_CSP_CipherInfo info{};
        if (QRT_CSP_GetCipherInfo(&info, alg) != 0 || info.blockLength <= 0 ||
            info.blockLength > static_cast<int>(sizeof ivBytes))
            return -3;
        ivBin.length = static_cast<unsigned>(info.blockLength);
        if (iv) {
            if (iv->length < ivBin.length) return -3;
            std::memcpy(ivBytes, iv->value, ivBin.length);
        }
        p.modeParam.iv = &ivBin;
    }
    int rc = encrypt ? QRT_CSP_Encrypt(out, in, key, alg, &p) : QRT_CSP_Decrypt(out, in, key, alg, &p);
    if (rc != 0) {
        QRT_BIN_Reset(out);
        return -3;
    }
    return 0;
}

// Writes the output of an encoder that reports its length when given no buffer into out.
template <class Encode>
bool encode_to(BIN *out, Encode encode) {
    unsigned int n = 0;
    if (encode(nullptr, &n) != 0 || n == 0) return false;
    auto *p = static_cast<unsigned char *>(QRT_malloc(n));
    if (!p) return false;
    if (encode(p, &n) != 0) {
        ostrel::wipe(p, n);
        QRT_free(p);
        return false;
    }
    *out = BIN{n, p};
    return true;
}

// A DSA or KCDSA key pair with the core, under the parameters in keyParam (generated there first
// when it is empty).
int dl_key_pair(BIN *pub, BIN *priv, BIN *keyParam, int keyAlg, int bits) {
    const bool dsa = keyAlg == QRT_CSP_PKEY_DSA;
    WJ_DL_Parameters *params = dsa ? WJ_DSA_Parameters_New() : WJ_KCDSA_Parameters_New();
    WJ_BigInt *x = WJ_BigInt_New(1);
    WJ_BigInt *y = WJ_BigInt_New(1);
    int rc = params && x && y ? 0 : -2;
    bool made = false;
    if (rc == 0) {
        if (keyParam->length == 0) {
            auto u = static_cast<unsigned>(bits);
            rc = (dsa ? WJ_DSA_GenerateParameters(params, u, 0) : WJ_KCDSA_GenerateParameters(params, u, 0)) ? -2 : 0;
            made = rc == 0;
        } else {
            rc = (dsa ? WJ_DSA_Parameters_Decode(params, keyParam->value, keyParam->length)
                      : WJ_KCDSA_Parameters_Decode(params, keyParam->value, keyParam->length))
                     ? -1
                     : 0;
        }
    }
    if (rc == 0) rc = (dsa ? WJ_DSA_GenerateKey(x, y, params) : WJ_KCDSA_GenerateKey(x, y, params)) ? -2 : 0;
    BIN newParam{0, nullptr};
    if (rc == 0 && made && !encode_to(&newParam, [&](unsigned char *o, unsigned *n) {
            return dsa ? WJ_DSA_Parameters_Encode(o, n, params) : WJ_KCDSA_Parameters_Encode(o, n, params);
        }))
        rc = -2;
    if (rc == 0 && !encode_to(pub, [&](unsigned char *o, unsigned *n) { return WJ_BigInt_DerEncode(o, n, y); }))
        rc = -2;
    if (rc == 0 && !encode_to(priv, [&](unsigned char *o, unsigned *n) { return WJ_BigInt_DerEncode(o, n, x); }))
        rc = -2;
    if (rc == 0 && made) {
        *keyParam = newParam;
        newParam = BIN{0, nullptr};
    }
    QRT_BIN_Reset(&newParam);
    if (rc != 0) {
        QRT_BIN_Reset(pub);
        QRT_BIN_Reset(priv);
    }
    WJ_BigInt_Free(x);
    WJ_BigInt_Free(y);
    if (dsa)
        WJ_DSA_Parameters_Free(params);
    else
        WJ_KCDSA_Parameters_Free(params);
    return rc;
}

}  // namespace

extern "C" {

int WJYV_EncryptServerKeyPwd(char *out, int outMax, const char *password, int length) {
    if (!out || outMax < 1 || length < 0 || (length > 0 && !password)) return -1;
    const unsigned int cipherLength = (static_cast<unsigned>(length) / 16 + 1) * 16;
    const unsigned int textLength = 4 * ((cipherLength + 2) / 3);
    if (textLength + 1 > static_cast<unsigned>(outMax)) return -2;

    static const unsigned char kKey[WJYV_SERVER_KEY_PWD_KEY_LENGTH] = WJYV_SERVER_KEY_PWD_KEY;
    WJ_SECRET_KEY key{};
    key.algID = WJ_CIPHER_SEED;
    std::memcpy(key.key, kKey, sizeof kKey);
    key.keyLength = sizeof kKey;
    WJ_CIPHER_PARAM param{};
    param.modeID = WJ_MODE_CBC;
    std::memcpy(param.modeParam.iv, kKey, sizeof kKey);  // the IV is the key, as the reader expects
    param.modeParam.ivLength = sizeof kKey;
    param.paddingID = WJ_PAD_PKCS;
    ostrel::SecBytes cipherText(static_cast<size_t>(length) + WJ_CIPHER_MAX_BLOCK);
    unsigned int n = 0;
    int rc = WJC_Cipher_Encrypt(cipherText.data(), &n, reinterpret_cast<const unsigned char *>(password),
                                static_cast<unsigned>(length), &key, WJ_CIPHER_SEED, &param);
    ostrel::wipe(&key, sizeof key);
    if (rc != 0) {
        print_cipher_error(rc);
        return -1;
    }
    int written = 0;
    rc = QRT_Base64_EncodeBlock(out, &written, cipherText.data(), static_cast<int>(n));
    if (rc != 0) {
        std::printf("encoding Error : %d \n", rc);
        return -1;
    }
    return 0;
}

int QRT_GetDigestAlgFromSignAlg(int signAlg) {
    const SignMap *m = find_sign(signAlg);
    return m ? m->digest : -1;
}

int QRT_GetKeyIDFromSignAlg(int signAlg) {
    const SignMap *m = find_sign(signAlg);
    return m ? m->key : -1;
}

int QRT_GetSignAlgFromDigestIDnKeyID(int digestAlg, int keyAlg) {
    // MD2 is not offered for new RSA signatures: it falls to the undigested form like any other.
    for (const SignMap &m : kSignMaps)
        if (m.key == keyAlg && m.digest == digestAlg && m.sign != 1 && m.sign != 9) return m.sign;
    return keyAlg == QRT_CSP_PKEY_RSA ? 9 : -1;
}

int QRT_Random(BIN *out, int n) {
    empty(out);
    if (!out || QRT_CSP_GenerateRandom(out, n) != 0) {
        QRT_BIN_Reset(out);
        return -1;
    }
    return 0;
}

int QRT_Hash(BIN *out, const BIN *in, int hashAlg) {
    empty(out);
    int rc = QRT_CSP_Hash(out, in, hashAlg);
    if (rc != 0) QRT_BIN_Reset(out);
    return rc;
}

int QRT_MakeDigest(BIN *out, const BIN *in, int signAlg) {
    empty(out);
    int digest = QRT_GetDigestAlgFromSignAlg(signAlg);
    if (digest < 0) return digest;
    if (!out || !bin_ok(in)) return -2;
    int rc = digest == 0 ? QRT_BIN_Set(out, in->value, static_cast<int>(in->length)) : QRT_CSP_Hash(out, in, digest);
    if (rc != 0) {
        QRT_BIN_Reset(out);
        return -2;
    }
    return 0;
}

int QRT_Mac(BIN *mac, const BIN *key, const BIN *in, int macAlg) {
    empty(mac);
    int rc = QRT_CSP_MAC(mac, in, key, macAlg, nullptr);
    if (rc != 0) QRT_BIN_Reset(mac);
    return rc;
}

int QRT_MacVerify(const BIN *mac, const BIN *key, const BIN *in, int macAlg) {
    if (!bin_ok(mac)) return -2;
    auto matches = [&](int alg, bool *computed) {
        ostrel::BinOwner mine;
        *computed = QRT_CSP_MAC(mine.get(), in, key, alg, nullptr) == 0;
        return *computed && mine->length == mac->length && ostrel::ct_equal(mine->value, mac->value, mac->length);
    };
    bool computed = false;
    if (matches(macAlg, &computed)) return 0;
    if (!computed) return -2;
    // A DES MAC may have been made with padding method 2.
    if (macAlg == QRT_CSP_MAC_CBC_DES && matches(QRT_CSP_MAC_DES_PAD2, &computed)) return 0;
    return -3;
}

int QRT_Encryption(BIN *out, const BIN *in, const BIN *key, const ZQ_CSP_CipherParam *cipherParam, const BIN *iv,
                   int encAlg, int mode) {
    return cipher(true, out, in, key, cipherParam, iv, encAlg, mode);
}

int QRT_Decryption(BIN *out, const BIN *in, const BIN *key, const ZQ_CSP_CipherParam *cipherParam, const BIN *iv,
                   int encAlg, int mode) {
    return cipher(false, out, in, key, cipherParam, iv, encAlg, mode);
}

int QRT_Public_Encrypt(BIN *out, const BIN *in, const BIN *pubKey, ZQ_CSP_PEncParam *param) {
    empty(out);
    if (QRT_CSP_PublicEncrypt(out, in, pubKey, param ? QRT_CSP_PENC_RSA_OAEP : QRT_CSP_PENC_RSA_V15, param) != 0) {
        QRT_BIN_Reset(out);
        return -1;
    }
    return 0;
}

int QRT_Private_Decrypt(BIN *out, const BIN *in, const BIN *privKey, ZQ_CSP_PEncParam *param) {
    empty(out);
    if (QRT_CSP_PrivateDecrypt(out, in, privKey, param ? QRT_CSP_PENC_RSA_OAEP : QRT_CSP_PENC_RSA_V15, param) != 0) {
        QRT_BIN_Reset(out);
        return -1;
    }
    return 0;
}

// What a signature of signAlg covers: the message itself, or its digest (made in `digest`);
// nullptr when the digest cannot be made.
static const BIN *signed_input(const BIN *in, int signAlg, ostrel::BinOwner &digest) {
    if (takes_message(signAlg)) return in;
    return QRT_MakeDigest(digest.get(), in, signAlg) == 0 ? digest.get() : nullptr;
}

int QRT_GenSignature(BIN *sig, const BIN *priv, const BIN *pub, const BIN *keyParam, const BIN *in, int signAlg) {
    empty(sig);
    const SignMap *m = find_sign(signAlg);
    if (!m) return -1;
    ostrel::BinOwner digest;
    const BIN *data = signed_input(in, signAlg, digest);
    if (!data) return -3;
    ZQ_CSP_SignParam p;
    sign_param(m->key, pub, keyParam, p);
    if (QRT_CSP_ComputeSignature(sig, data, priv, signAlg, &p) != 0) {
        QRT_BIN_Reset(sig);
        return -3;
    }
    return 0;
}

int QRT_VerifySign(const BIN *sig, const BIN *pub, const BIN *keyParam, const BIN *in, int signAlg) {
    const SignMap *m = find_sign(signAlg);
    if (!m) return -1;
    ostrel::BinOwner digest;
    const BIN *data = signed_input(in, signAlg, digest);
    if (!data) return -3;
    ZQ_CSP_SignParam p;
    sign_param(m->key, pub, keyParam, p);
    return QRT_CSP_VerifySignature(sig, data, pub, signAlg, &p) == 0 ? 0 : -3;
}

int QRT_GenSignatureWithHash(BIN *sig, const BIN *priv, const BIN *pub, const BIN *keyParam, const BIN *hash,
                             int signAlg) {
    empty(sig);
    const SignMap *m = find_sign(signAlg);
    if (!m || m->key == QRT_CSP_PKEY_ECKCDSA) return -1;
    ZQ_CSP_SignParam p;
    sign_param(m->key, pub, keyParam, p);
    if (m->key == QRT_CSP_PKEY_KCDSA) p.kcdsa.hash = const_cast<BIN *>(hash);
    if (QRT_CSP_ComputeSignature(sig, hash, priv, signAlg, &p) != 0) {
        QRT_BIN_Reset(sig);
        return -3;
    }
    return 0;
}

int QRT_VerifySignWithHash(const BIN *sig, const BIN *pub, const BIN *keyParam, const BIN *hash, int signAlg) {
    if (signAlg < 1 || signAlg > 3) return -1;
    ZQ_CSP_SignParam p;
    sign_param(QRT_CSP_PKEY_RSA, pub, keyParam, p);
    return QRT_CSP_VerifySignature(sig, hash, pub, signAlg, &p) == 0 ? 0 : -3;
}

int QRT_GetPubKeyLength(int *bits, const BIN *pub, const BIN *keyParam, int keyAlg) {
    if (!bits || !bin_ok(pub) || !pub->value) return -1;
    if (keyAlg == QRT_CSP_PKEY_RSA) {
        WJ_RSA_PublicKey *k = WJ_RSA_PublicKey_New();
        int rc = k ? WJ_PKCS1_PublicKey_Decode(k, pub->value, pub->length) : -1;
        if (rc == 0) *bits = static_cast<int>(WJ_BigInt_GetBitLength(k->n));
        WJ_RSA_PublicKey_Free(k);
        return rc == 0 ? 0 : -1;
    }
    int bytes = 0;
    if (QRT_CSP_GetKeyLength(&bytes, pub, keyAlg, keyParam) != 0) return -1;
    *bits = bytes * 8;
    return 0;
}

int QRT_RsaPublicKeyInfo(unsigned char *modulus, int *nM, unsigned char *exponent, int *nE, const BIN *pub) {
    if (!modulus || !nM || !exponent || !nE || *nM < 0 || *nE < 0 || !bin_ok(pub) || !pub->value) return -2;
    WJ_RSA_PublicKey *k = WJ_RSA_PublicKey_New();
    unsigned int m = static_cast<unsigned>(*nM), e = static_cast<unsigned>(*nE);
    int rc = k ? WJ_PKCS1_PublicKey_Decode(k, pub->value, pub->length) : -1;
    if (rc == 0) rc = WJ_BigInt_IntToBytes(modulus, &m, k->n);
    if (rc == 0) rc = WJ_BigInt_IntToBytes(exponent, &e, k->e);
    WJ_RSA_PublicKey_Free(k);
    if (rc != 0) return -2;
    *nM = static_cast<int>(m);
    *nE = static_cast<int>(e);
    return 0;
}

int QRT_GetPubKey_PKCS1(unsigned long exponent, int bits, int size, const unsigned char *modulus, BIN *out) {
    empty(out);
    if (!out || !modulus || size < 1 || bits < 0 || exponent < 3) return -1;
    WJ_RSA_PublicKey *k = WJ_RSA_PublicKey_New();
    if (!k) return -2;
    unsigned char e[sizeof(unsigned long)];
    for (size_t i = 0; i < sizeof e; ++i) e[i] = static_cast<unsigned char>(exponent >> (8 * (sizeof e - 1 - i)));
    int rc = WJ_BigInt_BytesToInt(k->n, modulus, static_cast<unsigned>(size)) || WJ_BigInt_BytesToInt(k->e, e, sizeof e)
                 ? -2
                 : 0;
    if (rc == 0 && bits != 0 && WJ_BigInt_GetBitLength(k->n) != static_cast<unsigned>(bits)) rc = -1;
    if (rc == 0 && !encode_to(out, [&](unsigned char *o, unsigned *n) { return WJ_PKCS1_PublicKey_Encode(o, n, k); }))
        rc = -2;
    WJ_RSA_PublicKey_Free(k);
    return rc;
}

int QRT_GenerateKeyPair(BIN *pub, BIN *priv, BIN *keyParam, int keyAlg, int bits) {
    empty(pub);
    empty(priv);
    if (!pub || !priv || bits <= 0) return -1;
    if (keyAlg == QRT_CSP_PKEY_RSA) {
        ZQ_CSP_GenKeyPairParam p{};
        p.rsa.keyLength = bits;
        if (QRT_CSP_GenerateKeyPair(priv, pub, QRT_CSP_PKEY_RSA, &p) != 0) {
            QRT_BIN_Reset(pub);
            QRT_BIN_Reset(priv);
            return -2;
        }
        return 0;
    }
    if (keyAlg != QRT_CSP_PKEY_DSA && keyAlg != QRT_CSP_PKEY_KCDSA) return -1;
    if (!keyParam || !bin_ok(keyParam)) return -1;
    return dl_key_pair(pub, priv, keyParam, keyAlg, bits);
}

}  // extern "C"
