// The layered API: PFX, safe, bag, attribute and privacy-mode records over the model the
// whole-file functions read into and write from.
#include "pkcs12_internal.h"
#include "suite_pkcs8.h"

using namespace ostrel;
using namespace ostrel::pkcs12;
using namespace ostrel::tlv;

namespace {

BIN *copy_bin(const BIN *src) {
    if (!src || !src->value) return nullptr;
    BIN *b = QRT_BIN_New();
    if (!b || !bin_assign(b, span_of(src))) {
        if (b) QRT_BIN_Free(b);
        throw std::bad_alloc();
    }
    return b;
}

BIN *copy_span(Span s) {
    BIN *b = QRT_BIN_New();
    if (!b || !bin_assign(b, s)) {
        if (b) QRT_BIN_Free(b);
        throw std::bad_alloc();
    }
    return b;
}

void free_bin(BIN *&b) {
    if (b) QRT_BIN_Free(b);
    b = nullptr;
}

void attribs_reset(ZQ_PKCS12_ATTRIBS &a) {
    free_bin(a.friendlyName);
    free_bin(a.localKeyId);
    free_bin(a.others);
}

void attribs_copy(ZQ_PKCS12_ATTRIBS &dst, const ZQ_PKCS12_ATTRIBS &src) {
    ZQ_PKCS12_ATTRIBS a{};
    try {
        a.friendlyName = copy_bin(src.friendlyName);
        a.localKeyId = copy_bin(src.localKeyId);
        a.others = copy_bin(src.others);
    } catch (...) {
        attribs_reset(a);
        throw;
    }
    dst = a;
}

void bag_free(ZQ_PKCS12_BAG *b) {
    while (b) {
        ZQ_PKCS12_BAG *next = b->next;
        free_bin(b->value);
        attribs_reset(b->attribs);
        QRT_free(b);
        b = next;
    }
}

void cts_free(ZQ_PKCS12_CTS *c) {
    while (c) {
        ZQ_PKCS12_CTS *next = c->next;
        free_bin(c->mode.recipCert);
        bag_free(c->bags);
        QRT_free(c);
        c = next;
    }
}

template <class T>
T *new_record() {
    T *r = static_cast<T *>(QRT_calloc(1, sizeof(T)));
    if (!r) throw std::bad_alloc();
    return r;
}

bool is_sequence(const BIN *v) {
    Reader r(v && v->value ? v->value : nullptr, v && v->value ? v->length : 0), c;
    return read_tlv(r, kSequence, c, Profile::kBer) == kOk && r.empty();
}

int bag_check(const ZQ_PKCS12_BAG &b) {
    switch (b.bagID) {
        case QRT_PKCS12_BAG_KEY:
            return is_sequence(b.value) ? 0 : QRT_PKCS12_BAD_KEY;
        case QRT_PKCS12_BAG_SHROUDEDKEY:
            return QRT_PKCS8_IsEncPrivKeyInfo(b.value) ? 0 : QRT_PKCS12_BAD_SHKEY;
        case QRT_PKCS12_BAG_CERT:
            return is_sequence(b.value) ? 0 : QRT_PKCS12_BAD_CERT;
        case QRT_PKCS12_BAG_CRL:
            return is_sequence(b.value) ? 0 : QRT_PKCS12_BAD_CRL;
        default:
            return QRT_PKCS12_UNKNOWN_BAGID;
    }
}

// A new bag record of a model bag (attributes included).
ZQ_PKCS12_BAG *record_of(const Bag &b) {
    ZQ_PKCS12_BAG *r = new_record<ZQ_PKCS12_BAG>();
    try {
        r->bagID = b.bagID;
        r->value = copy_span(span_of(b.value));
        if (b.hasFriendlyName) r->attribs.friendlyName = copy_span(span_of(b.friendlyName));
        if (b.hasLocalKeyId) r->attribs.localKeyId = copy_span(span_of(b.localKeyId));
        if (!b.others.empty()) r->attribs.others = copy_span(span_of(b.others));
    } catch (...) {
        bag_free(r);
        throw;
    }
    return r;
}

void model_attribs(Bag &m, const ZQ_PKCS12_ATTRIBS &a) {
    if (a.friendlyName && a.friendlyName->value) {
        m.friendlyName.assign(a.friendlyName->value, a.friendlyName->value + a.friendlyName->length);
        m.hasFriendlyName = true;
    }
    if (a.localKeyId && a.localKeyId->value) {
        m.localKeyId.assign(a.localKeyId->value, a.localKeyId->value + a.localKeyId->length);
        m.hasLocalKeyId = true;
    }
    if (has_bytes(a.others)) m.others.assign(a.others->value, a.others->value + a.others->length);
}

// The model of a safe record; its bags checked.
int model_of(Safe &s, const ZQ_PKCS12_CTS &c) {
    s.pvcID = c.mode.pvcID;
    s.pbeID = c.mode.pbeID;
    s.encID = c.mode.encID;
    if (has_bytes(c.mode.recipCert))
        s.recipCert.assign(c.mode.recipCert->value, c.mode.recipCert->value + c.mode.recipCert->length);
    for (const ZQ_PKCS12_BAG *b = c.bags; b; b = b->next) {
        if (int rc = bag_check(*b)) return rc;
        Bag m;
        m.bagID = b->bagID;
        m.value.assign(b->value->value, b->value->value + b->value->length);
        model_attribs(m, b->attribs);
        s.bags.push_back(std::move(m));
    }
    return 0;
}

// A new safe record of a model safe and its bags.
ZQ_PKCS12_CTS *record_of(const Safe &s, const std::vector<Bag> &bags, size_t index, bool all) {
    ZQ_PKCS12_CTS *c = new_record<ZQ_PKCS12_CTS>();
    try {
        c->mode.pvcID = s.pvcID;
        c->mode.pbeID = s.pbeID;
        c->mode.encID = s.encID;
        ZQ_PKCS12_BAG **tail = &c->bags;
        for (const Bag &b : bags) {
            if (!all && b.safe != index) continue;
            *tail = record_of(b);
            tail = &(*tail)->next;
        }
    } catch (...) {
        cts_free(c);
        throw;
    }
    return c;
}

int cts_add(ZQ_PKCS12_CTS **set, const ZQ_PKCS12_PVC_MODE &mode, const ZQ_PKCS12_BAG *bags) {
    if (mode.pvcID < QRT_PKCS12_PVC_NONE || mode.pvcID > QRT_PKCS12_PVC_PASSWORD) return QRT_PKCS12_UNKNOWN_PVCID;
    ZQ_PKCS12_CTS probe{};
    probe.mode = mode;
    probe.bags = const_cast<ZQ_PKCS12_BAG *>(bags);
    Safe s;
    if (int rc = model_of(s, probe)) return rc;
    ZQ_PKCS12_CTS *c = record_of(s, s.bags, 0, true);
    try {
        c->mode.recipCert = copy_bin(mode.recipCert);
    } catch (...) {
        cts_free(c);
        throw;
    }
    while (*set) set = &(*set)->next;
    *set = c;
    return 0;
}

}  // namespace

