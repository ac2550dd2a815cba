// Big-integer arithmetic against OpenSSL's BIGNUM, and RSA against OpenSSL: PKCS#1 DER both ways,
// v1.5, PSS and OAEP made by one side and checked by the other, raw operations, malformed keys,
// and cached key objects that follow changed record values.
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include "pk_test_util.hpp"

using namespace pktest;

namespace {

EVP_PKEY *shared_rsa() {
    static EVP_PKEY *k = openssl_keygen("RSA", OSSL_PKEY_PARAM_RSA_BITS, 2048);
    return k;
}

const EVP_MD *md(const char *name) { return EVP_get_digestbyname(name); }

Bytes digest(const char *name, const Bytes &msg) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned n = 0;
    EXPECT_EQ(EVP_Digest(msg.data(), msg.size(), out, &n, md(name), nullptr), 1);
    return Bytes(out, out + n);
}

Bytes core_hash(int alg, const Bytes &msg) {
    unsigned char out[WJ_HASH_MAX_LENGTH];
    unsigned n = 0;
    EXPECT_EQ(WJ_Hash(out, &n, msg.data(), static_cast<unsigned>(msg.size()), alg), 0);
    return Bytes(out, out + n);
}

// One OpenSSL operation over a key: sign, verify, encrypt or decrypt with options set by `setup`.
template <class Init, class Setup, class Op>
int ossl_op(EVP_PKEY *k, Init init, Setup setup, Op op) {
    EVP_PKEY_CTX *c = EVP_PKEY_CTX_new(k, nullptr);
    int rc = init(c) == 1 && setup(c) ? op(c) : -100;
    EVP_PKEY_CTX_free(c);
    return rc;
}

}  // namespace

