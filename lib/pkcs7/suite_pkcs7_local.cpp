// Certificates as the library meets them, read in place (no decoding, so a set of thousands is
// searched cheaply): the elements it looks at, the IssuerAndSerialNumber, the key identifier;
// and the signer key information through the certificate library.
#include <cstring>
#include <vector>

#include "ostrel/tlv.hpp"
#include "pkcs7_internal.h"
#include "suite_pkc.h"

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
    if (tlv::read_any(tbs, tag, content, &v.serial, tlv::Profile::kBer) || tag != tlv::kInteger ||
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

bool cert_issuer_serial(const BIN &cert, Reader &issuer, Reader &serial) {
    CertView v;
    if (!cert_view(cert, v)) return false;
    issuer = v.issuer;
    serial = v.serial;
    return true;
}

bool cert_isn(const BIN &cert, BinOwner &out) {
    Reader issuer, serial;
    if (!cert_issuer_serial(cert, issuer, serial)) return false;
    size_t n = issuer.remaining() + serial.remaining();
    uint8_t len[9];
    size_t ln = tlv::length_octets(n, len);
    std::vector<uint8_t> b;
    b.reserve(1 + ln + n);
    b.push_back(tlv::kSequence);
    b.insert(b.end(), len, len + ln);
    b.insert(b.end(), issuer.data(), issuer.data() + issuer.remaining());
    b.insert(b.end(), serial.data(), serial.data() + serial.remaining());
    set_bin(out.get(), b.data(), b.size());
    return true;
}

bool isn_matches(const BIN &isn, const BIN &cert) {
    Reader r(isn.value, isn.length), seq, issuer_c, serial_c, issuer, serial;
    uint8_t tag = 0;
    if (tlv::read_tlv(r, tlv::kSequence, seq, tlv::Profile::kBer) || !r.empty()) return false;
    if (tlv::read_any(seq, tag, issuer_c, &issuer, tlv::Profile::kBer) ||
        tlv::read_any(seq, tag, serial_c, &serial, tlv::Profile::kBer) || !seq.empty())
        return false;
    Reader ci, cs;
    if (!cert_issuer_serial(cert, ci, cs)) return false;
    auto same = [](const Reader &a, const Reader &b) {
        return a.remaining() == b.remaining() && std::memcmp(a.data(), b.data(), a.remaining()) == 0;
    };
    return same(issuer, ci) && same(serial, cs);
}

}  // namespace ostrel::pkcs7

extern "C" {

QRT_API int QRT_PKCS7_Cert_GetInfos(BIN *issuerAndSerial, int *pkeyID, BIN *pubKey, BIN *param, const BIN *cert) {
    if (!has_bytes(cert)) return QRT_PKCS7_INVALID_INPUT;
    if (issuerAndSerial) *issuerAndSerial = BIN{0, nullptr};
    if (pubKey) *pubKey = BIN{0, nullptr};
    if (param) *param = BIN{0, nullptr};
    if (pkeyID) *pkeyID = 0;
    return OSTREL_GUARD([&] {
        BinOwner isn;
        if (issuerAndSerial && !cert_isn(*cert, isn)) return OSTREL_FAIL(QRT_PKCS7_BAD_CERT);
        if (pkeyID || pubKey || param) {
            AsnTree<Certificate> c(Certificate_PDU);
            if (c.decode(cert) != 0) return OSTREL_FAIL(QRT_PKCS7_BAD_CERT);
            int id = 0;
            BinOwner key, par;
            if (QRT_PKC_GetPubKeyInfo(&id, key.get(), par.get(), &c->tbsCertificate) != 0)
                return OSTREL_FAIL(QRT_PKCS7_BAD_CERT);
            if (pkeyID) *pkeyID = id;
            if (pubKey) key.release_to(pubKey);
            if (param) par.release_to(param);
        }
        if (issuerAndSerial) isn.release_to(issuerAndSerial);
        return 0;
    });
}

}  // extern "C"
