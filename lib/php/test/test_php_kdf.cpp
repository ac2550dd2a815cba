// The key derivation against an independent computation with OpenSSL's SHA-1.
#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <string>
#include <vector>

#include "suite_php.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Block i = SHA-1(password, (i+1) x char(65+i), previous block for i > 0).
Bytes reference_kdf(const std::string &password, size_t length) {
    Bytes out, prev;
    for (int i = 0; out.size() < length; ++i) {
        std::string in = password + std::string(static_cast<size_t>(i + 1), static_cast<char>(65 + i));
        in.append(prev.begin(), prev.end());
        prev.assign(SHA_DIGEST_LENGTH, 0);
        SHA1(reinterpret_cast<const unsigned char *>(in.data()), in.size(), prev.data());
        out.insert(out.end(), prev.begin(), prev.end());
    }
    out.resize(length);
    return out;
}

Bytes kdf(const std::string &password, int length, int *rc = nullptr) {
    ZQ_PHP_DATA pw{static_cast<unsigned>(password.size()),
                   reinterpret_cast<unsigned char *>(const_cast<char *>(password.data()))};
    ZQ_PHP_DATA out{0, nullptr};
    int r = QRT_PHP_ComputeKDF(&out, length, &pw);
    if (rc) *rc = r;
    Bytes b = out.len ? Bytes(out.data, out.data + out.len) : Bytes{};
    QRT_PHP_DATA_Reset(&out);
    return b;
}

}  // namespace

TEST(PhpKdf, MatchesIndependentSha1Blocks) {
    // 128 bytes take 7 blocks (A, BB, ... GGGGGGG) and keep the first 128 of their 140 bytes.
    Bytes k128 = kdf("weak password", 128);
    ASSERT_EQ(k128.size(), 128u);
    EXPECT_EQ(k128, reference_kdf("weak password", 128));
    Bytes k140 = kdf("weak password", 140);
    EXPECT_EQ(Bytes(k140.begin(), k140.begin() + 128), k128);
    EXPECT_EQ(k140, reference_kdf("weak password", 140));

    for (int len : {1, 19, 20, 21, 256, 512})
        EXPECT_EQ(kdf("pw", len), reference_kdf("pw", static_cast<size_t>(len))) << len;
    EXPECT_EQ(kdf("", 64), reference_kdf("", 64));
    EXPECT_NE(kdf("pw", 64), kdf("pX", 64));
}

TEST(PhpKdf, RefusesLengthsItCannotProduce) {
    int rc = 0;
    kdf("pw", 0, &rc);
    EXPECT_EQ(rc, QRT_PHP_INVALID_INPUT);
    kdf("pw", -5, &rc);
    EXPECT_EQ(rc, QRT_PHP_INVALID_INPUT);
    kdf("pw", 191 * 20, &rc);  // the last block the character range allows
    EXPECT_EQ(rc, 0);
    kdf("pw", 191 * 20 + 1, &rc);
    EXPECT_EQ(rc, QRT_PHP_INVALID_INPUT);
    ZQ_PHP_DATA out{};
    EXPECT_EQ(QRT_PHP_ComputeKDF(&out, 20, nullptr), QRT_PHP_INVALID_INPUT);
}
