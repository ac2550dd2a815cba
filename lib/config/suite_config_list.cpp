// Key entries and value nodes: making, filling, searching, walking, printing and releasing.
#include <cstdio>
#include <cstring>

#include "config_internal.h"

namespace ostrel::config {

char *copy_text(const char *text, size_t n) {
    auto *p = static_cast<char *>(QRT_malloc(n + 1));
    if (!p) return nullptr;
    memcpy(p, text, n);
    p[n] = '\0';
    return p;
}

namespace {

size_t hash_of(const char *s) {
    size_t h = 1469598103934665603ull;  // FNV-1a
    for (; *s; ++s) h = (h ^ static_cast<unsigned char>(*s)) * 1099511628211ull;
    return h;
}

}  // namespace

bool KeyIndex::contains(const char *key) const {
    if (!capacity_) return false;
    for (size_t i = hash_of(key) & (capacity_ - 1);; i = (i + 1) & (capacity_ - 1)) {
        if (!slots_[i]) return false;
        if (strcmp(slots_[i], key) == 0) return true;
    }
}

bool KeyIndex::insert(const char *key) {
    if (2 * (count_ + 1) > capacity_) {
        size_t grown = capacity_ ? 2 * capacity_ : 64;
        auto *fresh = static_cast<const char **>(QRT_calloc(grown, sizeof(const char *)));
        if (!fresh) return false;
        for (size_t j = 0; j < capacity_; ++j) {
            if (!slots_[j]) continue;
            size_t i = hash_of(slots_[j]) & (grown - 1);
            while (fresh[i]) i = (i + 1) & (grown - 1);
            fresh[i] = slots_[j];
        }
        QRT_free(slots_);
        slots_ = fresh;
        capacity_ = grown;
    }
    size_t i = hash_of(key) & (capacity_ - 1);
    while (slots_[i]) i = (i + 1) & (capacity_ - 1);
    slots_[i] = key;
    ++count_;
    return true;
}

namespace {

// A new entry holding a copy of `key` and an empty value node, or a code.
int new_entry(const char *key, ZQ_ENV_LIST **out) {
    ZQ_ENV_LIST *e = nullptr;
    if (int r = QRT_InitEnvListElement(&e)) return r;
    e->key = copy_text(key, strlen(key));
    if (!e->key) {
        QRT_free(e);
        return OSTREL_FAIL_AS("QRT_AddKeyIntoEnvList", QRT_CONFIG_KEY_MEMORY);
    }
    if (int r = QRT_InitValueListElement(&e->value)) {
        QRT_free(e->key);
        QRT_free(e);
        return r;
    }
    *out = e;
    return 0;
}

// Gives the empty first entry its key text and empty value node.
int fill_first(ZQ_ENV_LIST *list, const char *key) {
    char *text = copy_text(key, strlen(key));
    if (!text) return OSTREL_FAIL_AS("QRT_AddKeyIntoEnvList", QRT_CONFIG_KEY_MEMORY);
    if (!list->value) {
        if (int r = QRT_InitValueListElement(&list->value)) {
            QRT_free(text);
            return r;
        }
    }
    list->key = text;
    return 0;
}

}  // namespace

// Adds `key` to the list; with an index the duplicate check and the append need no walk.
int add_key(ZQ_ENV_LIST *list, const char *key, KeyIndex *index, ZQ_ENV_LIST **added) {
    if (index) {
        if (index->contains(key)) return OSTREL_FAIL_AS("QRT_AddKeyIntoEnvList", QRT_CONFIG_DUPLICATE_KEY);
    } else if (QRT_SearchKeyFromEnvList(list, key)) {
        return OSTREL_FAIL_AS("QRT_AddKeyIntoEnvList", QRT_CONFIG_DUPLICATE_KEY);
    }
    ZQ_ENV_LIST *entry = nullptr;
    if (!list->key) {
        if (int r = fill_first(list, key)) return r;
        entry = list;
    } else {
        if (int r = new_entry(key, &entry)) return r;
        ZQ_ENV_LIST *tail = index && index->last ? index->last : list;
        while (tail->next) tail = tail->next;
        tail->next = entry;
    }
    if (index) {
        index->last = entry;
        // The entry is already part of the list, which the caller releases on failure.
        if (!index->insert(entry->key)) return OSTREL_FAIL_AS("QRT_AddKeyIntoEnvList", QRT_CONFIG_ENV_LIST_MEMORY);
    }
    if (added) *added = entry;
    return 0;
}

}  // namespace ostrel::config

