// The process-wide cache: six lists (certificates 1, 3, 5; CRLs 11, 12; trust lists 21), each
// under its own read/write lock. Keys are unique within a list (an add under an existing key
// replaces its value), so each list is held as a hash table of its keys: a lookup answers exactly
// as a walk over the list would, in constant time. Lists and locks are initialised statically,
// so there is no first-use race and Initialize never touches a lock that may be held.
//
// Lock order: only Finalize holds more than one list lock, and it takes them in the order
// 5, 3, 1, 11, 12, 21.
#include <cstdint>
#include <cstdlib>

#include "pvd_internal.h"

namespace ostrel::pvd {
namespace {

// One entry in one allocation: this header, the key and its terminating zero, the value.
struct Entry {
    uint32_t hash;
    uint32_t keyLen;
    uint32_t valueLen;

    char *key() { return reinterpret_cast<char *>(this + 1); }
    unsigned char *value() { return reinterpret_cast<unsigned char *>(key() + keyLen + 1); }
};

// An open-addressing table: a lookup compares hashes in the slot arrays and touches only the
// entry it finds. Entries are never removed one by one (only all at once), so no slot is ever
// emptied again.
struct Table {
    uint32_t *hashes;
    Entry **entries;  // nullptr: an empty slot
    size_t cap;       // 0 or a power of two; at most three quarters full
    size_t count;
};

struct List {
    ZQ_PVD_RWLock lock;
    Table table;
};

constexpr int kTypes[6] = {PVD_TYPE_CERT, PVD_TYPE_CA, PVD_TYPE_ROOT, PVD_TYPE_CRL, PVD_TYPE_ARL, PVD_TYPE_CTL};
constexpr int kFinalizeOrder[6] = {PVD_TYPE_ROOT, PVD_TYPE_CA, PVD_TYPE_CERT, PVD_TYPE_CRL, PVD_TYPE_ARL, PVD_TYPE_CTL};

List g_lists[6] = {
    {QRT_PVD_RWLOCK_INITIALIZER, {nullptr, nullptr, 0, 0}}, {QRT_PVD_RWLOCK_INITIALIZER, {nullptr, nullptr, 0, 0}},
    {QRT_PVD_RWLOCK_INITIALIZER, {nullptr, nullptr, 0, 0}}, {QRT_PVD_RWLOCK_INITIALIZER, {nullptr, nullptr, 0, 0}},
    {QRT_PVD_RWLOCK_INITIALIZER, {nullptr, nullptr, 0, 0}}, {QRT_PVD_RWLOCK_INITIALIZER, {nullptr, nullptr, 0, 0}},
};

List *list_of(int typeID) {
    for (int i = 0; i < 6; ++i)
        if (kTypes[i] == typeID) return &g_lists[i];
    return nullptr;
}

// A multiplicative hash of the key text, eight bytes at a time.
uint32_t hash_of(std::string_view key) {
    constexpr uint64_t kMul = 0x9e3779b97f4a7c15ull;
    uint64_t h = key.size() * kMul;
    size_t i = 0;
    for (; i + 8 <= key.size(); i += 8) {
        uint64_t w;
        std::memcpy(&w, key.data() + i, 8);
        h = (h ^ w) * kMul;
        h ^= h >> 29;
    }
    uint64_t tail = 0;
    if (i < key.size()) std::memcpy(&tail, key.data() + i, key.size() - i);
    h = (h ^ tail) * kMul;
    h ^= h >> 32;
    return static_cast<uint32_t>(h);
}

Entry *find(const Table &t, std::string_view key, uint32_t hash) {
    if (!t.cap) return nullptr;
    for (size_t i = hash & (t.cap - 1);; i = (i + 1) & (t.cap - 1)) {
        Entry *e = t.entries[i];
        if (!e) return nullptr;
        if (t.hashes[i] == hash && e->keyLen == key.size() && std::memcmp(e->key(), key.data(), key.size()) == 0)
            return e;
    }
}

Entry *make_entry(std::string_view key, uint32_t hash, const BIN &value) {
    auto *e = static_cast<Entry *>(std::malloc(sizeof(Entry) + key.size() + 1 + value.length));
    if (!e) return nullptr;
    e->hash = hash;
    e->keyLen = static_cast<uint32_t>(key.size());
    e->valueLen = value.length;
    std::memcpy(e->key(), key.data(), key.size());
    e->key()[key.size()] = '\0';
    if (value.length) std::memcpy(e->value(), value.value, value.length);
    return e;
}

void place(uint32_t *hashes, Entry **entries, size_t cap, Entry *e) {
    size_t i = e->hash & (cap - 1);
    while (entries[i]) i = (i + 1) & (cap - 1);
    hashes[i] = e->hash;
    entries[i] = e;
}

// Doubles the slot arrays before they pass three quarters; false on memory shortage.
bool grow(Table &t) {
    if ((t.count + 1) * 4 <= t.cap * 3) return true;
    size_t n = t.cap ? t.cap * 2 : 16;
    auto *h = static_cast<uint32_t *>(std::calloc(n, sizeof(uint32_t)));
    auto **e = static_cast<Entry **>(std::calloc(n, sizeof(Entry *)));
    if (!h || !e) {
        std::free(h);
        std::free(e);
        return false;
    }
    for (size_t i = 0; i < t.cap; ++i)
        if (t.entries[i]) place(h, e, n, t.entries[i]);
    std::free(t.hashes);
    std::free(t.entries);
    t.hashes = h;
    t.entries = e;
    t.cap = n;
    return true;
}

void free_table(Table &t) {
    for (size_t i = 0; i < t.cap; ++i) std::free(t.entries[i]);
    std::free(t.hashes);
    std::free(t.entries);
    t = Table{nullptr, nullptr, 0, 0};
}

// Puts e in place of the entry with its key, or in a new slot. Returns what the caller releases
// outside the lock: the entry replaced, e itself when there was no room, or nullptr.
Entry *insert(Table &t, Entry *e) {
    std::string_view key(e->key(), e->keyLen);
    for (size_t i = t.cap ? e->hash & (t.cap - 1) : 0; t.cap; i = (i + 1) & (t.cap - 1)) {
        Entry *old = t.entries[i];
        if (!old) break;
        if (t.hashes[i] == e->hash && old->keyLen == e->keyLen &&
            std::memcmp(old->key(), key.data(), key.size()) == 0) {
            t.entries[i] = e;
            return old;
        }
    }
    if (!grow(t)) return e;
    place(t.hashes, t.entries, t.cap, e);
    ++t.count;
    return nullptr;
}

int cache_get(BIN *out, int typeID, const char *key) {
    List *l = list_of(typeID);
    if (!l) return QRT_PVD_INTERNAL;
    std::string_view k(key);
    uint32_t h = hash_of(k);
    int rc = QRT_PVD_Cache_RWLock_ReadLock(&l->lock);
    if (rc) return QRT_PVD_INTERNAL;
    if (Entry *e = find(l->table, k, h)) {
        // copied out under the read lock: a writer may replace and release the entry after it
        auto *copy = static_cast<unsigned char *>(QRT_malloc(e->valueLen));
        if (copy) {
            std::memcpy(copy, e->value(), e->valueLen);
            *out = BIN{e->valueLen, copy};
        }
        rc = copy ? 0 : QRT_PVD_MALLOC_FAILED;
    } else {
        rc = not_found_of(typeID);
    }
    QRT_PVD_Cache_RWLock_ReadUnlock(&l->lock);
    return rc;
}

int cache_add(int typeID, const char *key, const BIN &value) {
    List *l = list_of(typeID);
    if (!l) return QRT_PVD_INTERNAL;
    std::string_view k(key);
    if (k.size() > UINT32_MAX / 2) return QRT_PVD_INVALID_INPUT;
    Entry *e = make_entry(k, hash_of(k), value);
    if (!e) return QRT_PVD_MALLOC_FAILED;
    if (QRT_PVD_Cache_RWLock_WriteLock(&l->lock)) {
        std::free(e);
        return QRT_PVD_INTERNAL;
    }
    Entry *old = insert(l->table, e);
    QRT_PVD_Cache_RWLock_WriteUnlock(&l->lock);
    bool dropped = old == e;
    std::free(old);
    return dropped ? QRT_PVD_MALLOC_FAILED : 0;
}

void cache_finalize() {
    Table detached[6];
    for (int type : kFinalizeOrder) QRT_PVD_Cache_RWLock_WriteLock(&list_of(type)->lock);
    for (int i = 0; i < 6; ++i) {
        detached[i] = g_lists[i].table;
        g_lists[i].table = Table{nullptr, nullptr, 0, 0};
    }
    for (int type : kFinalizeOrder) QRT_PVD_Cache_RWLock_WriteUnlock(&list_of(type)->lock);
    for (Table &t : detached) free_table(t);
}

// Cursor form of a lookup: the first call fetches (list `first`, else `second` when given), each
// call hands out what is left.
int cursor_get(ZQ_PVD_BuildCursor *cursor, BIN *out, const char *key, int first, int second) {
    if (!cursor->fetched) {
        BinOwner hit;
        int rc = cache_get(hit.get(), first, key);
        if (rc && is_not_found(rc) && second) rc = cache_get(hit.get(), second, key);
        if (rc && !is_not_found(rc)) return rc;
        ZQ_BIN_LIST *node = nullptr;
        if (!rc) {
            node = QRT_BIN_LIST_New();
            if (!node) return QRT_PVD_MALLOC_FAILED;
            hit.release_to(&node->value);
        }
        cursor_set(cursor, node);
    }
    return cursor_take(cursor, out) ? 0 : not_found_of(first);
}

}  // namespace
}  // namespace ostrel::pvd

