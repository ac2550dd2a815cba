/*
 * libOstrelCSP: the crypto service provider.
 *
 * The one library that calls the crypto core on behalf of the rest of the system: the shared
 * numbering of ciphers, modes, paddings, hashes and MACs, the streaming context, encryption,
 * decryption, hashing and MACs in Init/Update/Final and one-shot forms, random numbers, the
 * module-state gate, two BIN helpers, the library frame, and the public-key half: key decoding,
 * signatures, RSA encryption, key and parameter generation, key-pair proof, Diffie-Hellman and
 * the older RSA-only forms.
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

#include "suite_crypto.h"
#include "suite_io.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Codes ---------------------------------------------------------------------------- */

#include "suite_csp_codes.h"

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

/* ---- Public-key half ----------------------------------------------------------------------
 *
 * Keys and parameters travel as BINs:
 *   RSA                 public: PKCS#1 RSAPublicKey DER; private: PKCS#1 RSAPrivateKey DER.
 *   DH, DSA, KCDSA      parameters: the DER of the crypto core (suite_crypto.h); public y and
 *                       private x: each a DER INTEGER.
 *   ECDSA, EC-KCDSA     parameters: ECParameters DER (named curve); public: SEC 1 point octets;
 *                       private: a DER INTEGER.
 * The generic forms (QRT_CSP_GenerateKeyPair, QRT_CSP_PublicEncrypt/PrivateDecrypt and the
 * message-signature functions) are the core's binary key forms: PKCS#1 for RSA, the core's
 * OstrelPublicKey/OstrelPrivateKey DER (which carry the parameters) for the others.
 *
 * Decoding failures name the failing part: parameters 6032, public key 6031, private key 6030,
 * signature 6033. A signature that does not verify gives 6012.
 *
 * Speed: each thread keeps the last few keys it decoded (bounded, wiped when dropped and when
 * the thread ends), so signing or verifying again with the same key bytes reuses the core's
 * prepared key objects.
 */

#define QRT_CSP_PKEY_RSA 1
#define QRT_CSP_PKEY_DH 2
#define QRT_CSP_PKEY_DSA 3
#define QRT_CSP_PKEY_ECDSA 5
#define QRT_CSP_PKEY_KCDSA 11
#define QRT_CSP_PKEY_ECKCDSA 12
#define QRT_CSP_PKEY_RSAPSS 13 /* used by the certificate library for RSASSA-PSS keys */

/* Signature identifiers. The digest-level functions take a digest, except for 9 (the data
 * itself) and the KCDSA family (the message). */
#define QRT_CSP_SIGN_RSA_MD2 1
#define QRT_CSP_SIGN_RSA_MD5 2
#define QRT_CSP_SIGN_RSA_SHA1 3
#define QRT_CSP_SIGN_RSA_SHA256 4
#define QRT_CSP_SIGN_RSA_SHA384 5
#define QRT_CSP_SIGN_RSA_SHA512 6
#define QRT_CSP_SIGN_RSA_SHA224 7
#define QRT_CSP_SIGN_RSA_RAW 9
#define QRT_CSP_SIGN_RSA_HAS160 10
#define QRT_CSP_SIGN_RSA_PSS 11 /* also 31..34; hash and MGF from rsa_pss */
#define QRT_CSP_SIGN_DSA_SHA1 15
#define QRT_CSP_SIGN_ECDSA 16 /* also 41, 42 */
#define QRT_CSP_SIGN_KCDSA_SHA1 21
#define QRT_CSP_SIGN_KCDSA_HAS160 22
#define QRT_CSP_SIGN_ECKCDSA_SHA1 23
#define QRT_CSP_SIGN_ECKCDSA_HAS160 24
#define QRT_CSP_SIGN_KCDSA_SHA256 27
#define QRT_CSP_SIGN_KCDSA_SHA384 28
#define QRT_CSP_SIGN_KCDSA_SHA512 29
#define QRT_CSP_SIGN_KCDSA_SHA224 26
#define QRT_CSP_SIGN_ECKCDSA_SHA224 35
#define QRT_CSP_SIGN_ECKCDSA_SHA256 36
#define QRT_CSP_SIGN_ECKCDSA_SHA384 37
#define QRT_CSP_SIGN_ECKCDSA_SHA512 38

