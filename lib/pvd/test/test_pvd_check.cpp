// Link checks on certificates and CRLs made with OpenSSL: name comparison, key identifiers and
// their score, the validity rule, signatures under the working key (with parameter inheritance),
// basic constraints, key usage, directory name constraints and critical extensions.
#include <openssl/rsa.h>

#include <functional>
#include <memory>

#include "pvd_test_util.hpp"

using namespace pvd_test;

namespace {

// ---- Making objects ----

struct Attr {
    const char *field;
    const char *value;
    int type;  // V_ASN1_PRINTABLESTRING, V_ASN1_UTF8STRING
};

X509_NAME *make_name(std::initializer_list<Attr> attrs) {
    X509_NAME *n = X509_NAME_new();
    for (const Attr &a : attrs)
        X509_NAME_add_entry_by_txt(n, a.field, a.type, reinterpret_cast<const unsigned char *>(a.value), -1, -1, 0);
    return n;
}

struct Plan {
    X509_NAME *subject = nullptr;  // taken over
    X509 *issuer = nullptr;
    EVP_PKEY *issuerKey = nullptr;
    long serial = 1;
    std::vector<std::pair<int, std::string>> exts;
    std::vector<X509_EXTENSION *> raw;  // taken over
    const EVP_MD *md = EVP_sha256();
    bool pss = false;
};

X509 *make(EVP_PKEY *key, Plan s) {
    X509 *x = X509_new();
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), s.serial);
    X509_gmtime_adj(X509_getm_notBefore(x), -3600);
    X509_gmtime_adj(X509_getm_notAfter(x), 86400L * 30);
    X509_set_subject_name(x, s.subject);
    X509_set_issuer_name(x, s.issuer ? X509_get_subject_name(s.issuer) : s.subject);
    X509_NAME_free(s.subject);
    X509_set_pubkey(x, key);
    for (auto &[nid, value] : s.exts) {
        X509V3_CTX ctx;
        X509V3_set_ctx_nodb(&ctx);
        X509V3_set_ctx(&ctx, s.issuer ? s.issuer : x, x, nullptr, nullptr, 0);
        X509_EXTENSION *e = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
        EXPECT_TRUE(e) << value;
        X509_add_ext(x, e, -1);
        X509_EXTENSION_free(e);
    }
    for (X509_EXTENSION *e : s.raw) {
        X509_add_ext(x, e, -1);
        X509_EXTENSION_free(e);
    }
    EVP_PKEY *signer = s.issuerKey ? s.issuerKey : key;
    EVP_MD_CTX *mctx = EVP_MD_CTX_new();
    EVP_PKEY_CTX *pctx = nullptr;
    EVP_DigestSignInit(mctx, &pctx, s.md, nullptr, signer);
    if (s.pss) {
        EVP_PKEY_CTX_set_rsa_padding(pctx, RSA_PKCS1_PSS_PADDING);
        EVP_PKEY_CTX_set_rsa_pss_saltlen(pctx, 32);
    }
    EXPECT_GT(X509_sign_ctx(x, mctx), 0);
    EVP_MD_CTX_free(mctx);
    return x;
}

// An extension of any identifier, with the contents NULL.
X509_EXTENSION *raw_ext(const char *oid, bool critical) {
    ASN1_OBJECT *o = OBJ_txt2obj(oid, 1);
    ASN1_OCTET_STRING *v = ASN1_OCTET_STRING_new();
    const unsigned char null[] = {0x05, 0x00};
    ASN1_OCTET_STRING_set(v, null, 2);
    X509_EXTENSION *e = X509_EXTENSION_create_by_OBJ(nullptr, o, critical ? 1 : 0, v);
    ASN1_OBJECT_free(o);
    ASN1_OCTET_STRING_free(v);
    return e;
}

// nameConstraints with directoryName bases (an empty initializer list gives an empty Name).
X509_EXTENSION *name_consts(std::vector<X509_NAME *> permitted, std::vector<X509_NAME *> excluded) {
    NAME_CONSTRAINTS *nc = NAME_CONSTRAINTS_new();
    auto add = [](STACK_OF(GENERAL_SUBTREE) * *stack, std::vector<X509_NAME *> & names) {
        if (names.empty()) return;
        *stack = sk_GENERAL_SUBTREE_new_null();
        for (X509_NAME *n : names) {
            GENERAL_SUBTREE *t = GENERAL_SUBTREE_new();
            t->base->type = GEN_DIRNAME;
            t->base->d.directoryName = n;
            sk_GENERAL_SUBTREE_push(*stack, t);
        }
    };
    add(&nc->permittedSubtrees, permitted);
    add(&nc->excludedSubtrees, excluded);
    X509_EXTENSION *e = X509V3_EXT_i2d(NID_name_constraints, 1, nc);
    NAME_CONSTRAINTS_free(nc);
    return e;
}

