// Code-set conversion: every code of the tables against python's CJK codecs (the tables' source),
// the converters' return conventions, and the driver and EUC-KR helpers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "codec_charset.h"
#include "ostrel/test_support.hpp"
#include "suite_codec.h"

using namespace ostrel::codec;
using ostrel::test::from_hex;
using ostrel::test::to_hex;

namespace {

struct Codec {
    const char *python;
    const char *name;  // our code-set name
    const char *utf8;  // the UTF-8 name it pairs with
};
constexpr Codec kCodecs[] = {{"euc_kr", "ko_KR-euc", "ko_KR-UTF-8"},
                             {"euc_jp", "ja_JP-EUC", "ja_JP-UTF-8"},
                             {"shift_jis", "ja_JP-SJIS", "ja_JP-UTF-8"}};

// What python's codecs make of every candidate code (see charset_reference.py), read once.
struct Reference {
    std::map<std::string, std::vector<std::pair<std::string, long>>> decoded;  // codec -> (bytes, cp or -1)
    std::map<std::string, std::map<long, std::string>> encoded;                // codec -> cp -> bytes
};

const Reference &reference() {
    static const Reference ref = [] {
        Reference r;
        const char *py = std::getenv("OSTREL_PYTHON");
        std::string text;
        int st =
            ostrel::test::run(std::string(py && *py ? py : "python3") + " lib/codec/test/charset_reference.py", &text);
        if (st != 0) throw std::runtime_error("charset_reference.py failed");
        std::istringstream in(text);
        std::string kind, codec, a, b;
        while (in >> kind >> codec >> a >> b) {
            if (kind == "d")
                r.decoded[codec].emplace_back(a, b == "-" ? -1 : std::stol(b, nullptr, 16));
            else
                r.encoded[codec][std::stol(a, nullptr, 16)] = b;
        }
        return r;
    }();
    return ref;
}

std::string utf8_of(long cp) {
    unsigned char buf[8];
    int k = utf8_wctomb(buf, static_cast<ucs4_t>(cp), sizeof buf);
    return std::string(reinterpret_cast<char *>(buf), k > 0 ? static_cast<size_t>(k) : 0);
}

// Converts `in`; returns the code and, on success, the output bytes.
int convert(const std::string &in, const char *to, const char *from, std::string *out) {
    BIN src{static_cast<unsigned int>(in.size()), (unsigned char *)in.data()};
    BIN dst{0, nullptr};
    int rc = QRT_Codec_Convert(&dst, &src, to, from);
    if (rc == 0) {
        EXPECT_EQ(dst.value[dst.length], 0) << "output is terminated";
        *out = std::string(reinterpret_cast<char *>(dst.value), dst.length);
    }
    QRT_BIN_Reset(&dst);
    return rc;
}

std::string bytes(const std::string &hex) {
    auto v = from_hex(hex);
    return std::string(v.begin(), v.end());
}

}  // namespace

// Every candidate code decodes as python decodes it and converts back to the same bytes. The
// hangul filler 0xA4D4 is read alone here (python's decoder takes it only as the start of a
// composition sequence, its encoder writes it); JIS X 0212 0x2237 is U+007E, which EUC-JP writes
// as the ASCII byte, as python does.
TEST(CodecCharset, EveryCodeAgreesWithTheSourceAndRoundTrips) {
    const Reference &ref = reference();
    for (const Codec &c : kCodecs) {
        const auto &enc = ref.encoded.at(c.python);
        size_t mapped = 0, kept_bytes = 0;
        std::vector<std::string> back_differs;
        for (const auto &[hex, cp] : ref.decoded.at(c.python)) {
            std::string in = bytes(hex), utf8;
            int rc = convert(in, c.utf8, c.name, &utf8);
            if (cp < 0) {
                // Unassigned for python: we may read it only when python's encoder writes it.
                if (rc == 0) {
                    ucs4_t wc = 0;
                    ASSERT_GT(utf8_mbtowc(&wc, (const unsigned char *)utf8.data(), utf8.size()), 0);
                    auto it = enc.find(wc);
                    EXPECT_TRUE(it != enc.end() && it->second == hex) << c.python << " " << hex << " is not assigned";
                } else {
                    EXPECT_EQ(rc, -1) << c.python << " " << hex;
                    continue;
                }
            } else {
                ASSERT_EQ(rc, 0) << c.python << " " << hex;
                EXPECT_EQ(to_hex(utf8.data(), utf8.size()), to_hex(utf8_of(cp).data(), utf8_of(cp).size()))
                    << c.python << " " << hex;
            }
            ++mapped;
            std::string round;
            ASSERT_EQ(convert(utf8, c.name, c.utf8, &round), 0) << c.python << " " << hex;
            if (round == in)
                ++kept_bytes;
            else
                back_differs.push_back(hex + "->" + to_hex(round.data(), round.size()));
        }
        if (std::strcmp(c.python, "euc_jp") == 0)
            EXPECT_EQ(back_differs, std::vector<std::string>{"8fa2b7->7e"});
        else
            EXPECT_TRUE(back_differs.empty())
                << back_differs.size() << " codes do not come back, first " << back_differs[0];
        EXPECT_EQ(kept_bytes + back_differs.size(), mapped);
    }
    // Table sizes of the published standards: KS X 1001:1998 (with the euro and registered
    // signs), JIS X 0208-1990 (+ 63 half-width katakana in EUC-JP and Shift_JIS), JIS X 0212.
    size_t n = 0;
    for (const auto &[hex, cp] : ref.decoded.at("euc_kr")) n += cp >= 0;
    EXPECT_EQ(n + 1, 8226u);  // + the hangul filler
    n = 0;
    for (const auto &[hex, cp] : ref.decoded.at("euc_jp")) n += cp >= 0;
    EXPECT_EQ(n, 6879u + 63u + 6067u);
}

