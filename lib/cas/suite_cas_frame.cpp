// The library frame: version, version check and the English and Korean error texts; other
// codes are the RA library's.
#include "cas_internal.h"
#include "ostrel/frame.hpp"
#include "suite_csp.h"

namespace {

constexpr const char *kVersion = "1.5.0.2";

constexpr ostrel::PairedReason kReasons[] = {
    {72001, "Invalid Input value", "입력 값이 올바르지 않습니다."},
    {72002, "Fail to memory allocation", "메모리 할당에 실패했습니다."},
    {72003, "Fail to get hash value", "해시 값을 구하지 못했습니다."},
    {72004, "Invalid Hash length", "해시 값의 길이가 올바르지 않습니다."},
    {72005, "Fail to get hex value", "16진수 값으로 바꾸지 못했습니다."},
    {72006, "Invalid service code", "잘못된 서비스 코드입니다."},
    {72007, "Invalid operation code", "잘못된 오퍼레이션 코드입니다."},
    {72008, "Fail to get bin value from hex", "16진수 값을 이진 값으로 바꾸지 못했습니다."},
    {72009, "Invalid hash value", "해시 값이 일치하지 않습니다."},
    {72010, "Invalid data format", "데이터 형식이 올바르지 않습니다."},
    {72011, "Invalid loop count", "레코드 개수가 맞지 않습니다."},
    {72012, "Fail to sign value", "서명 값을 만들지 못했습니다."},
};

}  // namespace

extern "C" {

QRT_API const char *QRT_CAS_GetVersion(void) { return kVersion; }
QRT_API const char *QRT_GetVersionCAS(void) { return kVersion; }

QRT_API int QRT_CAS_CheckVersion(const char *required) {
    return ostrel::check_version(
        kVersion, required,
        {{QRT_IO_GetVersion, "1.5.1.0"}, {QRT_CSP_GetVersion, "1.5.0.11"}, {QRT_RAS_GetVersion, "1.5.0.4"}});
}

QRT_API const char *QRT_CAS_GetErrorReason(int code, int locale) {
    const char *r = ostrel::find_paired_reason(kReasons, code, locale);
    return r ? r : QRT_RAS_GetErrorReason(code, locale);
}
QRT_API const char *QRT_GetErrReasonCAS(int code, int locale) { return QRT_CAS_GetErrorReason(code, locale); }

QRT_API int QRT_CAS_GetDataLenSize(void) { return 4; }

}  // extern "C"
