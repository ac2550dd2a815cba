/*
 * libOstrelIO: the I/O core every Ostrel library links.
 *
 * Buffers and memory, the error trace and the library frame, files and whole-file locks,
 * sockets and record framing, time strings.
 *
 * Ownership: every output buffer, string and record filled by a function here belongs to the
 * caller. Release BIN contents with QRT_BIN_Reset (or QRT_BIN_Free for a heap BIN), lists with
 * QRT_BIN_LIST_Free, and strings and HUGE values with QRT_free. Memory that crosses a library
 * border always comes from QRT_malloc/QRT_calloc, so any library may release it.
 *
 * Results: 0 on success, otherwise an I/O code (8001-8270) or -1; QRT_IO_GetErrorReason turns a
 * code into text, and a failing function leaves records in the calling thread's error trace.
 */
#ifndef OSTREL_SUITE_IO_H
#define OSTREL_SUITE_IO_H

#include <stddef.h>
#include <time.h>
/* <math.h> defines an obsolete HUGE macro; include it first so the record name below wins. */
#include <math.h>
#ifdef HUGE
#undef HUGE
#endif

#if defined(__GNUC__)
#define QRT_API __attribute__((visibility("default")))
#else
#define QRT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Codes ---------------------------------------------------------------------------- */

#include "suite_io_codes.h"

/* ---- Records -------------------------------------------------------------------------- */

/* A byte buffer; {0, NULL} is empty. */
typedef struct _BIN {
    unsigned int length;
    unsigned char *value;
} BIN;

/* A node of a singly linked list of buffers; the list owns every node and its bytes. */
typedef struct _ZQ_BIN_LIST {
    struct _ZQ_BIN_LIST *next;
    BIN value;
} ZQ_BIN_LIST;
typedef struct _ZQ_BIN_LIST _BIN_LIST;
typedef struct _ZQ_BIN_LIST *BIN_LIST;

/* A non-negative integer as big-endian ASN.1 INTEGER content octets (serial numbers). */
typedef struct _HUGE {
    unsigned short length;
    unsigned char *value;
} HUGE;
typedef HUGE ZQ_HUGE;

/* An opaque heap block holding a POSIX mutex. */
typedef struct _ZQ_Mutex {
    char opaque[256];
} ZQ_Mutex;

/* One entry of a library's error table; tables end with {0, NULL}. */
typedef struct _ERR_MSG_DATA {
    int nCode;
    const char *pReason;
} ERR_MSG_DATA;

/* ---- Memory --------------------------------------------------------------------------- */

QRT_API void *QRT_malloc(size_t size);
QRT_API void *QRT_calloc(size_t count, size_t size);
QRT_API void *QRT_realloc(void *ptr, size_t size);
QRT_API void QRT_free(void *ptr);
QRT_API void QRT_SafeFree(void *ptr);

/* ---- Buffers -------------------------------------------------------------------------- */

QRT_API BIN *QRT_BIN_New(void);
/* Zeroes and releases the bytes; the BIN becomes {0, NULL}. NULL is allowed. */
QRT_API void QRT_BIN_Reset(BIN *bin);
QRT_API void QRT_FreeBin(BIN *bin);
QRT_API void QRT_BIN_Free(BIN *bin);
/* Copies len bytes into a new buffer of len+1 bytes (the extra byte is zero). */
QRT_API int QRT_BIN_Set(BIN *bin, const unsigned char *data, int len);
QRT_API int QRT_BIN_Copy(BIN *dst, const BIN *src);
/* 0 when equal, 1 otherwise (also when either is NULL). */
QRT_API int QRT_BIN_Cmp(const BIN *a, const BIN *b);

QRT_API ZQ_BIN_LIST *QRT_BIN_LIST_New(void);
QRT_API void QRT_BIN_LIST_Reset(ZQ_BIN_LIST *node);
QRT_API void QRT_BIN_LIST_Free(ZQ_BIN_LIST *node);
/* Appends a copy of bin at the end of *head. */
QRT_API int QRT_BIN_LIST_Add(ZQ_BIN_LIST **head, const BIN *bin);
/* Copies the list starting at src into the caller's node dst (and new nodes behind it). */
QRT_API int QRT_BIN_LIST_Copy(ZQ_BIN_LIST *dst, const ZQ_BIN_LIST *src);

/* ---- Numbers and hex ------------------------------------------------------------------ */

QRT_API int QRT_GetIntLen(unsigned int n);
QRT_API int QRT_BinToHex(const unsigned char *data, int len, char **out);
QRT_API int QRT_BinToHEX(const unsigned char *data, int len, char **out);
QRT_API int QRT_HexToBin(const char *hex, unsigned char **out, int *outlen);
QRT_API int QRT_HexToNum(const char *hex, unsigned int *out);
/* dst must hold 9 characters. */
QRT_API int QRT_NumToHex(unsigned int n, char *dst);

