// The signature-algorithm table and the one signature check: every algorithm of the table signs
// and verifies through the AlgorithmIdentifier and a SubjectPublicKeyInfo, identifiers survive
// encoding and decoding, RSASSA-PSS parameters are read as RFC 4055 writes them and their salt
// length is enforced, keys of the wrong algorithm and missing domain parameters are refused.
#include <gtest/gtest.h>

#include "csp_pkey_util.hpp"
#include "ostrel/der_build.hpp"

using namespace csptest;

namespace {

Bytes hex(const char *h) { return ostrel::test::from_hex(h); }

using ostrel::test::der::cat;
using ostrel::test::der::tlv;

const Bytes kNull = {0x05, 0x00};
const Bytes kRsaEncryption = hex("2a864886f70d010101");
const Bytes kIdDsa = hex("2a8648ce380401");
const Bytes kIdEcPublicKey = hex("2a8648ce3d0201");
const Bytes kKcdsa1 = hex("2a831a8c9a440115");

// SubjectPublicKeyInfo with an algorithm, its parameters (whole encoding, may be empty) and key.
Bytes spki(const Bytes &oid, const Bytes &params, const Bytes &key) {
    Bytes bits = {0x00};
    bits.insert(bits.end(), key.begin(), key.end());
    return tlv(0x30, cat({tlv(0x30, cat({tlv(0x06, oid), params})), tlv(0x03, bits)}));
}

struct Signer {
    Bytes spki, priv, param, pub;
};

const Signer &signer(int pkey) {
    static Signer rsa, dsa, ec, kc, ekc;
    static bool made = false;
    if (!made) {
        made = true;
        const RawKeys &r = rsa_keys();
        rsa = {spki(kRsaEncryption, kNull, r.pub), r.priv, {}, r.pub};
        RawKeys d = make_dl(WJ_PKEY_DSA, dsa_params());
        dsa = {spki(kIdDsa, d.param, d.pub), d.priv, d.param, d.pub};
        RawKeys e = make_ec(WJ_EC_CURVE_P256, false);
        ec = {spki(kIdEcPublicKey, e.param, e.pub), e.priv, e.param, e.pub};
        RawKeys k = make_dl(WJ_PKEY_KCDSA, kcdsa_params());
        kc = {spki(kKcdsa1, k.param, k.pub), k.priv, k.param, k.pub};
        RawKeys ek = make_ec(WJ_EC_CURVE_P256, true);
        ekc = {spki(kIdEcPublicKey, ek.param, ek.pub), ek.priv, ek.param, ek.pub};
    }
    switch (pkey) {
        case QRT_CSP_PKEY_DSA:
            return dsa;
        case QRT_CSP_PKEY_ECDSA:
            return ec;
        case QRT_CSP_PKEY_KCDSA:
            return kc;
        case QRT_CSP_PKEY_ECKCDSA:
            return ekc;
        default:
            return rsa;
    }
}

Bytes encode(const ZQ_CSP_SigAlg &a) {
    Out der;
    EXPECT_EQ(QRT_CSP_SigAlg_Encode(&der, &a), 0);
    return der.bytes();
}

// The parts of a DER AlgorithmIdentifier, as a decoded tree would give them.
struct Parts {
    Bytes oid, params;
    BIN pb{0, nullptr};
    ZQ_CSP_AlgID id{};
    explicit Parts(const Bytes &der) {
        size_t at = der[1] & 0x80 ? 2 + (der[1] & 0x7f) : 2;
        size_t oid_len = der[at + 1];
        oid.assign(der.begin() + static_cast<long>(at + 2), der.begin() + static_cast<long>(at + 2 + oid_len));
        params.assign(der.begin() + static_cast<long>(at + 2 + oid_len), der.end());
        pb = view(params);
        id = ZQ_CSP_AlgID{oid.data(), static_cast<unsigned>(oid.size()), params.empty() ? nullptr : &pb};
    }
};

Bytes sign_data(const ZQ_CSP_SigAlg &a, const Bytes &data, const Signer &s) {
    BIN d = view(data), k = view(s.priv), p = view(s.param), q = view(s.pub);
    Out sig;
    EXPECT_EQ(QRT_CSP_SignData(&sig, &d, &a, &k, s.param.empty() ? nullptr : &p, &q), 0) << a.signID;
    return sig.bytes();
}

int verify_data(const Bytes &algid, const Bytes &data, const Bytes &sig, const Bytes &key,
                const Bytes *inherited = nullptr) {
    Parts parts(algid);
    BIN d = view(data), s = view(sig), k = view(key), i = inherited ? view(*inherited) : BIN{0, nullptr};
    return QRT_CSP_VerifySignedData(&parts.id, &d, &s, &k, inherited ? &i : nullptr);
}

struct Case {
    ZQ_CSP_SigAlg alg;
    const char *oid_hex;  // the identifier the table writes
};

const Case kCases[] = {
    {{2, 2, 1, 0, 0}, "2a864886f70d010104"},
    {{3, 3, 1, 0, 0}, "2a864886f70d010105"},
    {{7, 9, 1, 0, 0}, "2a864886f70d01010e"},
    {{4, 6, 1, 0, 0}, "2a864886f70d01010b"},
    {{5, 7, 1, 0, 0}, "2a864886f70d01010c"},
    {{6, 8, 1, 0, 0}, "2a864886f70d01010d"},
    {{10, 4, 1, 0, 0}, "2a831a8c9a440114"},
    {{11, 6, 1, 6, 32}, "2a864886f70d01010a"},
    {{11, 3, 1, 3, 20}, "2a864886f70d01010a"},
    {{11, 7, 1, 3, 0}, "2a864886f70d01010a"},
    {{11, 6, 1, 6, -1}, "2a864886f70d01010a"},
    {{15, 3, 3, 0, 0}, "2a8648ce380403"},
    {{15, 9, 3, 0, 0}, "608648016503040301"},
    {{15, 6, 3, 0, 0}, "608648016503040302"},
    {{16, 3, 5, 0, 0}, "2a8648ce3d0401"},
    {{16, 9, 5, 0, 0}, "2a8648ce3d040301"},
    {{16, 6, 5, 0, 0}, "2a8648ce3d040302"},
    {{16, 7, 5, 0, 0}, "2a8648ce3d040303"},
    {{16, 8, 5, 0, 0}, "2a8648ce3d040304"},
    {{21, 3, 11, 0, 0}, "2a831a8c9a440117"},
    {{22, 4, 11, 0, 0}, "2a831a8c9a440116"},
    {{26, 9, 11, 0, 0}, nullptr},
    {{27, 6, 11, 0, 0}, nullptr},
    {{28, 7, 11, 0, 0}, nullptr},
    {{29, 8, 11, 0, 0}, nullptr},
    {{23, 3, 12, 0, 0}, nullptr},
    {{24, 4, 12, 0, 0}, nullptr},
    {{35, 9, 12, 0, 0}, nullptr},
    {{36, 6, 12, 0, 0}, nullptr},
    {{37, 7, 12, 0, 0}, nullptr},
    {{38, 8, 12, 0, 0}, nullptr},
};

}  // namespace

