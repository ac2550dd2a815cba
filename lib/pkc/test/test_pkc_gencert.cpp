// Certificate generation against the openssl command line: a leaf issued under an openssl CA
// passes openssl verify and shows the serial, dates, criticality and key identifiers we meant;
// the same inputs give the same bytes in any time zone; serials in any form come out positive;
// and the failures a caller can meet.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "ostrel/asn_tree.hpp"
#include "ostrel/openssl_certs.hpp"
#include "ostrel/test_support.hpp"
#include "suite_csp.h"
#include "suite_pkc.h"

namespace {

using Bytes = std::vector<unsigned char>;
using ostrel::test::OutBin;
using ostrel::test::read_file;
using ostrel::test::run;
using ostrel::test::TempDir;
using ostrel::test::trace_text;
using ostrel::test::write_file;

BIN view(const Bytes &b) { return BIN{static_cast<unsigned>(b.size()), const_cast<unsigned char *>(b.data())}; }
Bytes bytes_of(const std::string &s) { return Bytes(s.begin(), s.end()); }

time_t utc(int y, int mo, int d) {
    struct tm tm {};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    return timegm(&tm);
}

// Hex as openssl prints it ("E6:58:...") or as we do, in one form.
std::string plain_hex(std::string s) {
    s.erase(std::remove_if(s.begin(), s.end(),
                           [](char c) { return c == ':' || std::isspace(static_cast<unsigned char>(c)); }),
            s.end());
    for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The hex after the first line of an `openssl x509 -ext` listing.
std::string ext_hex(const std::string &listing) {
    size_t nl = listing.find('\n');
    return nl == std::string::npos ? "" : plain_hex(listing.substr(nl + 1));
}

// An openssl CA (subject key identifier "hash") and a leaf key, made once.
struct Pki {
    TempDir dir;
    std::string cnf, caKey, caPem, leafKey;
    Bytes caDer, caPriv, leafPub;

    Pki() {
        QRT_Trace_Initialize();
        cnf = dir / "ca.cnf";
        write_file(cnf,
                   "[req]\ndistinguished_name = dn\nx509_extensions = v3\nprompt = no\n[dn]\nCN = x\n"
                   "[v3]\nsubjectKeyIdentifier = hash\nbasicConstraints = critical,CA:true\n"
                   "keyUsage = critical,keyCertSign,cRLSign\n");
        caKey = dir / "ca.key";
        caPem = dir / "ca.pem";
        leafKey = dir / "leaf.key";
        EXPECT_EQ(run("openssl req -x509 -config " + cnf + " -newkey rsa:2048 -nodes -keyout " + caKey +
                      " -subj '/C=KR/O=Ostrel Test/CN=Test CA' -days 3650 -out " + caPem + " 2>/dev/null"),
                  0);
        EXPECT_EQ(run("openssl x509 -in " + caPem + " -outform DER -out " + (dir / "ca.der")), 0);
        EXPECT_EQ(run("openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out " + leafKey + " 2>/dev/null"),
                  0);
        caDer = bytes_of(read_file(dir / "ca.der"));
        EVP_PKEY *ca = load(caKey), *leaf = load(leafKey);
        caPriv = ostrel::test::provider_priv(ca);
        leafPub = ostrel::test::i2d_bytes([&](unsigned char **p) { return i2d_PublicKey(leaf, p); });
        EVP_PKEY_free(ca);
        EVP_PKEY_free(leaf);
    }
    static EVP_PKEY *load(const std::string &pem) {
        FILE *f = fopen(pem.c_str(), "r");
        EVP_PKEY *k = f ? PEM_read_PrivateKey(f, nullptr, nullptr, nullptr) : nullptr;
        if (f) fclose(f);
        return k;
    }
    std::string openssl(const std::string &args) {
        std::string out;
        run("openssl " + args + " 2>&1", &out);
        return out;
    }
    std::string save_pem(const Bytes &der, const std::string &name) {
        write_file(dir / (name + ".der"), std::string(der.begin(), der.end()));
        std::string pem = dir / (name + ".pem");
        run("openssl x509 -inform DER -in " + (dir / (name + ".der")) + " -out " + pem);
        return pem;
    }
};

Pki &pki() {
    static Pki p;
    return p;
}

const Bytes kRandom = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa,
                       0xbb, 0xcc, 0xdd, 0xee, 0xff, 0x01, 0x02, 0x03, 0x04, 0x05};

// The leaf of the interop test: everything GenCertificate writes.
struct LeafInput {
    BIN ca, pub, random;
    ZQ_PKC_GENCERT_INPUT in{};
    LeafInput() {
        Pki &p = pki();
        ca = view(p.caDer);
        pub = view(p.leafPub);
        random = view(kRandom);
        in.serial = "8001";
        in.signID = QRT_CSP_SIGN_RSA_SHA256;
        in.issuerCert = &ca;
        in.subjectDN = "cn=Leaf,ou=Unit\\, with comma,o=Ostrel Test,c=KR";
        in.notBefore = utc(2024, 1, 1);
        in.notAfter = utc(2051, 6, 1);
        in.pkeyID = QRT_CSP_PKEY_RSA;
        in.publicKey = &pub;
        in.keyUsage = "digitalSignature,nonRepudiation";
        in.basicConstraints = "Subject Type=End Entity";
        in.extKeyUsage = "id-kp-clientAuth,id-kp-emailProtection";
        in.policies = "1.2.410.200004.5.2.1.2";
        in.cpsURI = "http://ca.example/cps.html";
        in.userNotice = "test policy";
        in.crlDistributionPoints = "http://ca.example/crl1.crl";
        in.ocspURI = "http://ocsp.ca.example";
        in.realName = "Hong Gildong";
        in.identityNumber = "8001011234567";
        in.random = &random;
        in.vidHashID = QRT_CSP_HASH_SHA256;
    }
};

TEST(PkcGenCert, LeafUnderOpensslCaVerifies) {
    Pki &p = pki();
    LeafInput leaf;
    BIN caKey = view(p.caPriv);
    OutBin cert;
    ASSERT_EQ(QRT_PKC_GenCertificate(&cert, &leaf.in, &caKey), 0) << trace_text();
    std::string pem = p.save_pem(cert.bytes(), "leaf");

    EXPECT_NE(p.openssl("verify -CAfile " + p.caPem + " " + pem).find(pem + ": OK"), std::string::npos)
        << p.openssl("verify -CAfile " + p.caPem + " " + pem);
    // a positive serial and a notAfter past 2050 read as written
    EXPECT_NE(p.openssl("x509 -in " + pem + " -noout -serial").find("serial=8001\n"), std::string::npos);
    EXPECT_NE(p.openssl("x509 -in " + pem + " -noout -enddate").find("notAfter=Jun  1 00:00:00 2051 GMT"),
              std::string::npos)
        << p.openssl("x509 -in " + pem + " -noout -enddate");

    std::string text = p.openssl("x509 -in " + pem + " -noout -text");
    for (const char *line :
         {"X509v3 Key Usage: critical", "X509v3 Basic Constraints: critical", "X509v3 Extended Key Usage: critical",
          "X509v3 Subject Key Identifier: \n", "X509v3 Authority Key Identifier: \n", "X509v3 Certificate Policies: \n",
          "X509v3 Subject Alternative Name: \n", "X509v3 CRL Distribution Points: \n",
          "Authority Information Access: \n", "Digital Signature, Non Repudiation",
          "TLS Web Client Authentication, E-mail Protection", "CPS: http://ca.example/cps.html",
          "Explicit Text: test policy", "OCSP - URI:http://ocsp.ca.example"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
    EXPECT_EQ(text.find("Subject Key Identifier: critical"), std::string::npos);

    // AKI = the CA's SKID; our SKID of the leaf key = openssl's "hash" for the same key
    std::string caSkid = ext_hex(p.openssl("x509 -in " + p.caPem + " -noout -ext subjectKeyIdentifier"));
    std::string aki = ext_hex(p.openssl("x509 -in " + pem + " -noout -ext authorityKeyIdentifier"));
    EXPECT_EQ(caSkid.size(), 40u);
    EXPECT_NE(aki.find(caSkid), std::string::npos) << aki << " vs " << caSkid;
    std::string self = p.dir / "self.pem";
    ASSERT_EQ(run("openssl req -x509 -config " + p.cnf + " -key " + p.leafKey + " -subj /CN=self -out " + self), 0);
    std::string theirs = ext_hex(p.openssl("x509 -in " + self + " -noout -ext subjectKeyIdentifier"));
    std::string ours = ext_hex(p.openssl("x509 -in " + pem + " -noout -ext subjectKeyIdentifier"));
    EXPECT_EQ(ours, theirs);
    char hex[41];
    BIN pub = view(p.leafPub);
    ASSERT_EQ(QRT_GetSubjectKeyID(hex, &pub), 0);
    EXPECT_EQ(hex, theirs);

    // our own reader sees the same
    CertInfo info;
    ASSERT_EQ(QRT_ExtractCertInfo(0, nullptr, cert.b.value, cert.b.length, 1, &info), 0) << trace_text();
    EXPECT_STREQ(info.sSubjectRDN, "cn=Leaf,ou=Unit\\, with comma,o=Ostrel Test,c=KR");
    EXPECT_STREQ(info.sIssuerRDN, "cn=Test CA,o=Ostrel Test,c=KR");
    EXPECT_STREQ(info.sSerial, "008001");
    EXPECT_STREQ(info.sVIDHashAlgDesc, "SHA256");
    EXPECT_EQ(info.nKeyUsage, 0xC000u);
}

// The time zone of the process changes nothing: times are written in UTC.
TEST(PkcGenCert, SameBytesInEveryTimeZone) {
    Pki &p = pki();
    BIN caKey = view(p.caPriv);
    Bytes seoul, utcBytes;
    for (const char *tz : {"Asia/Seoul", "UTC"}) {
        ostrel::test::ScopedTZ zone(tz);
        LeafInput leaf;
        OutBin cert;
        ASSERT_EQ(QRT_PKC_GenCertificate(&cert, &leaf.in, &caKey), 0) << tz << "\n" << trace_text();
        (std::string(tz) == "UTC" ? utcBytes : seoul) = cert.bytes();
    }
    EXPECT_EQ(seoul, utcBytes);
    std::string der(seoul.begin(), seoul.end());
    EXPECT_NE(der.find("\x17\x0d"
                       "240101000000Z"),
              std::string::npos);  // UTCTime before 2050
    EXPECT_NE(der.find("\x18\x0f"
                       "20510601000000Z"),
              std::string::npos);  // GeneralizedTime from 2050
}

struct Names {
    Name issuer{}, subject{};
    Names() {
        EXPECT_EQ(QRT_ImplementRDN(&issuer, "cn=Test CA,o=Ostrel Test,c=KR"), 0);
        EXPECT_EQ(QRT_ImplementRDN(&subject, "cn=Leaf,c=KR"), 0);
    }
    ~Names() {
        QRT_NameFree(&issuer);
        QRT_NameFree(&subject);
    }
};

// A record for QRT_PKC_Cert_Encode with key usage only.
struct Param {
    Names names;
    Bytes ku = {0x03, 0x02, 0x07, 0x80}, serial;
    ZQ_PKC_CERT_PARAM p{};
    explicit Param(const Bytes &s) : serial(s) {
        p.serialNumber = view(serial);
        p.signID = QRT_CSP_SIGN_RSA_SHA256;
        p.issuer = names.issuer;
        p.subject = names.subject;
        p.notBefore = utc(2024, 1, 1);
        p.notAfter = utc(2030, 1, 1);
        p.pkeyID = QRT_CSP_PKEY_RSA;
        p.publicKey = view(pki().leafPub);
        p.ext[QRT_PKC_EXT_KEY_USAGE] = view(ku);
    }
};

TEST(PkcGenCert, SerialsComeOutPositive) {
    BIN caKey = view(pki().caPriv);
    struct Case {
        Bytes in, content;
    } cases[] = {
        {{0x80, 0x01}, {0x00, 0x80, 0x01}},
        {{0x00, 0x80, 0x01}, {0x00, 0x80, 0x01}},  // already in content form
        {{0x00, 0x00, 0x00, 0x7f}, {0x7f}},
        {{0x01, 0x02}, {0x01, 0x02}},
        {{0x00}, {0x00}},
        {{0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
          0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff},
         {0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
          0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}},
    };
    for (const Case &c : cases) {
        Param prm(c.in);
        OutBin cert;
        ASSERT_EQ(QRT_PKC_Cert_Encode(&cert, &prm.p, QRT_CSP_PKEY_RSA, 0, &caKey), 0) << trace_text();
        ostrel::AsnTree<Certificate> back(Certificate_PDU);
        ASSERT_EQ(back.decode(cert.get()), 0);
        const HUGE &s = back->tbsCertificate.serialNumber;
        EXPECT_EQ(Bytes(s.value, s.value + s.length), c.content);
        // the issuer's key verifies it through the certificate checks
        ostrel::AsnTree<Certificate> ca(Certificate_PDU);
        BIN caDer = view(pki().caDer);
        ASSERT_EQ(ca.decode(&caDer), 0);
        EXPECT_EQ(QRT_PKC_VerifySignature(back.get(), &ca->tbsCertificate), 0) << trace_text();
    }
}

TEST(PkcGenCert, Failures) {
    BIN caKey = view(pki().caPriv);
    OutBin cert;
    {
        Param prm({0x01});
        prm.p.signID = QRT_CSP_SIGN_KCDSA_SHA1;
        EXPECT_EQ(QRT_PKC_Cert_Encode(&cert, &prm.p, QRT_CSP_PKEY_KCDSA, 0, &caKey), QRT_PKC_UNKNOWN_PKEYID);
    }
    {
        Param prm({0x01});
        prm.p.ext[QRT_PKC_EXT_KEY_USAGE] = BIN{0, nullptr};
        EXPECT_EQ(QRT_PKC_Cert_Encode(&cert, &prm.p, QRT_CSP_PKEY_RSA, 0, &caKey), QRT_PKC_NO_EXTENSION);
    }
    {
        Param prm({0x01});
        prm.p.signID = 99;
        EXPECT_EQ(QRT_PKC_Cert_Encode(&cert, &prm.p, QRT_CSP_PKEY_RSA, 0, &caKey), QRT_PKC_UNKNOWN_SIGNID);
        prm.p.signID = QRT_CSP_SIGN_RSA_PSS;
        EXPECT_EQ(QRT_PKC_Cert_Encode(&cert, &prm.p, QRT_CSP_PKEY_RSA, 0, &caKey), QRT_PKC_UNKNOWN_SIGNID);
    }
    {
        Param prm({0x01});
        Bytes junk = {0x04, 0x05, 0x01};  // a length past its end
        prm.p.ext[QRT_PKC_EXT_POLICIES] = view(junk);
        EXPECT_EQ(QRT_PKC_Cert_Encode(&cert, &prm.p, QRT_CSP_PKEY_RSA, 0, &caKey), QRT_PKC_BAD_EXTENSION);
        prm.p.pkeyID = 77;
        EXPECT_EQ(QRT_PKC_Cert_Encode(&cert, &prm.p, QRT_CSP_PKEY_RSA, 0, &caKey), QRT_PKC_UNKNOWN_PKEYID);
    }
    EXPECT_TRUE(cert.empty());
    EXPECT_EQ(QRT_PKC_Cert_Encode(&cert, nullptr, QRT_CSP_PKEY_RSA, 0, &caKey), QRT_PKC_INVALID_INPUT);

    struct Case {
        const char *what;
        void (*change)(ZQ_PKC_GENCERT_INPUT &);
        int expected;
    } cases[] = {
        {"key-usage word", [](ZQ_PKC_GENCERT_INPUT &in) { in.keyUsage = "digitalSignature,signEverything"; },
         QRT_PKC_BAD_KEY_USAGE},
        {"no key usage", [](ZQ_PKC_GENCERT_INPUT &in) { in.keyUsage = nullptr; }, QRT_PKC_NO_EXTENSION},
        {"basic constraints", [](ZQ_PKC_GENCERT_INPUT &in) { in.basicConstraints = "CA:maybe"; },
         QRT_PKC_BAD_EXTENSION},
        {"path length",
         [](ZQ_PKC_GENCERT_INPUT &in) { in.basicConstraints = "Subject Type=CA, Path Length Constraint=x"; },
         QRT_PKC_BAD_EXTENSION},
        {"purpose", [](ZQ_PKC_GENCERT_INPUT &in) { in.extKeyUsage = "id-kp-everything"; }, QRT_PKC_BAD_EXTENSION},
        {"policy", [](ZQ_PKC_GENCERT_INPUT &in) { in.policies = "not.an.oid"; }, QRT_PKC_BAD_CERT_POLICIES},
        {"serial", [](ZQ_PKC_GENCERT_INPUT &in) { in.serial = "80g1"; }, QRT_PKC_INVALID_INPUT},
        {"subject", [](ZQ_PKC_GENCERT_INPUT &in) { in.subjectDN = "zz=x"; }, QRT_PKC_BAD_RDN},
        {"VID hash", [](ZQ_PKC_GENCERT_INPUT &in) { in.vidHashID = QRT_CSP_HASH_HAS160; }, QRT_PKC_UNKNOWN_HASHID},
    };
    for (const Case &c : cases) {
        LeafInput leaf;
        c.change(leaf.in);
        EXPECT_EQ(QRT_PKC_GenCertificate(&cert, &leaf.in, &caKey), c.expected) << c.what;
        EXPECT_TRUE(cert.empty()) << c.what;
    }
}

// A CA certificate from text, with a path length, issued from a name and key instead of a
// certificate, verifies under its own key.
TEST(PkcGenCert, SelfIssuedCa) {
    Pki &p = pki();
    Bytes caPub;
    {
        EVP_PKEY *ca = Pki::load(p.caKey);
        caPub = ostrel::test::i2d_bytes([&](unsigned char **q) { return i2d_PublicKey(ca, q); });
        EVP_PKEY_free(ca);
    }
    BIN pub = view(caPub), key = view(p.caPriv);
    ZQ_PKC_GENCERT_INPUT in{};
    in.serial = "01";
    in.signID = QRT_CSP_SIGN_RSA_SHA384;
    in.issuerDN = "cn=Root,c=KR";
    in.issuerPublicKey = &pub;
    in.subjectDN = "cn=Root,c=KR";
    in.notBefore = utc(2020, 1, 1);
    in.notAfter = utc(2060, 1, 1);
    in.pkeyID = QRT_CSP_PKEY_RSA;
    in.publicKey = &pub;
    in.keyUsage = "keyCertSign, cRLSign";
    in.basicConstraints = "Subject Type=CA, Path Length Constraint=1";
    OutBin cert;
    ASSERT_EQ(QRT_PKC_GenCertificate(&cert, &in, &key), 0) << trace_text();
    std::string pem = p.save_pem(cert.bytes(), "root");
    EXPECT_NE(p.openssl("verify -CAfile " + pem + " " + pem).find(": OK"), std::string::npos);
    EXPECT_NE(p.openssl("x509 -in " + pem + " -noout -text").find("CA:TRUE, pathlen:1"), std::string::npos);
    CertInfo info;
    ASSERT_EQ(QRT_ExtractCertInfo(0, nullptr, cert.b.value, cert.b.length, 1, &info), 0);
    EXPECT_STREQ(info.sAuthorityKeyID, info.sSubjectKeyID);
    EXPECT_STREQ(info.sBasicConstraints, "Subject Type=CA, Path Length Constraint=1");
    EXPECT_STREQ(info.sTo, "2060-01-01 00:00:00");
}

TEST(PkcGenCert, BuildingBlocks) {
    BIN pub = view(pki().leafPub);
    OutBin ski, id, aki, akid;
    ASSERT_EQ(QRT_PKC_SubKeyId_Encode(&ski, &pub), 0);
    ASSERT_EQ(QRT_PKC_SubKeyId_Decode(&id, &ski.b), 0);
    ASSERT_EQ(QRT_PKC_AuthKeyId_Encode(&aki, &pub), 0);
    ASSERT_EQ(QRT_PKC_AuthKeyId_Decode(&akid, &aki.b), 0);
    EXPECT_EQ(id.bytes(), akid.bytes());
    unsigned char v[20];
    ASSERT_EQ(QRT_GetSubjectKeyIDv(v, pub.value, pub.length), 0);
    EXPECT_EQ(Bytes(v, v + 20), id.bytes());
    const Bytes truncated = {0x30, 0x03, 0x02, 0x01};
    BIN junk = view(truncated);
    OutBin none;
    EXPECT_EQ(QRT_PKC_SubKeyId_Decode(&none, &junk), QRT_PKC_BAD_SUBJECT_KEY_ID);
    EXPECT_EQ(QRT_PKC_AuthKeyId_Decode(&none, &junk), QRT_PKC_BAD_AUTH_KEY_ID);
    EXPECT_TRUE(none.empty());

    SubjectPublicKeyInfo *spki = nullptr;
    ASSERT_EQ(QRT_PKC_AsnSubPubKeyInfo_Encode(&spki, QRT_CSP_PKEY_RSA, &pub, nullptr), 0);
    int pkeyID = 0;
    OutBin key, param;
    ASSERT_EQ(QRT_PKC_AsnSubPubKeyInfo_Decode(&pkeyID, &key, &param, spki), 0);
    EXPECT_EQ(pkeyID, QRT_CSP_PKEY_RSA);
    EXPECT_EQ(key.bytes(), pki().leafPub);
    EXPECT_TRUE(param.empty());  // rsaEncryption's NULL is no parameter
    QRT_ASN_FreePDU(spki, SubjectPublicKeyInfo_PDU);
    EXPECT_EQ(QRT_PKC_AsnSubPubKeyInfo_Encode(&spki, 42, &pub, nullptr), QRT_PKC_UNKNOWN_PKEYID);

    Extensions list = nullptr;
    ASSERT_EQ(QRT_PKC_AsnExts_Add(&list, &id_ce_subjectKeyIdentifier, 0, &ski.b), 0);
    ASSERT_EQ(QRT_PKC_AsnExts_Add(&list, &id_ce_authorityKeyIdentifier, 1, &aki.b), 0);
    ASSERT_NE(list, nullptr);
    ASSERT_NE(list->next, nullptr);
    EXPECT_TRUE(list->next->value.critical);
    BIN listDer{0, nullptr};
    ASSERT_EQ(QRT_ASN_EncodePDU(&listDer, &list, Extensions_PDU), 0);
    QRT_BIN_Reset(&listDer);
    char hex[80];
    EXPECT_EQ(QRT_PKC_SubKeyId_ToString(hex, sizeof hex, list), 0);
    QRT_PKC_AsnExts_Free(list);

    OutBin policies;
    ASSERT_EQ(QRT_PKC_CertPolicies_Encode(&policies, "1.2.3.4, 1.2.3.5", "http://x.example/cps", nullptr), 0);
    Extensions_ one{nullptr, Extension{0, id_ce_certificatePolicies, 0, policies.b}};
    int count = 0;
    char ids[200], cps[201], notice[201];
    ASSERT_EQ(QRT_PKC_CertPolicies_ToString(ids, sizeof ids, &one, &count, cps, notice), 0);
    EXPECT_EQ(count, 2);
    EXPECT_STREQ(cps, "http://x.example/cps");
}

}  // namespace
