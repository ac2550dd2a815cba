// The request record, the identifier tables of the request numbering, and signatures through the
// provider's one signature table.
#include <cstring>
#include <new>

#include "ostrel/asn_tree.hpp"
#include "ostrel/tlv.hpp"
#include "pkcs10_internal.h"

namespace ostrel::pkcs10 {
namespace {

// The request numbering is this library's own: its signID 6 (SHA-256 with RSA) is the provider's
// 4. It maps to identifiers here and only here; the provider's table takes it from there.
constexpr SignRow kSigns[] = {
    {QRT_PKCS10_SIGN_MD2_RSA, &md2WithRSAEncryption, true},
    {QRT_PKCS10_SIGN_MD5_RSA, &md5WithRSAEncryption, true},
    {QRT_PKCS10_SIGN_SHA1_RSA, &sha1WithRSAEncryption, true},
    {QRT_PKCS10_SIGN_KCDSA_SHA1, &kcdsaWithSHA1, true},
    {QRT_PKCS10_SIGN_KCDSA_SHA1, &kcdsa1WithSHA1, false},
    {QRT_PKCS10_SIGN_KCDSA_HAS160, &kcdsaWithHAS160, true},
    {QRT_PKCS10_SIGN_KCDSA_HAS160, &kcdsa1WithHAS160, false},
    {QRT_PKCS10_SIGN_SHA256_RSA, &sha256WithRSAEncryption, true},
    {QRT_PKCS10_SIGN_SHA384_RSA, &sha384WithRSAEncryption, true},
    {QRT_PKCS10_SIGN_SHA512_RSA, &sha512WithRSAEncryption, true},
    {QRT_PKCS10_SIGN_SHA224_RSA, &sha224WithRSAEncryption, true},
    {QRT_PKCS10_SIGN_HAS160_RSA, &rsaWithHAS160, true},
    {QRT_PKCS10_SIGN_RSA_PSS, &id_RSASSA_PSS, true},
    {QRT_PKCS10_SIGN_DSA_SHA1, &id_dsa_with_sha1, true},
    {QRT_PKCS10_SIGN_DSA_SHA224, &id_dsa_with_sha224, true},
    {QRT_PKCS10_SIGN_DSA_SHA256, &id_dsa_with_sha256, true},
    {QRT_PKCS10_SIGN_ECDSA_SHA1, &ecdsa_with_SHA1, true},
    {QRT_PKCS10_SIGN_ECDSA_SHA224, &ecdsa_with_SHA224, true},
    {QRT_PKCS10_SIGN_ECDSA_SHA256, &ecdsa_with_SHA256, true},
    {QRT_PKCS10_SIGN_ECDSA_SHA384, &ecdsa_with_SHA384, true},
    {QRT_PKCS10_SIGN_ECDSA_SHA512, &ecdsa_with_SHA512, true},
    {QRT_PKCS10_SIGN_KCDSA_SHA224, &kcdsa1WithSHA224, true},
    {QRT_PKCS10_SIGN_KCDSA_SHA256, &kcdsa1WithSHA256, true},
    {QRT_PKCS10_SIGN_KCDSA_SHA256, &kcdsaWithSHA256, false},
    {QRT_PKCS10_SIGN_KCDSA_SHA384, &kcdsa1WithSHA384, true},
    {QRT_PKCS10_SIGN_KCDSA_SHA512, &kcdsa1WithSHA512, true},
    {QRT_PKCS10_SIGN_ECKCDSA_SHA1, &eckcdsaWithSHA1, true},
    {QRT_PKCS10_SIGN_ECKCDSA_HAS160, &eckcdsaWithHAS160, true},
    {QRT_PKCS10_SIGN_ECKCDSA_SHA224, &eckcdsaWithSHA224, true},
    {QRT_PKCS10_SIGN_ECKCDSA_SHA256, &eckcdsaWithSHA256, true},
    {QRT_PKCS10_SIGN_ECKCDSA_SHA384, &eckcdsaWithSHA384, true},
    {QRT_PKCS10_SIGN_ECKCDSA_SHA512, &eckcdsaWithSHA512, true},
};

// RSA keys with NULL parameters (RFC 3279 2.3.1); kcdsa written, kcdsa1 read as well.
constexpr KeyRow kKeys[] = {
    {QRT_PKCS10_KEY_RSA, &rsaEncryption, KeyParams::Null, true},
    {QRT_PKCS10_KEY_KCDSA, &kcdsa, KeyParams::Domain, true},
    {QRT_PKCS10_KEY_KCDSA, &kcdsa1, KeyParams::Domain, false},
    {QRT_PKCS10_KEY_DSA, &id_dsa, KeyParams::Domain, true},
    {QRT_PKCS10_KEY_EC, &id_ecPublicKey, KeyParams::Domain, true},
    {QRT_PKCS10_KEY_RSAPSS, &id_RSASSA_PSS, KeyParams::Optional, true},
};

// RSASSA-PSS-params with every field at its default (SHA-1, MGF1 with SHA-1, salt 20).
constexpr uint8_t kPssDefaults[] = {0x30, 0x00};
constexpr uint8_t kNull[] = {0x05, 0x00};

void free_bin(BIN *&b) {
    QRT_BIN_Free(b);
    b = nullptr;
}

}  // namespace

const SignRow *sign_row(int signID) {
    for (const SignRow &r : kSigns)
        if (r.signID == signID && r.primary) return &r;
    return nullptr;
}

const SignRow *sign_row(const ObjectID &oid) {
    for (const SignRow &r : kSigns)
        if (oid_equal(*r.oid, oid)) return &r;
    return nullptr;
}

const KeyRow *key_row(int keyAlg) {
    for (const KeyRow &r : kKeys)
        if (r.keyAlg == keyAlg && r.primary) return &r;
    return nullptr;
}

const KeyRow *key_row(const ObjectID &oid) {
    for (const KeyRow &r : kKeys)
        if (oid_equal(*r.oid, oid)) return &r;
    return nullptr;
}

int provider_alg(ZQ_CSP_SigAlg &alg, const SignRow &row, const BIN *params) {
    BIN pss{sizeof kPssDefaults, const_cast<uint8_t *>(kPssDefaults)};
    const BIN *p = has_bytes(params) ? params : nullptr;
    if (row.signID == QRT_PKCS10_SIGN_RSA_PSS && !p) p = &pss;
    ZQ_CSP_AlgID bare{row.oid->value, row.oid->length, nullptr}, full{row.oid->value, row.oid->length, p};
    // The KCDSA identifiers may carry the signer's domain parameters, which the provider's table
    // does not read: for them the identifier alone names the algorithm.
    bool ok = row.signID == QRT_PKCS10_SIGN_RSA_PSS
                  ? QRT_CSP_SigAlg_FromAlgID(&alg, &full) == 0
                  : QRT_CSP_SigAlg_FromAlgID(&alg, &bare) == 0 &&
                        (!p || is_kcdsa(alg) || QRT_CSP_SigAlg_FromAlgID(&alg, &full) == 0);
    if (ok) return 0;
    alg = ZQ_CSP_SigAlg{};
    return QRT_PKCS10_UNKNOWN_SIGNID;
}

bool key_fits(int keyAlg, const ZQ_CSP_SigAlg &alg) {
    switch (keyAlg) {
        case QRT_PKCS10_KEY_RSA:
            return alg.pkeyID == QRT_CSP_PKEY_RSA;
        case QRT_PKCS10_KEY_RSAPSS:
            return alg.signID == QRT_CSP_SIGN_RSA_PSS;
        case QRT_PKCS10_KEY_KCDSA:
            return alg.pkeyID == QRT_CSP_PKEY_KCDSA;
        case QRT_PKCS10_KEY_DSA:
            return alg.pkeyID == QRT_CSP_PKEY_DSA;
        case QRT_PKCS10_KEY_EC:
            return alg.pkeyID == QRT_CSP_PKEY_ECDSA || alg.pkeyID == QRT_CSP_PKEY_ECKCDSA;
        default:
            return false;
    }
}

int sign_with_key(BIN *signature, const BIN *data, const ZQ_CSP_SigAlg &alg, const BIN *privateKey, const BIN *keyParam,
                  const BIN *publicKey) {
    if (!has_bytes(privateKey)) return QRT_PKCS10_INVALID_INPUT;
    if (needs_domain(alg) && !has_bytes(keyParam)) return QRT_PKCS10_NO_KEY_PARAM;
    // KCDSA and EC-KCDSA hash the signer's public key into the message digest.
    if (is_message_level(alg) && !has_bytes(publicKey)) return QRT_PKCS10_NO_PUBLIC_KEY;
    int rc = QRT_CSP_SignData(signature, data, &alg, privateKey, needs_domain(alg) ? keyParam : nullptr,
                              is_message_level(alg) ? publicKey : nullptr);
    return rc ? QRT_PKCS10_CSP_FUNCTION_FAILED : 0;
}

void put_tlv(Bytes &out, uint8_t tag, const uint8_t *p, size_t n) {
    uint8_t len[9];
    out.push_back(tag);
    put_raw(out, len, tlv::length_octets(n, len));
    if (n) put_raw(out, p, n);
}

bool one_element(const BIN &b, int tag) {
    if (!b.value || !b.length) return false;
    Reader r(b.value, b.length), content;
    uint8_t t = 0;
    return tlv::read_any(r, t, content, nullptr, tlv::Profile::kBer) == tlv::kOk && (tag < 0 || t == tag) && r.empty();
}

void put_sign_alg(Bytes &out, const SignRow &row, const ZQ_CSP_SigAlg &alg, const BIN *signParam) {
    Bytes inner;
    put_tlv(inner, tlv::kOid, row.oid->value, row.oid->length);
    if (alg.signID == QRT_CSP_SIGN_RSA_PSS) {
        if (has_bytes(signParam))
            put_raw(inner, signParam->value, signParam->length);
        else
            put_raw(inner, kPssDefaults, sizeof kPssDefaults);
    } else if (alg.pkeyID == QRT_CSP_PKEY_RSA) {
        put_raw(inner, kNull, sizeof kNull);
    } else if (is_kcdsa(alg) && has_bytes(signParam)) {
        put_raw(inner, signParam->value, signParam->length);
    }
    put_tlv(out, tlv::kSequence, inner);
}

BIN *new_bin(const uint8_t *p, size_t n) {
    BIN *b = QRT_BIN_New();
    if (!b) throw std::bad_alloc();
    if (QRT_BIN_Set(b, p, static_cast<int>(n)) != 0) {
        QRT_BIN_Free(b);
        throw std::bad_alloc();
    }
    return b;
}

void give(BIN *out, const Bytes &b) {
    if (QRT_BIN_Set(out, b.data(), static_cast<int>(b.size())) != 0) throw std::bad_alloc();
}

}  // namespace ostrel::pkcs10

