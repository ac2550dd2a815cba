// Directory-fetching text handling on hostile text: the input, split at zero bytes, gives a
// server URL, a name, a distribution point URL, a DN and a text, and its remaining parts are the
// values of a directory answer. The URI must stay inside its 1024-byte buffer, split URLs must be
// parts of the input, the post-processed answer must hold at most 64 values with no two equal
// neighbours.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "suite_pvd_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0)
            parts.emplace_back();
        else
            parts.back().push_back(static_cast<char>(data[i]));
    }
    while (parts.size() < 5) parts.emplace_back();

    // the URI, with a guard behind the buffer
    struct {
        char dst[PVD_URI_MAX];
        char guard[32];
    } g;
    std::memset(&g, 0x5a, sizeof g);
    const char *server = parts[0].empty() ? nullptr : parts[0].c_str();
    if (QRT_PVD_EncodeURI(g.dst, server, parts[1].c_str(), parts[2].c_str()) == 0 && std::strlen(g.dst) >= PVD_URI_MAX)
        abort();
    for (char c : g.guard)
        if (c != 0x5a) abort();

    char *srv = nullptr, *dn = nullptr;
    if (QRT_PVD_CRLDP_Decode(&srv, &dn, parts[2].c_str()) == 0) {
        if (!srv || !dn || parts[2].find(srv) != 0 || parts[2].find(dn) == std::string::npos) abort();
    } else if (srv || dn) {
        abort();
    }
    QRT_free(srv);
    QRT_free(dn);

    QRT_PVD_IsDNRelated(parts[3].c_str(), parts[4].c_str());

    // a directory answer of the remaining parts (and of the whole input as one value)
    ZQ_BIN_LIST head{};
    BIN whole{static_cast<unsigned>(size), const_cast<uint8_t *>(data)};
    if (size) QRT_BIN_Copy(&head.value, &whole);
    for (size_t i = 5; i < parts.size(); ++i) {
        BIN v{static_cast<unsigned>(parts[i].size()),
              reinterpret_cast<unsigned char *>(const_cast<char *>(parts[i].data()))};
        if (!v.length) continue;
        if (!head.value.value)
            QRT_BIN_Copy(&head.value, &v);
        else
            QRT_BIN_LIST_Add(&head.next, &v);
    }
    if (QRT_PVD_LDAP_ObjList_PostProcess(&head) == 0) {
        int n = 0;
        for (ZQ_BIN_LIST *p = &head; p; p = p->next, ++n)
            if (p->next && QRT_BIN_Cmp(&p->value, &p->next->value) == 0) abort();
        if (n > PVD_LDAP_MAX_VALUES) abort();
    }
    QRT_BIN_LIST_Reset(&head);
    return 0;
}
