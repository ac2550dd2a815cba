// Signatures of X.509 objects: the one table from signature AlgorithmIdentifiers to the
// provider's algorithms and back, the SubjectPublicKeyInfo reader, and the one entry point that
// checks (and the one that makes) a signature over the signed bytes as they arrived.
#include <cstring>

#include "csp_pkey.hpp"
#include "ostrel/guard.hpp"
#include "ostrel/tlv.hpp"

using namespace ostrel;
using namespace ostrel::csp;

namespace {

struct OidBytes {
    const uint8_t *p;
    size_t n;
};
// How a signature identifier carries parameters.
enum ParamRule : uint8_t { kParamsNull, kParamsAbsent, kParamsPss };
// How a key identifier carries parameters.
enum KeyParamRule : uint8_t { kKeyParamsNone, kKeyParamsDomain, kKeyParamsPss };

struct SigAlgRow {
    OidBytes oid;
    int sign, hash, pkey;
    ParamRule params;
    const char *name;
};
struct KeyAlgRow {
    OidBytes oid;
    int pkey;
    KeyParamRule params;
    const char *name;
};
struct HashAlgRow {
    OidBytes oid;
    int hash;
    const char *name;
};

#include "csp_sigalgs.inc"

constexpr int kPkeyRsaPss = QRT_CSP_PKEY_RSAPSS;
constexpr int kPssDefaultSalt = 20;  // RFC 4055: saltLength DEFAULT 20

bool same_oid(const Reader &r, const OidBytes &o) { return tlv::equals(r, o.p, o.n); }

template <class Row, size_t N>
const Row *find_oid(const Row (&rows)[N], const Reader &oid) {
    for (const Row &row : rows)
        if (same_oid(oid, row.oid)) return &row;
    return nullptr;
}

// AlgorithmIdentifier ::= SEQUENCE { algorithm OBJECT IDENTIFIER, parameters ANY OPTIONAL }
struct AlgParts {
    Reader oid;
    bool has_params = false;
    uint8_t params_tag = 0;
    Reader params_content;  // the parameters' contents
    Reader params;          // the parameters' whole encoding
};

bool read_algid(Reader &r, AlgParts &a) {
    Reader seq;
    if (tlv::read_tlv(r, tlv::kSequence, seq, tlv::Profile::kBer)) return false;
    if (tlv::read_tlv(seq, tlv::kOid, a.oid, tlv::Profile::kBer) || a.oid.empty()) return false;
    a.has_params = !seq.empty();
    if (a.has_params && tlv::read_any(seq, a.params_tag, a.params_content, &a.params, tlv::Profile::kBer)) return false;
    return seq.empty();
}

// Parameters that are absent or NULL.
bool absent_or_null(const AlgParts &a) {
    return !a.has_params || (a.params_tag == tlv::kNull && a.params_content.empty());
}

// HashAlgorithm: one of the table's hashes, parameters absent or NULL (RFC 4055 accepts both).
bool read_hash_alg(Reader &r, int &hash) {
    AlgParts a;
    if (!read_algid(r, a) || !absent_or_null(a)) return false;
    const HashAlgRow *h = find_oid(kHashAlgs, a.oid);
    if (!h) return false;
    hash = h->hash;
    return true;
}

// An explicitly tagged field [n] that may be absent: its contents, or false with `present` unset.
bool read_explicit(Reader &r, uint8_t n, Reader &inner, bool &present) {
    present = tlv::next_is(r, static_cast<uint8_t>(0xA0 | n));
    if (!present) return true;
    return tlv::read_tlv(r, static_cast<uint8_t>(0xA0 | n), inner, tlv::Profile::kBer) == tlv::kOk;
}

// RSASSA-PSS-params ::= SEQUENCE {
//     hashAlgorithm    [0] HashAlgorithm    DEFAULT sha1,
//     maskGenAlgorithm [1] MaskGenAlgorithm DEFAULT mgf1SHA1,
//     saltLength       [2] INTEGER          DEFAULT 20,
//     trailerField     [3] TrailerField     DEFAULT trailerFieldBC }
bool read_pss_params(const AlgParts &a, ZQ_CSP_SigAlg &out) {
    if (!a.has_params || a.params_tag != tlv::kSequence) return false;
    Reader seq = a.params_content, f;
    bool present = false;
    out.hashID = QRT_CSP_HASH_SHA1;
    out.mgfHashID = QRT_CSP_HASH_SHA1;
    out.saltLength = kPssDefaultSalt;
    if (!read_explicit(seq, 0, f, present)) return false;
    if (present && (!read_hash_alg(f, out.hashID) || !f.empty())) return false;
    if (!read_explicit(seq, 1, f, present)) return false;
    if (present) {
        // MaskGenAlgorithm: id-mgf1 with a HashAlgorithm as its parameters
        AlgParts m;
        if (!read_algid(f, m) || !f.empty() || !same_oid(m.oid, kMgf1) || !m.has_params) return false;
        Reader h = m.params;
        if (!read_hash_alg(h, out.mgfHashID) || !h.empty()) return false;
    }
    if (!read_explicit(seq, 2, f, present)) return false;
    if (present) {
        uint32_t salt = 0;
        if (tlv::read_small(f, salt, tlv::Profile::kBer) || !f.empty()) return false;
        out.saltLength = salt == 0 ? WJ_PSS_SALT_EMPTY : static_cast<int>(salt);
    }
    if (!read_explicit(seq, 3, f, present)) return false;
    if (present) {
        uint32_t trailer = 0;
        if (tlv::read_small(f, trailer, tlv::Profile::kBer) || !f.empty() || trailer != 1) return false;
    }
    return seq.empty();
}

// The table's entry for an identifier given by its parts.
int sig_alg_of(const Reader &oid, const AlgParts &params, ZQ_CSP_SigAlg &out) {
    const SigAlgRow *row = find_oid(kSigAlgs, oid);
    if (!row) return QRT_CSP_UNKNOWN_ID;
    out = ZQ_CSP_SigAlg{row->sign, row->hash, row->pkey, 0, 0};
    if (row->params == kParamsPss) return read_pss_params(params, out) ? 0 : QRT_CSP_UNKNOWN_ID;
    return absent_or_null(params) ? 0 : QRT_CSP_UNKNOWN_ID;
}

int sig_alg_of(const ZQ_CSP_AlgID *id, ZQ_CSP_SigAlg &out) {
    if (!id || !id->oid || !id->oidLength) return QRT_CSP_INVALID_INPUT;
    AlgParts params;
    if (id->params && id->params->length) {
        if (!id->params->value) return QRT_CSP_INVALID_INPUT;
        Reader r(id->params->value, id->params->length);
        params.has_params = true;
        if (tlv::read_any(r, params.params_tag, params.params_content, &params.params, tlv::Profile::kBer) ||
            !r.empty())
            return QRT_CSP_UNKNOWN_ID;
    }
    return sig_alg_of(Reader(id->oid, id->oidLength), params, out);
}

// SubjectPublicKeyInfo ::= SEQUENCE { algorithm AlgorithmIdentifier, subjectPublicKey BIT STRING }
struct Spki {
    const KeyAlgRow *alg = nullptr;
    AlgParts params;
    Reader key;  // the BIT STRING's octets
};

int read_spki(const BIN *in, Spki &k) {
    Reader r(in->value, in->length), seq, bits;
    if (tlv::read_tlv(r, tlv::kSequence, seq, tlv::Profile::kBer) || !r.empty()) return QRT_CSP_BAD_PUBKEY;
    if (!read_algid(seq, k.params)) return QRT_CSP_BAD_PUBKEY;
    if (tlv::read_tlv(seq, tlv::kBitString, bits, tlv::Profile::kBer) || !seq.empty()) return QRT_CSP_BAD_PUBKEY;
    uint8_t unused = 0;
    if (!bits.u8(unused) || unused != 0 || bits.empty()) return QRT_CSP_BAD_PUBKEY;
    k.key = bits;
    k.alg = find_oid(kKeyAlgs, k.params.oid);
    return k.alg ? 0 : QRT_CSP_BAD_PUBKEY;
}

// Whether a key of the SubjectPublicKeyInfo's algorithm may have made a signature of alg.
bool key_fits(const ZQ_CSP_SigAlg &alg, const Spki &k) {
    switch (alg.pkeyID) {
        case QRT_CSP_PKEY_RSA:
            // an id-RSASSA-PSS key signs with PSS only (RFC 4055 section 1.2)
            return k.alg->pkey == QRT_CSP_PKEY_RSA ||
                   (k.alg->pkey == kPkeyRsaPss && alg.signID == QRT_CSP_SIGN_RSA_PSS);
        case QRT_CSP_PKEY_ECKCDSA:
            return k.alg->pkey == QRT_CSP_PKEY_ECDSA;
        default:
            return k.alg->pkey == alg.pkeyID;
    }
}

// An RSASSA-PSS key whose parameters restrict it (RFC 4055 section 3.3) accepts only signatures
// with its hash and mask generation and a salt at least as long as its own.
bool pss_key_allows(const ZQ_CSP_SigAlg &alg, const Spki &k) {
    if (k.alg->params != kKeyParamsPss || !k.params.has_params) return true;
    if (k.params.params_tag == tlv::kNull && k.params.params_content.empty()) return true;
    if (alg.signID != QRT_CSP_SIGN_RSA_PSS) return false;
    ZQ_CSP_SigAlg key{};
    if (!read_pss_params(k.params, key)) return false;
    auto bytes = [](int salt) { return salt < 0 ? 0 : salt; };
    return key.hashID == alg.hashID && key.mgfHashID == alg.mgfHashID && bytes(alg.saltLength) >= bytes(key.saltLength);
}

// MGF number of the provider's PSS parameters for an MGF1 hash.
int mgf_id(int hash, int mgf_hash) {
    if (mgf_hash == 0 || mgf_hash == hash) return 1;
    switch (mgf_hash) {
        case QRT_CSP_HASH_SHA1:
            return 2;
        case QRT_CSP_HASH_SHA256:
            return 3;
        case QRT_CSP_HASH_SHA384:
            return 4;
        case QRT_CSP_HASH_SHA512:
            return 5;
        default:
            return 0;
    }
}

bool is_message_level(int pkey) { return pkey == QRT_CSP_PKEY_KCDSA || pkey == QRT_CSP_PKEY_ECKCDSA; }

// The provider parameters of a signature with alg; key parameters (DER) for DSA, KCDSA and EC.
int sign_param(const ZQ_CSP_SigAlg &alg, BIN *pkey_param, BIN *pub, ZQ_CSP_SignParam &p) {
    std::memset(&p, 0, sizeof p);
    switch (alg.pkeyID) {
        case QRT_CSP_PKEY_RSA:
            if (alg.signID == QRT_CSP_SIGN_RSA_PSS) {
                p.rsa_pss.hashID = alg.hashID;
                p.rsa_pss.mgfID = mgf_id(alg.hashID, alg.mgfHashID);
                p.rsa_pss.saltLength = alg.saltLength;
                if (!p.rsa_pss.mgfID) return QRT_CSP_UNKNOWN_ID;
            }
            return 0;
        case QRT_CSP_PKEY_DSA:
            p.dsa.pkeyParam = pkey_param;
            return 0;
        case QRT_CSP_PKEY_ECDSA:
            p.ecdsa.pkeyParam = pkey_param;
            return 0;
        case QRT_CSP_PKEY_KCDSA:
            p.kcdsa.pkeyParam = pkey_param;
            p.kcdsa.pubKey = pub;
            return 0;
        case QRT_CSP_PKEY_ECKCDSA:
            p.eckcdsa.pkeyParam = pkey_param;
            p.eckcdsa.pubKey = pub;
            return 0;
        default:
            return QRT_CSP_UNKNOWN_ID;
    }
}

// What the algorithm's branch receives: the digest of the signed bytes (kept in md), or the
// bytes themselves for the KCDSA family, which hashes them with the signer's key.
struct Covered {
    unsigned char md[WJ_HASH_MAX_LENGTH];
    BIN data{0, nullptr};
};

int covered(const ZQ_CSP_SigAlg &alg, const BIN *signed_bytes, Covered &c) {
    c.data = *signed_bytes;
    if (is_message_level(alg.pkeyID)) return 0;
    int core = core_hash(alg.hashID);
    if (!core) return QRT_CSP_UNKNOWN_ID;
    unsigned n = sizeof c.md;
    if (int rc = WJC_Hash(c.md, &n, signed_bytes->value, signed_bytes->length, core)) {
        OSTREL_CORE_FAIL("WJ_Hash", rc);
        return QRT_CSP_CRYPTO_FAILED;
    }
    c.data = BIN{n, c.md};
    return 0;
}

BIN view(const Reader &r) { return BIN{static_cast<unsigned int>(r.remaining()), const_cast<uint8_t *>(r.data())}; }

// Failures that carry no trace of their own (NULL arguments) are returned as they are.
int traced(const char *fn, int rc) { return rc == 0 || rc == QRT_CSP_INVALID_INPUT ? rc : OSTREL_FAIL_AS(fn, rc); }

// ---- writing AlgorithmIdentifiers --------------------------------------------------------

struct Out {
    std::vector<uint8_t> b;
    void header(uint8_t tag, size_t len) {
        uint8_t l[9];
        b.push_back(tag);
        b.insert(b.end(), l, l + ostrel::tlv::length_octets(len, l));
    }
    void tlv(uint8_t tag, const Out &inner) {
        header(tag, inner.b.size());
        b.insert(b.end(), inner.b.begin(), inner.b.end());
    }
    void oid(const OidBytes &o) {
        header(tlv::kOid, o.n);
        b.insert(b.end(), o.p, o.p + o.n);
    }
    void null() { header(tlv::kNull, 0); }
};

const HashAlgRow *hash_row(int hash) {
    for (const HashAlgRow &h : kHashAlgs)
        if (h.hash == hash) return &h;
    return nullptr;
}

// HashAlgorithm with NULL parameters, as the common encoders write it.
bool put_hash_alg(Out &o, int hash) {
    const HashAlgRow *h = hash_row(hash);
    if (!h) return false;
    Out a;
    a.oid(h->oid);
    a.null();
    o.tlv(tlv::kSequence, a);
    return true;
}

int hash_length(int hash) {
    ZQ_CSP_HashInfo info{};
    return QRT_CSP_GetHashInfo(&info, hash) == 0 ? info.hashLength : 0;
}

// RSASSA-PSS-params with every field that differs from its default.
bool put_pss_params(Out &o, const ZQ_CSP_SigAlg &alg) {
    int mgf = alg.mgfHashID ? alg.mgfHashID : alg.hashID;
    int salt = alg.saltLength ? alg.saltLength : hash_length(alg.hashID);
    if (salt == WJ_PSS_SALT_EMPTY) salt = 0;
    if (salt < 0 || !hash_row(alg.hashID) || !hash_row(mgf)) return false;
    Out seq;
    if (alg.hashID != QRT_CSP_HASH_SHA1) {
        Out h;
        put_hash_alg(h, alg.hashID);
        seq.tlv(0xA0, h);
    }
    if (mgf != QRT_CSP_HASH_SHA1) {
        Out m, inner;
        inner.oid(kMgf1);
        put_hash_alg(inner, mgf);
        m.tlv(tlv::kSequence, inner);
        seq.tlv(0xA1, m);
    }
    if (salt != kPssDefaultSalt) {
        Out s, i;
        uint8_t v[5];
        size_t n = 0;
        unsigned x = static_cast<unsigned>(salt);
        do {
            v[n++] = static_cast<uint8_t>(x);
            x >>= 8;
        } while (x);
        if (v[n - 1] & 0x80) v[n++] = 0;
        i.header(tlv::kInteger, n);
        while (n) i.b.push_back(v[--n]);
        s.b = i.b;
        seq.tlv(0xA2, s);
    }
    o.tlv(tlv::kSequence, seq);
    return true;
}

const SigAlgRow *row_for(const ZQ_CSP_SigAlg &alg) {
    for (const SigAlgRow &row : kSigAlgs)
        if (row.sign == alg.signID && (row.params == kParamsPss || row.hash == alg.hashID)) return &row;
    return nullptr;
}

// The check behind both entry points, once the algorithm is known.
int verify_signed(const char *fn_, const ZQ_CSP_SigAlg &alg, const BIN *signedBytes, const BIN *signature,
                  const BIN *subjectPublicKeyInfo, const BIN *inheritedParam) {
    Spki k;
    if (int rc = read_spki(subjectPublicKeyInfo, k)) return OSTREL_FAIL_AS(fn_, rc);
    if (!key_fits(alg, k) || !pss_key_allows(alg, k)) return OSTREL_FAIL_AS(fn_, QRT_CSP_INVALID_SIGNATURE);
    // domain parameters: the key's own, else the issuer's (absent or NULL inherits)
    BIN param{0, nullptr};
    if (k.alg->params == kKeyParamsDomain) {
        if (!absent_or_null(k.params))
            param = view(k.params.params);
        else if (inheritedParam && inheritedParam->length)
            param = *inheritedParam;
        else
            return OSTREL_FAIL_AS(fn_, QRT_CSP_BAD_PARAM);
    }
    if (signature->length == 0) return OSTREL_FAIL_AS(fn_, QRT_CSP_INVALID_SIGNATURE);
    BIN pub = view(k.key);
    ZQ_CSP_SignParam p;
    if (int rc = sign_param(alg, &param, nullptr, p)) return OSTREL_FAIL_AS(fn_, rc);
    Covered c;
    if (int rc = covered(alg, signedBytes, c)) return OSTREL_FAIL_AS(fn_, rc);
    return traced(fn_, verify_by_id(signature, &c.data, &pub, alg.signID, &p));
}

bool verify_args_ok(const BIN *signedBytes, const BIN *signature, const BIN *spki, const BIN *inheritedParam) {
    return bin_ok(signedBytes) && bin_ok(signature) && bin_ok(spki) && (!inheritedParam || bin_ok(inheritedParam));
}

}  // namespace

