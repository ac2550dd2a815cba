// Enveloped data: a fresh content key per message, encrypted to every recipient's RSA key; the
// content encrypted under it. Reading takes key-transport recipients (a SEQUENCE in the SET OF)
// and skips the other recipient kinds; the encrypted content may arrive constructed (streamed).
#include <memory>
#include <vector>

#include "pkcs7_envelope.hpp"

using namespace ostrel;
using namespace ostrel::pkcs7;

namespace ostrel::pkcs7 {

int recip_infos_read(ZQ_PKCS7_RECIP_INFOS *list, const std::vector<const BIN *> &items) {
    if (items.empty()) return QRT_PKCS7_NO_RECIP_INFO;
    if (items.size() > QRT_PKCS7_MAX_RECIPIENTS) return QRT_PKCS7_BAD_ENVELOPED_DATA;
    for (const BIN *item : items) {
        if (!has_bytes(item) || item->value[0] != 0x30) continue;
        ZQ_PKCS7_RECIP_INFO ri{};
        int rc = recip_info_read(&ri, *item);
        if (rc == 0) rc = QRT_PKCS7_RecipInfos_Add(list, &ri);
        QRT_PKCS7_RecipInfo_Reset(&ri);
        if (rc) return rc;
    }
    return 0;
}

int recip_infos_write(ZQ_PKCS7_BIN_SET **out, bool &all_isn, const ZQ_PKCS7_RECIP_INFOS &list) {
    all_isn = true;
    for (const ZQ_PKCS7_RECIP_INFO *ri = list.first; ri; ri = ri->next) {
        BinOwner der;
        if (int rc = recip_info_write(der.get(), *ri)) return rc;
        if (int rc = QRT_PKCS7_BIN_SET_Add(out, der.get())) return rc;
        if (!has_bytes(ri->issuerAndSerial)) all_isn = false;
    }
    return 0;
}

int envelope_content(ZQ_PKCS7_RECIP_INFOS &ris, ZQ_PKCS7_ENC_CONTENT &ec, int encID, const ZQ_PKCS7_CONTENT &content,
                     BinOwner *keyOut) {
    const EncAlg *e = enc_alg(encID);
    if (!e) return QRT_PKCS7_UNKNOWN_ENCID;
    if (!ris.first) return QRT_PKCS7_NO_RECIP_INFO;
    BinOwner key;
    if (int rc = QRT_CSP_GenerateRandom(key.get(), e->keyLength)) return rc;
    if (int rc = QRT_PKCS7_EncContent_Encrypt(&ec, encID, &content, key.get())) return rc;
    for (ZQ_PKCS7_RECIP_INFO *ri = ris.first; ri; ri = ri->next)
        if (int rc = QRT_PKCS7_RecipInfo_Envelope(ri, key.get())) return rc;
    if (keyOut) set_bin(keyOut->get(), key->value, key->length);
    return 0;
}

int develope_content_key(BinOwner &key, const ZQ_PKCS7_RECIP_INFOS &ris, const ZQ_PKCS7_ENC_CONTENT &ec,
                         const BIN &cert, const BIN &privKey) {
    if (!enc_alg(ec.encID)) return QRT_PKCS7_UNKNOWN_ENCID;
    const ZQ_PKCS7_RECIP_INFO *ri = QRT_PKCS7_RecipInfos_Find(&ris, &cert);
    if (!ri) return QRT_PKCS7_NOT_EXIST;
    return recip_unwrap(key, *ri, privKey, ri->algID, enc_key_length(ec));
}

}  // namespace ostrel::pkcs7

namespace {

struct SetFree {
    void operator()(ZQ_PKCS7_BIN_SET *s) const { QRT_PKCS7_BIN_SET_Free(s); }
};
using SetPtr = std::unique_ptr<ZQ_PKCS7_BIN_SET, SetFree>;

// The enveloped data of a one-call function's input: the ContentInfo decoded, then its value.
int read_enveloped(ZQ_PKCS7_ENVELOPED &ed, const BIN &in) {
    ZQ_PKCS7_CONTENT c{};
    int rc = QRT_PKCS7_Content_Decode(&c, &in);
    if (rc == 0) rc = QRT_PKCS7_Enveloped_Decode(&ed, &c);
    QRT_PKCS7_Content_Reset(&c);
    return rc;
}

struct Enveloped {
    ZQ_PKCS7_ENVELOPED ed{};
    ~Enveloped() { QRT_PKCS7_Enveloped_Reset(&ed); }
};

}  // namespace

