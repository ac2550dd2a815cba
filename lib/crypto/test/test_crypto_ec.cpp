// Elliptic curves: every block of the EC-KCDSA vector file on every curve (binary curves
// included), ECDSA against OpenSSL, point and parameter encodings, and the point arithmetic.
#include <openssl/ec.h>
#include <openssl/x509.h>

#include <cstring>
#include <map>

#include "ostrel/vectors.hpp"
#include "pk_test_util.hpp"

using namespace pktest;
using ostrel::test::Block;

namespace {

int curve_id(const std::string &name) {
    static const std::map<std::string, int> ids = {
        {"secp192r1", WJ_EC_CURVE_P192},
        {"secp224r1", WJ_EC_CURVE_P224},
        {"secp256r1", WJ_EC_CURVE_P256},
        {"secp384r1", WJ_EC_CURVE_P384},
        {"secp521r1", WJ_EC_CURVE_P521},
        {"sect233k1", WJ_EC_CURVE_K233},
        {"sect233r1", WJ_EC_CURVE_B233},
        {"sect283k1", WJ_EC_CURVE_K283},
        {"sect283r1", WJ_EC_CURVE_B283},
        {"brainpoolP256r1", WJ_EC_CURVE_BRAINPOOL_P256},
        {"brainpoolP384r1", WJ_EC_CURVE_BRAINPOOL_P384},
        {"brainpoolP512r1", WJ_EC_CURVE_BRAINPOOL_P512},
    };
    auto it = ids.find(name);
    return it == ids.end() ? 0 : it->second;
}

struct Curve {
    WJ_EC_Parameters *p = WJ_ECKCDSA_Parameters_New();
    explicit Curve(int id) { EXPECT_EQ(WJ_ECKCDSA_Parameters_SetCurve(p, id), 0) << id; }
    ~Curve() { WJ_ECKCDSA_Parameters_Free(p); }
};

struct Point {
    WJ_EC_POINT *v;
    explicit Point(const Curve &c) : v(WJ_EC_Point_New(c.p)) {}
    ~Point() { WJ_EC_Point_Free(v); }
    Bytes bytes(int compressed = 0) const {
        return call_out([&](unsigned char *o, unsigned *l) { return WJ_EC_Point_Encode(o, l, v, compressed); });
    }
};

Bytes eckcdsa_hash(const Bytes &msg, int hash, const Curve &c, const Point &q) {
    unsigned char out[WJ_HASH_MAX_LENGTH];
    unsigned n = sizeof out;
    EXPECT_EQ(WJ_ECKCDSA_Hash(out, &n, msg.data(), (unsigned)msg.size(), hash, c.p, q.v), 0);
    return Bytes(out, out + n);
}

}  // namespace

