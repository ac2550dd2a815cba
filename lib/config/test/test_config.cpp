// The configuration file: the format's rules as a table of files and the lists they give,
// the limits, duplicate keys, the list functions, the error texts and closed files.
#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "ostrel/test_support.hpp"
#include "suite_config.h"

using ostrel::test::TempDir;
using ostrel::test::trace_field;
using ostrel::test::trace_records;
using ostrel::test::write_file;

namespace {

using Entries = std::vector<std::pair<std::string, std::vector<std::string>>>;

// Every key of the list in order, with all its values.
Entries entries_of(ZQ_ENV_LIST *list) {
    Entries out;
    for (ZQ_ENV_LIST *e = list; e; e = e->next) {
        if (!e->key) continue;
        std::vector<std::string> values;
        for (ZQ_VALUE_LIST *v = QRT_FirstValueElement(e); v; v = QRT_NextValueElement(v))
            values.push_back(QRT_GetEnvValue(v));
        out.emplace_back(e->key, values);
    }
    return out;
}

int open_descriptors() {
    int n = 0;
    DIR *d = opendir("/proc/self/fd");
    while (readdir(d)) ++n;
    closedir(d);
    return n;
}

struct Read {
    int code;
    ZQ_ENV_LIST *list;
};

Read read_text(const TempDir &dir, const std::string &text) {
    std::string path = dir / "settings.conf";
    write_file(path, text);
    Read r{0, nullptr};
    r.code = QRT_ReadConfigFile(path.c_str(), &r.list);
    return r;
}

}  // namespace

TEST(Config, FormatRules) {
    std::string k128(128, 'k'), v128(128, 'v');
    // 1 + 10 * 101 + 13 = 1024 characters, no token longer than 128.
    std::string tokens;
    for (int i = 0; i < 10; ++i) tokens += " " + std::string(100, 'x');
    std::string line1024 = "L" + tokens + " " + std::string(12, 'y');
    std::vector<std::string> values(10, std::string(100, 'x'));
    values.push_back(std::string(12, 'y'));
    struct Case {
        const char *what;
        std::string text;
        int code;
        Entries want;
    } cases[] = {
        {"words, a quoted pair, a comment",
         "Server host1 \"two words\" # the main host\n",
         0,
         {{"Server", {"host1", "two words"}}}},
        {"a key on two lines", "Server a\nOther b\nServer c\n", QRT_CONFIG_DUPLICATE_KEY, {}},
        {"a continued line",
         "Ports 80 \\\n   443\t8080\nNext x\n",
         0,
         {{"Ports", {"80", "443", "8080"}}, {"Next", {"x"}}}},
        {"only comments", "# one\n\n   # two\n\t\n#", 0, {}},
        {"a key without values, last line without a line feed", "Empty\nLast v", 0, {{"Empty", {}}, {"Last", {"v"}}}},
        {"backslashes inside quotes are dropped",
         "Path \"C:\\dir\\x y\" \"q\\\"r\"\n",
         0,
         {{"Path", {"C:dirx y", "q", "r\""}}}},
        {"a backslash elsewhere stays with the next character",
         "K a\\ b c\\#d e\\\\f\n",
         0,
         {{"K", {"a\\ b", "c\\#d", "e\\\\f"}}}},
        {"a comment ends the line, the next line is a new key", "A 1 #x y\nB 2\n", 0, {{"A", {"1"}}, {"B", {"2"}}}},
        {"CRLF lines and a continued CRLF line",
         "A 1\r\nB \"x y\" \\\r\n  z\r\n",
         0,
         {{"A", {"1"}}, {"B", {"x y", "z"}}}},
        {"empty, glued and unterminated quotes", "Q \"\" \"x\"y \"open end\n", 0, {{"Q", {"", "x", "y", "open end"}}}},
        {"a quoted key, case-sensitive keys",
         "\"my key\" 1\nkey 2\nKEY 3\n",
         0,
         {{"my key", {"1"}}, {"key", {"2"}}, {"KEY", {"3"}}}},
        {"a backslash at the end of the file", "A x\\", 0, {{"A", {"x\\"}}}},
        {"tokens of 128 characters", k128 + " " + v128 + "\n", 0, {{k128, {v128}}}},
        {"a value of 129 characters", "K " + v128 + "v\n", QRT_CONFIG_TOO_LONG, {}},
        {"a quoted key of 129 characters", "\"" + k128 + "k\" v\n", QRT_CONFIG_TOO_LONG, {}},
        {"a line of 1024 characters", line1024 + "\n", 0, {{"L", values}}},
        {"a line of 1025 characters", line1024 + "y\n", QRT_CONFIG_TOO_LONG, {}},
        {"continuation past 1024 characters",
         "L " + std::string(100, 'a') + " \\\n" + std::string(1000, 'b') + "\n",
         QRT_CONFIG_TOO_LONG,
         {}},
    };
    TempDir dir;
    QRT_Trace_Initialize();
    for (const Case &c : cases) {
        Read r = read_text(dir, c.text);
        EXPECT_EQ(r.code, c.code) << c.what;
        if (c.code == 0) {
            ASSERT_NE(r.list, nullptr) << c.what;
            EXPECT_EQ(entries_of(r.list), c.want) << c.what;
        } else {
            EXPECT_EQ(r.list, nullptr) << c.what << ": nothing is kept on failure";
        }
        QRT_FreeEnvList(r.list);
        QRT_Trace_ClearError();
    }
    QRT_Trace_Finalize();
}

