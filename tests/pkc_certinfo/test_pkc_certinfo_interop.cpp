// The certificate record against other readers: every root of the system store field by field
// against python `cryptography` and the openssl fingerprint, and certificates the openssl
// command line makes with every formatted extension against their exact text.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "ostrel/asn_tree.hpp"
#include "ostrel/test_support.hpp"
#include "suite_pkc.h"

namespace {

using ostrel::test::read_file;
using ostrel::test::run;
using ostrel::test::TempDir;
using ostrel::test::write_file;

constexpr const char *kRoots = "/usr/share/ca-certificates/mozilla";
const std::string kScript = std::string(OSTREL_SOURCE_DIR) + "/tests/pkc_certinfo/expected_fields.py";

// Options and time zone of one test, restored afterwards.
class Settings {
  public:
    Settings(const char *locale, const char *dncase) {
        QRT_PKC_SetOption("locale", locale);
        QRT_PKC_SetOption("dncase", dncase);
        setenv("TZ", "UTC", 1);
        tzset();
    }
    ~Settings() {
        QRT_PKC_SetOption("locale", "ko_KR-euc");
        QRT_PKC_SetOption("dncase", "lower");
        unsetenv("TZ");
        tzset();
    }
};

std::string der_of(const std::string &file) {
    std::string text = read_file(file);
    BIN pem{static_cast<unsigned>(text.size()), reinterpret_cast<unsigned char *>(text.data())}, der{0, nullptr};
    if (!QRT_PKC_IsPEM(&pem)) return text;
    if (QRT_PKC_DecodePEM(&der, &pem) != 0) return {};
    std::string out(reinterpret_cast<char *>(der.value), der.length);
    QRT_BIN_Reset(&der);
    return out;
}

std::string lower_hex(std::string s) {
    std::string out;
    for (char c : s)
        if (std::isxdigit(static_cast<unsigned char>(c))) out += static_cast<char>(std::tolower(c));
    return out;
}

// The name text of the distinguished-name module, cut to a record field.
std::string name_text(const Name &name) {
    char *text = nullptr;
    std::string s;
    if (QRT_ExtractRDN(0, &name, &text) == 0 && text) s = text;
    QRT_free(text);
    return s.substr(0, 1023);
}

struct Decoded {
    ostrel::AsnTree<Certificate> tree{Certificate_PDU};
    explicit Decoded(const std::string &der) {
        BIN in{static_cast<unsigned>(der.size()), reinterpret_cast<unsigned char *>(const_cast<char *>(der.data()))};
        tree.decode(&in);
    }
};

TEST(PkcCertInfoInterop, SystemRootsMatchPythonAndOpenssl) {
    std::vector<std::string> files;
    std::error_code ec;
    for (auto &e : std::filesystem::directory_iterator(kRoots, ec))
        if (e.path().extension() == ".crt") files.push_back(e.path().string());
    if (files.empty()) GTEST_SKIP() << "no system roots in " << kRoots;
    if (run("python3 -c 'import cryptography' 2>/dev/null") != 0) GTEST_SKIP() << "python3 cryptography missing";
    if (!ostrel::test::have_command("openssl")) GTEST_SKIP() << "no openssl command";
    Settings settings("ko_KR-UTF-8", "upper");

    std::string out;
    ASSERT_EQ(run("python3 " + kScript + " " + kRoots + "/*.crt", &out), 0);
    std::map<std::string, std::map<std::string, std::string>> expected;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        size_t a = line.find('\t'), b = line.find('\t', a + 1);
        if (a != std::string::npos && b != std::string::npos)
            expected[line.substr(0, a)][line.substr(a + 1, b - a - 1)] = line.substr(b + 1);
    }
    ASSERT_EQ(run(std::string("for f in ") + kRoots +
                      "/*.crt; do printf '%s\\t' \"$f\"; openssl x509 -in \"$f\" -noout -fingerprint -sha1; done",
                  &out),
              0);
    std::map<std::string, std::string> fingerprints;
    std::istringstream fps(out);
    for (std::string line; std::getline(fps, line);) {
        size_t tab = line.find('\t'), eq = line.find('=', tab);
        if (tab != std::string::npos && eq != std::string::npos)
            fingerprints[line.substr(0, tab)] = lower_hex(line.substr(eq + 1));
    }

