// Block and stream ciphers: the numbering, key checks, OpenSSL's modes where it has them and
// our own ECB-based modes where it does not (CTR of 64-bit ciphers and SEED, CFB with other
// segment sizes, every mode of RC5), padding and its constant-time check, and secret keys.
#include <openssl/core_names.h>
#include <openssl/params.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

#include "crypto_internal.h"
#include "ostrel/owners.hpp"

namespace ostrel::crypto {

namespace {

const CipherInfo kCiphers[] = {
    {WJ_CIPHER_AES, 16, 16, 32, true},          {WJ_CIPHER_BLOWFISH, 8, 1, 56, false},
    {WJ_CIPHER_CAST128, 8, 5, 16, false},       {WJ_CIPHER_DES, 8, 8, 8, false},
    {WJ_CIPHER_RC2, 8, 1, 128, false},          {WJ_CIPHER_RC4, 1, 1, 256, false},
    {WJ_CIPHER_RC5, 8, 0, 256, false},          {WJ_CIPHER_SEED, 16, 16, 16, false},
    {WJ_CIPHER_TDES, 8, 16, 24, false},         {WJ_CIPHER_ARIA, 16, 16, 32, true},
    {WJ_CIPHER_CAMELLIA128, 16, 16, 16, false},
};

// OpenSSL names of each cipher's modes; NULL where OpenSSL lacks the mode.
struct Names {
    int alg;
    unsigned key;  // 0: any key length
    const char *ecb, *cbc, *cfb, *cfb8, *ofb, *ctr;
};
const Names kNames[] = {
    {WJ_CIPHER_AES, 16, "AES-128-ECB", "AES-128-CBC", "AES-128-CFB", "AES-128-CFB8", "AES-128-OFB", "AES-128-CTR"},
    {WJ_CIPHER_AES, 24, "AES-192-ECB", "AES-192-CBC", "AES-192-CFB", "AES-192-CFB8", "AES-192-OFB", "AES-192-CTR"},
    {WJ_CIPHER_AES, 32, "AES-256-ECB", "AES-256-CBC", "AES-256-CFB", "AES-256-CFB8", "AES-256-OFB", "AES-256-CTR"},
    {WJ_CIPHER_ARIA, 16, "ARIA-128-ECB", "ARIA-128-CBC", "ARIA-128-CFB", "ARIA-128-CFB8", "ARIA-128-OFB",
     "ARIA-128-CTR"},
    {WJ_CIPHER_ARIA, 24, "ARIA-192-ECB", "ARIA-192-CBC", "ARIA-192-CFB", "ARIA-192-CFB8", "ARIA-192-OFB",
     "ARIA-192-CTR"},
    {WJ_CIPHER_ARIA, 32, "ARIA-256-ECB", "ARIA-256-CBC", "ARIA-256-CFB", "ARIA-256-CFB8", "ARIA-256-OFB",
     "ARIA-256-CTR"},
    {WJ_CIPHER_CAMELLIA128, 16, "CAMELLIA-128-ECB", "CAMELLIA-128-CBC", "CAMELLIA-128-CFB", "CAMELLIA-128-CFB8",
     "CAMELLIA-128-OFB", "CAMELLIA-128-CTR"},
    {WJ_CIPHER_DES, 8, "DES-ECB", "DES-CBC", "DES-CFB", "DES-CFB8", "DES-OFB", nullptr},
    {WJ_CIPHER_TDES, 16, "DES-EDE-ECB", "DES-EDE-CBC", "DES-EDE-CFB", nullptr, "DES-EDE-OFB", nullptr},
    {WJ_CIPHER_TDES, 24, "DES-EDE3-ECB", "DES-EDE3-CBC", "DES-EDE3-CFB", "DES-EDE3-CFB8", "DES-EDE3-OFB", nullptr},
    {WJ_CIPHER_BLOWFISH, 0, "BF-ECB", "BF-CBC", "BF-CFB", nullptr, "BF-OFB", nullptr},
    {WJ_CIPHER_CAST128, 0, "CAST5-ECB", "CAST5-CBC", "CAST5-CFB", nullptr, "CAST5-OFB", nullptr},
    {WJ_CIPHER_RC2, 0, "RC2-ECB", "RC2-CBC", "RC2-CFB", nullptr, "RC2-OFB", nullptr},
    {WJ_CIPHER_SEED, 16, "SEED-ECB", "SEED-CBC", "SEED-CFB", nullptr, "SEED-OFB", nullptr},
    {WJ_CIPHER_RC4, 0, "RC4", "RC4", "RC4", "RC4", "RC4", "RC4"},
};

const Names *names_of(int alg, unsigned key) {
    for (const Names &n : kNames)
        if (n.alg == alg && (n.key == 0 || n.key == key)) return &n;
    return nullptr;
}

bool variable_key(int alg) {
    return alg == WJ_CIPHER_BLOWFISH || alg == WJ_CIPHER_CAST128 || alg == WJ_CIPHER_RC2 || alg == WJ_CIPHER_RC4;
}

// RC2 effective key bits: 1..1024, 0 meaning eight times the key length.
unsigned rc2_bits(unsigned param, unsigned key_len) { return param ? param : std::min(1024u, key_len * 8); }

// Keys an EVP context; padding off (the caller pads and checks padding itself where needed).
int evp_setup(EVP_CIPHER_CTX *c, const EVP_CIPHER *cipher, int enc, int alg, const uint8_t *key, unsigned key_len,
              const uint8_t *iv, unsigned param) {
    OSSL_PARAM params[3];
    size_t kl = key_len;
    unsigned bits = rc2_bits(param, key_len);
    int n = 0;
    if (variable_key(alg)) params[n++] = OSSL_PARAM_construct_size_t(OSSL_CIPHER_PARAM_KEYLEN, &kl);
    if (alg == WJ_CIPHER_RC2) params[n++] = OSSL_PARAM_construct_uint(OSSL_CIPHER_PARAM_RC2_KEYBITS, &bits);
    params[n] = OSSL_PARAM_construct_end();
    if (n == 0) {
        // Fixed key length: one call sets cipher, key and IV.
        if (!EVP_CipherInit_ex2(c, cipher, key, iv, enc, nullptr)) return WJ_ERR_INTERNAL;
    } else {
        // The key length must be known before the key is set.
        if (!EVP_CipherInit_ex2(c, cipher, nullptr, nullptr, enc, params)) return WJ_ERR_INTERNAL;
        if (!EVP_CipherInit_ex2(c, nullptr, key, iv, enc, nullptr)) return WJ_ERR_INTERNAL;
    }
    EVP_CIPHER_CTX_set_padding(c, 0);
    return 0;
}

class EvpBlock final : public BlockFn {
  public:
    ~EvpBlock() override {
        EVP_CIPHER_CTX_free(enc_);
        EVP_CIPHER_CTX_free(dec_);
        wipe(key_, sizeof key_);
    }
    int setup(const EVP_CIPHER *ecb, int alg, const uint8_t *key, unsigned len, unsigned param) {
        ecb_ = ecb;
        alg_ = alg;
        len_ = len;
        param_ = param;
        if (len) std::memcpy(key_, key, len);
        block_ = static_cast<unsigned>(EVP_CIPHER_get_block_size(ecb));
        if (!(enc_ = EVP_CIPHER_CTX_new())) return WJ_ERR_MEMORY;
        return evp_setup(enc_, ecb, 1, alg, key, len, nullptr, param);
    }
    unsigned block() const override { return block_; }
    int encrypt(const uint8_t *in, uint8_t *out, size_t n) override { return run(enc_, in, out, n); }
    // Most users only encrypt (CTR, CFB, OFB, MACs): the decryption schedule is made on first use.
    int decrypt(const uint8_t *in, uint8_t *out, size_t n) override {
        if (!dec_) {
            if (!(dec_ = EVP_CIPHER_CTX_new())) return WJ_ERR_MEMORY;
            if (int rc = evp_setup(dec_, ecb_, 0, alg_, key_, len_, nullptr, param_)) {
                EVP_CIPHER_CTX_free(dec_);
                dec_ = nullptr;
                return rc;
            }
        }
        return run(dec_, in, out, n);
    }

