/*
 * libOstrelCAS: the RA service messages of libOstrelRAS as they travel between a registration
 * authority and a certificate authority.
 *
 * Three forms (nType): QRT_CAS_FORM_BINARY (0) has a 5-byte header (opcode byte, 4-byte
 * big-endian record count) and 4-byte big-endian record lengths around the fields of the older
 * text variant; QRT_CAS_FORM_TEXT (1) has a 20-byte decimal header (service code, time
 * YYYYMMDDhhmmss, record count) and four-digit record lengths; QRT_CAS_FORM_WEB (2) is the web
 * form of libOstrelRAS unchanged.
 *
 * In the text form a user-registration request (opcodes 142, 150, 159) carries an integrity
 * value after its fields: the SHA-1 digest of the record body, or the signature a caller's
 * callback makes over it, in hexadecimal and followed by "$". On receipt a 20-byte value is
 * checked as the digest (72009 when it differs); any other length is taken for a signature,
 * which the receiver verifies itself: its hex text is left in the structure's `signature` field.
 *
 * Ownership: as in libOstrelRAS. Decoded structures are released with QRT_CAS_FreeMsgStr (or
 * QRT_RAS_FreeMsgStr); output BINs belong to the caller (QRT_BIN_Reset), empty on failure.
 *
 * Results: 0, a code 72001-72012, a code of libOstrelRAS (71001-71118), or -71993 for a
 * binary header whose opcode is unknown.
 */
#ifndef OSTREL_SUITE_CAS_H
#define OSTREL_SUITE_CAS_H

#include "suite_io.h"
#include "suite_ras.h"

#ifdef __cplusplus
extern "C" {
#endif

#define QRT_CAS_FORM_BINARY 0
#define QRT_CAS_FORM_TEXT 1
#define QRT_CAS_FORM_WEB 2

#include "suite_cas_codes.h"

typedef struct _ZQ_CAS_MsgHeader {
    int serviceCode;
    int recordNum;
    char msgDateTime[15]; /* empty in the binary and web forms */
    int opCode;
} ZQ_CAS_MsgHeader;

/* Signs `in` with hash algorithm hashAlg (3, SHA-1); reserved is 0. The signature goes into
 * *signature, allocated with QRT_malloc (this library releases it). 0 on success. */
typedef int (*CB_ComputeSignature)(BIN *signature, const BIN *in, int hashAlg, int reserved);

/* ---- Whole messages ------------------------------------------------------------------- */

/* Header and records of `msg` for header->serviceCode; a user-registration request in the
 * text form gets the signature of `sign`, or the SHA-1 digest when sign is NULL. */
QRT_API int QRT_CAS_EncodeMsg(BIN *out, const void *msg, const ZQ_CAS_MsgHeader *header, int nType,
                              CB_ComputeSignature sign);
/* Parses a message into a new structure (a list for replies 51 and 61); nMsgType 1 expects a
 * request, otherwise a reply. Release with QRT_CAS_FreeMsgStr(*msg, header->serviceCode). */
QRT_API int QRT_CAS_DecodeMsg(void **msg, ZQ_CAS_MsgHeader *header, const BIN *in, int nMsgType, int nType);
QRT_API int QRT_CAS_FreeMsgStr(void *msg, int serviceCode);

/* ---- Records and headers -------------------------------------------------------------- */

/* One request record with its length (and integrity value where it applies). */
QRT_API int QRT_CAS_GenReqMsg(BIN *out, const void *msg, int opCode, int nType, CB_ComputeSignature sign);
/* One record per reply list element; *recordNum receives their number. */
QRT_API int QRT_CAS_GenRepMsg(BIN *out, const void *msg, int opCode, int nType, int *recordNum);
/* Parse one request record (checking its integrity value) or recordNum reply records. */
QRT_API int QRT_CAS_AnalReq(void **msg, const BIN *in, int opCode, int nType);
QRT_API int QRT_CAS_AnalRep(void **msg, const BIN *in, int opCode, int recordNum, int nType);

QRT_API int QRT_CAS_EncodeMsgHeader(BIN *out, const ZQ_CAS_MsgHeader *header, int nType);
/* *bodyOffset receives where the records begin: 5, 20 or 6. */
QRT_API int QRT_CAS_DecodeMsgHeader(ZQ_CAS_MsgHeader *header, const BIN *in, int nMsgType, int nType,
                                    int *bodyOffset);
/* Older 20-byte text header: the request code of opCode (72007 if none), the local time. */
QRT_API int QRT_CAS_GenMsgHeader(BIN *out, int opCode, int recordNum);
/* Parses a 20-byte text header: 72006 for an unknown code, 72010 for a bad date; returns 20. */
QRT_API int QRT_CAS_AnalHeader(ZQ_CAS_MsgHeader *header, const BIN *in);

/* ---- Integrity values ----------------------------------------------------------------- */

/* *hex receives the lower-case hex text (and a terminating zero byte) of SHA-1(in). */
QRT_API int QRT_CAS_GenHexHashValue(BIN *hex, const BIN *in);
/* *hex receives the hex text of the signature `sign` makes over in. */
QRT_API int QRT_CAS_GenHexSignedValue(BIN *hex, const BIN *in, CB_ComputeSignature sign);
/* 0 when hex is the SHA-1 digest of in; 72008 bad hex, 72004 not 20 bytes, 72009 different. */
QRT_API int QRT_CAS_CheckHexHashValue(const char *hex, const BIN *in);

/* ---- Library frame -------------------------------------------------------------------- */

QRT_API int QRT_CAS_GetDataLenSize(void);
QRT_API const char *QRT_CAS_GetVersion(void);
QRT_API int QRT_CAS_CheckVersion(const char *required);
/* locale 1: English, locale 0: Korean (EUC-KR); codes outside 72001-72012 as libOstrelRAS. */
QRT_API const char *QRT_CAS_GetErrorReason(int code, int locale);
QRT_API const char *QRT_GetVersionCAS(void);
QRT_API const char *QRT_GetErrReasonCAS(int code, int locale);

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_SUITE_CAS_H */