// A loaded certificate (derived type, input source), released at scope exit.
struct Obj {
    ZQ_PVD_InterObject o{};
    Bytes der;
    Obj() = default;
    explicit Obj(X509 *x, bool freeIt = true) { load(ostrel::test::der_of(x)), freeIt ? X509_free(x) : void(); }
    explicit Obj(const Bytes &b) { load(b); }
    void load(const Bytes &b) {
        der = b;
        BIN bin = view(der);
        ASSERT_EQ(QRT_PVD_InterObject_SetCert(&o, &bin, 0, PVD_SOURCE_INPUT), 0);
    }
    ~Obj() { QRT_PVD_InterObject_Reset(&o); }
    Certificate *cert() const { return static_cast<Certificate *>(o.pAsnObj); }
    Extensions exts() const { return cert()->tbsCertificate.extensions; }
};

// A decoded CRL, released at scope exit.
struct Crl {
    CertificateList *t = nullptr;
    explicit Crl(const Bytes &der) {
        BIN bin = view(der);
        void *v = nullptr;
        EXPECT_EQ(QRT_ASN_DecodePDU(&v, &bin, CertificateList_PDU), 0);
        t = static_cast<CertificateList *>(v);
    }
    ~Crl() { QRT_ASN_FreePDU(t, CertificateList_PDU); }
};

// A state whose working key comes from the certificates given, in order.
struct Vars {
    ZQ_PVD_StateVars v{};
    Vars() { EXPECT_EQ(QRT_PVD_StateVars_Init(&v, nullptr, 0, 0, 0), 0); }
    ~Vars() { QRT_PVD_StateVars_Reset(&v); }
    Vars &key(const Obj &o) {
        EXPECT_EQ(QRT_PVD_StateVars_InitPubKey(&v, &o.o), 0);
        return *this;
    }
};

EVP_PKEY *rsa_key() {
    static EVP_PKEY *k = EVP_RSA_gen(2048);
    return k;
}
EVP_PKEY *ec_key() {
    static EVP_PKEY *k = EVP_EC_gen("P-256");
    return k;
}
EVP_PKEY *ec_key2() {
    static EVP_PKEY *k = EVP_EC_gen("P-256");
    return k;
}
EVP_PKEY *dsa_key(EVP_PKEY *params) {
    EVP_PKEY_CTX *c = EVP_PKEY_CTX_new_from_pkey(nullptr, params, nullptr);
    EVP_PKEY *k = nullptr;
    EVP_PKEY_keygen_init(c);
    EVP_PKEY_keygen(c, &k);
    EVP_PKEY_CTX_free(c);
    return k;
}
EVP_PKEY *dsa_params() {
    static EVP_PKEY *p = [] {
        EVP_PKEY_CTX *c = EVP_PKEY_CTX_new_from_name(nullptr, "DSA", nullptr);
        EVP_PKEY *r = nullptr;
        EVP_PKEY_paramgen_init(c);
        EVP_PKEY_CTX_set_dsa_paramgen_bits(c, 2048);
        EVP_PKEY_paramgen(c, &r);
        EVP_PKEY_CTX_free(c);
        return r;
    }();
    return p;
}

Plan ca_plan(const char *cn, X509 *issuer, EVP_PKEY *issuerKey, long serial = 1) {
    Plan s;
    s.subject = make_name({{"CN", cn, V_ASN1_UTF8STRING}});
    s.issuer = issuer;
    s.issuerKey = issuerKey;
    s.serial = serial;
    s.exts = {{NID_basic_constraints, "critical,CA:TRUE"},
              {NID_key_usage, "critical,keyCertSign,cRLSign"},
              {NID_subject_key_identifier, "hash"}};
    if (issuer) s.exts.push_back({NID_authority_key_identifier, "keyid"});
    return s;
}

Bytes crl_of(X509 *issuer, EVP_PKEY *key) {
    X509_CRL *c = X509_CRL_new();
    X509_CRL_set_version(c, 1);
    X509_CRL_set_issuer_name(c, X509_get_subject_name(issuer));
    ASN1_TIME *t = X509_gmtime_adj(nullptr, -60);
    X509_CRL_set1_lastUpdate(c, t);
    X509_gmtime_adj(t, 3600);
    X509_CRL_set1_nextUpdate(c, t);
    ASN1_TIME_free(t);
    X509_CRL_sign(c, key, EVP_sha256());
    Bytes der = ostrel::test::i2d_bytes([&](unsigned char **q) { return i2d_X509_CRL(c, q); });
    X509_CRL_free(c);
    return der;
}

// A decoded Name of the attributes given.
struct DecodedName {
    Name *n = nullptr;
    explicit DecodedName(std::initializer_list<Attr> attrs) {
        X509_NAME *x = make_name(attrs);
        Bytes der = ostrel::test::i2d_bytes([&](unsigned char **q) { return i2d_X509_NAME(x, q); });
        X509_NAME_free(x);
        BIN bin = view(der);
        void *v = nullptr;
        EXPECT_EQ(QRT_ASN_DecodePDU(&v, &bin, Name_PDU), 0);
        n = static_cast<Name *>(v);
    }
    ~DecodedName() { QRT_ASN_FreePDU(n, Name_PDU); }
};

// ---- Names ----

