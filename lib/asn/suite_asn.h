/*
 * libOstrelASN: the ASN.1 layer. One compiled schema (suite_asn_schema.h holds its value trees,
 * catalogue numbers and object-identifier constants) and one BER/DER engine.
 *
 * A type is named by its catalogue number (Certificate_PDU is 177 ...). Decoding accepts BER
 * (definite and indefinite lengths, constructed strings) unless the strict flag demands DER;
 * encoding always gives DER.
 *
 * Ownership: a tree from QRT_ASN_DecodePDU or QRT_ASN_CopyPDU belongs to the caller and is
 * released with QRT_ASN_FreePDU and the same number; an encoding in a BIN is released with
 * QRT_BIN_Reset; strings and identifier contents with QRT_free or QRT_ASN_ResetOID. Everything
 * comes from the I/O core's allocator, so any library may release it.
 *
 * Results: 0 on success, otherwise an ASN code (1001-1030); QRT_ASN_GetErrorReason gives its
 * text and a failing PDU operation leaves the engine's records and its own in the trace. *
 * Received bytes of signed parts: a signature is checked over the bytes that arrived, never over
 * a re-encoding (which differs whenever the sender used BER). Decoding keeps, beside the decoded
 * value, the complete encoding (identifier, length, contents) of these fields, as it stood in
 * the input, in a member named <field>_encoded (an Any):
 *   Certificate.tbsCertificate, TBSCertificate.issuer/.subject/.subjectPublicKeyInfo,
 *   CertificateList.tbsCertList, TBSCertList.issuer, AttributeCertificate.acinfo,
 *   BasicOCSPResponse.tbsResponseData, OCSPRequest.tbsRequest, CertificationRequest.
 *   certificationRequestInfo, CertificationRequestInfo.subjectPKInfo, SignerInfo.signedAttrs and
 *   SignerInfo_P7.authenticatedAttributes (these two start with their [0] tag: a signer hashes
 *   them with the first octet read as 0x31, the SET OF tag).
 * For example cert->tbsCertificate_encoded.value/.length are the bytes the issuer signed. The
 * kept bytes belong to the tree (released by QRT_ASN_FreePDU, duplicated by QRT_ASN_CopyPDU);
 * they are empty in a tree built by hand or in an absent OPTIONAL field, ignored by encoding and
 * comparison, and not updated when a caller changes the tree: encoding always re-encodes.
 */
#ifndef OSTREL_SUITE_ASN_H
#define OSTREL_SUITE_ASN_H

#include <stddef.h>
#include <time.h>

#include "suite_io.h"
#include "suite_asn_schema.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Codes ---------------------------------------------------------------------------- */

#include "suite_asn_codes.h"

/* The engine's own failure codes (second field of its trace records). */
#define QRT_ASN_E_BAD_ARG 1
#define QRT_ASN_E_BAD_PDU 2         /* no such catalogue number */
#define QRT_ASN_E_PDU_MISMATCH 3    /* the input is not of the PDU's type */
#define QRT_ASN_E_MORE_INPUT 4      /* the input ends inside a value */
#define QRT_ASN_E_DATA_ERROR 5      /* malformed or non-conforming encoding */
#define QRT_ASN_E_NEGATIVE_UINTEGER 6
#define QRT_ASN_E_LIMITED 7         /* depth, element count or size beyond the engine's limits */
#define QRT_ASN_E_OUT_MEMORY 8
#define QRT_ASN_E_BAD_CHOICE 9      /* choice number out of range */
#define QRT_ASN_E_BAD_OBJID 10
#define QRT_ASN_E_BAD_PTR 11        /* missing buffer or node in a value */
#define QRT_ASN_E_BAD_TIME 12
#define QRT_ASN_E_TOO_LONG 13       /* value too large or too deep to encode */
#define QRT_ASN_E_BAD_ENCODING 14   /* an Any that does not hold exactly one encoding */
#define QRT_ASN_E_FATAL_ERROR 15
#define QRT_ASN_E_BAD_FLAGS 16
#define QRT_ASN_E_NOT_INITIALIZED 17
#define QRT_ASN_E_BAD_DOTVAL 18     /* dotted text that is no object identifier */

/* Engine flags (QRT_ASN_SetFlags ORs them into the master context). */
#define QRT_ASN_FLAG_STRICT_DER 0x0001u /* decoding accepts DER only */
#define QRT_ASN_FLAGS_ALL 0x0001u

/* ---- Engine context ------------------------------------------------------------------- */

/* One engine context: its flags, its allocator, a scratch buffer for encoding and the text of
 * its last failure. Contexts are not shared between threads. */
typedef struct ZQ_ASN_CTX {
    unsigned int magic;
    unsigned int flags;
    unsigned int encodingRules; /* always DER */
    int errorCode;
    void *(*allocFn)(size_t);
    void *(*reallocFn)(void *, size_t);
    void (*freeFn)(void *);
    unsigned char *scratch;
    size_t scratchSize;
    char errorText[160];
} ZQ_ASN_CTX;

QRT_API int QRT_ASN_Initialize(void);
/* The calling thread's context, created on first use and released when the thread ends. */
QRT_API ZQ_ASN_CTX *QRT_ASN_AcquireCTX(void);
QRT_API int QRT_ASN_ReleaseCTX(void);
QRT_API int QRT_ASN_Finalize(void);
QRT_API int QRT_ASN_FinalizeEx(void);
QRT_API int QRT_ASN_SetFlags(unsigned int flags);

/* ---- PDU operations ------------------------------------------------------------------- */

