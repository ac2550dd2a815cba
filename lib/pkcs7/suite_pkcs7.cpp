// The library's identifier tables: content types, digests (through the certificate library's
// hash map), signer algorithms (through the provider's signature table) and content encryption.
#include "pkcs7_internal.h"
#include "suite_pkc.h"

using namespace ostrel;
using namespace ostrel::pkcs7;

namespace {

struct TypeRow {
    int typeID;
    const ObjectID *oid;
};
const TypeRow kTypes[] = {
    {QRT_PKCS7_DATA, &id_data},
    {QRT_PKCS7_SIGNED, &id_signedData},
    {QRT_PKCS7_ENVELOPED, &id_envelopedData},
    {QRT_PKCS7_SIGNED_ENVELOPED, &id_signedAndEnvelopedData},
    {QRT_PKCS7_DIGESTED, &id_digestedData},
    {QRT_PKCS7_ENCRYPTED, &id_encryptedData},
    {QRT_PKCS7_TSTINFO, &id_ct_TSTInfo},
    {QRT_PKCS7_CT_CONTENTINFO, &id_ct_contentInfo},
    {QRT_PKCS7_DVCS_REQUEST, &id_ct_DVCSRequestData},
    {QRT_PKCS7_DVCS_RESPONSE, &id_ct_DVCSResponseData},
    {QRT_PKCS7_CTL, &cTL},
    {QRT_PKCS7_ARC_CERT_REQUEST, &id_kiec_arcCertRequest},
    {QRT_PKCS7_ARC_CERT_RESPONSE, &id_kiec_arcCertReseponse},
};

// Digest ids are the provider's hash ids except HAS-160 (5 here, 4 there).
constexpr int kDigests[] = {QRT_PKCS7_MD2,    QRT_PKCS7_MD5,    QRT_PKCS7_SHA1,  QRT_PKCS7_HAS160,
                            QRT_PKCS7_SHA256, QRT_PKCS7_SHA384, QRT_PKCS7_SHA512};

const EncAlg kEncAlgs[] = {
    {QRT_PKCS7_DES, &des_cbc, 8, QRT_CSP_CIPHER_DES},
    {QRT_PKCS7_DES3, &des_ede3_cbc, 24, QRT_CSP_CIPHER_TDES},
    {QRT_PKCS7_RC2, &rc2_cbc, 24, QRT_CSP_CIPHER_RC2},
    {QRT_PKCS7_CAMELLIA128, &camellia128_cbc, 16, QRT_CSP_CIPHER_CAMELLIA128},
    {QRT_PKCS7_SEED, &seedCBC, 16, QRT_CSP_CIPHER_SEED},
    {QRT_PKCS7_ARIA, &ariaCBC, 16, QRT_CSP_CIPHER_ARIA},
    {QRT_PKCS7_ARIA128, &ariaCBC, 16, QRT_CSP_CIPHER_ARIA128},
    {QRT_PKCS7_ARIA192, &OBJID_ARIACBC192, 24, QRT_CSP_CIPHER_ARIA192},
    {QRT_PKCS7_ARIA256, &OBJID_ARIACBC256, 32, QRT_CSP_CIPHER_ARIA256},
    {QRT_PKCS7_AES128, &id_aes128_CBC, 16, QRT_CSP_CIPHER_AES},
    {QRT_PKCS7_AES192, &id_aes192_CBC, 24, QRT_CSP_CIPHER_AES},
    {QRT_PKCS7_AES256, &id_aes256_CBC, 32, QRT_CSP_CIPHER_AES},
};

// (alg id, digest id) -> (provider hash id, sign id); 0 where the pair does not exist.
struct SignCell {
    int alg, digest, hash, sign;
};
const SignCell kSignCells[] = {
    {QRT_PKCS7_ALG_RSA, 1, 1, QRT_CSP_SIGN_RSA_MD2},
    {QRT_PKCS7_ALG_RSA, 2, 2, QRT_CSP_SIGN_RSA_MD5},
    {QRT_PKCS7_ALG_RSA, 3, 3, QRT_CSP_SIGN_RSA_SHA1},
    {QRT_PKCS7_ALG_RSA, 5, 4, QRT_CSP_SIGN_RSA_HAS160},
    {QRT_PKCS7_ALG_RSA, 6, 6, QRT_CSP_SIGN_RSA_SHA256},
    {QRT_PKCS7_ALG_RSA, 7, 7, QRT_CSP_SIGN_RSA_SHA384},
    {QRT_PKCS7_ALG_RSA, 8, 8, QRT_CSP_SIGN_RSA_SHA512},
    {QRT_PKCS7_ALG_RSAPSS, 1, 1, QRT_CSP_SIGN_RSA_PSS},
    {QRT_PKCS7_ALG_RSAPSS, 2, 2, QRT_CSP_SIGN_RSA_PSS},
    {QRT_PKCS7_ALG_RSAPSS, 3, 3, QRT_CSP_SIGN_RSA_PSS},
    {QRT_PKCS7_ALG_RSAPSS, 6, 6, QRT_CSP_SIGN_RSA_PSS},
    {QRT_PKCS7_ALG_RSAPSS, 7, 7, QRT_CSP_SIGN_RSA_PSS},
    {QRT_PKCS7_ALG_RSAPSS, 8, 8, QRT_CSP_SIGN_RSA_PSS},
    {QRT_PKCS7_ALG_DSA, 3, 3, QRT_CSP_SIGN_DSA_SHA1},
    {QRT_PKCS7_ALG_ECDSA, 3, 3, QRT_CSP_SIGN_ECDSA},
    {QRT_PKCS7_ALG_ECDSA, 6, 6, QRT_CSP_SIGN_ECDSA},
    {QRT_PKCS7_ALG_ECDSA, 7, 7, QRT_CSP_SIGN_ECDSA},
    {QRT_PKCS7_ALG_ECDSA, 8, 8, QRT_CSP_SIGN_ECDSA},
    {QRT_PKCS7_ALG_KCDSA, 3, 3, QRT_CSP_SIGN_KCDSA_SHA1},
    {QRT_PKCS7_ALG_KCDSA, 5, 4, QRT_CSP_SIGN_KCDSA_HAS160},
    {QRT_PKCS7_ALG_KCDSA, 6, 6, QRT_CSP_SIGN_KCDSA_SHA256},
    {QRT_PKCS7_ALG_KCDSA, 7, 7, QRT_CSP_SIGN_KCDSA_SHA384},
    {QRT_PKCS7_ALG_KCDSA, 8, 8, QRT_CSP_SIGN_KCDSA_SHA512},
    {QRT_PKCS7_ALG_ECKCDSA, 3, 3, QRT_CSP_SIGN_ECKCDSA_SHA1},
    {QRT_PKCS7_ALG_ECKCDSA, 5, 4, QRT_CSP_SIGN_ECKCDSA_HAS160},
};

bool known_alg(int alg) {
    for (const SignCell &c : kSignCells)
        if (c.alg == alg) return true;
    return false;
}

// The alg id of a provider key algorithm.
int alg_of_pkey(int pkeyID) {
    switch (pkeyID) {
        case QRT_CSP_PKEY_RSA:
            return QRT_PKCS7_ALG_RSA;
        case QRT_CSP_PKEY_RSAPSS:
            return QRT_PKCS7_ALG_RSAPSS;
        case QRT_CSP_PKEY_DSA:
            return QRT_PKCS7_ALG_DSA;
        case QRT_CSP_PKEY_ECDSA:
            return QRT_PKCS7_ALG_ECDSA;
        case QRT_CSP_PKEY_KCDSA:
            return QRT_PKCS7_ALG_KCDSA;
        case QRT_CSP_PKEY_ECKCDSA:
            return QRT_PKCS7_ALG_ECKCDSA;
        default:
            return -1;
    }
}

const unsigned char kRsaEncryptionNull[] = {0x30, 0x0d, 0x06, 0x09, 0x2a, 0x86, 0x48, 0x86,
                                            0xf7, 0x0d, 0x01, 0x01, 0x01, 0x05, 0x00};

}  // namespace

