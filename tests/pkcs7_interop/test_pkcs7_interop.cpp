// PKCS#7 and CMS messages exchanged with the openssl command line and python `cryptography`,
// both ways: what they sign, envelope, encrypt and digest is read here and its content must come
// back byte for byte; what we make is verified, decrypted and printed by them. The keys and
// certificates (a CA, RSA, EC P-256 and DSA signers, a second RSA recipient, a CRL) are made by
// openssl once per build tree and day; every test process works on its own copy.
#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "ostrel/test_support.hpp"
#include "suite_pkcs7.h"

namespace {

using Bytes = std::vector<unsigned char>;
using ostrel::test::read_file;
using ostrel::test::run;
using ostrel::test::TempDir;
using ostrel::test::write_file;

const std::string kPeer = std::string(OSTREL_SOURCE_DIR) + "/tests/pkcs7_interop/pkcs7_peer.py";
constexpr int kPeerSkip = 77;  // the peer's python lacks the call
const char *const kLegacy = " -provider legacy -provider default";
const char *const kSecretKey = "000102030405060708090a0b0c0d0e0f";

Bytes bytes(const std::string &s) { return Bytes(s.begin(), s.end()); }
BIN view(const Bytes &b) { return BIN{static_cast<unsigned>(b.size()), const_cast<unsigned char *>(b.data())}; }

using Out = ostrel::test::OutBin;

struct Content {
    ZQ_PKCS7_CONTENT c{};
    Content() = default;
    Content(const Content &) = delete;
    Content &operator=(const Content &) = delete;
    ~Content() { QRT_PKCS7_Content_Reset(&c); }
};

struct Signed {
    ZQ_PKCS7_SIGNED *sd = QRT_PKCS7_Signed_New();
    Signed() = default;
    Signed(const Signed &) = delete;
    Signed &operator=(const Signed &) = delete;
    ~Signed() { QRT_PKCS7_Signed_Free(sd); }
};

std::string trace() { return ostrel::test::trace_text(); }

// The payload: every byte value, CR LF pairs, a line starting "From " and a NUL run, so that any
// text canonicalisation or truncation on either side shows; longer than one streaming chunk.
Bytes payload() {
    Bytes p;
    for (int i = 0; i < 5000; ++i) p.push_back(static_cast<unsigned char>((i * 131 + (i >> 8)) & 0xff));
    const std::string marks = "\r\nFrom the peer\r\n.\r\n\n\r";
    std::copy(marks.begin(), marks.end(), p.begin() + 1000);
    std::fill(p.begin() + 2000, p.begin() + 2100, 0);
    return p;
}

// A DER INTEGER of a BIGNUM: the provider's form of a DSA x or an EC d.
Bytes der_int(const BIGNUM *bn) {
    Bytes mag(static_cast<size_t>(BN_num_bytes(bn)));
    BN_bn2bin(bn, mag.data());
    if (mag.empty() || mag[0] & 0x80) mag.insert(mag.begin(), 0);
    Bytes out = {0x02};
    size_t n = mag.size();
    if (n >= 0x80) out.push_back(0x81);
    out.push_back(static_cast<unsigned char>(n));
    out.insert(out.end(), mag.begin(), mag.end());
    return out;
}

EVP_PKEY *read_key(const std::string &path) {
    FILE *f = fopen(path.c_str(), "r");
    EVP_PKEY *k = f ? PEM_read_PrivateKey(f, nullptr, nullptr, nullptr) : nullptr;
    if (f) fclose(f);
    return k;
}

Bytes private_scalar(const std::string &path) {
    EVP_PKEY *k = read_key(path);
    BIGNUM *bn = nullptr;
    Bytes out;
    if (k && EVP_PKEY_get_bn_param(k, OSSL_PKEY_PARAM_PRIV_KEY, &bn)) out = der_int(bn);
    BN_free(bn);
    EVP_PKEY_free(k);
    return out;
}

// Makes the PKI in an empty directory: "" or what failed.
std::string make_pki(const std::string &where) {
    auto openssl = [&](const std::string &args) { return run("cd " + where + " && openssl " + args + " 2>>log.txt"); };
    write_file(where + "/ee.ext",
               "basicConstraints=CA:FALSE\n"
               "keyUsage=critical,digitalSignature,nonRepudiation,keyEncipherment\n"
               "extendedKeyUsage=emailProtection\n"
               "subjectKeyIdentifier=hash\nauthorityKeyIdentifier=keyid\n");
    write_file(where + "/ca.cnf",
               "[ca]\ndefault_ca=d\n[d]\ndatabase=index.txt\ncrlnumber=crlnumber\n"
               "default_md=sha256\ndefault_crl_days=30\n");
    write_file(where + "/index.txt", "");
    write_file(where + "/crlnumber", "01\n");
    std::vector<std::string> steps = {
        "req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -subj '/C=KR/O=Ostrel/CN=Interop CA'"
        " -days 3650 -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign"
        " -addext subjectKeyIdentifier=hash",
        "genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out rsa.key",
        "genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out rsa2.key",
        "genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out ec.key",
        "dsaparam -out dsap.pem 1024",
        "gendsa -out dsa.key dsap.pem",
    };
    int serial = 0x1001;
    for (const char *k : {"rsa", "rsa2", "ec", "dsa"}) {
        std::string n = k;
        steps.push_back("req -new -key " + n + ".key -out " + n + ".csr -subj '/C=KR/O=Ostrel/CN=" + n + " peer'");
        steps.push_back("x509 -req -in " + n + ".csr -CA ca.pem -CAkey ca.key -set_serial " + std::to_string(serial++) +
                        " -days 365 -extfile ee.ext -out " + n + ".pem");
        steps.push_back("x509 -in " + n + ".pem -outform DER -out " + n + ".der");
    }
    steps.push_back("x509 -in ca.pem -outform DER -out ca.der");
    steps.push_back("rsa -in rsa.key -traditional -outform DER -out rsa.pk1");
    steps.push_back("rsa -in rsa2.key -traditional -outform DER -out rsa2.pk1");
    steps.push_back("ca -config ca.cnf -keyfile ca.key -cert ca.pem -revoke rsa2.pem");
    steps.push_back("ca -config ca.cnf -keyfile ca.key -cert ca.pem -gencrl -out ca.crl");
    steps.push_back("crl -in ca.crl -outform DER -out crl.der");
    for (const std::string &step : steps)
        if (openssl(step) != 0) return "openssl " + step + "\n" + read_file(where + "/log.txt");
    return "";
}

// The PKI of this build tree and day, made by the first test process that needs it and copied by
// each into its own directory: ctest runs every case as a process of its own, and key generation
// would otherwise cost more than the exchanges.
std::string shared_pki(const std::string &into) {
    char day[16];
    time_t now = time(nullptr);
    strftime(day, sizeof day, "%Y%m%d", gmtime(&now));
    std::filesystem::path cache = std::string(OSTREL_BINARY_DIR) + "/tests/pkcs7_interop_pki." + day;
    std::error_code ec;
    if (!std::filesystem::exists(cache / "done", ec)) {
        std::string tmpl = cache.string() + ".XXXXXX";
        if (!mkdtemp(tmpl.data())) return "cannot make " + tmpl;
        std::string error = make_pki(tmpl);
        if (error.empty()) write_file(tmpl + "/done", "");
        // Another process may have published first: then its PKI is used and this one dropped.
        if (!error.empty() || rename(tmpl.c_str(), cache.c_str()) != 0) std::filesystem::remove_all(tmpl, ec);
        if (!error.empty()) return error;
    }
    std::filesystem::copy(
        cache, into, std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing, ec);
    return ec ? "cannot copy " + cache.string() + ": " + ec.message() : "";
}

// The PKI of the process, in a directory of its own.
struct Pki {
    TempDir dir;
    std::string error;
    Bytes ca, rsa, rsa2, ec, dsa, crl;     // DER certificates and CRL
    Bytes rsaKey, rsa2Key, ecKey, dsaKey;  // private keys in the provider's form
    bool legacy = false;                   // the legacy provider loads (SEED, RC2, DES)

