// Whole validations through QRT_PVD_VerifyCertPath on PKIs made at run time: `openssl ca` chains
// with revocations, CRLs and validity periods of every kind, the same chains through the store,
// the cache and a directory callback, OCSP answers from a callback, roots trusted by a trust list,
// the store walk, hostile shapes (cycles, deep chains, many look-alike issuers) and many threads.
#include <openssl/pem.h>
#include <openssl/sha.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <functional>
#include <map>
#include <thread>

#include "pvd_test_util.hpp"

using namespace pvd_test;

namespace {

// ---- The PKI ----

const char *kConf = R"(
[req]
distinguished_name = req_dn
[req_dn]
[pol]
commonName = supplied
[v3_root]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[v3_ca]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[v3_len0]
basicConstraints = critical,CA:TRUE,pathlen:0
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[v3_noku]
basicConstraints = critical,CA:TRUE
keyUsage = critical,digitalSignature,cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[v3_kuabsent]
basicConstraints = critical,CA:TRUE
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[user]
basicConstraints = CA:FALSE
keyUsage = digitalSignature
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
authorityInfoAccess = OCSP;URI:http://127.0.0.1:9/ocsp
[crl_ext]
authorityKeyIdentifier = keyid
)";

// One CA section per issuing CA: the same settings over its own files.
std::string ca_section(const std::string &name) {
    return "[CA_" + name + "]\ndatabase = " + name + ".idx\ncertificate = " + name + ".pem\nprivate_key = " + name +
           ".key\nserial = " + name + ".srl\ncrlnumber = " + name +
           ".crlnum\nnew_certs_dir = .\ndefault_md = sha256\ndefault_days = 365\ndefault_crl_days = 30\n"
           "policy = pol\nunique_subject = no\n";
}

// root -> ca -> {good, revoked, expired, notyet}; root -> len0 (pathlen 0) -> sub -> subuser;
// root -> noku (no keyCertSign) -> nokuuser; root -> kuabsent (no keyUsage) -> kuuser; root ->
// forged (the CA's name and key identifier, another key); a self-signed end entity. CRLs: the
// root's (arl), the CA's (crl, revoking "revoked"), the CA's valid for an hour (crl1h).
struct PathPki : ShellDir {
    std::map<std::string, Bytes> der;
    std::map<std::string, std::string> dn;  // our DN text of each certificate's subject

    static PathPki &get() {
        static PathPki *p = [] {
            auto *r = new PathPki;
            r->make();
            return r;
        }();
        return *p;
    }
    bool ok() const { return log.empty(); }

    void keep(const std::string &name, const std::string &pem) {
        sh("openssl x509 -in " + pem + " -outform DER -out " + name + ".der");
        der[name] = file_bytes(dir / (name + ".der"));
        ZQ_PVD_InterObject o{};
        BIN b = view(der[name]);
        if (QRT_PVD_InterObject_SetCert(&o, &b, 0, PVD_SOURCE_INPUT) == 0) dn[name] = o.subjectDN;
        QRT_PVD_InterObject_Reset(&o);
    }
    void request(const std::string &name, const std::string &cn) {
        sh("openssl req -new -config path.cnf -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout " + name +
           ".key -out " + name + ".csr -subj /CN=" + cn);
    }
    void issue(const std::string &name, const std::string &cn, const std::string &by, const std::string &ext,
               const std::string &dates = "") {
        request(name, cn);
        sh("openssl ca -batch -config path.cnf -name CA_" + by + " -extensions " + ext + " " + dates + " -in " + name +
           ".csr -out " + name + ".pem -notext");
        keep(name, name + ".pem");
    }
    void crl(const std::string &name, const std::string &by, const std::string &extra = "") {
        sh("openssl ca -config path.cnf -name CA_" + by + " -gencrl -crlexts crl_ext " + extra + " -out " + name +
           ".pem && openssl crl -in " + name + ".pem -outform DER -out " + name + ".der");
        der[name] = file_bytes(dir / (name + ".der"));
    }

