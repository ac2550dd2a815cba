// Signing and checking PHP certificates with the provider's older RSA forms (SHA-1, PKCS#1 v1.5).
#include <cstring>

#include "php_internal.h"
#include "suite_csp.h"

using namespace ostrel::php;

namespace {

// The provider's older forms number SHA-1 as 2.
constexpr int kSignSha1 = 2;

BIN bin_of(const ZQ_PHP_DATA &d) { return BIN{d.len, d.data}; }

}  // namespace

extern "C" {

QRT_API int QRT_PHP_EncodePHPCert(ZQ_PHP_DATA *cert, const ZQ_PHP_DATA *identity, const ZQ_PHP_DATA *publicKey,
                                  const ZQ_PHP_DATA *caPrivateKey) {
    if (!cert || !valid(identity) || !valid(publicKey) || !valid(caPrivateKey)) return QRT_PHP_INVALID_INPUT;
    *cert = ZQ_PHP_DATA{0, nullptr};
    Data tbs;
    if (int rc = QRT_PHP_EncodePHPCert_Init(tbs.get(), identity, publicKey)) return OSTREL_FAIL(rc);
    BIN key = bin_of(*caPrivateKey), data = bin_of(*tbs.get()), sig{0, nullptr};
    if (int core = QRT_GenSignatureBin(&key, kSignSha1, &data, &sig)) {
        QRT_Trace_PutError("QRT_GenSignatureBin", core, QRT_CSP_GetErrorReason(core, 1), __FILE__, __LINE__);
        QRT_BIN_Reset(&sig);
        return OSTREL_FAIL(QRT_PHP_CSP_FAILED);
    }
    ZQ_PHP_DATA s{sig.length, sig.value};
    int rc = QRT_PHP_EncodePHPCert_Final(cert, tbs.get(), &s);
    QRT_BIN_Reset(&sig);
    return rc ? OSTREL_FAIL(rc) : 0;
}

QRT_API int QRT_PHP_VerifyPHPCert(const ZQ_PHP_CERT *cert, const ZQ_PHP_DATA *identity,
                                  const ZQ_PHP_DATA *caPublicKey) {
    if (!cert || !valid(identity) || !valid(caPublicKey) || !valid(&cert->identity) || !valid(&cert->tbs) ||
        !valid(&cert->signature))
        return QRT_PHP_INVALID_INPUT;
    // The certificate must name exactly the identity the client asked for.
    if (cert->identity.len != identity->len ||
        (identity->len && std::memcmp(cert->identity.data, identity->data, identity->len) != 0))
        return OSTREL_FAIL(QRT_PHP_INVALID_PHPCERT);
    BIN key = bin_of(*caPublicKey), data = bin_of(cert->tbs), sig = bin_of(cert->signature);
    if (int core = QRT_VerifySignBin(&key, kSignSha1, &data, &sig)) {
        QRT_Trace_PutError("QRT_VerifySignBin", core, QRT_CSP_GetErrorReason(core, 1), __FILE__, __LINE__);
        return OSTREL_FAIL(QRT_PHP_INVALID_PHPCERT);
    }
    return 0;
}

}  // extern "C"
