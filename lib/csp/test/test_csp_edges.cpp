// The provider's argument handling and codes, the buffers it sizes, the older forms, the state
// gate and the self-tests, and its library frame.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "csp_test_util.hpp"
#include "suite_crypto.h"

using namespace csptest;

namespace {

int encrypt_code(int cipher, size_t key_len, ZQ_CSP_CipherParam *p, size_t in_len = 16) {
    Bytes key = pattern(key_len), msg = pattern(in_len);
    BIN k = view(key), in = view(msg);
    Out out;
    return QRT_CSP_Encrypt(&out, &in, &k, cipher, p);
}

Bytes encrypt(int cipher, const Bytes &key, ZQ_CSP_CipherParam *p, const Bytes &msg) {
    BIN k = view(key), in = view(msg);
    Out out;
    EXPECT_EQ(QRT_CSP_Encrypt(&out, &in, &k, cipher, p), 0);
    return out.bytes();
}

struct TraceOn {
    TraceOn() {
        QRT_Trace_Initialize();
        QRT_Trace_ClearError();
    }
};

}  // namespace

TEST(CspEdges, CipherArgumentsAndCodes) {
    TraceOn trace;
    Bytes iv16 = pattern(16), iv8 = pattern(8);
    Param ecb(QRT_CSP_MODE_ECB, QRT_CSP_PAD_PKCS5);
    Param cbc(QRT_CSP_MODE_CBC, QRT_CSP_PAD_PKCS5, iv16);
    Param cbc_noiv(QRT_CSP_MODE_CBC, QRT_CSP_PAD_PKCS5);
    Param cbc_shortiv(QRT_CSP_MODE_CBC, QRT_CSP_PAD_PKCS5, iv8);
    Param cbc_longiv(QRT_CSP_MODE_CBC, QRT_CSP_PAD_PKCS5, pattern(33));
    Param pad3(QRT_CSP_MODE_ECB, 3);
    Param mode0(0, QRT_CSP_PAD_PKCS5), mode6(6, QRT_CSP_PAD_PKCS5);
    Param cfb_big(QRT_CSP_MODE_CFB, QRT_CSP_PAD_NONE, iv16, 17);
    Param cbc_empty(QRT_CSP_MODE_CBC, QRT_CSP_PAD_PKCS5);
    Bytes none;
    BIN empty_iv = view(none);
    cbc_empty.p.modeParam.iv = &empty_iv;
    struct Case {
        const char *what;
        int cipher;
        size_t key;
        ZQ_CSP_CipherParam *param;
        int want;
    } cases[] = {
        {"ECB needs no IV", 1, 16, &ecb, 0},
        {"CBC without IV", 1, 16, &cbc_noiv, 6024},
        {"CBC with an empty IV", 1, 16, &cbc_empty, 6024},
        {"IV shorter than the block (core judges)", 1, 16, &cbc_shortiv, 6024},
        {"IV over the core's 32 bytes", 1, 16, &cbc_longiv, 6024},
        {"padding 3", 1, 16, &pad3, 6022},
        {"mode 0", 1, 16, &mode0, 6021},
        {"mode 6", 1, 16, &mode6, 6021},
        {"CFB segment over the block", 1, 16, &cfb_big, 6025},
        {"unknown cipher 10", 10, 16, &ecb, 6010},
        {"unknown cipher 0", 0, 16, &ecb, 6010},
        {"DES with a 5-byte key reaches the core", 4, 5, &ecb, 6026},
        {"AES with a 15-byte key", 1, 15, &ecb, 6026},
        {"SEED with a 15-byte key", 8, 15, &ecb, 6026},
        {"two-key Triple DES", 9, 16, &ecb, 0},
        {"Triple DES with 20 bytes uses them all and fails", 9, 20, &ecb, 6026},
        {"NEAT is not in this core", 22, 16, &ecb, 6110},
        {"cipher 31 is not in this core", 31, 32, &ecb, 6110},
        {"RC4 takes no parameter", 6, 16, nullptr, 0},
        {"RC4 key over the core's 256 bytes", 6, 257, nullptr, 6026},
        {"RC5 key over the core's 256 bytes", 7, 300, &ecb, 6026},
        {"RC2 needs its parameter", 5, 16, nullptr, 6001},
        {"no parameter", 1, 16, nullptr, 6001},
    };
    for (const Case &c : cases) EXPECT_EQ(encrypt_code(c.cipher, c.key, c.param), c.want) << c.what;

    // Whole blocks only without padding.
    Param nopad(QRT_CSP_MODE_CBC, QRT_CSP_PAD_NONE, iv16);
    EXPECT_EQ(encrypt_code(1, 16, &nopad, 17), 6110);
    EXPECT_EQ(encrypt_code(1, 16, &nopad, 32), 0);

    // A core failure leaves the core's record first, then the provider's.
    QRT_Trace_ClearError();
    Param des(QRT_CSP_MODE_ECB, QRT_CSP_PAD_PKCS5);
    ZQ_CSP_CTX *ctx = QRT_CSP_CreateCTX();
    Bytes k5 = pattern(5);
    BIN bk5 = view(k5);
    EXPECT_EQ(QRT_CSP_EncryptInit(ctx, &bk5, 4, &des), 6026);
    auto recs = ostrel::test::trace_records();
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(ostrel::test::trace_field(recs[0], 2), "WJ_Cipher_Encrypt_Init");
    EXPECT_EQ(ostrel::test::trace_field(recs[0], 3), "-112");
    EXPECT_EQ(ostrel::test::trace_field(recs[1], 2), "QRT_CSP_EncryptInit");
    EXPECT_EQ(ostrel::test::trace_field(recs[1], 4), "cipher key length is incorrect");
    QRT_CSP_DestroyCTX(ctx);

    // NULL arguments: 6001 and no record.
    BIN k{0, nullptr};
    Out o;
    EXPECT_EQ(QRT_CSP_EncryptInit(nullptr, &k, 1, &ecb), 6001);
    EXPECT_EQ(QRT_CSP_Encrypt(nullptr, &k, &k, 1, &ecb), 6001);
    EXPECT_EQ(QRT_CSP_Decrypt(&o, nullptr, &k, 1, &ecb), 6001);
    EXPECT_TRUE(ostrel::test::trace_records().empty());
}

