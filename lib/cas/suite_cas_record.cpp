// Records and whole messages: the RA record bodies framed by a 4-byte big-endian length in the
// binary form and by four digits otherwise, with the integrity value on user-registration
// requests in the text form.
#include <cstring>
#include <string>

#include "cas_internal.h"
#include "ostrel/owners.hpp"
#include "ostrel/reader.hpp"
#include "ostrel/textmsg.hpp"

namespace {

using ostrel::BinOwner;
using ostrel::Reader;

// Without a header to bound it, a reply list is cut off here (a cycle would never end).
constexpr int kMaxRecords = 1 << 20;
constexpr size_t kMaxSignatureHex = sizeof(ZQ_RAS_USER_NEW_REQ::signature) - 1;

bool carries_integrity(int opcode, int nType) {
    return nType == QRT_CAS_FORM_TEXT && (opcode == 142 || opcode == 150 || opcode == 159);
}

int reply_code(int opcode) { return QRT_RAS_GetSvcCode(opcode, 0); }

// The linked replies: certificate view and event view.
bool is_list(int opcode) { return opcode == QRT_RAS_OP_CERT_VIEW || opcode == QRT_RAS_OP_EVENT_VIEW; }

const void *next_of(int opcode, const void *rep) {
    if (opcode == QRT_RAS_OP_CERT_VIEW) return static_cast<const ZQ_RAS_CERT_VIEW_REP *>(rep)->next;
    if (opcode == QRT_RAS_OP_EVENT_VIEW) return static_cast<const ZQ_RAS_EVENT_VIEW_REP *>(rep)->next;
    return nullptr;
}

void set_next(int opcode, void *rep, void *next) {
    if (opcode == QRT_RAS_OP_CERT_VIEW)
        static_cast<ZQ_RAS_CERT_VIEW_REP *>(rep)->next = static_cast<ZQ_RAS_CERT_VIEW_REP *>(next);
    else if (opcode == QRT_RAS_OP_EVENT_VIEW)
        static_cast<ZQ_RAS_EVENT_VIEW_REP *>(rep)->next = static_cast<ZQ_RAS_EVENT_VIEW_REP *>(next);
}

BIN bin_view(std::string_view s) {
    return BIN{static_cast<unsigned int>(s.size()), reinterpret_cast<unsigned char *>(const_cast<char *>(s.data()))};
}

int frame(std::string &out, std::string_view body, int nType) {
    if (nType == QRT_CAS_FORM_BINARY) {
        if (body.size() > 0xFFFFFFFFu) return QRT_RAS_REC_LEN_TOO_LONG;
        auto n = static_cast<uint32_t>(body.size());
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(n >> (24 - 8 * i)));
        out.append(body);
    } else if (!ostrel::textmsg::frame_record(out, body)) {
        return QRT_RAS_REC_LEN_TOO_LONG;
    }
    return 0;
}

int next_record(Reader &in, int nType, std::string_view &body) {
    if (nType != QRT_CAS_FORM_BINARY) {
        switch (ostrel::textmsg::next_record(in, body)) {
            case ostrel::textmsg::Record::kOk: return 0;
            case ostrel::textmsg::Record::kNotDigits: return QRT_RAS_INVALID_HEADER;
            default: return QRT_RAS_INVALID_INPUT;
        }
    }
    uint32_t n = 0;
    Reader sub;
    if (!in.be32(n) || !in.sub(n, sub)) return QRT_RAS_INVALID_INPUT;
    body = {reinterpret_cast<const char *>(sub.data()), sub.remaining()};
    return 0;
}

int gen_request(std::string &out, const void *msg, int opCode, int nType, CB_ComputeSignature sign) {
    BinOwner body;
    if (int rc = QRT_RAS_GenOneReqMsg(body.get(), msg, opCode, nType); rc) return rc;
    std::string record(ostrel::cas::view_of(body.get()));
    if (carries_integrity(opCode, nType)) {
        std::string hex;
        if (int rc = ostrel::cas::integrity_hex(hex, record, sign); rc) return rc;
        record.append(hex).append(1, '$');
    }
    return frame(out, record, nType);
}