// Every BMP code point is written exactly as python writes it, or refused where python has no
// code. The one difference: EUC-JP has ASCII, not JIS X 0201 Roman, in its one-byte half, so the
// yen sign and overline have no code there (python writes them as 0x5C and 0x7E).
TEST(CodecCharset, EveryCodePointIsWrittenAsTheSourceWritesIt) {
    const Reference &ref = reference();
    for (const Codec &c : kCodecs) {
        const auto &enc = ref.encoded.at(c.python);
        std::vector<long> refused;
        for (long cp = 0x80; cp < 0x10000; ++cp) {
            if (cp >= 0xD800 && cp < 0xE000) continue;
            std::string out;
            int rc = convert(utf8_of(cp), c.name, c.utf8, &out);
            auto it = enc.find(cp);
            if (it == enc.end()) {
                EXPECT_EQ(rc, -1) << c.python << " U+" << std::hex << cp;
            } else if (rc != 0) {
                refused.push_back(cp);
            } else {
                EXPECT_EQ(to_hex(out.data(), out.size()), it->second) << c.python << " U+" << std::hex << cp;
            }
        }
        if (std::strcmp(c.python, "euc_jp") == 0)
            EXPECT_EQ(refused, (std::vector<long>{0xA5, 0x203E}));
        else
            EXPECT_TRUE(refused.empty()) << c.python << " refuses U+" << std::hex << refused[0];
    }
}

// What the table sweeps above cannot reach: truncation (-2), lack of room, invalid UTF-8 forms,
// and the one-byte sets used alone.
TEST(CodecCharset, ConvertersReturnConventions) {
    struct Dec {
        Decoder fn;
        std::string in;
        int rc;
        ucs4_t wc;
    };
    const Dec decoders[] = {
        {utf8_mbtowc, "\xEA\xB0", -2, 0},          // ends inside the character
        {utf8_mbtowc, "\xEA\x41", -1, 0},          // not a continuation byte
        {utf8_mbtowc, "\xC1\xBF", -1, 0},          // overlong lead
        {utf8_mbtowc, "\xE0\x9F\xBF", -1, 0},      // overlong three-byte form
        {utf8_mbtowc, "\xF0\x8F\xBF\xBF", -1, 0},  // overlong four-byte form
        {utf8_mbtowc, "\x80", -1, 0},              // continuation byte as lead
        {utf8_mbtowc, "\xFE", -1, 0},
        {utf8_mbtowc, "\xF0\x9F\x98\x80", 4, 0x1F600},
        {utf8_mbtowc, "\xF8\x88\x80\x80\x80", 5, 0x200000},        // RFC 2279 five-byte form
        {utf8_mbtowc, "\xFD\xBF\xBF\xBF\xBF\xBF", 6, 0x7FFFFFFF},  // and six-byte form
        {euc_kr_mbtowc, "\xB0", -2, 0},
        {euc_kr_mbtowc, "\xB0\x41", -1, 0},
        {euc_kr_mbtowc, "\xA2\xE8", -1, 0},  // unassigned in KS X 1001:1998
        {jisx0201_mbtowc, "\x5C", 1, 0xA5},
        {jisx0201_mbtowc, "\x7E", 1, 0x203E},
        {jisx0201_mbtowc, "\xE0", -1, 0},
        {euc_jp_mbtowc, "\x8F\xB0", -2, 0},
        {euc_jp_mbtowc, "\x8E", -2, 0},
        {euc_jp_mbtowc, "\x8E\xE0", -1, 0},
        {euc_jp_mbtowc, "\xB0", -2, 0},
        {sjis_mbtowc, "\x88", -2, 0},
        {sjis_mbtowc, "\x88\x7F", -1, 0},
        {sjis_mbtowc, "\xF0\x40", -1, 0},  // user-defined area, no characters
        {sjis_mbtowc, "\x5C", 1, 0x5C},
    };
    for (const Dec &d : decoders) {
        ucs4_t wc = 0;
        int rc = d.fn(&wc, (const unsigned char *)d.in.data(), d.in.size());
        EXPECT_EQ(rc, d.rc) << to_hex(d.in.data(), d.in.size());
        if (rc > 0) {
            EXPECT_EQ(wc, d.wc) << to_hex(d.in.data(), d.in.size());
        }
    }

    struct Enc {
        Encoder fn;
        ucs4_t wc;
        size_t room;
        int rc;
        std::string out;
    };
    const Enc encoders[] = {
        {utf8_wctomb, 0xAC00, 2, -2, ""},
        {utf8_wctomb, 0x10000, 3, -2, ""},  // the driver gives UTF-8 three bytes of room
        {utf8_wctomb, 0x80000000u, 6, -1, ""},
        {euc_kr_wctomb, 0xAC00, 1, -2, ""},
        {euc_kr_wctomb, 0xAC02, 2, -1, ""},  // a syllable KS X 1001 lacks
        {jisx0201_wctomb, 0xA5, 1, 1, "\x5C"},
        {jisx0201_wctomb, 0x5C, 1, -1, ""},
        {euc_jp_wctomb, 0x4E02, 2, -2, ""},
        {euc_jp_wctomb, 0x7E, 3, 1, "~"},  // ASCII wins over JIS X 0212 0x2237
        {jisx0212_wctomb, 0x7E, 2, 2, "\x22\x37"},
        {sjis_wctomb, 0xAC00, 3, -1, ""},
    };
    for (const Enc &e : encoders) {
        unsigned char buf[8] = {};
        int rc = e.fn(buf, e.wc, e.room);
        EXPECT_EQ(rc, e.rc) << "U+" << std::hex << e.wc;
        if (rc > 0) {
            EXPECT_EQ(std::string((char *)buf, static_cast<size_t>(rc)), e.out) << "U+" << std::hex << e.wc;
        }
    }
}

