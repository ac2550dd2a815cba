// The I/O core's library frame: version, version check and error texts (English, Korean).
#include "io_errors.hpp"
#include "io_internal.h"
#include "io_version.hpp"

using ostrel::generated::kErrorTexts;
using ostrel::generated::kRequirements;
using ostrel::generated::kVersion;

extern "C" {

QRT_API const char *QRT_IO_GetVersion(void) { return kVersion; }
QRT_API const char *QRT_GetVersionIO(void) { return kVersion; }

QRT_API int QRT_IO_CheckVersion(const char *required) { return ostrel::check_version(kVersion, required, kRequirements); }

QRT_API const char *QRT_IO_GetErrorReason(int code, int lang) {
    return ostrel::reason_of(kErrorTexts, code, lang, "");
}
QRT_API const char *QRT_GetErrReasonIO(int code, int lang) { return QRT_IO_GetErrorReason(code, lang); }

}  // extern "C"
