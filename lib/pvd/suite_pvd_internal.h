/* libOstrelPVD internals, exported for the path builder's modules, tools and tests: the object
 * records a validation works on, the validation context, the candidate cursor, the state of
 * policy and name-constraint processing, and the per-kind source functions (input lists, cache,
 * store, directory). Layouts may change between releases; applications use suite_pvd.h.
 *
 * Ownership as in suite_pvd.h: a record owns what it points to and is released by its _Reset;
 * outputs belong to the caller. "Not found" answers (43036, 43074, 43095) leave no trace record. */
#ifndef OSTREL_SUITE_PVD_INTERNAL_H
#define OSTREL_SUITE_PVD_INTERNAL_H

#include "suite_pkcs7.h"
#include "suite_pvd.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Object records ----------------------------------------------------------------------- */

/* Where an object came from. */
#define PVD_SOURCE_REQUEST 0 /* the request's target */
#define PVD_SOURCE_INPUT 1   /* the caller's lists */
#define PVD_SOURCE_CACHE 2
#define PVD_SOURCE_STORE 3
#define PVD_SOURCE_LDAP 4

/* An object decoded once, with what the later steps read.
 *   certificates (1, 3, 5): tree Certificate; subjectDN, issuerDN; serialHex (lower-case hex of
 *     the serial's content octets); selfSigned (issuer Name equals subject Name as encoded);
 *     crlDPs (the decoded cRLDistributionPoints, NULL when absent);
 *   CRLs (11, 12, 13): tree CertificateList; issuerDN; issuingDP (decoded, NULL when absent);
 *     indirect (indirectCRL present and TRUE);
 *   trust lists (21): tree CertificateTrustList; subjectDN is the lookup name (may be NULL);
 *     signedData (the opened PKCS#7 signed data); signerID (the first signer's
 *     IssuerAndSerialNumber); issuerDN (the DN text of that signer's issuer).
 * DN texts are those of QRT_ExtractRDN. */
typedef struct _ZQ_PVD_InterObject {
    int typeID;
    BIN encObj;
    void *pAsnObj;
    char *subjectDN;
    char *issuerDN;
    int source;
    char *serialHex;
    int selfSigned;
    CRLDistPointsSyntax *crlDPs; /* the decoded value: *crlDPs is the first point */
    IssuingDistributionPoint *issuingDP;
    int indirect;
    ZQ_PKCS7_SIGNED *signedData;
    IssuerAndSerialNumber *signerID;
} ZQ_PVD_InterObject;

/* A list of objects; while a path is built a node's next is the node of its issuer. */
typedef struct _ZQ_PVD_InterObjectList {
    ZQ_PVD_InterObject value;
    struct _ZQ_PVD_InterObjectList *next;
} ZQ_PVD_InterObjectList;

/* Loading: obj is reset first and on failure left empty.
 * SetCert: typeID 0 derives the type (5 self-signed CA, 3 CA, else 1; a CA has basicConstraints
 * that decode with cA TRUE), 1, 3 or 5 is taken as given. 43030 when the certificate does not
 * decode, 43031 when a name cannot be rendered, 43040 when cRLDistributionPoints does not decode.
 * SetCRL: typeID 0 (taken as 11), 11, 12 or 13; 43090 when the CRL, its issuer DN or its
 * issuingDistributionPoint cannot be read.
 * SetCTL: 43070 unless bin is PKCS#7 signed data of a trust list that decodes, with a first
 * signer named by issuer and serial number; name (may be NULL) is the lookup name. */
QRT_API int QRT_PVD_InterObject_SetCert(ZQ_PVD_InterObject *obj, const BIN *bin, const int typeID, const int source);
QRT_API int QRT_PVD_InterObject_SetCRL(ZQ_PVD_InterObject *obj, const BIN *bin, const int typeID, const int source);
QRT_API int QRT_PVD_InterObject_SetCTL(ZQ_PVD_InterObject *obj, const BIN *bin, const char *name, const int source);
QRT_API void QRT_PVD_InterObject_Reset(ZQ_PVD_InterObject *obj);

QRT_API ZQ_PVD_InterObjectList *QRT_PVD_InterObjectList_New(void);
/* Releases the node's object and every following node; the head stays, empty. */
QRT_API void QRT_PVD_InterObjectList_Reset(ZQ_PVD_InterObjectList *list);
QRT_API void QRT_PVD_InterObjectList_Free(ZQ_PVD_InterObjectList *list);
/* *out: a new list of the objects of list (nodes with an empty encoding are skipped; NULL when
 * none) loaded as typeID: 1, 3 or 5 as certificates with derived types (a node whose own typeID
 * is 21 as a trust list), 11 as CRLs of type 11, 21 as trust lists; another typeID is 43001. A
 * load failure is the result and *out stays NULL. */
QRT_API int QRT_PVD_InterObjectList_FromObjList(ZQ_PVD_InterObjectList **out, const ZQ_PVD_ObjectList *list,
                                                const int typeID);
/* *out: a new ZQ_PVD_ObjectList holding the type, encoding and tree of every node, moved (the
 * source nodes keep their other fields). NULL for an empty list. */
QRT_API int QRT_PVD_InterObjectList_ToObjList(ZQ_PVD_InterObjectList *list, ZQ_PVD_ObjectList **out);
/* A copy of the encoding of the first node of exactly typeID whose subject DN equals dn by
 * QRT_PVD_String_SimpleCompare; 43036 when none. */
