// The whole-file API: a single key with its certificates, or the list form of many entries, to a
// PFX and back; shrouded keys; the records of the list form.
#include "pkcs12_internal.h"
#include "suite_pkcs8.h"

using namespace ostrel;
using namespace ostrel::pkcs12;

namespace {

using namespace ostrel::tlv;

// A key handed in: shrouded when it reads as EncryptedPrivateKeyInfo, else a PrivateKeyInfo,
// which must at least be a SEQUENCE.
int key_bag(Bag &bag, const BIN *key) {
    Span s = span_of(key);
    Reader r(s.p, s.n), body;
    if (read_tlv(r, kSequence, body, Profile::kBer) || !r.empty()) return QRT_PKCS12_BAD_KEY;
    bag.bagID = QRT_PKCS12_IsSHKey(key) ? QRT_PKCS12_BAG_SHROUDEDKEY : QRT_PKCS12_BAG_KEY;
    bag.value.assign(s.p, s.p + s.n);
    return 0;
}

void value_bag(std::vector<Bag> &bags, int bagID, Span v) {
    Bag b;
    b.bagID = bagID;
    b.value.assign(v.p, v.p + v.n);
    bags.push_back(std::move(b));
}

// localKeyId of the n-th pair: n as a 32-bit little-endian integer.
void set_key_id(Bag &b, uint32_t n) {
    b.localKeyId = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n >> 16),
                    static_cast<uint8_t>(n >> 24)};
    b.hasLocalKeyId = true;
}

bool listed(const std::vector<Bag> &bags, int bagID, Span v) {
    for (const Bag &b : bags)
        if (b.bagID == bagID && span_of(b.value) == v) return true;
    return false;
}

// The bags of the list form: per entry its key and certificate (sharing localKeyId n), then the
// further certificates and CRLs of all entries, each once.
int bags_of_list(std::vector<Bag> &bags, const ZQ_PKCS12_PARAM *list) {
    uint32_t n = 0;
    for (const ZQ_PKCS12_PARAM *e = list; e; e = e->next) {
        ++n;
        bool pair = has_bytes(e->key) && has_bytes(e->cert);
        if (has_bytes(e->key)) {
            Bag k;
            if (int rc = key_bag(k, e->key)) return rc;
            if (pair) set_key_id(k, n);
            if (has_bytes(e->friendlyName)) {
                k.friendlyName.assign(e->friendlyName->value, e->friendlyName->value + e->friendlyName->length);
                k.hasFriendlyName = true;
            }
            bags.push_back(std::move(k));
        }
        if (has_bytes(e->cert)) {
            Bag c;
            c.bagID = QRT_PKCS12_BAG_CERT;
            c.value.assign(e->cert->value, e->cert->value + e->cert->length);
            if (pair) set_key_id(c, n);
            if (pair && has_bytes(e->friendlyName)) {
                c.friendlyName.assign(e->friendlyName->value, e->friendlyName->value + e->friendlyName->length);
                c.hasFriendlyName = true;
            }
            bags.push_back(std::move(c));
        }
    }
    for (const ZQ_PKCS12_PARAM *e = list; e; e = e->next) {
        for (const ZQ_BIN_LIST *c = e->certs; c; c = c->next)
            if (has_bytes(&c->value) && !listed(bags, QRT_PKCS12_BAG_CERT, span_of(&c->value)))
                value_bag(bags, QRT_PKCS12_BAG_CERT, span_of(&c->value));
        for (const ZQ_BIN_LIST *c = e->crls; c; c = c->next)
            if (has_bytes(&c->value) && !listed(bags, QRT_PKCS12_BAG_CRL, span_of(&c->value)))
                value_bag(bags, QRT_PKCS12_BAG_CRL, span_of(&c->value));
    }
    if (bags.empty()) return QRT_PKCS12_NO_BAG;
    return 0;
}

// Owners for the list and the certificate set.
struct ListOwner {
    ZQ_PKCS12_PARAM *head = nullptr;
    ~ListOwner() { QRT_PKCS12_Param_Free(head); }
};
struct SetOwner {
    ZQ_PKCS7_BIN_SET *set = nullptr;
    ~SetOwner() { QRT_PKCS7_BIN_SET_Free(set); }
};

BIN *new_bin(Span s) {
    BIN *b = QRT_BIN_New();
    if (!b) throw std::bad_alloc();
    if (!bin_assign(b, s)) {
        QRT_BIN_Free(b);
        throw std::bad_alloc();
    }
    return b;
}