class CspSigAlg : public ::testing::Test {
  protected:
    void SetUp() override {
        QRT_Trace_Initialize();
        ostrel::test::trace_records();
    }
};

// Each algorithm of the table: its identifier decodes back to itself, a signature made through
// it verifies over the bytes, a changed byte or a changed signature gives 6012, and a key of
// another algorithm gives 6012.
TEST_F(CspSigAlg, EveryAlgorithmSignsAndVerifies) {
    Bytes data = pattern(777, 5);
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.alg.signID * 100 + c.alg.hashID);
        Bytes der = encode(c.alg);
        ASSERT_FALSE(der.empty());
        if (c.oid_hex) {
            EXPECT_EQ(Parts(der).oid, hex(c.oid_hex));
        }
        ZQ_CSP_SigAlg back{};
        BIN db = view(der);
        ASSERT_EQ(QRT_CSP_SigAlg_Decode(&back, &db), 0);
        EXPECT_EQ(back.signID, c.alg.signID);
        EXPECT_EQ(back.hashID, c.alg.hashID);
        EXPECT_EQ(back.pkeyID, c.alg.pkeyID);
        if (c.alg.signID == QRT_CSP_SIGN_RSA_PSS) {
            EXPECT_EQ(back.mgfHashID, c.alg.mgfHashID);
            EXPECT_EQ(back.saltLength, c.alg.saltLength ? c.alg.saltLength : back.saltLength);
        }
        const Signer &s = signer(c.alg.pkeyID);
        Bytes sig = sign_data(c.alg, data, s);
        EXPECT_EQ(verify_data(der, data, sig, s.spki), 0) << ostrel::test::trace_text();
        Bytes other = data;
        other[100] ^= 1;
        EXPECT_EQ(verify_data(der, other, sig, s.spki), QRT_CSP_INVALID_SIGNATURE);
        const Signer &wrong = signer(c.alg.pkeyID == QRT_CSP_PKEY_RSA ? QRT_CSP_PKEY_ECDSA : QRT_CSP_PKEY_RSA);
        EXPECT_EQ(verify_data(der, data, sig, wrong.spki), QRT_CSP_INVALID_SIGNATURE);
        ostrel::test::trace_records();
    }
}

