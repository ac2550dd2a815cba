// MACs: public numbering and sizes, Init/Update/Final, one shot, and the older MAC forms.
#include <cstring>

#include "csp_internal.h"
#include "ostrel/owners.hpp"

using namespace ostrel;
using namespace ostrel::csp;

namespace {

struct PublicMac {
    int id, core;
    int info_hash;    // public hash whose sizes give the MAC info (HMAC)
    int info_cipher;  // public cipher whose sizes give the MAC info (cipher MACs)
};
constexpr PublicMac kMacs[] = {
    {1, 257, 1, 0},  {2, 258, 2, 0},  {3, 260, 3, 0},  {4, 261, 4, 0},          {5, 262, 5, 0},
    {6, 263, 6, 0},  {7, 264, 7, 0},  {8, 265, 8, 0},  {11, 513, 0, 1},         {12, 514, 0, 2},
    {13, 515, 0, 3}, {14, 516, 0, 4}, {15, 518, 0, 5}, {16, 520, 0, 7},         {17, 521, 0, 8},
    {18, 522, 0, 0}, {19, 523, 0, 9}, {24, 575, 0, 4}, {25, WJ_MAC_X919, 0, 0},
};

const PublicMac *find_mac(int id) {
    for (const PublicMac &m : kMacs)
        if (m.id == id) return &m;
    return nullptr;
}

// Sizes a buffer for the MAC value, copies it in.
int copy_mac(BIN *out, const unsigned char *v, unsigned n) {
    auto *p = static_cast<unsigned char *>(QRT_malloc(n ? n : 1));
    if (!p) return QRT_CSP_MALLOC_FAILED;
    std::memcpy(p, v, n);
    *out = BIN{n, p};
    return 0;
}

int key_of(const BIN *key, int core, SecretKey &sk) {
    if (key->length && !key->value) return QRT_CSP_INVALID_INPUT;
    // The core's key object holds 256 bytes; a longer key is refused rather than overrun.
    if (key->length > WJ_SECRET_KEY_MAX) return QRT_CSP_INVALID_KEY_LENGTH;
    sk.k.algID = core;
    if (key->length) std::memcpy(sk.k.key, key->value, key->length);
    sk.k.keyLength = key->length;
    return 0;
}

// The MAC parameter word: RC2 effective bits (15) or RC5 rounds (16); 0 for the others.
int param_of(int mac_id, const ZQ_CSP_SuiteParam *param, unsigned *word) {
    *word = 0;
    if (mac_id == 15 || mac_id == 16) {
        if (!param) return QRT_CSP_INVALID_INPUT;
        *word = static_cast<unsigned>(mac_id == 15 ? param->rc2.effectiveBits : param->rc5.rounds);
    }
    return 0;
}

// The older forms' numbers.
int old_core(int alg) {
    switch (alg) {
        case 0:
            return 516;
        case 1:
            return 523;
        case 2:
            return WJ_MAC_X919;
        default:
            return 0;
    }
}

int old_mac(int alg, const BIN *key, const BIN *in, unsigned char *mac, unsigned *n) {
    int core = old_core(alg);
    if (!core) return QRT_CSP_UNKNOWN_ID;
    if (in->length && !in->value) return QRT_CSP_INVALID_INPUT;
    if (int rc = state_gate()) return rc;
    SecretKey sk;
    if (int rc = key_of(key, core, sk)) return rc;
    return WJC_MAC(mac, n, in->value, in->length, &sk.k, core, nullptr) ? QRT_CSP_INTERNAL : 0;
}

}  // namespace

