// The CRL library: PKITS CRLs (signatures, freshness, negative and long serials), a CRL of an
// openssl CA (revocation times and reasons), hand-built CRLs (no nextUpdate, a duplicate
// serial), the revocation index against a linear scan from many threads, an index that must not
// outlive its tree, and truncated input.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <map>
#include <random>
#include <thread>

#include "asn_test_util.hpp"
#include "ostrel/der_build.hpp"
#include "ostrel/test_support.hpp"
#include "suite_crl.h"
#include "suite_csp.h"

namespace {

using asn_test::Bytes;
using asn_test::files_in;
using namespace ostrel::test::der;
using ostrel::test::trace_text;

constexpr time_t kPkitsTime = 1592179200;  // 2020-06-15T00:00:00Z
const std::string kPkits = "../shared/conformance/pkits/";

using asn_test::view;
Bytes file(const std::string &path) { return asn_test::file_bytes(path); }

struct Crl : ostrel::AsnTree<CertificateList> {
    int rc;
    explicit Crl(const Bytes &der) : ostrel::AsnTree<CertificateList>(CertificateList_PDU) {
        BIN in = view(der);
        CertificateList *out = nullptr;
        rc = QRT_GetCRLCtxBin(0, &in, &out);
        reset(out);
    }
    const TBSCertList *tbs() const { return &get()->tbsCertList; }
};

struct Cert : ostrel::AsnTree<Certificate> {
    explicit Cert(const Bytes &der) : ostrel::AsnTree<Certificate>(Certificate_PDU) {
        BIN in = view(der);
        EXPECT_EQ(decode(&in), 0);
    }
};

HUGE huge(const Bytes &b) { return HUGE{static_cast<unsigned short>(b.size()), const_cast<unsigned char *>(b.data())}; }

// ---- PKITS ----------------------------------------------------------------------------------

// Every PKITS CRL verifies under a certificate whose subject is its issuer, except the one with a
// deliberately broken signature, which gives 33050. DSA parameters inherit from the DSA CA.
TEST(CrlPkits, SignaturesUnderTheirIssuers) {
    auto certs = files_in(kPkits + "certs");
    auto crls = files_in(kPkits + "crls");
    ASSERT_GT(crls.size(), 170u);
    std::vector<std::unique_ptr<Cert>> decoded;
    std::multimap<std::string, size_t> by_subject;
    for (auto &[name, der] : certs) {
        decoded.push_back(std::make_unique<Cert>(der));
        const Any &s = decoded.back()->get()->tbsCertificate.subject_encoded;
        by_subject.emplace(std::string(reinterpret_cast<const char *>(s.value), s.length), decoded.size() - 1);
    }
    Cert dsa_ca(file(kPkits + "certs/DSACACert.crt"));
    const AlgorithmIdentifier &dsa_alg = dsa_ca->tbsCertificate.subjectPublicKeyInfo.algorithm;
    BIN dsa_params = dsa_alg.parameters;

    int verified = 0;
    for (auto &[name, der] : crls) {
        Crl crl(der);
        ASSERT_EQ(crl.rc, 0) << name;
        const Any &issuer = crl->tbsCertList.issuer_encoded;
        auto range = by_subject.equal_range(std::string(reinterpret_cast<const char *>(issuer.value), issuer.length));
        int best = -1;
        for (auto it = range.first; it != range.second && best != 0; ++it)
            best = QRT_CRL_VerifySignatureEx(crl.get(), &decoded[it->second]->get()->tbsCertificate, &dsa_params);
        // A few CRLs name their issuer in another encoding, or a wrong one on purpose.
        for (size_t i = 0; i < decoded.size() && best != 0; ++i)
            best = QRT_CRL_VerifySignatureEx(crl.get(), &decoded[i]->get()->tbsCertificate, &dsa_params);
        if (name == "BadCRLSignatureCACRL.crl") {
            EXPECT_EQ(best, QRT_CRL_INVALID_SIGNATURE) << name;
        } else {
            EXPECT_EQ(best, 0) << name << "\n" << trace_text();
            verified += best == 0;
        }
    }
    EXPECT_EQ(verified, static_cast<int>(crls.size()) - 1);
}

TEST(CrlPkits, SerialsAndFreshness) {
    struct Case {
        const char *test, *cert, *crl;
        int revoked;
    } cases[] = {
        {"4.4.3", "InvalidRevokedEETest3EE.crt", "GoodCACRL.crl", 1},
        {"4.4.3 good", "ValidCertificatePathTest1EE.crt", "GoodCACRL.crl", 0},
        {"4.4.14", "ValidNegativeSerialNumberTest14EE.crt", "NegativeSerialNumberCACRL.crl", 0},
        {"4.4.15", "InvalidNegativeSerialNumberTest15EE.crt", "NegativeSerialNumberCACRL.crl", 1},
        {"4.4.16", "ValidLongSerialNumberTest16EE.crt", "LongSerialNumberCACRL.crl", 0},
        {"4.4.17", "ValidLongSerialNumberTest17EE.crt", "LongSerialNumberCACRL.crl", 0},
        {"4.4.18", "InvalidLongSerialNumberTest18EE.crt", "LongSerialNumberCACRL.crl", 1},
    };
    for (const Case &c : cases) {
        Cert cert(file(kPkits + "certs/" + c.cert));
        Crl crl(file(kPkits + "crls/" + c.crl));
        ASSERT_EQ(crl.rc, 0) << c.test;
        const HUGE &serial = cert->tbsCertificate.serialNumber;
        EXPECT_EQ(QRT_CRL_IsCertRevoked(crl.tbs(), &serial), c.revoked) << c.test;
        EXPECT_EQ(QRT_CRL_VerifyTime(crl.tbs(), kPkitsTime), 0) << c.test;
        int when = 0, reason = -1;
        EXPECT_EQ(QRT_IsCertRevokedSerialAndGetRevokedInfo(0, crl.tbs(), &serial, &when, &reason), c.revoked) << c.test;
        if (c.revoked) {
            EXPECT_NEAR(when, 1262334600, 60) << c.test;  // 2010-01-01 08:30Z
        }
    }

    // 4.4.11: nextUpdate in 2010.
    Cert ee(file(kPkits + "certs/InvalidOldCRLnextUpdateTest11EE.crt"));
    Crl old(file(kPkits + "crls/OldCRLnextUpdateCACRL.crl"));
    EXPECT_EQ(QRT_CRL_VerifyTime(old.tbs(), kPkitsTime), QRT_CRL_INVALID_TIME);
    EXPECT_EQ(QRT_IsCRLCtxTimeOut(old.tbs()), 1);
    EXPECT_EQ(QRT_IsCertRevokedSerial(0, old.tbs(), &ee->tbsCertificate.serialNumber), QRT_CRL_EXPIRED);
    Bytes der = file(kPkits + "crls/OldCRLnextUpdateCACRL.crl");
    BIN in = view(der);
    EXPECT_EQ(QRT_IsCRLTimeOut(0, &in), 1);
}

// ---- an openssl CA --------------------------------------------------------------------------

TEST(CrlOpenssl, RevocationTimesAndReasons) {
    if (!ostrel::test::have_command("openssl")) GTEST_SKIP() << "no openssl command";
    ostrel::test::TempDir dir;
    auto p = [&](const std::string &n) { return dir / n; };
    ostrel::test::write_file(p("ca.cnf"),
                             "[ca]\ndefault_ca=d\n[d]\ndir=.\ndatabase=index.txt\nnew_certs_dir=.\nserial=serial\n"
                             "crlnumber=crlnumber\ndefault_md=sha256\npolicy=p\ndefault_days=30\ndefault_crl_days=30\n"
                             "certificate=ca.pem\nprivate_key=ca.key\n[p]\ncommonName=supplied\n");
    ostrel::test::write_file(p("index.txt"), "");
    ostrel::test::write_file(p("serial"), "1001\n");
    ostrel::test::write_file(p("crlnumber"), "01\n");
    auto sh = [&](const std::string &cmd) { return ostrel::test::run("cd " + dir.path() + " && " + cmd + " >>log.txt 2>&1"); };
    ASSERT_EQ(sh("openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -subj /CN=CRL-CA -days 30"), 0);
    for (const char *n : {"a", "b", "c"}) {
        ASSERT_EQ(sh(std::string("openssl req -newkey rsa:2048 -nodes -keyout ") + n + ".key -out " + n + ".csr -subj /CN=" + n), 0);
        ASSERT_EQ(sh(std::string("openssl ca -batch -config ca.cnf -in ") + n + ".csr -out " + n + ".pem"), 0);
    }
    ASSERT_EQ(sh("openssl ca -config ca.cnf -revoke a.pem -crl_compromise 20200102030405Z"), 0);
    ASSERT_EQ(sh("openssl ca -config ca.cnf -revoke b.pem -crl_reason superseded"), 0);
    ASSERT_EQ(sh("openssl ca -config ca.cnf -gencrl -md sha1 -out crl.pem && openssl crl -in crl.pem -outform DER -out crl.der"), 0);

    Crl crl(file(p("crl.der")));
    ASSERT_EQ(crl.rc, 0);
    auto pem_cert = [&](const char *n) { return asn_test::pem_blocks(ostrel::test::read_file(p(n)), "CERTIFICATE").at(0); };
    Cert ca(pem_cert("ca.pem")), a(pem_cert("a.pem")), b(pem_cert("b.pem")), c(pem_cert("c.pem"));
    EXPECT_EQ(QRT_CRL_VerifySignature(crl.get(), &ca->tbsCertificate), 0) << trace_text();
    EXPECT_EQ(QRT_CRL_VerifySignature(crl.get(), &a->tbsCertificate), QRT_CRL_INVALID_SIGNATURE);
    EXPECT_EQ(QRT_CRL_VerifyTime(crl.tbs(), time(nullptr)), 0);

    int when = 0, reason = -1;
    EXPECT_EQ(QRT_IsCertRevokedSerialAndGetRevokedInfo(0, crl.tbs(), &a->tbsCertificate.serialNumber, &when, &reason), 1);
    EXPECT_EQ(reason, 1);  // keyCompromise
    EXPECT_LE(std::abs(when - static_cast<int>(time(nullptr))), 600);
    EXPECT_EQ(QRT_IsCertRevokedSerialAndGetRevokedInfo(0, crl.tbs(), &b->tbsCertificate.serialNumber, &when, &reason), 1);
    EXPECT_EQ(reason, 4);  // superseded
    EXPECT_EQ(QRT_IsCertRevokedSerialAndGetRevokedInfo(0, crl.tbs(), &c->tbsCertificate.serialNumber, &when, &reason), 0);
}

// ---- hand-built CRLs ------------------------------------------------------------------------

TEST(CrlEdges, NoNextUpdateDuplicatesAndReasons) {
    Bytes entries = cat({crl_entry({0x05}, "200101000000Z", 1), crl_entry({0x05}, "210101000000Z", 4),
                         crl_entry({0x00, 0x80}, "220101000000Z"), crl_entry({0x80}, "690101000000Z", 6)});
    Crl stale(certificate_list(tbs_cert_list(entries, "200101000000Z", "")));
    ASSERT_EQ(stale.rc, 0) << trace_text();
    EXPECT_EQ(QRT_CRL_VerifyTime(stale.tbs(), kPkitsTime), QRT_CRL_BAD_CRL);
    EXPECT_EQ(QRT_IsCRLCtxTimeOut(stale.tbs()), 1);
    Bytes five{0x05};
    HUGE h5 = huge(five);
    EXPECT_EQ(QRT_IsCertRevokedSerial(0, stale.tbs(), &h5), QRT_CRL_EXPIRED);
    EXPECT_EQ(QRT_CRL_IsCertRevoked(stale.tbs(), &h5), 1);  // the serial-only form ignores freshness

    Crl fresh(certificate_list(tbs_cert_list(entries, "200101000000Z", "491231235959Z")));
    ASSERT_EQ(fresh.rc, 0);
    int when = 0, reason = -1;
    // The first of two entries with one serial answers.
    EXPECT_EQ(QRT_IsCertRevokedSerialAndGetRevokedInfo(0, fresh.tbs(), &h5, &when, &reason), 1);
    EXPECT_EQ(when, 1577836800);
    EXPECT_EQ(reason, 1);
    // No reasonCode: 0, unspecified. Length counts: 00 80 is not 80.
    Bytes p0080{0x00, 0x80}, p80{0x80}, p0005{0x00, 0x05};
    HUGE h0080 = huge(p0080), h80 = huge(p80), h0005 = huge(p0005);
    EXPECT_EQ(QRT_IsCertRevokedSerialAndGetRevokedInfo(0, fresh.tbs(), &h0080, &when, &reason), 1);
    EXPECT_EQ(reason, 0);
    EXPECT_EQ(QRT_IsCertRevokedSerialAndGetRevokedInfo(0, fresh.tbs(), &h80, &when, &reason), 1);
    EXPECT_EQ(when, -31536000);  // UTCTime 69 is 1969
    EXPECT_EQ(reason, 6);
    EXPECT_EQ(QRT_IsCertRevokedSerial(0, fresh.tbs(), &h0005), 0);
    EXPECT_EQ(QRT_CRL_IsCertRevoked(fresh.tbs(), &h0005), 0);

    // Freshness across the UTCTime pivot: 49 is 2049, 50 is 1950.
    Crl y49(certificate_list(tbs_cert_list({}, "200101000000Z", "491231235959Z")));
    Crl y50(certificate_list(tbs_cert_list({}, "200101000000Z", "500101000000Z")));
    EXPECT_EQ(QRT_CRL_VerifyTime(y49.tbs(), kPkitsTime), 0);
    EXPECT_EQ(QRT_CRL_VerifyTime(y50.tbs(), kPkitsTime), QRT_CRL_INVALID_TIME);

    // A reasonCode that does not decode.
    Bytes bad_ext = seq({tlv(0x06, {0x55, 0x1d, 0x15}), tlv(0x04, {0x0a, 0x05})});
    Bytes bad_entry = seq({integer({0x07}), utc("200101000000Z"), seq({bad_ext})});
    Crl bad(certificate_list(tbs_cert_list(bad_entry, "200101000000Z", "491231235959Z")));
    ASSERT_EQ(bad.rc, 0);
    Bytes seven{0x07};
    HUGE h7 = huge(seven);
    EXPECT_EQ(QRT_IsCertRevokedSerialAndGetRevokedInfo(0, bad.tbs(), &h7, &when, &reason), QRT_CRL_BAD_CRL);
    EXPECT_EQ(QRT_IsCertRevokedSerialGetRevokedTime(0, bad.tbs(), &h7, &when), 1);  // the reason is not asked for

    EXPECT_EQ(QRT_IsCertRevokedSerial(0, nullptr, &h7), QRT_CRL_INVALID_INPUT);
    EXPECT_EQ(QRT_CRL_IsCertRevoked(nullptr, &h7), 0);
    EXPECT_EQ(QRT_CRL_VerifySignature(nullptr, nullptr), QRT_CRL_INVALID_INPUT);
}

TEST(CrlEdges, EveryPrefixFails) {
    Bytes der = file(kPkits + "crls/GoodCACRL.crl");
    for (size_t n = 0; n < der.size(); ++n) {
        Bytes part(der.begin(), der.begin() + static_cast<long>(n));
        BIN in = view(part);
        CertificateList *out = reinterpret_cast<CertificateList *>(1);
        ASSERT_EQ(QRT_GetCRLCtxBin(0, &in, &out), QRT_CRL_BAD_CRL) << n;
        EXPECT_EQ(out, nullptr);
    }
}

TEST(CrlFrame, TextsAndVersion) {
    EXPECT_STREQ(QRT_CRL_GetVersion(), "1.5.1.1");
    EXPECT_EQ(QRT_CRL_CheckVersion("1.5.1.1"), 0);
    EXPECT_EQ(QRT_CRL_CheckVersion("1.5.1.2"), -1);
    EXPECT_STREQ(QRT_CRL_GetErrorReason(33080, 1), "crl expired");
    std::string korean = QRT_CRL_GetErrorReason(33050, 0);
    EXPECT_FALSE(korean.empty());
    EXPECT_NE(korean, "invalid signature");
    EXPECT_STREQ(QRT_CRL_GetErrorReason(33999, 1), "");
    EXPECT_STREQ(QRT_CRL_GetErrorReason(6012, 1), QRT_CSP_GetErrorReason(6012, 1));
}

// ---- the index --------------------------------------------------------------------------------

Bytes serial_of(uint32_t i) {
    // Varied lengths and a leading 00 where the high bit is set, like real serials.
    Bytes s;
    for (uint32_t v = i * 2654435761u; v; v >>= 8) s.insert(s.begin(), static_cast<unsigned char>(v));
    if (s.empty() || (s[0] & 0x80)) s.insert(s.begin(), 0x00);
    return s;
}

Bytes big_crl(uint32_t n) {
    Bytes entries;
    entries.reserve(n * 24);
    for (uint32_t i = 0; i < n; ++i) {
        Bytes e = crl_entry(serial_of(i), "200101000000Z");
        entries.insert(entries.end(), e.begin(), e.end());
    }
    return certificate_list(tbs_cert_list(entries, "200101000000Z", "491231235959Z"));
}

const TBSCertList_revokedCertificates_Elem *linear(const TBSCertList *tbs, const Bytes &s) {
    for (auto *e = tbs->revokedCertificates; e; e = e->next)
        if (e->value.userCertificate.length == s.size() && std::memcmp(e->value.userCertificate.value, s.data(), s.size()) == 0)
            return &e->value;
    return nullptr;
}

// Eight threads query one freshly decoded CRL at once (the first look-ups race to build the
// index) and agree with a linear scan.
TEST(CrlIndex, ThreadsAgreeWithLinearScan) {
    constexpr uint32_t kEntries = 100000;
    Crl crl(big_crl(kEntries));
    ASSERT_EQ(crl.rc, 0);
    std::vector<Bytes> probes;
    for (uint32_t i = 0; i < 400; ++i) {
        probes.push_back(serial_of(i * 251 % kEntries));                 // present
        probes.push_back(serial_of(kEntries + i));                       // absent
        Bytes twisted = serial_of(i);
        twisted.back() ^= 1;
        probes.push_back(twisted);                                       // one bit off
    }
    std::vector<int> expected;
    for (auto &s : probes) expected.push_back(linear(crl.tbs(), s) != nullptr);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            for (size_t k = 0; k < probes.size(); ++k) {
                size_t i = (k + static_cast<size_t>(t) * 97) % probes.size();
                HUGE h = huge(probes[i]);
                if (QRT_CRL_IsCertRevoked(crl.tbs(), &h) != expected[i]) ++wrong;
            }
        });
    for (auto &th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
}

