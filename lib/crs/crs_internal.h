// Private declarations shared by the certificate-status message modules.
#pragma once

#include "suite_crs.h"

#define OSTREL_REASON_FN QRT_CRS_GetErrorReason
#include "ostrel/guard.hpp"
#include "ostrel/trace.hpp"

namespace ostrel::crs {
// The boundary of the exported functions (ostrel/guard.hpp). The library has no internal-failure
// code; other exceptions read as invalid input.
inline constexpr Boundary kBoundary{OSTREL_FAIL_FN, QRT_CRS_INVALID_INPUT, QRT_CRS_MALLOC_FAILED,
                                    QRT_CRS_INVALID_INPUT};
}  // namespace ostrel::crs
#define OSTREL_BOUNDARY ::ostrel::crs::kBoundary

namespace ostrel::crs {

struct Pair {
    int request, reply;
};

// The pair of an operation given by either of its codes; nullptr when unknown.
const Pair *pair_of(int code);

}  // namespace ostrel::crs