// Domain parameters: a DSA or EC key without its own takes the issuer's; without either the
// check stops at 6032 instead of verifying under nothing.
TEST_F(CspSigAlg, InheritedDomainParameters) {
    Bytes data = pattern(300, 9);
    for (int pkey : {QRT_CSP_PKEY_DSA, QRT_CSP_PKEY_ECDSA, QRT_CSP_PKEY_KCDSA}) {
        SCOPED_TRACE(pkey);
        const Signer &s = signer(pkey);
        ZQ_CSP_SigAlg alg{pkey == QRT_CSP_PKEY_DSA ? 15 : pkey == QRT_CSP_PKEY_ECDSA ? 16 : 27, 6, pkey, 0, 0};
        Bytes der = encode(alg), sig = sign_data(alg, data, s);
        const Bytes &oid = pkey == QRT_CSP_PKEY_DSA ? kIdDsa : pkey == QRT_CSP_PKEY_ECDSA ? kIdEcPublicKey : kKcdsa1;
        for (const Bytes &params : {Bytes{}, kNull}) {
            Bytes bare = spki(oid, params, s.pub);
            EXPECT_EQ(verify_data(der, data, sig, bare, &s.param), 0) << ostrel::test::trace_text();
            EXPECT_EQ(verify_data(der, data, sig, bare), QRT_CSP_BAD_PARAM);
        }
    }
}

