/*
 * libOstrelCRS: the text messages between a client and a certificate-status service.
 *
 * A client asks for the status of a certificate named by its issuer and serial number (50, or
 * 95 with the user id); the service answers with the status, the revocation time and reason and
 * the validity window of the answer (51, 96). A third pair (93, 94) hands the service its
 * database settings. Each code of a pair names its operation.
 *
 * Wire form: a 24-byte decimal header (length, service code, local time YYYYMMDDhhmmss, record
 * count; the 20-byte form used towards a CA leaves out the length), then records of a four-digit
 * body length and a body of values each followed by "$".
 *
 * Ownership: request and reply records are plain structures the caller may fill on the stack.
 * The parsers allocate what they return; release it with QRT_CRS_FreeReqMsgStr or
 * QRT_CRS_FreeRepMsgStr (which walks the `next` list of replies). Output BINs belong to the
 * caller (QRT_BIN_Reset) and are left empty on failure.
 *
 * Results: 0 on success or a negative code below; a failing function leaves a record in the
 * calling thread's error trace.
 */
#ifndef OSTREL_SUITE_CRS_H
#define OSTREL_SUITE_CRS_H

#include "suite_io.h"

#ifdef __cplusplus
extern "C" {
#endif

#define QRT_CRS_OP_CERT_STATUS 50       /* reply 51 */
#define QRT_CRS_OP_CERT_STATUS_USER 95  /* reply 96 */
#define QRT_CRS_OP_DB_CHANGE 93         /* reply 94 */

#include "suite_crs_codes.h"

typedef struct _ZQ_CRS_MsgHeader {
    int serviceCode;
    int recordNum;
    char msgDateTime[15];
    int opCode;
} ZQ_CRS_MsgHeader;

/* Requests: 50 sends corp_code to issuer_url; 95 also user_id; 93 local_db_id to reserved1. */
typedef struct _ZQ_CRS_REQ_MSG {
    char corp_code[5];
    char oper_id[21];
    char issuer_dn[257];
    char issuer_pub_hash[41];
    char cert_serial[41];
    char issuer_url[201];
    char user_id[101];
    char local_db_id[21];
    char db_user[51];
    char db_pass[51];
    char db_name[51];
    char reserved1[101];
} ZQ_CRS_REQ_MSG;

/* Replies: code ("0000" for success) and message; a successful status reply then carries
 * corp_code to nextupdate, and user_id when built with the key-management option. */
typedef struct _ZQ_CRS_REP_MSG {
    char code[5];
    char message[201];
    char corp_code[5];
    char produceAt[21];
    char issuder_dn[257];
    char cert_serial[41];
    char cert_status[21];
    char revoked_time[21];
    char revoked_reason[21];
    char thisupdate[21];
    char nextupdate[21];
    char user_id[101];
    struct _ZQ_CRS_REP_MSG *next;
} ZQ_CRS_REP_MSG;

/* ---- Codes ---------------------------------------------------------------------------- */

/* The operation (50, 95 or 93) of either code of a pair; -4 when unknown. */
QRT_API int QRT_CRS_GetOpCode(int code);
/* The request and reply codes of an operation (either code of its pair); -4 when unknown. */
QRT_API int QRT_CRS_GetReqSvcCode(int operation);
QRT_API int QRT_CRS_GetRepSvcCode(int operation);

/* ---- Records -------------------------------------------------------------------------- */

/* One record: four-digit body length and body. */
QRT_API int QRT_CRS_GenReqMsg(const ZQ_CRS_REQ_MSG *req, int operation, BIN *out);
QRT_API int QRT_CRS_GenOneReqMsg(const ZQ_CRS_REQ_MSG *req, int operation, BIN *out);
/* One record per list element (*recordNum receives their number). option 1 adds user_id to a
 * successful reply 51, 0 does not, anything else gives -4; other replies ignore it. */
QRT_API int QRT_CRS_GenRepMsg(const ZQ_CRS_REP_MSG *rep, int operation, int option, int *recordNum, BIN *out);
QRT_API int QRT_CRS_GenOneRepMsg(const ZQ_CRS_REP_MSG *rep, int operation, BIN *out, int option);

/* Parse one record (with its length) or one body (without) into a new structure; reply parsers
 * take recordNum records into a list. A reply 51 that carries user_id fills it. */
QRT_API int QRT_CRS_AnalReq(ZQ_CRS_REQ_MSG **req, const BIN *in, int operation);
QRT_API int QRT_CRS_AnalOneReq(ZQ_CRS_REQ_MSG **req, const BIN *body, int operation);
QRT_API int QRT_CRS_AnalRep(ZQ_CRS_REP_MSG **rep, const BIN *in, int operation, int recordNum);
QRT_API int QRT_CRS_AnalOneRep(ZQ_CRS_REP_MSG **rep, const BIN *body, int operation);
QRT_API int QRT_CRS_FreeReqMsgStr(ZQ_CRS_REQ_MSG *req);
QRT_API int QRT_CRS_FreeRepMsgStr(ZQ_CRS_REP_MSG *rep);

/* ---- Headers -------------------------------------------------------------------------- */

/* The 24-byte header before records of bodyLen bytes; a request's length counts the whole
 * message, a reply's the message without its four length digits. */
QRT_API int QRT_CRS_GenReqMsgHeader(BIN *out, int operation, int recordNum, int bodyLen);
QRT_API int QRT_CRS_GenRepMsgHeader(BIN *out, int operation, int recordNum, int bodyLen);
/* The 20-byte request header without the length. */
QRT_API int QRT_CRS_CA_GenReqMsgHeader(BIN *out, int operation, int recordNum);
/* Parse a header; return 24 (or 20), the offset of the records, or a negative code. */
QRT_API int QRT_CRS_AnalHeader(ZQ_CRS_MsgHeader *header, const BIN *in);
QRT_API int QRT_CRS_CA_AnalHeader(ZQ_CRS_MsgHeader *header, const BIN *in);
/* The header-time rule: 0, or -1 to -6 for the year, month, day, hour, minute, second. */
QRT_API int QRT_CRS_CheckDate(const char *dateTime);

/* ---- Fields and frame ----------------------------------------------------------------- */

/* Appends value and "$" to *out (allocated or grown here); -2 for a missing name or value or a
 * value holding "$", -3 when memory is short. */
QRT_API int QRT_CRS_PutValue(BIN *out, const char *name, const char *value);
QRT_API int QRT_CRS_GetDataLenSize(void);

QRT_API const char *QRT_CRS_GetVersion(void);
QRT_API int QRT_CRS_CheckVersion(const char *required);
/* locale 1: English, locale 0: Korean (EUC-KR); "UnDefined Error Reason" otherwise. */
QRT_API const char *QRT_CRS_GetErrorReason(int code, int locale);
QRT_API const char *QRT_GetVersionCRS(void);
QRT_API const char *QRT_GetErrReasonCRS(int code, int locale);

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_SUITE_CRS_H */
