// PrivateKeyInfo and EncryptedPrivateKeyInfo against the openssl command in both directions,
// password change and key replacement (attribute order, nothing half-written), the VID random
// attribute and refused records.
#include <gtest/gtest.h>

#include <algorithm>
#include <compare>
#include <initializer_list>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "ostrel/test_support.hpp"
#include "suite_pkcs8.h"

namespace {

using Bytes = std::vector<unsigned char>;
namespace t = ostrel::test;

BIN view(const Bytes &b) { return BIN{static_cast<unsigned>(b.size()), const_cast<unsigned char *>(b.data())}; }
Bytes bytes(const BIN &b) { return b.value ? Bytes(b.value, b.value + b.length) : Bytes{}; }
Bytes str(const std::string &s) { return Bytes(s.begin(), s.end()); }

using Out = ostrel::test::OutBin;

struct Info {
    ZQ_PKCS8_PRIVKEY_INFO i{};
    ~Info() { QRT_PKCS8_ResetPrivKeyInfo(&i); }
    ZQ_PKCS8_PRIVKEY_INFO *operator&() { return &i; }
};
struct EncInfo {
    ZQ_PKCS8_ENC_PRIVKEY_INFO e{};
    ~EncInfo() { QRT_PKCS8_ResetEncPrivKeyInfo(&e); }
    ZQ_PKCS8_ENC_PRIVKEY_INFO *operator&() { return &e; }
};

const std::string kLegacy = " -provider legacy -provider default";

// One RSA key made by openssl as an unencrypted PrivateKeyInfo, shared by the tests.
struct Key {
    t::TempDir dir;
    Bytes der;   // PrivateKeyInfo
    Bytes priv;  // its privateKey octets
    Bytes rsa;   // the key as openssl writes it back out of a container (RSAPrivateKey)
    Key() {
        t::run("openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024 -out " + dir / "key.pem" +
               " 2>/dev/null && openssl pkcs8 -topk8 -nocrypt -in " + dir / "key.pem" + " -outform DER -out " +
               dir / "key.der");
        der = str(t::read_file(dir / "key.der"));
        Info info;
        BIN in = view(der);
        if (QRT_PKCS8_DecodePrivKeyInfo(&info, &in) == 0) priv = bytes(*info.i.privKey);
        t::run("openssl rsa -in " + dir / "key.pem" + " -traditional -outform DER -out " + dir / "rsa.der" +
               " 2>/dev/null");
        rsa = str(t::read_file(dir / "rsa.der"));
    }
};
const Key &key() {
    static Key k;
    return k;
}

bool have_openssl() { return t::have_command("openssl") && !key().priv.empty(); }

// openssl pkcs8 -topk8 with the given scheme options; the EncryptedPrivateKeyInfo DER.
Bytes openssl_encrypt(const std::string &opts, const std::string &pw) {
    const std::string out = key().dir / "enc.der";
    std::remove(out.c_str());
    t::run("openssl pkcs8 -topk8 -inform DER -in " + key().dir / "key.der" + " -outform DER -out " + out +
           " -passout pass:" + pw + " " + opts + kLegacy + " 2>/dev/null");
    return str(t::read_file(out));
}

// What openssl makes of our container: the key in its traditional form, empty when it fails.
Bytes openssl_decrypt(const Bytes &enc, const std::string &pw) {
    const std::string in = key().dir / "ours.der", out = key().dir / "back.der";
    t::write_file(in, std::string(enc.begin(), enc.end()));
    std::remove(out.c_str());
    t::run("openssl pkcs8 -inform DER -in " + in + " -outform DER -out " + out + " -passin pass:" + pw + kLegacy +
           " 2>/dev/null");
    return str(t::read_file(out));
}

ZQ_PKCS8_PRIVKEY_INFO rsa_view(BIN *priv, BIN *vid = nullptr) {
    ZQ_PKCS8_PRIVKEY_INFO i{};
    i.algID = QRT_PKCS8_ALG_RSA;
    i.privKey = priv;
    i.attribs.vidRandom = vid;
    return i;
}

Bytes encrypt(ZQ_PKCS5_PBES_ALGID scheme, const ZQ_PKCS8_PRIVKEY_INFO &info, const std::string &pw) {
    ZQ_PKCS8_ENC_PRIVKEY_INFO enc{};
    enc.pbesID = scheme;
    enc.info = info;
    Bytes p = str(pw);
    BIN pb = view(p);
    Out der;
    EXPECT_EQ(QRT_PKCS8_EncodeEncPrivKeyInfo(&der, &enc, &pb), 0) << scheme.pbesID << "/" << scheme.pbes2Param.encID;
    return der.bytes();
}

int decrypt_code(const Bytes &der, const std::string &pw) {
    Bytes p = str(pw);
    BIN d = view(der), pb = view(p);
    EncInfo enc;
    return QRT_PKCS8_DecodeEncPrivKeyInfo(&enc, &d, &pb);
}

ZQ_PKCS5_PBES_ALGID pbes(int id, int enc = 0, int prf = 0) {
    ZQ_PKCS5_PBES_ALGID a{};
    a.pbesID = id;
    a.pbes2Param.kdfID = id == QRT_PKCS5_PBES2 ? 1 : 0;
    a.pbes2Param.encID = enc;
    a.pbes2Param.prfID = prf;
    return a;
}

// The attributes of the plaintext of an encrypted container: type OID contents and value DER.
struct Attr {
    Bytes type, value;
    bool operator==(const Attr &) const = default;
    auto operator<=>(const Attr &) const = default;
};
// Attributes is a SET OF: DER puts its elements in the order of their encodings, so lists are
// compared as sets.
std::vector<Attr> sorted(std::vector<Attr> v) {
    std::sort(v.begin(), v.end());
    return v;
}
std::vector<Attr> attributes_of(const Bytes &der, const std::string &pw, bool *present = nullptr) {
    std::vector<Attr> out;
    void *tree = nullptr;
    BIN d = view(der);
    if (QRT_ASN_DecodePDU(&tree, &d, EncryptedPrivateKeyInfo_PDU)) return out;
    auto *e = static_cast<EncryptedPrivateKeyInfo *>(tree);
    Out aid, plain;
    ZQ_PKCS5_PBES_ALGID alg{};
    Bytes p = str(pw);
    BIN pb = view(p);
    QRT_ASN_EncodePDU(&aid, &e->encryptionAlgorithm, AlgorithmIdentifier_PDU);
    EXPECT_EQ(QRT_PKCS5_DecryptData(&alg, &plain, &aid.b, &e->encryptedData, &pb), 0);
    QRT_ASN_FreePDU(tree, EncryptedPrivateKeyInfo_PDU);
    tree = nullptr;
    if (QRT_ASN_DecodePDU(&tree, &plain.b, PrivateKeyInfo_PDU)) return out;
    auto *pki = static_cast<PrivateKeyInfo *>(tree);
    if (present) *present = (pki->bit_mask & PrivateKeyInfo_attributes_present) != 0;
    for (Attributes a = pki->attributes; a; a = a->next)
        out.push_back({Bytes(a->value.type.value, a->value.type.value + a->value.type.length),
                       a->value.values ? bytes(a->value.values->value) : Bytes{}});
    QRT_ASN_FreePDU(tree, PrivateKeyInfo_PDU);
    return sorted(out);
}

Bytes oid_bytes(const ObjectID &o) { return Bytes(o.value, o.value + o.length); }
Bytes vid_der(const Bytes &vid) {
    Bytes d(vid.size() + 3, 0);
    d[0] = 0x03;
    d[1] = static_cast<unsigned char>(vid.size() + 1);
    for (size_t i = 0; i < vid.size(); ++i) d[3 + i] = vid[i];
    return d;
}

// An encrypted container whose PrivateKeyInfo carries the given attributes, built by hand.
Bytes container_with(const std::vector<Attr> &attrs, const std::string &pw) {
    Bytes priv = key().priv;
    BIN pk = view(priv);
    ZQ_PKCS8_PRIVKEY_INFO info = rsa_view(&pk);
    PrivateKeyInfo pki{};
    EXPECT_EQ(QRT_PKCS8_AsnPrivKeyInfo_Encode(&pki, &info), 0);
    Attributes *list = QRT_PKCS8_AsnAttribs_New();
    for (const Attr &a : attrs) {
        Attribute_values_ v{nullptr, view(a.value)};
        Attribute one{ObjectID{static_cast<unsigned short>(a.type.size()), const_cast<unsigned char *>(a.type.data())},
                      &v};
        EXPECT_EQ(QRT_PKCS8_AsnAttribs_Add(list, &one), 0);
    }
    if (*list) {
        pki.bit_mask |= PrivateKeyInfo_attributes_present;
        pki.attributes = *list;
    }
    Out plain, aid, ct, der;
    EXPECT_EQ(QRT_ASN_EncodePDU(&plain, &pki, PrivateKeyInfo_PDU), 0);
    QRT_PKCS8_AsnAttribs_Free(list);
    Bytes p = str(pw);
    BIN pb = view(p);
    ZQ_PKCS5_PBES_ALGID scheme = pbes(QRT_PKCS5_PBES2, QRT_PKCS5_ENC_AES128_CBC);
    EXPECT_EQ(QRT_PKCS5_EncryptData(&aid, &ct, &scheme, &plain.b, &pb), 0);
    void *ai = nullptr;
    EXPECT_EQ(QRT_ASN_DecodePDU(&ai, &aid.b, AlgorithmIdentifier_PDU), 0);
    EncryptedPrivateKeyInfo e{*static_cast<AlgorithmIdentifier *>(ai), ct.b};
    EXPECT_EQ(QRT_ASN_EncodePDU(&der, &e, EncryptedPrivateKeyInfo_PDU), 0);
    QRT_ASN_FreePDU(ai, AlgorithmIdentifier_PDU);
    return der.bytes();
}

}  // namespace

