// The provider's library frame: version, version check and error texts (English, Korean).
#include "csp_errors.hpp"
#include "csp_internal.h"
#include "csp_version.hpp"

using ostrel::generated::kErrorTexts;
using ostrel::generated::kRequirements;
using ostrel::generated::kVersion;

extern "C" {

QRT_API const char *QRT_CSP_GetVersion(void) { return kVersion; }
QRT_API const char *QRT_GetVersionCSP(void) { return kVersion; }

QRT_API int QRT_CSP_CheckVersion(const char *required) {
    return ostrel::check_version(kVersion, required, kRequirements);
}

QRT_API const char *QRT_CSP_GetErrorReason(int code, int locale) {
    return ostrel::reason_of(kErrorTexts, code, locale, "");
}
QRT_API const char *QRT_GetErrReasonCSP(int code, int locale) { return QRT_CSP_GetErrorReason(code, locale); }

}  // extern "C"
