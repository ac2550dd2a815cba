/* libOstrelPKCS5: password-based encryption and key derivation.
 *
 * One pair of entry points, QRT_PKCS5_EncryptData and QRT_PKCS5_DecryptData, encrypts a byte
 * string under a password and describes the scheme in a DER AlgorithmIdentifier stored beside
 * the ciphertext. Three families stand behind them: PBES1 (PBKDF1 with DES, RC2 or SEED), PBES2
 * (PBKDF2 with an HMAC, then DES, Triple DES, RC2, RC5, SEED or AES in CBC mode) and the PKCS#12
 * identifiers (the PKCS#12 key derivation with RC4, Triple DES, RC2, SEED or NEAT). The key
 * derivation functions and a password-based MAC are exported as well.
 *
 * Results: 0, a code of this library (37101-37199), or a code of the ASN.1 layer or the provider
 * passed through. A failing function records an entry in the calling thread's error trace,
 * except for NULL arguments (37101 at entry) and a MAC mismatch (37130).
 *
 * Ownership: every output BIN is set empty at the start of the call and belongs to the caller
 * afterwards (QRT_BIN_Reset). Parameter records may live on the stack; their _Reset functions
 * release (and wipe) their buffers and zero the record.
 *
 * Iteration counts read from input (an AlgorithmIdentifier, PKCS#12 PBE parameters) must lie in
 * 1..QRT_PKCS5_GetIterationLimit() (default 2,000,000), else 37120 before any derivation. The
 * KDF functions themselves take whatever count the caller gives. */
#ifndef OSTREL_SUITE_PKCS5_H
#define OSTREL_SUITE_PKCS5_H

#include "suite_csp.h"
#include "suite_io.h"
#include "suite_pkcs5_codes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Scheme numbers (pbesID) ------------------------------------------------------------ */

#define QRT_PKCS5_PBE_MD2_DES 1        /* PBES1, PBKDF1-MD2, DES-CBC */
#define QRT_PKCS5_PBE_MD5_DES 2        /* PBES1, PBKDF1-MD5, DES-CBC */
#define QRT_PKCS5_PBE_SHA1_DES 3       /* PBES1, PBKDF1-SHA-1, DES-CBC */
#define QRT_PKCS5_PBE_SEED_CBC_SHA1 4  /* PBES1 style, SHA-1, SEED-CBC, IV from SHA-1(DK[16..20)) */
#define QRT_PKCS5_PBES2 5              /* PBES2: PBKDF2 and the cipher of encID */
#define QRT_PKCS5_PBE_MD2_RC2 6        /* PBES1, PBKDF1-MD2, RC2-CBC */
#define QRT_PKCS5_PBE_MD5_RC2 7        /* PBES1, PBKDF1-MD5, RC2-CBC */
#define QRT_PKCS5_PBE_SHA1_RC2 8       /* PBES1, PBKDF1-SHA-1, RC2-CBC */
#define QRT_PKCS5_PBE_SEED_CBC 9       /* PBES1 style, SHA-1, SEED-CBC with a fixed IV */
#define QRT_PKCS5_P12_SHA1_RC4_128 31
#define QRT_PKCS5_P12_SHA1_RC4_40 32
#define QRT_PKCS5_P12_SHA1_3DES 33     /* three-key Triple DES */
#define QRT_PKCS5_P12_SHA1_2DES 34     /* two-key Triple DES */
#define QRT_PKCS5_P12_SHA1_RC2_128 35
#define QRT_PKCS5_P12_SHA1_RC2_40 36
#define QRT_PKCS5_P12_SHA1_SEED 41
#define QRT_PKCS5_P12_SHA1_NEAT 42     /* NEAT: the provider answers 6110 where it lacks it */
#define QRT_PKCS5_P12_HAS160_NEAT 43   /* derives with SHA-1 like 42 */