// ---- PrivateKeyInfo ---------------------------------------------------------------------------

TEST(Pkcs8Plain, OpensslKeyRoundTripAndVidRandom) {
    if (!have_openssl()) GTEST_SKIP() << "no openssl command";
    Bytes priv = key().priv;
    BIN pk = view(priv);
    ZQ_PKCS8_PRIVKEY_INFO info = rsa_view(&pk);
    Out der;
    ASSERT_EQ(QRT_PKCS8_EncodePrivKeyInfo(&der, &info), 0);
    EXPECT_EQ(der.bytes(), key().der) << "same bytes as openssl writes";
    BIN d = der.b;
    EXPECT_EQ(QRT_PKCS8_IsPrivKeyInfo(&d), 1);
    EXPECT_EQ(QRT_PKCS8_IsEncPrivKeyInfo(&d), 0);

    // A VID random of 0 bytes writes no attribute; 1 and 126 bytes come back; 127 is refused
    // (its one-byte length would read as the long form) and nothing is written.
    Bytes none;
    BIN nb = view(none);
    info.attribs.vidRandom = &nb;
    Out empty;
    ASSERT_EQ(QRT_PKCS8_EncodePrivKeyInfo(&empty, &info), 0);
    EXPECT_EQ(empty.bytes(), key().der);
    for (size_t n : {1u, 126u}) {
        Bytes vid(n, 0xA5);
        vid[0] = static_cast<unsigned char>(n);
        BIN vb = view(vid);
        info.attribs.vidRandom = &vb;
        Out with;
        ASSERT_EQ(QRT_PKCS8_EncodePrivKeyInfo(&with, &info), 0);
        Info back;
        ASSERT_EQ(QRT_PKCS8_DecodePrivKeyInfo(&back, &with.b), 0);
        ASSERT_NE(back.i.attribs.vidRandom, nullptr);
        EXPECT_EQ(bytes(*back.i.attribs.vidRandom), vid);
        EXPECT_EQ(bytes(*back.i.privKey), priv);
    }
    Bytes long_vid(127, 1);
    BIN lb = view(long_vid);
    info.attribs.vidRandom = &lb;
    Out refused;
    EXPECT_EQ(QRT_PKCS8_EncodePrivKeyInfo(&refused, &info), QRT_PKCS8_BAD_VIDRANDOM);
    EXPECT_EQ(refused.b.value, nullptr);
}

