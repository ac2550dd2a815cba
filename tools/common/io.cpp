// Console input of the tools.
#include "io.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

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

Answer store(const std::string &s, char *buf, size_t size) {
    if (size == 0) return Answer::too_long;
    size_t n = s.size() < size - 1 ? s.size() : size - 1;
    std::memcpy(buf, s.data(), n);
    buf[n] = '\0';
    return n < s.size() ? Answer::too_long : Answer::ok;
}

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

}  // namespace

void prompt(const char *text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

Answer read_line(char *buf, size_t size) {
    std::string line;
    bool got = next_line(line);
    Answer a = store(line, buf, size);
    return got ? a : Answer::end;
}

Answer read_word(char *buf, size_t size) {
    std::string line;
    bool got = next_line(line);
    size_t b = 0;
    while (b < line.size() && blank(line[b])) ++b;
    size_t e = b;
    while (e < line.size() && !blank(line[e])) ++e;
    Answer a = store(line.substr(b, e - b), buf, size);
    return got ? a : Answer::end;
}

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
