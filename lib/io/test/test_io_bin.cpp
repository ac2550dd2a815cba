// Buffers, lists, numbers and hex, counters, the mutex and the library frame.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ostrel/test_support.hpp"
#include "suite_io.h"

using ostrel::test::to_hex;

namespace {

std::string hex_of(const HUGE &h) { return to_hex(h.value, h.length); }

}  // namespace

TEST(IoBin, SetCopyCompareReset) {
    BIN a{0, nullptr}, b{0, nullptr};
    const unsigned char text[] = "hello";
    ASSERT_EQ(QRT_BIN_Set(&a, text, 5), 0);
    EXPECT_EQ(a.length, 5u);
    EXPECT_EQ(a.value[5], 0) << "BIN_Set leaves a terminating zero byte";
    EXPECT_EQ(QRT_BIN_Set(&b, text, -1), 8001);
    EXPECT_EQ(QRT_BIN_Set(nullptr, text, 1), 8001);
    EXPECT_EQ(QRT_BIN_Set(&b, text, 0), 0);
    EXPECT_EQ(b.length, 0u);
    EXPECT_EQ(b.value, nullptr);

    ASSERT_EQ(QRT_BIN_Copy(&b, &a), 0);
    EXPECT_EQ(QRT_BIN_Cmp(&a, &b), 0);
    EXPECT_NE(a.value, b.value);
    b.value[0] = 'j';
    EXPECT_EQ(QRT_BIN_Cmp(&a, &b), 1);
    EXPECT_EQ(QRT_BIN_Cmp(&a, nullptr), 1);

    BIN e1{0, nullptr}, e2{0, reinterpret_cast<unsigned char *>(&e1)};
    EXPECT_EQ(QRT_BIN_Cmp(&e1, &e2), 0) << "two empty buffers are equal whatever their pointers";
    BIN broken{3, nullptr};
    EXPECT_EQ(QRT_BIN_Cmp(&broken, &broken), 1);

    BIN empty{0, nullptr};
    QRT_BIN_Reset(&b);
    ASSERT_EQ(QRT_BIN_Copy(&b, &empty), 0);
    EXPECT_EQ(b.value, nullptr);

    QRT_BIN_Reset(&a);
    EXPECT_EQ(a.length, 0u);
    EXPECT_EQ(a.value, nullptr);
    QRT_BIN_Reset(&a);  // a reset BIN may be reset again
    QRT_BIN_Reset(nullptr);
    QRT_BIN_Free(nullptr);
    BIN *heap = QRT_BIN_New();
    ASSERT_NE(heap, nullptr);
    ASSERT_EQ(QRT_BIN_Set(heap, text, 3), 0);
    QRT_BIN_Free(heap);
}

TEST(IoBin, ListsAddCopyAndReleaseLongChains) {
    ZQ_BIN_LIST *head = nullptr;
    std::vector<std::string> items = {"one", "two", "three"};
    for (const auto &s : items) {
        BIN b{static_cast<unsigned int>(s.size()), (unsigned char *)s.data()};
        ASSERT_EQ(QRT_BIN_LIST_Add(&head, &b), 0);
    }
    BIN nov{1, nullptr};
    EXPECT_EQ(QRT_BIN_LIST_Add(&head, &nov), 8001);

    ZQ_BIN_LIST copy;
    ASSERT_EQ(QRT_BIN_LIST_Copy(&copy, head), 0);
    size_t i = 0;
    for (ZQ_BIN_LIST *p = &copy; p; p = p->next, ++i) {
        ASSERT_LT(i, items.size());
        EXPECT_EQ(std::string((char *)p->value.value, p->value.length), items[i]);
    }
    EXPECT_EQ(i, items.size());
    QRT_BIN_LIST_Reset(&copy);
    EXPECT_EQ(copy.next, nullptr);
    QRT_BIN_LIST_Free(head);

    // A chain of a million nodes is released without exhausting the stack.
    ZQ_BIN_LIST *big = QRT_BIN_LIST_New();
    ZQ_BIN_LIST *tail = big;
    for (int k = 0; k < 1000000; ++k) {
        tail->next = QRT_BIN_LIST_New();
        tail = tail->next;
    }
    QRT_BIN_LIST_Free(big);
}

