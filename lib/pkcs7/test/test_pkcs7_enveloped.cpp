// Enveloped, encrypted, digested, signed-and-enveloped data and the gateway messages: round trips
// for every content cipher, openssl in both directions, and the refusals a caller can meet.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "ostrel/test_support.hpp"
#include "suite_csp.h"
#include "suite_pkcs7.h"

namespace {

using Bytes = std::vector<unsigned char>;
namespace t = ostrel::test;

BIN view(const Bytes &b) { return BIN{static_cast<unsigned>(b.size()), const_cast<unsigned char *>(b.data())}; }
Bytes bytes(const BIN &b) { return b.value ? Bytes(b.value, b.value + b.length) : Bytes{}; }
Bytes str(const std::string &s) { return Bytes(s.begin(), s.end()); }

using Out = ostrel::test::OutBin;

const std::string kLegacy = " -provider legacy -provider default";

// Keys and certificates made once by openssl: two RSA recipients (with subject key
// identifiers), and an EC certificate.
struct Peers {
    t::TempDir dir;
    Bytes cert1, key1, cert2, key2, ecCert;
    Peers() {
        for (const char *n : {"r1", "r2"}) {
            std::string k = dir / (std::string(n) + ".key"), c = dir / (std::string(n) + ".pem");
            t::run("openssl req -x509 -newkey rsa:2048 -nodes -keyout " + k + " -out " + c + " -subj /CN=" + n +
                   " -days 30 2>/dev/null && openssl x509 -in " + c + " -outform DER -out " + dir / n +
                   ".der && openssl rsa -in " + k + " -traditional -outform DER -out " + dir / n + ".rsa 2>/dev/null");
        }
        t::run("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout " + dir / "ec.key" +
               " -out " + dir / "ec.der" + " -subj /CN=ec -days 30 -outform DER 2>/dev/null");
        cert1 = str(t::read_file(dir / "r1.der"));
        key1 = str(t::read_file(dir / "r1.rsa"));
        cert2 = str(t::read_file(dir / "r2.der"));
        key2 = str(t::read_file(dir / "r2.rsa"));
        ecCert = str(t::read_file(dir / "ec.der"));
    }
    // Runs openssl in the directory; the named output file's bytes.
    Bytes ssl(const std::string &args, const std::string &out) const {
        std::remove((dir / out).c_str());
        t::run("cd " + dir.path() + " && openssl " + args + " 2>/dev/null");
        return str(t::read_file(dir / out));
    }
    void put(const std::string &name, const Bytes &b) const {
        t::write_file(dir / name, std::string(b.begin(), b.end()));
    }
};
const Peers &peers() {
    static Peers p;
    return p;
}

Bytes data_ci(const std::string &payload) {
    Out o;
    Bytes p = str(payload);
    BIN in = view(p);
    EXPECT_EQ(QRT_PKCS7_EncodeData(&o, &in), 0);
    return o.bytes();
}

std::string payload_of(const Bytes &ci) {
    Out o;
    BIN in = view(ci);
    if (QRT_PKCS7_DecodeData(&o, &in) != 0) return "<not data>";
    Bytes b = o.bytes();
    return std::string(b.begin(), b.end());
}

int decode_env(Bytes &content, int &encID, const Bytes &msg, const Bytes &cert, const Bytes &key) {
    Out o;
    BIN m = view(msg), c = view(cert), k = view(key);
    encID = -1;
    int rc = QRT_PKCS7_DecodeEnveloped(&encID, &o, &m, &c, &k);
    content = o.bytes();
    return rc;
}

int encode_env(Bytes &msg, int encID, const Bytes &content, const Bytes &cert) {
    Out o;
    BIN c = view(content), r = view(cert);
    int rc = QRT_PKCS7_EncodeEnveloped(&o, encID, &c, &r);
    msg = o.bytes();
    return rc;
}

bool contains(const Bytes &hay, const Bytes &needle) {
    return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

class Pkcs7Env : public ::testing::Test {
  protected:
    void SetUp() override {
        QRT_Trace_Initialize();
        QRT_Trace_ClearError();
        if (peers().cert1.empty() || peers().key1.empty() || peers().ecCert.empty())
            GTEST_SKIP() << "openssl could not make the keys";
    }
    void TearDown() override { QRT_Trace_ClearError(); }
};

const int kAllCiphers[] = {1, 2, 3, 4, 8, 9, 16, 17, 18, 19, 20, 21};

TEST_F(Pkcs7Env, EveryCipherRoundTripsFreshKeyEachTime) {
    const Peers &p = peers();
    const Bytes ci = data_ci("the payload, longer than one block of any cipher");
    for (int enc : kAllCiphers) {
        SCOPED_TRACE(enc);
        Bytes a, b, back;
        ASSERT_EQ(encode_env(a, enc, ci, p.cert1), 0) << t::trace_text();
        ASSERT_EQ(encode_env(b, enc, ci, p.cert1), 0);
        EXPECT_NE(a, b);  // a fresh key and IV each time
        int got = 0;
        ASSERT_EQ(decode_env(back, got, a, p.cert1, p.key1), 0) << t::trace_text();
        EXPECT_EQ(back, ci);
        const int read_as = enc == QRT_PKCS7_ARIA128 ? QRT_PKCS7_ARIA : enc;  // one identifier for both
        EXPECT_EQ(got, read_as);

        // encrypted data with a caller key of the table's length
        int len = 0;
        ASSERT_EQ(QRT_PKCS7_GetEncInfo(&len, nullptr, enc), 0);
        Bytes key(static_cast<size_t>(len), 0x5a);
        BIN k = view(key), c = view(ci);
        Out e, d;
        ASSERT_EQ(QRT_PKCS7_EncodeEncrypted(&e, enc, &c, &k), 0);
        int id = 0;
        ASSERT_EQ(QRT_PKCS7_DecodeEncrypted(&id, &d, &e, &k), 0);
        EXPECT_EQ(d.bytes(), ci);
        EXPECT_EQ(id, read_as);
    }

    // a content other than data comes back exactly as it went in
    Out dig;
    BIN c = view(ci);
    ASSERT_EQ(QRT_PKCS7_EncodeDigested(&dig, QRT_PKCS7_SHA256, &c), 0);
    Bytes msg, back;
    int got = 0;
    ASSERT_EQ(encode_env(msg, QRT_PKCS7_AES256, dig.bytes(), p.cert2), 0);
    ASSERT_EQ(decode_env(back, got, msg, p.cert2, p.key2), 0) << t::trace_text();
    EXPECT_EQ(back, dig.bytes());
}

TEST_F(Pkcs7Env, SeveralRecipientsOaepAndTwoPhase) {
    const Peers &p = peers();
    const Bytes ci = data_ci("for two recipients");
    BIN c = view(ci), k2 = view(p.key2), c1 = view(p.cert1), c2 = view(p.cert2);
    ZQ_BIN_LIST second{nullptr, c2}, first{&second, c1};
    const Bytes oaep_oid = {0x06, 0x09, 0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x01, 0x07, 0x30, 0x00};
    for (int trans : {QRT_PKCS7_KEYTRANS_RSA, QRT_PKCS7_KEYTRANS_OAEP}) {
        SCOPED_TRACE(trans);
        Out msg;
        ASSERT_EQ(QRT_PKCS7_EncodeEnvelopedExBig(&msg, QRT_PKCS7_SEED, &c, &first, trans), 0) << t::trace_text();
        EXPECT_EQ(contains(msg.bytes(), oaep_oid), trans == QRT_PKCS7_KEYTRANS_OAEP);
        Bytes back;
        int enc = 0;
        ASSERT_EQ(decode_env(back, enc, msg.bytes(), p.cert1, p.key1), 0) << t::trace_text();
        EXPECT_EQ(back, ci);
        ASSERT_EQ(decode_env(back, enc, msg.bytes(), p.cert2, p.key2), 0);
        EXPECT_EQ(back, ci);

        // two phases: the encrypted key goes to a key holder, the content key comes back
        Out ek, key, content;
        ASSERT_EQ(QRT_PKCS7_DecodeEnveloped_Init(&ek, &msg, &c2), 0);
        ZQ_CSP_PEncParam op{};
        op.rsa_oaep.hashID = 3;
        op.rsa_oaep.mgfID = 1;
        op.rsa_oaep.sourceID = 1;
        ASSERT_EQ(QRT_CSP_PrivateDecrypt(&key, &ek, &k2, trans, trans == 1 ? nullptr : &op), 0);
        ASSERT_EQ(QRT_PKCS7_DecodeEnveloped_Final(&enc, &content, &msg, &c2, &key), 0);
        EXPECT_EQ(content.bytes(), ci);
    }
}

TEST_F(Pkcs7Env, OpensslMessagesOpenByteExact) {
    const Peers &p = peers();
    const std::string text = "openssl to us\nsecond line\n";
    t::write_file(p.dir / "m.txt", text);
    const std::string enc = "cms -encrypt -binary -in m.txt -outform DER -out o.der ";
    struct Case {
        std::string args;
        int encID;
    } cases[] = {
        {"-des3 r1.pem", 2},
        {"-aes128 r1.pem", 19},
        {"-aes256 r1.pem", 21},
        {"-aria-256-cbc r1.pem", 18},
        {"-camellia128 r1.pem", 4},
        {"-seed" + kLegacy + " r1.pem", 8},
        {"-rc2-128" + kLegacy + " r1.pem", 3},
        {"-rc2-40-cbc" + kLegacy + " r1.pem", 3},
        {"-aes128 r2.pem r1.pem", 19},
        {"-aes128 -recip r1.pem -keyopt rsa_padding_mode:oaep", 19},
        {"-aes128 -recip r1.pem -keyopt rsa_padding_mode:oaep -keyopt rsa_oaep_md:sha256", 19},
        {"-aes256 -stream r1.pem", 21},
        {"-aes128 -keyid r1.pem", 19},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args);
        Bytes msg = p.ssl(enc + c.args, "o.der");
        ASSERT_FALSE(msg.empty());
        Bytes back;
        int got = 0;
        ASSERT_EQ(decode_env(back, got, msg, p.cert1, p.key1), 0) << t::trace_text();
        EXPECT_EQ(payload_of(back), text);
        EXPECT_EQ(got, c.encID);
    }

    // encrypted data under a secret key, digested data
    Bytes key(16, 0x11);
    Bytes msg = p.ssl("cms -EncryptedData_encrypt -binary -in m.txt -outform DER -out e.der -aes128 -secretkey " +
                          t::to_hex(key.data(), key.size()),
                      "e.der");
    Out d;
    BIN m = view(msg), k = view(key);
    int id = 0;
    ASSERT_EQ(QRT_PKCS7_DecodeEncrypted(&id, &d, &m, &k), 0) << t::trace_text();
    EXPECT_EQ(payload_of(d.bytes()), text);
    EXPECT_EQ(id, QRT_PKCS7_AES128);
    msg = p.ssl("cms -digest_create -md sha256 -binary -in m.txt -outform DER -out d.der", "d.der");
    m = view(msg);
    Out dd;
    ASSERT_EQ(QRT_PKCS7_DecodeDigested(&id, &dd, &m), 0) << t::trace_text();
    EXPECT_EQ(payload_of(dd.bytes()), text);
    EXPECT_EQ(id, QRT_PKCS7_SHA256);
}

TEST_F(Pkcs7Env, OpensslOpensOurMessages) {
    const Peers &p = peers();
    const std::string text = "us to openssl, a few blocks of text for the cipher";
    const Bytes ci = data_ci(text);
    struct Case {
        int encID;
        std::string extra;
    } cases[] = {{2, ""}, {8, kLegacy}, {9, ""}, {18, ""}, {19, ""}, {21, ""}, {4, ""}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.encID);
        Bytes msg;
        ASSERT_EQ(encode_env(msg, c.encID, ci, p.cert1), 0);
        p.put("env.der", msg);
        Bytes out =
            p.ssl("cms -decrypt -binary -inform DER -in env.der -recip r1.pem -inkey r1.key -out plain.txt" + c.extra,
                  "plain.txt");
        EXPECT_EQ(std::string(out.begin(), out.end()), text);
    }