TEST(CspEdges, KeyNormalisation) {
    Param ecb(QRT_CSP_MODE_ECB, QRT_CSP_PAD_NONE);
    Bytes msg = pattern(32), k40 = pattern(40, 3);
    auto prefix = [&](size_t n) { return Bytes(k40.begin(), k40.begin() + static_cast<long>(n)); };
    struct Case {
        int cipher;
        size_t given, used;
    } cases[] = {{13, 20, 16}, {1, 40, 32}, {1, 23, 16},  {1, 31, 24}, {12, 25, 24},
                 {4, 12, 8},   {8, 17, 16}, {21, 40, 16}, {9, 30, 24}};
    for (const Case &c : cases)
        EXPECT_EQ(hexs(encrypt(c.cipher, prefix(c.given), &ecb, msg)),
                  hexs(encrypt(c.cipher, prefix(c.used), &ecb, msg)))
            << "cipher " << c.cipher << " key " << c.given;
    // Blowfish takes the key as given: 20 bytes differ from their first 16.
    EXPECT_NE(hexs(encrypt(2, prefix(20), &ecb, msg)), hexs(encrypt(2, prefix(16), &ecb, msg)));
}

TEST(CspEdges, PaddingIsCheckedAndRemoved) {
    Bytes key = pattern(16), iv = pattern(16, 2), msg = pattern(37);
    Param cbc(QRT_CSP_MODE_CBC, QRT_CSP_PAD_PKCS5, iv);
    Param ecb(QRT_CSP_MODE_ECB, QRT_CSP_PAD_PKCS5);
    Param raw(QRT_CSP_MODE_ECB, QRT_CSP_PAD_NONE);
    Bytes ct = encrypt(8, key, &cbc, msg);
    ASSERT_EQ(ct.size(), 48u);
    BIN k = view(key), in = view(ct);
    Out pt;
    ASSERT_EQ(QRT_CSP_Decrypt(&pt, &in, &k, 8, &cbc), 0);
    EXPECT_EQ(pt.bytes(), msg);
    ct.back() ^= 0x40;
    in = view(ct);
    Out bad;
    EXPECT_EQ(QRT_CSP_Decrypt(&bad, &in, &k, 8, &cbc), 6023);

    // Hand-made last blocks: pad byte 0, pad byte over the block, inconsistent pad bytes.
    auto last_block = [&](Bytes plain) {
        Bytes c = encrypt(8, key, &raw, plain);
        BIN b = view(c);
        Out o;
        return QRT_CSP_Decrypt(&o, &b, &k, 8, &ecb);
    };
    Bytes blk(16, 0x41);
    blk[15] = 0;
    EXPECT_EQ(last_block(blk), 6023);
    blk[15] = 17;
    EXPECT_EQ(last_block(blk), 6023);
    blk[15] = 3;
    blk[14] = 3;
    blk[13] = 4;
    EXPECT_EQ(last_block(blk), 6023);
    blk[13] = 3;
    EXPECT_EQ(last_block(blk), 0);
    blk.assign(16, 16);
    EXPECT_EQ(last_block(blk), 0);
    // No cipher text at all has no padding to remove; a partial block cannot be decrypted.
    Bytes nothing, partial(15, 1);
    BIN e = view(nothing), p15 = view(partial);
    Out o1, o2;
    EXPECT_EQ(QRT_CSP_Decrypt(&o1, &e, &k, 8, &ecb), 6023);
    EXPECT_EQ(QRT_CSP_Decrypt(&o2, &p15, &k, 8, &ecb), 6110);

    // Streaming: DecryptFinal reports the pad length for the caller to cut.
    Bytes good = encrypt(8, key, &cbc, msg);
    ZQ_CSP_CTX *ctx = QRT_CSP_CreateCTX();
    BIN g = view(good);
    Out d;
    int pad = -1;
    ASSERT_EQ(QRT_CSP_DecryptInit(ctx, &k, 8, &cbc), 0);
    ASSERT_EQ(QRT_CSP_DecryptUpdate(ctx, &d, &g), 0);
    ASSERT_EQ(QRT_CSP_DecryptFinal(ctx, &pad), 0);
    EXPECT_EQ(d.b.length, 48u);
    EXPECT_EQ(pad, 11);
    QRT_CSP_DestroyCTX(ctx);
}

