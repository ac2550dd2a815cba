// CRLs: decoding, the signature under the issuer's key over the TBSCertList as received,
// freshness, and revocation look-ups through the index.
#include <cstring>
#include <ctime>

#include "crl_internal.h"
#include "ostrel/asn_tree.hpp"
#include "ostrel/x509_sig.hpp"
#include "ostrel/x509_time.hpp"

namespace ostrel::crl {
namespace {

int verify(const CertificateList *crl, const TBSCertificate *issuer, const BIN *inherited) {
    static constexpr SigCodes kCodes{QRT_CRL_UNKNOWN_SIGNID, QRT_CRL_BAD_CRL, QRT_CRL_INVALID_SIGNATURE};
    int rc = check_signed(crl->signatureAlgorithm, crl->tbsCertList_encoded, &crl->tbsCertList, TBSCertList_PDU,
                          crl->signature, *issuer, inherited, kCodes);
    return rc ? OSTREL_FAIL_AS("QRT_CRL_VerifySignature", rc) : 0;
}

int freshness(const TBSCertList *tbs, time_t now) {
    if (!(tbs->bit_mask & TBSCertList_nextUpdate_present)) return QRT_CRL_BAD_CRL;
    time_t next;
    if (!x509_time(tbs->nextUpdate, next)) return QRT_CRL_BAD_CRL;
    return next < now ? QRT_CRL_INVALID_TIME : 0;
}

// The reasonCode of an entry: 0 (unspecified) without one, -1 when it does not decode.
int reason_of(const Entry &e) {
    if (!(e.bit_mask & TBSCertList_revokedCertificates_Elem_crlEntryExtensions_present)) return 0;
    for (auto *x = e.crlEntryExtensions; x; x = x->next) {
        const ObjectID &id = x->value.extnID;
        if (!oid_equal(id, id_ce_cRLReasons)) continue;
        ostrel::AsnTree<int> reason(CRLReason_PDU);
        if (reason.decode(&x->value.extnValue) != 0 || !reason) return -1;
        return *reason;
    }
    return 0;
}

int revoked_serial(const char *func, const TBSCertList *tbs, const HUGE *serial, int *when, int *reason) {
    if (!tbs || !serial) return QRT_CRL_INVALID_INPUT;
    if (freshness(tbs, time(nullptr)) != 0) return OSTREL_FAIL_AS(func, QRT_CRL_EXPIRED);
    const Entry *e = find_entry(tbs, serial->value, serial->length);
    if (!e) return 0;
    if (when) {
        time_t t = 0;
        x509_time(e->revocationDate, t);
        *when = static_cast<int>(t);
    }
    if (reason) {
        int r = reason_of(*e);
        if (r < 0) return OSTREL_FAIL_AS(func, QRT_CRL_BAD_CRL);
        *reason = r;
    }
    return 1;
}

}  // namespace
}  // namespace ostrel::crl

using namespace ostrel::crl;

extern "C" {

QRT_API int QRT_GetCRLCtxBin(int, const BIN *der, CertificateList **out) {
    if (!der || !out) return QRT_CRL_INVALID_INPUT;
    *out = nullptr;
    return OSTREL_GUARD([&] {
        void *v = nullptr;
        if (QRT_ASN_DecodePDU(&v, der, CertificateList_PDU) != 0 || !v) return OSTREL_FAIL(QRT_CRL_BAD_CRL);
        *out = static_cast<CertificateList *>(v);
        return 0;
    });
}

QRT_API int QRT_GetCRLCtx(int, const char *path, CertificateList **out) {
    if (!path || !out) return QRT_CRL_INVALID_INPUT;
    *out = nullptr;
    BIN der{0, nullptr};
    int rc = QRT_File_ReadBin(&der, path);
    if (rc != 0) {
        QRT_BIN_Reset(&der);
        return OSTREL_FAIL(rc);
    }
    rc = QRT_GetCRLCtxBin(0, &der, out);
    QRT_BIN_Reset(&der);
    return rc;
}

QRT_API int QRT_CRL_VerifySignatureEx(const CertificateList *crl, const TBSCertificate *issuer, const BIN *inheritedParam) {
    if (!crl || !issuer) return QRT_CRL_INVALID_INPUT;
    return OSTREL_GUARD([&] { return verify(crl, issuer, inheritedParam); });
}
QRT_API int QRT_CRL_VerifySignature(const CertificateList *crl, const TBSCertificate *issuer) {
    return QRT_CRL_VerifySignatureEx(crl, issuer, nullptr);
}
QRT_API int QRT_VerifyCRL(int, const TBSCertificate *issuer, const CertificateList *crl) {
    return QRT_CRL_VerifySignatureEx(crl, issuer, nullptr);
}

QRT_API int QRT_CRL_VerifyTime(const TBSCertList *tbs, time_t now) {
    if (!tbs) return QRT_CRL_INVALID_INPUT;
    int rc = freshness(tbs, now);
    return rc ? OSTREL_FAIL(rc) : 0;
}

QRT_API int QRT_IsCRLCtxTimeOut(const TBSCertList *tbs) {
    if (!tbs) return QRT_CRL_INVALID_INPUT;
    return freshness(tbs, time(nullptr)) != 0 ? 1 : 0;
}

QRT_API int QRT_IsCRLTimeOut(int, const BIN *der) {
    if (!der) return QRT_CRL_INVALID_INPUT;
    return OSTREL_GUARD([&] {
        ostrel::AsnTree<CertificateList> crl(CertificateList_PDU);
        if (crl.decode(der) != 0 || !crl) return OSTREL_FAIL(QRT_CRL_BAD_CRL);
        return QRT_IsCRLCtxTimeOut(&crl->tbsCertList);
    });
}

QRT_API int QRT_CRL_IsCertRevoked(const TBSCertList *tbs, const CertificateSerialNumber *serial) {
    if (!tbs || !serial) return 0;
    return OSTREL_GUARD_OR(0, [&] { return find_entry(tbs, serial->value, serial->length) ? 1 : 0; });
}
QRT_API int QRT_IsCertRevoked(int, const TBSCertList *tbs, const CertificateSerialNumber *serial) {
    return QRT_CRL_IsCertRevoked(tbs, serial);
}

QRT_API int QRT_IsCertRevokedSerial(int, const TBSCertList *tbs, const HUGE *serial) {
    return OSTREL_GUARD_OR(QRT_CRL_MALLOC_FAILED,
                           [&] { return revoked_serial("QRT_IsCertRevokedSerial", tbs, serial, nullptr, nullptr); });
}
QRT_API int QRT_IsCertRevokedSerialGetRevokedTime(int, const TBSCertList *tbs, const HUGE *serial, int *revocationTime) {
    return OSTREL_GUARD_OR(QRT_CRL_MALLOC_FAILED, [&] {
        return revoked_serial("QRT_IsCertRevokedSerialGetRevokedTime", tbs, serial, revocationTime, nullptr);
    });
}
QRT_API int QRT_IsCertRevokedSerialAndGetRevokedInfo(int, const TBSCertList *tbs, const HUGE *serial,
                                                     int *revocationTime, int *reason) {
    return OSTREL_GUARD_OR(QRT_CRL_MALLOC_FAILED, [&] {
        return revoked_serial("QRT_IsCertRevokedSerialAndGetRevokedInfo", tbs, serial, revocationTime, reason);
    });
}

}  // extern "C"
