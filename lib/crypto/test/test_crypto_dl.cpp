// The discrete-log family: every block of the KCDSA vector file (signatures reproduced with the
// given k, verifications as marked), generated KCDSA and DSA parameters and keys, DSA and DH
// against OpenSSL, and the parameter encodings with their optional fields.
#include <openssl/dh.h>
#include <openssl/param_build.h>
#include <openssl/x509.h>

#include <cstring>
#include <map>

#include "ostrel/vectors.hpp"
#include "pk_test_util.hpp"

using namespace pktest;
using ostrel::test::Block;

namespace {

struct Params {
    WJ_KCDSA_Parameters *p = WJ_KCDSA_Parameters_New();
    ~Params() { WJ_KCDSA_Parameters_Free(p); }
};

Bytes encode_params(int (*enc)(unsigned char *, unsigned *, const WJ_DL_Parameters *), const WJ_DL_Parameters *p) {
    return call_out([&](unsigned char *o, unsigned *l) { return enc(o, l, p); });
}

Bytes kcdsa_hash(const Bytes &msg, int hash, const WJ_BigInt *y) {
    return call_out([&](unsigned char *o, unsigned *l) {
        if (!o) {
            *l = WJ_HASH_MAX_LENGTH;
            return 0;
        }
        return WJ_KCDSA_Hash(o, l, msg.data(), (unsigned)msg.size(), hash, y);
    });
}

}  // namespace