QRT_API int QRT_PVD_InterObjectList_GetCert(const ZQ_PVD_InterObjectList *list, BIN *out, const char *dn,
                                            const int typeID);
/* A copy of the encoding of the first CRL whose issuer DN equals dn byte for byte; 43095. */
QRT_API int QRT_PVD_InterObjectList_GetCRL(const ZQ_PVD_InterObjectList *list, BIN *out, const char *dn);
/* The first CRL of list whose issuer DN text is dn, as decoded in the list; NULL when none. */
QRT_API const ZQ_PVD_InterObject *QRT_PVD_InterObjectList_FindCRL(const ZQ_PVD_InterObjectList *list, const char *dn);

/* 0 when the strings are equal, or equal once every space is removed and a-z turned into A-Z;
 * -1 otherwise. */
QRT_API int QRT_PVD_String_SimpleCompare(const char *a, int alen, const char *b, int blen);

/* ---- Policy and name-constraint state ----------------------------------------------------- */

#define PVD_MAX_EXPECTED 10 /* expected policies of one node */
#define PVD_MAX_POLICIES 50 /* nodes of one set */
#define PVD_MAX_SUBTREES 20 /* DN texts of a permitted or excluded name set */

/* Policy identifiers are ObjectIDs whose contents the records own (copied with QRT_ASN_CopyOID,
 * released with QRT_ASN_ResetOID); anyPolicy is the identifier table's constant. A zero-filled
 * PolicyNode, Policies or StateVars is a valid empty one; every function that fills a record
 * releases what it held first, and every _Reset leaves a record safe to use or reset again. A set
 * or expected list that would grow past its array is 43047, which bounds the work and memory of
 * hostile policy trees. Extension inputs are the extnValue contents; a NULL BIN pointer means the
 * certificate has no such extension. Codes: 43001 NULL argument, 43003 allocation failure, 43040
 * undecodable extension, 43046 policy requirement not met, 43047 set or expected list full, 43053
 * bad policy mapping. */

/* One valid policy: validPolicy (isAny: anyPolicy), the policies that may appear in the next
 * certificate below, and the policy in the trust anchor's domain it stands for. */
typedef struct _ZQ_PVD_PolicyNode {
    int isAny;
    ObjectID validPolicy;
    int expectedHasAny; /* one of expected is anyPolicy */
    int expectedCount;
    ObjectID expected[PVD_MAX_EXPECTED];
    int hasAnchorPolicy;
    ObjectID anchorPolicy;
} ZQ_PVD_PolicyNode;

/* A set of policy nodes held in place, so a whole set can be built beside another and moved. */
typedef struct _ZQ_PVD_Policies {
    int hasAny; /* some node is anyPolicy */
    int count;
    ZQ_PVD_PolicyNode nodes[PVD_MAX_POLICIES];
} ZQ_PVD_Policies;

/* Permitted or excluded names: DN texts (QRT_ExtractRDN); isAll: every name (the permitted set's
 * start). */
typedef struct _ZQ_PVD_NameSubtrees {
    int isAll;
    int count;
    char *dn[PVD_MAX_SUBTREES];
} ZQ_PVD_NameSubtrees;

/* Everything a validation carries from one level to the next. The counters start at 2 (0 when
 * the matching input is set) and maxPathLength and levelIndex at 1, because the path length is
 * known only once the climb has reached the trust anchor: Upward adds a level per issuer
 * searched, Downward takes the surplus one back at the anchor. A counter at 0 stays 0. */
typedef struct _ZQ_PVD_StateVars {
    ZQ_PVD_Policies userPolicies;  /* the initial set (only validPolicy used) */
    ZQ_PVD_Policies validPolicies; /* the valid set */
    int initPolicyMappingInhibit;
    int initExplicitPolicy;
    int initAnyPolicyInhibit;
    int explicitPolicy;
    int inhibitAnyPolicy;
    int policyMapping;
    int maxPathLength;
    int levelIndex;      /* levels climbed from the target, less those taken back */
    int levelsBelowRoot; /* path certificates counted since the trust anchor */
    ZQ_PVD_NameSubtrees permitted;
    ZQ_PVD_NameSubtrees excluded;
    int pubKeyAlg; /* the working public key: provider key id, key, parameters */
    BIN pubKey;
    BIN pubKeyParam;
    char *pubKeyDN; /* subject DN text of the certificate that supplied it */
} ZQ_PVD_StateVars;

/* node := {policy (NULL: anyPolicy), expected {expected} when given, anchor policy when given}. */
QRT_API int QRT_PVD_PolicyNode_Init(ZQ_PVD_PolicyNode *node, const ObjectID *policy, const ObjectID *expected,
                                    const ObjectID *anchor);
/* 43047 when the node already expects PVD_MAX_EXPECTED policies. */
QRT_API int QRT_PVD_PolicyNode_AddExpected(ZQ_PVD_PolicyNode *node, const ObjectID *oid);
QRT_API void QRT_PVD_PolicyNode_ResetExpected(ZQ_PVD_PolicyNode *node);
QRT_API void QRT_PVD_PolicyNode_Reset(ZQ_PVD_PolicyNode *node);

