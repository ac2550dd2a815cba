// Constant-time equality of byte strings (MAC values, digests, padding): the time taken depends
// on the length only, never on where the first difference lies.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ostrel {

inline bool ct_equal(const void *a, const void *b, size_t n) {
    const auto *x = static_cast<const volatile uint8_t *>(a);
    const auto *y = static_cast<const volatile uint8_t *>(b);
    uint8_t d = 0;
    for (size_t i = 0; i < n; ++i) d = static_cast<uint8_t>(d | (x[i] ^ y[i]));
    return d == 0;
}

}  // namespace ostrel