/* PBES2 encryption schemes (encID). */
#define QRT_PKCS5_ENC_DES_CBC 1
#define QRT_PKCS5_ENC_DES_EDE3_CBC 2
#define QRT_PKCS5_ENC_RC2_CBC 4        /* 128 effective bits, keyLength 16 written */
#define QRT_PKCS5_ENC_RC5_CBC_PAD 6    /* 12 rounds, 64-bit blocks, keyLength 16 written */
#define QRT_PKCS5_ENC_SEED_CBC 9
#define QRT_PKCS5_ENC_AES128_CBC 11
#define QRT_PKCS5_ENC_AES192_CBC 12
#define QRT_PKCS5_ENC_AES256_CBC 13

/* PBKDF2 pseudo-random functions (prfID); 0 in a record that is generated means HMAC-SHA-1. */
#define QRT_PKCS5_PRF_HMAC_SHA1 1
#define QRT_PKCS5_PRF_HMAC_SHA256 6
#define QRT_PKCS5_PRF_HMAC_SHA384 7
#define QRT_PKCS5_PRF_HMAC_SHA512 8
#define QRT_PKCS5_PRF_HMAC_SHA224 9

#define QRT_PKCS5_KDF_PBKDF2 1

#define QRT_PKCS5_DEFAULT_ITERATION_LIMIT 2000000

/* ---- Records ---------------------------------------------------------------------------- */

/* The scheme selector. To encrypt, fill pbesID and, for PBES2, pbes2Param.encID (and prfID to
 * choose an HMAC other than SHA-1). Decryption fills the whole record. */
typedef struct _ZQ_PKCS5_PBES_ALGID {
    int pbesID;
    struct {
        int kdfID; /* 1 PBKDF2 */
        int prfID; /* QRT_PKCS5_PRF_... */
        int encID; /* QRT_PKCS5_ENC_... */
    } pbes2Param;
} ZQ_PKCS5_PBES_ALGID;

typedef struct _ZQ_PKCS5_PBES1_PARAM {
    int pbesID;
    BIN salt; /* 8 bytes */
    int iterationCount;
} ZQ_PKCS5_PBES1_PARAM;

typedef struct _ZQ_PKCS5_PBKDF2_PARAM {
    BIN salt;
    int iterationCount;
    int keyLength; /* 0: absent, the cipher's own length */
    int prfID;     /* QRT_PKCS5_PRF_... */
} ZQ_PKCS5_PBKDF2_PARAM;

/* cipherParam.modeParam.iv points to a BIN the record owns. */
typedef struct _ZQ_PKCS5_PBES2_PARAM {
    int kdfID;
    ZQ_PKCS5_PBKDF2_PARAM pbkdf2Param;
    int cipherID; /* QRT_CSP_CIPHER_... */
    ZQ_CSP_CipherParam cipherParam;
} ZQ_PKCS5_PBES2_PARAM;

typedef struct _ZQ_PKCS5_P12PBE_PARAM {
    BIN salt;
    int iterationCount;
} ZQ_PKCS5_P12PBE_PARAM;

typedef struct _ZQ_PKCS5_P12KDF_PARAM {
    int hashID; /* QRT_CSP_HASH_SHA1, or SHA-224/256/384/512 (9, 6, 7, 8) */
    BIN salt;
    int iterationCount;
    int diversifier; /* 1 key material, 2 IV, 3 MAC key */
} ZQ_PKCS5_P12KDF_PARAM;

typedef struct _ZQ_PKCS5_PBMAC1_PARAM {
    int kdfID;
    ZQ_PKCS5_PBKDF2_PARAM pbkdf2Param;
    int macID;        /* QRT_CSP_MAC_... */
    int macKeyLength; /* bytes */
} ZQ_PKCS5_PBMAC1_PARAM;

/* ---- Entry points ------------------------------------------------------------------------ */

/* Generates fresh parameters for algId's family, writes the AlgorithmIdentifier to algIdOut and
 * the ciphertext to cipherOut. 37111 for an unknown pbesID. */
