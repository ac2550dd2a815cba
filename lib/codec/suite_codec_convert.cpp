// Code-set conversion of whole texts: the driver over the character converters, and the
// EUC-KR helpers built on it.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "codec_charset.h"
#include "codec_internal.h"
#include "ostrel/owners.hpp"

using namespace ostrel::codec;

namespace {

struct Pair {
    const char *from;
    const char *to;
    Decoder decode;
    Encoder encode;
    size_t room;    // most bytes one character takes in the target
    size_t growth;  // most target bytes one source byte becomes
};

constexpr Pair kPairs[] = {
    {"ko_KR-euc", "ko_KR-UTF-8", euc_kr_mbtowc, utf8_wctomb, 3, 2},
    {"ko_KR-UTF-8", "ko_KR-euc", utf8_mbtowc, euc_kr_wctomb, 2, 2},
    {"ja_JP-EUC", "ja_JP-UTF-8", euc_jp_mbtowc, utf8_wctomb, 3, 2},
    {"ja_JP-UTF-8", "ja_JP-EUC", utf8_mbtowc, euc_jp_wctomb, 3, 2},
    // A half-width katakana is one byte in Shift_JIS and three in UTF-8.
    {"ja_JP-SJIS", "ja_JP-UTF-8", sjis_mbtowc, utf8_wctomb, 3, 3},
    {"ja_JP-UTF-8", "ja_JP-SJIS", utf8_mbtowc, sjis_wctomb, 3, 2},
};

const Pair *find_pair(const char *to, const char *from) {
    for (const Pair &p : kPairs)
        if (std::strcmp(p.from, from) == 0 && std::strcmp(p.to, to) == 0) return &p;
    return nullptr;
}

// Converts n bytes at s into buf of cap bytes (at least 1), keeping the last byte for the
// terminator; the encoder never gets more room than is left. The text length, or -1.
long convert(const Pair &p, unsigned char *buf, size_t cap, const unsigned char *s, size_t n) {
    size_t out = 0;
    const size_t limit = cap - 1;
    while (n > 0) {
        ucs4_t wc = 0;
        int used = p.decode(&wc, s, n);
        if (used < 0) return -1;
        int written = p.encode(buf + out, wc, std::min(p.room, limit - out));
        if (written < 0) return -1;
        s += used;
        n -= static_cast<size_t>(used);
        out += static_cast<size_t>(written);
    }
    buf[out] = '\0';
    return static_cast<long>(out);
}

// Converts into a new terminated buffer of `cap` bytes; 0, or the code of the failure.
int convert_new(const Pair &p, const unsigned char *s, size_t n, size_t cap, unsigned char **out, size_t *len) {
    auto *buf = static_cast<unsigned char *>(QRT_calloc(cap, 1));
    if (!buf) return QRT_CODEC_MALLOC_FAILED;
    long r = convert(p, buf, cap, s, n);
    if (r < 0) {
        ostrel::wipe(buf, cap);
        *out = buf;
        *len = 0;
        return QRT_CODEC_ERROR;
    }
    *out = buf;
    *len = static_cast<size_t>(r);
    return 0;
}

}  // namespace

extern "C" {

QRT_API int QRT_Codec_Convert(BIN *dst, const BIN *src, const char *to, const char *from) {
    if (!dst || !src || !to || !from || (src->length && !src->value)) return OSTREL_FAIL(QRT_CODEC_INVALID_INPUT);
    dst->length = 0;
    dst->value = nullptr;
    const Pair *p = find_pair(to, from);
    if (!p) return OSTREL_FAIL(QRT_CODEC_ERROR);
    // Sized by what the pair can grow to, so every convertible text fits.
    size_t n = src->length;
    if (n > (SIZE_MAX - 1) / p->growth || !fits_length(p->growth * n + 1)) return OSTREL_FAIL(QRT_CODEC_INVALID_INPUT);
    size_t len = 0;
    int rc = convert_new(*p, src->value, n, p->growth * n + 1, &dst->value, &len);
    dst->length = static_cast<unsigned int>(len);
    return rc ? OSTREL_FAIL(rc) : 0;
}

QRT_API int QRT_ConvCodeSet(const char *from, const char *to, const char *text, char *out) {
    if (!from || !to || !text || !out) return OSTREL_FAIL(QRT_CODEC_INVALID_INPUT);
    BIN src{static_cast<unsigned int>(std::strlen(text)), reinterpret_cast<unsigned char *>(const_cast<char *>(text))};
    ostrel::BinOwner dst;
    int rc = QRT_Codec_Convert(dst.get(), &src, to, from);
    // The caller's buffer holds twice the text and a byte: a longer result is refused.
    if (rc == 0 && dst->length > 2 * src.length) rc = QRT_CODEC_ERROR;
    if (rc != 0) {
        out[0] = '\0';
        return OSTREL_FAIL(rc);
    }
    std::memcpy(out, dst->value, dst->length);
    out[dst->length] = '\0';
    return 0;
}

QRT_API int QRT_EncodeUTF8(const char *text, char **out, int *outlen) {
    if (!text || !out || !outlen) return OSTREL_FAIL(QRT_CODEC_INVALID_INPUT);
    *out = nullptr;
    BIN src{static_cast<unsigned int>(std::strlen(text)), reinterpret_cast<unsigned char *>(const_cast<char *>(text))};
    BIN dst{0, nullptr};
    int rc = QRT_Codec_Convert(&dst, &src, "ko_KR-UTF-8", "ko_KR-euc");
    if (rc != 0) {
        QRT_BIN_Reset(&dst);
        return OSTREL_FAIL(rc);
    }
    *out = reinterpret_cast<char *>(dst.value);
    *outlen = static_cast<int>(dst.length);
    return 0;
}

// UTF-8 never grows when written as EUC-KR, so size+1 bytes always hold the result.
QRT_API int QRT_DecodeUTF8(const char *text, int size, char **out) {
    if (!text || !out || size < 0) return OSTREL_FAIL(QRT_CODEC_INVALID_INPUT);
    *out = nullptr;
    const Pair *p = find_pair("ko_KR-euc", "ko_KR-UTF-8");
    unsigned char *buf = nullptr;
    size_t len = 0, n = static_cast<size_t>(size);
    int rc = convert_new(*p, reinterpret_cast<const unsigned char *>(text), n, n + 1, &buf, &len);
    if (rc != 0) {
        QRT_free(buf);
        return OSTREL_FAIL(rc);
    }
    *out = reinterpret_cast<char *>(buf);
    return 0;
}

QRT_API int QRT_DecodeBMPStr(int count, const unsigned short *units, char *out) {
    if (!out || count < 0 || (count > 0 && !units)) return OSTREL_FAIL(QRT_CODEC_INVALID_INPUT);
    auto *o = reinterpret_cast<unsigned char *>(out);
    for (int i = 0; i < count; ++i) {
        unsigned u = units[i];
        if (u < 256) {
            *o++ = static_cast<unsigned char>(u);
        } else if (u >= 0xAC00 && u <= 0xD7A3) {
            int k = euc_kr_wctomb(o, u, 2);
            if (k < 0) {
                *o = '\0';
                return OSTREL_FAIL(QRT_CODEC_ERROR);
            }
            o += k;
        } else {
            *o++ = '?';
        }
    }
    *o = '\0';
    return 0;
}

}  // extern "C"
