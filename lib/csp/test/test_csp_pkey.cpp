// The provider's public-key half through its header: every signature identifier signs and
// verifies, the KCDSA Z conventions, the edge cases of the public-key part in one table, key
// and parameter generation with key-pair proof, Diffie-Hellman, encryption, the message forms,
// the trace records, and the cache of decoded keys.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <thread>

#include "csp_pkey_util.hpp"

using namespace csptest;

namespace {

BIN bin(const Bytes &b) { return view(b); }

int verify(const Bytes &sig, const Bytes &data, const Bytes &pub, int id, ZQ_CSP_SignParam *p) {
    BIN s = bin(sig), d = bin(data), k = bin(pub);
    return QRT_CSP_VerifySignature(&s, &d, &k, id, p);
}

Bytes sign(const Bytes &data, const Bytes &priv, int id, ZQ_CSP_SignParam *p, int want = 0) {
    BIN d = bin(data), k = bin(priv);
    Out sig;
    EXPECT_EQ(QRT_CSP_ComputeSignature(&sig, &d, &k, id, p), want) << "signature id " << id;
    return sig.bytes();
}

Bytes hash_of(int hash_id, const Bytes &data) {
    BIN d = bin(data);
    Out h;
    EXPECT_EQ(QRT_CSP_Hash(&h, &d, hash_id), 0);
    return h.bytes();
}

std::vector<std::string> funcs_of_trace() {
    std::vector<std::string> out;
    for (const std::string &r : ostrel::test::trace_records()) out.push_back(ostrel::test::trace_field(r, 2));
    return out;
}

struct Gen {
    Out priv, pub;
};

// A generic key pair through the provider.
void gen_pair(Gen &g, int pkey, ZQ_CSP_GenKeyPairParam *p) {
    ASSERT_EQ(QRT_CSP_GenerateKeyPair(&g.priv, &g.pub, pkey, p), 0) << pkey;
}

}  // namespace

class CspPkey : public ::testing::Test {
  protected:
    void SetUp() override {
        QRT_Trace_Initialize();
        ostrel::test::trace_records();
    }
};

// Every digest-level signature identifier: sign, verify, and a flipped bit gives 6012.
TEST_F(CspPkey, EverySignatureIdentifier) {
    const RawKeys &rsa = rsa_keys();
    RawKeys dsa = make_dl(WJ_PKEY_DSA, dsa_params()), kc = make_dl(WJ_PKEY_KCDSA, kcdsa_params());
    RawKeys ec = make_ec(WJ_EC_CURVE_P256, false), ekc = make_ec(WJ_EC_CURVE_P224, true);
    Bytes msg = pattern(123);
    BIN dsa_p = bin(dsa.param), ec_p = bin(ec.param), kc_p = bin(kc.param), kc_y = bin(kc.pub);
    BIN ekc_p = bin(ekc.param), ekc_q = bin(ekc.pub);
    struct Case {
        int id;
        const RawKeys *k;
        int hash_id;  // digest the caller passes (0: the message itself)
    } cases[] = {
        {1, &rsa, 1},  {2, &rsa, 2}, {3, &rsa, 3},  {4, &rsa, 6},  {5, &rsa, 7},  {6, &rsa, 8},
        {10, &rsa, 4}, {9, &rsa, 0}, {11, &rsa, 6}, {31, &rsa, 6}, {34, &rsa, 6}, {15, &dsa, 3},
        {16, &ec, 6},  {41, &ec, 7}, {42, &ec, 8},  {21, &kc, 0},  {22, &kc, 0},  {27, &kc, 0},
        {28, &kc, 0},  {29, &kc, 0}, {23, &ekc, 0}, {24, &ekc, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.id);
        ZQ_CSP_SignParam p{};
        if (c.k == &rsa) {
            p.rsa_pss.hashID = 6;
            p.rsa_pss.mgfID = c.id == 34 ? 3 : 1;
        } else if (c.k == &dsa) {
            p.dsa.pkeyParam = &dsa_p;
        } else if (c.k == &ec) {
            p.ecdsa.pkeyParam = &ec_p;
        } else if (c.k == &kc) {
            p.kcdsa.pkeyParam = &kc_p;
            p.kcdsa.pubKey = &kc_y;
        } else {
            p.eckcdsa.pkeyParam = &ekc_p;
            p.eckcdsa.pubKey = &ekc_q;
        }
        Bytes data = c.hash_id ? hash_of(c.hash_id, msg) : Bytes(msg.begin(), msg.begin() + 40);
        Bytes sig = sign(data, c.k->priv, c.id, &p);
        ASSERT_FALSE(sig.empty());
        EXPECT_EQ(verify(sig, data, c.k->pub, c.id, &p), 0);
        sig[sig.size() / 2] ^= 0x04;
        int rc = verify(sig, data, c.k->pub, c.id, &p);
        // A flipped bit inside a DER value may leave it malformed: 6033 then.
        if (c.k == &rsa) {
            EXPECT_EQ(rc, QRT_CSP_INVALID_SIGNATURE);
        } else {
            EXPECT_TRUE(rc == QRT_CSP_INVALID_SIGNATURE || rc == QRT_CSP_BAD_SIGNATURE) << rc;
        }
        sig[sig.size() / 2] ^= 0x04;
        data[0] ^= 1;
        EXPECT_EQ(verify(sig, data, c.k->pub, c.id, &p), QRT_CSP_INVALID_SIGNATURE);
    }
    // ID 10 signs with HAS-160: the core verifies it as a HAS-160 v1.5 signature.
    Bytes d = hash_of(4, msg);
    Bytes sig = sign(d, rsa.priv, 10, nullptr);
    WJ_RSA_PublicKey *pk = WJ_RSA_PublicKey_New();
    ASSERT_EQ(WJ_PKCS1_PublicKey_Decode(pk, rsa.pub.data(), (unsigned)rsa.pub.size()), 0);
    EXPECT_EQ(WJ_PKCS1_V15_Verify(sig.data(), (unsigned)sig.size(), WJ_HASH_HAS160, d.data(), 20, pk), 0);
    EXPECT_EQ(WJ_PKCS1_V15_Verify(sig.data(), (unsigned)sig.size(), WJ_HASH_SHA1, d.data(), 20, pk), WJ_ERR_RSA_VERIFY);
    WJ_RSA_PublicKey_Free(pk);
}

