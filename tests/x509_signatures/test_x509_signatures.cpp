// Signatures of certificates and CRLs through the one entry point, over the bytes the ASN.1 layer
// kept as they arrived: certificates the openssl command line makes with each algorithm, every
// root of the system store under its own key, every PKITS certificate and CRL under its issuer's
// key, a certificate whose signed part arrived in BER, and RSASSA-PSS salts against parameters
// that fix the salt length.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "asn_test_util.hpp"
#include "ostrel/asn_tree.hpp"
#include "suite_csp.h"

namespace {

using namespace asn_test;
using ostrel::test::read_file;
using ostrel::test::run;
using ostrel::test::TempDir;
using ostrel::test::write_file;

Bytes bytes_of(const Any &a) { return Bytes(a.value, a.value + a.length); }
Bytes bytes_of(const std::string &s) { return Bytes(s.begin(), s.end()); }
std::string name_key(const Any &a) { return std::string(reinterpret_cast<const char *>(a.value), a.length); }

// A tree decoded from DER, with the decoder's code.
template <class T, int Pdu>
struct Decoded : ostrel::AsnTree<T> {
    int rc;
    explicit Decoded(const Bytes &der) : ostrel::AsnTree<T>(Pdu) {
        BIN in = view(der);
        rc = this->decode(&in);
    }
    T *t() const { return this->get(); }
};
using Cert = Decoded<Certificate, Certificate_PDU>;
using Crl = Decoded<CertificateList, CertificateList_PDU>;

// The parameters of a public key's algorithm (complete encoding), empty when absent or NULL.
Bytes key_params(const Certificate *c) {
    const AlgorithmIdentifier &a = c->tbsCertificate.subjectPublicKeyInfo.algorithm;
    if (!(a.bit_mask & AlgorithmIdentifier_parameters_present)) return {};
    Bytes p = bytes_of(a.parameters);
    return p == Bytes{0x05, 0x00} ? Bytes{} : p;
}

// The entry point on a signed object's parts.
int check(const AlgorithmIdentifier &alg, const Any &tbs, const BitString &sig, const Bytes &spki,
          const Bytes &inherited = {}) {
    BIN params{0, nullptr};
    if (alg.bit_mask & AlgorithmIdentifier_parameters_present) params = alg.parameters;
    ZQ_CSP_AlgID id{alg.algorithm.value, alg.algorithm.length, params.length ? &params : nullptr};
    BIN s{(sig.length + 7) / 8, sig.value}, k = view(spki), i = view(inherited);
    return QRT_CSP_VerifySignedData(&id, &tbs, &s, &k, inherited.empty() ? nullptr : &i);
}

int check_cert(const Certificate *c, const Bytes &issuer_spki, const Bytes &inherited = {}) {
    return check(c->signatureAlgorithm, c->tbsCertificate_encoded, c->signature, issuer_spki, inherited);
}

Bytes spki_of(const Certificate *c) { return bytes_of(c->tbsCertificate.subjectPublicKeyInfo_encoded); }

class X509Signatures : public AsnTest {
  protected:
    TempDir dir;
    std::string p(const std::string &n) { return dir / n; }
    int openssl(const std::string &args) { return run("cd " + dir.path() + " && openssl " + args + " 2>>log.txt"); }
    void SetUp() override {
        AsnTest::SetUp();
        if (!ostrel::test::have_command("openssl")) GTEST_SKIP() << "no openssl command";
    }
    Bytes file(const std::string &n) { return bytes_of(read_file(p(n))); }
};

}  // namespace