extern "C" {

QRT_API ZQ_PKCS12_PFX *QRT_PKCS12_PFX_New(void) {
    return static_cast<ZQ_PKCS12_PFX *>(QRT_calloc(1, sizeof(ZQ_PKCS12_PFX)));
}

QRT_API void QRT_PKCS12_PFX_Reset(ZQ_PKCS12_PFX *pfx) {
    if (!pfx) return;
    cts_free(pfx->safes);
    *pfx = ZQ_PKCS12_PFX{};
}

QRT_API void QRT_PKCS12_PFX_Free(ZQ_PKCS12_PFX *pfx) {
    QRT_PKCS12_PFX_Reset(pfx);
    QRT_free(pfx);
}

QRT_API int QRT_PKCS12_PFX_Add(ZQ_PKCS12_PFX *pfx, const ZQ_PKCS12_PVC_MODE *mode, const ZQ_PKCS12_BAG *bags) {
    if (!pfx || !mode || !bags) return QRT_PKCS12_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] { return cts_add(&pfx->safes, *mode, bags); });
}

QRT_API int QRT_PKCS12_PFX_Encode(BIN *der, const ZQ_PKCS12_PFX *pfx, const ZQ_PKCS12_USERDATA *ud) {
    if (!der) return QRT_PKCS12_INVALID_INPUT;
    *der = BIN{0, nullptr};
    if (!pfx || !ud) return QRT_PKCS12_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        std::vector<Safe> safes;
        for (const ZQ_PKCS12_CTS *c = pfx->safes; c; c = c->next) {
            safes.emplace_back();
            if (int rc = model_of(safes.back(), *c)) return rc;
        }
        return write_safes(der, safes, *ud);
    });
}

