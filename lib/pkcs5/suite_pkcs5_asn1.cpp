// PBES1 and PBES2 parameters: generation, and their AlgorithmIdentifier encodings through the
// ASN.1 layer.
#include <cstring>

#include "ostrel/rc2_params.hpp"
#include "pkcs5_internal.h"

using namespace ostrel::pkcs5;

namespace {

constexpr int kPbes1Iterations = 2048;
constexpr int kPbes2Iterations = 2048;
constexpr int kSaltLength = 8;

enum class ParamKind { kOctetIv, kRc2, kRc5 };

// A PBES2 encryption scheme: its cipher, identifier and how its parameters are written.
struct EncScheme {
    int encID;
    int cipherID;
    const ObjectID *oid;
    int keyLength;  // fixed key length; 0 for RC2 and RC5, whose length keyLength carries
    int ivLength;
    ParamKind kind;
    bool aes;
};

const EncScheme kEncSchemes[] = {
    {QRT_PKCS5_ENC_DES_CBC, QRT_CSP_CIPHER_DES, &desCBC, 8, 8, ParamKind::kOctetIv, false},
    {QRT_PKCS5_ENC_DES_EDE3_CBC, QRT_CSP_CIPHER_TDES, &des_ede3_cbc, 24, 8, ParamKind::kOctetIv, false},
    {QRT_PKCS5_ENC_RC2_CBC, QRT_CSP_CIPHER_RC2, &rc2CBC, 0, 8, ParamKind::kRc2, false},
    {QRT_PKCS5_ENC_RC5_CBC_PAD, QRT_CSP_CIPHER_RC5, &rc5_CBC_PAD, 0, 8, ParamKind::kRc5, false},
    {QRT_PKCS5_ENC_SEED_CBC, QRT_CSP_CIPHER_SEED, &seedCBC, 16, 16, ParamKind::kOctetIv, false},
    {QRT_PKCS5_ENC_AES128_CBC, QRT_CSP_CIPHER_AES, &id_aes128_CBC, 16, 16, ParamKind::kOctetIv, true},
    {QRT_PKCS5_ENC_AES192_CBC, QRT_CSP_CIPHER_AES, &id_aes192_CBC, 24, 16, ParamKind::kOctetIv, true},
    {QRT_PKCS5_ENC_AES256_CBC, QRT_CSP_CIPHER_AES, &id_aes256_CBC, 32, 16, ParamKind::kOctetIv, true},
};

const EncScheme *enc_by_id(int encID) {
    for (const EncScheme &e : kEncSchemes)
        if (e.encID == encID) return &e;
    return nullptr;
}

const EncScheme *enc_by_oid(const ObjectID &oid) {
    for (const EncScheme &e : kEncSchemes)
        if (oid_equal(*e.oid, oid)) return &e;
    return nullptr;
}

// NULL parameters, as written after an HMAC identifier.
const unsigned char kDerNull[] = {0x05, 0x00};

AlgorithmIdentifier algid(const ObjectID &oid, const BIN *params) {
    AlgorithmIdentifier a{};
    a.algorithm = oid;
    if (params) {
        a.bit_mask = AlgorithmIdentifier_parameters_present;
        a.parameters = *params;
    }
    return a;
}

int random_bin(BIN *out, int n) {
    *out = BIN{0, nullptr};
    return QRT_CSP_GenerateRandom(out, n);
}

bool has_params(const AlgorithmIdentifier &a) {
    return (a.bit_mask & AlgorithmIdentifier_parameters_present) && a.parameters.length > 0;
}

}  // namespace

