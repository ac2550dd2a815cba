// Private declarations shared by the crypto core's modules.
#pragma once

#include <openssl/bn.h>
#include <openssl/evp.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "ostrel/guard.hpp"
#include "ostrel/ct.hpp"
#include "suite_crypto.h"

#define OSTREL_BOUNDARY ::ostrel::crypto::kBoundary

namespace ostrel::crypto {

// ---- Library context and the module state --------------------------------------------------

// The core's own OpenSSL library context (default + legacy providers), so the application's
// OpenSSL configuration is never touched. NULL only when OpenSSL cannot be set up at all.
OSSL_LIB_CTX *libctx();

// Algorithms fetched once from the private context and kept for the life of the process.
// NULL when the algorithm is not available (for instance without the legacy provider).
const EVP_CIPHER *fetch_cipher(const char *name);
const EVP_MD *fetch_md(const char *name);
EVP_MAC *fetch_mac(const char *name);

// 0 when an operation may run now (entering the operating state from "loaded" on the way),
// else the code to return (WJ_ERR_STATE, WJ_ERR_SELFTEST, WJ_ERR_MEMORY).
int gate();

// Runs the known-answer self-tests without touching the state; 0, WJ_ERR_SELFTEST, or
// WJ_ERR_MEMORY when memory ran short before they could finish.
int run_selftests();

// The boundaries of the exported functions (ostrel/guard.hpp), with the core's codes. The core
// leaves no trace records: a caller that sees a core call fail records it under the core
// function's name. The public-key functions also empty OpenSSL's error queue after a failure, so
// it does not grow in the caller's thread.
void clear_openssl_errors();
inline constexpr Boundary kBoundary{nullptr, WJ_ERR_BAD_ARGUMENT, WJ_ERR_MEMORY, WJ_ERR_INTERNAL};
inline constexpr Boundary kPkBoundary{nullptr, WJ_ERR_BAD_ARGUMENT, WJ_ERR_MEMORY, WJ_ERR_INTERNAL,
                                      clear_openssl_errors};

// ---- Hashes -------------------------------------------------------------------------------

// State of a hash written here (MD2, HAS-160): plain bytes, no allocation.
struct OwnHash {
    size_t state_size;
    void (*init)(void *state);
    void (*update)(void *state, const uint8_t *in, size_t n);
    void (*final)(void *state, uint8_t *out);
};
extern const OwnHash kMd2;
extern const OwnHash kHas160;
constexpr size_t kOwnHashStateMax = 160;

struct HashInfo {
    int id;
    const char *evp_name;  // NULL for the hashes written here
    const OwnHash *own;
    unsigned length, block;
};
const HashInfo *hash_info(int alg);

// One reusable hash computation. init may be called again at any time; the EVP context is
// allocated once per Hasher and kept across inits.
class Hasher {
  public:
    Hasher() = default;
    Hasher(const Hasher &) = delete;
    Hasher &operator=(const Hasher &) = delete;
    ~Hasher();

    int init(int alg);  // WJ_ code
    int update(const uint8_t *in, size_t n);
    int final(uint8_t *out);  // writes info()->length bytes
    const HashInfo *info() const { return info_; }
    bool ready() const { return info_ != nullptr; }

  private:
    const HashInfo *info_ = nullptr;
    EVP_MD_CTX *evp_ = nullptr;
    alignas(16) uint8_t own_[kOwnHashStateMax];
};

// ---- Block ciphers --------------------------------------------------------------------------

struct CipherInfo {
    int id;
    unsigned block;  // 1 for the stream cipher
    unsigned min_key, max_key;
    bool key_16_24_32;  // only these lengths (AES, ARIA); TDES 16/24 is checked apart
};
const CipherInfo *cipher_info(int alg);
// WJ_ERR_KEY_LENGTH / WJ_ERR_CIPHER_PARAM / 0 for a key of len bytes and the suite parameter.
int check_key(const CipherInfo &ci, unsigned len);

// A keyed raw block function (ECB), the building block of the modes OpenSSL does not offer for
// a cipher, of the cipher MACs and of the ciphers written here.
class BlockFn {
  public:
    virtual ~BlockFn() = default;
    virtual unsigned block() const = 0;
    // n whole blocks, in place allowed.
    virtual int encrypt(const uint8_t *in, uint8_t *out, size_t nblocks) = 0;
    virtual int decrypt(const uint8_t *in, uint8_t *out, size_t nblocks) = 0;
};
// A block function for cipher alg keyed with key/len; param is the RC2 effective bits or the RC5
// rounds. On failure returns NULL and sets *err.
std::unique_ptr<BlockFn> make_block_fn(int alg, const uint8_t *key, unsigned len, unsigned param, int *err);

// RC5-32 written here: the expanded key table and the block function.
struct Rc5Key {
    unsigned rounds = 0;
    uint32_t S[2 * 256 + 2];
};
void rc5_setup(Rc5Key &k, const uint8_t *key, unsigned len, unsigned rounds);
void rc5_encrypt(const Rc5Key &k, const uint8_t in[8], uint8_t out[8]);
void rc5_decrypt(const Rc5Key &k, const uint8_t in[8], uint8_t out[8]);

// ---- Operations without the state gate (the self-tests use them) ---------------------------

int cipher_oneshot(bool encrypt, uint8_t *out, unsigned *out_len, const uint8_t *in, unsigned in_len,
                   const uint8_t *key, unsigned key_len, int alg, const WJ_CIPHER_PARAM *param);
int mac_oneshot(uint8_t *out, unsigned *out_len, const uint8_t *in, unsigned in_len, const uint8_t *key,
                unsigned key_len, int alg, unsigned param);
int random_bytes(uint8_t *out, size_t n);

// ---- Big integers ---------------------------------------------------------------------------

// BIGNUM of a record (NULL on failure) and back (WJ_ code); used by the public-key primitives.
BIGNUM *bn_from_bigint(const WJ_BigInt *a);
int bigint_from_bn(WJ_BigInt *a, const BIGNUM *bn);

}  // namespace ostrel::crypto
