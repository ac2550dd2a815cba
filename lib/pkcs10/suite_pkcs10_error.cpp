// The library frame: version, version check and the English and Korean error texts. Codes of
// other libraries are not handed on: any code without a text here is "UnDefined Error Reason".
#include "pkcs10_errors.hpp"
#include "pkcs10_internal.h"
#include "pkcs10_version.hpp"

using ostrel::generated::kErrorTexts;
using ostrel::generated::kRequirements;
using ostrel::generated::kVersion;

extern "C" {

QRT_API const char *QRT_PKCS10_GetVersion(void) { return kVersion; }

QRT_API int QRT_PKCS10_CheckVersion(const char *required) {
    return ostrel::check_version(kVersion, required, kRequirements);
}

QRT_API const char *QRT_PKCS10_GetErrorReason(int code, int locale) {
    return ostrel::reason_of(kErrorTexts, code, locale, ostrel::kUndefinedReason);
}

}  // extern "C"