void list_add(ZQ_BIN_LIST **head, Span s) {
    BIN b = {static_cast<unsigned>(s.n), const_cast<uint8_t *>(s.p)};
    if (QRT_BIN_LIST_Add(head, &b) != 0) throw std::bad_alloc();
}

int cert_set(SetOwner &set, const Content &c) {
    for (const Bag &b : c.bags) {
        if (b.bagID != QRT_PKCS12_BAG_CERT) continue;
        BIN v = {static_cast<unsigned>(b.value.size()), const_cast<uint8_t *>(b.value.data())};
        if (QRT_PKCS7_BIN_SET_Add(&set.set, &v) != 0) return QRT_PKCS12_MALLOC_FAILED;
    }
    return 0;
}

// The certificate paired with a key bag by localKeyId, or nullptr.
const Bag *paired_cert(const Content &c, const Bag &key) {
    if (!key.hasLocalKeyId) return nullptr;
    for (const Bag &b : c.bags)
        if (b.bagID == QRT_PKCS12_BAG_CERT && b.hasLocalKeyId && b.localKeyId == key.localKeyId) return &b;
    return nullptr;
}

bool is_key(const Bag &b) { return b.bagID == QRT_PKCS12_BAG_KEY || b.bagID == QRT_PKCS12_BAG_SHROUDEDKEY; }

int list_of_content(ZQ_PKCS12_PARAM **out, const Content &c) {
    if (c.bags.empty()) return QRT_PKCS12_NO_BAG;
    SetOwner set;
    if (int rc = cert_set(set, c)) return rc;
    ListOwner list;
    ZQ_PKCS12_PARAM **tail = &list.head;
    std::vector<Span> used;
    for (const Bag &k : c.bags) {
        if (!is_key(k)) continue;
        ZQ_PKCS12_PARAM *e = QRT_PKCS12_Param_New();
        if (!e) return QRT_PKCS12_MALLOC_FAILED;
        *tail = e;
        tail = &e->next;
        e->key = new_bin(span_of(k.value));
        if (k.hasFriendlyName) e->friendlyName = new_bin(span_of(k.friendlyName));
        const Bag *cert = paired_cert(c, k);
        if (!cert) continue;
        e->cert = new_bin(span_of(cert->value));
        used.push_back(span_of(cert->value));
        // its chain among the file's certificates (a self-signed one has no parent), at most as
        // long as the set
        BIN cur = *e->cert;
        int steps = QRT_PKCS7_BIN_SET_Count(set.set);
        BinOwner parent, prev;
        while (steps-- > 0) {
            QRT_BIN_Reset(parent.get());
            if (QRT_PKCS7_Certs_GetParent(parent.get(), set.set, &cur) != 0) break;
            list_add(&e->certs, span_of(parent.get()));
            used.push_back(span_of(parent.get()));
            QRT_BIN_Reset(prev.get());
            *prev = parent.release();
            cur = *prev;
        }
    }
    // certificates in no entry and the CRLs: to the first entry, or one of their own
    ZQ_PKCS12_PARAM *first = list.head;
    for (const Bag &b : c.bags) {
        if (b.bagID != QRT_PKCS12_BAG_CERT && b.bagID != QRT_PKCS12_BAG_CRL) continue;
        Span v = span_of(b.value);
        bool taken = false;
        if (b.bagID == QRT_PKCS12_BAG_CERT)
            for (const ZQ_PKCS12_PARAM *e = list.head; e && !taken; e = e->next) {
                if (e->cert && span_of(e->cert) == v) taken = true;
                for (const ZQ_BIN_LIST *x = e->certs; x && !taken; x = x->next) taken = span_of(&x->value) == v;
            }
        if (taken) continue;
        if (!first) {
            first = QRT_PKCS12_Param_New();
            if (!first) return QRT_PKCS12_MALLOC_FAILED;
            *tail = first;
            tail = &first->next;
        }
        list_add(b.bagID == QRT_PKCS12_BAG_CERT ? &first->certs : &first->crls, v);
    }
    *out = list.head;
    list.head = nullptr;
    return 0;
}

