// Headers: the binary form (opcode byte, big-endian record count), the 20-byte text form (the
// RA text header without its length) and the web form of the RA library.
#include <cstring>
#include <string>

#include "cas_internal.h"
#include "ostrel/reader.hpp"
#include "ostrel/textmsg.hpp"

namespace {

constexpr int kBinaryHeader = 5;
constexpr int kTextHeader = 20;

ZQ_RAS_MsgHeader to_ras(const ZQ_CAS_MsgHeader &h) {
    ZQ_RAS_MsgHeader r{};
    r.serviceCode = h.serviceCode;
    r.recordNum = h.recordNum;
    r.opCode = h.opCode;
    std::memcpy(r.msgDateTime, h.msgDateTime, sizeof r.msgDateTime);
    return r;
}

void from_ras(ZQ_CAS_MsgHeader &h, const ZQ_RAS_MsgHeader &r) {
    h.serviceCode = r.serviceCode;
    h.recordNum = r.recordNum;
    h.opCode = r.opCode;
    std::memcpy(h.msgDateTime, r.msgDateTime, sizeof h.msgDateTime);
}

// The service code of an opcode (never of a web code), or -1.
int svc_of_opcode(int opcode, int nMsgType) {
    int svc = QRT_RAS_GetSvcCode(opcode, nMsgType == QRT_RAS_MSG_REQUEST ? 1 : 0);
    return svc >= 0 && QRT_RAS_GetOpCode(svc) == opcode ? svc : -1;
}

}  // namespace

namespace ostrel::cas {

int encode_header(BIN *out, const ZQ_CAS_MsgHeader &header, int nType) {
    if (nType == QRT_CAS_FORM_BINARY) {
        int op = QRT_RAS_GetOpCode(header.serviceCode);
        if (op < 0) return QRT_CAS_INVALID_SVC_CODE;
        if (header.recordNum < 0) return QRT_CAS_INVALID_INPUT;
        unsigned char b[kBinaryHeader] = {static_cast<unsigned char>(op)};
        unsigned int n = static_cast<unsigned int>(header.recordNum);
        for (int i = 0; i < 4; ++i) b[1 + i] = static_cast<unsigned char>(n >> (24 - 8 * i));
        return QRT_BIN_Set(out, b, kBinaryHeader) ? QRT_CAS_MALLOC_FAILED : 0;
    }
    ZQ_RAS_MsgHeader r = to_ras(header);
    BIN full{0, nullptr};
    int rc = QRT_RAS_GenMsgHeader(&full, &r, 0, nType);
    if (rc) return rc;
    if (nType == QRT_CAS_FORM_TEXT) {  // the RA text header less its four length digits
        rc = QRT_BIN_Set(out, full.value + 4, static_cast<int>(full.length) - 4) ? QRT_CAS_MALLOC_FAILED : 0;
        QRT_BIN_Reset(&full);
        return rc;
    }
    *out = full;
    return 0;
}

int decode_header(ZQ_CAS_MsgHeader &header, const BIN &in, int nMsgType, int nType, int &offset) {
    std::memset(&header, 0, sizeof header);
    if (nType == QRT_CAS_FORM_BINARY) {
        Reader r(in.value, in.length);
        uint8_t op = 0;
        uint32_t count = 0;
        if (!r.u8(op) || !r.be32(count)) return QRT_CAS_INVALID_DATA_FORMAT;
        int svc = svc_of_opcode(op, nMsgType);
        if (svc < 0) return QRT_CAS_UNKNOWN_OPCODE;
        if (count > 0x7FFFFFFFu) return QRT_CAS_INVALID_DATA_FORMAT;
        header.serviceCode = svc;
        header.recordNum = static_cast<int>(count);
        header.opCode = op;
        offset = kBinaryHeader;
        return 0;
    }
    ZQ_RAS_MsgHeader r{};
    int rc;
    if (nType == QRT_CAS_FORM_TEXT) {
        // Put a length in front and read it as the RA text header.
        if (in.length < static_cast<unsigned>(kTextHeader)) return QRT_CAS_INVALID_DATA_FORMAT;
        std::string full;
        textmsg::append_digits(full, std::min<long>(9999, in.length + 4L), 4);
        full.append(reinterpret_cast<const char *>(in.value), kTextHeader);
        BIN b{static_cast<unsigned int>(full.size()), reinterpret_cast<unsigned char *>(full.data())};
        rc = QRT_RAS_AnalMsgHeader(&r, &b, nMsgType, QRT_RAS_FORM_TEXT, nullptr);
        offset = kTextHeader;
    } else {
        rc = QRT_RAS_AnalMsgHeader(&r, &in, nMsgType, QRT_RAS_FORM_WEB, &offset);
    }
    if (rc) return rc;
    from_ras(header, r);
    return 0;
}

}  // namespace ostrel::cas