    int openssl(const std::string &args) { return run("cd " + dir.path() + " && openssl " + args + " 2>>log.txt"); }

    Pki() : error(shared_pki(dir.path())) {
        if (!error.empty()) return;
        ca = file("ca.der"), rsa = file("rsa.der"), rsa2 = file("rsa2.der"), ec = file("ec.der");
        dsa = file("dsa.der"), crl = file("crl.der");
        rsaKey = file("rsa.pk1"), rsa2Key = file("rsa2.pk1");
        ecKey = private_scalar(dir / "ec.key"), dsaKey = private_scalar(dir / "dsa.key");
        if (ecKey.empty() || dsaKey.empty()) error = "private scalars did not read";
        legacy = openssl(std::string("list -cipher-algorithms") + kLegacy + " >/dev/null") == 0;
    }
    Bytes file(const std::string &name) const { return bytes(read_file(dir / name)); }
};

class Pkcs7Interop : public ::testing::Test {
  protected:
    static inline std::unique_ptr<Pki> pki;
    Bytes data = payload();

    static void SetUpTestSuite() {
        if (!pki && ostrel::test::have_command("openssl")) pki = std::make_unique<Pki>();
    }
    // python3 with `cryptography`, asked once (starting python is slow).
    static bool have_python() {
        static const bool have = run("python3 -c 'import cryptography' 2>/dev/null") == 0;
        return have;
    }
    void SetUp() override {
        if (!pki) GTEST_SKIP() << "no openssl command";
        ASSERT_TRUE(pki->error.empty()) << pki->error;
        write_file(path("data.bin"), std::string(data.begin(), data.end()));
        ostrel::test::trace_records();  // start with an empty trace
    }

    std::string path(const std::string &name) const { return pki->dir / name; }
    int openssl(const std::string &args) { return pki->openssl(args); }
    std::string log() const { return read_file(path("log.txt")); }
    Bytes file(const std::string &name) const { return pki->file(name); }
    void put(const std::string &name, const Bytes &b) { write_file(path(name), std::string(b.begin(), b.end())); }
    // Runs the python peer in the directory; its exit status (kPeerSkip: call absent).
    int python(const std::string &args) {
        return run("cd " + pki->dir.path() + " && python3 " + kPeer + " " + args + " 2>py.txt");
    }