TEST(Pkcs8Plain, RefusedRecordsAndEncodings) {
    Bytes priv{0x30, 0x03, 0x02, 0x01, 0x01}, bad{0x04, 0x01, 0x00}, params{0x30, 0x00};
    BIN pk = view(priv), bk = view(bad), pp = view(params);
    Out der;
    ZQ_PKCS8_PRIVKEY_INFO info = rsa_view(&bk);
    EXPECT_EQ(QRT_PKCS8_EncodePrivKeyInfo(&der, &info), QRT_PKCS8_BAD_PRIVKEY);
    info = rsa_view(&pk);
    info.algID = QRT_PKCS8_ALG_DSA;
    EXPECT_EQ(QRT_PKCS8_EncodePrivKeyInfo(&der, &info), QRT_PKCS8_INVALID_INPUT);
    info.algID = 2;
    EXPECT_EQ(QRT_PKCS8_EncodePrivKeyInfo(&der, &info), QRT_PKCS8_UNKNOWN_ALGID);
    info.privKey = nullptr;
    EXPECT_EQ(QRT_PKCS8_EncodePrivKeyInfo(&der, &info), QRT_PKCS8_INVALID_INPUT);

    // KCDSA with parameters round-trips them; the same without parameters does not decode.
    info = rsa_view(&pk);
    info.algID = QRT_PKCS8_ALG_KCDSA;
    info.algParam = &pp;
    ASSERT_EQ(QRT_PKCS8_EncodePrivKeyInfo(&der, &info), 0);
    Info back;
    ASSERT_EQ(QRT_PKCS8_DecodePrivKeyInfo(&back, &der.b), 0);
    EXPECT_EQ(back.i.algID, QRT_PKCS8_ALG_KCDSA);
    EXPECT_EQ(bytes(*back.i.algParam), params);
    PrivateKeyInfo pki{};
    info.algID = QRT_PKCS8_ALG_DSA;
    ASSERT_EQ(QRT_PKCS8_AsnPrivKeyInfo_Encode(&pki, &info), 0);
    pki.privateKeyAlgorithm.bit_mask = 0;
    Out noparams;
    ASSERT_EQ(QRT_ASN_EncodePDU(&noparams, &pki, PrivateKeyInfo_PDU), 0);
    Info dsa;
    EXPECT_EQ(QRT_PKCS8_DecodePrivKeyInfo(&dsa, &noparams.b), QRT_PKCS8_BAD_PRIVKEYINFO);
    Bytes junk{0x30, 0x01, 0x00};
    BIN jb = view(junk), empty{0, nullptr};
    EXPECT_EQ(QRT_PKCS8_DecodePrivKeyInfo(&dsa, &jb), QRT_PKCS8_BAD_PRIVKEYINFO);
    EXPECT_EQ(QRT_PKCS8_DecodePrivKeyInfo(&dsa, &empty), QRT_PKCS8_INVALID_INPUT);
    QRT_Trace_Initialize();
    QRT_Trace_ClearError();
    EXPECT_EQ(QRT_PKCS8_IsPrivKeyInfo(&jb), 0);
    EXPECT_EQ(QRT_PKCS8_IsEncPrivKeyInfo(&jb), 0);
    EXPECT_EQ(QRT_PKCS8_IsPrivKeyInfo(nullptr), 0);
    EXPECT_TRUE(t::trace_records().empty()) << "the Is tests leave no trace";
}

TEST(Pkcs8Plain, VidRandomReading) {
    Out v;
    // The short-form length must be one and match the bytes that follow.
    for (const Bytes &bad :
         {Bytes{0x03, 0x03, 0x00, 0x01}, Bytes{0x03, 0x01, 0x00, 0x01}, Bytes{0x04, 0x02, 0x00, 0x01},
          Bytes{0x03, 0x81, 0x02, 0x00, 0x01}, Bytes{0x03, 0x01, 0x00}}) {
        BIN b = view(bad);
        EXPECT_EQ(QRT_PKCS8_VidRandom_Decode(&v, &b), QRT_PKCS8_BAD_VIDRANDOM) << t::to_hex(bad.data(), bad.size());
    }
    Bytes good{0x03, 0x03, 0x00, 0xAB, 0xCD};
    BIN g = view(good);
    ASSERT_EQ(QRT_PKCS8_VidRandom_Decode(&v, &g), 0);
    EXPECT_EQ(v.bytes(), (Bytes{0xAB, 0xCD}));

    // A malformed VID random inside a PrivateKeyInfo.
    Bytes priv{0x30, 0x03, 0x02, 0x01, 0x01};
    BIN pk = view(priv);
    ZQ_PKCS8_PRIVKEY_INFO info = rsa_view(&pk);
    PrivateKeyInfo pki{};
    ASSERT_EQ(QRT_PKCS8_AsnPrivKeyInfo_Encode(&pki, &info), 0);
    Bytes wrong{0x04, 0x02, 0x00, 0x01};
    Attribute_values_ val{nullptr, view(wrong)};
    Attributes_ node{nullptr, Attribute{id_randomNum, &val}};
    pki.bit_mask |= PrivateKeyInfo_attributes_present;
    pki.attributes = &node;
    Out der;
    ASSERT_EQ(QRT_ASN_EncodePDU(&der, &pki, PrivateKeyInfo_PDU), 0);
    Info back;
    EXPECT_EQ(QRT_PKCS8_DecodePrivKeyInfo(&back, &der.b), QRT_PKCS8_BAD_VIDRANDOM);
    EXPECT_EQ(back.i.privKey, nullptr);
}

