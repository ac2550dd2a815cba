// Path building and verification: the issuer search (depth first, verified top-down on the way
// back), the candidate sources, trust lists, the link checks in their order, revocation through
// OCSP and CRLs, and the store walk. One validation is bounded: PVD_MAX_DEPTH levels, at most
// PVD_MAX_CANDIDATES candidates and PVD_MAX_LDAP_CALLS directory calls, and a certificate already
// on the path being built is never a candidate again, so cross-certified CAs cannot loop.
#include <cctype>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>

#include "pvd_internal.h"
#include "suite_pkc.h"

namespace ostrel::pvd {
namespace {

// ---- small owners ----

struct InterObjectOwner {
    ZQ_PVD_InterObject obj{};
    InterObjectOwner() = default;
    InterObjectOwner(const InterObjectOwner &) = delete;
    InterObjectOwner &operator=(const InterObjectOwner &) = delete;
    ~InterObjectOwner() { QRT_PVD_InterObject_Reset(&obj); }
};

struct CursorOwner {
    ZQ_PVD_BuildCursor cur{};
    CursorOwner() = default;
    explicit CursorOwner(int stage) { cur.stage = stage; }
    CursorOwner(const CursorOwner &) = delete;
    CursorOwner &operator=(const CursorOwner &) = delete;
    ~CursorOwner() { QRT_PVD_BuildCursor_Reset(&cur); }
};

struct NodeOwner {
    ZQ_PVD_InterObjectList *node = QRT_PVD_InterObjectList_New();
    NodeOwner() = default;
    NodeOwner(const NodeOwner &) = delete;
    NodeOwner &operator=(const NodeOwner &) = delete;
    ~NodeOwner() { QRT_PVD_InterObjectList_Free(node); }
};

struct StateOwner {
    ZQ_PVD_StateVars *vars = static_cast<ZQ_PVD_StateVars *>(QRT_calloc(1, sizeof(ZQ_PVD_StateVars)));
    StateOwner() = default;
    StateOwner(const StateOwner &) = delete;
    StateOwner &operator=(const StateOwner &) = delete;
    ~StateOwner() {
        if (!vars) return;
        QRT_PVD_StateVars_Reset(vars);
        QRT_free(vars);
    }
};

// Releases a cursor's fetched candidates; its stage stays and its next fetch is still to be made.
void cursor_clear(ZQ_PVD_BuildCursor &cursor) {
    QRT_BIN_LIST_Free(cursor.candidates);
    cursor.candidates = nullptr;
    cursor.next = nullptr;
    cursor.fetched = 0;
}

bool flagged(const ZQ_PVD_Context &ctx, int flag) { return (ctx.flags & flag) != 0; }
// A validation that skipped a check must not teach the cache or the store anything.
bool may_remember(const ZQ_PVD_Context &ctx) { return !flagged(ctx, PVD_FLAG_NO_SIGN | PVD_FLAG_NO_TIME); }

bool dn_equal(const char *a, const char *b) {
    return a && b &&
           QRT_PVD_String_SimpleCompare(a, static_cast<int>(std::strlen(a)), b, static_cast<int>(std::strlen(b))) == 0;
}

const BIN *ext_value(const Extensions exts, const ObjectID &oid, int *critical = nullptr) {
    const Extension *e = QRT_GetExtension(exts, &oid);
    if (critical) *critical = e && (e->bit_mask & Extension_critical_present) && e->critical ? 1 : 0;
    return e ? &e->extnValue : nullptr;
}

// ---- candidate sources ----

// Every certificate of the input lists that may issue for dn, in order: CAs of otherCerts, then
// roots of trustCerts; copies, so the lists stay whole for later searches.
int input_candidates(const ZQ_PVD_Context &ctx, ZQ_BIN_LIST **out, const char *dn) {
    *out = nullptr;
    ListOwner list;
    ZQ_BIN_LIST *tail = nullptr;
    const int dnlen = static_cast<int>(std::strlen(dn));
    auto collect = [&](const ZQ_PVD_InterObjectList *l, int typeID) -> int {
        for (const ZQ_PVD_InterObjectList *p = l; p; p = p->next) {
            const ZQ_PVD_InterObject &o = p->value;
            if (o.typeID != typeID || !o.subjectDN || !has_bytes(&o.encObj)) continue;
            if (QRT_PVD_String_SimpleCompare(o.subjectDN, static_cast<int>(std::strlen(o.subjectDN)), dn, dnlen) != 0)
                continue;
            ZQ_BIN_LIST *node = tail ? QRT_BIN_LIST_New() : list.head;
            if (!node) return QRT_PVD_MALLOC_FAILED;
            if (tail) tail->next = node;
            tail = node;
            if (QRT_BIN_Copy(&node->value, &o.encObj)) return QRT_PVD_MALLOC_FAILED;
        }
        return 0;
    };
    if (int rc = collect(ctx.otherCerts, PVD_TYPE_CA)) return rc;
    if (int rc = collect(ctx.trustCerts, PVD_TYPE_ROOT)) return rc;
    if (tail) *out = list.release();
    return 0;
}

int next_cert(ZQ_PVD_Context &ctx, ZQ_PVD_BuildCursor &cursor, ZQ_PVD_InterObject &out, const char *dn,
              const char *crldpURL) {
    if (cursor.stage < PVD_STAGE_INPUT) {
        cursor_clear(cursor);
        cursor.stage = PVD_STAGE_INPUT;
    }
    BinOwner der;
    while (cursor.stage < PVD_STAGE_END) {
        int rc = QRT_PVD_CERT_NOT_FOUND;
        switch (cursor.stage) {
            case PVD_STAGE_INPUT:
                if (!cursor.fetched) {
                    ZQ_BIN_LIST *list = nullptr;
                    if (int e = input_candidates(ctx, &list, dn)) return e;
                    cursor_set(&cursor, list);
                }
                rc = cursor_take(&cursor, der.get()) ? 0 : QRT_PVD_CERT_NOT_FOUND;
                break;
            case PVD_STAGE_CACHE:
                rc = QRT_PVD_Cache_GetCert(&ctx, &cursor, der.get(), dn);
                break;
            case PVD_STAGE_STORE:
                rc = QRT_PVD_Store_GetCert(&ctx, &cursor, der.get(), dn);
                break;
            case PVD_STAGE_LDAP:
                if (!cursor.fetched && ctx.ldapCalls >= PVD_MAX_LDAP_CALLS) return QRT_PVD_PATH_NOT_FOUND;
                rc = QRT_PVD_LDAP_GetCert(&ctx, &cursor, der.get(), dn, crldpURL);
                break;
        }
        if (rc == 0) break;
        if (!is_not_found(rc)) return rc;
        QRT_PVD_BuildCursor_NextStage(&cursor);
    }
    if (cursor.stage >= PVD_STAGE_END) return QRT_PVD_CERT_NOT_FOUND;
    if (++ctx.candidateCount > PVD_MAX_CANDIDATES) return QRT_PVD_PATH_NOT_FOUND;
    return QRT_PVD_InterObject_SetCert(&out, der.get(), 0, cursor.stage);
}

int next_ctl(ZQ_PVD_Context &ctx, ZQ_PVD_BuildCursor &cursor, ZQ_PVD_InterObject &out, const BIN &root) {
    if (cursor.stage < PVD_STAGE_CACHE) {  // the input lists hold no trust lists
        cursor_clear(cursor);
        cursor.stage = PVD_STAGE_CACHE;
        cursor.ldapIndex = 0;
    }
    BinOwner der;
    while (cursor.stage < PVD_STAGE_END) {
        while (cursor.ldapIndex < ctx.ldapInfon) {
            const char *name = ctx.ldapInfos[cursor.ldapIndex].ctlDN;
            int rc = QRT_PVD_CTL_NOT_FOUND;
            if (name && *name) {
                switch (cursor.stage) {
                    case PVD_STAGE_CACHE:
                        rc = QRT_PVD_Cache_GetCTL(&ctx, &cursor, der.get(), name);
                        break;
                    case PVD_STAGE_STORE:
                        rc = QRT_PVD_Store_GetCTL(&ctx, &cursor, der.get(), name);
                        break;
                    case PVD_STAGE_LDAP:
                        if (!cursor.fetched && ctx.ldapCalls >= PVD_MAX_LDAP_CALLS) return QRT_PVD_PATH_NOT_FOUND;
                        rc = QRT_PVD_LDAP_GetCTL(&ctx, &cursor, der.get(), name);
                        break;
                }
            }
            if (rc != 0) {
                if (!is_not_found(rc)) return rc;
                cursor_clear(cursor);  // this entry is done: the next one
                ++cursor.ldapIndex;
                continue;
            }
            int loaded = QRT_PVD_InterObject_SetCTL(&out, der.get(), name, cursor.stage);
            QRT_BIN_Reset(der.get());
            if (loaded != 0) return QRT_PVD_CTL_INVALID;
            if (QRT_PVD_IsTrusted(&out, &root)) {
                if (++ctx.candidateCount > PVD_MAX_CANDIDATES) return QRT_PVD_PATH_NOT_FOUND;
                return 0;
            }
            QRT_PVD_InterObject_Reset(&out);
        }
        QRT_PVD_BuildCursor_NextStage(&cursor);
        cursor.ldapIndex = 0;
    }
    return QRT_PVD_CTL_NOT_FOUND;
}

// The subject's first distribution point URI holding "ldap://", from there to the end of its
// line; "" when there is none (http points and directoryName points carry no directory key).
int crldp_url(std::string &url, const ZQ_PVD_InterObject &subject) {
    url.clear();
    if (subject.typeID != PVD_TYPE_CERT && subject.typeID != PVD_TYPE_CA) return 0;
    if (!subject.crlDPs) return 0;
    for (CRLDistPointsSyntax dps = *subject.crlDPs; dps; dps = dps->next) {
        const DistributionPoint &dp = dps->value;
        if (!(dp.bit_mask & DistributionPoint_distributionPoint_present) ||
            dp.distributionPoint.choice != DistributionPointName_fullName_chosen)
            continue;
        for (GeneralNames n = dp.distributionPoint.u.fullName; n; n = n->next) {
            if (n->value.choice != GeneralName_uniformResourceIdentifier_chosen) continue;
            std::string_view uri = view_of(n->value.u.uniformResourceIdentifier);
            size_t at = uri.find("ldap://");
            if (at == std::string_view::npos) continue;
            uri = uri.substr(at);
            uri = uri.substr(0, uri.find_first_of("\r\n"));
            url.assign(uri);
            if (QRT_PVD_CRLDP_Decode(nullptr, nullptr, url.c_str()) != 0) return QRT_PVD_CERT_CRLDP_INVALID;
            return 0;
        }
    }
    return 0;
}

// The one issuer whose subscribers' CRLs are fetched from the directory only.
bool directory_only_issuer(const char *issuerDN) {
    if (!issuerDN) return false;
    static constexpr std::string_view kName = "CN=signGATE CA,OU=licensedCA,O=KICA,C=KR";
    std::string_view dn(issuerDN);
    if (dn.size() == kName.size()) {
        bool same = true;
        for (size_t i = 0; i < dn.size() && same; ++i)
            same =
                std::toupper(static_cast<unsigned char>(dn[i])) == std::toupper(static_cast<unsigned char>(kName[i]));
        if (same) return true;
    }
    return dn.find("SignGate") != std::string_view::npos;
}

int next_crl(ZQ_PVD_Context &ctx, int stage, BIN *out, int crlType, const char *dpKey, const char *issuerDN,
             const char *dpURL) {
    switch (stage) {
        case PVD_STAGE_INPUT:
            return issuerDN ? QRT_PVD_InterObjectList_GetCRL(ctx.otherCRLs, out, issuerDN) : QRT_PVD_CRL_NOT_FOUND;
        case PVD_STAGE_CACHE:
            return dpKey ? QRT_PVD_Cache_GetCRL(&ctx, out, crlType, dpKey) : QRT_PVD_CRL_NOT_FOUND;
        case PVD_STAGE_STORE:
            return dpKey ? QRT_PVD_Store_GetCRL(&ctx, out, crlType, dpKey) : QRT_PVD_CRL_NOT_FOUND;
        case PVD_STAGE_LDAP:
            if (ctx.ldapCalls >= PVD_MAX_LDAP_CALLS) return QRT_PVD_PATH_NOT_FOUND;
            return QRT_PVD_LDAP_GetCRL(&ctx, out, crlType, dpKey, issuerDN, dpURL);
        default:
            return QRT_PVD_INVALID_INPUT;
    }
}

// The first current CRL of the stages for subject: one of the caller's list is used where it
// lies (decoded once per validation), one from another stage is loaded into `loaded`; *found
// points at the one taken. dpKey receives the directory key ("" none).
int find_crl(ZQ_PVD_Context &ctx, ZQ_PVD_InterObject &loaded, const ZQ_PVD_InterObject *&found, std::string &dpKey,
             const ZQ_PVD_InterObject &subject, const ZQ_PVD_InterObject *issuer, long long t) {
    found = nullptr;
    const int kind = subject.typeID == PVD_TYPE_CERT ? PVD_TYPE_CRL : PVD_TYPE_ARL;
    const bool dirOnly = subject.typeID == PVD_TYPE_CERT && directory_only_issuer(subject.issuerDN);
    if (int rc = crldp_url(dpKey, subject)) return rc;
    const char *key = dpKey.empty() ? nullptr : dpKey.c_str();
    const char *issuerDN = issuer ? issuer->subjectDN : nullptr;
    int last = QRT_PVD_CRL_NOT_FOUND;
    for (int stage = dirOnly ? PVD_STAGE_LDAP : PVD_STAGE_INPUT; stage <= PVD_STAGE_LDAP; ++stage) {
        if (stage == PVD_STAGE_INPUT) {
            const ZQ_PVD_InterObject *in = QRT_PVD_InterObjectList_FindCRL(ctx.otherCRLs, issuerDN);
            if (!in) continue;
            int rc = QRT_PVD_AsnCRL_VerifyTime(static_cast<const CertificateList *>(in->pAsnObj), t);
            if (rc == 0) {
                found = in;
                return 0;
            }
            last = rc;  // not current: the next stage may hold a newer one
            continue;
        }
        BinOwner der;
        int rc = next_crl(ctx, stage, der.get(), kind, key, issuerDN, key);
        if (rc != 0) {
            if (!is_not_found(rc)) last = rc;
            continue;
        }
        if (int e = QRT_PVD_InterObject_SetCRL(&loaded, der.get(), kind, stage)) return e;
        rc = QRT_PVD_AsnCRL_VerifyTime(static_cast<const CertificateList *>(loaded.pAsnObj), t);
        if (rc == 0) {
            found = &loaded;
            return 0;
        }
        last = rc;
        QRT_PVD_InterObject_Reset(&loaded);
    }
    return last;
}

int crl_check_revoked(ZQ_PVD_Context &ctx, ZQ_PVD_InterObject &revInfo, const ZQ_PVD_InterObject &subject,
                      const ZQ_PVD_InterObject *issuer, long long t) {
    InterObjectOwner loaded;
    const ZQ_PVD_InterObject *crl = nullptr;
    std::string dpKey;
    if (int rc = find_crl(ctx, loaded.obj, crl, dpKey, subject, issuer, t)) return rc;
    // The CRL issuer's certificate: the subject's issuer when the names agree, else the first
    // certificate the sources hold for the CRL's issuer name (none: its key usage is not known).
    const ZQ_PVD_InterObject *crlIssuer = nullptr;
    InterObjectOwner other;
    const char *crlDN = crl->issuerDN;
    if (issuer && crlDN && issuer->subjectDN && std::strncmp(crlDN, issuer->subjectDN, std::strlen(crlDN)) == 0) {
        crlIssuer = issuer;
    } else if (crlDN) {
        CursorOwner cursor;
        if (next_cert(ctx, cursor.cur, other.obj, crlDN, nullptr) == 0) crlIssuer = &other.obj;
    }
    if (crl != &loaded.obj) return QRT_PVD_CRL_CheckFoundInPlace(&ctx, &revInfo, crl, &subject, crlIssuer);
    if (int rc = QRT_PVD_CRL_CheckFound(&ctx, &revInfo, &loaded.obj, &subject, crlIssuer)) return rc;
    // Verified: now the CRL may be remembered (adds never fail a validation).
    if (!dpKey.empty() && may_remember(ctx)) {
        QRT_PVD_Store_AddCRL(&ctx, dpKey.c_str(), &revInfo);
        QRT_PVD_Cache_AddCRL(&ctx, dpKey.c_str(), &revInfo);
    }
    return 0;
}

int check_revoked(ZQ_PVD_Context &ctx, ZQ_PVD_InterObject &revInfo, const ZQ_PVD_InterObject &cert,
                  const ZQ_PVD_InterObject *issuer, long long t) {
    if (QRT_PVD_OCSP_IsPossible(&ctx, &cert)) {
        int rc = QRT_PVD_OCSP_CheckRevoked(&ctx, &revInfo, &cert, t);
        if (rc == 0 || rc == QRT_PVD_CERT_REVOKED) return rc;  // other failures: the CRL decides
    }
    if (flagged(ctx, PVD_FLAG_NO_CRL)) return 0;
    return QRT_PVD_CRL_CheckRevoked(&ctx, &revInfo, &cert, issuer, t);
}

// ---- link checks ----

int check_x509(ZQ_PVD_Context &ctx, const ZQ_PVD_InterObject &cert) {
    const Certificate *c = cert_tree(&cert);
    const Extensions exts = c->tbsCertificate.extensions;
    ZQ_PVD_StateVars &vars = ctx.vars;
    if (int rc = QRT_PVD_CheckCriticalExts(exts, PVD_EXTS_CERT)) return rc;
    if (flagged(ctx, PVD_FLAG_KEY_ONLY)) return QRT_PVD_StateVars_InitPubKey(&vars, &cert);
    const bool isTarget = QRT_PVD_StateVars_IsTarget(&vars) != 0;
    const bool policies = !flagged(ctx, PVD_FLAG_NO_POLICY);
    if (!(cert.selfSigned && !isTarget))
        if (int rc = QRT_PVD_CheckNameConsts(&vars, &cert)) return rc;
    int critical = 0;
    const BIN *cp = ext_value(exts, id_ce_certificatePolicies, &critical);
    const BIN *pc = ext_value(exts, id_ce_policyConstraints);
    if (policies)
        if (int rc = QRT_PVD_Policy_CheckCert(&vars, ctx.flags, cp, critical)) return rc;
    if (isTarget) {
        if (policies)
            if (int rc = QRT_PVD_Policy_CheckTarget(&vars, pc, cert.selfSigned)) return rc;
        return QRT_PVD_StateVars_InitPubKey(&vars, &cert);
    }
    // a CA below the trust anchor
    if (policies)
        if (int rc =
                QRT_PVD_Policies_ApplyPolicyMapping(&vars, &vars.validPolicies, ext_value(exts, id_ce_policyMappings)))
            return rc;
    if (int rc = QRT_PVD_StateVars_InitPubKey(&vars, &cert)) return rc;
    if (int rc = QRT_PVD_UpdateNameConsts(&vars, &cert)) return rc;
    if (policies)
        if (int rc = QRT_PVD_Policy_CheckCA(&vars, pc, ext_value(exts, id_ce_inhibitAnyPolicy), cert.selfSigned))
            return rc;
    if (int rc = QRT_PVD_CheckBasicConsts(&vars, exts, cert.selfSigned)) return rc;
    return QRT_PVD_AsnExts_CheckKeyUsage(exts, KeyUsage_keyCertSign, 0);
}

int root_code(int rc) {
    if (rc == QRT_PVD_CERT_SIGN_INVALID) return QRT_PVD_ROOT_SIGN_INVALID;
    if (rc == QRT_PVD_CERT_NOT_YET_VALID) return QRT_PVD_ROOT_NOT_YET_VALID;
    if (rc == QRT_PVD_CERT_EXPIRED) return QRT_PVD_ROOT_EXPIRED;
    return rc;
}

int verify_pair(ZQ_PVD_Context &ctx, ZQ_PVD_InterObject *revInfo, ZQ_PVD_InterObject &cert, ZQ_PVD_InterObject *issuer,
                long long t) {
    if (cert.typeID == PVD_TYPE_CTL) return QRT_PVD_CTL_VerifyPair(&ctx, &cert, issuer, t);
    const Certificate *c = cert_tree(&cert);
    if (!c) return QRT_PVD_INVALID_INPUT;
    const bool root = cert.typeID == PVD_TYPE_ROOT;
    if (root && issuer) {
        // a root from the directory, trusted through the trust list above it
        if (issuer->typeID != PVD_TYPE_CTL || !QRT_PVD_IsTrusted(issuer, &cert.encObj)) return QRT_PVD_PATH_INVALID;
        QRT_PVD_StateVars_ResetAsRoot(&ctx.vars);
        if (int rc = QRT_PVD_StateVars_InitPubKey(&ctx.vars, &cert)) return rc;
    }
    if (!flagged(ctx, PVD_FLAG_NO_SIGN) && cert.source != PVD_SOURCE_CACHE)
        if (QRT_PVD_AsnCert_VerifySignature(c, &ctx.vars) != 0)
            return root ? QRT_PVD_ROOT_SIGN_INVALID : QRT_PVD_CERT_SIGN_INVALID;
    if (!flagged(ctx, PVD_FLAG_NO_TIME))
        if (int rc = QRT_PVD_AsnCert_VerifyTime(c, t)) return root ? root_code(rc) : rc;
    if (root) {
        QRT_PVD_StateVars_Downward(&ctx.vars);
        return 0;
    }
    if (!revInfo) return QRT_PVD_INVALID_INPUT;
    if (int rc = QRT_PVD_CheckRevoked(&ctx, revInfo, &cert, issuer, t)) return rc;
    if (!dn_equal(cert.issuerDN, ctx.vars.pubKeyDN)) return QRT_PVD_CERT_NAME_MISMATCH;
    return QRT_PVD_CheckX509(&ctx, &cert);
}

// ---- the issuer search ----

// True when obj's encoding is already on the path from the target down to (excluding) stop.
bool on_path(const ZQ_PVD_Context &ctx, const ZQ_PVD_InterObjectList *stop, const ZQ_PVD_InterObject &obj) {
    for (const ZQ_PVD_InterObjectList *p = ctx.path; p && p != stop; p = p->next)
        if (same_bin(p->value.encObj, obj.encObj)) return true;
    return false;
}

// Forgets a candidate: what was built above it, its evidence and the state it changed.
int drop_candidate(ZQ_PVD_Context &ctx, ZQ_PVD_InterObjectList &issuerOut, ZQ_PVD_InterObjectList &revInfoOut,
                   const ZQ_PVD_StateVars &snapshot) {
    QRT_PVD_InterObjectList_Reset(&issuerOut);
    QRT_PVD_InterObjectList_Reset(&revInfoOut);
    return QRT_PVD_StateVars_Copy(&ctx.vars, &snapshot);
}

// Verifies one candidate: as the trust anchor, or by finding its own issuer first.
int try_candidate(ZQ_PVD_Context &ctx, ZQ_PVD_InterObjectList &issuerOut, ZQ_PVD_InterObjectList &revInfoOut,
                  long long t) {
    ZQ_PVD_InterObject &cand = issuerOut.value;
    if (cand.typeID == PVD_TYPE_ROOT && cand.source >= PVD_SOURCE_INPUT && cand.source <= PVD_SOURCE_STORE) {
        QRT_PVD_StateVars_SetAsRoot(&ctx.vars);
        if (int rc = QRT_PVD_StateVars_InitPubKey(&ctx.vars, &cand)) return rc;
        return QRT_PVD_VerifyCertPair(&ctx, nullptr, &issuerOut, nullptr, t);
    }
    if (cand.typeID == PVD_TYPE_CERT) return QRT_PVD_PATH_NOT_FOUND;
    issuerOut.next = QRT_PVD_InterObjectList_New();
    revInfoOut.next = QRT_PVD_InterObjectList_New();
    if (!issuerOut.next || !revInfoOut.next) return QRT_PVD_MALLOC_FAILED;
    if (int rc = QRT_PVD_GetIssuerCert(&ctx, issuerOut.next, revInfoOut.next, &issuerOut, t)) return rc;
    QRT_PVD_StateVars_CountLevel(&ctx.vars);
    return QRT_PVD_VerifyCertPair(&ctx, &revInfoOut.value, &issuerOut, issuerOut.next, t);
}

// Failures that end the whole search instead of dropping one candidate: the bounds of a
// validation and allocation.
bool ends_search(const ZQ_PVD_Context &ctx, int rc) {
    if (rc == QRT_PVD_PATH_LENGTH_EXCEED || rc == QRT_PVD_MALLOC_FAILED) return true;
    return rc == QRT_PVD_PATH_NOT_FOUND &&
           (ctx.candidateCount > PVD_MAX_CANDIDATES || ctx.ldapCalls >= PVD_MAX_LDAP_CALLS);
}

int get_issuer(ZQ_PVD_Context &ctx, ZQ_PVD_InterObjectList &issuerOut, ZQ_PVD_InterObjectList &revInfoOut,
               ZQ_PVD_InterObjectList &subjectNode, long long t) {
    const ZQ_PVD_InterObject &subject = subjectNode.value;
    QRT_PVD_StateVars_Upward(&ctx.vars);
    std::string url;
    if (int rc = crldp_url(url, subject)) return rc;
    const char *crldpURL = url.empty() ? nullptr : url.c_str();
    StateOwner snapshot;
    if (!snapshot.vars) return QRT_PVD_MALLOC_FAILED;
    if (int rc = QRT_PVD_StateVars_Copy(snapshot.vars, &ctx.vars)) return rc;

    CursorOwner cursor;
    int lastError = 0;
    const int notFound = subject.typeID == PVD_TYPE_ROOT ? QRT_PVD_ROOT_NOT_TRUSTED : QRT_PVD_CERT_NOT_FOUND;
    for (;;) {
        float score = 0.5f;
        ZQ_PVD_InterObject &cand = issuerOut.value;
        bool usable = true;
        if (subject.typeID == PVD_TYPE_ROOT) {
            int rc = next_ctl(ctx, cursor.cur, cand, subject.encObj);
            if (rc == QRT_PVD_CTL_NOT_FOUND) return lastError ? lastError : notFound;
            if (rc) return rc;
        } else {
            int rc = next_cert(ctx, cursor.cur, cand, subject.issuerDN ? subject.issuerDN : "", crldpURL);
            if (rc == QRT_PVD_CERT_NOT_FOUND) return lastError ? lastError : rc;
            if (rc) return rc;
            if (on_path(ctx, &issuerOut, cand)) {
                usable = false;
            } else if (subject.typeID != PVD_TYPE_CTL) {
                // a candidate outside its validity period or that does not chain is passed over
                const Certificate *c = cert_tree(&cand);
                if (!flagged(ctx, PVD_FLAG_NO_TIME) && QRT_PVD_AsnCert_VerifyTime(c, t) != 0)
                    usable = false;
                else if (QRT_PVD_CheckChain(&score, &subject, &cand) != 0)
                    usable = false;
            }
        }
        if (usable) {
            // A failing sub-path is a failing candidate: with only a key identifier to go by,
            // another certificate of the same name (a root beside a cross-certificate) may do.
            int rc = try_candidate(ctx, issuerOut, revInfoOut, t);
            if (rc == 0) break;
            if (flagged(ctx, PVD_FLAG_STRICT) || ends_search(ctx, rc)) return rc;
            lastError = rc;
            if (!(score > 0.0f && score < 1.0f)) return rc;
        }
        if (cursor.cur.stage > PVD_STAGE_STORE) return lastError ? lastError : notFound;
        if (int rc = drop_candidate(ctx, issuerOut, revInfoOut, *snapshot.vars)) return rc;
    }
    // Verified: remember where it came from, unless a check was skipped (adds never fail).
    const ZQ_PVD_InterObject &found = issuerOut.value;
    if (may_remember(ctx)) {
        if (found.typeID == PVD_TYPE_CTL) {
            QRT_PVD_Store_AddCTL(&ctx, &found);
            QRT_PVD_Cache_AddCTL(&ctx, &found);
        } else {
            QRT_PVD_Store_AddCert(&ctx, &found);
            QRT_PVD_Cache_AddCert(&ctx, &found);
        }
    }
    return 0;
}

// ---- the store walk ----

int store_walk(ZQ_PVD_Context &ctx, ZQ_PVD_CertPathResult *result, ZQ_PVD_InterObjectList &target, long long t) {
    if (target.value.typeID == PVD_TYPE_ROOT || target.value.selfSigned) return QRT_PVD_CERT_SELF_SIGNED;
    NodeOwner revs;
    if (!revs.node) return QRT_PVD_MALLOC_FAILED;
    ZQ_PVD_InterObjectList *cur = &target, *curRev = revs.node;
    int depth = 1;
    while (cur == &target || cur->value.typeID != PVD_TYPE_ROOT) {
        ZQ_PVD_InterObject &subject = cur->value;
        if (++depth > PVD_MAX_DEPTH) return QRT_PVD_PATH_LENGTH_EXCEED;
        BinOwner der;
        {
            CursorOwner cursor(PVD_STAGE_STORE);
            int rc = QRT_PVD_Store_GetCert(&ctx, &cursor.cur, der.get(), subject.issuerDN ? subject.issuerDN : "");
            if (rc) return rc;
        }
        auto *node = QRT_PVD_InterObjectList_New();
        auto *rev = QRT_PVD_InterObjectList_New();
        if (!node || !rev) {
            QRT_PVD_InterObjectList_Free(node);
            QRT_PVD_InterObjectList_Free(rev);
            return QRT_PVD_MALLOC_FAILED;
        }
        cur->next = node;
        curRev->next = rev;
        ZQ_PVD_InterObject &issuer = node->value;
        if (int rc = QRT_PVD_InterObject_SetCert(&issuer, der.get(), PVD_TYPE_CA, PVD_SOURCE_STORE)) return rc;
        if (issuer.selfSigned ||
            (issuer.subjectDN && issuer.issuerDN && std::strcmp(issuer.subjectDN, issuer.issuerDN) == 0))
            issuer.typeID = PVD_TYPE_ROOT;  // the walk ends here
        for (const ZQ_PVD_InterObjectList *p = &target; p != node; p = p->next)
            if (same_bin(p->value.encObj, issuer.encObj)) return QRT_PVD_PATH_NOT_FOUND;  // a cycle
        // the link: signature under the issuer's key, validity, revocation
        if (int rc = QRT_PVD_StateVars_InitPubKey(&ctx.vars, &issuer)) return rc;
        if (!flagged(ctx, PVD_FLAG_NO_SIGN))
            if (QRT_PVD_AsnCert_VerifySignature(cert_tree(&subject), &ctx.vars) != 0) return QRT_PVD_CERT_SIGN_INVALID;
        if (!flagged(ctx, PVD_FLAG_NO_TIME))
            if (int rc = QRT_PVD_AsnCert_VerifyTime(cert_tree(&subject), t)) return rc;
        if (int rc = QRT_PVD_CheckRevoked(&ctx, &curRev->value, &subject, &issuer, t)) return rc;
        cur = node;
        curRev = rev;
    }
    // the self-signed certificate from the store that ends the walk
    ZQ_PVD_InterObject &root = cur->value;
    if (int rc = QRT_PVD_StateVars_InitPubKey(&ctx.vars, &root)) return rc;
    if (!flagged(ctx, PVD_FLAG_NO_SIGN))
        if (QRT_PVD_AsnCert_VerifySignature(cert_tree(&root), &ctx.vars) != 0) return QRT_PVD_ROOT_SIGN_INVALID;
    if (!flagged(ctx, PVD_FLAG_NO_TIME))
        if (int rc = QRT_PVD_AsnCert_VerifyTime(cert_tree(&root), t)) return root_code(rc);
    if (!result) return 0;
    ZQ_PVD_ObjectList *path = nullptr, *evidence = nullptr;
    if (int rc = QRT_PVD_InterObjectList_ToObjList(&target, &path)) return rc;
    if (int rc = QRT_PVD_InterObjectList_ToObjList(revs.node, &evidence)) {
        QRT_PVD_ObjectList_Free(path);
        return rc;
    }
    result->certPath = path;
    result->revInfos = evidence;
    result->vrfyTime = static_cast<time_t>(t);
    return 0;
}

// ---- the whole validation ----

struct ContextOwner {
    ZQ_PVD_Context *ctx = static_cast<ZQ_PVD_Context *>(QRT_calloc(1, sizeof(ZQ_PVD_Context)));
    bool live = false;
    ContextOwner() = default;
    ContextOwner(const ContextOwner &) = delete;
    ContextOwner &operator=(const ContextOwner &) = delete;
    ~ContextOwner() {
        if (!ctx) return;
        if (live) QRT_PVD_ResetCTX(ctx);
        QRT_free(ctx);
    }
};

int verify_path(ZQ_PVD_CertPathResult *result, const ZQ_PVD_CertPathRequest &request, const ZQ_PVD_VerifyParam &param) {
    ContextOwner owner;
    if (!owner.ctx) return QRT_PVD_MALLOC_FAILED;
    ZQ_PVD_Context &ctx = *owner.ctx;
    if (int rc = QRT_PVD_InitCTX(&ctx, &request, &param)) return rc;
    owner.live = true;
    const long long t =
        request.vrfyTime ? static_cast<long long>(request.vrfyTime) : static_cast<long long>(std::time(nullptr));
    NodeOwner path, revs;
    if (!path.node || !revs.node) return QRT_PVD_MALLOC_FAILED;
    if (int rc = QRT_PVD_InterObject_SetCert(&path.node->value, &request.tgtCert.encObj, 0, PVD_SOURCE_INPUT))
        return rc;
    if (flagged(ctx, PVD_FLAG_STORE_CHAIN)) return QRT_PVD_VerifySFCertChain(&ctx, result, path.node, t);
    if (path.node->value.typeID == PVD_TYPE_ROOT) return QRT_PVD_CERT_SELF_SIGNED;
    path.node->next = QRT_PVD_InterObjectList_New();
    revs.node->next = QRT_PVD_InterObjectList_New();
    if (!path.node->next || !revs.node->next) return QRT_PVD_MALLOC_FAILED;
    ctx.path = path.node;
    if (int rc = QRT_PVD_GetIssuerCert(&ctx, path.node->next, revs.node->next, path.node, t)) return rc;
    QRT_PVD_StateVars_CountLevel(&ctx.vars);
    if (int rc = QRT_PVD_VerifyCertPair(&ctx, &revs.node->value, path.node, path.node->next, t)) return rc;
    if (!result) return 0;
    ZQ_PVD_ObjectList *certPath = nullptr, *evidence = nullptr;
    if (int rc = QRT_PVD_InterObjectList_ToObjList(path.node, &certPath)) return rc;
    if (int rc = QRT_PVD_InterObjectList_ToObjList(revs.node, &evidence)) {
        QRT_PVD_ObjectList_Free(certPath);
        return rc;
    }
    result->certPath = certPath;
    result->revInfos = evidence;
    result->vrfyTime = static_cast<time_t>(t);
    return 0;
}

}  // namespace
}  // namespace ostrel::pvd

