/* libOstrelPKC: X.509 certificates as printable fields, per-extension text, distinguished names
 * as text and back, the identifier maps between object identifiers and the provider's numbering,
 * and certificate checks (validity, signature, revocation, CA, usage).
 *
 * Certificates are decoded by the ASN.1 layer (Certificate_PDU); the functions that take a tree
 * leave it to the caller. Every "s" field of the records is a NUL-terminated string cut to its
 * width. */
#ifndef OSTREL_SUITE_PKC_H
#define OSTREL_SUITE_PKC_H

#include <time.h>

#include "suite_asn.h"
#include "suite_crl.h"
#include "suite_io.h"
#include "suite_pkc_codes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Printable fields of a certificate ---------------------------------------------------- */

typedef struct _CertInfo {
    unsigned char nBits;                /* not filled */
    int nVersion;                       /* version + 1 (1 when absent) */
    unsigned int nSerial;               /* the serial as a number; 0 when it has over 4 bytes */
    char sSerial[41];                   /* serial content octets in hex (a leading 00 stays) */
    char sSignatureAlgDesc[50];         /* "SHA256 + RSA", "SHA256 + ECDSA", ... or the dotted OID */
    char sIssuerRDN[1024];
    char sFrom[50];
    char sTo[50];
    char sSubjectRDN[1024];
    char sSubjectKeyAlgDesc[50];        /* "RSA", "DH", "DSA", "KCDSA", "ECDSA", ... */
    char sSubjectPublicKey[1024];       /* hex */
    int nPubKeyLen;                     /* bytes, 0 when unknown */
    char sSignature[1024];              /* hex */
    char sAuthorityKeyID[80];
    char sSubjectKeyID[80];
    char sKeyUsageDesc[200];
    unsigned int nKeyUsage;             /* 0x8000 digitalSignature ... 0x0080 decipherOnly */
    char sPrivateKeyUsagePeriodFrom[50]; /* not filled */
    char sPrivateKeyUsagePeriodTo[50];   /* not filled */
    int nPolicyNum;
    char sPolicyID[1024];
    char sCPSURI[201];
    char sUserNotice[201];
    char sSubjectAltName[1024];
    char sVIDHashAlgDesc[50];
    char sVID[65];
    char sIssuerAltName[1024];
    char sBasicConstraints[80];
    char sExtendedKeyUsage[1024];
    char sCrlDistributionPoints[1024];
    char sAIAs[1024];
    char sNetscapeUsageDesc[200];
    char sMSFP[65]; /* SHA-1 of the whole DER, lowercase hex */
} CertInfo;

/* CertInfo and what QRT_ExtractCertInfoEx adds. */
typedef struct _CertInfoEx {
    CertInfo info;
    char sRegisteredNumber[20];      /* extension id_registeredNumber */
    char sRepresentativeName[20];    /* extension id_representativeName */
    char sRepresentativeTitle[20];   /* extension id_representativeTitle */
    char sNetscapeComment[180];      /* extension netscape_comment */
    unsigned int nAuthorityCertSerial;  /* authority key identifier's certificate serial */
    char sAuthorityCertSerial[41];
    char sRSAModulus[2049];          /* RSA keys: hex */
    char sRSAExponent[65];
    char sKCDSA_P[2049];             /* KCDSA keys: domain parameters in hex */
    char sKCDSA_Q[129];
    char sKCDSA_G[2049];
    char sReserved[822];
} CertInfoEx;

/* From the file path (unless inMemory is set or path is NULL) or from der/length. */
QRT_API int QRT_ExtractCertInfo(int ignored, const char *path, const unsigned char *der, unsigned length,
                                int inMemory, CertInfo *out);
QRT_API int QRT_ExtractCertInfoEx(int ignored, const char *path, const unsigned char *der, unsigned length,
                                  int inMemory, CertInfoEx *out);
/* The basic fields; the basic fields and the extensions; the extensions alone. sMSFP is filled by
 * the two DER forms only. */
QRT_API int QRT_ExtractCertInfoNoExt(int ignored, const Certificate *cert, CertInfo *out);
QRT_API int QRT_DoExtractCertInfo(int ignored, const Certificate *cert, CertInfo *out);
QRT_API int QRT_ExtractCertExtension(int ignored, const Certificate *cert, CertInfo *out);

