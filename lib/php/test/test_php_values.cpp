// Weak and strong values, the strong password and PHP certificate signatures, checked against
// OpenSSL computations.
#include <gtest/gtest.h>
#include <openssl/bn.h>

#include "php_test_keys.hpp"

using namespace php_test;

namespace {

class PhpValues : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (!ostrel::test::have_command("openssl")) return;
        dir_ = new ostrel::test::TempDir;
        server_ = new RsaKey(make_rsa(*dir_, "server", 1024));
        ca_ = new RsaKey(make_rsa(*dir_, "ca", 1024));
    }
    static void TearDownTestSuite() {
        delete server_;
        delete ca_;
        delete dir_;
    }
    void SetUp() override {
        if (!dir_) GTEST_SKIP() << "openssl CLI not available";
        QRT_Trace_Initialize();
        QRT_Trace_ClearError();
    }
    void TearDown() override { QRT_Trace_ClearError(); }

    // Weak value, strong value, check and unblinding in one go.
    static int strong_password(const std::string &pw, const RsaKey &sign_with, Bytes *out, Bytes *blind = nullptr) {
        ZQ_PHP_DATA p = view(pw), pub = view(server_->pub), priv = view(sign_with.priv);
        ZQ_PHP_DATA w{}, r{}, s{}, sp{};
        int rc = QRT_PHP_ComputeWeakValue(&w, &r, &p, &pub);
        if (!rc) rc = QRT_PHP_ComputeStrongValue(&s, &w, &priv);
        if (!rc) rc = QRT_PHP_CheckStrongValue(&s, &w, &pub);
        if (!rc) rc = QRT_PHP_ComputeStrongPasswd(&sp, &s, &r, &pub);
        if (!rc) *out = bytes_of(sp);
        if (blind) *blind = bytes_of(r);
        for (ZQ_PHP_DATA *d : {&w, &r, &s, &sp}) QRT_PHP_DATA_Reset(d);
        return rc;
    }

    static ostrel::test::TempDir *dir_;
    static RsaKey *server_, *ca_;
};

ostrel::test::TempDir *PhpValues::dir_ = nullptr;
RsaKey *PhpValues::server_ = nullptr;
RsaKey *PhpValues::ca_ = nullptr;

}  // namespace

TEST_F(PhpValues, StrongPasswordIsTheUnblindedPowerWhateverTheBlinding) {
    Bytes want = reference_strong(*server_, "correct horse");
    Bytes first_blind;
    for (int run = 0; run < 4; ++run) {
        Bytes got, blind;
        ASSERT_EQ(strong_password("correct horse", *server_, &got, &blind), 0);
        EXPECT_EQ(got, want);
        if (run == 0) first_blind = blind;
        if (run > 0) {
            EXPECT_NE(blind, first_blind);
        }
    }
    Bytes other;
    ASSERT_EQ(strong_password("correct horsf", *server_, &other), 0);
    EXPECT_NE(other, want);
}

TEST_F(PhpValues, BlindingIsBelowTheModulusAndHidesThePassword) {
    ZQ_PHP_DATA p = view("pw"), pub = view(server_->pub);
    ZQ_PHP_DATA w1{}, r1{}, w2{}, r2{};
    ASSERT_EQ(QRT_PHP_ComputeWeakValue(&w1, &r1, &p, &pub), 0);
    ASSERT_EQ(QRT_PHP_ComputeWeakValue(&w2, &r2, &p, &pub), 0);
    EXPECT_NE(bytes_of(w1), bytes_of(w2));
    std::vector<BIGNUM *> v = der_integers(server_->pub);
    BIGNUM *r = BN_bin2bn(r1.data, static_cast<int>(r1.len), nullptr);
    BIGNUM *w = BN_bin2bn(w1.data, static_cast<int>(w1.len), nullptr);
    EXPECT_LT(BN_cmp(r, v[0]), 0);
    EXPECT_LT(BN_cmp(w, v[0]), 0);
    EXPECT_GT(BN_num_bits(r), 1);
    BN_free(r);
    BN_free(w);
    for (BIGNUM *b : v) BN_free(b);
    for (ZQ_PHP_DATA *d : {&w1, &r1, &w2, &r2}) QRT_PHP_DATA_Reset(d);
}

