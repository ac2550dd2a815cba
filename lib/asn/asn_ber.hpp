// BER reading shared by the decoder and the encoder: identifier and length octets, walking one
// element of any type, and rewriting a BER element in DER shape (definite minimal lengths,
// primitive strings).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "asn_engine.hpp"
#include "ostrel/tlv.hpp"

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

// A failure of the shared reader as an engine code, with its reason, at p.
inline bool reader_fail(tlv::Result rc, const uint8_t *p, const char *what, Err &e) {
    int code = rc == tlv::kShort ? QRT_ASN_E_MORE_INPUT : rc == tlv::kLimited ? QRT_ASN_E_LIMITED : QRT_ASN_E_DATA_ERROR;
    return e.set(code, p, what);
}

// Identifier octets at p: tag and constructed bit; advances p.
inline bool read_tag(const uint8_t *&p, const uint8_t *end, uint32_t &tag, bool &cons, Err &e) {
    Reader r(p, static_cast<size_t>(end - p));
    tlv::Header h;
    if (tlv::Result rc = tlv::read_identifier(r, h)) return reader_fail(rc, p, h.what, e);
    tag = ASN_TAG(h.cls, h.number);
    cons = h.cons;
    p = r.data();
    return true;
}

// Identifier and length of the element at p. For a definite length the contents must fit
// before `end`; an indefinite length is allowed only for constructed elements and not in DER.
inline bool read_header(const uint8_t *p, const uint8_t *end, bool der_only, Tlv &t, Err &e) {
    t.start = p;
    Reader r(p, static_cast<size_t>(end - p));
    tlv::Header h;
    if (tlv::Result rc = tlv::read_header(r, der_only ? tlv::Profile::kDer : tlv::Profile::kBer, h))
        return reader_fail(rc, p, h.what, e);
    t.tag = ASN_TAG(h.cls, h.number);
    t.cons = h.cons;
    t.indef = h.indefinite;
    t.minimal = h.minimal;
    t.content = r.data();
    t.end = h.indefinite ? end : r.data() + h.length;
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
