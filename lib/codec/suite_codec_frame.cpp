// The codec's library frame: version, version check and error texts (English, Korean).
#include "codec_internal.h"
#include "ostrel/frame.hpp"

namespace {

constexpr const char *kVersion = "1.5.0.6";

const ERR_MSG_DATA kEnglish[] = {
    {3001, "invalid input"},
    {3002, "internal"},
    {3003, "malloc failed"},
    {3020, "bad hexa string"},
    {0, nullptr},
};

// Written in UTF-8; the build turns these literals into EUC-KR bytes.
const ERR_MSG_DATA kKorean[] = {
    {3001, "함수 인자가 NULL 입니다."},
    {3002, "함수 내부적인 에러가 발생했습니다."},
    {3003, "함수 내부에서 메모리 할당이 실패했습니다."},
    {3020, "헥사 스트링 값이 잘못 되었습니다."},
    {0, nullptr},
};

}  // namespace

extern "C" {

QRT_API const char *QRT_Codec_GetVersion(void) { return kVersion; }
QRT_API const char *QRT_GetVersionCodec(void) { return kVersion; }

QRT_API int QRT_Codec_CheckVersion(const char *required) {
    return ostrel::check_version(kVersion, required, {{QRT_IO_GetVersion, "1.5.1.0"}});
}

// Codes of the I/O core are handed on to it.
QRT_API const char *QRT_Codec_GetErrorReason(int code, int lang) {
    return ostrel::reason_of(kEnglish, kKorean, code, lang, {{8001, 8999, QRT_IO_GetErrorReason}});
}
QRT_API const char *QRT_GetErrReasonCodec(int code, int lang) { return QRT_Codec_GetErrorReason(code, lang); }

}  // extern "C"
