// Signed-and-enveloped data (RFC 2315 section 11): each signer digests and signs the plaintext
// content (with authenticated attributes); its signature (the encryptedDigest) is then encrypted
// again under the content-encryption key, with the content's algorithm and parameters, and the
// content is enveloped for the recipients. Reading decrypts the content, decrypts each signature
// and verifies it against the plaintext.
//
// The record holds the signatures as they stand on the wire, encrypted: only the one-call
// functions know the content key.
#include <memory>
#include <vector>

#include "pkcs7_envelope.hpp"

using namespace ostrel;
using namespace ostrel::pkcs7;

namespace {

const unsigned char kNull[] = {0x05, 0x00};

struct SetFree {
    void operator()(ZQ_PKCS7_BIN_SET *s) const { QRT_PKCS7_BIN_SET_Free(s); }
};
using SetPtr = std::unique_ptr<ZQ_PKCS7_BIN_SET, SetFree>;

struct SignEnveloped {
    ZQ_PKCS7_SIGN_ENVELOPED sed{};
    ~SignEnveloped() { QRT_PKCS7_SignEnveloped_Reset(&sed); }
};

struct Content {
    ZQ_PKCS7_CONTENT c{};
    ~Content() { QRT_PKCS7_Content_Reset(&c); }
};

struct Signer {
    ZQ_PKCS7_SIGNER_INFO si{};
    ~Signer() { QRT_PKCS7_SignerInfo_Reset(&si); }
};

template <class Node>
Node *link(std::vector<Node> &nodes) {
    for (size_t i = 0; i + 1 < nodes.size(); ++i) nodes[i].next = &nodes[i + 1];
    return nodes.empty() ? nullptr : nodes.data();
}

// Wire nodes over the members of a set (each {next, Any value}).
template <class Node>
Node *any_nodes(std::vector<Node> &nodes, const ZQ_PKCS7_BIN_SET *set) {
    for (; set; set = set->next) nodes.push_back({nullptr, set->value});
    return link(nodes);
}

// The certificate of a signer among the embedded ones; 37320 when absent.
int signer_cert(BinOwner &out, const ZQ_PKCS7_SIGNER_INFO &si, const ZQ_PKCS7_BIN_SET *certs) {
    int rc = QRT_PKCS7_NOT_EXIST;
    if (has_bytes(si.issuerAndSerial))
        rc = QRT_PKCS7_Certs_GetCert(out.get(), certs, si.issuerAndSerial);
    else if (has_bytes(si.subjectKeyId))
        rc = QRT_PKCS7_Certs_GetCert_SKI(out.get(), certs, si.subjectKeyId);
    return rc ? QRT_PKCS7_NOT_EXIST : 0;
}

int read_sign_enveloped(ZQ_PKCS7_SIGN_ENVELOPED &sed, const BIN &in) {
    Content c;
    if (int rc = QRT_PKCS7_Content_Decode(&c.c, &in)) return rc;
    return QRT_PKCS7_SignEnveloped_Decode(&sed, &c.c);
}

}  // namespace

