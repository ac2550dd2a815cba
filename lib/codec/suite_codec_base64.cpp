// Base64 in one line (block) or in lines of 64 characters, and the matching decoders.
#include <array>
#include <cstdint>
#include <cstring>

#include "codec_internal.h"
#include "ostrel/owners.hpp"

namespace ostrel::codec {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Character classes of the decoder; values 0-63 are alphabet digits.
constexpr unsigned char kBlank = 0xE0;    // tab, space
constexpr unsigned char kEol = 0xF0;      // line feed
constexpr unsigned char kCr = 0xF1;       // carriage return
constexpr unsigned char kEod = 0xF2;      // "-", end of data
constexpr unsigned char kInvalid = 0xFF;  // anything else

constexpr size_t kLineBytes = 48;     // bytes per line of QRT_Base64_Encode (64 characters)
constexpr size_t kMaxLineChars = 80;  // longest line QRT_Base64_Decode accepts, with its LF

// Indexed by a character's low 7 bits, so a byte with its top bit set is read as the byte
// without it.
constexpr std::array<unsigned char, 128> make_classes() {
    std::array<unsigned char, 128> t{};
    for (auto &c : t) c = kInvalid;
    for (unsigned char i = 0; i < 64; ++i) t[static_cast<unsigned char>(kAlphabet[i])] = i;
    t['='] = 0;
    t['\t'] = kBlank;
    t[' '] = kBlank;
    t['\n'] = kEol;
    t['\r'] = kCr;
    t['-'] = kEod;
    return t;
}
constexpr auto kClass = make_classes();

inline unsigned char cls(char c) { return kClass[static_cast<unsigned char>(c) & 0x7F]; }

// The digit of every byte placed at its position k (0-3) in a 24-bit group; anything that is not
// a digit (or "=") sets bits above the group.
constexpr std::array<std::array<uint32_t, 256>, 4> make_digits() {
    std::array<std::array<uint32_t, 256>, 4> t{};
    for (unsigned k = 0; k < 4; ++k)
        for (unsigned c = 0; c < 256; ++c) {
            unsigned v = kClass[c & 0x7F];
            t[k][c] = v & 0x80 ? 0xFF000000u : v << (18 - 6 * k);
        }
    return t;
}
constexpr auto kDigits = make_digits();

// Blanks, CR, LF and "-" surround the text but do not belong to it.
inline bool outside_text(char c) { return (cls(c) | 0x13) == 0xF3; }

}  // namespace

// Two characters for every 12 bits: one look-up per half of a 3-byte group.
constexpr std::array<char, 2 * 4096> make_pairs() {
    std::array<char, 2 * 4096> t{};
    for (size_t i = 0; i < 4096; ++i) {
        t[2 * i] = kAlphabet[i >> 6];
        t[2 * i + 1] = kAlphabet[i & 63];
    }
    return t;
}
constexpr auto kPairs = make_pairs();

size_t encode_block(char *out, const unsigned char *in, size_t n) {
    char *o = out;
    size_t i = 0;
    for (; i + 3 <= n; i += 3, o += 4) {
        unsigned v = (unsigned{in[i]} << 16) | (unsigned{in[i + 1]} << 8) | in[i + 2];
        std::memcpy(o, &kPairs[2 * (v >> 12)], 2);
        std::memcpy(o + 2, &kPairs[2 * (v & 0xFFF)], 2);
    }
    if (size_t rest = n - i) {
        unsigned v = unsigned{in[i]} << 16;
        if (rest == 2) v |= unsigned{in[i + 1]} << 8;
        o[0] = kAlphabet[v >> 18];
        o[1] = kAlphabet[(v >> 12) & 63];
        o[2] = rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        o[3] = '=';
        o += 4;
    }
    return static_cast<size_t>(o - out);
}

long decode_block(unsigned char *out, size_t cap, const char *text, size_t len) {
    while (len > 0 && cls(*text) == kBlank) {
        ++text;
        --len;
    }
    while (len > 3 && outside_text(text[len - 1])) --len;
    if (len % 4 != 0) return -1;
    size_t groups = len / 4;
    if (groups * 3 > cap) return -1;
    unsigned char *o = out;
    const auto *t = reinterpret_cast<const unsigned char *>(text);
    for (size_t g = 0; g < groups; ++g, t += 4, o += 3) {
        uint32_t v = kDigits[0][t[0]] | kDigits[1][t[1]] | kDigits[2][t[2]] | kDigits[3][t[3]];
        if (v >> 24) return -1;
        o[0] = static_cast<unsigned char>(v >> 16);
        o[1] = static_cast<unsigned char>(v >> 8);
        o[2] = static_cast<unsigned char>(v);
    }
    long count = static_cast<long>(groups * 3);
    if (len > 0 && text[len - 1] == '=') {
        --count;
        if (len > 1 && text[len - 2] == '=') --count;
    }
    return count;
}

}  // namespace ostrel::codec

using namespace ostrel::codec;