TEST(CryptoBigIntArith, AgreesWithBignum) {
    const char *values[] = {"00",
                            "01",
                            "05",
                            "ffffffff",
                            "0100000000",
                            "d7b9afc104f4d53f737db88d6bf77e12cd7ec3d7",
                            "8da8c1b5c95d11be46661df58c9f803eb729b800dd92751b3a4f10c6a5448e9f3bc0e916f042e399"};
    BN_CTX *ctx = BN_CTX_new();
    WJ_BigInt *r = WJ_BigInt_New(1);
    for (const char *ha : values)
        for (const char *hb : values)
            for (int sa = 0; sa <= 1; ++sa) {
                WJ_BigInt *a = big(ha), *b = big(hb);
                a->Sign = sa && std::string(ha) != "00";
                BIGNUM *x = bn_of(a), *y = bn_of(b), *z = BN_new();
                std::string tag = std::string(sa ? "-" : "") + ha + " " + hb;
                auto expect = [&](const BIGNUM *want, const char *op) {
                    BIGNUM *got = bn_of(r);
                    EXPECT_EQ(BN_cmp(got, want), 0) << op << " " << tag;
                    BN_free(got);
                };
                ASSERT_EQ(WJ_BigInt_Add(r, a, b), 0);
                BN_add(z, x, y);
                expect(z, "add");
                ASSERT_EQ(WJ_BigInt_Sub(r, a, b), 0);
                BN_sub(z, x, y);
                expect(z, "sub");
                ASSERT_EQ(WJ_BigInt_Mul(r, a, b), 0);
                BN_mul(z, x, y, ctx);
                expect(z, "mul");
                if (!BN_is_zero(y)) {
                    ASSERT_EQ(WJ_BigInt_Mod(r, a, b), 0);
                    BN_nnmod(z, x, y, ctx);
                    expect(z, "mod");
                    ASSERT_EQ(WJ_BigInt_ModMul(r, a, a, b), 0);
                    BN_mod_mul(z, x, x, y, ctx);
                    expect(z, "modmul");
                    ASSERT_EQ(WJ_BigInt_ModExp(r, a, a->Sign ? b : a, b), 0);
                    BIGNUM *base = BN_dup(x);
                    BN_nnmod(base, base, y, ctx);
                    BN_mod_exp(z, base, a->Sign ? y : x, y, ctx);
                    BN_free(base);
                    expect(z, "modexp");
                    int inv = WJ_BigInt_ModInverse(r, a, b);
                    BIGNUM *t = BN_new();
                    if (BN_mod_inverse(t, x, y, ctx) && !BN_is_one(y)) {
                        ASSERT_EQ(inv, 0) << tag;
                        BN_nnmod(t, t, y, ctx);
                        expect(t, "inverse");
                    } else {
                        EXPECT_EQ(inv, WJ_ERR_NOT_INVERTIBLE) << tag;
                    }
                    BN_free(t);
                } else {
                    EXPECT_EQ(WJ_BigInt_Mod(r, a, b), WJ_ERR_BAD_ARGUMENT);
                }
                BN_free(x);
                BN_free(y);
                BN_free(z);
                WJ_BigInt_Free(a);
                WJ_BigInt_Free(b);
            }
    // Sums and differences over every sign pair, written over either input, and with inputs whose
    // length counts leading zero words.
    for (const char *ha : values)
        for (const char *hb : values)
            for (int signs = 0; signs < 4; ++signs)
                for (int into = 0; into < 3; ++into)
                    for (int sub = 0; sub <= 1; ++sub) {
                        WJ_BigInt *a = big(ha), *b = big(hb);
                        ASSERT_EQ(WJ_BigInt_Realloc(b, b->Length + 2), 0);
                        b->Length += 2;  // untrimmed: two zero words on top
                        a->Sign = (signs & 1) && std::string(ha) != "00";
                        b->Sign = (signs & 2) && std::string(hb) != "00";
                        BIGNUM *x = bn_of(a), *y = bn_of(b), *z = BN_new();
                        (sub ? BN_sub : BN_add)(z, x, y);
                        WJ_BigInt *out = into == 0 ? r : into == 1 ? a : b;
                        ASSERT_EQ((sub ? WJ_BigInt_Sub : WJ_BigInt_Add)(out, a, b), 0);
                        BIGNUM *got = bn_of(out);
                        EXPECT_EQ(BN_cmp(got, z), 0) << signs << (sub ? " sub " : " add ") << ha << " " << hb;
                        EXPECT_TRUE(out->Length == 1 || out->Data[out->Length - 1] != 0);
                        EXPECT_FALSE(BN_is_zero(z) && out->Sign);
                        for (BIGNUM *t : {x, y, z, got}) BN_free(t);
                        WJ_BigInt_Free(a);
                        WJ_BigInt_Free(b);
                    }
    // The result may be one of the inputs.
    WJ_BigInt *a = big("fffffffff0"), *m = big("0100000000000000000000000000000001");
    ASSERT_EQ(WJ_BigInt_Add(a, a, a), 0);
    EXPECT_EQ(hex_of(a), "01ffffffffe0");
    ASSERT_EQ(WJ_BigInt_ModExp(a, a, a, m), 0);
    EXPECT_LT(WJ_BigInt_Cmp(a, m), 0);
    WJ_BigInt_Free(a);
    WJ_BigInt_Free(m);
    WJ_BigInt_Free(r);
    BN_CTX_free(ctx);
}

TEST(CryptoBigIntArith, RandomAndPrimes) {
    WJ_BigInt *r = WJ_BigInt_New(1);
    unsigned top_set = 0;
    for (int i = 0; i < 64; ++i) {
        ASSERT_EQ(WJ_BigInt_GenerateRandom(r, 77), 0);
        ASSERT_LE(WJ_BigInt_GetBitLength(r), 77u);
        top_set += WJ_BigInt_GetBitLength(r) == 77;
    }
    EXPECT_GT(top_set, 10u) << "the top bit is random, not forced or cleared";
    EXPECT_EQ(WJ_BigInt_GenerateRandom(r, 0), WJ_ERR_BAD_ARGUMENT);
    for (unsigned bits : {16u, 40u, 521u}) {
        ASSERT_EQ(WJ_BigInt_GenerateRandomPrime(r, bits), 0);
        EXPECT_EQ(WJ_BigInt_GetBitLength(r), bits);
        EXPECT_EQ(WJ_BigInt_IsPrime(r), 1);
        WJ_BigInt *one = big("01"), *s = WJ_BigInt_New(1);
        ASSERT_EQ(WJ_BigInt_Add(s, r, one), 0);
        EXPECT_EQ(WJ_BigInt_IsPrime(s), 0) << "p + 1 is even";
        WJ_BigInt_Free(one);
        WJ_BigInt_Free(s);
    }
    WJ_BigInt *c = big("d7b9afc104f4d53f737db88d6bf77e12cd7ec3d7");  // even: composite
    EXPECT_EQ(WJ_BigInt_IsPrime(c), 0);
    WJ_BigInt_Free(c);
    WJ_BigInt_Free(r);
}