/* Public-key encryption identifiers. */
#define QRT_CSP_PENC_RSA_V15 1
#define QRT_CSP_PENC_RSA_OAEP 5

/* Named-curve numbers (ncid) are the crypto core's WJ_EC_CURVE_... numbers (P-224 2, P-256 3,
 * P-384 4, P-521 5, ...). */

/*
 * Signature parameters, by algorithm:
 *   rsa_pss   hashID: the hash numbering above (1, 2, 3, 6, 7, 8, 9); mgfID 1 MGF1 with that
 *             hash, 2..5 MGF1 with SHA-1, SHA-256, SHA-384, SHA-512.
 *             saltLength: 0 signs with a salt as long as the hash and verifies any salt; n > 0
 *             signs with and demands exactly n bytes; -1 signs with and demands no salt.
 *   dsa, ecdsa        pkeyParam: the domain parameters.
 *   kcdsa...          pkeyParam, pubKey (the signer's y, needed for signing), and hash: an
 *                     optional BIN with the KCDSA hash value H(z || message) already computed
 *                     (NULL or empty: computed from the message).
 *   eckcdsa           pkeyParam, pubKey (the signer's point, needed for signing).
 */
typedef union _ZQ_CSP_SignParam {
    struct {
        int hashID;
        int mgfID;
        int saltLength;
    } rsa_pss;
    struct {
        BIN *pkeyParam;
    } dsa, dsa_sha1, ecdsa;
    struct {
        BIN *pkeyParam;
        BIN *pubKey;
        BIN *hash;
    } kcdsa, kcdsa_sha1, kcdsa_has160;
    struct {
        BIN *pkeyParam;
        BIN *pubKey;
    } eckcdsa;
} ZQ_CSP_SignParam;

/* OAEP: hashID as for PSS (not 9), mgfID 1 and sourceID 1 only; source: the optional label. */
typedef union _ZQ_CSP_PEncParam {
    struct {
        int hashID;
        int mgfID;
        int sourceID;
        BIN *source;
    } rsa_oaep;
} ZQ_CSP_PEncParam;

/* rsa: keyLength in bits (512..8192), e the public exponent (0 for 65537). The others: the
 * domain parameters. */
typedef union _ZQ_CSP_GenKeyPairParam {
    struct {
        int keyLength;
        int e;
    } rsa;
    struct {
        BIN *pkeyParam;
    } dh, dsa, kcdsa, ecdsa, eckcdsa;
} ZQ_CSP_GenKeyPairParam;

/* Lengths in bits: DH primeLength and factorLength (0 chooses), DSA and KCDSA primeLength
 * (1024..4096; q of 160, 224 or 256 bits by size); EC ncid. */
typedef union _ZQ_CSP_GenParamParam {
    struct {
        int primeLength;
        int factorLength;
    } dh;
    struct {
        int primeLength;
    } dsa, kcdsa;
    struct {
        int ncid;
    } ecdsa, eckcdsa;
} ZQ_CSP_GenParamParam;

typedef union _ZQ_CSP_DKeyParam {
    struct {
        BIN *pkeyParam;
    } dh;
} ZQ_CSP_DKeyParam;

/* Key length in bytes: RSA the modulus; DH, DSA, KCDSA the value (param must be given); ECDSA and
 * EC-KCDSA the field length from the point octets. The Ex form reads a private key (for the EC
 * algorithms the field length of the curve of param, or the length of d without param). */
QRT_API int QRT_CSP_GetKeyLength(int *length, const BIN *publicKey, int pkeyID, const BIN *param);
QRT_API int QRT_CSP_GetKeyLengthEx(int *length, const BIN *privateKey, int pkeyID, const BIN *param);

/* Digest-level signatures (see the signature identifiers). DSA and ECDSA need a digest of at
 * least 20 bytes. KCDSA verification accepts a signer's z taken as y mod 2^l, as the low 512 bits
 * of y in 64 bytes, or as those bits in their minimal length. */
QRT_API int QRT_CSP_VerifySignature(const BIN *signature, const BIN *data, const BIN *publicKey, int signID,
                                    ZQ_CSP_SignParam *param);
QRT_API int QRT_CSP_ComputeSignature(BIN *signature, const BIN *data, const BIN *privateKey, int signID,
                                     ZQ_CSP_SignParam *param);

