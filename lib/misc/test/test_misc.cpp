// Console helpers: passwords read through a pipe and under a real pseudo-terminal (tmux), and
// the restart rules of signal handlers around a blocking read.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/time.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "ostrel/test_support.hpp"
#include "suite_misc.h"

using ostrel::test::have_command;
using ostrel::test::read_file;
using ostrel::test::run;
using ostrel::test::TempDir;
using ostrel::test::to_hex;

namespace {

const std::string kProbe = OSTREL_BINARY_DIR "/tests/misc_passwd_probe";

std::string hex(const std::string &s) { return to_hex(s.data(), s.size()); }

std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
        out.push_back(text.substr(start, nl - start));
    return out;
}

// Polls `ready` every 20 ms for up to 10 s.
template <class F>
bool wait_for(F ready) {
    for (int i = 0; i < 500; ++i) {
        if (ready()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// A private tmux server running one command in a detached 80x24 pane.
class Tmux {
  public:
    Tmux(const TempDir &dir, const std::string &command)
        : tmux_("env -u TMUX TERM=xterm tmux -S " + dir / "tmux.sock" + " -f /dev/null ") {
        started_ = run(tmux_ + "new-session -d -s probe -x 80 -y 24 '" + command +
                       "' \\; set-option -t probe remain-on-exit on") == 0;
    }
    ~Tmux() { run(tmux_ + "kill-server >/dev/null 2>&1"); }
    bool started() const { return started_; }

    std::string pane_tty() {
        std::string out;
        run(tmux_ + "display-message -p -t probe '#{pane_tty}'", &out);
        while (!out.empty() && out.back() == '\n') out.pop_back();
        return out;
    }
    bool type(const std::string &text) {
        return (text.empty() || run(tmux_ + "send-keys -t probe -l '" + text + "'") == 0) &&
               run(tmux_ + "send-keys -t probe Enter") == 0;
    }
    std::string screen() {
        std::string out;
        run(tmux_ + "capture-pane -p -t probe", &out);
        return out;
    }

  private:
    std::string tmux_;
    bool started_ = false;
};

// The echo flag of a terminal seen from outside: 1 on, 0 off, -1 unknown.
int echo_of(const std::string &tty) {
    int fd = open(tty.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) return -1;
    struct termios t;
    int r = tcgetattr(fd, &t) == 0 ? ((t.c_lflag & ECHO) ? 1 : 0) : -1;
    close(fd);
    return r;
}

volatile sig_atomic_t g_signals = 0;
void count_signal(int) { g_signals = g_signals + 1; }

}  // namespace

TEST(Misc, FrameTexts) {
    EXPECT_STREQ(QRT_GetVersionMisc(), "1.6.0.0");
    EXPECT_STREQ(QRT_MISC_GetVersion(), "1.6.0.0");
    EXPECT_EQ(QRT_MISC_CheckVersion("1.6.0.0"), 0);
    EXPECT_EQ(QRT_MISC_CheckVersion("1.6.0.1"), -1);
    EXPECT_EQ(QRT_MISC_CheckVersion(nullptr), 0);
    EXPECT_STREQ(QRT_GetErrReasonMisc(0, 1), "UnDefined Error Reason");
    EXPECT_STREQ(QRT_MISC_GetErrorReason(5010, 0), "UnDefined Error Reason");
}

TEST(Misc, PasswordsFromAPipe) {
    TempDir dir;
    std::string result = dir / "result";
    std::string input = dir / "input";
    std::string longer(150, 'L');
    // A "%" password, a NULL buffer (its line is still consumed), a line cut to 99 characters
    // whose rest is not taken as the next answer, an empty line, and the end of input.
    ostrel::test::write_file(input, "p%s%d x\nskipped\n" + longer + "\nnext\n\nlast-no-newline");
    std::string out;
    ASSERT_EQ(run(kProbe + " " + result + " bnbbbbb < " + input, &out), 0);
    EXPECT_EQ(out, "Password: \nPassword: \nPassword: \nPassword: \nPassword: \nPassword: \nPassword: \n");
    auto lines = lines_of(read_file(result));
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0], "0 -1 -1 " + hex("p%s%d x"));
    EXPECT_EQ(lines[1], "-1 -1 -1 ");
    EXPECT_EQ(lines[2], "0 -1 -1 " + hex(std::string(99, 'L')));
    EXPECT_EQ(lines[3], "0 -1 -1 " + hex("next"));
    EXPECT_EQ(lines[4], "0 -1 -1 ");
    EXPECT_EQ(lines[5], "0 -1 -1 " + hex("last-no-newline"));
    EXPECT_EQ(lines[6], "-1 -1 -1 ") << "end of input is no password";
}

