/*
 * libOstrelPHP: the strong-password handshake.
 *
 * A client turns a weak password into a strong one with the help of a server that holds an RSA
 * private key: the client sends h(password)^2 blinded by r^e, the server raises it to d, the
 * client checks the answer with e and removes r. The server learns nothing of the password, the
 * client nothing of the key. The server proves its key with a PHP certificate signed by a CA
 * whose X.509 certificate the client trusts. The exchange runs over a connected stream socket
 * owned by the caller:
 *
 *   client                          server
 *   request (identity)        -->
 *                             <--   certificate (kind, bytes)
 *   weak value w              -->
 *                             <--   strong value s = w^d mod n
 *
 * Either side may send an alert instead of its next record; on a failure each side sends the
 * alert of QRT_PHP_ReasonToAlert (when it is not 0) before returning.
 *
 * Records: type (1 byte), major version 1, minor version 0, body length (2 bytes, big-endian),
 * the body. Bodies: request and weak/strong values carry a 2-byte length and the bytes; the
 * certificate message a kind byte (1 X.509, 2 PHP certificate) and the certificate; an alert
 * one byte. PHP certificate: 0x01, then the identity, the server's PKCS#1 RSA public key and
 * the CA's signature over all preceding bytes (SHA-1, PKCS#1 v1.5), each with a 2-byte length.
 *
 * Ownership: byte strings travel as ZQ_PHP_DATA. Outputs are set empty at the start of every
 * call that fills them (their previous contents are not released) and belong to the caller
 * afterwards: release them with QRT_PHP_DATA_Reset, which wipes the bytes first. The key-lookup
 * callback of QRT_PHP_Accept fills its outputs from QRT_malloc; Accept wipes and releases them.
 *
 * Results: 0 on success, otherwise a code of this library (40001-40066) or -1 where stated;
 * QRT_PHP_GetErrorReason turns a code into text, and a failing function leaves records in the
 * calling thread's error trace (NULL arguments give 40001 without one).
 */
#ifndef OSTREL_SUITE_PHP_H
#define OSTREL_SUITE_PHP_H

#include "suite_io.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Codes ---------------------------------------------------------------------------- */

#include "suite_php_codes.h"

/* ---- Protocol numbers ----------------------------------------------------------------- */

#define QRT_PHP_RECORD_REQUEST 1
#define QRT_PHP_RECORD_CERTIFICATE 2
#define QRT_PHP_RECORD_WEAK 3
#define QRT_PHP_RECORD_STRONG 4
#define QRT_PHP_RECORD_ALERT 5

#define QRT_PHP_VERSION_MAJOR 1
#define QRT_PHP_VERSION_MINOR 0
#define QRT_PHP_RECORD_HEADER_LENGTH 5

#define QRT_PHP_CERT_X509 1
#define QRT_PHP_CERT_PHP 2

#define QRT_PHP_ALERT_UNEXPECTED_MESSAGE 10
#define QRT_PHP_ALERT_ILLEGAL_PARAMETER 11
#define QRT_PHP_ALERT_UNKNOWN_USERID 12
#define QRT_PHP_ALERT_BLOCKED_USERID 13
#define QRT_PHP_ALERT_NO_CERTIFICATE 30
#define QRT_PHP_ALERT_BAD_CERTIFICATE 31
#define QRT_PHP_ALERT_INTERNAL_ERROR 40

/* ---- Records -------------------------------------------------------------------------- */

/* A byte string: len bytes at data; {0, NULL} is empty. */
typedef struct ZQ_PHP_DATA {
    unsigned int len;
    unsigned char *data;
} ZQ_PHP_DATA;

/* Wipes and releases the bytes and leaves {0, NULL}; NULL is allowed. */
QRT_API void QRT_PHP_DATA_Reset(ZQ_PHP_DATA *d);
/* d := a copy of len bytes at data (d's previous contents are not released); 0 or 40003. */
QRT_API int QRT_PHP_DATA_Set(ZQ_PHP_DATA *d, const unsigned char *data, unsigned int len);

/* The exchange's context: the socket it runs on. */
typedef struct ZQ_PHP_CTX {
    int sock;
} ZQ_PHP_CTX;

/* A zeroed context; NULL when memory fails. */
QRT_API ZQ_PHP_CTX *QRT_PHP_CreateCTX(void);
QRT_API void QRT_PHP_ResetCTX(ZQ_PHP_CTX *ctx);
/* Zeroes and frees; NULL is allowed. The socket is the caller's and stays open. */
QRT_API void QRT_PHP_DestroyCTX(ZQ_PHP_CTX *ctx);

/* A record as read from the socket. */
typedef struct ZQ_PHP_RECORD {
    int type;
    int major;
    int minor;
    ZQ_PHP_DATA body;
} ZQ_PHP_RECORD;

/* Releases the body (wiped) and zeroes the record. */
QRT_API void QRT_PHP_PHPRecord_Reset(ZQ_PHP_RECORD *rec);

