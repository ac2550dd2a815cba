// Signer information: building a signer from a certificate and key, signing, reading and writing
// SignerInfo (RFC 2315 and CMS, either signer identifier), and checking a signer against its
// content. Every signature is made and checked through the provider's one signature table.
#include <cstring>
#include <new>
#include <vector>

#include "pkcs7_signed.hpp"

using namespace ostrel;
using namespace ostrel::pkcs7;

namespace {

using Bytes = std::vector<uint8_t>;

const uint8_t kNull[] = {0x05, 0x00};

// Owns a list of attributes for the life of a scope.
struct AttrList {
    ZQ_PKCS7_ATTRIBS list{};
    ~AttrList() { QRT_PKCS7_Attributes_Reset(&list); }
};

// The contents of a SET (0x31) or [0] (0xA0) element of definite length that fills b.
bool set_contents(const BIN &b, Reader &contents) {
    Reader r(b.value, b.length);
    uint8_t tag = 0;
    if (tlv::read_any(r, tag, contents, nullptr, tlv::Profile::kBer) || !r.empty()) return false;
    return tag == tlv::kSet || tag == 0xA0 || tag == 0xA1;
}

// The signer alg id a certificate key and an algID's thousands part select.
int pick_alg(int keyAlg, int thousands) {
    if (keyAlg == QRT_PKCS7_ALG_RSA && thousands == QRT_PKCS7_ALG_RSAPSS) return QRT_PKCS7_ALG_RSAPSS;
    if (keyAlg == QRT_PKCS7_ALG_ECDSA && thousands == QRT_PKCS7_ALG_ECKCDSA) return QRT_PKCS7_ALG_ECKCDSA;
    return keyAlg;
}

// Heap copy of attributes in SET form (a [0]-tagged input is given the SET tag).
BIN *attrs_copy(const BIN &b) {
    BIN *c = new_bin(b);
    c->value[0] = tlv::kSet;
    return c;
}

int set_signer(ZQ_PKCS7_SIGNER_INFO *si, int algID, const BIN *attrs, const BIN *signature, const BIN *unauthAttrs,
               const BIN *cert, const BIN *privKey) {
    if (!has_bytes(cert)) return QRT_PKCS7_NO_CERT;
    if (!has_bytes(signature) && !has_bytes(privKey)) return QRT_PKCS7_NO_PRIVKEY;
    BinOwner isn;
    int pkey = 0;
    if (QRT_PKCS7_Cert_GetInfos(isn.get(), &pkey, nullptr, nullptr, cert) != 0) return QRT_PKCS7_BAD_CERT;
    int keyAlg = alg_of_cert_key(pkey);
    if (keyAlg < 0) return QRT_PKCS7_UNKNOWN_ALGID;
    int digest = algID % 1000;
    int alg = pick_alg(keyAlg, algID / 1000);
    int h = 0, s = 0;
    if (int rc = sign_cell(alg, digest, h, s)) return rc;

    BinOwner auth, unauth;
    if (has_bytes(attrs)) {
        AttrList l;
        if (QRT_PKCS7_Attributes_Decode(&l.list, attrs) != 0) return QRT_PKCS7_BAD_ATTRIBS;
        if (!QRT_PKCS7_Attributes_Get(&l.list, QRT_PKCS7_AT_CONTENT_TYPE) ||
            !QRT_PKCS7_Attributes_Get(&l.list, QRT_PKCS7_AT_MESSAGE_DIGEST))
            return QRT_PKCS7_BAD_ATTRIBS;
        if (has_bytes(signature)) {
            // signed elsewhere: these very bytes go out
            set_bin(auth.get(), attrs->value, attrs->length);
            auth->value[0] = tlv::kSet;
        } else if (int rc = QRT_PKCS7_Attributes_Encode(auth.get(), &l.list)) {
            return rc;
        }
    }
    if (has_bytes(unauthAttrs)) {
        AttrList l;
        if (QRT_PKCS7_Attributes_Decode(&l.list, unauthAttrs) != 0) return QRT_PKCS7_BAD_ATTRIBS;
        if (int rc = QRT_PKCS7_Attributes_Encode(unauth.get(), &l.list)) return rc;
    }

    ZQ_PKCS7_SIGNER_INFO n{};
    n.next = si->next;
    try {
        n.issuerAndSerial = new_bin(*isn);
        n.digestID = digest;
        n.algID = alg;
        if (auth->length) n.authAttrs = new_bin(*auth);
        if (unauth->length) n.unauthAttrs = new_bin(*unauth);
        if (has_bytes(signature)) n.signature = new_bin(*signature);
        if (has_bytes(privKey)) n.privKey = new_bin(*privKey);
        n.cert = new_bin(*cert);
    } catch (...) {
        QRT_PKCS7_SignerInfo_Reset(&n);
        throw;
    }
    QRT_PKCS7_SignerInfo_Reset(si);
    *si = n;
    return 0;
}

int compute_signature(BIN *sig, const BIN &message, int algID, int digestID, const BIN &privKey, const BIN &cert) {
    ZQ_CSP_SigAlg alg{};
    if (int rc = signer_alg(alg, algID, digestID)) return rc;
    int pkey = 0;
    BinOwner pub, param;
    if (QRT_PKCS7_Cert_GetInfos(nullptr, &pkey, pub.get(), param.get(), &cert) != 0) return QRT_PKCS7_BAD_CERT;
    int rc = QRT_CSP_SignData(sig, &message, &alg, &privKey, param->length ? param.get() : nullptr,
                              pub->length ? pub.get() : nullptr);
    if (rc == QRT_CSP_BAD_PRIVKEY) return QRT_PKCS7_BAD_PRIVKEY;
    return rc;
}

int verify_signature(const BIN &sig, const BIN &message, int algID, int digestID, const BIN *sigAlg, const BIN &cert) {
    int hash = hash_id(digestID);
    if (!hash) return QRT_PKCS7_UNKNOWN_DIGESTID;
    ZQ_CSP_SigAlg alg{};
    if (has_bytes(sigAlg)) {
        AsnTree<AlgorithmIdentifier> a(AlgorithmIdentifier_PDU);
        if (a.decode(sigAlg) != 0) return QRT_PKCS7_UNKNOWN_ALGID;
        bool params = (a->bit_mask & AlgorithmIdentifier_parameters_present) && a->parameters.length;
        ZQ_CSP_AlgID parts{a->algorithm.value, a->algorithm.length, params ? &a->parameters : nullptr};
        if (QRT_CSP_SigAlg_ForSigner(&alg, &parts, hash) != 0) return QRT_PKCS7_UNKNOWN_ALGID;
    } else if (int rc = signer_alg(alg, algID, digestID)) {
        return rc;
    }
    // the key as it stands in the certificate, read in place
    CertView v;
    if (!cert_view(cert, v) || v.spki.empty()) return QRT_PKCS7_BAD_CERT;
    const BIN spki{static_cast<unsigned>(v.spki.remaining()), const_cast<uint8_t *>(v.spki.data())};
    if (!sig.length) return QRT_PKCS7_INVALID_SIGNATURE;
    int rc = QRT_CSP_VerifySignedDataAlg(&alg, &message, &sig, &spki, nullptr);
    if (rc == QRT_CSP_INVALID_SIGNATURE) return QRT_PKCS7_INVALID_SIGNATURE;
    if (rc == QRT_CSP_UNKNOWN_ID) return QRT_PKCS7_UNKNOWN_ALGID;
    return rc;
}

// The bytes a signer's signature covers: its attributes, else the content's digest message
// (held in norm when the content had to be brought to DER).
int signed_message(BIN &msg, const ZQ_PKCS7_SIGNER_INFO &si, const ZQ_PKCS7_CONTENT *content, BinOwner &norm) {
    if (has_bytes(si.authAttrs)) {
        msg = *si.authAttrs;
        return 0;
    }
    if (!content || !has_bytes(content->value)) return QRT_PKCS7_NO_CONTENT;
    Reader octets;
    if (int rc = digest_message(octets, *content->value, norm)) return rc;
    msg = BIN{static_cast<unsigned>(octets.remaining()), const_cast<uint8_t *>(octets.data())};
    return 0;
}

int sign_signer(ZQ_PKCS7_SIGNER_INFO &si, const ZQ_PKCS7_CONTENT *content) {
    if (!has_bytes(si.privKey)) return QRT_PKCS7_NO_PRIVKEY;
    if (!has_bytes(si.cert)) return QRT_PKCS7_NO_CERT;
    BinOwner norm, sig;
    BIN msg{0, nullptr};
    if (int rc = signed_message(msg, si, content, norm)) return rc;
    if (int rc = compute_signature(sig.get(), msg, si.algID, si.digestID, *si.privKey, *si.cert)) return rc;
    BIN *s = new_bin(*sig);
    free_bin(si.signature);
    si.signature = s;
    return 0;
}

int verify_signer(const ZQ_PKCS7_SIGNER_INFO &si, const ZQ_PKCS7_CONTENT *content, const BIN &cert) {
    if (!has_bytes(si.signature)) return QRT_PKCS7_NO_SIGNATURE;
    if (has_bytes(si.authAttrs)) {
        AttrList l;
        if (QRT_PKCS7_Attributes_Decode(&l.list, si.authAttrs) != 0) return QRT_PKCS7_BAD_ATTRIBS;
        // without content there is nothing the digest attribute could be checked against
        if (!content) return QRT_PKCS7_NO_CONTENT;
        if (int rc = QRT_PKCS7_Attributes_CheckAuth(&l.list, si.digestID, content)) return rc;
    }
    BinOwner norm;
    BIN msg{0, nullptr};
    if (int rc = signed_message(msg, si, content, norm)) return rc;
    return verify_signature(*si.signature, msg, si.algID, si.digestID, si.sigAlg, cert);
}

// AlgorithmIdentifier of a digest with NULL parameters.
int digest_alg_der(Bytes &out, int digestID) {
    const ObjectID *oid = digest_oid(digestID);
    if (!oid) return QRT_PKCS7_UNKNOWN_DIGESTID;
    Bytes body;
    put_tlv(body, tlv::kOid, oid->value, oid->length);
    body.insert(body.end(), kNull, kNull + sizeof kNull);
    out.clear();
    put_tlv(out, tlv::kSequence, body.data(), body.size());
    return 0;
}

}  // namespace

