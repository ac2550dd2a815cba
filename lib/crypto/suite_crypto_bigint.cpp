// The big-integer record (32-bit words, least significant first), its byte and DER forms, the
// pool of temporaries, the conversion to and from OpenSSL's BIGNUM, and the arithmetic over it.
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

#include "crypto_der.hpp"
#include "crypto_pkey.hpp"
#include "ostrel/owners.hpp"
#include "ostrel/reader.hpp"

using namespace ostrel;
using namespace ostrel::crypto;

namespace {

void trim(WJ_BigInt *a) {
    while (a->Length > 1 && a->Data[a->Length - 1] == 0) --a->Length;
    if (a->Length == 1 && a->Data[0] == 0) a->Sign = 0;
}

int grow(WJ_BigInt *a, unsigned words) {
    if (words <= a->MemLength) return 0;
    auto *d = static_cast<WJ_WORD *>(QRT_calloc(words, sizeof(WJ_WORD)));
    if (!d) return WJ_ERR_MEMORY;
    if (a->Data) {
        std::memcpy(d, a->Data, a->MemLength * sizeof(WJ_WORD));
        wipe(a->Data, a->MemLength * sizeof(WJ_WORD));
        QRT_free(a->Data);
    }
    a->Data = d;
    a->MemLength = words;
    return 0;
}

bool valid(const WJ_BigInt *a) { return a && a->Data && a->Length >= 1 && a->Length <= a->MemLength; }

// Magnitude as minimal big-endian bytes (one zero byte for zero).
std::vector<uint8_t> magnitude(const WJ_BigInt *a) {
    std::vector<uint8_t> out;
    out.reserve(a->Length * 4);
    for (unsigned i = a->Length; i-- > 0;)
        for (int k = 3; k >= 0; --k) out.push_back(static_cast<uint8_t>(a->Data[i] >> (8 * k)));
    size_t lead = 0;
    while (lead + 1 < out.size() && out[lead] == 0) ++lead;
    out.erase(out.begin(), out.begin() + static_cast<long>(lead));
    return out;
}

int set_magnitude(WJ_BigInt *a, const uint8_t *in, size_t n) {
    while (n > 1 && *in == 0) {
        ++in;
        --n;
    }
    unsigned words = static_cast<unsigned>(n / 4 + 1);
    if (int rc = grow(a, words)) return rc;
    std::memset(a->Data, 0, a->MemLength * sizeof(WJ_WORD));
    for (size_t i = 0; i < n; ++i) {
        size_t bit = (n - 1 - i) * 8;
        a->Data[bit / 32] |= WJ_WORD{in[i]} << (bit % 32);
    }
    a->Length = words;
    a->Sign = 0;
    trim(a);
    return 0;
}

int put(unsigned char *out, unsigned int *out_len, const std::vector<uint8_t> &bytes) {
    if (!out) {
        *out_len = static_cast<unsigned>(bytes.size());
        return 0;
    }
    if (*out_len < bytes.size()) return WJ_ERR_BUFFER_SMALL;
    std::memcpy(out, bytes.data(), bytes.size());
    *out_len = static_cast<unsigned>(bytes.size());
    return 0;
}

}  // namespace

