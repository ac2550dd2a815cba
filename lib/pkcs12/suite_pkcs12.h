/* libOstrelPKCS12: PKCS#12 personal information exchange (PFX) files.
 *
 * A PFX holds private keys (plain PrivateKeyInfo or shrouded as EncryptedPrivateKeyInfo),
 * certificates and CRLs in bags, grouped into safe contents. Each safe is kept private by a
 * password (PKCS#7 EncryptedData under a PKCS#12 PBE identifier or PBES2), by enveloping to a
 * recipient certificate (PKCS#7 EnvelopedData), or not at all (PKCS#7 Data). The whole is kept
 * intact by a password MAC (MacData, HMAC with SHA-1 or SHA-2) or by a signature (PKCS#7
 * SignedData).
 *
 * Password-based encryption and the PKCS#12 key derivation are libOstrelPKCS5's; the PKCS#7
 * content types are libOstrelPKCS7's. Passwords are byte strings: for the PKCS#12 derivation each
 * byte b is widened to 00 b and a 00 00 terminator follows; PBES2 takes the bytes as they are.
 *
 * Keys in and out are PrivateKeyInfo DER, or EncryptedPrivateKeyInfo DER when shrouded.
 *
 * Results: 0, a code of this library (37701-37799), or a code of the ASN.1 layer, the provider,
 * libOstrelPKCS5 or libOstrelPKCS7 passed through. A failing function records an entry in the
 * calling thread's error trace, except for the argument checks at entry and the Is tests.
 *
 * Ownership: output BINs and lists are emptied at the start of a call and belong to the caller
 * afterwards (QRT_BIN_Reset, QRT_PKCS12_Param_Free); on failure they are empty. Plaintext keys,
 * derived keys and widened passwords are wiped before their memory is released. */
#ifndef OSTREL_SUITE_PKCS12_H
#define OSTREL_SUITE_PKCS12_H

#include "suite_io.h"
#include "suite_pkcs12_codes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Identifiers ------------------------------------------------------------------------- */

/* Bag types. */
#define QRT_PKCS12_BAG_KEY 1          /* keyBag: a PrivateKeyInfo */
#define QRT_PKCS12_BAG_SHROUDEDKEY 2  /* pkcs8ShroudedKeyBag: an EncryptedPrivateKeyInfo */
#define QRT_PKCS12_BAG_CERT 3         /* certBag, x509Certificate */
#define QRT_PKCS12_BAG_CRL 4          /* crlBag, x509CRL */
#define QRT_PKCS12_BAG_SECRET 5       /* secretBag: not produced, skipped when read */
#define QRT_PKCS12_BAG_SAFECONTENTS 6 /* safeContentsBag: not produced, skipped when read */

/* Privacy modes of a safe (pvcID). */
#define QRT_PKCS12_PVC_NONE 1     /* Data */
#define QRT_PKCS12_PVC_PUBKEY 2   /* EnvelopedData to a recipient certificate */
#define QRT_PKCS12_PVC_PASSWORD 3 /* EncryptedData under a password */

/* Integrity modes of a PFX (itgID). */
#define QRT_PKCS12_ITG_PUBKEY 1   /* SignedData */
#define QRT_PKCS12_ITG_PASSWORD 2 /* MacData */

/* Password privacy schemes (pbeID). 1-6: the PKCS#12 PBE identifiers with SHA-1, a SHA-1 MAC of
 * 1024 iterations. 11: PBES2 with PBKDF2-HMAC-SHA-256 and AES-256-CBC, a SHA-256 MAC, 2048
 * iterations throughout. */
#define QRT_PKCS12_PBE_SHA1_RC4_128 1
#define QRT_PKCS12_PBE_SHA1_RC4_40 2
#define QRT_PKCS12_PBE_SHA1_3DES 3
#define QRT_PKCS12_PBE_SHA1_2DES 4
#define QRT_PKCS12_PBE_SHA1_RC2_128 5
#define QRT_PKCS12_PBE_SHA1_RC2_40 6
#define QRT_PKCS12_PBE_PBES2_AES256 11

/* Limits of what is read; more is refused with 37734. */
#define QRT_PKCS12_MAX_SAFES 64
#define QRT_PKCS12_MAX_BAGS 4096

/* ---- Records ----------------------------------------------------------------------------- */