  private:
    int run(EVP_CIPHER_CTX *c, const uint8_t *in, uint8_t *out, size_t n) {
        size_t total = n * block_;
        while (total) {
            int chunk = static_cast<int>(std::min<size_t>(total, 1u << 30));
            int outl = 0;
            if (!EVP_CipherUpdate(c, out, &outl, in, chunk) || outl != chunk) return WJ_ERR_INTERNAL;
            in += chunk;
            out += chunk;
            total -= static_cast<size_t>(chunk);
        }
        return 0;
    }
    const EVP_CIPHER *ecb_ = nullptr;
    int alg_ = 0;
    unsigned len_ = 0, param_ = 0, block_ = 0;
    uint8_t key_[WJ_SECRET_KEY_MAX];
    EVP_CIPHER_CTX *enc_ = nullptr;
    EVP_CIPHER_CTX *dec_ = nullptr;
};

class Rc5Block final : public BlockFn {
  public:
    Rc5Block(const uint8_t *key, unsigned len, unsigned rounds) { rc5_setup(k_, key, len, rounds); }
    ~Rc5Block() override { wipe(&k_, sizeof k_); }
    unsigned block() const override { return 8; }
    int encrypt(const uint8_t *in, uint8_t *out, size_t n) override {
        for (size_t i = 0; i < n; ++i) rc5_encrypt(k_, in + 8 * i, out + 8 * i);
        return 0;
    }
    int decrypt(const uint8_t *in, uint8_t *out, size_t n) override {
        for (size_t i = 0; i < n; ++i) rc5_decrypt(k_, in + 8 * i, out + 8 * i);
        return 0;
    }

