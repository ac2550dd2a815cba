/* libOstrelTSP: the time-stamp client. It hashes a message, asks a time-stamp authority (TSA)
 * for a token over it (an RFC 3161 TimeStampReq with a nonce, sent in the record framing of the
 * I/O core over the caller's connected socket), checks the TimeStampResp status, verifies the
 * token (a CMS signed data holding a TSTInfo) and returns the TSTInfo as a plain record.
 *
 * Token checks: the SignedData is version 1 or 3 and carries an id-ct-TSTInfo content; the
 * TSTInfo is the encapsulated content exactly as received. The signer's signed attributes must
 * name id-ct-TSTInfo as contentType and carry the digest of the TSTInfo under the signature's
 * hash; the signature covers those attributes as received (their [0] tag read as SET). The
 * signature algorithm comes from the provider's one table: a key identifier such as
 * rsaEncryption takes its hash from the signer's digestAlgorithm. The signer certificate is the
 * caller's tsaCert when given, else the token's certificate whose SHA-1 the signingCertificate
 * attribute names (the first certificate when the attribute is absent); a token that can be
 * checked against no certificate is refused (38062). The signer's trust is the caller's to judge
 * from certOut.
 *
 * Results: 0, a code of this library (38001-38121), or a code of the ASN.1 layer, the provider
 * or the I/O core passed through. Every failure of a public function is recorded in the calling
 * thread's error trace under the function's name, after the record of the step that failed.
 * Outputs are complete only on success; on failure they are empty (BINs {0, NULL}, a TSTInfo
 * record zeroed). Output BINs belong to the caller (QRT_BIN_Reset); a TSTInfo record is released
 * with QRT_TSP_TSTInfo_Reset or QRT_TSP_TSTInfo_Free, and a record given to a function is reset
 * first, so it must be zeroed or come from QRT_TSP_TSTInfo_New. Input records and BINs are only
 * read. */
#ifndef OSTREL_SUITE_TSP_H
#define OSTREL_SUITE_TSP_H

#include <time.h>

#include "suite_csp.h"
#include "suite_io.h"
#include "suite_tsp_codes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Message-imprint hashes of requests and TSTInfo records. */
#define QRT_TSP_HASH_MD5 1
#define QRT_TSP_HASH_SHA1 2

/* A request to encode. hashedMessage: the digest of the message under hashID. nonce is sent
 * when nonceAttach is non-zero, certReq TRUE when certReq is non-zero. When extName and
 * extValue are both non-empty, one request extension carries them: identifier id-at-surname,
 * value the text "extName$extValue". */
typedef struct _ZQ_TSP_Request {
    int hashID;
    BIN hashedMessage;
    int nonceAttach;
    int nonce;
    int certReq;
    const char *extName;
    const char *extValue;
} ZQ_TSP_Request;

/* A checked TSTInfo. genTime in seconds since 1970 (UTC). Accuracy fields not encoded are 0.
 * nonce: the token's nonce when it fits in an int (a request of this library's always does),
 * else 0 with noncePresent still 1. */
typedef struct _ZQ_TSP_TSTInfo {
    int hashID;
    BIN hashedMessage;
    time_t genTime;
    int accuracyPresent;
    int seconds;
    int millis;
    int micros;
    int noncePresent;
    int nonce;
} ZQ_TSP_TSTInfo;

QRT_API ZQ_TSP_TSTInfo *QRT_TSP_TSTInfo_New(void);
QRT_API void QRT_TSP_TSTInfo_Reset(ZQ_TSP_TSTInfo *tstInfo);
QRT_API void QRT_TSP_TSTInfo_Free(ZQ_TSP_TSTInfo *tstInfo);

/* Time-stamps message over a connected socket: a request with the SHA-1 of message, a fresh
 * positive 31-bit nonce and certReq exactly when tsaCert is NULL; one record of type 0 out
 * (38121 when it cannot be sent), one record back (38120 when none arrives); then
 * QRT_TSP_DecodeResponse with the request. requestOut, responseOut: the DER request and
 * response; certOut: the DER certificate of the TSA that signed. NULL outputs or an empty
 * message: 38001. The caller connects and closes the socket. */
QRT_API int QRT_TSP_Client(ZQ_TSP_TSTInfo *tstInfo, BIN *requestOut, BIN *responseOut, BIN *certOut, const BIN *message,
                           const BIN *tsaCert, int socket);

/* The DER TimeStampReq of request: 38010 for a hashID other than 1 and 2, 38001 for an empty
 * hashedMessage. */
QRT_API int QRT_TSP_EncodeRequest(BIN *out, const ZQ_TSP_Request *request);

