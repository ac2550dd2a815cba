// Revocation and trust-list checks on objects made at run time: a CA and users from `openssl ca`
// with revocations and CRLs of several shapes (key identifiers, distribution points, indirect,
// critical extensions), hand-built indirect CRLs for the entry rules, trust lists from `openssl
// cms`, and OCSP answers from a test callback.
#include <openssl/sha.h>

#include <ctime>
#include <map>

#include "ostrel/der_build.hpp"
#include "pvd_test_util.hpp"

using namespace pvd_test;
namespace der = ostrel::test::der;

namespace {

// ---- The PKI ----

const char *kCaConf = R"(
[req]
distinguished_name = req_dn
[req_dn]
[ca]
default_ca = CA_rev
[CA_rev]
database = index.txt
new_certs_dir = .
certificate = ca.pem
private_key = ca.key
serial = serial
crlnumber = crlnumber
default_md = sha256
default_days = 365
default_crl_days = 30
policy = pol
unique_subject = no
[CA_other]
database = index_o.txt
new_certs_dir = .
certificate = other.pem
private_key = other.key
serial = serial_o
crlnumber = crlnumber_o
default_md = sha256
default_days = 365
default_crl_days = 30
policy = pol
unique_subject = no
[pol]
commonName = supplied
[v3_ca]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[user]
basicConstraints = CA:FALSE
keyUsage = digitalSignature
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
crlDistributionPoints = URI:http://crl.example/ca.crl
authorityInfoAccess = OCSP;URI:http://ocsp.example/a,caIssuers;URI:http://ca.example/ca.crt
[user_noakid]
basicConstraints = CA:FALSE
subjectKeyIdentifier = hash
authorityKeyIdentifier = none
crlDistributionPoints = URI:http://crl.example/ca.crl
[user_nodp]
basicConstraints = CA:FALSE
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[user_full]
basicConstraints = CA:FALSE
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid,issuer:always
[user_ci]
basicConstraints = CA:FALSE
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
crlDistributionPoints = dp_ci
[dp_ci]
fullname = URI:http://crl.example/ca.crl
CRLissuer = dirName:other_dn
[other_dn]
CN = Other CA
[crl_akid]
authorityKeyIdentifier = keyid
[crl_akid_full]
authorityKeyIdentifier = keyid,issuer:always
[crl_crit]
authorityKeyIdentifier = keyid
1.2.3.4 = critical,ASN1:NULL
[crl_idp_ok]
authorityKeyIdentifier = keyid
issuingDistributionPoint = critical,@idp_ok
[idp_ok]
fullname = URI:http://crl.example/ca.crl
[crl_idp_bad]
authorityKeyIdentifier = keyid
issuingDistributionPoint = critical,@idp_bad
[idp_bad]
fullname = URI:http://other.example/x.crl
[crl_indirect]
issuingDistributionPoint = critical,@idp_ind
[idp_ind]
fullname = URI:http://crl.example/ca.crl
indirectCRL = TRUE
)";

struct RevPki : ShellDir {
    std::map<std::string, Bytes> der;  // users and CAs by name, CRLs by file name

    static RevPki &get() {
        static RevPki *p = [] {
            auto *r = new RevPki;
            r->make();
            return r;
        }();
        return *p;
    }

    void ca(const std::string &name, const std::string &cn) {
        sh("openssl req -x509 -config ca.cnf -extensions v3_ca -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes "
           "-keyout " +
           name + ".key -out " + name + ".pem -subj '/CN=" + cn + "' -days 3650");
        sh("openssl x509 -in " + name + ".pem -outform DER -out " + name + ".der");
        der[name] = file_bytes(dir / (name + ".der"));
    }

