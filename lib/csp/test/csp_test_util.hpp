// Small helpers shared by the provider's tests.
#pragma once

#include <string>
#include <vector>

#include "ostrel/test_support.hpp"
#include "suite_csp.h"

namespace csptest {

using Bytes = std::vector<unsigned char>;
using ostrel::test::from_hex;
using ostrel::test::to_hex;

// A non-owning view of bytes as a BIN.
inline BIN view(const Bytes &b) { return BIN{static_cast<unsigned>(b.size()), const_cast<unsigned char *>(b.data())}; }

// An output BIN released at scope exit.
struct Out {
    BIN b{0, nullptr};
    Out() = default;
    Out(const Out &) = delete;
    ~Out() { QRT_BIN_Reset(&b); }
    BIN *operator&() { return &b; }
    std::string hex() const { return to_hex(b.value, b.length); }
    Bytes bytes() const { return Bytes(b.value, b.value + b.length); }
};

inline std::string hexs(const Bytes &b) { return to_hex(b.data(), b.size()); }

// A cipher parameter with its IV kept alive beside it.
struct Param {
    ZQ_CSP_CipherParam p{};
    Bytes iv;
    BIN ivbin{0, nullptr};
    Param(int mode, int padding, Bytes iv_bytes = {}, int mode_size = 0) : iv(std::move(iv_bytes)) {
        p.modeID = mode;
        p.paddingID = padding;
        p.modeParam.modeSize = mode_size;
        if (!iv.empty()) {
            ivbin = view(iv);
            p.modeParam.iv = &ivbin;
        }
    }
    Param(const Param &) = delete;
    ZQ_CSP_CipherParam *operator&() { return &p; }
};

inline Bytes pattern(size_t n, unsigned seed = 1) {
    Bytes v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<unsigned char>(i * 131 + seed * 17 + (i >> 3));
    return v;
}

inline std::string vectors(const std::string &name) { return "../shared/vectors/" + name; }

}  // namespace csptest
