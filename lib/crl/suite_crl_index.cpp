// The revocation index: per decoded CRL, a hash table from serial (length and bytes) to the
// first entry in list order with that serial, built on the first look-up and shared by every
// thread after it.
//
// The index belongs to the TBSCertList value it was built for. Indexes are found by the tree's
// address in a registry whose readers take no lock; the ASN.1 engine tells the registry
// whenever a TBSCertList value is released (wherever it sits), and the registry drops that
// address's index then, so a CRL that the allocator later places at the same address is never
// answered from a stale index.
//
// Registry: a fixed array of buckets, each a list of slots pushed under the writers' lock and
// never unlinked or freed; a released tree's slot is emptied and reused for a later one. A
// reader walking a bucket meets only slots that stay valid memory, and the slot of the tree it
// asks about cannot change under it while the tree is alive.
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "asn_release_hook.h"
#include "crl_internal.h"

namespace ostrel::crl {
namespace {

uint64_t mix(uint64_t h) {
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ULL;
    h ^= h >> 33;
    return h;
}

uint64_t hash_serial(const unsigned char *p, size_t n) {
    uint64_t h = 0x9e3779b97f4a7c15ULL ^ n;
    while (n >= 8) {
        uint64_t w;
        std::memcpy(&w, p, 8);
        h = mix(h ^ w);
        p += 8;
        n -= 8;
    }
    uint64_t w = 0;
    std::memcpy(&w, p, n);
    return mix(h ^ w ^ (uint64_t{n} << 59));
}

// 16 bytes per distinct serial, plus 4-8 bytes of table per serial (load 1/4 to 1/2).
struct Item {
    uint64_t hash;
    const Entry *entry;
};

class Index {
  public:
    explicit Index(const TBSCertList *tbs) : head_(tbs->revokedCertificates) {
        size_t n = 0;
        for (auto *node = tbs->revokedCertificates; node; node = node->next) ++n;
        size_t cap = 4;
        while (cap < 2 * n) cap <<= 1;
        mask_ = cap - 1;
        table_.assign(cap, 0);
        items_.reserve(n);
        for (auto *node = tbs->revokedCertificates; node; node = node->next) {
            const HUGE &s = node->value.userCertificate;
            uint64_t h = hash_serial(s.value, s.length);
            size_t at = h & mask_;
            bool seen = false;
            for (; table_[at]; at = (at + 1) & mask_) {
                const Item &it = items_[table_[at] - 1];
                if (it.hash == h && same(it.entry->userCertificate, s.value, s.length)) {
                    seen = true;  // a later duplicate: the first in list order answers
                    break;
                }
            }
            if (seen) continue;
            items_.push_back({h, &node->value});
            table_[at] = static_cast<uint32_t>(items_.size());
        }
    }

    const Entry *find(const unsigned char *p, size_t n) const {
        uint64_t h = hash_serial(p, n);
        for (size_t at = h & mask_; table_[at]; at = (at + 1) & mask_) {
            const Item &it = items_[table_[at] - 1];
            if (it.hash == h && same(it.entry->userCertificate, p, n)) return it.entry;
        }
        return nullptr;
    }

    const void *head() const { return head_; }
    void keep(Index *older) { older_.reset(older); }

  private:
    static bool same(const HUGE &s, const unsigned char *p, size_t n) {
        return s.length == n && (n == 0 || std::memcmp(s.value, p, n) == 0);
    }

    const void *head_;             // the list the index was built from
    std::unique_ptr<Index> older_;  // an index of an earlier list of the same tree, kept for readers
    size_t mask_ = 0;
    std::vector<uint32_t> table_;  // 1-based positions in items_, 0 empty
    std::vector<Item> items_;
};

struct Slot {
    std::atomic<const void *> key{nullptr};
    std::atomic<Index *> index{nullptr};
    std::atomic<Slot *> next{nullptr};
};

constexpr size_t kBuckets = 256;

class Registry {
  public:
    Registry() { QRT_ASN_SetReleaseHook(TBSCertList_PDU, &Registry::released); }