/* Whole-message signatures over the generic key forms: RSA 1..6, 9 (data as it is), 10, 11,
 * 31..34; KCDSA 21, 22, 26..29; EC-KCDSA 23, 24, 35..38 (param may give the domain parameters;
 * the key's own are used otherwise). DSA, ECDSA and RSA with SHA-224 (7): 6010. */
QRT_API int QRT_CSP_VerifyMsgSignature(const BIN *signature, const BIN *message, const BIN *publicKey, int signID,
                                       ZQ_CSP_SignParam *param);
QRT_API int QRT_CSP_ComputeMsgSignature(BIN *signature, const BIN *message, const BIN *privateKey, int signID,
                                        ZQ_CSP_SignParam *param);

/* z: exactly 64 bytes, y reduced to its low 512 bits, right-aligned. */
QRT_API int QRT_CSP_KCDSA_ComputeZ(BIN *z, const BIN *privateKey, const BIN *publicKey, const BIN *param);

/* RSA encryption with the generic key forms (encID 1 PKCS#1 v1.5, 5 OAEP). */
QRT_API int QRT_CSP_PublicEncrypt(BIN *out, const BIN *in, const BIN *publicKey, int encID, ZQ_CSP_PEncParam *param);
QRT_API int QRT_CSP_PrivateDecrypt(BIN *out, const BIN *in, const BIN *privateKey, int encID, ZQ_CSP_PEncParam *param);

/* Both keys in the generic forms (the public one with the parameters). A failure of the core is
 * returned with the core's own (negative) code. */
QRT_API int QRT_CSP_GenerateKeyPair(BIN *privateKey, BIN *publicKey, int pkeyID, ZQ_CSP_GenKeyPairParam *param);
/* Domain parameters as DER; core failures are returned with the core's code. */
QRT_API int QRT_CSP_GenerateParam(BIN *param, int pkeyID, ZQ_CSP_GenParamParam *genParam);

/* 0 when the keys belong together, 6013 when not. param is required except for RSA. */
QRT_API int QRT_CSP_ProveKeyPair(const BIN *privateKey, const BIN *publicKey, int pkeyID, const BIN *param);

/* Diffie-Hellman (algID 1): the shared secret, big-endian in its minimal length. */
QRT_API int QRT_CSP_DeriveKey(BIN *secret, const BIN *privateKey, const BIN *peerPublicKey, int algID,
                              ZQ_CSP_DKeyParam *param);

/* Copies between core key objects and the generic forms (6030/6031 when they do not read). */
QRT_API int QRT_CSP_PrivateKey_ToCStr(BIN *out, const WJC_PKEY_PRIVATE_KEY *key);
QRT_API int QRT_CSP_PrivateKey_FromCStr(WJC_PKEY_PRIVATE_KEY *key, int pkeyID, const BIN *in);
QRT_API int QRT_CSP_PublicKey_ToCStr(BIN *out, const WJC_PKEY_PUBLIC_KEY *key);
QRT_API int QRT_CSP_PublicKey_FromCStr(WJC_PKEY_PUBLIC_KEY *key, int pkeyID, const BIN *in);
/* A core secret key for a cipher of the public numbering from raw bytes (6026 over 256 bytes). */
QRT_API int QRT_CSP_SecretKey_FromCStr(WJ_SECRET_KEY *key, int cipherID, const BIN *in);

/* DER and big-integer routines with the core's conventions and (negative) codes: -10 NULL,
 * -12 memory, -80 malformed, -81 an outer SEQUENCE that is not one or runs past the input. */
QRT_API int QRT_CSP_PKCS1_PrivateKey_Decode(WJ_RSA_PrivateKey *key, const BIN *in);
QRT_API int QRT_CSP_PKCS1_PublicKey_Decode(WJ_RSA_PublicKey *key, const BIN *in);
QRT_API int QRT_CSP_BigInt_DerDecode(WJ_BigInt *a, const BIN *in);
QRT_API int QRT_CSP_BigInt_BytesToInt(WJ_BigInt *a, const BIN *in);
QRT_API int QRT_CSP_BigInt_GetByteLength(const WJ_BigInt *a);
QRT_API WJ_BigInt *QRT_CSP_BigInt_New(unsigned int words);
QRT_API void QRT_CSP_BigInt_Free(WJ_BigInt *a);
QRT_API int QRT_CSP_BigInt_Realloc(WJ_BigInt *a, unsigned int words);
QRT_API int QRT_CSP_BigInt_Reset(WJ_BigInt *a);

