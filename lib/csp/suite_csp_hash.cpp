// Hashes: public numbering, Init/Update/Final, one shot, and the older QRT_HashBin.
#include <cstring>

#include "csp_internal.h"
#include "ostrel/owners.hpp"

using namespace ostrel;
using namespace ostrel::csp;

namespace {

struct PublicHash {
    int id, core;
    ZQ_CSP_HashInfo info;
};
constexpr PublicHash kHashes[] = {
    {1, WJ_HASH_MD2, {16, 16}},     {2, WJ_HASH_MD5, {16, 64}},       {3, WJ_HASH_SHA1, {20, 64}},
    {4, WJ_HASH_HAS160, {20, 64}},  {5, WJ_HASH_RIPEMD160, {20, 64}}, {6, WJ_HASH_SHA256, {32, 64}},
    {7, WJ_HASH_SHA384, {48, 128}}, {8, WJ_HASH_SHA512, {64, 128}},   {9, WJ_HASH_SHA224, {28, 64}},
};

const PublicHash *find_hash(int id) {
    for (const PublicHash &h : kHashes)
        if (h.id == id) return &h;
    return nullptr;
}

int copy_digest(BIN *out, const unsigned char *md, unsigned n) {
    auto *p = static_cast<unsigned char *>(QRT_malloc(n ? n : 1));
    if (!p) return QRT_CSP_MALLOC_FAILED;
    std::memcpy(p, md, n);
    *out = BIN{n, p};
    return 0;
}

}  // namespace

int ostrel::csp::core_hash(int hash_id) {
    const PublicHash *h = find_hash(hash_id);
    return h ? h->core : 0;
}

extern "C" {

QRT_API int QRT_CSP_HashInit(ZQ_CSP_CTX *ctx, int hashID) {
    if (!ctx) return QRT_CSP_INVALID_INPUT;
    // The record may be uninitialised: it is set empty, not released (callers reset it first).
    *ctx = ZQ_CSP_CTX{0, nullptr};
    if (int rc = state_gate()) return OSTREL_FAIL(rc);
    const PublicHash *h = find_hash(hashID);
    if (!h) return OSTREL_FAIL(QRT_CSP_UNKNOWN_ID);
    ctx->ctxID = 2;
    WJC_HASH_CTX *hc = WJC_HASH_CTX_New();
    if (!hc) return OSTREL_FAIL(QRT_CSP_MALLOC_FAILED);
    ctx->ctx = hc;
    if (int rc = WJC_Hash_Init(hc, h->core)) {
        OSTREL_CORE_FAIL("WJ_Hash_Init", rc);
        return OSTREL_FAIL(QRT_CSP_CRYPTO_FAILED);
    }
    return 0;
}

QRT_API int QRT_CSP_HashUpdate(ZQ_CSP_CTX *ctx, const BIN *in) {
    if (!ctx || !in || ctx->ctxID != 2 || !ctx->ctx) return QRT_CSP_INVALID_INPUT;
    if (int rc = state_gate()) return OSTREL_FAIL(rc);
    if (in->length == 0) return 0;
    if (!in->value) return QRT_CSP_INVALID_INPUT;
    if (int rc = WJC_Hash_Update(static_cast<WJC_HASH_CTX *>(ctx->ctx), in->value, in->length)) {
        OSTREL_CORE_FAIL("WJ_Hash_Update", rc);
        return OSTREL_FAIL(QRT_CSP_CRYPTO_FAILED);
    }
    return 0;
}

QRT_API int QRT_CSP_HashFinal(ZQ_CSP_CTX *ctx, BIN *out) {
    if (!ctx || !out || ctx->ctxID != 2 || !ctx->ctx) return QRT_CSP_INVALID_INPUT;
    *out = BIN{0, nullptr};
    if (int rc = state_gate()) return OSTREL_FAIL(rc);
    unsigned char md[WJ_HASH_MAX_LENGTH];
    unsigned n = 0;
    if (int rc = WJC_Hash_Final(static_cast<WJC_HASH_CTX *>(ctx->ctx), md, &n)) {
        OSTREL_CORE_FAIL("WJ_Hash_Final", rc);
        return OSTREL_FAIL(QRT_CSP_CRYPTO_FAILED);
    }
    if (int rc = copy_digest(out, md, n)) return OSTREL_FAIL(rc);
    return 0;
}

QRT_API int QRT_CSP_Hash(BIN *out, const BIN *in, int hashID) {
    if (!out || !in) return QRT_CSP_INVALID_INPUT;
    *out = BIN{0, nullptr};
    if (in->length && !in->value) return QRT_CSP_INVALID_INPUT;
    if (int rc = state_gate()) return OSTREL_FAIL(rc);
    const PublicHash *h = find_hash(hashID);
    if (!h) return OSTREL_FAIL(QRT_CSP_UNKNOWN_ID);
    unsigned char md[WJ_HASH_MAX_LENGTH];
    unsigned n = 0;
    if (int rc = WJC_Hash(md, &n, in->value, in->length, h->core)) {
        OSTREL_CORE_FAIL("WJ_Hash", rc);
        return OSTREL_FAIL(QRT_CSP_CRYPTO_FAILED);
    }
    if (int rc = copy_digest(out, md, n)) return OSTREL_FAIL(rc);
    return 0;
}

QRT_API int QRT_CSP_GetHashInfo(ZQ_CSP_HashInfo *info, int hashID) {
    if (!info) return QRT_CSP_INVALID_INPUT;
    const PublicHash *h = find_hash(hashID);
    if (!h) return OSTREL_FAIL(QRT_CSP_UNKNOWN_ID);
    *info = h->info;
    return 0;
}

QRT_API int QRT_HashBin(int alg, const BIN *in, BIN *out) {
    if (!in || !out) return QRT_CSP_INVALID_INPUT;
    *out = BIN{0, nullptr};
    if (in->length && !in->value) return QRT_CSP_INVALID_INPUT;
    static constexpr int kCore[] = {WJ_HASH_MD2, WJ_HASH_MD5, WJ_HASH_SHA1, 0, WJ_HASH_RIPEMD160, WJ_HASH_HAS160};
    if (alg < 0 || alg > 5 || kCore[alg] == 0) return QRT_CSP_UNKNOWN_ID;
    if (int rc = state_gate(false)) return rc;
    unsigned char md[WJ_HASH_MAX_LENGTH];
    unsigned n = 0;
    if (WJC_Hash(md, &n, in->value, in->length, kCore[alg])) return QRT_CSP_INTERNAL;
    return copy_digest(out, md, n);
}

}  // extern "C"