extern "C" {

QRT_API int QRT_CSP_MACInit(ZQ_CSP_CTX *ctx, const BIN *key, int macID, const ZQ_CSP_SuiteParam *param) {
    if (!ctx || !key) return QRT_CSP_INVALID_INPUT;
    // The record may be uninitialised: it is set empty, not released (callers reset it first).
    *ctx = ZQ_CSP_CTX{0, nullptr};
    if (int rc = state_gate()) return OSTREL_FAIL(rc);
    const PublicMac *m = find_mac(macID);
    if (!m) return OSTREL_FAIL(QRT_CSP_UNKNOWN_ID);
    unsigned word = 0;
    if (int rc = param_of(macID, param, &word)) return rc;
    SecretKey sk;
    if (int rc = key_of(key, m->core, sk)) return rc == QRT_CSP_INVALID_INPUT ? rc : OSTREL_FAIL(rc);
    ctx->ctxID = 3;
    WJC_MAC_CTX *mc = WJC_MAC_CTX_New();
    if (!mc) return OSTREL_FAIL(QRT_CSP_MALLOC_FAILED);
    ctx->ctx = mc;
    if (int rc = WJC_MAC_Init(mc, &sk.k, m->core, &word)) {
        OSTREL_CORE_FAIL("WJ_MAC_Init", rc);
        return OSTREL_FAIL(QRT_CSP_CRYPTO_FAILED);
    }
    return 0;
}

QRT_API int QRT_CSP_MACUpdate(ZQ_CSP_CTX *ctx, const BIN *in) {
    if (!ctx || !in || ctx->ctxID != 3 || !ctx->ctx) return QRT_CSP_INVALID_INPUT;
    if (int rc = state_gate()) return OSTREL_FAIL(rc);
    if (in->length == 0) return 0;
    if (!in->value) return QRT_CSP_INVALID_INPUT;
    if (int rc = WJC_MAC_Update(static_cast<WJC_MAC_CTX *>(ctx->ctx), in->value, in->length)) {
        OSTREL_CORE_FAIL("WJ_MAC_Update", rc);
        return OSTREL_FAIL(QRT_CSP_CRYPTO_FAILED);
    }
    return 0;
}

QRT_API int QRT_CSP_MACFinal(ZQ_CSP_CTX *ctx, BIN *out) {
    if (!ctx || !out || ctx->ctxID != 3 || !ctx->ctx) return QRT_CSP_INVALID_INPUT;
    *out = BIN{0, nullptr};
    if (int rc = state_gate()) return OSTREL_FAIL(rc);
    unsigned char v[WJ_MAC_MAX_LENGTH];
    unsigned n = 0;
    if (int rc = WJC_MAC_Final(static_cast<WJC_MAC_CTX *>(ctx->ctx), v, &n)) {
        OSTREL_CORE_FAIL("WJ_MAC_Final", rc);
        return OSTREL_FAIL(QRT_CSP_CRYPTO_FAILED);
    }
    if (int rc = copy_mac(out, v, n)) return OSTREL_FAIL(rc);
    return 0;
}

QRT_API int QRT_CSP_MAC(BIN *out, const BIN *in, const BIN *key, int macID, const ZQ_CSP_SuiteParam *param) {
    if (!out || !in || !key) return QRT_CSP_INVALID_INPUT;
    *out = BIN{0, nullptr};
    if (in->length && !in->value) return QRT_CSP_INVALID_INPUT;
    if (int rc = state_gate()) return OSTREL_FAIL(rc);
    const PublicMac *m = find_mac(macID);
    if (!m) return OSTREL_FAIL(QRT_CSP_UNKNOWN_ID);
    unsigned word = 0;
    if (int rc = param_of(macID, param, &word)) return rc;
    SecretKey sk;
    if (int rc = key_of(key, m->core, sk)) return rc == QRT_CSP_INVALID_INPUT ? rc : OSTREL_FAIL(rc);
    unsigned char v[WJ_MAC_MAX_LENGTH];
    unsigned n = 0;
    // The core's one-shot MAC keeps its hash contexts per thread: no allocation per call.
    if (int rc = WJC_MAC(v, &n, in->value, in->length, &sk.k, m->core, &word)) {
        OSTREL_CORE_FAIL("WJ_MAC", rc);
        return OSTREL_FAIL(QRT_CSP_CRYPTO_FAILED);
    }
    if (int rc = copy_mac(out, v, n)) return OSTREL_FAIL(rc);
    return 0;
}

QRT_API int QRT_CSP_GetMACInfo(ZQ_CSP_MACInfo *info, int macID) {
    if (!info) return QRT_CSP_INVALID_INPUT;
    const PublicMac *m = find_mac(macID);
    if (!m) return OSTREL_FAIL(QRT_CSP_UNKNOWN_ID);
    if (m->info_hash) {
        ZQ_CSP_HashInfo h{};
        if (int rc = QRT_CSP_GetHashInfo(&h, m->info_hash)) return OSTREL_FAIL(rc);
        *info = ZQ_CSP_MACInfo{h.hashLength, h.hashLength / 2, h.hashLength / 2, h.blockLength, 1};
        return 0;
    }
    if (m->info_cipher) {
        ZQ_CSP_CipherInfo c{};
        if (int rc = QRT_CSP_GetCipherInfo(&c, m->info_cipher)) return OSTREL_FAIL(rc);
        *info = ZQ_CSP_MACInfo{c.blockLength, c.keyLength, c.minKeyLength, c.maxKeyLength, c.stepKeyLength};
        return 0;
    }
    if (macID == 25) {
        *info = ZQ_CSP_MACInfo{8, 16, 16, 16, 0};
        return 0;
    }
    return OSTREL_FAIL(QRT_CSP_UNKNOWN_ID);  // 18: the core keeps its sizes to itself
}

QRT_API int QRT_MacBin(int alg, int unused, const BIN *key, const BIN *in, BIN *out) {
    (void)unused;
    if (!key || !in || !out) return QRT_CSP_INVALID_INPUT;
    *out = BIN{0, nullptr};
    unsigned char v[WJ_MAC_MAX_LENGTH];
    unsigned n = 0;
    if (int rc = old_mac(alg, key, in, v, &n)) return rc;
    return copy_mac(out, v, n);
}

QRT_API int QRT_MacVerifyBin(int alg, int unused, const BIN *key, const BIN *in, const BIN *mac) {
    (void)unused;
    if (!key || !in || !mac || (mac->length && !mac->value)) return QRT_CSP_INVALID_INPUT;
    unsigned char v[WJ_MAC_MAX_LENGTH];
    unsigned n = 0;
    if (int rc = old_mac(alg, key, in, v, &n)) return rc;
    // A truncated MAC is compared on its own length; an empty one, or one longer than the
    // computed value, never matches.
    if (mac->length == 0 || mac->length > n) return QRT_CSP_INVALID_MAC;
    return ct_equal(v, mac->value, mac->length) ? 0 : QRT_CSP_INVALID_MAC;
}

}  // extern "C"
