// The boundary of every exported function: no C++ exception ever crosses a QRT_ function.
#pragma once

#include <new>
#include <utility>

namespace ostrel {

// Runs `body` (returning int); std::bad_alloc becomes `malloc_code`, anything else `internal_code`.
template <class F>
int guard(int malloc_code, int internal_code, F &&body) noexcept {
    try {
        return std::forward<F>(body)();
    } catch (const std::bad_alloc &) {
        return malloc_code;
    } catch (...) {
        return internal_code;
    }
}

}  // namespace ostrel
