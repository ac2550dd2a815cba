// Base64 (block and line forms) against OpenSSL and the openssl CLI, hex, ASCII, the frame.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ostrel/test_support.hpp"
#include "suite_codec.h"

using ostrel::test::TempDir;
using ostrel::test::to_hex;

namespace {

BIN view(const std::string &s) { return BIN{static_cast<unsigned int>(s.size()), (unsigned char *)s.data()}; }
std::string str(const BIN &b) { return std::string(reinterpret_cast<char *>(b.value), b.length); }

std::string one_line(const std::string &data) {
    BIN in = view(data);
    char *text = nullptr;
    EXPECT_EQ(QRT_BinToBase64(&in, &text), 0);
    std::string s = text ? text : "";
    QRT_free(text);
    return s;
}

std::string lines(const std::string &data) {
    BIN in = view(data), out{0, nullptr};
    EXPECT_EQ(QRT_Base64_Encode(&out, &in), 0);
    EXPECT_EQ(out.value[out.length], 0) << "terminated";
    std::string s = str(out);
    QRT_BIN_Reset(&out);
    return s;
}

std::string without_cr(std::string s) {
    std::erase(s, '\r');
    return s;
}

}  // namespace

TEST(CodecBase64, EncodingEdgeCases) {
    EXPECT_EQ(one_line("abc"), "YWJj");
    EXPECT_EQ(one_line("ab"), "YWI=");
    EXPECT_EQ(one_line("a"), "YQ==");
    EXPECT_EQ(one_line(""), "");

    std::string b48(48, 'x');
    std::string l = lines(b48);
    ASSERT_EQ(l.size(), 66u);
    EXPECT_EQ(l.substr(64), "\r\n");
    l = lines(b48 + "y");
    ASSERT_EQ(l.size(), 66u + 6u) << "49 bytes: a second line of 4 characters";
    EXPECT_EQ(l.substr(66), "eQ==\r\n");
    EXPECT_EQ(lines(""), "");

    char out[9];
    int n = -1;
    ASSERT_EQ(QRT_Base64_EncodeBlock(out, &n, (const unsigned char *)"abcd", 4), 0);
    EXPECT_EQ(n, 8);
    EXPECT_STREQ(out, "YWJjZA==");
}

// Lengths whose 2n+7 wraps in 32 bits must be refused before anything is allocated or read.
TEST(CodecBase64, HugeLengthsAreRefusedNotOverrun) {
    unsigned char one = 0;
    BIN huge{0xFFFFFFFFu, &one}, out{0, nullptr};
    char *text = nullptr;
    EXPECT_EQ(QRT_BinToBase64(&huge, &text), 3001);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(QRT_Base64_Encode(&out, &huge), 3001);
    EXPECT_EQ(out.value, nullptr);
    huge.length = 0x80000000u;  // 2n+7 == 7 in 32 bits
    EXPECT_EQ(QRT_Base64_Encode(&out, &huge), 3001);
    EXPECT_EQ(QRT_BinToStr(&huge, &text), 3001);
}

TEST(CodecBase64, BlockDecodingEdgeCases) {
    struct Case {
        std::string text;
        int rc;
        std::string hex;
    };
    const Case cases[] = {
        {"YWI=", 0, "6162"},
        {"YQ==", 0, "61"},
        {"YWI", -1, ""},              // not a multiple of 4
        {"  YWJj\r\n", 0, "616263"},  // leading blanks, trailing CR LF
        {"\tYWJj -", 0, "616263"},    // trailing blank and end-of-data mark
        {"YWJj\nYWJj", -1, ""},       // a line break inside the text
        {"YW*j", -1, ""},
        {"", 0, ""},
        {"   ", 0, ""},    // blanks only: all skipped
        {"\r\n", -1, ""},  // nothing is dropped below 4 characters
        {"AAAA", 0, "000000"},
        {"////", 0, "ffffff"},
    };
    for (const Case &c : cases) {
        BIN bin{7, (unsigned char *)"garbage"};
        int rc = QRT_Base64ToBin(c.text.c_str(), &bin);
        EXPECT_EQ(rc, c.rc) << "[" << c.text << "]";
        if (rc == 0) {
            EXPECT_EQ(to_hex(bin.value, bin.length), c.hex) << "[" << c.text << "]";
        }
        if (rc != 0) {
            EXPECT_EQ(bin.length, 0u);
            EXPECT_NE(bin.value, nullptr) << "the buffer is left for the caller";
        }
        QRT_BIN_Reset(&bin);
    }
    BIN bin;
    EXPECT_EQ(QRT_Base64ToBin(nullptr, &bin), 3001);
    EXPECT_EQ(QRT_Base64ToBin("YQ==", nullptr), 3001);

    unsigned char out[3];
    BIN result{0, nullptr};
    ASSERT_EQ(QRT_Base64_DecodeBlock(out, &result, "YWI=\n", 5), 0);
    EXPECT_EQ(result.length, 2u);
    EXPECT_EQ(QRT_Base64_DecodeBlock(out, &result, "YWI=", -1), -1);
}