int decode_single(BIN *key, BIN *cert, BIN *caCert, BIN *rootCert, BIN *crl, const Content &c) {
    const Bag *k = nullptr;
    for (int want : {QRT_PKCS12_BAG_KEY, QRT_PKCS12_BAG_SHROUDEDKEY}) {
        for (const Bag &b : c.bags)
            if (b.bagID == want) {
                k = &b;
                break;
            }
        if (k) break;
    }
    if (!k) return QRT_PKCS12_NO_BAG;
    BinOwner okey, ocert, oca, oroot, ocrl;
    if (!bin_assign(okey.get(), span_of(k->value))) return QRT_PKCS12_MALLOC_FAILED;
    const Bag *user = paired_cert(c, *k);
    if (user && !bin_assign(ocert.get(), span_of(user->value))) return QRT_PKCS12_MALLOC_FAILED;
    if (user && (caCert || rootCert)) {
        SetOwner set;
        if (int rc = cert_set(set, c)) return rc;
        if (QRT_PKCS7_Certs_GetParent(oca.get(), set.set, ocert.get()) != 0)
            QRT_BIN_Reset(oca.get());
        else if (rootCert && QRT_PKCS7_Certs_GetParent(oroot.get(), set.set, oca.get()) != 0)
            QRT_BIN_Reset(oroot.get());
    }
    if (crl)
        for (const Bag &b : c.bags)
            if (b.bagID == QRT_PKCS12_BAG_CRL) {
                if (!bin_assign(ocrl.get(), span_of(b.value))) return QRT_PKCS12_MALLOC_FAILED;
                break;
            }
    if (key) okey.release_to(key);
    if (cert) ocert.release_to(cert);
    if (caCert) oca.release_to(caCert);
    if (rootCert) oroot.release_to(rootCert);
    if (crl) ocrl.release_to(crl);
    return 0;
}

void clear_outputs(std::initializer_list<BIN *> outs) {
    for (BIN *b : outs)
        if (b) *b = BIN{0, nullptr};
}

// Empties outputs filled before a failure.
void reset_outputs(std::initializer_list<BIN *> outs) {
    for (BIN *b : outs)
        if (b) QRT_BIN_Reset(b);
}

void free_bin(BIN *&b) {
    if (b) QRT_BIN_Free(b);
    b = nullptr;
}

}  // namespace

namespace ostrel::pkcs12 {

int seal_key(SecBytes &out, int pbeID, Span pki, const BIN *password) {
    ZQ_PKCS5_PBES_ALGID s{};
    if (pbeID == QRT_PKCS12_PBE_PBES2_AES256) {
        s.pbesID = QRT_PKCS5_PBES2;
        s.pbes2Param.kdfID = QRT_PKCS5_KDF_PBKDF2;
        s.pbes2Param.prfID = QRT_PKCS5_PRF_HMAC_SHA256;
        s.pbes2Param.encID = QRT_PKCS5_ENC_AES256_CBC;
    } else if (!(s.pbesID = pbes_of_pbe(pbeID))) {
        return QRT_PKCS12_UNKNOWN_PBEID;
    }
    Reader r(pki.p, pki.n), body;
    if (read_tlv(r, kSequence, body, Profile::kBer) || !r.empty()) return QRT_PKCS12_BAD_KEY;
    BIN plain{static_cast<unsigned>(pki.n), const_cast<uint8_t *>(pki.p)};
    BinOwner alg, cipher;
    if (int rc = QRT_PKCS5_EncryptData(alg.get(), cipher.get(), &s, &plain, password)) return rc;
    SecBytes seq;
    put_raw(seq, span_of(alg.get()));
    put_tlv(seq, kOctetString, span_of(cipher.get()));
    put_tlv(out, kSequence, seq);
    return 0;
}

int open_key(BIN *pki, Span epki, const BIN *password) {
    Reader r(epki.p, epki.n), body, alg, whole, oct;
    uint8_t tag = 0;
    if (read_tlv(r, kSequence, body, Profile::kBer) || !r.empty() || read_any(body, tag, alg, &whole, Profile::kBer) ||
        tag != kSequence || read_tlv(body, kOctetString, oct, Profile::kBer) || !body.empty())
        return QRT_PKCS12_BAD_SHKEY;
    BIN a{static_cast<unsigned>(whole.remaining()), const_cast<uint8_t *>(whole.data())};
    BIN c{static_cast<unsigned>(oct.remaining()), const_cast<uint8_t *>(oct.data())};
    BIN pw{password->length, password->value};
    ZQ_PKCS5_PBES_ALGID scheme{};
    BinOwner plain;
    int rc = QRT_PKCS5_DecryptData(&scheme, plain.get(), &a, &c, &pw);
    if (rc && rc != QRT_PKCS5_BAD_ALGORITHM_PARAMETER && pw.length == 0) {
        SecBytes bare;
        if (decrypt_bare(bare, Span{whole.data(), whole.remaining()}, Span{oct.data(), oct.remaining()}) == 0 &&
            bin_assign(plain.get(), span_of(bare)))
            rc = 0;
    }
    if (rc) return pbe_failure(rc, QRT_PKCS12_INVALID_PASSWORD);
    // a wrong password that happens to leave valid padding gives no PrivateKeyInfo
    Reader p(plain->value, plain->length), pbody;
    if (read_tlv(p, kSequence, pbody, Profile::kBer) || !p.empty()) return QRT_PKCS12_INVALID_PASSWORD;
    plain.release_to(pki);
    return 0;
}

}  // namespace ostrel::pkcs12

