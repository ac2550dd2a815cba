// The identity verification value (VID): a double hash binding a certificate to its holder's
// identity number and a random value, carried with the holder's real name as identity data in an
// otherName of the subjectAltName. Computing and checking it, reading it back from a
// certificate, and building the subjectAltName that carries it.
#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "ostrel/asn_tree.hpp"
#include "ostrel/ct.hpp"
#include "ostrel/owners.hpp"
#include "pkc_certinfo.hpp"
#include "pkc_dn.hpp"
#include "pkc_gen.hpp"
#include "suite_csp.h"

namespace ostrel::pkc {
namespace {

using ostrel::AsnTree;

constexpr uint8_t kNull[] = {0x05, 0x00};
constexpr size_t kMinRandom = 20;
// Names are short; this bounds the conversion buffer on hostile lengths.
constexpr size_t kMaxRealName = 64 * 1024;

// Hashes a VID may be computed with: SHA-1, SHA-256, SHA-384, SHA-512.
bool vid_hash(int hashID) {
    return hashID == QRT_CSP_HASH_SHA1 || hashID == QRT_CSP_HASH_SHA256 || hashID == QRT_CSP_HASH_SHA384 ||
           hashID == QRT_CSP_HASH_SHA512;
}

// PrintableString: letters, digits, space and ' ( ) + , - . / : = ?
bool printable(const char *s, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
              std::strchr(" '()+,-./:=?", c)))
            return false;
    }
    return n > 0;
}

// The first otherName of the identity-data type in a subjectAltName value.
int read_alt_name(const BIN &san, Identity &out) {
    AsnTree<GeneralNames> names(SubjectAltName_PDU);
    if (names.decode(&san) != 0 || !names) return QRT_PKC_BAD_EXTENSION;
    for (auto *n = *names; n; n = n->next) {
        const GeneralName &g = n->value;
        if (g.choice == GeneralName_otherName_chosen && oid_equal(g.u.otherName.type_id, id_kisa_identifyData))
            return read_identity(g.u.otherName.value, out);
    }
    return QRT_PKC_NO_VID_INFO;
}

int read_extensions(const Extensions exts, Identity &out) {
    const Extension *san = QRT_GetExtension(exts, &id_ce_subjectAltName);
    if (!san) return QRT_PKC_NO_EXTENSION;
    return read_alt_name(san->extnValue, out);
}

Extensions cert_extensions(const Certificate &cert) {
    const TBSCertificate &tbs = cert.tbsCertificate;
    return (tbs.bit_mask & TBSCertificate_extensions_present) ? tbs.extensions : nullptr;
}

// The real name in the local code set; the UTF-8 as it is when it does not convert.
std::string local_name(const std::string &utf8) {
    std::string local;
    return utf8_to_local(utf8.data(), utf8.size(), local) ? local : utf8;
}

char *new_text(const std::string &s) {
    auto *p = static_cast<char *>(QRT_malloc(s.size() + 1));
    if (!p) throw std::bad_alloc();
    std::memcpy(p, s.data(), s.size());
    p[s.size()] = '\0';
    return p;
}

// Hands the parts the caller asked for over; nothing is set unless all could be.
int give_identity(const Identity &id, char **realName, int *hashID, BIN *vid) {
    char *name = realName ? new_text(local_name(id.realName)) : nullptr;
    if (vid && QRT_BIN_Set(vid, id.vid.data(), static_cast<int>(id.vid.size())) != 0) {
        QRT_free(name);
        throw std::bad_alloc();
    }
    if (realName) *realName = name;
    if (hashID) *hashID = id.hashID;
    return 0;
}

// The real name from the local code set in UTF-8 (one local byte may become three UTF-8 bytes:
// a half-width katakana of Shift_JIS).
bool name_to_utf8(const char *name, size_t n, std::string &utf8) {
    utf8.assign(3 * n + 1, '\0');
    int len = QRT_PKC_UTF8_Encode(utf8.data(), static_cast<int>(utf8.size()), name, static_cast<int>(n));
    if (len < 0) return false;
    utf8.resize(static_cast<size_t>(len));
    return true;
}

void clear_outputs(char **realName, int *hashID, BIN *vid) {
    if (realName) *realName = nullptr;
    if (hashID) *hashID = -1;
    if (vid) *vid = BIN{0, nullptr};
}

}  // namespace

