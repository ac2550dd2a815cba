/*
 * libOstrelCrypto: the crypto core.
 *
 * Two layers over one implementation (OpenSSL 3 libcrypto underneath, plus MD2, HAS-160, RC5-32,
 * KCDSA and EC-KCDSA written here):
 *   WJC_  the context API the crypto service provider uses: module states, cipher, hash and MAC
 *         contexts, secret keys, random numbers and the generic public-key calls;
 *   WJ_   the primitives that other callers use directly: hashes, HMAC, random bytes, the
 *         big-integer record, its arithmetic and pool, RSA and PKCS#1, DH, DSA, KCDSA, EC
 *         points, ECDSA and EC-KCDSA.
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

#include "suite_crypto_codes.h"

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

/* ---- Password-based key derivation ------------------------------------------------------ */

/* The iteration loops hash one digest per step on saved states (HMAC inner and outer state made
 * once): no allocation and no context per iteration for SHA-1 and SHA-224/256/384/512; other
 * hashes take the general hash path. out receives outLength bytes. WJ_ERR_BAD_ARGUMENT for NULL
 * pointers with a nonzero length, outLength 0 or iterations 0; WJ_ERR_UNKNOWN_ID for a hash
 * the function does not take. */
/* T = H(password || salt), then T = H(T) iterations - 1 times; MD2, MD5 or SHA-1, outLength at
 * most the digest length. */
QRT_API int WJ_PBKDF1(unsigned char *out, unsigned int outLength, const unsigned char *password,
                      unsigned int passwordLength, const unsigned char *salt, unsigned int saltLength,
                      unsigned int iterations, int hashAlg);
/* PBKDF2 with HMAC over any hash of the core. */
QRT_API int WJ_PBKDF2_HMAC(unsigned char *out, unsigned int outLength, const unsigned char *password,
                           unsigned int passwordLength, const unsigned char *salt, unsigned int saltLength,
                           unsigned int iterations, int hashAlg);
/* The PKCS#12 key derivation: id 1 key material, 2 IV, 3 MAC key; password in its BMPString
 * form with the terminator (length 0: no password block). Hashes with a fast path only. */
QRT_API int WJ_PKCS12_KDF(unsigned char *out, unsigned int outLength, const unsigned char *password,
                          unsigned int passwordLength, const unsigned char *salt, unsigned int saltLength,
                          unsigned int iterations, int id, int hashAlg);

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

/* ---- Big-integer arithmetic --------------------------------------------------------------
 * r may be the same record as an input; it grows as needed. The modular functions need a
 * positive modulus m (WJ_ERR_BAD_ARGUMENT otherwise) and give a result in [0, m), reducing a
 * negative input to its non-negative residue.
 */

QRT_API int WJ_BigInt_Add(WJ_BigInt *r, const WJ_BigInt *a, const WJ_BigInt *b);
QRT_API int WJ_BigInt_Sub(WJ_BigInt *r, const WJ_BigInt *a, const WJ_BigInt *b);
QRT_API int WJ_BigInt_Mul(WJ_BigInt *r, const WJ_BigInt *a, const WJ_BigInt *b);
QRT_API int WJ_BigInt_Mod(WJ_BigInt *r, const WJ_BigInt *a, const WJ_BigInt *m);
QRT_API int WJ_BigInt_ModMul(WJ_BigInt *r, const WJ_BigInt *a, const WJ_BigInt *b, const WJ_BigInt *m);
/* r := a^e mod m for e >= 0. With an odd m the exponentiation takes the same time for every e of
 * a given length, so e may be a secret. */
QRT_API int WJ_BigInt_ModExp(WJ_BigInt *r, const WJ_BigInt *a, const WJ_BigInt *e, const WJ_BigInt *m);
/* r := a^-1 mod m; WJ_ERR_NOT_INVERTIBLE when there is none. */
QRT_API int WJ_BigInt_ModInverse(WJ_BigInt *r, const WJ_BigInt *a, const WJ_BigInt *m);
/* r := uniformly random in [0, 2^bits), from the core's DRBG; bits 1..65536. */
QRT_API int WJ_BigInt_GenerateRandom(WJ_BigInt *r, unsigned int bits);
/* r := a random prime of exactly bits bits (16..8192). */
QRT_API int WJ_BigInt_GenerateRandomPrime(WJ_BigInt *r, unsigned int bits);
/* 1 when a is (with overwhelming probability) prime, 0 when not, a negative code on failure. */
QRT_API int WJ_BigInt_IsPrime(const WJ_BigInt *a);

/* A pool of temporaries: Pop hands out a zero of at least words (reusing pushed integers),
 * Push takes one back (wiping it). Free releases the pool and everything in it; integers still
 * out stay the caller's (release them with WJ_BigInt_Free). */
typedef struct _WJ_POOL_CTX WJ_POOL_CTX;
QRT_API WJ_POOL_CTX *WJ_POOL_CTX_New(void);
QRT_API void WJ_POOL_CTX_Free(WJ_POOL_CTX *pool);
QRT_API WJ_BigInt *WJ_POOL_CTX_Pop(WJ_POOL_CTX *pool, unsigned int words);
QRT_API int WJ_POOL_CTX_Push(WJ_POOL_CTX *pool, WJ_BigInt *a);