// ---- openssl -> us -----------------------------------------------------------------------------

TEST(Pkcs8Openssl, OpensslContainersOpen) {
    if (!have_openssl()) GTEST_SKIP() << "no openssl command";
    struct C {
        const char *opts;
        int pbes, enc, prf;
    } cs[] = {
        {"-v1 PBE-SHA1-3DES -iter 64", 33, 0, 0},
        {"-v1 PBE-SHA1-2DES -iter 64", 34, 0, 0},
        {"-v1 PBE-SHA1-RC2-40 -iter 64", 36, 0, 0},
        {"-v1 PBE-SHA1-RC4-128 -iter 64", 31, 0, 0},
        {"-v1 PBE-MD5-DES -iter 64", 2, 0, 0},
        {"-v1 PBE-SHA1-RC2-64 -iter 64", 8, 0, 0},
        {"-v2 des-ede3-cbc -v2prf hmacWithSHA1 -iter 64", 5, QRT_PKCS5_ENC_DES_EDE3_CBC, QRT_PKCS5_PRF_HMAC_SHA1},
        {"-v2 rc2-cbc -v2prf hmacWithSHA1 -iter 64", 5, QRT_PKCS5_ENC_RC2_CBC, QRT_PKCS5_PRF_HMAC_SHA1},
        {"-v2 seed-cbc -v2prf hmacWithSHA1 -iter 64", 5, QRT_PKCS5_ENC_SEED_CBC, QRT_PKCS5_PRF_HMAC_SHA1},
        {"-v2 seed-cbc -v2prf hmacWithSHA256 -iter 64", 5, QRT_PKCS5_ENC_SEED_CBC, QRT_PKCS5_PRF_HMAC_SHA256},
        {"-v2 aes-256-cbc -iter 64", 5, QRT_PKCS5_ENC_AES256_CBC, QRT_PKCS5_PRF_HMAC_SHA256},
        {"-v2 aes-256-cbc -iter 600000", 5, QRT_PKCS5_ENC_AES256_CBC, QRT_PKCS5_PRF_HMAC_SHA256},
    };
    for (const C &c : cs) {
        SCOPED_TRACE(c.opts);
        Bytes der = openssl_encrypt(c.opts, "s3cret");
        ASSERT_FALSE(der.empty());
        BIN d = view(der);
        EXPECT_EQ(QRT_PKCS8_IsEncPrivKeyInfo(&d), 1);
        EXPECT_EQ(QRT_PKCS8_IsPrivKeyInfo(&d), 0);
        Bytes pw = str("s3cret"), wrong = str("s3cres");
        BIN pb = view(pw), wb = view(wrong);
        EncInfo enc;
        ASSERT_EQ(QRT_PKCS8_DecodeEncPrivKeyInfo(&enc, &d, &pb), 0);
        EXPECT_EQ(enc.e.pbesID.pbesID, c.pbes);
        if (c.enc) {
            EXPECT_EQ(enc.e.pbesID.pbes2Param.encID, c.enc);
            EXPECT_EQ(enc.e.pbesID.pbes2Param.prfID, c.prf);
        }
        EXPECT_EQ(enc.e.info.algID, QRT_PKCS8_ALG_RSA);
        EXPECT_EQ(bytes(*enc.e.info.privKey), key().priv);
        EXPECT_EQ(QRT_PKCS8_VerifyPassword(&d, &pb), 0);
        EXPECT_EQ(QRT_PKCS8_VerifyPassword(&d, &wb), QRT_PKCS8_INVALID_PASSWORD);
        EncInfo failed;
        EXPECT_EQ(QRT_PKCS8_DecodeEncPrivKeyInfo(&failed, &d, &wb), QRT_PKCS8_INVALID_PASSWORD);
        EXPECT_EQ(failed.e.info.privKey, nullptr);
    }
    // A count above the library's limit is refused as such, not as a wrong password.
    Bytes der = openssl_encrypt("-v2 aes-256-cbc -iter 64", "s3cret");
    const int limit = QRT_PKCS5_GetIterationLimit();
    QRT_PKCS5_SetIterationLimit(32);
    EXPECT_EQ(decrypt_code(der, "s3cret"), QRT_PKCS5_BAD_ALGORITHM_PARAMETER);
    QRT_PKCS5_SetIterationLimit(limit);
}

// ---- us -> openssl -----------------------------------------------------------------------------