// Certificates openssl signs with each algorithm verify under their own key; a changed bit of
// the signed bytes or of the signature gives 6012.
TEST_F(X509Signatures, OpensslCertificatesOfEachAlgorithm) {
    ASSERT_EQ(openssl("genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out rsa.pem"), 0);
    ASSERT_EQ(openssl("genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out p256.pem"), 0);
    ASSERT_EQ(openssl("genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-384 -out p384.pem"), 0);
    ASSERT_EQ(openssl("genpkey -genparam -algorithm DSA -pkeyopt dsa_paramgen_bits:2048 "
                      "-pkeyopt dsa_paramgen_q_bits:256 -out dsap.pem"),
              0);
    ASSERT_EQ(openssl("genpkey -paramfile dsap.pem -out dsa.pem"), 0);
    const struct {
        const char *name, *key, *opts;
    } cases[] = {
        {"rsa-sha1", "rsa.pem", "-sha1"},
        {"rsa-sha224", "rsa.pem", "-sha224"},
        {"rsa-sha256", "rsa.pem", "-sha256"},
        {"rsa-sha384", "rsa.pem", "-sha384"},
        {"rsa-sha512", "rsa.pem", "-sha512"},
        {"rsa-pss", "rsa.pem", "-sha256 -sigopt rsa_padding_mode:pss -sigopt rsa_pss_saltlen:32"},
        {"rsa-pss-sha512-mgf", "rsa.pem",
         "-sha512 -sigopt rsa_padding_mode:pss -sigopt rsa_pss_saltlen:20 -sigopt rsa_mgf1_md:sha256"},
        {"ecdsa-p256", "p256.pem", "-sha256"},
        {"ecdsa-p384", "p384.pem", "-sha384"},
        {"ecdsa-p256-sha1", "p256.pem", "-sha1"},
        {"dsa-sha256", "dsa.pem", "-sha256"},
        {"dsa-sha224", "dsa.pem", "-sha224"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::string out = std::string(c.name) + ".der";
        ASSERT_EQ(openssl(std::string("req -x509 -new -key ") + c.key + " -subj /CN=" + c.name + " -days 2 " + c.opts +
                          " -outform DER -out " + out),
                  0)
            << read_file(p("log.txt"));
        Bytes der = file(out);
        Cert cert(der);
        ASSERT_EQ(cert.rc, 0) << trace_text();
        Bytes spki = spki_of(cert.t());
        EXPECT_EQ(check_cert(cert.t(), spki), 0) << trace_text();
        // the kept bytes are the TBS as it stands in the file
        const Any &tbs = cert->tbsCertificate_encoded;
        ASSERT_GT(tbs.length, 100u);
        EXPECT_EQ(Bytes(tbs.value, tbs.value + tbs.length), Bytes(der.begin() + 4, der.begin() + 4 + tbs.length));
        tbs.value[tbs.length - 1] ^= 1;
        EXPECT_EQ(check_cert(cert.t(), spki), QRT_CSP_INVALID_SIGNATURE);
        tbs.value[tbs.length - 1] ^= 1;
        cert->signature.value[10] ^= 0x10;
        int flipped = check_cert(cert.t(), spki);
        EXPECT_TRUE(flipped == QRT_CSP_INVALID_SIGNATURE || flipped == QRT_CSP_BAD_SIGNATURE) << flipped;
        trace_text();
    }
}

// What an openssl CA makes: its CRL verifies under the CA's key, a request under its own key, an
// OCSP response under the responder's key, each over the kept signed part.
TEST_F(X509Signatures, OpensslCrlRequestAndOcspResponse) {
    std::string script =
        "set -e; cd " + dir.path() +
        "\n"
        "exec 2>>log.txt\n"
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout ca.key -out ca.pem -days 30 "
        "-subj /CN=CA -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign\n"
        "openssl x509 -in ca.pem -outform DER -out ca.der\n"
        "openssl req -new -newkey rsa:2048 -nodes -keyout leaf.key -out leaf.csr -subj /CN=leaf -sha384\n"
        "openssl req -in leaf.csr -outform DER -out leaf.csr.der\n"
        "mkdir -p db; : > db/index.txt; echo 1000 > db/serial; echo 1000 > db/crlnumber\n"
        "printf '[ca]\\ndefault_ca = c\\n[c]\\ndir = .\\ndatabase = db/index.txt\\nserial = db/serial\\n"
        "crlnumber = db/crlnumber\\nnew_certs_dir = db\\ncertificate = ca.pem\\nprivate_key = ca.key\\n"
        "default_md = sha256\\ndefault_days = 10\\ndefault_crl_days = 5\\npolicy = p\\nunique_subject = no\\n"
        "[p]\\ncommonName = supplied\\n' > ca.cnf\n"
        "openssl ca -batch -config ca.cnf -in leaf.csr -out leaf.pem\n"
        "openssl ca -config ca.cnf -revoke leaf.pem -crl_reason keyCompromise\n"
        "openssl ca -config ca.cnf -gencrl -out ca.crl\n"
        "openssl crl -in ca.crl -outform DER -out ca.crl.der\n"
        "openssl ocsp -issuer ca.pem -cert leaf.pem -reqout ocsp.req\n"
        "openssl ocsp -index db/index.txt -rsigner ca.pem -rkey ca.key -CA ca.pem -reqin ocsp.req "
        "-respout ocsp.resp -ndays 1\n";
    ASSERT_EQ(run(script), 0) << read_file(p("log.txt"));
    Cert ca(file("ca.der"));
    ASSERT_EQ(ca.rc, 0);
    Bytes ca_key = spki_of(ca.t());

    Crl crl(file("ca.crl.der"));
    ASSERT_EQ(crl.rc, 0);
    EXPECT_EQ(check(crl->signatureAlgorithm, crl->tbsCertList_encoded, crl->signature, ca_key), 0) << trace_text();

    Decoded<CertificationRequest, CertificationRequest_PDU> csr(file("leaf.csr.der"));
    ASSERT_EQ(csr.rc, 0);
    Bytes own = bytes_of(csr->certificationRequestInfo.subjectPKInfo_encoded);
    EXPECT_EQ(check(csr->signatureAlgorithm, csr->certificationRequestInfo_encoded, csr->signature, own), 0)
        << trace_text();

    Decoded<OCSPResponse, OCSPResponse_PDU> resp(file("ocsp.resp"));
    ASSERT_EQ(resp.rc, 0);
    const BIN &inner = resp->responseBytes.response;
    Decoded<BasicOCSPResponse, BasicOCSPResponse_PDU> basic(Bytes(inner.value, inner.value + inner.length));
    ASSERT_EQ(basic.rc, 0);
    EXPECT_EQ(check(basic->signatureAlgorithm, basic->tbsResponseData_encoded, basic->signature, ca_key), 0)
        << trace_text();
    // the CRL does not verify under the leaf's key
    EXPECT_EQ(check(crl->signatureAlgorithm, crl->tbsCertList_encoded, crl->signature, own), QRT_CSP_INVALID_SIGNATURE);
}

// Every root of the system store verifies under its own key.
TEST_F(X509Signatures, SystemRootsVerifyUnderTheirOwnKeys) {
    auto roots = pem_certificates_in("/usr/share/ca-certificates/mozilla");
    ASSERT_GT(roots.size(), 50u) << "the ca-certificates package is not installed";
    std::map<std::string, int> algs;
    for (const auto &[name, der] : roots) {
        Cert c(der);
        ASSERT_EQ(c.rc, 0) << name;
        EXPECT_EQ(check_cert(c.t(), spki_of(c.t())), 0) << name << "\n" << trace_text();
        ++algs[ostrel::test::to_hex(c->signatureAlgorithm.algorithm.value, c->signatureAlgorithm.algorithm.length)];
    }
    EXPECT_GE(algs.size(), 3u);  // RSA with SHA-1 and SHA-2, ECDSA at least
}

// Every PKITS certificate and CRL verifies under its issuer's key (found by name, DSA parameters
// inherited along the chain), except the four whose signatures are deliberately broken.
TEST_F(X509Signatures, PkitsCertificatesAndCrls) {
    auto cert_files = files_in("../shared/conformance/pkits/certs");
    auto crl_files = files_in("../shared/conformance/pkits/crls");
    ASSERT_GT(cert_files.size(), 400u);
    std::vector<std::unique_ptr<Cert>> certs;
    std::multimap<std::string, size_t> by_subject;  // by the name's encoding
    for (const auto &[name, der] : cert_files) {
        certs.push_back(std::make_unique<Cert>(der));
        ASSERT_EQ(certs.back()->rc, 0) << name;
        by_subject.emplace(name_key((*certs.back())->tbsCertificate.subject_encoded), certs.size() - 1);
    }
    // domain parameters of a key: its own, else its issuer's
    std::function<Bytes(size_t, int)> params_of = [&](size_t i, int depth) -> Bytes {
        Bytes own = key_params(certs[i]->t());
        if (!own.empty() || depth > 8) return own;
        auto range = by_subject.equal_range(name_key((*certs[i])->tbsCertificate.issuer_encoded));
        for (auto it = range.first; it != range.second; ++it)
            if (it->second != i && !key_params(certs[it->second]->t()).empty())
                return key_params(certs[it->second]->t());
        for (auto it = range.first; it != range.second; ++it)
            if (it->second != i) return params_of(it->second, depth + 1);
        return {};
    };
    // true when some certificate of the issuer's name (or, failing that, any) verifies it
    auto verified = [&](const std::string &issuer, auto &&try_one) {
        auto range = by_subject.equal_range(issuer);
        for (auto it = range.first; it != range.second; ++it)
            if (try_one(it->second) == 0) return true;
        for (size_t j = 0; j < certs.size(); ++j)
            if (try_one(j) == 0) return true;
        return false;
    };
    std::set<std::string> failed;
    for (size_t i = 0; i < certs.size(); ++i) {
        const Certificate *c = certs[i]->t();
        bool ok = verified(name_key(c->tbsCertificate.issuer_encoded),
                           [&](size_t j) { return check_cert(c, spki_of(certs[j]->t()), params_of(j, 0)); });
        if (!ok) failed.insert(cert_files[i].first);
    }
    for (const auto &[name, der] : crl_files) {
        Crl crl(der);
        ASSERT_EQ(crl.rc, 0) << name;
        bool ok = verified(name_key(crl->tbsCertList.issuer_encoded), [&](size_t j) {
            return check(crl->signatureAlgorithm, crl->tbsCertList_encoded, crl->signature, spki_of(certs[j]->t()),
                         params_of(j, 0));
        });
        if (!ok) failed.insert(name);
    }
    trace_text();
    EXPECT_EQ(failed, (std::set<std::string>{"BadCRLSignatureCACRL.crl", "BadSignedCACert.crt",
                                             "InvalidDSASignatureTest6EE.crt", "InvalidEESignatureTest3EE.crt"}));
}

// A certificate whose signed part arrived in BER (an indefinite length inside it, a long-form
// length on it) and was signed as it stands: it decodes, its kept bytes are the signed bytes and
// it verifies; the tree re-encodes to DER, over which the signature would not hold.
TEST_F(X509Signatures, BerSignedPartVerifiesOverTheReceivedBytes) {
    ASSERT_EQ(openssl("req -x509 -newkey rsa:2048 -nodes -keyout k.pem -subj /CN=ber -days 2 -sha256 "
                      "-outform DER -out c.der"),
              0);
    Bytes der = file("c.der");
    Cert orig(der);
    ASSERT_EQ(orig.rc, 0);
    Bytes tbs = bytes_of(orig->tbsCertificate_encoded);
    ASSERT_EQ(tbs[0], 0x30);
    ASSERT_EQ(tbs[1], 0x82);
    // version [0] { INTEGER 2 } with an indefinite length, the TBS length in a four-octet form
    Bytes body(tbs.begin() + 4, tbs.end());
    ASSERT_EQ(Bytes(body.begin(), body.begin() + 5), (Bytes{0xa0, 0x03, 0x02, 0x01, 0x02}));
    Bytes ber_body = {0xa0, 0x80, 0x02, 0x01, 0x02, 0x00, 0x00};
    ber_body.insert(ber_body.end(), body.begin() + 5, body.end());
    size_t n = ber_body.size();
    Bytes ber_tbs = {0x30, 0x84, 0, 0, static_cast<unsigned char>(n >> 8), static_cast<unsigned char>(n)};
    ber_tbs.insert(ber_tbs.end(), ber_body.begin(), ber_body.end());
    write_file(p("tbs.bin"), std::string(ber_tbs.begin(), ber_tbs.end()));
    ASSERT_EQ(openssl("dgst -sha256 -sign k.pem -out sig.bin tbs.bin"), 0);
    Bytes sig = file("sig.bin");
    // Certificate ::= SEQUENCE { tbs, signatureAlgorithm (as openssl wrote it), BIT STRING }
    Bytes alg(der.begin() + 4 + static_cast<long>(tbs.size()), der.end());
    size_t alg_len = alg[1] + 2u;
    alg.resize(alg_len);
    Bytes bits = {0x03, 0x82, static_cast<unsigned char>((sig.size() + 1) >> 8),
                  static_cast<unsigned char>(sig.size() + 1), 0x00};
    bits.insert(bits.end(), sig.begin(), sig.end());
    Bytes inner = ber_tbs;
    inner.insert(inner.end(), alg.begin(), alg.end());
    inner.insert(inner.end(), bits.begin(), bits.end());
    Bytes cert = {0x30, 0x82, static_cast<unsigned char>(inner.size() >> 8), static_cast<unsigned char>(inner.size())};
    cert.insert(cert.end(), inner.begin(), inner.end());

    Cert c(cert);
    ASSERT_EQ(c.rc, 0) << trace_text();
    EXPECT_EQ(bytes_of(c->tbsCertificate_encoded), ber_tbs);
    EXPECT_EQ(check_cert(c.t(), spki_of(c.t())), 0) << trace_text();
    // the tree re-encodes to DER: the openssl TBS again, which the signature does not cover
    BIN out{0, nullptr};
    ASSERT_EQ(QRT_ASN_EncodePDU(&out, c.t(), TBSCertificate_PDU), 0);
    Bytes reencoded(out.value, out.value + out.length);
    QRT_BIN_Reset(&out);
    EXPECT_EQ(reencoded, tbs);
    BIN r = view(reencoded);
    BitString s = c->signature;
    EXPECT_EQ(check(c->signatureAlgorithm, r, s, spki_of(c.t())), QRT_CSP_INVALID_SIGNATURE);
    // a copy keeps the received bytes; openssl agrees the edited certificate verifies
    void *copy = nullptr;
    ASSERT_EQ(QRT_ASN_CopyPDU(&copy, c.t(), Certificate_PDU), 0);
    EXPECT_EQ(check_cert(static_cast<Certificate *>(copy), spki_of(c.t())), 0);
    QRT_ASN_FreePDU(copy, Certificate_PDU);
}

// RSASSA-PSS: parameters that fix a 32-byte salt accept only signatures with that salt.
TEST_F(X509Signatures, PssSaltLengthFixedByTheParameters) {
    ASSERT_EQ(openssl("req -x509 -newkey rsa:2048 -nodes -keyout k.pem -subj /CN=pss -days 2 -sha256 "
                      "-sigopt rsa_padding_mode:pss -sigopt rsa_pss_saltlen:32 -outform DER -out c.der"),
              0);
    Cert c(file("c.der"));
    ASSERT_EQ(c.rc, 0);
    ZQ_CSP_SigAlg alg{};
    BIN params = c->signatureAlgorithm.parameters;
    ZQ_CSP_AlgID id{c->signatureAlgorithm.algorithm.value, c->signatureAlgorithm.algorithm.length, &params};
    ASSERT_EQ(QRT_CSP_SigAlg_FromAlgID(&alg, &id), 0);
    EXPECT_EQ(alg.saltLength, 32);
    write_file(p("tbs.bin"), std::string(c->tbsCertificate_encoded.value,
                                         c->tbsCertificate_encoded.value + c->tbsCertificate_encoded.length));
    for (int salt : {0, 20, 32, 64}) {
        SCOPED_TRACE(salt);
        ASSERT_EQ(openssl("dgst -sha256 -sign k.pem -sigopt rsa_padding_mode:pss -sigopt rsa_pss_saltlen:" +
                          std::to_string(salt) + " -out s.bin tbs.bin"),
                  0);
        Bytes sig = file("s.bin");
        BitString bs{static_cast<unsigned>(sig.size() * 8), sig.data()};
        EXPECT_EQ(check(c->signatureAlgorithm, c->tbsCertificate_encoded, bs, spki_of(c.t())),
                  salt == 32 ? 0 : QRT_CSP_INVALID_SIGNATURE);
    }
    trace_text();
}
