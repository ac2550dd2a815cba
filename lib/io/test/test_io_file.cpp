// Files, whole-file locks between processes, and number files under contention.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <set>
#include <thread>

#include "ostrel/test_support.hpp"
#include "suite_io.h"

using ostrel::test::TempDir;
using ostrel::test::trace_field;
using ostrel::test::trace_records;

namespace {

// Runs `fn` in a child process and returns its int result. When the tests run as root, the child
// drops to the unprivileged user 65534 first, so permission checks behave as for any user.
int in_child(const std::function<int()> &fn, bool unprivileged) {
    int p[2];
    if (pipe(p) != 0) return -999;
    pid_t pid = fork();
    if (pid == 0) {
        close(p[0]);
        if (unprivileged && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
        QRT_Trace_Initialize();
        int r = fn();
        if (write(p[1], &r, sizeof r) != sizeof r) _exit(2);
        _exit(0);
    }
    close(p[1]);
    int r = -998;
    if (read(p[0], &r, sizeof r) != sizeof r) r = -997;
    close(p[0]);
    int st = 0;
    waitpid(pid, &st, 0);
    return r;
}

}  // namespace

TEST(IoFile, ReadWholeFileMissingUnreadableEmpty) {
    TempDir dir;
    QRT_Trace_Initialize();
    BIN bin{0, nullptr};
    EXPECT_EQ(QRT_File_ReadBin(&bin, (dir / "missing").c_str()), 8032);
    auto recs = trace_records();
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(trace_field(recs[0], 2), "access");
    EXPECT_EQ(trace_field(recs[0], 3), std::to_string(ENOENT));
    EXPECT_EQ(trace_field(recs[1], 2), "QRT_File_ReadBin");
    EXPECT_EQ(trace_field(recs[1], 3), "8032");
    EXPECT_EQ(trace_field(recs[1], 4), "file not found");

    std::string empty = dir / "empty";
    ostrel::test::write_file(empty, "");
    EXPECT_EQ(QRT_File_ReadBin(&bin, empty.c_str()), 8030);
    EXPECT_EQ(bin.length, 0u);
    QRT_BIN_Reset(&bin);

    std::string data = dir / "data";
    std::string content(100000, 'q');
    content[5] = '\0';
    ostrel::test::write_file(data, content);
    ASSERT_EQ(QRT_ReadBin(data.c_str(), &bin), 0);
    EXPECT_EQ(std::string((char *)bin.value, bin.length), content);
    EXPECT_EQ(bin.value[bin.length], 0);
    QRT_BIN_Reset(&bin);

    std::string secret = dir / "secret";
    ostrel::test::write_file(secret, "x");
    ASSERT_EQ(chmod(secret.c_str(), 0), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    EXPECT_EQ(in_child(
                  [&] {
                      BIN b{0, nullptr};
                      int rc = QRT_File_ReadBin(&b, secret.c_str());
                      QRT_BIN_Reset(&b);
                      return rc;
                  },
                  true),
              8031);
}

TEST(IoFile, WriteWholeFileAndPermissions) {
    TempDir dir;
    QRT_Trace_Initialize();
    unsigned char bytes[] = {1, 2, 3, 0, 5};
    BIN b{5, bytes};
    std::string path = dir / "out";
    ASSERT_EQ(QRT_File_WriteBin(path.c_str(), &b), 0);
    EXPECT_EQ(ostrel::test::read_file(path), std::string("\1\2\3\0\5", 5));
    BIN empty{0, nullptr};
    ASSERT_EQ(QRT_WriteBin(path.c_str(), &empty), 0);
    EXPECT_EQ(ostrel::test::read_file(path), "");

    ASSERT_EQ(chmod(dir.path().c_str(), 0555), 0);
    std::string denied = dir / "denied";
    EXPECT_EQ(in_child([&] { return QRT_File_WriteBin(denied.c_str(), &b); }, true), 8031);
    chmod(dir.path().c_str(), 0700);
}

TEST(IoFile, ShortReadIsAFailure) {
    TempDir dir;
    std::string path = dir / "short";
    ostrel::test::write_file(path, "abc");
    int fd = QRT_File_Open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    char buf[8];
    EXPECT_EQ(QRT_File_Read(fd, buf, 8), -1);
    EXPECT_EQ(QRT_File_Read(fd, buf, 1), 8030);
    QRT_File_Close(fd);
    EXPECT_EQ(QRT_OpenFile((dir / "none").c_str()), -1);
}

TEST(IoFile, LocksSerialiseProcesses) {
    TempDir dir;
    std::string path = dir / "lock";
    ostrel::test::write_file(path, "data");
    int fd = QRT_OpenFile(path.c_str());
    ASSERT_GE(fd, 0);
    ASSERT_EQ(QRT_File_SetWriteLock(fd), 0);

    int p[2];
    ASSERT_EQ(pipe(p), 0);
    pid_t pid = fork();
    if (pid == 0) {
        int cfd = QRT_OpenFile(path.c_str());
        int nb = QRT_File_SetWriteLockNB(cfd);
        int rnb = QRT_SetFileReadLockNoBlock(cfd);
        auto t0 = std::chrono::steady_clock::now();
        int blocking = QRT_File_SetWriteLock(cfd);
        long waited = (long)std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
        int res[4] = {nb, rnb, blocking, (int)waited};
        if (write(p[1], res, sizeof res) != sizeof res) _exit(2);
        _exit(0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_EQ(QRT_File_ClearLock(fd), 0);
    int res[4] = {};
    ASSERT_EQ(read(p[0], res, sizeof res), (ssize_t)sizeof res);
    waitpid(pid, nullptr, 0);
    close(p[0]);
    close(p[1]);
    QRT_File_Close(fd);
    EXPECT_EQ(res[0], -1) << "non-blocking write lock fails at once while another process holds the lock";
    EXPECT_EQ(res[1], -1);
    EXPECT_EQ(res[2], 0) << "blocking lock is granted after the holder clears it";
    EXPECT_GE(res[3], 150);
}

TEST(IoNumberFile, TwoProcessesTakeDistinctNumbers) {
    TempDir dir;
    std::string path = dir / "serial";
    ostrel::test::write_file(path, "");
    constexpr int kEach = 500;
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    pid_t kids[2];
    for (pid_t &kid : kids) {
        kid = fork();
        if (kid == 0) {
            close(p[0]);
            for (int i = 0; i < kEach; ++i) {
                BIN out{0, nullptr};
                unsigned int v = 0xFFFFFFFF;
                if (QRT_GetNewBinNum(path.c_str(), 4, &out) == 0 && out.length == 4) std::memcpy(&v, out.value, 4);
                QRT_BIN_Reset(&out);
                if (write(p[1], &v, sizeof v) != sizeof v) _exit(2);
            }
            _exit(0);
        }
    }
    close(p[1]);
    std::set<unsigned int> seen;
    unsigned int v;
    int count = 0;
    while (read(p[0], &v, sizeof v) == sizeof v) {
        ++count;
        seen.insert(v);
    }
    close(p[0]);
    for (pid_t kid : kids) waitpid(kid, nullptr, 0);
    EXPECT_EQ(count, 2 * kEach);
    EXPECT_EQ(seen.size(), (size_t)2 * kEach) << "every number is handed out once";
    EXPECT_EQ(*seen.begin(), 0u);
    EXPECT_EQ(*seen.rbegin(), 2u * kEach - 1);
    std::string left = ostrel::test::read_file(path);
    ASSERT_EQ(left.size(), 4u);
    unsigned int final_value;
    std::memcpy(&final_value, left.data(), 4);
    EXPECT_EQ(final_value, 2u * kEach);
}

TEST(IoNumberFile, LimitsAndSet) {
    TempDir dir;
    std::string path = dir / "serial";
    ostrel::test::write_file(path, "");
    BIN out{0, nullptr};
    EXPECT_EQ(QRT_GetNewBinNum(path.c_str(), 40, &out), 8160);
    EXPECT_EQ(QRT_GetNewBinNum((dir / "none").c_str(), 4, &out), 8170);
    ASSERT_EQ(QRT_GetNewBinNum(path.c_str(), 8, &out), 0);
    EXPECT_EQ(ostrel::test::to_hex(out.value, out.length), "0000000000000000");
    QRT_BIN_Reset(&out);
    unsigned int w[2];
    std::string left = ostrel::test::read_file(path);
    ASSERT_EQ(left.size(), 8u);
    std::memcpy(w, left.data(), 8);
    EXPECT_EQ(w[0], 0u);
    EXPECT_EQ(w[1], 1u);

    unsigned int set[2] = {7, 0xFFFFFFFF};
    ASSERT_EQ(QRT_SetBinNumber(path.c_str(), set, 2), 0);
    ASSERT_EQ(QRT_GetNewBinNum(path.c_str(), 8, &out), 0);
    std::memcpy(w, out.value, 8);
    EXPECT_EQ(w[0], 7u);
    EXPECT_EQ(w[1], 0xFFFFFFFFu);
    QRT_BIN_Reset(&out);
    left = ostrel::test::read_file(path);
    std::memcpy(w, left.data(), 8);
    EXPECT_EQ(w[0], 8u) << "the carry moves into the more significant word";
    EXPECT_EQ(w[1], 0u);
    EXPECT_EQ(QRT_SetBinNumber((dir / "none").c_str(), set, 2), 8240);
}
