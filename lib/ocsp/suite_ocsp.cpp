// The records of the OCSP client and the helpers its modules share: DER writing, copies into
// caller memory, SHA-1 through the provider, extension look-up and certificate identity.
#include "ocsp_internal.h"
#include "ostrel/tlv.hpp"

namespace ostrel::ocsp {

void put_tlv(SecBytes &out, uint8_t tag, const void *contents, size_t n) {
    uint8_t len[9];
    size_t k = tlv::length_octets(n, len);
    out.push_back(tag);
    put_raw(out, len, k);
    put_raw(out, contents, n);
}

void bin_assign(BIN *out, const void *p, size_t n) {
    *out = BIN{0, nullptr};
    if (n == 0) return;
    auto *v = static_cast<unsigned char *>(QRT_malloc(n));
    if (!v) throw std::bad_alloc();
    std::memcpy(v, p, n);
    *out = BIN{static_cast<unsigned int>(n), v};
}

int sha1(uint8_t out[kSha1Length], const void *p, size_t n) {
    BIN in = bin_view(p, n);
    BinOwner md;
    if (int rc = QRT_CSP_Hash(md.get(), &in, QRT_CSP_HASH_SHA1)) return rc;
    if (md->length != kSha1Length) return QRT_OCSP_INTERNAL;
    std::memcpy(out, md->value, kSha1Length);
    return 0;
}

const Extension *find_extension(Extensions exts, const ObjectID &oid) {
    for (Extensions e = exts; e; e = e->next)
        if (oid_equal(e->value.extnID, oid)) return &e->value;
    return nullptr;
}

bool same_cert(const Certificate &a, const Certificate &b) {
    const Any &ta = a.tbsCertificate_encoded, &tb = b.tbsCertificate_encoded;
    if (!ta.length || !tb.length) return QRT_ASN_CmpPDU(&a, &b, Certificate_PDU) == 0;
    BIN sa = bits_view(a.signature), sb = bits_view(b.signature);
    return same_bytes(ta.value, ta.length, tb.value, tb.length) && a.signature.length == b.signature.length &&
           same_bytes(sa.value, sa.length, sb.value, sb.length);
}

}  // namespace ostrel::ocsp

extern "C" {

QRT_API ZQ_OCSP_Request *QRT_OCSP_CreateRequest(void) {
    return static_cast<ZQ_OCSP_Request *>(QRT_calloc(1, sizeof(ZQ_OCSP_Request)));
}

QRT_API void QRT_OCSP_ResetRequest(ZQ_OCSP_Request *request) {
    if (!request) return;
    QRT_BIN_LIST_Free(request->reqCertList);
    QRT_BIN_Free(request->signCert);
    *request = ZQ_OCSP_Request{};
}

QRT_API void QRT_OCSP_DestroyRequest(ZQ_OCSP_Request *request) {
    QRT_OCSP_ResetRequest(request);
    QRT_free(request);
}

QRT_API ZQ_OCSP_Response *QRT_OCSP_CreateResponse(void) {
    return static_cast<ZQ_OCSP_Response *>(QRT_calloc(1, sizeof(ZQ_OCSP_Response)));
}

QRT_API void QRT_OCSP_ResetResponse(ZQ_OCSP_Response *response) {
    if (!response) return;
    QRT_BIN_Reset(&response->responderKeyID);
    QRT_OCSP_SingleRespList_Free(response->respList);
    QRT_BIN_Free(response->cert);
    *response = ZQ_OCSP_Response{};
}

QRT_API void QRT_OCSP_DestroyResponse(ZQ_OCSP_Response *response) {
    QRT_OCSP_ResetResponse(response);
    QRT_free(response);
}

QRT_API void QRT_OCSP_CertID_Reset(ZQ_OCSP_CertID *certID) {
    if (!certID) return;
    QRT_BIN_Reset(&certID->issuerNameHash);
    QRT_BIN_Reset(&certID->issuerKeyHash);
    QRT_BIN_Reset(&certID->serialNumber);
    *certID = ZQ_OCSP_CertID{};
}

QRT_API void QRT_OCSP_SingleResponse_Reset(ZQ_OCSP_SingleResponse *single) {
    if (!single) return;
    QRT_OCSP_CertID_Reset(&single->certID);
    *single = ZQ_OCSP_SingleResponse{};
}

QRT_API void QRT_OCSP_SingleRespList_Free(ZQ_OCSP_SingleRespList *list) {
    while (list) {
        ZQ_OCSP_SingleRespList *next = list->next;
        QRT_OCSP_SingleResponse_Reset(&list->value);
        QRT_free(list);
        list = next;
    }
}

QRT_API const Extension *QRT_OCSP_GetExtension(const Extensions exts, const ObjectID *oid) {
    return oid ? ostrel::ocsp::find_extension(exts, *oid) : nullptr;
}

}  // extern "C"