  private:
    Rc5Key k_;
};

// 1 when the block ends in valid PKCS#5/#7 padding, with its length; constant time in the data.
unsigned pad_check(const uint8_t *last, unsigned block, unsigned *pad_len) {
    unsigned p = last[block - 1];
    // good = (1 <= p <= block), as an all-ones or all-zeros mask
    unsigned good = 0u - (((p - 1u) >> 31) ^ 1u);  // p >= 1
    good &= 0u - (((block - p) >> 31) ^ 1u);       // p <= block
    for (unsigned i = 0; i < block; ++i) {
        unsigned in_pad = 0u - ((i - (block - p)) >> 31 ^ 1u);  // i >= block - p
        unsigned diff = last[i] ^ p;
        unsigned same = 0u - (((diff | (0u - diff)) >> 31) ^ 1u);
        good &= ~in_pad | same;
    }
    *pad_len = p & good;
    return good & 1u;
}

}  // namespace

const CipherInfo *cipher_info(int alg) {
    for (const CipherInfo &c : kCiphers)
        if (c.id == alg) return &c;
    return nullptr;
}

int check_key(const CipherInfo &ci, unsigned len) {
    if (len < ci.min_key || len > ci.max_key) return WJ_ERR_KEY_LENGTH;
    if (ci.key_16_24_32 && len != 16 && len != 24 && len != 32) return WJ_ERR_KEY_LENGTH;
    if (ci.id == WJ_CIPHER_TDES && len != 16 && len != 24) return WJ_ERR_KEY_LENGTH;
    return 0;
}

static int check_param(int alg, unsigned param) {
    if (alg == WJ_CIPHER_RC2 && param > 1024) return WJ_ERR_CIPHER_PARAM;
    if (alg == WJ_CIPHER_RC5 && param > 255) return WJ_ERR_CIPHER_PARAM;
    return 0;
}

std::unique_ptr<BlockFn> make_block_fn(int alg, const uint8_t *key, unsigned len, unsigned param, int *err) {
    *err = 0;
    const CipherInfo *ci = cipher_info(alg);
    if (!ci || ci->block < 8) {
        *err = WJ_ERR_UNKNOWN_ID;
        return nullptr;
    }
    if ((*err = check_key(*ci, len)) || (*err = check_param(alg, param))) return nullptr;
    if (alg == WJ_CIPHER_RC5) return std::make_unique<Rc5Block>(key, len, param);
    const Names *nm = names_of(alg, len);
    const EVP_CIPHER *ecb = nm ? fetch_cipher(nm->ecb) : nullptr;
    if (!ecb) {
        *err = WJ_ERR_UNKNOWN_ID;
        return nullptr;
    }
    auto fn = std::make_unique<EvpBlock>();
    if ((*err = fn->setup(ecb, alg, key, len, param))) return nullptr;
    return fn;
}

}  // namespace ostrel::crypto