// Update output is sized for the input plus a completed held-back block: 15 bytes, then 1 byte,
// gives 16 bytes out of a 1-byte input.
TEST(CspEdges, UpdateOutputHoldsACompletedBlock) {
    Bytes key = pattern(16), a = pattern(15), b = pattern(1, 9);
    Param ecb(QRT_CSP_MODE_ECB, QRT_CSP_PAD_NONE);
    BIN k = view(key), ba = view(a), bb = view(b);
    ZQ_CSP_CTX *ctx = QRT_CSP_CreateCTX();
    Out o1, o2, o3;
    ASSERT_EQ(QRT_CSP_EncryptInit(ctx, &k, 1, &ecb), 0);
    ASSERT_EQ(QRT_CSP_EncryptUpdate(ctx, &o1, &ba), 0);
    EXPECT_EQ(o1.b.length, 0u);
    EXPECT_EQ(o1.b.value, nullptr);
    ASSERT_EQ(QRT_CSP_EncryptUpdate(ctx, &o2, &bb), 0);
    EXPECT_EQ(o2.b.length, 16u);
    ASSERT_EQ(QRT_CSP_EncryptFinal(ctx, &o3), 0);
    EXPECT_EQ(o3.b.length, 0u);
    // Wrong kind of context; after a reset the record serves any algorithm.
    Out h;
    EXPECT_EQ(QRT_CSP_HashFinal(ctx, &h), 6001);
    QRT_CSP_ResetCTX(ctx);
    ASSERT_EQ(QRT_CSP_HashInit(ctx, QRT_CSP_HASH_SHA256), 0);
    EXPECT_EQ(QRT_CSP_EncryptUpdate(ctx, &o1, &ba), 6001);
    QRT_CSP_DestroyCTX(ctx);
    QRT_CSP_ResetCTX(nullptr);
    QRT_CSP_DestroyCTX(nullptr);
}

