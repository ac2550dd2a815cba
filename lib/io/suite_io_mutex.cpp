// ZQ_Mutex: a heap block of 256 bytes holding a POSIX mutex.
#include <pthread.h>

#include <cerrno>

#include "io_internal.h"

static_assert(sizeof(pthread_mutex_t) <= sizeof(ZQ_Mutex), "ZQ_Mutex must hold a pthread mutex");

namespace {

pthread_mutex_t *native(ZQ_Mutex *m) { return reinterpret_cast<pthread_mutex_t *>(m->opaque); }

// POSIX thread functions return their error instead of setting errno; record it as errno.
int traced(const char *call, int rc, const char *func) {
    if (rc == 0) return 0;
    errno = rc;
    OSTREL_SYSFAIL(call);
    return OSTREL_FAIL_AS(func, QRT_IO_MUTEX_FAILED);
}

}  // namespace

extern "C" {

QRT_API ZQ_Mutex *QRT_Mutex_Create(void) {
    auto *m = static_cast<ZQ_Mutex *>(QRT_calloc(1, sizeof(ZQ_Mutex)));
    if (!m) return nullptr;
    int rc = pthread_mutex_init(native(m), nullptr);
    if (rc != 0) {
        errno = rc;
        OSTREL_SYSFAIL("pthread_mutex_init");
        QRT_free(m);
        return nullptr;
    }
    return m;
}

QRT_API int QRT_Mutex_Lock(ZQ_Mutex *m) {
    if (!m) return QRT_IO_INVALID_INPUT;
    return traced("pthread_mutex_lock", pthread_mutex_lock(native(m)), __func__);
}

QRT_API int QRT_Mutex_Unlock(ZQ_Mutex *m) {
    if (!m) return QRT_IO_INVALID_INPUT;
    return traced("pthread_mutex_unlock", pthread_mutex_unlock(native(m)), __func__);
}

QRT_API int QRT_Mutex_Destroy(ZQ_Mutex *m) {
    if (!m) return QRT_IO_INVALID_INPUT;
    int rc = traced("pthread_mutex_destroy", pthread_mutex_destroy(native(m)), __func__);
    if (rc == 0) QRT_free(m);
    return rc;
}

}  // extern "C"