TEST(CodecBase64, LineDecodingRules) {
    struct Case {
        std::string text;
        int rc;
        std::string data;
    };
    const std::string line76 = std::string(76, 'A') + "\r\n";  // 78 characters with CR LF
    const Case cases[] = {
        {"YWJj\r\nYWI=\r\n", 0, "abcab"},
        {"YWJj\nYWI=", -1, ""},                 // the last line lacks its line feed
        {std::string(80, 'A') + "\n", -1, ""},  // 81 characters with the line feed
        {std::string(76, 'A') + "\r\n\n", 0, std::string(57, '\0')},
        {line76 + "\r\n" + "\n" + "YQ==\n", 0, std::string(57, '\0') + "a"},  // short lines skipped
        {"abc\n", 0, ""},                                                     // 4 characters: skipped
        {"YW*j\n", -1, ""},
        {"", 0, ""},
    };
    for (const Case &c : cases) {
        BIN in = view(c.text), out{0, nullptr};
        int rc = QRT_Base64_Decode(&out, &in);
        EXPECT_EQ(rc, c.rc) << "[" << c.text << "]";
        if (rc == 0) {
            EXPECT_EQ(str(out), c.data);
        }
        if (rc != 0) {
            EXPECT_EQ(out.value, nullptr) << "nothing half-decoded is handed out";
        }
        QRT_BIN_Reset(&out);
    }
    BIN in{4, nullptr}, out;
    EXPECT_EQ(QRT_Base64_Decode(&out, &in), 3001);
}

// 10 000 random buffers through both pairs; every encoding also agrees with OpenSSL's.
TEST(CodecBase64, RandomRoundTripsAgreeWithOpenSSL) {
    std::mt19937 rng(20240611);
    std::vector<unsigned char> ref;
    for (int i = 0; i < 10000; ++i) {
        size_t n = i < 9900 ? rng() % 300 : rng() % 20000;
        std::string data(n, '\0');
        for (auto &ch : data) ch = static_cast<char>(rng());

        std::string text = one_line(data);
        ref.resize(4 * ((n + 2) / 3) + 1);
        int k = EVP_EncodeBlock(ref.data(), (const unsigned char *)data.data(), static_cast<int>(n));
        ASSERT_EQ(text, std::string((char *)ref.data(), static_cast<size_t>(k)));
        BIN back{0, nullptr};
        ASSERT_EQ(QRT_Base64ToBin(text.c_str(), &back), 0);
        ASSERT_EQ(str(back), data);
        QRT_BIN_Reset(&back);

        std::string l = lines(data);
        BIN in = view(l);
        ASSERT_EQ(QRT_Base64_Decode(&back, &in), 0);
        ASSERT_EQ(str(back), data) << n << " bytes";
        QRT_BIN_Reset(&back);
    }
}

TEST(CodecBase64, AgreesWithOpensslCliBothWays) {
    if (!ostrel::test::have_command("openssl")) GTEST_SKIP() << "no openssl";
    TempDir dir;
    std::mt19937 rng(7);
    for (size_t n : {0, 1, 2, 47, 48, 49, 96, 1000, 4097}) {
        std::string data(n, '\0');
        for (auto &ch : data) ch = static_cast<char>(rng());
        ostrel::test::write_file(dir / "data", data);
        std::string theirs;
        ASSERT_EQ(ostrel::test::run("openssl base64 -in " + dir / "data", &theirs), 0);
        std::string ours = lines(data);
        EXPECT_EQ(without_cr(ours), theirs) << n << " bytes";

        BIN in = view(theirs), back{0, nullptr};
        ASSERT_EQ(QRT_Base64_Decode(&back, &in), 0) << "openssl's lines decode";
        EXPECT_EQ(str(back), data);
        QRT_BIN_Reset(&back);
        ostrel::test::write_file(dir / "ours", ours);
        ASSERT_EQ(ostrel::test::run("openssl base64 -d -in " + dir / "ours" + " -out " + dir / "back", nullptr), 0);
        EXPECT_EQ(ostrel::test::read_file(dir / "back"), data) << "openssl reads our CR LF lines";
    }
}

