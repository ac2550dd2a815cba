// The log: thresholds, line and dump formats, daily file names under a fixed clock, the
// directory kept across calls, cut messages, and whole lines from concurrent threads.
#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "ostrel/test_support.hpp"
#include "suite_io.h"
#include "suite_log.h"

using ostrel::test::read_file;
using ostrel::test::TempDir;

namespace {

time_t g_now;
time_t fixed_clock() { return g_now; }

// Local time of the given date and time, fed to the log through its clock.
void set_clock(int y, int mo, int d, int h, int mi, int s) {
    struct tm tm {};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    tm.tm_isdst = -1;
    g_now = mktime(&tm);
    QRT_LOG_SetClock(fixed_clock);
}

std::string ids() {
    return "P(" + std::to_string(getpid()) + ") T(" + std::to_string((int)(unsigned)pthread_self()) + ")";
}

void to_stdout(const char *level) {
    unsetenv("ZQ_LOG_FILE_BASE");
    if (level)
        setenv("ZQ_LOG_LEVEL", level, 1);
    else
        unsetenv("ZQ_LOG_LEVEL");
}

void to_files(const std::string &dir) {
    setenv("ZQ_LOG_LEVEL", "9", 1);
    setenv("ZQ_LOG_FILE_BASE", "1", 1);
    setenv("ZQ_LOG_DIR", dir.c_str(), 1);
}

std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
        out.push_back(text.substr(start, nl - start));
    EXPECT_EQ(start, text.size()) << "text ends with a whole line";
    return out;
}

}  // namespace

TEST(Log, LevelsBelowTheThresholdAreWrittenInTheLineFormat) {
    set_clock(2024, 3, 5, 7, 8, 9);
    struct Case {
        const char *threshold;
        int level;
        bool written;
    } cases[] = {
        {nullptr, 0, false}, {nullptr, 5, false}, {"0", 0, false}, {"3", 0, true},
        {"3", 2, true},      {"3", 3, false},     {"3", 4, false}, {"junk", 0, false},
    };
    for (const Case &c : cases) {
        to_stdout(c.threshold);
        testing::internal::CaptureStdout();
        EXPECT_EQ(QRT_LOG_Msg("src/a.c", 42, c.level, "value %d of %s, 100%%", 7, "x"), 0);
        std::string out = testing::internal::GetCapturedStdout();
        std::string want = c.written ? "07:08:09 " + ids() + " [src/a.c,line:42] value 7 of x, 100%\n" : "";
        EXPECT_EQ(out, want) << "threshold " << (c.threshold ? c.threshold : "unset") << ", level " << c.level;
    }
    EXPECT_EQ(QRT_LOG_Msg("a.c", 1, 0, nullptr), QRT_LOG_INVALID_INPUT);
    EXPECT_EQ(QRT_LOG_Bin("a.c", 1, 0, nullptr, 4), QRT_LOG_INVALID_INPUT);
    EXPECT_EQ(QRT_LOG_BinST("a.c", 1, 0, nullptr), QRT_LOG_INVALID_INPUT);
    QRT_LOG_SetClock(nullptr);
}

