// BER reading shared by the decoder and the encoder: identifier and length octets, walking one
// element of any type, and rewriting a BER element in DER shape (definite minimal lengths,
// primitive strings).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "asn_engine.hpp"

namespace ostrel::asn {

// The first failure of a walk: engine code, where in the input, and what was wrong.
struct Err {
    int code = 0;
    const uint8_t *at = nullptr;
    const char *what = "";
    bool set(int c, const uint8_t *p, const char *w) {
        if (!code) {
            code = c;
            at = p;
            what = w;
        }
        return false;
    }
};

struct Tlv {
    uint32_t tag = 0;
    bool cons = false;
    bool indef = false;
    bool minimal = true;            // identifier and length in their shortest form
    const uint8_t *start = nullptr;   // the identifier
    const uint8_t *content = nullptr;
    const uint8_t *end = nullptr;     // end of the contents; for indefinite lengths the window end
};

constexpr bool is_universal_string(uint32_t tag) {
    uint32_t n = tag & 0x3FFFFFFFu;
    return (tag >> 30) == 0 && (n == 3 || n == 4 || n == 7 || n == 12 || (n >= 18 && n <= 22) || (n >= 25 && n <= 30));
}

// Identifier octets at p: tag and constructed bit; advances p.
inline bool read_tag(const uint8_t *&p, const uint8_t *end, uint32_t &tag, bool &cons, Err &e) {
    if (p >= end) return e.set(QRT_ASN_E_MORE_INPUT, p, "input ends before a tag");
    const uint8_t *s = p;
    uint8_t b = *p++;
    cons = (b & 0x20) != 0;
    uint32_t num = b & 0x1Fu;
    if (num == 0x1F) {
        num = 0;
        for (int k = 0;; ++k) {
            if (p >= end) return e.set(QRT_ASN_E_MORE_INPUT, s, "input ends inside a tag");
            uint8_t c = *p++;
            if (k == 0 && c == 0x80) return e.set(QRT_ASN_E_DATA_ERROR, s, "tag number not in its shortest form");
            if (k >= 3) return e.set(QRT_ASN_E_LIMITED, s, "tag number too large");
            num = (num << 7) | (c & 0x7Fu);
            if (!(c & 0x80)) break;
        }
        if (num < 31) return e.set(QRT_ASN_E_DATA_ERROR, s, "tag number not in its shortest form");
    }
    tag = ASN_TAG(b >> 6, num);
    return true;
}

// Identifier and length of the element at p. For a definite length the contents must fit
// before `end`; an indefinite length is allowed only for constructed elements and not in DER.
inline bool read_header(const uint8_t *p, const uint8_t *end, bool der, Tlv &t, Err &e) {
    t.start = p;
    if (!read_tag(p, end, t.tag, t.cons, e)) return false;
    if (p >= end) return e.set(QRT_ASN_E_MORE_INPUT, t.start, "input ends before a length");
    uint8_t b = *p++;
    t.minimal = true;
    t.indef = false;
    size_t len;
    if (b < 0x80) {
        len = b;
    } else if (b == 0x80) {
        if (!t.cons) return e.set(QRT_ASN_E_DATA_ERROR, t.start, "indefinite length on a primitive element");
        if (der) return e.set(QRT_ASN_E_DATA_ERROR, t.start, "indefinite length in DER");
        t.indef = true;
        t.content = p;
        t.end = end;
        return true;
    } else if (b == 0xFF) {
        return e.set(QRT_ASN_E_DATA_ERROR, t.start, "reserved length octet");
    } else {
        unsigned n = b & 0x7Fu;
        if (n > 4) return e.set(QRT_ASN_E_LIMITED, t.start, "length field longer than four octets");
        if (static_cast<size_t>(end - p) < n) return e.set(QRT_ASN_E_MORE_INPUT, t.start, "input ends inside a length");
        len = 0;
        for (unsigned k = 0; k < n; ++k) len = (len << 8) | p[k];
        if (p[0] == 0 || len < 0x80) t.minimal = false;
        p += n;
        if (der && !t.minimal) return e.set(QRT_ASN_E_DATA_ERROR, t.start, "length not in its shortest form");
    }
    if (static_cast<size_t>(end - p) < len) return e.set(QRT_ASN_E_MORE_INPUT, t.start, "input ends inside the contents");
    t.content = p;
    t.end = p + len;
    return true;
}

// The contents of a constructed element, read one element at a time.
struct Window {
    const uint8_t *p;
    const uint8_t *end;
    bool indef;
    bool at_end() const {
        if (indef) return end - p >= 2 && p[0] == 0 && p[1] == 0;
        return p >= end;
    }
    // Checks the window was used up (or ends in end-of-contents) and gives the element's end.
    bool close(const uint8_t *&next, Err &e) const {
        if (indef) {
            if (end - p < 2) return e.set(QRT_ASN_E_MORE_INPUT, p, "input ends before end-of-contents");
            if (p[0] != 0 || p[1] != 0) return e.set(QRT_ASN_E_DATA_ERROR, p, "unexpected element before end-of-contents");
            next = p + 2;
            return true;
        }
        if (p != end) return e.set(QRT_ASN_E_DATA_ERROR, p, "unexpected data at the end of a constructed value");
        next = end;
        return true;
    }
};

inline Window open(const Tlv &t) { return Window{t.content, t.end, t.indef}; }

// Walks the element at p of any type: next = its end; canonical = already in DER shape
// (definite minimal lengths, no constructed universal strings).
bool skip_element(const uint8_t *p, const uint8_t *end, bool der, unsigned depth, const uint8_t *&next,
                  bool &canonical, Err &e);

// Appends the DER shape of the BER element at p to out; next = its end.
bool normalize_element(const uint8_t *p, const uint8_t *end, unsigned depth, std::vector<uint8_t> &out,
                       const uint8_t *&next, Err &e);

}  // namespace ostrel::asn
