// The two entry points, the scheme table and the mapping between ids, object identifiers and
// the provider's algorithms; the process-wide iteration limit.
#include <cstring>

#include "pkcs5_internal.h"

namespace ostrel::pkcs5 {

namespace {

const unsigned char kP12Seed[] = {0x2A, 0x83, 0x1A, 0x8C, 0x9A, 0x44, 0x01, 0x04, 0x02};
const unsigned char kP12Sha1Neat[] = {0x2A, 0x83, 0x1A, 0x86, 0x8D, 0x21, 0x01, 0x07};
const unsigned char kP12Has160Neat[] = {0x2A, 0x83, 0x1A, 0x86, 0x8D, 0x21, 0x01, 0x08};
// 1.2.840.113549.2.8 / .10 / .11
const unsigned char kHmacSha224[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x08};
const unsigned char kHmacSha384[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x0A};
const unsigned char kHmacSha512[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x0B};

constexpr ObjectID make_oid(const unsigned char *p, size_t n) {
    return ObjectID{static_cast<unsigned short>(n), const_cast<unsigned char *>(p)};
}

std::atomic<int> g_iteration_limit{QRT_PKCS5_DEFAULT_ITERATION_LIMIT};

}  // namespace

const ObjectID kOidP12Seed = make_oid(kP12Seed, sizeof kP12Seed);
const ObjectID kOidP12Sha1Neat = make_oid(kP12Sha1Neat, sizeof kP12Sha1Neat);
const ObjectID kOidP12Has160Neat = make_oid(kP12Has160Neat, sizeof kP12Has160Neat);
const ObjectID kOidHmacSha224 = make_oid(kHmacSha224, sizeof kHmacSha224);
const ObjectID kOidHmacSha384 = make_oid(kHmacSha384, sizeof kHmacSha384);
const ObjectID kOidHmacSha512 = make_oid(kHmacSha512, sizeof kHmacSha512);

namespace {

const Scheme kSchemes[] = {
    {1, kPbes1, &pbeWithMD2AndDES_CBC, QRT_CSP_HASH_MD2, QRT_CSP_CIPHER_DES, 8, 8},
    {2, kPbes1, &pbeWithMD5AndDES_CBC, QRT_CSP_HASH_MD5, QRT_CSP_CIPHER_DES, 8, 8},
    {3, kPbes1, &pbeWithSHA1AndDES_CBC, QRT_CSP_HASH_SHA1, QRT_CSP_CIPHER_DES, 8, 8},
    {4, kPbes1, &seedCBCWithSHA1, QRT_CSP_HASH_SHA1, QRT_CSP_CIPHER_SEED, 16, 16},
    {5, kPbes2, &id_PBES2, 0, 0, 0, 0},
    {6, kPbes1, &pbeWithMD2AndRC2_CBC, QRT_CSP_HASH_MD2, QRT_CSP_CIPHER_RC2, 8, 8},
    {7, kPbes1, &pbeWithMD5AndRC2_CBC, QRT_CSP_HASH_MD5, QRT_CSP_CIPHER_RC2, 8, 8},
    {8, kPbes1, &pbeWithSHA1AndRC2_CBC, QRT_CSP_HASH_SHA1, QRT_CSP_CIPHER_RC2, 8, 8},
    {9, kPbes1, &seedCBC, QRT_CSP_HASH_SHA1, QRT_CSP_CIPHER_SEED, 16, 16},
    {31, kPkcs12, &pbeWithSHAAnd128BitRC4, QRT_CSP_HASH_SHA1, QRT_CSP_CIPHER_RC4, 16, 0},
    {32, kPkcs12, &pbeWithSHAAnd40BitRC4, QRT_CSP_HASH_SHA1, QRT_CSP_CIPHER_RC4, 5, 0},
    {33, kPkcs12, &pbeWithSHAAnd3_KeyTripleDES_CBC, QRT_CSP_HASH_SHA1, QRT_CSP_CIPHER_TDES, 24, 8},
    {34, kPkcs12, &pbeWithSHAAnd2_KeyTripleDES_CBC, QRT_CSP_HASH_SHA1, QRT_CSP_CIPHER_TDES, 16, 8},
    {35, kPkcs12, &pbeWithSHAAnd128BitRC2_CBC, QRT_CSP_HASH_SHA1, QRT_CSP_CIPHER_RC2, 16, 8},
    {36, kPkcs12, &pbewithSHAAnd40BitRC2_CBC, QRT_CSP_HASH_SHA1, QRT_CSP_CIPHER_RC2, 5, 8},
    {41, kPkcs12, &kOidP12Seed, QRT_CSP_HASH_SHA1, QRT_CSP_CIPHER_SEED, 16, 16},
    {42, kPkcs12, &kOidP12Sha1Neat, QRT_CSP_HASH_SHA1, QRT_CSP_CIPHER_NEAT, 16, 16},
    {43, kPkcs12, &kOidP12Has160Neat, QRT_CSP_HASH_SHA1, QRT_CSP_CIPHER_NEAT, 16, 16},
};

}  // namespace

const Scheme *scheme_by_id(int pbesID) {
    for (const Scheme &s : kSchemes)
        if (s.pbesID == pbesID) return &s;
    return nullptr;
}

const Scheme *scheme_by_oid(const ObjectID &oid) {
    for (const Scheme &s : kSchemes)
        if (oid_equal(*s.oid, oid)) return &s;
    return nullptr;
}

int prf_hash(int prfID) {
    switch (prfID) {
        case QRT_PKCS5_PRF_HMAC_SHA1: return QRT_CSP_HASH_SHA1;
        case QRT_PKCS5_PRF_HMAC_SHA256: return QRT_CSP_HASH_SHA256;
        case QRT_PKCS5_PRF_HMAC_SHA384: return QRT_CSP_HASH_SHA384;
        case QRT_PKCS5_PRF_HMAC_SHA512: return QRT_CSP_HASH_SHA512;
        case QRT_PKCS5_PRF_HMAC_SHA224: return QRT_CSP_HASH_SHA224;
        default: return 0;
    }
}

const ObjectID *prf_oid(int prfID) {
    switch (prfID) {
        case QRT_PKCS5_PRF_HMAC_SHA1: return &id_hmacWithSHA1;
        case QRT_PKCS5_PRF_HMAC_SHA256: return &id_hmacWithSHA256;
        case QRT_PKCS5_PRF_HMAC_SHA384: return &kOidHmacSha384;
        case QRT_PKCS5_PRF_HMAC_SHA512: return &kOidHmacSha512;
        case QRT_PKCS5_PRF_HMAC_SHA224: return &kOidHmacSha224;
        default: return nullptr;
    }
}

int prf_by_oid(const ObjectID &oid) {
    for (int id : {QRT_PKCS5_PRF_HMAC_SHA1, QRT_PKCS5_PRF_HMAC_SHA256, QRT_PKCS5_PRF_HMAC_SHA384,
                   QRT_PKCS5_PRF_HMAC_SHA512, QRT_PKCS5_PRF_HMAC_SHA224})
        if (oid_equal(*prf_oid(id), oid)) return id;
    return 0;
}

bool count_acceptable(long long count) {
    return count >= 1 && count <= g_iteration_limit.load(std::memory_order_relaxed);
}

int cipher_run(bool encrypt, BIN *out, const BIN *in, const BIN *key, int cipherID,
               const ZQ_CSP_CipherParam *param) {
    *out = BIN{0, nullptr};
    return encrypt ? QRT_CSP_Encrypt(out, in, key, cipherID, param) : QRT_CSP_Decrypt(out, in, key, cipherID, param);
}

}  // namespace ostrel::pkcs5

