// Password-based encryption identifiers from arbitrary bytes: QRT_PKCS5_DecryptData on the bytes
// as an AlgorithmIdentifier with a fixed password and ciphertext, and the PKCS#12 PBE parameter
// parser on the same bytes. Counts above 16 are refused so that each input runs quickly.
#include <cstddef>
#include <cstdint>

#include "suite_pkcs5.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const bool limited = QRT_PKCS5_SetIterationLimit(16) == 0;
    (void)limited;
    static unsigned char cipherBytes[32] = {0x3b, 0x1f, 0x92, 0x07, 0xaa, 0x51, 0xc4, 0x6e, 0x10, 0x88, 0x2d,
                                            0xf0, 0x39, 0x7c, 0x05, 0xe1, 0x64, 0x9a, 0x2b, 0xd3, 0x47, 0x0e,
                                            0xb5, 0x71, 0xcc, 0x18, 0x5f, 0xe8, 0x93, 0x26, 0x4a, 0xbd};
    static unsigned char pw[] = "password";
    BIN der{static_cast<unsigned>(size), const_cast<uint8_t *>(data)};
    BIN cipher{sizeof cipherBytes, cipherBytes};
    BIN password{sizeof pw - 1, pw};

    ZQ_PKCS5_PBES_ALGID algId;
    BIN plain{0, nullptr};
    QRT_PKCS5_DecryptData(&algId, &plain, &der, &cipher, &password);
    QRT_BIN_Reset(&plain);

    ZQ_PKCS5_P12PBE_PARAM p12{};
    if (QRT_PKCS5_P12PBEParam_Decode(&p12, &der) == 0) {
        // What decodes must encode again and decode to the same values.
        BIN again{0, nullptr};
        if (QRT_PKCS5_P12PBEParam_Encode(&again, &p12) != 0) __builtin_trap();
        ZQ_PKCS5_P12PBE_PARAM back{};
        if (QRT_PKCS5_P12PBEParam_Decode(&back, &again) != 0 || back.iterationCount != p12.iterationCount ||
            QRT_BIN_Cmp(&back.salt, &p12.salt) != 0)
            __builtin_trap();
        QRT_PKCS5_P12PBEParam_Reset(&back);
        QRT_BIN_Reset(&again);
    }
    QRT_PKCS5_P12PBEParam_Reset(&p12);
    return 0;
}