TEST(PvdCheckNames, StringHelpers) {
    char s[] = " a b C d ";
    int n = static_cast<int>(std::strlen(s));
    ASSERT_EQ(QRT_PVD_String_TrilSpace(s, &n), 0);
    ASSERT_EQ(QRT_PVD_String_ConvCapit(s, n), 0);
    EXPECT_EQ(std::string(s, static_cast<size_t>(n)), "ABCD");
    EXPECT_EQ(QRT_PVD_String_TrilSpace(nullptr, &n), QRT_PVD_INVALID_INPUT);
}

TEST(PvdCheckNames, CompareTable) {
    const int P = V_ASN1_PRINTABLESTRING, U = V_ASN1_UTF8STRING;
    struct Row {
        const char *what;
        DecodedName a, b;
        int want;
    };
    Row rows[] = {
        {"printable: case and spaces fold", DecodedName({{"O", "Acme Corp", P}, {"CN", "ca one", P}}),
         DecodedName({{"O", "ACMECORP", P}, {"CN", "CA ONE", P}}), 0},
        {"utf8: bytes only", DecodedName({{"CN", "ca one", U}}), DecodedName({{"CN", "CA ONE", U}}),
         QRT_PVD_CERT_NAME_MISMATCH},
        {"utf8: equal", DecodedName({{"CN", "ca one", U}}), DecodedName({{"CN", "ca one", U}}), 0},
        {"tags differ", DecodedName({{"CN", "ca", P}}), DecodedName({{"CN", "ca", U}}), QRT_PVD_CERT_NAME_MISMATCH},
        {"types differ", DecodedName({{"CN", "ca", P}}), DecodedName({{"O", "ca", P}}), QRT_PVD_CERT_NAME_MISMATCH},
        {"one RDN more", DecodedName({{"C", "US", P}, {"CN", "ca", P}}), DecodedName({{"CN", "ca", P}}),
         QRT_PVD_CERT_NAME_MISMATCH},
        {"order differs", DecodedName({{"C", "US", P}, {"O", "x", P}}), DecodedName({{"O", "x", P}, {"C", "US", P}}),
         QRT_PVD_CERT_NAME_MISMATCH},
    };
    for (Row &r : rows) {
        ASSERT_TRUE(r.a.n && r.b.n) << r.what;
        EXPECT_EQ(QRT_PVD_AsnName_Compare(r.a.n, r.b.n), r.want) << r.what;
        EXPECT_EQ(QRT_PVD_AsnName_Compare(r.b.n, r.a.n), r.want) << r.what;
    }
    // one attribute more inside a multi-valued RDN
    X509_NAME *x = make_name({{"CN", "ca", P}});
    X509_NAME_add_entry_by_txt(x, "O", P, reinterpret_cast<const unsigned char *>("o"), -1, -1, 1);
    Bytes der = ostrel::test::i2d_bytes([&](unsigned char **q) { return i2d_X509_NAME(x, q); });
    X509_NAME_free(x);
    BIN bin = view(der);
    void *v = nullptr;
    ASSERT_EQ(QRT_ASN_DecodePDU(&v, &bin, Name_PDU), 0);
    DecodedName single({{"CN", "ca", P}});
    EXPECT_EQ(QRT_PVD_AsnName_Compare(static_cast<Name *>(v), single.n), QRT_PVD_CERT_NAME_MISMATCH);
    QRT_ASN_FreePDU(v, Name_PDU);
}

// ---- Chaining and key identifiers ----

TEST(PvdCheckChain, ScoreAndMismatches) {
    trace_on();
    EVP_PKEY *rk = rsa_key(), *other = ec_key();
    X509 *root = make(rk, ca_plan("Chain Root", nullptr, nullptr, 7));
    Obj rootObj(root, false);
    auto leaf = [&](const char *akid) {
        Plan s = ca_plan("Chain Leaf", root, rk, 9);
        s.exts.pop_back();
        if (akid) s.exts.push_back({NID_authority_key_identifier, akid});
        return Obj(make(ec_key(), std::move(s)));
    };
    float score = -1;
    Obj keyOnly = leaf("keyid");
    EXPECT_EQ(QRT_PVD_CheckChain(&score, &keyOnly.o, &rootObj.o), 0);
    EXPECT_FLOAT_EQ(score, 0.5f);
    Obj full = leaf("keyid,issuer:always");
    EXPECT_EQ(QRT_PVD_CheckChain(&score, &full.o, &rootObj.o), 0);
    EXPECT_FLOAT_EQ(score, 1.0f);

    // same name and key, another serial: key id matches, issuer and serial do not
    Obj reissued(make(rk, ca_plan("Chain Root", nullptr, nullptr, 8)));
    EXPECT_EQ(QRT_PVD_CheckChain(&score, &keyOnly.o, &reissued.o), 0);
    EXPECT_FLOAT_EQ(score, 0.5f);
    EXPECT_EQ(QRT_PVD_CheckAKID(&score, full.cert(), reissued.cert()), QRT_PVD_CERT_KEYID_MISMATCH);
    EXPECT_EQ(QRT_PVD_CheckChain(&score, &full.o, &reissued.o), QRT_PVD_CERT_KEYID_MISMATCH);
    EXPECT_EQ(score, 0.0f);
    EXPECT_EQ(last_record().func, "QRT_PVD_CheckChain");

    // same name, another key; no AKID at all
    Obj forged(make(other, ca_plan("Chain Root", nullptr, nullptr, 7)));
    EXPECT_EQ(QRT_PVD_CheckChain(&score, &keyOnly.o, &forged.o), QRT_PVD_CERT_KEYID_MISMATCH);
    Obj none = leaf(nullptr);
    EXPECT_EQ(QRT_PVD_CheckAKID(&score, none.cert(), rootObj.cert()), QRT_PVD_CERT_EXT_NOT_EXIST);
    EXPECT_EQ(QRT_PVD_CheckChain(&score, &none.o, &rootObj.o), QRT_PVD_CERT_KEYID_MISMATCH);

    // another issuer name
    Obj stranger(make(rk, ca_plan("Other Root", nullptr, nullptr, 7)));
    EXPECT_EQ(QRT_PVD_CheckChain(&score, &keyOnly.o, &stranger.o), QRT_PVD_CERT_NAME_MISMATCH);
    X509_free(root);
}