TEST(CryptoEcKcdsa, PublishedVectorsOnEveryCurve) {
    auto blocks = ostrel::test::read_vectors(vectors("eckcdsa.txt"));
    ASSERT_EQ(blocks.size(), 280u);
    std::map<std::string, int> done;
    int full = 0, fails = 0;
    for (const Block &b : blocks) {
        SCOPED_TRACE("eckcdsa.txt line " + std::to_string(b.line));
        int id = curve_id(b.get("curve")), hash = hash_id(b.get("hash"));
        ASSERT_NE(id, 0);
        ASSERT_NE(hash, 0);
        Curve c(id);
        Point q(c);
        Bytes oct = from_hex("04" + b.get("qx") + b.get("qy"));
        ASSERT_EQ(WJ_ECKCDSA_PublicKey_Decode(q.v, oct.data(), (unsigned)oct.size(), c.p), 0);
        Bytes msg = from_hex(b.get("msg"));
        Bytes h = eckcdsa_hash(msg, hash, c, q);
        if (b.has("hash_zm")) {
            EXPECT_EQ(hex(h), b.get("hash_zm"));
        }
        WJ_ECKCDSA_Signature *sig = WJ_ECKCDSA_Signature_New();
        Bytes r = from_hex(b.get("r"));
        std::memcpy(sig->r, r.data(), r.size());
        sig->rLength = (unsigned)r.size();
        set_hex(sig->s, b.get("s"));
        int rc = WJ_ECKCDSA_Verify(sig, h.data(), (unsigned)h.size(), hash, q.v, c.p);
        if (b.get("type") == "sign") {
            EXPECT_EQ(rc, 0);
            Big x(b.get("x")), xi, n;
            // Q = (x^-1 mod n) G
            ASSERT_EQ(WJ_EC_OrderOf(n, c.p), 0);
            ASSERT_EQ(WJ_BigInt_ModInverse(xi, x, n), 0);
            Point q2(c);
            ASSERT_EQ(WJ_EC_MulPre(q2.v, xi, c.p), 0);
            EXPECT_EQ(WJ_EC_Cmp(q.v, q2.v, c.p), 0);
            // W = k G has the published X.
            Big k(b.get("k"));
            Point w(c);
            ASSERT_EQ(WJ_EC_MulPre(w.v, k, c.p), 0);
            Bytes wb = w.bytes();
            EXPECT_EQ(hex(Bytes(wb.begin() + 1, wb.begin() + 1 + (long)(wb.size() - 1) / 2)), b.get("wx"));
            if (b.has("z")) {
                Bytes zm = from_hex(b.get("z"));
                zm.insert(zm.end(), msg.begin(), msg.end());
                unsigned char out[64];
                unsigned nn = 0;
                ASSERT_EQ(WJ_Hash(out, &nn, zm.data(), (unsigned)zm.size(), hash), 0);
                EXPECT_EQ(hex(Bytes(out, out + nn)), hex(h));
            }
            Bytes kb = from_hex(b.get("k"));
            ASSERT_EQ(WJ_Test_SetFixedK(kb.data(), (unsigned)kb.size()), 0);
            WJ_ECKCDSA_Signature *mine = WJ_ECKCDSA_Signature_New();
            ASSERT_EQ(WJ_ECKCDSA_Sign(mine, h.data(), (unsigned)h.size(), hash, x, c.p), 0);
            EXPECT_EQ(hex(Bytes(mine->r, mine->r + mine->rLength)), b.get("r"));
            EXPECT_EQ(hex_of(mine->s), hex_of(sig->s));
            // And with a random k: another signature, also valid.
            ASSERT_EQ(WJ_ECKCDSA_Sign(mine, h.data(), (unsigned)h.size(), hash, x, c.p), 0);
            EXPECT_NE(hex_of(mine->s), hex_of(sig->s));
            EXPECT_EQ(WJ_ECKCDSA_Verify(mine, h.data(), (unsigned)h.size(), hash, q.v, c.p), 0);
            WJ_ECKCDSA_Signature_Free(mine);
            for (const char *info : {"hash_w", "h", "e", "derived"}) b.mark_used(info);
        } else {
            bool pass = b.get("result") == "pass";
            fails += !pass;
            full += b.get("r_form") == "full";
            EXPECT_EQ(rc, pass ? 0 : WJ_ERR_ECKCDSA_VERIFY);
            if (pass) {  // a changed message fails
                Bytes other = eckcdsa_hash(Bytes(msg.begin(), msg.end() - 1), hash, c, q);
                EXPECT_EQ(WJ_ECKCDSA_Verify(sig, other.data(), (unsigned)other.size(), hash, q.v, c.p),
                          WJ_ERR_ECKCDSA_VERIFY);
            }
        }
        ++done[b.get("curve")];
        WJ_ECKCDSA_Signature_Free(sig);
        EXPECT_TRUE(b.unused().empty()) << "unchecked key " << b.unused().front();
    }
    EXPECT_EQ(done.size(), 12u) << "every curve of the file ran";
    EXPECT_EQ(full, 63);
    EXPECT_EQ(fails, 42);
}