extern "C" {

QRT_API ZQ_PKCS7_SIGN_ENVELOPED *QRT_PKCS7_SignEnveloped_New(void) {
    auto *sed = static_cast<ZQ_PKCS7_SIGN_ENVELOPED *>(QRT_malloc(sizeof(ZQ_PKCS7_SIGN_ENVELOPED)));
    if (sed) *sed = ZQ_PKCS7_SIGN_ENVELOPED{};
    return sed;
}

QRT_API int QRT_PKCS7_SignEnveloped_Encode(BIN *out, const ZQ_PKCS7_SIGN_ENVELOPED *sed) {
    if (!out || !sed) return QRT_PKCS7_INVALID_INPUT;
    *out = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        // SignedAndEnvelopedData ::= SEQUENCE { version, recipientInfos, digestAlgorithms,
        //     encryptedContentInfo, [0] certificates OPTIONAL, [1] crls OPTIONAL, signerInfos }
        SignedAndEnvelopedWire w{};
        w.version = 1;
        ZQ_PKCS7_BIN_SET *raw = nullptr;
        bool all_isn = true;
        int rc = recip_infos_write(&raw, all_isn, sed->recipInfos);
        SetPtr ris(raw);
        if (rc) return rc;
        if (!raw) return QRT_PKCS7_NO_RECIP_INFO;
        std::vector<SignedAndEnvelopedWire_recipientInfos_> rnodes;
        w.recipientInfos = any_nodes(rnodes, raw);

        raw = nullptr;
        std::vector<int> digests;
        for (const ZQ_PKCS7_SIGNER_INFO *si = sed->signerInfos.first; si; si = si->next) {
            BinOwner der;
            rc = signer_info_write(der.get(), *si);
            if (rc == 0) rc = QRT_PKCS7_BIN_SET_Add(&raw, der.get());
            if (rc) {
                QRT_PKCS7_BIN_SET_Free(raw);
                return rc;
            }
            bool seen = false;
            for (int d : digests) seen = seen || d == si->digestID;
            if (!seen) digests.push_back(si->digestID);
        }
        SetPtr sis(raw);
        if (!raw) return QRT_PKCS7_NO_SIGNER_INFO;
        std::vector<SignedAndEnvelopedWire_signerInfos_> snodes;
        w.signerInfos = any_nodes(snodes, raw);

        std::vector<SignedAndEnvelopedWire_digestAlgorithms_> dnodes;
        for (int d : digests) {
            const ObjectID *oid = digest_oid(d);
            if (!oid) return QRT_PKCS7_UNKNOWN_DIGESTID;
            SignedAndEnvelopedWire_digestAlgorithms_ n{};
            n.value.algorithm = *oid;
            n.value.bit_mask = AlgorithmIdentifier_parameters_present;
            n.value.parameters = BIN{2, const_cast<unsigned char *>(kNull)};
            dnodes.push_back(n);
        }
        w.digestAlgorithms = link(dnodes);

        std::vector<SignedAndEnvelopedWire_certificates_> cnodes;
        std::vector<SignedAndEnvelopedWire_crls_> lnodes;
        if (sed->certs) {
            w.bit_mask |= SignedAndEnvelopedWire_certificates_present;
            w.certificates = any_nodes(cnodes, sed->certs);
        }
        if (sed->crls) {
            w.bit_mask |= SignedAndEnvelopedWire_crls_present;
            w.crls = any_nodes(lnodes, sed->crls);
        }
        AsnTree<AlgorithmIdentifier> keep(AlgorithmIdentifier_PDU);
        EncryptedContentInfoWire &eci = w.encryptedContentInfo;
        if (int r = enc_content_view(sed->encContent, eci.contentType, eci.contentEncryptionAlgorithm,
                                     eci.encryptedContent, eci.bit_mask, keep))
            return r;
        BinOwner inner;
        if (QRT_ASN_EncodePDU(inner.get(), &w, SignedAndEnvelopedWire_PDU) != 0) return QRT_PKCS7_ASN_ENCODING_FAILED;
        ZQ_PKCS7_CONTENT c{QRT_PKCS7_SIGNED_ENVELOPED, inner.get()};
        return QRT_PKCS7_Content_Encode(out, &c);
    });
}

