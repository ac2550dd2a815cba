// The request reader on any bytes: decoding with the self-check of the signature. The record is
// released after every run, so a leak on any path shows.
#include <cstddef>
#include <cstdint>

#include "suite_pkcs10.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    BIN in{static_cast<unsigned>(size), const_cast<uint8_t *>(data)};
    ZQ_PKCS10_CERT_REQUEST req{};
    int rc = QRT_PKCS10_DecodeCertRequest(&req, &in);
    // A record is whole or empty: filled on success and for a signature that does not hold.
    bool filled = req.subject && req.publicKey && req.signID;
    if ((rc == 0 || rc == QRT_PKCS10_INVALID_SIGNATURE) != filled) __builtin_trap();
    QRT_PKCS10_ResetCertRequest(&req);
    char *trace = nullptr;
    QRT_Trace_GetError(&trace);
    QRT_free(trace);
    return 0;
}