// Keys made by OpenSSL read through our PKCS#1 decoders and encode back to the same DER; our
// DER is read by OpenSSL.
TEST(CryptoRsa, Pkcs1DerBothWays) {
    EVP_PKEY *k = shared_rsa();
    unsigned char *p = nullptr;
    int n = i2d_PrivateKey(k, &p);
    Bytes priv_der(p, p + n);
    OPENSSL_free(p);
    p = nullptr;
    n = i2d_PublicKey(k, &p);
    Bytes pub_der(p, p + n);
    OPENSSL_free(p);

    WJ_RSA_PrivateKey *priv = WJ_RSA_PrivateKey_New();
    ASSERT_EQ(WJ_PKCS1_PrivateKey_Decode(priv, priv_der.data(), static_cast<unsigned>(priv_der.size())), 0);
    Bytes again = call_out([&](unsigned char *o, unsigned *l) { return WJ_PKCS1_PrivateKey_Encode(o, l, priv); });
    EXPECT_EQ(hex(again), hex(priv_der));
    WJ_RSA_PublicKey *pub = WJ_RSA_PublicKey_New();
    ASSERT_EQ(WJ_PKCS1_PublicKey_Decode(pub, pub_der.data(), static_cast<unsigned>(pub_der.size())), 0);
    EXPECT_EQ(hex(call_out([&](unsigned char *o, unsigned *l) { return WJ_PKCS1_PublicKey_Encode(o, l, pub); })),
              hex(pub_der));

    // Trailing bytes after the key are ignored, as stored buffers carry them.
    Bytes padded = priv_der;
    padded.insert(padded.end(), 7, 0);
    EXPECT_EQ(WJ_PKCS1_PrivateKey_Decode(priv, padded.data(), static_cast<unsigned>(padded.size())), 0);

    struct Bad {
        const char *what;
        Bytes der;
        int want;
    };
    Bytes wrong_version = priv_der;
    wrong_version[wrong_version[1] == 0x82 ? 6 : 5] = 1;
    Bytes cut = priv_der;
    cut.resize(cut.size() / 2);
    std::vector<Bad> bad = {
        {"not a sequence", from_hex("310302010a"), WJ_ERR_BAD_DER},
        {"length past the end", cut, WJ_ERR_SHORT_INPUT},
        {"version 1", wrong_version, WJ_ERR_BAD_DER},
        {"public key as private", pub_der, WJ_ERR_BAD_DER},
        {"negative integer", from_hex("3006020180020103"), WJ_ERR_BAD_DER},
        {"indefinite length", from_hex("3080020101020101"), WJ_ERR_BAD_DER},
        {"empty", {0x30}, WJ_ERR_SHORT_INPUT},
    };
    for (const Bad &b : bad) {
        unsigned len = b.what == std::string("empty") ? 0 : static_cast<unsigned>(b.der.size());
        EXPECT_EQ(WJ_PKCS1_PrivateKey_Decode(priv, b.der.data(), len), b.want) << b.what;
    }
    EXPECT_EQ(WJ_PKCS1_PublicKey_Decode(pub, from_hex("3006020180020103").data(), 8), WJ_ERR_BAD_DER);
    EXPECT_EQ(WJ_PKCS1_PublicKey_Decode(pub, from_hex("300602010002010300").data(), 9), WJ_ERR_BAD_DER)
        << "a zero modulus, and content left over";
    EXPECT_EQ(WJ_PKCS1_PublicKey_Decode(nullptr, pub_der.data(), 10), WJ_ERR_BAD_ARGUMENT);
    WJ_RSA_PrivateKey_Free(priv);
    WJ_RSA_PublicKey_Free(pub);
}

