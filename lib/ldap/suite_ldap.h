/* libOstrelLDAP: certificates, revocation lists and trust lists fetched from an LDAP directory,
 * one anonymous or simple-bind search per call over its own connection.
 *
 * Where: `location` is an LDAP URL (ldap:// or ldaps://: host, port, base DN, attributes,
 * scope and filter come from it, the port defaulting to the scheme's; an empty host leaves the
 * server to libldap's defaults) or a host name, optionally with ":port" (389 otherwise), in
 * which case `dn` names the entry (base scope). `dn` and a URL's base DN are EUC-KR text and go
 * to the directory as UTF-8. A location that names no single server on a TCP port (a host with
 * blanks or commas, a port out of range) gives 34001.
 *
 * What: `kind` picks the attribute pair asked for, the plain name first, then the same with
 * ";binary" (slapd answers requests for certificate attributes under the ";binary" name):
 *   1 cACertificate, 2 userCertificate, 65 authorityRevocationList, 66 certificateRevocationList,
 *   67 deltaRevocationList, 81 certificateTrustList, 145 signCertificate.
 * Attributes named by the URL take the table's place. A value is usable when it is not empty
 * and is not the 4-byte text "NULL". A single fetch takes the first entry found and, attribute
 * by attribute in order, the first usable value (34014 when the first attribute that has values
 * has no usable one, or when none has values). A list fetch takes every usable value of every
 * asked attribute of every entry.
 *
 * Time-outs: a NULL or zero time-out means none (the directory is still asked to give up after
 * 30 seconds). A time-out bounds the connect and the bind as well as the search; when it runs
 * out the result is 34008. A directory that answers "size limit exceeded" leaves a trace record
 * (LDAP code 4) and the entries it did send are used.
 *
 * Limits: one message of the directory may be at most QRT_LDAP_MAX_ANSWER bytes; a longer
 * claim ends the connection and the call with 34004 before anything of it is buffered.
 * Referrals are not followed.
 *
 * Results: 0, a code of this library (34001-34014), the code-set converter's code for a DN
 * that is not EUC-KR (-1 or 3001-3020), the I/O core's 8003 when memory runs short, the ASN.1
 * layer's code for a re-encoding, or the CRL library's code of a failed verification
 * (33001-33080, and the provider's 6000s it passes through). Every LDAP failure is recorded in
 * the calling thread's error trace under the LDAP call's name ("ldap_url_parse", "ldap_init",
 * "ldap_simple_bind_s", "ldap_set_option", "ldap_search_ext_s") with the LDAP code and its
 * text, then the failing function records its own code under its name. NULL outputs and a NULL
 * location return 34013 without a record.
 *
 * Ownership: `out` is written only on success, with a new copy of the value (QRT_BIN_Reset);
 * its previous contents are not released. A list gains its values, appended in order, only on
 * success (QRT_BIN_LIST_Free of the head node); on failure it is left as it was. Decoded trees
 * are the caller's (QRT_ASN_FreePDU with Certificate_PDU or CertificateList_PDU) and are set
 * only on success.
 *
 * Threads: calls share nothing and may run at once from any number of threads. */
#ifndef OSTREL_SUITE_LDAP_H
#define OSTREL_SUITE_LDAP_H

#include <sys/time.h>

#include "suite_asn.h"
#include "suite_io.h"
#include "suite_ldap_codes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Object kinds. */
#define QRT_LDAP_CA_CERT 1
#define QRT_LDAP_USER_CERT 2
#define QRT_LDAP_ARL 65
#define QRT_LDAP_CRL 66
#define QRT_LDAP_DELTA_CRL 67
#define QRT_LDAP_TRUST_LIST 81
#define QRT_LDAP_SIGN_CERT 145

/* The most bytes one message of the directory may claim (256 MiB: revocation lists of tens of
 * megabytes fit many times over). */
#define QRT_LDAP_MAX_ANSWER (256u * 1024u * 1024u)

/* Parameters of the _Ex calls and of GetObject. bindDN and bindPW are both needed for a simple
 * bind; with either missing the bind is anonymous. */
typedef struct _ZQ_LDAP_GET_PARAM {
    struct timeval *timeout; /* may be NULL */
    char *bindDN;            /* UTF-8, as the directory takes it */
    char *bindPW;
} ZQ_LDAP_GET_PARAM;

/* ---- One value -------------------------------------------------------------------------- */

QRT_API int QRT_LDAP_GetCore(BIN *out, const char *location, const char *dn, int kind, const struct timeval *timeout);
QRT_API int QRT_LDAP_GetCert(BIN *out, const char *location, const char *dn, int kind, const struct timeval *timeout);
/* param is required (34013); only its time-out is used (anonymous bind). */
QRT_API int QRT_LDAP_GetObject(BIN *out, const char *location, const char *dn, int kind,
                               const ZQ_LDAP_GET_PARAM *param);

/* Kinds 66, 65 and 67. With issuerCert (a DER certificate) the fetched list is decoded and its
 * signature checked under the issuer's key: 34012 when either does not decode, the CRL
 * library's code (33050 for a signature that does not hold) when the check fails. */