    // two recipients: the second opens it
    BIN cc = view(ci), c1 = view(p.cert1), c2 = view(p.cert2);
    ZQ_BIN_LIST second{nullptr, c2}, first{&second, c1};
    Out two;
    ASSERT_EQ(QRT_PKCS7_EncodeEnvelopedEx(&two, QRT_PKCS7_AES128, &cc, &first), 0);
    p.put("two.der", two.bytes());
    Bytes out = p.ssl("cms -decrypt -binary -inform DER -in two.der -recip r2.pem -inkey r2.key -out p2.txt", "p2.txt");
    EXPECT_EQ(std::string(out.begin(), out.end()), text);

    // encrypted and digested data
    Bytes key(32, 0x42);
    BIN k = view(key);
    Out e, dg;
    ASSERT_EQ(QRT_PKCS7_EncodeEncrypted(&e, QRT_PKCS7_AES256, &cc, &k), 0);
    p.put("enc.der", e.bytes());
    out = p.ssl("cms -EncryptedData_decrypt -binary -inform DER -in enc.der -out p3.txt -secretkey " +
                    t::to_hex(key.data(), key.size()),
                "p3.txt");
    EXPECT_EQ(std::string(out.begin(), out.end()), text);
    ASSERT_EQ(QRT_PKCS7_EncodeDigested(&dg, QRT_PKCS7_SHA256, &cc), 0);
    p.put("dig.der", dg.bytes());
    out = p.ssl("cms -digest_verify -binary -inform DER -in dig.der -out p4.txt", "p4.txt");
    EXPECT_EQ(std::string(out.begin(), out.end()), text);
}

