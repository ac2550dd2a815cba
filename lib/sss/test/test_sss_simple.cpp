// The simple n-of-n scheme, share lists and sets, and the library frame.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ostrel/test_support.hpp"
#include "suite_sss.h"

using ostrel::test::trace_field;
using ostrel::test::trace_records;

namespace {

using Bytes = std::vector<unsigned char>;

Bytes info_bytes(const BIN &b) { return Bytes(b.value, b.value + b.length); }

std::vector<Bytes> shares_of(const ZQ_SSS_SHARE *s) {
    std::vector<Bytes> out;
    for (const ZQ_SSS_BLIST *p = s->list; p; p = p->next) out.emplace_back(p->data, p->data + p->len);
    return out;
}

// A set holding copies of the given shares, in order.
ZQ_SSS_SHARE *make_set(const std::vector<Bytes> &shares) {
    ZQ_SSS_SHARE *set = QRT_SSS_CreateShare();
    ZQ_SSS_BLIST **tail = &set->list;
    for (const Bytes &b : shares) {
        *tail = QRT_SSS_BLIST_New(static_cast<int>(b.size()));
        if (!b.empty()) std::memcpy((*tail)->data, b.data(), b.size());
        tail = &(*tail)->next;
        ++set->num;
    }
    return set;
}

int recover(const std::vector<Bytes> &shares, int scheme, const Bytes &info, Bytes *secret) {
    ZQ_SSS_SHARE *set = make_set(shares);
    BIN in{static_cast<unsigned>(info.size()), const_cast<unsigned char *>(info.data())};
    BIN out{0, nullptr};
    int rc = QRT_SSS_RecoverSecret(&out, set, scheme, &in);
    if (rc == 0) secret->assign(out.value, out.value + out.length);
    QRT_BIN_Reset(&out);
    QRT_SSS_DestroyShare(set);
    return rc;
}

class SssSimple : public ::testing::Test {
  protected:
    void SetUp() override {
        QRT_Trace_Initialize();
        QRT_Trace_ClearError();
    }
};

}  // namespace

TEST_F(SssSimple, SharesRecoverWithEveryShareAndXorToTheSecret) {
    for (int n : {2, 3, 7}) {
        for (size_t len : {1u, 16u, 300u}) {
            SCOPED_TRACE(std::to_string(n) + " shares of " + std::to_string(len));
            Bytes secret(len);
            for (size_t i = 0; i < len; ++i) secret[i] = static_cast<unsigned char>(i * 37 + 1);
            secret[0] = 0;  // a leading zero survives
            ZQ_SSS_SHARE *set = QRT_SSS_CreateShare();
            BIN in{static_cast<unsigned>(len), secret.data()}, info{0, nullptr};
            ZQ_SSS_PARAM param{n, 0};
            ASSERT_EQ(QRT_SSS_ShareSecret(set, &info, &in, QRT_SSS_SCHEME_SIMPLE, &param), 0);
            ASSERT_EQ(set->num, n);
            Bytes expect_info = {0,
                                 0,
                                 0,
                                 static_cast<unsigned char>(n),
                                 0,
                                 0,
                                 static_cast<unsigned char>(len >> 8),
                                 static_cast<unsigned char>(len)};
            EXPECT_EQ(info_bytes(info), expect_info);
            std::vector<Bytes> shares = shares_of(set);
            ASSERT_EQ(shares.size(), static_cast<size_t>(n));
            Bytes x(len);
            for (const Bytes &s : shares) {
                ASSERT_EQ(s.size(), len);
                for (size_t i = 0; i < len; ++i) x[i] ^= s[i];
            }
            EXPECT_EQ(x, secret);
            if (len >= 16) {
                EXPECT_NE(shares[0], secret);  // shares before the last are random
            }

            Bytes got;
            ASSERT_EQ(recover(shares, QRT_SSS_SCHEME_SIMPLE, info_bytes(info), &got), 0);
            EXPECT_EQ(got, secret);
            QRT_BIN_Reset(&info);
            QRT_SSS_DestroyShare(set);
        }
    }
}

TEST_F(SssSimple, RecoveryRefusesMissingOrMisfitShares) {
    Bytes secret = {1, 2, 3, 4, 5};
    ZQ_SSS_SHARE *set = QRT_SSS_CreateShare();
    BIN in{5, secret.data()}, info{0, nullptr};
    ZQ_SSS_PARAM param{3, 0};
    ASSERT_EQ(QRT_SSS_ShareSecret(set, &info, &in, QRT_SSS_SCHEME_SIMPLE, &param), 0);
    std::vector<Bytes> shares = shares_of(set);
    Bytes ib = info_bytes(info);
    QRT_BIN_Reset(&info);
    QRT_SSS_DestroyShare(set);
    Bytes got;

    std::vector<Bytes> missing(shares.begin(), shares.end() - 1);
    EXPECT_EQ(recover(missing, QRT_SSS_SCHEME_SIMPLE, ib, &got), QRT_SSS_BAD_SHARE);
    std::vector<Bytes> extra = shares;
    extra.push_back(shares[0]);
    EXPECT_EQ(recover(extra, QRT_SSS_SCHEME_SIMPLE, ib, &got), QRT_SSS_BAD_SHARE);
    std::vector<Bytes> shorter = shares;
    shorter[1].pop_back();
    EXPECT_EQ(recover(shorter, QRT_SSS_SCHEME_SIMPLE, ib, &got), QRT_SSS_BAD_SHARE);
    auto records = trace_records();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(trace_field(records.back(), 2), "QRT_SSS_RecoverSecret");
    EXPECT_EQ(trace_field(records.back(), 3), "6212");
    EXPECT_EQ(trace_field(records.back(), 4), "bad share");

    // A corrupted share gives a wrong secret, not an error.
    std::vector<Bytes> flipped = shares;
    flipped[2][0] ^= 0x80;
    ASSERT_EQ(recover(flipped, QRT_SSS_SCHEME_SIMPLE, ib, &got), 0);
    EXPECT_NE(got, secret);

    // A count that disagrees with the list is refused rather than walked past.
    ZQ_SSS_SHARE *lying = make_set(shares);
    lying->num = 2;
    BIN ibin{static_cast<unsigned>(ib.size()), ib.data()}, out{0, nullptr};
    EXPECT_EQ(QRT_SSS_RecoverSecret(&out, lying, QRT_SSS_SCHEME_SIMPLE, &ibin), QRT_SSS_BAD_SHARE);
    QRT_SSS_DestroyShare(lying);

    // Share information: exactly 8 bytes, n > 1, a positive length.
    for (Bytes bad : {Bytes{0, 0, 0, 3, 0, 0, 0}, Bytes{0, 0, 0, 3, 0, 0, 0, 5, 0}, Bytes{0, 0, 0, 1, 0, 0, 0, 5},
                      Bytes{0, 0, 0, 3, 0, 0, 0, 0}})
        EXPECT_EQ(recover(shares, QRT_SSS_SCHEME_SIMPLE, bad, &got), QRT_SSS_BAD_PARAM);
}

