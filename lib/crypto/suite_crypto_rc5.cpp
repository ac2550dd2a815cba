// RC5-32 (RFC 2040): 64-bit blocks of two little-endian words, 0..255 rounds, keys of 0..256
// bytes.
#include <algorithm>
#include <cstring>

#include "crypto_internal.h"
#include "ostrel/owners.hpp"

namespace ostrel::crypto {

namespace {

constexpr uint32_t kP32 = 0xb7e15163;
constexpr uint32_t kQ32 = 0x9e3779b9;

inline uint32_t rotl(uint32_t x, uint32_t s) {
    s &= 31;
    return s ? (x << s) | (x >> (32 - s)) : x;
}
inline uint32_t rotr(uint32_t x, uint32_t s) {
    s &= 31;
    return s ? (x >> s) | (x << (32 - s)) : x;
}
inline uint32_t load_le(const uint8_t *p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
inline void store_le(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

void rc5_setup(Rc5Key &k, const uint8_t *key, unsigned len, unsigned rounds) {
    k.rounds = rounds;
    const unsigned t = 2 * (rounds + 1);
    const unsigned c = std::max(1u, (len + 3) / 4);
    uint32_t L[64] = {};
    for (unsigned i = len; i-- > 0;) L[i / 4] = (L[i / 4] << 8) + key[i];
    k.S[0] = kP32;
    for (unsigned i = 1; i < t; ++i) k.S[i] = k.S[i - 1] + kQ32;
    uint32_t A = 0, B = 0;
    unsigned i = 0, j = 0;
    for (unsigned s = 0; s < 3 * std::max(t, c); ++s) {
        A = k.S[i] = rotl(k.S[i] + A + B, 3);
        B = L[j] = rotl(L[j] + A + B, A + B);
        i = (i + 1) % t;
        j = (j + 1) % c;
    }
    wipe(L, sizeof L);
}

void rc5_encrypt(const Rc5Key &k, const uint8_t in[8], uint8_t out[8]) {
    uint32_t A = load_le(in) + k.S[0];
    uint32_t B = load_le(in + 4) + k.S[1];
    for (unsigned i = 1; i <= k.rounds; ++i) {
        A = rotl(A ^ B, B) + k.S[2 * i];
        B = rotl(B ^ A, A) + k.S[2 * i + 1];
    }
    store_le(out, A);
    store_le(out + 4, B);
}

void rc5_decrypt(const Rc5Key &k, const uint8_t in[8], uint8_t out[8]) {
    uint32_t A = load_le(in);
    uint32_t B = load_le(in + 4);
    for (unsigned i = k.rounds; i >= 1; --i) {
        B = rotr(B - k.S[2 * i + 1], A) ^ A;
        A = rotr(A - k.S[2 * i], B) ^ B;
    }
    store_le(out, A - k.S[0]);
    store_le(out + 4, B - k.S[1]);
}

}  // namespace ostrel::crypto