    int compared = 0, cutKeys = 0;
    for (const std::string &f : files) {
        SCOPED_TRACE(f);
        auto &e = expected[f];
        if (e.count("error") || !e.count("serial")) continue;
        std::string der = der_of(f);
        ASSERT_FALSE(der.empty());
        CertInfoEx ex;
        ASSERT_EQ(QRT_ExtractCertInfoEx(0, nullptr, reinterpret_cast<const unsigned char *>(der.data()),
                                        static_cast<unsigned>(der.size()), 1, &ex),
                  0);
        const CertInfo &ci = ex.info;
        EXPECT_EQ(ci.sMSFP, fingerprints[f]);
        EXPECT_EQ(std::to_string(ci.nVersion), e["version"]);
        EXPECT_EQ(ci.sSerial, e["serial"].substr(0, 40));
        EXPECT_EQ(ci.sSignatureAlgDesc, e["sigalg"]);
        EXPECT_EQ(ci.sSubjectKeyAlgDesc, e["keyalg"]);
        EXPECT_EQ(ci.sSubjectPublicKey, e["pubkey"]);
        EXPECT_EQ(ci.sSignature, e["signature"]);
        EXPECT_EQ(std::to_string(ci.nKeyUsage), e["kubits"]);
        EXPECT_EQ(ci.sKeyUsageDesc, e["kuwords"]);
        EXPECT_EQ(ci.sBasicConstraints, e["bc"]);
        EXPECT_EQ(ci.sSubjectKeyID, e["ski"]);
        EXPECT_EQ(ci.sAuthorityKeyID, e["aki"]);
        EXPECT_EQ(ci.sFrom, e["from"]);
        EXPECT_EQ(ci.sTo, e["to"]);
        if (e.count("modulus")) {
            EXPECT_EQ(ex.sRSAModulus, e["modulus"]);
            EXPECT_EQ(ex.sRSAExponent, e["exponent"]);
        }
        EXPECT_GT(ci.nPubKeyLen, 0);
        Decoded d(der);
        ASSERT_TRUE(d.tree);
        EXPECT_EQ(ci.sSubjectRDN, name_text(d.tree->tbsCertificate.subject));
        EXPECT_EQ(ci.sIssuerRDN, name_text(d.tree->tbsCertificate.issuer));
        EXPECT_GT(std::strlen(ci.sSubjectRDN), 0u);
        cutKeys += std::strlen(ci.sSubjectPublicKey) == 1023;
        ++compared;
    }
    EXPECT_GT(compared, 100);
    EXPECT_GT(cutKeys, 0);  // 4096-bit keys: hex longer than the field
}

TEST(PkcCertInfoInterop, EveryPrefixOfARootFails) {
    std::string der;
    std::error_code ec;
    for (auto &e : std::filesystem::directory_iterator(kRoots, ec))
        if (e.path().extension() == ".crt" && (der = der_of(e.path().string())).size() > 1000) break;
    if (der.empty()) GTEST_SKIP() << "no system roots";
    CertInfoEx ex;
    for (size_t n = 0; n < der.size(); ++n)
        ASSERT_NE(QRT_ExtractCertInfoEx(0, nullptr, reinterpret_cast<const unsigned char *>(der.data()),
                                        static_cast<unsigned>(n), 1, &ex),
                  0)
            << n;
    ostrel::test::trace_records();
}

class OpensslPki : public ::testing::Test {
  protected:
    TempDir dir;
    int openssl(const std::string &args) { return run("cd " + dir.path() + " && openssl " + args + " 2>>log.txt"); }
    void SetUp() override {
        if (!ostrel::test::have_command("openssl")) GTEST_SKIP() << "no openssl command";
        ASSERT_EQ(
            openssl("req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -subj '/C=KR/O=Ostrel/CN=Test CA'"
                    " -days 3650 -set_serial 0x7fedcba987654321 -addext basicConstraints=critical,CA:TRUE"
                    " -addext keyUsage=keyCertSign,cRLSign -addext subjectKeyIdentifier=hash"),
            0)
            << read_file(dir / "log.txt");
    }
    // Issues an end entity for the key options with the extension file; the DER certificate.
    std::string issue(const std::string &keyopts, const std::string &signopts, const std::string &ext) {
        write_file(dir / "ee.ext", ext);
        EXPECT_EQ(
            openssl("req -new " + keyopts + " -nodes -keyout ee.key -out ee.csr -subj '/C=KR/O=Ostrel/CN=ee.example'"),
            0)
            << read_file(dir / "log.txt");
        EXPECT_EQ(openssl("x509 -req -in ee.csr -CA ca.pem -CAkey ca.key -set_serial 0x1234 -days 365 " + signopts +
                          " -extfile ee.ext -outform DER -out ee.der"),
                  0)
            << read_file(dir / "log.txt");
        return read_file(dir / "ee.der");
    }
    std::string ski(const std::string &pem) {
        std::string out;
        run("cd " + dir.path() + " && openssl x509 -in " + pem + " -noout -ext subjectKeyIdentifier | tail -1", &out);
        return lower_hex(out);
    }
};