extern "C" {

/* ---- PBES1 ------------------------------------------------------------------------------ */

QRT_API int QRT_PKCS5_PBES1Param_Generate(ZQ_PKCS5_PBES1_PARAM *param, int pbesID) {
    if (!param) return QRT_PKCS5_INVALID_INPUT;
    *param = ZQ_PKCS5_PBES1_PARAM{};
    return OSTREL_GUARD_TRACE([&]() -> int {
        const Scheme *s = scheme_by_id(pbesID);
        if (!s || s->family != kPbes1) return QRT_PKCS5_UNKNOWN_PBESID;
        int rc = random_bin(&param->salt, kSaltLength);
        if (rc) return rc;
        param->pbesID = pbesID;
        param->iterationCount = kPbes1Iterations;
        return 0;
    });
}

QRT_API void QRT_PKCS5_PBES1Param_Reset(ZQ_PKCS5_PBES1_PARAM *param) {
    if (!param) return;
    QRT_BIN_Reset(&param->salt);
    *param = ZQ_PKCS5_PBES1_PARAM{};
}

QRT_API int QRT_PKCS5_PBES1AId_Encode(BIN *der, int pbesID, const ZQ_PKCS5_PBES1_PARAM *param) {
    if (!der || !param) return QRT_PKCS5_INVALID_INPUT;
    *der = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&]() -> int {
        const Scheme *s = scheme_by_id(pbesID);
        if (!s || s->family != kPbes1) return QRT_PKCS5_UNKNOWN_PBESID;
        if (param->salt.length != kSaltLength) return QRT_PKCS5_BAD_ALGORITHM_PARAMETER;
        PBEParameter pp{param->salt, param->iterationCount};
        BinOwner params;
        int rc = QRT_ASN_EncodePDU(params.get(), &pp, PBEParameter_PDU);
        if (rc) return rc;
        AlgorithmIdentifier a = algid(*s->oid, params.get());
        return QRT_ASN_EncodePDU(der, &a, AlgorithmIdentifier_PDU);
    });
}

QRT_API int QRT_PKCS5_PBES1AId_Decode(ZQ_PKCS5_PBES_ALGID *algId, ZQ_PKCS5_PBES1_PARAM *param, const BIN *der) {
    if (!algId || !param || !der) return QRT_PKCS5_INVALID_INPUT;
    *param = ZQ_PKCS5_PBES1_PARAM{};
    return OSTREL_GUARD_TRACE([&]() -> int {
        AsnTree<AlgorithmIdentifier> ai(AlgorithmIdentifier_PDU);
        int rc = ai.decode(der);
        if (rc) return rc;
        const Scheme *s = scheme_by_oid(ai->algorithm);
        if (!s || s->family != kPbes1) return QRT_PKCS5_UNKNOWN_PBESID;
        if (!has_params(*ai)) return QRT_PKCS5_BAD_ALGORITHM_PARAMETER;
        AsnTree<PBEParameter> pp(PBEParameter_PDU);
        rc = pp.decode(&ai->parameters);
        if (rc) return rc;
        if (pp->salt.length != kSaltLength || !count_acceptable(pp->iterationCount))
            return QRT_PKCS5_BAD_ALGORITHM_PARAMETER;
        bin_assign(&param->salt, pp->salt.value, pp->salt.length);
        param->pbesID = s->pbesID;
        param->iterationCount = pp->iterationCount;
        *algId = ZQ_PKCS5_PBES_ALGID{};
        algId->pbesID = s->pbesID;
        return 0;
    });
}

/* ---- PBES2 ------------------------------------------------------------------------------ */

