// Hashes: the numbering, one reusable Hasher over EVP or the hashes written here, and the
// context and one-shot functions.
#include <cstring>
#include <new>

#include "crypto_internal.h"
#include "ostrel/owners.hpp"

namespace ostrel::crypto {

namespace {

const HashInfo kHashes[] = {
    {WJ_HASH_MD2, nullptr, &kMd2, 16, 16},
    {WJ_HASH_MD5, "MD5", nullptr, 16, 64},
    {WJ_HASH_SHA1, "SHA1", nullptr, 20, 64},
    {WJ_HASH_HAS160, nullptr, &kHas160, 20, 64},
    {WJ_HASH_RIPEMD160, "RIPEMD160", nullptr, 20, 64},
    {WJ_HASH_SHA256, "SHA256", nullptr, 32, 64},
    {WJ_HASH_SHA384, "SHA384", nullptr, 48, 128},
    {WJ_HASH_SHA512, "SHA512", nullptr, 64, 128},
    {WJ_HASH_SHA224, "SHA224", nullptr, 28, 64},
};

}  // namespace

const HashInfo *hash_info(int alg) {
    for (const HashInfo &h : kHashes)
        if (h.id == alg) return &h;
    return nullptr;
}

Hasher::~Hasher() {
    EVP_MD_CTX_free(evp_);
    wipe(own_, sizeof own_);
}

int Hasher::init(int alg) {
    const HashInfo *hi = hash_info(alg);
    info_ = nullptr;
    if (!hi) return WJ_ERR_UNKNOWN_ID;
    if (hi->own) {
        hi->own->init(own_);
    } else {
        const EVP_MD *md = fetch_md(hi->evp_name);
        if (!md) return WJ_ERR_UNKNOWN_ID;
        if (!evp_ && !(evp_ = EVP_MD_CTX_new())) return WJ_ERR_MEMORY;
        if (!EVP_DigestInit_ex2(evp_, md, nullptr)) return WJ_ERR_INTERNAL;
    }
    info_ = hi;
    return 0;
}

int Hasher::update(const uint8_t *in, size_t n) {
    if (!info_) return WJ_ERR_BAD_CONTEXT;
    if (n == 0) return 0;
    if (info_->own) {
        info_->own->update(own_, in, n);
        return 0;
    }
    return EVP_DigestUpdate(evp_, in, n) ? 0 : WJ_ERR_INTERNAL;
}

int Hasher::final(uint8_t *out) {
    if (!info_) return WJ_ERR_BAD_CONTEXT;
    const HashInfo *hi = info_;
    info_ = nullptr;  // a finished computation needs a new init
    if (hi->own) {
        hi->own->final(own_, out);
        wipe(own_, hi->own->state_size);
        return 0;
    }
    return EVP_DigestFinal_ex(evp_, out, nullptr) ? 0 : WJ_ERR_INTERNAL;
}

}  // namespace ostrel::crypto

using namespace ostrel;
using namespace ostrel::crypto;

struct _WJC_HASH_CTX {
    Hasher h;
};

extern "C" {

QRT_API WJC_HASH_CTX *WJC_HASH_CTX_New(void) { return new (std::nothrow) WJC_HASH_CTX; }

QRT_API void WJC_HASH_CTX_Free(WJC_HASH_CTX *ctx) { delete ctx; }

QRT_API int WJC_Hash_Init(WJC_HASH_CTX *ctx, int alg) {
    if (!ctx) return WJ_ERR_BAD_ARGUMENT;
    if (int rc = gate()) return rc;
    return ctx->h.init(alg);
}

QRT_API int WJC_Hash_Update(WJC_HASH_CTX *ctx, const unsigned char *in, unsigned int inLength) {
    if (!ctx || (!in && inLength)) return WJ_ERR_BAD_ARGUMENT;
    if (int rc = gate()) return rc;
    return ctx->h.update(in, inLength);
}

QRT_API int WJC_Hash_Final(WJC_HASH_CTX *ctx, unsigned char *out, unsigned int *outLength) {
    if (!ctx || !out || !outLength) return WJ_ERR_BAD_ARGUMENT;
    if (int rc = gate()) return rc;
    if (!ctx->h.ready()) return WJ_ERR_BAD_CONTEXT;
    unsigned n = ctx->h.info()->length;
    int rc = ctx->h.final(out);
    *outLength = rc == 0 ? n : 0;
    return rc;
}

QRT_API int WJC_Hash(unsigned char *out, unsigned int *outLength, const unsigned char *in, unsigned int inLength,
                     int alg) {
    if (!out || !outLength || (!in && inLength)) return WJ_ERR_BAD_ARGUMENT;
    if (int rc = gate()) return rc;
    // One Hasher per thread, so a one-shot digest allocates nothing after the first call.
    thread_local Hasher h;
    int rc = h.init(alg);
    if (rc == 0) rc = h.update(in, inLength);
    if (rc == 0) {
        unsigned n = h.info()->length;
        rc = h.final(out);
        *outLength = rc == 0 ? n : 0;
    }
    return rc;
}

QRT_API int WJC_Hash_GetLength(int alg) {
    const HashInfo *hi = hash_info(alg);
    return hi ? static_cast<int>(hi->length) : WJ_ERR_UNKNOWN_ID;
}

QRT_API int WJC_Hash_GetBlockLength(int alg) {
    const HashInfo *hi = hash_info(alg);
    return hi ? static_cast<int>(hi->block) : WJ_ERR_UNKNOWN_ID;
}

QRT_API int WJ_Hash(unsigned char *out, unsigned int *outLength, const unsigned char *in, unsigned int inLength,
                    int alg) {
    return WJC_Hash(out, outLength, in, inLength, alg);
}
QRT_API int WJ_Hash_Init(WJ_HASH_CTX *ctx, int alg) { return WJC_Hash_Init(ctx, alg); }
QRT_API int WJ_Hash_Update(WJ_HASH_CTX *ctx, const unsigned char *in, unsigned int inLength) {
    return WJC_Hash_Update(ctx, in, inLength);
}
QRT_API int WJ_Hash_Final(WJ_HASH_CTX *ctx, unsigned char *out, unsigned int *outLength) {
    return WJC_Hash_Final(ctx, out, outLength);
}

}  // extern "C"
