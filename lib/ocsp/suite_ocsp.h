/* libOstrelOCSP: the OCSP client. Builds requests for a list of certificates (optionally
 * signed), sends them over a socket the caller has connected, as an HTTP/1.0 POST or in the I/O
 * core's record framing, and reads the responder's answer into plain records after checking its
 * signature.
 *
 * Requests: one Request per certificate, its CertID made from the certificate alone (SHA-1 of
 * the issuer Name as it stands in it, the keyIdentifier of its authorityKeyIdentifier, its
 * serial), a service locator when it has authorityInfoAccess, and a fresh 20-byte nonce (an
 * OCTET STRING inside extnValue) in every request.
 *
 * Responses: the signature is checked over tbsResponseData as received, through the provider's
 * one signature table (RSA v1.5 with SHA-1/SHA-2, RSASSA-PSS, DSA, ECDSA, KCDSA, EC-KCDSA). The
 * responder certificate is an embedded one the responder ID names, else serverCert when it names
 * the responder, else the first embedded one, else serverCert. When serverCert is given, an
 * embedded responder certificate must be serverCert itself or be signed by serverCert's key and
 * carry id-kp-OCSPSigning (35032).
 *
 * Ownership: records come from the _Create functions (zeroed) and are released with _Reset (the
 * record stays usable) or _Destroy/_Free. A request owns its certificate list and signCert. A
 * response owns its responderKeyID, its list and cert. Output BINs are set empty at the start of
 * a call (their previous contents are not released) and belong to the caller afterwards
 * (QRT_BIN_Reset); a response record's previous contents are released when it is filled.
 *
 * Results: 0, a code of this library (35001-35164), or a code of the ASN.1 layer, the provider
 * or the I/O core passed through. Every failure is recorded in the calling thread's error trace
 * under the failing function's name. Outputs are complete only on success; on failure they are
 * empty. */
#ifndef OSTREL_SUITE_OCSP_H
#define OSTREL_SUITE_OCSP_H

#include <time.h>

#include "suite_asn.h"
#include "suite_io.h"
#include "suite_ocsp_codes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Request signers (signID). 1 and 3 need no signer certificate for their algorithm (3 takes the
 * KCDSA domain parameters and public key from signCert); the others take the key algorithm
 * (RSA, DSA, ECDSA, KCDSA) from signCert's subjectPublicKeyInfo and sign with the named hash. */
#define QRT_OCSP_SIGN_RSA_SHA1 1
#define QRT_OCSP_SIGN_KCDSA_SHA1 3
#define QRT_OCSP_SIGN_CERTKEY_SHA256 106
#define QRT_OCSP_SIGN_CERTKEY_SHA384 107
#define QRT_OCSP_SIGN_CERTKEY_SHA512 108

/* certStatus */
#define QRT_OCSP_STATUS_GOOD 1
#define QRT_OCSP_STATUS_REVOKED 2
#define QRT_OCSP_STATUS_UNKNOWN 3

/* Largest HTTP response body read (bytes); a longer announced one is 35150 before any read. */
#define QRT_OCSP_HTTP_MAX_BODY (1024 * 1024)
/* Largest HTTP header line, its line end included. */
#define QRT_OCSP_HTTP_MAX_LINE 1024

typedef struct _ZQ_OCSP_Request {
    ZQ_BIN_LIST *reqCertList; /* DER certificates whose status is asked, in order */
    int signatureAttach;      /* non-zero: sign the request */
    int signID;               /* QRT_OCSP_SIGN_... */
    int signCertAttach;       /* non-zero: carry signCert in the signature */
    BIN *signCert;            /* the signer's DER certificate; gives requestorName */
} ZQ_OCSP_Request;

/* hashID: the provider's hash number of hashAlgorithm (QRT_CSP_HASH_SHA1 ...). serialNumber:
 * INTEGER content octets. */
typedef struct _ZQ_OCSP_CertID {
    int hashID;
    BIN issuerNameHash;
    BIN issuerKeyHash;
    BIN serialNumber;
} ZQ_OCSP_CertID;

typedef struct _ZQ_OCSP_SingleResponse {
    ZQ_OCSP_CertID certID;
    int certStatus; /* QRT_OCSP_STATUS_... */
    struct {
        time_t revocationTime;
        int revocationReason; /* CRLReason, -1 when absent */
    } revoked;                /* certStatus 2 only */
    time_t thisUpdate;
    time_t nextUpdate; /* 0 when absent */
} ZQ_OCSP_SingleResponse;

typedef struct _ZQ_OCSP_SingleRespList {
    ZQ_OCSP_SingleResponse value;
    struct _ZQ_OCSP_SingleRespList *next;
} ZQ_OCSP_SingleRespList;