// A KCDSA signature verifies whichever Z its signer took: y mod 2^l, the low 512 bits of y in
// 64 bytes, or those bits in their minimal length; any other Z gives 6012.
TEST_F(CspPkey, KcdsaZConventions) {
    const Bytes &param = kcdsa_params();
    RawKeys k;
    unsigned char z[64];
    BIN pb = bin(param);
    for (int tries = 0; tries < 4000; ++tries) {  // a y whose low 512 bits begin with a zero byte
        k = make_dl(WJ_PKEY_KCDSA, param);
        BIN y = bin(k.pub);
        Out zb;
        ASSERT_EQ(QRT_CSP_KCDSA_ComputeZ(&zb, nullptr, &y, &pb), 0);
        ASSERT_EQ(zb.b.length, 64u);
        std::memcpy(z, zb.b.value, 64);
        if (z[0] == 0 && z[1] != 0) break;
    }
    ASSERT_EQ(z[0], 0);
    Bytes msg = pattern(61, 4);
    BIN y = bin(k.pub);
    for (int hash_id : {8, 6}) {  // SHA-512: z = y mod 2^1024 differs from the 64-byte form
        int sig_id = hash_id == 8 ? 29 : 27;
        auto signed_with = [&](const Bytes &zform) {
            Bytes zm = zform;
            zm.insert(zm.end(), msg.begin(), msg.end());
            Bytes h = hash_of(hash_id, zm);
            BIN hb = bin(h);
            ZQ_CSP_SignParam p{};
            p.kcdsa.pkeyParam = &pb;
            p.kcdsa.pubKey = &y;
            p.kcdsa.hash = &hb;
            return sign(msg, k.priv, sig_id, &p);
        };
        ZQ_CSP_SignParam p{};
        p.kcdsa.pkeyParam = &pb;
        Bytes padded(z, z + 64), minimal(z + 1, z + 64), other(z, z + 63);
        EXPECT_EQ(verify(signed_with(padded), msg, k.pub, sig_id, &p), 0) << hash_id;
        EXPECT_EQ(verify(signed_with(minimal), msg, k.pub, sig_id, &p), 0) << hash_id;
        ostrel::test::trace_records();
        EXPECT_EQ(verify(signed_with(other), msg, k.pub, sig_id, &p), QRT_CSP_INVALID_SIGNATURE) << hash_id;
        auto f = funcs_of_trace();
        ASSERT_EQ(f.size(), 3u);
        EXPECT_EQ(f[0], "WJ_KCDSA_Verify");
        EXPECT_EQ(f[1], "QRT_CSP_KCDSA_Verify");
        EXPECT_EQ(f[2], "QRT_CSP_VerifySignature");
        // The caller's own hash value is taken as it is.
        Bytes zm(padded);
        zm.insert(zm.end(), msg.begin(), msg.end());
        Bytes h = hash_of(hash_id, zm);
        BIN hb = bin(h);
        p.kcdsa.hash = &hb;
        EXPECT_EQ(verify(signed_with(padded), msg, k.pub, sig_id, &p), 0);
        p.kcdsa.hash = nullptr;
        Bytes empty;
        EXPECT_EQ(verify(signed_with(other), empty, k.pub, sig_id, &p), QRT_CSP_CRYPTO_FAILED)
            << "an empty message cannot be tried with the other forms";
    }
    // Z of a y longer and shorter than 512 bits.
    Bytes yb = pattern(128, 6);
    yb[0] = 0x55;
    WJ_BigInt *big = WJ_BigInt_New(1);
    WJ_BigInt_BytesToInt(big, yb.data(), 128);
    Bytes yder = der_int(big);
    BIN ybin = bin(yder);
    Out zb;
    ASSERT_EQ(QRT_CSP_KCDSA_ComputeZ(&zb, nullptr, &ybin, &pb), 0);
    EXPECT_EQ(zb.hex(), hexs(Bytes(yb.end() - 64, yb.end())));
    WJ_BigInt_BytesToInt(big, yb.data(), 13);
    yder = der_int(big);
    ybin = bin(yder);
    Out zs;
    ASSERT_EQ(QRT_CSP_KCDSA_ComputeZ(&zs, nullptr, &ybin, &pb), 0);
    EXPECT_EQ(zs.hex(), std::string(102, '0') + hexs(Bytes(yb.begin(), yb.begin() + 13)));
    WJ_BigInt_Free(big);
    EXPECT_EQ(QRT_CSP_KCDSA_ComputeZ(&zs, nullptr, &ybin, nullptr), QRT_CSP_INVALID_INPUT);
}

