// CRL sets: the CRL of an issuer, read in place.
#include "pkcs7_signed.hpp"

using namespace ostrel;
using namespace ostrel::pkcs7;

namespace ostrel::pkcs7 {

// CertificateList ::= SEQUENCE { tbsCertList SEQUENCE { version INTEGER OPTIONAL, signature
//   AlgorithmIdentifier, issuer Name, ... }, ... }
bool crl_issuer(const BIN &crl, Reader &issuer) {
    Reader r(crl.value, crl.length), c, tbs, skip, content;
    uint8_t tag = 0;
    if (tlv::read_tlv(r, tlv::kSequence, c, tlv::Profile::kBer) ||
        tlv::read_tlv(c, tlv::kSequence, tbs, tlv::Profile::kBer))
        return false;
    if (tlv::next_is(tbs, tlv::kInteger) && tlv::read_tlv(tbs, tlv::kInteger, skip, tlv::Profile::kBer)) return false;
    if (tlv::read_tlv(tbs, tlv::kSequence, skip, tlv::Profile::kBer)) return false;
    return tlv::read_any(tbs, tag, content, &issuer, tlv::Profile::kBer) == tlv::kOk && tag == tlv::kSequence;
}

}  // namespace ostrel::pkcs7

extern "C" {

QRT_API int QRT_PKCS7_Crls_GetCrl(BIN *out, const ZQ_PKCS7_BIN_SET *crls, const BIN *issuerName) {
    if (!out || !has_bytes(issuerName)) return QRT_PKCS7_INVALID_INPUT;
    *out = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        Reader want(issuerName->value, issuerName->length);
        for (const ZQ_PKCS7_BIN_SET *p = crls; p; p = p->next) {
            Reader issuer;
            if (crl_issuer(p->value, issuer) && same_bytes(issuer, want)) {
                set_bin(out, p->value.value, p->value.length);
                return 0;
            }
        }
        return static_cast<int>(QRT_PKCS7_NOT_EXIST);
    });
}

}  // extern "C"
