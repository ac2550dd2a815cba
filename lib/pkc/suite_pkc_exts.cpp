// Text of the certificate extensions, one formatter per extension, for the certificate record
// and for viewers. Each decodes the extension's value by its PDU and writes into a field of
// fixed capacity, never past it.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <string>

#include "ostrel/asn_tree.hpp"
#include "ostrel/x509_time.hpp"
#include "pkc_certinfo.hpp"
#include "pkc_words.hpp"

namespace ostrel::pkc {
namespace {

using ostrel::AsnTree;

using Word = ostrel::pkc::UsageWord;

constexpr Word kNetscapeWords[] = {
    {NetscapeCertType_sslClient, "sslClient"},
    {NetscapeCertType_sslServer, "sslServer"},
    {NetscapeCertType_smime, "NetscapeCertType_smime"},
    {NetscapeCertType_objectSigning, "objectSigning"},
    {NetscapeCertType_provision, "provision"},
    {NetscapeCertType_sslCA, "sslCA"},
    {NetscapeCertType_smimeCA, "smimeCA"},
    {NetscapeCertType_objectSigningCA, "objectSigningCA"},
};

// ReasonFlags in the order the distribution-point text names them.
constexpr Word kReasonWords[] = {
    {ReasonFlags_unused, "unused"},
    {ReasonFlags_keyCompromise, "keyCompromise"},
    {ReasonFlags_cACompromise, "cACompromise"},
    {ReasonFlags_affiliationChanged, "affiliationChanged"},
    {ReasonFlags_superseded, "superseded"},
    {ReasonFlags_cessationOfOperation, "cessationOfOperation"},
    {ReasonFlags_certificateHold, "certificateHold"},
};

template <size_t N>
std::string words(const Word (&list)[N], unsigned int bits, const char *sep) {
    std::string s;
    for (const Word &w : list)
        if (bits & w.bit) (s += w.text) += sep;
    return s;
}

// The extension's value decoded by its PDU; `bad` when absent value or malformed.
template <class T>
int decode_ext(AsnTree<T> &tree, const Extension *ext, int bad) {
    if (!ext) return QRT_PKC_NO_EXTENSION;
    if (tree.decode(&ext->extnValue) != 0 || !tree) return bad;
    return 0;
}

// IPv6 text per RFC 5952: lowercase groups without leading zeros, the longest run of two or
// more zero groups (the first of equal runs) as "::", IPv4-mapped addresses in dotted form.
std::string ipv6_text(const unsigned char *p) {
    unsigned g[8];
    for (int i = 0; i < 8; ++i) g[i] = (p[2 * i] << 8) | p[2 * i + 1];
    char buf[64];
    if (!g[0] && !g[1] && !g[2] && !g[3] && !g[4] && g[5] == 0xffff) {
        std::snprintf(buf, sizeof buf, "::ffff:%u.%u.%u.%u", p[12], p[13], p[14], p[15]);
        return buf;
    }
    int best = -1, best_len = 0;
    for (int i = 0; i < 8;) {
        if (g[i]) {
            ++i;
            continue;
        }
        int j = i;
        while (j < 8 && !g[j]) ++j;
        if (j - i > best_len && j - i >= 2) best = i, best_len = j - i;
        i = j;
    }
    std::string s;
    for (int i = 0; i < 8; ++i) {
        if (i == best) {
            s += "::";
            i += best_len - 1;
            continue;
        }
        if (!s.empty() && s.back() != ':') s += ':';
        std::snprintf(buf, sizeof buf, "%x", g[i]);
        s += buf;
    }
    return s;
}

std::string ip_text(const BIN &ip) {
    const unsigned char *p = ip.value;
    if (ip.length == 4) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "IP=%u.%u.%u.%u", p[0], p[1], p[2], p[3]);
        return buf;
    }
    if (ip.length == 16) return "IP=" + ipv6_text(p);
    if (ip.length > 4) {
        std::string s = "IP=";
        append_hex(s, p, ip.length);
        return s;
    }
    return {};
}

// UTF-8 text into the locale's code set; the bytes as they are when they do not convert.
std::string from_utf8(const std::string &utf8) {
    if (utf8.empty()) return utf8;
    std::string out(2 * utf8.size() + 1, '\0');
    int n = QRT_PKC_UTF8_Decode(out.data(), static_cast<int>(out.size()), utf8.data(), static_cast<int>(utf8.size()));
    if (n < 0) return utf8;
    out.resize(static_cast<size_t>(n));
    return out;
}

