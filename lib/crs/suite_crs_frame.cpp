// The library frame: version, version check and the English and Korean error texts.
#include "crs_internal.h"
#include "ostrel/frame.hpp"

namespace {

constexpr const char *kVersion = "1.5.0.0";
constexpr const char *kUndefined = "UnDefined Error Reason";

constexpr ostrel::PairedReason kReasons[] = {
    {-2, "Invalid input arguement", "입력 인자가 올바르지 않습니다."},
    {-3, "Fail to allocate memory", "메모리 할당에 실패했습니다."},
    {-4, "Invalid Service Code", "잘못된 서비스 코드입니다."},
    {-5, "Invalid date format", "잘못된 날짜 형식입니다."},
    {-6, "Field value is too long", "필드 값의 길이가 너무 깁니다."},
};

}  // namespace

extern "C" {

QRT_API const char *QRT_CRS_GetVersion(void) { return kVersion; }
QRT_API const char *QRT_GetVersionCRS(void) { return kVersion; }

QRT_API int QRT_CRS_CheckVersion(const char *required) {
    return ostrel::check_version(kVersion, required, {{QRT_IO_GetVersion, "1.5.1.0"}});
}

QRT_API const char *QRT_CRS_GetErrorReason(int code, int locale) {
    const char *r = ostrel::find_paired_reason(kReasons, code, locale);
    return r ? r : kUndefined;
}
QRT_API const char *QRT_GetErrReasonCRS(int code, int locale) { return QRT_CRS_GetErrorReason(code, locale); }

}  // extern "C"
