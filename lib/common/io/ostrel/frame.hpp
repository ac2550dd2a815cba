// The library frame every library exports: version packing, version checks against the
// libraries it runs on, and error-text look-up with hand-over of foreign codes by range.
//
// A library's version and the minimum versions it demands come from its ostrel_library() call
// (the generated <dir>_version.hpp); its codes and texts come from its errors.tsv (the generated
// <dir>_errors.hpp).
#pragma once

#include <cstddef>
#include <cstdio>
#include <initializer_list>
#include <span>

namespace ostrel {

// "a.b.c.d" packed as a*1000000 + b*10000 + c*100 + d; missing fields count as 0, NULL as -1.
inline long pack_version(const char *v) {
    if (!v) return -1;
    int a = 0, b = 0, c = 0, d = 0;
    if (std::sscanf(v, "%d.%d.%d.%d", &a, &b, &c, &d) < 1) return -1;
    return a * 1000000L + b * 10000L + c * 100L + d;
}

struct Requirement {
    const char *(*get_version)();
    const char *minimum;
};

// 0 when `own` is at least `required` (skipped when NULL) and every dependency is at least
// its minimum; -1 otherwise.
inline int check_version(const char *own, const char *required, std::span<const Requirement> deps) {
    if (required && pack_version(own) < pack_version(required)) return -1;
    for (const Requirement &r : deps)
        if (pack_version(r.get_version()) < pack_version(r.minimum)) return -1;
    return 0;
}

// One code with its texts; a missing text is NULL.
struct ErrorText {
    int code;
    const char *english;
    const char *korean;  // EUC-KR bytes
};

// English (lang 1) or Korean (lang 0) text of `code`; NULL when the code or that text is absent
// or the language is neither.
inline const char *find_text(std::span<const ErrorText> table, int code, int lang) {
    if (lang != 0 && lang != 1) return nullptr;
    for (const ErrorText &e : table)
        if (e.code == code) return lang == 1 ? e.english : e.korean;
    return nullptr;
}

struct Delegate {
    int low, high;  // inclusive code range owned by another library
    const char *(*reason)(int code, int lang);
};

// The text of `code` in `lang` for GetErrorReason: a code in a delegate's range is handed to
// that library; an unknown code, a missing text or another language gives `fallback`.
inline const char *reason_of(std::span<const ErrorText> table, int code, int lang, const char *fallback,
                             std::initializer_list<Delegate> delegates = {}) {
    if (lang != 0 && lang != 1) return fallback;
    for (const Delegate &d : delegates)
        if (code >= d.low && code <= d.high) return d.reason(code, lang);
    const char *r = find_text(table, code, lang);
    return r ? r : fallback;
}

// What GetErrorReason gives for a code a library has no text for, in the libraries that do
// not answer with an empty string.
inline constexpr const char kUndefinedReason[] = "UnDefined Error Reason";

}  // namespace ostrel