/* ---- Public-key primitives --------------------------------------------------------------
 *
 * Conventions of this part:
 * - Output buffers: out NULL asks for the length (in *outLength); otherwise *outLength holds the
 *   room of out on entry (WJ_ERR_BUFFER_SMALL when short) and the bytes written on return.
 * - Key, parameter and signature records come from their _New function and are released with
 *   _Free, which wipes the values. Their WJ_BigInt fields may be read and set by the caller; the
 *   `internal` member holds the core's cached OpenSSL objects (rebuilt when the values change)
 *   and is not to be touched. A record may be used by several threads at once for signing,
 *   verifying and encrypting; changing its values while another thread uses it is not allowed.
 * - DER: strict (definite minimal lengths); WJ_ERR_SHORT_INPUT when a length runs past the input,
 *   WJ_ERR_BAD_DER for anything else malformed.
 * - A signature that does not verify gives WJ_ERR_RSA_VERIFY, WJ_ERR_DSA_VERIFY,
 *   WJ_ERR_KCDSA_VERIFY, WJ_ERR_ECDSA_VERIFY or WJ_ERR_ECKCDSA_VERIFY; other codes mean the
 *   check could not be made (bad arguments, unknown hash).
 * - Secrets (RSA private operations, exponents and scalars of signing and key agreement) are
 *   processed with OpenSSL's constant-time routines.
 * Every function here is gated like the other operations (see the module states above).
 */

/* Generic public-key algorithm numbers. */
#define WJ_PKEY_RSA 1
#define WJ_PKEY_DH 3
#define WJ_PKEY_DSA 4
#define WJ_PKEY_KCDSA 5
#define WJ_PKEY_ECDSA 12
#define WJ_PKEY_ECKCDSA 13

/* ---- RSA and PKCS#1 ---- */

typedef struct _WJ_RSA_PublicKey {
    WJ_BigInt *n;
    WJ_BigInt *e;
    void *internal;
} WJ_RSA_PublicKey;

/* p, q, dP, dQ, qInv may be zero: the private operation then runs without the CRT. */
typedef struct _WJ_RSA_PrivateKey {
    WJ_BigInt *n;
    WJ_BigInt *e;
    WJ_BigInt *d;
    WJ_BigInt *p;
    WJ_BigInt *q;
    WJ_BigInt *dP;   /* d mod (p - 1) */
    WJ_BigInt *dQ;   /* d mod (q - 1) */
    WJ_BigInt *qInv; /* q^-1 mod p */
    void *internal;
} WJ_RSA_PrivateKey;

/* Records whose integers are zero; NULL when memory fails. */
QRT_API WJ_RSA_PublicKey *WJ_RSA_PublicKey_New(void);
QRT_API void WJ_RSA_PublicKey_Free(WJ_RSA_PublicKey *key);
QRT_API WJ_RSA_PrivateKey *WJ_RSA_PrivateKey_New(void);
QRT_API void WJ_RSA_PrivateKey_Free(WJ_RSA_PrivateKey *key);

/* A new key of bytes * 8 bits (bytes 64..1024) with public exponent e (0 for 65537; odd, at least
 * 3). pub (may be NULL) receives the public half. */
QRT_API int WJ_RSA_GenerateKey(WJ_RSA_PrivateKey *priv, WJ_RSA_PublicKey *pub, unsigned int bytes, unsigned long e);

/* The raw operations: out := in^e mod n (public) or in^d mod n (private, with blinding), written
 * as exactly the modulus length. in is a big-endian integer below n of at most the modulus
 * length (WJ_ERR_BAD_ARGUMENT otherwise). */
QRT_API int WJ_RSA_PublicKeyExp(unsigned char *out, unsigned int *outLength, const unsigned char *in,
                                unsigned int inLength, const WJ_RSA_PublicKey *key);
QRT_API int WJ_RSA_PrivateKeyExp(unsigned char *out, unsigned int *outLength, const unsigned char *in,
                                 unsigned int inLength, const WJ_RSA_PrivateKey *key);

/* PKCS#1 RSAPublicKey and RSAPrivateKey (version 0) DER. The decoders read one SEQUENCE at the
 * start of the input (bytes after it are ignored); WJ_ERR_BAD_ARGUMENT for NULL. A decoded
 * private key must have all eight integers non-zero; moduli over 16384 bits are refused. */
QRT_API int WJ_PKCS1_PublicKey_Encode(unsigned char *out, unsigned int *outLength, const WJ_RSA_PublicKey *key);
QRT_API int WJ_PKCS1_PublicKey_Decode(WJ_RSA_PublicKey *key, const unsigned char *in, unsigned int inLength);
QRT_API int WJ_PKCS1_PrivateKey_Encode(unsigned char *out, unsigned int *outLength, const WJ_RSA_PrivateKey *key);
QRT_API int WJ_PKCS1_PrivateKey_Decode(WJ_RSA_PrivateKey *key, const unsigned char *in, unsigned int inLength);

