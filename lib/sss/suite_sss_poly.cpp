// Polynomials over a prime field: random generation and Horner evaluation.
#include "sss_internal.h"

using namespace ostrel::sss;

namespace {

// Terms must come highest degree first with distinct, non-negative degrees.
bool well_formed(const ZQ_POLY *poly) {
    int prev = -1;
    for (const ZQ_POLY *t = poly; t; t = t->next) {
        if (t->degree < 0 || !t->coef || (prev >= 0 && t->degree >= prev)) return false;
        prev = t->degree;
    }
    return poly != nullptr;
}

// acc := acc * x^times mod p. The multiplication also reduces what the additions left behind, so
// each step of Horner's rule is one multiply-add reduced modulo p. (a gap of missing degrees costs one exponentiation).
int shift(WJ_BigInt *acc, const WJ_BigInt *x, unsigned times, const WJ_BigInt *p, WJ_BigInt *tmp) {
    if (times == 0) return 0;
    if (times == 1) return WJ_BigInt_ModMul(acc, acc, x, p);
    const unsigned char be[4] = {static_cast<unsigned char>(times >> 24), static_cast<unsigned char>(times >> 16),
                                 static_cast<unsigned char>(times >> 8), static_cast<unsigned char>(times)};
    BigInt e = new_bigint();
    if (int rc = WJ_BigInt_BytesToInt(e.get(), be, 4)) return rc;
    if (int rc = WJ_BigInt_ModExp(tmp, x, e.get(), p)) return rc;
    return WJ_BigInt_ModMul(acc, acc, tmp, p);
}

int evaluate(WJ_BigInt *y, const ZQ_POLY *poly, const WJ_BigInt *x, const WJ_BigInt *p) {
    BigInt acc = new_bigint(), tmp = new_bigint();
    int cur = poly->degree;
    for (const ZQ_POLY *t = poly; t; t = t->next) {
        if (int rc = shift(acc.get(), x, static_cast<unsigned>(cur - t->degree), p, tmp.get())) return rc;
        cur = t->degree;
        if (int rc = WJ_BigInt_Add(acc.get(), acc.get(), t->coef)) return rc;
    }
    if (int rc = shift(acc.get(), x, static_cast<unsigned>(cur), p, tmp.get())) return rc;
    return WJ_BigInt_Mod(y, acc.get(), p);
}

}  // namespace

extern "C" {

QRT_API ZQ_POLY *QRT_POLY_New(int degree, unsigned int words) {
    if (degree < 0) return nullptr;
    auto *t = static_cast<ZQ_POLY *>(QRT_calloc(1, sizeof(ZQ_POLY)));
    if (!t) return nullptr;
    t->degree = degree;
    t->coef = WJ_BigInt_New(words ? words : 1);
    if (!t->coef) {
        QRT_free(t);
        return nullptr;
    }
    return t;
}

QRT_API void QRT_POLY_Free(ZQ_POLY *poly) {
    while (poly) {
        ZQ_POLY *next = poly->next;
        WJ_BigInt_Free(poly->coef);
        QRT_free(poly);
        poly = next;
    }
}

}  // extern "C"

namespace ostrel::sss {

int generate_poly(ZQ_POLY **poly, int degree, const WJ_BigInt *prime, bool random_constant) {
    if (!poly || !prime || degree < 0) return QRT_SSS_INVALID_INPUT;
    *poly = nullptr;
    const unsigned bytes = WJ_BigInt_GetByteLength(prime);
    if (bytes == 0) return OSTREL_FAIL(QRT_SSS_INVALID_INPUT);
    ZQ_POLY *head = nullptr, **tail = &head;
    int rc = 0;
    for (int d = degree; d >= 0 && !rc; --d) {
        ZQ_POLY *t = QRT_POLY_New(d, (bytes + 3) / 4);
        if (!t) {
            rc = QRT_SSS_MALLOC_FAILED;
            break;
        }
        *tail = t;
        tail = &t->next;
        if ((d > 0 || random_constant) && WJ_BigInt_GenerateRandom(t->coef, bytes * 8) != 0) rc = QRT_SSS_INTERNAL;
    }
    if (rc) {
        QRT_POLY_Free(head);
        return OSTREL_FAIL(rc);
    }
    *poly = head;
    return 0;
}

}  // namespace ostrel::sss

extern "C" {

QRT_API int QRT_POLY_Generate(ZQ_POLY **poly, int degree, const WJ_BigInt *prime) {
    return ostrel::sss::generate_poly(poly, degree, prime, true);
}

QRT_API int QRT_POLY_Evaluate(WJ_BigInt *y, const ZQ_POLY *poly, const WJ_BigInt *x, const WJ_BigInt *prime) {
    if (!y || !poly || !x || !prime) return QRT_SSS_INVALID_INPUT;
    if (!well_formed(poly) || WJ_BigInt_GetBitLength(prime) < 2) return OSTREL_FAIL(QRT_SSS_INVALID_INPUT);
    return OSTREL_GUARD_TRACE([&] {
        int rc = evaluate(y, poly, x, prime);
        return rc < 0 ? QRT_SSS_INTERNAL : rc;  // the crypto core's codes
    });
}

}  // extern "C"
