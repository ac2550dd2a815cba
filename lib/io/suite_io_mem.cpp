// Allocation wrappers: every library allocates through these, so any library may release
// memory another one allocated.
#include <atomic>
#include <cstdlib>

#include "io_internal.h"
#include "ostrel/alloc_gate.hpp"

namespace {

std::atomic<int (*)(size_t)> g_gate{nullptr};

bool allowed(size_t size) {
    int (*gate)(size_t) = g_gate.load(std::memory_order_acquire);
    return !gate || gate(size) != 0;
}

}  // namespace

namespace ostrel::io {

void *raw_malloc(size_t size) { return std::malloc(size); }

}  // namespace ostrel::io

extern "C" {

QRT_API void *QRT_malloc(size_t size) { return allowed(size) ? std::malloc(size) : nullptr; }
QRT_API void *QRT_calloc(size_t count, size_t size) {
    return allowed(count * size) ? std::calloc(count, size) : nullptr;
}
QRT_API void *QRT_realloc(void *ptr, size_t size) { return allowed(size) ? std::realloc(ptr, size) : nullptr; }
QRT_API void QRT_free(void *ptr) { std::free(ptr); }
QRT_API void QRT_SafeFree(void *ptr) { std::free(ptr); }

QRT_API void QRT_Test_SetAllocGate(int (*gate)(size_t size)) { g_gate.store(gate, std::memory_order_release); }

}  // extern "C"
