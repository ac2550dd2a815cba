// The codec's library frame: version, version check and error texts (English, Korean).
#include "codec_errors.hpp"
#include "codec_internal.h"

using ostrel::generated::kErrorTexts;

namespace {

constexpr const char *kVersion = "1.5.0.6";

}  // namespace

extern "C" {

QRT_API const char *QRT_Codec_GetVersion(void) { return kVersion; }
QRT_API const char *QRT_GetVersionCodec(void) { return kVersion; }

QRT_API int QRT_Codec_CheckVersion(const char *required) {
    return ostrel::check_version(kVersion, required, {{QRT_IO_GetVersion, "1.5.1.0"}});
}

// Codes of the I/O core are handed on to it.
QRT_API const char *QRT_Codec_GetErrorReason(int code, int lang) {
    return ostrel::reason_of(kErrorTexts, code, lang, "", {{8001, 8999, QRT_IO_GetErrorReason}});
}
QRT_API const char *QRT_GetErrReasonCodec(int code, int lang) { return QRT_Codec_GetErrorReason(code, lang); }

}  // extern "C"
