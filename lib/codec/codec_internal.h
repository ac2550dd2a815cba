// Private declarations shared by the codec's modules.
#pragma once

#include <climits>
#include <cstddef>

#include "suite_codec.h"

#define OSTREL_REASON_FN QRT_Codec_GetErrorReason
#include "ostrel/guard.hpp"
#include "ostrel/trace.hpp"

namespace ostrel::codec {
// The boundary of the exported functions (ostrel/guard.hpp).
inline constexpr Boundary kBoundary{OSTREL_FAIL_FN, QRT_CODEC_INVALID_INPUT, QRT_CODEC_MALLOC_FAILED,
                                    QRT_CODEC_INTERNAL};
}  // namespace ostrel::codec
#define OSTREL_BOUNDARY ::ostrel::codec::kBoundary

namespace ostrel::codec {

// Characters of the one-line Base64 of n bytes (without the terminator).
constexpr size_t base64_chars(size_t n) { return (n + 2) / 3 * 4; }

// Encodes n bytes as one Base64 line into out (room for base64_chars(n) characters, not
// terminated); returns the number of characters written.
size_t encode_block(char *out, const unsigned char *in, size_t n);

// Decodes one block of len characters into out, which holds at least `cap` bytes; returns the
// byte count or -1 when the text is not Base64 (or would not fit).
long decode_block(unsigned char *out, size_t cap, const char *text, size_t len);

// A length that a BIN, and an int-sized C interface, can carry.
constexpr bool fits_length(size_t n) { return n <= static_cast<size_t>(INT_MAX); }

}  // namespace ostrel::codec