// Generated key pairs of every curve and hash sign and verify; a damaged signature fails.
TEST(CryptoEcKcdsa, GeneratedKeysEveryHash) {
    for (int id : {WJ_EC_CURVE_P224, WJ_EC_CURVE_P256, WJ_EC_CURVE_P521, WJ_EC_CURVE_B283}) {
        Curve c(id);
        Point q(c);
        Big d, di, n;
        ASSERT_EQ(WJ_ECKCDSA_GenerateKey(d, q.v, c.p), 0);
        WJ_EC_OrderOf(n, c.p);
        WJ_BigInt_ModInverse(di, d, n);
        Point q2(c);
        WJ_EC_MulPre(q2.v, di, c.p);
        EXPECT_EQ(WJ_EC_Cmp(q.v, q2.v, c.p), 0);
        for (int hash :
             {WJ_HASH_SHA1, WJ_HASH_HAS160, WJ_HASH_SHA224, WJ_HASH_SHA256, WJ_HASH_SHA384, WJ_HASH_SHA512}) {
            SCOPED_TRACE(std::to_string(id) + "/" + std::to_string(hash));
            Bytes h = eckcdsa_hash(pattern(33), hash, c, q);
            WJ_ECKCDSA_Signature *sig = WJ_ECKCDSA_Signature_New();
            ASSERT_EQ(WJ_ECKCDSA_Sign(sig, h.data(), (unsigned)h.size(), hash, d, c.p), 0);
            EXPECT_EQ(WJ_ECKCDSA_Verify(sig, h.data(), (unsigned)h.size(), hash, q.v, c.p), 0);
            Bytes der = call_out([&](unsigned char *o, unsigned *l) { return WJ_ECKCDSA_Signature_Encode(o, l, sig); });
            WJ_ECKCDSA_Signature *back = WJ_ECKCDSA_Signature_New();
            ASSERT_EQ(WJ_ECKCDSA_Signature_Decode(back, der.data(), (unsigned)der.size()), 0);
            EXPECT_EQ(WJ_ECKCDSA_Verify(back, h.data(), (unsigned)h.size(), hash, q.v, c.p), 0);
            WJ_BigInt_Copy(back->s, n);
            EXPECT_EQ(WJ_ECKCDSA_Verify(back, h.data(), (unsigned)h.size(), hash, q.v, c.p), WJ_ERR_ECKCDSA_VERIFY);
            EXPECT_EQ(WJ_ECKCDSA_Verify(sig, h.data(), (unsigned)h.size(), hash, q2.v, c.p), 0);
            Point other(c);
            WJ_EC_GeneratorOf(other.v, c.p);
            EXPECT_EQ(WJ_ECKCDSA_Verify(sig, h.data(), (unsigned)h.size(), hash, other.v, c.p), WJ_ERR_ECKCDSA_VERIFY);
            WJ_ECKCDSA_Signature_Free(sig);
            WJ_ECKCDSA_Signature_Free(back);
        }
    }
}

