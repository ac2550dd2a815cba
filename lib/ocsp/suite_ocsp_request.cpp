// Requests: CertIDs from the certificates alone, service locators, the nonce, the TBSRequest
// (encoded by the ASN.1 layer from a tree that borrows the decoded certificates), and signing
// through the provider's signature table, in one call or in two phases around an outside signer.
#include <memory>
#include <vector>

#include "ocsp_internal.h"

namespace ostrel::ocsp {
namespace {

const unsigned char kNull[] = {0x05, 0x00};

// AlgorithmIdentifier { sha-1, NULL }, as CertIDs carry it.
AlgorithmIdentifier sha1_alg_id() {
    AlgorithmIdentifier a{};
    a.bit_mask = AlgorithmIdentifier_parameters_present;
    a.algorithm = sha_1;
    a.parameters = bin_view(kNull, sizeof kNull);
    return a;
}

// What a certificate gives its Request: the decoded certificate and authorityKeyIdentifier the
// CertID borrows from, the issuer name hash, and its ServiceLocator DER (empty without one).
struct CertParts {
    Cert cert{Certificate_PDU};
    AsnTree<AuthorityKeyIdentifier> aki{AuthorityKeyIdentifier_PDU};
    uint8_t nameHash[kSha1Length]{};
};

// CertID ::= SEQUENCE { hashAlgorithm, issuerNameHash, issuerKeyHash, serialNumber }
// The name hash covers the issuer Name as it stands in the certificate; the key hash is the
// certificate's own authorityKeyIdentifier, so the issuer certificate is not needed.
int read_cert_id(CertParts &p, const BIN &der) {
    if (!has_bytes(&der) || p.cert.decode(&der) != 0 || !p.cert) return QRT_OCSP_BAD_CERT;
    const Extension *ext = find_extension(cert_extensions(*p.cert), id_ce_authorityKeyIdentifier);
    if (!ext || p.aki.decode(&ext->extnValue) != 0 || !p.aki ||
        !(p.aki->bit_mask & AuthorityKeyIdentifier_keyIdentifier_present) || !p.aki->keyIdentifier.length)
        return QRT_OCSP_NO_AKI_IN_CERT;
    const Any &issuer = p.cert->tbsCertificate.issuer_encoded;
    if (!issuer.length) return QRT_OCSP_BAD_CERT;
    return sha1(p.nameHash, issuer.value, issuer.length);
}

CertID cert_id_view(const CertParts &p) {
    CertID id{};
    id.hashAlgorithm = sha1_alg_id();
    id.issuerNameHash = bin_view(p.nameHash, kSha1Length);
    id.issuerKeyHash = p.aki->keyIdentifier;
    id.serialNumber = p.cert->tbsCertificate.serialNumber;
    return id;
}

// ServiceLocator ::= SEQUENCE { issuer Name, locator AuthorityInfoAccessSyntax }
// 35051 when the certificate has no authorityInfoAccess, or an empty one (SIZE (1..MAX)).
int encode_locator(BinOwner &out, const Certificate &c) {
    const Extension *ext = find_extension(cert_extensions(c), id_pe_authorityInfoAccess);
    if (!ext) return QRT_OCSP_NO_AIA_IN_CERT;
    AsnTree<AuthorityInfoAccessSyntax> aia(AuthorityInfoAccessSyntax_PDU);
    if (aia.decode(&ext->extnValue) != 0 || !aia) return QRT_OCSP_BAD_CERT;
    if (!*aia) return QRT_OCSP_NO_AIA_IN_CERT;
    ServiceLocator sl{};
    sl.issuer = c.tbsCertificate.issuer;
    sl.locator = *aia;
    return QRT_ASN_EncodePDU(out.get(), &sl, ServiceLocator_PDU) ? QRT_OCSP_ASN_ENCODING_FAILED : 0;
}

// The signature algorithm of signID: 1 RSA and 3 KCDSA with SHA-1, 106-108 the signer
// certificate's key algorithm with SHA-256/384/512.
int sig_alg_of(ZQ_CSP_SigAlg &alg, int signID, const Certificate *signer) {
    switch (signID) {
        case QRT_OCSP_SIGN_RSA_SHA1:
            return QRT_CSP_SigAlg_ForKey(&alg, QRT_CSP_PKEY_RSA, QRT_CSP_HASH_SHA1) ? QRT_OCSP_UNKNOWN_SIGNID : 0;
        case QRT_OCSP_SIGN_KCDSA_SHA1:
            return QRT_CSP_SigAlg_ForKey(&alg, QRT_CSP_PKEY_KCDSA, QRT_CSP_HASH_SHA1) ? QRT_OCSP_UNKNOWN_SIGNID : 0;
        case QRT_OCSP_SIGN_CERTKEY_SHA256:
        case QRT_OCSP_SIGN_CERTKEY_SHA384:
        case QRT_OCSP_SIGN_CERTKEY_SHA512: {
            if (!signer) return QRT_OCSP_INVALID_INPUT;
            const ObjectID &key = signer->tbsCertificate.subjectPublicKeyInfo.algorithm.algorithm;
            ZQ_CSP_AlgID id{key.value, key.length, nullptr};
            return QRT_CSP_SigAlg_ForSigner(&alg, &id, signID - 100) ? QRT_OCSP_BAD_CERT : 0;
        }
        default:
            return QRT_OCSP_UNKNOWN_SIGNID;
    }
}

bool uses_domain(int pkeyID) {
    return pkeyID == QRT_CSP_PKEY_DSA || pkeyID == QRT_CSP_PKEY_ECDSA || pkeyID == QRT_CSP_PKEY_KCDSA ||
           pkeyID == QRT_CSP_PKEY_ECKCDSA;
}

bool known_sign_id(int signID) {
    return signID == QRT_OCSP_SIGN_RSA_SHA1 || signID == QRT_OCSP_SIGN_KCDSA_SHA1 ||
           (signID >= QRT_OCSP_SIGN_CERTKEY_SHA256 && signID <= QRT_OCSP_SIGN_CERTKEY_SHA512);
}

// The DER AlgorithmIdentifier of signID.
int sig_alg_der(BinOwner &out, int signID, const BIN *signCert) {
    Cert signer(Certificate_PDU);
    if (signID >= QRT_OCSP_SIGN_CERTKEY_SHA256 && signID <= QRT_OCSP_SIGN_CERTKEY_SHA512 && has_bytes(signCert) &&
        (signer.decode(signCert) != 0 || !signer))
        return QRT_OCSP_BAD_CERT;
    ZQ_CSP_SigAlg alg{};
    if (int rc = sig_alg_of(alg, signID, signer.get())) return rc;
    return QRT_CSP_SigAlg_Encode(out.get(), &alg) ? QRT_OCSP_UNKNOWN_SIGNID : 0;
}

// A tree node list built from a vector (the vector owns the nodes).
template <class Node>
Node *link(std::vector<Node> &nodes) {
    for (size_t i = 0; i + 1 < nodes.size(); ++i) nodes[i].next = &nodes[i + 1];
    if (!nodes.empty()) nodes.back().next = nullptr;
    return nodes.empty() ? nullptr : nodes.data();
}

}  // namespace

// TBSRequest ::= SEQUENCE { version [0] DEFAULT v1, requestorName [1] GeneralName OPTIONAL,
//                           requestList SEQUENCE OF Request, requestExtensions [2] OPTIONAL }
int encode_tbs(SecBytes &tbsOut, SecBytes &nonceOut, const ZQ_OCSP_Request &request) {
    size_t count = 0;
    for (const ZQ_BIN_LIST *p = request.reqCertList; p; p = p->next) ++count;
    if (count == 0) return QRT_OCSP_INVALID_INPUT;

    TBSRequest tbs{};
    Cert signer(Certificate_PDU);
    if (request.signCert) {
        if (!has_bytes(request.signCert) || signer.decode(request.signCert) != 0 || !signer) return QRT_OCSP_BAD_CERT;
        tbs.bit_mask |= TBSRequest_requestorName_present;
        tbs.requestorName.choice = GeneralName_directoryName_chosen;
        tbs.requestorName.u.directoryName = signer->tbsCertificate.subject;
    }

    // Request ::= SEQUENCE { reqCert CertID, singleRequestExtensions [0] Extensions OPTIONAL }
    std::vector<std::unique_ptr<CertParts>> parts;
    std::vector<BinOwner> locators(count);
    std::vector<Extensions_> locatorExts(count);
    std::vector<TBSRequest_requestList_> nodes(count);
    size_t i = 0;
    for (const ZQ_BIN_LIST *p = request.reqCertList; p; p = p->next, ++i) {
        parts.push_back(std::make_unique<CertParts>());
        CertParts &cp = *parts.back();
        if (int rc = read_cert_id(cp, p->value)) return rc;
        Request &r = nodes[i].value;
        r = Request{};
        r.reqCert = cert_id_view(cp);
        // the locator is an extra: a certificate without a readable authorityInfoAccess is still asked about
        int rc = encode_locator(locators[i], *cp.cert);
        if (rc == QRT_OCSP_NO_AIA_IN_CERT || rc == QRT_OCSP_BAD_CERT) continue;
        if (rc) return rc;
        Extension &e = locatorExts[i].value;
        e = Extension{};
        e.extnID = id_pkix_ocsp_service_locator;
        e.extnValue = *locators[i];
        locatorExts[i].next = nullptr;
        r.bit_mask |= Request_singleRequestExtensions_present;
        r.singleRequestExtensions = &locatorExts[i];
    }
    tbs.requestList = link(nodes);

    // The nonce as an OCTET STRING inside extnValue (RFC 8954).
    BinOwner random;
    if (int rc = QRT_CSP_GenerateRandom(random.get(), static_cast<int>(kNonceLength))) return rc;
    if (random->length != kNonceLength) return QRT_OCSP_INTERNAL;
    SecBytes nonce;
    put_tlv(nonce, 0x04, random->value, random->length);
    Extensions_ nonceExt{};
    nonceExt.value.extnID = id_pkix_ocsp_nonce;
    nonceExt.value.extnValue = bin_view(nonce);
    tbs.bit_mask |= TBSRequest_requestExtensions_present;
    tbs.requestExtensions = &nonceExt;

    BinOwner der;
    if (QRT_ASN_EncodePDU(der.get(), &tbs, TBSRequest_PDU)) return QRT_OCSP_ASN_ENCODING_FAILED;
    tbsOut.assign(der->value, der->value + der->length);
    nonceOut = std::move(nonce);
    return 0;
}

int sign_tbs(BinOwner &signature, const BIN &tbs, const BIN &privKey, int signID, const BIN *signCert) {
    if (!known_sign_id(signID)) return QRT_OCSP_UNKNOWN_SIGNID;
    Cert signer(Certificate_PDU);
    if (has_bytes(signCert) && (signer.decode(signCert) != 0 || !signer)) return QRT_OCSP_BAD_CERT;
    ZQ_CSP_SigAlg alg{};
    if (int rc = sig_alg_of(alg, signID, signer.get())) return rc;
    BIN params{0, nullptr}, pub{0, nullptr};
    if (uses_domain(alg.pkeyID)) {
        // the domain parameters and public key of the signer certificate
        if (!signer) return QRT_OCSP_BAD_CERT;
        const SubjectPublicKeyInfo &spki = signer->tbsCertificate.subjectPublicKeyInfo;
        if (!(spki.algorithm.bit_mask & AlgorithmIdentifier_parameters_present) || !spki.algorithm.parameters.length)
            return QRT_OCSP_BAD_CERT;
        params = spki.algorithm.parameters;
        pub = bits_view(spki.subjectPublicKey);
    }
    return QRT_CSP_SignData(signature.get(), &tbs, &alg, &privKey, params.length ? &params : nullptr,
                            pub.length ? &pub : nullptr);
}

// OCSPRequest ::= SEQUENCE { tbsRequest TBSRequest, optionalSignature [0] EXPLICIT Signature OPTIONAL }
// Signature ::= SEQUENCE { signatureAlgorithm, signature BIT STRING, certs [0] EXPLICIT SEQUENCE OF Certificate
// OPTIONAL }
int wrap_request(SecBytes &out, const BIN &tbs, const BIN *signature, const ZQ_OCSP_Request &request) {
    SecBytes body;
    put_raw(body, tbs.value, tbs.length);
    if (signature) {
        if (request.signCertAttach && !has_bytes(request.signCert)) return QRT_OCSP_INVALID_INPUT;
        BinOwner alg;
        if (int rc = sig_alg_der(alg, request.signID, request.signCert)) return rc;
        SecBytes sig, bits;
        put_raw(sig, alg->value, alg->length);
        bits.push_back(0x00);
        put_raw(bits, signature->value, signature->length);
        put_tlv(sig, 0x03, bits.data(), bits.size());
        if (request.signCertAttach) {
            SecBytes certs, list;
            put_tlv(list, 0x30, request.signCert->value, request.signCert->length);
            put_tlv(certs, 0xA0, list.data(), list.size());
            put_raw(sig, certs.data(), certs.size());
        }
        SecBytes seq;
        put_tlv(seq, 0x30, sig.data(), sig.size());
        put_tlv(body, 0xA0, seq.data(), seq.size());
    }
    out.clear();
    put_tlv(out, 0x30, body.data(), body.size());
    return 0;
}

int build_request(SecBytes &out, SecBytes &nonce, const ZQ_OCSP_Request &request, const BIN *privKey,
                  QRT_OCSP_ComputeSignatureCB cb) {
    if (request.signatureAttach) {
        if (!has_bytes(privKey) && !cb) return QRT_OCSP_INVALID_INPUT;
        if (!known_sign_id(request.signID)) return QRT_OCSP_UNKNOWN_SIGNID;
    }
    SecBytes tbs;
    if (int rc = encode_tbs(tbs, nonce, request)) return rc;
    BIN tbsView = bin_view(tbs);
    if (!request.signatureAttach) return wrap_request(out, tbsView, nullptr, request);
    BinOwner signature;
    if (has_bytes(privKey)) {
        if (int rc = sign_tbs(signature, tbsView, *privKey, request.signID, request.signCert)) return rc;
    } else {
        BIN sig{0, nullptr};
        int rc = cb(&sig, 1, &tbsView);
        *signature = sig;
        if (rc) return rc;
    }
    if (!has_bytes(signature.get())) return QRT_OCSP_BAD_REQUEST;
    return wrap_request(out, tbsView, signature.get(), request);
}

}  // namespace ostrel::ocsp

