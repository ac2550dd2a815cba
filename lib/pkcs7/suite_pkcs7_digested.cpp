// Digested data: a content and its digest. The digest covers the content's octets (for data the
// payload), as for a signature without attributes; reading recomputes it and compares in
// constant time.
#include "pkcs7_internal.h"

using namespace ostrel;
using namespace ostrel::pkcs7;

namespace {

const unsigned char kNull[] = {0x05, 0x00};

struct Digested {
    ZQ_PKCS7_DIGESTED dd{};
    ~Digested() { QRT_PKCS7_Digested_Reset(&dd); }
};

}  // namespace

extern "C" {

QRT_API ZQ_PKCS7_DIGESTED *QRT_PKCS7_Digested_New(void) {
    auto *dd = static_cast<ZQ_PKCS7_DIGESTED *>(QRT_malloc(sizeof(ZQ_PKCS7_DIGESTED)));
    if (dd) *dd = ZQ_PKCS7_DIGESTED{};
    return dd;
}

QRT_API int QRT_PKCS7_Digested_Encode(BIN *out, const ZQ_PKCS7_DIGESTED *dd) {
    if (!out || !dd) return QRT_PKCS7_INVALID_INPUT;
    *out = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        const ObjectID *alg = digest_oid(dd->digestID);
        if (!alg) return QRT_PKCS7_UNKNOWN_DIGESTID;
        const ObjectID *type = type_oid(dd->content.typeID);
        if (!type) return QRT_PKCS7_UNKNOWN_TYPEID;
        if (!has_bytes(dd->content.value)) return QRT_PKCS7_NO_CONTENT;
        // a record without its digest gets it computed
        BinOwner computed;
        const BIN *digest = dd->digest;
        if (!has_bytes(digest)) {
            if (int rc = QRT_PKCS7_Content_ComputeDigest(computed.get(), &dd->content, dd->digestID)) return rc;
            digest = computed.get();
        }
        // DigestedData ::= SEQUENCE { version, digestAlgorithm, contentInfo, digest }
        DigestedDataWire w{};
        w.version = dd->content.typeID == QRT_PKCS7_DATA ? 0 : 2;
        w.digestAlgorithm.algorithm = *alg;
        w.digestAlgorithm.bit_mask = AlgorithmIdentifier_parameters_present;
        w.digestAlgorithm.parameters = BIN{2, const_cast<unsigned char *>(kNull)};
        w.contentInfo.contentType = *type;
        w.contentInfo.bit_mask = ContentInfoWire_content_present;
        w.contentInfo.content = *dd->content.value;
        w.digest = *digest;
        BinOwner inner;
        if (QRT_ASN_EncodePDU(inner.get(), &w, DigestedDataWire_PDU) != 0) return QRT_PKCS7_ASN_ENCODING_FAILED;
        ZQ_PKCS7_CONTENT c{QRT_PKCS7_DIGESTED, inner.get()};
        return QRT_PKCS7_Content_Encode(out, &c);
    });
}

QRT_API int QRT_PKCS7_Digested_Decode(ZQ_PKCS7_DIGESTED *dd, const ZQ_PKCS7_CONTENT *contentInfo) {
    if (!dd || !contentInfo) return QRT_PKCS7_INVALID_INPUT;
    QRT_PKCS7_Digested_Reset(dd);
    int rc = OSTREL_GUARD_TRACE([&] {
        if (contentInfo->typeID != QRT_PKCS7_DIGESTED) return QRT_PKCS7_MISMATCH_TYPEID;
        if (!has_bytes(contentInfo->value)) return QRT_PKCS7_NO_CONTENT;
        AsnTree<DigestedDataWire> w(DigestedDataWire_PDU);
        if (w.decode(contentInfo->value) != 0) return QRT_PKCS7_BAD_DIGESTED_DATA;
        int digest = digest_id(w->digestAlgorithm.algorithm);
        if (digest < 0) return QRT_PKCS7_UNKNOWN_DIGESTID;
        dd->version = w->version;
        dd->digestID = digest;
        if (int r = content_from_tree(&dd->content, w->contentInfo, false)) return r;
        dd->digest = new_bin(w->digest);
        return 0;
    });
    if (rc) QRT_PKCS7_Digested_Reset(dd);
    return rc;
}

QRT_API void QRT_PKCS7_Digested_Reset(ZQ_PKCS7_DIGESTED *dd) {
    if (!dd) return;
    QRT_PKCS7_Content_Reset(&dd->content);
    free_bin(dd->digest);
    dd->version = dd->digestID = 0;
}

QRT_API void QRT_PKCS7_Digested_Free(ZQ_PKCS7_DIGESTED *dd) {
    QRT_PKCS7_Digested_Reset(dd);
    QRT_free(dd);
}

QRT_API int QRT_PKCS7_EncodeDigested(BIN *out, int digestID, const BIN *content) {
    if (!out || !has_bytes(content)) return QRT_PKCS7_INVALID_INPUT;
    *out = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        if (!digest_oid(digestID)) return QRT_PKCS7_UNKNOWN_DIGESTID;
        Digested d;
        d.dd.digestID = digestID;
        if (int rc = QRT_PKCS7_Content_Decode(&d.dd.content, content)) return rc;
        return QRT_PKCS7_Digested_Encode(out, &d.dd);
    });
}

QRT_API int QRT_PKCS7_DecodeDigested(int *digestIdOut, BIN *contentOut, const BIN *in) {
    if (!contentOut || !has_bytes(in)) return QRT_PKCS7_INVALID_INPUT;
    *contentOut = BIN{0, nullptr};
    if (digestIdOut) *digestIdOut = 0;
    int rc = OSTREL_GUARD_TRACE([&] {
        Digested d;
        ZQ_PKCS7_CONTENT c{};
        int r = QRT_PKCS7_Content_Decode(&c, in);
        if (r == 0) r = QRT_PKCS7_Digested_Decode(&d.dd, &c);
        QRT_PKCS7_Content_Reset(&c);
        if (r) return r;
        if (!has_bytes(d.dd.digest)) return QRT_PKCS7_INVALID_DIGEST;
        if (int v = QRT_PKCS7_Content_VerifyDigest(&d.dd.content, d.dd.digestID, d.dd.digest)) return v;
        if (int e = QRT_PKCS7_Content_Encode(contentOut, &d.dd.content)) return e;
        if (digestIdOut) *digestIdOut = d.dd.digestID;
        return 0;
    });
    if (rc) QRT_BIN_Reset(contentOut);
    return rc;
}

}  // extern "C"