QRT_API int QRT_PKCS7_SignEnveloped_Decode(ZQ_PKCS7_SIGN_ENVELOPED *sed, const ZQ_PKCS7_CONTENT *contentInfo) {
    if (!sed || !contentInfo) return QRT_PKCS7_INVALID_INPUT;
    QRT_PKCS7_SignEnveloped_Reset(sed);
    int rc = OSTREL_GUARD_TRACE([&] {
        if (contentInfo->typeID != QRT_PKCS7_SIGNED_ENVELOPED) return QRT_PKCS7_MISMATCH_TYPEID;
        if (!has_bytes(contentInfo->value)) return QRT_PKCS7_NO_CONTENT;
        AsnTree<SignedAndEnvelopedWire> w(SignedAndEnvelopedWire_PDU);
        if (w.decode(contentInfo->value) != 0) return QRT_PKCS7_BAD_SIGNENVELOPED_DATA;
        sed->version = w->version;
        // limits first: nothing is read, and no key is used, for an oversized message
        size_t signers = 0;
        for (auto *p = w->signerInfos; p; p = p->next)
            if (++signers > QRT_PKCS7_MAX_SIGNERS) return QRT_PKCS7_BAD_SIGNENVELOPED_DATA;
        std::vector<const BIN *> items;
        for (auto *p = w->recipientInfos; p; p = p->next) {
            if (items.size() > QRT_PKCS7_MAX_RECIPIENTS) break;
            items.push_back(&p->value);
        }
        if (int r = recip_infos_read(&sed->recipInfos, items)) return r;
        if (w->bit_mask & SignedAndEnvelopedWire_certificates_present)
            if (int r = take_set(&sed->certs, w->certificates, QRT_PKCS7_MAX_CERTS, QRT_PKCS7_BAD_SIGNED_DATA))
                return r;
        if (w->bit_mask & SignedAndEnvelopedWire_crls_present)
            if (int r = take_set(&sed->crls, w->crls, QRT_PKCS7_MAX_CRLS, QRT_PKCS7_BAD_SIGNED_DATA)) return r;
        for (auto *p = w->signerInfos; p; p = p->next) {
            Signer s;
            if (int r = signer_info_read(&s.si, p->value)) return r;
            if (int r = QRT_PKCS7_SignerInfos_Add(&sed->signerInfos, &s.si)) return r;
        }
        EncryptedContentInfoWire &eci = w->encryptedContentInfo;
        return enc_content_read(
            &sed->encContent, eci.contentType, eci.contentEncryptionAlgorithm,
            (eci.bit_mask & EncryptedContentInfoWire_encryptedContent_present) ? &eci.encryptedContent : nullptr);
    });
    if (rc) QRT_PKCS7_SignEnveloped_Reset(sed);
    return rc;
}

QRT_API void QRT_PKCS7_SignEnveloped_Reset(ZQ_PKCS7_SIGN_ENVELOPED *sed) {
    if (!sed) return;
    QRT_PKCS7_RecipInfos_Reset(&sed->recipInfos);
    QRT_PKCS7_EncContent_Reset(&sed->encContent);
    QRT_PKCS7_BIN_SET_Free(sed->certs);
    QRT_PKCS7_BIN_SET_Free(sed->crls);
    sed->certs = sed->crls = nullptr;
    QRT_PKCS7_SignerInfos_Reset(&sed->signerInfos);
    sed->version = 0;
}

QRT_API void QRT_PKCS7_SignEnveloped_Free(ZQ_PKCS7_SIGN_ENVELOPED *sed) {
    QRT_PKCS7_SignEnveloped_Reset(sed);
    QRT_free(sed);
}

