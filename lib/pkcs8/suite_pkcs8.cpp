// PrivateKeyInfo and EncryptedPrivateKeyInfo: records, encoding through the ASN.1 layer, the VID
// random attribute, and encryption through the password-based encryption library.
#include <cstring>

#include "ostrel/asn_tree.hpp"
#include "ostrel/owners.hpp"
#include "pkcs8_internal.h"

using namespace ostrel;

namespace {

// DER of the NULL parameters of rsaEncryption.
const unsigned char kDerNull[] = {0x05, 0x00};

struct KeyAlg {
    int algID;
    const ObjectID *oid;
};
const KeyAlg kKeyAlgs[] = {
    {QRT_PKCS8_ALG_RSA, &rsaEncryption}, {QRT_PKCS8_ALG_DSA, &id_dsa}, {QRT_PKCS8_ALG_KCDSA, &kcdsa}};

const ObjectID *oid_of_alg(int algID) {
    for (const KeyAlg &k : kKeyAlgs)
        if (k.algID == algID) return k.oid;
    return nullptr;
}

int alg_of_oid(const ObjectID &oid) {
    for (const KeyAlg &k : kKeyAlgs)
        if (oid_equal(*k.oid, oid)) return k.algID;
    return 0;
}

bool has_bytes(const BIN *b) { return b && b->value && b->length; }
// A BIN argument that must carry data: present and with its bytes there.
bool bin_given(const BIN *b) { return b && b->value; }

// Whether der decodes as the type, through the ASN.1 layer's older form, which leaves nothing in
// the trace.
bool decodes_quietly(const BIN *der, int pdu) {
    if (!has_bytes(der)) return false;
    ZQ_ASN_CTX *ctx = QRT_ASN_AcquireCTX();
    void *tree = nullptr;
    if (!ctx || QRT_GetDecodedPDU(ctx, pdu, der, &tree) != 0) return false;
    if (pdu == PrivateKeyInfo_PDU) {
        const BIN &key = static_cast<PrivateKeyInfo *>(tree)->privateKey;
        if (key.value) wipe(key.value, key.length);
    }
    QRT_FreePDU(ctx, pdu, tree);
    return true;
}

// A BIN on the heap owning a copy of n bytes (an empty one for n 0); NULL when memory fails.
BIN *new_bin(const unsigned char *p, size_t n) {
    BIN *b = QRT_BIN_New();
    if (!b) return nullptr;
    if (n && QRT_BIN_Set(b, p, static_cast<int>(n)) != 0) {
        QRT_BIN_Free(b);
        return nullptr;
    }
    return b;
}

// A BIN released (and wiped) at scope exit: plaintext keys and temporaries.
struct Owned {
    BIN b{0, nullptr};
    Owned() = default;
    Owned(const Owned &) = delete;
    ~Owned() { QRT_BIN_Reset(&b); }
    BIN *operator&() { return &b; }
    // Hands the bytes to *out, which must be free for them.
    void move_to(BIN *out) {
        *out = b;
        b = BIN{0, nullptr};
    }
};

// A decoded PrivateKeyInfo whose key bytes are wiped before the tree is released.
struct KeyTree {
    AsnTree<PrivateKeyInfo> t{PrivateKeyInfo_PDU};
    KeyTree() = default;
    KeyTree(const KeyTree &) = delete;
    ~KeyTree() {
        if (t && t->privateKey.value) wipe(t->privateKey.value, t->privateKey.length);
    }
};

// Attribute list released at scope exit.
struct AttribList {
    Attributes *list = QRT_PKCS8_AsnAttribs_New();
    AttribList() = default;
    AttribList(const AttribList &) = delete;
    ~AttribList() { QRT_PKCS8_AsnAttribs_Free(list); }
};

struct AttribOwner {
    Attribute a{};
    ~AttribOwner() { QRT_PKCS8_AsnAttrib_Reset(&a); }
};

// The checks of a record's key part, before anything is built from it.
int check_info(const ZQ_PKCS8_PRIVKEY_INFO &info) {
    if (!has_bytes(info.privKey)) return QRT_PKCS8_INVALID_INPUT;
    if (!oid_of_alg(info.algID)) return QRT_PKCS8_UNKNOWN_ALGID;
    if (info.algID != QRT_PKCS8_ALG_RSA && !has_bytes(info.algParam)) return QRT_PKCS8_INVALID_INPUT;
    const unsigned char tag = info.privKey->value[0];
    if (tag != 0x30 && tag != 0x02) return QRT_PKCS8_BAD_PRIVKEY;
    return 0;
}

// The key checks and a VID random that can be written.
int check_info_vid(const ZQ_PKCS8_PRIVKEY_INFO &info) {
    if (int rc = check_info(info)) return rc;
    if (has_bytes(info.attribs.vidRandom) && info.attribs.vidRandom->length > QRT_PKCS8_VID_RANDOM_MAX)
        return QRT_PKCS8_BAD_VIDRANDOM;
    return 0;
}

// The PrivateKeyInfo DER of info with the given attribute list (empty: no attributes).
int encode_with(BIN *der, const ZQ_PKCS8_PRIVKEY_INFO &info, Attributes attrs) {
    PrivateKeyInfo pki{};
    if (int rc = QRT_PKCS8_AsnPrivKeyInfo_Encode(&pki, &info)) return rc;
    if (attrs) {
        pki.bit_mask |= PrivateKeyInfo_attributes_present;
        pki.attributes = attrs;
    }
    return QRT_ASN_EncodePDU(der, &pki, PrivateKeyInfo_PDU);
}

// The record's DER, with the VID random attribute when it has one.
int encode_info(BIN *der, const ZQ_PKCS8_PRIVKEY_INFO &info) {
    if (int rc = check_info_vid(info)) return rc;
    AttribList list;
    if (!list.list) return QRT_PKCS8_MALLOC_FAILED;
    if (has_bytes(info.attribs.vidRandom)) {
        AttribOwner vid;
        if (int rc = QRT_PKCS8_AsnAttrib_EncodeVidRandom(&vid.a, info.attribs.vidRandom)) return rc;
        if (int rc = QRT_PKCS8_AsnAttribs_Add(list.list, &vid.a)) return rc;
    }
    return encode_with(der, info, *list.list);
}

// The first id_randomNum attribute of a list; NULL when there is none.
const Attribute *find_vid(Attributes attrs) {
    for (Attributes a = attrs; a; a = a->next)
        if (oid_equal(a->value.type, id_randomNum)) return &a->value;
    return nullptr;
}

// Decodes der into info (zeroed first; released again on failure).
int decode_info(ZQ_PKCS8_PRIVKEY_INFO *info, const BIN *der) {
    *info = ZQ_PKCS8_PRIVKEY_INFO{};
    KeyTree tree;
    AsnTree<PrivateKeyInfo> &pki = tree.t;
    if (pki.decode(der) != 0) return QRT_PKCS8_BAD_PRIVKEYINFO;
    int rc = QRT_PKCS8_AsnPrivKeyInfo_Decode(info, pki.get());
    if (rc == 0 && (pki->bit_mask & PrivateKeyInfo_attributes_present)) {
        if (const Attribute *vid = find_vid(pki->attributes)) {
            info->attribs.vidRandom = QRT_BIN_New();
            if (!info->attribs.vidRandom)
                rc = QRT_PKCS8_MALLOC_FAILED;
            else if (!vid->values)
                rc = QRT_PKCS8_BAD_VIDRANDOM;
            else
                rc = QRT_PKCS8_VidRandom_Decode(info->attribs.vidRandom, &vid->values->value);
        }
    }
    if (rc) QRT_PKCS8_ResetPrivKeyInfo(info);
    return rc;
}

// Opens an EncryptedPrivateKeyInfo: the scheme found and the plaintext PrivateKeyInfo DER,
// which must decode as one, else `not_info` (a wrong password that happens to pass the padding
// check gives garbage). A failed padding check is 37430, whatever the scheme reported.
int open_container(ZQ_PKCS5_PBES_ALGID *scheme, BIN *plain, const BIN *der, const BIN *password,
                   int not_info = QRT_PKCS8_INVALID_PASSWORD) {
    AsnTree<EncryptedPrivateKeyInfo> epki(EncryptedPrivateKeyInfo_PDU);
    if (epki.decode(der) != 0) return QRT_PKCS8_BAD_ENCPRIVKEYINFO;
    Owned aid;
    if (int rc = QRT_ASN_EncodePDU(&aid, &epki->encryptionAlgorithm, AlgorithmIdentifier_PDU)) return rc;
    *scheme = ZQ_PKCS5_PBES_ALGID{};
    int rc = QRT_PKCS5_DecryptData(scheme, plain, &aid.b, &epki->encryptedData, password);
    // PBES1/PBES2 report a failed padding check as their invalid password, the PKCS#12
    // schemes as the provider's padding error: both mean the password is wrong.
    if (rc == QRT_PKCS5_INVALID_PASSWORD || rc == QRT_CSP_INVALID_PADDING) return QRT_PKCS8_INVALID_PASSWORD;
    if (rc) return rc;
    if (!decodes_quietly(plain, PrivateKeyInfo_PDU)) {
        QRT_BIN_Reset(plain);
        return not_info;
    }
    return 0;
}

// Encrypts a PrivateKeyInfo DER into an EncryptedPrivateKeyInfo DER.
int seal(BIN *der, const ZQ_PKCS5_PBES_ALGID &scheme, const BIN *plain, const BIN *password) {
    Owned aid, ct;
    if (int rc = QRT_PKCS5_EncryptData(&aid, &ct, &scheme, plain, password)) return rc;
    AsnTree<AlgorithmIdentifier> ai(AlgorithmIdentifier_PDU);
    if (int rc = ai.decode(&aid.b)) return rc;
    EncryptedPrivateKeyInfo epki{};
    epki.encryptionAlgorithm = *ai;
    epki.encryptedData = ct.b;
    return QRT_ASN_EncodePDU(der, &epki, EncryptedPrivateKeyInfo_PDU);
}

// Puts a finished container into out: replacing der's bytes when out is der.
void deliver(BIN *out, const BIN *der, Owned &fresh) {
    if (out == der) QRT_BIN_Reset(out);
    fresh.move_to(out);
}

}  // namespace

