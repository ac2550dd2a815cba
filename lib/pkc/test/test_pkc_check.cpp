// Certificate checks on PKITS: signatures (RSA, DSA, DSA with inherited parameters, broken
// ones), validity dates across the UTCTime pivot, the combined check with a CRL, and the CA
// and usage tests on certificates the openssl command line makes.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "asn_test_util.hpp"
#include "ostrel/test_support.hpp"
#include "suite_csp.h"
#include "suite_pkc.h"

namespace {

using asn_test::Bytes;
using ostrel::test::trace_text;

constexpr time_t kPkitsTime = 1592179200;  // 2020-06-15T00:00:00Z
const std::string kPkits = "../shared/conformance/pkits/";

using asn_test::view;
Bytes file(const std::string &path) { return asn_test::file_bytes(path); }

struct Cert : ostrel::AsnTree<Certificate> {
    explicit Cert(const Bytes &der) : ostrel::AsnTree<Certificate>(Certificate_PDU) {
        BIN in = view(der);
        EXPECT_EQ(decode(&in), 0);
    }
    explicit Cert(const std::string &pkits_name) : Cert(file(kPkits + "certs/" + pkits_name)) {}
    const TBSCertificate *tbs() const { return &get()->tbsCertificate; }
};

struct Crl : ostrel::AsnTree<CertificateList> {
    explicit Crl(const std::string &pkits_name) : ostrel::AsnTree<CertificateList>(CertificateList_PDU) {
        CertificateList *out = nullptr;
        EXPECT_EQ(QRT_GetCRLCtx(0, (kPkits + "crls/" + pkits_name).c_str(), &out), 0);
        reset(out);
    }
};

TEST(PkcPkits, Signatures) {
    Cert anchor("TrustAnchorRootCertificate.crt"), good_ca("GoodCACert.crt"), dsa_ca("DSACACert.crt");
    Cert inherited_ca("DSAParametersInheritedCACert.crt");
    struct Case {
        const char *test;
        const char *cert;
        const Cert *issuer;
        int expected;
    } cases[] = {
        {"4.1.1 CA", "GoodCACert.crt", &anchor, 0},
        {"4.1.1 EE", "ValidCertificatePathTest1EE.crt", &good_ca, 0},
        {"4.1.2", "BadSignedCACert.crt", &anchor, QRT_PKC_INVALID_SIGNATURE},
        {"4.1.3", "InvalidEESignatureTest3EE.crt", &good_ca, QRT_PKC_INVALID_SIGNATURE},
        {"4.1.4 CA", "DSACACert.crt", &anchor, 0},
        {"4.1.4 EE", "ValidDSASignaturesTest4EE.crt", &dsa_ca, 0},
        {"4.1.5 CA", "DSAParametersInheritedCACert.crt", &dsa_ca, 0},
        {"wrong issuer", "ValidCertificatePathTest1EE.crt", &anchor, QRT_PKC_INVALID_SIGNATURE},
    };
    for (const Case &c : cases) {
        Cert cert(std::string(c.cert));
        EXPECT_EQ(QRT_PKC_VerifySignature(cert.get(), c.issuer->tbs()), c.expected) << c.test << "\n" << trace_text();
    }
    // 4.1.5: the EE's issuer carries no DSA parameters; they come from its own issuer.
    Cert ee("ValidDSAParameterInheritanceTest5EE.crt");
    BIN params = dsa_ca->tbsCertificate.subjectPublicKeyInfo.algorithm.parameters;
    EXPECT_EQ(QRT_PKC_VerifySignatureEx(ee.get(), inherited_ca.tbs(), &params), 0) << trace_text();
    EXPECT_NE(QRT_PKC_VerifySignature(ee.get(), inherited_ca.tbs()), 0);
    EXPECT_EQ(QRT_CheckSignature(0, nullptr, anchor.tbs()), QRT_PKC_INVALID_INPUT);
}

// Validity at 2020-06-15, UTCTime years 50-99 in the 1900s.
TEST(PkcPkits, Dates) {
    struct Case {
        const char *test, *cert;
        int expected;
    } cases[] = {
        {"4.2.1", "BadnotBeforeDateCACert.crt", QRT_PKC_INVALID_TIME},
        {"4.2.2", "InvalidEEnotBeforeDateTest2EE.crt", QRT_PKC_INVALID_TIME},
        {"4.2.3", "Validpre2000UTCnotBeforeDateTest3EE.crt", 0},
        {"4.2.4", "ValidGeneralizedTimenotBeforeDateTest4EE.crt", 0},
        {"4.2.5", "BadnotAfterDateCACert.crt", QRT_PKC_INVALID_TIME},
        {"4.2.6", "InvalidEEnotAfterDateTest6EE.crt", QRT_PKC_INVALID_TIME},
        {"4.2.7", "Invalidpre2000UTCEEnotAfterDateTest7EE.crt", QRT_PKC_INVALID_TIME},
        {"4.2.8", "ValidGeneralizedTimenotAfterDateTest8EE.crt", 0},
    };
    for (const Case &c : cases) {
        Cert cert(std::string(c.cert));
        EXPECT_EQ(QRT_PKC_VerifyTime(cert.tbs(), kPkitsTime), c.expected) << c.test;
    }
    // Both bounds are inclusive.
    Cert good("ValidCertificatePathTest1EE.crt");
    time_t to = 1924936200;  // 2030-12-31 08:30:00Z
    EXPECT_EQ(QRT_PKC_VerifyTime(good.tbs(), to), 0);
    EXPECT_EQ(QRT_PKC_VerifyTime(good.tbs(), to + 1), QRT_PKC_INVALID_TIME);
    EXPECT_EQ(QRT_PKC_VerifyTime(nullptr, to), QRT_PKC_INVALID_INPUT);
}

TEST(PkcPkits, CombinedCheck) {
    Cert good_ca("GoodCACert.crt"), revoked("InvalidRevokedEETest3EE.crt"), good("ValidCertificatePathTest1EE.crt");
    Crl crl("GoodCACRL.crl");
    EXPECT_EQ(QRT_CertCheck(0, 0, crl.get(), good.get(), good_ca.get(), 0x1111), 0) << trace_text();
    EXPECT_EQ(QRT_CertCheck(0, 0, crl.get(), revoked.get(), good_ca.get(), 0x0011), QRT_PKC_CERT_REVOKED);
    EXPECT_EQ(QRT_CertCheck(0, 0, nullptr, revoked.get(), good_ca.get(), 0x0011), QRT_PKC_INVALID_INPUT);
    EXPECT_EQ(QRT_CertCheck(0, 0, nullptr, good.get(), nullptr, 0), QRT_PKC_INVALID_INPUT);

    // 4.2.5: the issuer expired in 2011; 4.2.6: the certificate did.
    Cert bad_ca("BadnotAfterDateCACert.crt"), ee5("InvalidCAnotAfterDateTest5EE.crt");
    EXPECT_EQ(QRT_CertCheck(0, 0, nullptr, ee5.get(), bad_ca.get(), 0x1001), QRT_PKC_ISSUER_CERT_TIME);
    Cert ee6("InvalidEEnotAfterDateTest6EE.crt");
    EXPECT_EQ(QRT_CertCheck(0, 0, nullptr, ee6.get(), good_ca.get(), 0x0101), QRT_PKC_USER_CERT_TIME);
    // A bad signature stops the check before the dates.
    Cert bad_sig("InvalidEESignatureTest3EE.crt");
    EXPECT_EQ(QRT_CertCheck(0, 0, crl.get(), bad_sig.get(), good_ca.get(), 0x1111), QRT_PKC_INVALID_SIGNATURE);
}

// CA and usage tests on certificates with and without the extensions.
TEST(PkcChecks, CaAndUsage) {
    if (!ostrel::test::have_command("openssl")) GTEST_SKIP() << "no openssl command";
    ostrel::test::TempDir dir;
    auto make = [&](const std::string &name, const std::string &exts) {
        ostrel::test::write_file(dir / (name + ".cnf"), "[req]\ndistinguished_name=dn\n[dn]\n[x]\n" + exts);
        std::string cmd = "cd " + dir.path() + " && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout " +
                          name + ".key -subj /CN=" + name + " -days 2 -outform DER -out " + name + ".der -config " + name +
                          ".cnf -extensions x 2>>log.txt";
        EXPECT_EQ(ostrel::test::run(cmd), 0) << name;
        return file(dir / (name + ".der"));
    };
    Cert plain(make("plain", "subjectKeyIdentifier=hash\n"));
    Cert ca(make("ca", "basicConstraints=critical,CA:TRUE\nkeyUsage=keyCertSign,cRLSign\n"));
    Cert ee(make("ee", "basicConstraints=CA:FALSE\nkeyUsage=digitalSignature,nonRepudiation\n"
                        "extendedKeyUsage=serverAuth,OCSPSigning\n"));
    Cert no_ca(make("noca", "basicConstraints=pathlen:0\n"));
    EXPECT_EQ(QRT_CheckCaOrNot(0, plain.get()), 0);
    EXPECT_EQ(QRT_CheckCaOrNot(0, ca.get()), 1);
    EXPECT_EQ(QRT_CheckCaOrNot(0, ee.get()), 0);
    EXPECT_EQ(QRT_CheckCaOrNot(0, no_ca.get()), 0);

    EXPECT_EQ(QRT_CheckCertUsage(0, ee.get(), 2), 0);
    EXPECT_EQ(QRT_CheckCertUsage(0, ee.get(), 1), -1);
    EXPECT_EQ(QRT_CheckCertUsage(0, ee.get(), 4), 0);
    EXPECT_EQ(QRT_CheckCertUsage(0, ee.get(), 7), 0);
    EXPECT_EQ(QRT_CheckCertUsage(0, ee.get(), 8), -1);
    EXPECT_EQ(QRT_CheckCertUsage(0, ee.get(), 9), -1);
    EXPECT_EQ(QRT_CheckCertUsage(0, plain.get(), 2), -1);
    EXPECT_EQ(QRT_CheckCertUsage(0, ca.get(), 2), -1);
    const Extension *ku = QRT_GetExtension(ca->tbsCertificate.extensions, &id_ce_keyUsage);
    ASSERT_NE(ku, nullptr);
    EXPECT_EQ(QRT_CheckKeyUsage(0, ku, KeyUsage_cRLSign), 0);
    EXPECT_EQ(QRT_CheckKeyUsage(0, ku, KeyUsage_digitalSignature | KeyUsage_keyEncipherment), -1);
    EXPECT_EQ(QRT_GetExtension(ca->tbsCertificate.extensions, &id_ce_extKeyUsage), nullptr);

    // Self-signed ECDSA certificates verify under their own key.
    EXPECT_EQ(QRT_PKC_VerifySignature(ee.get(), ee.tbs()), 0) << trace_text();
    EXPECT_EQ(QRT_PKC_VerifySignature(ee.get(), ca.tbs()), QRT_PKC_INVALID_SIGNATURE);
    EXPECT_EQ(QRT_IsCertTimeValid(ee.tbs()), 1);
}

TEST(PkcFrame, ReasonsByRange) {
    EXPECT_STREQ(QRT_PKC_GetErrorReason(36082, 1), "cert revoked");
    EXPECT_STREQ(QRT_PKC_GetErrorReason(33080, 1), "crl expired");
    EXPECT_STREQ(QRT_PKC_GetErrorReason(36082, 0), "");
    EXPECT_STREQ(QRT_PKC_GetErrorReason(99999, 1), "");
    EXPECT_STREQ(QRT_PKC_GetVersion(), "1.7.0.0");
    EXPECT_EQ(QRT_PKC_CheckVersion(nullptr), 0);
}

}  // namespace

