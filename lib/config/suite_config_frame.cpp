// The configuration library's frame: version, version check and error texts.
#include "config_internal.h"
#include "ostrel/frame.hpp"

namespace {

constexpr const char *kVersion = "1.6.0.1";
constexpr const char *kUndefined = "UnDefined Error Reason";

const ERR_MSG_DATA kEnglish[] = {
    {5010, "Cann't Assign New Memory To Env List"},
    {5020, "Cann't Assign New Memory To Value List"},
    {5030, "NULL Key List Header Encountered"},
    {5040, "More Than 2 Key Word Are Same"},
    {5050, "NULL Key Encountered"},
    {5060, "NULL Value List Header Encountered"},
    {5070, "NULL Key Encountered"},
    {5080, "Cann't Assing New Memory To New Line Buffer"},
    {5090, "Config Maximum List Length Excceded"},
    {5100, "No Value In Config File"},
    {5110, "First Key List Is Not Initialized"},
    {5120, "Result Is NULL In Search Key From Env List"},
    {5130, "Cann't Do Safe Free"},
    {5140, "Cann't Read Config File"},
    {0, nullptr},
};

}  // namespace

extern "C" {

QRT_API const char *QRT_CONFIG_GetVersion(void) { return kVersion; }
QRT_API const char *QRT_GetVersionConfig(void) { return kVersion; }

QRT_API int QRT_CONFIG_CheckVersion(const char *required) {
    return ostrel::check_version(kVersion, required, {{QRT_IO_GetVersion, "1.5.1.0"}});
}

// The library has no Korean table; every code it does not know reads "UnDefined Error Reason".
QRT_API const char *QRT_CONFIG_GetErrorReason(int code, int lang) {
    const char *r = lang == 1 ? ostrel::find_reason(kEnglish, code) : nullptr;
    return r ? r : kUndefined;
}
QRT_API const char *QRT_GetErrReasonConfig(int code, int lang) { return QRT_CONFIG_GetErrorReason(code, lang); }

}  // extern "C"