// The edge cases of the public-key part, one row each.
TEST_F(CspPkey, EdgeCases) {
    RawKeys ec = make_ec(WJ_EC_CURVE_P256, false);
    const RawKeys &rsa = rsa_keys();
    BIN ec_p = bin(ec.param);
    ZQ_CSP_SignParam ep{};
    ep.ecdsa.pkeyParam = &ec_p;
    Bytes d16(16, 3), d20(20, 3);
    int len = 0;
    BIN pt = bin(ec.pub);
    Bytes comp(ec.pub.begin(), ec.pub.begin() + 33);
    comp[0] = 0x02;
    BIN cpt = bin(comp);
    Bytes inf = {0x00};
    BIN ipt = bin(inf), none{0, nullptr};
    Out a, b, c;
    BIN rsa_pub = bin(rsa.pub), rsa_priv = bin(rsa.priv), in20 = bin(d20);
    ZQ_CSP_PEncParam oaep{};
    oaep.rsa_oaep.hashID = 3;
    oaep.rsa_oaep.mgfID = 2;
    oaep.rsa_oaep.sourceID = 1;
    ZQ_CSP_DKeyParam dk{};
    RawKeys other = make_ec(WJ_EC_CURVE_P256, false);
    BIN opub = bin(other.pub), epriv = bin(ec.priv);
    struct Row {
        const char *what;
        std::function<int()> call;
        int want;
    } rows[] = {
        {"ECDSA with a 16-byte digest", [&] { return verify(d20, d16, ec.pub, 16, &ep); }, QRT_CSP_INVALID_INPUT},
        {"ECDSA signing a 16-byte digest",
         [&] {
             sign(d16, ec.priv, 16, &ep, QRT_CSP_INVALID_INPUT);
             return 0;
         },
         0},
        {"length of an uncompressed P-256 point", [&] { return QRT_CSP_GetKeyLength(&len, &pt, 5, nullptr) ?: len; },
         32},
        {"length of a compressed point", [&] { return QRT_CSP_GetKeyLength(&len, &cpt, 12, nullptr) ?: len; }, 32},
        {"length of the point at infinity", [&] { return QRT_CSP_GetKeyLength(&len, &ipt, 5, nullptr) ?: len; }, 0},
        {"length of an empty point", [&] { return QRT_CSP_GetKeyLength(&len, &none, 5, nullptr); }, QRT_CSP_BAD_PUBKEY},
        {"length of an RSA key", [&] { return QRT_CSP_GetKeyLength(&len, &rsa_pub, 1, nullptr) ?: len; }, 128},
        {"length of an RSA private key", [&] { return QRT_CSP_GetKeyLengthEx(&len, &rsa_priv, 1, nullptr) ?: len; },
         128},
        {"length of an EC private key", [&] { return QRT_CSP_GetKeyLengthEx(&len, &epriv, 5, &ec_p) ?: len; }, 32},
        {"length of a DSA key without param", [&] { return QRT_CSP_GetKeyLength(&len, &rsa_pub, 3, nullptr); },
         QRT_CSP_INVALID_INPUT},
        {"length for algorithm 13", [&] { return QRT_CSP_GetKeyLength(&len, &rsa_pub, 13, nullptr); },
         QRT_CSP_UNKNOWN_ID},
        {"DeriveKey with algID 2", [&] { return QRT_CSP_DeriveKey(&a, &rsa_priv, &rsa_pub, 2, &dk); },
         QRT_CSP_UNKNOWN_ID},
        {"OAEP with mgfID 2", [&] { return QRT_CSP_PublicEncrypt(&b, &in20, &rsa_pub, 5, &oaep); }, QRT_CSP_UNKNOWN_ID},
        {"OAEP without param", [&] { return QRT_CSP_PublicEncrypt(&b, &in20, &rsa_pub, 5, nullptr); },
         QRT_CSP_INVALID_INPUT},
        {"encID 3", [&] { return QRT_CSP_PublicEncrypt(&b, &in20, &rsa_pub, 3, nullptr); }, QRT_CSP_UNKNOWN_ID},
        {"ComputeSignature with id 12",
         [&] {
             sign(d20, rsa.priv, 12, nullptr, QRT_CSP_UNKNOWN_ID);
             return 0;
         },
         0},
        {"PSS without param", [&] { return verify(d20, d20, rsa.pub, 11, nullptr); }, QRT_CSP_INVALID_INPUT},
        {"ProveKeyPair with a mismatched EC pair", [&] { return QRT_CSP_ProveKeyPair(&epriv, &opub, 5, &ec_p); },
         QRT_CSP_INVALID_KEYPAIR},
        {"ProveKeyPair without param", [&] { return QRT_CSP_ProveKeyPair(&epriv, &pt, 5, nullptr); },
         QRT_CSP_INVALID_INPUT},
        {"an ECDSA signature that is no DER", [&] { return verify(d20, d20, ec.pub, 16, &ep); }, QRT_CSP_BAD_SIGNATURE},
        {"an RSA key that is no DER", [&] { return verify(d20, d20, ec.pub, 3, nullptr); }, QRT_CSP_BAD_PUBKEY},
    };
    for (const Row &r : rows) EXPECT_EQ(r.call(), r.want) << r.what;

    // The older key generation clamps the length to 512..8192 bits.
    Out pub, priv;
    ASSERT_EQ(QRT_GenerateKeyPairBin(0, 100, &pub, &priv), 0);
    EXPECT_EQ(QRT_GetRSAKeyLength(&pub.b, &len), 0);
    EXPECT_EQ(len, 64) << "100 bits make a 512-bit key";
    Out pub2, priv2;
    ASSERT_EQ(QRT_GenerateKeyPairBin(0, 10000, &pub2, &priv2), 0);
    EXPECT_EQ(QRT_GetRSAKeyLength(&pub2.b, &len), 0);
    EXPECT_EQ(len, 1024) << "10000 bits make an 8192-bit key";
    EXPECT_EQ(QRT_ProveRSAKeyPairBin(&priv2.b, &pub2.b), 0);
}

