// Path validation against OpenSSL's X509_verify_cert on the same objects in the same run. One PKI
// made once: a self-signed root -> CA -> end entity, RSA-2048 keys, SHA-256 signatures, DER.
//   Cold/Ostrel          QRT_PVD_VerifyCertPath of the end entity with the root in trustCerts and
//                        the CA in otherCerts; no CRL, no OCSP, cache, store and directory off.
//                        Loads the lists, finds both issuers in them and verifies three signatures
//                        (the end entity, the CA, the root's own).
//   Cold/OpenSSL_verify  d2i_X509 of the three, a new X509_STORE holding the root, the CA as the
//                        untrusted chain, X509_verify_cert with X509_V_FLAG_CHECK_SS_SIGNATURE (so
//                        the root's own signature is checked too); everything freed each time.
//   ColdCRL/...          The same with revocation: a CRL of the root covering the CA and one of
//                        the CA covering the end entity, each listing a few other serials. Ours:
//                        both in otherCRLs (found by issuer name), OCSP off. OpenSSL: both parsed
//                        and added to the store, X509_V_FLAG_CRL_CHECK | X509_V_FLAG_CRL_CHECK_ALL.
//   Warm/Ostrel          The CA and the root come from the process-wide cache: one validation
//                        finds them in a file store and, once verified, the cache keeps them;
//                        the request then holds only the end entity (no lists, store and directory
//                        off). A certificate taken from the cache is not verified again and a root
//                        found there is a trust anchor, so each call decodes the three and checks
//                        one signature, the end entity's.
//   Warm/OpenSSL_store   An X509_STORE holding the root and the CA, built once; each call parses
//                        the end entity and runs X509_verify_cert, which still checks two
//                        signatures (the end entity's and the CA's).
//   BigCRL/...           ColdCRL with the CA's CRL replaced by one of 10 000 entries (the end
//                        entity not among them); both CRLs parsed on every call by both sides.
// Every row carries "allocs": the heap allocations (malloc, calloc, realloc, which new and
// OpenSSL's allocator reach as well) of one call after a warm-up call, counted by the malloc
// family this program defines over glibc's. The check of each setup (the path, the CRL used for
// each certificate, that the cache really supplies the issuers) runs once when the PKI is made.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <cstddef>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "../lib/common/test/ostrel/openssl_certs.hpp"
#include "../lib/common/test/ostrel/test_support.hpp"
#include "suite_pvd.h"
#include "suite_pvd_internal.h"

// ---- allocation counting ----
// Only in builds without a sanitizer, which brings its own allocator.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define PVD_BENCH_COUNT_ALLOCS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define PVD_BENCH_COUNT_ALLOCS 0
#endif
#endif
#ifndef PVD_BENCH_COUNT_ALLOCS
#define PVD_BENCH_COUNT_ALLOCS 1
#endif

namespace {
thread_local bool t_counting = false;
thread_local long t_allocs = 0;
}  // namespace

#if PVD_BENCH_COUNT_ALLOCS
extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void __libc_free(void *);

void *malloc(size_t n) noexcept {
    if (t_counting) ++t_allocs;
    return __libc_malloc(n);
}
void *calloc(size_t count, size_t n) noexcept {
    if (t_counting) ++t_allocs;
    return __libc_calloc(count, n);
}
void *realloc(void *p, size_t n) noexcept {
    if (t_counting) ++t_allocs;
    return __libc_realloc(p, n);
}
void free(void *p) noexcept { __libc_free(p); }
}
#endif