    void user(const std::string &name, const std::string &ext, const std::string &section = "CA_rev") {
        sh("openssl req -new -config ca.cnf -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout " + name +
           ".key -out " + name + ".csr -subj '/CN=" + name + "'");
        sh("openssl ca -batch -config ca.cnf -name " + section + " -extensions " + ext + " -in " + name + ".csr -out " +
           name + ".pem -notext");
        sh("openssl x509 -in " + name + ".pem -outform DER -out " + name + ".der");
        der[name] = file_bytes(dir / (name + ".der"));
    }

    void crl(const std::string &file, const std::string &exts, const std::string &section = "CA_rev") {
        sh("openssl ca -config ca.cnf -name " + section + " -gencrl " + (exts.empty() ? "" : "-crlexts " + exts) +
           " -out " + file + ".pem");
        sh("openssl crl -in " + file + ".pem -outform DER -out " + file + ".der");
        der[file] = file_bytes(dir / (file + ".der"));
    }

    void make() {
        ostrel::test::write_file(dir / "ca.cnf", kCaConf);
        sh("touch index.txt index_o.txt && echo 1001 > serial && echo 2001 > serial_o && echo 01 > crlnumber && "
           "echo 01 > crlnumber_o");
        ca("ca", "Rev CA");
        ca("other", "Other CA");
        for (const char *u : {"good", "revoked", "superseded"}) user(u, "user");
        user("noakid", "user_noakid");
        user("nodp", "user_nodp");
        user("full", "user_full");
        user("ci", "user_ci");
        sh("openssl ca -config ca.cnf -revoke revoked.pem -crl_reason keyCompromise");
        sh("openssl ca -config ca.cnf -revoke superseded.pem -crl_reason superseded");
        crl("akid", "crl_akid");
        crl("noakid_crl", "");
        crl("akid_full", "crl_akid_full");
        crl("crit", "crl_crit");
        crl("idp_ok", "crl_idp_ok");
        crl("idp_bad", "crl_idp_bad");
        crl("rev_indirect", "crl_indirect");
        crl("other_akid", "crl_akid", "CA_other");
        crl("other_indirect", "crl_indirect", "CA_other");
    }
};

// A loaded object, released at scope exit.
struct Obj {
    ZQ_PVD_InterObject o{};
    Obj() = default;
    Obj(const Obj &) = delete;
    Obj &operator=(const Obj &) = delete;
    ~Obj() { QRT_PVD_InterObject_Reset(&o); }
    ZQ_PVD_InterObject *operator->() { return &o; }
    ZQ_PVD_InterObject *get() { return &o; }
};

void load_cert(Obj &o, const Bytes &b, int type = 0, int source = PVD_SOURCE_INPUT) {
    BIN v = view(b);
    ASSERT_EQ(QRT_PVD_InterObject_SetCert(o.get(), &v, type, source), 0) << trace_text();
}
void load_crl(Obj &o, const Bytes &b, int source = PVD_SOURCE_INPUT) {
    BIN v = view(b);
    ASSERT_EQ(QRT_PVD_InterObject_SetCRL(o.get(), &v, PVD_TYPE_CRL, source), 0) << trace_text();
}
void load_ctl(Obj &o, const Bytes &b, int source = PVD_SOURCE_LDAP) {
    BIN v = view(b);
    ASSERT_EQ(QRT_PVD_InterObject_SetCTL(o.get(), &v, "cn=ctl", source), 0) << trace_text();
}

const Bytes &pki(const std::string &name) {
    RevPki &p = RevPki::get();
    EXPECT_TRUE(p.log.empty()) << p.log;
    EXPECT_FALSE(p.der[name].empty()) << name;
    return p.der[name];
}

// ---- Scope ----