// BMPString (UCS-2, big-endian) as UTF-8; units of the surrogate range become '?'.
std::string bmp_to_utf8(const BIN &b) {
    std::string s;
    for (unsigned i = 0; i + 1 < b.length; i += 2) {
        unsigned u = (b.value[i] << 8) | b.value[i + 1];
        if (u == 0) break;
        if (u < 0x80) {
            s += static_cast<char>(u);
        } else if (u < 0x800) {
            s += static_cast<char>(0xC0 | (u >> 6));
            s += static_cast<char>(0x80 | (u & 0x3F));
        } else if (u >= 0xD800 && u < 0xE000) {
            s += '?';
        } else {
            s += static_cast<char>(0xE0 | (u >> 12));
            s += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    return s;
}

// DisplayText ::= CHOICE { ia5String, visibleString, bmpString, utf8String }
std::string display_text(const DisplayText &t) {
    switch (t.choice) {
        case DisplayText_ia5String_chosen:
            return text_of(t.u.ia5String);
        case DisplayText_visibleString_chosen:
            return text_of(t.u.visibleString);
        case DisplayText_bmpString_chosen:
            return from_utf8(bmp_to_utf8(t.u.bmpString));
        case DisplayText_utf8String_chosen:
            return from_utf8(text_of(t.u.utf8String));
        default:
            return {};
    }
}

int names_text(Field &f, GeneralNames names) {
    for (auto *n = names; n && !f.full(); n = n->next) {
        std::string item;
        if (int rc = general_name_text(item, n->value)) return rc;
        f.add(item);
    }
    return 0;
}

// The identity-verification value of an otherName of the identity-data type: hash name and
// value in hex. IdentifyData ::= SEQUENCE { realName, userInfo SEQUENCE OF { type, VID } }
int vid_info(const AnotherName &on, char *vidHashAlg, char *vid) {
    Identity id;
    int rc = read_identity(on.value, id);
    if (rc == QRT_PKC_NO_VID_INFO) return 0;  // identity data without a VID: nothing to fill
    if (rc) return rc;
    if (vidHashAlg) put_field(vidHashAlg, sizeof(CertInfo{}.sVIDHashAlgDesc), hash_name(id.hashID));
    if (vid) {
        std::string hex;
        append_hex(hex, id.vid.data(), id.vid.size());
        put_field(vid, sizeof(CertInfo{}.sVID), hex);
    }
    return 0;
}

int alt_name(char *out, int capacity, Extensions exts, int issuer, char *vidHashAlg, char *vid) {
    const Extension *ext = QRT_GetExtension(exts, issuer ? &id_ce_issuerAltName : &id_ce_subjectAltName);
    AsnTree<GeneralNames> names(issuer ? IssuerAltName_PDU : SubjectAltName_PDU);
    if (int rc = decode_ext(names, ext, QRT_PKC_BAD_EXTENSION)) return rc;
    Field f(capacity);
    if (int rc = names_text(f, *names)) return rc;
    f.write(out);
    if (issuer) return 0;
    for (auto *n = *names; n; n = n->next)
        if (n->value.choice == GeneralName_otherName_chosen &&
            oid_equal(n->value.u.otherName.type_id, id_kisa_identifyData))
            return vid_info(n->value.u.otherName, vidHashAlg, vid);
    return 0;
}

// One RDN as name text, without the separator the appender ends it with; left out ("") when it
// cannot be converted, as directory names are.
std::string relative_name(RelativeDistinguishedName rdn) {
    std::unique_ptr<ZQ_PKC_StrBuf, void (*)(ZQ_PKC_StrBuf *)> buf(QRT_PKC_StrBuf_New(), QRT_PKC_StrBuf_Free);
    if (!buf) throw std::bad_alloc();
    const char *text = nullptr;
    if (QRT_PKC_AsnMultiValuedRDNs_ToString(buf.get(), rdn) != 0 || !(text = QRT_PKC_StrBuf_GetString(buf.get())))
        return {};
    std::string s = text;
    if (!s.empty() && s.back() == ',') s.pop_back();
    return s;
}

bool args_ok(const char *out, int capacity) { return out && capacity >= 2; }

}  // namespace

std::string dotted(const ObjectID &oid) {
    char *text = nullptr;
    if (QRT_ASN_OID2DotVal(&text, &oid) != 0 || !text) {
        QRT_free(text);
        return "unknown";
    }
    std::string s = text;
    QRT_free(text);
    return s;
}

std::string text_of(const BIN &b) {
    if (!b.value) return {};
    const char *p = reinterpret_cast<const char *>(b.value);
    return std::string(p, strnlen(p, b.length));
}

// GeneralName ::= CHOICE { otherName [0], rfc822Name [1], dNSName [2], x400Address [3],
//   directoryName [4], ediPartyName [5], uniformResourceIdentifier [6], iPAddress [7], registeredID [8] }
int general_name_text(std::string &out, const GeneralName &name) {
    out.clear();
    switch (name.choice) {
        case GeneralName_otherName_chosen: {
            const AnotherName &on = name.u.otherName;
            out = "ON=";
            if (oid_equal(on.type_id, id_kisa_identifyData))
                out += "VID";
            else if (oid_equal(on.type_id, id_at_surname))
                out += "SN";
            else
                out += dotted(on.type_id);
            out += '=';
            append_hex(out, on.value.value, on.value.length);
            return 0;
        }
        case GeneralName_rfc822Name_chosen:
            out = "RN=" + text_of(name.u.rfc822Name);
            return 0;
        case GeneralName_dNSName_chosen:
            out = "DNS=" + text_of(name.u.dNSName);
            return 0;
        case GeneralName_directoryName_chosen: {
            // A name that cannot be converted is left out, as the record's own names are.
            char *dn = nullptr;
            if (QRT_ExtractRDN(0, &name.u.directoryName, &dn) == 0 && dn) out = std::string("DN=") + dn;
            QRT_free(dn);
            return 0;
        }
        case GeneralName_uniformResourceIdentifier_chosen:
            out = "URL=" + text_of(name.u.uniformResourceIdentifier);
            return 0;
        case GeneralName_iPAddress_chosen:
            out = ip_text(name.u.iPAddress);
            return 0;
        default:
            return 0;
    }
}

// Time ::= CHOICE { utcTime UTCTime, generalTime GeneralizedTime }. UTCTimes before 2038 are
// shown in local time; later and earlier ones, and GeneralizedTimes, from their own fields
// (a 32-bit time_t cannot hold them).
int time_text(std::string &out, const Time &t) {
    char buf[64];
    const GeneralizedTime *g = nullptr;
    short year = 0;
    if (t.choice == Time_utcTime_chosen) {
        g = &t.u.utcTime;
        if (g->year < 38) {
            time_t secs = 0;
            struct tm tm {};
            if (!x509_time(t, secs) || !localtime_r(&secs, &tm)) return QRT_PKC_INVALID_TIME;
            std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
            out = buf;
            return 0;
        }
        year = x509_full_year(g->year);
    } else if (t.choice == Time_generalTime_chosen) {
        g = &t.u.generalTime;
        year = g->year;
    } else {
        return QRT_PKC_INVALID_TIME;
    }
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", year, g->month, g->day, g->hour, g->minute,
                  g->second);
    out = buf;
    return 0;
}

}  // namespace ostrel::pkc