    // The payload as a data ContentInfo.
    Bytes data_info() const {
        Out o;
        BIN d = view(data);
        EXPECT_EQ(QRT_PKCS7_EncodeData(&o.b, &d), 0);
        return o.bytes();
    }
    // The octets of a data ContentInfo.
    static Bytes octets(const Out &contentInfo) {
        Out o;
        EXPECT_EQ(QRT_PKCS7_DecodeData(&o.b, &contentInfo.b), 0) << trace();
        return o.bytes();
    }
    // Flips one payload byte where the payload stands in a message; false when it is not there.
    bool tamper(Bytes &msg) const {
        auto at = std::search(msg.begin(), msg.end(), data.begin(), data.begin() + 48);
        if (at == msg.end()) return false;
        at[10] ^= 0x01;
        return true;
    }
};

// Test names of parameterised cases: the case's name.
struct CaseName {
    template <class P>
    std::string operator()(const ::testing::TestParamInfo<P> &p) const {
        return p.param.name;
    }
};
// How gtest prints a case (its name, rather than the bytes of the record).
template <class Case>
void print_case(const Case &c, std::ostream *os) {
    *os << c.name;
}

// ---- openssl and python sign, we read ----------------------------------------------------------

struct SignCase {
    const char *name;
    const char *args;  // after "openssl"; data.bin in, s.der out
    const Bytes Pki::*signer;
    int digestID;
    int tamperCode;  // the code a flipped content byte gives
    bool issuer;     // the CA is embedded: issuerCertOut is it
};
void PrintTo(const SignCase &c, std::ostream *os) { print_case(c, os); }

class OpensslSigned : public Pkcs7Interop, public ::testing::WithParamInterface<SignCase> {};

TEST_P(OpensslSigned, ContentComesBackAndVerifies) {
    const SignCase &c = GetParam();
    ASSERT_EQ(openssl(std::string(c.args) + " -binary -in data.bin -outform DER -out s.der"), 0) << log();
    Bytes msg = file("s.der");
    BIN in = view(msg);
    int digest = -1;
    Out content, signer, issuer, crl;
    ASSERT_EQ(QRT_PKCS7_DecodeSigned(&digest, &content.b, &signer.b, &issuer.b, &crl.b, &in), 0) << trace();
    EXPECT_EQ(octets(content), data);
    EXPECT_EQ(digest, c.digestID);
    EXPECT_EQ(signer.bytes(), (*pki).*c.signer);
    if (c.issuer) {
        EXPECT_EQ(issuer.bytes(), pki->ca);
    }
    EXPECT_EQ(crl.b.length, 0u);

    ASSERT_TRUE(tamper(msg));
    in = view(msg);
    Out c2, s2;
    EXPECT_EQ(QRT_PKCS7_DecodeSigned(nullptr, &c2.b, &s2.b, nullptr, nullptr, &in), c.tamperCode) << trace();
    EXPECT_EQ(c2.b.length, 0u);
}

const SignCase kSignCases[] = {
    {"cms_opaque", "cms -sign -nodetach -md sha256 -signer rsa.pem -inkey rsa.key", &Pki::rsa, 6, 37351, false},
    {"cms_sha1", "cms -sign -nodetach -md sha1 -signer rsa.pem -inkey rsa.key", &Pki::rsa, 3, 37351, false},
    {"cms_sha512", "cms -sign -nodetach -md sha512 -signer rsa.pem -inkey rsa.key", &Pki::rsa, 8, 37351, false},
    {"cms_stream", "cms -sign -nodetach -stream -md sha256 -signer rsa.pem -inkey rsa.key", &Pki::rsa, 6, 37351, false},
    {"cms_keyid", "cms -sign -nodetach -keyid -md sha256 -signer rsa.pem -inkey rsa.key", &Pki::rsa, 6, 37351, false},
    {"cms_noattr", "cms -sign -nodetach -noattr -md sha256 -signer rsa.pem -inkey rsa.key", &Pki::rsa, 6, 37350, false},
    {"cms_pss", "cms -sign -nodetach -md sha256 -signer rsa.pem -inkey rsa.key -keyopt rsa_padding_mode:pss", &Pki::rsa,
     6, 37351, false},
    {"cms_ecdsa", "cms -sign -nodetach -md sha256 -signer ec.pem -inkey ec.key", &Pki::ec, 6, 37351, false},
    {"cms_ecdsa_keyid_stream", "cms -sign -nodetach -stream -keyid -md sha384 -signer ec.pem -inkey ec.key", &Pki::ec,
     7, 37351, false},
    {"cms_dsa", "cms -sign -nodetach -md sha1 -signer dsa.pem -inkey dsa.key", &Pki::dsa, 3, 37351, false},
    {"cms_certfile", "cms -sign -nodetach -md sha256 -signer rsa.pem -inkey rsa.key -certfile ca.pem", &Pki::rsa, 6,
     37351, true},
    {"smime", "smime -sign -nodetach -md sha256 -signer rsa.pem -inkey rsa.key -certfile ca.pem", &Pki::rsa, 6, 37351,
     true},
    {"smime_stream", "smime -sign -nodetach -stream -md sha1 -signer rsa.pem -inkey rsa.key", &Pki::rsa, 3, 37351,
     false},
};

INSTANTIATE_TEST_SUITE_P(Pkcs7, OpensslSigned, ::testing::ValuesIn(kSignCases), CaseName{});

// A detached signature decodes unverified, verifies with its data, and is refused without it or
// with other data.
TEST_F(Pkcs7Interop, DetachedSignatureNeedsItsData) {
    struct {
        const char *what;
        std::string make;
        const Bytes *signer;
    } cases[] = {
        {"cms",
         "openssl cms -sign -binary -md sha256 -signer rsa.pem -inkey rsa.key -in data.bin -outform DER -out d.der",
         &pki->rsa},
        {"cms ecdsa keyid",
         "openssl cms -sign -binary -keyid -md sha384 -signer ec.pem -inkey ec.key -in data.bin "
         "-outform DER -out d.der",
         &pki->ec},
        {"smime", "openssl smime -sign -binary -signer rsa.pem -inkey rsa.key -in data.bin -outform DER -out d.der",
         &pki->rsa},
        {"python", "python3 " + kPeer + " sign ec.pem ec.key data.bin d.der detached", &pki->ec},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.make.rfind("python3", 0) == 0 && !have_python()) continue;
        ASSERT_EQ(run("cd " + pki->dir.path() + " && " + c.make + " 2>>log.txt"), 0) << log();
        Bytes msg = file("d.der");
        BIN in = view(msg);
        Out content, signer;
        EXPECT_EQ(QRT_PKCS7_DecodeSigned(nullptr, &content.b, &signer.b, nullptr, nullptr, &in), 0) << trace();
        EXPECT_EQ(signer.bytes(), *c.signer);

        Content ci;
        ASSERT_EQ(QRT_PKCS7_Content_Decode(&ci.c, &in), 0) << trace();
        EXPECT_EQ(ci.c.typeID, QRT_PKCS7_SIGNED);
        Signed sd;
        ASSERT_EQ(QRT_PKCS7_Signed_Decode(sd.sd, &ci.c, 0), 0) << trace();
        Bytes info = data_info();
        BIN infoBin = view(info);
        Content dc;
        ASSERT_EQ(QRT_PKCS7_Content_Decode(&dc.c, &infoBin), 0) << trace();
        Out who;
        EXPECT_EQ(QRT_PKCS7_Signed_Verify(sd.sd, &dc.c, nullptr, &who.b), 0) << trace();
        EXPECT_EQ(who.bytes(), *c.signer);
        EXPECT_EQ(QRT_PKCS7_Signed_Verify(sd.sd, nullptr, nullptr, nullptr), 37360) << trace();
        Signed withVerify;
        EXPECT_EQ(QRT_PKCS7_Signed_Decode(withVerify.sd, &ci.c, 1), 37360) << trace();

        Bytes other = data;
        other[4321] ^= 0x80;
        Out otherInfo;
        BIN o = view(other);
        ASSERT_EQ(QRT_PKCS7_EncodeData(&otherInfo.b, &o), 0);
        Content oc;
        ASSERT_EQ(QRT_PKCS7_Content_Decode(&oc.c, &otherInfo.b), 0);
        EXPECT_EQ(QRT_PKCS7_Signed_Verify(sd.sd, &oc.c, nullptr, nullptr), 37351) << trace();
    }
}

