// The module: private OpenSSL context and algorithm cache, the state machine, the known-answer
// self-tests, version and error texts.
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/provider.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include "crypto_errors.hpp"
#include "crypto_pkey.hpp"
#include "crypto_version.hpp"

namespace ostrel::crypto {

namespace {

struct Context {
    OSSL_LIB_CTX *ctx = nullptr;
    OSSL_PROVIDER *deflt = nullptr;
    OSSL_PROVIDER *legacy = nullptr;
};

// Set up once and kept for the life of the process (OpenSSL's own exit handler cleans up).
Context &context() {
    static Context c = [] {
        Context r;
        r.ctx = OSSL_LIB_CTX_new();
        if (!r.ctx) return r;
        r.deflt = OSSL_PROVIDER_load(r.ctx, "default");
        // Without the legacy provider only its algorithms are missing; they report "unknown".
        r.legacy = OSSL_PROVIDER_load(r.ctx, "legacy");
        if (!r.deflt) {
            OSSL_LIB_CTX_free(r.ctx);
            r.ctx = nullptr;
        }
        return r;
    }();
    return c;
}

// A small append-only cache: readers scan the published prefix without a lock.
template <class T, void (*Free)(T *)>
class FetchCache {
  public:
    template <class Fetch>
    T *get(const char *name, Fetch fetch) {
        size_t n = count_.load(std::memory_order_acquire);
        // Names come from constant tables, so the same pointer is the usual hit.
        for (size_t i = 0; i < n; ++i)
            if (names_[i] == name) return items_[i];
        for (size_t i = 0; i < n; ++i)
            if (std::strcmp(names_[i], name) == 0) return items_[i];
        std::lock_guard<std::mutex> lock(mu_);
        n = count_.load(std::memory_order_relaxed);
        for (size_t i = 0; i < n; ++i)
            if (std::strcmp(names_[i], name) == 0) return items_[i];
        if (n == kSlots) return nullptr;
        T *item = libctx() ? fetch(libctx(), name) : nullptr;
        names_[n] = name;
        items_[n] = item;  // a failed fetch is cached too: the algorithm is not there
        count_.store(n + 1, std::memory_order_release);
        return item;
    }