/* PKCS#1 v1.5 encryption: in at most modulus length - 11 bytes; the output is the modulus length.
 * Decrypt: WJ_ERR_DECRYPT_FAILED for anything that is not a well-formed block. */
QRT_API int WJ_PKCS1_V15_Encrypt(unsigned char *out, unsigned int *outLength, const unsigned char *in,
                                 unsigned int inLength, const WJ_RSA_PublicKey *key);
QRT_API int WJ_PKCS1_V15_Decrypt(unsigned char *out, unsigned int *outLength, const unsigned char *in,
                                 unsigned int inLength, const WJ_RSA_PrivateKey *key);

/* PKCS#1 v1.5 signatures. hashAlg WJ_HASH_... : digest is that hash's value and is signed inside
 * its DigestInfo. hashAlg -1: digest is signed as it is (at most modulus length - 11 bytes). A
 * signature shorter than the modulus is read as left-padded with zeros. */
QRT_API int WJ_PKCS1_V15_Sign(unsigned char *out, unsigned int *outLength, int hashAlg, const unsigned char *digest,
                              unsigned int digestLength, const WJ_RSA_PrivateKey *key);
QRT_API int WJ_PKCS1_V15_Verify(const unsigned char *signature, unsigned int signatureLength, int hashAlg,
                                const unsigned char *digest, unsigned int digestLength, const WJ_RSA_PublicKey *key);

/* Mask generation for PSS and OAEP: MGF1 with the message hash, or with a hash of its own. */
#define WJ_MGF1_SAME_HASH 1
#define WJ_MGF1_SHA1 2
#define WJ_MGF1_SHA256 3
#define WJ_MGF1_SHA384 4
#define WJ_MGF1_SHA512 5

/* PSS with hashAlg (any hash of the core that OpenSSL offers: not MD2 or HAS-160), mgfAlg and
 * saltLength: 0 signs with a salt as long as the hash and verifies any salt length; n > 0 signs
 * with and demands exactly n bytes; WJ_PSS_SALT_EMPTY signs with and demands no salt. */
#define WJ_PSS_SALT_EMPTY (-1)
typedef struct _WJ_PSS_PARAM {
    int hashAlg;
    int mgfAlg;
    int saltLength;
} WJ_PSS_PARAM;
QRT_API int WJ_PKCS1_PSS_Sign(unsigned char *out, unsigned int *outLength, const unsigned char *digest,
                              unsigned int digestLength, const WJ_PSS_PARAM *param, const WJ_RSA_PrivateKey *key);
QRT_API int WJ_PKCS1_PSS_Verify(const unsigned char *signature, unsigned int signatureLength,
                                const unsigned char *digest, unsigned int digestLength, const WJ_PSS_PARAM *param,
                                const WJ_RSA_PublicKey *key);

/* OAEP with hashAlg and mgfAlg as for PSS and an optional label. */
typedef struct _WJ_OAEP_PARAM {
    int hashAlg;
    int mgfAlg;
    const unsigned char *label;
    unsigned int labelLength;
} WJ_OAEP_PARAM;
QRT_API int WJ_PKCS1_OAEP_Encrypt(unsigned char *out, unsigned int *outLength, const unsigned char *in,
                                  unsigned int inLength, const WJ_OAEP_PARAM *param, const WJ_RSA_PublicKey *key);
QRT_API int WJ_PKCS1_OAEP_Decrypt(unsigned char *out, unsigned int *outLength, const unsigned char *in,
                                  unsigned int inLength, const WJ_OAEP_PARAM *param, const WJ_RSA_PrivateKey *key);

/* ---- Discrete-log domain parameters: DH, DSA, KCDSA ----
 * One record serves the three. Encodings:
 *   DSA    Dss-Parms ::= SEQUENCE { p, q, g INTEGER }
 *   KCDSA  KCDSAParameters ::= SEQUENCE { p, q, g INTEGER, j INTEGER OPTIONAL,
 *                                         seed OCTET STRING OPTIONAL, count INTEGER OPTIONAL }
 *   DH     DomainParameters ::= SEQUENCE { p, g, q INTEGER, j INTEGER OPTIONAL,
 *                                          validationParms SEQUENCE { seed BIT STRING,
 *                                                                     pgenCounter INTEGER } OPTIONAL }
 *          and PKCS#3 DHParameter ::= SEQUENCE { prime, base INTEGER,
 *                                                privateValueLength INTEGER OPTIONAL }
 *          (read when the third INTEGER is absent or below 2^32; written when q is zero).
 * The decoders check that p is odd and of at most 8192 bits, 2 <= g < p, and, where q is given,
 * that q divides p - 1.
 */