QRT_API int QRT_PKCS12_PFX_Decode(ZQ_PKCS12_PFX *pfx, const BIN *der, const ZQ_PKCS12_USERDATA *ud) {
    if (!pfx) return QRT_PKCS12_INVALID_INPUT;
    QRT_PKCS12_PFX_Reset(pfx);
    if (!has_bytes(der) || !ud) return QRT_PKCS12_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        BIN empty{0, nullptr};
        Content c;
        if (int rc = read_pfx(c, der, ud->password ? ud->password : &empty, ud)) return rc;
        ZQ_PKCS12_PFX out{3, c.itgID, nullptr};
        try {
            ZQ_PKCS12_CTS **tail = &out.safes;
            for (size_t i = 0; i < c.safes.size(); ++i) {
                *tail = record_of(c.safes[i], c.bags, i, false);
                tail = &(*tail)->next;
            }
        } catch (...) {
            cts_free(out.safes);
            throw;
        }
        *pfx = out;
        return 0;
    });
}

QRT_API int QRT_PKCS12_CtsSet_Add(ZQ_PKCS12_CTS **set, const ZQ_PKCS12_PVC_MODE *mode, const ZQ_PKCS12_BAG *bags) {
    if (!set || !mode || !bags) return QRT_PKCS12_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] { return cts_add(set, *mode, bags); });
}

QRT_API int QRT_PKCS12_Cts_Copy(ZQ_PKCS12_CTS **dst, const ZQ_PKCS12_CTS *src) {
    if (!dst) return QRT_PKCS12_INVALID_INPUT;
    *dst = nullptr;
    if (!src) return QRT_PKCS12_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] { return cts_add(dst, src->mode, src->bags); });
}

QRT_API void QRT_PKCS12_CtsSet_Free(ZQ_PKCS12_CTS *set) { cts_free(set); }

QRT_API int QRT_PKCS12_CtsSet_To_CtInfo(BIN *contentInfo, const ZQ_PKCS12_CTS *set, const BIN *password) {
    if (!contentInfo) return QRT_PKCS12_INVALID_INPUT;
    *contentInfo = BIN{0, nullptr};
    if (!set) return QRT_PKCS12_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        Safe s;
        if (int rc = model_of(s, *set)) return rc;
        SecBytes out;
        if (int rc = seal_safe(out, s, password)) return rc;
        return bin_assign(contentInfo, span_of(out)) ? 0 : QRT_PKCS12_MALLOC_FAILED;
    });
}

QRT_API int QRT_PKCS12_CtInfo_To_CtsSet(ZQ_PKCS12_CTS **set, const BIN *contentInfo, const ZQ_PKCS12_USERDATA *ud) {
    if (!set || !has_bytes(contentInfo)) return QRT_PKCS12_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        Safe s;
        BIN empty{0, nullptr};
        const BIN *pw = ud && ud->password ? ud->password : &empty;
        if (int rc = open_safe(span_of(contentInfo), pw, ud, s)) return rc;
        ZQ_PKCS12_CTS *c = record_of(s, s.bags, 0, true);
        while (*set) set = &(*set)->next;
        *set = c;
        return 0;
    });
}

QRT_API int QRT_PKCS12_BagSet_Add(ZQ_PKCS12_BAG **set, int bagID, const BIN *value, const ZQ_PKCS12_ATTRIBS *attribs) {
    if (!set || !has_bytes(value)) return QRT_PKCS12_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        ZQ_PKCS12_BAG probe{bagID, const_cast<BIN *>(value), {}, nullptr};
        if (int rc = bag_check(probe)) return rc;
        Bag m;
        m.bagID = bagID;
        m.value.assign(value->value, value->value + value->length);
        if (attribs) model_attribs(m, *attribs);
        ZQ_PKCS12_BAG *b = record_of(m);
        while (*set) set = &(*set)->next;
        *set = b;
        return 0;
    });
}