using namespace ostrel::pkc;
using ostrel::AsnTree;
using ostrel::oid_equal;

extern "C" {

QRT_API int QRT_PKC_KeyUsage_ToString(char *out, int capacity, const Extensions exts, unsigned int *bits) {
    return OSTREL_GUARD_TRACE([&] {
        if (!args_ok(out, capacity)) return QRT_PKC_INVALID_INPUT;
        AsnTree<KeyUsage> ku(KeyUsage_PDU);
        if (int rc = decode_ext(ku, QRT_GetExtension(exts, &id_ce_keyUsage), QRT_PKC_BAD_KEY_USAGE)) return rc;
        std::string s = words(ostrel::pkc::kKeyUsageWords, *ku, ",");
        if (!s.empty()) s.pop_back();
        put_field(out, static_cast<size_t>(capacity), s);
        if (bits) *bits = *ku;
        return 0;
    });
}

QRT_API int QRT_PKC_ExtKeyUsage_ToString(char *out, int capacity, const Extensions exts) {
    return OSTREL_GUARD_TRACE([&] {
        if (!args_ok(out, capacity)) return QRT_PKC_INVALID_INPUT;
        AsnTree<ExtKeyUsageSyntax> eku(ExtKeyUsageSyntax_PDU);
        if (int rc = decode_ext(eku, QRT_GetExtension(exts, &id_ce_extKeyUsage), QRT_PKC_BAD_EXTENSION)) return rc;
        std::string s;
        for (auto *p = *eku; p; p = p->next)
            for (const ostrel::pkc::PurposeWord &k : ostrel::pkc::kPurposeWords)
                if (oid_equal(p->value, *k.oid)) (s += k.text) += ',';
        if (!s.empty()) s.pop_back();
        put_field(out, static_cast<size_t>(capacity), s);
        return 0;
    });
}

QRT_API int QRT_PKC_BasicConsts_ToString(char *out, int capacity, const Extensions exts) {
    return OSTREL_GUARD_TRACE([&] {
        if (!args_ok(out, capacity)) return QRT_PKC_INVALID_INPUT;
        AsnTree<BasicConstraints> bc(BasicConstraints_PDU);
        if (int rc = decode_ext(bc, QRT_GetExtension(exts, &id_ce_basicConstraints), QRT_PKC_BAD_EXTENSION)) return rc;
        bool ca = (bc->bit_mask & BasicConstraints_cA_present) && bc->cA;
        std::string s = ca ? "Subject Type=CA" : "Subject Type=End Entity";
        if (bc->bit_mask & BasicConstraints_pathLenConstraint_present)
            s += ", Path Length Constraint=" + std::to_string(bc->pathLenConstraint);
        else if (ca)
            s += ", Path Length Constraint=None";
        put_field(out, static_cast<size_t>(capacity), s);
        return 0;
    });
}

QRT_API int QRT_PKC_AltName_ToString(char *out, int capacity, const Extensions exts, int issuer, char *vidHashAlg,
                                     char *vid) {
    return OSTREL_GUARD_TRACE([&] {
        if (!args_ok(out, capacity)) return QRT_PKC_INVALID_INPUT;
        return alt_name(out, capacity, exts, issuer, vidHashAlg, vid);
    });
}

// AccessDescription ::= SEQUENCE { accessMethod OBJECT IDENTIFIER, accessLocation GeneralName }
QRT_API int QRT_PKC_AuthInfoAccess_ToString(char *out, int capacity, const Extensions exts) {
    return OSTREL_GUARD_TRACE([&] {
        if (!args_ok(out, capacity)) return QRT_PKC_INVALID_INPUT;
        AsnTree<AuthorityInfoAccessSyntax> aia(AuthorityInfoAccessSyntax_PDU);
        if (int rc = decode_ext(aia, QRT_GetExtension(exts, &id_pe_authorityInfoAccess), QRT_PKC_BAD_EXTENSION))
            return rc;
        Field f(capacity);
        for (auto *a = *aia; a && !f.full(); a = a->next) {
            const ObjectID &m = a->value.accessMethod;
            std::string line = oid_equal(m, id_ad_ocsp)        ? "OCSP:"
                               : oid_equal(m, id_ad_caIssuers) ? "CA:"
                               : oid_equal(m, id_qt_cps)       ? "CPS:"
                                                               : dotted(m) + ":";
            std::string name;
            if (int rc = general_name_text(name, a->value.accessLocation)) return rc;
            f.add(line + name);
        }
        f.write(out);
        return 0;
    });
}

// DistributionPoint ::= SEQUENCE { distributionPoint [0] DistributionPointName OPTIONAL,
//   reasons [1] ReasonFlags OPTIONAL, cRLIssuer [2] GeneralNames OPTIONAL }
QRT_API int QRT_PKC_CrlDistPoints_ToString(char *out, int capacity, const Extensions exts) {
    return OSTREL_GUARD_TRACE([&] {
        if (!args_ok(out, capacity)) return QRT_PKC_INVALID_INPUT;
        AsnTree<CRLDistPointsSyntax> dps(CRLDistPointsSyntax_PDU);
        if (int rc = decode_ext(dps, QRT_GetExtension(exts, &id_ce_cRLDistributionPoints), QRT_PKC_BAD_EXTENSION))
            return rc;
        Field f(capacity);
        for (auto *p = *dps; p && !f.full(); p = p->next) {
            const DistributionPoint &dp = p->value;
            if (dp.bit_mask & DistributionPoint_distributionPoint_present) {
                const DistributionPointName &n = dp.distributionPoint;
                if (n.choice == DistributionPointName_fullName_chosen) {
                    if (int rc = names_text(f, n.u.fullName)) return rc;
                } else if (n.choice == DistributionPointName_nameRelativeToCRLIssuer_chosen) {
                    f.add(relative_name(n.u.nameRelativeToCRLIssuer));
                }
            }
            if ((dp.bit_mask & DistributionPoint_reasons_present) && !f.full())
                f.text() += "reason" + words(kReasonWords, dp.reasons, "|") + "\n";
            if ((dp.bit_mask & DistributionPoint_cRLIssuer_present))
                if (int rc = names_text(f, dp.cRLIssuer)) return rc;
        }
        f.write(out);
        return 0;
    });
}

QRT_API int QRT_PKC_NSCertType_ToString(char *out, int capacity, const Extensions exts) {
    return OSTREL_GUARD_TRACE([&] {
        if (!args_ok(out, capacity)) return QRT_PKC_INVALID_INPUT;
        AsnTree<NetscapeCertType> t(NetscapeCertType_PDU);
        if (int rc = decode_ext(t, QRT_GetExtension(exts, &netscape_cert_type), QRT_PKC_BAD_EXTENSION)) return rc;
        std::string s = words(kNetscapeWords, *t, ",");
        if (!s.empty()) s.pop_back();
        put_field(out, static_cast<size_t>(capacity), s);
        return 0;
    });
}

// PolicyInformation ::= SEQUENCE { policyIdentifier, policyQualifiers SEQUENCE OF
//   PolicyQualifierInfo OPTIONAL }. The policy identifiers one a line; the first CPS URI and the
// first user notice's explicit text (any of the four DisplayText choices) of any policy.
QRT_API int QRT_PKC_CertPolicies_ToString(char *out, int capacity, const Extensions exts, int *count, char *cpsURI,
                                          char *userNotice) {
    return OSTREL_GUARD_TRACE([&] {
        if (!args_ok(out, capacity)) return QRT_PKC_INVALID_INPUT;
        AsnTree<CertificatePolicies> cp(CertificatePolicies_PDU);
        if (int rc = decode_ext(cp, QRT_GetExtension(exts, &id_ce_certificatePolicies), QRT_PKC_BAD_CERT_POLICIES))
            return rc;
        Field f(capacity);
        int n = 0;
        bool have_cps = false, have_notice = false;
        for (auto *p = *cp; p; p = p->next, ++n) {
            f.add(dotted(p->value.policyIdentifier));
            if (!(p->value.bit_mask & PolicyInformation_policyQualifiers_present)) continue;
            for (auto *q = p->value.policyQualifiers; q; q = q->next) {
                const PolicyQualifierInfo &qi = q->value;
                if (oid_equal(qi.policyQualifierId, id_qt_cps) && !have_cps) {
                    AsnTree<CPSuri> uri(CPSuri_PDU);
                    if (uri.decode(&qi.qualifier) != 0 || !uri) return QRT_PKC_BAD_CERT_POLICIES;
                    if (cpsURI) put_field(cpsURI, sizeof(CertInfo{}.sCPSURI), text_of(*uri));
                    have_cps = true;
                } else if (oid_equal(qi.policyQualifierId, id_qt_unotice) && !have_notice) {
                    AsnTree<UserNotice> un(UserNotice_PDU);
                    if (un.decode(&qi.qualifier) != 0 || !un) return QRT_PKC_BAD_CERT_POLICIES;
                    std::string text;
                    if (un->bit_mask & UserNotice_explicitText_present) text = display_text(un->explicitText);
                    if (userNotice) put_field(userNotice, sizeof(CertInfo{}.sUserNotice), text);
                    have_notice = true;
                }
            }
        }
        f.write(out);
        if (count) *count = n;
        return 0;
    });
}

// AuthorityKeyIdentifier ::= SEQUENCE { keyIdentifier [0] OPTIONAL, authorityCertIssuer [1]
//   OPTIONAL, authorityCertSerialNumber [2] OPTIONAL }
QRT_API int QRT_PKC_AuthKeyId_ToString(char *out, int capacity, const Extensions exts) {
    return OSTREL_GUARD_TRACE([&] {
        if (!args_ok(out, capacity)) return QRT_PKC_INVALID_INPUT;
        AsnTree<AuthorityKeyIdentifier> aki(AuthorityKeyIdentifier_PDU);
        if (int rc = decode_ext(aki, QRT_GetExtension(exts, &id_ce_authorityKeyIdentifier), QRT_PKC_BAD_AUTH_KEY_ID))
            return rc;
        std::string s;
        if (aki->bit_mask & AuthorityKeyIdentifier_keyIdentifier_present)
            append_hex(s, aki->keyIdentifier.value, aki->keyIdentifier.length);
        put_field(out, static_cast<size_t>(capacity), s);
        return 0;
    });
}

QRT_API int QRT_PKC_SubKeyId_ToString(char *out, int capacity, const Extensions exts) {
    return OSTREL_GUARD_TRACE([&] {
        if (!args_ok(out, capacity)) return QRT_PKC_INVALID_INPUT;
        AsnTree<SubjectKeyIdentifier> ski(SubjectKeyIdentifier_PDU);
        if (int rc = decode_ext(ski, QRT_GetExtension(exts, &id_ce_subjectKeyIdentifier), QRT_PKC_BAD_SUBJECT_KEY_ID))
            return rc;
        std::string s;
        append_hex(s, ski->value, ski->length);
        put_field(out, static_cast<size_t>(capacity), s);
        return 0;
    });
}

QRT_API int QRT_PKC_AsnGenName_ToString(char *out, int capacity, const GeneralName *name) {
    return OSTREL_GUARD_TRACE([&] {
        if (!args_ok(out, capacity) || !name) return QRT_PKC_INVALID_INPUT;
        std::string s;
        if (int rc = general_name_text(s, *name)) return rc;
        put_field(out, static_cast<size_t>(capacity), s);
        return 0;
    });
}

QRT_API int QRT_PKC_AsnTime_ToString(char *out, int capacity, const Time *time) {
    return OSTREL_GUARD_TRACE([&] {
        if (!args_ok(out, capacity) || !time) return QRT_PKC_INVALID_INPUT;
        std::string s;
        if (int rc = time_text(s, *time)) return rc;
        put_field(out, static_cast<size_t>(capacity), s);
        return 0;
    });
}

// The older names, with the capacity of the record's field.
QRT_API int QRT_GetKeyUsage(char *out, const Extensions exts, unsigned int *bits) {
    return QRT_PKC_KeyUsage_ToString(out, sizeof(CertInfo{}.sKeyUsageDesc), exts, bits);
}
QRT_API int QRT_GetExtKeyUsage(char *out, const Extensions exts) {
    return QRT_PKC_ExtKeyUsage_ToString(out, sizeof(CertInfo{}.sExtendedKeyUsage), exts);
}
QRT_API int QRT_GetBC(char *out, const Extensions exts) {
    return QRT_PKC_BasicConsts_ToString(out, sizeof(CertInfo{}.sBasicConstraints), exts);
}
QRT_API int QRT_GetAltName(char *out, const Extensions exts, int issuer, char *vidHashAlg, char *vid) {
    return QRT_PKC_AltName_ToString(out, sizeof(CertInfo{}.sSubjectAltName), exts, issuer, vidHashAlg, vid);
}
QRT_API int QRT_GetAIA(char *out, const Extensions exts) {
    return QRT_PKC_AuthInfoAccess_ToString(out, sizeof(CertInfo{}.sAIAs), exts);
}
QRT_API int QRT_GetDistributionPoints(char *out, const Extensions exts) {
    return QRT_PKC_CrlDistPoints_ToString(out, sizeof(CertInfo{}.sCrlDistributionPoints), exts);
}
QRT_API int QRT_GetNetscapeCertType(char *out, const Extensions exts) {
    return QRT_PKC_NSCertType_ToString(out, sizeof(CertInfo{}.sNetscapeUsageDesc), exts);
}
QRT_API int QRT_GetPolicy(char *out, const Extensions exts, int *count, char *cpsURI, char *userNotice) {
    return QRT_PKC_CertPolicies_ToString(out, sizeof(CertInfo{}.sPolicyID), exts, count, cpsURI, userNotice);
}
QRT_API int QRT_GetAuthorityKeyId(char *out, const Extensions exts) {
    return QRT_PKC_AuthKeyId_ToString(out, sizeof(CertInfo{}.sAuthorityKeyID), exts);
}
QRT_API int QRT_GetSubjectKeyId(char *out, const Extensions exts) {
    return QRT_PKC_SubKeyId_ToString(out, sizeof(CertInfo{}.sSubjectKeyID), exts);
}

}  // extern "C"
