// The configuration library's frame: version, version check and error texts.
#include "config_errors.hpp"
#include "config_internal.h"
#include "config_version.hpp"

using ostrel::generated::kErrorTexts;
using ostrel::generated::kRequirements;
using ostrel::generated::kVersion;

extern "C" {

QRT_API const char *QRT_CONFIG_GetVersion(void) { return kVersion; }
QRT_API const char *QRT_GetVersionConfig(void) { return kVersion; }

QRT_API int QRT_CONFIG_CheckVersion(const char *required) {
    return ostrel::check_version(kVersion, required, kRequirements);
}

// The library has no Korean texts; every code it does not know reads "UnDefined Error Reason".
QRT_API const char *QRT_CONFIG_GetErrorReason(int code, int lang) {
    return ostrel::reason_of(kErrorTexts, code, lang, ostrel::kUndefinedReason);
}
QRT_API const char *QRT_GetErrReasonConfig(int code, int lang) { return QRT_CONFIG_GetErrorReason(code, lang); }

}  // extern "C"
