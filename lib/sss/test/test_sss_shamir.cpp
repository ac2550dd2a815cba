// Shamir's threshold scheme and the polynomials under it.
#include <gtest/gtest.h>
#include <openssl/bn.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ostrel/test_support.hpp"
#include "suite_sss.h"

using ostrel::test::to_hex;

namespace {

using Bytes = std::vector<unsigned char>;

struct Shared {
    std::vector<Bytes> shares;
    Bytes info;
};

Shared share(const Bytes &secret, int n, int k, int *rc_out = nullptr) {
    ZQ_SSS_SHARE *set = QRT_SSS_CreateShare();
    BIN in{static_cast<unsigned>(secret.size()), const_cast<unsigned char *>(secret.data())}, info{0, nullptr};
    ZQ_SSS_PARAM param{n, k};
    int rc = QRT_SSS_ShareSecret(set, &info, &in, QRT_SSS_SCHEME_SHAMIR, &param);
    if (rc_out) *rc_out = rc;
    Shared out;
    if (rc == 0) {
        EXPECT_EQ(set->num, n);
        for (ZQ_SSS_BLIST *p = set->list; p; p = p->next) out.shares.emplace_back(p->data, p->data + p->len);
        out.info.assign(info.value, info.value + info.length);
    } else {
        EXPECT_EQ(set->list, nullptr);
        EXPECT_EQ(set->num, 0);
    }
    QRT_BIN_Reset(&info);
    QRT_SSS_DestroyShare(set);
    return out;
}

int recover(const std::vector<Bytes> &shares, const Bytes &info, Bytes *secret) {
    ZQ_SSS_SHARE *set = QRT_SSS_CreateShare();
    ZQ_SSS_BLIST **tail = &set->list;
    for (const Bytes &b : shares) {
        *tail = QRT_SSS_BLIST_New(static_cast<int>(b.size()));
        if (!b.empty()) std::memcpy((*tail)->data, b.data(), b.size());
        tail = &(*tail)->next;
        ++set->num;
    }
    BIN in{static_cast<unsigned>(info.size()), const_cast<unsigned char *>(info.data())}, out{0, nullptr};
    int rc = QRT_SSS_RecoverSecret(&out, set, QRT_SSS_SCHEME_SHAMIR, &in);
    if (rc == 0) secret->assign(out.value, out.value + out.length);
    QRT_BIN_Reset(&out);
    QRT_SSS_DestroyShare(set);
    return rc;
}

// The prime carried in the share information (big-endian bytes).
Bytes prime_of(const Bytes &info) {
    // 12 bytes of counts, 2 of length, then 02 <len> [00] p
    Bytes der(info.begin() + 14, info.end());
    size_t at = 2;
    if (der[1] & 0x80) at += der[1] & 0x7f;
    if (der[at] == 0) ++at;
    return Bytes(der.begin() + static_cast<long>(at), der.end());
}

Bytes random_bytes(std::mt19937 &rng, size_t n) {
    Bytes b(n);
    for (auto &c : b) c = static_cast<unsigned char>(rng());
    return b;
}

// Every k-element subset of {0..n-1}, in order.
std::vector<std::vector<int>> subsets(int n, int k) {
    std::vector<std::vector<int>> out;
    for (unsigned mask = 0; mask < (1u << n); ++mask) {
        if (__builtin_popcount(mask) != k) continue;
        std::vector<int> s;
        for (int i = 0; i < n; ++i)
            if (mask & (1u << i)) s.push_back(i);
        out.push_back(s);
    }
    return out;
}

class SssShamir : public ::testing::Test {
  protected:
    void SetUp() override {
        QRT_Trace_Initialize();
        QRT_Trace_ClearError();
    }
    void TearDown() override { QRT_Trace_ClearError(); }
};

}  // namespace

TEST_F(SssShamir, EveryLengthSharesOverItsTablePrimeAndRecovers) {
    const unsigned sizes[] = {5, 9, 13, 17, 21, 25, 29, 33, 41, 49, 57, 65, 81, 97, 113};
    std::mt19937 rng(20240601);
    for (size_t len = 1; len <= QRT_SSS_SHAMIR_MAX_SECRET; ++len) {
        SCOPED_TRACE("length " + std::to_string(len));
        Bytes secret = random_bytes(rng, len);
        Shared s = share(secret, 5, 3);
        ASSERT_EQ(s.shares.size(), 5u);
        // The first table size that holds len + 1 bytes (at least 5).
        unsigned want = 0;
        for (unsigned sz : sizes)
            if (sz >= std::max<size_t>(len + 1, 5)) {
                want = sz;
                break;
            }
        Bytes p = prime_of(s.info);
        EXPECT_EQ(p.size(), want);
        EXPECT_EQ(p[0], 0xdc);
        EXPECT_EQ(s.info.size(), 14 + (s.info[12] << 8 | s.info[13]));

        std::vector<int> pick = {static_cast<int>(rng() % 5)};
        while (pick.size() < 3) {
            int c = static_cast<int>(rng() % 5);
            if (std::find(pick.begin(), pick.end(), c) == pick.end()) pick.push_back(c);
        }
        std::vector<Bytes> use;
        for (int i : pick) use.push_back(s.shares[static_cast<size_t>(i)]);
        Bytes got;
        ASSERT_EQ(recover(use, s.info, &got), 0);
        EXPECT_EQ(got, secret);
    }
}

