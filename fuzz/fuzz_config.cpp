// Arbitrary bytes as a configuration file: reading must never overrun the line or token
// limits, must agree with parsing the same lines one by one, and must release everything.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "suite_config.h"

namespace {

// The same file read line by line through the public step functions.
int read_stepwise(FILE *f, ZQ_ENV_LIST **out) {
    ZQ_ENV_LIST *list = nullptr;
    if (int r = QRT_InitEnvListElement(&list)) return r;
    long offset = 0;
    for (;;) {
        char *line = nullptr;
        int r = QRT_GetOneLine(f, offset, &line);
        if (r == QRT_CONFIG_NO_VALUE) break;
        if (r) {
            QRT_FreeEnvList(list);
            return r;
        }
        if (strlen(line) > QRT_CONFIG_MAX_LINE) __builtin_trap();
        offset = ftell(f);
        r = QRT_ParseLine(list, line);
        QRT_free(line);
        if (r) {
            QRT_FreeEnvList(list);
            return r;
        }
    }
    *out = list;
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 100000) return 0;
    int fd = memfd_create("config", 0);
    if (fd < 0) return 0;
    if (write(fd, data, size) != static_cast<ssize_t>(size)) {
        close(fd);
        return 0;
    }
    char path[64];
    snprintf(path, sizeof path, "/proc/self/fd/%d", fd);

    ZQ_ENV_LIST *whole = nullptr;
    int r1 = QRT_ReadConfigFile(path, &whole);
    FILE *f = fopen(path, "r");
    ZQ_ENV_LIST *steps = nullptr;
    int r2 = f ? read_stepwise(f, &steps) : r1;
    if (f) fclose(f);
    if (r1 != r2) __builtin_trap();
    if (r1 == 0) {
        ZQ_ENV_LIST *a = whole, *b = steps;
        for (; a && b; a = a->next, b = b->next) {
            if (!a->key != !b->key || (a->key && strcmp(a->key, b->key) != 0)) __builtin_trap();
            if (a->key && strlen(a->key) > QRT_CONFIG_MAX_TOKEN) __builtin_trap();
            if (a->key && QRT_SearchKeyFromEnvList(whole, a->key) != a) __builtin_trap();  // keys are unique
            ZQ_VALUE_LIST *va = QRT_FirstValueElement(a), *vb = QRT_FirstValueElement(b);
            for (; va && vb; va = va->next, vb = vb->next)
                if (strcmp(va->value, vb->value) != 0 || strlen(va->value) > QRT_CONFIG_MAX_TOKEN) __builtin_trap();
            if (va || vb) __builtin_trap();
        }
        if (a || b) __builtin_trap();
    }
    QRT_FreeEnvList(whole);
    QRT_FreeEnvList(steps);
    close(fd);
    return 0;
}