extern "C" {

/* ---- Records ---------------------------------------------------------------------------- */

QRT_API ZQ_PKCS8_PRIVKEY_INFO *QRT_PKCS8_CreatePrivKeyInfo(void) {
    auto *info = static_cast<ZQ_PKCS8_PRIVKEY_INFO *>(QRT_malloc(sizeof(ZQ_PKCS8_PRIVKEY_INFO)));
    if (info) *info = ZQ_PKCS8_PRIVKEY_INFO{};
    return info;
}

QRT_API void QRT_PKCS8_ResetPrivKeyInfo(ZQ_PKCS8_PRIVKEY_INFO *info) {
    if (!info) return;
    QRT_BIN_Free(info->algParam);
    QRT_BIN_Free(info->privKey);
    QRT_BIN_Free(info->attribs.vidRandom);
    *info = ZQ_PKCS8_PRIVKEY_INFO{};
}

QRT_API void QRT_PKCS8_DestroyPrivKeyInfo(ZQ_PKCS8_PRIVKEY_INFO *info) {
    if (!info) return;
    QRT_PKCS8_ResetPrivKeyInfo(info);
    QRT_free(info);
}

QRT_API ZQ_PKCS8_ENC_PRIVKEY_INFO *QRT_PKCS8_CreateEncPrivKeyInfo(void) {
    auto *enc = static_cast<ZQ_PKCS8_ENC_PRIVKEY_INFO *>(QRT_malloc(sizeof(ZQ_PKCS8_ENC_PRIVKEY_INFO)));
    if (enc) *enc = ZQ_PKCS8_ENC_PRIVKEY_INFO{};
    return enc;
}

QRT_API void QRT_PKCS8_ResetEncPrivKeyInfo(ZQ_PKCS8_ENC_PRIVKEY_INFO *enc) {
    if (!enc) return;
    QRT_PKCS8_ResetPrivKeyInfo(&enc->info);
    *enc = ZQ_PKCS8_ENC_PRIVKEY_INFO{};
}

QRT_API void QRT_PKCS8_DestroyEncPrivKeyInfo(ZQ_PKCS8_ENC_PRIVKEY_INFO *enc) {
    if (!enc) return;
    QRT_PKCS8_ResetEncPrivKeyInfo(enc);
    QRT_free(enc);
}

/* ---- Lower layer ------------------------------------------------------------------------ */

QRT_API int QRT_PKCS8_AsnPrivKeyInfo_Encode(PrivateKeyInfo *asn, const ZQ_PKCS8_PRIVKEY_INFO *info) {
    if (!asn || !info) return QRT_PKCS8_INVALID_INPUT;
    *asn = PrivateKeyInfo{};
    if (int rc = check_info(*info)) return rc;
    asn->version = PrivateKeyInfo_version_v1;
    asn->privateKeyAlgorithm.algorithm = *oid_of_alg(info->algID);
    asn->privateKeyAlgorithm.bit_mask = AlgorithmIdentifier_parameters_present;
    if (info->algID == QRT_PKCS8_ALG_RSA)
        asn->privateKeyAlgorithm.parameters = BIN{sizeof kDerNull, const_cast<unsigned char *>(kDerNull)};
    else
        asn->privateKeyAlgorithm.parameters = *info->algParam;
    asn->privateKey = *info->privKey;
    return 0;
}

QRT_API int QRT_PKCS8_AsnPrivKeyInfo_Decode(ZQ_PKCS8_PRIVKEY_INFO *info, const PrivateKeyInfo *asn) {
    if (!info || !asn) return QRT_PKCS8_INVALID_INPUT;
    *info = ZQ_PKCS8_PRIVKEY_INFO{};
    const int alg = alg_of_oid(asn->privateKeyAlgorithm.algorithm);
    if (!alg) return QRT_PKCS8_UNKNOWN_ALGID;
    const AlgorithmIdentifier &ai = asn->privateKeyAlgorithm;
    const bool params = (ai.bit_mask & AlgorithmIdentifier_parameters_present) && ai.parameters.length;
    if (alg != QRT_PKCS8_ALG_RSA && !params) return QRT_PKCS8_BAD_PRIVKEYINFO;
    info->algID = alg;
    if (alg != QRT_PKCS8_ALG_RSA && !(info->algParam = new_bin(ai.parameters.value, ai.parameters.length))) {
        QRT_PKCS8_ResetPrivKeyInfo(info);
        return QRT_PKCS8_MALLOC_FAILED;
    }
    if (!(info->privKey = new_bin(asn->privateKey.value, asn->privateKey.length))) {
        QRT_PKCS8_ResetPrivKeyInfo(info);
        return QRT_PKCS8_MALLOC_FAILED;
    }
    return 0;
}

QRT_API int QRT_PKCS8_VidRandom_Encode(BIN *der, const BIN *vidRandom) {
    if (!der || !vidRandom || (vidRandom->length && !vidRandom->value)) return QRT_PKCS8_INVALID_INPUT;
    *der = BIN{0, nullptr};
    // The length is written as one byte: a longer value would need the long form.
    if (vidRandom->length > QRT_PKCS8_VID_RANDOM_MAX) return QRT_PKCS8_BAD_VIDRANDOM;
    const unsigned n = vidRandom->length + 3;
    auto *p = static_cast<unsigned char *>(QRT_malloc(n));
    if (!p) return QRT_PKCS8_MALLOC_FAILED;
    p[0] = 0x03;
    p[1] = static_cast<unsigned char>(vidRandom->length + 1);
    p[2] = 0x00;
    if (vidRandom->length) std::memcpy(p + 3, vidRandom->value, vidRandom->length);
    *der = BIN{n, p};
    return 0;
}

QRT_API int QRT_PKCS8_VidRandom_Decode(BIN *vidRandom, const BIN *der) {
    if (!vidRandom || !bin_given(der)) return QRT_PKCS8_INVALID_INPUT;
    *vidRandom = BIN{0, nullptr};
    const unsigned char *p = der->value;
    if (der->length < 4 || p[0] != 0x03 || p[1] >= 0x80 || p[1] != der->length - 2) return QRT_PKCS8_BAD_VIDRANDOM;
    return QRT_BIN_Set(vidRandom, p + 3, static_cast<int>(der->length - 3)) ? QRT_PKCS8_MALLOC_FAILED : 0;
}

QRT_API int QRT_PKCS8_AsnAttrib_EncodeVidRandom(Attribute *attr, const BIN *vidRandom) {
    if (!attr || !vidRandom) return QRT_PKCS8_INVALID_INPUT;
    *attr = Attribute{};
    BIN der{0, nullptr};
    if (int rc = QRT_PKCS8_VidRandom_Encode(&der, vidRandom)) return rc;
    auto *node = static_cast<Attribute_values_ *>(QRT_malloc(sizeof(Attribute_values_)));
    if (!node || QRT_ASN_CopyOID(&attr->type, &id_randomNum) != 0) {
        QRT_free(node);
        QRT_BIN_Reset(&der);
        QRT_PKCS8_AsnAttrib_Reset(attr);
        return QRT_PKCS8_MALLOC_FAILED;
    }
    node->next = nullptr;
    node->value = der;
    attr->values = node;
    return 0;
}

QRT_API void QRT_PKCS8_AsnAttrib_Reset(Attribute *attr) {
    if (!attr) return;
    QRT_ASN_ResetOID(&attr->type);
    for (Attribute_values v = attr->values; v;) {
        Attribute_values next = v->next;
        QRT_BIN_Reset(&v->value);
        QRT_free(v);
        v = next;
    }
    *attr = Attribute{};
}

QRT_API Attributes *QRT_PKCS8_AsnAttribs_New(void) {
    auto *list = static_cast<Attributes *>(QRT_malloc(sizeof(Attributes)));
    if (list) *list = nullptr;
    return list;
}

QRT_API int QRT_PKCS8_AsnAttribs_Add(Attributes *list, const Attribute *attr) {
    if (!list || !attr) return QRT_PKCS8_INVALID_INPUT;
    void *copy = nullptr;
    if (int rc = QRT_ASN_CopyPDU(&copy, attr, Attribute_PDU)) return rc;
    auto *node = static_cast<Attributes_ *>(QRT_malloc(sizeof(Attributes_)));
    if (!node) {
        QRT_ASN_FreePDU(copy, Attribute_PDU);
        return QRT_PKCS8_MALLOC_FAILED;
    }
    node->next = nullptr;
    node->value = *static_cast<Attribute *>(copy);
    QRT_free(copy);  // the shell only: its contents now belong to the node
    Attributes *tail = list;
    while (*tail) tail = &(*tail)->next;
    *tail = node;
    return 0;
}

QRT_API void QRT_PKCS8_AsnAttribs_Free(Attributes *list) {
    if (!list) return;
    for (Attributes a = *list; a;) {
        Attributes next = a->next;
        QRT_PKCS8_AsnAttrib_Reset(&a->value);
        QRT_free(a);
        a = next;
    }
    QRT_free(list);
}

/* ---- PrivateKeyInfo --------------------------------------------------------------------- */

QRT_API int QRT_PKCS8_EncodePrivKeyInfo(BIN *der, const ZQ_PKCS8_PRIVKEY_INFO *info) {
    if (!der || !info) return QRT_PKCS8_INVALID_INPUT;
    *der = BIN{0, nullptr};
    if (!bin_given(info->privKey)) return QRT_PKCS8_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] { return encode_info(der, *info); });
}