// Without embedded certificates the signer is not found (37320) unless the caller supplies it.
TEST_F(Pkcs7Interop, NoCertsNeedsTheCallersCertificate) {
    ASSERT_EQ(openssl("cms -sign -nodetach -nocerts -binary -signer rsa.pem -inkey rsa.key -in data.bin -outform DER "
                      "-out n.der"),
              0)
        << log();
    Bytes msg = file("n.der");
    BIN in = view(msg);
    Out content, signer;
    EXPECT_EQ(QRT_PKCS7_DecodeSigned(nullptr, &content.b, &signer.b, nullptr, nullptr, &in), 37320) << trace();
    EXPECT_EQ(content.b.length, 0u);
    EXPECT_EQ(signer.b.length, 0u);

    Content ci;
    ASSERT_EQ(QRT_PKCS7_Content_Decode(&ci.c, &in), 0) << trace();
    Signed sd;
    ASSERT_EQ(QRT_PKCS7_Signed_Decode(sd.sd, &ci.c, 0), 0) << trace();
    EXPECT_EQ(QRT_PKCS7_BIN_SET_Count(sd.sd->certs), 0);
    ZQ_PKCS7_BIN_SET *certs = nullptr;
    BIN r = view(pki->rsa), e = view(pki->ec);
    ASSERT_EQ(QRT_PKCS7_BIN_SET_Add(&certs, &e), 0);
    EXPECT_EQ(QRT_PKCS7_Signed_Verify(sd.sd, nullptr, certs, nullptr), 37361) << trace();
    ASSERT_EQ(QRT_PKCS7_BIN_SET_Add(&certs, &r), 0);
    Out who;
    EXPECT_EQ(QRT_PKCS7_Signed_Verify(sd.sd, nullptr, certs, &who.b), 0) << trace();
    EXPECT_EQ(who.bytes(), pki->rsa);
    QRT_PKCS7_BIN_SET_Free(certs);
}

// RSA and ECDSA signers on one message: both are checked, a spoilt second signature is caught.
TEST_F(Pkcs7Interop, TwoSignersOfDifferentAlgorithms) {
    ASSERT_EQ(openssl("cms -sign -nodetach -binary -signer rsa.pem -inkey rsa.key -signer ec.pem -inkey ec.key "
                      "-in data.bin -outform DER -out t.der"),
              0)
        << log();
    Bytes msg = file("t.der");
    BIN in = view(msg);
    Content ci;
    ASSERT_EQ(QRT_PKCS7_Content_Decode(&ci.c, &in), 0) << trace();
    Signed sd;
    ASSERT_EQ(QRT_PKCS7_Signed_Decode(sd.sd, &ci.c, 1), 0) << trace();
    // The peer writes the signers as a DER SET OF: in byte order, not the order given.
    ZQ_PKCS7_SIGNER_INFO *first = sd.sd->signerInfos.first;
    ASSERT_TRUE(first && first->next);
    EXPECT_EQ(first->next->next, nullptr);
    ZQ_PKCS7_SIGNER_INFO *ecdsa = first->algID == QRT_PKCS7_ALG_ECDSA ? first : first->next;
    ZQ_PKCS7_SIGNER_INFO *rsa = ecdsa == first ? first->next : first;
    EXPECT_EQ(ecdsa->algID, QRT_PKCS7_ALG_ECDSA);
    EXPECT_EQ(rsa->algID, QRT_PKCS7_ALG_RSA);
    EXPECT_EQ(QRT_PKCS7_BIN_SET_Count(sd.sd->certs), 2);
    Out inner;
    ASSERT_EQ(QRT_PKCS7_Content_Encode(&inner.b, &sd.sd->content), 0) << trace();
    EXPECT_EQ(octets(inner), data);

    Out content, signer;
    EXPECT_EQ(QRT_PKCS7_DecodeSigned(nullptr, &content.b, &signer.b, nullptr, nullptr, &in), 0) << trace();
    EXPECT_EQ(signer.bytes(), first == rsa ? pki->rsa : pki->ec);

    // A spoilt signature of either signer is caught, whichever stands first.
    for (ZQ_PKCS7_SIGNER_INFO *si : {first, first->next}) {
        BIN *sig = si->signature;
        ASSERT_TRUE(sig && sig->length > 10);
        sig->value[sig->length - 5] ^= 0x01;
        EXPECT_EQ(QRT_PKCS7_Signed_Verify(sd.sd, nullptr, nullptr, nullptr), 37350) << si->algID << trace();
        sig->value[sig->length - 5] ^= 0x01;
    }
    EXPECT_EQ(QRT_PKCS7_Signed_Verify(sd.sd, nullptr, nullptr, nullptr), 0) << trace();
}

// A certificates-and-CRL message: no signers, the first certificate and the CRL come out.
TEST_F(Pkcs7Interop, Crl2Pkcs7CarriesTheCrl) {
    ASSERT_EQ(openssl("crl2pkcs7 -in ca.crl -certfile ca.pem -outform DER -out c.der"), 0) << log();
    Bytes msg = file("c.der");
    BIN in = view(msg);
    Out content, first, issuer, crl;
    ASSERT_EQ(QRT_PKCS7_DecodeSigned(nullptr, &content.b, &first.b, &issuer.b, &crl.b, &in), 0) << trace();
    EXPECT_EQ(first.bytes(), pki->ca);
    EXPECT_EQ(crl.bytes(), pki->crl);

    Content ci;
    ASSERT_EQ(QRT_PKCS7_Content_Decode(&ci.c, &in), 0) << trace();
    Signed sd;
    ASSERT_EQ(QRT_PKCS7_Signed_Decode(sd.sd, &ci.c, 1), 0) << trace();
    EXPECT_EQ(QRT_PKCS7_BIN_SET_Count(sd.sd->crls), 1);
    EXPECT_EQ(sd.sd->signerInfos.first, nullptr);
}

