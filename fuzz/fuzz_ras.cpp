// Arbitrary bytes into the RA, CA and certificate-status message parsers, for every service
// code and form. The first byte picks the library, the form, the direction and whether a valid
// header for the operation the second byte names goes in front; the rest is the message.
// Whatever parses must encode again, and encoding what that decodes to must give the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>

#include "suite_cas.h"
#include "suite_crs.h"
#include "suite_ras.h"

namespace {

constexpr int kOps[] = {142, 153, 159, 150, 149, 143, 144, 145, 146, 147, 148, 152, 151, 204, 225, 226, 221};
constexpr int kCrsOps[] = {50, 95, 93};

BIN view(const std::string &s) {
    return BIN{static_cast<unsigned int>(s.size()), reinterpret_cast<unsigned char *>(const_cast<char *>(s.data()))};
}

std::string text(const BIN &b) { return std::string(reinterpret_cast<const char *>(b.value), b.length); }

// A header the decoders accept, so the bytes after it reach the record parsers.
std::string header_for(int lib, int form, int code, int web, int count) {
    char h[32];
    if (lib == 1 && form == QRT_CAS_FORM_BINARY) {
        int op = QRT_RAS_GetOpCode(code);
        return std::string{static_cast<char>(op), 0, 0, 0, static_cast<char>(count)};
    }
    if (form == QRT_RAS_FORM_WEB) {
        std::snprintf(h, sizeof h, "%04d%02d", web, count);
        return h;
    }
    std::snprintf(h, sizeof h, "%s%02d20240102030405%04d", lib == 1 ? "" : "0000", code, count);
    return h;
}

// Fixed point of decode/encode for the RA library.
void ras_round(const std::string &wire, int msgType, int form) {
    BIN in = view(wire);
    void *msg = nullptr;
    ZQ_RAS_MsgHeader h{};
    if (QRT_RAS_DecodeMsg(&msg, &h, &in, msgType, form) != 0) return;
    BIN e1{0, nullptr};
    int rc = QRT_RAS_EncodeMsg(&e1, msg, &h, form);
    QRT_RAS_FreeMsgStr(msg, h.serviceCode);
    if (rc == QRT_RAS_REC_LEN_TOO_LONG || rc == QRT_RAS_MSG_LEN_TOO_LONG) return;  // web names add bytes
    if (rc != 0) __builtin_trap();
    msg = nullptr;
    ZQ_RAS_MsgHeader h2{};
    if (QRT_RAS_DecodeMsg(&msg, &h2, &e1, msgType, form) != 0) __builtin_trap();
    BIN e2{0, nullptr};
    if (QRT_RAS_EncodeMsg(&e2, msg, &h2, form) != 0) __builtin_trap();
    if (text(e1) != text(e2)) __builtin_trap();
    QRT_RAS_FreeMsgStr(msg, h2.serviceCode);
    QRT_BIN_Reset(&e1);
    QRT_BIN_Reset(&e2);
}

void cas_round(const std::string &wire, int msgType, int form) {
    BIN in = view(wire);
    void *msg = nullptr;
    ZQ_CAS_MsgHeader h{};
    if (QRT_CAS_DecodeMsg(&msg, &h, &in, msgType, form) != 0) return;
    BIN e1{0, nullptr};
    int rc = QRT_CAS_EncodeMsg(&e1, msg, &h, form, nullptr);
    QRT_CAS_FreeMsgStr(msg, h.serviceCode);
    if (rc == QRT_RAS_REC_LEN_TOO_LONG || rc == QRT_RAS_MSG_LEN_TOO_LONG) return;
    if (rc != 0) __builtin_trap();
    msg = nullptr;
    ZQ_CAS_MsgHeader h2{};
    if (QRT_CAS_DecodeMsg(&msg, &h2, &e1, msgType, form) != 0) __builtin_trap();
    BIN e2{0, nullptr};
    if (QRT_CAS_EncodeMsg(&e2, msg, &h2, form, nullptr) != 0) __builtin_trap();
    if (text(e1) != text(e2)) __builtin_trap();
    QRT_CAS_FreeMsgStr(msg, h2.serviceCode);
    QRT_BIN_Reset(&e1);
    QRT_BIN_Reset(&e2);
}

void crs(const std::string &rest, int opIndex, bool reply) {
    BIN in = view(rest);
    ZQ_CRS_MsgHeader h{};
    QRT_CRS_AnalHeader(&h, &in);
    QRT_CRS_CA_AnalHeader(&h, &in);
    const int op = kCrsOps[opIndex % 3];
    if (!reply) {
        ZQ_CRS_REQ_MSG *req = nullptr;
        if (QRT_CRS_AnalReq(&req, &in, op) == 0) {
            BIN e1{0, nullptr}, e2{0, nullptr};
            if (QRT_CRS_GenReqMsg(req, op, &e1) != 0) __builtin_trap();
            ZQ_CRS_REQ_MSG *req2 = nullptr;
            if (QRT_CRS_AnalReq(&req2, &e1, op) != 0 || QRT_CRS_GenReqMsg(req2, op, &e2) != 0) __builtin_trap();
            if (text(e1) != text(e2)) __builtin_trap();
            QRT_CRS_FreeReqMsgStr(req2);
            QRT_BIN_Reset(&e1);
            QRT_BIN_Reset(&e2);
        }
        QRT_CRS_FreeReqMsgStr(req);
        return;
    }
    ZQ_CRS_REP_MSG *rep = nullptr;
    if (QRT_CRS_AnalRep(&rep, &in, op, 1 + opIndex % 4) == 0) {
        BIN again{0, nullptr};
        int n = 0;
        int option = rep->user_id[0] ? 1 : 0;
        if (QRT_CRS_GenRepMsg(rep, op, option, &n, &again) != 0) __builtin_trap();
        QRT_BIN_Reset(&again);
    }
    QRT_CRS_FreeRepMsgStr(rep);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2 || size > (1u << 17)) return 0;
    const int sel = data[0];
    const int lib = sel % 3, form = (sel / 3) % 3, msgType = (sel / 9) & 1, framed = (sel / 18) & 1;
    const int opIndex = data[1] % static_cast<int>(std::size(kOps));
    std::string rest(reinterpret_cast<const char *>(data + 2), size - 2);