TEST(Log, DailyFileNamesAndTheKeptDirectory) {
    TempDir dir;
    to_files(dir.path());
    set_clock(2024, 3, 5, 23, 59, 58);
    ASSERT_EQ(QRT_LOG_Msg("m.c", 1, 0, "first"), 0);
    EXPECT_EQ(read_file(dir / "20240305.log"), "23:59:58 " + ids() + " [m.c,line:1] first\n");

    // The next day goes to the next file; the directory stays after the variable is removed
    // (also when it was last seen by a call that wrote nothing), and an existing file is
    // appended to.
    TempDir other;
    setenv("ZQ_LOG_DIR", other.path().c_str(), 1);
    setenv("ZQ_LOG_LEVEL", "0", 1);
    ASSERT_EQ(QRT_LOG_Msg("m.c", 1, 0, "filtered"), 0);
    setenv("ZQ_LOG_LEVEL", "9", 1);
    set_clock(2024, 3, 6, 0, 0, 1);
    unsetenv("ZQ_LOG_DIR");
    ASSERT_EQ(QRT_LOG_Msg("m.c", 2, 0, "second"), 0);
    ASSERT_EQ(QRT_LOG_Msg("m.c", 3, 0, "third"), 0);
    auto lines = lines_of(read_file(other / "20240306.log"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "00:00:01 " + ids() + " [m.c,line:3] third");

    // A directory that does not exist: the message fails with 9020, the dump is skipped.
    setenv("ZQ_LOG_DIR", (dir / "missing").c_str(), 1);
    EXPECT_EQ(QRT_LOG_Msg("m.c", 4, 0, "lost"), QRT_LOG_OPEN_FAILED);
    EXPECT_EQ(QRT_LOG_Bin("m.c", 5, 0, reinterpret_cast<const unsigned char *>("ab"), 2), 0);
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
    EXPECT_FALSE(std::filesystem::exists(dir / "20240306.log"));

    // A directory name that does not fit is refused rather than cut to another directory's name.
    std::string shorter = dir / std::string(200, 'd');
    std::filesystem::create_directories(shorter + "/" + std::string(100, 'e'));
    setenv("ZQ_LOG_DIR", (shorter + "/" + std::string(100, 'e')).c_str(), 1);
    EXPECT_EQ(QRT_LOG_Msg("m.c", 6, 0, "too long"), QRT_LOG_OPEN_FAILED);
    setenv("ZQ_LOG_DIR", shorter.c_str(), 1);
    EXPECT_EQ(QRT_LOG_Msg("m.c", 7, 0, "fits"), 0);
    EXPECT_TRUE(std::filesystem::exists(shorter + "/20240306.log"));
    QRT_LOG_SetClock(nullptr);
}

TEST(Log, WithoutADirectoryTheFileIsInTheCurrentDirectory) {
    // A fresh process, so that no directory was ever kept.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TempDir dir;
    EXPECT_EXIT(
        {
            unsetenv("ZQ_LOG_DIR");
            setenv("ZQ_LOG_LEVEL", "1", 1);
            setenv("ZQ_LOG_FILE_BASE", "1", 1);
            set_clock(1999, 12, 31, 12, 0, 0);
            if (chdir(dir.path().c_str()) != 0) _exit(2);
            if (QRT_LOG_Msg("c.c", 1, 0, "here") != 0) _exit(3);
            _exit(read_file("19991231.log").find("] here\n") != std::string::npos ? 0 : 4);
        },
        testing::ExitedWithCode(0), "");
}

TEST(Log, AMessageLongerThanTheBufferIsCut) {
    TempDir dir;
    to_files(dir.path());
    set_clock(2024, 3, 5, 1, 2, 3);
    std::string huge(20000, 'x');
    ASSERT_EQ(QRT_LOG_Msg("m.c", 1, 0, "%s", huge.c_str()), 0);
    ASSERT_EQ(QRT_LOG_Msg("m.c", 2, 0, "after"), 0);
    auto lines = lines_of(read_file(dir / "20240305.log"));
    ASSERT_EQ(lines.size(), 2u);
    std::string head = "01:02:03 " + ids() + " [m.c,line:1] ";
    EXPECT_EQ(lines[0], head + std::string(QRT_LOG_MSG_BUFFER - 1, 'x'));
    EXPECT_EQ(lines[1].substr(lines[1].size() - 5), "after");
    QRT_LOG_SetClock(nullptr);
}

TEST(Log, HexDumps) {
    set_clock(2024, 3, 5, 10, 11, 12);
    to_stdout("1");
    const unsigned char twenty[20] = {'0', '1', '2', '3', '4', '5', '6',  '7',  '8', '9',
                                      'A', 'B', 'C', 'D', 'E', 'F', 0x00, 0x7f, 'z', 0x1f};
    testing::internal::CaptureStdout();
    ASSERT_EQ(QRT_LOG_Bin("d.c", 3, 0, twenty, 20), 0);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "10:11:12 " + ids() +
                       " [d.c,line:3] [length: 20]\n"
                       "=============================[CONTENTS]==================================\n"
                       "0000 - 30:31:32:33:34:35:36:37:38:39:41:42:43:44:45:46:   0123456789ABCDEF\n"
                       "0010 - 00:7f:7a:1f:                                                   ..z.\n");

    // Length 0 or less gives the header alone, and so does an empty BIN.
    BIN empty{0, nullptr};
    testing::internal::CaptureStdout();
    EXPECT_EQ(QRT_LOG_Bin("d.c", 4, 0, twenty, 0), 0);
    EXPECT_EQ(QRT_LOG_Bin("d.c", 5, 0, twenty, -3), 0);
    EXPECT_EQ(QRT_LOG_BinST("d.c", 6, 0, &empty), 0);
    auto lines = lines_of(testing::internal::GetCapturedStdout());
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[2], "10:11:12 " + ids() + " [d.c,line:5] [length: -3]");
    EXPECT_EQ(lines[5], "=============================[CONTENTS]==================================");

    // A dump far larger than any internal buffer, to a file, through a BIN: every row is there.
    TempDir dir;
    to_files(dir.path());
    std::vector<unsigned char> big(40000);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<unsigned char>(i * 7);
    BIN bin{static_cast<unsigned int>(big.size()), big.data()};
    ASSERT_EQ(QRT_LOG_BinST("d.c", 7, 0, &bin), 0);
    lines = lines_of(read_file(dir / "20240305.log"));
    ASSERT_EQ(lines.size(), 2u + 2500u);
    EXPECT_EQ(lines.back().substr(0, 7), "9c30 - ");
    EXPECT_EQ(lines.back().size(), 7u + 48u + 3u + 16u);
    QRT_LOG_SetClock(nullptr);
}

TEST(Log, ConcurrentThreadsWriteWholeLines) {
    TempDir dir;
    to_files(dir.path());
    set_clock(2024, 3, 5, 12, 0, 0);
    std::string pad(300, 'p');
    auto worker = [&](int t) {
        for (int i = 0; i < 1000; ++i) QRT_LOG_Msg("t.c", i, 0, "thread %d line %d %s", t, i, pad.c_str());
    };
    std::thread a(worker, 0), b(worker, 1);
    a.join();
    b.join();
    auto lines = lines_of(read_file(dir / "20240305.log"));
    ASSERT_EQ(lines.size(), 2000u);
    std::regex shape(R"(12:00:00 P\(\d+\) T\(-?\d+\) \[t\.c,line:(\d+)\] thread ([01]) line (\d+) p{300})");
    int next[2] = {0, 0};
    for (const std::string &l : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(l, m, shape)) << l.substr(0, 80);
        int t = std::stoi(m[2]);
        EXPECT_EQ(std::stoi(m[3]), next[t]) << "each thread's lines in order";
        EXPECT_EQ(m[1], m[3]);
        next[t]++;
    }
    EXPECT_EQ(next[0], 1000);
    EXPECT_EQ(next[1], 1000);
    QRT_LOG_SetClock(nullptr);
}
