// Private pieces of the generating modules (certificates, key identifiers, the identity
// verification value): a small DER writer and the builders the modules share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pkc_internal.h"

namespace ostrel::pkc {

using Bytes = std::vector<uint8_t>;

// Identifier, minimal length and contents appended to out.
void der_put(Bytes &out, uint8_t tag, const uint8_t *p, size_t n);
inline void der_put(Bytes &out, uint8_t tag, const Bytes &content) {
    der_put(out, tag, content.data(), content.size());
}
inline void der_raw(Bytes &out, const uint8_t *p, size_t n) { out.insert(out.end(), p, p + n); }
// The DER of a value tree into out (replaced); the ASN.1 layer's code on failure.
int der_encode(Bytes &out, const void *value, int pdu);
// Whether b is exactly one element of definite length.
bool der_one_element(const uint8_t *p, size_t n);
// A BIN viewing the bytes (no copy).
inline BIN bin_view(const Bytes &b) { return BIN{static_cast<unsigned>(b.size()), const_cast<uint8_t *>(b.data())}; }
// Copies the bytes into out (QRT_malloc); throws std::bad_alloc.
void give_bin(BIN *out, const Bytes &b);

// SHA-1 of the key bytes: 0 or the provider's code.
int key_identifier(Bytes &id, const BIN &key);
// AuthorityKeyIdentifier ::= SEQUENCE { keyIdentifier [0] KeyIdentifier } for a key identifier.
int auth_key_id_value(Bytes &ext, const Bytes &keyId);

// The identity verification value: Hash(Hash(DER of HashContent {identityNumber, random})).
// 0, 36001 or 36013.
int compute_vid(Bytes &vid, int hashID, const char *identityNumber, const BIN &random);
// The subjectAltName value carrying the identity data (real name in the local code set).
int identity_alt_name(Bytes &ext, const char *realName, size_t length, int hashID, const BIN &vid);

}  // namespace ostrel::pkc