QRT_API int QRT_PKCS8_DecodePrivKeyInfo(ZQ_PKCS8_PRIVKEY_INFO *info, const BIN *der) {
    if (!info) return QRT_PKCS8_INVALID_INPUT;
    *info = ZQ_PKCS8_PRIVKEY_INFO{};
    if (!bin_given(der) || der->length == 0) return QRT_PKCS8_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] { return decode_info(info, der); });
}

QRT_API int QRT_PKCS8_IsPrivKeyInfo(const BIN *der) { return decodes_quietly(der, PrivateKeyInfo_PDU) ? 1 : 0; }

QRT_API int QRT_PKCS8_IsEncPrivKeyInfo(const BIN *der) {
    return decodes_quietly(der, EncryptedPrivateKeyInfo_PDU) ? 1 : 0;
}

/* ---- EncryptedPrivateKeyInfo ------------------------------------------------------------ */

QRT_API int QRT_PKCS8_EncodeEncPrivKeyInfo(BIN *der, const ZQ_PKCS8_ENC_PRIVKEY_INFO *enc, const BIN *password) {
    if (!der || !enc || !bin_given(password)) return QRT_PKCS8_INVALID_INPUT;
    *der = BIN{0, nullptr};
    if (!bin_given(enc->info.privKey) || password->length == 0) return QRT_PKCS8_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        Owned plain;
        if (int rc = encode_info(&plain, enc->info)) return rc;
        return seal(der, enc->pbesID, &plain.b, password);
    });
}

