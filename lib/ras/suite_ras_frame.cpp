// The library frame: version, version check and the English and Korean error texts.
#include "ras_errors.hpp"
#include "ras_internal.h"

using ostrel::generated::kErrorTexts;

namespace {

constexpr const char *kVersion = "1.5.0.4";

}  // namespace

extern "C" {

QRT_API const char *QRT_RAS_GetVersion(void) { return kVersion; }
QRT_API const char *QRT_GetVersionRAS(void) { return kVersion; }

QRT_API int QRT_RAS_CheckVersion(const char *required) {
    return ostrel::check_version(kVersion, required, {{QRT_IO_GetVersion, "1.5.1.0"}});
}

QRT_API const char *QRT_RAS_GetErrorReason(int code, int locale) {
    return ostrel::reason_of(kErrorTexts, code, locale, ostrel::kUndefinedReason);
}
QRT_API const char *QRT_GetErrReasonRAS(int code, int locale) { return QRT_RAS_GetErrorReason(code, locale); }

}  // extern "C"
