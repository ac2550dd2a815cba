// Gateway messages between a client and a gateway: a connection request and response, and lists
// of enveloped items (each its own content key, sent to the gateway with RSA-OAEP and SHA-1) or
// of items encrypted under a shared key.
#include <memory>
#include <vector>

#include "ostrel/tlv.hpp"
#include "pkcs7_envelope.hpp"

using namespace ostrel;
using namespace ostrel::pkcs7;

namespace {

constexpr int kVersion = 1;
constexpr size_t kMaxItems = QRT_PKCS7_MAX_RECIPIENTS;

// id-RSAES-OAEP with all defaults (SHA-1, MGF1-SHA-1, empty label).
const unsigned char kEmptySequence[] = {0x30, 0x00};

struct GwSetFree {
    void operator()(ZQ_PKCS7_GW_SET *s) const { QRT_PKCS7_GWSet_Free(s); }
};
using GwSetPtr = std::unique_ptr<ZQ_PKCS7_GW_SET, GwSetFree>;

// The content of an EncryptedContentInfo built here, with what its fields point into.
struct EncItem {
    ZQ_PKCS7_ENC_CONTENT ec{};
    AsnTree<AlgorithmIdentifier> alg{AlgorithmIdentifier_PDU};
    ~EncItem() { QRT_PKCS7_EncContent_Reset(&ec); }
    int view(EncryptedContentInfo_P7 &w) {
        return enc_content_view(ec, w.contentType, w.contentEncryptionAlgorithm, w.encryptedContent, w.bit_mask, alg);
    }
};

// One enveloped item being built: its recipient and content.
struct EnvItem : EncItem {
    ZQ_PKCS7_RECIP_INFOS ris{};
    AsnTree<IssuerAndSerialNumber> isn{IssuerAndSerialNumber_PDU};
    ~EnvItem() { QRT_PKCS7_RecipInfos_Reset(&ris); }
};

int envelope_item(EnvItem &item, GWEnvelopedItem &w, int encID, const BIN &content, const BIN &cert) {
    ZQ_PKCS7_RECIP_INFO ri{};
    int rc = QRT_PKCS7_RecipInfo_Set(&ri, &cert, QRT_PKCS7_KEYTRANS_OAEP);
    if (rc == 0) rc = QRT_PKCS7_RecipInfos_Add(&item.ris, &ri);
    QRT_PKCS7_RecipInfo_Reset(&ri);
    if (rc) return rc;
    ZQ_PKCS7_CONTENT c{};
    rc = QRT_PKCS7_Content_Decode(&c, &content);
    if (rc == 0) rc = envelope_content(item.ris, item.ec, encID, c, nullptr);
    QRT_PKCS7_Content_Reset(&c);
    if (rc) return rc;
    // GWEnvelopedItem ::= SEQUENCE { version, recipientInfo, encryptedContentInfo }
    const ZQ_PKCS7_RECIP_INFO &r = *item.ris.first;
    if (item.isn.decode(r.issuerAndSerial) != 0) return QRT_PKCS7_BAD_CERT;
    w.version = 0;
    w.recipientInfo.version = 0;
    w.recipientInfo.issuerAndSerialNumber = *item.isn;
    w.recipientInfo.keyEncryptionAlgorithm.algorithm = id_RSAES_OAEP;
    w.recipientInfo.keyEncryptionAlgorithm.bit_mask = AlgorithmIdentifier_parameters_present;
    w.recipientInfo.keyEncryptionAlgorithm.parameters = BIN{2, const_cast<unsigned char *>(kEmptySequence)};
    w.recipientInfo.encryptedKey = *r.encryptedKey;
    return item.view(w.encryptedContentInfo);
}

// The DER ContentInfo of an item's encrypted content, with key or (unwrapped first) privKey.
int open_content(BIN *out, int *encID, EncryptedContentInfo_P7 &eci, const BIN *key, const BIN *privKey,
                 const BIN *encryptedKey) {
    ZQ_PKCS7_ENC_CONTENT ec{};
    struct Reset {
        ZQ_PKCS7_ENC_CONTENT &e;
        ~Reset() { QRT_PKCS7_EncContent_Reset(&e); }
    } reset{ec};
    if (int rc = enc_content_read(
            &ec, eci.contentType, eci.contentEncryptionAlgorithm,
            (eci.bit_mask & EncryptedContentInfo_P7_encryptedContent_present) ? &eci.encryptedContent : nullptr))
        return rc;
    if (!enc_alg(ec.encID)) return QRT_PKCS7_UNKNOWN_ENCID;
    BinOwner unwrapped;
    if (privKey) {
        ZQ_PKCS7_RECIP_INFO ri{};
        ri.encryptedKey = const_cast<BIN *>(encryptedKey);
        if (int rc = recip_unwrap(unwrapped, ri, *privKey, QRT_PKCS7_KEYTRANS_OAEP, enc_key_length(ec))) return rc;
        key = unwrapped.get();
    }
    if (int rc = enc_decrypt_content(out, ec, *key)) return rc;
    if (encID) *encID = ec.encID;
    return 0;
}

// The element inside a SEQUENCE OF of one element (an item out of its list), and back.
int strip_outer(BIN *out, const BIN &list) {
    Reader r(list.value, list.length), c;
    if (tlv::read_tlv(r, tlv::kSequence, c) != tlv::kOk || !r.empty()) return QRT_PKCS7_ASN_ENCODING_FAILED;
    set_bin(out, c.data(), c.remaining());
    return 0;
}

void wrap_outer(BinOwner &out, const BIN &item) {
    uint8_t len[9];
    size_t ln = tlv::length_octets(item.length, len);
    std::vector<uint8_t> b;
    b.reserve(1 + ln + item.length);
    b.push_back(tlv::kSequence);
    b.insert(b.end(), len, len + ln);
    b.insert(b.end(), item.value, item.value + item.length);
    set_bin(out.get(), b.data(), b.size());
}

template <class Node>
Node *link(std::vector<Node> &nodes) {
    for (size_t i = 0; i + 1 < nodes.size(); ++i) nodes[i].next = &nodes[i + 1];
    return nodes.empty() ? nullptr : nodes.data();
}

// Certificate DER through the catalogue's Certificate, as the messages carry it; the signed part
// as received, so the issuer's signature still holds over it.
int encode_cert(BIN *out, const Certificate &c) { return ostrel::certificate_der(out, c) ? QRT_PKCS7_BAD_CERT : 0; }

}  // namespace

