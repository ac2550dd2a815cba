/* libOstrelPKCS7: PKCS#7 (RFC 2315) and CMS (RFC 5652) messages: data, signed data, enveloped
 * data, signed-and-enveloped data, digested data, encrypted data, and the gateway messages.
 *
 * Reading: one parse of what peers send (the PKCS7Wire types of the ASN.1 layer). Inner content
 * is taken either as the value itself (RFC 2315) or as an OCTET STRING (CMS); signers and
 * recipients are identified by IssuerAndSerialNumber or by subjectKeyIdentifier; certificates and
 * CRLs stay the bytes received, in their order, and only the signer's certificate is decoded.
 * Signatures are checked over the attributes as received (with the SET OF tag) or over the
 * content octets, through the provider's one signature table (RSA v1.5, RSASSA-PSS, DSA, ECDSA,
 * KCDSA, EC-KCDSA).
 *
 * Contents: every `content` and `contentOut` argument is the DER of a ContentInfo; data comes
 * back re-wrapped as data (QRT_PKCS7_DecodeData gives its octets).
 *
 * Private keys are in the provider's digest-level form: the PKCS#1 RSAPrivateKey for RSA, the DER
 * INTEGER x (DSA, KCDSA) or d (ECDSA, EC-KCDSA) for the others; domain parameters and the public
 * value come from the signer's certificate.
 *
 * Results: 0, a code of this library (37301-37399), or a code of the ASN.1 layer, the provider or
 * the I/O core passed through. Every failure of a public function is recorded in the calling
 * thread's error trace under the function's name. Outputs are complete only on success; on
 * failure they are empty.
 *
 * Ownership: records own what they point to (released by their Reset and Free functions); sets
 * and lists copy what is added; output BINs belong to the caller (QRT_BIN_Reset). Content keys
 * are wiped before their memory is released. */
#ifndef OSTREL_SUITE_PKCS7_H
#define OSTREL_SUITE_PKCS7_H

#include <time.h>

#include "suite_asn.h"
#include "suite_io.h"
#include "suite_pkcs7_codes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Identifiers ------------------------------------------------------------------------- */

/* Content types. */
#define QRT_PKCS7_DATA 1
#define QRT_PKCS7_SIGNED 2
#define QRT_PKCS7_ENVELOPED 3
#define QRT_PKCS7_SIGNED_ENVELOPED 4
#define QRT_PKCS7_DIGESTED 5
#define QRT_PKCS7_ENCRYPTED 6
#define QRT_PKCS7_TSTINFO 14
#define QRT_PKCS7_CT_CONTENTINFO 16
#define QRT_PKCS7_DVCS_REQUEST 17
#define QRT_PKCS7_DVCS_RESPONSE 18
#define QRT_PKCS7_CTL 30
#define QRT_PKCS7_ARC_CERT_REQUEST 43
#define QRT_PKCS7_ARC_CERT_RESPONSE 44

/* Digests (written with NULL parameters). 5 is HAS-160, the provider's hash 4. */
#define QRT_PKCS7_MD2 1
#define QRT_PKCS7_MD5 2
#define QRT_PKCS7_SHA1 3
#define QRT_PKCS7_HAS160 5
#define QRT_PKCS7_SHA256 6
#define QRT_PKCS7_SHA384 7
#define QRT_PKCS7_SHA512 8

/* Public-key algorithms of signers (algID / 1000). The thousands part of an algID selects among
 * them only for an RSA certificate key (2000 + digest: RSASSA-PSS) and an EC key (12000 + digest:
 * EC-KCDSA); otherwise the certificate's key decides. */
#define QRT_PKCS7_ALG_RSA 1
#define QRT_PKCS7_ALG_RSAPSS 2
#define QRT_PKCS7_ALG_DSA 3
#define QRT_PKCS7_ALG_ECDSA 5
#define QRT_PKCS7_ALG_KCDSA 11
#define QRT_PKCS7_ALG_ECKCDSA 12

/* Content encryption (CBC, PKCS#5 padding): id, key bytes. */
#define QRT_PKCS7_DES 1         /* des_cbc, 8 */
#define QRT_PKCS7_DES3 2        /* des_ede3_cbc, 24 */
#define QRT_PKCS7_RC2 3         /* rc2_cbc, 1..128 (24 written), RC2-CBC parameter */
#define QRT_PKCS7_CAMELLIA128 4 /* camellia128-cbc, 16 */
#define QRT_PKCS7_SEED 8        /* seedCBC, 16 */
#define QRT_PKCS7_ARIA 9        /* ariaCBC, 16 */
#define QRT_PKCS7_ARIA128 16    /* ariaCBC, 16 */
#define QRT_PKCS7_ARIA192 17    /* ARIA-192-CBC, 24 */
#define QRT_PKCS7_ARIA256 18    /* ARIA-256-CBC, 32 */
#define QRT_PKCS7_AES128 19     /* id-aes128-CBC, 16 */
#define QRT_PKCS7_AES192 20     /* id-aes192-CBC, 24 */
#define QRT_PKCS7_AES256 21     /* id-aes256-CBC, 32 */