typedef struct _WJ_DL_Parameters {
    WJ_BigInt *p;
    WJ_BigInt *q; /* zero for PKCS#3 DH parameters */
    WJ_BigInt *g;
    WJ_BigInt *j;        /* KCDSA (p - 1) / 2q, X9.42 (p - 1) / q; NULL when absent */
    unsigned char *seed; /* seed of the generation (QRT_malloc), NULL when absent */
    unsigned int seedLength;
    int count;                       /* counter of the generation, -1 when absent */
    unsigned int privateValueLength; /* PKCS#3 only, 0 when absent */
    void *internal;
} WJ_DL_Parameters;
typedef WJ_DL_Parameters WJ_DH_Parameters;
typedef WJ_DL_Parameters WJ_DSA_Parameters;
typedef WJ_DL_Parameters WJ_KCDSA_Parameters;

QRT_API WJ_DH_Parameters *WJ_DH_Parameters_New(void);
QRT_API void WJ_DH_Parameters_Free(WJ_DH_Parameters *params);
QRT_API int WJ_DH_Parameters_Decode(WJ_DH_Parameters *params, const unsigned char *in, unsigned int inLength);
QRT_API int WJ_DH_Parameters_Encode(unsigned char *out, unsigned int *outLength, const WJ_DH_Parameters *params);
QRT_API WJ_DSA_Parameters *WJ_DSA_Parameters_New(void);
QRT_API void WJ_DSA_Parameters_Free(WJ_DSA_Parameters *params);
QRT_API int WJ_DSA_Parameters_Decode(WJ_DSA_Parameters *params, const unsigned char *in, unsigned int inLength);
QRT_API int WJ_DSA_Parameters_Encode(unsigned char *out, unsigned int *outLength, const WJ_DSA_Parameters *params);
QRT_API WJ_KCDSA_Parameters *WJ_KCDSA_Parameters_New(void);
QRT_API void WJ_KCDSA_Parameters_Free(WJ_KCDSA_Parameters *params);
QRT_API int WJ_KCDSA_Parameters_Decode(WJ_KCDSA_Parameters *params, const unsigned char *in, unsigned int inLength);
QRT_API int WJ_KCDSA_Parameters_Encode(unsigned char *out, unsigned int *outLength, const WJ_KCDSA_Parameters *params);

/* New parameters with a prime p of primeBits (1024..4096) and a prime q of subprimeBits
 * (0 chooses 160 up to 1024-bit p, 224 up to 2048, 256 above). DH and DSA: FIPS 186-4 generation
 * by OpenSSL (DH in X9.42 form), with OpenSSL's seed and counter recorded. KCDSA: p = 2jq + 1 with
 * j and q prime, g = h^(2j) mod p for a random h, j recorded. */
QRT_API int WJ_DH_GenerateParameters(WJ_DH_Parameters *params, unsigned int primeBits, unsigned int subprimeBits);
QRT_API int WJ_DSA_GenerateParameters(WJ_DSA_Parameters *params, unsigned int primeBits, unsigned int subprimeBits);
QRT_API int WJ_KCDSA_GenerateParameters(WJ_KCDSA_Parameters *params, unsigned int primeBits, unsigned int subprimeBits);

/* Key pairs into caller records: DH and DSA y = g^x mod p, KCDSA y = g^(x^-1 mod q) mod p, with x
 * in [1, q - 1] (DH without q: x of privateValueLength bits, else |p| - 1 bits). */
QRT_API int WJ_DH_GenerateKey(WJ_BigInt *x, WJ_BigInt *y, const WJ_DH_Parameters *params);
QRT_API int WJ_DSA_GenerateKey(WJ_BigInt *x, WJ_BigInt *y, const WJ_DSA_Parameters *params);
QRT_API int WJ_KCDSA_GenerateKey(WJ_BigInt *x, WJ_BigInt *y, const WJ_KCDSA_Parameters *params);

/* secret := peerY^x mod p, after checking 1 < peerY < p - 1 (and peerY^q = 1 where q is given):
 * WJ_ERR_BAD_ARGUMENT for a peer value that fails. */
QRT_API int WJ_DH_ComputeSharedSecret(WJ_BigInt *secret, const WJ_DH_Parameters *params, const WJ_BigInt *x,
                                      const WJ_BigInt *peerY);

/* ---- DSA and ECDSA signatures: Dss-Sig-Value / ECDSA-Sig-Value ::= SEQUENCE { r, s INTEGER } */
typedef struct _WJ_DSA_Signature {
    WJ_BigInt *r;
    WJ_BigInt *s;
} WJ_DSA_Signature;
typedef WJ_DSA_Signature WJ_ECDSA_Signature;

QRT_API WJ_DSA_Signature *WJ_DSA_Signature_New(void);
QRT_API void WJ_DSA_Signature_Free(WJ_DSA_Signature *sig);
QRT_API int WJ_DSA_Signature_Encode(unsigned char *out, unsigned int *outLength, const WJ_DSA_Signature *sig);
QRT_API int WJ_DSA_Signature_Decode(WJ_DSA_Signature *sig, const unsigned char *in, unsigned int inLength);

/* digest: a hash value of any length (its leftmost |q| bits are used). */
QRT_API int WJ_DSA_Sign(WJ_DSA_Signature *sig, const unsigned char *digest, unsigned int digestLength,
                        const WJ_BigInt *x, const WJ_DSA_Parameters *params);
