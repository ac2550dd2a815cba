// The tools' coding module: PEM both ways, escaping (per thread), hex helpers, duplication.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "coding.h"
#include "ostrel/test_support.hpp"

using ostrel::test::to_hex;

namespace {

BIN view(const std::string &s) { return BIN{static_cast<unsigned int>(s.size()), (unsigned char *)s.data()}; }
std::string str(const BIN &b) { return std::string(reinterpret_cast<char *>(b.value), b.length); }

std::string pem_of(const std::string &data, const char *label) {
    BIN in = view(data), pem{0, nullptr};
    EXPECT_EQ(QRT_BinToPem(&in, label, &pem), 0);
    std::string s = str(pem);
    QRT_BIN_Reset(&pem);
    return s;
}

int unwrap(const std::string &text, std::string *data) {
    BIN in = view(text), out{0, nullptr};
    int rc = QRT_PemToBin(&in, &out);
    if (rc == 0) {
        *data = str(out);
    } else {
        EXPECT_EQ(out.value, nullptr) << "nothing is left to release after a failure";
    }
    QRT_BIN_Reset(&out);
    return rc;
}

}  // namespace

TEST(ToolsCoding, PemLayoutAndRoundTrips) {
    std::string p = pem_of(std::string(48, 'x'), "CERTIFICATE");
    EXPECT_EQ(p,
              "-----BEGIN CERTIFICATE-----\n"
              "eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4\n"
              "-----END CERTIFICATE-----\n");
    EXPECT_EQ(pem_of("", "X"), "-----BEGIN X-----\n-----END X-----\n");
    EXPECT_NE(pem_of(std::string(49, 'x'), "X").find("\neA==\n-----END X-----\n"), std::string::npos);

    // Lengths around the line size and long labels: whatever the sizes, nothing is written past
    // the buffer (the sanitizer build checks) and the bytes come back.
    std::mt19937 rng(5);
    for (int i = 0; i < 600; ++i) {
        size_t n = i < 300 ? static_cast<size_t>(i) : rng() % 5000;
        std::string data(n, '\0'), back;
        for (auto &ch : data) ch = static_cast<char>(rng());
        std::string label(static_cast<size_t>(i % 3 == 0 ? 200 : 5), 'L');
        std::string text = pem_of(data, label.c_str());
        ASSERT_EQ(unwrap(text, &back), 0) << n;
        ASSERT_EQ(back, data);
        std::string crlf;
        for (char ch : text) {
            if (ch == '\n') crlf += '\r';
            crlf += ch;
        }
        ASSERT_EQ(unwrap(crlf, &back), 0) << "CR LF line ends";
        ASSERT_EQ(back, data);
    }

    std::string back;
    EXPECT_EQ(unwrap("-----BEGIN X-----YWJj", &back), -1) << "no line feed";
    EXPECT_EQ(unwrap("", &back), -1);
    EXPECT_EQ(unwrap("-----BEGIN X-----\nYW*j\n-----END X-----\n", &back), -1);
    EXPECT_EQ(unwrap("-----BEGIN X-----\nYWJ\n-----END X-----\n", &back), -1);
    ASSERT_EQ(unwrap("-----BEGIN A-----\nYWJj\n-----END B-----\n", &back), 0) << "labels are not checked";
    EXPECT_EQ(back, "abc");
    BIN none{4, nullptr}, out;
    EXPECT_EQ(QRT_PemToBin(&none, &out), -1);
    EXPECT_EQ(QRT_BinToPem(&none, "X", &out), -1);

    EXPECT_EQ(QRT_IsPemType((const unsigned char *)"-----BEGI", 9), 0);
    EXPECT_EQ(QRT_IsPemType((const unsigned char *)"-----BEGIN", 10), 1);
    EXPECT_EQ(QRT_IsPemType((const unsigned char *)"0\x82\x01\x0a-----BEGIN", 14), 0);
    EXPECT_EQ(QRT_IsPemType(nullptr, 20), 0);
}

