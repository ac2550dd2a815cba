/* A plain C99 program that knows Ostrel only through its installed header and library. */
#include <stdio.h>
#include <string.h>

#include "suite_io.h"

int main(void) {
    BIN a = {0, NULL}, b = {0, NULL};
    HUGE h = {0, NULL};
    char *hex = NULL;
    unsigned int n = 0;
    const unsigned char data[] = {0xde, 0xad, 0xbe, 0xef};

    QRT_Trace_Initialize();
    if (strcmp(QRT_IO_GetVersion(), "1.7.0.0") != 0 || QRT_IO_CheckVersion("1.5.1.0") != 0) return 1;
    if (QRT_BIN_Set(&a, data, 4) != 0 || QRT_BIN_Copy(&b, &a) != 0 || QRT_BIN_Cmp(&a, &b) != 0) return 2;
    if (QRT_BinToHex(b.value, (int)b.length, &hex) != 0 || strcmp(hex, "deadbeef") != 0) return 3;
    if (QRT_NumToHuge(128, &h) != 0 || h.length != 2 || QRT_HugeToNum(&h, &n) != 0 || n != 128) return 4;
    if (QRT_HugeToNum(NULL, &n) != QRT_IO_INVALID_INPUT) return 5;
    if (strcmp(QRT_IO_GetErrorReason(8032, 1), "file not found") != 0) return 6;
    QRT_BIN_Reset(&a);
    if (QRT_File_ReadBin(&a, "/nonexistent/ostrel") != 8032) return 7;
    QRT_Trace_ClearError();
    QRT_free(hex);
    QRT_free(h.value);
    QRT_BIN_Reset(&a);
    QRT_BIN_Reset(&b);
    QRT_Trace_Finalize();
    puts("consumer ok");
    return 0;
}
