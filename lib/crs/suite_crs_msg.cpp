// Request and reply records: values in a fixed order, each followed by "$", framed by a
// four-digit body length.
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

#include "crs_internal.h"
#include "ostrel/owners.hpp"
#include "ostrel/reader.hpp"
#include "ostrel/textmsg.hpp"

namespace ostrel::crs {
namespace {

struct Field {
    size_t offset, width;  // width includes the terminator
};

#define REQ(n) Field{offsetof(ZQ_CRS_REQ_MSG, n), sizeof(ZQ_CRS_REQ_MSG::n)}
#define REP(n) Field{offsetof(ZQ_CRS_REP_MSG, n), sizeof(ZQ_CRS_REP_MSG::n)}

constexpr Field kStatusReq[] = {REQ(corp_code), REQ(oper_id), REQ(issuer_dn), REQ(issuer_pub_hash),
                                REQ(cert_serial), REQ(issuer_url), REQ(user_id)};
constexpr size_t kStatusReqCount = 6;  // 95 adds user_id
constexpr Field kDbReq[] = {REQ(local_db_id), REQ(db_user), REQ(db_pass), REQ(db_name), REQ(reserved1)};
constexpr Field kRepHead[] = {REP(code), REP(message)};
constexpr Field kStatusRep[] = {REP(corp_code),    REP(produceAt),      REP(issuder_dn), REP(cert_serial),
                                REP(cert_status),  REP(revoked_time),   REP(revoked_reason), REP(thisupdate),
                                REP(nextupdate)};
constexpr Field kRepUser = REP(user_id);

struct Span {
    const Field *fields;
    size_t count;
};

Span req_fields(int op) {
    if (op == QRT_CRS_OP_DB_CHANGE) return {kDbReq, std::size(kDbReq)};
    return {kStatusReq, op == QRT_CRS_OP_CERT_STATUS_USER ? kStatusReqCount + 1 : kStatusReqCount};
}

int put(std::string &out, const char *base, const Field &f) {
    size_t n = strnlen(base + f.offset, f.width);
    if (n == f.width) return QRT_CRS_FIELD_TOO_LONG;  // no terminator within the field
    std::string_view v(base + f.offset, n);
    if (v.find('$') != std::string_view::npos) return QRT_CRS_INVALID_INPUT;
    out.append(v).append(1, '$');
    return 0;
}

int put_all(std::string &out, const char *base, Span s) {
    for (size_t i = 0; i < s.count; ++i)
        if (int rc = put(out, base, s.fields[i]); rc) return rc;
    return 0;
}

// Reads the next value into its field; -2 when there is no "$", -6 when it does not fit.
int get(std::string_view body, size_t &pos, char *base, const Field &f) {
    size_t end = body.find('$', pos);
    if (end == std::string_view::npos) return QRT_CRS_INVALID_INPUT;
    size_t n = end - pos;
    if (n >= f.width) return QRT_CRS_FIELD_TOO_LONG;
    if (std::memchr(body.data() + pos, 0, n)) return QRT_CRS_INVALID_INPUT;  // would be cut silently
    std::memcpy(base + f.offset, body.data() + pos, n);
    base[f.offset + n] = '\0';
    pos = end + 1;
    return 0;
}

int get_all(std::string_view body, size_t &pos, char *base, Span s) {
    for (size_t i = 0; i < s.count; ++i)
        if (int rc = get(body, pos, base, s.fields[i]); rc) return rc;
    return 0;
}

bool code_zero(const ZQ_CRS_REP_MSG &rep) { return textmsg::is_zero_code(rep.code, sizeof rep.code); }

int encode_req(std::string &out, const ZQ_CRS_REQ_MSG &req, int op) {
    return put_all(out, reinterpret_cast<const char *>(&req), req_fields(op));
}

int encode_rep(std::string &out, const ZQ_CRS_REP_MSG &rep, int op, int option) {
    const char *base = reinterpret_cast<const char *>(&rep);
    if (int rc = put_all(out, base, {kRepHead, std::size(kRepHead)}); rc) return rc;
    if (op == QRT_CRS_OP_DB_CHANGE || !code_zero(rep)) return 0;
    if (int rc = put_all(out, base, {kStatusRep, std::size(kStatusRep)}); rc) return rc;
    if (op == QRT_CRS_OP_CERT_STATUS && option == 1) return put(out, base, kRepUser);
    return 0;
}

int decode_req(ZQ_CRS_REQ_MSG &req, std::string_view body, int op) {
    size_t pos = 0;
    return get_all(body, pos, reinterpret_cast<char *>(&req), req_fields(op));
}

int decode_rep(ZQ_CRS_REP_MSG &rep, std::string_view body, int op) {
    char *base = reinterpret_cast<char *>(&rep);
    size_t pos = 0;
    if (int rc = get_all(body, pos, base, {kRepHead, std::size(kRepHead)}); rc) return rc;
    if (op == QRT_CRS_OP_DB_CHANGE || !code_zero(rep)) return 0;
    if (int rc = get_all(body, pos, base, {kStatusRep, std::size(kStatusRep)}); rc) return rc;
    // Built with the key-management option, a reply 51 ends with the user id.
    if (op == QRT_CRS_OP_CERT_STATUS && pos < body.size()) return get(body, pos, base, kRepUser);
    return 0;
}

int frame(std::string &out, const std::string &body) {
    return textmsg::frame_record(out, body) ? 0 : QRT_CRS_FIELD_TOO_LONG;
}

int next_record(Reader &in, std::string_view &body) {
    return textmsg::next_record(in, body) == textmsg::Record::kOk ? 0 : QRT_CRS_INVALID_INPUT;
}

template <class T>
void free_chain(T *p) {
    while (p) {
        T *next = nullptr;
        if constexpr (requires { p->next; }) next = p->next;
        wipe(p, sizeof *p);
        QRT_free(p);
        p = next;
    }
}

template <class F>
int build(BIN *out, F &&body) {
    std::string s;
    if (int rc = body(s); rc) return rc;
    return textmsg::to_bin(s, out) ? 0 : QRT_CRS_MALLOC_FAILED;
}

// Checks the common arguments of the builders and normalises the operation.
int begin(BIN *out, const void *msg, int operation, int &op) {
    if (!out) return QRT_CRS_INVALID_INPUT;
    out->length = 0;
    out->value = nullptr;
    if (!msg) return QRT_CRS_INVALID_INPUT;
    const Pair *p = pair_of(operation);
    if (!p) return QRT_CRS_INVALID_SVC_CODE;
    op = p->request;
    return 0;
}

int check_option(int op, int option) {
    return op == QRT_CRS_OP_CERT_STATUS && option != 0 && option != 1 ? QRT_CRS_INVALID_SVC_CODE : 0;
}

int anal_req(ZQ_CRS_REQ_MSG **req, const BIN *in, int operation, bool framed) {
    if (!req || !in || (in->length && !in->value)) return QRT_CRS_INVALID_INPUT;
    *req = nullptr;
    const Pair *p = pair_of(operation);
    if (!p) return QRT_CRS_INVALID_SVC_CODE;
    Reader r(in->value, in->length);
    std::string_view body(reinterpret_cast<const char *>(in->value), in->length);
    if (framed)
        if (int rc = next_record(r, body); rc) return rc;
    auto *m = static_cast<ZQ_CRS_REQ_MSG *>(QRT_calloc(1, sizeof(ZQ_CRS_REQ_MSG)));
    if (!m) return QRT_CRS_MALLOC_FAILED;
    if (int rc = decode_req(*m, body, p->request); rc) {
        free_chain(m);
        return rc;
    }
    *req = m;
    return 0;
}

int anal_rep(ZQ_CRS_REP_MSG **rep, const BIN *in, int operation, int recordNum, bool framed) {
    if (!rep || !in || (in->length && !in->value)) return QRT_CRS_INVALID_INPUT;
    *rep = nullptr;
    const Pair *p = pair_of(operation);
    if (!p) return QRT_CRS_INVALID_SVC_CODE;
    if (recordNum < 1) return QRT_CRS_INVALID_INPUT;
    Reader r(in->value, in->length);
    ZQ_CRS_REP_MSG *head = nullptr, **tail = &head;
    for (int i = 0; i < recordNum; ++i) {
        std::string_view body(reinterpret_cast<const char *>(in->value), in->length);
        int rc = framed ? next_record(r, body) : 0;
        ZQ_CRS_REP_MSG *m = nullptr;
        if (!rc) {
            m = static_cast<ZQ_CRS_REP_MSG *>(QRT_calloc(1, sizeof(ZQ_CRS_REP_MSG)));
            if (!m) rc = QRT_CRS_MALLOC_FAILED;
        }
        if (!rc) {
            *tail = m;
            tail = &m->next;
            rc = decode_rep(*m, body, p->request);
        }
        if (rc) {
            free_chain(head);  // a list is released whole when any record fails
            return rc;
        }
        if (!framed) break;
    }
    *rep = head;
    return 0;
}

}  // namespace
}  // namespace ostrel::crs