TEST(CodecCharset, DriverPairsLimitsAndFailures) {
    QRT_Trace_Initialize();
    QRT_Trace_ClearError();
    std::string out;
    ASSERT_EQ(convert("\xB0\xA1", "ko_KR-UTF-8", "ko_KR-euc", &out), 0);
    EXPECT_EQ(out, "\xEA\xB0\x80");
    ASSERT_EQ(convert(out, "ko_KR-euc", "ko_KR-UTF-8", &out), 0);
    EXPECT_EQ(out, "\xB0\xA1");

    const std::string ascii = "Hello, World! ~\\ 0123 {}";
    const char *pairs[][2] = {{"ko_KR-UTF-8", "ko_KR-euc"},  {"ko_KR-euc", "ko_KR-UTF-8"},
                              {"ja_JP-UTF-8", "ja_JP-EUC"},  {"ja_JP-EUC", "ja_JP-UTF-8"},
                              {"ja_JP-UTF-8", "ja_JP-SJIS"}, {"ja_JP-SJIS", "ja_JP-UTF-8"}};
    for (auto &p : pairs) {
        ASSERT_EQ(convert(ascii, p[0], p[1], &out), 0) << p[1] << " -> " << p[0];
        EXPECT_EQ(out, ascii);
        ASSERT_EQ(convert("", p[0], p[1], &out), 0);
        EXPECT_EQ(out, "");
    }

    struct Bad {
        std::string in;
        const char *to, *from;
    };
    const Bad bad[] = {
        {"ab\xB0", "ko_KR-UTF-8", "ko_KR-euc"},            // lone lead byte at the end
        {"\xF0\x9F\x98\x80", "ko_KR-euc", "ko_KR-UTF-8"},  // above U+FFFF
        {"\xF0\x9F\x98\x80", "ja_JP-EUC", "ja_JP-UTF-8"},
        {"\xEA\xB0\x82", "ko_KR-euc", "ko_KR-UTF-8"},  // U+AC02 has no EUC-KR code
        {"\x8F\xB0", "ja_JP-UTF-8", "ja_JP-EUC"},
    };
    for (const Bad &b : bad) EXPECT_EQ(convert(b.in, b.to, b.from, &out), -1) << to_hex(b.in.data(), b.in.size());
    // A half-width katakana grows from one Shift_JIS byte to three UTF-8 bytes: the result is sized
    // for it, while QRT_ConvCodeSet, whose caller's buffer holds twice the text, refuses it.
    std::string kana(40, '\xB1'), wide;
    for (int i = 0; i < 40; ++i) wide += "\xEF\xBD\xB1";
    ASSERT_EQ(convert(kana, "ja_JP-UTF-8", "ja_JP-SJIS", &out), 0);
    EXPECT_EQ(out, wide);
    char small[2 * 40 + 1 + 16];
    std::memset(small, 'X', sizeof small);
    EXPECT_EQ(QRT_ConvCodeSet("ja_JP-SJIS", "ja_JP-UTF-8", kana.c_str(), small), -1);
    EXPECT_EQ(small[0], 0);
    EXPECT_EQ(small[2 * 40 + 1], 'X') << "nothing written past the caller's twice-plus-one bytes";
    ASSERT_EQ(QRT_ConvCodeSet("ja_JP-SJIS", "ja_JP-UTF-8", "\xB1\xB2zz", small), 0) << "fits twice the text";
    EXPECT_STREQ(small, "\xEF\xBD\xB1\xEF\xBD\xB2zz");

    BIN src{2, (unsigned char *)"ab"}, dst{0, nullptr};
    EXPECT_EQ(QRT_Codec_Convert(&dst, &src, "ja_JP-EUC", "ko_KR-euc"), -1);
    EXPECT_EQ(dst.value, nullptr) << "an unknown pair allocates nothing";
    EXPECT_EQ(QRT_Codec_Convert(&dst, &src, "ko_KR-utf-8", "ko_KR-euc"), -1) << "names are case-sensitive";
    EXPECT_EQ(QRT_Codec_Convert(nullptr, &src, "ko_KR-UTF-8", "ko_KR-euc"), 3001);
    EXPECT_EQ(QRT_Codec_Convert(&dst, &src, nullptr, "ko_KR-euc"), 3001);
    BIN broken{3, nullptr};
    EXPECT_EQ(QRT_Codec_Convert(&dst, &broken, "ko_KR-UTF-8", "ko_KR-euc"), 3001);

    src = BIN{3, (unsigned char *)"a\xB0\xFF"};
    ASSERT_EQ(QRT_Codec_Convert(&dst, &src, "ko_KR-UTF-8", "ko_KR-euc"), -1);
    ASSERT_NE(dst.value, nullptr) << "a failed conversion leaves its buffer for the caller";
    EXPECT_EQ(dst.length, 0u);
    EXPECT_EQ(dst.value[0], 0) << "without the partial text";
    QRT_BIN_Reset(&dst);
    auto recs = ostrel::test::trace_records();
    ASSERT_FALSE(recs.empty());
    EXPECT_EQ(ostrel::test::trace_field(recs.back(), 2), "QRT_Codec_Convert");
    EXPECT_EQ(ostrel::test::trace_field(recs.back(), 3), "-1");
}

