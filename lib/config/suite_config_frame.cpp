// The configuration library's frame: version, version check and error texts.
#include "config_errors.hpp"
#include "config_internal.h"

using ostrel::generated::kErrorTexts;

namespace {

constexpr const char *kVersion = "1.6.0.1";

}  // namespace

extern "C" {

QRT_API const char *QRT_CONFIG_GetVersion(void) { return kVersion; }
QRT_API const char *QRT_GetVersionConfig(void) { return kVersion; }

QRT_API int QRT_CONFIG_CheckVersion(const char *required) {
    return ostrel::check_version(kVersion, required, {{QRT_IO_GetVersion, "1.5.1.0"}});
}

// The library has no Korean texts; every code it does not know reads "UnDefined Error Reason".
QRT_API const char *QRT_CONFIG_GetErrorReason(int code, int lang) {
    return ostrel::reason_of(kErrorTexts, code, lang, ostrel::kUndefinedReason);
}
QRT_API const char *QRT_GetErrReasonConfig(int code, int lang) { return QRT_CONFIG_GetErrorReason(code, lang); }

}  // extern "C"
