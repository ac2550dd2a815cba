// Time strings in UTC and in a zone nine hours east.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "suite_io.h"

namespace {

void set_zone(const char *tz) {
    setenv("TZ", tz, 1);
    tzset();
}

std::string take(char *s) {
    std::string r = s ? s : "";
    QRT_free(s);
    return r;
}

}  // namespace

TEST(IoTime, FixedFormatsInUtc) {
    set_zone("UTC");
    EXPECT_EQ(QRT_GetUTCGap(), 0);
    char buf[49];
    ASSERT_EQ(QRT_Time2Str(0, buf), 0);
    EXPECT_STREQ(buf, "1970-01-01 Thu AM 12:00:00");
    EXPECT_EQ(take(QRT_GetTimeStr(0, 1)), "1970 Jan 01 Thu, 00:00:00");
    EXPECT_EQ(take(QRT_GetTimeRFCType(86400 * 31 + 3661, 1)), "Sun, 01 Feb 1970 01:01:01");
    char t14[15];
    ASSERT_EQ(QRT_Get14ByteTimeStr(1700000000, t14), 0);
    EXPECT_STREQ(t14, "20231114221320");
    EXPECT_EQ(QRT_Str2Time(t14), 1700000000);
    EXPECT_EQ(QRT_Str2Time("2023"), QRT_Str2Time("20230000000000")) << "short text is read within bounds";
}

TEST(IoTime, KoreanNamesAndNineHoursEast) {
    set_zone("KST-9");
    EXPECT_EQ(QRT_GetUTCGap(), 32400);
    char t14[15];
    ASSERT_EQ(QRT_Get14ByteTimeStr(0, t14), 0);
    EXPECT_STREQ(t14, "19700101090000");
    EXPECT_EQ(QRT_Str2Time(t14), 0);
    for (time_t t : {(time_t)1, (time_t)951782400, (time_t)2000000000}) {
        ASSERT_EQ(QRT_Get14ByteTimeStr(t, t14), 0);
        EXPECT_EQ(QRT_Str2Time(t14), t);
    }
    char buf[49];
    QRT_LocalTime2Str(0, buf);
    EXPECT_STREQ(buf, "1970-01-01 Thu AM 09:00:00");
    // Korean (EUC-KR): 목 = B8 F1 (Thursday), 1월 = "1" BF F9 (January).
    EXPECT_EQ(take(QRT_GetTimeRFCType(0, 0)), "\xB8\xF1, 01 1\xBF\xF9 1970 09:00:00");
    EXPECT_EQ(take(QRT_GetTimeStr(0, 0)), "1970 1\xBF\xF9 01 \xB8\xF1, 00:00:00");
    EXPECT_EQ(std::strlen(HAN_MONTH_ABB[11]), 4u);
    set_zone("UTC");
}
