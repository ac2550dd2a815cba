// Private declarations shared by the secret-sharing modules.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "ostrel/core_owners.hpp"
#include "suite_sss.h"

#define OSTREL_REASON_FN QRT_SSS_GetErrorReason
#include "ostrel/guard.hpp"
#include "ostrel/trace.hpp"

namespace ostrel::sss {
// The boundary of the exported functions (ostrel/guard.hpp).
inline constexpr Boundary kBoundary{OSTREL_FAIL_FN, QRT_SSS_INVALID_INPUT, QRT_SSS_MALLOC_FAILED, QRT_SSS_INTERNAL};
}  // namespace ostrel::sss
#define OSTREL_BOUNDARY ::ostrel::sss::kBoundary

namespace ostrel::sss {

using ostrel::BigInt;
using ostrel::new_bigint;

// ---- Prime table ---------------------------------------------------------------------------

struct TablePrime {
    unsigned size;      // bytes
    unsigned words;     // 32-bit words in use
    uint32_t data[32];  // least significant first
};
// The 15 entries ordered by size, ended by an entry of size 0.
extern const TablePrime kPrimeTable[];

// The first table prime of at least min_bytes bytes; NULL when the table has none.
const TablePrime *table_prime_for(unsigned min_bytes);
// Loads a table entry into a; 0 or a core code.
int load_prime(WJ_BigInt *a, const TablePrime &p);

// ---- Share information and shares ----------------------------------------------------------

struct SimpleInfo {
    uint32_t n = 0;
    uint32_t secret_len = 0;
};
struct ShamirInfo {
    uint32_t n = 0;
    uint32_t k = 0;
    uint32_t secret_len = 0;
    BigInt prime;
};

// Big-endian n and secret length; throws std::bad_alloc.
std::vector<uint8_t> encode_simple_info(uint32_t n, uint32_t secret_len);
// 0 or 6211.
int parse_simple_info(const BIN &info, SimpleInfo &out);

// n, k, secret length, L and the prime's DER; 0, 6252 or 6203.
int encode_shamir_info(std::vector<uint8_t> &out, uint32_t n, uint32_t k, uint32_t secret_len, const WJ_BigInt *prime);
// 0, 6211 (layout or values) or 6253 (the prime does not decode, or is below 3).
int parse_shamir_info(const BIN &info, ShamirInfo &out);

// The share (x, y) as two length-prefixed DER INTEGERs; 0, 6252 or 6203.
int encode_shamir_share(std::vector<uint8_t> &out, const WJ_BigInt *x, const WJ_BigInt *y);
// 0, 6212 (layout, or a negative integer) or 6253 (an integer does not decode).
int parse_shamir_share(const uint8_t *data, int len, WJ_BigInt *x, WJ_BigInt *y);

// ---- Share sets ----------------------------------------------------------------------------

// Empties the set, freeing its list.
void clear_set(ZQ_SSS_SHARE *set);
// Appends a node holding `bytes` to the list whose last node is *tail (NULL for an empty list);
// throws std::bad_alloc.
void append_share(ZQ_SSS_SHARE *set, ZQ_SSS_BLIST *&tail, const uint8_t *bytes, size_t n);
// The first `want` nodes of the set in order, after checking that the list holds at least
// `want` nodes and no more than num (6212 otherwise).
int first_shares(const ZQ_SSS_SHARE *set, uint32_t want, std::vector<const ZQ_SSS_BLIST *> &out);

// ---- Schemes -------------------------------------------------------------------------------

int share_simple(ZQ_SSS_SHARE *set, BIN *info, const BIN &secret, int n);
int recover_simple(BIN *secret, const ZQ_SSS_SHARE *set, const BIN &info);
// A random polynomial of the given degree over the prime, highest degree first; the constant term
// is left zero unless random_constant.
int generate_poly(ZQ_POLY **poly, int degree, const WJ_BigInt *prime, bool random_constant);

int share_shamir(ZQ_SSS_SHARE *set, BIN *info, const BIN &secret, int n, int k);
int recover_shamir(BIN *secret, const ZQ_SSS_SHARE *set, const BIN &info);

// Copies bytes into a fresh QRT_malloc buffer held by out; 0 or 6203.
int to_bin(BIN *out, const uint8_t *bytes, size_t n);

}  // namespace ostrel::sss
