// The OCSP client's two hot paths against OpenSSL in the same run, on objects made here with
// OpenSSL (an RSA-2048 CA with an end-entity certificate; a response for it signed by the CA
// with SHA-256, the CA certificate embedded):
//   Request/Ostrel         QRT_OCSP_EncodeRequest of the certificate's DER (CertID, service
//                          locator, 20-byte nonce)
//   Request/OpenSSL        d2i_X509 of certificate and issuer, OCSP_cert_to_id,
//                          OCSP_request_add0_id, OCSP_request_add1_nonce, i2d_OCSP_REQUEST
//   ResponseCheck/Ostrel   QRT_OCSP_DecodeResponseEx (signature checked, the CA as serverCert)
//   ResponseCheck/OpenSSL  d2i_OCSP_RESPONSE, OCSP_response_get1_basic,
//                          OCSP_basic_verify(..., OCSP_NOVERIFY), OCSP_resp_find_status
// The run ends with the ratio OpenSSL CPU time / ours (above 1: we are faster).
#include <benchmark/benchmark.h>
#include <openssl/ocsp.h>
#include <openssl/x509v3.h>

#include <vector>

#include "../lib/common/test/ostrel/openssl_certs.hpp"
#include "bench_ratio.hpp"
#include "suite_ocsp.h"

