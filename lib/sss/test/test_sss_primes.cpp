// The built-in prime table: every entry is a prime of exactly its stated size.
#include <gtest/gtest.h>
#include <openssl/bn.h>

#include <cstdint>
#include <vector>

namespace {

struct Entry {
    unsigned size, words;
    uint32_t data[32];
};

const Entry kTable[] = {
#include "../sss_primes.inc"
};

std::vector<unsigned char> big_endian(const Entry &e) {
    std::vector<unsigned char> out;
    for (unsigned i = e.words; i-- > 0;)
        for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<unsigned char>(e.data[i] >> shift));
    while (!out.empty() && out[0] == 0) out.erase(out.begin());
    return out;
}

}  // namespace

TEST(SssPrimeTable, FifteenPrimesOfTheirExactSizes) {
    const unsigned sizes[] = {5, 9, 13, 17, 21, 25, 29, 33, 41, 49, 57, 65, 81, 97, 113};
    ASSERT_EQ(std::size(kTable), std::size(sizes));
    BN_CTX *ctx = BN_CTX_new();
    for (size_t i = 0; i < std::size(kTable); ++i) {
        const Entry &e = kTable[i];
        SCOPED_TRACE(e.size);
        EXPECT_EQ(e.size, sizes[i]);
        EXPECT_EQ(e.words, (e.size + 3) / 4);
        std::vector<unsigned char> be = big_endian(e);
        ASSERT_EQ(be.size(), e.size);
        EXPECT_EQ(be[0], 0xdc);
        BIGNUM *p = BN_bin2bn(be.data(), static_cast<int>(be.size()), nullptr);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(BN_check_prime(p, ctx, nullptr), 1);
        BN_free(p);
    }
    BN_CTX_free(ctx);
}
