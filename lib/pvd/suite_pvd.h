/* libOstrelPVD: certificate path validation. Given a target certificate it finds issuers one
 * level at a time (the caller's lists, a process-wide cache, a directory-based store and a
 * directory server reached through a callback), checks each link, checks revocation and returns
 * the path with the revocation evidence used.
 *
 * This header holds the public records, the option flags and object types, the process-wide
 * cache with its read/write locks, the file store and its public handle, and the library frame.
 * The validation context and the object records the path builder works on are declared in
 * suite_pvd_internal.h.
 *
 * The library never opens a network connection: directory and OCSP access, and optionally the
 * store itself, go through the caller's callbacks (ZQ_PVD_VerifyCB).
 *
 * Results: 0, a code of this library (43001-43180), -1, or a code of a lower library passed
 * through. A failing function records an entry in the calling thread's error trace, except for
 * the "not found" answers of the candidate sources (43036, 43074, 43095).
 *
 * Ownership: records come zeroed from their _New; _Reset releases what a record owns (the
 * encoding, the decoded tree, following list nodes) and leaves it safe to reset again; _Free is
 * _Reset plus release. Output BINs, lists and strings belong to the caller (QRT_BIN_Reset,
 * QRT_BIN_LIST_Reset, QRT_free). Everything is allocated through the I/O core. */
#ifndef OSTREL_SUITE_PVD_H
#define OSTREL_SUITE_PVD_H

#include <pthread.h>
#include <time.h>

#include "suite_asn.h"
#include "suite_io.h"
#include "suite_pvd_codes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Option flags of ZQ_PVD_VerifyParam.flags (no other bit is read) ---------------------- */

#define PVD_FLAG_NO_SIGN 0x0001     /* no signature check of certificates and trust lists */
#define PVD_FLAG_NO_TIME 0x0002     /* no validity-period check of path certificates and trust lists */
#define PVD_FLAG_NO_CRL 0x0004      /* no CRL check */
#define PVD_FLAG_NO_OCSP 0x0008     /* no OCSP check */
#define PVD_FLAG_KEY_ONLY 0x0010    /* no X.509 constraint processing: each certificate only passes on its key */
#define PVD_FLAG_NO_POLICY 0x0020   /* no policy processing */
#define PVD_FLAG_STRICT 0x1000      /* the first failing issuer candidate ends the search; simple policy rule */
#define PVD_FLAG_STORE_CHAIN 0x8000 /* walk the store instead of building the path */

/* ---- Object types (typeID) ---------------------------------------------------------------- */

#define PVD_TYPE_CERT 1       /* end-entity certificate (tree: Certificate) */
#define PVD_TYPE_CA 3         /* CA certificate that is not self-signed (Certificate) */
#define PVD_TYPE_ROOT 5       /* self-signed CA certificate (Certificate) */
#define PVD_TYPE_CRL 11       /* CRL for end-entity certificates (CertificateList) */
#define PVD_TYPE_ARL 12       /* authority revocation list, for CA certificates (CertificateList) */
#define PVD_TYPE_CRL_OTHER 13 /* accepted as a CRL kind when freeing (CertificateList) */
#define PVD_TYPE_CTL 21       /* certificate trust list: PKCS#7 signed data (CertificateTrustList) */
#define PVD_TYPE_OCSP 25      /* OCSP response, only in revInfos (no tree) */

/* ---- Records ------------------------------------------------------------------------------ */

/* One object: its type, its DER encoding and its decoded tree (NULL when not decoded). */
typedef struct _ZQ_PVD_Object {
    int typeID;
    BIN encObj;
    void *pAsnObj;
} ZQ_PVD_Object;

/* A list of objects; an empty list head is a node whose value is empty. */
typedef struct _ZQ_PVD_ObjectList {
    ZQ_PVD_Object value;
    struct _ZQ_PVD_ObjectList *next;
} ZQ_PVD_ObjectList;

/* What to validate. vrfyTime 0: now, read once when validation starts. The lists may be NULL.
 * initPolicies: NULL or "any-policy" for anyPolicy, else dotted identifiers separated by commas.
 * The three ints: non-zero = set. */
typedef struct _ZQ_PVD_CertPathRequest {
    ZQ_PVD_Object tgtCert;
    time_t vrfyTime;
    ZQ_PVD_ObjectList *trustCerts;
    ZQ_PVD_ObjectList *otherCerts;
    ZQ_PVD_ObjectList *otherCRLs;
    char *initPolicies;
    int initPolicyMappingInhibit;
    int initExplicitPolicy;
    int initAnyPolicyInhibit;
} ZQ_PVD_CertPathRequest;