/* One entry of the list form: a key (PrivateKeyInfo or EncryptedPrivateKeyInfo DER, or NULL), its
 * certificate (DER, or NULL) and further certificates (its chain, CA certificates). crls: CRLs
 * (written from any entry; read into the first). friendlyName: BMPString contents octets of the
 * key's friendlyName attribute (optional; written on the key and certificate bags). */
typedef struct _ZQ_PKCS12_PARAM {
    BIN *key;
    BIN *cert;
    ZQ_BIN_LIST *certs;
    ZQ_BIN_LIST *crls;
    BIN *friendlyName;
    struct _ZQ_PKCS12_PARAM *next;
} ZQ_PKCS12_PARAM;

/* How a PFX is protected, for writing and reading.
 *   pvcID: privacy of the safe (1, 2, 3; 0 reading: whatever is found).
 *   pbeID: the password scheme of privacy mode 3 (QRT_PKCS12_PBE_...).
 *   encID: the content encryption of privacy mode 2 (PKCS#7 enc id 1 DES or 2 Triple DES).
 *   recipCert, recipKey: the recipient certificate (writing mode 2) and, reading, that
 *     certificate with its private key (PKCS#1 RSAPrivateKey or PrivateKeyInfo DER).
 *   itgID: integrity (1, 2; 0 reading: whatever is found).
 *   signAlgID: the PKCS#7 signer algID of mode 1 (0: the certificate's key with SHA-256).
 *   signerCert, signerKey: the signer of mode 1 (key as recipKey).
 *   password: the password of modes 3 and 2 (integrity). */
typedef struct _ZQ_PKCS12_USERDATA {
    int pvcID;
    int pbeID;
    int encID;
    BIN *recipCert;
    BIN *recipKey;
    int itgID;
    int signAlgID;
    BIN *signerCert;
    BIN *signerKey;
    BIN *password;
} ZQ_PKCS12_USERDATA;

/* Bag attributes: friendlyName (BMPString contents octets), localKeyId (octets) and others (the
 * DER of further Attribute elements, kept as read and written back as they are). NULL: absent. */
typedef struct _ZQ_PKCS12_ATTRIBS {
    BIN *friendlyName;
    BIN *localKeyId;
    BIN *others;
} ZQ_PKCS12_ATTRIBS;

/* A bag: bagID 1-4 and its value (PrivateKeyInfo, EncryptedPrivateKeyInfo, certificate or CRL
 * DER). A bag set is a list of bags; the empty set is NULL. */
typedef struct _ZQ_PKCS12_BAG {
    int bagID;
    BIN *value;
    ZQ_PKCS12_ATTRIBS attribs;
    struct _ZQ_PKCS12_BAG *next;
} ZQ_PKCS12_BAG;

/* The privacy mode of a safe: pvcID; pbeID for mode 3; encID and recipCert for mode 2. Read
 * back, pbeID is 0 for a password scheme outside QRT_PKCS12_PBE_... */
typedef struct _ZQ_PKCS12_PVC_MODE {
    int pvcID;
    int pbeID;
    int encID;
    BIN *recipCert;
} ZQ_PKCS12_PVC_MODE;

/* A set of safes (safe contents with their privacy modes); the empty set is NULL. */
typedef struct _ZQ_PKCS12_CTS {
    ZQ_PKCS12_PVC_MODE mode;
    ZQ_PKCS12_BAG *bags;
    struct _ZQ_PKCS12_CTS *next;
} ZQ_PKCS12_CTS;

/* A PFX: version (3), the integrity mode found when read (0: none), its safes in order. */
typedef struct _ZQ_PKCS12_PFX {
    int version;
    int itgID;
    ZQ_PKCS12_CTS *safes;
} ZQ_PKCS12_PFX;

/* ---- Whole-file API ---------------------------------------------------------------------- */

/* QRT_PKCS12_EncodePFXEx without a second CA certificate and list. */
QRT_API int QRT_PKCS12_EncodePFX(BIN *pfx, int pbeID, const BIN *key, const BIN *cert, const BIN *caCert,
                                 const BIN *crl, const BIN *password);
/* One safe under the password (pbeID), a MAC with the same password. Bags in this order: the key
 * (shrouded when it is an EncryptedPrivateKeyInfo), the certificate, CA certificates 1 and 2, the
 * CRL; key and certificate share localKeyId 01 00 00 00. A non-empty list is written in the list
 * form instead (the single-key arguments are then ignored); otherwise a key and a non-empty
 * password are required (37701). */
