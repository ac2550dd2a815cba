// Round trips of real objects, the value representation, and the engine's answers to broken and
// hostile encodings.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "asn_test_util.hpp"

namespace {

using namespace asn_test;

TEST_F(AsnTest, SystemRootCertificatesRoundTrip) {
    auto certs = pem_certificates_in("/usr/share/ca-certificates/mozilla");
    ASSERT_GT(certs.size(), 50u) << "the ca-certificates package is not installed";
    for (auto &[name, der] : certs) expect_round_trip(der, Certificate_PDU, name);
}

TEST_F(AsnTest, PkitsCertificatesAndCrlsRoundTrip) {
    auto certs = files_in("../shared/conformance/pkits/certs");
    auto crls = files_in("../shared/conformance/pkits/crls");
    ASSERT_GT(certs.size(), 100u);
    ASSERT_GT(crls.size(), 10u);
    for (auto &[name, der] : certs) expect_round_trip(der, Certificate_PDU, name);
    for (auto &[name, der] : crls) expect_round_trip(der, CertificateList_PDU, name);
}

// One small value of every type of the catalogue, written by the schema compiler.
TEST_F(AsnTest, EveryCatalogueTypeRoundTrips) {
    std::ifstream in(OSTREL_BINARY_DIR "/lib/asn/asn_samples.txt");
    ASSERT_TRUE(in) << "samples missing";
    std::string line;
    int count = 0;
    std::vector<bool> seen(QRT_ASN_PDU_COUNT);
    while (std::getline(in, line)) {
        std::istringstream ss(line);
        int num;
        std::string name, hex;
        ss >> num >> name >> hex;
        expect_round_trip(ostrel::test::from_hex(hex), num, std::to_string(num) + " " + name);
        seen[num] = true;
        ++count;
    }
    for (int n = 1; n <= 276; ++n) EXPECT_TRUE(seen[n]) << "catalogue number " << n << " has no type";
    EXPECT_GE(count, 276);
}

TEST_F(AsnTest, CertificateTreeCarriesTheFields) {
    Bytes der = pem_certificates_in("/usr/share/ca-certificates/mozilla").at(0).second;
    Tree<Certificate> cert(der, Certificate_PDU);
    ASSERT_TRUE(cert);
    const TBSCertificate &tbs = cert->tbsCertificate;
    EXPECT_TRUE(tbs.bit_mask & TBSCertificate_version_present);
    EXPECT_EQ(tbs.version, Version_v3);
    EXPECT_GT(tbs.serialNumber.length, 0);
    EXPECT_EQ(tbs.issuer.choice, Name_rdnSequence_chosen);
    EXPECT_EQ(tbs.validity.notBefore.choice == Time_utcTime_chosen ||
                  tbs.validity.notBefore.choice == Time_generalTime_chosen,
              true);
    ASSERT_TRUE(tbs.bit_mask & TBSCertificate_extensions_present);
    bool basic = false;
    for (Extensions e = tbs.extensions; e; e = e->next) {
        if (QRT_ASN_CmpOID(&e->value.extnID, &id_ce_basicConstraints) != 0) continue;
        basic = true;
        BIN v{e->value.extnValue.length, e->value.extnValue.value};
        Tree<BasicConstraints> bc(Bytes(v.value, v.value + v.length), BasicConstraints_PDU);
        ASSERT_TRUE(bc);
        EXPECT_EQ(bc->cA, 1);
    }
    EXPECT_TRUE(basic);
}

// The received encodings of the signed part and of the names and key inside it: the bytes of
// the input, still there in a copy after the original is released, and owned by a copy of the
// inner TBSCertificate alone.
TEST_F(AsnTest, KeptEncodingsOutliveTheirSource) {
    Bytes der = pem_certificates_in("/usr/share/ca-certificates/mozilla").at(2).second;
    auto slice = [](const Any &a) { return Bytes(a.value, a.value + a.length); };
    auto where = [&](const Any &a) {
        auto it = std::search(der.begin(), der.end(), a.value, a.value + a.length);
        return it == der.end() ? -1L : static_cast<long>(it - der.begin());
    };
    void *copy = nullptr, *tbs_copy = nullptr;
    Bytes tbs, issuer, subject, spki;
    {
        Tree<Certificate> cert(der, Certificate_PDU);
        ASSERT_TRUE(cert);
        const TBSCertificate &t = cert->tbsCertificate;
        tbs = slice(cert->tbsCertificate_encoded);
        issuer = slice(t.issuer_encoded);
        subject = slice(t.subject_encoded);
        spki = slice(t.subjectPublicKeyInfo_encoded);
        EXPECT_EQ(where(cert->tbsCertificate_encoded), 4);
        EXPECT_GT(where(t.issuer_encoded), 4);
        EXPECT_GT(where(t.subjectPublicKeyInfo_encoded), where(t.subject_encoded));
        EXPECT_EQ(spki[0], 0x30);
        ASSERT_EQ(QRT_ASN_CopyPDU(&copy, cert.get(), Certificate_PDU), 0);
        ASSERT_EQ(QRT_ASN_CopyPDU(&tbs_copy, &cert->tbsCertificate, TBSCertificate_PDU), 0);
    }
    const Certificate *c = static_cast<Certificate *>(copy);
    EXPECT_EQ(slice(c->tbsCertificate_encoded), tbs);
    EXPECT_EQ(slice(c->tbsCertificate.issuer_encoded), issuer);
    EXPECT_EQ(slice(c->tbsCertificate.subjectPublicKeyInfo_encoded), spki);
    QRT_ASN_FreePDU(copy, Certificate_PDU);
    const TBSCertificate *t = static_cast<TBSCertificate *>(tbs_copy);
    EXPECT_EQ(slice(t->subject_encoded), subject);
    EXPECT_EQ(slice(t->subjectPublicKeyInfo_encoded), spki);
    QRT_ASN_FreePDU(tbs_copy, TBSCertificate_PDU);
    // decoded on its own, a TBSCertificate keeps its names and key too
    Tree<TBSCertificate> alone(tbs, TBSCertificate_PDU);
    ASSERT_TRUE(alone);
    EXPECT_EQ(slice(alone->issuer_encoded), issuer);
}

TEST_F(AsnTest, ValuesEncodeInDerForm) {
    struct Case {
        const char *what;
        std::function<std::string()> encode;
        std::string der;
    };
    auto enc = [](const void *v, int pdu) {
        BIN out{0, nullptr};
        if (QRT_ASN_EncodePDU(&out, v, pdu) != 0) return std::string("fail");
        std::string h = ostrel::test::to_hex(out.value, out.length);
        QRT_BIN_Reset(&out);
        return h;
    };
    std::vector<Case> cases = {
        {"cA TRUE with a path length",
         [&] {
             BasicConstraints bc{};
             bc.bit_mask = BasicConstraints_cA_present | BasicConstraints_pathLenConstraint_present;
             bc.cA = 1;
             bc.pathLenConstraint = 0;
             return enc(&bc, BasicConstraints_PDU);
         },
         "30060101ff020100"},
        {"cA FALSE is the default and left out",
         [&] {
             BasicConstraints bc{};
             bc.bit_mask = BasicConstraints_cA_present;
             return enc(&bc, BasicConstraints_PDU);
         },
         "3000"},
        {"key usage drops trailing zero bits",
         [&] {
             KeyUsage ku = KeyUsage_digitalSignature | KeyUsage_keyEncipherment;
             return enc(&ku, KeyUsage_PDU);
         },
         "030205a0"},
        {"decipherOnly needs a second octet",
         [&] {
             KeyUsage ku = KeyUsage_decipherOnly;
             return enc(&ku, KeyUsage_PDU);
         },
         "0303070080"},
        {"no key usage bit at all",
         [&] {
             KeyUsage ku = 0;
             return enc(&ku, KeyUsage_PDU);
         },
         "030100"},
        {"negative small integer",
         [&] {
             CRLReason r = -129;
             return enc(&r, CRLReason_PDU);
         },
         "0a02ff7f"},
        {"GeneralizedTime with milliseconds",
         [&] {
             GeneralizedTime g{};
             g.year = 2024;
             g.month = 2;
             g.day = 29;
             g.hour = 23;
             g.minute = 59;
             g.second = 58;
             g.millisec = 120;
             g.utc = 1;
             return enc(&g, InvalidityDate_PDU);
         },
         "181232303234303232393233353935382e31325a"},
        {"a local time with a difference is written in UTC",
         [&] {
             GeneralizedTime g{};
             g.year = 2024;
             g.month = 1;
             g.day = 1;
             g.hour = 1;
             g.mindiff = 9 * 60;
             return enc(&g, InvalidityDate_PDU);
         },
         "180f32303233313233313136303030305a"},
        {"SET OF elements sorted by their encodings",
         [&] {
             Any a{3, (unsigned char *)"\x02\x01\x05"}, b{3, (unsigned char *)"\x02\x01\x03"};
             struct Attribute_values_ n2 {
                 nullptr, b
             }, n1{&n2, a};
             Attribute at{};
             at.type = id_at_commonName;
             at.values = &n1;
             return enc(&at, Attribute_PDU);
         },
         "300d0603550403310602010302010"
         "5"},
    };
    for (auto &c : cases) EXPECT_EQ(c.encode(), c.der) << c.what;
}

// Absent DEFAULT fields read as their default value, also behind an explicit tag and in copies.
TEST_F(AsnTest, DefaultsFillAbsentFields) {
    Tree<RSASSA_PSS_params> pss(Bytes{0x30, 0x00}, RSASSA_PSS_params_PDU);
    ASSERT_TRUE(pss);
    EXPECT_EQ(pss->saltLength, 20);
    EXPECT_EQ(pss->trailerField, 1);
    EXPECT_FALSE(pss->bit_mask & RSASSA_PSS_params_hashAlgorithm_present);
    void *copy = nullptr;
    ASSERT_EQ(QRT_ASN_CopyPDU(&copy, &*pss, RSASSA_PSS_params_PDU), 0);
    EXPECT_EQ(static_cast<RSASSA_PSS_params *>(copy)->saltLength, 20);
    static_cast<RSASSA_PSS_params *>(copy)->saltLength = 32;
    static_cast<RSASSA_PSS_params *>(copy)->bit_mask |= RSASSA_PSS_params_saltLength_present;
    EXPECT_EQ(QRT_ASN_CmpPDU(copy, &*pss, RSASSA_PSS_params_PDU), 1);
    BIN out{0, nullptr};
    ASSERT_EQ(QRT_ASN_EncodePDU(&out, copy, RSASSA_PSS_params_PDU), 0);
    EXPECT_EQ(ostrel::test::to_hex(out.value, out.length), "3005a203020120");
    QRT_BIN_Reset(&out);
    QRT_ASN_FreePDU(copy, RSASSA_PSS_params_PDU);
    // the SHA-1 identifier with NULL parameters is the default hash and is left out
    expect_decodes_to({0x30, 0x0d, 0xa0, 0x0b, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e, 0x03, 0x02, 0x1a, 0x05, 0x00},
                      {0x30, 0x00}, RSASSA_PSS_params_PDU);
    Tree<MacData> mac(Bytes{0x30, 0x10, 0x30, 0x09, 0x30, 0x05, 0x06, 0x03, 0x55, 0x1d, 0x0f, 0x04, 0x00, 0x04, 0x03,
                            0x01, 0x02, 0x03},
                      MacData_PDU);
    ASSERT_TRUE(mac);
    EXPECT_EQ(mac->iterations, 1);
}

TEST_F(AsnTest, EncodingRefusesBrokenTrees) {
    struct Case {
        const char *what;
        std::function<int(BIN *)> encode;
        const char *klass;
    };
    std::vector<Case> cases = {
        {"choice out of range",
         [](BIN *o) {
             Name n{};
             n.choice = 7;
             return QRT_ASN_EncodePDU(o, &n, Name_PDU);
         },
         "BAD_CHOICE"},
        {"empty object identifier",
         [](BIN *o) {
             ObjectID id{0, nullptr};
             return QRT_ASN_EncodePDU(o, &id, HoldInstructionCode_PDU);
         },
         "BAD_OBJID"},
        {"string without octets",
         [](BIN *o) {
             BIN s{4, nullptr};
             return QRT_ASN_EncodePDU(o, &s, CPSuri_PDU);
         },
         "BAD_PTR"},
        {"month 13",
         [](BIN *o) {
             GeneralizedTime g{};
             g.year = 2020;
             g.month = 13;
             g.day = 1;
             g.utc = 1;
             return QRT_ASN_EncodePDU(o, &g, InvalidityDate_PDU);
         },
         "BAD_TIME"},
        {"unknown PDU number",
         [](BIN *o) {
             int v = 0;
             return QRT_ASN_EncodePDU(o, &v, 9999);
         },
         "BAD_TABLE"},
    };
    for (auto &c : cases) {
        BIN out{1, reinterpret_cast<unsigned char *>(1)};
        EXPECT_EQ(c.encode(&out), QRT_ASN_ENCODE_FAILED) << c.what;
        EXPECT_EQ(out.value, nullptr) << c.what;
        auto recs = ostrel::test::trace_records();
        ASSERT_EQ(recs.size(), 3u) << c.what;
        EXPECT_EQ(ostrel::test::trace_field(recs[0], 2), "ossEncode");
        EXPECT_EQ(ostrel::test::trace_field(recs[1], 4), c.klass) << c.what;
        EXPECT_EQ(ostrel::test::trace_field(recs[2], 2), "QRT_ASN_EncodePDU");
        EXPECT_EQ(ostrel::test::trace_field(recs[2], 3), "1021");
    }
}

TEST_F(AsnTest, TruncationAtEveryOffsetFailsCleanly) {
    Bytes der = pem_certificates_in("/usr/share/ca-certificates/mozilla").at(3).second;
    for (size_t n = 0; n < der.size(); ++n) {
        BIN in{static_cast<unsigned int>(n), der.data()};
        void *tree = reinterpret_cast<void *>(1);
        ASSERT_EQ(QRT_ASN_DecodePDU(&tree, &in, Certificate_PDU), QRT_ASN_DECODE_FAILED) << n;
        EXPECT_EQ(tree, nullptr);
        auto recs = ostrel::test::trace_records();
        ASSERT_EQ(recs.size(), 3u) << n;
        EXPECT_EQ(ostrel::test::trace_field(recs[0], 2), "ossDecode");
        EXPECT_EQ(ostrel::test::trace_field(recs[1], 2), "ossDecode");
        std::string klass = ostrel::test::trace_field(recs[1], 4);
        EXPECT_TRUE(klass == "MORE_INPUT" || klass == "DATA_ERROR") << n << " " << klass;
        EXPECT_EQ(ostrel::test::trace_field(recs[2], 2), "QRT_ASN_DecodePDU");
        EXPECT_EQ(ostrel::test::trace_field(recs[2], 3), "1022");
        EXPECT_EQ(ostrel::test::trace_field(recs[2], 4), "oss decode failed");
    }
}

// Inputs built to exhaust memory, stack or time must end in a clean failure or a bounded result.
TEST_F(AsnTest, HostileInputsAreBounded) {
    struct Case {
        const char *what;
        Bytes input;
        int pdu;
        const char *klass;  // nullptr: decodes
    };
    auto nest = [](size_t depth, uint8_t tag) {
        Bytes b;
        for (size_t i = 0; i < depth; ++i) {
            b.push_back(tag);
            b.push_back(0x80);
        }
        b.push_back(0x04);
        b.push_back(0x00);
        for (size_t i = 0; i < depth; ++i) {
            b.push_back(0);
            b.push_back(0);
        }
        return b;
    };
    Bytes deep_any = {0x30, 0x80, 0x06, 0x03, 0x55, 0x1d, 0x0f};
    {
        Bytes n = nest(10000, 0x30);
        deep_any.insert(deep_any.end(), n.begin(), n.end());
        deep_any.push_back(0);
        deep_any.push_back(0);
    }
    Bytes big_int = {0x02, 0x83, 0x01, 0x86, 0xa0};
    big_int.resize(big_int.size() + 100000, 0x11);
    Bytes huge_set;
    {
        Bytes body = {0x06, 0x03, 0x55, 0x04, 0x03, 0x31, 0x83};
        size_t n = 100000 * 2;
        body.push_back(static_cast<uint8_t>(n >> 16));
        body.push_back(static_cast<uint8_t>(n >> 8));
        body.push_back(static_cast<uint8_t>(n));
        for (int i = 0; i < 100000; ++i) {
            body.push_back(0x05);
            body.push_back(0x00);
        }
        huge_set = {0x30, 0x83, static_cast<uint8_t>(body.size() >> 16), static_cast<uint8_t>(body.size() >> 8),
                    static_cast<uint8_t>(body.size())};
        huge_set.insert(huge_set.end(), body.begin(), body.end());
    }
    std::vector<Case> cases = {
        {"length field of 2^31", {0x30, 0x84, 0x80, 0x00, 0x00, 0x00, 0x02, 0x01, 0x00}, Certificate_PDU, "MORE_INPUT"},
        {"length field of nine octets", {0x30, 0x89, 1, 0, 0, 0, 0, 0, 0, 0, 0}, Certificate_PDU, "LIMITED"},
        {"10000 nested constructed strings", nest(10000, 0x24), OctetString_PDU, "LIMITED"},
        {"10000 nested elements in an open type", deep_any, AlgorithmIdentifier_PDU, "LIMITED"},
        {"INTEGER of 100000 octets", big_int, CertificateSerialNumber_PDU, "LIMITED"},
        {"SET OF with 100000 elements", huge_set, Attribute_PDU, nullptr},
        {"tag number beyond 2^28", {0x1f, 0xff, 0xff, 0xff, 0xff, 0x7f, 0x00}, OctetString_PDU, "LIMITED"},
        {"indefinite length on a primitive", {0x04, 0x80, 0x00, 0x00}, OctetString_PDU, "DATA_ERROR"},
        {"unterminated indefinite length", {0x24, 0x80, 0x04, 0x01, 0x41}, OctetString_PDU, "MORE_INPUT"},
        {"wrong outer type", {0x04, 0x00}, Certificate_PDU, "PDU_MISMATCH"},
        {"data after the value", {0x04, 0x00, 0x00}, OctetString_PDU, "DATA_ERROR"},
        {"negative path length", {0x30, 0x03, 0x02, 0x01, 0xff}, BasicConstraints_PDU, "NEGATIVE_UINTEGER"},
        {"small INTEGER beyond 32 bits", {0x30, 0x07, 0x02, 0x05, 0x01, 0, 0, 0, 0}, BasicConstraints_PDU, "LIMITED"},
    };
    for (auto &c : cases) {
        BIN in{static_cast<unsigned int>(c.input.size()), c.input.data()};
        void *tree = nullptr;
        int rc = QRT_ASN_DecodePDU(&tree, &in, c.pdu);
        auto recs = ostrel::test::trace_records();
        if (!c.klass) {
            ASSERT_EQ(rc, 0) << c.what;
            BIN out{0, nullptr};
            EXPECT_EQ(QRT_ASN_EncodePDU(&out, tree, c.pdu), 0) << c.what;
            EXPECT_EQ(Bytes(out.value, out.value + out.length), c.input) << c.what;
            QRT_BIN_Reset(&out);
            QRT_ASN_FreePDU(tree, c.pdu);
            continue;
        }
        EXPECT_EQ(rc, QRT_ASN_DECODE_FAILED) << c.what;
        EXPECT_EQ(tree, nullptr) << c.what;
        ASSERT_EQ(recs.size(), 3u) << c.what;
        EXPECT_EQ(ostrel::test::trace_field(recs[1], 4), c.klass) << c.what << ": " << recs[0];
    }
}

// BER as streaming producers write it decodes to the tree of the DER form.
TEST_F(AsnTest, BerFormsDecodeToTheDerTree) {
    Bytes der = pem_certificates_in("/usr/share/ca-certificates/mozilla").at(5).second;
    Bytes ber = to_ber(der);
    ASSERT_NE(ber, der);
    expect_decodes_to(ber, der, Certificate_PDU);
    // constructed OCTET STRING in pieces, a non-minimal length, and BOOLEAN 01
    expect_decodes_to({0x24, 0x80, 0x04, 0x02, 'a', 'b', 0x24, 0x03, 0x04, 0x01, 'c', 0x00, 0x00},
                      {0x04, 0x03, 'a', 'b', 'c'}, OctetString_PDU);
    expect_decodes_to({0x30, 0x81, 0x03, 0x01, 0x01, 0x01}, {0x30, 0x03, 0x01, 0x01, 0xff}, BasicConstraints_PDU);
    // an open type keeps DER form: its inner indefinite length is rewritten
    expect_decodes_to({0x30, 0x0b, 0x06, 0x03, 0x55, 0x1d, 0x0f, 0x30, 0x80, 0x05, 0x00, 0x00, 0x00},
                      {0x30, 0x09, 0x06, 0x03, 0x55, 0x1d, 0x0f, 0x30, 0x02, 0x05, 0x00}, AlgorithmIdentifier_PDU);
    // explicit default values and UTCTime without seconds
    expect_decodes_to({0x30, 0x03, 0x01, 0x01, 0x00}, {0x30, 0x00}, BasicConstraints_PDU);
    expect_decodes_to({0x17, 0x0b, '2', '4', '0', '1', '0', '1', '0', '0', '0', '0', 'Z'},
                      {0x17, 0x0d, '2', '4', '0', '1', '0', '1', '0', '0', '0', '0', '0', '0', 'Z'}, Time_PDU);
}

// A certificate's DER made from its tree keeps the signed part as it arrived: the input itself
// for DER, the received bytes of the TBS for BER (the rest re-encoded), and a whole encoding for
// a tree without received bytes.
TEST_F(AsnTest, CertificateDerKeepsTheSignedPartAsReceived) {
    Bytes der = pem_certificates_in("/usr/share/ca-certificates/mozilla").at(5).second;
    auto of = [](const Certificate &c) {
        BIN b{0, nullptr};
        Bytes out;
        if (ostrel::certificate_der(&b, c) == 0) out.assign(b.value, b.value + b.length);
        QRT_BIN_Reset(&b);
        return out;
    };
    auto bytes = [](const Any &a) { return Bytes(a.value, a.value + a.length); };
    Tree<Certificate> d(der, Certificate_PDU);
    ASSERT_TRUE(d);
    EXPECT_EQ(of(*d), der);

    Tree<Certificate> b(to_ber(der), Certificate_PDU);
    ASSERT_TRUE(b);
    const Bytes tbs = bytes(b->tbsCertificate_encoded);
    ASSERT_NE(tbs, bytes(d->tbsCertificate_encoded));
    const Bytes got = of(*b);
    auto at = std::search(got.begin(), got.end(), tbs.begin(), tbs.end());
    ASSERT_NE(at, got.end());
    EXPECT_LE(at - got.begin(), 5);  // right after the outer header
    Tree<Certificate> again(got, Certificate_PDU);
    ASSERT_TRUE(again);
    EXPECT_EQ(bytes(again->tbsCertificate_encoded), tbs);
    EXPECT_EQ(of(*again), got);

    QRT_free(d->tbsCertificate_encoded.value);
    d->tbsCertificate_encoded = Any{0, nullptr};
    EXPECT_EQ(of(*d), der);
}

// The strict flag turns every BER liberty into a failure.
TEST_F(AsnTest, StrictContextAcceptsOnlyDer) {
    ZQ_ASN_CTX world;
    ASSERT_EQ(QRT_OssInit(&world), 0);
    world.flags |= QRT_ASN_FLAG_STRICT_DER;
    Bytes der = pem_certificates_in("/usr/share/ca-certificates/mozilla").at(5).second;
    std::vector<Bytes> non_der = {
        to_ber(der),
        {0x24, 0x04, 0x04, 0x02, 'a', 'b'},
        {0x30, 0x81, 0x03, 0x01, 0x01, 0xff},
        {0x30, 0x03, 0x01, 0x01, 0x01},
        {0x30, 0x03, 0x01, 0x01, 0x00},
        {0x03, 0x03, 0x07, 0x80, 0x00},
        {0x03, 0x02, 0x01, 0x03},
        {0x17, 0x0b, '2', '4', '0', '1', '0', '1', '0', '0', '0', '0', 'Z'},
        {0x31, 0x06, 0x02, 0x01, 0x05, 0x02, 0x01, 0x03},
        {0x02, 0x02, 0x00, 0x05},
    };
    std::vector<int> pdus = {Certificate_PDU,
                             OctetString_PDU,
                             BasicConstraints_PDU,
                             BasicConstraints_PDU,
                             BasicConstraints_PDU,
                             KeyUsage_PDU,
                             KeyUsage_PDU,
                             Time_PDU,
                             0,
                             CertificateSerialNumber_PDU};
    // a SET OF INTEGER: the values of an Attribute
    Bytes attr = {0x30, 0x0d, 0x06, 0x03, 0x55, 0x04, 0x03, 0x31, 0x06, 0x02, 0x01, 0x05, 0x02, 0x01, 0x03};
    non_der[8] = attr;
    pdus[8] = Attribute_PDU;
    for (size_t i = 0; i < non_der.size(); ++i) {
        BIN in{static_cast<unsigned int>(non_der[i].size()), non_der[i].data()};
        void *tree = nullptr;
        EXPECT_EQ(QRT_GetDecodedPDU(&world, pdus[i], &in, &tree), QRT_ASN_OSS_FAILED) << i;
        EXPECT_EQ(tree, nullptr);
        world.flags &= ~QRT_ASN_FLAG_STRICT_DER;
        EXPECT_EQ(QRT_GetDecodedPDU(&world, pdus[i], &in, &tree), 0) << i << " " << world.errorText;
        QRT_FreePDU(&world, pdus[i], tree);
        world.flags |= QRT_ASN_FLAG_STRICT_DER;
    }
    BIN in{static_cast<unsigned int>(der.size()), der.data()};
    void *tree = nullptr;
    EXPECT_EQ(QRT_GetDecodedPDU(&world, Certificate_PDU, &in, &tree), 0);
    BIN out{0, nullptr};
    EXPECT_EQ(QRT_GetEncodedPDU(&world, Certificate_PDU, tree, &out), 0);
    EXPECT_EQ(QRT_BIN_Cmp(&in, &out), 0);
    QRT_BIN_Reset(&out);
    QRT_FreePDU(&world, Certificate_PDU, tree);
    EXPECT_EQ(QRT_OssFinal(&world), 0);
    EXPECT_TRUE(ostrel::test::trace_records().empty());
}

TEST_F(AsnTest, ThreadsAgreeWithOneThread) {
    auto certs = pem_certificates_in("/usr/share/ca-certificates/mozilla");
    certs.resize(20);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
            size_t i = static_cast<size_t>(t);
            while (std::chrono::steady_clock::now() < until) {
                const Bytes &der = certs[i++ % certs.size()].second;
                BIN in{static_cast<unsigned int>(der.size()), const_cast<unsigned char *>(der.data())};
                void *tree = nullptr;
                BIN out{0, nullptr};
                if (QRT_ASN_DecodePDU(&tree, &in, Certificate_PDU) != 0 ||
                    QRT_ASN_EncodePDU(&out, tree, Certificate_PDU) != 0 || QRT_BIN_Cmp(&in, &out) != 0)
                    ++failures;
                QRT_BIN_Reset(&out);
                QRT_ASN_FreePDU(tree, Certificate_PDU);
            }
            if (!QRT_ASN_AcquireCTX() || QRT_ASN_AcquireCTX() != QRT_ASN_AcquireCTX()) ++failures;
        });
    }
    for (auto &th : threads) th.join();
    EXPECT_EQ(failures.load(), 0);
}

}  // namespace