  private:
    static constexpr size_t kSlots = 96;
    std::mutex mu_;
    std::atomic<size_t> count_{0};
    const char *names_[kSlots] = {};
    T *items_[kSlots] = {};
};

void free_cipher(EVP_CIPHER *c) { EVP_CIPHER_free(c); }
void free_md(EVP_MD *m) { EVP_MD_free(m); }
void free_mac(EVP_MAC *m) { EVP_MAC_free(m); }

FetchCache<EVP_CIPHER, free_cipher> g_ciphers;
FetchCache<EVP_MD, free_md> g_mds;
FetchCache<EVP_MAC, free_mac> g_macs;

// ---- State ----

std::atomic<int> g_state{WJC_STATE_LOADED};
std::atomic<bool> g_selftest_passed{false};
std::mutex g_state_mu;

int enter_operating_locked() {
    if (!g_selftest_passed.load()) {
        int rc = run_selftests();
        if (rc == WJ_ERR_MEMORY) return rc;  // the tests could not run; the next call tries again
        if (rc != 0) {
            g_state.store(WJC_STATE_ERROR);
            return WJ_ERR_SELFTEST;
        }
        g_selftest_passed.store(true);
    }
    g_state.store(WJC_STATE_OPERATING);
    return 0;
}

// ---- Known-answer self-tests ----

std::atomic<int> g_fault{0};

enum class Kind { Hash, Cipher, Mac, Random, PublicKey };

struct Kat {
    const char *name;
    Kind kind;
    int alg;
    const char *key, *iv, *in, *out;  // hex
};

// Each family the core serves, with at least one algorithm of its own code (MD2, HAS-160, RC5,
// KCDSA, EC-KCDSA). The public-key tests live beside their algorithms; alg is their number.
const Kat kKats[] = {
    {"SHA-1", Kind::Hash, WJ_HASH_SHA1, "", "", "616263", "a9993e364706816aba3e25717850c26c9cd0d89d"},
    {"SHA-256", Kind::Hash, WJ_HASH_SHA256, "", "", "616263",
     "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"SHA-512", Kind::Hash, WJ_HASH_SHA512, "", "", "616263",
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd454d44"
     "23643ce80e2a9ac94fa54ca49f"},
    {"MD5", Kind::Hash, WJ_HASH_MD5, "", "", "616263", "900150983cd24fb0d6963f7d28e17f72"},
    {"MD2", Kind::Hash, WJ_HASH_MD2, "", "", "616263", "da853b0d3f88d99b30283a69e6ded6bb"},
    {"HAS-160", Kind::Hash, WJ_HASH_HAS160, "", "", "616263", "975e810488cf2a3d49838478124afce4b1c78804"},
    {"HMAC-SHA-256", Kind::Mac, WJ_MAC_HMAC(WJ_HASH_SHA256), "0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b", "",
     "4869205468657265", "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
    {"AES-128-CMAC", Kind::Mac, WJ_MAC_AES_CMAC, "2b7e151628aed2a6abf7158809cf4f3c", "", "",
     "bb1d6929e95937287fa37d129b756746"},
    {"AES-128", Kind::Cipher, WJ_CIPHER_AES, "000102030405060708090a0b0c0d0e0f", "", "00112233445566778899aabbccddeeff",
     "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {"ARIA-128", Kind::Cipher, WJ_CIPHER_ARIA, "000102030405060708090a0b0c0d0e0f", "",
     "00112233445566778899aabbccddeeff", "d718fbd6ab644c739da95f3be6451778"},
    {"SEED", Kind::Cipher, WJ_CIPHER_SEED, "00000000000000000000000000000000", "", "000102030405060708090a0b0c0d0e0f",
     "5ebac6e0054e166819aff1cc6d346cdb"},
    {"DES", Kind::Cipher, WJ_CIPHER_DES, "133457799bbcdff1", "", "0123456789abcdef", "85e813540f0ab405"},
    {"RC5-32/12", Kind::Cipher, WJ_CIPHER_RC5, "00000000000000000000000000000000", "", "0000000000000000",
     "21a5dbee154b8f6d"},
    {"DRBG", Kind::Random, 0, "", "", "", ""},
    {"RSA PKCS#1 v1.5", Kind::PublicKey, 0, "", "", "", ""},
    {"KCDSA", Kind::PublicKey, 1, "", "", "", ""},
    {"EC-KCDSA", Kind::PublicKey, 2, "", "", "", ""},
    {"DSA", Kind::PublicKey, 3, "", "", "", ""},
    {"ECDSA", Kind::PublicKey, 4, "", "", "", ""},
    {"DH", Kind::PublicKey, 5, "", "", "", ""},
};
constexpr int kKatCount = static_cast<int>(sizeof kKats / sizeof kKats[0]);

std::vector<uint8_t> unhex(const char *h) {
    std::vector<uint8_t> out;
    auto nib = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    for (size_t i = 0; h[i] && h[i + 1]; i += 2) out.push_back(static_cast<uint8_t>(nib(h[i]) << 4 | nib(h[i + 1])));
    return out;
}

// 0 passed, 1 failed, 2 not available in this build (skipped), 3 memory ran short.
int run_kat(const Kat &k, bool corrupt) {
    std::vector<uint8_t> key = unhex(k.key), in = unhex(k.in), want = unhex(k.out);
    if (corrupt && !want.empty()) want[0] ^= 0x01;
    uint8_t got[WJ_HASH_MAX_LENGTH + WJ_CIPHER_MAX_BLOCK];
    unsigned n = 0;
    int rc = 0;
    switch (k.kind) {
        case Kind::Hash: {
            Hasher h;
            rc = h.init(k.alg);
            if (rc == 0) rc = h.update(in.data(), in.size());
            if (rc == 0) n = h.info()->length;
            if (rc == 0) rc = h.final(got);
            break;
        }
        case Kind::Mac:
            rc = mac_oneshot(got, &n, in.data(), static_cast<unsigned>(in.size()), key.data(),
                             static_cast<unsigned>(key.size()), k.alg, 0);
            break;
        case Kind::Cipher: {
            WJ_CIPHER_PARAM p{};
            p.suiteParam.rc5.rounds = 12;
            p.modeID = WJ_MODE_ECB;
            p.paddingID = WJ_PAD_NONE;
            rc = cipher_oneshot(true, got, &n, in.data(), static_cast<unsigned>(in.size()), key.data(),
                                static_cast<unsigned>(key.size()), k.alg, &p);
            if (rc == 0 && n == want.size() && ct_equal(got, want.data(), n)) {
                // and back
                uint8_t back[WJ_CIPHER_MAX_BLOCK];
                unsigned m = 0;
                rc = cipher_oneshot(false, back, &m, got, n, key.data(), static_cast<unsigned>(key.size()), k.alg, &p);
                if (rc == 0 && (m != in.size() || !ct_equal(back, in.data(), m))) return 1;
            }
            break;
        }
        case Kind::PublicKey:
            return pk_selftest(k.alg, corrupt);
        case Kind::Random: {
            // Continuous test: two outputs of the generator must differ.
            uint8_t a[32], b[32];
            if (random_bytes(a, sizeof a) != 0 || random_bytes(b, sizeof b) != 0) return 1;
            return (corrupt || ct_equal(a, b, sizeof a)) ? 1 : 0;
        }
    }
    if (rc == WJ_ERR_UNKNOWN_ID) return 2;
    if (rc == WJ_ERR_MEMORY) return 3;
    if (rc != 0) return 1;
    return (n == want.size() && ct_equal(got, want.data(), n)) ? 0 : 1;
}

}  // namespace

OSSL_LIB_CTX *libctx() { return context().ctx; }

const EVP_CIPHER *fetch_cipher(const char *name) {
    return g_ciphers.get(name, [](OSSL_LIB_CTX *c, const char *n) { return EVP_CIPHER_fetch(c, n, nullptr); });
}
const EVP_MD *fetch_md(const char *name) {
    return g_mds.get(name, [](OSSL_LIB_CTX *c, const char *n) { return EVP_MD_fetch(c, n, nullptr); });
}
EVP_MAC *fetch_mac(const char *name) {
    return g_macs.get(name, [](OSSL_LIB_CTX *c, const char *n) { return EVP_MAC_fetch(c, n, nullptr); });
}


int gate() {
    int s = g_state.load(std::memory_order_acquire);
    if (s == WJC_STATE_OPERATING || s == WJC_STATE_OPERATING_NO_SELFTEST) return 0;
    if (s != WJC_STATE_LOADED) return WJ_ERR_STATE;
    std::lock_guard<std::mutex> lock(g_state_mu);
    s = g_state.load();
    if (s == WJC_STATE_OPERATING || s == WJC_STATE_OPERATING_NO_SELFTEST) return 0;
    if (s != WJC_STATE_LOADED) return WJ_ERR_STATE;
    return enter_operating_locked();
}

// A shortage of memory is no failed test: it gives WJ_ERR_MEMORY, which leaves the state alone.
int run_selftests() {
    if (!libctx()) return WJ_ERR_SELFTEST;
    int fault = g_fault.load();
    try {
        for (int i = 0; i < kKatCount; ++i) {
            int r = run_kat(kKats[i], fault == i + 1);
            if (r == 1) return WJ_ERR_SELFTEST;
            if (r == 3) return WJ_ERR_MEMORY;
        }
    } catch (const std::bad_alloc &) {
        ERR_clear_error();
        return WJ_ERR_MEMORY;
    }
    return 0;
}

void clear_openssl_errors() { ERR_clear_error(); }

}  // namespace ostrel::crypto

using namespace ostrel;
using namespace ostrel::crypto;

extern "C" {

QRT_API const char *WJC_GetVersion(void) { return generated::kVersion; }

QRT_API int WJC_Initialize(void) {
    if (g_state.load(std::memory_order_acquire) != WJC_STATE_FINALIZED) return 0;
    std::lock_guard<std::mutex> lock(g_state_mu);
    if (g_state.load() == WJC_STATE_FINALIZED) {
        if (!libctx()) return WJ_ERR_INTERNAL;
        g_selftest_passed.store(false);
        g_state.store(WJC_STATE_LOADED);
    }
    return 0;
}

QRT_API int WJC_Finalize(void) {
    std::lock_guard<std::mutex> lock(g_state_mu);
    g_state.store(WJC_STATE_FINALIZED);
    return 0;
}

QRT_API int WJC_ChangeState(int state) {
    if (state != WJC_STATE_LOADED && state != WJC_STATE_OPERATING && state != WJC_STATE_OPERATING_NO_SELFTEST &&
        state != WJC_STATE_ERROR)
        return WJ_ERR_BAD_ARGUMENT;
    if (g_state.load(std::memory_order_acquire) == state) return 0;  // the provider asks on every call
    std::lock_guard<std::mutex> lock(g_state_mu);
    int cur = g_state.load();
    if (cur == state) return 0;
    if (state == WJC_STATE_ERROR) {
        g_state.store(WJC_STATE_ERROR);
        return 0;
    }
    if (cur == WJC_STATE_ERROR || cur == WJC_STATE_FINALIZED) return WJ_ERR_STATE;
    if (state == WJC_STATE_OPERATING) return enter_operating_locked();
    g_state.store(state);
    return 0;
}

QRT_API int WJC_GetState(void) { return g_state.load(); }

QRT_API int WJC_SelfTest(void) { return run_selftests(); }

QRT_API int WJC_SelfTest_InjectFault(int id) {
    if (id < 0 || id > kKatCount) return WJ_ERR_BAD_ARGUMENT;
    g_fault.store(id);
    return 0;
}

QRT_API const char *WJC_SelfTest_Name(int id) { return (id >= 1 && id <= kKatCount) ? kKats[id - 1].name : nullptr; }

QRT_API const char *WJC_GetErrorString(int code) {
    const char *text = find_text(generated::kErrorTexts, code, 1);
    return text ? text : "unknown error";
}

}  // extern "C"
