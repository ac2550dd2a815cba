// Certificate generation: an X.509 v3 certificate assembled from one record of parameters and
// signed under the issuer's key, the record built from text, and the extension and key-info
// building blocks.
#include <cctype>
#include <cstring>
#include <deque>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ostrel/asn_tree.hpp"
#include "ostrel/owners.hpp"
#include "pkc_dn.hpp"
#include "pkc_gen.hpp"
#include "pkc_words.hpp"
#include "suite_csp.h"

namespace ostrel::pkc {
namespace {

using ostrel::AsnTree;

constexpr uint8_t kNull[] = {0x05, 0x00};

// The extension slots of ZQ_PKC_CERT_PARAM.ext: identifier and criticality.
struct Slot {
    const ObjectID *oid;
    bool critical;
};
constexpr Slot kSlots[QRT_PKC_EXT_SLOTS] = {
    {&id_ce_authorityKeyIdentifier, false},  // 0
    {&id_ce_subjectKeyIdentifier, false},    // 1
    {&id_ce_keyUsage, true},                 // 2
    {&id_ce_certificatePolicies, false},     // 3
    {&id_ce_subjectAltName, false},          // 4
    {&id_ce_issuerAltName, false},           // 5
    {&id_ce_basicConstraints, true},         // 6
    {&id_ce_nameConstraints, false},         // 7
    {&id_ce_extKeyUsage, true},              // 8
    {&id_ce_policyConstraints, true},        // 9
    {&id_ce_cRLDistributionPoints, false},   // 10
    {&id_pe_authorityInfoAccess, false},     // 11
};

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

bool same_word(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// The items of a list separated by sep (spaces around items ignored); empty items are skipped.
std::vector<std::string_view> items(std::string_view s, char sep) {
    std::vector<std::string_view> out;
    while (!s.empty()) {
        size_t at = s.find(sep);
        std::string_view item = trim(s.substr(0, at));
        if (!item.empty()) out.push_back(item);
        if (at == std::string_view::npos) break;
        s.remove_prefix(at + 1);
    }
    return out;
}

// Object identifiers parsed from dotted text, released with the owner.
class OidOwner {
  public:
    OidOwner() = default;
    OidOwner(const OidOwner &) = delete;
    OidOwner &operator=(const OidOwner &) = delete;
    ~OidOwner() {
        for (ObjectID &o : oids_) QRT_ASN_ResetOID(&o);
    }
    // nullptr when the text is no object identifier.
    const ObjectID *parse(std::string_view dotted) {
        std::string text(dotted);
        ObjectID oid{0, nullptr};
        int rc = QRT_ASN_DotVal2OID(&oid, text.c_str());
        if (rc == QRT_ASN_MALLOC_FAILED) throw std::bad_alloc();
        if (rc || !oid.length) {
            QRT_ASN_ResetOID(&oid);
            return nullptr;
        }
        oids_.push_back(oid);
        return &oids_.back();
    }

  private:
    std::deque<ObjectID> oids_;  // stable addresses
};

bool ascii(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80 || static_cast<unsigned char>(c) < 0x20) return false;
    return !s.empty();
}

BIN text_bin(std::string_view s) {
    return BIN{static_cast<unsigned>(s.size()), reinterpret_cast<uint8_t *>(const_cast<char *>(s.data()))};
}

// A linked list over nodes held in a vector (reserved up front, so the links stay valid).
template <class Node>
Node *link(std::vector<Node> &nodes) {
    for (size_t i = 0; i + 1 < nodes.size(); ++i) nodes[i].next = &nodes[i + 1];
    return nodes.empty() ? nullptr : nodes.data();
}

// ---- extension values from text ----

int key_usage_value(Bytes &ext, const char *text) {
    if (!text || !*text) return QRT_PKC_NO_EXTENSION;
    KeyUsage bits = 0;
    for (std::string_view w : items(text, ',')) {
        const UsageWord *found = nullptr;
        for (const UsageWord &k : kKeyUsageWords)
            if (same_word(w, k.text)) found = &k;
        if (!found) return QRT_PKC_BAD_KEY_USAGE;
        bits = static_cast<KeyUsage>(bits | found->bit);
    }
    if (!bits) return QRT_PKC_NO_EXTENSION;
    return der_encode(ext, &bits, KeyUsage_PDU);
}

// "Subject Type=CA", "Subject Type=CA, Path Length Constraint=N" (or "=None"), "Subject
// Type=End Entity": the text the formatter writes.
int basic_constraints_value(Bytes &ext, const char *text) {
    std::vector<std::string_view> parts = items(text, ',');
    if (parts.empty() || parts.size() > 2) return QRT_PKC_BAD_EXTENSION;
    BasicConstraints bc{};
    if (same_word(parts[0], "Subject Type=CA")) {
        bc.bit_mask = BasicConstraints_cA_present;
        bc.cA = 1;
    } else if (!same_word(parts[0], "Subject Type=End Entity") || parts.size() > 1) {
        return QRT_PKC_BAD_EXTENSION;
    }
    if (parts.size() == 2) {
        constexpr std::string_view kPath = "Path Length Constraint=";
        std::string_view v = parts[1];
        if (v.size() <= kPath.size() || !same_word(v.substr(0, kPath.size()), kPath)) return QRT_PKC_BAD_EXTENSION;
        v = trim(v.substr(kPath.size()));
        if (!same_word(v, "None")) {
            if (v.empty() || v.size() > 6) return QRT_PKC_BAD_EXTENSION;
            int n = 0;
            for (char c : v) {
                if (c < '0' || c > '9') return QRT_PKC_BAD_EXTENSION;
                n = n * 10 + (c - '0');
            }
            bc.bit_mask |= BasicConstraints_pathLenConstraint_present;
            bc.pathLenConstraint = n;
        }
    }
    return der_encode(ext, &bc, BasicConstraints_PDU);
}

int ext_key_usage_value(Bytes &ext, const char *text) {
    OidOwner parsed;
    std::vector<std::string_view> words = items(text, ',');
    std::vector<ExtKeyUsageSyntax_> nodes(words.size());
    for (size_t i = 0; i < words.size(); ++i) {
        const ObjectID *oid = nullptr;
        for (const PurposeWord &p : kPurposeWords)
            if (same_word(words[i], p.text)) oid = p.oid;
        // generation also takes the responder purpose, which the formatter does not name
        if (same_word(words[i], "id-kp-OCSPSigning")) oid = &id_kp_OCSPSigning;
        if (!oid) oid = parsed.parse(words[i]);
        if (!oid) return QRT_PKC_BAD_EXTENSION;
        nodes[i].value = *oid;
    }
    if (nodes.empty()) return QRT_PKC_BAD_EXTENSION;
    ExtKeyUsageSyntax list = link(nodes);
    return der_encode(ext, &list, ExtKeyUsageSyntax_PDU);
}

GeneralName uri_name(std::string_view uri) {
    GeneralName g{};
    g.choice = GeneralName_uniformResourceIdentifier_chosen;
    g.u.uniformResourceIdentifier = text_bin(uri);
    return g;
}

// One distribution point, with a full name, per URI (URIs separated by white space).
int crl_dp_value(Bytes &ext, const char *text) {
    std::vector<std::string_view> uris;
    std::string_view rest(text);
    while (!(rest = trim(rest)).empty()) {
        size_t end = 0;
        while (end < rest.size() && !std::isspace(static_cast<unsigned char>(rest[end]))) ++end;
        uris.push_back(rest.substr(0, end));
        rest.remove_prefix(end);
    }
    if (uris.empty()) return QRT_PKC_BAD_EXTENSION;
    std::vector<GeneralNames_> names(uris.size());
    std::vector<CRLDistPointsSyntax_> points(uris.size());
    for (size_t i = 0; i < uris.size(); ++i) {
        if (!ascii(uris[i])) return QRT_PKC_BAD_EXTENSION;
        names[i].value = uri_name(uris[i]);
        DistributionPoint &dp = points[i].value;
        dp.bit_mask = DistributionPoint_distributionPoint_present;
        dp.distributionPoint.choice = DistributionPointName_fullName_chosen;
        dp.distributionPoint.u.fullName = &names[i];
    }
    CRLDistPointsSyntax list = link(points);
    return der_encode(ext, &list, CRLDistPointsSyntax_PDU);
}

int aia_value(Bytes &ext, const char *ocsp, const char *caIssuers) {
    std::vector<AuthorityInfoAccessSyntax_> nodes;
    nodes.reserve(2);
    for (auto [uri, method] : {std::pair{ocsp, &id_ad_ocsp}, std::pair{caIssuers, &id_ad_caIssuers}}) {
        if (!uri || !*uri) continue;
        std::string_view u = trim(uri);
        if (!ascii(u)) return QRT_PKC_BAD_EXTENSION;
        AuthorityInfoAccessSyntax_ &n = nodes.emplace_back();
        n.value.accessMethod = *method;
        n.value.accessLocation = uri_name(u);
    }
    AuthorityInfoAccessSyntax list = link(nodes);
    return der_encode(ext, &list, AuthorityInfoAccessSyntax_PDU);
}

// CertificatePolicies: one PolicyInformation per identifier, the qualifiers on the first.
int policies_value(Bytes &ext, const char *oids, const char *cpsURI, const char *userNotice) {
    OidOwner parsed;
    std::vector<std::string_view> list = items(oids, ',');
    if (list.empty()) return QRT_PKC_BAD_CERT_POLICIES;
    std::vector<CertificatePolicies_> nodes(list.size());
    for (size_t i = 0; i < list.size(); ++i) {
        const ObjectID *oid = parsed.parse(list[i]);
        if (!oid) return QRT_PKC_BAD_CERT_POLICIES;
        nodes[i].value.policyIdentifier = *oid;
    }
    // PolicyQualifierInfo ::= SEQUENCE { policyQualifierId, qualifier ANY }: CPSuri ::= IA5String;
    // UserNotice ::= SEQUENCE { explicitText DisplayText } with a UTF8String
    std::vector<PolicyInformation_policyQualifiers_> quals;
    quals.reserve(2);
    Bytes cps, notice;
    if (cpsURI && *cpsURI) {
        std::string_view u = trim(cpsURI);
        if (!ascii(u)) return QRT_PKC_BAD_CERT_POLICIES;
        der_put(cps, 0x16, reinterpret_cast<const uint8_t *>(u.data()), u.size());
        PolicyInformation_policyQualifiers_ &q = quals.emplace_back();
        q.value.policyQualifierId = id_qt_cps;
        q.value.qualifier = bin_view(cps);
    }
    if (userNotice && *userNotice) {
        std::string utf8;
        if (!local_to_utf8(userNotice, std::strlen(userNotice), utf8)) return QRT_PKC_BAD_CERT_POLICIES;
        UserNotice un{};
        un.bit_mask = UserNotice_explicitText_present;
        un.explicitText.choice = DisplayText_utf8String_chosen;
        un.explicitText.u.utf8String = text_bin(utf8);
        if (int rc = der_encode(notice, &un, UserNotice_PDU)) return rc;
        PolicyInformation_policyQualifiers_ &q = quals.emplace_back();
        q.value.policyQualifierId = id_qt_unotice;
        q.value.qualifier = bin_view(notice);
    }
    if (!quals.empty()) {
        nodes[0].value.bit_mask = PolicyInformation_policyQualifiers_present;
        nodes[0].value.policyQualifiers = link(quals);
    }
    CertificatePolicies cp = link(nodes);
    return der_encode(ext, &cp, CertificatePolicies_PDU);
}

// ---- the certificate ----

// A serial in INTEGER content form: redundant leading zero octets dropped, one 00 put in front
// of a first octet with its top bit set, so the value never reads as negative.
Bytes serial_content(const BIN &serial) {
    size_t at = 0;
    while (at + 1 < serial.length && serial.value[at] == 0) ++at;
    Bytes out;
    if (serial.value[at] & 0x80) out.push_back(0x00);
    der_raw(out, serial.value + at, serial.length - at);
    return out;
}

// UTCTime for 1950 through 2049, GeneralizedTime otherwise (RFC 5280 4.1.2.5); always UTC.
Time validity_time(time_t t) {
    Time out{};
    GeneralizedTime g{};
    QRT_ASN_Time2General(&g, t);
    if (g.year >= 1950 && g.year <= 2049) {
        out.choice = Time_utcTime_chosen;
        QRT_ASN_Time2UTC(&out.u.utcTime, t);
    } else {
        out.choice = Time_generalTime_chosen;
        out.u.generalTime = g;
    }
    return out;
}

// The key identifier of a key id: its catalogue identifier (EC-KCDSA keys are EC keys).
const ObjectID *key_oid(int pkeyID) {
    if (pkeyID == QRT_CSP_PKEY_ECKCDSA) return &id_ecPublicKey;
    return QRT_PKC_PkeyID_To_ObjID(pkeyID);
}

// SubjectPublicKeyInfo over the caller's bytes: RSA with NULL parameters (RFC 3279 2.3.1), the
// others with their domain parameters when given.
int fill_spki(SubjectPublicKeyInfo &spki, int pkeyID, const BIN &key, const BIN *param) {
    const ObjectID *oid = key_oid(pkeyID);
    if (!oid || pkeyID == QRT_CSP_PKEY_DH) return QRT_PKC_UNKNOWN_PKEYID;
    if (!key.value || !key.length) return QRT_PKC_NO_PUBLIC_KEY;
    spki = SubjectPublicKeyInfo{};
    spki.algorithm.algorithm = *oid;
    if (pkeyID == QRT_CSP_PKEY_RSA) {
        spki.algorithm.bit_mask = AlgorithmIdentifier_parameters_present;
        spki.algorithm.parameters = Any{sizeof kNull, const_cast<uint8_t *>(kNull)};
    } else if (param && param->value && param->length) {
        if (!der_one_element(param->value, param->length)) return QRT_PKC_INVALID_INPUT;
        spki.algorithm.bit_mask = AlgorithmIdentifier_parameters_present;
        spki.algorithm.parameters = *param;
    }
    spki.subjectPublicKey = BitString{key.length * 8, key.value};
    return 0;
}

// Signs the TBSCertificate. An RSA issuer signs through the provider's table, resolved from the
// very AlgorithmIdentifier written (its PKCS#1 key is the same bytes in either key form, and the
// table's signer keeps the decoded key between calls); other issuers through the whole-message
// signer, whose key form carries the domain parameters.
int sign_tbs(BIN *signature, const Bytes &tbs, const Bytes &algid, int signID, int pkeyID, const BIN &issuerKey) {
    BIN signed_part = bin_view(tbs);
    if (pkeyID == QRT_CSP_PKEY_RSA) {
        ZQ_CSP_SigAlg alg{};
        BIN id = bin_view(algid);
        if (QRT_CSP_SigAlg_Decode(&alg, &id) != 0 || alg.pkeyID != QRT_CSP_PKEY_RSA) return QRT_PKC_UNKNOWN_SIGNID;
        return QRT_CSP_SignData(signature, &signed_part, &alg, &issuerKey, nullptr, nullptr);
    }
    return QRT_CSP_ComputeMsgSignature(signature, &signed_part, &issuerKey, signID, nullptr);
}

// Certificate ::= SEQUENCE { tbsCertificate, signatureAlgorithm, signatureValue BIT STRING }
int encode_certificate(BIN *cert, const ZQ_PKC_CERT_PARAM &p, int pkeyID, const BIN &issuerKey) {
    const ObjectID *sigOid = QRT_PKC_SignID_To_ObjID(p.signID);
    // RSASSA-PSS needs parameters this record does not carry
    if (!sigOid || p.signID == QRT_CSP_SIGN_RSA_PSS) return QRT_PKC_UNKNOWN_SIGNID;
    if (!p.serialNumber.value || !p.serialNumber.length || p.serialNumber.length > 0xFFFE) return QRT_PKC_INVALID_INPUT;
    Bytes serial = serial_content(p.serialNumber);

    TBSCertificate tbs{};
    tbs.bit_mask = TBSCertificate_version_present;
    tbs.version = 2;  // v3
    tbs.serialNumber = HUGE{static_cast<unsigned short>(serial.size()), serial.data()};
    tbs.signature.algorithm = *sigOid;
    if (pkeyID == QRT_CSP_PKEY_RSA) {
        tbs.signature.bit_mask = AlgorithmIdentifier_parameters_present;
        tbs.signature.parameters = Any{sizeof kNull, const_cast<uint8_t *>(kNull)};
    }
    tbs.issuer = p.issuer;
    tbs.validity.notBefore = validity_time(p.notBefore);
    tbs.validity.notAfter = validity_time(p.notAfter);
    tbs.subject = p.subject;
    if (int rc = fill_spki(tbs.subjectPublicKeyInfo, p.pkeyID, p.publicKey, &p.pkeyParam)) return rc;

    // extensions in slot order with the slot's criticality; empty slots left out
    if (!p.ext[QRT_PKC_EXT_KEY_USAGE].length) return QRT_PKC_NO_EXTENSION;
    std::vector<Extensions_> exts;
    exts.reserve(QRT_PKC_EXT_SLOTS);
    for (int i = 0; i < QRT_PKC_EXT_SLOTS; ++i) {
        const BIN &v = p.ext[i];
        if (!v.length) continue;
        if (!der_one_element(v.value, v.length)) return QRT_PKC_BAD_EXTENSION;
        Extension &e = exts.emplace_back().value;
        e.extnID = *kSlots[i].oid;
        if (kSlots[i].critical) {
            e.bit_mask = Extension_critical_present;
            e.critical = 1;
        }
        e.extnValue = v;
    }
    tbs.bit_mask |= TBSCertificate_extensions_present;
    tbs.extensions = link(exts);

    Bytes tbsDer;
    if (int rc = der_encode(tbsDer, &tbs, TBSCertificate_PDU)) return rc;
    if (pkeyID == QRT_CSP_PKEY_KCDSA) return QRT_PKC_UNKNOWN_PKEYID;
    Bytes alg;
    der_put(alg, 0x06, sigOid->value, sigOid->length);
    if (pkeyID == QRT_CSP_PKEY_RSA) der_raw(alg, kNull, sizeof kNull);
    Bytes algid;
    der_put(algid, 0x30, alg);
    BinOwner signature;
    if (int rc = sign_tbs(signature.get(), tbsDer, algid, p.signID, pkeyID, issuerKey)) return rc;

    Bytes body = std::move(tbsDer), bits{0x00}, out;
    der_raw(body, algid.data(), algid.size());
    der_raw(bits, signature->value, signature->length);
    der_put(body, 0x03, bits);
    der_put(out, 0x30, body);
    give_bin(cert, out);
    return 0;
}

// Hex digits (an even or odd count) as bytes; false for anything else or more than 64 digits.
bool parse_hex(std::string_view hex, Bytes &out) {
    hex = trim(hex);
    if (hex.empty() || hex.size() > 64) return false;
    out.clear();
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        c = static_cast<char>(c | 0x20);
        return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    };
    size_t i = hex.size() % 2;
    if (i) {
        int v = nibble(hex[0]);
        if (v < 0) return false;
        out.push_back(static_cast<uint8_t>(v));
    }
    for (; i < hex.size(); i += 2) {
        int hi = nibble(hex[i]), lo = nibble(hex[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out.push_back(static_cast<uint8_t>(hi << 4 | lo));
    }
    return true;
}

struct NameOwner {
    Name name{};
    ~NameOwner() { QRT_NameFree(&name); }
};

// The issuer's name and key identifier from its certificate: its subject, and its subject key
// identifier (or the SHA-1 of its key bits when it has none).
int issuer_from_cert(AsnTree<Certificate> &cert, const BIN &der, Bytes &keyId) {
    if (cert.decode(&der) != 0 || !cert) return QRT_PKC_BAD_CERTIFICATE;
    const TBSCertificate &tbs = cert->tbsCertificate;
    const Extension *ski = (tbs.bit_mask & TBSCertificate_extensions_present)
                               ? QRT_GetExtension(tbs.extensions, &id_ce_subjectKeyIdentifier)
                               : nullptr;
    if (ski) {
        AsnTree<SubjectKeyIdentifier> id(SubjectKeyIdentifier_PDU);
        if (id.decode(&ski->extnValue) != 0 || !id || !id->length) return QRT_PKC_BAD_SUBJECT_KEY_ID;
        keyId.assign(id->value, id->value + id->length);
        return 0;
    }
    const BitString &k = tbs.subjectPublicKeyInfo.subjectPublicKey;
    if (!k.value || !k.length) return QRT_PKC_NO_PUBLIC_KEY;
    return key_identifier(keyId, BIN{(k.length + 7) / 8, k.value});
}

int generate(BIN *cert, const ZQ_PKC_GENCERT_INPUT &in, const BIN &issuerKey) {
    ZQ_PKC_CERT_PARAM p{};
    Bytes serial, keyId, ext[QRT_PKC_EXT_SLOTS];
    if (!parse_hex(in.serial, serial)) return QRT_PKC_INVALID_INPUT;
    p.serialNumber = bin_view(serial);
    p.signID = in.signID;
    p.notBefore = in.notBefore;
    p.notAfter = in.notAfter;
    p.pkeyID = in.pkeyID;
    p.publicKey = *in.publicKey;
    if (in.pkeyParam) p.pkeyParam = *in.pkeyParam;

    NameOwner subject, issuerText;
    AsnTree<Certificate> issuerCert(Certificate_PDU);
    if (int rc = QRT_ImplementRDN(&subject.name, in.subjectDN)) return rc;
    p.subject = subject.name;
    if (in.issuerCert && in.issuerCert->value) {
        if (int rc = issuer_from_cert(issuerCert, *in.issuerCert, keyId)) return rc;
        p.issuer = issuerCert->tbsCertificate.subject;
    } else {
        if (int rc = QRT_ImplementRDN(&issuerText.name, in.issuerDN)) return rc;
        p.issuer = issuerText.name;
        if (in.issuerPublicKey && in.issuerPublicKey->value && in.issuerPublicKey->length)
            if (int rc = key_identifier(keyId, *in.issuerPublicKey)) return rc;
    }

    if (!keyId.empty())
        if (int rc = auth_key_id_value(ext[QRT_PKC_EXT_AUTH_KEY_ID], keyId)) return rc;
    Bytes subjectKeyId;
    if (int rc = key_identifier(subjectKeyId, *in.publicKey)) return rc;
    SubjectKeyIdentifier ski = bin_view(subjectKeyId);
    if (int rc = der_encode(ext[QRT_PKC_EXT_SUBJECT_KEY_ID], &ski, SubjectKeyIdentifier_PDU)) return rc;
    if (int rc = key_usage_value(ext[QRT_PKC_EXT_KEY_USAGE], in.keyUsage)) return rc;
    if (in.policies && *in.policies)
        if (int rc = policies_value(ext[QRT_PKC_EXT_POLICIES], in.policies, in.cpsURI, in.userNotice)) return rc;
    if (in.realName) {
        if (!in.random) return QRT_PKC_INVALID_INPUT;
        Bytes vid;
        if (int rc = compute_vid(vid, in.vidHashID, in.identityNumber, *in.random)) return rc;
        if (int rc = identity_alt_name(ext[QRT_PKC_EXT_SUBJECT_ALT_NAME], in.realName, std::strlen(in.realName),
                                       in.vidHashID, bin_view(vid)))
            return rc;
    }
    if (in.basicConstraints && *in.basicConstraints)
        if (int rc = basic_constraints_value(ext[QRT_PKC_EXT_BASIC_CONSTRAINTS], in.basicConstraints)) return rc;
    if (in.extKeyUsage && *in.extKeyUsage)
        if (int rc = ext_key_usage_value(ext[QRT_PKC_EXT_EXT_KEY_USAGE], in.extKeyUsage)) return rc;
    if (in.crlDistributionPoints && *in.crlDistributionPoints)
        if (int rc = crl_dp_value(ext[QRT_PKC_EXT_CRL_DP], in.crlDistributionPoints)) return rc;
    if ((in.ocspURI && *in.ocspURI) || (in.caIssuersURI && *in.caIssuersURI))
        if (int rc = aia_value(ext[QRT_PKC_EXT_AIA], in.ocspURI, in.caIssuersURI)) return rc;
    for (int i = 0; i < QRT_PKC_EXT_SLOTS; ++i) p.ext[i] = bin_view(ext[i]);

    return encode_certificate(cert, p, QRT_PKC_SignID_To_PkeyID(in.signID), issuerKey);
}

bool has_bytes(const BIN *b) { return b && b->value && b->length; }

}  // namespace
}  // namespace ostrel::pkc

using namespace ostrel::pkc;

extern "C" {

QRT_API int QRT_PKC_Cert_Encode(BIN *cert, const ZQ_PKC_CERT_PARAM *params, int pkeyID, int,
                                const BIN *issuerPrivateKey) {
    if (!cert || !params || !has_bytes(issuerPrivateKey)) return QRT_PKC_INVALID_INPUT;
    *cert = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] { return encode_certificate(cert, *params, pkeyID, *issuerPrivateKey); });
}