// RSASSA-PSS parameters as RFC 4055 writes them: an empty SEQUENCE is SHA-1, MGF1 with SHA-1 and
// a 20-byte salt; a demanded salt length is enforced; trailers other than 1, masks other than
// MGF1, absent parameters and trailing bytes are refused.
TEST_F(CspSigAlg, PssParameters) {
    const Bytes pss_oid = hex("2a864886f70d01010a");
    auto algid = [&](const Bytes &params) { return tlv(0x30, cat({tlv(0x06, pss_oid), params})); };
    ZQ_CSP_SigAlg got{};
    Bytes empty = algid(tlv(0x30, {}));
    BIN e = view(empty);
    ASSERT_EQ(QRT_CSP_SigAlg_Decode(&got, &e), 0);
    EXPECT_EQ(got.hashID, QRT_CSP_HASH_SHA1);
    EXPECT_EQ(got.mgfHashID, QRT_CSP_HASH_SHA1);
    EXPECT_EQ(got.saltLength, 20);

    Bytes sha256 = tlv(0x30, cat({tlv(0x06, hex("608648016503040201")), kNull}));
    Bytes mgf = tlv(0x30, cat({tlv(0x06, hex("2a864886f70d010108")), sha256}));
    auto params = [&](int salt, int trailer, const Bytes &mask) {
        Bytes seq = cat({tlv(0xA0, sha256), tlv(0xA1, mask), tlv(0xA2, tlv(0x02, {static_cast<unsigned char>(salt)}))});
        if (trailer != 1) seq = cat({seq, tlv(0xA3, tlv(0x02, {static_cast<unsigned char>(trailer)}))});
        return tlv(0x30, seq);
    };
    const struct {
        Bytes der;
        int want;
    } reads[] = {
        {algid(params(32, 1, mgf)), 0},
        {algid(params(32, 2, mgf)), QRT_CSP_UNKNOWN_ID},
        {algid(params(32, 1, tlv(0x30, cat({tlv(0x06, hex("2a864886f70d010109")), sha256})))), QRT_CSP_UNKNOWN_ID},
        {algid({}), QRT_CSP_UNKNOWN_ID},
        {algid(kNull), QRT_CSP_UNKNOWN_ID},
        {cat({algid(params(32, 1, mgf)), Bytes{0}}), QRT_CSP_UNKNOWN_ID},
    };
    for (const auto &r : reads) {
        BIN b = view(r.der);
        EXPECT_EQ(QRT_CSP_SigAlg_Decode(&got, &b), r.want);
    }

    // A signature with a 20-byte salt under parameters that fix 32 (and the other way) fails.
    const Signer &s = signer(QRT_CSP_PKEY_RSA);
    Bytes data = pattern(500, 3);
    ZQ_CSP_SigAlg salt20{11, 6, 1, 6, 20}, salt32{11, 6, 1, 6, 32};
    Bytes sig20 = sign_data(salt20, data, s), sig32 = sign_data(salt32, data, s);
    Bytes fix32 = algid(params(32, 1, mgf)), fix20 = encode(salt20);
    EXPECT_EQ(verify_data(fix32, data, sig32, s.spki), 0);
    EXPECT_EQ(verify_data(fix32, data, sig20, s.spki), QRT_CSP_INVALID_SIGNATURE);
    EXPECT_EQ(verify_data(fix20, data, sig20, s.spki), 0);
    EXPECT_EQ(verify_data(fix20, data, sig32, s.spki), QRT_CSP_INVALID_SIGNATURE);

    // A key restricted to PSS with SHA-256 and salts of 32 or more.
    Bytes pss_key = spki(pss_oid, params(32, 1, mgf), s.pub);
    EXPECT_EQ(verify_data(fix32, data, sig32, pss_key), 0);
    EXPECT_EQ(verify_data(fix20, data, sig20, pss_key), QRT_CSP_INVALID_SIGNATURE);
    Bytes v15 = encode(ZQ_CSP_SigAlg{4, 6, 1, 0, 0});
    Bytes v15_sig = sign_data(ZQ_CSP_SigAlg{4, 6, 1, 0, 0}, data, s);
    EXPECT_EQ(verify_data(v15, data, v15_sig, pss_key), QRT_CSP_INVALID_SIGNATURE);
    // without parameters an RSASSA-PSS key takes any PSS signature, and still no v1.5 one
    Bytes open_pss_key = spki(pss_oid, {}, s.pub);
    EXPECT_EQ(verify_data(fix20, data, sig20, open_pss_key), 0);
    EXPECT_EQ(verify_data(v15, data, v15_sig, open_pss_key), QRT_CSP_INVALID_SIGNATURE);
}

// What a caller meets with unknown or broken input: codes, never a crash.
TEST_F(CspSigAlg, RefusedInput) {
    const Signer &s = signer(QRT_CSP_PKEY_RSA);
    Bytes data = pattern(64, 1);
    Bytes good = encode(ZQ_CSP_SigAlg{4, 6, 1, 0, 0});
    Bytes sig = sign_data(ZQ_CSP_SigAlg{4, 6, 1, 0, 0}, data, s);
    // an identifier outside the table; RSA v1.5 with parameters other than NULL
    Bytes unknown = tlv(0x30, tlv(0x06, hex("2a864886f70d010103")));
    Bytes odd_params = tlv(0x30, cat({tlv(0x06, hex("2a864886f70d01010b")), tlv(0x04, {1})}));
    EXPECT_EQ(verify_data(unknown, data, sig, s.spki), QRT_CSP_UNKNOWN_ID);
    EXPECT_EQ(verify_data(odd_params, data, sig, s.spki), QRT_CSP_UNKNOWN_ID);
    // RSA v1.5 also reads without parameters
    EXPECT_EQ(verify_data(tlv(0x30, tlv(0x06, hex("2a864886f70d01010b"))), data, sig, s.spki), 0);
    // keys that do not read
    Bytes truncated(s.spki.begin(), s.spki.end() - 1);
    Bytes unused_bits = s.spki;
    size_t bit_at = s.spki.size() - s.pub.size() - 1;
    unused_bits[bit_at] = 1;
    Bytes unknown_key = spki(hex("2a864886f70d010107"), kNull, s.pub);
    for (const Bytes *k : {&truncated, &unused_bits, &unknown_key})
        EXPECT_EQ(verify_data(good, data, sig, *k), QRT_CSP_BAD_PUBKEY);
    // a signature that is not one: DER garbage for ECDSA, an empty one for RSA
    const Signer &ec = signer(QRT_CSP_PKEY_ECDSA);
    Bytes ecdsa = encode(ZQ_CSP_SigAlg{16, 6, 5, 0, 0});
    EXPECT_EQ(verify_data(ecdsa, data, Bytes{0x30, 0x03, 0x02, 0x01}, ec.spki), QRT_CSP_BAD_SIGNATURE);
    EXPECT_EQ(verify_data(good, data, Bytes{}, s.spki), QRT_CSP_INVALID_SIGNATURE);
    // NULL arguments
    BIN d = view(data), k = view(s.spki), g = view(sig);
    EXPECT_EQ(QRT_CSP_VerifySignedData(nullptr, &d, &g, &k, nullptr), QRT_CSP_INVALID_INPUT);
    ZQ_CSP_SigAlg none{12, 6, 1, 0, 0};
    Out der;
    EXPECT_EQ(QRT_CSP_SigAlg_Encode(&der, &none), QRT_CSP_UNKNOWN_ID);
    EXPECT_EQ(der.b.value, nullptr);
}

