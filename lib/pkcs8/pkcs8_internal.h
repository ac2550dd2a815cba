// Private declarations of the PKCS#8 library.
#pragma once

#include "suite_pkcs8.h"

#define OSTREL_REASON_FN QRT_PKCS8_GetErrorReason
#include "ostrel/guard.hpp"
#include "ostrel/trace.hpp"

namespace ostrel::pkcs8 {
inline constexpr Boundary kBoundary{OSTREL_FAIL_FN, QRT_PKCS8_INVALID_INPUT, QRT_PKCS8_MALLOC_FAILED,
                                    QRT_PKCS8_INTERNAL};
}  // namespace ostrel::pkcs8
#define OSTREL_BOUNDARY ::ostrel::pkcs8::kBoundary
