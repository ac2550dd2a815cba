/* libOstrelCRL: decoding of X.509 CRLs, their signature under the issuer's key, freshness, and
 * whether a certificate or a serial number is revoked (with the revocation time and reason).
 *
 * The functions work on CertificateList and TBSCertList trees of the ASN.1 layer; a decoded CRL
 * belongs to the caller, who releases it with QRT_ASN_FreePDU(crl, CertificateList_PDU).
 *
 * Revocation look-ups do not walk the list: the first look-up on a CRL tree builds an index of
 * its entries (serial -> first entry in list order), which later look-ups from any thread share
 * and which is released with the tree. The index reflects the entries at that first look-up; a
 * caller that edits a decoded list must use a fresh copy. */
#ifndef OSTREL_SUITE_CRL_H
#define OSTREL_SUITE_CRL_H

#include <time.h>

#include "suite_asn.h"
#include "suite_crl_codes.h"
#include "suite_io.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Decodes the CRL in the file at path, or in der (33030 when it does not decode). */
QRT_API int QRT_GetCRLCtx(int ignored, const char *path, CertificateList **out);
QRT_API int QRT_GetCRLCtxBin(int ignored, const BIN *der, CertificateList **out);

/* The CRL's signature over its TBSCertList as received, under the issuer's key: 0, 33050 when
 * it does not hold, 33010 for an algorithm the provider's signature table does not know, or the
 * provider's code. The Ex form gives domain parameters for an issuer key that carries none (a
 * DSA key inheriting its own issuer's parameters). */
QRT_API int QRT_CRL_VerifySignature(const CertificateList *crl, const TBSCertificate *issuer);
QRT_API int QRT_CRL_VerifySignatureEx(const CertificateList *crl, const TBSCertificate *issuer,
                                      const BIN *inheritedParam);
QRT_API int QRT_VerifyCRL(int ignored, const TBSCertificate *issuer, const CertificateList *crl);

/* Freshness: 33030 without nextUpdate, 33051 when nextUpdate is before now, else 0. Two-digit
 * years 50-99 are 1950-1999, 00-49 are 2000-2049. */
QRT_API int QRT_CRL_VerifyTime(const TBSCertList *tbs, time_t now);
/* 1 when the CRL is past its nextUpdate or has none, 0 when fresh; 33001 for NULL. */
QRT_API int QRT_IsCRLCtxTimeOut(const TBSCertList *tbs);
QRT_API int QRT_IsCRLTimeOut(int ignored, const BIN *der);

/* 1 when an entry's serial has the same length and bytes as serial, else 0 (also for NULL).
 * Neither the issuer nor the freshness of the CRL is consulted. */
QRT_API int QRT_CRL_IsCertRevoked(const TBSCertList *tbs, const CertificateSerialNumber *serial);
QRT_API int QRT_IsCertRevoked(int ignored, const TBSCertList *tbs, const CertificateSerialNumber *serial);

/* 1 revoked, 0 not, 33080 when the CRL is past its nextUpdate or has none, 33001 NULL. At the
 * first matching entry: its revocation date in seconds and, when asked, its reason (the
 * reasonCode extension; 0, unspecified, when the entry has none; 33030 when it does not
 * decode). */
QRT_API int QRT_IsCertRevokedSerial(int ignored, const TBSCertList *tbs, const HUGE *serial);
QRT_API int QRT_IsCertRevokedSerialGetRevokedTime(int ignored, const TBSCertList *tbs, const HUGE *serial,
                                                  int *revocationTime);
QRT_API int QRT_IsCertRevokedSerialAndGetRevokedInfo(int ignored, const TBSCertList *tbs, const HUGE *serial,
                                                     int *revocationTime, int *reason);

QRT_API const char *QRT_CRL_GetVersion(void);
QRT_API const char *QRT_GetVersionCRL(void);
QRT_API int QRT_CRL_CheckVersion(const char *required);
QRT_API const char *QRT_CRL_GetErrorReason(int code, int locale);
QRT_API const char *QRT_GetErrReasonCRL(int code, int locale);

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_SUITE_CRL_H */
