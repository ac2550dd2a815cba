// The library frame: version, version check and the English and Korean error texts.
#include "crs_errors.hpp"
#include "crs_internal.h"

using ostrel::generated::kErrorTexts;

namespace {

constexpr const char *kVersion = "1.5.0.0";

}  // namespace

extern "C" {

QRT_API const char *QRT_CRS_GetVersion(void) { return kVersion; }
QRT_API const char *QRT_GetVersionCRS(void) { return kVersion; }

QRT_API int QRT_CRS_CheckVersion(const char *required) {
    return ostrel::check_version(kVersion, required, {{QRT_IO_GetVersion, "1.5.1.0"}});
}

QRT_API const char *QRT_CRS_GetErrorReason(int code, int locale) {
    return ostrel::reason_of(kErrorTexts, code, locale, ostrel::kUndefinedReason);
}
QRT_API const char *QRT_GetErrReasonCRS(int code, int locale) { return QRT_CRS_GetErrorReason(code, locale); }

}  // extern "C"