/* ---- Password-based key derivation -----------------------------------------------------------
 * The iteration loops run in the crypto core on precomputed hash states: no allocation and no
 * context per iteration. key/out: new memory (QRT_BIN_Reset). hashID / prfHashID: QRT_CSP_HASH_*
 * (MD2, MD5, SHA-1 for PBKDF1; SHA-1, SHA-224/256/384/512 for the HMAC of PBKDF2 and for the
 * PKCS#12 KDF). 6001 NULL or zero lengths/iterations, 6010 an unsupported hash, 6003 memory;
 * PBKDF1 asks for at most the hash length (6001 beyond). */
QRT_API int QRT_CSP_PBKDF1(BIN *key, unsigned keyLength, const BIN *password, const BIN *salt, unsigned iterations,
                           int hashID);
QRT_API int QRT_CSP_PBKDF2(BIN *key, unsigned keyLength, const BIN *password, const BIN *salt, unsigned iterations,
                           int prfHashID);
/* RFC 7292 appendix B: id 1 key material, 2 IV, 3 MAC key; bmpPassword is the password already
 * in its BMPString form with the two-byte terminator (empty BIN: no password block). */
QRT_API int QRT_CSP_PKCS12_KDF(BIN *out, unsigned length, const BIN *bmpPassword, const BIN *salt, unsigned iterations,
                               int id, int hashID);

/* ---- Signatures of X.509 objects ---------------------------------------------------------
 *
 * One table maps a signature AlgorithmIdentifier to the provider's algorithm and back: RSA
 * PKCS#1 v1.5 with MD2, MD5, SHA-1, SHA-224/256/384/512 and HAS-160; RSASSA-PSS with its
 * parameters (hash, MGF1 hash, salt length); DSA with SHA-1/224/256; ECDSA with
 * SHA-1/224/256/384/512; KCDSA and EC-KCDSA with SHA-1, HAS-160 and SHA-224/256/384/512. The
 * signatures of certificates, CRLs, trust lists, PKCS#7, OCSP, time stamps and requests are made
 * and checked through it.
 *
 * An AlgorithmIdentifier is given by its parts, as a decoded tree holds them: the OBJECT
 * IDENTIFIER's contents octets and the complete encoding of its parameters (NULL or empty when
 * absent).
 */
typedef struct _ZQ_CSP_AlgID {
    const unsigned char *oid;
    unsigned int oidLength;
    const BIN *params;
} ZQ_CSP_AlgID;

typedef struct _ZQ_CSP_SigAlg {
    int signID;     /* QRT_CSP_SIGN_... of the digest-level functions */
    int hashID;     /* QRT_CSP_HASH_... the signed bytes are hashed with */
    int pkeyID;     /* QRT_CSP_PKEY_... of the signer's key (ECDSA keys serve EC-KCDSA too) */
    int mgfHashID;  /* RSASSA-PSS: the MGF1 hash (0 when writing: the message hash); else 0 */
    int saltLength; /* RSASSA-PSS: the salt length, -1 for none (0 when writing: the hash length) */
} ZQ_CSP_SigAlg;

/* The table's entry for an AlgorithmIdentifier, from its parts or from its DER. 6010 when it
 * names no algorithm of the table, or its parameters are malformed or not supported (PSS with a
 * trailer other than 1, a mask generation other than MGF1). */
QRT_API int QRT_CSP_SigAlg_FromAlgID(ZQ_CSP_SigAlg *alg, const ZQ_CSP_AlgID *algID);
QRT_API int QRT_CSP_SigAlg_Decode(ZQ_CSP_SigAlg *alg, const BIN *algorithmIdentifier);
/* The DER AlgorithmIdentifier of alg (new memory: QRT_BIN_Reset): NULL parameters for RSA v1.5,
 * none for DSA, ECDSA, KCDSA and EC-KCDSA, RSASSA-PSS-params for PSS. 6010 when no identifier of
 * the table names alg. */
