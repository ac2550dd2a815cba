/* libOstrelPKCS8: private keys as PrivateKeyInfo and, under a password, as
 * EncryptedPrivateKeyInfo; password change, key replacement inside an encrypted container and
 * password check. One optional attribute is carried: the VID random (id_randomNum), the random
 * value bound to the owner's identity number.
 *
 * Password-based encryption is done by libOstrelPKCS5 (QRT_PKCS5_EncryptData/DecryptData), so
 * every scheme it knows is available; a container keeps the scheme it was made with when its
 * password or key changes.
 *
 * Results: 0, a code of this library (37401-37499), or a code of the ASN.1 layer or of
 * libOstrelPKCS5 (including the provider's) passed through. A failing public function records
 * an entry in the calling thread's error trace, except for the argument checks at entry, the
 * lower-layer encoders and the Is tests.
 *
 * Ownership: a record owns its BINs (released by the Reset and Destroy functions). Output BINs
 * belong to the caller (QRT_BIN_Reset); plaintext keys are wiped before their memory is
 * released. */
#ifndef OSTREL_SUITE_PKCS8_H
#define OSTREL_SUITE_PKCS8_H

#include "suite_asn.h"
#include "suite_io.h"
#include "suite_pkcs5.h"
#include "suite_pkcs8_codes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Key algorithms (the provider's public-key numbers). */
#define QRT_PKCS8_ALG_RSA 1    /* rsaEncryption, NULL parameters */
#define QRT_PKCS8_ALG_DSA 3    /* id-dsa, algParam required */
#define QRT_PKCS8_ALG_KCDSA 11 /* kcdsa, algParam required */

/* The longest VID random that can be written (its BIT STRING length is one byte below 0x80). */
#define QRT_PKCS8_VID_RANDOM_MAX 126

typedef struct _ZQ_PKCS8_ATTRIBS {
    BIN *vidRandom; /* the VID random bytes, or NULL */
} ZQ_PKCS8_ATTRIBS;

typedef struct _ZQ_PKCS8_PRIVKEY_INFO {
    int algID;     /* QRT_PKCS8_ALG_... */
    BIN *algParam; /* DER domain parameters (DSA, KCDSA); unused for RSA */
    BIN *privKey;  /* DER of the key itself: starts with 0x30 or 0x02 */
    ZQ_PKCS8_ATTRIBS attribs;
} ZQ_PKCS8_PRIVKEY_INFO;

typedef struct _ZQ_PKCS8_ENC_PRIVKEY_INFO {
    ZQ_PKCS5_PBES_ALGID pbesID; /* the scheme to encrypt with, or the one found on decoding */
    ZQ_PKCS8_PRIVKEY_INFO info;
} ZQ_PKCS8_ENC_PRIVKEY_INFO;

/* ---- Records ---------------------------------------------------------------------------- */

/* A new zeroed record (NULL when memory fails). Reset releases (and wipes) the BINs the record
 * owns and zeroes it; Destroy resets and frees it. NULL is ignored. */
QRT_API ZQ_PKCS8_PRIVKEY_INFO *QRT_PKCS8_CreatePrivKeyInfo(void);
QRT_API void QRT_PKCS8_ResetPrivKeyInfo(ZQ_PKCS8_PRIVKEY_INFO *info);
QRT_API void QRT_PKCS8_DestroyPrivKeyInfo(ZQ_PKCS8_PRIVKEY_INFO *info);
QRT_API ZQ_PKCS8_ENC_PRIVKEY_INFO *QRT_PKCS8_CreateEncPrivKeyInfo(void);
QRT_API void QRT_PKCS8_ResetEncPrivKeyInfo(ZQ_PKCS8_ENC_PRIVKEY_INFO *enc);
QRT_API void QRT_PKCS8_DestroyEncPrivKeyInfo(ZQ_PKCS8_ENC_PRIVKEY_INFO *enc);

/* ---- PrivateKeyInfo --------------------------------------------------------------------- */

/* Version 0, the key's algorithm identifier, the key, and the VID random attribute when
 * attribs.vidRandom holds bytes. 37410 unknown algID, 37420 a key not starting with 0x30 or
 * 0x02, 37425 a VID random longer than QRT_PKCS8_VID_RANDOM_MAX. */
QRT_API int QRT_PKCS8_EncodePrivKeyInfo(BIN *der, const ZQ_PKCS8_PRIVKEY_INFO *info);
/* info is zeroed first (not released). 37421 when der is no PrivateKeyInfo or DSA/KCDSA
 * parameters are missing, 37410 an unknown algorithm, 37425 an unreadable VID random. */
