// The identity-data readers on any bytes: as a subjectAltName value and as IdentifyData itself.
// Outputs are whole or empty; everything handed out is released, so a leak on any path shows.
#include <cstddef>
#include <cstdint>

#include "suite_pkc.h"

namespace {

void check(int rc, char *name, int hashID, BIN &vid) {
    bool filled = name && vid.value && hashID > 0;
    bool empty = !name && !vid.value && hashID == -1;
    if (rc == 0 ? !filled : !empty) __builtin_trap();
    QRT_free(name);
    QRT_BIN_Reset(&vid);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    BIN in{static_cast<unsigned>(size), const_cast<uint8_t *>(data)};
    char *name = nullptr;
    int hashID = 0;
    BIN vid{0, nullptr};
    check(QRT_PKC_SubAltName_Decode(&name, &hashID, &vid, &in), name, hashID, vid);
    check(QRT_PKC_IdentityData_Decode(&name, &hashID, &vid, &in), name, hashID, vid);

    Extensions_ node{};
    node.value.extnID = id_ce_subjectAltName;
    node.value.extnValue = in;
    char realName[16], vidHex[65], hashName[8];
    QRT_GetVID(realName, sizeof realName, vidHex, sizeof vidHex, hashName, sizeof hashName, &node);
    return 0;
}
