/*
 * libOstrelCrypto: the crypto core.
 *
 * Two layers over one implementation (OpenSSL 3 libcrypto underneath, plus MD2, HAS-160 and
 * RC5-32 written here):
 *   WJC_  the context API the crypto service provider uses: module states, cipher, hash and MAC
 *         contexts, secret keys, random numbers (and, later, the generic public-key calls);
 *   WJ_   the primitives that other callers use directly: hashes, HMAC, random bytes, the
 *         big-integer record and its pool (and, later, RSA, DSA, KCDSA, EC, DH).
 *
 * Results: 0 on success, otherwise a negative WJ_ERR_ code; WJC_GetErrorString gives its text.
 *
 * Ownership: objects made by a _New function belong to the caller and are released with the
 * matching _Free, which wipes any key material first. Output buffers are the caller's; where a
 * function writes into one, its comment states how large it must be.
 *
 * Module states: the module starts in WJC_STATE_LOADED. Operations run in WJC_STATE_OPERATING and
 * WJC_STATE_OPERATING_NO_SELFTEST; an operation called in WJC_STATE_LOADED first enters
 * WJC_STATE_OPERATING (running the known-answer self-tests). In WJC_STATE_ERROR and
 * WJC_STATE_FINALIZED every operation fails with WJ_ERR_STATE. The state is shared by all threads.
 *
 * Contexts are not thread-safe: one context belongs to one thread at a time.
 */
#ifndef OSTREL_SUITE_CRYPTO_H
#define OSTREL_SUITE_CRYPTO_H

#include <stddef.h>

#include "suite_io.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Codes ---------------------------------------------------------------------------- */

#define WJ_OK 0
#define WJ_ERR_FAILED (-1)        /* failure without a more precise code */
#define WJ_ERR_BAD_ARGUMENT (-10) /* NULL or out-of-range argument */
#define WJ_ERR_BAD_CONTEXT (-11)  /* context not initialised for this operation */
#define WJ_ERR_MEMORY (-12)       /* allocation failed */
#define WJ_ERR_BUFFER_SMALL (-13) /* output buffer too small */
#define WJ_ERR_INTERNAL (-20)     /* the underlying library failed */
#define WJ_ERR_RANDOM (-30)       /* the random generator failed */
#define WJ_ERR_BAD_DER (-80)      /* malformed DER */
#define WJ_ERR_SHORT_INPUT (-81)  /* DER length runs past the input */
#define WJ_ERR_STATE (-90)        /* operation or transition refused in this module state */
#define WJ_ERR_SELFTEST (-91)     /* a known-answer self-test failed */
#define WJ_ERR_UNKNOWN_ID (-100)  /* unknown or unavailable algorithm */
#define WJ_ERR_UNKNOWN_MODE (-101)
#define WJ_ERR_UNKNOWN_PADDING (-102)
#define WJ_ERR_BAD_PADDING (-103)
#define WJ_ERR_IV_LENGTH (-110)
#define WJ_ERR_MODE_SIZE (-111)
#define WJ_ERR_KEY_LENGTH (-112)
#define WJ_ERR_DATA_LENGTH (-113)  /* input is not a whole number of blocks */
#define WJ_ERR_CIPHER_PARAM (-114) /* RC2 effective bits or RC5 rounds out of range */
#define WJ_ERR_ENCRYPT_FAILED (-120)
#define WJ_ERR_DECRYPT_FAILED (-121)
/* Public-key codes (the public-key primitives use these; a signature that does not verify): */
#define WJ_ERR_DSA_VERIFY (-625)
#define WJ_ERR_KCDSA_VERIFY (-635)
#define WJ_ERR_ECDSA_VERIFY (-655)
#define WJ_ERR_ECKCDSA_VERIFY (-665)
#define WJ_ERR_RSA_VERIFY (-716)

/* English text of a code; "unknown error" for codes this core does not use. */
QRT_API const char *WJC_GetErrorString(int code);

/* ---- Module --------------------------------------------------------------------------- */

