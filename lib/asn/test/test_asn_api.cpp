// Contexts and PDU calls at the C boundary, object identifiers, times and the library frame.
#include <gtest/gtest.h>
#include <pthread.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "asn_release_hook.h"
#include "asn_test_util.hpp"

namespace {

using namespace asn_test;
using ostrel::test::trace_field;
using ostrel::test::trace_records;

TEST_F(AsnTest, ArgumentChecksLeaveNoRecords) {
    BIN out{0, nullptr}, in{2, (unsigned char *)"\x04\x00"};
    void *tree = nullptr;
    EXPECT_EQ(QRT_ASN_EncodePDU(&out, nullptr, OctetString_PDU), QRT_ASN_INVALID_INPUT);
    EXPECT_EQ(QRT_ASN_EncodePDU(nullptr, &in, OctetString_PDU), QRT_ASN_INVALID_INPUT);
    EXPECT_EQ(QRT_ASN_DecodePDU(nullptr, &in, OctetString_PDU), QRT_ASN_INVALID_INPUT);
    EXPECT_EQ(QRT_ASN_DecodePDU(&tree, nullptr, OctetString_PDU), QRT_ASN_INVALID_INPUT);
    EXPECT_EQ(QRT_ASN_CopyPDU(nullptr, &in, OctetString_PDU), QRT_ASN_INVALID_INPUT);
    EXPECT_EQ(QRT_ASN_FreePDU(nullptr, OctetString_PDU), 0);
    EXPECT_EQ(QRT_ASN_CmpPDU(nullptr, &in, OctetString_PDU), 1);
    EXPECT_EQ(QRT_OssInit(nullptr), QRT_ASN_INVALID_INPUT);
    EXPECT_EQ(QRT_OssFinal(nullptr), QRT_ASN_INVALID_INPUT);
    EXPECT_EQ(QRT_GetDecodedPDU(nullptr, OctetString_PDU, &in, &tree), QRT_ASN_INVALID_INPUT);
    EXPECT_TRUE(trace_records().empty());
}

TEST_F(AsnTest, PduFailuresAreRecordedInOrder) {
    BIN in{2, (unsigned char *)"\x04\x00"};
    void *tree = nullptr;
    EXPECT_EQ(QRT_ASN_DecodePDU(&tree, &in, 0), QRT_ASN_DECODE_FAILED);
    auto recs = trace_records();
    ASSERT_EQ(recs.size(), 3u);
    EXPECT_EQ(trace_field(recs[0], 2), "ossDecode");
    EXPECT_EQ(trace_field(recs[0], 3), std::to_string(QRT_ASN_E_BAD_PDU));
    EXPECT_EQ(trace_field(recs[1], 4), "");
    EXPECT_EQ(trace_field(recs[2], 2), "QRT_ASN_DecodePDU");

    int dummy = 0;
    EXPECT_EQ(QRT_ASN_FreePDU(&dummy, 5000), QRT_ASN_FREE_FAILED);
    recs = trace_records();
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(trace_field(recs[0], 2), "ossFreePDU");
    EXPECT_EQ(trace_field(recs[0], 4), "");
    EXPECT_EQ(trace_field(recs[1], 2), "QRT_ASN_FreePDU");
    EXPECT_EQ(trace_field(recs[1], 3), "1024");

    Name bad{};
    bad.choice = 9;
    EXPECT_EQ(QRT_ASN_CopyPDU(&tree, &bad, Name_PDU), QRT_ASN_COPY_FAILED);
    EXPECT_EQ(tree, nullptr);
    recs = trace_records();
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(trace_field(recs[0], 2), "ossCpyValue");
    EXPECT_EQ(trace_field(recs[1], 3), "1023");
}

TEST_F(AsnTest, ComparisonSeesValuesNotEncodings) {
    // an explicit FALSE and a left-out default are the same value
    Bytes a = {0x30, 0x09, 0x06, 0x03, 0x55, 0x1d, 0x0f, 0x04, 0x02, 0x03, 0x00};
    Bytes b = {0x30, 0x0c, 0x06, 0x03, 0x55, 0x1d, 0x0f, 0x01, 0x01, 0x00, 0x04, 0x02, 0x03, 0x00};
    Bytes c = {0x30, 0x0c, 0x06, 0x03, 0x55, 0x1d, 0x0f, 0x01, 0x01, 0xff, 0x04, 0x02, 0x03, 0x00};
    Tree<Extension> ta(a, Extension_PDU), tb(b, Extension_PDU), tc(c, Extension_PDU);
    ASSERT_TRUE(ta && tb && tc);
    EXPECT_EQ(ta->critical, 0);
    EXPECT_FALSE(ta->bit_mask & Extension_critical_present);
    EXPECT_TRUE(tb->bit_mask & Extension_critical_present);
    EXPECT_EQ(QRT_ASN_CmpPDU(&*ta, &*tb, Extension_PDU), 0);
    EXPECT_EQ(QRT_ASN_CmpPDU(&*ta, &*tc, Extension_PDU), 1);
}

// A multi-valued RDN is a set: the order its values arrive in does not change the name.
TEST_F(AsnTest, SetsCompareWithoutOrder) {
    Bytes cn = {0x30, 0x09, 0x06, 0x03, 0x55, 0x04, 0x03, 0x0c, 0x02, 'a', 'b'};
    Bytes ou = {0x30, 0x09, 0x06, 0x03, 0x55, 0x04, 0x0b, 0x0c, 0x02, 'c', 'd'};
    auto name = [](const Bytes &first, const Bytes &second) {
        Bytes seq;
        seq.push_back(0x30);
        seq.push_back(static_cast<unsigned char>(first.size() + second.size() + 2));
        seq.push_back(0x31);
        seq.push_back(static_cast<unsigned char>(first.size() + second.size()));
        for (unsigned char c : first) seq.push_back(c);
        for (unsigned char c : second) seq.push_back(c);
        return seq;
    };
    Tree<Name> sorted(name(cn, ou), Name_PDU), unsorted(name(ou, cn), Name_PDU), other(name(cn, cn), Name_PDU);
    ASSERT_TRUE(sorted && unsorted && other);
    EXPECT_EQ(QRT_ASN_CmpPDU(&*sorted, &*unsorted, Name_PDU), 0);
    EXPECT_EQ(QRT_ASN_CmpPDU(&*sorted, &*other, Name_PDU), 1);
    // sequences keep their order
    auto rdns = [](const Bytes &first, const Bytes &second) {
        Bytes seq{0x30, static_cast<unsigned char>(first.size() + second.size() + 4)};
        for (const Bytes *b : {&first, &second}) {
            seq.push_back(0x31);
            seq.push_back(static_cast<unsigned char>(b->size()));
            for (unsigned char c : *b) seq.push_back(c);
        }
        return seq;
    };
    Tree<RDNSequence> ab(rdns(cn, ou), DistinguishedName_PDU), ba(rdns(ou, cn), DistinguishedName_PDU);
    ASSERT_TRUE(ab && ba);
    EXPECT_EQ(QRT_ASN_CmpPDU(&*ab, &*ba, DistinguishedName_PDU), 1);
}

TEST_F(AsnTest, ContextsAreSetUpOncePerThread) {
    ZQ_ASN_CTX *mine = QRT_ASN_AcquireCTX();
    ASSERT_NE(mine, nullptr);
    EXPECT_EQ(QRT_ASN_AcquireCTX(), mine);
    EXPECT_EQ(QRT_ASN_ReleaseCTX(), 0);
    EXPECT_EQ(QRT_ASN_Initialize(), 0);
    ZQ_ASN_CTX *other = nullptr;
    std::thread t([&] { other = QRT_ASN_AcquireCTX(); });
    t.join();
    EXPECT_NE(other, nullptr);
    EXPECT_NE(other, mine);

    // unknown flag bits are refused with the engine's record
    EXPECT_EQ(QRT_ASN_SetFlags(0x80000000u), QRT_ASN_OSS_FAILED);
    auto recs = trace_records();
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(trace_field(recs[0], 2), "ossSetFlags");
    EXPECT_EQ(trace_field(recs[1], 2), "QRT_ASN_Global_SetFlags");
    EXPECT_EQ(trace_field(recs[1], 3), "1020");

    // a shut-down master context is set up again for the next new thread
    EXPECT_EQ(QRT_ASN_FinalizeEx(), 0);
    ZQ_ASN_CTX *late = nullptr;
    std::thread t2([&] {
        late = QRT_ASN_AcquireCTX();
        Bytes der = {0x04, 0x01, 'x'};
        BIN in{3, der.data()};
        void *v = nullptr;
        if (QRT_ASN_DecodePDU(&v, &in, OctetString_PDU) != 0) late = nullptr;
        QRT_ASN_FreePDU(v, OctetString_PDU);
    });
    t2.join();
    EXPECT_NE(late, nullptr);

    // flags set on the master reach threads started afterwards, not this one's copy
    ASSERT_EQ(QRT_ASN_SetFlags(QRT_ASN_FLAG_STRICT_DER), 0);
    Bytes ber = {0x04, 0x81, 0x01, 'x'};
    BIN in{4, ber.data()};
    void *v = nullptr;
    EXPECT_EQ(QRT_ASN_DecodePDU(&v, &in, OctetString_PDU), 0);
    QRT_ASN_FreePDU(v, OctetString_PDU);
    int strict_rc = 0;
    std::thread t3([&] {
        void *w = nullptr;
        strict_rc = QRT_ASN_DecodePDU(&w, &in, OctetString_PDU);
        QRT_ASN_FreePDU(w, OctetString_PDU);
        QRT_Trace_ClearError();
    });
    t3.join();
    EXPECT_EQ(strict_rc, QRT_ASN_DECODE_FAILED);
    // restore the lenient master for the other tests of this process
    QRT_ASN_FinalizeEx();
    QRT_ASN_Initialize();
}

TEST_F(AsnTest, CallerContextCopies) {
    ZQ_ASN_CTX master, copy;
    ASSERT_EQ(QRT_OssInit(&master), 0);
    ASSERT_EQ(QRT_OssDupCtx(&master, &copy), 0);
    EXPECT_EQ(copy.flags, master.flags);
    EXPECT_EQ(QRT_OssFinal(&copy), 0);
    QRT_OssFinal(&master);
    // a master that was shut down is set up again and the copy made
    EXPECT_EQ(QRT_OssDupCtx(&master, &copy), 0);
    QRT_OssFreeBuf(&copy, QRT_malloc(8));
    QRT_OssFreeBuf(&copy, nullptr);
    QRT_OssFinal(&copy);
    QRT_OssFinal(&master);
}

// Every registry row: the constant holds its contents octets and converts to its dotted form
// and back.
TEST_F(AsnTest, RegistryIdentifiersConvertBothWays) {
    std::ifstream in("../shared/data/oids.tsv");
    ASSERT_TRUE(in);
    std::string line;
    std::getline(in, line);
    int rows = 0, indexed = 0;
    while (std::getline(in, line)) {
        std::istringstream ss(line);
        std::string index, name, dotted, hex;
        std::getline(ss, index, '\t');
        std::getline(ss, name, '\t');
        std::getline(ss, dotted, '\t');
        std::getline(ss, hex, '\t');
        ObjectID parsed{0, nullptr};
        ASSERT_EQ(QRT_ASN_DotVal2OID(&parsed, dotted.c_str()), 0) << name;
        EXPECT_EQ(ostrel::test::to_hex(parsed.value, parsed.length), hex) << name;
        char *text = nullptr;
        ASSERT_EQ(QRT_ASN_OID2DotVal(&text, &parsed), 0) << name;
        EXPECT_EQ(std::string(text), dotted) << name;
        QRT_free(text);
        if (index != "-") {
            const ObjectID *c = QRT_ASN_GetOID(std::stoi(index));
            ASSERT_NE(c, nullptr) << name;
            EXPECT_EQ(QRT_ASN_CmpOID(c, &parsed), 0) << name;
            ++indexed;
        }
        QRT_ASN_ResetOID(&parsed);
        ++rows;
    }
    EXPECT_GT(rows, 350);
    EXPECT_GT(indexed, 300);
    EXPECT_EQ(QRT_ASN_GetOID(13), &rsaEncryption);
    EXPECT_EQ(QRT_ASN_GetOID(250), nullptr);
    EXPECT_EQ(QRT_ASN_GetOID(375), nullptr);
    EXPECT_EQ(QRT_ASN_GetOID(-1), nullptr);
    EXPECT_EQ(QRT_GetObjectID(128), &id_ce_keyUsage);
}

TEST_F(AsnTest, IdentifierConversionsRefuseBadForms) {
    ObjectID oid{7, reinterpret_cast<unsigned char *>(1)};
    EXPECT_EQ(QRT_ASN_DotVal2OID(&oid, "2.5.29.15"), 0);
    EXPECT_EQ(ostrel::test::to_hex(oid.value, oid.length), "551d0f");
    ObjectID prefix{2, oid.value};
    EXPECT_EQ(QRT_ASN_CmpOID(&oid, &prefix), 1);
    ObjectID copy{0, nullptr};
    EXPECT_EQ(QRT_ASN_CopyOID(&copy, &oid), 0);
    EXPECT_EQ(QRT_ASN_CmpOID(&copy, &oid), 0);
    QRT_ASN_ResetOID(&copy);
    QRT_ASN_ResetOID(&oid);
    QRT_ASN_ResetOID(nullptr);
    EXPECT_EQ(oid.length, 0);

    for (const char *bad : {"", "2", "3.1", "1.40", "1..2", "1.2.", "1.2a", "-1.2"}) {
        EXPECT_EQ(QRT_ASN_DotVal2OID(&oid, bad), QRT_ASN_OSS_FAILED) << bad;
        EXPECT_EQ(oid.value, nullptr);
        auto recs = trace_records();
        ASSERT_EQ(recs.size(), 2u) << bad;
        EXPECT_EQ(trace_field(recs[0], 2), "ossDotValToEncodedOid");
        EXPECT_EQ(trace_field(recs[1], 2), "QRT_ASN_DotVal2OID");
    }
    unsigned char unterminated[] = {0x55, 0x9d};
    unsigned char padded[] = {0x55, 0x80, 0x01};
    for (ObjectID bad : {ObjectID{2, unterminated}, ObjectID{3, padded}, ObjectID{0, nullptr}}) {
        char *text = nullptr;
        EXPECT_EQ(QRT_ASN_OID2DotVal(&text, &bad), QRT_ASN_OSS_FAILED);
        EXPECT_EQ(text, nullptr);
        auto recs = trace_records();
        ASSERT_EQ(recs.size(), 2u);
        EXPECT_EQ(trace_field(recs[0], 2), "ossEncodedOidToDotVal");
    }
    EXPECT_EQ(QRT_ASN_OID2DotVal(nullptr, &oid), QRT_ASN_INVALID_INPUT);
    ZQ_ASN_CTX world;
    QRT_OssInit(&world);
    char *text = nullptr;
    EXPECT_EQ(QRT_EncodedOIDToDotVal(&world, &sha_256, &text), 0);
    EXPECT_STREQ(text, "2.16.840.1.101.3.4.2.1");
    QRT_free(text);
    EXPECT_EQ(QRT_DotValToEncodedOID(&world, "x", &oid), QRT_ASN_OSS_FAILED);
    QRT_OssFinal(&world);
    EXPECT_TRUE(trace_records().empty());
}

TEST_F(AsnTest, AlgorithmNumbersAndBagTypes) {
    ZQ_ASN_CTX *w = QRT_ASN_AcquireCTX();
    struct {
        int (*fn)(ZQ_ASN_CTX *, const ObjectID *);
        const ObjectID *oid;
        int want;
    } cases[] = {
        {QRT_GetDigestAlg, &sha_1, 2},  {QRT_GetDigestAlg, &hash160, 5}, {QRT_GetDigestAlg, &sha_512, 9},
        {QRT_GetDigestAlg, &rsaEncryption, -1}, {QRT_GetSigAlg, &sha1WithRSAEncryption, 2},
        {QRT_GetSigAlg, &md2WithRSAEncryption, 0}, {QRT_GetSigAlg, &id_RSASSA_PSS, 7},
        {QRT_GetEncAlg, &seedOFB, 10},  {QRT_GetEncAlg, &desCBC, 0},     {QRT_GetEncAlg, &des_ede3_cbc, 1},
        {QRT_GetEncAlg, &rc2CBC, 2},    {QRT_GetEncAlg, &kcdsa, 9},      {QRT_GetEncAlg, &id_RSAES_OAEP, 11},
        {QRT_GetEncAlg, nullptr, -1},
    };
    for (auto &c : cases) EXPECT_EQ(c.fn(w, c.oid), c.want);
    EXPECT_EQ(QRT_GetSigAlg(nullptr, &sha1WithRSAEncryption), -1);
    EXPECT_EQ(QRT_ASN_GetBagType(0), &keyBag);
    EXPECT_EQ(QRT_ASN_GetBagType(8), &x509CRL);
    EXPECT_EQ(QRT_GetBagType(9), nullptr);
    EXPECT_EQ(QRT_GetBagType(-1), nullptr);
}


TEST_F(AsnTest, TimesConvertInEveryZone) {
    for (const char *tz : {"UTC", "Asia/Seoul", "America/New_York", "Europe/Moscow", "Australia/Lord_Howe"}) {
        ostrel::test::ScopedTZ zone(tz);
        for (time_t t : {time_t{0}, time_t{951782400}, time_t{1700000000}, time_t{2147483647}, time_t{1100000000},
                          time_t{1350000000} /* Moscow kept UTC+4 then */}) {
            GeneralizedTime g;
            QRT_ASN_Time2General(&g, t);
            EXPECT_EQ(g.utc, 1);
            EXPECT_EQ(QRT_ASN_General2Time(&g), t) << tz << " " << t;
            UTCTime u;
            QRT_Time2UTC(t, &u);
            if (t >= 31536000) {  // 1970 reads as 2070
                EXPECT_EQ(QRT_UTC2Time(&u), t) << tz << " " << t;
            }
        }
    }
    UTCTime u;
    QRT_ASN_Time2UTC(&u, 946684800);  // 2000-01-01
    EXPECT_EQ(u.year, 0);
    QRT_ASN_Time2UTC(&u, 1104537600);  // 2005-01-01
    EXPECT_EQ(u.year, 5);
    GeneralizedTime g;
    QRT_Time2General(946684800, &g);
    EXPECT_EQ(g.year, 2000);
    EXPECT_EQ(g.month, 1);
    u = UTCTime{};
    u.month = 1;
    u.day = 1;
    u.year = 70;
    EXPECT_EQ(QRT_ASN_UTC2Time(&u), 3155760000);  // 2070
    u.year = 71;
    EXPECT_EQ(QRT_ASN_UTC2Time(&u), 31536000);  // 1971
    char *from = nullptr, *to = nullptr;
    {
        ostrel::test::ScopedTZ zone("UTC");
        UTCTime a{}, b{};
        a.year = 24; a.month = 3; a.day = 4; a.hour = 5; a.minute = 6; a.second = 7;
        b = a;
        b.year = 49;
        ASSERT_EQ(QRT_UTC2String(&a, &b, &from, &to), 0);
        EXPECT_STREQ(from, "2024-03-04 05:06:07");
        EXPECT_STREQ(to, "2049-03-04 05:06:07");
        QRT_free(from);
        QRT_free(to);
    }
    EXPECT_EQ(QRT_UTC2String(nullptr, &u, &from, &to), QRT_ASN_INVALID_INPUT);
}

TEST_F(AsnTest, LibraryFrame) {
    EXPECT_STREQ(QRT_ASN_GetVersion(), "1.7.0.0");
    EXPECT_STREQ(QRT_GetVersionASN(), "1.7.0.0");
    EXPECT_EQ(QRT_ASN_CheckVersion("1.7.0.0"), 0);
    EXPECT_EQ(QRT_ASN_CheckVersion(nullptr), 0);
    EXPECT_EQ(QRT_ASN_CheckVersion("1.7.0.1"), -1);
    EXPECT_STREQ(QRT_ASN_GetErrorReason(1022, 1), "oss decode failed");
    EXPECT_STREQ(QRT_GetErrReasonASN(1030, 1), "mutex failed");
    EXPECT_STREQ(QRT_ASN_GetErrorReason(8032, 1), "file not found");
    EXPECT_STREQ(QRT_ASN_GetErrorReason(1999, 1), "");
    EXPECT_STREQ(QRT_ASN_GetErrorReason(1001, 2), "");
    // Korean texts come as EUC-KR: "oss " then two-byte characters
    const char *ko = QRT_ASN_GetErrorReason(1022, 0);
    ASSERT_GT(std::strlen(ko), 12u);
    EXPECT_EQ(std::string(ko).substr(0, 11), "oss decode ");
    EXPECT_GE(static_cast<unsigned char>(ko[11]), 0xA1);
}

}  // namespace

