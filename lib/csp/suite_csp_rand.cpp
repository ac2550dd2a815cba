// Random numbers from the core's generator.
#include <cstring>

#include "csp_internal.h"
#include "ostrel/owners.hpp"

using namespace ostrel::csp;

extern "C" {

QRT_API int QRT_CSP_GenerateRandom(BIN *out, int length) {
    if (!out) return QRT_CSP_INVALID_INPUT;
    *out = BIN{0, nullptr};
    if (int rc = state_gate()) return OSTREL_FAIL(rc);
    if (length < 1) return 0;
    auto *p = static_cast<unsigned char *>(QRT_malloc(static_cast<size_t>(length)));
    if (!p) return OSTREL_FAIL(QRT_CSP_MALLOC_FAILED);
    if (int rc = WJC_GetRandom(p, static_cast<unsigned>(length))) {
        QRT_free(p);
        OSTREL_CORE_FAIL("WJ_GetRandom", rc);
        return OSTREL_FAIL(QRT_CSP_CRYPTO_FAILED);
    }
    *out = BIN{static_cast<unsigned>(length), p};
    return 0;
}

QRT_API int QRT_CSP_SeedRandom(const BIN *seed) {
    if (seed && seed->length && seed->value) WJC_UpdateRandom(seed->value, seed->length);
    return 0;
}

QRT_API int QRT_RandomBin(int unused, int length, BIN *out) {
    (void)unused;
    return QRT_CSP_GenerateRandom(out, length);
}

}  // extern "C"