/* What a successful validation returns: the path (target first, then each issuer up to the
 * trust anchor), the time used and the revocation evidence, node k for path node k. */
typedef struct _ZQ_PVD_CertPathResult {
    ZQ_PVD_ObjectList *certPath;
    time_t vrfyTime;
    ZQ_PVD_ObjectList *revInfos;
} ZQ_PVD_CertPathResult;

/* One directory server: srvrURL is scheme, host and optional port ending in "/" (a missing
 * slash is added); certDN, crlDN, ctlDN name directory entries (ctlDN: a trust list's). */
typedef struct _ZQ_PVD_LDAPInfo {
    char *srvrURL;
    char *certDN;
    char *crlDN;
    char *ctlDN;
} ZQ_PVD_LDAPInfo;

#define PVD_MAX_LDAPINFO 8

/* A store as the store callbacks see it. storePath is owned by the record. */
typedef struct _ZQ_PVD_CertStore {
    int sessionID;
    int storeID;
    char *storePath;
    void *extrnCtx;
} ZQ_PVD_CertStore;

/* An OCSP answer: status 0 good, 1 revoked, anything else unusable; response: the DER. */
typedef struct _ZQ_PVD_OCSPResult {
    int status;
    time_t thisUpdate;
    time_t nextUpdate;
    BIN response;
} ZQ_PVD_OCSPResult;

/* The callbacks, every one returning 0 on success. The library passes NULL as `reserved`.
 * Store: with CB_Store_Start set (and the store not disabled) the other three must be set too
 * and take the place of the file store; out of CB_Store_GetObject is a list head node the
 * callback fills (first value in the node itself, more in new nodes behind it).
 * CB_LDAP_GetObject fills `out` the same way with the values found for `uri` (DER or PEM).
 * CB_Log_PrintText is carried, never called. */
typedef struct _ZQ_PVD_VerifyCB {
    int (*CB_Store_Start)(ZQ_PVD_CertStore *store);
    int (*CB_Store_GetObject)(ZQ_PVD_CertStore *store, ZQ_BIN_LIST *out, const int typeID, const char *key,
                              const void *reserved);
    int (*CB_Store_AddObject)(ZQ_PVD_CertStore *store, const int typeID, const char *key, const BIN *obj,
                              const void *reserved);
    int (*CB_Store_End)(ZQ_PVD_CertStore *store);
    int (*CB_LDAP_GetObject)(ZQ_BIN_LIST *out, const int typeID, const char *uri);
    int (*CB_OCSP_CheckCert)(ZQ_PVD_OCSPResult *out, const BIN *cert, const char *url);
    int (*CB_Log_PrintText)(const char *text, const int level);
} ZQ_PVD_VerifyCB;

/* How to validate. ldapInfon: the number of used entries of ldapInfos (at most 8 are read).
 * log.level is carried, not read. The strings are read, not copied beyond one validation. */
typedef struct _ZQ_PVD_VerifyParam {
    int flags;
    struct {
        int disable;
    } cache;
    struct {
        int disable;
        char *storePath;
        int distrustRoot;
    } store;
    struct {
        int disable;
        int ldapInfon;
        ZQ_PVD_LDAPInfo ldapInfos[PVD_MAX_LDAPINFO];
    } ldap;
    struct {
        int level;
    } log;
    ZQ_PVD_VerifyCB vrfyCB;
} ZQ_PVD_VerifyParam;

/* ---- Object records ----------------------------------------------------------------------- */

/* The decoded tree is released as the PDU of the object's type (Certificate for 1, 3, 5,
 * CertificateList for 11, 12, 13, CertificateTrustList for 21); other types keep none. */
QRT_API ZQ_PVD_Object *QRT_PVD_Object_New(void);
QRT_API void QRT_PVD_Object_Reset(ZQ_PVD_Object *obj);
QRT_API void QRT_PVD_Object_Free(ZQ_PVD_Object *obj);
/* Reset releases the node's object and every following node; the head stays, empty. */
QRT_API ZQ_PVD_ObjectList *QRT_PVD_ObjectList_New(void);
QRT_API void QRT_PVD_ObjectList_Reset(ZQ_PVD_ObjectList *list);
QRT_API void QRT_PVD_ObjectList_Free(ZQ_PVD_ObjectList *list);
QRT_API ZQ_PVD_CertPathResult *QRT_PVD_CertPathResult_New(void);
QRT_API void QRT_PVD_CertPathResult_Reset(ZQ_PVD_CertPathResult *result);
QRT_API void QRT_PVD_CertPathResult_Free(ZQ_PVD_CertPathResult *result);