// PKCS#7 and CMS signers name their algorithm by the key's identifier beside a digest, or by a
// signature identifier that must agree with that digest; either resolves to the table's row and
// verifies through the resolved form.
TEST_F(CspSigAlg, SignerAlgorithms) {
    Bytes data = pattern(500, 3);
    struct Row {
        Bytes oid;
        int hash, sign, pkey;
    };
    const Row rows[] = {
        {kRsaEncryption, 6, 4, 1},           {kRsaEncryption, 3, 3, 1}, {kIdDsa, 3, 15, 3},
        {kIdEcPublicKey, 7, 16, 5},          {kKcdsa1, 6, 27, 11},      {hex("2a864886f70d01010b"), 6, 4, 1},
        {hex("2a8648ce3d040302"), 6, 16, 5},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.sign * 100 + r.hash);
        ZQ_CSP_AlgID id{r.oid.data(), static_cast<unsigned>(r.oid.size()), nullptr};
        ZQ_CSP_SigAlg alg{};
        ASSERT_EQ(QRT_CSP_SigAlg_ForSigner(&alg, &id, r.hash), 0);
        EXPECT_EQ(alg.signID, r.sign);
        EXPECT_EQ(alg.pkeyID, r.pkey);
        const Signer &s = signer(r.pkey);
        Bytes sig = sign_data(alg, data, s);
        BIN d = view(data), g = view(sig), k = view(s.spki);
        EXPECT_EQ(QRT_CSP_VerifySignedDataAlg(&alg, &d, &g, &k, nullptr), 0) << ostrel::test::trace_text();
        sig[sig.size() / 2] ^= 0x10;
        g = view(sig);
        EXPECT_EQ(QRT_CSP_VerifySignedDataAlg(&alg, &d, &g, &k, nullptr), QRT_CSP_INVALID_SIGNATURE);
    }
    // a signature identifier whose hash is not the digest's, a hash no row has, an unknown row
    Bytes sha256rsa = hex("2a864886f70d01010b");
    ZQ_CSP_AlgID id{sha256rsa.data(), static_cast<unsigned>(sha256rsa.size()), nullptr};
    ZQ_CSP_SigAlg alg{};
    EXPECT_EQ(QRT_CSP_SigAlg_ForSigner(&alg, &id, 3), QRT_CSP_UNKNOWN_ID);
    EXPECT_EQ(QRT_CSP_SigAlg_ForKey(&alg, QRT_CSP_PKEY_DSA, 8), QRT_CSP_UNKNOWN_ID);
    ZQ_CSP_SigAlg bogus{99, 6, 1, 0, 0};
    BIN d = view(data), k = view(signer(1).spki);
    EXPECT_EQ(QRT_CSP_VerifySignedDataAlg(&bogus, &d, &d, &k, nullptr), QRT_CSP_UNKNOWN_ID);
}
