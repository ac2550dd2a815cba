// Certificates as records of printable fields, thumbprints, PEM armour, public-key access and
// the identifier maps between object identifiers and the provider's numbering.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "ostrel/asn_tree.hpp"
#include "pkc_certinfo.hpp"
#include "suite_codec.h"
#include "suite_csp.h"

#if defined(__x86_64__)
// The records cross the C ABI and are stored by callers: their layout is fixed.
static_assert(sizeof(CertInfo) == 11832, "CertInfo layout");
static_assert(sizeof(CertInfoEx) == 19280, "CertInfoEx layout");
#endif

namespace ostrel::pkc {
namespace {

using ostrel::AsnTree;

// ---- Identifier table --------------------------------------------------------------------------
// One row per identifier; the maps read it in both directions. A signature row names its
// algorithm family, a key row its key type, a hash row its hash. `primary` marks the row an id
// maps back to; ids without one (ECDSA's, whose hash varies) map back to nothing.

enum class Kind : unsigned char { Sig, Key, Hash };

struct IdRow {
    Kind kind;
    const ObjectID *oid;
    int id;    // sign, pkey or hash id
    int hash;  // Sig: the hash id, -1 when the parameters carry it
    int pkey;  // Sig: the signer's key id
    bool primary;
    const char *name;
};

constexpr IdRow kIds[] = {
    {Kind::Sig, &md2WithRSAEncryption, QRT_CSP_SIGN_RSA_MD2, QRT_CSP_HASH_MD2, QRT_CSP_PKEY_RSA, true, "RSA"},
    {Kind::Sig, &md5WithRSAEncryption, QRT_CSP_SIGN_RSA_MD5, QRT_CSP_HASH_MD5, QRT_CSP_PKEY_RSA, true, "RSA"},
    {Kind::Sig, &sha1WithRSAEncryption, QRT_CSP_SIGN_RSA_SHA1, QRT_CSP_HASH_SHA1, QRT_CSP_PKEY_RSA, true, "RSA"},
    {Kind::Sig, &sha256WithRSAEncryption, QRT_CSP_SIGN_RSA_SHA256, QRT_CSP_HASH_SHA256, QRT_CSP_PKEY_RSA, true, "RSA"},
    {Kind::Sig, &sha384WithRSAEncryption, QRT_CSP_SIGN_RSA_SHA384, QRT_CSP_HASH_SHA384, QRT_CSP_PKEY_RSA, true, "RSA"},
    {Kind::Sig, &sha512WithRSAEncryption, QRT_CSP_SIGN_RSA_SHA512, QRT_CSP_HASH_SHA512, QRT_CSP_PKEY_RSA, true, "RSA"},
    {Kind::Sig, &sha224WithRSAEncryption, QRT_CSP_SIGN_RSA_SHA224, QRT_CSP_HASH_SHA224, QRT_CSP_PKEY_RSA, true, "RSA"},
    {Kind::Sig, &rsaWithHAS160, QRT_CSP_SIGN_RSA_HAS160, QRT_CSP_HASH_HAS160, QRT_CSP_PKEY_RSA, true, "RSA"},
    {Kind::Sig, &id_RSASSA_PSS, QRT_CSP_SIGN_RSA_PSS, -1, QRT_CSP_PKEY_RSA, true, "RSASSA-PSS"},
    {Kind::Sig, &id_dsa_with_sha1, QRT_CSP_SIGN_DSA_SHA1, QRT_CSP_HASH_SHA1, QRT_CSP_PKEY_DSA, true, "DSA"},
    {Kind::Sig, &id_dsa_with_sha224, QRT_CSP_SIGN_DSA_SHA1, QRT_CSP_HASH_SHA224, QRT_CSP_PKEY_DSA, false, "DSA"},
    {Kind::Sig, &id_dsa_with_sha256, QRT_CSP_SIGN_DSA_SHA1, QRT_CSP_HASH_SHA256, QRT_CSP_PKEY_DSA, false, "DSA"},
    {Kind::Sig, &ecdsa_with_SHA1, QRT_CSP_SIGN_ECDSA, QRT_CSP_HASH_SHA1, QRT_CSP_PKEY_ECDSA, false, "ECDSA"},
    {Kind::Sig, &ecdsa_with_SHA224, QRT_CSP_SIGN_ECDSA, QRT_CSP_HASH_SHA224, QRT_CSP_PKEY_ECDSA, false, "ECDSA"},
    {Kind::Sig, &ecdsa_with_SHA256, QRT_CSP_SIGN_ECDSA, QRT_CSP_HASH_SHA256, QRT_CSP_PKEY_ECDSA, false, "ECDSA"},
    {Kind::Sig, &ecdsa_with_SHA384, QRT_CSP_SIGN_ECDSA, QRT_CSP_HASH_SHA384, QRT_CSP_PKEY_ECDSA, false, "ECDSA"},
    {Kind::Sig, &ecdsa_with_SHA512, QRT_CSP_SIGN_ECDSA, QRT_CSP_HASH_SHA512, QRT_CSP_PKEY_ECDSA, false, "ECDSA"},
    {Kind::Sig, &kcdsa1WithSHA1, QRT_CSP_SIGN_KCDSA_SHA1, QRT_CSP_HASH_SHA1, QRT_CSP_PKEY_KCDSA, true, "KCDSA"},
    {Kind::Sig, &kcdsaWithSHA1, QRT_CSP_SIGN_KCDSA_SHA1, QRT_CSP_HASH_SHA1, QRT_CSP_PKEY_KCDSA, false, "KCDSA"},
    {Kind::Sig, &kcdsa1WithHAS160, QRT_CSP_SIGN_KCDSA_HAS160, QRT_CSP_HASH_HAS160, QRT_CSP_PKEY_KCDSA, true, "KCDSA"},
    {Kind::Sig, &kcdsaWithHAS160, QRT_CSP_SIGN_KCDSA_HAS160, QRT_CSP_HASH_HAS160, QRT_CSP_PKEY_KCDSA, false, "KCDSA"},
    {Kind::Sig, &kcdsa1WithSHA224, QRT_CSP_SIGN_KCDSA_SHA224, QRT_CSP_HASH_SHA224, QRT_CSP_PKEY_KCDSA, true, "KCDSA"},
    {Kind::Sig, &kcdsa1WithSHA256, QRT_CSP_SIGN_KCDSA_SHA256, QRT_CSP_HASH_SHA256, QRT_CSP_PKEY_KCDSA, true, "KCDSA"},
    {Kind::Sig, &kcdsaWithSHA256, QRT_CSP_SIGN_KCDSA_SHA256, QRT_CSP_HASH_SHA256, QRT_CSP_PKEY_KCDSA, false, "KCDSA"},
    {Kind::Sig, &kcdsa1WithSHA384, QRT_CSP_SIGN_KCDSA_SHA384, QRT_CSP_HASH_SHA384, QRT_CSP_PKEY_KCDSA, true, "KCDSA"},
    {Kind::Sig, &kcdsa1WithSHA512, QRT_CSP_SIGN_KCDSA_SHA512, QRT_CSP_HASH_SHA512, QRT_CSP_PKEY_KCDSA, true, "KCDSA"},
    {Kind::Sig, &eckcdsaWithSHA1, QRT_CSP_SIGN_ECKCDSA_SHA1, QRT_CSP_HASH_SHA1, QRT_CSP_PKEY_ECKCDSA, true, "EC-KCDSA"},
    {Kind::Sig, &eckcdsaWithHAS160, QRT_CSP_SIGN_ECKCDSA_HAS160, QRT_CSP_HASH_HAS160, QRT_CSP_PKEY_ECKCDSA, true,
     "EC-KCDSA"},
    {Kind::Sig, &eckcdsaWithSHA224, QRT_CSP_SIGN_ECKCDSA_SHA224, QRT_CSP_HASH_SHA224, QRT_CSP_PKEY_ECKCDSA, true,
     "EC-KCDSA"},
    {Kind::Sig, &eckcdsaWithSHA256, QRT_CSP_SIGN_ECKCDSA_SHA256, QRT_CSP_HASH_SHA256, QRT_CSP_PKEY_ECKCDSA, true,
     "EC-KCDSA"},
    {Kind::Sig, &eckcdsaWithSHA384, QRT_CSP_SIGN_ECKCDSA_SHA384, QRT_CSP_HASH_SHA384, QRT_CSP_PKEY_ECKCDSA, true,
     "EC-KCDSA"},
    {Kind::Sig, &eckcdsaWithSHA512, QRT_CSP_SIGN_ECKCDSA_SHA512, QRT_CSP_HASH_SHA512, QRT_CSP_PKEY_ECKCDSA, true,
     "EC-KCDSA"},
    {Kind::Key, &rsaEncryption, QRT_CSP_PKEY_RSA, 0, 0, true, "RSA"},
    {Kind::Key, &dhpublicnumber, QRT_CSP_PKEY_DH, 0, 0, true, "DH"},
    {Kind::Key, &id_dsa, QRT_CSP_PKEY_DSA, 0, 0, true, "DSA"},
    {Kind::Key, &id_ecPublicKey, QRT_CSP_PKEY_ECDSA, 0, 0, true, "ECDSA"},
    {Kind::Key, &kcdsa1, QRT_CSP_PKEY_KCDSA, 0, 0, true, "KCDSA"},
    {Kind::Key, &kcdsa, QRT_CSP_PKEY_KCDSA, 0, 0, false, "KCDSA"},
    {Kind::Key, &id_RSASSA_PSS, QRT_CSP_PKEY_RSAPSS, 0, 0, true, "RSASSA-PSS"},
    {Kind::Hash, &md2, QRT_CSP_HASH_MD2, 0, 0, true, "MD2"},
    {Kind::Hash, &md5, QRT_CSP_HASH_MD5, 0, 0, true, "MD5"},
    {Kind::Hash, &sha_1, QRT_CSP_HASH_SHA1, 0, 0, true, "SHA1"},
    {Kind::Hash, &hash160, QRT_CSP_HASH_HAS160, 0, 0, true, "HAS160"},
    {Kind::Hash, &sha_224, QRT_CSP_HASH_SHA224, 0, 0, true, "SHA224"},
    {Kind::Hash, &sha_256, QRT_CSP_HASH_SHA256, 0, 0, true, "SHA256"},
    {Kind::Hash, &sha_384, QRT_CSP_HASH_SHA384, 0, 0, true, "SHA384"},
    {Kind::Hash, &sha_512, QRT_CSP_HASH_SHA512, 0, 0, true, "SHA512"},
};

const IdRow *row_of(Kind kind, const ObjectID *oid) {
    if (!oid) return nullptr;
    for (const IdRow &r : kIds)
        if (r.kind == kind && oid_equal(*r.oid, *oid))
            return &r;
    return nullptr;
}

// The primary row of an id, or (any_row) the first row that has it.
const IdRow *row_of(Kind kind, int id, bool any_row = false) {
    for (const IdRow &r : kIds)
        if (r.kind == kind && r.id == id && (r.primary || any_row)) return &r;
    return nullptr;
}

bool has_params(const AlgorithmIdentifier &a) {
    return (a.bit_mask & AlgorithmIdentifier_parameters_present) && a.parameters.length &&
           !(a.parameters.length == 2 && a.parameters.value[0] == 0x05 && a.parameters.value[1] == 0x00);
}

// "SHA256 + RSA" from the table (an RSASSA-PSS hash from its parameters), else the dotted OID.
std::string signature_name(const AlgorithmIdentifier &alg) {
    const IdRow *r = row_of(Kind::Sig, &alg.algorithm);
    if (!r) return dotted(alg.algorithm);
    int hash = r->hash;
    if (hash < 0) {
        BIN params = alg.parameters;
        ZQ_CSP_AlgID id{alg.algorithm.value, alg.algorithm.length,
                        (alg.bit_mask & AlgorithmIdentifier_parameters_present) ? &params : nullptr};
        ZQ_CSP_SigAlg sa{};
        if (QRT_CSP_SigAlg_FromAlgID(&sa, &id) == 0) hash = sa.hashID;
    }
    const char *h = hash_name(hash);
    return h ? std::string(h) + " + " + r->name : std::string(r->name);
}

std::string hex_of(const unsigned char *p, size_t n) {
    std::string s;
    if (p) append_hex(s, p, n);
    return s;
}

// The serial as a number when it fits 32 bits (a leading 00 octet aside), else 0.
unsigned int serial_number(const HUGE &h) {
    unsigned int n = 0;
    bool fits = h.value && (h.length <= 4 || (h.length == 5 && h.value[0] == 0));
    if (!fits || QRT_HugeToNum(&h, &n) != 0) return 0;
    return n;
}

void put_huge(char *field, size_t width, const HUGE &h) { put_field(field, width, hex_of(h.value, h.length)); }

// The name text of the distinguished-name module; an empty field when it cannot be converted.
void put_name(char *field, size_t width, const Name &name) {
    char *text = nullptr;
    if (QRT_ExtractRDN(0, &name, &text) == 0 && text) put_field(field, width, text);
    QRT_free(text);
}

BIN key_bits(const TBSCertificate &tbs) {
    const BitString &k = tbs.subjectPublicKeyInfo.subjectPublicKey;
    return BIN{(k.length + 7) / 8, k.value};
}

#define FIELD(rec, f) (rec)->f, sizeof((rec)->f)

int basic_fields(const Certificate &cert, CertInfo *out) {
    const TBSCertificate &tbs = cert.tbsCertificate;
    out->nVersion = (tbs.bit_mask & TBSCertificate_version_present) ? tbs.version + 1 : 1;
    out->nSerial = serial_number(tbs.serialNumber);
    put_huge(FIELD(out, sSerial), tbs.serialNumber);
    put_field(FIELD(out, sSignatureAlgDesc), signature_name(cert.signatureAlgorithm));
    put_name(FIELD(out, sIssuerRDN), tbs.issuer);
    std::string t;
    if (int rc = time_text(t, tbs.validity.notBefore)) return rc;
    put_field(FIELD(out, sFrom), t);
    if (int rc = time_text(t, tbs.validity.notAfter)) return rc;
    put_field(FIELD(out, sTo), t);
    put_name(FIELD(out, sSubjectRDN), tbs.subject);

    const AlgorithmIdentifier &ka = tbs.subjectPublicKeyInfo.algorithm;
    const IdRow *key = row_of(Kind::Key, &ka.algorithm);
    put_field(FIELD(out, sSubjectKeyAlgDesc), key ? key->name : dotted(ka.algorithm));
    BIN bits = key_bits(tbs);
    if (!bits.length || !bits.value) return QRT_PKC_NO_PUBLIC_KEY;
    put_field(FIELD(out, sSubjectPublicKey), hex_of(bits.value, bits.length));
    int len = 0;
    BIN params = ka.parameters;
    if (key && QRT_CSP_GetKeyLength(&len, &bits, key->id, has_params(ka) ? &params : nullptr) == 0)
        out->nPubKeyLen = len;
    put_field(FIELD(out, sSignature), hex_of(cert.signature.value, (cert.signature.length + 7) / 8));
    return 0;
}

// One pass over the extensions in order. The key-usage, policy, alternative-name, extended
// key-usage and distribution-point formatters fail the call; the others are best effort.
int extension_fields(const Certificate &cert, CertInfo *out) {
    const TBSCertificate &tbs = cert.tbsCertificate;
    if (!(tbs.bit_mask & TBSCertificate_extensions_present)) return 0;
    auto is = [](const Extension &e, const ObjectID &oid) { return oid_equal(e.extnID, oid); };
    for (auto *n = tbs.extensions; n; n = n->next) {
        // Each formatter sees this extension alone: one lookup per extension, however many the
        // certificate carries.
        const Extension &e = n->value;
        Extensions_ alone{nullptr, e};
        Extensions exts = &alone;
        int rc = 0;
        if (is(e, id_ce_authorityKeyIdentifier)) {
            QRT_GetAuthorityKeyId(out->sAuthorityKeyID, exts);
        } else if (is(e, id_ce_subjectKeyIdentifier)) {
            QRT_GetSubjectKeyId(out->sSubjectKeyID, exts);
        } else if (is(e, id_ce_keyUsage)) {
            rc = QRT_GetKeyUsage(out->sKeyUsageDesc, exts, &out->nKeyUsage);
        } else if (is(e, id_ce_certificatePolicies)) {
            rc = QRT_GetPolicy(out->sPolicyID, exts, &out->nPolicyNum, out->sCPSURI, out->sUserNotice);
        } else if (is(e, id_ce_subjectAltName)) {
            rc = QRT_GetAltName(out->sSubjectAltName, exts, 0, out->sVIDHashAlgDesc, out->sVID);
        } else if (is(e, id_ce_issuerAltName)) {
            QRT_GetAltName(out->sIssuerAltName, exts, 1, nullptr, nullptr);
        } else if (is(e, id_ce_basicConstraints)) {
            QRT_GetBC(out->sBasicConstraints, exts);
        } else if (is(e, id_ce_extKeyUsage)) {
            rc = QRT_GetExtKeyUsage(out->sExtendedKeyUsage, exts);
        } else if (is(e, id_ce_cRLDistributionPoints)) {
            char utf8[sizeof out->sCrlDistributionPoints];
            rc = QRT_GetDistributionPoints(utf8, exts);
            if (rc == 0) {
                std::string local(2 * sizeof utf8 + 1, '\0');
                int len = QRT_PKC_UTF8_Decode(local.data(), static_cast<int>(local.size()), utf8,
                                              static_cast<int>(std::strlen(utf8)));
                local = len >= 0 ? local.substr(0, static_cast<size_t>(len)) : std::string(utf8);
                put_field(FIELD(out, sCrlDistributionPoints), local);
            }
        } else if (is(e, id_pe_authorityInfoAccess)) {
            QRT_GetAIA(out->sAIAs, exts);
        } else if (is(e, netscape_cert_type)) {
            QRT_GetNetscapeCertType(out->sNetscapeUsageDesc, exts);
        }
        if (rc) return rc;
    }
    return 0;
}

// A string-valued extension in the locale's code set, cut to the field.
void put_string_ext(char *field, size_t width, Extensions exts, const ObjectID &oid) {
    const Extension *e = QRT_GetExtension(exts, &oid);
    if (!e || !e->extnValue.length) return;
    std::string text(4 * static_cast<size_t>(e->extnValue.length) + 16, '\0');
    int len = static_cast<int>(text.size());
    if (QRT_PKC_ASNString_Decode(text.data(), &len, e->extnValue.value, e->extnValue.length) != 0 || len < 0) return;
    text.resize(static_cast<size_t>(len));
    put_field(field, width,
              text_of(BIN{static_cast<unsigned>(text.size()), reinterpret_cast<unsigned char *>(text.data())}));
}

// The fields QRT_ExtractCertInfoEx adds; each is best effort.
void extended_fields(const Certificate &cert, CertInfoEx *out) {
    const TBSCertificate &tbs = cert.tbsCertificate;
    if (tbs.bit_mask & TBSCertificate_extensions_present) {
        Extensions exts = tbs.extensions;
        put_string_ext(FIELD(out, sRegisteredNumber), exts, id_registeredNumber);
        put_string_ext(FIELD(out, sRepresentativeName), exts, id_representativeName);
        put_string_ext(FIELD(out, sRepresentativeTitle), exts, id_representativeTitle);
        put_string_ext(FIELD(out, sNetscapeComment), exts, netscape_comment);
        if (const Extension *e = QRT_GetExtension(exts, &id_ce_authorityKeyIdentifier)) {
            AsnTree<AuthorityKeyIdentifier> aki(AuthorityKeyIdentifier_PDU);
            if (aki.decode(&e->extnValue) == 0 && aki &&
                (aki->bit_mask & AuthorityKeyIdentifier_authorityCertSerialNumber_present)) {
                out->nAuthorityCertSerial = serial_number(aki->authorityCertSerialNumber);
                put_huge(FIELD(out, sAuthorityCertSerial), aki->authorityCertSerialNumber);
            }
        }
    }
    const AlgorithmIdentifier &ka = tbs.subjectPublicKeyInfo.algorithm;
    const IdRow *key = row_of(Kind::Key, &ka.algorithm);
    if (!key) return;
    if (key->id == QRT_CSP_PKEY_RSA || key->id == QRT_CSP_PKEY_RSAPSS) {
        BIN bits = key_bits(tbs);
        AsnTree<RSAPublicKey> rsa(RSAPublicKey_PDU);
        if (rsa.decode(&bits) == 0 && rsa) {
            put_huge(FIELD(out, sRSAModulus), rsa->modulus);
            put_huge(FIELD(out, sRSAExponent), rsa->publicExponent);
        }
    } else if (key->id == QRT_CSP_PKEY_KCDSA && has_params(ka)) {
        AsnTree<KCDSAParameters> p(KCDSAParameters_PDU);
        if (p.decode(&ka.parameters) == 0 && p) {
            put_huge(FIELD(out, sKCDSA_P), p->p);
            put_huge(FIELD(out, sKCDSA_Q), p->q);
            put_huge(FIELD(out, sKCDSA_G), p->g);
        }
    }
}

// Reads the DER (file or memory), fills sMSFP, decodes it and hands the tree to fill.
template <class F>
int with_certificate(const char *path, const unsigned char *der, unsigned length, int inMemory, CertInfo *out,
                     F &&fill) {
    BIN file{0, nullptr};
    struct Release {
        BIN &b;
        ~Release() { QRT_BIN_Reset(&b); }
    } release{file};
    BIN in{length, const_cast<unsigned char *>(der)};
    if (!inMemory && path) {
        if (int rc = QRT_File_ReadBin(&file, path)) return rc;
        in = file;
    } else if (!der || !length) {
        return QRT_PKC_INVALID_INPUT;
    }
    BIN sha1{0, nullptr};
    if (int rc = QRT_CSP_Hash(&sha1, &in, QRT_CSP_HASH_SHA1)) return rc;
    put_field(FIELD(out, sMSFP), hex_of(sha1.value, sha1.length));
    QRT_BIN_Reset(&sha1);
    AsnTree<Certificate> cert(Certificate_PDU);
    if (int rc = cert.decode(&in)) return rc;
    if (!cert) return QRT_PKC_BAD_CERTIFICATE;
    return fill(*cert);
}

int copy_bin(BIN *out, const unsigned char *p, unsigned n) {
    return QRT_BIN_Set(out, p, static_cast<int>(n)) == 0 ? 0 : QRT_PKC_MALLOC_FAILED;
}

}  // namespace

const char *hash_name(int hashID) {
    const IdRow *r = row_of(Kind::Hash, hashID);
    return r ? r->name : nullptr;
}

}  // namespace ostrel::pkc