/* ---- Extension text --------------------------------------------------------------------------
 * Each finds its extension in exts and writes text into out (capacity bytes with the NUL); the
 * short aliases use the capacity of the CertInfo field. 36061 when the extension is absent (the
 * key identifiers), 36033 when it does not decode. */
QRT_API int QRT_PKC_KeyUsage_ToString(char *out, int capacity, const Extensions exts, unsigned int *bits);
QRT_API int QRT_PKC_ExtKeyUsage_ToString(char *out, int capacity, const Extensions exts);
QRT_API int QRT_PKC_BasicConsts_ToString(char *out, int capacity, const Extensions exts);
/* issuer 0: subjectAltName, which also fills vidHashAlg (50 bytes) and vid (65 bytes) when they
 * are given; issuer 1: issuerAltName. */
QRT_API int QRT_PKC_AltName_ToString(char *out, int capacity, const Extensions exts, int issuer, char *vidHashAlg,
                                     char *vid);
QRT_API int QRT_PKC_AuthInfoAccess_ToString(char *out, int capacity, const Extensions exts);
QRT_API int QRT_PKC_CrlDistPoints_ToString(char *out, int capacity, const Extensions exts);
QRT_API int QRT_PKC_NSCertType_ToString(char *out, int capacity, const Extensions exts);
/* Policy OIDs into out; count, cpsURI (201 bytes) and userNotice (201 bytes) when given. */
QRT_API int QRT_PKC_CertPolicies_ToString(char *out, int capacity, const Extensions exts, int *count, char *cpsURI,
                                          char *userNotice);
QRT_API int QRT_PKC_AuthKeyId_ToString(char *out, int capacity, const Extensions exts);
QRT_API int QRT_PKC_SubKeyId_ToString(char *out, int capacity, const Extensions exts);
QRT_API int QRT_PKC_AsnGenName_ToString(char *out, int capacity, const GeneralName *name);
QRT_API int QRT_PKC_AsnTime_ToString(char *out, int capacity, const Time *time);

QRT_API int QRT_GetKeyUsage(char *out, const Extensions exts, unsigned int *bits);
QRT_API int QRT_GetExtKeyUsage(char *out, const Extensions exts);
QRT_API int QRT_GetBC(char *out, const Extensions exts);
QRT_API int QRT_GetAltName(char *out, const Extensions exts, int issuer, char *vidHashAlg, char *vid);
QRT_API int QRT_GetAIA(char *out, const Extensions exts);
QRT_API int QRT_GetDistributionPoints(char *out, const Extensions exts);
QRT_API int QRT_GetNetscapeCertType(char *out, const Extensions exts);
QRT_API int QRT_GetPolicy(char *out, const Extensions exts, int *count, char *cpsURI, char *userNotice);
QRT_API int QRT_GetAuthorityKeyId(char *out, const Extensions exts);
QRT_API int QRT_GetSubjectKeyId(char *out, const Extensions exts);

/* ---- Helpers -------------------------------------------------------------------------------- */

/* Lowercase hex of in, at most (*capacity - 1) / 2 bytes; 36001 when *capacity < 3. */
QRT_API int QRT_PKC_BIN_ToHex(char *out, int *capacity, const BIN *in);
/* The hash (provider numbering) of the whole DER certificate; of its TBSCertificate as received
 * (re-encoded for a tree built by hand). out: new memory. */
QRT_API int QRT_PKC_GetCertThumbPrint(BIN *out, const BIN *certDER, int hashID);
QRT_API int QRT_PKC_GetCertThumbPrintExcludeSig(BIN *out, const Certificate *cert, int hashID);
/* 1 when in is longer than 9 bytes and begins with "-----BEGIN", else 0. */
QRT_API int QRT_PKC_IsPEM(const BIN *in);
QRT_API int QRT_PKC_DecodePEM(BIN *der, const BIN *pem);

/* The subjectPublicKey octets; the DER SubjectPublicKeyInfo (as received). out: new memory. */
QRT_API int QRT_GetCertPubKey(BIN *out, const Certificate *cert);
QRT_API int QRT_GetSubPubKeyInfo(BIN *out, const Certificate *cert);
/* The key as the provider's functions take it: pkeyID (QRT_CSP_PKEY_...), the subjectPublicKey
 * octets and the algorithm's parameters (DER; empty when absent or NULL; for EC keys the named
 * curve). key and param: new memory; either may be NULL. */
