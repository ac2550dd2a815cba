/*
 * The tools' validation module: wrappers that validate a decoded certificate's path against the
 * certificate store (and a directory), and the two callbacks path validation can call: a
 * directory fetch over the directory library and an OCSP check over the OCSP client.
 *
 * Options (the `option` argument): CERT_VERIFY_CRL and CERT_VERIFY_RFC3280 are handed to path
 * validation as they are, as its "no CRL check" and "key only" flags; OCSP is never asked.
 * The wrapper adds the strict candidate rule when the certificate's authority key identifier
 * names no issuer and serial.
 *
 * Results: 0, QRT_VALIDATE_* below, or a code of path validation (43001-43180 and what it passes
 * through). A result record given by the caller is filled on success and released by the caller
 * with QRT_PVD_CertPathResult_Reset.
 */
#ifndef OSTREL_TOOLS_VALIDATE_H
#define OSTREL_TOOLS_VALIDATE_H

#include <stddef.h>

#include "suite_asn.h"
#include "suite_io.h"
#include "suite_pvd.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The caller's options: the values of PVD_FLAG_NO_CRL and PVD_FLAG_KEY_ONLY. */
#define CERT_VERIFY_CRL 0x0004
#define CERT_VERIFY_RFC3280 0x0010

#define QRT_VALIDATE_ROOT_CERT 32200   /* the certificate is a self-signed root */
#define QRT_VALIDATE_AKID_DECODE 32210 /* its authority key identifier does not decode */
#define QRT_VALIDATE_CERT_ENCODE 32220 /* the certificate cannot be encoded */

/* What the directory callback returns for a failed fetch: the directory library's code less the
 * offset of the object kind asked for (CA certificate, CRL, ARL, trust list), so that
 * 34001-34014 become 32301-32314, 32401-32414, 32501-32514 and 32601-32614. */
#define QRT_VALIDATE_LDAP_CERT_OFFSET 1700
#define QRT_VALIDATE_LDAP_CRL_OFFSET 1600
#define QRT_VALIDATE_LDAP_ARL_OFFSET 1500
#define QRT_VALIDATE_LDAP_CTL_OFFSET 1400

/* Objects the caller already has, put at the head of the lists path validation takes them
 * from: rootCert as a trusted root, caCert as a CA certificate, arl and crl as revocation
 * lists. Empty members are skipped. */
typedef struct _VALIDITY_CERT_SET {
    BIN rootCert;
    BIN caCert;
    BIN arl;
    BIN crl;
} VALIDITY_CERT_SET;

/* Validates subject's path. policies: the acceptable policy set (NULL or "any-policy": any).
 * storeRoot: the certificate store (NULL or "": no store). ldapAddress: up to two directory
 * servers separated by ";" or ","; each becomes "ldap://" (when it lacks it) + entry + "/" (when
 * it lacks it); further entries are ignored. ctlAddress and ctlDN (both or neither): the
 * directory server and entry of a certificate trust list. certSet may be NULL; result may be
 * NULL. A self-signed root as subject gives QRT_VALIDATE_ROOT_CERT. */
int QRT_VerifyCertPathEx(const Certificate *subject, const char *policies, const char *storeRoot,
                         const char *ldapAddress, const char *ctlAddress, const char *ctlDN, int option,
                         const VALIDITY_CERT_SET *certSet, ZQ_PVD_CertPathResult *result);
/* QRT_VerifyCertPathEx without a certificate set. */
int QRT_VerifyCertPath(const Certificate *subject, const char *policies, const char *storeRoot, const char *ldapAddress,
                       const char *ctlAddress, const char *ctlDN, int option, ZQ_PVD_CertPathResult *result);
/* QRT_VerifyCertPathEx with the directory servers already split: ldapEntries[0] and [1] (NULL or
 * "": unused; ldapEntries itself may be NULL); ldapEntries[2] is not read. */
int QRT_VerifyCertPathEx2(const Certificate *subject, const char *policies, const char *storeRoot,
                          const char *const ldapEntries[3], const char *ctlAddress, const char *ctlDN, int option,
                          const VALIDITY_CERT_SET *certSet, ZQ_PVD_CertPathResult *result);

/* The flags the wrappers hand to path validation for subject and option: PVD_FLAG_NO_OCSP, the
 * option's CERT_VERIFY_CRL and CERT_VERIFY_RFC3280, and PVD_FLAG_STRICT when subject has an
 * authority key identifier without both the issuer name and the serial. 0, or
 * QRT_VALIDATE_AKID_DECODE when that extension does not decode (QRT_VALIDATE_CERT_ENCODE for a
 * NULL subject or flags). */
int QRT_VerifyCertPath_Flags(const Certificate *subject, int option, int *flags);

/* The directory callback: fetches one value of the entry the LDAP URI names, for typeID 3 (CA
 * certificate), 11 (CRL), 12 (ARL) or 21 (trust list), without a time-out, and appends it to
 * out (into the head node when that is empty). 0; -1 for another type; a failed fetch gives the
 * directory library's code less the kind's offset above (other codes as they are). */
int CB_LDAP_GetObject(ZQ_BIN_LIST *out, const int typeID, const char *uri);

/* The OCSP callback: prints "ip=<host>, port=<port>", connects to the responder of ocspURL,
 * sends an unsigned request for cert over HTTP and maps the first answer: good 0, revoked 1,
 * anything else 2, with thisUpdate, nextUpdate and the DER response (result->response, the
 * caller's to release; result's previous contents are overwritten). 0; -1 on any failure;
 * 43001 for a NULL argument. */
int CB_OCSP_CheckCert(ZQ_PVD_OCSPResult *result, const BIN *cert, const char *ocspURL);

/* Splits "http://host[:port][/path]": host into host (hostSize bytes with its terminator), the
 * port (80 when absent), the text after the first "/" into path (pathSize bytes; "" when
 * absent). 0, or -1 without "http://", with an empty host, a port that is not 1-65535 in
 * decimal, or a host or path that does not fit (nothing is cut). */
int parseURL(const char *url, char *host, size_t hostSize, int *port, char *path, size_t pathSize);

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_TOOLS_VALIDATE_H */
