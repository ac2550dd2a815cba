// Sharing and recovery: argument checks and the choice of scheme.
#include "sss_internal.h"

using namespace ostrel::sss;

extern "C" {

QRT_API int QRT_SSS_ShareSecret(ZQ_SSS_SHARE *share, BIN *shareInfo, const BIN *secret, int scheme,
                                const ZQ_SSS_PARAM *param) {
    if (!share || !shareInfo || !secret || !param) return QRT_SSS_INVALID_INPUT;
    *shareInfo = BIN{0, nullptr};
    clear_set(share);
    int rc = OSTREL_GUARD_TRACE([&] {
        switch (scheme) {
            case QRT_SSS_SCHEME_SIMPLE:
                return share_simple(share, shareInfo, *secret, param->n);
            case QRT_SSS_SCHEME_SHAMIR:
                return share_shamir(share, shareInfo, *secret, param->n, param->k);
            default:
                return QRT_SSS_UNKNOWN_ALGID;
        }
    });
    if (rc) {
        clear_set(share);
        QRT_BIN_Reset(shareInfo);
    }
    return rc;
}

QRT_API int QRT_SSS_RecoverSecret(BIN *secret, const ZQ_SSS_SHARE *share, int scheme, const BIN *shareInfo) {
    if (!secret || !share || !shareInfo) return QRT_SSS_INVALID_INPUT;
    *secret = BIN{0, nullptr};
    int rc = OSTREL_GUARD_TRACE([&] {
        switch (scheme) {
            case QRT_SSS_SCHEME_SIMPLE:
                return recover_simple(secret, share, *shareInfo);
            case QRT_SSS_SCHEME_SHAMIR:
                return recover_shamir(secret, share, *shareInfo);
            default:
                return QRT_SSS_UNKNOWN_ALGID;
        }
    });
    if (rc) QRT_BIN_Reset(secret);
    return rc;
}

}  // extern "C"
