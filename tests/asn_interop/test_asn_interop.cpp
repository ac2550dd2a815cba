// The openssl command line makes a small PKI in a temporary directory: a CSR, a CRL with reason
// codes, PKCS#8 keys plain and encrypted, PKCS#12 files, CMS signed data (also streamed), an
// OCSP request and a time-stamp query. Each is decoded, re-encoded byte for byte, and its inner
// values are decoded by their own catalogue numbers.
#include <gtest/gtest.h>

#include <string>

#include "asn_test_util.hpp"

namespace {

using namespace asn_test;

class OpensslCorpus : public AsnTest {
  protected:
    static void SetUpTestSuite() {
        dir_ = new ostrel::test::TempDir();
        const std::string d = dir_->path();
        std::string script =
            "set -e; cd " + d + "\n"
            "exec 2>log.txt\n"
            "openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 30 -subj /C=KR/O=Ostrel/CN=CA "
            "-addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign\n"
            "openssl req -new -newkey rsa:2048 -nodes -keyout leaf.key -out leaf.csr -subj /C=KR/O=Ostrel/CN=leaf "
            "-addext subjectAltName=DNS:leaf.test\n"
            "openssl req -in leaf.csr -outform DER -out leaf.csr.der\n"
            "mkdir -p db; : > db/index.txt; echo 1000 > db/serial; echo 1000 > db/crlnumber\n"
            "cat > ca.cnf <<'CNF'\n"
            "[ca]\ndefault_ca = c\n[c]\ndir = .\ndatabase = db/index.txt\nserial = db/serial\n"
            "crlnumber = db/crlnumber\nnew_certs_dir = db\ncertificate = ca.pem\nprivate_key = ca.key\n"
            "default_md = sha256\ndefault_days = 10\ndefault_crl_days = 5\npolicy = p\nunique_subject = no\n"
            "[p]\ncommonName = supplied\n[ext]\nbasicConstraints = CA:FALSE\n"
            "CNF\n"
            "openssl ca -batch -config ca.cnf -extensions ext -in leaf.csr -out leaf.pem\n"
            "openssl req -new -newkey rsa:2048 -nodes -keyout r1.key -out r1.csr -subj /CN=r1\n"
            "openssl ca -batch -config ca.cnf -in r1.csr -out r1.pem\n"
            "openssl req -new -newkey rsa:2048 -nodes -keyout r2.key -out r2.csr -subj /CN=r2\n"
            "openssl ca -batch -config ca.cnf -in r2.csr -out r2.pem\n"
            "openssl ca -config ca.cnf -revoke r1.pem -crl_reason keyCompromise\n"
            "openssl ca -config ca.cnf -revoke r2.pem -crl_reason superseded\n"
            "openssl ca -config ca.cnf -gencrl -out ca.crl\n"
            "openssl crl -in ca.crl -outform DER -out ca.crl.der\n"
            "openssl x509 -in leaf.pem -outform DER -out leaf.der\n"
            "openssl pkcs8 -topk8 -nocrypt -in leaf.key -outform DER -out p8.der\n"
            "openssl pkcs8 -topk8 -v1 PBE-SHA1-3DES -passout pass:secret -in leaf.key -outform DER -out p8v1.der\n"
            "openssl pkcs8 -topk8 -v2 aes-256-cbc -passout pass:secret -in leaf.key -outform DER -out p8v2.der\n"
            "openssl pkcs12 -export -legacy -passout pass:secret -in leaf.pem -inkey leaf.key -certfile ca.pem "
            "-out legacy.p12\n"
            "openssl pkcs12 -export -passout pass:secret -in leaf.pem -inkey leaf.key -certfile ca.pem -out modern.p12\n"
            "echo 'a message to sign' > msg.txt\n"
            "openssl cms -sign -in msg.txt -signer leaf.pem -inkey leaf.key -certfile ca.pem -nodetach "
            "-outform DER -out signed.der\n"
            "openssl cms -sign -stream -in msg.txt -signer leaf.pem -inkey leaf.key -outform DER -out streamed.der\n"
            "openssl cms -cmsout -in streamed.der -inform DER -outform DER -out streamed.cmsout.der\n"
            "openssl ocsp -issuer ca.pem -cert leaf.pem -cert r1.pem -reqout ocsp.req\n"
            "openssl ts -query -data msg.txt -sha256 -cert -out ts.tsq\n"
            "openssl ocsp -index db/index.txt -rsigner ca.pem -rkey ca.key -CA ca.pem -reqin ocsp.req "
            "-respout ocsp.resp -ndays 1\n"
            "openssl req -x509 -newkey rsa:2048 -nodes -keyout tsa.key -out tsa.pem -subj /CN=tsa -days 10 "
            "-addext extendedKeyUsage=critical,timeStamping\n"
            "echo 01 > tsaserial\n"
            "cat > tsa.cnf <<'CNF'\n"
            "[tsa]\ndefault_tsa = t\n[t]\nserial = ./tsaserial\nsigner_cert = ./tsa.pem\nsigner_key = ./tsa.key\n"
            "signer_digest = sha256\ndefault_policy = 1.2.3.4.1\ndigests = sha256\n"
            "accuracy = secs:1, millisecs:500\nordering = yes\ness_cert_id_alg = sha1\n"
            "CNF\n"
            "openssl ts -reply -queryfile ts.tsq -config tsa.cnf -out ts.tsr\n";
        ostrel::test::write_file(d + "/make.sh", script);
        ok_ = ostrel::test::run("bash " + d + "/make.sh") == 0;
        if (!ok_) log_ = ostrel::test::read_file(d + "/log.txt");
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override {
        AsnTest::SetUp();
        ASSERT_TRUE(ok_) << "openssl could not make the corpus:\n" << log_;
    }
    static Bytes file(const std::string &name) {
        std::string s = ostrel::test::read_file(dir_->path() + "/" + name);
        return Bytes(s.begin(), s.end());
    }
    static Bytes any_bytes(const Any &a) { return Bytes(a.value, a.value + a.length); }
    static Bytes bin_bytes(const BIN &b) { return Bytes(b.value, b.value + b.length); }

    static ostrel::test::TempDir *dir_;
    static bool ok_;
    static std::string log_;
};

ostrel::test::TempDir *OpensslCorpus::dir_ = nullptr;
bool OpensslCorpus::ok_ = false;
std::string OpensslCorpus::log_;

TEST_F(OpensslCorpus, RequestCertificateAndCrl) {
    expect_round_trip(file("leaf.csr.der"), CertificationRequest_PDU, "CSR");
    expect_round_trip(file("leaf.der"), Certificate_PDU, "certificate");
    Bytes crl = file("ca.crl.der");
    expect_round_trip(crl, CertificateList_PDU, "CRL");
    Tree<CertificateList> t(crl, CertificateList_PDU);
    ASSERT_TRUE(t);
    ASSERT_TRUE(t->tbsCertList.bit_mask & TBSCertList_revokedCertificates_present);
    std::vector<int> reasons;
    for (TBSCertList_revokedCertificates r = t->tbsCertList.revokedCertificates; r; r = r->next)
        for (Extensions e = r->value.crlEntryExtensions; e; e = e->next)
            if (QRT_ASN_CmpOID(&e->value.extnID, &id_ce_reasonCode) == 0) {
                Tree<CRLReason> reason(bin_bytes(e->value.extnValue), CRLReason_PDU);
                ASSERT_TRUE(reason);
                reasons.push_back(*reason);
            }
    std::sort(reasons.begin(), reasons.end());
    EXPECT_EQ(reasons, (std::vector<int>{CRLReason_keyCompromise, CRLReason_superseded}));
}

TEST_F(OpensslCorpus, PrivateKeysPlainAndEncrypted) {
    Bytes plain = file("p8.der");
    expect_round_trip(plain, PrivateKeyInfo_PDU, "PKCS#8");
    Tree<PrivateKeyInfo> pki(plain, PrivateKeyInfo_PDU);
    ASSERT_TRUE(pki);
    EXPECT_EQ(QRT_ASN_CmpOID(&pki->privateKeyAlgorithm.algorithm, &rsaEncryption), 0);
    expect_round_trip(bin_bytes(pki->privateKey), RSAPrivateKey_PDU, "RSAPrivateKey");

    Bytes v1 = file("p8v1.der");
    expect_round_trip(v1, EncryptedPrivateKeyInfo_PDU, "PKCS#8 v1");
    Tree<EncryptedPrivateKeyInfo> e1(v1, EncryptedPrivateKeyInfo_PDU);
    ASSERT_TRUE(e1);
    EXPECT_EQ(QRT_ASN_CmpOID(&e1->encryptionAlgorithm.algorithm, &pbeWithSHAAnd3_KeyTripleDES_CBC), 0);

    Bytes v2 = file("p8v2.der");
    expect_round_trip(v2, EncryptedPrivateKeyInfo_PDU, "PKCS#8 v2");
    Tree<EncryptedPrivateKeyInfo> e2(v2, EncryptedPrivateKeyInfo_PDU);
    ASSERT_TRUE(e2);
    ASSERT_EQ(QRT_ASN_CmpOID(&e2->encryptionAlgorithm.algorithm, &id_PBES2), 0);
    Bytes params = any_bytes(e2->encryptionAlgorithm.parameters);
    expect_round_trip(params, PBES2_params_PDU, "PBES2 parameters");
    Tree<PBES2_params> p2(params, PBES2_params_PDU);
    ASSERT_TRUE(p2);
    Bytes kdf = any_bytes(p2->keyDerivationFunc.parameters);
    expect_round_trip(kdf, PBKDF2_params_PDU, "PBKDF2 parameters");
    Tree<PBKDF2_params> k(kdf, PBKDF2_params_PDU);
    ASSERT_TRUE(k);
    EXPECT_EQ(k->salt.choice, PBKDF2_params_salt_specified_chosen);
    EXPECT_GE(k->iterationCount, 1000);
    EXPECT_TRUE(k->bit_mask & PBKDF2_params_prf_present);  // OpenSSL 3 writes hmacWithSHA256
}

// Walks a PFX down to its bags: the data content holds the AuthenticatedSafe, whose contents
// are data (SafeContents) or encrypted data.
void walk_pfx(const Bytes &der, int *bags, int *encrypted) {
    expect_round_trip(der, PFX_PDU, "PFX");
    Tree<PFX> pfx(der, PFX_PDU);
    ASSERT_TRUE(pfx);
    EXPECT_EQ(pfx->version, PFX_version_v3);
    ASSERT_TRUE(pfx->bit_mask & PFX_macData_present);
    ASSERT_EQ(QRT_ASN_CmpOID(&pfx->authSafe.contentType, &id_data), 0);
    Bytes content(pfx->authSafe.content.value, pfx->authSafe.content.value + pfx->authSafe.content.length);
    Tree<OctetString> data(content, OctetString_PDU);
    ASSERT_TRUE(data);
    Bytes safe(data->value, data->value + data->length);
    expect_round_trip(safe, AuthenticatedSafe_PDU, "AuthenticatedSafe");
    Tree<AuthenticatedSafe> as(safe, AuthenticatedSafe_PDU);
    ASSERT_TRUE(as);
    for (AuthenticatedSafe ci = *as; ci; ci = ci->next) {
        Bytes inner(ci->value.content.value, ci->value.content.value + ci->value.content.length);
        if (QRT_ASN_CmpOID(&ci->value.contentType, &id_encryptedData) == 0) {
            expect_round_trip(inner, EncryptedData_P7_PDU, "EncryptedData");
            ++*encrypted;
            continue;
        }
        Tree<OctetString> sc(inner, OctetString_PDU);
        ASSERT_TRUE(sc);
        Bytes contents(sc->value, sc->value + sc->length);
        expect_round_trip(contents, SafeContents_PDU, "SafeContents");
        Tree<SafeContents> bags_tree(contents, SafeContents_PDU);
        ASSERT_TRUE(bags_tree);
        for (SafeContents b = *bags_tree; b; b = b->next) {
            ++*bags;
            if (QRT_ASN_CmpOID(&b->value.bagId, &pkcs8ShroudedKeyBag) == 0)
                expect_round_trip(Bytes(b->value.bagValue.value, b->value.bagValue.value + b->value.bagValue.length),
                                  PKCS8ShroudedKeyBag_PDU, "shrouded key bag");
            if (QRT_ASN_CmpOID(&b->value.bagId, &certBag) == 0)
                expect_round_trip(Bytes(b->value.bagValue.value, b->value.bagValue.value + b->value.bagValue.length),
                                  CertBag_PDU, "certificate bag");
        }
    }
}

TEST_F(OpensslCorpus, Pkcs12LegacyAndModern) {
    for (const char *name : {"legacy.p12", "modern.p12"}) {
        int bags = 0, encrypted = 0;
        walk_pfx(file(name), &bags, &encrypted);
        EXPECT_GE(bags, 1) << name;
        EXPECT_GE(encrypted, 1) << name;
    }
}

TEST_F(OpensslCorpus, CmsSignedData) {
    Bytes der = file("signed.der");
    expect_round_trip(der, ContentInfo_P7_PDU, "ContentInfo");
    expect_round_trip(der, ContentInfo_PDU, "CMS ContentInfo");
    Tree<ContentInfo> ci(der, ContentInfo_PDU);
    ASSERT_TRUE(ci);
    Bytes sd(ci->content.value, ci->content.value + ci->content.length);
    expect_round_trip(sd, SignedData_PDU, "SignedData");
    expect_round_trip(sd, SignedData_P7_PDU, "SignedData-P7");
    Tree<SignedData> s(sd, SignedData_PDU);
    ASSERT_TRUE(s);
    ASSERT_TRUE(s->bit_mask & SignedData_certificates_present);
    int certs = 0;
    for (CertificateSet c = s->certificates; c; c = c->next) certs += c->value.choice == CertificateChoices_certificate_chosen;
    EXPECT_EQ(certs, 2);
    ASSERT_NE(s->signerInfos, nullptr);
    const SignerInfo &si = s->signerInfos->value;
    EXPECT_EQ(si.sid.choice, SignerIdentifier_issuerAndSerialNumber_chosen);
    ASSERT_TRUE(si.bit_mask & SignerInfo_signedAttrs_present);
    int attrs = 0;
    for (SignedAttributes a = si.signedAttrs; a; a = a->next) ++attrs;
    EXPECT_GE(attrs, 3);
}

// The streamed form (indefinite lengths, the content in pieces) decodes to the tree of the DER
// form openssl writes for the same message.
TEST_F(OpensslCorpus, StreamedCmsEncodesToItsDerForm) {
    Bytes streamed = file("streamed.der"), der = file("streamed.cmsout.der");
    ASSERT_NE(streamed, der);
    expect_decodes_to(streamed, der, ContentInfo_P7_PDU);
    expect_decodes_to(streamed, der, ContentInfo_PDU);
    expect_round_trip(der, ContentInfo_P7_PDU, "DER form");
}

TEST_F(OpensslCorpus, OcspRequestAndTimeStampQuery) {
    Bytes req = file("ocsp.req");
    expect_round_trip(req, OCSPRequest_PDU, "OCSP request");
    Tree<OCSPRequest> r(req, OCSPRequest_PDU);
    ASSERT_TRUE(r);
    int n = 0;
    for (TBSRequest_requestList l = r->tbsRequest.requestList; l; l = l->next) ++n;
    EXPECT_EQ(n, 2);
    ASSERT_TRUE(r->tbsRequest.bit_mask & TBSRequest_requestExtensions_present);
    EXPECT_EQ(QRT_ASN_CmpOID(&r->tbsRequest.requestExtensions->value.extnID, &id_pkix_ocsp_nonce), 0);

    Bytes q = file("ts.tsq");
    expect_round_trip(q, TimeStampReq_PDU, "time-stamp query");
    Tree<TimeStampReq> t(q, TimeStampReq_PDU);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->version, TimeStampReq_version_v1);
    EXPECT_EQ(t->certReq, 1);
    EXPECT_EQ(t->messageImprint.hashedMessage.length, 32u);
}

TEST_F(OpensslCorpus, OcspResponseWithRevokedCertificate) {
    Bytes der = file("ocsp.resp");
    expect_round_trip(der, OCSPResponse_PDU, "OCSP response");
    Tree<OCSPResponse> r(der, OCSPResponse_PDU);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->responseStatus, OCSPResponseStatus_successful);
    ASSERT_TRUE(r->bit_mask & OCSPResponse_responseBytes_present);
    EXPECT_EQ(QRT_ASN_CmpOID(&r->responseBytes.responseType, &id_pkix_ocsp_basic), 0);
    Bytes basic = bin_bytes(r->responseBytes.response);
    expect_round_trip(basic, BasicOCSPResponse_PDU, "BasicOCSPResponse");
    Tree<BasicOCSPResponse> b(basic, BasicOCSPResponse_PDU);
    ASSERT_TRUE(b);
    int good = 0, revoked = 0;
    for (ResponseData_responses s = b->tbsResponseData.responses; s; s = s->next) {
        if (s->value.certStatus.choice == CertStatus_good_chosen) ++good;
        if (s->value.certStatus.choice == CertStatus_revoked_chosen) {
            ++revoked;
            const RevokedInfo &ri = s->value.certStatus.u.revoked;
            ASSERT_TRUE(ri.bit_mask & RevokedInfo_revocationReason_present);
            EXPECT_EQ(ri.revocationReason, CRLReason_keyCompromise);
        }
    }
    EXPECT_EQ(good, 1);
    EXPECT_EQ(revoked, 1);
}