#define WJC_STATE_LOADED 1
#define WJC_STATE_OPERATING 3 /* entered once the self-tests have passed */
#define WJC_STATE_OPERATING_NO_SELFTEST 5
#define WJC_STATE_ERROR 9 /* sticky until WJC_Finalize + WJC_Initialize */
#define WJC_STATE_FINALIZED 11

/* "a.b.c.d" of this core. */
QRT_API const char *WJC_GetVersion(void);
/* From WJC_STATE_FINALIZED back to WJC_STATE_LOADED (clearing the self-test result); otherwise
 * nothing happens. Always 0 unless the underlying library cannot be set up. */
QRT_API int WJC_Initialize(void);
/* Enters WJC_STATE_FINALIZED from any state. */
QRT_API int WJC_Finalize(void);
/* Requests state 1, 3, 5 or 9. Entering 3 runs the self-tests unless they already passed since
 * the last WJC_Initialize; a failure moves to 9 and returns WJ_ERR_SELFTEST. Leaving 9 or 11 this
 * way is refused (WJ_ERR_STATE); other numbers give WJ_ERR_BAD_ARGUMENT. */
QRT_API int WJC_ChangeState(int state);
QRT_API int WJC_GetState(void);

/* Runs every known-answer self-test now, whatever the state; 0 or WJ_ERR_SELFTEST. Does not
 * change the state. */
QRT_API int WJC_SelfTest(void);
/* Test hook: a nonzero id corrupts the expected answer of self-test number id (1-based, in the
 * order of WJC_SelfTest_Name), 0 restores every answer. WJ_ERR_BAD_ARGUMENT for an unknown id. */
QRT_API int WJC_SelfTest_InjectFault(int id);
/* Name of self-test id ("SHA-256", ...), NULL past the last one. */
QRT_API const char *WJC_SelfTest_Name(int id);

/* ---- Algorithm numbers ------------------------------------------------------------------ */

/* Ciphers. Key lengths in bytes. */
#define WJ_CIPHER_AES 1          /* 16, 24 or 32 */
#define WJ_CIPHER_BLOWFISH 2     /* 1..56 */
#define WJ_CIPHER_CAST128 3      /* 5..16 (12 rounds up to 10 bytes) */
#define WJ_CIPHER_DES 4          /* 8 */
#define WJ_CIPHER_RC2 6          /* 1..128; param rc2.effectiveBits 1..1024, 0 = 8 x key length */
#define WJ_CIPHER_RC4 7          /* stream, 1..256; no mode, IV or padding */
#define WJ_CIPHER_RC5 8          /* RC5-32, 0..256; param rc5.rounds 0..255 */
#define WJ_CIPHER_SEED 9         /* 16 */
#define WJ_CIPHER_TDES 11        /* EDE, 16 (two-key) or 24 (three-key) */
#define WJ_CIPHER_ARIA 12        /* 16, 24 or 32 (ARIA-128/192/256) */
#define WJ_CIPHER_CAMELLIA128 21 /* 16 */
#define WJ_CIPHER_NEAT 22        /* not available: WJ_ERR_UNKNOWN_ID */
#define WJ_CIPHER_RESERVED31 31  /* not available: WJ_ERR_UNKNOWN_ID */

/* Modes. CFB uses segments of modeParam.modeSize bytes (1..block; 0 = the block). */
#define WJ_MODE_ECB 1
#define WJ_MODE_CBC 2
#define WJ_MODE_CFB 3
#define WJ_MODE_OFB 4
#define WJ_MODE_CTR 5 /* the whole IV block is a big-endian counter */

/* Paddings, for ECB and CBC; CFB, OFB, CTR and RC4 never pad. */
#define WJ_PAD_NONE 1 /* input must be whole blocks */
#define WJ_PAD_PKCS 4 /* PKCS#5/#7 */