// ---- Validity ----

void set_time(Time &t, int choice, int year, int month = 1, int day = 1) {
    t = Time{};
    t.choice = static_cast<unsigned short>(choice);
    GeneralizedTime &g = choice == Time_utcTime_chosen ? t.u.utcTime : t.u.generalTime;
    g.year = static_cast<short>(choice == Time_utcTime_chosen ? year % 100 : year);
    g.month = static_cast<short>(month);
    g.day = static_cast<short>(day);
    g.utc = 1;
}

TEST(PvdCheckTime, Table) {
    const auto &pki = Pki::get();
    Obj o(pki.ee.der);
    Validity &v = o.cert()->tbsCertificate.validity;
    const int U = Time_utcTime_chosen, G = Time_generalTime_chosen;
    const long long t2020 = 1592179200, t2045 = 2366755200LL, t2100 = 4102444800LL, t1960 = -315619200LL;
    struct Row {
        int nbChoice, nbYear, naChoice, naYear;
        long long t;
        int want;
    };
    const Row rows[] = {
        {U, 2010, G, 2050, t2020, 0},                                    // in the period
        {U, 2010, G, 2050, t2100, 0},                                    // notAfter after 2037: never expired
        {U, 2010, U, 2049, t2100, 0},                                    // UTCTime 49 = 2049
        {U, 2038, G, 2050, t2045, QRT_PVD_CERT_NOT_YET_VALID},           // UTCTime 2038 notBefore: never valid
        {G, 2040, G, 2050, t2045, QRT_PVD_CERT_NOT_YET_VALID},           // GeneralizedTime after 2037 likewise
        {U, 2021, U, 2030, t2020, QRT_PVD_CERT_NOT_YET_VALID},           // before notBefore
        {U, 2010, U, 2019, t2020, QRT_PVD_CERT_EXPIRED},                 // after notAfter
        {U, 1955, U, 2030, t1960, 0},                                    // notBefore before 1970: begun
        {G, 1950, U, 1960, t1960, QRT_PVD_CERT_EXPIRED},                 // notAfter before 1970: ended
        {U, 2010, U, 2037, 2145916800LL + 86400, QRT_PVD_CERT_EXPIRED},  // 64-bit seconds past 2038-01-19
        {U, 2010, G, 2037, 2147483648LL, QRT_PVD_CERT_EXPIRED},          // 2^31 s: a 32-bit clock would wrap to 1901
    };
    for (const Row &r : rows) {
        set_time(v.notBefore, r.nbChoice, r.nbYear);
        set_time(v.notAfter, r.naChoice, r.naYear, r.naYear == 2037 ? 12 : 1, r.naYear == 2037 ? 31 : 1);
        EXPECT_EQ(QRT_PVD_AsnCert_VerifyTime(o.cert(), r.t), r.want) << r.nbYear << ".." << r.naYear << " at " << r.t;
    }
    long long s = 0;
    set_time(v.notAfter, G, 2038, 1, 20);
    ASSERT_EQ(QRT_PVD_AsnTime_ToSeconds(&v.notAfter, &s), 0);
    EXPECT_EQ(s, 2147558400LL);  // beyond 32 bits

    Crl crl(pki.crl);
    TBSCertList &tbs = crl.t->tbsCertList;
    EXPECT_EQ(QRT_PVD_AsnCRL_VerifyTime(crl.t, time(nullptr)), 0);
    EXPECT_EQ(QRT_PVD_AsnCRL_VerifyTime(crl.t, time(nullptr) + 7200), QRT_PVD_CRL_EXPIRED);
    set_time(tbs.nextUpdate, G, 2050);
    EXPECT_EQ(QRT_PVD_AsnCRL_VerifyTime(crl.t, t2100), 0);
    set_time(tbs.nextUpdate, U, 1960);
    EXPECT_EQ(QRT_PVD_AsnCRL_VerifyTime(crl.t, t1960 - 86400LL * 400), QRT_PVD_CRL_EXPIRED);
    tbs.bit_mask &= static_cast<unsigned char>(~TBSCertList_nextUpdate_present);
    EXPECT_EQ(QRT_PVD_AsnCRL_VerifyTime(crl.t, t2020), QRT_PVD_CRL_INVALID);
}

