// Shamir's k-of-n scheme: shares are points of a random polynomial of degree k-1 whose constant
// term is the secret; any k of them give it back by Lagrange interpolation at zero.
#include <algorithm>
#include <cstring>

#include "ostrel/owners.hpp"
#include "sss_internal.h"

namespace ostrel::sss {

namespace {

struct PolyFree {
    void operator()(ZQ_POLY *p) const { QRT_POLY_Free(p); }
};
using Poly = std::unique_ptr<ZQ_POLY, PolyFree>;

constexpr unsigned kMinPrimeBytes = 5;

BigInt int_of(uint32_t v) {
    const uint8_t be[4] = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
                           static_cast<uint8_t>(v)};
    BigInt a = new_bigint();
    if (WJ_BigInt_BytesToInt(a.get(), be, 4) != 0) throw std::bad_alloc();
    return a;
}

// The field for a secret of len bytes: the first table prime of at least len + 1 (and 5) bytes.
int choose_prime(BigInt &p, size_t len) {
    const unsigned m = std::max<unsigned>(static_cast<unsigned>(len) + 1, kMinPrimeBytes);
    p = new_bigint();
    if (const TablePrime *tp = table_prime_for(m)) return load_prime(p.get(), *tp) ? QRT_SSS_INTERNAL : 0;
    return WJ_BigInt_GenerateRandomPrime(p.get(), m * 8) ? QRT_SSS_GENERATE_PRIME_FAILED : 0;
}

// Lagrange interpolation at zero: sum over j of y_j * prod_{i != j} x_i / (x_i - x_j) mod p.
int interpolate(WJ_BigInt *out, const std::vector<BigInt> &xs, const std::vector<BigInt> &ys, const WJ_BigInt *p) {
    BigInt sum = new_bigint(), num = new_bigint(), den = new_bigint(), diff = new_bigint(), term = new_bigint();
    static const uint8_t one = 1;
    for (size_t j = 0; j < xs.size(); ++j) {
        if (WJ_BigInt_BytesToInt(num.get(), &one, 1) || WJ_BigInt_BytesToInt(den.get(), &one, 1))
            return QRT_SSS_INTERNAL;
        for (size_t i = 0; i < xs.size(); ++i) {
            if (i == j) continue;
            if (WJ_BigInt_ModMul(num.get(), num.get(), xs[i].get(), p)) return QRT_SSS_INTERNAL;
            if (WJ_BigInt_Sub(diff.get(), xs[i].get(), xs[j].get())) return QRT_SSS_INTERNAL;
            if (WJ_BigInt_ModMul(den.get(), den.get(), diff.get(), p)) return QRT_SSS_INTERNAL;
        }
        // Two shares with the same x (modulo p) leave no inverse: the set is not usable.
        int rc = WJ_BigInt_ModInverse(den.get(), den.get(), p);
        if (rc == WJ_ERR_NOT_INVERTIBLE) return QRT_SSS_BAD_SHARE;
        if (rc) return QRT_SSS_INTERNAL;
        if (WJ_BigInt_ModMul(term.get(), num.get(), den.get(), p) ||
            WJ_BigInt_ModMul(term.get(), term.get(), ys[j].get(), p) ||
            WJ_BigInt_Add(sum.get(), sum.get(), term.get()) || WJ_BigInt_Mod(sum.get(), sum.get(), p))
            return QRT_SSS_INTERNAL;
    }
    return WJ_BigInt_Copy(out, sum.get()) ? QRT_SSS_INTERNAL : 0;
}

}  // namespace

int share_shamir(ZQ_SSS_SHARE *set, BIN *info, const BIN &secret, int n, int k) {
    if (secret.length == 0 || !secret.value || secret.length > QRT_SSS_SHAMIR_MAX_SECRET) return QRT_SSS_BAD_SECRET;
    if (n < 2 || k < 1 || n < k) return QRT_SSS_BAD_PARAM;
    BigInt p;
    if (int rc = choose_prime(p, secret.length)) return rc;

    ZQ_POLY *raw = nullptr;
    // The constant term is not drawn: it becomes the secret.
    if (generate_poly(&raw, k - 1, p.get(), false) != 0) return QRT_SSS_GENERATE_POLY_FAILED;
    Poly poly(raw);
    ZQ_POLY *constant = poly.get();
    while (constant->next) constant = constant->next;
    if (WJ_BigInt_BytesToInt(constant->coef, secret.value, secret.length)) return QRT_SSS_GENERATE_POLY_FAILED;

    BigInt y = new_bigint();
    std::vector<uint8_t> bytes;
    ZQ_SSS_BLIST *tail = nullptr;
    for (int i = 1; i <= n; ++i) {
        BigInt x = int_of(static_cast<uint32_t>(i));
        if (QRT_POLY_Evaluate(y.get(), poly.get(), x.get(), p.get()) != 0) return QRT_SSS_EVALUATE_POLY_FAILED;
        if (int rc = encode_shamir_share(bytes, x.get(), y.get())) return rc;
        append_share(set, tail, bytes.data(), bytes.size());
    }
    wipe(bytes.data(), bytes.size());
    if (int rc = encode_shamir_info(bytes, static_cast<uint32_t>(n), static_cast<uint32_t>(k), secret.length, p.get()))
        return rc;
    return to_bin(info, bytes.data(), bytes.size());
}

int recover_shamir(BIN *secret, const ZQ_SSS_SHARE *set, const BIN &info) {
    ShamirInfo si;
    if (int rc = parse_shamir_info(info, si)) return rc;
    std::vector<const ZQ_SSS_BLIST *> used;
    if (int rc = first_shares(set, si.k, used)) return rc;
    std::vector<BigInt> xs, ys;
    for (const ZQ_SSS_BLIST *s : used) {
        xs.push_back(new_bigint());
        ys.push_back(new_bigint());
        if (int rc = parse_shamir_share(s->data, s->len, xs.back().get(), ys.back().get())) return rc;
    }
    BigInt value = new_bigint();
    if (int rc = interpolate(value.get(), xs, ys, si.prime.get())) return rc;

    unsigned n = 0;
    if (WJ_BigInt_IntToBytes(nullptr, &n, value.get())) return QRT_SSS_INTERNAL;
    std::vector<uint8_t> out(si.secret_len);
    // Zero is one 0 byte in minimal form but fits any length.
    const bool zero = WJ_BigInt_GetBitLength(value.get()) == 0;
    if (!zero && n > si.secret_len) return QRT_SSS_BAD_SECRET;
    if (!zero && WJ_BigInt_IntToBytes(out.data() + (si.secret_len - n), &n, value.get())) return QRT_SSS_INTERNAL;
    int rc = to_bin(secret, out.data(), out.size());
    wipe(out.data(), out.size());
    return rc;
}

}  // namespace ostrel::sss
