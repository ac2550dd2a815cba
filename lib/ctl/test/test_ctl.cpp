// Trust lists: lists signed by openssl (CMS carriage) and by a python reference (RFC 2315
// carriage) open with their exact DER and certificates; our lists round-trip and read with the
// PKCS#7 decoder and openssl; the failures an opener must report; and one table of the checks on
// a decoded list and of membership.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "asn_test_util.hpp"
#include "ostrel/der_build.hpp"
#include "ostrel/openssl_certs.hpp"
#include "ostrel/test_support.hpp"
#include "suite_csp.h"
#include "suite_ctl.h"
#include "suite_pkcs7.h"

namespace {

using ostrel::test::i2d_bytes;
using ostrel::test::make_cert;

using asn_test::Bytes;
using asn_test::view;
using ostrel::test::run;
using ostrel::test::TempDir;
using ostrel::test::trace_text;
using ostrel::test::write_file;
namespace der = ostrel::test::der;
using Out = ostrel::test::OutBin;

const Bytes kCivil{0x2a, 0x83, 0x1a, 0x8c, 0x9a, 0x44, 0x08, 0x01, 0x01, 0x01};  // 1.2.410.200004.8.1.1.1
const Bytes kOther{0x2b, 0x06, 0x01, 0x05, 0x05, 0x07, 0x03, 0x03};              // id-kp-codeSigning
const Bytes kSha1{0x2b, 0x0e, 0x03, 0x02, 0x1a};
const Bytes kSha224{0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x04};
const Bytes kSha256{0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};

struct ListSpec {
    int version = 0;
    std::vector<Bytes> usages{kCivil};
    Bytes thisUpdate = der::utc("200101000000Z");
    Bytes nextUpdate = der::text(0x18, "20991231235959Z");  // empty: absent
    Bytes alg = kSha256;
    std::vector<Bytes> subjects;  // identifiers
};

Bytes make_list(const ListSpec &s) {
    Bytes usage, subjects;
    for (const Bytes &u : s.usages) usage = der::cat({usage, der::tlv(0x06, u)});
    for (const Bytes &id : s.subjects) {
        Bytes e = der::seq({der::tlv(0x04, id)});
        subjects.insert(subjects.end(), e.begin(), e.end());
    }
    Bytes body;
    if (s.version) body = der::tlv(0xa0, der::integer({static_cast<unsigned char>(s.version)}));
    body = der::cat({body, der::tlv(0x30, usage), der::tlv(0x04, {0x01, 0x02}), der::integer({0x07}), s.thisUpdate,
                     s.nextUpdate, der::seq({der::tlv(0x06, s.alg), Bytes{0x05, 0x00}})});
    if (!s.subjects.empty()) body = der::cat({body, der::tlv(0x30, subjects)});
    return der::tlv(0x30, body);
}

Bytes digest(const Bytes &in, int hashID) {
    BIN b = view(in);
    Out o;
    EXPECT_EQ(QRT_CSP_Hash(o.get(), &b, hashID), 0);
    return o.bytes();
}

struct Ctl {
    CertificateTrustList *t = nullptr;
    explicit Ctl(const Bytes &d) {
        BIN b = view(d);
        void *v = nullptr;
        EXPECT_EQ(QRT_ASN_DecodePDU(&v, &b, CertificateTrustList_PDU), 0);
        t = static_cast<CertificateTrustList *>(v);
    }
    ~Ctl() { QRT_ASN_FreePDU(t, CertificateTrustList_PDU); }
};

// ---- keys, certificates and files ----

struct Party {
    EVP_PKEY *key = nullptr;
    X509 *cert = nullptr;
    Bytes der, keyDer;  // keyDer: PKCS#1
};

struct World {
    TempDir dir;
    Party ca, signer, other;
    std::string pem(const char *name) const { return dir / name; }
};

void write_party(const World &w, const Party &p, const char *name) {
    BIO *b = BIO_new_file(w.pem((std::string(name) + ".pem").c_str()).c_str(), "w");
    PEM_write_bio_X509(b, p.cert);
    BIO_free(b);
    b = BIO_new_file(w.pem((std::string(name) + ".key").c_str()).c_str(), "w");
    PEM_write_bio_PrivateKey(b, p.key, nullptr, nullptr, 0, nullptr, nullptr);
    BIO_free(b);
}

World &world() {
    static World *w = [] {
        auto *r = new World;
        auto party = [](Party &p, const char *cn, Party *issuer, long serial) {
            p.key = EVP_RSA_gen(2048);
            p.cert =
                make_cert(p.key, cn, issuer ? issuer->cert : nullptr, issuer ? issuer->key : nullptr, serial, !issuer);
            p.der = i2d_bytes([&](unsigned char **q) { return i2d_X509(p.cert, q); });
            p.keyDer = i2d_bytes([&](unsigned char **q) { return i2d_PrivateKey(p.key, q); });
        };
        party(r->ca, "CTL Test CA", nullptr, 1);
        party(r->signer, "CTL Test Signer", &r->ca, 0x1001);
        party(r->other, "CTL Test Other", &r->ca, 0x1002);
        write_party(*r, r->ca, "ca");
        write_party(*r, r->signer, "signer");
        write_party(*r, r->other, "other");
        return r;
    }();
    return *w;
}

Bytes read_bytes(const std::string &path) { return asn_test::file_bytes(path); }

// The same signed data with its signer infos emptied.
Bytes strip_signers(const Bytes &contentInfo) {
    auto ci = der::children(contentInfo);
    auto explicit0 = der::children(ci[1]);
    auto sd = der::children(explicit0[0]);
    sd.back() = Bytes{0x31, 0x00};
    Bytes body;
    for (const Bytes &e : sd) body = der::cat({body, e});
    return der::seq({ci[0], der::tlv(0xa0, der::tlv(0x30, body))});
}

struct Opened {
    int rc = -1;
    Out list, signer;
    ZQ_BIN_LIST others{};
    ~Opened() { QRT_BIN_LIST_Reset(&others); }
    std::vector<Bytes> otherCerts() const {
        std::vector<Bytes> v;
        for (const ZQ_BIN_LIST *p = &others; p && p->value.value; p = p->next)
            v.emplace_back(p->value.value, p->value.value + p->value.length);
        return v;
    }
};

void open(Opened &o, const Bytes &msg, const Bytes *verifyCert = nullptr) {
    BIN in = view(msg), vc = verifyCert ? view(*verifyCert) : BIN{0, nullptr};
    o.rc = QRT_CTL_DecodeSigned(o.list.get(), o.signer.get(), &o.others, &in, verifyCert ? &vc : nullptr);
}

int open_rc(const Bytes &msg, const Bytes *verifyCert = nullptr) {
    Opened o;
    open(o, msg, verifyCert);
    if (o.rc != 0) {
        EXPECT_TRUE(o.list.empty() && o.signer.empty() && o.others.value.value == nullptr && !o.others.next);
    }
    return o.rc;
}

Bytes sample_list() {
    World &w = world();
    ListSpec s;
    s.subjects = {digest(w.ca.der, QRT_CSP_HASH_SHA256), digest(w.signer.der, QRT_CSP_HASH_SHA256)};
    return make_list(s);
}

// A list that opens: the exact DER, the signer's certificate and the CA among the others.
void expect_opens(const Bytes &msg, const Bytes &list) {
    World &w = world();
    Opened o;
    open(o, msg);
    ASSERT_EQ(o.rc, 0) << trace_text();
    EXPECT_EQ(o.list.bytes(), list);
    EXPECT_EQ(o.signer.bytes(), w.signer.der);
    EXPECT_EQ(o.otherCerts(), std::vector<Bytes>{w.ca.der});
    EXPECT_EQ(open_rc(msg, &w.signer.der), 0) << trace_text();
    EXPECT_EQ(open_rc(msg, &w.other.der), QRT_PKCS7_INVALID_SIGNATURE);
    // one byte of a subject identifier flipped
    Bytes bad = msg;
    auto at = std::search(bad.begin(), bad.end(), list.begin(), list.end());
    ASSERT_NE(at, bad.end());
    at[static_cast<long>(list.size()) - 3] ^= 0x01;
    EXPECT_EQ(open_rc(bad), QRT_PKCS7_INVALID_DIGEST);
    EXPECT_EQ(open_rc(strip_signers(msg)), QRT_PKCS7_NO_SIGNER_INFO);
    EXPECT_EQ(open_rc(strip_signers(msg), &w.signer.der), QRT_PKCS7_NO_SIGNER_INFO);
}

TEST(CtlOpen, OpenSslCmsCarriage) {
    World &w = world();
    Bytes list = sample_list();
    write_file(w.dir / "list.der", std::string(list.begin(), list.end()));
    std::string sign = "openssl cms -sign -binary -econtent_type 1.3.6.1.4.1.311.10.1 -md sha1 -signer " +
                       w.pem("signer.pem") + " -inkey " + w.pem("signer.key") + " -certfile " + w.pem("ca.pem") +
                       " -in " + (w.dir / "list.der") + " -outform DER";
    ASSERT_EQ(run(sign + " -nodetach -out " + (w.dir / "cms.der") + " 2>&1"), 0);
    expect_opens(read_bytes(w.dir / "cms.der"), list);

    // the signer named by its key identifier
    ASSERT_EQ(run(sign + " -nodetach -keyid -out " + (w.dir / "keyid.der") + " 2>&1"), 0);
    Opened byKeyId;
    open(byKeyId, read_bytes(w.dir / "keyid.der"));
    ASSERT_EQ(byKeyId.rc, 0) << trace_text();
    EXPECT_EQ(byKeyId.signer.bytes(), w.signer.der);

    ASSERT_EQ(run(sign + " -out " + (w.dir / "detached.der") + " 2>&1"), 0);
    EXPECT_EQ(open_rc(read_bytes(w.dir / "detached.der")), QRT_PKCS7_NO_CONTENT);

    ASSERT_EQ(run("openssl cms -encrypt -aes128 -binary -in " + (w.dir / "list.der") + " -outform DER -out " +
                  (w.dir / "env.der") + " " + w.pem("signer.pem") + " 2>&1"),
              0);
    EXPECT_EQ(open_rc(read_bytes(w.dir / "env.der")), QRT_CTL_BAD_SIGNED);
    Bytes junk{0x30, 0x03, 0x02, 0x01, 0x00};
    EXPECT_NE(open_rc(junk), 0);
}

// The RFC 2315 carriage, written by python over DER-sorted attributes.
const char kPythonSigner[] = R"PY(
import sys, datetime
from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import padding
def L(n):
    if n < 0x80: return bytes([n])
    b = n.to_bytes((n.bit_length() + 7) // 8, 'big'); return bytes([0x80 | len(b)]) + b
def T(tag, c): return bytes([tag]) + L(len(c)) + c
def oid(s):
    p = [int(x) for x in s.split('.')]; out = bytes([40 * p[0] + p[1]])
    for v in p[2:]:
        enc = [v & 0x7f]; v >>= 7
        while v: enc.insert(0, 0x80 | (v & 0x7f)); v >>= 7
        out += bytes(enc)
    return T(6, out)
def integer(n): return T(2, n.to_bytes((n.bit_length() + 8) // 8, 'big'))
lst, certp, keyp, cap, outp = sys.argv[1:6]
lst = open(lst, 'rb').read()
cert = x509.load_pem_x509_certificate(open(certp, 'rb').read())
ca = x509.load_pem_x509_certificate(open(cap, 'rb').read())
key = serialization.load_pem_private_key(open(keyp, 'rb').read(), None)
n = lst[1]; body = lst[2:] if n < 0x80 else lst[2 + (n & 0x7f):]
h = hashes.Hash(hashes.SHA1()); h.update(body); md = h.finalize()
CTL = '1.3.6.1.4.1.311.10.1'
now = datetime.datetime.utcnow().strftime('%y%m%d%H%M%SZ').encode()
attrs = sorted([T(0x30, oid('1.2.840.113549.1.9.3') + T(0x31, oid(CTL))),
                T(0x30, oid('1.2.840.113549.1.9.4') + T(0x31, T(4, md))),
                T(0x30, oid('1.2.840.113549.1.9.5') + T(0x31, T(0x17, now)))])
sig = key.sign(T(0x31, b''.join(attrs)), padding.PKCS1v15(), hashes.SHA1())
sha1 = T(0x30, oid('1.3.14.3.2.26') + b'\x05\x00')
isn = T(0x30, cert.issuer.public_bytes() + integer(cert.serial_number))
si = T(0x30, integer(1) + isn + sha1 + T(0xa0, b''.join(attrs)) +
       T(0x30, oid('1.2.840.113549.1.1.1') + b'\x05\x00') + T(4, sig))
der = lambda c: c.public_bytes(serialization.Encoding.DER)
sd = T(0x30, integer(1) + T(0x31, sha1) + T(0x30, oid(CTL) + T(0xa0, lst)) +
       T(0xa0, der(cert) + der(ca)) + T(0x31, si))
open(outp, 'wb').write(T(0x30, oid('1.2.840.113549.1.7.2') + T(0xa0, sd)))
)PY";

TEST(CtlOpen, PythonRfc2315Carriage) {
    World &w = world();
    const std::string py = "PYTHONPATH=/usr/lib/python3/dist-packages python3";
    if (run(py + " -c 'import cryptography' 2>/dev/null") != 0) GTEST_SKIP() << "python3-cryptography is missing";
    Bytes list = sample_list();
    write_file(w.dir / "list2315.der", std::string(list.begin(), list.end()));
    write_file(w.dir / "sign.py", kPythonSigner);
    ASSERT_EQ(run(py + " " + (w.dir / "sign.py") + " " + (w.dir / "list2315.der") + " " + w.pem("signer.pem") + " " +
                  w.pem("signer.key") + " " + w.pem("ca.pem") + " " + (w.dir / "p7.der") + " 2>&1"),
              0);
    expect_opens(read_bytes(w.dir / "p7.der"), list);
}

struct Signed {
    int rc = -1;
    Out der;
};

void sign(Signed &s, const Bytes &list, const Bytes *extra, const std::vector<Bytes> &certs = {world().ca.der}) {
    World &w = world();
    BIN l = view(list), c = view(w.signer.der), k = view(w.signer.keyDer), e = extra ? view(*extra) : BIN{0, nullptr};
    ZQ_BIN_LIST *chain = nullptr;
    for (const Bytes &b : certs) {
        BIN v = view(b);
        QRT_BIN_LIST_Add(&chain, &v);
    }
    s.rc = QRT_CTL_EncodeSigned(s.der.get(), &l, &c, &k, chain, extra ? &e : nullptr);
    QRT_BIN_LIST_Free(chain);
}

TEST(CtlSign, RoundTripAndPeers) {
    World &w = world();
    Bytes list = sample_list();
    Signed s;
    sign(s, list, nullptr);
    ASSERT_EQ(s.rc, 0) << trace_text();
    Bytes msg = s.der.bytes();
    expect_opens(msg, list);

    // the PKCS#7 decoder verifies it: SHA-1, content type cTL carrying the list itself
    BIN in = view(msg);
    int digestID = 0;
    Out content, signer;
    ASSERT_EQ(QRT_PKCS7_DecodeSigned(&digestID, content.get(), signer.get(), nullptr, nullptr, &in), 0) << trace_text();
    EXPECT_EQ(digestID, QRT_PKCS7_SHA1);
    ZQ_PKCS7_CONTENT c{};
    ASSERT_EQ(QRT_PKCS7_Content_Decode(&c, content.get()), 0);
    EXPECT_EQ(c.typeID, QRT_PKCS7_CTL);
    EXPECT_EQ(Bytes(c.value->value, c.value->value + c.value->length), list);
    QRT_PKCS7_Content_Reset(&c);

    // exactly one signingTime among the authenticated attributes, and contentType cTL
    ZQ_PKCS7_CONTENT ci{};
    ASSERT_EQ(QRT_PKCS7_Content_Decode(&ci, &in), 0);
    ZQ_PKCS7_SIGNED *sd = QRT_PKCS7_Signed_New();
    ASSERT_EQ(QRT_PKCS7_Signed_Decode(sd, &ci, 1), 0) << trace_text();
    ZQ_PKCS7_ATTRIBS attrs{};
    ASSERT_EQ(QRT_PKCS7_Attributes_Decode(&attrs, sd->signerInfos.first->authAttrs), 0);
    int times = 0;
    for (const ZQ_PKCS7_ATTRIB *a = attrs.first; a; a = a->next) times += a->typeID == QRT_PKCS7_AT_SIGNING_TIME;
    EXPECT_EQ(times, 1);
    ASSERT_NE(QRT_PKCS7_Attributes_Get(&attrs, QRT_PKCS7_AT_CONTENT_TYPE), nullptr);
    EXPECT_EQ(QRT_PKCS7_Attributes_Get(&attrs, QRT_PKCS7_AT_CONTENT_TYPE)->number, QRT_PKCS7_CTL);
    EXPECT_EQ(QRT_PKCS7_BIN_SET_Count(sd->certs), 2);
    EXPECT_EQ(sd->crls, nullptr);
    QRT_PKCS7_Attributes_Reset(&attrs);
    QRT_PKCS7_Signed_Free(sd);
    QRT_PKCS7_Content_Reset(&ci);

    // openssl reads the certificates: the signer, then certs
    write_file(w.dir / "ours.der", std::string(msg.begin(), msg.end()));
    std::string printed;
    ASSERT_EQ(run("openssl pkcs7 -inform DER -print_certs -noout -in " + (w.dir / "ours.der") + " 2>&1", &printed), 0);
    size_t a = printed.find("CN = CTL Test Signer"), b = printed.find("CN = CTL Test CA");
    EXPECT_TRUE(a != std::string::npos && b != std::string::npos && a < b) << printed;
}

TEST(CtlSign, ExtraCertByTypeAndFailures) {
    World &w = world();
    Bytes list = sample_list();
    auto sets = [](const Bytes &msg, int &certs, int &crls, Bytes &lastCert) {
        BIN in = view(msg);
        ZQ_PKCS7_CONTENT ci{};
        ASSERT_EQ(QRT_PKCS7_Content_Decode(&ci, &in), 0);
        ZQ_PKCS7_SIGNED *sd = QRT_PKCS7_Signed_New();
        ASSERT_EQ(QRT_PKCS7_Signed_Decode(sd, &ci, 1), 0) << trace_text();
        certs = QRT_PKCS7_BIN_SET_Count(sd->certs);
        crls = QRT_PKCS7_BIN_SET_Count(sd->crls);
        const BIN *last = QRT_PKCS7_BIN_SET_Get(sd->certs, certs - 1);
        lastCert.assign(last->value, last->value + last->length);
        QRT_PKCS7_Signed_Free(sd);
        QRT_PKCS7_Content_Reset(&ci);
    };
    int certs = 0, crls = 0;
    Bytes last;
    Bytes crl = der::certificate_list(der::tbs_cert_list({}, "200101000000Z", "301231000000Z"));
    Signed withCrl;
    sign(withCrl, list, &crl);
    ASSERT_EQ(withCrl.rc, 0) << trace_text();
    sets(withCrl.der.bytes(), certs, crls, last);
    EXPECT_EQ(certs, 2);
    EXPECT_EQ(crls, 1);
    Signed withCert;
    sign(withCert, list, &w.other.der);
    ASSERT_EQ(withCert.rc, 0) << trace_text();
    sets(withCert.der.bytes(), certs, crls, last);
    EXPECT_EQ(certs, 3);
    EXPECT_EQ(crls, 0);
    EXPECT_EQ(last, w.other.der);
    Opened o;
    open(o, withCert.der.bytes());
    ASSERT_EQ(o.rc, 0);
    EXPECT_EQ(o.otherCerts(), (std::vector<Bytes>{w.ca.der, w.other.der}));

    Bytes junk{0x04, 0x01, 0x00};
    Signed bad;
    sign(bad, list, &junk);
    EXPECT_EQ(bad.rc, QRT_CTL_INVALID_INPUT);
    EXPECT_TRUE(bad.der.empty());
    sign(bad, junk, nullptr);
    EXPECT_EQ(bad.rc, QRT_CTL_BAD_CTL);
    BIN l = view(list), c = view(w.signer.der);
    EXPECT_EQ(QRT_CTL_EncodeSigned(bad.der.get(), &l, &c, nullptr, nullptr, nullptr), QRT_CTL_INVALID_INPUT);
    EXPECT_EQ(QRT_CTL_DecodeSigned(nullptr, o.signer.get(), &o.others, &l, nullptr), QRT_CTL_INVALID_INPUT);

    // a signing failure is left in the caller's trace; nothing is written to standard output
    QRT_Trace_Initialize();
    QRT_Trace_ClearError();
    Bytes badKey{0x30, 0x03, 0x02, 0x01, 0x01};
    BIN k = view(badKey);
    fflush(stdout);
    int saved = dup(1);
    FILE *capture = tmpfile();
    dup2(fileno(capture), 1);
    int rc = QRT_CTL_EncodeSigned(bad.der.get(), &l, &c, &k, nullptr, nullptr);
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    off_t written = lseek(fileno(capture), 0, SEEK_END);
    fclose(capture);
    EXPECT_NE(rc, 0);
    EXPECT_EQ(written, 0);
    std::string trace = trace_text();
    EXPECT_NE(trace.find(":QRT_CTL_EncodeSigned:" + std::to_string(rc) + ":"), std::string::npos) << trace;
}

TEST(CtlCheck, Table) {
    World &w = world();
    const time_t now = time(nullptr);
    Bytes sha256Id = digest(w.signer.der, QRT_CSP_HASH_SHA256);
    auto verify = [&](ListSpec s) {
        Ctl c(make_list(s));
        return c.t ? QRT_CTL_Verify(c.t, now) : -1;
    };
    auto trusted = [&](ListSpec s, const Bytes &cert) {
        Ctl c(make_list(s));
        BIN b = view(cert);
        return c.t ? QRT_CTL_IsCertTrusted(c.t, &b) : -1;
    };
    ListSpec base;
    EXPECT_EQ(verify(base), 0);
    ListSpec v2;
    v2.version = 1;
    EXPECT_EQ(verify(v2), QRT_CTL_INVALID_VERSION);
    ListSpec usage;
    usage.usages = {kOther};
    EXPECT_EQ(verify(usage), QRT_CTL_INVALID_SUBJECT_USAGE);
    usage.usages = {kOther, kCivil};
    EXPECT_EQ(verify(usage), 0);
    ListSpec ahead;
    ahead.thisUpdate = der::text(0x18, "20980101000000Z");
    EXPECT_EQ(verify(ahead), QRT_CTL_INVALID_TIME);
    ahead.thisUpdate = der::utc("480101000000Z");  // 2048
    EXPECT_EQ(verify(ahead), QRT_CTL_INVALID_TIME);
    ListSpec past;
    past.nextUpdate = der::utc("990101000000Z");  // 1999
    EXPECT_EQ(verify(past), QRT_CTL_EXPIRED);
    ListSpec open;
    open.nextUpdate.clear();
    EXPECT_EQ(verify(open), 0);

    ListSpec s256;
    s256.subjects = {digest(w.ca.der, QRT_CSP_HASH_SHA256), sha256Id};
    EXPECT_EQ(trusted(s256, w.signer.der), 0);
    EXPECT_EQ(trusted(s256, w.other.der), QRT_CTL_NOT_CERT_TRUSTED);
    ListSpec s1;
    s1.alg = kSha1;
    s1.subjects = {digest(w.signer.der, QRT_CSP_HASH_SHA1)};
    EXPECT_EQ(trusted(s1, w.signer.der), 0);
    s1.subjects = {sha256Id};  // right bytes' prefix, wrong length
    EXPECT_EQ(trusted(s1, w.signer.der), QRT_CTL_NOT_CERT_TRUSTED);
    ListSpec s224;
    s224.alg = kSha224;
    s224.subjects = {digest(w.signer.der, QRT_CSP_HASH_SHA224)};
    EXPECT_EQ(trusted(s224, w.signer.der), QRT_CTL_UNKNOWN_HASHID);
    ListSpec none;
    EXPECT_EQ(trusted(none, w.signer.der), QRT_CTL_NOT_CERT_TRUSTED);

    Ctl c(make_list(base));
    BIN cert = view(w.signer.der);
    EXPECT_EQ(QRT_CTL_Verify(nullptr, now), QRT_CTL_INVALID_INPUT);
    EXPECT_EQ(QRT_CTL_IsCertTrusted(nullptr, &cert), QRT_CTL_INVALID_INPUT);
    EXPECT_EQ(QRT_CTL_IsCertTrusted(c.t, nullptr), QRT_CTL_INVALID_INPUT);

    // failures are recorded under the exported function's name
    QRT_Trace_Initialize();
    QRT_Trace_ClearError();
    EXPECT_EQ(verify(past), QRT_CTL_EXPIRED);
    std::string trace = trace_text();
    EXPECT_NE(trace.find(":QRT_CTL_Verify:44080:ctl expired:"), std::string::npos) << trace;
}

TEST(CtlCheck, HundredThousandSubjectsInOnePass) {
    World &w = world();
    ListSpec big;
    big.subjects.reserve(100000);
    for (int i = 0; i < 99999; ++i) {
        Bytes id(32, 0);
        std::memcpy(id.data(), &i, sizeof i);
        big.subjects.push_back(id);
    }
    big.subjects.push_back(digest(w.signer.der, QRT_CSP_HASH_SHA256));
    Ctl c(make_list(big));
    ASSERT_NE(c.t, nullptr);
    BIN cert = view(w.signer.der), other = view(w.other.der);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(QRT_CTL_IsCertTrusted(c.t, &cert), 0);
    EXPECT_EQ(QRT_CTL_IsCertTrusted(c.t, &other), QRT_CTL_NOT_CERT_TRUSTED);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
}

TEST(CtlFrame, VersionAndTexts) {
    EXPECT_STREQ(QRT_CTL_GetVersion(), "1.7.0.0");
    EXPECT_EQ(QRT_CTL_CheckVersion("1.7.0.0"), 0);
    EXPECT_EQ(QRT_CTL_CheckVersion("1.7.0.1"), -1);
    EXPECT_STREQ(QRT_CTL_GetErrorReason(QRT_CTL_NOT_CERT_TRUSTED, 1), "Not cert trusted");
    EXPECT_STREQ(QRT_CTL_GetErrorReason(QRT_CTL_INVALID_SUBJECT_USAGE, 1), "invalid subject usage");
    // Korean in EUC-KR: "Signed Data" followed by the two-byte text
    EXPECT_EQ(std::string(QRT_CTL_GetErrorReason(QRT_CTL_BAD_SIGNED, 0)).rfind("Signed Data", 0), 0u);
    EXPECT_STRNE(QRT_CTL_GetErrorReason(QRT_CTL_EXPIRED, 0), QRT_CTL_GetErrorReason(QRT_CTL_EXPIRED, 1));
    EXPECT_STREQ(QRT_CTL_GetErrorReason(QRT_PKCS7_NO_SIGNER_INFO, 1), "no signer info");
    EXPECT_STREQ(QRT_CTL_GetErrorReason(QRT_PKCS7_NO_SIGNER_INFO, 0),
                 QRT_PKCS7_GetErrorReason(QRT_PKCS7_NO_SIGNER_INFO, 0));
    for (int code : {1001, 6001, 8001})
        EXPECT_STREQ(QRT_CTL_GetErrorReason(code, 1), code < 2000   ? QRT_ASN_GetErrorReason(code, 1)
                                                      : code < 7000 ? QRT_CSP_GetErrorReason(code, 1)
                                                                    : QRT_IO_GetErrorReason(code, 1));
    EXPECT_STREQ(QRT_CTL_GetErrorReason(44999, 1), "");
}

}  // namespace
