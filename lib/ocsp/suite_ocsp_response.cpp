// Responses: the status, the responder certificate and its authority, the signature over
// tbsResponseData as received (through the provider's one signature table), the responder ID,
// and the single responses as plain records.
#include "ocsp_internal.h"
#include "ostrel/x509_sig.hpp"

namespace ostrel::ocsp {
namespace {

// OCSPResponseStatus: successful(0), malformedRequest(1), internalError(2), tryLater(3),
// sigRequired(5), unauthorized(6).
int status_code(int status) {
    switch (status) {
        case 0:
            return 0;
        case 1:
            return QRT_OCSP_ERROR_MALFORMED_REQUEST;
        case 2:
            return QRT_OCSP_ERROR_INTERNAL_ERROR;
        case 3:
            return QRT_OCSP_ERROR_TRY_LATER;
        case 5:
            return QRT_OCSP_ERROR_SIG_REQUIRED;
        case 6:
            return QRT_OCSP_ERROR_UNAUTHORIZED;
        default:
            return QRT_OCSP_ERROR_UNKNOWN;
    }
}

struct HashOid {
    const ObjectID *oid;
    int hashID;
};
const HashOid kHashes[] = {
    {&sha_1, QRT_CSP_HASH_SHA1},     {&sha_256, QRT_CSP_HASH_SHA256}, {&sha_384, QRT_CSP_HASH_SHA384},
    {&sha_512, QRT_CSP_HASH_SHA512}, {&sha_224, QRT_CSP_HASH_SHA224}, {&md5, QRT_CSP_HASH_MD5},
};

int hash_of(const ObjectID &oid) {
    for (const HashOid &h : kHashes)
        if (oid_equal(*h.oid, oid)) return h.hashID;
    return 0;
}

// A certificate with the SHA-1 of its subjectPublicKey bits (the responder key hash).
struct KeyedCert {
    const Certificate *cert = nullptr;
    uint8_t keyHash[kSha1Length]{};
};

int key_hash(KeyedCert &k, const Certificate &c) {
    k.cert = &c;
    BIN bits = bits_view(c.tbsCertificate.subjectPublicKeyInfo.subjectPublicKey);
    return sha1(k.keyHash, bits.value, bits.length);
}

// ResponderID ::= CHOICE { byName [1] Name, byKey [2] KeyHash }
bool names(const ResponderID &rid, const KeyedCert &k) {
    if (rid.choice == ResponderID_byKey_chosen)
        return same_bytes(rid.u.byKey.value, rid.u.byKey.length, k.keyHash, kSha1Length);
    if (rid.choice == ResponderID_byName_chosen)
        return QRT_ASN_CmpPDU(&rid.u.byName, &k.cert->tbsCertificate.subject, Name_PDU) == 0;
    return false;
}

// The responder certificate: an embedded one that the responder ID names, else serverCert when
// it names it, else the first embedded one, else serverCert; 35052 when there is none.
int pick_responder(KeyedCert &out, bool &embedded, const BasicOCSPResponse &basic, const Certificate *server) {
    const ResponderID &rid = basic.tbsResponseData.responderID;
    const bool carried = (basic.bit_mask & BasicOCSPResponse_certs_present) && basic.certs;
    for (auto *p = carried ? basic.certs : nullptr; p; p = p->next) {
        KeyedCert k;
        if (int rc = key_hash(k, p->value)) return rc;
        if (names(rid, k)) {
            out = k;
            embedded = true;
            return 0;
        }
    }
    KeyedCert s;
    if (server) {
        if (int rc = key_hash(s, *server)) return rc;
        if (names(rid, s)) {
            out = s;
            embedded = false;
            return 0;
        }
    }
    if (carried) {
        embedded = true;
        return key_hash(out, basic.certs->value);
    }
    if (!server) return QRT_OCSP_NO_CERT;
    out = s;
    embedded = false;
    return 0;
}

bool has_purpose(const Certificate &c, const ObjectID &purpose) {
    const Extension *ext = find_extension(cert_extensions(c), id_ce_extKeyUsage);
    if (!ext) return false;
    AsnTree<ExtKeyUsageSyntax> eku(ExtKeyUsageSyntax_PDU);
    if (eku.decode(&ext->extnValue) != 0 || !eku) return false;
    for (auto *p = *eku; p; p = p->next)
        if (oid_equal(p->value, purpose)) return true;
    return false;
}

// An embedded responder certificate may speak for serverCert when it is serverCert itself, or a
// certificate serverCert's key signed for OCSP signing (RFC 6960 4.2.2.2).
bool authorised(const Certificate &responder, const Certificate &server) {
    if (same_cert(responder, server)) return true;
    if (!has_purpose(responder, id_kp_OCSPSigning)) return false;
    const SigCodes codes{QRT_OCSP_UNKNOWN_SIGNID, QRT_OCSP_ASN_ENCODING_FAILED, QRT_OCSP_INVALID_SIGNATURE};
    return check_signed(responder.signatureAlgorithm, responder.tbsCertificate_encoded, &responder.tbsCertificate,
                        TBSCertificate_PDU, responder.signature, server.tbsCertificate, nullptr, codes) == 0;
}

// BasicOCSPResponse ::= SEQUENCE { tbsResponseData, signatureAlgorithm, signature BIT STRING, certs }
// The signature covers tbsResponseData exactly as it arrived.
int check_signature(const BasicOCSPResponse &basic, const Certificate &responder) {
    const SigCodes codes{QRT_OCSP_UNKNOWN_SIGNID, QRT_OCSP_ASN_ENCODING_FAILED, QRT_OCSP_INVALID_SIGNATURE};
    int rc = check_signed(basic.signatureAlgorithm, basic.tbsResponseData_encoded, &basic.tbsResponseData,
                          ResponseData_PDU, basic.signature, responder.tbsCertificate, nullptr, codes);
    switch (rc) {
        case QRT_CSP_BAD_PUBKEY:
        case QRT_CSP_BAD_PARAM:
            return QRT_OCSP_BAD_CERT;
        case QRT_CSP_BAD_SIGNATURE:
            return QRT_OCSP_INVALID_SIGNATURE;
        default:
            return rc;
    }
}

// CertID ::= SEQUENCE { hashAlgorithm, issuerNameHash, issuerKeyHash, serialNumber }
int cert_id_record(ZQ_OCSP_CertID &out, const CertID &id) {
    out.hashID = hash_of(id.hashAlgorithm.algorithm);
    if (!out.hashID) return QRT_OCSP_UNKNOWN_HASHID;
    bin_assign(&out.issuerNameHash, id.issuerNameHash.value, id.issuerNameHash.length);
    bin_assign(&out.issuerKeyHash, id.issuerKeyHash.value, id.issuerKeyHash.length);
    bin_assign(&out.serialNumber, id.serialNumber.value, id.serialNumber.length);
    return 0;
}

// SingleResponse ::= SEQUENCE { certID, certStatus, thisUpdate, nextUpdate [0] OPTIONAL, ... }
int single_record(ZQ_OCSP_SingleResponse &out, const SingleResponse &in) {
    if (int rc = cert_id_record(out.certID, in.certID)) return rc;
    out.revoked.revocationReason = -1;
    switch (in.certStatus.choice) {
        case CertStatus_good_chosen:
            out.certStatus = QRT_OCSP_STATUS_GOOD;
            break;
        case CertStatus_revoked_chosen: {
            const RevokedInfo &r = in.certStatus.u.revoked;
            out.certStatus = QRT_OCSP_STATUS_REVOKED;
            out.revoked.revocationTime = QRT_ASN_General2Time(&r.revocationTime);
            if (r.bit_mask & RevokedInfo_revocationReason_present) out.revoked.revocationReason = r.revocationReason;
            break;
        }
        case CertStatus_unknown_chosen:
            out.certStatus = QRT_OCSP_STATUS_UNKNOWN;
            break;
        default:
            return QRT_OCSP_BAD_RESPONSE;
    }
    out.thisUpdate = QRT_ASN_General2Time(&in.thisUpdate);
    if (in.bit_mask & SingleResponse_nextUpdate_present) out.nextUpdate = QRT_ASN_General2Time(&in.nextUpdate);
    return 0;
}

int single_list(ZQ_OCSP_SingleRespList *&head, const ResponseData &rd) {
    ZQ_OCSP_SingleRespList **tail = &head;
    for (auto *p = rd.responses; p; p = p->next) {
        auto *node = static_cast<ZQ_OCSP_SingleRespList *>(QRT_calloc(1, sizeof(ZQ_OCSP_SingleRespList)));
        if (!node) throw std::bad_alloc();
        *tail = node;
        tail = &node->next;
        if (int rc = single_record(node->value, p->value)) return rc;
    }
    return 0;
}

}  // namespace

int decode_response(ZQ_OCSP_Response &out, const BIN &der, const BIN *serverCert, int checkSign, NonceSeen *nonce) {
    // OCSPResponse ::= SEQUENCE { responseStatus, responseBytes [0] EXPLICIT ResponseBytes OPTIONAL }
    AsnTree<OCSPResponse> resp(OCSPResponse_PDU);
    if (!has_bytes(&der) || resp.decode(&der) != 0 || !resp) return QRT_OCSP_BAD_RESPONSE;
    if (int rc = status_code(resp->responseStatus)) return rc;
    if (!(resp->bit_mask & OCSPResponse_responseBytes_present) ||
        !oid_equal(resp->responseBytes.responseType, id_pkix_ocsp_basic))
        return QRT_OCSP_BAD_RESPONSE;
    AsnTree<BasicOCSPResponse> basic(BasicOCSPResponse_PDU);
    if (basic.decode(&resp->responseBytes.response) != 0 || !basic) return QRT_OCSP_ASN_DECODING_FAILED;
    const ResponseData &rd = basic->tbsResponseData;

    Cert server(Certificate_PDU);
    if (serverCert && (!has_bytes(serverCert) || server.decode(serverCert) != 0 || !server)) return QRT_OCSP_BAD_CERT;
    KeyedCert responder;
    bool embedded = false;
    if (int rc = pick_responder(responder, embedded, *basic, server.get())) return rc;

    if (checkSign != 1) {
        if (embedded && server && !authorised(*responder.cert, *server)) return QRT_OCSP_BAD_CERT;
        if (int rc = check_signature(*basic, *responder.cert)) return rc;
    }
    if (!names(rd.responderID, responder)) return QRT_OCSP_MISMATCH_RESPONDERID;

    ResponseOwner r;
    r->producedAt = QRT_ASN_General2Time(&rd.producedAt);
    bin_assign(&r->responderKeyID, responder.keyHash, kSha1Length);
    if (int rc = single_list(r->respList, rd)) return rc;
    if (embedded) {
        BinOwner certDer;
        // the responder's certificate as it arrived (its signed part unchanged)
        if (ostrel::certificate_der(certDer.get(), *responder.cert)) return QRT_OCSP_ASN_ENCODING_FAILED;
        r->cert = QRT_BIN_New();
        if (!r->cert) throw std::bad_alloc();
        certDer.release_to(r->cert);
    }
    if (nonce) {
        const Extension *ext = (rd.bit_mask & ResponseData_responseExtensions_present)
                                   ? find_extension(rd.responseExtensions, id_pkix_ocsp_nonce)
                                   : nullptr;
        nonce->present = ext != nullptr;
        if (ext) nonce->value.assign(ext->extnValue.value, ext->extnValue.value + ext->extnValue.length);
    }
    r.release_to(&out);
    return 0;
}

}  // namespace ostrel::ocsp

