// The generic public-key interface: binary key forms of every algorithm round-trip, every
// signature number signs and verifies (message and hash forms agree), RSA encryption by
// operation number, and the refusals for mismatched keys and numbers.
#include <atomic>
#include <thread>

#include "pk_test_util.hpp"

using namespace pktest;

namespace {

struct Pair {
    WJC_PKEY_PRIVATE_KEY *priv = WJC_PKEY_PrivateKey_New();
    WJC_PKEY_PUBLIC_KEY *pub = WJC_PKEY_PublicKey_New();
    ~Pair() {
        WJC_PKEY_PrivateKey_Free(priv);
        WJC_PKEY_PublicKey_Free(pub);
    }
};

void make_pair(Pair &kp, int alg, const WJC_PKEY_GENPARAM &gen) {
    if (alg == WJ_PKEY_RSA) {
        WJC_PKEY_RSA_GENPARAM rsa{1024, 0};
        ASSERT_EQ(WJC_PKEY_GenerateKeyPair(kp.priv, kp.pub, alg, nullptr, &rsa), 0);
        return;
    }
    WJC_PKEY_PARAMETERS *params = WJC_PKEY_Parameters_New();
    ASSERT_EQ(WJC_PKEY_GenerateParameters(params, alg, &gen), 0) << alg;
    EXPECT_EQ(WJC_PKEY_Parameters_GetAlgorithm(params), alg);
    ASSERT_EQ(WJC_PKEY_GenerateKeyPair(kp.priv, kp.pub, alg, params, nullptr), 0) << alg;
    WJC_PKEY_Parameters_Free(params);
}

Bytes pub_bin(const WJC_PKEY_PUBLIC_KEY *k) {
    return call_out([&](unsigned char *o, unsigned *l) { return WJC_PKEY_PublicKey_ToBinary(o, l, k); });
}
Bytes priv_bin(const WJC_PKEY_PRIVATE_KEY *k) {
    return call_out([&](unsigned char *o, unsigned *l) { return WJC_PKEY_PrivateKey_ToBinary(o, l, k); });
}

Bytes sign(int hashed, const Bytes &data, int alg, const WJC_PKEY_PRIVATE_KEY *k, const WJ_PSS_PARAM *pss = nullptr,
           int want = 0) {
    Bytes out(2048);
    unsigned n = (unsigned)out.size();
    EXPECT_EQ(WJC_PKEY_Sign(out.data(), &n, hashed, data.data(), (unsigned)data.size(), alg, k, nullptr, pss), want)
        << "signature " << alg;
    out.resize(want ? 0 : n);
    return out;
}

int verify(const Bytes &sig, int hashed, const Bytes &data, int alg, const WJC_PKEY_PUBLIC_KEY *k,
           const WJ_PSS_PARAM *pss = nullptr) {
    return WJC_PKEY_Verify(sig.data(), (unsigned)sig.size(), hashed, data.data(), (unsigned)data.size(), alg, k,
                           nullptr, pss);
}

}  // namespace

TEST(CryptoGeneric, BinaryFormsOfEveryAlgorithm) {
    struct Case {
        int alg;
        WJC_PKEY_GENPARAM gen;
    } cases[] = {{WJ_PKEY_RSA, {}},
                 {WJ_PKEY_DH, {1024, 160, 0}},
                 {WJ_PKEY_DSA, {1024, 160, 0}},
                 {WJ_PKEY_KCDSA, {1024, 160, 0}},
                 {WJ_PKEY_ECDSA, {0, 0, WJ_EC_CURVE_P256}},
                 {WJ_PKEY_ECKCDSA, {0, 0, WJ_EC_CURVE_B233}}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.alg);
        Pair kp;
        make_pair(kp, c.alg, c.gen);
        EXPECT_EQ(WJC_PKEY_PublicKey_GetAlgorithm(kp.pub), c.alg);
        EXPECT_EQ(WJC_PKEY_PrivateKey_GetAlgorithm(kp.priv), c.alg);
        Bytes pb = pub_bin(kp.pub), sb = priv_bin(kp.priv);
        ASSERT_FALSE(pb.empty());
        EXPECT_LE(sb.size(), 2048u);
        Pair back;
        ASSERT_EQ(WJC_PKEY_PublicKey_FromBinary(back.pub, c.alg, pb.data(), (unsigned)pb.size()), 0);
        ASSERT_EQ(WJC_PKEY_PrivateKey_FromBinary(back.priv, c.alg, sb.data(), (unsigned)sb.size()), 0);
        EXPECT_EQ(hex(pub_bin(back.pub)), hex(pb));
        EXPECT_EQ(hex(priv_bin(back.priv)), hex(sb));
        if (c.alg != WJ_PKEY_RSA) {
            int other = c.alg == WJ_PKEY_DSA ? WJ_PKEY_KCDSA : WJ_PKEY_DSA;
            EXPECT_EQ(WJC_PKEY_PublicKey_FromBinary(back.pub, other, pb.data(), (unsigned)pb.size()),
                      WJ_ERR_BAD_ARGUMENT)
                << "the form names its algorithm";
            EXPECT_NE(WJC_PKEY_PrivateKey_FromBinary(back.priv, c.alg, pb.data(), (unsigned)pb.size()), 0)
                << "a public form is no private key";
            Bytes cut(sb.begin(), sb.end() - 3);
            EXPECT_NE(WJC_PKEY_PrivateKey_FromBinary(back.priv, c.alg, cut.data(), (unsigned)cut.size()), 0);
            EXPECT_EQ(hex(priv_bin(back.priv)), hex(sb)) << "a failed read keeps the key";
        }
    }
    Pair empty;
    unsigned n = 0;
    EXPECT_EQ(WJC_PKEY_PublicKey_ToBinary(nullptr, &n, empty.pub), WJ_ERR_BAD_ARGUMENT);
    WJC_PKEY_PARAMETERS *p = WJC_PKEY_Parameters_New();
    WJC_PKEY_GENPARAM g{0, 0, 0};
    EXPECT_EQ(WJC_PKEY_GenerateParameters(p, WJ_PKEY_RSA, &g), WJ_ERR_UNKNOWN_ID);
    EXPECT_EQ(WJC_PKEY_GenerateParameters(p, WJ_PKEY_ECDSA, &g), WJ_ERR_UNKNOWN_ID);
    WJC_PKEY_Parameters_Free(p);
}

