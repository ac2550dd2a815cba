// Trust lists from any bytes: opening a signed list (outputs must stay empty when it fails), then
// the list it carries, or the bytes themselves, decoded and checked: validity, usage and a
// membership search.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "suite_ctl.h"

namespace {

void check_list(const BIN &der, const BIN &cert) {
    void *v = nullptr;
    if (QRT_ASN_DecodePDU(&v, &der, CertificateTrustList_PDU) == 0 && v) {
        auto *ctl = static_cast<CertificateTrustList *>(v);
        QRT_CTL_Verify(ctl, 1700000000);
        QRT_CTL_IsCertTrusted(ctl, &cert);
    }
    QRT_ASN_FreePDU(v, CertificateTrustList_PDU);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (!size) return 0;
    BIN in{static_cast<unsigned>(size), const_cast<uint8_t *>(data)};
    BIN list{0, nullptr}, signer{0, nullptr};
    ZQ_BIN_LIST others{};
    int rc = QRT_CTL_DecodeSigned(&list, &signer, &others, &in, nullptr);
    if (rc != 0 && (list.value || signer.value || others.value.value || others.next)) abort();
    if (rc == 0) check_list(list, in);
    QRT_BIN_Reset(&list);
    QRT_BIN_Reset(&signer);
    QRT_BIN_LIST_Reset(&others);
    check_list(in, in);
    return 0;
}