QRT_API int QRT_PKCS12_EncodePFXEx(BIN *pfx, int pbeID, const BIN *key, const BIN *cert, const BIN *caCert1,
                                   const BIN *caCert2, const BIN *crl, const BIN *password,
                                   const ZQ_PKCS12_PARAM *list);
/* QRT_PKCS12_DecodePFXEx without rootCert. */
QRT_API int QRT_PKCS12_DecodePFX(ZQ_PKCS12_PARAM **out, BIN *key, BIN *cert, BIN *caCert, BIN *crl, const BIN *pfx,
                                 const BIN *password);
/* Reads a PFX protected by password (MAC or none; safes as Data or EncryptedData). With out, the
 * whole content comes back as a list (QRT_PKCS12_DecodeParam) and the other outputs are not
 * filled; otherwise: key = the first key bag (plain before shrouded; 37760 without), cert = the
 * certificate with the key's localKeyId, caCert = its issuer among the file's certificates,
 * rootCert = the issuer of caCert, crl = the first CRL. Outputs passed as NULL are not asked for.
 * 37750: MAC mismatch (wrong password); an empty password that fails is also tried in the
 * zero-length form (no terminator). */
QRT_API int QRT_PKCS12_DecodePFXEx(ZQ_PKCS12_PARAM **out, BIN *key, BIN *cert, BIN *caCert, BIN *rootCert, BIN *crl,
                                   const BIN *pfx, const BIN *password);

/* 1 when the bytes decode as a PFX / an EncryptedPrivateKeyInfo, else 0. */
QRT_API int QRT_PKCS12_IsPFX(const BIN *der);
QRT_API int QRT_PKCS12_IsSHKey(const BIN *der);

/* A PrivateKeyInfo to an EncryptedPrivateKeyInfo under pbeID (1-6, 11) and a non-empty password,
 * and back. Decoding takes any scheme libOstrelPKCS5 reads; a wrong password is 37752. */
QRT_API int QRT_PKCS12_EncodeSHKey(BIN *shkey, int pbeID, const BIN *privateKeyInfo, const BIN *password);
QRT_API int QRT_PKCS12_DecodeSHKey(BIN *privateKeyInfo, const BIN *shkey, const BIN *password);

/* ---- List form ------------------------------------------------------------------------------ */

/* Entry i (from 1) gets localKeyId i as a 32-bit little-endian integer on its key and certificate
 * bags; further certificates and CRLs follow as bags without attributes, each certificate once.
 * All bags go into one safe. ud selects privacy and integrity (pvcID 3 or 2, itgID 2 or 1). */
QRT_API int QRT_PKCS12_EncodeParam(BIN *pfx, const ZQ_PKCS12_PARAM *list, const ZQ_PKCS12_USERDATA *ud);
/* One entry per key, in file order, with the certificate of the same localKeyId (else NULL) and
 * its chain among the file's certificates; certificates in no entry and all CRLs go to the first
 * entry (a last entry without key holds them when the file has no key). ud: the password,
 * recipient and expected modes (pvcID/itgID non-zero and different from the file's: 37716,
 * 37717). A SignedData is verified against its embedded signer certificate (37751). */
QRT_API int QRT_PKCS12_DecodeParam(ZQ_PKCS12_PARAM **out, const BIN *pfx, const ZQ_PKCS12_USERDATA *ud);
QRT_API ZQ_PKCS12_PARAM *QRT_PKCS12_Param_New(void);
/* Releases the whole list (keys wiped). NULL is ignored. */
QRT_API void QRT_PKCS12_Param_Free(ZQ_PKCS12_PARAM *list);
/* Releases the contents of one entry and zeroes it (next untouched). */
QRT_API void QRT_PKCS12_ResetParam(ZQ_PKCS12_PARAM *entry);

QRT_API ZQ_PKCS12_USERDATA *QRT_PKCS12_UserData_New(void);
/* Releases the BINs the record points to (secrets wiped) and zeroes it. */
QRT_API void QRT_PKCS12_UserData_Reset(ZQ_PKCS12_USERDATA *ud);
QRT_API void QRT_PKCS12_UserData_Free(ZQ_PKCS12_USERDATA *ud);

/* ---- Layered API -------------------------------------------------------------------------- */