/* set := {} or, withAny, {anyPolicy expecting anyPolicy}. */
QRT_API int QRT_PVD_Policies_Init(ZQ_PVD_Policies *set, const int withAny);
QRT_API void QRT_PVD_Policies_Reset(ZQ_PVD_Policies *set);
/* Moves the node into the set (the node is left zeroed); 43047, node untouched, when full. */
QRT_API int QRT_PVD_Policies_AddNode(ZQ_PVD_Policies *set, ZQ_PVD_PolicyNode *node);
/* Removes every node whose policy is oid. */
QRT_API int QRT_PVD_Policies_DeleteNode(ZQ_PVD_Policies *set, const ObjectID *oid);
/* 1 when some node expects anyPolicy, else 0. */
QRT_API int QRT_PVD_Policies_HasAnyInExpected(const ZQ_PVD_Policies *set);
/* The first node whose expected list holds oid; NULL when none does. */
QRT_API ZQ_PVD_PolicyNode *QRT_PVD_Policies_HasPolicyInExpected(ZQ_PVD_Policies *set, const ObjectID *oid);
/* The caller's initial set: NULL or "any-policy" is {anyPolicy}; otherwise dotted identifiers
 * separated by commas, empty items skipped; more than PVD_MAX_POLICIES items is 43047; an item
 * that is no identifier gives the ASN.1 layer's code. */
QRT_API int QRT_PVD_Policies_FromString(ZQ_PVD_Policies *set, const char *text);
/* The set of a certificatePolicies value (nodes without expected lists); 43040 when it does not
 * decode even after the repair of a trailing empty SEQUENCE, which works on a copy. */
QRT_API int QRT_PVD_Policies_FromCPExt(ZQ_PVD_Policies *set, const BIN *certificatePolicies);
/* valid := valid intersected with certSet, under the state's inhibitAnyPolicy. valid is left
 * as it was on failure. */
QRT_API int QRT_PVD_Policies_MakeIntersection(const ZQ_PVD_StateVars *vars, ZQ_PVD_Policies *valid,
                                              const ZQ_PVD_Policies *certSet);
/* Applies a policyMappings value (NULL: nothing) to valid under the state's policyMapping.
 * valid is left as it was on failure. */
QRT_API int QRT_PVD_Policies_ApplyPolicyMapping(const ZQ_PVD_StateVars *vars, ZQ_PVD_Policies *valid,
                                                const BIN *policyMappings);
/* 0 when valid and user intersect; -1 when they do not (no failure: no trace record). */
QRT_API int QRT_PVD_Policies_AssureIntersection(const ZQ_PVD_Policies *valid, const ZQ_PVD_Policies *user);

/* Sets the initial state (releasing what vars held): the user's set from initPolicies, the valid
 * set {anyPolicy expecting anyPolicy}, the counters, every name permitted, none excluded. */
QRT_API int QRT_PVD_StateVars_Init(ZQ_PVD_StateVars *vars, const char *initPolicies, const int mappingInhibit,
                                   const int explicitPolicy, const int anyPolicyInhibit);
QRT_API void QRT_PVD_StateVars_Reset(ZQ_PVD_StateVars *vars);
/* dst := a deep copy of src (what dst held is released); dst is empty on failure. For the path
 * builder's snapshot before an issuer candidate, restored when the candidate is dropped. */
QRT_API int QRT_PVD_StateVars_Copy(ZQ_PVD_StateVars *dst, const ZQ_PVD_StateVars *src);
/* One level climbed from a subject to its issuer. */
QRT_API void QRT_PVD_StateVars_Upward(ZQ_PVD_StateVars *vars);
/* The trust anchor has been verified: the surplus level goes. */
QRT_API void QRT_PVD_StateVars_Downward(ZQ_PVD_StateVars *vars);
/* A trust anchor was found: the count of path certificates below it restarts. */
QRT_API void QRT_PVD_StateVars_SetAsRoot(ZQ_PVD_StateVars *vars);
/* A self-signed certificate trusted through a trust list becomes the anchor: the levels counted
 * above it (the trust list's) are taken back and the count below restarts. */
QRT_API void QRT_PVD_StateVars_ResetAsRoot(ZQ_PVD_StateVars *vars);
/* A path certificate below the anchor is about to be verified: count it. */
QRT_API void QRT_PVD_StateVars_CountLevel(ZQ_PVD_StateVars *vars);
/* 1 when the certificate counted last is the target (the last below the anchor), else 0. */
QRT_API int QRT_PVD_StateVars_IsTarget(const ZQ_PVD_StateVars *vars);

/* Steps of a path certificate below the trust anchor.
 * Every certificate: its certificatePolicies (NULL when absent) and that extension's critical
 * flag against the valid set; with PVD_FLAG_STRICT the simple rule; PVD_FLAG_NO_POLICY: nothing. */
QRT_API int QRT_PVD_Policy_CheckCert(ZQ_PVD_StateVars *vars, int flags, const BIN *certificatePolicies, int critical);
/* policyConstraints (NULL when absent): the CA rule lowers explicitPolicy and policyMapping to the
 * values given; the target rule (isTarget) only honours requireExplicitPolicy 0. */
QRT_API int QRT_PVD_CheckPolicyConsts(ZQ_PVD_StateVars *vars, const BIN *policyConstraints, int isTarget);
/* inhibitAnyPolicy (NULL when absent) lowers the state's inhibitAnyPolicy to its value. */
QRT_API int QRT_PVD_CheckInhibitAnyPolicy(ZQ_PVD_StateVars *vars, const BIN *inhibitAnyPolicy);
/* A CA certificate after its policy mappings: the counters count it unless it is self-signed,
 * then its policyConstraints and inhibitAnyPolicy. */
QRT_API int QRT_PVD_Policy_CheckCA(ZQ_PVD_StateVars *vars, const BIN *policyConstraints, const BIN *inhibitAnyPolicy,
                                   int selfSigned);