// The trace record of a failed call names the function and the code.
bool traced(const std::string &func, int code) {
    for (const std::string &r : t::trace_records())
        if (t::trace_field(r, 2) == func && t::trace_field(r, 3) == std::to_string(code)) return true;
    return false;
}

TEST_F(Pkcs7Env, RefusalsAndTheirCodes) {
    const Peers &p = peers();
    const Bytes ci = data_ci("refused");
    Bytes msg, back;
    int enc = 0;

    EXPECT_EQ(encode_env(msg, 5, ci, p.cert1), QRT_PKCS7_UNKNOWN_ENCID);
    EXPECT_TRUE(msg.empty());
    EXPECT_TRUE(traced("QRT_PKCS7_EncodeEnveloped", QRT_PKCS7_UNKNOWN_ENCID));
    EXPECT_EQ(encode_env(msg, QRT_PKCS7_AES128, ci, p.ecCert), QRT_PKCS7_UNKNOWN_ALGID);
    EXPECT_TRUE(traced("QRT_PKCS7_RecipInfo_Set", QRT_PKCS7_UNKNOWN_ALGID));

    ASSERT_EQ(encode_env(msg, QRT_PKCS7_AES128, ci, p.cert1), 0);
    EXPECT_EQ(decode_env(back, enc, msg, p.cert2, p.key2), QRT_PKCS7_NOT_EXIST);
    EXPECT_TRUE(back.empty());
    EXPECT_TRUE(traced("QRT_PKCS7_DecodeEnveloped", QRT_PKCS7_NOT_EXIST));

    // the wrong private key: the unwrap fails quietly and the content's padding refuses it
    int wrong = 0;
    for (int i = 0; i < 2; ++i) {
        Bytes other(p.key2);
        if (decode_env(back, enc, msg, p.cert1, other) == QRT_PKCS7_BAD_ENC_CONTENT && back.empty()) ++wrong;
    }
    EXPECT_GE(wrong, 1);

    // a 16-byte DES key
    Bytes key16(16, 1);
    BIN k = view(key16), c = view(ci);
    Out e;
    EXPECT_EQ(QRT_PKCS7_EncodeEncrypted(&e, QRT_PKCS7_DES, &c, &k), QRT_PKCS7_BAD_KEY);
    Bytes key8(8, 1);
    BIN k8 = view(key8);
    ASSERT_EQ(QRT_PKCS7_EncodeEncrypted(&e, QRT_PKCS7_DES, &c, &k8), 0);
    Out d;
    EXPECT_EQ(QRT_PKCS7_DecodeEncrypted(&enc, &d, &e, &k), QRT_PKCS7_BAD_KEY);
    EXPECT_TRUE(d.empty());

    // RC2 parameter versions by the RFC 2268 table, both ways
    Bytes iv(8, 7);
    BIN ivb = view(iv);
    Out rp;
    ASSERT_EQ(QRT_PKCS7_EncodeRC2Param(&rp, 128, &ivb), 0);
    EXPECT_EQ(t::to_hex(rp.b.value, 5), "300d02013a");
    int bits = 0;
    Out iv_back;
    ASSERT_EQ(QRT_PKCS7_DecodeRC2Param(&bits, &iv_back, &rp), 0);
    EXPECT_EQ(bits, 128);
    EXPECT_EQ(iv_back.bytes(), iv);
    EXPECT_EQ(QRT_PKCS7_GetEKB(0x3a), 128);
    EXPECT_EQ(QRT_PKCS7_GetEKB(0xa0), 40);
    EXPECT_EQ(QRT_PKCS7_GetEKB(0x78), 64);
    EXPECT_EQ(QRT_PKCS7_GetEKB(300), 300);
    Bytes bad_param = {0x30, 0x03, 0x02, 0x01, 0x3a};
    BIN bp = view(bad_param);
    Out iv2;
    EXPECT_EQ(QRT_PKCS7_DecodeRC2Param(&bits, &iv2, &bp), QRT_PKCS7_BAD_SIGNENVELOPED_DATA);
}

