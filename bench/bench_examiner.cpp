// The validation examiner runs, against OpenSSL on the same three certificates in the same run
// (root, CA, end entity; RSA-2048 with SHA-256; no CRLs):
//   Chain3/Ostrel            QRT_VerifyCertPath of the end entity, root and CA read from the file
//                            store (the validation cache emptied first, as examiner does each
//                            round, so every signature is checked)
//   Chain3/OpenSSL_rehash    X509_verify_cert with a fresh X509_STORE whose lookup is the
//                            `openssl rehash` directory holding the root and the CA
//   Wrapper/Ostrel           the same QRT_VerifyCertPath call
//   Wrapper/PVD_direct       QRT_PVD_VerifyCertPath with the request and parameters the wrapper
//                            builds, made once outside the loop
// After the table: the ratios other / Ostrel (Chain3 above 1: we are faster; Wrapper below 1 by
// the wrapper's share).
#include <benchmark/benchmark.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <cstdio>
#include <string>
#include <vector>

#include "../lib/common/test/ostrel/openssl_certs.hpp"
#include "../lib/common/test/ostrel/test_support.hpp"
#include "bench_ratio.hpp"
#include "ostrel/asn_tree.hpp"
#include "suite_pkc.h"
#include "suite_pvd.h"
#include "validate.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct Fixture {
    X509 *root = nullptr, *ca = nullptr, *user = nullptr;
    Bytes rootDer, caDer, userDer;
    ostrel::test::TempDir dir;
    std::string storePath, hashDir;
    ostrel::AsnTree<Certificate> userTree{Certificate_PDU};
    bool ok = false;
};

BIN bin_of(Bytes &b) { return BIN{static_cast<unsigned>(b.size()), b.data()}; }

// Stores a certificate under its subject's DN text, as porter does.
bool store(const std::string &path, int type, Bytes &der) {
    BIN b = bin_of(der);
    char *dn = nullptr;
    bool ok =
        QRT_ExtractDN(0, &b, 0, &dn) == 0 && dn && QRT_PVD_Store_AddObject(path.c_str(), type, dn, &b, nullptr) == 0;
    QRT_free(dn);
    return ok;
}

void write_pem(const std::string &path, X509 *x) {
    FILE *f = std::fopen(path.c_str(), "w");
    if (!f) return;
    PEM_write_X509(f, x);
    std::fclose(f);
}

Fixture &fixture() {
    static Fixture *f = [] {
        auto *r = new Fixture;
        EVP_PKEY *rootKey = EVP_RSA_gen(2048), *caKey = EVP_RSA_gen(2048), *userKey = EVP_RSA_gen(2048);
        r->root = ostrel::test::make_cert(rootKey, "Bench Root", nullptr, nullptr, 1, true);
        r->ca = ostrel::test::make_cert(caKey, "Bench CA", r->root, rootKey, 2, true);
        r->user = ostrel::test::make_cert(userKey, "Bench User", r->ca, caKey, 3, false);
        EVP_PKEY_free(rootKey);
        EVP_PKEY_free(caKey);
        EVP_PKEY_free(userKey);
        if (!r->root || !r->ca || !r->user) return r;
        r->rootDer = ostrel::test::der_of(r->root);
        r->caDer = ostrel::test::der_of(r->ca);
        r->userDer = ostrel::test::der_of(r->user);
        r->storePath = r->dir / "store";
        r->hashDir = r->dir / "rehash";
        write_pem(r->dir / "root.pem", r->root);
        write_pem(r->dir / "ca.pem", r->ca);
        BIN u = bin_of(r->userDer);
        r->ok =
            store(r->storePath, PVD_TYPE_ROOT, r->rootDer) && store(r->storePath, PVD_TYPE_CA, r->caDer) &&
            r->userTree.decode(&u) == 0 &&
            ostrel::test::run("mkdir -p " + r->hashDir + " && cp " + (r->dir / "root.pem") + " " + (r->dir / "ca.pem") +
                              " " + r->hashDir + " && openssl rehash " + r->hashDir + " >/dev/null 2>&1") == 0;
        return r;
    }();
    return *f;
}

int wrapper_once(Fixture &f) {
    QRT_PVD_Finalize();
    QRT_PVD_Initialize();
    return QRT_VerifyCertPath(f.userTree.get(), "any-policy", f.storePath.c_str(), nullptr, nullptr, nullptr,
                              CERT_VERIFY_CRL, nullptr);
}

void ostrel_wrapper(benchmark::State &st) {
    Fixture &f = fixture();
    if (!f.ok) return st.SkipWithError("fixture");
    int rc = wrapper_once(f);
    if (rc != 0) return st.SkipWithError(("validation failed: " + std::to_string(rc)).c_str());
    for (auto _ : st) benchmark::DoNotOptimize(wrapper_once(f));
}

void pvd_direct(benchmark::State &st) {
    Fixture &f = fixture();
    if (!f.ok) return st.SkipWithError("fixture");
    int flags = 0;
    if (QRT_VerifyCertPath_Flags(f.userTree.get(), CERT_VERIFY_CRL, &flags) != 0) return st.SkipWithError("flags");
    ZQ_PVD_CertPathRequest request{};
    request.tgtCert.encObj = bin_of(f.userDer);
    request.initPolicies = const_cast<char *>("any-policy");
    ZQ_PVD_VerifyParam param{};
    param.flags = flags;
    param.store.storePath = f.storePath.data();
    param.vrfyCB.CB_LDAP_GetObject = CB_LDAP_GetObject;
    auto once = [&] {
        QRT_PVD_Finalize();
        QRT_PVD_Initialize();
        ZQ_PVD_CertPathResult result{};
        int rc = QRT_PVD_VerifyCertPath(&result, &request, &param);
        QRT_PVD_CertPathResult_Reset(&result);
        return rc;
    };
    int rc = once();
    if (rc != 0) return st.SkipWithError(("validation failed: " + std::to_string(rc)).c_str());
    for (auto _ : st) benchmark::DoNotOptimize(once());
}

void openssl_rehash(benchmark::State &st) {
    Fixture &f = fixture();
    if (!f.ok) return st.SkipWithError("fixture");
    auto once = [&] {
        X509_STORE *s = X509_STORE_new();
        X509_LOOKUP *lookup = X509_STORE_add_lookup(s, X509_LOOKUP_hash_dir());
        X509_LOOKUP_add_dir(lookup, f.hashDir.c_str(), X509_FILETYPE_PEM);
        X509_STORE_CTX *ctx = X509_STORE_CTX_new();
        X509_STORE_CTX_init(ctx, s, f.user, nullptr);
        int ok = X509_verify_cert(ctx);
        X509_STORE_CTX_free(ctx);
        X509_STORE_free(s);
        return ok;
    };
    if (once() != 1) return st.SkipWithError("OpenSSL does not verify the chain");
    for (auto _ : st) benchmark::DoNotOptimize(once());
}

}  // namespace

int main(int argc, char **argv) {
    benchmark::RegisterBenchmark("Chain3/Ostrel", ostrel_wrapper);
    benchmark::RegisterBenchmark("Chain3/OpenSSL_rehash", openssl_rehash);
    benchmark::RegisterBenchmark("Wrapper/Ostrel", ostrel_wrapper);
    benchmark::RegisterBenchmark("Wrapper/PVD_direct", pvd_direct);
    return ostrel::bench::run_with_ratios(argc, argv);
}