using namespace ostrel::config;

extern "C" {

QRT_API int QRT_InitEnvListElement(ZQ_ENV_LIST **out) {
    if (!out) return QRT_CONFIG_NULL_KEY_LIST;
    *out = static_cast<ZQ_ENV_LIST *>(QRT_calloc(1, sizeof(ZQ_ENV_LIST)));
    return *out ? 0 : OSTREL_FAIL(QRT_CONFIG_ENV_LIST_MEMORY);
}

QRT_API int QRT_InitValueListElement(ZQ_VALUE_LIST **out) {
    if (!out) return QRT_CONFIG_NULL_VALUE_LIST;
    *out = static_cast<ZQ_VALUE_LIST *>(QRT_calloc(1, sizeof(ZQ_VALUE_LIST)));
    return *out ? 0 : OSTREL_FAIL(QRT_CONFIG_VALUE_LIST_MEMORY);
}

QRT_API int QRT_AddKeyIntoEnvList(ZQ_ENV_LIST *list, const char *key) {
    if (!list) return QRT_CONFIG_NULL_KEY_LIST;
    if (!key) return QRT_CONFIG_KEY_MEMORY;
    return add_key(list, key, nullptr, nullptr);
}

QRT_API int QRT_AddValueIntoValueList(ZQ_VALUE_LIST *node, const char *value) {
    if (!node) return QRT_CONFIG_NULL_VALUE_LIST;
    if (!value) return QRT_CONFIG_VALUE_MEMORY;
    char *text = copy_text(value, strlen(value));
    if (!text) return OSTREL_FAIL(QRT_CONFIG_VALUE_MEMORY);
    for (ZQ_VALUE_LIST *n = node;; n = n->next) {
        if (!n->value) {
            n->value = text;
            return 0;
        }
        if (!n->next) {
            if (int r = QRT_InitValueListElement(&n->next)) {
                QRT_free(text);
                return OSTREL_FAIL(r);
            }
            n->next->value = text;
            return 0;
        }
    }
}

QRT_API ZQ_ENV_LIST *QRT_SearchKeyFromEnvList(ZQ_ENV_LIST *list, const char *key) {
    if (!key) return nullptr;
    for (ZQ_ENV_LIST *e = list; e; e = e->next)
        if (e->key && strcmp(e->key, key) == 0) return e;
    return nullptr;
}

QRT_API const char *QRT_GetConfValue(const ZQ_ENV_LIST *list, const char *key) {
    const ZQ_ENV_LIST *e = QRT_SearchKeyFromEnvList(const_cast<ZQ_ENV_LIST *>(list), key);
    return e && e->value ? e->value->value : nullptr;
}

QRT_API ZQ_VALUE_LIST *QRT_FirstValueElement(const ZQ_ENV_LIST *entry) {
    if (!entry || !entry->value || !entry->value->value) return nullptr;
    return entry->value;
}

QRT_API ZQ_VALUE_LIST *QRT_NextValueElement(const ZQ_VALUE_LIST *node) { return node ? node->next : nullptr; }

QRT_API const char *QRT_GetEnvValue(const ZQ_VALUE_LIST *node) { return node ? node->value : nullptr; }

QRT_API int QRT_PrintEnvList(const ZQ_ENV_LIST *list) {
    if (!list) return QRT_CONFIG_LIST_NOT_INITIALIZED;
    for (const ZQ_ENV_LIST *e = list; e; e = e->next) {
        if (!e->key) continue;
        printf("[%s] : ", e->key);
        bool any = false;
        for (const ZQ_VALUE_LIST *v = e->value; v; v = v->next) {
            if (!v->value) continue;
            printf("%s\n", v->value);
            any = true;
        }
        if (!any) putchar('\n');
    }
    fflush(stdout);
    return 0;
}

QRT_API void QRT_FreeEnvList(ZQ_ENV_LIST *list) {
    while (list) {
        ZQ_ENV_LIST *next = list->next;
        for (ZQ_VALUE_LIST *v = list->value; v;) {
            ZQ_VALUE_LIST *vn = v->next;
            QRT_free(v->value);
            QRT_free(v);
            v = vn;
        }
        QRT_free(list->key);
        QRT_free(list);
        list = next;
    }
}

}  // extern "C"