TEST_F(Pkcs7Interop, PythonSignatureBuilder) {
    if (!have_python()) GTEST_SKIP() << "python3 cryptography missing";
    for (const char *k : {"rsa", "ec"}) {
        SCOPED_TRACE(k);
        std::string n = k;
        ASSERT_EQ(python("sign " + n + ".pem " + n + ".key data.bin p.der"), 0) << read_file(path("py.txt"));
        Bytes msg = file("p.der");
        BIN in = view(msg);
        int digest = -1;
        Out content, signer;
        ASSERT_EQ(QRT_PKCS7_DecodeSigned(&digest, &content.b, &signer.b, nullptr, nullptr, &in), 0) << trace();
        EXPECT_EQ(octets(content), data);
        EXPECT_EQ(digest, QRT_PKCS7_SHA256);
        EXPECT_EQ(signer.bytes(), n == "rsa" ? pki->rsa : pki->ec);
        ASSERT_TRUE(tamper(msg));
        in = view(msg);
        Out c2;
        EXPECT_EQ(QRT_PKCS7_DecodeSigned(nullptr, &c2.b, nullptr, nullptr, nullptr, &in), 37351) << trace();
    }
}

// ---- openssl and python envelope, we open ------------------------------------------------------

struct EnvCase {
    const char *name;
    const char *args;  // the message in e.der, content data.bin
    const char *recips;
    int encID;
    int altEncID;  // a second acceptable id (ARIA-128 has two rows); 0 none
    bool legacy;
};
void PrintTo(const EnvCase &c, std::ostream *os) { print_case(c, os); }

class OpensslEnveloped : public Pkcs7Interop, public ::testing::WithParamInterface<EnvCase> {};

TEST_P(OpensslEnveloped, ContentComesBack) {
    const EnvCase &c = GetParam();
    if (c.legacy && !pki->legacy) GTEST_SKIP() << "openssl legacy provider unavailable";
    std::string args = std::string(c.args) + " -binary -in data.bin -outform DER -out e.der";
    if (c.legacy) args += kLegacy;
    args += std::string(" ") + c.recips;
    ASSERT_EQ(openssl(args), 0) << log();
    Bytes msg = file("e.der");
    BIN in = view(msg), cert = view(pki->rsa), key = view(pki->rsaKey);
    int enc = -1;
    Out content;
    ASSERT_EQ(QRT_PKCS7_DecodeEnveloped(&enc, &content.b, &in, &cert, &key), 0) << trace();
    EXPECT_EQ(octets(content), data);
    EXPECT_TRUE(enc == c.encID || (c.altEncID && enc == c.altEncID)) << enc;

    BIN other = view(pki->rsa2), otherKey = view(pki->rsa2Key);
    Out none;
    EXPECT_EQ(QRT_PKCS7_DecodeEnveloped(nullptr, &none.b, &in, &other, &otherKey), 37320) << trace();
    EXPECT_EQ(none.b.length, 0u);
}

const EnvCase kEnvCases[] = {
    {"cms_des3", "cms -encrypt -des3", "rsa.pem", 2, 0, false},
    {"cms_aes128", "cms -encrypt -aes-128-cbc", "rsa.pem", 19, 0, false},
    {"cms_aes192", "cms -encrypt -aes-192-cbc", "rsa.pem", 20, 0, false},
    {"cms_aes256", "cms -encrypt -aes-256-cbc", "rsa.pem", 21, 0, false},
    {"cms_seed", "cms -encrypt -seed", "rsa.pem", 8, 0, true},
    {"cms_aria128", "cms -encrypt -aria-128-cbc", "rsa.pem", 9, 16, false},
    {"cms_aria256", "cms -encrypt -aria-256-cbc", "rsa.pem", 18, 0, false},
    {"cms_camellia128", "cms -encrypt -camellia-128-cbc", "rsa.pem", 4, 0, false},
    {"cms_rc2_128", "cms -encrypt -rc2-128", "rsa.pem", 3, 0, true},
    {"cms_rc2_40", "cms -encrypt -rc2-40", "rsa.pem", 3, 0, true},
    {"cms_oaep", "cms -encrypt -aes-256-cbc -recip rsa.pem -keyopt rsa_padding_mode:oaep", "", 21, 0, false},
    {"cms_stream", "cms -encrypt -stream -aes-256-cbc", "rsa.pem", 21, 0, false},
    {"cms_keyid", "cms -encrypt -keyid -aes-128-cbc", "rsa.pem", 19, 0, false},
    {"smime", "smime -encrypt", "rsa.pem", 2, 0, false},
    {"smime_stream_aes", "smime -encrypt -stream -aes256", "rsa.pem", 21, 0, false},
};

INSTANTIATE_TEST_SUITE_P(Pkcs7, OpensslEnveloped, ::testing::ValuesIn(kEnvCases), CaseName{});

// Two recipients: each opens with its own key; a certificate of neither is 37320.
TEST_F(Pkcs7Interop, OpensslTwoRecipients) {
    ASSERT_EQ(openssl("cms -encrypt -binary -aes-256-cbc -in data.bin -outform DER -out e2.der rsa.pem rsa2.pem"), 0)
        << log();
    Bytes msg = file("e2.der");
    BIN in = view(msg);
    struct {
        const Bytes *cert, *key;
    } who[] = {{&pki->rsa, &pki->rsaKey}, {&pki->rsa2, &pki->rsa2Key}};
    for (auto &w : who) {
        BIN cert = view(*w.cert), key = view(*w.key);
        int enc = -1;
        Out content;
        ASSERT_EQ(QRT_PKCS7_DecodeEnveloped(&enc, &content.b, &in, &cert, &key), 0) << trace();
        EXPECT_EQ(enc, QRT_PKCS7_AES256);
        EXPECT_EQ(octets(content), data);
    }
    BIN ca = view(pki->ca), key = view(pki->rsaKey);
    Out none;
    EXPECT_EQ(QRT_PKCS7_DecodeEnveloped(nullptr, &none.b, &in, &ca, &key), 37320) << trace();
}