QRT_API int QRT_PKCS5_EncryptData(BIN *algIdOut, BIN *cipherOut, const ZQ_PKCS5_PBES_ALGID *algId, const BIN *plain,
                                  const BIN *password);
/* Decodes algIdDer, fills algIdOut and decrypts. A wrong password gives 37131 for PBES1 and
 * PBES2, the provider's padding code for the PKCS#12 identifiers. */
QRT_API int QRT_PKCS5_DecryptData(ZQ_PKCS5_PBES_ALGID *algIdOut, BIN *plainOut, const BIN *algIdDer, const BIN *cipher,
                                  const BIN *password);

/* ---- PBES1 ------------------------------------------------------------------------------ */

/* 8 random salt bytes, 2048 iterations. */
QRT_API int QRT_PKCS5_PBES1Param_Generate(ZQ_PKCS5_PBES1_PARAM *param, int pbesID);
QRT_API void QRT_PKCS5_PBES1Param_Reset(ZQ_PKCS5_PBES1_PARAM *param);
QRT_API int QRT_PKCS5_PBES1AId_Encode(BIN *der, int pbesID, const ZQ_PKCS5_PBES1_PARAM *param);
QRT_API int QRT_PKCS5_PBES1AId_Decode(ZQ_PKCS5_PBES_ALGID *algId, ZQ_PKCS5_PBES1_PARAM *param, const BIN *der);
/* RC2 schemes encrypt with 64 effective bits; decryption falls back to 8 effective bits when 64
 * does not give valid padding (data written by older releases). */
QRT_API int QRT_PKCS5_PBES1_Encrypt(BIN *out, const BIN *in, const BIN *password, const ZQ_PKCS5_PBES1_PARAM *param);
QRT_API int QRT_PKCS5_PBES1_Decrypt(BIN *out, const BIN *in, const BIN *password, const ZQ_PKCS5_PBES1_PARAM *param);

/* ---- PBES2 ------------------------------------------------------------------------------ */

/* From algId: encID (37112 when unknown) and prfID (0 = HMAC-SHA-1; 37110 when unknown).
 * 8 random salt bytes, 2048 iterations, a random IV of the cipher's block length. */
QRT_API int QRT_PKCS5_PBES2Param_Generate(ZQ_PKCS5_PBES2_PARAM *param, const ZQ_PKCS5_PBES_ALGID *algId);
QRT_API void QRT_PKCS5_PBES2Param_Reset(ZQ_PKCS5_PBES2_PARAM *param);
/* The prf is written only when it is not HMAC-SHA-1. */
QRT_API int QRT_PKCS5_PBES2AId_Encode(BIN *der, const ZQ_PKCS5_PBES_ALGID *algId, const ZQ_PKCS5_PBES2_PARAM *param);
QRT_API int QRT_PKCS5_PBES2AId_Decode(ZQ_PKCS5_PBES_ALGID *algId, ZQ_PKCS5_PBES2_PARAM *param, const BIN *der);
QRT_API int QRT_PKCS5_PBES2_Encrypt(BIN *out, const BIN *in, const BIN *password, const ZQ_PKCS5_PBES2_PARAM *param);
QRT_API int QRT_PKCS5_PBES2_Decrypt(BIN *out, const BIN *in, const BIN *password, const ZQ_PKCS5_PBES2_PARAM *param);

/* ---- PKCS#12 PBE -------------------------------------------------------------------------- */