using namespace ostrel;
using namespace ostrel::crypto;

struct _WJC_CIPHER_CTX {
    int dir = 0;  // 0 not initialised, 1 encrypt, 2 decrypt
    int alg = 0, mode = 0, pad = 0;
    unsigned block = 0, seg = 0;
    bool native = false;
    EVP_CIPHER_CTX *evp = nullptr;
    std::unique_ptr<BlockFn> fn;
    uint8_t reg[WJ_CIPHER_MAX_BLOCK];   // CBC chaining value, CFB/OFB register, CTR counter
    uint8_t ks[WJ_CIPHER_MAX_BLOCK];    // key stream of the current block (CFB, OFB, CTR)
    uint8_t part[WJ_CIPHER_MAX_BLOCK];  // held-back partial block (ECB, CBC), CFB segment
    uint8_t last[WJ_CIPHER_MAX_BLOCK];  // last plaintext block returned, for the padding check
    unsigned pos = 0, part_len = 0;
    bool have_last = false;

    ~_WJC_CIPHER_CTX() {
        EVP_CIPHER_CTX_free(evp);
        scrub();
    }
    void scrub() {
        wipe(reg, sizeof reg);
        wipe(ks, sizeof ks);
        wipe(part, sizeof part);
        wipe(last, sizeof last);
        pos = part_len = 0;
        have_last = false;
    }
};