// v1.5 signatures over every hash of the core: ours verify with OpenSSL (where it knows the
// hash) and with us; OpenSSL's verify with us; a flipped bit fails; the raw form has no
// DigestInfo.
TEST(CryptoRsa, V15SignaturesAgreeWithOpenssl) {
    EVP_PKEY *k = shared_rsa();
    WJ_RSA_PrivateKey *priv = rsa_private_of(k);
    WJ_RSA_PublicKey *pub = rsa_public_of(k);
    Bytes msg = pattern(100);
    struct H {
        int alg;
        const char *ossl;
    } hashes[] = {{WJ_HASH_MD2, nullptr},     {WJ_HASH_MD5, "MD5"},       {WJ_HASH_SHA1, "SHA1"},
                  {WJ_HASH_HAS160, nullptr},  {WJ_HASH_SHA224, "SHA224"}, {WJ_HASH_SHA256, "SHA256"},
                  {WJ_HASH_SHA384, "SHA384"}, {WJ_HASH_SHA512, "SHA512"}, {WJ_HASH_RIPEMD160, "RIPEMD160"}};
    for (const H &h : hashes) {
        Bytes d = core_hash(h.alg, msg);
        Bytes sig = call_out([&](unsigned char *o, unsigned *l) {
            return WJ_PKCS1_V15_Sign(o, l, h.alg, d.data(), (unsigned)d.size(), priv);
        });
        ASSERT_EQ(sig.size(), 256u) << h.alg;
        EXPECT_EQ(WJ_PKCS1_V15_Verify(sig.data(), 256, h.alg, d.data(), (unsigned)d.size(), pub), 0) << h.alg;
        // The recovered block ends with the digest behind a DigestInfo.
        Bytes rec(256);
        size_t rn = rec.size();
        ossl_op(
            k, EVP_PKEY_verify_recover_init, [](EVP_PKEY_CTX *) { return true; },
            [&](EVP_PKEY_CTX *c) { return EVP_PKEY_verify_recover(c, rec.data(), &rn, sig.data(), sig.size()); });
        ASSERT_GT(rn, d.size());
        EXPECT_EQ(rec[0], 0x30);
        EXPECT_EQ(hex(Bytes(rec.begin() + (long)(rn - d.size()), rec.begin() + (long)rn)), hex(d)) << h.alg;
        if (h.ossl && md(h.ossl)) {
            int ok = ossl_op(
                k, EVP_PKEY_verify_init,
                [&](EVP_PKEY_CTX *c) { return EVP_PKEY_CTX_set_signature_md(c, md(h.ossl)) == 1; },
                [&](EVP_PKEY_CTX *c) { return EVP_PKEY_verify(c, sig.data(), sig.size(), d.data(), d.size()); });
            EXPECT_EQ(ok, 1) << h.ossl;
            Bytes theirs(256);
            size_t tn = theirs.size();
            ossl_op(
                k, EVP_PKEY_sign_init,
                [&](EVP_PKEY_CTX *c) { return EVP_PKEY_CTX_set_signature_md(c, md(h.ossl)) == 1; },
                [&](EVP_PKEY_CTX *c) { return EVP_PKEY_sign(c, theirs.data(), &tn, d.data(), d.size()); });
            EXPECT_EQ(hex(theirs), hex(sig)) << "v1.5 is deterministic: " << h.ossl;
        }
        sig[100] ^= 0x10;
        EXPECT_EQ(WJ_PKCS1_V15_Verify(sig.data(), 256, h.alg, d.data(), (unsigned)d.size(), pub), WJ_ERR_RSA_VERIFY);
    }
    // Raw form: the data itself inside the padding.
    Bytes data = pattern(36, 4);
    Bytes sig =
        call_out([&](unsigned char *o, unsigned *l) { return WJ_PKCS1_V15_Sign(o, l, -1, data.data(), 36, priv); });
    EXPECT_EQ(WJ_PKCS1_V15_Verify(sig.data(), 256, -1, data.data(), 36, pub), 0);
    EXPECT_EQ(WJ_PKCS1_V15_Verify(sig.data(), 256, WJ_HASH_SHA1, data.data(), 20, pub), WJ_ERR_RSA_VERIFY);
    Bytes big_data(246);
    unsigned n = 256;
    Bytes out(256);
    EXPECT_EQ(WJ_PKCS1_V15_Sign(out.data(), &n, -1, big_data.data(), 246, priv), WJ_ERR_BAD_ARGUMENT);
    EXPECT_EQ(WJ_PKCS1_V15_Sign(out.data(), &n, WJ_HASH_SHA256, data.data(), 36, priv), WJ_ERR_BAD_ARGUMENT)
        << "a digest of the wrong length";
    n = 100;
    EXPECT_EQ(WJ_PKCS1_V15_Sign(out.data(), &n, -1, data.data(), 36, priv), WJ_ERR_BUFFER_SMALL);
    EXPECT_EQ(WJ_PKCS1_V15_Verify(sig.data(), 257, -1, data.data(), 36, pub), WJ_ERR_RSA_VERIFY);
    // A signature with its leading zero byte dropped still verifies.
    for (int tries = 0; tries < 400; ++tries) {
        Bytes dd = pattern(36, 100 + tries);
        Bytes s =
            call_out([&](unsigned char *o, unsigned *l) { return WJ_PKCS1_V15_Sign(o, l, -1, dd.data(), 36, priv); });
        if (s[0] != 0) continue;
        EXPECT_EQ(WJ_PKCS1_V15_Verify(s.data() + 1, 255, -1, dd.data(), 36, pub), 0);
        break;
    }
    WJ_RSA_PrivateKey_Free(priv);
    WJ_RSA_PublicKey_Free(pub);
}