TEST(Misc, PasswordUnderAPseudoTerminal) {
    if (!have_command("tmux")) GTEST_SKIP() << "tmux is not installed";
    TempDir dir;
    std::string result = dir / "result";
    Tmux tmux(dir, kProbe + " " + result + " bb");
    ASSERT_TRUE(tmux.started());
    std::string tty = tmux.pane_tty();
    ASSERT_FALSE(tty.empty());

    // Type only once the probe has switched echo off, or the flush of pending input eats it.
    ASSERT_TRUE(wait_for([&] { return echo_of(tty) == 0; })) << "echo is switched off while reading";
    ASSERT_TRUE(tmux.type("s3cr%et"));
    ASSERT_TRUE(wait_for([&] { return lines_of(read_file(result)).size() == 1; }));
    // The screen while the second prompt waits (a dead pane's screen is not kept).
    ASSERT_TRUE(wait_for([&] { return echo_of(tty) == 0; }));
    std::string screen;
    EXPECT_TRUE(wait_for([&] { return (screen = tmux.screen()).rfind("Password:\nPassword:", 0) == 0; }))
        << "the line feed moved the cursor on: " << screen;
    EXPECT_EQ(screen.find("s3cr%et"), std::string::npos) << "the password never reaches the screen";
    ASSERT_TRUE(tmux.type(""));
    ASSERT_TRUE(wait_for([&] { return lines_of(read_file(result)).size() == 2; }));

    auto lines = lines_of(read_file(result));
    EXPECT_EQ(lines[0], "0 1 1 " + hex("s3cr%et")) << "echo is on before and again after";
    EXPECT_EQ(lines[1], "0 1 1 ") << "an empty line restores echo too";
}

TEST(Misc, AlarmInterruptsABlockingReadOtherSignalsLetItResume) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    char c = 0;

    g_signals = 0;
    EXPECT_EQ(QRT_SetSignal(SIGALRM, count_signal), SIG_DFL);
    EXPECT_EQ(QRT_SetSignal(SIGALRM, count_signal), count_signal) << "the previous handler comes back";
    struct itimerval once {};
    once.it_value.tv_usec = 100000;
    ASSERT_EQ(setitimer(ITIMER_REAL, &once, nullptr), 0);
    errno = 0;
    EXPECT_EQ(read(fds[0], &c, 1), -1);
    EXPECT_EQ(errno, EINTR);
    EXPECT_EQ(g_signals, 1);

    g_signals = 0;
    EXPECT_EQ(QRT_SetSignal(SIGINT, count_signal), SIG_DFL);
    pthread_t reader = pthread_self();
    std::thread poke([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pthread_kill(reader, SIGINT);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(write(fds[1], "x", 1), 1);
    });
    EXPECT_EQ(read(fds[0], &c, 1), 1) << "the read resumed after the signal";
    EXPECT_EQ(c, 'x');
    poke.join();
    EXPECT_EQ(g_signals, 1);

    EXPECT_EQ(QRT_SetSignal(SIGKILL, count_signal), SIG_ERR);
    EXPECT_EQ(QRT_SetSignal(-1, count_signal), SIG_ERR);
    QRT_SetSignal(SIGINT, SIG_DFL);
    QRT_SetSignal(SIGALRM, SIG_DFL);
    close(fds[0]);
    close(fds[1]);
}