namespace ostrel::crypto {

bool bigint_valid(const WJ_BigInt *a) { return valid(a); }

bool bigint_is_zero(const WJ_BigInt *a) {
    if (!valid(a)) return true;
    for (unsigned i = 0; i < a->Length; ++i)
        if (a->Data[i]) return false;
    return true;
}

bool bn_set(BIGNUM *bn, const WJ_BigInt *a) {
    if (!bn || !valid(a)) return false;
    bool ok;
    if constexpr (std::endian::native == std::endian::little) {
        // The words are little-endian bytes in memory already.
        ok = BN_lebin2bn(reinterpret_cast<const unsigned char *>(a->Data), static_cast<int>(a->Length * 4), bn);
    } else {
        std::vector<uint8_t> m = magnitude(a);
        ok = BN_bin2bn(m.data(), static_cast<int>(m.size()), bn);
        wipe(m.data(), m.size());
    }
    if (ok) BN_set_negative(bn, a->Sign && !BN_is_zero(bn));
    return ok;
}

BnPtr bn_of(const WJ_BigInt *a) {
    BnPtr bn(BN_new());
    if (!bn || !bn_set(bn.get(), a)) return nullptr;
    return bn;
}

BIGNUM *bn_from_bigint(const WJ_BigInt *a) { return bn_of(a).release(); }

int bigint_from_bn(WJ_BigInt *a, const BIGNUM *bn) {
    if (!a || !bn) return WJ_ERR_BAD_ARGUMENT;
    unsigned words = static_cast<unsigned>((BN_num_bytes(bn) + 3) / 4);
    if (words == 0) words = 1;
    if (int rc = grow(a, words)) return rc;
    std::memset(a->Data, 0, a->MemLength * sizeof(WJ_WORD));
    if constexpr (std::endian::native == std::endian::little) {
        // Little-endian bytes are the words' memory image.
        if (BN_bn2lebinpad(bn, reinterpret_cast<unsigned char *>(a->Data), static_cast<int>(words * 4)) < 0)
            return WJ_ERR_INTERNAL;
    } else {
        std::vector<uint8_t> le(words * 4);
        if (BN_bn2lebinpad(bn, le.data(), static_cast<int>(le.size())) < 0) return WJ_ERR_INTERNAL;
        for (unsigned i = 0; i < words; ++i)
            a->Data[i] = WJ_WORD{le[4 * i]} | WJ_WORD{le[4 * i + 1]} << 8 | WJ_WORD{le[4 * i + 2]} << 16 |
                         WJ_WORD{le[4 * i + 3]} << 24;
        wipe(le.data(), le.size());
    }
    a->Length = words;
    a->Sign = BN_is_negative(bn) ? 1 : 0;
    trim(a);
    return 0;
}

bool bigint_to_fixed(const WJ_BigInt *a, uint8_t *out, size_t n) {
    if (!valid(a)) return false;
    std::memset(out, 0, n);
    for (size_t i = 0; i < size_t{a->Length} * 4; ++i) {
        uint8_t b = static_cast<uint8_t>(a->Data[i / 4] >> (8 * (i % 4)));
        if (i < n)
            out[n - 1 - i] = b;
        else if (b)
            return false;
    }
    return true;
}

bool bn_to_fixed(const BIGNUM *bn, uint8_t *out, size_t n) {
    return BN_bn2binpad(bn, out, static_cast<int>(n)) == static_cast<int>(n);
}

int put_out(unsigned char *out, unsigned int *out_len, const uint8_t *data, size_t n) {
    if (!out_len) return WJ_ERR_BAD_ARGUMENT;
    if (!out) {
        *out_len = static_cast<unsigned>(n);
        return 0;
    }
    if (*out_len < n) return WJ_ERR_BUFFER_SMALL;
    if (n) std::memcpy(out, data, n);
    *out_len = static_cast<unsigned>(n);
    return 0;
}

}  // namespace ostrel::crypto

