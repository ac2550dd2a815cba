// Key forms: copies between the core's key objects and caller bytes, and the provider's own DER
// and big-integer routines with the core's conventions.
#include <cstring>
#include <type_traits>
#include <vector>

#include "csp_pkey.hpp"
#include "ostrel/reader.hpp"
#include "ostrel/tlv.hpp"

using namespace ostrel;
using namespace ostrel::csp;

extern "C" {

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