TEST(CryptoRsa, PssAndOaepAgreeWithOpenssl) {
    EVP_PKEY *k = shared_rsa();
    WJ_RSA_PrivateKey *priv = rsa_private_of(k);
    WJ_RSA_PublicKey *pub = rsa_public_of(k);
    struct Case {
        int hash, mgf;
        const char *md, *mgf_md;
    } cases[] = {{WJ_HASH_SHA256, WJ_MGF1_SAME_HASH, "SHA256", "SHA256"},
                 {WJ_HASH_SHA1, WJ_MGF1_SAME_HASH, "SHA1", "SHA1"},
                 {WJ_HASH_SHA384, WJ_MGF1_SHA256, "SHA384", "SHA256"},
                 {WJ_HASH_SHA512, WJ_MGF1_SHA1, "SHA512", "SHA1"},
                 {WJ_HASH_SHA224, WJ_MGF1_SHA512, "SHA224", "SHA512"}};
    for (const Case &c : cases) {
        Bytes d = digest(c.md, pattern(50, c.hash));
        WJ_PSS_PARAM pp{c.hash, c.mgf};
        Bytes sig = call_out([&](unsigned char *o, unsigned *l) {
            return WJ_PKCS1_PSS_Sign(o, l, d.data(), (unsigned)d.size(), &pp, priv);
        });
        auto pss = [&](EVP_PKEY_CTX *x) {
            return EVP_PKEY_CTX_set_rsa_padding(x, RSA_PKCS1_PSS_PADDING) == 1 &&
                   EVP_PKEY_CTX_set_signature_md(x, md(c.md)) == 1 &&
                   EVP_PKEY_CTX_set_rsa_mgf1_md(x, md(c.mgf_md)) == 1 &&
                   EVP_PKEY_CTX_set_rsa_pss_saltlen(x, RSA_PSS_SALTLEN_AUTO) == 1;
        };
        EXPECT_EQ(
            ossl_op(k, EVP_PKEY_verify_init, pss,
                    [&](EVP_PKEY_CTX *x) { return EVP_PKEY_verify(x, sig.data(), sig.size(), d.data(), d.size()); }),
            1)
            << c.md;
        // Theirs, with a salt of the largest length, verifies with us.
        Bytes theirs(256);
        size_t tn = theirs.size();
        ossl_op(
            k, EVP_PKEY_sign_init,
            [&](EVP_PKEY_CTX *x) { return pss(x) && EVP_PKEY_CTX_set_rsa_pss_saltlen(x, RSA_PSS_SALTLEN_MAX) == 1; },
            [&](EVP_PKEY_CTX *x) { return EVP_PKEY_sign(x, theirs.data(), &tn, d.data(), d.size()); });
        EXPECT_EQ(WJ_PKCS1_PSS_Verify(theirs.data(), (unsigned)tn, d.data(), (unsigned)d.size(), &pp, pub), 0) << c.md;
        theirs[5] ^= 1;
        EXPECT_EQ(WJ_PKCS1_PSS_Verify(theirs.data(), (unsigned)tn, d.data(), (unsigned)d.size(), &pp, pub),
                  WJ_ERR_RSA_VERIFY);
        WJ_PSS_PARAM other{c.hash, std::string(c.mgf_md) == "SHA512" ? WJ_MGF1_SHA1 : WJ_MGF1_SHA512};
        EXPECT_EQ(WJ_PKCS1_PSS_Verify(sig.data(), 256, d.data(), (unsigned)d.size(), &other, pub), WJ_ERR_RSA_VERIFY)
            << "another mask function";

        // OAEP both ways, with a label.
        Bytes label = pattern(11, 3), pt = pattern(40, 5);
        WJ_OAEP_PARAM op{c.hash, c.mgf, label.data(), (unsigned)label.size()};
        Bytes ct = call_out([&](unsigned char *o, unsigned *l) {
            return WJ_PKCS1_OAEP_Encrypt(o, l, pt.data(), (unsigned)pt.size(), &op, pub);
        });
        auto oaep = [&](EVP_PKEY_CTX *x) {
            unsigned char *l = static_cast<unsigned char *>(OPENSSL_memdup(label.data(), label.size()));
            return EVP_PKEY_CTX_set_rsa_padding(x, RSA_PKCS1_OAEP_PADDING) == 1 &&
                   EVP_PKEY_CTX_set_rsa_oaep_md(x, md(c.md)) == 1 &&
                   EVP_PKEY_CTX_set_rsa_mgf1_md(x, md(c.mgf_md)) == 1 &&
                   EVP_PKEY_CTX_set0_rsa_oaep_label(x, l, (int)label.size()) == 1;
        };
        Bytes back(256);
        size_t bn = back.size();
        ASSERT_EQ(ossl_op(k, EVP_PKEY_decrypt_init, oaep,
                          [&](EVP_PKEY_CTX *x) { return EVP_PKEY_decrypt(x, back.data(), &bn, ct.data(), ct.size()); }),
                  1)
            << c.md;
        back.resize(bn);
        EXPECT_EQ(hex(back), hex(pt));
        Bytes ct2(256);
        size_t cn = ct2.size();
        ossl_op(k, EVP_PKEY_encrypt_init, oaep,
                [&](EVP_PKEY_CTX *x) { return EVP_PKEY_encrypt(x, ct2.data(), &cn, pt.data(), pt.size()); });
        Bytes mine = call_out([&](unsigned char *o, unsigned *l) {
            return WJ_PKCS1_OAEP_Decrypt(o, l, ct2.data(), (unsigned)cn, &op, priv);
        });
        EXPECT_EQ(hex(mine), hex(pt));
        WJ_OAEP_PARAM no_label{c.hash, c.mgf, nullptr, 0};
        unsigned n = 256;
        EXPECT_EQ(WJ_PKCS1_OAEP_Decrypt(back.data(), &n, ct2.data(), (unsigned)cn, &no_label, priv),
                  WJ_ERR_DECRYPT_FAILED);
    }
    WJ_PSS_PARAM md2{WJ_HASH_MD2, 1}, badmgf{WJ_HASH_SHA256, 6};
    Bytes d(32), out(256);
    unsigned n = 256;
    EXPECT_EQ(WJ_PKCS1_PSS_Sign(out.data(), &n, d.data(), 16, &md2, priv), WJ_ERR_UNKNOWN_ID);
    EXPECT_EQ(WJ_PKCS1_PSS_Sign(out.data(), &n, d.data(), 32, &badmgf, priv), WJ_ERR_UNKNOWN_ID);
    WJ_RSA_PrivateKey_Free(priv);
    WJ_RSA_PublicKey_Free(pub);
}

