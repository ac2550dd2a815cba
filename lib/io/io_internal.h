// Private declarations shared by the I/O core's modules.
#pragma once

#include "suite_io.h"

#define OSTREL_REASON_FN QRT_IO_GetErrorReason
#include "ostrel/guard.hpp"
#include "ostrel/trace.hpp"

namespace ostrel::io {
// The boundary of the exported functions (ostrel/guard.hpp).
inline constexpr Boundary kBoundary{OSTREL_FAIL_FN, QRT_IO_INVALID_INPUT, QRT_IO_MALLOC_FAILED, QRT_IO_INTERNAL};
}  // namespace ostrel::io
#define OSTREL_BOUNDARY ::ostrel::io::kBoundary

namespace ostrel::io {

// malloc outside the test allocation gate, for the error trace's own records (released with
// QRT_free like any other block).
void *raw_malloc(size_t size);

// Restores errno on scope exit, so trace records written on a failure path do not clobber the
// errno the caller branches on.
class ErrnoKeeper {
  public:
    ErrnoKeeper() : saved_(errno) {}
    ~ErrnoKeeper() { errno = saved_; }
    void update() { saved_ = errno; }

  private:
    int saved_;
};

}  // namespace ostrel::io