TEST_F(Pkcs7Env, BrokenPaddingIsRefused) {
    // encrypted data whose plaintext ends in a zero octet: no valid PKCS#5 padding
    Bytes key(16, 0x33);
    BIN k = view(key);
    const Bytes ci = data_ci("padding");
    BIN c = view(ci);
    Out e;
    ASSERT_EQ(QRT_PKCS7_EncodeEncrypted(&e, QRT_PKCS7_AES128, &c, &k), 0);
    ZQ_PKCS7_CONTENT content{};
    ASSERT_EQ(QRT_PKCS7_Content_Decode(&content, &e), 0);
    ZQ_PKCS7_ENCRYPTED *ed = QRT_PKCS7_Encrypted_New();
    ASSERT_EQ(QRT_PKCS7_Encrypted_Decode(ed, &content), 0);
    ASSERT_EQ(ed->encContent.encID, QRT_PKCS7_AES128);
    const BIN *param = ed->encContent.param;  // 04 10 iv
    ASSERT_EQ(param->length, 18u);
    unsigned char block[16] = {0}, ct[32];
    int n = 0, n2 = 0;
    EVP_CIPHER_CTX *x = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(x, EVP_aes_128_cbc(), nullptr, key.data(), param->value + 2);
    EVP_CIPHER_CTX_set_padding(x, 0);
    EVP_EncryptUpdate(x, ct, &n, block, 16);
    EVP_EncryptFinal_ex(x, ct + n, &n2);
    EVP_CIPHER_CTX_free(x);
    QRT_BIN_Reset(ed->encContent.encrypted);
    QRT_BIN_Set(ed->encContent.encrypted, ct, n + n2);
    Out broken, d;
    ASSERT_EQ(QRT_PKCS7_Encrypted_Encode(&broken, ed), 0);
    int enc = 0;
    EXPECT_EQ(QRT_PKCS7_DecodeEncrypted(&enc, &d, &broken, &k), QRT_PKCS7_BAD_ENC_CONTENT);
    EXPECT_TRUE(d.empty());
    QRT_PKCS7_Encrypted_Free(ed);
    QRT_PKCS7_Content_Reset(&content);
}