/* The target: explicitPolicy counts it unless it is self-signed, its policyConstraints, and the
 * final intersection with the caller's set, required once explicitPolicy is 0. */
QRT_API int QRT_PVD_Policy_CheckTarget(ZQ_PVD_StateVars *vars, const BIN *policyConstraints, int selfSigned);

/* ---- Link checks --------------------------------------------------------------------------
 * The checks between a certificate and its issuer and of one certificate in a path. Each
 * function records its failure in the trace under its own name. Certificates are the decoded
 * trees an InterObject keeps (pAsnObj). Times are seconds since 1970 as 64-bit integers. */

/* Removes every space of s[0..*len) in place and updates *len; a-z into A-Z in place. 43001 for
 * NULL arguments or a negative length. */
QRT_API int QRT_PVD_String_TrilSpace(char *s, int *len);
QRT_API int QRT_PVD_String_ConvCapit(char *s, int len);

/* 0 when the pairs match: equal type, values of the same tag with valid lengths, and for
 * PrintableString QRT_PVD_String_SimpleCompare of the contents, for any other tag equal bytes.
 * Names match RDN by RDN and attribute by attribute in encoded order, counts included. 43043
 * otherwise, 43001 for NULL. */
QRT_API int QRT_PVD_AsnNameAttrib_Compare(const AttributeTypeAndValue *a, const AttributeTypeAndValue *b);
QRT_API int QRT_PVD_AsnName_Compare(const Name *a, const Name *b);
/* The subject's issuer Name against the candidate's subject Name: 0 or 43043. */
QRT_API int QRT_PVD_CheckNameChain(const Certificate *subject, const Certificate *candidate);
/* Key identifiers: *score 0 on failure, 0.5 when the subject's authorityKeyIdentifier matched the
 * candidate's subjectKeyIdentifier, 1.0 when its issuer name and serial matched the candidate's
 * too. Codes: 43041 a missing extension, 43040 one that does not decode or lacks the key
 * identifier (or names the issuer by other than a directoryName), 43044 a mismatch. */
QRT_API int QRT_PVD_CheckAKID(float *score, const Certificate *subject, const Certificate *candidate);
/* Name chaining (43043), then the key identifiers, any failure of which is 43044. */
QRT_API int QRT_PVD_CheckChain(float *score, const ZQ_PVD_InterObject *subject, const ZQ_PVD_InterObject *candidate);

/* Validity at t. notBefore after 2037 is never valid; notBefore before 1970 has always begun;
 * notAfter before 1970 has always ended, after 2037 never. Otherwise plain comparisons: 43033
 * t before notBefore, 43034 t after notAfter (43030 for a Time of neither form). */
QRT_API int QRT_PVD_AsnCert_VerifyTime(const Certificate *cert, long long t);
/* A CRL is current at t: nextUpdate present (43090), not before 1970 and, unless after 2037, not
 * before t (43093). */
QRT_API int QRT_PVD_AsnCRL_VerifyTime(const CertificateList *crl, long long t);
/* Seconds of a UTCTime (50-99 = 19yy) or GeneralizedTime; -1 for a Time of neither form. */
QRT_API int QRT_PVD_AsnTime_ToSeconds(const Time *time, long long *out);

/* The working key from a certificate: pubKeyAlg the provider's key id (-1 when the key table does
 * not know it), pubKey the certificate's DER SubjectPublicKeyInfo, pubKeyParam the domain
 * parameters in force, pubKeyDN its subject DN text. A key without parameters of the previous
 * key's algorithm keeps the previous parameters; of another algorithm it has none. On failure
 * the previous key stays. ResetPubKey releases the working key. */
QRT_API int QRT_PVD_StateVars_InitPubKey(ZQ_PVD_StateVars *vars, const ZQ_PVD_InterObject *cert);
QRT_API void QRT_PVD_StateVars_ResetPubKey(ZQ_PVD_StateVars *vars);
/* The signature over the signed part as received, under the working key, through the
 * provider's signature table: 0, else 43032 (certificate) / 43092 (CRL) for an unknown
 * algorithm, a key that cannot have made it or a signature that does not hold. */
QRT_API int QRT_PVD_AsnCert_VerifySignature(const Certificate *cert, const ZQ_PVD_StateVars *vars);
QRT_API int QRT_PVD_AsnCRL_VerifySignature(const CertificateList *crl, const ZQ_PVD_StateVars *vars);
/* The provider's sign id of a signature AlgorithmIdentifier; -1 when its table has none. */
QRT_API int QRT_PVD_ObjID_To_SignID(const AlgorithmIdentifier *alg);

/* basicConstraints of a CA: present (43041), decodable (43040), cA TRUE (43048); unless
 * selfSigned the remaining path length must be at least 1 (43048) and is decremented; a lower
 * pathLenConstraint replaces it. */
QRT_API int QRT_PVD_CheckBasicConsts(ZQ_PVD_StateVars *vars, const Extensions exts, int selfSigned);
/* keyUsage holds bit (KeyUsage_keyCertSign, KeyUsage_cRLSign): 43041 absent (0 when absentOK),
 * 43040 undecodable, 43045 without the bit. */
QRT_API int QRT_PVD_AsnExts_CheckKeyUsage(const Extensions exts, unsigned bit, int absentOK);