TEST(Pkcs8Openssl, OurContainersOpenInOpenssl) {
    if (!have_openssl()) GTEST_SKIP() << "no openssl command";
    Bytes priv = key().priv;
    BIN pk = view(priv);
    const ZQ_PKCS8_PRIVKEY_INFO info = rsa_view(&pk);
    const ZQ_PKCS5_PBES_ALGID schemes[] = {pbes(2),
                                           pbes(3),
                                           pbes(7),
                                           pbes(8),
                                           pbes(31),
                                           pbes(32),
                                           pbes(33),
                                           pbes(34),
                                           pbes(35),
                                           pbes(36),
                                           pbes(5, QRT_PKCS5_ENC_DES_CBC),
                                           pbes(5, QRT_PKCS5_ENC_DES_EDE3_CBC),
                                           pbes(5, QRT_PKCS5_ENC_RC2_CBC),
                                           pbes(5, QRT_PKCS5_ENC_SEED_CBC),
                                           pbes(5, QRT_PKCS5_ENC_AES128_CBC),
                                           pbes(5, QRT_PKCS5_ENC_AES192_CBC),
                                           pbes(5, QRT_PKCS5_ENC_AES256_CBC, QRT_PKCS5_PRF_HMAC_SHA256),
                                           pbes(5, QRT_PKCS5_ENC_SEED_CBC, QRT_PKCS5_PRF_HMAC_SHA512)};
    for (const ZQ_PKCS5_PBES_ALGID &s : schemes) {
        SCOPED_TRACE(std::to_string(s.pbesID) + "/" + std::to_string(s.pbes2Param.encID));
        Bytes der = encrypt(s, info, "pa55");
        EXPECT_EQ(openssl_decrypt(der, "pa55"), key().rsa);
        EXPECT_EQ(decrypt_code(der, "pa55"), 0);
    }
}

// ---- password change ---------------------------------------------------------------------------

TEST(Pkcs8Change, PasswordChangeKeepsSchemeAndNeverHalfWrites) {
    if (!have_openssl()) GTEST_SKIP() << "no openssl command";
    const Bytes original = openssl_encrypt("-v2 aes-256-cbc -iter 64", "old");
    ASSERT_FALSE(original.empty());
    Bytes o = str("old"), n = str("new"), w = str("wrong");
    BIN ob = view(o), nb = view(n), wb = view(w);

    BIN src = view(original);
    Out first, second;
    ASSERT_EQ(QRT_PKCS8_ChangePassword(&first, &src, &nb, &ob), 0);
    ASSERT_EQ(QRT_PKCS8_ChangePassword(&second, &src, &nb, &ob), 0);
    EXPECT_NE(first.bytes(), second.bytes()) << "fresh salt and IV each time";
    for (const Out *c : {std::addressof(first), std::addressof(second)}) {
        EncInfo enc;
        BIN cb = c->b;
        ASSERT_EQ(QRT_PKCS8_DecodeEncPrivKeyInfo(&enc, &cb, &nb), 0);
        EXPECT_EQ(enc.e.pbesID.pbes2Param.encID, QRT_PKCS5_ENC_AES256_CBC);
        EXPECT_EQ(enc.e.pbesID.pbes2Param.prfID, QRT_PKCS5_PRF_HMAC_SHA256);
        EXPECT_EQ(bytes(*enc.e.info.privKey), key().priv);
        EXPECT_EQ(decrypt_code(c->bytes(), "old"), QRT_PKCS8_INVALID_PASSWORD);
    }
    EXPECT_EQ(openssl_decrypt(first.bytes(), "new"), key().rsa);

    // In place: the container given is replaced on success and byte-identical after a failure.
    BIN inplace{0, nullptr};
    ASSERT_EQ(QRT_BIN_Copy(&inplace, &src), 0);
    EXPECT_EQ(QRT_PKCS8_ChangePassword(&inplace, &inplace, &nb, &wb), QRT_PKCS8_INVALID_PASSWORD);
    EXPECT_EQ(bytes(inplace), original);
    ASSERT_EQ(QRT_PKCS8_ChangePassword(&inplace, &inplace, &nb, &ob), 0);
    EXPECT_EQ(decrypt_code(bytes(inplace), "new"), 0);
    QRT_BIN_Reset(&inplace);

    // A PKCS#12 scheme stays the same scheme.
    Bytes p12 = openssl_encrypt("-v1 PBE-SHA1-3DES -iter 64", "old");
    BIN pb = view(p12);
    Out changed;
    EXPECT_EQ(QRT_PKCS8_ChangePassword(&changed, &pb, &nb, &wb), QRT_PKCS8_INVALID_PASSWORD);
    EXPECT_EQ(changed.b.value, nullptr);
    ASSERT_EQ(QRT_PKCS8_ChangePassword(&changed, &pb, &nb, &ob), 0);
    EncInfo enc;
    ASSERT_EQ(QRT_PKCS8_DecodeEncPrivKeyInfo(&enc, &changed.b, &nb), 0);
    EXPECT_EQ(enc.e.pbesID.pbesID, QRT_PKCS5_P12_SHA1_3DES);
    EXPECT_EQ(openssl_decrypt(changed.bytes(), "new"), key().rsa);
}

TEST(Pkcs8Change, WrongPasswordPassingThePaddingCheck) {
    if (!have_openssl()) GTEST_SKIP() << "no openssl command";
    const Bytes der = openssl_encrypt("-v2 des-ede3-cbc -iter 1", "right");
    ASSERT_FALSE(der.empty());
    // Look for a wrong password whose decryption happens to end in valid padding.
    void *tree = nullptr;
    BIN d = view(der);
    ASSERT_EQ(QRT_ASN_DecodePDU(&tree, &d, EncryptedPrivateKeyInfo_PDU), 0);
    auto *e = static_cast<EncryptedPrivateKeyInfo *>(tree);
    Out aid;
    ASSERT_EQ(QRT_ASN_EncodePDU(&aid, &e->encryptionAlgorithm, AlgorithmIdentifier_PDU), 0);
    std::string lucky;
    for (int i = 0; i < 20000 && lucky.empty(); ++i) {
        Bytes p = str("guess" + std::to_string(i));
        BIN pb = view(p);
        ZQ_PKCS5_PBES_ALGID alg{};
        Out plain;
        if (QRT_PKCS5_DecryptData(&alg, &plain, &aid.b, &e->encryptedData, &pb) == 0)
            lucky = "guess" + std::to_string(i);
    }
    QRT_ASN_FreePDU(tree, EncryptedPrivateKeyInfo_PDU);
    ASSERT_FALSE(lucky.empty());
    Bytes lp = str(lucky), np = str("new");
    BIN lb = view(lp), nb = view(np);
    EXPECT_EQ(decrypt_code(der, lucky), QRT_PKCS8_INVALID_PASSWORD);
    EXPECT_EQ(QRT_PKCS8_VerifyPassword(&d, &lb), QRT_PKCS8_INVALID_PASSWORD);
    Out out;
    EXPECT_EQ(QRT_PKCS8_ChangePassword(&out, &d, &nb, &lb), QRT_PKCS8_INVALID_PASSWORD)
        << "the garbage must not be sealed under the new password";
    EXPECT_EQ(out.b.value, nullptr);
}

