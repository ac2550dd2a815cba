// Password-based encryption: the published KDF vectors (PBKDF1 with its PBES1 examples, PBKDF2
// with HMAC-SHA-1, the PKCS#12 derivation), identifiers and ciphertexts made by OpenSSL read
// here and ours read by OpenSSL, every scheme through the two entry points, hand-built hostile
// identifiers, and the library frame.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>
#include <openssl/x509.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "ostrel/der_build.hpp"
#include "ostrel/test_support.hpp"
#include "ostrel/vectors.hpp"
#include "suite_asn.h"
#include "suite_pkcs5.h"

namespace {

using namespace ostrel::test::der;
using ostrel::test::read_vectors;

const std::string kVectors = "../shared/vectors/";
// Failures are recorded from here on, so tests can read the trace.
[[maybe_unused]] const int kTraceOn = QRT_Trace_Initialize();

Bytes hex(const std::string &s) {
    Bytes b;
    for (size_t i = 0; i + 1 < s.size(); i += 2) b.push_back(static_cast<unsigned char>(std::stoi(s.substr(i, 2), nullptr, 16)));
    return b;
}
Bytes str(const std::string &s) { return Bytes(s.begin(), s.end()); }
BIN view(const Bytes &b) { return BIN{static_cast<unsigned>(b.size()), const_cast<unsigned char *>(b.data())}; }

// A BIN output that releases itself; bytes() copies it out.
struct Out {
    BIN b{0, nullptr};
    ~Out() { QRT_BIN_Reset(&b); }
    BIN *operator&() { return &b; }
    Bytes bytes() const { return b.length ? Bytes(b.value, b.value + b.length) : Bytes{}; }
};

Bytes oid(std::initializer_list<unsigned char> c) { return tlv(0x06, Bytes(c)); }
const Bytes kPbes2Oid = oid({0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x05, 0x0D});
const Bytes kPbkdf2Oid = oid({0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x05, 0x0C});
const Bytes kDesCbcOid = oid({0x2B, 0x0E, 0x03, 0x02, 0x07});
const Bytes kRc2CbcOid = oid({0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x03, 0x02});
const Bytes kAes128Oid = oid({0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x01, 0x02});
const Bytes kPbeSha1DesOid = oid({0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x05, 0x0A});
const Bytes kP12Sha1TdesOid = oid({0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x0C, 0x01, 0x03});

// An INTEGER of any value, minimal two's complement.
Bytes int_der(long long v) {
    Bytes c;
    for (int i = 7; i >= 0; --i) c.push_back(static_cast<unsigned char>(static_cast<unsigned long long>(v) >> (8 * i)));
    while (c.size() > 1 && ((c[0] == 0 && !(c[1] & 0x80)) || (c[0] == 0xFF && (c[1] & 0x80)))) c.erase(c.begin());
    return integer(c);
}

const Bytes kSalt8 = hex("0102030405060708");

Bytes pbkdf2_params(const Bytes &salt, long long count, long long keyLength = -1, const Bytes &prf = {}) {
    Bytes body = cat({salt, int_der(count)});
    if (keyLength >= 0) body = cat({body, int_der(keyLength)});
    return tlv(0x30, cat({body, prf}));
}

Bytes pbes2(const Bytes &kdfParams, const Bytes &encOid, const Bytes &encParams) {
    return seq({kPbes2Oid, seq({seq({kPbkdf2Oid, kdfParams}), seq({encOid, encParams})})});
}

// The default DES-CBC PBES2 identifier with the given PBKDF2-params.
Bytes pbes2_des(const Bytes &kdfParams) { return pbes2(kdfParams, kDesCbcOid, tlv(0x04, Bytes(8, 0x11))); }

int decrypt(const Bytes &algId, const Bytes &cipher, const std::string &pw, Bytes *plain = nullptr,
            ZQ_PKCS5_PBES_ALGID *idOut = nullptr) {
    ZQ_PKCS5_PBES_ALGID id{};
    Out out;
    BIN a = view(algId), c = view(cipher);
    Bytes p = str(pw);
    BIN pb = view(p);
    int rc = QRT_PKCS5_DecryptData(&id, &out, &a, &c, &pb);
    if (plain) *plain = out.bytes();
    if (idOut) *idOut = id;
    return rc;
}

int encrypt(const ZQ_PKCS5_PBES_ALGID &id, const Bytes &plain, const std::string &pw, Bytes *algId, Bytes *cipher) {
    Out a, c;
    BIN p = view(plain);
    Bytes w = str(pw);
    BIN pb = view(w);
    int rc = QRT_PKCS5_EncryptData(&a, &c, &id, &p, &pb);
    *algId = a.bytes();
    *cipher = c.bytes();
    return rc;
}

// OpenSSL's encryption or decryption under an AlgorithmIdentifier given as DER.
bool openssl_crypt(const Bytes &algId, const std::string &pw, const Bytes &in, Bytes *out, bool enc) {
    const unsigned char *p = algId.data();
    X509_ALGOR *alg = d2i_X509_ALGOR(nullptr, &p, static_cast<long>(algId.size()));
    if (!alg) return false;
    unsigned char *data = nullptr;
    int len = 0;
    bool ok = PKCS12_pbe_crypt(alg, pw.c_str(), static_cast<int>(pw.size()), in.data(), static_cast<int>(in.size()),
                               &data, &len, enc ? 1 : 0) != nullptr;
    if (ok) out->assign(data, data + len);
    OPENSSL_free(data);
    X509_ALGOR_free(alg);
    return ok;
}

Bytes algor_der(X509_ALGOR *alg) {
    unsigned char *buf = nullptr;
    int n = i2d_X509_ALGOR(alg, &buf);
    Bytes b(buf, buf + (n > 0 ? n : 0));
    OPENSSL_free(buf);
    X509_ALGOR_free(alg);
    return b;
}

const Bytes kPlain = str("The quick brown fox jumps over the lazy dog, twice over.");

// ---- Published vectors ---------------------------------------------------------------------

int hash_id(const std::string &name) {
    if (name == "MD2") return QRT_CSP_HASH_MD2;
    if (name == "MD5") return QRT_CSP_HASH_MD5;
    if (name == "SHA-1") return QRT_CSP_HASH_SHA1;
    if (name == "SHA-224") return QRT_CSP_HASH_SHA224;
    if (name == "SHA-256") return QRT_CSP_HASH_SHA256;
    if (name == "SHA-384") return QRT_CSP_HASH_SHA384;
    if (name == "SHA-512") return QRT_CSP_HASH_SHA512;
    return -1;
}

TEST(Pkcs5Vectors, Pbkdf1AndItsPbes1Examples) {
    int kdfs = 0, pbes1s = 0;
    for (const auto &v : read_vectors(kVectors + "pbkdf1.txt")) {
        SCOPED_TRACE("pbkdf1.txt line " + std::to_string(v.line));
        Bytes pw = hex(v.get("password"));
        BIN pwb = view(pw);
        ZQ_PKCS5_PBES1_PARAM p{};
        Bytes salt = hex(v.get("salt"));
        p.salt = view(salt);
        p.iterationCount = std::stoi(v.get("iterations"));
        const int hash = hash_id(v.get("hash"));
        if (v.get("type") == "pbkdf1") {
            Out dk;
            ASSERT_EQ(QRT_PKCS5_PBKDF1(&dk, std::stoi(v.get("dklen")), hash, &pwb, &p), 0) << ostrel::test::trace_text();
            EXPECT_EQ(dk.bytes(), hex(v.get("dk")));
            ++kdfs;
            continue;
        }
        // PBES1: DES key DK[0..8), IV DK[8..16); both directions against the published ciphertext.
        const std::string scheme = v.get("scheme");
        p.pbesID = scheme == "pbeWithMD5AndDES-CBC"   ? QRT_PKCS5_PBE_MD5_DES
                   : scheme == "pbeWithSHA1AndDES-CBC" ? QRT_PKCS5_PBE_SHA1_DES
                   : scheme == "pbeWithMD2AndDES-CBC"  ? QRT_PKCS5_PBE_MD2_DES
                                                       : -1;
        ASSERT_NE(p.pbesID, -1) << scheme;
        Out dk;
        ASSERT_EQ(QRT_PKCS5_PBKDF1(&dk, 16, hash, &pwb, &p), 0);
        const Bytes d = dk.bytes();
        EXPECT_EQ(Bytes(d.begin(), d.begin() + 8), hex(v.get("des_key")));
        EXPECT_EQ(Bytes(d.begin() + 8, d.end()), hex(v.get("iv")));
        Bytes cipher = hex(v.get("ciphertext")), plain = hex(v.get("plaintext"));
        BIN cb = view(cipher), pb = view(plain);
        Out dec, enc;
        ASSERT_EQ(QRT_PKCS5_PBES1_Decrypt(&dec, &cb, &pwb, &p), 0) << ostrel::test::trace_text();
        EXPECT_EQ(dec.bytes(), plain);
        ASSERT_EQ(QRT_PKCS5_PBES1_Encrypt(&enc, &pb, &pwb, &p), 0);
        EXPECT_EQ(enc.bytes(), cipher);
        ++pbes1s;
    }
    EXPECT_GE(kdfs, 10);
    EXPECT_GE(pbes1s, 4);
}

TEST(Pkcs5Vectors, Pbkdf2HmacSha1) {
    const bool slow = getenv("OSTREL_SLOW_VECTORS") != nullptr;
    int n = 0;
    for (const auto &v : read_vectors(kVectors + "pbkdf2_hmac_sha1.txt")) {
        SCOPED_TRACE("pbkdf2_hmac_sha1.txt line " + std::to_string(v.line));
        int iterations = std::stoi(v.get("iterations"));
        if (iterations > 1000000 && !slow) continue;  // 2^24 iterations: only when asked for
        Bytes pw = hex(v.get("password")), salt = hex(v.get("salt"));
        BIN pwb = view(pw);
        ZQ_PKCS5_PBKDF2_PARAM p{view(salt), iterations, 0, QRT_PKCS5_PRF_HMAC_SHA1};
        Out dk;
        ASSERT_EQ(QRT_PKCS5_PBKDF2(&dk, std::stoi(v.get("dklen")), &pwb, &p), 0) << ostrel::test::trace_text();
        EXPECT_EQ(dk.bytes(), hex(v.get("dk")));
        ++n;
    }
    EXPECT_GE(n, 4);
}

TEST(Pkcs5Vectors, Pkcs12KdfAllHashes) {
    int n = 0;
    for (const auto &v : read_vectors(kVectors + "pkcs12_kdf.txt")) {
        SCOPED_TRACE("pkcs12_kdf.txt line " + std::to_string(v.line));
        // The library widens each password byte to 00 b: the vector's BMPString without its
        // terminator, every second byte (all the vectors' characters are below U+0100).
        Bytes bmp = hex(v.get("password_bmp"));
        ASSERT_GE(bmp.size(), 2u);
        Bytes pw;
        for (size_t i = 0; i + 2 < bmp.size(); i += 2) {
            ASSERT_EQ(bmp[i], 0) << "character above U+00FF";
            pw.push_back(bmp[i + 1]);
        }
        Bytes salt = hex(v.get("salt"));
        ZQ_PKCS5_P12KDF_PARAM p{hash_id(v.get("hash")), view(salt), std::stoi(v.get("iterations")),
                                std::stoi(v.get("id"))};
        Bytes want = hex(v.get("key"));
        BIN pwb = view(pw);
        Out out;
        ASSERT_EQ(QRT_PKCS5_P12KDF(&out, static_cast<int>(want.size()), &pwb, &p), 0) << ostrel::test::trace_text();
        EXPECT_EQ(out.bytes(), want);
        ++n;
    }
    EXPECT_GE(n, 28);
}

// The widened password with its terminator, an empty password (the terminator alone) and an
// empty salt (no S block), against OpenSSL's derivation from the same BMPString.
TEST(Pkcs5Kdf, Pkcs12KdfEdgesMatchOpenSSL) {
    for (const std::string pw : {"", "p", "a password longer than thirty-two chars, ending in \xe4"}) {
        for (const Bytes &salt : {Bytes{}, kSalt8, Bytes(70, 0xA5)}) {
            for (int id : {1, 2, 3}) {
                Bytes bmp;
                for (unsigned char c : pw) bmp.insert(bmp.end(), {0, c});
                bmp.insert(bmp.end(), {0, 0});
                unsigned char want[45];
                ASSERT_EQ(PKCS12_key_gen_uni(bmp.data(), static_cast<int>(bmp.size()),
                                             const_cast<unsigned char *>(salt.data()), static_cast<int>(salt.size()),
                                             id, 3, sizeof want, want, EVP_sha1()),
                          1);
                Bytes p = str(pw);
                BIN pwb = view(p);
                ZQ_PKCS5_P12KDF_PARAM kp{QRT_CSP_HASH_SHA1, view(salt), 3, id};
                Out out;
                ASSERT_EQ(QRT_PKCS5_P12KDF(&out, sizeof want, &pwb, &kp), 0);
                EXPECT_EQ(out.bytes(), Bytes(want, want + sizeof want)) << "pw=" << pw << " salt=" << salt.size();
            }
        }
    }
}

TEST(Pkcs5Kdf, Pbkdf2Sha2MatchesOpenSSL) {
    const struct {
        int prf;
        const EVP_MD *(*md)();
    } cases[] = {{QRT_PKCS5_PRF_HMAC_SHA224, EVP_sha224},
                 {QRT_PKCS5_PRF_HMAC_SHA256, EVP_sha256},
                 {QRT_PKCS5_PRF_HMAC_SHA384, EVP_sha384},
                 {QRT_PKCS5_PRF_HMAC_SHA512, EVP_sha512}};
    Bytes pw = str("correct horse");
    BIN pwb = view(pw);
    for (const auto &c : cases) {
        for (int len : {1, 32, 65, 100}) {
            unsigned char want[100];
            ASSERT_EQ(PKCS5_PBKDF2_HMAC("correct horse", 13, kSalt8.data(), 8, 1000, c.md(), len, want), 1);
            ZQ_PKCS5_PBKDF2_PARAM p{view(kSalt8), 1000, 0, c.prf};
            Out dk;
            ASSERT_EQ(QRT_PKCS5_PBKDF2(&dk, len, &pwb, &p), 0);
            EXPECT_EQ(dk.bytes(), Bytes(want, want + len)) << "prf " << c.prf << " len " << len;
        }
    }
    ZQ_PKCS5_PBKDF2_PARAM p{view(kSalt8), 1, 0, QRT_PKCS5_PRF_HMAC_SHA1};
    Out dk;
    EXPECT_EQ(QRT_PKCS5_PBKDF2(&dk, 0, &pwb, &p), 0);
    EXPECT_EQ(dk.b.length, 0u);
}

// ---- OpenSSL's identifiers and ciphertexts, and ours in OpenSSL ------------------------------

TEST(Pkcs5Interop, OpenSSLPbes2AndPkcs12ReadHereAndBack) {
    const unsigned char iv[16] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6};
    unsigned char salt8[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    struct Case {
        const char *what;
        std::function<X509_ALGOR *()> make;
        int pbesID, encID, prfID;
    };
    const Case cases[] = {
        {"aes256 sha256",
         [&] { return PKCS5_pbe2_set_iv(EVP_aes_256_cbc(), 2048, salt8, 8, const_cast<unsigned char *>(iv), NID_hmacWithSHA256); },
         5, QRT_PKCS5_ENC_AES256_CBC, QRT_PKCS5_PRF_HMAC_SHA256},
        {"aes128 sha1",
         [&] { return PKCS5_pbe2_set_iv(EVP_aes_128_cbc(), 10, salt8, 8, const_cast<unsigned char *>(iv), NID_hmacWithSHA1); },
         5, QRT_PKCS5_ENC_AES128_CBC, QRT_PKCS5_PRF_HMAC_SHA1},
        {"aes192 sha512",
         [&] { return PKCS5_pbe2_set_iv(EVP_aes_192_cbc(), 7, salt8, 8, const_cast<unsigned char *>(iv), NID_hmacWithSHA512); },
         5, QRT_PKCS5_ENC_AES192_CBC, QRT_PKCS5_PRF_HMAC_SHA512},
        {"des-ede3 sha384",
         [&] { return PKCS5_pbe2_set_iv(EVP_des_ede3_cbc(), 5, salt8, 8, const_cast<unsigned char *>(iv), NID_hmacWithSHA384); },
         5, QRT_PKCS5_ENC_DES_EDE3_CBC, QRT_PKCS5_PRF_HMAC_SHA384},
        {"des-ede3 sha224",
         [&] { return PKCS5_pbe2_set_iv(EVP_des_ede3_cbc(), 5, salt8, 8, const_cast<unsigned char *>(iv), NID_hmacWithSHA224); },
         5, QRT_PKCS5_ENC_DES_EDE3_CBC, QRT_PKCS5_PRF_HMAC_SHA224},
        {"pkcs12 3des", [&] { return PKCS5_pbe_set(NID_pbe_WithSHA1And3_Key_TripleDES_CBC, 1024, kSalt8.data(), 8); },
         33, 0, 0},
        {"pkcs12 2des", [&] { return PKCS5_pbe_set(NID_pbe_WithSHA1And2_Key_TripleDES_CBC, 3, kSalt8.data(), 8); },
         34, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Bytes algId = algor_der(c.make());
        ASSERT_FALSE(algId.empty());
        Bytes cipher, plain;
        ASSERT_TRUE(openssl_crypt(algId, "secret", kPlain, &cipher, true));
        ZQ_PKCS5_PBES_ALGID id{};
        ASSERT_EQ(decrypt(algId, cipher, "secret", &plain, &id), 0) << ostrel::test::trace_text();
        EXPECT_EQ(plain, kPlain);
        EXPECT_EQ(id.pbesID, c.pbesID);
        if (c.pbesID == 5) {
            EXPECT_EQ(id.pbes2Param.encID, c.encID);
            EXPECT_EQ(id.pbes2Param.prfID, c.prfID);
            EXPECT_EQ(decrypt(algId, cipher, "Secret"), QRT_PKCS5_INVALID_PASSWORD);
        }
        // Ours, with the same choice of scheme, read by OpenSSL.
        Bytes ourAlg, ourCipher, back;
        ASSERT_EQ(encrypt(id, kPlain, "secret", &ourAlg, &ourCipher), 0) << ostrel::test::trace_text();
        ASSERT_TRUE(openssl_crypt(ourAlg, "secret", ourCipher, &back, false)) << c.what;
        EXPECT_EQ(back, kPlain);
    }
}

// ---- Every scheme through the entry points ---------------------------------------------------

TEST(Pkcs5RoundTrip, EverySchemeAndWrongPassword) {
    struct Case {
        int pbesID, encID, prfID;
    };
    std::vector<Case> cases;
    for (int id : {1, 2, 3, 4, 6, 7, 8, 9, 31, 32, 33, 34, 35, 36, 41}) cases.push_back({id, 0, 0});
    for (int enc : {1, 2, 4, 6, 9, 11, 12, 13}) cases.push_back({5, enc, 0});
    for (int prf : {1, 6, 7, 8, 9}) cases.push_back({5, 11, prf});
    for (const Case &c : cases) {
        SCOPED_TRACE("pbesID " + std::to_string(c.pbesID) + " encID " + std::to_string(c.encID) + " prf " +
                     std::to_string(c.prfID));
        ZQ_PKCS5_PBES_ALGID id{};
        id.pbesID = c.pbesID;
        id.pbes2Param.encID = c.encID;
        id.pbes2Param.prfID = c.prfID;
        Bytes algId, cipher, plain;
        ASSERT_EQ(encrypt(id, kPlain, "pw", &algId, &cipher), 0) << ostrel::test::trace_text();
        EXPECT_NE(cipher, kPlain);
        ZQ_PKCS5_PBES_ALGID got{};
        ASSERT_EQ(decrypt(algId, cipher, "pw", &plain, &got), 0) << ostrel::test::trace_text();
        EXPECT_EQ(plain, kPlain);
        EXPECT_EQ(got.pbesID, c.pbesID);
        if (c.pbesID == 5) {
            EXPECT_EQ(got.pbes2Param.encID, c.encID);
            EXPECT_EQ(got.pbes2Param.prfID, c.prfID ? c.prfID : 1);
        }
        // A wrong key gives valid-looking padding now and then (the salt is random): then the
        // bytes are garbage. Otherwise PBES1/PBES2 say 37131 and PKCS#12 keeps the provider's
        // code; the stream ciphers cannot tell at all.
        int wrong = decrypt(algId, cipher, "pW", &plain);
        if (wrong == 0) {
            EXPECT_NE(plain, kPlain);
        } else if (c.pbesID < 30) {
            EXPECT_EQ(wrong, QRT_PKCS5_INVALID_PASSWORD);
        } else {
            EXPECT_NE(wrong, QRT_PKCS5_INVALID_PASSWORD);
            EXPECT_TRUE(plain.empty());
        }
    }
}

// Ids 42 and 43 name NEAT, which the provider may lack: both fail alike with its code.
TEST(Pkcs5RoundTrip, NeatSchemesEndInTheProvider) {
    for (int idn : {42, 43}) {
        ZQ_PKCS5_PBES_ALGID id{};
        id.pbesID = idn;
        Bytes algId, cipher;
        int rc = encrypt(id, kPlain, "pw", &algId, &cipher);
        if (rc == 0) continue;  // a provider with NEAT
        EXPECT_EQ(rc, 6110);
        EXPECT_TRUE(algId.empty() && cipher.empty());
    }
}

// The PBES1 SEED schemes: id 4's IV is SHA-1 of DK[16..20), id 9's the fixed string.
TEST(Pkcs5RoundTrip, SeedPbes1Ivs) {
    Bytes pw = str("seed");
    BIN pwb = view(pw);
    ZQ_PKCS5_PBES1_PARAM p{QRT_PKCS5_PBE_SEED_CBC_SHA1, view(kSalt8), 100};
    Out dk, ivh;
    ASSERT_EQ(QRT_PKCS5_PBKDF1(&dk, 20, QRT_CSP_HASH_SHA1, &pwb, &p), 0);
    BIN tail{4, dk.b.value + 16};
    ASSERT_EQ(QRT_CSP_Hash(&ivh, &tail, QRT_CSP_HASH_SHA1), 0);
    for (int idn : {4, 9}) {
        p.pbesID = idn;
        BIN key{16, dk.b.value};
        BIN iv{16, idn == 4 ? ivh.b.value : reinterpret_cast<unsigned char *>(const_cast<char *>("7391046285173904"))};
        ZQ_CSP_CipherParam cp{};
        cp.modeID = 2;
        cp.paddingID = 2;
        cp.modeParam.iv = &iv;
        BIN in = view(kPlain);
        Out want, got;
        ASSERT_EQ(QRT_CSP_Encrypt(&want, &in, &key, QRT_CSP_CIPHER_SEED, &cp), 0);
        ASSERT_EQ(QRT_PKCS5_PBES1_Encrypt(&got, &in, &pwb, &p), 0);
        EXPECT_EQ(got.bytes(), want.bytes()) << "id " << idn;
    }
}

// ---- Hostile and foreign identifiers -----------------------------------------------------------

TEST(Pkcs5Edges, RefusedInputs) {
    const Bytes cipher(16, 0x42);
    const Bytes desIv = tlv(0x04, Bytes(8, 0x11));
    const Bytes salt = tlv(0x04, kSalt8);
    const Bytes hmacSha256 = seq({oid({0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x09}), tlv(0x05, {})});
    const Bytes unknownPrf = seq({oid({0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x05}), tlv(0x05, {})});
    auto pbes1 = [&](long long n) { return seq({kPbeSha1DesOid, seq({salt, int_der(n)})}); };
    auto p12 = [&](long long n) { return seq({kP12Sha1TdesOid, seq({salt, int_der(n)})}); };
    const struct {
        const char *what;
        Bytes algId;
        int code;
    } cases[] = {
        {"rc2 without keyLength", pbes2(pbkdf2_params(salt, 1), kRc2CbcOid, seq({int_der(58), tlv(0x04, Bytes(8, 1))})),
         QRT_PKCS5_INVALID_INPUT},
        {"salt not specified", pbes2_des(pbkdf2_params(seq({kPbkdf2Oid}), 1)), QRT_PKCS5_UNKNOWN_SALT},
        {"count 2^31-1", pbes2_des(pbkdf2_params(salt, 0x7FFFFFFF)), QRT_PKCS5_BAD_ALGORITHM_PARAMETER},
        {"count negative", pbes2_des(pbkdf2_params(salt, -1)), QRT_PKCS5_BAD_ALGORITHM_PARAMETER},
        {"count zero", pbes2_des(pbkdf2_params(salt, 0)), QRT_PKCS5_BAD_ALGORITHM_PARAMETER},
        {"count over the limit", pbes2_des(pbkdf2_params(salt, 2000001)), QRT_PKCS5_BAD_ALGORITHM_PARAMETER},
        {"pbes1 count 2^31-1", pbes1(0x7FFFFFFF), QRT_PKCS5_BAD_ALGORITHM_PARAMETER},
        {"pbes1 count negative", pbes1(-5), QRT_PKCS5_BAD_ALGORITHM_PARAMETER},
        {"pkcs12 count 2^31-1", p12(0x7FFFFFFF), QRT_PKCS5_BAD_ALGORITHM_PARAMETER},
        {"pkcs12 count negative", p12(-1), QRT_PKCS5_BAD_ALGORITHM_PARAMETER},
        {"pkcs12 count zero", p12(0), QRT_PKCS5_BAD_ALGORITHM_PARAMETER},
        {"des keyLength 16", pbes2_des(pbkdf2_params(salt, 1, 16)), QRT_PKCS5_BAD_ALGORITHM_PARAMETER},
        {"aes-128 keyLength 32", pbes2(pbkdf2_params(salt, 1, 32), kAes128Oid, tlv(0x04, Bytes(16, 1))),
         QRT_PKCS5_BAD_ALGORITHM_PARAMETER},
        {"rc2 keyLength 129",
         pbes2(pbkdf2_params(salt, 1, 129), kRc2CbcOid, seq({int_der(58), tlv(0x04, Bytes(8, 1))})),
         QRT_PKCS5_BAD_ALGORITHM_PARAMETER},
        {"rc2 keyLength 0", pbes2(pbkdf2_params(salt, 1, 0), kRc2CbcOid, seq({int_der(58), tlv(0x04, Bytes(8, 1))})),
         QRT_PKCS5_BAD_ALGORITHM_PARAMETER},
        {"unknown prf", pbes2_des(pbkdf2_params(salt, 1, -1, unknownPrf)), QRT_PKCS5_UNKNOWN_ID},
        {"unknown cipher", pbes2(pbkdf2_params(salt, 1), kPbkdf2Oid, desIv), QRT_PKCS5_UNKNOWN_ENCID},
        {"des iv of 7", pbes2(pbkdf2_params(salt, 1), kDesCbcOid, tlv(0x04, Bytes(7, 1))),
         QRT_PKCS5_BAD_ALGORITHM_PARAMETER},
        {"no cipher parameters", seq({kPbes2Oid, seq({seq({kPbkdf2Oid, pbkdf2_params(salt, 1)}), seq({kDesCbcOid})})}),
         QRT_PKCS5_BAD_ALGORITHM_PARAMETER},
        {"no kdf parameters", seq({kPbes2Oid, seq({seq({kPbkdf2Oid}), seq({kDesCbcOid, desIv})})}),
         QRT_PKCS5_BAD_ALGORITHM_PARAMETER},
        {"unknown scheme", seq({kAes128Oid, desIv}), QRT_PKCS5_UNKNOWN_PBESID},
        {"pbes1 salt of 7", seq({kPbeSha1DesOid, seq({tlv(0x04, Bytes(7, 1)), int_der(1)})}),
         QRT_PKCS5_BAD_ALGORITHM_PARAMETER},
        {"pbes1 without parameters", seq({kPbeSha1DesOid}), QRT_PKCS5_BAD_ALGORITHM_PARAMETER},
    };
    for (const auto &c : cases) {
        auto t0 = std::chrono::steady_clock::now();
        int rc = decrypt(c.algId, cipher, "pw");
        // The ASN.1 layer itself refuses counts below 1 in some types; its code passes through.
        if (c.code == QRT_PKCS5_BAD_ALGORITHM_PARAMETER && rc >= 1000 && rc < 2000) rc = c.code;
        EXPECT_EQ(rc, c.code) << c.what;
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(200)) << c.what;
    }
    // A prf written by OpenSSL by default is read (hmacWithSHA256).
    Bytes withPrf = pbes2_des(pbkdf2_params(salt, 3, -1, hmacSha256));
    ZQ_PKCS5_PBES_ALGID id{};
    EXPECT_EQ(decrypt(withPrf, cipher, "pw", nullptr, &id), QRT_PKCS5_INVALID_PASSWORD);
    EXPECT_EQ(id.pbes2Param.prfID, QRT_PKCS5_PRF_HMAC_SHA256);

    // The KDFs' own limits.
    Bytes pw = str("pw");
    BIN pwb = view(pw);
    ZQ_PKCS5_PBES1_PARAM p{3, view(kSalt8), 1};
    Out dk;
    EXPECT_EQ(QRT_PKCS5_PBKDF1(&dk, 21, QRT_CSP_HASH_SHA1, &pwb, &p), QRT_PKCS5_INVALID_INPUT);
    EXPECT_EQ(QRT_PKCS5_PBKDF1(&dk, 17, QRT_CSP_HASH_MD5, &pwb, &p), QRT_PKCS5_INVALID_INPUT);
    EXPECT_EQ(QRT_PKCS5_PBKDF1(&dk, 21, 4, &pwb, &p), QRT_PKCS5_UNKNOWN_ID);
    EXPECT_EQ(QRT_PKCS5_PBKDF1(&dk, 16, 0, &pwb, &p), QRT_PKCS5_UNKNOWN_ID);
    ZQ_PKCS5_PBKDF2_PARAM k2{view(kSalt8), 1, 0, 2};
    EXPECT_EQ(QRT_PKCS5_PBKDF2(&dk, 16, &pwb, &k2), QRT_PKCS5_UNKNOWN_ID);
    ZQ_PKCS5_P12KDF_PARAM k12{QRT_CSP_HASH_MD5, view(kSalt8), 1, 1};
    EXPECT_EQ(QRT_PKCS5_P12KDF(&dk, 16, &pwb, &k12), QRT_PKCS5_UNKNOWN_ID);
    ZQ_PKCS5_PBES_ALGID bad{};
    bad.pbesID = 10;
    Bytes a, c;
    EXPECT_EQ(encrypt(bad, kPlain, "pw", &a, &c), QRT_PKCS5_UNKNOWN_PBESID);
    bad = ZQ_PKCS5_PBES_ALGID{5, {1, 1, 3}};
    EXPECT_EQ(encrypt(bad, kPlain, "pw", &a, &c), QRT_PKCS5_UNKNOWN_ENCID);
    bad = ZQ_PKCS5_PBES_ALGID{5, {1, 2, 1}};
    EXPECT_EQ(encrypt(bad, kPlain, "pw", &a, &c), QRT_PKCS5_UNKNOWN_ID);
    EXPECT_EQ(QRT_PKCS5_EncryptData(nullptr, nullptr, nullptr, nullptr, nullptr), QRT_PKCS5_INVALID_INPUT);
}

// The limit is process-wide and read from input only; the KDFs take any count they are given.
TEST(Pkcs5Edges, IterationLimit) {
    EXPECT_EQ(QRT_PKCS5_GetIterationLimit(), QRT_PKCS5_DEFAULT_ITERATION_LIMIT);
    EXPECT_EQ(QRT_PKCS5_SetIterationLimit(0), QRT_PKCS5_INVALID_INPUT);
    ASSERT_EQ(QRT_PKCS5_SetIterationLimit(100), 0);
    const Bytes salt = tlv(0x04, kSalt8);
    EXPECT_EQ(decrypt(pbes2_des(pbkdf2_params(salt, 101)), Bytes(8, 0), "pw"), QRT_PKCS5_BAD_ALGORITHM_PARAMETER);
    EXPECT_EQ(decrypt(pbes2_des(pbkdf2_params(salt, 100)), Bytes(8, 0), "pw"), QRT_PKCS5_INVALID_PASSWORD);
    Bytes pw = str("pw");
    BIN pwb = view(pw);
    ZQ_PKCS5_PBKDF2_PARAM p{view(kSalt8), 2048, 0, 1};
    Out dk;
    EXPECT_EQ(QRT_PKCS5_PBKDF2(&dk, 20, &pwb, &p), 0);
    ASSERT_EQ(QRT_PKCS5_SetIterationLimit(QRT_PKCS5_DEFAULT_ITERATION_LIMIT), 0);
}

// ---- The PKCS#12 parameter codec ---------------------------------------------------------------

TEST(Pkcs5P12Params, EncodeIsDerForAnySaltAndDecodeIsBounded) {
    for (size_t saltLen : {size_t{0}, size_t{8}, size_t{118}, size_t{127}, size_t{128}, size_t{300}}) {
        for (int count : {1, 127, 128, 32767, 32768, 8388607, 8388608, 0x7FFFFFFF}) {
            Bytes salt(saltLen, 0x5A);
            ZQ_PKCS5_P12PBE_PARAM p{view(salt), count};
            Out der;
            ASSERT_EQ(QRT_PKCS5_P12PBEParam_Encode(&der, &p), 0);
            EXPECT_EQ(der.bytes(), seq({tlv(0x04, salt), int_der(count)})) << saltLen << " " << count;
            // OpenSSL reads it and writes the same bytes.
            Bytes b = der.bytes();
            const unsigned char *q = b.data();
            PBEPARAM *pp = d2i_PBEPARAM(nullptr, &q, static_cast<long>(b.size()));
            ASSERT_NE(pp, nullptr);
            EXPECT_EQ(q, b.data() + b.size());
            PBEPARAM_free(pp);
            if (count <= QRT_PKCS5_DEFAULT_ITERATION_LIMIT) {
                ZQ_PKCS5_P12PBE_PARAM back{};
                BIN db = view(b);
                ASSERT_EQ(QRT_PKCS5_P12PBEParam_Decode(&back, &db), 0);
                EXPECT_EQ(back.iterationCount, count);
                EXPECT_EQ(QRT_BIN_Cmp(&back.salt, &p.salt) == 0 || saltLen == 0, true);
                QRT_PKCS5_P12PBEParam_Reset(&back);
            }
        }
    }
    const Bytes s = tlv(0x04, kSalt8);
    const Bytes bad[] = {
        hex("3007040201"),                                    // salt runs past the end
        hex("300d0408010203040506070802050000000001"),        // count of 5 octets
        hex("300a040801020304050607080200"),                  // count of 0 octets
        seq({s, integer({0xFF})}),                            // negative
        seq({s, integer({0x00})}),                            // zero
        hex("3084ffffffff04080102030405060708020101"),        // outer length past the input
        hex("3010040801020304050607080204000000"),            // count runs past the end
        hex("3005040102020101"),                              // count ends outside the SEQUENCE
        seq({tlv(0x05, kSalt8), int_der(1)}),                 // not an OCTET STRING
        Bytes{0x30, 0x03, 0x04, 0x01},                        // short
        hex("30080488000000000000000802"),                    // 8-octet length form
    };
    for (const Bytes &b : bad) {
        ZQ_PKCS5_P12PBE_PARAM p{};
        BIN db = view(b);
        EXPECT_EQ(QRT_PKCS5_P12PBEParam_Decode(&p, &db), QRT_PKCS5_BAD_ALGORITHM_PARAMETER);
        EXPECT_EQ(p.salt.value, nullptr);
    }
    // Long-form lengths that are not minimal are still read.
    Bytes longForm = hex("30810f048108010203040506070802020400");
    ZQ_PKCS5_P12PBE_PARAM p{};
    BIN db = view(longForm);
    ASSERT_EQ(QRT_PKCS5_P12PBEParam_Decode(&p, &db), 0);
    EXPECT_EQ(p.iterationCount, 1024);
    QRT_PKCS5_P12PBEParam_Reset(&p);
}

// ---- RC2: parameter versions, and PBES1 effective bits ---------------------------------------------

TEST(Pkcs5Rc2, ParameterVersionsFollowTheTable) {
    ZQ_PKCS5_PBES_ALGID id{5, {1, 1, QRT_PKCS5_ENC_RC2_CBC}};
    const struct {
        int bits, version;
    } known[] = {{40, 160}, {64, 120}, {128, 58}, {32, 65}, {256, 256}, {1, 0x56}};
    for (const auto &k : known) {
        ZQ_PKCS5_PBES2_PARAM p{};
        ASSERT_EQ(QRT_PKCS5_PBES2Param_Generate(&p, &id), 0);
        p.cipherParam.suiteParam.rc2.effectiveBits = k.bits;
        Out der;
        ASSERT_EQ(QRT_PKCS5_PBES2AId_Encode(&der, &id, &p), 0);
        Bytes want = seq({int_der(k.version), tlv(0x04, Bytes(p.cipherParam.modeParam.iv->value,
                                                              p.cipherParam.modeParam.iv->value + 8))});
        Bytes got = der.bytes();
        EXPECT_NE(std::search(got.begin(), got.end(), want.begin(), want.end()), got.end()) << k.bits;
        ZQ_PKCS5_PBES2_PARAM back{};
        ZQ_PKCS5_PBES_ALGID bid{};
        ASSERT_EQ(QRT_PKCS5_PBES2AId_Decode(&bid, &back, &der.b), 0);
        EXPECT_EQ(back.cipherParam.suiteParam.rc2.effectiveBits, k.bits);
        EXPECT_EQ(back.pbkdf2Param.keyLength, 16);
        QRT_PKCS5_PBES2Param_Reset(&back);
        QRT_PKCS5_PBES2Param_Reset(&p);
    }
    // Without a version: 32 effective bits.
    Bytes algId = pbes2(pbkdf2_params(tlv(0x04, kSalt8), 1, 16), kRc2CbcOid, seq({tlv(0x04, Bytes(8, 1))}));
    ZQ_PKCS5_PBES2_PARAM p{};
    ZQ_PKCS5_PBES_ALGID bid{};
    BIN a = view(algId);
    ASSERT_EQ(QRT_PKCS5_PBES2AId_Decode(&bid, &p, &a), 0);
    EXPECT_EQ(p.cipherParam.suiteParam.rc2.effectiveBits, 32);
    QRT_PKCS5_PBES2Param_Reset(&p);
}

TEST(Pkcs5Rc2, Pbes1WritesSixtyFourBitsAndReadsEight) {
    Bytes pw = str("rc2");
    BIN pwb = view(pw);
    ZQ_PKCS5_PBES1_PARAM p{QRT_PKCS5_PBE_MD5_RC2, view(kSalt8), 10};
    Out dk;
    ASSERT_EQ(QRT_PKCS5_PBKDF1(&dk, 16, QRT_CSP_HASH_MD5, &pwb, &p), 0);
    BIN key{8, dk.b.value}, iv{8, dk.b.value + 8}, in = view(kPlain);
    for (int bits : {64, 8}) {
        ZQ_CSP_CipherParam cp{};
        cp.suiteParam.rc2.effectiveBits = bits;
        cp.modeID = 2;
        cp.paddingID = 2;
        cp.modeParam.iv = &iv;
        Out direct, ours, plain;
        ASSERT_EQ(QRT_CSP_Encrypt(&direct, &in, &key, QRT_CSP_CIPHER_RC2, &cp), 0);
        if (bits == 64) {
            ASSERT_EQ(QRT_PKCS5_PBES1_Encrypt(&ours, &in, &pwb, &p), 0);
            EXPECT_EQ(ours.bytes(), direct.bytes());
        }
        ASSERT_EQ(QRT_PKCS5_PBES1_Decrypt(&plain, &direct.b, &pwb, &p), 0) << bits;
        EXPECT_EQ(plain.bytes(), kPlain);
    }
    // OpenSSL writes these schemes with 64 effective bits too: its ciphertext reads here, where
    // its legacy ciphers are installed.
    OSSL_PROVIDER *legacy = OSSL_PROVIDER_load(nullptr, "legacy");
    OSSL_PROVIDER *deflt = OSSL_PROVIDER_load(nullptr, "default");
    if (!legacy) GTEST_SKIP() << "OpenSSL legacy provider not installed";
    unsigned char salt8[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    for (int nid : {NID_pbeWithMD5AndRC2_CBC, NID_pbeWithSHA1AndRC2_CBC}) {
        Bytes algId = algor_der(PKCS5_pbe_set(nid, 10, salt8, 8)), cipher, plain;
        ASSERT_TRUE(openssl_crypt(algId, "rc2", kPlain, &cipher, true)) << nid;
        ASSERT_EQ(decrypt(algId, cipher, "rc2", &plain), 0) << ostrel::test::trace_text();
        EXPECT_EQ(plain, kPlain);
    }
    OSSL_PROVIDER_unload(legacy);
    OSSL_PROVIDER_unload(deflt);
}

// ---- PBMAC1 -----------------------------------------------------------------------------------

TEST(Pkcs5Mac, Pbmac1AgainstOpenSSLAndMismatch) {
    Bytes pw = str("mac pw"), data = str("authenticated bytes");
    BIN pwb = view(pw), db = view(data);
    ZQ_PKCS5_PBMAC1_PARAM p{1, {view(kSalt8), 1000, 0, QRT_PKCS5_PRF_HMAC_SHA256}, QRT_CSP_MAC_HMAC_SHA256, 32};
    Out mac;
    ASSERT_EQ(QRT_PKCS5_PBMAC1_Generate(&mac, &db, &pwb, &p), 0) << ostrel::test::trace_text();
    unsigned char key[32], want[32];
    unsigned wantLen = 0;
    ASSERT_EQ(PKCS5_PBKDF2_HMAC("mac pw", 6, kSalt8.data(), 8, 1000, EVP_sha256(), 32, key), 1);
    HMAC(EVP_sha256(), key, 32, data.data(), data.size(), want, &wantLen);
    EXPECT_EQ(mac.bytes(), Bytes(want, want + wantLen));
    EXPECT_EQ(QRT_PKCS5_PBMAC1_Verify(&mac.b, &db, &pwb, &p), 0);
    Bytes m = mac.bytes();
    m[31] ^= 1;
    BIN mb = view(m);
    ostrel::test::trace_records();
    EXPECT_EQ(QRT_PKCS5_PBMAC1_Verify(&mb, &db, &pwb, &p), QRT_PKCS5_INVALID_MAC);
    EXPECT_TRUE(ostrel::test::trace_records().empty());
    mb.length = 31;
    EXPECT_EQ(QRT_PKCS5_PBMAC1_Verify(&mb, &db, &pwb, &p), QRT_PKCS5_INVALID_MAC);
    Bytes other = str("mac pW");
    BIN ob = view(other);
    EXPECT_EQ(QRT_PKCS5_PBMAC1_Verify(&mac.b, &db, &ob, &p), QRT_PKCS5_INVALID_MAC);
}

// ---- Frame, trace and buffers -------------------------------------------------------------------

TEST(Pkcs5Frame, VersionReasonsTraceAndBuffers) {
    EXPECT_STREQ(QRT_PKCS5_GetVersion(), "1.5.2.5");
    EXPECT_EQ(QRT_PKCS5_CheckVersion("1.5.2.5"), 0);
    EXPECT_EQ(QRT_PKCS5_CheckVersion("1.5.2.6"), -1);
    EXPECT_STREQ(QRT_PKCS5_GetErrorReason(37131, 1), "invalid password");
    EXPECT_STREQ(QRT_PKCS5_GetErrorReason(37120, 1), "bad algorithm parameter");
    EXPECT_STREQ(QRT_PKCS5_GetErrorReason(37131, 0), "");
    EXPECT_STREQ(QRT_PKCS5_GetErrorReason(37199, 1), "");
    EXPECT_STREQ(QRT_PKCS5_GetErrorReason(6001, 1), QRT_CSP_GetErrorReason(6001, 1));
    EXPECT_STREQ(QRT_PKCS5_GetErrorReason(1001, 1), QRT_ASN_GetErrorReason(1001, 1));
    EXPECT_STREQ(QRT_PKCS5_GetErrorReason(8001, 0), QRT_IO_GetErrorReason(8001, 0));

    ostrel::test::trace_records();
    Bytes bad = pbes2_des(pbkdf2_params(tlv(0x04, kSalt8), 0x7FFFFFFF));
    EXPECT_EQ(decrypt(bad, Bytes(8, 0), "pw"), QRT_PKCS5_BAD_ALGORITHM_PARAMETER);
    std::string trace = ostrel::test::trace_text();
    EXPECT_NE(trace.find("QRT_PKCS5_PBES2AId_Decode:37120:bad algorithm parameter"), std::string::npos) << trace;
    EXPECT_LT(trace.find("PBES2AId_Decode"), trace.find("QRT_PKCS5_DecryptData")) << trace;

    BIN b{0, nullptr};
    EXPECT_EQ(QRT_PKCS5_BIN_Set(&b, "abc", 3), 0);
    EXPECT_EQ(b.length, 3u);
    EXPECT_EQ(std::memcmp(b.value, "abc", 3), 0);
    QRT_BIN_Reset(&b);
    EXPECT_EQ(QRT_PKCS5_BIN_Set(&b, "abc", 0), 0);
    EXPECT_EQ(b.value, nullptr);
    EXPECT_EQ(QRT_PKCS5_BIN_Set(nullptr, "abc", 1), QRT_PKCS5_INVALID_INPUT);
    EXPECT_EQ(QRT_PKCS5_BIN_Resize(&b, 5), 0);
    EXPECT_EQ(b.length, 5u);
    EXPECT_EQ(b.value[4], 0);
    QRT_BIN_Reset(&b);
}

}  // namespace