TEST(IoHuge, NumberConversions) {
    struct {
        unsigned int n;
        const char *hex;
    } cases[] = {{0, "00"}, {128, "0080"}, {0x7FFFFFFF, "7fffffff"}, {0xFFFFFFFF, "00ffffffff"}, {255, "00ff"},
                 {256, "0100"}};
    for (const auto &c : cases) {
        HUGE h{0, nullptr};
        ASSERT_EQ(QRT_NumToHuge(c.n, &h), 0);
        EXPECT_EQ(hex_of(h), c.hex) << c.n;
        unsigned int back = 1;
        ASSERT_EQ(QRT_HugeToNum(&h, &back), 0);
        EXPECT_EQ(back, c.n);
        HUGE d{0, nullptr};
        ASSERT_EQ(QRT_DupHugeEx(&h, &d), 0);
        EXPECT_EQ(QRT_CmpHuge(&h, &d), 0);
        QRT_free(h.value);
        QRT_free(d.value);
    }
    HUGE h{0, nullptr};
    ASSERT_EQ(QRT_StrToHuge("-1", &h), 0);
    EXPECT_EQ(hex_of(h), "00ffffffff");
    QRT_free(h.value);

    unsigned char neg[] = {0x80}, six[] = {0, 1, 2, 3, 4, 5}, bad5[] = {1, 0, 0, 0, 0};
    unsigned int out = 0;
    HUGE hn{1, neg}, h6{6, six}, h5{5, bad5};
    QRT_Trace_Initialize();
    EXPECT_EQ(QRT_HugeToNum(&hn, &out), 8061);
    EXPECT_EQ(QRT_HugeToNumEx(&h6, &out), 8060);
    EXPECT_EQ(QRT_HugeToNum(&h5, &out), 8061);
    auto recs = ostrel::test::trace_records();
    ASSERT_EQ(recs.size(), 3u);
    EXPECT_EQ(ostrel::test::trace_field(recs[1], 2), "QRT_HugeToNumEx") << "Ex twins trace under their own name";
    EXPECT_EQ(ostrel::test::trace_field(recs[1], 4), "huge is too large");
}

TEST(IoHuge, HexStrings) {
    char *s = nullptr;
    const unsigned char data[] = {0x00, 0xab, 0xCD, 0x7f};
    ASSERT_EQ(QRT_BinToHex(data, 4, &s), 0);
    EXPECT_STREQ(s, "00abcd7f");
    QRT_free(s);
    ASSERT_EQ(QRT_BinToHEX(data, 4, &s), 0);
    EXPECT_STREQ(s, "00ABCD7F");
    QRT_free(s);
    ASSERT_EQ(QRT_BinToHex(data, 0, &s), 0);
    EXPECT_STREQ(s, "");
    QRT_free(s);

    unsigned char *bin = nullptr;
    int n = -1;
    ASSERT_EQ(QRT_HexToBin("00aBcD7f", &bin, &n), 0);
    EXPECT_EQ(n, 4);
    EXPECT_EQ(std::memcmp(bin, data, 4), 0);
    EXPECT_EQ(bin[4], 0);
    QRT_free(bin);
    bin = reinterpret_cast<unsigned char *>(&n);
    EXPECT_NE(QRT_HexToBin("abc", &bin, &n), 0);
    EXPECT_EQ(bin, nullptr) << "odd length gives no output";
    EXPECT_EQ(QRT_HexToBin("zz00", &bin, &n), 8002);
    QRT_free(bin);  // the partly filled buffer is the caller's

    unsigned int v = 0;
    ASSERT_EQ(QRT_HexToNum("0100", &v), 0);
    EXPECT_EQ(v, 256u);
    EXPECT_EQ(QRT_HexToNum("0102030405", &v), -1);
    EXPECT_EQ(v, 0xFFFFFFFFu);

    char nine[9];
    std::memset(nine, 'x', sizeof nine);
    for (auto c : {std::pair<unsigned, const char *>{0, "00"}, {255, "ff"}, {256, "0100"}, {0xFFFFFFFF, "ffffffff"}}) {
        ASSERT_EQ(QRT_NumToHex(c.first, nine), 0);
        EXPECT_STREQ(nine, c.second);
    }

    HUGE h{0, nullptr};
    ASSERT_EQ(QRT_HexToHuge("0102", &h), 0);
    EXPECT_EQ(h.length, 2);
    ASSERT_EQ(QRT_HugeToHEX(&h, &s), 0);
    EXPECT_STREQ(s, "0102");
    QRT_free(s);
    QRT_free(h.value);
    EXPECT_EQ(QRT_GetIntLen(0), 0);
    EXPECT_EQ(QRT_GetIntLen(0xFF), 1);
    EXPECT_EQ(QRT_GetIntLen(0x100), 2);
    EXPECT_EQ(QRT_GetIntLen(0xFFFFFFFF), 4);
}