TEST_F(OpensslCorpus, TimeStampResponseAndToken) {
    Bytes der = file("ts.tsr");
    expect_round_trip(der, TimeStampResp_PDU, "time-stamp response");
    Tree<TimeStampResp> r(der, TimeStampResp_PDU);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status.status, PKIStatus_accepted);
    ASSERT_TRUE(r->bit_mask & TimeStampResp_timeStampToken_present);
    Bytes sd = any_bytes(r->timeStampToken.content);
    Tree<SignedData> s(sd, SignedData_PDU);
    ASSERT_TRUE(s);
    EXPECT_EQ(QRT_ASN_CmpOID(&s->encapContentInfo.eContentType, &id_ct_TSTInfo), 0);
    ASSERT_TRUE(s->encapContentInfo.bit_mask & EncapsulatedContentInfo_eContent_present);
    Bytes tst = bin_bytes(s->encapContentInfo.eContent);
    expect_round_trip(tst, TSTInfo_PDU, "TSTInfo");
    Tree<TSTInfo> info(tst, TSTInfo_PDU);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->ordering, 1);
    ASSERT_TRUE(info->bit_mask & TSTInfo_accuracy_present);
    EXPECT_EQ(info->accuracy.seconds, 1);
    EXPECT_EQ(info->accuracy.millis, 500);
    EXPECT_EQ(info->genTime.utc, 1);
    // the signer names its certificate with the ESS signing-certificate attribute
    bool found = false;
    for (SignedAttributes a = s->signerInfos->value.signedAttrs; a; a = a->next) {
        if (QRT_ASN_CmpOID(&a->value.type, &id_aa_signingCertificate) != 0) continue;
        found = true;
        Bytes v = any_bytes(a->value.values->value);
        expect_round_trip(v, SigningCertificate_PDU, "SigningCertificate");
        Tree<SigningCertificate> sc(v, SigningCertificate_PDU);
        ASSERT_TRUE(sc);
        ASSERT_NE(sc->certs, nullptr);
        EXPECT_EQ(sc->certs->value.certHash.length, 20u);
    }
    EXPECT_TRUE(found);
}

}  // namespace
