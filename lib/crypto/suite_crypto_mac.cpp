// MACs: HMAC over any hash of the core, CBC-MAC over any block cipher (ISO/IEC 9797-1
// algorithm 1 with padding method 1, or method 2 for DES), the ANSI X9.19 retail MAC and
// AES-128 CMAC (OpenSSL's).
#include <openssl/core_names.h>
#include <openssl/params.h>

#include <cstring>
#include <new>

#include "crypto_internal.h"
#include "ostrel/owners.hpp"

using namespace ostrel;
using namespace ostrel::crypto;

namespace {

enum Kind { kNone, kHmac, kCbcPad1, kCbcPad2, kX919, kCmac };

struct MacDesc {
    Kind kind = kNone;
    int cipher = 0;                  // block cipher of the cipher MACs
    const HashInfo *hash = nullptr;  // hash of an HMAC
};

MacDesc describe_mac(int alg) {
    MacDesc m;
    if (alg > 256 && alg < 512) {
        if ((m.hash = hash_info(alg - 256))) m.kind = kHmac;
    } else if (alg == WJ_MAC_AES_CMAC) {
        m.kind = kCmac;
        m.cipher = WJ_CIPHER_AES;
    } else if (alg == WJ_MAC_DES_MAC_PAD2) {
        m.kind = kCbcPad2;
        m.cipher = WJ_CIPHER_DES;
    } else if (alg == WJ_MAC_X919) {
        m.kind = kX919;
        m.cipher = WJ_CIPHER_DES;
    } else if (alg > 512 && alg < 1024) {
        const CipherInfo *ci = cipher_info(alg - 512);
        if (ci && ci->block >= 8) {
            m.kind = kCbcPad1;
            m.cipher = ci->id;
        }
    }
    return m;
}

// k0 of RFC 2104: the key, hashed first when longer than the block, zero-padded to the block.
int hmac_key_block(const HashInfo &hi, Hasher &h, const uint8_t *key, size_t len, uint8_t *k0) {
    std::memset(k0, 0, hi.block);
    if (len > hi.block) {
        if (int rc = h.init(hi.id)) return rc;
        if (int rc = h.update(key, len)) return rc;
        return h.final(k0);
    }
    if (len) std::memcpy(k0, key, len);
    return 0;
}

}  // namespace

struct _WJC_MAC_CTX {
    int alg = 0;
    MacDesc desc;
    bool ready = false;
    // HMAC
    Hasher inner, outer;
    uint8_t opad[128];
    // cipher MACs
    std::unique_ptr<BlockFn> fn, fn2;
    uint8_t reg[WJ_CIPHER_MAX_BLOCK], part[WJ_CIPHER_MAX_BLOCK];
    unsigned part_len = 0;
    bool any = false;
    // CMAC
    EVP_MAC_CTX *cmac = nullptr;

    ~_WJC_MAC_CTX() {
        EVP_MAC_CTX_free(cmac);
        scrub();
    }
    void scrub() {
        wipe(opad, sizeof opad);
        wipe(reg, sizeof reg);
        wipe(part, sizeof part);
        part_len = 0;
        any = false;
    }
};

namespace {

using Ctx = _WJC_MAC_CTX;

int mac_init(Ctx &c, const uint8_t *key, unsigned len, int alg, unsigned param) {
    c.ready = false;
    c.fn.reset();
    c.fn2.reset();
    c.scrub();
    c.desc = describe_mac(alg);
    if (c.desc.kind == kNone) return WJ_ERR_UNKNOWN_ID;
    if (!key && len) return WJ_ERR_BAD_ARGUMENT;
    c.alg = alg;
    int err = 0;
    switch (c.desc.kind) {
        case kHmac: {
            const HashInfo &hi = *c.desc.hash;
            uint8_t k0[128], pad[128];
            if ((err = hmac_key_block(hi, c.outer, key, len, k0))) return err;
            for (unsigned i = 0; i < hi.block; ++i) {
                pad[i] = k0[i] ^ 0x36;
                c.opad[i] = k0[i] ^ 0x5c;
            }
            err = c.inner.init(hi.id);
            if (!err) err = c.inner.update(pad, hi.block);
            wipe(k0, sizeof k0);
            wipe(pad, sizeof pad);
            if (err) return err;
            break;
        }
        case kCmac: {
            if (len != 16) return WJ_ERR_KEY_LENGTH;
            EVP_MAC *mac = fetch_mac("CMAC");
            if (!mac) return WJ_ERR_UNKNOWN_ID;
            if (!c.cmac && !(c.cmac = EVP_MAC_CTX_new(mac))) return WJ_ERR_MEMORY;
            char cipher[] = "AES-128-CBC";
            OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_CIPHER, cipher, 0),
                                   OSSL_PARAM_construct_end()};
            if (!EVP_MAC_init(c.cmac, key, len, params)) return WJ_ERR_INTERNAL;
            break;
        }
        case kX919:
            if (len != 16) return WJ_ERR_KEY_LENGTH;
            if (!(c.fn = make_block_fn(WJ_CIPHER_DES, key, 8, 0, &err))) return err;
            if (!(c.fn2 = make_block_fn(WJ_CIPHER_DES, key + 8, 8, 0, &err))) return err;
            break;
        default:
            if (!(c.fn = make_block_fn(c.desc.cipher, key, len, param, &err))) return err;
            break;
    }
    c.ready = true;
    return 0;
}