/* Key transport to a recipient. */
#define QRT_PKCS7_KEYTRANS_RSA 1  /* rsaEncryption, PKCS#1 v1.5 */
#define QRT_PKCS7_KEYTRANS_OAEP 5 /* id-RSAES-OAEP, SHA-1 and MGF1-SHA-1 (parameters 30 00) */

/* Attributes. */
#define QRT_PKCS7_AT_CONTENT_TYPE 1
#define QRT_PKCS7_AT_MESSAGE_DIGEST 2
#define QRT_PKCS7_AT_SIGNING_TIME 3
#define QRT_PKCS7_AT_RANDOM_NONCE 4
#define QRT_PKCS7_AT_SEQUENCE_NUMBER 5
#define QRT_PKCS7_AT_COUNTER_SIGNATURE 6
#define QRT_PKCS7_AT_SMIME_CAPABILITIES 10
#define QRT_PKCS7_AT_CHAIN_HASH 20

/* Limits of what is read: more is refused before any public-key work. */
#define QRT_PKCS7_MAX_SIGNERS 64      /* 37331 (37333 in signed-and-enveloped data) */
#define QRT_PKCS7_MAX_CERTS 4096      /* 37331 */
#define QRT_PKCS7_MAX_CRLS 4096       /* 37331 */
#define QRT_PKCS7_MAX_RECIPIENTS 4096 /* 37332 */

/* ---- Records ----------------------------------------------------------------------------- */

/* A decoded ContentInfo: the type and the DER of the content field's inner value (without the
 * [0] wrapper; BER brought to DER). value NULL: no content. Caller-owned; released by
 * QRT_PKCS7_Content_Reset. */
typedef struct _ZQ_PKCS7_CONTENT {
    int typeID;
    BIN *value;
} ZQ_PKCS7_CONTENT;

/* A set of BINs (certificates, CRLs): a list that copies what is added and keeps its order. The
 * empty set is a NULL pointer. */
typedef struct _ZQ_PKCS7_BIN_SET {
    BIN value;
    struct _ZQ_PKCS7_BIN_SET *next;
} ZQ_PKCS7_BIN_SET;

/* One attribute. typeID 0: an attribute of a type outside the table, read from a peer (oid: the
 * identifier's contents octets; value: the DER of its values SET). Otherwise, by type:
 *   1 contentType: number = the content type id
 *   2 messageDigest, 4 randomNonce, 20 chainHash: value = the octets
 *   3 signingTime: number = the time_t
 *   5 sequenceNumber: number
 *   6 counterSignature, 10 smimeCapabilities: value = the DER of the attribute value
 * valueCount: the number of values the attribute arrived with (1 when built here). */
typedef struct _ZQ_PKCS7_ATTRIB {
    int typeID;
    BIN value;
    long long number;
    BIN oid;
    int valueCount;
    struct _ZQ_PKCS7_ATTRIB *next;
} ZQ_PKCS7_ATTRIB;

typedef struct _ZQ_PKCS7_ATTRIBS {
    ZQ_PKCS7_ATTRIB *first;
} ZQ_PKCS7_ATTRIBS;

/* One signer. issuerAndSerial: DER IssuerAndSerialNumber of the signer certificate;
 * subjectKeyId: the key identifier octets of a signer identified that way (reading only);
 * authAttrs/unauthAttrs: DER Attributes (SET OF, 0x31...); algID: the public-key algorithm;
 * signature: the signature octets; privKey: the key to sign with; cert: the signer certificate
 * (DER). sigAlg: the DER AlgorithmIdentifier the signature was read with (NULL when built here). */
typedef struct _ZQ_PKCS7_SIGNER_INFO {
    BIN *issuerAndSerial;
    BIN *subjectKeyId;
    int digestID;
    BIN *authAttrs;
    int algID;
    BIN *signature;
    BIN *unauthAttrs;
    BIN *privKey;
    BIN *cert;
    BIN *sigAlg;
    struct _ZQ_PKCS7_SIGNER_INFO *next;
} ZQ_PKCS7_SIGNER_INFO;

typedef struct _ZQ_PKCS7_SIGNER_INFOS {
    ZQ_PKCS7_SIGNER_INFO *first;
} ZQ_PKCS7_SIGNER_INFOS;

/* Signed data. version: the version read (0 when built here: written as the content demands). */
typedef struct _ZQ_PKCS7_SIGNED {
    int version;
    ZQ_PKCS7_CONTENT content;
    ZQ_PKCS7_BIN_SET *certs;
    ZQ_PKCS7_BIN_SET *crls;
    ZQ_PKCS7_SIGNER_INFOS signerInfos;
} ZQ_PKCS7_SIGNED;