/* A decoded PHP certificate. tbs holds the signed bytes (everything before the signature). */
typedef struct ZQ_PHP_CERT {
    ZQ_PHP_DATA identity;
    ZQ_PHP_DATA publicKey; /* PKCS#1 RSAPublicKey DER */
    ZQ_PHP_DATA signature;
    ZQ_PHP_DATA tbs;
} ZQ_PHP_CERT;

/* Releases every member and zeroes the record. */
QRT_API void QRT_PHP_PHPCert_Reset(ZQ_PHP_CERT *cert);

/* ---- The exchange --------------------------------------------------------------------- */

/* Key look-up of the server. Receives the identity the client asked for; returns 0 with the
 * server's PKCS#1 RSAPrivateKey DER in *privateKey, the certificate kind in *certKind and the
 * certificate bytes in *cert (both buffers from QRT_malloc), or an error code: 40023 (unknown
 * user) and 40024 (blocked user) make the server send the matching alert. */
typedef int (*ZQ_PHP_KeyLookupCB)(const ZQ_PHP_DATA *identity, ZQ_PHP_DATA *privateKey, int *certKind,
                                  ZQ_PHP_DATA *cert);

/* Client side over the connected socket sock: asks the server serverID for the strong password
 * of weakPasswd; the server's PHP certificate must carry serverID and verify under the public key
 * of the X.509 certificate caCert (DER). 0 and *strongPasswd (big-endian, its own length), or a
 * code: 40050 caCert does not decode, 40021 unexpected record, 40022 certificate kind other than
 * the PHP certificate, 40026 malformed certificate, 40031 certificate for another identity or
 * not signed by the CA, 40030 strong value that does not match, 40060-40066 alert received,
 * 40010-40014 socket failures. */
QRT_API int QRT_PHP_Connect(ZQ_PHP_CTX *ctx, ZQ_PHP_DATA *strongPasswd, int sock, const ZQ_PHP_DATA *serverID,
                            const ZQ_PHP_DATA *weakPasswd, const ZQ_PHP_DATA *caCert);

/* Server side over the connected socket sock: reads the request, asks lookup for the key and
 * certificate of the requested identity, sends the certificate and answers the weak value.
 * 0 and *identity (the requested identity), or a code: the callback's code, 40035 when it gave
 * no certificate, 40021 unexpected record, 40060-40066 alert received, socket failures. */
QRT_API int QRT_PHP_Accept(ZQ_PHP_CTX *ctx, ZQ_PHP_DATA *identity, int sock, ZQ_PHP_KeyLookupCB lookup);

/* ---- Records and messages ------------------------------------------------------------- */

/* Reads one record from ctx->sock: the 5-byte header, then exactly the body length. 40020 when
 * the major version is not 1 and the minor version not 0. */
QRT_API int QRT_PHP_PHPRecord_Read(ZQ_PHP_CTX *ctx, ZQ_PHP_RECORD *rec);
/* Writes one record of version 1.0; body NULL or empty sends an empty body. 40001 for a body
 * longer than 65535 bytes. */
QRT_API int QRT_PHP_PHPRecord_Write(ZQ_PHP_CTX *ctx, int type, const ZQ_PHP_DATA *body);

/* Message bodies. Decoding gives 40025 for a body shorter than its length prefix or than its
 * fixed part. */
QRT_API int QRT_PHP_ReqMessage_Encode(ZQ_PHP_DATA *body, const ZQ_PHP_DATA *identity);
QRT_API int QRT_PHP_ReqMessage_Decode(ZQ_PHP_DATA *identity, const ZQ_PHP_DATA *body);
/* 40022 for a kind other than 1 or 2. */
QRT_API int QRT_PHP_CertMessage_Encode(ZQ_PHP_DATA *body, int kind, const ZQ_PHP_DATA *cert);
QRT_API int QRT_PHP_CertMessage_Decode(int *kind, ZQ_PHP_DATA *cert, const ZQ_PHP_DATA *body);
QRT_API int QRT_PHP_WeakMessage_Encode(ZQ_PHP_DATA *body, const ZQ_PHP_DATA *value);
QRT_API int QRT_PHP_WeakMessage_Decode(ZQ_PHP_DATA *value, const ZQ_PHP_DATA *body);
QRT_API int QRT_PHP_StrongMessage_Encode(ZQ_PHP_DATA *body, const ZQ_PHP_DATA *value);
QRT_API int QRT_PHP_StrongMessage_Decode(ZQ_PHP_DATA *value, const ZQ_PHP_DATA *body);
QRT_API int QRT_PHP_AlertMessage_Encode(ZQ_PHP_DATA *body, int alert);
QRT_API int QRT_PHP_AlertMessage_Decode(int *alert, const ZQ_PHP_DATA *body);

/* Sends an alert record. */
QRT_API int QRT_PHP_WriteAlert(ZQ_PHP_CTX *ctx, int alert);
/* The code for a received alert value (40060-40066; 40025 for an unknown value). */
QRT_API int QRT_PHP_AlertToReason(int alert);
/* The alert to send for a failure code; 0 when none is sent. */
QRT_API int QRT_PHP_ReasonToAlert(int code);