TEST(Config, FailuresLeaveTheirTraceAndCloseTheFile) {
    TempDir dir;
    QRT_Trace_Initialize();
    int before = open_descriptors();

    ZQ_ENV_LIST *list = reinterpret_cast<ZQ_ENV_LIST *>(0x1);
    EXPECT_EQ(QRT_ReadConfigFile((dir / "missing.conf").c_str(), &list), QRT_CONFIG_READ_FILE);
    EXPECT_EQ(list, nullptr);
    auto recs = trace_records();
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(trace_field(recs[0], 2), "fopen");
    EXPECT_EQ(trace_field(recs[1], 2), "QRT_ReadConfigFile");
    EXPECT_EQ(trace_field(recs[1], 4), "Cann't Read Config File");

    Read r = read_text(dir, "A 1\nA 2\n");
    EXPECT_EQ(r.code, QRT_CONFIG_DUPLICATE_KEY);
    recs = trace_records();
    ASSERT_EQ(recs.size(), 3u);
    EXPECT_EQ(trace_field(recs[0], 2), "QRT_AddKeyIntoEnvList");
    EXPECT_EQ(trace_field(recs[0], 4), "More Than 2 Key Word Are Same");
    EXPECT_EQ(trace_field(recs[1], 2), "QRT_ParseLine");
    EXPECT_EQ(trace_field(recs[2], 2), "QRT_ReadConfigFile");
    EXPECT_EQ(trace_field(recs[2], 3), "5040");

    r = read_text(dir, "A " + std::string(2000, 'z') + "\n");
    EXPECT_EQ(r.code, QRT_CONFIG_TOO_LONG);
    recs = trace_records();
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(trace_field(recs[0], 2), "QRT_GetOneLine");
    EXPECT_EQ(trace_field(recs[0], 4), "Config Maximum List Length Excceded");

    r = read_text(dir, "A 1\n");
    ASSERT_EQ(r.code, 0);
    QRT_FreeEnvList(r.list);
    EXPECT_EQ(open_descriptors(), before) << "the file is closed on every path";
    EXPECT_EQ(QRT_ReadConfigFile(nullptr, &list), QRT_CONFIG_READ_FILE);
    EXPECT_EQ(QRT_ReadConfigFile("x", nullptr), QRT_CONFIG_NULL_KEY_LIST);
    QRT_Trace_Finalize();
}

TEST(Config, TenThousandKeysAreReadAndFound) {
    TempDir dir;
    std::string text;
    for (int i = 0; i < 10000; ++i)
        text += "key" + std::to_string(i) + " v" + std::to_string(i) + " \"w " + std::to_string(i) + "\"\n";
    Read r = read_text(dir, text);
    ASSERT_EQ(r.code, 0);
    int n = 0;
    for (ZQ_ENV_LIST *e = r.list; e; e = e->next) ASSERT_EQ(std::string(e->key), "key" + std::to_string(n++));
    EXPECT_EQ(n, 10000);
    for (int i = 0; i < 10000; i += 37) {
        std::string key = "key" + std::to_string(i);
        ASSERT_STREQ(QRT_GetConfValue(r.list, key.c_str()), ("v" + std::to_string(i)).c_str());
        ZQ_VALUE_LIST *second =
            QRT_NextValueElement(QRT_FirstValueElement(QRT_SearchKeyFromEnvList(r.list, key.c_str())));
        ASSERT_STREQ(QRT_GetEnvValue(second), ("w " + std::to_string(i)).c_str());
    }
    EXPECT_EQ(QRT_GetConfValue(r.list, "key10000"), nullptr);
    EXPECT_EQ(QRT_GetConfValue(r.list, "KEY1"), nullptr);
    QRT_FreeEnvList(r.list);
}