namespace ostrel::pkcs7 {

const EncAlg *enc_alg(int encID) {
    for (const EncAlg &e : kEncAlgs)
        if (e.encID == encID) return &e;
    return nullptr;
}

const EncAlg *enc_alg(const ObjectID &oid) {
    if (oid_equal(oid, rc2CBC)) return enc_alg(QRT_PKCS7_RC2);
    for (const EncAlg &e : kEncAlgs)
        if (oid_equal(*e.oid, oid)) return &e;
    return nullptr;
}

int type_id(const ObjectID &oid) {
    for (const TypeRow &t : kTypes)
        if (oid_equal(*t.oid, oid)) return t.typeID;
    return -1;
}

const ObjectID *type_oid(int typeID) {
    for (const TypeRow &t : kTypes)
        if (t.typeID == typeID) return t.oid;
    return nullptr;
}

int hash_id(int digestID) {
    for (int d : kDigests)
        if (d == digestID) return d == QRT_PKCS7_HAS160 ? QRT_CSP_HASH_HAS160 : d;
    return 0;
}

int digest_id(const ObjectID &oid) {
    int hash = QRT_PKC_ObjID_To_HashID(&oid);
    int digest = hash == QRT_CSP_HASH_HAS160 ? QRT_PKCS7_HAS160 : hash;
    return hash_id(digest) ? digest : -1;
}

const ObjectID *digest_oid(int digestID) {
    int hash = hash_id(digestID);
    return hash ? QRT_PKC_HashID_To_ObjID(hash) : nullptr;
}

int sign_cell(int algID, int digestID, int &hash, int &sign) {
    if (!known_alg(algID)) return QRT_PKCS7_UNKNOWN_ALGID;
    for (const SignCell &c : kSignCells)
        if (c.alg == algID && c.digest == digestID) {
            hash = c.hash;
            sign = c.sign;
            return 0;
        }
    return QRT_PKCS7_UNKNOWN_DIGESTID;
}

int signer_alg(ZQ_CSP_SigAlg &alg, int algID, int digestID) {
    int hash = 0, sign = 0;
    if (int rc = sign_cell(algID, digestID, hash, sign)) return rc;
    alg = ZQ_CSP_SigAlg{};
    if (algID == QRT_PKCS7_ALG_RSAPSS) {
        // the parameters used: the hash, MGF1 with it, a salt of the hash length
        alg = ZQ_CSP_SigAlg{QRT_CSP_SIGN_RSA_PSS, hash, QRT_CSP_PKEY_RSA, hash, 0};
        return 0;
    }
    static const int kPkey[] = {0,
                                QRT_CSP_PKEY_RSA,
                                0,
                                QRT_CSP_PKEY_DSA,
                                0,
                                QRT_CSP_PKEY_ECDSA,
                                0,
                                0,
                                0,
                                0,
                                0,
                                QRT_CSP_PKEY_KCDSA,
                                QRT_CSP_PKEY_ECKCDSA};
    if (QRT_CSP_SigAlg_ForKey(&alg, kPkey[algID], hash) != 0) return QRT_PKCS7_UNKNOWN_DIGESTID;
    return 0;
}

int alg_of_cert_key(int pkeyID) { return alg_of_pkey(pkeyID); }

}  // namespace ostrel::pkcs7

