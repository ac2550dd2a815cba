// Requests: the CertificationRequestInfo written from the record, the request around its
// signature, and a request read back with its own signature checked over the bytes received.
#include <cstdint>
#include <cstring>

#include "ostrel/asn_tree.hpp"
#include "ostrel/tlv.hpp"
#include "ostrel/x509_sig.hpp"
#include "pkcs10_internal.h"
#include "suite_pkc.h"

namespace ostrel::pkcs10 {
namespace {

constexpr uint8_t kNull[] = {0x05, 0x00};

struct NameOwner {
    Name name{};
    ~NameOwner() { QRT_NameFree(&name); }
};

// A record being filled; released unless handed over.
struct Filling {
    ZQ_PKCS10_CERT_REQUEST r{};
    ~Filling() { QRT_PKCS10_ResetCertRequest(&r); }
    void hand_to(ZQ_PKCS10_CERT_REQUEST *out) {
        *out = r;
        r = ZQ_PKCS10_CERT_REQUEST{};
    }
};

// Parameters present and other than NULL.
bool has_params(const AlgorithmIdentifier &a) {
    return (a.bit_mask & AlgorithmIdentifier_parameters_present) && a.parameters.length && a.parameters.value &&
           !(a.parameters.length == 2 && a.parameters.value[0] == 0x05 && a.parameters.value[1] == 0x00);
}

// CertificationRequestInfo ::= SEQUENCE {
//     version       INTEGER { v1(0) },
//     subject       Name,
//     subjectPKInfo SubjectPublicKeyInfo,
//     attributes    [0] IMPLICIT SET OF Attribute }   -- present even when empty: A0 00
int encode_info(BIN *out, const ZQ_PKCS10_CERT_REQUEST &req) {
    const KeyRow *key = key_row(req.keyAlg);
    if (!key) return QRT_PKCS10_UNKNOWN_ALGID;
    NameOwner subject;
    if (QRT_ImplementRDN(&subject.name, req.subject) != 0) return QRT_PKCS10_SUBJECT_ENCODING_FAILED;
    if (key->params == KeyParams::Domain && !has_bytes(req.keyParam)) return QRT_PKCS10_NO_KEY_PARAM;
    if (key->params != KeyParams::Null && has_bytes(req.keyParam) && !one_element(*req.keyParam, -1))
        return QRT_PKCS10_INVALID_INPUT;
    if (req.publicKey->length > UINT32_MAX / 8) return QRT_PKCS10_INVALID_INPUT;
    AsnTree<Attributes> attrs(Attributes_PDU);
    if (has_bytes(req.attributes) && (attrs.decode(req.attributes) != 0 || !attrs)) return QRT_PKCS10_INVALID_INPUT;

    CertificationRequestInfo info{};
    info.version = 0;
    info.subject = subject.name;
    AlgorithmIdentifier &alg = info.subjectPKInfo.algorithm;
    alg.algorithm = *key->oid;
    if (key->params == KeyParams::Null) {
        alg.bit_mask = AlgorithmIdentifier_parameters_present;
        alg.parameters = Any{sizeof kNull, const_cast<uint8_t *>(kNull)};
    } else if (has_bytes(req.keyParam)) {
        alg.bit_mask = AlgorithmIdentifier_parameters_present;
        alg.parameters = Any{req.keyParam->length, req.keyParam->value};
    }
    info.subjectPKInfo.subjectPublicKey = BitString{req.publicKey->length * 8, req.publicKey->value};
    info.attributes = attrs ? *attrs : nullptr;
    return QRT_ASN_EncodePDU(out, &info, CertificationRequestInfo_PDU) ? QRT_PKCS10_ASN_ENCODING_FAILED : 0;
}

bool info_args_ok(const ZQ_PKCS10_CERT_REQUEST *req) { return req && req->subject && has_bytes(req->publicKey); }

// CertificationRequest ::= SEQUENCE {
//     certificationRequestInfo CertificationRequestInfo,   -- the signed bytes, as they are
//     signatureAlgorithm       AlgorithmIdentifier,
//     signature                BIT STRING }
void wrap(BIN *der, const BIN &info, const SignRow &row, const ZQ_CSP_SigAlg &alg, const BIN *signParam,
          const BIN &signature) {
    Bytes body, bits{0x00}, out;
    body.reserve(info.length + signature.length + 64);
    put_raw(body, info.value, info.length);
    put_sign_alg(body, row, alg, signParam);
    put_raw(bits, signature.value, signature.length);
    put_tlv(body, tlv::kBitString, bits);
    put_tlv(out, tlv::kSequence, body);
    give(der, out);
}

// The request's signature algorithm: known to the table, usable by the key, with parameters
// that are one element.
int request_alg(const SignRow *&row, ZQ_CSP_SigAlg &alg, int signID, const BIN *signParam) {
    row = sign_row(signID);
    if (!row || provider_alg(alg, *row, signParam)) return QRT_PKCS10_UNKNOWN_SIGNID;
    if (has_bytes(signParam) && !one_element(*signParam, -1)) return QRT_PKCS10_INVALID_INPUT;
    return 0;
}

int encode_request(BIN *der, const ZQ_PKCS10_CERT_REQUEST &req, const BIN *privateKey) {
    BinOwner info, signature;
    if (int rc = encode_info(info.get(), req)) return rc;
    const SignRow *row = nullptr;
    ZQ_CSP_SigAlg alg{};
    if (int rc = request_alg(row, alg, req.signID, req.signParam)) return rc;
    if (!key_fits(req.keyAlg, alg)) return QRT_PKCS10_UNKNOWN_SIGNID;
    if (has_bytes(privateKey)) {
        if (int rc = sign_with_key(signature.get(), info.get(), alg, privateKey, req.keyParam, req.publicKey))
            return rc;
    } else {
        if (!req.CB_ComputeSignature) return QRT_PKCS10_NO_CALLBACK;
        int rc = req.CB_ComputeSignature(signature.get(), info.get(), req.signID, nullptr);
        if (rc || !has_bytes(signature.get())) {
            OSTREL_FAIL_AS("CB_ComputeSignature", rc ? rc : QRT_PKCS10_CALLBACK_FAILED);
            return QRT_PKCS10_CALLBACK_FAILED;
        }
    }
    wrap(der, *info, *row, alg, req.signParam, *signature);
    return 0;
}

int decode_request(ZQ_PKCS10_CERT_REQUEST *out, const BIN *der) {
    AsnTree<CertificationRequest> cr(CertificationRequest_PDU);
    if (cr.decode(der) != 0 || !cr) return QRT_PKCS10_BAD_CERT_REQUEST;
    const CertificationRequestInfo &info = cr->certificationRequestInfo;
    if (info.version != 0) return QRT_PKCS10_UNKNOWN_VERSION;

    Filling f;
    if (QRT_ExtractRDN(0, &info.subject, &f.r.subject) != 0) return QRT_PKCS10_SUBJECT_DECODING_FAILED;
    const AlgorithmIdentifier &ka = info.subjectPKInfo.algorithm;
    const KeyRow *key = key_row(ka.algorithm);
    if (!key) return QRT_PKCS10_UNKNOWN_ALGID;
    f.r.keyAlg = key->keyAlg;
    if (key->params != KeyParams::Null && has_params(ka))
        f.r.keyParam = new_bin(ka.parameters.value, ka.parameters.length);
    const BitString &bits = info.subjectPKInfo.subjectPublicKey;
    size_t keyBytes = (bits.length + 7) / 8;
    if (!keyBytes || !bits.value) return QRT_PKCS10_BAD_PUBKEY;
    f.r.publicKey = new_bin(bits.value, keyBytes);
    if (info.attributes) {
        BinOwner a;
        Attributes list = info.attributes;
        if (QRT_ASN_EncodePDU(a.get(), &list, Attributes_PDU) != 0) return QRT_PKCS10_ASN_ENCODING_FAILED;
        f.r.attributes = new_bin(a->value, a->length);
    }
    const AlgorithmIdentifier &sa = cr->signatureAlgorithm;
    if (has_params(sa)) f.r.signParam = new_bin(sa.parameters.value, sa.parameters.length);
    const SignRow *row = sign_row(sa.algorithm);
    if (!row) return QRT_PKCS10_UNKNOWN_SIGNID;
    f.r.signID = row->signID;
    ZQ_CSP_SigAlg alg{};
    if (provider_alg(alg, *row, f.r.signParam)) return QRT_PKCS10_UNKNOWN_SIGNID;

    // The signature covers the info as it arrived (BER, long-form lengths and all).
    KeptEncoding signedPart, spki;
    if (signedPart.take(cr->certificationRequestInfo_encoded, &info, CertificationRequestInfo_PDU) != 0 ||
        spki.take(info.subjectPKInfo_encoded, &info.subjectPKInfo, SubjectPublicKeyInfo_PDU) != 0)
        return QRT_PKCS10_ASN_ENCODING_FAILED;
    BIN sig{(cr->signature.length + 7) / 8, cr->signature.value};
    // a KCDSA key without parameters takes those the signature identifier carries
    const BIN *inherited = is_kcdsa(alg) && has_bytes(f.r.signParam) ? f.r.signParam : nullptr;
    int rc = has_bytes(&sig) ? QRT_CSP_VerifySignedDataAlg(&alg, signedPart.get(), &sig, spki.get(), inherited)
                             : QRT_CSP_INVALID_SIGNATURE;
    if (rc == QRT_CSP_INVALID_SIGNATURE)
        rc = QRT_PKCS10_INVALID_SIGNATURE;
    else if (rc)
        rc = QRT_PKCS10_CSP_FUNCTION_FAILED;
    // A request that does not verify still shows what it asks for.
    if (rc == 0 || rc == QRT_PKCS10_INVALID_SIGNATURE) f.hand_to(out);
    return rc;
}

}  // namespace
}  // namespace ostrel::pkcs10