/* One recipient. issuerAndSerial (DER) or subjectKeyId (octets) identifies it; algID: the key
 * transport (QRT_PKCS7_KEYTRANS_...; OAEP read with another hash than SHA-1 carries that hash,
 * for the message and MGF1 alike, in the thousands: 6005 is OAEP with SHA-256; 0 for OAEP
 * parameters the provider cannot take); cert: the recipient certificate when enveloping. */
typedef struct _ZQ_PKCS7_RECIP_INFO {
    BIN *issuerAndSerial;
    BIN *subjectKeyId;
    int algID;
    BIN *encryptedKey;
    BIN *cert;
    struct _ZQ_PKCS7_RECIP_INFO *next;
} ZQ_PKCS7_RECIP_INFO;

typedef struct _ZQ_PKCS7_RECIP_INFOS {
    ZQ_PKCS7_RECIP_INFO *first;
} ZQ_PKCS7_RECIP_INFOS;

/* Encrypted content. encID: the table's id, or 0 for an algorithm outside it (a password-based
 * scheme, say), which algID then names: the DER AlgorithmIdentifier as written or read.
 * param: the DER of its parameters (IV, RC2-CBC parameter). encrypted: the encrypted octets. */
typedef struct _ZQ_PKCS7_ENC_CONTENT {
    int typeID;
    int encID;
    BIN *algID;
    BIN *param;
    BIN *encrypted;
} ZQ_PKCS7_ENC_CONTENT;

typedef struct _ZQ_PKCS7_ENVELOPED {
    int version;
    ZQ_PKCS7_RECIP_INFOS recipInfos;
    ZQ_PKCS7_ENC_CONTENT encContent;
} ZQ_PKCS7_ENVELOPED;

typedef struct _ZQ_PKCS7_ENCRYPTED {
    int version;
    ZQ_PKCS7_ENC_CONTENT encContent;
} ZQ_PKCS7_ENCRYPTED;

typedef struct _ZQ_PKCS7_DIGESTED {
    int version;
    int digestID;
    ZQ_PKCS7_CONTENT content;
    BIN *digest;
} ZQ_PKCS7_DIGESTED;

typedef struct _ZQ_PKCS7_SIGN_ENVELOPED {
    int version;
    ZQ_PKCS7_RECIP_INFOS recipInfos;
    ZQ_PKCS7_ENC_CONTENT encContent;
    ZQ_PKCS7_BIN_SET *certs;
    ZQ_PKCS7_BIN_SET *crls;
    ZQ_PKCS7_SIGNER_INFOS signerInfos;
} ZQ_PKCS7_SIGN_ENVELOPED;

/* ---- Frame ------------------------------------------------------------------------------- */

QRT_API const char *QRT_PKCS7_GetVersion(void);
/* -1 when this library is older than `required`, or a library it needs is older than it
 * requires; else 0. */
QRT_API int QRT_PKCS7_CheckVersion(const char *required);
/* lang 1 English, 0 Korean (EUC-KR); 1000-1999 ASN.1, 6000-6199 provider, 8000-8999 I/O. */
QRT_API const char *QRT_PKCS7_GetErrorReason(int code, int lang);

/* ---- Identifier maps (-1 or NULL when unknown) --------------------------------------------- */

QRT_API const ObjectID *QRT_PKCS7_TypeID_To_ObjID(int typeID);
QRT_API int QRT_PKCS7_ObjID_To_TypeID(const ObjectID *oid);
QRT_API const ObjectID *QRT_PKCS7_DigestID_To_ObjID(int digestID);
QRT_API int QRT_PKCS7_ObjID_To_DigestID(const ObjectID *oid);
/* The provider's hash id of a digest id. */
QRT_API int QRT_PKCS7_DigestID_To_HashID(int digestID);
/* The digestEncryptionAlgorithm a signer writes for an alg id and digest id (DER, new memory):
 * rsaEncryption NULL; RSASSA-PSS with the parameters used (30 00 for SHA-1); the table's
 * DSA, ECDSA, KCDSA (kcdsa1 family) and EC-KCDSA identifiers. */
QRT_API int QRT_PKCS7_AlgID_To_ObjID(BIN *algorithmIdentifier, int algID, int digestID);
/* The alg id of a signer's digestEncryptionAlgorithm (DER), or -1. */
QRT_API int QRT_PKCS7_ObjID_To_AlgID(const BIN *algorithmIdentifier);
/* (alg id, digest id) to the provider's (hash id, sign id); 37311 / 37313. */
QRT_API int QRT_PKCS7_AlgID_TO_SignID(int *hashID, int *signID, int algID, int digestID);
QRT_API const ObjectID *QRT_PKCS7_EncID_To_ObjID(int encID);
QRT_API int QRT_PKCS7_ObjID_To_EncID(const ObjectID *oid);
/* Key bytes and provider cipher of an enc id; 37312 when unknown. */
QRT_API int QRT_PKCS7_GetEncInfo(int *keyLength, int *cipherID, int encID);