extern "C" {

QRT_API const ObjectID *QRT_PKCS7_TypeID_To_ObjID(int typeID) { return type_oid(typeID); }

QRT_API int QRT_PKCS7_ObjID_To_TypeID(const ObjectID *oid) { return oid ? type_id(*oid) : -1; }

QRT_API const ObjectID *QRT_PKCS7_DigestID_To_ObjID(int digestID) { return digest_oid(digestID); }

QRT_API int QRT_PKCS7_ObjID_To_DigestID(const ObjectID *oid) { return oid ? digest_id(*oid) : -1; }

QRT_API int QRT_PKCS7_DigestID_To_HashID(int digestID) {
    int h = hash_id(digestID);
    return h ? h : -1;
}

QRT_API int QRT_PKCS7_AlgID_TO_SignID(int *hashID, int *signID, int algID, int digestID) {
    if (!hashID || !signID) return QRT_PKCS7_INVALID_INPUT;
    *hashID = *signID = 0;
    int h = 0, s = 0;
    if (int rc = sign_cell(algID, digestID, h, s)) return OSTREL_FAIL(rc);
    *hashID = h;
    *signID = s;
    return 0;
}

QRT_API int QRT_PKCS7_AlgID_To_ObjID(BIN *algorithmIdentifier, int algID, int digestID) {
    if (!algorithmIdentifier) return QRT_PKCS7_INVALID_INPUT;
    *algorithmIdentifier = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        ZQ_CSP_SigAlg alg{};
        if (int rc = signer_alg(alg, algID, digestID)) return rc;
        if (algID == QRT_PKCS7_ALG_RSA) {
            set_bin(algorithmIdentifier, kRsaEncryptionNull, sizeof kRsaEncryptionNull);
            return 0;
        }
        if (QRT_CSP_SigAlg_Encode(algorithmIdentifier, &alg) != 0) return QRT_PKCS7_UNKNOWN_DIGESTID;
        return 0;
    });
}

QRT_API int QRT_PKCS7_ObjID_To_AlgID(const BIN *algorithmIdentifier) {
    if (!has_bytes(algorithmIdentifier)) return -1;
    return OSTREL_GUARD_OR(-1, [&] {
        AsnTree<AlgorithmIdentifier> a(AlgorithmIdentifier_PDU);
        if (a.decode(algorithmIdentifier) != 0) return -1;
        int pkey = QRT_PKC_ObjID_To_PkeyID(&a->algorithm);
        if (pkey > 0) return alg_of_pkey(pkey);
        ZQ_CSP_SigAlg alg{};
        if (QRT_CSP_SigAlg_Decode(&alg, algorithmIdentifier) != 0) return -1;
        if (alg.signID == QRT_CSP_SIGN_RSA_PSS) return static_cast<int>(QRT_PKCS7_ALG_RSAPSS);
        return alg_of_pkey(alg.pkeyID);
    });
}

QRT_API const ObjectID *QRT_PKCS7_EncID_To_ObjID(int encID) {
    const EncAlg *e = enc_alg(encID);
    return e ? e->oid : nullptr;
}

QRT_API int QRT_PKCS7_ObjID_To_EncID(const ObjectID *oid) {
    const EncAlg *e = oid ? enc_alg(*oid) : nullptr;
    return e ? e->encID : -1;
}

QRT_API int QRT_PKCS7_GetEncInfo(int *keyLength, int *cipherID, int encID) {
    const EncAlg *e = enc_alg(encID);
    if (!e) return QRT_PKCS7_UNKNOWN_ENCID;
    if (keyLength) *keyLength = e->keyLength;
    if (cipherID) *cipherID = e->cipherID;
    return 0;
}

}  // extern "C"
