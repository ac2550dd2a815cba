// Lower-case hex text of bytes and back, and the printable-ASCII test.
#include <cstring>

#include "codec_internal.h"
#include "ostrel/owners.hpp"

namespace {

// Value of a hex digit of either case, or -1.
int nibble(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<unsigned char>(c | 0x20);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

extern "C" {

QRT_API int QRT_BinToStr(const BIN *bin, char **text) {
    static const char kDigits[] = "0123456789abcdef";
    if (!bin || !text || (bin->length && !bin->value)) return QRT_CODEC_INVALID_INPUT;
    size_t n = bin->length;
    if (!ostrel::codec::fits_length(2 * n)) return QRT_CODEC_INVALID_INPUT;
    auto *s = static_cast<char *>(QRT_calloc(2 * n + 1, 1));
    if (!s) return QRT_CODEC_MALLOC_FAILED;
    for (size_t i = 0; i < n; ++i) {
        s[2 * i] = kDigits[bin->value[i] >> 4];
        s[2 * i + 1] = kDigits[bin->value[i] & 15];
    }
    *text = s;
    return 0;
}

QRT_API int QRT_StrToBin(const char *text, BIN *bin) {
    if (!text || !bin) return QRT_CODEC_INVALID_INPUT;
    bin->length = 0;
    bin->value = nullptr;
    size_t len = std::strlen(text);
    if (len % 2 != 0) return QRT_CODEC_BAD_HEXA_STRING;
    if (len == 0) return 0;
    if (!ostrel::codec::fits_length(len)) return QRT_CODEC_INVALID_INPUT;
    auto *p = static_cast<unsigned char *>(QRT_calloc(len / 2, 1));
    if (!p) return QRT_CODEC_MALLOC_FAILED;
    bin->value = p;
    for (size_t i = 0; i < len / 2; ++i) {
        int hi = nibble(static_cast<unsigned char>(text[2 * i]));
        int lo = nibble(static_cast<unsigned char>(text[2 * i + 1]));
        if (hi < 0 || lo < 0) {
            ostrel::wipe(p, i);  // the buffer stays with the caller, without half a result
            return QRT_CODEC_BAD_HEXA_STRING;
        }
        p[i] = static_cast<unsigned char>(hi << 4 | lo);
    }
    bin->length = static_cast<unsigned int>(len / 2);
    return 0;
}

QRT_API int QRT_IsASCII(const char *text) {
    if (!text) return 0;
    for (auto *p = reinterpret_cast<const unsigned char *>(text); *p; ++p)
        if (*p < 0x20 || *p > 0x7F) return 0;
    return 1;
}

}  // extern "C"
