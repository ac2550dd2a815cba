// Private declarations shared by the password-based encryption library's modules.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>

#include "suite_asn.h"
#include "suite_csp.h"
#include "suite_pkcs5.h"

#define OSTREL_REASON_FN QRT_PKCS5_GetErrorReason
#include "ostrel/asn_tree.hpp"
#include "ostrel/owners.hpp"
#include "ostrel/guard.hpp"
#include "ostrel/trace.hpp"

namespace ostrel::pkcs5 {
inline constexpr Boundary kBoundary{OSTREL_FAIL_FN, QRT_PKCS5_INVALID_INPUT, QRT_PKCS5_MALLOC_FAILED,
                                    QRT_PKCS5_INTERNAL};
}  // namespace ostrel::pkcs5
#define OSTREL_BOUNDARY ::ostrel::pkcs5::kBoundary

namespace ostrel::pkcs5 {

using ostrel::AsnTree;
using ostrel::BinOwner;  // derived keys, IVs, plaintext: wiped at scope exit

enum Family { kPbes1 = 1, kPbes2 = 2, kPkcs12 = 12 };

// One row of the scheme table: how a pbesID derives its key and which cipher it runs.
struct Scheme {
    int pbesID;
    int family;
    const ObjectID *oid;
    int hashID;   // PBKDF1 hash (PBES1); the PKCS#12 KDF always uses SHA-1
    int cipherID;
    int keyLength;
    int ivLength;  // 0: stream cipher
};

// The row of a pbesID or of an object identifier; NULL when there is none.
const Scheme *scheme_by_id(int pbesID);
const Scheme *scheme_by_oid(const ObjectID &oid);

// Identifiers this library holds itself (ids 41-43) and the HMAC-SHA-2 prfs beyond the catalogue.
extern const ObjectID kOidP12Seed, kOidP12Sha1Neat, kOidP12Has160Neat;
extern const ObjectID kOidHmacSha224, kOidHmacSha384, kOidHmacSha512;

// PBKDF2 prf number <-> provider hash and identifier; 0 / NULL when unknown.
int prf_hash(int prfID);
const ObjectID *prf_oid(int prfID);
int prf_by_oid(const ObjectID &oid);

// An iteration count read from input: 1..the process-wide limit.
bool count_acceptable(long long count);

using ostrel::oid_equal;

// b := a copy of n bytes from src (throws std::bad_alloc); n == 0 leaves b empty.
void bin_assign(BIN *b, const void *src, size_t n);

// The provider's cipher call with the library's conventions (CBC, PKCS#5 padding set by caller).
int cipher_run(bool encrypt, BIN *out, const BIN *in, const BIN *key, int cipherID,
               const ZQ_CSP_CipherParam *param);

}  // namespace ostrel::pkcs5