QRT_API int QRT_NumToHuge(unsigned int n, HUGE *huge);
QRT_API int QRT_StrToHuge(const char *str, HUGE *huge);
QRT_API int QRT_HugeToNum(const HUGE *huge, unsigned int *out);
QRT_API int QRT_HugeToHex(const HUGE *huge, char **out);
QRT_API int QRT_HugeToHEX(const HUGE *huge, char **out);
QRT_API int QRT_HexToHuge(const char *hex, HUGE *huge);
QRT_API int QRT_DupHuge(const HUGE *src, HUGE *dst);
/* 0 when equal, -1 otherwise. */
QRT_API int QRT_CmpHuge(const HUGE *a, const HUGE *b);

QRT_API int QRT_NumToHugeEx(unsigned int n, HUGE *huge);
QRT_API int QRT_StrToHugeEx(const char *str, HUGE *huge);
QRT_API int QRT_HugeToNumEx(const HUGE *huge, unsigned int *out);
QRT_API int QRT_HugeToHexEx(const HUGE *huge, char **out);
QRT_API int QRT_HugeToHEXEx(const HUGE *huge, char **out);
QRT_API int QRT_HexToHugeEx(const char *hex, HUGE *huge);
QRT_API int QRT_DupHugeEx(const HUGE *src, HUGE *dst);
QRT_API int QRT_CmpHugeEx(const HUGE *a, const HUGE *b);

/* ---- Number files (counters of 1-10 host-order 32-bit words, most significant first) ---- */

QRT_API int QRT_IncBinNumber(const BIN *in, BIN *out);
QRT_API int QRT_DecBinNumber(const BIN *in, BIN *out);
/* Hands out the file's current value in *out (len bytes, len < 40) and advances the file. */
QRT_API int QRT_GetNewBinNum(const char *path, int len, BIN *out);
QRT_API int QRT_SetBinNumber(const char *path, const unsigned int *words, int count);

/* ---- Mutex ---------------------------------------------------------------------------- */

QRT_API ZQ_Mutex *QRT_Mutex_Create(void);
QRT_API int QRT_Mutex_Lock(ZQ_Mutex *m);
QRT_API int QRT_Mutex_Unlock(ZQ_Mutex *m);
QRT_API int QRT_Mutex_Destroy(ZQ_Mutex *m);

/* ---- Error trace ---------------------------------------------------------------------- */

/* Nothing is recorded until the application calls QRT_Trace_Initialize once. */
QRT_API int QRT_Trace_Initialize(void);
QRT_API int QRT_Trace_Finalize(void);
/* Appends "pid:tid:func:code:reason:file:line" to the calling thread's bucket (32 at most). */
QRT_API int QRT_Trace_PutError(const char *func, int code, const char *reason, const char *file, int line);
/* *out receives the bucket's records, oldest first, one per line (release with QRT_free);
 * the bucket is emptied. With no records *out is left untouched. */
QRT_API int QRT_Trace_GetError(char **out);
QRT_API int QRT_Trace_PrintError(void);
QRT_API int QRT_Trace_WriteError(int fd);
QRT_API int QRT_Trace_ClearError(void);

/* ---- Library frame -------------------------------------------------------------------- */

QRT_API const char *QRT_IO_GetVersion(void);
QRT_API int QRT_IO_CheckVersion(const char *required);
/* lang 1: English, lang 0: Korean (EUC-KR); "" for unknown codes and languages. */
QRT_API const char *QRT_IO_GetErrorReason(int code, int lang);
QRT_API const char *QRT_GetVersionIO(void);
QRT_API const char *QRT_GetErrReasonIO(int code, int lang);

/* ---- Files and whole-file locks ------------------------------------------------------- */

QRT_API int QRT_File_Create(const char *path);
QRT_API int QRT_CreateFile(const char *path);
QRT_API int QRT_File_Open(const char *path, int flags);
QRT_API int QRT_OpenFile(const char *path);
QRT_API int QRT_OpenFileAppend(const char *path);
QRT_API int QRT_File_Close(int fd);
QRT_API int QRT_CloseFile(int fd);
/* One read: 0 when all len bytes came, 8030 at end of file, -1 when fewer came or on error. */
QRT_API int QRT_File_Read(int fd, void *buf, int len);
QRT_API int QRT_ReadBinFromFd(int fd, BIN *bin, int len);
QRT_API int QRT_ReadOneChar(int fd, char *c);
QRT_API int QRT_File_Write(int fd, const void *buf, int len);
QRT_API int QRT_WriteBinToFd(int fd, const BIN *bin);
QRT_API int QRT_WriteStrToFd(int fd, const char *text, int len);
QRT_API int QRT_File_Truncate(int fd, long length);
QRT_API int QRT_Truncate(int fd, long length);
QRT_API int QRT_File_ReadBin(BIN *bin, const char *path);
QRT_API int QRT_ReadBin(const char *path, BIN *bin);
QRT_API int QRT_File_WriteBin(const char *path, const BIN *bin);
QRT_API int QRT_WriteBin(const char *path, const BIN *bin);