extern "C" {

QRT_API int QRT_PKCS7_GWSet_Add(ZQ_PKCS7_GW_SET **set, const BIN *value) {
    if (!set || !value || (value->length && !value->value)) return QRT_PKCS7_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        auto *node = static_cast<ZQ_PKCS7_GW_SET *>(QRT_malloc(sizeof(ZQ_PKCS7_GW_SET)));
        if (!node) return QRT_PKCS7_MALLOC_FAILED;
        *node = ZQ_PKCS7_GW_SET{{0, nullptr}, nullptr};
        if (value->length && QRT_BIN_Set(&node->value, value->value, static_cast<int>(value->length)) != 0) {
            QRT_free(node);
            return QRT_PKCS7_MALLOC_FAILED;
        }
        ZQ_PKCS7_GW_SET **tail = set;
        while (*tail) tail = &(*tail)->next;
        *tail = node;
        return 0;
    });
}

QRT_API int QRT_PKCS7_GWSet_Count(const ZQ_PKCS7_GW_SET *set) {
    int n = 0;
    for (; set; set = set->next) ++n;
    return n;
}

QRT_API void QRT_PKCS7_GWSet_Free(ZQ_PKCS7_GW_SET *set) {
    while (set) {
        ZQ_PKCS7_GW_SET *next = set->next;
        QRT_BIN_Reset(&set->value);
        QRT_free(set);
        set = next;
    }
}

