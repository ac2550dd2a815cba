// A trust list of 400 SHA-256 subjects (the size of public root lists) signed with RSA-2048 and
// SHA-1, the signer and its CA embedded, opened and searched, against OpenSSL on the same list in
// the same run:
//   OpenCheck/Ostrel   QRT_CTL_DecodeSigned (first signer verified), the list decoded (PDU 77),
//                      QRT_CTL_IsCertTrusted of a certificate that is the last entry
//   OpenCheck/OpenSSL_CMS  d2i_CMS_ContentInfo + CMS_verify (no chain building) of the list in
//                      CMS form, its subjects walked with ASN1_get_object, the certificate's
//                      SHA-256 compared with each
// The run ends with the ratio OpenSSL CPU time / ours (above 1: we are faster).
#include <benchmark/benchmark.h>
#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "../lib/common/test/ostrel/der_build.hpp"
#include "../lib/common/test/ostrel/openssl_certs.hpp"
#include "bench_ratio.hpp"
#include "suite_ctl.h"

namespace {

using ostrel::test::der_of;
using ostrel::test::make_cert;

using ostrel::test::der::tlv;

using Bytes = std::vector<unsigned char>;

void append(Bytes &to, const Bytes &b) { to.insert(to.end(), b.begin(), b.end()); }

Bytes sha256(const Bytes &in) {
    Bytes md(32);
    EVP_Digest(in.data(), in.size(), md.data(), nullptr, EVP_sha256(), nullptr);
    return md;
}

struct Fixture {
    Bytes target;     // the certificate looked up: the list's last subject
    Bytes ours, cms;  // the list signed by us (RFC 2315 carriage) and by OpenSSL (CMS)
};

Fixture &fixture() {
    static Fixture f = [] {
        Fixture r;
        EVP_PKEY *caKey = EVP_RSA_gen(2048), *key = EVP_RSA_gen(2048);
        X509 *ca = make_cert(caKey, "Bench CA", nullptr, nullptr, 1, true);
        X509 *leaf = make_cert(key, "Bench list signer", ca, caKey, 2, false);
        Bytes caDer = der_of(ca), leafDer = der_of(leaf);
        r.target = caDer;

        Bytes subjects;
        for (int i = 0; i < 399; ++i) {
            Bytes id(32);
            for (int k = 0; k < 32; ++k) id[k] = static_cast<unsigned char>(i * 31 + k * 7);
            append(subjects, tlv(0x30, tlv(0x04, id)));
        }
        append(subjects, tlv(0x30, tlv(0x04, sha256(caDer))));
        Bytes body;
        append(body, tlv(0x30, tlv(0x06, {0x2a, 0x83, 0x1a, 0x8c, 0x9a, 0x44, 0x08, 0x01, 0x01, 0x01})));
        append(body, tlv(0x17, Bytes{'2', '5', '0', '1', '0', '1', '0', '0', '0', '0', '0', '0', 'Z'}));
        append(body, tlv(0x30, Bytes{0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00}));
        append(body, tlv(0x30, subjects));
        Bytes list = tlv(0x30, body);

        unsigned char *p = nullptr;
        int n = i2d_PrivateKey(key, &p);  // RSA: PKCS#1, the provider's form
        Bytes keyDer(p, p + n);
        OPENSSL_free(p);
        BIN l{static_cast<unsigned>(list.size()), list.data()},
            c{static_cast<unsigned>(leafDer.size()), leafDer.data()},
            k{static_cast<unsigned>(keyDer.size()), keyDer.data()}, out{0, nullptr};
        ZQ_BIN_LIST *chain = nullptr;
        BIN cab{static_cast<unsigned>(caDer.size()), caDer.data()};
        QRT_BIN_LIST_Add(&chain, &cab);
        if (QRT_CTL_EncodeSigned(&out, &l, &c, &k, chain, nullptr) == 0)
            r.ours.assign(out.value, out.value + out.length);
        QRT_BIN_Reset(&out);
        QRT_BIN_LIST_Free(chain);

        STACK_OF(X509) *extra = sk_X509_new_null();
        sk_X509_push(extra, ca);
        BIO *in = BIO_new_mem_buf(list.data(), static_cast<int>(list.size()));
        CMS_ContentInfo *cms = CMS_sign(nullptr, nullptr, extra, nullptr, CMS_BINARY | CMS_PARTIAL);
        CMS_add1_signer(cms, leaf, key, EVP_sha1(), CMS_BINARY);
        CMS_set1_eContentType(cms, OBJ_txt2obj("1.3.6.1.4.1.311.10.1", 1));
        CMS_final(cms, in, nullptr, CMS_BINARY);
        p = nullptr;
        n = i2d_CMS_ContentInfo(cms, &p);
        r.cms.assign(p, p + n);
        OPENSSL_free(p);
        CMS_ContentInfo_free(cms);
        BIO_free(in);
        sk_X509_free(extra);
        X509_free(leaf);
        X509_free(ca);
        EVP_PKEY_free(key);
        EVP_PKEY_free(caKey);
        return r;
    }();
    return f;
}

void open_ostrel(benchmark::State &st) {
    Fixture &f = fixture();
    BIN in{static_cast<unsigned>(f.ours.size()), f.ours.data()};
    BIN target{static_cast<unsigned>(f.target.size()), f.target.data()};
    for (auto _ : st) {
        BIN list{0, nullptr}, signer{0, nullptr};
        ZQ_BIN_LIST others{};
        void *ctl = nullptr;
        bool ok = QRT_CTL_DecodeSigned(&list, &signer, &others, &in, nullptr) == 0 &&
                  QRT_ASN_DecodePDU(&ctl, &list, CertificateTrustList_PDU) == 0 &&
                  QRT_CTL_IsCertTrusted(static_cast<CertificateTrustList *>(ctl), &target) == 0;
        if (!ok) st.SkipWithError("opening or searching failed");
        QRT_ASN_FreePDU(ctl, CertificateTrustList_PDU);
        QRT_BIN_Reset(&list);
        QRT_BIN_Reset(&signer);
        QRT_BIN_LIST_Reset(&others);
    }
}

// Steps into the contents of the next element; false at the end or on a malformed one.
bool next(const unsigned char *&p, const unsigned char *end, const unsigned char *&content, long &len, int &tag) {
    if (p >= end) return false;
    int cls = 0;
    const unsigned char *q = p;
    if (ASN1_get_object(&q, &len, &tag, &cls, end - p) & 0x80) return false;
    content = q;
    p = q + len;
    return true;
}

// The search of a decoded list's subjects (the third SEQUENCE of the list) for a digest.
bool listed(const unsigned char *der, long n, const Bytes &md) {
    const unsigned char *p = der, *end = der + n, *c = nullptr;
    long len = 0;
    int tag = 0;
    if (!next(p, end, c, len, tag)) return false;
    p = c;
    end = c + len;
    for (int seqs = 0; next(p, end, c, len, tag);) {
        if (tag != V_ASN1_SEQUENCE || ++seqs < 3) continue;
        const unsigned char *s = c, *send = c + len;
        while (next(s, send, c, len, tag)) {
            const unsigned char *id = nullptr, *e = c;
            if (next(e, c + len, id, len, tag) && static_cast<size_t>(len) == md.size() &&
                std::memcmp(id, md.data(), md.size()) == 0)
                return true;
        }
        return false;
    }
    return false;
}

void open_openssl(benchmark::State &st) {
    Fixture &f = fixture();
    for (auto _ : st) {
        const unsigned char *p = f.cms.data();
        CMS_ContentInfo *cms = d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(f.cms.size()));
        BIO *out = BIO_new(BIO_s_mem());
        bool ok = cms && CMS_verify(cms, nullptr, nullptr, nullptr, out, CMS_NO_SIGNER_CERT_VERIFY | CMS_BINARY) == 1;
        char *data = nullptr;
        long n = BIO_get_mem_data(out, &data);
        ok = ok && listed(reinterpret_cast<unsigned char *>(data), n, sha256(f.target));
        if (!ok) st.SkipWithError("CMS_verify or the search failed");
        BIO_free(out);
        CMS_ContentInfo_free(cms);
    }
}

}  // namespace

int main(int argc, char **argv) {
    benchmark::RegisterBenchmark("OpenCheck400/Ostrel", open_ostrel);
    benchmark::RegisterBenchmark("OpenCheck400/OpenSSL_CMS", open_openssl);
    return ostrel::bench::run_with_ratios(argc, argv);
}