/* ---- Content layer ----------------------------------------------------------------------- */

/* Decodes a ContentInfo (37330; a type outside the table: 37310). out is reset first. */
QRT_API int QRT_PKCS7_Content_Decode(ZQ_PKCS7_CONTENT *out, const BIN *contentInfo);
QRT_API int QRT_PKCS7_Content_Encode(BIN *out, const ZQ_PKCS7_CONTENT *content);
QRT_API void QRT_PKCS7_Content_Reset(ZQ_PKCS7_CONTENT *content);
/* The octets digested (and, without attributes, signed): the contents octets of the value; a
 * constructed OCTET STRING gives its concatenated octets. 37360 when there is no value. */
QRT_API int QRT_PKCS7_Content_GetDigestMessage(BIN *out, const ZQ_PKCS7_CONTENT *content);
QRT_API int QRT_PKCS7_Content_ComputeDigest(BIN *out, const ZQ_PKCS7_CONTENT *content, int digestID);
/* 0 when the digest matches (constant-time compare), 37351 when not. */
QRT_API int QRT_PKCS7_Content_VerifyDigest(const ZQ_PKCS7_CONTENT *content, int digestID, const BIN *digest);

/* Data: a ContentInfo { id-data, OCTET STRING data } and back. */
QRT_API int QRT_PKCS7_Data_Encode(BIN *out, const BIN *data);
QRT_API int QRT_PKCS7_Data_Decode(BIN *out, const ZQ_PKCS7_CONTENT *content);
QRT_API int QRT_PKCS7_EncodeData(BIN *out, const BIN *data);
QRT_API int QRT_PKCS7_DecodeData(BIN *out, const BIN *in);
/* kind: 17 or 18 (the DVCS content types); the same wrapping. */
QRT_API int QRT_PKCS7_DVCS_EncodeData(BIN *out, const BIN *data, int kind);

/* ---- Sets -------------------------------------------------------------------------------- */

/* Appends a copy of value. */
QRT_API int QRT_PKCS7_BIN_SET_Add(ZQ_PKCS7_BIN_SET **set, const BIN *value);
QRT_API int QRT_PKCS7_BIN_SET_Count(const ZQ_PKCS7_BIN_SET *set);
/* The index-th member (from 0), or NULL. */
QRT_API const BIN *QRT_PKCS7_BIN_SET_Get(const ZQ_PKCS7_BIN_SET *set, int index);
QRT_API void QRT_PKCS7_BIN_SET_Free(ZQ_PKCS7_BIN_SET *set);

/* Certificates of a set: by IssuerAndSerialNumber (DER), by subject key identifier (octets;
 * the extension, else the SHA-1 of the subject public key), the issuer of cert (subject equal to
 * its issuer; not cert itself), and the chain from cert up to a self-signed certificate or the
 * end of the set, at most as many steps as the set holds (chain: a new set, cert first).
 * out: a copy; 37320 when not found. */
QRT_API int QRT_PKCS7_Certs_GetCert(BIN *out, const ZQ_PKCS7_BIN_SET *certs, const BIN *issuerAndSerial);
QRT_API int QRT_PKCS7_Certs_GetCert_SKI(BIN *out, const ZQ_PKCS7_BIN_SET *certs, const BIN *subjectKeyId);
QRT_API int QRT_PKCS7_Certs_GetParent(BIN *out, const ZQ_PKCS7_BIN_SET *certs, const BIN *cert);
QRT_API int QRT_PKCS7_Certs_GetChain(ZQ_PKCS7_BIN_SET **chain, const ZQ_PKCS7_BIN_SET *certs, const BIN *cert);
/* A certificate's IssuerAndSerialNumber (DER), key algorithm (QRT_CSP_PKEY_...), public key
 * octets and domain parameters (DER; empty when none). Any output may be NULL. */
QRT_API int QRT_PKCS7_Cert_GetInfos(BIN *issuerAndSerial, int *pkeyID, BIN *pubKey, BIN *param, const BIN *cert);
/* CRLs of a set: the first whose issuer is the given Name (DER). */
QRT_API int QRT_PKCS7_Crls_GetCrl(BIN *out, const ZQ_PKCS7_BIN_SET *crls, const BIN *issuerName);

/* ---- Attributes -------------------------------------------------------------------------- */

