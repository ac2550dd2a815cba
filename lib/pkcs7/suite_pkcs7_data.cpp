// Data contents: a ContentInfo { id-data, OCTET STRING } around octets, and back.
#include "ostrel/tlv.hpp"
#include "pkcs7_internal.h"

using namespace ostrel;
using namespace ostrel::pkcs7;

namespace {

// ContentInfo { type, [0] OCTET STRING data }, written in one buffer of its size.
int wrap_octets(BIN *out, int typeID, const BIN *data) {
    const ObjectID *oid = type_oid(typeID);
    if (!oid) return QRT_PKCS7_UNKNOWN_TYPEID;
    uint8_t head[10];
    Reader prefix(head, static_cast<size_t>(der_header(head, tlv::kOctetString, data->length) - head));
    content_info_der(out, *oid, prefix, data);
    return 0;
}

}  // namespace

extern "C" {

QRT_API int QRT_PKCS7_Data_Encode(BIN *out, const BIN *data) {
    if (!out || !data || (data->length && !data->value)) return QRT_PKCS7_INVALID_INPUT;
    *out = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        if (int rc = wrap_octets(out, QRT_PKCS7_DATA, data)) return rc;
        return 0;
    });
}

QRT_API int QRT_PKCS7_Data_Decode(BIN *out, const ZQ_PKCS7_CONTENT *content) {
    if (!out || !content) return QRT_PKCS7_INVALID_INPUT;
    *out = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        if (content->typeID != QRT_PKCS7_DATA) return QRT_PKCS7_MISMATCH_TYPEID;
        if (!has_bytes(content->value)) return QRT_PKCS7_NO_CONTENT;
        AsnTree<OctetString> os(OctetString_PDU);
        if (os.decode(content->value) != 0) return QRT_PKCS7_BAD_CONTENT_INFO;
        // the decoded buffer is handed over as it is
        *out = *os;
        *os = BIN{0, nullptr};
        return 0;
    });
}

QRT_API int QRT_PKCS7_EncodeData(BIN *out, const BIN *data) { return QRT_PKCS7_Data_Encode(out, data); }

QRT_API int QRT_PKCS7_DecodeData(BIN *out, const BIN *in) {
    if (!out || !has_bytes(in)) return QRT_PKCS7_INVALID_INPUT;
    *out = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        ZQ_PKCS7_CONTENT c{};
        int rc = QRT_PKCS7_Content_Decode(&c, in);
        if (rc == 0) rc = QRT_PKCS7_Data_Decode(out, &c);
        QRT_PKCS7_Content_Reset(&c);
        return rc;
    });
}

QRT_API int QRT_PKCS7_DVCS_EncodeData(BIN *out, const BIN *data, int kind) {
    if (!out || !data || (data->length && !data->value)) return QRT_PKCS7_INVALID_INPUT;
    *out = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        if (kind != QRT_PKCS7_DVCS_REQUEST && kind != QRT_PKCS7_DVCS_RESPONSE) return QRT_PKCS7_UNKNOWN_TYPEID;
        if (int rc = wrap_octets(out, kind, data)) return rc;
        return 0;
    });
}

}  // extern "C"
