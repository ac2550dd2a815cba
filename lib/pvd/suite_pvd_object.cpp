// The object records a validation works on: each certificate, CRL or trust list is decoded once
// and keeps what the later steps read (DN texts, serial, derived type, distribution points,
// issuing distribution point, the opened signed data of a trust list). Loading builds into a
// local record and moves it out only when everything succeeded.
#include "ostrel/asn_tree.hpp"
#include "pvd_internal.h"
#include "suite_pkc.h"

namespace ostrel::pvd {
namespace {

// Owns a record under construction; released unless handed over.
struct Building {
    ZQ_PVD_InterObject o{};
    Building() = default;
    Building(const Building &) = delete;
    Building &operator=(const Building &) = delete;
    ~Building() { QRT_PVD_InterObject_Reset(&o); }
    void move_to(ZQ_PVD_InterObject *out) {
        *out = o;
        std::memset(&o, 0, sizeof o);
    }
};

// The DN text of a Name, or nullptr when it cannot be rendered.
char *dn_text(const Name &name) {
    char *out = nullptr;
    if (QRT_ExtractRDN(0, &name, &out) != 0) {
        QRT_free(out);
        return nullptr;
    }
    return out;
}

bool same_bytes(const Any &a, const Any &b) {
    return a.length == b.length && a.value && b.value && std::memcmp(a.value, b.value, a.length) == 0;
}

// Decodes an extension's value as pdu into *out (left NULL when the extension is absent); false
// when it is present and does not decode.
template <class T>
bool decode_ext(T **out, const Extensions exts, const ObjectID &oid, int pdu) {
    const Extension *ext = QRT_GetExtension(exts, &oid);
    if (!ext) return true;
    AsnTree<T> t(pdu);
    if (t.decode(&ext->extnValue) != 0 || !t) return false;
    *out = t.release();
    return true;
}

// basicConstraints present, decodable and cA TRUE.
bool is_ca(const Extensions exts) {
    BasicConstraints *bc = nullptr;
    if (!decode_ext(&bc, exts, id_ce_basicConstraints, BasicConstraints_PDU) || !bc) return false;
    bool ca = bc->cA != 0;
    QRT_ASN_FreePDU(bc, BasicConstraints_PDU);
    return ca;
}

int set_cert(ZQ_PVD_InterObject *out, const BIN &bin, int typeID, int source) {
    Building b;
    AsnTree<Certificate> cert(Certificate_PDU);
    if (cert.decode(&bin) != 0 || !cert) return QRT_PVD_CERT_INVALID;
    const TBSCertificate &tbs = cert->tbsCertificate;
    b.o.subjectDN = dn_text(tbs.subject);
    b.o.issuerDN = dn_text(tbs.issuer);
    if (!b.o.subjectDN || !b.o.issuerDN) return QRT_PVD_CERT_DN_INVALID;
    if (tbs.serialNumber.length == 0) {
        b.o.serialHex = dup_string("");
    } else if (QRT_BinToHex(tbs.serialNumber.value, tbs.serialNumber.length, &b.o.serialHex) != 0) {
        return QRT_PVD_MALLOC_FAILED;
    }
    b.o.selfSigned = same_bytes(tbs.issuer_encoded, tbs.subject_encoded) ? 1 : 0;
    if (!decode_ext(&b.o.crlDPs, tbs.extensions, id_ce_cRLDistributionPoints, CRLDistPointsSyntax_PDU))
        return QRT_PVD_CERT_EXT_INVALID;
    if (typeID == 0) {
        bool ca = is_ca(tbs.extensions);
        typeID = ca && b.o.selfSigned ? PVD_TYPE_ROOT : ca ? PVD_TYPE_CA : PVD_TYPE_CERT;
    }
    if (int rc = QRT_BIN_Copy(&b.o.encObj, &bin)) return rc == QRT_IO_MALLOC_FAILED ? QRT_PVD_MALLOC_FAILED : rc;
    b.o.typeID = typeID;
    b.o.source = source;
    b.o.pAsnObj = cert.release();
    b.move_to(out);
    return 0;
}

int set_crl(ZQ_PVD_InterObject *out, const BIN &bin, int typeID, int source) {
    Building b;
    AsnTree<CertificateList> crl(CertificateList_PDU);
    if (crl.decode(&bin) != 0 || !crl) return QRT_PVD_CRL_INVALID;
    const TBSCertList &tbs = crl->tbsCertList;
    b.o.issuerDN = dn_text(tbs.issuer);
    if (!b.o.issuerDN) return QRT_PVD_CRL_INVALID;
    if (!decode_ext(&b.o.issuingDP, tbs.crlExtensions, id_ce_issuingDistributionPoint, IssuingDistributionPoint_PDU))
        return QRT_PVD_CRL_INVALID;
    b.o.indirect = b.o.issuingDP && (b.o.issuingDP->bit_mask & IssuingDistributionPoint_indirectCRL_present) &&
                           b.o.issuingDP->indirectCRL
                       ? 1
                       : 0;
    if (int rc = QRT_BIN_Copy(&b.o.encObj, &bin)) return rc == QRT_IO_MALLOC_FAILED ? QRT_PVD_MALLOC_FAILED : rc;
    b.o.typeID = typeID;
    b.o.source = source;
    b.o.pAsnObj = crl.release();
    b.move_to(out);
    return 0;
}

struct SignedOwner {
    ZQ_PKCS7_SIGNED *sd = QRT_PKCS7_Signed_New();
    SignedOwner() {
        if (!sd) throw std::bad_alloc();
    }
    SignedOwner(const SignedOwner &) = delete;
    SignedOwner &operator=(const SignedOwner &) = delete;
    ~SignedOwner() { QRT_PKCS7_Signed_Free(sd); }
    ZQ_PKCS7_SIGNED *release() {
        ZQ_PKCS7_SIGNED *p = sd;
        sd = nullptr;
        return p;
    }
};

constexpr unsigned char kSequence = 0x30, kOctetString = 0x04, kConstructed = 0x20;

// The list's DER inside the signed data: the SEQUENCE itself (RFC 2315 carriage) or the octets of
// an OCTET STRING (CMS carriage).
int list_der(BinOwner &out, const ZQ_PKCS7_CONTENT &content) {
    const BIN &v = *content.value;
    if (v.value[0] == kSequence) return QRT_BIN_Copy(out.get(), &v) ? QRT_PVD_MALLOC_FAILED : 0;
    if ((v.value[0] & ~kConstructed) != kOctetString) return QRT_PVD_CTL_INVALID;
    if (QRT_PKCS7_Content_GetDigestMessage(out.get(), &content) != 0 || !has_bytes(out.get()))
        return QRT_PVD_CTL_INVALID;
    return 0;
}

int set_ctl(ZQ_PVD_InterObject *out, const BIN &bin, const char *name, int source) {
    Building b;
    SignedOwner sd;
    if (QRT_PKCS7_Signed_DecodeBin(sd.sd, &bin, 0) != 0) return QRT_PVD_CTL_INVALID;
    const ZQ_PKCS7_CONTENT &content = sd.sd->content;
    if (content.typeID != QRT_PKCS7_CTL || !has_bytes(content.value)) return QRT_PVD_CTL_INVALID;
    BinOwner der;
    if (int rc = list_der(der, content)) return rc;
    AsnTree<CertificateTrustList> list(CertificateTrustList_PDU);
    if (list.decode(der.get()) != 0 || !list) return QRT_PVD_CTL_INVALID;
    // the first signer, named by issuer and serial number
    const ZQ_PKCS7_SIGNER_INFO *first = sd.sd->signerInfos.first;
    if (!first || !has_bytes(first->issuerAndSerial)) return QRT_PVD_CTL_INVALID;
    AsnTree<IssuerAndSerialNumber> signer(IssuerAndSerialNumber_PDU);
    if (signer.decode(first->issuerAndSerial) != 0 || !signer) return QRT_PVD_CTL_INVALID;
    b.o.issuerDN = dn_text(signer->issuer);
    if (!b.o.issuerDN) return QRT_PVD_CTL_INVALID;
    if (name) b.o.subjectDN = dup_string(name);
    if (int rc = QRT_BIN_Copy(&b.o.encObj, &bin)) return rc == QRT_IO_MALLOC_FAILED ? QRT_PVD_MALLOC_FAILED : rc;
    b.o.typeID = PVD_TYPE_CTL;
    b.o.source = source;
    b.o.pAsnObj = list.release();
    b.o.signedData = sd.release();
    b.o.signerID = signer.release();
    b.move_to(out);
    return 0;
}

void reset_inter(ZQ_PVD_InterObject &o) {
    QRT_BIN_Reset(&o.encObj);
    if (o.pAsnObj)
        if (int pdu = pdu_of_type(o.typeID)) QRT_ASN_FreePDU(o.pAsnObj, pdu);
    QRT_free(o.subjectDN);
    QRT_free(o.issuerDN);
    QRT_free(o.serialHex);
    if (o.crlDPs) QRT_ASN_FreePDU(o.crlDPs, CRLDistPointsSyntax_PDU);
    if (o.issuingDP) QRT_ASN_FreePDU(o.issuingDP, IssuingDistributionPoint_PDU);
    QRT_PKCS7_Signed_Free(o.signedData);
    if (o.signerID) QRT_ASN_FreePDU(o.signerID, IssuerAndSerialNumber_PDU);
    std::memset(&o, 0, sizeof o);
}

// Loads one node of a caller's list as kind typeID (see FromObjList).
int load_node(ZQ_PVD_InterObject *o, const ZQ_PVD_Object &in, int typeID) {
    if (typeID == PVD_TYPE_CRL) return QRT_PVD_InterObject_SetCRL(o, &in.encObj, PVD_TYPE_CRL, PVD_SOURCE_INPUT);
    if (typeID == PVD_TYPE_CTL || in.typeID == PVD_TYPE_CTL)
        return QRT_PVD_InterObject_SetCTL(o, &in.encObj, nullptr, PVD_SOURCE_INPUT);
    return QRT_PVD_InterObject_SetCert(o, &in.encObj, 0, PVD_SOURCE_INPUT);
}

void free_list(ZQ_PVD_InterObjectList *list) { QRT_PVD_InterObjectList_Free(list); }

// Simple comparison: equal bytes, or equal with spaces removed and a-z made A-Z.
std::string folded(const char *s, int n) {
    std::string out;
    out.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        char c = s[i];
        if (c == ' ') continue;
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        out.push_back(c);
    }
    return out;
}

}  // namespace
}  // namespace ostrel::pvd

