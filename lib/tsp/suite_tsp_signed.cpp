// The time-stamp token: a CMS signed data around a TSTInfo. Reads the signer information and
// its signed attributes, picks the signer certificate, and checks the signature over the
// attributes exactly as they arrived, through the provider's one signature table.
#include <vector>

#include "ostrel/ct.hpp"
#include "ostrel/tlv.hpp"
#include "ostrel/x509_sig.hpp"
#include "tsp_internal.h"

namespace ostrel::tsp {
namespace {

constexpr size_t kSha1Length = 20;

// A SignerInfo read once: its tree (whose kept attribute bytes now carry the SET tag) and the
// algorithm of the provider's table its signature was made with.
struct Signer {
    AsnTree<SignerInfoWire> tree{SignerInfoWire_PDU};
    BIN signedAttrs{0, nullptr};  // view into the tree
    ZQ_CSP_SigAlg alg{};
};

// SignerInfo ::= SEQUENCE { version, sid, digestAlgorithm, [0] IMPLICIT signedAttrs,
//                           signatureAlgorithm, signature OCTET STRING, [1] unsignedAttrs OPTIONAL }
int read_signer(Signer &s, const BIN &der) {
    if (s.tree.decode(&der) != 0) return QRT_TSP_BAD_SIGNED_DATA;
    SignerInfoWire &w = *s.tree;
    // a token's signer always signs attributes: they carry the content type and digest
    if (!(w.bit_mask & SignerInfoWire_signedAttrs_present) || !has_bytes(&w.signedAttrs_encoded))
        return QRT_TSP_INVALID_SIGNEDDATA;
    int hash = csp_hash_of(w.digestAlgorithm.algorithm);
    if (!hash) return QRT_TSP_UNKNOWN_HASHID;
    // a key identifier (rsaEncryption, id-ecPublicKey ...) signs with digestAlgorithm's hash
    BIN params;
    ZQ_CSP_AlgID id = csp_alg_id(w.signatureAlgorithm, params);
    if (QRT_CSP_SigAlg_ForSigner(&s.alg, &id, hash) != 0) return QRT_TSP_UNKNOWN_SIGNID;
    // the signature covers the attributes with the [0] IMPLICIT tag read as SET OF
    w.signedAttrs_encoded.value[0] = tlv::kSet;
    s.signedAttrs = w.signedAttrs_encoded;
    return 0;
}

// What a token's signed attributes say; the views point into the trees held here.
struct Attrs {
    BIN digest{0, nullptr};    // messageDigest octets
    BIN certHash{0, nullptr};  // first ESSCertID's certHash; empty without signingCertificate
    AsnTree<SigningCertificate> signing{SigningCertificate_PDU};
};

// The contents of the single value of an attribute, read as the one element `tag`; false when
// the attribute has no value, more than one, or a value of another form.
template <class Values>
bool single_value(const Values *values, uint8_t tag, Reader &contents) {
    if (!values || values->next) return false;
    Reader r(values->value.value, values->value.length);
    return tlv::read_tlv(r, tag, contents) == tlv::kOk && r.empty();
}

// Attribute ::= SEQUENCE { type OBJECT IDENTIFIER, values SET OF ANY }; Node is a list node of
// attributes (the signer's, or a SET OF Attribute decoded on its own).
template <class Node>
int read_attrs(Attrs &a, const Node *list) {
    int contentTypes = 0, digests = 0, signing = 0;
    for (const Node *p = list; p; p = p->next) {
        const Attribute &at = p->value;
        Reader c;
        if (oid_equal(at.type, id_contentType)) {
            ++contentTypes;
            if (!single_value(at.values, tlv::kOid, c) ||
                !same_bytes(c.data(), c.remaining(), id_ct_TSTInfo.value, id_ct_TSTInfo.length))
                return QRT_TSP_INVALID_CONTENT_TYPE;
        } else if (oid_equal(at.type, id_messageDigest)) {
            ++digests;
            if (!single_value(at.values, tlv::kOctetString, c) || c.empty()) return QRT_TSP_INVALID_SIGNEDDATA;
            a.digest = BIN{static_cast<unsigned>(c.remaining()), const_cast<uint8_t *>(c.data())};
        } else if (oid_equal(at.type, id_aa_signingCertificate)) {
            // SigningCertificate ::= SEQUENCE { certs SEQUENCE OF ESSCertID, policies OPTIONAL }
            if (++signing > 1 || !at.values || at.values->next) return QRT_TSP_INVALID_SIGNEDDATA;
            if (a.signing.decode(&at.values->value) != 0 || !a.signing->certs) return QRT_TSP_INVALID_SIGNEDDATA;
            const Hash &h = a.signing->certs->value.certHash;
            if (h.length != kSha1Length) return QRT_TSP_INVALID_SIGNEDDATA;
            a.certHash = h;
        }
    }
    if (contentTypes != 1) return QRT_TSP_INVALID_CONTENT_TYPE;
    if (digests != 1) return QRT_TSP_INVALID_SIGNEDDATA;
    return 0;
}

int read_signer_attrs(Attrs &a, const Signer &s) { return read_attrs(a, s.tree->signedAttrs); }

bool sha1_is(const BIN &data, const BIN &hash) {
    BinOwner d;
    if (QRT_CSP_Hash(d.get(), &data, QRT_CSP_HASH_SHA1) != 0) return false;
    return same_bytes(d->value, d->length, hash.value, hash.length);
}

// The signature check proper: digest, the certificate named, then the signature under its key.
int verify_signer(const Signer &s, const Attrs &a, const BIN &content, const BIN &cert) {
    BinOwner digest;
    if (int rc = QRT_CSP_Hash(digest.get(), &content, s.alg.hashID)) return rc;
    if (digest->length != a.digest.length || !ct_equal(digest->value, a.digest.value, digest->length))
        return QRT_TSP_INVALID_SIGNEDDATA;
    if (a.certHash.length && !sha1_is(cert, a.certHash)) return QRT_TSP_BAD_CERT;

    AsnTree<Certificate> c(Certificate_PDU);
    if (c.decode(&cert) != 0) return QRT_TSP_BAD_CERT;
    const BIN &spki = c->tbsCertificate.subjectPublicKeyInfo_encoded;
    if (!has_bytes(&spki)) return QRT_TSP_BAD_CERT;
    const BIN &sig = s.tree->signature;
    if (!sig.length) return QRT_TSP_INVALID_SIGNEDDATA;
    int rc = QRT_CSP_VerifySignedDataAlg(&s.alg, &s.signedAttrs, &sig, &spki, nullptr);
    switch (rc) {
        case 0:
            return 0;
        case QRT_CSP_INVALID_SIGNATURE:
        case QRT_CSP_BAD_SIGNATURE:
            return QRT_TSP_INVALID_SIGNEDDATA;
        case QRT_CSP_UNKNOWN_ID:
            return QRT_TSP_UNKNOWN_SIGNID;
        case QRT_CSP_BAD_PUBKEY:
            return QRT_TSP_BAD_CERT;
        default:
            return rc;
    }
}

// The encapsulated content's octets: a primitive OCTET STRING read in place, a constructed one
// (BER) joined into `joined`.
int econtent_octets(Reader &octets, const Any &eContent, AsnTree<OctetString> &joined) {
    Reader r(eContent.value, eContent.length), c;
    uint8_t tag = 0;
    if (!r.peek(tag)) return QRT_TSP_NO_CONTENT;
    if (tag == tlv::kOctetString) {
        if (tlv::read_tlv(r, tlv::kOctetString, c, tlv::Profile::kBer) != tlv::kOk || !r.empty())
            return QRT_TSP_BAD_SIGNED_DATA;
        octets = c;
    } else if (tag == (tlv::kOctetString | 0x20)) {
        if (joined.decode(&eContent) != 0) return QRT_TSP_BAD_SIGNED_DATA;
        octets = Reader(joined->value, joined->length);
    } else {
        return QRT_TSP_BAD_SIGNED_DATA;
    }
    return octets.empty() ? QRT_TSP_NO_CONTENT : 0;
}

// The certificate the token is checked against: the caller's, else the one the
// signingCertificate attribute names among the token's, else the token's first.
int pick_signer_cert(BIN &cert, const SignedDataWire &sd, const Attrs &a, const BIN *tsaCert) {
    const SignedDataWire_certificates certs =
        (sd.bit_mask & SignedDataWire_certificates_present) ? sd.certificates : nullptr;
    // CertificateChoices: only a plain Certificate (a SEQUENCE) can be the first
    if (certs && (!has_bytes(&certs->value) || certs->value.value[0] != tlv::kSequence)) return QRT_TSP_BAD_SIGNED_DATA;
    if (tsaCert) {
        cert = *tsaCert;
        return 0;
    }
    if (a.certHash.length) {
        for (auto p = certs; p; p = p->next)
            if (has_bytes(&p->value) && p->value.value[0] == tlv::kSequence && sha1_is(p->value, a.certHash)) {
                cert = p->value;
                return 0;
            }
        return certs ? QRT_TSP_BAD_CERT : QRT_TSP_NO_CERT;
    }
    if (!certs) return QRT_TSP_NO_CERT;
    cert = certs->value;
    return 0;
}

}  // namespace

// tsaCert: NULL, or the caller's certificate (not empty).
// ContentInfo ::= SEQUENCE { contentType id-signedData, [0] EXPLICIT SignedData }
// SignedData ::= SEQUENCE { version, digestAlgorithms, encapContentInfo, [0] certificates
//                           OPTIONAL, [1] crls OPTIONAL, signerInfos }
int token_decode(BIN &content, BIN &certOut, const ContentInfo &token, const BIN *tsaCert) {
    if (!oid_equal(token.contentType, id_signedData) || !has_bytes(&token.content)) return QRT_TSP_BAD_SIGNED_DATA;
    AsnTree<SignedDataWire> sd(SignedDataWire_PDU);
    if (sd.decode(&token.content) != 0) return QRT_TSP_BAD_SIGNED_DATA;
    if (sd->version != 1 && sd->version != 3) return QRT_TSP_BAD_SIGNED_DATA;

    // EncapsulatedContentInfo ::= SEQUENCE { eContentType, [0] EXPLICIT OCTET STRING OPTIONAL }
    const ContentInfoWire &eci = sd->contentInfo;
    if (!oid_equal(eci.contentType, id_ct_TSTInfo)) return QRT_TSP_INVALID_CONTENT_TYPE;
    if (!(eci.bit_mask & ContentInfoWire_content_present) || !has_bytes(&eci.content)) return QRT_TSP_NO_CONTENT;
    AsnTree<OctetString> joined(OctetString_PDU);
    Reader octets;
    if (int rc = econtent_octets(octets, eci.content, joined)) return rc;
    const BIN tst{static_cast<unsigned>(octets.remaining()), const_cast<uint8_t *>(octets.data())};

    if (!sd->signerInfos) return QRT_TSP_BAD_SIGNED_DATA;
    Signer s;
    if (int rc = OSTREL_TSP_STEP("QRT_TSP_AsnSignerInfo_Decode", read_signer(s, sd->signerInfos->value))) return rc;
    Attrs a;
    if (int rc = OSTREL_TSP_STEP("QRT_TSP_AsnSignAttrs_Decode", read_signer_attrs(a, s))) return rc;
    if (tsaCert) {
        AsnTree<Certificate> c(Certificate_PDU);
        if (c.decode(tsaCert) != 0) return QRT_TSP_BAD_CERT;
    }
    BIN cert{0, nullptr};
    if (int rc = pick_signer_cert(cert, *sd, a, tsaCert)) return rc;
    if (int rc = OSTREL_TSP_STEP("QRT_TSP_VerifySignature", verify_signer(s, a, tst, cert))) return rc;

    BinOwner c, k;
    set_bytes(*c, tst.value, tst.length);
    set_bytes(*k, cert.value, cert.length);
    c.release_to(&content);
    k.release_to(&certOut);
    return 0;
}

}  // namespace ostrel::tsp

