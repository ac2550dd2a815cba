// Private declarations shared by the CRL library's modules.
#pragma once

#include "suite_crl.h"

#define OSTREL_REASON_FN QRT_CRL_GetErrorReason
#include "ostrel/guard.hpp"
#include "ostrel/trace.hpp"

namespace ostrel::crl {
inline constexpr Boundary kBoundary{OSTREL_FAIL_FN, QRT_CRL_INVALID_INPUT, QRT_CRL_MALLOC_FAILED,
                                    QRT_CRL_INTERNAL};
}  // namespace ostrel::crl
#define OSTREL_BOUNDARY ::ostrel::crl::kBoundary

namespace ostrel::crl {

using Entry = TBSCertList_revokedCertificates_Elem;

// The first entry in list order whose serial has the same length and bytes as (p, n); NULL when
// none. Builds the CRL's index on its first use; safe from any number of threads.
const Entry *find_entry(const TBSCertList *tbs, const unsigned char *p, size_t n);

}  // namespace ostrel::crl