QRT_API int QRT_PKC_GetPubKeyInfo(int *pkeyID, BIN *key, BIN *param, const TBSCertificate *tbs);

/* ---- Identifier maps (one table, read both ways) -------------------------------------------
 * Signature, public-key and hash identifiers of the provider; -1 or NULL when unknown. The
 * object forms return constants of the ASN.1 layer. */
QRT_API int QRT_PKC_ObjID_To_SignID(const ObjectID *oid);
QRT_API const ObjectID *QRT_PKC_SignID_To_ObjID(int signID);
QRT_API int QRT_PKC_SignID_To_PkeyID(int signID);
QRT_API int QRT_PKC_SignID_To_HashID(int signID);
QRT_API int QRT_PKC_ObjID_To_PkeyID(const ObjectID *oid);
QRT_API const ObjectID *QRT_PKC_PkeyID_To_ObjID(int pkeyID);
QRT_API int QRT_PKC_ObjID_To_HashID(const ObjectID *oid);
QRT_API const ObjectID *QRT_PKC_HashID_To_ObjID(int hashID);

/* ---- Options ----------------------------------------------------------------------------------
 * "locale": "ko_KR-euc" (default), "ko_KR-UTF-8", "ja_JP-EUC", "ja_JP-SJIS", "ja_JP-UTF-8" — the
 * code set name text is written in and read from. "dncase": "lower" (default) or "upper" — the
 * case of attribute short names. Process-wide; set them before threads use the library. -1 for
 * an unknown name or value (nothing changes). */
QRT_API int QRT_PKC_SetOption(const char *name, const char *value);
QRT_API const char *QRT_PKC_GetOption(const char *name);
QRT_API int QRT_SetLocalePKC(const char *value);

/* ---- Growable string ------------------------------------------------------------------------ */

typedef struct _ZQ_PKC_StrBuf ZQ_PKC_StrBuf;
QRT_API ZQ_PKC_StrBuf *QRT_PKC_StrBuf_New(void);
/* Empties the buffer and reserves initial bytes, growing by at least grow. */
QRT_API int QRT_PKC_StrBuf_Init(ZQ_PKC_StrBuf *buf, int initial, int grow);
/* Appends length bytes of s (length < 0: up to its NUL). */
QRT_API int QRT_PKC_StrBuf_AddString(ZQ_PKC_StrBuf *buf, const char *s, int length);
QRT_API const char *QRT_PKC_StrBuf_GetString(const ZQ_PKC_StrBuf *buf);
QRT_API int QRT_PKC_StrBuf_GetLength(const ZQ_PKC_StrBuf *buf);
QRT_API void QRT_PKC_StrBuf_Free(ZQ_PKC_StrBuf *buf);

/* ---- Distinguished names ---------------------------------------------------------------------
 * Text form: RDNs from the last (most specific) to the first, "NAME=value" joined by ",", the
 * members of a multi-valued RDN joined by "+". Names: C O OU CN S L T E DC ID DNQUALIFIER (lower
 * case unless "dncase" is "upper"); other attribute types are left out. In values the backslash
 * and , = + < > ; are escaped with a backslash, bytes below 0x20 as \xx (lowercase hex); a value
 * is cut to 201 bytes on a whole character. */
QRT_API int QRT_ExtractRDN(int ignored, const Name *name, char **out);
QRT_API int QRT_GetIssuerRDNFromCert(int ignored, const TBSCertificate *tbs, char **out);
QRT_API int QRT_GetRDNFromCert(int ignored, const TBSCertificate *tbs, char **out);
/* The subject (issuer 0) or the issuer (issuer 1) of a DER certificate. */
QRT_API int QRT_ExtractDN(int ignored, const BIN *certDER, int issuer, char **out);
QRT_API int QRT_PKC_AsnRDNs_ToString(ZQ_PKC_StrBuf *buf, const RDNSequence rdns);
QRT_API int QRT_PKC_AsnMultiValuedRDNs_ToString(ZQ_PKC_StrBuf *buf, const RelativeDistinguishedName rdn);
/* Appends "NAME=value," for one attribute value (the DER of a string). */
QRT_API int QRT_PKC_X520Name_ToString(ZQ_PKC_StrBuf *buf, const char *shortName, const Any *value);
QRT_API int QRT_PKC_X520CountryName_ToString(ZQ_PKC_StrBuf *buf, const char *shortName, const Any *value);