using namespace ostrel::pkc;

extern "C" {

QRT_API int QRT_ExtractCertInfo(int, const char *path, const unsigned char *der, unsigned length, int inMemory,
                                CertInfo *out) {
    return OSTREL_GUARD_TRACE([&] {
        if (!out) return QRT_PKC_INVALID_INPUT;
        std::memset(out, 0, sizeof *out);
        return with_certificate(path, der, length, inMemory, out, [&](const Certificate &c) {
            if (int rc = basic_fields(c, out)) return rc;
            return extension_fields(c, out);
        });
    });
}

QRT_API int QRT_ExtractCertInfoEx(int, const char *path, const unsigned char *der, unsigned length, int inMemory,
                                  CertInfoEx *out) {
    return OSTREL_GUARD_TRACE([&] {
        if (!out) return QRT_PKC_INVALID_INPUT;
        std::memset(out, 0, sizeof *out);
        return with_certificate(path, der, length, inMemory, &out->info, [&](const Certificate &c) {
            if (int rc = basic_fields(c, &out->info)) return rc;
            if (int rc = extension_fields(c, &out->info)) return rc;
            extended_fields(c, out);
            return 0;
        });
    });
}

QRT_API int QRT_ExtractCertInfoNoExt(int, const Certificate *cert, CertInfo *out) {
    return OSTREL_GUARD_TRACE([&] {
        if (!cert || !out) return QRT_PKC_INVALID_INPUT;
        std::memset(out, 0, sizeof *out);
        return basic_fields(*cert, out);
    });
}

QRT_API int QRT_DoExtractCertInfo(int, const Certificate *cert, CertInfo *out) {
    return OSTREL_GUARD_TRACE([&] {
        if (!cert || !out) return QRT_PKC_INVALID_INPUT;
        std::memset(out, 0, sizeof *out);
        if (int rc = basic_fields(*cert, out)) return rc;
        return extension_fields(*cert, out);
    });
}

QRT_API int QRT_ExtractCertExtension(int, const Certificate *cert, CertInfo *out) {
    return OSTREL_GUARD_TRACE([&] {
        if (!cert || !out) return QRT_PKC_INVALID_INPUT;
        return extension_fields(*cert, out);
    });
}

QRT_API int QRT_PKC_BIN_ToHex(char *out, int *capacity, const BIN *in) {
    return OSTREL_GUARD_TRACE([&] {
        if (!out || !capacity || *capacity < 3 || !in || (in->length && !in->value)) return QRT_PKC_INVALID_INPUT;
        size_t n = std::min<size_t>(in->length, static_cast<size_t>(*capacity - 1) / 2);
        std::string s = hex_of(in->value, n);
        put_field(out, static_cast<size_t>(*capacity), s);
        *capacity = static_cast<int>(s.size());
        return 0;
    });
}

QRT_API int QRT_PKC_GetCertThumbPrint(BIN *out, const BIN *certDER, int hashID) {
    return OSTREL_GUARD_TRACE([&] {
        if (!out || !certDER || !certDER->value) return QRT_PKC_INVALID_INPUT;
        return QRT_CSP_Hash(out, certDER, hashID);
    });
}

QRT_API int QRT_PKC_GetCertThumbPrintExcludeSig(BIN *out, const Certificate *cert, int hashID) {
    return OSTREL_GUARD_TRACE([&] {
        if (!out || !cert) return QRT_PKC_INVALID_INPUT;
        if (cert->tbsCertificate_encoded.length) return QRT_CSP_Hash(out, &cert->tbsCertificate_encoded, hashID);
        BIN tbs{0, nullptr};
        int rc = QRT_ASN_EncodePDU(&tbs, &cert->tbsCertificate, TBSCertificate_PDU);
        if (rc == 0) rc = QRT_CSP_Hash(out, &tbs, hashID);
        QRT_BIN_Reset(&tbs);
        return rc;
    });
}

QRT_API int QRT_PKC_IsPEM(const BIN *in) {
    return in && in->value && in->length > 9 && std::memcmp(in->value, "-----BEGIN", 10) == 0 ? 1 : 0;
}

// The Base64 body between the first "-----BEGIN" line and the next "-----END"; header lines
// ("Name: value") are skipped.
QRT_API int QRT_PKC_DecodePEM(BIN *der, const BIN *pem) {
    return OSTREL_GUARD_TRACE([&] {
        if (!der || !pem || !pem->value) return QRT_PKC_INVALID_INPUT;
        std::string_view text(reinterpret_cast<const char *>(pem->value), pem->length);
        size_t at = text.find("-----BEGIN");
        if (at == std::string_view::npos) return QRT_PKC_INVALID_INPUT;
        at = text.find('\n', at);
        std::string body;
        bool ended = false;
        while (at != std::string_view::npos && at < text.size()) {
            size_t eol = text.find('\n', at + 1);
            std::string_view line = text.substr(at + 1, eol == std::string_view::npos ? text.npos : eol - at - 1);
            at = eol;
            if (line.rfind("-----END", 0) == 0) {
                ended = true;
                break;
            }
            if (line.find(':') != std::string_view::npos) continue;
            for (char c : line)
                if (c != '\r' && c != ' ' && c != '\t') body += c;
        }
        if (!ended || body.empty()) return QRT_PKC_INVALID_INPUT;
        BIN out{0, nullptr};
        if (QRT_Base64ToBin(body.c_str(), &out) != 0 || !out.length) {
            QRT_BIN_Reset(&out);
            return QRT_PKC_INVALID_INPUT;
        }
        *der = out;
        return 0;
    });
}

QRT_API int QRT_GetCertPubKey(BIN *out, const Certificate *cert) {
    return OSTREL_GUARD_TRACE([&] {
        if (!out || !cert) return QRT_PKC_INVALID_INPUT;
        BIN bits = key_bits(cert->tbsCertificate);
        if (!bits.length || !bits.value) return QRT_PKC_NO_PUBLIC_KEY;
        return copy_bin(out, bits.value, bits.length);
    });
}

QRT_API int QRT_GetSubPubKeyInfo(BIN *out, const Certificate *cert) {
    return OSTREL_GUARD_TRACE([&] {
        if (!out || !cert) return QRT_PKC_INVALID_INPUT;
        const Any &spki = cert->tbsCertificate.subjectPublicKeyInfo_encoded;
        if (spki.length) return copy_bin(out, spki.value, spki.length);
        return QRT_ASN_EncodePDU(out, &cert->tbsCertificate.subjectPublicKeyInfo, SubjectPublicKeyInfo_PDU);
    });
}

QRT_API int QRT_PKC_GetPubKeyInfo(int *pkeyID, BIN *key, BIN *param, const TBSCertificate *tbs) {
    return OSTREL_GUARD_TRACE([&] {
        if (!pkeyID || !tbs) return QRT_PKC_INVALID_INPUT;
        const AlgorithmIdentifier &ka = tbs->subjectPublicKeyInfo.algorithm;
        const IdRow *r = row_of(Kind::Key, &ka.algorithm);
        *pkeyID = r ? r->id : -1;
        if (!r) return QRT_PKC_UNKNOWN_PKEYID;
        BIN bits = key_bits(*tbs);
        if (!bits.length || !bits.value) return QRT_PKC_NO_PUBLIC_KEY;
        BIN k{0, nullptr}, p{0, nullptr};
        if (key && copy_bin(&k, bits.value, bits.length)) return QRT_PKC_MALLOC_FAILED;
        if (param && has_params(ka) && copy_bin(&p, ka.parameters.value, ka.parameters.length)) {
            QRT_BIN_Reset(&k);
            return QRT_PKC_MALLOC_FAILED;
        }
        if (key) *key = k;
        if (param) *param = p;
        return 0;
    });
}

QRT_API int QRT_PKC_ObjID_To_SignID(const ObjectID *oid) {
    const IdRow *r = row_of(Kind::Sig, oid);
    return r ? r->id : -1;
}
QRT_API const ObjectID *QRT_PKC_SignID_To_ObjID(int signID) {
    const IdRow *r = row_of(Kind::Sig, signID);
    return r ? r->oid : nullptr;
}
QRT_API int QRT_PKC_SignID_To_PkeyID(int signID) {
    const IdRow *r = row_of(Kind::Sig, signID, true);
    return r ? r->pkey : -1;
}
QRT_API int QRT_PKC_SignID_To_HashID(int signID) {
    const IdRow *r = row_of(Kind::Sig, signID);
    return r ? r->hash : -1;
}
QRT_API int QRT_PKC_ObjID_To_PkeyID(const ObjectID *oid) {
    const IdRow *r = row_of(Kind::Key, oid);
    return r ? r->id : -1;
}
QRT_API const ObjectID *QRT_PKC_PkeyID_To_ObjID(int pkeyID) {
    const IdRow *r = row_of(Kind::Key, pkeyID);
    return r ? r->oid : nullptr;
}
QRT_API int QRT_PKC_ObjID_To_HashID(const ObjectID *oid) {
    const IdRow *r = row_of(Kind::Hash, oid);
    return r ? r->id : -1;
}
QRT_API const ObjectID *QRT_PKC_HashID_To_ObjID(int hashID) {
    const IdRow *r = row_of(Kind::Hash, hashID);
    return r ? r->oid : nullptr;
}

}  // extern "C"
