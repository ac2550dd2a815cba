// Strict DER for the key, parameter and signature forms of the core: a reader of single TLVs
// over the bounded Reader and a writer that appends them. Definite minimal lengths only; a
// length that runs past the input is WJ_ERR_SHORT_INPUT, anything else malformed WJ_ERR_BAD_DER.
#pragma once

#include <cstdint>
#include <vector>

#include "crypto_pkey.hpp"
#include "ostrel/reader.hpp"

namespace ostrel::crypto::der {

enum Tag : uint8_t {
    kInteger = 0x02,
    kBitString = 0x03,
    kOctetString = 0x04,
    kNull = 0x05,
    kOid = 0x06,
    kSequence = 0x30,
};

// The longest content these forms carry (an 8192-bit modulus is 1025 bytes).
constexpr size_t kMaxContent = 1 << 16;

inline bool next_is(const Reader &r, uint8_t tag) {
    uint8_t t = 0;
    return r.peek(t) && t == tag;
}

// tag, length, content: the content is split off into `content`.
inline int read_tlv(Reader &r, uint8_t want, Reader &content) {
    uint8_t tag = 0, l0 = 0;
    if (!r.u8(tag)) return WJ_ERR_SHORT_INPUT;
    if (tag != want) return WJ_ERR_BAD_DER;
    if (!r.u8(l0)) return WJ_ERR_SHORT_INPUT;
    size_t len = l0;
    if (l0 & 0x80) {
        unsigned k = l0 & 0x7fu;
        if (k == 0 || k > 3) return WJ_ERR_BAD_DER;  // indefinite, or longer than any form here
        len = 0;
        for (unsigned i = 0; i < k; ++i) {
            uint8_t b = 0;
            if (!r.u8(b)) return WJ_ERR_SHORT_INPUT;
            if (i == 0 && b == 0) return WJ_ERR_BAD_DER;  // not minimal
            len = len << 8 | b;
        }
        if (len < 0x80) return WJ_ERR_BAD_DER;
    }
    if (len > kMaxContent) return WJ_ERR_BAD_DER;
    if (!r.sub(len, content)) return WJ_ERR_SHORT_INPUT;
    return 0;
}

// A non-negative INTEGER; `mag` receives its magnitude without the sign byte (one 0 byte for
// zero). Negative and non-minimal encodings are WJ_ERR_BAD_DER.
inline int read_unsigned(Reader &r, Reader &mag) {
    Reader c;
    if (int rc = read_tlv(r, kInteger, c)) return rc;
    const uint8_t *p = c.data();
    size_t n = c.remaining();
    if (n == 0 || (p[0] & 0x80)) return WJ_ERR_BAD_DER;
    if (n > 1 && p[0] == 0 && !(p[1] & 0x80)) return WJ_ERR_BAD_DER;
    mag = (n > 1 && p[0] == 0) ? Reader(p + 1, n - 1) : c;
    return 0;
}

inline int read_unsigned(Reader &r, WJ_BigInt *out) {
    Reader mag;
    if (int rc = read_unsigned(r, mag)) return rc;
    return WJ_BigInt_BytesToInt(out, mag.data(), static_cast<unsigned>(mag.remaining()));
}

inline int read_unsigned(Reader &r, BIGNUM *out) {
    Reader mag;
    if (int rc = read_unsigned(r, mag)) return rc;
    return BN_bin2bn(mag.data(), static_cast<int>(mag.remaining()), out) ? 0 : WJ_ERR_MEMORY;
}

// A small non-negative INTEGER (at most 31 bits).
inline int read_small(Reader &r, long &out) {
    Reader mag;
    if (int rc = read_unsigned(r, mag)) return rc;
    if (mag.remaining() > 4) return WJ_ERR_BAD_DER;
    unsigned long v = 0;
    uint8_t b = 0;
    while (mag.u8(b)) v = v << 8 | b;
    if (v > 0x7fffffffUL) return WJ_ERR_BAD_DER;
    out = static_cast<long>(v);
    return 0;
}

class Writer {
  public:
    SecBytes out;

    void header(uint8_t tag, size_t len) {
        out.push_back(tag);
        if (len < 0x80) {
            out.push_back(static_cast<uint8_t>(len));
            return;
        }
        uint8_t b[4];
        int k = 0;
        for (size_t v = len; v; v >>= 8) b[k++] = static_cast<uint8_t>(v);
        out.push_back(static_cast<uint8_t>(0x80 | k));
        while (k) out.push_back(b[--k]);
    }
    void tlv(uint8_t tag, const uint8_t *p, size_t n) {
        header(tag, n);
        out.insert(out.end(), p, p + n);
    }
    void raw(const uint8_t *p, size_t n) { out.insert(out.end(), p, p + n); }
    void wrap(uint8_t tag, const Writer &inner) { tlv(tag, inner.out.data(), inner.out.size()); }

    // A non-negative INTEGER from big-endian magnitude bytes.
    void unsigned_int(const uint8_t *mag, size_t n) {
        while (n > 1 && *mag == 0) {
            ++mag;
            --n;
        }
        if (n == 0) {
            static const uint8_t zero = 0;
            mag = &zero;
            n = 1;
        }
        bool pad = mag[0] & 0x80;
        header(kInteger, n + (pad ? 1 : 0));
        if (pad) out.push_back(0);
        out.insert(out.end(), mag, mag + n);
    }
    void unsigned_int(const BIGNUM *bn) {
        SecBytes m(static_cast<size_t>(BN_num_bytes(bn)) + 1);
        size_t n = static_cast<size_t>(BN_bn2bin(bn, m.data()));
        unsigned_int(m.data(), n);
    }
    // The magnitude of a record (its sign is not written: the forms carry no negative values).
    int unsigned_int(const WJ_BigInt *a) {
        if (!bigint_valid(a)) return WJ_ERR_BAD_ARGUMENT;
        SecBytes m(static_cast<size_t>(a->Length) * 4);
        if (!bigint_to_fixed(a, m.data(), m.size())) return WJ_ERR_BAD_ARGUMENT;
        unsigned_int(m.data(), m.size());
        return 0;
    }
    void small(unsigned long v) {
        uint8_t b[8];
        size_t n = 0;
        do {
            b[7 - n++] = static_cast<uint8_t>(v);
            v >>= 8;
        } while (v);
        unsigned_int(b + 8 - n, n);
    }
};

}  // namespace ostrel::crypto::der
