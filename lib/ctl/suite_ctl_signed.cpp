// Signed lists: writing one as PKCS#7 signed data of type cTL, and opening one (either carriage)
// with its first signer verified. Every record comes from the PKCS#7 library and is released on
// every path.
#include <cstring>

#include "ctl_internal.h"
#include "ostrel/asn_tree.hpp"
#include "ostrel/owners.hpp"
#include "ostrel/reader.hpp"
#include "ostrel/tlv.hpp"
#include "suite_pkcs7.h"

namespace ostrel::ctl {
namespace {

struct SignedHolder {
    ZQ_PKCS7_SIGNED sd{};
    ~SignedHolder() { QRT_PKCS7_Signed_Reset(&sd); }
};

struct SignerHolder {
    ZQ_PKCS7_SIGNER_INFO si{};
    ~SignerHolder() { QRT_PKCS7_SignerInfo_Reset(&si); }
};

template <class T>
bool decodes_as(const BIN &der, int pdu) {
    AsnTree<T> t(pdu);
    return t.decode(&der) == 0 && t;
}

// The certificate set and CRL set of a list: the signer, then certs in order, then extraCert by
// its type (a Certificate after the others, a CertificateList among the CRLs).
int add_certs(ZQ_PKCS7_SIGNED &sd, const BIN &signerCert, const ZQ_BIN_LIST *certs, const BIN *extraCert) {
    if (int rc = QRT_PKCS7_BIN_SET_Add(&sd.certs, &signerCert)) return rc;
    for (const ZQ_BIN_LIST *p = certs; p; p = p->next)
        if (has_bytes(&p->value))
            if (int rc = QRT_PKCS7_BIN_SET_Add(&sd.certs, &p->value)) return rc;
    if (!extraCert) return 0;
    if (!has_bytes(extraCert)) return QRT_CTL_INVALID_INPUT;
    if (decodes_as<Certificate>(*extraCert, Certificate_PDU)) return QRT_PKCS7_BIN_SET_Add(&sd.certs, extraCert);
    if (decodes_as<CertificateList>(*extraCert, CertificateList_PDU)) return QRT_PKCS7_BIN_SET_Add(&sd.crls, extraCert);
    return QRT_CTL_INVALID_INPUT;
}

int encode_signed(BIN *out, const BIN &list, const BIN &signerCert, const BIN &signerKey, const ZQ_BIN_LIST *certs,
                  const BIN *extraCert) {
    if (!decodes_as<CertificateTrustList>(list, CertificateTrustList_PDU)) return QRT_CTL_BAD_CTL;
    // the list SEQUENCE itself is the content (RFC 2315 carriage); the records only read it
    const ZQ_PKCS7_CONTENT content{QRT_PKCS7_CTL, const_cast<BIN *>(&list)};
    SignedHolder h;
    if (int rc = add_certs(h.sd, signerCert, certs, extraCert)) return rc;
    // contentType (cTL), messageDigest and one signingTime, as the PKCS#7 library generates them
    BinOwner attrs;
    if (int rc = QRT_PKCS7_Attributes_GenAuth(attrs.get(), QRT_PKCS7_SHA1, &content)) return rc;
    SignerHolder s;
    if (int rc =
            QRT_PKCS7_SignerInfo_Set(&s.si, QRT_PKCS7_SHA1, attrs.get(), nullptr, nullptr, &signerCert, &signerKey))
        return rc;
    if (int rc = QRT_PKCS7_SignerInfos_Add(&h.sd.signerInfos, &s.si)) return rc;
    if (int rc = QRT_PKCS7_Signed_Sign(&h.sd, &content)) return rc;
    return QRT_PKCS7_Signed_Encode(out, &h.sd);
}

// The first signer's certificate among the embedded ones, or nullptr.
const BIN *signer_cert(const ZQ_PKCS7_SIGNER_INFO &si, const ZQ_PKCS7_SIGNED &sd, BinOwner &found) {
    int rc = -1;
    if (has_bytes(si.issuerAndSerial))
        rc = QRT_PKCS7_Certs_GetCert(found.get(), sd.certs, si.issuerAndSerial);
    else if (has_bytes(si.subjectKeyId))
        rc = QRT_PKCS7_Certs_GetCert_SKI(found.get(), sd.certs, si.subjectKeyId);
    return rc == 0 && has_bytes(found.get()) ? found.get() : nullptr;
}

bool same(const BIN &a, const BIN *b) {
    return b && a.length == b->length && std::memcmp(a.value, b->value, a.length) == 0;
}

// Fills the caller's node with the embedded certificates other than the signer's, in order.
int other_certs(ZQ_BIN_LIST *node, const ZQ_PKCS7_SIGNED &sd, const BIN *signer) {
    for (const ZQ_PKCS7_BIN_SET *p = sd.certs; p; p = p->next) {
        if (same(p->value, signer)) continue;
        int rc = node->value.value ? QRT_BIN_LIST_Add(&node->next, &p->value) : QRT_BIN_Copy(&node->value, &p->value);
        if (rc) return rc;
    }
    return 0;
}

// The list's DER: an OCTET STRING's octets (CMS), or the SEQUENCE itself (RFC 2315).
int list_der(BIN *out, const ZQ_PKCS7_CONTENT &content) {
    const BIN &v = *content.value;
    if (v.value[0] == tlv::kSequence) return QRT_BIN_Copy(out, &v);
    if ((v.value[0] & ~0x20) != tlv::kOctetString) return QRT_CTL_BAD_CTL;
    if (int rc = QRT_PKCS7_Content_GetDigestMessage(out, &content)) return rc;
    return has_bytes(out) ? 0 : QRT_PKCS7_NO_CONTENT;
}

int decode_signed(BIN *ctlContent, BIN *signerOut, ZQ_BIN_LIST *others, const BIN &in, const BIN *verifyCert) {
    // one parse, in place for a message of definite lengths
    SignedHolder h;
    if (int rc = QRT_PKCS7_Signed_DecodeBin(&h.sd, &in, 0))
        return rc == QRT_PKCS7_UNKNOWN_TYPEID ? QRT_CTL_BAD_SIGNED : rc;
    if (!has_bytes(h.sd.content.value)) return QRT_PKCS7_NO_CONTENT;
    const ZQ_PKCS7_SIGNER_INFO *first = h.sd.signerInfos.first;
    // a list without a signer is not taken as verified
    if (!first) return QRT_PKCS7_NO_SIGNER_INFO;
    BinOwner found;
    const BIN *signer = signer_cert(*first, h.sd, found);
    const BIN *key = has_bytes(verifyCert) ? verifyCert : signer;
    if (!key) return QRT_PKCS7_NO_CERT;
    if (int rc = QRT_PKCS7_SignerInfo_Verify(first, &h.sd.content, key)) return rc;

    BinOwner list;
    if (int rc = list_der(list.get(), h.sd.content)) return rc;
    ZQ_BIN_LIST node{};
    if (int rc = other_certs(&node, h.sd, signer)) {
        QRT_BIN_LIST_Reset(&node);
        return rc;
    }
    *others = node;
    list.release_to(ctlContent);
    found.release_to(signerOut);
    return 0;
}

}  // namespace
}  // namespace ostrel::ctl

