// Recipient infos: RSA key transport of the content key, PKCS#1 v1.5 or OAEP as the recipient's
// keyEncryptionAlgorithm names, recipients found by IssuerAndSerialNumber or key identifier.
//
// The alg id of a recipient: QRT_PKCS7_KEYTRANS_RSA (1) or _OAEP (5); an OAEP recipient read
// with a hash other than SHA-1 carries the provider's hash id in its thousands (6005: SHA-256 for
// the hash and MGF1). 0: a key transport this library cannot open.
#include <cstring>
#include <vector>

#include "ostrel/tlv.hpp"
#include "pkcs7_envelope.hpp"
#include "suite_pkc.h"

using namespace ostrel;
using namespace ostrel::pkcs7;

namespace {

constexpr int kSha1 = 3;  // the provider's SHA-1

const unsigned char kRsaEncryptionNull[] = {0x30, 0x0d, 0x06, 0x09, 0x2a, 0x86, 0x48, 0x86,
                                            0xf7, 0x0d, 0x01, 0x01, 0x01, 0x05, 0x00};
const unsigned char kEmptySequence[] = {0x30, 0x00};

int mode_of(int algID) { return algID % 1000; }
int oaep_hash(int algID) { return algID / 1000 ? algID / 1000 : kSha1; }
bool known_keytrans(int algID) {
    int m = mode_of(algID);
    return algID > 0 && (m == QRT_PKCS7_KEYTRANS_RSA ? algID == m : m == QRT_PKCS7_KEYTRANS_OAEP);
}

// The hash of an AlgorithmIdentifier whose parameters are absent or NULL; 0 otherwise.
int hash_of(const AlgorithmIdentifier &a) {
    if ((a.bit_mask & AlgorithmIdentifier_parameters_present) &&
        !(a.parameters.length == 2 && a.parameters.value[0] == tlv::kNull && a.parameters.value[1] == 0))
        return 0;
    int h = QRT_PKC_ObjID_To_HashID(&a.algorithm);
    return h > 0 ? h : 0;
}

// RSAES-OAEP-params (RFC 4055): the alg id they stand for, 0 when the provider cannot do them
// (an MGF1 hash other than the message hash, a label).
int oaep_alg(const AlgorithmIdentifier &kea) {
    if (!(kea.bit_mask & AlgorithmIdentifier_parameters_present) || kea.parameters.length == 0)
        return QRT_PKCS7_KEYTRANS_OAEP;
    AsnTree<RSAES_OAEP_params> p(RSAES_OAEP_params_PDU);
    if (p.decode(&kea.parameters) != 0) return 0;
    int hash = kSha1, mgf = kSha1;
    if (p->bit_mask & RSAES_OAEP_params_hashAlgorithm_present) hash = hash_of(p->hashAlgorithm);
    if (p->bit_mask & RSAES_OAEP_params_maskGenAlgorithm_present) {
        const AlgorithmIdentifier &m = p->maskGenAlgorithm;
        if (!oid_equal(m.algorithm, id_mgf1) || !(m.bit_mask & AlgorithmIdentifier_parameters_present)) return 0;
        AsnTree<AlgorithmIdentifier> mh(AlgorithmIdentifier_PDU);
        if (mh.decode(&m.parameters) != 0) return 0;
        mgf = hash_of(*mh);
    }
    if (p->bit_mask & RSAES_OAEP_params_pSourceAlgorithm_present) {
        const AlgorithmIdentifier &s = p->pSourceAlgorithm;
        // only pSpecified with an empty label
        static const unsigned char kEmptyLabel[] = {0x04, 0x00};
        if (!oid_equal(s.algorithm, id_pSpecified) || !(s.bit_mask & AlgorithmIdentifier_parameters_present) ||
            s.parameters.length != 2 || std::memcmp(s.parameters.value, kEmptyLabel, 2) != 0)
            return 0;
    }
    if (!hash || hash != mgf) return 0;
    return hash == kSha1 ? QRT_PKCS7_KEYTRANS_OAEP : hash * 1000 + QRT_PKCS7_KEYTRANS_OAEP;
}

// The keyEncryptionAlgorithm of an alg id: rsaEncryption NULL, id-RSAES-OAEP 30 00 for SHA-1,
// the parameters written out for any other hash.
void write_kea(BinOwner &out, int algID) {
    if (algID == QRT_PKCS7_KEYTRANS_RSA) {
        set_bin(out.get(), kRsaEncryptionNull, sizeof kRsaEncryptionNull);
        return;
    }
    AlgorithmIdentifier a{};
    a.algorithm = id_RSAES_OAEP;
    a.bit_mask = AlgorithmIdentifier_parameters_present;
    BinOwner params, mgf_hash;
    int hash = oaep_hash(algID);
    if (hash == kSha1) {
        a.parameters = BIN{2, const_cast<unsigned char *>(kEmptySequence)};
    } else {
        const ObjectID *h = QRT_PKC_HashID_To_ObjID(hash);
        if (!h) throw std::bad_alloc();
        static const unsigned char kNull[] = {0x05, 0x00};
        RSAES_OAEP_params p{};
        p.bit_mask = RSAES_OAEP_params_hashAlgorithm_present | RSAES_OAEP_params_maskGenAlgorithm_present;
        p.hashAlgorithm.algorithm = *h;
        p.hashAlgorithm.bit_mask = AlgorithmIdentifier_parameters_present;
        p.hashAlgorithm.parameters = BIN{2, const_cast<unsigned char *>(kNull)};
        if (QRT_ASN_EncodePDU(mgf_hash.get(), &p.hashAlgorithm, AlgorithmIdentifier_PDU) != 0) throw std::bad_alloc();
        p.maskGenAlgorithm.algorithm = id_mgf1;
        p.maskGenAlgorithm.bit_mask = AlgorithmIdentifier_parameters_present;
        p.maskGenAlgorithm.parameters = *mgf_hash;
        if (QRT_ASN_EncodePDU(params.get(), &p, RSAES_OAEP_params_PDU) != 0) throw std::bad_alloc();
        a.parameters = *params;
    }
    if (QRT_ASN_EncodePDU(out.get(), &a, AlgorithmIdentifier_PDU) != 0) throw std::bad_alloc();
}

ZQ_CSP_PEncParam oaep_param(int algID) {
    ZQ_CSP_PEncParam p{};
    p.rsa_oaep.hashID = oaep_hash(algID);
    p.rsa_oaep.mgfID = 1;
    p.rsa_oaep.sourceID = 1;
    return p;
}

}  // namespace

