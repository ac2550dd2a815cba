// The library frame: version, version check and the English and Korean error texts; other
// codes are the RA library's.
#include "cas_errors.hpp"
#include "cas_internal.h"
#include "suite_csp.h"

using ostrel::generated::kErrorTexts;

namespace {

constexpr const char *kVersion = "1.5.0.2";

}  // namespace

extern "C" {

QRT_API const char *QRT_CAS_GetVersion(void) { return kVersion; }
QRT_API const char *QRT_GetVersionCAS(void) { return kVersion; }

QRT_API int QRT_CAS_CheckVersion(const char *required) {
    return ostrel::check_version(
        kVersion, required,
        {{QRT_IO_GetVersion, "1.5.1.0"}, {QRT_CSP_GetVersion, "1.5.0.11"}, {QRT_RAS_GetVersion, "1.5.0.4"}});
}

QRT_API const char *QRT_CAS_GetErrorReason(int code, int locale) {
    const char *r = ostrel::find_text(kErrorTexts, code, locale);
    return r ? r : QRT_RAS_GetErrorReason(code, locale);
}
QRT_API const char *QRT_GetErrReasonCAS(int code, int locale) { return QRT_CAS_GetErrorReason(code, locale); }

QRT_API int QRT_CAS_GetDataLenSize(void) { return 4; }

}  // extern "C"
