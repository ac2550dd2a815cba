/*
 * libOstrelCSP: the crypto service provider.
 *
 * The one library that calls the crypto core on behalf of the rest of the system. This half
 * holds the shared numbering of ciphers, modes, paddings, hashes and MACs, the streaming context,
 * encryption, decryption, hashing and MACs in Init/Update/Final and one-shot forms, random
 * numbers, the module-state gate, two BIN helpers and the library frame.
 *
 * Ownership: a ZQ_CSP_CTX owns its core context; release it with QRT_CSP_ResetCTX (the record
 * stays usable for any algorithm) or QRT_CSP_DestroyCTX. Output BINs are set empty at the start
 * of every call that fills them (their previous contents are not released) and belong to the
 * caller afterwards (QRT_BIN_Reset).
 *
 * Results: 0 on success, a provider code (6001-6120), or the crypto core's negative code where a
 * function says so. A failing function leaves records in the calling thread's error trace (NULL
 * arguments give 6001 without one); a core failure adds a record under the core function's name
 * first. QRT_CSP_GetErrorReason turns a code into text.
 */
#ifndef OSTREL_SUITE_CSP_H
#define OSTREL_SUITE_CSP_H

#include "suite_io.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Codes ---------------------------------------------------------------------------- */

#define QRT_CSP_INVALID_INPUT 6001
#define QRT_CSP_INTERNAL 6002
#define QRT_CSP_MALLOC_FAILED 6003
#define QRT_CSP_UNKNOWN_ID 6010
#define QRT_CSP_INVALID_MAC 6011
#define QRT_CSP_INVALID_SIGNATURE 6012
#define QRT_CSP_INVALID_KEYPAIR 6013
#define QRT_CSP_UNKNOWN_MODE 6021
#define QRT_CSP_UNKNOWN_PADDING 6022
#define QRT_CSP_INVALID_PADDING 6023
#define QRT_CSP_INVALID_IV_LENGTH 6024
#define QRT_CSP_INVALID_MODE_SIZE 6025
#define QRT_CSP_INVALID_KEY_LENGTH 6026
#define QRT_CSP_BAD_PRIVKEY 6030
#define QRT_CSP_BAD_PUBKEY 6031
#define QRT_CSP_BAD_PARAM 6032
#define QRT_CSP_BAD_SIGNATURE 6033
#define QRT_CSP_GENERATE_RSAKEY_FAILED 6100
#define QRT_CSP_ENCODE_RSAKEY_FAILED 6101
#define QRT_CSP_DECODE_RSAKEY_FAILED 6102
#define QRT_CSP_RSA_ENCRYPT_FAILED 6103
#define QRT_CSP_RSA_DECRYPT_FAILED 6104
#define QRT_CSP_RSA_SIGN_FAILED 6105
#define QRT_CSP_RSA_VERIFY_FAILED 6106
#define QRT_CSP_CRYPTO_FAILED 6110
#define QRT_CSP_STATE_NOT_SUPPORTED 6120

/* ---- Algorithm numbers ------------------------------------------------------------------ */

/* Ciphers (QRT_CSP_GetCipherInfo gives block and key lengths). */
#define QRT_CSP_CIPHER_AES 1
#define QRT_CSP_CIPHER_BLOWFISH 2
#define QRT_CSP_CIPHER_CAST128 3
#define QRT_CSP_CIPHER_DES 4
#define QRT_CSP_CIPHER_RC2 5 /* uses suiteParam.rc2.effectiveBits */
#define QRT_CSP_CIPHER_RC4 6 /* stream cipher; takes no parameter */
#define QRT_CSP_CIPHER_RC5 7 /* uses suiteParam.rc5.rounds */
#define QRT_CSP_CIPHER_SEED 8
#define QRT_CSP_CIPHER_TDES 9
#define QRT_CSP_CIPHER_ARIA 12 /* 128/192/256 from the key length */
#define QRT_CSP_CIPHER_ARIA128 13
#define QRT_CSP_CIPHER_ARIA192 14
#define QRT_CSP_CIPHER_ARIA256 15
#define QRT_CSP_CIPHER_CAMELLIA128 21
#define QRT_CSP_CIPHER_NEAT 22   /* not available in this core: 6110 */
#define QRT_CSP_CIPHER_256BIT 31 /* not available in this core: 6110 */

