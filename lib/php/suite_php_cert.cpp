// The PHP certificate's layout, and the public key of the CA's X.509 certificate.
#include "ostrel/asn_tree.hpp"
#include "ostrel/reader.hpp"
#include "php_internal.h"

using namespace ostrel::php;

namespace {

constexpr uint8_t kPhpCertVersion = 0x01;
constexpr unsigned kPhpCertMinLength = 10;

}  // namespace

extern "C" {

// tbs: 0x01 | len (2) | identity | len (2) | public key
QRT_API int QRT_PHP_EncodePHPCert_Init(ZQ_PHP_DATA *tbs, const ZQ_PHP_DATA *identity, const ZQ_PHP_DATA *publicKey) {
    if (!tbs || !valid(identity) || !valid(publicKey)) return QRT_PHP_INVALID_INPUT;
    *tbs = ZQ_PHP_DATA{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        std::vector<uint8_t> out{kPhpCertVersion};
        if (!put_prefixed(out, identity->data, identity->len) || !put_prefixed(out, publicKey->data, publicKey->len))
            return QRT_PHP_INVALID_INPUT;
        return set_data(tbs, out.data(), out.size());
    });
}

// certificate: tbs | len (2) | signature
QRT_API int QRT_PHP_EncodePHPCert_Final(ZQ_PHP_DATA *cert, const ZQ_PHP_DATA *tbs, const ZQ_PHP_DATA *signature) {
    if (!cert || !valid(tbs) || !valid(signature)) return QRT_PHP_INVALID_INPUT;
    *cert = ZQ_PHP_DATA{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        std::vector<uint8_t> out;
        if (tbs->len) out.assign(tbs->data, tbs->data + tbs->len);
        if (!put_prefixed(out, signature->data, signature->len)) return QRT_PHP_INVALID_INPUT;
        return set_data(cert, out.data(), out.size());
    });
}

QRT_API int QRT_PHP_DecodePHPCert(ZQ_PHP_CERT *cert, const ZQ_PHP_DATA *bytes) {
    if (!cert || !valid(bytes)) return QRT_PHP_INVALID_INPUT;
    *cert = ZQ_PHP_CERT{};
    if (bytes->len < kPhpCertMinLength || bytes->data[0] != kPhpCertVersion)
        return OSTREL_FAIL(QRT_PHP_BAD_CERTIFICATE);
    ostrel::Reader r(bytes->data + 1, bytes->len - 1);
    uint16_t n = 0;
    ostrel::Reader id, key, sig;
    if (!r.be16(n) || !r.sub(n, id) || !r.be16(n) || !r.sub(n, key)) return OSTREL_FAIL(QRT_PHP_BAD_CERTIFICATE);
    const size_t tbs_len = static_cast<size_t>(r.data() - bytes->data);
    if (!r.be16(n) || !r.sub(n, sig)) return OSTREL_FAIL(QRT_PHP_BAD_CERTIFICATE);
    int rc = set_data(&cert->identity, id.data(), id.remaining());
    if (!rc) rc = set_data(&cert->publicKey, key.data(), key.remaining());
    if (!rc) rc = set_data(&cert->signature, sig.data(), sig.remaining());
    if (!rc) rc = set_data(&cert->tbs, bytes->data, tbs_len);
    if (rc) {
        QRT_PHP_PHPCert_Reset(cert);
        return OSTREL_FAIL(rc);
    }
    return 0;
}

QRT_API int QRT_PHP_DecodeX509Cert(ZQ_PHP_DATA *publicKey, const ZQ_PHP_DATA *cert) {
    if (!publicKey || !valid(cert)) return QRT_PHP_INVALID_INPUT;
    *publicKey = ZQ_PHP_DATA{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        ostrel::AsnTree<Certificate> tree(Certificate_PDU);
        BIN in{cert->len, cert->data};
        if (tree.decode(&in) != 0 || !tree) return QRT_PHP_ASN_FAILED;
        const BitString &key = tree->tbsCertificate.subjectPublicKeyInfo.subjectPublicKey;
        // The subject key of an RSA certificate is the PKCS#1 RSAPublicKey in whole bytes.
        if (key.length == 0 || key.length % 8 || !key.value) return QRT_PHP_ASN_FAILED;
        return set_data(publicKey, key.value, key.length / 8);
    });
}

QRT_API int QRT_PHP_VerifyX509Cert(const ZQ_PHP_DATA *, const ZQ_PHP_DATA *, const ZQ_PHP_DATA *) { return -1; }

}  // extern "C"