// Two-phase opening: the encrypted key goes to a separate key holder (openssl pkeyutl here), the
// content key it returns opens the content.
TEST_F(Pkcs7Interop, TwoPhaseOpeningWithAnExternalKeyHolder) {
    struct {
        const char *what, *args, *unwrap;
    } cases[] = {
        {"v1.5", "cms -encrypt -aes-256-cbc rsa.pem rsa2.pem", ""},
        {"oaep", "cms -encrypt -aes-256-cbc -recip rsa2.pem -keyopt rsa_padding_mode:oaep",
         " -pkeyopt rsa_padding_mode:oaep"},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::string args = c.args;
        size_t recips = args.find(" rsa.pem");
        args.insert(recips == std::string::npos ? args.size() : recips,
                    " -binary -in data.bin -outform DER -out e3.der");
        ASSERT_EQ(openssl(args), 0) << log();
        Bytes msg = file("e3.der");
        BIN in = view(msg), cert = view(pki->rsa2);
        Out wrapped;
        ASSERT_EQ(QRT_PKCS7_DecodeEnveloped_Init(&wrapped.b, &in, &cert), 0) << trace();
        put("wrapped.bin", wrapped.bytes());
        ASSERT_EQ(openssl(std::string("pkeyutl -decrypt -inkey rsa2.key -in wrapped.bin -out cek.bin") + c.unwrap), 0)
            << log();
        Bytes cek = file("cek.bin");
        EXPECT_EQ(cek.size(), 32u);
        BIN key = view(cek);
        int enc = -1;
        Out content;
        ASSERT_EQ(QRT_PKCS7_DecodeEnveloped_Final(&enc, &content.b, &in, &cert, &key), 0) << trace();
        EXPECT_EQ(enc, QRT_PKCS7_AES256);
        EXPECT_EQ(octets(content), data);
    }
}

TEST_F(Pkcs7Interop, PythonEnvelopeBuilder) {
    if (!have_python()) GTEST_SKIP() << "python3 cryptography missing";
    for (const char *mode : {"", "aes256"}) {
        SCOPED_TRACE(*mode ? mode : "aes128");
        int rc = python(std::string("envelope rsa.pem data.bin pe.der ") + mode);
        if (rc == kPeerSkip) GTEST_SKIP() << read_file(path("py.txt"));
        ASSERT_EQ(rc, 0) << read_file(path("py.txt"));
        Bytes msg = file("pe.der");
        BIN in = view(msg), cert = view(pki->rsa), key = view(pki->rsaKey);
        int enc = -1;
        Out content;
        ASSERT_EQ(QRT_PKCS7_DecodeEnveloped(&enc, &content.b, &in, &cert, &key), 0) << trace();
        EXPECT_EQ(enc, *mode ? QRT_PKCS7_AES256 : QRT_PKCS7_AES128);
        EXPECT_EQ(octets(content), data);
    }
}

// Encrypted data under a shared key.
TEST_F(Pkcs7Interop, OpensslEncryptedData) {
    struct {
        const char *cipher;
        int encID;
        int keyBytes;
    } cases[] = {{"-aes-128-cbc", 19, 16}, {"-aes-256-cbc", 21, 32}, {"-des3", 2, 24}};
    for (auto &c : cases) {
        SCOPED_TRACE(c.cipher);
        std::string hex;
        for (int i = 0; i < c.keyBytes; ++i) hex += kSecretKey[(2 * i) % 32], hex += kSecretKey[(2 * i + 1) % 32];
        ASSERT_EQ(openssl(std::string("cms -EncryptedData_encrypt -binary ") + c.cipher + " -secretkey " + hex +
                          " -in data.bin -outform DER -out x.der"),
                  0)
            << log();
        Bytes msg = file("x.der"), k = ostrel::test::from_hex(hex);
        BIN in = view(msg), key = view(k);
        int enc = -1;
        Out content;
        ASSERT_EQ(QRT_PKCS7_DecodeEncrypted(&enc, &content.b, &in, &key), 0) << trace();
        EXPECT_EQ(enc, c.encID);
        EXPECT_EQ(octets(content), data);
    }
}

// Digested data, defaulted (SHA-1) and SHA-256, plain and streamed; a changed byte is 37351.
TEST_F(Pkcs7Interop, OpensslDigestedData) {
    struct {
        const char *args;
        int digestID;
    } cases[] = {{"", 3}, {"-md sha256", 6}, {"-md sha512 -stream", 8}};
    for (auto &c : cases) {
        SCOPED_TRACE(c.args);
        ASSERT_EQ(
            openssl(std::string("cms -digest_create -binary ") + c.args + " -in data.bin -outform DER -out g.der"), 0)
            << log();
        Bytes msg = file("g.der");
        BIN in = view(msg);
        int digest = -1;
        Out content;
        ASSERT_EQ(QRT_PKCS7_DecodeDigested(&digest, &content.b, &in), 0) << trace();
        EXPECT_EQ(digest, c.digestID);
        EXPECT_EQ(octets(content), data);
        ASSERT_TRUE(tamper(msg));
        in = view(msg);
        Out bad;
        EXPECT_EQ(QRT_PKCS7_DecodeDigested(nullptr, &bad.b, &in), 37351) << trace();
        EXPECT_EQ(bad.b.length, 0u);
    }
}

// ---- we sign, openssl and python read ----------------------------------------------------------

struct OurSignCase {
    const char *name;
    const Bytes Pki::*cert;
    const Bytes Pki::*key;
    int algID;
    bool smime;  // openssl's PKCS#7 verifier reads it (it has no RSASSA-PSS, even for its own cms output)
};
void PrintTo(const OurSignCase &c, std::ostream *os) { print_case(c, os); }

class OursSigned : public Pkcs7Interop, public ::testing::WithParamInterface<OurSignCase> {};