QRT_API int WJ_DSA_Verify(const WJ_DSA_Signature *sig, const unsigned char *digest, unsigned int digestLength,
                          const WJ_BigInt *y, const WJ_DSA_Parameters *params);

/* ---- KCDSA and EC-KCDSA signatures: SEQUENCE { r BIT STRING, s INTEGER } ----
 * r is a (cut) hash output of rLength bytes. */
typedef struct _WJ_KCDSA_Signature {
    unsigned char r[WJ_HASH_MAX_LENGTH];
    unsigned int rLength;
    WJ_BigInt *s;
} WJ_KCDSA_Signature;
typedef WJ_KCDSA_Signature WJ_ECKCDSA_Signature;

QRT_API WJ_KCDSA_Signature *WJ_KCDSA_Signature_New(void);
QRT_API void WJ_KCDSA_Signature_Free(WJ_KCDSA_Signature *sig);
QRT_API int WJ_KCDSA_Signature_Encode(unsigned char *out, unsigned int *outLength, const WJ_KCDSA_Signature *sig);
QRT_API int WJ_KCDSA_Signature_Decode(WJ_KCDSA_Signature *sig, const unsigned char *in, unsigned int inLength);

/*
 * KCDSA (TTAK.KO-12.0001/R4) with any hash of the core.
 * Hash: out := H(z || msg) in full (room for WJ_HASH_MAX_LENGTH bytes), with z = y mod 2^l written
 * as l/8 bytes, l the block size of the hash in bits (512, or 1024 for SHA-384 and SHA-512).
 * Sign: hash is that value; with a random k, w = g^k mod p, r = H(w as |p|/8 bytes),
 * e = (r XOR h) mod q, s = x(k - e) mod q, where r and h are cut to their rightmost |q|/8 bytes
 * when the hash is longer than q.
 * Verify: w' = y^s g^e mod p and r = H(w'); a signature whose r has the full hash length is
 * checked without the cut (the form of signers before the rightmost-bytes rule).
 */
QRT_API int WJ_KCDSA_Hash(unsigned char *out, unsigned int *outLength, const unsigned char *msg, unsigned int msgLength,
                          int hashAlg, const WJ_BigInt *y);
QRT_API int WJ_KCDSA_Sign(WJ_KCDSA_Signature *sig, const unsigned char *hash, unsigned int hashLength, int hashAlg,
                          const WJ_BigInt *x, const WJ_KCDSA_Parameters *params);
QRT_API int WJ_KCDSA_Verify(const WJ_KCDSA_Signature *sig, const unsigned char *hash, unsigned int hashLength,
                            int hashAlg, const WJ_BigInt *y, const WJ_KCDSA_Parameters *params);

/* ---- Elliptic curves ----
 * Named curves (our numbers, shared by ECDSA and EC-KCDSA); a curve this build of OpenSSL lacks
 * gives WJ_ERR_UNKNOWN_ID. Parameters are encoded as ECParameters with the namedCurve OBJECT
 * IDENTIFIER; explicit parameters are read when they are those of a curve of the table.
 */
#define WJ_EC_CURVE_P192 1  /* secp192r1 */
#define WJ_EC_CURVE_P224 2  /* secp224r1 */
#define WJ_EC_CURVE_P256 3  /* secp256r1 */
#define WJ_EC_CURVE_P384 4  /* secp384r1 */
#define WJ_EC_CURVE_P521 5  /* secp521r1 */
#define WJ_EC_CURVE_K233 11 /* sect233k1 */
#define WJ_EC_CURVE_B233 12 /* sect233r1 */
#define WJ_EC_CURVE_K283 13 /* sect283k1 */
#define WJ_EC_CURVE_B283 14 /* sect283r1 */
#define WJ_EC_CURVE_BRAINPOOL_P224 21
#define WJ_EC_CURVE_BRAINPOOL_P256 22
#define WJ_EC_CURVE_BRAINPOOL_P384 23
#define WJ_EC_CURVE_BRAINPOOL_P512 24
#define WJ_EC_CURVE_SECP256K1 31

typedef struct _WJ_EC_Parameters {
    int curve; /* WJ_EC_CURVE_..., 0 when not set */
    void *internal;
} WJ_EC_Parameters;
typedef WJ_EC_Parameters WJ_ECDSA_Parameters;
typedef WJ_EC_Parameters WJ_ECKCDSA_Parameters;

QRT_API WJ_EC_Parameters *WJ_ECDSA_Parameters_New(void);
QRT_API void WJ_ECDSA_Parameters_Free(WJ_EC_Parameters *params);
QRT_API int WJ_ECDSA_Parameters_Decode(WJ_EC_Parameters *params, const unsigned char *in, unsigned int inLength);
QRT_API int WJ_ECDSA_Parameters_Encode(unsigned char *out, unsigned int *outLength, const WJ_EC_Parameters *params);
/* Sets params to a named curve. */
QRT_API int WJ_ECDSA_Parameters_SetCurve(WJ_EC_Parameters *params, int curve);
QRT_API WJ_EC_Parameters *WJ_ECKCDSA_Parameters_New(void);
QRT_API void WJ_ECKCDSA_Parameters_Free(WJ_EC_Parameters *params);
QRT_API int WJ_ECKCDSA_Parameters_Decode(WJ_EC_Parameters *params, const unsigned char *in, unsigned int inLength);
QRT_API int WJ_ECKCDSA_Parameters_Encode(unsigned char *out, unsigned int *outLength, const WJ_EC_Parameters *params);
QRT_API int WJ_ECKCDSA_Parameters_SetCurve(WJ_EC_Parameters *params, int curve);
/* OpenSSL's short name of a curve ("prime256v1", ...), NULL when unknown. */
QRT_API const char *WJ_EC_CurveName(int curve);

