// Strict DER for the key, parameter and signature forms of the core: the shared reader's DER
// profile with the core's codes, and a writer that appends TLVs. Definite minimal lengths only; a
// length that runs past the input is WJ_ERR_SHORT_INPUT, anything else malformed WJ_ERR_BAD_DER.
#pragma once

#include <cstdint>
#include <vector>

#include "crypto_pkey.hpp"
#include "ostrel/tlv.hpp"
#include "ostrel/reader.hpp"

namespace ostrel::crypto::der {

using ostrel::tlv::kBitString;
using ostrel::tlv::kInteger;
using ostrel::tlv::kNull;
using ostrel::tlv::kOctetString;
using ostrel::tlv::kOid;
using ostrel::tlv::kSequence;

// The longest content these forms carry (an 8192-bit modulus is 1025 bytes).
constexpr size_t kMaxContent = 1 << 16;

inline bool next_is(const Reader &r, uint8_t tag) { return ostrel::tlv::next_is(r, tag); }

// The core's code of a failure of the shared reader.
inline int code_of(ostrel::tlv::Result rc) {
    return rc == ostrel::tlv::kOk ? 0 : rc == ostrel::tlv::kShort ? WJ_ERR_SHORT_INPUT : WJ_ERR_BAD_DER;
}

// tag, length, content: the content is split off into `content`.
inline int read_tlv(Reader &r, uint8_t want, Reader &content) {
    Reader q = r, c;
    if (int rc = code_of(ostrel::tlv::read_tlv(q, want, c))) return rc;
    if (c.remaining() > kMaxContent) return WJ_ERR_BAD_DER;
    r = q;
    content = c;
    return 0;
}

// A non-negative INTEGER; `mag` receives its magnitude without the sign byte (one 0 byte for
// zero). Negative and non-minimal encodings are WJ_ERR_BAD_DER.
inline int read_unsigned(Reader &r, Reader &mag) {
    Reader q = r, m;
    if (int rc = code_of(ostrel::tlv::read_unsigned(q, m))) return rc;
    if (m.remaining() > kMaxContent) return WJ_ERR_BAD_DER;
    r = q;
    mag = m;
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
    uint32_t v = 0;
    if (int rc = code_of(ostrel::tlv::read_small(r, v))) return rc;
    out = static_cast<long>(v);
    return 0;
}

// Heap-free writing of small forms (signatures) straight into a caller's buffer.
struct Span {
    uint8_t *p;
    size_t room, at = 0;
    bool put(uint8_t b) {
        if (p && at < room) p[at] = b;
        ++at;
        return true;
    }
};

inline size_t header_length(size_t len) { return len < 0x80 ? 2 : len < 0x100 ? 3 : len < 0x10000 ? 4 : 5; }

inline void put_header(Span &o, uint8_t tag, size_t len) {
    uint8_t l[9];
    o.put(tag);
    for (size_t i = 0, n = ostrel::tlv::length_octets(len, l); i < n; ++i) o.put(l[i]);
}

// Content length of the non-negative INTEGER of a record's magnitude.
inline size_t uint_content_length(const WJ_BigInt *a) {
    size_t n = WJ_BigInt_GetByteLength(a);
    if (n == 0) return 1;
    uint8_t top = static_cast<uint8_t>(a->Data[(n - 1) / 4] >> (8 * ((n - 1) % 4)));
    return n + ((top & 0x80) ? 1 : 0);
}

inline void put_uint(Span &o, const WJ_BigInt *a) {
    size_t n = WJ_BigInt_GetByteLength(a), len = uint_content_length(a);
    put_header(o, kInteger, len);
    if (len > n) o.put(0);
    for (size_t i = n; i-- > 0;) o.put(static_cast<uint8_t>(a->Data[i / 4] >> (8 * (i % 4))));
}

class Writer {
  public:
    SecBytes out;

    void header(uint8_t tag, size_t len) {
        uint8_t l[9];
        out.push_back(tag);
        out.insert(out.end(), l, l + ostrel::tlv::length_octets(len, l));
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
        // INTEGER tag, length and magnitude (a zero in front when the top bit is set), written
        // in one piece
        uint8_t b[12] = {};
        size_t n = 0;
        do {
            b[11 - n++] = static_cast<uint8_t>(v);
            v >>= 8;
        } while (v);
        if (b[12 - n] & 0x80) ++n;
        b[10 - n] = kInteger;
        b[11 - n] = static_cast<uint8_t>(n);
        raw(b + 10 - n, n + 2);
    }
};

}  // namespace ostrel::crypto::der
