// The checks of one path link and of one path certificate: name chaining, key identifiers,
// validity periods, signatures under the working key, basic constraints, key usage, directory
// name constraints and critical extensions. Each exported check records its failure under its
// own name; helpers here only return codes.
#include <cstdint>
#include <vector>

#include "ostrel/asn_tree.hpp"
#include "ostrel/reader.hpp"
#include "ostrel/tlv.hpp"
#include "ostrel/x509_sig.hpp"
#include "ostrel/x509_time.hpp"
#include "pvd_internal.h"
#include "suite_pkc.h"

namespace ostrel::pvd {
namespace {

constexpr unsigned char kPrintableString = 0x13;

// The tag and contents of a value holding one element of valid length; false otherwise.
bool value_parts(const Any &v, unsigned char &tag, std::string_view &contents) {
    if (!v.value || !v.length) return false;
    Reader r(v.value, v.length);
    Reader c(nullptr, 0);
    if (tlv::read_any(r, tag, c) != tlv::kOk) return false;
    contents = std::string_view(reinterpret_cast<const char *>(c.data()), c.remaining());
    return true;
}

bool attrib_equal(const AttributeTypeAndValue &a, const AttributeTypeAndValue &b) {
    if (!oid_equal(a.type, b.type)) return false;
    unsigned char ta = 0, tb = 0;
    std::string_view ca, cb;
    if (!value_parts(a.value, ta, ca) || !value_parts(b.value, tb, cb) || ta != tb) return false;
    if (ta == kPrintableString)
        return QRT_PVD_String_SimpleCompare(ca.data(), static_cast<int>(ca.size()), cb.data(),
                                            static_cast<int>(cb.size())) == 0;
    return ca == cb;
}

int check_akid(float &score, const Certificate &subject, const Certificate &candidate) {
    score = 0;
    AsnTree<AuthorityKeyIdentifier> aki(AuthorityKeyIdentifier_PDU);
    int rc = decode_ext(aki, subject.tbsCertificate.extensions, id_ce_authorityKeyIdentifier);
    if (rc == 0) return QRT_PVD_CERT_EXT_NOT_EXIST;
    if (rc < 0 || !(aki->bit_mask & AuthorityKeyIdentifier_keyIdentifier_present)) return QRT_PVD_CERT_EXT_INVALID;
    AsnTree<SubjectKeyIdentifier> ski(SubjectKeyIdentifier_PDU);
    rc = decode_ext(ski, candidate.tbsCertificate.extensions, id_ce_subjectKeyIdentifier);
    if (rc == 0) return QRT_PVD_CERT_EXT_NOT_EXIST;
    if (rc < 0) return QRT_PVD_CERT_EXT_INVALID;
    if (!same_bin(aki->keyIdentifier, *ski)) return QRT_PVD_CERT_KEYID_MISMATCH;
    score = 0.5f;
    const unsigned both =
        AuthorityKeyIdentifier_authorityCertIssuer_present | AuthorityKeyIdentifier_authorityCertSerialNumber_present;
    if ((aki->bit_mask & both) != both) return 0;
    GeneralNames gn = aki->authorityCertIssuer;
    if (!gn || gn->value.choice != GeneralName_directoryName_chosen) return QRT_PVD_CERT_EXT_INVALID;
    const HUGE &serial = aki->authorityCertSerialNumber;
    const HUGE &cs = candidate.tbsCertificate.serialNumber;
    if (!names_equal(gn->value.u.directoryName, candidate.tbsCertificate.issuer) || serial.length != cs.length ||
        (serial.length && std::memcmp(serial.value, cs.value, serial.length) != 0))
        return QRT_PVD_CERT_KEYID_MISMATCH;
    score = 1.0f;
    return 0;
}

// The full year of a Time; 0 for a Time of neither form.
int full_year(const Time &t) {
    if (t.choice == Time_utcTime_chosen) return x509_full_year(t.u.utcTime.year);
    if (t.choice == Time_generalTime_chosen) return t.u.generalTime.year;
    return 0;
}

constexpr int kLastYear = 2037, kFirstYear = 1970;

int cert_time(const Certificate &cert, long long t) {
    const Validity &v = cert.tbsCertificate.validity;
    long long nb = 0, na = 0;
    if (QRT_PVD_AsnTime_ToSeconds(&v.notBefore, &nb) != 0 || QRT_PVD_AsnTime_ToSeconds(&v.notAfter, &na) != 0)
        return QRT_PVD_CERT_INVALID;
    const int yb = full_year(v.notBefore), ya = full_year(v.notAfter);
    if (yb > kLastYear) return QRT_PVD_CERT_NOT_YET_VALID;
    if (yb >= kFirstYear && t < nb) return QRT_PVD_CERT_NOT_YET_VALID;
    if (ya < kFirstYear) return QRT_PVD_CERT_EXPIRED;
    if (ya > kLastYear) return 0;
    return t > na ? QRT_PVD_CERT_EXPIRED : 0;
}

int crl_time(const CertificateList &crl, long long t) {
    const TBSCertList &tbs = crl.tbsCertList;
    if (!(tbs.bit_mask & TBSCertList_nextUpdate_present)) return QRT_PVD_CRL_INVALID;
    long long nu = 0;
    if (QRT_PVD_AsnTime_ToSeconds(&tbs.nextUpdate, &nu) != 0) return QRT_PVD_CRL_INVALID;
    const int y = full_year(tbs.nextUpdate);
    if (y < kFirstYear) return QRT_PVD_CRL_EXPIRED;
    if (y > kLastYear) return 0;
    return nu < t ? QRT_PVD_CRL_EXPIRED : 0;
}

// Signature of a signed part through the provider's table, under the working key (the DER
// SubjectPublicKeyInfo) with the parameters in force.
int verify_signed(const AlgorithmIdentifier &alg, const Any &kept, const void *value, int pdu,
                  const BitString &signature, const ZQ_PVD_StateVars &vars, int bad) {
    if (!has_bytes(&vars.pubKey)) return bad;
    BIN params;
    ZQ_CSP_AlgID id = csp_alg_id(alg, params);
    KeptEncoding signed_part;
    if (signed_part.take(kept, value, pdu) != 0) return bad;
    BIN sig{(signature.length + 7) / 8, signature.value};
    const BIN *inherited = has_bytes(&vars.pubKeyParam) ? &vars.pubKeyParam : nullptr;
    return QRT_CSP_VerifySignedData(&id, signed_part.get(), &sig, &vars.pubKey, inherited) == 0 ? 0 : bad;
}

int basic_consts(ZQ_PVD_StateVars &vars, const Extensions exts, int selfSigned) {
    AsnTree<BasicConstraints> bc(BasicConstraints_PDU);
    int rc = decode_ext(bc, exts, id_ce_basicConstraints);
    if (rc == 0) return QRT_PVD_CERT_EXT_NOT_EXIST;
    if (rc < 0) return QRT_PVD_CERT_EXT_INVALID;
    if (!bc->cA) return QRT_PVD_CERT_BASIC_CONSTS_INVALID;
    if (!selfSigned) {
        if (vars.maxPathLength < 1) return QRT_PVD_CERT_BASIC_CONSTS_INVALID;
        --vars.maxPathLength;
    }
    if ((bc->bit_mask & BasicConstraints_pathLenConstraint_present) && bc->pathLenConstraint >= 0 &&
        bc->pathLenConstraint < vars.maxPathLength)
        vars.maxPathLength = bc->pathLenConstraint;
    return 0;
}

int key_usage(const Extensions exts, unsigned bit, int absentOK) {
    AsnTree<KeyUsage> ku(KeyUsage_PDU);
    int rc = decode_ext(ku, exts, id_ce_keyUsage);
    if (rc == 0) return absentOK ? 0 : QRT_PVD_CERT_EXT_NOT_EXIST;
    if (rc < 0) return QRT_PVD_CERT_EXT_INVALID;
    return (*ku & bit) == bit ? 0 : QRT_PVD_CERT_KEYUSAGE_INVALID;
}

// ---- Name constraints ----

bool covers(std::string_view base, std::string_view name) {
    if (base.empty() || base.size() > name.size()) return false;
    if (name.size() == base.size()) return name == base;
    return name.substr(name.size() - base.size()) == base && name[name.size() - base.size() - 1] == ',';
}

bool inside(const ZQ_PVD_NameSubtrees &set, std::string_view name, bool allCounts) {
    if (allCounts && set.isAll) return true;
    for (int i = 0; i < set.count; ++i)
        if (set.dn[i] && covers(set.dn[i], name)) return true;
    return false;
}

int name_allowed(const ZQ_PVD_StateVars &vars, std::string_view name) {
    if (!inside(vars.permitted, name, true) || inside(vars.excluded, name, false))
        return QRT_PVD_CERT_NAME_CONSTS_INVALID;
    return 0;
}

// The DN text of a Name (empty when it cannot be rendered).
std::string dn_string(const Name &name) {
    char *out = nullptr;
    std::string s;
    if (QRT_ExtractRDN(0, &name, &out) == 0 && out) s = out;
    QRT_free(out);
    return s;
}

int name_consts(const ZQ_PVD_StateVars &vars, const Certificate &cert, const char *subjectDN) {
    if (int rc = name_allowed(vars, subjectDN ? subjectDN : dn_string(cert.tbsCertificate.subject))) return rc;
    AsnTree<GeneralNames> san(SubjectAltName_PDU);
    int rc = decode_ext(san, cert.tbsCertificate.extensions, id_ce_subjectAltName);
    if (rc < 0) return QRT_PVD_CERT_EXT_INVALID;
    if (rc == 0) return 0;
    for (GeneralNames g = *san; g; g = g->next) {
        if (g->value.choice != GeneralName_directoryName_chosen) continue;
        if (int e = name_allowed(vars, dn_string(g->value.u.directoryName))) return e;
    }
    return 0;
}

// The directoryName bases of a subtree list as DN texts; 43052 for one that renders empty.
int bases_of(std::vector<std::string> &out, GeneralSubtrees list) {
    for (GeneralSubtrees s = list; s; s = s->next) {
        if (s->value.base.choice != GeneralName_directoryName_chosen) continue;
        std::string dn = dn_string(s->value.base.u.directoryName);
        if (dn.empty()) return QRT_PVD_CERT_NAME_CONSTS_INVALID;
        out.push_back(std::move(dn));
    }
    return 0;
}

// A set held as strings while it is rebuilt, then swapped into the state.
void add_unique(std::vector<std::string> &set, const std::string &s) {
    for (const std::string &x : set)
        if (x == s) return;
    set.push_back(s);
}

// Appends copies of set to t (empty on entry); on a throw the caller releases what t holds.
void store_set(ZQ_PVD_NameSubtrees &t, const std::vector<std::string> &set) {
    for (const std::string &s : set) {
        t.dn[t.count] = dup_string(s);
        ++t.count;
    }
}

int update_name_consts(ZQ_PVD_StateVars &vars, const Certificate &cert) {
    AsnTree<NameConstraints> nc(NameConstraints_PDU);
    int rc = decode_ext(nc, cert.tbsCertificate.extensions, id_ce_nameConstraints);
    if (rc == 0) return 0;
    if (rc < 0) return QRT_PVD_CERT_EXT_INVALID;
    std::vector<std::string> permitted, excluded, newPermitted, newExcluded;
    if (nc->bit_mask & NameConstraints_permittedSubtrees_present)
        if (int e = bases_of(permitted, nc->permittedSubtrees)) return e;
    if (nc->bit_mask & NameConstraints_excludedSubtrees_present)
        if (int e = bases_of(excluded, nc->excludedSubtrees)) return e;
    bool narrow = !permitted.empty();
    if (narrow && vars.permitted.isAll) {
        for (const std::string &b : permitted) add_unique(newPermitted, b);
    } else if (narrow) {
        for (int i = 0; i < vars.permitted.count; ++i) {
            std::string s = vars.permitted.dn[i] ? vars.permitted.dn[i] : "";
            for (const std::string &b : permitted) {
                if (covers(s, b))
                    add_unique(newPermitted, b);
                else if (covers(b, s))
                    add_unique(newPermitted, s);
            }
        }
    }
    for (int i = 0; i < vars.excluded.count; ++i) newExcluded.push_back(vars.excluded.dn[i] ? vars.excluded.dn[i] : "");
    for (const std::string &b : excluded) add_unique(newExcluded, b);
    if ((narrow && newPermitted.size() > PVD_MAX_SUBTREES) || newExcluded.size() > PVD_MAX_SUBTREES)
        return QRT_PVD_CERT_NAME_CONSTS_INVALID;
    // Both sets are built before either replaces the state's, so a failure leaves it as it was.
    ZQ_PVD_NameSubtrees p{}, x{};
    auto release = [](ZQ_PVD_NameSubtrees &s) {
        for (int i = 0; i < s.count; ++i) QRT_free(s.dn[i]);
        s = ZQ_PVD_NameSubtrees{};
    };
    try {
        if (narrow) store_set(p, newPermitted);
        store_set(x, newExcluded);
    } catch (...) {
        release(p);
        release(x);
        throw;
    }
    if (narrow) {
        release(vars.permitted);
        vars.permitted = p;
    }
    release(vars.excluded);
    vars.excluded = x;
    return 0;
}

// ---- Critical extensions ----

constexpr unsigned kCert = 1u << PVD_EXTS_CERT, kCrl = 1u << PVD_EXTS_CRL, kEntry = 1u << PVD_EXTS_CRL_ENTRY;

// Extensions the library reads, and where it reads them.
struct Processed {
    const ObjectID *oid;
    unsigned kinds;
};
const Processed kProcessed[] = {
    {&id_ce_basicConstraints, kCert},
    {&id_ce_keyUsage, kCert},
    {&id_ce_extKeyUsage, kCert},
    {&id_ce_certificatePolicies, kCert},
    {&id_ce_policyMappings, kCert},
    {&id_ce_policyConstraints, kCert},
    {&id_ce_inhibitAnyPolicy, kCert},
    {&id_ce_nameConstraints, kCert},
    {&id_ce_subjectAltName, kCert},
    {&id_ce_subjectKeyIdentifier, kCert},
    {&id_ce_authorityKeyIdentifier, kCert | kCrl},
    {&id_ce_cRLDistributionPoints, kCert},
    {&id_pe_authorityInfoAccess, kCert},
    {&id_ce_issuingDistributionPoint, kCrl},
    {&id_ce_cRLNumber, kCrl},
    {&id_ce_reasonCode, kEntry},
    {&id_ce_certificateIssuer, kEntry},
    {&id_ce_invalidityDate, kEntry},
};

bool processed(const ObjectID &oid, unsigned kind) {
    for (const Processed &p : kProcessed)
        if ((p.kinds & kind) && oid_equal(*p.oid, oid)) return true;
    return false;
}

}  // namespace

bool names_equal(const Name &a, const Name &b) {
    if (a.choice != Name_rdnSequence_chosen || b.choice != Name_rdnSequence_chosen) return false;
    RDNSequence ra = a.u.rdnSequence, rb = b.u.rdnSequence;
    for (; ra && rb; ra = ra->next, rb = rb->next) {
        RelativeDistinguishedName xa = ra->value, xb = rb->value;
        for (; xa && xb; xa = xa->next, xb = xb->next)
            if (!attrib_equal(xa->value, xb->value)) return false;
        if (xa || xb) return false;
    }
    return !ra && !rb;
}

}  // namespace ostrel::pvd