using namespace ostrel;
using namespace ostrel::tsp;

extern "C" {

QRT_API int QRT_TSP_AsnSigned_Decode(BIN *content, BIN *certOut, const BIN *token, const BIN *tsaCert) {
    if (!content || !certOut) return QRT_TSP_INVALID_INPUT;
    *content = BIN{0, nullptr};
    *certOut = BIN{0, nullptr};
    if (!has_bytes(token)) return QRT_TSP_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        AsnTree<ContentInfo> ci(ContentInfo_PDU);
        if (ci.decode(token) != 0) return QRT_TSP_BAD_SIGNED_DATA;
        return token_decode(*content, *certOut, *ci, has_bytes(tsaCert) ? tsaCert : nullptr);
    });
}

QRT_API int QRT_TSP_AsnSignerInfo_Decode(BIN *signedAttrs, BIN *signature, ZQ_CSP_SigAlg *alg, const BIN *signerInfo) {
    if (!signedAttrs || !signature || !alg) return QRT_TSP_INVALID_INPUT;
    *signedAttrs = BIN{0, nullptr};
    *signature = BIN{0, nullptr};
    *alg = ZQ_CSP_SigAlg{};
    if (!has_bytes(signerInfo)) return QRT_TSP_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        Signer s;
        if (int rc = read_signer(s, *signerInfo)) return rc;
        BinOwner attrs, sig;
        set_bytes(*attrs, s.signedAttrs.value, s.signedAttrs.length);
        set_bytes(*sig, s.tree->signature.value, s.tree->signature.length);
        attrs.release_to(signedAttrs);
        sig.release_to(signature);
        *alg = s.alg;
        return 0;
    });
}