int gen_replies(std::string &out, const void *msg, int opCode, int nType, int &count, int max, int overflow) {
    count = 0;
    if (nType != QRT_CAS_FORM_BINARY) {
        BinOwner recs;
        if (int rc = QRT_RAS_GenRepMsg(recs.get(), msg, opCode, nType, &count); rc) return rc;
        if (count > max) return overflow;
        out.append(ostrel::cas::view_of(recs.get()));
        return 0;
    }
    for (const void *p = msg; p; p = is_list(opCode) ? next_of(opCode, p) : nullptr) {
        if (count == max) return overflow;
        BinOwner body;
        if (int rc = QRT_RAS_GenOneRepMsg(body.get(), p, opCode, nType); rc) return rc;
        if (int rc = frame(out, ostrel::cas::view_of(body.get()), nType); rc) return rc;
        ++count;
    }
    return 0;
}

int anal_request(void **msg, Reader &in, int opCode, int nType) {
    std::string_view record, fields, hex;
    if (int rc = next_record(in, nType, record); rc) return rc;
    fields = record;
    const bool checked = carries_integrity(opCode, nType);
    if (checked)
        if (int rc = ostrel::cas::check_integrity(record, fields, hex); rc) return rc;
    BIN body = bin_view(fields);
    if (int rc = QRT_RAS_AnalOneReq(msg, &body, opCode, nType); rc) return rc;
    if (checked && hex.size() != 40) {  // a signature: kept for the receiver to verify
        if (hex.size() > kMaxSignatureHex) {
            QRT_RAS_FreeMsgStr(*msg, QRT_RAS_GetSvcCode(opCode, 1));
            *msg = nullptr;
            return QRT_RAS_SIGNATURE_TOO_LONG;
        }
        auto *req = static_cast<ZQ_RAS_USER_NEW_REQ *>(*msg);
        std::memcpy(req->signature, hex.data(), hex.size());
        req->signature[hex.size()] = '\0';
    }
    return 0;
}

int anal_replies(void **msg, Reader &in, int opCode, int recordNum, int nType) {
    if (nType != QRT_CAS_FORM_BINARY) {
        BIN rest{static_cast<unsigned int>(in.remaining()), const_cast<uint8_t *>(in.data())};
        int rc = QRT_RAS_AnalRep(msg, &rest, opCode, recordNum, nType);
        return rc == QRT_RAS_INVALID_LOOP_COUNT ? QRT_CAS_INVALID_LOOP_COUNT : rc;
    }
    if (recordNum < 1 || (!is_list(opCode) && recordNum != 1)) return QRT_CAS_INVALID_LOOP_COUNT;
    void *head = nullptr, *tail = nullptr;
    int rc = 0;
    for (int i = 0; i < recordNum && rc == 0; ++i) {
        std::string_view body;
        void *rec = nullptr;
        if (in.empty()) {
            rc = QRT_CAS_INVALID_LOOP_COUNT;
        } else if ((rc = next_record(in, nType, body)) == 0) {
            BIN b = bin_view(body);
            rc = QRT_RAS_AnalOneRep(&rec, &b, opCode, nType);
        }
        if (rc == 0) {
            if (tail)
                set_next(opCode, tail, rec);
            else
                head = rec;
            tail = rec;
        }
    }
    if (rc) {
        QRT_RAS_FreeMsgStr(head, reply_code(opCode));  // the list goes whole
        return rc;
    }
    *msg = head;
    return 0;
}

template <class F>
int build(BIN *out, F &&body) {
    std::string s;
    if (int rc = body(s); rc) return rc;
    return ostrel::textmsg::to_bin(s, out) ? 0 : QRT_CAS_MALLOC_FAILED;
}

}  // namespace

using namespace ostrel::cas;

