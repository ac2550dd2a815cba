// Signed data: reading it in one parse (certificates and CRLs stay the bytes received), writing
// it (certificates and CRLs in the order added, never re-encoded), signing in one call or in two
// phases around an external signer, and verification of every signer against its content.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "ostrel/der_order.hpp"
#include "pkcs7_signed.hpp"

using namespace ostrel;
using namespace ostrel::pkcs7;

namespace {

using Bytes = std::vector<uint8_t>;

// Releases a signed record on scope exit (one on the stack, owned by a one-call function).
struct SignedHolder {
    ZQ_PKCS7_SIGNED sd{};
    ~SignedHolder() { QRT_PKCS7_Signed_Reset(&sd); }
};

struct ContentHolder {
    ZQ_PKCS7_CONTENT c{};
    ~ContentHolder() { QRT_PKCS7_Content_Reset(&c); }
};

struct SignerHolder {
    ZQ_PKCS7_SIGNER_INFO si{};
    ~SignerHolder() { QRT_PKCS7_SignerInfo_Reset(&si); }
};

bool same_bin(const BIN &a, const BIN &b) {
    return a.length == b.length && (a.length == 0 || std::memcmp(a.value, b.value, a.length) == 0);
}

// The certificate of a signer in a set, by IssuerAndSerialNumber or key identifier.
const BIN *find_signer_cert(const ZQ_PKCS7_SIGNER_INFO &si, const ZQ_PKCS7_BIN_SET *certs) {
    for (const ZQ_PKCS7_BIN_SET *p = certs; p; p = p->next) {
        if (has_bytes(si.issuerAndSerial)) {
            if (isn_matches(*si.issuerAndSerial, p->value)) return &p->value;
        } else if (has_bytes(si.subjectKeyId)) {
            BinOwner id;
            if (cert_key_id(id, p->value) == 0 && same_bin(*id, *si.subjectKeyId)) return &p->value;
        }
    }
    return nullptr;
}

int verify_signed(const ZQ_PKCS7_SIGNED &sd, const ZQ_PKCS7_CONTENT *content, const ZQ_PKCS7_BIN_SET *certs,
                  BIN *signerCertOut) {
    if (content && !has_bytes(content->value)) return QRT_PKCS7_NO_CONTENT;
    const ZQ_PKCS7_CONTENT *c = content ? content : &sd.content;
    const BIN *first = nullptr;
    for (const ZQ_PKCS7_SIGNER_INFO *si = sd.signerInfos.first; si; si = si->next) {
        const BIN *cert = find_signer_cert(*si, certs);
        if (!cert) cert = find_signer_cert(*si, sd.certs);
        if (!cert && has_bytes(si->cert)) cert = si->cert;
        if (!cert) return QRT_PKCS7_NO_CERT;
        if (int rc = QRT_PKCS7_SignerInfo_Verify(si, c, cert)) return rc;
        if (!first) first = cert;
    }
    if (signerCertOut && first) set_bin(signerCertOut, first->value, first->length);
    return 0;
}

// SignedData ::= SEQUENCE { version, digestAlgorithms SET OF, contentInfo, [0] certificates
//   OPTIONAL, [1] crls OPTIONAL, signerInfos SET OF SignerInfo }
int decode_signed(ZQ_PKCS7_SIGNED &sd, const ZQ_PKCS7_CONTENT &ci, int verifyFlag) {
    if (ci.typeID != QRT_PKCS7_SIGNED) return QRT_PKCS7_UNKNOWN_TYPEID;
    if (!has_bytes(ci.value)) return QRT_PKCS7_NO_CONTENT;
    AsnTree<SignedDataWire> w(SignedDataWire_PDU);
    if (w.decode(ci.value) != 0) return QRT_PKCS7_BAD_SIGNED_DATA;
    if (w->version > 5) return QRT_PKCS7_UNKNOWN_VERSION;
    if (!w->digestAlgorithms && w->version != 1) return QRT_PKCS7_BAD_SIGNED_DATA;
    // limits first, before any copy and any public-key work
    int signers = 0;
    for (const SignedDataWire_signerInfos_ *p = w->signerInfos; p; p = p->next)
        if (++signers > QRT_PKCS7_MAX_SIGNERS) return QRT_PKCS7_BAD_SIGNED_DATA;
    if (w->bit_mask & SignedDataWire_certificates_present)
        if (int rc = take_set(&sd.certs, w->certificates, QRT_PKCS7_MAX_CERTS, QRT_PKCS7_BAD_SIGNED_DATA)) return rc;
    if (w->bit_mask & SignedDataWire_crls_present)
        if (int rc = take_set(&sd.crls, w->crls, QRT_PKCS7_MAX_CRLS, QRT_PKCS7_BAD_SIGNED_DATA)) return rc;
    if (int rc = content_from_tree(&sd.content, w->contentInfo, true)) return rc;
    for (const SignedDataWire_signerInfos_ *p = w->signerInfos; p; p = p->next) {
        SignerHolder h;
        if (int rc = signer_info_read(&h.si, p->value)) return rc;
        if (int rc = QRT_PKCS7_SignerInfos_Add(&sd.signerInfos, &h.si)) return rc;
    }
    sd.version = w->version;
    if (verifyFlag) return verify_signed(sd, nullptr, nullptr, nullptr);
    return 0;
}

// Contents of a SET OF or an implicitly tagged list: the elements one after another.
Bytes joined(const std::vector<Bytes> &items) {
    Bytes out;
    for (const Bytes &i : items) out.insert(out.end(), i.begin(), i.end());
    return out;
}

Bytes joined(const ZQ_PKCS7_BIN_SET *set) {
    Bytes out;
    for (const ZQ_PKCS7_BIN_SET *p = set; p; p = p->next)
        out.insert(out.end(), p->value.value, p->value.value + p->value.length);
    return out;
}

// The ContentInfo of a signed data, written in one buffer of its size: the content (possibly
// large) is copied once, certificates and CRLs as they were added, never re-encoded.
int encode_signed(BIN *out, const ZQ_PKCS7_SIGNED &sd) {
    const ObjectID *type = type_oid(sd.content.typeID);
    if (!type) return QRT_PKCS7_UNKNOWN_TYPEID;
    int version = 1;
    if (sd.content.typeID == QRT_PKCS7_DVCS_REQUEST || sd.content.typeID == QRT_PKCS7_DVCS_RESPONSE) version = 3;

    // digestAlgorithms: the distinct digests of the signers
    std::vector<int> digests;
    std::vector<Bytes> infos, algs;
    for (const ZQ_PKCS7_SIGNER_INFO *si = sd.signerInfos.first; si; si = si->next) {
        if (!has_bytes(si->issuerAndSerial)) version = 3;
        bool seen = false;
        for (int d : digests) seen = seen || d == si->digestID;
        if (!seen) digests.push_back(si->digestID);
        BinOwner der;
        if (int rc = signer_info_write(der.get(), *si)) return rc;
        infos.emplace_back(der->value, der->value + der->length);
    }
    if (sd.version > version) version = sd.version;
    for (int d : digests) {
        Bytes alg;
        if (int rc = digest_alg_identifier(alg, d)) return rc;
        algs.push_back(std::move(alg));
    }
    sort_der_set(algs.begin(), algs.end());
    sort_der_set(infos.begin(), infos.end());

    // version, digestAlgorithms | contentInfo | [0] certificates, [1] crls, signerInfos
    Bytes head, tail;
    const uint8_t v = static_cast<uint8_t>(version);
    put_tlv(head, tlv::kInteger, &v, 1);
    Bytes a = joined(algs);
    put_tlv(head, tlv::kSet, a.data(), a.size());
    Bytes certs = joined(sd.certs), crls = joined(sd.crls), signers = joined(infos);
    if (!certs.empty()) put_tlv(tail, 0xA0, certs.data(), certs.size());
    if (!crls.empty()) put_tlv(tail, 0xA1, crls.data(), crls.size());
    put_tlv(tail, tlv::kSet, signers.data(), signers.size());

    // ContentInfo { signedData, [0] SignedData { head, contentInfo { type, [0] value }, tail } }:
    // everything before the value is assembled in `lead`, then one buffer takes lead, value, tail
    const BIN *value = has_bytes(sd.content.value) ? sd.content.value : nullptr;
    const ObjectID &signed_oid = *type_oid(QRT_PKCS7_SIGNED);
    size_t inner = der_size(type->length) + (value ? der_size(value->length) : 0);
    size_t body = head.size() + der_size(inner) + tail.size();
    size_t ci_body = der_size(signed_oid.length) + der_size(der_size(body));
    Bytes lead(64 + head.size() + type->length);
    uint8_t *p = der_header(lead.data(), tlv::kSequence, ci_body);
    p = der_header(p, tlv::kOid, signed_oid.length);
    p = der_put(p, signed_oid.value, signed_oid.length);
    p = der_header(p, 0xA0, der_size(body));
    p = der_header(p, tlv::kSequence, body);
    p = der_put(p, head.data(), head.size());
    p = der_header(p, tlv::kSequence, inner);
    p = der_header(p, tlv::kOid, type->length);
    p = der_put(p, type->value, type->length);
    if (value) p = der_header(p, 0xA0, value->length);
    size_t lead_size = static_cast<size_t>(p - lead.data());

    BinOwner buf;
    alloc_bin(buf.get(), lead_size + (value ? value->length : 0) + tail.size());
    uint8_t *at = der_put(buf->value, lead.data(), lead_size);
    if (value) at = der_put(at, value->value, value->length);
    der_put(at, tail.data(), tail.size());
    buf.release_to(out);
    return 0;
}

// Copies a content into a record's own (the record's previous content is released).
void take_content(ZQ_PKCS7_CONTENT &dst, const ZQ_PKCS7_CONTENT &src) {
    if (&dst == &src) return;
    BIN *v = has_bytes(src.value) ? new_bin(*src.value) : nullptr;
    QRT_PKCS7_Content_Reset(&dst);
    dst.typeID = src.typeID;
    dst.value = v;
}

int sign_signed(ZQ_PKCS7_SIGNED &sd, const ZQ_PKCS7_CONTENT &content) {
    for (ZQ_PKCS7_SIGNER_INFO *si = sd.signerInfos.first; si; si = si->next)
        if (!has_bytes(si->signature))
            if (int rc = QRT_PKCS7_SignerInfo_Sign(si, &content)) return rc;
    take_content(sd.content, content);
    return 0;
}

// The certificates and CRL of a one-call signing, in the order the Part fixes.
int add_certs(ZQ_PKCS7_SIGNED &sd, const BIN *signerCert, const BIN *extraCert, const BIN *crl) {
    if (has_bytes(signerCert))
        if (int rc = QRT_PKCS7_BIN_SET_Add(&sd.certs, signerCert)) return rc;
    if (has_bytes(extraCert))
        if (int rc = QRT_PKCS7_BIN_SET_Add(&sd.certs, extraCert)) return rc;
    if (has_bytes(crl))
        if (int rc = QRT_PKCS7_BIN_SET_Add(&sd.crls, crl)) return rc;
    return 0;
}

int encode_signed_one(BIN *out, int algID, const BIN *content, const BIN *signerCert, const BIN *privKey,
                      const BIN *extraCert, const BIN *crl) {
    bool signer = has_bytes(privKey);
    if (signer && !has_bytes(signerCert)) return QRT_PKCS7_NO_CERT;
    ContentHolder c;
    if (has_bytes(content)) {
        if (int rc = QRT_PKCS7_Content_Decode(&c.c, content)) return rc;
    } else if (signer) {
        return QRT_PKCS7_NO_CONTENT;
    } else {
        c.c.typeID = QRT_PKCS7_DATA;
    }
    SignedHolder h;
    if (int rc = add_certs(h.sd, signerCert, extraCert, crl)) return rc;
    if (signer) {
        if (!has_bytes(c.c.value)) return QRT_PKCS7_NO_CONTENT;
        BinOwner attrs;
        if (int rc = QRT_PKCS7_Attributes_GenAuth(attrs.get(), algID % 1000, &c.c)) return rc;
        SignerHolder s;
        if (int rc = QRT_PKCS7_SignerInfo_Set(&s.si, algID, attrs.get(), nullptr, nullptr, signerCert, privKey))
            return rc;
        if (int rc = QRT_PKCS7_SignerInfos_Add(&h.sd.signerInfos, &s.si)) return rc;
    }
    // the record takes the content over (no copy of a large content); signing reads it there
    h.sd.content = c.c;
    c.c = ZQ_PKCS7_CONTENT{};
    if (signer)
        if (int rc = QRT_PKCS7_Signed_Sign(&h.sd, &h.sd.content)) return rc;
    return QRT_PKCS7_Signed_Encode(out, &h.sd);
}

int encode_signed_final(BIN *out, int algID, const BIN *content, const BIN *attrs, const BIN *signature,
                        const BIN *signerCert, const BIN *extraCert, const BIN *crl) {
    if (!has_bytes(content)) return QRT_PKCS7_NO_CONTENT;
    if (!has_bytes(attrs)) return QRT_PKCS7_NO_ATTRIBS;
    if (!has_bytes(signature)) return QRT_PKCS7_NO_SIGNATURE;
    if (!has_bytes(signerCert)) return QRT_PKCS7_NO_CERT;
    ContentHolder c;
    if (int rc = QRT_PKCS7_Content_Decode(&c.c, content)) return rc;
    SignerHolder s;
    if (int rc = QRT_PKCS7_SignerInfo_Set(&s.si, algID, attrs, signature, nullptr, signerCert, nullptr)) return rc;
    {
        // the attributes must be those of this content
        ZQ_PKCS7_ATTRIBS list{};
        int rc = QRT_PKCS7_Attributes_Decode(&list, attrs);
        if (rc == 0) rc = QRT_PKCS7_Attributes_CheckAuth(&list, s.si.digestID, &c.c);
        QRT_PKCS7_Attributes_Reset(&list);
        if (rc) return rc;
    }
    SignedHolder h;
    if (int rc = add_certs(h.sd, signerCert, extraCert, crl)) return rc;
    if (int rc = QRT_PKCS7_SignerInfos_Add(&h.sd.signerInfos, &s.si)) return rc;
    h.sd.content = c.c;
    c.c = ZQ_PKCS7_CONTENT{};
    return QRT_PKCS7_Signed_Encode(out, &h.sd);
}

// The SignedData element inside a ContentInfo of definite lengths, in place: the one parse then
// reads the input itself instead of a copy of it. False for any other form (BER with indefinite
// lengths goes through the content layer).
bool signed_value_in_place(const BIN &in, BIN &value) {
    Reader r(in.value, in.length), seq, oid, explicit_content, whole;
    uint8_t tag = 0;
    if (tlv::read_tlv(r, tlv::kSequence, seq, tlv::Profile::kBer) || !r.empty()) return false;
    if (tlv::read_tlv(seq, tlv::kOid, oid, tlv::Profile::kBer)) return false;
    const ObjectID &sd = *type_oid(QRT_PKCS7_SIGNED);
    if (!tlv::equals(oid, sd.value, sd.length)) return false;
    if (tlv::read_tlv(seq, 0xA0, explicit_content, tlv::Profile::kBer) || !seq.empty()) return false;
    Reader inner;
    if (tlv::read_any(explicit_content, tag, inner, &whole, tlv::Profile::kBer) || !explicit_content.empty() ||
        tag != tlv::kSequence)
        return false;
    value = BIN{static_cast<unsigned>(whole.remaining()), const_cast<uint8_t *>(whole.data())};
    return true;
}

int decode_signed_one(int *digestIdOut, BIN *contentOut, BIN *signerCertOut, BIN *issuerCertOut, BIN *crlOut,
                      const BIN *in) {
    SignedHolder h;
    if (int rc = QRT_PKCS7_Signed_DecodeBin(&h.sd, in, 0)) return rc;
    BinOwner content, cert, issuer, crl;
    if (contentOut)
        if (int rc = QRT_PKCS7_Content_Encode(content.get(), &h.sd.content)) return rc;
    const ZQ_PKCS7_SIGNER_INFO *first = h.sd.signerInfos.first;
    const BIN *signer = nullptr;
    if (first) {
        signer = find_signer_cert(*first, h.sd.certs);
        if (!signer) return QRT_PKCS7_NOT_EXIST;
        // a detached signature is returned unverified: its data is not here
        if (has_bytes(h.sd.content.value))
            if (int rc = QRT_PKCS7_SignerInfo_Verify(first, &h.sd.content, signer)) return rc;
    } else if (h.sd.certs) {
        signer = &h.sd.certs->value;
    }
    if (signer) {
        set_bin(cert.get(), signer->value, signer->length);
        CertView v;
        if (issuerCertOut && cert_view(*signer, v)) {
            for (const ZQ_PKCS7_BIN_SET *p = h.sd.certs; p; p = p->next) {
                CertView c;
                if (cert_view(p->value, c) && same_bytes(c.subject, v.issuer)) {
                    set_bin(issuer.get(), p->value.value, p->value.length);
                    break;
                }
            }
        }
    }
    if (h.sd.crls) set_bin(crl.get(), h.sd.crls->value.value, h.sd.crls->value.length);
    if (digestIdOut) *digestIdOut = first ? first->digestID : 0;
    if (contentOut) content.release_to(contentOut);
    if (signerCertOut) cert.release_to(signerCertOut);
    if (issuerCertOut) issuer.release_to(issuerCertOut);
    if (crlOut) crl.release_to(crlOut);
    return 0;
}

void clear_out(BIN *b) {
    if (b) *b = BIN{0, nullptr};
}

}  // namespace

