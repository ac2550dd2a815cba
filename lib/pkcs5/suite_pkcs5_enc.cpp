// PBES1 and PBES2 encryption and decryption.
#include <cstring>

#include "pkcs5_internal.h"

using namespace ostrel::pkcs5;

namespace {

// The fixed IV of the SEED scheme without IV derivation (id 9).
const unsigned char kSeedFixedIv[] = "7391046285173904";

// RC2 under PBES1 runs with 64 effective bits. Data written by older releases used 8; decryption
// falls back to that when 64 does not give valid padding.
constexpr int kPbes1Rc2Bits = 64;
constexpr int kPbes1Rc2LegacyBits = 8;

int pbes1(bool encrypt, BIN *out, const BIN *in, const BIN *password, const ZQ_PKCS5_PBES1_PARAM *param) {
    const Scheme *s = scheme_by_id(param->pbesID);
    if (!s || s->family != kPbes1) return QRT_PKCS5_UNKNOWN_PBESID;
    const int dkLen = s->pbesID == QRT_PKCS5_PBE_SEED_CBC_SHA1 ? 20 : 16;
    BinOwner dk, key, iv;
    int rc = QRT_PKCS5_PBKDF1(dk.get(), dkLen, s->hashID, password, param);
    if (rc) return rc;
    if (static_cast<int>(dk->length) != dkLen) return QRT_PKCS5_INTERNAL;
    bin_assign(key.get(), dk->value, s->keyLength);
    if (s->pbesID == QRT_PKCS5_PBE_SEED_CBC_SHA1) {
        // IV: the first 16 bytes of SHA-1 over the last four bytes of DK.
        BIN tail{4, dk->value + 16};
        BinOwner h;
        rc = QRT_CSP_Hash(h.get(), &tail, QRT_CSP_HASH_SHA1);
        if (rc) return rc;
        bin_assign(iv.get(), h->value, 16);
    } else if (s->pbesID == QRT_PKCS5_PBE_SEED_CBC) {
        bin_assign(iv.get(), kSeedFixedIv, 16);
    } else {
        bin_assign(iv.get(), dk->value + 8, 8);
    }
    ZQ_CSP_CipherParam cp{};
    cp.modeID = QRT_CSP_MODE_CBC;
    cp.paddingID = QRT_CSP_PAD_PKCS5;
    cp.modeParam.iv = iv.get();
    const bool rc2 = s->cipherID == QRT_CSP_CIPHER_RC2;
    if (rc2) cp.suiteParam.rc2.effectiveBits = kPbes1Rc2Bits;
    if (encrypt) return cipher_run(true, out, in, key.get(), s->cipherID, &cp);
    rc = cipher_run(false, out, in, key.get(), s->cipherID, &cp);
    if (rc && rc2) {
        QRT_BIN_Reset(out);
        cp.suiteParam.rc2.effectiveBits = kPbes1Rc2LegacyBits;
        rc = cipher_run(false, out, in, key.get(), s->cipherID, &cp);
    }
    if (rc) {
        QRT_BIN_Reset(out);
        return QRT_PKCS5_INVALID_PASSWORD;
    }
    return 0;
}

int pbes2(bool encrypt, BIN *out, const BIN *in, const BIN *password, const ZQ_PKCS5_PBES2_PARAM *param) {
    int keyLength = param->pbkdf2Param.keyLength;
    if (keyLength == 0) {
        switch (param->cipherID) {
            case QRT_CSP_CIPHER_DES: keyLength = 8; break;
            case QRT_CSP_CIPHER_SEED: keyLength = 16; break;
            case QRT_CSP_CIPHER_TDES: keyLength = 24; break;
            default: return QRT_PKCS5_INVALID_INPUT;  // RC2, RC5 and AES need their length
        }
    }
    if (keyLength < 0 || !param->cipherParam.modeParam.iv) return QRT_PKCS5_INVALID_INPUT;
    BinOwner key;
    int rc = QRT_PKCS5_PBKDF2(key.get(), keyLength, password, &param->pbkdf2Param);
    if (rc) return rc;
    rc = cipher_run(encrypt, out, in, key.get(), param->cipherID, &param->cipherParam);
    if (rc && !encrypt) {
        QRT_BIN_Reset(out);
        return QRT_PKCS5_INVALID_PASSWORD;
    }
    return rc;
}

}  // namespace

extern "C" {

QRT_API int QRT_PKCS5_PBES1_Encrypt(BIN *out, const BIN *in, const BIN *password, const ZQ_PKCS5_PBES1_PARAM *param) {
    if (!out || !in || !password || !param) return QRT_PKCS5_INVALID_INPUT;
    *out = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] { return pbes1(true, out, in, password, param); });
}

QRT_API int QRT_PKCS5_PBES1_Decrypt(BIN *out, const BIN *in, const BIN *password, const ZQ_PKCS5_PBES1_PARAM *param) {
    if (!out || !in || !password || !param) return QRT_PKCS5_INVALID_INPUT;
    *out = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] { return pbes1(false, out, in, password, param); });
}

QRT_API int QRT_PKCS5_PBES2_Encrypt(BIN *out, const BIN *in, const BIN *password, const ZQ_PKCS5_PBES2_PARAM *param) {
    if (!out || !in || !password || !param) return QRT_PKCS5_INVALID_INPUT;
    *out = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] { return pbes2(true, out, in, password, param); });
}

QRT_API int QRT_PKCS5_PBES2_Decrypt(BIN *out, const BIN *in, const BIN *password, const ZQ_PKCS5_PBES2_PARAM *param) {
    if (!out || !in || !password || !param) return QRT_PKCS5_INVALID_INPUT;
    *out = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] { return pbes2(false, out, in, password, param); });
}

}  // extern "C"
