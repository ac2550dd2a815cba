// Any bytes as a CRL: when they decode, every look-up through the index agrees with a walk of
// the list (first entry in list order, serials compared by length and bytes), for each entry's
// serial, its neighbours one byte shorter and one bit off, and serials taken from the input.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "suite_crl.h"

namespace {

using Entry = TBSCertList_revokedCertificates_Elem;

const Entry *walk(const TBSCertList *tbs, const unsigned char *p, size_t n) {
    for (auto *e = tbs->revokedCertificates; e; e = e->next)
        if (e->value.userCertificate.length == n && (n == 0 || std::memcmp(e->value.userCertificate.value, p, n) == 0))
            return &e->value;
    return nullptr;
}

void check(const TBSCertList *tbs, const std::vector<unsigned char> &s) {
    HUGE h{static_cast<unsigned short>(s.size()), const_cast<unsigned char *>(s.data())};
    int expected = walk(tbs, s.data(), s.size()) ? 1 : 0;
    if (QRT_CRL_IsCertRevoked(tbs, &h) != expected) __builtin_trap();
    int when = 0, reason = 0;
    int rc = QRT_IsCertRevokedSerialAndGetRevokedInfo(0, tbs, &h, &when, &reason);
    if (rc == 0 || rc == 1) {
        if (rc != expected) __builtin_trap();
    } else if (rc != QRT_CRL_EXPIRED && rc != QRT_CRL_BAD_CRL) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    BIN in{static_cast<unsigned>(size), const_cast<unsigned char *>(data)};
    CertificateList *crl = nullptr;
    if (QRT_GetCRLCtxBin(0, &in, &crl) != 0) return 0;
    const TBSCertList *tbs = &crl->tbsCertList;
    QRT_CRL_VerifyTime(tbs, 1592179200);
    int entries = 0;
    for (auto *e = tbs->revokedCertificates; e && entries < 256; e = e->next, ++entries) {
        const HUGE &s = e->value.userCertificate;
        std::vector<unsigned char> serial(s.value, s.value + s.length);
        check(tbs, serial);
        if (!serial.empty()) {
            serial.back() ^= 1;
            check(tbs, serial);
            serial.pop_back();
            check(tbs, serial);
        }
    }
    for (size_t off = 0; off + 1 < size && off < 64; off += 7)
        check(tbs, std::vector<unsigned char>(data + off, data + off + 1 + (data[off] % 20 < size - off - 1 ? data[off] % 20 : 0)));
    QRT_ASN_FreePDU(crl, CertificateList_PDU);
    return 0;
}
