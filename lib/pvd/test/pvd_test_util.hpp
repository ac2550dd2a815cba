// Helpers shared by the path-validation tests: byte views, a small PKI made with OpenSSL (a
// self-signed root, a CA under it, an end entity, a CRL), files for the openssl command and the
// trace records a call leaves.
#pragma once

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstring>
#include <string>
#include <vector>

#include "ostrel/openssl_certs.hpp"
#include "ostrel/test_support.hpp"
#include "suite_pkc.h"
#include "suite_pvd_internal.h"

namespace pvd_test {

using Bytes = std::vector<unsigned char>;
using ostrel::test::run;
using ostrel::test::TempDir;
using ostrel::test::trace_field;
using ostrel::test::trace_records;
using ostrel::test::trace_text;
using Out = ostrel::test::OutBin;

inline BIN view(const Bytes &b) { return BIN{static_cast<unsigned>(b.size()), const_cast<unsigned char *>(b.data())}; }
inline Bytes bytes_of(const BIN &b) { return b.value ? Bytes(b.value, b.value + b.length) : Bytes(); }
inline Bytes bytes_of(const std::string &s) { return Bytes(s.begin(), s.end()); }
inline Bytes file_bytes(const std::string &path) { return bytes_of(ostrel::test::read_file(path)); }
inline void write_bytes(const std::string &path, const Bytes &b) {
    ostrel::test::write_file(path, std::string(b.begin(), b.end()));
}

// The values of a BIN list, head first (an empty head gives none).
inline std::vector<Bytes> values_of(const ZQ_BIN_LIST *list) {
    std::vector<Bytes> out;
    for (const ZQ_BIN_LIST *p = list; p; p = p->next)
        if (p->value.value) out.push_back(bytes_of(p->value));
    return out;
}

// A caller's list head node, released at scope exit.
struct List {
    ZQ_BIN_LIST head{};
    ~List() { QRT_BIN_LIST_Reset(&head); }
    ZQ_BIN_LIST *get() { return &head; }
    std::vector<Bytes> values() const { return values_of(&head); }
};

// A working directory for openssl commands: each runs there; the commands that fail and their
// output are kept in log, which stays empty while all succeed.
struct ShellDir {
    TempDir dir;
    std::string log;
    bool sh(const std::string &cmd) {
        std::string out;
        int rc = run("cd " + dir.path() + " && " + cmd + " 2>&1", &out);
        if (rc != 0) log += cmd + "\n" + out;
        return rc == 0;
    }
};

// A key, its certificate and the certificate's DER.
struct Party {
    EVP_PKEY *key = nullptr;
    X509 *cert = nullptr;
    Bytes der;
    std::string dn;  // our DN text of its subject
};

// root (self-signed CA) -> ca -> ee, each with a distinct serial, and a CRL the CA signed.
struct Pki {
    Party root, ca, ee;
    Bytes crl;

    static Pki &get() {
        static Pki *p = [] {
            auto *r = new Pki;
            r->make(r->root, "PVD Test Root", nullptr, 0x0a01, true);
            r->make(r->ca, "PVD Test CA", &r->root, 0x0b02, true);
            r->make(r->ee, "PVD Test EE", &r->ca, 0x0c03, false);
            r->crl = make_crl(r->ca, 3600);
            return r;
        }();
        return *p;
    }

    static Bytes make_crl(const Party &issuer, long nextUpdateSeconds) {
        X509_CRL *c = X509_CRL_new();
        X509_CRL_set_version(c, 1);
        X509_CRL_set_issuer_name(c, X509_get_subject_name(issuer.cert));
        ASN1_TIME *t = X509_gmtime_adj(nullptr, -60);
        X509_CRL_set1_lastUpdate(c, t);
        X509_gmtime_adj(t, nextUpdateSeconds);
        if (nextUpdateSeconds) X509_CRL_set1_nextUpdate(c, t);  // 0: a CRL without nextUpdate
        ASN1_TIME_free(t);
        X509_CRL_sign(c, issuer.key, EVP_sha256());
        Bytes der = ostrel::test::i2d_bytes([&](unsigned char **q) { return i2d_X509_CRL(c, q); });
        X509_CRL_free(c);
        return der;
    }

