// Records: the body of one structure in a form, and bodies back into structures; the
// four-digit framing of records; allocation and release of decoded structures.
#include <cstring>

#include "ostrel/owners.hpp"
#include "ostrel/textmsg.hpp"
#include "ras_internal.h"

namespace ostrel::ras {
namespace {

constexpr int kMaxRecords = 9999;

const Field *field_named(const Layout &layout, std::string_view name) {
    for (size_t i = 0; i < layout.count; ++i)
        if (name == layout.fields[i].name) return &layout.fields[i];
    return nullptr;
}

// Whether a field's condition holds on the fields of `base` read so far.
bool applies(const Layout &layout, const Field &f, const char *base) {
    auto value = [&](const char *name) -> std::string_view {
        const Field *g = field_named(layout, name);
        if (!g) return {};
        return {base + g->offset, strnlen(base + g->offset, g->width)};
    };
    switch (f.when) {
        case When::always:
            return true;
        case When::code_zero:
        case When::code_nonzero: {
            std::string_view code = value("code");
            bool zero = textmsg::is_zero_code(code.data(), code.size());
            return zero == (f.when == When::code_zero);
        }
        case When::ref1:
            return value("ref_no") == "1";
        case When::ref2:
            return value("ref_no") == "2";
        case When::ref3:
            return value("ref_no") == "3";
    }
    return false;
}

// A caller's field value; a field without its terminator is too long for it.
int field_value(const Field &f, const char *base, int nType, std::string_view &v) {
    const char *p = base + f.offset;
    size_t n = strnlen(p, f.width);
    if (n == f.width) return bound_of(f.limit(), nType, f.width).code;
    v = {p, n};
    return 0;
}

// "name(english name)" back into its two parts, matching the closing parenthesis at the end.
// The second bytes of two-byte characters are never parentheses, so Korean text is safe.
bool split_combined(std::string_view v, std::string_view &name, std::string_view &english) {
    if (v.empty() || v.back() != ')') return false;
    int depth = 0;
    for (size_t i = v.size(); i-- > 0;) {
        if (v[i] == ')') {
            ++depth;
        } else if (v[i] == '(' && --depth == 0) {
            name = v.substr(0, i);
            english = v.substr(i + 1, v.size() - i - 2);
            return true;
        }
    }
    return false;
}

int store(char *base, const Field &f, std::string_view v, const Bound &b) {
    if (v.size() > b.max) return b.code;
    if (!v.empty()) std::memcpy(base + f.offset, v.data(), v.size());
    base[f.offset + v.size()] = '\0';
    return 0;
}

// The text forms' user_name: "name(english)" into user_name and euser_name.
int store_combined(char *base, const Layout &layout, const Field &f, std::string_view v, int nType) {
    if (Bound whole = bound_of(f.limit(), nType, 0); v.size() > whole.max) return whole.code;
    std::string_view name = v, english;
    const Field *e = field_named(layout, "euser_name");
    if (!e || !split_combined(v, name, english)) english = {};
    // Each part must fit its own field.
    int rc = store(base, f, name, Bound{f.width - 1, QRT_RAS_USER_NAME_TOO_LONG});
    if (rc == 0 && e) rc = store(base, *e, english, bound_of(e->limit(), nType, e->width));
    return rc;
}

char *next_of(const Layout &layout, void *msg) {
    char *p;
    std::memcpy(&p, static_cast<char *>(msg) + layout.next, sizeof p);
    return p;
}

void set_next(const Layout &layout, void *msg, void *next) {
    std::memcpy(static_cast<char *>(msg) + layout.next, &next, sizeof next);
}

struct StructOwner {
    const Layout &layout;
    void *p = nullptr;
    ~StructOwner() { free_struct(layout, p); }
    void *release() {
        void *r = p;
        p = nullptr;
        return r;
    }
};

}  // namespace

int encode_body(std::string &out, const Layout &layout, const void *msg, int nType) {
    const char *base = static_cast<const char *>(msg);
    const uint8_t bit = form_bit(nType);
    for (size_t i = 0; i < layout.count; ++i) {
        const Field &f = layout.fields[i];
        if (!(f.forms & bit) || !applies(layout, f, base)) continue;
        std::string_view v;
        int rc = field_value(f, base, nType, v);
        if (rc) return rc;
        if (layout.combined_name && nType != QRT_RAS_FORM_WEB && std::strcmp(f.name, "user_name") == 0) {
            const Field *e = field_named(layout, "euser_name");
            std::string_view english;
            if (e && (rc = field_value(*e, base, nType, english)) != 0) return rc;
            std::string combined;
            combined.reserve(v.size() + english.size() + 2);
            combined.append(v).append(1, '(').append(english).append(1, ')');
            rc = put_value(out, f.name, combined, nType);
        } else {
            rc = put_value(out, f.name, v, nType);
        }
        if (rc) return rc;
    }
    return 0;
}

int decode_body(void *msg, const Layout &layout, std::string_view body, int nType) {
    char *base = static_cast<char *>(msg);
    const uint8_t bit = form_bit(nType);
    const WebFields web(body);
    size_t pos = 0;
    for (size_t i = 0; i < layout.count; ++i) {
        const Field &f = layout.fields[i];
        if (!(f.forms & bit) || !applies(layout, f, base)) continue;
        std::string_view v;
        if (nType == QRT_RAS_FORM_WEB) {
            if (!web.find(f.name, v)) v = {};
            if (v == "000" && std::strcmp(f.name, "code") == 0) v = "0000";
        } else if (int rc = next_text_value(body, pos, v); rc) {
            return rc;
        }
        // A zero byte cannot travel in a C string field: the value would be cut silently.
        if (v.find('\0') != std::string_view::npos) return QRT_RAS_INVALID_INPUT;
        int rc;
        if (layout.combined_name && nType != QRT_RAS_FORM_WEB && std::strcmp(f.name, "user_name") == 0)
            rc = store_combined(base, layout, f, v, nType);
        else
            rc = store(base, f, v, bound_of(f.limit(), nType, f.width));
        if (rc) return rc;
    }
    return 0;
}

void *new_struct(const Layout &layout) { return QRT_calloc(1, layout.size); }

void free_struct(const Layout &layout, void *msg) {
    while (msg) {
        void *next = layout.next >= 0 ? next_of(layout, msg) : nullptr;
        wipe(msg, layout.size);
        QRT_free(msg);
        msg = next;
    }
}

int frame_record(std::string &out, std::string_view body) {
    return textmsg::frame_record(out, body) ? 0 : QRT_RAS_REC_LEN_TOO_LONG;
}

int next_record(Reader &in, std::string_view &body) {
    switch (textmsg::next_record(in, body)) {
        case textmsg::Record::kOk: return 0;
        case textmsg::Record::kNotDigits: return QRT_RAS_INVALID_HEADER;
        default: return QRT_RAS_INVALID_INPUT;
    }
}

int encode_records(std::string &out, const Operation &op, bool request, const void *msg, int nType, int *count,
                   int max, int overflow) {
    const Layout &layout = request ? op.req : op.rep;
    if (max < 0 || max > kMaxRecords) {
        max = kMaxRecords;
        overflow = QRT_RAS_REC_NUM_TOO_LONG;
    }
    int n = 0;
    std::string body;
    for (const void *p = msg; p; p = layout.next >= 0 ? next_of(layout, const_cast<void *>(p)) : nullptr) {
        if (n == max) return overflow;
        body.clear();
        int rc = encode_body(body, layout, p, nType);
        if (!rc) rc = frame_record(out, body);
        if (rc) return rc;
        ++n;
        if (request) break;
    }
    *count = n;
    return 0;
}

int decode_records(void **msg, const Operation &op, bool request, Reader &in, int count, int nType) {
    const Layout &layout = request ? op.req : op.rep;
    if (request) count = 1;
    if (count < 1 || (layout.next < 0 && count != 1)) return QRT_RAS_INVALID_LOOP_COUNT;
    StructOwner head{layout};
    void *tail = nullptr;
    for (int i = 0; i < count; ++i) {
        if (in.empty()) return QRT_RAS_INVALID_LOOP_COUNT;
        std::string_view body;
        if (int rc = next_record(in, body); rc) return rc;
        void *rec = new_struct(layout);
        if (!rec) return QRT_RAS_MALLOC_FAILED;
        if (tail)
            set_next(layout, tail, rec);
        else
            head.p = rec;
        tail = rec;
        if (int rc = decode_body(rec, layout, body, nType); rc) return rc;
    }
    *msg = head.release();
    return 0;
}

}  // namespace ostrel::ras