TEST(Pkcs8Change, KeyReplacementMergesAttributes) {
    const Bytes other_oid = oid_bytes(id_dsa), vid_oid = oid_bytes(id_randomNum);
    const Attr a{other_oid, {0x05, 0x00}}, b{other_oid, {0x02, 0x01, 0x07}};
    // The old VID random encodes shorter than the later one, so it is the first in DER order.
    const Attr old_vid{vid_oid, vid_der({1})}, later_vid{vid_oid, vid_der({9, 9})};
    Bytes new_priv{0x02, 0x01, 0x05}, params{0x30, 0x00}, vid{7, 7, 7, 7};
    BIN npk = view(new_priv), pp = view(params), vb = view(vid);
    ZQ_PKCS8_PRIVKEY_INFO with_vid{QRT_PKCS8_ALG_DSA, &pp, &npk, {&vb}},
        without{QRT_PKCS8_ALG_DSA, &pp, &npk, {nullptr}};
    const Attr new_vid{vid_oid, vid_der(vid)};
    Bytes pw = str("pw");
    BIN pb = view(pw);

    struct Case {
        std::vector<Attr> old;
        const ZQ_PKCS8_PRIVKEY_INFO *info;
        std::vector<Attr> want;
    } cases[] = {
        {{a, old_vid, b, later_vid}, &with_vid, {a, new_vid, b, later_vid}},
        {{a, old_vid, b}, &without, {a, b}},
        {{a}, &with_vid, {a, new_vid}},
        {{}, &with_vid, {new_vid}},
        {{}, &without, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.old.size());
        Bytes der = container_with(c.old, "pw");
        BIN d = view(der);
        Out out;
        ASSERT_EQ(QRT_PKCS8_ChangeEncPrivKeyInfo(&out, &d, &pb, c.info), 0);
        bool present = true;
        EXPECT_EQ(attributes_of(out.bytes(), "pw", &present), sorted(c.want));
        EXPECT_EQ(present, !c.want.empty());
        EncInfo enc;
        ASSERT_EQ(QRT_PKCS8_DecodeEncPrivKeyInfo(&enc, &out.b, &pb), 0);
        EXPECT_EQ(enc.e.info.algID, QRT_PKCS8_ALG_DSA);
        EXPECT_EQ(bytes(*enc.e.info.privKey), new_priv);
        EXPECT_EQ(enc.e.pbesID.pbes2Param.encID, QRT_PKCS5_ENC_AES128_CBC);
    }

    // In place with a wrong password or a refused key: byte-identical.
    Bytes original = container_with({a, old_vid}, "pw");
    BIN inplace{0, nullptr};
    BIN src = view(original);
    ASSERT_EQ(QRT_BIN_Copy(&inplace, &src), 0);
    Bytes wrong = str("px");
    BIN wb = view(wrong);
    EXPECT_EQ(QRT_PKCS8_ChangeEncPrivKeyInfo(&inplace, &inplace, &wb, &with_vid), QRT_PKCS8_INVALID_PASSWORD);
    EXPECT_EQ(bytes(inplace), original);
    Bytes too_long(127, 1);
    BIN tl = view(too_long);
    ZQ_PKCS8_PRIVKEY_INFO bad_vid{QRT_PKCS8_ALG_DSA, &pp, &npk, {&tl}};
    EXPECT_EQ(QRT_PKCS8_ChangeEncPrivKeyInfo(&inplace, &inplace, &pb, &bad_vid), QRT_PKCS8_BAD_VIDRANDOM);
    EXPECT_EQ(bytes(inplace), original);
    ASSERT_EQ(QRT_PKCS8_ChangeEncPrivKeyInfo(&inplace, &inplace, &pb, &with_vid), 0);
    EXPECT_EQ(attributes_of(bytes(inplace), "pw"), sorted({a, new_vid}));
    QRT_BIN_Reset(&inplace);
}

// ---- national key files under SEED: python hashlib and openssl enc as the peer ------------------

