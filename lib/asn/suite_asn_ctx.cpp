// Engine contexts: the master context set up once per process, a copy per thread kept as
// thread-specific data, the flag mutex, and the older calls on caller-supplied contexts.
#include <pthread.h>

#include <atomic>
#include <cstring>

#include "asn_internal.h"

namespace ostrel::asn {

int engine_init(ZQ_ASN_CTX *ctx) {
    std::memset(ctx, 0, sizeof *ctx);
    ctx->allocFn = QRT_malloc;
    ctx->reallocFn = QRT_realloc;
    ctx->freeFn = QRT_free;
    ctx->encodingRules = kDer;
    ctx->magic = kMagic;
    return 0;
}

void engine_final(ZQ_ASN_CTX *ctx) {
    if (ctx->magic == kMagic && ctx->scratch) ctx->freeFn(ctx->scratch);
    ctx->scratch = nullptr;
    ctx->scratchSize = 0;
    ctx->magic = 0;
}

int engine_set_flags(ZQ_ASN_CTX *ctx, unsigned flags) {
    if (ctx->magic != kMagic) {
        ctx->errorCode = QRT_ASN_E_NOT_INITIALIZED;
        std::strcpy(ctx->errorText, "context not initialised");
        return ctx->errorCode;
    }
    if (flags & ~QRT_ASN_FLAGS_ALL) {
        ctx->errorCode = QRT_ASN_E_BAD_FLAGS;
        std::strcpy(ctx->errorText, "unknown flag bits");
        return ctx->errorCode;
    }
    ctx->flags |= flags;
    return 0;
}

int engine_dup(const ZQ_ASN_CTX *master, ZQ_ASN_CTX *copy) {
    if (master->magic != kMagic) return QRT_ASN_E_NOT_INITIALIZED;
    *copy = *master;
    copy->scratch = nullptr;
    copy->scratchSize = 0;
    copy->errorCode = 0;
    copy->errorText[0] = 0;
    return 0;
}

void put_engine_records(const char *call, const ZQ_ASN_CTX *ctx, bool encoding, const char *file, int line) {
    QRT_Trace_PutError(call, ctx->errorCode, ctx->errorText, file, line);
    QRT_Trace_PutError(call, ctx->errorCode, class_name(ctx->errorCode, encoding), file, line);
}

const char *class_name(int code, bool encoding) {
    if (!encoding) {
        switch (code) {
            case QRT_ASN_E_NEGATIVE_UINTEGER: return "NEGATIVE_UINTEGER";
            case QRT_ASN_E_MORE_INPUT: return "MORE_INPUT";
            case QRT_ASN_E_DATA_ERROR: return "DATA_ERROR";
            case QRT_ASN_E_PDU_MISMATCH: return "PDU_MISMATCH";
            case QRT_ASN_E_LIMITED: return "LIMITED";
            default: return "";
        }
    }
    switch (code) {
        case QRT_ASN_E_BAD_CHOICE: return "BAD_CHOICE";
        case QRT_ASN_E_BAD_OBJID: return "BAD_OBJID";
        case QRT_ASN_E_BAD_PTR: return "BAD_PTR";
        case QRT_ASN_E_BAD_TIME: return "BAD_TIME";
        case QRT_ASN_E_BAD_PDU: return "BAD_TABLE";
        case QRT_ASN_E_TOO_LONG: return "TOO_LONG";
        case QRT_ASN_E_FATAL_ERROR: return "FATAL_ERROR";
        default: return "";
    }
}

}  // namespace ostrel::asn

using namespace ostrel::asn;

namespace {

ZQ_ASN_CTX g_asn_global;
std::atomic<int> g_asn_init{0};
pthread_mutex_t g_asn_mutex = PTHREAD_MUTEX_INITIALIZER;
pthread_mutex_t g_init_mutex = PTHREAD_MUTEX_INITIALIZER;  // serialises set-up and shut-down
pthread_key_t tsd_key;
pthread_once_t asn_key_once = PTHREAD_ONCE_INIT;
bool g_key_ok = false;

struct ThreadCtx {
    pthread_t tid;
    ZQ_ASN_CTX *ctx;
};

void release_thread_ctx(void *p) {
    auto *t = static_cast<ThreadCtx *>(p);
    if (t->ctx) {
        engine_final(t->ctx);
        QRT_free(t->ctx);
    }
    QRT_free(t);
}

void key_once() {
    QRT_ASN_Initialize();
    g_key_ok = pthread_key_create(&tsd_key, release_thread_ctx) == 0;
}

}  // namespace

