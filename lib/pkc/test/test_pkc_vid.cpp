// The identity verification value: computed as an independent hash of a hand-built HashContent
// gives it, checked in constant time, read back from a certificate openssl made, and written
// into a subjectAltName whose real name the test reads in UTF-8 (from EUC-KR and from Shift_JIS
// half-width katakana, three UTF-8 bytes each); small capacities and hostile values.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "ostrel/asn_tree.hpp"
#include "ostrel/reader.hpp"
#include "ostrel/test_support.hpp"
#include "ostrel/tlv.hpp"
#include "suite_csp.h"
#include "suite_pkc.h"

namespace {

using Bytes = std::vector<unsigned char>;
using ostrel::test::from_hex;
using ostrel::test::OutBin;
using ostrel::test::read_file;
using ostrel::test::run;
using ostrel::test::TempDir;
using ostrel::test::to_hex;
using ostrel::test::trace_text;
using ostrel::test::write_file;

BIN view(const Bytes &b) { return BIN{static_cast<unsigned>(b.size()), const_cast<unsigned char *>(b.data())}; }

const char kIdn[] = "8001011234567";
const Bytes kRandom = from_hex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");

struct Locale {
    explicit Locale(const char *name) { EXPECT_EQ(QRT_PKC_SetOption("locale", name), 0); }
    ~Locale() { QRT_PKC_SetOption("locale", "ko_KR-euc"); }
};

// A subjectAltName value as the only extension of a list.
struct OneExtension {
    Extensions_ node{};
    explicit OneExtension(const BIN &value) {
        node.value.extnID = id_ce_subjectAltName;
        node.value.extnValue = value;
    }
    Extensions list() { return &node; }
};

TEST(PkcVid, MatchesAnIndependentDoubleHash) {
    TempDir dir;
    write_file(dir / "vid.py",
               "import hashlib, sys\n"
               "def tlv(t, c):\n"
               "    n = len(c)\n"
               "    if n < 128: return bytes([t, n]) + c\n"
               "    l = n.to_bytes((n.bit_length() + 7) // 8, 'big')\n"
               "    return bytes([t, 0x80 | len(l)]) + l + c\n"
               "idn, r = sys.argv[1].encode(), bytes.fromhex(sys.argv[2])\n"
               "hc = tlv(0x30, tlv(0x13, idn) + tlv(0x03, b'\\x00' + r))\n"
               "for h in ('sha1', 'sha256', 'sha384', 'sha512'):\n"
               "    print(hashlib.new(h, hashlib.new(h, hc).digest()).hexdigest())\n");
    std::string out;
    ASSERT_EQ(run("python3 " + (dir / "vid.py") + " " + kIdn + " " + to_hex(kRandom.data(), kRandom.size()), &out), 0);
    std::istringstream lines(out);
    BIN random = view(kRandom);
    for (int hash : {QRT_CSP_HASH_SHA1, QRT_CSP_HASH_SHA256, QRT_CSP_HASH_SHA384, QRT_CSP_HASH_SHA512}) {
        std::string expected;
        std::getline(lines, expected);
        OutBin vid;
        ASSERT_EQ(QRT_PKC_ComputeVID(&vid, hash, kIdn, &random), 0) << trace_text();
        EXPECT_EQ(to_hex(vid.b.value, vid.b.length), expected) << hash;
        EXPECT_EQ(QRT_PKC_VerifyVID(&vid.b, hash, kIdn, &random), 0);
        EXPECT_EQ(QRT_PKC_VerifyVID(&vid.b, hash, "8001011234568", &random), QRT_PKC_INVALID_VID);
        vid.b.length -= 1;
        EXPECT_EQ(QRT_PKC_VerifyVID(&vid.b, hash, kIdn, &random), QRT_PKC_INVALID_VID);
        vid.b.length += 1;
    }
    OutBin vid;
    Bytes short_random(kRandom.begin(), kRandom.begin() + 19);
    BIN r19 = view(short_random);
    EXPECT_EQ(QRT_PKC_ComputeVID(&vid, QRT_CSP_HASH_SHA256, kIdn, &r19), QRT_PKC_INVALID_INPUT);
    EXPECT_EQ(QRT_PKC_ComputeVID(&vid, QRT_CSP_HASH_HAS160, kIdn, &random), QRT_PKC_UNKNOWN_HASHID);
    EXPECT_EQ(QRT_PKC_ComputeVID(&vid, QRT_CSP_HASH_SHA256, "800101\n1234567", &random), QRT_PKC_INVALID_INPUT);
    EXPECT_TRUE(vid.empty());
}

// IdentifyData that openssl writes from a configuration reads back with our functions.
TEST(PkcVid, ReadsAnOpensslCertificate) {
    TempDir dir;
    const std::string vidHex = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";
    write_file(dir / "id.cnf",
               "[req]\ndistinguished_name = dn\nx509_extensions = v3\nprompt = no\n[dn]\nCN = x\n"
               "[v3]\nsubjectAltName = otherName:1.2.410.200004.10.1.1;SEQUENCE:identify\n"
               "[identify]\nrealName = UTF8:Hong Gildong\nuserInfo = SEQUENCE:userInfo\n"
               "[userInfo]\nvid = SEQUENCE:vidEntry\n"
               "[vidEntry]\ntype = OID:1.2.410.200004.10.1.1.1\nvalue = SEQUENCE:vid\n"
               "[vid]\nhashAlg = SEQUENCE:hashAlg\nvirtualID = EXPLICIT:0,FORMAT:HEX,OCTETSTRING:" +
                   vidHex + "\n[hashAlg]\nalgorithm = OID:sha256\nparameters = NULL\n");
    ASSERT_EQ(run("openssl req -x509 -config " + (dir / "id.cnf") + " -newkey ec -pkeyopt ec_paramgen_curve:P-256 " +
                  "-nodes -keyout " + (dir / "k.pem") + " -subj /CN=VID -days 1 -outform DER -out " + (dir / "c.der") +
                  " 2>/dev/null"),
              0);
    std::string der = read_file(dir / "c.der");
    ostrel::AsnTree<Certificate> cert(Certificate_PDU);
    BIN in{static_cast<unsigned>(der.size()), reinterpret_cast<unsigned char *>(der.data())};
    ASSERT_EQ(cert.decode(&in), 0);

    char name[64], hex[129], hash[16];
    ASSERT_EQ(QRT_GetVID(name, sizeof name, hex, sizeof hex, hash, sizeof hash, cert->tbsCertificate.extensions), 0)
        << trace_text();
    EXPECT_STREQ(name, "Hong Gildong");
    EXPECT_STREQ(hex, vidHex.c_str());
    EXPECT_STREQ(hash, "SHA256");

    char *realName = nullptr;
    int hashID = 0;
    OutBin vid;
    ASSERT_EQ(QRT_PKC_GetVIDInfo(&realName, &hashID, &vid, cert.get()), 0);
    EXPECT_STREQ(realName, "Hong Gildong");
    EXPECT_EQ(hashID, QRT_CSP_HASH_SHA256);
    EXPECT_EQ(to_hex(vid.b.value, vid.b.length), vidHex);
    QRT_free(realName);
    hashID = 0;
    EXPECT_EQ(QRT_PKC_GetVIDHashAlg(&hashID, cert.get()), 0);
    EXPECT_EQ(hashID, QRT_CSP_HASH_SHA256);

    // capacities are honoured: cut and terminated
    EXPECT_EQ(QRT_GetVID(name, 5, hex, 9, hash, 4, cert->tbsCertificate.extensions), 0);
    EXPECT_STREQ(name, "Hong");
    EXPECT_STREQ(hex, "00112233");
    EXPECT_STREQ(hash, "SHA");
}

// The real name of our subjectAltName, found by walking the DER by hand.
std::string real_name_utf8(const Bytes &san, Bytes *vidOut = nullptr) {
    using namespace ostrel;
    Reader r(san.data(), san.size()), names, other, oid, explicit0, data, name, userInfo, entry, type, vid, alg, v0,
        octets;
    EXPECT_EQ(tlv::read_tlv(r, tlv::kSequence, names), tlv::kOk);
    EXPECT_EQ(tlv::read_tlv(names, 0xA0, other), tlv::kOk);
    EXPECT_EQ(tlv::read_tlv(other, tlv::kOid, oid), tlv::kOk);
    EXPECT_EQ(to_hex(oid.data(), oid.remaining()), "2a831a8c9a440a0101");  // id_kisa_identifyData
    EXPECT_EQ(tlv::read_tlv(other, 0xA0, explicit0), tlv::kOk);
    EXPECT_EQ(tlv::read_tlv(explicit0, tlv::kSequence, data), tlv::kOk);
    EXPECT_EQ(tlv::read_tlv(data, 0x0C, name), tlv::kOk);  // UTF8String
    EXPECT_EQ(tlv::read_tlv(data, tlv::kSequence, userInfo), tlv::kOk);
    EXPECT_EQ(tlv::read_tlv(userInfo, tlv::kSequence, entry), tlv::kOk);
    EXPECT_EQ(tlv::read_tlv(entry, tlv::kOid, type), tlv::kOk);
    EXPECT_EQ(to_hex(type.data(), type.remaining()), "2a831a8c9a440a010101");  // id_VID
    EXPECT_EQ(tlv::read_tlv(entry, tlv::kSequence, vid), tlv::kOk);
    EXPECT_EQ(tlv::read_tlv(vid, tlv::kSequence, alg), tlv::kOk);
    EXPECT_EQ(to_hex(alg.data(), alg.remaining()),
              "0609608648016503040201"
              "0500");  // sha256, NULL
    EXPECT_EQ(tlv::read_tlv(vid, 0xA0, v0), tlv::kOk);
    EXPECT_EQ(tlv::read_tlv(v0, tlv::kOctetString, octets), tlv::kOk);
    if (vidOut) vidOut->assign(octets.data(), octets.data() + octets.remaining());
    return std::string(reinterpret_cast<const char *>(name.data()), name.remaining());
}

TEST(PkcVid, OurSubjectAltNameCarriesTheNameInUtf8) {
    BIN random = view(kRandom);
    OutBin vid;
    ASSERT_EQ(QRT_PKC_ComputeVID(&vid, QRT_CSP_HASH_SHA256, kIdn, &random), 0);

    // the default locale: EUC-KR
    const std::string euckr = "\xC8\xAB\xB1\xE6\xB5\xBF";  // Hong Gil-dong in Hangul
    const std::string utf8 = "\xED\x99\x8D\xEA\xB8\xB8\xEB\x8F\x99";
    OutBin san;
    ASSERT_EQ(QRT_PKC_SubAltName_Encode(&san, euckr.c_str(), -1, QRT_CSP_HASH_SHA256, &vid.b), 0) << trace_text();
    Bytes carried;
    EXPECT_EQ(real_name_utf8(san.bytes(), &carried), utf8);
    EXPECT_EQ(carried, vid.bytes());
    char *name = nullptr;
    int hashID = 0;
    OutBin back;
    ASSERT_EQ(QRT_PKC_SubAltName_Decode(&name, &hashID, &back, &san.b), 0);
    EXPECT_EQ(std::string(name), euckr);
    EXPECT_EQ(back.bytes(), vid.bytes());
    QRT_free(name);

    // 40 half-width katakana: one byte each in Shift_JIS, three in UTF-8
    {
        Locale sjis("ja_JP-SJIS");
        std::string kana, expected;
        for (int i = 0; i < 40; ++i) {
            unsigned b = 0xA1 + static_cast<unsigned>(i % 63);
            kana += static_cast<char>(b);
            unsigned cp = 0xFF61 + (b - 0xA1);
            expected += static_cast<char>(0xE0 | (cp >> 12));
            expected += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            expected += static_cast<char>(0x80 | (cp & 0x3F));
        }
        OutBin wide;
        ASSERT_EQ(
            QRT_PKC_SubAltName_Encode(&wide, kana.data(), static_cast<int>(kana.size()), QRT_CSP_HASH_SHA256, &vid.b),
            0)
            << trace_text();
        EXPECT_EQ(real_name_utf8(wide.bytes()), expected);
        ASSERT_EQ(QRT_PKC_SubAltName_Decode(&name, nullptr, nullptr, &wide.b), 0);
        EXPECT_EQ(std::string(name), kana);
        QRT_free(name);
    }

    OutBin none;
    EXPECT_EQ(QRT_PKC_SubAltName_Encode(&none, "x", 1, 42, &vid.b), QRT_PKC_UNKNOWN_HASHID);
    EXPECT_TRUE(none.empty());
}

// A SHA-512 VID into 65 bytes: 32 of its 64 bytes, 64 hex digits and the NUL.
TEST(PkcVid, SmallCapacitiesAndHostileValues) {
    BIN random = view(kRandom);
    OutBin vid, san;
    ASSERT_EQ(QRT_PKC_ComputeVID(&vid, QRT_CSP_HASH_SHA512, kIdn, &random), 0);
    ASSERT_EQ(vid.b.length, 64u);
    ASSERT_EQ(QRT_PKC_SubAltName_Encode(&san, "Holder", -1, QRT_CSP_HASH_SHA512, &vid.b), 0);
    OneExtension ext(san.b);
    char name[3], hex[65], hash[7];
    std::memset(hex, 'x', sizeof hex);
    ASSERT_EQ(QRT_GetVID(name, sizeof name, hex, sizeof hex, hash, sizeof hash, ext.list()), 0);
    EXPECT_EQ(std::strlen(hex), 64u);
    EXPECT_EQ(std::string(hex), to_hex(vid.b.value, 32));
    EXPECT_STREQ(name, "Ho");
    EXPECT_STREQ(hash, "SHA512");
    EXPECT_EQ(QRT_GetVID(name, sizeof name, hex, 2, hash, sizeof hash, ext.list()), QRT_PKC_INVALID_INPUT);
    EXPECT_EQ(QRT_GetVID(name, sizeof name, hex, sizeof hex, hash, sizeof hash, nullptr), QRT_PKC_NO_EXTENSION);

    // a subjectAltName without identity data; one whose VID names an unknown hash; garbage
    Bytes dnsOnly = {0x30, 0x0b, 0x82, 0x09, 'a', '.', 'e', 'x', 'a', 'm', 'p', 'l', 'e'};
    BIN d = view(dnsOnly);
    char *out = nullptr;
    EXPECT_EQ(QRT_PKC_SubAltName_Decode(&out, nullptr, nullptr, &d), QRT_PKC_NO_VID_INFO);
    Bytes md4san = san.bytes();
    const Bytes sha512 = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x03};
    auto at = std::search(md4san.begin(), md4san.end(), sha512.begin(), sha512.end());
    ASSERT_NE(at, md4san.end());
    at[8] = 0x7f;  // an identifier nobody knows
    BIN m = view(md4san);
    EXPECT_EQ(QRT_PKC_SubAltName_Decode(&out, nullptr, nullptr, &m), QRT_PKC_UNKNOWN_HASHID);
    for (size_t n = 1; n < san.b.length; n += 7) {
        BIN cut{static_cast<unsigned>(n), san.b.value};
        int hashID = 5;
        EXPECT_EQ(QRT_PKC_SubAltName_Decode(&out, &hashID, nullptr, &cut), QRT_PKC_BAD_EXTENSION) << n;
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(hashID, -1);
        EXPECT_EQ(QRT_PKC_IdentityData_Decode(&out, nullptr, nullptr, &cut), QRT_PKC_BAD_EXTENSION) << n;
    }
    ostrel::test::trace_records();
}

}  // namespace