TEST(CryptoRsa, V15EncryptionAndRawOperations) {
    EVP_PKEY *k = shared_rsa();
    WJ_RSA_PrivateKey *priv = rsa_private_of(k);
    WJ_RSA_PublicKey *pub = rsa_public_of(k);
    for (size_t len : {0, 1, 100, 245}) {
        Bytes pt = pattern(len, 9);
        Bytes ct = call_out(
            [&](unsigned char *o, unsigned *l) { return WJ_PKCS1_V15_Encrypt(o, l, pt.data(), (unsigned)len, pub); });
        ASSERT_EQ(ct.size(), 256u);
        Bytes back(256);
        size_t bn = back.size();
        ASSERT_EQ(ossl_op(
                      k, EVP_PKEY_decrypt_init, [](EVP_PKEY_CTX *) { return true; },
                      [&](EVP_PKEY_CTX *x) { return EVP_PKEY_decrypt(x, back.data(), &bn, ct.data(), ct.size()); }),
                  1);
        EXPECT_EQ(bn, len);
        Bytes mine =
            call_out([&](unsigned char *o, unsigned *l) { return WJ_PKCS1_V15_Decrypt(o, l, ct.data(), 256, priv); });
        EXPECT_EQ(hex(mine), hex(pt));
    }
    Bytes too_long(246), out(256);
    unsigned n = 256;
    EXPECT_EQ(WJ_PKCS1_V15_Encrypt(out.data(), &n, too_long.data(), 246, pub), WJ_ERR_BAD_ARGUMENT);
    Bytes junk = pattern(256, 2);
    junk[0] = 0;
    EXPECT_EQ(WJ_PKCS1_V15_Decrypt(out.data(), &n, junk.data(), 256, priv), WJ_ERR_DECRYPT_FAILED);

    // Raw: (m^d)^e = m, and m^e agrees with BN_mod_exp.
    Bytes m = pattern(200, 3);
    Bytes s = call_out([&](unsigned char *o, unsigned *l) { return WJ_RSA_PrivateKeyExp(o, l, m.data(), 200, priv); });
    ASSERT_EQ(s.size(), 256u);
    Bytes back = call_out([&](unsigned char *o, unsigned *l) { return WJ_RSA_PublicKeyExp(o, l, s.data(), 256, pub); });
    Bytes padded(56, 0);
    padded.insert(padded.end(), m.begin(), m.end());
    EXPECT_EQ(hex(back), hex(padded)) << "written as the modulus length";
    BIGNUM *bm = BN_bin2bn(m.data(), 200, nullptr), *bn_e = bn_of(pub->e), *bn_n = bn_of(pub->n), *c = BN_new();
    BN_CTX *ctx = BN_CTX_new();
    BN_mod_exp(c, bm, bn_e, bn_n, ctx);
    Bytes want(256);
    BN_bn2binpad(c, want.data(), 256);
    EXPECT_EQ(
        hex(call_out([&](unsigned char *o, unsigned *l) { return WJ_RSA_PublicKeyExp(o, l, m.data(), 200, pub); })),
        hex(want));
    Bytes nbytes = bytes_of(pub->n);
    EXPECT_EQ(WJ_RSA_PublicKeyExp(out.data(), &n, nbytes.data(), 256, pub), WJ_ERR_BAD_ARGUMENT) << "n is not below n";
    BN_free(bm);
    BN_free(bn_e);
    BN_free(bn_n);
    BN_free(c);
    BN_CTX_free(ctx);
    WJ_RSA_PrivateKey_Free(priv);
    WJ_RSA_PublicKey_Free(pub);
}

