// Records on the wire, the message bodies and alerts.
#include <cstring>
#include <new>

#include "ostrel/reader.hpp"
#include "php_internal.h"

namespace ostrel::php {

namespace {

// Received alert value -> code, and failure code -> alert value to send.
struct AlertReason {
    int alert, code;
};
constexpr AlertReason kAlertToReason[] = {
    {QRT_PHP_ALERT_UNEXPECTED_MESSAGE, QRT_PHP_ALERT_UNEXPECTED_MESSAGE_RECEIVED},
    {QRT_PHP_ALERT_ILLEGAL_PARAMETER, QRT_PHP_ALERT_ILLEGAL_PARAMETER_RECEIVED},
    {QRT_PHP_ALERT_UNKNOWN_USERID, QRT_PHP_ALERT_UNKNOWN_USERID_RECEIVED},
    {QRT_PHP_ALERT_BLOCKED_USERID, QRT_PHP_ALERT_BLOCKED_USERID_RECEIVED},
    {QRT_PHP_ALERT_NO_CERTIFICATE, QRT_PHP_ALERT_NO_CERTIFICATE_RECEIVED},
    {QRT_PHP_ALERT_BAD_CERTIFICATE, QRT_PHP_ALERT_BAD_CERTIFICATE_RECEIVED},
    {QRT_PHP_ALERT_INTERNAL_ERROR, QRT_PHP_ALERT_INTERNAL_ERROR_RECEIVED},
};

struct ReasonAlert {
    int low, high, alert;  // codes low..high give alert
};
constexpr ReasonAlert kReasonToAlert[] = {
    {QRT_PHP_INVALID_INPUT, QRT_PHP_MALLOC_FAILED, QRT_PHP_ALERT_INTERNAL_ERROR},
    {QRT_PHP_ASN_FAILED, QRT_PHP_CSP_FAILED, QRT_PHP_ALERT_INTERNAL_ERROR},
    {QRT_PHP_UNKNOWN_VERSION, QRT_PHP_UNKNOWN_CERT, QRT_PHP_ALERT_ILLEGAL_PARAMETER},
    {QRT_PHP_BAD_MESSAGE, QRT_PHP_BAD_MESSAGE, QRT_PHP_ALERT_ILLEGAL_PARAMETER},
    {QRT_PHP_UNKNOWN_USERID, QRT_PHP_UNKNOWN_USERID, QRT_PHP_ALERT_UNKNOWN_USERID},
    {QRT_PHP_BLOCKED_USERID, QRT_PHP_BLOCKED_USERID, QRT_PHP_ALERT_BLOCKED_USERID},
    {QRT_PHP_BAD_CERTIFICATE, QRT_PHP_BAD_CERTIFICATE, QRT_PHP_ALERT_BAD_CERTIFICATE},
    {QRT_PHP_INVALID_PHPCERT, QRT_PHP_INVALID_PHPCERT, QRT_PHP_ALERT_BAD_CERTIFICATE},
    {QRT_PHP_NO_CERTIFICATE, QRT_PHP_NO_CERTIFICATE, QRT_PHP_ALERT_NO_CERTIFICATE},
};

// Body: 2-byte length, then that many bytes.
int encode_prefixed(ZQ_PHP_DATA *body, const ZQ_PHP_DATA *value) {
    std::vector<uint8_t> out;
    if (!put_prefixed(out, value->data, value->len)) return QRT_PHP_INVALID_INPUT;
    return set_data(body, out.data(), out.size());
}

int decode_prefixed(ZQ_PHP_DATA *value, const ZQ_PHP_DATA *body) {
    Reader r(body->data, body->len);
    uint16_t n = 0;
    Reader v;
    if (!r.be16(n) || !r.sub(n, v)) return QRT_PHP_BAD_MESSAGE;
    return set_data(value, v.data(), v.remaining());
}

}  // namespace

int expect_record(ZQ_PHP_CTX *ctx, int type, ZQ_PHP_DATA *body) {
    ZQ_PHP_RECORD rec{};
    if (int rc = QRT_PHP_PHPRecord_Read(ctx, &rec)) return rc;
    int rc = 0;
    if (rec.type == QRT_PHP_RECORD_ALERT) {
        int alert = 0;
        rc = QRT_PHP_AlertMessage_Decode(&alert, &rec.body);
        if (!rc) rc = QRT_PHP_AlertToReason(alert);
    } else if (rec.type != type) {
        rc = QRT_PHP_UNKNOWN_MESSAGE;
    }
    if (rc) {
        QRT_PHP_PHPRecord_Reset(&rec);
        return rc;
    }
    *body = rec.body;
    rec.body = ZQ_PHP_DATA{0, nullptr};
    return 0;
}

}  // namespace ostrel::php