// IdentifyData ::= SEQUENCE { realName UTF8String,
//                             userInfo SEQUENCE OF SEQUENCE { type OBJECT IDENTIFIER, value VID } }
// VID ::= SEQUENCE { hashAlg AlgorithmIdentifier, virtualID [0] EXPLICIT OCTET STRING }
int read_identity(const BIN &der, Identity &out) {
    AsnTree<IdentifyData> data(IdentifyData_PDU);
    if (data.decode(&der) != 0 || !data) return QRT_PKC_BAD_EXTENSION;
    for (auto *i = data->userInfo; i; i = i->next) {
        if (!oid_equal(i->value.type, id_VID)) continue;
        const VID &v = i->value.value;
        int hash = QRT_PKC_ObjID_To_HashID(&v.hashAlg.algorithm);
        if (hash < 0 || !hash_name(hash)) return QRT_PKC_UNKNOWN_HASHID;
        out.realName = text_of(data->realName);
        out.hashID = hash;
        out.vid.assign(v.virtualID.value, v.virtualID.value + v.virtualID.length);
        return 0;
    }
    return QRT_PKC_NO_VID_INFO;
}

// HashContent ::= SEQUENCE { idn PrintableString, randomNum BIT STRING }
int compute_vid(Bytes &vid, int hashID, const char *identityNumber, const BIN &random) {
    size_t n = identityNumber ? std::strlen(identityNumber) : 0;
    if (!printable(identityNumber, n) || !random.value || random.length < kMinRandom) return QRT_PKC_INVALID_INPUT;
    if (!vid_hash(hashID)) return QRT_PKC_UNKNOWN_HASHID;
    Bytes content, der, bits{0x00};
    content.reserve(n + random.length + 8);
    der_put(content, 0x13, reinterpret_cast<const uint8_t *>(identityNumber), n);
    der_raw(bits, random.value, random.length);
    der_put(content, 0x03, bits);
    der_put(der, 0x30, content);
    BIN in = bin_view(der);
    BinOwner h1, h2;
    if (int rc = QRT_CSP_Hash(h1.get(), &in, hashID)) return rc;
    if (int rc = QRT_CSP_Hash(h2.get(), h1.get(), hashID)) return rc;
    vid.assign(h2->value, h2->value + h2->length);
    return 0;
}

int identity_alt_name(Bytes &ext, const char *realName, size_t length, int hashID, const BIN &vid) {
    if (!realName || length > kMaxRealName || !vid.value || !vid.length) return QRT_PKC_INVALID_INPUT;
    const ObjectID *hashOid = QRT_PKC_HashID_To_ObjID(hashID);
    if (!hashOid) return QRT_PKC_UNKNOWN_HASHID;
    std::string utf8;
    if (!name_to_utf8(realName, length, utf8)) return QRT_PKC_INVALID_INPUT;

    IdentifyData_userInfo_ info{};
    info.value.type = id_VID;
    AlgorithmIdentifier &alg = info.value.value.hashAlg;
    alg.bit_mask = AlgorithmIdentifier_parameters_present;
    alg.algorithm = *hashOid;
    alg.parameters = Any{sizeof kNull, const_cast<uint8_t *>(kNull)};
    info.value.value.virtualID = vid;
    IdentifyData data{};
    data.realName = BIN{static_cast<unsigned>(utf8.size()), reinterpret_cast<uint8_t *>(utf8.data())};
    data.userInfo = &info;
    Bytes identity;
    if (int rc = der_encode(identity, &data, IdentifyData_PDU)) return rc;

    // SubjectAltName ::= GeneralNames, one otherName { id_kisa_identifyData, [0] EXPLICIT IdentifyData }
    GeneralNames_ name{};
    name.value.choice = GeneralName_otherName_chosen;
    name.value.u.otherName.type_id = id_kisa_identifyData;
    name.value.u.otherName.value = bin_view(identity);
    GeneralNames names = &name;
    return der_encode(ext, &names, SubjectAltName_PDU);
}

}  // namespace ostrel::pkc

using namespace ostrel::pkc;

