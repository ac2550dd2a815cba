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

// The generic key and parameter objects of the core's WJC_PKEY_ interface.
struct GenericPrivFree {
    void operator()(WJC_PKEY_PRIVATE_KEY *k) const { WJC_PKEY_PrivateKey_Free(k); }
};
struct GenericPubFree {
    void operator()(WJC_PKEY_PUBLIC_KEY *k) const { WJC_PKEY_PublicKey_Free(k); }
};
struct GenericParamsFree {
    void operator()(WJC_PKEY_PARAMETERS *p) const { WJC_PKEY_Parameters_Free(p); }
};
using GenericPriv = std::unique_ptr<WJC_PKEY_PRIVATE_KEY, GenericPrivFree>;
using GenericPub = std::unique_ptr<WJC_PKEY_PUBLIC_KEY, GenericPubFree>;
using GenericParams = std::unique_ptr<WJC_PKEY_PARAMETERS, GenericParamsFree>;

}  // namespace ostrel
