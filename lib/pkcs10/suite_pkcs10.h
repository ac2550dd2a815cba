/* libOstrelPKCS10: PKCS#10 certification requests (RFC 2986).
 *
 * A request carries a subject name, the subject's public key, optional attributes and the
 * subject's signature over all three (the CertificationRequestInfo). The subject travels as name
 * text (QRT_ImplementRDN / QRT_ExtractRDN of libOstrelPKC, under its "locale" and "dncase"
 * options). Requests are signed with a private key through the provider, through the record's
 * CB_ComputeSignature for keys held elsewhere (a token), or in two steps around any signer
 * (EncodeCertRequest_Init, then _Final). Decoding checks the request's own signature over the
 * info's bytes as they arrived, for every algorithm of the provider's signature table.
 *
 * Ownership: every pointer member of ZQ_PKCS10_CERT_REQUEST belongs to the record and is released
 * by QRT_PKCS10_ResetCertRequest (BINs with QRT_BIN_Free, the subject with QRT_free): set them
 * from QRT_BIN_New / QRT_malloc. Output BINs are emptied at the start of a call and belong to the
 * caller afterwards (QRT_BIN_Reset); on failure they stay empty.
 *
 * Results: 0 or a code of this library (37601-37700). A failing function leaves records in the
 * calling thread's error trace (the argument checks at entry excepted). */
#ifndef OSTREL_SUITE_PKCS10_H
#define OSTREL_SUITE_PKCS10_H

#include "suite_asn.h"
#include "suite_io.h"
#include "suite_pkcs10_codes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Identifiers --------------------------------------------------------------------------- */

/* Key algorithms (keyAlg) and what keyParam and publicKey hold. */
#define QRT_PKCS10_KEY_RSA 1    /* rsaEncryption (NULL parameters); publicKey: RSAPublicKey DER */
#define QRT_PKCS10_KEY_KCDSA 2  /* kcdsa; keyParam: the domain parameters; publicKey: DER INTEGER y */
#define QRT_PKCS10_KEY_DSA 3    /* id-dsa; keyParam: Dss-Parms; publicKey: DER INTEGER y */
#define QRT_PKCS10_KEY_EC 4     /* id-ecPublicKey (ECDSA, EC-KCDSA); keyParam: ECParameters; point */
#define QRT_PKCS10_KEY_RSAPSS 5 /* id-RSASSA-PSS; keyParam: RSASSA-PSS-params or empty */

/* Signature identifiers (signID): this library's own numbering. The digest is computed by the
 * library (RSA, DSA, ECDSA) or, for KCDSA and EC-KCDSA, by the signer from the message itself. */
#define QRT_PKCS10_SIGN_MD2_RSA 1
#define QRT_PKCS10_SIGN_MD5_RSA 2
#define QRT_PKCS10_SIGN_SHA1_RSA 3
#define QRT_PKCS10_SIGN_KCDSA_SHA1 4
#define QRT_PKCS10_SIGN_KCDSA_HAS160 5
#define QRT_PKCS10_SIGN_SHA256_RSA 6
#define QRT_PKCS10_SIGN_SHA384_RSA 7
#define QRT_PKCS10_SIGN_SHA512_RSA 8
#define QRT_PKCS10_SIGN_SHA224_RSA 9
#define QRT_PKCS10_SIGN_HAS160_RSA 10
#define QRT_PKCS10_SIGN_RSA_PSS 11 /* signParam: RSASSA-PSS-params (empty: SHA-1, MGF1-SHA-1, salt 20) */
#define QRT_PKCS10_SIGN_DSA_SHA1 12
#define QRT_PKCS10_SIGN_DSA_SHA224 13
#define QRT_PKCS10_SIGN_DSA_SHA256 14
#define QRT_PKCS10_SIGN_ECDSA_SHA1 15
#define QRT_PKCS10_SIGN_ECDSA_SHA224 16
#define QRT_PKCS10_SIGN_ECDSA_SHA256 17
#define QRT_PKCS10_SIGN_ECDSA_SHA384 18
#define QRT_PKCS10_SIGN_ECDSA_SHA512 19
#define QRT_PKCS10_SIGN_KCDSA_SHA224 20
#define QRT_PKCS10_SIGN_KCDSA_SHA256 21
#define QRT_PKCS10_SIGN_KCDSA_SHA384 22
#define QRT_PKCS10_SIGN_KCDSA_SHA512 23
#define QRT_PKCS10_SIGN_ECKCDSA_SHA1 24
#define QRT_PKCS10_SIGN_ECKCDSA_HAS160 25
#define QRT_PKCS10_SIGN_ECKCDSA_SHA224 26
#define QRT_PKCS10_SIGN_ECKCDSA_SHA256 27
#define QRT_PKCS10_SIGN_ECKCDSA_SHA384 28
#define QRT_PKCS10_SIGN_ECKCDSA_SHA512 29

/* ---- Records ------------------------------------------------------------------------------- */

/* A signer for keys the library does not hold: signs toBeSigned (the DER info; the signer hashes
 * it as signID demands) into signature, new memory from QRT_malloc that the library releases.
 * reserved is NULL. 0 on success. */
typedef int (*ZQ_PKCS10_ComputeSignatureCB)(BIN *signature, const BIN *toBeSigned, int signID, void *reserved);

