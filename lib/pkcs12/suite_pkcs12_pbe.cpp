// The password-privacy primitives of the lower layer, forwarded to libOstrelPKCS5's PKCS#12 PBE,
// and the buffer helpers.
#include "pkcs12_internal.h"

using namespace ostrel;
using namespace ostrel::pkcs12;

namespace {

int p12pbe(bool encrypt, BIN *out, int pbeID, const BIN *in, const BIN *password, const BIN *salt, int iterations) {
    int pbesID = pbes_of_pbe(pbeID);
    if (!pbesID) return QRT_PKCS12_UNKNOWN_PBEID;
    if (iterations < 1) return QRT_PKCS12_BAD_ALG_PARAM;
    ZQ_PKCS5_P12PBE_PARAM p{*salt, iterations};
    return encrypt ? QRT_PKCS5_P12PBE_Encrypt(out, in, pbesID, password, &p)
                   : QRT_PKCS5_P12PBE_Decrypt(out, in, pbesID, password, &p);
}

}  // namespace

extern "C" {

QRT_API int QRT_PKCS12_PBE_EncodeParam(BIN *der, const BIN *salt, int iterations) {
    if (!der || !salt) return QRT_PKCS12_INVALID_INPUT;
    *der = BIN{0, nullptr};
    if (iterations < 1) return QRT_PKCS12_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        ZQ_PKCS5_P12PBE_PARAM p{*salt, iterations};
        return QRT_PKCS5_P12PBEParam_Encode(der, &p);
    });
}

QRT_API int QRT_PKCS12_PBE_DecodeParam(BIN *salt, int *iterations, const BIN *der) {
    if (!salt || !iterations) return QRT_PKCS12_INVALID_INPUT;
    *salt = BIN{0, nullptr};
    *iterations = 0;
    if (!has_bytes(der)) return QRT_PKCS12_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        ZQ_PKCS5_P12PBE_PARAM p{};
        if (QRT_PKCS5_P12PBEParam_Decode(&p, der) != 0) {
            QRT_PKCS5_P12PBEParam_Reset(&p);
            return QRT_PKCS12_BAD_ALG_PARAM;
        }
        *salt = p.salt;
        *iterations = p.iterationCount;
        return 0;
    });
}

QRT_API int QRT_PKCS12_PBE_Encrypt(BIN *out, int pbeID, const BIN *in, const BIN *password, const BIN *salt,
                                   int iterations) {
    if (!out || !in || !password || !salt) return QRT_PKCS12_INVALID_INPUT;
    *out = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] { return p12pbe(true, out, pbeID, in, password, salt, iterations); });
}

QRT_API int QRT_PKCS12_PBE_Decrypt(BIN *out, int pbeID, const BIN *in, const BIN *password, const BIN *salt,
                                   int iterations) {
    if (!out || !in || !password || !salt) return QRT_PKCS12_INVALID_INPUT;
    *out = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        int rc = p12pbe(false, out, pbeID, in, password, salt, iterations);
        return rc >= 6000 && rc < 7000 ? QRT_PKCS12_BAD_ENCRYPTED_DATA : rc;
    });
}

QRT_API int QRT_PKCS12_BIN_Set(BIN *b, const void *src, int len) {
    if (!b || (len > 0 && !src) || len < 0) return QRT_PKCS12_INVALID_INPUT;
    *b = BIN{0, nullptr};
    return bin_assign(b, Span{static_cast<const uint8_t *>(src), static_cast<size_t>(len)}) ? 0
                                                                                            : QRT_PKCS12_MALLOC_FAILED;
}

QRT_API int QRT_PKCS12_BIN_Resize(BIN *b, int len) {
    if (!b || len < 0) return QRT_PKCS12_INVALID_INPUT;
    QRT_BIN_Reset(b);
    if (len == 0) return 0;
    b->value = static_cast<unsigned char *>(QRT_calloc(1, static_cast<size_t>(len)));
    if (!b->value) return QRT_PKCS12_MALLOC_FAILED;
    b->length = static_cast<unsigned>(len);
    return 0;
}

QRT_API int QRT_PKCS12_BIN_Cmp(const BIN *a, const BIN *b) {
    if (!a || !b) return a == b ? 0 : 1;
    return span_of(a) == span_of(b) ? 0 : 1;
}

}  // extern "C"