QRT_API int QRT_PKCS5_PBES2Param_Generate(ZQ_PKCS5_PBES2_PARAM *param, const ZQ_PKCS5_PBES_ALGID *algId) {
    if (!param || !algId) return QRT_PKCS5_INVALID_INPUT;
    *param = ZQ_PKCS5_PBES2_PARAM{};
    int rc = OSTREL_GUARD_TRACE([&]() -> int {
        const EncScheme *e = enc_by_id(algId->pbes2Param.encID);
        if (!e) return QRT_PKCS5_UNKNOWN_ENCID;
        int prf = algId->pbes2Param.prfID ? algId->pbes2Param.prfID : QRT_PKCS5_PRF_HMAC_SHA1;
        if (!prf_hash(prf)) return QRT_PKCS5_UNKNOWN_ID;
        param->kdfID = QRT_PKCS5_KDF_PBKDF2;
        param->pbkdf2Param.iterationCount = kPbes2Iterations;
        param->pbkdf2Param.prfID = prf;
        param->cipherID = e->cipherID;
        param->cipherParam.modeID = QRT_CSP_MODE_CBC;
        param->cipherParam.paddingID = QRT_CSP_PAD_PKCS5;
        if (e->kind == ParamKind::kRc2) {
            param->pbkdf2Param.keyLength = 16;
            param->cipherParam.suiteParam.rc2.effectiveBits = 128;
        } else if (e->kind == ParamKind::kRc5) {
            param->pbkdf2Param.keyLength = 16;
            param->cipherParam.suiteParam.rc5.rounds = 12;
        } else if (e->aes) {
            param->pbkdf2Param.keyLength = e->keyLength;  // selects AES-128/192/256; not written
        }
        int r = random_bin(&param->pbkdf2Param.salt, kSaltLength);
        if (r) return r;
        param->cipherParam.modeParam.iv = QRT_BIN_New();
        if (!param->cipherParam.modeParam.iv) return QRT_PKCS5_MALLOC_FAILED;
        return random_bin(param->cipherParam.modeParam.iv, e->ivLength);
    });
    if (rc) QRT_PKCS5_PBES2Param_Reset(param);
    return rc;
}

QRT_API void QRT_PKCS5_PBES2Param_Reset(ZQ_PKCS5_PBES2_PARAM *param) {
    if (!param) return;
    QRT_BIN_Reset(&param->pbkdf2Param.salt);
    if (BIN *iv = param->cipherParam.modeParam.iv) {
        QRT_BIN_Reset(iv);
        QRT_BIN_Free(iv);
    }
    *param = ZQ_PKCS5_PBES2_PARAM{};
}

QRT_API int QRT_PKCS5_PBES2AId_Encode(BIN *der, const ZQ_PKCS5_PBES_ALGID *algId, const ZQ_PKCS5_PBES2_PARAM *param) {
    if (!der || !algId || !param) return QRT_PKCS5_INVALID_INPUT;
    *der = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&]() -> int {
        const EncScheme *e = enc_by_id(algId->pbes2Param.encID);
        if (!e) return QRT_PKCS5_UNKNOWN_ENCID;
        const BIN *iv = param->cipherParam.modeParam.iv;
        if (!iv || static_cast<int>(iv->length) != e->ivLength) return QRT_PKCS5_BAD_ALGORITHM_PARAMETER;
        int prf = param->pbkdf2Param.prfID ? param->pbkdf2Param.prfID : QRT_PKCS5_PRF_HMAC_SHA1;
        const ObjectID *prfOid = prf_oid(prf);
        if (!prfOid) return QRT_PKCS5_UNKNOWN_ID;

        PBKDF2_params kp{};
        kp.salt.choice = PBKDF2_params_salt_specified_chosen;
        kp.salt.u.specified = param->pbkdf2Param.salt;
        kp.iterationCount = param->pbkdf2Param.iterationCount;
        // AES names its key length in its identifier; the others write a non-zero keyLength.
        if (param->pbkdf2Param.keyLength && !e->aes) {
            kp.bit_mask |= PBKDF2_params_keyLength_present;
            kp.keyLength = param->pbkdf2Param.keyLength;
        }
        BIN null{sizeof kDerNull, const_cast<unsigned char *>(kDerNull)};
        if (prf != QRT_PKCS5_PRF_HMAC_SHA1) {
            kp.bit_mask |= PBKDF2_params_prf_present;
            kp.prf = algid(*prfOid, &null);
        }
        BinOwner kdfParams, encParams, pbes2;
        int rc = QRT_ASN_EncodePDU(kdfParams.get(), &kp, PBKDF2_params_PDU);
        if (rc) return rc;

        if (e->kind == ParamKind::kOctetIv) {
            bin_assign(encParams.get(), nullptr, iv->length + 2);
            encParams->value[0] = 0x04;
            encParams->value[1] = static_cast<unsigned char>(iv->length);
            std::memcpy(encParams->value + 2, iv->value, iv->length);
        } else if (e->kind == ParamKind::kRc2) {
            RC2_CBC_Parameter rp{};
            rp.bit_mask = RC2_CBC_Parameter_rc2ParameterVersion_present;
            rp.rc2ParameterVersion = ostrel::rc2_version_of_bits(param->cipherParam.suiteParam.rc2.effectiveBits);
            rp.iv = *iv;
            rc = QRT_ASN_EncodePDU(encParams.get(), &rp, RC2_CBC_Parameter_PDU);
        } else {
            RC5_CBC_Parameters rp{};
            rp.bit_mask = RC5_CBC_Parameters_iv_present;
            rp.version = 16;
            rp.rounds = param->cipherParam.suiteParam.rc5.rounds;
            rp.blockSizeInBits = 64;
            rp.iv = *iv;
            rc = QRT_ASN_EncodePDU(encParams.get(), &rp, RC5_CBC_Parameters_PDU);
        }
        if (rc) return rc;
        PBES2_params p2{algid(id_PBKDF2, kdfParams.get()), algid(*e->oid, encParams.get())};
        rc = QRT_ASN_EncodePDU(pbes2.get(), &p2, PBES2_params_PDU);
        if (rc) return rc;
        AlgorithmIdentifier a = algid(id_PBES2, pbes2.get());
        return QRT_ASN_EncodePDU(der, &a, AlgorithmIdentifier_PDU);
    });
}