namespace ostrel::pkcs7 {

int digest_alg_identifier(Bytes &out, int digestID) { return digest_alg_der(out, digestID); }

// SignerInfo ::= SEQUENCE { version, sid, digestAlgorithm, [0] IMPLICIT signedAttrs OPTIONAL,
//                           signatureAlgorithm, signature OCTET STRING, [1] IMPLICIT unsignedAttrs OPTIONAL }
int signer_info_read(ZQ_PKCS7_SIGNER_INFO *si, const BIN &der) {
    QRT_PKCS7_SignerInfo_Reset(si);
    AsnTree<SignerInfoWire> w(SignerInfoWire_PDU);
    if (w.decode(&der) != 0) return QRT_PKCS7_BAD_SIGNER_INFO;
    ZQ_PKCS7_SIGNER_INFO n{};
    n.next = si->next;
    try {
        // sid: IssuerAndSerialNumber or [0] IMPLICIT SubjectKeyIdentifier
        Reader sid(w->sid.value, w->sid.length), c;
        uint8_t tag = 0;
        if (tlv::read_any(sid, tag, c) || !sid.empty()) throw QRT_PKCS7_BAD_SIGNER_INFO;
        if (tag == tlv::kSequence)
            n.issuerAndSerial = new_bin(w->sid);
        else if (tag == 0x80 && c.remaining())
            n.subjectKeyId = new_bin(c.data(), c.remaining());
        else
            throw QRT_PKCS7_BAD_SIGNER_INFO;
        int d = digest_id(w->digestAlgorithm.algorithm);
        n.digestID = d < 0 ? 0 : d;
        BinOwner alg;
        if (QRT_ASN_EncodePDU(alg.get(), &w->signatureAlgorithm, AlgorithmIdentifier_PDU) != 0)
            throw QRT_PKCS7_BAD_SIGNER_INFO;
        n.sigAlg = new_bin(*alg);
        int a = QRT_PKCS7_ObjID_To_AlgID(n.sigAlg);
        n.algID = a < 0 ? 0 : a;
        if (w->bit_mask & SignerInfoWire_signedAttrs_present) {
            if (!has_bytes(&w->signedAttrs_encoded)) throw QRT_PKCS7_BAD_SIGNER_INFO;
            n.authAttrs = attrs_copy(w->signedAttrs_encoded);
        }
        if (w->signature.length) n.signature = new_bin(w->signature);
        if (w->bit_mask & SignerInfoWire_unsignedAttrs_present) {
            std::vector<Attributes_> nodes;
            for (SignerInfoWire_unsignedAttrs_ *p = w->unsignedAttrs; p; p = p->next)
                nodes.push_back({nullptr, p->value});
            for (size_t i = 0; i + 1 < nodes.size(); ++i) nodes[i].next = &nodes[i + 1];
            Attributes head = nodes.empty() ? nullptr : &nodes[0];
            BinOwner ua;
            if (QRT_ASN_EncodePDU(ua.get(), &head, Attributes_PDU) != 0) throw QRT_PKCS7_BAD_SIGNER_INFO;
            n.unauthAttrs = new_bin(*ua);
        }
    } catch (int rc) {
        QRT_PKCS7_SignerInfo_Reset(&n);
        return rc;
    } catch (...) {
        QRT_PKCS7_SignerInfo_Reset(&n);
        throw;
    }
    *si = n;
    return 0;
}

// Written by hand around the attribute bytes, so that what goes out is exactly what was signed.
int signer_info_write(BIN *out, const ZQ_PKCS7_SIGNER_INFO &si) {
    if (!has_bytes(si.signature)) return QRT_PKCS7_NO_SIGNATURE;
    Bytes body;
    const uint8_t version = has_bytes(si.issuerAndSerial) ? 1 : 3;
    put_tlv(body, tlv::kInteger, &version, 1);
    if (has_bytes(si.issuerAndSerial))
        body.insert(body.end(), si.issuerAndSerial->value, si.issuerAndSerial->value + si.issuerAndSerial->length);
    else if (has_bytes(si.subjectKeyId))
        put_tlv(body, 0x80, si.subjectKeyId->value, si.subjectKeyId->length);
    else
        return QRT_PKCS7_BAD_SIGNER_INFO;
    Bytes dalg;
    if (int rc = digest_alg_der(dalg, si.digestID)) return rc;
    body.insert(body.end(), dalg.begin(), dalg.end());
    if (has_bytes(si.authAttrs)) {
        Reader c;
        if (!set_contents(*si.authAttrs, c)) return QRT_PKCS7_BAD_ATTRIBS;
        put_tlv(body, 0xA0, c.data(), c.remaining());
    }
    BinOwner alg;
    if (has_bytes(si.sigAlg)) {
        set_bin(alg.get(), si.sigAlg->value, si.sigAlg->length);
    } else if (QRT_PKCS7_AlgID_To_ObjID(alg.get(), si.algID, si.digestID) != 0) {
        int h = 0, s = 0;
        int rc = sign_cell(si.algID, si.digestID, h, s);
        return rc ? rc : QRT_PKCS7_UNKNOWN_ALGID;
    }
    body.insert(body.end(), alg->value, alg->value + alg->length);
    put_tlv(body, tlv::kOctetString, si.signature->value, si.signature->length);
    if (has_bytes(si.unauthAttrs)) {
        Reader c;
        if (!set_contents(*si.unauthAttrs, c)) return QRT_PKCS7_BAD_ATTRIBS;
        put_tlv(body, 0xA1, c.data(), c.remaining());
    }
    Bytes der;
    der.reserve(body.size() + 6);
    put_tlv(der, tlv::kSequence, body.data(), body.size());
    set_bin(out, der.data(), der.size());
    return 0;
}

}  // namespace ostrel::pkcs7

