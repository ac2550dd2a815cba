// Encryption under the PKCS#12 identifiers: key and IV from the PKCS#12 derivation with SHA-1.
#include <cstring>

#include "pkcs5_internal.h"

using namespace ostrel::pkcs5;

namespace {

int p12pbe(bool encrypt, BIN *out, const BIN *in, int pbesID, const BIN *password, const ZQ_PKCS5_P12PBE_PARAM *param) {
    const Scheme *s = scheme_by_id(pbesID);
    if (!s || s->family != kPkcs12) return QRT_PKCS5_UNKNOWN_ID;
    ZQ_PKCS5_P12KDF_PARAM kp{QRT_CSP_HASH_SHA1, param->salt, param->iterationCount, 1};
    BinOwner key, iv;
    int rc = QRT_PKCS5_P12KDF(key.get(), s->keyLength, password, &kp);
    if (rc) return rc;
    if (s->ivLength) {
        kp.diversifier = 2;
        rc = QRT_PKCS5_P12KDF(iv.get(), s->ivLength, password, &kp);
        if (rc) return rc;
    }
    if (s->pbesID == QRT_PKCS5_P12_SHA1_2DES) {
        // Two-key Triple DES: K1 K2 K1.
        BinOwner k3;
        bin_assign(k3.get(), nullptr, 24);
        std::memcpy(k3->value, key->value, 16);
        std::memcpy(k3->value + 16, key->value, 8);
        QRT_BIN_Reset(key.get());
        (*key) = k3.release();
    }
    if (!s->ivLength) return cipher_run(encrypt, out, in, key.get(), s->cipherID, nullptr);
    ZQ_CSP_CipherParam cp{};
    cp.modeID = QRT_CSP_MODE_CBC;
    cp.paddingID = QRT_CSP_PAD_PKCS5;
    cp.modeParam.iv = iv.get();
    if (s->cipherID == QRT_CSP_CIPHER_RC2) cp.suiteParam.rc2.effectiveBits = 8 * s->keyLength;
    rc = cipher_run(encrypt, out, in, key.get(), s->cipherID, &cp);
    if (rc) QRT_BIN_Reset(out);
    return rc;
}

}  // namespace

extern "C" {

QRT_API int QRT_PKCS5_P12PBE_Encrypt(BIN *out, const BIN *in, int pbesID, const BIN *password,
                                     const ZQ_PKCS5_P12PBE_PARAM *param) {
    if (!out || !in || !password || !param) return QRT_PKCS5_INVALID_INPUT;
    *out = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] { return p12pbe(true, out, in, pbesID, password, param); });
}

QRT_API int QRT_PKCS5_P12PBE_Decrypt(BIN *out, const BIN *in, int pbesID, const BIN *password,
                                     const ZQ_PKCS5_P12PBE_PARAM *param) {
    if (!out || !in || !password || !param) return QRT_PKCS5_INVALID_INPUT;
    *out = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] { return p12pbe(false, out, in, pbesID, password, param); });
}

}  // extern "C"