namespace ostrel::pkcs7 {

int recip_info_read(ZQ_PKCS7_RECIP_INFO *ri, const BIN &der) {
    // KeyTransRecipientInfo ::= SEQUENCE { version, rid, keyEncryptionAlgorithm, encryptedKey }
    AsnTree<KeyTransRecipientWire> w(KeyTransRecipientWire_PDU);
    if (w.decode(&der) != 0) return QRT_PKCS7_BAD_RECIP_INFO;
    Reader r(w->rid.value, w->rid.length), contents;
    uint8_t tag = 0;
    if (tlv::read_any(r, tag, contents, nullptr, tlv::Profile::kDer) != tlv::kOk || !r.empty())
        return QRT_PKCS7_BAD_RECIP_INFO;
    if (tag == tlv::kSequence)
        ri->issuerAndSerial = new_bin(w->rid);
    else if (tag == 0x80)  // [0] SubjectKeyIdentifier
        ri->subjectKeyId = new_bin(contents.data(), contents.remaining());
    else
        return QRT_PKCS7_BAD_RECIP_INFO;
    const AlgorithmIdentifier &kea = w->keyEncryptionAlgorithm;
    if (oid_equal(kea.algorithm, rsaEncryption))
        ri->algID = QRT_PKCS7_KEYTRANS_RSA;
    else if (oid_equal(kea.algorithm, id_RSAES_OAEP))
        ri->algID = oaep_alg(kea);
    else
        ri->algID = 0;
    ri->encryptedKey = new_bin(w->encryptedKey);
    return 0;
}

int recip_info_write(BIN *out, const ZQ_PKCS7_RECIP_INFO &ri) {
    if (!known_keytrans(ri.algID)) return QRT_PKCS7_UNKNOWN_ALGID;
    if (!has_bytes(ri.encryptedKey)) return QRT_PKCS7_BAD_RECIP_INFO;
    KeyTransRecipientWire w{};
    std::vector<uint8_t> rid;
    if (has_bytes(ri.issuerAndSerial)) {
        w.version = 0;
        w.rid = *ri.issuerAndSerial;
    } else if (has_bytes(ri.subjectKeyId)) {
        w.version = 2;
        uint8_t len[9];
        size_t ln = tlv::length_octets(ri.subjectKeyId->length, len);
        rid.push_back(0x80);
        rid.insert(rid.end(), len, len + ln);
        rid.insert(rid.end(), ri.subjectKeyId->value, ri.subjectKeyId->value + ri.subjectKeyId->length);
        w.rid = BIN{static_cast<unsigned>(rid.size()), rid.data()};
    } else {
        return QRT_PKCS7_BAD_RECIP_INFO;
    }
    BinOwner kea;
    write_kea(kea, ri.algID);
    AsnTree<AlgorithmIdentifier> a(AlgorithmIdentifier_PDU);
    if (a.decode(kea.get()) != 0) return QRT_PKCS7_ASN_ENCODING_FAILED;
    w.keyEncryptionAlgorithm = *a;
    w.encryptedKey = *ri.encryptedKey;
    if (QRT_ASN_EncodePDU(out, &w, KeyTransRecipientWire_PDU) != 0) return QRT_PKCS7_ASN_ENCODING_FAILED;
    return 0;
}

int recip_unwrap(BinOwner &key, const ZQ_PKCS7_RECIP_INFO &ri, const BIN &privKey, int algID, size_t want) {
    QRT_BIN_Reset(key.get());
    if (!known_keytrans(algID)) return QRT_PKCS7_UNKNOWN_ALGID;
    if (!has_bytes(ri.encryptedKey)) return QRT_PKCS7_BAD_RECIP_INFO;
    ZQ_CSP_PEncParam p = oaep_param(algID);
    int mode = mode_of(algID);
    BinOwner got, stand_in;
    int rc = QRT_CSP_PrivateDecrypt(got.get(), ri.encryptedKey, &privKey, mode, mode == 1 ? nullptr : &p);
    if (rc == QRT_CSP_BAD_PRIVKEY || rc == QRT_CSP_INVALID_INPUT) return QRT_PKCS7_BAD_PRIVKEY;
    // RFC 3218: a failed unwrap, or a key of another length than the content wants, goes on
    // with a random key, so that it ends exactly like a wrong key (the content's padding fails);
    // the stand-in is made every time so both paths cost the same
    size_t n = want ? want : 16;
    if (int r = QRT_CSP_GenerateRandom(stand_in.get(), static_cast<int>(n))) return r;
    bool ok = rc == 0 && got->length > 0 && (want == 0 || got->length == want);
    BinOwner &use = ok ? got : stand_in;
    set_bin(key.get(), use->value, use->length);
    return 0;
}

}  // namespace ostrel::pkcs7