// ECDSA with OpenSSL's keys both ways on prime and binary curves, and digests longer and
// shorter than the order.
TEST(CryptoEcdsa, AgreesWithOpenssl) {
    for (int id : {WJ_EC_CURVE_P256, WJ_EC_CURVE_P384, WJ_EC_CURVE_P521, WJ_EC_CURVE_K233}) {
        const char *name = WJ_EC_CurveName(id);
        ASSERT_NE(name, nullptr);
        EVP_PKEY *k = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", name);
        ASSERT_NE(k, nullptr) << name;
        Curve c(id);
        Point q(c);
        Big d;
        set_param(d, k, OSSL_PKEY_PARAM_PRIV_KEY);
        unsigned char oct[200];
        size_t on = 0;
        ASSERT_EQ(EVP_PKEY_get_octet_string_param(k, OSSL_PKEY_PARAM_PUB_KEY, oct, sizeof oct, &on), 1);
        ASSERT_EQ(WJ_ECDSA_PublicKey_Decode(q.v, oct, (unsigned)on, c.p), 0);
        EXPECT_EQ(hex(q.bytes()), to_hex(oct, on));
        for (size_t dl : {20, 32, 64}) {
            Bytes dg = pattern(dl, (unsigned)dl);
            WJ_ECDSA_Signature *sig = WJ_ECDSA_Signature_New();
            ASSERT_EQ(WJ_ECDSA_Sign(sig, dg.data(), (unsigned)dl, d, c.p), 0);
            EXPECT_EQ(WJ_ECDSA_Verify(sig, dg.data(), (unsigned)dl, q.v, c.p), 0);
            Bytes der = call_out([&](unsigned char *o, unsigned *l) { return WJ_ECDSA_Signature_Encode(o, l, sig); });
            EVP_PKEY_CTX *x = EVP_PKEY_CTX_new(k, nullptr);
            EVP_PKEY_verify_init(x);
            EXPECT_EQ(EVP_PKEY_verify(x, der.data(), der.size(), dg.data(), dl), 1) << name << " " << dl;
            Bytes theirs(160);
            size_t tn = theirs.size();
            EVP_PKEY_sign_init(x);
            ASSERT_EQ(EVP_PKEY_sign(x, theirs.data(), &tn, dg.data(), dl), 1);
            EVP_PKEY_CTX_free(x);
            ASSERT_EQ(WJ_ECDSA_Signature_Decode(sig, theirs.data(), (unsigned)tn), 0);
            EXPECT_EQ(WJ_ECDSA_Verify(sig, dg.data(), (unsigned)dl, q.v, c.p), 0);
            dg[0] ^= 0x80;  // the leftmost bits are the ones used
            EXPECT_EQ(WJ_ECDSA_Verify(sig, dg.data(), (unsigned)dl, q.v, c.p), WJ_ERR_ECDSA_VERIFY);
            WJ_ECDSA_Signature_Free(sig);
        }
        EVP_PKEY_free(k);
    }
}

