// Private declarations shared by the handshake's modules.
#pragma once

#include <cstdint>
#include <vector>

#include "suite_php.h"

#define OSTREL_REASON_FN QRT_PHP_GetErrorReason
#include "ostrel/guard.hpp"
#include "ostrel/trace.hpp"

namespace ostrel::php {
// The boundary of the exported functions (ostrel/guard.hpp).
inline constexpr Boundary kBoundary{OSTREL_FAIL_FN, QRT_PHP_INVALID_INPUT, QRT_PHP_MALLOC_FAILED, QRT_PHP_INTERNAL};
}  // namespace ostrel::php
#define OSTREL_BOUNDARY ::ostrel::php::kBoundary

namespace ostrel::php {

// Holds a ZQ_PHP_DATA and wipes and releases it unless handed to the caller.
class Data {
  public:
    Data() = default;
    Data(const Data &) = delete;
    Data &operator=(const Data &) = delete;
    ~Data() { QRT_PHP_DATA_Reset(&d_); }

    ZQ_PHP_DATA *get() { return &d_; }
    const ZQ_PHP_DATA *get() const { return &d_; }
    ZQ_PHP_DATA *operator->() { return &d_; }
    // Moves the contents into *out.
    void release_to(ZQ_PHP_DATA *out) {
        *out = d_;
        d_ = ZQ_PHP_DATA{0, nullptr};
    }

  private:
    ZQ_PHP_DATA d_{0, nullptr};
};

// A byte vector wiped on destruction, for secrets and intermediate values.
struct Bytes {
    std::vector<uint8_t> v;
    Bytes() = default;
    explicit Bytes(size_t n) : v(n) {}
    Bytes(const Bytes &) = delete;
    Bytes &operator=(const Bytes &) = delete;
    ~Bytes();
};

// True when d is a usable input: not NULL, and data present when len > 0.
inline bool valid(const ZQ_PHP_DATA *d) { return d && (d->len == 0 || d->data); }

// *out := a copy of n bytes; 0 or 40003.
int set_data(ZQ_PHP_DATA *out, const uint8_t *p, size_t n);

// Appends a 2-byte big-endian length and the bytes; false when n does not fit 16 bits.
bool put_prefixed(std::vector<uint8_t> &out, const uint8_t *p, size_t n);

// Reads one record of the expected type: an alert gives the code of its value, another type
// 40021. The body is left in *body.
int expect_record(ZQ_PHP_CTX *ctx, int type, ZQ_PHP_DATA *body);

}  // namespace ostrel::php
