// The certificate record and the extension formatters: a small EC certificate decoded and
// altered field by field, extensions built here and formatted, hostile prefixes, the hex,
// PEM and identifier helpers.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <stdlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "ostrel/asn_tree.hpp"
#include "ostrel/test_support.hpp"
#include "suite_codec.h"
#include "suite_csp.h"
#include "suite_pkc.h"

namespace {

using Bytes = std::vector<unsigned char>;
using ostrel::test::to_hex;

// Self-signed P-256 CA: serial 00a1b2c3d4e5f60718, basic constraints CA pathlen 1, key usage
// keyCertSign+cRLSign, subject key identifier.
constexpr const char *kCertB64 =
    "MIIBqjCCAVCgAwIBAgIJAKGyw9Tl9gcYMAoGCCqGSM49BAMCMDcxCzAJBgNVBAYTAktSMRQwEgYDVQQKDAtPc3RyZWwgVGVzdDES"
    "MBAGA1UEAwwJVW5pdCBSb290MB4XDTI2MTIwODIxNTYwM1oXDTM2MTIwNTIxNTYwM1owNzELMAkGA1UEBhMCS1IxFDASBgNVBAoM"
    "C09zdHJlbCBUZXN0MRIwEAYDVQQDDAlVbml0IFJvb3QwWTATBgcqhkjOPQIBBggqhkjOPQMBBwNCAARhvTMqU3l9zjku+QDyqGOO"
    "W5XChJ9B+0K9YznlSYRYaiEUV6eOSKudzAe3SRtTQVSChFzeTt36Tqgr+Fd1YqGFo0UwQzASBgNVHRMBAf8ECDAGAQH/AgEBMA4G"
    "A1UdDwEB/wQEAwIBBjAdBgNVHQ4EFgQURJC+m59gqXphG53NKqP6tByuFQUwCgYIKoZIzj0EAwIDSAAwRQIhAPM///pVUvhX90QP"
    "DN79GaLdsBb9qN8smdbxi0/YBc8TAiBO8aVh3QX5mH2KUDPWY/1PW0PaSdb3bDbtDmZoTcg+JQ==";

Bytes cert_der() {
    BIN b{0, nullptr};
    EXPECT_EQ(QRT_Base64ToBin(kCertB64, &b), 0);
    Bytes out(b.value, b.value + b.length);
    QRT_BIN_Reset(&b);
    return out;
}

BIN view(const Bytes &b) { return BIN{static_cast<unsigned>(b.size()), const_cast<unsigned char *>(b.data())}; }

Bytes digest(const EVP_MD *md, const unsigned char *p, size_t n) {
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned len = 0;
    EVP_Digest(p, n, out.data(), &len, md, nullptr);
    out.resize(len);
    return out;
}

template <class T>
Bytes encode(const T &value, int pdu) {
    BIN b{0, nullptr};
    EXPECT_EQ(QRT_ASN_EncodePDU(&b, &value, pdu), 0);
    Bytes out(b.value, b.value + b.length);
    QRT_BIN_Reset(&b);
    return out;
}

// A one-extension list over encoded bytes the caller keeps.
struct OneExt {
    Extensions_ node{};
    OneExt(const ObjectID &oid, Bytes &value) {
        node.value.extnID = oid;
        node.value.extnValue = view(value);
    }
    Extensions list() { return &node; }
};

BIN text_bin(const char *s) { return BIN{static_cast<unsigned>(std::strlen(s)), (unsigned char *)s}; }


class CertInfoTest : public ::testing::Test {
  protected:
    Bytes der = cert_der();
    ostrel::AsnTree<Certificate> cert{Certificate_PDU};
    void SetUp() override {
        QRT_PKC_SetOption("locale", "ko_KR-UTF-8");
        BIN in = view(der);
        ASSERT_EQ(cert.decode(&in), 0);
    }
    void TearDown() override { QRT_PKC_SetOption("locale", "ko_KR-euc"); }
};

TEST_F(CertInfoTest, RecordOfAnEcCertificate) {
    CertInfoEx ex;
    ASSERT_EQ(QRT_ExtractCertInfoEx(0, nullptr, der.data(), static_cast<unsigned>(der.size()), 1, &ex), 0);
    const CertInfo &ci = ex.info;
    EXPECT_EQ(ci.nVersion, 3);
    EXPECT_EQ(ci.nSerial, 0u);  // nine content octets do not fit a number
    EXPECT_STREQ(ci.sSerial, "00a1b2c3d4e5f60718");
    EXPECT_STREQ(ci.sSignatureAlgDesc, "SHA256 + ECDSA");
    EXPECT_STREQ(ci.sSubjectKeyAlgDesc, "ECDSA");
    EXPECT_EQ(std::strlen(ci.sSubjectPublicKey), 130u);
    EXPECT_STREQ(ci.sBasicConstraints, "Subject Type=CA, Path Length Constraint=1");
    EXPECT_STREQ(ci.sKeyUsageDesc, "keyCertSign,cRLSign");
    EXPECT_EQ(ci.nKeyUsage, 0x0600u);
    EXPECT_STREQ(ci.sSubjectKeyID, "4490be9b9f60a97a611b9dcd2aa3fab41cae1505");
    EXPECT_STREQ(ci.sAuthorityKeyID, "");
    EXPECT_EQ(ci.sMSFP, to_hex(digest(EVP_sha1(), der.data(), der.size()).data(), 20));
    EXPECT_STREQ(ex.sRSAModulus, "");

    // The file form gives the same record.
    ostrel::test::TempDir dir;
    ostrel::test::write_file(dir / "c.der", std::string(der.begin(), der.end()));
    CertInfo fromFile;
    ASSERT_EQ(QRT_ExtractCertInfo(0, (dir / "c.der").c_str(), nullptr, 0, 0, &fromFile), 0);
    EXPECT_EQ(std::memcmp(&fromFile, &ci, sizeof ci), 0);
    EXPECT_NE(QRT_ExtractCertInfo(0, (dir / "missing.der").c_str(), nullptr, 0, 0, &fromFile), 0);
    EXPECT_EQ(QRT_ExtractCertInfo(0, nullptr, nullptr, 0, 1, &fromFile), QRT_PKC_INVALID_INPUT);

    // Key information: the EC key with its named curve as parameters.
    int pkey = 0;
    BIN key{0, nullptr}, param{0, nullptr};
    ASSERT_EQ(QRT_PKC_GetPubKeyInfo(&pkey, &key, &param, &cert->tbsCertificate), 0);
    EXPECT_EQ(pkey, QRT_CSP_PKEY_ECDSA);
    EXPECT_EQ(key.length, 65u);
    EXPECT_EQ(to_hex(param.value, param.length), "06082a8648ce3d030107");
    QRT_BIN_Reset(&key);
    QRT_BIN_Reset(&param);

    // The thumbprint without the signature is over the signed bytes as received.
    BIN tp{0, nullptr};
    ASSERT_EQ(QRT_PKC_GetCertThumbPrintExcludeSig(&tp, cert.get(), QRT_CSP_HASH_SHA256), 0);
    const Any &tbs = cert->tbsCertificate_encoded;
    EXPECT_EQ(Bytes(tp.value, tp.value + tp.length), digest(EVP_sha256(), tbs.value, tbs.length));
    QRT_BIN_Reset(&tp);
}

// Version, unknown algorithm, time text and a missing key, on the decoded tree altered field by field.
TEST_F(CertInfoTest, EdgeCasesOfTheBasicFields) {
    CertInfo ci;
    TBSCertificate &tbs = cert->tbsCertificate;

    tbs.bit_mask &= static_cast<unsigned char>(~TBSCertificate_version_present);
    ASSERT_EQ(QRT_ExtractCertInfoNoExt(0, cert.get(), &ci), 0);
    EXPECT_EQ(ci.nVersion, 1);
    tbs.bit_mask |= TBSCertificate_version_present;

    // An identifier of no algorithm shows in dotted form.
    ObjectID saved = cert->signatureAlgorithm.algorithm;
    unsigned char unknown[] = {0x2a, 0x03, 0x04};  // 1.2.3.4
    cert->signatureAlgorithm.algorithm = ObjectID{3, unknown};
    ASSERT_EQ(QRT_ExtractCertInfoNoExt(0, cert.get(), &ci), 0);
    EXPECT_STREQ(ci.sSignatureAlgDesc, "1.2.3.4");
    cert->signatureAlgorithm.algorithm = saved;

    struct Case {
        short yy, mo, dd, hh, mi, ss;
        const char *tz;
        const char *text;
    } cases[] = {
        {49, 12, 31, 23, 59, 59, "UTC", "2049-12-31 23:59:59"},
        {49, 12, 31, 23, 59, 59, "Asia/Seoul", "2049-12-31 23:59:59"},
        {49, 12, 31, 23, 59, 59, "America/New_York", "2049-12-31 23:59:59"},
        {37, 1, 1, 0, 0, 0, "Asia/Seoul", "2037-01-01 09:00:00"},  // before 2038: local time
        {37, 1, 1, 0, 0, 0, "UTC", "2037-01-01 00:00:00"},
        {65, 6, 1, 12, 0, 0, "UTC", "1965-06-01 12:00:00"},  // 50-99 are 19yy
        {50, 1, 1, 0, 0, 0, "Asia/Seoul", "1950-01-01 00:00:00"},
    };
    GeneralizedTime keep = tbs.validity.notAfter.u.utcTime;
    ASSERT_EQ(tbs.validity.notAfter.choice, Time_utcTime_chosen);
    for (const Case &c : cases) {
        ostrel::test::ScopedTZ tz(c.tz);
        GeneralizedTime &t = tbs.validity.notAfter.u.utcTime;
        t.year = c.yy, t.month = c.mo, t.day = c.dd, t.hour = c.hh, t.minute = c.mi, t.second = c.ss;
        ASSERT_EQ(QRT_ExtractCertInfoNoExt(0, cert.get(), &ci), 0);
        EXPECT_STREQ(ci.sTo, c.text) << c.yy << " in " << c.tz;
        char small[11];
        ASSERT_EQ(QRT_PKC_AsnTime_ToString(small, sizeof small, &tbs.validity.notAfter), 0);
        EXPECT_EQ(std::string(small), std::string(c.text).substr(0, 10));
    }
    tbs.validity.notAfter.u.utcTime = keep;

    // A key without bits is refused.
    BitString &key = tbs.subjectPublicKeyInfo.subjectPublicKey;
    BitString k = key;
    key.length = 0;
    EXPECT_EQ(QRT_ExtractCertInfoNoExt(0, cert.get(), &ci), QRT_PKC_NO_PUBLIC_KEY);
    key = k;
}

TEST_F(CertInfoTest, EveryPrefixFailsWithACode) {
    CertInfoEx ex;
    for (size_t n = 0; n < der.size(); ++n) {
        EXPECT_NE(QRT_ExtractCertInfoEx(0, nullptr, der.data(), static_cast<unsigned>(n), 1, &ex), 0) << n;
        EXPECT_NE(QRT_ExtractCertInfo(0, nullptr, der.data(), static_cast<unsigned>(n), 1, &ex.info), 0) << n;
    }
    ostrel::test::trace_records();
}

TEST(CertInfoFormatters, KeyUsageWordsAndBits) {
    struct Case {
        unsigned short bits;
        const char *text;
    } cases[] = {
        {KeyUsage_digitalSignature | KeyUsage_keyEncipherment, "digitalSignature,keyEncipherment"},
        {KeyUsage_digitalSignature | KeyUsage_keyAgreement | KeyUsage_decipherOnly,
         "digitalSignature,keyAgreement,decipherOnly"},
        {0xff80,
         "digitalSignature,nonRepudiation,keyEncipherment,dataEncipherment,keyAgreement,keyCertSign,"
         "cRLSign,encipherOnly,decipherOnly"},
    };
    for (const Case &c : cases) {
        KeyUsage ku = c.bits;
        Bytes v = encode(ku, KeyUsage_PDU);
        OneExt e(id_ce_keyUsage, v);
        char out[200];
        unsigned bits = 0;
        ASSERT_EQ(QRT_GetKeyUsage(out, e.list(), &bits), 0);
        EXPECT_STREQ(out, c.text);
        EXPECT_EQ(bits, c.bits);
        char cut[8];
        ASSERT_EQ(QRT_PKC_KeyUsage_ToString(cut, sizeof cut, e.list(), nullptr), 0);
        EXPECT_EQ(std::string(cut), std::string(c.text).substr(0, 7));
    }
    Bytes junk{0x30, 0x03, 0x01};
    OneExt bad(id_ce_keyUsage, junk);
    char out[200];
    EXPECT_EQ(QRT_GetKeyUsage(out, bad.list(), nullptr), QRT_PKC_BAD_KEY_USAGE);
    EXPECT_EQ(QRT_GetKeyUsage(out, nullptr, nullptr), QRT_PKC_NO_EXTENSION);
    EXPECT_EQ(QRT_GetSubjectKeyId(out, nullptr), QRT_PKC_NO_EXTENSION);
    ostrel::test::trace_records();
}

// Every address is written as text: IPv6 per RFC 5952 (raw octets would put NULs into the field
// and hide the names after them), other lengths of 5 octets or more in hex.
TEST(CertInfoFormatters, AlternativeNamesWithAddresses) {
    struct Case {
        Bytes ip;
        const char *text;
    } cases[] = {
        {{192, 0, 2, 1}, "IP=192.0.2.1"},
        {{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, "IP=2001:db8::1"},
        {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, "IP=::1"},
        {Bytes(16, 0), "IP=::"},
        {{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1}, "IP=2001:db8:0:1:1:1:1:1"},
        {{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1}, "IP=2001:db8::1:0:0:1"},
        {{0x20, 0x01, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1}, "IP=2001:0:0:1::1"},
        {{0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0x02, 0x1a, 0x2b, 0xff, 0xfe, 0x3c, 0x4d, 0x5e}, "IP=fe80::21a:2bff:fe3c:4d5e"},
        {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 192, 0, 2, 1}, "IP=::ffff:192.0.2.1"},
        {{10, 0, 0, 0, 255, 0, 0, 0}, "IP=0a000000ff000000"},
        {{1, 2, 3}, ""},
    };
    for (const Case &c : cases) {
        GeneralName n{};
        n.choice = GeneralName_iPAddress_chosen;
        n.u.iPAddress = view(c.ip);
        char out[64];
        ASSERT_EQ(QRT_PKC_AsnGenName_ToString(out, sizeof out, &n), 0);
        EXPECT_STREQ(out, c.text);
    }

    // Names after an IPv6 address survive; writing stops near the capacity.
    Bytes v6 = cases[1].ip;
    GeneralNames_ dns{nullptr, {}}, ip6{&dns, {}}, mail{&ip6, {}};
    mail.value.choice = GeneralName_rfc822Name_chosen;
    static const char withNul[] = "a@example.com\0hidden";  // a NUL inside a name ends that name only
    mail.value.u.rfc822Name = BIN{sizeof withNul - 1, (unsigned char *)withNul};
    ip6.value.choice = GeneralName_iPAddress_chosen;
    ip6.value.u.iPAddress = view(v6);
    dns.value.choice = GeneralName_dNSName_chosen;
    dns.value.u.dNSName = text_bin("www.example.com");
    GeneralNames head = &mail;
    Bytes san = encode(head, SubjectAltName_PDU);
    OneExt e(id_ce_subjectAltName, san);
    char out[1024];
    ASSERT_EQ(QRT_GetAltName(out, e.list(), 0, nullptr, nullptr), 0);
    EXPECT_STREQ(out, "RN=a@example.com\nIP=2001:db8::1\nDNS=www.example.com");
    char small[20];
    ASSERT_EQ(QRT_PKC_AltName_ToString(small, sizeof small, e.list(), 0, nullptr, nullptr), 0);
    EXPECT_STREQ(small, "RN=a@example.com\nIP");
    EXPECT_EQ(QRT_GetAltName(out, e.list(), 1, nullptr, nullptr), QRT_PKC_NO_EXTENSION);
    ostrel::test::trace_records();
}

// The identity-data otherName fills the VID fields; a hash the table does not know fails.
TEST(CertInfoFormatters, IdentityVerificationValue) {
    struct Case {
        const ObjectID *hash;
        int rc;
        const char *name;
    } cases[] = {{&sha_256, 0, "SHA256"}, {&hash160, 0, "HAS160"}, {&id_ecPublicKey, QRT_PKC_UNKNOWN_HASHID, ""}};
    for (const Case &c : cases) {
        Bytes vidBytes(32, 0xAB);
        IdentifyData_userInfo_ info{nullptr, {id_VID, {{0, *c.hash, {}}, view(vidBytes)}}};
        IdentifyData data{text_bin("Hong Gildong"), &info};
        Bytes idd = encode(data, IdentifyData_PDU);
        GeneralNames_ dns{nullptr, {}}, other{&dns, {}};
        other.value.choice = GeneralName_otherName_chosen;
        other.value.u.otherName = AnotherName{id_kisa_identifyData, view(idd)};
        dns.value.choice = GeneralName_dNSName_chosen;
        dns.value.u.dNSName = text_bin("vid.example");
        GeneralNames head = &other;
        Bytes san = encode(head, SubjectAltName_PDU);
        OneExt e(id_ce_subjectAltName, san);
        char out[1024], alg[50] = "", vid[65] = "";
        ASSERT_EQ(QRT_GetAltName(out, e.list(), 0, alg, vid), c.rc);
        if (c.rc) continue;
        EXPECT_EQ(std::string(out), "ON=VID=" + to_hex(idd.data(), idd.size()) + "\nDNS=vid.example");
        EXPECT_STREQ(alg, c.name);
        EXPECT_EQ(std::string(vid), to_hex(vidBytes.data(), 32));
    }
    ostrel::test::trace_records();
}

// A user notice is read in each of the four DisplayText choices; the CPS URI beside it.
TEST(CertInfoFormatters, PolicyNoticesInEveryDisplayText) {
    QRT_PKC_SetOption("locale", "ko_KR-UTF-8");
    const unsigned char bmp[] = {0x00, 'H', 0x00, 'i', 0xd5, 0x5c};  // "Hi" and U+D55C
    struct Case {
        unsigned short choice;
        BIN text;
        const char *expect;
    } cases[] = {
        {DisplayText_ia5String_chosen, text_bin("ia5 notice"), "ia5 notice"},
        {DisplayText_visibleString_chosen, text_bin("visible notice"), "visible notice"},
        {DisplayText_bmpString_chosen, BIN{sizeof bmp, const_cast<unsigned char *>(bmp)}, "Hi\xed\x95\x9c"},
        {DisplayText_utf8String_chosen, text_bin("utf8 \xed\x95\x9c"), "utf8 \xed\x95\x9c"},
    };
    for (const Case &c : cases) {
        UserNotice un{};
        un.bit_mask = UserNotice_explicitText_present;
        un.explicitText.choice = c.choice;
        un.explicitText.u.ia5String = c.text;
        Bytes notice = encode(un, UserNotice_PDU);
        BIN uri = text_bin("http://cps.example/");
        Bytes cps = encode(uri, CPSuri_PDU);
        PolicyInformation_policyQualifiers_ q2{nullptr, {id_qt_unotice, view(notice)}};
        PolicyInformation_policyQualifiers_ q1{&q2, {id_qt_cps, view(cps)}};
        unsigned char p2oid[] = {0x2a, 0x03, 0x05};
        unsigned char p1oid[] = {0x2a, 0x03, 0x04};
        CertificatePolicies_ p2{nullptr, {0, ObjectID{3, p2oid}, nullptr}};
        CertificatePolicies_ p1{&p2, {PolicyInformation_policyQualifiers_present, ObjectID{3, p1oid}, &q1}};
        CertificatePolicies head = &p1;
        Bytes v = encode(head, CertificatePolicies_PDU);
        OneExt e(id_ce_certificatePolicies, v);
        char ids[1024], cpsText[201], noticeText[201];
        int count = 0;
        ASSERT_EQ(QRT_GetPolicy(ids, e.list(), &count, cpsText, noticeText), 0);
        EXPECT_EQ(count, 2);
        EXPECT_STREQ(ids, "1.2.3.4\n1.2.3.5");
        EXPECT_STREQ(cpsText, "http://cps.example/");
        EXPECT_STREQ(noticeText, c.expect) << c.choice;
    }
    QRT_PKC_SetOption("locale", "ko_KR-euc");
}

TEST(CertInfoHelpers, HexIsCutToTheCapacity) {
    Bytes forty(40);
    for (size_t i = 0; i < forty.size(); ++i) forty[i] = static_cast<unsigned char>(0xA0 + i);
    BIN in = view(forty);
    char out[81];
    struct Case {
        int capacity;
        int rc;
        size_t length;
    } cases[] = {{65, 0, 64}, {81, 0, 80}, {4, 0, 2}, {3, 0, 2}, {2, QRT_PKC_INVALID_INPUT, 0}};
    for (const Case &c : cases) {
        int cap = c.capacity;
        std::memset(out, 'x', sizeof out);
        ASSERT_EQ(QRT_PKC_BIN_ToHex(out, &cap, &in), c.rc) << c.capacity;
        if (c.rc) continue;
        EXPECT_EQ(std::strlen(out), c.length);
        EXPECT_EQ(std::string(out), to_hex(forty.data(), 40).substr(0, c.length));
    }
    int cap = 65;
    BIN empty{0, nullptr};
    ASSERT_EQ(QRT_PKC_BIN_ToHex(out, &cap, &empty), 0);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(QRT_PKC_BIN_ToHex(out, &cap, nullptr), QRT_PKC_INVALID_INPUT);
}

TEST(CertInfoHelpers, PemArmour) {
    Bytes der = cert_der();
    std::string pem = "-----BEGIN CERTIFICATE-----\r\n";
    std::string b64 = kCertB64;
    for (size_t i = 0; i < b64.size(); i += 64) pem += b64.substr(i, 64) + "\r\n";
    pem += "-----END CERTIFICATE-----\r\n";
    BIN in = text_bin(pem.c_str()), out{0, nullptr};
    EXPECT_EQ(QRT_PKC_IsPEM(&in), 1);
    ASSERT_EQ(QRT_PKC_DecodePEM(&out, &in), 0);
    EXPECT_EQ(Bytes(out.value, out.value + out.length), der);
    QRT_BIN_Reset(&out);

    BIN derIn = view(der), shortPem = text_bin("-----BEGI");
    EXPECT_EQ(QRT_PKC_IsPEM(&derIn), 0);
    EXPECT_EQ(QRT_PKC_IsPEM(&shortPem), 0);
    std::string unterminated = pem.substr(0, pem.find("-----END"));
    BIN cut = text_bin(unterminated.c_str());
    EXPECT_NE(QRT_PKC_DecodePEM(&out, &cut), 0);
    EXPECT_EQ(out.value, nullptr);
}

// The maps read one table both ways: the long-standing ids and today's algorithms.
TEST(CertInfoHelpers, IdentifierMapsBothWays) {
    struct Sig {
        const ObjectID *oid;
        int sign, pkey, hash;
        bool back;  // the id maps back to this identifier
    } sigs[] = {
        {&md2WithRSAEncryption, 1, 1, 1, true},    {&md5WithRSAEncryption, 2, 1, 2, true},
        {&sha1WithRSAEncryption, 3, 1, 3, true},   {&sha256WithRSAEncryption, 4, 1, 6, true},
        {&sha384WithRSAEncryption, 5, 1, 7, true}, {&sha512WithRSAEncryption, 6, 1, 8, true},
        {&sha224WithRSAEncryption, 7, 1, 9, true}, {&id_dsa_with_sha1, 15, 3, 3, true},
        {&kcdsa1WithSHA1, 21, 11, 3, true},        {&kcdsaWithSHA1, 21, 11, 3, false},
        {&kcdsa1WithHAS160, 22, 11, 4, true},      {&kcdsaWithHAS160, 22, 11, 4, false},
        {&kcdsa1WithSHA256, 27, 11, 6, true},      {&kcdsaWithSHA256, 27, 11, 6, false},
        {&ecdsa_with_SHA256, 16, 5, -1, false},    {&eckcdsaWithSHA256, 36, 12, 6, true},
        {&id_RSASSA_PSS, 11, 1, -1, true},
    };
    for (const Sig &s : sigs) {
        EXPECT_EQ(QRT_PKC_ObjID_To_SignID(s.oid), s.sign);
        EXPECT_EQ(QRT_PKC_SignID_To_PkeyID(s.sign), s.pkey);
        EXPECT_EQ(QRT_PKC_SignID_To_HashID(s.sign), s.hash) << s.sign;
        if (s.back) {
            EXPECT_EQ(QRT_PKC_SignID_To_ObjID(s.sign), s.oid) << s.sign;
        }
    }
    struct Key {
        const ObjectID *oid;
        int pkey;
    } keys[] = {{&rsaEncryption, 1}, {&dhpublicnumber, 2}, {&id_dsa, 3},
                {&kcdsa1, 11},       {&id_RSASSA_PSS, 13}, {&id_ecPublicKey, 5}};
    for (const Key &k : keys) {
        EXPECT_EQ(QRT_PKC_ObjID_To_PkeyID(k.oid), k.pkey);
        EXPECT_EQ(QRT_PKC_PkeyID_To_ObjID(k.pkey), k.oid);
    }
    EXPECT_EQ(QRT_PKC_ObjID_To_PkeyID(&kcdsa), 11);
    const ObjectID *hashes[] = {&md2, &md5, &sha_1, &hash160, nullptr, &sha_256, &sha_384, &sha_512, &sha_224};
    for (int id = 1; id <= 9; ++id) {
        EXPECT_EQ(QRT_PKC_HashID_To_ObjID(id), hashes[id - 1]) << id;
        if (hashes[id - 1]) {
            EXPECT_EQ(QRT_PKC_ObjID_To_HashID(hashes[id - 1]), id);
        }
    }
    EXPECT_EQ(QRT_PKC_ObjID_To_SignID(&rsaEncryption), -1);
    EXPECT_EQ(QRT_PKC_ObjID_To_SignID(nullptr), -1);
    EXPECT_EQ(QRT_PKC_SignID_To_ObjID(99), nullptr);
    EXPECT_EQ(QRT_PKC_SignID_To_ObjID(16), nullptr);
}

}  // namespace