QRT_API int QRT_CSP_SigAlg_Encode(BIN *algorithmIdentifier, const ZQ_CSP_SigAlg *alg);

/* The algorithm of a PKCS#7 or CMS signer, which names it by a signature identifier or by its
 * key's identifier (rsaEncryption, id-dsa, id-ecPublicKey for ECDSA, kcdsa, kcdsa1) beside a
 * separate digest algorithm whose hash is hashID. A signature identifier with another hash is
 * 6010 (RSASSA-PSS: the hash of its parameters). ForKey: the table's first row for a key
 * algorithm and hash (PSS excluded); 6010 when there is none. */
QRT_API int QRT_CSP_SigAlg_ForSigner(ZQ_CSP_SigAlg *alg, const ZQ_CSP_AlgID *algID, int hashID);
QRT_API int QRT_CSP_SigAlg_ForKey(ZQ_CSP_SigAlg *alg, int pkeyID, int hashID);

/* Checks signature (the octets of the signature BIT STRING) over signedBytes exactly as they
 * arrived, under the key of subjectPublicKeyInfo (its DER), hashing first or handing over the
 * message as the algorithm needs. inheritedParam: the issuer's domain parameters (DER), used when
 * a DSA, KCDSA or EC key carries none; NULL otherwise. Returns 0 when the signature holds; 6012
 * when it does not, or when the key's algorithm cannot have made it; 6010 an unknown algorithm;
 * 6031 an unreadable key; 6032 missing or unreadable parameters; 6033 an unreadable signature;
 * 6001 NULL arguments. A demanded PSS salt length is enforced; an RSASSA-PSS key with parameters
 * accepts only its hash, its MGF1 hash and salts at least as long as its own. */
QRT_API int QRT_CSP_VerifySignedData(const ZQ_CSP_AlgID *algID, const BIN *signedBytes, const BIN *signature,
                                     const BIN *subjectPublicKeyInfo, const BIN *inheritedParam);
/* The same check with the algorithm already resolved (an entry of the table). */
QRT_API int QRT_CSP_VerifySignedDataAlg(const ZQ_CSP_SigAlg *alg, const BIN *signedBytes, const BIN *signature,
                                        const BIN *subjectPublicKeyInfo, const BIN *inheritedParam);
/* Signs signedBytes with alg. privateKey in the digest-level forms (PKCS#1 RSAPrivateKey, a DER
 * INTEGER for the others); pkeyParam the domain parameters (DSA, ECDSA, KCDSA, EC-KCDSA);
 * publicKey the signer's public key (KCDSA and EC-KCDSA). signature: new memory (QRT_BIN_Reset),
 * the octets of the signature BIT STRING. */
QRT_API int QRT_CSP_SignData(BIN *signature, const BIN *signedBytes, const ZQ_CSP_SigAlg *alg, const BIN *privateKey,
                             const BIN *pkeyParam, const BIN *publicKey);

/* ---- Older RSA-only forms (PKCS#1 DER keys, PKCS#1 v1.5, no trace records) -----------------
 * Signature alg: 0 MD2, 1 MD5, 2 SHA-1, 4 SHA-256, 5 SHA-384, 6 SHA-512 (others 6010); the data
 * is hashed first. Key decoding 6102; encryption 6103, decryption 6104, signing 6105,
 * verification 6106, a signature that does not match 6012.
 */
QRT_API int QRT_PublicEncryptBin(const BIN *pubKey, const BIN *in, BIN *out);
QRT_API int QRT_PrivateDecryptBin(const BIN *privKey, const BIN *in, BIN *out);
QRT_API int QRT_GenSignatureBin(const BIN *privKey, int alg, const BIN *data, BIN *out);
QRT_API int QRT_VerifySignBin(const BIN *pubKey, int alg, const BIN *data, const BIN *signature);
/* bits is clamped to 512..8192; 6100 when generation fails, 6101 when encoding does. */
QRT_API int QRT_GenerateKeyPairBin(int unused, int bits, BIN *pub, BIN *priv);
/* 6013 when the keys do not belong together. */
QRT_API int QRT_ProveRSAKeyPairBin(const BIN *privKey, const BIN *pubKey);
/* Modulus length in bytes. */
QRT_API int QRT_GetRSAKeyLength(const BIN *pubKey, int *bytes);

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_SUITE_CSP_H */
