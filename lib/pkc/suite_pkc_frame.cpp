// The library frame: version, version check and the English error texts; codes of the libraries
// below are handed to them by range, anything else gives "".
#include "pkc_errors.hpp"
#include "pkc_internal.h"
#include "pkc_version.hpp"
#include "suite_codec.h"
#include "suite_csp.h"

using ostrel::generated::kErrorTexts;
using ostrel::generated::kRequirements;
using ostrel::generated::kVersion;

extern "C" {

QRT_API const char *QRT_PKC_GetVersion(void) { return kVersion; }
QRT_API const char *QRT_GetVersionPKC(void) { return kVersion; }

QRT_API int QRT_PKC_CheckVersion(const char *required) {
    return ostrel::check_version(kVersion, required, kRequirements);
}

QRT_API const char *QRT_PKC_GetErrorReason(int code, int locale) {
    return ostrel::reason_of(kErrorTexts, code, locale, "",
                             {{1000, 1999, QRT_ASN_GetErrorReason},
                              {3000, 3999, QRT_Codec_GetErrorReason},
                              {6000, 6999, QRT_CSP_GetErrorReason},
                              {8000, 8999, QRT_IO_GetErrorReason},
                              {33000, 33999, QRT_CRL_GetErrorReason}});
}
QRT_API const char *QRT_GetErrReasonPKC(int code, int locale) { return QRT_PKC_GetErrorReason(code, locale); }

}  // extern "C"