TEST_F(Pkcs7Env, ForeignContentAlgorithmIsKept) {
    // a password-based identifier (as PKCS#12 writes) survives a decode and re-encode
    const Bytes pbe = t::from_hex("301c060a2a864886f70d010c0103300e0408000102030405060702020800");
    ZQ_PKCS7_ENCRYPTED *ed = QRT_PKCS7_Encrypted_New();
    ed->encContent.typeID = QRT_PKCS7_DATA;
    ed->encContent.algID = QRT_BIN_New();
    ed->encContent.encrypted = QRT_BIN_New();
    QRT_BIN_Set(ed->encContent.algID, pbe.data(), static_cast<int>(pbe.size()));
    Bytes ct(16, 0xee);
    QRT_BIN_Set(ed->encContent.encrypted, ct.data(), static_cast<int>(ct.size()));
    Out der;
    ASSERT_EQ(QRT_PKCS7_Encrypted_Encode(&der, ed), 0);
    ZQ_PKCS7_CONTENT ci{};
    ASSERT_EQ(QRT_PKCS7_Content_Decode(&ci, &der), 0);
    ASSERT_EQ(QRT_PKCS7_Encrypted_Decode(ed, &ci), 0);
    EXPECT_EQ(ed->encContent.encID, 0);
    EXPECT_EQ(bytes(*ed->encContent.algID), pbe);
    EXPECT_EQ(bytes(*ed->encContent.encrypted), ct);
    QRT_PKCS7_Encrypted_Free(ed);
    QRT_PKCS7_Content_Reset(&ci);
    // the one-call form cannot decrypt it
    Bytes key(24, 1);
    BIN k = view(key);
    Out none;
    int id = 0;
    EXPECT_EQ(QRT_PKCS7_DecodeEncrypted(&id, &none, &der, &k), QRT_PKCS7_UNKNOWN_ENCID);
}

