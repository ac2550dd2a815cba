// Name text against real peers. The subject and issuer of every system root and of the PKITS
// attribute-type and UTF8String certificates equal the openssl command line's RFC 2253 text
// rewritten into our form; Names that the python cryptography package builds print as expected
// in both locales, and our parsed text encodes to the same DER as cryptography's.
#include <dirent.h>
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "asn_test_util.hpp"
#include "ostrel/asn_tree.hpp"
#include "ostrel/test_support.hpp"
#include "suite_pkc.h"

namespace {

using Bytes = std::vector<unsigned char>;
using ostrel::test::read_file;
using ostrel::test::run;
using ostrel::test::TempDir;
using ostrel::test::to_hex;
using ostrel::test::trace_text;
using ostrel::test::write_file;

const std::string kRoots = "/usr/share/ca-certificates/mozilla";
const std::string kPkits = std::string(OSTREL_SOURCE_DIR) + "/../shared/conformance/pkits/certs";
const std::string kScript = std::string(OSTREL_SOURCE_DIR) + "/tests/pkc_names/names.py";

std::vector<std::string> files_in(const std::string &dir, const std::string &suffix) {
    std::vector<std::string> out;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d)) {
            std::string n = e->d_name;
            if (n.size() > suffix.size() && n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0)
                out.push_back(n);
        }
        closedir(d);
    }
    std::sort(out.begin(), out.end());
    return out;
}

Bytes pem_body(const std::string &text) {
    auto blocks = asn_test::pem_blocks(text, "CERTIFICATE");
    return blocks.empty() ? Bytes{} : blocks[0];
}

// ---- openssl's RFC 2253 text in our form ------------------------------------------------------

// openssl's short names and ours; types not listed are left out, as we leave them out.
const std::map<std::string, std::string> kShortNames = {
    {"CN", "CN"}, {"O", "O"}, {"OU", "OU"}, {"C", "C"}, {"ST", "S"}, {"L", "L"}, {"title", "T"},
    {"emailAddress", "E"}, {"DC", "DC"}, {"dnQualifier", "DNQUALIFIER"}, {"unstructuredName", "ID"},
};

std::string our_escapes(const std::string &v) {
    // 201 bytes on a whole UTF-8 character.
    size_t n = v.size();
    if (n > 201) {
        n = 201;
        while (n > 0 && (static_cast<unsigned char>(v[n]) & 0xC0) == 0x80) --n;
    }
    std::string out;
    char hex[4];
    for (size_t i = 0; i < n; ++i) {
        auto c = static_cast<unsigned char>(v[i]);
        if (c < 0x20) {
            snprintf(hex, sizeof hex, "\\%02x", c);
            out += hex;
        } else {
            if (std::string("\\,=+<>;").find(static_cast<char>(c)) != std::string::npos) out += '\\';
            out += static_cast<char>(c);
        }
    }
    return out;
}

// "CN=a\, b+O=x,C=KR" (openssl -nameopt RFC2253,-esc_msb) rewritten: our short names, our
// escapes, unknown types left out, an empty value as "=" alone.
std::string rewrite_rfc2253(const std::string &in) {
    std::string out, group, type, value;
    bool in_value = false;
    auto end_member = [&] {
        auto it = kShortNames.find(type);
        if (it != kShortNames.end()) {
            if (!group.empty()) group += '+';
            group += (value.empty() ? "" : it->second) + "=" + our_escapes(value);
        }
        type.clear();
        value.clear();
        in_value = false;
    };
    auto end_rdn = [&] {
        end_member();
        if (!group.empty()) out += group + ",";
        group.clear();
    };
    for (size_t i = 0; i < in.size(); ++i) {
        char c = in[i];
        if (!in_value) {
            if (c == '=') in_value = true;
            else type += c;
        } else if (c == '\\' && i + 1 < in.size()) {
            if (i + 2 < in.size() && isxdigit(static_cast<unsigned char>(in[i + 1])) &&
                isxdigit(static_cast<unsigned char>(in[i + 2]))) {
                value += static_cast<char>(std::stoi(in.substr(i + 1, 2), nullptr, 16));
                i += 2;
            } else {
                value += in[++i];
            }
        } else if (c == '+') {
            end_member();
        } else if (c == ',') {
            end_rdn();
        } else {
            value += c;
        }
    }
    if (!in.empty()) end_rdn();
    if (!out.empty()) out.pop_back();
    return out;
}

