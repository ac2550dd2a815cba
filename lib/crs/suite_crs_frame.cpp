// The library frame: version, version check and the English and Korean error texts.
#include "crs_errors.hpp"
#include "crs_internal.h"
#include "crs_version.hpp"

using ostrel::generated::kErrorTexts;
using ostrel::generated::kRequirements;
using ostrel::generated::kVersion;

extern "C" {

QRT_API const char *QRT_CRS_GetVersion(void) { return kVersion; }
QRT_API const char *QRT_GetVersionCRS(void) { return kVersion; }

QRT_API int QRT_CRS_CheckVersion(const char *required) {
    return ostrel::check_version(kVersion, required, kRequirements);
}

QRT_API const char *QRT_CRS_GetErrorReason(int code, int locale) {
    return ostrel::reason_of(kErrorTexts, code, locale, ostrel::kUndefinedReason);
}
QRT_API const char *QRT_GetErrReasonCRS(int code, int locale) { return QRT_CRS_GetErrorReason(code, locale); }

}  // extern "C"
