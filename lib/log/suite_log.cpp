// Leveled log lines and hex dumps to standard output or to a daily file, steered by the
// environment on every call and serialised by one process-wide lock.
//
// The library stands alone (it links only POSIX threads): no trace records, no QRT_malloc.
#include "suite_log.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// The BIN record of libOstrelIO, completed here with the same layout so this library needs
// nothing of it.
struct _BIN {
    unsigned int length;
    unsigned char *value;
};

namespace {

constexpr size_t kDirBuffer = 256;
constexpr size_t kChunk = 64 * 1024;  // output is gathered here and written in few writes

// Process-wide state, all guarded by hLock.
pthread_mutex_t hLock = PTHREAD_MUTEX_INITIALIZER;
char g_message[QRT_LOG_MSG_BUFFER];
char g_dir[kDirBuffer];
char g_chunk[kChunk];

std::atomic<time_t (*)(void)> g_clock{nullptr};

class Locked {
  public:
    Locked() { pthread_mutex_lock(&hLock); }
    ~Locked() { pthread_mutex_unlock(&hLock); }
    Locked(const Locked &) = delete;
    Locked &operator=(const Locked &) = delete;
};

long env_number(const char *name) {
    const char *v = getenv(name);
    return v ? strtol(v, nullptr, 10) : 0;
}

bool wanted(int level) { return level < env_number("ZQ_LOG_LEVEL"); }

// Keeps ZQ_LOG_DIR, when set, for this and later calls. False when it does not fit the
// directory buffer: a cut path would name another directory, so such a call writes no file.
bool keep_dir() {
    const char *dir = getenv("ZQ_LOG_DIR");
    if (!dir) return true;
    size_t n = strlen(dir);
    if (n >= kDirBuffer) return false;
    memcpy(g_dir, dir, n + 1);
    return true;
}

struct Stamp {
    struct tm tm;
    int pid;
    int tid;
};

Stamp now() {
    time_t (*clock)(void) = g_clock.load(std::memory_order_acquire);
    time_t t = clock ? clock() : time(nullptr);
    Stamp s{};
    localtime_r(&t, &s.tm);
    s.pid = static_cast<int>(getpid());
    // The same thread number the error trace prints, so log lines and trace records match.
    s.tid = static_cast<int>(static_cast<unsigned int>(pthread_self()));
    return s;
}

// Where this call's output goes: standard output, or the day's file opened for appending.
class Sink {
  public:
    // Picks the target from the environment; false when the file cannot be opened.
    bool open(const struct tm &date, bool dir_ok) {
        if (env_number("ZQ_LOG_FILE_BASE") == 0) return true;
        if (!dir_ok) return false;
        char path[kDirBuffer + 32];
        int y = date.tm_year + 1900, m = date.tm_mon + 1, d = date.tm_mday;
        if (g_dir[0])
            snprintf(path, sizeof path, "%s%c%04d%02d%02d.log", g_dir, '/', y, m, d);
        else
            snprintf(path, sizeof path, "%04d%02d%02d.log", y, m, d);
        // The flags of fopen(path, "a+"): read/write, created with 0666 less the umask.
        do fd_ = ::open(path, O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
        while (fd_ < 0 && errno == EINTR);
        return fd_ >= 0;
    }

    ~Sink() {
        flush();
        if (fd_ >= 0) ::close(fd_);
    }
    Sink() = default;
    Sink(const Sink &) = delete;
    Sink &operator=(const Sink &) = delete;

    void put(const char *s, size_t n) {
        while (n > 0) {
            if (used_ == kChunk) flush();
            size_t k = n < kChunk - used_ ? n : kChunk - used_;
            memcpy(g_chunk + used_, s, k);
            used_ += k;
            s += k;
            n -= k;
        }
    }
    void put(const char *s) { put(s, strlen(s)); }
    void putc(char c) { put(&c, 1); }

    __attribute__((format(printf, 2, 3))) void printf(const char *fmt, ...) {
        char buf[512];
        va_list ap;
        va_start(ap, fmt);
        int n = vsnprintf(buf, sizeof buf, fmt, ap);
        va_end(ap);
        if (n > 0) put(buf, static_cast<size_t>(n) < sizeof buf ? static_cast<size_t>(n) : sizeof buf - 1);
    }

    // Writes what is gathered; false when the file refused it.
    bool flush() {
        if (used_ == 0) return ok_;
        if (fd_ < 0) {
            fwrite(g_chunk, 1, used_, stdout);
            fflush(stdout);
        } else {
            const char *p = g_chunk;
            size_t left = used_;
            while (left > 0) {
                ssize_t w = ::write(fd_, p, left);
                if (w < 0 && errno == EINTR) continue;
                if (w <= 0) {
                    ok_ = false;
                    break;
                }
                p += w;
                left -= static_cast<size_t>(w);
            }
        }
        used_ = 0;
        return ok_;
    }

  private:
    int fd_ = -1;
    size_t used_ = 0;
    bool ok_ = true;
};

// "%02d:%02d:%02d P(%d) T(%d) [%s,line:%d] ", with the file name written whatever its length.
void put_header(Sink &out, const Stamp &s, const char *file, int line) {
    out.printf("%02d:%02d:%02d P(%d) T(%d) [", s.tm.tm_hour, s.tm.tm_min, s.tm.tm_sec, s.pid, s.tid);
    out.put(file ? file : "");
    out.printf(",line:%d] ", line);
}

// Rows of 16 bytes: "%04x - ", "%02x:" per byte, four spaces per byte missing from a short last
// row, then "   " and the bytes as text with those outside 0x20-0x7E shown as ".".
void put_dump(Sink &out, const unsigned char *data, int length) {
    static const char digits[] = "0123456789abcdef";
    for (int off = 0; off < length; off += 16) {
        int n = length - off < 16 ? length - off : 16;
        char row[128];
        int k = snprintf(row, sizeof row, "%04x - ", static_cast<unsigned int>(off));
        for (int i = 0; i < n; ++i) {
            unsigned char b = data[off + i];
            row[k++] = digits[b >> 4];
            row[k++] = digits[b & 15];
            row[k++] = ':';
        }
        for (int i = n; i < 16; ++i) {
            memcpy(row + k, "    ", 4);
            k += 4;
        }
        memcpy(row + k, "   ", 3);
        k += 3;
        for (int i = 0; i < n; ++i) {
            unsigned char b = data[off + i];
            row[k++] = b >= 0x20 && b <= 0x7e ? static_cast<char>(b) : '.';
        }
        row[k++] = '\n';
        out.put(row, static_cast<size_t>(k));
    }
}

}  // namespace

extern "C" {

QRT_API int QRT_LOG_Msg(const char *file, int line, int level, const char *format, ...) {
    if (!format) return QRT_LOG_INVALID_INPUT;
    Locked lock;
    bool dir_ok = keep_dir();
    if (!wanted(level)) return 0;
    Stamp s = now();
    Sink out;
    if (!out.open(s.tm, dir_ok)) return QRT_LOG_OPEN_FAILED;
    va_list ap;
    va_start(ap, format);
    // A message longer than the buffer is cut, never written past it.
    int n = vsnprintf(g_message, sizeof g_message, format, ap);
    va_end(ap);
    if (n < 0) g_message[0] = '\0';
    put_header(out, s, file, line);
    out.put(g_message);
    out.putc('\n');
    return out.flush() ? 0 : QRT_LOG_OPEN_FAILED;
}

QRT_API int QRT_LOG_Bin(const char *file, int line, int level, const unsigned char *data, int length) {
    if (!data) return QRT_LOG_INVALID_INPUT;
    Locked lock;
    bool dir_ok = keep_dir();
    if (!wanted(level)) return 0;
    Stamp s = now();
    Sink out;
    if (!out.open(s.tm, dir_ok)) return 0;
    put_header(out, s, file, line);
    out.printf("[length: %d]\n", length);
    out.put("=============================[CONTENTS]==================================\n");
    put_dump(out, data, length);
    return 0;
}

QRT_API int QRT_LOG_BinST(const char *file, int line, int level, const struct _BIN *bin) {
    if (!bin) return QRT_LOG_INVALID_INPUT;
    // An empty BIN {0, NULL} is logged as an empty dump, not refused.
    static const unsigned char none = 0;
    if (!bin->value && bin->length == 0) return QRT_LOG_Bin(file, line, level, &none, 0);
    int length = bin->length > 0x7fffffffu ? 0x7fffffff : static_cast<int>(bin->length);
    return QRT_LOG_Bin(file, line, level, bin->value, length);
}

QRT_API void QRT_LOG_SetClock(time_t (*clock)(void)) { g_clock.store(clock, std::memory_order_release); }

}  // extern "C"