// Parameters: named curves by OID, explicit parameters of a known curve, unknown curves; points:
// compressed and uncompressed forms, points off the curve, the point at infinity, wrong curves.
TEST(CryptoEc, ParametersPointsAndArithmetic) {
    Curve c(WJ_EC_CURVE_P256);
    Bytes der = call_out([&](unsigned char *o, unsigned *l) { return WJ_ECDSA_Parameters_Encode(o, l, c.p); });
    EXPECT_EQ(hex(der), "06082a8648ce3d030107");
    EC_GROUP *g = EC_GROUP_new_by_curve_name(NID_secp384r1);
    EC_GROUP_set_asn1_flag(g, OPENSSL_EC_EXPLICIT_CURVE);
    unsigned char *p = nullptr;
    int n = i2d_ECPKParameters(g, &p);
    Bytes explicit_der(p, p + n);
    OPENSSL_free(p);
    EC_GROUP_free(g);
    WJ_EC_Parameters *e = WJ_ECDSA_Parameters_New();
    ASSERT_EQ(WJ_ECDSA_Parameters_Decode(e, explicit_der.data(), (unsigned)n), 0);
    EXPECT_EQ(e->curve, WJ_EC_CURVE_P384);
    for (const char *bad : {"06052b81040099", "06082a8648ce3d03010700", "0500", "0603"}) {
        Bytes b = from_hex(bad);
        EXPECT_NE(WJ_ECDSA_Parameters_Decode(e, b.data(), (unsigned)b.size()), 0) << bad;
    }
    EXPECT_EQ(e->curve, WJ_EC_CURVE_P384) << "a failed decode keeps the curve";
    EXPECT_EQ(WJ_ECDSA_Parameters_SetCurve(e, 99), WJ_ERR_UNKNOWN_ID);
    // Every curve of the table that this OpenSSL has encodes and decodes back.
    for (int id : {1, 2, 3, 4, 5, 11, 12, 13, 14, 21, 22, 23, 24, 31}) {
        WJ_EC_Parameters *t = WJ_ECDSA_Parameters_New();
        ASSERT_EQ(WJ_ECDSA_Parameters_SetCurve(t, id), 0) << id;
        Bytes d2 = call_out([&](unsigned char *o, unsigned *l) { return WJ_ECDSA_Parameters_Encode(o, l, t); });
        WJ_EC_Parameters *u = WJ_ECDSA_Parameters_New();
        ASSERT_EQ(WJ_ECDSA_Parameters_Decode(u, d2.data(), (unsigned)d2.size()), 0);
        EXPECT_EQ(u->curve, id);
        WJ_ECDSA_Parameters_Free(t);
        WJ_ECDSA_Parameters_Free(u);
    }

    Point gen(c), q(c), sum(c), back(c);
    ASSERT_EQ(WJ_EC_GeneratorOf(gen.v, c.p), 0);
    Big k("0123456789abcdef"), two("02"), k2;
    ASSERT_EQ(WJ_EC_MulPre(q.v, k, c.p), 0);
    ASSERT_EQ(WJ_EC_Mul(back.v, k, gen.v, c.p), 0);
    EXPECT_EQ(WJ_EC_Cmp(q.v, back.v, c.p), 0) << "k G by both routes";
    WJ_BigInt_Mul(k2, k, two);
    ASSERT_EQ(WJ_EC_Mul(sum.v, two, q.v, c.p), 0);
    ASSERT_EQ(WJ_EC_MulPre(back.v, k2, c.p), 0);
    EXPECT_EQ(WJ_EC_Cmp(sum.v, back.v, c.p), 0) << "2 (k G) = (2k) G";
    EXPECT_EQ(WJ_EC_Cmp(q.v, gen.v, c.p), 1);
    Bytes full = q.bytes(), comp = q.bytes(1);
    ASSERT_EQ(full.size(), 65u);
    ASSERT_EQ(comp.size(), 33u);
    ASSERT_EQ(WJ_ECDSA_PublicKey_Decode(back.v, comp.data(), 33, c.p), 0);
    EXPECT_EQ(hex(back.bytes()), hex(full)) << "the compressed form decodes to the same point";
    Bytes off = full;
    off[64] ^= 1;
    EXPECT_EQ(WJ_ECDSA_PublicKey_Decode(back.v, off.data(), 65, c.p), WJ_ERR_BAD_DER) << "not on the curve";
    EXPECT_EQ(hex(back.bytes()), hex(full)) << "a failed decode keeps the point";
    Bytes inf = {0x00}, hybrid = full, cut(full.begin(), full.end() - 1);
    hybrid[0] = 6;
    for (const Bytes &b : {inf, hybrid, cut})
        EXPECT_EQ(WJ_ECDSA_PublicKey_Decode(back.v, b.data(), (unsigned)b.size(), c.p), WJ_ERR_BAD_DER);
    Curve other(WJ_EC_CURVE_P384);
    EXPECT_EQ(WJ_ECDSA_PublicKey_Decode(back.v, full.data(), 65, other.p), WJ_ERR_BAD_ARGUMENT)
        << "a point of another curve";
    // On a binary curve the point with x = 0 is written with y-bit 0; the other bit is no form of it.
    Curve binary(WJ_EC_CURVE_B233);
    Point zero(binary);
    Bytes x0(31, 0);
    x0[0] = 2;
    ASSERT_EQ(WJ_ECDSA_PublicKey_Decode(zero.v, x0.data(), 31, binary.p), 0);
    EXPECT_EQ(hex(zero.bytes(1)), hex(x0));
    x0[0] = 3;
    EXPECT_EQ(WJ_ECDSA_PublicKey_Decode(zero.v, x0.data(), 31, binary.p), WJ_ERR_BAD_DER);
    Big z;
    Point fresh(c);
    EXPECT_EQ(hex(fresh.bytes()), "00") << "a new point is the point at infinity";
    WJ_ECDSA_Signature *sig = WJ_ECDSA_Signature_New();
    Bytes dg(32, 7);
    EXPECT_NE(WJ_ECDSA_Verify(sig, dg.data(), 32, fresh.v, c.p), 0);
    WJ_ECDSA_Signature_Free(sig);
    WJ_ECDSA_Parameters_Free(e);
}