/* ---- Validation --------------------------------------------------------------------------- */

/* Validates request->tgtCert at request->vrfyTime (0: now): builds a path up to a trust anchor
 * from the request's lists, the cache, the store and the directory (as param enables them) and
 * checks every link, revocation and the certificate policies. 0 when the target is valid, else a
 * code of suite_pvd_codes.h (43001 for a NULL request or param). result may be NULL; when given
 * it is filled only on success: the path (target first), the time used and, parallel to the
 * path, the revocation evidence of each certificate (a CRL, type 11, or an OCSP response, type
 * 25; empty for trust anchors and trust lists). Release it with QRT_PVD_CertPathResult_Reset. */
QRT_API int QRT_PVD_VerifyCertPath(ZQ_PVD_CertPathResult *result, ZQ_PVD_CertPathRequest *request,
                                   ZQ_PVD_VerifyParam *param);

/* ---- The process-wide cache --------------------------------------------------------------
 * Six lists, one per type 1, 3, 5, 11, 12, 21, each under its own read/write lock. Keys: the
 * subject DN text for certificates, the distribution point key for CRLs, the lookup name for
 * trust lists. An add under an existing key replaces its value. Entries live until Finalize.
 * The lists and locks are ready from load time: Initialize is never required, and neither it nor
 * Finalize disturbs a lock in use. */
QRT_API int QRT_PVD_Initialize(void);
QRT_API int QRT_PVD_Finalize(void);
QRT_API int QRT_PVD_Cache_Initialize(void);
QRT_API int QRT_PVD_Cache_Finalize(void);
/* A copy of the value under key: 0, or 43036 (types 1, 3, 5), 43095 (11, 12), 43074 (21) when
 * absent; 43002 for any other type. */
QRT_API int QRT_PVD_Cache_GetObject(BIN *out, const int typeID, const char *key);
QRT_API int QRT_PVD_Cache_AddObject(const int typeID, const char *key, const BIN *obj);

/* A read/write lock: readers share it, a writer holds it alone. Zero-initialise it with
 * QRT_PVD_RWLOCK_INITIALIZER or QRT_PVD_Cache_RWLock_InitLock. Every function returns 0, or -1
 * for a NULL lock, a read unlock with no reader and a write unlock with no writer. */
typedef struct _ZQ_PVD_RWLock {
    int readers;
    int writer;
    pthread_mutex_t mutex;
    pthread_cond_t cond;
} ZQ_PVD_RWLock;
#define QRT_PVD_RWLOCK_INITIALIZER \
    { 0, 0, PTHREAD_MUTEX_INITIALIZER, PTHREAD_COND_INITIALIZER }

QRT_API int QRT_PVD_Cache_RWLock_InitLock(ZQ_PVD_RWLock *lock);
QRT_API int QRT_PVD_Cache_RWLock_FinalLock(ZQ_PVD_RWLock *lock);
QRT_API int QRT_PVD_Cache_RWLock_ReadLock(ZQ_PVD_RWLock *lock);
QRT_API int QRT_PVD_Cache_RWLock_ReadUnlock(ZQ_PVD_RWLock *lock);
QRT_API int QRT_PVD_Cache_RWLock_WriteLock(ZQ_PVD_RWLock *lock);
QRT_API int QRT_PVD_Cache_RWLock_WriteUnlock(ZQ_PVD_RWLock *lock);

/* ---- The file store -----------------------------------------------------------------------
 * <path>/<kind>/<40 lower-case hex digits: SHA-1 of the key text>/<file>, kind "ca" (type 3),
 * "root" (5), "crl" (11, 12), "ctl" (21); file "cert_<serial hex>.der", "cert.crl", "ctl.der".
 * Directories are created with mode 0777 filtered by the umask; files are written to a
 * temporary name beside them and renamed, so a reader sees a whole file or none. */

/* Certificate kinds: every entry of the key's directory whose name holds "cert" and ".der", in
 * directory order, at most 64 files of at most 1 MiB each; unreadable entries are skipped.
 * CRL and trust-list kinds: the one file. out is the caller's head node, filled as
 * QRT_BIN_LIST_Copy fills one. Nothing found: 43036 (certificates), 43095 (CRLs), 43074 (trust
 * lists); another type: 43002. */