using namespace ostrel::pvd;

extern "C" {

QRT_API int QRT_PVD_InterObject_SetCert(ZQ_PVD_InterObject *obj, const BIN *bin, const int typeID, const int source) {
    if (!obj || !has_bytes(bin)) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    reset_inter(*obj);
    if (typeID != 0 && typeID != PVD_TYPE_CERT && typeID != PVD_TYPE_CA && typeID != PVD_TYPE_ROOT)
        return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    return PVD_FAIL(contained([&] { return set_cert(obj, *bin, typeID, source); }));
}

QRT_API int QRT_PVD_InterObject_SetCRL(ZQ_PVD_InterObject *obj, const BIN *bin, const int typeID, const int source) {
    if (!obj || !has_bytes(bin)) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    reset_inter(*obj);
    int type = typeID == 0 ? PVD_TYPE_CRL : typeID;
    if (type != PVD_TYPE_CRL && type != PVD_TYPE_ARL && type != PVD_TYPE_CRL_OTHER)
        return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    return PVD_FAIL(contained([&] { return set_crl(obj, *bin, type, source); }));
}

QRT_API int QRT_PVD_InterObject_SetCTL(ZQ_PVD_InterObject *obj, const BIN *bin, const char *name, const int source) {
    if (!obj || !has_bytes(bin)) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    reset_inter(*obj);
    return PVD_FAIL(contained([&] { return set_ctl(obj, *bin, name, source); }));
}

QRT_API void QRT_PVD_InterObject_Reset(ZQ_PVD_InterObject *obj) {
    if (obj) reset_inter(*obj);
}

QRT_API ZQ_PVD_InterObjectList *QRT_PVD_InterObjectList_New(void) {
    return static_cast<ZQ_PVD_InterObjectList *>(QRT_calloc(1, sizeof(ZQ_PVD_InterObjectList)));
}

QRT_API void QRT_PVD_InterObjectList_Reset(ZQ_PVD_InterObjectList *list) {
    if (!list) return;
    ZQ_PVD_InterObjectList *p = list->next;
    while (p) {
        ZQ_PVD_InterObjectList *next = p->next;
        reset_inter(p->value);
        QRT_free(p);
        p = next;
    }
    reset_inter(list->value);
    list->next = nullptr;
}

QRT_API void QRT_PVD_InterObjectList_Free(ZQ_PVD_InterObjectList *list) {
    if (!list) return;
    QRT_PVD_InterObjectList_Reset(list);
    QRT_free(list);
}

QRT_API int QRT_PVD_InterObjectList_FromObjList(ZQ_PVD_InterObjectList **out, const ZQ_PVD_ObjectList *list,
                                                const int typeID) {
    if (!out) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    *out = nullptr;
    if (typeID != PVD_TYPE_CERT && typeID != PVD_TYPE_CA && typeID != PVD_TYPE_ROOT && typeID != PVD_TYPE_CRL &&
        typeID != PVD_TYPE_CTL)
        return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    ZQ_PVD_InterObjectList *head = nullptr, **tail = &head;
    for (const ZQ_PVD_ObjectList *p = list; p; p = p->next) {
        if (!has_bytes(&p->value.encObj)) continue;
        auto *node = QRT_PVD_InterObjectList_New();
        if (!node) {
            free_list(head);
            return PVD_FAIL(QRT_PVD_MALLOC_FAILED);
        }
        *tail = node;
        tail = &node->next;
        if (int rc = load_node(&node->value, p->value, typeID)) {
            free_list(head);
            return PVD_FAIL(rc);
        }
    }
    *out = head;
    return 0;
}

QRT_API int QRT_PVD_InterObjectList_ToObjList(ZQ_PVD_InterObjectList *list, ZQ_PVD_ObjectList **out) {
    if (!out) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    *out = nullptr;
    // allocate every node first, so a failure moves nothing
    size_t n = 0;
    for (ZQ_PVD_InterObjectList *p = list; p; p = p->next) ++n;
    ZQ_PVD_ObjectList *head = nullptr, **tail = &head;
    for (size_t i = 0; i < n; ++i) {
        *tail = QRT_PVD_ObjectList_New();
        if (!*tail) {
            QRT_PVD_ObjectList_Free(head);
            return PVD_FAIL(QRT_PVD_MALLOC_FAILED);
        }
        tail = &(*tail)->next;
    }
    ZQ_PVD_ObjectList *o = head;
    for (ZQ_PVD_InterObjectList *p = list; p; p = p->next, o = o->next) {
        o->value.typeID = p->value.typeID;
        o->value.encObj = p->value.encObj;
        o->value.pAsnObj = p->value.pAsnObj;
        p->value.encObj = BIN{0, nullptr};
        p->value.pAsnObj = nullptr;
    }
    *out = head;
    return 0;
}

QRT_API int QRT_PVD_InterObjectList_GetCert(const ZQ_PVD_InterObjectList *list, BIN *out, const char *dn,
                                            const int typeID) {
    if (!out || !dn) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    *out = BIN{0, nullptr};
    int dnlen = static_cast<int>(std::strlen(dn));
    for (const ZQ_PVD_InterObjectList *p = list; p; p = p->next) {
        const ZQ_PVD_InterObject &o = p->value;
        if (o.typeID != typeID || !o.subjectDN) continue;
        if (QRT_PVD_String_SimpleCompare(o.subjectDN, static_cast<int>(std::strlen(o.subjectDN)), dn, dnlen) != 0)
            continue;
        if (QRT_BIN_Copy(out, &o.encObj)) return PVD_FAIL(QRT_PVD_MALLOC_FAILED);
        return 0;
    }
    return QRT_PVD_CERT_NOT_FOUND;
}

QRT_API const ZQ_PVD_InterObject *QRT_PVD_InterObjectList_FindCRL(const ZQ_PVD_InterObjectList *list, const char *dn) {
    if (!dn) return nullptr;
    for (const ZQ_PVD_InterObjectList *p = list; p; p = p->next) {
        const ZQ_PVD_InterObject &o = p->value;
        if (o.issuerDN && o.pAsnObj && pdu_of_type(o.typeID) == CertificateList_PDU && std::strcmp(o.issuerDN, dn) == 0)
            return &o;
    }
    return nullptr;
}

QRT_API int QRT_PVD_InterObjectList_GetCRL(const ZQ_PVD_InterObjectList *list, BIN *out, const char *dn) {
    if (!out || !dn) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    *out = BIN{0, nullptr};
    const ZQ_PVD_InterObject *o = QRT_PVD_InterObjectList_FindCRL(list, dn);
    if (!o) return QRT_PVD_CRL_NOT_FOUND;
    if (QRT_BIN_Copy(out, &o->encObj)) return PVD_FAIL(QRT_PVD_MALLOC_FAILED);
    return 0;
}

QRT_API int QRT_PVD_String_SimpleCompare(const char *a, int alen, const char *b, int blen) {
    if (!a || !b || alen < 0 || blen < 0) return -1;
    if (alen == blen && std::memcmp(a, b, static_cast<size_t>(alen)) == 0) return 0;
    int rc = -1;
    contained([&] {
        rc = folded(a, alen) == folded(b, blen) ? 0 : -1;
        return 0;
    });
    return rc;
}

}  // extern "C"
