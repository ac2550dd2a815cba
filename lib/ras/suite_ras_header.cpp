// Message headers: 24 decimal digits in the text forms (length, service code, time, record
// count), six in the web form (web code, record count); the older builders; the date rule.
#include <cstring>

#include "ostrel/textmsg.hpp"
#include "ras_internal.h"

namespace ostrel::ras {
namespace {

constexpr size_t kTextHeader = 24;
constexpr size_t kWebHeader = 6;
constexpr long kMaxLength = 9999;

}  // namespace

int encode_header(std::string &out, const ZQ_RAS_MsgHeader &header, size_t bodyLen, int nType) {
    const Operation *op = find_op_by_service(header.serviceCode);
    if (!op) return QRT_RAS_INVALID_SVC_CODE;
    if (nType == QRT_RAS_FORM_WEB) {
        if (op->web < 0) return QRT_RAS_INVALID_SVC_CODE;
        if (header.recordNum < 0 || header.recordNum > 99) return QRT_RAS_REC_NUM_TOO_LONG;
        textmsg::append_digits(out, op->web, 4);
        textmsg::append_digits(out, header.recordNum, 2);
        return 0;
    }
    // A request's length counts its own four digits, a reply's does not.
    const bool request = op->request == header.serviceCode;
    size_t total = bodyLen + (request ? kTextHeader : kTextHeader - 4);
    if (bodyLen > static_cast<size_t>(kMaxLength) || total > static_cast<size_t>(kMaxLength))
        return QRT_RAS_MSG_LEN_TOO_LONG;
    if (strnlen(header.msgDateTime, sizeof header.msgDateTime) < 14) return QRT_RAS_INVALID_DATE;
    for (int i = 0; i < 14; ++i)
        if (header.msgDateTime[i] < '0' || header.msgDateTime[i] > '9') return QRT_RAS_INVALID_DATE;
    if (header.recordNum < 0 || header.recordNum > 9999) return QRT_RAS_REC_NUM_TOO_LONG;
    textmsg::append_digits(out, static_cast<long>(total), 4);
    textmsg::append_digits(out, header.serviceCode, 2);
    out.append(header.msgDateTime, 14);
    textmsg::append_digits(out, header.recordNum, 4);
    return 0;
}

int decode_header(ZQ_RAS_MsgHeader &header, Reader &in, int nMsgType, int nType) {
    std::memset(&header, 0, sizeof header);
    uint8_t h[kTextHeader];
    long code = 0, count = 0;
    if (nType == QRT_RAS_FORM_WEB) {
        if (!in.copy(h, kWebHeader)) return QRT_RAS_INVALID_HEADER;
        if (!textmsg::read_digits(h, 4, code) || !textmsg::read_digits(h + 4, 2, count))
            return QRT_RAS_INVALID_HEADER;
        const Operation *op = find_op_by_web(static_cast<int>(code));
        if (!op) return QRT_RAS_INVALID_SVC_CODE;
        header.serviceCode = nMsgType == QRT_RAS_MSG_REQUEST ? op->request : op->reply;
        header.recordNum = static_cast<int>(count);
        header.opCode = op->opcode;
        return 0;
    }
    long length = 0, stamp = 0;
    if (!in.copy(h, kTextHeader)) return QRT_RAS_INVALID_HEADER;
    if (!textmsg::read_digits(h, 4, length) || !textmsg::read_digits(h + 4, 2, code) ||
        !textmsg::read_digits(h + 6, 14, stamp) || !textmsg::read_digits(h + 20, 4, count))
        return QRT_RAS_INVALID_HEADER;
    const Operation *op = find_op_by_service(static_cast<int>(code));
    if (!op) return QRT_RAS_INVALID_SVC_CODE;
    // A structure of the other kind than the caller expects would be misread by the caller.
    if (nMsgType >= 0 && (op->request == code) != (nMsgType == QRT_RAS_MSG_REQUEST)) return QRT_RAS_INVALID_SVC_CODE;
    std::memcpy(header.msgDateTime, h + 6, 14);
    header.msgDateTime[14] = '\0';
    if (textmsg::check_date14(header.msgDateTime) != 0) return QRT_RAS_INVALID_DATE;
    header.serviceCode = static_cast<int>(code);
    header.recordNum = static_cast<int>(count);
    header.opCode = op->opcode;
    return 0;
}

}  // namespace ostrel::ras

