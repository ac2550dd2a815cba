// Private declarations shared by the ASN.1 layer's modules.
#pragma once

#include "suite_asn.h"

#define OSTREL_REASON_FN QRT_ASN_GetErrorReason
#include "ostrel/guard.hpp"
#include "ostrel/trace.hpp"

namespace ostrel::asn {
// The boundary of the exported functions (ostrel/guard.hpp).
inline constexpr Boundary kBoundary{OSTREL_FAIL_FN, QRT_ASN_INVALID_INPUT, QRT_ASN_MALLOC_FAILED, QRT_ASN_INTERNAL};
}  // namespace ostrel::asn
#define OSTREL_BOUNDARY ::ostrel::asn::kBoundary

#include "asn_engine.hpp"

namespace ostrel::asn {

constexpr unsigned kMagic = 0x4F41534Eu;  // a context set up by engine_init
constexpr unsigned kDer = 1;              // the only encoding rules

// Writes the engine's two records for a failed encode or decode: its message, then the class.
void put_engine_records(const char *call, const ZQ_ASN_CTX *ctx, bool encoding, const char *file, int line);

}  // namespace ostrel::asn
