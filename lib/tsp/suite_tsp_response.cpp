// Time-stamp responses: the TimeStampResp status, the token and its TSTInfo checked against the
// request it answers, and the TSTInfo record.
#include "tsp_internal.h"

namespace ostrel::tsp {
namespace {

// A refusal's code: one failInfo bit that names a reason, else the plain refusal.
int refusal_code(const PKIStatusInfo &status) {
    struct Row {
        PKIFailureInfo bit;
        int code;
    };
    static constexpr Row kReasons[] = {
        {PKIFailureInfo_badAlg, QRT_TSP_REJECTED_BAD_ALG},
        {PKIFailureInfo_badRequest, QRT_TSP_REJECTED_BAD_REQUEST},
        {PKIFailureInfo_badDataFormat, QRT_TSP_REJECTED_BAD_DATA_FORMAT},
        {PKIFailureInfo_timeNotAvailable, QRT_TSP_REJECTED_TIME_NOT_AVAILABLE},
        {PKIFailureInfo_unacceptedPolicy, QRT_TSP_REJECTED_UNACCEPTED_POLICY},
    };
    if (status.bit_mask & PKIStatusInfo_failInfo_present)
        for (const Row &r : kReasons)
            if (status.failInfo == r.bit) return r.code;
    return QRT_TSP_REJECTED;
}

// TimeStampResp ::= SEQUENCE { status PKIStatusInfo, timeStampToken ContentInfo OPTIONAL }
int decode_response(ZQ_TSP_TSTInfo &tstInfo, BIN &certOut, BIN *tokenOut, const BIN &response, const BIN *request,
                    const BIN *tsaCert) {
    AsnTree<TimeStampResp> resp(TimeStampResp_PDU);
    if (resp.decode(&response) != 0) return QRT_TSP_BAD_RESPONSE;
    AsnTree<TimeStampReq> req(TimeStampReq_PDU);
    if (request && req.decode(request) != 0) return QRT_TSP_BAD_REQUEST;

    // PKIStatus: granted (0) only; grantedWithMods and every other status are refusals
    if (resp->status.status != 0) return refusal_code(resp->status);
    if (!(resp->bit_mask & TimeStampResp_timeStampToken_present)) return QRT_TSP_NO_TIMESTAMP_TOKEN;

    BinOwner content, cert, token;
    if (int rc =
            OSTREL_TSP_STEP("QRT_TSP_AsnSigned_Decode", token_decode(*content, *cert, resp->timeStampToken, tsaCert)))
        return rc;
    ZQ_TSP_TSTInfo info{};
    if (int rc = OSTREL_TSP_STEP("QRT_TSP_AsnTSTInfo_Decode", tstinfo_decode(info, *content, req.get()))) return rc;
    // the token's signed data stays as received; only the ContentInfo around it is written anew
    if (tokenOut) {
        if (int rc = QRT_ASN_EncodePDU(token.get(), &resp->timeStampToken, TimeStampToken_PDU)) {
            QRT_TSP_TSTInfo_Reset(&info);
            return rc;
        }
        token.release_to(tokenOut);
    }
    tstInfo = info;
    cert.release_to(&certOut);
    return 0;
}

int response_call(ZQ_TSP_TSTInfo *tstInfo, BIN *certOut, BIN *tokenOut, const BIN *response, const BIN *request,
                  const BIN *tsaCert) {
    return decode_response(*tstInfo, *certOut, tokenOut, *response, request, has_bytes(tsaCert) ? tsaCert : nullptr);
}

}  // namespace

// TSTInfo ::= SEQUENCE { version, policy, messageImprint, serialNumber, genTime GeneralizedTime,
//     accuracy OPTIONAL, ordering DEFAULT FALSE, nonce INTEGER OPTIONAL, [0] tsa OPTIONAL,
//     [1] extensions OPTIONAL }
int tstinfo_decode(ZQ_TSP_TSTInfo &out, const BIN &content, const TimeStampReq *request) {
    AsnTree<TSTInfo> t(TSTInfo_PDU);
    if (t.decode(&content) != 0) return QRT_TSP_BAD_TST_INFO;
    const MessageImprint &mi = t->messageImprint;
    int hashID = imprint_hash_of(mi.hashAlgorithm.algorithm);
    if (!hashID) return QRT_TSP_UNKNOWN_HASHID;
    if (request) {
        const MessageImprint &asked = request->messageImprint;
        if (!oid_equal(asked.hashAlgorithm.algorithm, mi.hashAlgorithm.algorithm) ||
            !same_bytes(asked.hashedMessage.value, asked.hashedMessage.length, mi.hashedMessage.value,
                        mi.hashedMessage.length))
            return QRT_TSP_INVALID_MESSAGE_HASH;
        if ((request->bit_mask & TimeStampReq_nonce_present) &&
            (!(t->bit_mask & TSTInfo_nonce_present) || !same_integer(request->nonce, t->nonce)))
            return QRT_TSP_INVALID_NONCE;
    }

    ZQ_TSP_TSTInfo r{};
    r.hashID = hashID;
    r.genTime = QRT_ASN_General2Time(&t->genTime);
    if (t->bit_mask & TSTInfo_accuracy_present) {
        const Accuracy &a = t->accuracy;
        r.accuracyPresent = 1;
        if (a.bit_mask & Accuracy_seconds_present) r.seconds = a.seconds;
        if (a.bit_mask & Accuracy_millis_present) r.millis = a.millis;
        if (a.bit_mask & Accuracy_micros_present) r.micros = a.micros;
    }
    if (t->bit_mask & TSTInfo_nonce_present) {
        r.noncePresent = 1;
        if (int_of(t->nonce, r.nonce) != 0) r.nonce = 0;
    }
    set_bytes(r.hashedMessage, mi.hashedMessage.value, mi.hashedMessage.length);
    out = r;
    return 0;
}

}  // namespace ostrel::tsp

