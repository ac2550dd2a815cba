// Private pieces shared by the public-key modules: owners for OpenSSL handles, conversions
// between the big-integer record and BIGNUM, the value stamps that keep cached OpenSSL key
// objects in step with the records, and the operations without the state gate that the
// self-tests call.
#pragma once

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "ostrel/core_owners.hpp"
#include "crypto_internal.h"
#include "ostrel/owners.hpp"

namespace ostrel::crypto {

// ---- Owners ---------------------------------------------------------------------------------

struct BnDel {
    void operator()(BIGNUM *b) const { BN_clear_free(b); }
};
struct BnCtxDel {
    void operator()(BN_CTX *c) const { BN_CTX_free(c); }
};
struct MontDel {
    void operator()(BN_MONT_CTX *m) const { BN_MONT_CTX_free(m); }
};
struct PkeyDel {
    void operator()(EVP_PKEY *k) const { EVP_PKEY_free(k); }
};
struct PkeyCtxDel {
    void operator()(EVP_PKEY_CTX *c) const { EVP_PKEY_CTX_free(c); }
};
struct PointDel {
    void operator()(EC_POINT *p) const { EC_POINT_clear_free(p); }
};
struct BldDel {
    void operator()(OSSL_PARAM_BLD *b) const { OSSL_PARAM_BLD_free(b); }
};
struct ParamDel {
    void operator()(OSSL_PARAM *p) const { OSSL_PARAM_free(p); }
};

using BnPtr = std::unique_ptr<BIGNUM, BnDel>;
using BnCtxPtr = std::unique_ptr<BN_CTX, BnCtxDel>;
using MontPtr = std::unique_ptr<BN_MONT_CTX, MontDel>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyDel>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, PkeyCtxDel>;
using BldPtr = std::unique_ptr<OSSL_PARAM_BLD, BldDel>;
using ParamPtr = std::unique_ptr<OSSL_PARAM, ParamDel>;
using BigPtr = ostrel::BigInt;
using PointPtr = std::unique_ptr<EC_POINT, PointDel>;

using ostrel::SecBytes;
using ostrel::WipeAlloc;

// The boundary of the public-key functions (kPkBoundary).
#define OSTREL_PK_GUARD(...) ::ostrel::guard(::ostrel::crypto::kPkBoundary, OSTREL_SITE, __VA_ARGS__)
#define OSTREL_PK_GUARD_AS(func, ...) \
    ::ostrel::guard(::ostrel::crypto::kPkBoundary, (::ostrel::Site{(func), __FILE__, __LINE__}), __VA_ARGS__)

inline BnPtr new_bn() { return BnPtr(BN_new()); }
inline BnCtxPtr new_bn_ctx() { return BnCtxPtr(BN_CTX_new_ex(libctx())); }

// ---- Big integers ---------------------------------------------------------------------------

bool bigint_valid(const WJ_BigInt *a);
bool bigint_is_zero(const WJ_BigInt *a);
// BIGNUM of a record; NULL when a is not a valid record or memory fails.
BnPtr bn_of(const WJ_BigInt *a);
// Sets bn to the value of a record; false on failure.
bool bn_set(BIGNUM *bn, const WJ_BigInt *a);
// Magnitude of a record as exactly n big-endian bytes (false when it does not fit).
bool bigint_to_fixed(const WJ_BigInt *a, uint8_t *out, size_t n);
// Big-endian bytes of bn left-padded to n bytes (false when it does not fit).
bool bn_to_fixed(const BIGNUM *bn, uint8_t *out, size_t n);

// Copies into a caller's buffer: out NULL asks for the length; otherwise *out_len is the room on
// entry (WJ_ERR_BUFFER_SMALL when short) and the length written on return.
int put_out(unsigned char *out, unsigned int *out_len, const uint8_t *data, size_t n);

// A copy of the values of some records, to tell whether a cached object still matches them.
// Wiped when released (the values may be secret).
class Stamp {
  public:
    void take(std::initializer_list<const WJ_BigInt *> values);
    bool matches(std::initializer_list<const WJ_BigInt *> values) const;
    void clear() { words_.clear(); }

  private:
    std::vector<WJ_WORD, WipeAlloc<WJ_WORD>> words_;
};

// A cached OpenSSL key object built from record values: get() hands out a reference when the
// stamp still matches, put() replaces the cached one. Shared by threads.
class PkeySlot {
  public:
    PkeyPtr get(std::initializer_list<const WJ_BigInt *> values);
    void put(std::initializer_list<const WJ_BigInt *> values, EVP_PKEY *pkey);
    void reset();
    ~PkeySlot();

