// The tools' coding module: PEM, URL escaping, hex and string helpers.
#include "coding.h"

#include <climits>
#include <cstring>

#include "ostrel/owners.hpp"
#include "suite_codec.h"

namespace {

constexpr size_t kPemLineBytes = 48;  // 64 Base64 characters per PEM line
constexpr char kBegin[] = "-----BEGIN ";
constexpr char kEnd[] = "-----END ";
constexpr char kDashes[] = "-----\n";
constexpr size_t kEscapeBuffer = 4096;

constexpr size_t base64_chars(size_t n) { return (n + 2) / 3 * 4; }

char *put(char *o, const char *s, size_t n) {
    std::memcpy(o, s, n);
    return o + n;
}

// Lower-case hex digit value as the tools read it: digits above '9' count as 'a' to 'f'.
unsigned lower_nibble(char c) {
    auto u = static_cast<unsigned char>(c);
    return (u <= '9' ? u - '0' : u - 'a' + 10) & 0x0Fu;
}

int hex_value(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool url_unsafe(unsigned char c) {
    return c < 0x20 || c >= 0x7F || (c && std::strchr("<>\"#%{}|\\^~[]`' ", c) != nullptr);
}

}  // namespace

extern "C" {

int QRT_BinToPem(const BIN *bin, const char *label, BIN *pem) {
    if (!bin || !label || !pem || (bin->length && !bin->value)) return -1;
    pem->length = 0;
    pem->value = nullptr;
    size_t n = bin->length, lab = std::strlen(label);
    size_t a = n / kPemLineBytes + lab + 2 * (n / 3);
    size_t size = 2 * a + 136;
    size_t full = n / kPemLineBytes, rest = n % kPemLineBytes;
    size_t text = (sizeof kBegin - 1 + lab + sizeof kDashes - 1) + full * 65 + (rest ? base64_chars(rest) + 1 : 0) +
                  (sizeof kEnd - 1 + lab + sizeof kDashes - 1);
    // The size above always holds the text (Base64 grows by 4/3); refuse rather than overrun
    // should that ever not be so, and refuse texts a BIN cannot measure.
    if (text + 1 > size || text > INT_MAX) return -1;
    auto *buf = static_cast<char *>(QRT_calloc(size, 1));
    if (!buf) return -1;
    char *o = put(buf, kBegin, sizeof kBegin - 1);
    o = put(o, label, lab);
    o = put(o, kDashes, sizeof kDashes - 1);
    for (size_t i = 0; i < n; i += kPemLineBytes) {
        int k = 0;
        size_t piece = n - i < kPemLineBytes ? n - i : kPemLineBytes;
        QRT_Base64_EncodeBlock(o, &k, bin->value + i, static_cast<int>(piece));
        o += k;
        *o++ = '\n';
    }
    o = put(o, kEnd, sizeof kEnd - 1);
    o = put(o, label, lab);
    o = put(o, kDashes, sizeof kDashes - 1);
    *o = '\0';
    pem->value = reinterpret_cast<unsigned char *>(buf);
    pem->length = static_cast<unsigned int>(o - buf);
    return 0;
}

int QRT_PemToBin(const BIN *pem, BIN *bin) {
    if (!pem || !pem->value || pem->length == 0 || pem->value[0] == '\0' || !bin) return -1;
    bin->length = 0;
    bin->value = nullptr;
    const char *p = reinterpret_cast<const char *>(pem->value);
    size_t n = pem->length;
    const void *lf = std::memchr(p, '\n', n);
    if (!lf) return -1;
    size_t pos = static_cast<size_t>(static_cast<const char *>(lf) - p) + 1;
    auto *body = static_cast<char *>(QRT_malloc(n - pos + 1));
    if (!body) return -1;
    size_t k = 0;
    for (; pos < n && p[pos] != '-' && p[pos] != '\0'; ++pos)
        if (p[pos] != '\r' && p[pos] != '\n') body[k++] = p[pos];
    body[k] = '\0';
    int rc = QRT_Base64ToBin(body, bin);
    ostrel::wipe(body, k);
    QRT_free(body);
    if (rc != 0) {
        QRT_BIN_Reset(bin);
        return -1;
    }
    return 0;
}

int QRT_IsPemType(const unsigned char *buffer, int length) {
    return buffer && length >= 10 && std::memcmp(buffer, "-----BEGIN", 10) == 0 ? 1 : 0;
}

// One buffer per thread: concurrent callers cannot overwrite each other's result.
char *QRT_escape(const char *text) {
    static thread_local char buf[kEscapeBuffer];
    static const char kDigits[] = "0123456789abcdef";
    const size_t last = sizeof buf - 1;  // kept for the terminator
    size_t o = 0;
    for (auto *s = reinterpret_cast<const unsigned char *>(text ? text : ""); *s; ++s) {
        if (url_unsafe(*s)) {
            if (o + 3 > last) break;
            buf[o++] = '%';
            buf[o++] = kDigits[*s >> 4];
            buf[o++] = kDigits[*s & 15];
        } else {
            if (o + 1 > last) break;
            buf[o++] = static_cast<char>(*s);
        }
    }
    buf[o] = '\0';
    return buf;
}

char *QRT_unescape(char *text) {
    if (!text) return nullptr;
    char *w = text;
    for (const char *r = text; *r;) {
        int hi, lo;
        if (r[0] == '%' && (hi = hex_value(static_cast<unsigned char>(r[1]))) >= 0 &&
            (lo = hex_value(static_cast<unsigned char>(r[2]))) >= 0) {
            *w++ = static_cast<char>(hi << 4 | lo);
            r += 3;
        } else {
            *w++ = *r++;
        }
    }
    *w = '\0';
    return text;
}

int bin2strl(const unsigned char *data, int n, char **text, int *outlen) {
    static const char kDigits[] = "0123456789abcdef";
    if ((!data && n > 0) || n < 0 || n > INT_MAX / 2 || !text || !outlen) return 0;
    auto len = static_cast<size_t>(n);
    auto *s = static_cast<char *>(QRT_malloc(2 * len + 1));
    if (!s) return 0;
    for (size_t i = 0; i < len; ++i) {
        s[2 * i] = kDigits[data[i] >> 4];
        s[2 * i + 1] = kDigits[data[i] & 15];
    }
    s[2 * len] = '\0';
    *text = s;
    *outlen = 2 * n;
    return 1;
}

int bin2str(const unsigned char *data, int n, char **text) {
    int len = 0;
    return bin2strl(data, n, text, &len);
}

// Reads only the len characters given: with an odd len the last byte's low half is 0.
int strl2bin(const char *text, int len, unsigned char **data, int *outlen) {
    if (!text || len < 0 || !data || !outlen) return 0;
    auto n = static_cast<size_t>(len);
    size_t count = (n + 1) / 2;
    auto *p = static_cast<unsigned char *>(QRT_malloc(count ? count : 1));
    if (!p) return 0;
    for (size_t i = 0; i < count; ++i) {
        unsigned lo = 2 * i + 1 < n ? lower_nibble(text[2 * i + 1]) : 0;
        p[i] = static_cast<unsigned char>(lower_nibble(text[2 * i]) << 4 | lo);
    }
    *data = p;
    *outlen = static_cast<int>(count);
    return 1;
}

int str2bin(const char *text, unsigned char **data, int *outlen) {
    if (!text) return 0;
    size_t n = std::strlen(text);
    if (n > INT_MAX) return 0;
    return strl2bin(text, static_cast<int>(n), data, outlen);
}

int QRT_Hex2Int(const char *hex, int *value) {
    if (!hex || !value) return -1;
    size_t n = std::strlen(hex);
    if (n > 8) {
        *value = -2;
        return -2;
    }
    unsigned v = 0;
    for (size_t i = 0; i < n; i += 2) {
        unsigned lo = i + 1 < n ? lower_nibble(hex[i + 1]) : 0;
        v = v << 8 | lower_nibble(hex[i]) << 4 | lo;
    }
    *value = static_cast<int>(v);
    return 0;
}

// Terminates the copy at len instead of copying the byte found there, so that a len shorter
// than the text still gives a string, and a text of exactly len bytes is not read past.
char *QRT_strdupl(const char *text, int len) {
    if (!text || len < 0) return nullptr;
    auto n = static_cast<size_t>(len);
    auto *s = static_cast<char *>(QRT_malloc(n + 1));
    if (!s) return nullptr;
    std::memcpy(s, text, n);
    s[n] = '\0';
    return s;
}

char *QRT_strdup(const char *text) {
    if (!text) return nullptr;
    size_t n = std::strlen(text);
    if (n > INT_MAX) return nullptr;
    return QRT_strdupl(text, static_cast<int>(n));
}

}  // extern "C"
