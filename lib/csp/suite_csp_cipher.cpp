// Ciphers: public numbering and key normalisation, parameter translation, Init/Update/Final,
// the one-shot forms and the older convenience forms.
#include <climits>
#include <cstring>

#include "csp_internal.h"
#include "ostrel/owners.hpp"

using namespace ostrel;
using namespace ostrel::csp;

namespace {

struct PublicCipher {
    int id, core;
    ZQ_CSP_CipherInfo info;  // type, block, default key, min, max, step
};

constexpr PublicCipher kCiphers[] = {
    {1, WJ_CIPHER_AES, {1, 16, 16, 16, 32, 8}},   {2, WJ_CIPHER_BLOWFISH, {1, 8, 16, 4, 56, 1}},
    {3, WJ_CIPHER_CAST128, {1, 8, 16, 5, 16, 1}}, {4, WJ_CIPHER_DES, {1, 8, 8, 8, 8, 0}},
    {5, WJ_CIPHER_RC2, {1, 8, 16, 1, 128, 1}},    {6, WJ_CIPHER_RC4, {0, 1, 16, 1, 256, 1}},
    {7, WJ_CIPHER_RC5, {1, 8, 16, 0, 256, 1}},    {8, WJ_CIPHER_SEED, {1, 16, 16, 16, 16, 0}},
    {9, WJ_CIPHER_TDES, {1, 8, 24, 8, 24, 8}},    {12, WJ_CIPHER_ARIA, {1, 16, 16, 16, 32, 8}},
    {13, WJ_CIPHER_ARIA, {1, 16, 16, 16, 16, 8}}, {14, WJ_CIPHER_ARIA, {1, 16, 24, 24, 24, 8}},
    {15, WJ_CIPHER_ARIA, {1, 16, 32, 32, 32, 8}}, {21, WJ_CIPHER_CAMELLIA128, {1, 16, 16, 16, 16, 0}},
    {22, WJ_CIPHER_NEAT, {1, 16, 16, 16, 16, 0}}, {31, WJ_CIPHER_RESERVED31, {1, 32, 32, 32, 32, 0}},
};

const PublicCipher *find_cipher(int id) {
    for (const PublicCipher &c : kCiphers)
        if (c.id == id) return &c;
    return nullptr;
}

// Failures of a core Init (and of the one-shot forms) in the provider's codes.
int map_core(int rc) {
    switch (rc) {
        case WJ_ERR_KEY_LENGTH:
            return QRT_CSP_INVALID_KEY_LENGTH;
        case WJ_ERR_MODE_SIZE:
            return QRT_CSP_INVALID_MODE_SIZE;
        case WJ_ERR_IV_LENGTH:
            return QRT_CSP_INVALID_IV_LENGTH;
        case WJ_ERR_UNKNOWN_PADDING:
            return QRT_CSP_UNKNOWN_PADDING;
        case WJ_ERR_UNKNOWN_MODE:
            return QRT_CSP_UNKNOWN_MODE;
        default:
            return QRT_CSP_CRYPTO_FAILED;
    }
}

// Public parameter -> core parameter; RC2 and RC5 take their suite word.
int QRT_CSP_ConvCipherParam(int cipher_id, const ZQ_CSP_CipherParam *p, WJ_CIPHER_PARAM *out) {
    if (!p) return OSTREL_FAIL(QRT_CSP_INVALID_INPUT);
    if (cipher_id == QRT_CSP_CIPHER_RC2)
        out->suiteParam.rc2.effectiveBits = static_cast<unsigned>(p->suiteParam.rc2.effectiveBits);
    if (cipher_id == QRT_CSP_CIPHER_RC5) out->suiteParam.rc5.rounds = static_cast<unsigned>(p->suiteParam.rc5.rounds);
    if (p->modeID < 1 || p->modeID > 5) return OSTREL_FAIL(QRT_CSP_UNKNOWN_MODE);
    out->modeID = p->modeID;
    if (p->modeID != 1) {
        const BIN *iv = p->modeParam.iv;
        if (!iv || iv->length == 0 || !iv->value) return OSTREL_FAIL(QRT_CSP_INVALID_IV_LENGTH);
        // The core's inline IV holds 32 bytes; a longer one is refused rather than overrun.
        if (iv->length > WJ_CIPHER_MAX_IV) return OSTREL_FAIL(QRT_CSP_INVALID_IV_LENGTH);
        std::memcpy(out->modeParam.iv, iv->value, iv->length);
        out->modeParam.ivLength = iv->length;
    }
    out->modeParam.modeSize = static_cast<unsigned>(p->modeParam.modeSize);
    if (p->paddingID == 1)
        out->paddingID = WJ_PAD_NONE;
    else if (p->paddingID == 2)
        out->paddingID = WJ_PAD_PKCS;
    else
        return OSTREL_FAIL(QRT_CSP_UNKNOWN_PADDING);
    return 0;
}

// Common to Init and the one-shot forms: the core number, key and parameter.
int prepare(const char *fn, const BIN *key, int cipher_id, const ZQ_CSP_CipherParam *param, int *core, SecretKey &sk,
            WJ_CIPHER_PARAM &cp) {
    if (int rc = conv_cipher_id(cipher_id, core)) return OSTREL_FAIL_AS(fn, rc);
    if (key->length && !key->value) return QRT_CSP_INVALID_INPUT;
    unsigned e = normalise_key_length(cipher_id, key->length);
    // The core's key object holds 256 bytes; a longer key is refused rather than overrun.
    if (e > WJ_SECRET_KEY_MAX) return OSTREL_FAIL_AS(fn, QRT_CSP_INVALID_KEY_LENGTH);
    if (cipher_id == QRT_CSP_CIPHER_RC4) {
        cp.modeID = WJ_MODE_CBC;
        cp.paddingID = WJ_PAD_PKCS;
    } else if (int rc = QRT_CSP_ConvCipherParam(cipher_id, param, &cp)) {
        return OSTREL_FAIL_AS(fn, rc);
    }
    sk.k.algID = *core;
    if (e) std::memcpy(sk.k.key, key->value, e);
    sk.k.keyLength = e;
    return 0;
}

int cipher_init(const char *fn, const char *core_fn, bool enc, ZQ_CSP_CTX *ctx, const BIN *key, int cipher_id,
                const ZQ_CSP_CipherParam *param) {
    if (!ctx || !key) return QRT_CSP_INVALID_INPUT;
    // The record may be uninitialised: it is set empty, not released (callers reset it first).
    *ctx = ZQ_CSP_CTX{0, nullptr};
    if (int rc = state_gate()) return OSTREL_FAIL_AS(fn, rc);
    int core = 0;
    SecretKey sk;
    WJ_CIPHER_PARAM cp{};
    if (int rc = prepare(fn, key, cipher_id, param, &core, sk, cp)) return rc;
    ctx->ctxID = 1;
    WJC_CIPHER_CTX *cc = WJC_CIPHER_CTX_New();
    if (!cc) return OSTREL_FAIL_AS(fn, QRT_CSP_MALLOC_FAILED);
    ctx->ctx = cc;
    int rc = enc ? WJC_Cipher_Encrypt_Init(cc, &sk.k, core, &cp) : WJC_Cipher_Decrypt_Init(cc, &sk.k, core, &cp);
    wipe(&cp, sizeof cp);
    if (rc) {
        OSTREL_CORE_FAIL(core_fn, rc);
        return OSTREL_FAIL_AS(fn, map_core(rc));
    }
    return 0;
}

int cipher_update(const char *fn, const char *core_fn, bool enc, ZQ_CSP_CTX *ctx, BIN *out, const BIN *in) {
    if (!ctx || !out || !in || ctx->ctxID != 1 || !ctx->ctx) return QRT_CSP_INVALID_INPUT;
    *out = BIN{0, nullptr};
    if (int rc = state_gate()) return OSTREL_FAIL_AS(fn, rc);
    if (in->length == 0) return 0;
    if (!in->value || in->length > UINT_MAX - WJ_CIPHER_MAX_BLOCK) return QRT_CSP_INVALID_INPUT;
    // Room for the input and a held-back partial block that this input completes.
    unsigned cap = in->length + WJ_CIPHER_MAX_BLOCK;
    auto *buf = static_cast<unsigned char *>(QRT_malloc(cap));
    if (!buf) return OSTREL_FAIL_AS(fn, QRT_CSP_MALLOC_FAILED);
    unsigned n = 0;
    auto *cc = static_cast<WJC_CIPHER_CTX *>(ctx->ctx);
    int rc = enc ? WJC_Cipher_Encrypt_Update(cc, buf, &n, in->value, in->length)
                 : WJC_Cipher_Decrypt_Update(cc, buf, &n, in->value, in->length);
    if (rc || n == 0) {
        wipe(buf, cap);
        QRT_free(buf);
        if (!rc) return 0;
        OSTREL_CORE_FAIL(core_fn, rc);
        return OSTREL_FAIL_AS(fn, QRT_CSP_CRYPTO_FAILED);
    }
    *out = BIN{n, buf};
    return 0;
}

int copy_out(BIN *out, const unsigned char *data, unsigned n) {
    if (n == 0) return 0;
    auto *p = static_cast<unsigned char *>(QRT_malloc(n));
    if (!p) return QRT_CSP_MALLOC_FAILED;
    std::memcpy(p, data, n);
    *out = BIN{n, p};
    return 0;
}

int oneshot(const char *fn, const char *core_fn, bool enc, BIN *out, const BIN *in, const BIN *key, int cipher_id,
            const ZQ_CSP_CipherParam *param) {
    if (!out || !in || !key) return QRT_CSP_INVALID_INPUT;
    *out = BIN{0, nullptr};
    if (in->length && !in->value) return QRT_CSP_INVALID_INPUT;
    if (in->length > UINT_MAX - WJ_CIPHER_MAX_BLOCK) return QRT_CSP_INVALID_INPUT;
    if (int rc = state_gate()) return OSTREL_FAIL_AS(fn, rc);
    int core = 0;
    SecretKey sk;
    WJ_CIPHER_PARAM cp{};
    if (int rc = prepare(fn, key, cipher_id, param, &core, sk, cp)) return rc;
    // One buffer for the whole result: Update and Final write straight into it.
    unsigned cap = in->length + WJ_CIPHER_MAX_BLOCK;
    auto *buf = static_cast<unsigned char *>(QRT_malloc(cap));
    if (!buf) return OSTREL_FAIL_AS(fn, QRT_CSP_MALLOC_FAILED);
    unsigned n = 0;
    int rc = enc ? WJC_Cipher_Encrypt(buf, &n, in->value, in->length, &sk.k, core, &cp)
                 : WJC_Cipher_Decrypt(buf, &n, in->value, in->length, &sk.k, core, &cp);
    wipe(&cp, sizeof cp);
    if (rc || n == 0) {
        wipe(buf, cap);
        QRT_free(buf);
        if (!rc) return 0;
        OSTREL_CORE_FAIL(core_fn, rc);
        return OSTREL_FAIL_AS(fn, rc == WJ_ERR_BAD_PADDING ? QRT_CSP_INVALID_PADDING : map_core(rc));
    }
    *out = BIN{n, buf};
    return 0;
}

// The older forms' own numbers: {core cipher, IV size}.
struct OldCipher {
    int alg, core;
    unsigned iv;
};
constexpr OldCipher kOld[] = {
    {0, WJ_CIPHER_DES, 8}, {1, WJ_CIPHER_TDES, 8}, {3, WJ_CIPHER_RC4, 8}, {10, WJ_CIPHER_SEED, 16}};

int old_cipher(bool enc, int alg, int mode, const unsigned char *iv, const BIN *key, const BIN *in, BIN *out) {
    if (!key || !in || !out) return QRT_CSP_INVALID_INPUT;
    *out = BIN{0, nullptr};
    if ((in->length && !in->value) || (key->length && !key->value)) return QRT_CSP_INVALID_INPUT;
    if (in->length > UINT_MAX - WJ_CIPHER_MAX_BLOCK) return QRT_CSP_INVALID_INPUT;
    const OldCipher *oc = nullptr;
    for (const OldCipher &c : kOld)
        if (c.alg == alg) oc = &c;
    if (!oc) return QRT_CSP_UNKNOWN_ID;
    if (mode < 0 || mode > 3) return QRT_CSP_UNKNOWN_MODE;
    if (key->length > WJ_SECRET_KEY_MAX) return QRT_CSP_INVALID_KEY_LENGTH;
    WJ_CIPHER_PARAM cp{};
    cp.modeID = mode + 1;
    cp.modeParam.ivLength = cp.modeParam.modeSize = oc->iv;
    if (iv) std::memcpy(cp.modeParam.iv, iv, oc->iv);
    cp.paddingID = WJ_PAD_PKCS;
    SecretKey sk;
    sk.k.algID = oc->core;
    if (key->length) std::memcpy(sk.k.key, key->value, key->length);
    sk.k.keyLength = key->length;
    unsigned cap = in->length + WJ_CIPHER_MAX_BLOCK;
    auto *buf = static_cast<unsigned char *>(QRT_malloc(cap));
    if (!buf) return QRT_CSP_MALLOC_FAILED;
    unsigned n = 0;
    int rc = enc ? WJC_Cipher_Encrypt(buf, &n, in->value, in->length, &sk.k, oc->core, &cp)
                 : WJC_Cipher_Decrypt(buf, &n, in->value, in->length, &sk.k, oc->core, &cp);
    wipe(&cp, sizeof cp);
    if (rc || n == 0) {
        wipe(buf, cap);
        QRT_free(buf);
        return rc ? QRT_CSP_INTERNAL : 0;
    }
    *out = BIN{n, buf};
    return 0;
}

}  // namespace

