// Calendar times of the schema and time_t seconds (UTC).
#include <cstdio>
#include <cstring>
#include <ctime>

#include "asn_internal.h"

namespace {

void fill(GeneralizedTime *out, time_t t) {
    struct tm tm {};
    gmtime_r(&t, &tm);
    std::memset(out, 0, sizeof *out);
    out->year = static_cast<short>(tm.tm_year + 1900);
    out->month = static_cast<short>(tm.tm_mon + 1);
    out->day = static_cast<short>(tm.tm_mday);
    out->hour = static_cast<short>(tm.tm_hour);
    out->minute = static_cast<short>(tm.tm_min);
    out->second = static_cast<short>(tm.tm_sec);
    out->utc = 1;
}

// The fields read as a UTC time. timegm gives the exact answer in every time zone, where local
// mktime plus today's offset would be off for dates whose zone offset differed from today's.
time_t from_fields(int year, const GeneralizedTime *g) {
    struct tm tm {};
    tm.tm_year = year - 1900;
    tm.tm_mon = g->month - 1;
    tm.tm_mday = g->day;
    tm.tm_hour = g->hour;
    tm.tm_min = g->minute;
    tm.tm_sec = g->second;
    tm.tm_isdst = 0;
    return timegm(&tm);
}

}  // namespace

extern "C" {

QRT_API void QRT_ASN_Time2General(GeneralizedTime *out, time_t t) {
    if (out) fill(out, t);
}
QRT_API void QRT_Time2General(time_t t, GeneralizedTime *out) { QRT_ASN_Time2General(out, t); }

QRT_API void QRT_ASN_Time2UTC(UTCTime *out, time_t t) {
    if (!out) return;
    fill(out, t);
    int y = out->year - 1900;
    if (y > 99) y -= 100;
    out->year = static_cast<short>(y);
}
QRT_API void QRT_Time2UTC(time_t t, UTCTime *out) { QRT_ASN_Time2UTC(out, t); }

QRT_API time_t QRT_ASN_GetUTCGap(void) {
    time_t now = time(nullptr);
    struct tm tm {};
    gmtime_r(&now, &tm);
    tm.tm_isdst = 0;
    return now - mktime(&tm);
}

QRT_API time_t QRT_ASN_General2Time(const GeneralizedTime *g) {
    if (!g) return 0;
    return from_fields(g->year, g);
}
QRT_API time_t QRT_General2Time(const GeneralizedTime *g) { return QRT_ASN_General2Time(g); }

QRT_API time_t QRT_ASN_UTC2Time(const UTCTime *u) {
    if (!u) return 0;
    return from_fields(u->year < 71 ? 2000 + u->year : 1900 + u->year, u);
}
QRT_API time_t QRT_UTC2Time(const UTCTime *u) { return QRT_ASN_UTC2Time(u); }

QRT_API int QRT_UTC2String(const UTCTime *from, const UTCTime *to, char **fromText, char **toText) {
    if (!from || !to || !fromText || !toText) return QRT_ASN_INVALID_INPUT;
    *fromText = static_cast<char *>(QRT_calloc(1, 50));
    *toText = static_cast<char *>(QRT_calloc(1, 50));
    if (!*fromText || !*toText) {
        QRT_free(*fromText);
        QRT_free(*toText);
        *fromText = *toText = nullptr;
        return OSTREL_FAIL(QRT_ASN_MALLOC_FAILED);
    }
    const UTCTime *src[2] = {from, to};
    char *dst[2] = {*fromText, *toText};
    for (int i = 0; i < 2; ++i) {
        time_t t = QRT_ASN_UTC2Time(src[i]);
        struct tm tm {};
        localtime_r(&t, &tm);
        std::strftime(dst[i], 50, "%Y-%m-%d %H:%M:%S", &tm);
    }
    return 0;
}

}  // extern "C"