QRT_API int QRT_PKCS5_PBES2AId_Decode(ZQ_PKCS5_PBES_ALGID *algId, ZQ_PKCS5_PBES2_PARAM *param, const BIN *der) {
    if (!algId || !param || !der) return QRT_PKCS5_INVALID_INPUT;
    *param = ZQ_PKCS5_PBES2_PARAM{};
    int rc = OSTREL_GUARD_TRACE([&]() -> int {
        AsnTree<AlgorithmIdentifier> ai(AlgorithmIdentifier_PDU);
        int r = ai.decode(der);
        if (r) return r;
        if (!oid_equal(ai->algorithm, id_PBES2)) return QRT_PKCS5_UNKNOWN_PBESID;
        if (!has_params(*ai)) return QRT_PKCS5_BAD_ALGORITHM_PARAMETER;
        AsnTree<PBES2_params> p2(PBES2_params_PDU);
        r = p2.decode(&ai->parameters);
        if (r) return r;

        // Key derivation: PBKDF2 with its salt, count, optional key length and prf.
        const AlgorithmIdentifier &kdf = p2->keyDerivationFunc;
        if (!oid_equal(kdf.algorithm, id_PBKDF2)) return QRT_PKCS5_UNKNOWN_ID;
        if (!has_params(kdf)) return QRT_PKCS5_BAD_ALGORITHM_PARAMETER;
        AsnTree<PBKDF2_params> kp(PBKDF2_params_PDU);
        r = kp.decode(&kdf.parameters);
        if (r) return r;
        if (kp->salt.choice != PBKDF2_params_salt_specified_chosen) return QRT_PKCS5_UNKNOWN_SALT;
        if (!count_acceptable(kp->iterationCount)) return QRT_PKCS5_BAD_ALGORITHM_PARAMETER;
        int prf = QRT_PKCS5_PRF_HMAC_SHA1;
        if (kp->bit_mask & PBKDF2_params_prf_present) {
            prf = prf_by_oid(kp->prf.algorithm);
            if (!prf) return QRT_PKCS5_UNKNOWN_ID;
        }
        bool hasKeyLength = kp->bit_mask & PBKDF2_params_keyLength_present;

        // Encryption scheme and its IV.
        const AlgorithmIdentifier &enc = p2->encryptionScheme;
        const EncScheme *e = enc_by_oid(enc.algorithm);
        if (!e) return QRT_PKCS5_UNKNOWN_ENCID;
        if (!has_params(enc)) return QRT_PKCS5_BAD_ALGORITHM_PARAMETER;
        int keyLength = hasKeyLength ? kp->keyLength : 0;
        if (hasKeyLength && (e->keyLength ? keyLength != e->keyLength : keyLength < 1 || keyLength > 128))
            return QRT_PKCS5_BAD_ALGORITHM_PARAMETER;
        if (e->aes) keyLength = e->keyLength;

        BinOwner iv;
        ZQ_CSP_SuiteParam suite{};
        const BIN &ep = enc.parameters;
        if (e->kind == ParamKind::kOctetIv) {
            if (ep.length != static_cast<unsigned>(e->ivLength) + 2 || ep.value[0] != 0x04 ||
                ep.value[1] != e->ivLength)
                return QRT_PKCS5_BAD_ALGORITHM_PARAMETER;
            bin_assign(iv.get(), ep.value + 2, e->ivLength);
        } else if (e->kind == ParamKind::kRc2) {
            AsnTree<RC2_CBC_Parameter> rp(RC2_CBC_Parameter_PDU);
            r = rp.decode(&ep);
            if (r) return r;
            if (rp->iv.length != 8) return QRT_PKCS5_BAD_ALGORITHM_PARAMETER;
            suite.rc2.effectiveBits = (rp->bit_mask & RC2_CBC_Parameter_rc2ParameterVersion_present)
                                          ? ostrel::rc2_bits_of_version(rp->rc2ParameterVersion)
                                          : 32;
            if (suite.rc2.effectiveBits < 1 || suite.rc2.effectiveBits > 1024) return QRT_PKCS5_BAD_ALGORITHM_PARAMETER;
            bin_assign(iv.get(), rp->iv.value, 8);
        } else {
            AsnTree<RC5_CBC_Parameters> rp(RC5_CBC_Parameters_PDU);
            r = rp.decode(&ep);
            if (r) return r;
            // 64-bit blocks only; the rounds within the range the parameter type allows.
            if (rp->blockSizeInBits != 64 || rp->rounds < 8 || rp->rounds > 127) return QRT_PKCS5_BAD_ALGORITHM_PARAMETER;
            bool hasIv = rp->bit_mask & RC5_CBC_Parameters_iv_present;
            if (hasIv && rp->iv.length != 8) return QRT_PKCS5_BAD_ALGORITHM_PARAMETER;
            suite.rc5.rounds = rp->rounds;
            bin_assign(iv.get(), hasIv ? rp->iv.value : nullptr, 8);  // absent: eight zero bytes
        }

        bin_assign(&param->pbkdf2Param.salt, kp->salt.u.specified.value, kp->salt.u.specified.length);
        param->kdfID = QRT_PKCS5_KDF_PBKDF2;
        param->pbkdf2Param.iterationCount = kp->iterationCount;
        param->pbkdf2Param.keyLength = keyLength;
        param->pbkdf2Param.prfID = prf;
        param->cipherID = e->cipherID;
        param->cipherParam.suiteParam = suite;
        param->cipherParam.modeID = QRT_CSP_MODE_CBC;
        param->cipherParam.paddingID = QRT_CSP_PAD_PKCS5;
        param->cipherParam.modeParam.iv = QRT_BIN_New();
        if (!param->cipherParam.modeParam.iv) return QRT_PKCS5_MALLOC_FAILED;
        *param->cipherParam.modeParam.iv = iv.release();
        *algId = ZQ_PKCS5_PBES_ALGID{};
        algId->pbesID = QRT_PKCS5_PBES2;
        algId->pbes2Param.kdfID = QRT_PKCS5_KDF_PBKDF2;
        algId->pbes2Param.prfID = prf;
        algId->pbes2Param.encID = e->encID;
        return 0;
    });
    if (rc) QRT_PKCS5_PBES2Param_Reset(param);
    return rc;
}

}  // extern "C"
