// BIN byte buffers and ZQ_BIN_LIST lists of buffers.
#include <cstring>

#include "io_internal.h"
#include "ostrel/owners.hpp"

extern "C" {

QRT_API BIN *QRT_BIN_New(void) { return static_cast<BIN *>(QRT_calloc(1, sizeof(BIN))); }

QRT_API void QRT_BIN_Reset(BIN *bin) {
    if (!bin) return;
    if (bin->value) {
        ostrel::wipe(bin->value, bin->length);
        QRT_free(bin->value);
    }
    bin->value = nullptr;
    bin->length = 0;
}

QRT_API void QRT_FreeBin(BIN *bin) { QRT_BIN_Reset(bin); }

QRT_API void QRT_BIN_Free(BIN *bin) {
    if (!bin) return;
    QRT_BIN_Reset(bin);
    QRT_free(bin);
}

QRT_API int QRT_BIN_Set(BIN *bin, const unsigned char *data, int len) {
    if (!bin || !data || len < 0) return QRT_IO_INVALID_INPUT;
    bin->length = 0;
    bin->value = nullptr;
    if (len == 0) return 0;
    auto *p = static_cast<unsigned char *>(QRT_calloc(static_cast<size_t>(len) + 1, 1));
    if (!p) return QRT_IO_MALLOC_FAILED;
    std::memcpy(p, data, static_cast<size_t>(len));
    bin->value = p;
    bin->length = static_cast<unsigned int>(len);
    return 0;
}

QRT_API int QRT_BIN_Copy(BIN *dst, const BIN *src) {
    if (!dst || !src) return QRT_IO_INVALID_INPUT;
    dst->length = 0;
    dst->value = nullptr;
    if (src->length == 0) return 0;
    if (!src->value) return QRT_IO_INVALID_INPUT;
    auto *p = static_cast<unsigned char *>(QRT_malloc(src->length));
    if (!p) return OSTREL_FAIL(QRT_IO_MALLOC_FAILED);
    std::memcpy(p, src->value, src->length);
    dst->value = p;
    dst->length = src->length;
    return 0;
}

QRT_API int QRT_BIN_Cmp(const BIN *a, const BIN *b) {
    if (!a || !b) return 1;
    if (a->length != b->length) return 1;
    if (a->length == 0) return 0;
    if (!a->value || !b->value) return 1;
    return std::memcmp(a->value, b->value, a->length) == 0 ? 0 : 1;
}

QRT_API ZQ_BIN_LIST *QRT_BIN_LIST_New(void) {
    return static_cast<ZQ_BIN_LIST *>(QRT_calloc(1, sizeof(ZQ_BIN_LIST)));
}

// Releases the chain iteratively, so very long lists cannot exhaust the stack.
QRT_API void QRT_BIN_LIST_Reset(ZQ_BIN_LIST *node) {
    if (!node) return;
    ZQ_BIN_LIST *p = node->next;
    while (p) {
        ZQ_BIN_LIST *next = p->next;
        QRT_BIN_Reset(&p->value);
        QRT_free(p);
        p = next;
    }
    QRT_BIN_Reset(&node->value);
    std::memset(node, 0, sizeof *node);
}

QRT_API void QRT_BIN_LIST_Free(ZQ_BIN_LIST *node) {
    if (!node) return;
    QRT_BIN_LIST_Reset(node);
    QRT_free(node);
}

QRT_API int QRT_BIN_LIST_Add(ZQ_BIN_LIST **head, const BIN *bin) {
    if (!head || !bin || !bin->value) return QRT_IO_INVALID_INPUT;
    ZQ_BIN_LIST *node = QRT_BIN_LIST_New();
    if (!node) return OSTREL_FAIL(QRT_IO_MALLOC_FAILED);
    int rc = QRT_BIN_Copy(&node->value, bin);
    if (rc) {
        QRT_free(node);
        return OSTREL_FAIL(rc);
    }
    ZQ_BIN_LIST **tail = head;
    while (*tail) tail = &(*tail)->next;
    *tail = node;
    return 0;
}

QRT_API int QRT_BIN_LIST_Copy(ZQ_BIN_LIST *dst, const ZQ_BIN_LIST *src) {
    if (!dst || !src) return QRT_IO_INVALID_INPUT;
    std::memset(dst, 0, sizeof *dst);
    ZQ_BIN_LIST *out = dst;
    for (const ZQ_BIN_LIST *in = src; in; in = in->next) {
        int rc = QRT_BIN_Copy(&out->value, &in->value);
        if (!rc && in->next) {
            out->next = QRT_BIN_LIST_New();
            if (!out->next) rc = QRT_IO_MALLOC_FAILED;
        }
        if (rc) {
            QRT_BIN_LIST_Reset(dst);
            return OSTREL_FAIL(rc);
        }
        out = out->next;
    }
    return 0;
}

}  // extern "C"