TEST_F(Pkcs7Env, HostileEnvelopesFailCleanly) {
    const Peers &p = peers();
    Bytes msg, back;
    int enc = 0;
    ASSERT_EQ(encode_env(msg, QRT_PKCS7_AES128, data_ci("cut short"), p.cert1), 0);
    for (size_t len = 0; len < msg.size(); ++len) {
        Bytes cut(msg.begin(), msg.begin() + static_cast<long>(len));
        if (cut.empty()) continue;
        ASSERT_NE(decode_env(back, enc, cut, p.cert1, p.key1), 0) << len;
        ASSERT_TRUE(back.empty());
    }
    QRT_Trace_ClearError();

    // no recipient infos at all; more than the limit (refused before any key work)
    ZQ_PKCS7_CONTENT ci{};
    BIN m = view(msg);
    ASSERT_EQ(QRT_PKCS7_Content_Decode(&ci, &m), 0);
    void *v = nullptr;
    ASSERT_EQ(QRT_ASN_DecodePDU(&v, ci.value, EnvelopedDataWire_PDU), 0);
    auto *w = static_cast<EnvelopedDataWire *>(v);
    EnvelopedDataWire_recipientInfos saved = w->recipientInfos;
    for (size_t count : {size_t{0}, size_t{QRT_PKCS7_MAX_RECIPIENTS + 1}}) {
        SCOPED_TRACE(count);
        std::vector<EnvelopedDataWire_recipientInfos_> nodes(count, *saved);
        for (size_t i = 0; i + 1 < nodes.size(); ++i) nodes[i].next = &nodes[i + 1];
        if (!nodes.empty()) nodes.back().next = nullptr;
        w->recipientInfos = nodes.empty() ? nullptr : nodes.data();
        Out inner, outer;
        ASSERT_EQ(QRT_ASN_EncodePDU(&inner, w, EnvelopedDataWire_PDU), 0);
        ZQ_PKCS7_CONTENT c2{QRT_PKCS7_ENVELOPED, &inner.b};
        ASSERT_EQ(QRT_PKCS7_Content_Encode(&outer, &c2), 0);
        EXPECT_EQ(decode_env(back, enc, outer.bytes(), p.cert1, p.key1),
                  count ? QRT_PKCS7_BAD_ENVELOPED_DATA : QRT_PKCS7_NO_RECIP_INFO);
    }
    w->recipientInfos = saved;
    QRT_ASN_FreePDU(v, EnvelopedDataWire_PDU);
    QRT_PKCS7_Content_Reset(&ci);
}