/* Reads a DER TimeStampResp (38031) and, when given, the DER request it answers (38030). Only
 * status granted is accepted: a refusal whose failInfo is exactly one of badAlg, badRequest,
 * badDataFormat, timeNotAvailable, unacceptedPolicy gives 38081-38085, any other refusal
 * (grantedWithMods included) 38080. Granted without a token: 38060. Then the token is checked
 * (QRT_TSP_AsnSigned_Decode) and its TSTInfo read against the request
 * (QRT_TSP_AsnTSTInfo_Decode). certOut: the signer's DER certificate. */
QRT_API int QRT_TSP_DecodeResponse(ZQ_TSP_TSTInfo *tstInfo, BIN *certOut, const BIN *response, const BIN *request,
                                   const BIN *tsaCert);
/* QRT_TSP_DecodeResponse that also gives tokenOut, the DER ContentInfo of the time-stamp token
 * (the evidence a caller keeps; its signed data exactly as received). */
QRT_API int QRT_TSP_DecodeResponseEx(ZQ_TSP_TSTInfo *tstInfo, BIN *certOut, BIN *tokenOut, const BIN *response,
                                     const BIN *request, const BIN *tsaCert);

/* Checks a time-stamp token (a ContentInfo of signed data) and gives content, the TSTInfo DER
 * exactly as it stands in the token, and certOut, the signer's certificate. 38032 when the
 * token is not signed data of version 1 or 3, its first certificate is not a plain certificate
 * or it has no signer; 38051 when the content is not id-ct-TSTInfo; 38061 without content;
 * 38034 for a tsaCert that does not decode or that the signingCertificate attribute does not
 * name, or a named certificate the token does not hold; 38062 when neither tsaCert nor the token
 * gives a certificate; then the checks of QRT_TSP_VerifySignature. */
QRT_API int QRT_TSP_AsnSigned_Decode(BIN *content, BIN *certOut, const BIN *token, const BIN *tsaCert);

/* Reads a DER SignerInfo (38032): signedAttrs, its signed attributes as received with the first
 * octet turned to SET (0x31), the bytes its signature covers (38050 when it has none);
 * signature, the signature octets; alg, its algorithm in the provider's table (38010 for an
 * unknown digestAlgorithm, 38011 for a signature algorithm the table does not know or whose hash
 * differs from digestAlgorithm's). */
QRT_API int QRT_TSP_AsnSignerInfo_Decode(BIN *signedAttrs, BIN *signature, ZQ_CSP_SigAlg *alg, const BIN *signerInfo);

/* Reads signed attributes (a SET or [0] element, as QRT_TSP_AsnSignerInfo_Decode gives them;
 * 38032 when they do not decode): contentType must be present once and be id-ct-TSTInfo
 * (38051); messageDigest must be present once with one OCTET STRING (38050), whose octets go to
 * messageDigest; certHash: the certHash of the first ESSCertID of the signingCertificate
 * attribute (the SHA-1 of the signer's certificate; empty without the attribute, 38050 when it
 * does not decode). */
QRT_API int QRT_TSP_AsnSignAttrs_Decode(BIN *messageDigest, BIN *certHash, const BIN *signedAttrs);

/* Checks a DER SignerInfo over content (the TSTInfo DER) with the DER certificate cert: the
 * attributes (QRT_TSP_AsnSignAttrs_Decode), messageDigest equal to the digest of content under
 * the signature's hash (38050), a signingCertificate that names cert (38034), and the signature
 * under cert's key through the provider (38050 when it does not hold, 38034 for an unreadable
 * certificate or key). */
QRT_API int QRT_TSP_VerifySignature(const BIN *signerInfo, const BIN *content, const BIN *cert);

/* Reads a TSTInfo DER (38033) into tstInfo. The imprint's hash must be md5 or sha-1 (38010).
 * With request (a DER TimeStampReq; 38030 when it does not decode), the imprint must equal the
 * request's (38052) and, when the request has a nonce, the TSTInfo's must be present and equal
 * as an INTEGER (38053). */
QRT_API int QRT_TSP_AsnTSTInfo_Decode(ZQ_TSP_TSTInfo *tstInfo, const BIN *content, const BIN *request);

/* "1.5.2.3". */
QRT_API const char *QRT_TSP_GetVersion(void);
/* 0 when this library is at least required (NULL: not checked) and the libraries it runs on
 * are recent enough; -1 otherwise. */
QRT_API int QRT_TSP_CheckVersion(const char *required);
/* lang 1: English, lang 0: Korean (EUC-KR). Codes of the ASN.1 layer (1000-1999), the provider
 * (6000-6199) and the I/O core (8000-8999) are handed to them; anything else gives "". */
QRT_API const char *QRT_TSP_GetErrorReason(int code, int lang);

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_SUITE_TSP_H */