extern "C" {

QRT_API int QRT_PKCS7_RecipInfo_Set(ZQ_PKCS7_RECIP_INFO *ri, const BIN *cert, int keyTrans) {
    if (!ri || !has_bytes(cert)) return QRT_PKCS7_INVALID_INPUT;
    QRT_PKCS7_RecipInfo_Reset(ri);
    int rc = OSTREL_GUARD_TRACE([&] {
        if (!known_keytrans(keyTrans)) return QRT_PKCS7_UNKNOWN_ALGID;
        BinOwner isn;
        int pkey = 0;
        if (int r = QRT_PKCS7_Cert_GetInfos(isn.get(), &pkey, nullptr, nullptr, cert)) return r;
        if (pkey != QRT_CSP_PKEY_RSA) return QRT_PKCS7_UNKNOWN_ALGID;
        ri->issuerAndSerial = new_bin(*isn);
        ri->cert = new_bin(*cert);
        ri->algID = keyTrans;
        return 0;
    });
    if (rc) QRT_PKCS7_RecipInfo_Reset(ri);
    return rc;
}

QRT_API int QRT_PKCS7_RecipInfo_Envelope(ZQ_PKCS7_RECIP_INFO *ri, const BIN *contentKey) {
    if (!ri || !has_bytes(contentKey)) return QRT_PKCS7_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        if (!has_bytes(ri->cert)) return QRT_PKCS7_NO_CERT;
        if (!known_keytrans(ri->algID)) return QRT_PKCS7_UNKNOWN_ALGID;
        BinOwner pub;
        int pkey = 0;
        if (int r = QRT_PKCS7_Cert_GetInfos(nullptr, &pkey, pub.get(), nullptr, ri->cert)) return r;
        if (pkey != QRT_CSP_PKEY_RSA) return QRT_PKCS7_UNKNOWN_ALGID;
        ZQ_CSP_PEncParam p = oaep_param(ri->algID);
        int mode = mode_of(ri->algID);
        BinOwner enc;
        if (int r = QRT_CSP_PublicEncrypt(enc.get(), contentKey, pub.get(), mode, mode == 1 ? nullptr : &p)) return r;
        free_bin(ri->encryptedKey);
        ri->encryptedKey = new_bin(*enc);
        return 0;
    });
}

