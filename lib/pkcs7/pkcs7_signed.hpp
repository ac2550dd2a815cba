// Private helpers of the signed-data modules: certificates read in place, and DER pieces.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "ostrel/tlv.hpp"
#include "pkcs7_internal.h"

namespace ostrel::pkcs7 {

// The issuer Name element of a CRL (read in place); false when it does not read.
bool crl_issuer(const BIN &crl, Reader &issuer);

// AlgorithmIdentifier of a digest id with NULL parameters (37311 when unknown).
int digest_alg_identifier(std::vector<uint8_t> &out, int digestID);

inline bool same_bytes(const Reader &a, const Reader &b) {
    return a.remaining() == b.remaining() &&
           (a.remaining() == 0 || std::memcmp(a.data(), b.data(), a.remaining()) == 0);
}

// Appends a DER element (tag, definite length, contents) to out.
inline void put_tlv(std::vector<uint8_t> &out, uint8_t tag, const uint8_t *p, size_t n) {
    uint8_t len[9];
    size_t ln = tlv::length_octets(n, len);
    out.push_back(tag);
    out.insert(out.end(), len, len + ln);
    if (n) out.insert(out.end(), p, p + n);
}

}  // namespace ostrel::pkcs7