using namespace ostrel::php;

extern "C" {

QRT_API int QRT_PHP_PHPRecord_Read(ZQ_PHP_CTX *ctx, ZQ_PHP_RECORD *rec) {
    if (!ctx || !rec) return QRT_PHP_INVALID_INPUT;
    *rec = ZQ_PHP_RECORD{};
    unsigned char h[QRT_PHP_RECORD_HEADER_LENGTH];
    if (int rc = QRT_PHP_ReadSocket(ctx, h, sizeof h)) return OSTREL_FAIL(rc);
    // Only a header that gets both version numbers wrong is refused.
    if (h[1] != QRT_PHP_VERSION_MAJOR && h[2] != QRT_PHP_VERSION_MINOR) return OSTREL_FAIL(QRT_PHP_UNKNOWN_VERSION);
    const unsigned len = static_cast<unsigned>(h[3] << 8 | h[4]);
    auto *buf = static_cast<unsigned char *>(QRT_malloc(len ? len : 1));
    if (!buf) return OSTREL_FAIL(QRT_PHP_MALLOC_FAILED);
    if (int rc = QRT_PHP_ReadSocket(ctx, buf, static_cast<int>(len))) {
        QRT_free(buf);
        return OSTREL_FAIL(rc);
    }
    rec->type = h[0];
    rec->major = h[1];
    rec->minor = h[2];
    if (len) {
        rec->body = ZQ_PHP_DATA{len, buf};
    } else {
        QRT_free(buf);
    }
    return 0;
}

QRT_API int QRT_PHP_PHPRecord_Write(ZQ_PHP_CTX *ctx, int type, const ZQ_PHP_DATA *body) {
    if (!ctx || type < 0 || type > 255 || (body && !valid(body))) return QRT_PHP_INVALID_INPUT;
    const unsigned len = body ? body->len : 0;
    if (len > QRT_PHP_RECORD_MAX_BODY) return OSTREL_FAIL(QRT_PHP_INVALID_INPUT);
    return OSTREL_GUARD_TRACE([&] {
        // One buffer, so header and body leave in one send where the socket allows.
        Bytes rec(QRT_PHP_RECORD_HEADER_LENGTH + len);
        rec.v[0] = static_cast<uint8_t>(type);
        rec.v[1] = QRT_PHP_VERSION_MAJOR;
        rec.v[2] = QRT_PHP_VERSION_MINOR;
        rec.v[3] = static_cast<uint8_t>(len >> 8);
        rec.v[4] = static_cast<uint8_t>(len);
        if (len) std::memcpy(rec.v.data() + QRT_PHP_RECORD_HEADER_LENGTH, body->data, len);
        return QRT_PHP_WriteSocket(ctx, rec.v.data(), static_cast<int>(rec.v.size()));
    });
}

// request: len (2) | identity
QRT_API int QRT_PHP_ReqMessage_Encode(ZQ_PHP_DATA *body, const ZQ_PHP_DATA *identity) {
    if (!body || !valid(identity)) return QRT_PHP_INVALID_INPUT;
    *body = ZQ_PHP_DATA{0, nullptr};
    return OSTREL_GUARD_TRACE([&] { return encode_prefixed(body, identity); });
}

QRT_API int QRT_PHP_ReqMessage_Decode(ZQ_PHP_DATA *identity, const ZQ_PHP_DATA *body) {
    if (!identity || !valid(body)) return QRT_PHP_INVALID_INPUT;
    *identity = ZQ_PHP_DATA{0, nullptr};
    int rc = decode_prefixed(identity, body);
    return rc ? OSTREL_FAIL(rc) : 0;
}

// certificate: kind (1) | certificate bytes
QRT_API int QRT_PHP_CertMessage_Encode(ZQ_PHP_DATA *body, int kind, const ZQ_PHP_DATA *cert) {
    if (!body || !valid(cert)) return QRT_PHP_INVALID_INPUT;
    *body = ZQ_PHP_DATA{0, nullptr};
    if (kind != QRT_PHP_CERT_X509 && kind != QRT_PHP_CERT_PHP) return OSTREL_FAIL(QRT_PHP_UNKNOWN_CERT);
    return OSTREL_GUARD_TRACE([&] {
        std::vector<uint8_t> out;
        out.push_back(static_cast<uint8_t>(kind));
        if (cert->len) out.insert(out.end(), cert->data, cert->data + cert->len);
        return set_data(body, out.data(), out.size());
    });
}

QRT_API int QRT_PHP_CertMessage_Decode(int *kind, ZQ_PHP_DATA *cert, const ZQ_PHP_DATA *body) {
    if (!kind || !cert || !valid(body)) return QRT_PHP_INVALID_INPUT;
    *kind = 0;
    *cert = ZQ_PHP_DATA{0, nullptr};
    ostrel::Reader r(body->data, body->len);
    uint8_t k = 0;
    if (!r.u8(k)) return OSTREL_FAIL(QRT_PHP_BAD_MESSAGE);
    if (k != QRT_PHP_CERT_X509 && k != QRT_PHP_CERT_PHP) return OSTREL_FAIL(QRT_PHP_UNKNOWN_CERT);
    if (int rc = set_data(cert, r.data(), r.remaining())) return OSTREL_FAIL(rc);
    *kind = k;
    return 0;
}

// weak value, strong value: len (2) | big-endian integer
QRT_API int QRT_PHP_WeakMessage_Encode(ZQ_PHP_DATA *body, const ZQ_PHP_DATA *value) {
    if (!body || !valid(value)) return QRT_PHP_INVALID_INPUT;
    *body = ZQ_PHP_DATA{0, nullptr};
    return OSTREL_GUARD_TRACE([&] { return encode_prefixed(body, value); });
}

QRT_API int QRT_PHP_WeakMessage_Decode(ZQ_PHP_DATA *value, const ZQ_PHP_DATA *body) {
    if (!value || !valid(body)) return QRT_PHP_INVALID_INPUT;
    *value = ZQ_PHP_DATA{0, nullptr};
    int rc = decode_prefixed(value, body);
    return rc ? OSTREL_FAIL(rc) : 0;
}

QRT_API int QRT_PHP_StrongMessage_Encode(ZQ_PHP_DATA *body, const ZQ_PHP_DATA *value) {
    if (!body || !valid(value)) return QRT_PHP_INVALID_INPUT;
    *body = ZQ_PHP_DATA{0, nullptr};
    return OSTREL_GUARD_TRACE([&] { return encode_prefixed(body, value); });
}

QRT_API int QRT_PHP_StrongMessage_Decode(ZQ_PHP_DATA *value, const ZQ_PHP_DATA *body) {
    if (!value || !valid(body)) return QRT_PHP_INVALID_INPUT;
    *value = ZQ_PHP_DATA{0, nullptr};
    int rc = decode_prefixed(value, body);
    return rc ? OSTREL_FAIL(rc) : 0;
}

// alert: value (1)
QRT_API int QRT_PHP_AlertMessage_Encode(ZQ_PHP_DATA *body, int alert) {
    if (!body || alert < 0 || alert > 255) return QRT_PHP_INVALID_INPUT;
    const uint8_t b = static_cast<uint8_t>(alert);
    int rc = set_data(body, &b, 1);
    return rc ? OSTREL_FAIL(rc) : 0;
}

QRT_API int QRT_PHP_AlertMessage_Decode(int *alert, const ZQ_PHP_DATA *body) {
    if (!alert || !valid(body)) return QRT_PHP_INVALID_INPUT;
    *alert = 0;
    if (body->len < 1) return OSTREL_FAIL(QRT_PHP_BAD_MESSAGE);
    *alert = body->data[0];
    return 0;
}

QRT_API int QRT_PHP_WriteAlert(ZQ_PHP_CTX *ctx, int alert) {
    if (!ctx) return QRT_PHP_INVALID_INPUT;
    Data body;
    if (int rc = QRT_PHP_AlertMessage_Encode(body.get(), alert)) return OSTREL_FAIL(rc);
    if (int rc = QRT_PHP_PHPRecord_Write(ctx, QRT_PHP_RECORD_ALERT, body.get())) return OSTREL_FAIL(rc);
    return 0;
}

QRT_API int QRT_PHP_AlertToReason(int alert) {
    for (const AlertReason &a : kAlertToReason)
        if (a.alert == alert) return a.code;
    return QRT_PHP_BAD_MESSAGE;
}

QRT_API int QRT_PHP_ReasonToAlert(int code) {
    for (const ReasonAlert &r : kReasonToAlert)
        if (code >= r.low && code <= r.high) return r.alert;
    return 0;
}

}  // extern "C"
