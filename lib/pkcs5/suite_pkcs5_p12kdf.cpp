// The PKCS#12 key derivation: the password widened to two bytes per byte with a two-byte
// terminator, then the provider's derivation.
#include "pkcs5_internal.h"

using namespace ostrel::pkcs5;

extern "C" {

QRT_API int QRT_PKCS5_P12KDF(BIN *out, int length, const BIN *password, const ZQ_PKCS5_P12KDF_PARAM *p) {
    if (!out || !password || !p) return QRT_PKCS5_INVALID_INPUT;
    *out = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&]() -> int {
        if (length < 0) return QRT_PKCS5_INVALID_INPUT;
        if (length == 0) return 0;
        switch (p->hashID) {
            case QRT_CSP_HASH_SHA1:
            case QRT_CSP_HASH_SHA224:
            case QRT_CSP_HASH_SHA256:
            case QRT_CSP_HASH_SHA384:
            case QRT_CSP_HASH_SHA512: break;
            default: return QRT_PKCS5_UNKNOWN_ID;
        }
        if (password->length > 0x3FFFFFFF || (password->length && !password->value)) return QRT_PKCS5_INVALID_INPUT;
        // Each byte b becomes 00 b; no code-set conversion. An empty password still gives 00 00.
        BinOwner bmp;
        bin_assign(bmp.get(), nullptr, size_t{password->length} * 2 + 2);
        for (unsigned i = 0; i < password->length; ++i) bmp->value[2 * i + 1] = password->value[i];
        unsigned iterations = p->iterationCount < 1 ? 1u : static_cast<unsigned>(p->iterationCount);
        return QRT_CSP_PKCS12_KDF(out, static_cast<unsigned>(length), bmp.get(), &p->salt, iterations,
                                  p->diversifier & 0xFF, p->hashID);
    });
}

}  // extern "C"
