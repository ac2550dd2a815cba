// Weak and strong values and the strong password, checked against OpenSSL computations.
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