using namespace ostrel::crs;

extern "C" {

QRT_API int QRT_CRS_GenOneReqMsg(const ZQ_CRS_REQ_MSG *req, int operation, BIN *out) {
    return OSTREL_GUARD_TRACE([&] {
        int op = 0;
        int rc = begin(out, req, operation, op);
        if (!rc) rc = build(out, [&](std::string &s) { return encode_req(s, *req, op); });
        return rc;
    });
}

QRT_API int QRT_CRS_GenReqMsg(const ZQ_CRS_REQ_MSG *req, int operation, BIN *out) {
    return OSTREL_GUARD_TRACE([&] {
        int op = 0;
        int rc = begin(out, req, operation, op);
        if (!rc)
            rc = build(out, [&](std::string &s) {
                std::string body;
                int r = encode_req(body, *req, op);
                return r ? r : frame(s, body);
            });
        return rc;
    });
}

QRT_API int QRT_CRS_GenOneRepMsg(const ZQ_CRS_REP_MSG *rep, int operation, BIN *out, int option) {
    return OSTREL_GUARD_TRACE([&] {
        int op = 0;
        int rc = begin(out, rep, operation, op);
        if (!rc) rc = check_option(op, option);
        if (!rc) rc = build(out, [&](std::string &s) { return encode_rep(s, *rep, op, option); });
        return rc;
    });
}

QRT_API int QRT_CRS_GenRepMsg(const ZQ_CRS_REP_MSG *rep, int operation, int option, int *recordNum, BIN *out) {
    return OSTREL_GUARD_TRACE([&] {
        int op = 0;
        int rc = begin(out, rep, operation, op);
        if (!rc) rc = check_option(op, option);
        int count = 0;
        if (!rc)
            rc = build(out, [&](std::string &s) {
                std::string body;
                for (const ZQ_CRS_REP_MSG *p = rep; p; p = p->next) {
                    if (count == 9999) return QRT_CRS_FIELD_TOO_LONG;  // four digits of record count
                    body.clear();
                    int r = encode_rep(body, *p, op, option);
                    if (!r) r = frame(s, body);
                    if (r) return r;
                    ++count;
                }
                return 0;
            });
        if (!rc && recordNum) *recordNum = count;
        return rc;
    });
}

QRT_API int QRT_CRS_AnalReq(ZQ_CRS_REQ_MSG **req, const BIN *in, int operation) {
    return OSTREL_GUARD_TRACE([&] { return anal_req(req, in, operation, true); });
}

QRT_API int QRT_CRS_AnalOneReq(ZQ_CRS_REQ_MSG **req, const BIN *body, int operation) {
    return OSTREL_GUARD_TRACE([&] { return anal_req(req, body, operation, false); });
}

QRT_API int QRT_CRS_AnalRep(ZQ_CRS_REP_MSG **rep, const BIN *in, int operation, int recordNum) {
    return OSTREL_GUARD_TRACE([&] { return anal_rep(rep, in, operation, recordNum, true); });
}

QRT_API int QRT_CRS_AnalOneRep(ZQ_CRS_REP_MSG **rep, const BIN *body, int operation) {
    return OSTREL_GUARD_TRACE([&] { return anal_rep(rep, body, operation, 1, false); });
}

QRT_API int QRT_CRS_FreeReqMsgStr(ZQ_CRS_REQ_MSG *req) {
    free_chain(req);
    return 0;
}

QRT_API int QRT_CRS_FreeRepMsgStr(ZQ_CRS_REP_MSG *rep) {
    free_chain(rep);
    return 0;
}

QRT_API int QRT_CRS_PutValue(BIN *out, const char *name, const char *value) {
    if (!out || !name || !value || (out->length && !out->value)) return OSTREL_FAIL(QRT_CRS_INVALID_INPUT);
    size_t n = std::strlen(value);
    if (std::memchr(value, '$', n)) return OSTREL_FAIL(QRT_CRS_INVALID_INPUT);
    size_t total = size_t{out->length} + n + 1;
    if (total > 0x7FFFFFFFu) return OSTREL_FAIL(QRT_CRS_INVALID_INPUT);
    auto *p = static_cast<unsigned char *>(QRT_realloc(out->value, total + 1));
    if (!p) return OSTREL_FAIL(QRT_CRS_MALLOC_FAILED);
    std::memcpy(p + out->length, value, n);
    p[total - 1] = '$';
    p[total] = 0;
    out->value = p;
    out->length = static_cast<unsigned int>(total);
    return 0;
}

QRT_API int QRT_CRS_GetDataLenSize(void) { return 4; }

}  // extern "C"
