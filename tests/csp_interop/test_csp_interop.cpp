// The provider's signatures and RSA encryption against the openssl command line, both ways:
// keys made by openssl are read in the provider's forms and their signatures and ciphertexts
// checked here; what the provider makes (with its own keys too) is checked by openssl pkeyutl.
// RSA PKCS#1 v1.5, PSS and OAEP, DSA and ECDSA; a flipped bit gives 6012.
#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/pem.h>

#include <string>
#include <vector>

#include "ostrel/test_support.hpp"
#include "suite_csp.h"

namespace {

using Bytes = std::vector<unsigned char>;
using ostrel::test::read_file;
using ostrel::test::run;
using ostrel::test::TempDir;
using ostrel::test::write_file;

Bytes bytes(const std::string &s) { return Bytes(s.begin(), s.end()); }
std::string str(const BIN &b) { return std::string(reinterpret_cast<const char *>(b.value), b.length); }
BIN view(const Bytes &b) { return BIN{static_cast<unsigned>(b.size()), const_cast<unsigned char *>(b.data())}; }

struct Out {
    BIN b{0, nullptr};
    ~Out() { QRT_BIN_Reset(&b); }
    Bytes bytes() const { return Bytes(b.value, b.value + b.length); }
};

// A DER INTEGER of a BIGNUM (the provider's form of y, x and d).
Bytes der_int(const BIGNUM *bn) {
    Bytes mag(static_cast<size_t>(BN_num_bytes(bn)));
    BN_bn2bin(bn, mag.data());
    if (mag.empty() || mag[0] & 0x80) mag.insert(mag.begin(), 0);
    Bytes out = {0x02};
    size_t n = mag.size();
    if (n < 0x80) {
        out.push_back(static_cast<unsigned char>(n));
    } else if (n < 0x100) {
        out.insert(out.end(), {0x81, static_cast<unsigned char>(n)});
    } else {
        out.insert(out.end(), {0x82, static_cast<unsigned char>(n >> 8), static_cast<unsigned char>(n)});
    }
    out.insert(out.end(), mag.begin(), mag.end());
    return out;
}

Bytes bn_param(EVP_PKEY *k, const char *name) {
    BIGNUM *bn = nullptr;
    EXPECT_TRUE(EVP_PKEY_get_bn_param(k, name, &bn)) << name;
    Bytes d = der_int(bn);
    BN_free(bn);
    return d;
}

EVP_PKEY *read_pem(const std::string &path) {
    FILE *f = fopen(path.c_str(), "r");
    EVP_PKEY *k = f ? PEM_read_PrivateKey(f, nullptr, nullptr, nullptr) : nullptr;
    if (f) fclose(f);
    return k;
}

class CspInterop : public ::testing::Test {
  protected:
    TempDir dir;
    std::string p(const std::string &n) { return dir / n; }
    // Runs openssl with arguments in the directory; its exit status.
    int openssl(const std::string &args) { return run("cd " + dir.path() + " && openssl " + args + " 2>>log.txt"); }
    void SetUp() override {
        if (!ostrel::test::have_command("openssl")) GTEST_SKIP() << "no openssl command";
    }
    Bytes digest(const std::string &hash, const Bytes &msg, const std::string &file) {
        write_file(p("msg.bin"), std::string(msg.begin(), msg.end()));
        EXPECT_EQ(openssl("dgst -" + hash + " -binary -out " + file + " msg.bin"), 0);
        return bytes(read_file(p(file)));
    }
    void write(const std::string &name, const Bytes &b) { write_file(p(name), std::string(b.begin(), b.end())); }
};

TEST_F(CspInterop, RsaSignaturesBothWays) {
    ASSERT_EQ(openssl("genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out k.pem"), 0);
    ASSERT_EQ(openssl("rsa -in k.pem -traditional -outform DER -out k.der"), 0);
    ASSERT_EQ(openssl("rsa -in k.pem -RSAPublicKey_out -outform DER -out pub.der"), 0);
    Bytes priv = bytes(read_file(p("k.der"))), pub = bytes(read_file(p("pub.der")));
    BIN bpriv = view(priv), bpub = view(pub);
    Bytes dg = digest("sha256", bytes("interop message"), "d.bin");
    BIN d = view(dg);
    struct Mode {
        const char *what;
        int sign_id;
        const char *opts;
    } modes[] = {
        {"v1.5", 4, "-pkeyopt digest:sha256"},
        {"pss", 11, "-pkeyopt digest:sha256 -pkeyopt rsa_padding_mode:pss -pkeyopt rsa_pss_saltlen:32"},
        {"pss max salt", 11, "-pkeyopt digest:sha256 -pkeyopt rsa_padding_mode:pss -pkeyopt rsa_pss_saltlen:max"}};
    for (const Mode &m : modes) {
        SCOPED_TRACE(m.what);
        ZQ_CSP_SignParam sp{};
        sp.rsa_pss.hashID = 6;
        sp.rsa_pss.mgfID = 1;
        // theirs -> ours
        ASSERT_EQ(openssl(std::string("pkeyutl -sign -inkey k.pem -in d.bin -out theirs.sig ") + m.opts), 0);
        Bytes theirs = bytes(read_file(p("theirs.sig")));
        BIN ts = view(theirs);
        EXPECT_EQ(QRT_CSP_VerifySignature(&ts, &d, &bpub, m.sign_id, &sp), 0);
        theirs[17] ^= 0x01;
        ts = view(theirs);
        EXPECT_EQ(QRT_CSP_VerifySignature(&ts, &d, &bpub, m.sign_id, &sp), QRT_CSP_INVALID_SIGNATURE);
        // ours -> theirs
        Out sig;
        ASSERT_EQ(QRT_CSP_ComputeSignature(&sig.b, &d, &bpriv, m.sign_id, &sp), 0);
        write("ours.sig", sig.bytes());
        std::string verify = std::string("pkeyutl -verify -inkey k.pem -in d.bin -sigfile ours.sig ") +
                             (m.sign_id == 11 ? "-pkeyopt digest:sha256 -pkeyopt rsa_padding_mode:pss -pkeyopt "
                                                "rsa_pss_saltlen:auto"
                                              : "-pkeyopt digest:sha256");
        EXPECT_EQ(openssl(verify), 0);
        Bytes bad = sig.bytes();
        bad[40] ^= 0x80;
        write("ours.sig", bad);
        EXPECT_NE(openssl(verify), 0);
    }
    // The older form (SHA-1 over the data) verifies as an ordinary v1.5 signature there.
    Bytes msg = bytes("interop message");
    BIN mb = view(msg);
    Out old;
    ASSERT_EQ(QRT_GenSignatureBin(&bpriv, 2, &mb, &old.b), 0);
    write("old.sig", old.bytes());
    write("msg.txt", msg);
    ASSERT_EQ(openssl("pkey -in k.pem -pubout -out pub.pem"), 0);
    EXPECT_EQ(openssl("dgst -sha1 -verify pub.pem -signature old.sig -out /dev/null msg.txt"), 0);
}

TEST_F(CspInterop, RsaEncryptionBothWaysWithOurKey) {
    // Our key, read by openssl from its PKCS#1 DER.
    ZQ_CSP_GenKeyPairParam gp{};
    gp.rsa.keyLength = 2048;
    Out priv, pub;
    ASSERT_EQ(QRT_CSP_GenerateKeyPair(&priv.b, &pub.b, QRT_CSP_PKEY_RSA, &gp), 0);
    write("our.der", priv.bytes());
    ASSERT_EQ(openssl("rsa -inform DER -in our.der -out our.pem"), 0);
    Bytes pt = bytes("a secret of some length");
    Bytes label = bytes("label");
    BIN in = view(pt), lb = view(label);
    write("pt.bin", pt);
    struct Mode {
        int enc;
        const char *opts;
    } modes[] = {{1, ""},
                 {5,
                  "-pkeyopt rsa_padding_mode:oaep -pkeyopt rsa_oaep_md:sha256 -pkeyopt rsa_mgf1_md:sha256 "
                  "-pkeyopt rsa_oaep_label:6c6162656c"}};
    for (const Mode &m : modes) {
        SCOPED_TRACE(m.enc);
        ZQ_CSP_PEncParam ep{};
        ep.rsa_oaep.hashID = 6;
        ep.rsa_oaep.mgfID = 1;
        ep.rsa_oaep.sourceID = 1;
        ep.rsa_oaep.source = &lb;
        Out ct;
        ASSERT_EQ(QRT_CSP_PublicEncrypt(&ct.b, &in, &pub.b, m.enc, &ep), 0);
        write("ours.ct", ct.bytes());
        ASSERT_EQ(openssl(std::string("pkeyutl -decrypt -inkey our.pem -in ours.ct -out back.bin ") + m.opts), 0);
        EXPECT_EQ(read_file(p("back.bin")), std::string(pt.begin(), pt.end()));
        ASSERT_EQ(openssl(std::string("pkeyutl -encrypt -inkey our.pem -in pt.bin -out theirs.ct ") + m.opts), 0);
        Bytes theirs = bytes(read_file(p("theirs.ct")));
        BIN tc = view(theirs);
        Out back;
        ASSERT_EQ(QRT_CSP_PrivateDecrypt(&back.b, &tc, &priv.b, m.enc, &ep), 0);
        EXPECT_EQ(str(back.b), std::string(pt.begin(), pt.end()));
    }
    // And our v1.5 signature with our key verifies there.
    Bytes dg = digest("sha384", pt, "d.bin");
    BIN d = view(dg);
    Out sig;
    ASSERT_EQ(QRT_CSP_ComputeSignature(&sig.b, &d, &priv.b, 5, nullptr), 0);
    write("s.sig", sig.bytes());
    EXPECT_EQ(openssl("pkeyutl -verify -inkey our.pem -in d.bin -sigfile s.sig -pkeyopt digest:sha384"), 0);
}

TEST_F(CspInterop, DsaBothWays) {
    ASSERT_EQ(openssl("genpkey -genparam -algorithm DSA -pkeyopt dsa_paramgen_bits:2048 -pkeyopt "
                      "dsa_paramgen_q_bits:224 -out p.pem"),
              0);
    ASSERT_EQ(openssl("genpkey -paramfile p.pem -out k.pem"), 0);
    ASSERT_EQ(openssl("dsaparam -in p.pem -outform DER -out p.der"), 0);
    EVP_PKEY *k = read_pem(p("k.pem"));
    ASSERT_NE(k, nullptr);
    Bytes param = bytes(read_file(p("p.der"))), y = bn_param(k, OSSL_PKEY_PARAM_PUB_KEY),
          x = bn_param(k, OSSL_PKEY_PARAM_PRIV_KEY);
    EVP_PKEY_free(k);
    BIN bp = view(param), by = view(y), bx = view(x);
    ZQ_CSP_SignParam sp{};
    sp.dsa.pkeyParam = &bp;
    Bytes dg = digest("sha256", bytes("dsa interop"), "d.bin");
    BIN d = view(dg);
    ASSERT_EQ(openssl("pkeyutl -sign -inkey k.pem -in d.bin -out theirs.sig"), 0);
    Bytes theirs = bytes(read_file(p("theirs.sig")));
    BIN ts = view(theirs);
    EXPECT_EQ(QRT_CSP_VerifySignature(&ts, &d, &by, 15, &sp), 0);
    dg[3] ^= 1;
    EXPECT_EQ(QRT_CSP_VerifySignature(&ts, &d, &by, 15, &sp), QRT_CSP_INVALID_SIGNATURE);
    dg[3] ^= 1;
    Out sig;
    ASSERT_EQ(QRT_CSP_ComputeSignature(&sig.b, &d, &bx, 15, &sp), 0);
    write("ours.sig", sig.bytes());
    EXPECT_EQ(openssl("pkeyutl -verify -inkey k.pem -in d.bin -sigfile ours.sig"), 0);
    write("d.bin", Bytes(dg.size(), 0x42));
    EXPECT_NE(openssl("pkeyutl -verify -inkey k.pem -in d.bin -sigfile ours.sig"), 0);
}

// ECDSA with openssl's key, and with a key and parameters of ours handed to openssl as a
// SubjectPublicKeyInfo.
TEST_F(CspInterop, EcdsaBothWays) {
    for (const char *curve : {"prime256v1", "secp384r1", "secp521r1"}) {
        SCOPED_TRACE(curve);
        ASSERT_EQ(openssl(std::string("genpkey -algorithm EC -pkeyopt ec_paramgen_curve:") + curve +
                          " -pkeyopt ec_param_enc:named_curve -out k.pem"),
                  0);
        ASSERT_EQ(openssl("ec -in k.pem -param_out -outform DER -out p.der"), 0);
        EVP_PKEY *k = read_pem(p("k.pem"));
        ASSERT_NE(k, nullptr);
        unsigned char pt[200];
        size_t pn = 0;
        ASSERT_TRUE(EVP_PKEY_get_octet_string_param(k, OSSL_PKEY_PARAM_PUB_KEY, pt, sizeof pt, &pn));
        Bytes param = bytes(read_file(p("p.der"))), q(pt, pt + pn), d = bn_param(k, OSSL_PKEY_PARAM_PRIV_KEY);
        EVP_PKEY_free(k);
        BIN bp = view(param), bq = view(q), bd = view(d);
        ZQ_CSP_SignParam sp{};
        sp.ecdsa.pkeyParam = &bp;
        Bytes dg = digest("sha256", bytes(curve), "d.bin");
        BIN db = view(dg);
        ASSERT_EQ(openssl("pkeyutl -sign -inkey k.pem -in d.bin -out theirs.sig"), 0);
        Bytes theirs = bytes(read_file(p("theirs.sig")));
        BIN ts = view(theirs);
        EXPECT_EQ(QRT_CSP_VerifySignature(&ts, &db, &bq, 16, &sp), 0);
        dg[0] ^= 0x20;
        EXPECT_EQ(QRT_CSP_VerifySignature(&ts, &db, &bq, 16, &sp), QRT_CSP_INVALID_SIGNATURE);
        dg[0] ^= 0x20;
        Out sig;
        ASSERT_EQ(QRT_CSP_ComputeSignature(&sig.b, &db, &bd, 16, &sp), 0);
        write("ours.sig", sig.bytes());
        EXPECT_EQ(openssl("pkeyutl -verify -inkey k.pem -in d.bin -sigfile ours.sig"), 0);
    }
    // Our parameters and key pair.
    ZQ_CSP_GenParamParam g{};
    g.ecdsa.ncid = 3;
    Out param;
    ASSERT_EQ(QRT_CSP_GenerateParam(&param.b, QRT_CSP_PKEY_ECDSA, &g), 0);
    WJ_EC_Parameters *ec = WJ_ECDSA_Parameters_New();
    ASSERT_EQ(WJ_ECDSA_Parameters_Decode(ec, param.b.value, param.b.length), 0);
    WJ_EC_POINT *q = WJ_EC_Point_New(ec);
    WJ_BigInt *dd = WJ_BigInt_New(1);
    ASSERT_EQ(WJ_ECDSA_GenerateKey(dd, q, ec), 0);
    unsigned char oct[65], dder[40];
    unsigned on = sizeof oct, dn = sizeof dder;
    ASSERT_EQ(WJ_EC_Point_Encode(oct, &on, q, 0), 0);
    ASSERT_EQ(WJ_BigInt_DerEncode(dder, &dn, dd), 0);
    OSSL_PARAM_BLD *bld = OSSL_PARAM_BLD_new();
    OSSL_PARAM_BLD_push_utf8_string(bld, OSSL_PKEY_PARAM_GROUP_NAME, "prime256v1", 0);
    OSSL_PARAM_BLD_push_octet_string(bld, OSSL_PKEY_PARAM_PUB_KEY, oct, on);
    OSSL_PARAM *op = OSSL_PARAM_BLD_to_param(bld);
    EVP_PKEY_CTX *fc = EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr);
    EVP_PKEY *pk = nullptr;
    EVP_PKEY_fromdata_init(fc);
    ASSERT_EQ(EVP_PKEY_fromdata(fc, &pk, EVP_PKEY_PUBLIC_KEY, op), 1);
    FILE *f = fopen(p("ourpub.pem").c_str(), "w");
    PEM_write_PUBKEY(f, pk);
    fclose(f);
    Bytes dg = digest("sha512", bytes("ours"), "d.bin");
    BIN db = view(dg), bp = param.b, bd{dn, dder};
    ZQ_CSP_SignParam sp{};
    sp.ecdsa.pkeyParam = &bp;
    Out sig;
    ASSERT_EQ(QRT_CSP_ComputeSignature(&sig.b, &db, &bd, 42, &sp), 0);
    write("ours.sig", sig.bytes());
    EXPECT_EQ(openssl("pkeyutl -verify -pubin -inkey ourpub.pem -in d.bin -sigfile ours.sig"), 0);
    EVP_PKEY_free(pk);
    EVP_PKEY_CTX_free(fc);
    OSSL_PARAM_free(op);
    OSSL_PARAM_BLD_free(bld);
    WJ_BigInt_Free(dd);
    WJ_EC_Point_Free(q);
    WJ_ECDSA_Parameters_Free(ec);
}

}  // namespace