#define QRT_CSP_MODE_ECB 1
#define QRT_CSP_MODE_CBC 2
#define QRT_CSP_MODE_CFB 3 /* modeSize = segment bytes (0 = the block) */
#define QRT_CSP_MODE_OFB 4
#define QRT_CSP_MODE_CTR 5

#define QRT_CSP_PAD_NONE 1
#define QRT_CSP_PAD_PKCS5 2

#define QRT_CSP_HASH_MD2 1
#define QRT_CSP_HASH_MD5 2
#define QRT_CSP_HASH_SHA1 3
#define QRT_CSP_HASH_HAS160 4
#define QRT_CSP_HASH_RIPEMD160 5
#define QRT_CSP_HASH_SHA256 6
#define QRT_CSP_HASH_SHA384 7
#define QRT_CSP_HASH_SHA512 8
#define QRT_CSP_HASH_SHA224 9

/* MACs: 1..8 HMAC with hash 1..8; cipher MACs (CBC-MAC with zero padding) 11 AES, 12 Blowfish,
 * 13 CAST-128, 14 DES, 15 RC2, 16 RC5, 17 SEED, 19 Triple DES; 18 AES-128 CMAC; 24 DES CBC-MAC
 * with ISO/IEC 9797-1 padding method 2; 25 ANSI X9.19 retail MAC (16-byte key, 8-byte value). */
#define QRT_CSP_MAC_HMAC_MD2 1
#define QRT_CSP_MAC_HMAC_MD5 2
#define QRT_CSP_MAC_HMAC_SHA1 3
#define QRT_CSP_MAC_HMAC_HAS160 4
#define QRT_CSP_MAC_HMAC_RIPEMD160 5
#define QRT_CSP_MAC_HMAC_SHA256 6
#define QRT_CSP_MAC_HMAC_SHA384 7
#define QRT_CSP_MAC_HMAC_SHA512 8
#define QRT_CSP_MAC_CBC_AES 11
#define QRT_CSP_MAC_CBC_BLOWFISH 12
#define QRT_CSP_MAC_CBC_CAST128 13
#define QRT_CSP_MAC_CBC_DES 14
#define QRT_CSP_MAC_CBC_RC2 15
#define QRT_CSP_MAC_CBC_RC5 16
#define QRT_CSP_MAC_CBC_SEED 17
#define QRT_CSP_MAC_AES_CMAC 18
#define QRT_CSP_MAC_CBC_TDES 19
#define QRT_CSP_MAC_DES_PAD2 24
#define QRT_CSP_MAC_X919 25

/* Module states reported by QRT_CSP_GetState. */
#define QRT_CSP_STATE_LOADED 1
#define QRT_CSP_STATE_OPERATING 3
#define QRT_CSP_STATE_OPERATING_NO_SELFTEST 5
#define QRT_CSP_STATE_ERROR 9
#define QRT_CSP_STATE_FINALIZED 11

/* ---- Records -------------------------------------------------------------------------- */

/* ctxID: 0 empty, 1 cipher, 2 hash, 3 MAC; ctx is the core context, owned by the record. */
typedef struct _ZQ_CSP_CTX {
    int ctxID;
    void *ctx;
} ZQ_CSP_CTX;

typedef struct _ZQ_CSP_CipherInfo {
    int type; /* 1 block cipher, 0 stream cipher */
    int blockLength;
    int keyLength; /* default */
    int minKeyLength;
    int maxKeyLength;
    int stepKeyLength;
} ZQ_CSP_CipherInfo;

typedef union _ZQ_CSP_SuiteParam {
    struct {
        int effectiveBits;
    } rc2;
    struct {
        int rounds;
    } rc5;
} ZQ_CSP_SuiteParam;

typedef struct _ZQ_CSP_CipherParam {
    ZQ_CSP_SuiteParam suiteParam;
    int modeID;
    struct {
        BIN *iv; /* needed by modes 2..5; at most 32 bytes */
        int modeSize;
    } modeParam;
    int paddingID;
} ZQ_CSP_CipherParam;

typedef struct _ZQ_CSP_HashInfo {
    int hashLength;
    int blockLength;
} ZQ_CSP_HashInfo;