// Generated parameters and key pairs of every algorithm prove, sign and verify in the message
// forms; keys of two pairs mixed give 6013.
TEST_F(CspPkey, GenerationProofAndMessageForms) {
    struct Alg {
        int pkey;
        int sig_ids[5];
    } algs[] = {{QRT_CSP_PKEY_RSA, {1, 4, 10, 11, 9}},
                {QRT_CSP_PKEY_KCDSA, {21, 22, 27, 28, 29}},
                {QRT_CSP_PKEY_ECKCDSA, {23, 24, 0, 0, 0}},
                {QRT_CSP_PKEY_DSA, {0}},
                {QRT_CSP_PKEY_ECDSA, {0}},
                {QRT_CSP_PKEY_DH, {0}}};
    for (const Alg &a : algs) {
        SCOPED_TRACE(a.pkey);
        Out param;
        ZQ_CSP_GenKeyPairParam gp{};
        BIN pb{0, nullptr};
        if (a.pkey != QRT_CSP_PKEY_RSA) {
            ZQ_CSP_GenParamParam g{};
            if (a.pkey == QRT_CSP_PKEY_DH) {
                g.dh.primeLength = 1024;
                g.dh.factorLength = 160;
            } else if (a.pkey == QRT_CSP_PKEY_DSA || a.pkey == QRT_CSP_PKEY_KCDSA) {
                g.dsa.primeLength = 1024;
            } else {
                g.ecdsa.ncid = WJ_EC_CURVE_P256;
            }
            ASSERT_EQ(QRT_CSP_GenerateParam(&param, a.pkey, &g), 0);
            pb = param.b;
            gp.dsa.pkeyParam = &pb;
        } else {
            gp.rsa.keyLength = 1024;
        }
        Gen k1, k2;
        gen_pair(k1, a.pkey, &gp);
        gen_pair(k2, a.pkey, &gp);
        // The generic forms carry the key values; the element forms of the digest-level
        // functions come out of the core objects.
        WJC_PKEY_PRIVATE_KEY *cp = WJC_PKEY_PrivateKey_New();
        ASSERT_EQ(QRT_CSP_PrivateKey_FromCStr(cp, a.pkey, &k1.priv.b), 0);
        Out again;
        ASSERT_EQ(QRT_CSP_PrivateKey_ToCStr(&again, cp), 0);
        EXPECT_EQ(again.hex(), k1.priv.hex());
        WJC_PKEY_PrivateKey_Free(cp);
        WJC_PKEY_PUBLIC_KEY *cq = WJC_PKEY_PublicKey_New();
        EXPECT_EQ(QRT_CSP_PublicKey_FromCStr(cq, a.pkey, &k1.priv.b), QRT_CSP_BAD_PUBKEY);
        ASSERT_EQ(QRT_CSP_PublicKey_FromCStr(cq, a.pkey, &k1.pub.b), 0);
        WJC_PKEY_PublicKey_Free(cq);

        for (int id : a.sig_ids) {
            if (!id) continue;
            SCOPED_TRACE(id);
            ZQ_CSP_SignParam sp{};
            sp.rsa_pss.hashID = 7;
            sp.rsa_pss.mgfID = 1;
            if (a.pkey != QRT_CSP_PKEY_RSA) sp.kcdsa.pkeyParam = &pb;
            Bytes msg = pattern(id == 9 ? 30 : 500, (unsigned)id);
            BIN m = bin(msg);
            Out sig;
            ASSERT_EQ(QRT_CSP_ComputeMsgSignature(&sig, &m, &k1.priv.b, id, &sp), 0);
            EXPECT_EQ(QRT_CSP_VerifyMsgSignature(&sig.b, &m, &k1.pub.b, id, &sp), 0);
            EXPECT_EQ(QRT_CSP_VerifyMsgSignature(&sig.b, &m, &k2.pub.b, id, &sp), QRT_CSP_INVALID_SIGNATURE);
            if (a.pkey != QRT_CSP_PKEY_RSA) {  // the key's own parameters serve without param
                EXPECT_EQ(QRT_CSP_VerifyMsgSignature(&sig.b, &m, &k1.pub.b, id, nullptr), 0);
            }
        }
        ZQ_CSP_SignParam sp{};
        Bytes msg = pattern(40);
        BIN m = bin(msg);
        Out sig;
        if (a.pkey == QRT_CSP_PKEY_DSA || a.pkey == QRT_CSP_PKEY_ECDSA) {
            EXPECT_EQ(QRT_CSP_ComputeMsgSignature(&sig, &m, &k1.priv.b, a.pkey == QRT_CSP_PKEY_DSA ? 15 : 16, &sp),
                      QRT_CSP_UNKNOWN_ID);
        }
    }

    // Proofs over the element forms of the digest-level functions.
    const RawKeys &rsa = rsa_keys();
    RawKeys rsa2 = make_rsa(), kc1 = make_dl(WJ_PKEY_KCDSA, kcdsa_params()),
            kc2 = make_dl(WJ_PKEY_KCDSA, kcdsa_params());
    RawKeys ds1 = make_dl(WJ_PKEY_DSA, dsa_params()), ds2 = make_dl(WJ_PKEY_DSA, dsa_params());
    RawKeys e1 = make_ec(WJ_EC_CURVE_P384, true), e2 = make_ec(WJ_EC_CURVE_P384, true);
    RawKeys d1 = make_ec(WJ_EC_CURVE_P384, false);
    Bytes dhp = dl_params(WJ_PKEY_DH, 1024, 160);
    RawKeys dh1 = make_dl(WJ_PKEY_DH, dhp), dh2 = make_dl(WJ_PKEY_DH, dhp);
    struct Proof {
        int pkey;
        const RawKeys *a, *b;
    } proofs[] = {{1, &rsa, &rsa2}, {11, &kc1, &kc2}, {3, &ds1, &ds2}, {2, &dh1, &dh2}, {12, &e1, &e2}, {5, &d1, &e1}};
    for (const Proof &p : proofs) {
        BIN param = bin(p.a->param), apub = bin(p.a->pub), apriv = bin(p.a->priv), bpub = bin(p.b->pub);
        EXPECT_EQ(QRT_CSP_ProveKeyPair(&apriv, &apub, p.pkey, &param), 0) << p.pkey;
        EXPECT_EQ(QRT_CSP_ProveKeyPair(&apriv, &bpub, p.pkey, &param), QRT_CSP_INVALID_KEYPAIR) << p.pkey;
    }
    EXPECT_EQ(QRT_GenerateKeyPairBin(0, 512, nullptr, nullptr), QRT_CSP_INVALID_INPUT);
}