/* A PFX record: New (NULL when memory fails), Reset (releases the safes, keys wiped), Free. */
QRT_API ZQ_PKCS12_PFX *QRT_PKCS12_PFX_New(void);
QRT_API void QRT_PKCS12_PFX_Reset(ZQ_PKCS12_PFX *pfx);
QRT_API void QRT_PKCS12_PFX_Free(ZQ_PKCS12_PFX *pfx);
/* Appends a safe of copies of bags (at least one) in mode. */
QRT_API int QRT_PKCS12_PFX_Add(ZQ_PKCS12_PFX *pfx, const ZQ_PKCS12_PVC_MODE *mode, const ZQ_PKCS12_BAG *bags);
/* The PFX DER: each safe in its mode (ud->password for mode 3), integrity by ud (itgID with the
 * password or signer; ud->pbeID chooses the MAC as for QRT_PKCS12_EncodeParam). */
QRT_API int QRT_PKCS12_PFX_Encode(BIN *der, const ZQ_PKCS12_PFX *pfx, const ZQ_PKCS12_USERDATA *ud);
/* pfx is reset first; every safe with its mode and bags, as QRT_PKCS12_DecodeParam reads. */
QRT_API int QRT_PKCS12_PFX_Decode(ZQ_PKCS12_PFX *pfx, const BIN *der, const ZQ_PKCS12_USERDATA *ud);

/* Safes: Add appends a copy of bags in mode; Cts_Copy copies one safe (next NULL); Free releases
 * a set. To_CtInfo gives the ContentInfo DER of the first safe of set (password for mode 3);
 * CtInfo_To_CtsSet appends the safe of a ContentInfo (ud: password, recipient). */
QRT_API int QRT_PKCS12_CtsSet_Add(ZQ_PKCS12_CTS **set, const ZQ_PKCS12_PVC_MODE *mode, const ZQ_PKCS12_BAG *bags);
QRT_API int QRT_PKCS12_Cts_Copy(ZQ_PKCS12_CTS **dst, const ZQ_PKCS12_CTS *src);
QRT_API void QRT_PKCS12_CtsSet_Free(ZQ_PKCS12_CTS *set);
QRT_API int QRT_PKCS12_CtsSet_To_CtInfo(BIN *contentInfo, const ZQ_PKCS12_CTS *set, const BIN *password);
QRT_API int QRT_PKCS12_CtInfo_To_CtsSet(ZQ_PKCS12_CTS **set, const BIN *contentInfo, const ZQ_PKCS12_USERDATA *ud);

/* Bags: Add appends a checked copy (attribs may be NULL); Get the first bag of a type, GetEx the
 * index-th (from 0), NULL when absent; Bag_Copy copies one bag (next NULL). Bag_Check: 37710 for
 * a bag id outside 1-4, 37730 a key that is no SEQUENCE, 37731 a shrouded key that is no
 * EncryptedPrivateKeyInfo, 37732 / 37733 a certificate / CRL that is no SEQUENCE. */
QRT_API int QRT_PKCS12_BagSet_Add(ZQ_PKCS12_BAG **set, int bagID, const BIN *value, const ZQ_PKCS12_ATTRIBS *attribs);
QRT_API const ZQ_PKCS12_BAG *QRT_PKCS12_BagSet_Get(const ZQ_PKCS12_BAG *set, int bagID);
QRT_API const ZQ_PKCS12_BAG *QRT_PKCS12_BagSet_GetEx(const ZQ_PKCS12_BAG *set, int bagID, int index);
QRT_API void QRT_PKCS12_BagSet_Free(ZQ_PKCS12_BAG *set);
QRT_API int QRT_PKCS12_Bag_Check(const ZQ_PKCS12_BAG *bag);
QRT_API int QRT_PKCS12_Bag_Copy(ZQ_PKCS12_BAG **dst, const ZQ_PKCS12_BAG *src);

/* Attributes: Copy (dst reset first), Reset; as DER Attributes (SET OF, DER order) and back
 * (37734 when they do not read). */
QRT_API int QRT_PKCS12_Attribs_Copy(ZQ_PKCS12_ATTRIBS *dst, const ZQ_PKCS12_ATTRIBS *src);
QRT_API void QRT_PKCS12_Attribs_Reset(ZQ_PKCS12_ATTRIBS *attribs);
QRT_API int QRT_PKCS12_Attribs_To_AsnAttributes(BIN *der, const ZQ_PKCS12_ATTRIBS *attribs);
QRT_API int QRT_PKCS12_AsnAttributes_To_Attribs(ZQ_PKCS12_ATTRIBS *attribs, const BIN *der);

