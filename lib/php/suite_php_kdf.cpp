// The key derivation that stretches the weak password to the length of the server's modulus.
#include <cstring>

#include "ostrel/owners.hpp"
#include "php_internal.h"
#include "suite_crypto.h"

using namespace ostrel::php;

namespace {

constexpr unsigned kSha1Length = 20;
// Block i appends i+1 copies of 'A'+i; past block 190 the character would leave the byte range.
constexpr int kMaxBlocks = 191;

// SHA-1(password || (i+1) x ('A'+i) || previous block, for i > 0).
int kdf_block(uint8_t *out, int i, const ZQ_PHP_DATA &password, const uint8_t *prev) {
    WJ_HASH_CTX *h = WJC_HASH_CTX_New();
    if (!h) return QRT_PHP_MALLOC_FAILED;
    uint8_t pad[kMaxBlocks];
    std::memset(pad, 'A' + i, static_cast<size_t>(i + 1));
    unsigned n = 0;
    uint8_t md[WJ_HASH_MAX_LENGTH];
    int rc = WJ_Hash_Init(h, WJ_HASH_SHA1);
    if (!rc && password.len) rc = WJ_Hash_Update(h, password.data, password.len);
    if (!rc) rc = WJ_Hash_Update(h, pad, static_cast<unsigned>(i + 1));
    if (!rc && prev) rc = WJ_Hash_Update(h, prev, kSha1Length);
    if (!rc) rc = WJ_Hash_Final(h, md, &n);
    WJC_HASH_CTX_Free(h);
    if (rc || n != kSha1Length) return QRT_PHP_INTERNAL;
    std::memcpy(out, md, kSha1Length);
    ostrel::wipe(md, sizeof md);
    return 0;
}

}  // namespace

extern "C" {

QRT_API int QRT_PHP_ComputeKDF(ZQ_PHP_DATA *out, int length, const ZQ_PHP_DATA *password) {
    if (!out || !valid(password)) return QRT_PHP_INVALID_INPUT;
    *out = ZQ_PHP_DATA{0, nullptr};
    const int blocks = (length + static_cast<int>(kSha1Length) - 1) / static_cast<int>(kSha1Length);
    if (length <= 0 || blocks > kMaxBlocks) return OSTREL_FAIL(QRT_PHP_INVALID_INPUT);
    return OSTREL_GUARD_TRACE([&] {
        Bytes stream(static_cast<size_t>(blocks) * kSha1Length);
        for (int i = 0; i < blocks; ++i) {
            uint8_t *block = stream.v.data() + static_cast<size_t>(i) * kSha1Length;
            if (int r = kdf_block(block, i, *password, i ? block - kSha1Length : nullptr)) return r;
        }
        return set_data(out, stream.v.data(), static_cast<size_t>(length));
    });
}

}  // extern "C"