TEST_F(SssSimple, SharingRefusesBadArgumentsAndLeavesTheSetEmpty) {
    Bytes secret = {9, 9, 9};
    BIN in{3, secret.data()}, empty{0, nullptr}, info{0, nullptr};
    ZQ_SSS_PARAM two{2, 0}, one{1, 0};
    ZQ_SSS_SHARE *set = QRT_SSS_CreateShare();
    EXPECT_EQ(QRT_SSS_ShareSecret(nullptr, &info, &in, 1, &two), QRT_SSS_INVALID_INPUT);
    EXPECT_EQ(QRT_SSS_ShareSecret(set, nullptr, &in, 1, &two), QRT_SSS_INVALID_INPUT);
    EXPECT_EQ(QRT_SSS_ShareSecret(set, &info, nullptr, 1, &two), QRT_SSS_INVALID_INPUT);
    EXPECT_EQ(QRT_SSS_ShareSecret(set, &info, &in, 1, nullptr), QRT_SSS_INVALID_INPUT);
    EXPECT_TRUE(trace_records().empty());

    ASSERT_EQ(QRT_SSS_ShareSecret(set, &info, &in, 1, &two), 0);
    QRT_BIN_Reset(&info);
    EXPECT_EQ(QRT_SSS_ShareSecret(set, &info, &in, 1, &one), QRT_SSS_BAD_PARAM);
    EXPECT_EQ(set->num, 0);
    EXPECT_EQ(set->list, nullptr);
    EXPECT_EQ(info.value, nullptr);
    EXPECT_EQ(QRT_SSS_ShareSecret(set, &info, &empty, 1, &two), QRT_SSS_BAD_SECRET);
    EXPECT_EQ(QRT_SSS_ShareSecret(set, &info, &in, 3, &two), QRT_SSS_UNKNOWN_ALGID);
    EXPECT_EQ(set->list, nullptr);
    BIN out{0, nullptr};
    EXPECT_EQ(QRT_SSS_RecoverSecret(&out, set, 0, &info), QRT_SSS_UNKNOWN_ALGID);
    EXPECT_EQ(QRT_SSS_RecoverSecret(nullptr, set, 1, &info), QRT_SSS_INVALID_INPUT);
    QRT_SSS_DestroyShare(set);
}

TEST(SssList, NodesAndSets) {
    ZQ_SSS_BLIST *node = QRT_SSS_BLIST_New(4);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->len, 4);
    EXPECT_EQ(Bytes(node->data, node->data + 4), Bytes(4, 0));
    ZQ_SSS_BLIST *none = QRT_SSS_BLIST_New(0);
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(none->data, nullptr);
    node->next = none;
    QRT_SSS_BLIST_Free(node);
    EXPECT_EQ(QRT_SSS_BLIST_New(-1), nullptr);
    QRT_SSS_BLIST_Free(nullptr);
    QRT_SSS_DestroyShare(nullptr);
}

TEST(SssFrame, VersionAndTexts) {
    EXPECT_STREQ(QRT_SSS_GetVersion(), "1.5.0.1");
    EXPECT_STREQ(QRT_GetVersionSSS(), "1.5.0.1");
    EXPECT_EQ(QRT_SSS_CheckVersion("1.5.0.1"), 0);
    EXPECT_EQ(QRT_SSS_CheckVersion(nullptr), 0);
    EXPECT_EQ(QRT_SSS_CheckVersion("1.5.0.2"), -1);
    EXPECT_STREQ(QRT_SSS_GetErrorReason(6212, 1), "bad share");
    EXPECT_STREQ(QRT_SSS_GetErrorReason(6254, 1), "generate_prime failed");
    EXPECT_STREQ(QRT_GetErrReasonSSS(6201, 1), "invalid input");
    EXPECT_STREQ(QRT_SSS_GetErrorReason(6204, 1), "UnDefined Error Reason");
    EXPECT_STREQ(QRT_SSS_GetErrorReason(6212, 2), "UnDefined Error Reason");
    // Korean texts come as EUC-KR: high-bit bytes, no UTF-8 lead bytes of three-byte forms.
    std::string ko = QRT_SSS_GetErrorReason(6212, 0);
    ASSERT_FALSE(ko.empty());
    EXPECT_NE(ko, "UnDefined Error Reason");
    for (unsigned char c : ko) EXPECT_TRUE(c < 0x80 || (c >= 0xa1 && c <= 0xfe)) << int(c);
}
