// Allocation wrappers: every library allocates through these, so any library may release
// memory another one allocated.
#include <cstdlib>

#include "io_internal.h"

extern "C" {

QRT_API void *QRT_malloc(size_t size) { return std::malloc(size); }
QRT_API void *QRT_calloc(size_t count, size_t size) { return std::calloc(count, size); }
QRT_API void *QRT_realloc(void *ptr, size_t size) { return std::realloc(ptr, size); }
QRT_API void QRT_free(void *ptr) { std::free(ptr); }
QRT_API void QRT_SafeFree(void *ptr) { std::free(ptr); }

}  // extern "C"