TEST_F(CspPkey, DiffieHellmanAndEncryption) {
    Bytes param = dl_params(WJ_PKEY_DH, 1024, 160);
    RawKeys a = make_dl(WJ_PKEY_DH, param), b = make_dl(WJ_PKEY_DH, param);
    BIN pb = bin(param), apriv = bin(a.priv), apub = bin(a.pub), bpriv = bin(b.priv), bpub = bin(b.pub);
    ZQ_CSP_DKeyParam dk{};
    dk.dh.pkeyParam = &pb;
    Out s1, s2;
    ASSERT_EQ(QRT_CSP_DeriveKey(&s1, &apriv, &bpub, 1, &dk), 0);
    ASSERT_EQ(QRT_CSP_DeriveKey(&s2, &bpriv, &apub, 1, &dk), 0);
    EXPECT_EQ(s1.hex(), s2.hex());
    EXPECT_NE(s1.b.value[0], 0) << "minimal length";
    Bytes one = {0x02, 0x01, 0x01};
    BIN bad = bin(one);
    Out s3;
    EXPECT_EQ(QRT_CSP_DeriveKey(&s3, &apriv, &bad, 1, &dk), QRT_CSP_CRYPTO_FAILED) << "peer value 1";
    EXPECT_EQ(QRT_CSP_DeriveKey(&s3, &apriv, &bpub, 1, nullptr), QRT_CSP_INVALID_INPUT);

    Gen k;
    ZQ_CSP_GenKeyPairParam gp{};
    gp.rsa.keyLength = 1024;
    gen_pair(k, QRT_CSP_PKEY_RSA, &gp);
    Bytes pt = pattern(60), label = pattern(9, 3);
    BIN in = bin(pt), lb = bin(label);
    for (int enc : {1, 5}) {
        ZQ_CSP_PEncParam p{};
        p.rsa_oaep.hashID = 6;
        p.rsa_oaep.mgfID = 1;
        p.rsa_oaep.sourceID = 1;
        p.rsa_oaep.source = &lb;
        Out ct, back;
        ASSERT_EQ(QRT_CSP_PublicEncrypt(&ct, &in, &k.pub.b, enc, &p), 0) << enc;
        EXPECT_EQ(ct.b.length, 128u);
        ASSERT_EQ(QRT_CSP_PrivateDecrypt(&back, &ct.b, &k.priv.b, enc, &p), 0) << enc;
        EXPECT_EQ(back.hex(), hexs(pt));
        ct.b.value[5] ^= 1;
        Out bad_out;
        EXPECT_EQ(QRT_CSP_PrivateDecrypt(&bad_out, &ct.b, &k.priv.b, enc, &p), QRT_CSP_CRYPTO_FAILED);
        EXPECT_EQ(bad_out.b.length, 0u);
        p.rsa_oaep.sourceID = 2;
        if (enc == 5) {
            EXPECT_EQ(QRT_CSP_PublicEncrypt(&bad_out, &in, &k.pub.b, enc, &p), QRT_CSP_UNKNOWN_ID);
        }
    }
    Out ct;
    EXPECT_EQ(QRT_CSP_PublicEncrypt(&ct, &in, &k.priv.b, 1, nullptr), QRT_CSP_BAD_PUBKEY);
}