QRT_API int QRT_PVD_Store_GetObjectList(const char *path, ZQ_BIN_LIST *out, const int typeID, const char *key);
/* The first object Store_GetObjectList would give. */
QRT_API int QRT_PVD_Store_GetObject(const char *path, BIN *out, const int typeID, const char *key);
/* Writes obj whole; serialHex names a certificate's file (NULL: the serial of obj, which must
 * then decode as a certificate). -1 on any failure, 43002 for another type. */
QRT_API int QRT_PVD_Store_AddObject(const char *path, const int typeID, const char *key, const BIN *obj,
                                    const char *serialHex);
/* Removes every file of the key's directory and the directory; -1 on failure. */
QRT_API int QRT_PVD_Store_DelObject(const char *path, const int typeID, const char *key);

/* Directory helpers: create a path with its missing parents (0777 filtered by the umask);
 * open, read (0 with the next name, 1 at the end, -1 on error or a name longer than capacity-1)
 * and close a directory; delete the files of a directory and the directory. 0 or -1. */
QRT_API int QRT_PVD_CreateDirectory(const char *path);
QRT_API int QRT_PVD_OpenDirectory(void **dir, const char *path);
QRT_API int QRT_PVD_ReadDirectory(void *dir, char *name, int capacity);
QRT_API int QRT_PVD_CloseDirectory(void *dir);
QRT_API int QRT_PVD_DeleteDirectory(const char *path);
/* *out: a new string, the lower-case hex of bin; the 40 hex digits of the SHA-1 of the DN text. */
QRT_API int QRT_PVD_BIN_ToHex(char **out, const BIN *bin);
QRT_API int QRT_PVD_ObjDN_ToHex(char **out, const char *dn);

/* The public store handle. GetObject, AddObject and Close have the shapes of CB_Store_GetObject,
 * CB_Store_AddObject and CB_Store_End, so an application can install them as store callbacks
 * (with a CB_Store_Start of its own: the record it receives already holds the store path).
 * AddObject's last argument is the serial text of a certificate (the library passes NULL: the
 * serial is then read from the certificate). */
QRT_API ZQ_PVD_CertStore *QRT_PVD_CertStore_New(void);
QRT_API void QRT_PVD_CertStore_Reset(ZQ_PVD_CertStore *store);
QRT_API void QRT_PVD_CertStore_Free(ZQ_PVD_CertStore *store);
/* Records storeID, copies path, zeroes sessionID and extrnCtx; 43001 without path. */
QRT_API int QRT_PVD_CertStore_Open(ZQ_PVD_CertStore *store, const int storeID, const char *path);
QRT_API int QRT_PVD_CertStore_GetObject(ZQ_PVD_CertStore *store, ZQ_BIN_LIST *out, const int typeID, const char *key,
                                        const void *reserved);
QRT_API int QRT_PVD_CertStore_AddObject(ZQ_PVD_CertStore *store, const int typeID, const char *key, const BIN *obj,
                                        const void *serialHex);
QRT_API int QRT_PVD_CertStore_DelObject(ZQ_PVD_CertStore *store, const int typeID, const char *key);
/* Resets the record; returns 0. */
QRT_API int QRT_PVD_CertStore_Close(ZQ_PVD_CertStore *store);

/* ---- Strings and frame -------------------------------------------------------------------- */

/* A copy (QRT_free); NULL for NULL. duplen copies at most n bytes and adds a terminating zero. */
QRT_API char *QRT_PVD_strdup(const char *s);
QRT_API char *QRT_strduplen(const char *s, int n);

QRT_API const char *QRT_PVD_GetVersion(void);
/* -1 when this library is older than `required` (NULL: not checked) or a library below is older
 * than it needs (ASN 1.5.1.11, CSP 1.5.1.0, IO 1.5.1.6, Codec 1.5.0.5, PKC 1.5.1.0); else 0. */
QRT_API int QRT_PVD_CheckVersion(const char *required);
/* lang 1: English; lang 0: the second-language table, empty here. Codes of the ASN.1 layer
 * (1000-1999), the codec (3000-3999), the provider (6000-6199), the I/O core (8000-8999) and the
 * certificate library (36000-36999) are handed to them; anything else gives "". */
QRT_API const char *QRT_PVD_GetErrorReason(int code, int lang);

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_SUITE_PVD_H */