  private:
    std::mutex mu_;
    Stamp stamp_;
    EVP_PKEY *pkey_ = nullptr;
};

// A prepared operation context (signing, verifying) kept beside a cached key object and lent to
// one caller at a time; a caller who finds it busy works with a temporary context instead.
// It is remade when the key object changes (the context holds a reference to its key, so the
// same address means the same key).
class OpCtx {
  public:
    // Runs use(ctx) with a context of pkey on which init(ctx) has succeeded; WJ_ERR_INTERNAL when
    // init fails.
    template <class Init, class Use>
    int run(EVP_PKEY *pkey, Init init, Use use) {
        std::unique_lock<std::mutex> lock(mu_, std::try_to_lock);
        if (!lock.owns_lock()) return run_temporary(pkey, init, use);
        if (ctx_ && key_ != pkey) {
            EVP_PKEY_CTX_free(ctx_);
            ctx_ = nullptr;
        }
        if (!ctx_) {
            EVP_PKEY_CTX *c = EVP_PKEY_CTX_new_from_pkey(libctx(), pkey, nullptr);
            if (!c) return WJ_ERR_MEMORY;
            if (!init(c)) {
                EVP_PKEY_CTX_free(c);
                return WJ_ERR_INTERNAL;
            }
            ctx_ = c;
            key_ = pkey;
        }
        return use(ctx_);
    }
    template <class Init, class Use>
    static int run_temporary(EVP_PKEY *pkey, Init init, Use use) {
        PkeyCtxPtr c(EVP_PKEY_CTX_new_from_pkey(libctx(), pkey, nullptr));
        if (!c) return WJ_ERR_MEMORY;
        if (!init(c.get())) return WJ_ERR_INTERNAL;
        return use(c.get());
    }
    void reset() {
        std::lock_guard<std::mutex> lock(mu_);
        EVP_PKEY_CTX_free(ctx_);
        ctx_ = nullptr;
        key_ = nullptr;
    }
    ~OpCtx() { EVP_PKEY_CTX_free(ctx_); }