    if (lib == 2) {
        crs(rest, data[1], msgType == 0);
        return 0;
    }
    // The record parsers of every operation on the raw bytes.
    const int op = kOps[opIndex];
    BIN in = view(rest);
    void *msg = nullptr;
    if (lib == 0) {
        if (QRT_RAS_AnalOneReq(&msg, &in, op, form) == 0) QRT_RAS_FreeMsgStr(msg, QRT_RAS_GetSvcCode(op, 1));
        if (QRT_RAS_AnalRep(&msg, &in, op, 1 + data[1] % 3, form) == 0) QRT_RAS_FreeMsgStr(msg, QRT_RAS_GetSvcCode(op, 0));
    } else {
        if (QRT_CAS_AnalReq(&msg, &in, op, form) == 0) QRT_CAS_FreeMsgStr(msg, QRT_RAS_GetSvcCode(op, 1));
        if (QRT_CAS_AnalRep(&msg, &in, op, 1 + data[1] % 3, form) == 0) QRT_CAS_FreeMsgStr(msg, QRT_RAS_GetSvcCode(op, 0));
    }

    std::string wire = rest;
    if (framed) {
        int code = QRT_RAS_GetSvcCode(op, msgType);
        int web = QRT_RAS_GetYvSvcCode(code);
        if (form == QRT_RAS_FORM_WEB && web < 0) return 0;
        wire = header_for(lib, form, code, web, 1 + (data[1] / 17) % 3) + rest;
    }
    if (lib == 0)
        ras_round(wire, msgType, form);
    else
        cas_round(wire, msgType, form);
    return 0;
}