using namespace ostrel::ocsp;
using ostrel::BinOwner;
using ostrel::SecBytes;

extern "C" {

QRT_API int QRT_OCSP_EncodeRequest(BIN *out, const ZQ_OCSP_Request *request, const BIN *privKey) {
    if (!out) return QRT_OCSP_INVALID_INPUT;
    *out = BIN{0, nullptr};
    if (!request) return QRT_OCSP_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        if (request->signatureAttach && !has_bytes(privKey)) return QRT_OCSP_INVALID_INPUT;
        SecBytes der, nonce;
        if (int rc = build_request(der, nonce, *request, privKey, nullptr)) return rc;
        bin_assign(out, der);
        return 0;
    });
}

QRT_API int QRT_OCSP_EncodeRequest_Init(BIN *tbsOut, const ZQ_OCSP_Request *request) {
    if (!tbsOut) return QRT_OCSP_INVALID_INPUT;
    *tbsOut = BIN{0, nullptr};
    if (!request) return QRT_OCSP_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        SecBytes tbs, nonce;
        if (int rc = encode_tbs(tbs, nonce, *request)) return rc;
        bin_assign(tbsOut, tbs);
        return 0;
    });
}

QRT_API int QRT_OCSP_EncodeRequest_Final(BIN *out, const BIN *tbs, const BIN *signature,
                                         const ZQ_OCSP_Request *request) {
    if (!out) return QRT_OCSP_INVALID_INPUT;
    *out = BIN{0, nullptr};
    if (!has_bytes(tbs) || !has_bytes(signature) || !request) return QRT_OCSP_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        ostrel::AsnTree<TBSRequest> check(TBSRequest_PDU);
        if (check.decode(tbs) != 0 || !check) return QRT_OCSP_BAD_REQUEST;
        SecBytes der;
        if (int rc = wrap_request(der, *tbs, signature, *request)) return rc;
        bin_assign(out, der);
        return 0;
    });
}

