// Headers: length (24-byte form only), service code, local time and record count in decimal;
// the operation table.
#include <cstring>
#include <string>

#include "crs_internal.h"
#include "ostrel/textmsg.hpp"

namespace ostrel::crs {
namespace {

constexpr Pair kPairs[] = {{50, 51}, {95, 96}, {93, 94}};

int gen(BIN *out, int svc, int recordNum, long length, bool with_length) {
    if (!out) return QRT_CRS_INVALID_INPUT;
    out->length = 0;
    out->value = nullptr;
    if (svc < 0) return QRT_CRS_INVALID_SVC_CODE;
    if (recordNum < 0 || recordNum > 9999 || length < 0) return QRT_CRS_INVALID_INPUT;
    if (length > 9999) return QRT_CRS_FIELD_TOO_LONG;
    char stamp[15];
    if (textmsg::now14(stamp) != 0) return QRT_CRS_INVALID_DATE;
    std::string s;
    if (with_length) textmsg::append_digits(s, length, 4);
    textmsg::append_digits(s, svc, 2);
    s.append(stamp, 14);
    textmsg::append_digits(s, recordNum, 4);
    return textmsg::to_bin(s, out) ? 0 : QRT_CRS_MALLOC_FAILED;
}

// Parses service code, time and count at `at` (after the length, if any); returns at + 20.
int anal(ZQ_CRS_MsgHeader *header, const BIN *in, size_t at) {
    if (!header || !in || (in->length && !in->value)) return QRT_CRS_INVALID_INPUT;
    std::memset(header, 0, sizeof *header);
    if (in->length < at + 20) return QRT_CRS_INVALID_INPUT;
    const uint8_t *p = in->value;
    long length = 0, code = 0, stamp = 0, count = 0;
    if ((at && !textmsg::read_digits(p, at, length)) || !textmsg::read_digits(p + at, 2, code) ||
        !textmsg::read_digits(p + at + 2, 14, stamp) || !textmsg::read_digits(p + at + 16, 4, count))
        return QRT_CRS_INVALID_INPUT;
    int op = QRT_CRS_GetOpCode(static_cast<int>(code));
    if (op < 0) return QRT_CRS_INVALID_SVC_CODE;
    std::memcpy(header->msgDateTime, p + at + 2, 14);
    if (textmsg::check_date14(header->msgDateTime) != 0) return QRT_CRS_INVALID_DATE;
    header->serviceCode = static_cast<int>(code);
    header->recordNum = static_cast<int>(count);
    header->opCode = op;
    return static_cast<int>(at + 20);
}

}  // namespace

const Pair *pair_of(int code) {
    for (const Pair &p : kPairs)
        if (p.request == code || p.reply == code) return &p;
    return nullptr;
}

}  // namespace ostrel::crs

using namespace ostrel::crs;

extern "C" {

QRT_API int QRT_CRS_GetOpCode(int code) {
    const Pair *p = pair_of(code);
    return p ? p->request : QRT_CRS_INVALID_SVC_CODE;
}

QRT_API int QRT_CRS_GetReqSvcCode(int operation) {
    const Pair *p = pair_of(operation);
    return p ? p->request : QRT_CRS_INVALID_SVC_CODE;
}

QRT_API int QRT_CRS_GetRepSvcCode(int operation) {
    const Pair *p = pair_of(operation);
    return p ? p->reply : QRT_CRS_INVALID_SVC_CODE;
}

QRT_API int QRT_CRS_GenReqMsgHeader(BIN *out, int operation, int recordNum, int bodyLen) {
    return OSTREL_GUARD_TRACE(
        [&] { return gen(out, QRT_CRS_GetReqSvcCode(operation), recordNum, bodyLen < 0 ? -1 : bodyLen + 24L, true); });
}

QRT_API int QRT_CRS_GenRepMsgHeader(BIN *out, int operation, int recordNum, int bodyLen) {
    return OSTREL_GUARD_TRACE(
        [&] { return gen(out, QRT_CRS_GetRepSvcCode(operation), recordNum, bodyLen < 0 ? -1 : bodyLen + 20L, true); });
}

QRT_API int QRT_CRS_CA_GenReqMsgHeader(BIN *out, int operation, int recordNum) {
    return OSTREL_GUARD_TRACE([&] { return gen(out, QRT_CRS_GetReqSvcCode(operation), recordNum, 0, false); });
}

QRT_API int QRT_CRS_AnalHeader(ZQ_CRS_MsgHeader *header, const BIN *in) {
    int rc = anal(header, in, 4);
    return rc < 0 ? OSTREL_FAIL(rc) : rc;
}

QRT_API int QRT_CRS_CA_AnalHeader(ZQ_CRS_MsgHeader *header, const BIN *in) {
    int rc = anal(header, in, 0);
    return rc < 0 ? OSTREL_FAIL(rc) : rc;
}

QRT_API int QRT_CRS_CheckDate(const char *dateTime) { return ostrel::textmsg::check_date14(dateTime); }

}  // extern "C"