extern "C" {

QRT_API int QRT_CAS_GenReqMsg(BIN *out, const void *msg, int opCode, int nType, CB_ComputeSignature sign) {
    if (!out) return OSTREL_FAIL(QRT_CAS_INVALID_INPUT);
    *out = BIN{0, nullptr};
    if (!msg || !valid_form(nType)) return OSTREL_FAIL(QRT_CAS_INVALID_INPUT);
    return OSTREL_GUARD_TRACE(
        [&] { return build(out, [&](std::string &s) { return gen_request(s, msg, opCode, nType, sign); }); });
}

QRT_API int QRT_CAS_GenRepMsg(BIN *out, const void *msg, int opCode, int nType, int *recordNum) {
    if (!out) return OSTREL_FAIL(QRT_CAS_INVALID_INPUT);
    *out = BIN{0, nullptr};
    if (!msg || !valid_form(nType)) return OSTREL_FAIL(QRT_CAS_INVALID_INPUT);
    int count = 0;
    int rc = OSTREL_GUARD_TRACE([&] {
        return build(out, [&](std::string &s) {
            return gen_replies(s, msg, opCode, nType, count, kMaxRecords, QRT_CAS_INVALID_LOOP_COUNT);
        });
    });
    if (rc) return rc;
    if (recordNum) *recordNum = count;
    return 0;
}

QRT_API int QRT_CAS_AnalReq(void **msg, const BIN *in, int opCode, int nType) {
    if (!msg || !in || (in->length && !in->value) || !valid_form(nType)) return OSTREL_FAIL(QRT_CAS_INVALID_INPUT);
    *msg = nullptr;
    Reader r(in->value, in->length);
    return OSTREL_GUARD_TRACE([&] { return anal_request(msg, r, opCode, nType); });
}

QRT_API int QRT_CAS_AnalRep(void **msg, const BIN *in, int opCode, int recordNum, int nType) {
    if (!msg || !in || (in->length && !in->value) || !valid_form(nType)) return OSTREL_FAIL(QRT_CAS_INVALID_INPUT);
    *msg = nullptr;
    Reader r(in->value, in->length);
    return OSTREL_GUARD_TRACE([&] { return anal_replies(msg, r, opCode, recordNum, nType); });
}

QRT_API int QRT_CAS_EncodeMsg(BIN *out, const void *msg, const ZQ_CAS_MsgHeader *header, int nType,
                              CB_ComputeSignature sign) {
    if (!out) return OSTREL_FAIL(QRT_CAS_INVALID_INPUT);
    *out = BIN{0, nullptr};
    if (!msg || !header || !valid_form(nType)) return OSTREL_FAIL(QRT_CAS_INVALID_INPUT);
    const int op = QRT_RAS_GetOpCode(header->serviceCode);
    if (op < 0) return OSTREL_FAIL(QRT_CAS_INVALID_SVC_CODE);
    const bool request = QRT_RAS_GetReqFlag(header->serviceCode) == 1;
    return OSTREL_GUARD_TRACE([&] {
        return build(out, [&](std::string &s) {
            std::string records;
            if (request) {
                if (int r = gen_request(records, msg, op, nType, sign); r) return r;
            } else {
                int count = 0;
                if (int r = gen_replies(records, msg, op, nType, count, header->recordNum, QRT_CAS_INVALID_LOOP_COUNT);
                    r)
                    return r;
                if (count != header->recordNum) return QRT_CAS_INVALID_LOOP_COUNT;
            }
            BinOwner head;
            if (int r = encode_header(head.get(), *header, nType); r) return r;
            s.reserve(head->length + records.size());
            s.append(view_of(head.get())).append(records);
            return 0;
        });
    });
}

QRT_API int QRT_CAS_DecodeMsg(void **msg, ZQ_CAS_MsgHeader *header, const BIN *in, int nMsgType, int nType) {
    if (!msg || !header || !in || (in->length && !in->value) || !valid_form(nType))
        return OSTREL_FAIL(QRT_CAS_INVALID_INPUT);
    *msg = nullptr;
    return OSTREL_GUARD_TRACE([&] {
        int offset = 0;
        if (int r = decode_header(*header, *in, nMsgType, nType, offset); r) return r;
        Reader rest(in->value + offset, in->length - static_cast<unsigned>(offset));
        if (QRT_RAS_GetReqFlag(header->serviceCode) == 1) return anal_request(msg, rest, header->opCode, nType);
        return anal_replies(msg, rest, header->opCode, header->recordNum, nType);
    });
}

QRT_API int QRT_CAS_FreeMsgStr(void *msg, int serviceCode) {
    int rc = QRT_RAS_FreeMsgStr(msg, serviceCode);
    return rc ? OSTREL_FAIL(rc) : 0;
}

}  // extern "C"
