// Console input of the tools.
#include "io.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "ostrel/owners.hpp"

namespace ostrel::tools {
namespace {

// The next line without its LF (and a CR before it); false at the end of input.
bool next_line(std::string &line) {
    line.clear();
    int c;
    bool any = false;
    while ((c = std::getchar()) != EOF) {
        any = true;
        if (c == '\n') break;
        line.push_back(static_cast<char>(c));
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return any;
}

Answer store(std::string_view s, char *buf, size_t size) {
    if (size == 0) return Answer::too_long;
    size_t n = s.size() < size - 1 ? s.size() : size - 1;
    std::memcpy(buf, s.data(), n);
    buf[n] = '\0';
    return n < s.size() ? Answer::too_long : Answer::ok;
}

// The terminal state to restore, shared with the signal handler.
struct termios g_saved_tty;
volatile sig_atomic_t g_echo_off = 0;
struct sigaction g_old_int, g_old_term;

extern "C" void restore_echo_and_reraise(int sig) {
    if (g_echo_off) tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_tty);
    g_echo_off = 0;
    // The previous disposition takes the signal over once this handler returns.
    sigaction(sig, sig == SIGINT ? &g_old_int : &g_old_term, nullptr);
    raise(sig);
}

// Terminal echo off for the life of the object when standard input is a terminal.
class EchoOff {
  public:
    EchoOff() {
        if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &g_saved_tty) != 0) return;
        struct sigaction sa {};
        sa.sa_handler = restore_echo_and_reraise;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGINT, &sa, &g_old_int);
        sigaction(SIGTERM, &sa, &g_old_term);
        struct termios quiet = g_saved_tty;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        g_echo_off = 1;
        if (tcsetattr(STDIN_FILENO, TCSANOW, &quiet) != 0) {
            g_echo_off = 0;
            restore_handlers();
            return;
        }
        active_ = true;
    }
    ~EchoOff() {
        if (!active_) return;
        tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_tty);
        g_echo_off = 0;
        restore_handlers();
    }
    EchoOff(const EchoOff &) = delete;
    EchoOff &operator=(const EchoOff &) = delete;

  private:
    static void restore_handlers() {
        sigaction(SIGINT, &g_old_int, nullptr);
        sigaction(SIGTERM, &g_old_term, nullptr);
    }
    bool active_ = false;
};

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

}  // namespace

void prompt(const char *text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

// The answer in line (all of it, or its first word) into buf.
Answer take(const std::string &line, bool got, bool word, char *buf, size_t size) {
    size_t b = 0, e = line.size();
    if (word) {
        while (b < line.size() && blank(line[b])) ++b;
        e = b;
        while (e < line.size() && !blank(line[e])) ++e;
    }
    Answer a = store(std::string_view(line).substr(b, e - b), buf, size);
    return got ? a : Answer::end;
}

Answer read_line(char *buf, size_t size) {
    std::string line;
    bool got = next_line(line);
    return take(line, got, false, buf, size);
}

Answer read_word(char *buf, size_t size) {
    std::string line;
    bool got = next_line(line);
    return take(line, got, true, buf, size);
}

Answer read_password(char *buf, size_t size, bool word) {
    EchoOff quiet;
    std::string line;
    line.reserve(1024);  // so that a password of usual length is never copied by a reallocation
    bool got = next_line(line);
    Answer a = take(line, got, word, buf, size);
    ostrel::wipe(line.data(), line.size());
    return a;
}

bool input_is_terminal() { return isatty(STDIN_FILENO) != 0; }

int read_number(int fallback) {
    std::string line;
    if (!next_line(line)) return fallback;
    const char *s = line.c_str();
    char *end = nullptr;
    errno = 0;
    long v = std::strtol(s, &end, 10);
    if (end == s || errno == ERANGE || v < INT_MIN || v > INT_MAX) return fallback;
    return static_cast<int>(v);
}

}  // namespace ostrel::tools