QRT_API int QRT_PKC_GenCertificate(BIN *cert, const ZQ_PKC_GENCERT_INPUT *in, const BIN *issuerPrivateKey) {
    if (!cert || !in || !has_bytes(issuerPrivateKey) || !in->serial || !in->subjectDN || !has_bytes(in->publicKey) ||
        !((in->issuerCert && in->issuerCert->value) || in->issuerDN))
        return QRT_PKC_INVALID_INPUT;
    *cert = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] { return generate(cert, *in, *issuerPrivateKey); });
}

QRT_API int QRT_PKC_CertPolicies_Encode(BIN *ext, const char *policyOIDs, const char *cpsURI, const char *userNotice) {
    if (!ext || !policyOIDs) return QRT_PKC_INVALID_INPUT;
    *ext = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        Bytes value;
        if (int rc = policies_value(value, policyOIDs, cpsURI, userNotice)) return rc;
        give_bin(ext, value);
        return 0;
    });
}

QRT_API int QRT_PKC_AsnSubPubKeyInfo_Encode(SubjectPublicKeyInfo **spki, int pkeyID, const BIN *publicKey,
                                            const BIN *param) {
    if (!spki || !has_bytes(publicKey)) return QRT_PKC_INVALID_INPUT;
    *spki = nullptr;
    return OSTREL_GUARD_TRACE([&] {
        // written over the caller's bytes, then read back as a tree of the layer's own memory
        SubjectPublicKeyInfo view{};
        if (int rc = fill_spki(view, pkeyID, *publicKey, param)) return rc;
        Bytes der;
        if (int rc = der_encode(der, &view, SubjectPublicKeyInfo_PDU)) return rc;
        BIN in = bin_view(der);
        void *tree = nullptr;
        if (int rc = QRT_ASN_DecodePDU(&tree, &in, SubjectPublicKeyInfo_PDU)) return rc;
        *spki = static_cast<SubjectPublicKeyInfo *>(tree);
        return 0;
    });
}