// ---- Signatures ----

TEST(PvdCheckSignature, Algorithms) {
    trace_on();
    struct Row {
        const char *what;
        EVP_PKEY *key;
        const EVP_MD *md;
        bool pss;
    };
    const Row rows[] = {
        {"rsa sha-256", rsa_key(), EVP_sha256(), false},
        {"rsa sha-512", rsa_key(), EVP_sha512(), false},
        {"rsassa-pss sha-256", rsa_key(), EVP_sha256(), true},
        {"ecdsa p-256 sha-256", ec_key(), EVP_sha256(), false},
    };
    for (const Row &r : rows) {
        Plan root = ca_plan("Sig Root", nullptr, nullptr);
        root.md = r.md;
        root.pss = r.pss;
        X509 *rx = make(r.key, std::move(root));
        Plan leaf = ca_plan("Sig Leaf", rx, r.key, 2);
        leaf.md = r.md;
        leaf.pss = r.pss;
        Obj rootObj(rx, false), leafObj(make(ec_key2(), std::move(leaf)));
        Vars vars;
        vars.key(rootObj);
        EXPECT_STREQ(vars.v.pubKeyDN, rootObj.o.subjectDN) << r.what;
        EXPECT_EQ(QRT_PVD_AsnCert_VerifySignature(rootObj.cert(), &vars.v), 0) << r.what;
        EXPECT_EQ(QRT_PVD_AsnCert_VerifySignature(leafObj.cert(), &vars.v), 0) << r.what;
        EXPECT_GT(QRT_PVD_ObjID_To_SignID(&leafObj.cert()->signatureAlgorithm), 0) << r.what;

        // a flipped signature bit; a key that did not sign
        Bytes bad = leafObj.der;
        bad.back() ^= 0x01;
        Obj badObj(bad);
        EXPECT_EQ(QRT_PVD_AsnCert_VerifySignature(badObj.cert(), &vars.v), QRT_PVD_CERT_SIGN_INVALID) << r.what;
        Vars wrong;
        wrong.key(leafObj);
        EXPECT_EQ(QRT_PVD_AsnCert_VerifySignature(leafObj.cert(), &wrong.v), QRT_PVD_CERT_SIGN_INVALID) << r.what;

        // CRL signed by the root
        Bytes crlDer = crl_of(rx, r.key);
        Crl crl(crlDer);
        EXPECT_EQ(QRT_PVD_AsnCRL_VerifySignature(crl.t, &vars.v), 0) << r.what;
        crlDer.back() ^= 0x01;
        Crl badCrl(crlDer);
        EXPECT_EQ(QRT_PVD_AsnCRL_VerifySignature(badCrl.t, &vars.v), QRT_PVD_CRL_SIGN_INVALID) << r.what;
        EXPECT_EQ(last_record().func, "QRT_PVD_AsnCRL_VerifySignature");
        X509_free(rx);
    }
}

TEST(PvdCheckSignature, UnknownAlgorithm) {
    const auto &pki = Pki::get();
    Obj root(pki.root.der), ee(pki.ca.der);
    Vars vars;
    vars.key(root);
    ASSERT_EQ(QRT_PVD_AsnCert_VerifySignature(ee.cert(), &vars.v), 0);
    static unsigned char oid[] = {0x2a, 0x03, 0x04};  // 1.2.3.4
    const ObjectID original = ee.cert()->signatureAlgorithm.algorithm;
    ee.cert()->signatureAlgorithm.algorithm = ObjectID{sizeof oid, oid};
    EXPECT_EQ(QRT_PVD_ObjID_To_SignID(&ee.cert()->signatureAlgorithm), -1);
    EXPECT_EQ(QRT_PVD_AsnCert_VerifySignature(ee.cert(), &vars.v), QRT_PVD_CERT_SIGN_INVALID);
    ee.cert()->signatureAlgorithm.algorithm = original;  // the tree must not free our bytes
    Vars empty;
    EXPECT_EQ(QRT_PVD_AsnCert_VerifySignature(root.cert(), &empty.v), QRT_PVD_CERT_SIGN_INVALID);
}

// Removes the parameters of a certificate's key in its decoded tree, as a certificate whose key
// inherits its issuer's parameters carries it.
void strip_key_params(Obj &o) {
    TBSCertificate &tbs = o.cert()->tbsCertificate;
    tbs.subjectPublicKeyInfo.algorithm.bit_mask &= static_cast<unsigned char>(~AlgorithmIdentifier_parameters_present);
    tbs.subjectPublicKeyInfo_encoded = Any{0, nullptr};
}