class PkcNames : public ::testing::Test {
  protected:
    void SetUp() override {
        QRT_Trace_Initialize();
        QRT_Trace_ClearError();
    }
    void TearDown() override {
        QRT_PKC_SetOption("locale", "ko_KR-euc");
        QRT_PKC_SetOption("dncase", "lower");
    }

    // Subject and issuer of each file from one openssl run: file -> {subject, issuer}.
    std::map<std::string, std::pair<std::string, std::string>> openssl_names(const std::string &dir,
                                                                             const std::vector<std::string> &files,
                                                                             const char *inform) {
        std::string cmd = "cd '" + dir + "' && for f in";
        for (auto &f : files) cmd += " '" + f + "'";
        cmd += std::string("; do echo \"file=$f\"; openssl x509 -inform ") + inform +
               " -in \"$f\" -noout -nameopt RFC2253,-esc_msb -subject -issuer; done";
        std::string text;
        EXPECT_EQ(run(cmd, &text), 0);
        std::map<std::string, std::pair<std::string, std::string>> out;
        std::istringstream lines(text);
        std::string line, file;
        while (std::getline(lines, line)) {
            if (line.rfind("file=", 0) == 0) file = line.substr(5);
            else if (line.rfind("subject=", 0) == 0) out[file].first = line.substr(8);
            else if (line.rfind("issuer=", 0) == 0) out[file].second = line.substr(7);
        }
        return out;
    }

    // Our subject and issuer of a DER certificate equal openssl's rewritten.
    void expect_same_as_openssl(const std::string &what, const Bytes &der,
                                const std::pair<std::string, std::string> &theirs) {
        SCOPED_TRACE(what);
        BIN in{static_cast<unsigned>(der.size()), const_cast<unsigned char *>(der.data())};
        ostrel::AsnTree<Certificate> cert(Certificate_PDU);
        ASSERT_EQ(cert.decode(&in), 0) << trace_text();
        char *subject = nullptr, *issuer = nullptr;
        ASSERT_EQ(QRT_GetRDNFromCert(0, &cert->tbsCertificate, &subject), 0) << trace_text();
        ASSERT_EQ(QRT_GetIssuerRDNFromCert(0, &cert->tbsCertificate, &issuer), 0) << trace_text();
        EXPECT_EQ(subject, rewrite_rfc2253(theirs.first)) << "openssl: " << theirs.first;
        EXPECT_EQ(issuer, rewrite_rfc2253(theirs.second)) << "openssl: " << theirs.second;
        char *again = nullptr;
        ASSERT_EQ(QRT_ExtractDN(0, &in, 0, &again), 0);
        EXPECT_STREQ(again, subject);
        QRT_free(again);
        // The printed text parses and prints back unchanged.
        Name parsed{};
        if (QRT_ImplementRDN(&parsed, subject) == 0) {
            char *reprinted = nullptr;
            ASSERT_EQ(QRT_ExtractRDN(0, &parsed, &reprinted), 0);
            EXPECT_STREQ(reprinted, subject);
            QRT_free(reprinted);
            QRT_NameFree(&parsed);
        }
        QRT_free(subject);
        QRT_free(issuer);
    }
};

TEST_F(PkcNames, SystemRootsMatchOpenssl) {
    if (!ostrel::test::have_command("openssl")) GTEST_SKIP() << "no openssl command";
    auto files = files_in(kRoots, ".crt");
    if (files.empty()) GTEST_SKIP() << "no system roots";
    ASSERT_EQ(QRT_PKC_SetOption("locale", "ko_KR-UTF-8"), 0);
    ASSERT_EQ(QRT_PKC_SetOption("dncase", "upper"), 0);
    auto theirs = openssl_names(kRoots, files, "PEM");
    for (auto &f : files) expect_same_as_openssl(f, pem_body(read_file(kRoots + "/" + f)), theirs[f]);
}

