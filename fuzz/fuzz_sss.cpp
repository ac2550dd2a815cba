// Outside share information and shares handed to recovery. Input: scheme byte, 2-byte length
// and the share information, then shares as 2-byte length and bytes. Recovery must end with a
// secret of the stated length or a clean error, never a crash, a leak or a read past the input.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "ostrel/reader.hpp"
#include "suite_sss.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    ostrel::Reader r(data, size);
    uint8_t scheme = 0;
    uint16_t info_len = 0;
    ostrel::Reader info;
    if (!r.u8(scheme) || !r.be16(info_len) || !r.sub(info_len, info)) return 0;
    ZQ_SSS_SHARE *set = QRT_SSS_CreateShare();
    if (!set) return 0;
    ZQ_SSS_BLIST **tail = &set->list;
    uint16_t len = 0;
    ostrel::Reader share;
    while (set->num < 64 && r.be16(len) && r.sub(len, share)) {
        ZQ_SSS_BLIST *node = QRT_SSS_BLIST_New(len);
        if (!node) break;
        if (len) std::memcpy(node->data, share.data(), len);
        *tail = node;
        tail = &node->next;
        ++set->num;
    }
    BIN in{static_cast<unsigned>(info.remaining()), const_cast<unsigned char *>(info.data())};
    BIN secret{0, nullptr};
    int rc = QRT_SSS_RecoverSecret(&secret, set, scheme & 3, &in);
    if (rc == 0 && (!secret.value || secret.length == 0)) __builtin_trap();
    if (rc != 0 && secret.value) __builtin_trap();
    QRT_BIN_Reset(&secret);
    QRT_SSS_DestroyShare(set);
    return 0;
}