TEST_P(OursSigned, OpensslVerifies) {
    const OurSignCase &c = GetParam();
    Bytes info = data_info();
    BIN content = view(info), cert = view((*pki).*c.cert), key = view((*pki).*c.key), ca = view(pki->ca);
    Out msg;
    ASSERT_EQ(QRT_PKCS7_EncodeSigned(&msg.b, c.algID, &content, &cert, &key, &ca, nullptr), 0) << trace();
    put("o.der", msg.bytes());
    for (const char *tool : {"cms", "smime"}) {
        SCOPED_TRACE(tool);
        if (!c.smime && std::string(tool) == "smime") continue;
        std::remove(path("got.bin").c_str());
        EXPECT_EQ(openssl(std::string(tool) + " -verify -binary -inform DER -in o.der -CAfile ca.pem -out got.bin"), 0)
            << log();
        EXPECT_EQ(file("got.bin"), data);
    }
    int digest = -1;
    Out back, signer, issuer;
    EXPECT_EQ(QRT_PKCS7_DecodeSigned(&digest, &back.b, &signer.b, &issuer.b, nullptr, &msg.b), 0) << trace();
    EXPECT_EQ(digest, c.algID % 1000);
    EXPECT_EQ(signer.bytes(), (*pki).*c.cert);
    EXPECT_EQ(issuer.bytes(), pki->ca);
}

const OurSignCase kOurSignCases[] = {
    {"rsa_sha256", &Pki::rsa, &Pki::rsaKey, 6, true},       {"rsa_sha1", &Pki::rsa, &Pki::rsaKey, 3, true},
    {"rsa_sha512", &Pki::rsa, &Pki::rsaKey, 8, true},       {"rsa_pss_sha256", &Pki::rsa, &Pki::rsaKey, 2006, false},
    {"rsa_pss_sha1", &Pki::rsa, &Pki::rsaKey, 2003, false}, {"ecdsa_sha256", &Pki::ec, &Pki::ecKey, 6, true},
    {"ecdsa_sha384", &Pki::ec, &Pki::ecKey, 7, true},       {"dsa_sha1", &Pki::dsa, &Pki::dsaKey, 3, true},
};

INSTANTIATE_TEST_SUITE_P(Pkcs7, OursSigned, ::testing::ValuesIn(kOurSignCases), CaseName{});

// Two-phase signing: the attributes from Init (a SET), signed by OpenSSL, then Final.
TEST_F(Pkcs7Interop, TwoPhaseSigningWithAnExternalSigner) {
    Bytes info = data_info();
    BIN content = view(info), cert = view(pki->rsa), ca = view(pki->ca);
    Out attrs;
    ASSERT_EQ(QRT_PKCS7_EncodeSigned_Init(&attrs.b, 6, &content), 0) << trace();
    ASSERT_GT(attrs.b.length, 2u);
    EXPECT_EQ(attrs.b.value[0], 0x31);

    EVP_PKEY *key = read_key(path("rsa.key"));
    ASSERT_TRUE(key);
    EVP_MD_CTX *md = EVP_MD_CTX_new();
    Bytes sig(512);
    size_t n = sig.size();
    bool ok = EVP_DigestSignInit(md, nullptr, EVP_sha256(), nullptr, key) == 1 &&
              EVP_DigestSign(md, sig.data(), &n, attrs.b.value, attrs.b.length) == 1;
    EVP_MD_CTX_free(md);
    EVP_PKEY_free(key);
    ASSERT_TRUE(ok);
    sig.resize(n);
    BIN s = view(sig);
    Out msg;
    ASSERT_EQ(QRT_PKCS7_EncodeSigned_Final(&msg.b, 6, &content, &attrs.b, &s, &cert, &ca, nullptr), 0) << trace();
    put("tp.der", msg.bytes());
    EXPECT_EQ(openssl("cms -verify -binary -inform DER -in tp.der -CAfile ca.pem -out got.bin"), 0) << log();
    EXPECT_EQ(file("got.bin"), data);
    EXPECT_EQ(openssl("smime -verify -binary -inform DER -in tp.der -CAfile ca.pem -out got2.bin"), 0) << log();
    EXPECT_EQ(file("got2.bin"), data);
}

// A certificates-only message: openssl and python list what went in, in order.
TEST_F(Pkcs7Interop, CertificatesOnlyIsReadByPeers) {
    BIN ca = view(pki->ca), crl = view(pki->crl);
    Out msg;
    ASSERT_EQ(QRT_PKCS7_EncodeSigned(&msg.b, 0, nullptr, nullptr, nullptr, &ca, &crl), 0) << trace();
    put("co.der", msg.bytes());
    ASSERT_EQ(openssl("pkcs7 -inform DER -in co.der -print_certs -out certs.pem"), 0) << log();
    ASSERT_EQ(openssl("x509 -in certs.pem -outform DER -out first.der"), 0) << log();
    EXPECT_EQ(file("first.der"), pki->ca);
    EXPECT_NE(read_file(path("certs.pem")).find("Interop CA"), std::string::npos);
    std::string text;
    run("cd " + pki->dir.path() + " && openssl pkcs7 -inform DER -in co.der -print 2>/dev/null", &text);
    EXPECT_NE(text.find("revoked:"), std::string::npos) << text;
    if (have_python()) {
        std::string out;
        ASSERT_EQ(run("cd " + pki->dir.path() +
                          " && python3 -c 'import sys; from cryptography.hazmat.primitives.serialization import "
                          "pkcs7, Encoding; [print(c.public_bytes(Encoding.DER).hex()) for c in "
                          "pkcs7.load_der_pkcs7_certificates(open(\"co.der\",\"rb\").read())]'",
                      &out),
                  0);
        EXPECT_EQ(out, ostrel::test::to_hex(pki->ca.data(), pki->ca.size()) + "\n");
    }
}

// ---- we envelope, encrypt and digest, openssl and python open ------------------------------------

struct OurEnvCase {
    const char *name;
    int encID;
    bool legacy;
    int readsAs;  // the id reading gives back (ARIA-128: two rows share one identifier)
};
void PrintTo(const OurEnvCase &c, std::ostream *os) { print_case(c, os); }

class OursEnveloped : public Pkcs7Interop, public ::testing::WithParamInterface<OurEnvCase> {};

