// The two sides of the exchange over the caller's socket.
#include "php_internal.h"

using namespace ostrel::php;

namespace {

// Owner of a decoded PHP certificate.
struct Cert {
    ZQ_PHP_CERT c{};
    ~Cert() { QRT_PHP_PHPCert_Reset(&c); }
};

int send_message(ZQ_PHP_CTX *ctx, int type, const ZQ_PHP_DATA &body) {
    return QRT_PHP_PHPRecord_Write(ctx, type, &body);
}

int client(ZQ_PHP_CTX *ctx, ZQ_PHP_DATA *strong_passwd, const ZQ_PHP_DATA &server_id, const ZQ_PHP_DATA &passwd,
           const ZQ_PHP_DATA &ca_cert) {
    Data ca_key;
    if (int rc = QRT_PHP_DecodeX509Cert(ca_key.get(), &ca_cert)) return rc;

    Data req;
    if (int rc = QRT_PHP_ReqMessage_Encode(req.get(), &server_id)) return rc;
    if (int rc = send_message(ctx, QRT_PHP_RECORD_REQUEST, *req.get())) return rc;

    // The server's certificate: a PHP certificate for the identity asked for, signed by the CA.
    Data cert_body, cert_bytes;
    if (int rc = expect_record(ctx, QRT_PHP_RECORD_CERTIFICATE, cert_body.get())) return rc;
    int kind = 0;
    if (int rc = QRT_PHP_CertMessage_Decode(&kind, cert_bytes.get(), cert_body.get())) return rc;
    if (kind != QRT_PHP_CERT_PHP) return QRT_PHP_UNKNOWN_CERT;
    Cert cert;
    if (int rc = QRT_PHP_DecodePHPCert(&cert.c, cert_bytes.get())) return rc;
    if (int rc = QRT_PHP_VerifyPHPCert(&cert.c, &server_id, ca_key.get())) return rc;
    const ZQ_PHP_DATA &server_key = cert.c.publicKey;

    // Blinded weak value out, strong value back; the blinding is wiped with `blind`.
    Data weak, blind, weak_body;
    if (int rc = QRT_PHP_ComputeWeakValue(weak.get(), blind.get(), &passwd, &server_key)) return rc;
    if (int rc = QRT_PHP_WeakMessage_Encode(weak_body.get(), weak.get())) return rc;
    if (int rc = send_message(ctx, QRT_PHP_RECORD_WEAK, *weak_body.get())) return rc;

    Data strong_body, strong;
    if (int rc = expect_record(ctx, QRT_PHP_RECORD_STRONG, strong_body.get())) return rc;
    if (int rc = QRT_PHP_StrongMessage_Decode(strong.get(), strong_body.get())) return rc;
    if (int rc = QRT_PHP_CheckStrongValue(strong.get(), weak.get(), &server_key)) return rc;
    return QRT_PHP_ComputeStrongPasswd(strong_passwd, strong.get(), blind.get(), &server_key);
}

int server(ZQ_PHP_CTX *ctx, ZQ_PHP_DATA *identity_out, ZQ_PHP_KeyLookupCB lookup) {
    ZQ_PHP_RECORD rec{};
    if (int rc = QRT_PHP_PHPRecord_Read(ctx, &rec)) return rc;
    Data req_body;
    *req_body.get() = rec.body;
    if (rec.type != QRT_PHP_RECORD_REQUEST) return QRT_PHP_UNKNOWN_MESSAGE;
    Data identity;
    if (int rc = QRT_PHP_ReqMessage_Decode(identity.get(), req_body.get())) return rc;

    Data priv, cert;
    int kind = 0;
    if (int rc = lookup(identity.get(), priv.get(), &kind, cert.get())) return rc;
    if (!valid(priv.get()) || !valid(cert.get())) return QRT_PHP_INTERNAL;
    if (cert->len == 0) return QRT_PHP_NO_CERTIFICATE;
    Data cert_body;
    if (int rc = QRT_PHP_CertMessage_Encode(cert_body.get(), kind, cert.get())) return rc;
    if (int rc = send_message(ctx, QRT_PHP_RECORD_CERTIFICATE, *cert_body.get())) return rc;

    Data weak_body, weak, strong, strong_body;
    if (int rc = expect_record(ctx, QRT_PHP_RECORD_WEAK, weak_body.get())) return rc;
    if (int rc = QRT_PHP_WeakMessage_Decode(weak.get(), weak_body.get())) return rc;
    if (int rc = QRT_PHP_ComputeStrongValue(strong.get(), weak.get(), priv.get())) return rc;
    if (int rc = QRT_PHP_StrongMessage_Encode(strong_body.get(), strong.get())) return rc;
    if (int rc = send_message(ctx, QRT_PHP_RECORD_STRONG, *strong_body.get())) return rc;
    identity.release_to(identity_out);
    return 0;
}

// Tells the peer why the exchange ends, where the failure has an alert.
void send_alert_for(ZQ_PHP_CTX *ctx, int rc) {
    if (int alert = QRT_PHP_ReasonToAlert(rc)) QRT_PHP_WriteAlert(ctx, alert);
}

}  // namespace

extern "C" {

QRT_API int QRT_PHP_Connect(ZQ_PHP_CTX *ctx, ZQ_PHP_DATA *strongPasswd, int sock, const ZQ_PHP_DATA *serverID,
                            const ZQ_PHP_DATA *weakPasswd, const ZQ_PHP_DATA *caCert) {
    if (!ctx || !strongPasswd || !valid(serverID) || !valid(weakPasswd) || !valid(caCert)) return QRT_PHP_INVALID_INPUT;
    *strongPasswd = ZQ_PHP_DATA{0, nullptr};
    ctx->sock = sock;
    int rc = OSTREL_GUARD([&] { return client(ctx, strongPasswd, *serverID, *weakPasswd, *caCert); });
    if (rc) {
        QRT_PHP_DATA_Reset(strongPasswd);
        send_alert_for(ctx, rc);
        return OSTREL_FAIL(rc);
    }
    return 0;
}

QRT_API int QRT_PHP_Accept(ZQ_PHP_CTX *ctx, ZQ_PHP_DATA *identity, int sock, ZQ_PHP_KeyLookupCB lookup) {
    if (!ctx || !identity || !lookup) return QRT_PHP_INVALID_INPUT;
    *identity = ZQ_PHP_DATA{0, nullptr};
    ctx->sock = sock;
    int rc = OSTREL_GUARD([&] { return server(ctx, identity, lookup); });
    if (rc) {
        QRT_PHP_DATA_Reset(identity);
        send_alert_for(ctx, rc);
        return OSTREL_FAIL(rc);
    }
    return 0;
}

}  // extern "C"
