// Owners of the crypto core's records, for the libraries that link the core: each releases its
// record with the core's own function (which wipes it) when it goes out of scope.
#pragma once

#include <memory>
#include <new>

#include "suite_crypto.h"

namespace ostrel {

struct BigIntFree {
    void operator()(WJ_BigInt *a) const { WJ_BigInt_Free(a); }
};
using BigInt = std::unique_ptr<WJ_BigInt, BigIntFree>;

// A zero of `words` words; throws std::bad_alloc when memory fails.
inline BigInt new_bigint(unsigned words = 1) {
    BigInt a(WJ_BigInt_New(words));
    if (!a) throw std::bad_alloc();
    return a;
}

struct RsaPublicKeyFree {
    void operator()(WJ_RSA_PublicKey *k) const { WJ_RSA_PublicKey_Free(k); }
};
struct RsaPrivateKeyFree {
    void operator()(WJ_RSA_PrivateKey *k) const { WJ_RSA_PrivateKey_Free(k); }
};
using RsaPublicKey = std::unique_ptr<WJ_RSA_PublicKey, RsaPublicKeyFree>;
using RsaPrivateKey = std::unique_ptr<WJ_RSA_PrivateKey, RsaPrivateKeyFree>;

}  // namespace ostrel