    void make() {
        std::string conf = kConf;
        for (const char *c : {"root", "ca", "len0", "sub", "noku", "kuabsent"}) conf += ca_section(c);
        ostrel::test::write_file(dir / "path.cnf", conf);
        for (const char *c : {"root", "ca", "len0", "sub", "noku", "kuabsent"})
            sh(std::string("touch ") + c + ".idx && echo 1000 > " + c + ".srl && echo 01 > " + c + ".crlnum");
        sh("openssl req -x509 -config path.cnf -extensions v3_root -newkey ec -pkeyopt ec_paramgen_curve:P-256 "
           "-nodes -keyout root.key -out root.pem -subj /CN=PathRoot -days 3650");
        keep("root", "root.pem");
        issue("ca", "PathCA", "root", "v3_ca");
        issue("len0", "PathLen0", "root", "v3_len0");
        issue("sub", "PathSub", "len0", "v3_ca");
        issue("noku", "PathNoKU", "root", "v3_noku");
        issue("kuabsent", "PathKUAbsent", "root", "v3_kuabsent");
        issue("good", "PathGood", "ca", "user");
        issue("revoked", "PathRevoked", "ca", "user");
        issue("expired", "PathExpired", "ca", "user", "-startdate 20200101000000Z -enddate 20210101000000Z");
        issue("notyet", "PathNotYet", "ca", "user", "-startdate 20990101000000Z -enddate 20991231000000Z");
        issue("subuser", "PathSubUser", "sub", "user");
        issue("nokuuser", "PathNoKUUser", "noku", "user");
        issue("kuuser", "PathKUUser", "kuabsent", "user");
        // The forged CA: the real CA's name and key identifier over a key of its own, issued by the root.
        const unsigned char *realDer = der["ca"].data();
        if (X509 *real = d2i_X509(nullptr, &realDer, static_cast<long>(der["ca"].size()))) {
            const ASN1_OCTET_STRING *ski = X509_get0_subject_key_id(real);
            char *hex = ski ? OPENSSL_buf2hexstr(ski->data, ski->length) : nullptr;
            if (hex)
                ostrel::test::write_file(dir / "forged.cnf", conf +
                                                                 "[v3_forged]\nbasicConstraints = critical,CA:TRUE\n"
                                                                 "keyUsage = critical,keyCertSign,cRLSign\n"
                                                                 "authorityKeyIdentifier = keyid\n"
                                                                 "subjectKeyIdentifier = " +
                                                                 std::string(hex) + "\n");
            OPENSSL_free(hex);
            X509_free(real);
        }
        request("forged", "PathCA");
        sh("openssl ca -batch -config forged.cnf -name CA_root -extensions v3_forged -in forged.csr -out forged.pem "
           "-notext");
        keep("forged", "forged.pem");
        sh("openssl req -x509 -config path.cnf -extensions user -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes "
           "-keyout self.key -out self.pem -subj /CN=PathSelf -days 30");
        keep("self", "self.pem");
        sh("openssl req -x509 -config path.cnf -extensions v3_root -newkey ec -pkeyopt ec_paramgen_curve:P-256 "
           "-nodes -keyout selfca.key -out selfca.pem -subj /CN=PathSelfCA -days 30");
        keep("selfca", "selfca.pem");
        sh("openssl ca -config path.cnf -name CA_ca -revoke revoked.pem -crl_reason keyCompromise");
        crl("arl", "root");
        crl("crl", "ca");
        crl("crl1h", "ca", "-crlhours 1");
        // A CRL of the CA without nextUpdate, which `openssl ca` cannot write.
        BIO *kb = BIO_new_file((dir / "ca.key").c_str(), "r");
        EVP_PKEY *key = kb ? PEM_read_bio_PrivateKey(kb, nullptr, nullptr, nullptr) : nullptr;
        BIO_free(kb);
        const unsigned char *p = der["ca"].data();
        X509 *ca = d2i_X509(nullptr, &p, static_cast<long>(der["ca"].size()));
        if (key && ca) der["crlnonext"] = Pki::make_crl(Party{key, ca, {}, {}}, 0);
        X509_free(ca);
        EVP_PKEY_free(key);
        if (der["crlnonext"].empty()) log += "the CRL without nextUpdate could not be made\n";
    }
};

const Bytes &cert(const std::string &name) {
    PathPki &p = PathPki::get();
    EXPECT_TRUE(p.ok()) << p.log;
    return p.der[name];
}
const std::string &dn_of(const std::string &name) {
    PathPki::get();
    return PathPki::get().dn[name];
}

// A caller's object list over named objects of the PKI (or any bytes), nodes owned here.
struct Objects {
    std::vector<Bytes> data;
    std::vector<ZQ_PVD_ObjectList> nodes;
    Objects() = default;
    Objects(std::initializer_list<std::string> names) {
        for (auto &n : names) data.push_back(cert(n));
    }
    explicit Objects(std::vector<Bytes> d) : data(std::move(d)) {}
    ZQ_PVD_ObjectList *list() {
        if (data.empty()) return nullptr;
        nodes.assign(data.size(), ZQ_PVD_ObjectList{});
        for (size_t i = 0; i < data.size(); ++i) {
            nodes[i] = object_view(data[i]);
            nodes[i].next = i + 1 < data.size() ? &nodes[i + 1] : nullptr;
        }
        return nodes.data();
    }
};

// One validation: target, lists, flags, time; all other sources off unless the caller turns
// them on through `tune`.
struct Validation {
    Bytes target;
    Objects trust, other, crls;
    int flags = PVD_FLAG_NO_OCSP;
    time_t when = 0;
    std::function<void(ZQ_PVD_VerifyParam &)> tune;
    ZQ_PVD_CertPathResult result{};
    std::string trace;  // the error trace of the last run
    ~Validation() { QRT_PVD_CertPathResult_Reset(&result); }

    int go() {
        trace_on();
        QRT_PVD_CertPathResult_Reset(&result);
        ZQ_PVD_CertPathRequest req{};
        req.tgtCert.encObj = view(target);
        req.vrfyTime = when;
        req.trustCerts = trust.list();
        req.otherCerts = other.list();
        req.otherCRLs = crls.list();
        ZQ_PVD_VerifyParam param{};
        param.flags = flags;
        param.cache.disable = 1;
        param.store.disable = 1;
        param.ldap.disable = 1;
        if (tune) tune(param);
        int rc = QRT_PVD_VerifyCertPath(&result, &req, &param);
        trace = trace_text();  // one validation's trace is not the next one's
        ostrel::test::trace_records();
        return rc;
    }
    std::vector<Bytes> path() const { return objects(result.certPath); }
    std::vector<Bytes> evidence() const { return objects(result.revInfos); }
    std::vector<int> evidenceTypes() const {
        std::vector<int> t;
        for (const ZQ_PVD_ObjectList *p = result.revInfos; p; p = p->next) t.push_back(p->value.typeID);
        return t;
    }
    static std::vector<Bytes> objects(const ZQ_PVD_ObjectList *l) {
        std::vector<Bytes> out;
        for (; l; l = l->next) out.push_back(bytes_of(l->value.encObj));
        return out;
    }
};

