// RSA encryption through the core's generic keys: PKCS#1 v1.5 and OAEP.
#include <cstring>
#include <type_traits>
#include <vector>

#include "csp_pkey.hpp"

using namespace ostrel;
using namespace ostrel::csp;

namespace {

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

}  // extern "C"
