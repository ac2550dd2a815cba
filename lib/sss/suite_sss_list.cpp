// Share lists and share sets.
#include <cstring>
#include <new>

#include "ostrel/owners.hpp"
#include "sss_internal.h"

namespace ostrel::sss {

void clear_set(ZQ_SSS_SHARE *set) {
    QRT_SSS_BLIST_Free(set->list);
    set->list = nullptr;
    set->num = 0;
}

void append_share(ZQ_SSS_SHARE *set, ZQ_SSS_BLIST *&tail, const uint8_t *bytes, size_t n) {
    ZQ_SSS_BLIST *node = QRT_SSS_BLIST_New(static_cast<int>(n));
    if (!node) throw std::bad_alloc();
    if (n) std::memcpy(node->data, bytes, n);
    if (tail)
        tail->next = node;
    else
        set->list = node;
    tail = node;
    ++set->num;
}

int first_shares(const ZQ_SSS_SHARE *set, uint32_t want, std::vector<const ZQ_SSS_BLIST *> &out) {
    out.clear();
    if (set->num < 0) return QRT_SSS_BAD_SHARE;
    // Walk at most num + 1 nodes, so a list longer than stated (or a cycle) stops the walk.
    uint32_t count = 0;
    const uint32_t stated = static_cast<uint32_t>(set->num);
    for (const ZQ_SSS_BLIST *p = set->list; p; p = p->next) {
        if (++count > stated) return QRT_SSS_BAD_SHARE;
        if (out.size() < want) out.push_back(p);
    }
    if (count != stated || count < want) return QRT_SSS_BAD_SHARE;
    return 0;
}

int to_bin(BIN *out, const uint8_t *bytes, size_t n) {
    if (n > 0xffffffffu) return QRT_SSS_INTERNAL;
    auto *buf = static_cast<unsigned char *>(QRT_malloc(n ? n : 1));
    if (!buf) return QRT_SSS_MALLOC_FAILED;
    if (n) std::memcpy(buf, bytes, n);
    *out = BIN{static_cast<unsigned>(n), buf};
    return 0;
}

}  // namespace ostrel::sss

extern "C" {

QRT_API ZQ_SSS_BLIST *QRT_SSS_BLIST_New(int len) {
    if (len < 0) return nullptr;
    auto *node = static_cast<ZQ_SSS_BLIST *>(QRT_calloc(1, sizeof(ZQ_SSS_BLIST)));
    if (!node) return nullptr;
    if (len > 0) {
        node->data = static_cast<unsigned char *>(QRT_calloc(static_cast<size_t>(len), 1));
        if (!node->data) {
            QRT_free(node);
            return nullptr;
        }
        node->len = len;
    }
    return node;
}

QRT_API void QRT_SSS_BLIST_Free(ZQ_SSS_BLIST *list) {
    while (list) {
        ZQ_SSS_BLIST *next = list->next;
        if (list->data) {
            if (list->len > 0) ostrel::wipe(list->data, static_cast<size_t>(list->len));
            QRT_free(list->data);
        }
        QRT_free(list);
        list = next;
    }
}

QRT_API ZQ_SSS_SHARE *QRT_SSS_CreateShare(void) {
    return static_cast<ZQ_SSS_SHARE *>(QRT_calloc(1, sizeof(ZQ_SSS_SHARE)));
}

QRT_API void QRT_SSS_DestroyShare(ZQ_SSS_SHARE *share) {
    if (!share) return;
    ostrel::sss::clear_set(share);
    QRT_free(share);
}

}  // extern "C"
