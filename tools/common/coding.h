/*
 * The coding module every tool links: PEM wrapping and unwrapping, PEM detection, URL escaping,
 * lower-case hex, a hex-to-integer helper and string duplication.
 *
 * Outputs (BIN contents, strings, byte buffers) are new memory from QRT_malloc/QRT_calloc that
 * the caller releases with QRT_BIN_Reset or QRT_free; output BINs are overwritten without being
 * released first. QRT_escape returns a buffer of its own (see there).
 */
#ifndef OSTREL_TOOLS_CODING_H
#define OSTREL_TOOLS_CODING_H

#include "suite_io.h"

#ifdef __cplusplus
extern "C" {
#endif

/* PEM text of bin under label: "-----BEGIN label-----", Base64 lines of 64 characters, and
 * "-----END label-----", each line ended by LF. 0, or -1 (bad arguments, memory short). */
int QRT_BinToPem(const BIN *bin, const char *label, BIN *pem);
/* The bytes of a PEM text: the first line is skipped, the Base64 up to the first "-" decoded;
 * the label is not checked. 0, or -1 (bin is then left empty). */
int QRT_PemToBin(const BIN *pem, BIN *bin);
/* 1 when buffer (length bytes) starts with "-----BEGIN", else 0. */
int QRT_IsPemType(const unsigned char *buffer, int length);

/* text with control bytes, bytes from 0x7F and the characters <>"#%{}|\^~[]`' and space written
 * as "%xx". The result lives in a 4096-byte buffer of the calling thread, overwritten by its next
 * call; a longer result is cut before the first character that does not fit. */
char *QRT_escape(const char *text);
/* Turns each "%xx" (hex digits of either case) into its byte, in place; returns text. */
char *QRT_unescape(char *text);

/* *text = 2n lower-case hex digits, *outlen = 2n. 0 when memory is short (or bad arguments),
 * else 1. */
int bin2strl(const unsigned char *data, int n, char **text, int *outlen);
int bin2str(const unsigned char *data, int n, char **text);
/* (len+1)/2 pairs of lower-case hex digits to bytes in *data, *outlen = their count; an odd last
 * digit is the high half of the last byte. 0 when memory is short (or bad arguments), else 1. */
int strl2bin(const char *text, int len, unsigned char **data, int *outlen);
int str2bin(const char *text, unsigned char **data, int *outlen);
/* *value = the number written by up to 8 lower-case hex digits, first pair most significant;
 * a longer text gives *value = -2 (and returns -2). -1 for NULL arguments, else 0. */
int QRT_Hex2Int(const char *hex, int *value);

/* A new copy of the first len bytes of text, terminated at len; NULL for NULL or memory short. */
char *QRT_strdupl(const char *text, int len);
char *QRT_strdup(const char *text);

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_TOOLS_CODING_H */