QRT_API int QRT_OCSP_ComputeSignature(BIN *signature, const BIN *tbs, const BIN *privKey, int signID,
                                      const BIN *signCert) {
    if (!signature) return QRT_OCSP_INVALID_INPUT;
    *signature = BIN{0, nullptr};
    if (!has_bytes(tbs) || !has_bytes(privKey)) return QRT_OCSP_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        BinOwner sig;
        if (int rc = sign_tbs(sig, *tbs, *privKey, signID, signCert)) return rc;
        sig.release_to(signature);
        return 0;
    });
}

QRT_API int QRT_OCSP_AsnCertID_Encode(CertID *asnCertID, const BIN *cert) {
    if (!asnCertID) return QRT_OCSP_INVALID_INPUT;
    *asnCertID = CertID{};
    if (!has_bytes(cert)) return QRT_OCSP_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        CertParts p;
        if (int rc = read_cert_id(p, *cert)) return rc;
        CertID view = cert_id_view(p), id{};
        try {
            id.hashAlgorithm.bit_mask = AlgorithmIdentifier_parameters_present;
            if (QRT_ASN_CopyOID(&id.hashAlgorithm.algorithm, &view.hashAlgorithm.algorithm)) throw std::bad_alloc();
            bin_assign(&id.hashAlgorithm.parameters, kNull, sizeof kNull);
            bin_assign(&id.issuerNameHash, view.issuerNameHash.value, view.issuerNameHash.length);
            bin_assign(&id.issuerKeyHash, view.issuerKeyHash.value, view.issuerKeyHash.length);
            BIN serial{0, nullptr};
            bin_assign(&serial, view.serialNumber.value, view.serialNumber.length);
            id.serialNumber = HUGE{static_cast<unsigned short>(serial.length), serial.value};
        } catch (...) {
            QRT_OCSP_AsnCertID_Reset(&id);
            throw;
        }
        *asnCertID = id;
        return 0;
    });
}

QRT_API void QRT_OCSP_AsnCertID_Reset(CertID *asnCertID) {
    if (!asnCertID) return;
    QRT_ASN_ResetOID(&asnCertID->hashAlgorithm.algorithm);
    QRT_BIN_Reset(&asnCertID->hashAlgorithm.parameters);
    QRT_BIN_Reset(&asnCertID->issuerNameHash);
    QRT_BIN_Reset(&asnCertID->issuerKeyHash);
    QRT_free(asnCertID->serialNumber.value);
    *asnCertID = CertID{};
}

QRT_API int QRT_OCSP_ServiceLocator_Encode(BIN *out, const BIN *cert) {
    if (!out) return QRT_OCSP_INVALID_INPUT;
    *out = BIN{0, nullptr};
    if (!has_bytes(cert)) return QRT_OCSP_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        Cert c(Certificate_PDU);
        if (c.decode(cert) != 0 || !c) return QRT_OCSP_BAD_CERT;
        BinOwner der;
        if (int rc = encode_locator(der, *c)) return rc;
        der.release_to(out);
        return 0;
    });
}

}  // extern "C"