QRT_API int QRT_PKCS7_EncodeGWConnReq(BIN *out, const BIN *clientCert, const BIN *data) {
    if (!out || !has_bytes(clientCert) || !data || (data->length && !data->value)) return QRT_PKCS7_INVALID_INPUT;
    *out = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        // GWConnReq ::= SEQUENCE { version, clientCert, data }
        AsnTree<Certificate> cert(Certificate_PDU);
        if (cert.decode(clientCert) != 0) return QRT_PKCS7_BAD_CERT;
        GWConnReq w{};
        w.version = kVersion;
        w.clientCert = *cert;
        w.data = *data;
        if (QRT_ASN_EncodePDU(out, &w, GWConnReq_PDU) != 0) return QRT_PKCS7_ASN_ENCODING_FAILED;
        return 0;
    });
}

QRT_API int QRT_PKCS7_DecodeGWConnReq(BIN *clientCertOut, BIN *dataOut, const BIN *in) {
    if (!clientCertOut || !dataOut || !has_bytes(in)) return QRT_PKCS7_INVALID_INPUT;
    *clientCertOut = *dataOut = BIN{0, nullptr};
    int rc = OSTREL_GUARD_TRACE([&] {
        AsnTree<GWConnReq> w(GWConnReq_PDU);
        if (w.decode(in) != 0) return QRT_PKCS7_ASN_DECODING_FAILED;
        if (w->version != kVersion) return QRT_PKCS7_UNKNOWN_VERSION;
        if (int r = encode_cert(clientCertOut, w->clientCert)) return r;
        set_bin(dataOut, w->data.value, w->data.length);
        return 0;
    });
    if (rc) {
        QRT_BIN_Reset(clientCertOut);
        QRT_BIN_Reset(dataOut);
    }
    return rc;
}

QRT_API int QRT_PKCS7_EncodeGWConnResp(BIN *out, int status, const BIN *serverCert, const ZQ_PKCS7_GW_SET *dataSet) {
    if (!out || status < 0) return QRT_PKCS7_INVALID_INPUT;
    *out = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        // GWConnResp ::= SEQUENCE { version, status, [0] serverCert OPTIONAL, dataSet }
        GWConnResp w{};
        w.version = kVersion;
        w.status = status;
        AsnTree<Certificate> cert(Certificate_PDU);
        if (has_bytes(serverCert)) {
            if (cert.decode(serverCert) != 0) return QRT_PKCS7_BAD_CERT;
            w.bit_mask = GWConnResp_serverCert_present;
            w.serverCert = *cert;
        }
        std::vector<GWConnResp_dataSet_> nodes;
        for (const ZQ_PKCS7_GW_SET *s = dataSet; s; s = s->next) nodes.push_back({nullptr, s->value});
        w.dataSet = link(nodes);
        if (QRT_ASN_EncodePDU(out, &w, GWConnResp_PDU) != 0) return QRT_PKCS7_ASN_ENCODING_FAILED;
        return 0;
    });
}

QRT_API int QRT_PKCS7_DecodeGWConnResp(int *statusOut, BIN *serverCertOut, ZQ_PKCS7_GW_SET **dataSetOut,
                                       const BIN *in) {
    if (!statusOut || !has_bytes(in)) return QRT_PKCS7_INVALID_INPUT;
    *statusOut = 0;
    if (serverCertOut) *serverCertOut = BIN{0, nullptr};
    if (dataSetOut) *dataSetOut = nullptr;
    int rc = OSTREL_GUARD_TRACE([&] {
        AsnTree<GWConnResp> w(GWConnResp_PDU);
        if (w.decode(in) != 0) return QRT_PKCS7_ASN_DECODING_FAILED;
        if (w->version != kVersion) return QRT_PKCS7_UNKNOWN_VERSION;
        if (serverCertOut && (w->bit_mask & GWConnResp_serverCert_present))
            if (int r = encode_cert(serverCertOut, w->serverCert)) return r;
        if (dataSetOut) {
            size_t n = 0;
            for (auto *p = w->dataSet; p; p = p->next)
                if (++n > kMaxItems) return QRT_PKCS7_ASN_DECODING_FAILED;
            for (auto *p = w->dataSet; p; p = p->next)
                if (int r = QRT_PKCS7_GWSet_Add(dataSetOut, &p->value)) return r;
        }
        *statusOut = w->status;
        return 0;
    });
    if (rc) {
        if (serverCertOut) QRT_BIN_Reset(serverCertOut);
        if (dataSetOut) {
            QRT_PKCS7_GWSet_Free(*dataSetOut);
            *dataSetOut = nullptr;
        }
    }
    return rc;
}