/* A point on the curve of the parameters it was made for (the point at infinity when new). */
typedef struct _WJ_EC_POINT WJ_EC_POINT;
QRT_API WJ_EC_POINT *WJ_EC_Point_New(const WJ_EC_Parameters *curve);
QRT_API void WJ_EC_Point_Free(WJ_EC_POINT *point);
/* SEC 1 octets: 04 X Y, or 02/03 X when compressed is nonzero. */
QRT_API int WJ_EC_Point_Encode(unsigned char *out, unsigned int *outLength, const WJ_EC_POINT *point, int compressed);
QRT_API int WJ_EC_GeneratorOf(WJ_EC_POINT *g, const WJ_EC_Parameters *params);
QRT_API int WJ_EC_OrderOf(WJ_BigInt *n, const WJ_EC_Parameters *params);
/* r := k * p, and r := k * G. */
QRT_API int WJ_EC_Mul(WJ_EC_POINT *r, const WJ_BigInt *k, const WJ_EC_POINT *p, const WJ_EC_Parameters *params);
QRT_API int WJ_EC_MulPre(WJ_EC_POINT *r, const WJ_BigInt *k, const WJ_EC_Parameters *params);
/* 0 when equal, 1 when not, a negative code on failure. */
QRT_API int WJ_EC_Cmp(const WJ_EC_POINT *a, const WJ_EC_POINT *b, const WJ_EC_Parameters *params);

/* A public point from SEC 1 octets (04, 02 or 03 forms), checked to lie on the curve of params
 * and not to be the point at infinity; point must be made for the same curve. */
QRT_API int WJ_ECDSA_PublicKey_Decode(WJ_EC_POINT *point, const unsigned char *in, unsigned int inLength,
                                      const WJ_EC_Parameters *params);
QRT_API int WJ_ECKCDSA_PublicKey_Decode(WJ_EC_POINT *point, const unsigned char *in, unsigned int inLength,
                                        const WJ_EC_Parameters *params);
/* Key pairs: d in [1, n - 1]; ECDSA Q = d G, EC-KCDSA Q = (d^-1 mod n) G. */
QRT_API int WJ_ECDSA_GenerateKey(WJ_BigInt *d, WJ_EC_POINT *q, const WJ_EC_Parameters *params);
QRT_API int WJ_ECKCDSA_GenerateKey(WJ_BigInt *d, WJ_EC_POINT *q, const WJ_EC_Parameters *params);

QRT_API WJ_ECDSA_Signature *WJ_ECDSA_Signature_New(void);
QRT_API void WJ_ECDSA_Signature_Free(WJ_ECDSA_Signature *sig);
QRT_API int WJ_ECDSA_Signature_Encode(unsigned char *out, unsigned int *outLength, const WJ_ECDSA_Signature *sig);
QRT_API int WJ_ECDSA_Signature_Decode(WJ_ECDSA_Signature *sig, const unsigned char *in, unsigned int inLength);
/* digest: a hash value of any length (its leftmost |n| bits are used). */
QRT_API int WJ_ECDSA_Sign(WJ_ECDSA_Signature *sig, const unsigned char *digest, unsigned int digestLength,
                          const WJ_BigInt *d, const WJ_EC_Parameters *params);
QRT_API int WJ_ECDSA_Verify(const WJ_ECDSA_Signature *sig, const unsigned char *digest, unsigned int digestLength,
                            const WJ_EC_POINT *q, const WJ_EC_Parameters *params);

/*
 * EC-KCDSA (TTAK.KO-12.0015/R3, ISO/IEC 14888-3) with any hash of the core.
 * Hash: out := H(z || msg) in full, z = the first l/8 bytes of X(Q) || Y(Q) (field-length
 * octets), zero-padded on the right; l as for KCDSA.
 * Sign: W = k G, r = H(X(W)), e = (r XOR h) mod n, s = d(k - e) mod n, where r and h are cut to
 * their rightmost ceil(|n|/8) bytes when the hash is longer. Verify: W' = s Q + e G,
 * r = H(X(W')); a signature whose r has the full hash length is checked without the cut.
 */
