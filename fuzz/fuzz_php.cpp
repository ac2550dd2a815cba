// Bytes arriving from a handshake peer: read as records until the stream ends, and every body
// decoded as the message its type names (and a certificate message's PHP certificate). No
// decoder may read past what arrived, leak, or hand back lengths beyond the input.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

#include "fuzz_stream.hpp"
#include "suite_php.h"

namespace {

void check_within(const ZQ_PHP_DATA &d, const ZQ_PHP_DATA &body) {
    if (d.len > body.len) __builtin_trap();
}

void decode_body(const ZQ_PHP_RECORD &rec) {
    ZQ_PHP_DATA out{0, nullptr};
    int kind = 0, alert = 0;
    switch (rec.type) {
        case QRT_PHP_RECORD_REQUEST:
            if (QRT_PHP_ReqMessage_Decode(&out, &rec.body) == 0) check_within(out, rec.body);
            break;
        case QRT_PHP_RECORD_CERTIFICATE:
            if (QRT_PHP_CertMessage_Decode(&kind, &out, &rec.body) == 0) {
                check_within(out, rec.body);
                ZQ_PHP_CERT cert{};
                if (QRT_PHP_DecodePHPCert(&cert, &out) == 0) {
                    if (cert.tbs.len + cert.signature.len + 2 > out.len) __builtin_trap();
                    QRT_PHP_PHPCert_Reset(&cert);
                }
                ZQ_PHP_DATA key{0, nullptr};
                if (QRT_PHP_DecodeX509Cert(&key, &out) == 0) QRT_PHP_DATA_Reset(&key);
            }
            break;
        case QRT_PHP_RECORD_WEAK:
            if (QRT_PHP_WeakMessage_Decode(&out, &rec.body) == 0) check_within(out, rec.body);
            break;
        case QRT_PHP_RECORD_STRONG:
            if (QRT_PHP_StrongMessage_Decode(&out, &rec.body) == 0) check_within(out, rec.body);
            break;
        case QRT_PHP_RECORD_ALERT:
            if (QRT_PHP_AlertMessage_Decode(&alert, &rec.body) == 0 && QRT_PHP_AlertToReason(alert) == 0)
                __builtin_trap();
            break;
        default:
            break;
    }
    QRT_PHP_DATA_Reset(&out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    int fds[2];
    if (!ostrel::fuzz::feed_stream(data, size, fds)) return 0;
    close(fds[0]);
    ZQ_PHP_CTX ctx{fds[1]};
    for (;;) {
        ZQ_PHP_RECORD rec{};
        if (QRT_PHP_PHPRecord_Read(&ctx, &rec) != 0) break;
        if (rec.body.len > QRT_PHP_RECORD_MAX_BODY) __builtin_trap();
        decode_body(rec);
        QRT_PHP_PHPRecord_Reset(&rec);
    }
    close(fds[1]);
    QRT_Trace_ClearError();
    return 0;
}
