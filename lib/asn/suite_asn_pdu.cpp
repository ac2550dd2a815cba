// PDU operations on the calling thread's context (with their trace records) and the older
// forms on a caller-supplied context (without).
#include <cstdio>

#include "asn_internal.h"

using namespace ostrel::asn;

extern "C" {

QRT_API int QRT_ASN_EncodePDU(BIN *out, const void *value, int pdu) {
    if (!out || !value) return QRT_ASN_INVALID_INPUT;
    out->length = 0;
    out->value = nullptr;
    ZQ_ASN_CTX *ctx = QRT_ASN_AcquireCTX();
    if (!ctx) return OSTREL_FAIL(QRT_ASN_INTERNAL);
    unsigned char *buf;
    size_t n;
    int rc = engine_encode(ctx, pdu, value, &buf, &n);
    QRT_ASN_ReleaseCTX();
    if (rc) {
        put_engine_records("ossEncode", ctx, true, __FILE__, __LINE__);
        return OSTREL_FAIL(QRT_ASN_ENCODE_FAILED);
    }
    out->value = buf;
    out->length = static_cast<unsigned int>(n);
    return 0;
}

QRT_API int QRT_ASN_DecodePDU(void **value, const BIN *in, int pdu) {
    if (!value || !in) return QRT_ASN_INVALID_INPUT;
    *value = nullptr;
    ZQ_ASN_CTX *ctx = QRT_ASN_AcquireCTX();
    if (!ctx) return OSTREL_FAIL(QRT_ASN_INTERNAL);
    int rc = in->value || !in->length ? engine_decode(ctx, pdu, in->value, in->length, value) : QRT_ASN_E_BAD_ARG;
    QRT_ASN_ReleaseCTX();
    if (rc) {
        if (rc == QRT_ASN_E_BAD_ARG) {
            ctx->errorCode = rc;
            std::snprintf(ctx->errorText, sizeof ctx->errorText, "input buffer missing");
        }
        put_engine_records("ossDecode", ctx, false, __FILE__, __LINE__);
        return OSTREL_FAIL(QRT_ASN_DECODE_FAILED);
    }
    return 0;
}

QRT_API int QRT_ASN_FreePDU(void *value, int pdu) {
    if (!value) return 0;
    ZQ_ASN_CTX *ctx = QRT_ASN_AcquireCTX();
    if (!ctx) return OSTREL_FAIL(QRT_ASN_INTERNAL);
    int rc = engine_free(ctx, pdu, value);
    QRT_ASN_ReleaseCTX();
    if (rc) {
        QRT_Trace_PutError("ossFreePDU", rc, nullptr, __FILE__, __LINE__);
        return OSTREL_FAIL(QRT_ASN_FREE_FAILED);
    }
    return 0;
}

QRT_API int QRT_ASN_CopyPDU(void **dst, const void *src, int pdu) {
    if (!dst || !src) return QRT_ASN_INVALID_INPUT;
    *dst = nullptr;
    ZQ_ASN_CTX *ctx = QRT_ASN_AcquireCTX();
    if (!ctx) return OSTREL_FAIL(QRT_ASN_INTERNAL);
    int rc = engine_copy(ctx, pdu, src, dst);
    QRT_ASN_ReleaseCTX();
    if (rc) {
        QRT_Trace_PutError("ossCpyValue", rc, nullptr, __FILE__, __LINE__);
        return OSTREL_FAIL(QRT_ASN_COPY_FAILED);
    }
    return 0;
}

QRT_API int QRT_ASN_CmpPDU(const void *a, const void *b, int pdu) {
    ZQ_ASN_CTX *ctx = QRT_ASN_AcquireCTX();
    if (!ctx) return 1;
    int rc = engine_compare(ctx, pdu, a, b);
    QRT_ASN_ReleaseCTX();
    return rc;
}

QRT_API int QRT_GetEncodedPDU(ZQ_ASN_CTX *world, int pdu, const void *value, BIN *out) {
    if (!world || !value || !out) return QRT_ASN_INVALID_INPUT;
    out->length = 0;
    out->value = nullptr;
    if (world->magic != kMagic) return QRT_ASN_OSS_FAILED;
    unsigned char *buf;
    size_t n;
    if (engine_encode(world, pdu, value, &buf, &n)) return QRT_ASN_OSS_FAILED;
    out->value = buf;
    out->length = static_cast<unsigned int>(n);
    return 0;
}

QRT_API int QRT_GetDecodedPDU(ZQ_ASN_CTX *world, int pdu, const BIN *in, void **value) {
    if (!world || !in || !value || (!in->value && in->length)) return QRT_ASN_INVALID_INPUT;
    *value = nullptr;
    if (world->magic != kMagic) return QRT_ASN_OSS_FAILED;
    return engine_decode(world, pdu, in->value, in->length, value) ? QRT_ASN_OSS_FAILED : 0;
}

QRT_API int QRT_CopyPDU(ZQ_ASN_CTX *world, int pdu, const void *src, void **dst) {
    if (!world || !src || !dst) return QRT_ASN_INVALID_INPUT;
    *dst = nullptr;
    if (world->magic != kMagic) return QRT_ASN_OSS_FAILED;
    return engine_copy(world, pdu, src, dst) ? QRT_ASN_OSS_FAILED : 0;
}

QRT_API int QRT_ComparePDU(ZQ_ASN_CTX *world, int pdu, const void *a, const void *b) {
    if (!world || world->magic != kMagic) return 1;
    return engine_compare(world, pdu, a, b);
}

QRT_API int QRT_FreePDU(ZQ_ASN_CTX *world, int pdu, void *value) {
    if (!value) return 0;
    if (!world || world->magic != kMagic) return QRT_ASN_INVALID_INPUT;
    return engine_free(world, pdu, value) ? QRT_ASN_OSS_FAILED : 0;
}

}  // extern "C"