TEST(PvdCheckSignature, DsaParameterInheritance) {
    EVP_PKEY *params = dsa_params();
    ASSERT_TRUE(params);
    EVP_PKEY *rootKey = dsa_key(params), *caKey = dsa_key(params);
    X509 *rx = make(rootKey, ca_plan("DSA Root", nullptr, nullptr));
    X509 *cx = make(caKey, ca_plan("DSA CA", rx, rootKey, 2));
    Obj root(rx, false), ca(cx, false), leaf(make(ec_key(), ca_plan("DSA Leaf", cx, caKey, 3)));
    Vars vars;
    vars.key(root);
    EXPECT_GT(vars.v.pubKeyParam.length, 0u);
    EXPECT_EQ(QRT_PVD_AsnCert_VerifySignature(ca.cert(), &vars.v), 0);
    Bytes rootParams = bytes_of(vars.v.pubKeyParam);

    // the CA's key without parameters keeps the root's
    strip_key_params(ca);
    vars.key(ca);
    EXPECT_EQ(bytes_of(vars.v.pubKeyParam), rootParams);
    EXPECT_EQ(QRT_PVD_AsnCert_VerifySignature(leaf.cert(), &vars.v), 0);

    // after a key of another algorithm there is nothing to inherit
    Vars mixed;
    mixed.key(leaf).key(ca);
    EXPECT_EQ(mixed.v.pubKeyParam.length, 0u);
    EXPECT_EQ(QRT_PVD_AsnCert_VerifySignature(leaf.cert(), &mixed.v), QRT_PVD_CERT_SIGN_INVALID);
    // an EC key carries its curve and inherits nothing
    mixed.key(leaf);
    EXPECT_GT(mixed.v.pubKeyParam.length, 0u);
    EXPECT_NE(bytes_of(mixed.v.pubKeyParam), rootParams);
    X509_free(rx);
    X509_free(cx);
    EVP_PKEY_free(rootKey);
    EVP_PKEY_free(caKey);
}

// ---- Basic constraints, key usage, critical extensions ----

TEST(PvdCheckCA, BasicConstsAndKeyUsage) {
    EVP_PKEY *k = ec_key();
    auto with = [&](std::vector<std::pair<int, std::string>> exts) {
        Plan s;
        s.subject = make_name({{"CN", "x", V_ASN1_UTF8STRING}});
        s.exts = std::move(exts);
        return std::make_unique<Obj>(make(k, std::move(s)));
    };
    auto ca = with({{NID_basic_constraints, "critical,CA:TRUE,pathlen:1"}, {NID_key_usage, "keyCertSign"}});
    auto ee = with({{NID_basic_constraints, "CA:FALSE"}, {NID_key_usage, "cRLSign,digitalSignature"}});
    auto bare = with({});
    Vars vars;
    vars.v.maxPathLength = 5;
    EXPECT_EQ(QRT_PVD_CheckBasicConsts(&vars.v, ca->exts(), 0), 0);
    EXPECT_EQ(vars.v.maxPathLength, 1);  // 5 - 1, lowered to the pathLenConstraint
    EXPECT_EQ(QRT_PVD_CheckBasicConsts(&vars.v, ca->exts(), 0), 0);
    EXPECT_EQ(vars.v.maxPathLength, 0);
    EXPECT_EQ(QRT_PVD_CheckBasicConsts(&vars.v, ca->exts(), 1), 0);  // self-signed: not counted
    EXPECT_EQ(QRT_PVD_CheckBasicConsts(&vars.v, ca->exts(), 0), QRT_PVD_CERT_BASIC_CONSTS_INVALID);
    EXPECT_EQ(QRT_PVD_CheckBasicConsts(&vars.v, ee->exts(), 1), QRT_PVD_CERT_BASIC_CONSTS_INVALID);
    EXPECT_EQ(QRT_PVD_CheckBasicConsts(&vars.v, bare->exts(), 1), QRT_PVD_CERT_EXT_NOT_EXIST);

    EXPECT_EQ(QRT_PVD_AsnExts_CheckKeyUsage(ca->exts(), KeyUsage_keyCertSign, 0), 0);
    EXPECT_EQ(QRT_PVD_AsnExts_CheckKeyUsage(ee->exts(), KeyUsage_keyCertSign, 0), QRT_PVD_CERT_KEYUSAGE_INVALID);
    EXPECT_EQ(QRT_PVD_AsnExts_CheckKeyUsage(ee->exts(), KeyUsage_cRLSign, 1), 0);
    EXPECT_EQ(QRT_PVD_AsnExts_CheckKeyUsage(ca->exts(), KeyUsage_cRLSign, 1), QRT_PVD_CERT_KEYUSAGE_INVALID);
    EXPECT_EQ(QRT_PVD_AsnExts_CheckKeyUsage(bare->exts(), KeyUsage_keyCertSign, 0), QRT_PVD_CERT_EXT_NOT_EXIST);
    EXPECT_EQ(QRT_PVD_AsnExts_CheckKeyUsage(bare->exts(), KeyUsage_cRLSign, 1), 0);
}

