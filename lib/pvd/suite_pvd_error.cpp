// The library frame: version, version check and the error texts. The second-language table is
// empty; codes of the ASN.1 layer, the codec, the provider, the I/O core and the certificate
// library are handed to them by range, anything else gives "".
#include "pvd_errors.hpp"
#include "pvd_internal.h"
#include "pvd_version.hpp"
#include "suite_codec.h"
#include "suite_csp.h"
#include "suite_pkc.h"

using ostrel::generated::kErrorTexts;
using ostrel::generated::kRequirements;
using ostrel::generated::kVersion;

extern "C" {

QRT_API const char *QRT_PVD_GetVersion(void) { return kVersion; }

QRT_API int QRT_PVD_CheckVersion(const char *required) {
    return ostrel::check_version(kVersion, required, kRequirements);
}

QRT_API const char *QRT_PVD_GetErrorReason(int code, int lang) {
    return ostrel::reason_of(kErrorTexts, code, lang, "",
                             {{1000, 1999, QRT_ASN_GetErrorReason},
                              {3000, 3999, QRT_Codec_GetErrorReason},
                              {6000, 6199, QRT_CSP_GetErrorReason},
                              {8000, 8999, QRT_IO_GetErrorReason},
                              {36000, 36999, QRT_PKC_GetErrorReason}});
}

}  // extern "C"
