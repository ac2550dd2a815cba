// Authenticated and unauthenticated attributes: the attribute list, its DER form (Attributes, a
// SET OF Attribute written in DER order by the engine: the bytes that go out and are signed),
// reading what peers send, and the checks a signer's authenticated attributes must pass.
#include <cstring>
#include <ctime>
#include <new>
#include <vector>

#include "ostrel/ct.hpp"
#include "pkcs7_signed.hpp"

using namespace ostrel;
using namespace ostrel::pkcs7;

namespace {

enum class Kind { Oid, Octets, Time, Integer, Der };

struct AttrRow {
    int typeID;
    const ObjectID *oid;
    Kind kind;
};
const AttrRow kAttrs[] = {
    {QRT_PKCS7_AT_CONTENT_TYPE, &pkcs_9_at_contentType, Kind::Oid},
    {QRT_PKCS7_AT_MESSAGE_DIGEST, &pkcs_9_at_messageDigest, Kind::Octets},
    {QRT_PKCS7_AT_SIGNING_TIME, &pkcs_9_at_signingTime, Kind::Time},
    {QRT_PKCS7_AT_RANDOM_NONCE, &pkcs_9_at_randomNonce, Kind::Octets},
    {QRT_PKCS7_AT_SEQUENCE_NUMBER, &pkcs_9_at_sequenceNumber, Kind::Integer},
    {QRT_PKCS7_AT_COUNTER_SIGNATURE, &pkcs_9_at_counterSignature, Kind::Der},
    {QRT_PKCS7_AT_SMIME_CAPABILITIES, &pkcs_9_at_smimeCapabilities, Kind::Der},
    {QRT_PKCS7_AT_CHAIN_HASH, &chainHash, Kind::Octets},
};

const AttrRow *attr_row(int typeID) {
    for (const AttrRow &r : kAttrs)
        if (r.typeID == typeID) return &r;
    return nullptr;
}

const AttrRow *attr_row(const ObjectID &oid) {
    for (const AttrRow &r : kAttrs)
        if (oid_equal(*r.oid, oid)) return &r;
    return nullptr;
}

using Bytes = std::vector<uint8_t>;

// Whether b is exactly one DER element.
bool one_element(const BIN &b) {
    Reader r(b.value, b.length), c;
    uint8_t tag = 0;
    return tlv::read_any(r, tag, c, nullptr, tlv::Profile::kDer) == tlv::kOk && r.empty();
}

// INTEGER in the fewest octets (two's complement).
Bytes integer_der(long long v) {
    uint8_t buf[8];
    auto u = static_cast<unsigned long long>(v);
    for (int i = 7; i >= 0; --i, u >>= 8) buf[i] = static_cast<uint8_t>(u);
    int start = 0;
    while (start < 7 &&
           ((buf[start] == 0x00 && !(buf[start + 1] & 0x80)) || (buf[start] == 0xff && (buf[start + 1] & 0x80))))
        ++start;
    Bytes out;
    put_tlv(out, tlv::kInteger, buf + start, static_cast<size_t>(8 - start));
    return out;
}

// signingTime: UTCTime for 1950-2049, GeneralizedTime outside (UTCTime cannot name those years).
int time_der(Bytes &out, long long t) {
    time_t tt = static_cast<time_t>(t);
    struct tm g {};
    if (!gmtime_r(&tt, &g)) return QRT_PKCS7_INVALID_INPUT;
    int year = g.tm_year + 1900;
    Time tv{};
    if (year >= 1950 && year < 2050) {
        tv.choice = Time_utcTime_chosen;
        QRT_ASN_Time2UTC(&tv.u.utcTime, tt);
    } else {
        tv.choice = Time_generalTime_chosen;
        QRT_ASN_Time2General(&tv.u.generalTime, tt);
    }
    BinOwner der;
    if (QRT_ASN_EncodePDU(der.get(), &tv, Time_PDU) != 0) return QRT_PKCS7_ASN_ENCODING_FAILED;
    out.assign(der->value, der->value + der->length);
    return 0;
}

// The DER of an attribute's (single) value.
int value_der(Bytes &out, const ZQ_PKCS7_ATTRIB &a, const AttrRow &row) {
    out.clear();
    switch (row.kind) {
        case Kind::Oid: {
            const ObjectID *oid = type_oid(static_cast<int>(a.number));
            if (!oid) return QRT_PKCS7_UNKNOWN_TYPEID;
            put_tlv(out, tlv::kOid, oid->value, oid->length);
            return 0;
        }
        case Kind::Octets:
            put_tlv(out, tlv::kOctetString, a.value.value, a.value.length);
            return 0;
        case Kind::Time:
            return time_der(out, a.number);
        case Kind::Integer:
            out = integer_der(a.number);
            return 0;
        case Kind::Der:
            if (!one_element(a.value)) return QRT_PKCS7_BAD_ATTRIBS;
            out.assign(a.value.value, a.value.value + a.value.length);
            return 0;
    }
    return QRT_PKCS7_INTERNAL;
}

// Reads the first value of a known attribute into the record.
int read_value(ZQ_PKCS7_ATTRIB &a, const AttrRow &row, const BIN &v) {
    Reader r(v.value, v.length), c;
    switch (row.kind) {
        case Kind::Oid: {
            if (tlv::read_tlv(r, tlv::kOid, c) || !r.empty() || c.empty() || c.remaining() > 0xffff)
                return QRT_PKCS7_BAD_ATTRIBS;
            ObjectID oid{static_cast<unsigned short>(c.remaining()), const_cast<uint8_t *>(c.data())};
            int type = type_id(oid);
            a.number = type < 0 ? 0 : type;
            return 0;
        }
        case Kind::Octets:
            if (tlv::read_tlv(r, tlv::kOctetString, c) || !r.empty()) return QRT_PKCS7_BAD_ATTRIBS;
            set_bin(&a.value, c.data(), c.remaining());
            return 0;
        case Kind::Time: {
            AsnTree<Time> t(Time_PDU);
            if (t.decode(&v) != 0) return QRT_PKCS7_BAD_ATTRIBS;
            a.number = t->choice == Time_utcTime_chosen ? QRT_ASN_UTC2Time(&t->u.utcTime)
                                                        : QRT_ASN_General2Time(&t->u.generalTime);
            return 0;
        }
        case Kind::Integer: {
            if (tlv::read_tlv(r, tlv::kInteger, c) || !r.empty() || c.empty() || c.remaining() > 8)
                return QRT_PKCS7_BAD_ATTRIBS;
            uint8_t b = 0;
            long long n = (c.data()[0] & 0x80) ? -1 : 0;
            while (c.u8(b)) n = static_cast<long long>(static_cast<unsigned long long>(n) << 8 | b);
            a.number = n;
            return 0;
        }
        case Kind::Der:
            set_bin(&a.value, v.value, v.length);
            return 0;
    }
    return QRT_PKCS7_INTERNAL;
}

ZQ_PKCS7_ATTRIB *new_attr() {
    auto *a = static_cast<ZQ_PKCS7_ATTRIB *>(QRT_malloc(sizeof(ZQ_PKCS7_ATTRIB)));
    if (!a) throw std::bad_alloc();
    *a = ZQ_PKCS7_ATTRIB{};
    return a;
}

void free_attr(ZQ_PKCS7_ATTRIB *a) {
    QRT_BIN_Reset(&a->value);
    QRT_BIN_Reset(&a->oid);
    QRT_free(a);
}

void append(ZQ_PKCS7_ATTRIBS *list, ZQ_PKCS7_ATTRIB *a) {
    ZQ_PKCS7_ATTRIB **tail = &list->first;
    while (*tail) tail = &(*tail)->next;
    *tail = a;
}

// Owns a node until it joins a list.
struct AttrHolder {
    ZQ_PKCS7_ATTRIB *a = new_attr();
    ~AttrHolder() {
        if (a) free_attr(a);
    }
    ZQ_PKCS7_ATTRIB *release() {
        ZQ_PKCS7_ATTRIB *p = a;
        a = nullptr;
        return p;
    }
};

int encode_list(BIN *out, const ZQ_PKCS7_ATTRIBS &list) {
    size_t n = 0;
    for (const ZQ_PKCS7_ATTRIB *a = list.first; a; a = a->next) ++n;
    std::vector<Bytes> store;  // the values' DER
    std::vector<Bytes> oids;   // identifiers of attributes outside the table
    std::vector<Attributes_> nodes(n);
    std::vector<std::vector<Attribute_values_>> values(n);
    store.reserve(n);
    size_t i = 0;
    for (const ZQ_PKCS7_ATTRIB *a = list.first; a; a = a->next, ++i) {
        Attribute &at = nodes[i].value;
        std::vector<Attribute_values_> &vals = values[i];
        if (a->typeID == 0) {
            // read from a peer: the identifier and the values SET as received
            if (!a->oid.length || a->oid.length > 0xffff) return QRT_PKCS7_BAD_ATTRIBS;
            at.type = ObjectID{static_cast<unsigned short>(a->oid.length), a->oid.value};
            Reader r(a->value.value, a->value.length), set;
            if (tlv::read_tlv(r, tlv::kSet, set, tlv::Profile::kBer) || !r.empty()) return QRT_PKCS7_BAD_ATTRIBS;
            while (!set.empty()) {
                Reader c, whole;
                uint8_t tag = 0;
                if (tlv::read_any(set, tag, c, &whole, tlv::Profile::kBer)) return QRT_PKCS7_BAD_ATTRIBS;
                Attribute_values_ v{};
                v.value = BIN{static_cast<unsigned>(whole.remaining()), const_cast<uint8_t *>(whole.data())};
                vals.push_back(v);
            }
        } else {
            const AttrRow *row = attr_row(a->typeID);
            if (!row) return QRT_PKCS7_UNKNOWN_ATTRIBID;
            at.type = *row->oid;
            if (a->valueCount == 0) {
                if (i + 1 < n) nodes[i].next = &nodes[i + 1];
                continue;
            }
            store.emplace_back();
            if (int rc = value_der(store.back(), *a, *row)) return rc;
            Attribute_values_ v{};
            v.value = BIN{static_cast<unsigned>(store.back().size()), store.back().data()};
            vals.push_back(v);
        }
        for (size_t k = 0; k + 1 < vals.size(); ++k) vals[k].next = &vals[k + 1];
        at.values = vals.empty() ? nullptr : &vals[0];
        if (i + 1 < n) nodes[i].next = &nodes[i + 1];
    }
    Attributes head = n ? &nodes[0] : nullptr;
    if (QRT_ASN_EncodePDU(out, &head, Attributes_PDU) != 0) return QRT_PKCS7_ASN_ENCODING_FAILED;
    return 0;
}

int decode_list(ZQ_PKCS7_ATTRIBS *list, const BIN &in) {
    if (!in.length || (in.value[0] != tlv::kSet && in.value[0] != 0xA0)) return QRT_PKCS7_BAD_ATTRIBS;
    // [0] IMPLICIT form: read with the SET tag
    Bytes copy;
    BIN src = in;
    if (in.value[0] == 0xA0) {
        copy.assign(in.value, in.value + in.length);
        copy[0] = tlv::kSet;
        src = BIN{in.length, copy.data()};
    }
    AsnTree<Attributes> tree(Attributes_PDU);
    if (tree.decode(&src) != 0) return QRT_PKCS7_BAD_ATTRIBS;
    for (Attributes_ *p = *tree; p; p = p->next) {
        AttrHolder h;
        int count = 0;
        for (Attribute_values_ *v = p->value.values; v; v = v->next) ++count;
        h.a->valueCount = count;
        const AttrRow *row = attr_row(p->value.type);
        if (row) {
            // an attribute without values keeps its type: the checks refuse it by its count
            h.a->typeID = row->typeID;
            if (count > 0)
                if (int rc = read_value(*h.a, *row, p->value.values->value)) return rc;
        } else {
            h.a->typeID = 0;
            set_bin(&h.a->oid, p->value.type.value, p->value.type.length);
            Bytes set;
            Bytes body;
            for (Attribute_values_ *v = p->value.values; v; v = v->next)
                body.insert(body.end(), v->value.value, v->value.value + v->value.length);
            put_tlv(set, tlv::kSet, body.data(), body.size());
            set_bin(&h.a->value, set.data(), set.size());
        }
        append(list, h.release());
    }
    return 0;
}

int gen_auth(BIN *out, int digestID, const ZQ_PKCS7_CONTENT &content) {
    if (!type_oid(content.typeID)) return QRT_PKCS7_UNKNOWN_TYPEID;
    if (!has_bytes(content.value)) return QRT_PKCS7_NO_CONTENT;
    BinOwner norm, md;
    Reader octets;
    if (int rc = digest_message(octets, *content.value, norm)) return rc;
    if (int rc = digest_of(md.get(), octets, digestID)) return rc;
    ZQ_PKCS7_ATTRIBS list{};
    struct Guard {
        ZQ_PKCS7_ATTRIBS &l;
        ~Guard() { QRT_PKCS7_Attributes_Reset(&l); }
    } g{list};
    if (int rc = QRT_PKCS7_Attributes_Add(&list, QRT_PKCS7_AT_CONTENT_TYPE, nullptr, content.typeID)) return rc;
    if (int rc = QRT_PKCS7_Attributes_Add(&list, QRT_PKCS7_AT_MESSAGE_DIGEST, md.get(), 0)) return rc;
    if (int rc = QRT_PKCS7_Attributes_Add(&list, QRT_PKCS7_AT_SIGNING_TIME, nullptr, QRT_Time_GetTime())) return rc;
    return encode_list(out, list);
}

int check_auth(const ZQ_PKCS7_ATTRIBS &list, int digestID, const ZQ_PKCS7_CONTENT &content) {
    const ZQ_PKCS7_ATTRIB *type = nullptr, *digest = nullptr;
    for (const ZQ_PKCS7_ATTRIB *a = list.first; a; a = a->next) {
        const ZQ_PKCS7_ATTRIB **slot = a->typeID == QRT_PKCS7_AT_CONTENT_TYPE     ? &type
                                       : a->typeID == QRT_PKCS7_AT_MESSAGE_DIGEST ? &digest
                                                                                  : nullptr;
        if (!slot) continue;
        if (*slot || a->valueCount != 1) return QRT_PKCS7_BAD_ATTRIBS;
        *slot = a;
    }
    if (!type) return QRT_PKCS7_NO_CONTENT_TYPE_ATTRIB;
    if (!digest) return QRT_PKCS7_NO_MESSAGE_DIGEST_ATTRIB;
    if (type->number != content.typeID) return QRT_PKCS7_MISMATCH_TYPEID;
    if (!has_bytes(content.value)) return QRT_PKCS7_NO_CONTENT;
    BinOwner norm, md;
    Reader octets;
    if (int rc = digest_message(octets, *content.value, norm)) return rc;
    if (int rc = digest_of(md.get(), octets, digestID)) return rc;
    if (md->length != digest->value.length || !ct_equal(md->value, digest->value.value, md->length))
        return QRT_PKCS7_INVALID_DIGEST;
    return 0;
}

}  // namespace

