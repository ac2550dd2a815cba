// The library frame: version, version check and the English and Korean error texts; other
// codes are the RA library's.
#include "cas_errors.hpp"
#include "cas_internal.h"
#include "cas_version.hpp"

using ostrel::generated::kErrorTexts;
using ostrel::generated::kRequirements;
using ostrel::generated::kVersion;

extern "C" {

QRT_API const char *QRT_CAS_GetVersion(void) { return kVersion; }
QRT_API const char *QRT_GetVersionCAS(void) { return kVersion; }

QRT_API int QRT_CAS_CheckVersion(const char *required) {
    return ostrel::check_version(kVersion, required, kRequirements);
}

QRT_API const char *QRT_CAS_GetErrorReason(int code, int locale) {
    const char *r = ostrel::find_text(kErrorTexts, code, locale);
    return r ? r : QRT_RAS_GetErrorReason(code, locale);
}
QRT_API const char *QRT_GetErrReasonCAS(int code, int locale) { return QRT_CAS_GetErrorReason(code, locale); }

QRT_API int QRT_CAS_GetDataLenSize(void) { return 4; }

}  // extern "C"