/* Parses the text form into out (a Name the caller zeroed; QRT_NameFree releases it). C and
 * DNQUALIFIER become PrintableString, E and DC IA5String, the others UTF8String. Input is
 * bounded (64 KiB, 1024 RDNs); on failure nothing stays allocated. */
QRT_API int QRT_ImplementRDN(Name *out, const char *text);
/* Splits one "TYPE=value" item (escapes undone in the value). type and value: new strings. */
QRT_API int QRT_GetAttrTypeAndValue(const char *item, int length, char **type, char **value);
/* Fills attr from a short name and a value in the local code set. */
QRT_API int QRT_PKC_AsnRDN_Encode(AttributeTypeAndValue *attr, const char *type, int typeLength, const char *value);
QRT_API void QRT_PKC_AsnRDNs_Free(RDNSequence rdns);
QRT_API void QRT_NameFree(Name *name);

/* One DER string value into the local code set: *length holds the capacity on entry, the result
 * length on return; -1 for an unsupported or malformed string. */
QRT_API int QRT_PKC_ASNString_Decode(char *out, int *length, const unsigned char *der, unsigned derLength);
/* UTF-8 to the local code set and back; the output length, or -1. */
QRT_API int QRT_PKC_UTF8_Decode(char *out, int capacity, const char *utf8, int length);
QRT_API int QRT_PKC_UTF8_Encode(char *out, int capacity, const char *local, int length);

/* ---- Checks -------------------------------------------------------------------------------- */

#define QRT_PKC_CHECK_SIGNATURE 0x0001
#define QRT_PKC_CHECK_REVOCATION 0x0010
#define QRT_PKC_CHECK_TIME 0x0100
#define QRT_PKC_CHECK_ISSUER_TIME 0x1000

/* Both bounds inclusive: 0 or 36051. Two-digit years 50-99 are 1950-1999. */
QRT_API int QRT_PKC_VerifyTime(const TBSCertificate *tbs, time_t when);
QRT_API int QRT_IsCertTimeValid(const TBSCertificate *tbs);
/* cert's signature over its TBSCertificate as received, under issuer's key: 0, 36050, 36012 for
 * an algorithm the provider's table does not know, or the provider's code. The Ex form gives
 * domain parameters for an issuer key that carries none. */
QRT_API int QRT_PKC_VerifySignature(const Certificate *cert, const TBSCertificate *issuer);
QRT_API int QRT_PKC_VerifySignatureEx(const Certificate *cert, const TBSCertificate *issuer,
                                      const BIN *inheritedParam);
QRT_API int QRT_CheckSignature(int ignored, const Certificate *cert, const TBSCertificate *issuer);
QRT_API int QRT_CertCheck(int ignored1, int ignored2, const CertificateList *crl, const Certificate *cert,
                          const Certificate *issuer, unsigned short flags);
/* 1 CA, 0 not a CA or no basic constraints, -1 undecodable. */
QRT_API int QRT_CheckCaOrNot(int ignored, const Certificate *cert);
QRT_API int QRT_CheckKeyUsage(int ignored, const Extension *ext, unsigned short mask);
QRT_API int QRT_CheckExtKeyUsage(int ignored, const Extension *ext, const ObjectID *purpose);
/* usage 1 keyEncipherment, 2 digitalSignature, 3 timeStamping, 4 OCSPSigning, 5 codeSigning,
 * 6 emailProtection, 7 serverAuth, 8 clientAuth: 0 or -1. */
QRT_API int QRT_CheckCertUsage(int ignored, const Certificate *cert, int usage);
QRT_API const Extension *QRT_GetExtension(const Extensions exts, const ObjectID *oid);

/* ---- Key identifiers -------------------------------------------------------------------------
 * The SHA-1 of the key bytes the caller passes. For RSA pass the RSAPublicKey DER (the
 * subjectPublicKey bits): the identifier is then RFC 5280's method 1. Outputs: new memory
 * (QRT_BIN_Reset). */
