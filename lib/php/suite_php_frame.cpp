// The handshake library's frame: version, version check and error texts.
#include "php_errors.hpp"
#include "php_internal.h"
#include "php_version.hpp"

using ostrel::generated::kErrorTexts;
using ostrel::generated::kRequirements;
using ostrel::generated::kVersion;

extern "C" {

QRT_API const char *QRT_PHP_GetVersion(void) { return kVersion; }
QRT_API const char *QRT_GetVersionPHP(void) { return kVersion; }

QRT_API int QRT_PHP_CheckVersion(const char *required) {
    return ostrel::check_version(kVersion, required, kRequirements);
}

QRT_API const char *QRT_PHP_GetErrorReason(int code, int locale) {
    return ostrel::reason_of(kErrorTexts, code, locale, ostrel::kUndefinedReason);
}
QRT_API const char *QRT_GetErrReasonPHP(int code, int locale) { return QRT_PHP_GetErrorReason(code, locale); }

}  // extern "C"