/* Hashes. */
#define WJ_HASH_MD2 1
#define WJ_HASH_MD5 2
#define WJ_HASH_SHA1 4
#define WJ_HASH_HAS160 5
#define WJ_HASH_RIPEMD160 6
#define WJ_HASH_SHA256 7
#define WJ_HASH_SHA384 8
#define WJ_HASH_SHA512 9
#define WJ_HASH_SHA224 10
#define WJ_HASH_MAX_LENGTH 64

/* MACs: HMAC = 256 + hash; CBC-MAC = 512 + cipher (ISO/IEC 9797-1 algorithm 1, zero padding,
 * the MAC is the last block); and three of their own. */
#define WJ_MAC_HMAC(hash) (256 + (hash))
#define WJ_MAC_CBC(cipher) (512 + (cipher))
#define WJ_MAC_AES_CMAC 522     /* AES-128 CMAC (16-byte key) */
#define WJ_MAC_DES_MAC_PAD2 575 /* DES CBC-MAC, ISO/IEC 9797-1 padding method 2 */
#define WJ_MAC_X919 1024        /* ANSI X9.19 retail MAC: 16-byte key, 8-byte value */
#define WJ_MAC_MAX_LENGTH 64

/* ---- Secret keys and cipher parameters ----------------------------------------------------- */

#define WJ_SECRET_KEY_MAX 256
#define WJ_CIPHER_MAX_IV 32
#define WJ_CIPHER_MAX_BLOCK 32

/* A secret key; callers may fill it directly. */
typedef struct _WJ_SECRET_KEY {
    int algID;
    unsigned char key[WJ_SECRET_KEY_MAX];
    unsigned int keyLength;
} WJ_SECRET_KEY;

typedef union _WJ_SUITE_PARAM {
    struct {
        unsigned int effectiveBits;
    } rc2;
    struct {
        unsigned int rounds;
    } rc5;
} WJ_SUITE_PARAM;

typedef struct _WJ_CIPHER_PARAM {
    WJ_SUITE_PARAM suiteParam;
    int modeID;
    struct {
        unsigned char iv[WJ_CIPHER_MAX_IV];
        unsigned int ivLength; /* must equal the block length for modes 2..5 */
        unsigned int modeSize;
    } modeParam;
    int paddingID;
} WJ_CIPHER_PARAM;

/* A zeroed key; NULL when memory fails. */
QRT_API WJ_SECRET_KEY *WJC_SKEY_SecretKey_New(void);
/* Wipes and releases; NULL is allowed. */
QRT_API void WJC_SKEY_SecretKey_Free(WJ_SECRET_KEY *key);
/* Fills key with algID and the length bytes of data (at most WJ_SECRET_KEY_MAX). */
QRT_API int WJC_SKEY_SecretKey_FromBinary(WJ_SECRET_KEY *key, int algID, const unsigned char *data,
                                          unsigned int length);

/* ---- Ciphers -------------------------------------------------------------------------- */

typedef struct _WJC_CIPHER_CTX WJC_CIPHER_CTX;

QRT_API WJC_CIPHER_CTX *WJC_CIPHER_CTX_New(void);
QRT_API void WJC_CIPHER_CTX_Free(WJC_CIPHER_CTX *ctx);

/* Sets up ctx for alg with key->key (key->algID is not consulted). param may be NULL only for
 * RC4. A context may be initialised again for another key or algorithm.
 * Update: out must have room for inLength + WJ_CIPHER_MAX_BLOCK bytes; partial blocks of ECB and
 * CBC are held back until more input comes. *outLength receives the bytes written.
 * Encrypt_Final: out must have room for WJ_CIPHER_MAX_BLOCK bytes (the padded last block).
 * Decrypt_Final: writes nothing; every plaintext byte was returned by Update, and *padLength
 * receives how many bytes of padding the caller must cut from the end (WJ_ERR_BAD_PADDING when
 * the padding is malformed; checked in constant time). */
QRT_API int WJC_Cipher_Encrypt_Init(WJC_CIPHER_CTX *ctx, const WJ_SECRET_KEY *key, int alg,
                                    const WJ_CIPHER_PARAM *param);
