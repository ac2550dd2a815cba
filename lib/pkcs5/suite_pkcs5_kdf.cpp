// PBKDF1 and PBKDF2. The iteration loops run in the provider on precomputed hash states, so no
// allocation happens per iteration here.
#include "pkcs5_internal.h"

using namespace ostrel::pkcs5;

namespace {

// The provider wants at least one iteration; a count below 2 means one hash or one HMAC.
unsigned iterations_of(int count) { return count < 1 ? 1u : static_cast<unsigned>(count); }

const BIN kEmpty{0, nullptr};

}  // namespace

extern "C" {

QRT_API int QRT_PKCS5_PBKDF1(BIN *dk, int dkLen, int hashID, const BIN *password, const ZQ_PKCS5_PBES1_PARAM *param) {
    if (!dk || !password || !param) return QRT_PKCS5_INVALID_INPUT;
    *dk = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&]() -> int {
        int max;
        switch (hashID) {
            case QRT_CSP_HASH_MD2:
            case QRT_CSP_HASH_MD5: max = 16; break;
            case QRT_CSP_HASH_SHA1: max = 20; break;
            default: return QRT_PKCS5_UNKNOWN_ID;
        }
        if (dkLen < 0 || dkLen > max) return QRT_PKCS5_INVALID_INPUT;
        if (dkLen == 0) return 0;
        return QRT_CSP_PBKDF1(dk, static_cast<unsigned>(dkLen), password, &param->salt,
                              iterations_of(param->iterationCount), hashID);
    });
}

QRT_API int QRT_PKCS5_PBKDF2(BIN *dk, int dkLen, const BIN *password, const ZQ_PKCS5_PBKDF2_PARAM *p) {
    if (!dk || !password || !p) return QRT_PKCS5_INVALID_INPUT;
    *dk = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&]() -> int {
        int hash = prf_hash(p->prfID);
        if (!hash) return QRT_PKCS5_UNKNOWN_ID;
        if (dkLen < 0) return QRT_PKCS5_INVALID_INPUT;
        if (dkLen == 0) return 0;
        return QRT_CSP_PBKDF2(dk, static_cast<unsigned>(dkLen), password, p->salt.length ? &p->salt : &kEmpty,
                              iterations_of(p->iterationCount), hash);
    });
}

}  // extern "C"