/* Name constraints on directory names. A base covers a DN text when it equals it or is a suffix
 * of it that starts after a ",". CheckNameConsts: the subject DN and every directoryName of
 * subjectAltName must be covered by the permitted set (unless "all") and by no excluded base;
 * 43052 otherwise, 43040 for an undecodable subjectAltName. UpdateNameConsts applies a CA's
 * nameConstraints: permitted directoryName bases narrow the permitted set (none given: no
 * change), excluded ones are added; 43040 undecodable, 43052 for a base that renders empty or
 * not at all and for a set beyond PVD_MAX_SUBTREES. On failure vars keeps its sets. */
QRT_API int QRT_PVD_CheckNameConsts(const ZQ_PVD_StateVars *vars, const ZQ_PVD_InterObject *cert);
QRT_API int QRT_PVD_UpdateNameConsts(ZQ_PVD_StateVars *vars, const ZQ_PVD_InterObject *cert);
/* 1 when the DN text base covers name, else 0. */
QRT_API int QRT_PVD_NameConsts_Covers(const char *base, const char *name);

/* Critical extensions the library does not process: 43040 for a certificate's, 43100 for a
 * CRL's or a CRL entry's; 0 when there is none. */
#define PVD_EXTS_CERT 1
#define PVD_EXTS_CRL 2
#define PVD_EXTS_CRL_ENTRY 3
QRT_API int QRT_PVD_CheckCriticalExts(const Extensions exts, int kind);

/* ---- The validation context --------------------------------------------------------------- */

/* One per validation, zero-filled at start (InitCTX) and released by ResetCTX. The ldapInfos
 * strings are the caller's (read while the context lives); everything else is owned. */
typedef struct _ZQ_PVD_Context {
    ZQ_PVD_StateVars vars;
    ZQ_PVD_InterObjectList *trustCerts; /* derived types */
    ZQ_PVD_InterObjectList *otherCerts; /* derived types */
    ZQ_PVD_InterObjectList *otherCRLs;  /* type 11 */
    int flags;
    int cacheDisable;
    int storeDisable;
    char *storePath;
    int distrustRoot;
    ZQ_PVD_CertStore store; /* handed to the store callbacks */
    int useCBStore;         /* the store callbacks take the place of the file store */
    int ldapDisable;
    int ldapInfon; /* at most PVD_MAX_LDAPINFO */
    ZQ_PVD_LDAPInfo ldapInfos[PVD_MAX_LDAPINFO];
    ZQ_PVD_VerifyCB cb;
    int ldapCalls;                /* CB_LDAP_GetObject calls made so far */
    int candidateCount;           /* issuer candidates tried so far (kept by the path builder) */
    ZQ_PVD_InterObjectList *path; /* the path being built, target first (not owned) */
    int depth;                    /* issuer levels being searched */
} ZQ_PVD_Context;

/* 43001 for a NULL argument; 43030, 43090, 43070 when an input object does not load; 43001 when
 * the store is enabled with CB_Store_Start and another store callback missing; the result of a
 * failing CB_Store_Start. On failure ctx is left zeroed. */
QRT_API int QRT_PVD_InitCTX(ZQ_PVD_Context *ctx, const ZQ_PVD_CertPathRequest *request,
                            const ZQ_PVD_VerifyParam *param);
/* Calls CB_Store_End once when the callback store is in use, releases everything, zeroes ctx. */
QRT_API int QRT_PVD_ResetCTX(ZQ_PVD_Context *ctx);

/* ---- Candidate cursor --------------------------------------------------------------------- */

#define PVD_STAGE_NONE 0
#define PVD_STAGE_INPUT 1
#define PVD_STAGE_CACHE 2
#define PVD_STAGE_STORE 3
#define PVD_STAGE_LDAP 4
#define PVD_STAGE_END 5

/* The position of one issuer search: the source stage, the candidates that stage fetched
 * (fetched: its fetch was made), the next one to hand out, and for trust lists the directory
 * entry being tried. */
typedef struct _ZQ_PVD_BuildCursor {
    int stage;
    int fetched;
    ZQ_BIN_LIST *candidates;
    ZQ_BIN_LIST *next;
    int ldapIndex;
} ZQ_PVD_BuildCursor;

/* Releases the candidates; the stage moves to the next and its fetch is still to be made. */
QRT_API void QRT_PVD_BuildCursor_NextStage(ZQ_PVD_BuildCursor *cursor);
/* Releases the candidates and zeroes the cursor. */
QRT_API void QRT_PVD_BuildCursor_Reset(ZQ_PVD_BuildCursor *cursor);

/* ---- Sources by kind ---------------------------------------------------------------------
 * Get functions with a cursor make their fetch on the first call for the cursor's stage and
 * hand out one candidate per call (its buffer moved into out) until none is left. */

/* Cache: GetCert looks up dn under type 3, else type 5 (43036 when the cache is disabled or
 * nothing is left); GetCTL under 21 (43074); GetCRL under typeID and key (43095). AddCert stores
 * objects from the store or directory under their subject DN and type, AddCTL objects not from
 * the cache under their lookup name, AddCRL objects from the store or directory under key. Adds
 * never fail: they return 0. */
