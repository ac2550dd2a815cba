/*
 * libOstrelSSS: secret sharing.
 *
 * Splits a short secret into shares and rebuilds it, by one of two schemes:
 *   QRT_SSS_SCHEME_SIMPLE  n-of-n: shares 1..n-1 are random, share n is the secret XOR all of
 *                          them; every share is needed.
 *   QRT_SSS_SCHEME_SHAMIR  k-of-n over a prime field: the shares are points of a random
 *                          polynomial of degree k-1 whose constant term is the secret; any k of
 *                          them rebuild it.
 *
 * Share information (QRT_SSS_ShareSecret writes it, QRT_SSS_RecoverSecret reads it), all
 * integers big-endian:
 *   simple  n (4 bytes), secret length (4 bytes)
 *   Shamir  n (4), k (4), secret length (4), L (2), the prime as a DER INTEGER (L bytes)
 * Shares: simple shares are raw bytes of the secret's length; a Shamir share is a 2-byte length
 * and x as a DER INTEGER, then a 2-byte length and y as a DER INTEGER (x is the share's index
 * 1..n, y the polynomial's value at x).
 *
 * Ownership: a share set owns its list; QRT_SSS_DestroyShare releases both. List nodes own their
 * bytes and QRT_SSS_BLIST_Free wipes them before release. Output BINs are set empty at the start
 * of every call that fills them (their previous contents are not released) and belong to the
 * caller afterwards (QRT_BIN_Reset, which zeroes the bytes). Polynomials own their coefficients
 * (QRT_POLY_Free).
 *
 * Results: 0 on success, otherwise a code of this library (6201-6254); QRT_SSS_GetErrorReason
 * turns a code into text, and a failing function leaves records in the calling thread's error
 * trace (NULL arguments give 6201 without one).
 */
#ifndef OSTREL_SUITE_SSS_H
#define OSTREL_SUITE_SSS_H

#include "suite_crypto.h"
#include "suite_io.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Codes ---------------------------------------------------------------------------- */

#include "suite_sss_codes.h"

/* ---- Schemes -------------------------------------------------------------------------- */

#define QRT_SSS_SCHEME_SIMPLE 1
#define QRT_SSS_SCHEME_SHAMIR 2

/* Longest secret the threshold scheme shares (one byte less than the largest table prime). */
#define QRT_SSS_SHAMIR_MAX_SECRET 112

/* Parameters of QRT_SSS_ShareSecret: the simple scheme reads n only, Shamir n and k. */
typedef struct ZQ_SSS_PARAM {
    int n; /* number of shares, at least 2 */
    int k; /* threshold, 1..n (Shamir only) */
} ZQ_SSS_PARAM;

/* ---- Share lists and sets ------------------------------------------------------------- */

/* One share: len bytes at data. */
typedef struct ZQ_SSS_BLIST {
    struct ZQ_SSS_BLIST *next;
    int len;
    unsigned char *data;
} ZQ_SSS_BLIST;

/* A node with len zeroed bytes (data NULL for 0); NULL for a negative len or when memory fails. */
QRT_API ZQ_SSS_BLIST *QRT_SSS_BLIST_New(int len);
/* Frees the node and every node after it, wiping their bytes first; NULL is allowed. */
QRT_API void QRT_SSS_BLIST_Free(ZQ_SSS_BLIST *list);

/* A set of shares: num nodes in list, in share order. Callers that recover a secret fill it
 * themselves (nodes from QRT_SSS_BLIST_New); num must match the list. */
typedef struct ZQ_SSS_SHARE {
    int num;
    ZQ_SSS_BLIST *list;
} ZQ_SSS_SHARE;

/* An empty set; NULL when memory fails. */
QRT_API ZQ_SSS_SHARE *QRT_SSS_CreateShare(void);
/* Frees the set and its list; NULL is allowed. */
QRT_API void QRT_SSS_DestroyShare(ZQ_SSS_SHARE *share);

/* ---- Sharing and recovery ------------------------------------------------------------- */

/* Splits secret into param->n shares by scheme. The set's previous list is released first; it
 * receives the shares in order (share 1 first) and *shareInfo the share information. On failure
 * the set is left empty. 6201 for missing arguments, 6210 for an unknown scheme, 6211 for bad
 * n or k, 6213 for an empty secret (or, for Shamir, one longer than 112 bytes). */
QRT_API int QRT_SSS_ShareSecret(ZQ_SSS_SHARE *share, BIN *shareInfo, const BIN *secret, int scheme,
                                const ZQ_SSS_PARAM *param);

/* Rebuilds *secret from the shares and the share information of scheme. Simple: exactly n
 * shares of the stated length. Shamir: at least k shares, of which the first k are used; the
 * secret is left-padded with zero bytes to its stated length. 6211 for malformed share
 * information, 6212 for missing or malformed shares, 6253 for integers that do not decode, 6213
 * when the result does not fit the stated length. A wrong share gives a wrong secret. */
QRT_API int QRT_SSS_RecoverSecret(BIN *secret, const ZQ_SSS_SHARE *share, int scheme, const BIN *shareInfo);

/* ---- Polynomials over a prime field --------------------------------------------------- */

/* One term: coef * x^degree. A polynomial lists its terms highest degree first. */
typedef struct ZQ_POLY {
    int degree;
    WJ_BigInt *coef;
    struct ZQ_POLY *next;
} ZQ_POLY;

/* A term of the given degree with a zero coefficient of room words; NULL when memory fails. */
QRT_API ZQ_POLY *QRT_POLY_New(int degree, unsigned int words);
/* Frees the term, every term after it and their coefficients; NULL is allowed. */
QRT_API void QRT_POLY_Free(ZQ_POLY *poly);
/* *poly := degree+1 terms (degree .. 0) with random coefficients of the prime's byte length. */
QRT_API int QRT_POLY_Generate(ZQ_POLY **poly, int degree, const WJ_BigInt *prime);
/* y := poly(x) mod prime by Horner's rule, reducing after each multiply-add. Missing degrees
 * count as zero coefficients. */
QRT_API int QRT_POLY_Evaluate(WJ_BigInt *y, const ZQ_POLY *poly, const WJ_BigInt *x, const WJ_BigInt *prime);

/* ---- Library frame -------------------------------------------------------------------- */

/* "1.5.0.1". */
QRT_API const char *QRT_SSS_GetVersion(void);
QRT_API const char *QRT_GetVersionSSS(void);
/* 0 when this library is at least required (NULL skips that test) and the I/O core and the
 * crypto core are recent enough; -1 otherwise. */
QRT_API int QRT_SSS_CheckVersion(const char *required);
/* Locale 1 English, locale 0 Korean (EUC-KR); "UnDefined Error Reason" for anything else. */
QRT_API const char *QRT_SSS_GetErrorReason(int code, int locale);
QRT_API const char *QRT_GetErrReasonSSS(int code, int locale);

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_SUITE_SSS_H */
