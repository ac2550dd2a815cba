// The library frame: version, version check and the English and Korean error texts; codes of the
// lower libraries are handed to them by range.
#include "pkcs12_errors.hpp"
#include "pkcs12_internal.h"
#include "pkcs12_version.hpp"
#include "suite_pkcs8.h"

using ostrel::generated::kErrorTexts;
using ostrel::generated::kRequirements;
using ostrel::generated::kVersion;

extern "C" {

QRT_API const char *QRT_PKCS12_GetVersion(void) { return kVersion; }

QRT_API int QRT_PKCS12_CheckVersion(const char *required) {
    return ostrel::check_version(kVersion, required, kRequirements);
}

QRT_API const char *QRT_PKCS12_GetErrorReason(int code, int locale) {
    return ostrel::reason_of(kErrorTexts, code, locale, "",
                             {{1000, 1999, QRT_ASN_GetErrorReason},
                              {6000, 6199, QRT_CSP_GetErrorReason},
                              {8000, 8999, QRT_IO_GetErrorReason},
                              {37100, 37199, QRT_PKCS5_GetErrorReason},
                              {37300, 37399, QRT_PKCS7_GetErrorReason},
                              {37400, 37499, QRT_PKCS8_GetErrorReason}});
}

}  // extern "C"
