// Weak and strong values: blinding the derived password, the server's private operation, the
// client's check and the removal of the blinding.
#include <memory>

#include "ostrel/core_owners.hpp"
#include "php_internal.h"
#include "suite_crypto.h"

using namespace ostrel::php;

namespace {

using ostrel::BigInt;
using PublicKey = ostrel::RsaPublicKey;
using PrivateKey = ostrel::RsaPrivateKey;

// Records a failed core call under its own name, then gives the handshake's code for it.
int core_fail(const char *fn, int core_code, int code, const char *file, int line) {
    QRT_Trace_PutError(fn, core_code, WJC_GetErrorString(core_code), file, line);
    return code;
}
#define CORE(fn, args, code) \
    if (int core_rc_ = fn args) return core_fail(#fn, core_rc_, (code), __FILE__, __LINE__)

BigInt new_int() {
    BigInt a(WJ_BigInt_New(1));
    if (!a) throw std::bad_alloc();
    return a;
}

int load_int(BigInt &a, const ZQ_PHP_DATA &d) {
    a = new_int();
    static const uint8_t zero = 0;
    CORE(WJ_BigInt_BytesToInt, (a.get(), d.len ? d.data : &zero, d.len ? d.len : 1), QRT_PHP_BIGINT_FAILED);
    return 0;
}

// a as big-endian bytes of its own length.
int store_int(ZQ_PHP_DATA *out, const WJ_BigInt *a) {
    unsigned n = 0;
    CORE(WJ_BigInt_IntToBytes, (nullptr, &n, a), QRT_PHP_BIGINT_FAILED);
    Bytes b(n);
    CORE(WJ_BigInt_IntToBytes, (b.v.data(), &n, a), QRT_PHP_BIGINT_FAILED);
    return set_data(out, b.v.data(), n);
}

int load_public(PublicKey &key, const ZQ_PHP_DATA &der) {
    key.reset(WJ_RSA_PublicKey_New());
    if (!key) return QRT_PHP_MALLOC_FAILED;
    CORE(WJ_PKCS1_PublicKey_Decode, (key.get(), der.data, der.len), QRT_PHP_PKCS1_FAILED);
    return 0;
}

int load_private(PrivateKey &key, const ZQ_PHP_DATA &der) {
    key.reset(WJ_RSA_PrivateKey_New());
    if (!key) return QRT_PHP_MALLOC_FAILED;
    CORE(WJ_PKCS1_PrivateKey_Decode, (key.get(), der.data, der.len), QRT_PHP_PKCS1_FAILED);
    return 0;
}

// A blinding factor uniform in [2, n). It is invertible unless it shares a factor with n, which
// for an RSA modulus would mean having found a factor of it.
int random_blind(BigInt &r, const WJ_BigInt *n) {
    r = new_int();
    BigInt two = new_int();
    static const uint8_t kTwo = 2;
    CORE(WJ_BigInt_BytesToInt, (two.get(), &kTwo, 1), QRT_PHP_BIGINT_FAILED);
    const unsigned bits = WJ_BigInt_GetBitLength(n);
    for (int tries = 0; tries < 256; ++tries) {
        CORE(WJ_BigInt_GenerateRandom, (r.get(), bits), QRT_PHP_BIGINT_FAILED);
        if (WJ_BigInt_Cmp(r.get(), n) < 0 && WJ_BigInt_Cmp(r.get(), two.get()) >= 0) return 0;
    }
    return QRT_PHP_BIGINT_FAILED;
}

int compute_weak(ZQ_PHP_DATA *weak, ZQ_PHP_DATA *blind, const ZQ_PHP_DATA &password, const ZQ_PHP_DATA &pub) {
    PublicKey key;
    if (int rc = load_public(key, pub)) return rc;
    const WJ_BigInt *n = key->n, *e = key->e;
    // h = KDF(password, bytes of n); g = h^2 mod n.
    Data h;
    if (int rc = QRT_PHP_ComputeKDF(h.get(), static_cast<int>(WJ_BigInt_GetByteLength(n)), &password)) return rc;
    BigInt g;
    if (int rc = load_int(g, *h.get())) return rc;
    CORE(WJ_BigInt_ModMul, (g.get(), g.get(), g.get(), n), QRT_PHP_BIGINT_FAILED);
    // w = g * r^e mod n.
    BigInt r, w = new_int();
    if (int rc = random_blind(r, n)) return rc;
    CORE(WJ_BigInt_ModExp, (w.get(), r.get(), e, n), QRT_PHP_BIGINT_FAILED);
    CORE(WJ_BigInt_ModMul, (w.get(), w.get(), g.get(), n), QRT_PHP_BIGINT_FAILED);
    Data wd, rd;
    if (int rc = store_int(wd.get(), w.get())) return rc;
    if (int rc = store_int(rd.get(), r.get())) return rc;
    wd.release_to(weak);
    rd.release_to(blind);
    return 0;
}

int compute_strong(ZQ_PHP_DATA *strong, const ZQ_PHP_DATA &weak, const ZQ_PHP_DATA &priv) {
    PrivateKey key;
    if (int rc = load_private(key, priv)) return rc;
    unsigned n = 0;
    static const uint8_t zero = 0;
    const uint8_t *in = weak.len ? weak.data : &zero;
    const unsigned in_len = weak.len ? weak.len : 1;
    CORE(WJ_RSA_PrivateKeyExp, (nullptr, &n, in, in_len, key.get()), QRT_PHP_RSA_FAILED);
    Bytes s(n);
    CORE(WJ_RSA_PrivateKeyExp, (s.v.data(), &n, in, in_len, key.get()), QRT_PHP_RSA_FAILED);
    // Sent as an integer of its own length, like the weak value.
    size_t skip = 0;
    while (skip + 1 < n && s.v[skip] == 0) ++skip;
    return set_data(strong, s.v.data() + skip, n - skip);
}

int check_strong(const ZQ_PHP_DATA &strong, const ZQ_PHP_DATA &weak, const ZQ_PHP_DATA &pub) {
    PublicKey key;
    if (int rc = load_public(key, pub)) return rc;
    BigInt s, w, c = new_int();
    if (int rc = load_int(s, strong)) return rc;
    if (int rc = load_int(w, weak)) return rc;
    CORE(WJ_BigInt_ModExp, (c.get(), s.get(), key->e, key->n), QRT_PHP_BIGINT_FAILED);
    return WJ_BigInt_Cmp(c.get(), w.get()) == 0 ? 0 : QRT_PHP_INVALID_STRONG;
}

int strong_passwd(ZQ_PHP_DATA *out, const ZQ_PHP_DATA &strong, const ZQ_PHP_DATA &blind, const ZQ_PHP_DATA &pub) {
    PublicKey key;
    if (int rc = load_public(key, pub)) return rc;
    BigInt s, r, p = new_int();
    if (int rc = load_int(s, strong)) return rc;
    if (int rc = load_int(r, blind)) return rc;
    CORE(WJ_BigInt_ModInverse, (p.get(), r.get(), key->n), QRT_PHP_BIGINT_FAILED);
    CORE(WJ_BigInt_ModMul, (p.get(), p.get(), s.get(), key->n), QRT_PHP_BIGINT_FAILED);
    return store_int(out, p.get());
}

}  // namespace

extern "C" {

QRT_API int QRT_PHP_ComputeWeakValue(ZQ_PHP_DATA *weak, ZQ_PHP_DATA *blind, const ZQ_PHP_DATA *password,
                                     const ZQ_PHP_DATA *publicKey) {
    if (!weak || !blind || !valid(password) || !valid(publicKey)) return QRT_PHP_INVALID_INPUT;
    *weak = ZQ_PHP_DATA{0, nullptr};
    *blind = ZQ_PHP_DATA{0, nullptr};
    return OSTREL_GUARD_TRACE([&] { return compute_weak(weak, blind, *password, *publicKey); });
}

QRT_API int QRT_PHP_ComputeStrongValue(ZQ_PHP_DATA *strong, const ZQ_PHP_DATA *weak, const ZQ_PHP_DATA *privateKey) {
    if (!strong || !valid(weak) || !valid(privateKey)) return QRT_PHP_INVALID_INPUT;
    *strong = ZQ_PHP_DATA{0, nullptr};
    return OSTREL_GUARD_TRACE([&] { return compute_strong(strong, *weak, *privateKey); });
}

QRT_API int QRT_PHP_CheckStrongValue(const ZQ_PHP_DATA *strong, const ZQ_PHP_DATA *weak, const ZQ_PHP_DATA *publicKey) {
    if (!valid(strong) || !valid(weak) || !valid(publicKey)) return QRT_PHP_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] { return check_strong(*strong, *weak, *publicKey); });
}

QRT_API int QRT_PHP_ComputeStrongPasswd(ZQ_PHP_DATA *passwd, const ZQ_PHP_DATA *strong, const ZQ_PHP_DATA *blind,
                                        const ZQ_PHP_DATA *publicKey) {
    if (!passwd || !valid(strong) || !valid(blind) || !valid(publicKey)) return QRT_PHP_INVALID_INPUT;
    *passwd = ZQ_PHP_DATA{0, nullptr};
    return OSTREL_GUARD_TRACE([&] { return strong_passwd(passwd, *strong, *blind, *publicKey); });
}

}  // extern "C"
