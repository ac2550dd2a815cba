// The crypto core through its own header: the big-integer record against OpenSSL's DER and
// BIGNUM, the pool, module state transitions, cipher key and parameter checks, context misuse,
// and the MACs against independent OpenSSL computations.
#include <gtest/gtest.h>
#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <cstring>
#include <string>
#include <vector>

#include "ostrel/test_support.hpp"
#include "suite_crypto.h"

using ostrel::test::from_hex;
using ostrel::test::to_hex;
using Bytes = std::vector<unsigned char>;

namespace {

Bytes pattern(size_t n, unsigned seed = 1) {
    Bytes v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<unsigned char>(i * 167 + seed * 29 + (i >> 2));
    return v;
}

std::string hex(const Bytes &b) { return to_hex(b.data(), b.size()); }

// OpenSSL's context for the references, with the legacy algorithms (DES).
OSSL_LIB_CTX *ref_ctx() {
    static OSSL_LIB_CTX *ctx = [] {
        OSSL_LIB_CTX *c = OSSL_LIB_CTX_new();
        OSSL_PROVIDER_load(c, "default");
        OSSL_PROVIDER_load(c, "legacy");
        return c;
    }();
    return ctx;
}

// ECB encryption (or decryption) with OpenSSL, no padding.
Bytes ref_ecb(const char *name, const Bytes &key, const Bytes &in, bool enc = true) {
    EVP_CIPHER *c = EVP_CIPHER_fetch(ref_ctx(), name, nullptr);
    EVP_CIPHER_CTX *x = EVP_CIPHER_CTX_new();
    Bytes out(in.size() + 32);
    int n = 0, m = 0;
    EXPECT_TRUE(EVP_CipherInit_ex2(x, c, key.data(), nullptr, enc ? 1 : 0, nullptr));
    EVP_CIPHER_CTX_set_padding(x, 0);
    EXPECT_TRUE(EVP_CipherUpdate(x, out.data(), &n, in.data(), static_cast<int>(in.size())));
    EXPECT_TRUE(EVP_CipherFinal_ex(x, out.data() + n, &m));
    out.resize(static_cast<size_t>(n + m));
    EVP_CIPHER_CTX_free(x);
    EVP_CIPHER_free(c);
    return out;
}

// CBC-MAC by definition over OpenSSL ECB: zero IV, the last cipher block.
Bytes ref_cbc_mac(const char *ecb, const Bytes &key, Bytes data, size_t block) {
    Bytes reg(block, 0);
    for (size_t off = 0; off < data.size(); off += block) {
        for (size_t i = 0; i < block; ++i) reg[i] ^= data[off + i];
        reg = ref_ecb(ecb, key, reg);
    }
    return reg;
}

Bytes core_mac(int alg, const Bytes &key, const Bytes &msg, unsigned param = 0) {
    WJ_SECRET_KEY k{};
    if (!key.empty()) std::memcpy(k.key, key.data(), key.size());
    k.keyLength = static_cast<unsigned>(key.size());
    unsigned char out[WJ_MAC_MAX_LENGTH];
    unsigned n = 0;
    EXPECT_EQ(WJC_MAC(out, &n, msg.data(), static_cast<unsigned>(msg.size()), &k, alg, &param), 0) << "mac " << alg;
    return Bytes(out, out + n);
}

WJ_BigInt *from_bytes(const Bytes &b) {
    WJ_BigInt *a = WJ_BigInt_New(1);
    EXPECT_EQ(WJ_BigInt_BytesToInt(a, b.data(), static_cast<unsigned>(b.size())), 0);
    return a;
}

Bytes der_of(const WJ_BigInt *a) {
    unsigned n = 0;
    EXPECT_EQ(WJ_BigInt_DerEncode(nullptr, &n, a), 0);
    Bytes out(n);
    EXPECT_EQ(WJ_BigInt_DerEncode(out.data(), &n, a), 0);
    out.resize(n);
    return out;
}

}  // namespace

