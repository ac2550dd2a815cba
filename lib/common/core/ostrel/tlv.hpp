// The one reader of ASN.1 tag-length-value elements, over the bounded Reader. A profile chooses
// what is accepted: strict DER (definite, minimal lengths) where a DER form is documented, or
// the BER the engine accepts (indefinite lengths on constructed elements, long-form lengths that
// are not minimal). Every read either advances past what it read or fails and leaves the
// reader where it was.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ostrel/reader.hpp"

namespace ostrel::tlv {

enum class Profile : uint8_t { kDer, kBer };

// Why a read failed: the input ends early, the encoding is malformed, or a field is larger than
// any encoding this reader takes (tag numbers past 21 bits, lengths past four octets).
enum Result : uint8_t { kOk = 0, kShort, kMalformed, kLimited };

// Universal identifier octets of the forms read with read_tlv.
enum Tag : uint8_t {
    kBoolean = 0x01,
    kInteger = 0x02,
    kBitString = 0x03,
    kOctetString = 0x04,
    kNull = 0x05,
    kOid = 0x06,
    kSequence = 0x30,
    kSet = 0x31,
};

struct Header {
    uint8_t cls = 0;  // 0 universal, 1 application, 2 context, 3 private
    bool cons = false;
    uint32_t number = 0;  // tag number
    bool indefinite = false;
    bool minimal = true;  // identifier and length in their shortest forms
    size_t length = 0;    // contents length (definite lengths)
    size_t header_length = 0;
    const char *what = "";  // the reason of a failure
};

// The forms the inline readers below leave to these (kept out of line so the common case inlines).
[[nodiscard, gnu::noinline]] inline Result read_identifier_long(Reader &r, Header &h) {
    auto fail = [&h](Result rc, const char *what) {
        h.what = what;
        return rc;
    };
    Reader q = r;
    uint8_t b = 0;
    if (!q.u8(b)) return fail(kShort, "input ends before a tag");
    h.cls = static_cast<uint8_t>(b >> 6);
    h.cons = (b & 0x20) != 0;
    uint32_t num = b & 0x1Fu;
    if (num == 0x1F) {
        num = 0;
        for (int k = 0;; ++k) {
            uint8_t c = 0;
            if (!q.u8(c)) return fail(kShort, "input ends inside a tag");
            if (k == 0 && c == 0x80) return fail(kMalformed, "tag number not in its shortest form");
            if (k >= 3) return fail(kLimited, "tag number too large");
            num = (num << 7) | (c & 0x7Fu);
            if (!(c & 0x80)) break;
        }
        if (num < 31) return fail(kMalformed, "tag number not in its shortest form");
    }
    h.number = num;
    r = q;
    return kOk;
}

// Identifier octets: class, constructed bit and tag number (high tag numbers in their shortest
// form, at most three continuation octets). On success r stands at the length octets.
[[nodiscard]] inline Result read_identifier(Reader &r, Header &h) {
    uint8_t b0 = 0;
    if (r.peek(b0) && (b0 & 0x1F) != 0x1F) {
        h.cls = static_cast<uint8_t>(b0 >> 6);
        h.cons = (b0 & 0x20) != 0;
        h.number = b0 & 0x1Fu;
        (void)r.skip(1);
        return kOk;
    }
    return read_identifier_long(r, h);
}

[[nodiscard, gnu::noinline]] inline Result read_header_long(Reader &r, Profile p, Header &h) {
    auto fail = [&h](Result rc, const char *what) {
        h.what = what;
        return rc;
    };
    Reader q = r;
    h.minimal = true;
    if (Result rc = read_identifier(q, h)) return rc;
    uint8_t l0 = 0;
    if (!q.u8(l0)) return fail(kShort, "input ends before a length");
    h.indefinite = false;
    size_t len = l0;
    if (l0 == 0x80) {
        if (!h.cons) return fail(kMalformed, "indefinite length on a primitive element");
        if (p == Profile::kDer) return fail(kMalformed, "indefinite length in DER");
        h.indefinite = true;
        len = 0;
    } else if (l0 == 0xFF) {
        return fail(kMalformed, "reserved length octet");
    } else if (l0 & 0x80) {
        unsigned k = l0 & 0x7Fu;
        if (k > 4) return fail(kLimited, "length field longer than four octets");
        if (q.remaining() < k) return fail(kShort, "input ends inside a length");
        const uint8_t *lp = q.data();
        len = 0;
        for (unsigned i = 0; i < k; ++i) len = (len << 8) | lp[i];
        (void)q.skip(k);
        if (lp[0] == 0 || len < 0x80) {
            h.minimal = false;
            if (p == Profile::kDer) return fail(kMalformed, "length not in its shortest form");
        }
    }
    if (!h.indefinite && q.remaining() < len) return fail(kShort, "input ends inside the contents");
    h.length = len;
    h.header_length = r.remaining() - q.remaining();
    r = q;
    return kOk;
}

// Identifier and length octets. On success r stands at the contents; a definite length must
// fit in what remains. On failure r is unchanged and h.what names the fault.
[[nodiscard]] inline Result read_header(Reader &r, Profile p, Header &h) {
    // most elements: a low tag number and a short length that fits
    const uint8_t *d = r.data();
    size_t n = r.remaining();
    if (n >= 2 && (d[0] & 0x1F) != 0x1F && d[1] < 0x80 && n - 2 >= d[1]) {
        h.cls = static_cast<uint8_t>(d[0] >> 6);
        h.cons = (d[0] & 0x20) != 0;
        h.number = d[0] & 0x1Fu;
        h.indefinite = false;
        h.minimal = true;
        h.length = d[1];
        h.header_length = 2;
        (void)r.skip(2);
        return kOk;
    }
    return read_header_long(r, p, h);
}

// One element of definite length whose identifier octet is `tag` (a one-octet identifier): its
// contents are split off into `content`. Indefinite lengths are refused in either profile:
// callers of this form read primitive or DER-only forms.
[[nodiscard]] inline Result read_tlv(Reader &r, uint8_t tag, Reader &content, Profile p = Profile::kDer) {
    uint8_t first = 0;
    if (!r.peek(first)) return kShort;
    if (first != tag) return kMalformed;
    Reader q = r;
    Header h;
    if (Result rc = read_header(q, p, h)) return rc;
    if (h.indefinite) return kMalformed;
    if (!q.sub(h.length, content)) return kShort;
    r = q;
    return kOk;
}

// Any element of definite length: its first identifier octet, contents, and the whole element.
[[nodiscard]] inline Result read_any(Reader &r, uint8_t &tag, Reader &content, Reader *whole = nullptr,
                                     Profile p = Profile::kDer) {
    Reader q = r;
    if (!q.peek(tag)) return kShort;
    Header h;
    if (Result rc = read_header(q, p, h)) return rc;
    if (h.indefinite) return kMalformed;
    if (!q.sub(h.length, content)) return kShort;
    if (whole) *whole = Reader(r.data(), r.remaining() - q.remaining());
    r = q;
    return kOk;
}

// True when the next element starts with identifier octet `tag`.
inline bool next_is(const Reader &r, uint8_t tag) {
    uint8_t t = 0;
    return r.peek(t) && t == tag;
}

// A non-negative INTEGER in its minimal form; `magnitude` receives its value without the sign
// octet (one zero octet for zero). Negative values are kMalformed.
[[nodiscard]] inline Result read_unsigned(Reader &r, Reader &magnitude, Profile p = Profile::kDer) {
    Reader q = r, c;
    if (Result rc = read_tlv(q, kInteger, c, p)) return rc;
    const uint8_t *v = c.data();
    size_t n = c.remaining();
    if (n == 0 || (v[0] & 0x80)) return kMalformed;
    if (n > 1 && v[0] == 0 && !(v[1] & 0x80)) return kMalformed;
    magnitude = (n > 1 && v[0] == 0) ? Reader(v + 1, n - 1) : c;
    r = q;
    return kOk;
}

// A non-negative INTEGER of at most 31 bits.
[[nodiscard]] inline Result read_small(Reader &r, uint32_t &out, Profile p = Profile::kDer) {
    Reader q = r, mag;
    if (Result rc = read_unsigned(q, mag, p)) return rc;
    if (mag.remaining() > 4) return kMalformed;
    uint32_t v = 0;
    uint8_t b = 0;
    while (mag.u8(b)) v = v << 8 | b;
    if (v > 0x7fffffffu) return kMalformed;
    out = v;
    r = q;
    return kOk;
}

// Equality of a reader's bytes with a constant (object identifier contents and the like).
inline bool equals(const Reader &r, const uint8_t *bytes, size_t n) {
    if (r.remaining() != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (r.data()[i] != bytes[i]) return false;
    return true;
}

// ---- writing ----------------------------------------------------------------------------

// Length octets of a definite length n in DER (minimal); the count written into b.
inline size_t length_octets(size_t n, uint8_t b[9]) {
    if (n < 0x80) {
        b[0] = static_cast<uint8_t>(n);
        return 1;
    }
    size_t bytes = 0;
    for (size_t x = n; x; x >>= 8) ++bytes;
    b[0] = static_cast<uint8_t>(0x80 | bytes);
    for (size_t i = 0; i < bytes; ++i) b[1 + i] = static_cast<uint8_t>(n >> (8 * (bytes - 1 - i)));
    return bytes + 1;
}

}  // namespace ostrel::tlv