QRT_API int QRT_PKCS8_DecodePrivKeyInfo(ZQ_PKCS8_PRIVKEY_INFO *info, const BIN *der);
/* 1 when der decodes as the type, else 0. */
QRT_API int QRT_PKCS8_IsPrivKeyInfo(const BIN *der);
QRT_API int QRT_PKCS8_IsEncPrivKeyInfo(const BIN *der);

/* ---- EncryptedPrivateKeyInfo ------------------------------------------------------------ */

/* Encrypts enc->info under password (non-empty) with the scheme enc->pbesID; fresh salt and IV
 * on every call. */
QRT_API int QRT_PKCS8_EncodeEncPrivKeyInfo(BIN *der, const ZQ_PKCS8_ENC_PRIVKEY_INFO *enc, const BIN *password);
/* enc is zeroed first (not released). 37422 when der is no EncryptedPrivateKeyInfo; 37430 for a
 * wrong password (failed padding, or a plaintext that is no PrivateKeyInfo). */
QRT_API int QRT_PKCS8_DecodeEncPrivKeyInfo(ZQ_PKCS8_ENC_PRIVKEY_INFO *enc, const BIN *der, const BIN *password);
/* The container of der under newPassword, same scheme (PBES2 cipher and prf included), fresh
 * salt and IV, key and attributes untouched. out may be der itself. The new container replaces
 * out only on success; on failure out is left as it was when it is der, else empty. */
QRT_API int QRT_PKCS8_ChangePassword(BIN *out, const BIN *der, const BIN *newPassword, const BIN *oldPassword);
/* The container of der with newInfo's algorithm, parameters and key, same scheme and password.
 * Attributes of the old container are kept in order; its first VID random is replaced by
 * newInfo's (dropped when newInfo has none), or newInfo's is appended when there was none.
 * out as for QRT_PKCS8_ChangePassword. */
QRT_API int QRT_PKCS8_ChangeEncPrivKeyInfo(BIN *out, const BIN *der, const BIN *password,
                                           const ZQ_PKCS8_PRIVKEY_INFO *newInfo);
/* 0 when password opens der to a PrivateKeyInfo, 37430 when not. */
QRT_API int QRT_PKCS8_VerifyPassword(const BIN *der, const BIN *password);

/* ---- Lower layer ------------------------------------------------------------------------ */

/* The PrivateKeyInfo of info without attributes. The tree refers to info's bytes and to constant
 * identifiers: it is not released and lives no longer than info. */
QRT_API int QRT_PKCS8_AsnPrivKeyInfo_Encode(PrivateKeyInfo *asn, const ZQ_PKCS8_PRIVKEY_INFO *info);
/* info (zeroed first) from a decoded PrivateKeyInfo, attributes not read; info owns copies. */
QRT_API int QRT_PKCS8_AsnPrivKeyInfo_Decode(ZQ_PKCS8_PRIVKEY_INFO *info, const PrivateKeyInfo *asn);
/* The VID random as a BIT STRING: 03, length, 00, the bytes (at most QRT_PKCS8_VID_RANDOM_MAX,
 * else 37425). Decoding needs tag 03 and a one-byte length matching the input (else 37425); the
 * bytes after the unused-bits byte are returned. */
QRT_API int QRT_PKCS8_VidRandom_Encode(BIN *der, const BIN *vidRandom);
QRT_API int QRT_PKCS8_VidRandom_Decode(BIN *vidRandom, const BIN *der);
/* attr becomes {id_randomNum, {BIT STRING}}, owning its memory (QRT_PKCS8_AsnAttrib_Reset). */
QRT_API int QRT_PKCS8_AsnAttrib_EncodeVidRandom(Attribute *attr, const BIN *vidRandom);
QRT_API void QRT_PKCS8_AsnAttrib_Reset(Attribute *attr);
/* An attribute list: New gives an empty one (NULL when memory fails), Add appends a copy of
 * attr, Free releases the list and everything in it. *list is an Attributes value that can be
 * placed in a PrivateKeyInfo. */
QRT_API Attributes *QRT_PKCS8_AsnAttribs_New(void);
QRT_API int QRT_PKCS8_AsnAttribs_Add(Attributes *list, const Attribute *attr);
QRT_API void QRT_PKCS8_AsnAttribs_Free(Attributes *list);

/* ---- Library ---------------------------------------------------------------------------- */

QRT_API const char *QRT_PKCS8_GetVersion(void);
/* -1 when this library is older than required or a library it links is older than it needs. */
QRT_API int QRT_PKCS8_CheckVersion(const char *required);
QRT_API const char *QRT_PKCS8_GetErrorReason(int code, int locale);

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_SUITE_PKCS8_H */
