// Revocation and trust-list checks on objects already found: the scope of a CRL (key identifiers,
// issuer names, distribution points), a certificate's status in it, the checks of a CRL once
// found, a trust list's membership, signer, signature and validity, and the OCSP step through
// the caller's callback. Each exported check records its failure under its own name.
#include <cstring>
#include <string>
#include <string_view>

#include "ostrel/asn_tree.hpp"
#include "pvd_internal.h"
#include "suite_csp.h"
#include "suite_pkc.h"

namespace ostrel::pvd {
namespace {

// ---- CRL scope ----

int crl_akid(const CertificateList &crl, const Certificate &subject) {
    AsnTree<AuthorityKeyIdentifier> ca(AuthorityKeyIdentifier_PDU), sa(AuthorityKeyIdentifier_PDU);
    int rc = decode_ext(ca, crl.tbsCertList.crlExtensions, id_ce_authorityKeyIdentifier);
    if (rc == 0) return QRT_PVD_CRL_EXT_NOT_EXIST;
    if (rc < 0) return QRT_PVD_CRL_EXT_INVALID;
    rc = decode_ext(sa, subject.tbsCertificate.extensions, id_ce_authorityKeyIdentifier);
    if (rc == 0) return QRT_PVD_CERT_EXT_NOT_EXIST;
    if (rc < 0) return QRT_PVD_CERT_EXT_INVALID;
    constexpr unsigned kId = AuthorityKeyIdentifier_keyIdentifier_present;
    if (!(ca->bit_mask & kId) || !(sa->bit_mask & kId)) return QRT_PVD_CRL_EXT_INVALID;
    if (!same_bin(ca->keyIdentifier, sa->keyIdentifier)) return QRT_PVD_CRL_KEYID_MISMATCH;
    constexpr unsigned kBoth =
        AuthorityKeyIdentifier_authorityCertIssuer_present | AuthorityKeyIdentifier_authorityCertSerialNumber_present;
    if ((ca->bit_mask & kBoth) != kBoth) return 0;
    // The CRL names its issuer's issuer and serial: the subject's identifier must name the same.
    if ((sa->bit_mask & kBoth) != kBoth) return QRT_PVD_CRL_KEYID_MISMATCH;
    GeneralNames gc = ca->authorityCertIssuer, gs = sa->authorityCertIssuer;
    if (!gc || !gs || gc->value.choice != GeneralName_directoryName_chosen ||
        gs->value.choice != GeneralName_directoryName_chosen ||
        !names_equal(gc->value.u.directoryName, gs->value.u.directoryName) ||
        !same_bin(BIN{ca->authorityCertSerialNumber.length, ca->authorityCertSerialNumber.value},
                  BIN{sa->authorityCertSerialNumber.length, sa->authorityCertSerialNumber.value}))
        return QRT_PVD_CRL_KEYID_MISMATCH;
    return 0;
}

const DistributionPoint *first_dp(const ZQ_PVD_InterObject &subject) {
    return subject.crlDPs && *subject.crlDPs ? &(*subject.crlDPs)->value : nullptr;
}

// The first names of two distribution point names: both URIs equal byte for byte, or both
// directoryNames equal by name comparison.
bool dp_names_match(const DistributionPointName &a, const DistributionPointName &b) {
    if (a.choice != DistributionPointName_fullName_chosen || b.choice != DistributionPointName_fullName_chosen)
        return false;
    if (!a.u.fullName || !b.u.fullName) return false;
    const GeneralName &x = a.u.fullName->value, &y = b.u.fullName->value;
    if (x.choice != y.choice) return false;
    if (x.choice == GeneralName_uniformResourceIdentifier_chosen)
        return same_bin(x.u.uniformResourceIdentifier, y.u.uniformResourceIdentifier);
    if (x.choice == GeneralName_directoryName_chosen)
        return QRT_PVD_AsnName_Compare(&x.u.directoryName, &y.u.directoryName) == 0;
    return false;
}

int crl_scope(const ZQ_PVD_InterObject &crlObj, const CertificateList &crl, const ZQ_PVD_InterObject &subjObj,
              const Certificate &subject) {
    if (!crlObj.indirect)
        if (int rc = QRT_PVD_AsnCRL_CheckAKID(&crl, &subject)) return rc;
    const DistributionPoint *dp = first_dp(subjObj);
    const bool hasCrlIssuer = dp && (dp->bit_mask & DistributionPoint_cRLIssuer_present) && dp->cRLIssuer;
    if (crlObj.indirect && hasCrlIssuer && dp->cRLIssuer->value.choice == GeneralName_directoryName_chosen) {
        if (QRT_PVD_AsnName_Compare(&dp->cRLIssuer->value.u.directoryName, &crl.tbsCertList.issuer) != 0)
            return QRT_PVD_CRL_ISSUER_NAME_MISMATCH;
    }
    if (!hasCrlIssuer && QRT_PVD_AsnName_Compare(&crl.tbsCertList.issuer, &subject.tbsCertificate.issuer) != 0)
        return QRT_PVD_CRL_ISSUER_NAME_MISMATCH;
    const IssuingDistributionPoint *idp = crlObj.issuingDP;
    if (idp && (idp->bit_mask & IssuingDistributionPoint_distributionPoint_present) && dp &&
        (dp->bit_mask & DistributionPoint_distributionPoint_present) &&
        !dp_names_match(idp->distributionPoint, dp->distributionPoint))
        return QRT_PVD_CRL_ISSDP_NAME_MISMATCH;
    return 0;
}

// ---- Status in a CRL ----

// The matching entry's extensions: 43100 for a reasonCode or certificateIssuer that does not
// decode. *other: an indirect CRL names another issuer for the entry.
int entry_exts(const Extensions exts, bool indirect, const Name &subjectIssuer, bool &other, int &reason) {
    other = false;
    AsnTree<GeneralNames> ci(CertificateIssuer_PDU);
    int rc = decode_ext(ci, exts, id_ce_certificateIssuer);
    if (rc < 0) return QRT_PVD_CRL_EXT_INVALID;
    if (rc > 0 && indirect && *ci && (*ci)->value.choice == GeneralName_directoryName_chosen &&
        !names_equal((*ci)->value.u.directoryName, subjectIssuer)) {
        other = true;
        return 0;
    }
    AsnTree<CRLReason> rs(CRLReason_PDU);
    rc = decode_ext(rs, exts, id_ce_reasonCode);
    if (rc < 0) return QRT_PVD_CRL_EXT_INVALID;
    if (rc > 0) reason = *rs;
    return 0;
}

int crl_status(const ZQ_PVD_InterObject &crlObj, const CertificateList &crl, const Certificate &subject, int &reason) {
    reason = -1;
    const TBSCertList &tbs = crl.tbsCertList;
    if (QRT_PVD_CheckCriticalExts(tbs.crlExtensions, PVD_EXTS_CRL) != 0) return QRT_PVD_CRL_EXT_INVALID;
    if (!(tbs.bit_mask & TBSCertList_revokedCertificates_present)) return 0;
    const HUGE &serial = subject.tbsCertificate.serialNumber;
    const BIN want{serial.length, serial.value};
    bool revoked = false;
    int why = -1;
    // Every entry is walked: a critical entry extension the library does not process makes the
    // whole list unusable, wherever it sits.
    for (TBSCertList_revokedCertificates e = tbs.revokedCertificates; e; e = e->next) {
        const TBSCertList_revokedCertificates_Elem &v = e->value;
        const Extensions exts = (v.bit_mask & TBSCertList_revokedCertificates_Elem_crlEntryExtensions_present)
                                    ? v.crlEntryExtensions
                                    : nullptr;
        if (exts && QRT_PVD_CheckCriticalExts(exts, PVD_EXTS_CRL_ENTRY) != 0) return QRT_PVD_CRL_EXT_INVALID;
        if (revoked || !same_bin(BIN{v.userCertificate.length, v.userCertificate.value}, want)) continue;
        if (!exts) {
            revoked = true;
            continue;
        }
        bool other = false;
        int r = -1;
        if (int rc = entry_exts(exts, crlObj.indirect != 0, subject.tbsCertificate.issuer, other, r)) return rc;
        if (other) continue;
        revoked = true;
        why = r;
    }
    if (!revoked) return 0;
    reason = why;
    return QRT_PVD_CERT_REVOKED;
}

// ---- Trust lists ----

// The provider's hash of a trust list's subject algorithm; 0 for one the lists may not name.
int subject_hash(const ObjectID &alg) {
    if (oid_equal(alg, sha_1)) return QRT_CSP_HASH_SHA1;
    if (oid_equal(alg, md2)) return QRT_CSP_HASH_MD2;
    if (oid_equal(alg, md5)) return QRT_CSP_HASH_MD5;
    if (oid_equal(alg, hash160)) return QRT_CSP_HASH_HAS160;
    if (oid_equal(alg, sha_256)) return QRT_CSP_HASH_SHA256;  // what current lists use
    return 0;
}

bool is_trusted(const CertificateTrustList &ctl, const BIN &cert) {
    const int hash = subject_hash(ctl.subjectAlgorithm.algorithm);
    if (!hash || !(ctl.bit_mask & CertificateTrustList_trustedSubjects_present)) return false;
    BinOwner digest;
    if (QRT_CSP_Hash(digest.get(), &cert, hash) != 0) return false;
    for (CertificateTrustList_trustedSubjects s = ctl.trustedSubjects; s; s = s->next)
        if (same_bin(s->value.subjectIdentifier, *digest.get())) return true;
    return false;
}

int ctl_chain(const ZQ_PVD_InterObject &ctl, const ZQ_PVD_InterObject &root) {
    const Certificate *r = cert_tree(&root);
    if (!r || !ctl.signerID || !ctl.issuerDN || !root.subjectDN) return QRT_PVD_PATH_INVALID;
    if (std::strcmp(ctl.issuerDN, root.subjectDN) != 0) return QRT_PVD_PATH_INVALID;
    const HUGE &a = ctl.signerID->serialNumber, &b = r->tbsCertificate.serialNumber;
    return same_bin(BIN{a.length, a.value}, BIN{b.length, b.value}) ? 0 : QRT_PVD_PATH_INVALID;
}

int ctl_time(const CertificateTrustList &ctl, long long t) {
    if ((ctl.bit_mask & CertificateTrustList_version_present) && ctl.version != CertificateTrustList_version_v1)
        return QRT_PVD_CTL_INVALID;
    long long from = 0, until = 0;
    if (QRT_PVD_AsnTime_ToSeconds(&ctl.thisUpdate, &from) != 0) return QRT_PVD_CTL_INVALID;
    if (t < from) return QRT_PVD_CTL_NOT_YET_VALID;
    if (ctl.bit_mask & CertificateTrustList_nextUpdate_present) {
        if (QRT_PVD_AsnTime_ToSeconds(&ctl.nextUpdate, &until) != 0) return QRT_PVD_CTL_INVALID;
        if (t > until) return QRT_PVD_CTL_EXPIRED;
    }
    for (CertificateTrustList_subjectUsage u = ctl.subjectUsage; u; u = u->next)
        if (oid_equal(u->value, electronic_civil_application)) return 0;
    return QRT_PVD_CTL_INVALID;
}

// The signed data verified with the root's certificate, which must be the first signer's.
int ctl_signature(const ZQ_PVD_InterObject &ctl, const ZQ_PVD_InterObject &root) {
    if (!ctl.signedData || !has_bytes(&root.encObj)) return QRT_PVD_CTL_SIGN_INVALID;
    ZQ_PKCS7_BIN_SET *set = nullptr;
    if (QRT_PKCS7_BIN_SET_Add(&set, &root.encObj) != 0) {
        QRT_PKCS7_BIN_SET_Free(set);
        return QRT_PVD_MALLOC_FAILED;
    }
    BinOwner signer;
    int rc = QRT_PKCS7_Signed_Verify(ctl.signedData, nullptr, set, signer.get());
    QRT_PKCS7_BIN_SET_Free(set);
    // The lookup prefers the given certificate, but a signer embedded under another name must not
    // stand in for the root.
    if (rc != 0 || !same_bin(*signer.get(), root.encObj)) return QRT_PVD_CTL_SIGN_INVALID;
    return 0;
}

// ---- OCSP ----

constexpr std::string_view kOcspLine = "OCSP:", kHttp = "http://";

int ocsp_url(std::string &url, const Certificate &cert) {
    const Extensions exts = cert.tbsCertificate.extensions;
    if (!QRT_GetExtension(exts, &id_pe_authorityInfoAccess)) return QRT_PVD_OCSP_ERROR;
    char text[sizeof(CertInfo{}.sAIAs)] = {};
    if (QRT_GetAIA(text, exts) != 0) return QRT_PVD_CERT_AIA_INVALID;
    std::string_view all(text, ::strnlen(text, sizeof text));
    // The first OCSP line only: its URL ends at the line's end, never in a later line.
    for (size_t pos = 0; pos <= all.size();) {
        size_t end = all.find('\n', pos);
        if (end == std::string_view::npos) end = all.size();
        std::string_view line = all.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.substr(0, kOcspLine.size()) == kOcspLine) {
            size_t h = line.find(kHttp);
            if (h == std::string_view::npos) return QRT_PVD_CERT_AIA_INVALID;
            url.assign(line.substr(h));
            return 0;
        }
        pos = end + 1;
    }
    return QRT_PVD_CERT_AIA_INVALID;
}

bool ocsp_signer(const Extensions exts) {
    AsnTree<ExtKeyUsageSyntax> eku(ExtKeyUsageSyntax_PDU);
    if (decode_ext(eku, exts, id_ce_extKeyUsage) <= 0) return false;
    for (ExtKeyUsageSyntax k = *eku; k; k = k->next)
        if (oid_equal(k->value, id_kp_OCSPSigning)) return true;
    return false;
}

// Releases what the callback left in its answer.
struct OcspAnswer {
    ZQ_PVD_OCSPResult r{};
    OcspAnswer() = default;
    OcspAnswer(const OcspAnswer &) = delete;
    OcspAnswer &operator=(const OcspAnswer &) = delete;
    ~OcspAnswer() { QRT_BIN_Reset(&r.response); }
};

// The checks of a CRL found for subject, in order: scope, the CRL issuer's cRLSign (when its
// certificate is known), the signature (not for a cached CRL), the subject's entry.
int check_found(ZQ_PVD_Context &ctx, const ZQ_PVD_InterObject &crl, const ZQ_PVD_InterObject &subject,
                const ZQ_PVD_InterObject *crlIssuer) {
    if (int rc = QRT_PVD_CRL_CheckScope(&crl, &subject)) return rc;
    if (crlIssuer)
        if (int rc =
                QRT_PVD_AsnExts_CheckKeyUsage(cert_tree(crlIssuer)->tbsCertificate.extensions, KeyUsage_cRLSign, 1))
            return rc;
    if (crl.source != PVD_SOURCE_CACHE)
        if (int rc = QRT_PVD_AsnCRL_VerifySignature(crl_tree(&crl), &ctx.vars)) return rc;
    return QRT_PVD_AsnCRL_CheckStatus(&crl, &subject, nullptr);
}

}  // namespace
}  // namespace ostrel::pvd