TEST_F(SssShamir, AnyKOfNSharesRecoverAndFewerDoNot) {
    std::mt19937 rng(7);
    for (size_t len : {4u, 32u, 112u}) {
        Bytes secret = random_bytes(rng, len);
        for (int n = 2; n <= 6; ++n) {
            for (int k = 1; k <= n; ++k) {
                SCOPED_TRACE(std::to_string(k) + " of " + std::to_string(n) + ", " + std::to_string(len) + " bytes");
                Shared s = share(secret, n, k);
                for (const auto &sub : subsets(n, k)) {
                    std::vector<Bytes> use;
                    for (int i : sub) use.push_back(s.shares[static_cast<size_t>(i)]);
                    Bytes got;
                    ASSERT_EQ(recover(use, s.info, &got), 0);
                    ASSERT_EQ(got, secret);
                }
                if (k > 1) {
                    std::vector<Bytes> fewer(s.shares.begin(), s.shares.begin() + (k - 1));
                    Bytes got;
                    EXPECT_EQ(recover(fewer, s.info, &got), QRT_SSS_BAD_SHARE);
                }
            }
        }
    }
}

TEST_F(SssShamir, OnlyTheFirstKSharesCount) {
    Bytes secret = {'k', 'e', 'y'};
    Shared s = share(secret, 5, 2);
    std::vector<Bytes> use = {s.shares[3], s.shares[1], Bytes{0xde, 0xad}, s.shares[0]};
    Bytes got;
    ASSERT_EQ(recover(use, s.info, &got), 0);
    EXPECT_EQ(got, secret);
}

TEST_F(SssShamir, LeadingZerosSurviveAndThresholdOneCopiesTheSecret) {
    Bytes secret = {0, 0, 0, 0x11, 0x22};
    Shared s = share(secret, 4, 2);
    Bytes got;
    ASSERT_EQ(recover({s.shares[2], s.shares[3]}, s.info, &got), 0);
    EXPECT_EQ(got, secret);

    Bytes zero(8, 0);  // an all-zero secret is the value 0
    s = share(zero, 3, 2);
    ASSERT_EQ(recover({s.shares[0], s.shares[2]}, s.info, &got), 0);
    EXPECT_EQ(got, zero);

    // k = 1: the polynomial is the constant secret, so every y is the secret.
    Bytes one = {0x7f, 0x01, 0x02};
    s = share(one, 3, 1);
    for (size_t i = 0; i < s.shares.size(); ++i) {
        const Bytes &sh = s.shares[i];
        EXPECT_EQ(to_hex(sh.data(), 5), "00030201" + to_hex(Bytes{static_cast<unsigned char>(i + 1)}.data(), 1));
        EXPECT_EQ(to_hex(sh.data() + 5, sh.size() - 5), "000502037f0102");
    }
}

