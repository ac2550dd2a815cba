/*
 * libOstrelCodec: bytes to printable text and back, and code-set conversion.
 *
 * Base64 in one line or in lines of 64 characters, lower-case hex, a printable-ASCII test, and
 * conversion between EUC-KR, EUC-JP, Shift_JIS and UTF-8.
 *
 * Ownership: every string and BIN filled by a function here is new memory from QRT_calloc and
 * belongs to the caller: release strings with QRT_free and BIN contents with QRT_BIN_Reset.
 * Output BINs are overwritten without being released first; pass an empty BIN.
 *
 * Results: 0 on success, otherwise a codec code (3001-3020), or -1 for malformed text or an
 * unknown conversion. QRT_Codec_GetErrorReason turns a code into text.
 */
#ifndef OSTREL_SUITE_CODEC_H
#define OSTREL_SUITE_CODEC_H

#include "suite_io.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Codes ---------------------------------------------------------------------------- */

#include "suite_codec_codes.h"

/* ---- Base64 --------------------------------------------------------------------------- */

/* Writes the one-line Base64 of n bytes and a terminating zero into out, which must hold
 * 4*((n+2)/3)+1 bytes; *outlen receives the number of characters. 0, or -1 for bad arguments. */
QRT_API int QRT_Base64_EncodeBlock(char *out, int *outlen, const unsigned char *data, int n);
/* Decodes one block of len characters (leading blanks and trailing blanks, CR, LF and "-" are
 * ignored) into out, which must hold 3*(len/4) bytes; result->length receives the byte count.
 * 0, or -1 when the text is not Base64. */
QRT_API int QRT_Base64_DecodeBlock(unsigned char *out, BIN *result, const char *text, int len);

/* *text = a new string with the one-line Base64 of bin. */
QRT_API int QRT_BinToBase64(const BIN *bin, char **text);
/* Decodes text as one block into bin. On -1 bin->value still holds a buffer (wiped, length 0)
 * that the caller releases. */
QRT_API int QRT_Base64ToBin(const char *text, BIN *bin);
/* Base64 in lines of 64 characters, each ended by CR LF; out is terminated text. */
QRT_API int QRT_Base64_Encode(BIN *out, const BIN *in);
/* Decodes text line by line: every line ends with LF and is at most 80 characters long;
 * lines of 4 characters or fewer are skipped. On -1 out is left empty. */
QRT_API int QRT_Base64_Decode(BIN *out, const BIN *in);

/* ---- Hex and ASCII -------------------------------------------------------------------- */

/* *text = a new string of 2*length lower-case hex digits. */
QRT_API int QRT_BinToStr(const BIN *bin, char **text);
/* Pairs of hex digits (either case) to bytes; an odd length or a non-digit gives 3020. */
QRT_API int QRT_StrToBin(const char *text, BIN *bin);
/* 1 when every byte lies in 0x20..0x7F (also for ""), else 0. */
QRT_API int QRT_IsASCII(const char *text);

/* ---- Code sets ------------------------------------------------------------------------ */

/* Known conversions (names are case-sensitive): "ko_KR-euc" <-> "ko_KR-UTF-8",
 * "ja_JP-EUC" <-> "ja_JP-UTF-8", "ja_JP-SJIS" <-> "ja_JP-UTF-8"; any other pair gives -1.
 * dst receives the terminated text in a buffer of 2*src->length+1 bytes; a text that does not
 * fit it, an invalid or truncated character, or one the target lacks gives -1 (dst then holds
 * a wiped buffer of length 0 for the caller to reset). */
QRT_API int QRT_Codec_Convert(BIN *dst, const BIN *src, const char *to, const char *from);
/* Converts the terminated text into the caller's buffer out (2*strlen(text)+1 bytes). */
QRT_API int QRT_ConvCodeSet(const char *from, const char *to, const char *text, char *out);
/* EUC-KR to UTF-8: *out = a new buffer of 2*strlen(text)+1 bytes, *outlen = its text length. */
QRT_API int QRT_EncodeUTF8(const char *text, char **out, int *outlen);
/* UTF-8 (size bytes) to EUC-KR: *out = a new terminated buffer of size+1 bytes. */
QRT_API int QRT_DecodeUTF8(const char *text, int size, char **out);
/* UCS-2 units (host order) to EUC-KR text in out (2*count+1 bytes): units below 256 are copied
 * as bytes, Hangul syllables become their EUC-KR codes, anything else "?". 0, or -1 when a
 * syllable has no EUC-KR code. */
QRT_API int QRT_DecodeBMPStr(int count, const unsigned short *units, char *out);

/* ---- Library frame -------------------------------------------------------------------- */

QRT_API const char *QRT_Codec_GetVersion(void);
/* 0 when this library is at least `required` and libOstrelIO at least 1.5.1.0, else -1. */
QRT_API int QRT_Codec_CheckVersion(const char *required);
/* lang 1: English, lang 0: Korean (EUC-KR); "" for unknown codes and languages. */
QRT_API const char *QRT_Codec_GetErrorReason(int code, int lang);
QRT_API const char *QRT_GetVersionCodec(void);
QRT_API const char *QRT_GetErrReasonCodec(int code, int lang);

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_SUITE_CODEC_H */