TEST(PvdRevokeScope, Table) {
    trace_on();
    struct Case {
        const char *crl, *subject;
        int expect;
    } cases[] = {
        {"akid", "good", 0},
        {"noakid_crl", "good", QRT_PVD_CRL_EXT_NOT_EXIST},
        {"akid", "noakid", QRT_PVD_CERT_EXT_NOT_EXIST},
        {"other_akid", "good", QRT_PVD_CRL_KEYID_MISMATCH},
        {"akid_full", "good", QRT_PVD_CRL_KEYID_MISMATCH},  // the CRL names issuer and serial, the subject not
        {"akid_full", "full", 0},
        {"akid", "nodp", 0},
        {"idp_ok", "good", 0},
        {"idp_bad", "good", QRT_PVD_CRL_ISSDP_NAME_MISMATCH},
        {"idp_bad", "nodp", 0},                                        // no point of the subject to compare
        {"other_indirect", "ci", 0},                                   // cRLIssuer names the CRL's issuer
        {"rev_indirect", "ci", QRT_PVD_CRL_ISSUER_NAME_MISMATCH},      // cRLIssuer names another
        {"other_indirect", "good", QRT_PVD_CRL_ISSUER_NAME_MISMATCH},  // no cRLIssuer: the subject's issuer
        {"rev_indirect", "good", 0},                                   // indirect: no key identifier rule
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.crl) + " / " + c.subject);
        Obj crl, subj;
        load_crl(crl, pki(c.crl));
        load_cert(subj, pki(c.subject));
        QRT_Trace_ClearError();
        EXPECT_EQ(QRT_PVD_CRL_CheckScope(crl.get(), subj.get()), c.expect) << trace_text();
        if (c.expect) {
            EXPECT_EQ(last_record().func, "QRT_PVD_CRL_CheckScope");
        }
    }
    Obj subj;
    load_cert(subj, pki("good"));
    EXPECT_EQ(QRT_PVD_CRL_CheckScope(subj.get(), subj.get()), QRT_PVD_INVALID_INPUT);
    EXPECT_EQ(QRT_PVD_AsnCRL_CheckAKID(nullptr, nullptr), QRT_PVD_INVALID_INPUT);
}

// ---- Status ----

TEST(PvdRevokeStatus, OpensslCrls) {
    trace_on();
    struct Case {
        const char *crl, *subject;
        int expect, reason;
    } cases[] = {
        {"akid", "good", 0, -1},
        {"akid", "revoked", QRT_PVD_CERT_REVOKED, 1},
        {"akid", "superseded", QRT_PVD_CERT_REVOKED, 4},
        {"other_akid", "revoked", 0, -1},  // nothing revoked by the other CA
        {"crit", "good", QRT_PVD_CRL_EXT_INVALID, -1},
        {"idp_ok", "revoked", QRT_PVD_CERT_REVOKED, 1},  // the processed critical IDP passes
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.crl) + " / " + c.subject);
        Obj crl, subj;
        load_crl(crl, pki(c.crl));
        load_cert(subj, pki(c.subject));
        int reason = 99;
        EXPECT_EQ(QRT_PVD_AsnCRL_CheckStatus(crl.get(), subj.get(), &reason), c.expect);
        EXPECT_EQ(reason, c.reason);
    }
}

// Hand-built CRLs: extensions and entries the openssl command cannot make.
Bytes ext(const Bytes &oid, bool critical, const Bytes &value) {
    return critical ? der::seq({der::tlv(0x06, oid), Bytes{0x01, 0x01, 0xff}, der::tlv(0x04, value)})
                    : der::seq({der::tlv(0x06, oid), der::tlv(0x04, value)});
}
const Bytes kReason{0x55, 0x1d, 0x15}, kCertIssuer{0x55, 0x1d, 0x1d}, kIdp{0x55, 0x1d, 0x1c}, kUnknown{0x2a, 0x03};