/* 8 random salt bytes, 1024 iterations. */
QRT_API int QRT_PKCS5_P12PBEParam_Generate(ZQ_PKCS5_P12PBE_PARAM *param);
QRT_API void QRT_PKCS5_P12PBEParam_Reset(ZQ_PKCS5_P12PBE_PARAM *param);
/* pkcs-12PbeParams ::= SEQUENCE { salt OCTET STRING, iterations INTEGER } in DER. */
QRT_API int QRT_PKCS5_P12PBEParam_Encode(BIN *der, const ZQ_PKCS5_P12PBE_PARAM *param);
/* 37120 for anything but that shape within der, or a count that is not positive in 1-4 bytes. */
QRT_API int QRT_PKCS5_P12PBEParam_Decode(ZQ_PKCS5_P12PBE_PARAM *param, const BIN *der);
QRT_API int QRT_PKCS5_P12PBEAId_Encode(BIN *der, int pbesID, const ZQ_PKCS5_P12PBE_PARAM *param);
/* Sets only algId->pbesID. */
QRT_API int QRT_PKCS5_P12PBEAId_Decode(ZQ_PKCS5_PBES_ALGID *algId, ZQ_PKCS5_P12PBE_PARAM *param, const BIN *der);
QRT_API int QRT_PKCS5_P12PBE_Encrypt(BIN *out, const BIN *in, int pbesID, const BIN *password,
                                     const ZQ_PKCS5_P12PBE_PARAM *param);
QRT_API int QRT_PKCS5_P12PBE_Decrypt(BIN *out, const BIN *in, int pbesID, const BIN *password,
                                     const ZQ_PKCS5_P12PBE_PARAM *param);

/* ---- Key derivation ----------------------------------------------------------------------- */

/* hashID MD2 (1), MD5 (2): dkLen <= 16; SHA-1 (3): <= 20 (longer: 37101; other hashes 37110).
 * Uses param->salt and param->iterationCount; a count below 2 hashes once. */
QRT_API int QRT_PKCS5_PBKDF1(BIN *dk, int dkLen, int hashID, const BIN *password, const ZQ_PKCS5_PBES1_PARAM *param);
/* dkLen 0: empty result. prfID as QRT_PKCS5_PRF_... (37110 otherwise). */
QRT_API int QRT_PKCS5_PBKDF2(BIN *dk, int dkLen, const BIN *password, const ZQ_PKCS5_PBKDF2_PARAM *p);
/* The password's bytes are each widened to two (00 b) and followed by 00 00; no code-set
 * conversion. length 0: nothing written. */
QRT_API int QRT_PKCS5_P12KDF(BIN *out, int length, const BIN *password, const ZQ_PKCS5_P12KDF_PARAM *p);

/* ---- Password-based MAC ------------------------------------------------------------------- */

QRT_API int QRT_PKCS5_PBMAC1_Generate(BIN *mac, const BIN *data, const BIN *password, const ZQ_PKCS5_PBMAC1_PARAM *p);
/* 37130 (no trace record) when mac differs from the one computed. */
QRT_API int QRT_PKCS5_PBMAC1_Verify(const BIN *mac, const BIN *data, const BIN *password,
                                    const ZQ_PKCS5_PBMAC1_PARAM *p);

/* ---- Buffers and settings ------------------------------------------------------------------ */

/* b := a zeroed copy of len bytes of src (len 0: empty, success). */
QRT_API int QRT_PKCS5_BIN_Set(BIN *b, const void *src, int len);
/* b := len new zero bytes (len 0: empty). */
QRT_API int QRT_PKCS5_BIN_Resize(BIN *b, int len);

/* Process-wide cap on iteration counts read from input; values below 1 are refused (37101). */
QRT_API int QRT_PKCS5_SetIterationLimit(int limit);
QRT_API int QRT_PKCS5_GetIterationLimit(void);

/* ---- Library frame ------------------------------------------------------------------------ */

QRT_API const char *QRT_PKCS5_GetVersion(void);
/* -1 when this library is below required, or ASN below 1.5.1.5, CSP below 1.5.1.0, IO below
 * 1.5.1.1; else 0. */
QRT_API int QRT_PKCS5_CheckVersion(const char *required);
/* locale 1 English; the Korean table is empty. Lower codes go to ASN, CSP, IO by range. */
QRT_API const char *QRT_PKCS5_GetErrorReason(int code, int locale);

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_SUITE_PKCS5_H */
