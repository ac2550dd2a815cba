// The library frame: version, version check and the English and Korean error texts.
#include "ras_errors.hpp"
#include "ras_internal.h"
#include "ras_version.hpp"

using ostrel::generated::kErrorTexts;
using ostrel::generated::kRequirements;
using ostrel::generated::kVersion;

extern "C" {

QRT_API const char *QRT_RAS_GetVersion(void) { return kVersion; }
QRT_API const char *QRT_GetVersionRAS(void) { return kVersion; }

QRT_API int QRT_RAS_CheckVersion(const char *required) {
    return ostrel::check_version(kVersion, required, kRequirements);
}

QRT_API const char *QRT_RAS_GetErrorReason(int code, int locale) {
    return ostrel::reason_of(kErrorTexts, code, locale, ostrel::kUndefinedReason);
}
QRT_API const char *QRT_GetErrReasonRAS(int code, int locale) { return QRT_RAS_GetErrorReason(code, locale); }

}  // extern "C"
