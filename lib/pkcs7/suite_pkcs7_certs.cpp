// Certificate sets: look-ups by IssuerAndSerialNumber and key identifier, the issuer of a
// certificate and its chain. Certificates are read in place: a set of thousands is searched
// without decoding any of them.
#include <cstring>

#include "pkcs7_signed.hpp"

using namespace ostrel;
using namespace ostrel::pkcs7;

namespace {

const uint8_t kSkiOid[] = {0x55, 0x1d, 0x0e};  // id-ce-subjectKeyIdentifier

// The subjectKeyIdentifier extension's key identifier, when the extensions carry one.
// Extensions ::= SEQUENCE OF Extension; Extension ::= SEQUENCE { extnID, critical BOOLEAN
// DEFAULT FALSE, extnValue OCTET STRING }; SubjectKeyIdentifier ::= OCTET STRING
bool ski_extension(Reader ext, Reader &keyId) {
    Reader list;
    if (tlv::read_tlv(ext, tlv::kSequence, list, tlv::Profile::kBer)) return false;
    while (!list.empty()) {
        Reader e, oid, value;
        if (tlv::read_tlv(list, tlv::kSequence, e, tlv::Profile::kBer) || tlv::read_tlv(e, tlv::kOid, oid))
            return false;
        if (!tlv::equals(oid, kSkiOid, sizeof kSkiOid)) continue;
        if (tlv::next_is(e, tlv::kBoolean)) {
            Reader b;
            if (tlv::read_tlv(e, tlv::kBoolean, b, tlv::Profile::kBer)) return false;
        }
        if (tlv::read_tlv(e, tlv::kOctetString, value, tlv::Profile::kBer)) return false;
        return tlv::read_tlv(value, tlv::kOctetString, keyId, tlv::Profile::kBer) == tlv::kOk && value.empty();
    }
    return false;
}

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

namespace ostrel::pkcs7 {

// Certificate ::= SEQUENCE { tbsCertificate SEQUENCE { [0] version OPTIONAL, serialNumber,
//   signature, issuer, validity, subject, subjectPublicKeyInfo, [1] OPTIONAL, [2] OPTIONAL,
//   [3] extensions OPTIONAL }, signatureAlgorithm, signature }
bool cert_view(const BIN &cert, CertView &v) {
    Reader r(cert.value, cert.length), c, tbs, content;
    uint8_t tag = 0;
    if (tlv::read_tlv(r, tlv::kSequence, c, tlv::Profile::kBer) ||
        tlv::read_tlv(c, tlv::kSequence, tbs, tlv::Profile::kBer))
        return false;
    if (tlv::next_is(tbs, 0xA0) && tlv::read_any(tbs, tag, content, nullptr, tlv::Profile::kBer)) return false;
    Reader skip;
    if (tlv::read_tlv(tbs, tlv::kInteger, skip, tlv::Profile::kBer) ||
        tlv::read_tlv(tbs, tlv::kSequence, skip, tlv::Profile::kBer))
        return false;
    if (tlv::read_any(tbs, tag, content, &v.issuer, tlv::Profile::kBer) || tag != tlv::kSequence) return false;
    if (tlv::read_tlv(tbs, tlv::kSequence, skip, tlv::Profile::kBer)) return false;
    if (tlv::read_any(tbs, tag, content, &v.subject, tlv::Profile::kBer) || tag != tlv::kSequence) return false;
    if (tlv::read_any(tbs, tag, content, &v.spki, tlv::Profile::kBer) || tag != tlv::kSequence) return false;
    v.extensions = Reader();
    while (!tbs.empty()) {
        Reader whole;
        if (tlv::read_any(tbs, tag, content, &whole, tlv::Profile::kBer)) return false;
        if (tag == 0xA3) v.extensions = content;
    }
    return true;
}

int cert_key_id(BinOwner &out, const BIN &cert) {
    CertView v;
    if (!cert_view(cert, v)) return QRT_PKCS7_BAD_CERT;
    Reader id;
    if (!v.extensions.empty() && ski_extension(v.extensions, id)) {
        set_bin(out.get(), id.data(), id.remaining());
        return 0;
    }
    // SubjectPublicKeyInfo ::= SEQUENCE { algorithm AlgorithmIdentifier, subjectPublicKey BIT STRING }
    Reader spki = v.spki, body, alg, bits;
    if (tlv::read_tlv(spki, tlv::kSequence, body, tlv::Profile::kBer) ||
        tlv::read_tlv(body, tlv::kSequence, alg, tlv::Profile::kBer) ||
        tlv::read_tlv(body, tlv::kBitString, bits, tlv::Profile::kBer) || bits.empty())
        return QRT_PKCS7_BAD_CERT;
    (void)bits.skip(1);
    BIN key{static_cast<unsigned>(bits.remaining()), const_cast<uint8_t *>(bits.data())};
    return QRT_CSP_Hash(out.get(), &key, QRT_CSP_HASH_SHA1);
}

}  // namespace ostrel::pkcs7

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
