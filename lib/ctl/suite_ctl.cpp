// Checks on a decoded trust list: version, validity period and subject usage; and membership of
// a certificate by its digest under the list's subject algorithm.
#include <cstring>
#include <ctime>

#include "ctl_internal.h"
#include "ostrel/asn_tree.hpp"
#include "ostrel/x509_time.hpp"
#include "suite_csp.h"
#include "suite_pkc.h"

namespace ostrel::ctl {
namespace {

int check_list(const CertificateTrustList &ctl, time_t now) {
    int version = (ctl.bit_mask & CertificateTrustList_version_present) ? ctl.version : CertificateTrustList_version_v1;
    if (version != CertificateTrustList_version_v1) return QRT_CTL_INVALID_VERSION;
    time_t t;
    if (!x509_time(ctl.thisUpdate, t)) return QRT_CTL_BAD_CTL;
    if (now < t) return QRT_CTL_INVALID_TIME;
    if (ctl.bit_mask & CertificateTrustList_nextUpdate_present) {
        if (!x509_time(ctl.nextUpdate, t)) return QRT_CTL_BAD_CTL;
        if (t < now) return QRT_CTL_EXPIRED;
    }
    for (auto *u = ctl.subjectUsage; u; u = u->next)
        if (oid_equal(u->value, electronic_civil_application)) return 0;
    return QRT_CTL_INVALID_SUBJECT_USAGE;
}

// The provider's hash of a subject algorithm, among those a list may name; 0 for any other.
int subject_hash(const ObjectID &oid) {
    switch (int h = QRT_PKC_ObjID_To_HashID(&oid)) {
        case QRT_CSP_HASH_MD2:
        case QRT_CSP_HASH_MD5:
        case QRT_CSP_HASH_SHA1:
        case QRT_CSP_HASH_HAS160:
        case QRT_CSP_HASH_SHA256:
        case QRT_CSP_HASH_SHA384:
        case QRT_CSP_HASH_SHA512:
            return h;
        default:
            return 0;
    }
}

struct Digest {
    BIN b{0, nullptr};
    ~Digest() { QRT_BIN_Reset(&b); }
};

int trusted(const CertificateTrustList &ctl, const BIN &cert) {
    int hash = subject_hash(ctl.subjectAlgorithm.algorithm);
    if (!hash) return QRT_CTL_UNKNOWN_HASHID;
    Digest d;
    if (int rc = QRT_CSP_Hash(&d.b, &cert, hash)) return rc;
    if (!(ctl.bit_mask & CertificateTrustList_trustedSubjects_present)) return QRT_CTL_NOT_CERT_TRUSTED;
    for (auto *s = ctl.trustedSubjects; s; s = s->next) {
        const BIN &id = s->value.subjectIdentifier;
        if (id.length == d.b.length && id.value && std::memcmp(id.value, d.b.value, d.b.length) == 0) return 0;
    }
    return QRT_CTL_NOT_CERT_TRUSTED;
}

}  // namespace
}  // namespace ostrel::ctl

using namespace ostrel::ctl;

extern "C" {

QRT_API int QRT_CTL_Verify(const CertificateTrustList *ctl, time_t now) {
    if (!ctl) return QRT_CTL_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] { return check_list(*ctl, now); });
}

QRT_API int QRT_CTL_IsCertTrusted(const CertificateTrustList *ctl, const BIN *certDER) {
    if (!ctl || !has_bytes(certDER)) return QRT_CTL_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] { return trusted(*ctl, *certDER); });
}

}  // extern "C"
