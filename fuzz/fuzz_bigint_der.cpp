// DER INTEGERs from outside (key values, share formats): decoding never misbehaves, and whatever
// decodes encodes back to exactly the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "suite_crypto.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 1 << 16) return 0;
    WJ_BigInt *a = WJ_BigInt_New(1);
    if (!a) return 0;
    if (WJ_BigInt_DerDecode(a, data, static_cast<unsigned>(size)) == 0) {
        unsigned n = 0;
        if (WJ_BigInt_DerEncode(nullptr, &n, a) != 0) abort();
        std::vector<unsigned char> out(n);
        if (WJ_BigInt_DerEncode(out.data(), &n, a) != 0 || n != size || std::memcmp(out.data(), data, size) != 0)
            abort();
        unsigned m = 0;
        if (WJ_BigInt_IntToBytes(nullptr, &m, a) != 0 || m == 0) abort();
    }
    WJ_BigInt_Free(a);
    return 0;
}
