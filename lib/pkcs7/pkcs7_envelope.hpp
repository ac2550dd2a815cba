// Private declarations shared by the enveloping modules: encrypted content, recipient infos and
// the content key between them.
#pragma once

#include <vector>

#include "pkcs7_internal.h"

namespace ostrel::pkcs7 {

// ---- encrypted content (suite_pkcs7_enced.cpp) ----

// Fills ec from an EncryptedContentInfo's parts; the encrypted buffer is taken over.
int enc_content_read(ZQ_PKCS7_ENC_CONTENT *ec, const ObjectID &type, const AlgorithmIdentifier &alg, BIN *encrypted);
// Views of ec's parts for writing an EncryptedContentInfo (`keep` owns the decoded identifier).
int enc_content_view(const ZQ_PKCS7_ENC_CONTENT &ec, ObjectID &type, AlgorithmIdentifier &alg, BIN &encrypted,
                     unsigned char &bit_mask, AsnTree<AlgorithmIdentifier> &keep);
// The content-key length ec's algorithm takes (0 when outside the table).
size_t enc_key_length(const ZQ_PKCS7_ENC_CONTENT &ec);
// CBC with PKCS#5 padding under ec's algorithm and parameters, either way.
int enc_cipher(BIN *out, const BIN &in, const ZQ_PKCS7_ENC_CONTENT &ec, const BIN &key, bool encrypt);
// The plaintext of ec under key (37346 when it does not decrypt).
int enc_decrypt_plain(BinOwner &plain, const ZQ_PKCS7_ENC_CONTENT &ec, const BIN &key);
// A DER ContentInfo around a plaintext: data re-wrapped as data, other types around their value.
int plain_to_content_info(BIN *out, int typeID, const BIN &plain);
// enc_decrypt_plain then plain_to_content_info.
int enc_decrypt_content(BIN *contentInfo, const ZQ_PKCS7_ENC_CONTENT &ec, const BIN &key);

// ---- recipient infos (suite_pkcs7_recipinfo.cpp) ----

// One key-transport RecipientInfo (either identifier) into ri, and back.
int recip_info_read(ZQ_PKCS7_RECIP_INFO *ri, const BIN &der);
int recip_info_write(BIN *out, const ZQ_PKCS7_RECIP_INFO &ri);
// The content key of ri with privKey in the mode algID names; a failed unwrap, or a key that is
// not `want` bytes long, goes on with a random key of that length (RFC 3218).
int recip_unwrap(BinOwner &key, const ZQ_PKCS7_RECIP_INFO &ri, const BIN &privKey, int algID, size_t want);

// ---- recipients and content keys (suite_pkcs7_evped.cpp) ----

// The recipients of a SET OF RecipientInfo (each as received): key transport read, other kinds
// skipped. More than QRT_PKCS7_MAX_RECIPIENTS is 37332 before anything is read; none is 37365.
int recip_infos_read(ZQ_PKCS7_RECIP_INFOS *list, const std::vector<const BIN *> &items);
// The DER RecipientInfo of every recipient, in order; whether all are identified by
// IssuerAndSerialNumber (version 0 of the container).
int recip_infos_write(ZQ_PKCS7_BIN_SET **out, bool &all_isn, const ZQ_PKCS7_RECIP_INFOS &list);
// A fresh content key for encID, the content encrypted under it and the key encrypted to every
// recipient. keyOut (may be NULL) receives the content key.
int envelope_content(ZQ_PKCS7_RECIP_INFOS &ris, ZQ_PKCS7_ENC_CONTENT &ec, int encID, const ZQ_PKCS7_CONTENT &content,
                     BinOwner *keyOut);
// The content key for the recipient `cert` names, with privKey: 37312 for a content algorithm
// outside the table, 37320 when cert is no recipient.
int develope_content_key(BinOwner &key, const ZQ_PKCS7_RECIP_INFOS &ris, const ZQ_PKCS7_ENC_CONTENT &ec,
                         const BIN &cert, const BIN &privKey);

}  // namespace ostrel::pkcs7