QRT_API int QRT_PVD_Cache_GetCert(ZQ_PVD_Context *ctx, ZQ_PVD_BuildCursor *cursor, BIN *out, const char *dn);
QRT_API int QRT_PVD_Cache_AddCert(ZQ_PVD_Context *ctx, const ZQ_PVD_InterObject *obj);
QRT_API int QRT_PVD_Cache_GetCTL(ZQ_PVD_Context *ctx, ZQ_PVD_BuildCursor *cursor, BIN *out, const char *name);
QRT_API int QRT_PVD_Cache_AddCTL(ZQ_PVD_Context *ctx, const ZQ_PVD_InterObject *obj);
QRT_API int QRT_PVD_Cache_GetCRL(ZQ_PVD_Context *ctx, BIN *out, const int typeID, const char *key);
QRT_API int QRT_PVD_Cache_AddCRL(ZQ_PVD_Context *ctx, const char *key, const ZQ_PVD_InterObject *obj);

/* Store (the files under storePath, or the store callbacks): the same shapes. GetCert looks
 * under type 3, and only when nothing is there and distrustRoot is 0 under type 5. With the
 * store disabled every get is not found and every add does nothing. AddCert stores only objects
 * from the directory that are not self-signed (type 5), in a file named by their serial; AddCTL
 * and AddCRL only objects from the directory. Adds return 0. */
QRT_API int QRT_PVD_Store_GetCert(ZQ_PVD_Context *ctx, ZQ_PVD_BuildCursor *cursor, BIN *out, const char *dn);
QRT_API int QRT_PVD_Store_AddCert(ZQ_PVD_Context *ctx, const ZQ_PVD_InterObject *obj);
QRT_API int QRT_PVD_Store_GetCTL(ZQ_PVD_Context *ctx, ZQ_PVD_BuildCursor *cursor, BIN *out, const char *name);
QRT_API int QRT_PVD_Store_AddCTL(ZQ_PVD_Context *ctx, const ZQ_PVD_InterObject *obj);
QRT_API int QRT_PVD_Store_GetCRL(ZQ_PVD_Context *ctx, BIN *out, const int typeID, const char *key);
QRT_API int QRT_PVD_Store_AddCRL(ZQ_PVD_Context *ctx, const char *key, const ZQ_PVD_InterObject *obj);

/* ---- Directory fetching ------------------------------------------------------------------- */

#define PVD_URI_MAX 1024       /* the URI buffer, terminating zero included */
#define PVD_LDAP_MAX_VALUES 64 /* values of one callback answer that are read */
#define PVD_DN_RELATED_MAX 128 /* characters of the organisation value IsDNRelated compares */

/* Into dst (PVD_URI_MAX bytes): serverURL, a "/" unless it ends in one, and name; without
 * serverURL the part of crldpURL up to and including the first "/" after "ldap://", and name.
 * 43001 without dst or name or without both sources; -1 for a crldpURL without "ldap://" or
 * without a "/" after the host, and for a URI that does not fit (dst is then "", nothing is
 * written past it). No escaping is applied. */
QRT_API int QRT_PVD_EncodeURI(char *dst, const char *serverURL, const char *name, const char *crldpURL);
/* Splits a distribution point URL: *serverOut the text up to and including the first "/" after
 * "ldap://", *dnOut the text after it up to the first "?" or newline (else the end). Either
 * output may be NULL; each is a new string. -1 (outputs NULL) without "ldap://" or that "/". */
QRT_API int QRT_PVD_CRLDP_Decode(char **serverOut, char **dnOut, const char *crldpURL);
/* Keeps the first 64 values; turns every PEM value ("-----BEGIN" first) into its DER (43090 for
 * one without a newline or that does not decode); collapses runs of equal adjacent values. */
QRT_API int QRT_PVD_LDAP_ObjList_PostProcess(ZQ_BIN_LIST *list);
/* Asks CB_LDAP_GetObject with each configured server in order (the list emptied between tries):
 * the first success is post-processed and ends the search; when all fail, the last callback
 * result. 43036 without servers or callback. */
QRT_API int QRT_PVD_LDAP_GetObjectUsingLDAPInfos(ZQ_PVD_Context *ctx, ZQ_BIN_LIST *list, const int typeID,
                                                 const char *name);
/* Issuer certificates of dn: the configured servers (type 3), then the server of the subject's
 * distribution point crldpURL (may be NULL). 43036 when disabled, without callback or none left. */
QRT_API int QRT_PVD_LDAP_GetCert(ZQ_PVD_Context *ctx, ZQ_PVD_BuildCursor *cursor, BIN *out, const char *dn,
                                 const char *crldpURL);
/* Trust lists stored under name on the configured servers; 43074. */
QRT_API int QRT_PVD_LDAP_GetCTL(ZQ_PVD_Context *ctx, ZQ_PVD_BuildCursor *cursor, BIN *out, const char *name);
/* The first CRL of kind crlType at the distribution point dpURL's server and DN, else at the
 * configured servers under the same DN. 43095 when disabled, without callback, without dpURL or
 * when nothing is found; 43049 for a dpURL that does not split; 43090 for a PEM value that does
 * not decode. dpKey and issuerDN are not read. */
QRT_API int QRT_PVD_LDAP_GetCRL(ZQ_PVD_Context *ctx, BIN *out, const int crlType, const char *dpKey,
                                const char *issuerDN, const char *dpURL);
/* 1 when bin begins with "-----BEGIN", else 0. */
QRT_API int QRT_PVD_IsPEM(const BIN *bin);
/* The Base64 after the first line up to the first "-", CR and LF removed; 43090 without a
 * newline or when it does not decode. */
QRT_API int QRT_PVD_DecodePEM(BIN *out, const BIN *bin);
/* 1 when the value of dn's first "O=" attribute (up to the next ",", at most 128 characters)
 * occurs in text; 0 otherwise, and when dn has no such attribute. */
QRT_API int QRT_PVD_IsDNRelated(const char *dn, const char *text);