namespace {

// A zeroed buffer of at least one byte, so that empty outputs are still valid strings.
unsigned char *alloc_zeroed(size_t n) { return static_cast<unsigned char *>(QRT_calloc(n ? n : 1, 1)); }

// Keeps a buffer given back to the caller after a failed decode: no decoded bytes stay in it.
void keep_wiped(BIN *bin, unsigned char *buf, size_t size) {
    ostrel::wipe(buf, size);
    bin->value = buf;
    bin->length = 0;
}

}  // namespace

extern "C" {

QRT_API int QRT_Base64_EncodeBlock(char *out, int *outlen, const unsigned char *data, int n) {
    if (!out || !outlen || n < 0 || (n > 0 && !data)) return QRT_CODEC_ERROR;
    auto len = static_cast<size_t>(n);
    if (!fits_length(base64_chars(len))) return QRT_CODEC_ERROR;
    size_t k = encode_block(out, data, len);
    out[k] = '\0';
    *outlen = static_cast<int>(k);
    return 0;
}

QRT_API int QRT_Base64_DecodeBlock(unsigned char *out, BIN *result, const char *text, int len) {
    if (!out || !result || !text || len < 0) return QRT_CODEC_ERROR;
    auto n = static_cast<size_t>(len);
    long r = decode_block(out, n / 4 * 3, text, n);
    if (r < 0) return QRT_CODEC_ERROR;
    result->length = static_cast<unsigned int>(r);
    return 0;
}

QRT_API int QRT_BinToBase64(const BIN *bin, char **text) {
    if (!bin || !text || (bin->length && !bin->value)) return QRT_CODEC_INVALID_INPUT;
    size_t n = bin->length;
    // 2n+7 is computed wide: in 32 bits it wraps for lengths near 2^31 and would be overrun.
    size_t size = 2 * n + 7;
    if (!fits_length(base64_chars(n))) return QRT_CODEC_INVALID_INPUT;
    auto *buf = reinterpret_cast<char *>(alloc_zeroed(size));
    if (!buf) return QRT_CODEC_MALLOC_FAILED;
    size_t k = encode_block(buf, bin->value, n);
    buf[k] = '\0';
    *text = buf;
    return 0;
}

QRT_API int QRT_Base64ToBin(const char *text, BIN *bin) {
    if (!text || !bin) return QRT_CODEC_INVALID_INPUT;
    bin->length = 0;
    bin->value = nullptr;
    size_t len = std::strlen(text);
    if (!fits_length(len)) return QRT_CODEC_INVALID_INPUT;
    unsigned char *buf = alloc_zeroed(len);
    if (!buf) return QRT_CODEC_MALLOC_FAILED;
    long r = decode_block(buf, len, text, len);
    if (r < 0) {
        keep_wiped(bin, buf, len);
        return QRT_CODEC_ERROR;
    }
    bin->value = buf;
    bin->length = static_cast<unsigned int>(r);
    return 0;
}

QRT_API int QRT_Base64_Encode(BIN *out, const BIN *in) {
    if (!out || !in || (in->length && !in->value)) return QRT_CODEC_INVALID_INPUT;
    out->length = 0;
    out->value = nullptr;
    size_t n = in->length;
    size_t lines = (n + kLineBytes - 1) / kLineBytes;
    size_t chars = base64_chars(n) + 2 * lines;
    if (!fits_length(chars)) return QRT_CODEC_INVALID_INPUT;
    size_t size = 2 * n + 7;
    if (chars + 1 > size) return QRT_CODEC_INTERNAL;  // cannot happen: Base64 grows by 4/3
    auto *buf = reinterpret_cast<char *>(alloc_zeroed(size));
    if (!buf) return QRT_CODEC_MALLOC_FAILED;
    char *o = buf;
    for (size_t i = 0; i < n; i += kLineBytes) {
        size_t piece = n - i < kLineBytes ? n - i : kLineBytes;
        o += encode_block(o, in->value + i, piece);
        *o++ = '\r';
        *o++ = '\n';
    }
    *o = '\0';
    out->value = reinterpret_cast<unsigned char *>(buf);
    out->length = static_cast<unsigned int>(o - buf);
    return 0;
}

QRT_API int QRT_Base64_Decode(BIN *out, const BIN *in) {
    if (!out || !in || (in->length && !in->value)) return QRT_CODEC_INVALID_INPUT;
    out->length = 0;
    out->value = nullptr;
    size_t n = in->length;
    unsigned char *buf = alloc_zeroed(n);
    if (!buf) return QRT_CODEC_MALLOC_FAILED;
    const char *text = reinterpret_cast<const char *>(in->value);
    size_t pos = 0, produced = 0;
    while (pos < n) {
        const void *lf = std::memchr(text + pos, '\n', n - pos);
        long r = 0;
        size_t line = lf ? static_cast<size_t>(static_cast<const char *>(lf) - (text + pos)) + 1 : 0;
        if (!lf || line > kMaxLineChars) {
            r = -1;
        } else if (line > 4) {
            r = decode_block(buf + produced, n - produced, text + pos, line);
        }
        if (r < 0) {
            ostrel::wipe(buf, n);
            QRT_free(buf);
            return QRT_CODEC_ERROR;
        }
        produced += static_cast<size_t>(r);
        pos += line;
    }
    out->value = buf;
    out->length = static_cast<unsigned int>(produced);
    return 0;
}

}  // extern "C"