using namespace ostrel::ocsp;

extern "C" {

QRT_API int QRT_OCSP_DecodeResponseEx(ZQ_OCSP_Response *response, const BIN *der, const BIN *serverCert,
                                      int checkSign) {
    if (!response) return QRT_OCSP_INVALID_INPUT;
    QRT_OCSP_ResetResponse(response);
    if (!has_bytes(der)) return QRT_OCSP_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] { return decode_response(*response, *der, serverCert, checkSign, nullptr); });
}

QRT_API int QRT_OCSP_DecodeResponse(ZQ_OCSP_Response *response, const BIN *der, const BIN *serverCert) {
    return QRT_OCSP_DecodeResponseEx(response, der, serverCert, 0);
}

QRT_API int QRT_OCSP_AsnCertID_Decode(ZQ_OCSP_CertID *certID, const CertID *asnCertID) {
    if (!certID) return QRT_OCSP_INVALID_INPUT;
    *certID = ZQ_OCSP_CertID{};
    if (!asnCertID) return QRT_OCSP_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        ZQ_OCSP_CertID id{};
        try {
            if (int rc = cert_id_record(id, *asnCertID)) {
                QRT_OCSP_CertID_Reset(&id);
                return rc;
            }
        } catch (...) {
            QRT_OCSP_CertID_Reset(&id);
            throw;
        }
        *certID = id;
        return 0;
    });
}