namespace {

using Ctx = _WJC_CIPHER_CTX;

int cipher_init(Ctx &c, bool enc, const uint8_t *key, unsigned key_len, int alg, const WJ_CIPHER_PARAM *param) {
    c.dir = 0;
    c.fn.reset();
    c.scrub();
    if (c.evp) EVP_CIPHER_CTX_reset(c.evp);
    const CipherInfo *ci = cipher_info(alg);
    if (!ci) return WJ_ERR_UNKNOWN_ID;
    if (!key && key_len) return WJ_ERR_BAD_ARGUMENT;
    c.alg = alg;
    c.block = ci->block;
    unsigned suite = 0;
    if (alg == WJ_CIPHER_RC4) {
        c.mode = 0;
        c.pad = WJ_PAD_NONE;
    } else {
        if (!param) return WJ_ERR_BAD_ARGUMENT;
        if (param->modeID < WJ_MODE_ECB || param->modeID > WJ_MODE_CTR) return WJ_ERR_UNKNOWN_MODE;
        if (param->paddingID != WJ_PAD_NONE && param->paddingID != WJ_PAD_PKCS) return WJ_ERR_UNKNOWN_PADDING;
        c.mode = param->modeID;
        c.pad = param->paddingID;
        suite = alg == WJ_CIPHER_RC2 ? param->suiteParam.rc2.effectiveBits : param->suiteParam.rc5.rounds;
    }
    if (int rc = check_key(*ci, key_len)) return rc;
    if (int rc = check_param(alg, suite)) return rc;
    const uint8_t *iv = nullptr;
    if (c.mode >= WJ_MODE_CBC) {
        if (param->modeParam.ivLength != c.block) return WJ_ERR_IV_LENGTH;
        iv = param->modeParam.iv;
        std::memcpy(c.reg, iv, c.block);
    }
    c.seg = c.block;
    if (c.mode == WJ_MODE_CFB && param->modeParam.modeSize) {
        if (param->modeParam.modeSize > c.block) return WJ_ERR_MODE_SIZE;
        c.seg = param->modeParam.modeSize;
    }

    const char *name = nullptr;
    if (const Names *nm = names_of(alg, key_len)) {
        switch (c.mode) {
            case 0:  // RC4, which has no mode
            case WJ_MODE_ECB:
                name = nm->ecb;
                break;
            case WJ_MODE_CBC:
                name = nm->cbc;
                break;
            case WJ_MODE_CFB:
                name = c.seg == c.block ? nm->cfb : (c.seg == 1 ? nm->cfb8 : nullptr);
                break;
            case WJ_MODE_OFB:
                name = nm->ofb;
                break;
            case WJ_MODE_CTR:
                name = nm->ctr;
                break;
        }
    }
    const EVP_CIPHER *native = name ? fetch_cipher(name) : nullptr;
    if (native) {
        if (!c.evp && !(c.evp = EVP_CIPHER_CTX_new())) return WJ_ERR_MEMORY;
        if (int rc = evp_setup(c.evp, native, enc ? 1 : 0, alg, key, key_len, iv, suite)) return rc;
        c.native = true;
    } else {
        // Our own mode over the block function; only a missing block cipher is fatal.
        int err = 0;
        c.fn = make_block_fn(alg, key, key_len, suite, &err);
        if (!c.fn) return err;
        c.native = false;
        c.pos = c.mode == WJ_MODE_CFB ? 0 : c.block;
    }
    c.dir = enc ? 1 : 2;
    return 0;
}

bool block_mode(const Ctx &c) { return c.mode == WJ_MODE_ECB || c.mode == WJ_MODE_CBC; }

// Our own modes. ECB and CBC hold back a partial block; the others run byte by byte over the
// key stream.
int own_update(Ctx &c, uint8_t *out, unsigned *out_len, const uint8_t *in, size_t n) {
    const unsigned b = c.block;
    const bool enc = c.dir == 1;
    size_t written = 0;
    if (block_mode(c)) {
        uint8_t tmp[WJ_CIPHER_MAX_BLOCK];
        auto one = [&](const uint8_t *src) -> int {
            uint8_t *dst = out + written;
            if (c.mode == WJ_MODE_ECB) {
                if (int rc = enc ? c.fn->encrypt(src, dst, 1) : c.fn->decrypt(src, dst, 1)) return rc;
            } else if (enc) {
                for (unsigned i = 0; i < b; ++i) tmp[i] = src[i] ^ c.reg[i];
                if (int rc = c.fn->encrypt(tmp, dst, 1)) return rc;
                std::memcpy(c.reg, dst, b);
            } else {
                std::memcpy(tmp, src, b);
                if (int rc = c.fn->decrypt(src, dst, 1)) return rc;
                for (unsigned i = 0; i < b; ++i) dst[i] ^= c.reg[i];
                std::memcpy(c.reg, tmp, b);
            }
            if (!enc) {
                std::memcpy(c.last, dst, b);
                c.have_last = true;
            }
            written += b;
            return 0;
        };
        if (c.part_len) {
            size_t take = std::min<size_t>(b - c.part_len, n);
            std::memcpy(c.part + c.part_len, in, take);
            c.part_len += static_cast<unsigned>(take);
            in += take;
            n -= take;
            if (c.part_len == b) {
                if (int rc = one(c.part)) return rc;
                c.part_len = 0;
            }
        }
        for (; n >= b; in += b, n -= b)
            if (int rc = one(in)) return rc;
        std::memcpy(c.part + c.part_len, in, n);
        c.part_len += static_cast<unsigned>(n);
        wipe(tmp, sizeof tmp);
        *out_len = static_cast<unsigned>(written);
        return 0;
    }
    for (size_t i = 0; i < n; ++i) {
        uint8_t x = in[i], y;
        switch (c.mode) {
            case WJ_MODE_OFB:
                if (c.pos == b) {
                    if (int rc = c.fn->encrypt(c.reg, c.reg, 1)) return rc;
                    c.pos = 0;
                }
                y = x ^ c.reg[c.pos++];
                break;
            case WJ_MODE_CTR:
                if (c.pos == b) {
                    if (int rc = c.fn->encrypt(c.reg, c.ks, 1)) return rc;
                    for (unsigned k = b; k-- > 0;)
                        if (++c.reg[k]) break;
                    c.pos = 0;
                }
                y = x ^ c.ks[c.pos++];
                break;
            default:  // CFB with segments of c.seg bytes
                if (c.pos == 0)
                    if (int rc = c.fn->encrypt(c.reg, c.ks, 1)) return rc;
                y = x ^ c.ks[c.pos];
                c.part[c.pos++] = enc ? y : x;  // the cipher text feeds back
                if (c.pos == c.seg) {
                    std::memmove(c.reg, c.reg + c.seg, b - c.seg);
                    std::memcpy(c.reg + (b - c.seg), c.part, c.seg);
                    c.pos = 0;
                }
                break;
        }
        out[i] = y;
    }
    *out_len = static_cast<unsigned>(n);
    return 0;
}

int native_update(Ctx &c, uint8_t *out, unsigned *out_len, const uint8_t *in, size_t n) {
    const size_t n_in = n;
    size_t written = 0;
    while (n) {
        int chunk = static_cast<int>(std::min<size_t>(n, 1u << 30));
        int outl = 0;
        if (!EVP_CipherUpdate(c.evp, out + written, &outl, in, chunk))
            return c.dir == 1 ? WJ_ERR_ENCRYPT_FAILED : WJ_ERR_DECRYPT_FAILED;
        written += static_cast<size_t>(outl);
        in += chunk;
        n -= static_cast<size_t>(chunk);
    }
    // EVP holds back the same partial block our own modes would; keep its size for Final.
    if (block_mode(c)) c.part_len = static_cast<unsigned>((c.part_len + n_in) % c.block);
    if (c.dir == 2 && block_mode(c) && written >= c.block) {
        std::memcpy(c.last, out + written - c.block, c.block);
        c.have_last = true;
    }
    *out_len = static_cast<unsigned>(written);
    return 0;
}

int cipher_update(Ctx &c, bool enc, uint8_t *out, unsigned *out_len, const uint8_t *in, unsigned n) {
    if (!out_len || (!in && n) || (!out && n)) return WJ_ERR_BAD_ARGUMENT;
    *out_len = 0;
    if (c.dir != (enc ? 1 : 2)) return WJ_ERR_BAD_CONTEXT;
    if (n == 0) return 0;
    int rc = c.native ? native_update(c, out, out_len, in, n) : own_update(c, out, out_len, in, n);
    if (rc) c.dir = 0;
    return rc;
}

int encrypt_final(Ctx &c, uint8_t *out, unsigned *out_len) {
    if (!out || !out_len) return WJ_ERR_BAD_ARGUMENT;
    *out_len = 0;
    if (c.dir != 1) return WJ_ERR_BAD_CONTEXT;
    c.dir = 0;
    if (!block_mode(c)) return 0;
    const unsigned b = c.block;
    if (c.pad == WJ_PAD_NONE) {
        if (c.part_len) return WJ_ERR_DATA_LENGTH;
        return 0;
    }
    // The padding goes through Update: with the held-back bytes it completes the last block.
    uint8_t padblk[WJ_CIPHER_MAX_BLOCK];
    unsigned p = b - c.part_len;
    std::memset(padblk, static_cast<int>(p), p);
    c.dir = 1;
    int rc = cipher_update(c, true, out, out_len, padblk, p);
    c.dir = 0;
    return rc;
}

int decrypt_final(Ctx &c, unsigned *pad_len) {
    if (!pad_len) return WJ_ERR_BAD_ARGUMENT;
    *pad_len = 0;
    if (c.dir != 2) return WJ_ERR_BAD_CONTEXT;
    c.dir = 0;
    if (!block_mode(c)) return 0;
    if (c.part_len) return WJ_ERR_DATA_LENGTH;
    if (c.pad == WJ_PAD_NONE) return 0;
    if (!c.have_last) return WJ_ERR_BAD_PADDING;
    unsigned p = 0;
    if (!pad_check(c.last, c.block, &p)) return WJ_ERR_BAD_PADDING;
    *pad_len = p;
    return 0;
}

}  // namespace

