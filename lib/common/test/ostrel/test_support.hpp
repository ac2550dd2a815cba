// Helpers for the test programs: temporary directories, files, shell commands, trace capture.
#pragma once

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "suite_io.h"

namespace ostrel::test {

// An output BIN of a function under test, released at scope exit: pass &out or out.get().
struct OutBin {
    BIN b{0, nullptr};
    OutBin() = default;
    OutBin(const OutBin &) = delete;
    OutBin &operator=(const OutBin &) = delete;
    ~OutBin() { QRT_BIN_Reset(&b); }
    BIN *operator&() { return &b; }
    BIN *get() { return &b; }
    std::vector<unsigned char> bytes() const {
        return b.value ? std::vector<unsigned char>(b.value, b.value + b.length) : std::vector<unsigned char>();
    }
    bool empty() const { return b.length == 0 && b.value == nullptr; }
};

// A fresh directory under $TMPDIR (or /tmp), removed with its contents at scope exit.
class TempDir {
  public:
    TempDir() {
        const char *base = getenv("TMPDIR");
        std::string tmpl = std::string(base && *base ? base : "/tmp") + "/ostrel-test-XXXXXX";
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
        path_ = buf.data();
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

inline std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline void write_file(const std::string &path, const std::string &data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << data;
}

// Runs a shell command; returns its exit status and (optionally) its standard output.
inline int run(const std::string &cmd, std::string *out = nullptr) {
    FILE *p = popen(cmd.c_str(), "r");
    if (!p) return -1;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
    int st = pclose(p);
    if (out) *out = text;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

inline bool have_command(const std::string &name) {
    return run("command -v " + name + " >/dev/null 2>&1") == 0;
}

// The calling thread's trace records, one string per record; empties the bucket.
inline std::vector<std::string> trace_records() {
    char *text = nullptr;
    QRT_Trace_GetError(&text);
    std::vector<std::string> out;
    if (!text) return out;
    std::istringstream ss(text);
    std::string line;
    while (std::getline(ss, line)) out.push_back(line);
    QRT_free(text);
    return out;
}

// Field `i` (0-based) of a trace record "pid:tid:func:code:reason:file:line".
// The calling thread's trace records as one text, a record a line (for failure messages).
inline std::string trace_text() {
    std::string s;
    for (auto &r : trace_records()) s += r + "\n";
    return s;
}

inline std::string trace_field(const std::string &rec, int i) {
    size_t start = 0;
    for (int k = 0; k < i; ++k) {
        size_t c = rec.find(':', start);
        if (c == std::string::npos) return "";
        start = c + 1;
    }
    size_t end = rec.find(':', start);
    return rec.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// Hex string of bytes (lower case) and back, for comparing with published vectors.
inline std::string to_hex(const void *data, size_t n) {
    static const char d[] = "0123456789abcdef";
    const auto *p = static_cast<const unsigned char *>(data);
    std::string s;
    s.reserve(2 * n);
    for (size_t i = 0; i < n; ++i) {
        s.push_back(d[p[i] >> 4]);
        s.push_back(d[p[i] & 15]);
    }
    return s;
}

inline std::vector<unsigned char> from_hex(const std::string &hex) {
    std::vector<unsigned char> out;
    auto nib = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<unsigned char>(nib(hex[i]) << 4 | nib(hex[i + 1])));
    return out;
}

// Sets TZ for the life of the object and restores what was there.
class ScopedTZ {
  public:
    explicit ScopedTZ(const char *tz) {
        const char *old = getenv("TZ");
        had_ = old != nullptr;
        if (old) old_ = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ScopedTZ() {
        if (had_)
            setenv("TZ", old_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    ScopedTZ(const ScopedTZ &) = delete;
    ScopedTZ &operator=(const ScopedTZ &) = delete;

  private:
    bool had_ = false;
    std::string old_;
};

}  // namespace ostrel::test