extern "C" {

QRT_API ZQ_PKCS7_SIGNED *QRT_PKCS7_Signed_New(void) {
    auto *sd = static_cast<ZQ_PKCS7_SIGNED *>(QRT_malloc(sizeof(ZQ_PKCS7_SIGNED)));
    if (sd) *sd = ZQ_PKCS7_SIGNED{};
    return sd;
}

QRT_API int QRT_PKCS7_Signed_Decode(ZQ_PKCS7_SIGNED *sd, const ZQ_PKCS7_CONTENT *contentInfo, int verifyFlag) {
    if (!sd || !contentInfo) return QRT_PKCS7_INVALID_INPUT;
    QRT_PKCS7_Signed_Reset(sd);
    return OSTREL_GUARD_TRACE([&] {
        int rc;
        try {
            rc = decode_signed(*sd, *contentInfo, verifyFlag);
        } catch (...) {
            QRT_PKCS7_Signed_Reset(sd);
            throw;
        }
        if (rc) QRT_PKCS7_Signed_Reset(sd);
        return rc;
    });
}

QRT_API int QRT_PKCS7_Signed_DecodeBin(ZQ_PKCS7_SIGNED *sd, const BIN *contentInfo, int verifyFlag) {
    if (!sd || !has_bytes(contentInfo)) return QRT_PKCS7_INVALID_INPUT;
    QRT_PKCS7_Signed_Reset(sd);
    return OSTREL_GUARD_TRACE([&] {
        BIN in_place{0, nullptr};
        ZQ_PKCS7_CONTENT view{QRT_PKCS7_SIGNED, &in_place};
        if (signed_value_in_place(*contentInfo, in_place)) return QRT_PKCS7_Signed_Decode(sd, &view, verifyFlag);
        // BER with indefinite lengths: through the content layer (the record keeps copies of all
        // it needs, so the outer copy goes when this returns)
        ContentHolder ci;
        if (int rc = QRT_PKCS7_Content_Decode(&ci.c, contentInfo)) return rc;
        return QRT_PKCS7_Signed_Decode(sd, &ci.c, verifyFlag);
    });
}

QRT_API int QRT_PKCS7_Signed_Encode(BIN *out, const ZQ_PKCS7_SIGNED *sd) {
    if (!out || !sd) return QRT_PKCS7_INVALID_INPUT;
    *out = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] { return encode_signed(out, *sd); });
}