TEST(CryptoKcdsa, PublishedVectors) {
    auto blocks = ostrel::test::read_vectors(vectors("kcdsa.txt"));
    ASSERT_EQ(blocks.size(), 60u);
    int signs = 0, passes = 0, fails = 0;
    for (const Block &b : blocks) {
        SCOPED_TRACE("kcdsa.txt line " + std::to_string(b.line));
        int hash = hash_id(b.get("hash"));
        ASSERT_NE(hash, 0);
        Params prm;
        set_hex(prm.p->p, b.get("p"));
        set_hex(prm.p->q, b.get("q"));
        set_hex(prm.p->g, b.get("g"));
        EXPECT_EQ(WJ_BigInt_GetBitLength(prm.p->p), (unsigned)std::stoi(b.get("p_bits")));
        EXPECT_EQ(WJ_BigInt_GetBitLength(prm.p->q), (unsigned)std::stoi(b.get("q_bits")));
        Big y(b.get("y"));
        Bytes msg = from_hex(b.get("msg"));
        Bytes h = kcdsa_hash(msg, hash, y);
        if (b.has("hash_zm")) {
            EXPECT_EQ(hex(h), b.get("hash_zm"));
        }
        if (b.has("z")) {  // z is the first hash input: hashing z || msg by hand gives the same
            Bytes zm = from_hex(b.get("z"));
            zm.insert(zm.end(), msg.begin(), msg.end());
            unsigned char out[64];
            unsigned n = 0;
            ASSERT_EQ(WJ_Hash(out, &n, zm.data(), (unsigned)zm.size(), hash), 0);
            EXPECT_EQ(hex(Bytes(out, out + n)), hex(h));
        }
        WJ_KCDSA_Signature *sig = WJ_KCDSA_Signature_New();
        Bytes r = from_hex(b.get("r"));
        std::memcpy(sig->r, r.data(), r.size());
        sig->rLength = (unsigned)r.size();
        set_hex(sig->s, b.get("s"));
        int rc = WJ_KCDSA_Verify(sig, h.data(), (unsigned)h.size(), hash, y, prm.p);
        if (b.get("type") == "sign") {
            ++signs;
            EXPECT_EQ(rc, 0);
            if (b.has("h")) {
                EXPECT_EQ(b.get("h"), hex(h).substr(hex(h).size() - b.get("h").size()));
            }
            Big x(b.get("x"));
            Bytes k = from_hex(b.get("k"));
            ASSERT_EQ(WJ_Test_SetFixedK(k.data(), (unsigned)k.size()), 0);
            WJ_KCDSA_Signature *mine = WJ_KCDSA_Signature_New();
            ASSERT_EQ(WJ_KCDSA_Sign(mine, h.data(), (unsigned)h.size(), hash, x, prm.p), 0);
            EXPECT_EQ(hex(Bytes(mine->r, mine->r + mine->rLength)), b.get("r"));
            EXPECT_EQ(hex_of(mine->s), hex_of(sig->s));
            // The DER form reads back to the same signature.
            Bytes der = call_out([&](unsigned char *o, unsigned *l) { return WJ_KCDSA_Signature_Encode(o, l, mine); });
            WJ_KCDSA_Signature *back = WJ_KCDSA_Signature_New();
            ASSERT_EQ(WJ_KCDSA_Signature_Decode(back, der.data(), (unsigned)der.size()), 0);
            EXPECT_EQ(hex(Bytes(back->r, back->r + back->rLength)), b.get("r"));
            EXPECT_EQ(WJ_BigInt_Cmp(back->s, mine->s), 0);
            WJ_KCDSA_Signature_Free(back);
            WJ_KCDSA_Signature_Free(mine);
            // A random k gives another signature that verifies too.
            WJ_KCDSA_Signature *rnd = WJ_KCDSA_Signature_New();
            ASSERT_EQ(WJ_KCDSA_Sign(rnd, h.data(), (unsigned)h.size(), hash, x, prm.p), 0);
            EXPECT_NE(hex_of(rnd->s), hex_of(sig->s));
            EXPECT_EQ(WJ_KCDSA_Verify(rnd, h.data(), (unsigned)h.size(), hash, y, prm.p), 0);
            WJ_KCDSA_Signature_Free(rnd);
            // Generation data: p = 2jq + 1, and the optional fields survive the DER form.
            if (b.has("j")) {
                Big j(b.get("j")), t, two("02"), one("01");
                ASSERT_EQ(WJ_BigInt_Mul(t, j, prm.p->q), 0);
                ASSERT_EQ(WJ_BigInt_Mul(t, t, two), 0);
                ASSERT_EQ(WJ_BigInt_Add(t, t, one), 0);
                EXPECT_EQ(WJ_BigInt_Cmp(t, prm.p->p), 0);
                prm.p->j = WJ_BigInt_New(1);
                WJ_BigInt_Copy(prm.p->j, j);
                Bytes seed = from_hex(b.get("seed"));
                prm.p->seed = static_cast<unsigned char *>(QRT_malloc(seed.size()));
                std::memcpy(prm.p->seed, seed.data(), seed.size());
                prm.p->seedLength = (unsigned)seed.size();
                prm.p->count = std::stoi(b.get("count"));
                Bytes der_p = encode_params(WJ_KCDSA_Parameters_Encode, prm.p);
                Params again;
                ASSERT_EQ(WJ_KCDSA_Parameters_Decode(again.p, der_p.data(), (unsigned)der_p.size()), 0);
                ASSERT_NE(again.p->j, nullptr);
                EXPECT_EQ(WJ_BigInt_Cmp(again.p->j, j), 0);
                EXPECT_EQ(to_hex(again.p->seed, again.p->seedLength), b.get("seed"));
                EXPECT_EQ(again.p->count, prm.p->count);
                EXPECT_EQ(hex(encode_params(WJ_KCDSA_Parameters_Encode, again.p)), hex(der_p));
                for (const char *k2 : {"h_gen", "xkey"}) b.mark_used(k2);
            }
        } else {
            bool pass = b.get("result") == "pass";
            (pass ? passes : fails)++;
            EXPECT_EQ(rc, pass ? 0 : WJ_ERR_KCDSA_VERIFY);
            b.mark_used("x");  // printed by the source, not needed to verify
        }
        WJ_KCDSA_Signature_Free(sig);
        for (const char *info : {"w", "e", "hash_w", "derived"}) b.mark_used(info);
        EXPECT_TRUE(b.unused().empty()) << "unchecked key " << b.unused().front();
    }
    EXPECT_EQ(signs, 10);
    EXPECT_EQ(passes, 40);
    EXPECT_EQ(fails, 10);
}