QRT_API const ZQ_PKCS12_BAG *QRT_PKCS12_BagSet_GetEx(const ZQ_PKCS12_BAG *set, int bagID, int index) {
    for (; set; set = set->next)
        if (set->bagID == bagID && index-- == 0) return set;
    return nullptr;
}

QRT_API const ZQ_PKCS12_BAG *QRT_PKCS12_BagSet_Get(const ZQ_PKCS12_BAG *set, int bagID) {
    return QRT_PKCS12_BagSet_GetEx(set, bagID, 0);
}

QRT_API void QRT_PKCS12_BagSet_Free(ZQ_PKCS12_BAG *set) { bag_free(set); }

QRT_API int QRT_PKCS12_Bag_Check(const ZQ_PKCS12_BAG *bag) {
    if (!bag) return QRT_PKCS12_INVALID_INPUT;
    return bag_check(*bag);
}

QRT_API int QRT_PKCS12_Bag_Copy(ZQ_PKCS12_BAG **dst, const ZQ_PKCS12_BAG *src) {
    if (!dst) return QRT_PKCS12_INVALID_INPUT;
    *dst = nullptr;
    if (!src) return QRT_PKCS12_INVALID_INPUT;
    return QRT_PKCS12_BagSet_Add(dst, src->bagID, src->value, &src->attribs);
}

QRT_API int QRT_PKCS12_Attribs_Copy(ZQ_PKCS12_ATTRIBS *dst, const ZQ_PKCS12_ATTRIBS *src) {
    if (!dst || !src) return QRT_PKCS12_INVALID_INPUT;
    attribs_reset(*dst);
    return OSTREL_GUARD_TRACE([&] {
        attribs_copy(*dst, *src);
        return 0;
    });
}

QRT_API void QRT_PKCS12_Attribs_Reset(ZQ_PKCS12_ATTRIBS *attribs) {
    if (attribs) attribs_reset(*attribs);
}

QRT_API int QRT_PKCS12_Attribs_To_AsnAttributes(BIN *der, const ZQ_PKCS12_ATTRIBS *attribs) {
    if (!der) return QRT_PKCS12_INVALID_INPUT;
    *der = BIN{0, nullptr};
    if (!attribs) return QRT_PKCS12_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        Bag m;
        model_attribs(m, *attribs);
        SecBytes out;
        put_attributes(out, m);
        if (out.empty()) out = {0x31, 0x00};
        return bin_assign(der, span_of(out)) ? 0 : QRT_PKCS12_MALLOC_FAILED;
    });
}

QRT_API int QRT_PKCS12_AsnAttributes_To_Attribs(ZQ_PKCS12_ATTRIBS *attribs, const BIN *der) {
    if (!attribs) return QRT_PKCS12_INVALID_INPUT;
    *attribs = ZQ_PKCS12_ATTRIBS{};
    if (!has_bytes(der)) return QRT_PKCS12_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        Reader r(der->value, der->length), set;
        Bag m;
        if (read_tlv(r, kSet, set, Profile::kBer) || !r.empty() || !read_attributes(set, m)) return QRT_PKCS12_BAD_PFX;
        ZQ_PKCS12_ATTRIBS a{};
        try {
            if (m.hasFriendlyName) a.friendlyName = copy_span(span_of(m.friendlyName));
            if (m.hasLocalKeyId) a.localKeyId = copy_span(span_of(m.localKeyId));
            if (!m.others.empty()) a.others = copy_span(span_of(m.others));
        } catch (...) {
            attribs_reset(a);
            throw;
        }
        *attribs = a;
        return 0;
    });
}

QRT_API int QRT_PKCS12_PvcMode_Copy(ZQ_PKCS12_PVC_MODE *dst, const ZQ_PKCS12_PVC_MODE *src) {
    if (!dst || !src) return QRT_PKCS12_INVALID_INPUT;
    QRT_PKCS12_PvcMode_Reset(dst);
    return OSTREL_GUARD_TRACE([&] {
        BIN *cert = copy_bin(src->recipCert);
        *dst = *src;
        dst->recipCert = cert;
        return 0;
    });
}

QRT_API void QRT_PKCS12_PvcMode_Reset(ZQ_PKCS12_PVC_MODE *mode) {
    if (!mode) return;
    free_bin(mode->recipCert);
    *mode = ZQ_PKCS12_PVC_MODE{};
}

}  // extern "C"
