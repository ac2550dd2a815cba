// Certificate sets: look-ups by IssuerAndSerialNumber and key identifier, the issuer of a
// certificate and its chain. Certificates are read in place: a set of thousands is searched
// without decoding any of them.
#include <cstring>

#include "pkcs7_signed.hpp"

using namespace ostrel;
using namespace ostrel::pkcs7;

namespace {

int copy_out(BIN *out, const BIN &b) {
    set_bin(out, b.value, b.length);
    return 0;
}

// The first member other than cert whose subject is cert's issuer.
const BIN *parent_of(const ZQ_PKCS7_BIN_SET *certs, const BIN &cert) {
    CertView v;
    if (!cert_view(cert, v)) return nullptr;
    for (const ZQ_PKCS7_BIN_SET *p = certs; p; p = p->next) {
        CertView c;
        if (p->value.length == cert.length && std::memcmp(p->value.value, cert.value, cert.length) == 0) continue;
        if (cert_view(p->value, c) && same_bytes(c.subject, v.issuer)) return &p->value;
    }
    return nullptr;
}

bool self_issued(const BIN &cert) {
    CertView v;
    return cert_view(cert, v) && same_bytes(v.subject, v.issuer);
}

}  // namespace

extern "C" {

QRT_API int QRT_PKCS7_Certs_GetCert(BIN *out, const ZQ_PKCS7_BIN_SET *certs, const BIN *issuerAndSerial) {
    if (!out || !has_bytes(issuerAndSerial)) return QRT_PKCS7_INVALID_INPUT;
    *out = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        for (const ZQ_PKCS7_BIN_SET *p = certs; p; p = p->next)
            if (isn_matches(*issuerAndSerial, p->value)) return copy_out(out, p->value);
        return static_cast<int>(QRT_PKCS7_NOT_EXIST);
    });
}

QRT_API int QRT_PKCS7_Certs_GetCert_SKI(BIN *out, const ZQ_PKCS7_BIN_SET *certs, const BIN *subjectKeyId) {
    if (!out || !has_bytes(subjectKeyId)) return QRT_PKCS7_INVALID_INPUT;
    *out = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        for (const ZQ_PKCS7_BIN_SET *p = certs; p; p = p->next) {
            BinOwner id;
            if (cert_key_id(id, p->value) != 0) continue;
            if (id->length == subjectKeyId->length &&
                std::memcmp(id->value, subjectKeyId->value, subjectKeyId->length) == 0)
                return copy_out(out, p->value);
        }
        return static_cast<int>(QRT_PKCS7_NOT_EXIST);
    });
}

QRT_API int QRT_PKCS7_Certs_GetParent(BIN *out, const ZQ_PKCS7_BIN_SET *certs, const BIN *cert) {
    if (!out || !has_bytes(cert)) return QRT_PKCS7_INVALID_INPUT;
    *out = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        CertView v;
        if (!cert_view(*cert, v)) return static_cast<int>(QRT_PKCS7_BAD_CERT);
        const BIN *parent = parent_of(certs, *cert);
        if (!parent) return static_cast<int>(QRT_PKCS7_NOT_EXIST);
        return copy_out(out, *parent);
    });
}

QRT_API int QRT_PKCS7_Certs_GetChain(ZQ_PKCS7_BIN_SET **chain, const ZQ_PKCS7_BIN_SET *certs, const BIN *cert) {
    if (!chain || !has_bytes(cert)) return QRT_PKCS7_INVALID_INPUT;
    *chain = nullptr;
    return OSTREL_GUARD_TRACE([&] {
        CertView v;
        if (!cert_view(*cert, v)) return static_cast<int>(QRT_PKCS7_BAD_CERT);
        ZQ_PKCS7_BIN_SET *out = nullptr;
        struct SetHolder {
            ZQ_PKCS7_BIN_SET *&s;
            ~SetHolder() { QRT_PKCS7_BIN_SET_Free(s); }
        } hold{out};
        if (int rc = QRT_PKCS7_BIN_SET_Add(&out, cert)) return rc;
        // up to a self-signed certificate, and never more steps than the set holds: certificates
        // naming each other end the walk instead of looping
        const BIN *at = cert;
        int steps = QRT_PKCS7_BIN_SET_Count(certs);
        for (int i = 0; i < steps && !self_issued(*at); ++i) {
            const BIN *parent = parent_of(certs, *at);
            if (!parent) break;
            bool seen = false;
            for (const ZQ_PKCS7_BIN_SET *p = out; p && !seen; p = p->next)
                seen = p->value.length == parent->length &&
                       std::memcmp(p->value.value, parent->value, parent->length) == 0;
            if (seen) break;
            if (int rc = QRT_PKCS7_BIN_SET_Add(&out, parent)) return rc;
            at = parent;
        }
        *chain = out;
        out = nullptr;
        return 0;
    });
}

}  // extern "C"