Bytes issuer_ext(const std::string &cn) { return ext(kCertIssuer, true, der::seq({der::tlv(0xa4, der::cn_name(cn))})); }
Bytes reason_ext(unsigned char r) { return ext(kReason, false, der::tlv(0x0a, {r})); }
Bytes entry(const Bytes &serial, std::initializer_list<Bytes> exts = {}) {
    if (exts.size() == 0) return der::seq({der::integer(serial), der::utc("200101000000Z")});
    return der::seq({der::integer(serial), der::utc("200101000000Z"), der::tlv(0x30, der::cat(exts))});
}
Bytes hand_crl(const Bytes &entries, bool indirect) {
    Bytes body = der::cat({der::integer({0x01}), der::sha256_rsa(), der::cn_name("Other CA"), der::utc("200101000000Z"),
                           der::utc("491231000000Z"), der::tlv(0x30, entries)});
    if (indirect)
        body = der::cat({body, der::tlv(0xa0, der::seq({ext(kIdp, true, der::seq({der::tlv(0x84, {0xff})}))}))});
    return der::certificate_list(der::tlv(0x30, body));
}

TEST(PvdRevokeStatus, EntryRules) {
    trace_on();
    Obj subj;
    load_cert(subj, pki("good"));
    const HUGE &sn = static_cast<Certificate *>(subj->pAsnObj)->tbsCertificate.serialNumber;
    const Bytes serial(sn.value, sn.value + sn.length), other{0x7f, 0x01};
    Bytes padded{0x00};
    padded.insert(padded.end(), serial.begin(), serial.end());
    struct Case {
        const char *name;
        Bytes entries;
        bool indirect;
        int expect, reason;
    } cases[] = {
        {"another issuer's entry clears the mark", entry(serial, {issuer_ext("Someone Else")}), true, 0, -1},
        {"the walk goes on to the subject's issuer",
         der::cat({entry(serial, {issuer_ext("Someone Else")}), entry(serial, {issuer_ext("Rev CA"), reason_ext(1)})}),
         true, QRT_PVD_CERT_REVOKED, 1},
        {"certificateIssuer only counts when indirect", entry(serial, {issuer_ext("Someone Else"), reason_ext(3)}),
         false, QRT_PVD_CERT_REVOKED, 3},
        {"the first matching entry decides", der::cat({entry(serial, {reason_ext(6)}), entry(serial, {reason_ext(1)})}),
         false, QRT_PVD_CERT_REVOKED, 6},
        {"serial of another length", entry(padded), false, 0, -1},
        {"other serials only", der::cat({entry(other), entry(other, {reason_ext(1)})}), false, 0, -1},
        {"critical unknown entry extension", entry(serial, {ext(kUnknown, true, {0x05, 0x00})}), false,
         QRT_PVD_CRL_EXT_INVALID, -1},
        {"critical unknown extension in another entry",
         der::cat({entry(serial), entry(other, {ext(kUnknown, true, {0x05, 0x00})})}), false, QRT_PVD_CRL_EXT_INVALID,
         -1},
        {"non-critical unknown entry extension", entry(serial, {ext(kUnknown, false, {0x05, 0x00})}), false,
         QRT_PVD_CERT_REVOKED, -1},
        {"undecodable reasonCode", entry(serial, {ext(kReason, false, {0x04, 0x00})}), false, QRT_PVD_CRL_EXT_INVALID,
         -1},
        {"undecodable certificateIssuer", entry(serial, {ext(kCertIssuer, true, {0x30, 0x05})}), true,
         QRT_PVD_CRL_EXT_INVALID, -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Obj crl;
        load_crl(crl, hand_crl(c.entries, c.indirect));
        EXPECT_EQ(crl->indirect, c.indirect ? 1 : 0);
        int reason = 99;
        EXPECT_EQ(QRT_PVD_AsnCRL_CheckStatus(crl.get(), subj.get(), &reason), c.expect) << trace_text();
        EXPECT_EQ(reason, c.reason);
    }
}

// ---- A found CRL, all steps ----

struct Ctx {
    ZQ_PVD_Context c{};
    ~Ctx() { QRT_PVD_StateVars_Reset(&c.vars); }
};

TEST(PvdRevokeFound, OrderAndEvidence) {
    trace_on();
    Obj ca, other, good, revoked;
    load_cert(ca, pki("ca"));
    load_cert(other, pki("other"));
    load_cert(good, pki("good"));
    load_cert(revoked, pki("revoked"));
    Ctx ctx;
    ASSERT_EQ(QRT_PVD_StateVars_InitPubKey(&ctx.c.vars, ca.get()), 0);
    Bytes broken = pki("akid");
    broken.back() ^= 0x01;
    struct Case {
        const char *name;
        Bytes crl;
        int source;
        ZQ_PVD_InterObject *subject, *crlIssuer;
        int expect;
    } cases[] = {
        {"good", pki("akid"), PVD_SOURCE_INPUT, good.get(), ca.get(), 0},
        {"issuer not known", pki("akid"), PVD_SOURCE_INPUT, good.get(), nullptr, 0},
        {"revoked", pki("akid"), PVD_SOURCE_INPUT, revoked.get(), ca.get(), QRT_PVD_CERT_REVOKED},
        {"out of scope first", pki("other_akid"), PVD_SOURCE_INPUT, good.get(), ca.get(), QRT_PVD_CRL_KEYID_MISMATCH},
        {"issuer without cRLSign", pki("akid"), PVD_SOURCE_INPUT, good.get(), good.get(),
         QRT_PVD_CERT_KEYUSAGE_INVALID},
        {"broken signature", broken, PVD_SOURCE_INPUT, good.get(), ca.get(), QRT_PVD_CRL_SIGN_INVALID},
        {"cached: no signature check", broken, PVD_SOURCE_CACHE, good.get(), ca.get(), 0},
        {"critical unknown CRL extension", pki("crit"), PVD_SOURCE_INPUT, good.get(), ca.get(),
         QRT_PVD_CRL_EXT_INVALID},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Obj crl, rev;
        load_crl(crl, c.crl, c.source);
        QRT_Trace_ClearError();
        int rc = QRT_PVD_CRL_CheckFound(&ctx.c, rev.get(), crl.get(), c.subject, c.crlIssuer);
        EXPECT_EQ(rc, c.expect) << trace_text();
        if (rc == 0) {
            EXPECT_EQ(rev->typeID, PVD_TYPE_CRL);
            EXPECT_EQ(bytes_of(rev->encObj), c.crl);
            EXPECT_NE(rev->pAsnObj, nullptr);
            EXPECT_EQ(crl->encObj.value, nullptr);
        } else {
            EXPECT_EQ(rev->encObj.value, nullptr);
            EXPECT_EQ(bytes_of(crl->encObj), c.crl);
            EXPECT_EQ(last_record().func, "QRT_PVD_CRL_CheckFound");
        }
    }
    // A CRL signed by another key than the working key.
    ASSERT_EQ(QRT_PVD_StateVars_InitPubKey(&ctx.c.vars, other.get()), 0);
    Obj crl, rev;
    load_crl(crl, pki("akid"));
    EXPECT_EQ(QRT_PVD_CRL_CheckFound(&ctx.c, rev.get(), crl.get(), good.get(), ca.get()), QRT_PVD_CRL_SIGN_INVALID);
}

// ---- Trust lists ----

std::string hex(const unsigned char *p, size_t n) { return ostrel::test::to_hex(p, n); }

TEST(PvdRevokeCtl, MembershipChainTimeSignature) {
    trace_on();
    Pki &p = Pki::get();
    const Bytes &target = pki("ca");  // a root from the directory
    unsigned char s1[SHA_DIGEST_LENGTH], s256[SHA256_DIGEST_LENGTH], s384[SHA384_DIGEST_LENGTH];
    SHA1(target.data(), target.size(), s1);
    SHA256(target.data(), target.size(), s256);
    SHA384(target.data(), target.size(), s384);
    const std::string h1 = hex(s1, sizeof s1), h256 = hex(s256, sizeof s256), h384 = hex(s384, sizeof s384);
    TempDir dir;
    Obj root, notRoot;
    load_cert(root, p.root.der);
    load_cert(notRoot, p.ca.der);
    ASSERT_EQ(root->typeID, PVD_TYPE_ROOT);
    const long long now = static_cast<long long>(std::time(nullptr));

    struct Case {
        const char *name;
        std::string conf;
        int trusted, verify;
    } cases[] = {
        {"sha-1 list", ctl_conf("sha1", h1), 1, 0},
        {"sha-256 list", ctl_conf("sha256", h256), 1, 0},
        {"hash absent", ctl_conf("sha1", std::string(40, '0')), 0, 0},
        {"sha-256 digest under sha-1", ctl_conf("sha1", h256), 0, 0},
        {"algorithm the lists may not name", ctl_conf("sha384", h384), 0, 0},
        {"wrong usage", ctl_conf("sha1", h1, "1.2.3.4"), 1, QRT_PVD_CTL_INVALID},
        {"expired", ctl_conf("sha1", h1, "1.2.410.200004.8.1.1.1", "UTCTIME:200101000000Z", "UTCTIME:210101000000Z"), 1,
         QRT_PVD_CTL_EXPIRED},
        {"not yet valid",
         ctl_conf("sha1", h1, "1.2.410.200004.8.1.1.1", "GENTIME:20900101000000Z", "GENTIME:20991231235959Z"), 1,
         QRT_PVD_CTL_NOT_YET_VALID},
        {"explicit version 1",
         ctl_conf("sha1", h1, "1.2.410.200004.8.1.1.1", "UTCTIME:200101000000Z", "GENTIME:20991231235959Z", "1"), 1,
         QRT_PVD_CTL_INVALID},
    };
    BIN t = view(target);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Obj ctl;
        load_ctl(ctl, make_signed_ctl(dir.path(), p.root, c.conf));
        EXPECT_EQ(QRT_PVD_IsTrusted(ctl.get(), &t), c.trusted);
        EXPECT_EQ(QRT_PVD_CTL_CheckChain(ctl.get(), root.get()), 0) << trace_text();
        EXPECT_EQ(QRT_PVD_CTL_VerifySignature(ctl.get(), root.get()), 0) << trace_text();
        ZQ_PVD_Context ctx{};
        EXPECT_EQ(QRT_PVD_CTL_VerifyPair(&ctx, ctl.get(), root.get(), now), c.verify);
        ctx.flags = PVD_FLAG_NO_TIME;
        EXPECT_EQ(QRT_PVD_CTL_VerifyPair(&ctx, ctl.get(), root.get(), now), 0);
    }

    // Signer and signature.
    const Bytes good = make_signed_ctl(dir.path(), p.root, ctl_conf("sha1", h1));
    Bytes broken = good;
    broken.back() ^= 0x01;  // the signature is the last element
    const Bytes byCa = make_signed_ctl(dir.path(), p.ca, ctl_conf("sha1", h1));
    Obj g, b, c;
    load_ctl(g, good);
    load_ctl(b, broken);
    load_ctl(c, byCa);
    ZQ_PVD_Context ctx{};
    EXPECT_EQ(QRT_PVD_CTL_VerifySignature(b.get(), root.get()), QRT_PVD_CTL_SIGN_INVALID);
    EXPECT_EQ(QRT_PVD_CTL_VerifyPair(&ctx, b.get(), root.get(), now), QRT_PVD_CTL_SIGN_INVALID);
    EXPECT_EQ(last_record().func, "QRT_PVD_CTL_VerifyPair");
    EXPECT_EQ(QRT_PVD_CTL_CheckChain(c.get(), root.get()), QRT_PVD_PATH_INVALID);
    EXPECT_EQ(QRT_PVD_CTL_VerifyPair(&ctx, c.get(), root.get(), now), QRT_PVD_PATH_INVALID);
    // Signed by the CA, whose certificate travels inside: never verified in the root's place.
    EXPECT_EQ(QRT_PVD_CTL_VerifySignature(c.get(), root.get()), QRT_PVD_CTL_SIGN_INVALID);
    EXPECT_EQ(QRT_PVD_CTL_VerifyPair(&ctx, g.get(), notRoot.get(), now), QRT_PVD_PATH_INVALID);  // not type 5
    ctx.flags = PVD_FLAG_NO_SIGN;
    EXPECT_EQ(QRT_PVD_CTL_VerifyPair(&ctx, b.get(), root.get(), now), 0);
    ctx.flags = 0;
    b->source = PVD_SOURCE_CACHE;
    EXPECT_EQ(QRT_PVD_CTL_VerifyPair(&ctx, b.get(), root.get(), now), 0);
    EXPECT_EQ(QRT_PVD_IsTrusted(nullptr, &t), 0);
    EXPECT_EQ(QRT_PVD_AsnCTL_Verify(nullptr, now), QRT_PVD_INVALID_INPUT);
}

