// Sets of BINs (certificates, CRLs) and the small buffer helpers of the library.
#include <cstring>
#include <new>

#include "pkcs7_internal.h"

using namespace ostrel;
using namespace ostrel::pkcs7;

namespace ostrel::pkcs7 {

BIN *new_bin(const void *p, size_t n) {
    if (n > 0x7fffffffu) throw std::bad_alloc();
    BIN *b = QRT_BIN_New();
    if (!b) throw std::bad_alloc();
    if (n && QRT_BIN_Set(b, static_cast<const unsigned char *>(p), static_cast<int>(n)) != 0) {
        QRT_BIN_Free(b);
        throw std::bad_alloc();
    }
    return b;
}

void free_bin(BIN *&b) {
    if (!b) return;
    if (b->value) wipe(b->value, b->length);
    QRT_BIN_Free(b);
    b = nullptr;
}

void alloc_bin(BIN *out, size_t n) {
    QRT_BIN_Reset(out);
    if (n > 0x7fffffffu) throw std::bad_alloc();
    if (!n) return;
    out->value = static_cast<unsigned char *>(QRT_malloc(n));
    if (!out->value) throw std::bad_alloc();
    out->length = static_cast<unsigned>(n);
}

void set_bin(BIN *out, const void *p, size_t n) {
    QRT_BIN_Reset(out);
    if (n > 0x7fffffffu) throw std::bad_alloc();
    if (n && QRT_BIN_Set(out, static_cast<const unsigned char *>(p), static_cast<int>(n)) != 0) throw std::bad_alloc();
}

}  // namespace ostrel::pkcs7

extern "C" {

QRT_API int QRT_PKCS7_BIN_SET_Add(ZQ_PKCS7_BIN_SET **set, const BIN *value) {
    if (!set || !value || (value->length && !value->value)) return QRT_PKCS7_INVALID_INPUT;
    return OSTREL_GUARD([&] {
        auto *node = static_cast<ZQ_PKCS7_BIN_SET *>(QRT_malloc(sizeof(ZQ_PKCS7_BIN_SET)));
        if (!node) throw std::bad_alloc();
        *node = ZQ_PKCS7_BIN_SET{{0, nullptr}, nullptr};
        if (value->length && QRT_BIN_Set(&node->value, value->value, static_cast<int>(value->length)) != 0) {
            QRT_free(node);
            throw std::bad_alloc();
        }
        ZQ_PKCS7_BIN_SET **tail = set;
        while (*tail) tail = &(*tail)->next;
        *tail = node;
        return 0;
    });
}

QRT_API int QRT_PKCS7_BIN_SET_Count(const ZQ_PKCS7_BIN_SET *set) {
    int n = 0;
    for (; set; set = set->next) ++n;
    return n;
}

QRT_API const BIN *QRT_PKCS7_BIN_SET_Get(const ZQ_PKCS7_BIN_SET *set, int index) {
    if (index < 0) return nullptr;
    for (; set; set = set->next, --index)
        if (index == 0) return &set->value;
    return nullptr;
}

QRT_API void QRT_PKCS7_BIN_SET_Free(ZQ_PKCS7_BIN_SET *set) {
    while (set) {
        ZQ_PKCS7_BIN_SET *next = set->next;
        QRT_BIN_Reset(&set->value);
        QRT_free(set);
        set = next;
    }
}

}  // extern "C"