QRT_API int QRT_LDAP_GetCRL(BIN *out, const char *location, const char *dn, const BIN *issuerCert,
                            const struct timeval *timeout);
QRT_API int QRT_LDAP_GetARL(BIN *out, const char *location, const char *dn, const BIN *issuerCert,
                            const struct timeval *timeout);
QRT_API int QRT_LDAP_GetDCRL(BIN *out, const char *location, const char *dn, const BIN *issuerCert,
                             const struct timeval *timeout);

/* ---- One value, with a bind and a time-out (param NULL: anonymous, no time-out) -------- */

QRT_API int QRT_LDAP_GetCore_Ex(BIN *out, const char *location, const char *dn, int kind,
                                const ZQ_LDAP_GET_PARAM *param);
/* param is required (34013). */
QRT_API int QRT_LDAP_GetObject_Ex(BIN *out, const char *location, const char *dn, int kind,
                                  const ZQ_LDAP_GET_PARAM *param);
QRT_API int QRT_LDAP_GetCert_Ex(BIN *out, const char *location, const char *dn, int kind,
                                const ZQ_LDAP_GET_PARAM *param);
QRT_API int QRT_LDAP_GetCRL_Ex(BIN *out, const char *location, const char *dn, const BIN *issuerCert,
                               const ZQ_LDAP_GET_PARAM *param);
QRT_API int QRT_LDAP_GetARL_Ex(BIN *out, const char *location, const char *dn, const BIN *issuerCert,
                               const ZQ_LDAP_GET_PARAM *param);
QRT_API int QRT_LDAP_GetDCRL_Ex(BIN *out, const char *location, const char *dn, const BIN *issuerCert,
                                const ZQ_LDAP_GET_PARAM *param);

/* ---- Every value: appended to *list (*list may be NULL: the list starts there) ---------- */

QRT_API int QRT_LDAP_GetCoreList(ZQ_BIN_LIST **list, const char *location, const char *dn, int kind,
                                 const struct timeval *timeout);
/* param is required (34013); only its time-out is used (anonymous bind). */
QRT_API int QRT_LDAP_GetObjectList(ZQ_BIN_LIST **list, const char *location, const char *dn, int kind,
                                   const ZQ_LDAP_GET_PARAM *param);
QRT_API int QRT_LDAP_GetCertList(ZQ_BIN_LIST **list, const char *location, const char *dn, int kind,
                                 const struct timeval *timeout);
QRT_API int QRT_LDAP_GetListCore_Ex(ZQ_BIN_LIST **list, const char *location, const char *dn, int kind,
                                    const ZQ_LDAP_GET_PARAM *param);
/* param is required (34013). */
QRT_API int QRT_LDAP_GetObjectList_Ex(ZQ_BIN_LIST **list, const char *location, const char *dn, int kind,
                                      const ZQ_LDAP_GET_PARAM *param);
QRT_API int QRT_LDAP_GetCertList_Ex(ZQ_BIN_LIST **list, const char *location, const char *dn, int kind,
                                    const ZQ_LDAP_GET_PARAM *param);

/* ---- Decoded values (no time-out, anonymous) ---------------------------------------------
 * world: an engine context kept for older callers; the calling thread's context is used. */

/* *cert: the value decoded as a Certificate (34012 when it does not decode). */
QRT_API int QRT_LDAP_RetrieveCert(ZQ_ASN_CTX *world, Certificate **cert, const char *location, const char *dn,
                                  int kind);
QRT_API int QRT_LDAP_RetrieveCertBin(ZQ_ASN_CTX *world, BIN *out, const char *location, const char *dn, int kind);
/* Kind 66 (65 for ARL) decoded as a CertificateList (34012), its signature checked under
 * issuer's key when issuer is given. */
QRT_API int QRT_LDAP_RetrieveCRL(ZQ_ASN_CTX *world, CertificateList **crl, const char *location, const char *dn,
                                 const Certificate *issuer);
QRT_API int QRT_LDAP_RetrieveARL(ZQ_ASN_CTX *world, CertificateList **crl, const char *location, const char *dn,
                                 const Certificate *issuer);
/* kind 65 or 66 (34011 otherwise): RetrieveARL or RetrieveCRL, then the list's DER in out. */
QRT_API int QRT_LDAP_RetrieveERL(ZQ_ASN_CTX *world, BIN *out, int kind, const char *location, const char *dn,
                                 const Certificate *issuer);

/* ---- Library frame ------------------------------------------------------------------------ */

QRT_API const char *QRT_LDAP_GetVersion(void);
QRT_API const char *QRT_GetVersionLDAP(void);
QRT_API int QRT_LDAP_CheckVersion(const char *required);
/* lang 1: English; lang 0: Korean, which has no texts ("" for this library's codes); codes of
 * the ASN.1 layer, the code-set converter, the provider, the I/O core and the CRL library are
 * handed to them; "" for unknown codes and languages. */
QRT_API const char *QRT_LDAP_GetErrorReason(int code, int lang);
QRT_API const char *QRT_GetErrReasonLDAP(int code, int lang);

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_SUITE_LDAP_H */