using namespace ostrel::pkcs10;

extern "C" {

QRT_API ZQ_PKCS10_CERT_REQUEST *QRT_PKCS10_CreateCertRequest(void) {
    return static_cast<ZQ_PKCS10_CERT_REQUEST *>(QRT_calloc(1, sizeof(ZQ_PKCS10_CERT_REQUEST)));
}

QRT_API void QRT_PKCS10_ResetCertRequest(ZQ_PKCS10_CERT_REQUEST *req) {
    if (!req) return;
    free_bin(req->keyParam);
    free_bin(req->publicKey);
    free_bin(req->attributes);
    free_bin(req->signParam);
    QRT_free(req->subject);
    std::memset(req, 0, sizeof *req);
}

QRT_API void QRT_PKCS10_DestroyCertRequest(ZQ_PKCS10_CERT_REQUEST *req) {
    QRT_PKCS10_ResetCertRequest(req);
    QRT_free(req);
}

QRT_API int QRT_PKCS10_ComputeSignature(BIN *signature, const BIN *data, const ZQ_PKCS10_KEY *key, int signID) {
    if (!signature || !has_bytes(data) || !key || !has_bytes(key->privateKey)) return QRT_PKCS10_INVALID_INPUT;
    *signature = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        const SignRow *row = sign_row(signID);
        ZQ_CSP_SigAlg alg{};
        if (!row || provider_alg(alg, *row, key->signParam)) return QRT_PKCS10_UNKNOWN_SIGNID;
        return sign_with_key(signature, data, alg, key->privateKey, key->keyParam, key->publicKey);
    });
}