extern "C" {

QRT_API ZQ_PKCS7_ATTRIBS *QRT_PKCS7_Attributes_New(void) {
    auto *l = static_cast<ZQ_PKCS7_ATTRIBS *>(QRT_malloc(sizeof(ZQ_PKCS7_ATTRIBS)));
    if (l) l->first = nullptr;
    return l;
}

QRT_API int QRT_PKCS7_Attributes_Add(ZQ_PKCS7_ATTRIBS *list, int typeID, const BIN *value, long long number) {
    if (!list || (value && value->length && !value->value)) return QRT_PKCS7_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        const AttrRow *row = attr_row(typeID);
        if (!row) return QRT_PKCS7_UNKNOWN_ATTRIBID;
        AttrHolder h;
        h.a->typeID = typeID;
        h.a->valueCount = 1;
        switch (row->kind) {
            case Kind::Oid:
                if (!type_oid(static_cast<int>(number))) return QRT_PKCS7_UNKNOWN_TYPEID;
                h.a->number = number;
                break;
            case Kind::Time:
            case Kind::Integer:
                h.a->number = number;
                break;
            case Kind::Der:
                if (!value || !one_element(*value)) return QRT_PKCS7_BAD_ATTRIBS;
                set_bin(&h.a->value, value->value, value->length);
                break;
            case Kind::Octets:
                if (!value) return QRT_PKCS7_INVALID_INPUT;
                set_bin(&h.a->value, value->value, value->length);
                break;
        }
        append(list, h.release());
        return 0;
    });
}