int cbc_absorb(Ctx &c, const uint8_t *blk) {
    const unsigned b = c.fn->block();
    for (unsigned i = 0; i < b; ++i) c.reg[i] ^= blk[i];
    return c.fn->encrypt(c.reg, c.reg, 1);
}

int mac_update(Ctx &c, const uint8_t *in, size_t n) {
    if (!c.ready) return WJ_ERR_BAD_CONTEXT;
    if (n == 0) return 0;
    switch (c.desc.kind) {
        case kHmac:
            return c.inner.update(in, n);
        case kCmac:
            return EVP_MAC_update(c.cmac, in, n) ? 0 : WJ_ERR_INTERNAL;
        default: {
            const unsigned b = c.fn->block();
            c.any = true;
            while (n) {
                size_t take = std::min<size_t>(b - c.part_len, n);
                std::memcpy(c.part + c.part_len, in, take);
                c.part_len += static_cast<unsigned>(take);
                in += take;
                n -= take;
                if (c.part_len == b) {
                    if (int rc = cbc_absorb(c, c.part)) return rc;
                    c.part_len = 0;
                }
            }
            return 0;
        }
    }
}

int mac_final(Ctx &c, uint8_t *out, unsigned *out_len) {
    *out_len = 0;
    if (!c.ready) return WJ_ERR_BAD_CONTEXT;
    c.ready = false;
    int rc = 0;
    switch (c.desc.kind) {
        case kHmac: {
            const HashInfo &hi = *c.desc.hash;
            uint8_t ih[WJ_HASH_MAX_LENGTH];
            if (!(rc = c.inner.final(ih)) && !(rc = c.outer.init(hi.id)) && !(rc = c.outer.update(c.opad, hi.block)) &&
                !(rc = c.outer.update(ih, hi.length)) && !(rc = c.outer.final(out)))
                *out_len = hi.length;
            wipe(ih, sizeof ih);
            break;
        }
        case kCmac: {
            size_t n = 0;
            if (!EVP_MAC_final(c.cmac, out, &n, WJ_MAC_MAX_LENGTH)) return WJ_ERR_INTERNAL;
            *out_len = static_cast<unsigned>(n);
            break;
        }
        default: {
            const unsigned b = c.fn->block();
            if (c.desc.kind == kCbcPad2) {
                // Method 2: a 1 bit, then zeros to the block (always at least one byte).
                c.part[c.part_len++] = 0x80;
                std::memset(c.part + c.part_len, 0, b - c.part_len);
                rc = cbc_absorb(c, c.part);
            } else if (c.part_len || !c.any) {
                // Method 1: zeros to a positive multiple of the block (one block for no data).
                std::memset(c.part + c.part_len, 0, b - c.part_len);
                rc = cbc_absorb(c, c.part);
            }
            if (!rc && c.desc.kind == kX919) {
                rc = c.fn2->decrypt(c.reg, c.reg, 1);
                if (!rc) rc = c.fn->encrypt(c.reg, c.reg, 1);
            }
            if (!rc) {
                std::memcpy(out, c.reg, b);
                *out_len = b;
            }
            break;
        }
    }
    c.scrub();
    return rc;
}

}  // namespace

