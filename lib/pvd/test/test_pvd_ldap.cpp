// Directory fetching with a test directory callback that serves canned values by URI: the URIs
// built (slash handling, distribution point splitting, the 1024-byte bound), the post-processing
// of answers (PEM to DER, adjacent duplicates, the 64-value cut), the server order and the "last
// result" rule, the per-kind fetches, and which failures leave trace records.
#include <openssl/evp.h>

#include <map>

#include "pvd_test_util.hpp"

namespace {

using namespace pvd_test;

// ---- URIs ----

TEST(PvdLdap, EncodeUri) {
    trace_on();
    struct Case {
        const char *server, *name, *dp;
        int rc;
        const char *want;
    } cases[] = {
        {"ldap://dir.example:389", "cn=CA1,o=Test", nullptr, 0, "ldap://dir.example:389/cn=CA1,o=Test"},
        {"ldap://dir.example:389/", "cn=CA1,o=Test", nullptr, 0, "ldap://dir.example:389/cn=CA1,o=Test"},
        {"ldap://a/", "cn=x", "ldap://ignored/", 0, "ldap://a/cn=x"},
        {nullptr, "cn=CA1", "ldap://dp.example/cn=CRL1,o=Test?certificateRevocationList", 0,
         "ldap://dp.example/cn=CA1"},
        {nullptr, "cn=CA1", "URI:ldap://dp.example:389/cn=CRL1", 0, "URI:ldap://dp.example:389/cn=CA1"},
        {nullptr, "cn=CA1", "http://dp.example/crl", -1, ""},
        {nullptr, "cn=CA1", "ldap://hostonly", -1, ""},
        {"ldap://a/", nullptr, nullptr, QRT_PVD_INVALID_INPUT, nullptr},
        {nullptr, "cn=x", nullptr, QRT_PVD_INVALID_INPUT, nullptr},
    };
    for (const Case &c : cases) {
        char dst[PVD_URI_MAX] = "untouched";
        EXPECT_EQ(QRT_PVD_EncodeURI(dst, c.server, c.name, c.dp), c.rc)
            << (c.name ? c.name : "") << " " << (c.dp ? c.dp : "");
        if (c.want) {
            EXPECT_STREQ(dst, c.want);
        }
    }
    EXPECT_EQ(QRT_PVD_EncodeURI(nullptr, "ldap://a/", "cn=x", nullptr), QRT_PVD_INVALID_INPUT);

    // the bound: 1023 characters fit, 1024 do not, and nothing is written past the buffer
    struct Guarded {
        char dst[PVD_URI_MAX];
        char guard[64];
    } g;
    std::string server = "ldap://a/";
    for (size_t len : {size_t{1023}, size_t{1024}, size_t{5000}}) {
        std::memset(&g, 0x5a, sizeof g);
        std::string name(len - server.size(), 'n');
        int rc = QRT_PVD_EncodeURI(g.dst, server.c_str(), name.c_str(), nullptr);
        EXPECT_EQ(rc, len < PVD_URI_MAX ? 0 : -1) << len;
        EXPECT_EQ(std::strlen(g.dst), len < PVD_URI_MAX ? len : 0u) << len;
        for (char c : g.guard) ASSERT_EQ(c, 0x5a) << len;
    }
}

TEST(PvdLdap, DistributionPointUrls) {
    trace_on();
    struct Case {
        const char *url;
        int rc;
        const char *server, *dn;
    } cases[] = {
        {"ldap://dir.example:389/cn=CRL1,o=Test?certificateRevocationList;binary", 0, "ldap://dir.example:389/",
         "cn=CRL1,o=Test"},
        {"ldap://dir.example/cn=CRL1,o=Test", 0, "ldap://dir.example/", "cn=CRL1,o=Test"},
        {"ldap://dir.example/cn=CRL1\nldap://other/cn=CRL2?x", 0, "ldap://dir.example/", "cn=CRL1"},
        {"URI:ldap://dir.example/cn=A", 0, "URI:ldap://dir.example/", "cn=A"},
        {"ldap://dir.example/", 0, "ldap://dir.example/", ""},
        {"ldap://dir.example", -1, nullptr, nullptr},
        {"http://dir.example/crl", -1, nullptr, nullptr},
    };
    for (const Case &c : cases) {
        char *server = nullptr, *dn = nullptr;
        EXPECT_EQ(QRT_PVD_CRLDP_Decode(&server, &dn, c.url), c.rc) << c.url;
        if (c.server) {
            EXPECT_STREQ(server, c.server);
            EXPECT_STREQ(dn, c.dn);
        } else {
            EXPECT_EQ(server, nullptr);
            EXPECT_EQ(dn, nullptr);
        }
        QRT_free(server);
        QRT_free(dn);
    }
    char *dn = nullptr;
    EXPECT_EQ(QRT_PVD_CRLDP_Decode(nullptr, &dn, "ldap://h/cn=x?y"), 0);  // either output may be left out
    EXPECT_STREQ(dn, "cn=x");
    QRT_free(dn);
}

// ---- answers ----

std::string pem_of(const Bytes &der, bool newlines = true) {
    std::string b64(4 * ((der.size() + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(b64.data()), der.data(), static_cast<int>(der.size()));
    b64.resize(static_cast<size_t>(n));
    std::string out = "-----BEGIN CERTIFICATE-----";
    out += newlines ? "\r\n" : "";
    for (size_t i = 0; i < b64.size(); i += 64) out += b64.substr(i, 64) + (newlines ? "\r\n" : "");
    return out + "-----END CERTIFICATE-----" + (newlines ? "\n" : "");
}

void fill(ZQ_BIN_LIST *head, const std::vector<Bytes> &values) {
    for (const Bytes &v : values) {
        BIN b = view(v);
        if (!head->value.value)
            ASSERT_EQ(QRT_BIN_Copy(&head->value, &b), 0);
        else
            ASSERT_EQ(QRT_BIN_LIST_Add(&head->next, &b), 0);
    }
}

TEST(PvdLdap, PostProcess) {
    trace_on();
    Pki &pki = Pki::get();
    Bytes a{1}, b{2}, c{3};
    struct Case {
        const char *what;
        std::vector<Bytes> in;
        int rc;
        std::vector<Bytes> out;
    } cases[] = {
        {"three equal adjacent", {a, a, a}, 0, {a}},
        {"equal but not adjacent", {a, b, a}, 0, {a, b, a}},
        {"runs", {a, a, b, b, b, c, a, a}, 0, {a, b, c, a}},
        {"PEM to DER", {bytes_of(pem_of(pki.ca.der)), pki.ee.der}, 0, {pki.ca.der, pki.ee.der}},
        {"PEM equal to its DER neighbour", {pki.ca.der, bytes_of(pem_of(pki.ca.der))}, 0, {pki.ca.der}},
        {"PEM without newline", {bytes_of(pem_of(pki.ca.der, false))}, QRT_PVD_CRL_INVALID, {}},
        {"PEM that is no Base64", {bytes_of("-----BEGIN X-----\n!!!!\n-----END X-----\n")}, QRT_PVD_CRL_INVALID, {}},
    };
    for (const Case &t : cases) {
        SCOPED_TRACE(t.what);
        List l;
        fill(l.get(), t.in);
        EXPECT_EQ(QRT_PVD_LDAP_ObjList_PostProcess(l.get()), t.rc);
        if (!t.rc) {
            EXPECT_EQ(l.values(), t.out);
        }
    }
    // an answer is read to its first 64 values
    List many;
    std::vector<Bytes> in;
    for (int i = 0; i < 70; ++i) in.push_back(Bytes{static_cast<unsigned char>(i)});
    fill(many.get(), in);
    EXPECT_EQ(QRT_PVD_LDAP_ObjList_PostProcess(many.get()), 0);
    EXPECT_EQ(many.values(), std::vector<Bytes>(in.begin(), in.begin() + 64));

    // PEM decoding stays inside the value: a value cut before its end marker decodes what it has
    std::string pem = pem_of(pki.ca.der);
    Bytes cut = bytes_of(pem.substr(0, pem.find("-----END")));
    BIN bc = view(cut);
    Out der;
    EXPECT_EQ(QRT_PVD_IsPEM(&bc), 1);
    EXPECT_EQ(QRT_PVD_DecodePEM(der.get(), &bc), 0);
    EXPECT_EQ(der.bytes(), pki.ca.der);
    Bytes notPem = bytes_of("----BEGIN");
    BIN bn = view(notPem);
    EXPECT_EQ(QRT_PVD_IsPEM(&bn), 0);
    EXPECT_EQ(QRT_PVD_IsPEM(nullptr), 0);
    Bytes bare = bytes_of("-----BEGIN");
    BIN bb = view(bare);
    Out none;
    EXPECT_EQ(QRT_PVD_DecodePEM(none.get(), &bb), QRT_PVD_CRL_INVALID);
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(last_record().func, "QRT_PVD_DecodePEM");
}

TEST(PvdLdap, IsDNRelated) {
    struct Case {
        const char *dn, *text;
        int want;
    } cases[] = {
        {"cn=User,ou=People,o=KICA,c=KR", "CN=signGATE CA,OU=licensedCA,O=KICA,C=KR", 1},
        {"cn=User,O=Example Corp,c=KR", "issued by Example Corp", 1},
        {"cn=User,o=Other,c=KR", "O=KICA", 0},
        {"cn=User,ou=o=Fake,c=KR", "Fake", 0},  // "o=" inside a value is no attribute
        {"cn=User,c=KR", "anything", 0},
        {"o=Lead", "Lead", 1},
    };
    for (const Case &c : cases) EXPECT_EQ(QRT_PVD_IsDNRelated(c.dn, c.text), c.want) << c.dn;
    // the organisation value is read to 128 characters
    std::string org(200, 'x');
    std::string dn = "cn=a,o=" + org;
    EXPECT_EQ(QRT_PVD_IsDNRelated(dn.c_str(), std::string(128, 'x').c_str()), 1);
    EXPECT_EQ(QRT_PVD_IsDNRelated(dn.c_str(), std::string(127, 'x').c_str()), 0);
    EXPECT_EQ(QRT_PVD_IsDNRelated(nullptr, "x"), 0);
}

// ---- fetching through the callback ----

struct Directory {
    struct Answer {
        int rc = 0;
        std::vector<Bytes> values;
    };
    std::map<std::string, Answer> answers;
    std::vector<std::pair<int, std::string>> calls;  // typeID, uri
};
Directory g_dir;

int directory_cb(ZQ_BIN_LIST *out, const int typeID, const char *uri) {
    g_dir.calls.emplace_back(typeID, uri);
    auto it = g_dir.answers.find(uri);
    if (it == g_dir.answers.end()) {
        fill(out, {bytes_of("left behind by a failed search")});
        return 32;  // no such object
    }
    fill(out, it->second.values);
    return it->second.rc;
}

struct Fixture {
    ZQ_PVD_Context ctx{};
    ZQ_PVD_BuildCursor cur{};
    explicit Fixture(std::vector<const char *> servers) {
        g_dir = Directory{};
        ctx.cb.CB_LDAP_GetObject = directory_cb;
        ctx.ldapInfon = static_cast<int>(servers.size());
        for (size_t i = 0; i < servers.size(); ++i) ctx.ldapInfos[i].srvrURL = const_cast<char *>(servers[i]);
    }
    ~Fixture() { QRT_PVD_BuildCursor_Reset(&cur); }
    std::vector<std::string> uris() const {
        std::vector<std::string> v;
        for (auto &c : g_dir.calls) v.push_back(c.second);
        return v;
    }
};

TEST(PvdLdap, ServersInOrderAndTheLastResult) {
    trace_on();
    Bytes v1{0x30, 0x01, 0x01}, v2{0x30, 0x01, 0x02};
    {
        Fixture f({"ldap://one", "ldap://two/", "ldap://three/"});
        g_dir.answers["ldap://one/cn=CA"] = {7, {v1}};  // values with a failure are not taken
        g_dir.answers["ldap://two/cn=CA"] = {0, {v2, v2}};
        List l;
        EXPECT_EQ(QRT_PVD_LDAP_GetObjectUsingLDAPInfos(&f.ctx, l.get(), PVD_TYPE_CA, "cn=CA"), 0);
        EXPECT_EQ(l.values(), std::vector<Bytes>{v2});  // post-processed
        EXPECT_EQ(f.uris(), (std::vector<std::string>{"ldap://one/cn=CA", "ldap://two/cn=CA"}));
        EXPECT_EQ(f.ctx.ldapCalls, 2);
    }
    {
        Fixture f({"ldap://one/", "ldap://two/"});
        g_dir.answers["ldap://one/cn=CA"] = {7, {}};
        g_dir.answers["ldap://two/cn=CA"] = {9, {v1}};
        List l;
        EXPECT_EQ(QRT_PVD_LDAP_GetObjectUsingLDAPInfos(&f.ctx, l.get(), PVD_TYPE_CA, "cn=CA"), 9);
        EXPECT_TRUE(l.values().empty());
        EXPECT_TRUE(trace_records().empty());  // a callback failure is no error of its own
    }
    {
        Fixture f({});
        List l;
        EXPECT_EQ(QRT_PVD_LDAP_GetObjectUsingLDAPInfos(&f.ctx, l.get(), PVD_TYPE_CA, "cn=CA"), QRT_PVD_CERT_NOT_FOUND);
        EXPECT_TRUE(g_dir.calls.empty());
    }
}

TEST(PvdLdap, Certificates) {
    trace_on();
    Pki &pki = Pki::get();
    const char *dp = "ldap://dp.example:389/cn=CRL1,o=Test?certificateRevocationList";
    {
        // configured servers first; candidates one per call, equal adjacent ones once
        Fixture f({"ldap://one/"});
        g_dir.answers["ldap://one/cn=PVD Test CA"] = {0, {pki.ca.der, pki.ca.der, pki.ca.der, pki.root.der}};
        Out a, b, c;
        EXPECT_EQ(QRT_PVD_LDAP_GetCert(&f.ctx, &f.cur, a.get(), "cn=PVD Test CA", dp), 0);
        EXPECT_EQ(QRT_PVD_LDAP_GetCert(&f.ctx, &f.cur, b.get(), "cn=PVD Test CA", dp), 0);
        EXPECT_EQ(QRT_PVD_LDAP_GetCert(&f.ctx, &f.cur, c.get(), "cn=PVD Test CA", dp), QRT_PVD_CERT_NOT_FOUND);
        EXPECT_EQ(a.bytes(), pki.ca.der);
        EXPECT_EQ(b.bytes(), pki.root.der);
        EXPECT_EQ(g_dir.calls.size(), 1u);
        EXPECT_EQ(g_dir.calls[0].first, PVD_TYPE_CA);
    }
    {
        // nothing there: the distribution point's server, once, with the same DN (PEM decoded)
        Fixture f({"ldap://one/", "ldap://two/"});
        g_dir.answers["ldap://dp.example:389/cn=PVD Test CA"] = {0, {bytes_of(pem_of(pki.ca.der))}};
        Out a, b;
        EXPECT_EQ(QRT_PVD_LDAP_GetCert(&f.ctx, &f.cur, a.get(), "cn=PVD Test CA", dp), 0);
        EXPECT_EQ(a.bytes(), pki.ca.der);
        EXPECT_EQ(QRT_PVD_LDAP_GetCert(&f.ctx, &f.cur, b.get(), "cn=PVD Test CA", dp), QRT_PVD_CERT_NOT_FOUND);
        EXPECT_EQ(f.uris(), (std::vector<std::string>{"ldap://one/cn=PVD Test CA", "ldap://two/cn=PVD Test CA",
                                                      "ldap://dp.example:389/cn=PVD Test CA"}));
        EXPECT_TRUE(trace_records().empty());
    }
    {
        // disabled, or no callback: not found without a call
        Fixture f({"ldap://one/"});
        f.ctx.ldapDisable = 1;
        Out a;
        EXPECT_EQ(QRT_PVD_LDAP_GetCert(&f.ctx, &f.cur, a.get(), "cn=x", nullptr), QRT_PVD_CERT_NOT_FOUND);
        f.ctx.ldapDisable = 0;
        f.ctx.cb.CB_LDAP_GetObject = nullptr;
        EXPECT_EQ(QRT_PVD_LDAP_GetCert(&f.ctx, &f.cur, a.get(), "cn=x", nullptr), QRT_PVD_CERT_NOT_FOUND);
        EXPECT_TRUE(g_dir.calls.empty());
    }
}

TEST(PvdLdap, TrustLists) {
    trace_on();
    Bytes l1{0x30, 0x01, 0x01}, l2{0x30, 0x01, 0x02};
    Fixture f({"ldap://one/", "ldap://two/"});
    g_dir.answers["ldap://two/cn=ctl"] = {0, {l1, l2}};
    Out a, b, c;
    EXPECT_EQ(QRT_PVD_LDAP_GetCTL(&f.ctx, &f.cur, a.get(), "cn=ctl"), 0);
    EXPECT_EQ(QRT_PVD_LDAP_GetCTL(&f.ctx, &f.cur, b.get(), "cn=ctl"), 0);
    EXPECT_EQ(QRT_PVD_LDAP_GetCTL(&f.ctx, &f.cur, c.get(), "cn=ctl"), QRT_PVD_CTL_NOT_FOUND);
    EXPECT_EQ(a.bytes(), l1);
    EXPECT_EQ(b.bytes(), l2);
    EXPECT_EQ(g_dir.calls.size(), 2u);
    EXPECT_EQ(g_dir.calls[1].first, PVD_TYPE_CTL);
    Fixture g({"ldap://one/"});
    Out d;
    EXPECT_EQ(QRT_PVD_LDAP_GetCTL(&g.ctx, &g.cur, d.get(), "cn=ctl"), QRT_PVD_CTL_NOT_FOUND);
    EXPECT_TRUE(trace_records().empty());
}

TEST(PvdLdap, Crls) {
    trace_on();
    Pki &pki = Pki::get();
    const char *dp = "ldap://dp.example/cn=CRL1,o=Test?certificateRevocationList;binary";
    struct Case {
        const char *what;
        std::map<std::string, Directory::Answer> answers;
        const char *dpURL;
        int crlType, rc;
        Bytes want;
        std::vector<std::string> uris;
        const char *record;  // the function of the last record, "" for none
    };
    std::vector<Case> cases = {
        {"at the distribution point",
         {{"ldap://dp.example/cn=CRL1,o=Test", {0, {pki.crl, pki.ca.der}}}},
         dp,
         PVD_TYPE_ARL,
         0,
         pki.crl,
         {"ldap://dp.example/cn=CRL1,o=Test"},
         ""},
        {"PEM at the distribution point",
         {{"ldap://dp.example/cn=CRL1,o=Test", {0, {bytes_of(pem_of(pki.crl))}}}},
         dp,
         PVD_TYPE_CRL,
         0,
         pki.crl,
         {"ldap://dp.example/cn=CRL1,o=Test"},
         ""},
        {"then the configured servers with the same DN",
         {{"ldap://two/cn=CRL1,o=Test", {0, {pki.crl}}}},
         dp,
         PVD_TYPE_CRL,
         0,
         pki.crl,
         {"ldap://dp.example/cn=CRL1,o=Test", "ldap://one/cn=CRL1,o=Test", "ldap://two/cn=CRL1,o=Test"},
         ""},
        {"an empty answer counts as nothing",
         {{"ldap://dp.example/cn=CRL1,o=Test", {0, {}}}, {"ldap://one/cn=CRL1,o=Test", {0, {pki.crl}}}},
         dp,
         PVD_TYPE_CRL,
         0,
         pki.crl,
         {"ldap://dp.example/cn=CRL1,o=Test", "ldap://one/cn=CRL1,o=Test"},
         ""},
        {"nowhere",
         {},
         dp,
         PVD_TYPE_CRL,
         QRT_PVD_CRL_NOT_FOUND,
         {},
         {"ldap://dp.example/cn=CRL1,o=Test", "ldap://one/cn=CRL1,o=Test", "ldap://two/cn=CRL1,o=Test"},
         ""},
        {"PEM that does not decode",
         {{"ldap://dp.example/cn=CRL1,o=Test", {0, {bytes_of(pem_of(pki.crl, false))}}}},
         dp,
         PVD_TYPE_CRL,
         QRT_PVD_CRL_INVALID,
         {},
         {"ldap://dp.example/cn=CRL1,o=Test"},
         "QRT_PVD_LDAP_GetCRL"},
        {"no distribution point", {}, nullptr, PVD_TYPE_CRL, QRT_PVD_CRL_NOT_FOUND, {}, {}, ""},
        {"a distribution point that does not split",
         {},
         "ldap://nohostslash",
         PVD_TYPE_CRL,
         QRT_PVD_CERT_CRLDP_INVALID,
         {},
         {},
         "QRT_PVD_LDAP_GetCRL"},
    };
    for (Case &c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f({"ldap://one/", "ldap://two"});
        g_dir.answers = c.answers;
        Out out;
        EXPECT_EQ(QRT_PVD_LDAP_GetCRL(&f.ctx, out.get(), c.crlType, "dp key", "cn=PVD Test CA", c.dpURL), c.rc);
        EXPECT_EQ(out.bytes(), c.want);
        EXPECT_EQ(f.uris(), c.uris);
        for (auto &call : g_dir.calls) EXPECT_EQ(call.first, c.crlType);
        EXPECT_EQ(last_record().func, c.record);
    }
    Fixture off({"ldap://one/"});
    off.ctx.ldapDisable = 1;
    Out out;
    EXPECT_EQ(QRT_PVD_LDAP_GetCRL(&off.ctx, out.get(), PVD_TYPE_CRL, nullptr, nullptr, dp), QRT_PVD_CRL_NOT_FOUND);
    EXPECT_TRUE(g_dir.calls.empty());
}

}  // namespace