TEST(CryptoBigInt, RecordBytesAndComparison) {
    WJ_BigInt *a = from_bytes(from_hex("0000000102030405060708090a"));
    EXPECT_EQ(a->Length, 3u) << "leading zero bytes are dropped, words trimmed";
    EXPECT_EQ(a->Data[0], 0x0708090au);
    EXPECT_EQ(a->Data[2], 0x0102u);
    EXPECT_EQ(WJ_BigInt_GetBitLength(a), 73u);
    EXPECT_EQ(WJ_BigInt_GetByteLength(a), 10u);
    unsigned n = 0;
    ASSERT_EQ(WJ_BigInt_IntToBytes(nullptr, &n, a), 0);
    EXPECT_EQ(n, 10u);
    unsigned char small[4];
    unsigned room = sizeof small;
    EXPECT_EQ(WJ_BigInt_IntToBytes(small, &room, a), WJ_ERR_BUFFER_SMALL);
    Bytes out(10);
    ASSERT_EQ(WJ_BigInt_IntToBytes(out.data(), &n, a), 0);
    EXPECT_EQ(hex(out), "0102030405060708090a");

    WJ_BigInt *zero = from_bytes({});
    EXPECT_EQ(zero->Length, 1u);
    EXPECT_EQ(WJ_BigInt_GetBitLength(zero), 0u);
    WJ_BigInt *b = WJ_BigInt_New(0);
    ASSERT_EQ(WJ_BigInt_Copy(b, a), 0);
    EXPECT_EQ(WJ_BigInt_Cmp(a, b), 0);
    b->Data[0] += 1;
    EXPECT_EQ(WJ_BigInt_Cmp(a, b), -1);
    EXPECT_EQ(WJ_BigInt_Cmp(b, a), 1);
    b->Sign = 1;
    EXPECT_EQ(WJ_BigInt_Cmp(b, a), -1) << "a negative number is below a positive one";
    EXPECT_EQ(WJ_BigInt_Cmp(b, zero), -1);
    ASSERT_EQ(WJ_BigInt_Realloc(b, 40), 0);
    EXPECT_GE(b->MemLength, 40u);
    EXPECT_EQ(b->Data[0], a->Data[0] + 1) << "Realloc keeps the value";
    ASSERT_EQ(WJ_BigInt_Reset(b), 0);
    EXPECT_EQ(WJ_BigInt_Cmp(b, zero), 0);
    WJ_BigInt_Free(a);
    WJ_BigInt_Free(b);
    WJ_BigInt_Free(zero);
    WJ_BigInt_Free(nullptr);
}

// Our DER INTEGERs equal OpenSSL's for positive and negative values of many lengths, and decode
// back to the same number.
TEST(CryptoBigInt, DerAgreesWithOpenssl) {
    for (size_t len : {0, 1, 2, 3, 4, 5, 8, 31, 32, 33, 127, 128, 129, 300}) {
        for (unsigned seed = 1; seed <= 3; ++seed) {
            for (int neg = 0; neg <= 1; ++neg) {
                Bytes mag = pattern(len, seed);
                if (seed == 3 && len) mag[0] = 0x80;  // a top bit that needs a leading zero
                WJ_BigInt *a = from_bytes(mag);
                a->Sign = neg;
                BIGNUM *bn = BN_bin2bn(mag.data(), static_cast<int>(mag.size()), nullptr);
                BN_set_negative(bn, neg);
                ASN1_INTEGER *ai = BN_to_ASN1_INTEGER(bn, nullptr);
                unsigned char *p = nullptr;
                int dl = i2d_ASN1_INTEGER(ai, &p);
                Bytes want(p, p + dl);
                OPENSSL_free(p);
                Bytes der = der_of(a);
                EXPECT_EQ(hex(der), hex(want)) << "len " << len << " seed " << seed << " neg " << neg;
                WJ_BigInt *back = WJ_BigInt_New(1);
                ASSERT_EQ(WJ_BigInt_DerDecode(back, der.data(), static_cast<unsigned>(der.size())), 0);
                EXPECT_EQ(WJ_BigInt_Cmp(back, a), 0) << "len " << len;
                WJ_BigInt_Free(back);
                ASN1_INTEGER_free(ai);
                BN_free(bn);
                WJ_BigInt_Free(a);
            }
        }
    }
}

