// DER order of the members of a SET OF (X.690 11.6): their encodings compared as octet strings,
// the shorter padded with zero octets (distinct complete encodings never differ only there).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace ostrel {

inline bool der_set_less(const uint8_t *a, size_t an, const uint8_t *b, size_t bn) {
    size_t n = std::min(an, bn);
    int c = n ? std::memcmp(a, b, n) : 0;
    return c < 0 || (c == 0 && an < bn);
}

// Sorts encodings held in byte containers (vector-like: data(), size()) into DER order.
template <class It>
void sort_der_set(It first, It last) {
    std::sort(first, last, [](const auto &x, const auto &y) {
        return der_set_less(reinterpret_cast<const uint8_t *>(x.data()), x.size(),
                            reinterpret_cast<const uint8_t *>(y.data()), y.size());
    });
}

}  // namespace ostrel