QRT_API int QRT_PKCS8_DecodeEncPrivKeyInfo(ZQ_PKCS8_ENC_PRIVKEY_INFO *enc, const BIN *der, const BIN *password) {
    if (!enc) return QRT_PKCS8_INVALID_INPUT;
    *enc = ZQ_PKCS8_ENC_PRIVKEY_INFO{};
    if (!bin_given(der) || !bin_given(password)) return QRT_PKCS8_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        Owned plain;
        if (int rc = open_container(&enc->pbesID, &plain, der, password)) return rc;
        int rc = decode_info(&enc->info, &plain.b);
        return rc == QRT_PKCS8_BAD_PRIVKEYINFO ? QRT_PKCS8_INVALID_PASSWORD : rc;
    });
}

QRT_API int QRT_PKCS8_VerifyPassword(const BIN *der, const BIN *password) {
    if (!bin_given(der) || !bin_given(password)) return QRT_PKCS8_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        ZQ_PKCS5_PBES_ALGID scheme{};
        Owned plain;
        return open_container(&scheme, &plain, der, password);
    });
}

QRT_API int QRT_PKCS8_ChangePassword(BIN *out, const BIN *der, const BIN *newPassword, const BIN *oldPassword) {
    if (!out || !bin_given(der) || !bin_given(newPassword) || !bin_given(oldPassword)) return QRT_PKCS8_INVALID_INPUT;
    if (out != der) *out = BIN{0, nullptr};
    if (newPassword->length == 0) return QRT_PKCS8_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        ZQ_PKCS5_PBES_ALGID scheme{};
        Owned plain, fresh;
        if (int rc = open_container(&scheme, &plain, der, oldPassword)) return rc;
        if (int rc = seal(&fresh, scheme, &plain.b, newPassword)) return rc;
        deliver(out, der, fresh);
        return 0;
    });
}

