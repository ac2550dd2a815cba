// The operations: their service, opcode and web codes, and for each request and reply the
// fields in wire order with the forms that carry them.
#include "ras_internal.h"

namespace ostrel::ras {
namespace {

// Every field name has a limit; a name without one does not compile.
#define FLD(T, name, forms, when)                                                                             \
    Field {                                                                                                   \
        #name, static_cast<uint32_t>(offsetof(T, name)), static_cast<uint32_t>(sizeof(T::name)), forms, when, \
            known(limit_index(#name))                                                                            \
    }
#define ALL(T, name) FLD(T, name, kAll, When::always)
#define TEXT1(T, name) FLD(T, name, kTextOnly, When::always)
#define WEB(T, name) FLD(T, name, kWebOnly, When::always)

constexpr uint8_t known(int i) { return i >= 0 ? static_cast<uint8_t>(i) : throw "field without a limit"; }

template <class T, size_t N>
constexpr Layout layout(const Field (&f)[N], ptrdiff_t next = -1, bool combined = false) {
    return Layout{f, N, sizeof(T), next, combined};
}

// User registration. The text forms carry the English name inside user_name; signature is
// never sent; the later additions travel in the web form only.
using UNQ = ZQ_RAS_USER_NEW_REQ;
constexpr Field kUserNewReq[] = {
    ALL(UNQ, corp_code),   ALL(UNQ, oper_id),    ALL(UNQ, reg_date),    ALL(UNQ, reg_serial),
    ALL(UNQ, type),        ALL(UNQ, company),    ALL(UNQ, user_name),   WEB(UNQ, euser_name),
    ALL(UNQ, user_id),     ALL(UNQ, ssn),        ALL(UNQ, policy_type), ALL(UNQ, email),
    ALL(UNQ, cell_phone),  ALL(UNQ, fax),        ALL(UNQ, zipcode),     ALL(UNQ, address),
    ALL(UNQ, phone),       ALL(UNQ, czipcode),   ALL(UNQ, caddress),    ALL(UNQ, cphone),
    WEB(UNQ, cert_type),   WEB(UNQ, cert_class), WEB(UNQ, reserved1),   WEB(UNQ, acc_flag),
    WEB(UNQ, org),         WEB(UNQ, orgid),      WEB(UNQ, position),    WEB(UNQ, alien_number),
    WEB(UNQ, ext1),        WEB(UNQ, ext2),       WEB(UNQ, ext3),        WEB(UNQ, ext4),
    WEB(UNQ, ext5),
};

// A failed registration reports only the ssn after the common part.
using UNP = ZQ_RAS_USER_NEW_REP;
constexpr Field kUserNewRep[] = {
    ALL(UNP, code),
    ALL(UNP, message),
    ALL(UNP, corp_code),
    ALL(UNP, oper_id),
    ALL(UNP, reg_date),
    ALL(UNP, reg_serial),
    FLD(UNP, ssn, kAll, When::code_nonzero),
    FLD(UNP, company, kAll, When::code_zero),
    FLD(UNP, user_name, kAll, When::code_zero),
    FLD(UNP, user_id, kAll, When::code_zero),
    FLD(UNP, ssn, kAll, When::code_zero),
    FLD(UNP, policy_type, kTextOnly, When::code_zero),
    FLD(UNP, auth_reference, kAll, When::code_zero),
    FLD(UNP, auth_code, kAll, When::code_zero),
    FLD(UNP, root_hash, kAll, When::code_zero),
    WEB(UNP, cert_type),
    WEB(UNP, cert_class),
};

using BQ = ZQ_RAS_USER_NEW_BULK_REQ;
constexpr Field kBulkReq[] = {ALL(BQ, request_count), ALL(BQ, value)};
using BP = ZQ_RAS_USER_NEW_BULK_REP;
constexpr Field kBulkRep[] = {ALL(BP, code), ALL(BP, message), ALL(BP, response_count), ALL(BP, value)};

using CMQ = ZQ_RAS_CERT_MAN_REQ;
constexpr Field kCertManReq[] = {
    ALL(CMQ, corp_code), ALL(CMQ, oper_id),   ALL(CMQ, policy_type), ALL(CMQ, cert_serial),
    ALL(CMQ, svc_code),  WEB(CMQ, cert_type), WEB(CMQ, cert_class),
};
using CMP = ZQ_RAS_CERT_MAN_REP;
constexpr Field kCertManRep[] = {
    ALL(CMP, code),     ALL(CMP, message), ALL(CMP, corp_code), ALL(CMP, oper_id),    TEXT1(CMP, policy_type),
    ALL(CMP, cert_serial), ALL(CMP, svc_code), ALL(CMP, user_id), WEB(CMP, cert_type), WEB(CMP, cert_class),
};

// Certificate view: one key field after ref_no, chosen by it.
using CVQ = ZQ_RAS_CERT_VIEW_REQ;
constexpr Field kCertViewReq[] = {
    ALL(CVQ, corp_code),
    ALL(CVQ, oper_id),
    TEXT1(CVQ, policy_type),
    ALL(CVQ, ref_no),
    FLD(CVQ, cert_serial, kAll, When::ref1),
    FLD(CVQ, user_id, kAll, When::ref2),
    FLD(CVQ, ssn, kAll, When::ref3),
    ALL(CVQ, rec_start),
    ALL(CVQ, rec_no),
    WEB(CVQ, cert_type),
    WEB(CVQ, cert_class),
};
using CVP = ZQ_RAS_CERT_VIEW_REP;
constexpr Field kCertViewRep[] = {
    ALL(CVP, code),       ALL(CVP, message),    ALL(CVP, corp_code),  ALL(CVP, oper_id),
    TEXT1(CVP, policy_type), ALL(CVP, cert_serial), ALL(CVP, user_id), ALL(CVP, dn),
    ALL(CVP, ssn),        ALL(CVP, val_from),   ALL(CVP, val_to),     ALL(CVP, cert_status),
    ALL(CVP, tot_rec_no), ALL(CVP, cur_rec_no), WEB(CVP, cert_type),  WEB(CVP, cert_class),
};

using RVQ = ZQ_RAS_RESULT_VIEW_REQ;
constexpr Field kResultViewReq[] = {
    TEXT1(RVQ, policy_type),
    ALL(RVQ, reg_date),
    ALL(RVQ, corp_code),
    ALL(RVQ, reg_serial),
    FLD(RVQ, user_id, kTextAndWeb, When::always),
    WEB(RVQ, cert_type),
    WEB(RVQ, cert_class),
};
using RVP = ZQ_RAS_RESULT_VIEW_REP;
constexpr Field kResultViewRep[] = {
    ALL(RVP, code),           ALL(RVP, message),     ALL(RVP, reg_date),   ALL(RVP, corp_code),
    ALL(RVP, reg_serial),     ALL(RVP, reg_type),    TEXT1(RVP, policy_type), ALL(RVP, company),
    ALL(RVP, user_name),      ALL(RVP, user_id),     ALL(RVP, ssn),        ALL(RVP, auth_reference),
    ALL(RVP, auth_code),      ALL(RVP, root_hash),   ALL(RVP, event_date), ALL(RVP, cert_serial),
    ALL(RVP, event_type),     ALL(RVP, val_from),    ALL(RVP, val_to),     ALL(RVP, dn),
    WEB(RVP, cert_type),      WEB(RVP, cert_class),
};

using EVQ = ZQ_RAS_EVENT_VIEW_REQ;
constexpr Field kEventViewReq[] = {ALL(EVQ, date), ALL(EVQ, corp_code), ALL(EVQ, from_serial), ALL(EVQ, to_serial)};
using EVP = ZQ_RAS_EVENT_VIEW_REP;
constexpr Field kEventViewRep[] = {
    ALL(EVP, code),      ALL(EVP, message),  ALL(EVP, msg_serial), ALL(EVP, corp_code),  ALL(EVP, event_date),
    TEXT1(EVP, policy_type), ALL(EVP, cert_serial), ALL(EVP, event_type), ALL(EVP, val_from), ALL(EVP, val_to),
    ALL(EVP, reg_date),  ALL(EVP, reg_serial), ALL(EVP, ssn),      ALL(EVP, dn),         WEB(EVP, cert_type),
    WEB(EVP, cert_class),
};

using ENQ = ZQ_RAS_EVENT_NO_REQ;
constexpr Field kEventNoReq[] = {ALL(ENQ, date), ALL(ENQ, corp_code), ALL(ENQ, last_recv)};
using ENP = ZQ_RAS_EVENT_NO_REP;
constexpr Field kEventNoRep[] = {ALL(ENP, code),      ALL(ENP, message),   ALL(ENP, reg_date),
                                 ALL(ENP, corp_code), ALL(ENP, last_recv), ALL(ENP, last_sent)};

using SSQ = ZQ_RAS_SYS_STAT_REQ;
constexpr Field kSysStatReq[] = {ALL(SSQ, corp_code)};
using SSP = ZQ_RAS_SYS_STAT_REP;
constexpr Field kSysStatRep[] = {ALL(SSP, code), ALL(SSP, message), ALL(SSP, corp_code)};

using NQ = ZQ_RAS_NOTI_REQ;
constexpr Field kNotiReq[] = {ALL(NQ, message)};
using NP = ZQ_RAS_NOTI_REP;
constexpr Field kNotiRep[] = {
    ALL(NP, user_id),  ALL(NP, corp_code),  ALL(NP, msg_serial), ALL(NP, event_date), TEXT1(NP, policy_type),
    ALL(NP, cert_serial), ALL(NP, event_type), ALL(NP, val_from), ALL(NP, val_to),    ALL(NP, reg_date),
    ALL(NP, reg_serial), ALL(NP, ssn),      ALL(NP, dn),         WEB(NP, cert_type),  WEB(NP, cert_class),
};

using NLQ = ZQ_RAS_NL_USER_NEW_REQ;
constexpr Field kNlUserNewReq[] = {
    ALL(NLQ, reg_date),  ALL(NLQ, last_login), ALL(NLQ, user_id),   ALL(NLQ, cert_serial),
    ALL(NLQ, reserved1), ALL(NLQ, reserved2),  ALL(NLQ, reserved3),
};
using NLP = ZQ_RAS_NL_USER_NEW_REP;
constexpr Field kNlUserNewRep[] = {ALL(NLP, code), ALL(NLP, message)};

using FRQ = ZQ_RAS_FORCED_REVOKE_REQ;
constexpr Field kForcedRevokeReq[] = {ALL(FRQ, corp_code), ALL(FRQ, policy_type), ALL(FRQ, ssn), ALL(FRQ, user_id)};
using FRP = ZQ_RAS_FORCED_REVOKE_REP;
constexpr Field kForcedRevokeRep[] = {ALL(FRP, code), ALL(FRP, message),   ALL(FRP, corp_code),
                                      TEXT1(FRP, policy_type), ALL(FRP, ssn), ALL(FRP, user_id)};

using UCQ = ZQ_RAS_USER_ID_CHANGE_REQ;
constexpr Field kUserIdChangeReq[] = {ALL(UCQ, corp_code), ALL(UCQ, reg_serial), ALL(UCQ, ssn), ALL(UCQ, old_user_id),
                                      ALL(UCQ, new_user_id)};
using UCP = ZQ_RAS_USER_ID_CHANGE_REP;
constexpr Field kUserIdChangeRep[] = {ALL(UCP, code), ALL(UCP, message), ALL(UCP, ssn), ALL(UCP, new_user_id)};

using SDQ = ZQ_RAS_SECRET_DOWN_REQ;
constexpr Field kSecretDownReq[] = {ALL(SDQ, auth_reference), ALL(SDQ, auth_code), ALL(SDQ, key_password),
                                    ALL(SDQ, user_id), ALL(SDQ, corp_code)};
using SDP = ZQ_RAS_SECRET_DOWN_REP;
constexpr Field kSecretDownRep[] = {
    ALL(SDP, code),   ALL(SDP, message), ALL(SDP, corp_code), ALL(SDP, sgcert),  ALL(SDP, sgsecret),
    ALL(SDP, sgrandom), ALL(SDP, kmcert), ALL(SDP, kmsecret), ALL(SDP, kmrandom),
};

constexpr Layout kUserNewReqL = layout<UNQ>(kUserNewReq, -1, true);
constexpr Layout kUserNewRepL = layout<UNP>(kUserNewRep);

const Operation kOps[] = {
    {142, 20, 21, 10, true, kUserNewReqL, kUserNewRepL},
    {153, 22, 23, -1, false, layout<BQ>(kBulkReq), layout<BP>(kBulkRep)},
    {159, 25, 26, 90, true, kUserNewReqL, kUserNewRepL},
    {150, 28, 29, 100, true, kUserNewReqL, kUserNewRepL},
    {149, 30, 31, 80, true, layout<NQ>(kNotiReq), layout<NP>(kNotiRep)},
    {143, 40, 41, 20, true, layout<CMQ>(kCertManReq), layout<CMP>(kCertManRep)},
    {144, 50, 51, 30, true, layout<CVQ>(kCertViewReq), layout<CVP>(kCertViewRep, offsetof(CVP, next))},
    {145, 52, 53, 40, true, layout<RVQ>(kResultViewReq), layout<RVP>(kResultViewRep)},
    {146, 60, 61, 50, true, layout<EVQ>(kEventViewReq), layout<EVP>(kEventViewRep, offsetof(EVP, next))},
    {147, 70, 71, 60, true, layout<ENQ>(kEventNoReq), layout<ENP>(kEventNoRep)},
    {148, 80, 81, 70, true, layout<SSQ>(kSysStatReq), layout<SSP>(kSysStatRep)},
    {152, 82, 83, -1, true, layout<FRQ>(kForcedRevokeReq), layout<FRP>(kForcedRevokeRep)},
    {151, 90, 91, -1, true, layout<NLQ>(kNlUserNewReq), layout<NLP>(kNlUserNewRep)},
    {204, 92, 93, 101, false, kUserNewReqL, kUserNewRepL},
    {225, 94, 95, 102, false, kUserNewReqL, kUserNewRepL},
    {226, 96, 97, 103, false, layout<SDQ>(kSecretDownReq), layout<SDP>(kSecretDownRep)},
    {221, 98, 99, -1, true, layout<UCQ>(kUserIdChangeReq), layout<UCP>(kUserIdChangeRep)},
};

}  // namespace

const Operation *find_op(int opcode) {
    for (const Operation &op : kOps)
        if (op.opcode == opcode) return &op;
    return nullptr;
}

const Operation *find_op_by_service(int serviceCode) {
    for (const Operation &op : kOps)
        if (op.request == serviceCode || op.reply == serviceCode) return &op;
    return nullptr;
}

const Operation *find_op_by_web(int webCode) {
    if (webCode < 0) return nullptr;
    for (const Operation &op : kOps)
        if (op.web == webCode) return &op;
    return nullptr;
}

}  // namespace ostrel::ras

using namespace ostrel::ras;

extern "C" {

QRT_API int QRT_RAS_GetOpCode(int serviceCode) {
    const Operation *op = find_op_by_service(serviceCode);
    return op ? op->opcode : -1;
}

QRT_API int QRT_RAS_GetReqFlag(int serviceCode) {
    const Operation *op = find_op_by_service(serviceCode);
    return op && op->request == serviceCode ? 1 : 0;
}

QRT_API int QRT_RAS_GetYvSvcCode(int serviceCode) {
    const Operation *op = find_op_by_service(serviceCode);
    return op ? op->web : -1;
}

QRT_API int QRT_RAS_GetSvcCode(int code, int nMsgType) {
    const Operation *op = find_op_by_web(code);
    if (!op) op = find_op(code);
    if (!op) return -1;
    return nMsgType == QRT_RAS_MSG_REQUEST ? op->request : op->reply;
}

QRT_API int QRT_RAS_GetReqSvcCode(int opCode) {
    const Operation *op = find_op(opCode);
    return op && op->legacy ? op->request : -1;
}

QRT_API int QRT_RAS_GetRepSvcCode(int opCode) {
    const Operation *op = find_op(opCode);
    return op && op->legacy ? op->reply : -1;
}

// Every request and reply code of the table above.
QRT_API int QRT_RAS_IsSvcCode(int serviceCode) { return find_op_by_service(serviceCode) ? 1 : 0; }

}  // extern "C"