// A signer before the rightmost-bytes rule keeps the whole SHA-256 output in r for a 224-bit q;
// such a signature verifies, a cut one made from the same values does too, a mangled one fails.
TEST(CryptoKcdsa, LengthOfRAndDamagedSignatures) {
    Params prm;
    ASSERT_EQ(WJ_KCDSA_GenerateParameters(prm.p, 2048, 224), 0);
    Big x, y;
    ASSERT_EQ(WJ_KCDSA_GenerateKey(x, y, prm.p), 0);
    Bytes msg = pattern(77);
    for (int hash : {WJ_HASH_SHA1, WJ_HASH_HAS160, WJ_HASH_SHA224, WJ_HASH_SHA256, WJ_HASH_SHA384, WJ_HASH_SHA512}) {
        SCOPED_TRACE(hash);
        Bytes h = kcdsa_hash(msg, hash, y);
        WJ_KCDSA_Signature *sig = WJ_KCDSA_Signature_New();
        ASSERT_EQ(WJ_KCDSA_Sign(sig, h.data(), (unsigned)h.size(), hash, x, prm.p), 0);
        EXPECT_EQ(sig->rLength, std::min<unsigned>((unsigned)h.size(), 28u));
        EXPECT_EQ(WJ_KCDSA_Verify(sig, h.data(), (unsigned)h.size(), hash, y, prm.p), 0);
        sig->r[0] ^= 1;
        EXPECT_EQ(WJ_KCDSA_Verify(sig, h.data(), (unsigned)h.size(), hash, y, prm.p), WJ_ERR_KCDSA_VERIFY);
        sig->r[0] ^= 1;
        sig->rLength -= 1;
        EXPECT_EQ(WJ_KCDSA_Verify(sig, h.data(), (unsigned)h.size(), hash, y, prm.p), WJ_ERR_KCDSA_VERIFY);
        sig->rLength += 1;
        Bytes other = kcdsa_hash(pattern(77, 2), hash, y);
        EXPECT_EQ(WJ_KCDSA_Verify(sig, other.data(), (unsigned)other.size(), hash, y, prm.p), WJ_ERR_KCDSA_VERIFY);
        ASSERT_EQ(WJ_BigInt_Copy(sig->s, prm.p->q), 0);
        EXPECT_EQ(WJ_KCDSA_Verify(sig, h.data(), (unsigned)h.size(), hash, y, prm.p), WJ_ERR_KCDSA_VERIFY)
            << "s = q is out of range";
        WJ_KCDSA_Signature_Free(sig);
    }
    // r in full (the older form): e = (H(w) XOR h) mod q with both 32 bytes long.
    Bytes h = kcdsa_hash(msg, WJ_HASH_SHA256, y);
    BN_CTX *ctx = BN_CTX_new();
    BIGNUM *p = bn_of(prm.p->p), *q = bn_of(prm.p->q), *g = bn_of(prm.p->g), *bx = bn_of(x), *k = BN_new(),
           *w = BN_new(), *e = BN_new(), *s = BN_new();
    BN_rand_range(k, q);
    BN_mod_exp(w, g, k, p, ctx);
    Bytes wb(256);
    BN_bn2binpad(w, wb.data(), 256);
    unsigned char r[32];
    unsigned rn = 0;
    ASSERT_EQ(WJ_Hash(r, &rn, wb.data(), 256, WJ_HASH_SHA256), 0);
    Bytes x_or(32);
    for (int i = 0; i < 32; ++i) x_or[i] = r[i] ^ h[i];
    BN_bin2bn(x_or.data(), 32, e);
    BN_mod(e, e, q, ctx);
    BN_mod_sub(s, k, e, q, ctx);
    BN_mod_mul(s, s, bx, q, ctx);
    WJ_KCDSA_Signature *full = WJ_KCDSA_Signature_New();
    std::memcpy(full->r, r, 32);
    full->rLength = 32;
    set_bn(full->s, s);
    EXPECT_EQ(WJ_KCDSA_Verify(full, h.data(), 32, WJ_HASH_SHA256, y, prm.p), 0);
    WJ_KCDSA_Signature_Free(full);
    for (BIGNUM *v : {p, q, g, bx, k, w, e, s}) BN_free(v);
    BN_CTX_free(ctx);

    WJ_KCDSA_Signature *sig = WJ_KCDSA_Signature_New();
    struct Bad {
        const char *der;
        int want;
    } bad[] = {{"3006030100020101", WJ_ERR_BAD_DER} /* empty r */,
               {"3007030201aa020101", WJ_ERR_BAD_DER} /* unused bits */,
               {"300603020011020101", WJ_ERR_BAD_DER} /* trailing content */,
               {"3007030200aa020101", 0},
               {"3007030200aa0201", WJ_ERR_SHORT_INPUT},
               {"3007030200aa02018100", WJ_ERR_BAD_DER}};
    for (const Bad &c : bad) {
        Bytes der = from_hex(c.der);
        EXPECT_EQ(WJ_KCDSA_Signature_Decode(sig, der.data(), (unsigned)der.size()), c.want) << c.der;
    }
    Bytes long_r = from_hex("304603420000");
    long_r.resize(6 + 65);
    long_r.insert(long_r.end(), {0x02, 0x01, 0x01});
    EXPECT_EQ(WJ_KCDSA_Signature_Decode(sig, long_r.data(), (unsigned)long_r.size()), WJ_ERR_BAD_DER)
        << "r longer than any hash";
    WJ_KCDSA_Signature_Free(sig);
}

