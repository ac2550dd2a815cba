// Both decoders on any bytes: PrivateKeyInfo, and EncryptedPrivateKeyInfo under a fixed
// password with the iteration count held low so a hostile count cannot stall the run.
#include <cstddef>
#include <cstdint>

#include "suite_pkcs8.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const bool limited = (QRT_PKCS5_SetIterationLimit(16), true);
    (void)limited;
    BIN in{static_cast<unsigned>(size), const_cast<uint8_t *>(data)};
    static const unsigned char kPassword[] = "fuzz";
    BIN pw{sizeof kPassword - 1, const_cast<unsigned char *>(kPassword)};

    ZQ_PKCS8_PRIVKEY_INFO info{};
    if (size && QRT_PKCS8_DecodePrivKeyInfo(&info, &in) == 0) {
        BIN der{0, nullptr};
        QRT_PKCS8_EncodePrivKeyInfo(&der, &info);
        QRT_BIN_Reset(&der);
    }
    QRT_PKCS8_ResetPrivKeyInfo(&info);

    ZQ_PKCS8_ENC_PRIVKEY_INFO enc{};
    QRT_PKCS8_DecodeEncPrivKeyInfo(&enc, &in, &pw);
    QRT_PKCS8_ResetEncPrivKeyInfo(&enc);
    QRT_PKCS8_VerifyPassword(&in, &pw);
    (void)QRT_PKCS8_IsPrivKeyInfo(&in);
    (void)QRT_PKCS8_IsEncPrivKeyInfo(&in);
    return 0;
}
