// Private declarations shared by the OCSP library's modules: the boundary, byte helpers, the
// certificate reading both halves use, and the internal forms of request building, response
// checking and transport that the exported functions and QRT_OCSP_Client share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "ostrel/asn_tree.hpp"
#include "ostrel/owners.hpp"
#include "suite_asn.h"
#include "suite_csp.h"
#include "suite_ocsp.h"

#define OSTREL_REASON_FN QRT_OCSP_GetErrorReason
#include "ostrel/guard.hpp"
#include "ostrel/trace.hpp"

namespace ostrel::ocsp {

inline constexpr Boundary kBoundary{OSTREL_FAIL_FN, QRT_OCSP_INVALID_INPUT, QRT_OCSP_MALLOC_FAILED, QRT_OCSP_INTERNAL};

inline constexpr size_t kSha1Length = 20;
inline constexpr size_t kNonceLength = 20;

// ---- bytes ----

inline bool has_bytes(const BIN *b) { return b && b->value && b->length; }
inline BIN bin_view(const void *p, size_t n) {
    return BIN{static_cast<unsigned int>(n), static_cast<unsigned char *>(const_cast<void *>(p))};
}
inline BIN bin_view(const SecBytes &v) { return bin_view(v.data(), v.size()); }
inline bool same_bytes(const void *a, size_t an, const void *b, size_t bn) {
    return an == bn && (an == 0 || std::memcmp(a, b, an) == 0);
}
// The octets of a BIT STRING (unused trailing bits included).
inline BIN bits_view(const BitString &b) { return bin_view(b.value, (b.length + 7) / 8); }

// Identifier, DER length and contents appended to out.
void put_tlv(SecBytes &out, uint8_t tag, const void *contents, size_t n);
inline void put_raw(SecBytes &out, const void *p, size_t n) {
    const auto *b = static_cast<const uint8_t *>(p);
    out.insert(out.end(), b, b + n);
}
// A copy of n bytes in new memory (QRT_malloc) into out; throws std::bad_alloc.
void bin_assign(BIN *out, const void *p, size_t n);
inline void bin_assign(BIN *out, const SecBytes &v) { bin_assign(out, v.data(), v.size()); }

// SHA-1 through the provider; its code when it fails.
int sha1(uint8_t out[kSha1Length], const void *p, size_t n);

// ---- certificates ----

using Cert = AsnTree<Certificate>;

// The first extension of exts with identifier oid, or nullptr.
const Extension *find_extension(Extensions exts, const ObjectID &oid);
inline Extensions cert_extensions(const Certificate &c) {
    return (c.tbsCertificate.bit_mask & TBSCertificate_extensions_present) ? c.tbsCertificate.extensions : nullptr;
}
// The same certificate: the same signed part as received and the same signature.
bool same_cert(const Certificate &a, const Certificate &b);

// ---- requests ----

// The DER TBSRequest of request and the extnValue of its nonce extension.
int encode_tbs(SecBytes &tbs, SecBytes &nonce, const ZQ_OCSP_Request &request);
// The signature octets over tbs by signID with privKey (signCert as the algorithm needs it).
int sign_tbs(BinOwner &signature, const BIN &tbs, const BIN &privKey, int signID, const BIN *signCert);
// The DER OCSPRequest around a TBSRequest and its signature (signature NULL: unsigned).
int wrap_request(SecBytes &out, const BIN &tbs, const BIN *signature, const ZQ_OCSP_Request &request);
// The whole request: unsigned, signed with privKey, or signed in two phases through cb.
int build_request(SecBytes &out, SecBytes &nonce, const ZQ_OCSP_Request &request, const BIN *privKey,
                  QRT_OCSP_ComputeSignatureCB cb);

// ---- responses ----

// A response record released unless handed over.
class ResponseOwner {
  public:
    ResponseOwner() = default;
    ResponseOwner(const ResponseOwner &) = delete;
    ResponseOwner &operator=(const ResponseOwner &) = delete;
    ~ResponseOwner() { QRT_OCSP_ResetResponse(&r_); }
    ZQ_OCSP_Response &operator*() { return r_; }
    ZQ_OCSP_Response *operator->() { return &r_; }
    // Moves the record into out, whose previous contents are released.
    void release_to(ZQ_OCSP_Response *out) {
        QRT_OCSP_ResetResponse(out);
        *out = r_;
        r_ = ZQ_OCSP_Response{};
    }

  private:
    ZQ_OCSP_Response r_{};
};

// What a response said about the nonce: whether it carried one, and its extnValue.
struct NonceSeen {
    bool present = false;
    SecBytes value;
};

// Reads and checks a DER OCSPResponse into out; the nonce extension into nonce when given.
int decode_response(ZQ_OCSP_Response &out, const BIN &der, const BIN *serverCert, int checkSign, NonceSeen *nonce);

}  // namespace ostrel::ocsp

#define OSTREL_BOUNDARY ::ostrel::ocsp::kBoundary