TEST(CryptoBigInt, DerDecodeRejectsMalformedInput) {
    struct Case {
        const char *der;
        int want;
    } cases[] = {
        {"020100", 0},
        {"0201ff", 0},
        {"03010a", WJ_ERR_BAD_DER},
        {"0202", WJ_ERR_SHORT_INPUT},
        {"0203ffff", WJ_ERR_SHORT_INPUT},
        {"02", WJ_ERR_SHORT_INPUT},
        {"0200", WJ_ERR_BAD_DER},
        {"0201000a", WJ_ERR_BAD_DER} /* trailing byte */,
        {"0202007f", WJ_ERR_BAD_DER} /* not minimal */,
        {"0202ff80", WJ_ERR_BAD_DER},
        {"02810105", WJ_ERR_BAD_DER} /* long form for a short length */,
        {"0285000000000105", WJ_ERR_BAD_DER},
        {"028401000000", WJ_ERR_SHORT_INPUT},
    };
    WJ_BigInt *a = WJ_BigInt_New(1);
    for (const Case &c : cases) {
        Bytes der = from_hex(c.der);
        EXPECT_EQ(WJ_BigInt_DerDecode(a, der.data(), static_cast<unsigned>(der.size())), c.want) << c.der;
    }
    // A 132-byte value: its minimal two-octet length reads, a padded three-octet one does not
    // (it would not encode back to the same bytes).
    Bytes value(132, 0x5a);
    Bytes minimal = from_hex("028184"), padded = from_hex("02820084");
    minimal.insert(minimal.end(), value.begin(), value.end());
    padded.insert(padded.end(), value.begin(), value.end());
    EXPECT_EQ(WJ_BigInt_DerDecode(a, minimal.data(), static_cast<unsigned>(minimal.size())), 0);
    EXPECT_EQ(WJ_BigInt_DerDecode(a, padded.data(), static_cast<unsigned>(padded.size())), WJ_ERR_BAD_DER);
    EXPECT_EQ(WJ_BigInt_DerDecode(a, nullptr, 3), WJ_ERR_BAD_ARGUMENT);
    WJ_BigInt_Free(a);
}

TEST(CryptoBigInt, PoolReusesTemporaries) {
    WJ_POOL_CTX *pool = WJ_POOL_CTX_New();
    ASSERT_NE(pool, nullptr);
    WJ_BigInt *a = WJ_POOL_CTX_Pop(pool, 8);
    ASSERT_NE(a, nullptr);
    EXPECT_GE(a->MemLength, 8u);
    Bytes v = pattern(20);
    ASSERT_EQ(WJ_BigInt_BytesToInt(a, v.data(), 20), 0);
    ASSERT_EQ(WJ_POOL_CTX_Push(pool, a), 0);
    WJ_BigInt *b = WJ_POOL_CTX_Pop(pool, 4);
    EXPECT_EQ(b, a) << "a pushed integer comes back";
    EXPECT_EQ(WJ_BigInt_GetBitLength(b), 0u) << "wiped to zero";
    WJ_BigInt *c = WJ_POOL_CTX_Pop(pool, 100);
    EXPECT_NE(c, b);
    EXPECT_GE(c->MemLength, 100u);
    ASSERT_EQ(WJ_POOL_CTX_Push(pool, b), 0);
    ASSERT_EQ(WJ_POOL_CTX_Push(pool, c), 0);
    EXPECT_EQ(WJ_POOL_CTX_Push(pool, nullptr), WJ_ERR_BAD_ARGUMENT);
    WJ_POOL_CTX_Free(pool);
    WJ_POOL_CTX_Free(nullptr);
}