TEST_F(OpensslPki, EveryFormattedExtensionGivesItsText) {
    std::string der = issue("-newkey ec -pkeyopt ec_paramgen_curve:P-256", "-sha256",
                            "basicConstraints=CA:FALSE\n"
                            "keyUsage=critical,digitalSignature,keyAgreement,decipherOnly\n"
                            "extendedKeyUsage=serverAuth,clientAuth,codeSigning,emailProtection,timeStamping\n"
                            "subjectAltName=DNS:ee.example,IP:192.0.2.7,IP:2001:db8::7,email:ee@example.com,"
                            "URI:https://ee.example/,DNS:after.example\n"
                            "authorityInfoAccess=OCSP;URI:http://ocsp.example/,caIssuers;URI:http://ca.example/ca.der\n"
                            "crlDistributionPoints=URI:http://crl.example/a.crl,URI:http://crl.example/b.crl\n"
                            "certificatePolicies=1.2.3.4.5,@pol\n"
                            "nsCertType=client,server,email\n"
                            "nsComment=ostrel comment\n"
                            "subjectKeyIdentifier=hash\n"
                            "authorityKeyIdentifier=keyid,issuer:always\n"
                            "[pol]\npolicyIdentifier=1.3.6.1.4.1.99999.1\nCPS.1=http://cps.example/cps\n"
                            "userNotice.1=@notice\n[notice]\nexplicitText=UTF8:Ostrel notice\n");
    ASSERT_FALSE(der.empty());
    openssl("x509 -inform DER -in ee.der -out ee.pem");
    CertInfoEx ex;
    ASSERT_EQ(QRT_ExtractCertInfoEx(0, (dir / "ee.der").c_str(), nullptr, 0, 0, &ex), 0);
    const CertInfo &ci = ex.info;
    EXPECT_EQ(ci.nVersion, 3);
    EXPECT_EQ(ci.nSerial, 0x1234u);
    EXPECT_STREQ(ci.sSerial, "1234");
    EXPECT_STREQ(ci.sSignatureAlgDesc, "SHA256 + RSA");
    EXPECT_STREQ(ci.sSubjectKeyAlgDesc, "ECDSA");
    EXPECT_STREQ(ci.sKeyUsageDesc, "digitalSignature,keyAgreement,decipherOnly");
    EXPECT_EQ(ci.nKeyUsage, 0x8880u);
    EXPECT_STREQ(ci.sExtendedKeyUsage,
                 "id-kp-serverAuth,id-kp-clientAuth,id-kp-codeSigning,id-kp-emailProtection,id-kp-timeStamping");
    EXPECT_STREQ(ci.sSubjectAltName,
                 "DNS=ee.example\nIP=192.0.2.7\nIP=2001:db8::7\nRN=ee@example.com\nURL=https://ee.example/\n"
                 "DNS=after.example");
    EXPECT_STREQ(ci.sAIAs, "OCSP:URL=http://ocsp.example/\nCA:URL=http://ca.example/ca.der");
    EXPECT_STREQ(ci.sCrlDistributionPoints, "URL=http://crl.example/a.crl\nURL=http://crl.example/b.crl");
    EXPECT_EQ(ci.nPolicyNum, 2);
    EXPECT_STREQ(ci.sPolicyID, "1.2.3.4.5\n1.3.6.1.4.1.99999.1");
    EXPECT_STREQ(ci.sCPSURI, "http://cps.example/cps");
    EXPECT_STREQ(ci.sUserNotice, "Ostrel notice");
    EXPECT_STREQ(ci.sNetscapeUsageDesc, "sslClient,sslServer,NetscapeCertType_smime");
    EXPECT_STREQ(ci.sBasicConstraints, "Subject Type=End Entity");
    EXPECT_EQ(ci.sSubjectKeyID, ski("ee.pem"));
    EXPECT_EQ(ci.sAuthorityKeyID, ski("ca.pem"));
    EXPECT_EQ(std::strlen(ci.sSubjectKeyID), 40u);
    EXPECT_STREQ(ex.sNetscapeComment, "ostrel comment");
    EXPECT_STREQ(ex.sAuthorityCertSerial, "7fedcba987654321");
    EXPECT_EQ(ex.nAuthorityCertSerial, 0u);
    EXPECT_STREQ(ex.sRSAModulus, "");
    Decoded d(der);
    ASSERT_TRUE(d.tree);
    EXPECT_EQ(ci.sIssuerRDN, name_text(d.tree->tbsCertificate.issuer));
    EXPECT_EQ(ci.sSubjectRDN, name_text(d.tree->tbsCertificate.subject));
    EXPECT_NE(std::string(ci.sSubjectRDN).find("ee.example"), std::string::npos);
}