using namespace ostrel::ctl;

extern "C" {

QRT_API int QRT_CTL_EncodeSigned(BIN *out, const BIN *ctlContent, const BIN *signerCert, const BIN *signerKey,
                                 ZQ_BIN_LIST *certs, const BIN *extraCert) {
    if (!out) return QRT_CTL_INVALID_INPUT;
    *out = BIN{0, nullptr};
    if (!has_bytes(ctlContent) || !has_bytes(signerCert) || !has_bytes(signerKey)) return QRT_CTL_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        int rc = encode_signed(out, *ctlContent, *signerCert, *signerKey, certs, extraCert);
        if (rc) QRT_BIN_Reset(out);
        return rc;
    });
}

QRT_API int QRT_CTL_DecodeSigned(BIN *ctlContent, BIN *signerCert, ZQ_BIN_LIST *otherCerts, const BIN *signedDER,
                                 const BIN *verifyCert) {
    if (!ctlContent || !signerCert || !otherCerts) return QRT_CTL_INVALID_INPUT;
    *ctlContent = BIN{0, nullptr};
    *signerCert = BIN{0, nullptr};
    std::memset(otherCerts, 0, sizeof *otherCerts);
    if (!has_bytes(signedDER)) return QRT_CTL_INVALID_INPUT;
    return OSTREL_GUARD_TRACE(
        [&] { return decode_signed(ctlContent, signerCert, otherCerts, *signedDER, verifyCert); });
}

}  // extern "C"
