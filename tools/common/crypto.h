/*
 * The tools' crypto module: thin wrappers over the crypto service provider with small negative
 * results and no trace records of their own, the signature-algorithm maps of the tools, and the
 * encrypted form of a server key's password.
 *
 * Algorithm numbers are the provider's (suite_csp.h); the module's signature numbers are the
 * provider's signature identifiers 1-6, 9, 15, 16, 21-24. Keys are in the provider's
 * digest-level forms: RSA PKCS#1 RSAPrivateKey / RSAPublicKey; DSA and KCDSA private x and
 * public y as DER INTEGERs beside DER domain parameters (keyParam); ECDSA and EC-KCDSA a DER
 * INTEGER and the point octets beside ECParameters.
 *
 * Output BINs are set empty first (their old contents are not released), belong to the caller
 * afterwards (QRT_BIN_Reset) and are released on failure.
 */
#ifndef OSTREL_TOOLS_CRYPTO_H
#define OSTREL_TOOLS_CRYPTO_H

#include "suite_csp.h"
#include "suite_io.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The key (and IV) of the encrypted password form. The product that reads the form is
 * configured with the same 16 bytes. */
#define WJYV_SERVER_KEY_PWD_KEY \
    { 3, 1, 4, 1, 5, 9, 2, 6, 5, 3, 5, 8, 9, 7, 9, 3 }
#define WJYV_SERVER_KEY_PWD_KEY_LENGTH 16

/* The encrypted form of a password: SEED-CBC with PKCS padding under the fixed key, with the
 * key as IV, in Base64, terminated in out (outMax bytes). 0; -1 when the cipher or the encoding
 * fails (printing the reason); -2 when the form would not fit out (nothing printed). */
int WJYV_EncryptServerKeyPwd(char *out, int outMax, const char *password, int length);

/* ---- Signature algorithm maps -------------------------------------------------------------
 * signAlg -> digest: 1 MD2, 2 MD5, 3 SHA-1, 4 SHA-256, 5 SHA-384, 6 SHA-512, 9 none (0),
 * 15 16 21 23 SHA-1, 22 24 HAS-160; -> key: 1-6 and 9 RSA (1), 15 DSA (3), 16 ECDSA (5),
 * 21 22 KCDSA (11), 23 24 EC-KCDSA (12). -1 for other numbers. */
int QRT_GetDigestAlgFromSignAlg(int signAlg);
int QRT_GetKeyIDFromSignAlg(int signAlg);
/* The inverse: RSA with MD5, SHA-1, SHA-256/384/512 -> 2..6, with any other digest 9; DSA,
 * ECDSA with SHA-1 -> 15, 16; KCDSA, EC-KCDSA with SHA-1 -> 21, 23, with HAS-160 -> 22, 24;
 * else -1. */
int QRT_GetSignAlgFromDigestIDnKeyID(int digestAlg, int keyAlg);

/* ---- Random, hash, MAC ------------------------------------------------------------------ */

int QRT_Random(BIN *out, int n);                    /* 0 / -1 */
int QRT_Hash(BIN *out, const BIN *in, int hashAlg); /* the provider's code */
/* The digest of the signature algorithm over in (signAlg 9: in itself). 0, -1 for an unknown
 * signAlg, -2 when hashing fails. */
int QRT_MakeDigest(BIN *out, const BIN *in, int signAlg);
int QRT_Mac(BIN *mac, const BIN *key, const BIN *in, int macAlg); /* the provider's code */
/* 0 when mac is the MAC of in (for MAC 14 the DES MAC with padding method 2, MAC 24, is tried
 * when the first does not match); -2 when it cannot be computed, -3 on a mismatch. */
int QRT_MacVerify(const BIN *mac, const BIN *key, const BIN *in, int macAlg);

/* ---- Ciphers -----------------------------------------------------------------------------
 * cipherParam may be NULL; its suite parameter (RC2 bits, RC5 rounds) is used, and mode and
 * padding are set here: mode as given, PKCS padding (decryption keeps a nonzero paddingID of
 * the caller's). The IV is the cipher's block long: iv's first bytes, or zeros without iv; an iv
 * shorter than the block fails. The stream cipher 6 takes no IV or mode. 0 / -3. */
int QRT_Encryption(BIN *out, const BIN *in, const BIN *key, const ZQ_CSP_CipherParam *cipherParam, const BIN *iv,
                   int encAlg, int mode);
int QRT_Decryption(BIN *out, const BIN *in, const BIN *key, const ZQ_CSP_CipherParam *cipherParam, const BIN *iv,
                   int encAlg, int mode);

/* ---- Public-key operations ---------------------------------------------------------------- */

/* RSA, PKCS#1 v1.5 when param is NULL, OAEP otherwise. 0 / -1. */
int QRT_Public_Encrypt(BIN *out, const BIN *in, const BIN *pubKey, ZQ_CSP_PEncParam *param);
int QRT_Private_Decrypt(BIN *out, const BIN *in, const BIN *privKey, ZQ_CSP_PEncParam *param);

/* Hash in (as the algorithm needs) and sign or verify. KCDSA and EC-KCDSA need keyParam and, to
 * sign, pub; DSA and ECDSA need keyParam. 0, -1 unknown signAlg, -3 failure or mismatch. */
int QRT_GenSignature(BIN *sig, const BIN *priv, const BIN *pub, const BIN *keyParam, const BIN *in, int signAlg);
int QRT_VerifySign(const BIN *sig, const BIN *pub, const BIN *keyParam, const BIN *in, int signAlg);
/* Sign a hash already computed (RSA 1-6 and 9, DSA, ECDSA; KCDSA 21, 22 with the KCDSA hash
 * H(z || message)); verification for 1 to 3 only. 0, -1, -3. */
int QRT_GenSignatureWithHash(BIN *sig, const BIN *priv, const BIN *pub, const BIN *keyParam, const BIN *hash,
                             int signAlg);
int QRT_VerifySignWithHash(const BIN *sig, const BIN *pub, const BIN *keyParam, const BIN *hash, int signAlg);

/* Key length in bits (keyAlg 1, 3, 5, 11, 12; keyParam for DSA and KCDSA). 0 / -1. */
int QRT_GetPubKeyLength(int *bits, const BIN *pub, const BIN *keyParam, int keyAlg);
/* The modulus and exponent bytes of a PKCS#1 RSAPublicKey into the caller's buffers: *nM and *nE
 * give their room and receive the lengths. 0 / -2. */
int QRT_RsaPublicKeyInfo(unsigned char *modulus, int *nM, unsigned char *exponent, int *nE, const BIN *pub);
/* A PKCS#1 RSAPublicKey from the exponent and size bytes of modulus (big-endian); bits, when not
 * 0, is the bit length the modulus must have. 0, -1 bad arguments, -2 encoding failed. */
int QRT_GetPubKey_PKCS1(unsigned long exponent, int bits, int size, const unsigned char *modulus, BIN *out);
/* A key pair: RSA (1) of bits; DSA (3) and KCDSA (11) under keyParam, whose parameters (a
 * prime of bits) are generated into it first when it is empty. 0, -1 unknown keyAlg or bad
 * arguments, -2 generation failed. */
int QRT_GenerateKeyPair(BIN *pub, BIN *priv, BIN *keyParam, int keyAlg, int bits);

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_TOOLS_CRYPTO_H */
