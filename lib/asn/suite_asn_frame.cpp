// The ASN.1 layer's library frame: version, version check and error texts (English, Korean).
#include "asn_internal.h"
#include "ostrel/frame.hpp"

namespace {

constexpr const char *kVersion = "1.7.0.0";

const ERR_MSG_DATA kEnglish[] = {
    {1001, "invalid input"},
    {1002, "internal"},
    {1003, "malloc failed"},
    {1020, "oss failed"},
    {1021, "oss encode failed"},
    {1022, "oss decode failed"},
    {1023, "oss copy failed"},
    {1024, "oss free failed"},
    {1030, "mutex failed"},
    {0, nullptr},
};

// Written in UTF-8; the build turns these literals into EUC-KR bytes.
const ERR_MSG_DATA kKorean[] = {
    {1001, "함수 인자가 NULL 입니다."},
    {1002, "함수 내부적인 에러가 발생했습니다."},
    {1003, "함수 내부에서 메모리 할당이 실패했습니다."},
    {1020, "oss 함수가 실패했습니다."},
    {1021, "oss encode 함수가 실패했습니다."},
    {1022, "oss decode 함수가 실패했습니다."},
    {1023, "oss copy 함수가 실패했습니다."},
    {1024, "oss free 함수가 실패했습니다."},
    {1030, "mutex 함수가 실패했습니다."},
    {0, nullptr},
};

}  // namespace

extern "C" {

QRT_API const char *QRT_ASN_GetVersion(void) { return kVersion; }
QRT_API const char *QRT_GetVersionASN(void) { return kVersion; }

QRT_API int QRT_ASN_CheckVersion(const char *required) {
    return ostrel::check_version(kVersion, required, {{QRT_IO_GetVersion, "1.5.1.0"}});
}

QRT_API const char *QRT_ASN_GetErrorReason(int code, int lang) {
    return ostrel::reason_of(kEnglish, kKorean, code, lang, {{8000, 8999, QRT_IO_GetErrorReason}});
}
QRT_API const char *QRT_GetErrReasonASN(int code, int lang) { return QRT_ASN_GetErrorReason(code, lang); }

}  // extern "C"
