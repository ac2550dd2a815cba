/*
 * The certificate store of the tools: a directory tree that holds certificates by type and
 * subject, the private key of a server or user certificate, and CRLs by issuer.
 *
 *   <root>/<type directory>/<subject>/<file>
 *
 * <subject> is the SHA-1 of the subject's DN text (as QRT_ExtractRDN writes it, or as the caller
 * gives it on reading) in 40 lower-case hex digits. Type directories and files:
 *   1 "root", 2 "ca"    "cert.der", or "cert_<serial hex>.der" in the Ex functions
 *   3 "server", 4 "user"   "cert.der", "pri.key"
 *   5 "other"              "cert.der"
 *   13, 14, 15             the key-management pair of 3, 4, 5 in the same directory:
 *                          "kmCert.der", "kmPri.key"
 *   CRLs                   <root>/crl/<SHA-1 of the issuer DN text>/cert.crl
 * Path validation reads roots and CAs from the same tree. There is no index, lock or cache.
 *
 * Directories are made on demand, root first, with mode 0777 filtered by the umask; files are
 * written whole or not at all (a temporary beside them, renamed into place), so a failed write
 * leaves an existing file as it was.
 *
 * Results: 0, a code below, or a code of the I/O core or the ASN.1 layer passed through (8001
 * for NULL arguments). Output BINs and strings are new memory of the caller's (QRT_BIN_Reset,
 * QRT_free).
 */
#ifndef OSTREL_TOOLS_CERTSTORAGE_H
#define OSTREL_TOOLS_CERTSTORAGE_H

#include "suite_asn.h"
#include "suite_io.h"

#ifdef __cplusplus
extern "C" {
#endif

#define QRT_CERTSTORE_MALLOC_FAILED 27110
#define QRT_CERTSTORE_NOT_FOUND 27125    /* no stored certificate matches (Ex2 search) */
#define QRT_CERTSTORE_SUBJECT_TEXT 27160 /* the subject name cannot be turned into text */
#define QRT_CERTSTORE_MKDIR_FAILED 27170 /* a directory cannot be created */
#define QRT_CERTSTORE_UNKNOWN_TYPE 27180
#define QRT_CERTSTORE_HASH_FAILED 27190    /* the name hash cannot be computed */
#define QRT_CERTSTORE_OPENDIR_FAILED 27210 /* a directory cannot be opened */
#define QRT_CERTSTORE_UNLINK_FAILED 27220  /* a file cannot be removed */
#define QRT_CERTSTORE_RMDIR_FAILED 27230   /* a directory cannot be removed */
#define QRT_CERTSTORE_NO_SERIAL 27240      /* a serial number is required and missing */

/* The type's directory name ("root", "ca", "server", "user", "other"), "" for other types. */
const char *getCertTypeName(int type);

/* "cert.der" ("kmCert.der" for types 13-15) in the subject's directory, replacing it. */
int QRT_PutCertificateToStorage(const char *root, int type, const Certificate *cert);
/* As above, except that types 1 and 2 write "cert_<serial>.der" and keep other serials. */
int QRT_PutCertificateToStorageEx(const char *root, int type, const Certificate *cert);
/* The certificate as QRT_PutCertificateToStorage writes it, then key as "pri.key"
 * ("kmPri.key"). A failed key write leaves the certificate written. */
int QRT_PutCertKeyToStorage(const char *root, int type, const Certificate *cert, const BIN *key);
int QRT_PutCrlToStorage(const char *root, const char *issuerDN, const CertificateList *crl);

int QRT_GetCertificateFromStorage(const char *root, int type, const char *subjectDN, BIN *der);
/* serial NULL: 27240. Types 1 and 2 read "cert_<serial>.der", others the plain file. */
int QRT_GetCertificateFromStorageEx(const char *root, int type, const char *subjectDN, const char *serial, BIN *der);
/* With a non-empty serial the Ex form. Otherwise types 1 and 2 only (else 27180): the subject's
 * certificate files in directory order, the first whose content starts with 0x30 or, with
 * authKeyID, whose subject key identifier (lower-case hex) equals it; 27125 when none does. */
int QRT_GetCertificateFromStorageEx2(const char *root, int type, const char *subjectDN, const char *serial,
                                     const char *authKeyID, BIN *der);
/* The certificate, then the key; when the key cannot be read der is released and the key's
 * code returned. */
int QRT_GetCertKeyFromStorage(const char *root, int type, const char *subjectDN, BIN *der, BIN *key);
int QRT_GetCrlFromStorage(const char *root, const char *issuerDN, BIN *der);

/* The subject and issuer DN texts of every subject directory of the type whose certificate
 * reads and decodes (others are skipped), in two parallel arrays of *count strings; the caller
 * frees each string and both arrays with QRT_free. The arrays start with room for 20 and double
 * when full. 0 with a complete list, also when subjects were skipped. */
int QRT_GetCertificateListFromStorage(const char *root, int type, char ***subjects, char ***issuers, int *count);

/* Removes every file of the subject's directory, then the directory; stops at the first entry
 * that cannot be removed (27220) and leaves the directory. */
int QRT_DeleteCertificateFromStorage(const char *root, int type, const char *subjectDN);
/* serial NULL or empty: 27240. Removes "cert_<serial>.der"; the directory goes with its last
 * entry. */
int QRT_DeleteCertificateFromStorageEx(const char *root, int type, const char *subjectDN, const char *serial);

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_TOOLS_CERTSTORAGE_H */