namespace {

// A BN_CTX and operand BIGNUMs kept per thread for the arithmetic below: on the small numbers of
// secret sharing and the like, making them per call cost more than the operation itself.
constexpr size_t kMaxOperands = 3;

struct ArithScratch {
    BnCtxPtr ctx = new_bn_ctx();
    std::array<BIGNUM *, kMaxOperands + 1> bn{};  // the operands, then the result
    ArithScratch() {
        for (BIGNUM *&b : bn) b = BN_new();
    }
    ~ArithScratch() {
        for (BIGNUM *b : bn) BN_clear_free(b);
    }
    bool ready() const {
        for (BIGNUM *b : bn)
            if (!b) return false;
        return ctx != nullptr;
    }
};

// Runs an operation over BIGNUM copies of the inputs and stores its result in r, at the boundary of
// exported function fn. The copies are cleared before the call returns, so no value outlives it.
template <class F>
int arith(const char *fn, WJ_BigInt *r, std::initializer_list<const WJ_BigInt *> in, F op) {
    if (!r || in.size() > kMaxOperands) return WJ_ERR_BAD_ARGUMENT;
    for (const WJ_BigInt *a : in)
        if (!valid(a)) return WJ_ERR_BAD_ARGUMENT;
    return OSTREL_GUARD_AS(fn, [&] {
        thread_local ArithScratch t;
        if (!t.ready()) return WJ_ERR_MEMORY;
        std::array<BIGNUM *, kMaxOperands> v{};
        size_t n = 0;
        int rc = 0;
        for (const WJ_BigInt *a : in) {
            v[n] = t.bn[n];
            if (!bn_set(v[n++], a)) {
                rc = WJ_ERR_MEMORY;
                break;
            }
        }
        BIGNUM *out = t.bn[kMaxOperands];
        if (!rc) rc = op(out, v, t.ctx.get());
        if (!rc) rc = bigint_from_bn(r, out);
        // Flags cannot be taken off a BIGNUM: a slot that picked one up is replaced.
        for (BIGNUM *&b : t.bn) {
            BN_clear(b);
            if (BN_get_flags(b, BN_FLG_CONSTTIME)) {
                BN_free(b);
                b = BN_new();
            }
        }
        return rc;
    });
}

// Addition and subtraction work on the words directly: they are linear, and a round trip through
// BIGNUM would cost more than the sum. Word i of the result depends only on word i of the inputs
// and the carry, so r may be a or b.
unsigned used_words(const WJ_BigInt *a) {
    unsigned n = a->Length;
    while (n > 1 && a->Data[n - 1] == 0) --n;
    return n;
}

int compare_magnitude(const WJ_BigInt *a, const WJ_BigInt *b) {
    const unsigned la = used_words(a), lb = used_words(b);
    if (la != lb) return la < lb ? -1 : 1;
    for (unsigned i = la; i-- > 0;)
        if (a->Data[i] != b->Data[i]) return a->Data[i] < b->Data[i] ? -1 : 1;
    return 0;
}

// r := sign * (|a| + |b|) when add, else sign * (|a| - |b|) with |a| >= |b|.
int combine_magnitudes(WJ_BigInt *r, const WJ_BigInt *a, const WJ_BigInt *b, bool add, bool negative) {
    const unsigned la = used_words(a), lb = used_words(b);
    const unsigned n = std::max(la, lb) + (add ? 1 : 0);
    if (int rc = grow(r, n)) return rc;  // may move r->Data; a or b may be r, so read through them after
    uint64_t carry = 0;
    for (unsigned i = 0; i < n; ++i) {
        const uint64_t x = i < la ? a->Data[i] : 0, y = i < lb ? b->Data[i] : 0;
        if (add) {
            const uint64_t t = x + y + carry;
            r->Data[i] = static_cast<WJ_WORD>(t);
            carry = t >> 32;
        } else {
            const uint64_t t = x - y - carry;
            r->Data[i] = static_cast<WJ_WORD>(t);
            carry = (t >> 63) & 1;
        }
    }
    if (r->MemLength > n) std::memset(r->Data + n, 0, (r->MemLength - n) * sizeof(WJ_WORD));
    r->Length = n;
    r->Sign = negative ? 1 : 0;
    trim(r);
    return 0;
}

int signed_add(WJ_BigInt *r, const WJ_BigInt *a, bool neg_a, const WJ_BigInt *b, bool neg_b) {
    if (neg_a == neg_b) return combine_magnitudes(r, a, b, true, neg_a);
    if (compare_magnitude(a, b) >= 0) return combine_magnitudes(r, a, b, false, neg_a);
    return combine_magnitudes(r, b, a, false, neg_b);
}

bool positive(const BIGNUM *m) { return !BN_is_zero(m) && !BN_is_negative(m); }

}  // namespace

struct _WJ_POOL_CTX {
    std::vector<WJ_BigInt *> free_list;
};