QRT_API ZQ_PKCS7_ATTRIBS *QRT_PKCS7_Attributes_New(void);
/* Appends an attribute of the table (37315 otherwise); value or number as the type takes. */
QRT_API int QRT_PKCS7_Attributes_Add(ZQ_PKCS7_ATTRIBS *list, int typeID, const BIN *value, long long number);
/* The first attribute of a type; GetEx the index-th of that type (from 0). NULL when absent. */
QRT_API const ZQ_PKCS7_ATTRIB *QRT_PKCS7_Attributes_Get(const ZQ_PKCS7_ATTRIBS *list, int typeID);
QRT_API const ZQ_PKCS7_ATTRIB *QRT_PKCS7_Attributes_GetEx(const ZQ_PKCS7_ATTRIBS *list, int typeID, int index);
/* DER Attributes (SET OF, DER order: the bytes that go out and are signed). */
QRT_API int QRT_PKCS7_Attributes_Encode(BIN *out, const ZQ_PKCS7_ATTRIBS *list);
/* Reads Attributes tagged 0x31 or [0] (0xA0); list is reset first. 37340 when they do not read. */
QRT_API int QRT_PKCS7_Attributes_Decode(ZQ_PKCS7_ATTRIBS *list, const BIN *in);
/* The authenticated attributes of a content: contentType, messageDigest (digestID), signingTime
 * (now), encoded. */
QRT_API int QRT_PKCS7_Attributes_GenAuth(BIN *out, int digestID, const ZQ_PKCS7_CONTENT *content);
/* Exactly one contentType and one messageDigest attribute with one value each (37340; missing:
 * 37370, 37371); the type must be the content's (37319) and the digest its digest (37351). */
QRT_API int QRT_PKCS7_Attributes_CheckAuth(const ZQ_PKCS7_ATTRIBS *list, int digestID, const ZQ_PKCS7_CONTENT *content);
QRT_API void QRT_PKCS7_Attributes_Reset(ZQ_PKCS7_ATTRIBS *list);
QRT_API void QRT_PKCS7_Attributes_Free(ZQ_PKCS7_ATTRIBS *list);

/* ---- Signer infos ------------------------------------------------------------------------ */

/* Fills si for signing with cert: attrs (DER Attributes, optional), signature (made elsewhere)
 * or privKey (37362 without either), unauthAttrs (optional). 37361 without cert. */
QRT_API int QRT_PKCS7_SignerInfo_Set(ZQ_PKCS7_SIGNER_INFO *si, int algID, const BIN *attrs, const BIN *signature,
                                     const BIN *unauthAttrs, const BIN *cert, const BIN *privKey);
/* Signs the attributes, or without them the content's digest message. */
QRT_API int QRT_PKCS7_SignerInfo_Sign(ZQ_PKCS7_SIGNER_INFO *si, const ZQ_PKCS7_CONTENT *content);
/* Checks si against the content under cert's key: 0, 37350 (signature), 37351 (digest), 37319,
 * 37340, 37360 (no content to check against). */
QRT_API int QRT_PKCS7_SignerInfo_Verify(const ZQ_PKCS7_SIGNER_INFO *si, const ZQ_PKCS7_CONTENT *content,
                                        const BIN *cert);
QRT_API void QRT_PKCS7_SignerInfo_Reset(ZQ_PKCS7_SIGNER_INFO *si);

QRT_API ZQ_PKCS7_SIGNER_INFOS *QRT_PKCS7_SignerInfos_New(void);
/* Appends si, taking over what it owns (si is left zeroed). */
QRT_API int QRT_PKCS7_SignerInfos_Add(ZQ_PKCS7_SIGNER_INFOS *list, ZQ_PKCS7_SIGNER_INFO *si);
QRT_API void QRT_PKCS7_SignerInfos_Reset(ZQ_PKCS7_SIGNER_INFOS *list);
QRT_API void QRT_PKCS7_SignerInfos_Free(ZQ_PKCS7_SIGNER_INFOS *list);

/* Digest and signature of bytes with the table's algorithms (sign: privKey, and the signer's
 * certificate for its parameters and public value). */
QRT_API int QRT_PKCS7_ComputeDigest(BIN *out, const BIN *in, int digestID);
QRT_API int QRT_PKCS7_ComputeSignature(BIN *signature, const BIN *message, int algID, int digestID, const BIN *privKey,
                                       const BIN *cert);
/* sigAlg: the signer's digestEncryptionAlgorithm (DER), or NULL for the one algID writes. */
QRT_API int QRT_PKCS7_VerifySignature(const BIN *signature, const BIN *message, int algID, int digestID,
                                      const BIN *sigAlg, const BIN *cert);

/* ---- Signed data ------------------------------------------------------------------------- */

QRT_API ZQ_PKCS7_SIGNED *QRT_PKCS7_Signed_New(void);
/* Decodes signed data from a decoded ContentInfo. verifyFlag: also Signed_Verify against the
 * embedded certificates. */
QRT_API int QRT_PKCS7_Signed_Decode(ZQ_PKCS7_SIGNED *sd, const ZQ_PKCS7_CONTENT *contentInfo, int verifyFlag);
/* The same from the DER ContentInfo, in one parse: a message of definite lengths is read in
 * place (no copy of it), BER through the content layer. 37310 for another content type. */