    const Index *find(const TBSCertList *tbs) const {
        for (Slot *s = bucket(tbs).load(std::memory_order_acquire); s; s = s->next.load(std::memory_order_acquire))
            if (s->key.load(std::memory_order_acquire) == tbs) return s->index.load(std::memory_order_acquire);
        return nullptr;
    }

    const Index *build(const TBSCertList *tbs) {
        std::lock_guard<std::mutex> lock(lock_);
        Slot *slot = nullptr;
        Slot *free_slot = nullptr;
        for (Slot *s = bucket(tbs).load(std::memory_order_relaxed); s; s = s->next.load(std::memory_order_relaxed)) {
            const void *k = s->key.load(std::memory_order_relaxed);
            if (k == tbs) slot = s;
            else if (!k && !free_slot) free_slot = s;
        }
        if (slot) {
            Index *current = slot->index.load(std::memory_order_relaxed);
            if (current->head() == tbs->revokedCertificates) return current;  // another thread built it
            // The caller replaced the list: a new index, keeping the old one for threads still in it.
            auto fresh = std::make_unique<Index>(tbs);
            fresh->keep(current);
            slot->index.store(fresh.get(), std::memory_order_release);
            return fresh.release();
        }
        auto fresh = std::make_unique<Index>(tbs);
        if (!free_slot) {
            free_slot = new Slot;
            std::atomic<Slot *> &head = bucket(tbs);
            free_slot->next.store(head.load(std::memory_order_relaxed), std::memory_order_relaxed);
            head.store(free_slot, std::memory_order_release);
        }
        free_slot->index.store(fresh.get(), std::memory_order_relaxed);
        free_slot->key.store(tbs, std::memory_order_release);
        live_.fetch_add(1, std::memory_order_relaxed);
        return fresh.release();
    }

  private:
    std::atomic<Slot *> &bucket(const void *tbs) const {
        return buckets_[mix(reinterpret_cast<uintptr_t>(tbs)) % kBuckets];
    }

    void drop(const void *tbs) {
        std::lock_guard<std::mutex> lock(lock_);
        for (Slot *s = bucket(tbs).load(std::memory_order_relaxed); s; s = s->next.load(std::memory_order_relaxed)) {
            if (s->key.load(std::memory_order_relaxed) != tbs) continue;
            delete s->index.load(std::memory_order_relaxed);
            s->index.store(nullptr, std::memory_order_relaxed);
            s->key.store(nullptr, std::memory_order_release);
            live_.fetch_sub(1, std::memory_order_relaxed);
            return;
        }
    }

    static void released(void *value);

    mutable std::atomic<Slot *> buckets_[kBuckets] = {};
    std::mutex lock_;
    std::atomic<size_t> live_{0};

    friend Registry &registry();
};

// Never destroyed: trees may still be released while the process exits.
Registry &registry() {
    static Registry *r = new Registry;
    return *r;
}

void Registry::released(void *value) {
    Registry &r = registry();
    if (r.live_.load(std::memory_order_relaxed) == 0) return;
    r.drop(value);
}

}  // namespace

const Entry *find_entry(const TBSCertList *tbs, const unsigned char *p, size_t n) {
    if (!tbs->revokedCertificates) return nullptr;
    try {
        Registry &r = registry();
        const Index *idx = r.find(tbs);
        if (!idx || idx->head() != tbs->revokedCertificates) idx = r.build(tbs);
        return idx->find(p, n);
    } catch (const std::bad_alloc &) {
        // No memory for the index: the answer must not change, so walk the list.
        for (auto *node = tbs->revokedCertificates; node; node = node->next) {
            const HUGE &s = node->value.userCertificate;
            if (s.length == n && (n == 0 || std::memcmp(s.value, p, n) == 0)) return &node->value;
        }
        return nullptr;
    }
}

}  // namespace ostrel::crl