// The older forms: their own numbering and codes, and no trace records.
TEST_F(CspPkey, OlderRsaForms) {
    const RawKeys &rsa = rsa_keys();
    RawKeys other = make_rsa();
    BIN pub = bin(rsa.pub), priv = bin(rsa.priv), opub = bin(other.pub), opriv = bin(other.priv);
    Bytes data = pattern(77);
    BIN d = bin(data);
    for (int alg : {0, 1, 2, 4, 5, 6}) {
        Out sig;
        ASSERT_EQ(QRT_GenSignatureBin(&priv, alg, &d, &sig), 0) << alg;
        EXPECT_EQ(QRT_VerifySignBin(&pub, alg, &d, &sig.b), 0) << alg;
        EXPECT_EQ(QRT_VerifySignBin(&opub, alg, &d, &sig.b), QRT_CSP_INVALID_SIGNATURE) << alg;
    }
    Out sig;
    EXPECT_EQ(QRT_GenSignatureBin(&priv, 3, &d, &sig), QRT_CSP_UNKNOWN_ID);
    EXPECT_EQ(QRT_GenSignatureBin(&pub, 2, &d, &sig), QRT_CSP_DECODE_RSAKEY_FAILED);
    EXPECT_EQ(QRT_VerifySignBin(&priv, 2, &d, &d), QRT_CSP_DECODE_RSAKEY_FAILED);
    Out ct, back;
    ASSERT_EQ(QRT_PublicEncryptBin(&pub, &d, &ct), 0);
    ASSERT_EQ(QRT_PrivateDecryptBin(&priv, &ct.b, &back), 0);
    EXPECT_EQ(back.hex(), hexs(data));
    Out back2;
    EXPECT_EQ(QRT_PrivateDecryptBin(&opriv, &ct.b, &back2), QRT_CSP_RSA_DECRYPT_FAILED);
    Bytes longer = pattern(200);
    BIN lb = bin(longer);
    Out ct2;
    EXPECT_EQ(QRT_PublicEncryptBin(&pub, &lb, &ct2), QRT_CSP_RSA_ENCRYPT_FAILED);
    EXPECT_EQ(QRT_ProveRSAKeyPairBin(&priv, &pub), 0);
    EXPECT_EQ(QRT_ProveRSAKeyPairBin(&priv, &opub), QRT_CSP_INVALID_KEYPAIR);
    int len = 0;
    EXPECT_EQ(QRT_GetRSAKeyLength(&priv, &len), QRT_CSP_DECODE_RSAKEY_FAILED);
    EXPECT_TRUE(ostrel::test::trace_records().empty()) << "the older forms leave no records";
}