namespace {

std::string hex(const Bytes &b) { return t::to_hex(b.data(), b.size()); }

// One DER TLV with a definite length.
Bytes tlv(unsigned char tag, const Bytes &content) {
    Bytes out{tag}, len;
    for (size_t n = content.size(); n; n >>= 8) len.insert(len.begin(), static_cast<unsigned char>(n & 0xFF));
    if (content.size() < 0x80) {
        out.push_back(static_cast<unsigned char>(content.size()));
    } else {
        out.push_back(static_cast<unsigned char>(0x80 | len.size()));
        out.insert(out.end(), len.begin(), len.end());
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}
Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}
// The TLVs that follow one another in der, as tag and contents; empty when one overruns.
std::vector<std::pair<int, Bytes>> tlvs(const Bytes &der) {
    std::vector<std::pair<int, Bytes>> out;
    size_t i = 0;
    while (i + 2 <= der.size()) {
        const int tag = der[i];
        size_t n = der[i + 1];
        i += 2;
        if (n & 0x80) {
            size_t k = n & 0x7F;
            for (n = 0; k-- && i < der.size();) n = n << 8 | der[i++];
        }
        if (n > der.size() - i) return {};
        out.emplace_back(tag, Bytes(der.begin() + static_cast<long>(i), der.begin() + static_cast<long>(i + n)));
        i += n;
    }
    return out;
}

const Bytes kOidSeedCbcSha1{0x2A, 0x83, 0x1A, 0x8C, 0x9A, 0x44, 0x01, 0x0F};  // 1.2.410.200004.1.15
const Bytes kOidSeedCbc{0x2A, 0x83, 0x1A, 0x8C, 0x9A, 0x44, 0x01, 0x04};      // 1.2.410.200004.1.4
const Bytes kOidPbes2{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x05, 0x0D};
const Bytes kOidPbkdf2{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x05, 0x0C};

// Key and IV of the SEED schemes from hashlib alone. 4 and 9: DK = SHA-1^count(P || S), key =
// DK[0..16); IV = SHA-1(DK[16..20))[0..16) for 4, the fixed ASCII IV for 9. PBES2: PBKDF2-HMAC-SHA1,
// the IV is the one given.
const char kKdfPy[] = R"(import hashlib, sys
mode, pw, salt, count = sys.argv[1], sys.argv[2].encode(), bytes.fromhex(sys.argv[3]), int(sys.argv[4])
if mode == "5":
    print(hashlib.pbkdf2_hmac("sha1", pw, salt, count, 16).hex(), sys.argv[5])
else:
    dk = pw + salt
    for _ in range(count):
        dk = hashlib.sha1(dk).digest()
    iv = hashlib.sha1(dk[16:20]).digest()[:16] if mode == "4" else b"7391046285173904"
    print(dk[:16].hex(), iv.hex())
)";

}  // namespace