/* Privacy modes: Copy (dst reset first), Reset. */
QRT_API int QRT_PKCS12_PvcMode_Copy(ZQ_PKCS12_PVC_MODE *dst, const ZQ_PKCS12_PVC_MODE *src);
QRT_API void QRT_PKCS12_PvcMode_Reset(ZQ_PKCS12_PVC_MODE *mode);

/* ---- Lower layer ------------------------------------------------------------------------------ */

/* The PKCS#12 key derivation (libOstrelPKCS5's): hashID SHA-1 (3) or SHA-224/256/384/512 (9, 6,
 * 7, 8), diversifier 1 key, 2 IV, 3 MAC key. */
QRT_API int QRT_PKCS12_KDF(BIN *out, int length, int hashID, const BIN *password, const BIN *salt, int iterations,
                           int diversifier);
/* HMAC over data with the MAC key derived from password (hashID as for the KDF, the key of the
 * hash's length). */
QRT_API int QRT_PKCS12_MAC(BIN *mac, int hashID, const BIN *data, const BIN *password, const BIN *salt, int iterations);
/* A MacData (DER) over authSafe (the AuthenticatedSafe octets): hashID SHA-1 or SHA-2, 8 random
 * salt bytes, iterations (written always). */
QRT_API int QRT_PKCS12_AsnMacData_Encode(BIN *macData, int hashID, int iterations, const BIN *authSafe,
                                         const BIN *password);
/* 0 when the MacData (DER) matches; 37740 for an unreadable one, MD5 or another hash, or an
 * iteration count outside 1..QRT_PKCS5_GetIterationLimit(); 37750 on mismatch. */
QRT_API int QRT_PKCS12_AsnMacData_Verify(const BIN *macData, const BIN *authSafe, const BIN *password);

/* pkcs-12PbeParams {salt, iterations} (DER) and back (37741 when it does not read or the count
 * lies outside 1..QRT_PKCS5_GetIterationLimit()). */
QRT_API int QRT_PKCS12_PBE_EncodeParam(BIN *der, const BIN *salt, int iterations);
QRT_API int QRT_PKCS12_PBE_DecodeParam(BIN *salt, int *iterations, const BIN *der);
/* The PKCS#12 PBE of pbeID (1-6; 37714 otherwise) with the password widened (key diversifier 1,
 * IV 2); a decryption the provider refuses (wrong password) is 37737. */
QRT_API int QRT_PKCS12_PBE_Encrypt(BIN *out, int pbeID, const BIN *in, const BIN *password, const BIN *salt,
                                   int iterations);
QRT_API int QRT_PKCS12_PBE_Decrypt(BIN *out, int pbeID, const BIN *in, const BIN *password, const BIN *salt,
                                   int iterations);

/* pbeID to the PKCS#12 PBE object identifier's DER contents octets and back (37714). */
QRT_API int QRT_PKCS12_PbeID_To_ObjID(BIN *oid, int pbeID);
QRT_API int QRT_PKCS12_ObjID_To_PbeID(int *pbeID, const BIN *oid);
/* Bag id to the bag type's DER contents octets and back (37710). */
QRT_API int QRT_PKCS12_BagID_To_ObjID(BIN *oid, int bagID);
QRT_API int QRT_PKCS12_ObjID_To_BagID(int *bagID, const BIN *oid);

/* b := a copy of len bytes of src (len 0: empty); Resize: len new zero bytes; Cmp: 0 when both
 * hold the same bytes, else 1. */
QRT_API int QRT_PKCS12_BIN_Set(BIN *b, const void *src, int len);
QRT_API int QRT_PKCS12_BIN_Resize(BIN *b, int len);
QRT_API int QRT_PKCS12_BIN_Cmp(const BIN *a, const BIN *b);

/* ---- Library frame ---------------------------------------------------------------------------- */

QRT_API const char *QRT_PKCS12_GetVersion(void);
/* -1 when this library is older than required or a library it links is older than it needs. */
QRT_API int QRT_PKCS12_CheckVersion(const char *required);
/* locale 1 English, 0 Korean (EUC-KR). Codes of the ASN.1 layer, the provider, the I/O core,
 * libOstrelPKCS5/8 and libOstrelPKCS7 are looked up there. */
QRT_API const char *QRT_PKCS12_GetErrorReason(int code, int locale);

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_SUITE_PKCS12_H */