Validation chain(const std::string &target, std::initializer_list<std::string> other,
                 std::initializer_list<std::string> crls = {"arl", "crl"}) {
    Validation r;
    r.target = cert(target);
    r.trust = Objects{"root"};
    r.other = Objects(other);
    r.crls = Objects(crls);
    return r;
}

std::vector<Bytes> names(std::initializer_list<std::string> n) {
    std::vector<Bytes> out;
    for (auto &s : n) out.push_back(s.empty() ? Bytes() : cert(s));
    return out;
}

// ---- Verdicts on openssl chains ----

TEST(PvdPath, OpensslChainVerdicts) {
    if (!ostrel::test::have_command("openssl")) GTEST_SKIP() << "no openssl";
    ASSERT_TRUE(PathPki::get().ok()) << PathPki::get().log;
    const time_t now = std::time(nullptr);
    struct Row {
        const char *what, *target;
        std::initializer_list<std::string> other, crls;
        int flags;
        time_t when;
        int rc;
    } rows[] = {
        {"good", "good", {"ca"}, {"arl", "crl"}, PVD_FLAG_NO_OCSP, 0, 0},
        {"revoked", "revoked", {"ca"}, {"arl", "crl"}, PVD_FLAG_NO_OCSP, 0, QRT_PVD_CERT_REVOKED},
        {"revoked, CRLs off", "revoked", {"ca"}, {}, PVD_FLAG_NO_OCSP | PVD_FLAG_NO_CRL, 0, 0},
        {"expired", "expired", {"ca"}, {"arl", "crl"}, PVD_FLAG_NO_OCSP, 0, QRT_PVD_CERT_EXPIRED},
        {"not yet valid", "notyet", {"ca"}, {"arl", "crl"}, PVD_FLAG_NO_OCSP, 0, QRT_PVD_CERT_NOT_YET_VALID},
        {"expired, times off", "expired", {"ca"}, {"arl", "crl"}, PVD_FLAG_NO_OCSP | PVD_FLAG_NO_TIME, 0, 0},
        {"unknown issuer", "good", {}, {"arl", "crl"}, PVD_FLAG_NO_OCSP, 0, QRT_PVD_CERT_NOT_FOUND},
        {"forged CA only", "good", {"forged"}, {"arl", "crl"}, PVD_FLAG_NO_OCSP, 0, QRT_PVD_CERT_SIGN_INVALID},
        // The first candidate whose own path verifies is the issuer; the target's link to it is
        // checked after the search, so a forged CA listed first hides the real one.
        {"forged CA, then the real one",
         "good",
         {"forged", "ca"},
         {"arl", "crl"},
         PVD_FLAG_NO_OCSP,
         0,
         QRT_PVD_CERT_SIGN_INVALID},
        {"real CA, then the forged one", "good", {"ca", "forged"}, {"arl", "crl"}, PVD_FLAG_NO_OCSP, 0, 0},
        {"forged first, strict",
         "good",
         {"forged", "ca"},
         {"arl", "crl"},
         PVD_FLAG_NO_OCSP | PVD_FLAG_STRICT,
         0,
         QRT_PVD_CERT_SIGN_INVALID},
        {"self-signed CA", "selfca", {"ca"}, {}, PVD_FLAG_NO_OCSP, 0, QRT_PVD_CERT_SELF_SIGNED},
        {"self-signed end entity: no anchor, no issuer",
         "self",
         {"ca"},
         {},
         PVD_FLAG_NO_OCSP,
         0,
         QRT_PVD_CERT_NOT_FOUND},
        {"the root itself", "root", {"ca"}, {}, PVD_FLAG_NO_OCSP, 0, QRT_PVD_CERT_SELF_SIGNED},
        {"no CRL for the user", "good", {"ca"}, {"arl"}, PVD_FLAG_NO_OCSP, 0, QRT_PVD_CRL_NOT_FOUND},
        {"no ARL for the CA", "good", {"ca"}, {"crl"}, PVD_FLAG_NO_OCSP, 0, QRT_PVD_CRL_NOT_FOUND},
        {"stale CRL", "good", {"ca"}, {"arl", "crl1h"}, PVD_FLAG_NO_OCSP, now + 3 * 3600, QRT_PVD_CRL_EXPIRED},
        {"CRL current for an hour", "good", {"ca"}, {"arl", "crl1h"}, PVD_FLAG_NO_OCSP, 0, 0},
        {"CRL without nextUpdate", "good", {"ca"}, {"arl", "crlnonext"}, PVD_FLAG_NO_OCSP, 0, QRT_PVD_CRL_INVALID},
        {"CA without keyCertSign",
         "nokuuser",
         {"noku"},
         {},
         PVD_FLAG_NO_OCSP | PVD_FLAG_NO_CRL,
         0,
         QRT_PVD_CERT_KEYUSAGE_INVALID},
        {"CA without keyUsage",
         "kuuser",
         {"kuabsent"},
         {},
         PVD_FLAG_NO_OCSP | PVD_FLAG_NO_CRL,
         0,
         QRT_PVD_CERT_EXT_NOT_EXIST},
        {"pathlen 0 exceeded",
         "subuser",
         {"sub", "len0"},
         {},
         PVD_FLAG_NO_OCSP | PVD_FLAG_NO_CRL,
         0,
         QRT_PVD_CERT_BASIC_CONSTS_INVALID},
        {"pathlen 0 holds", "sub", {"len0"}, {}, PVD_FLAG_NO_OCSP | PVD_FLAG_NO_CRL, 0, 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        Validation r = chain(row.target, row.other, row.crls);
        r.flags = row.flags;
        r.when = row.when;
        int rc = r.go();
        EXPECT_EQ(rc, row.rc) << r.trace;
        // the result is filled on success only
        EXPECT_EQ(r.result.certPath != nullptr, rc == 0);
        EXPECT_EQ(r.result.revInfos != nullptr, rc == 0);
    }
}

TEST(PvdPath, ResultHoldsPathTimeAndEvidence) {
    if (!ostrel::test::have_command("openssl")) GTEST_SKIP() << "no openssl";
    Validation r = chain("good", {"ca", "forged"});
    r.when = std::time(nullptr) + 60;
    ASSERT_EQ(r.go(), 0);
    EXPECT_EQ(r.path(), names({"good", "ca", "root"}));
    EXPECT_EQ(r.evidence(), names({"crl", "arl", ""}));
    EXPECT_EQ(r.evidenceTypes(), (std::vector<int>{PVD_TYPE_CRL, PVD_TYPE_CRL, 0}));
    EXPECT_EQ(r.result.vrfyTime, r.when);
    EXPECT_EQ(r.result.certPath->value.typeID, PVD_TYPE_CERT);
    EXPECT_EQ(r.result.certPath->next->next->value.typeID, PVD_TYPE_ROOT);

    // CRLs off: the same path, no evidence in any node; time 0 is the time of the call.
    r.flags |= PVD_FLAG_NO_CRL;
    r.when = 0;
    const time_t before = std::time(nullptr);
    ASSERT_EQ(r.go(), 0);
    EXPECT_EQ(r.path(), names({"good", "ca", "root"}));
    EXPECT_EQ(r.evidence(), names({"", "", ""}));
    EXPECT_GE(r.result.vrfyTime, before);
    EXPECT_LE(r.result.vrfyTime, std::time(nullptr));

    // A result given back after a failure stays empty; no result at all is allowed.
    Validation bad = chain("revoked", {"ca"});
    EXPECT_EQ(bad.go(), QRT_PVD_CERT_REVOKED);
    EXPECT_EQ(bad.result.certPath, nullptr);
    ZQ_PVD_CertPathRequest req{};
    Bytes good = cert("good");
    req.tgtCert.encObj = view(good);
    ZQ_PVD_VerifyParam param{};
    EXPECT_EQ(QRT_PVD_VerifyCertPath(&r.result, nullptr, &param), QRT_PVD_INVALID_INPUT);
    EXPECT_EQ(QRT_PVD_VerifyCertPath(&r.result, &req, nullptr), QRT_PVD_INVALID_INPUT);
    ostrel::test::trace_records();
}

// ---- Sources: store, cache, directory ----

struct Directory {
    static inline std::map<std::string, Bytes> byName;  // a CN in the URI -> the value served
    static inline std::atomic<int> calls{0};
    static int serve(ZQ_BIN_LIST *out, const int, const char *uri) {
        ++calls;
        for (auto &[cn, value] : byName)
            if (std::strstr(uri, cn.c_str()))
                return QRT_BIN_Set(&out->value, value.data(), static_cast<int>(value.size()));
        return -1;
    }
    static void install(ZQ_PVD_VerifyParam &p) {
        p.ldap.disable = 0;
        p.ldap.ldapInfon = 1;
        static char server[] = "ldap://127.0.0.1:9/";
        static char ctl[] = "cn=PathCTL";
        p.ldap.ldapInfos[0].srvrURL = server;
        p.ldap.ldapInfos[0].ctlDN = ctl;
        p.vrfyCB.CB_LDAP_GetObject = serve;
    }
};

struct FreshCache {
    FreshCache() { QRT_PVD_Cache_Finalize(); }
    ~FreshCache() { QRT_PVD_Cache_Finalize(); }
};

bool cache_holds(int type, const std::string &name, const Bytes &want) {
    Out out;
    if (QRT_PVD_Cache_GetObject(out.get(), type, dn_of(name).c_str()) != 0) return false;
    return bytes_of(*out.get()) == want;
}

TEST(PvdPath, SameChainThroughStoreCacheAndDirectory) {
    if (!ostrel::test::have_command("openssl")) GTEST_SKIP() << "no openssl";
    const auto want = names({"good", "ca", "root"});
    FreshCache fresh;

    // The file store holding the root and the CA; nothing in the request but the CRLs.
    TempDir store;
    BIN root = view(cert("root")), ca = view(cert("ca"));
    ASSERT_EQ(QRT_PVD_Store_AddObject(store.path().c_str(), PVD_TYPE_ROOT, dn_of("root").c_str(), &root, nullptr), 0);
    ASSERT_EQ(QRT_PVD_Store_AddObject(store.path().c_str(), PVD_TYPE_CA, dn_of("ca").c_str(), &ca, nullptr), 0);
    std::string storePath = store.path();
    {
        Validation r = chain("good", {});
        r.trust = Objects();
        r.tune = [&](ZQ_PVD_VerifyParam &p) {
            p.cache.disable = 0;
            p.store.disable = 0;
            p.store.storePath = storePath.data();
        };
        ASSERT_EQ(r.go(), 0);
        EXPECT_EQ(r.path(), want);
        EXPECT_TRUE(cache_holds(PVD_TYPE_CA, "ca", cert("ca"))) << "a CA from the store is remembered";
        // distrustRoot: the store's root is no anchor, nor is it once the cache holds it
        EXPECT_TRUE(cache_holds(PVD_TYPE_ROOT, "root", cert("root")));
        r.tune = [&](ZQ_PVD_VerifyParam &p) {
            p.cache.disable = 0;
            p.store.disable = 0;
            p.store.storePath = storePath.data();
            p.store.distrustRoot = 1;
        };
        EXPECT_NE(r.go(), 0);
    }

    // The cache alone.
    QRT_PVD_Cache_Finalize();
    ASSERT_EQ(QRT_PVD_Cache_AddObject(PVD_TYPE_ROOT, dn_of("root").c_str(), &root), 0);
    ASSERT_EQ(QRT_PVD_Cache_AddObject(PVD_TYPE_CA, dn_of("ca").c_str(), &ca), 0);
    {
        Validation r = chain("good", {});
        r.trust = Objects();
        r.tune = [](ZQ_PVD_VerifyParam &p) { p.cache.disable = 0; };
        ASSERT_EQ(r.go(), 0);
        EXPECT_EQ(r.path(), want);
        r.target = cert("revoked");
        EXPECT_EQ(r.go(), QRT_PVD_CERT_REVOKED);
    }

    // The directory callback serving the CA; the root from the request. A validation that skips
    // signatures or times teaches neither the cache nor the store anything; a full one teaches both.
    QRT_PVD_Cache_Finalize();
    TempDir learn;
    std::string learnPath = learn.path();
    Directory::byName = {{"PathCA", cert("ca")}};
    for (int skip : {PVD_FLAG_NO_SIGN, PVD_FLAG_NO_TIME, 0}) {
        SCOPED_TRACE(skip);
        Validation r = chain("good", {});
        r.flags |= skip;
        r.tune = [&](ZQ_PVD_VerifyParam &p) {
            Directory::install(p);
            p.cache.disable = 0;
            p.store.disable = 0;
            p.store.storePath = learnPath.data();
        };
        Directory::calls = 0;
        ASSERT_EQ(r.go(), 0);
        EXPECT_EQ(r.path(), want);
        EXPECT_GE(Directory::calls.load(), 1);
        Out stored;
        const bool learned = skip == 0;
        EXPECT_EQ(cache_holds(PVD_TYPE_CA, "ca", cert("ca")), learned);
        EXPECT_EQ(QRT_PVD_Store_GetObject(learnPath.c_str(), stored.get(), PVD_TYPE_CA, dn_of("ca").c_str()) == 0,
                  learned);
    }
    // Once learned, the cache answers without the directory.
    {
        Validation r = chain("good", {});
        r.tune = [](ZQ_PVD_VerifyParam &p) {
            Directory::install(p);
            p.cache.disable = 0;
        };
        Directory::calls = 0;
        ASSERT_EQ(r.go(), 0);
        EXPECT_EQ(Directory::calls.load(), 0);
    }
}

// ---- OCSP by callback ----

struct Responder {
    static inline int rc = 0, status = 0, calls = 0;
    static inline time_t nextUpdate = 0;
    static int answer(ZQ_PVD_OCSPResult *out, const BIN *, const char *url) {
        ++calls;
        EXPECT_STREQ(url, "http://127.0.0.1:9/ocsp");
        out->status = status;
        out->thisUpdate = std::time(nullptr) - 60;
        out->nextUpdate = nextUpdate;
        static const unsigned char kDer[] = {0x30, 0x03, 0x0a, 0x01, 0x00};
        QRT_BIN_Set(&out->response, kDer, sizeof kDer);
        return rc;
    }
};

TEST(PvdPath, OcspByCallbackThenCrl) {
    if (!ostrel::test::have_command("openssl")) GTEST_SKIP() << "no openssl";
    const time_t now = std::time(nullptr);
    struct Row {
        const char *what, *target;
        int cbRc, status;
        time_t nextUpdate;
        int rc, evidence;
    } rows[] = {
        {"good settles", "good", 0, 0, now + 3600, 0, PVD_TYPE_OCSP},
        {"good settles over the CRL", "revoked", 0, 0, now + 3600, 0, PVD_TYPE_OCSP},
        {"revoked", "good", 0, 1, now + 3600, QRT_PVD_CERT_REVOKED, 0},
        {"stale answer: the CRL decides", "good", 0, 0, now - 60, 0, PVD_TYPE_CRL},
        {"stale answer, the CRL revokes", "revoked", 0, 0, now - 60, QRT_PVD_CERT_REVOKED, 0},
        {"no nextUpdate: the CRL decides", "good", 0, 0, 0, 0, PVD_TYPE_CRL},
        {"unknown status: the CRL decides", "good", 0, 2, now + 3600, 0, PVD_TYPE_CRL},
        {"responder down: the CRL decides", "revoked", -1, 0, now + 3600, QRT_PVD_CERT_REVOKED, 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        Responder::rc = row.cbRc;
        Responder::status = row.status;
        Responder::nextUpdate = row.nextUpdate;
        Responder::calls = 0;
        Validation r = chain(row.target, {"ca"});
        r.flags = 0;
        r.tune = [](ZQ_PVD_VerifyParam &p) { p.vrfyCB.CB_OCSP_CheckCert = Responder::answer; };
        EXPECT_EQ(r.go(), row.rc);
        EXPECT_EQ(Responder::calls, 1);  // the CA names no responder: only the user is asked
        if (row.rc == 0) {
            auto types = r.evidenceTypes();
            ASSERT_EQ(types.size(), 3u);
            EXPECT_EQ(types[0], row.evidence);
            EXPECT_EQ(types[1], PVD_TYPE_CRL);  // the CA's evidence: the root's CRL
        }
    }
    // NO_OCSP: the callback is never called.
    Responder::calls = 0;
    Validation r = chain("good", {"ca"});
    r.tune = [](ZQ_PVD_VerifyParam &p) { p.vrfyCB.CB_OCSP_CheckCert = Responder::answer; };
    EXPECT_EQ(r.go(), 0);
    EXPECT_EQ(Responder::calls, 0);
}

// ---- Roots trusted by a trust list ----

TEST(PvdPath, DirectoryRootTrustedByTrustList) {
    if (!ostrel::test::have_command("openssl")) GTEST_SKIP() << "no openssl";
    // A second PKI, all of it in the directory: its root listed in a trust list that the
    // request's root signed.
    Pki &dirPki = Pki::get();
    PathPki &p = PathPki::get();
    EVP_PKEY *anchorKey = nullptr;
    {
        BIO *b = BIO_new_file((p.dir / "root.key").c_str(), "r");
        anchorKey = PEM_read_bio_PrivateKey(b, nullptr, nullptr, nullptr);
        BIO_free(b);
    }
    const unsigned char *q = cert("root").data();
    X509 *anchorCert = d2i_X509(nullptr, &q, static_cast<long>(cert("root").size()));
    ASSERT_TRUE(anchorKey && anchorCert);
    Party anchor{anchorKey, anchorCert, cert("root"), dn_of("root")};

    unsigned char h[SHA_DIGEST_LENGTH];
    SHA1(dirPki.root.der.data(), dirPki.root.der.size(), h);
    const std::string id = ostrel::test::to_hex(h, sizeof h);
    const std::string usage = "1.2.410.200004.8.1.1.1";
    TempDir work;
    struct Row {
        const char *what;
        std::string conf;
        bool breakSignature;
        int rc;
    } rows[] = {
        {"listed", ctl_conf("sha1", id), false, 0},
        {"hash absent", ctl_conf("sha1", std::string(40, '0')), false, QRT_PVD_ROOT_NOT_TRUSTED},
        {"expired list", ctl_conf("sha1", id, usage, "UTCTIME:200101000000Z", "UTCTIME:210101000000Z"), false,
         QRT_PVD_CTL_EXPIRED},
        {"wrong subjectUsage", ctl_conf("sha1", id, "1.2.3.4"), false, QRT_PVD_CTL_INVALID},
        {"broken signature", ctl_conf("sha1", id), true, QRT_PVD_CTL_SIGN_INVALID},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        FreshCache fresh;
        Bytes ctl = make_signed_ctl(work.path(), anchor, row.conf);
        ASSERT_FALSE(ctl.empty());
        if (row.breakSignature) ctl.back() ^= 0x01;
        Directory::byName = {{"PathCTL", ctl},
                             {"PVD%20Test%20CA", dirPki.ca.der},
                             {"PVD Test CA", dirPki.ca.der},
                             {"PVD%20Test%20Root", dirPki.root.der},
                             {"PVD Test Root", dirPki.root.der}};
        Validation r;
        r.target = dirPki.ee.der;
        r.trust = Objects{"root"};
        r.flags = PVD_FLAG_NO_OCSP | PVD_FLAG_NO_CRL;
        r.tune = [](ZQ_PVD_VerifyParam &prm) {
            Directory::install(prm);
            prm.cache.disable = 0;
        };
        EXPECT_EQ(r.go(), row.rc);
        if (row.rc == 0) {
            auto path = r.path();
            ASSERT_EQ(path.size(), 5u);  // user, CA, directory root, trust list, signing root
            EXPECT_EQ(path[2], dirPki.root.der);
            EXPECT_EQ(path[3], ctl);
            EXPECT_EQ(path[4], cert("root"));
            EXPECT_EQ(r.result.certPath->next->next->next->value.typeID, PVD_TYPE_CTL);
        }
    }
    X509_free(anchorCert);
    EVP_PKEY_free(anchorKey);
}

// ---- The store walk ----

TEST(PvdPath, StoreWalk) {
    if (!ostrel::test::have_command("openssl")) GTEST_SKIP() << "no openssl";
    FreshCache fresh;
    TempDir store;
    std::string storePath = store.path();
    for (const char *n : {"ca", "root"}) {
        BIN b = view(cert(n));
        ASSERT_EQ(QRT_PVD_Store_AddObject(storePath.c_str(), PVD_TYPE_CA, dn_of(n).c_str(), &b, nullptr), 0);
    }
    auto walk = [&](const std::string &target, int extra = 0) {
        Validation r = chain(target, {});
        r.trust = Objects();
        r.flags = PVD_FLAG_NO_OCSP | PVD_FLAG_STORE_CHAIN | extra;
        r.tune = [&](ZQ_PVD_VerifyParam &p) {
            p.store.disable = 0;
            p.store.storePath = storePath.data();
        };
        int rc = r.go();
        return std::make_pair(rc, r.path());
    };
    auto [rc, path] = walk("good");
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(path, names({"good", "ca", "root"}));
    EXPECT_EQ(walk("revoked").first, QRT_PVD_CERT_REVOKED);
    EXPECT_EQ(walk("self").first, QRT_PVD_CERT_SELF_SIGNED);  // never accepted on its own signature
    EXPECT_EQ(walk("root").first, QRT_PVD_CERT_SELF_SIGNED);
    EXPECT_EQ(walk("subuser", PVD_FLAG_NO_CRL).first, QRT_PVD_CERT_NOT_FOUND);
}

// ---- Hostile shapes ----

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr double kBudgetMs = 200;  // instrumented builds: the bound is checked, the figure is not
#else
constexpr double kBudgetMs = 10;
#endif

struct Made {
    EVP_PKEY *key = nullptr;
    X509 *x = nullptr;
    Bytes der;
    ~Made() {
        X509_free(x);
        EVP_PKEY_free(key);
    }
};

void make(Made &m, const char *cn, Made *issuer, long serial, bool ca, EVP_PKEY *key = nullptr,
          const char *ski = "hash") {
    m.key = key ? (EVP_PKEY_up_ref(key), key) : EVP_EC_gen("P-256");
    m.x = ostrel::test::make_cert(m.key, cn, issuer ? issuer->x : nullptr, issuer ? issuer->key : nullptr, serial, ca,
                                  ski);
    ASSERT_NE(m.x, nullptr);
    m.der = ostrel::test::der_of(m.x);
}

// The best of three runs' time in ms, and the last result.
template <class F>
std::pair<int, double> timed(F f) {
    int rc = 0;
    double best = 1e9;
    for (int i = 0; i < 3; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        rc = f();
        best = std::min(best, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
    return {rc, best};
}

TEST(PvdPathHostile, CrossCertifiedCyclesEnd) {
    // X certified by Y and Y by X; the target under X; no anchor anywhere.
    Made y0, x, y, ee;
    make(y0, "CycleYY", nullptr, 1, true);
    make(x, "CycleXX", &y0, 2, true);
    make(y, "CycleYY", &x, 3, true, y0.key);
    make(ee, "CycleEE", &x, 4, false);
    const std::vector<Bytes> pair{x.der, y.der};

    auto run_with = [&](std::function<void(Validation &)> setup) {
        return timed([&] {
            Validation r;
            r.target = ee.der;
            r.trust = Objects();
            r.flags = PVD_FLAG_NO_OCSP | PVD_FLAG_NO_CRL;
            setup(r);
            return r.go();
        });
    };
    auto [rc1, ms1] = run_with([&](Validation &r) { r.other = Objects(pair); });
    EXPECT_NE(rc1, 0);
    EXPECT_LT(ms1, kBudgetMs);

    TempDir store;
    std::string storePath = store.path();
    for (const Made *m : {&x, &y}) {
        BIN b = view(m->der);
        ZQ_PVD_InterObject o{};
        ASSERT_EQ(QRT_PVD_InterObject_SetCert(&o, &b, 0, PVD_SOURCE_INPUT), 0);
        ASSERT_EQ(QRT_PVD_Store_AddObject(storePath.c_str(), PVD_TYPE_CA, o.subjectDN, &b, nullptr), 0);
        QRT_PVD_InterObject_Reset(&o);
    }
    auto storeOn = [&](ZQ_PVD_VerifyParam &p) {
        p.store.disable = 0;
        p.store.storePath = storePath.data();
    };
    auto [rc2, ms2] = run_with([&](Validation &r) { r.tune = storeOn; });
    EXPECT_NE(rc2, 0);
    EXPECT_LT(ms2, kBudgetMs);
    auto [rc3, ms3] = run_with([&](Validation &r) {
        r.tune = storeOn;
        r.flags |= PVD_FLAG_STORE_CHAIN;
    });
    EXPECT_NE(rc3, 0);
    EXPECT_LT(ms3, kBudgetMs);

    Directory::byName = {{"CycleXX", x.der}, {"CycleYY", y.der}};
    auto [rc4, ms4] = run_with([&](Validation &r) { r.tune = Directory::install; });
    EXPECT_NE(rc4, 0);
    EXPECT_LT(ms4, kBudgetMs);
    std::printf("cycles: input %d in %.3f ms, store %d in %.3f ms, store walk %d in %.3f ms, directory %d in %.3f ms\n",
                rc1, ms1, rc2, ms2, rc3, ms3, rc4, ms4);
}

TEST(PvdPathHostile, DeepChainStopsAtTheDepthBound) {
    constexpr int kCAs = 39;  // root, 39 CAs, the target: 41 certificates
    std::vector<std::unique_ptr<Made>> chainCerts;
    chainCerts.push_back(std::make_unique<Made>());
    make(*chainCerts[0], "Deep0", nullptr, 1, true);
    for (int i = 1; i <= kCAs; ++i) {
        chainCerts.push_back(std::make_unique<Made>());
        make(*chainCerts[i], ("Deep" + std::to_string(i)).c_str(), chainCerts[i - 1].get(), i + 1, true);
    }
    Made ee;
    make(ee, "DeepEE", chainCerts.back().get(), 100, false);
    auto validate = [&](int cas) {
        Validation r;
        r.target = cas == kCAs ? ee.der : chainCerts[cas + 1]->der;
        r.trust = Objects(std::vector<Bytes>{chainCerts[0]->der});
        std::vector<Bytes> others;
        for (int i = 1; i <= cas; ++i) others.push_back(chainCerts[i]->der);
        r.other = Objects(others);
        r.flags = PVD_FLAG_NO_OCSP | PVD_FLAG_NO_CRL;
        return r.go();
    };
    EXPECT_EQ(validate(kCAs), QRT_PVD_PATH_LENGTH_EXCEED);
    EXPECT_EQ(validate(10), 0);  // a long chain within the bound is fine
}

TEST(PvdPathHostile, LookAlikeIssuersStopAtTheCandidateBudget) {
    // 300 CAs with the real CA's name and key identifier, naming the root as issuer but signed
    // with another key, listed before the real CA: each chains by name and key identifier, climbs
    // to the root and fails its own signature, and is dropped for the next.
    Made root, ca, ee;
    make(root, "LookRoot", nullptr, 1, true);
    make(ca, "LookCA", &root, 2, true);
    make(ee, "LookEE", &ca, 3, false);
    const ASN1_OCTET_STRING *id = X509_get0_subject_key_id(ca.x);
    ASSERT_NE(id, nullptr);
    char *hex = OPENSSL_buf2hexstr(id->data, id->length);
    std::vector<Bytes> others;
    EVP_PKEY *wrongKey = EVP_EC_gen("P-256");
    for (int i = 0; i < 300; ++i) {
        Made fake;
        fake.key = EVP_EC_gen("P-256");
        fake.x = ostrel::test::make_cert(fake.key, "LookCA", root.x, wrongKey, 1000 + i, true, hex);
        ASSERT_NE(fake.x, nullptr);
        others.push_back(ostrel::test::der_of(fake.x));
    }
    EVP_PKEY_free(wrongKey);
    OPENSSL_free(hex);
    others.push_back(ca.der);
    auto [rc, ms] = timed([&] {
        Validation r;
        r.target = ee.der;
        r.trust = Objects(std::vector<Bytes>{root.der});
        r.other = Objects(others);
        r.flags = PVD_FLAG_NO_OCSP | PVD_FLAG_NO_CRL;
        return r.go();
    });
    EXPECT_EQ(rc, QRT_PVD_PATH_NOT_FOUND);
    EXPECT_LT(ms, 10 * kBudgetMs);
    std::printf("300 look-alike issuers: %d in %.3f ms\n", rc, ms);
    // Few enough look-alikes leave room for the real CA.
    others.erase(others.begin(), others.begin() + 250);
    Validation r;
    r.target = ee.der;
    r.trust = Objects(std::vector<Bytes>{root.der});
    r.other = Objects(others);
    r.flags = PVD_FLAG_NO_OCSP | PVD_FLAG_NO_CRL;
    EXPECT_EQ(r.go(), 0);
}

// ---- Threads ----

TEST(PvdPathThreads, CacheAndStoreUnderManyThreads) {
    if (!ostrel::test::have_command("openssl")) GTEST_SKIP() << "no openssl";
    FreshCache fresh;
    TempDir store;
    std::string storePath = store.path();
    BIN root = view(cert("root"));
    ASSERT_EQ(QRT_PVD_Store_AddObject(storePath.c_str(), PVD_TYPE_ROOT, dn_of("root").c_str(), &root, nullptr), 0);
    Directory::byName = {{"PathCA", cert("ca")}};  // the CA: from the directory, then cache and store
    const Bytes good = cert("good"), revoked = cert("revoked"), arl = cert("arl"), crl = cert("crl");
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0}, done{0};
    auto worker = [&](int n) {
        for (int i = 0; i < 12; ++i) {
            Validation r;
            const bool isGood = (i + n) % 2 == 0;
            r.target = isGood ? good : revoked;
            r.trust = Objects();
            r.crls = Objects(std::vector<Bytes>{arl, crl});
            r.tune = [&](ZQ_PVD_VerifyParam &p) {
                Directory::install(p);
                p.cache.disable = 0;
                p.store.disable = 0;
                p.store.storePath = storePath.data();
            };
            int rc = r.go();
            if (rc != (isGood ? 0 : QRT_PVD_CERT_REVOKED)) ++wrong;
            if (isGood && rc == 0 && r.path() != names({"good", "ca", "root"})) ++wrong;
            ++done;
        }
    };
    std::thread emptier([&] {
        while (!stop) {
            QRT_PVD_Cache_Finalize();
            QRT_PVD_Cache_Initialize();
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    std::vector<std::thread> threads;
    for (int t = 0; t < 16; ++t) threads.emplace_back(worker, t);
    for (auto &t : threads) t.join();
    stop = true;
    emptier.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(done.load(), 16 * 12);
}

}  // namespace