extern "C" {

QRT_API int QRT_ASN_Initialize(void) {
    if (g_asn_init.load(std::memory_order_acquire)) return 0;
    pthread_mutex_lock(&g_init_mutex);
    int rc = 0;
    if (!g_asn_init.load(std::memory_order_relaxed)) {
        pthread_mutex_lock(&g_asn_mutex);  // threads copying the master read it under this lock
        int e = engine_init(&g_asn_global);
        const char *call = "ossinit";
        if (!e) {
            e = engine_set_flags(&g_asn_global, 0);
            call = "ossSetFlags";
        }
        pthread_mutex_unlock(&g_asn_mutex);
        if (e) {
            QRT_Trace_PutError(call, e, g_asn_global.errorText, __FILE__, __LINE__);
            rc = OSTREL_FAIL_AS("QRT_ASN_Global_Init", QRT_ASN_OSS_FAILED);
        } else {
            g_asn_init.store(1, std::memory_order_release);
        }
    }
    pthread_mutex_unlock(&g_init_mutex);
    return rc;
}

QRT_API ZQ_ASN_CTX *QRT_ASN_AcquireCTX(void) {
    if (pthread_once(&asn_key_once, key_once) != 0 || !g_key_ok) return nullptr;
    auto *t = static_cast<ThreadCtx *>(pthread_getspecific(tsd_key));
    if (t && t->ctx) return t->ctx;
    if (!t) {
        t = static_cast<ThreadCtx *>(QRT_calloc(1, sizeof *t));
        if (!t) return nullptr;
        if (pthread_setspecific(tsd_key, t) != 0) {
            QRT_free(t);
            return nullptr;
        }
        t->tid = pthread_self();
    }
    auto *ctx = static_cast<ZQ_ASN_CTX *>(QRT_calloc(1, sizeof(ZQ_ASN_CTX)));
    if (!ctx) return nullptr;
    // The copy is made under the flag mutex so that it never sees a half-written master; a master
    // that was shut down is set up again once (outside the lock: set-up takes it itself).
    bool copied = false;
    for (int attempt = 0; attempt < 2 && !copied; ++attempt) {
        if (attempt) QRT_ASN_Initialize();
        pthread_mutex_lock(&g_asn_mutex);
        copied = engine_dup(&g_asn_global, ctx) == 0;
        pthread_mutex_unlock(&g_asn_mutex);
    }
    if (!copied) {
        QRT_free(ctx);
        return nullptr;
    }
    t->ctx = ctx;
    return ctx;
}

QRT_API int QRT_ASN_ReleaseCTX(void) { return 0; }
QRT_API int QRT_ASN_Finalize(void) { return 0; }

QRT_API int QRT_ASN_FinalizeEx(void) {
    pthread_mutex_lock(&g_init_mutex);
    if (g_asn_init.load(std::memory_order_relaxed)) {
        pthread_mutex_lock(&g_asn_mutex);
        engine_final(&g_asn_global);
        pthread_mutex_unlock(&g_asn_mutex);
        g_asn_init.store(0, std::memory_order_release);
    }
    pthread_mutex_unlock(&g_init_mutex);
    return 0;
}

QRT_API int QRT_ASN_SetFlags(unsigned int flags) {
    int rc = QRT_ASN_Initialize();
    if (rc) return rc;
    int e = pthread_mutex_lock(&g_asn_mutex);
    if (e) {
        errno = e;
        OSTREL_SYSFAIL("pthread_mutex_lock");
        return OSTREL_FAIL_AS("QRT_ASN_Mutex_Lock", QRT_ASN_MUTEX_FAILED);
    }
    int refused = engine_set_flags(&g_asn_global, flags);
    if (refused) {
        QRT_Trace_PutError("ossSetFlags", refused, g_asn_global.errorText, __FILE__, __LINE__);
        rc = OSTREL_FAIL_AS("QRT_ASN_Global_SetFlags", QRT_ASN_OSS_FAILED);
    }
    e = pthread_mutex_unlock(&g_asn_mutex);
    if (e) {
        errno = e;
        OSTREL_SYSFAIL("pthread_mutex_unlock");
        return OSTREL_FAIL_AS("QRT_ASN_Mutex_Unlock", QRT_ASN_MUTEX_FAILED);
    }
    return rc;
}

QRT_API int QRT_OssInit(ZQ_ASN_CTX *world) {
    if (!world) return QRT_ASN_INVALID_INPUT;
    if (engine_init(world) || engine_set_flags(world, 0)) return QRT_ASN_OSS_FAILED;
    return 0;
}

QRT_API int QRT_OssFinal(ZQ_ASN_CTX *world) {
    if (!world) return QRT_ASN_INVALID_INPUT;
    engine_final(world);
    return 0;
}

QRT_API int QRT_OssDupCtx(ZQ_ASN_CTX *master, ZQ_ASN_CTX *copy) {
    if (!master || !copy) return QRT_ASN_INVALID_INPUT;
    if (engine_dup(master, copy) == 0) return 0;
    if (master == &g_asn_global)
        QRT_ASN_Initialize();
    else
        QRT_OssInit(master);
    return engine_dup(master, copy) == 0 ? 0 : QRT_ASN_OSS_FAILED;
}

QRT_API void QRT_OssFreeBuf(ZQ_ASN_CTX *world, void *buf) {
    if (!buf) return;
    if (world && world->magic == kMagic)
        world->freeFn(buf);
    else
        QRT_free(buf);
}

}  // extern "C"