// Trace records of a failing call read from the innermost failure outwards; keys decoded again
// and again from the cache give the same answers as fresh ones.
TEST_F(CspPkey, TraceRecordsAndKeyCache) {
    const RawKeys &rsa = rsa_keys();
    Bytes junk = pattern(30);
    Bytes d = hash_of(6, pattern(5));
    EXPECT_EQ(verify(d, d, junk, 4, nullptr), QRT_CSP_BAD_PUBKEY);
    auto f = funcs_of_trace();
    ASSERT_EQ(f.size(), 4u);
    EXPECT_EQ(f[0], "WJ_PKCS1_PublicKey_Decode");
    EXPECT_EQ(f[1], "QRT_CSP_RSAKey_Decode");
    EXPECT_EQ(f[2], "QRT_CSP_RSA_Verify");
    EXPECT_EQ(f[3], "QRT_CSP_VerifySignature");
    Bytes sig = sign(d, rsa.priv, 4, nullptr);
    sig[0] ^= 1;
    EXPECT_EQ(verify(sig, d, rsa.pub, 4, nullptr), QRT_CSP_INVALID_SIGNATURE);
    f = funcs_of_trace();
    ASSERT_EQ(f.size(), 3u);
    EXPECT_EQ(f[0], "WJ_PKCS1_V15_Verify");
    sig[0] ^= 1;

    // Twelve keys (more than the cache holds) used round-robin, twice over.
    std::vector<RawKeys> keys;
    std::vector<Bytes> sigs;
    for (int i = 0; i < 12; ++i) keys.push_back(make_ec(WJ_EC_CURVE_P256, i % 2 == 0));
    for (int round = 0; round < 2; ++round)
        for (int i = 0; i < 12; ++i) {
            BIN p = bin(keys[i].param), q = bin(keys[i].pub);
            ZQ_CSP_SignParam sp{};
            int id = i % 2 == 0 ? 23 : 16;
            if (id == 23) {
                sp.eckcdsa.pkeyParam = &p;
                sp.eckcdsa.pubKey = &q;
            } else {
                sp.ecdsa.pkeyParam = &p;
            }
            Bytes s = sign(d, keys[i].priv, id, &sp);
            EXPECT_EQ(verify(s, d, keys[i].pub, id, &sp), 0) << i;
            EXPECT_EQ(verify(s, d, keys[(i + 2) % 12].pub, id, &sp), QRT_CSP_INVALID_SIGNATURE) << i;
        }
    EXPECT_EQ(verify(sig, d, rsa.pub, 4, nullptr), 0);
}

