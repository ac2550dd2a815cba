// The character converters: ASCII, UTF-8, KS X 1001 and EUC-KR, JIS X 0201, JIS X 0208,
// JIS X 0212, EUC-JP and Shift_JIS. The mapping tables are generated at build time.
#include <bit>

#include "codec_charset.h"

namespace ostrel::codec {
namespace {

// One entry per 16 code points: which of them have a code, and the index of the first one's
// code in the set's code table.
struct UniIndex {
    uint16_t used;
    uint16_t base;
};

#include "codec_charset_tables.inc"

constexpr uint16_t kNone = 0xFFFD;  // no character at this code

struct Set94 {
    const uint16_t *const *to_uni;    // 94 rows of 94 code points, nullptr for empty rows
    const UniIndex *const *uni2indx;  // 256 pages of 16 entries, nullptr for empty pages
    const uint16_t *codes;            // row << 8 | column, in code-point order
};

constexpr Set94 kKsc5601{ksc5601_2uni, ksc5601_uni2indx, ksc5601_2charset};
constexpr Set94 kJisx0208{jisx0208_2uni, jisx0208_uni2indx, jisx0208_2charset};
constexpr Set94 kJisx0212{jisx0212_2uni, jisx0212_uni2indx, jisx0212_2charset};

inline bool gl(unsigned c) { return c >= 0x21 && c <= 0x7E; }
inline bool gr(unsigned c) { return c >= 0xA1 && c <= 0xFE; }

// The code of wc through a presence-mask index, or -1.
int lookup_code(const UniIndex *const *uni2indx, const uint16_t *codes, ucs4_t wc) {
    if (wc > 0xFFFF) return -1;
    const UniIndex *page = uni2indx[wc >> 8];
    if (!page) return -1;
    const UniIndex &e = page[(wc >> 4) & 15];
    unsigned bit = wc & 15;
    if (!((e.used >> bit) & 1u)) return -1;
    return codes[e.base + std::popcount(static_cast<unsigned>(e.used) & ((1u << bit) - 1))];
}

int set94_mbtowc(const Set94 &set, ucs4_t *pwc, const unsigned char *s, size_t n) {
    if (n < 1) return -2;
    if (!gl(s[0])) return -1;
    if (n < 2) return -2;
    if (!gl(s[1])) return -1;
    const uint16_t *row = set.to_uni[s[0] - 0x21];
    uint16_t wc = row ? row[s[1] - 0x21] : kNone;
    if (wc == kNone) return -1;
    *pwc = wc;
    return 2;
}

int set94_wctomb(const Set94 &set, unsigned char *r, ucs4_t wc, size_t n) {
    int code = lookup_code(set.uni2indx, set.codes, wc);
    if (code < 0) return -1;
    if (n < 2) return -2;
    r[0] = static_cast<unsigned char>(code >> 8);
    r[1] = static_cast<unsigned char>(code);
    return 2;
}

// A two-byte character given with the top bits set (EUC form), read through a GL set.
int set94_mbtowc_gr(const Set94 &set, ucs4_t *pwc, unsigned c1, unsigned c2) {
    if (!gr(c1) || !gr(c2)) return -1;
    const unsigned char g[2] = {static_cast<unsigned char>(c1 & 0x7F), static_cast<unsigned char>(c2 & 0x7F)};
    return set94_mbtowc(set, pwc, g, 2);
}

// Writes `prefix` (0 for none) and the code of wc with top bits set; the byte count or -1/-2.
int set94_wctomb_gr(const Set94 &set, unsigned char *r, ucs4_t wc, size_t n, unsigned char prefix) {
    unsigned char g[2];
    if (set94_wctomb(set, g, wc, 2) < 0) return -1;
    size_t need = prefix ? 3 : 2;
    if (n < need) return -2;
    if (prefix) *r++ = prefix;
    r[0] = static_cast<unsigned char>(g[0] | 0x80);
    r[1] = static_cast<unsigned char>(g[1] | 0x80);
    return static_cast<int>(need);
}

// JIS X 0201 half-width katakana occupy the bytes 0xA1-0xDF.
inline bool katakana_byte(unsigned c) { return c >= 0xA1 && c <= 0xDF; }

}  // namespace

int ascii_mbtowc(ucs4_t *pwc, const unsigned char *s, size_t n) {
    if (n < 1) return -2;
    if (s[0] >= 0x80) return -1;
    *pwc = s[0];
    return 1;
}

int ascii_wctomb(unsigned char *r, ucs4_t wc, size_t n) {
    if (wc >= 0x80) return -1;
    if (n < 1) return -2;
    r[0] = static_cast<unsigned char>(wc);
    return 1;
}

// RFC 2279 forms of 1 to 6 bytes; overlong forms and lead bytes 0x80-0xC1 are invalid.
int utf8_mbtowc(ucs4_t *pwc, const unsigned char *s, size_t n) {
    if (n < 1) return -2;
    unsigned c = s[0];
    if (c < 0x80) {
        *pwc = c;
        return 1;
    }
    size_t len;
    ucs4_t wc;
    unsigned min2;  // smallest second byte that is not an overlong form
    if (c < 0xC2) return -1;
    if (c < 0xE0) {
        len = 2, wc = c & 0x1F, min2 = 0x80;
    } else if (c < 0xF0) {
        len = 3, wc = c & 0x0F, min2 = c == 0xE0 ? 0xA0 : 0x80;
    } else if (c < 0xF8) {
        len = 4, wc = c & 0x07, min2 = c == 0xF0 ? 0x90 : 0x80;
    } else if (c < 0xFC) {
        len = 5, wc = c & 0x03, min2 = c == 0xF8 ? 0x88 : 0x80;
    } else if (c < 0xFE) {
        len = 6, wc = c & 0x01, min2 = c == 0xFC ? 0x84 : 0x80;
    } else {
        return -1;
    }
    for (size_t i = 1; i < len && i < n; ++i) {
        if ((s[i] & 0xC0) != 0x80) return -1;
        if (i == 1 && s[1] < min2) return -1;
    }
    if (n < len) return -2;
    for (size_t i = 1; i < len; ++i) wc = (wc << 6) | (s[i] & 0x3Fu);
    *pwc = wc;
    return static_cast<int>(len);
}

int utf8_wctomb(unsigned char *r, ucs4_t wc, size_t n) {
    size_t len;
    if (wc < 0x80)
        len = 1;
    else if (wc < 0x800)
        len = 2;
    else if (wc < 0x10000)
        len = 3;
    else if (wc < 0x200000)
        len = 4;
    else if (wc < 0x4000000)
        len = 5;
    else if (wc <= 0x7FFFFFFF)
        len = 6;
    else
        return -1;
    if (n < len) return -2;
    if (len == 1) {
        r[0] = static_cast<unsigned char>(wc);
        return 1;
    }
    static constexpr unsigned char kLead[7] = {0, 0, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};
    for (size_t i = len - 1; i > 0; --i) {
        r[i] = static_cast<unsigned char>(0x80 | (wc & 0x3F));
        wc >>= 6;
    }
    r[0] = static_cast<unsigned char>(kLead[len] | wc);
    return static_cast<int>(len);
}

int ksc5601_mbtowc(ucs4_t *pwc, const unsigned char *s, size_t n) { return set94_mbtowc(kKsc5601, pwc, s, n); }
int ksc5601_wctomb(unsigned char *r, ucs4_t wc, size_t n) { return set94_wctomb(kKsc5601, r, wc, n); }
int jisx0208_mbtowc(ucs4_t *pwc, const unsigned char *s, size_t n) { return set94_mbtowc(kJisx0208, pwc, s, n); }
int jisx0208_wctomb(unsigned char *r, ucs4_t wc, size_t n) { return set94_wctomb(kJisx0208, r, wc, n); }
int jisx0212_mbtowc(ucs4_t *pwc, const unsigned char *s, size_t n) { return set94_mbtowc(kJisx0212, pwc, s, n); }
int jisx0212_wctomb(unsigned char *r, ucs4_t wc, size_t n) { return set94_wctomb(kJisx0212, r, wc, n); }

int euc_kr_mbtowc(ucs4_t *pwc, const unsigned char *s, size_t n) {
    if (n < 1) return -2;
    if (s[0] < 0x80) return ascii_mbtowc(pwc, s, n);
    if (!gr(s[0])) return -1;
    if (n < 2) return -2;
    return set94_mbtowc_gr(kKsc5601, pwc, s[0], s[1]);
}

int euc_kr_wctomb(unsigned char *r, ucs4_t wc, size_t n) {
    if (wc < 0x80) return ascii_wctomb(r, wc, n);
    return set94_wctomb_gr(kKsc5601, r, wc, n, 0);
}

// Roman letters (0x5C is the yen sign, 0x7E the overline) and half-width katakana.
int jisx0201_mbtowc(ucs4_t *pwc, const unsigned char *s, size_t n) {
    if (n < 1) return -2;
    uint16_t wc = jisx0201_2uni[s[0]];
    if (wc == kNone) return -1;
    *pwc = wc;
    return 1;
}

int jisx0201_wctomb(unsigned char *r, ucs4_t wc, size_t n) {
    int code = lookup_code(jisx0201_uni2indx, jisx0201_2charset, wc);
    if (code < 0) return -1;
    if (n < 1) return -2;
    r[0] = static_cast<unsigned char>(code);
    return 1;
}

// ASCII; JIS X 0208 as two bytes with top bits; katakana after 0x8E; JIS X 0212 after 0x8F.
int euc_jp_mbtowc(ucs4_t *pwc, const unsigned char *s, size_t n) {
    if (n < 1) return -2;
    unsigned c = s[0];
    if (c < 0x80) return ascii_mbtowc(pwc, s, n);
    if (c == 0x8E) {
        if (n < 2) return -2;
        if (!katakana_byte(s[1])) return -1;
        return jisx0201_mbtowc(pwc, s + 1, 1) < 0 ? -1 : 2;
    }
    if (c == 0x8F) {
        if (n < 2) return -2;
        if (!gr(s[1])) return -1;
        if (n < 3) return -2;
        return set94_mbtowc_gr(kJisx0212, pwc, s[1], s[2]) < 0 ? -1 : 3;
    }
    if (!gr(c)) return -1;
    if (n < 2) return -2;
    return set94_mbtowc_gr(kJisx0208, pwc, c, s[1]);
}

int euc_jp_wctomb(unsigned char *r, ucs4_t wc, size_t n) {
    if (wc < 0x80) return ascii_wctomb(r, wc, n);
    int k = set94_wctomb_gr(kJisx0208, r, wc, n, 0);
    if (k != -1) return k;
    unsigned char b;
    if (jisx0201_wctomb(&b, wc, 1) == 1 && katakana_byte(b)) {
        if (n < 2) return -2;
        r[0] = 0x8E;
        r[1] = b;
        return 2;
    }
    return set94_wctomb_gr(kJisx0212, r, wc, n, 0x8F);
}

// Single bytes: ASCII below 0x80 (so ASCII text passes through unchanged) and JIS X 0201
// katakana; JIS X 0208 in the shifted two-byte form (lead 0x81-0x9F, 0xE0-0xEF).
int sjis_mbtowc(ucs4_t *pwc, const unsigned char *s, size_t n) {
    if (n < 1) return -2;
    unsigned c = s[0];
    if (c < 0x80) return ascii_mbtowc(pwc, s, n);
    if (katakana_byte(c)) return jisx0201_mbtowc(pwc, s, n);
    if (!((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xEF))) return -1;
    if (n < 2) return -2;
    unsigned c2 = s[1];
    if (!((c2 >= 0x40 && c2 <= 0x7E) || (c2 >= 0x80 && c2 <= 0xFC))) return -1;
    unsigned t1 = c < 0xA0 ? c - 0x81 : c - 0xC1;
    unsigned t2 = c2 < 0x80 ? c2 - 0x40 : c2 - 0x41;
    const unsigned char g[2] = {static_cast<unsigned char>(2 * t1 + (t2 >= 94 ? 1 : 0) + 0x21),
                                static_cast<unsigned char>(t2 % 94 + 0x21)};
    return set94_mbtowc(kJisx0208, pwc, g, 2);
}

// The yen sign and overline, which JIS X 0201 puts at 0x5C and 0x7E, are written there too.
int sjis_wctomb(unsigned char *r, ucs4_t wc, size_t n) {
    if (wc < 0x80) return ascii_wctomb(r, wc, n);
    int k = jisx0201_wctomb(r, wc, n);
    if (k != -1) return k;
    unsigned char g[2];
    if (set94_wctomb(kJisx0208, g, wc, 2) < 0) return -1;
    if (n < 2) return -2;
    unsigned t1 = (g[0] - 0x21u) >> 1;
    unsigned t2 = ((g[0] - 0x21u) & 1) * 94 + (g[1] - 0x21u);
    r[0] = static_cast<unsigned char>(t1 < 0x1F ? t1 + 0x81 : t1 + 0xC1);
    r[1] = static_cast<unsigned char>(t2 < 0x3F ? t2 + 0x40 : t2 + 0x41);
    return 2;
}

}  // namespace ostrel::codec
