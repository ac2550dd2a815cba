// The tools' certificate store on certificates made by OpenSSL: layout, serial-named files, the
// key-identifier search, the subject list, deletion, and the failures a caller can meet.
#include <gtest/gtest.h>
#include <openssl/ec.h>
#include <openssl/sha.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "certstorage.h"
#include "ostrel/asn_tree.hpp"
#include "ostrel/openssl_certs.hpp"
#include "ostrel/test_support.hpp"

namespace fs = std::filesystem;
using ostrel::test::OutBin;
using ostrel::test::TempDir;

namespace {

// One key for every certificate: the store never looks at it.
EVP_PKEY *shared_key() {
    static EVP_PKEY *key = EVP_EC_gen("P-256");
    return key;
}

// A certificate "CN=<cn>" issued by the shared key, as DER and as a decoded tree.
struct TestCert {
    std::vector<unsigned char> der;
    ostrel::AsnTree<Certificate> tree{Certificate_PDU};
    std::string ski;  // subject key identifier, lower-case hex

    TestCert(const char *cn, long serial, const char *issuerCn = nullptr, EVP_PKEY *key = shared_key()) {
        X509 *issuer = issuerCn ? ostrel::test::make_cert(shared_key(), issuerCn, nullptr, nullptr, 1, true) : nullptr;
        X509 *x = ostrel::test::make_cert(key, cn, issuer, issuer ? shared_key() : nullptr, serial, true);
        der = ostrel::test::der_of(x);
        const ASN1_OCTET_STRING *id = X509_get0_subject_key_id(x);
        if (id) ski = ostrel::test::to_hex(ASN1_STRING_get0_data(id), static_cast<size_t>(ASN1_STRING_length(id)));
        X509_free(x);
        X509_free(issuer);
        BIN b{static_cast<unsigned>(der.size()), der.data()};
        EXPECT_EQ(tree.decode(&b), 0);
    }
    const Certificate *get() const { return tree.get(); }
};

// The subject directory the store must use: SHA-1 of the DN text in lower-case hex.
std::string subject_dir(const std::string &root, const char *kind, const std::string &dn) {
    unsigned char md[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char *>(dn.data()), dn.size(), md);
    return root + "/" + kind + "/" + ostrel::test::to_hex(md, sizeof md);
}

std::set<std::string> entries(const std::string &dir) {
    std::set<std::string> names;
    for (const auto &e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

TEST(CertStore, SigningAndKeyManagementPairShareOneDirectory) {
    TempDir t;
    TestCert sign("User", 0x10), km("User", 0x11);
    const std::string keyA = "signing key bytes", keyB = "key-management key bytes";
    BIN a{static_cast<unsigned>(keyA.size()), (unsigned char *)keyA.data()};
    BIN b{static_cast<unsigned>(keyB.size()), (unsigned char *)keyB.data()};
    ASSERT_EQ(QRT_PutCertKeyToStorage(t.path().c_str(), 4, sign.get(), &a), 0);
    ASSERT_EQ(QRT_PutCertKeyToStorage(t.path().c_str(), 14, km.get(), &b), 0);

    std::string dir = subject_dir(t.path(), "user", "cn=User");
    EXPECT_EQ(entries(dir), (std::set<std::string>{"cert.der", "pri.key", "kmCert.der", "kmPri.key"}));
    EXPECT_EQ(entries(t.path()), std::set<std::string>{"user"});

    for (auto [type, cert, key] : {std::tuple{4, &sign, &keyA}, std::tuple{14, &km, &keyB}}) {
        OutBin der, k;
        ASSERT_EQ(QRT_GetCertKeyFromStorage(t.path().c_str(), type, "cn=User", &der, &k), 0);
        EXPECT_EQ(der.bytes(), cert->der) << type;
        EXPECT_EQ(std::string(k.b.value, k.b.value + k.b.length), *key) << type;
    }
    // A DN written differently names another directory.
    OutBin der;
    EXPECT_EQ(QRT_GetCertificateFromStorage(t.path().c_str(), 4, "cn=User ", &der), QRT_IO_FILE_NOT_FOUND);

    // A key that cannot be read takes the certificate's buffer with it.
    fs::remove(dir + "/kmPri.key");
    OutBin c2, k2;
    EXPECT_EQ(QRT_GetCertKeyFromStorage(t.path().c_str(), 14, "cn=User", &c2, &k2), QRT_IO_FILE_NOT_FOUND);
    EXPECT_TRUE(c2.empty());
    EXPECT_TRUE(k2.empty());
}

TEST(CertStore, SerialsSideBySideReadAndDeletedOneByOne) {
    TempDir t;
    TestCert first("Issuing CA", 0x1001), second("Issuing CA", 0x2002);
    const char *root = t.path().c_str();
    ASSERT_EQ(QRT_PutCertificateToStorageEx(root, 2, first.get()), 0);
    ASSERT_EQ(QRT_PutCertificateToStorageEx(root, 2, second.get()), 0);
    std::string dir = subject_dir(t.path(), "ca", "cn=Issuing CA");
    EXPECT_EQ(entries(dir), (std::set<std::string>{"cert_1001.der", "cert_2002.der"}));

    OutBin a, b, none;
    ASSERT_EQ(QRT_GetCertificateFromStorageEx(root, 2, "cn=Issuing CA", "1001", &a), 0);
    ASSERT_EQ(QRT_GetCertificateFromStorageEx(root, 2, "cn=Issuing CA", "2002", &b), 0);
    EXPECT_EQ(a.bytes(), first.der);
    EXPECT_EQ(b.bytes(), second.der);
    EXPECT_EQ(QRT_GetCertificateFromStorageEx(root, 2, "cn=Issuing CA", nullptr, &none), QRT_CERTSTORE_NO_SERIAL);
    EXPECT_EQ(QRT_DeleteCertificateFromStorageEx(root, 2, "cn=Issuing CA", nullptr), QRT_CERTSTORE_NO_SERIAL);
    EXPECT_EQ(QRT_DeleteCertificateFromStorageEx(root, 2, "cn=Issuing CA", ""), QRT_CERTSTORE_NO_SERIAL);

    ASSERT_EQ(QRT_DeleteCertificateFromStorageEx(root, 2, "cn=Issuing CA", "1001"), 0);
    EXPECT_EQ(entries(dir), std::set<std::string>{"cert_2002.der"});
    ASSERT_EQ(QRT_DeleteCertificateFromStorageEx(root, 2, "cn=Issuing CA", "2002"), 0);
    EXPECT_FALSE(fs::exists(dir));
    EXPECT_EQ(QRT_DeleteCertificateFromStorageEx(root, 2, "cn=Issuing CA", "2002"), QRT_CERTSTORE_UNLINK_FAILED);

    // The plain writer replaces one "cert.der"; the other types ignore the serial on reading.
    ASSERT_EQ(QRT_PutCertificateToStorage(root, 5, first.get()), 0);
    ASSERT_EQ(QRT_PutCertificateToStorage(root, 5, second.get()), 0);
    OutBin other;
    ASSERT_EQ(QRT_GetCertificateFromStorageEx(root, 5, "cn=Issuing CA", "1001", &other), 0);
    EXPECT_EQ(other.bytes(), second.der);
}

TEST(CertStore, SearchByKeyIdentifierSkipsJunk) {
    TempDir t;
    const char *root = t.path().c_str();
    EVP_PKEY *otherKey = EVP_EC_gen("P-256");
    TestCert older("Root", 0x01), newer("Root", 0x02, "Other Root", otherKey);
    EVP_PKEY_free(otherKey);
    ASSERT_NE(older.ski, "");
    ASSERT_NE(older.ski, newer.ski);
    ASSERT_EQ(QRT_PutCertificateToStorageEx(root, 1, older.get()), 0);
    std::string dir = subject_dir(t.path(), "root", "cn=Root");

    // Without a key identifier: the one certificate file that starts like DER; a file that does
    // not, and a temporary being written, are passed over.
    ostrel::test::write_file(dir + "/cert_text.der", "not DER");
    ostrel::test::write_file(dir + "/.ostrel-tmp-1-1", std::string(1, '\x30') + "half written");
    OutBin any;
    ASSERT_EQ(QRT_GetCertificateFromStorageEx2(root, 1, "cn=Root", nullptr, nullptr, &any), 0);
    EXPECT_EQ(any.bytes(), older.der);

    // With one: junk that starts like DER, a directory and an empty file never match or stop
    // the search.
    ASSERT_EQ(QRT_PutCertificateToStorageEx(root, 1, newer.get()), 0);
    ostrel::test::write_file(dir + "/cert_junk.der", std::string("\x30\x82\xff\xff\x01", 5));
    ostrel::test::write_file(dir + "/cert_empty.der", "");
    fs::create_directory(dir + "/cert_sub.der");
    OutBin a, b, c;
    ASSERT_EQ(QRT_GetCertificateFromStorageEx2(root, 1, "cn=Root", "", older.ski.c_str(), &a), 0);
    EXPECT_EQ(a.bytes(), older.der);
    ASSERT_EQ(QRT_GetCertificateFromStorageEx2(root, 1, "cn=Root", nullptr, newer.ski.c_str(), &b), 0);
    EXPECT_EQ(b.bytes(), newer.der);
    EXPECT_EQ(QRT_GetCertificateFromStorageEx2(root, 1, "cn=Root", nullptr, "00ff", &c), QRT_CERTSTORE_NOT_FOUND);
    EXPECT_TRUE(c.empty());

    // A serial takes the Ex form; other types have no search; a missing subject is no directory.
    OutBin bySerial, server, missing;
    ASSERT_EQ(QRT_GetCertificateFromStorageEx2(root, 1, "cn=Root", "02", "ignored", &bySerial), 0);
    EXPECT_EQ(bySerial.bytes(), newer.der);
    EXPECT_EQ(QRT_GetCertificateFromStorageEx2(root, 3, "cn=Root", nullptr, nullptr, &server),
              QRT_CERTSTORE_UNKNOWN_TYPE);
    EXPECT_EQ(QRT_GetCertificateFromStorageEx2(root, 1, "cn=Nobody", nullptr, nullptr, &missing),
              QRT_CERTSTORE_OPENDIR_FAILED);
}

TEST(CertStore, ListGrowsPastFortyAndSkipsBrokenSubjects) {
    TempDir t;
    const char *root = t.path().c_str();
    std::set<std::string> expected;
    for (int i = 0; i < 45; ++i) {
        std::string cn = "Subject " + std::to_string(i);
        TestCert c(cn.c_str(), 100 + i, "Issuer");
        ASSERT_EQ(QRT_PutCertificateToStorage(root, 5, c.get()), 0);
        expected.insert("cn=" + cn);
    }
    std::string base = t.path() + "/other/";
    fs::create_directories(base + "no-certificate");
    fs::create_directories(base + "empty");
    ostrel::test::write_file(base + "empty/cert.der", "");
    fs::create_directories(base + "garbage");
    ostrel::test::write_file(base + "garbage/cert.der", std::string("\x30\x03\x02\x01\x05", 5));
    fs::create_directories(base + "dir-as-cert/cert.der");
    ostrel::test::write_file(base + "stray-file", "x");

    char **subjects = nullptr, **issuers = nullptr;
    int count = -1;
    ASSERT_EQ(QRT_GetCertificateListFromStorage(root, 5, &subjects, &issuers, &count), 0);
    ASSERT_EQ(count, 45);
    std::set<std::string> got;
    for (int i = 0; i < count; ++i) {
        got.insert(subjects[i]);
        EXPECT_STREQ(issuers[i], "cn=Issuer");
        QRT_free(subjects[i]);
        QRT_free(issuers[i]);
    }
    QRT_free(subjects);
    QRT_free(issuers);
    EXPECT_EQ(got, expected);

    EXPECT_EQ(QRT_GetCertificateListFromStorage(root, 4, &subjects, &issuers, &count), QRT_CERTSTORE_OPENDIR_FAILED);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(subjects, nullptr);
}

TEST(CertStore, FailuresLeaveTheFileSystemAlone) {
    TempDir t;
    TestCert c("User", 7);
    std::string root = t.path() + "/store";
    BIN key{3, (unsigned char *)"key"};
    OutBin der;
    EXPECT_EQ(QRT_PutCertificateToStorage(root.c_str(), 7, c.get()), QRT_CERTSTORE_UNKNOWN_TYPE);
    EXPECT_EQ(QRT_PutCertificateToStorageEx(root.c_str(), 11, c.get()), QRT_CERTSTORE_UNKNOWN_TYPE);
    EXPECT_EQ(QRT_PutCertKeyToStorage(root.c_str(), 0, c.get(), &key), QRT_CERTSTORE_UNKNOWN_TYPE);
    EXPECT_EQ(QRT_GetCertificateFromStorage(root.c_str(), 7, "cn=User", &der), QRT_CERTSTORE_UNKNOWN_TYPE);
    EXPECT_EQ(QRT_DeleteCertificateFromStorage(root.c_str(), 6, "cn=User"), QRT_CERTSTORE_UNKNOWN_TYPE);
    EXPECT_FALSE(fs::exists(root));
    EXPECT_STREQ(getCertTypeName(7), "");
    EXPECT_STREQ(getCertTypeName(13), "server");
    EXPECT_EQ(QRT_PutCertificateToStorage(nullptr, 1, c.get()), QRT_IO_INVALID_INPUT);

    // A store root that is a file: no directory can be made under it.
    ostrel::test::write_file(root, "a file");
    EXPECT_EQ(QRT_PutCertificateToStorage(root.c_str(), 4, c.get()), QRT_CERTSTORE_MKDIR_FAILED);
}

TEST(CertStore, DeleteStopsAtAnEntryItCannotRemove) {
    TempDir t;
    const char *root = t.path().c_str();
    TestCert c("User", 9);
    BIN key{3, (unsigned char *)"key"};
    ASSERT_EQ(QRT_PutCertKeyToStorage(root, 3, c.get(), &key), 0);
    std::string dir = subject_dir(t.path(), "server", "cn=User");
    fs::create_directory(dir + "/sub");
    EXPECT_EQ(QRT_DeleteCertificateFromStorage(root, 3, "cn=User"), QRT_CERTSTORE_UNLINK_FAILED);
    EXPECT_TRUE(fs::is_directory(dir + "/sub"));
    fs::remove(dir + "/sub");
    EXPECT_EQ(QRT_DeleteCertificateFromStorage(root, 3, "cn=User"), 0);
    EXPECT_FALSE(fs::exists(dir));
    EXPECT_EQ(QRT_DeleteCertificateFromStorage(root, 3, "cn=User"), QRT_CERTSTORE_OPENDIR_FAILED);
}

TEST(CertStore, LongRootsUmaskAndCrls) {
    TempDir t;
    // A root of 300 characters: the whole path is used, never a cut one.
    std::string root = t.path();
    while (root.size() < 299) {
        size_t n = std::min<size_t>(60, 299 - root.size());
        root.push_back('/');
        root.append(n, 'r');
    }
    root.resize(300, 'r');
    ASSERT_EQ(root.size(), 300u);
    TestCert c("User", 5);
    mode_t old = umask(027);
    int rc = QRT_PutCertificateToStorage(root.c_str(), 4, c.get());
    umask(old);
    ASSERT_EQ(rc, 0);
    OutBin der;
    ASSERT_EQ(QRT_GetCertificateFromStorage(root.c_str(), 4, "cn=User", &der), 0);
    EXPECT_EQ(der.bytes(), c.der);
    // Directories keep what the umask leaves: none is opened to every user.
    std::string dir = subject_dir(root, "user", "cn=User");
    for (const std::string &d : {root, root + "/user", dir})
        EXPECT_EQ(fs::status(d).permissions() & fs::perms::all, fs::perms(0750)) << d;

    // CRLs lie under the issuer DN given.
    X509_CRL *crl = X509_CRL_new();
    X509_NAME *n = X509_NAME_new();
    X509_NAME_add_entry_by_txt(n, "CN", MBSTRING_ASC, (const unsigned char *)"Issuer", -1, -1, 0);
    X509_CRL_set_issuer_name(crl, n);
    ASN1_TIME *now = ASN1_TIME_set(nullptr, 1700000000);
    X509_CRL_set1_lastUpdate(crl, now);
    ASSERT_GT(X509_CRL_sign(crl, shared_key(), EVP_sha256()), 0);
    auto crlDer = ostrel::test::i2d_bytes([&](unsigned char **p) { return i2d_X509_CRL(crl, p); });
    ASN1_TIME_free(now);
    X509_NAME_free(n);
    X509_CRL_free(crl);
    ostrel::AsnTree<CertificateList> tree(CertificateList_PDU);
    BIN in{static_cast<unsigned>(crlDer.size()), crlDer.data()};
    ASSERT_EQ(tree.decode(&in), 0);
    ASSERT_EQ(QRT_PutCrlToStorage(t.path().c_str(), "cn=Issuer", tree.get()), 0);
    OutBin back;
    ASSERT_EQ(QRT_GetCrlFromStorage(t.path().c_str(), "cn=Issuer", &back), 0);
    EXPECT_EQ(back.bytes(), crlDer);
    EXPECT_TRUE(fs::exists(subject_dir(t.path(), "crl", "cn=Issuer") + "/cert.crl"));
}

}  // namespace
