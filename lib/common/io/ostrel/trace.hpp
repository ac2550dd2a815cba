// One way to fail: record a trace entry and return the code, in a single expression.
//
//   return OSTREL_FAIL(code);                  // record under the current function's name
//   return OSTREL_FAIL_AS("QRT_ReadBin", code); // record under an exported alias's name
//   OSTREL_SYSFAIL("open");                     // record a failed system call (errno, strerror)
//
// Each library defines OSTREL_REASON_FN to its own QRT_<LIB>_GetErrorReason before including
// this header, so the record carries that library's English text for the code.
#pragma once

#include <cerrno>
#include <cstring>

#include "suite_io.h"

namespace ostrel {

using ReasonFn = const char *(*)(int code, int lang);

// Appends the record (function, code, English reason, source file, line); returns the code.
inline int put_error(ReasonFn reason, const char *func, int code, const char *file, int line) {
    const char *text = reason ? reason(code, 1) : nullptr;
    QRT_Trace_PutError(func, code, text, file, line);
    return code;
}

// put_error with a library's reason function fixed: the failure helper a Boundary
// (ostrel/guard.hpp) records through.
template <ReasonFn Reason>
int fail_with(const char *func, int code, const char *file, int line) {
    return put_error(Reason, func, code, file, line);
}

// Appends the record of a failed system call: its name, errno and strerror(errno).
// errno is preserved so the caller can still branch on it.
inline int put_syserror(const char *call, const char *file, int line) {
    int saved = errno;
    char buf[256];
    const char *text = strerror_r(saved, buf, sizeof buf);
    QRT_Trace_PutError(call, saved, text, file, line);
    errno = saved;
    return saved;
}

}  // namespace ostrel

#define OSTREL_FAIL_AS(func, code) ::ostrel::put_error(OSTREL_REASON_FN, (func), (code), __FILE__, __LINE__)
#define OSTREL_FAIL(code) OSTREL_FAIL_AS(__func__, (code))
#define OSTREL_FAIL_FN (&::ostrel::fail_with<OSTREL_REASON_FN>)
#define OSTREL_SYSFAIL(call) ::ostrel::put_syserror((call), __FILE__, __LINE__)
