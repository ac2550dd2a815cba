// Key identifiers: the SHA-1 of the key bytes the caller passes, as the subject and authority key
// identifier extensions carry it, and the DER writer the generating modules share.
#include <cstdio>
#include <cstring>
#include <new>

#include "ostrel/asn_tree.hpp"
#include "ostrel/owners.hpp"
#include "ostrel/reader.hpp"
#include "ostrel/tlv.hpp"
#include "pkc_gen.hpp"
#include "suite_csp.h"

namespace ostrel::pkc {

void der_put(Bytes &out, uint8_t tag, const uint8_t *p, size_t n) {
    uint8_t len[9];
    out.push_back(tag);
    der_raw(out, len, tlv::length_octets(n, len));
    if (n) der_raw(out, p, n);
}

int der_encode(Bytes &out, const void *value, int pdu) {
    BinOwner der;
    if (int rc = QRT_ASN_EncodePDU(der.get(), value, pdu)) return rc;
    out.assign(der->value, der->value + der->length);
    return 0;
}

bool der_one_element(const uint8_t *p, size_t n) {
    if (!p || !n) return false;
    Reader r(p, n), content;
    uint8_t tag = 0;
    return tlv::read_any(r, tag, content, nullptr, tlv::Profile::kBer) == tlv::kOk && r.empty();
}

void give_bin(BIN *out, const Bytes &b) {
    if (QRT_BIN_Set(out, b.data(), static_cast<int>(b.size())) != 0) throw std::bad_alloc();
}

int key_identifier(Bytes &id, const BIN &key) {
    BinOwner h;
    if (int rc = QRT_CSP_Hash(h.get(), &key, QRT_CSP_HASH_SHA1)) return rc;
    id.assign(h->value, h->value + h->length);
    return 0;
}

// AuthorityKeyIdentifier ::= SEQUENCE { keyIdentifier [0] KeyIdentifier OPTIONAL, ... }
int auth_key_id_value(Bytes &ext, const Bytes &keyId) {
    AuthorityKeyIdentifier aki{};
    aki.bit_mask = AuthorityKeyIdentifier_keyIdentifier_present;
    aki.keyIdentifier = bin_view(keyId);
    return der_encode(ext, &aki, AuthorityKeyIdentifier_PDU);
}

namespace {

bool key_ok(const BIN *key) { return key && key->value && key->length; }

int subject_key_id_value(Bytes &ext, const BIN &key) {
    Bytes id;
    if (int rc = key_identifier(id, key)) return rc;
    SubjectKeyIdentifier ski = bin_view(id);
    return der_encode(ext, &ski, SubjectKeyIdentifier_PDU);
}

}  // namespace
}  // namespace ostrel::pkc

using namespace ostrel::pkc;
using ostrel::AsnTree;

extern "C" {

QRT_API int QRT_PKC_SubKeyId_Compute(BIN *id, const BIN *publicKey) {
    if (!id || !key_ok(publicKey)) return QRT_PKC_INVALID_INPUT;
    *id = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] { return QRT_CSP_Hash(id, publicKey, QRT_CSP_HASH_SHA1); });
}

QRT_API int QRT_PKC_SubKeyId_Encode(BIN *ext, const BIN *publicKey) {
    if (!ext || !key_ok(publicKey)) return QRT_PKC_INVALID_INPUT;
    *ext = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        Bytes value;
        if (int rc = subject_key_id_value(value, *publicKey)) return rc;
        give_bin(ext, value);
        return 0;
    });
}

QRT_API int QRT_PKC_SubKeyId_Decode(BIN *id, const BIN *ext) {
    if (!id || !key_ok(ext)) return QRT_PKC_INVALID_INPUT;
    *id = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        AsnTree<SubjectKeyIdentifier> ski(SubjectKeyIdentifier_PDU);
        if (ski.decode(ext) != 0 || !ski) return QRT_PKC_BAD_SUBJECT_KEY_ID;
        give_bin(id, Bytes(ski->value, ski->value + ski->length));
        return 0;
    });
}

QRT_API int QRT_PKC_AuthKeyId_Encode(BIN *ext, const BIN *issuerPublicKey) {
    if (!ext || !key_ok(issuerPublicKey)) return QRT_PKC_INVALID_INPUT;
    *ext = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        Bytes id, value;
        if (int rc = key_identifier(id, *issuerPublicKey)) return rc;
        if (int rc = auth_key_id_value(value, id)) return rc;
        give_bin(ext, value);
        return 0;
    });
}

// An identifier that names the issuer by name and serial only gives an empty id.
QRT_API int QRT_PKC_AuthKeyId_Decode(BIN *id, const BIN *ext) {
    if (!id || !key_ok(ext)) return QRT_PKC_INVALID_INPUT;
    *id = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        AsnTree<AuthorityKeyIdentifier> aki(AuthorityKeyIdentifier_PDU);
        if (aki.decode(ext) != 0 || !aki) return QRT_PKC_BAD_AUTH_KEY_ID;
        if (aki->bit_mask & AuthorityKeyIdentifier_keyIdentifier_present)
            give_bin(id, Bytes(aki->keyIdentifier.value, aki->keyIdentifier.value + aki->keyIdentifier.length));
        return 0;
    });
}

QRT_API int QRT_GenSubjectKeyID(BIN *ext, const BIN *publicKey) { return QRT_PKC_SubKeyId_Encode(ext, publicKey); }

QRT_API int QRT_GetSubjectKeyIDBin(BIN *id, const BIN *publicKey) { return QRT_PKC_SubKeyId_Compute(id, publicKey); }

QRT_API int QRT_GetSubjectKeyID(char *out, const BIN *publicKey) {
    if (!out || !key_ok(publicKey)) return QRT_PKC_INVALID_INPUT;
    out[0] = '\0';
    return OSTREL_GUARD_TRACE([&] {
        Bytes id;
        if (int rc = key_identifier(id, *publicKey)) return rc;
        std::string hex;
        append_hex(hex, id.data(), id.size());
        std::memcpy(out, hex.c_str(), hex.size() + 1);
        return 0;
    });
}

QRT_API int QRT_GetSubjectKeyIDv(unsigned char *id, const unsigned char *key, unsigned int length) {
    if (!id || !key || !length) return QRT_PKC_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        BIN k{length, const_cast<unsigned char *>(key)};
        Bytes h;
        if (int rc = key_identifier(h, k)) return rc;
        std::memcpy(id, h.data(), h.size());
        return 0;
    });
}

}  // extern "C"