extern "C" {

QRT_API int QRT_PKCS7_SignerInfo_Set(ZQ_PKCS7_SIGNER_INFO *si, int algID, const BIN *attrs, const BIN *signature,
                                     const BIN *unauthAttrs, const BIN *cert, const BIN *privKey) {
    if (!si) return QRT_PKCS7_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] { return set_signer(si, algID, attrs, signature, unauthAttrs, cert, privKey); });
}

QRT_API int QRT_PKCS7_SignerInfo_Sign(ZQ_PKCS7_SIGNER_INFO *si, const ZQ_PKCS7_CONTENT *content) {
    if (!si) return QRT_PKCS7_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] { return sign_signer(*si, content); });
}

QRT_API int QRT_PKCS7_SignerInfo_Verify(const ZQ_PKCS7_SIGNER_INFO *si, const ZQ_PKCS7_CONTENT *content,
                                        const BIN *cert) {
    if (!si) return QRT_PKCS7_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        if (!has_bytes(cert)) return QRT_PKCS7_NO_CERT;
        return verify_signer(*si, content, *cert);
    });
}

QRT_API void QRT_PKCS7_SignerInfo_Reset(ZQ_PKCS7_SIGNER_INFO *si) {
    if (!si) return;
    ZQ_PKCS7_SIGNER_INFO *next = si->next;
    free_bin(si->issuerAndSerial);
    free_bin(si->subjectKeyId);
    free_bin(si->authAttrs);
    free_bin(si->signature);
    free_bin(si->unauthAttrs);
    free_bin(si->privKey);
    free_bin(si->cert);
    free_bin(si->sigAlg);
    *si = ZQ_PKCS7_SIGNER_INFO{};
    si->next = next;
}