QRT_API int QRT_File_SetReadLock(int fd);
QRT_API int QRT_SetFileReadLock(int fd);
QRT_API int QRT_File_SetReadLockNB(int fd);
QRT_API int QRT_SetFileReadLockNoBlock(int fd);
QRT_API int QRT_File_SetWriteLock(int fd);
QRT_API int QRT_SetFileWriteLock(int fd);
QRT_API int QRT_File_SetWriteLockNB(int fd);
QRT_API int QRT_SetFileWriteLockNoBlock(int fd);
QRT_API int QRT_File_ClearLock(int fd);
QRT_API int QRT_ClearFileLock(int fd);

/* ---- Sockets and record framing ------------------------------------------------------- */

/* Largest payload a received record may carry. */
#define QRT_SOCKET_MAX_RECORD 100000

QRT_API int QRT_Socket_Initialize(void);
QRT_API int QRT_Socket_Finalize(void);
QRT_API int QRT_Socket_Client(const char *host, int port);
QRT_API int QRT_Socket_ClientEx(const char *host, int port, int seconds);
QRT_API int QRT_Socket_Server(const char *address, int port);
/* peer receives the dotted IPv4 address (at least 16 bytes). */
QRT_API int QRT_Socket_Accept(int fd, char *peer);
QRT_API int QRT_Socket_Close(int fd);
QRT_API int QRT_Close(int fd);
QRT_API int QRT_Socket_Send(int fd, const void *buf, int len);
QRT_API int QRT_Socket_SendAll(int fd, const void *buf, int len);
QRT_API int QRT_SendRawData(int fd, const void *buf, int len);
QRT_API int QRT_Socket_Recv(int fd, void *buf, int len);
QRT_API int QRT_Socket_RecvAll(int fd, void *buf, int len);
QRT_API int QRT_RecvData(int fd, unsigned char **out, int len);
QRT_API int QRT_ReadRawData(int fd, unsigned char **out, int len);
/* Record: 4-byte big-endian (payload length + 1), 1-byte type, payload. */
QRT_API int QRT_Socket_SendRecord(int fd, int type, const BIN *payload);
QRT_API int QRT_SendData(int fd, int type, const unsigned char *data, int len);
QRT_API int QRT_Socket_RecvRecord(int fd, int *type, BIN *payload);
QRT_API int QRT_ReadData(int fd, unsigned char **data, int *len);
/* Opens a TCP connection to a dotted IPv4 address (the name is historical). */
QRT_API int QRT_Bind(const char *ip, int port);

QRT_API unsigned int QRT_htonl(unsigned int v);
QRT_API unsigned int QRT_ntohl(unsigned int v);
QRT_API unsigned short QRT_htons(unsigned short v);
QRT_API unsigned short QRT_ntohs(unsigned short v);
QRT_API unsigned int QRT_Socket_htonl(unsigned int v);
QRT_API unsigned int QRT_Socket_ntohl(unsigned int v);
QRT_API unsigned short QRT_Socket_htons(unsigned short v);
QRT_API unsigned short QRT_Socket_ntohs(unsigned short v);

/* ---- Time strings --------------------------------------------------------------------- */

QRT_API extern const char ENG_MONTH_ABB[12][4];
QRT_API extern const char HAN_MONTH_ABB[12][5];
QRT_API extern const char ENG_DAY_ABB[7][4];
QRT_API extern const char HAN_DAY_ABB[7][3];

QRT_API time_t QRT_GetLocalTime(void);
QRT_API time_t QRT_Time_GetTime(void);
QRT_API time_t QRT_GetUTCTime(void);
QRT_API time_t QRT_GetUTCGap(void);
/* out: at least 49 bytes. */
QRT_API int QRT_Time2Str(time_t t, char *out);
QRT_API int QRT_LocalTime2Str(time_t t, char *out);
/* out: at least 15 bytes; YYYYMMDDhhmmss in local time. */
QRT_API int QRT_Get14ByteTimeStr(time_t t, char *out);
/* New strings released with QRT_free; english 0 gives Korean (EUC-KR) names. */
QRT_API char *QRT_GetTimeStr(time_t t, int english);
QRT_API char *QRT_GetTimeRFCType(time_t t, int english);
QRT_API time_t QRT_Str2Time(const char *text);

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_SUITE_IO_H */
