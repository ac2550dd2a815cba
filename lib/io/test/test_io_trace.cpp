// The error trace: record format, bucket cap, emptying, and concurrent writers.
#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "ostrel/test_support.hpp"
#include "suite_io.h"

using ostrel::test::trace_records;

TEST(IoTrace, NothingIsRecordedBeforeInitialize) {
    QRT_Trace_PutError("f", 1, "r", "x.c", 1);
    char *text = reinterpret_cast<char *>(0x1);
    QRT_Trace_GetError(&text);
    EXPECT_EQ(text, reinterpret_cast<char *>(0x1));
}

TEST(IoTrace, RecordTextWithAndWithoutFields) {
    QRT_Trace_Initialize();
    QRT_Trace_PutError("QRT_Demo", -8001, "invalid input", "a/b/c.cpp", 42);
    QRT_Trace_PutError(nullptr, 7, nullptr, nullptr, 9);
    QRT_Trace_PutError("g", 1, "r", "plain.c", 3);
    auto recs = trace_records();
    ASSERT_EQ(recs.size(), 3u);
    std::string ids = std::to_string(getpid()) + ":" + std::to_string((int)(unsigned)pthread_self()) + ":";
    EXPECT_EQ(recs[0], ids + "QRT_Demo:-8001:invalid input:c.cpp:42");
    EXPECT_EQ(recs[1], ids + ":7:::9");
    EXPECT_EQ(recs[2], ids + "g:1:r:plain.c:3");
    EXPECT_TRUE(trace_records().empty()) << "GetError empties the bucket";
    QRT_Trace_Finalize();
}

TEST(IoTrace, BucketKeepsTheFirst32AndClearEmpties) {
    QRT_Trace_Initialize();
    for (int i = 0; i < 40; ++i) QRT_Trace_PutError("f", i, "r", "m.c", i);
    auto recs = trace_records();
    ASSERT_EQ(recs.size(), 32u);
    EXPECT_EQ(ostrel::test::trace_field(recs[0], 3), "0");
    EXPECT_EQ(ostrel::test::trace_field(recs[31], 3), "31");

    QRT_Trace_PutError("f", 1, "r", "m.c", 1);
    QRT_Trace_ClearError();
    EXPECT_TRUE(trace_records().empty());
    QRT_Trace_Finalize();
    QRT_Trace_PutError("f", 1, "r", "m.c", 1);
    QRT_Trace_Initialize();
    EXPECT_TRUE(trace_records().empty()) << "records put while off are not kept";
    QRT_Trace_Finalize();
}

TEST(IoTrace, WriteErrorGoesToTheDescriptor) {
    QRT_Trace_Initialize();
    QRT_Trace_PutError("f", 5, "why", "m.c", 6);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    QRT_Trace_WriteError(fds[1]);
    close(fds[1]);
    char buf[256] = {};
    ssize_t n = read(fds[0], buf, sizeof buf - 1);
    close(fds[0]);
    ASSERT_GT(n, 0);
    std::string s(buf, (size_t)n);
    EXPECT_EQ(s.substr(s.find(":f:")), ":f:5:why:m.c:6\n");
    QRT_Trace_Finalize();
}

// Threads writing concurrently never interleave within a record: every record that comes
// back is whole and belongs to the thread (or a thread sharing its bucket).
TEST(IoTrace, ConcurrentWritersKeepRecordsWhole) {
    QRT_Trace_Initialize();
    constexpr int kThreads = 8, kRounds = 2000;
    std::vector<std::thread> threads;
    std::vector<int> bad(kThreads, 0), seen(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &bad, &seen] {
            std::string name = "writer" + std::to_string(t) + std::string(50, 'x');
            for (int i = 0; i < kRounds; ++i) {
                QRT_Trace_PutError(name.c_str(), i, "reason text", "dir/file.cpp", t);
                if (i % 10 == 9) {
                    for (const auto &rec : trace_records()) {
                        ++seen[t];
                        std::string fn = ostrel::test::trace_field(rec, 2);
                        if (fn.rfind("writer", 0) != 0 || fn.size() != name.size() ||
                            ostrel::test::trace_field(rec, 4) != "reason text" ||
                            ostrel::test::trace_field(rec, 5) != "file.cpp")
                            ++bad[t];
                    }
                }
            }
        });
    }
    for (auto &th : threads) th.join();
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(bad[t], 0) << "thread " << t;
        EXPECT_GT(seen[t], 0) << "thread " << t;
    }
    QRT_Trace_Finalize();
}