typedef struct _ZQ_CSP_MACInfo {
    int macLength;
    int keyLength;
    int minKeyLength;
    int maxKeyLength;
    int stepKeyLength;
} ZQ_CSP_MACInfo;

/* ---- Module state and contexts ------------------------------------------------------------ */

QRT_API int QRT_CSP_Initialize(void);
QRT_API int QRT_CSP_Finalize(void);
/* 1, 3, 5 or 9; other states give 6120. The core's own (negative) code when it refuses. */
QRT_API int QRT_CSP_ChangeState(int state);
/* 1, 3, 5, 9 or 11 as the core reports, 0 for anything else. */
QRT_API int QRT_CSP_GetState(void);

/* A new empty context (NULL when memory fails). */
QRT_API ZQ_CSP_CTX *QRT_CSP_CreateCTX(void);
/* Releases the core context; the record becomes empty. NULL is ignored. */
QRT_API void QRT_CSP_ResetCTX(ZQ_CSP_CTX *ctx);
QRT_API void QRT_CSP_DestroyCTX(ZQ_CSP_CTX *ctx);

/* ---- Ciphers --------------------------------------------------------------------------
 * Every operation first requests module state 3. Keys longer than the cipher takes are cut to
 * its length (AES and ARIA to 16, 24 or 32 bytes by length, DES to 8, SEED and cipher 21 to 16,
 * Triple DES to 24); keys over 256 bytes and IVs over 32 bytes are rejected (6026, 6024).
 * The cipher parameter is required except for cipher 6.
 */
/* Init sets ctx empty first without releasing it: reset a record before using it again. */
QRT_API int QRT_CSP_EncryptInit(ZQ_CSP_CTX *ctx, const BIN *key, int cipherID, const ZQ_CSP_CipherParam *param);
QRT_API int QRT_CSP_EncryptUpdate(ZQ_CSP_CTX *ctx, BIN *out, const BIN *in);
QRT_API int QRT_CSP_EncryptFinal(ZQ_CSP_CTX *ctx, BIN *out);
QRT_API int QRT_CSP_DecryptInit(ZQ_CSP_CTX *ctx, const BIN *key, int cipherID, const ZQ_CSP_CipherParam *param);
QRT_API int QRT_CSP_DecryptUpdate(ZQ_CSP_CTX *ctx, BIN *out, const BIN *in);
/* *padLength: bytes of padding the caller must cut from the end of what Update returned. */
QRT_API int QRT_CSP_DecryptFinal(ZQ_CSP_CTX *ctx, int *padLength);
QRT_API int QRT_CSP_Encrypt(BIN *out, const BIN *in, const BIN *key, int cipherID, const ZQ_CSP_CipherParam *param);
/* The plaintext without its padding. */
QRT_API int QRT_CSP_Decrypt(BIN *out, const BIN *in, const BIN *key, int cipherID, const ZQ_CSP_CipherParam *param);
QRT_API int QRT_CSP_GetCipherInfo(ZQ_CSP_CipherInfo *info, int cipherID);

/* ---- Hashes --------------------------------------------------------------------------- */

QRT_API int QRT_CSP_HashInit(ZQ_CSP_CTX *ctx, int hashID);
QRT_API int QRT_CSP_HashUpdate(ZQ_CSP_CTX *ctx, const BIN *in);
QRT_API int QRT_CSP_HashFinal(ZQ_CSP_CTX *ctx, BIN *out);
QRT_API int QRT_CSP_Hash(BIN *out, const BIN *in, int hashID);
QRT_API int QRT_CSP_GetHashInfo(ZQ_CSP_HashInfo *info, int hashID);

/* ---- MACs ----------------------------------------------------------------------------- */

/* param: required for MACs 15 (effectiveBits) and 16 (rounds), ignored otherwise. Keys over 256
 * bytes are rejected (6026). */
QRT_API int QRT_CSP_MACInit(ZQ_CSP_CTX *ctx, const BIN *key, int macID, const ZQ_CSP_SuiteParam *param);
QRT_API int QRT_CSP_MACUpdate(ZQ_CSP_CTX *ctx, const BIN *in);
QRT_API int QRT_CSP_MACFinal(ZQ_CSP_CTX *ctx, BIN *out);
QRT_API int QRT_CSP_MAC(BIN *out, const BIN *in, const BIN *key, int macID, const ZQ_CSP_SuiteParam *param);
/* 6010 for MAC 18, whose sizes the core keeps to itself. */
QRT_API int QRT_CSP_GetMACInfo(ZQ_CSP_MACInfo *info, int macID);