using namespace ostrel;
using namespace ostrel::pvd;

extern "C" {

QRT_API int QRT_PVD_AsnCRL_CheckAKID(const CertificateList *crl, const Certificate *subject) {
    if (!crl || !subject) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    return PVD_FAIL(contained([&] { return crl_akid(*crl, *subject); }));
}

QRT_API int QRT_PVD_CRL_CheckScope(const ZQ_PVD_InterObject *crl, const ZQ_PVD_InterObject *subject) {
    const CertificateList *c = crl_tree(crl);
    const Certificate *s = cert_tree(subject);
    if (!c || !s) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    return PVD_FAIL(contained([&] { return crl_scope(*crl, *c, *subject, *s); }));
}

QRT_API int QRT_PVD_AsnCRL_CheckStatus(const ZQ_PVD_InterObject *crl, const ZQ_PVD_InterObject *subject, int *reason) {
    if (reason) *reason = -1;
    const CertificateList *c = crl_tree(crl);
    const Certificate *s = cert_tree(subject);
    if (!c || !s) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    int why = -1;
    int rc = contained([&] { return crl_status(*crl, *c, *s, why); });
    if (rc == QRT_PVD_CERT_REVOKED && reason) *reason = why;
    return PVD_FAIL(rc);
}

QRT_API int QRT_PVD_CRL_CheckFound(ZQ_PVD_Context *ctx, ZQ_PVD_InterObject *revInfo, ZQ_PVD_InterObject *crl,
                                   const ZQ_PVD_InterObject *subject, const ZQ_PVD_InterObject *crlIssuer) {
    if (!ctx || !revInfo || !crl_tree(crl) || !cert_tree(subject) || (crlIssuer && !cert_tree(crlIssuer)))
        return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    if (int rc = check_found(*ctx, *crl, *subject, crlIssuer)) return PVD_FAIL(rc);
    // The evidence: the CRL itself, moved with its tree.
    QRT_PVD_InterObject_Reset(revInfo);
    *revInfo = *crl;
    std::memset(crl, 0, sizeof *crl);
    revInfo->typeID = PVD_TYPE_CRL;
    return 0;
}

QRT_API int QRT_PVD_CRL_CheckFoundInPlace(ZQ_PVD_Context *ctx, ZQ_PVD_InterObject *revInfo,
                                          const ZQ_PVD_InterObject *crl, const ZQ_PVD_InterObject *subject,
                                          const ZQ_PVD_InterObject *crlIssuer) {
    if (!ctx || !revInfo || !crl_tree(crl) || !cert_tree(subject) || (crlIssuer && !cert_tree(crlIssuer)))
        return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    if (int rc = check_found(*ctx, *crl, *subject, crlIssuer)) return PVD_FAIL(rc);
    // The evidence: a copy of the CRL's encoding.
    QRT_PVD_InterObject_Reset(revInfo);
    if (QRT_BIN_Copy(&revInfo->encObj, &crl->encObj)) return PVD_FAIL(QRT_PVD_MALLOC_FAILED);
    revInfo->typeID = PVD_TYPE_CRL;
    revInfo->source = crl->source;
    return 0;
}

QRT_API int QRT_PVD_IsTrusted(const ZQ_PVD_InterObject *ctl, const BIN *cert) {
    const CertificateTrustList *t = ctl_tree(ctl);
    if (!t || !has_bytes(cert)) return 0;
    return contained([&] { return is_trusted(*t, *cert) ? 1 : 0; }) == 1 ? 1 : 0;
}

QRT_API int QRT_PVD_CTL_CheckChain(const ZQ_PVD_InterObject *ctl, const ZQ_PVD_InterObject *root) {
    if (!ctl_tree(ctl) || !root) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    return PVD_FAIL(ctl_chain(*ctl, *root));
}

QRT_API int QRT_PVD_AsnCTL_Verify(const CertificateTrustList *ctl, long long t) {
    if (!ctl) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    return PVD_FAIL(ctl_time(*ctl, t));
}

QRT_API int QRT_PVD_CTL_VerifySignature(const ZQ_PVD_InterObject *ctl, const ZQ_PVD_InterObject *root) {
    if (!ctl_tree(ctl) || !cert_tree(root)) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    return PVD_FAIL(contained([&] { return ctl_signature(*ctl, *root); }));
}

QRT_API int QRT_PVD_CTL_VerifyPair(const ZQ_PVD_Context *ctx, const ZQ_PVD_InterObject *ctl,
                                   const ZQ_PVD_InterObject *root, long long t) {
    const CertificateTrustList *list = ctl_tree(ctl);
    if (!ctx || !list) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    if (!root || root->typeID != PVD_TYPE_ROOT || QRT_PVD_CTL_CheckChain(ctl, root) != 0)
        return PVD_FAIL(QRT_PVD_PATH_INVALID);
    if (!(ctx->flags & PVD_FLAG_NO_SIGN) && ctl->source != PVD_SOURCE_CACHE)
        if (int rc = QRT_PVD_CTL_VerifySignature(ctl, root)) return PVD_FAIL(rc);
    if (!(ctx->flags & PVD_FLAG_NO_TIME))
        if (int rc = QRT_PVD_AsnCTL_Verify(list, t)) return PVD_FAIL(rc);
    return 0;
}

QRT_API int QRT_PVD_OCSP_IsPossible(const ZQ_PVD_Context *ctx, const ZQ_PVD_InterObject *cert) {
    const Certificate *c = cert_tree(cert);
    if (!ctx || !c || (ctx->flags & PVD_FLAG_NO_OCSP) || cert->typeID != PVD_TYPE_CERT || !ctx->cb.CB_OCSP_CheckCert)
        return 0;
    return contained([&] { return ocsp_signer(c->tbsCertificate.extensions) ? 0 : 1; }) == 1 ? 1 : 0;
}

QRT_API int QRT_PVD_OCSP_GetURL(char **url, const ZQ_PVD_InterObject *cert) {
    if (url) *url = nullptr;
    const Certificate *c = cert_tree(cert);
    if (!url || !c) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    int rc = contained([&] {
        std::string u;
        if (int e = ocsp_url(u, *c)) return e;
        *url = dup_string(u);
        return 0;
    });
    return PVD_FAIL(rc);
}

QRT_API int QRT_PVD_OCSP_CheckRevoked(ZQ_PVD_Context *ctx, ZQ_PVD_InterObject *revInfo, const ZQ_PVD_InterObject *cert,
                                      long long t) {
    if (!ctx || !revInfo || !cert_tree(cert) || !ctx->cb.CB_OCSP_CheckCert) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    char *url = nullptr;
    if (int rc = QRT_PVD_OCSP_GetURL(&url, cert)) return PVD_FAIL(rc);
    OcspAnswer a;
    int cb = ctx->cb.CB_OCSP_CheckCert(&a.r, &cert->encObj, url);
    QRT_free(url);
    if (cb != 0 || (a.r.status != 0 && a.r.status != 1)) return PVD_FAIL(QRT_PVD_OCSP_ERROR);
    // An answer without nextUpdate (0) or one already stale says nothing about now.
    if (static_cast<long long>(a.r.nextUpdate) < t || a.r.nextUpdate == 0) return PVD_FAIL(QRT_PVD_OCSP_ERROR);
    if (a.r.status == 1) return PVD_FAIL(QRT_PVD_CERT_REVOKED);
    QRT_PVD_InterObject_Reset(revInfo);
    revInfo->typeID = PVD_TYPE_OCSP;
    revInfo->source = PVD_SOURCE_REQUEST;
    revInfo->encObj = a.r.response;
    a.r.response = BIN{0, nullptr};
    return 0;
}

}  // extern "C"
