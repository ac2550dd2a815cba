// Validation objects from any bytes: the same input loaded as a certificate, a CRL and a trust
// list. A failed load must leave the record empty; a load that succeeds must hold everything the
// later steps read; release must be clean (ASan). Seeds: PKITS certificates and CRLs, trust lists.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "suite_pvd_internal.h"

namespace {

bool empty(const ZQ_PVD_InterObject &o) {
    static const ZQ_PVD_InterObject zero{};
    return std::memcmp(&o, &zero, sizeof o) == 0;
}

void check(int rc, const ZQ_PVD_InterObject &o, bool cert, bool crl) {
    if (rc != 0) {
        if (!empty(o)) abort();
        return;
    }
    if (!o.encObj.value || !o.pAsnObj || !o.issuerDN) abort();
    if (cert && (!o.subjectDN || !o.serialHex ||
                 (o.typeID != PVD_TYPE_CERT && o.typeID != PVD_TYPE_CA && o.typeID != PVD_TYPE_ROOT)))
        abort();
    if (crl && (o.subjectDN || o.typeID != PVD_TYPE_CRL || (o.indirect && !o.issuingDP))) abort();
    if (!cert && !crl && (!o.signedData || !o.signerID || o.typeID != PVD_TYPE_CTL)) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (!size) return 0;
    BIN in{static_cast<unsigned>(size), const_cast<uint8_t *>(data)};
    ZQ_PVD_InterObject o{};
    check(QRT_PVD_InterObject_SetCert(&o, &in, 0, PVD_SOURCE_LDAP), o, true, false);
    check(QRT_PVD_InterObject_SetCRL(&o, &in, 0, PVD_SOURCE_LDAP), o, false, true);
    check(QRT_PVD_InterObject_SetCTL(&o, &in, "cn=fuzz", PVD_SOURCE_LDAP), o, false, false);
    QRT_PVD_InterObject_Reset(&o);

    // through the input lists, and handed on as the public records
    ZQ_PVD_ObjectList node{};
    node.value.encObj = in;
    for (int type : {PVD_TYPE_CA, PVD_TYPE_CRL, PVD_TYPE_CTL}) {
        ZQ_PVD_InterObjectList *list = nullptr;
        if (QRT_PVD_InterObjectList_FromObjList(&list, &node, type) == 0) {
            ZQ_PVD_ObjectList *out = nullptr;
            if (QRT_PVD_InterObjectList_ToObjList(list, &out) == 0) QRT_PVD_ObjectList_Free(out);
        } else if (list) {
            abort();
        }
        QRT_PVD_InterObjectList_Free(list);
    }
    return 0;
}