// ---- OCSP ----

struct Answer {
    int rc = 0, status = 0;
    time_t nextUpdate = 0;
    std::string url;
    int calls = 0;
};
Answer g_answer;
const Bytes kResponse{0x30, 0x03, 0x0a, 0x01, 0x00};

int answer_cb(ZQ_PVD_OCSPResult *out, const BIN *cert, const char *url) {
    ++g_answer.calls;
    g_answer.url = url ? url : "";
    EXPECT_TRUE(cert && cert->length);
    out->status = g_answer.status;
    out->nextUpdate = g_answer.nextUpdate;
    QRT_BIN_Set(&out->response, kResponse.data(), static_cast<int>(kResponse.size()));  // released by the library
    return g_answer.rc;
}

// A self-issued certificate with the given extensions (openssl -addext lines).
Bytes aia_cert(const std::string &dir, const std::string &name, const std::string &addext) {
    std::string out;
    int rc = run("cd " + dir + " && printf '[req]\\ndistinguished_name=dn\\n[dn]\\n' > r.cnf && " +
                     "openssl req -x509 -config r.cnf -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout " +
                     name + ".key -subj /CN=" + name + " -outform DER -out " + name + ".der " + addext + " 2>&1",
                 &out);
    EXPECT_EQ(rc, 0) << out;
    return file_bytes(dir + "/" + name + ".der");
}