extern "C" {

QRT_API int QRT_CSP_SigAlg_FromAlgID(ZQ_CSP_SigAlg *alg, const ZQ_CSP_AlgID *algID) {
    if (!alg) return QRT_CSP_INVALID_INPUT;
    *alg = ZQ_CSP_SigAlg{};
    ZQ_CSP_SigAlg out{};
    if (int rc = sig_alg_of(algID, out)) return traced(__func__, rc);
    *alg = out;
    return 0;
}

QRT_API int QRT_CSP_SigAlg_Decode(ZQ_CSP_SigAlg *alg, const BIN *algorithmIdentifier) {
    if (!alg || !bin_ok(algorithmIdentifier)) return QRT_CSP_INVALID_INPUT;
    *alg = ZQ_CSP_SigAlg{};
    Reader r(algorithmIdentifier->value, algorithmIdentifier->length);
    AlgParts a;
    if (!read_algid(r, a) || !r.empty()) return OSTREL_FAIL(QRT_CSP_UNKNOWN_ID);
    ZQ_CSP_SigAlg out{};
    if (int rc = sig_alg_of(a.oid, a, out)) return OSTREL_FAIL(rc);
    *alg = out;
    return 0;
}

QRT_API int QRT_CSP_SigAlg_Encode(BIN *algorithmIdentifier, const ZQ_CSP_SigAlg *alg) {
    if (!algorithmIdentifier || !alg) return QRT_CSP_INVALID_INPUT;
    *algorithmIdentifier = BIN{0, nullptr};
    const char *const fn_ = __func__;
    return OSTREL_GUARD([&] {
        const SigAlgRow *row = row_for(*alg);
        if (!row) return OSTREL_FAIL_AS(fn_, QRT_CSP_UNKNOWN_ID);
        Out inner, o;
        inner.oid(row->oid);
        if (row->params == kParamsNull) inner.null();
        if (row->params == kParamsPss && !put_pss_params(inner, *alg)) return OSTREL_FAIL_AS(fn_, QRT_CSP_UNKNOWN_ID);
        o.tlv(tlv::kSequence, inner);
        return set_bin(algorithmIdentifier, o.b.data(), static_cast<unsigned>(o.b.size()));
    });
}

QRT_API int QRT_CSP_SigAlg_ForKey(ZQ_CSP_SigAlg *alg, int pkeyID, int hashID) {
    if (!alg) return QRT_CSP_INVALID_INPUT;
    *alg = ZQ_CSP_SigAlg{};
    for (const SigAlgRow &row : kSigAlgs)
        if (row.pkey == pkeyID && row.hash == hashID && row.params != kParamsPss) {
            *alg = ZQ_CSP_SigAlg{row.sign, row.hash, row.pkey, 0, 0};
            return 0;
        }
    return OSTREL_FAIL(QRT_CSP_UNKNOWN_ID);
}

QRT_API int QRT_CSP_SigAlg_ForSigner(ZQ_CSP_SigAlg *alg, const ZQ_CSP_AlgID *algID, int hashID) {
    if (!alg || !algID || !algID->oid || !algID->oidLength) return QRT_CSP_INVALID_INPUT;
    *alg = ZQ_CSP_SigAlg{};
    const KeyAlgRow *key = find_oid(kKeyAlgs, Reader(algID->oid, algID->oidLength));
    if (key && key->pkey != kPkeyRsaPss) return QRT_CSP_SigAlg_ForKey(alg, key->pkey, hashID);
    ZQ_CSP_SigAlg out{};
    if (int rc = sig_alg_of(algID, out)) return traced(__func__, rc);
    if (out.hashID != hashID) return OSTREL_FAIL(QRT_CSP_UNKNOWN_ID);
    *alg = out;
    return 0;
}

QRT_API int QRT_CSP_VerifySignedData(const ZQ_CSP_AlgID *algID, const BIN *signedBytes, const BIN *signature,
                                     const BIN *subjectPublicKeyInfo, const BIN *inheritedParam) {
    if (!algID || !verify_args_ok(signedBytes, signature, subjectPublicKeyInfo, inheritedParam))
        return QRT_CSP_INVALID_INPUT;
    const char *const fn_ = __func__;
    return OSTREL_GUARD([&] {
        ZQ_CSP_SigAlg alg{};
        if (int rc = sig_alg_of(algID, alg)) return traced(fn_, rc);
        return verify_signed(fn_, alg, signedBytes, signature, subjectPublicKeyInfo, inheritedParam);
    });
}

QRT_API int QRT_CSP_VerifySignedDataAlg(const ZQ_CSP_SigAlg *alg, const BIN *signedBytes, const BIN *signature,
                                        const BIN *subjectPublicKeyInfo, const BIN *inheritedParam) {
    if (!alg || !verify_args_ok(signedBytes, signature, subjectPublicKeyInfo, inheritedParam))
        return QRT_CSP_INVALID_INPUT;
    const char *const fn_ = __func__;
    return OSTREL_GUARD([&] {
        if (!row_for(*alg)) return OSTREL_FAIL_AS(fn_, QRT_CSP_UNKNOWN_ID);
        return verify_signed(fn_, *alg, signedBytes, signature, subjectPublicKeyInfo, inheritedParam);
    });
}

QRT_API int QRT_CSP_SignData(BIN *signature, const BIN *signedBytes, const ZQ_CSP_SigAlg *alg, const BIN *privateKey,
                             const BIN *pkeyParam, const BIN *publicKey) {
    if (!signature || !bin_ok(signedBytes) || !alg || !bin_ok(privateKey) || (pkeyParam && !bin_ok(pkeyParam)) ||
        (publicKey && !bin_ok(publicKey)))
        return QRT_CSP_INVALID_INPUT;
    *signature = BIN{0, nullptr};
    const char *const fn_ = __func__;
    return OSTREL_GUARD([&] {
        ZQ_CSP_SigAlg a = *alg;
        if (!row_for(a)) return OSTREL_FAIL_AS(fn_, QRT_CSP_UNKNOWN_ID);
        if (a.signID == QRT_CSP_SIGN_RSA_PSS && a.saltLength == 0) a.saltLength = hash_length(a.hashID);
        ZQ_CSP_SignParam p;
        if (int rc = sign_param(a, const_cast<BIN *>(pkeyParam), const_cast<BIN *>(publicKey), p))
            return OSTREL_FAIL_AS(fn_, rc);
        Covered c;
        if (int rc = covered(a, signedBytes, c)) return OSTREL_FAIL_AS(fn_, rc);
        int rc = sign_by_id(signature, &c.data, privateKey, a.signID, &p);
        if (rc) QRT_BIN_Reset(signature);
        return traced(fn_, rc);
    });
}

}  // extern "C"