QRT_API int WJC_Cipher_Encrypt_Update(WJC_CIPHER_CTX *ctx, unsigned char *out, unsigned int *outLength,
                                      const unsigned char *in, unsigned int inLength);
QRT_API int WJC_Cipher_Encrypt_Final(WJC_CIPHER_CTX *ctx, unsigned char *out, unsigned int *outLength);
QRT_API int WJC_Cipher_Decrypt_Init(WJC_CIPHER_CTX *ctx, const WJ_SECRET_KEY *key, int alg,
                                    const WJ_CIPHER_PARAM *param);
QRT_API int WJC_Cipher_Decrypt_Update(WJC_CIPHER_CTX *ctx, unsigned char *out, unsigned int *outLength,
                                      const unsigned char *in, unsigned int inLength);
QRT_API int WJC_Cipher_Decrypt_Final(WJC_CIPHER_CTX *ctx, unsigned int *padLength);

/* One shot. Encrypt: out has room for inLength + WJ_CIPHER_MAX_BLOCK bytes. Decrypt: out has room
 * for inLength bytes and *outLength is the plaintext length with the padding removed. */
QRT_API int WJC_Cipher_Encrypt(unsigned char *out, unsigned int *outLength, const unsigned char *in,
                               unsigned int inLength, const WJ_SECRET_KEY *key, int alg, const WJ_CIPHER_PARAM *param);
QRT_API int WJC_Cipher_Decrypt(unsigned char *out, unsigned int *outLength, const unsigned char *in,
                               unsigned int inLength, const WJ_SECRET_KEY *key, int alg, const WJ_CIPHER_PARAM *param);

/* Block length of a cipher in bytes (1 for RC4); WJ_ERR_UNKNOWN_ID. */
QRT_API int WJC_Cipher_GetBlockLength(int alg);

/* ---- Hashes --------------------------------------------------------------------------- */

typedef struct _WJC_HASH_CTX WJC_HASH_CTX;
typedef WJC_HASH_CTX WJ_HASH_CTX;

QRT_API WJC_HASH_CTX *WJC_HASH_CTX_New(void);
QRT_API void WJC_HASH_CTX_Free(WJC_HASH_CTX *ctx);
/* Final: out has room for WJ_HASH_MAX_LENGTH bytes; *outLength receives the digest length. After
 * Final the context needs a new Init. */
QRT_API int WJC_Hash_Init(WJC_HASH_CTX *ctx, int alg);
QRT_API int WJC_Hash_Update(WJC_HASH_CTX *ctx, const unsigned char *in, unsigned int inLength);
QRT_API int WJC_Hash_Final(WJC_HASH_CTX *ctx, unsigned char *out, unsigned int *outLength);
QRT_API int WJC_Hash(unsigned char *out, unsigned int *outLength, const unsigned char *in, unsigned int inLength,
                     int alg);
/* Digest and block length in bytes; WJ_ERR_UNKNOWN_ID. */
QRT_API int WJC_Hash_GetLength(int alg);
QRT_API int WJC_Hash_GetBlockLength(int alg);

/* The same, as primitives. */
QRT_API int WJ_Hash(unsigned char *out, unsigned int *outLength, const unsigned char *in, unsigned int inLength,
                    int alg);
QRT_API int WJ_Hash_Init(WJ_HASH_CTX *ctx, int alg);
QRT_API int WJ_Hash_Update(WJ_HASH_CTX *ctx, const unsigned char *in, unsigned int inLength);
QRT_API int WJ_Hash_Final(WJ_HASH_CTX *ctx, unsigned char *out, unsigned int *outLength);

/* ---- MACs ----------------------------------------------------------------------------- */

typedef struct _WJC_MAC_CTX WJC_MAC_CTX;
typedef WJC_MAC_CTX WJ_HMAC_CTX;

