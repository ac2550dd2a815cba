// The I/O core's library frame: version, version check and error texts (English, Korean).
#include "io_internal.h"
#include "ostrel/frame.hpp"

namespace {

constexpr const char *kVersion = "1.7.0.0";

const ERR_MSG_DATA kEnglish[] = {
    {8001, "invalid input"},
    {8002, "internal"},
    {8003, "malloc failed"},
    {8030, "file eof"},
    {8031, "file access denied"},
    {8032, "file not found"},
    {8033, "file exist"},
    {8040, "socket closed"},
    {8050, "mutex function failed"},
    {8060, "huge is too large"},
    {8061, "huge is negative"},
    {8160, "Max Serial Buffer Size Exceeded"},
    {8170, "Cann't Open Serial File"},
    {8180, "Cann't Set Serial File Read Lock"},
    {8190, "Cann't Read From Serial File"},
    {8200, "Cann't Increase Bin Number"},
    {8210, "Invalide Bin Number Length"},
    {8215, "Cann't Rewind Bin Number File Descriptor"},
    {8220, "Cann't Write Next Bin Number"},
    {8230, "Cann't Clear File Lock"},
    {8240, "Cann't Open To Be Set File"},
    {8250, "Cann't Set Lock To Be Set File"},
    {8260, "Cann't Set New Bin Number"},
    {8270, "Cann't Clear To Be Set File Lock"},
    {-1, "error"},
    {0, nullptr},
};

// Written in UTF-8; the build turns these literals into EUC-KR bytes.
const ERR_MSG_DATA kKorean[] = {
    {8001, "함수 인자가 NULL 입니다."},
    {8002, "함수 내부적인 에러가 발생했습니다."},
    {8003, "함수 내부에서 메모리 할당이 실패했습니다."},
    {8030, "파일의 끝입니다."},
    {8040, "소켓이 닫혔습니다."},
    {-1, "에러"},
    {0, nullptr},
};

}  // namespace

extern "C" {

QRT_API const char *QRT_IO_GetVersion(void) { return kVersion; }
QRT_API const char *QRT_GetVersionIO(void) { return kVersion; }

QRT_API int QRT_IO_CheckVersion(const char *required) { return ostrel::check_version(kVersion, required); }

QRT_API const char *QRT_IO_GetErrorReason(int code, int lang) {
    return ostrel::reason_of(kEnglish, kKorean, code, lang);
}
QRT_API const char *QRT_GetErrReasonIO(int code, int lang) { return QRT_IO_GetErrorReason(code, lang); }

}  // extern "C"