QRT_API ZQ_PKCS7_SIGNER_INFOS *QRT_PKCS7_SignerInfos_New(void) {
    auto *l = static_cast<ZQ_PKCS7_SIGNER_INFOS *>(QRT_malloc(sizeof(ZQ_PKCS7_SIGNER_INFOS)));
    if (l) l->first = nullptr;
    return l;
}

QRT_API int QRT_PKCS7_SignerInfos_Add(ZQ_PKCS7_SIGNER_INFOS *list, ZQ_PKCS7_SIGNER_INFO *si) {
    if (!list || !si) return QRT_PKCS7_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        auto *node = static_cast<ZQ_PKCS7_SIGNER_INFO *>(QRT_malloc(sizeof(ZQ_PKCS7_SIGNER_INFO)));
        if (!node) throw std::bad_alloc();
        *node = *si;
        node->next = nullptr;
        *si = ZQ_PKCS7_SIGNER_INFO{};
        ZQ_PKCS7_SIGNER_INFO **tail = &list->first;
        while (*tail) tail = &(*tail)->next;
        *tail = node;
        return 0;
    });
}

QRT_API void QRT_PKCS7_SignerInfos_Reset(ZQ_PKCS7_SIGNER_INFOS *list) {
    if (!list) return;
    ZQ_PKCS7_SIGNER_INFO *p = list->first;
    while (p) {
        ZQ_PKCS7_SIGNER_INFO *next = p->next;
        QRT_PKCS7_SignerInfo_Reset(p);
        QRT_free(p);
        p = next;
    }
    list->first = nullptr;
}