using namespace ostrel::pvd;

extern "C" {

QRT_API int QRT_PVD_VerifyCertPath(ZQ_PVD_CertPathResult *result, ZQ_PVD_CertPathRequest *request,
                                   ZQ_PVD_VerifyParam *param) {
    if (!request || !param) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    int rc = contained([&] { return verify_path(result, *request, *param); });
    // The validation's verdict is recorded even when it is "not found".
    if (rc) ::ostrel::put_error(OSTREL_REASON_FN, __func__, rc, __FILE__, __LINE__);
    return rc;
}

QRT_API int QRT_PVD_GetIssuerCert(ZQ_PVD_Context *ctx, ZQ_PVD_InterObjectList *issuerOut,
                                  ZQ_PVD_InterObjectList *revInfoOut, ZQ_PVD_InterObjectList *subject, long long t) {
    if (!ctx || !issuerOut || !revInfoOut || !subject || !subject->value.pAsnObj)
        return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    if (ctx->depth >= PVD_MAX_DEPTH) return PVD_FAIL(QRT_PVD_PATH_LENGTH_EXCEED);
    ++ctx->depth;
    int rc = contained([&] { return get_issuer(*ctx, *issuerOut, *revInfoOut, *subject, t); });
    --ctx->depth;
    return PVD_FAIL(rc);
}

QRT_API int QRT_PVD_GetNextCert(ZQ_PVD_Context *ctx, ZQ_PVD_BuildCursor *cursor, ZQ_PVD_InterObject *out,
                                const char *dn, const char *crldpURL, long long) {
    if (!ctx || !cursor || !out || !dn) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    return PVD_FAIL(contained([&] { return next_cert(*ctx, *cursor, *out, dn, crldpURL); }));
}

QRT_API int QRT_PVD_GetNextCTL(ZQ_PVD_Context *ctx, ZQ_PVD_BuildCursor *cursor, ZQ_PVD_InterObject *out,
                               const BIN *rootEncoding) {
    if (!ctx || !cursor || !out || !has_bytes(rootEncoding)) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    return PVD_FAIL(contained([&] { return next_ctl(*ctx, *cursor, *out, *rootEncoding); }));
}

QRT_API int QRT_PVD_GetNextCRL(ZQ_PVD_Context *ctx, int stage, BIN *out, int crlType, const char *dpKey,
                               const char *issuerDN, const char *dpURL) {
    if (!ctx || !out) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    *out = BIN{0, nullptr};
    return PVD_FAIL(contained([&] { return next_crl(*ctx, stage, out, crlType, dpKey, issuerDN, dpURL); }));
}

QRT_API int QRT_PVD_GetCRLDPURL(char **url, const ZQ_PVD_InterObject *subject) {
    if (url) *url = nullptr;
    if (!url || !subject) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    return PVD_FAIL(contained([&] {
        std::string u;
        if (int rc = crldp_url(u, *subject)) return rc;
        if (!u.empty()) *url = dup_string(u);
        return 0;
    }));
}

QRT_API int QRT_PVD_FindCRL(ZQ_PVD_Context *ctx, ZQ_PVD_InterObject *crlOut, const ZQ_PVD_InterObject *subject,
                            const ZQ_PVD_InterObject *issuer, long long t) {
    if (!ctx || !crlOut || !cert_tree(subject)) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    QRT_PVD_InterObject_Reset(crlOut);
    return PVD_FAIL(contained([&] {
        std::string dpKey;
        const ZQ_PVD_InterObject *found = nullptr;
        if (int rc = find_crl(*ctx, *crlOut, found, dpKey, *subject, issuer, t)) return rc;
        if (found == crlOut) return 0;
        // one of the caller's list: the caller gets its own copy
        const int kind = subject->typeID == PVD_TYPE_CERT ? PVD_TYPE_CRL : PVD_TYPE_ARL;
        return QRT_PVD_InterObject_SetCRL(crlOut, &found->encObj, kind, found->source);
    }));
}

QRT_API int QRT_PVD_CRL_CheckRevoked(ZQ_PVD_Context *ctx, ZQ_PVD_InterObject *revInfo,
                                     const ZQ_PVD_InterObject *subject, const ZQ_PVD_InterObject *issuer, long long t) {
    if (!ctx || !revInfo || !cert_tree(subject)) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    return PVD_FAIL(contained([&] { return crl_check_revoked(*ctx, *revInfo, *subject, issuer, t); }));
}

QRT_API int QRT_PVD_CheckRevoked(ZQ_PVD_Context *ctx, ZQ_PVD_InterObject *revInfo, const ZQ_PVD_InterObject *cert,
                                 const ZQ_PVD_InterObject *issuer, long long t) {
    if (!ctx || !revInfo || !cert_tree(cert)) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    return PVD_FAIL(contained([&] { return check_revoked(*ctx, *revInfo, *cert, issuer, t); }));
}

QRT_API int QRT_PVD_CheckX509(ZQ_PVD_Context *ctx, const ZQ_PVD_InterObject *cert) {
    if (!ctx || !cert_tree(cert)) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    return PVD_FAIL(contained([&] { return check_x509(*ctx, *cert); }));
}

QRT_API int QRT_PVD_VerifyCertPair(ZQ_PVD_Context *ctx, ZQ_PVD_InterObject *revInfo, ZQ_PVD_InterObjectList *cert,
                                   ZQ_PVD_InterObjectList *issuerList, long long t) {
    if (!ctx || !cert) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    ZQ_PVD_InterObject *issuer = issuerList && issuerList->value.pAsnObj ? &issuerList->value : nullptr;
    return PVD_FAIL(contained([&] { return verify_pair(*ctx, revInfo, cert->value, issuer, t); }));
}

QRT_API int QRT_PVD_VerifySFCertChain(ZQ_PVD_Context *ctx, ZQ_PVD_CertPathResult *result,
                                      ZQ_PVD_InterObjectList *target, long long t) {
    if (!ctx || !target || !cert_tree(&target->value)) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    return PVD_FAIL(contained([&] { return store_walk(*ctx, result, *target, t); }));
}

}  // extern "C"
