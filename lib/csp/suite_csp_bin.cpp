// BIN helpers for output buffers: merge two buffers, prepare a zeroed buffer of a length.
#include <cstring>

#include "csp_internal.h"
#include "ostrel/owners.hpp"

using namespace ostrel;

extern "C" {

QRT_API int QRT_CSP_BIN_Resize(BIN *bin, unsigned int length) {
    if (!bin) return QRT_CSP_INVALID_INPUT;
    if (bin->value && length <= bin->length) {
        wipe(bin->value, length);
        bin->length = length;
        return 0;
    }
    QRT_BIN_Reset(bin);
    if (length == 0) return 0;
    auto *p = static_cast<unsigned char *>(QRT_calloc(length, 1));
    if (!p) return OSTREL_PK_FAIL_AS(__func__, QRT_CSP_MALLOC_FAILED);  // quiet inside the older forms
    *bin = BIN{length, p};
    return 0;
}

QRT_API int QRT_CSP_BIN_Merge(BIN *out, const BIN *a, const BIN *b) {
    if (!out || (!a && !b)) return QRT_CSP_INVALID_INPUT;
    *out = BIN{0, nullptr};
    if ((a && a->length && !a->value) || (b && b->length && !b->value)) return QRT_CSP_INVALID_INPUT;
    unsigned la = a ? a->length : 0, lb = b ? b->length : 0;
    if (la > UINT32_MAX - lb) return QRT_CSP_INVALID_INPUT;
    if (la + lb == 0) return 0;
    auto *p = static_cast<unsigned char *>(QRT_malloc(la + lb));
    if (!p) return OSTREL_FAIL(QRT_CSP_MALLOC_FAILED);
    if (la) std::memcpy(p, a->value, la);
    if (lb) std::memcpy(p + la, b->value, lb);
    *out = BIN{la + lb, p};
    return 0;
}

}  // extern "C"