using namespace ostrel::ras;

namespace {

int gen_header(BIN *out, const ZQ_RAS_MsgHeader &header, int bodyLen, int nType) {
    out->length = 0;
    out->value = nullptr;
    if (bodyLen < 0 || !valid_form(nType)) return QRT_RAS_INVALID_INPUT;
    std::string s;
    int rc = encode_header(s, header, static_cast<size_t>(bodyLen), nType);
    if (rc) return rc;
    return ostrel::textmsg::to_bin(s, out) ? 0 : QRT_RAS_MALLOC_FAILED;
}

int gen_legacy(BIN *out, int svc, int recordNum, int bodyLen) {
    if (!out) return QRT_RAS_INVALID_INPUT;
    out->length = 0;
    out->value = nullptr;
    if (svc < 0) return QRT_RAS_INVALID_OPCODE;
    ZQ_RAS_MsgHeader h{};
    h.serviceCode = svc;
    h.recordNum = recordNum;
    if (ostrel::textmsg::now14(h.msgDateTime) != 0) return QRT_RAS_INVALID_DATE;
    return gen_header(out, h, bodyLen, QRT_RAS_FORM_TEXT);
}

}  // namespace

extern "C" {

QRT_API int QRT_RAS_GenMsgHeader(BIN *out, const ZQ_RAS_MsgHeader *header, int bodyLen, int nType) {
    if (!out || !header) return OSTREL_FAIL(QRT_RAS_INVALID_INPUT);
    return OSTREL_GUARD_TRACE([&] { return gen_header(out, *header, bodyLen, nType); });
}

QRT_API int QRT_RAS_AnalMsgHeader(ZQ_RAS_MsgHeader *header, const BIN *in, int nMsgType, int nType,
                                  int *bodyOffset) {
    if (!header || !in || (in->length && !in->value) || !valid_form(nType)) return OSTREL_FAIL(QRT_RAS_INVALID_INPUT);
    ostrel::Reader r(in->value, in->length);
    int rc = decode_header(*header, r, nMsgType == QRT_RAS_MSG_REQUEST ? 1 : 0, nType);
    if (rc) return OSTREL_FAIL(rc);
    if (bodyOffset) *bodyOffset = static_cast<int>(in->length - r.remaining());
    return 0;
}

QRT_API int QRT_RAS_GenReqMsgHeader(BIN *out, int opCode, int recordNum, int bodyLen) {
    return OSTREL_GUARD_TRACE([&] { return gen_legacy(out, QRT_RAS_GetReqSvcCode(opCode), recordNum, bodyLen); });
}

QRT_API int QRT_RAS_GenRepMsgHeader(BIN *out, int opCode, int recordNum, int bodyLen) {
    return OSTREL_GUARD_TRACE([&] { return gen_legacy(out, QRT_RAS_GetRepSvcCode(opCode), recordNum, bodyLen); });
}

QRT_API int QRT_RAS_AnalHeader(ZQ_RAS_MsgHeader *header, const BIN *in) {
    if (!header || !in || (in->length && !in->value)) return OSTREL_FAIL(QRT_RAS_INVALID_INPUT);
    ostrel::Reader r(in->value, in->length);
    int rc = decode_header(*header, r, -1, QRT_RAS_FORM_TEXT);
    return rc ? OSTREL_FAIL(rc) : 24;
}

QRT_API int QRT_RAS_CheckDate(const char *dateTime) { return ostrel::textmsg::check_date14(dateTime); }

}  // extern "C"