TEST(PvdCheckCA, CriticalExtensions) {
    trace_on();
    auto cert = [](const char *oid, bool critical) {
        Plan s = ca_plan("Crit", nullptr, nullptr);
        s.exts.push_back({NID_ext_key_usage, "critical,serverAuth"});
        if (oid) s.raw.push_back(raw_ext(oid, critical));
        return std::make_unique<Obj>(make(ec_key(), std::move(s)));
    };
    EXPECT_EQ(QRT_PVD_CheckCriticalExts(cert(nullptr, false)->exts(), PVD_EXTS_CERT), 0);
    EXPECT_EQ(QRT_PVD_CheckCriticalExts(cert("1.2.3.4", false)->exts(), PVD_EXTS_CERT), 0);
    EXPECT_EQ(QRT_PVD_CheckCriticalExts(cert("1.2.3.4", true)->exts(), PVD_EXTS_CERT), QRT_PVD_CERT_EXT_INVALID);
    EXPECT_EQ(last_record().func, "QRT_PVD_CheckCriticalExts");
    // keyUsage is a certificate's extension, not a CRL's
    EXPECT_EQ(QRT_PVD_CheckCriticalExts(cert(nullptr, false)->exts(), PVD_EXTS_CRL), QRT_PVD_CRL_EXT_INVALID);

    X509_CRL *c = X509_CRL_new();
    X509_CRL_set_version(c, 1);
    X509_NAME *n = make_name({{"CN", "Crit", V_ASN1_UTF8STRING}});
    X509_CRL_set_issuer_name(c, n);
    X509_NAME_free(n);
    ASN1_TIME *t = X509_gmtime_adj(nullptr, 0);
    X509_CRL_set1_lastUpdate(c, t);
    X509_CRL_set1_nextUpdate(c, t);
    X509_REVOKED *r = X509_REVOKED_new();
    ASN1_INTEGER *serial = ASN1_INTEGER_new();
    ASN1_INTEGER_set(serial, 5);
    X509_REVOKED_set_serialNumber(r, serial);
    X509_REVOKED_set_revocationDate(r, t);
    X509_EXTENSION *entryExt = raw_ext("1.2.3.5", true), *crlExt = raw_ext("2.5.29.20", true);  // cRLNumber
    X509_REVOKED_add_ext(r, entryExt, -1);
    X509_CRL_add0_revoked(c, r);
    X509_CRL_add_ext(c, crlExt, -1);
    X509_EXTENSION_free(entryExt);
    X509_EXTENSION_free(crlExt);
    X509_CRL_sign(c, ec_key(), EVP_sha256());
    Bytes der = ostrel::test::i2d_bytes([&](unsigned char **q) { return i2d_X509_CRL(c, q); });
    X509_CRL_free(c);
    ASN1_TIME_free(t);
    ASN1_INTEGER_free(serial);
    Crl crl(der);
    EXPECT_EQ(QRT_PVD_CheckCriticalExts(crl.t->tbsCertList.crlExtensions, PVD_EXTS_CRL), 0);
    ASSERT_TRUE(crl.t->tbsCertList.revokedCertificates);
    Extensions entry = crl.t->tbsCertList.revokedCertificates->value.crlEntryExtensions;
    EXPECT_EQ(QRT_PVD_CheckCriticalExts(entry, PVD_EXTS_CRL_ENTRY), QRT_PVD_CRL_EXT_INVALID);
    EXPECT_EQ(QRT_PVD_CheckCriticalExts(entry, 9), QRT_PVD_INVALID_INPUT);
}

// ---- Name constraints ----

TEST(PvdCheckNameConsts, CoversTable) {
    struct Row {
        const char *base, *name;
        int want;
    } rows[] = {
        {"c=US", "c=US", 1},
        {"c=US", "c=USA", 0},
        {"c=US", "cn=a,o=x,c=US", 1},
        {"c=US", "cn=a,o=x,c=USA", 0},
        {"o=x,c=US", "cn=a,o=x,c=US", 1},
        {"o=x,c=US", "cn=a,oo=x,c=US", 0},
        {"", "cn=a", 0},
        {"cn=a,c=US", "c=US", 0},
    };
    for (const Row &r : rows) EXPECT_EQ(QRT_PVD_NameConsts_Covers(r.base, r.name), r.want) << r.base << " / " << r.name;
}

