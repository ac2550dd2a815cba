// Private pieces of the provider's public-key half: the decoded core objects of a key set and the
// decoders per algorithm, with a small per-thread cache of recently decoded keys, so that a
// caller who passes the same key bytes again reuses the core objects (and the OpenSSL key and
// Montgomery objects cached inside them) instead of rebuilding them on every call.
#pragma once

#include <strings.h>

#include <functional>
#include <memory>
#include <vector>

#include "csp_internal.h"
#include "ostrel/core_owners.hpp"
#include "ostrel/owners.hpp"

namespace ostrel::csp {

using ostrel::SecBytes;

// Public-key algorithm identifiers of the provider.
enum PkeyId { kRsa = 1, kDh = 2, kDsa = 3, kEcdsa = 5, kKcdsa = 11, kEckcdsa = 12 };

// The crypto core's generic number of a provider algorithm; 0 when there is none.
int core_pkey_id(int pkey_id);

struct ParamObj {
    int alg = 0;
    WJ_DL_Parameters *dl = nullptr;
    WJ_EC_Parameters *ec = nullptr;
    ParamObj() = default;
    ParamObj(const ParamObj &) = delete;
    ~ParamObj();
};

struct PubObj {
    WJ_RSA_PublicKey *rsa = nullptr;
    WJ_BigInt *y = nullptr;    // DH, DSA, KCDSA
    WJ_EC_POINT *q = nullptr;  // ECDSA, EC-KCDSA
    PubObj() = default;
    PubObj(const PubObj &) = delete;
    ~PubObj();
};

struct PrivObj {
    WJ_RSA_PrivateKey *rsa = nullptr;
    WJ_BigInt *x = nullptr;  // x or d
    PrivObj() = default;
    PrivObj(const PrivObj &) = delete;
    ~PrivObj();
};

struct KeySet {
    std::shared_ptr<const ParamObj> params;
    std::shared_ptr<const PubObj> pub;
    std::shared_ptr<const PrivObj> priv;
};

// Decodes the parts given (param NULL: none, required for all but RSA; a NULL key BIN skips that
// key) in the order parameters, public key, private key: 6032, 6031, 6030 on failure, 6003 when
// memory fails, 6001 for a missing parameter BIN. Each failure is traced under the core function
// and under QRT_CSP_<ALG>Key_Decode.
int decode_keys(int pkey_id, KeySet &ks, const BIN *param, const BIN *pub, const BIN *priv);

// The core's generic public-key object for a key in the generic binary form, from this thread's
// cache of recent keys or decoded now (the core's code when it does not decode; WJ_ERR_MEMORY
// when memory fails).
std::shared_ptr<const WJC_PKEY_PUBLIC_KEY> generic_public_key(int core_alg, const BIN *pub, int &core_rc);

// A DER INTEGER of a BIN into a new record (NULL when it does not decode; *core_rc the reason).
WJ_BigInt *der_integer(const BIN *in, int *core_rc);

// Sets out to a copy of n bytes (6003 when memory fails); out is not released first.
int set_bin(BIN *out, const unsigned char *data, unsigned n);

// True when a record is zero.
bool bigint_zero(const WJ_BigInt *a);

// The KCDSA Z block: y reduced to its 16 least significant words, as 64 big-endian bytes.
void kcdsa_z64(const WJ_BigInt *y, unsigned char z[64]);

// Sizes out to the length write() asks for and fills it (write follows the core's out/room
// convention); on a core failure out is emptied and the core's record traced under core_fn.
int output_of(BIN *out, const std::function<int(unsigned char *, unsigned *)> &write, const char *core_fn);

// Core hash number of a PSS/OAEP hashID (9 only with pss); 0 when unknown.
int pss_hash(int hash_id, bool pss);

// The digest-level signature branches by sign id, without the public functions' argument checks
// and trace record: 6010 for an unknown id, otherwise what the branch returns (it traces).
int verify_by_id(const BIN *sig, const BIN *data, const BIN *pub, int sign_id, const ZQ_CSP_SignParam *param);
int sign_by_id(BIN *sig, const BIN *data, const BIN *priv, int sign_id, const ZQ_CSP_SignParam *param);

}  // namespace ostrel::csp
