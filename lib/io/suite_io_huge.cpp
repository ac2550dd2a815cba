// Big-endian integers in ASN.1 INTEGER content form (HUGE), hex strings and small numbers.
#include <cstdlib>
#include <cstring>

#include "io_internal.h"

namespace {

constexpr char kLower[] = "0123456789abcdef";
constexpr char kUpper[] = "0123456789ABCDEF";

// Two hex digits per byte value, so the conversion loop does one table load per byte.
struct PairTable {
    char pairs[256][2];
    constexpr explicit PairTable(const char *digits) : pairs() {
        for (int b = 0; b < 256; ++b) {
            pairs[b][0] = digits[b >> 4];
            pairs[b][1] = digits[b & 15];
        }
    }
};
constexpr PairTable kLowerPairs(kLower);
constexpr PairTable kUpperPairs(kUpper);

int hex_of(const unsigned char *data, int len, char **out, const char *digits) {
    if (!out || (len > 0 && !data)) return QRT_IO_INVALID_INPUT;
    size_t n = len > 0 ? static_cast<size_t>(len) : 0;
    auto *s = static_cast<char *>(QRT_malloc(2 * n + 1));
    if (!s) return QRT_IO_MALLOC_FAILED;
    const PairTable &table = digits == kUpper ? kUpperPairs : kLowerPairs;
    for (size_t i = 0; i < n; ++i) std::memcpy(s + 2 * i, table.pairs[data[i]], 2);
    s[2 * n] = '\0';
    *out = s;
    return 0;
}

int nibble(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

int num_to_huge(const char *func, unsigned int n, HUGE *huge) {
    if (!huge) return QRT_IO_INVALID_INPUT;
    huge->length = 0;
    huge->value = nullptr;
    auto *p = static_cast<unsigned char *>(QRT_calloc(5, 1));
    if (!p) return OSTREL_FAIL_AS(func, QRT_IO_MALLOC_FAILED);
    int k = QRT_GetIntLen(n);
    unsigned short len = 0;
    if (k == 0) {
        len = 1;  // the single byte 0x00
    } else {
        unsigned char top = static_cast<unsigned char>(n >> (8 * (k - 1)));
        if (top & 0x80) p[len++] = 0x00;
        for (int i = k - 1; i >= 0; --i) p[len++] = static_cast<unsigned char>(n >> (8 * i));
    }
    huge->value = p;
    huge->length = len;
    return 0;
}

int str_to_huge(const char *func, const char *str, HUGE *huge) {
    if (!str || !huge) return QRT_IO_INVALID_INPUT;
    long v = std::strtol(str, nullptr, 10);
    return num_to_huge(func, static_cast<unsigned int>(v), huge);
}

int huge_to_num(const char *func, const HUGE *huge, unsigned int *out) {
    if (!huge || !out || !huge->value) return QRT_IO_INVALID_INPUT;
    const unsigned char *v = huge->value;
    unsigned int len = huge->length;
    if (len >= 6) return OSTREL_FAIL_AS(func, QRT_IO_HUGE_TOO_LARGE);
    if (len == 5) {
        if (v[0] != 0x00) return OSTREL_FAIL_AS(func, QRT_IO_HUGE_NEGATIVE);
        ++v;
        --len;
    } else if (len > 0 && (v[0] & 0x80)) {
        return OSTREL_FAIL_AS(func, QRT_IO_HUGE_NEGATIVE);
    }
    unsigned int r = 0;
    for (unsigned int i = 0; i < len; ++i) r = (r << 8) | v[i];
    *out = r;
    return 0;
}

int huge_to_hex(const HUGE *huge, char **out, const char *digits) {
    if (!huge || !out) return QRT_IO_INVALID_INPUT;
    return hex_of(huge->value, huge->length, out, digits);
}

int hex_to_huge(const char *func, const char *hex, HUGE *huge) {
    if (!hex || !huge) return QRT_IO_INVALID_INPUT;
    if (std::strlen(hex) / 2 > 0xFFFF) return OSTREL_FAIL_AS(func, QRT_IO_HUGE_TOO_LARGE);
    unsigned char *bytes = nullptr;
    int n = 0;
    int rc = QRT_HexToBin(hex, &bytes, &n);
    huge->value = bytes;
    huge->length = static_cast<unsigned short>(n);
    return rc;
}

int dup_huge(const char *func, const HUGE *src, HUGE *dst) {
    if (!src || !dst || (src->length && !src->value)) return QRT_IO_INVALID_INPUT;
    auto *p = static_cast<unsigned char *>(QRT_calloc(static_cast<size_t>(src->length) + 1, 1));
    if (!p) return OSTREL_FAIL_AS(func, QRT_IO_MALLOC_FAILED);
    if (src->length) std::memcpy(p, src->value, src->length);
    dst->length = src->length;
    dst->value = p;
    return 0;
}

int cmp_huge(const HUGE *a, const HUGE *b) {
    if (!a || !b || a->length != b->length) return -1;
    if (a->length == 0) return 0;
    if (!a->value || !b->value) return -1;
    return std::memcmp(a->value, b->value, a->length) == 0 ? 0 : -1;
}

}  // namespace

extern "C" {

QRT_API int QRT_GetIntLen(unsigned int n) {
    int k = 0;
    while (k < 4 && n != 0) {
        n >>= 8;
        ++k;
    }
    return k;
}

QRT_API int QRT_BinToHex(const unsigned char *data, int len, char **out) { return hex_of(data, len, out, kLower); }
QRT_API int QRT_BinToHEX(const unsigned char *data, int len, char **out) { return hex_of(data, len, out, kUpper); }

QRT_API int QRT_HexToBin(const char *hex, unsigned char **out, int *outlen) {
    if (!hex || !out || !outlen) return QRT_IO_INVALID_INPUT;
    size_t len = std::strlen(hex);
    if (len % 2 != 0 || len / 2 > 0x7FFFFFFF) {
        *out = nullptr;
        *outlen = 0;
        return QRT_IO_INVALID_INPUT;
    }
    size_t n = len / 2;
    auto *p = static_cast<unsigned char *>(QRT_calloc(n + 1, 1));
    if (!p) return QRT_IO_MALLOC_FAILED;
    *out = p;
    *outlen = static_cast<int>(n);
    for (size_t i = 0; i < n; ++i) {
        int hi = nibble(hex[2 * i]), lo = nibble(hex[2 * i + 1]);
        if (hi < 0 || lo < 0) return OSTREL_FAIL(QRT_IO_INTERNAL);
        p[i] = static_cast<unsigned char>((hi << 4) | lo);
    }
    return 0;
}

QRT_API int QRT_HexToNum(const char *hex, unsigned int *out) {
    if (!hex || !out) return QRT_IO_INVALID_INPUT;
    unsigned char *bytes = nullptr;
    int n = 0;
    int rc = QRT_HexToBin(hex, &bytes, &n);
    if (rc == 0) {
        if (n > 4) {
            *out = 0xFFFFFFFFu;
            rc = OSTREL_FAIL(QRT_IO_ERROR);
        } else {
            unsigned int v = 0;
            for (int i = 0; i < n; ++i) v = (v << 8) | bytes[i];
            *out = v;
        }
    }
    QRT_free(bytes);
    return rc;
}

QRT_API int QRT_NumToHex(unsigned int n, char *dst) {
    if (!dst) return QRT_IO_INVALID_INPUT;
    int k = QRT_GetIntLen(n);
    if (k == 0) k = 1;
    char *p = dst;
    for (int i = k - 1; i >= 0; --i) {
        unsigned int b = (n >> (8 * i)) & 0xFF;
        *p++ = kLower[b >> 4];
        *p++ = kLower[b & 15];
    }
    *p = '\0';
    return 0;
}

QRT_API int QRT_NumToHuge(unsigned int n, HUGE *huge) { return num_to_huge(__func__, n, huge); }
QRT_API int QRT_NumToHugeEx(unsigned int n, HUGE *huge) { return num_to_huge(__func__, n, huge); }
QRT_API int QRT_StrToHuge(const char *str, HUGE *huge) { return str_to_huge(__func__, str, huge); }
QRT_API int QRT_StrToHugeEx(const char *str, HUGE *huge) { return str_to_huge(__func__, str, huge); }
QRT_API int QRT_HugeToNum(const HUGE *huge, unsigned int *out) { return huge_to_num(__func__, huge, out); }
QRT_API int QRT_HugeToNumEx(const HUGE *huge, unsigned int *out) { return huge_to_num(__func__, huge, out); }
QRT_API int QRT_HugeToHex(const HUGE *huge, char **out) { return huge_to_hex(huge, out, kLower); }
QRT_API int QRT_HugeToHexEx(const HUGE *huge, char **out) { return huge_to_hex(huge, out, kLower); }
QRT_API int QRT_HugeToHEX(const HUGE *huge, char **out) { return huge_to_hex(huge, out, kUpper); }
QRT_API int QRT_HugeToHEXEx(const HUGE *huge, char **out) { return huge_to_hex(huge, out, kUpper); }
QRT_API int QRT_HexToHuge(const char *hex, HUGE *huge) { return hex_to_huge(__func__, hex, huge); }
QRT_API int QRT_HexToHugeEx(const char *hex, HUGE *huge) { return hex_to_huge(__func__, hex, huge); }
QRT_API int QRT_DupHuge(const HUGE *src, HUGE *dst) { return dup_huge(__func__, src, dst); }
QRT_API int QRT_DupHugeEx(const HUGE *src, HUGE *dst) { return dup_huge(__func__, src, dst); }
QRT_API int QRT_CmpHuge(const HUGE *a, const HUGE *b) { return cmp_huge(a, b); }
QRT_API int QRT_CmpHugeEx(const HUGE *a, const HUGE *b) { return cmp_huge(a, b); }

}  // extern "C"
