// The codec's library frame: version, version check and error texts (English, Korean).
#include "codec_errors.hpp"
#include "codec_internal.h"
#include "codec_version.hpp"

using ostrel::generated::kErrorTexts;
using ostrel::generated::kRequirements;
using ostrel::generated::kVersion;

extern "C" {

QRT_API const char *QRT_Codec_GetVersion(void) { return kVersion; }
QRT_API const char *QRT_GetVersionCodec(void) { return kVersion; }

QRT_API int QRT_Codec_CheckVersion(const char *required) {
    return ostrel::check_version(kVersion, required, kRequirements);
}

// Codes of the I/O core are handed on to it.
QRT_API const char *QRT_Codec_GetErrorReason(int code, int lang) {
    return ostrel::reason_of(kErrorTexts, code, lang, "", {{8001, 8999, QRT_IO_GetErrorReason}});
}
QRT_API const char *QRT_GetErrReasonCodec(int code, int lang) { return QRT_Codec_GetErrorReason(code, lang); }

}  // extern "C"
