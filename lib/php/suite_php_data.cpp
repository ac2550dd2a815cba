// Byte strings, the context and the record holders.
#include <cstring>

#include "ostrel/owners.hpp"
#include "php_internal.h"

namespace ostrel::php {

Bytes::~Bytes() { wipe(v.data(), v.size()); }

int set_data(ZQ_PHP_DATA *out, const uint8_t *p, size_t n) {
    *out = ZQ_PHP_DATA{0, nullptr};
    if (n > 0xffffffffu) return QRT_PHP_INVALID_INPUT;
    auto *buf = static_cast<unsigned char *>(QRT_malloc(n ? n : 1));
    if (!buf) return QRT_PHP_MALLOC_FAILED;
    if (n) std::memcpy(buf, p, n);
    *out = ZQ_PHP_DATA{static_cast<unsigned>(n), buf};
    return 0;
}

bool put_prefixed(std::vector<uint8_t> &out, const uint8_t *p, size_t n) {
    if (n > 0xffff) return false;
    out.push_back(static_cast<uint8_t>(n >> 8));
    out.push_back(static_cast<uint8_t>(n));
    if (n) out.insert(out.end(), p, p + n);
    return true;
}

}  // namespace ostrel::php

extern "C" {

QRT_API void QRT_PHP_DATA_Reset(ZQ_PHP_DATA *d) {
    if (!d) return;
    if (d->data) {
        ostrel::wipe(d->data, d->len);
        QRT_free(d->data);
    }
    *d = ZQ_PHP_DATA{0, nullptr};
}

QRT_API int QRT_PHP_DATA_Set(ZQ_PHP_DATA *d, const unsigned char *data, unsigned int len) {
    if (!d || (len && !data)) return QRT_PHP_INVALID_INPUT;
    return ostrel::php::set_data(d, data, len);
}

QRT_API ZQ_PHP_CTX *QRT_PHP_CreateCTX(void) { return static_cast<ZQ_PHP_CTX *>(QRT_calloc(1, sizeof(ZQ_PHP_CTX))); }

QRT_API void QRT_PHP_ResetCTX(ZQ_PHP_CTX *ctx) {
    if (ctx) ctx->sock = 0;
}

QRT_API void QRT_PHP_DestroyCTX(ZQ_PHP_CTX *ctx) {
    if (!ctx) return;
    ctx->sock = 0;
    QRT_free(ctx);
}

QRT_API void QRT_PHP_PHPRecord_Reset(ZQ_PHP_RECORD *rec) {
    if (!rec) return;
    QRT_PHP_DATA_Reset(&rec->body);
    *rec = ZQ_PHP_RECORD{};
}

QRT_API void QRT_PHP_PHPCert_Reset(ZQ_PHP_CERT *cert) {
    if (!cert) return;
    QRT_PHP_DATA_Reset(&cert->identity);
    QRT_PHP_DATA_Reset(&cert->publicKey);
    QRT_PHP_DATA_Reset(&cert->signature);
    QRT_PHP_DATA_Reset(&cert->tbs);
}

}  // extern "C"