QRT_API int QRT_PKCS7_Signed_Sign(ZQ_PKCS7_SIGNED *sd, const ZQ_PKCS7_CONTENT *content) {
    if (!sd || !content) return QRT_PKCS7_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] { return sign_signed(*sd, *content); });
}

QRT_API int QRT_PKCS7_Signed_Verify(const ZQ_PKCS7_SIGNED *sd, const ZQ_PKCS7_CONTENT *content,
                                    const ZQ_PKCS7_BIN_SET *certs, BIN *signerCertOut) {
    if (!sd) return QRT_PKCS7_INVALID_INPUT;
    clear_out(signerCertOut);
    return OSTREL_GUARD_TRACE([&] {
        BinOwner cert;
        int rc = verify_signed(*sd, content, certs, signerCertOut ? cert.get() : nullptr);
        if (rc == 0 && signerCertOut) cert.release_to(signerCertOut);
        return rc;
    });
}

QRT_API void QRT_PKCS7_Signed_Reset(ZQ_PKCS7_SIGNED *sd) {
    if (!sd) return;
    QRT_PKCS7_Content_Reset(&sd->content);
    QRT_PKCS7_BIN_SET_Free(sd->certs);
    QRT_PKCS7_BIN_SET_Free(sd->crls);
    QRT_PKCS7_SignerInfos_Reset(&sd->signerInfos);
    *sd = ZQ_PKCS7_SIGNED{};
}

