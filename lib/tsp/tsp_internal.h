// Private declarations shared by the time-stamp client's modules.
#pragma once

#include <cstdint>
#include <cstring>

#include "suite_asn.h"
#include "suite_tsp.h"

#define OSTREL_REASON_FN QRT_TSP_GetErrorReason
#include "ostrel/asn_tree.hpp"
#include "ostrel/guard.hpp"
#include "ostrel/owners.hpp"
#include "ostrel/reader.hpp"
#include "ostrel/trace.hpp"

namespace ostrel::tsp {

inline constexpr Boundary kBoundary{OSTREL_FAIL_FN, QRT_TSP_INVALID_INPUT, QRT_TSP_MALLOC_FAILED, QRT_TSP_INTERNAL};

inline bool has_bytes(const BIN *b) { return b && b->value && b->length; }

inline bool same_bytes(const uint8_t *a, size_t an, const uint8_t *b, size_t bn) {
    return an == bn && (an == 0 || std::memcmp(a, b, an) == 0);
}

// A step of a larger operation that is itself exported: its failure is recorded under its own
// name before the caller records its own, so the trace reads from the inside out.
inline int step_at(const char *exported, int rc, const char *file, int line) {
    return rc ? ::ostrel::put_error(OSTREL_REASON_FN, exported, rc, file, line) : 0;
}

// A BIN holding a copy of n bytes (new memory); the caller owns it.
void set_bytes(BIN &out, const uint8_t *p, size_t n);

// The provider's hash id (QRT_CSP_HASH_...) of a digest algorithm identifier; 0 when unknown.
int csp_hash_of(const ObjectID &oid);

// The imprint hash id (QRT_TSP_HASH_...) of an algorithm identifier; 0 when neither md5 nor sha-1.
int imprint_hash_of(const ObjectID &oid);

// Two INTEGER contents with the same value (redundant leading sign octets ignored).
bool same_integer(const HUGE &a, const HUGE &b);

// The value of INTEGER contents that fit in an int; -1 when they do not.
int int_of(const HUGE &h, int &out);

// The checks behind the exported functions of the same names, on the caller's outputs (which
// they fill only on success; the caller clears them first).
int token_decode(BIN &content, BIN &certOut, const ContentInfo &token, const BIN *tsaCert);
int tstinfo_decode(ZQ_TSP_TSTInfo &out, const BIN &content, const TimeStampReq *request);

}  // namespace ostrel::tsp

#define OSTREL_BOUNDARY ::ostrel::tsp::kBoundary
#define OSTREL_TSP_STEP(exported, rc) ::ostrel::tsp::step_at((exported), (rc), __FILE__, __LINE__)