using namespace ostrel;
using namespace ostrel::tsp;

extern "C" {

QRT_API ZQ_TSP_TSTInfo *QRT_TSP_TSTInfo_New(void) {
    return static_cast<ZQ_TSP_TSTInfo *>(QRT_calloc(1, sizeof(ZQ_TSP_TSTInfo)));
}

QRT_API void QRT_TSP_TSTInfo_Reset(ZQ_TSP_TSTInfo *tstInfo) {
    if (!tstInfo) return;
    QRT_BIN_Reset(&tstInfo->hashedMessage);
    *tstInfo = ZQ_TSP_TSTInfo{};
}

QRT_API void QRT_TSP_TSTInfo_Free(ZQ_TSP_TSTInfo *tstInfo) {
    QRT_TSP_TSTInfo_Reset(tstInfo);
    QRT_free(tstInfo);
}

QRT_API int QRT_TSP_AsnTSTInfo_Decode(ZQ_TSP_TSTInfo *tstInfo, const BIN *content, const BIN *request) {
    if (!tstInfo) return QRT_TSP_INVALID_INPUT;
    QRT_TSP_TSTInfo_Reset(tstInfo);
    if (!has_bytes(content)) return QRT_TSP_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        AsnTree<TimeStampReq> req(TimeStampReq_PDU);
        if (request && req.decode(request) != 0) return QRT_TSP_BAD_REQUEST;
        return tstinfo_decode(*tstInfo, *content, req.get());
    });
}

QRT_API int QRT_TSP_DecodeResponse(ZQ_TSP_TSTInfo *tstInfo, BIN *certOut, const BIN *response, const BIN *request,
                                   const BIN *tsaCert) {
    if (!tstInfo || !certOut) return QRT_TSP_INVALID_INPUT;
    QRT_TSP_TSTInfo_Reset(tstInfo);
    *certOut = BIN{0, nullptr};
    if (!has_bytes(response)) return QRT_TSP_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] { return response_call(tstInfo, certOut, nullptr, response, request, tsaCert); });
}

QRT_API int QRT_TSP_DecodeResponseEx(ZQ_TSP_TSTInfo *tstInfo, BIN *certOut, BIN *tokenOut, const BIN *response,
                                     const BIN *request, const BIN *tsaCert) {
    if (!tstInfo || !certOut || !tokenOut) return QRT_TSP_INVALID_INPUT;
    QRT_TSP_TSTInfo_Reset(tstInfo);
    *certOut = BIN{0, nullptr};
    *tokenOut = BIN{0, nullptr};
    if (!has_bytes(response)) return QRT_TSP_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] { return response_call(tstInfo, certOut, tokenOut, response, request, tsaCert); });
}

}  // extern "C"