typedef struct _ZQ_OCSP_Response {
    time_t producedAt;
    BIN responderKeyID;               /* SHA-1 of the responder certificate's subjectPublicKey bits */
    ZQ_OCSP_SingleRespList *respList; /* in response order */
    BIN *cert;                        /* the responder certificate when the response carried it */
} ZQ_OCSP_Response;

/* The caller's signer: signs the DER it is given (kind 1: a TBSRequest) and fills sigOut with
 * the signature octets (QRT_malloc memory); 0 on success. */
typedef int (*QRT_OCSP_ComputeSignatureCB)(BIN *sigOut, int kind, const BIN *tbs);

typedef struct _ZQ_OCSP_ClientParam {
    BIN *privKey; /* the request signer's key, the provider's form (PKCS#1 for RSA, else a DER INTEGER) */
    QRT_OCSP_ComputeSignatureCB CB_ComputeSignature; /* used when signing without privKey */
    BIN *serverCert;                                 /* the responder's (or its CA's) certificate */
    int useHTTP;                                     /* non-zero: HTTP POST, else record framing */
    char *proxyURL;                                  /* "http://host[:port][/path]" for HTTP */
    int checkSign;                                   /* 1 skips the response signature check */
} ZQ_OCSP_ClientParam;

/* ---- The exchange ---------------------------------------------------------------------- */

/* Builds the request (signed with param->privKey, or through CB_ComputeSignature in two
 * phases, when request->signatureAttach is set: 35001 with neither), sends it on socket (HTTP
 * to param->proxyURL when param->useHTTP, else one record of type 0), receives and checks the
 * response. requestOut and responseOut receive the DER request and response. A response nonce
 * that differs from the request's is 35031 (an absent one is accepted). */
QRT_API int QRT_OCSP_Client(ZQ_OCSP_Response *response, BIN *requestOut, BIN *responseOut,
                            const ZQ_OCSP_Request *request, const ZQ_OCSP_ClientParam *param, int socket);

/* ---- Records --------------------------------------------------------------------------- */

QRT_API ZQ_OCSP_Request *QRT_OCSP_CreateRequest(void);
QRT_API void QRT_OCSP_ResetRequest(ZQ_OCSP_Request *request);
QRT_API void QRT_OCSP_DestroyRequest(ZQ_OCSP_Request *request);
QRT_API ZQ_OCSP_Response *QRT_OCSP_CreateResponse(void);
QRT_API void QRT_OCSP_ResetResponse(ZQ_OCSP_Response *response);
QRT_API void QRT_OCSP_DestroyResponse(ZQ_OCSP_Response *response);
QRT_API void QRT_OCSP_CertID_Reset(ZQ_OCSP_CertID *certID);
QRT_API void QRT_OCSP_SingleResponse_Reset(ZQ_OCSP_SingleResponse *single);
/* Releases every node from list on. */
QRT_API void QRT_OCSP_SingleRespList_Free(ZQ_OCSP_SingleRespList *list);

/* ---- Requests -------------------------------------------------------------------------- */

/* The DER OCSPRequest; signed with privKey when request->signatureAttach is set (35001 without
 * privKey, 35011 for an unknown signID, 35032 for a signer certificate that cannot serve). A
 * certificate that does not decode: 35032; without authorityKeyIdentifier keyIdentifier: 35050. */
QRT_API int QRT_OCSP_EncodeRequest(BIN *out, const ZQ_OCSP_Request *request, const BIN *privKey);
/* The DER TBSRequest to be signed by an outside signer. */
QRT_API int QRT_OCSP_EncodeRequest_Init(BIN *tbsOut, const ZQ_OCSP_Request *request);
/* The DER OCSPRequest of tbs (from _Init, 35030 when it is no TBSRequest) and the signature
 * octets, under the identifier of request->signID, with signCert when signCertAttach is set. */
QRT_API int QRT_OCSP_EncodeRequest_Final(BIN *out, const BIN *tbs, const BIN *signature,
                                         const ZQ_OCSP_Request *request);
/* The signature octets over tbs by signID with privKey; signCert gives what the algorithm needs
 * beside the key (domain parameters, public key, the key algorithm for 106-108). */
QRT_API int QRT_OCSP_ComputeSignature(BIN *signature, const BIN *tbs, const BIN *privKey, int signID,
                                      const BIN *signCert);
/* 0 when signature holds over signedBytes under signerCert's key by the DER AlgorithmIdentifier
 * signatureAlgorithm; 35040 when it does not, 35011 for an algorithm outside the table, 35032
 * for a certificate or key that cannot be read. */
