// The two buffer helpers: a zeroed copy and a zeroed allocation.
#include <cstring>

#include "pkcs5_internal.h"

namespace ostrel::pkcs5 {

void bin_assign(BIN *b, const void *src, size_t n) {
    *b = BIN{0, nullptr};
    if (n == 0) return;
    // One spare zero byte, as the I/O core's buffers carry, so a BIN may be read as a C string.
    auto *p = static_cast<unsigned char *>(QRT_calloc(n + 1, 1));
    if (!p) throw std::bad_alloc();
    if (src) std::memcpy(p, src, n);
    b->value = p;
    b->length = static_cast<unsigned>(n);
}

}  // namespace ostrel::pkcs5

using namespace ostrel::pkcs5;

extern "C" {

QRT_API int QRT_PKCS5_BIN_Set(BIN *b, const void *src, int len) {
    return OSTREL_GUARD(b && src && len >= 0, [&] {
        bin_assign(b, src, static_cast<size_t>(len));
        return 0;
    });
}

QRT_API int QRT_PKCS5_BIN_Resize(BIN *b, int len) {
    return OSTREL_GUARD(b && len >= 0, [&] {
        bin_assign(b, nullptr, static_cast<size_t>(len));
        return 0;
    });
}

}  // extern "C"
