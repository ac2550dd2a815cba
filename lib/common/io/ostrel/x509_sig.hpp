// The signature of a signed X.509 object (certificate, CRL, ...) under an issuer's key, through
// the provider's one signature table and check, over the signed part as it was received. For
// the libraries that link the ASN.1 layer and the provider.
#pragma once

#include "suite_asn.h"
#include "suite_csp.h"

namespace ostrel {

// The complete encoding of a part of a tree: the bytes the engine kept as received, or for a
// tree built by hand an encoding made now (released with this object).
class KeptEncoding {
  public:
    KeptEncoding() = default;
    KeptEncoding(const KeptEncoding &) = delete;
    KeptEncoding &operator=(const KeptEncoding &) = delete;
    ~KeptEncoding() { QRT_BIN_Reset(&owned_); }

    // The ASN.1 layer's code when encoding fails.
    int take(const Any &kept, const void *value, int pdu) {
        if (kept.length && kept.value) {
            view_ = kept;
            return 0;
        }
        int rc = QRT_ASN_EncodePDU(&owned_, value, pdu);
        view_ = owned_;
        return rc;
    }
    const BIN *get() const { return &view_; }

  private:
    BIN view_{0, nullptr};
    BIN owned_{0, nullptr};
};

// The identifier's parts as the provider takes them; params must outlive the result.
inline ZQ_CSP_AlgID csp_alg_id(const AlgorithmIdentifier &alg, BIN &params) {
    params = BIN{0, nullptr};
    if (alg.bit_mask & AlgorithmIdentifier_parameters_present) params = alg.parameters;
    return ZQ_CSP_AlgID{alg.algorithm.value, alg.algorithm.length, params.length ? &params : nullptr};
}

// The codes a library gives for the ways a signature check can fail; any other code of the
// provider passes through.
struct SigCodes {
    int unknown_algorithm;  // the provider's table does not know the identifier
    int unencodable;        // the signed part or the issuer's key could not be encoded
    int invalid_signature;  // the signature does not hold
};

// Checks `signature` by `alg` over the signed part (kept bytes, or `value` of `pdu` encoded)
// under issuer's key; `inherited` gives domain parameters for a key that carries none. 0 when it
// holds, else the caller's code for the failure.
inline int check_signed(const AlgorithmIdentifier &alg, const Any &kept, const void *value, int pdu,
                        const BitString &signature, const TBSCertificate &issuer, const BIN *inherited,
                        const SigCodes &codes) {
    BIN params;
    ZQ_CSP_AlgID id = csp_alg_id(alg, params);
    KeptEncoding signed_part, spki;
    if (signed_part.take(kept, value, pdu) != 0 ||
        spki.take(issuer.subjectPublicKeyInfo_encoded, &issuer.subjectPublicKeyInfo, SubjectPublicKeyInfo_PDU) != 0)
        return codes.unencodable;
    BIN sig{(signature.length + 7) / 8, signature.value};
    int rc = QRT_CSP_VerifySignedData(&id, signed_part.get(), &sig, spki.get(),
                                      inherited && inherited->length ? inherited : nullptr);
    if (rc == QRT_CSP_INVALID_SIGNATURE) return codes.invalid_signature;
    if (rc == QRT_CSP_UNKNOWN_ID) return codes.unknown_algorithm;  // the table does not know the identifier
    return rc;
}

}  // namespace ostrel