TEST(CodecHex, HexAndAscii) {
    BIN bin{0, nullptr};
    ASSERT_EQ(QRT_StrToBin("0aFf", &bin), 0);
    EXPECT_EQ(to_hex(bin.value, bin.length), "0aff");
    char *text = nullptr;
    ASSERT_EQ(QRT_BinToStr(&bin, &text), 0);
    EXPECT_STREQ(text, "0aff");
    QRT_free(text);
    QRT_BIN_Reset(&bin);

    EXPECT_EQ(QRT_StrToBin("abc", &bin), 3020);
    EXPECT_EQ(bin.value, nullptr) << "odd length is refused before allocating";
    EXPECT_EQ(QRT_StrToBin("00zz", &bin), 3020);
    EXPECT_EQ(bin.length, 0u);
    EXPECT_NE(bin.value, nullptr);
    QRT_BIN_Reset(&bin);
    EXPECT_EQ(QRT_StrToBin("", &bin), 0);
    EXPECT_EQ(bin.length, 0u);
    EXPECT_EQ(QRT_StrToBin(nullptr, &bin), 3001);
    BIN empty{0, nullptr};
    ASSERT_EQ(QRT_BinToStr(&empty, &text), 0);
    EXPECT_STREQ(text, "");
    QRT_free(text);

    EXPECT_EQ(QRT_IsASCII(""), 1);
    EXPECT_EQ(QRT_IsASCII(" ~\x7F"), 1);
    EXPECT_EQ(QRT_IsASCII("a\tb"), 0);
    EXPECT_EQ(QRT_IsASCII("caf\xC3\xA9"), 0);
    EXPECT_EQ(QRT_IsASCII("\x80"), 0);
    EXPECT_EQ(QRT_IsASCII(nullptr), 0);
}

TEST(CodecFrame, VersionErrorTextsAndNoTrace) {
    EXPECT_STREQ(QRT_Codec_GetVersion(), "1.5.0.6");
    EXPECT_STREQ(QRT_GetVersionCodec(), "1.5.0.6");
    EXPECT_EQ(QRT_Codec_CheckVersion("1.5.0.6"), 0);
    EXPECT_EQ(QRT_Codec_CheckVersion("1.4.9.9"), 0);
    EXPECT_EQ(QRT_Codec_CheckVersion("1.5.0.7"), -1);
    EXPECT_EQ(QRT_Codec_CheckVersion(nullptr), 0);

    EXPECT_STREQ(QRT_Codec_GetErrorReason(3020, 1), "bad hexa string");
    EXPECT_STREQ(QRT_GetErrReasonCodec(3003, 1), "malloc failed");
    // "함수 인자가 NULL 입니다." in EUC-KR.
    EXPECT_STREQ(QRT_Codec_GetErrorReason(3001, 0),
                 "\xC7\xD4\xBC\xF6 \xC0\xCE\xC0\xDA\xB0\xA1 NULL \xC0\xD4\xB4\xCF\xB4\xD9.");
    EXPECT_STREQ(QRT_Codec_GetErrorReason(3010, 1), "");
    EXPECT_STREQ(QRT_Codec_GetErrorReason(-1, 1), "");
    EXPECT_STREQ(QRT_Codec_GetErrorReason(3001, 2), "");
    EXPECT_STREQ(QRT_Codec_GetErrorReason(8032, 1), "file not found") << "I/O codes are handed on";

    QRT_Trace_Initialize();
    QRT_Trace_ClearError();
    BIN bin{0, nullptr};
    EXPECT_EQ(QRT_Base64ToBin("Y", &bin), -1);
    QRT_BIN_Reset(&bin);
    EXPECT_EQ(QRT_StrToBin("x", &bin), 3020);
    EXPECT_TRUE(ostrel::test::trace_records().empty()) << "Base64 and hex failures leave no trace records";
}
