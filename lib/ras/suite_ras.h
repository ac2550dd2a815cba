/*
 * libOstrelRAS: the text messages a registration-authority client exchanges with a
 * certificate-authority back end.
 *
 * A message is a header followed by records; a record is a four-digit body length and a body
 * of field values. Three forms (nType): QRT_RAS_FORM_TEXT (1) and its older variant
 * QRT_RAS_FORM_TEXT_OLD (0) write each value followed by "$" under a 24-byte decimal header;
 * QRT_RAS_FORM_WEB (2) writes "name?value#" under a 6-byte header carrying the web code.
 *
 * Ownership: message structures are plain records the caller may fill on the stack. Every
 * structure a decoder returns is allocated here and released with QRT_RAS_FreeMsgStr (which
 * walks the `next` lists of the certificate-view and event-view replies). Output BINs belong to
 * the caller and are released with QRT_BIN_Reset; on failure they are left empty.
 *
 * Character fields are NUL-terminated and their widths below include the terminator. A value
 * that fills its field without a terminator, or that is longer than its field allows, fails with
 * that field's "too long" code, on encoding as on decoding.
 *
 * Results: 0 on success, otherwise a code 71001-71118 (QRT_RAS_GetErrorReason gives its text);
 * a failing function leaves a record in the calling thread's error trace.
 */
#ifndef OSTREL_SUITE_RAS_H
#define OSTREL_SUITE_RAS_H

#include "suite_io.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Forms and message kinds ---------------------------------------------------------- */

#define QRT_RAS_FORM_TEXT_OLD 0
#define QRT_RAS_FORM_TEXT 1
#define QRT_RAS_FORM_WEB 2

#define QRT_RAS_MSG_REQUEST 1
#define QRT_RAS_MSG_REPLY 0

/* ---- Operation codes ------------------------------------------------------------------ */

#define QRT_RAS_OP_USER_NEW 142
#define QRT_RAS_OP_CERT_MAN 143
#define QRT_RAS_OP_CERT_VIEW 144
#define QRT_RAS_OP_RESULT_VIEW 145
#define QRT_RAS_OP_EVENT_VIEW 146
#define QRT_RAS_OP_EVENT_NO 147
#define QRT_RAS_OP_SYS_STAT 148
#define QRT_RAS_OP_NOTI 149
#define QRT_RAS_OP_USER_NEW_150 150
#define QRT_RAS_OP_NL_USER_NEW 151
#define QRT_RAS_OP_FORCED_REVOKE 152
#define QRT_RAS_OP_USER_NEW_BULK 153
#define QRT_RAS_OP_USER_NEW_159 159
#define QRT_RAS_OP_USER_NEW_204 204
#define QRT_RAS_OP_USER_ID_CHANGE 221
#define QRT_RAS_OP_USER_NEW_225 225
#define QRT_RAS_OP_SECRET_DOWN 226

/* ---- Result codes --------------------------------------------------------------------- */

#include "suite_ras_codes.h"

/* ---- Header --------------------------------------------------------------------------- */

typedef struct _ZQ_RAS_MsgHeader {
    int serviceCode;       /* two digits; even = request, odd = reply */
    int recordNum;         /* records in the body */
    char msgDateTime[15];  /* YYYYMMDDhhmmss; empty in the web form */
    int opCode;            /* filled on decoding */
} ZQ_RAS_MsgHeader;

/* ---- Messages ------------------------------------------------------------------------- */

/* User registration (opcodes 142, 150, 159, 204, 225). */
typedef struct _ZQ_RAS_USER_NEW_REQ {
    char corp_code[5];
    char oper_id[21];
    char reg_date[15];
    char reg_serial[7];
    char type[2];
    char company[101];
    char user_name[101];  /* the text forms carry "user_name(euser_name)" in this one field */
    char euser_name[101];
    char user_id[101];
    char ssn[21];
    char policy_type[3];
    char email[51];
    char cell_phone[21];
    char fax[21];
    char zipcode[21];
    char address[201];
    char phone[21];
    char czipcode[21];
    char caddress[201];
    char cphone[21];
    char cert_type[5];
    char cert_class[5];
    char signature[257]; /* never sent by this library; see libOstrelCAS */
    char reserved1[31];
    char acc_flag[2];
    char org[21];
    char orgid[51];
    char position[201];
    char alien_number[201];
    char ext1[201];
    char ext2[201];
    char ext3[201];
    char ext4[201];
    char ext5[201];
} ZQ_RAS_USER_NEW_REQ;