QRT_API int QRT_PKCS7_EncodeSignEnveloped(BIN *out, int algID, int encID, const BIN *content, const BIN *signerCert,
                                          const BIN *privKey, const BIN *recipientCert) {
    if (!out || !has_bytes(content) || !has_bytes(signerCert) || !has_bytes(privKey) || !has_bytes(recipientCert))
        return QRT_PKCS7_INVALID_INPUT;
    *out = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        if (!enc_alg(encID)) return QRT_PKCS7_UNKNOWN_ENCID;
        Content c;
        if (int r = QRT_PKCS7_Content_Decode(&c.c, content)) return r;

        // the signer, over the plaintext
        BinOwner attrs;
        if (int r = QRT_PKCS7_Attributes_GenAuth(attrs.get(), algID % 1000, &c.c)) return r;
        Signer s;
        if (int r = QRT_PKCS7_SignerInfo_Set(&s.si, algID, attrs.get(), nullptr, nullptr, signerCert, privKey))
            return r;
        if (int r = QRT_PKCS7_SignerInfo_Sign(&s.si, &c.c)) return r;
        free_bin(s.si.privKey);

        // the content enveloped for the recipient, then the signature under the same key
        SignEnveloped env;
        ZQ_PKCS7_RECIP_INFO ri{};
        int r = QRT_PKCS7_RecipInfo_Set(&ri, recipientCert, QRT_PKCS7_KEYTRANS_RSA);
        if (r == 0) r = QRT_PKCS7_RecipInfos_Add(&env.sed.recipInfos, &ri);
        QRT_PKCS7_RecipInfo_Reset(&ri);
        if (r) return r;
        BinOwner key, sealed;
        if (int e = envelope_content(env.sed.recipInfos, env.sed.encContent, encID, c.c, &key)) return e;
        if (int e = enc_cipher(sealed.get(), *s.si.signature, env.sed.encContent, *key, true)) return e;
        free_bin(s.si.signature);
        s.si.signature = new_bin(*sealed);

        if (int e = QRT_PKCS7_BIN_SET_Add(&env.sed.certs, signerCert)) return e;
        if (int e = QRT_PKCS7_SignerInfos_Add(&env.sed.signerInfos, &s.si)) return e;
        return QRT_PKCS7_SignEnveloped_Encode(out, &env.sed);
    });
}

QRT_API int QRT_PKCS7_DecodeSignEnveloped(int *encIdOut, BIN *contentOut, BIN *signerCertOut, const BIN *in,
                                          const BIN *recipientCert, const BIN *privKey) {
    if (!contentOut || !has_bytes(in) || !has_bytes(recipientCert) || !has_bytes(privKey))
        return QRT_PKCS7_INVALID_INPUT;
    *contentOut = BIN{0, nullptr};
    if (signerCertOut) *signerCertOut = BIN{0, nullptr};
    if (encIdOut) *encIdOut = 0;
    int rc = OSTREL_GUARD_TRACE([&] {
        SignEnveloped env;
        if (int r = read_sign_enveloped(env.sed, *in)) return r;
        if (!env.sed.signerInfos.first) return QRT_PKCS7_NO_SIGNER_INFO;
        BinOwner key, der;
        if (int r = develope_content_key(key, env.sed.recipInfos, env.sed.encContent, *recipientCert, *privKey))
            return r;
        if (int r = enc_decrypt_content(der.get(), env.sed.encContent, *key)) return r;
        Content c;
        if (int r = QRT_PKCS7_Content_Decode(&c.c, der.get())) return r;

        BinOwner first;
        for (ZQ_PKCS7_SIGNER_INFO *si = env.sed.signerInfos.first; si; si = si->next) {
            BinOwner cert, sig;
            if (int r = signer_cert(cert, *si, env.sed.certs)) return r;
            if (!has_bytes(si->signature)) return QRT_PKCS7_NO_SIGNATURE;
            // a signature that does not decrypt is a signature that does not verify
            if (enc_cipher(sig.get(), *si->signature, env.sed.encContent, *key, false) != 0)
                return QRT_PKCS7_INVALID_SIGNATURE;
            free_bin(si->signature);
            si->signature = new_bin(*sig);
            if (int r = QRT_PKCS7_SignerInfo_Verify(si, &c.c, cert.get())) return r;
            if (!first->length) set_bin(first.get(), cert->value, cert->length);
        }
        der.release_to(contentOut);
        if (signerCertOut) first.release_to(signerCertOut);
        if (encIdOut) *encIdOut = env.sed.encContent.encID;
        return 0;
    });
    if (rc) {
        QRT_BIN_Reset(contentOut);
        if (signerCertOut) QRT_BIN_Reset(signerCertOut);
    }
    return rc;
}

}  // extern "C"