TEST(IoNumber, IncrementAndDecrementCarry) {
    auto step = [](std::vector<unsigned int> words, bool inc) {
        BIN in{static_cast<unsigned int>(4 * words.size()), reinterpret_cast<unsigned char *>(words.data())};
        BIN out{0, nullptr};
        EXPECT_EQ(inc ? QRT_IncBinNumber(&in, &out) : QRT_DecBinNumber(&in, &out), 0);
        std::vector<unsigned int> r(words.size());
        std::memcpy(r.data(), out.value, out.length);
        QRT_BIN_Reset(&out);
        return r;
    };
    EXPECT_EQ(step({0xFFFFFFFF}, true), std::vector<unsigned int>({0}));
    EXPECT_EQ(step({0, 0xFFFFFFFF}, true), std::vector<unsigned int>({1, 0}));
    EXPECT_EQ(step({1, 0}, false), std::vector<unsigned int>({0, 0xFFFFFFFF}));
    EXPECT_EQ(step({0, 0}, false), std::vector<unsigned int>({0xFFFFFFFF, 0xFFFFFFFF}));
    unsigned char three[3] = {};
    BIN in{3, three}, out{0, nullptr};
    EXPECT_EQ(QRT_IncBinNumber(&in, &out), 8210);
}

TEST(IoMutex, CreateLockUnlockDestroy) {
    ZQ_Mutex *m = QRT_Mutex_Create();
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(QRT_Mutex_Lock(m), 0);
    EXPECT_EQ(QRT_Mutex_Unlock(m), 0);
    EXPECT_EQ(QRT_Mutex_Destroy(m), 0);
    EXPECT_EQ(QRT_Mutex_Lock(nullptr), 8001);
}

TEST(IoFrame, VersionAndErrorTexts) {
    EXPECT_STREQ(QRT_IO_GetVersion(), "1.7.0.0");
    EXPECT_STREQ(QRT_GetVersionIO(), "1.7.0.0");
    EXPECT_EQ(QRT_IO_CheckVersion("1.7.0.0"), 0);
    EXPECT_EQ(QRT_IO_CheckVersion(nullptr), 0);
    EXPECT_EQ(QRT_IO_CheckVersion("1.7.0.1"), -1);
    EXPECT_EQ(QRT_IO_CheckVersion("1.6.99.99"), 0);

    EXPECT_STREQ(QRT_IO_GetErrorReason(8031, 1), "file access denied");
    EXPECT_STREQ(QRT_IO_GetErrorReason(8031, 0), "");
    EXPECT_STREQ(QRT_IO_GetErrorReason(12345, 1), "");
    EXPECT_STREQ(QRT_IO_GetErrorReason(8001, 2), "");
    EXPECT_STREQ(QRT_GetErrReasonIO(-1, 1), "error");
    // Korean texts come back as EUC-KR bytes: "소켓이 닫혔습니다." begins with 소 = BC D2.
    const char *ko = QRT_IO_GetErrorReason(8040, 0);
    ASSERT_GE(std::strlen(ko), 2u);
    EXPECT_EQ((unsigned char)ko[0], 0xBC);
    EXPECT_EQ((unsigned char)ko[1], 0xD2);
    EXPECT_STREQ(QRT_IO_GetErrorReason(-1, 0), "\xBF\xA1\xB7\xAF");
}