// The release hook runs for every released value of its type, wherever it sits: inside a whole
// CertificateList, alone, in a copy, and in a tree whose decoding failed half-way.
namespace {
std::vector<void *> g_released;
void note_release(void *v) { g_released.push_back(v); }
}  // namespace

TEST_F(AsnTest, ReleaseHookSeesEveryValueOfItsType) {
    ASSERT_EQ(QRT_ASN_SetReleaseHook(TBSCertList_PDU, note_release), 0);
    ASSERT_EQ(QRT_ASN_SetReleaseHook(TBSCertList_PDU, note_release), 0);  // once only
    EXPECT_EQ(QRT_ASN_SetReleaseHook(TBSCertList_PDU, nullptr), QRT_ASN_INVALID_INPUT);
    EXPECT_EQ(QRT_ASN_SetReleaseHook(ExtKeyUsageSyntax_PDU, note_release), QRT_ASN_INVALID_INPUT);  // a list
    std::string der = ostrel::test::read_file("../shared/conformance/pkits/crls/GoodCACRL.crl");
    BIN in{static_cast<unsigned>(der.size()), reinterpret_cast<unsigned char *>(der.data())};

    g_released.clear();
    void *crl = nullptr;
    ASSERT_EQ(QRT_ASN_DecodePDU(&crl, &in, CertificateList_PDU), 0);
    void *tbs = &static_cast<CertificateList *>(crl)->tbsCertList;
    void *copy = nullptr;
    ASSERT_EQ(QRT_ASN_CopyPDU(&copy, tbs, TBSCertList_PDU), 0);
    QRT_ASN_FreePDU(crl, CertificateList_PDU);
    QRT_ASN_FreePDU(copy, TBSCertList_PDU);
    EXPECT_EQ(g_released, (std::vector<void *>{tbs, copy}));

    g_released.clear();
    BIN cut{in.length - 10, in.value};
    ASSERT_NE(QRT_ASN_DecodePDU(&crl, &cut, CertificateList_PDU), 0);
    EXPECT_EQ(g_released.size(), 1u);
}