extern "C" {

QRT_API int QRT_PKCS12_EncodePFX(BIN *pfx, int pbeID, const BIN *key, const BIN *cert, const BIN *caCert,
                                 const BIN *crl, const BIN *password) {
    return QRT_PKCS12_EncodePFXEx(pfx, pbeID, key, cert, caCert, nullptr, crl, password, nullptr);
}

QRT_API int QRT_PKCS12_EncodePFXEx(BIN *pfx, int pbeID, const BIN *key, const BIN *cert, const BIN *caCert1,
                                   const BIN *caCert2, const BIN *crl, const BIN *password,
                                   const ZQ_PKCS12_PARAM *list) {
    if (!pfx) return QRT_PKCS12_INVALID_INPUT;
    *pfx = BIN{0, nullptr};
    if (!has_bytes(password) || (!list && !has_bytes(key))) return QRT_PKCS12_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        ZQ_PKCS12_USERDATA ud{};
        ud.pvcID = QRT_PKCS12_PVC_PASSWORD;
        ud.pbeID = pbeID;
        ud.itgID = QRT_PKCS12_ITG_PASSWORD;
        ud.password = const_cast<BIN *>(password);
        std::vector<Bag> bags;
        if (list) {
            if (int rc = bags_of_list(bags, list)) return rc;
        } else {
            Bag k;
            if (int rc = key_bag(k, key)) return rc;
            bool pair = has_bytes(cert);
            if (pair) set_key_id(k, 1);
            bags.push_back(std::move(k));
            if (pair) {
                value_bag(bags, QRT_PKCS12_BAG_CERT, span_of(cert));
                set_key_id(bags.back(), 1);
            }
            for (const BIN *ca : {caCert1, caCert2})
                if (has_bytes(ca)) value_bag(bags, QRT_PKCS12_BAG_CERT, span_of(ca));
            if (has_bytes(crl)) value_bag(bags, QRT_PKCS12_BAG_CRL, span_of(crl));
        }
        return write_pfx(pfx, bags, ud);
    });
}

QRT_API int QRT_PKCS12_DecodePFX(ZQ_PKCS12_PARAM **out, BIN *key, BIN *cert, BIN *caCert, BIN *crl, const BIN *pfx,
                                 const BIN *password) {
    return QRT_PKCS12_DecodePFXEx(out, key, cert, caCert, nullptr, crl, pfx, password);
}

QRT_API int QRT_PKCS12_DecodePFXEx(ZQ_PKCS12_PARAM **out, BIN *key, BIN *cert, BIN *caCert, BIN *rootCert, BIN *crl,
                                   const BIN *pfx, const BIN *password) {
    if (out) *out = nullptr;
    clear_outputs({key, cert, caCert, rootCert, crl});
    if (!has_bytes(pfx) || !password || (password->length && !password->value)) return QRT_PKCS12_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        Content c;
        if (int rc = read_pfx(c, pfx, password, nullptr)) return rc;
        if (out) return list_of_content(out, c);
        int rc = decode_single(key, cert, caCert, rootCert, crl, c);
        if (rc) reset_outputs({key, cert, caCert, rootCert, crl});
        return rc;
    });
}

