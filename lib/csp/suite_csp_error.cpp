// The provider's library frame: version, version check and error texts (English, Korean).
#include "csp_errors.hpp"
#include "csp_internal.h"

using ostrel::generated::kErrorTexts;

namespace {

constexpr const char *kVersion = "1.7.0.0";

}  // namespace

extern "C" {

QRT_API const char *QRT_CSP_GetVersion(void) { return kVersion; }
QRT_API const char *QRT_GetVersionCSP(void) { return kVersion; }

QRT_API int QRT_CSP_CheckVersion(const char *required) {
    return ostrel::check_version(kVersion, required, {{WJC_GetVersion, "1.2.3.0"}, {QRT_IO_GetVersion, "1.5.1.0"}});
}

QRT_API const char *QRT_CSP_GetErrorReason(int code, int locale) {
    return ostrel::reason_of(kErrorTexts, code, locale, "");
}
QRT_API const char *QRT_GetErrReasonCSP(int code, int locale) { return QRT_CSP_GetErrorReason(code, locale); }

}  // extern "C"