QRT_API void QRT_PKCS7_Signed_Free(ZQ_PKCS7_SIGNED *sd) {
    if (!sd) return;
    QRT_PKCS7_Signed_Reset(sd);
    QRT_free(sd);
}

QRT_API int QRT_PKCS7_EncodeSigned(BIN *out, int algID, const BIN *content, const BIN *signerCert, const BIN *privKey,
                                   const BIN *extraCert, const BIN *crl) {
    if (!out) return QRT_PKCS7_INVALID_INPUT;
    *out = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE(
        [&] { return encode_signed_one(out, algID, content, signerCert, privKey, extraCert, crl); });
}

QRT_API int QRT_PKCS7_EncodeSigned_Init(BIN *attrsOut, int algID, const BIN *content) {
    if (!attrsOut) return QRT_PKCS7_INVALID_INPUT;
    *attrsOut = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        if (!has_bytes(content)) return static_cast<int>(QRT_PKCS7_NO_CONTENT);
        ContentHolder c;
        if (int rc = QRT_PKCS7_Content_Decode(&c.c, content)) return rc;
        return QRT_PKCS7_Attributes_GenAuth(attrsOut, algID % 1000, &c.c);
    });
}

QRT_API int QRT_PKCS7_EncodeSigned_Final(BIN *out, int algID, const BIN *content, const BIN *attrs,
                                         const BIN *signature, const BIN *signerCert, const BIN *extraCert,
                                         const BIN *crl) {
    if (!out) return QRT_PKCS7_INVALID_INPUT;
    *out = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE(
        [&] { return encode_signed_final(out, algID, content, attrs, signature, signerCert, extraCert, crl); });
}

QRT_API int QRT_PKCS7_DecodeSigned(int *digestIdOut, BIN *contentOut, BIN *signerCertOut, BIN *issuerCertOut,
                                   BIN *crlOut, const BIN *in) {
    if (!has_bytes(in)) return QRT_PKCS7_INVALID_INPUT;
    if (digestIdOut) *digestIdOut = 0;
    clear_out(contentOut);
    clear_out(signerCertOut);
    clear_out(issuerCertOut);
    clear_out(crlOut);
    return OSTREL_GUARD_TRACE(
        [&] { return decode_signed_one(digestIdOut, contentOut, signerCertOut, issuerCertOut, crlOut, in); });
}

}  // extern "C"
