// Attribute strings between their ASN.1 types and the code set of the "locale" option.
//
// Byte strings (Printable, Teletex, IA5, Visible) are copied as they are; UTF8String is converted
// by the codec library; BMPString goes straight from UCS-2 to UTF-8 and, for the Japanese
// multibyte locales, on through the codec. Under "ko_KR-euc" a BMPString keeps the codec's
// EUC-KR conversion (Hangul, bytes below 256, "?" for anything else), which stored texts hold.
#include <array>
#include <cstring>
#include <vector>

#include "pkc_dn.hpp"
#include "suite_codec.h"

namespace ostrel::pkc {
namespace {

enum Tag : unsigned char {
    kUTF8String = 0x0C,
    kPrintableString = 0x13,
    kTeletexString = 0x14,
    kIA5String = 0x16,
    kVisibleString = 0x1A,
    kBMPString = 0x1E,
};

bool is_utf8_locale(Locale l) { return l == Locale::KoUtf8 || l == Locale::JaUtf8; }

// The codec's names for the local code set and for UTF-8 beside it.
const char *codec_local(Locale l) {
    switch (l) {
        case Locale::KoEuc: return "ko_KR-euc";
        case Locale::JaEuc: return "ja_JP-EUC";
        case Locale::JaSjis: return "ja_JP-SJIS";
        case Locale::KoUtf8: return "ko_KR-UTF-8";
        case Locale::JaUtf8: return "ja_JP-UTF-8";
    }
    return "ko_KR-euc";
}
const char *codec_utf8(Locale l) {
    return l == Locale::KoEuc || l == Locale::KoUtf8 ? "ko_KR-UTF-8" : "ja_JP-UTF-8";
}

bool is_ascii(const char *p, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (static_cast<unsigned char>(p[i]) >= 0x80) return false;
    return true;
}

// ASCII is the same in every local code set, so it needs no trip through the codec.
bool convert(const char *p, size_t n, const char *from, const char *to, std::string &out) {
    if (is_ascii(p, n)) {
        out.append(p, n);
        return true;
    }
    BIN src{static_cast<unsigned int>(n), reinterpret_cast<unsigned char *>(const_cast<char *>(p))};
    BIN dst{0, nullptr};
    int rc = QRT_Codec_Convert(&dst, &src, to, from);
    if (rc == 0) out.append(reinterpret_cast<const char *>(dst.value), dst.length);
    QRT_BIN_Reset(&dst);
    return rc == 0;
}

void put_utf8(std::string &out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Big-endian 16-bit units to UTF-8; surrogate pairs are joined, a lone surrogate fails.
bool bmp_to_utf8(const unsigned char *p, size_t n, std::string &out) {
    for (size_t i = 0; i < n; i += 2) {
        uint32_t u = static_cast<uint32_t>(p[i] << 8 | p[i + 1]);
        if (u >= 0xDC00 && u <= 0xDFFF) return false;
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 3 >= n) return false;
            uint32_t lo = static_cast<uint32_t>(p[i + 2] << 8 | p[i + 3]);
            if (lo < 0xDC00 || lo > 0xDFFF) return false;
            u = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
            i += 2;
        }
        put_utf8(out, u);
    }
    return true;
}

// The codec's EUC-KR form of UCS-2 units (host order); its text ends at the first NUL.
bool bmp_to_euc_kr(const unsigned char *p, size_t n, std::string &out) {
    size_t count = n / 2;
    std::array<unsigned short, 128> small_units;
    std::array<char, 2 * 128 + 1> small_text;
    std::vector<unsigned short> big_units;
    std::vector<char> big_text;
    unsigned short *units = small_units.data();
    char *text = small_text.data();
    if (count > small_units.size()) {
        big_units.resize(count);
        big_text.resize(2 * count + 1);
        units = big_units.data();
        text = big_text.data();
    }
    for (size_t i = 0; i < count; ++i) units[i] = static_cast<unsigned short>(p[2 * i] << 8 | p[2 * i + 1]);
    if (QRT_DecodeBMPStr(static_cast<int>(count), units, text) != 0) return false;
    out.append(text);
    return true;
}

bool bmp_to_local(const unsigned char *p, size_t n, std::string &out) {
    Locale l = current_locale();
    if (l == Locale::KoEuc) return bmp_to_euc_kr(p, n, out);
    if (is_utf8_locale(l)) return bmp_to_utf8(p, n, out);
    std::string utf8;
    return bmp_to_utf8(p, n, utf8) && convert(utf8.data(), utf8.size(), codec_utf8(l), codec_local(l), out);
}

// Length of the multibyte character that starts with byte c in the local code set.
size_t char_length(Locale l, unsigned char c) {
    switch (l) {
        case Locale::KoEuc: return c >= 0x80 ? 2 : 1;
        case Locale::JaEuc: return c == 0x8F ? 3 : c >= 0x80 ? 2 : 1;
        case Locale::JaSjis: return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC) ? 2 : 1;
        default: return 1;
    }
}

}  // namespace