TEST(CryptoGeneric, EverySignatureNumber) {
    Pair rsa, kc, ekc;
    make_pair(rsa, WJ_PKEY_RSA, {});
    make_pair(kc, WJ_PKEY_KCDSA, {2048, 224, 0});
    make_pair(ekc, WJ_PKEY_ECKCDSA, {0, 0, WJ_EC_CURVE_P256});
    Bytes msg = pattern(300);
    struct Case {
        int alg;
        Pair *kp;
        int hash;  // for the hash form: the value a signer would have computed
    } cases[] = {
        {1, &rsa, WJ_HASH_MD2},     {2, &rsa, WJ_HASH_MD5},     {3, &rsa, WJ_HASH_SHA1},    {4, &rsa, WJ_HASH_SHA256},
        {5, &rsa, WJ_HASH_SHA384},  {6, &rsa, WJ_HASH_SHA512},  {10, &rsa, WJ_HASH_HAS160}, {16, &kc, WJ_HASH_SHA1},
        {17, &kc, WJ_HASH_HAS160},  {18, &kc, WJ_HASH_SHA256},  {19, &kc, WJ_HASH_SHA384},  {20, &kc, WJ_HASH_SHA512},
        {21, &kc, WJ_HASH_SHA224},  {22, &ekc, WJ_HASH_SHA1},   {23, &ekc, WJ_HASH_HAS160}, {24, &ekc, WJ_HASH_SHA224},
        {25, &ekc, WJ_HASH_SHA256}, {26, &ekc, WJ_HASH_SHA384}, {27, &ekc, WJ_HASH_SHA512},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.alg);
        Bytes sig = sign(0, msg, c.alg, c.kp->priv);
        ASSERT_FALSE(sig.empty());
        EXPECT_EQ(verify(sig, 0, msg, c.alg, c.kp->pub), 0);
        // The hash form of the same value.
        Bytes h(WJ_HASH_MAX_LENGTH);
        unsigned hn = (unsigned)h.size();
        if (c.kp == &rsa) {  // (the KCDSA family's hash form is checked through the provider)
            ASSERT_EQ(WJ_Hash(h.data(), &hn, msg.data(), (unsigned)msg.size(), c.hash), 0);
            h.resize(hn);
            EXPECT_EQ(verify(sig, 1, h, c.alg, c.kp->pub), 0);
            Bytes sig2 = sign(1, h, c.alg, c.kp->priv);
            EXPECT_EQ(hex(sig2), hex(sig)) << "v1.5 is deterministic";
        }
        Bytes other = msg;
        other[10] ^= 1;
        int fail = c.kp == &rsa ? WJ_ERR_RSA_VERIFY : c.kp == &kc ? WJ_ERR_KCDSA_VERIFY : WJ_ERR_ECKCDSA_VERIFY;
        EXPECT_EQ(verify(sig, 0, other, c.alg, c.kp->pub), fail);
        Bytes junk(sig.size(), 0x30);
        EXPECT_EQ(verify(junk, 0, msg, c.alg, c.kp->pub), fail);
    }
    // PSS numbers take the hash from the PSS parameters; the raw form signs given data only.
    WJ_PSS_PARAM pss{WJ_HASH_SHA256, WJ_MGF1_SHA1};
    for (int alg : {11, 31, 32, 33, 34}) {
        Bytes sig = sign(0, msg, alg, rsa.priv, &pss);
        EXPECT_EQ(verify(sig, 0, msg, alg, rsa.pub, &pss), 0) << alg;
    }
    sign(0, msg, 11, rsa.priv, nullptr, WJ_ERR_BAD_ARGUMENT);
    Bytes data = pattern(40, 3);
    Bytes raw = sign(1, data, 9, rsa.priv);
    EXPECT_EQ(verify(raw, 1, data, 9, rsa.pub), 0);
    sign(0, data, 9, rsa.priv, nullptr, WJ_ERR_BAD_ARGUMENT);
    // Keys of another algorithm and unknown numbers.
    sign(0, msg, 16, rsa.priv, nullptr, WJ_ERR_BAD_ARGUMENT);
    sign(0, msg, 3, kc.priv, nullptr, WJ_ERR_BAD_ARGUMENT);
    sign(0, msg, 22, kc.priv, nullptr, WJ_ERR_BAD_ARGUMENT);
    sign(0, msg, 15, rsa.priv, nullptr, WJ_ERR_UNKNOWN_ID);
    sign(0, msg, 7, rsa.priv, nullptr, WJ_ERR_UNKNOWN_ID);

    // Encryption by operation number.
    Bytes pt = pattern(50, 8), ct(128), back(128);
    WJ_OAEP_PARAM oaep{WJ_HASH_SHA1, WJ_MGF1_SAME_HASH, nullptr, 0};
    for (int op : {WJC_PKEY_ENC_V15, WJC_PKEY_ENC_OAEP}) {
        unsigned cn = 128, bn = 128;
        ASSERT_EQ(WJC_PKEY_Encrypt(ct.data(), &cn, pt.data(), 50, op, &oaep, rsa.pub), 0) << op;
        ASSERT_EQ(WJC_PKEY_Decrypt(back.data(), &bn, ct.data(), cn, op, &oaep, rsa.priv), 0) << op;
        EXPECT_EQ(hex(Bytes(back.begin(), back.begin() + bn)), hex(pt));
    }
    unsigned cn = 128;
    EXPECT_EQ(WJC_PKEY_Encrypt(ct.data(), &cn, pt.data(), 50, 2, &oaep, rsa.pub), WJ_ERR_UNKNOWN_ID);
    EXPECT_EQ(WJC_PKEY_Encrypt(ct.data(), &cn, pt.data(), 50, 1, nullptr, kc.pub), WJ_ERR_BAD_ARGUMENT);
}