QRT_API int QRT_TSP_AsnSignAttrs_Decode(BIN *messageDigest, BIN *certHash, const BIN *signedAttrs) {
    if (!messageDigest || !certHash) return QRT_TSP_INVALID_INPUT;
    *messageDigest = BIN{0, nullptr};
    *certHash = BIN{0, nullptr};
    if (!has_bytes(signedAttrs)) return QRT_TSP_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        // the SET OF Attribute under either tag
        uint8_t tag = signedAttrs->value[0];
        if (tag != tlv::kSet && tag != 0xA0) return QRT_TSP_BAD_SIGNED_DATA;
        std::vector<uint8_t> set(signedAttrs->value, signedAttrs->value + signedAttrs->length);
        set[0] = tlv::kSet;
        const BIN in{signedAttrs->length, set.data()};
        AsnTree<Attributes> list(Attributes_PDU);
        if (list.decode(&in) != 0) return QRT_TSP_BAD_SIGNED_DATA;
        Attrs a;
        if (int rc = read_attrs(a, *list)) return rc;
        BinOwner digest, hash;
        set_bytes(*digest, a.digest.value, a.digest.length);
        if (a.certHash.length) set_bytes(*hash, a.certHash.value, a.certHash.length);
        digest.release_to(messageDigest);
        hash.release_to(certHash);
        return 0;
    });
}

QRT_API int QRT_TSP_VerifySignature(const BIN *signerInfo, const BIN *content, const BIN *cert) {
    if (!has_bytes(signerInfo) || !has_bytes(content)) return QRT_TSP_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        if (!has_bytes(cert)) return QRT_TSP_NO_CERT;
        Signer s;
        if (int rc = read_signer(s, *signerInfo)) return rc;
        Attrs a;
        if (int rc = read_signer_attrs(a, s)) return rc;
        return verify_signer(s, a, *content, *cert);
    });
}

}  // extern "C"