QRT_API int QRT_OCSP_VerifySignature(const BIN *signedBytes, const BIN *signatureAlgorithm, const BIN *signature,
                                     const BIN *signerCert);

/* The CertID of a DER certificate into the caller's tree (released with AsnCertID_Reset):
 * sha-1 with NULL parameters, SHA-1 of the issuer Name's DER as it stands in the certificate,
 * the authorityKeyIdentifier keyIdentifier (35050 without), the serial. */
QRT_API int QRT_OCSP_AsnCertID_Encode(CertID *asnCertID, const BIN *cert);
/* A CertID tree into a record (35010 for a hash outside the provider's numbering). */
QRT_API int QRT_OCSP_AsnCertID_Decode(ZQ_OCSP_CertID *certID, const CertID *asnCertID);
QRT_API void QRT_OCSP_AsnCertID_Reset(CertID *asnCertID);
/* The DER ServiceLocator of a certificate: its issuer Name and authorityInfoAccess (35051 when
 * it has none or an empty one). */
QRT_API int QRT_OCSP_ServiceLocator_Encode(BIN *out, const BIN *cert);
/* The first extension of exts with identifier oid, or NULL. */
QRT_API const Extension *QRT_OCSP_GetExtension(const Extensions exts, const ObjectID *oid);

/* ---- Responses ------------------------------------------------------------------------- */

/* QRT_OCSP_DecodeResponseEx with the signature checked. */
QRT_API int QRT_OCSP_DecodeResponse(ZQ_OCSP_Response *response, const BIN *der, const BIN *serverCert);
/* Reads a DER OCSPResponse. An error status is 35071-35079; no responder certificate at all is
 * 35052; an embedded responder that may not speak for serverCert 35032; a bad signature 35040;
 * a responderID that names neither the responder certificate's subject nor its key hash 35015.
 * checkSign 1 skips the signature checks (the response's and the responder's authority). */
QRT_API int QRT_OCSP_DecodeResponseEx(ZQ_OCSP_Response *response, const BIN *der, const BIN *serverCert, int checkSign);

/* ---- Transport ------------------------------------------------------------------------- */

/* Splits "http://host[:port][/path]": host as written (with its port), path without its
 * leading "/" (empty when there is none). New strings (QRT_free). 35162 without "http://". */
QRT_API int QRT_OCSP_ParseURL(char **host, char **path, const char *url);
/* The request header for a body of contentLength bytes, line by line (each ending CR LF):
 * "POST /<path> HTTP/1.0", "Host: <host>", "Accept: " and any type, "Content-Type:
 * application/ocsp-request", "Content-Length: <n>", and an empty line. */
QRT_API int QRT_OCSP_HTTP_EncodeReqHdr(BIN *out, const char *url, int contentLength);
/* One header line, its LF included, read a byte at a time; 35150 when it is longer than 1024
 * bytes or the socket fails or closes first. */
QRT_API int QRT_OCSP_HTTP_ReadLine(BIN *line, int socket);
/* Reads the response header up to its empty line (CR LF, or a bare LF). contentLength: the
 * announced length (0 when absent; values beyond the int range are clamped). 35163 for status
 * 504, 35164 for any other outside 200-299, 35161 without a status line; 35150 for a line too
 * long, a header of more than 256 lines, or a socket that fails or closes. */
QRT_API int QRT_OCSP_HTTP_ReadRespHdr(int *contentLength, int socket);
/* POSTs request to url on socket and reads the response body: 35151 when sending fails, 35160
 * for an absent, zero or negative length, 35150 for one above QRT_OCSP_HTTP_MAX_BODY (before
 * reading) or a body cut short. */
QRT_API int QRT_OCSP_SendRecvHTTP(BIN *responseOut, int socket, const BIN *request, const char *url);
/* Sends request as a record of type 0 (35151) and receives one record (35150). */
QRT_API int QRT_OCSP_SendRecvTCP(BIN *responseOut, int socket, const BIN *request);

/* ---- Library frame --------------------------------------------------------------------- */

/* "1.5.2.8" */
QRT_API const char *QRT_OCSP_GetVersion(void);
/* 0 when this library is at least required (NULL skips that test) and the libraries it links
 * are recent enough; -1 otherwise. */
QRT_API int QRT_OCSP_CheckVersion(const char *required);
/* lang 1 English, 0 Korean (EUC-KR); codes of the ASN.1 layer, the provider and the I/O core are
 * handed to them; "" for any other code or language. */
QRT_API const char *QRT_OCSP_GetErrorReason(int code, int lang);

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_SUITE_OCSP_H */