// Distribution points with reasons and a CRL issuer, and names relative to the CRL issuer.
TEST_F(OpensslPki, DistributionPointsWithReasonsAndIssuers) {
    std::string der = issue("-newkey ec -pkeyopt ec_paramgen_curve:P-256", "-sha256",
                            "crlDistributionPoints=dp1,dp2\n"
                            "[dp1]\nfullname=URI:http://crl.example/a.crl\nreasons=keyCompromise,CACompromise\n"
                            "CRLissuer=URI:http://issuer.example/\n"
                            "[dp2]\nrelativename=rdn2\n[rdn2]\nCN=Partition 2\n");
    ASSERT_FALSE(der.empty());
    CertInfo ci;
    ASSERT_EQ(QRT_ExtractCertInfo(0, (dir / "ee.der").c_str(), nullptr, 0, 0, &ci), 0);
    EXPECT_STREQ(ci.sCrlDistributionPoints,
                 "URL=http://crl.example/a.crlreasonkeyCompromise|cACompromise|\n\nURL=http://issuer.example/\n"
                 "cn=Partition 2");
}

// Algorithms of today: their names, and key information for each key type.
TEST_F(OpensslPki, SignatureAndKeyAlgorithmNames) {
    struct Case {
        const char *keyopts, *signopts, *sig, *key;
        int pkey;
    } cases[] = {
        {"-newkey rsa:2048", "-sha224", "SHA224 + RSA", "RSA", 1},
        {"-newkey rsa:2048", "-sha512", "SHA512 + RSA", "RSA", 1},
        {"-newkey rsa:2048", "-sha256 -sigopt rsa_padding_mode:pss -sigopt rsa_pss_saltlen:32", "SHA256 + RSASSA-PSS",
         "RSA", 1},
        {"-newkey rsa-pss -pkeyopt rsa_keygen_bits:2048", "-sha384", "SHA384 + RSA", "RSASSA-PSS", 13},
        {"-newkey ec -pkeyopt ec_paramgen_curve:P-384", "-sha1", "SHA1 + RSA", "ECDSA", 5},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.sig);
        std::string der = issue(c.keyopts, c.signopts, "basicConstraints=CA:FALSE\n");
        ASSERT_FALSE(der.empty());
        CertInfoEx ex;
        ASSERT_EQ(QRT_ExtractCertInfoEx(0, nullptr, reinterpret_cast<const unsigned char *>(der.data()),
                                        static_cast<unsigned>(der.size()), 1, &ex),
                  0);
        EXPECT_STREQ(ex.info.sSignatureAlgDesc, c.sig);
        EXPECT_STREQ(ex.info.sSubjectKeyAlgDesc, c.key);
        EXPECT_EQ(std::strlen(ex.sRSAModulus) > 0, c.pkey != 5);
        Decoded d(der);
        ASSERT_TRUE(d.tree);
        int pkey = 0;
        BIN key{0, nullptr}, param{0, nullptr};
        ASSERT_EQ(QRT_PKC_GetPubKeyInfo(&pkey, &key, &param, &d.tree->tbsCertificate), 0);
        EXPECT_EQ(pkey, c.pkey);
        EXPECT_GT(key.length, 0u);
        if (c.pkey == 5) {
            EXPECT_EQ(ostrel::test::to_hex(param.value, param.length), "06052b81040022");  // P-384
        } else if (c.pkey == 1) {
            EXPECT_EQ(param.length, 0u);  // the NULL parameters of rsaEncryption
        }
        QRT_BIN_Reset(&key);
        QRT_BIN_Reset(&param);
    }
    // The self-signed CA: the ECDSA signature of an EC CA names its hash.
    ASSERT_EQ(openssl("req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout ec.key -out ec.der"
                      " -outform DER -subj /CN=EC -days 30 -sha384"),
              0);
    CertInfo ci;
    ASSERT_EQ(QRT_ExtractCertInfo(0, (dir / "ec.der").c_str(), nullptr, 0, 0, &ci), 0);
    EXPECT_STREQ(ci.sSignatureAlgDesc, "SHA384 + ECDSA");
}

}  // namespace