TEST_F(CspPkey, DerAndBigIntegerRoutines) {
    const RawKeys &rsa = rsa_keys();
    WJ_RSA_PrivateKey *k = WJ_RSA_PrivateKey_New();
    WJ_RSA_PublicKey *pk = WJ_RSA_PublicKey_New();
    BIN priv = bin(rsa.priv), pub = bin(rsa.pub);
    EXPECT_EQ(QRT_CSP_PKCS1_PrivateKey_Decode(k, &priv), 0);
    EXPECT_EQ(QRT_CSP_PKCS1_PublicKey_Decode(pk, &pub), 0);
    Bytes cut(rsa.priv.begin(), rsa.priv.end() - 1), inner = rsa.priv;
    inner[7] = 0x05;  // the version becomes a NULL tag
    struct Case {
        Bytes der;
        int want;
    } cases[] = {{cut, WJ_ERR_SHORT_INPUT},
                 {from_hex("3103020100"), WJ_ERR_SHORT_INPUT},
                 {inner, WJ_ERR_BAD_DER},
                 {from_hex("3003020101"), WJ_ERR_BAD_DER},
                 {from_hex("308401"), WJ_ERR_SHORT_INPUT}};
    for (const Case &c : cases) {
        BIN b = bin(c.der);
        EXPECT_EQ(QRT_CSP_PKCS1_PrivateKey_Decode(k, &b), c.want) << hexs(c.der);
    }
    EXPECT_EQ(QRT_CSP_PKCS1_PrivateKey_Decode(nullptr, &priv), WJ_ERR_BAD_ARGUMENT);
    WJ_BigInt *a = QRT_CSP_BigInt_New(2);
    ASSERT_NE(a, nullptr);
    Bytes der = from_hex("020500ff00ff00"), bad_tag = from_hex("040100");
    BIN db = bin(der), bt = bin(bad_tag);
    EXPECT_EQ(QRT_CSP_BigInt_DerDecode(a, &db), 0);
    EXPECT_EQ(QRT_CSP_BigInt_GetByteLength(a), 4);
    EXPECT_EQ(QRT_CSP_BigInt_DerDecode(a, &bt), WJ_ERR_BAD_DER);
    Bytes raw = from_hex("000000000102030405060708");
    BIN rb = bin(raw);
    EXPECT_EQ(QRT_CSP_BigInt_BytesToInt(a, &rb), 0);
    EXPECT_EQ(a->Length, 2u) << "leading zero bytes dropped";
    EXPECT_EQ(a->Data[0], 0x05060708u);
    EXPECT_EQ(QRT_CSP_BigInt_Realloc(a, 50), 0);
    EXPECT_GE(a->MemLength, 50u);
    EXPECT_EQ(QRT_CSP_BigInt_Reset(a), 0);
    EXPECT_EQ(QRT_CSP_BigInt_GetByteLength(a), 0);
    QRT_CSP_BigInt_Free(a);
    WJ_SECRET_KEY sk{};
    Bytes key = pattern(16);
    BIN kb = bin(key);
    EXPECT_EQ(QRT_CSP_SecretKey_FromCStr(&sk, 8, &kb), 0);
    EXPECT_EQ(sk.algID, WJ_CIPHER_SEED);
    EXPECT_EQ(sk.keyLength, 16u);
    EXPECT_EQ(QRT_CSP_SecretKey_FromCStr(&sk, 99, &kb), QRT_CSP_UNKNOWN_ID);
    Bytes huge(300);
    BIN hb = bin(huge);
    EXPECT_EQ(QRT_CSP_SecretKey_FromCStr(&sk, 6, &hb), QRT_CSP_INVALID_KEY_LENGTH);
    WJ_RSA_PrivateKey_Free(k);
    WJ_RSA_PublicKey_Free(pk);
}

// Threads signing with the same key bytes each keep their own decoded copies.
TEST_F(CspPkey, ThreadsWithTheSameKeyBytes) {
    const RawKeys &rsa = rsa_keys();
    RawKeys ec = make_ec(WJ_EC_CURVE_P256, true);
    std::atomic<int> failures{0};
    auto work = [&](int seed) {
        Bytes d = pattern(32, (unsigned)seed);
        BIN p = bin(ec.param), q = bin(ec.pub);
        ZQ_CSP_SignParam sp{};
        sp.eckcdsa.pkeyParam = &p;
        sp.eckcdsa.pubKey = &q;
        for (int i = 0; i < 30; ++i) {
            BIN db = bin(d), kr = bin(rsa.priv), ke = bin(ec.priv);
            Out s1, s2;
            if (QRT_CSP_ComputeSignature(&s1.b, &db, &kr, 4, nullptr) || verify(s1.bytes(), d, rsa.pub, 4, nullptr))
                ++failures;
            if (QRT_CSP_ComputeSignature(&s2.b, &db, &ke, 23, &sp) || verify(s2.bytes(), d, ec.pub, 23, &sp))
                ++failures;
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) threads.emplace_back(work, t);
    for (auto &t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
}
