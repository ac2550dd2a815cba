// Private declarations of the request library: the boundary, the identifier tables, the signer
// and checker over the provider, and a small DER writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ostrel/owners.hpp"
#include "suite_csp.h"
#include "suite_pkcs10.h"

#define OSTREL_REASON_FN QRT_PKCS10_GetErrorReason
#include "ostrel/guard.hpp"
#include "ostrel/trace.hpp"

namespace ostrel::pkcs10 {

inline constexpr Boundary kBoundary{OSTREL_FAIL_FN, QRT_PKCS10_INVALID_INPUT, QRT_PKCS10_MALLOC_FAILED,
                                    QRT_PKCS10_INTERNAL};

// ---- identifiers (suite_pkcs10.cpp) ----

// A signID and its identifier; `primary` marks the identifier written for it.
struct SignRow {
    int signID;
    const ObjectID *oid;
    bool primary;
};
const SignRow *sign_row(int signID);
const SignRow *sign_row(const ObjectID &oid);

// How a key identifier carries its parameters.
enum class KeyParams : uint8_t { Null, Domain, Optional };
struct KeyRow {
    int keyAlg;
    const ObjectID *oid;
    KeyParams params;
    bool primary;
};
const KeyRow *key_row(int keyAlg);
const KeyRow *key_row(const ObjectID &oid);

// The provider's algorithm of a signature identifier with its parameters (params may be NULL).
// The KCDSA identifiers' parameters are the signer's domain parameters, not the provider's: they
// are left out. 0 or QRT_PKCS10_UNKNOWN_SIGNID.
int provider_alg(ZQ_CSP_SigAlg &alg, const SignRow &row, const BIN *params);
// Whether a key of keyAlg can make signatures of alg.
bool key_fits(int keyAlg, const ZQ_CSP_SigAlg &alg);
inline bool is_kcdsa(const ZQ_CSP_SigAlg &alg) { return alg.pkeyID == QRT_CSP_PKEY_KCDSA; }
inline bool is_message_level(const ZQ_CSP_SigAlg &alg) {
    return alg.pkeyID == QRT_CSP_PKEY_KCDSA || alg.pkeyID == QRT_CSP_PKEY_ECKCDSA;
}
// Whether the key of alg needs domain parameters (DSA, EC, KCDSA).
inline bool needs_domain(const ZQ_CSP_SigAlg &alg) { return alg.pkeyID != QRT_CSP_PKEY_RSA; }

inline bool has_bytes(const BIN *b) { return b && b->value && b->length; }

// Signs data with the provider's one signer: 0, 37699, 37700 or 37696.
int sign_with_key(BIN *signature, const BIN *data, const ZQ_CSP_SigAlg &alg, const BIN *privateKey, const BIN *keyParam,
                  const BIN *publicKey);

// ---- DER ----

using Bytes = std::vector<uint8_t>;
void put_tlv(Bytes &out, uint8_t tag, const uint8_t *p, size_t n);
inline void put_tlv(Bytes &out, uint8_t tag, const Bytes &content) {
    put_tlv(out, tag, content.data(), content.size());
}
inline void put_raw(Bytes &out, const uint8_t *p, size_t n) { out.insert(out.end(), p, p + n); }
// Whether b holds exactly one element of definite length whose identifier octet is tag (any
// identifier when tag is negative).
bool one_element(const BIN &b, int tag);
// The signature AlgorithmIdentifier of a signID: NULL parameters for RSA PKCS#1 v1.5, the
// RSASSA-PSS-params for PSS (the defaults when signParam is empty), signParam when non-empty for
// the KCDSA signatures, none otherwise.
void put_sign_alg(Bytes &out, const SignRow &row, const ZQ_CSP_SigAlg &alg, const BIN *signParam);
// A new BIN (QRT_malloc) holding a copy of n bytes; throws std::bad_alloc.
BIN *new_bin(const uint8_t *p, size_t n);
// Moves the bytes into out (QRT_malloc); throws std::bad_alloc.
void give(BIN *out, const Bytes &b);

}  // namespace ostrel::pkcs10

#define OSTREL_BOUNDARY ::ostrel::pkcs10::kBoundary
