// HAS-160 (TTAS.KO-12.0011): 512-bit blocks of little-endian words, 80 steps in four rounds of
// twenty, each round extending the sixteen message words by four XOR combinations.
#include <bit>
#include <cstring>

#include "crypto_internal.h"

namespace ostrel::crypto {

namespace {

inline uint32_t rotl(uint32_t x, unsigned s) { return (x << s) | (x >> (32 - s)); }

inline uint32_t load_le(const uint8_t *p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

struct Has160State {
    uint32_t h[5];
    uint64_t bytes;
    uint8_t buf[64];
    unsigned used;
};

inline uint32_t f1(uint32_t x, uint32_t y, uint32_t z) { return z ^ (x & (y ^ z)); }  // (x & y) | (~x & z)
inline uint32_t f2(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }
inline uint32_t f3(uint32_t x, uint32_t y, uint32_t z) { return y ^ (x | ~z); }

// One step: T = rotl(A, s) + f(B, C, D) + E + word + K; E = D, D = C, C = rotl(B, s2), B = A,
// A = T. The registers are renamed from step to step instead of moved.
#define HAS_STEP(F, a, b, c, d, e, s, s2, w, k)   \
    do {                                          \
        e += rotl(a, s) + F(b, c, d) + (w) + (k); \
        b = rotl(b, s2);                          \
    } while (0)

// Twenty steps of a round. The rotations of A repeat in every round; the message words follow
// the round's order, with the four extra words in positions 0, 5, 10 and 15.
#define HAS_ROUND(F, s2, k, w0, w1, w2, w3, w4, w5, w6, w7, w8, w9, w10, w11, w12, w13, w14, w15, w16, w17, w18, w19) \
    do {                                                                                                              \
        HAS_STEP(F, a, b, c, d, e, 5, s2, w0, k);                                                                     \
        HAS_STEP(F, e, a, b, c, d, 11, s2, w1, k);                                                                    \
        HAS_STEP(F, d, e, a, b, c, 7, s2, w2, k);                                                                     \
        HAS_STEP(F, c, d, e, a, b, 15, s2, w3, k);                                                                    \
        HAS_STEP(F, b, c, d, e, a, 6, s2, w4, k);                                                                     \
        HAS_STEP(F, a, b, c, d, e, 13, s2, w5, k);                                                                    \
        HAS_STEP(F, e, a, b, c, d, 8, s2, w6, k);                                                                     \
        HAS_STEP(F, d, e, a, b, c, 14, s2, w7, k);                                                                    \
        HAS_STEP(F, c, d, e, a, b, 7, s2, w8, k);                                                                     \
        HAS_STEP(F, b, c, d, e, a, 12, s2, w9, k);                                                                    \
        HAS_STEP(F, a, b, c, d, e, 9, s2, w10, k);                                                                    \
        HAS_STEP(F, e, a, b, c, d, 11, s2, w11, k);                                                                   \
        HAS_STEP(F, d, e, a, b, c, 8, s2, w12, k);                                                                    \
        HAS_STEP(F, c, d, e, a, b, 15, s2, w13, k);                                                                   \
        HAS_STEP(F, b, c, d, e, a, 6, s2, w14, k);                                                                    \
        HAS_STEP(F, a, b, c, d, e, 12, s2, w15, k);                                                                   \
        HAS_STEP(F, e, a, b, c, d, 9, s2, w16, k);                                                                    \
        HAS_STEP(F, d, e, a, b, c, 14, s2, w17, k);                                                                   \
        HAS_STEP(F, c, d, e, a, b, 5, s2, w18, k);                                                                    \
        HAS_STEP(F, b, c, d, e, a, 13, s2, w19, k);                                                                   \
    } while (0)

void compress(uint32_t h[5], const uint8_t *m) {
    uint32_t x[16];
    std::memcpy(x, m, sizeof x);
    if (std::endian::native != std::endian::little)
        for (uint32_t &w : x) w = load_le(reinterpret_cast<const uint8_t *>(&w));
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    uint32_t x16, x17, x18, x19;

    x16 = x[0] ^ x[1] ^ x[2] ^ x[3];
    x17 = x[4] ^ x[5] ^ x[6] ^ x[7];
    x18 = x[8] ^ x[9] ^ x[10] ^ x[11];
    x19 = x[12] ^ x[13] ^ x[14] ^ x[15];
    HAS_ROUND(f1, 10, 0x00000000u, x18, x[0], x[1], x[2], x[3], x19, x[4], x[5], x[6], x[7], x16, x[8], x[9], x[10],
              x[11], x17, x[12], x[13], x[14], x[15]);

    x16 = x[3] ^ x[6] ^ x[9] ^ x[12];
    x17 = x[15] ^ x[2] ^ x[5] ^ x[8];
    x18 = x[11] ^ x[14] ^ x[1] ^ x[4];
    x19 = x[7] ^ x[10] ^ x[13] ^ x[0];
    HAS_ROUND(f2, 17, 0x5a827999u, x18, x[3], x[6], x[9], x[12], x19, x[15], x[2], x[5], x[8], x16, x[11], x[14], x[1],
              x[4], x17, x[7], x[10], x[13], x[0]);

    x16 = x[12] ^ x[5] ^ x[14] ^ x[7];
    x17 = x[0] ^ x[9] ^ x[2] ^ x[11];
    x18 = x[4] ^ x[13] ^ x[6] ^ x[15];
    x19 = x[8] ^ x[1] ^ x[10] ^ x[3];
    HAS_ROUND(f3, 25, 0x6ed9eba1u, x18, x[12], x[5], x[14], x[7], x19, x[0], x[9], x[2], x[11], x16, x[4], x[13], x[6],
              x[15], x17, x[8], x[1], x[10], x[3]);

    x16 = x[7] ^ x[2] ^ x[13] ^ x[8];
    x17 = x[3] ^ x[14] ^ x[9] ^ x[4];
    x18 = x[15] ^ x[10] ^ x[5] ^ x[0];
    x19 = x[11] ^ x[6] ^ x[1] ^ x[12];
    HAS_ROUND(f2, 30, 0x8f1bbcdcu, x18, x[7], x[2], x[13], x[8], x19, x[3], x[14], x[9], x[4], x16, x[15], x[10], x[5],
              x[0], x17, x[11], x[6], x[1], x[12]);

    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
}

#undef HAS_ROUND
#undef HAS_STEP

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