/* ---- Revocation and trust lists -----------------------------------------------------------
 * Checks on a CRL, trust list or OCSP answer already at hand (finding them is the path
 * builder's). Each function records its failure in the trace under its own name. Times are
 * seconds since 1970. */

/* The CRL's authorityKeyIdentifier against the subject's: the CRL's present (43101) and
 * decodable (43100), the subject's present (43041) and decodable (43040), both with a key
 * identifier (43100), the identifiers equal and, when the CRL's also names an issuer and serial,
 * the subject's naming the same (43103). */
QRT_API int QRT_PVD_AsnCRL_CheckAKID(const CertificateList *crl, const Certificate *subject);
/* Whether the CRL covers the subject: a CRL that is not indirect passes AsnCRL_CheckAKID; an
 * indirect CRL whose issuer the subject's first distribution point names by a directoryName in
 * cRLIssuer has that issuer (43102); without a distribution point or without cRLIssuer the CRL's
 * issuer is the subject's issuer (43102); an issuingDistributionPoint name and the subject's
 * first distribution point name, when both are given, are full names whose first names are equal
 * URIs or equal directoryNames (43104). */
QRT_API int QRT_PVD_CRL_CheckScope(const ZQ_PVD_InterObject *crl, const ZQ_PVD_InterObject *subject);
/* The subject's status: 43100 for a critical CRL or entry extension the library does not
 * process (any entry) and for an undecodable reasonCode or certificateIssuer of the matching
 * entry; 43035 when an entry holds the subject's serial (same length and bytes), except one of an
 * indirect CRL whose certificateIssuer names another issuer by a directoryName. reason (may be
 * NULL): the revoked entry's reasonCode, -1 when none or not revoked. */
QRT_API int QRT_PVD_AsnCRL_CheckStatus(const ZQ_PVD_InterObject *crl, const ZQ_PVD_InterObject *subject, int *reason);
/* A CRL found for the subject, in order: the scope; crlIssuer's keyUsage holds cRLSign when
 * present (43045; crlIssuer may be NULL when not known); the signature under ctx's working key
 * unless the CRL came from the cache (43092); the status. On success the CRL is moved into
 * *revInfo as type 11 (crl is left empty; what revInfo held is released): offer it to the
 * cache from there. */
QRT_API int QRT_PVD_CRL_CheckFound(ZQ_PVD_Context *ctx, ZQ_PVD_InterObject *revInfo, ZQ_PVD_InterObject *crl,
                                   const ZQ_PVD_InterObject *subject, const ZQ_PVD_InterObject *crlIssuer);
/* The same checks for a CRL that stays where it is (one of the caller's list, decoded once for
 * the whole validation): on success *revInfo holds a copy of its DER as type 11, no tree. */
QRT_API int QRT_PVD_CRL_CheckFoundInPlace(ZQ_PVD_Context *ctx, ZQ_PVD_InterObject *revInfo,
                                          const ZQ_PVD_InterObject *crl, const ZQ_PVD_InterObject *subject,
                                          const ZQ_PVD_InterObject *crlIssuer);

/* 1 when the trust list holds the digest of cert (the whole encoding) under its subject
 * algorithm (SHA-1, MD2, MD5, HAS-160 or SHA-256), else 0. Records nothing. */
QRT_API int QRT_PVD_IsTrusted(const ZQ_PVD_InterObject *ctl, const BIN *cert);
/* The list's first signer is the root: its issuer's DN text equals the root's subject DN text
 * byte for byte and its serial the root's; else 43081. */
QRT_API int QRT_PVD_CTL_CheckChain(const ZQ_PVD_InterObject *ctl, const ZQ_PVD_InterObject *root);
/* An explicit version other than v1, an unreadable time or a subjectUsage without
 * electronic_civil_application: 43070; t before thisUpdate 43072, after nextUpdate 43073. */
QRT_API int QRT_PVD_AsnCTL_Verify(const CertificateTrustList *ctl, long long t);
/* The list's signed data verified with the root's certificate as its first signer's; 43071. */
QRT_API int QRT_PVD_CTL_VerifySignature(const ZQ_PVD_InterObject *ctl, const ZQ_PVD_InterObject *root);
/* A trust list and the root that signed it: root of type 5 and CTL_CheckChain (43081); the
 * signature unless PVD_FLAG_NO_SIGN or the list came from the cache; AsnCTL_Verify at t unless
 * PVD_FLAG_NO_TIME. */
QRT_API int QRT_PVD_CTL_VerifyPair(const ZQ_PVD_Context *ctx, const ZQ_PVD_InterObject *ctl,
                                   const ZQ_PVD_InterObject *root, long long t);

/* 1 when OCSP may be asked about cert: PVD_FLAG_NO_OCSP clear, CB_OCSP_CheckCert installed, cert
 * of type 1 and without id_kp_OCSPSigning in a decodable extKeyUsage; else 0. */
QRT_API int QRT_PVD_OCSP_IsPossible(const ZQ_PVD_Context *ctx, const ZQ_PVD_InterObject *cert);
/* *url: a new string (QRT_free), the URL from "http://" to the end of the first "OCSP:" line of
 * the authorityInfoAccess text. 43180 without the extension; 43050 when it does not decode or
 * has no OCSP line or that line no "http://". */
