// Private declarations of the PKCS#7 library: the boundary, the identifier tables and the
// helpers every module shares.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "ostrel/asn_tree.hpp"
#include "ostrel/owners.hpp"
#include "ostrel/reader.hpp"
#include "ostrel/tlv.hpp"
#include "suite_csp.h"
#include "suite_pkcs7.h"

#define OSTREL_REASON_FN QRT_PKCS7_GetErrorReason
#include "ostrel/guard.hpp"
#include "ostrel/trace.hpp"

namespace ostrel::pkcs7 {

inline constexpr Boundary kBoundary{OSTREL_FAIL_FN, QRT_PKCS7_INVALID_INPUT, QRT_PKCS7_MALLOC_FAILED,
                                    QRT_PKCS7_INTERNAL};

// ---- identifier tables (suite_pkcs7.cpp) ----

struct EncAlg {
    int encID;
    const ObjectID *oid;
    int keyLength;  // bytes; RC2 takes 1..128 when reading
    int cipherID;   // the provider's cipher
};
// The content-encryption row of an id or an identifier, or nullptr.
const EncAlg *enc_alg(int encID);
const EncAlg *enc_alg(const ObjectID &oid);

// Content type id of an identifier, -1 when outside the table; the identifier of an id or nullptr.
int type_id(const ObjectID &oid);
const ObjectID *type_oid(int typeID);
// Digest id of an identifier (-1), its identifier (nullptr), the provider's hash id (0).
int digest_id(const ObjectID &oid);
const ObjectID *digest_oid(int digestID);
int hash_id(int digestID);
// The provider's (hash id, sign id) of an (alg id, digest id): 37313 for an alg id outside the
// table, 37311 for a pair it lacks.
int sign_cell(int algID, int digestID, int &hash, int &sign);
// The provider's signature algorithm a signer with alg id and digest id signs with (RSASSA-PSS:
// the hash, MGF1 with it, a salt of the hash length).
int signer_alg(ZQ_CSP_SigAlg &alg, int algID, int digestID);
// The signer alg id of a certificate key (QRT_CSP_PKEY_...), or -1.
int alg_of_cert_key(int pkeyID);

// ---- small helpers (suite_pkcs7_bin.cpp) ----

inline bool has_bytes(const BIN *b) { return b && b->value && b->length; }
// A heap BIN owning a copy of n bytes; throws std::bad_alloc when memory fails.
BIN *new_bin(const void *p, size_t n);
inline BIN *new_bin(const BIN &b) { return new_bin(b.value, b.length); }
// Releases (and wipes) a heap BIN and sets the pointer to nullptr.
void free_bin(BIN *&b);
// Copies n bytes into out (out is reset first); throws std::bad_alloc when memory fails.
void set_bin(BIN *out, const void *p, size_t n);

// ---- DER written straight into one buffer of its final size ----

// The size of an element with n contents octets.
inline size_t der_size(size_t n) {
    uint8_t l[9];
    return 1 + tlv::length_octets(n, l) + n;
}
// Writes identifier and length octets at `at`; the position after them.
inline uint8_t *der_header(uint8_t *at, uint8_t tag, size_t n) {
    uint8_t l[9];
    size_t ln = tlv::length_octets(n, l);
    *at++ = tag;
    std::memcpy(at, l, ln);
    return at + ln;
}
inline uint8_t *der_put(uint8_t *at, const void *p, size_t n) {
    if (n) std::memcpy(at, p, n);
    return at + n;
}
// out (reset first) becomes a buffer of n bytes from the I/O core's allocator; throws
// std::bad_alloc when memory fails.
void alloc_bin(BIN *out, size_t n);

// ---- content layer (suite_pkcs7_content.cpp) ----

// A ContentInfo { type, [0] EXPLICIT value } written without the engine: `prefix` (identifier
// and length octets of the inner value, when the value is given without them; may be empty)
// followed by `value`. No value: a ContentInfo without content.
void content_info_der(BIN *out, const ObjectID &type, const Reader &prefix, const BIN *value);

// Fills out from a decoded ContentInfo, taking over its content buffer. A type outside the table
// is 37310, or type id 0 when allow_unknown (an inner content of signed data).
int content_from_tree(ZQ_PKCS7_CONTENT *out, ContentInfoWire &ci, bool allow_unknown);
// The octets a content's digest covers: the contents octets of its DER value (BER is brought to
// DER first, `normalized` then holding it). octets views value or normalized.
int digest_message(Reader &octets, const BIN &value, BinOwner &normalized);
// The digest of octets with a digest id (37311 when unknown; the provider's code otherwise).
int digest_of(BIN *out, const Reader &octets, int digestID);

// ---- certificates without decoding them (suite_pkcs7_local.cpp) ----

// The whole elements of a DER certificate the library looks at, read in place (no decoding):
// serial number, issuer and subject Names, SubjectPublicKeyInfo, the [3] extensions (empty when
// absent).
struct CertView {
    Reader serial, issuer, subject, spki, extensions;
};
// False when the certificate does not read that far.
bool cert_view(const BIN &cert, CertView &v);

// The key identifier of a certificate: its subjectKeyIdentifier extension, else the SHA-1 of the
// subjectPublicKey BIT STRING octets.
int cert_key_id(BinOwner &out, const BIN &cert);

// The issuer Name and serialNumber INTEGER of a DER certificate, whole elements as they stand
// in it; false when the certificate does not read that far.
bool cert_issuer_serial(const BIN &cert, Reader &issuer, Reader &serial);
// The DER IssuerAndSerialNumber of a certificate (out reset first); false as above.
bool cert_isn(const BIN &cert, BinOwner &out);
// Whether an IssuerAndSerialNumber (DER) names the certificate.
bool isn_matches(const BIN &isn, const BIN &cert);

// ---- sets and signer infos on the wire ----

// Copies the members of a wire list (SEQUENCE OF / SET OF ANY: nodes {next, value}) into a set,
// in order; more than `max` members is `over` and nothing is added.
template <class Node>
int take_set(ZQ_PKCS7_BIN_SET **set, const Node *list, int max, int over) {
    int n = 0;
    for (const Node *p = list; p; p = p->next)
        if (++n > max) return over;
    for (const Node *p = list; p; p = p->next)
        if (int rc = QRT_PKCS7_BIN_SET_Add(set, &p->value)) return rc;
    return 0;
}

// Reads one SignerInfo (RFC 2315 or CMS, either signer identifier) into si, which is reset
// first (suite_pkcs7_signerinfo.cpp). 37344 when it does not read.
int signer_info_read(ZQ_PKCS7_SIGNER_INFO *si, const BIN &der);
// The DER SignerInfo of a signed si: version 1 with its IssuerAndSerialNumber, the digest
// algorithm, the attributes, the digestEncryptionAlgorithm its alg id writes (or the one it was
// read with), the signature (37363 when missing).
int signer_info_write(BIN *out, const ZQ_PKCS7_SIGNER_INFO &si);

}  // namespace ostrel::pkcs7
#define OSTREL_BOUNDARY ::ostrel::pkcs7::kBoundary
