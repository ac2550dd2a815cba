// HAS-160 (TTAS.KO-12.0011): 512-bit blocks of little-endian words, 80 steps in four rounds of
// twenty, each round extending the sixteen message words by four XOR combinations.
#include <cstring>

#include "crypto_internal.h"

namespace ostrel::crypto {

namespace {

inline uint32_t rotl(uint32_t x, unsigned s) { return (x << s) | (x >> (32 - s)); }

inline uint32_t load_le(const uint8_t *p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// Rotation of A by step within a round; the same in every round.
constexpr unsigned kRotA[20] = {5, 11, 7, 15, 6, 13, 8, 14, 7, 12, 9, 11, 8, 15, 6, 12, 9, 14, 5, 13};
// Rotation of B per round.
constexpr unsigned kRotB[4] = {10, 17, 25, 30};
constexpr uint32_t kK[4] = {0x00000000, 0x5a827999, 0x6ed9eba1, 0x8f1bbcdc};
// Message word of each step (16..19 are the round's extra words).
constexpr uint8_t kOrder[4][20] = {
    {18, 0, 1, 2, 3, 19, 4, 5, 6, 7, 16, 8, 9, 10, 11, 17, 12, 13, 14, 15},
    {18, 3, 6, 9, 12, 19, 15, 2, 5, 8, 16, 11, 14, 1, 4, 17, 7, 10, 13, 0},
    {18, 12, 5, 14, 7, 19, 0, 9, 2, 11, 16, 4, 13, 6, 15, 17, 8, 1, 10, 3},
    {18, 7, 2, 13, 8, 19, 3, 14, 9, 4, 16, 15, 10, 5, 0, 17, 11, 6, 1, 12},
};
// The four words XORed into extra word 16 + i of each round.
constexpr uint8_t kExtra[4][4][4] = {
    {{0, 1, 2, 3}, {4, 5, 6, 7}, {8, 9, 10, 11}, {12, 13, 14, 15}},
    {{3, 6, 9, 12}, {15, 2, 5, 8}, {11, 14, 1, 4}, {7, 10, 13, 0}},
    {{12, 5, 14, 7}, {0, 9, 2, 11}, {4, 13, 6, 15}, {8, 1, 10, 3}},
    {{7, 2, 13, 8}, {3, 14, 9, 4}, {15, 10, 5, 0}, {11, 6, 1, 12}},
};

struct Has160State {
    uint32_t h[5];
    uint64_t bytes;
    uint8_t buf[64];
    unsigned used;
};

template <int R>
inline uint32_t f(uint32_t x, uint32_t y, uint32_t z) {
    if constexpr (R == 0) return (x & y) | (~x & z);
    if constexpr (R == 2) return y ^ (x | ~z);
    return x ^ y ^ z;
}

template <int R>
inline void round(uint32_t &a, uint32_t &b, uint32_t &c, uint32_t &d, uint32_t &e, uint32_t x[20]) {
    for (int i = 0; i < 4; ++i) {
        const uint8_t *w = kExtra[R][i];
        x[16 + i] = x[w[0]] ^ x[w[1]] ^ x[w[2]] ^ x[w[3]];
    }
    for (int j = 0; j < 20; ++j) {
        uint32_t t = rotl(a, kRotA[j]) + f<R>(b, c, d) + e + x[kOrder[R][j]] + kK[R];
        e = d;
        d = c;
        c = rotl(b, kRotB[R]);
        b = a;
        a = t;
    }
}

void compress(uint32_t h[5], const uint8_t *m) {
    uint32_t x[20];
    for (int i = 0; i < 16; ++i) x[i] = load_le(m + 4 * i);
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    round<0>(a, b, c, d, e, x);
    round<1>(a, b, c, d, e, x);
    round<2>(a, b, c, d, e, x);
    round<3>(a, b, c, d, e, x);
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
}

void has_init(void *p) {
    auto &s = *static_cast<Has160State *>(p);
    std::memset(&s, 0, sizeof s);
    s.h[0] = 0x67452301;
    s.h[1] = 0xefcdab89;
    s.h[2] = 0x98badcfe;
    s.h[3] = 0x10325476;
    s.h[4] = 0xc3d2e1f0;
}

void has_update(void *p, const uint8_t *in, size_t n) {
    auto &s = *static_cast<Has160State *>(p);
    s.bytes += n;
    if (s.used) {
        size_t take = std::min<size_t>(64 - s.used, n);
        std::memcpy(s.buf + s.used, in, take);
        s.used += static_cast<unsigned>(take);
        in += take;
        n -= take;
        if (s.used < 64) return;
        compress(s.h, s.buf);
        s.used = 0;
    }
    for (; n >= 64; in += 64, n -= 64) compress(s.h, in);
    std::memcpy(s.buf, in, n);
    s.used = static_cast<unsigned>(n);
}

// MD5-style padding: 0x80, zeros, the bit length as a little-endian 64-bit number.
void has_final(void *p, uint8_t *out) {
    auto &s = *static_cast<Has160State *>(p);
    uint64_t bits = s.bytes * 8;
    s.buf[s.used++] = 0x80;
    if (s.used > 56) {
        std::memset(s.buf + s.used, 0, 64 - s.used);
        compress(s.h, s.buf);
        s.used = 0;
    }
    std::memset(s.buf + s.used, 0, 56 - s.used);
    for (int i = 0; i < 8; ++i) s.buf[56 + i] = static_cast<uint8_t>(bits >> (8 * i));
    compress(s.h, s.buf);
    for (int i = 0; i < 5; ++i)
        for (int k = 0; k < 4; ++k) out[4 * i + k] = static_cast<uint8_t>(s.h[i] >> (8 * k));
}

}  // namespace

static_assert(sizeof(Has160State) <= kOwnHashStateMax);
const OwnHash kHas160 = {sizeof(Has160State), has_init, has_update, has_final};

}  // namespace ostrel::crypto