typedef struct _ZQ_RAS_USER_NEW_REP {
    char code[5];
    char message[201];
    char corp_code[5];
    char oper_id[21];
    char reg_date[15];
    char reg_serial[7];
    char company[101];
    char user_name[101];
    char user_id[101];
    char ssn[21];
    char policy_type[3];
    char auth_reference[21];
    char auth_code[21];
    char cert_type[5];
    char cert_class[5];
    char root_hash[41];
} ZQ_RAS_USER_NEW_REP;

/* Bulk registration (153). Large: allocate on the heap. */
typedef struct _ZQ_RAS_USER_NEW_BULK_REQ {
    char code[5];
    char message[201];
    char request_count[11];
    char value[1000001];
} ZQ_RAS_USER_NEW_BULK_REQ;

typedef struct _ZQ_RAS_USER_NEW_BULK_REP {
    char code[5];
    char message[201];
    char response_count[11];
    char value[1000001];
} ZQ_RAS_USER_NEW_BULK_REP;

/* Certificate management (143). */
typedef struct _ZQ_RAS_CERT_MAN_REQ {
    char corp_code[5];
    char oper_id[21];
    char cert_serial[41];
    char policy_type[3];
    char svc_code[3];
    char cert_type[5];
    char cert_class[5];
} ZQ_RAS_CERT_MAN_REQ;

typedef struct _ZQ_RAS_CERT_MAN_REP {
    char code[5];
    char message[201];
    char corp_code[5];
    char oper_id[21];
    char policy_type[3];
    char cert_serial[41];
    char svc_code[3];
    char cert_type[5];
    char user_id[25];
    char cert_class[5];
} ZQ_RAS_CERT_MAN_REP;

/* Certificate view (144); ref_no "1", "2" or "3" sends cert_serial, user_id or ssn. */
typedef struct _ZQ_RAS_CERT_VIEW_REQ {
    char corp_code[5];
    char oper_id[21];
    char policy_type[3];
    char ref_no[2];
    char cert_serial[41];
    char user_id[101];
    char ssn[21];
    char rec_start[4];
    char rec_no[4];
    char cert_type[5];
    char cert_class[5];
} ZQ_RAS_CERT_VIEW_REQ;

typedef struct _ZQ_RAS_CERT_VIEW_REP {
    char code[5];
    char message[201];
    char corp_code[5];
    char oper_id[21];
    char policy_type[3];
    char cert_serial[41];
    char user_id[101];
    char dn[201];
    char ssn[21];
    char val_from[15];
    char val_to[15];
    char cert_status[3];
    char tot_rec_no[4];
    char cur_rec_no[4];
    char cert_type[5];
    char cert_class[5];
    struct _ZQ_RAS_CERT_VIEW_REP *next;
} ZQ_RAS_CERT_VIEW_REP;

/* Registration-result view (145). */
typedef struct _ZQ_RAS_RESULT_VIEW_REQ {
    char policy_type[3];
    char reg_date[15];
    char corp_code[5];
    char reg_serial[7];
    char user_id[101];
    char cert_type[5];
    char cert_class[5];
} ZQ_RAS_RESULT_VIEW_REQ;

typedef struct _ZQ_RAS_RESULT_VIEW_REP {
    char code[5];
    char message[201];
    char reg_date[15];
    char corp_code[5];
    char reg_serial[7];
    char reg_type[2];
    char policy_type[3];
    char company[101];
    char user_name[101];
    char user_id[101];
    char ssn[21];
    char auth_reference[21];
    char auth_code[21];
    char root_hash[41];
    char event_date[15];
    char cert_serial[41];
    char event_type[3];
    char val_from[15];
    char val_to[15];
    char dn[201];
    char cert_type[5];
    char cert_class[5];
} ZQ_RAS_RESULT_VIEW_REP;

