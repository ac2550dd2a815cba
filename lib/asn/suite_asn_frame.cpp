// The ASN.1 layer's library frame: version, version check and error texts (English, Korean).
#include "asn_errors.hpp"
#include "asn_internal.h"
#include "asn_version.hpp"

using ostrel::generated::kErrorTexts;
using ostrel::generated::kRequirements;
using ostrel::generated::kVersion;

extern "C" {

QRT_API const char *QRT_ASN_GetVersion(void) { return kVersion; }
QRT_API const char *QRT_GetVersionASN(void) { return kVersion; }

QRT_API int QRT_ASN_CheckVersion(const char *required) {
    return ostrel::check_version(kVersion, required, kRequirements);
}

QRT_API const char *QRT_ASN_GetErrorReason(int code, int lang) {
    return ostrel::reason_of(kErrorTexts, code, lang, "", {{8000, 8999, QRT_IO_GetErrorReason}});
}
QRT_API const char *QRT_GetErrReasonASN(int code, int lang) { return QRT_ASN_GetErrorReason(code, lang); }

}  // extern "C"
