// The file store against peers: objects added through the API and through the public handle
// installed as store callbacks land where `sha1sum` of the key text says, and openssl reads every
// file back; directories are created under the umask; the get list's filters and limits; delete;
// the rules of the context wrappers; a reader never sees half a file.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <set>
#include <thread>

#include "pvd_test_util.hpp"

namespace {

using namespace pvd_test;

// "<root>/<kind>/<sha1sum of the key text>", computed by the sha1sum program.
std::string expected_dir(const std::string &root, const std::string &kind, const std::string &key) {
    std::string out;
    EXPECT_EQ(run("printf '%s' '" + key + "' | sha1sum", &out), 0);
    return root + "/" + kind + "/" + out.substr(0, 40);
}

std::string openssl_read(const std::string &cmd) {
    std::string out;
    int rc = run(cmd + " 2>&1", &out);
    EXPECT_EQ(rc, 0) << cmd << "\n" << out;
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

mode_t mode_of(const std::string &path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return 0;
    return st.st_mode & 07777;
}

std::vector<std::string> entries(const std::string &dir) {
    std::vector<std::string> v;
    DIR *d = opendir(dir.c_str());
    if (!d) return v;
    while (dirent *e = readdir(d))
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") v.push_back(e->d_name);
    closedir(d);
    return v;
}

struct Umask {
    mode_t old;
    explicit Umask(mode_t m) : old(umask(m)) {}
    ~Umask() { umask(old); }
};

const char *kCrlKey = "ldap://dir.example:389/cn=CRL1,o=Test";
const char *kCtlKey = "cn=ctl entry,o=Test";

// Store callbacks: the public handle's functions, with a start of the application's own.
int start_store(ZQ_PVD_CertStore *store) {
    store->sessionID = 7;  // whatever the application keeps
    return store->storePath ? 0 : -1;
}

ZQ_PVD_VerifyParam handle_as_callbacks(const std::string &path) {
    ZQ_PVD_VerifyParam p{};
    p.store.storePath = const_cast<char *>(path.c_str());
    p.vrfyCB.CB_Store_Start = start_store;
    p.vrfyCB.CB_Store_GetObject = QRT_PVD_CertStore_GetObject;
    p.vrfyCB.CB_Store_AddObject = QRT_PVD_CertStore_AddObject;
    p.vrfyCB.CB_Store_End = QRT_PVD_CertStore_Close;
    return p;
}

ZQ_PVD_InterObject load(const Bytes &der, int source) {
    ZQ_PVD_InterObject o{};
    BIN b = view(der);
    EXPECT_EQ(QRT_PVD_InterObject_SetCert(&o, &b, 0, source), 0) << trace_text();
    return o;
}

ZQ_PVD_InterObject load_crl(const Bytes &der, int source) {
    ZQ_PVD_InterObject o{};
    BIN b = view(der);
    EXPECT_EQ(QRT_PVD_InterObject_SetCRL(&o, &b, 0, source), 0) << trace_text();
    return o;
}

// Checks what one store root holds: the CA certificate, the CRL and the trust list, each
// where sha1sum puts it and readable by openssl; directories 0755 under umask 022.
void check_layout(const std::string &root, const Bytes &ctl) {
    Pki &pki = Pki::get();
    std::string caDir = expected_dir(root, "ca", pki.ca.dn), crlDir = expected_dir(root, "crl", kCrlKey),
                ctlDir = expected_dir(root, "ctl", kCtlKey);
    EXPECT_EQ(entries(caDir), std::vector<std::string>{"cert_0b02.der"});
    EXPECT_EQ(openssl_read("openssl x509 -inform DER -noout -serial -subject -in " + caDir + "/cert_0b02.der"),
              "serial=0B02\nsubject=CN = PVD Test CA");
    EXPECT_EQ(entries(crlDir), std::vector<std::string>{"cert.crl"});
    EXPECT_EQ(openssl_read("openssl crl -inform DER -noout -issuer -in " + crlDir + "/cert.crl"),
              "issuer=CN = PVD Test CA");
    EXPECT_EQ(entries(ctlDir), std::vector<std::string>{"ctl.der"});
    EXPECT_EQ(file_bytes(ctlDir + "/ctl.der"), ctl);
    for (const std::string &d : {root + "/ca", caDir, root + "/crl", crlDir, ctlDir}) EXPECT_EQ(mode_of(d), 0755u) << d;
    EXPECT_EQ(mode_of(caDir + "/cert_0b02.der"), 0644u);
}

TEST(PvdStore, LayoutMatchesSha1sumAndOpensslReadsItBack) {
    trace_on();
    Umask um(022);
    // the key text is QRT_ExtractRDN's under the certificate library's default options
    ASSERT_STREQ(QRT_PKC_GetOption("dncase"), "lower");
    ASSERT_STREQ(QRT_PKC_GetOption("locale"), "ko_KR-euc");
    Pki &pki = Pki::get();
    ZQ_PVD_InterObject ca = load(pki.ca.der, PVD_SOURCE_LDAP), root = load(pki.root.der, PVD_SOURCE_LDAP),
                       crl = load_crl(pki.crl, PVD_SOURCE_LDAP);
    ASSERT_STREQ(ca.subjectDN, "cn=PVD Test CA");
    ASSERT_EQ(ca.typeID, PVD_TYPE_CA);
    ASSERT_EQ(root.typeID, PVD_TYPE_ROOT);
    Bytes ctl{0x30, 0x03, 0x02, 0x01, 0x07};
    ZQ_PVD_InterObject ctlObj{};
    ctlObj.typeID = PVD_TYPE_CTL;
    ctlObj.encObj = view(ctl);
    ctlObj.subjectDN = const_cast<char *>(kCtlKey);
    ctlObj.source = PVD_SOURCE_LDAP;
    TempDir d;

    // 1. the path functions
    std::string api = d / "api";
    BIN bca = view(pki.ca.der), bcrl = view(pki.crl), bctl = view(ctl);
    ASSERT_EQ(QRT_PVD_Store_AddObject(api.c_str(), PVD_TYPE_CA, ca.subjectDN, &bca, "0b02"), 0) << trace_text();
    ASSERT_EQ(QRT_PVD_Store_AddObject(api.c_str(), PVD_TYPE_CRL, kCrlKey, &bcrl, nullptr), 0);
    ASSERT_EQ(QRT_PVD_Store_AddObject(api.c_str(), PVD_TYPE_CTL, kCtlKey, &bctl, nullptr), 0);
    check_layout(api, ctl);

    // 2. a validation's wrappers over the public handle installed as store callbacks, and over
    // the files directly: the same tree
    for (bool callbacks : {true, false}) {
        SCOPED_TRACE(callbacks ? "callbacks" : "files");
        std::string path = d / (callbacks ? "cb" : "files");
        ZQ_PVD_VerifyParam p = handle_as_callbacks(path);
        if (!callbacks) p.vrfyCB = ZQ_PVD_VerifyCB{};
        ZQ_PVD_CertPathRequest req{};
        ZQ_PVD_Context ctx{};
        ASSERT_EQ(QRT_PVD_InitCTX(&ctx, &req, &p), 0) << trace_text();
        EXPECT_EQ(ctx.useCBStore, callbacks ? 1 : 0);
        EXPECT_EQ(QRT_PVD_Store_AddCert(&ctx, &ca), 0);
        EXPECT_EQ(QRT_PVD_Store_AddCert(&ctx, &root), 0);  // self-signed: never stored
        EXPECT_EQ(QRT_PVD_Store_AddCRL(&ctx, kCrlKey, &crl), 0);
        EXPECT_EQ(QRT_PVD_Store_AddCTL(&ctx, &ctlObj), 0);
        check_layout(path, ctl);
        EXPECT_EQ(entries(path + "/root"), std::vector<std::string>{});
        // and read back through the same wrappers
        ZQ_PVD_BuildCursor cur{};
        Out got, none, gotCrl, gotCtl;
        EXPECT_EQ(QRT_PVD_Store_GetCert(&ctx, &cur, got.get(), ca.subjectDN), 0);
        EXPECT_EQ(got.bytes(), pki.ca.der);
        EXPECT_EQ(QRT_PVD_Store_GetCert(&ctx, &cur, none.get(), ca.subjectDN), QRT_PVD_CERT_NOT_FOUND);
        QRT_PVD_BuildCursor_Reset(&cur);
        EXPECT_EQ(QRT_PVD_Store_GetCRL(&ctx, gotCrl.get(), PVD_TYPE_CRL, kCrlKey), 0);
        EXPECT_EQ(gotCrl.bytes(), pki.crl);
        EXPECT_EQ(QRT_PVD_Store_GetCTL(&ctx, &cur, gotCtl.get(), kCtlKey), 0);
        EXPECT_EQ(gotCtl.bytes(), ctl);
        QRT_PVD_BuildCursor_Reset(&cur);
        QRT_PVD_ResetCTX(&ctx);
    }

    // 3. delete removes the key's directory
    std::string caDir = expected_dir(api, "ca", pki.ca.dn);
    EXPECT_EQ(QRT_PVD_Store_DelObject(api.c_str(), PVD_TYPE_CA, ca.subjectDN), 0);
    EXPECT_NE(access(caDir.c_str(), F_OK), 0);
    EXPECT_EQ(QRT_PVD_Store_DelObject(api.c_str(), PVD_TYPE_CA, ca.subjectDN), -1);
    Out out;
    EXPECT_EQ(QRT_PVD_Store_GetObject(api.c_str(), out.get(), PVD_TYPE_CA, ca.subjectDN), QRT_PVD_CERT_NOT_FOUND);

    // a group-writable umask is honoured as it stands, nothing is widened
    {
        Umask um2(002);
        std::string g = d / "group";
        ASSERT_EQ(QRT_PVD_Store_AddObject(g.c_str(), PVD_TYPE_ROOT, "cn=x", &bca, "01"), 0);
        EXPECT_EQ(mode_of(g + "/root"), 0775u);
    }

    QRT_PVD_InterObject_Reset(&ca);
    QRT_PVD_InterObject_Reset(&root);
    QRT_PVD_InterObject_Reset(&crl);
}

TEST(PvdStore, GetListFiltersAndLimits) {
    trace_on();
    Pki &pki = Pki::get();
    TempDir d;
    std::string path = d / "s";
    const std::string key = "cn=PVD Test CA";
    BIN bca = view(pki.ca.der);
    ASSERT_EQ(QRT_PVD_Store_AddObject(path.c_str(), PVD_TYPE_CA, key.c_str(), &bca, "0b02"), 0);
    std::string dir = expected_dir(path, "ca", key);
    Bytes other{0x30, 0x01, 0x00}, big((1u << 20) + 1, 0x30);
    write_bytes(dir + "/cert_9999.der", other);
    write_bytes(dir + "/old-cert.der.bak", other);                                     // holds "cert" and ".der": read
    write_bytes(dir + "/notes.txt", other);                                            // does not: skipped
    write_bytes(dir + "/cert_big.der", big);                                           // over 1 MiB: skipped
    ASSERT_EQ(symlink("/nonexistent/cert.der", (dir + "/cert_link.der").c_str()), 0);  // unreadable
    ASSERT_EQ(mkdir((dir + "/cert_sub.der").c_str(), 0755), 0);                        // not a file

    // what the store returns is the readable matching entries in directory order
    std::vector<Bytes> want;
    for (const std::string &e : entries(dir)) {
        if (e == "cert_0b02.der") want.push_back(pki.ca.der);
        if (e == "cert_9999.der" || e == "old-cert.der.bak") want.push_back(other);
    }
    List list;
    ASSERT_EQ(QRT_PVD_Store_GetObjectList(path.c_str(), list.get(), PVD_TYPE_CA, key.c_str()), 0);
    EXPECT_EQ(list.values(), want);

    // at most 64 files
    for (int i = 0; i < 70; ++i) write_bytes(dir + "/cert_" + std::to_string(1000 + i) + ".der", other);
    List many;
    ASSERT_EQ(QRT_PVD_Store_GetObjectList(path.c_str(), many.get(), PVD_TYPE_CA, key.c_str()), 0);
    EXPECT_EQ(many.values().size(), 64u);

    // not found per kind, another type, a serial that is no hex
    struct Miss {
        int type, code;
    } misses[] = {{PVD_TYPE_CA, QRT_PVD_CERT_NOT_FOUND},  {PVD_TYPE_ROOT, QRT_PVD_CERT_NOT_FOUND},
                  {PVD_TYPE_CRL, QRT_PVD_CRL_NOT_FOUND},  {PVD_TYPE_ARL, QRT_PVD_CRL_NOT_FOUND},
                  {PVD_TYPE_CTL, QRT_PVD_CTL_NOT_FOUND},  {PVD_TYPE_CERT, QRT_PVD_INTERNAL},
                  {PVD_TYPE_CRL_OTHER, QRT_PVD_INTERNAL}, {PVD_TYPE_OCSP, QRT_PVD_INTERNAL}};
    for (const Miss &m : misses) {
        List l;
        EXPECT_EQ(QRT_PVD_Store_GetObjectList(path.c_str(), l.get(), m.type, "cn=nobody"), m.code) << m.type;
        EXPECT_TRUE(l.values().empty());
    }
    EXPECT_EQ(QRT_PVD_Store_AddObject(path.c_str(), PVD_TYPE_CERT, "cn=x", &bca, "01"), QRT_PVD_INTERNAL);
    EXPECT_EQ(QRT_PVD_Store_AddObject(path.c_str(), PVD_TYPE_CA, "cn=x", &bca, "../../evil"), -1);
    EXPECT_EQ(QRT_PVD_Store_AddObject(path.c_str(), PVD_TYPE_CA, "cn=x", &bca, ""), -1);
    BIN notCert = view(other);
    EXPECT_EQ(QRT_PVD_Store_AddObject(path.c_str(), PVD_TYPE_CA, "cn=x", &notCert, nullptr), -1);
    // a file where a directory must go
    write_bytes(d / "blocked", other);
    EXPECT_EQ(QRT_PVD_Store_AddObject((d / "blocked").c_str(), PVD_TYPE_CA, "cn=x", &bca, "01"), -1);
    EXPECT_EQ(last_record().func, "QRT_PVD_Store_AddObject");

    // the directory helpers
    void *h = nullptr;
    ASSERT_EQ(QRT_PVD_OpenDirectory(&h, dir.c_str()), 0);
    char name[256];
    int n = 0, rc;
    while ((rc = QRT_PVD_ReadDirectory(h, name, sizeof name)) == 0) ++n;
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(n, static_cast<int>(entries(dir).size()) + 2);
    EXPECT_EQ(QRT_PVD_CloseDirectory(h), 0);
    ASSERT_EQ(QRT_PVD_OpenDirectory(&h, dir.c_str()), 0);
    EXPECT_EQ(QRT_PVD_ReadDirectory(h, name, 1), -1);  // no name fits one byte
    QRT_PVD_CloseDirectory(h);
    char *hex = nullptr;
    ASSERT_EQ(QRT_PVD_ObjDN_ToHex(&hex, key.c_str()), 0);
    EXPECT_EQ(dir.substr(dir.size() - 40), hex);
    QRT_free(hex);
    Bytes two{0xab, 0x01};
    BIN bt = view(two);
    ASSERT_EQ(QRT_PVD_BIN_ToHex(&hex, &bt), 0);
    EXPECT_STREQ(hex, "ab01");
    QRT_free(hex);
}

TEST(PvdStore, ContextRules) {
    trace_on();
    Pki &pki = Pki::get();
    TempDir d;
    std::string path = d / "s";
    BIN broot = view(pki.root.der);
    ASSERT_EQ(QRT_PVD_Store_AddObject(path.c_str(), PVD_TYPE_ROOT, pki.root.dn.c_str(), &broot, "0a01"), 0);
    ZQ_PVD_VerifyParam p{};
    p.store.storePath = const_cast<char *>(path.c_str());
    ZQ_PVD_CertPathRequest req{};

    struct Case {
        int disable, distrust;
        int want;
    } cases[] = {{0, 0, 0}, {0, 1, QRT_PVD_CERT_NOT_FOUND}, {1, 0, QRT_PVD_CERT_NOT_FOUND}};
    for (const Case &c : cases) {
        p.store.disable = c.disable;
        p.store.distrustRoot = c.distrust;
        ZQ_PVD_Context ctx{};
        ASSERT_EQ(QRT_PVD_InitCTX(&ctx, &req, &p), 0);
        ZQ_PVD_BuildCursor cur{};
        Out out;
        EXPECT_EQ(QRT_PVD_Store_GetCert(&ctx, &cur, out.get(), pki.root.dn.c_str()), c.want) << c.disable << c.distrust;
        if (!c.want) {
            EXPECT_EQ(out.bytes(), pki.root.der);
        }
        QRT_PVD_BuildCursor_Reset(&cur);
        Out crl;
        EXPECT_EQ(QRT_PVD_Store_GetCRL(&ctx, crl.get(), PVD_TYPE_CRL, kCrlKey), QRT_PVD_CRL_NOT_FOUND);
        // only certificates from the directory are stored, and only when the store is enabled
        ZQ_PVD_InterObject fromStore = load(pki.ca.der, PVD_SOURCE_STORE), fromDir = load(pki.ca.der, PVD_SOURCE_LDAP);
        QRT_PVD_Store_AddCert(&ctx, &fromStore);
        EXPECT_TRUE(entries(path + "/ca").empty());
        QRT_PVD_Store_AddCert(&ctx, &fromDir);
        EXPECT_EQ(entries(path + "/ca").size(), c.disable ? 0u : 1u);
        if (!c.disable) QRT_PVD_Store_DelObject(path.c_str(), PVD_TYPE_CA, fromDir.subjectDN);
        QRT_PVD_InterObject_Reset(&fromStore);
        QRT_PVD_InterObject_Reset(&fromDir);
        QRT_PVD_ResetCTX(&ctx);
    }
    EXPECT_TRUE(trace_records().empty()) << trace_text();
}

// A reader running beside a writer that replaces one file over and over reads a whole version
// each time, never a part of one.
TEST(PvdStore, ReadersNeverSeeHalfAFile) {
    trace_on();
    TempDir d;
    std::string path = d / "s";
    Bytes a(200000, 0xaa), b(300000, 0xbb);
    BIN ba = view(a), bb = view(b);
    ASSERT_EQ(QRT_PVD_Store_AddObject(path.c_str(), PVD_TYPE_CRL, kCrlKey, &ba, nullptr), 0);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 150; ++i)
            QRT_PVD_Store_AddObject(path.c_str(), PVD_TYPE_CRL, kCrlKey, i % 2 ? &ba : &bb, nullptr);
        done = true;
    });
    int reads = 0, bad = 0;
    while (!done) {
        Out out;
        if (QRT_PVD_Store_GetObject(path.c_str(), out.get(), PVD_TYPE_CRL, kCrlKey) != 0) {
            ++bad;
            continue;
        }
        Bytes v = out.bytes();
        if (v != a && v != b) ++bad;
        ++reads;
    }
    writer.join();
    EXPECT_EQ(bad, 0);
    EXPECT_GT(reads, 0);
    // no temporary is left beside the file
    EXPECT_EQ(entries(expected_dir(path, "crl", kCrlKey)), std::vector<std::string>{"cert.crl"});
}

}  // namespace