using namespace ostrel::pkcs5;

extern "C" {

QRT_API int QRT_PKCS5_SetIterationLimit(int limit) {
    if (limit < 1) return QRT_PKCS5_INVALID_INPUT;
    g_iteration_limit.store(limit, std::memory_order_relaxed);
    return 0;
}

QRT_API int QRT_PKCS5_GetIterationLimit(void) { return g_iteration_limit.load(std::memory_order_relaxed); }

QRT_API int QRT_PKCS5_EncryptData(BIN *algIdOut, BIN *cipherOut, const ZQ_PKCS5_PBES_ALGID *algId, const BIN *plain,
                                  const BIN *password) {
    if (!algIdOut || !cipherOut || !algId || !plain || !password) return QRT_PKCS5_INVALID_INPUT;
    *algIdOut = BIN{0, nullptr};
    *cipherOut = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&]() -> int {
        const Scheme *s = scheme_by_id(algId->pbesID);
        if (!s) return QRT_PKCS5_UNKNOWN_PBESID;
        BinOwner der, out;
        int rc;
        if (s->family == kPbes1) {
            ZQ_PKCS5_PBES1_PARAM p{};
            rc = QRT_PKCS5_PBES1Param_Generate(&p, s->pbesID);
            if (!rc) rc = QRT_PKCS5_PBES1AId_Encode(der.get(), s->pbesID, &p);
            if (!rc) rc = QRT_PKCS5_PBES1_Encrypt(out.get(), plain, password, &p);
            QRT_PKCS5_PBES1Param_Reset(&p);
        } else if (s->family == kPbes2) {
            ZQ_PKCS5_PBES2_PARAM p{};
            rc = QRT_PKCS5_PBES2Param_Generate(&p, algId);
            if (!rc) rc = QRT_PKCS5_PBES2AId_Encode(der.get(), algId, &p);
            if (!rc) rc = QRT_PKCS5_PBES2_Encrypt(out.get(), plain, password, &p);
            QRT_PKCS5_PBES2Param_Reset(&p);
        } else {
            ZQ_PKCS5_P12PBE_PARAM p{};
            rc = QRT_PKCS5_P12PBEParam_Generate(&p);
            if (!rc) rc = QRT_PKCS5_P12PBEAId_Encode(der.get(), s->pbesID, &p);
            if (!rc) rc = QRT_PKCS5_P12PBE_Encrypt(out.get(), plain, s->pbesID, password, &p);
            QRT_PKCS5_P12PBEParam_Reset(&p);
        }
        if (rc) return rc;
        *algIdOut = der.release();
        *cipherOut = out.release();
        return 0;
    });
}