QRT_API int QRT_PKC_SubKeyId_Compute(BIN *id, const BIN *publicKey);
/* The SubjectKeyIdentifier extension value (DER) holding that SHA-1. */
QRT_API int QRT_PKC_SubKeyId_Encode(BIN *ext, const BIN *publicKey);
/* The key identifier octets of a SubjectKeyIdentifier value; 36035 when it does not decode. */
QRT_API int QRT_PKC_SubKeyId_Decode(BIN *id, const BIN *ext);
/* The AuthorityKeyIdentifier extension value with only keyIdentifier: the SHA-1 of the issuer's
 * key bytes. */
QRT_API int QRT_PKC_AuthKeyId_Encode(BIN *ext, const BIN *issuerPublicKey);
/* The keyIdentifier of an AuthorityKeyIdentifier value, empty when it names the issuer by name
 * and serial only; 36034 when it does not decode. */
QRT_API int QRT_PKC_AuthKeyId_Decode(BIN *id, const BIN *ext);
/* Older names: GenSubjectKeyID is SubKeyId_Encode, GetSubjectKeyIDBin SubKeyId_Compute;
 * GetSubjectKeyID writes the identifier in lowercase hex into out (41 bytes with the NUL),
 * GetSubjectKeyIDv its 20 octets into id. */
QRT_API int QRT_GenSubjectKeyID(BIN *ext, const BIN *publicKey);
QRT_API int QRT_GetSubjectKeyIDBin(BIN *id, const BIN *publicKey);
QRT_API int QRT_GetSubjectKeyID(char *out, const BIN *publicKey);
QRT_API int QRT_GetSubjectKeyIDv(unsigned char *id, const unsigned char *key, unsigned int length);

/* ---- Certificate generation ------------------------------------------------------------------
 * Extension slots of ZQ_PKC_CERT_PARAM.ext: DER extension values, written in slot order with the
 * slot's criticality; an empty slot is left out. keyUsage is required (36061). */
#define QRT_PKC_EXT_AUTH_KEY_ID 0        /* authorityKeyIdentifier */
#define QRT_PKC_EXT_SUBJECT_KEY_ID 1     /* subjectKeyIdentifier */
#define QRT_PKC_EXT_KEY_USAGE 2          /* keyUsage, critical */
#define QRT_PKC_EXT_POLICIES 3           /* certificatePolicies */
#define QRT_PKC_EXT_SUBJECT_ALT_NAME 4   /* subjectAltName */
#define QRT_PKC_EXT_ISSUER_ALT_NAME 5    /* issuerAltName */
#define QRT_PKC_EXT_BASIC_CONSTRAINTS 6  /* basicConstraints, critical */
#define QRT_PKC_EXT_NAME_CONSTRAINTS 7   /* nameConstraints */
#define QRT_PKC_EXT_EXT_KEY_USAGE 8      /* extKeyUsage, critical */
#define QRT_PKC_EXT_POLICY_CONSTRAINTS 9 /* policyConstraints, critical */
#define QRT_PKC_EXT_CRL_DP 10            /* cRLDistributionPoints */
#define QRT_PKC_EXT_AIA 11               /* authorityInfoAccess */
#define QRT_PKC_EXT_SLOTS 12

typedef struct _ZQ_PKC_CERT_PARAM {
    BIN serialNumber; /* big-endian magnitude */
    int signID;       /* the issuer's signature ID (RSA 1-6) */
    Name issuer;      /* value trees of the ASN.1 layer */
    time_t notBefore, notAfter;
    Name subject;
    int pkeyID;                 /* subject key: 1 RSA, 3 DSA, 5 ECDSA, 11 KCDSA, 12 EC-KCDSA, 13 RSASSA-PSS */
    BIN publicKey;              /* subjectPublicKey bytes */
    BIN pkeyParam;              /* DER domain parameters; empty for RSA */
    BIN ext[QRT_PKC_EXT_SLOTS]; /* DER extension values by slot; empty = absent */
} ZQ_PKC_CERT_PARAM;