TEST_F(Pkcs7Env, DigestedDataChecksItsDigest) {
    const Bytes ci = data_ci("digest me");
    BIN c = view(ci);
    for (int d : {QRT_PKCS7_SHA1, QRT_PKCS7_SHA256, QRT_PKCS7_SHA512}) {
        Out msg, back;
        ASSERT_EQ(QRT_PKCS7_EncodeDigested(&msg, d, &c), 0);
        int id = 0;
        ASSERT_EQ(QRT_PKCS7_DecodeDigested(&id, &back, &msg), 0);
        EXPECT_EQ(back.bytes(), ci);
        EXPECT_EQ(id, d);
        // one payload byte changed
        Bytes bad = msg.bytes();
        auto at = std::search(bad.begin(), bad.end(), ci.end() - 3, ci.end());
        ASSERT_NE(at, bad.end());
        *at ^= 1;
        BIN b = view(bad);
        Out none;
        EXPECT_EQ(QRT_PKCS7_DecodeDigested(&id, &none, &b), QRT_PKCS7_INVALID_DIGEST);
        EXPECT_TRUE(none.empty());
        EXPECT_TRUE(traced("QRT_PKCS7_DecodeDigested", QRT_PKCS7_INVALID_DIGEST));
    }
}

TEST_F(Pkcs7Env, SignedAndEnvelopedRoundTripAndTamper) {
    const Peers &p = peers();
    const Bytes ci = data_ci("signed, then sealed");
    BIN c = view(ci), sc = view(p.cert2), sk = view(p.key2), rc_ = view(p.cert1), rk = view(p.key1);
    for (int enc : {QRT_PKCS7_DES3, QRT_PKCS7_AES256, QRT_PKCS7_RC2}) {
        SCOPED_TRACE(enc);
        Out msg, back, signer;
        ASSERT_EQ(QRT_PKCS7_EncodeSignEnveloped(&msg, QRT_PKCS7_SHA256, enc, &c, &sc, &sk, &rc_), 0) << t::trace_text();
        int got = 0;
        ASSERT_EQ(QRT_PKCS7_DecodeSignEnveloped(&got, &back, &signer, &msg, &rc_, &rk), 0) << t::trace_text();
        EXPECT_EQ(back.bytes(), ci);
        EXPECT_EQ(signer.bytes(), p.cert2);
        EXPECT_EQ(got, enc);

        // the encrypted signature is what goes out: one byte of it flipped
        ZQ_PKCS7_CONTENT content{};
        ASSERT_EQ(QRT_PKCS7_Content_Decode(&content, &msg), 0);
        ZQ_PKCS7_SIGN_ENVELOPED *sed = QRT_PKCS7_SignEnveloped_New();
        ASSERT_EQ(QRT_PKCS7_SignEnveloped_Decode(sed, &content), 0);
        ASSERT_NE(sed->signerInfos.first, nullptr);
        Bytes sig = bytes(*sed->signerInfos.first->signature);
        EXPECT_EQ(sig.size() % 8, 0u);  // encrypted, padded to the block
        QRT_PKCS7_SignEnveloped_Free(sed);
        QRT_PKCS7_Content_Reset(&content);
        Bytes bad = msg.bytes();
        auto at = std::search(bad.begin(), bad.end(), sig.begin(), sig.end());
        ASSERT_NE(at, bad.end());
        for (long off : {0L, static_cast<long>(sig.size()) - 1}) {
            Bytes flipped = bad;
            flipped[static_cast<size_t>(at - bad.begin() + off)] ^= 0x01;
            BIN f = view(flipped);
            Out none, nocert;
            EXPECT_EQ(QRT_PKCS7_DecodeSignEnveloped(&got, &none, &nocert, &f, &rc_, &rk), QRT_PKCS7_INVALID_SIGNATURE);
            EXPECT_TRUE(none.empty());
            EXPECT_TRUE(nocert.empty());
        }
    }
}