using namespace ostrel;
using namespace ostrel::pvd;

extern "C" {

QRT_API int QRT_PVD_String_TrilSpace(char *s, int *len) {
    if (!s || !len || *len < 0) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    int n = 0;
    for (int i = 0; i < *len; ++i)
        if (s[i] != ' ') s[n++] = s[i];
    *len = n;
    return 0;
}

QRT_API int QRT_PVD_String_ConvCapit(char *s, int len) {
    if (!s || len < 0) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    for (int i = 0; i < len; ++i)
        if (s[i] >= 'a' && s[i] <= 'z') s[i] = static_cast<char>(s[i] - 'a' + 'A');
    return 0;
}

QRT_API int QRT_PVD_AsnNameAttrib_Compare(const AttributeTypeAndValue *a, const AttributeTypeAndValue *b) {
    if (!a || !b) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    return attrib_equal(*a, *b) ? 0 : PVD_FAIL(QRT_PVD_CERT_NAME_MISMATCH);
}

QRT_API int QRT_PVD_AsnName_Compare(const Name *a, const Name *b) {
    if (!a || !b) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    return names_equal(*a, *b) ? 0 : PVD_FAIL(QRT_PVD_CERT_NAME_MISMATCH);
}

QRT_API int QRT_PVD_CheckNameChain(const Certificate *subject, const Certificate *candidate) {
    if (!subject || !candidate) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    return names_equal(subject->tbsCertificate.issuer, candidate->tbsCertificate.subject)
               ? 0
               : PVD_FAIL(QRT_PVD_CERT_NAME_MISMATCH);
}

QRT_API int QRT_PVD_CheckAKID(float *score, const Certificate *subject, const Certificate *candidate) {
    if (score) *score = 0;
    if (!score || !subject || !candidate) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    int rc = check_akid(*score, *subject, *candidate);
    if (rc) *score = 0;
    return PVD_FAIL(rc);
}

QRT_API int QRT_PVD_CheckChain(float *score, const ZQ_PVD_InterObject *subject, const ZQ_PVD_InterObject *candidate) {
    if (score) *score = 0;
    const Certificate *s = cert_tree(subject), *c = cert_tree(candidate);
    if (!score || !s || !c) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    if (QRT_PVD_CheckNameChain(s, c) != 0) return PVD_FAIL(QRT_PVD_CERT_NAME_MISMATCH);
    if (QRT_PVD_CheckAKID(score, s, c) != 0) return PVD_FAIL(QRT_PVD_CERT_KEYID_MISMATCH);  // score left at 0
    return 0;
}

QRT_API int QRT_PVD_AsnTime_ToSeconds(const Time *time, long long *out) {
    time_t s = 0;
    if (!time || !out || !ostrel::x509_time(*time, s)) return -1;
    *out = static_cast<long long>(s);
    return 0;
}

QRT_API int QRT_PVD_AsnCert_VerifyTime(const Certificate *cert, long long t) {
    if (!cert) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    return PVD_FAIL(cert_time(*cert, t));
}

QRT_API int QRT_PVD_AsnCRL_VerifyTime(const CertificateList *crl, long long t) {
    if (!crl) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    return PVD_FAIL(crl_time(*crl, t));
}

QRT_API void QRT_PVD_StateVars_ResetPubKey(ZQ_PVD_StateVars *vars) {
    if (!vars) return;
    QRT_BIN_Reset(&vars->pubKey);
    QRT_BIN_Reset(&vars->pubKeyParam);
    QRT_free(vars->pubKeyDN);
    vars->pubKeyDN = nullptr;
    vars->pubKeyAlg = 0;
}

QRT_API int QRT_PVD_StateVars_InitPubKey(ZQ_PVD_StateVars *vars, const ZQ_PVD_InterObject *cert) {
    const Certificate *c = cert_tree(cert);
    if (!vars || !c) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    int rc = contained([&] {
        const TBSCertificate &tbs = c->tbsCertificate;
        KeptEncoding spki;
        if (spki.take(tbs.subjectPublicKeyInfo_encoded, &tbs.subjectPublicKeyInfo, SubjectPublicKeyInfo_PDU) != 0)
            return QRT_PVD_CERT_INVALID;
        int alg = -1;
        BinOwner param;
        if (QRT_PKC_GetPubKeyInfo(&alg, nullptr, param.get(), &tbs) != 0) alg = -1;
        BinOwner key, kept;
        if (QRT_BIN_Copy(key.get(), spki.get()) != 0) return QRT_PVD_MALLOC_FAILED;
        if (has_bytes(param.get())) {
            if (QRT_BIN_Copy(kept.get(), param.get()) != 0) return QRT_PVD_MALLOC_FAILED;
        } else if (alg != -1 && alg == vars->pubKeyAlg && has_bytes(&vars->pubKeyParam)) {
            if (QRT_BIN_Copy(kept.get(), &vars->pubKeyParam) != 0) return QRT_PVD_MALLOC_FAILED;
        }
        char *dn = dup_string(cert->subjectDN ? std::string(cert->subjectDN) : dn_string(tbs.subject));
        QRT_PVD_StateVars_ResetPubKey(vars);
        vars->pubKeyAlg = alg;
        vars->pubKey = *key.get();
        *key.get() = BIN{0, nullptr};
        vars->pubKeyParam = *kept.get();
        *kept.get() = BIN{0, nullptr};
        vars->pubKeyDN = dn;
        return 0;
    });
    return PVD_FAIL(rc);
}

QRT_API int QRT_PVD_AsnCert_VerifySignature(const Certificate *cert, const ZQ_PVD_StateVars *vars) {
    if (!cert || !vars) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    int rc = contained([&] {
        return verify_signed(cert->signatureAlgorithm, cert->tbsCertificate_encoded, &cert->tbsCertificate,
                             TBSCertificate_PDU, cert->signature, *vars, QRT_PVD_CERT_SIGN_INVALID);
    });
    return PVD_FAIL(rc);
}

QRT_API int QRT_PVD_AsnCRL_VerifySignature(const CertificateList *crl, const ZQ_PVD_StateVars *vars) {
    if (!crl || !vars) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    int rc = contained([&] {
        return verify_signed(crl->signatureAlgorithm, crl->tbsCertList_encoded, &crl->tbsCertList, TBSCertList_PDU,
                             crl->signature, *vars, QRT_PVD_CRL_SIGN_INVALID);
    });
    return PVD_FAIL(rc);
}

QRT_API int QRT_PVD_ObjID_To_SignID(const AlgorithmIdentifier *alg) {
    if (!alg) return -1;
    BIN params;
    ZQ_CSP_AlgID id = ostrel::csp_alg_id(*alg, params);
    ZQ_CSP_SigAlg sa{};
    return QRT_CSP_SigAlg_FromAlgID(&sa, &id) == 0 ? sa.signID : -1;
}

QRT_API int QRT_PVD_CheckBasicConsts(ZQ_PVD_StateVars *vars, const Extensions exts, int selfSigned) {
    if (!vars) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    return PVD_FAIL(basic_consts(*vars, exts, selfSigned));
}

QRT_API int QRT_PVD_AsnExts_CheckKeyUsage(const Extensions exts, unsigned bit, int absentOK) {
    return PVD_FAIL(key_usage(exts, bit, absentOK));
}

QRT_API int QRT_PVD_NameConsts_Covers(const char *base, const char *name) {
    return base && name && covers(base, name) ? 1 : 0;
}

QRT_API int QRT_PVD_CheckNameConsts(const ZQ_PVD_StateVars *vars, const ZQ_PVD_InterObject *cert) {
    const Certificate *c = cert_tree(cert);
    if (!vars || !c) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    return PVD_FAIL(contained([&] { return name_consts(*vars, *c, cert->subjectDN); }));
}

QRT_API int QRT_PVD_UpdateNameConsts(ZQ_PVD_StateVars *vars, const ZQ_PVD_InterObject *cert) {
    const Certificate *c = cert_tree(cert);
    if (!vars || !c) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    return PVD_FAIL(contained([&] { return update_name_consts(*vars, *c); }));
}

QRT_API int QRT_PVD_CheckCriticalExts(const Extensions exts, int kind) {
    if (kind != PVD_EXTS_CERT && kind != PVD_EXTS_CRL && kind != PVD_EXTS_CRL_ENTRY)
        return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    for (Extensions e = exts; e; e = e->next) {
        const Extension &x = e->value;
        if (!x.critical) continue;
        if (!processed(x.extnID, 1u << kind))
            return PVD_FAIL(kind == PVD_EXTS_CERT ? QRT_PVD_CERT_EXT_INVALID : QRT_PVD_CRL_EXT_INVALID);
    }
    return 0;
}

}  // extern "C"
