// Private declarations shared by the trust-list library's modules.
#pragma once

#include "suite_ctl.h"

#define OSTREL_REASON_FN QRT_CTL_GetErrorReason
#include "ostrel/guard.hpp"
#include "ostrel/trace.hpp"

namespace ostrel::ctl {
inline constexpr Boundary kBoundary{OSTREL_FAIL_FN, QRT_CTL_INVALID_INPUT, QRT_CTL_MALLOC_FAILED, QRT_CTL_INTERNAL};

inline bool has_bytes(const BIN *b) { return b && b->value && b->length; }
}  // namespace ostrel::ctl
#define OSTREL_BOUNDARY ::ostrel::ctl::kBoundary
