// The library frame: version, version check and the English and Korean error texts; codes of the
// ASN.1 layer, the provider and the I/O core are handed to them by range.
#include "ocsp_errors.hpp"
#include "ocsp_internal.h"
#include "ocsp_version.hpp"

using ostrel::generated::kErrorTexts;
using ostrel::generated::kRequirements;
using ostrel::generated::kVersion;

extern "C" {

QRT_API const char *QRT_OCSP_GetVersion(void) { return kVersion; }

QRT_API int QRT_OCSP_CheckVersion(const char *required) {
    return ostrel::check_version(kVersion, required, kRequirements);
}

QRT_API const char *QRT_OCSP_GetErrorReason(int code, int lang) {
    return ostrel::reason_of(kErrorTexts, code, lang, "",
                             {{1000, 1999, QRT_ASN_GetErrorReason},
                              {6000, 6199, QRT_CSP_GetErrorReason},
                              {8000, 8999, QRT_IO_GetErrorReason}});
}

}  // extern "C"
