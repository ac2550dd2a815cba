// Signed data from any bytes: the one-call reader, and the record reader with verification
// followed by writing back what it read. The attribute reader sees the same bytes.
#include <cstddef>
#include <cstdint>

#include "suite_pkcs7.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (!size) return 0;
    BIN in{static_cast<unsigned>(size), const_cast<uint8_t *>(data)};

    int digest = 0;
    BIN content{0, nullptr}, signer{0, nullptr}, issuer{0, nullptr}, crl{0, nullptr};
    QRT_PKCS7_DecodeSigned(&digest, &content, &signer, &issuer, &crl, &in);
    QRT_BIN_Reset(&content);
    QRT_BIN_Reset(&signer);
    QRT_BIN_Reset(&issuer);
    QRT_BIN_Reset(&crl);

    ZQ_PKCS7_CONTENT ci{};
    if (QRT_PKCS7_Content_Decode(&ci, &in) == 0) {
        ZQ_PKCS7_SIGNED *sd = QRT_PKCS7_Signed_New();
        if (sd) {
            QRT_PKCS7_Signed_Decode(sd, &ci, 1);
            if (QRT_PKCS7_Signed_Decode(sd, &ci, 0) == 0) {
                BIN out{0, nullptr};
                QRT_PKCS7_Signed_Encode(&out, sd);
                QRT_BIN_Reset(&out);
                for (ZQ_PKCS7_SIGNER_INFO *si = sd->signerInfos.first; si; si = si->next) {
                    BIN cert{0, nullptr};
                    if (si->issuerAndSerial)
                        QRT_PKCS7_Certs_GetCert(&cert, sd->certs, si->issuerAndSerial);
                    else if (si->subjectKeyId)
                        QRT_PKCS7_Certs_GetCert_SKI(&cert, sd->certs, si->subjectKeyId);
                    QRT_BIN_Reset(&cert);
                }
                ZQ_PKCS7_BIN_SET *chain = nullptr;
                if (sd->certs && QRT_PKCS7_Certs_GetChain(&chain, sd->certs, &sd->certs->value) == 0)
                    QRT_PKCS7_BIN_SET_Free(chain);
            }
            QRT_PKCS7_Signed_Free(sd);
        }
    }
    QRT_PKCS7_Content_Reset(&ci);

    ZQ_PKCS7_ATTRIBS attrs{};
    if (QRT_PKCS7_Attributes_Decode(&attrs, &in) == 0) {
        BIN out{0, nullptr};
        QRT_PKCS7_Attributes_Encode(&out, &attrs);
        QRT_BIN_Reset(&out);
    }
    QRT_PKCS7_Attributes_Reset(&attrs);
    return 0;
}