QRT_API int QRT_PKCS7_Signed_DecodeBin(ZQ_PKCS7_SIGNED *sd, const BIN *contentInfo, int verifyFlag);
/* DER ContentInfo of the signed data. */
QRT_API int QRT_PKCS7_Signed_Encode(BIN *out, const ZQ_PKCS7_SIGNED *sd);
/* Signs every signer without a signature over content and takes the content over (a copy). */
QRT_API int QRT_PKCS7_Signed_Sign(ZQ_PKCS7_SIGNED *sd, const ZQ_PKCS7_CONTENT *content);
/* Checks every signer: its certificate by IssuerAndSerialNumber or key identifier in certs, then
 * in the embedded set (37361 when in neither). content NULL: the signed data's own content. A
 * signer without content to check against is 37360 (a detached signature needs its data); a
 * signed data without signers verifies. signerCertOut (may be NULL): the first signer's
 * certificate. */
QRT_API int QRT_PKCS7_Signed_Verify(const ZQ_PKCS7_SIGNED *sd, const ZQ_PKCS7_CONTENT *content,
                                    const ZQ_PKCS7_BIN_SET *certs, BIN *signerCertOut);
QRT_API void QRT_PKCS7_Signed_Reset(ZQ_PKCS7_SIGNED *sd);
QRT_API void QRT_PKCS7_Signed_Free(ZQ_PKCS7_SIGNED *sd);

/* algID: public-key alg id * 1000 + digest id (thousands part 0: the certificate's key).
 * signerCert with privKey asks for one signer; without them the result carries certificates and
 * CRLs only. extraCert and crl are optional. */
QRT_API int QRT_PKCS7_EncodeSigned(BIN *out, int algID, const BIN *content, const BIN *signerCert, const BIN *privKey,
                                   const BIN *extraCert, const BIN *crl);
/* Two-phase signing: Init gives the authenticated attributes in SET form (0x31...), the bytes an
 * external signer signs; Final builds the signed data with that signature over those attrs. */
QRT_API int QRT_PKCS7_EncodeSigned_Init(BIN *attrsOut, int algID, const BIN *content);
QRT_API int QRT_PKCS7_EncodeSigned_Final(BIN *out, int algID, const BIN *content, const BIN *attrs,
                                         const BIN *signature, const BIN *signerCert, const BIN *extraCert,
                                         const BIN *crl);
/* Decodes signed data: the inner content (DER ContentInfo), the first signer's digest id and
 * certificate, that certificate's issuer among the embedded ones and the first embedded CRL (the
 * last three may be NULL). The first signer is verified when the content is present; a detached
 * signature (no content) returns 0 unverified: check it with Signed_Verify and its data. A
 * signer whose certificate is not embedded is 37320. Without signers: the first certificate. */
QRT_API int QRT_PKCS7_DecodeSigned(int *digestIdOut, BIN *contentOut, BIN *signerCertOut, BIN *issuerCertOut,
                                   BIN *crlOut, const BIN *in);

/* ---- Recipient infos and encrypted content --------------------------------------------------- */

/* A recipient for cert (RSA keys only: 37313); keyTrans QRT_PKCS7_KEYTRANS_RSA or _OAEP. */
QRT_API int QRT_PKCS7_RecipInfo_Set(ZQ_PKCS7_RECIP_INFO *ri, const BIN *cert, int keyTrans);
/* Encrypts contentKey to the recipient's key. */
QRT_API int QRT_PKCS7_RecipInfo_Envelope(ZQ_PKCS7_RECIP_INFO *ri, const BIN *contentKey);
/* Recovers the content key with privKey in the mode the recipient names (v1.5 or OAEP). An
 * unwrap that fails goes on with a random 16-byte key (RFC 3218): the content then fails to
 * decrypt, as under a wrong key. */
QRT_API int QRT_PKCS7_RecipInfo_Develope(BIN *contentKey, const ZQ_PKCS7_RECIP_INFO *ri, const BIN *privKey);
QRT_API int QRT_PKCS7_RecipInfo_DevelopeWithRSAOAEP(BIN *contentKey, const ZQ_PKCS7_RECIP_INFO *ri, const BIN *privKey);
QRT_API void QRT_PKCS7_RecipInfo_Reset(ZQ_PKCS7_RECIP_INFO *ri);
QRT_API ZQ_PKCS7_RECIP_INFOS *QRT_PKCS7_RecipInfos_New(void);
/* Appends ri, taking over what it owns. */
QRT_API int QRT_PKCS7_RecipInfos_Add(ZQ_PKCS7_RECIP_INFOS *list, ZQ_PKCS7_RECIP_INFO *ri);
/* The recipient of cert (by IssuerAndSerialNumber or key identifier), or NULL. */
QRT_API const ZQ_PKCS7_RECIP_INFO *QRT_PKCS7_RecipInfos_Find(const ZQ_PKCS7_RECIP_INFOS *list, const BIN *cert);
QRT_API void QRT_PKCS7_RecipInfos_Reset(ZQ_PKCS7_RECIP_INFOS *list);
QRT_API void QRT_PKCS7_RecipInfos_Free(ZQ_PKCS7_RECIP_INFOS *list);

