/* A C99 program that links only the provider: the crypto core that computes the digest and the
 * I/O core must come along through the provider's own RUNPATH, wherever the prefix is. */
#include <stdio.h>
#include <string.h>

#include "suite_csp.h"

int main(void) {
    static const unsigned char abc_sha256[32] = {
        0xba, 0x78, 0x16, 0xbf, 0x8f, 0x01, 0xcf, 0xea, 0x41, 0x41, 0x40, 0xde, 0x5d, 0xae, 0x22, 0x23,
        0xb0, 0x03, 0x61, 0xa3, 0x96, 0x17, 0x7a, 0x9c, 0xb4, 0x10, 0xff, 0x61, 0xf2, 0x00, 0x15, 0xad};
    unsigned char abc[3] = {'a', 'b', 'c'};
    BIN in = {3, abc}, out = {0, NULL};

    if (QRT_CSP_CheckVersion(NULL) != 0) return 1;
    if (QRT_CSP_Hash(&out, &in, QRT_CSP_HASH_SHA256) != 0) return 2;
    if (out.length != 32 || memcmp(out.value, abc_sha256, 32) != 0) return 3;
    QRT_BIN_Reset(&out);
    puts("csp consumer ok");
    return 0;
}