using namespace ostrel::pkcs10;

extern "C" {

QRT_API int QRT_PKCS10_EncodeCertRequest(BIN *der, const ZQ_PKCS10_CERT_REQUEST *req, const BIN *privateKey) {
    if (!der || !info_args_ok(req)) return QRT_PKCS10_INVALID_INPUT;
    *der = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] { return encode_request(der, *req, privateKey); });
}

QRT_API int QRT_PKCS10_EncodeCertRequest_Init(BIN *info, const ZQ_PKCS10_CERT_REQUEST *req) {
    if (!info || !info_args_ok(req)) return QRT_PKCS10_INVALID_INPUT;
    *info = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] { return encode_info(info, *req); });
}

QRT_API int QRT_PKCS10_EncodeCertRequest_Final(BIN *der, const BIN *info, int signID, const BIN *signParam,
                                               const BIN *signature) {
    if (!der || !info || !one_element(*info, ostrel::tlv::kSequence) || !has_bytes(signature))
        return QRT_PKCS10_INVALID_INPUT;
    *der = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        const SignRow *row = nullptr;
        ZQ_CSP_SigAlg alg{};
        if (int rc = request_alg(row, alg, signID, signParam)) return rc;
        wrap(der, *info, *row, alg, signParam, *signature);
        return 0;
    });
}

QRT_API int QRT_PKCS10_DecodeCertRequest(ZQ_PKCS10_CERT_REQUEST *req, const BIN *der) {
    if (!req || !der || !der->value || !der->length) return QRT_PKCS10_INVALID_INPUT;
    QRT_PKCS10_ResetCertRequest(req);
    return OSTREL_GUARD_TRACE([&] { return decode_request(req, der); });
}

}  // extern "C"
