// The library-wide options "locale" and "dncase". They are set before threads use the library
// (process-wide, like the option block they replace); readers take them without a lock, so the
// stored values are atomics.
#include <atomic>
#include <cstring>

#include "pkc_internal.h"

namespace ostrel::pkc {
namespace {

constexpr const char *kLocales[] = {"ko_KR-euc", "ko_KR-UTF-8", "ja_JP-EUC", "ja_JP-SJIS", "ja_JP-UTF-8"};
constexpr const char *kCases[] = {"lower", "upper"};

std::atomic<int> g_locale{0};
std::atomic<int> g_case{0};

template <size_t N>
int index_of(const char *const (&list)[N], const char *value) {
    for (size_t i = 0; i < N; ++i)
        if (std::strcmp(list[i], value) == 0) return static_cast<int>(i);
    return -1;
}

}  // namespace

Locale current_locale() { return static_cast<Locale>(g_locale.load(std::memory_order_relaxed)); }
bool dn_upper() { return g_case.load(std::memory_order_relaxed) == 1; }

}  // namespace ostrel::pkc

using namespace ostrel::pkc;

extern "C" {

QRT_API int QRT_PKC_SetOption(const char *name, const char *value) {
    if (!name || !value) return -1;
    if (std::strcmp(name, "locale") == 0) {
        int i = index_of(kLocales, value);
        if (i < 0) return -1;
        g_locale.store(i, std::memory_order_relaxed);
        return 0;
    }
    if (std::strcmp(name, "dncase") == 0) {
        int i = index_of(kCases, value);
        if (i < 0) return -1;
        g_case.store(i, std::memory_order_relaxed);
        return 0;
    }
    return -1;
}

QRT_API const char *QRT_PKC_GetOption(const char *name) {
    if (!name) return nullptr;
    if (std::strcmp(name, "locale") == 0) return kLocales[g_locale.load(std::memory_order_relaxed)];
    if (std::strcmp(name, "dncase") == 0) return kCases[g_case.load(std::memory_order_relaxed)];
    return nullptr;
}

QRT_API int QRT_SetLocalePKC(const char *value) { return QRT_PKC_SetOption("locale", value); }

}  // extern "C"