TEST_F(Pkcs7Env, GatewayMessagesRoundTrip) {
    const Peers &p = peers();
    BIN c1 = view(p.cert1), k1 = view(p.key1);
    Bytes hello = str("client hello");
    BIN h = view(hello);
    Out req, cert, data;
    ASSERT_EQ(QRT_PKCS7_EncodeGWConnReq(&req, &c1, &h), 0);
    ASSERT_EQ(QRT_PKCS7_DecodeGWConnReq(&cert, &data, &req), 0);
    EXPECT_EQ(cert.bytes(), p.cert1);
    EXPECT_EQ(data.bytes(), hello);

    ZQ_PKCS7_GW_SET *set = nullptr;
    const Bytes a = data_ci("first item"), b = data_ci("second item");
    BIN ab = view(a), bb = view(b);
    ASSERT_EQ(QRT_PKCS7_GWSet_Add(&set, &ab), 0);
    ASSERT_EQ(QRT_PKCS7_GWSet_Add(&set, &bb), 0);
    Out resp, scert;
    ASSERT_EQ(QRT_PKCS7_EncodeGWConnResp(&resp, 7, &c1, set), 0);
    int status = 0;
    ZQ_PKCS7_GW_SET *got = nullptr;
    ASSERT_EQ(QRT_PKCS7_DecodeGWConnResp(&status, &scert, &got, &resp), 0);
    EXPECT_EQ(status, 7);
    EXPECT_EQ(scert.bytes(), p.cert1);
    ASSERT_EQ(QRT_PKCS7_GWSet_Count(got), 2);
    EXPECT_EQ(bytes(got->next->value), b);
    QRT_PKCS7_GWSet_Free(got);

    // enveloped items: RSA-OAEP with SHA-1 (id-RSAES-OAEP, parameters 30 00)
    Out env;
    ASSERT_EQ(QRT_PKCS7_EncodeGWEnvelopedData(&env, QRT_PKCS7_ARIA256, set, &c1), 0) << t::trace_text();
    EXPECT_TRUE(contains(env.bytes(), {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x01, 0x07, 0x30, 0x00}));
    got = nullptr;
    ASSERT_EQ(QRT_PKCS7_DecodeGWEnvelopedData(&got, &env, &k1), 0) << t::trace_text();
    ASSERT_EQ(QRT_PKCS7_GWSet_Count(got), 2);
    EXPECT_EQ(bytes(got->value), a);
    EXPECT_EQ(bytes(got->next->value), b);
    QRT_PKCS7_GWSet_Free(got);

    Out item, one;
    ASSERT_EQ(QRT_PKCS7_GWEnveloped_GWEnvelope(&item, QRT_PKCS7_SEED, &ab, &c1), 0);
    int enc = 0;
    ASSERT_EQ(QRT_PKCS7_GWEnvelopedData_GWDevelope(&enc, &one, &item, &k1), 0) << t::trace_text();
    EXPECT_EQ(one.bytes(), a);
    EXPECT_EQ(enc, QRT_PKCS7_SEED);

    // encrypted items under a shared key
    Bytes key(16, 9);
    BIN k = view(key);
    Out encd;
    ASSERT_EQ(QRT_PKCS7_EncodeGWEncryptedData(&encd, QRT_PKCS7_AES128, set, &k), 0);
    got = nullptr;
    ASSERT_EQ(QRT_PKCS7_DecodeGWEncryptedData(&got, &encd, &k), 0);
    ASSERT_EQ(QRT_PKCS7_GWSet_Count(got), 2);
    EXPECT_EQ(bytes(got->next->value), b);
    QRT_PKCS7_GWSet_Free(got);
    QRT_PKCS7_GWSet_Free(set);
}

}  // namespace