  private:
    std::mutex mu_;
    EVP_PKEY_CTX *ctx_ = nullptr;
    const EVP_PKEY *key_ = nullptr;
};

// Runs an operation on the context of slot (NULL: a temporary one).
template <class Init, class Use>
int run_op(OpCtx *slot, EVP_PKEY *pkey, Init init, Use use) {
    return slot ? slot->run(pkey, init, use) : OpCtx::run_temporary(pkey, init, use);
}

// Builds an EVP_PKEY of type `name` ("RSA", "DSA", "DH", "EC") from OSSL_PARAMs.
PkeyPtr pkey_fromdata(const char *name, int selection, const OSSL_PARAM *params);

// ---- Random scalars -------------------------------------------------------------------------

// r := uniformly random in [1, n - 1].
int random_scalar(BIGNUM *r, const BIGNUM *n, BN_CTX *ctx);
// The per-thread fixed k of the test hook: true (and k set, the hook cleared) when one is set.
bool take_fixed_k(BIGNUM *k);
// Swaps the calling thread's pending fixed k with k (the self-tests keep a caller's hook intact).
void exchange_fixed_k(SecBytes &k);

// Public-key self-test i (0 RSA v1.5, 1 KCDSA, 2 EC-KCDSA, 3 DSA, 4 ECDSA, 5 DH): 0 passed,
// 1 failed; corrupt damages the expected answer. std::bad_alloc passes through.
int pk_selftest(int i, bool corrupt);

// ---- RSA ------------------------------------------------------------------------------------

// The operations without the state gate (the self-tests call them).
int rsa_v15_sign(unsigned char *out, unsigned int *out_len, int hash_alg, const unsigned char *digest,
                 unsigned int digest_len, const WJ_RSA_PrivateKey *key);
int rsa_v15_verify(const unsigned char *sig, unsigned int sig_len, int hash_alg, const unsigned char *digest,
                   unsigned int digest_len, const WJ_RSA_PublicKey *key);
int pkcs1_public_decode(WJ_RSA_PublicKey *key, const unsigned char *in, unsigned int len);
int pkcs1_private_decode(WJ_RSA_PrivateKey *key, const unsigned char *in, unsigned int len);

// ---- Discrete-log family ---------------------------------------------------------------------

// BIGNUM forms of a parameter record and Montgomery contexts for p and q, built on first use.
struct DlCache {
    BnPtr p, q, g;
    MontPtr mont_p, mont_q;
    int p_bytes = 0, q_bytes = 0;
};
// The cache of params, built or refreshed from the record's values; NULL when the record is not
// usable (p, g missing) or memory fails. The reference stays valid while params lives and its
// values are not changed.
std::shared_ptr<const DlCache> dl_cache(const WJ_DL_Parameters *params, int *err);

int kcdsa_hash(unsigned char *out, unsigned int *out_len, const unsigned char *msg, unsigned int msg_len, int hash_alg,
               const WJ_BigInt *y);
int kcdsa_sign(WJ_KCDSA_Signature *sig, const unsigned char *hash, unsigned int hash_len, int hash_alg,
               const WJ_BigInt *x, const WJ_KCDSA_Parameters *params);
int kcdsa_verify(const WJ_KCDSA_Signature *sig, const unsigned char *hash, unsigned int hash_len, int hash_alg,
                 const WJ_BigInt *y, const WJ_KCDSA_Parameters *params);
// The record functions by generic algorithm number (WJ_PKEY_DH, _DSA, _KCDSA), without the gate.
WJ_DL_Parameters *dl_new();
void dl_free(WJ_DL_Parameters *params);
int dl_decode(WJ_DL_Parameters *params, int alg, const unsigned char *in, unsigned int len);
int dl_encode(unsigned char *out, unsigned int *out_len, int alg, const WJ_DL_Parameters *params);
int dl_generate(int alg, WJ_DL_Parameters *params, unsigned p_bits, unsigned q_bits);
int dl_keypair(int alg, WJ_BigInt *x, WJ_BigInt *y, const WJ_DL_Parameters *params);
int dh_shared_secret(WJ_BigInt *secret, const WJ_DL_Parameters *params, const WJ_BigInt *x, const WJ_BigInt *peer);
int dsa_sign(WJ_DSA_Signature *sig, const unsigned char *digest, unsigned len, const WJ_BigInt *x,
             const WJ_DL_Parameters *params);
int dsa_verify(const WJ_DSA_Signature *sig, const unsigned char *digest, unsigned len, const WJ_BigInt *y,
               const WJ_DL_Parameters *params);

// Helpers of the KCDSA family: H(a || b); e = (r XOR h) mod order over len bytes;
// s = x (k - e) mod order; the length a verifier reads r with (0: neither rule fits); the DER
// form of the signature.
int hash_concat(int alg, const uint8_t *a, size_t an, const uint8_t *b, size_t bn, uint8_t *out, unsigned *out_len);
int kcdsa_e(BIGNUM *e, const uint8_t *r, const uint8_t *h, unsigned len, const BIGNUM *order, BN_CTX *ctx);
int kcdsa_s(BIGNUM *s, const BIGNUM *x, const BIGNUM *k, const BIGNUM *e, const BIGNUM *order, const BN_MONT_CTX *mont,
            BN_CTX *ctx);
unsigned kcdsa_r_length(unsigned r_len, unsigned hash_len, unsigned order_bytes);
int kcdsa_sig_encode(unsigned char *out, unsigned int *out_len, const WJ_KCDSA_Signature *sig);
int kcdsa_sig_decode(WJ_KCDSA_Signature *sig, const unsigned char *in, unsigned int len);

// Rightmost-bytes rule of the KCDSA family: the length a hash output of hash_len bytes keeps
// for a group order of order_bytes bytes.
inline unsigned kcdsa_cut(unsigned hash_len, unsigned order_bytes) {
    return hash_len > order_bytes ? order_bytes : hash_len;
}

// ---- Elliptic curves ------------------------------------------------------------------------

struct CurveInfo {
    int id;            // WJ_EC_CURVE_...
    const char *name;  // OpenSSL's short name
};
const CurveInfo *curve_info(int id);
// The process-wide group of a curve (made once, never changed); NULL when unavailable.
const EC_GROUP *curve_group(int id);

struct EcCache {
    const EC_GROUP *group = nullptr;
    BnPtr order;
    MontPtr mont_n;
    int field_bytes = 0, order_bytes = 0;
};
const EcCache *ec_cache(const WJ_EC_Parameters *params, int *err);
int ec_decode(WJ_EC_Parameters *params, const unsigned char *in, unsigned int len);

int ec_point_decode(WJ_EC_POINT *point, const unsigned char *in, unsigned int len, const WJ_EC_Parameters *params);
const EC_POINT *ec_point_raw(const WJ_EC_POINT *point);
int ec_point_curve(const WJ_EC_POINT *point);
// X(P) || Y(P) as field-length octets into out (2 field lengths); false for the point at
// infinity or on failure.
bool ec_point_xy(const WJ_EC_POINT *point, const EcCache &c, uint8_t *out);
// d in [1, n - 1]; Q = d G, or (d^-1 mod n) G for EC-KCDSA.
int ec_keypair(bool kcdsa, WJ_BigInt *d, WJ_EC_POINT *q, const WJ_EC_Parameters *params);
int eckcdsa_hash(unsigned char *out, unsigned int *out_len, const unsigned char *msg, unsigned int msg_len,
                 int hash_alg, const WJ_EC_Parameters *params, const WJ_EC_POINT *q);
int eckcdsa_sign(WJ_ECKCDSA_Signature *sig, const unsigned char *hash, unsigned int hash_len, int hash_alg,
                 const WJ_BigInt *d, const WJ_ECKCDSA_Parameters *params);
int eckcdsa_verify(const WJ_ECKCDSA_Signature *sig, const unsigned char *hash, unsigned int hash_len, int hash_alg,
                   const WJ_EC_POINT *q, const WJ_ECKCDSA_Parameters *params);
int ecdsa_sign(WJ_ECDSA_Signature *sig, const unsigned char *digest, unsigned int len, const WJ_BigInt *d,
               const WJ_ECDSA_Parameters *params);
int ecdsa_verify(const WJ_ECDSA_Signature *sig, const unsigned char *digest, unsigned int len, const WJ_EC_POINT *q,
                 const WJ_ECDSA_Parameters *params);

}  // namespace ostrel::crypto
