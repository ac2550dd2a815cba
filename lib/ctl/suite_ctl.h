/* libOstrelCTL: certificate trust lists. A trust authority signs a list of certificate digests
 * (the CertificateTrustList tree of the ASN.1 layer, PDU 77) as the content of a PKCS#7 signed
 * data of type cTL (1.3.6.1.4.1.311.10.1); this library signs and opens such lists, checks a
 * decoded list's version, validity period and subject usage, and answers whether a certificate
 * is on it. Signing and verifying go through the PKCS#7 library.
 *
 * Carriage: lists are written the RFC 2315 way (the CertificateTrustList SEQUENCE is the content
 * itself; the digest covers its contents octets) with SHA-1 and the authenticated attributes
 * contentType (cTL), messageDigest and one signingTime. Opening reads that form and the CMS one
 * (an OCTET STRING holding the list's DER).
 *
 * Results: 0, a code of this library (44001-44080), or a code of the PKCS#7 library, the ASN.1
 * layer, the provider or the I/O core passed through. Every failure of a public function is
 * recorded in the calling thread's error trace under the function's name. Outputs are complete
 * only on success; on failure they are empty. Output BINs and list nodes belong to the caller
 * (QRT_BIN_Reset, QRT_BIN_LIST_Reset); a decoded list is released with
 * QRT_ASN_FreePDU(ctl, CertificateTrustList_PDU). */
#ifndef OSTREL_SUITE_CTL_H
#define OSTREL_SUITE_CTL_H

#include <time.h>

#include "suite_asn.h"
#include "suite_ctl_codes.h"
#include "suite_io.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Signs a list: ctlContent is the DER of a CertificateTrustList (44030 when it does not decode);
 * signerKey the signer's private key in the PKCS#7 library's form (PKCS#1 RSAPrivateKey for
 * RSA). The certificate set holds signerCert, then every certificate of certs in list order (a
 * node with no value is skipped). extraCert (optional) goes where its type says: a Certificate
 * after those, a CertificateList into the CRL set; anything else is 44001. out: the DER
 * ContentInfo of the signed data. */
QRT_API int QRT_CTL_EncodeSigned(BIN *out, const BIN *ctlContent, const BIN *signerCert, const BIN *signerKey,
                                 ZQ_BIN_LIST *certs, const BIN *extraCert);

/* Opens a signed list: 44020 when the ContentInfo is not signed data, 37360 when it carries no
 * list, 37364 when it has no signer. The first signer, found by IssuerAndSerialNumber or
 * subjectKeyIdentifier among the embedded certificates, is verified with verifyCert when given,
 * else with its embedded certificate (37361 when there is none). ctlContent: the list's DER;
 * signerCert: the signer's embedded certificate (empty when it is not embedded); otherCerts: a
 * caller node filled as QRT_BIN_LIST_Copy fills one, with every other embedded certificate in
 * the order of the set (left zeroed when there are none). */
QRT_API int QRT_CTL_DecodeSigned(BIN *ctlContent, BIN *signerCert, ZQ_BIN_LIST *otherCerts, const BIN *signedDER,
                                 const BIN *verifyCert);

/* Checks a decoded list at `now`: 44054 for a version other than v1, 44052 when now is before
 * thisUpdate, 44080 when nextUpdate is before now, 44053 when the subject usage lacks
 * electronic_civil_application (1.2.410.200004.8.1.1.1); else 0. Times may be UTCTime (two-digit
 * years 50-99 are 19yy) or GeneralizedTime. */
QRT_API int QRT_CTL_Verify(const CertificateTrustList *ctl, time_t now);

/* 0 when the digest of certDER under the list's subject algorithm (md2, md5, sha-1, HAS-160,
 * sha-256, sha-384, sha-512; 44010 otherwise) equals a trusted subject's identifier, 44040 when
 * none does. One pass over the entries in list order. */
QRT_API int QRT_CTL_IsCertTrusted(const CertificateTrustList *ctl, const BIN *certDER);

QRT_API const char *QRT_CTL_GetVersion(void);
/* -1 when this library is older than `required`, or a library it needs is older than it
 * requires; else 0. */
QRT_API int QRT_CTL_CheckVersion(const char *required);
/* locale 1 English, 0 Korean (EUC-KR); 1000-1999 ASN.1, 6000-6999 provider, 8000-8999 I/O,
 * 37300-38299 PKCS#7. */
QRT_API const char *QRT_CTL_GetErrorReason(int code, int locale);

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_SUITE_CTL_H */
