// The whole-file reader on any bytes, single-key and list outputs, under a fixed password with
// the iteration count held low so a hostile count cannot stall the run.
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "suite_pkcs12.h"
#include "suite_pkcs5.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const bool limited = (QRT_PKCS5_SetIterationLimit(16), true);
    (void)limited;
    BIN in{static_cast<unsigned>(size), const_cast<uint8_t *>(data)};
    static const unsigned char kPassword[] = "fuzz";
    BIN pw{sizeof kPassword - 1, const_cast<unsigned char *>(kPassword)};

    BIN key{0, nullptr}, cert{0, nullptr}, ca{0, nullptr}, root{0, nullptr}, crl{0, nullptr};
    QRT_PKCS12_DecodePFXEx(nullptr, &key, &cert, &ca, &root, &crl, &in, &pw);
    for (BIN *b : {&key, &cert, &ca, &root, &crl}) QRT_BIN_Reset(b);

    ZQ_PKCS12_PARAM *list = nullptr;
    QRT_PKCS12_DecodePFXEx(&list, nullptr, nullptr, nullptr, nullptr, nullptr, &in, &pw);
    QRT_PKCS12_Param_Free(list);

    BIN pki{0, nullptr};
    QRT_PKCS12_DecodeSHKey(&pki, &in, &pw);
    QRT_BIN_Reset(&pki);
    (void)QRT_PKCS12_IsPFX(&in);
    return 0;
}