namespace ostrel::crypto {

int cipher_oneshot(bool encrypt, uint8_t *out, unsigned *out_len, const uint8_t *in, unsigned in_len,
                   const uint8_t *key, unsigned key_len, int alg, const WJ_CIPHER_PARAM *param) {
    // One context per thread: the EVP context is kept, its key schedule is released after use.
    thread_local Ctx c;
    struct Release {
        Ctx &c;
        ~Release() {
            c.dir = 0;
            c.fn.reset();
            c.scrub();
            if (c.evp) EVP_CIPHER_CTX_reset(c.evp);
        }
    } release{c};
    if (!out_len) return WJ_ERR_BAD_ARGUMENT;
    *out_len = 0;
    if (int rc = cipher_init(c, encrypt, key, key_len, alg, param)) return rc;
    unsigned n = 0;
    if (int rc = cipher_update(c, encrypt, out, &n, in, in_len)) return rc;
    if (encrypt) {
        unsigned m = 0;
        if (int rc = encrypt_final(c, out + n, &m)) return rc;
        *out_len = n + m;
    } else {
        unsigned pad = 0;
        if (int rc = decrypt_final(c, &pad)) return rc;
        *out_len = n - pad;
    }
    return 0;
}

}  // namespace ostrel::crypto

extern "C" {

QRT_API WJ_SECRET_KEY *WJC_SKEY_SecretKey_New(void) {
    return static_cast<WJ_SECRET_KEY *>(QRT_calloc(1, sizeof(WJ_SECRET_KEY)));
}

QRT_API void WJC_SKEY_SecretKey_Free(WJ_SECRET_KEY *key) {
    if (!key) return;
    wipe(key, sizeof *key);
    QRT_free(key);
}

QRT_API int WJC_SKEY_SecretKey_FromBinary(WJ_SECRET_KEY *key, int algID, const unsigned char *data,
                                          unsigned int length) {
    if (!key || (!data && length)) return WJ_ERR_BAD_ARGUMENT;
    if (length > WJ_SECRET_KEY_MAX) return WJ_ERR_KEY_LENGTH;
    wipe(key, sizeof *key);
    key->algID = algID;
    if (length) std::memcpy(key->key, data, length);
    key->keyLength = length;
    return 0;
}

QRT_API WJC_CIPHER_CTX *WJC_CIPHER_CTX_New(void) { return new (std::nothrow) WJC_CIPHER_CTX; }

QRT_API void WJC_CIPHER_CTX_Free(WJC_CIPHER_CTX *ctx) { delete ctx; }

static int init_api(const char *fn, WJC_CIPHER_CTX *ctx, bool enc, const WJ_SECRET_KEY *key, int alg,
                    const WJ_CIPHER_PARAM *param) {
    if (!ctx || !key) return WJ_ERR_BAD_ARGUMENT;
    if (key->keyLength > WJ_SECRET_KEY_MAX) return WJ_ERR_KEY_LENGTH;
    if (int rc = gate()) return rc;
    return OSTREL_GUARD_AS(fn, [&] { return cipher_init(*ctx, enc, key->key, key->keyLength, alg, param); });
}

QRT_API int WJC_Cipher_Encrypt_Init(WJC_CIPHER_CTX *ctx, const WJ_SECRET_KEY *key, int alg,
                                    const WJ_CIPHER_PARAM *param) {
    return init_api(__func__, ctx, true, key, alg, param);
}

QRT_API int WJC_Cipher_Decrypt_Init(WJC_CIPHER_CTX *ctx, const WJ_SECRET_KEY *key, int alg,
                                    const WJ_CIPHER_PARAM *param) {
    return init_api(__func__, ctx, false, key, alg, param);
}

QRT_API int WJC_Cipher_Encrypt_Update(WJC_CIPHER_CTX *ctx, unsigned char *out, unsigned int *outLength,
                                      const unsigned char *in, unsigned int inLength) {
    if (!ctx) return WJ_ERR_BAD_ARGUMENT;
    if (int rc = gate()) return rc;
    return cipher_update(*ctx, true, out, outLength, in, inLength);
}

QRT_API int WJC_Cipher_Decrypt_Update(WJC_CIPHER_CTX *ctx, unsigned char *out, unsigned int *outLength,
                                      const unsigned char *in, unsigned int inLength) {
    if (!ctx) return WJ_ERR_BAD_ARGUMENT;
    if (int rc = gate()) return rc;
    return cipher_update(*ctx, false, out, outLength, in, inLength);
}

QRT_API int WJC_Cipher_Encrypt_Final(WJC_CIPHER_CTX *ctx, unsigned char *out, unsigned int *outLength) {
    if (!ctx) return WJ_ERR_BAD_ARGUMENT;
    if (int rc = gate()) return rc;
    return encrypt_final(*ctx, out, outLength);
}

QRT_API int WJC_Cipher_Decrypt_Final(WJC_CIPHER_CTX *ctx, unsigned int *padLength) {
    if (!ctx) return WJ_ERR_BAD_ARGUMENT;
    if (int rc = gate()) return rc;
    return decrypt_final(*ctx, padLength);
}

QRT_API int WJC_Cipher_Encrypt(unsigned char *out, unsigned int *outLength, const unsigned char *in,
                               unsigned int inLength, const WJ_SECRET_KEY *key, int alg, const WJ_CIPHER_PARAM *param) {
    if (!key || !outLength) return WJ_ERR_BAD_ARGUMENT;
    if (key->keyLength > WJ_SECRET_KEY_MAX) return WJ_ERR_KEY_LENGTH;
    if (int rc = gate()) return rc;
    return OSTREL_GUARD(
        [&] { return cipher_oneshot(true, out, outLength, in, inLength, key->key, key->keyLength, alg, param); });
}

QRT_API int WJC_Cipher_Decrypt(unsigned char *out, unsigned int *outLength, const unsigned char *in,
                               unsigned int inLength, const WJ_SECRET_KEY *key, int alg, const WJ_CIPHER_PARAM *param) {
    if (!key || !outLength) return WJ_ERR_BAD_ARGUMENT;
    if (key->keyLength > WJ_SECRET_KEY_MAX) return WJ_ERR_KEY_LENGTH;
    if (int rc = gate()) return rc;
    return OSTREL_GUARD(
        [&] { return cipher_oneshot(false, out, outLength, in, inLength, key->key, key->keyLength, alg, param); });
}

QRT_API int WJC_Cipher_GetBlockLength(int alg) {
    const CipherInfo *ci = cipher_info(alg);
    return ci ? static_cast<int>(ci->block) : WJ_ERR_UNKNOWN_ID;
}

}  // extern "C"