// Generated parameters have the structure the algorithms rely on.
TEST(CryptoKcdsa, GeneratedParametersAndKeys) {
    Params prm;
    ASSERT_EQ(WJ_KCDSA_GenerateParameters(prm.p, 2048, 224), 0);
    EXPECT_EQ(WJ_BigInt_GetBitLength(prm.p->p), 2048u);
    EXPECT_EQ(WJ_BigInt_GetBitLength(prm.p->q), 224u);
    ASSERT_NE(prm.p->j, nullptr);
    EXPECT_EQ(WJ_BigInt_IsPrime(prm.p->p), 1);
    EXPECT_EQ(WJ_BigInt_IsPrime(prm.p->q), 1);
    EXPECT_EQ(WJ_BigInt_IsPrime(prm.p->j), 1);
    Big t, two("02"), one("01");
    WJ_BigInt_Mul(t, prm.p->j, prm.p->q);
    WJ_BigInt_Mul(t, t, two);
    WJ_BigInt_Add(t, t, one);
    EXPECT_EQ(WJ_BigInt_Cmp(t, prm.p->p), 0) << "p = 2jq + 1";
    WJ_BigInt_ModExp(t, prm.p->g, prm.p->q, prm.p->p);
    EXPECT_EQ(WJ_BigInt_Cmp(t, one), 0) << "g has order q";
    EXPECT_NE(WJ_BigInt_Cmp(prm.p->g, one), 0);
    Big x, y, xi;
    ASSERT_EQ(WJ_KCDSA_GenerateKey(x, y, prm.p), 0);
    WJ_BigInt_ModInverse(xi, x, prm.p->q);
    WJ_BigInt_ModExp(t, prm.p->g, xi, prm.p->p);
    EXPECT_EQ(WJ_BigInt_Cmp(t, y), 0) << "y = g^(x^-1)";
    Bytes der = encode_params(WJ_KCDSA_Parameters_Encode, prm.p);
    Params back;
    ASSERT_EQ(WJ_KCDSA_Parameters_Decode(back.p, der.data(), (unsigned)der.size()), 0);
    EXPECT_EQ(WJ_BigInt_Cmp(back.p->j, prm.p->j), 0);
    EXPECT_EQ(WJ_KCDSA_GenerateParameters(prm.p, 512, 160), WJ_ERR_BAD_ARGUMENT);
}