  private:
    void make(Party &p, const char *cn, Party *issuer, long serial, bool isCA) {
        p.key = EVP_EC_gen("P-256");
        p.cert = ostrel::test::make_cert(p.key, cn, issuer ? issuer->cert : nullptr, issuer ? issuer->key : nullptr,
                                         serial, isCA);
        p.der = ostrel::test::der_of(p.cert);
        p.dn = std::string("cn=") + cn;
    }
};

inline void write_pem(const std::string &path, X509 *cert) {
    BIO *b = BIO_new_file(path.c_str(), "w");
    PEM_write_bio_X509(b, cert);
    BIO_free(b);
}

inline void write_key(const std::string &path, EVP_PKEY *key) {
    BIO *b = BIO_new_file(path.c_str(), "w");
    PEM_write_bio_PrivateKey(b, key, nullptr, nullptr, 0, nullptr, nullptr);
    BIO_free(b);
}

// A trust list described for `openssl asn1parse -genconf` (genconf), signed by `openssl cms` with
// the trust-list content type under signer's certificate and key, in dir: the signed DER (empty,
// with a test failure, when openssl fails).
inline Bytes make_signed_ctl(const std::string &dir, const Party &signer, const std::string &genconf) {
    write_pem(dir + "/signer.pem", signer.cert);
    write_key(dir + "/signer.key", signer.key);
    ostrel::test::write_file(dir + "/ctl.cnf", genconf);
    std::string out;
    int rc = run("cd " + dir +
                     " && openssl asn1parse -genconf ctl.cnf -out ctl.der -noout && "
                     "openssl cms -sign -nodetach -binary -econtent_type 1.3.6.1.4.1.311.10.1 -in ctl.der "
                     "-inform DER -signer signer.pem -inkey signer.key -outform DER -out signed.der 2>&1",
                 &out);
    EXPECT_EQ(rc, 0) << out;
    return rc == 0 ? file_bytes(dir + "/signed.der") : Bytes();
}

// A CertificateTrustList for make_signed_ctl: one subject (hex id), hashed with alg, for usage,
// valid from thisUpdate to nextUpdate (genconf values), with an explicit version when given.
inline std::string ctl_conf(const std::string &alg, const std::string &id,
                            const std::string &usage = "1.2.410.200004.8.1.1.1",
                            const std::string &thisUpdate = "UTCTIME:200101000000Z",
                            const std::string &nextUpdate = "GENTIME:20991231235959Z",
                            const std::string &version = "") {
    return "asn1 = SEQUENCE:ctl\n[ctl]\n" + (version.empty() ? "" : "version = EXP:0,INTEGER:" + version + "\n") +
           "usage = SEQUENCE:usage\nthisUpdate = " + thisUpdate + "\nnextUpdate = " + nextUpdate +
           "\nalg = SEQUENCE:alg\nsubjects = SEQUENCE:subjects\n[usage]\nu1 = OID:" + usage +
           "\n[alg]\na = OID:" + alg +
           "\np = NULL\n[subjects]\ns1 = SEQUENCE:subject1\n[subject1]\nid = FORMAT:HEX,OCTETSTRING:" + id + "\n";
}

// An object record over bytes the test owns (encObj is a view: never reset these).
inline ZQ_PVD_ObjectList object_view(const Bytes &b, int typeID = 0) {
    ZQ_PVD_ObjectList n{};
    n.value.typeID = typeID;
    n.value.encObj = view(b);
    return n;
}

// The function and source file of the last trace record ("" when there is none); empties it.
struct LastRecord {
    std::string func, file;
    int code = 0;
};
inline LastRecord last_record() {
    auto recs = trace_records();
    LastRecord r;
    if (recs.empty()) return r;
    r.func = trace_field(recs.back(), 2);
    r.code = std::atoi(trace_field(recs.back(), 3).c_str());
    r.file = trace_field(recs.back(), 5);
    return r;
}

// Starts the trace once per process.
inline void trace_on() {
    static bool once = [] { return QRT_Trace_Initialize() == 0; }();
    (void)once;
    QRT_Trace_ClearError();
}

}  // namespace pvd_test