TEST(PvdCheckNameConsts, UpdateAndCheck) {
    const int P = V_ASN1_PRINTABLESTRING;
    EVP_PKEY *k = ec_key();
    auto ca_with = [&](X509_EXTENSION *nc) {
        Plan s = ca_plan("NC CA", nullptr, nullptr);
        s.raw.push_back(nc);
        return std::make_unique<Obj>(make(k, std::move(s)));
    };
    auto ee = [&](std::initializer_list<Attr> subject, X509_NAME *altDir = nullptr) {
        Plan s;
        s.subject = make_name(subject);
        if (altDir) {
            GENERAL_NAMES *g = sk_GENERAL_NAME_new_null();
            GENERAL_NAME *n = GENERAL_NAME_new();
            n->type = GEN_DIRNAME;
            n->d.directoryName = altDir;
            sk_GENERAL_NAME_push(g, n);
            s.raw.push_back(X509V3_EXT_i2d(NID_subject_alt_name, 0, g));
            GENERAL_NAMES_free(g);
        }
        return std::make_unique<Obj>(make(k, std::move(s)));
    };
    Vars vars;
    auto us = ca_with(name_consts({make_name({{"C", "US", P}})}, {make_name({{"C", "US", P}, {"O", "Bad", P}})}));
    ASSERT_EQ(QRT_PVD_UpdateNameConsts(&vars.v, &us->o), 0);
    ASSERT_EQ(vars.v.permitted.isAll, 0);
    ASSERT_EQ(vars.v.permitted.count, 1);
    const std::string base = vars.v.permitted.dn[0];

    struct Row {
        const char *what;
        std::unique_ptr<Obj> cert;
        int want;
    } rows[] = {
        {"inside", ee({{"C", "US", P}, {"O", "Good", P}, {"CN", "a", P}}), 0},
        {"c=USA is not c=US", ee({{"C", "USA", P}, {"CN", "a", P}}), QRT_PVD_CERT_NAME_CONSTS_INVALID},
        {"excluded", ee({{"C", "US", P}, {"O", "Bad", P}, {"CN", "a", P}}), QRT_PVD_CERT_NAME_CONSTS_INVALID},
        {"altName outside", ee({{"C", "US", P}, {"CN", "a", P}}, make_name({{"C", "DE", P}})),
         QRT_PVD_CERT_NAME_CONSTS_INVALID},
        {"altName inside", ee({{"C", "US", P}, {"CN", "a", P}}, make_name({{"C", "US", P}, {"CN", "b", P}})), 0},
    };
    for (Row &r : rows) EXPECT_EQ(QRT_PVD_CheckNameConsts(&vars.v, &r.cert->o), r.want) << r.what << " base " << base;

    // narrowing: a base inside the permitted one replaces it, one outside leaves nothing permitted
    auto narrower = ca_with(name_consts({make_name({{"C", "US", P}, {"O", "Good", P}})}, {}));
    ASSERT_EQ(QRT_PVD_UpdateNameConsts(&vars.v, &narrower->o), 0);
    ASSERT_EQ(vars.v.permitted.count, 1);
    EXPECT_NE(std::string(vars.v.permitted.dn[0]), base);
    EXPECT_EQ(vars.v.excluded.count, 1);
    auto elsewhere = ca_with(name_consts({make_name({{"C", "DE", P}})}, {}));
    ASSERT_EQ(QRT_PVD_UpdateNameConsts(&vars.v, &elsewhere->o), 0);
    EXPECT_EQ(vars.v.permitted.count, 0);
    EXPECT_EQ(QRT_PVD_CheckNameConsts(&vars.v, &rows[0].cert->o), QRT_PVD_CERT_NAME_CONSTS_INVALID);

    // bases of other name forms leave directory names unconstrained
    Vars fresh;
    Plan dnsOnly = ca_plan("NC DNS", nullptr, nullptr);
    dnsOnly.exts.push_back({NID_name_constraints, "critical,permitted;DNS:example.com"});
    Obj dns(make(k, std::move(dnsOnly)));
    ASSERT_EQ(QRT_PVD_UpdateNameConsts(&fresh.v, &dns.o), 0);
    EXPECT_EQ(fresh.v.permitted.isAll, 1);
    EXPECT_EQ(QRT_PVD_CheckNameConsts(&fresh.v, &rows[1].cert->o), 0);

    // an empty base, and one of attributes the DN text leaves out, permit nothing: an error
    auto empty = ca_with(name_consts({X509_NAME_new()}, {}));
    EXPECT_EQ(QRT_PVD_UpdateNameConsts(&fresh.v, &empty->o), QRT_PVD_CERT_NAME_CONSTS_INVALID);
    X509_NAME *odd = X509_NAME_new();
    X509_NAME_add_entry_by_txt(odd, "1.2.3.4", P, reinterpret_cast<const unsigned char *>("x"), -1, -1, 0);
    auto unrendered = ca_with(name_consts({}, {odd}));
    EXPECT_EQ(QRT_PVD_UpdateNameConsts(&fresh.v, &unrendered->o), QRT_PVD_CERT_NAME_CONSTS_INVALID);
    EXPECT_EQ(fresh.v.permitted.isAll, 1);
    EXPECT_EQ(fresh.v.excluded.count, 0);

    // 21 excluded bases overflow the set
    std::vector<X509_NAME *> many;
    for (int i = 0; i < PVD_MAX_SUBTREES + 1; ++i)
        many.push_back(make_name({{"C", "US", P}, {"CN", std::to_string(i).c_str(), P}}));
    auto full = ca_with(name_consts({}, many));
    EXPECT_EQ(QRT_PVD_UpdateNameConsts(&fresh.v, &full->o), QRT_PVD_CERT_NAME_CONSTS_INVALID);
    EXPECT_EQ(fresh.v.excluded.count, 0);
}

}  // namespace