// Generated keys are consistent and sized; a record whose values are replaced uses the new key,
// not the cached one; a private key without CRT values still signs.
TEST(CryptoRsa, GenerationAndChangedValues) {
    WJ_RSA_PrivateKey *a = WJ_RSA_PrivateKey_New();
    WJ_RSA_PublicKey *apub = WJ_RSA_PublicKey_New();
    ASSERT_EQ(WJ_RSA_GenerateKey(a, apub, 128, 0), 0);
    EXPECT_EQ(WJ_BigInt_GetBitLength(a->n), 1024u);
    EXPECT_EQ(hex_of(a->e), "010001");
    EXPECT_EQ(WJ_BigInt_Cmp(a->n, apub->n), 0);
    WJ_BigInt *pq = WJ_BigInt_New(1);
    ASSERT_EQ(WJ_BigInt_Mul(pq, a->p, a->q), 0);
    EXPECT_EQ(WJ_BigInt_Cmp(pq, a->n), 0);
    WJ_BigInt_Free(pq);
    EXPECT_EQ(WJ_RSA_GenerateKey(a, nullptr, 63, 0), WJ_ERR_BAD_ARGUMENT);
    EXPECT_EQ(WJ_RSA_GenerateKey(a, nullptr, 128, 4), WJ_ERR_BAD_ARGUMENT);

    Bytes d = pattern(20);
    Bytes sig =
        call_out([&](unsigned char *o, unsigned *l) { return WJ_PKCS1_V15_Sign(o, l, WJ_HASH_SHA1, d.data(), 20, a); });
    ASSERT_EQ(WJ_PKCS1_V15_Verify(sig.data(), 128, WJ_HASH_SHA1, d.data(), 20, apub), 0);

    WJ_RSA_PrivateKey *b = WJ_RSA_PrivateKey_New();
    WJ_RSA_PublicKey *bpub = WJ_RSA_PublicKey_New();
    ASSERT_EQ(WJ_RSA_GenerateKey(b, bpub, 128, 3), 0);
    EXPECT_EQ(hex_of(b->e), "03");
    // Overwrite a's values with b's: the next signature is b's.
    for (auto f : {&WJ_RSA_PrivateKey::n, &WJ_RSA_PrivateKey::e, &WJ_RSA_PrivateKey::d, &WJ_RSA_PrivateKey::p,
                   &WJ_RSA_PrivateKey::q, &WJ_RSA_PrivateKey::dP, &WJ_RSA_PrivateKey::dQ, &WJ_RSA_PrivateKey::qInv})
        ASSERT_EQ(WJ_BigInt_Copy(a->*f, b->*f), 0);
    Bytes sig2 =
        call_out([&](unsigned char *o, unsigned *l) { return WJ_PKCS1_V15_Sign(o, l, WJ_HASH_SHA1, d.data(), 20, a); });
    EXPECT_EQ(WJ_PKCS1_V15_Verify(sig2.data(), 128, WJ_HASH_SHA1, d.data(), 20, bpub), 0);
    ASSERT_EQ(WJ_BigInt_Copy(apub->n, bpub->n), 0);
    ASSERT_EQ(WJ_BigInt_Copy(apub->e, bpub->e), 0);
    EXPECT_EQ(WJ_PKCS1_V15_Verify(sig.data(), 128, WJ_HASH_SHA1, d.data(), 20, apub), WJ_ERR_RSA_VERIFY);
    EXPECT_EQ(WJ_PKCS1_V15_Verify(sig2.data(), 128, WJ_HASH_SHA1, d.data(), 20, apub), 0);

    for (WJ_BigInt *z : {b->p, b->q, b->dP, b->dQ, b->qInv}) WJ_BigInt_Reset(z);
    Bytes sig3 =
        call_out([&](unsigned char *o, unsigned *l) { return WJ_PKCS1_V15_Sign(o, l, WJ_HASH_SHA1, d.data(), 20, b); });
    EXPECT_EQ(hex(sig3), hex(sig2)) << "without the CRT values the same signature";
    WJ_RSA_PrivateKey *empty = WJ_RSA_PrivateKey_New();
    unsigned n = 128;
    Bytes out(128);
    EXPECT_EQ(WJ_PKCS1_V15_Sign(out.data(), &n, WJ_HASH_SHA1, d.data(), 20, empty), WJ_ERR_BAD_ARGUMENT);
    EXPECT_EQ(WJ_PKCS1_V15_Sign(out.data(), &n, WJ_HASH_SHA1, d.data(), 20, nullptr), WJ_ERR_BAD_ARGUMENT);
    WJ_RSA_PrivateKey_Free(empty);
    WJ_RSA_PrivateKey_Free(a);
    WJ_RSA_PrivateKey_Free(b);
    WJ_RSA_PublicKey_Free(apub);
    WJ_RSA_PublicKey_Free(bpub);
}