typedef struct _ZQ_PKCS10_CERT_REQUEST {
    int keyAlg;      /* QRT_PKCS10_KEY_... */
    BIN *keyParam;   /* domain parameters (DER): required for KCDSA, DSA and EC keys */
    char *subject;   /* the subject name as text */
    BIN *publicKey;  /* the subjectPublicKey octets */
    BIN *attributes; /* the attributes as a DER SET OF Attribute; NULL or empty: none (written
                      * as the empty set, A0 00) */
    ZQ_PKCS10_ComputeSignatureCB CB_ComputeSignature; /* used when no private key is given */
    int signID;                                       /* QRT_PKCS10_SIGN_... */
    BIN *signParam; /* parameters of the signature algorithm identifier: written for the KCDSA
                     * signatures when non-empty, the RSASSA-PSS-params for 11; filled by
                     * decoding when the identifier carries parameters other than NULL */
} ZQ_PKCS10_CERT_REQUEST;

/* The key of QRT_PKCS10_ComputeSignature and QRT_PKCS10_VerifySignature. The key algorithm follows
 * from signID (RSA, DSA, ECDSA or EC-KCDSA, KCDSA). */
typedef struct _ZQ_PKCS10_KEY {
    const BIN *privateKey; /* computing: PKCS#1 RSAPrivateKey, else the DER INTEGER of the private value */
    const BIN *publicKey;  /* verifying: the subjectPublicKey octets; computing: the signer's key for
                            * KCDSA and EC-KCDSA */
    const BIN *keyParam;   /* domain parameters: DSA, ECDSA, KCDSA, EC-KCDSA */
    const BIN *signParam;  /* signID 11: RSASSA-PSS-params (empty: the defaults) */
} ZQ_PKCS10_KEY;

/* A new zeroed record (NULL when memory fails). */
QRT_API ZQ_PKCS10_CERT_REQUEST *QRT_PKCS10_CreateCertRequest(void);
/* Releases every pointer member and zeroes the record. NULL is ignored. */
QRT_API void QRT_PKCS10_ResetCertRequest(ZQ_PKCS10_CERT_REQUEST *req);
QRT_API void QRT_PKCS10_DestroyCertRequest(ZQ_PKCS10_CERT_REQUEST *req);

/* ---- Requests ------------------------------------------------------------------------------ */

/* The DER CertificationRequest of req signed with privateKey (the form of ZQ_PKCS10_KEY), or
 * without one by req->CB_ComputeSignature. subject and publicKey are required (37601); 37610 an
 * unknown keyAlg; 37692 a subject that does not parse; 37699 a KCDSA, DSA or EC key without
 * keyParam (nothing is signed then); 37611 a signID unknown or unfit for the key; 37697 no key and
 * no callback; 37698 the callback failed (its code is in the trace under "CB_ComputeSignature");
 * 37696 the provider failed. */
QRT_API int QRT_PKCS10_EncodeCertRequest(BIN *der, const ZQ_PKCS10_CERT_REQUEST *req, const BIN *privateKey);
/* The first of two steps: the DER CertificationRequestInfo, the bytes to be signed (same checks
 * as above, signID aside). */
QRT_API int QRT_PKCS10_EncodeCertRequest_Init(BIN *info, const ZQ_PKCS10_CERT_REQUEST *req);
/* The second: the request around info (its bytes unchanged), signed as signID with signature
 * (the signature BIT STRING's octets); signParam as in the record, may be NULL. */
QRT_API int QRT_PKCS10_EncodeCertRequest_Final(BIN *der, const BIN *info, int signID, const BIN *signParam,
                                               const BIN *signature);

/* Fills req (released first, as by QRT_PKCS10_ResetCertRequest) from a request and checks its
 * signature with its own key. 37630 it does not decode; 37612 a version other than 1 (0);
 * 37693 a subject that cannot be written as text; 37610 an unknown key algorithm; 37632 an empty
 * key; 37611 an unknown signature algorithm; 37650 the signature does not hold (the fields stay
 * filled); 37696 the provider could not check it. On any other failure req stays empty. */
QRT_API int QRT_PKCS10_DecodeCertRequest(ZQ_PKCS10_CERT_REQUEST *req, const BIN *der);

/* ---- Signatures ---------------------------------------------------------------------------- */

/* The signature octets of data as signID with key->privateKey. 37699 missing domain parameters,
 * 37700 a KCDSA or EC-KCDSA signer's public key missing, 37696 the provider failed. */
QRT_API int QRT_PKCS10_ComputeSignature(BIN *signature, const BIN *data, const ZQ_PKCS10_KEY *key, int signID);
/* 0 when signature holds over data under key->publicKey; 37650 when it does not. */
QRT_API int QRT_PKCS10_VerifySignature(const BIN *signature, const BIN *data, const ZQ_PKCS10_KEY *key, int signID);

/* The identifier of a signID (NULL when unknown) and back (-1); both KCDSA identifier forms read. */
QRT_API const ObjectID *QRT_PKCS10_SignID_To_ObjID(int signID);
QRT_API int QRT_PKCS10_ObjID_To_SignID(const ObjectID *oid);

/* ---- Library frame ------------------------------------------------------------------------- */

QRT_API const char *QRT_PKCS10_GetVersion(void);
/* 0 when this library is at least required (NULL skips that test) and the libraries it runs on
 * are recent enough; -1 otherwise. */
QRT_API int QRT_PKCS10_CheckVersion(const char *required);
/* locale 1 English, 0 Korean (EUC-KR); "UnDefined Error Reason" for any other code or locale. */
QRT_API const char *QRT_PKCS10_GetErrorReason(int code, int locale);

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_SUITE_PKCS10_H */