TEST(CryptoModule, StateTransitions) {
    EXPECT_STREQ(WJC_GetVersion(), "1.3.0.0");
    ASSERT_EQ(WJC_Initialize(), 0);
    struct Step {
        int request, want_rc, want_state;
    } steps[] = {
        {3, 0, 3},
        {5, 0, 5},
        {1, 0, 1},
        {3, 0, 3},
        {2, WJ_ERR_BAD_ARGUMENT, 3},
        {11, WJ_ERR_BAD_ARGUMENT, 3},
        {9, 0, 9},
        {3, WJ_ERR_STATE, 9},
        {1, WJ_ERR_STATE, 9},
        {9, 0, 9},
    };
    for (const Step &s : steps) {
        EXPECT_EQ(WJC_ChangeState(s.request), s.want_rc) << "request " << s.request;
        EXPECT_EQ(WJC_GetState(), s.want_state) << "request " << s.request;
    }
    unsigned char out[64];
    unsigned n = 0;
    EXPECT_EQ(WJ_Hash(out, &n, out, 0, WJ_HASH_SHA1), WJ_ERR_STATE);
    EXPECT_EQ(WJ_GetRandom(out, 8), WJ_ERR_STATE);
    ASSERT_EQ(WJC_Finalize(), 0);
    EXPECT_EQ(WJC_GetState(), 11);
    EXPECT_EQ(WJ_Hash(out, &n, out, 0, WJ_HASH_SHA1), WJ_ERR_STATE);
    EXPECT_EQ(WJC_ChangeState(3), WJ_ERR_STATE);
    ASSERT_EQ(WJC_Initialize(), 0);
    EXPECT_EQ(WJC_GetState(), 1);
    EXPECT_EQ(WJ_Hash(out, &n, out, 0, WJ_HASH_SHA1), 0) << "a primitive called in state 1 enters state 3";
    EXPECT_EQ(to_hex(out, n), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(WJC_GetState(), 3);
    EXPECT_EQ(WJC_SelfTest(), 0);
    Bytes seed = pattern(48), r1(32), r2(32);
    EXPECT_EQ(WJC_UpdateRandom(seed.data(), 48), 0);
    ASSERT_EQ(WJC_GetRandom(r1.data(), 32), 0);
    ASSERT_EQ(WJ_GetRandom(r2.data(), 32), 0);
    EXPECT_NE(hex(r1), hex(r2));

    for (int code : {-10, -12, -80, -81, -101, -102, -103, -110, -111, -112, -625, -635, -655, -665, -716})
        EXPECT_STRNE(WJC_GetErrorString(code), "unknown error") << code;
    EXPECT_STREQ(WJC_GetErrorString(-9999), "unknown error");
}

TEST(CryptoCipher, KeysParametersAndMisuse) {
    struct Case {
        int alg;
        size_t key;
        unsigned suite;
        int want;
    } cases[] = {
        {WJ_CIPHER_BLOWFISH, 0, 0, WJ_ERR_KEY_LENGTH},
        {WJ_CIPHER_BLOWFISH, 1, 0, 0},
        {WJ_CIPHER_BLOWFISH, 56, 0, 0},
        {WJ_CIPHER_BLOWFISH, 57, 0, WJ_ERR_KEY_LENGTH},
        {WJ_CIPHER_CAST128, 4, 0, WJ_ERR_KEY_LENGTH},
        {WJ_CIPHER_CAST128, 5, 0, 0},
        {WJ_CIPHER_RC2, 128, 0, 0},
        {WJ_CIPHER_RC2, 129, 0, WJ_ERR_KEY_LENGTH},
        {WJ_CIPHER_RC2, 16, 1024, 0},
        {WJ_CIPHER_RC2, 16, 1025, WJ_ERR_CIPHER_PARAM},
        {WJ_CIPHER_RC5, 0, 12, 0},
        {WJ_CIPHER_RC5, 256, 255, 0},
        {WJ_CIPHER_RC5, 16, 256, WJ_ERR_CIPHER_PARAM},
        {WJ_CIPHER_ARIA, 20, 0, WJ_ERR_KEY_LENGTH},
        {WJ_CIPHER_TDES, 8, 0, WJ_ERR_KEY_LENGTH},
        {WJ_CIPHER_TDES, 24, 0, 0},
        {WJ_CIPHER_CAMELLIA128, 24, 0, WJ_ERR_KEY_LENGTH},
        {WJ_CIPHER_NEAT, 16, 0, WJ_ERR_UNKNOWN_ID},
        {WJ_CIPHER_RESERVED31, 32, 0, WJ_ERR_UNKNOWN_ID},
        {10, 16, 0, WJ_ERR_UNKNOWN_ID},
    };
    Bytes msg = pattern(24);
    for (const Case &c : cases) {
        WJ_SECRET_KEY k{};
        k.keyLength = static_cast<unsigned>(c.key);
        WJ_CIPHER_PARAM p{};
        p.suiteParam.rc5.rounds = c.suite;
        p.modeID = WJ_MODE_CBC;
        p.paddingID = WJ_PAD_PKCS;
        p.modeParam.ivLength =
            static_cast<unsigned>(WJC_Cipher_GetBlockLength(c.alg) > 0 ? WJC_Cipher_GetBlockLength(c.alg) : 8);
        unsigned char out[64];
        unsigned n = 0;
        EXPECT_EQ(WJC_Cipher_Encrypt(out, &n, msg.data(), 24, &k, c.alg, &p), c.want)
            << "cipher " << c.alg << " key " << c.key << " param " << c.suite;
    }

    WJC_CIPHER_CTX *ctx = WJC_CIPHER_CTX_New();
    WJ_SECRET_KEY k{};
    k.keyLength = 16;
    WJ_CIPHER_PARAM p{};
    p.modeID = WJ_MODE_ECB;
    p.paddingID = WJ_PAD_PKCS;
    unsigned char out[64];
    unsigned n = 0, pad = 0;
    EXPECT_EQ(WJC_Cipher_Encrypt_Update(ctx, out, &n, msg.data(), 16), WJ_ERR_BAD_CONTEXT) << "before Init";
    ASSERT_EQ(WJC_Cipher_Encrypt_Init(ctx, &k, WJ_CIPHER_SEED, &p), 0);
    EXPECT_EQ(WJC_Cipher_Decrypt_Update(ctx, out, &n, msg.data(), 16), WJ_ERR_BAD_CONTEXT) << "wrong direction";
    ASSERT_EQ(WJC_Cipher_Encrypt_Update(ctx, out, &n, msg.data(), 5), 0);
    ASSERT_EQ(WJC_Cipher_Encrypt_Final(ctx, out, &n), 0);
    EXPECT_EQ(n, 16u);
    EXPECT_EQ(WJC_Cipher_Encrypt_Final(ctx, out, &n), WJ_ERR_BAD_CONTEXT) << "Final twice";
    ASSERT_EQ(WJC_Cipher_Decrypt_Init(ctx, &k, WJ_CIPHER_SEED, &p), 0);
    EXPECT_EQ(WJC_Cipher_Decrypt_Final(ctx, &pad), WJ_ERR_BAD_PADDING) << "nothing decrypted";
    p.modeID = 6;
    EXPECT_EQ(WJC_Cipher_Encrypt_Init(ctx, &k, WJ_CIPHER_SEED, &p), WJ_ERR_UNKNOWN_MODE);
    p.modeID = WJ_MODE_ECB;
    p.paddingID = 2;
    EXPECT_EQ(WJC_Cipher_Encrypt_Init(ctx, &k, WJ_CIPHER_SEED, &p), WJ_ERR_UNKNOWN_PADDING);
    WJC_CIPHER_CTX_Free(ctx);

    WJ_SECRET_KEY *sk = WJC_SKEY_SecretKey_New();
    ASSERT_NE(sk, nullptr);
    EXPECT_EQ(WJC_SKEY_SecretKey_FromBinary(sk, 1, msg.data(), 16), 0);
    EXPECT_EQ(sk->keyLength, 16u);
    Bytes big(257);
    EXPECT_EQ(WJC_SKEY_SecretKey_FromBinary(sk, 1, big.data(), 257), WJ_ERR_KEY_LENGTH);
    WJC_SKEY_SecretKey_Free(sk);
}

// HMAC over every OpenSSL-backed hash with keys around the block size equals OpenSSL's HMAC;
// HMAC over our own hashes follows the definition.
TEST(CryptoMac, HmacAgreesWithOpenssl) {
    struct H {
        int alg;
        const char *name;
        size_t block;
    } hashes[] = {{WJ_HASH_MD5, "MD5", 64},
                  {WJ_HASH_SHA1, "SHA1", 64},
                  {WJ_HASH_SHA224, "SHA224", 64},
                  {WJ_HASH_SHA256, "SHA256", 64},
                  {WJ_HASH_SHA384, "SHA384", 128},
                  {WJ_HASH_SHA512, "SHA512", 128},
                  {WJ_HASH_RIPEMD160, "RIPEMD160", 64}};
    Bytes msg = pattern(77);
    for (const H &h : hashes) {
        for (size_t klen : {size_t{0}, size_t{1}, h.block - 1, h.block, h.block + 1, size_t{200}}) {
            Bytes key = pattern(klen, 5);
            unsigned char want[64];
            size_t wn = 0;
            ASSERT_NE(EVP_Q_mac(ref_ctx(), "HMAC", nullptr, h.name, nullptr, key.data(), key.size(), msg.data(),
                                msg.size(), want, sizeof want, &wn),
                      nullptr);
            EXPECT_EQ(hex(core_mac(WJ_MAC_HMAC(h.alg), key, msg)), to_hex(want, wn)) << h.name << " key " << klen;
        }
    }
    for (int alg : {WJ_HASH_MD2, WJ_HASH_HAS160}) {
        size_t block = static_cast<size_t>(WJC_Hash_GetBlockLength(alg));
        Bytes key = pattern(block + 3, 9);  // hashed first
        auto hash = [&](const Bytes &m) {
            unsigned char d[64];
            unsigned n = 0;
            EXPECT_EQ(WJ_Hash(d, &n, m.data(), static_cast<unsigned>(m.size()), alg), 0);
            return Bytes(d, d + n);
        };
        Bytes k0 = hash(key);
        k0.resize(block, 0);
        Bytes inner, outer;
        for (unsigned char c : k0) inner.push_back(c ^ 0x36), outer.push_back(c ^ 0x5c);
        inner.insert(inner.end(), msg.begin(), msg.end());
        Bytes ih = hash(inner);
        outer.insert(outer.end(), ih.begin(), ih.end());
        EXPECT_EQ(hex(core_mac(WJ_MAC_HMAC(alg), key, msg)), hex(hash(outer))) << "hash " << alg;

        // The streaming primitive gives the same.
        WJ_HMAC_CTX *ctx = WJC_MAC_CTX_New();
        ASSERT_EQ(WJ_HMAC_Init(ctx, alg, key.data(), static_cast<unsigned>(key.size())), 0);
        ASSERT_EQ(WJ_HMAC_Update(ctx, msg.data(), 30), 0);
        ASSERT_EQ(WJ_HMAC_Update(ctx, msg.data() + 30, 47), 0);
        unsigned char v[64];
        unsigned n = 0;
        ASSERT_EQ(WJ_HMAC_Final(ctx, v, &n), 0);
        EXPECT_EQ(to_hex(v, n), hex(hash(outer)));
        EXPECT_EQ(WJ_HMAC_Final(ctx, v, &n), WJ_ERR_BAD_CONTEXT);
        WJC_MAC_CTX_Free(ctx);
    }
}

// Cipher MACs by their definitions over OpenSSL's ECB, for empty, partial and whole-block data.
TEST(CryptoMac, CipherMacsAgreeWithDefinitions) {
    Bytes k16 = pattern(16, 3), k8 = pattern(8, 4);
    for (size_t len : {0, 1, 8, 15, 16, 17, 40}) {
        SCOPED_TRACE("length " + std::to_string(len));
        Bytes msg = pattern(len, 6);
        // Method 1: zeros to a positive multiple of the block.
        auto pad1 = [&](size_t b) {
            Bytes m = msg;
            m.resize(len == 0 ? b : (len + b - 1) / b * b, 0);
            return m;
        };
        EXPECT_EQ(hex(core_mac(WJ_MAC_CBC(WJ_CIPHER_AES), k16, msg)),
                  hex(ref_cbc_mac("AES-128-ECB", k16, pad1(16), 16)));
        EXPECT_EQ(hex(core_mac(WJ_MAC_CBC(WJ_CIPHER_SEED), k16, msg)), hex(ref_cbc_mac("SEED-ECB", k16, pad1(16), 16)));
        EXPECT_EQ(hex(core_mac(WJ_MAC_CBC(WJ_CIPHER_DES), k8, msg)), hex(ref_cbc_mac("DES-ECB", k8, pad1(8), 8)));
        // Method 2: 0x80 then zeros, always.
        Bytes m2 = msg;
        m2.push_back(0x80);
        m2.resize((m2.size() + 7) / 8 * 8, 0);
        EXPECT_EQ(hex(core_mac(WJ_MAC_DES_MAC_PAD2, k8, msg)), hex(ref_cbc_mac("DES-ECB", k8, m2, 8)));
        // X9.19: CBC-MAC under the left key, then decrypt with the right key, encrypt with the left.
        Bytes left(k16.begin(), k16.begin() + 8), right(k16.begin() + 8, k16.end());
        Bytes r = ref_cbc_mac("DES-ECB", left, pad1(8), 8);
        r = ref_ecb("DES-ECB", left, ref_ecb("DES-ECB", right, r, false));
        EXPECT_EQ(hex(core_mac(WJ_MAC_X919, k16, msg)), hex(r));
    }
    // AES-128 CMAC, RFC 4493 example 4 (64 bytes).
    Bytes key = from_hex("2b7e151628aed2a6abf7158809cf4f3c");
    Bytes msg = from_hex(
        "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e5130c81c46a35ce411e5fbc1191a0a52ef"
        "f69f2445df4f9b17ad2b417be66c3710");
    EXPECT_EQ(hex(core_mac(WJ_MAC_AES_CMAC, key, msg)), "51f0bebf7e3b9d92fc49741779363cfe");
    // Key lengths and unknown numbers.
    WJ_SECRET_KEY k{};
    k.keyLength = 8;
    unsigned char out[64];
    unsigned n = 0;
    EXPECT_EQ(WJC_MAC(out, &n, msg.data(), 16, &k, WJ_MAC_AES_CMAC, nullptr), WJ_ERR_KEY_LENGTH);
    EXPECT_EQ(WJC_MAC(out, &n, msg.data(), 16, &k, WJ_MAC_X919, nullptr), WJ_ERR_KEY_LENGTH);
    EXPECT_EQ(WJC_MAC(out, &n, msg.data(), 16, &k, WJ_MAC_CBC(WJ_CIPHER_RC4), nullptr), WJ_ERR_UNKNOWN_ID);
    EXPECT_EQ(WJC_MAC(out, &n, msg.data(), 16, &k, 256 + 3, nullptr), WJ_ERR_UNKNOWN_ID);
    EXPECT_EQ(WJC_MAC_GetLength(WJ_MAC_X919), 8);
    EXPECT_EQ(WJC_MAC_GetLength(WJ_MAC_HMAC(WJ_HASH_SHA384)), 48);
    EXPECT_EQ(WJC_MAC_GetLength(WJ_MAC_AES_CMAC), 16);
}