/* Assembles the TBSCertificate (v3), signs it with issuerPrivateKey (the provider's whole-message
 * key form: PKCS#1 RSAPrivateKey for RSA) and encodes the Certificate into cert (new memory).
 * pkeyID is the issuer's key: 1 (RSA) writes NULL signature parameters, others none; 11 (KCDSA)
 * is refused with 36011. The serial is written as a positive INTEGER (a 00 octet before a first
 * octet with its top bit set, redundant leading zeros dropped); notBefore and notAfter as
 * UTCTime for the years 1950 to 2049, GeneralizedTime otherwise, in UTC whatever the local zone.
 * 36012 a signID without an identifier (or 11, whose parameters the record cannot carry), 36011
 * an unknown subject pkeyID, 36061 no keyUsage, 36033 an extension value that is not one DER
 * element; the provider's code when signing fails. */
QRT_API int QRT_PKC_Cert_Encode(BIN *cert, const ZQ_PKC_CERT_PARAM *params, int pkeyID, int ignored,
                                const BIN *issuerPrivateKey);

/* The inputs of QRT_PKC_GenCertificate, as text where a person writes them. NULL (or an empty
 * string) leaves an optional extension out. */
typedef struct _ZQ_PKC_GENCERT_INPUT {
    const char *serial;         /* the serial number in hex ("8001"), at most 64 digits */
    int signID;                 /* the issuer's signature ID (RSA 1-6) */
    const BIN *issuerCert;      /* the issuer's certificate (DER): the issuer name is its subject,
                                 * the authority key identifier its subject key identifier (or the
                                 * SHA-1 of its key bits) */
    const char *issuerDN;       /* without issuerCert: the issuer name as text */
    const BIN *issuerPublicKey; /* without issuerCert: the issuer's key bytes for the authority key
                                 * identifier (NULL: none written) */
    const char *subjectDN;      /* the subject name as text */
    time_t notBefore, notAfter;
    int pkeyID;                        /* the subject key, as in ZQ_PKC_CERT_PARAM */
    const BIN *publicKey;              /* its bytes (RSAPublicKey DER for RSA); the subject key identifier
                                        * is their SHA-1 */
    const BIN *pkeyParam;              /* its domain parameters (DER), NULL for RSA */
    const char *keyUsage;              /* required: key-usage words joined by ",", as QRT_PKC_KeyUsage_ToString
                                        * writes them ("digitalSignature,nonRepudiation"); 36036 an unknown word */
    const char *basicConstraints;      /* as QRT_PKC_BasicConsts_ToString writes it: "Subject Type=CA",
                                        * "Subject Type=CA, Path Length Constraint=0", "Subject Type=End Entity" */
    const char *extKeyUsage;           /* purposes joined by ",": the words of QRT_PKC_ExtKeyUsage_ToString,
                                        * "id-kp-OCSPSigning", or dotted identifiers */
    const char *policies;              /* policy identifiers (dotted) joined by "," */
    const char *cpsURI;                /* CPS pointer of the first policy */
    const char *userNotice;            /* user notice (explicit text, local code set) of the first policy */
    const char *crlDistributionPoints; /* URIs separated by white space, one distribution point each */
    const char *ocspURI;               /* authority information access */
    const char *caIssuersURI;
    const char *realName;       /* identity data in the subjectAltName (local code set); NULL: none */
    const char *identityNumber; /* with realName: the VID's inputs (QRT_PKC_ComputeVID) */
    const BIN *random;
    int vidHashID;
} ZQ_PKC_GENCERT_INPUT;

/* Builds the extension values from in (slots 0-4, 6, 8, 10, 11) and issues the certificate with
 * QRT_PKC_Cert_Encode under issuerPrivateKey. 36001 missing or malformed inputs; 36032 a name
 * that does not parse; 36033 bad constraints, purposes or URIs; 36037 bad policies. */
QRT_API int QRT_PKC_GenCertificate(BIN *cert, const ZQ_PKC_GENCERT_INPUT *in, const BIN *issuerPrivateKey);

/* CertificatePolicies value (DER): one PolicyInformation per dotted identifier of policyOIDs
 * (joined by ","), the CPS URI (IA5String) and user notice (explicitText as UTF8String, from the
 * local code set) qualifying the first; either may be NULL. 36037 for bad input. */
QRT_API int QRT_PKC_CertPolicies_Encode(BIN *ext, const char *policyOIDs, const char *cpsURI, const char *userNotice);
/* *spki: a new tree (QRT_ASN_FreePDU with SubjectPublicKeyInfo_PDU) for a key of pkeyID with its
 * parameters (NULL for RSA, which gets NULL parameters). 36011 an unknown pkeyID. */
