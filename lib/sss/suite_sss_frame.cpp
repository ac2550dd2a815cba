// The secret-sharing library's frame: version, version check and error texts.
#include "ostrel/frame.hpp"
#include "sss_internal.h"

namespace {

constexpr const char *kVersion = "1.5.0.1";
constexpr const char *kUndefined = "UnDefined Error Reason";

const ERR_MSG_DATA kEnglish[] = {
    {6201, "invalid input"},
    {6202, "internal"},
    {6203, "malloc failed"},
    {6210, "unknown algid"},
    {6211, "bad param"},
    {6212, "bad share"},
    {6213, "bad secret"},
    {6250, "evaluate_poly failed"},
    {6251, "generate_poly failed"},
    {6252, "encode_bigint failed"},
    {6253, "decode_bigint failed"},
    {6254, "generate_prime failed"},
    {0, nullptr},
};

// Written in UTF-8; the build turns these literals into EUC-KR bytes.
const ERR_MSG_DATA kKorean[] = {
    {6201, "함수 인자가 잘못되었습니다."},
    {6202, "함수 내부적인 에러가 발생했습니다."},
    {6203, "함수 내부에서 메모리 할당이 실패했습니다."},
    {6210, "알 수 없는 분할 방식입니다."},
    {6211, "파라미터가 잘못되었습니다."},
    {6212, "분할 조각이 잘못되었습니다."},
    {6213, "비밀 정보가 잘못되었습니다."},
    {6250, "다항식 계산이 실패했습니다."},
    {6251, "다항식 생성이 실패했습니다."},
    {6252, "큰 정수 인코딩이 실패했습니다."},
    {6253, "큰 정수 디코딩이 실패했습니다."},
    {6254, "소수 생성이 실패했습니다."},
    {0, nullptr},
};

}  // namespace

extern "C" {

QRT_API const char *QRT_SSS_GetVersion(void) { return kVersion; }
QRT_API const char *QRT_GetVersionSSS(void) { return kVersion; }

QRT_API int QRT_SSS_CheckVersion(const char *required) {
    return ostrel::check_version(kVersion, required, {{QRT_IO_GetVersion, "1.5.1.0"}, {WJC_GetVersion, "1.2.3.0"}});
}

QRT_API const char *QRT_SSS_GetErrorReason(int code, int locale) {
    const char *r = nullptr;
    if (locale == 1) r = ostrel::find_reason(kEnglish, code);
    if (locale == 0) r = ostrel::find_reason(kKorean, code);
    return r ? r : kUndefined;
}
QRT_API const char *QRT_GetErrReasonSSS(int code, int locale) { return QRT_SSS_GetErrorReason(code, locale); }

}  // extern "C"