using namespace ostrel::pvd;

extern "C" {

// ---- read/write lock ----

QRT_API int QRT_PVD_Cache_RWLock_InitLock(ZQ_PVD_RWLock *lock) {
    if (!lock) return -1;
    lock->readers = 0;
    lock->writer = 0;
    if (pthread_mutex_init(&lock->mutex, nullptr) != 0) return -1;
    if (pthread_cond_init(&lock->cond, nullptr) != 0) {
        pthread_mutex_destroy(&lock->mutex);
        return -1;
    }
    return 0;
}

QRT_API int QRT_PVD_Cache_RWLock_FinalLock(ZQ_PVD_RWLock *lock) {
    if (!lock) return -1;
    int rc = pthread_cond_destroy(&lock->cond) | pthread_mutex_destroy(&lock->mutex);
    return rc ? -1 : 0;
}

QRT_API int QRT_PVD_Cache_RWLock_ReadLock(ZQ_PVD_RWLock *lock) {
    if (!lock || pthread_mutex_lock(&lock->mutex) != 0) return -1;
    while (lock->writer) pthread_cond_wait(&lock->cond, &lock->mutex);
    ++lock->readers;
    pthread_mutex_unlock(&lock->mutex);
    return 0;
}

QRT_API int QRT_PVD_Cache_RWLock_ReadUnlock(ZQ_PVD_RWLock *lock) {
    if (!lock || pthread_mutex_lock(&lock->mutex) != 0) return -1;
    int rc = 0;
    if (lock->readers == 0) {
        rc = -1;
    } else if (--lock->readers == 0) {
        pthread_cond_signal(&lock->cond);
    }
    pthread_mutex_unlock(&lock->mutex);
    return rc;
}

QRT_API int QRT_PVD_Cache_RWLock_WriteLock(ZQ_PVD_RWLock *lock) {
    if (!lock || pthread_mutex_lock(&lock->mutex) != 0) return -1;
    while (lock->writer || lock->readers > 0) pthread_cond_wait(&lock->cond, &lock->mutex);
    lock->writer = 1;
    pthread_mutex_unlock(&lock->mutex);
    return 0;
}

QRT_API int QRT_PVD_Cache_RWLock_WriteUnlock(ZQ_PVD_RWLock *lock) {
    if (!lock || pthread_mutex_lock(&lock->mutex) != 0) return -1;
    int rc = 0;
    if (!lock->writer) {
        rc = -1;
    } else {
        lock->writer = 0;
        pthread_cond_broadcast(&lock->cond);
    }
    pthread_mutex_unlock(&lock->mutex);
    return rc;
}

// ---- the cache ----

QRT_API int QRT_PVD_Initialize(void) { return QRT_PVD_Cache_Initialize(); }

QRT_API int QRT_PVD_Finalize(void) { return QRT_PVD_Cache_Finalize(); }

// The lists and locks are ready from load time; nothing to do.
QRT_API int QRT_PVD_Cache_Initialize(void) { return 0; }

QRT_API int QRT_PVD_Cache_Finalize(void) {
    cache_finalize();
    return 0;
}

QRT_API int QRT_PVD_Cache_GetObject(BIN *out, const int typeID, const char *key) {
    if (!out || !key) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    *out = BIN{0, nullptr};
    return PVD_FAIL(contained([&] { return cache_get(out, typeID, key); }));
}

QRT_API int QRT_PVD_Cache_AddObject(const int typeID, const char *key, const BIN *obj) {
    if (!key || !has_bytes(obj)) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    return PVD_FAIL(contained([&] { return cache_add(typeID, key, *obj); }));
}

// ---- per kind, on a validation context ----

QRT_API int QRT_PVD_Cache_GetCert(ZQ_PVD_Context *ctx, ZQ_PVD_BuildCursor *cursor, BIN *out, const char *dn) {
    if (!ctx || !cursor || !out || !dn) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    *out = BIN{0, nullptr};
    if (ctx->cacheDisable) return QRT_PVD_CERT_NOT_FOUND;
    // Roots in the cache came from the store or the directory: under distrustRoot they are no
    // anchors here either, as in the store.
    const int second = ctx->distrustRoot ? 0 : PVD_TYPE_ROOT;
    return PVD_FAIL(contained([&] { return cursor_get(cursor, out, dn, PVD_TYPE_CA, second); }));
}

QRT_API int QRT_PVD_Cache_AddCert(ZQ_PVD_Context *ctx, const ZQ_PVD_InterObject *obj) {
    if (!ctx || !obj) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    if (ctx->cacheDisable || !obj->subjectDN) return 0;
    if (obj->source == PVD_SOURCE_STORE || obj->source == PVD_SOURCE_LDAP)
        QRT_PVD_Cache_AddObject(obj->typeID, obj->subjectDN, &obj->encObj);
    return 0;
}

QRT_API int QRT_PVD_Cache_GetCTL(ZQ_PVD_Context *ctx, ZQ_PVD_BuildCursor *cursor, BIN *out, const char *name) {
    if (!ctx || !cursor || !out || !name) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    *out = BIN{0, nullptr};
    if (ctx->cacheDisable) return QRT_PVD_CTL_NOT_FOUND;
    return PVD_FAIL(contained([&] { return cursor_get(cursor, out, name, PVD_TYPE_CTL, 0); }));
}

QRT_API int QRT_PVD_Cache_AddCTL(ZQ_PVD_Context *ctx, const ZQ_PVD_InterObject *obj) {
    if (!ctx || !obj) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    if (ctx->cacheDisable || !obj->subjectDN || obj->source == PVD_SOURCE_CACHE) return 0;
    QRT_PVD_Cache_AddObject(PVD_TYPE_CTL, obj->subjectDN, &obj->encObj);
    return 0;
}

QRT_API int QRT_PVD_Cache_GetCRL(ZQ_PVD_Context *ctx, BIN *out, const int typeID, const char *key) {
    if (!ctx || !out || !key) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    *out = BIN{0, nullptr};
    if (ctx->cacheDisable) return QRT_PVD_CRL_NOT_FOUND;
    return QRT_PVD_Cache_GetObject(out, typeID, key);
}

QRT_API int QRT_PVD_Cache_AddCRL(ZQ_PVD_Context *ctx, const char *key, const ZQ_PVD_InterObject *obj) {
    if (!ctx || !key || !obj) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    if (ctx->cacheDisable) return 0;
    if (obj->source == PVD_SOURCE_STORE || obj->source == PVD_SOURCE_LDAP)
        QRT_PVD_Cache_AddObject(obj->typeID, key, &obj->encObj);
    return 0;
}

}  // extern "C"