/* out becomes {0, NULL} first; on success it holds the DER encoding (QRT_BIN_Reset). */
QRT_API int QRT_ASN_EncodePDU(BIN *out, const void *value, int pdu);
/* *value becomes NULL first; on success it is a new tree (QRT_ASN_FreePDU). */
QRT_API int QRT_ASN_DecodePDU(void **value, const BIN *in, int pdu);
QRT_API int QRT_ASN_FreePDU(void *value, int pdu);
QRT_API int QRT_ASN_CopyPDU(void **dst, const void *src, int pdu);
/* 0 when equal, 1 when different or when no context can be had. */
QRT_API int QRT_ASN_CmpPDU(const void *a, const void *b, int pdu);

/* Older operations on a caller-supplied context; they leave no trace records. */
QRT_API int QRT_OssInit(ZQ_ASN_CTX *world);
QRT_API int QRT_OssFinal(ZQ_ASN_CTX *world);
QRT_API int QRT_OssDupCtx(ZQ_ASN_CTX *master, ZQ_ASN_CTX *copy);
QRT_API void QRT_OssFreeBuf(ZQ_ASN_CTX *world, void *buf);
QRT_API int QRT_GetEncodedPDU(ZQ_ASN_CTX *world, int pdu, const void *value, BIN *out);
QRT_API int QRT_GetDecodedPDU(ZQ_ASN_CTX *world, int pdu, const BIN *in, void **value);
QRT_API int QRT_CopyPDU(ZQ_ASN_CTX *world, int pdu, const void *src, void **dst);
QRT_API int QRT_ComparePDU(ZQ_ASN_CTX *world, int pdu, const void *a, const void *b);
QRT_API int QRT_FreePDU(ZQ_ASN_CTX *world, int pdu, void *value);

/* ---- Object identifiers --------------------------------------------------------------- */

/* The constant at index 0-374 of the identifier table; NULL for a gap or beyond. */
QRT_API const ObjectID *QRT_ASN_GetOID(int index);
QRT_API const ObjectID *QRT_GetObjectID(int index);
/* *out: new zero-terminated dotted text (QRT_free). */
QRT_API int QRT_ASN_OID2DotVal(char **out, const ObjectID *oid);
/* oid->value is new memory (QRT_ASN_ResetOID). */
QRT_API int QRT_ASN_DotVal2OID(ObjectID *oid, const char *text);
/* 0 when both have the same length and bytes, 1 otherwise. */
QRT_API int QRT_ASN_CmpOID(const ObjectID *a, const ObjectID *b);
QRT_API int QRT_CompareOID(const ObjectID *a, const ObjectID *b);
QRT_API int QRT_ASN_CopyOID(ObjectID *dst, const ObjectID *src);
QRT_API int QRT_DupOID(ObjectID *dst, const ObjectID *src);
QRT_API void QRT_ASN_ResetOID(ObjectID *oid);
QRT_API void QRT_OidFree(ObjectID *oid);
QRT_API int QRT_EncodedOIDToDotVal(ZQ_ASN_CTX *world, const ObjectID *oid, char **out);
QRT_API int QRT_DotValToEncodedOID(ZQ_ASN_CTX *world, const char *text, ObjectID *oid);
/* PKCS#12 bag and certificate/CRL types: 0 keyBag ... 8 x509CRL; NULL otherwise. */
QRT_API const ObjectID *QRT_ASN_GetBagType(int i);
QRT_API const ObjectID *QRT_GetBagType(int i);

/* Algorithm numbers of the crypto service provider; -1 for NULL arguments or no match. */
QRT_API int QRT_GetSigAlg(ZQ_ASN_CTX *world, const ObjectID *oid);
QRT_API int QRT_GetEncAlg(ZQ_ASN_CTX *world, const ObjectID *oid);
QRT_API int QRT_GetDigestAlg(ZQ_ASN_CTX *world, const ObjectID *oid);

/* ---- Times (time_t seconds since 1970, UTC) ------------------------------------------- */

QRT_API void QRT_ASN_Time2General(GeneralizedTime *out, time_t t);
QRT_API void QRT_Time2General(time_t t, GeneralizedTime *out);
/* year 0-99 (2005 gives 5, 1999 gives 99). */
QRT_API void QRT_ASN_Time2UTC(UTCTime *out, time_t t);
QRT_API void QRT_Time2UTC(time_t t, UTCTime *out);
QRT_API time_t QRT_ASN_GetUTCGap(void);
QRT_API time_t QRT_ASN_General2Time(const GeneralizedTime *g);
QRT_API time_t QRT_General2Time(const GeneralizedTime *g);
/* Two-digit years below 71 are 2000 + year, others 1900 + year. */
QRT_API time_t QRT_ASN_UTC2Time(const UTCTime *u);
QRT_API time_t QRT_UTC2Time(const UTCTime *u);
/* *fromText, *toText: new 50-byte strings "%Y-%m-%d %H:%M:%S" in local time (QRT_free). */
QRT_API int QRT_UTC2String(const UTCTime *from, const UTCTime *to, char **fromText, char **toText);

/* ---- Library frame -------------------------------------------------------------------- */

QRT_API const char *QRT_ASN_GetVersion(void);
QRT_API int QRT_ASN_CheckVersion(const char *required);
/* lang 1: English, lang 0: Korean (EUC-KR); "" for unknown codes and languages. */
QRT_API const char *QRT_ASN_GetErrorReason(int code, int lang);
QRT_API const char *QRT_GetVersionASN(void);
QRT_API const char *QRT_GetErrReasonASN(int code, int lang);

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_SUITE_ASN_H */