// The key block becomes a SubjectPublicKeyInfo of the signature's key algorithm, so the check
// runs through the provider's one entry point.
QRT_API int QRT_PKCS10_VerifySignature(const BIN *signature, const BIN *data, const ZQ_PKCS10_KEY *key, int signID) {
    if (!has_bytes(signature) || !has_bytes(data) || !key || !has_bytes(key->publicKey))
        return QRT_PKCS10_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        const SignRow *row = sign_row(signID);
        ZQ_CSP_SigAlg alg{};
        if (!row || provider_alg(alg, *row, key->signParam)) return QRT_PKCS10_UNKNOWN_SIGNID;
        const ObjectID *keyOid = &rsaEncryption;
        switch (alg.pkeyID) {
            case QRT_CSP_PKEY_DSA:
                keyOid = &id_dsa;
                break;
            case QRT_CSP_PKEY_ECDSA:
            case QRT_CSP_PKEY_ECKCDSA:
                keyOid = &id_ecPublicKey;
                break;
            case QRT_CSP_PKEY_KCDSA:
                keyOid = &kcdsa;
                break;
            default:
                break;
        }
        if (needs_domain(alg) && !has_bytes(key->keyParam)) return QRT_PKCS10_NO_KEY_PARAM;
        Bytes algid, bits{0x00}, spki;
        put_tlv(algid, ostrel::tlv::kOid, keyOid->value, keyOid->length);
        if (needs_domain(alg))
            put_raw(algid, key->keyParam->value, key->keyParam->length);
        else
            put_raw(algid, kNull, sizeof kNull);
        put_raw(bits, key->publicKey->value, key->publicKey->length);
        Bytes body;
        put_tlv(body, ostrel::tlv::kSequence, algid);
        put_tlv(body, ostrel::tlv::kBitString, bits);
        put_tlv(spki, ostrel::tlv::kSequence, body);
        BIN spkiBin{static_cast<unsigned>(spki.size()), spki.data()};
        int rc = QRT_CSP_VerifySignedDataAlg(&alg, data, signature, &spkiBin, nullptr);
        if (rc == QRT_CSP_INVALID_SIGNATURE) return QRT_PKCS10_INVALID_SIGNATURE;
        return rc ? QRT_PKCS10_CSP_FUNCTION_FAILED : 0;
    });
}

QRT_API const ObjectID *QRT_PKCS10_SignID_To_ObjID(int signID) {
    const SignRow *r = sign_row(signID);
    return r ? r->oid : nullptr;
}

QRT_API int QRT_PKCS10_ObjID_To_SignID(const ObjectID *oid) {
    const SignRow *r = oid ? sign_row(*oid) : nullptr;
    return r ? r->signID : -1;
}

}  // extern "C"