extern "C" {

QRT_API ZQ_PKCS7_ENVELOPED *QRT_PKCS7_Enveloped_New(void) {
    auto *ed = static_cast<ZQ_PKCS7_ENVELOPED *>(QRT_malloc(sizeof(ZQ_PKCS7_ENVELOPED)));
    if (ed) *ed = ZQ_PKCS7_ENVELOPED{};
    return ed;
}

QRT_API int QRT_PKCS7_Enveloped_Envelope(ZQ_PKCS7_ENVELOPED *ed, int encID, const ZQ_PKCS7_CONTENT *content) {
    if (!ed || !content) return QRT_PKCS7_INVALID_INPUT;
    QRT_PKCS7_EncContent_Reset(&ed->encContent);
    int rc =
        OSTREL_GUARD_TRACE([&] { return envelope_content(ed->recipInfos, ed->encContent, encID, *content, nullptr); });
    if (rc) QRT_PKCS7_EncContent_Reset(&ed->encContent);
    return rc;
}

QRT_API int QRT_PKCS7_Enveloped_Encode(BIN *out, const ZQ_PKCS7_ENVELOPED *ed) {
    if (!out || !ed) return QRT_PKCS7_INVALID_INPUT;
    *out = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        // EnvelopedData ::= SEQUENCE { version, recipientInfos, encryptedContentInfo }
        ZQ_PKCS7_BIN_SET *raw = nullptr;
        bool all_isn = true;
        int rc = recip_infos_write(&raw, all_isn, ed->recipInfos);
        SetPtr ris(raw);
        if (rc) return rc;
        if (!raw) return QRT_PKCS7_NO_RECIP_INFO;
        std::vector<EnvelopedDataWire_recipientInfos_> nodes;
        for (ZQ_PKCS7_BIN_SET *s = raw; s; s = s->next) nodes.push_back({nullptr, s->value});
        for (size_t i = 0; i + 1 < nodes.size(); ++i) nodes[i].next = &nodes[i + 1];
        EnvelopedDataWire w{};
        w.version = all_isn ? 0 : 2;
        w.recipientInfos = nodes.data();
        AsnTree<AlgorithmIdentifier> keep(AlgorithmIdentifier_PDU);
        EncryptedContentInfoWire &eci = w.encryptedContentInfo;
        if (int r = enc_content_view(ed->encContent, eci.contentType, eci.contentEncryptionAlgorithm,
                                     eci.encryptedContent, eci.bit_mask, keep))
            return r;
        BinOwner inner;
        if (QRT_ASN_EncodePDU(inner.get(), &w, EnvelopedDataWire_PDU) != 0) return QRT_PKCS7_ASN_ENCODING_FAILED;
        ZQ_PKCS7_CONTENT c{QRT_PKCS7_ENVELOPED, inner.get()};
        return QRT_PKCS7_Content_Encode(out, &c);
    });
}

QRT_API int QRT_PKCS7_Enveloped_Decode(ZQ_PKCS7_ENVELOPED *ed, const ZQ_PKCS7_CONTENT *contentInfo) {
    if (!ed || !contentInfo) return QRT_PKCS7_INVALID_INPUT;
    QRT_PKCS7_Enveloped_Reset(ed);
    int rc = OSTREL_GUARD_TRACE([&] {
        if (contentInfo->typeID != QRT_PKCS7_ENVELOPED) return QRT_PKCS7_MISMATCH_TYPEID;
        if (!has_bytes(contentInfo->value)) return QRT_PKCS7_NO_CONTENT;
        AsnTree<EnvelopedDataWire> w(EnvelopedDataWire_PDU);
        if (w.decode(contentInfo->value) != 0) return QRT_PKCS7_BAD_ENVELOPED_DATA;
        ed->version = w->version;
        std::vector<const BIN *> items;
        for (auto *p = w->recipientInfos; p; p = p->next) {
            if (items.size() > QRT_PKCS7_MAX_RECIPIENTS) break;
            items.push_back(&p->value);
        }
        if (int r = recip_infos_read(&ed->recipInfos, items)) return r;
        EncryptedContentInfoWire &eci = w->encryptedContentInfo;
        return enc_content_read(
            &ed->encContent, eci.contentType, eci.contentEncryptionAlgorithm,
            (eci.bit_mask & EncryptedContentInfoWire_encryptedContent_present) ? &eci.encryptedContent : nullptr);
    });
    if (rc) QRT_PKCS7_Enveloped_Reset(ed);
    return rc;
}

QRT_API void QRT_PKCS7_Enveloped_Reset(ZQ_PKCS7_ENVELOPED *ed) {
    if (!ed) return;
    QRT_PKCS7_RecipInfos_Reset(&ed->recipInfos);
    QRT_PKCS7_EncContent_Reset(&ed->encContent);
    ed->version = 0;
}

QRT_API void QRT_PKCS7_Enveloped_Free(ZQ_PKCS7_ENVELOPED *ed) {
    QRT_PKCS7_Enveloped_Reset(ed);
    QRT_free(ed);
}

QRT_API int QRT_PKCS7_EncodeEnvelopedExBig(BIN *out, int encID, const BIN *content, const ZQ_BIN_LIST *recipientCerts,
                                           int keyTrans) {
    if (!out || !has_bytes(content)) return QRT_PKCS7_INVALID_INPUT;
    *out = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        if (!enc_alg(encID)) return QRT_PKCS7_UNKNOWN_ENCID;
        if (!recipientCerts) return QRT_PKCS7_NO_CERT;
        Enveloped env;
        for (const ZQ_BIN_LIST *n = recipientCerts; n; n = n->next) {
            ZQ_PKCS7_RECIP_INFO ri{};
            int rc = QRT_PKCS7_RecipInfo_Set(&ri, &n->value, keyTrans);
            if (rc == 0) rc = QRT_PKCS7_RecipInfos_Add(&env.ed.recipInfos, &ri);
            QRT_PKCS7_RecipInfo_Reset(&ri);
            if (rc) return rc;
        }
        ZQ_PKCS7_CONTENT c{};
        int rc = QRT_PKCS7_Content_Decode(&c, content);
        if (rc == 0) rc = QRT_PKCS7_Enveloped_Envelope(&env.ed, encID, &c);
        QRT_PKCS7_Content_Reset(&c);
        if (rc == 0) rc = QRT_PKCS7_Enveloped_Encode(out, &env.ed);
        return rc;
    });
}