using namespace ostrel::ras;

namespace {

// Builds into a std::string and hands the result over as a BIN.
template <class F>
int build(BIN *out, F &&body) {
    out->length = 0;
    out->value = nullptr;
    std::string s;
    int rc = body(s);
    if (rc) return rc;
    return ostrel::textmsg::to_bin(s, out) ? 0 : QRT_RAS_MALLOC_FAILED;
}

int gen_one(BIN *out, const void *msg, int opCode, int nType, bool request) {
    if (!out) return QRT_RAS_INVALID_INPUT;
    out->length = 0;
    out->value = nullptr;
    if (!msg || !valid_form(nType)) return QRT_RAS_INVALID_INPUT;
    const Operation *op = find_op(opCode);
    if (!op) return QRT_RAS_INVALID_OPCODE;
    return build(out, [&](std::string &s) { return encode_body(s, request ? op->req : op->rep, msg, nType); });
}

int anal_one(void **msg, const BIN *body, int opCode, int nType, bool request) {
    if (!msg || !body || (body->length && !body->value) || !valid_form(nType)) return QRT_RAS_INVALID_INPUT;
    *msg = nullptr;
    const Operation *op = find_op(opCode);
    if (!op) return QRT_RAS_INVALID_OPCODE;
    const Layout &layout = request ? op->req : op->rep;
    void *rec = new_struct(layout);
    if (!rec) return QRT_RAS_MALLOC_FAILED;
    int rc = decode_body(rec, layout, view_of(body), nType);
    if (rc) {
        free_struct(layout, rec);
        return rc;
    }
    *msg = rec;
    return 0;
}

int anal_records(void **msg, const BIN *in, int opCode, int recordNum, int nType, bool request) {
    if (!msg || !in || (in->length && !in->value) || !valid_form(nType)) return QRT_RAS_INVALID_INPUT;
    *msg = nullptr;
    const Operation *op = find_op(opCode);
    if (!op) return QRT_RAS_INVALID_OPCODE;
    ostrel::Reader r(in->value, in->length);
    return decode_records(msg, *op, request, r, recordNum, nType);
}

}  // namespace

