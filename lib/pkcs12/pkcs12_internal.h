// Private declarations of the PKCS#12 library: the boundary, a DER writer, the identifiers and
// the model a PFX is read into and written from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "ostrel/owners.hpp"
#include "ostrel/reader.hpp"
#include "ostrel/tlv.hpp"
#include "suite_asn.h"
#include "suite_csp.h"
#include "suite_pkcs12.h"
#include "suite_pkcs5.h"
#include "suite_pkcs7.h"

#define OSTREL_REASON_FN QRT_PKCS12_GetErrorReason
#include "ostrel/guard.hpp"
#include "ostrel/trace.hpp"

namespace ostrel::pkcs12 {

inline constexpr Boundary kBoundary{OSTREL_FAIL_FN, QRT_PKCS12_INVALID_INPUT, QRT_PKCS12_MALLOC_FAILED,
                                    QRT_PKCS12_INTERNAL};

// ---- bytes and DER ----

struct Span {
    const uint8_t *p = nullptr;
    size_t n = 0;
    bool operator==(const Span &o) const { return n == o.n && (n == 0 || std::memcmp(p, o.p, n) == 0); }
};
inline Span span_of(const BIN *b) { return b && b->value ? Span{b->value, b->length} : Span{}; }
inline Span span_of(const SecBytes &v) { return Span{v.data(), v.size()}; }
inline Span span_of(const Reader &r) { return Span{r.data(), r.remaining()}; }
inline bool has_bytes(const BIN *b) { return b && b->value && b->length; }

// Appends identifier, length and contents.
void put_tlv(SecBytes &out, uint8_t tag, Span contents);
inline void put_tlv(SecBytes &out, uint8_t tag, const SecBytes &contents) { put_tlv(out, tag, span_of(contents)); }
inline void put_raw(SecBytes &out, Span s) { out.insert(out.end(), s.p, s.p + s.n); }
// A new BIN (QRT_malloc) holding a copy of s; false when memory fails.
bool bin_assign(BIN *out, Span s);

// ---- identifiers (DER contents octets of object identifiers) ----

extern const Span kOidData, kOidSignedData, kOidEnvelopedData, kOidEncryptedData;
extern const Span kOidX509Cert, kOidX509Crl, kOidFriendlyName, kOidLocalKeyId;
// Bag type of an identifier (1..6), 0 when unknown; the identifier of a bag type.
int bag_of_oid(Span oid);
Span oid_of_bag(int bagID);
// pbeID (1-6) and libOstrelPKCS5's pbesID (31-36).
inline int pbes_of_pbe(int pbeID) { return pbeID >= 1 && pbeID <= 6 ? 30 + pbeID : 0; }
// The hash of a MacData digest identifier (0 unknown, -1 MD5 and others refused); its identifier.
int mac_hash_of_oid(Span oid);
Span oid_of_mac_hash(int hashID);
int hash_length(int hashID);

// ---- the model ----

struct Bag {
    int bagID = 0;
    SecBytes value;  // PrivateKeyInfo / EncryptedPrivateKeyInfo DER, certificate or CRL DER
    SecBytes localKeyId;
    SecBytes friendlyName;  // BMPString contents octets
    bool hasLocalKeyId = false;
    bool hasFriendlyName = false;
    SecBytes others;  // further Attribute elements (DER), kept as read
    size_t safe = 0;  // the safe it was read from
};

// One safe: its privacy mode and bags.
struct Safe {
    int pvcID = 0;
    int pbeID = 0;  // mode 3: QRT_PKCS12_PBE_... (0 reading: a scheme outside them)
    int encID = 0;  // mode 2: the PKCS#7 content encryption
    SecBytes recipCert;
    std::vector<Bag> bags;
};

// What reading found: all bags in file order, and the safes' modes (bags left empty).
struct Content {
    std::vector<Bag> bags;
    std::vector<Safe> safes;
    int itgID = 0;  // 0 none (no MAC, no signature)
};

// The password in the form the PKCS#12 derivation takes: each byte widened to 00 b, followed by
// 00 00 unless `bare` (the zero-length form of an empty password).
void widen_password(SecBytes &out, Span password, bool bare);

// Reads a whole PFX; ud may be NULL (password-only reading).
int read_pfx(Content &out, const BIN *pfx, const BIN *password, const ZQ_PKCS12_USERDATA *ud);
// Writes bags as one safe under ud's privacy mode and ud's integrity mode.
int write_pfx(BIN *pfx, const std::vector<Bag> &bags, const ZQ_PKCS12_USERDATA &ud);
// Writes the safes, each in its own mode (password: ud's), under ud's integrity mode. The MAC is
// SHA-1 with 1024 iterations when ud.pbeID is a PKCS#12 PBE id, else SHA-256 with 2048.
int write_safes(BIN *pfx, const std::vector<Safe> &safes, const ZQ_PKCS12_USERDATA &ud);
// One safe's ContentInfo (DER); one ContentInfo's bags appended to out (its mode in safe).
int seal_safe(SecBytes &out, const Safe &safe, const BIN *password);
int open_safe(Span contentInfo, const BIN *password, const ZQ_PKCS12_USERDATA *ud, Safe &safe);

// MacData over authSafe with the widened password (bmp); and its check.
int mac_compute(SecBytes &mac, int hashID, Span data, Span bmp, Span salt, unsigned iterations);
int encode_macdata(SecBytes &out, int hashID, unsigned iterations, Span authSafe, Span password);
int verify_macdata(Span macData, Span authSafe, Span password, bool *bare);

// PKCS#12 PBE decryption under an empty password in the zero-length form (no terminator), which
// libOstrelPKCS5 does not derive; empty-password files of some writers are made so.
int decrypt_bare(SecBytes &plain, Span algDer, Span cipher);

// Attributes of a bag as DER Attributes (SET OF, DER order; nothing when it has none) and back.
void put_attributes(SecBytes &out, const Bag &bag);
bool read_attributes(Reader attrs, Bag &bag);

// The PrivateKeyInfo under a password scheme as EncryptedPrivateKeyInfo DER, and back.
int seal_key(SecBytes &out, int pbeID, Span pki, const BIN *password);
int open_key(BIN *pki, Span epki, const BIN *password);

// A failure of the password-based encryption library as this library reports it: malformed
// parameters, an unknown scheme, else `otherwise` (a password or key that does not fit).
inline int pbe_failure(int rc, int otherwise) {
    switch (rc) {
        case QRT_PKCS5_BAD_ALGORITHM_PARAMETER:
        case QRT_PKCS5_UNKNOWN_SALT:
            return QRT_PKCS12_BAD_ALG_PARAM;
        case QRT_PKCS5_UNKNOWN_ID:
        case QRT_PKCS5_UNKNOWN_PBESID:
        case QRT_PKCS5_UNKNOWN_ENCID:
            return QRT_PKCS12_UNKNOWN_PBEID;
        default:
            return otherwise;
    }
}

}  // namespace ostrel::pkcs12
#define OSTREL_BOUNDARY ::ostrel::pkcs12::kBoundary
