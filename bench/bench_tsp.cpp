// Checking a time-stamp token against the request it answers: an RSA-2048 TSA (SHA-256 signer
// digest, rsaEncryption, its certificate embedded, ESSCertID SHA-1) answers our SHA-1 request
// with a nonce, the response made by OpenSSL's TSA code in the same process:
//   TokenCheck/Ostrel   QRT_TSP_DecodeResponse with the request's DER (signature, messageDigest,
//                       signer named by ESSCertID, imprint, nonce)
//   TokenCheck/OpenSSL  d2i_TS_RESP + TS_RESP_verify_response (signature with a one-root store,
//                       imprint, nonce), the verify context made once from the request
// The run ends with the ratio OpenSSL CPU time / ours (above 1: we are faster).
#include <benchmark/benchmark.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/ts.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <utility>
#include <vector>

#include "../lib/common/test/ostrel/openssl_certs.hpp"
#include "bench_ratio.hpp"
#include "suite_tsp.h"

namespace {

using ostrel::test::der_of;
using ostrel::test::i2d_bytes;
using ostrel::test::make_cert;

using Bytes = std::vector<unsigned char>;

BIN view(Bytes &b) { return BIN{static_cast<unsigned>(b.size()), b.data()}; }

ASN1_INTEGER *serial_cb(TS_RESP_CTX *, void *) {
    ASN1_INTEGER *s = ASN1_INTEGER_new();
    ASN1_INTEGER_set(s, 7);
    return s;
}

struct Fixture {
    Bytes request, response;
    X509 *ca = nullptr;
};

Fixture &fixture() {
    static Fixture f = [] {
        Fixture r;
        EVP_PKEY *caKey = EVP_RSA_gen(2048), *key = EVP_RSA_gen(2048);
        r.ca = make_cert(caKey, "Bench TSA Root", nullptr, nullptr, 1, true);
        X509 *tsa = make_cert(key, "Bench TSA", r.ca, caKey, 2, false);
        // a TSA certificate: the one critical timeStamping key purpose, and no key usage beyond
        // digitalSignature and nonRepudiation
        X509_EXTENSION_free(X509_delete_ext(tsa, X509_get_ext_by_NID(tsa, NID_key_usage, -1)));
        for (auto [nid, value] : {std::pair<int, const char *>{NID_key_usage, "critical,digitalSignature"},
                                  {NID_ext_key_usage, "critical,timeStamping"}}) {
            X509_EXTENSION *ext = X509V3_EXT_conf_nid(nullptr, nullptr, nid, value);
            X509_add_ext(tsa, ext, -1);
            X509_EXTENSION_free(ext);
        }
        X509_sign(tsa, caKey, EVP_sha256());
        // read back, so the extensions OpenSSL caches include the one just added
        Bytes tsaDer = der_of(tsa);
        X509_free(tsa);
        const unsigned char *tp = tsaDer.data();
        tsa = d2i_X509(nullptr, &tp, static_cast<long>(tsaDer.size()));

        Bytes digest(20);
        const char message[] = "a message worth a time-stamp";
        EVP_Digest(message, sizeof message - 1, digest.data(), nullptr, EVP_sha1(), nullptr);
        ZQ_TSP_Request q{};
        q.hashID = QRT_TSP_HASH_SHA1;
        q.hashedMessage = view(digest);
        q.nonceAttach = 1;
        q.nonce = 0x2468ACE0;
        q.certReq = 1;
        BIN req{0, nullptr};
        if (QRT_TSP_EncodeRequest(&req, &q) == 0) r.request.assign(req.value, req.value + req.length);
        QRT_BIN_Reset(&req);

        TS_RESP_CTX *ctx = TS_RESP_CTX_new();
        TS_RESP_CTX_set_signer_cert(ctx, tsa);
        TS_RESP_CTX_set_signer_key(ctx, key);
        TS_RESP_CTX_set_signer_digest(ctx, EVP_sha256());
        TS_RESP_CTX_set_ess_cert_id_digest(ctx, EVP_sha1());
        ASN1_OBJECT *policy = OBJ_txt2obj("1.2.3.4.1", 1);
        TS_RESP_CTX_set_def_policy(ctx, policy);
        TS_RESP_CTX_add_md(ctx, EVP_sha1());
        TS_RESP_CTX_set_accuracy(ctx, 1, 500, 100);
        TS_RESP_CTX_set_serial_cb(ctx, serial_cb, nullptr);
        BIO *in = BIO_new_mem_buf(r.request.data(), static_cast<int>(r.request.size()));
        TS_RESP *resp = TS_RESP_create_response(ctx, in);
        if (resp) r.response = i2d_bytes([&](unsigned char **p) { return i2d_TS_RESP(resp, p); });
        TS_RESP_free(resp);
        BIO_free(in);
        ASN1_OBJECT_free(policy);
        TS_RESP_CTX_free(ctx);
        X509_free(tsa);
        EVP_PKEY_free(key);
        EVP_PKEY_free(caKey);
        return r;
    }();
    return f;
}

void check_ostrel(benchmark::State &st) {
    Fixture &f = fixture();
    BIN resp = view(f.response), req = view(f.request);
    for (auto _ : st) {
        ZQ_TSP_TSTInfo info{};
        BIN cert{0, nullptr};
        if (QRT_TSP_DecodeResponse(&info, &cert, &resp, &req, nullptr) != 0) st.SkipWithError("token check failed");
        QRT_TSP_TSTInfo_Reset(&info);
        QRT_BIN_Reset(&cert);
    }
}

void check_openssl(benchmark::State &st) {
    Fixture &f = fixture();
    const unsigned char *p = f.request.data();
    TS_REQ *req = d2i_TS_REQ(nullptr, &p, static_cast<long>(f.request.size()));
    TS_VERIFY_CTX *ctx = TS_REQ_to_TS_VERIFY_CTX(req, nullptr);
    TS_VERIFY_CTX_set_flags(ctx, TS_VFY_SIGNATURE | TS_VFY_IMPRINT | TS_VFY_NONCE);
    X509_STORE *store = X509_STORE_new();
    X509_STORE_add_cert(store, f.ca);
    TS_VERIFY_CTX_set_store(ctx, store);
    for (auto _ : st) {
        const unsigned char *q = f.response.data();
        TS_RESP *resp = d2i_TS_RESP(nullptr, &q, static_cast<long>(f.response.size()));
        if (!resp || TS_RESP_verify_response(ctx, resp) != 1) st.SkipWithError("TS_RESP_verify_response failed");
        TS_RESP_free(resp);
    }
    TS_VERIFY_CTX_free(ctx);
    TS_REQ_free(req);
}

}  // namespace

int main(int argc, char **argv) {
    benchmark::RegisterBenchmark("TokenCheck/Ostrel", check_ostrel);
    benchmark::RegisterBenchmark("TokenCheck/OpenSSL", check_openssl);
    return ostrel::bench::run_with_ratios(argc, argv);
}