TEST(PvdRevokeOcsp, UrlTable) {
    trace_on();
    TempDir dir;
    struct Case {
        const char *name, *addext;
        int expect;
        const char *url;
    } cases[] = {
        {"ocsp then ca", "-addext 'authorityInfoAccess=OCSP;URI:http://o.example/a,caIssuers;URI:http://c.example/c'",
         0, "http://o.example/a"},
        {"ca then ocsp", "-addext 'authorityInfoAccess=caIssuers;URI:http://c.example/c,OCSP;URI:http://o.example/b'",
         0, "http://o.example/b"},
        {"two ocsp lines", "-addext 'authorityInfoAccess=OCSP;URI:http://o1.example/,OCSP;URI:http://o2.example/'", 0,
         "http://o1.example/"},
        {"no ocsp line", "-addext 'authorityInfoAccess=caIssuers;URI:http://c.example/c'", QRT_PVD_CERT_AIA_INVALID,
         nullptr},
        {"ocsp without http", "-addext 'authorityInfoAccess=OCSP;URI:ldap://o.example/x,caIssuers;URI:http://c/'",
         QRT_PVD_CERT_AIA_INVALID, nullptr},
        {"no aia", "-addext 'keyUsage=digitalSignature'", QRT_PVD_OCSP_ERROR, nullptr},
    };
    int i = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Obj cert;
        load_cert(cert, aia_cert(dir.path(), std::string("c").append(std::to_string(i++)), c.addext));
        char *url = reinterpret_cast<char *>(1);
        EXPECT_EQ(QRT_PVD_OCSP_GetURL(&url, cert.get()), c.expect);
        if (c.url) {
            ASSERT_NE(url, nullptr);
            EXPECT_STREQ(url, c.url);
        } else {
            EXPECT_EQ(url, nullptr);
        }
        QRT_free(url);
    }
}