namespace ostrel::csp {

int conv_cipher_id(int cipher_id, int *core_id) {
    const PublicCipher *c = find_cipher(cipher_id);
    if (!c) return QRT_CSP_UNKNOWN_ID;
    *core_id = c->core;
    return 0;
}

unsigned normalise_key_length(int cipher_id, unsigned l) {
    switch (cipher_id) {
        case 1:
        case 12:
        case 13:
        case 14:
        case 15:
            return l >= 32 ? 32 : l >= 24 ? 24 : l >= 16 ? 16 : l;
        case 4:
            return l > 7 ? 8 : l;
        case 8:
        case 21:
            return l > 15 ? 16 : l;
        case 9:
            return l > 23 ? 24 : l;
        case 31:
            return l > 31 ? 32 : l;
        default:
            return l;
    }
}

}  // namespace ostrel::csp

extern "C" {

QRT_API int QRT_CSP_EncryptInit(ZQ_CSP_CTX *ctx, const BIN *key, int cipherID, const ZQ_CSP_CipherParam *param) {
    return cipher_init(__func__, "WJ_Cipher_Encrypt_Init", true, ctx, key, cipherID, param);
}

QRT_API int QRT_CSP_DecryptInit(ZQ_CSP_CTX *ctx, const BIN *key, int cipherID, const ZQ_CSP_CipherParam *param) {
    return cipher_init(__func__, "WJ_Cipher_Decrypt_Init", false, ctx, key, cipherID, param);
}

QRT_API int QRT_CSP_EncryptUpdate(ZQ_CSP_CTX *ctx, BIN *out, const BIN *in) {
    return cipher_update(__func__, "WJ_Cipher_Encrypt_Update", true, ctx, out, in);
}

QRT_API int QRT_CSP_DecryptUpdate(ZQ_CSP_CTX *ctx, BIN *out, const BIN *in) {
    return cipher_update(__func__, "WJ_Cipher_Decrypt_Update", false, ctx, out, in);
}

QRT_API int QRT_CSP_EncryptFinal(ZQ_CSP_CTX *ctx, BIN *out) {
    if (!ctx || !out || ctx->ctxID != 1 || !ctx->ctx) return QRT_CSP_INVALID_INPUT;
    *out = BIN{0, nullptr};
    if (int rc = state_gate()) return OSTREL_FAIL(rc);
    unsigned char last[WJ_CIPHER_MAX_BLOCK];
    unsigned n = 0;
    int rc = WJC_Cipher_Encrypt_Final(static_cast<WJC_CIPHER_CTX *>(ctx->ctx), last, &n);
    if (rc) {
        OSTREL_CORE_FAIL("WJ_Cipher_Encrypt_Final", rc);
        return OSTREL_FAIL(QRT_CSP_CRYPTO_FAILED);
    }
    rc = copy_out(out, last, n);
    wipe(last, sizeof last);
    return rc ? OSTREL_FAIL(rc) : 0;
}

QRT_API int QRT_CSP_DecryptFinal(ZQ_CSP_CTX *ctx, int *padLength) {
    if (!ctx || !padLength || ctx->ctxID != 1 || !ctx->ctx) return QRT_CSP_INVALID_INPUT;
    *padLength = 0;
    if (int rc = state_gate()) return OSTREL_FAIL(rc);
    unsigned pad = 0;
    int rc = WJC_Cipher_Decrypt_Final(static_cast<WJC_CIPHER_CTX *>(ctx->ctx), &pad);
    if (rc) {
        OSTREL_CORE_FAIL("WJ_Cipher_Decrypt_Final", rc);
        return OSTREL_FAIL(rc == WJ_ERR_BAD_PADDING ? QRT_CSP_INVALID_PADDING : QRT_CSP_CRYPTO_FAILED);
    }
    *padLength = static_cast<int>(pad);
    return 0;
}

QRT_API int QRT_CSP_Encrypt(BIN *out, const BIN *in, const BIN *key, int cipherID, const ZQ_CSP_CipherParam *param) {
    return oneshot(__func__, "WJ_Cipher_Encrypt", true, out, in, key, cipherID, param);
}

QRT_API int QRT_CSP_Decrypt(BIN *out, const BIN *in, const BIN *key, int cipherID, const ZQ_CSP_CipherParam *param) {
    return oneshot(__func__, "WJ_Cipher_Decrypt", false, out, in, key, cipherID, param);
}

QRT_API int QRT_CSP_GetCipherInfo(ZQ_CSP_CipherInfo *info, int cipherID) {
    if (!info) return QRT_CSP_INVALID_INPUT;
    const PublicCipher *c = find_cipher(cipherID);
    if (!c) return OSTREL_FAIL(QRT_CSP_UNKNOWN_ID);
    *info = c->info;
    return 0;
}

QRT_API int QRT_EncryptionIVBin(int alg, int mode, const unsigned char *iv, const BIN *key, const BIN *in, BIN *out) {
    return old_cipher(true, alg, mode, iv, key, in, out);
}

QRT_API int QRT_DecryptionIVBin(int alg, int mode, const unsigned char *iv, const BIN *key, const BIN *in, BIN *out) {
    return old_cipher(false, alg, mode, iv, key, in, out);
}

QRT_API int QRT_EncryptionBin(int alg, int mode, const BIN *key, const BIN *in, BIN *out) {
    return old_cipher(true, alg, mode, nullptr, key, in, out);
}

QRT_API int QRT_DecryptionBin(int alg, int mode, const BIN *key, const BIN *in, BIN *out) {
    return old_cipher(false, alg, mode, nullptr, key, in, out);
}

}  // extern "C"