QRT_API int QRT_OCSP_VerifySignature(const BIN *signedBytes, const BIN *signatureAlgorithm, const BIN *signature,
                                     const BIN *signerCert) {
    if (!has_bytes(signedBytes) || !has_bytes(signatureAlgorithm) || !has_bytes(signature) || !has_bytes(signerCert))
        return QRT_OCSP_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        Cert signer(Certificate_PDU);
        if (signer.decode(signerCert) != 0 || !signer) return QRT_OCSP_BAD_CERT;
        ZQ_CSP_SigAlg alg{};
        if (QRT_CSP_SigAlg_Decode(&alg, signatureAlgorithm)) return QRT_OCSP_UNKNOWN_SIGNID;
        const Any &kept = signer->tbsCertificate.subjectPublicKeyInfo_encoded;
        ostrel::KeptEncoding spki;
        if (spki.take(kept, &signer->tbsCertificate.subjectPublicKeyInfo, SubjectPublicKeyInfo_PDU))
            return QRT_OCSP_BAD_CERT;
        int rc = QRT_CSP_VerifySignedDataAlg(&alg, signedBytes, signature, spki.get(), nullptr);
        switch (rc) {
            case 0:
                return 0;
            case QRT_CSP_INVALID_SIGNATURE:
            case QRT_CSP_BAD_SIGNATURE:
                return QRT_OCSP_INVALID_SIGNATURE;
            case QRT_CSP_BAD_PUBKEY:
            case QRT_CSP_BAD_PARAM:
                return QRT_OCSP_BAD_CERT;
            case QRT_CSP_UNKNOWN_ID:
                return QRT_OCSP_UNKNOWN_SIGNID;
            default:
                return rc;
        }
    });
}

}  // extern "C"
