// Module state pass-through, the state gate and the streaming context.
#include <new>

#include "csp_internal.h"
#include "ostrel/owners.hpp"

namespace ostrel::csp {

int state_gate() {
    int rc = QRT_CSP_ChangeState(WJC_STATE_OPERATING);
    if (rc < 0) OSTREL_CORE_FAIL("WJC_ChangeState", rc);  // the core's refusal, with its text
    return rc;
}

SecretKey::~SecretKey() { wipe(&k, sizeof k); }

}  // namespace ostrel::csp

extern "C" {

QRT_API int QRT_CSP_Initialize(void) { return WJC_Initialize(); }

QRT_API int QRT_CSP_Finalize(void) { return WJC_Finalize(); }

QRT_API int QRT_CSP_ChangeState(int state) {
    if (int rc = WJC_Initialize()) return rc;
    if (state != WJC_STATE_LOADED && state != WJC_STATE_OPERATING && state != WJC_STATE_OPERATING_NO_SELFTEST &&
        state != WJC_STATE_ERROR)
        return OSTREL_FAIL(QRT_CSP_STATE_NOT_SUPPORTED);
    return WJC_ChangeState(state);
}

QRT_API int QRT_CSP_GetState(void) {
    int s = WJC_GetState();
    switch (s) {
        case WJC_STATE_LOADED:
        case WJC_STATE_OPERATING:
        case WJC_STATE_OPERATING_NO_SELFTEST:
        case WJC_STATE_ERROR:
        case WJC_STATE_FINALIZED:
            return s;
        default:
            return 0;
    }
}

QRT_API ZQ_CSP_CTX *QRT_CSP_CreateCTX(void) { return static_cast<ZQ_CSP_CTX *>(QRT_calloc(1, sizeof(ZQ_CSP_CTX))); }

QRT_API void QRT_CSP_ResetCTX(ZQ_CSP_CTX *ctx) {
    if (!ctx) return;
    if (ctx->ctx) {
        switch (ctx->ctxID) {
            case 1:
                WJC_CIPHER_CTX_Free(static_cast<WJC_CIPHER_CTX *>(ctx->ctx));
                break;
            case 2:
                WJC_HASH_CTX_Free(static_cast<WJC_HASH_CTX *>(ctx->ctx));
                break;
            case 3:
                WJC_MAC_CTX_Free(static_cast<WJC_MAC_CTX *>(ctx->ctx));
                break;
            default:
                break;  // a record with an unknown kind holds nothing of ours
        }
    }
    ctx->ctxID = 0;
    ctx->ctx = nullptr;
}

QRT_API void QRT_CSP_DestroyCTX(ZQ_CSP_CTX *ctx) {
    if (!ctx) return;
    QRT_CSP_ResetCTX(ctx);
    QRT_free(ctx);
}

}  // extern "C"
