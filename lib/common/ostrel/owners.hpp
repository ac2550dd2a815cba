// Owners for the plain C records: memory from QRT_malloc, BIN contents, wiped secrets.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>

#include "suite_io.h"

namespace ostrel {

// Overwrites memory in a way the optimiser may not remove.
inline void wipe(void *p, size_t n) {
    if (p && n) explicit_bzero(p, n);
}

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
    // Moves the contents into `out` (whose previous contents are not released).
    void release_to(BIN *out) {
        *out = bin_;
        bin_ = BIN{0, nullptr};
    }

  private:
    BIN bin_{0, nullptr};
};

}  // namespace ostrel
