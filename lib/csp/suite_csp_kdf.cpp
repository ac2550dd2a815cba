// Password-based key derivation: argument checks and the public hash numbers; the iteration loops
// run in the core (WJ_PBKDF1, WJ_PBKDF2_HMAC, WJ_PKCS12_KDF).
#include "csp_internal.h"
#include "ostrel/owners.hpp"

using namespace ostrel;
using namespace ostrel::csp;

namespace {

// Allocates key, runs the core function into it; on failure releases it and traces the core.
template <class F>
int derive(BIN *key, unsigned length, const char *core_fn, F &&run) {
    auto *p = static_cast<unsigned char *>(QRT_malloc(length));
    if (!p) return QRT_CSP_MALLOC_FAILED;
    if (int rc = run(p)) {
        wipe(p, length);
        QRT_free(p);
        OSTREL_CORE_FAIL(core_fn, rc);
        return rc == WJ_ERR_UNKNOWN_ID ? QRT_CSP_UNKNOWN_ID : QRT_CSP_CRYPTO_FAILED;
    }
    *key = BIN{length, p};
    return 0;
}

bool args_ok(unsigned length, const BIN *password, const BIN *salt, unsigned iterations) {
    return length && iterations && bin_ok(password) && bin_ok(salt);
}

}  // namespace

extern "C" {

QRT_API int QRT_CSP_PBKDF1(BIN *key, unsigned keyLength, const BIN *password, const BIN *salt, unsigned iterations,
                           int hashID) {
    if (!key) return QRT_CSP_INVALID_INPUT;
    *key = BIN{0, nullptr};
    if (!args_ok(keyLength, password, salt, iterations)) return QRT_CSP_INVALID_INPUT;
    if (hashID != QRT_CSP_HASH_MD2 && hashID != QRT_CSP_HASH_MD5 && hashID != QRT_CSP_HASH_SHA1)
        return OSTREL_FAIL(QRT_CSP_UNKNOWN_ID);
    if (keyLength > (hashID == QRT_CSP_HASH_SHA1 ? 20u : 16u)) return QRT_CSP_INVALID_INPUT;
    if (int rc = state_gate()) return OSTREL_FAIL(rc);
    const int core = core_hash(hashID);
    if (int rc = derive(key, keyLength, "WJ_PBKDF1", [&](unsigned char *p) {
            return WJ_PBKDF1(p, keyLength, password->value, password->length, salt->value, salt->length, iterations,
                             core);
        }))
        return OSTREL_FAIL(rc);
    return 0;
}

QRT_API int QRT_CSP_PBKDF2(BIN *key, unsigned keyLength, const BIN *password, const BIN *salt, unsigned iterations,
                           int prfHashID) {
    if (!key) return QRT_CSP_INVALID_INPUT;
    *key = BIN{0, nullptr};
    if (!args_ok(keyLength, password, salt, iterations)) return QRT_CSP_INVALID_INPUT;
    if (prfHashID != QRT_CSP_HASH_SHA1 && prfHashID != QRT_CSP_HASH_SHA224 && prfHashID != QRT_CSP_HASH_SHA256 &&
        prfHashID != QRT_CSP_HASH_SHA384 && prfHashID != QRT_CSP_HASH_SHA512)
        return OSTREL_FAIL(QRT_CSP_UNKNOWN_ID);
    if (int rc = state_gate()) return OSTREL_FAIL(rc);
    const int core = core_hash(prfHashID);
    if (int rc = derive(key, keyLength, "WJ_PBKDF2_HMAC", [&](unsigned char *p) {
            return WJ_PBKDF2_HMAC(p, keyLength, password->value, password->length, salt->value, salt->length,
                                  iterations, core);
        }))
        return OSTREL_FAIL(rc);
    return 0;
}

QRT_API int QRT_CSP_PKCS12_KDF(BIN *out, unsigned length, const BIN *bmpPassword, const BIN *salt, unsigned iterations,
                               int id, int hashID) {
    if (!out) return QRT_CSP_INVALID_INPUT;
    *out = BIN{0, nullptr};
    if (!args_ok(length, bmpPassword, salt, iterations) || id < 1 || id > 3) return QRT_CSP_INVALID_INPUT;
    if (hashID != QRT_CSP_HASH_SHA1 && hashID != QRT_CSP_HASH_SHA224 && hashID != QRT_CSP_HASH_SHA256 &&
        hashID != QRT_CSP_HASH_SHA384 && hashID != QRT_CSP_HASH_SHA512)
        return OSTREL_FAIL(QRT_CSP_UNKNOWN_ID);
    if (int rc = state_gate()) return OSTREL_FAIL(rc);
    const int core = core_hash(hashID);
    if (int rc = derive(out, length, "WJ_PKCS12_KDF", [&](unsigned char *p) {
            return WJ_PKCS12_KDF(p, length, bmpPassword->value, bmpPassword->length, salt->value, salt->length,
                                 iterations, id, core);
        }))
        return OSTREL_FAIL(rc);
    return 0;
}

}  // extern "C"