/* Event view (146). */
typedef struct _ZQ_RAS_EVENT_VIEW_REQ {
    char date[9];
    char corp_code[5];
    char from_serial[7];
    char to_serial[7];
} ZQ_RAS_EVENT_VIEW_REQ;

typedef struct _ZQ_RAS_EVENT_VIEW_REP {
    char code[5];
    char message[201];
    char msg_serial[7];
    char corp_code[5];
    char event_date[15];
    char policy_type[3];
    char cert_serial[41];
    char event_type[3];
    char val_from[15];
    char val_to[15];
    char reg_date[15];
    char reg_serial[7];
    char ssn[21];
    char dn[201];
    char cert_type[5];
    char cert_class[5];
    struct _ZQ_RAS_EVENT_VIEW_REP *next;
} ZQ_RAS_EVENT_VIEW_REP;

/* Event number (147). */
typedef struct _ZQ_RAS_EVENT_NO_REQ {
    char date[9];
    char corp_code[5];
    char last_recv[7];
} ZQ_RAS_EVENT_NO_REQ;

typedef struct _ZQ_RAS_EVENT_NO_REP {
    char code[5];
    char message[201];
    char reg_date[9];
    char corp_code[5];
    char last_recv[7];
    char last_sent[7];
} ZQ_RAS_EVENT_NO_REP;

/* System status (148). */
typedef struct _ZQ_RAS_SYS_STAT_REQ {
    char corp_code[5];
} ZQ_RAS_SYS_STAT_REQ;

typedef struct _ZQ_RAS_SYS_STAT_REP {
    char code[5];
    char message[201];
    char corp_code[5];
} ZQ_RAS_SYS_STAT_REP;

/* Notice (149). */
typedef struct _ZQ_RAS_NOTI_REQ {
    char message[201];
} ZQ_RAS_NOTI_REQ;

typedef struct _ZQ_RAS_NOTI_REP {
    char user_id[101];
    char corp_code[5];
    char msg_serial[7];
    char event_date[15];
    char policy_type[3];
    char cert_serial[41];
    char event_type[3];
    char val_from[15];
    char val_to[15];
    char reg_date[15];
    char reg_serial[7];
    char ssn[21];
    char dn[201];
    char cert_type[5];
    char cert_class[5];
} ZQ_RAS_NOTI_REP;

/* Registration without login (151); sends reg_date, last_login, user_id, cert_serial and the
 * three reserved fields. */
typedef struct _ZQ_RAS_NL_USER_NEW_REQ {
    char corp_code[5];
    char reg_date[15];
    char last_login[15];
    char user_id[21];
    char lc_user_id[21];
    char ssn[21];
    char cert_serial[41];
    char cert_status[15];
    char reserved1[31];
    char reserved2[31];
    char reserved3[31];
} ZQ_RAS_NL_USER_NEW_REQ;

typedef struct _ZQ_RAS_NL_USER_NEW_REP {
    char code[5];
    char message[201];
} ZQ_RAS_NL_USER_NEW_REP;

/* Forced revocation (152). */
typedef struct _ZQ_RAS_FORCED_REVOKE_REQ {
    char corp_code[5];
    char policy_type[3];
    char ssn[21];
    char user_id[25];
} ZQ_RAS_FORCED_REVOKE_REQ;

typedef struct _ZQ_RAS_FORCED_REVOKE_REP {
    char code[5];
    char message[201];
    char corp_code[5];
    char policy_type[3];
    char ssn[21];
    char user_id[25];
} ZQ_RAS_FORCED_REVOKE_REP;

/* User-id change (221). */
typedef struct _ZQ_RAS_USER_ID_CHANGE_REQ {
    char corp_code[5];
    char reg_serial[7];
    char ssn[21];
    char old_user_id[21];
    char new_user_id[21];
} ZQ_RAS_USER_ID_CHANGE_REQ;

typedef struct _ZQ_RAS_USER_ID_CHANGE_REP {
    char code[5];
    char message[201];
    char ssn[21];
    char new_user_id[21];
} ZQ_RAS_USER_ID_CHANGE_REP;

/* Download of issued keys and certificates (226). Holds secrets: structures returned by the
 * decoders are wiped when released. */