QRT_API int QRT_PKCS7_RecipInfo_Develope(BIN *contentKey, const ZQ_PKCS7_RECIP_INFO *ri, const BIN *privKey) {
    if (!contentKey || !ri || !has_bytes(privKey)) return QRT_PKCS7_INVALID_INPUT;
    *contentKey = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        BinOwner key;
        if (int rc = recip_unwrap(key, *ri, *privKey, ri->algID, 0)) return rc;
        key.release_to(contentKey);
        return 0;
    });
}

QRT_API int QRT_PKCS7_RecipInfo_DevelopeWithRSAOAEP(BIN *contentKey, const ZQ_PKCS7_RECIP_INFO *ri,
                                                    const BIN *privKey) {
    if (!contentKey || !ri || !has_bytes(privKey)) return QRT_PKCS7_INVALID_INPUT;
    *contentKey = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        // OAEP whatever the recipient names; the hash it names when it is OAEP, else SHA-1
        int alg = mode_of(ri->algID) == QRT_PKCS7_KEYTRANS_OAEP && known_keytrans(ri->algID)
                      ? ri->algID
                      : static_cast<int>(QRT_PKCS7_KEYTRANS_OAEP);
        BinOwner key;
        if (int rc = recip_unwrap(key, *ri, *privKey, alg, 0)) return rc;
        key.release_to(contentKey);
        return 0;
    });
}

QRT_API void QRT_PKCS7_RecipInfo_Reset(ZQ_PKCS7_RECIP_INFO *ri) {
    if (!ri) return;
    free_bin(ri->issuerAndSerial);
    free_bin(ri->subjectKeyId);
    free_bin(ri->encryptedKey);
    free_bin(ri->cert);
    ri->algID = 0;
}

QRT_API ZQ_PKCS7_RECIP_INFOS *QRT_PKCS7_RecipInfos_New(void) {
    auto *l = static_cast<ZQ_PKCS7_RECIP_INFOS *>(QRT_malloc(sizeof(ZQ_PKCS7_RECIP_INFOS)));
    if (l) l->first = nullptr;
    return l;
}

QRT_API int QRT_PKCS7_RecipInfos_Add(ZQ_PKCS7_RECIP_INFOS *list, ZQ_PKCS7_RECIP_INFO *ri) {
    if (!list || !ri) return QRT_PKCS7_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        auto *node = static_cast<ZQ_PKCS7_RECIP_INFO *>(QRT_malloc(sizeof(ZQ_PKCS7_RECIP_INFO)));
        if (!node) return QRT_PKCS7_MALLOC_FAILED;
        *node = *ri;
        node->next = nullptr;
        *ri = ZQ_PKCS7_RECIP_INFO{};
        ZQ_PKCS7_RECIP_INFO **tail = &list->first;
        while (*tail) tail = &(*tail)->next;
        *tail = node;
        return 0;
    });
}

QRT_API const ZQ_PKCS7_RECIP_INFO *QRT_PKCS7_RecipInfos_Find(const ZQ_PKCS7_RECIP_INFOS *list, const BIN *cert) {
    if (!list || !has_bytes(cert)) return nullptr;
    return OSTREL_GUARD_OR(static_cast<const ZQ_PKCS7_RECIP_INFO *>(nullptr), [&]() -> const ZQ_PKCS7_RECIP_INFO * {
        BinOwner ski;
        bool have_ski = false, tried = false;
        for (const ZQ_PKCS7_RECIP_INFO *ri = list->first; ri; ri = ri->next) {
            if (has_bytes(ri->issuerAndSerial) && isn_matches(*ri->issuerAndSerial, *cert)) return ri;
            if (has_bytes(ri->subjectKeyId)) {
                if (!tried) {
                    tried = true;
                    have_ski = cert_key_id(ski, *cert) == 0;
                }
                if (have_ski && ski->length == ri->subjectKeyId->length &&
                    std::memcmp(ski->value, ri->subjectKeyId->value, ski->length) == 0)
                    return ri;
            }
        }
        return nullptr;
    });
}

QRT_API void QRT_PKCS7_RecipInfos_Reset(ZQ_PKCS7_RECIP_INFOS *list) {
    if (!list) return;
    for (ZQ_PKCS7_RECIP_INFO *ri = list->first; ri;) {
        ZQ_PKCS7_RECIP_INFO *next = ri->next;
        QRT_PKCS7_RecipInfo_Reset(ri);
        QRT_free(ri);
        ri = next;
    }
    list->first = nullptr;
}

QRT_API void QRT_PKCS7_RecipInfos_Free(ZQ_PKCS7_RECIP_INFOS *list) {
    QRT_PKCS7_RecipInfos_Reset(list);
    QRT_free(list);
}

}  // extern "C"
