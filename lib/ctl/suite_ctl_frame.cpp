// The library frame: version, version check and the English and Korean error texts; codes of the
// ASN.1 layer, the provider, the I/O core and the PKCS#7 library are handed to them by range.
#include "ctl_errors.hpp"
#include "ctl_internal.h"
#include "ctl_version.hpp"
#include "suite_csp.h"
#include "suite_pkcs7.h"

using ostrel::generated::kErrorTexts;
using ostrel::generated::kRequirements;
using ostrel::generated::kVersion;

extern "C" {

QRT_API const char *QRT_CTL_GetVersion(void) { return kVersion; }

QRT_API int QRT_CTL_CheckVersion(const char *required) {
    return ostrel::check_version(kVersion, required, kRequirements);
}

QRT_API const char *QRT_CTL_GetErrorReason(int code, int locale) {
    return ostrel::reason_of(kErrorTexts, code, locale, "",
                             {{1000, 1999, QRT_ASN_GetErrorReason},
                              {6000, 6999, QRT_CSP_GetErrorReason},
                              {8000, 8999, QRT_IO_GetErrorReason},
                              {37300, 38299, QRT_PKCS7_GetErrorReason}});
}

}  // extern "C"