/* Transfers exactly len bytes: 40010 receive failure, 40012 peer closed, 40011 send failure,
 * 40013/40014 when the socket's receive/send time-out runs out. Interrupted calls are resumed;
 * writing to a closed peer gives 40011, never SIGPIPE. */
QRT_API int QRT_PHP_ReadSocket(ZQ_PHP_CTX *ctx, unsigned char *buf, int len);
QRT_API int QRT_PHP_WriteSocket(ZQ_PHP_CTX *ctx, const unsigned char *buf, int len);

/* ---- Certificates --------------------------------------------------------------------- */

/* The bytes a CA signs: 0x01, identity and publicKey with their lengths. */
QRT_API int QRT_PHP_EncodePHPCert_Init(ZQ_PHP_DATA *tbs, const ZQ_PHP_DATA *identity, const ZQ_PHP_DATA *publicKey);
/* tbs followed by the signature with its length. */
QRT_API int QRT_PHP_EncodePHPCert_Final(ZQ_PHP_DATA *cert, const ZQ_PHP_DATA *tbs, const ZQ_PHP_DATA *signature);
/* Init, a SHA-1 PKCS#1 v1.5 signature with caPrivateKey (PKCS#1 DER), Final. 40054 when signing
 * fails. */
QRT_API int QRT_PHP_EncodePHPCert(ZQ_PHP_DATA *cert, const ZQ_PHP_DATA *identity, const ZQ_PHP_DATA *publicKey,
                                  const ZQ_PHP_DATA *caPrivateKey);
/* 40026 for fewer than 10 bytes, a first byte other than 0x01 or lengths that overrun. */
QRT_API int QRT_PHP_DecodePHPCert(ZQ_PHP_CERT *cert, const ZQ_PHP_DATA *bytes);
/* 0 when cert carries exactly identity and its signature verifies under caPublicKey (PKCS#1
 * DER); 40031 otherwise. */
QRT_API int QRT_PHP_VerifyPHPCert(const ZQ_PHP_CERT *cert, const ZQ_PHP_DATA *identity, const ZQ_PHP_DATA *caPublicKey);
/* The subject public key (PKCS#1 RSAPublicKey) of a DER X.509 certificate; 40050. */
QRT_API int QRT_PHP_DecodeX509Cert(ZQ_PHP_DATA *publicKey, const ZQ_PHP_DATA *cert);
/* X.509 server certificates are not supported by the client: always -1. */
QRT_API int QRT_PHP_VerifyX509Cert(const ZQ_PHP_DATA *cert, const ZQ_PHP_DATA *identity, const ZQ_PHP_DATA *caCert);

/* ---- Computations --------------------------------------------------------------------- */

/* length bytes from ceil(length / 20) SHA-1 blocks: block i hashes the password, i+1 copies of
 * the character 'A'+i and, from block 1 on, the previous block. */
QRT_API int QRT_PHP_ComputeKDF(ZQ_PHP_DATA *out, int length, const ZQ_PHP_DATA *password);
/* w = h^2 * r^e mod n with h = KDF(password, bytes of n) and a fresh random r; *weak receives w
 * and *blind r (both big-endian). publicKey is PKCS#1 DER. */
QRT_API int QRT_PHP_ComputeWeakValue(ZQ_PHP_DATA *weak, ZQ_PHP_DATA *blind, const ZQ_PHP_DATA *password,
                                     const ZQ_PHP_DATA *publicKey);
/* s = w^d mod n with the PKCS#1 DER private key. */
QRT_API int QRT_PHP_ComputeStrongValue(ZQ_PHP_DATA *strong, const ZQ_PHP_DATA *weak, const ZQ_PHP_DATA *privateKey);
/* 0 when s^e mod n = w, 40030 otherwise. */
QRT_API int QRT_PHP_CheckStrongValue(const ZQ_PHP_DATA *strong, const ZQ_PHP_DATA *weak, const ZQ_PHP_DATA *publicKey);
/* s * r^-1 mod n, big-endian in its own length. */
QRT_API int QRT_PHP_ComputeStrongPasswd(ZQ_PHP_DATA *passwd, const ZQ_PHP_DATA *strong, const ZQ_PHP_DATA *blind,
                                        const ZQ_PHP_DATA *publicKey);

/* ---- Library frame -------------------------------------------------------------------- */

/* "1.5.0.3". */
QRT_API const char *QRT_PHP_GetVersion(void);
QRT_API const char *QRT_GetVersionPHP(void);
/* 0 when this library is at least required (NULL skips that test) and the libraries it runs on
 * are recent enough; -1 otherwise. */
QRT_API int QRT_PHP_CheckVersion(const char *required);
/* Locale 1 English, locale 0 Korean (EUC-KR); "UnDefined Error Reason" for anything else. */
QRT_API const char *QRT_PHP_GetErrorReason(int code, int locale);
QRT_API const char *QRT_GetErrReasonPHP(int code, int locale);

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_SUITE_PHP_H */