QRT_API const ZQ_PKCS7_ATTRIB *QRT_PKCS7_Attributes_Get(const ZQ_PKCS7_ATTRIBS *list, int typeID) {
    return QRT_PKCS7_Attributes_GetEx(list, typeID, 0);
}

QRT_API const ZQ_PKCS7_ATTRIB *QRT_PKCS7_Attributes_GetEx(const ZQ_PKCS7_ATTRIBS *list, int typeID, int index) {
    if (!list || index < 0) return nullptr;
    for (const ZQ_PKCS7_ATTRIB *a = list->first; a; a = a->next)
        if (a->typeID == typeID && index-- == 0) return a;
    return nullptr;
}

QRT_API int QRT_PKCS7_Attributes_Encode(BIN *out, const ZQ_PKCS7_ATTRIBS *list) {
    if (!out || !list) return QRT_PKCS7_INVALID_INPUT;
    *out = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] { return encode_list(out, *list); });
}

QRT_API int QRT_PKCS7_Attributes_Decode(ZQ_PKCS7_ATTRIBS *list, const BIN *in) {
    if (!list || !has_bytes(in)) return QRT_PKCS7_INVALID_INPUT;
    QRT_PKCS7_Attributes_Reset(list);
    return OSTREL_GUARD_TRACE([&] {
        int rc = decode_list(list, *in);
        if (rc) QRT_PKCS7_Attributes_Reset(list);
        return rc;
    });
}