TEST(CodecCharset, EucKrHelpers) {
    char buf[64];
    ASSERT_EQ(QRT_ConvCodeSet("ko_KR-euc", "ko_KR-UTF-8", "x\xB0\xA1y", buf), 0);
    EXPECT_STREQ(buf, "x\xEA\xB0\x80y");
    std::strcpy(buf, "stale");
    EXPECT_EQ(QRT_ConvCodeSet("ko_KR-euc", "ko_KR-UTF-8", "\xB0", buf), -1);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(QRT_ConvCodeSet("ko_KR-euc", nullptr, "a", buf), 3001);

    char *out = nullptr;
    int len = 0;
    ASSERT_EQ(QRT_EncodeUTF8("\xC7\xD1\xB1\xDB", &out, &len), 0);  // "한글"
    EXPECT_EQ(std::string(out, static_cast<size_t>(len)), "\xED\x95\x9C\xEA\xB8\x80");
    QRT_free(out);
    EXPECT_EQ(QRT_EncodeUTF8("\xC7", &out, &len), -1);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(QRT_EncodeUTF8(nullptr, &out, &len), 3001);

    const char utf8[] = "\xED\x95\x9C\xEA\xB8\x80 ok";
    ASSERT_EQ(QRT_DecodeUTF8(utf8, static_cast<int>(sizeof utf8 - 1), &out), 0);
    EXPECT_STREQ(out, "\xC7\xD1\xB1\xDB ok");
    QRT_free(out);
    EXPECT_EQ(QRT_DecodeUTF8(utf8, 2, &out), -1) << "cut inside a character";
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(QRT_DecodeUTF8(nullptr, 1, &out), 3001);

    const unsigned short units[] = {0x0041, 0xAC00, 0x4E00};
    char text[2 * 3 + 1];
    ASSERT_EQ(QRT_DecodeBMPStr(3, units, text), 0);
    EXPECT_EQ(std::string(text), "\x41\xB0\xA1\x3F");
    const unsigned short rare[] = {0x0041, 0xAC02};
    EXPECT_EQ(QRT_DecodeBMPStr(2, rare, text), -1);
    EXPECT_STREQ(text, "A") << "terminated after what was converted";
    EXPECT_EQ(QRT_DecodeBMPStr(0, nullptr, text), 0);
    EXPECT_STREQ(text, "");
}