QRT_API int QRT_PKC_AsnSubPubKeyInfo_Decode(int *pkeyID, BIN *publicKey, BIN *param, const SubjectPublicKeyInfo *spki) {
    if (!pkeyID || !spki) return QRT_PKC_INVALID_INPUT;
    // the certificate form reads the key out of a TBSCertificate; only its key info is looked at
    TBSCertificate tbs{};
    tbs.subjectPublicKeyInfo = *spki;
    return QRT_PKC_GetPubKeyInfo(pkeyID, publicKey, param, &tbs);
}

QRT_API int QRT_PKC_AsnExt_Encode(Extension *ext, const ObjectID *oid, int critical, const BIN *value) {
    if (!ext || !oid || !oid->value || !oid->length || !has_bytes(value)) return QRT_PKC_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        *ext = Extension{};
        auto *id = static_cast<unsigned char *>(QRT_malloc(oid->length));
        auto *v = static_cast<unsigned char *>(QRT_malloc(value->length));
        if (!id || !v) {
            QRT_free(id);
            QRT_free(v);
            throw std::bad_alloc();
        }
        std::memcpy(id, oid->value, oid->length);
        std::memcpy(v, value->value, value->length);
        ext->extnID = ObjectID{oid->length, id};
        if (critical) {
            ext->bit_mask = Extension_critical_present;
            ext->critical = 1;
        }
        ext->extnValue = BIN{value->length, v};
        return 0;
    });
}

QRT_API int QRT_PKC_AsnExts_Add(Extensions *list, const ObjectID *oid, int critical, const BIN *value) {
    if (!list || !oid || !has_bytes(value)) return QRT_PKC_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        auto *node = static_cast<Extensions_ *>(QRT_calloc(1, sizeof(Extensions_)));
        if (!node) throw std::bad_alloc();
        if (int rc = QRT_PKC_AsnExt_Encode(&node->value, oid, critical, value)) {
            QRT_free(node);
            return rc;
        }
        Extensions *at = list;
        while (*at) at = &(*at)->next;
        *at = node;
        return 0;
    });
}

QRT_API void QRT_PKC_AsnExts_Free(Extensions list) {
    while (list) {
        Extensions next = list->next;
        QRT_free(list->value.extnID.value);
        QRT_BIN_Reset(&list->value.extnValue);
        QRT_free(list);
        list = next;
    }
}

}  // extern "C"
