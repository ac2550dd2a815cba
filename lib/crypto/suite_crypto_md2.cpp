// MD2 (RFC 1319): 16-byte blocks, a 48-byte state, a running checksum appended at the end.
#include <cstring>

#include "crypto_internal.h"

namespace ostrel::crypto {

namespace {

// The permutation of 0..255 built from the digits of pi (RFC 1319, section 3.4).
constexpr uint8_t kPi[256] = {
    41,  46,  67,  201, 162, 216, 124, 1,   61,  54,  84,  161, 236, 240, 6,   19,  98,  167, 5,   243, 192, 199,
    115, 140, 152, 147, 43,  217, 188, 76,  130, 202, 30,  155, 87,  60,  253, 212, 224, 22,  103, 66,  111, 24,
    138, 23,  229, 18,  190, 78,  196, 214, 218, 158, 222, 73,  160, 251, 245, 142, 187, 47,  238, 122, 169, 104,
    121, 145, 21,  178, 7,   63,  148, 194, 16,  137, 11,  34,  95,  33,  128, 127, 93,  154, 90,  144, 50,  39,
    53,  62,  204, 231, 191, 247, 151, 3,   255, 25,  48,  179, 72,  165, 181, 209, 215, 94,  146, 42,  172, 86,
    170, 198, 79,  184, 56,  210, 150, 164, 125, 182, 118, 252, 107, 226, 156, 116, 4,   241, 69,  157, 112, 89,
    100, 113, 135, 32,  134, 91,  207, 101, 230, 45,  168, 2,   27,  96,  37,  173, 174, 176, 185, 246, 28,  70,
    97,  105, 52,  64,  126, 15,  85,  71,  163, 35,  221, 81,  175, 58,  195, 92,  249, 206, 186, 197, 234, 38,
    44,  83,  13,  110, 133, 40,  132, 9,   211, 223, 205, 244, 65,  129, 77,  82,  106, 220, 55,  200, 108, 193,
    171, 250, 36,  225, 123, 8,   12,  189, 177, 74,  120, 136, 149, 139, 227, 99,  232, 109, 233, 203, 213, 254,
    59,  0,   29,  57,  242, 239, 183, 14,  102, 88,  208, 228, 166, 119, 114, 248, 235, 117, 75,  10,  49,  68,
    80,  180, 143, 237, 31,  26,  219, 153, 141, 51,  159, 17,  131, 20,
};

struct Md2State {
    uint8_t x[48];
    uint8_t checksum[16];
    uint8_t buf[16];
    unsigned used;
};

void block(Md2State &s, const uint8_t *m) {
    uint8_t l = s.checksum[15];
    for (int i = 0; i < 16; ++i) {
        s.x[16 + i] = m[i];
        s.x[32 + i] = static_cast<uint8_t>(m[i] ^ s.x[i]);
        l = s.checksum[i] ^= kPi[m[i] ^ l];
    }
    unsigned t = 0;
    for (unsigned round = 0; round < 18; ++round) {
        for (int k = 0; k < 48; ++k) t = s.x[k] ^= kPi[t];
        t = (t + round) & 0xff;
    }
}

void md2_init(void *p) { std::memset(p, 0, sizeof(Md2State)); }

void md2_update(void *p, const uint8_t *in, size_t n) {
    auto &s = *static_cast<Md2State *>(p);
    if (s.used) {
        size_t take = std::min<size_t>(16 - s.used, n);
        std::memcpy(s.buf + s.used, in, take);
        s.used += static_cast<unsigned>(take);
        in += take;
        n -= take;
        if (s.used < 16) return;
        block(s, s.buf);
        s.used = 0;
    }
    for (; n >= 16; in += 16, n -= 16) block(s, in);
    std::memcpy(s.buf, in, n);
    s.used = static_cast<unsigned>(n);
}

void md2_final(void *p, uint8_t *out) {
    auto &s = *static_cast<Md2State *>(p);
    uint8_t pad = static_cast<uint8_t>(16 - s.used);
    std::memset(s.buf + s.used, pad, pad);
    block(s, s.buf);
    uint8_t sum[16];
    std::memcpy(sum, s.checksum, 16);
    block(s, sum);
    std::memcpy(out, s.x, 16);
}

}  // namespace

static_assert(sizeof(Md2State) <= kOwnHashStateMax);
const OwnHash kMd2 = {sizeof(Md2State), md2_init, md2_update, md2_final};

}  // namespace ostrel::crypto
