// Secret sharing against the same work done directly on OpenSSL BIGNUMs, in the same run:
// Shamir 3-of-5 sharing and recovery of a 32-byte secret over the 33-byte table prime (and of a
// 112-byte secret over the 113-byte prime), and the simple 5-of-5 scheme against RAND_bytes.
#include <benchmark/benchmark.h>
#include <openssl/bn.h>
#include <openssl/rand.h>

#include <cstring>
#include <vector>

#include "suite_sss.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes secret_of(size_t n) {
    Bytes s(n);
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<unsigned char>(i * 29 + 3);
    return s;
}

struct Shared {
    std::vector<Bytes> shares;
    Bytes info;
};

Shared share(const Bytes &secret, int scheme, int n, int k) {
    ZQ_SSS_SHARE *set = QRT_SSS_CreateShare();
    BIN in{static_cast<unsigned>(secret.size()), const_cast<unsigned char *>(secret.data())}, info{0, nullptr};
    ZQ_SSS_PARAM p{n, k};
    Shared out;
    if (QRT_SSS_ShareSecret(set, &info, &in, scheme, &p) == 0) {
        for (ZQ_SSS_BLIST *s = set->list; s; s = s->next) out.shares.emplace_back(s->data, s->data + s->len);
        out.info.assign(info.value, info.value + info.length);
    }
    QRT_BIN_Reset(&info);
    QRT_SSS_DestroyShare(set);
    return out;
}

// The prime of a Shamir share information, for the baseline.
BIGNUM *read_prime(const Bytes &info) {
    // 02 len [00] value: enough for the table's primes
    size_t at = 14 + 2;
    if (info[15] & 0x80) at += info[15] & 0x7f;
    return BN_bin2bn(info.data() + at, static_cast<int>(info.size() - at), nullptr);
}

void BM_Ostrel_ShamirShare(benchmark::State &st) {
    Bytes secret = secret_of(static_cast<size_t>(st.range(0)));
    BIN in{static_cast<unsigned>(secret.size()), secret.data()};
    ZQ_SSS_PARAM p{5, 3};
    for (auto _ : st) {
        ZQ_SSS_SHARE *set = QRT_SSS_CreateShare();
        BIN info{0, nullptr};
        if (QRT_SSS_ShareSecret(set, &info, &in, QRT_SSS_SCHEME_SHAMIR, &p)) st.SkipWithError("share failed");
        QRT_BIN_Reset(&info);
        QRT_SSS_DestroyShare(set);
    }
}

// The same sharing on BIGNUMs: random coefficients of the prime's length, Horner at x = 1..5.
void BM_OpenSSL_ShamirShare(benchmark::State &st) {
    Bytes secret = secret_of(static_cast<size_t>(st.range(0)));
    Shared ref = share(secret, QRT_SSS_SCHEME_SHAMIR, 5, 3);
    BIGNUM *p = read_prime(ref.info);
    BN_CTX *ctx = BN_CTX_new();
    BIGNUM *c[3] = {BN_new(), BN_new(), BN_new()}, *y = BN_new(), *x = BN_new();
    const int bits = BN_num_bytes(p) * 8;
    std::vector<unsigned char> out(static_cast<size_t>(BN_num_bytes(p)) + 8);
    for (auto _ : st) {
        BN_rand(c[0], bits, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY);
        BN_rand(c[1], bits, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY);
        BN_bin2bn(secret.data(), static_cast<int>(secret.size()), c[2]);
        for (unsigned long xi = 1; xi <= 5; ++xi) {
            BN_set_word(x, xi);
            BN_copy(y, c[0]);
            for (int d = 1; d < 3; ++d) {
                BN_mod_mul(y, y, x, p, ctx);
                BN_mod_add(y, y, c[d], p, ctx);
            }
            benchmark::DoNotOptimize(BN_bn2bin(y, out.data()));
        }
    }
    for (BIGNUM *b : {c[0], c[1], c[2], y, x, p}) BN_free(b);
    BN_CTX_free(ctx);
}

void BM_Ostrel_ShamirRecover(benchmark::State &st) {
    Bytes secret = secret_of(static_cast<size_t>(st.range(0)));
    Shared s = share(secret, QRT_SSS_SCHEME_SHAMIR, 5, 3);
    ZQ_SSS_SHARE *set = QRT_SSS_CreateShare();
    ZQ_SSS_BLIST **tail = &set->list;
    for (int i = 0; i < 3; ++i) {
        *tail = QRT_SSS_BLIST_New(static_cast<int>(s.shares[static_cast<size_t>(i)].size()));
        std::memcpy((*tail)->data, s.shares[static_cast<size_t>(i)].data(), s.shares[static_cast<size_t>(i)].size());
        tail = &(*tail)->next;
        ++set->num;
    }
    BIN info{static_cast<unsigned>(s.info.size()), s.info.data()};
    for (auto _ : st) {
        BIN out{0, nullptr};
        if (QRT_SSS_RecoverSecret(&out, set, QRT_SSS_SCHEME_SHAMIR, &info)) st.SkipWithError("recover failed");
        QRT_BIN_Reset(&out);
    }
    QRT_SSS_DestroyShare(set);
}