typedef struct _ZQ_RAS_SECRET_DOWN_REQ {
    char auth_reference[21];
    char auth_code[21];
    char key_password[51];
    char user_id[101];
    char corp_code[5];
} ZQ_RAS_SECRET_DOWN_REQ;

typedef struct _ZQ_RAS_SECRET_DOWN_REP {
    char code[5];
    char message[201];
    char corp_code[5];
    char sgcert[4097];
    char sgsecret[4097];
    char sgrandom[51];
    char kmcert[4097];
    char kmsecret[4097];
    char kmrandom[51];
} ZQ_RAS_SECRET_DOWN_REP;

/* ---- Service, operation and web codes ------------------------------------------------- */

/* The opcode of a request or reply code; -1 for an unknown code. */
QRT_API int QRT_RAS_GetOpCode(int serviceCode);
/* 1 for a request code, 0 otherwise. */
QRT_API int QRT_RAS_GetReqFlag(int serviceCode);
/* The web code of a service code; -1 when the operation has none. */
QRT_API int QRT_RAS_GetYvSvcCode(int serviceCode);
/* The request (nMsgType 1) or reply (otherwise) code of a web code or an opcode; -1 if none. */
QRT_API int QRT_RAS_GetSvcCode(int code, int nMsgType);
/* Request and reply codes of opcodes 142-152, 159 and 221 (the older header builders); -1. */
QRT_API int QRT_RAS_GetReqSvcCode(int opCode);
QRT_API int QRT_RAS_GetRepSvcCode(int opCode);
/* 1 when serviceCode is a request or reply code of an operation, 0 otherwise. */
QRT_API int QRT_RAS_IsSvcCode(int serviceCode);

/* ---- Whole messages ------------------------------------------------------------------- */

/* Builds header + records of `msg` (the structure of header->serviceCode) into *out. A request
 * gives one record; a reply one record per list element, which must match header->recordNum
 * (71109). The text header's length counts its own four digits for a request, not for a reply. */
QRT_API int QRT_RAS_EncodeMsg(BIN *out, const void *msg, const ZQ_RAS_MsgHeader *header, int nType);
/* Parses a message: one record for a request, header->recordNum for a reply, into a new
 * structure (a list for certificate and event views) in *msg; release it with
 * QRT_RAS_FreeMsgStr(*msg, header->serviceCode). nMsgType 1 expects a request, otherwise a
 * reply; the web form needs it to tell the two apart, the text forms check it (71101). */
QRT_API int QRT_RAS_DecodeMsg(void **msg, ZQ_RAS_MsgHeader *header, const BIN *in, int nMsgType, int nType);
/* Releases a structure from a decoder (the whole list for codes 51 and 61); NULL is allowed.
 * 71101 when serviceCode is not a service code. */
QRT_API int QRT_RAS_FreeMsgStr(void *msg, int serviceCode);

/* ---- Records -------------------------------------------------------------------------- */

/* One record (four-digit length and body) of a request structure. */
QRT_API int QRT_RAS_GenReqMsg(BIN *out, const void *msg, int opCode, int nType);
/* The records of a reply, one per list element; *recordNum receives their number. */
QRT_API int QRT_RAS_GenRepMsg(BIN *out, const void *msg, int opCode, int nType, int *recordNum);
/* The body of one record, without its length. */
QRT_API int QRT_RAS_GenOneReqMsg(BIN *out, const void *msg, int opCode, int nType);
QRT_API int QRT_RAS_GenOneRepMsg(BIN *out, const void *msg, int opCode, int nType);
/* Parses the first record of `in` into a new request structure. */
QRT_API int QRT_RAS_AnalReq(void **msg, const BIN *in, int opCode, int nType);
/* Parses recordNum records of `in` into a new reply structure (a list for 144 and 146). */
QRT_API int QRT_RAS_AnalRep(void **msg, const BIN *in, int opCode, int recordNum, int nType);
/* Parses one record body (without its length) into a new structure. */
QRT_API int QRT_RAS_AnalOneReq(void **msg, const BIN *body, int opCode, int nType);
QRT_API int QRT_RAS_AnalOneRep(void **msg, const BIN *body, int opCode, int nType);