QRT_API int QRT_PKCS7_GWEnveloped_GWEnvelope(BIN *itemOut, int encID, const BIN *content, const BIN *recipientCert) {
    if (!itemOut || !has_bytes(content) || !has_bytes(recipientCert)) return QRT_PKCS7_INVALID_INPUT;
    *itemOut = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        EnvItem item;
        GWEnvelopedData_ node{};
        if (int r = envelope_item(item, node.value, encID, *content, *recipientCert)) return r;
        GWEnvelopedData list = &node;
        BinOwner der;
        if (QRT_ASN_EncodePDU(der.get(), &list, GWEnvelopedData_PDU) != 0) return QRT_PKCS7_ASN_ENCODING_FAILED;
        return strip_outer(itemOut, *der);
    });
}

QRT_API int QRT_PKCS7_GWEnvelopedData_GWDevelope(int *encIdOut, BIN *contentOut, const BIN *item, const BIN *privKey) {
    if (!contentOut || !has_bytes(item) || !has_bytes(privKey)) return QRT_PKCS7_INVALID_INPUT;
    *contentOut = BIN{0, nullptr};
    if (encIdOut) *encIdOut = 0;
    int rc = OSTREL_GUARD_TRACE([&] {
        BinOwner wrapped;
        wrap_outer(wrapped, *item);
        AsnTree<GWEnvelopedData> list(GWEnvelopedData_PDU);
        if (list.decode(wrapped.get()) != 0 || !*list || (*list)->next) return QRT_PKCS7_BAD_ENVELOPED_DATA;
        GWEnvelopedItem &it = (*list)->value;
        return open_content(contentOut, encIdOut, it.encryptedContentInfo, nullptr, privKey,
                            &it.recipientInfo.encryptedKey);
    });
    if (rc) QRT_BIN_Reset(contentOut);
    return rc;
}

QRT_API int QRT_PKCS7_EncodeGWEnvelopedData(BIN *out, int encID, const ZQ_PKCS7_GW_SET *contents,
                                            const BIN *recipientCert) {
    if (!out || !has_bytes(recipientCert)) return QRT_PKCS7_INVALID_INPUT;
    *out = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        if (!contents) return QRT_PKCS7_NO_CONTENT;
        std::vector<std::unique_ptr<EnvItem>> items;
        std::vector<GWEnvelopedData_> nodes;
        for (const ZQ_PKCS7_GW_SET *s = contents; s; s = s->next) {
            items.push_back(std::make_unique<EnvItem>());
            nodes.push_back({});
            if (int r = envelope_item(*items.back(), nodes.back().value, encID, s->value, *recipientCert)) return r;
        }
        GWEnvelopedData list = link(nodes);
        if (QRT_ASN_EncodePDU(out, &list, GWEnvelopedData_PDU) != 0) return QRT_PKCS7_ASN_ENCODING_FAILED;
        return 0;
    });
}