TEST_F(PhpValues, StrongValueFromAnotherKeyIsRefused) {
    // Made with the CA's key, the strong value does not match the server's public key.
    ZQ_PHP_DATA p = view("pw"), pub = view(server_->pub), other = view(ca_->priv);
    ZQ_PHP_DATA w{}, r{}, s{};
    ASSERT_EQ(QRT_PHP_ComputeWeakValue(&w, &r, &p, &pub), 0);
    int rc = QRT_PHP_ComputeStrongValue(&s, &w, &other);
    if (rc == 0) {
        EXPECT_EQ(QRT_PHP_CheckStrongValue(&s, &w, &pub), QRT_PHP_INVALID_STRONG);
    } else {
        EXPECT_EQ(rc, QRT_PHP_RSA_FAILED);  // w was not below the other modulus
    }
    QRT_PHP_DATA_Reset(&s);
    // The weak value itself is no strong value either.
    EXPECT_EQ(QRT_PHP_CheckStrongValue(&w, &w, &pub), QRT_PHP_INVALID_STRONG);
    for (ZQ_PHP_DATA *d : {&w, &r}) QRT_PHP_DATA_Reset(d);

    Bytes junk = {0x30, 0x01};
    ZQ_PHP_DATA bad = view(junk);
    EXPECT_EQ(QRT_PHP_ComputeWeakValue(&w, &r, &p, &bad), QRT_PHP_PKCS1_FAILED);
    EXPECT_EQ(w.data, nullptr);
    EXPECT_EQ(r.data, nullptr);
}

TEST_F(PhpValues, PhpCertificateSignatureInteroperates) {
    Bytes cert = php_cert("server-1", *server_, *ca_);
    ZQ_PHP_DATA c = view(cert);
    ZQ_PHP_CERT dec{};
    ASSERT_EQ(QRT_PHP_DecodePHPCert(&dec, &c), 0);
    EXPECT_EQ(bytes_of(dec.publicKey), server_->pub);

    // openssl reads our signature: SHA-1 with PKCS#1 v1.5 over the signed bytes.
    std::string tbs = *dir_ / "tbs", sig = *dir_ / "sig", capub = *dir_ / "ca.pubpem";
    ostrel::test::write_file(tbs, std::string(dec.tbs.data, dec.tbs.data + dec.tbs.len));
    ostrel::test::write_file(sig, std::string(dec.signature.data, dec.signature.data + dec.signature.len));
    ASSERT_EQ(ostrel::test::run("openssl rsa -in " + ca_->pem + " -pubout -out " + capub + " 2>/dev/null"), 0);
    EXPECT_EQ(ostrel::test::run("openssl dgst -sha1 -verify " + capub + " -signature " + sig + " " + tbs +
                                " >/dev/null 2>&1"),
              0);

    ZQ_PHP_DATA id = view("server-1"), other_id = view("server-2");
    ZQ_PHP_DATA prefix = view("server-");
    ZQ_PHP_DATA ca_pub = view(ca_->pub), wrong_ca = view(server_->pub);
    EXPECT_EQ(QRT_PHP_VerifyPHPCert(&dec, &id, &ca_pub), 0);
    EXPECT_EQ(QRT_PHP_VerifyPHPCert(&dec, &other_id, &ca_pub), QRT_PHP_INVALID_PHPCERT);
    EXPECT_EQ(QRT_PHP_VerifyPHPCert(&dec, &prefix, &ca_pub), QRT_PHP_INVALID_PHPCERT);
    EXPECT_EQ(QRT_PHP_VerifyPHPCert(&dec, &id, &wrong_ca), QRT_PHP_INVALID_PHPCERT);
    dec.tbs.data[dec.tbs.len - 1] ^= 1;  // a changed key no longer matches the signature
    EXPECT_EQ(QRT_PHP_VerifyPHPCert(&dec, &id, &ca_pub), QRT_PHP_INVALID_PHPCERT);
    QRT_PHP_PHPCert_Reset(&dec);

    Bytes junk = {1, 2, 3};
    ZQ_PHP_DATA bad_key = view(junk), out{};
    EXPECT_EQ(QRT_PHP_EncodePHPCert(&out, &id, &ca_pub, &bad_key), QRT_PHP_CSP_FAILED);
    EXPECT_EQ(out.data, nullptr);
}
