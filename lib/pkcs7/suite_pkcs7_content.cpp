// The content-information layer: ContentInfo in and out of its record, the octets a content's
// digest and signature cover, and its digest.
#include <cstring>

#include "ostrel/ct.hpp"
#include "ostrel/tlv.hpp"
#include "pkcs7_internal.h"

using namespace ostrel;
using namespace ostrel::pkcs7;

namespace ostrel::pkcs7 {

int content_from_tree(ZQ_PKCS7_CONTENT *out, ContentInfoWire &ci, bool allow_unknown) {
    int type = type_id(ci.contentType);
    if (type < 0 && !allow_unknown) return QRT_PKCS7_UNKNOWN_TYPEID;
    out->typeID = type < 0 ? 0 : type;
    if ((ci.bit_mask & ContentInfoWire_content_present) && ci.content.length) {
        // the engine's buffer is taken over: no second copy of a large content
        BIN *v = QRT_BIN_New();
        if (!v) throw std::bad_alloc();
        *v = ci.content;
        ci.content = BIN{0, nullptr};
        ci.bit_mask &= static_cast<unsigned char>(~ContentInfoWire_content_present);
        out->value = v;
    }
    return 0;
}

void content_info_der(BIN *out, const ObjectID &type, const Reader &prefix, const BIN *value) {
    size_t oid = der_size(type.length);
    size_t inner = value ? prefix.remaining() + value->length : 0;
    size_t body = oid + (value ? der_size(inner) : 0);
    BinOwner buf;
    alloc_bin(buf.get(), der_size(body));
    uint8_t *at = der_header(buf->value, tlv::kSequence, body);
    at = der_header(at, tlv::kOid, type.length);
    at = der_put(at, type.value, type.length);
    if (value) {
        at = der_header(at, 0xA0, inner);
        at = der_put(at, prefix.data(), prefix.remaining());
        der_put(at, value->value, value->length);
    }
    buf.release_to(out);
}

int digest_message(Reader &octets, const BIN &value, BinOwner &normalized) {
    Reader r(value.value, value.length), contents;
    uint8_t tag = 0;
    if (tlv::read_any(r, tag, contents, nullptr, tlv::Profile::kDer) == tlv::kOk && r.empty()) {
        octets = contents;
        return 0;
    }
    // BER (indefinite lengths, constructed strings): the engine brings it to DER, in which an
    // OCTET STRING is primitive and holds the concatenated octets
    ContentInfoWire ci{};
    ci.contentType = id_data;
    ci.bit_mask = ContentInfoWire_content_present;
    ci.content = value;
    BinOwner der;
    if (QRT_ASN_EncodePDU(der.get(), &ci, ContentInfoWire_PDU) != 0) return QRT_PKCS7_BAD_CONTENT_INFO;
    AsnTree<ContentInfoWire> back(ContentInfoWire_PDU);
    if (back.decode(der.get()) != 0 || !back->content.length) return QRT_PKCS7_BAD_CONTENT_INFO;
    normalized.get()->length = back->content.length;
    normalized.get()->value = back->content.value;
    back->content = BIN{0, nullptr};
    back->bit_mask = 0;
    Reader n(normalized->value, normalized->length);
    if (tlv::read_any(n, tag, contents, nullptr, tlv::Profile::kDer) != tlv::kOk || !n.empty())
        return QRT_PKCS7_BAD_CONTENT_INFO;
    octets = contents;
    return 0;
}

int digest_of(BIN *out, const Reader &octets, int digestID) {
    int hash = hash_id(digestID);
    if (!hash) return QRT_PKCS7_UNKNOWN_DIGESTID;
    BIN in{static_cast<unsigned>(octets.remaining()), const_cast<uint8_t *>(octets.data())};
    return QRT_CSP_Hash(out, &in, hash);
}

}  // namespace ostrel::pkcs7

namespace {

// The digest message of a content record (37360 without a value).
int content_octets(Reader &octets, const ZQ_PKCS7_CONTENT &content, BinOwner &normalized) {
    if (!has_bytes(content.value)) return QRT_PKCS7_NO_CONTENT;
    return digest_message(octets, *content.value, normalized);
}

}  // namespace

extern "C" {

QRT_API int QRT_PKCS7_Content_Decode(ZQ_PKCS7_CONTENT *out, const BIN *contentInfo) {
    if (!out || !has_bytes(contentInfo)) return QRT_PKCS7_INVALID_INPUT;
    QRT_PKCS7_Content_Reset(out);
    return OSTREL_GUARD_TRACE([&] {
        AsnTree<ContentInfoWire> ci(ContentInfoWire_PDU);
        if (ci.decode(contentInfo) != 0) return QRT_PKCS7_BAD_CONTENT_INFO;
        if (int rc = content_from_tree(out, *ci, false)) return rc;
        return 0;
    });
}

QRT_API int QRT_PKCS7_Content_Encode(BIN *out, const ZQ_PKCS7_CONTENT *content) {
    if (!out || !content) return QRT_PKCS7_INVALID_INPUT;
    *out = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        const ObjectID *oid = type_oid(content->typeID);
        if (!oid) return QRT_PKCS7_UNKNOWN_TYPEID;
        content_info_der(out, *oid, Reader(), has_bytes(content->value) ? content->value : nullptr);
        return 0;
    });
}

QRT_API void QRT_PKCS7_Content_Reset(ZQ_PKCS7_CONTENT *content) {
    if (!content) return;
    free_bin(content->value);
    content->typeID = 0;
}

QRT_API int QRT_PKCS7_Content_GetDigestMessage(BIN *out, const ZQ_PKCS7_CONTENT *content) {
    if (!out || !content) return QRT_PKCS7_INVALID_INPUT;
    *out = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        BinOwner norm;
        Reader octets;
        if (int rc = content_octets(octets, *content, norm)) return rc;
        set_bin(out, octets.data(), octets.remaining());
        return 0;
    });
}

QRT_API int QRT_PKCS7_Content_ComputeDigest(BIN *out, const ZQ_PKCS7_CONTENT *content, int digestID) {
    if (!out || !content) return QRT_PKCS7_INVALID_INPUT;
    *out = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        BinOwner norm;
        Reader octets;
        if (int rc = content_octets(octets, *content, norm)) return rc;
        if (int rc = digest_of(out, octets, digestID)) return rc;
        return 0;
    });
}

QRT_API int QRT_PKCS7_Content_VerifyDigest(const ZQ_PKCS7_CONTENT *content, int digestID, const BIN *digest) {
    if (!content || !digest) return QRT_PKCS7_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        BinOwner md;
        if (int rc = QRT_PKCS7_Content_ComputeDigest(md.get(), content, digestID)) return rc;
        if (md->length != digest->length || !ct_equal(md->value, digest->value, md->length))
            return QRT_PKCS7_INVALID_DIGEST;
        return 0;
    });
}

}  // extern "C"
