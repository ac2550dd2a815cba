// The secret-sharing library's frame: version, version check and error texts.
#include "sss_errors.hpp"
#include "sss_internal.h"
#include "sss_version.hpp"

using ostrel::generated::kErrorTexts;
using ostrel::generated::kRequirements;
using ostrel::generated::kVersion;

extern "C" {

QRT_API const char *QRT_SSS_GetVersion(void) { return kVersion; }
QRT_API const char *QRT_GetVersionSSS(void) { return kVersion; }

QRT_API int QRT_SSS_CheckVersion(const char *required) {
    return ostrel::check_version(kVersion, required, kRequirements);
}

QRT_API const char *QRT_SSS_GetErrorReason(int code, int locale) {
    return ostrel::reason_of(kErrorTexts, code, locale, ostrel::kUndefinedReason);
}
QRT_API const char *QRT_GetErrReasonSSS(int code, int locale) { return QRT_SSS_GetErrorReason(code, locale); }

}  // extern "C"
