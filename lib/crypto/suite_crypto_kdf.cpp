// Password-based key derivation: PBKDF1, PBKDF2 with HMAC, and the PKCS#12 KDF. The iteration
// loops hash one digest at a time, so each step is a single compression on a copied state with a
// padding block prepared once (SHA-1 and the SHA-2 family); other hashes go through the Hasher.
#include <openssl/sha.h>

#include <cstring>
#include <vector>

#include "crypto_internal.h"
#include "ostrel/owners.hpp"

// The block-level SHA functions are deprecated in OpenSSL 3 but are the only way to run one
// compression on a saved state without a context object per step.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace ostrel::crypto {

namespace {

inline void put32(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}
inline void put64(uint8_t *p, uint64_t v) {
    put32(p, static_cast<uint32_t>(v >> 32));
    put32(p + 4, static_cast<uint32_t>(v));
}

// A hash with direct access to its compression function.
struct Sha1 {
    using Ctx = SHA_CTX;
    static constexpr unsigned kBlock = 64, kLen = 20;
    static void init(Ctx &c) { SHA1_Init(&c); }
    static void update(Ctx &c, const uint8_t *p, size_t n) { SHA1_Update(&c, p, n); }
    static void final(Ctx &c, uint8_t *out) { SHA1_Final(out, &c); }
    static void compress(Ctx &c, const uint8_t *b) { SHA1_Transform(&c, b); }
    static void digest(const Ctx &c, uint8_t *out) {
        put32(out, c.h0);
        put32(out + 4, c.h1);
        put32(out + 8, c.h2);
        put32(out + 12, c.h3);
        put32(out + 16, c.h4);
    }
};
template <bool k224>
struct Sha256 {
    using Ctx = SHA256_CTX;
    static constexpr unsigned kBlock = 64, kLen = k224 ? 28 : 32;
    static void init(Ctx &c) { k224 ? SHA224_Init(&c) : SHA256_Init(&c); }
    static void update(Ctx &c, const uint8_t *p, size_t n) { SHA256_Update(&c, p, n); }
    static void final(Ctx &c, uint8_t *out) { k224 ? SHA224_Final(out, &c) : SHA256_Final(out, &c); }
    static void compress(Ctx &c, const uint8_t *b) { SHA256_Transform(&c, b); }
    static void digest(const Ctx &c, uint8_t *out) {
        for (unsigned i = 0; i < kLen / 4; ++i) put32(out + 4 * i, c.h[i]);
    }
};
template <bool k384>
struct Sha512 {
    using Ctx = SHA512_CTX;
    static constexpr unsigned kBlock = 128, kLen = k384 ? 48 : 64;
    static void init(Ctx &c) { k384 ? SHA384_Init(&c) : SHA512_Init(&c); }
    static void update(Ctx &c, const uint8_t *p, size_t n) { SHA512_Update(&c, p, n); }
    static void final(Ctx &c, uint8_t *out) { k384 ? SHA384_Final(out, &c) : SHA512_Final(out, &c); }
    static void compress(Ctx &c, const uint8_t *b) { SHA512_Transform(&c, b); }
    static void digest(const Ctx &c, uint8_t *out) {
        for (unsigned i = 0; i < kLen / 8; ++i) put64(out + 8 * i, c.h[i]);
    }
};

// The last block of a message of `prefix` whole blocks followed by one digest: the digest goes
// into the first H::kLen bytes at each step, the padding and bit length stay.
template <class H>
struct PadBlock {
    alignas(16) uint8_t b[H::kBlock];
    explicit PadBlock(unsigned prefix_blocks) {
        std::memset(b, 0, sizeof b);
        b[H::kLen] = 0x80;
        uint64_t bits = (static_cast<uint64_t>(prefix_blocks) * H::kBlock + H::kLen) * 8;
        put64(b + H::kBlock - 8, bits);
    }
    ~PadBlock() { wipe(b, sizeof b); }
};

// A copied context holds secret-derived state: wiped when it goes.
template <class H>
struct Ctx {
    typename H::Ctx c;
    ~Ctx() { wipe(&c, sizeof c); }
};

// ---- PBKDF2 with HMAC on the fast path ----

template <class H>
void pbkdf2_fast(uint8_t *out, size_t out_len, const uint8_t *pw, size_t pw_len, const uint8_t *salt, size_t salt_len,
                 unsigned iterations) {
    uint8_t key[H::kBlock] = {};
    if (pw_len > H::kBlock) {
        Ctx<H> k;
        H::init(k.c);
        H::update(k.c, pw, pw_len);
        H::final(k.c, key);
    } else if (pw_len) {
        std::memcpy(key, pw, pw_len);
    }
    uint8_t pad[H::kBlock];
    Ctx<H> ipad, opad;
    for (unsigned i = 0; i < H::kBlock; ++i) pad[i] = key[i] ^ 0x36;
    H::init(ipad.c);
    H::update(ipad.c, pad, H::kBlock);
    for (unsigned i = 0; i < H::kBlock; ++i) pad[i] = key[i] ^ 0x5c;
    H::init(opad.c);
    H::update(opad.c, pad, H::kBlock);
    wipe(key, sizeof key);
    wipe(pad, sizeof pad);

    PadBlock<H> inner(1), outer(1);
    uint8_t t[H::kLen];
    Ctx<H> w;
    for (uint32_t block = 1; out_len; ++block) {
        // U1 = HMAC(P, S || INT(i)) through the ordinary update path.
        uint8_t ctr[4];
        put32(ctr, block);
        w.c = ipad.c;
        H::update(w.c, salt, salt_len);
        H::update(w.c, ctr, 4);
        H::final(w.c, outer.b);
        w.c = opad.c;
        H::update(w.c, outer.b, H::kLen);
        H::final(w.c, inner.b);
        std::memcpy(t, inner.b, H::kLen);
        for (unsigned j = 1; j < iterations; ++j) {
            w.c = ipad.c;
            H::compress(w.c, inner.b);
            H::digest(w.c, outer.b);
            w.c = opad.c;
            H::compress(w.c, outer.b);
            H::digest(w.c, inner.b);
            for (unsigned k = 0; k < H::kLen; ++k) t[k] ^= inner.b[k];
        }
        size_t n = out_len < H::kLen ? out_len : H::kLen;
        std::memcpy(out, t, n);
        out += n;
        out_len -= n;
    }
    wipe(t, sizeof t);
}

// ---- Generic HMAC over the Hasher (hashes without a fast path) ----

int pbkdf2_generic(uint8_t *out, size_t out_len, const uint8_t *pw, size_t pw_len, const uint8_t *salt, size_t salt_len,
                   unsigned iterations, int alg) {
    const HashInfo *hi = hash_info(alg);
    if (!hi) return WJ_ERR_UNKNOWN_ID;
    const unsigned len = hi->length, blk = hi->block;
    Hasher h;
    int rc = 0;
    uint8_t key[128] = {}, ipad[128], opad[128], u[WJ_HASH_MAX_LENGTH], t[WJ_HASH_MAX_LENGTH];
    if (pw_len > blk) {
        if ((rc = h.init(alg)) || (rc = h.update(pw, pw_len)) || (rc = h.final(key))) return rc;
    } else if (pw_len) {
        std::memcpy(key, pw, pw_len);
    }
    for (unsigned i = 0; i < blk; ++i) {
        ipad[i] = key[i] ^ 0x36;
        opad[i] = key[i] ^ 0x5c;
    }
    auto hmac = [&](const uint8_t *a, size_t an, const uint8_t *b, size_t bn, uint8_t *md) {
        int r;
        if ((r = h.init(alg)) || (r = h.update(ipad, blk)) || (r = h.update(a, an)) || (r = h.update(b, bn)) ||
            (r = h.final(md)))
            return r;
        if ((r = h.init(alg)) || (r = h.update(opad, blk)) || (r = h.update(md, len)) || (r = h.final(md))) return r;
        return 0;
    };
    for (uint32_t block = 1; out_len && rc == 0; ++block) {
        uint8_t ctr[4];
        put32(ctr, block);
        if ((rc = hmac(salt, salt_len, ctr, 4, u))) break;
        std::memcpy(t, u, len);
        for (unsigned j = 1; j < iterations && rc == 0; ++j) {
            rc = hmac(u, len, nullptr, 0, u);
            for (unsigned k = 0; k < len; ++k) t[k] ^= u[k];
        }
        size_t n = out_len < len ? out_len : len;
        std::memcpy(out, t, n);
        out += n;
        out_len -= n;
    }
    wipe(key, sizeof key);
    wipe(ipad, sizeof ipad);
    wipe(opad, sizeof opad);
    wipe(u, sizeof u);
    wipe(t, sizeof t);
    return rc;
}

// ---- Repeated hashing A = H(A): PBKDF1 and the PKCS#12 KDF ----

// a holds H(first input) on entry; hashes it `more` further times in place.
template <class H>
void rehash_fast(uint8_t *a, unsigned more) {
    PadBlock<H> blk(0);
    Ctx<H> fresh, w;
    H::init(fresh.c);
    std::memcpy(blk.b, a, H::kLen);
    for (unsigned i = 0; i < more; ++i) {
        w.c = fresh.c;
        H::compress(w.c, blk.b);
        H::digest(w.c, blk.b);
    }
    std::memcpy(a, blk.b, H::kLen);
}

// A = H(parts...), then `more` further A = H(A). a has room for the digest.
int hash_chain(uint8_t *a, int alg, const uint8_t *p1, size_t n1, const uint8_t *p2, size_t n2, unsigned more,
               Hasher &h) {
    int rc;
    if ((rc = h.init(alg)) || (rc = h.update(p1, n1)) || (rc = h.update(p2, n2)) || (rc = h.final(a))) return rc;
    switch (alg) {
        case WJ_HASH_SHA1:
            rehash_fast<Sha1>(a, more);
            return 0;
        case WJ_HASH_SHA224:
            rehash_fast<Sha256<true>>(a, more);
            return 0;
        case WJ_HASH_SHA256:
            rehash_fast<Sha256<false>>(a, more);
            return 0;
        case WJ_HASH_SHA384:
            rehash_fast<Sha512<true>>(a, more);
            return 0;
        case WJ_HASH_SHA512:
            rehash_fast<Sha512<false>>(a, more);
            return 0;
        default:
            break;
    }
    const unsigned len = hash_info(alg)->length;
    for (unsigned i = 0; i < more; ++i)
        if ((rc = h.init(alg)) || (rc = h.update(a, len)) || (rc = h.final(a))) return rc;
    return 0;
}

bool has_fast_path(int alg) {
    return alg == WJ_HASH_SHA1 || alg == WJ_HASH_SHA224 || alg == WJ_HASH_SHA256 || alg == WJ_HASH_SHA384 ||
           alg == WJ_HASH_SHA512;
}

bool args_ok(const unsigned char *out, unsigned out_len, const unsigned char *pw, unsigned pw_len,
             const unsigned char *salt, unsigned salt_len, unsigned iterations) {
    return out && out_len && iterations && (pw || !pw_len) && (salt || !salt_len);
}

}  // namespace

}  // namespace ostrel::crypto