extern "C" {

QRT_API int QRT_RAS_GenReqMsg(BIN *out, const void *msg, int opCode, int nType) {
    if (!out) return OSTREL_FAIL(QRT_RAS_INVALID_INPUT);
    out->length = 0;
    out->value = nullptr;
    if (!msg || !valid_form(nType)) return OSTREL_FAIL(QRT_RAS_INVALID_INPUT);
    const Operation *op = find_op(opCode);
    if (!op) return OSTREL_FAIL(QRT_RAS_INVALID_OPCODE);
    int count = 0;
    return OSTREL_GUARD_TRACE([&] {
        return build(out, [&](std::string &s) { return encode_records(s, *op, true, msg, nType, &count, -1, 0); });
    });
}

QRT_API int QRT_RAS_GenRepMsg(BIN *out, const void *msg, int opCode, int nType, int *recordNum) {
    if (!out) return OSTREL_FAIL(QRT_RAS_INVALID_INPUT);
    out->length = 0;
    out->value = nullptr;
    if (!msg || !valid_form(nType)) return OSTREL_FAIL(QRT_RAS_INVALID_INPUT);
    const Operation *op = find_op(opCode);
    if (!op) return OSTREL_FAIL(QRT_RAS_INVALID_OPCODE);
    int count = 0;
    int rc = OSTREL_GUARD_TRACE([&] {
        return build(out, [&](std::string &s) { return encode_records(s, *op, false, msg, nType, &count, -1, 0); });
    });
    if (rc) return rc;
    if (recordNum) *recordNum = count;
    return 0;
}

QRT_API int QRT_RAS_GenOneReqMsg(BIN *out, const void *msg, int opCode, int nType) {
    return OSTREL_GUARD_TRACE([&] { return gen_one(out, msg, opCode, nType, true); });
}

QRT_API int QRT_RAS_GenOneRepMsg(BIN *out, const void *msg, int opCode, int nType) {
    return OSTREL_GUARD_TRACE([&] { return gen_one(out, msg, opCode, nType, false); });
}

QRT_API int QRT_RAS_AnalReq(void **msg, const BIN *in, int opCode, int nType) {
    return OSTREL_GUARD_TRACE([&] { return anal_records(msg, in, opCode, 1, nType, true); });
}

QRT_API int QRT_RAS_AnalRep(void **msg, const BIN *in, int opCode, int recordNum, int nType) {
    return OSTREL_GUARD_TRACE([&] { return anal_records(msg, in, opCode, recordNum, nType, false); });
}

QRT_API int QRT_RAS_AnalOneReq(void **msg, const BIN *body, int opCode, int nType) {
    return OSTREL_GUARD_TRACE([&] { return anal_one(msg, body, opCode, nType, true); });
}

QRT_API int QRT_RAS_AnalOneRep(void **msg, const BIN *body, int opCode, int nType) {
    return OSTREL_GUARD_TRACE([&] { return anal_one(msg, body, opCode, nType, false); });
}

QRT_API int QRT_RAS_FreeMsgStr(void *msg, int serviceCode) {
    const Operation *op = find_op_by_service(serviceCode);
    if (!op) return OSTREL_FAIL(QRT_RAS_INVALID_SVC_CODE);
    free_struct(op->request == serviceCode ? op->req : op->rep, msg);
    return 0;
}

}  // extern "C"