QRT_API int QRT_PKCS7_DecodeGWEnvelopedData(ZQ_PKCS7_GW_SET **contentsOut, const BIN *in, const BIN *privKey) {
    if (!contentsOut || !has_bytes(in) || !has_bytes(privKey)) return QRT_PKCS7_INVALID_INPUT;
    *contentsOut = nullptr;
    return OSTREL_GUARD_TRACE([&] {
        AsnTree<GWEnvelopedData> list(GWEnvelopedData_PDU);
        if (list.decode(in) != 0) return QRT_PKCS7_BAD_ENVELOPED_DATA;
        size_t n = 0;
        for (auto *p = *list; p; p = p->next)
            if (++n > kMaxItems) return QRT_PKCS7_BAD_ENVELOPED_DATA;
        GwSetPtr got;
        ZQ_PKCS7_GW_SET *raw = nullptr;
        for (auto *p = *list; p; p = p->next) {
            BinOwner content;
            int r = open_content(content.get(), nullptr, p->value.encryptedContentInfo, nullptr, privKey,
                                 &p->value.recipientInfo.encryptedKey);
            if (r == 0) r = QRT_PKCS7_GWSet_Add(&raw, content.get());
            if (!got) got.reset(raw);
            if (r) return r;
        }
        *contentsOut = got.release();
        return 0;
    });
}

QRT_API int QRT_PKCS7_EncodeGWEncryptedData(BIN *out, int encID, const ZQ_PKCS7_GW_SET *contents, const BIN *key) {
    if (!out || !has_bytes(key)) return QRT_PKCS7_INVALID_INPUT;
    *out = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        if (!enc_alg(encID)) return QRT_PKCS7_UNKNOWN_ENCID;
        if (!contents) return QRT_PKCS7_NO_CONTENT;
        std::vector<std::unique_ptr<EncItem>> items;
        std::vector<GWEncryptedData_> nodes;
        for (const ZQ_PKCS7_GW_SET *s = contents; s; s = s->next) {
            // GWEncryptedItem ::= SEQUENCE { version, encryptedContentInfo }
            items.push_back(std::make_unique<EncItem>());
            nodes.push_back({});
            ZQ_PKCS7_CONTENT c{};
            int r = QRT_PKCS7_Content_Decode(&c, &s->value);
            if (r == 0) r = QRT_PKCS7_EncContent_Encrypt(&items.back()->ec, encID, &c, key);
            QRT_PKCS7_Content_Reset(&c);
            if (r == 0) r = items.back()->view(nodes.back().value.encryptedContentInfo);
            if (r) return r;
        }
        GWEncryptedData list = link(nodes);
        if (QRT_ASN_EncodePDU(out, &list, GWEncryptedData_PDU) != 0) return QRT_PKCS7_ASN_ENCODING_FAILED;
        return 0;
    });
}

QRT_API int QRT_PKCS7_DecodeGWEncryptedData(ZQ_PKCS7_GW_SET **contentsOut, const BIN *in, const BIN *key) {
    if (!contentsOut || !has_bytes(in) || !has_bytes(key)) return QRT_PKCS7_INVALID_INPUT;
    *contentsOut = nullptr;
    return OSTREL_GUARD_TRACE([&] {
        AsnTree<GWEncryptedData> list(GWEncryptedData_PDU);
        if (list.decode(in) != 0) return QRT_PKCS7_BAD_ENCRYPTED_DATA;
        size_t n = 0;
        for (auto *p = *list; p; p = p->next)
            if (++n > kMaxItems) return QRT_PKCS7_BAD_ENCRYPTED_DATA;
        GwSetPtr got;
        ZQ_PKCS7_GW_SET *raw = nullptr;
        for (auto *p = *list; p; p = p->next) {
            BinOwner content;
            int r = open_content(content.get(), nullptr, p->value.encryptedContentInfo, key, nullptr, nullptr);
            if (r == 0) r = QRT_PKCS7_GWSet_Add(&raw, content.get());
            if (!got) got.reset(raw);
            if (r) return r;
        }
        *contentsOut = got.release();
        return 0;
    });
}

}  // extern "C"
