// The built-in primes of the threshold scheme (generated once by gen_primes.py).
#include "sss_internal.h"

namespace ostrel::sss {

const TablePrime kPrimeTable[] = {
#include "sss_primes.inc"
    {0, 0, {0}},
};

const TablePrime *table_prime_for(unsigned min_bytes) {
    for (const TablePrime *p = kPrimeTable; p->size; ++p)
        if (p->size >= min_bytes) return p;
    return nullptr;
}

int load_prime(WJ_BigInt *a, const TablePrime &p) {
    if (int rc = WJ_BigInt_Realloc(a, p.words)) return rc;
    for (unsigned i = 0; i < p.words; ++i) a->Data[i] = p.data[i];
    a->Length = p.words;
    a->Sign = 0;
    return 0;
}

}  // namespace ostrel::sss