TEST(PvdRevokeOcsp, PossibleAndCallback) {
    trace_on();
    TempDir dir;
    Obj user, ca, signer, server;
    load_cert(user, pki("good"));
    load_cert(ca, pki("ca"), PVD_TYPE_CA);
    load_cert(signer,
              aia_cert(dir.path(), "s", "-addext basicConstraints=CA:FALSE -addext extendedKeyUsage=OCSPSigning"));
    load_cert(server,
              aia_cert(dir.path(), "t", "-addext basicConstraints=CA:FALSE -addext extendedKeyUsage=serverAuth"));
    ASSERT_EQ(signer->typeID, PVD_TYPE_CERT);
    ZQ_PVD_Context ctx{};
    EXPECT_EQ(QRT_PVD_OCSP_IsPossible(&ctx, user.get()), 0);  // no callback
    ctx.cb.CB_OCSP_CheckCert = answer_cb;
    EXPECT_EQ(QRT_PVD_OCSP_IsPossible(&ctx, user.get()), 1);
    EXPECT_EQ(QRT_PVD_OCSP_IsPossible(&ctx, ca.get()), 0);
    EXPECT_EQ(QRT_PVD_OCSP_IsPossible(&ctx, signer.get()), 0);
    EXPECT_EQ(QRT_PVD_OCSP_IsPossible(&ctx, server.get()), 1);
    ctx.flags = PVD_FLAG_NO_OCSP;
    EXPECT_EQ(QRT_PVD_OCSP_IsPossible(&ctx, user.get()), 0);
    ctx.flags = 0;

    const long long now = 1700000000;
    struct Case {
        const char *name;
        int rc, status;
        time_t nextUpdate;
        int expect;
    } cases[] = {
        {"good", 0, 0, now + 600, 0},
        {"good, nextUpdate exactly now", 0, 0, now, 0},
        {"revoked", 0, 1, now + 600, QRT_PVD_CERT_REVOKED},
        {"stale nextUpdate", 0, 0, now - 1, QRT_PVD_OCSP_ERROR},
        {"absent nextUpdate", 0, 0, 0, QRT_PVD_OCSP_ERROR},
        {"status unknown", 0, 2, now + 600, QRT_PVD_OCSP_ERROR},
        {"callback failure", -5, 0, now + 600, QRT_PVD_OCSP_ERROR},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        g_answer = Answer{c.rc, c.status, c.nextUpdate};
        Obj rev;
        EXPECT_EQ(QRT_PVD_OCSP_CheckRevoked(&ctx, rev.get(), user.get(), now), c.expect);
        EXPECT_EQ(g_answer.calls, 1);
        EXPECT_EQ(g_answer.url, "http://ocsp.example/a");  // the OCSP line only, not the caIssuers line
        if (c.expect == 0) {
            EXPECT_EQ(rev->typeID, PVD_TYPE_OCSP);
            EXPECT_EQ(bytes_of(rev->encObj), kResponse);
            EXPECT_EQ(rev->pAsnObj, nullptr);
        } else {
            EXPECT_EQ(rev->encObj.value, nullptr);
            EXPECT_EQ(last_record().func, "QRT_PVD_OCSP_CheckRevoked");
        }
    }
    // Without an OCSP URL the callback is never asked.
    Obj noAia;
    load_cert(noAia, pki("nodp"));
    g_answer = Answer{};
    Obj rev;
    EXPECT_EQ(QRT_PVD_OCSP_CheckRevoked(&ctx, rev.get(), noAia.get(), now), QRT_PVD_OCSP_ERROR);
    EXPECT_EQ(g_answer.calls, 0);
}

}  // namespace