namespace {

using Bytes = std::vector<unsigned char>;
using ostrel::test::i2d_bytes;

// The allocations of one call of f, -1 when this build does not count.
template <class F>
long allocations(F &&f) {
    if (!PVD_BENCH_COUNT_ALLOCS) return -1;
    t_allocs = 0;
    t_counting = true;
    f();
    t_counting = false;
    return t_allocs;
}

BIN view(const Bytes &b) { return BIN{static_cast<unsigned>(b.size()), const_cast<unsigned char *>(b.data())}; }

bool same(const BIN &b, const Bytes &want) {
    return b.length == want.size() && b.value && std::memcmp(b.value, want.data(), want.size()) == 0;
}

void add_ext(X509_CRL *crl, X509 *issuer, int nid, const char *value) {
    X509V3_CTX v3;
    X509V3_set_ctx_nodb(&v3);
    X509V3_set_ctx(&v3, issuer, nullptr, nullptr, crl, 0);
    X509_EXTENSION *ext = X509V3_EXT_conf_nid(nullptr, &v3, nid, value);
    if (ext) X509_CRL_add_ext(crl, ext, -1);
    X509_EXTENSION_free(ext);
}

// A v2 CRL of issuer, current for a day, with an authority key identifier and `revoked` entries
// with serials from 0x100000 up (none of them on the path).
Bytes make_crl(X509 *issuer, EVP_PKEY *key, int revoked) {
    X509_CRL *c = X509_CRL_new();
    X509_CRL_set_version(c, 1);
    X509_CRL_set_issuer_name(c, X509_get_subject_name(issuer));
    ASN1_TIME *t = X509_gmtime_adj(nullptr, -600);
    X509_CRL_set1_lastUpdate(c, t);
    X509_gmtime_adj(t, 86400);
    X509_CRL_set1_nextUpdate(c, t);
    X509_gmtime_adj(t, -86400);
    ASN1_INTEGER *serial = ASN1_INTEGER_new();
    for (int i = 0; i < revoked; ++i) {
        X509_REVOKED *r = X509_REVOKED_new();
        ASN1_INTEGER_set(serial, 0x100000 + i);
        X509_REVOKED_set_serialNumber(r, serial);
        X509_REVOKED_set_revocationDate(r, t);
        X509_CRL_add0_revoked(c, r);
    }
    ASN1_INTEGER_free(serial);
    ASN1_TIME_free(t);
    add_ext(c, issuer, NID_authority_key_identifier, "keyid");
    add_ext(c, issuer, NID_crl_number, "1");
    X509_CRL_sort(c);
    Bytes der;
    if (X509_CRL_sign(c, key, EVP_sha256()) > 0) der = i2d_bytes([&](unsigned char **q) { return i2d_X509_CRL(c, q); });
    X509_CRL_free(c);
    return der;
}

// One request over the fixture's bytes; the list nodes are views (never reset).
struct Request {
    ZQ_PVD_ObjectList trust{}, other{}, crls[2]{};
    ZQ_PVD_CertPathRequest req{};
    ZQ_PVD_VerifyParam param{};

    Request(const Bytes &ee, const Bytes *root, const Bytes *ca, const Bytes *crlA, const Bytes *crlB, int flags,
            time_t t) {
        req.tgtCert.encObj = view(ee);
        req.vrfyTime = t;
        if (root) {
            trust.value = ZQ_PVD_Object{PVD_TYPE_ROOT, view(*root), nullptr};
            req.trustCerts = &trust;
        }
        if (ca) {
            other.value = ZQ_PVD_Object{PVD_TYPE_CA, view(*ca), nullptr};
            req.otherCerts = &other;
        }
        if (crlA) {
            crls[0].value = ZQ_PVD_Object{PVD_TYPE_CRL, view(*crlA), nullptr};
            req.otherCRLs = &crls[0];
        }
        if (crlB) {
            crls[1].value = ZQ_PVD_Object{PVD_TYPE_CRL, view(*crlB), nullptr};
            crls[0].next = &crls[1];
        }
        param.flags = flags;
        param.cache.disable = 1;
        param.store.disable = 1;
        param.ldap.disable = 1;
    }
    Request(const Request &) = delete;
    Request &operator=(const Request &) = delete;

    // One validation; *keep (optional) receives the result, else it is released here.
    int run(ZQ_PVD_CertPathResult *keep = nullptr) {
        ZQ_PVD_CertPathResult r{};
        int rc = QRT_PVD_VerifyCertPath(&r, &req, &param);
        if (keep)
            *keep = r;
        else
            QRT_PVD_CertPathResult_Reset(&r);
        return rc;
    }
};

const ZQ_PVD_ObjectList *nth(const ZQ_PVD_ObjectList *l, int n) {
    for (; l && n > 0; --n) l = l->next;
    return l;
}

int length(const ZQ_PVD_ObjectList *l) {
    int n = 0;
    for (; l; l = l->next) ++n;
    return n;
}

// The subject DN text the validation keys the cache and the store with.
std::string subject_key(const Bytes &der) {
    ZQ_PVD_InterObject o{};
    BIN b = view(der);
    std::string key;
    if (QRT_PVD_InterObject_SetCert(&o, &b, 0, PVD_SOURCE_INPUT) == 0 && o.subjectDN) key = o.subjectDN;
    QRT_PVD_InterObject_Reset(&o);
    return key;
}

struct Fixture {
    EVP_PKEY *rootKey = nullptr, *caKey = nullptr, *eeKey = nullptr;
    X509 *root = nullptr, *ca = nullptr, *ee = nullptr;
    Bytes rootDer, caDer, eeDer, rootCrl, caCrl, bigCrl;
    time_t now = 0;
    X509_STORE *warmStore = nullptr;
    std::string error;  // why the setup is unusable ("" when it is)