QRT_API WJC_MAC_CTX *WJC_MAC_CTX_New(void);
QRT_API void WJC_MAC_CTX_Free(WJC_MAC_CTX *ctx);
/* param: the RC2 effective bits (CBC-MAC 518) or RC5 rounds (520); ignored otherwise, may be NULL.
 * Key lengths are those of the hash (HMAC: any length) or the cipher. Final: out has room for
 * WJ_MAC_MAX_LENGTH bytes. */
QRT_API int WJC_MAC_Init(WJC_MAC_CTX *ctx, const WJ_SECRET_KEY *key, int alg, const unsigned int *param);
QRT_API int WJC_MAC_Update(WJC_MAC_CTX *ctx, const unsigned char *in, unsigned int inLength);
QRT_API int WJC_MAC_Final(WJC_MAC_CTX *ctx, unsigned char *out, unsigned int *outLength);
/* One shot; reuses per-thread state, so it allocates nothing per call for HMAC. */
QRT_API int WJC_MAC(unsigned char *out, unsigned int *outLength, const unsigned char *in, unsigned int inLength,
                    const WJ_SECRET_KEY *key, int alg, const unsigned int *param);
/* Length of the MAC value in bytes; WJ_ERR_UNKNOWN_ID. */
QRT_API int WJC_MAC_GetLength(int alg);

/* HMAC with a hash number (WJ_HASH_...), as a primitive; ctx from WJC_MAC_CTX_New. */
QRT_API int WJ_HMAC_Init(WJ_HMAC_CTX *ctx, int hashAlg, const unsigned char *key, unsigned int keyLength);
QRT_API int WJ_HMAC_Update(WJ_HMAC_CTX *ctx, const unsigned char *in, unsigned int inLength);
QRT_API int WJ_HMAC_Final(WJ_HMAC_CTX *ctx, unsigned char *out, unsigned int *outLength);

/* ---- Random --------------------------------------------------------------------------- */

/* Bytes from the core's DRBG (a private OpenSSL DRBG seeded by the system). */
QRT_API int WJC_GetRandom(unsigned char *out, unsigned int length);
/* Mixes seed into the DRBG as additional input; the system entropy stays its source. */
QRT_API int WJC_UpdateRandom(const unsigned char *seed, unsigned int length);
QRT_API int WJ_GetRandom(unsigned char *out, unsigned int length);

/* ---- Big integers ----------------------------------------------------------------------- */

/* A signed integer in 32-bit words, least significant first. Length words are in use (at least
 * one; zero is {Length 1, Data[0] 0}), MemLength are allocated. Sign: 0 non-negative, 1 negative. */
typedef unsigned int WJ_WORD;
typedef struct _WJ_BigInt {
    unsigned int MemLength;
    unsigned int Length;
    int Sign;
    WJ_WORD *Data;
} WJ_BigInt;

/* A zero with room for words (at least 1); NULL when memory fails. */
QRT_API WJ_BigInt *WJ_BigInt_New(unsigned int words);
/* Wipes and releases; NULL is allowed. */
QRT_API void WJ_BigInt_Free(WJ_BigInt *a);
/* dst := src (dst grows as needed). */
QRT_API int WJ_BigInt_Copy(WJ_BigInt *dst, const WJ_BigInt *src);
/* 0 when equal, 1 when a > b, -1 when a < b (signed comparison). */
QRT_API int WJ_BigInt_Cmp(const WJ_BigInt *a, const WJ_BigInt *b);
/* Sets a to zero, wiping its words; keeps the memory. */
QRT_API int WJ_BigInt_Reset(WJ_BigInt *a);
/* Grows the memory to at least words, keeping the value. */
QRT_API int WJ_BigInt_Realloc(WJ_BigInt *a, unsigned int words);
/* Bits and bytes of the magnitude (0 for zero). */
QRT_API unsigned int WJ_BigInt_GetBitLength(const WJ_BigInt *a);
QRT_API unsigned int WJ_BigInt_GetByteLength(const WJ_BigInt *a);
/* Magnitude as big-endian bytes in its minimal length (one 0 byte for zero). out NULL: only
 * *outLength is set to the length needed; otherwise *outLength holds the room of out on entry. */