namespace {

using Bytes = std::vector<unsigned char>;
using ostrel::test::der_of;
using ostrel::test::i2d_bytes;

struct Fixture {
    Bytes ca, leaf, response;
};

Fixture &fixture() {
    static Fixture f = [] {
        Fixture r;
        EVP_PKEY *caKey = EVP_RSA_gen(2048), *key = EVP_RSA_gen(2048);
        X509 *ca = ostrel::test::make_cert(caKey, "Bench OCSP CA", nullptr, nullptr, 1, true);
        X509 *leaf = ostrel::test::make_cert(key, "Bench leaf", ca, caKey, 2, false);
        // the service locator comes from authorityInfoAccess
        X509V3_CTX ctx;
        X509V3_set_ctx(&ctx, ca, leaf, nullptr, nullptr, 0);
        X509_EXTENSION *aia = X509V3_EXT_conf_nid(nullptr, &ctx, NID_info_access, "OCSP;URI:http://ocsp.example/");
        X509_add_ext(leaf, aia, -1);
        X509_EXTENSION_free(aia);
        X509_sign(leaf, caKey, EVP_sha256());
        r.ca = der_of(ca);
        r.leaf = der_of(leaf);

        OCSP_BASICRESP *bs = OCSP_BASICRESP_new();
        ASN1_TIME *now = X509_gmtime_adj(nullptr, 0);
        OCSP_basic_add1_status(bs, OCSP_cert_to_id(EVP_sha1(), leaf, ca), V_OCSP_CERTSTATUS_GOOD, 0, nullptr, now,
                               nullptr);
        OCSP_basic_sign(bs, ca, caKey, EVP_sha256(), nullptr, 0);
        OCSP_RESPONSE *resp = OCSP_response_create(OCSP_RESPONSE_STATUS_SUCCESSFUL, bs);
        r.response = i2d_bytes([&](unsigned char **p) { return i2d_OCSP_RESPONSE(resp, p); });
        OCSP_RESPONSE_free(resp);
        OCSP_BASICRESP_free(bs);
        ASN1_TIME_free(now);
        X509_free(leaf);
        X509_free(ca);
        EVP_PKEY_free(key);
        EVP_PKEY_free(caKey);
        return r;
    }();
    return f;
}

BIN bin(Bytes &b) { return BIN{static_cast<unsigned>(b.size()), b.data()}; }

void request_ostrel(benchmark::State &st) {
    Fixture &f = fixture();
    ZQ_OCSP_Request req{};
    BIN leaf = bin(f.leaf);
    QRT_BIN_LIST_Add(&req.reqCertList, &leaf);
    for (auto _ : st) {
        BIN out{0, nullptr};
        if (QRT_OCSP_EncodeRequest(&out, &req, nullptr) != 0) st.SkipWithError("encoding failed");
        QRT_BIN_Reset(&out);
    }
    QRT_OCSP_ResetRequest(&req);
}

void request_openssl(benchmark::State &st) {
    Fixture &f = fixture();
    for (auto _ : st) {
        const unsigned char *p = f.leaf.data(), *q = f.ca.data();
        X509 *leaf = d2i_X509(nullptr, &p, static_cast<long>(f.leaf.size()));
        X509 *ca = d2i_X509(nullptr, &q, static_cast<long>(f.ca.size()));
        OCSP_REQUEST *req = OCSP_REQUEST_new();
        OCSP_CERTID *id = OCSP_cert_to_id(nullptr, leaf, ca);
        unsigned char *der = nullptr;
        bool ok = id && OCSP_request_add0_id(req, id) && OCSP_request_add1_nonce(req, nullptr, 20) &&
                  i2d_OCSP_REQUEST(req, &der) > 0;
        if (!ok) st.SkipWithError("OpenSSL encoding failed");
        OPENSSL_free(der);
        OCSP_REQUEST_free(req);
        X509_free(ca);
        X509_free(leaf);
    }
}

void response_ostrel(benchmark::State &st) {
    Fixture &f = fixture();
    BIN der = bin(f.response), ca = bin(f.ca);
    for (auto _ : st) {
        ZQ_OCSP_Response resp{};
        if (QRT_OCSP_DecodeResponseEx(&resp, &der, &ca, 0) != 0 || !resp.respList ||
            resp.respList->value.certStatus != QRT_OCSP_STATUS_GOOD)
            st.SkipWithError("checking failed");
        QRT_OCSP_ResetResponse(&resp);
    }
}

void response_openssl(benchmark::State &st) {
    Fixture &f = fixture();
    const unsigned char *p = f.leaf.data(), *q = f.ca.data();
    X509 *leaf = d2i_X509(nullptr, &p, static_cast<long>(f.leaf.size()));
    X509 *ca = d2i_X509(nullptr, &q, static_cast<long>(f.ca.size()));
    OCSP_CERTID *id = OCSP_cert_to_id(nullptr, leaf, ca);
    X509_STORE *store = X509_STORE_new();
    X509_STORE_add_cert(store, ca);
    for (auto _ : st) {
        const unsigned char *d = f.response.data();
        OCSP_RESPONSE *resp = d2i_OCSP_RESPONSE(nullptr, &d, static_cast<long>(f.response.size()));
        OCSP_BASICRESP *bs = resp ? OCSP_response_get1_basic(resp) : nullptr;
        int status = -1, reason = 0;
        bool ok = bs && OCSP_basic_verify(bs, nullptr, store, OCSP_NOVERIFY) == 1 &&
                  OCSP_resp_find_status(bs, id, &status, &reason, nullptr, nullptr, nullptr) == 1 &&
                  status == V_OCSP_CERTSTATUS_GOOD;
        if (!ok) st.SkipWithError("OpenSSL checking failed");
        OCSP_BASICRESP_free(bs);
        OCSP_RESPONSE_free(resp);
    }
    X509_STORE_free(store);
    OCSP_CERTID_free(id);
    X509_free(ca);
    X509_free(leaf);
}

}  // namespace

int main(int argc, char **argv) {
    benchmark::RegisterBenchmark("Request/Ostrel", request_ostrel);
    benchmark::RegisterBenchmark("Request/OpenSSL", request_openssl);
    benchmark::RegisterBenchmark("ResponseCheck/Ostrel", response_ostrel);
    benchmark::RegisterBenchmark("ResponseCheck/OpenSSL", response_openssl);
    return ostrel::bench::run_with_ratios(argc, argv);
}
