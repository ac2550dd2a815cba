// Names as text and back, and attribute strings by locale: the string types under each locale,
// the printed form (order, short names, escapes, the value cut), parse and print round trips,
// the parser's limits and failures, and a name too long for recursion.
#include <gtest/gtest.h>
#include <pthread.h>

#include <string>
#include <vector>

#include "ostrel/asn_tree.hpp"
#include "ostrel/der_build.hpp"
#include "ostrel/test_support.hpp"
#include "suite_pkc.h"

namespace {

using Bytes = std::vector<unsigned char>;
using ostrel::test::trace_text;

// ---- DER of names, written by hand ------------------------------------------------------------

using ostrel::test::der::tlv;
Bytes str(unsigned char tag, const std::string &s) { return tlv(tag, Bytes(s.begin(), s.end())); }
Bytes cat(const std::vector<Bytes> &parts) {
    Bytes out;
    for (auto &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}
Bytes atv(const ObjectID &oid, const Bytes &value) {
    return tlv(0x30, cat({tlv(0x06, Bytes(oid.value, oid.value + oid.length)), value}));
}
Bytes rdn(const std::vector<Bytes> &members) { return tlv(0x31, cat(members)); }
Bytes name_der(const std::vector<Bytes> &rdns) { return tlv(0x30, cat(rdns)); }

constexpr unsigned char UTF8 = 0x0C, PRINTABLE = 0x13, T61 = 0x14, IA5 = 0x16, VISIBLE = 0x1A, UNIVERSAL = 0x1C,
                        BMP = 0x1E;

struct Decoded : ostrel::AsnTree<Name> {
    explicit Decoded(const Bytes &der) : ostrel::AsnTree<Name>(Name_PDU) {
        BIN in{static_cast<unsigned>(der.size()), const_cast<unsigned char *>(der.data())};
        EXPECT_EQ(decode(&in), 0) << trace_text();
    }
};

// The text of a name, or "#<code>".
std::string text_of(const Name *name) {
    char *out = nullptr;
    int rc = QRT_ExtractRDN(0, name, &out);
    if (rc) {
        EXPECT_EQ(out, nullptr);
        return "#" + std::to_string(rc);
    }
    std::string s = out;
    QRT_free(out);
    return s;
}
std::string text_of(const Bytes &der) {
    Decoded n(der);
    return n ? text_of(n.get()) : "#decode";
}

// The DER of a parsed text, or "#<code>"; a failed parse must leave the name empty.
std::string parse(const std::string &text) {
    Name name{};
    int rc = QRT_ImplementRDN(&name, text.c_str());
    if (rc) {
        EXPECT_EQ(name.u.rdnSequence, nullptr);
        return "#" + std::to_string(rc);
    }
    BIN der{0, nullptr};
    EXPECT_EQ(QRT_ASN_EncodePDU(&der, &name, Name_PDU), 0) << trace_text();
    std::string hex = ostrel::test::to_hex(der.value, der.length);
    QRT_BIN_Reset(&der);
    QRT_NameFree(&name);
    return hex;
}
std::string hex(const Bytes &b) { return ostrel::test::to_hex(b.data(), b.size()); }

class Names : public ::testing::Test {
  protected:
    void SetUp() override {
        QRT_Trace_Initialize();
        QRT_Trace_ClearError();
    }
    void TearDown() override {
        QRT_PKC_SetOption("locale", "ko_KR-euc");
        QRT_PKC_SetOption("dncase", "lower");
        QRT_Trace_ClearError();
    }
};

const std::string kHong = "\xed\x99\x8d\xea\xb8\xb8\xeb\x8f\x99";  // 홍길동 in UTF-8
const std::string kHongEuc = "\xc8\xab\xb1\xe6\xb5\xbf";          // and in EUC-KR

// Every string type under the default and a UTF-8 locale, through the decoder and through the
// printed name (a value the decoder refuses fails the whole name with 36032).
TEST_F(Names, StringTypesByLocale) {
    const std::string cafe_bmp("\0C\0a\0f\0\xe9\0 \x4e\x2d\x65\x87", 14);  // "Café 中文"
    struct Case {
        const char *what;
        Bytes der;
        const char *locale;
        int rc;
        std::string out;
    } cases[] = {
        {"printable", str(PRINTABLE, "Test Co"), "ko_KR-euc", 0, "Test Co"},
        {"printable", str(PRINTABLE, "Test Co"), "ko_KR-UTF-8", 0, "Test Co"},
        {"ia5", str(IA5, "a@b.example"), "ko_KR-euc", 0, "a@b.example"},
        {"visible", str(VISIBLE, "v~"), "ko_KR-UTF-8", 0, "v~"},
        {"t61 bytes as they are", str(T61, "caf\xe9"), "ko_KR-euc", 0, "caf\xe9"},
        {"t61 bytes as they are", str(T61, "caf\xe9"), "ko_KR-UTF-8", 0, "caf\xe9"},
        {"utf8 hangul", str(UTF8, kHong), "ko_KR-euc", 0, kHongEuc},
        {"utf8 hangul", str(UTF8, kHong), "ko_KR-UTF-8", 0, kHong},
        {"utf8 not in EUC-KR", str(UTF8, "\xeb\x98\xa0"), "ko_KR-euc", -1, ""},
        {"utf8 not in EUC-KR", str(UTF8, "\xeb\x98\xa0"), "ko_KR-UTF-8", 0, "\xeb\x98\xa0"},
        {"utf8 latin", str(UTF8, "\xc5\x91"), "ko_KR-euc", -1, ""},
        {"utf8 latin", str(UTF8, "\xc5\x91"), "ko_KR-UTF-8", 0, "\xc5\x91"},
        {"bmp hangul", str(BMP, std::string("\xd6\x4d\xae\x38\xb3\xd9")), "ko_KR-euc", 0, kHongEuc},
        {"bmp hangul", str(BMP, std::string("\xd6\x4d\xae\x38\xb3\xd9")), "ko_KR-UTF-8", 0, kHong},
        {"bmp latin and han", str(BMP, cafe_bmp), "ko_KR-euc", 0, "Caf\xe9 ??"},
        {"bmp latin and han", str(BMP, cafe_bmp), "ko_KR-UTF-8", 0, "Caf\xc3\xa9 \xe4\xb8\xad\xe6\x96\x87"},
        {"bmp han", str(BMP, "\x4e\x2d\x65\x87"), "ja_JP-EUC", 0, "\xc3\xe6\xca\xb8"},
        {"bmp han", str(BMP, "\x4e\x2d\x65\x87"), "ja_JP-SJIS", 0, "\x92\x86\x95\xb6"},
        {"bmp han", str(BMP, "\x4e\x2d\x65\x87"), "ja_JP-UTF-8", 0, "\xe4\xb8\xad\xe6\x96\x87"},
        {"bmp surrogate pair", str(BMP, std::string("\xd8\x3d\xde\x00", 4)), "ko_KR-UTF-8", 0, "\xf0\x9f\x98\x80"},
        {"bmp lone surrogate", str(BMP, "\xd8\x3d"), "ko_KR-UTF-8", -1, ""},
        {"bmp odd length", str(BMP, std::string("\0A\0", 3)), "ko_KR-UTF-8", -1, ""},
        {"bmp odd length", str(BMP, std::string("\0A\0", 3)), "ko_KR-euc", -1, ""},
        {"universal", str(UNIVERSAL, std::string("\0\0\0A", 4)), "ko_KR-euc", -1, ""},
        {"universal", str(UNIVERSAL, std::string("\0\0\0A", 4)), "ko_KR-UTF-8", -1, ""},
        {"empty", str(UTF8, ""), "ko_KR-UTF-8", -1, ""},
        {"truncated", {PRINTABLE, 5, 'a', 'b', 'c'}, "ko_KR-euc", -1, ""},
        {"long form length", str(PRINTABLE, std::string(150, 'x')), "ko_KR-euc", 0, std::string(150, 'x')},
        {"octet string", str(0x04, "x"), "ko_KR-euc", -1, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.what) + " under " + c.locale);
        ASSERT_EQ(QRT_PKC_SetOption("locale", c.locale), 0);
        char out[202];
        int length = sizeof out;
        ASSERT_EQ(QRT_PKC_ASNString_Decode(out, &length, c.der.data(), static_cast<unsigned>(c.der.size())), c.rc);
        if (c.rc == 0) {
            EXPECT_EQ(std::string(out, static_cast<size_t>(length)), c.out);
            EXPECT_EQ(out[length], '\0');
        }
        if (std::string(c.what) == "truncated") continue;  // no name holds it
        std::string printed = text_of(name_der({rdn({atv(id_at_commonName, c.der)})}));
        EXPECT_EQ(printed, c.rc == 0 ? "cn=" + c.out : "#36032");
    }
}

// UTF-8 to the local code set and back, and the capacity rules of each direction.
TEST_F(Names, Utf8Conversions) {
    char out[16];
    EXPECT_EQ(QRT_PKC_UTF8_Decode(out, sizeof out, kHong.data(), static_cast<int>(kHong.size())), 6);
    EXPECT_EQ(std::string(out), kHongEuc);
    EXPECT_EQ(QRT_PKC_UTF8_Encode(out, sizeof out, kHongEuc.data(), 6), 9);
    EXPECT_EQ(std::string(out), kHong);
    // Decoding cuts on a whole character; encoding refuses a result that does not fit.
    EXPECT_EQ(QRT_PKC_UTF8_Decode(out, 6, kHong.data(), static_cast<int>(kHong.size())), 4);
    EXPECT_EQ(QRT_PKC_UTF8_Encode(out, 9, kHongEuc.data(), 6), -1);
    EXPECT_EQ(QRT_PKC_UTF8_Decode(out, sizeof out, "\xeb\x98\xa0", 3), -1);
    ASSERT_EQ(QRT_PKC_SetOption("locale", "ja_JP-SJIS"), 0);
    EXPECT_EQ(QRT_PKC_UTF8_Encode(out, sizeof out, "\x92\x86\x95\xb6", 4), 6);
    EXPECT_EQ(std::string(out), "\xe4\xb8\xad\xe6\x96\x87");
    ASSERT_EQ(QRT_PKC_SetOption("locale", "ko_KR-UTF-8"), 0);
    EXPECT_EQ(QRT_PKC_UTF8_Decode(out, sizeof out, "\xc5\x91", 2), 2);
}

// The printed form: order, short names and case, escapes, left-out types, empty values,
// multi-valued RDNs; and parsing each printed text gives back the encoding it came from.
TEST_F(Names, TextForm) {
    Bytes c_kr = atv(id_at_countryName, str(PRINTABLE, "KR"));
    Bytes o = atv(id_at_organizationName, str(UTF8, "Org"));
    Bytes cn = atv(id_at_commonName, str(UTF8, "Name"));
    Bytes serial = atv(id_at_name, str(PRINTABLE, "hidden"));  // a type outside the table
    struct Case {
        const char *what;
        Bytes der;
        const char *dncase;
        std::string text;
        bool reparses;  // parsing the text gives back der
    } cases[] = {
        {"order", name_der({rdn({c_kr}), rdn({o}), rdn({cn})}), "lower", "cn=Name,o=Org,c=KR", true},
        {"upper", name_der({rdn({c_kr}), rdn({o}), rdn({cn})}), "upper", "CN=Name,O=Org,C=KR", true},
        {"escapes", name_der({rdn({atv(id_at_commonName, str(UTF8, "a,b=c+d\\e<f>g;h\x01i\x1f"))})}), "lower",
         "cn=a\\,b\\=c\\+d\\\\e\\<f\\>g\\;h\\01i\\1f", true},
        {"every short name",
         name_der({rdn({atv(domainComponent, str(IA5, "kr"))}), rdn({atv(id_at_stateOrProvinceName, str(UTF8, "S"))}),
                   rdn({atv(id_at_localityName, str(UTF8, "L"))}), rdn({atv(id_at_organizationalUnitName, str(UTF8, "U"))}),
                   rdn({atv(id_at_title, str(UTF8, "T"))}), rdn({atv(pkcs_9_at_emailAddress, str(IA5, "a@b"))}),
                   rdn({atv(id_at_dnQualifier, str(PRINTABLE, "q1"))})}),
         "upper", "DNQUALIFIER=q1,E=a@b,T=T,OU=U,L=L,S=S,DC=kr", true},
        {"unstructured name prints", name_der({rdn({atv(pkcs_9_at_unstructuredName, str(IA5, "host"))})}), "lower",
         "id=host", false},
        {"unknown types left out", name_der({rdn({serial}), rdn({o}), rdn({serial}), rdn({cn, serial})}), "lower",
         "cn=Name,o=Org", false},
        {"multi-valued", name_der({rdn({c_kr}), rdn({o, cn})}), "lower", "cn=Name+o=Org,c=KR", true},
        {"multi-valued escapes", name_der({rdn({atv(id_at_title, str(UTF8, ",")), atv(id_at_commonName, str(UTF8, "x+y"))})}),
         "lower", "cn=x\\+y+t=\\,", true},
        {"empty name", name_der({}), "lower", "", true},
        {"empty value", name_der({rdn({o}), rdn({atv(id_at_commonName, str(BMP, std::string("\0\0", 2)))})}), "lower",
         "=,o=Org", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(QRT_PKC_SetOption("dncase", c.dncase), 0);
        EXPECT_EQ(text_of(c.der), c.text);
        if (c.reparses) {
            EXPECT_EQ(parse(c.text), hex(c.der));
        }
    }
}

// A value is cut to 201 bytes on a whole character of the local code set.
TEST_F(Names, ValueCutOnWholeCharacter) {
    std::string hangul;
    for (int i = 0; i < 101; ++i) hangul += kHong.substr(0, 3);  // 101 x 홍: 303 bytes of UTF-8, 202 of EUC-KR
    Bytes der = name_der({rdn({atv(id_at_commonName, str(UTF8, hangul))})});
    std::string euc;
    for (int i = 0; i < 100; ++i) euc += kHongEuc.substr(0, 2);
    EXPECT_EQ(text_of(der), "cn=" + euc);
    ASSERT_EQ(QRT_PKC_SetOption("locale", "ko_KR-UTF-8"), 0);
    Bytes shifted = name_der({rdn({atv(id_at_commonName, str(UTF8, "a" + hangul))})});
    EXPECT_EQ(text_of(shifted), "cn=a" + hangul.substr(0, 198));  // 66 whole characters, not 66 2/3
    std::string latin = "a" + std::string(250, 'b');
    EXPECT_EQ(text_of(name_der({rdn({atv(id_at_commonName, str(UTF8, latin))})})), "cn=" + latin.substr(0, 201));
    // The decoder's own capacity follows the same rule.
    char out[5];
    int length = sizeof out;
    Bytes s = str(UTF8, kHong);
    ASSERT_EQ(QRT_PKC_ASNString_Decode(out, &length, s.data(), static_cast<unsigned>(s.size())), 0);
    EXPECT_EQ(length, 3);
}

// Korean text in each locale becomes a UTF8String; country and dnQualifier PrintableString, e-mail
// and domain component IA5String.
TEST_F(Names, ParseBuildsStringTypes) {
    Bytes expected = name_der({rdn({atv(id_at_countryName, str(PRINTABLE, "KR"))}),
                               rdn({atv(domainComponent, str(IA5, "example"))}),
                               rdn({atv(id_at_organizationName, str(UTF8, kHong))}),
                               rdn({atv(pkcs_9_at_emailAddress, str(IA5, "hong@example.kr"))}),
                               rdn({atv(id_at_dnQualifier, str(PRINTABLE, "7"))})});
    std::string tail = ",E=hong@example.kr,O=";
    EXPECT_EQ(parse("dnqualifier=7,e=hong@example.kr,o=" + kHongEuc + ",dc=example,c=KR"), hex(expected));
    ASSERT_EQ(QRT_PKC_SetOption("locale", "ko_KR-UTF-8"), 0);
    EXPECT_EQ(parse("DNQUALIFIER=7" + tail + kHong + ",DC=example,C=KR"), hex(expected));
    ASSERT_EQ(QRT_PKC_SetOption("locale", "ja_JP-SJIS"), 0);
    EXPECT_EQ(parse("CN=\x92\x86\x95\xb6"),
              hex(name_der({rdn({atv(id_at_commonName, str(UTF8, "\xe4\xb8\xad\xe6\x96\x87"))})})));
}

// Print, parse, print is the identity in every locale, multi-valued RDNs included.
TEST_F(Names, PrintParsePrint) {
    const char *texts[] = {
        "cn=Name+o=Org+ou=Unit,c=KR",
        "cn=\\\\\\,\\=\\+\\<\\>\\;\\01\\1f end,o=x",
        "e=a@b.c,dc=example,dc=kr",
        "cn=\xc8\xab\xb1\xe6\xb5\xbf,o=\xb1\xe6",
    };
    for (const char *locale : {"ko_KR-euc", "ko_KR-UTF-8"}) {
        ASSERT_EQ(QRT_PKC_SetOption("locale", locale), 0);
        for (const char *t : texts) {
            SCOPED_TRACE(std::string(t) + " under " + locale);
            Name name{};
            if (QRT_ImplementRDN(&name, t) != 0) {
                EXPECT_STREQ(locale, "ko_KR-UTF-8");  // EUC-KR bytes are no UTF-8
                continue;
            }
            EXPECT_EQ(text_of(&name), t);
            QRT_NameFree(&name);
        }
    }
}

// Malformed text, the limits, and what failure leaves: nothing allocated, one trace record.
TEST_F(Names, ParseFailures) {
    std::string rdns1024, rdns1025 = "cn=x", full;
    while (64 * 1024 - full.size() > 204) full += "cn=" + std::string(200, 'v') + ",";
    full += "cn=" + std::string(64 * 1024 - full.size() - 3, 'v');
    for (int i = 0; i < 1024; ++i) rdns1024 += (i ? ",cn=" : "cn=") + std::to_string(i);
    rdns1025 += "," + rdns1024;
    struct Case {
        const char *what;
        std::string text;
        bool ok;
    } cases[] = {
        {"1024 RDNs", rdns1024, true},
        {"1025 RDNs", rdns1025, false},
        {"64 KiB", full, true},
        {"over 64 KiB", full + "v", false},
        {"unknown type", "cn=a,x=b", false},
        {"ID is printed only", "id=host", false},
        {"no =", "cn=a,o", false},
        {"empty piece", "cn=a,,o=b", false},
        {"trailing comma", "cn=a,", false},
        {"empty member", "cn=a+", false},
        {"empty value", "cn=", false},
        {"empty type", "=a", false},
        {"trailing backslash", "cn=a\\", false},
        {"one hex digit", "cn=\\4", false},
        {"escaped non-special", "cn=\\ a\\#", true},
        {"hex escape", "cn=\\41", true},
        {"value of 201 bytes", "cn=" + std::string(201, 'v'), true},
        {"value of 202 bytes", "cn=" + std::string(202, 'v'), false},
        {"country of three", "c=KOR", false},
        {"country not printable", "c=K*", false},
        {"e-mail not ASCII", "e=\xb1\xe6@x", false},
        {"not EUC-KR", "cn=\xff\xff", false},
        {"later RDN fails", "cn=a+o=b,ou=c,c=KOR", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        QRT_Trace_ClearError();
        std::string r = parse(c.text);
        if (c.ok) {
            EXPECT_NE(r[0], '#');
        } else {
            EXPECT_EQ(r, "#36032");
            EXPECT_NE(trace_text().find("QRT_ImplementRDN"), std::string::npos);
        }
    }
    Name name{};
    EXPECT_EQ(QRT_ImplementRDN(&name, nullptr), 36001);
    EXPECT_EQ(QRT_ImplementRDN(nullptr, "cn=a"), 36001);
    // Under a UTF-8 locale the text must be UTF-8.
    ASSERT_EQ(QRT_PKC_SetOption("locale", "ko_KR-UTF-8"), 0);
    EXPECT_EQ(parse("cn=\xed\xa0\x80"), "#36032");
}

// The item splitter, the one-attribute builder and the appenders of the string buffer.
TEST_F(Names, Pieces) {
    char *type = nullptr, *value = nullptr;
    ASSERT_EQ(QRT_GetAttrTypeAndValue("CN=a\\,b\\=c=d", -1, &type, &value), 0);
    EXPECT_STREQ(type, "CN");
    EXPECT_STREQ(value, "a,b=c=d");
    QRT_free(type);
    QRT_free(value);
    EXPECT_EQ(QRT_GetAttrTypeAndValue("CN", -1, &type, &value), 36032);
    EXPECT_EQ(type, nullptr);

    AttributeTypeAndValue attr{};
    ASSERT_EQ(QRT_PKC_AsnRDN_Encode(&attr, "cNxx", 2, "KR"), 0);
    EXPECT_EQ(QRT_ASN_CmpOID(&attr.type, &id_at_commonName), 0);
    EXPECT_EQ(hex(Bytes(attr.value.value, attr.value.value + attr.value.length)), hex(str(UTF8, "KR")));
    QRT_free(attr.type.value);
    QRT_free(attr.value.value);
    EXPECT_EQ(QRT_PKC_AsnRDN_Encode(&attr, "ZZ", 2, "x"), 36032);
    EXPECT_EQ(attr.value.value, nullptr);

    Decoded n(name_der({rdn({atv(id_at_countryName, str(PRINTABLE, "KR"))}),
                        rdn({atv(id_at_organizationName, str(UTF8, "O")), atv(id_at_commonName, str(UTF8, "a,b"))})}));
    ZQ_PKC_StrBuf *buf = QRT_PKC_StrBuf_New();
    ASSERT_EQ(QRT_PKC_AsnRDNs_ToString(buf, n->u.rdnSequence), 0);
    EXPECT_STREQ(QRT_PKC_StrBuf_GetString(buf), "cn=a\\,b+o=O,c=KR,");
    QRT_PKC_StrBuf_Init(buf, 0, 0);
    ASSERT_EQ(QRT_PKC_AsnMultiValuedRDNs_ToString(buf, n->u.rdnSequence->next->value), 0);
    ASSERT_EQ(QRT_PKC_X520CountryName_ToString(buf, "C", &n->u.rdnSequence->value->value.value), 0);
    ASSERT_EQ(QRT_PKC_X520Name_ToString(buf, "X", &n->u.rdnSequence->value->value.value), 0);
    EXPECT_STREQ(QRT_PKC_StrBuf_GetString(buf), "cn=a\\,b+o=O,C=KR,X=KR,");
    Any universal{6, const_cast<unsigned char *>(reinterpret_cast<const unsigned char *>("\x1c\x04\0\0\0A"))};
    EXPECT_EQ(QRT_PKC_X520Name_ToString(buf, "X", &universal), 36032);
    QRT_PKC_StrBuf_Free(buf);

    Name other{};
    other.choice = 2;
    char *out = nullptr;
    EXPECT_EQ(QRT_ExtractRDN(0, &other, &out), 36032);
    EXPECT_EQ(QRT_ExtractRDN(0, nullptr, &out), 36001);
}

// A name far longer than recursion could walk prints on a thread with a 1 MiB stack.
TEST_F(Names, HugeNameOnSmallStack) {
    constexpr int kCount = 200000;
    Name name{};
    name.choice = Name_rdnSequence_chosen;
    Bytes value = str(PRINTABLE, "x");
    for (int i = 0; i < kCount; ++i) {
        auto *member = static_cast<RelativeDistinguishedName_ *>(QRT_calloc(1, sizeof(RelativeDistinguishedName_)));
        auto *node = static_cast<RDNSequence_ *>(QRT_calloc(1, sizeof(RDNSequence_)));
        ASSERT_EQ(QRT_ASN_CopyOID(&member->value.type, &id_at_organizationalUnitName), 0);
        member->value.value.value = static_cast<unsigned char *>(QRT_malloc(value.size()));
        std::copy(value.begin(), value.end(), member->value.value.value);
        member->value.value.length = static_cast<unsigned>(value.size());
        node->value = member;
        node->next = name.u.rdnSequence;
        name.u.rdnSequence = node;
    }
    struct Job {
        Name *name;
        std::string text;
        int rc;
    } job{&name, "", -1};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 1 << 20);
    pthread_t thread;
    ASSERT_EQ(pthread_create(
                  &thread, &attr,
                  [](void *p) -> void * {
                      auto *j = static_cast<Job *>(p);
                      char *out = nullptr;
                      j->rc = QRT_ExtractRDN(0, j->name, &out);
                      if (out) j->text = out;
                      QRT_free(out);
                      return nullptr;
                  },
                  &job),
              0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
    EXPECT_EQ(job.rc, 0);
    EXPECT_EQ(job.text.size(), static_cast<size_t>(kCount) * 5 - 1);
    EXPECT_EQ(job.text.substr(0, 10), "ou=x,ou=x,");
    QRT_NameFree(&name);
    EXPECT_EQ(name.u.rdnSequence, nullptr);
}

}  // namespace
