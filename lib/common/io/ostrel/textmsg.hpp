// Pieces of the fixed-width text messages that the RA/CA message libraries share: zero-padded
// decimal fields, the 14-digit header time and its date rule, and a latching string builder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "ostrel/reader.hpp"
#include "suite_io.h"

namespace ostrel::textmsg {

// Reads exactly `n` decimal digits at `p`; false when any byte is not a digit.
inline bool read_digits(const uint8_t *p, size_t n, long &out) {
    long v = 0;
    for (size_t i = 0; i < n; ++i) {
        if (p[i] < '0' || p[i] > '9') return false;
        v = v * 10 + (p[i] - '0');
    }
    out = v;
    return true;
}

// Appends `v` as `width` zero-padded digits; false when it is negative or needs more digits.
inline bool append_digits(std::string &s, long v, int width) {
    if (v < 0) return false;
    char buf[24];
    for (int i = width - 1; i >= 0; --i) {
        buf[i] = static_cast<char>('0' + v % 10);
        v /= 10;
    }
    if (v != 0) return false;
    s.append(buf, static_cast<size_t>(width));
    return true;
}

// Records of the text messages: a four-digit decimal body length, then the body.
constexpr size_t kMaxRecord = 9999;

// Appends the record of body; false (nothing appended) when it needs more than four digits.
inline bool frame_record(std::string &out, std::string_view body) {
    if (body.size() > kMaxRecord) return false;
    append_digits(out, static_cast<long>(body.size()), 4);
    out.append(body);
    return true;
}

enum class Record { kOk, kShort, kNotDigits };

// Splits the next record off `in`: kShort when the input ends before its length or its body,
// kNotDigits when the length is not four digits.
inline Record next_record(Reader &in, std::string_view &body) {
    uint8_t d[4];
    long len = 0;
    if (!in.copy(d, 4)) return Record::kShort;
    if (!read_digits(d, 4, len)) return Record::kNotDigits;
    Reader sub;
    if (!in.sub(static_cast<size_t>(len), sub)) return Record::kShort;
    body = {reinterpret_cast<const char *>(sub.data()), sub.remaining()};
    return Record::kOk;
}

// The date rule of the header time "YYYYMMDDhhmmss", group by group: year after 2001 (-1),
// month 01-12 (-2), day 01-31 (-3), hour 00-24 (-4), minute 00-60 (-5), second 00-60 (-6).
// A group that is missing or not all digits fails with its own code. 0 when valid.
inline int check_date14(const char *t) {
    if (!t) return -1;
    struct Group {
        size_t at, len;
        const char *low, *high;
        int code;
    };
    static constexpr Group groups[] = {
        {0, 4, "2002", "9999", -1}, {4, 2, "01", "12", -2},  {6, 2, "01", "31", -3},
        {8, 2, "00", "24", -4},     {10, 2, "00", "60", -5}, {12, 2, "00", "60", -6},
    };
    size_t n = strnlen(t, 14);
    for (const Group &g : groups) {
        if (n < g.at + g.len) return g.code;
        for (size_t i = 0; i < g.len; ++i)
            if (t[g.at + i] < '0' || t[g.at + i] > '9') return g.code;
        if (std::strncmp(t + g.at, g.low, g.len) < 0 || std::strncmp(t + g.at, g.high, g.len) > 0) return g.code;
    }
    return 0;
}

// The current local time as "YYYYMMDDhhmmss" into a 15-byte buffer.
inline int now14(char out[15]) { return QRT_Get14ByteTimeStr(time(nullptr), out); }

// True when every character of the (possibly empty) code is '0': a result code of success.
inline bool is_zero_code(const char *code, size_t width) {
    for (size_t i = 0; i < width && code[i]; ++i)
        if (code[i] != '0') return false;
    return true;
}

// Copies a finished message into a BIN the caller owns (released with QRT_BIN_Reset).
// False when memory is short; `out` is then empty.
inline bool to_bin(const std::string &s, BIN *out) {
    out->length = 0;
    out->value = nullptr;
    auto *p = static_cast<unsigned char *>(QRT_malloc(s.size() + 1));
    if (!p) return false;
    std::memcpy(p, s.data(), s.size());
    p[s.size()] = 0;
    out->value = p;
    out->length = static_cast<unsigned int>(s.size());
    return true;
}

}  // namespace ostrel::textmsg