QRT_API WJ_ECKCDSA_Signature *WJ_ECKCDSA_Signature_New(void);
QRT_API void WJ_ECKCDSA_Signature_Free(WJ_ECKCDSA_Signature *sig);
QRT_API int WJ_ECKCDSA_Signature_Encode(unsigned char *out, unsigned int *outLength, const WJ_ECKCDSA_Signature *sig);
QRT_API int WJ_ECKCDSA_Signature_Decode(WJ_ECKCDSA_Signature *sig, const unsigned char *in, unsigned int inLength);
QRT_API int WJ_ECKCDSA_Hash(unsigned char *out, unsigned int *outLength, const unsigned char *msg,
                            unsigned int msgLength, int hashAlg, const WJ_EC_Parameters *params, const WJ_EC_POINT *q);
QRT_API int WJ_ECKCDSA_Sign(WJ_ECKCDSA_Signature *sig, const unsigned char *hash, unsigned int hashLength, int hashAlg,
                            const WJ_BigInt *d, const WJ_EC_Parameters *params);
QRT_API int WJ_ECKCDSA_Verify(const WJ_ECKCDSA_Signature *sig, const unsigned char *hash, unsigned int hashLength,
                              int hashAlg, const WJ_EC_POINT *q, const WJ_EC_Parameters *params);

/* TEST HOOK, not for production use: the next KCDSA or EC-KCDSA signature made by the calling
 * thread uses k (big-endian, length bytes) instead of a random value, then the hook clears
 * itself. length 0 clears it at once. Lets tests reproduce published signatures. */
QRT_API int WJ_Test_SetFixedK(const unsigned char *k, unsigned int length);

/* ---- The generic interface ----
 *
 * Parameter and key objects for any algorithm number above. Binary key forms:
 *   RSA          public: PKCS#1 RSAPublicKey; private: PKCS#1 RSAPrivateKey.
 *   the others   OstrelPublicKey  ::= SEQUENCE { algorithm INTEGER, parameters <the DER of the
 *                                                algorithm's parameters>, public }
 *                OstrelPrivateKey ::= SEQUENCE { algorithm INTEGER, parameters, public,
 *                                                private INTEGER }
 *                public: INTEGER y (DH, DSA, KCDSA) or OCTET STRING with the SEC 1 point
 *                (ECDSA, EC-KCDSA, uncompressed); private: x or d.
 * A key read from its binary form must be of the algorithm asked for (WJ_ERR_BAD_ARGUMENT).
 */
typedef struct _WJC_PKEY_PARAMETERS WJC_PKEY_PARAMETERS;
typedef struct _WJC_PKEY_PUBLIC_KEY WJC_PKEY_PUBLIC_KEY;
typedef struct _WJC_PKEY_PRIVATE_KEY WJC_PKEY_PRIVATE_KEY;

QRT_API WJC_PKEY_PARAMETERS *WJC_PKEY_Parameters_New(void);
QRT_API void WJC_PKEY_Parameters_Free(WJC_PKEY_PARAMETERS *params);
/* alg 3, 4, 5, 12 or 13 (RSA has no parameters: WJ_ERR_UNKNOWN_ID). */
QRT_API int WJC_PKEY_Parameters_Decode(WJC_PKEY_PARAMETERS *params, int alg, const unsigned char *in,
                                       unsigned int inLength);
QRT_API int WJC_PKEY_Parameters_Encode(unsigned char *out, unsigned int *outLength, const WJC_PKEY_PARAMETERS *params);
QRT_API int WJC_PKEY_Parameters_GetAlgorithm(const WJC_PKEY_PARAMETERS *params);

/* primeBits, subprimeBits: DH, DSA, KCDSA (as WJ_<ALG>_GenerateParameters); curve: ECDSA and
 * EC-KCDSA (WJ_EC_CURVE_...). */
typedef struct _WJC_PKEY_GENPARAM {
    unsigned int primeBits;
    unsigned int subprimeBits;
    int curve;
} WJC_PKEY_GENPARAM;
QRT_API int WJC_PKEY_GenerateParameters(WJC_PKEY_PARAMETERS *params, int alg, const WJC_PKEY_GENPARAM *gen);

QRT_API WJC_PKEY_PUBLIC_KEY *WJC_PKEY_PublicKey_New(void);
QRT_API void WJC_PKEY_PublicKey_Free(WJC_PKEY_PUBLIC_KEY *key);
QRT_API int WJC_PKEY_PublicKey_FromBinary(WJC_PKEY_PUBLIC_KEY *key, int alg, const unsigned char *in,
                                          unsigned int inLength);
QRT_API int WJC_PKEY_PublicKey_ToBinary(unsigned char *out, unsigned int *outLength, const WJC_PKEY_PUBLIC_KEY *key);
QRT_API int WJC_PKEY_PublicKey_GetAlgorithm(const WJC_PKEY_PUBLIC_KEY *key);
QRT_API WJC_PKEY_PRIVATE_KEY *WJC_PKEY_PrivateKey_New(void);
QRT_API void WJC_PKEY_PrivateKey_Free(WJC_PKEY_PRIVATE_KEY *key);
QRT_API int WJC_PKEY_PrivateKey_FromBinary(WJC_PKEY_PRIVATE_KEY *key, int alg, const unsigned char *in,
                                           unsigned int inLength);
