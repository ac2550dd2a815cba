// The current time, the local offset from UTC, and fixed-format time strings in English or
// Korean (EUC-KR; the build turns the UTF-8 literals below into EUC-KR bytes).
#include <cstdio>
#include <cstring>
#include <ctime>

#include "io_internal.h"

extern "C" {

const char ENG_MONTH_ABB[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char HAN_MONTH_ABB[12][5] = {"1월", "2월", "3월", "4월",  "5월",  "6월",
                                           "7월", "8월", "9월", "10월", "11월", "12월"};
const char ENG_DAY_ABB[7][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char HAN_DAY_ABB[7][3] = {"일", "월", "화", "수", "목", "금", "토"};

}  // extern "C"

namespace {

constexpr size_t kTimeTextSize = 51;

int clamp(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }

char *names_text(const struct tm &tm, int english, bool rfc) {
    auto *s = static_cast<char *>(QRT_malloc(kTimeTextSize));
    if (!s) return nullptr;
    int mon = clamp(tm.tm_mon, 0, 11), wday = clamp(tm.tm_wday, 0, 6);
    const char *month = english ? ENG_MONTH_ABB[mon] : HAN_MONTH_ABB[mon];
    const char *day = english ? ENG_DAY_ABB[wday] : HAN_DAY_ABB[wday];
    if (rfc)
        std::snprintf(s, kTimeTextSize, "%s, %.2d %s %d %.2d:%.2d:%.2d", day, tm.tm_mday, month, tm.tm_year + 1900,
                      tm.tm_hour, tm.tm_min, tm.tm_sec);
    else
        std::snprintf(s, kTimeTextSize, "%d %s %.2d %s, %.2d:%.2d:%.2d", tm.tm_year + 1900, month, tm.tm_mday, day,
                      tm.tm_hour, tm.tm_min, tm.tm_sec);
    return s;
}

// Reads up to `width` decimal characters, stopping at the end of the text.
int field(const char *&p, int width) {
    int v = 0;
    for (int i = 0; i < width && *p; ++i, ++p)
        if (*p >= '0' && *p <= '9') v = v * 10 + (*p - '0');
    return v;
}

}  // namespace

extern "C" {

QRT_API time_t QRT_GetLocalTime(void) { return time(nullptr); }
QRT_API time_t QRT_Time_GetTime(void) { return time(nullptr); }

QRT_API time_t QRT_GetUTCTime(void) {
    time_t now = time(nullptr);
    struct tm tm;
    gmtime_r(&now, &tm);
    return mktime(&tm);
}

QRT_API time_t QRT_GetUTCGap(void) {
    time_t now = time(nullptr);
    struct tm tm;
    gmtime_r(&now, &tm);
    return now - mktime(&tm);
}

QRT_API int QRT_Time2Str(time_t t, char *out) {
    if (!out) return QRT_IO_INVALID_INPUT;
    struct tm tm;
    if (!gmtime_r(&t, &tm) || strftime(out, 49, "%Y-%m-%d %a %p %I:%M:%S", &tm) == 0) out[0] = '\0';
    return 0;
}

QRT_API int QRT_LocalTime2Str(time_t t, char *out) {
    if (!out) return QRT_IO_INVALID_INPUT;
    struct tm tm;
    if (!localtime_r(&t, &tm) || strftime(out, 49, "%Y-%m-%d %a %p %I:%M:%S", &tm) == 0) out[0] = '\0';
    return 0;
}

QRT_API int QRT_Get14ByteTimeStr(time_t t, char *out) {
    if (!out) return QRT_IO_INVALID_INPUT;
    struct tm tm;
    if (!localtime_r(&t, &tm)) {
        out[0] = '\0';
        return QRT_IO_ERROR;
    }
    char text[64];
    std::snprintf(text, sizeof text, "%-4.4d%-2.2d%-2.2d%-2.2d%-2.2d%-2.2d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    std::memcpy(out, text, 14);  // the caller's buffer holds 15 bytes whatever the year
    out[14] = '\0';
    return 0;
}

QRT_API char *QRT_GetTimeStr(time_t t, int english) {
    struct tm tm;
    if (!gmtime_r(&t, &tm)) return nullptr;
    return names_text(tm, english, false);
}

QRT_API char *QRT_GetTimeRFCType(time_t t, int english) {
    struct tm tm;
    if (!localtime_r(&t, &tm)) return nullptr;
    return names_text(tm, english, true);
}

QRT_API time_t QRT_Str2Time(const char *text) {
    if (!text) return static_cast<time_t>(-1);
    const char *p = text;
    struct tm tm;
    std::memset(&tm, 0, sizeof tm);
    tm.tm_year = field(p, 4) - 1900;
    tm.tm_mon = field(p, 2) - 1;
    tm.tm_mday = field(p, 2);
    tm.tm_hour = field(p, 2);
    tm.tm_min = field(p, 2);
    tm.tm_sec = field(p, 2);
    tm.tm_isdst = 0;
    return mktime(&tm);
}

}  // extern "C"