namespace ostrel::crypto {

int mac_oneshot(uint8_t *out, unsigned *out_len, const uint8_t *in, unsigned in_len, const uint8_t *key,
                unsigned key_len, int alg, unsigned param) {
    if (!out || !out_len || (!in && in_len) || (!key && key_len)) return WJ_ERR_BAD_ARGUMENT;
    *out_len = 0;
    MacDesc d = describe_mac(alg);
    if (d.kind == kHmac) {
        // Two hashers per thread: an HMAC allocates nothing per call.
        thread_local Hasher inner, outer;
        const HashInfo &hi = *d.hash;
        uint8_t k0[128], pad[128], ih[WJ_HASH_MAX_LENGTH];
        int rc = hmac_key_block(hi, inner, key, key_len, k0);
        for (unsigned i = 0; i < hi.block; ++i) pad[i] = k0[i] ^ 0x36;
        if (!rc) rc = inner.init(hi.id);
        if (!rc) rc = inner.update(pad, hi.block);
        if (!rc) rc = inner.update(in, in_len);
        if (!rc) rc = inner.final(ih);
        for (unsigned i = 0; i < hi.block; ++i) pad[i] = k0[i] ^ 0x5c;
        if (!rc) rc = outer.init(hi.id);
        if (!rc) rc = outer.update(pad, hi.block);
        if (!rc) rc = outer.update(ih, hi.length);
        if (!rc) rc = outer.final(out);
        if (!rc) *out_len = hi.length;
        wipe(k0, sizeof k0);
        wipe(pad, sizeof pad);
        wipe(ih, sizeof ih);
        return rc;
    }
    Ctx c;
    int rc = mac_init(c, key, key_len, alg, param);
    if (!rc) rc = mac_update(c, in, in_len);
    if (!rc) rc = mac_final(c, out, out_len);
    return rc;
}

}  // namespace ostrel::crypto

extern "C" {

QRT_API WJC_MAC_CTX *WJC_MAC_CTX_New(void) { return new (std::nothrow) WJC_MAC_CTX; }

QRT_API void WJC_MAC_CTX_Free(WJC_MAC_CTX *ctx) { delete ctx; }

QRT_API int WJC_MAC_Init(WJC_MAC_CTX *ctx, const WJ_SECRET_KEY *key, int alg, const unsigned int *param) {
    if (!ctx || !key) return WJ_ERR_BAD_ARGUMENT;
    if (key->keyLength > WJ_SECRET_KEY_MAX) return WJ_ERR_KEY_LENGTH;
    if (int rc = gate()) return rc;
    return OSTREL_GUARD([&] { return mac_init(*ctx, key->key, key->keyLength, alg, param ? *param : 0); });
}

QRT_API int WJC_MAC_Update(WJC_MAC_CTX *ctx, const unsigned char *in, unsigned int inLength) {
    if (!ctx || (!in && inLength)) return WJ_ERR_BAD_ARGUMENT;
    if (int rc = gate()) return rc;
    return mac_update(*ctx, in, inLength);
}

QRT_API int WJC_MAC_Final(WJC_MAC_CTX *ctx, unsigned char *out, unsigned int *outLength) {
    if (!ctx || !out || !outLength) return WJ_ERR_BAD_ARGUMENT;
    if (int rc = gate()) return rc;
    return mac_final(*ctx, out, outLength);
}

QRT_API int WJC_MAC(unsigned char *out, unsigned int *outLength, const unsigned char *in, unsigned int inLength,
                    const WJ_SECRET_KEY *key, int alg, const unsigned int *param) {
    if (!key) return WJ_ERR_BAD_ARGUMENT;
    if (key->keyLength > WJ_SECRET_KEY_MAX) return WJ_ERR_KEY_LENGTH;
    if (int rc = gate()) return rc;
    return OSTREL_GUARD(
        [&] { return mac_oneshot(out, outLength, in, inLength, key->key, key->keyLength, alg, param ? *param : 0); });
}

QRT_API int WJC_MAC_GetLength(int alg) {
    MacDesc m = describe_mac(alg);
    switch (m.kind) {
        case kNone:
            return WJ_ERR_UNKNOWN_ID;
        case kHmac:
            return static_cast<int>(m.hash->length);
        case kCbcPad2:
        case kX919:
            return 8;
        default:
            return static_cast<int>(cipher_info(m.cipher)->block);
    }
}

QRT_API int WJ_HMAC_Init(WJ_HMAC_CTX *ctx, int hashAlg, const unsigned char *key, unsigned int keyLength) {
    if (!ctx || (!key && keyLength)) return WJ_ERR_BAD_ARGUMENT;
    if (!hash_info(hashAlg)) return WJ_ERR_UNKNOWN_ID;
    if (int rc = gate()) return rc;
    return OSTREL_GUARD([&] { return mac_init(*ctx, key, keyLength, WJ_MAC_HMAC(hashAlg), 0); });
}

QRT_API int WJ_HMAC_Update(WJ_HMAC_CTX *ctx, const unsigned char *in, unsigned int inLength) {
    return WJC_MAC_Update(ctx, in, inLength);
}

QRT_API int WJ_HMAC_Final(WJ_HMAC_CTX *ctx, unsigned char *out, unsigned int *outLength) {
    return WJC_MAC_Final(ctx, out, outLength);
}

}  // extern "C"