    void fail(const std::string &why) {
        if (error.empty()) error = why;
    }
};

bool openssl_verify(const Fixture &f, const std::vector<const Bytes *> &crls, unsigned long flags);

// Ours, cold, with or without CRLs, as the benchmarks run it.
Request *cold_request(const Fixture &f, const Bytes *crlA, const Bytes *crlB) {
    const int flags = crlA ? PVD_FLAG_NO_OCSP : PVD_FLAG_NO_CRL | PVD_FLAG_NO_OCSP;
    return new Request(f.eeDer, &f.rootDer, &f.caDer, crlA, crlB, flags, f.now);
}

Request *warm_request(const Fixture &f) {
    auto *r = new Request(f.eeDer, nullptr, nullptr, nullptr, nullptr, PVD_FLAG_NO_CRL | PVD_FLAG_NO_OCSP, f.now);
    r->param.cache.disable = 0;
    return r;
}

void check_cold(Fixture &f) {
    Request *r = cold_request(f, nullptr, nullptr);
    ZQ_PVD_CertPathResult res{};
    int rc = r->run(&res);
    if (rc != 0)
        f.fail("Cold: validation failed, " + std::to_string(rc));
    else if (length(res.certPath) != 3 || !same(nth(res.certPath, 2)->value.encObj, f.rootDer))
        f.fail("Cold: unexpected path");
    QRT_PVD_CertPathResult_Reset(&res);
    delete r;
    if (!openssl_verify(f, {}, X509_V_FLAG_CHECK_SS_SIGNATURE)) f.fail("Cold: OpenSSL rejects the path");
    // the signatures are really checked: a damaged end-entity signature fails
    Bytes bad = f.eeDer;
    bad.back() ^= 0x01;
    r = new Request(bad, &f.rootDer, &f.caDer, nullptr, nullptr, PVD_FLAG_NO_CRL | PVD_FLAG_NO_OCSP, f.now);
    if (r->run() == 0) f.fail("Cold: a bad signature passes");
    delete r;
}

// Both CRLs must be the evidence: the CA's for the end entity, the root's for the CA.
void check_crls(Fixture &f, const char *family, const Bytes &eeCrl) {
    Request *r = cold_request(f, &f.rootCrl, &eeCrl);
    ZQ_PVD_CertPathResult res{};
    int rc = r->run(&res);
    const std::string name(family);
    if (rc != 0) {
        f.fail(name + ": validation failed, " + std::to_string(rc));
    } else {
        const ZQ_PVD_ObjectList *e0 = nth(res.revInfos, 0), *e1 = nth(res.revInfos, 1);
        if (!e0 || !e1 || e0->value.typeID != PVD_TYPE_CRL || !same(e0->value.encObj, eeCrl) ||
            e1->value.typeID != PVD_TYPE_CRL || !same(e1->value.encObj, f.rootCrl))
            f.fail(name + ": the CRLs were not both used");
    }
    QRT_PVD_CertPathResult_Reset(&res);
    delete r;
    // without the end entity's CRL the validation must fail: revocation is really checked
    r = cold_request(f, &f.rootCrl, nullptr);
    if (r->run() == 0) f.fail(name + ": passes without the end entity's CRL");
    delete r;
    if (!openssl_verify(f, {&f.rootCrl, &eeCrl},
                        X509_V_FLAG_CHECK_SS_SIGNATURE | X509_V_FLAG_CRL_CHECK | X509_V_FLAG_CRL_CHECK_ALL))
        f.fail(name + ": OpenSSL rejects the path");
}

// One validation through a file store teaches the cache the CA and the root; afterwards the
// end entity alone validates, and only because of the cache.
void prime_cache(Fixture &f) {
    const std::string caKey = subject_key(f.caDer), rootKey = subject_key(f.rootDer);
    if (caKey.empty() || rootKey.empty()) return f.fail("Warm: no DN text");
    Request *r = warm_request(f);
    if (r->run() == 0) f.fail("Warm: validates before the cache is primed");
    {
        ostrel::test::TempDir dir;
        std::string path = dir / "store";
        BIN ca = view(f.caDer), root = view(f.rootDer);
        if (QRT_PVD_Store_AddObject(path.c_str(), PVD_TYPE_CA, caKey.c_str(), &ca, nullptr) != 0 ||
            QRT_PVD_Store_AddObject(path.c_str(), PVD_TYPE_ROOT, rootKey.c_str(), &root, nullptr) != 0)
            f.fail("Warm: store add failed");
        r->param.store.disable = 0;
        r->param.store.storePath = path.data();
        int rc = r->run();
        if (rc != 0) f.fail("Warm: validation through the store failed, " + std::to_string(rc));
        r->param.store.disable = 1;
        r->param.store.storePath = nullptr;
    }
    BIN out{0, nullptr};
    if (QRT_PVD_Cache_GetObject(&out, PVD_TYPE_CA, caKey.c_str()) != 0 || !same(out, f.caDer))
        f.fail("Warm: the CA is not cached");
    QRT_BIN_Reset(&out);
    if (QRT_PVD_Cache_GetObject(&out, PVD_TYPE_ROOT, rootKey.c_str()) != 0 || !same(out, f.rootDer))
        f.fail("Warm: the root is not cached");
    QRT_BIN_Reset(&out);
    ZQ_PVD_CertPathResult res{};
    int rc = r->run(&res);
    if (rc != 0 || length(res.certPath) != 3) f.fail("Warm: cached validation failed, " + std::to_string(rc));
    QRT_PVD_CertPathResult_Reset(&res);
    delete r;
    // the end entity's signature is still checked against the cached CA
    Bytes bad = f.eeDer;
    bad.back() ^= 0x01;
    r = new Request(bad, nullptr, nullptr, nullptr, nullptr, PVD_FLAG_NO_CRL | PVD_FLAG_NO_OCSP, f.now);
    r->param.cache.disable = 0;
    if (r->run() == 0) f.fail("Warm: a bad signature passes");
    delete r;

    f.warmStore = X509_STORE_new();
    X509_STORE_add_cert(f.warmStore, f.root);
    X509_STORE_add_cert(f.warmStore, f.ca);
}

Fixture &fixture() {
    static Fixture *f = [] {
        auto *r = new Fixture;
        r->now = std::time(nullptr);
        r->rootKey = EVP_RSA_gen(2048);
        r->caKey = EVP_RSA_gen(2048);
        r->eeKey = EVP_RSA_gen(2048);
        if (!r->rootKey || !r->caKey || !r->eeKey) {
            r->fail("key generation failed");
            return r;
        }
        using ostrel::test::make_cert;
        r->root = make_cert(r->rootKey, "Ostrel Bench Path Root", nullptr, nullptr, 1, true);
        r->ca = r->root ? make_cert(r->caKey, "Ostrel Bench Path CA", r->root, r->rootKey, 2, true) : nullptr;
        r->ee = r->ca ? make_cert(r->eeKey, "Ostrel Bench Path EE", r->ca, r->caKey, 3, false) : nullptr;
        if (!r->ee) {
            r->fail("certificate creation failed");
            return r;
        }
        r->rootDer = ostrel::test::der_of(r->root);
        r->caDer = ostrel::test::der_of(r->ca);
        r->eeDer = ostrel::test::der_of(r->ee);
        r->rootCrl = make_crl(r->root, r->rootKey, 3);
        r->caCrl = make_crl(r->ca, r->caKey, 5);
        r->bigCrl = make_crl(r->ca, r->caKey, 10000);
        if (r->rootCrl.empty() || r->caCrl.empty() || r->bigCrl.empty()) {
            r->fail("CRL creation failed");
            return r;
        }
        check_cold(*r);
        check_crls(*r, "ColdCRL", r->caCrl);
        check_crls(*r, "BigCRL", r->bigCrl);
        prime_cache(*r);
        return r;
    }();
    return *f;
}

X509 *parse_cert(const Bytes &b) {
    const unsigned char *p = b.data();
    return d2i_X509(nullptr, &p, static_cast<long>(b.size()));
}

// OpenSSL, cold: parse everything, a new store with the root (and the CRLs), verify, free.
bool openssl_verify(const Fixture &f, const std::vector<const Bytes *> &crls, unsigned long flags) {
    X509 *ee = parse_cert(f.eeDer), *ca = parse_cert(f.caDer), *root = parse_cert(f.rootDer);
    X509_STORE *store = X509_STORE_new();
    X509_STORE_add_cert(store, root);
    for (const Bytes *c : crls) {
        const unsigned char *p = c->data();
        X509_CRL *crl = d2i_X509_CRL(nullptr, &p, static_cast<long>(c->size()));
        X509_STORE_add_crl(store, crl);
        X509_CRL_free(crl);
    }
    STACK_OF(X509) *untrusted = sk_X509_new_null();
    sk_X509_push(untrusted, ca);
    X509_STORE_CTX *ctx = X509_STORE_CTX_new();
    bool ok = X509_STORE_CTX_init(ctx, store, ee, untrusted) == 1;
    if (ok) {
        X509_STORE_CTX_set_flags(ctx, flags);
        X509_STORE_CTX_set_time(ctx, 0, f.now);
        ok = X509_verify_cert(ctx) == 1;
    }
    X509_STORE_CTX_free(ctx);
    sk_X509_free(untrusted);
    X509_STORE_free(store);
    X509_free(root);
    X509_free(ca);
    X509_free(ee);
    return ok;
}

bool openssl_warm(const Fixture &f) {
    X509 *ee = parse_cert(f.eeDer);
    X509_STORE_CTX *ctx = X509_STORE_CTX_new();
    bool ok = X509_STORE_CTX_init(ctx, f.warmStore, ee, nullptr) == 1;
    if (ok) {
        X509_STORE_CTX_set_time(ctx, 0, f.now);
        ok = X509_verify_cert(ctx) == 1;
    }
    X509_STORE_CTX_free(ctx);
    X509_free(ee);
    return ok;
}

// Runs one call untimed, counts the allocations of a second, then times the loop.
template <class F>
void measure(benchmark::State &st, F &&once) {
    Fixture &f = fixture();
    if (!f.error.empty()) {
        st.SkipWithError(f.error.c_str());
        return;
    }
    bool ok = once();
    long n = allocations([&] { ok = once() && ok; });
    if (!ok) {
        st.SkipWithError("validation failed");
        return;
    }
    for (auto _ : st)
        if (!once()) {
            st.SkipWithError("validation failed");
            break;
        }
    if (n >= 0) st.counters["allocs"] = static_cast<double>(n);
}

void cold_ostrel(benchmark::State &st) {
    Fixture &f = fixture();
    Request *r = f.error.empty() ? cold_request(f, nullptr, nullptr) : nullptr;
    measure(st, [&] { return r->run() == 0; });
    delete r;
}

void cold_openssl(benchmark::State &st) {
    const Fixture &f = fixture();
    measure(st, [&] { return openssl_verify(f, {}, X509_V_FLAG_CHECK_SS_SIGNATURE); });
}

void coldcrl_ostrel(benchmark::State &st) {
    Fixture &f = fixture();
    Request *r = f.error.empty() ? cold_request(f, &f.rootCrl, &f.caCrl) : nullptr;
    measure(st, [&] { return r->run() == 0; });
    delete r;
}

constexpr unsigned long kCrlFlags = X509_V_FLAG_CHECK_SS_SIGNATURE | X509_V_FLAG_CRL_CHECK | X509_V_FLAG_CRL_CHECK_ALL;

void coldcrl_openssl(benchmark::State &st) {
    const Fixture &f = fixture();
    measure(st, [&] { return openssl_verify(f, {&f.rootCrl, &f.caCrl}, kCrlFlags); });
}

void warm_ostrel(benchmark::State &st) {
    Fixture &f = fixture();
    Request *r = f.error.empty() ? warm_request(f) : nullptr;
    measure(st, [&] { return r->run() == 0; });
    delete r;
}

void warm_openssl(benchmark::State &st) {
    const Fixture &f = fixture();
    measure(st, [&] { return openssl_warm(f); });
}

void bigcrl_ostrel(benchmark::State &st) {
    Fixture &f = fixture();
    Request *r = f.error.empty() ? cold_request(f, &f.rootCrl, &f.bigCrl) : nullptr;
    measure(st, [&] { return r->run() == 0; });
    delete r;
}

void bigcrl_openssl(benchmark::State &st) {
    const Fixture &f = fixture();
    measure(st, [&] { return openssl_verify(f, {&f.rootCrl, &f.bigCrl}, kCrlFlags); });
}

}  // namespace

BENCHMARK(cold_ostrel)->Name("Cold/Ostrel")->Unit(benchmark::kMicrosecond);
BENCHMARK(cold_openssl)->Name("Cold/OpenSSL_verify")->Unit(benchmark::kMicrosecond);
BENCHMARK(coldcrl_ostrel)->Name("ColdCRL/Ostrel")->Unit(benchmark::kMicrosecond);
BENCHMARK(coldcrl_openssl)->Name("ColdCRL/OpenSSL_verify")->Unit(benchmark::kMicrosecond);
BENCHMARK(warm_ostrel)->Name("Warm/Ostrel")->Unit(benchmark::kMicrosecond);
BENCHMARK(warm_openssl)->Name("Warm/OpenSSL_store")->Unit(benchmark::kMicrosecond);
BENCHMARK(bigcrl_ostrel)->Name("BigCRL/Ostrel")->Unit(benchmark::kMicrosecond);
BENCHMARK(bigcrl_openssl)->Name("BigCRL/OpenSSL_verify")->Unit(benchmark::kMicrosecond);
