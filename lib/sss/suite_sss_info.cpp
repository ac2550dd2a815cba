// Share-information formats and the encoding of threshold shares.
#include <new>

#include "ostrel/reader.hpp"
#include "sss_internal.h"

namespace ostrel::sss {

namespace {

void put_be32(std::vector<uint8_t> &out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

// Appends a 2-byte length and the DER INTEGER of a (one call: tag, length and a sign byte take
// at most 7 bytes beyond the magnitude).
int put_integer(std::vector<uint8_t> &out, const WJ_BigInt *a) {
    const size_t at = out.size();
    unsigned room = WJ_BigInt_GetByteLength(a) + 8;
    out.resize(at + 2 + room);
    if (WJ_BigInt_DerEncode(out.data() + at + 2, &room, a) != 0 || room > 0xffff) return QRT_SSS_ENCODE_BIGINT_FAILED;
    out.resize(at + 2 + room);
    out[at] = static_cast<uint8_t>(room >> 8);
    out[at + 1] = static_cast<uint8_t>(room);
    return 0;
}

// Decodes `len` bytes as a non-negative DER INTEGER into a.
int get_integer(Reader &r, uint16_t len, WJ_BigInt *a, int layout_code) {
    Reader der;
    if (!r.sub(len, der)) return layout_code;
    if (WJ_BigInt_DerDecode(a, der.data(), static_cast<unsigned>(der.remaining())) != 0)
        return QRT_SSS_DECODE_BIGINT_FAILED;
    if (a->Sign) return layout_code;
    return 0;
}

}  // namespace

std::vector<uint8_t> encode_simple_info(uint32_t n, uint32_t secret_len) {
    std::vector<uint8_t> out;
    put_be32(out, n);
    put_be32(out, secret_len);
    return out;
}

// n (4) | secret length (4)
int parse_simple_info(const BIN &info, SimpleInfo &out) {
    if (info.length != 8 || !info.value) return QRT_SSS_BAD_PARAM;
    Reader r(info.value, info.length);
    if (!r.be32(out.n) || !r.be32(out.secret_len)) return QRT_SSS_BAD_PARAM;
    if (out.n < 2 || out.n > 0x7fffffffu || out.secret_len == 0 || out.secret_len > 0x7fffffffu)
        return QRT_SSS_BAD_PARAM;
    return 0;
}

int encode_shamir_info(std::vector<uint8_t> &out, uint32_t n, uint32_t k, uint32_t secret_len, const WJ_BigInt *prime) {
    out.clear();
    put_be32(out, n);
    put_be32(out, k);
    put_be32(out, secret_len);
    return put_integer(out, prime);
}

// n (4) | k (4) | secret length (4) | L (2) | prime as DER INTEGER (L); exactly L + 14 bytes.
int parse_shamir_info(const BIN &info, ShamirInfo &out) {
    if (!info.value || info.length < 17) return QRT_SSS_BAD_PARAM;
    Reader r(info.value, info.length);
    uint16_t plen = 0;
    if (!r.be32(out.n) || !r.be32(out.k) || !r.be32(out.secret_len) || !r.be16(plen)) return QRT_SSS_BAD_PARAM;
    if (info.length != plen + 14u) return QRT_SSS_BAD_PARAM;
    if (out.n < 2 || out.k < 1 || out.n < out.k || out.n > 0x7fffffffu || out.secret_len == 0) return QRT_SSS_BAD_PARAM;
    out.prime = new_bigint();
    if (int rc = get_integer(r, plen, out.prime.get(), QRT_SSS_DECODE_BIGINT_FAILED)) return rc;
    // Field arithmetic needs a modulus of at least 3.
    if (WJ_BigInt_GetBitLength(out.prime.get()) < 2) return QRT_SSS_DECODE_BIGINT_FAILED;
    // The secret is below the prime; a longer stated length would only ask for zero padding,
    // and an outside length must not decide how much memory recovery takes.
    if (out.secret_len > WJ_BigInt_GetByteLength(out.prime.get())) return QRT_SSS_BAD_PARAM;
    return 0;
}

int encode_shamir_share(std::vector<uint8_t> &out, const WJ_BigInt *x, const WJ_BigInt *y) {
    out.clear();
    if (int rc = put_integer(out, x)) return rc;
    return put_integer(out, y);
}

// len(x) (2) | x as DER INTEGER | len(y) (2) | y as DER INTEGER
int parse_shamir_share(const uint8_t *data, int len, WJ_BigInt *x, WJ_BigInt *y) {
    if (!data || len <= 7) return QRT_SSS_BAD_SHARE;
    Reader r(data, static_cast<size_t>(len));
    uint16_t lx = 0, ly = 0;
    if (!r.be16(lx)) return QRT_SSS_BAD_SHARE;
    if (int rc = get_integer(r, lx, x, QRT_SSS_BAD_SHARE)) return rc;
    if (!r.be16(ly)) return QRT_SSS_BAD_SHARE;
    if (int rc = get_integer(r, ly, y, QRT_SSS_BAD_SHARE)) return rc;
    return 0;
}

}  // namespace ostrel::sss
