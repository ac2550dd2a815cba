// Whole messages: header and records together.
#include "ostrel/textmsg.hpp"
#include "ras_internal.h"

using namespace ostrel::ras;

extern "C" {

QRT_API int QRT_RAS_EncodeMsg(BIN *out, const void *msg, const ZQ_RAS_MsgHeader *header, int nType) {
    if (!out) return OSTREL_FAIL(QRT_RAS_INVALID_INPUT);
    out->length = 0;
    out->value = nullptr;
    if (!msg || !header || !valid_form(nType)) return OSTREL_FAIL(QRT_RAS_INVALID_INPUT);
    const Operation *op = find_op_by_service(header->serviceCode);
    if (!op || (nType == QRT_RAS_FORM_WEB && op->web < 0)) return OSTREL_FAIL(QRT_RAS_INVALID_SVC_CODE);
    const bool request = op->request == header->serviceCode;
    return OSTREL_GUARD_TRACE([&] {
        std::string records;
        int count = 0;
        int r = request ? encode_records(records, *op, true, msg, nType, &count, -1, 0)
                        : encode_records(records, *op, false, msg, nType, &count, header->recordNum,
                                         QRT_RAS_INVALID_LOOP_COUNT);
        if (r) return r;
        if (!request && count != header->recordNum) return QRT_RAS_INVALID_LOOP_COUNT;
        std::string whole;
        whole.reserve(records.size() + 24);
        if ((r = encode_header(whole, *header, records.size(), nType)) != 0) return r;
        whole.append(records);
        return ostrel::textmsg::to_bin(whole, out) ? 0 : QRT_RAS_MALLOC_FAILED;
    });
}

QRT_API int QRT_RAS_DecodeMsg(void **msg, ZQ_RAS_MsgHeader *header, const BIN *in, int nMsgType, int nType) {
    if (!msg || !header || !in || (in->length && !in->value) || !valid_form(nType))
        return OSTREL_FAIL(QRT_RAS_INVALID_INPUT);
    *msg = nullptr;
    ostrel::Reader r(in->value, in->length);
    return OSTREL_GUARD_TRACE([&] {
        int e = decode_header(*header, r, nMsgType == QRT_RAS_MSG_REQUEST ? 1 : 0, nType);
        if (e) return e;
        const Operation *op = find_op(header->opCode);
        return decode_records(msg, *op, op->request == header->serviceCode, r, header->recordNum, nType);
    });
}

}  // extern "C"