QRT_API int QRT_PKCS7_Attributes_GenAuth(BIN *out, int digestID, const ZQ_PKCS7_CONTENT *content) {
    if (!out || !content) return QRT_PKCS7_INVALID_INPUT;
    *out = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        int rc = gen_auth(out, digestID, *content);
        if (rc) QRT_BIN_Reset(out);
        return rc;
    });
}

QRT_API int QRT_PKCS7_Attributes_CheckAuth(const ZQ_PKCS7_ATTRIBS *list, int digestID,
                                           const ZQ_PKCS7_CONTENT *content) {
    if (!list || !content) return QRT_PKCS7_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] { return check_auth(*list, digestID, *content); });
}

QRT_API void QRT_PKCS7_Attributes_Reset(ZQ_PKCS7_ATTRIBS *list) {
    if (!list) return;
    ZQ_PKCS7_ATTRIB *a = list->first;
    while (a) {
        ZQ_PKCS7_ATTRIB *next = a->next;
        free_attr(a);
        a = next;
    }
    list->first = nullptr;
}

QRT_API void QRT_PKCS7_Attributes_Free(ZQ_PKCS7_ATTRIBS *list) {
    if (!list) return;
    QRT_PKCS7_Attributes_Reset(list);
    QRT_free(list);
}

}  // extern "C"