/* Encrypts the content's octets (for data the bare payload) with key (a fresh IV each time);
 * Decrypt gives the plaintext content (data re-wrapped as data). */
QRT_API int QRT_PKCS7_EncContent_Encrypt(ZQ_PKCS7_ENC_CONTENT *ec, int encID, const ZQ_PKCS7_CONTENT *content,
                                         const BIN *key);
QRT_API int QRT_PKCS7_EncContent_Decrypt(ZQ_PKCS7_CONTENT *content, const ZQ_PKCS7_ENC_CONTENT *ec, const BIN *key);
QRT_API void QRT_PKCS7_EncContent_Reset(ZQ_PKCS7_ENC_CONTENT *ec);
/* RC2-CBC parameter (version by the RFC 2268 table, IV) and back. */
QRT_API int QRT_PKCS7_EncodeRC2Param(BIN *out, int effectiveBits, const BIN *iv);
QRT_API int QRT_PKCS7_DecodeRC2Param(int *effectiveBits, BIN *iv, const BIN *in);
/* RFC 2268 effective key bits of a parameter version (256 and above: the version itself). */
QRT_API int QRT_PKCS7_GetEKB(int version);

/* ---- Enveloped data ------------------------------------------------------------------------ */

QRT_API ZQ_PKCS7_ENVELOPED *QRT_PKCS7_Enveloped_New(void);
/* A fresh content key for encID, encrypted to every recipient of the record, and the content
 * encrypted under it. */
QRT_API int QRT_PKCS7_Enveloped_Envelope(ZQ_PKCS7_ENVELOPED *ed, int encID, const ZQ_PKCS7_CONTENT *content);
QRT_API int QRT_PKCS7_Enveloped_Encode(BIN *out, const ZQ_PKCS7_ENVELOPED *ed);
QRT_API int QRT_PKCS7_Enveloped_Decode(ZQ_PKCS7_ENVELOPED *ed, const ZQ_PKCS7_CONTENT *contentInfo);
QRT_API void QRT_PKCS7_Enveloped_Reset(ZQ_PKCS7_ENVELOPED *ed);
QRT_API void QRT_PKCS7_Enveloped_Free(ZQ_PKCS7_ENVELOPED *ed);

QRT_API int QRT_PKCS7_EncodeEnveloped(BIN *out, int encID, const BIN *content, const BIN *recipientCert);
/* recipientCerts: one recipient each (v1.5 key transport). */
QRT_API int QRT_PKCS7_EncodeEnvelopedEx(BIN *out, int encID, const BIN *content, const ZQ_BIN_LIST *recipientCerts);
/* keyTrans: QRT_PKCS7_KEYTRANS_RSA or _OAEP for every recipient. */
QRT_API int QRT_PKCS7_EncodeEnvelopedExBig(BIN *out, int encID, const BIN *content, const ZQ_BIN_LIST *recipientCerts,
                                           int keyTrans);
QRT_API int QRT_PKCS7_DecodeEnveloped(int *encIdOut, BIN *contentOut, const BIN *in, const BIN *recipientCert,
                                      const BIN *privKey);
/* Two phases: the recipient's encrypted key, for a separate key holder; then the content. */
QRT_API int QRT_PKCS7_DecodeEnveloped_Init(BIN *encryptedKeyOut, const BIN *in, const BIN *recipientCert);
QRT_API int QRT_PKCS7_DecodeEnveloped_Final(int *encIdOut, BIN *contentOut, const BIN *in, const BIN *recipientCert,
                                            const BIN *contentKey);

/* ---- Encrypted, digested, signed-and-enveloped data ------------------------------------------ */

QRT_API ZQ_PKCS7_ENCRYPTED *QRT_PKCS7_Encrypted_New(void);
QRT_API int QRT_PKCS7_Encrypted_Encode(BIN *out, const ZQ_PKCS7_ENCRYPTED *ed);
QRT_API int QRT_PKCS7_Encrypted_Decode(ZQ_PKCS7_ENCRYPTED *ed, const ZQ_PKCS7_CONTENT *contentInfo);
QRT_API void QRT_PKCS7_Encrypted_Reset(ZQ_PKCS7_ENCRYPTED *ed);
QRT_API void QRT_PKCS7_Encrypted_Free(ZQ_PKCS7_ENCRYPTED *ed);
QRT_API int QRT_PKCS7_EncodeEncrypted(BIN *out, int encID, const BIN *content, const BIN *key);
QRT_API int QRT_PKCS7_DecodeEncrypted(int *encIdOut, BIN *contentOut, const BIN *in, const BIN *key);