// A CRL decoded where a released one lay must not be answered from the released one's index.
TEST(CrlIndex, ReleasedTreeTakesItsIndexAlong) {
    Bytes first = certificate_list(tbs_cert_list(cat({crl_entry({0x01}, "200101000000Z"), crl_entry({0x02}, "200101000000Z")}),
                                                  "200101000000Z", "491231235959Z"));
    Bytes second = certificate_list(tbs_cert_list(cat({crl_entry({0x03}, "200101000000Z"), crl_entry({0x04}, "200101000000Z")}),
                                                   "200101000000Z", "491231235959Z"));
    Bytes one{0x01}, three{0x03};
    HUGE h1 = huge(one), h3 = huge(three);
    int reused = 0;
    for (int round = 0; round < 20; ++round) {
        const void *address;
        {
            Crl a(first);
            address = a.get();
            ASSERT_EQ(QRT_CRL_IsCertRevoked(a.tbs(), &h1), 1);
        }
        Crl b(second);
        reused += b.get() == address;
        ASSERT_EQ(QRT_CRL_IsCertRevoked(b.tbs(), &h3), 1) << round;
        ASSERT_EQ(QRT_CRL_IsCertRevoked(b.tbs(), &h1), 0) << round;
    }
    // The same holds for a TBSCertList decoded alone and for copies.
    Crl src(second);
    void *tbs = nullptr;
    ASSERT_EQ(QRT_ASN_CopyPDU(&tbs, src.tbs(), TBSCertList_PDU), 0);
    EXPECT_EQ(QRT_CRL_IsCertRevoked(static_cast<TBSCertList *>(tbs), &h3), 1);
    QRT_ASN_FreePDU(tbs, TBSCertList_PDU);
    RecordProperty("address_reused", reused);
}

}  // namespace