// Lagrange at zero on BIGNUMs over the same three points (parsing left out, which favours it).
void BM_OpenSSL_ShamirRecover(benchmark::State &st) {
    Bytes secret = secret_of(static_cast<size_t>(st.range(0)));
    Shared s = share(secret, QRT_SSS_SCHEME_SHAMIR, 5, 3);
    BIGNUM *p = read_prime(s.info);
    BN_CTX *ctx = BN_CTX_new();
    BIGNUM *xs[3], *ys[3];
    for (int i = 0; i < 3; ++i) {
        const Bytes &sh = s.shares[static_cast<size_t>(i)];
        size_t lx = static_cast<size_t>(sh[0] << 8 | sh[1]);
        xs[i] = BN_bin2bn(sh.data() + 4, static_cast<int>(lx - 2), nullptr);
        size_t at = 2 + lx;
        size_t ly = static_cast<size_t>(sh[at] << 8 | sh[at + 1]);
        size_t hdr = (sh[at + 3] & 0x80) ? 2 + (sh[at + 3] & 0x7f) : 2;
        ys[i] = BN_bin2bn(sh.data() + at + 2 + hdr, static_cast<int>(ly - hdr), nullptr);
    }
    BIGNUM *sum = BN_new(), *num = BN_new(), *den = BN_new(), *diff = BN_new(), *t = BN_new();
    Bytes out(secret.size());
    for (auto _ : st) {
        BN_zero(sum);
        for (int j = 0; j < 3; ++j) {
            BN_one(num);
            BN_one(den);
            for (int i = 0; i < 3; ++i) {
                if (i == j) continue;
                BN_mod_mul(num, num, xs[i], p, ctx);
                BN_mod_sub(diff, xs[i], xs[j], p, ctx);
                BN_mod_mul(den, den, diff, p, ctx);
            }
            BN_mod_inverse(den, den, p, ctx);
            BN_mod_mul(t, num, den, p, ctx);
            BN_mod_mul(t, t, ys[j], p, ctx);
            BN_mod_add(sum, sum, t, p, ctx);
        }
        benchmark::DoNotOptimize(BN_bn2binpad(sum, out.data(), static_cast<int>(out.size())));
    }
    if (std::memcmp(out.data(), secret.data(), secret.size()) != 0) st.SkipWithError("baseline is wrong");
    for (BIGNUM *b : {sum, num, den, diff, t, p, xs[0], xs[1], xs[2], ys[0], ys[1], ys[2]}) BN_free(b);
    BN_CTX_free(ctx);
}

void BM_Ostrel_SimpleShare(benchmark::State &st) {
    Bytes secret = secret_of(static_cast<size_t>(st.range(0)));
    BIN in{static_cast<unsigned>(secret.size()), secret.data()};
    ZQ_SSS_PARAM p{5, 0};
    for (auto _ : st) {
        ZQ_SSS_SHARE *set = QRT_SSS_CreateShare();
        BIN info{0, nullptr};
        if (QRT_SSS_ShareSecret(set, &info, &in, QRT_SSS_SCHEME_SIMPLE, &p)) st.SkipWithError("share failed");
        QRT_BIN_Reset(&info);
        QRT_SSS_DestroyShare(set);
    }
}

// Four random shares and the XOR of them with the secret.
void BM_OpenSSL_SimpleShare(benchmark::State &st) {
    Bytes secret = secret_of(static_cast<size_t>(st.range(0)));
    std::vector<Bytes> shares(5, Bytes(secret.size()));
    for (auto _ : st) {
        shares[4] = secret;
        for (int i = 0; i < 4; ++i) {
            RAND_bytes(shares[static_cast<size_t>(i)].data(), static_cast<int>(secret.size()));
            for (size_t j = 0; j < secret.size(); ++j) shares[4][j] ^= shares[static_cast<size_t>(i)][j];
        }
        benchmark::DoNotOptimize(shares[4].data());
    }
}

}  // namespace

BENCHMARK(BM_Ostrel_ShamirShare)->Arg(32)->Arg(112);
BENCHMARK(BM_OpenSSL_ShamirShare)->Arg(32)->Arg(112);
BENCHMARK(BM_Ostrel_ShamirRecover)->Arg(32)->Arg(112);
BENCHMARK(BM_OpenSSL_ShamirRecover)->Arg(32)->Arg(112);
BENCHMARK(BM_Ostrel_SimpleShare)->Arg(32);
BENCHMARK(BM_OpenSSL_SimpleShare)->Arg(32);
BENCHMARK_MAIN();
