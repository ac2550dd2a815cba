// Certificate checks: validity period, the signature under an issuer's key, revocation through a
// CRL, the CA test and key-usage and extended-key-usage tests.
#include <cstring>
#include <ctime>

#include "ostrel/asn_tree.hpp"
#include "ostrel/x509_sig.hpp"
#include "ostrel/x509_time.hpp"
#include "pkc_internal.h"

namespace ostrel::pkc {
namespace {

Extensions extensions_of(const Certificate *cert) {
    const TBSCertificate &tbs = cert->tbsCertificate;
    return (tbs.bit_mask & TBSCertificate_extensions_present) ? tbs.extensions : nullptr;
}

int verify_time(const TBSCertificate *tbs, time_t when) {
    time_t from, to;
    if (!x509_time(tbs->validity.notBefore, from) || !x509_time(tbs->validity.notAfter, to))
        return QRT_PKC_INVALID_TIME;
    return when < from || when > to ? QRT_PKC_INVALID_TIME : 0;
}

int verify_signature(const Certificate *cert, const TBSCertificate *issuer, const BIN *inherited) {
    static constexpr SigCodes kCodes{QRT_PKC_UNKNOWN_SIGNID, QRT_PKC_BAD_CERTIFICATE, QRT_PKC_INVALID_SIGNATURE};
    int rc = check_signed(cert->signatureAlgorithm, cert->tbsCertificate_encoded, &cert->tbsCertificate,
                          TBSCertificate_PDU, cert->signature, *issuer, inherited, kCodes);
    return rc ? OSTREL_FAIL_AS("QRT_PKC_VerifySignature", rc) : 0;
}

// The key-usage bits of an extension value; false when it does not decode.
bool key_usage_bits(const Extension *ext, unsigned &bits) {
    AsnTree<unsigned short> ku(KeyUsage_PDU);
    if (ku.decode(&ext->extnValue) != 0 || !ku) return false;
    bits = *ku;
    return true;
}

bool has_purpose(const Extension *ext, const ObjectID &purpose) {
    AsnTree<ExtKeyUsageSyntax> eku(ExtKeyUsageSyntax_PDU);
    if (eku.decode(&ext->extnValue) != 0 || !eku) return false;
    for (auto *p = *eku; p; p = p->next)
        if (oid_equal(p->value, purpose)) return true;
    return false;
}

}  // namespace
}  // namespace ostrel::pkc

using namespace ostrel::pkc;
using ostrel::oid_equal;