TEST_F(SssShamir, SharingRefusesBadSecretsAndParameters) {
    int rc = 0;
    Shared s = share(Bytes(112, 0xab), 3, 2, &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(prime_of(s.info).size(), 113u);
    share(Bytes(113, 0xab), 3, 2, &rc);
    EXPECT_EQ(rc, QRT_SSS_BAD_SECRET);
    share(Bytes{}, 3, 2, &rc);
    EXPECT_EQ(rc, QRT_SSS_BAD_SECRET);
    for (auto [n, k] : {std::pair{1, 1}, {3, 0}, {3, 4}, {-2, 1}}) {
        share(Bytes{1}, n, k, &rc);
        EXPECT_EQ(rc, QRT_SSS_BAD_PARAM) << n << "," << k;
    }
}

TEST_F(SssShamir, DamagedSharesGiveAWrongSecretOrACleanError) {
    Bytes secret = {'s', 'e', 'c', 'r', 'e', 't', '!', '!'};
    Shared s = share(secret, 3, 3);
    const std::vector<int> clean = {0, QRT_SSS_BAD_SHARE, QRT_SSS_DECODE_BIGINT_FAILED, QRT_SSS_BAD_SECRET};
    for (size_t pos = 0; pos < s.shares[1].size(); ++pos) {
        for (unsigned char flip : {0x01, 0x80, 0xff}) {
            std::vector<Bytes> use = s.shares;
            use[1][pos] ^= flip;
            Bytes got;
            int rc = recover(use, s.info, &got);
            EXPECT_NE(std::find(clean.begin(), clean.end(), rc), clean.end()) << rc;
            EXPECT_TRUE(rc != 0 || got != secret) << "byte " << pos;
        }
    }
    Bytes got;
    std::vector<Bytes> truncated = s.shares;
    truncated[0].resize(7);
    EXPECT_EQ(recover(truncated, s.info, &got), QRT_SSS_BAD_SHARE);
    std::vector<Bytes> duplicate = {s.shares[0], s.shares[0], s.shares[2]};
    EXPECT_EQ(recover(duplicate, s.info, &got), QRT_SSS_BAD_SHARE);
}

TEST_F(SssShamir, ShareInformationIsChecked) {
    Bytes secret = {1, 2, 3, 4, 5, 6};
    Shared s = share(secret, 3, 2);
    auto with = [&](size_t at, unsigned char v) {
        Bytes b = s.info;
        b[at] = v;
        return b;
    };
    struct Case {
        Bytes info;
        int rc;
    } cases[] = {
        {Bytes(s.info.begin(), s.info.begin() + 16), QRT_SSS_BAD_PARAM},  // fewer than 17 bytes
        {Bytes(s.info.begin(), s.info.end() - 1), QRT_SSS_BAD_PARAM},     // L + 14 disagrees
        {with(3, 1), QRT_SSS_BAD_PARAM},                                  // n = 1
        {with(7, 0), QRT_SSS_BAD_PARAM},                                  // k = 0
        {with(7, 4), QRT_SSS_BAD_PARAM},                                  // k > n
        {with(11, 0), QRT_SSS_BAD_PARAM},                                 // secret length 0
        {with(10, 1), QRT_SSS_BAD_PARAM},                                 // longer than the prime
        {with(14, 0x04), QRT_SSS_DECODE_BIGINT_FAILED},                   // not an INTEGER
    };
    for (const Case &c : cases) {
        Bytes got;
        EXPECT_EQ(recover({s.shares[0], s.shares[1]}, c.info, &got), c.rc) << to_hex(c.info.data(), c.info.size());
    }
    // A stated length longer than the secret pads it; one shorter than the value is refused.
    Bytes got;
    ASSERT_EQ(recover({s.shares[0], s.shares[1]}, with(11, 8), &got), 0);
    EXPECT_EQ(got, (Bytes{0, 0, 1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(recover({s.shares[0], s.shares[1]}, with(11, 5), &got), QRT_SSS_BAD_SECRET);
}

TEST(SssPoly, HornerMatchesDirectEvaluationWithGaps) {
    // 3x^5 + 2x^2 + 7 over the prime 1000003, at several points.
    const unsigned long p = 1000003;
    auto big = [](unsigned long v) {
        WJ_BigInt *a = WJ_BigInt_New(2);
        unsigned char be[8];
        for (int i = 0; i < 8; ++i) be[i] = static_cast<unsigned char>(v >> (56 - 8 * i));
        WJ_BigInt_BytesToInt(a, be, 8);
        return a;
    };
    ZQ_POLY *t5 = QRT_POLY_New(5, 1), *t2 = QRT_POLY_New(2, 1), *t0 = QRT_POLY_New(0, 1);
    t5->next = t2;
    t2->next = t0;
    WJ_BigInt *c3 = big(3), *c2 = big(2), *c7 = big(7), *P = big(p);
    WJ_BigInt_Copy(t5->coef, c3);
    WJ_BigInt_Copy(t2->coef, c2);
    WJ_BigInt_Copy(t0->coef, c7);
    WJ_BigInt *y = WJ_BigInt_New(1);
    for (unsigned long x : {0ul, 1ul, 2ul, 999ul, 1000002ul, 5000000ul}) {
        WJ_BigInt *X = big(x);
        ASSERT_EQ(QRT_POLY_Evaluate(y, t5, X, P), 0);
        unsigned __int128 xm = x % p, x2 = xm * xm % p, x5 = x2 * x2 % p * xm % p;
        unsigned long want = static_cast<unsigned long>((3 * x5 + 2 * x2 + 7) % p);
        unsigned char out[8] = {0};
        unsigned n = sizeof out;
        ASSERT_EQ(WJ_BigInt_IntToBytes(out, &n, y), 0);
        unsigned long got = 0;
        for (unsigned i = 0; i < n; ++i) got = got << 8 | out[i];
        EXPECT_EQ(got, want) << x;
        WJ_BigInt_Free(X);
    }
    // Degrees must fall strictly.
    t2->degree = 6;
    EXPECT_EQ(QRT_POLY_Evaluate(y, t5, c3, P), QRT_SSS_INVALID_INPUT);
    QRT_POLY_Free(t5);

    ZQ_POLY *gen = nullptr;
    ASSERT_EQ(QRT_POLY_Generate(&gen, 3, P), 0);
    int count = 0;
    for (ZQ_POLY *t = gen; t; t = t->next, ++count) {
        EXPECT_EQ(t->degree, 3 - count);
        EXPECT_LE(WJ_BigInt_GetByteLength(t->coef), WJ_BigInt_GetByteLength(P));
    }
    EXPECT_EQ(count, 4);
    QRT_POLY_Free(gen);
    for (WJ_BigInt *a : {c3, c2, c7, P, y}) WJ_BigInt_Free(a);
    QRT_Trace_ClearError();
}