extern "C" {

QRT_API int QRT_PKC_ComputeVID(BIN *vid, int hashID, const char *identityNumber, const BIN *random) {
    if (!vid || !identityNumber || !random) return QRT_PKC_INVALID_INPUT;
    *vid = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        Bytes v;
        if (int rc = compute_vid(v, hashID, identityNumber, *random)) return rc;
        give_bin(vid, v);
        return 0;
    });
}

QRT_API int QRT_PKC_VerifyVID(const BIN *vid, int hashID, const char *identityNumber, const BIN *random) {
    if (!vid || !vid->value || !identityNumber || !random) return QRT_PKC_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        Bytes v;
        if (int rc = compute_vid(v, hashID, identityNumber, *random)) return rc;
        // the time taken depends on the lengths only
        bool same = v.size() == vid->length && ostrel::ct_equal(v.data(), vid->value, v.size());
        return same ? 0 : QRT_PKC_INVALID_VID;
    });
}

QRT_API int QRT_GetVID(char *realName, int realNameCapacity, char *vidHex, int vidHexCapacity, char *hashName,
                       int hashNameCapacity, const Extensions exts) {
    if (!realName || realNameCapacity < 1 || !vidHex || vidHexCapacity < 3 || !hashName || hashNameCapacity < 1)
        return QRT_PKC_INVALID_INPUT;
    realName[0] = vidHex[0] = hashName[0] = '\0';
    return OSTREL_GUARD_TRACE([&] {
        Identity id;
        if (int rc = read_extensions(exts, id)) return rc;
        std::string name = local_name(id.realName);
        size_t n = whole_chars(name.data(), name.size(), static_cast<size_t>(realNameCapacity) - 1);
        std::memcpy(realName, name.data(), n);
        realName[n] = '\0';
        std::string hex;
        size_t bytes = std::min(id.vid.size(), static_cast<size_t>(vidHexCapacity - 1) / 2);
        append_hex(hex, id.vid.data(), bytes);
        put_field(vidHex, static_cast<size_t>(vidHexCapacity), hex);
        put_field(hashName, static_cast<size_t>(hashNameCapacity), hash_name(id.hashID));
        return 0;
    });
}

QRT_API int QRT_PKC_GetVIDInfo(char **realName, int *hashID, BIN *vid, const Certificate *cert) {
    if (!cert) return QRT_PKC_INVALID_INPUT;
    clear_outputs(realName, hashID, vid);
    return OSTREL_GUARD_TRACE([&] {
        Identity id;
        if (int rc = read_extensions(cert_extensions(*cert), id)) return rc;
        return give_identity(id, realName, hashID, vid);
    });
}

QRT_API int QRT_PKC_GetVIDHashAlg(int *hashID, const Certificate *cert) {
    if (!hashID || !cert) return QRT_PKC_INVALID_INPUT;
    return QRT_PKC_GetVIDInfo(nullptr, hashID, nullptr, cert);
}

QRT_API int QRT_PKC_SubAltName_Encode(BIN *extension, const char *realName, int realNameLength, int hashID,
                                      const BIN *vid) {
    if (!extension || !realName || !vid) return QRT_PKC_INVALID_INPUT;
    *extension = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        size_t n = realNameLength < 0 ? strnlen(realName, kMaxRealName + 1) : static_cast<size_t>(realNameLength);
        Bytes ext;
        if (int rc = identity_alt_name(ext, realName, n, hashID, *vid)) return rc;
        give_bin(extension, ext);
        return 0;
    });
}

QRT_API int QRT_PKC_SubAltName_Decode(char **realName, int *hashID, BIN *vid, const BIN *extension) {
    if (!extension || !extension->value) return QRT_PKC_INVALID_INPUT;
    clear_outputs(realName, hashID, vid);
    return OSTREL_GUARD_TRACE([&] {
        Identity id;
        if (int rc = read_alt_name(*extension, id)) return rc;
        return give_identity(id, realName, hashID, vid);
    });
}

QRT_API int QRT_PKC_IdentityData_Decode(char **realName, int *hashID, BIN *vid, const BIN *identifyData) {
    if (!identifyData || !identifyData->value) return QRT_PKC_INVALID_INPUT;
    clear_outputs(realName, hashID, vid);
    return OSTREL_GUARD_TRACE([&] {
        Identity id;
        if (int rc = read_identity(*identifyData, id)) return rc;
        return give_identity(id, realName, hashID, vid);
    });
}

}  // extern "C"