QRT_API void QRT_PKCS7_SignerInfos_Free(ZQ_PKCS7_SIGNER_INFOS *list) {
    if (!list) return;
    QRT_PKCS7_SignerInfos_Reset(list);
    QRT_free(list);
}

QRT_API int QRT_PKCS7_ComputeDigest(BIN *out, const BIN *in, int digestID) {
    if (!out || !in || (in->length && !in->value)) return QRT_PKCS7_INVALID_INPUT;
    *out = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] { return digest_of(out, Reader(in->value, in->length), digestID); });
}

QRT_API int QRT_PKCS7_ComputeSignature(BIN *signature, const BIN *message, int algID, int digestID, const BIN *privKey,
                                       const BIN *cert) {
    if (!signature || !has_bytes(message)) return QRT_PKCS7_INVALID_INPUT;
    *signature = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        if (!has_bytes(privKey)) return QRT_PKCS7_NO_PRIVKEY;
        if (!has_bytes(cert)) return QRT_PKCS7_NO_CERT;
        return compute_signature(signature, *message, algID, digestID, *privKey, *cert);
    });
}

QRT_API int QRT_PKCS7_VerifySignature(const BIN *signature, const BIN *message, int algID, int digestID,
                                      const BIN *sigAlg, const BIN *cert) {
    if (!signature || !has_bytes(message)) return QRT_PKCS7_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        if (!has_bytes(cert)) return QRT_PKCS7_NO_CERT;
        return verify_signature(*signature, *message, algID, digestID, sigAlg, *cert);
    });
}

}  // extern "C"
