// The library frame: version, version check and the error texts; codes of the ASN.1 layer, the
// I/O core and the password-based encryption library are handed to them by range.
#include "pkcs8_errors.hpp"
#include "pkcs8_internal.h"
#include "pkcs8_version.hpp"

using ostrel::generated::kErrorTexts;
using ostrel::generated::kRequirements;
using ostrel::generated::kVersion;

extern "C" {

QRT_API const char *QRT_PKCS8_GetVersion(void) { return kVersion; }

QRT_API int QRT_PKCS8_CheckVersion(const char *required) {
    return ostrel::check_version(kVersion, required, kRequirements);
}

QRT_API const char *QRT_PKCS8_GetErrorReason(int code, int locale) {
    return ostrel::reason_of(kErrorTexts, code, locale, "",
                             {{1000, 1999, QRT_ASN_GetErrorReason},
                              {8000, 8999, QRT_IO_GetErrorReason},
                              {37000, 37399, QRT_PKCS5_GetErrorReason},
                              {37500, 37999, QRT_PKCS5_GetErrorReason}});
}

}  // extern "C"
