// The library frame every library exports: version packing, version checks against the
// libraries it runs on, and error-text look-up with hand-over of foreign codes by range.
#pragma once

#include <cstddef>
#include <cstdio>
#include <initializer_list>

#include "suite_io.h"

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
inline int check_version(const char *own, const char *required, std::initializer_list<Requirement> deps = {}) {
    if (required && pack_version(own) < pack_version(required)) return -1;
    for (const Requirement &r : deps)
        if (pack_version(r.get_version()) < pack_version(r.minimum)) return -1;
    return 0;
}

// Linear scan of a {0, NULL}-terminated table; NULL when absent.
inline const char *find_reason(const ERR_MSG_DATA *table, int code) {
    if (!table) return nullptr;
    for (; table->pReason; ++table)
        if (table->nCode == code) return table->pReason;
    return nullptr;
}

struct Delegate {
    int low, high;  // inclusive code range owned by another library
    const char *(*reason)(int code, int lang);
};

// English (lang 1) or Korean (lang 0) text of `code`; a code in a delegate's range is handed to
// that library; unknown codes and other languages give "".
inline const char *reason_of(const ERR_MSG_DATA *english, const ERR_MSG_DATA *korean, int code, int lang,
                             std::initializer_list<Delegate> delegates = {}) {
    if (lang != 0 && lang != 1) return "";
    for (const Delegate &d : delegates)
        if (code >= d.low && code <= d.high) return d.reason(code, lang);
    const char *r = find_reason(lang == 1 ? english : korean, code);
    return r ? r : "";
}

// A reason table that keeps both languages on one row.
struct PairedReason {
    int code;
    const char *english;
    const char *korean;  // written in UTF-8 in the source; the build turns it into EUC-KR bytes
};

// English (lang 1) or Korean (lang 0) text of `code` in a paired table; NULL when the code or
// language is not there.
template <size_t N>
inline const char *find_paired_reason(const PairedReason (&table)[N], int code, int lang) {
    if (lang != 0 && lang != 1) return nullptr;
    for (const PairedReason &r : table)
        if (r.code == code) return lang == 1 ? r.english : r.korean;
    return nullptr;
}

}  // namespace ostrel