TEST_F(PkcNames, PkitsAttributeTypesAndUtf8Strings) {
    if (!ostrel::test::have_command("openssl")) GTEST_SKIP() << "no openssl command";
    std::vector<std::string> files;
    for (auto &f : files_in(kPkits, ".crt"))
        if (f.find("RFC3280") != std::string::npos || f.find("UTF8String") != std::string::npos) files.push_back(f);
    if (files.empty()) GTEST_SKIP() << "no PKITS";
    ASSERT_GE(files.size(), 10u);
    ASSERT_EQ(QRT_PKC_SetOption("locale", "ko_KR-UTF-8"), 0);
    ASSERT_EQ(QRT_PKC_SetOption("dncase", "upper"), 0);
    auto theirs = openssl_names(kPkits, files, "DER");
    for (auto &f : files) {
        std::string der = read_file(kPkits + "/" + f);
        expect_same_as_openssl(f, Bytes(der.begin(), der.end()), theirs[f]);
    }
}

// ---- python cryptography ----------------------------------------------------------------------

struct Attr {
    const char *oid;
    const char *type;
    std::string utf8;
};
using Rdns = std::vector<std::vector<Attr>>;

class CryptographyNames : public PkcNames {
  protected:
    TempDir dir;
    void SetUp() override {
        PkcNames::SetUp();
        if (!ostrel::test::have_command("python3")) GTEST_SKIP() << "no python3";
        if (run("python3 -c 'import cryptography' 2>/dev/null") != 0) GTEST_SKIP() << "no cryptography module";
    }
    // The DER of each name, as cryptography encodes it.
    std::vector<Bytes> build(const std::vector<Rdns> &names) {
        std::string input;
        for (auto &n : names) {
            for (size_t r = 0; r < n.size(); ++r) {
                if (r) input += ';';
                for (size_t m = 0; m < n[r].size(); ++m) {
                    const Attr &a = n[r][m];
                    input += std::string(m ? "," : "") + a.oid + ":" + a.type + ":" + to_hex(a.utf8.data(), a.utf8.size());
                }
            }
            input += '\n';
        }
        write_file(dir / "in.txt", input);
        std::string text;
        EXPECT_EQ(run("python3 '" + kScript + "' < '" + (dir / "in.txt") + "'", &text), 0);
        std::vector<Bytes> out;
        std::istringstream lines(text);
        std::string line;
        while (std::getline(lines, line)) out.push_back(ostrel::test::from_hex(line));
        EXPECT_EQ(out.size(), names.size());
        return out;
    }
    static std::string print(const Bytes &der) {
        BIN in{static_cast<unsigned>(der.size()), const_cast<unsigned char *>(der.data())};
        ostrel::AsnTree<Name> name(Name_PDU);
        if (name.decode(&in) != 0) return "#decode";
        char *out = nullptr;
        int rc = QRT_ExtractRDN(0, name.get(), &out);
        if (rc) return "#" + std::to_string(rc);
        std::string s = out;
        QRT_free(out);
        return s;
    }
    static Bytes encode(const std::string &text) {
        Name name{};
        EXPECT_EQ(QRT_ImplementRDN(&name, text.c_str()), 0) << text << "\n" << trace_text();
        BIN der{0, nullptr};
        EXPECT_EQ(QRT_ASN_EncodePDU(&der, &name, Name_PDU), 0) << trace_text();
        Bytes out(der.value, der.value + der.length);
        QRT_BIN_Reset(&der);
        QRT_NameFree(&name);
        return out;
    }
};

const std::string kHong = "\xed\x99\x8d\xea\xb8\xb8\xeb\x8f\x99";  // 홍길동
const std::string kHongEuc = "\xc8\xab\xb1\xe6\xb5\xbf";
const std::string kCafe = "Caf\xc3\xa9 \xe4\xb8\xad\xe6\x96\x87";  // Café 中文