using namespace ostrel;
using namespace ostrel::crypto;

extern "C" {

QRT_API int WJ_PBKDF1(unsigned char *out, unsigned int outLength, const unsigned char *password,
                      unsigned int passwordLength, const unsigned char *salt, unsigned int saltLength,
                      unsigned int iterations, int hashAlg) {
    if (!args_ok(out, outLength, password, passwordLength, salt, saltLength, iterations)) return WJ_ERR_BAD_ARGUMENT;
    if (hashAlg != WJ_HASH_MD2 && hashAlg != WJ_HASH_MD5 && hashAlg != WJ_HASH_SHA1) return WJ_ERR_UNKNOWN_ID;
    if (outLength > hash_info(hashAlg)->length) return WJ_ERR_BAD_ARGUMENT;
    if (int rc = gate()) return rc;
    return OSTREL_GUARD([&] {
        Hasher h;
        uint8_t t[WJ_HASH_MAX_LENGTH];
        int rc = hash_chain(t, hashAlg, password, passwordLength, salt, saltLength, iterations - 1, h);
        if (rc == 0) std::memcpy(out, t, outLength);
        wipe(t, sizeof t);
        return rc;
    });
}

QRT_API int WJ_PBKDF2_HMAC(unsigned char *out, unsigned int outLength, const unsigned char *password,
                           unsigned int passwordLength, const unsigned char *salt, unsigned int saltLength,
                           unsigned int iterations, int hashAlg) {
    if (!args_ok(out, outLength, password, passwordLength, salt, saltLength, iterations)) return WJ_ERR_BAD_ARGUMENT;
    const HashInfo *hi = hash_info(hashAlg);
    if (!hi) return WJ_ERR_UNKNOWN_ID;
    if (int rc = gate()) return rc;
    return OSTREL_GUARD([&] {
        switch (hashAlg) {
            case WJ_HASH_SHA1:
                pbkdf2_fast<Sha1>(out, outLength, password, passwordLength, salt, saltLength, iterations);
                return 0;
            case WJ_HASH_SHA224:
                pbkdf2_fast<Sha256<true>>(out, outLength, password, passwordLength, salt, saltLength, iterations);
                return 0;
            case WJ_HASH_SHA256:
                pbkdf2_fast<Sha256<false>>(out, outLength, password, passwordLength, salt, saltLength, iterations);
                return 0;
            case WJ_HASH_SHA384:
                pbkdf2_fast<Sha512<true>>(out, outLength, password, passwordLength, salt, saltLength, iterations);
                return 0;
            case WJ_HASH_SHA512:
                pbkdf2_fast<Sha512<false>>(out, outLength, password, passwordLength, salt, saltLength, iterations);
                return 0;
            default:
                return pbkdf2_generic(out, outLength, password, passwordLength, salt, saltLength, iterations, hashAlg);
        }
    });
}

QRT_API int WJ_PKCS12_KDF(unsigned char *out, unsigned int outLength, const unsigned char *password,
                          unsigned int passwordLength, const unsigned char *salt, unsigned int saltLength,
                          unsigned int iterations, int id, int hashAlg) {
    if (!args_ok(out, outLength, password, passwordLength, salt, saltLength, iterations) || id < 1 || id > 3)
        return WJ_ERR_BAD_ARGUMENT;
    const HashInfo *hi = hash_info(hashAlg);
    if (!hi || !has_fast_path(hashAlg)) return WJ_ERR_UNKNOWN_ID;
    if (int rc = gate()) return rc;
    return OSTREL_GUARD([&] {
        const size_t u = hi->length, v = hi->block;
        // I = S || P, each repeated to a whole number of v-byte blocks (empty when its input is).
        const size_t s_len = (saltLength + v - 1) / v * v, p_len = (passwordLength + v - 1) / v * v;
        std::vector<uint8_t> I(s_len + p_len);
        for (size_t i = 0; i < s_len; ++i) I[i] = salt[i % saltLength];
        for (size_t i = 0; i < p_len; ++i) I[s_len + i] = password[i % passwordLength];
        uint8_t D[128], A[WJ_HASH_MAX_LENGTH], B[128];
        std::memset(D, id, v);
        Hasher h;
        int rc = 0;
        size_t left = outLength;
        while (left) {
            if ((rc = hash_chain(A, hashAlg, D, v, I.data(), I.size(), iterations - 1, h))) break;
            size_t n = left < u ? left : u;
            std::memcpy(out, A, n);
            out += n;
            left -= n;
            if (!left) break;
            // Each block Ij = (Ij + B + 1) mod 2^(8v), B being A repeated to v bytes.
            for (size_t i = 0; i < v; ++i) B[i] = A[i % u];
            for (size_t j = 0; j < I.size(); j += v) {
                unsigned carry = 1;
                for (size_t k = v; k-- > 0;) {
                    carry += static_cast<unsigned>(I[j + k]) + B[k];
                    I[j + k] = static_cast<uint8_t>(carry);
                    carry >>= 8;
                }
            }
        }
        wipe(I.data(), I.size());
        wipe(A, sizeof A);
        wipe(B, sizeof B);
        return rc;
    });
}

}  // extern "C"