QRT_API int QRT_PVD_OCSP_GetURL(char **url, const ZQ_PVD_InterObject *cert);
/* Asks CB_OCSP_CheckCert about cert at the URL of OCSP_GetURL. 43180 for a callback failure, a
 * status other than 0 (good) and 1 (revoked), or a nextUpdate absent (0) or before t; 43035 for
 * revoked; good: *revInfo becomes a type-25 object holding the response (what it held is
 * released). The library releases the answer's response with QRT_BIN_Reset in every case
 * where it does not keep it. */
QRT_API int QRT_PVD_OCSP_CheckRevoked(ZQ_PVD_Context *ctx, ZQ_PVD_InterObject *revInfo, const ZQ_PVD_InterObject *cert,
                                      long long t);

/* ---- Path building ------------------------------------------------------------------------
 * The steps of QRT_PVD_VerifyCertPath, each recording its failure under its own name. Times are
 * seconds since 1970. Bounds of one validation: a path of at most PVD_MAX_DEPTH certificates
 * (43085), at most PVD_MAX_CANDIDATES issuer candidates and PVD_MAX_LDAP_CALLS directory calls
 * (43080); a certificate already on the path being built is never its own issuer's candidate. */

#define PVD_MAX_DEPTH 32
#define PVD_MAX_CANDIDATES 256
#define PVD_MAX_LDAP_CALLS 64

/* Finds and verifies the issuer of subject (recursively up to a trust anchor): *issuerOut
 * receives the issuer's node (its next the issuer's issuer), *revInfoOut the issuer's revocation
 * node chain. issuerOut and *revInfoOut are allocated by the caller. */
QRT_API int QRT_PVD_GetIssuerCert(ZQ_PVD_Context *ctx, ZQ_PVD_InterObjectList *issuerOut,
                                  ZQ_PVD_InterObjectList *revInfoOut, ZQ_PVD_InterObjectList *subject, long long t);
/* The next issuer candidate for dn from the cursor's stage on (input lists, cache, store,
 * directory): 0 with *out loaded (derived type, the stage as source), 43036 when no source has
 * one left, a load failure otherwise. crldpURL (may be NULL): the subject's ldap distribution
 * point, for the directory stage. */
QRT_API int QRT_PVD_GetNextCert(ZQ_PVD_Context *ctx, ZQ_PVD_BuildCursor *cursor, ZQ_PVD_InterObject *out,
                                const char *dn, const char *crldpURL, long long t);
/* The next trust list (cache, store, directory) that lists the root encoding; 43074 when none,
 * 43070 when one does not load. */
QRT_API int QRT_PVD_GetNextCTL(ZQ_PVD_Context *ctx, ZQ_PVD_BuildCursor *cursor, ZQ_PVD_InterObject *out,
                               const BIN *rootEncoding);
/* The CRL of one stage (1 input, 2 cache, 3 store, 4 directory) as DER in *out; 43095 when the
 * stage has none. */
QRT_API int QRT_PVD_GetNextCRL(ZQ_PVD_Context *ctx, int stage, BIN *out, int crlType, const char *dpKey,
                               const char *issuerDN, const char *dpURL);
/* The subject's ldap distribution point URL (*url a new string, NULL when the certificate names
 * none) from the first "ldap://" to the end of its line; 43049 when such a URL cannot be split
 * into server and entry. */
QRT_API int QRT_PVD_GetCRLDPURL(char **url, const ZQ_PVD_InterObject *subject);
/* A current CRL for subject (issued by issuer), loaded into *crlOut; 43095 when none, 43090/43093
 * for an unusable one. Nothing is cached here (see CRL_CheckRevoked). */
QRT_API int QRT_PVD_FindCRL(ZQ_PVD_Context *ctx, ZQ_PVD_InterObject *crlOut, const ZQ_PVD_InterObject *subject,
                            const ZQ_PVD_InterObject *issuer, long long t);
/* FindCRL, the CRL's checks (CRL_CheckFound) with the CRL issuer's certificate; success leaves
 * the CRL in *revInfo and offers it to the store and cache. */
QRT_API int QRT_PVD_CRL_CheckRevoked(ZQ_PVD_Context *ctx, ZQ_PVD_InterObject *revInfo,
                                     const ZQ_PVD_InterObject *subject, const ZQ_PVD_InterObject *issuer, long long t);
/* OCSP first when possible (43035 ends, other failures fall through), then the CRL unless
 * PVD_FLAG_NO_CRL. */
QRT_API int QRT_PVD_CheckRevoked(ZQ_PVD_Context *ctx, ZQ_PVD_InterObject *revInfo, const ZQ_PVD_InterObject *cert,
                                 const ZQ_PVD_InterObject *issuer, long long t);
/* The X.509 checks of one certificate whose signature, time and revocation passed. */
QRT_API int QRT_PVD_CheckX509(ZQ_PVD_Context *ctx, const ZQ_PVD_InterObject *cert);
/* Verifies one link: cert (its node) against the issuer node (NULL for a trust anchor). */
QRT_API int QRT_PVD_VerifyCertPair(ZQ_PVD_Context *ctx, ZQ_PVD_InterObject *revInfo, ZQ_PVD_InterObjectList *cert,
                                   ZQ_PVD_InterObjectList *issuerList, long long t);
/* The store walk of PVD_FLAG_STORE_CHAIN: issuers from the store only, up to a self-signed
 * certificate from the store. */
QRT_API int QRT_PVD_VerifySFCertChain(ZQ_PVD_Context *ctx, ZQ_PVD_CertPathResult *result,
                                      ZQ_PVD_InterObjectList *target, long long t);

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_SUITE_PVD_INTERNAL_H */
