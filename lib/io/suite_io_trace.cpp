// The process-wide error trace: 8 buckets of up to 32 text records, chosen per thread by the
// low 3 bits of (process id + thread id), all guarded by one mutex.
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "io_internal.h"

namespace {

constexpr int kBuckets = 8;
constexpr int kRecordsPerBucket = 32;

struct Bucket {
    char *records[kRecordsPerBucket];
    unsigned int count;
};

struct TraceCtx {
    std::atomic<int> initialised{0};
    Bucket buckets[kBuckets];
};

TraceCtx g_trace_ctx;
pthread_mutex_t g_trace_mutex = PTHREAD_MUTEX_INITIALIZER;

int thread_id() { return static_cast<int>(static_cast<unsigned int>(pthread_self())); }

Bucket &my_bucket() {
    unsigned int sum = static_cast<unsigned int>(getpid()) + static_cast<unsigned int>(pthread_self());
    return g_trace_ctx.buckets[sum & (kBuckets - 1)];
}

void reset_bucket(Bucket &b) {
    for (unsigned int i = 0; i < b.count; ++i) {
        QRT_free(b.records[i]);
        b.records[i] = nullptr;
    }
    b.count = 0;
}

// "pid:tid:func:code:reason:file:line", with the file reduced to its last path component.
char *build_record(const char *func, int code, const char *reason, const char *file, int line) {
    if (file) {
        const char *slash = std::strrchr(file, '/');
        if (slash) file = slash + 1;
    }
    const char *f = func ? func : "";
    const char *r = reason ? reason : "";
    const char *s = file ? file : "";
    int pid = static_cast<int>(getpid()), tid = thread_id();
    int need = std::snprintf(nullptr, 0, "%d:%d:%s:%d:%s:%s:%d", pid, tid, f, code, r, s, line);
    if (need < 0) return nullptr;
    auto *rec = static_cast<char *>(ostrel::io::raw_malloc(static_cast<size_t>(need) + 1));
    if (!rec) return nullptr;
    std::snprintf(rec, static_cast<size_t>(need) + 1, "%d:%d:%s:%d:%s:%s:%d", pid, tid, f, code, r, s, line);
    return rec;
}

class Locked {
  public:
    Locked() { pthread_mutex_lock(&g_trace_mutex); }
    ~Locked() { pthread_mutex_unlock(&g_trace_mutex); }
};

bool on() { return g_trace_ctx.initialised.load(std::memory_order_acquire) != 0; }

}  // namespace

extern "C" {

QRT_API int QRT_Trace_Initialize(void) {
    if (on()) return 0;
    Locked lock;
    if (!on()) {
        for (Bucket &b : g_trace_ctx.buckets) std::memset(&b, 0, sizeof b);
        g_trace_ctx.initialised.store(1, std::memory_order_release);
    }
    return 0;
}

QRT_API int QRT_Trace_Finalize(void) {
    if (!on()) return 0;
    Locked lock;
    for (Bucket &b : g_trace_ctx.buckets) reset_bucket(b);
    g_trace_ctx.initialised.store(0, std::memory_order_release);
    return 0;
}

QRT_API int QRT_Trace_PutError(const char *func, int code, const char *reason, const char *file, int line) {
    if (!on()) return 0;
    char *rec = build_record(func, code, reason, file, line);
    Locked lock;
    Bucket &b = my_bucket();
    if (!on() || b.count >= kRecordsPerBucket) {
        QRT_free(rec);
        return 0;
    }
    b.records[b.count++] = rec;  // a NULL record stands for one that could not be allocated
    return 0;
}

QRT_API int QRT_Trace_GetError(char **out) {
    if (!out || !on()) return 0;
    Locked lock;
    Bucket &b = my_bucket();
    if (b.count == 0) return 0;
    size_t size = 0;
    for (unsigned int i = 0; i < b.count; ++i) size += (b.records[i] ? std::strlen(b.records[i]) : 0) + 5;
    auto *text = static_cast<char *>(ostrel::io::raw_malloc(size));
    if (!text) {
        *out = nullptr;
        return 0;
    }
    char *p = text;
    for (unsigned int i = 0; i < b.count; ++i) {
        if (b.records[i]) {
            size_t n = std::strlen(b.records[i]);
            std::memcpy(p, b.records[i], n);
            p += n;
        }
        *p++ = '\n';
    }
    *p = '\0';
    *out = text;
    reset_bucket(b);
    return 0;
}

QRT_API int QRT_Trace_PrintError(void) {
    char *text = nullptr;
    QRT_Trace_GetError(&text);
    if (text) {
        std::printf("%s", text);
        QRT_free(text);
    }
    return 0;
}

QRT_API int QRT_Trace_WriteError(int fd) {
    char *text = nullptr;
    QRT_Trace_GetError(&text);
    if (text) {
        QRT_File_Write(fd, text, static_cast<int>(std::strlen(text)));
        QRT_free(text);
    }
    return 0;
}

QRT_API int QRT_Trace_ClearError(void) {
    if (!on()) return 0;
    Locked lock;
    reset_bucket(my_bucket());
    return 0;
}

}  // extern "C"