TEST(CryptoDsa, GeneratedParametersAndOpensslInterop) {
    WJ_DSA_Parameters *prm = WJ_DSA_Parameters_New();
    ASSERT_EQ(WJ_DSA_GenerateParameters(prm, 2048, 224), 0);
    EXPECT_EQ(WJ_BigInt_GetBitLength(prm->p), 2048u);
    EXPECT_EQ(WJ_BigInt_GetBitLength(prm->q), 224u);
    Big t, one("01");
    WJ_BigInt_Sub(t, prm->p, one);
    WJ_BigInt_Mod(t, t, prm->q);
    EXPECT_EQ(hex_of(t), "00") << "q | p - 1";
    WJ_BigInt_ModExp(t, prm->g, prm->q, prm->p);
    EXPECT_EQ(WJ_BigInt_Cmp(t, one), 0) << "g has order q";
    EXPECT_GT(prm->seedLength, 0u) << "OpenSSL's seed is kept";
    Big x, y;
    ASSERT_EQ(WJ_DSA_GenerateKey(x, y, prm), 0);
    WJ_BigInt_ModExp(t, prm->g, x, prm->p);
    EXPECT_EQ(WJ_BigInt_Cmp(t, y), 0);
    WJ_DSA_Parameters_Free(prm);

    // A key of OpenSSL: our signature verifies there, theirs here.
    EVP_PKEY_CTX *pc = EVP_PKEY_CTX_new_from_name(nullptr, "DSA", nullptr);
    EVP_PKEY *params = nullptr, *key = nullptr;
    ASSERT_EQ(EVP_PKEY_paramgen_init(pc), 1);
    EVP_PKEY_CTX_set_dsa_paramgen_bits(pc, 1024);
    ASSERT_EQ(EVP_PKEY_paramgen(pc, &params), 1);
    EVP_PKEY_CTX *kc = EVP_PKEY_CTX_new(params, nullptr);
    ASSERT_EQ(EVP_PKEY_keygen_init(kc), 1);
    ASSERT_EQ(EVP_PKEY_keygen(kc, &key), 1);
    unsigned char *pder = nullptr;
    int pn = i2d_KeyParams(key, &pder);
    Bytes param_der(pder, pder + pn);
    OPENSSL_free(pder);
    WJ_DSA_Parameters *ours = WJ_DSA_Parameters_New();
    ASSERT_EQ(WJ_DSA_Parameters_Decode(ours, param_der.data(), (unsigned)pn), 0);
    EXPECT_EQ(hex(encode_params(WJ_DSA_Parameters_Encode, ours)), hex(param_der));
    Big kx, ky;
    set_param(kx, key, OSSL_PKEY_PARAM_PRIV_KEY);
    set_param(ky, key, OSSL_PKEY_PARAM_PUB_KEY);
    for (size_t dlen : {20, 32, 64}) {
        Bytes d = pattern(dlen, (unsigned)dlen);
        WJ_DSA_Signature *sig = WJ_DSA_Signature_New();
        ASSERT_EQ(WJ_DSA_Sign(sig, d.data(), (unsigned)dlen, kx, ours), 0);
        EXPECT_EQ(WJ_DSA_Verify(sig, d.data(), (unsigned)dlen, ky, ours), 0);
        Bytes der = call_out([&](unsigned char *o, unsigned *l) { return WJ_DSA_Signature_Encode(o, l, sig); });
        EVP_PKEY_CTX *vc = EVP_PKEY_CTX_new(key, nullptr);
        EVP_PKEY_verify_init(vc);
        EXPECT_EQ(EVP_PKEY_verify(vc, der.data(), der.size(), d.data(), dlen), 1) << dlen;
        Bytes theirs(80);
        size_t tn = theirs.size();
        EVP_PKEY_sign_init(vc);
        ASSERT_EQ(EVP_PKEY_sign(vc, theirs.data(), &tn, d.data(), dlen), 1);
        EVP_PKEY_CTX_free(vc);
        ASSERT_EQ(WJ_DSA_Signature_Decode(sig, theirs.data(), (unsigned)tn), 0);
        EXPECT_EQ(WJ_DSA_Verify(sig, d.data(), (unsigned)dlen, ky, ours), 0);
        d[0] ^= 1;
        EXPECT_EQ(WJ_DSA_Verify(sig, d.data(), (unsigned)dlen, ky, ours), WJ_ERR_DSA_VERIFY);
        WJ_DSA_Signature_Free(sig);
    }
    WJ_DSA_Parameters_Free(ours);
    EVP_PKEY_free(key);
    EVP_PKEY_free(params);
    EVP_PKEY_CTX_free(kc);
    EVP_PKEY_CTX_free(pc);
}

