// Random numbers from the DRBG of the core's private OpenSSL context, random scalars for the
// public-key algorithms, and the test hook that fixes the next KCDSA-family k.
#include <openssl/rand.h>

#include <algorithm>

#include "crypto_pkey.hpp"

namespace ostrel::crypto {

int random_bytes(uint8_t *out, size_t n) {
    OSSL_LIB_CTX *ctx = libctx();
    if (!ctx) return WJ_ERR_RANDOM;
    while (n) {
        size_t chunk = std::min<size_t>(n, 1u << 20);
        if (RAND_bytes_ex(ctx, out, chunk, 0) != 1) return WJ_ERR_RANDOM;
        out += chunk;
        n -= chunk;
    }
    return 0;
}

namespace {
thread_local SecBytes t_fixed_k;
}

int random_scalar(BIGNUM *r, const BIGNUM *n, BN_CTX *ctx) {
    if (BN_cmp(n, BN_value_one()) <= 0) return WJ_ERR_BAD_ARGUMENT;
    do {
        if (!BN_priv_rand_range_ex(r, n, 0, ctx)) return WJ_ERR_RANDOM;
    } while (BN_is_zero(r));
    return 0;
}

void exchange_fixed_k(SecBytes &k) { t_fixed_k.swap(k); }

bool take_fixed_k(BIGNUM *k) {
    if (t_fixed_k.empty()) return false;
    bool ok = BN_bin2bn(t_fixed_k.data(), static_cast<int>(t_fixed_k.size()), k) != nullptr;
    t_fixed_k.clear();
    t_fixed_k.shrink_to_fit();
    return ok;
}

}  // namespace ostrel::crypto

using namespace ostrel;
using namespace ostrel::crypto;

extern "C" {

QRT_API int WJC_GetRandom(unsigned char *out, unsigned int length) {
    if (!out && length) return WJ_ERR_BAD_ARGUMENT;
    if (int rc = gate()) return rc;
    return random_bytes(out, length);
}

QRT_API int WJC_UpdateRandom(const unsigned char *seed, unsigned int length) {
    if (!seed && length) return WJ_ERR_BAD_ARGUMENT;
    if (int rc = gate()) return rc;
    if (length == 0) return 0;
    OSSL_LIB_CTX *ctx = libctx();
    EVP_RAND_CTX *primary = ctx ? RAND_get0_primary(ctx) : nullptr;
    if (!primary) return WJ_ERR_RANDOM;
    // Reseed from the system with the caller's bytes as additional input.
    return EVP_RAND_reseed(primary, 0, nullptr, 0, seed, length) == 1 ? 0 : WJ_ERR_RANDOM;
}

QRT_API int WJ_GetRandom(unsigned char *out, unsigned int length) { return WJC_GetRandom(out, length); }

QRT_API int WJ_Test_SetFixedK(const unsigned char *k, unsigned int length) {
    if (!k && length) return WJ_ERR_BAD_ARGUMENT;
    if (length > 128) return WJ_ERR_BAD_ARGUMENT;
    return OSTREL_GUARD([&] {
        t_fixed_k.assign(k, k + length);
        return 0;
    });
}

}  // extern "C"