TEST(Config, LinesFromAnOffset) {
    FILE *f = tmpfile();
    ASSERT_NE(f, nullptr);
    fputs("  # heading\n\nA 1 # tail\n\n  B 2\\\n 3\n# end\n", f);
    char *line = nullptr;
    ASSERT_EQ(QRT_GetOneLine(f, 0, &line), 0);
    EXPECT_STREQ(line, "A 1 ");
    QRT_free(line);
    long next = ftell(f);
    EXPECT_EQ(fgetc(f), '#') << "the comment is left for the next call";
    ASSERT_EQ(QRT_GetOneLine(f, next, &line), 0);
    EXPECT_STREQ(line, "B 2  3");
    QRT_free(line);
    line = reinterpret_cast<char *>(0x1);
    EXPECT_EQ(QRT_GetOneLine(f, ftell(f), &line), QRT_CONFIG_NO_VALUE);
    EXPECT_EQ(line, nullptr);
    ASSERT_EQ(QRT_GetOneLine(f, 0, &line), 0) << "seeking back reads the first line again";
    EXPECT_STREQ(line, "A 1 ");
    QRT_free(line);
    fclose(f);
}

TEST(Config, ListFunctionsAndPrinting) {
    ZQ_ENV_LIST *list = nullptr;
    ASSERT_EQ(QRT_InitEnvListElement(&list), 0);
    EXPECT_EQ(QRT_ParseLine(nullptr, "a b"), QRT_CONFIG_LIST_NOT_INITIALIZED);
    EXPECT_EQ(QRT_AddKeyIntoEnvList(nullptr, "k"), QRT_CONFIG_NULL_KEY_LIST);
    EXPECT_EQ(QRT_AddKeyIntoEnvList(list, nullptr), QRT_CONFIG_KEY_MEMORY);
    EXPECT_EQ(QRT_AddValueIntoValueList(nullptr, "v"), QRT_CONFIG_NULL_VALUE_LIST);

    ASSERT_EQ(QRT_ParseLine(list, "Server host1 \"two words\""), 0);
    ASSERT_EQ(QRT_AddKeyIntoEnvList(list, "Bare"), 0);
    EXPECT_EQ(QRT_AddKeyIntoEnvList(list, "Server"), QRT_CONFIG_DUPLICATE_KEY);
    ZQ_ENV_LIST *server = QRT_SearchKeyFromEnvList(list, "Server");
    ASSERT_NE(server, nullptr);
    ASSERT_EQ(QRT_AddValueIntoValueList(server->value, "third"), 0);
    ZQ_ENV_LIST *bare = QRT_SearchKeyFromEnvList(list, "Bare");
    EXPECT_EQ(QRT_FirstValueElement(bare), nullptr);
    EXPECT_EQ(QRT_GetConfValue(list, "Bare"), nullptr);
    ASSERT_EQ(QRT_AddValueIntoValueList(bare->value, "filled"), 0) << "fills the empty first node";
    EXPECT_EQ(bare->value->next, nullptr);
    ASSERT_EQ(QRT_ParseLine(list, "Late"), 0);

    testing::internal::CaptureStdout();
    EXPECT_EQ(QRT_PrintEnvList(list), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "[Server] : host1\ntwo words\nthird\n[Bare] : filled\n[Late] : \n");
    QRT_FreeEnvList(list);
    QRT_FreeEnvList(nullptr);
}

TEST(Config, FrameAndErrorTexts) {
    EXPECT_STREQ(QRT_GetVersionConfig(), "1.6.0.1");
    EXPECT_STREQ(QRT_CONFIG_GetVersion(), "1.6.0.1");
    EXPECT_EQ(QRT_CONFIG_CheckVersion("1.6.0.1"), 0);
    EXPECT_EQ(QRT_CONFIG_CheckVersion(nullptr), 0);
    EXPECT_EQ(QRT_CONFIG_CheckVersion("1.6.0.2"), -1);
    EXPECT_STREQ(QRT_GetErrReasonConfig(5040, 1), "More Than 2 Key Word Are Same");
    EXPECT_STREQ(QRT_GetErrReasonConfig(5140, 1), "Cann't Read Config File");
    EXPECT_STREQ(QRT_GetErrReasonConfig(5080, 1), "Cann't Assing New Memory To New Line Buffer");
    EXPECT_STREQ(QRT_GetErrReasonConfig(5040, 0), "UnDefined Error Reason");
    EXPECT_STREQ(QRT_GetErrReasonConfig(5041, 1), "UnDefined Error Reason");
    EXPECT_STREQ(QRT_CONFIG_GetErrorReason(8001, 1), "UnDefined Error Reason");
}