QRT_API int QRT_PKCS12_IsPFX(const BIN *der) {
    if (!has_bytes(der)) return 0;
    void *tree = nullptr;
    ZQ_ASN_CTX *ctx = QRT_ASN_AcquireCTX();
    if (!ctx || QRT_GetDecodedPDU(ctx, PFX_PDU, der, &tree) != 0) return 0;
    QRT_FreePDU(ctx, PFX_PDU, tree);
    return 1;
}

QRT_API int QRT_PKCS12_IsSHKey(const BIN *der) { return QRT_PKCS8_IsEncPrivKeyInfo(der) ? 1 : 0; }

QRT_API int QRT_PKCS12_EncodeSHKey(BIN *shkey, int pbeID, const BIN *privateKeyInfo, const BIN *password) {
    if (!shkey) return QRT_PKCS12_INVALID_INPUT;
    *shkey = BIN{0, nullptr};
    if (!has_bytes(privateKeyInfo) || !has_bytes(password)) return QRT_PKCS12_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        SecBytes out;
        if (int rc = seal_key(out, pbeID, span_of(privateKeyInfo), password)) return rc;
        return bin_assign(shkey, span_of(out)) ? 0 : QRT_PKCS12_MALLOC_FAILED;
    });
}

QRT_API int QRT_PKCS12_DecodeSHKey(BIN *privateKeyInfo, const BIN *shkey, const BIN *password) {
    if (!privateKeyInfo) return QRT_PKCS12_INVALID_INPUT;
    *privateKeyInfo = BIN{0, nullptr};
    if (!has_bytes(shkey) || !password || (password->length && !password->value)) return QRT_PKCS12_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] { return open_key(privateKeyInfo, span_of(shkey), password); });
}

QRT_API int QRT_PKCS12_EncodeParam(BIN *pfx, const ZQ_PKCS12_PARAM *list, const ZQ_PKCS12_USERDATA *ud) {
    if (!pfx) return QRT_PKCS12_INVALID_INPUT;
    *pfx = BIN{0, nullptr};
    if (!list || !ud) return QRT_PKCS12_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        std::vector<Bag> bags;
        if (int rc = bags_of_list(bags, list)) return rc;
        return write_pfx(pfx, bags, *ud);
    });
}

QRT_API int QRT_PKCS12_DecodeParam(ZQ_PKCS12_PARAM **out, const BIN *pfx, const ZQ_PKCS12_USERDATA *ud) {
    if (!out) return QRT_PKCS12_INVALID_INPUT;
    *out = nullptr;
    if (!has_bytes(pfx) || !ud) return QRT_PKCS12_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        BIN empty{0, nullptr};
        Content c;
        if (int rc = read_pfx(c, pfx, ud->password ? ud->password : &empty, ud)) return rc;
        return list_of_content(out, c);
    });
}

QRT_API ZQ_PKCS12_PARAM *QRT_PKCS12_Param_New(void) {
    return static_cast<ZQ_PKCS12_PARAM *>(QRT_calloc(1, sizeof(ZQ_PKCS12_PARAM)));
}

QRT_API void QRT_PKCS12_ResetParam(ZQ_PKCS12_PARAM *e) {
    if (!e) return;
    free_bin(e->key);
    free_bin(e->cert);
    free_bin(e->friendlyName);
    QRT_BIN_LIST_Free(e->certs);
    QRT_BIN_LIST_Free(e->crls);
    e->certs = e->crls = nullptr;
}

QRT_API void QRT_PKCS12_Param_Free(ZQ_PKCS12_PARAM *list) {
    while (list) {
        ZQ_PKCS12_PARAM *next = list->next;
        QRT_PKCS12_ResetParam(list);
        QRT_free(list);
        list = next;
    }
}

QRT_API ZQ_PKCS12_USERDATA *QRT_PKCS12_UserData_New(void) {
    return static_cast<ZQ_PKCS12_USERDATA *>(QRT_calloc(1, sizeof(ZQ_PKCS12_USERDATA)));
}

QRT_API void QRT_PKCS12_UserData_Reset(ZQ_PKCS12_USERDATA *ud) {
    if (!ud) return;
    for (BIN **b : {&ud->recipCert, &ud->recipKey, &ud->signerCert, &ud->signerKey, &ud->password}) free_bin(*b);
    *ud = ZQ_PKCS12_USERDATA{};
}

QRT_API void QRT_PKCS12_UserData_Free(ZQ_PKCS12_USERDATA *ud) {
    QRT_PKCS12_UserData_Reset(ud);
    QRT_free(ud);
}

}  // extern "C"