bool utf8_to_local(const char *utf8, size_t length, std::string &out) {
    Locale l = current_locale();
    if (is_utf8_locale(l)) {
        out.append(utf8, length);
        return true;
    }
    return convert(utf8, length, codec_utf8(l), codec_local(l), out);
}

bool local_to_utf8(const char *local, size_t length, std::string &out) {
    Locale l = current_locale();
    if (is_utf8_locale(l)) {
        out.append(local, length);
        return true;
    }
    return convert(local, length, codec_local(l), codec_utf8(l), out);
}

size_t whole_chars(const char *s, size_t length, size_t limit) {
    if (length <= limit) return length;
    Locale l = current_locale();
    if (is_utf8_locale(l)) {
        // Step back over continuation bytes to the start of the character the limit falls in.
        size_t at = limit;
        for (int back = 0; back < 3 && at > 0 && (static_cast<unsigned char>(s[at]) & 0xC0) == 0x80; ++back) --at;
        return (static_cast<unsigned char>(s[at]) & 0xC0) == 0x80 ? limit : at;
    }
    size_t at = 0;
    for (;;) {
        size_t next = at + char_length(l, static_cast<unsigned char>(s[at]));
        if (next > limit) return at;
        at = next;
    }
}

// String ::= tag, definite length (short or long form), content.
bool decode_string(const unsigned char *der, size_t length, std::string &out) {
    out.clear();
    if (!der || length < 2) return false;
    unsigned char tag = der[0];
    size_t len = der[1], header = 2;
    if (len & 0x80) {
        size_t k = len & 0x7F;
        if (k == 0 || k > 4 || length < 2 + k) return false;
        len = 0;
        for (size_t i = 0; i < k; ++i) len = len << 8 | der[2 + i];
        header += k;
    }
    if (len == 0 || length - header < len) return false;
    const unsigned char *content = der + header;
    const char *text = reinterpret_cast<const char *>(content);
    switch (tag) {
        case kPrintableString:
        case kTeletexString:
        case kIA5String:
        case kVisibleString: out.assign(text, len); return true;
        case kUTF8String: return utf8_to_local(text, len, out);
        case kBMPString: return len % 2 == 0 && bmp_to_local(content, len, out);
        default: return false;  // UniversalString and anything else
    }
}

}  // namespace ostrel::pkc

using namespace ostrel::pkc;

extern "C" {

QRT_API int QRT_PKC_ASNString_Decode(char *out, int *length, const unsigned char *der, unsigned derLength) {
    if (!out || !length || *length < 1 || !der) return -1;
    return OSTREL_GUARD_OR(-1, [&] {
        std::string text;
        if (!decode_string(der, derLength, text)) {
            out[0] = '\0';
            return OSTREL_FAIL_AS("QRT_PKC_ASNString_Decode", -1);
        }
        size_t n = whole_chars(text.data(), text.size(), static_cast<size_t>(*length) - 1);
        std::memcpy(out, text.data(), n);
        out[n] = '\0';
        *length = static_cast<int>(n);
        return 0;
    });
}

// Cut on a whole character to fit out, like the record's fields.
QRT_API int QRT_PKC_UTF8_Decode(char *out, int capacity, const char *utf8, int length) {
    if (!out || capacity < 1 || !utf8 || length < 0) return -1;
    return OSTREL_GUARD_OR(-1, [&] {
        std::string text;
        if (!utf8_to_local(utf8, static_cast<size_t>(length), text)) {
            out[0] = '\0';
            return OSTREL_FAIL_AS("QRT_PKC_UTF8_Decode", -1);
        }
        size_t n = whole_chars(text.data(), text.size(), static_cast<size_t>(capacity) - 1);
        std::memcpy(out, text.data(), n);
        out[n] = '\0';
        return static_cast<int>(n);
    });
}

// What is encoded goes into names, so a result that does not fit fails rather than being cut.
QRT_API int QRT_PKC_UTF8_Encode(char *out, int capacity, const char *local, int length) {
    if (!out || capacity < 1 || !local || length < 0) return -1;
    return OSTREL_GUARD_OR(-1, [&] {
        std::string text;
        if (!local_to_utf8(local, static_cast<size_t>(length), text) ||
            text.size() > static_cast<size_t>(capacity) - 1) {
            out[0] = '\0';
            return OSTREL_FAIL_AS("QRT_PKC_UTF8_Encode", -1);
        }
        std::memcpy(out, text.data(), text.size());
        out[text.size()] = '\0';
        return static_cast<int>(text.size());
    });
}

}  // extern "C"