QRT_API int WJ_BigInt_IntToBytes(unsigned char *out, unsigned int *outLength, const WJ_BigInt *a);
/* a := the non-negative big-endian integer in, growing a as needed; leading zeros are dropped. */
QRT_API int WJ_BigInt_BytesToInt(WJ_BigInt *a, const unsigned char *in, unsigned int inLength);
/* DER INTEGER (tag 02), two's complement, minimal. out/outLength as for IntToBytes. */
QRT_API int WJ_BigInt_DerEncode(unsigned char *out, unsigned int *outLength, const WJ_BigInt *a);
/* Reads one DER INTEGER spanning exactly inLength bytes: WJ_ERR_SHORT_INPUT when its length runs
 * past the input, WJ_ERR_BAD_DER for anything else malformed. */
QRT_API int WJ_BigInt_DerDecode(WJ_BigInt *a, const unsigned char *in, unsigned int inLength);

/* ---- Big-integer arithmetic (public-key issue) -------------------------------------------
 * WJ_BigInt_Add, _Sub, _Mod, _ModMul, _ModExp, _ModInverse, _GenerateRandom,
 * _GenerateRandomPrime go here.
 */

/* A pool of temporaries: Pop hands out a zero of at least words (reusing pushed integers),
 * Push takes one back (wiping it). Free releases the pool and everything in it; integers still
 * out stay the caller's (release them with WJ_BigInt_Free). */
typedef struct _WJ_POOL_CTX WJ_POOL_CTX;
QRT_API WJ_POOL_CTX *WJ_POOL_CTX_New(void);
QRT_API void WJ_POOL_CTX_Free(WJ_POOL_CTX *pool);
QRT_API WJ_BigInt *WJ_POOL_CTX_Pop(WJ_POOL_CTX *pool, unsigned int words);
QRT_API int WJ_POOL_CTX_Push(WJ_POOL_CTX *pool, WJ_BigInt *a);

/* ---- Public-key primitives (public-key issue) ---------------------------------------------
 * Generic numbers: 1 RSA, 3 DH, 4 DSA, 5 KCDSA, 12 ECDSA, 13 EC-KCDSA.
 * RSA and PKCS#1:   WJ_RSA_PublicKey_New/_Free, WJ_RSA_PrivateKey_New/_Free, WJ_RSA_GenerateKey,
 *                   WJ_RSA_PublicKeyExp, WJ_RSA_PrivateKeyExp, WJ_PKCS1_PublicKey_Encode/_Decode,
 *                   WJ_PKCS1_PrivateKey_Encode/_Decode, WJ_PKCS1_V15_Encrypt/_Decrypt/_Sign/_Verify,
 *                   WJ_PKCS1_PSS_Sign/_Verify.
 * DH, DSA, KCDSA:   WJ_<ALG>_Parameters_New/_Decode/_Free, WJ_DH_ComputeSharedSecret,
 *                   WJ_<ALG>_Signature_New/_Decode/_Encode/_Free, _Sign, _Verify, WJ_KCDSA_Hash.
 * EC:               WJ_EC_Point_New/_Free, WJ_EC_GeneratorOf, WJ_EC_OrderOf, WJ_EC_Mul, WJ_EC_MulPre,
 *                   WJ_EC_Cmp, WJ_ECDSA_..., WJ_ECKCDSA_..., WJ_ECKCDSA_Hash.
 * Generic:          WJC_PKEY_Parameters_New/_Free/_Decode/_Encode, WJC_PKEY_GenerateParameters,
 *                   WJC_PKEY_PublicKey_/PrivateKey_ New/Free/FromBinary/ToBinary,
 *                   WJC_PKEY_GenerateKeyPair, WJC_PKEY_Encrypt/_Decrypt, WJC_PKEY_Sign/_Verify.
 * They are gated like every other operation (see the module states above).
 */

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_SUITE_CRYPTO_H */