QRT_API int QRT_PKCS8_ChangeEncPrivKeyInfo(BIN *out, const BIN *der, const BIN *password,
                                           const ZQ_PKCS8_PRIVKEY_INFO *newInfo) {
    if (!out || !bin_given(der) || !bin_given(password) || !newInfo || !bin_given(newInfo->privKey))
        return QRT_PKCS8_INVALID_INPUT;
    if (out != der) *out = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        if (int rc = check_info_vid(*newInfo)) return rc;
        ZQ_PKCS5_PBES_ALGID scheme{};
        Owned plain, fresh, rebuilt;
        if (int rc = open_container(&scheme, &plain, der, password, QRT_PKCS8_BAD_PRIVKEYINFO)) return rc;
        KeyTree old_tree;
        AsnTree<PrivateKeyInfo> &old = old_tree.t;
        if (old.decode(&plain.b) != 0) return QRT_PKCS8_BAD_PRIVKEYINFO;

        // The old attributes in order, the first VID random replaced by the new one (or
        // dropped), the new one appended when the old container had none.
        AttribList list;
        if (!list.list) return QRT_PKCS8_MALLOC_FAILED;
        const bool new_vid = has_bytes(newInfo->attribs.vidRandom);
        AttribOwner vid;
        if (new_vid) {
            if (int rc = QRT_PKCS8_AsnAttrib_EncodeVidRandom(&vid.a, newInfo->attribs.vidRandom)) return rc;
        }
        bool replaced = false;
        const Attributes old_attrs = (old->bit_mask & PrivateKeyInfo_attributes_present) ? old->attributes : nullptr;
        for (Attributes a = old_attrs; a; a = a->next) {
            const Attribute *keep = &a->value;
            if (!replaced && oid_equal(a->value.type, id_randomNum)) {
                replaced = true;
                if (!new_vid) continue;
                keep = &vid.a;
            }
            if (int rc = QRT_PKCS8_AsnAttribs_Add(list.list, keep)) return rc;
        }
        if (!replaced && new_vid) {
            if (int rc = QRT_PKCS8_AsnAttribs_Add(list.list, &vid.a)) return rc;
        }
        if (int rc = encode_with(&rebuilt, *newInfo, *list.list)) return rc;
        if (int rc = seal(&fresh, scheme, &rebuilt.b, password)) return rc;
        deliver(out, der, fresh);
        return 0;
    });
}

}  // extern "C"