QRT_API int QRT_PKCS5_DecryptData(ZQ_PKCS5_PBES_ALGID *algIdOut, BIN *plainOut, const BIN *algIdDer, const BIN *cipher,
                                  const BIN *password) {
    if (!algIdOut || !plainOut || !algIdDer || !cipher || !password) return QRT_PKCS5_INVALID_INPUT;
    *plainOut = BIN{0, nullptr};
    *algIdOut = ZQ_PKCS5_PBES_ALGID{};
    return OSTREL_GUARD_TRACE([&]() -> int {
        AsnTree<AlgorithmIdentifier> ai(AlgorithmIdentifier_PDU);
        int rc = ai.decode(algIdDer);
        if (rc) return rc;
        const Scheme *s = scheme_by_oid(ai->algorithm);
        if (!s) return QRT_PKCS5_UNKNOWN_PBESID;
        BinOwner out;
        if (s->family == kPbes1) {
            ZQ_PKCS5_PBES1_PARAM p{};
            rc = QRT_PKCS5_PBES1AId_Decode(algIdOut, &p, algIdDer);
            if (!rc) rc = QRT_PKCS5_PBES1_Decrypt(out.get(), cipher, password, &p);
            QRT_PKCS5_PBES1Param_Reset(&p);
        } else if (s->family == kPbes2) {
            ZQ_PKCS5_PBES2_PARAM p{};
            rc = QRT_PKCS5_PBES2AId_Decode(algIdOut, &p, algIdDer);
            if (!rc) rc = QRT_PKCS5_PBES2_Decrypt(out.get(), cipher, password, &p);
            QRT_PKCS5_PBES2Param_Reset(&p);
        } else {
            ZQ_PKCS5_P12PBE_PARAM p{};
            rc = QRT_PKCS5_P12PBEAId_Decode(algIdOut, &p, algIdDer);
            if (!rc) rc = QRT_PKCS5_P12PBE_Decrypt(out.get(), cipher, algIdOut->pbesID, password, &p);
            QRT_PKCS5_P12PBEParam_Reset(&p);
        }
        if (rc) return rc;
        *plainOut = out.release();
        return 0;
    });
}

}  // extern "C"
