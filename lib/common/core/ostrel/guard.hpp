// The boundary of every exported function: no C++ exception ever crosses a QRT_/WJ_ function.
//
//   return OSTREL_GUARD([&] { ... });              // a throw becomes a code and a trace record
//   return OSTREL_GUARD(in && out, [&] { ... });   // and a failed argument check the invalid-input code
//   return OSTREL_GUARD_TRACE([&] { ... });        // every failure is recorded, not only a throw
//   return OSTREL_GUARD_OR(-1, [&] { ... });       // a throw returns -1 (for results that are no code)
//   return OSTREL_GUARD_AS("QRT_X", [&] { ... });  // in a helper: record under the exported name
//
// std::bad_alloc becomes the library's "malloc failed" code, any other exception its internal
// code; either is recorded through the library's one failure helper (OSTREL_FAIL_FN of
// ostrel/trace.hpp) under the exported function's name. Each library defines OSTREL_BOUNDARY,
// its Boundary, before using these. The guard itself depends on nothing but the C++ library.
#pragma once

#include <new>
#include <utility>

namespace ostrel {

struct Boundary {
    // Records a failure and returns its code; NULL where the functions leave no trace records.
    int (*fail)(const char *func, int code, const char *file, int line);
    int invalid_input;                  // an argument check failed (no record: the caller's mistake)
    int malloc_failed;                  // std::bad_alloc
    int internal;                       // any other exception
    void (*after_failure)() = nullptr;  // clean-up after a failing call, when the library needs one
};

// Where the guard stands: the exported function and the line, for its trace record.
struct Site {
    const char *func;
    const char *file;
    int line;
};

enum class Record {
    Thrown,    // only what the guard caught; the body records its own failures
    Failures,  // every non-zero result, once, under the exported function's name
};

template <class F>
int guard(const Boundary &b, const Site &site, Record what, F &&body) noexcept {
    int rc;
    bool thrown = true;
    try {
        rc = std::forward<F>(body)();
        thrown = false;
    } catch (const std::bad_alloc &) {
        rc = b.malloc_failed;
    } catch (...) {
        rc = b.internal;
    }
    if (rc != 0) {
        if (b.fail && (thrown || what == Record::Failures)) b.fail(site.func, rc, site.file, site.line);
        if (b.after_failure) b.after_failure();
    }
    return rc;
}

template <class F>
int guard(const Boundary &b, const Site &site, F &&body) noexcept {
    return guard(b, site, Record::Thrown, std::forward<F>(body));
}

template <class F>
int guard(const Boundary &b, const Site &site, bool args_ok, F &&body) noexcept {
    if (!args_ok) return b.invalid_input;
    return guard(b, site, Record::Thrown, std::forward<F>(body));
}

// For a function whose result is not a code (a descriptor, a pointer): a throw is recorded with
// the "malloc failed" or internal code and `on_throw` is returned.
template <class T, class F>
auto guard_or(const Boundary &b, const Site &site, T on_throw, F &&body) noexcept -> decltype(body()) {
    using R = decltype(body());
    int code;
    try {
        return std::forward<F>(body)();
    } catch (const std::bad_alloc &) {
        code = b.malloc_failed;
    } catch (...) {
        code = b.internal;
    }
    if (b.fail) b.fail(site.func, code, site.file, site.line);
    if (b.after_failure) b.after_failure();
    return static_cast<R>(on_throw);
}

}  // namespace ostrel

#define OSTREL_SITE (::ostrel::Site{__func__, __FILE__, __LINE__})
#define OSTREL_GUARD(...) ::ostrel::guard(OSTREL_BOUNDARY, OSTREL_SITE, __VA_ARGS__)
#define OSTREL_GUARD_AS(func, ...) \
    ::ostrel::guard(OSTREL_BOUNDARY, (::ostrel::Site{(func), __FILE__, __LINE__}), __VA_ARGS__)
#define OSTREL_GUARD_TRACE(...) ::ostrel::guard(OSTREL_BOUNDARY, OSTREL_SITE, ::ostrel::Record::Failures, __VA_ARGS__)
#define OSTREL_GUARD_OR(value, ...) ::ostrel::guard_or(OSTREL_BOUNDARY, OSTREL_SITE, value, __VA_ARGS__)
