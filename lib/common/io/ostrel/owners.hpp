// Owners for the plain C records: memory from QRT_malloc, BIN contents, wiped secrets.
#pragma once

#include <cstddef>
#include <cstring>
#include <cstdint>
#include <memory>
#include <vector>

#include "suite_io.h"

namespace ostrel {

// Overwrites memory in a way the optimiser may not remove.
inline void wipe(void *p, size_t n) {
    if (p && n) explicit_bzero(p, n);
}

// An allocator that wipes what it releases, for buffers that hold key material and secrets.
template <class T>
struct WipeAlloc {
    using value_type = T;
    WipeAlloc() = default;
    template <class U>
    WipeAlloc(const WipeAlloc<U> &) {}
    T *allocate(size_t n) { return static_cast<T *>(::operator new(n * sizeof(T))); }
    void deallocate(T *p, size_t n) {
        wipe(p, n * sizeof(T));
        ::operator delete(p);
    }
    template <class U>
    bool operator==(const WipeAlloc<U> &) const {
        return true;
    }
};
using SecBytes = std::vector<uint8_t, WipeAlloc<uint8_t>>;

struct QrtFree {
    void operator()(void *p) const { QRT_free(p); }
};
template <class T>
using qrt_ptr = std::unique_ptr<T, QrtFree>;

// Holds a BIN and resets it (zeroing its bytes) unless released to the caller.
class BinOwner {
  public:
    BinOwner() = default;
    BinOwner(const BinOwner &) = delete;
    BinOwner &operator=(const BinOwner &) = delete;
    ~BinOwner() { QRT_BIN_Reset(&bin_); }

    BIN *get() { return &bin_; }
    BIN &operator*() { return bin_; }
    BIN *operator->() { return &bin_; }
    const BIN *get() const { return &bin_; }
    const BIN &operator*() const { return bin_; }
    const BIN *operator->() const { return &bin_; }
    // Moves the contents into `out` (whose previous contents are not released).
    void release_to(BIN *out) {
        *out = bin_;
        bin_ = BIN{0, nullptr};
    }
    // Hands the contents over (the owner is left empty).
    BIN release() {
        BIN b = bin_;
        bin_ = BIN{0, nullptr};
        return b;
    }

  private:
    BIN bin_{0, nullptr};
};

}  // namespace ostrel