TEST(CspEdges, HashMacAndRandom) {
    TraceOn trace;
    ZQ_CSP_CTX *ctx = QRT_CSP_CreateCTX();
    Bytes msg = pattern(100);
    BIN in = view(msg), none{0, nullptr};
    Out whole, md;
    ASSERT_EQ(QRT_CSP_Hash(&whole, &in, QRT_CSP_HASH_SHA1), 0);
    ASSERT_EQ(QRT_CSP_HashInit(ctx, QRT_CSP_HASH_SHA1), 0);
    ASSERT_EQ(QRT_CSP_HashUpdate(ctx, &none), 0);
    ASSERT_EQ(QRT_CSP_HashUpdate(ctx, &in), 0);
    ASSERT_EQ(QRT_CSP_HashUpdate(ctx, &none), 0);
    ASSERT_EQ(QRT_CSP_HashFinal(ctx, &md), 0);
    EXPECT_EQ(md.hex(), whole.hex());
    Out bad;
    EXPECT_EQ(QRT_CSP_Hash(&bad, &in, 10), 6010);
    EXPECT_EQ(QRT_CSP_Hash(&bad, &in, 0), 6010);

    ZQ_CSP_HashInfo hi{};
    ASSERT_EQ(QRT_CSP_GetHashInfo(&hi, 7), 0);
    EXPECT_EQ(hi.hashLength, 48);
    EXPECT_EQ(hi.blockLength, 128);

    struct Info {
        int id, rc, mac, key, min, max, step;
    } infos[] = {{6, 0, 32, 16, 16, 64, 1}, {1, 0, 16, 8, 8, 16, 1},   {11, 0, 16, 16, 16, 32, 8},
                 {14, 0, 8, 8, 8, 8, 0},    {16, 0, 8, 16, 0, 256, 1}, {24, 0, 8, 8, 8, 8, 0},
                 {25, 0, 8, 16, 16, 16, 0}, {18, 6010, 0, 0, 0, 0, 0}, {9, 6010, 0, 0, 0, 0, 0},
                 {20, 6010, 0, 0, 0, 0, 0}, {26, 6010, 0, 0, 0, 0, 0}};
    for (const Info &i : infos) {
        ZQ_CSP_MACInfo mi{};
        ASSERT_EQ(QRT_CSP_GetMACInfo(&mi, i.id), i.rc) << "mac " << i.id;
        if (i.rc) continue;
        EXPECT_EQ((std::vector<int>{mi.macLength, mi.keyLength, mi.minKeyLength, mi.maxKeyLength, mi.stepKeyLength}),
                  (std::vector<int>{i.mac, i.key, i.min, i.max, i.step}))
            << "mac " << i.id;
    }
    // 18 has no info, yet the core computes it (AES-128 CMAC, RFC 4493 example 2).
    Bytes cmac_key = from_hex("2b7e151628aed2a6abf7158809cf4f3c"),
          cmac_msg = from_hex("6bc1bee22e409f96e93d7e117393172a");
    BIN ck = view(cmac_key), cm = view(cmac_msg);
    Out cmac;
    ASSERT_EQ(QRT_CSP_MAC(&cmac, &cm, &ck, 18, nullptr), 0);
    EXPECT_EQ(cmac.hex(), "070a16b46b4d4144f79bdd9dd04a287c");
    // HMAC-SHA-256 of RFC 4231 test case 2 ("Jefe").
    Bytes jefe = {'J', 'e', 'f', 'e'};
    std::string what = "what do ya want for nothing?";
    Bytes wmsg(what.begin(), what.end());
    BIN jk = view(jefe), jm = view(wmsg);
    Out hmac;
    ASSERT_EQ(QRT_CSP_MAC(&hmac, &jm, &jk, 6, nullptr), 0);
    EXPECT_EQ(hmac.hex(), "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
    // MAC 15 and 16 need their parameter; a key over 256 bytes is refused.
    Bytes k16 = pattern(16), k300 = pattern(300);
    BIN bk = view(k16), bk300 = view(k300);
    Out m;
    QRT_CSP_ResetCTX(ctx);
    EXPECT_EQ(QRT_CSP_MACInit(ctx, &bk, 15, nullptr), 6001);
    EXPECT_EQ(QRT_CSP_MAC(&m, &in, &bk, 16, nullptr), 6001);
    EXPECT_EQ(QRT_CSP_MAC(&m, &in, &bk300, 6, nullptr), 6026);
    EXPECT_EQ(QRT_CSP_MAC(&m, &in, &bk, 0, nullptr), 6010);
    EXPECT_EQ(QRT_CSP_MAC(&m, &in, &bk, 25, nullptr), 0);
    EXPECT_EQ(m.b.length, 8u);

    Out r;
    EXPECT_EQ(QRT_CSP_GenerateRandom(&r, 0), 0);
    EXPECT_EQ(r.b.length, 0u);
    EXPECT_EQ(r.b.value, nullptr);
    EXPECT_EQ(QRT_CSP_GenerateRandom(&r, -5), 0);
    EXPECT_EQ(QRT_CSP_GenerateRandom(nullptr, 5), 6001);
    Out r1, r2;
    ASSERT_EQ(QRT_CSP_GenerateRandom(&r1, 32), 0);
    BIN seed = view(msg);
    EXPECT_EQ(QRT_CSP_SeedRandom(&seed), 0);
    EXPECT_EQ(QRT_CSP_SeedRandom(nullptr), 0);
    ASSERT_EQ(QRT_RandomBin(0, 32, &r2), 0);
    EXPECT_EQ(r1.b.length, 32u);
    EXPECT_NE(r1.hex(), r2.hex());
    QRT_CSP_DestroyCTX(ctx);
}

TEST(CspEdges, OlderForms) {
    Bytes key = pattern(8), iv = pattern(8, 4), msg = pattern(21);
    BIN k = view(key), in = view(msg);
    // QRT_EncryptionIVBin(0 = DES, 1 = CBC) is DES-CBC with PKCS#5 padding.
    Out old, now, back;
    ASSERT_EQ(QRT_EncryptionIVBin(0, 1, iv.data(), &k, &in, &old), 0);
    Param cbc(QRT_CSP_MODE_CBC, QRT_CSP_PAD_PKCS5, iv);
    ASSERT_EQ(QRT_CSP_Encrypt(&now, &in, &k, QRT_CSP_CIPHER_DES, &cbc), 0);
    EXPECT_EQ(old.hex(), now.hex());
    ASSERT_EQ(QRT_DecryptionIVBin(0, 1, iv.data(), &k, &old.b, &back), 0);
    EXPECT_EQ(back.bytes(), msg);
    // The *Bin forms use a zero IV; SEED (10) takes a 16-byte key and IV.
    Bytes skey = pattern(16, 6), zero(16, 0);
    BIN sk = view(skey);
    Out s1, s2;
    ASSERT_EQ(QRT_EncryptionBin(10, 1, &sk, &in, &s1), 0);
    ASSERT_EQ(QRT_EncryptionIVBin(10, 1, zero.data(), &sk, &in, &s2), 0);
    EXPECT_EQ(s1.hex(), s2.hex());
    Out e;
    EXPECT_EQ(QRT_EncryptionBin(2, 1, &k, &in, &e), 6010);
    EXPECT_EQ(QRT_EncryptionBin(0, 4, &k, &in, &e), 6021);
    EXPECT_EQ(QRT_EncryptionBin(0, 1, &sk, &in, &e), 6002) << "a 16-byte key is no DES key";

    Out h1, h2;
    ASSERT_EQ(QRT_HashBin(5, &in, &h1), 0);
    ASSERT_EQ(QRT_CSP_Hash(&h2, &in, QRT_CSP_HASH_HAS160), 0);
    EXPECT_EQ(h1.hex(), h2.hex());
    Out h3;
    EXPECT_EQ(QRT_HashBin(3, &in, &h3), 6010);

    // MAC 2 (X9.19) with its 16-byte key; verification on the given length only.
    Out mac;
    ASSERT_EQ(QRT_MacBin(2, 0, &sk, &in, &mac), 0);
    ASSERT_EQ(mac.b.length, 8u);
    EXPECT_EQ(QRT_MacVerifyBin(2, 0, &sk, &in, &mac.b), 0);
    BIN first4{4, mac.b.value};
    EXPECT_EQ(QRT_MacVerifyBin(2, 0, &sk, &in, &first4), 0);
    Bytes wrong = mac.bytes();
    wrong[7] ^= 1;
    BIN bw = view(wrong);
    EXPECT_EQ(QRT_MacVerifyBin(2, 0, &sk, &in, &bw), 6011);
    // An empty MAC, or one longer than the MAC, must not verify.
    BIN empty{0, nullptr};
    Bytes longer = mac.bytes();
    longer.push_back(0);
    BIN bl = view(longer);
    EXPECT_EQ(QRT_MacVerifyBin(2, 0, &sk, &in, &empty), 6011);
    EXPECT_EQ(QRT_MacVerifyBin(2, 0, &sk, &in, &bl), 6011);
    EXPECT_EQ(QRT_MacVerifyBin(3, 0, &sk, &in, &mac.b), 6010);
    EXPECT_EQ(QRT_MacVerifyBin(0, 0, &sk, &in, &mac.b), 6002) << "a 16-byte key is no DES key";
}

TEST(CspEdges, BinMergeAndResize) {
    Bytes a = {1, 2, 3}, b = {4, 5};
    BIN ba = view(a), bb = view(b), empty{0, nullptr};
    Out m;
    ASSERT_EQ(QRT_CSP_BIN_Merge(&m, &ba, &bb), 0);
    EXPECT_EQ(m.hex(), "0102030405");
    Out m2;
    ASSERT_EQ(QRT_CSP_BIN_Merge(&m2, nullptr, &bb), 0);
    EXPECT_EQ(m2.hex(), "0405");
    Out m3;
    ASSERT_EQ(QRT_CSP_BIN_Merge(&m3, &empty, nullptr), 0);
    EXPECT_EQ(m3.b.value, nullptr);
    EXPECT_EQ(QRT_CSP_BIN_Merge(&m3, nullptr, nullptr), 6001);
    EXPECT_EQ(QRT_CSP_BIN_Merge(nullptr, &ba, &bb), 6001);

    BIN r{0, nullptr};
    ASSERT_EQ(QRT_CSP_BIN_Resize(&r, 8), 0);
    ASSERT_EQ(r.length, 8u);
    std::memset(r.value, 0xaa, 8);
    unsigned char *kept = r.value;
    ASSERT_EQ(QRT_CSP_BIN_Resize(&r, 4), 0);
    EXPECT_EQ(r.value, kept) << "shrinking keeps the buffer";
    EXPECT_EQ(to_hex(r.value, 4), "00000000") << "and zeroes what it keeps";
    ASSERT_EQ(QRT_CSP_BIN_Resize(&r, 32), 0);
    EXPECT_EQ(to_hex(r.value, 32), std::string(64, '0'));
    ASSERT_EQ(QRT_CSP_BIN_Resize(&r, 0), 0);
    QRT_BIN_Reset(&r);
    EXPECT_EQ(QRT_CSP_BIN_Resize(nullptr, 1), 6001);
}

TEST(CspEdges, FrameAndErrorTexts) {
    EXPECT_STREQ(QRT_CSP_GetVersion(), "1.7.0.0");
    EXPECT_STREQ(QRT_GetVersionCSP(), "1.7.0.0");
    EXPECT_EQ(QRT_CSP_CheckVersion(nullptr), 0);
    EXPECT_EQ(QRT_CSP_CheckVersion("1.7.0.0"), 0);
    EXPECT_EQ(QRT_CSP_CheckVersion("1.7.0.1"), -1);
    EXPECT_STREQ(QRT_CSP_GetErrorReason(6120, 1), "CMVP stated not supported");
    EXPECT_STREQ(QRT_CSP_GetErrorReason(6120, 2), "");
    EXPECT_STREQ(QRT_CSP_GetErrorReason(6999, 1), "");
    EXPECT_STREQ(QRT_GetErrReasonCSP(6023, 1), "cipher padding is invalid");
    // Korean texts come as EUC-KR: "함수" is c7 d4 bc f6.
    const char *ko = QRT_CSP_GetErrorReason(6001, 0);
    ASSERT_GE(std::strlen(ko), 4u);
    EXPECT_EQ(to_hex(ko, 4), "c7d4bcf6");
    EXPECT_STREQ(QRT_CSP_GetErrorReason(6110, 0) + 0, QRT_CSP_GetErrorReason(6110, 0));
    EXPECT_EQ(std::string(QRT_CSP_GetErrorReason(6110, 0)).substr(0, 6), "crypto");
}

// The state gate, and the self-tests: a corrupted known answer puts the module in state 9 where
// every operation fails, until the module is finalized and initialized again.
TEST(CspState, StatesAndSelfTests) {
    TraceOn trace;
    EXPECT_EQ(QRT_CSP_ChangeState(2), 6120);
    EXPECT_EQ(QRT_CSP_ChangeState(11), 6120);
    ASSERT_EQ(QRT_CSP_ChangeState(3), 0);
    EXPECT_EQ(QRT_CSP_GetState(), 3);
    ASSERT_EQ(QRT_CSP_ChangeState(5), 0);
    EXPECT_EQ(QRT_CSP_GetState(), 5);
    ASSERT_EQ(QRT_CSP_ChangeState(1), 0);
    EXPECT_EQ(QRT_CSP_GetState(), 1);

    Bytes key = pattern(16), msg = pattern(40);
    BIN k = view(key), in = view(msg);
    Param cbc(QRT_CSP_MODE_CBC, QRT_CSP_PAD_PKCS5, pattern(16));
    auto every_operation_fails = [&]() {
        Out a, b, c, d;
        ZQ_CSP_CTX *ctx = QRT_CSP_CreateCTX();
        int fails = 0;
        fails += QRT_CSP_Hash(&a, &in, QRT_CSP_HASH_SHA256) != 0;
        fails += QRT_CSP_Encrypt(&b, &in, &k, QRT_CSP_CIPHER_AES, &cbc) != 0;
        fails += QRT_CSP_MAC(&c, &in, &k, QRT_CSP_MAC_HMAC_SHA256, nullptr) != 0;
        fails += QRT_CSP_GenerateRandom(&d, 16) != 0;
        fails += QRT_CSP_HashInit(ctx, QRT_CSP_HASH_SHA1) != 0;
        fails += QRT_CSP_EncryptInit(ctx, &k, QRT_CSP_CIPHER_SEED, &cbc) != 0;
        fails += QRT_CSP_MACInit(ctx, &k, QRT_CSP_MAC_CBC_SEED, nullptr) != 0;
        QRT_CSP_DestroyCTX(ctx);
        return fails == 7;
    };

    // Every known answer, corrupted in turn, stops the module.
    int tests = 0;
    for (int id = 1; WJC_SelfTest_Name(id); ++id, ++tests) {
        SCOPED_TRACE(WJC_SelfTest_Name(id));
        ASSERT_EQ(QRT_CSP_Finalize(), 0);
        EXPECT_EQ(QRT_CSP_GetState(), 11);
        ASSERT_EQ(WJC_SelfTest_InjectFault(id), 0);
        EXPECT_EQ(QRT_CSP_ChangeState(3), WJ_ERR_SELFTEST);
        EXPECT_EQ(QRT_CSP_GetState(), 9);
        EXPECT_TRUE(every_operation_fails());
        ASSERT_EQ(WJC_SelfTest_InjectFault(0), 0);
        EXPECT_EQ(QRT_CSP_ChangeState(3), WJ_ERR_STATE) << "the error state is sticky";
        EXPECT_TRUE(every_operation_fails());
    }
    EXPECT_GE(tests, 10);
    EXPECT_EQ(WJC_SelfTest_InjectFault(tests + 1), WJ_ERR_BAD_ARGUMENT);

    // Finalize and initialize again: the self-tests pass and operations run.
    ASSERT_EQ(QRT_CSP_Finalize(), 0);
    ASSERT_EQ(QRT_CSP_Initialize(), 0);
    EXPECT_EQ(QRT_CSP_GetState(), 1);
    Out md;
    ASSERT_EQ(QRT_CSP_Hash(&md, &in, QRT_CSP_HASH_SHA256), 0) << "an operation enters state 3 on its way";
    EXPECT_EQ(QRT_CSP_GetState(), 3);

    // Requested error state: everything refused; state 5 skips the self-tests.
    ASSERT_EQ(QRT_CSP_ChangeState(9), 0);
    EXPECT_TRUE(every_operation_fails());
    ASSERT_EQ(QRT_CSP_Finalize(), 0);
    ASSERT_EQ(WJC_SelfTest_InjectFault(1), 0);
    ASSERT_EQ(QRT_CSP_Initialize(), 0);
    ASSERT_EQ(QRT_CSP_ChangeState(5), 0);
    unsigned char digest[WJ_HASH_MAX_LENGTH];
    unsigned dlen = 0;
    EXPECT_EQ(WJ_Hash(digest, &dlen, msg.data(), 40, WJ_HASH_SHA256), 0) << "state 5 runs without self-tests";
    EXPECT_EQ(QRT_CSP_GetState(), 5);
    // The provider asks for state 3, which runs the (corrupted) self-tests.
    Out md5;
    EXPECT_EQ(QRT_CSP_Hash(&md5, &in, QRT_CSP_HASH_SHA256), WJ_ERR_SELFTEST);
    EXPECT_EQ(QRT_CSP_GetState(), 9);
    ASSERT_EQ(QRT_CSP_Finalize(), 0);
    ASSERT_EQ(QRT_CSP_Initialize(), 0);
    ASSERT_EQ(WJC_SelfTest_InjectFault(0), 0);
    ASSERT_EQ(QRT_CSP_ChangeState(3), 0);
    EXPECT_EQ(WJC_SelfTest(), 0);
    QRT_Trace_ClearError();
}

// Threads share the module state and the core's per-thread contexts; results must not mix.
TEST(CspState, ConcurrentOperationsAgree) {
    Bytes key = pattern(16), msg = pattern(1000);
    BIN k = view(key), in = view(msg);
    Param cbc(QRT_CSP_MODE_CBC, QRT_CSP_PAD_PKCS5, pattern(16, 3));
    Out ref_ct, ref_mac, ref_md;
    ASSERT_EQ(QRT_CSP_Encrypt(&ref_ct, &in, &k, QRT_CSP_CIPHER_SEED, &cbc), 0);
    ASSERT_EQ(QRT_CSP_MAC(&ref_mac, &in, &k, QRT_CSP_MAC_HMAC_SHA256, nullptr), 0);
    ASSERT_EQ(QRT_CSP_Hash(&ref_md, &in, QRT_CSP_HASH_HAS160), 0);
    std::vector<std::thread> threads;
    std::atomic<int> bad{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                Out ct, mac, md;
                if (QRT_CSP_Encrypt(&ct, &in, &k, QRT_CSP_CIPHER_SEED, &cbc) || ct.hex() != ref_ct.hex()) ++bad;
                if (QRT_CSP_MAC(&mac, &in, &k, QRT_CSP_MAC_HMAC_SHA256, nullptr) || mac.hex() != ref_mac.hex()) ++bad;
                if (QRT_CSP_Hash(&md, &in, QRT_CSP_HASH_HAS160) || md.hex() != ref_md.hex()) ++bad;
            }
        });
    for (auto &th : threads) th.join();
    EXPECT_EQ(bad.load(), 0);
}