QRT_API int WJC_PKEY_PrivateKey_ToBinary(unsigned char *out, unsigned int *outLength, const WJC_PKEY_PRIVATE_KEY *key);
QRT_API int WJC_PKEY_PrivateKey_GetAlgorithm(const WJC_PKEY_PRIVATE_KEY *key);

/* RSA: bits (512..8192) and e (0 for 65537), params NULL. Others: params of the algorithm, rsa
 * NULL. pub receives the public key with the parameters. */
typedef struct _WJC_PKEY_RSA_GENPARAM {
    unsigned int bits;
    unsigned long e;
} WJC_PKEY_RSA_GENPARAM;
QRT_API int WJC_PKEY_GenerateKeyPair(WJC_PKEY_PRIVATE_KEY *priv, WJC_PKEY_PUBLIC_KEY *pub, int alg,
                                     const WJC_PKEY_PARAMETERS *params, const WJC_PKEY_RSA_GENPARAM *rsa);

/* RSA encryption: op 1 PKCS#1 v1.5, 3 OAEP (oaep required). */
#define WJC_PKEY_ENC_V15 1
#define WJC_PKEY_ENC_OAEP 3
QRT_API int WJC_PKEY_Encrypt(unsigned char *out, unsigned int *outLength, const unsigned char *in,
                             unsigned int inLength, int op, const WJ_OAEP_PARAM *oaep, const WJC_PKEY_PUBLIC_KEY *key);
QRT_API int WJC_PKEY_Decrypt(unsigned char *out, unsigned int *outLength, const unsigned char *in,
                             unsigned int inLength, int op, const WJ_OAEP_PARAM *oaep, const WJC_PKEY_PRIVATE_KEY *key);

/*
 * Signature numbers of WJC_PKEY_Sign/_Verify:
 *   RSA v1.5  1 MD2, 2 MD5, 3 SHA-1, 4 SHA-256, 5 SHA-384, 6 SHA-512, 10 HAS-160,
 *             9 the data signed as it is (no hash, no DigestInfo; hashed must be nonzero);
 *   RSA PSS   11 and 31..34, hash and MGF from pss;
 *   KCDSA     16 SHA-1, 17 HAS-160, 18 SHA-256, 19 SHA-384, 20 SHA-512, 21 SHA-224;
 *   EC-KCDSA  22 SHA-1, 23 HAS-160, 24 SHA-224, 25 SHA-256, 26 SHA-384, 27 SHA-512.
 * hashed 0: data is the message and the core hashes it (KCDSA family: H(z || message));
 * hashed nonzero: data is that hash value already. params may be NULL to use the key's own.
 * Signatures: RSA the modulus-length octets; KCDSA family the DER form above.
 */
#define WJC_SIGN_RSA_MD2 1
#define WJC_SIGN_RSA_MD5 2
#define WJC_SIGN_RSA_SHA1 3
#define WJC_SIGN_RSA_SHA256 4
#define WJC_SIGN_RSA_SHA384 5
#define WJC_SIGN_RSA_SHA512 6
#define WJC_SIGN_RSA_RAW 9
#define WJC_SIGN_RSA_HAS160 10
#define WJC_SIGN_RSA_PSS 11
#define WJC_SIGN_KCDSA_SHA1 16
#define WJC_SIGN_KCDSA_HAS160 17
#define WJC_SIGN_KCDSA_SHA256 18
#define WJC_SIGN_KCDSA_SHA384 19
#define WJC_SIGN_KCDSA_SHA512 20
#define WJC_SIGN_KCDSA_SHA224 21
#define WJC_SIGN_ECKCDSA_SHA1 22
#define WJC_SIGN_ECKCDSA_HAS160 23
#define WJC_SIGN_ECKCDSA_SHA224 24
#define WJC_SIGN_ECKCDSA_SHA256 25
#define WJC_SIGN_ECKCDSA_SHA384 26
#define WJC_SIGN_ECKCDSA_SHA512 27
QRT_API int WJC_PKEY_Sign(unsigned char *out, unsigned int *outLength, int hashed, const unsigned char *data,
                          unsigned int dataLength, int signAlg, const WJC_PKEY_PRIVATE_KEY *key,
                          const WJC_PKEY_PARAMETERS *params, const WJ_PSS_PARAM *pss);
QRT_API int WJC_PKEY_Verify(const unsigned char *signature, unsigned int signatureLength, int hashed,
                            const unsigned char *data, unsigned int dataLength, int signAlg,
                            const WJC_PKEY_PUBLIC_KEY *key, const WJC_PKEY_PARAMETERS *params, const WJ_PSS_PARAM *pss);

/* The records inside the generic objects (NULL when the object holds another algorithm), for
 * callers that move between the two layers. They stay owned by the object. */
QRT_API const WJ_RSA_PublicKey *WJC_PKEY_PublicKey_GetRSA(const WJC_PKEY_PUBLIC_KEY *key);
QRT_API const WJ_RSA_PrivateKey *WJC_PKEY_PrivateKey_GetRSA(const WJC_PKEY_PRIVATE_KEY *key);

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_SUITE_CRYPTO_H */