QRT_API int QRT_PKC_AsnSubPubKeyInfo_Encode(SubjectPublicKeyInfo **spki, int pkeyID, const BIN *publicKey,
                                            const BIN *param);
/* pkeyID, key octets and parameters of a tree, as QRT_PKC_GetPubKeyInfo gives them. */
QRT_API int QRT_PKC_AsnSubPubKeyInfo_Decode(int *pkeyID, BIN *publicKey, BIN *param, const SubjectPublicKeyInfo *spki);
/* Fills ext with copies of oid and value (QRT_malloc: the layer's own allocator, so
 * QRT_ASN_FreePDU and QRT_PKC_AsnExts_Free release it), critical when critical is non-zero. */
QRT_API int QRT_PKC_AsnExt_Encode(Extension *ext, const ObjectID *oid, int critical, const BIN *value);
/* Appends such an extension to the list at *list. */
QRT_API int QRT_PKC_AsnExts_Add(Extensions *list, const ObjectID *oid, int critical, const BIN *value);
/* Releases every node of a list and its contents. */
QRT_API void QRT_PKC_AsnExts_Free(Extensions list);

/* ---- Identity verification value (VID) -------------------------------------------------------
 * VID = Hash(Hash(DER of HashContent { identityNumber PrintableString, randomNum BIT STRING }))
 * with hash 3 (SHA-1), 6 (SHA-256), 7 (SHA-384) or 8 (SHA-512). It travels with the holder's real
 * name as IdentifyData in an otherName (id_kisa_identifyData) of the subjectAltName. */

/* vid: new memory. 36001 a missing input, an identity number that is no PrintableString or a
 * random value under 20 bytes; 36013 another hash. */
QRT_API int QRT_PKC_ComputeVID(BIN *vid, int hashID, const char *identityNumber, const BIN *random);
/* 0 when vid is the value of those inputs, 36052 when it is not (compared in constant time). */
QRT_API int QRT_PKC_VerifyVID(const BIN *vid, int hashID, const char *identityNumber, const BIN *random);
/* From the subjectAltName of exts: the real name in the local code set (cut on a whole
 * character), the VID in lowercase hex (at most (vidHexCapacity - 1) / 2 bytes of it) and the hash
 * name ("SHA1", "SHA256", ...), each NUL-terminated within its capacity. 36061 no
 * subjectAltName, 36062 no identity data or no VID in it, 36033 a value that does not decode,
 * 36013 an unknown hash. */
QRT_API int QRT_GetVID(char *realName, int realNameCapacity, char *vidHex, int vidHexCapacity, char *hashName,
                       int hashNameCapacity, const Extensions exts);
/* The same from a certificate: realName a new string (QRT_free), vid new memory; any output may
 * be NULL. A real name that does not convert to the local code set is given in UTF-8. */
QRT_API int QRT_PKC_GetVIDInfo(char **realName, int *hashID, BIN *vid, const Certificate *cert);
QRT_API int QRT_PKC_GetVIDHashAlg(int *hashID, const Certificate *cert);
/* The subjectAltName value (DER) carrying the identity data: realName (realNameLength bytes, -1 up
 * to its NUL) in the local code set, converted to UTF-8; the VID with the hash's identifier
 * (NULL parameters). 36013 a hash without an identifier; 36001 a name that does not convert. */
QRT_API int QRT_PKC_SubAltName_Encode(BIN *extension, const char *realName, int realNameLength, int hashID,
                                      const BIN *vid);
/* Reads the identity data back from a subjectAltName value, or from the DER IdentifyData itself;
 * outputs as for QRT_PKC_GetVIDInfo. */
QRT_API int QRT_PKC_SubAltName_Decode(char **realName, int *hashID, BIN *vid, const BIN *extension);
QRT_API int QRT_PKC_IdentityData_Decode(char **realName, int *hashID, BIN *vid, const BIN *identifyData);

/* ---- Frame ---------------------------------------------------------------------------------- */

QRT_API const char *QRT_PKC_GetVersion(void);
QRT_API const char *QRT_GetVersionPKC(void);
QRT_API int QRT_PKC_CheckVersion(const char *required);
QRT_API const char *QRT_PKC_GetErrorReason(int code, int locale);
QRT_API const char *QRT_GetErrReasonPKC(int code, int locale);

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_SUITE_PKC_H */