QRT_API ZQ_PKCS7_DIGESTED *QRT_PKCS7_Digested_New(void);
QRT_API int QRT_PKCS7_Digested_Encode(BIN *out, const ZQ_PKCS7_DIGESTED *dd);
QRT_API int QRT_PKCS7_Digested_Decode(ZQ_PKCS7_DIGESTED *dd, const ZQ_PKCS7_CONTENT *contentInfo);
QRT_API void QRT_PKCS7_Digested_Reset(ZQ_PKCS7_DIGESTED *dd);
QRT_API void QRT_PKCS7_Digested_Free(ZQ_PKCS7_DIGESTED *dd);
QRT_API int QRT_PKCS7_EncodeDigested(BIN *out, int digestID, const BIN *content);
/* Recomputes the digest and compares (37351). */
QRT_API int QRT_PKCS7_DecodeDigested(int *digestIdOut, BIN *contentOut, const BIN *in);

QRT_API ZQ_PKCS7_SIGN_ENVELOPED *QRT_PKCS7_SignEnveloped_New(void);
QRT_API int QRT_PKCS7_SignEnveloped_Encode(BIN *out, const ZQ_PKCS7_SIGN_ENVELOPED *sed);
QRT_API int QRT_PKCS7_SignEnveloped_Decode(ZQ_PKCS7_SIGN_ENVELOPED *sed, const ZQ_PKCS7_CONTENT *contentInfo);
QRT_API void QRT_PKCS7_SignEnveloped_Reset(ZQ_PKCS7_SIGN_ENVELOPED *sed);
QRT_API void QRT_PKCS7_SignEnveloped_Free(ZQ_PKCS7_SIGN_ENVELOPED *sed);
/* RFC 2315 section 11: signed with algID over the content, the encrypted digest encrypted again
 * under the content key, the content enveloped for recipientCert. */
QRT_API int QRT_PKCS7_EncodeSignEnveloped(BIN *out, int algID, int encID, const BIN *content, const BIN *signerCert,
                                          const BIN *privKey, const BIN *recipientCert);
QRT_API int QRT_PKCS7_DecodeSignEnveloped(int *encIdOut, BIN *contentOut, BIN *signerCertOut, const BIN *in,
                                          const BIN *recipientCert, const BIN *privKey);

/* ---- Gateway messages ---------------------------------------------------------------------- */

/* A list of DER items (one message carries them all). */
typedef struct _ZQ_PKCS7_GW_SET {
    BIN value;
    struct _ZQ_PKCS7_GW_SET *next;
} ZQ_PKCS7_GW_SET;

/* Appends a copy of value; Free releases the whole list (NULL is ignored). */
QRT_API int QRT_PKCS7_GWSet_Add(ZQ_PKCS7_GW_SET **set, const BIN *value);
QRT_API int QRT_PKCS7_GWSet_Count(const ZQ_PKCS7_GW_SET *set);
QRT_API void QRT_PKCS7_GWSet_Free(ZQ_PKCS7_GW_SET *set);
/* Connection request: version 1, the client's certificate and a data value. */
QRT_API int QRT_PKCS7_EncodeGWConnReq(BIN *out, const BIN *clientCert, const BIN *data);
QRT_API int QRT_PKCS7_DecodeGWConnReq(BIN *clientCertOut, BIN *dataOut, const BIN *in);
/* Connection response: status, the server's certificate (optional) and a list of data values. */
QRT_API int QRT_PKCS7_EncodeGWConnResp(BIN *out, int status, const BIN *serverCert, const ZQ_PKCS7_GW_SET *dataSet);
QRT_API int QRT_PKCS7_DecodeGWConnResp(int *statusOut, BIN *serverCertOut, ZQ_PKCS7_GW_SET **dataSetOut, const BIN *in);
/* One enveloped item (GWEnvelopedItem DER) for recipientCert with RSA-OAEP (SHA-1), and back. */
QRT_API int QRT_PKCS7_GWEnveloped_GWEnvelope(BIN *itemOut, int encID, const BIN *content, const BIN *recipientCert);
QRT_API int QRT_PKCS7_GWEnvelopedData_GWDevelope(int *encIdOut, BIN *contentOut, const BIN *item, const BIN *privKey);
/* Enveloped items: each content (DER ContentInfo) enveloped for recipientCert with RSA-OAEP
 * (SHA-1); decoding opens every item with privKey. */
QRT_API int QRT_PKCS7_EncodeGWEnvelopedData(BIN *out, int encID, const ZQ_PKCS7_GW_SET *contents,
                                            const BIN *recipientCert);
QRT_API int QRT_PKCS7_DecodeGWEnvelopedData(ZQ_PKCS7_GW_SET **contentsOut, const BIN *in, const BIN *privKey);
/* Encrypted items under a shared key. */
QRT_API int QRT_PKCS7_EncodeGWEncryptedData(BIN *out, int encID, const ZQ_PKCS7_GW_SET *contents, const BIN *key);
QRT_API int QRT_PKCS7_DecodeGWEncryptedData(ZQ_PKCS7_GW_SET **contentsOut, const BIN *in, const BIN *key);

#ifdef __cplusplus
}
#endif

#endif