// Each string type as cryptography writes it, printed under both locales.
TEST_F(CryptographyNames, StringTypes) {
    struct Case {
        const char *type;
        std::string value, euc, utf8;  // "#36032": the name does not print
    } cases[] = {
        {"PrintableString", "Test Co", "cn=Test Co", "cn=Test Co"},
        {"IA5String", "a@b.example", "cn=a@b.example", "cn=a@b.example"},
        {"VisibleString", "v~", "cn=v~", "cn=v~"},
        {"T61String", "t61", "cn=t61", "cn=t61"},
        {"UTF8String", kHong, "cn=" + kHongEuc, "cn=" + kHong},
        {"UTF8String", "\xeb\x98\xa0", "#36032", "cn=\xeb\x98\xa0"},  // 똠: not in EUC-KR
        {"UTF8String", "\xc5\x91", "#36032", "cn=\xc5\x91"},          // ő
        {"BMPString", kHong, "cn=" + kHongEuc, "cn=" + kHong},
        {"BMPString", kCafe, "cn=Caf\xe9 ??", "cn=" + kCafe},
        {"UniversalString", "U", "#36032", "#36032"},
    };
    std::vector<Rdns> names;
    for (auto &c : cases) names.push_back({{{"2.5.4.3", c.type, c.value}}});
    auto der = build(names);
    ASSERT_EQ(der.size(), std::size(cases));
    for (size_t i = 0; i < der.size(); ++i) {
        SCOPED_TRACE(std::string(cases[i].type) + " " + cases[i].utf8);
        EXPECT_EQ(print(der[i]), cases[i].euc);
        ASSERT_EQ(QRT_PKC_SetOption("locale", "ko_KR-UTF-8"), 0);
        EXPECT_EQ(print(der[i]), cases[i].utf8);
        ASSERT_EQ(QRT_PKC_SetOption("locale", "ko_KR-euc"), 0);
    }
}

// Korean names, escapes and multi-valued RDNs: cryptography's DER prints as our text, and our
// text parses to cryptography's DER, in both locales.
TEST_F(CryptographyNames, BothWays) {
    struct Case {
        Rdns rdns;
        std::string euc, utf8;
    } cases[] = {
        {{{{"2.5.4.6", "PrintableString", "KR"}},
          {{"2.5.4.10", "UTF8String", kHong}},
          {{"2.5.4.11", "UTF8String", "Dev"}},
          {{"2.5.4.3", "UTF8String", kHong + " 1"}}},
         "cn=" + kHongEuc + " 1,ou=Dev,o=" + kHongEuc + ",c=KR", "cn=" + kHong + " 1,ou=Dev,o=" + kHong + ",c=KR"},
        {{{{"0.9.2342.19200300.100.1.25", "IA5String", "kr"}},
          {{"0.9.2342.19200300.100.1.25", "IA5String", "example"}},
          {{"1.2.840.113549.1.9.1", "IA5String", "hong@example.kr"}},
          {{"2.5.4.46", "PrintableString", "q-1"}}},
         "dnqualifier=q-1,e=hong@example.kr,dc=example,dc=kr", "dnqualifier=q-1,e=hong@example.kr,dc=example,dc=kr"},
        {{{{"2.5.4.3", "UTF8String", "a,b=c+d\\e<f>g;h\x01 #"}}},
         "cn=a\\,b\\=c\\+d\\\\e\\<f\\>g\\;h\\01 #", "cn=a\\,b\\=c\\+d\\\\e\\<f\\>g\\;h\\01 #"},
        {{{{"2.5.4.6", "PrintableString", "KR"}},
          {{"2.5.4.10", "UTF8String", "Org"}, {"2.5.4.3", "UTF8String", kHong}, {"2.5.4.12", "UTF8String", "x+y"}}},
         "", ""},
    };
    std::vector<Rdns> names;
    for (auto &c : cases) names.push_back(c.rdns);
    auto der = build(names);
    ASSERT_EQ(der.size(), std::size(cases));
    for (const char *locale : {"ko_KR-euc", "ko_KR-UTF-8"}) {
        ASSERT_EQ(QRT_PKC_SetOption("locale", locale), 0);
        for (size_t i = 0; i < der.size(); ++i) {
            SCOPED_TRACE(std::string(locale) + " case " + std::to_string(i));
            std::string text = print(der[i]);
            std::string want = std::string(locale) == "ko_KR-euc" ? cases[i].euc : cases[i].utf8;
            if (!want.empty()) EXPECT_EQ(text, want);
            else EXPECT_EQ(std::count(text.begin(), text.end(), '+'), 3);  // two joins and one escaped
            EXPECT_EQ(to_hex(encode(text).data(), encode(text).size()), to_hex(der[i].data(), der[i].size()));
        }
    }
}

}  // namespace