TEST(Pkcs8Korean, KeyFilesOpenBothWays) {
    if (!have_openssl()) GTEST_SKIP() << "no openssl command";
    if (!t::have_command("python3")) GTEST_SKIP() << "no python3";
    const std::string zero(32, '0');
    if (t::run("openssl enc -seed-cbc -K " + zero + " -iv " + zero + kLegacy + " -in /dev/null -out /dev/null 2>&1") !=
        0)
        GTEST_SKIP() << "openssl enc has no seed-cbc (legacy provider missing)";
    t::TempDir dir;
    t::write_file(dir / "kdf.py", kKdfPy);
    const std::string pw = "kr-pa55";

    Bytes priv = key().priv, vid(20);
    for (size_t i = 0; i < vid.size(); ++i) vid[i] = static_cast<unsigned char>(0xC0 + i);
    BIN pk = view(priv), vb = view(vid);
    const ZQ_PKCS8_PRIVKEY_INFO info = rsa_view(&pk, &vb);
    Out pki;
    ASSERT_EQ(QRT_PKCS8_EncodePrivKeyInfo(&pki, &info), 0);
    const Bytes plain = pki.bytes();

    // "key iv" in hex from the python script.
    auto derive = [&](int id, const Bytes &salt, unsigned long count, const Bytes &iv) {
        std::string out, k, v;
        t::run("python3 " + dir / "kdf.py" + " " + std::to_string(id) + " '" + pw + "' " + hex(salt) + " " +
                   std::to_string(count) + " '" + hex(iv) + "'",
               &out);
        std::istringstream(out) >> k >> v;
        return std::make_pair(k, v);
    };
    auto seed_cbc = [&](bool encrypt, const std::pair<std::string, std::string> &kiv, const Bytes &in) {
        t::write_file(dir / "in", std::string(in.begin(), in.end()));
        std::remove((dir / "out").c_str());
        t::run("openssl enc " + std::string(encrypt ? "-e" : "-d") + " -seed-cbc -K " + kiv.first + " -iv " +
               kiv.second + kLegacy + " -in " + dir / "in" + " -out " + dir / "out" + " 2>/dev/null");
        return str(t::read_file(dir / "out"));
    };

    const Bytes salt{0x5A, 0x17, 0x03, 0xE8, 0x91, 0x2C, 0x44, 0x0B};
    const Bytes iv{0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
    const Bytes count_der = tlv(0x02, {0x08, 0x00});  // 2048
    for (int id : {QRT_PKCS5_PBE_SEED_CBC_SHA1, QRT_PKCS5_PBE_SEED_CBC, QRT_PKCS5_PBES2}) {
        SCOPED_TRACE("pbesID " + std::to_string(id));
        const bool v2 = id == QRT_PKCS5_PBES2;

        // Peer -> us: a hand-made container (the PrivateKeyInfo keeps its VID random).
        const Bytes ct = seed_cbc(true, derive(id, salt, 2048, iv), plain);
        ASSERT_FALSE(ct.empty());
        const Bytes pbe_param = tlv(0x30, cat({tlv(0x04, salt), count_der}));
        const Bytes alg =
            v2 ? tlv(0x30, cat({tlv(0x06, kOidPbes2),
                                tlv(0x30, cat({tlv(0x30, cat({tlv(0x06, kOidPbkdf2), pbe_param})),
                                               tlv(0x30, cat({tlv(0x06, kOidSeedCbc), tlv(0x04, iv)}))}))}))
               : tlv(0x30, cat({tlv(0x06, id == QRT_PKCS5_PBE_SEED_CBC ? kOidSeedCbc : kOidSeedCbcSha1), pbe_param}));
        const Bytes file = tlv(0x30, cat({alg, tlv(0x04, ct)}));
        Bytes p = str(pw);
        BIN f = view(file), pb = view(p);
        EncInfo e;
        ASSERT_EQ(QRT_PKCS8_DecodeEncPrivKeyInfo(&e, &f, &pb), 0);
        EXPECT_EQ(e.e.pbesID.pbesID, id);
        if (v2) {
            EXPECT_EQ(e.e.pbesID.pbes2Param.encID, QRT_PKCS5_ENC_SEED_CBC);
            EXPECT_EQ(e.e.pbesID.pbes2Param.prfID, QRT_PKCS5_PRF_HMAC_SHA1);
        }
        ASSERT_NE(e.e.info.privKey, nullptr);
        EXPECT_EQ(bytes(*e.e.info.privKey), priv);
        ASSERT_NE(e.e.info.attribs.vidRandom, nullptr);
        EXPECT_EQ(bytes(*e.e.info.attribs.vidRandom), vid);
        EXPECT_EQ(decrypt_code(file, "kr-pa56"), QRT_PKCS8_INVALID_PASSWORD);

        // Us -> peer: salt, count and IV read out of our container by hand.
        const Bytes ours = encrypt(pbes(id, v2 ? QRT_PKCS5_ENC_SEED_CBC : 0), info, pw);
        const auto top = tlvs(ours);
        ASSERT_EQ(top.size(), 1u);
        const auto epki = tlvs(top[0].second);
        ASSERT_EQ(epki.size(), 2u);
        const auto a = tlvs(epki[0].second);
        ASSERT_EQ(a.size(), 2u);
        std::vector<std::pair<int, Bytes>> kdf_param;
        Bytes our_iv;
        if (v2) {
            EXPECT_EQ(a[0].second, kOidPbes2);
            const auto p2 = tlvs(a[1].second);
            ASSERT_EQ(p2.size(), 2u);
            const auto kdf = tlvs(p2[0].second), enc = tlvs(p2[1].second);
            ASSERT_EQ(kdf.size(), 2u);
            ASSERT_EQ(enc.size(), 2u);
            EXPECT_EQ(kdf[0].second, kOidPbkdf2);
            EXPECT_EQ(enc[0].second, kOidSeedCbc);
            kdf_param = tlvs(kdf[1].second);
            our_iv = enc[1].second;
            EXPECT_EQ(our_iv.size(), 16u);
        } else {
            EXPECT_EQ(a[0].second, id == QRT_PKCS5_PBE_SEED_CBC ? kOidSeedCbc : kOidSeedCbcSha1);
            kdf_param = tlvs(a[1].second);
        }
        ASSERT_GE(kdf_param.size(), 2u);
        for (size_t i = 2; i < kdf_param.size(); ++i)
            EXPECT_NE(kdf_param[i].first, 0x30) << "a prf other than HMAC-SHA-1";
        unsigned long count = 0;
        for (unsigned char c : kdf_param[1].second) count = count << 8 | c;
        ASSERT_TRUE(count >= 1 && count <= 100000) << count;
        EXPECT_EQ(seed_cbc(false, derive(id, kdf_param[0].second, count, our_iv), epki[1].second), plain);
    }
}

// ---- arguments and the frame -------------------------------------------------------------------

TEST(Pkcs8Frame, ArgumentsVersionAndReasons) {
    Bytes priv{0x30, 0x00}, pw = str("x");
    BIN pk = view(priv), pb = view(pw), empty{0, nullptr};
    ZQ_PKCS8_ENC_PRIVKEY_INFO enc{};
    enc.pbesID = pbes(3);
    enc.info = rsa_view(&pk);
    Out der;
    EXPECT_EQ(QRT_PKCS8_EncodeEncPrivKeyInfo(&der, &enc, &empty), QRT_PKCS8_INVALID_INPUT);
    EXPECT_EQ(QRT_PKCS8_EncodeEncPrivKeyInfo(&der, &enc, nullptr), QRT_PKCS8_INVALID_INPUT);
    enc.pbesID = pbes(99);
    EXPECT_EQ(QRT_PKCS8_EncodeEncPrivKeyInfo(&der, &enc, &pb), QRT_PKCS5_UNKNOWN_PBESID);
    EXPECT_EQ(der.b.value, nullptr);
    Bytes junk{0x30, 0x00};
    BIN jb = view(junk);
    EncInfo e;
    EXPECT_EQ(QRT_PKCS8_DecodeEncPrivKeyInfo(&e, &jb, &pb), QRT_PKCS8_BAD_ENCPRIVKEYINFO);
    EXPECT_EQ(QRT_PKCS8_ChangePassword(nullptr, &jb, &pb, &pb), QRT_PKCS8_INVALID_INPUT);
    EXPECT_EQ(QRT_PKCS8_ChangePassword(&der, &jb, &empty, &pb), QRT_PKCS8_INVALID_INPUT);
    EXPECT_EQ(QRT_PKCS8_VerifyPassword(nullptr, &pb), QRT_PKCS8_INVALID_INPUT);

    EXPECT_STREQ(QRT_PKCS8_GetVersion(), "1.5.1.7");
    EXPECT_EQ(QRT_PKCS8_CheckVersion("1.5.1.7"), 0);
    EXPECT_EQ(QRT_PKCS8_CheckVersion("1.5.1.8"), -1);
    EXPECT_STREQ(QRT_PKCS8_GetErrorReason(QRT_PKCS8_INVALID_PASSWORD, 1), "invalid password");
    EXPECT_STREQ(QRT_PKCS8_GetErrorReason(QRT_PKCS8_BAD_VIDRANDOM, 1), "bad vidRandom");
    EXPECT_STREQ(QRT_PKCS8_GetErrorReason(QRT_PKCS5_BAD_ALGORITHM_PARAMETER, 1), "bad algorithm parameter");
    EXPECT_STRNE(QRT_PKCS8_GetErrorReason(1001, 1), "");
    EXPECT_STREQ(QRT_PKCS8_GetErrorReason(6001, 1), "");
    EXPECT_STREQ(QRT_PKCS8_GetErrorReason(QRT_PKCS8_INVALID_PASSWORD, 0), "");
}