extern "C" {

QRT_API int QRT_PKC_VerifyTime(const TBSCertificate *tbs, time_t when) {
    if (!tbs) return QRT_PKC_INVALID_INPUT;
    int rc = verify_time(tbs, when);
    return rc ? OSTREL_FAIL(rc) : 0;
}

QRT_API int QRT_IsCertTimeValid(const TBSCertificate *tbs) {
    return tbs && verify_time(tbs, time(nullptr)) == 0 ? 1 : 0;
}

QRT_API int QRT_PKC_VerifySignatureEx(const Certificate *cert, const TBSCertificate *issuer, const BIN *inheritedParam) {
    if (!cert || !issuer) return QRT_PKC_INVALID_INPUT;
    return OSTREL_GUARD([&] { return verify_signature(cert, issuer, inheritedParam); });
}
QRT_API int QRT_PKC_VerifySignature(const Certificate *cert, const TBSCertificate *issuer) {
    return QRT_PKC_VerifySignatureEx(cert, issuer, nullptr);
}
QRT_API int QRT_CheckSignature(int, const Certificate *cert, const TBSCertificate *issuer) {
    return QRT_PKC_VerifySignatureEx(cert, issuer, nullptr);
}

QRT_API int QRT_CertCheck(int, int, const CertificateList *crl, const Certificate *cert, const Certificate *issuer,
                          unsigned short flags) {
    if (!cert || !issuer) return QRT_PKC_INVALID_INPUT;
    if (flags & QRT_PKC_CHECK_SIGNATURE) {
        int rc = QRT_PKC_VerifySignature(cert, &issuer->tbsCertificate);
        if (rc) return rc;
    }
    if (flags & QRT_PKC_CHECK_REVOCATION) {
        if (!crl) return QRT_PKC_INVALID_INPUT;
        if (QRT_CRL_IsCertRevoked(&crl->tbsCertList, &cert->tbsCertificate.serialNumber) == 1)
            return OSTREL_FAIL(QRT_PKC_CERT_REVOKED);
    }
    if ((flags & QRT_PKC_CHECK_TIME) && QRT_IsCertTimeValid(&cert->tbsCertificate) != 1)
        return OSTREL_FAIL(QRT_PKC_USER_CERT_TIME);
    if ((flags & QRT_PKC_CHECK_ISSUER_TIME) && QRT_IsCertTimeValid(&issuer->tbsCertificate) != 1)
        return OSTREL_FAIL(QRT_PKC_ISSUER_CERT_TIME);
    return 0;
}

QRT_API const Extension *QRT_GetExtension(const Extensions exts, const ObjectID *oid) {
    if (!oid) return nullptr;
    for (auto *e = exts; e; e = e->next)
        if (oid_equal(e->value.extnID, *oid)) return &e->value;
    return nullptr;
}

QRT_API int QRT_CheckCaOrNot(int, const Certificate *cert) {
    if (!cert) return 0;
    const Extension *ext = QRT_GetExtension(extensions_of(cert), &id_ce_basicConstraints);
    if (!ext) return 0;
    return OSTREL_GUARD_OR(-1, [&] {
        ostrel::AsnTree<BasicConstraints> bc(BasicConstraints_PDU);
        if (bc.decode(&ext->extnValue) != 0 || !bc) return -1;
        return (bc->bit_mask & BasicConstraints_cA_present) && bc->cA ? 1 : 0;
    });
}

QRT_API int QRT_CheckKeyUsage(int, const Extension *ext, unsigned short mask) {
    if (!ext) return -1;
    return OSTREL_GUARD_OR(-1, [&] {
        unsigned bits = 0;
        return key_usage_bits(ext, bits) && (bits & mask) ? 0 : -1;
    });
}

QRT_API int QRT_CheckExtKeyUsage(int, const Extension *ext, const ObjectID *purpose) {
    if (!ext || !purpose) return -1;
    return OSTREL_GUARD_OR(-1, [&] { return has_purpose(ext, *purpose) ? 0 : -1; });
}

QRT_API int QRT_CheckCertUsage(int, const Certificate *cert, int usage) {
    struct Usage {
        const ObjectID *extension;
        unsigned short mask;       // key usage
        const ObjectID *purpose;   // extended key usage
    };
    static const Usage kUsages[] = {
        {&id_ce_keyUsage, KeyUsage_keyEncipherment, nullptr},
        {&id_ce_keyUsage, KeyUsage_digitalSignature, nullptr},
        {&id_ce_extKeyUsage, 0, &id_kp_timeStamping},
        {&id_ce_extKeyUsage, 0, &id_kp_OCSPSigning},
        {&id_ce_extKeyUsage, 0, &id_kp_codeSigning},
        {&id_ce_extKeyUsage, 0, &id_kp_emailProtection},
        {&id_ce_extKeyUsage, 0, &id_kp_serverAuth},
        {&id_ce_extKeyUsage, 0, &id_kp_clientAuth},
    };
    if (!cert || usage < 1 || usage > 8) return OSTREL_FAIL(-1);
    const Usage &u = kUsages[usage - 1];
    const Extension *ext = QRT_GetExtension(extensions_of(cert), u.extension);
    int rc = !ext ? -1 : u.purpose ? QRT_CheckExtKeyUsage(0, ext, u.purpose) : QRT_CheckKeyUsage(0, ext, u.mask);
    return rc ? OSTREL_FAIL(-1) : 0;
}

}  // extern "C"
