// Private declarations shared by the certificate-status message modules.
#pragma once

#include "suite_crs.h"

#define OSTREL_REASON_FN QRT_CRS_GetErrorReason
#include "ostrel/trace.hpp"

namespace ostrel::crs {

struct Pair {
    int request, reply;
};

// The pair of an operation given by either of its codes; nullptr when unknown.
const Pair *pair_of(int code);

}  // namespace ostrel::crs