using namespace ostrel::cas;

extern "C" {

QRT_API int QRT_CAS_EncodeMsgHeader(BIN *out, const ZQ_CAS_MsgHeader *header, int nType) {
    if (!out) return OSTREL_FAIL(QRT_CAS_INVALID_INPUT);
    *out = BIN{0, nullptr};
    if (!header || !valid_form(nType)) return OSTREL_FAIL(QRT_CAS_INVALID_INPUT);
    return OSTREL_GUARD_TRACE([&] { return encode_header(out, *header, nType); });
}

QRT_API int QRT_CAS_DecodeMsgHeader(ZQ_CAS_MsgHeader *header, const BIN *in, int nMsgType, int nType,
                                    int *bodyOffset) {
    if (!header || !in || (in->length && !in->value) || !valid_form(nType)) return OSTREL_FAIL(QRT_CAS_INVALID_INPUT);
    int offset = 0;
    int rc = OSTREL_GUARD_TRACE([&] { return decode_header(*header, *in, nMsgType, nType, offset); });
    if (rc) return rc;
    if (bodyOffset) *bodyOffset = offset;
    return 0;
}

QRT_API int QRT_CAS_GenMsgHeader(BIN *out, int opCode, int recordNum) {
    if (!out) return OSTREL_FAIL(QRT_CAS_INVALID_INPUT);
    *out = BIN{0, nullptr};
    int svc = svc_of_opcode(opCode, QRT_RAS_MSG_REQUEST);
    if (svc < 0) return OSTREL_FAIL(QRT_CAS_INVALID_OPCODE);
    if (recordNum < 0 || recordNum > 9999) return OSTREL_FAIL(QRT_CAS_INVALID_INPUT);
    char stamp[15];
    if (ostrel::textmsg::now14(stamp) != 0) return OSTREL_FAIL(QRT_CAS_INVALID_DATA_FORMAT);
    return OSTREL_GUARD_TRACE([&] {
        std::string s;
        ostrel::textmsg::append_digits(s, svc, 2);
        s.append(stamp, 14);
        ostrel::textmsg::append_digits(s, recordNum, 4);
        return ostrel::textmsg::to_bin(s, out) ? 0 : QRT_CAS_MALLOC_FAILED;
    });
}

QRT_API int QRT_CAS_AnalHeader(ZQ_CAS_MsgHeader *header, const BIN *in) {
    if (!header || !in || (in->length && !in->value)) return OSTREL_FAIL(QRT_CAS_INVALID_INPUT);
    std::memset(header, 0, sizeof *header);
    if (in->length < static_cast<unsigned>(kTextHeader)) return OSTREL_FAIL(QRT_CAS_INVALID_DATA_FORMAT);
    const uint8_t *p = in->value;
    long code = 0, stamp = 0, count = 0;
    if (!ostrel::textmsg::read_digits(p, 2, code) || !ostrel::textmsg::read_digits(p + 2, 14, stamp) ||
        !ostrel::textmsg::read_digits(p + 16, 4, count))
        return OSTREL_FAIL(QRT_CAS_INVALID_DATA_FORMAT);
    int op = QRT_RAS_GetOpCode(static_cast<int>(code));
    if (op < 0) return OSTREL_FAIL(QRT_CAS_INVALID_SVC_CODE);
    std::memcpy(header->msgDateTime, p + 2, 14);
    if (ostrel::textmsg::check_date14(header->msgDateTime) != 0) return OSTREL_FAIL(QRT_CAS_INVALID_DATA_FORMAT);
    header->serviceCode = static_cast<int>(code);
    header->recordNum = static_cast<int>(count);
    header->opCode = op;
    return kTextHeader;
}

}  // extern "C"
