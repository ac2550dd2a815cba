// The handshake library's frame: version, version check and error texts.
#include "php_errors.hpp"
#include "php_internal.h"
#include "suite_asn.h"
#include "suite_crypto.h"
#include "suite_csp.h"

using ostrel::generated::kErrorTexts;

namespace {

constexpr const char *kVersion = "1.5.0.3";

}  // namespace

extern "C" {

QRT_API const char *QRT_PHP_GetVersion(void) { return kVersion; }
QRT_API const char *QRT_GetVersionPHP(void) { return kVersion; }

QRT_API int QRT_PHP_CheckVersion(const char *required) {
    return ostrel::check_version(kVersion, required,
                                 {{QRT_IO_GetVersion, "1.5.1.1"},
                                  {QRT_ASN_GetVersion, "1.5.1.5"},
                                  {QRT_CSP_GetVersion, "1.5.0.11"},
                                  {WJC_GetVersion, "1.2.3.0"}});
}

QRT_API const char *QRT_PHP_GetErrorReason(int code, int locale) {
    return ostrel::reason_of(kErrorTexts, code, locale, ostrel::kUndefinedReason);
}
QRT_API const char *QRT_GetErrReasonPHP(int code, int locale) { return QRT_PHP_GetErrorReason(code, locale); }

}  // extern "C"