// Key records shared by threads: their cached key objects and operation contexts are handed out
// safely, and every signature made and checked concurrently is right.
TEST(CryptoThreads, SharedKeyRecords) {
    WJ_RSA_PrivateKey *priv = WJ_RSA_PrivateKey_New();
    WJ_RSA_PublicKey *pub = WJ_RSA_PublicKey_New();
    ASSERT_EQ(WJ_RSA_GenerateKey(priv, pub, 128, 0), 0);
    WJ_EC_Parameters *ec = WJ_ECDSA_Parameters_New();
    ASSERT_EQ(WJ_ECDSA_Parameters_SetCurve(ec, WJ_EC_CURVE_P256), 0);
    WJ_EC_POINT *q = WJ_EC_Point_New(ec);
    WJ_BigInt *d = WJ_BigInt_New(1);
    ASSERT_EQ(WJ_ECDSA_GenerateKey(d, q, ec), 0);
    std::atomic<int> failures{0};
    auto work = [&](int seed) {
        Bytes dg = pattern(32, (unsigned)seed);
        WJ_ECDSA_Signature *sig = WJ_ECDSA_Signature_New();
        for (int i = 0; i < 40; ++i) {
            unsigned char s[128];
            unsigned n = sizeof s;
            if (WJ_PKCS1_V15_Sign(s, &n, WJ_HASH_SHA256, dg.data(), 32, priv) ||
                WJ_PKCS1_V15_Verify(s, n, WJ_HASH_SHA256, dg.data(), 32, pub))
                ++failures;
            if (WJ_ECDSA_Sign(sig, dg.data(), 32, d, ec) || WJ_ECDSA_Verify(sig, dg.data(), 32, q, ec)) ++failures;
            dg[0] ^= 1;
            if (WJ_ECDSA_Verify(sig, dg.data(), 32, q, ec) != WJ_ERR_ECDSA_VERIFY) ++failures;
        }
        WJ_ECDSA_Signature_Free(sig);
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) threads.emplace_back(work, t);
    for (auto &t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
    WJ_BigInt_Free(d);
    WJ_EC_Point_Free(q);
    WJ_ECDSA_Parameters_Free(ec);
    WJ_RSA_PrivateKey_Free(priv);
    WJ_RSA_PublicKey_Free(pub);
}