TEST_P(OursEnveloped, OpensslDecrypts) {
    const OurEnvCase &c = GetParam();
    if (c.legacy && !pki->legacy) GTEST_SKIP() << "openssl legacy provider unavailable";
    Bytes info = data_info();
    BIN content = view(info), cert = view(pki->rsa), key = view(pki->rsaKey);
    Out msg;
    ASSERT_EQ(QRT_PKCS7_EncodeEnveloped(&msg.b, c.encID, &content, &cert), 0) << trace();
    put("oe.der", msg.bytes());
    std::string args = "cms -decrypt -binary -inform DER -in oe.der -recip rsa.pem -inkey rsa.key -out got.bin";
    if (c.legacy) args += kLegacy;
    EXPECT_EQ(openssl(args), 0) << log();
    EXPECT_EQ(file("got.bin"), data);
    int enc = -1;
    Out back;
    EXPECT_EQ(QRT_PKCS7_DecodeEnveloped(&enc, &back.b, &msg.b, &cert, &key), 0) << trace();
    EXPECT_EQ(enc, c.readsAs ? c.readsAs : c.encID);
    EXPECT_EQ(octets(back), data);
}

const OurEnvCase kOurEnvCases[] = {
    {"des", 1, true, 0},      {"des3", 2, false, 0},     {"camellia128", 4, false, 0}, {"seed", 8, true, 0},
    {"aria", 9, false, 0},    {"aria128", 16, false, 9}, {"aria192", 17, false, 0},    {"aria256", 18, false, 0},
    {"aes128", 19, false, 0}, {"aes192", 20, false, 0},  {"aes256", 21, false, 0},
};

INSTANTIATE_TEST_SUITE_P(Pkcs7, OursEnveloped, ::testing::ValuesIn(kOurEnvCases), CaseName{});

// Two recipients, v1.5 and OAEP key transport: openssl opens with either key.
TEST_F(Pkcs7Interop, OursTwoRecipientsOpensslDecrypts) {
    Bytes info = data_info();
    BIN content = view(info), r1 = view(pki->rsa), r2 = view(pki->rsa2);
    ZQ_BIN_LIST *list = nullptr;
    ASSERT_EQ(QRT_BIN_LIST_Add(&list, &r1), 0);
    ASSERT_EQ(QRT_BIN_LIST_Add(&list, &r2), 0);
    struct {
        const char *what;
        int keyTrans;
    } modes[] = {{"v1.5", 0}, {"oaep", QRT_PKCS7_KEYTRANS_OAEP}};
    for (auto &m : modes) {
        SCOPED_TRACE(m.what);
        Out msg;
        int rc = m.keyTrans ? QRT_PKCS7_EncodeEnvelopedExBig(&msg.b, QRT_PKCS7_AES256, &content, list, m.keyTrans)
                            : QRT_PKCS7_EncodeEnvelopedEx(&msg.b, QRT_PKCS7_AES256, &content, list);
        ASSERT_EQ(rc, 0) << trace();
        put("o2.der", msg.bytes());
        for (const char *who : {"rsa", "rsa2"}) {
            std::string w = who;
            std::remove(path("got.bin").c_str());
            EXPECT_EQ(openssl("cms -decrypt -binary -inform DER -in o2.der -recip " + w + ".pem -inkey " + w +
                              ".key -out got.bin"),
                      0)
                << who << "\n"
                << log();
            EXPECT_EQ(file("got.bin"), data) << who;
        }
    }
    QRT_BIN_LIST_Free(list);
}

TEST_F(Pkcs7Interop, PythonDecryptsOurs) {
    if (!have_python()) GTEST_SKIP() << "python3 cryptography missing";
    Bytes info = data_info();
    BIN content = view(info), cert = view(pki->rsa);
    for (int enc : {QRT_PKCS7_AES128, QRT_PKCS7_AES256}) {
        SCOPED_TRACE(enc);
        Out msg;
        ASSERT_EQ(QRT_PKCS7_EncodeEnveloped(&msg.b, enc, &content, &cert), 0) << trace();
        put("py.der", msg.bytes());
        int rc = python("decrypt rsa.pem rsa.key py.der pygot.bin");
        if (rc == kPeerSkip) GTEST_SKIP() << read_file(path("py.txt"));
        ASSERT_EQ(rc, 0) << read_file(path("py.txt"));
        EXPECT_EQ(file("pygot.bin"), data);
    }
}

TEST_F(Pkcs7Interop, OursEncryptedDataOpensslDecrypts) {
    Bytes info = data_info();
    BIN content = view(info);
    struct {
        int encID;
        int keyBytes;
    } cases[] = {{QRT_PKCS7_AES128, 16}, {QRT_PKCS7_AES256, 32}, {QRT_PKCS7_DES3, 24}};
    for (auto &c : cases) {
        SCOPED_TRACE(c.encID);
        std::string hex;
        for (int i = 0; i < c.keyBytes; ++i) hex += kSecretKey[(2 * i) % 32], hex += kSecretKey[(2 * i + 1) % 32];
        Bytes k = ostrel::test::from_hex(hex);
        BIN key = view(k);
        Out msg;
        ASSERT_EQ(QRT_PKCS7_EncodeEncrypted(&msg.b, c.encID, &content, &key), 0) << trace();
        put("oc.der", msg.bytes());
        std::remove(path("got.bin").c_str());
        EXPECT_EQ(
            openssl("cms -EncryptedData_decrypt -binary -inform DER -in oc.der -secretkey " + hex + " -out got.bin"), 0)
            << log();
        EXPECT_EQ(file("got.bin"), data);
    }
}

TEST_F(Pkcs7Interop, OursDigestedDataOpensslVerifies) {
    Bytes info = data_info();
    BIN content = view(info);
    for (int digest : {QRT_PKCS7_SHA1, QRT_PKCS7_SHA256, QRT_PKCS7_SHA512}) {
        SCOPED_TRACE(digest);
        Out msg;
        ASSERT_EQ(QRT_PKCS7_EncodeDigested(&msg.b, digest, &content), 0) << trace();
        put("od.der", msg.bytes());
        std::remove(path("got.bin").c_str());
        EXPECT_EQ(openssl("cms -digest_verify -binary -inform DER -in od.der -out got.bin"), 0) << log();
        EXPECT_EQ(file("got.bin"), data);
    }
}

}  // namespace