namespace {

// The certificate library's identifier maps agree with the provider's signature table, row by
// row: the same signature, hash and key numbers for every signature identifier it lists.
TEST(PkcMaps, AgreeWithTheProviderTable) {
    std::map<std::string, std::string> dotted;
    for (const char *registry : {"../shared/data/oids.tsv", "data/oids.tsv"}) {
        std::istringstream in(ostrel::test::read_file(registry));
        for (std::string line; std::getline(in, line);) {
            std::istringstream f(line);
            std::string index, name, dot;
            if (std::getline(f, index, '\t') && std::getline(f, name, '\t') && std::getline(f, dot, '\t')) dotted[name] = dot;
        }
    }
    std::istringstream table(ostrel::test::read_file("lib/csp/sigalgs.tsv"));
    int rows = 0;
    for (std::string line; std::getline(table, line);) {
        std::istringstream f(line);
        std::string kind, name;
        int sign = 0, hash = 0, pkey = 0;
        if (!(f >> kind >> name >> sign >> hash >> pkey) || kind != "sig") continue;
        ASSERT_TRUE(dotted.count(name)) << name;
        ObjectID oid{0, nullptr};
        ASSERT_EQ(QRT_ASN_DotVal2OID(&oid, dotted[name].c_str()), 0) << name;
        EXPECT_EQ(QRT_PKC_ObjID_To_SignID(&oid), sign) << name;
        if (hash && sign != QRT_CSP_SIGN_DSA_SHA1 && sign != QRT_CSP_SIGN_ECDSA) {  // one id, several hashes
            EXPECT_EQ(QRT_PKC_SignID_To_HashID(sign), hash) << name;
        }
        EXPECT_EQ(QRT_PKC_SignID_To_PkeyID(sign), pkey) << name;
        QRT_free(oid.value);
        ++rows;
    }
    EXPECT_GT(rows, 30);
}

}  // namespace