TEST(ToolsCoding, EscapeAndUnescape) {
    EXPECT_STREQ(QRT_escape("a b/c"), "a%20b/c");
    EXPECT_STREQ(QRT_escape("<>\"#%{}|\\^~[]`'"), "%3c%3e%22%23%25%7b%7d%7c%5c%5e%7e%5b%5d%60%27");
    EXPECT_STREQ(QRT_escape("\t\x7F\xC3\xA9z"), "%09%7f%c3%a9z");
    EXPECT_STREQ(QRT_escape(nullptr), "");

    // The buffer keeps its last byte for the terminator; an escape is written only whole.
    EXPECT_EQ(std::string(QRT_escape(std::string(5000, 'a').c_str())).size(), 4095u);
    EXPECT_EQ(std::string(QRT_escape((std::string(4093, 'a') + " b").c_str())).size(), 4093u);
    EXPECT_EQ(std::string(QRT_escape((std::string(4092, 'a') + " b").c_str())).size(), 4095u);

    char a[] = "a%20b", b[] = "100%", c[] = "%4A%4az%2", d[] = "%zz%";
    EXPECT_STREQ(QRT_unescape(a), "a b");
    EXPECT_STREQ(QRT_unescape(b), "100%");
    EXPECT_STREQ(QRT_unescape(c), "JJz%2");
    EXPECT_STREQ(QRT_unescape(d), "%zz%");
    EXPECT_EQ(QRT_unescape(nullptr), nullptr);
}

// Each thread has its own escape buffer: results never show another thread's text.
TEST(ToolsCoding, EscapeIsPerThread) {
    std::vector<std::thread> threads;
    std::vector<int> wrong(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &wrong] {
            std::string in = "thread " + std::to_string(t) + std::string(static_cast<size_t>(100 * t), 'x');
            std::string want = "thread%20" + std::to_string(t) + std::string(static_cast<size_t>(100 * t), 'x');
            for (int i = 0; i < 20000; ++i) {
                const char *out = QRT_escape(in.c_str());
                std::this_thread::yield();
                if (want != out) ++wrong[static_cast<size_t>(t)];
            }
        });
    }
    for (auto &th : threads) th.join();
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

TEST(ToolsCoding, HexHelpers) {
    const unsigned char bytes[] = {0x00, 0xAB, 0x7F, 0xFF};
    char *text = nullptr;
    int len = 0;
    ASSERT_NE(bin2strl(bytes, 4, &text, &len), 0);
    EXPECT_STREQ(text, "00ab7fff");
    EXPECT_EQ(len, 8);
    QRT_free(text);
    ASSERT_NE(bin2str(bytes, 0, &text), 0);
    EXPECT_STREQ(text, "");
    QRT_free(text);
    EXPECT_EQ(bin2str(nullptr, 3, &text), 0);

    unsigned char *data = nullptr;
    ASSERT_NE(str2bin("00ab7fff", &data, &len), 0);
    EXPECT_EQ(to_hex(data, static_cast<size_t>(len)), "00ab7fff");
    QRT_free(data);
    // An odd number of digits in a buffer that is not terminated: only the digits are read.
    std::unique_ptr<char[]> odd(new char[3]{'a', 'b', 'c'});
    ASSERT_NE(strl2bin(odd.get(), 3, &data, &len), 0);
    EXPECT_EQ(to_hex(data, static_cast<size_t>(len)), "abc0");
    QRT_free(data);

    int v = 0;
    EXPECT_EQ(QRT_Hex2Int("0100", &v), 0);
    EXPECT_EQ(v, 256);
    EXPECT_EQ(QRT_Hex2Int("7fffffff", &v), 0);
    EXPECT_EQ(v, 0x7FFFFFFF);
    EXPECT_EQ(QRT_Hex2Int("", &v), 0);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(QRT_Hex2Int("123456789", &v), -2);
    EXPECT_EQ(v, -2);
}

TEST(ToolsCoding, Duplicates) {
    char *s = QRT_strdup("hello");
    EXPECT_STREQ(s, "hello");
    QRT_free(s);
    // A length shorter than the text gives a terminated copy of that many bytes.
    s = QRT_strdupl("abcdef", 3);
    EXPECT_STREQ(s, "abc");
    QRT_free(s);
    std::unique_ptr<char[]> exact(new char[2]{'h', 'i'});
    s = QRT_strdupl(exact.get(), 2);
    EXPECT_STREQ(s, "hi");
    QRT_free(s);
    EXPECT_EQ(QRT_strdupl(nullptr, 3), nullptr);
    EXPECT_EQ(QRT_strdup(nullptr), nullptr);
}