/* ---- Headers -------------------------------------------------------------------------- */

/* The header of a message whose records take bodyLen bytes: 24 digits in the text forms,
 * web code and record count (6 digits) in the web form. */
QRT_API int QRT_RAS_GenMsgHeader(BIN *out, const ZQ_RAS_MsgHeader *header, int bodyLen, int nType);
/* Parses and checks a header; *bodyOffset receives where the records begin (24 or 6). */
QRT_API int QRT_RAS_AnalMsgHeader(ZQ_RAS_MsgHeader *header, const BIN *in, int nMsgType, int nType,
                                  int *bodyOffset);
/* Older builders of the 24-byte text header for an opcode, stamped with the local time. */
QRT_API int QRT_RAS_GenReqMsgHeader(BIN *out, int opCode, int recordNum, int bodyLen);
QRT_API int QRT_RAS_GenRepMsgHeader(BIN *out, int opCode, int recordNum, int bodyLen);
/* Parses a 24-byte text header; returns 24 (the body offset) or an error code. */
QRT_API int QRT_RAS_AnalHeader(ZQ_RAS_MsgHeader *header, const BIN *in);

/* ---- Fields --------------------------------------------------------------------------- */

/* Appends one field to *out (allocated or grown here): "value$" in the text forms,
 * "name?value#" in the web form. A value holding the form's separator is refused (71060). */
QRT_API int QRT_RAS_PutValue(BIN *out, const char *fieldName, const char *value, int nType);
/* Reads one field of a record body into value (valueSize bytes with the terminator). Text
 * forms read from *pos up to the next "$" and advance *pos past it; the web form finds
 * "fieldName?" anywhere in the body (a missing field is empty) and leaves *pos alone.
 * A value beyond the field's limit or valueSize - 1 gives the field's code; an unknown name
 * 71110. */
QRT_API int QRT_RAS_GetValue(char *value, int valueSize, const char *fieldName, const BIN *body, int *pos,
                             int nType);
/* 4: the width of the record length. */
QRT_API int QRT_RAS_GetDataLenSize(void);

/* ---- Input checks --------------------------------------------------------------------- */

/* The header-time rule: 0, or -1 (year not after 2001), -2 month, -3 day, -4 hour, -5 minute,
 * -6 second. */
QRT_API int QRT_RAS_CheckDate(const char *dateTime);
/* Registration lengths: company over 32 bytes gives 71014; 1.5 x Korean name + English name
 * + user id over 64 bytes gives 71106. */
QRT_API int QRT_RAS_ChkInputLen(const ZQ_RAS_USER_NEW_REQ *req);
QRT_API int QRT_RAS_Check_InputLnegth(const ZQ_RAS_USER_NEW_REQ *req);
/* The same limits, met by shortening company and the Korean name in place (never splitting
 * a two-byte character); 71106 when the name cannot be made short enough. */
QRT_API int QRT_RAS_Check_InputLnegthHangulCut(ZQ_RAS_USER_NEW_REQ *req);
/* Cuts text to at most n bytes without splitting a two-byte (EUC-KR) character. */
QRT_API int QRT_RAS_HangulCut(char *text, int n);
/* "valid" gives 10, words beginning "revoke" 30, "suspend" 40; -1 otherwise. */
QRT_API int QRT_RAS_GetCertStatus(const char *word);
/* Writes "valid", "revoked", "suspended" or "unknown(<n>)" into out (outSize bytes). */
QRT_API int QRT_RAS_GetCertStatusStr(int status, char *out, int outSize);

/* ---- Library frame -------------------------------------------------------------------- */

QRT_API const char *QRT_RAS_GetVersion(void);
QRT_API int QRT_RAS_CheckVersion(const char *required);
/* locale 1: English, locale 0: Korean (EUC-KR); "UnDefined Error Reason" otherwise. */
QRT_API const char *QRT_RAS_GetErrorReason(int code, int locale);
QRT_API const char *QRT_GetVersionRAS(void);
QRT_API const char *QRT_GetErrReasonRAS(int code, int locale);

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_SUITE_RAS_H */