/* ---- Random --------------------------------------------------------------------------- */

/* A length below 1 gives 0 and an empty output. */
QRT_API int QRT_CSP_GenerateRandom(BIN *out, int length);
/* Mixes the seed into the core's generator; always 0. */
QRT_API int QRT_CSP_SeedRandom(const BIN *seed);

/* ---- Buffers -------------------------------------------------------------------------- */

/* out := a followed by b (either may be NULL, not both). */
QRT_API int QRT_CSP_BIN_Merge(BIN *out, const BIN *a, const BIN *b);
/* Prepares an output buffer of length zeroed bytes; the old contents are never kept. */
QRT_API int QRT_CSP_BIN_Resize(BIN *bin, unsigned int length);

/* ---- Library frame -------------------------------------------------------------------- */

QRT_API const char *QRT_CSP_GetVersion(void);
QRT_API const char *QRT_GetVersionCSP(void);
/* 0 when this library is at least required (NULL skips that test), the crypto core at least
 * 1.2.3.0 and the I/O core at least 1.5.1.0; -1 otherwise. */
QRT_API int QRT_CSP_CheckVersion(const char *required);
/* locale 1 English, 0 Korean (EUC-KR); "" for unknown codes and locales. */
QRT_API const char *QRT_CSP_GetErrorReason(int code, int locale);
QRT_API const char *QRT_GetErrReasonCSP(int code, int locale);

/* ---- Older convenience forms (own numbering, no trace records) -------------------------
 * Ciphers: alg 0 DES, 1 Triple DES, 3 RC4, 10 SEED; mode 0 ECB, 1 CBC, 2 CFB, 3 OFB; PKCS#5
 * padding; iv NULL means zeros (the *Bin forms always use zeros). Any core failure gives 6002.
 * Hash: alg 0 MD2, 1 MD5, 2 SHA-1, 4 RIPEMD-160, 5 HAS-160.
 * MAC: alg 0 DES CBC-MAC, 1 Triple DES CBC-MAC, 2 X9.19; MacVerifyBin compares the given MAC
 * (one byte at least, at most the MAC's length) with the computed one's first bytes: 6011.
 */
QRT_API int QRT_EncryptionIVBin(int alg, int mode, const unsigned char *iv, const BIN *key, const BIN *in, BIN *out);
QRT_API int QRT_DecryptionIVBin(int alg, int mode, const unsigned char *iv, const BIN *key, const BIN *in, BIN *out);
QRT_API int QRT_EncryptionBin(int alg, int mode, const BIN *key, const BIN *in, BIN *out);
QRT_API int QRT_DecryptionBin(int alg, int mode, const BIN *key, const BIN *in, BIN *out);
QRT_API int QRT_HashBin(int alg, const BIN *in, BIN *out);
QRT_API int QRT_MacBin(int alg, int unused, const BIN *key, const BIN *in, BIN *out);
QRT_API int QRT_MacVerifyBin(int alg, int unused, const BIN *key, const BIN *in, const BIN *mac);
QRT_API int QRT_RandomBin(int unused, int length, BIN *out);

/* ---- Public-key half (public-key issue) --------------------------------------------------
 * Key decoding, QRT_CSP_GetKeyLength/Ex, QRT_CSP_VerifySignature/ComputeSignature,
 * QRT_CSP_VerifyMsgSignature/ComputeMsgSignature, QRT_CSP_KCDSA_ComputeZ,
 * QRT_CSP_PublicEncrypt/PrivateDecrypt, QRT_CSP_GenerateKeyPair, QRT_CSP_GenerateParam,
 * QRT_CSP_ProveKeyPair, QRT_CSP_DeriveKey, the key-form copies, the DER and big-integer routines
 * and the older RSA forms go here, with ZQ_CSP_SignParam, ZQ_CSP_PEncParam,
 * ZQ_CSP_GenKeyPairParam, ZQ_CSP_GenParamParam and ZQ_CSP_DKeyParam.
 */

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_SUITE_CSP_H */
