// The library frame: version, version check and the English texts (there are no Korean ones);
// codes of the ASN.1 layer, the code-set converter, the provider, the I/O core and the CRL
// library, which the fetches pass through, are handed to them by range.
#include "ldap_errors.hpp"
#include "ldap_internal.h"
#include "ldap_version.hpp"
#include "suite_codec.h"
#include "suite_crl.h"
#include "suite_csp.h"

using ostrel::generated::kErrorTexts;
using ostrel::generated::kRequirements;
using ostrel::generated::kVersion;

extern "C" {

QRT_API const char *QRT_LDAP_GetVersion(void) { return kVersion; }
QRT_API const char *QRT_GetVersionLDAP(void) { return kVersion; }

QRT_API int QRT_LDAP_CheckVersion(const char *required) {
    return ostrel::check_version(kVersion, required, kRequirements);
}

QRT_API const char *QRT_LDAP_GetErrorReason(int code, int lang) {
    return ostrel::reason_of(kErrorTexts, code, lang, "",
                             {{1000, 1999, QRT_ASN_GetErrorReason},
                              {3000, 3999, QRT_Codec_GetErrorReason},
                              {6000, 6999, QRT_CSP_GetErrorReason},
                              {8000, 8999, QRT_IO_GetErrorReason},
                              {33000, 33999, QRT_CRL_GetErrorReason}});
}
QRT_API const char *QRT_GetErrReasonLDAP(int code, int lang) { return QRT_LDAP_GetErrorReason(code, lang); }

}  // extern "C"