QRT_API int QRT_PKCS7_EncodeEnvelopedEx(BIN *out, int encID, const BIN *content, const ZQ_BIN_LIST *recipientCerts) {
    if (!out) return QRT_PKCS7_INVALID_INPUT;
    *out = BIN{0, nullptr};
    int rc = QRT_PKCS7_EncodeEnvelopedExBig(out, encID, content, recipientCerts, QRT_PKCS7_KEYTRANS_RSA);
    return rc && rc != QRT_PKCS7_INVALID_INPUT ? OSTREL_FAIL(rc) : rc;
}

QRT_API int QRT_PKCS7_EncodeEnveloped(BIN *out, int encID, const BIN *content, const BIN *recipientCert) {
    if (!out || !has_bytes(recipientCert)) return QRT_PKCS7_INVALID_INPUT;
    *out = BIN{0, nullptr};
    ZQ_BIN_LIST one{nullptr, *recipientCert};
    int rc = QRT_PKCS7_EncodeEnvelopedExBig(out, encID, content, &one, QRT_PKCS7_KEYTRANS_RSA);
    return rc && rc != QRT_PKCS7_INVALID_INPUT ? OSTREL_FAIL(rc) : rc;
}

QRT_API int QRT_PKCS7_DecodeEnveloped(int *encIdOut, BIN *contentOut, const BIN *in, const BIN *recipientCert,
                                      const BIN *privKey) {
    if (!contentOut || !has_bytes(in) || !has_bytes(recipientCert) || !has_bytes(privKey))
        return QRT_PKCS7_INVALID_INPUT;
    *contentOut = BIN{0, nullptr};
    if (encIdOut) *encIdOut = 0;
    int rc = OSTREL_GUARD_TRACE([&] {
        Enveloped env;
        if (int r = read_enveloped(env.ed, *in)) return r;
        BinOwner key;
        if (int r = develope_content_key(key, env.ed.recipInfos, env.ed.encContent, *recipientCert, *privKey)) return r;
        BinOwner plain;
        if (int r = enc_decrypt_plain(plain, env.ed.encContent, *key)) return r;
        free_bin(env.ed.encContent.encrypted);  // no longer needed: keeps the peak low
        if (int r = plain_to_content_info(contentOut, env.ed.encContent.typeID, *plain)) return r;
        if (encIdOut) *encIdOut = env.ed.encContent.encID;
        return 0;
    });
    if (rc) QRT_BIN_Reset(contentOut);
    return rc;
}

QRT_API int QRT_PKCS7_DecodeEnveloped_Init(BIN *encryptedKeyOut, const BIN *in, const BIN *recipientCert) {
    if (!encryptedKeyOut || !has_bytes(in) || !has_bytes(recipientCert)) return QRT_PKCS7_INVALID_INPUT;
    *encryptedKeyOut = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        Enveloped env;
        if (int r = read_enveloped(env.ed, *in)) return r;
        const ZQ_PKCS7_RECIP_INFO *ri = QRT_PKCS7_RecipInfos_Find(&env.ed.recipInfos, recipientCert);
        if (!ri) return QRT_PKCS7_NOT_EXIST;
        if (!has_bytes(ri->encryptedKey)) return QRT_PKCS7_BAD_RECIP_INFO;
        set_bin(encryptedKeyOut, ri->encryptedKey->value, ri->encryptedKey->length);
        return 0;
    });
}

QRT_API int QRT_PKCS7_DecodeEnveloped_Final(int *encIdOut, BIN *contentOut, const BIN *in, const BIN *recipientCert,
                                            const BIN *contentKey) {
    if (!contentOut || !has_bytes(in) || !has_bytes(recipientCert) || !has_bytes(contentKey))
        return QRT_PKCS7_INVALID_INPUT;
    *contentOut = BIN{0, nullptr};
    if (encIdOut) *encIdOut = 0;
    int rc = OSTREL_GUARD_TRACE([&] {
        Enveloped env;
        if (int r = read_enveloped(env.ed, *in)) return r;
        if (!QRT_PKCS7_RecipInfos_Find(&env.ed.recipInfos, recipientCert)) return QRT_PKCS7_NOT_EXIST;
        if (int r = enc_decrypt_content(contentOut, env.ed.encContent, *contentKey)) return r;
        if (encIdOut) *encIdOut = env.ed.encContent.encID;
        return 0;
    });
    if (rc) QRT_BIN_Reset(contentOut);
    return rc;
}

}  // extern "C"
