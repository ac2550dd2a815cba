// Certificates as the library meets them: the IssuerAndSerialNumber read off the received bytes
// (no decoding, so a set of thousands of certificates is searched cheaply), and the signer key
// information through the certificate library.
#include <cstring>
#include <vector>

#include "ostrel/tlv.hpp"
#include "pkcs7_internal.h"
#include "suite_pkc.h"

using namespace ostrel;
using namespace ostrel::pkcs7;

namespace ostrel::pkcs7 {

bool cert_issuer_serial(const BIN &cert, Reader &issuer, Reader &serial) {
    Reader r(cert.value, cert.length), c, tbs, skip;
    uint8_t tag = 0;
    // Certificate ::= SEQUENCE { tbsCertificate SEQUENCE { [0] version OPTIONAL, serialNumber,
    //                            signature, issuer, ... }, ... }
    if (tlv::read_tlv(r, tlv::kSequence, c, tlv::Profile::kBer) || tlv::read_tlv(c, tlv::kSequence, tbs, tlv::Profile::kBer))
        return false;
    if (tlv::next_is(tbs, 0xA0) && tlv::read_any(tbs, tag, skip, nullptr, tlv::Profile::kBer)) return false;
    Reader serial_content, alg, issuer_content;
    if (tlv::read_any(tbs, tag, serial_content, &serial, tlv::Profile::kBer) || tag != tlv::kInteger) return false;
    if (tlv::read_any(tbs, tag, alg, nullptr, tlv::Profile::kBer) || tag != tlv::kSequence) return false;
    if (tlv::read_any(tbs, tag, issuer_content, &issuer, tlv::Profile::kBer) || tag != tlv::kSequence) return false;
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