extern "C" {

QRT_API WJ_BigInt *WJ_BigInt_New(unsigned int words) {
    auto *a = static_cast<WJ_BigInt *>(QRT_calloc(1, sizeof(WJ_BigInt)));
    if (!a) return nullptr;
    if (grow(a, words ? words : 1)) {
        QRT_free(a);
        return nullptr;
    }
    a->Length = 1;
    return a;
}

QRT_API void WJ_BigInt_Free(WJ_BigInt *a) {
    if (!a) return;
    if (a->Data) {
        wipe(a->Data, a->MemLength * sizeof(WJ_WORD));
        QRT_free(a->Data);
    }
    QRT_free(a);
}

QRT_API int WJ_BigInt_Copy(WJ_BigInt *dst, const WJ_BigInt *src) {
    if (!dst || !valid(src)) return WJ_ERR_BAD_ARGUMENT;
    if (dst == src) return 0;
    if (int rc = grow(dst, src->Length)) return rc;
    std::memset(dst->Data, 0, dst->MemLength * sizeof(WJ_WORD));
    std::memcpy(dst->Data, src->Data, src->Length * sizeof(WJ_WORD));
    dst->Length = src->Length;
    dst->Sign = src->Sign;
    return 0;
}

QRT_API int WJ_BigInt_Cmp(const WJ_BigInt *a, const WJ_BigInt *b) {
    if (!valid(a) || !valid(b)) return WJ_ERR_BAD_ARGUMENT;
    auto len = [](const WJ_BigInt *x) {
        unsigned n = x->Length;
        while (n > 1 && x->Data[n - 1] == 0) --n;
        return n;
    };
    unsigned la = len(a), lb = len(b);
    bool za = la == 1 && a->Data[0] == 0, zb = lb == 1 && b->Data[0] == 0;
    int sa = za ? 0 : a->Sign, sb = zb ? 0 : b->Sign;
    if (sa != sb) return sa ? -1 : 1;
    int mag = 0;
    if (la != lb) {
        mag = la > lb ? 1 : -1;
    } else {
        for (unsigned i = la; i-- > 0;)
            if (a->Data[i] != b->Data[i]) {
                mag = a->Data[i] > b->Data[i] ? 1 : -1;
                break;
            }
    }
    return sa ? -mag : mag;
}

QRT_API int WJ_BigInt_Reset(WJ_BigInt *a) {
    if (!a || !a->Data) return WJ_ERR_BAD_ARGUMENT;
    wipe(a->Data, a->MemLength * sizeof(WJ_WORD));
    a->Length = 1;
    a->Sign = 0;
    return 0;
}

QRT_API int WJ_BigInt_Realloc(WJ_BigInt *a, unsigned int words) {
    if (!a) return WJ_ERR_BAD_ARGUMENT;
    int rc = grow(a, words ? words : 1);
    if (!rc && a->Length == 0) a->Length = 1;
    return rc;
}

QRT_API unsigned int WJ_BigInt_GetBitLength(const WJ_BigInt *a) {
    if (!valid(a)) return 0;
    for (unsigned i = a->Length; i-- > 0;)
        if (WJ_WORD w = a->Data[i]) {
            unsigned bits = 0;
            while (w) {
                ++bits;
                w >>= 1;
            }
            return i * 32 + bits;
        }
    return 0;
}

QRT_API unsigned int WJ_BigInt_GetByteLength(const WJ_BigInt *a) { return (WJ_BigInt_GetBitLength(a) + 7) / 8; }

QRT_API int WJ_BigInt_IntToBytes(unsigned char *out, unsigned int *outLength, const WJ_BigInt *a) {
    return OSTREL_GUARD(outLength && valid(a), [&] { return put(out, outLength, magnitude(a)); });
}

QRT_API int WJ_BigInt_BytesToInt(WJ_BigInt *a, const unsigned char *in, unsigned int inLength) {
    if (!a || (!in && inLength)) return WJ_ERR_BAD_ARGUMENT;
    static const uint8_t zero = 0;
    return inLength ? set_magnitude(a, in, inLength) : set_magnitude(a, &zero, 1);
}

// INTEGER: 02, length, minimal two's complement content.
QRT_API int WJ_BigInt_DerEncode(unsigned char *out, unsigned int *outLength, const WJ_BigInt *a) {
    return OSTREL_GUARD(outLength && valid(a), [&] {
        std::vector<uint8_t> m = magnitude(a);
        bool neg = a->Sign && !(m.size() == 1 && m[0] == 0);
        if (neg) {
            // two's complement of the magnitude
            for (auto &b : m) b = static_cast<uint8_t>(~b);
            for (size_t i = m.size(); i-- > 0;)
                if (++m[i]) break;
            if (!(m[0] & 0x80)) m.insert(m.begin(), 0xff);
            while (m.size() > 1 && m[0] == 0xff && (m[1] & 0x80)) m.erase(m.begin());
        } else if (m[0] & 0x80) {
            m.insert(m.begin(), 0x00);
        }
        std::vector<uint8_t> der{0x02};
        size_t n = m.size();
        if (n < 0x80) {
            der.push_back(static_cast<uint8_t>(n));
        } else {
            uint8_t len[4];
            int k = 0;
            for (size_t v = n; v; v >>= 8) len[k++] = static_cast<uint8_t>(v);
            der.push_back(static_cast<uint8_t>(0x80 | k));
            while (k) der.push_back(len[--k]);
        }
        der.insert(der.end(), m.begin(), m.end());
        return put(out, outLength, der);
    });
}

QRT_API int WJ_BigInt_DerDecode(WJ_BigInt *a, const unsigned char *in, unsigned int inLength) {
    if (!a || !in) return WJ_ERR_BAD_ARGUMENT;
    return OSTREL_GUARD([&] {
        // INTEGER in DER, filling the input exactly
        Reader r(in, inLength), c;
        if (int rc = crypto::der::code_of(ostrel::tlv::read_tlv(r, ostrel::tlv::kInteger, c))) return rc;
        if (c.empty() || !r.empty()) return WJ_ERR_BAD_DER;
        size_t len = c.remaining();
        const uint8_t *p = c.data();
        if (len > 1 && ((p[0] == 0 && !(p[1] & 0x80)) || (p[0] == 0xff && (p[1] & 0x80)))) return WJ_ERR_BAD_DER;
        if (!(p[0] & 0x80)) return set_magnitude(a, p, len);
        std::vector<uint8_t> m(p, p + len);  // negative: magnitude = two's complement
        for (auto &b : m) b = static_cast<uint8_t>(~b);
        for (size_t i = m.size(); i-- > 0;)
            if (++m[i]) break;
        int rc = set_magnitude(a, m.data(), m.size());
        if (!rc) a->Sign = 1;
        return rc;
    });
}

QRT_API WJ_POOL_CTX *WJ_POOL_CTX_New(void) { return new (std::nothrow) WJ_POOL_CTX; }

QRT_API void WJ_POOL_CTX_Free(WJ_POOL_CTX *pool) {
    if (!pool) return;
    for (WJ_BigInt *a : pool->free_list) WJ_BigInt_Free(a);
    delete pool;
}

QRT_API WJ_BigInt *WJ_POOL_CTX_Pop(WJ_POOL_CTX *pool, unsigned int words) {
    if (!pool) return nullptr;
    if (!words) words = 1;
    for (size_t i = pool->free_list.size(); i-- > 0;) {
        WJ_BigInt *a = pool->free_list[i];
        if (a->MemLength >= words) {
            pool->free_list.erase(pool->free_list.begin() + static_cast<long>(i));
            return a;  // wiped when pushed
        }
    }
    return WJ_BigInt_New(words);
}

QRT_API int WJ_POOL_CTX_Push(WJ_POOL_CTX *pool, WJ_BigInt *a) {
    if (!pool || !a || !a->Data) return WJ_ERR_BAD_ARGUMENT;
    WJ_BigInt_Reset(a);
    return OSTREL_GUARD([&] {
        pool->free_list.push_back(a);
        return 0;
    });
}

// ---- Arithmetic ----

QRT_API int WJ_BigInt_Add(WJ_BigInt *r, const WJ_BigInt *a, const WJ_BigInt *b) {
    if (!r || !valid(a) || !valid(b)) return WJ_ERR_BAD_ARGUMENT;
    return signed_add(r, a, a->Sign != 0, b, b->Sign != 0);
}

QRT_API int WJ_BigInt_Sub(WJ_BigInt *r, const WJ_BigInt *a, const WJ_BigInt *b) {
    if (!r || !valid(a) || !valid(b)) return WJ_ERR_BAD_ARGUMENT;
    return signed_add(r, a, a->Sign != 0, b, b->Sign == 0);
}

QRT_API int WJ_BigInt_Mul(WJ_BigInt *r, const WJ_BigInt *a, const WJ_BigInt *b) {
    return arith(__func__, r, {a, b},
                 [](BIGNUM *o, auto &v, BN_CTX *c) { return BN_mul(o, v[0], v[1], c) ? 0 : WJ_ERR_MEMORY; });
}

QRT_API int WJ_BigInt_Mod(WJ_BigInt *r, const WJ_BigInt *a, const WJ_BigInt *m) {
    return arith(__func__, r, {a, m}, [](BIGNUM *o, auto &v, BN_CTX *c) {
        if (!positive(v[1])) return WJ_ERR_BAD_ARGUMENT;
        return BN_nnmod(o, v[0], v[1], c) ? 0 : WJ_ERR_MEMORY;
    });
}

QRT_API int WJ_BigInt_ModMul(WJ_BigInt *r, const WJ_BigInt *a, const WJ_BigInt *b, const WJ_BigInt *m) {
    return arith(__func__, r, {a, b, m}, [](BIGNUM *o, auto &v, BN_CTX *c) {
        if (!positive(v[2])) return WJ_ERR_BAD_ARGUMENT;
        return BN_mod_mul(o, v[0], v[1], v[2], c) ? 0 : WJ_ERR_MEMORY;  // the remainder is non-negative
    });
}

QRT_API int WJ_BigInt_ModExp(WJ_BigInt *r, const WJ_BigInt *a, const WJ_BigInt *e, const WJ_BigInt *m) {
    return arith(__func__, r, {a, e, m}, [](BIGNUM *o, auto &v, BN_CTX *c) {
        BIGNUM *base = v[0], *exp = v[1], *mod = v[2];
        if (!positive(mod) || BN_is_negative(exp)) return WJ_ERR_BAD_ARGUMENT;
        if (!BN_nnmod(base, base, mod, c)) return WJ_ERR_MEMORY;
        if (BN_is_one(mod)) {
            BN_zero(o);
            return 0;
        }
        if (BN_is_odd(mod)) {
            // The flag cannot be taken off again, so it goes on a context temporary, not the operand.
            BN_CTX_start(c);
            BIGNUM *secret_exp = BN_CTX_get(c);
            int rc = secret_exp && BN_copy(secret_exp, exp) ? 0 : WJ_ERR_MEMORY;
            if (!rc) {
                BN_set_flags(secret_exp, BN_FLG_CONSTTIME);
                if (!BN_mod_exp_mont_consttime(o, base, secret_exp, mod, c, nullptr)) rc = WJ_ERR_MEMORY;
                BN_clear(secret_exp);
            }
            BN_CTX_end(c);
            return rc;
        }
        return BN_mod_exp(o, base, exp, mod, c) ? 0 : WJ_ERR_MEMORY;
    });
}

QRT_API int WJ_BigInt_ModInverse(WJ_BigInt *r, const WJ_BigInt *a, const WJ_BigInt *m) {
    return arith(__func__, r, {a, m}, [](BIGNUM *o, auto &v, BN_CTX *c) {
        BIGNUM *x = v[0], *mod = v[1];
        if (!positive(mod)) return WJ_ERR_BAD_ARGUMENT;
        if (BN_is_one(mod)) return WJ_ERR_NOT_INVERTIBLE;
        BN_CTX_start(c);
        BIGNUM *secret = BN_CTX_get(c);  // carries the constant-time flag instead of the operand
        int rc = secret && BN_nnmod(secret, x, mod, c) ? 0 : WJ_ERR_MEMORY;
        if (!rc) {
            BN_set_flags(secret, BN_FLG_CONSTTIME);
            if (!BN_mod_inverse(o, secret, mod, c)) rc = WJ_ERR_NOT_INVERTIBLE;
            BN_clear(secret);
        }
        BN_CTX_end(c);
        return rc;
    });
}

QRT_API int WJ_BigInt_GenerateRandom(WJ_BigInt *r, unsigned int bits) {
    if (!r || bits == 0 || bits > 65536) return WJ_ERR_BAD_ARGUMENT;
    if (int rc = gate()) return rc;
    return arith(__func__, r, {}, [bits](BIGNUM *o, auto &, BN_CTX *c) {
        return BN_priv_rand_ex(o, static_cast<int>(bits), BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY, 0, c) ? 0
                                                                                                     : WJ_ERR_RANDOM;
    });
}

QRT_API int WJ_BigInt_GenerateRandomPrime(WJ_BigInt *r, unsigned int bits) {
    if (!r || bits < 16 || bits > 8192) return WJ_ERR_BAD_ARGUMENT;
    if (int rc = gate()) return rc;
    return arith(__func__, r, {}, [bits](BIGNUM *o, auto &, BN_CTX *c) {
        return BN_generate_prime_ex2(o, static_cast<int>(bits), 0, nullptr, nullptr, nullptr, c) ? 0 : WJ_ERR_RANDOM;
    });
}

QRT_API int WJ_BigInt_IsPrime(const WJ_BigInt *a) {
    return OSTREL_GUARD(valid(a), [&] {
        BnPtr x = bn_of(a);
        BnCtxPtr ctx = new_bn_ctx();
        if (!x || !ctx) return WJ_ERR_MEMORY;
        if (BN_is_negative(x.get())) return 0;
        int rc = BN_check_prime(x.get(), ctx.get(), nullptr);
        return rc < 0 ? WJ_ERR_INTERNAL : rc;
    });
}

}  // extern "C"