// DH: both sides agree with each other and with OpenSSL; bad peer values are refused; the X9.42
// and PKCS#3 forms read and write back.
TEST(CryptoDh, SharedSecretsAndParameterForms) {
    EVP_PKEY_CTX *pc = EVP_PKEY_CTX_new_from_name(nullptr, "DHX", nullptr);
    EVP_PKEY *params = nullptr, *theirs = nullptr;
    ASSERT_EQ(EVP_PKEY_paramgen_init(pc), 1);
    EVP_PKEY_CTX_set_dh_paramgen_prime_len(pc, 1024);
    ASSERT_EQ(EVP_PKEY_paramgen(pc, &params), 1);
    EVP_PKEY_CTX *kc = EVP_PKEY_CTX_new(params, nullptr);
    EVP_PKEY_keygen_init(kc);
    ASSERT_EQ(EVP_PKEY_keygen(kc, &theirs), 1);
    unsigned char *pder = nullptr;
    int pn = i2d_KeyParams(params, &pder);
    Bytes x942(pder, pder + pn);
    OPENSSL_free(pder);
    WJ_DH_Parameters *prm = WJ_DH_Parameters_New();
    ASSERT_EQ(WJ_DH_Parameters_Decode(prm, x942.data(), (unsigned)pn), 0);
    EXPECT_FALSE(WJ_BigInt_GetBitLength(prm->q) == 0);
    EXPECT_EQ(hex(encode_params(WJ_DH_Parameters_Encode, prm)), hex(x942));

    Big a, ya, b, yb, s1, s2, ty;
    ASSERT_EQ(WJ_DH_GenerateKey(a, ya, prm), 0);
    ASSERT_EQ(WJ_DH_GenerateKey(b, yb, prm), 0);
    EXPECT_LT(WJ_BigInt_Cmp(a, prm->q), 0);
    ASSERT_EQ(WJ_DH_ComputeSharedSecret(s1, prm, a, yb), 0);
    ASSERT_EQ(WJ_DH_ComputeSharedSecret(s2, prm, b, ya), 0);
    EXPECT_EQ(WJ_BigInt_Cmp(s1, s2), 0);
    set_param(ty, theirs, OSSL_PKEY_PARAM_PUB_KEY);
    ASSERT_EQ(WJ_DH_ComputeSharedSecret(s1, prm, a, ty), 0);
    // OpenSSL derives with our public value.
    BIGNUM *bya = bn_of(ya);
    OSSL_PARAM_BLD *bld = OSSL_PARAM_BLD_new();
    std::vector<BIGNUM *> keep;  // the builder refers to them until to_param
    for (const char *n : {OSSL_PKEY_PARAM_FFC_P, OSSL_PKEY_PARAM_FFC_Q, OSSL_PKEY_PARAM_FFC_G}) {
        BIGNUM *v = nullptr;
        EVP_PKEY_get_bn_param(params, n, &v);
        OSSL_PARAM_BLD_push_BN(bld, n, v);
        keep.push_back(v);
    }
    OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_PUB_KEY, bya);
    OSSL_PARAM *op = OSSL_PARAM_BLD_to_param(bld);
    for (BIGNUM *v : keep) BN_free(v);
    EVP_PKEY_CTX *fc = EVP_PKEY_CTX_new_from_name(nullptr, "DHX", nullptr);
    EVP_PKEY *peer = nullptr;
    EVP_PKEY_fromdata_init(fc);
    ASSERT_EQ(EVP_PKEY_fromdata(fc, &peer, EVP_PKEY_PUBLIC_KEY, op), 1);
    EVP_PKEY_CTX *dc = EVP_PKEY_CTX_new(theirs, nullptr);
    EVP_PKEY_derive_init(dc);
    EVP_PKEY_derive_set_peer(dc, peer);
    Bytes sec(256);
    size_t sn = sec.size();
    ASSERT_EQ(EVP_PKEY_derive(dc, sec.data(), &sn), 1);
    sec.resize(sn);
    while (sec.size() > 1 && sec[0] == 0) sec.erase(sec.begin());
    EXPECT_EQ(hex(sec), hex_of(s1));

    // Peer values 1, p - 1 and one outside the subgroup of order q.
    Big one("01"), pm1, outside;
    WJ_BigInt_Sub(pm1, prm->p, one);
    set_hex(outside, "02");  // 2 generates more than the subgroup for these primes
    for (WJ_BigInt *v : {one.v, pm1.v, prm->p})
        EXPECT_EQ(WJ_DH_ComputeSharedSecret(s1, prm, a, v), WJ_ERR_BAD_ARGUMENT);
    Big chk;
    WJ_BigInt_ModExp(chk, outside, prm->q, prm->p);
    if (WJ_BigInt_Cmp(chk, one) != 0) {
        EXPECT_EQ(WJ_DH_ComputeSharedSecret(s1, prm, a, outside), WJ_ERR_BAD_ARGUMENT);
    }

    // PKCS#3: prime, base and privateValueLength; keys of that many bits.
    Bytes pkcs3 = from_hex("3011020900e0b7c9f6b3e58a3b020102020140");
    ASSERT_EQ(WJ_DH_Parameters_Decode(prm, pkcs3.data(), (unsigned)pkcs3.size()), 0);
    EXPECT_EQ(WJ_BigInt_GetBitLength(prm->q), 0u);
    EXPECT_EQ(prm->privateValueLength, 64u);
    EXPECT_EQ(hex(encode_params(WJ_DH_Parameters_Encode, prm)), hex(pkcs3));
    Bytes bad_g = from_hex("300e020900e0b7c9f6b3e58a3b020101");
    EXPECT_EQ(WJ_DH_Parameters_Decode(prm, bad_g.data(), (unsigned)bad_g.size()), WJ_ERR_BAD_DER) << "g = 1";
    Bytes trailing = x942;
    trailing.push_back(0);
    EXPECT_EQ(WJ_DH_Parameters_Decode(prm, trailing.data(), (unsigned)trailing.size()), WJ_ERR_BAD_DER);
    EXPECT_EQ(hex(encode_params(WJ_DH_Parameters_Encode, prm)), hex(pkcs3)) << "a failed decode changes nothing";

    OSSL_PARAM_free(op);
    OSSL_PARAM_BLD_free(bld);
    BN_free(bya);
    for (EVP_PKEY *k : {params, theirs, peer}) EVP_PKEY_free(k);
    for (EVP_PKEY_CTX *c : {pc, kc, fc, dc}) EVP_PKEY_CTX_free(c);
    WJ_DH_Parameters_Free(prm);
}
