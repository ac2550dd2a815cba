// Reading and writing a whole PFX: the AuthenticatedSafe, its safes in the three privacy modes,
// the bags with their attributes, and the two integrity modes.
#include <algorithm>

#include "ostrel/der_order.hpp"
#include "pkcs12_internal.h"

using namespace ostrel;
using namespace ostrel::tlv;

namespace ostrel::pkcs12 {

namespace {

constexpr Profile P = Profile::kBer;

BIN as_bin(Span s) { return BIN{static_cast<unsigned>(s.n), const_cast<uint8_t *>(s.n ? s.p : nullptr)}; }

// A BER copy brought to DER by the ASN.1 layer (indefinite lengths, constructed strings), so that
// the definite-length reader below can take it. False when the layer does not read it either.
bool normalize(int pdu, Span in, SecBytes &out) {
    BIN b = as_bin(in);
    void *tree = nullptr;
    if (QRT_ASN_DecodePDU(&tree, &b, pdu) != 0) return false;
    BinOwner der;
    int rc = QRT_ASN_EncodePDU(der.get(), tree, pdu);
    QRT_ASN_FreePDU(tree, pdu);
    if (rc) return false;
    out.assign(der->value, der->value + der->length);
    return true;
}

// An OCTET STRING's octets (tag `prim`), or those of its constructed form (tag `cons`) joined.
bool read_octets(Reader &r, SecBytes &out, uint8_t prim = kOctetString, uint8_t cons = 0x24, int depth = 0) {
    Reader c;
    if (next_is(r, prim)) {
        if (read_tlv(r, prim, c, P)) return false;
        put_raw(out, span_of(c));
        return true;
    }
    if (depth > 4 || read_tlv(r, cons, c, P)) return false;
    while (!c.empty())
        if (!read_octets(c, out, kOctetString, 0x24, depth + 1)) return false;
    return true;
}

// ContentInfo { contentType, [0] EXPLICIT content OPTIONAL }: the type and the content element.
bool read_content_info(Reader &r, Span &oid, Reader &content, Span *whole = nullptr) {
    Reader q = r, body, o, wrap;
    if (read_tlv(q, kSequence, body, P) || read_tlv(body, kOid, o, P)) return false;
    oid = span_of(o);
    content = Reader();
    if (!body.empty() && (read_tlv(body, 0xA0, wrap, P) || !body.empty())) return false;
    content = wrap;
    if (whole) *whole = Span{r.data(), r.remaining() - q.remaining()};
    r = q;
    return true;
}

// Attributes SET OF { type, SET OF values }: friendlyName and localKeyId are taken, others
// ignored.
// CertBag / CRLBag { id, [0] EXPLICIT OCTET STRING }: the octets when id is the expected one.
bool read_typed_bag(Reader value, Span expect, SecBytes &out, bool &wanted) {
    Reader body, o, wrap;
    if (read_tlv(value, kSequence, body, P) || read_tlv(body, kOid, o, P) || read_tlv(body, 0xA0, wrap, P))
        return false;
    wanted = span_of(o) == expect;
    if (!wanted) return true;
    return read_octets(wrap, out) && wrap.empty();
}

enum class Parse { kOk, kMalformed, kTooMany };

// SafeContents: SEQUENCE OF SafeBag { bagId, [0] EXPLICIT bagValue, bagAttributes OPTIONAL }.
Parse read_safe_contents(Span in, std::vector<Bag> &bags, size_t &count) {
    Reader r(in.p, in.n), seq;
    if (read_tlv(r, kSequence, seq, P) || !r.empty()) return Parse::kMalformed;
    while (!seq.empty()) {
        if (++count > QRT_PKCS12_MAX_BAGS) return Parse::kTooMany;
        Reader sb, o, wrap, value, attrs;
        uint8_t tag = 0;
        if (read_tlv(seq, kSequence, sb, P) || read_tlv(sb, kOid, o, P) || read_tlv(sb, 0xA0, wrap, P))
            return Parse::kMalformed;
        if (read_any(wrap, tag, value, &value, P) || !wrap.empty()) return Parse::kMalformed;
        if (!sb.empty() && (read_tlv(sb, kSet, attrs, P) || !sb.empty())) return Parse::kMalformed;
        Bag bag;
        bag.bagID = bag_of_oid(span_of(o));
        bool wanted = true;
        switch (bag.bagID) {
            case QRT_PKCS12_BAG_KEY:
            case QRT_PKCS12_BAG_SHROUDEDKEY:
                if (tag != kSequence) return Parse::kMalformed;
                bag.value.assign(value.data(), value.data() + value.remaining());
                break;
            case QRT_PKCS12_BAG_CERT:
                if (!read_typed_bag(value, kOidX509Cert, bag.value, wanted)) return Parse::kMalformed;
                break;
            case QRT_PKCS12_BAG_CRL:
                if (!read_typed_bag(value, kOidX509Crl, bag.value, wanted)) return Parse::kMalformed;
                break;
            default:
                wanted = false;  // secret and nested bags, unknown types: skipped
        }
        if (!wanted) continue;
        if (!read_attributes(attrs, bag)) return Parse::kMalformed;
        bags.push_back(std::move(bag));
    }
    return Parse::kOk;
}

// Reads safe contents, bringing BER to DER once when the direct reading fails.
int take_safe_contents(Span in, std::vector<Bag> &bags, size_t &count, int malformed) {
    size_t count0 = count;
    Parse p = read_safe_contents(in, bags, count);
    if (p == Parse::kMalformed) {
        bags.clear();
        count = count0;
        SecBytes der;
        if (normalize(SafeContents_PDU, in, der)) p = read_safe_contents(span_of(der), bags, count);
    }
    if (p == Parse::kTooMany) return QRT_PKCS12_BAD_PFX;
    return p == Parse::kOk ? 0 : malformed;
}

// A private key as the provider signs and opens with: the key of a PrivateKeyInfo, else as given.
void provider_key(SecBytes &out, Span key) {
    Reader r(key.p, key.n), body, ver, alg, oct;
    uint8_t tag = 0;
    if (!read_tlv(r, kSequence, body, P) && !read_tlv(body, kInteger, ver, P) &&
        !read_any(body, tag, alg, nullptr, P) && tag == kSequence && !read_tlv(body, kOctetString, oct, P)) {
        out.assign(oct.data(), oct.data() + oct.remaining());
        return;
    }
    out.assign(key.p, key.p + key.n);
}

bool decrypt_failed(int rc) {
    return rc != QRT_PKCS5_BAD_ALGORITHM_PARAMETER && rc != QRT_PKCS5_UNKNOWN_SALT && rc != QRT_PKCS5_UNKNOWN_ID &&
           rc != QRT_PKCS5_UNKNOWN_PBESID && rc != QRT_PKCS5_UNKNOWN_ENCID;
}

// EncryptedData { version, EncryptedContentInfo { contentType, algorithm, [0] IMPLICIT octets } }
// under the password.
int open_encrypted(Span content, const BIN *password, SecBytes &plain, int &pbeID) {
    Reader r(content.p, content.n), body, ver, eci, type, alg;
    uint8_t tag = 0;
    Span algDer;
    if (read_tlv(r, kSequence, body, P) || read_tlv(body, kInteger, ver, P) || read_tlv(body, kSequence, eci, P) ||
        read_tlv(eci, kOid, type, P))
        return QRT_PKCS12_BAD_ENCRYPTED_DATA;
    Reader whole;
    if (read_any(eci, tag, alg, &whole, P) || tag != kSequence) return QRT_PKCS12_BAD_ENCRYPTED_DATA;
    algDer = span_of(whole);
    SecBytes cipher;
    if (!read_octets(eci, cipher, 0x80, 0xA0) || !eci.empty()) return QRT_PKCS12_BAD_ENCRYPTED_DATA;
    BIN a = as_bin(algDer), c = as_bin(span_of(cipher));
    BIN pw{password ? password->length : 0, password ? password->value : nullptr};
    ZQ_PKCS5_PBES_ALGID scheme{};
    BinOwner out;
    int rc = QRT_PKCS5_DecryptData(&scheme, out.get(), &a, &c, &pw);
    if (rc && pw.length == 0 && decrypt_failed(rc)) {
        SecBytes bare;
        if (decrypt_bare(bare, algDer, span_of(cipher)) == 0) {
            plain.swap(bare);
            return 0;
        }
    }
    if (rc == 0) {
        const auto &p2 = scheme.pbes2Param;
        pbeID = scheme.pbesID >= QRT_PKCS5_P12_SHA1_RC4_128 && scheme.pbesID <= QRT_PKCS5_P12_SHA1_RC2_40
                    ? scheme.pbesID - 30
                : scheme.pbesID == QRT_PKCS5_PBES2 && p2.encID == QRT_PKCS5_ENC_AES256_CBC &&
                        p2.prfID == QRT_PKCS5_PRF_HMAC_SHA256
                    ? QRT_PKCS12_PBE_PBES2_AES256
                    : 0;
    }
    if (rc) return pbe_failure(rc, QRT_PKCS12_BAD_ENCRYPTED_DATA);
    plain.assign(out->value, out->value + out->length);
    return 0;
}

int open_enveloped(Span ci, const ZQ_PKCS12_USERDATA *ud, SecBytes &plain, int &encID) {
    if (!ud || !has_bytes(ud->recipCert) || !has_bytes(ud->recipKey)) return QRT_PKCS12_MISMATCH_PVCID;
    SecBytes key;
    provider_key(key, span_of(ud->recipKey));
    BIN in = as_bin(ci), k = as_bin(span_of(key));
    BinOwner inner, octets;
    if (QRT_PKCS7_DecodeEnveloped(&encID, inner.get(), &in, ud->recipCert, &k) != 0 ||
        QRT_PKCS7_DecodeData(octets.get(), inner.get()) != 0)
        return QRT_PKCS12_BAD_ENVELOPED_DATA;
    plain.assign(octets->value, octets->value + octets->length);
    return 0;
}

// One safe's ContentInfo: its mode and bags; count: the bags of the PFX so far.
int open_safe_counted(Span ci, const BIN *password, const ZQ_PKCS12_USERDATA *ud, Safe &safe, size_t &count) {
    Reader r(ci.p, ci.n), content;
    Span type, whole;
    if (!read_content_info(r, type, content, &whole) || content.empty() || !r.empty()) return QRT_PKCS12_BAD_PFX;
    SecBytes plain;
    int malformed = QRT_PKCS12_BAD_PFX;
    if (type == kOidData) {
        safe.pvcID = QRT_PKCS12_PVC_NONE;
        if (!read_octets(content, plain) || !content.empty()) return QRT_PKCS12_BAD_PFX;
    } else if (type == kOidEncryptedData) {
        safe.pvcID = QRT_PKCS12_PVC_PASSWORD;
        malformed = QRT_PKCS12_BAD_ENCRYPTED_DATA;
        if (int rc = open_encrypted(span_of(content), password, plain, safe.pbeID)) return rc;
    } else if (type == kOidEnvelopedData) {
        safe.pvcID = QRT_PKCS12_PVC_PUBKEY;
        malformed = QRT_PKCS12_BAD_ENVELOPED_DATA;
        if (int rc = open_enveloped(whole, ud, plain, safe.encID)) return rc;
    } else {
        return QRT_PKCS12_UNKNOWN_TYPEID;
    }
    if (ud && ud->pvcID && (ud->pvcID == QRT_PKCS12_PVC_PUBKEY) != (safe.pvcID == QRT_PKCS12_PVC_PUBKEY))
        return QRT_PKCS12_MISMATCH_PVCID;
    return take_safe_contents(span_of(plain), safe.bags, count, malformed);
}

int read_safes(Span authSafe, Content &out, const BIN *password, const ZQ_PKCS12_USERDATA *ud) {
    Reader r(authSafe.p, authSafe.n), seq;
    if (read_tlv(r, kSequence, seq, P) || !r.empty()) return QRT_PKCS12_BAD_PFX;
    size_t bags = 0;
    while (!seq.empty()) {
        if (out.safes.size() >= QRT_PKCS12_MAX_SAFES) return QRT_PKCS12_BAD_PFX;
        uint8_t tag = 0;
        Reader c, whole;
        if (read_any(seq, tag, c, &whole, P) || tag != kSequence) return QRT_PKCS12_BAD_PFX;
        Safe safe;
        if (int rc = open_safe_counted(span_of(whole), password, ud, safe, bags)) return rc;
        for (Bag &b : safe.bags) {
            b.safe = out.safes.size();
            out.bags.push_back(std::move(b));
        }
        safe.bags.clear();
        out.safes.push_back(std::move(safe));
    }
    return 0;
}

// PFX { version 3, authSafe ContentInfo, macData OPTIONAL }.
struct PfxParts {
    uint32_t version = 0;
    Span type, authSafeCI, macData;
    Reader content;
};

bool parse_pfx(Span in, PfxParts &p) {
    Reader r(in.p, in.n), body, mac;
    uint8_t tag = 0;
    if (read_tlv(r, kSequence, body, P) || !r.empty() || read_small(body, p.version, P)) return false;
    if (!read_content_info(body, p.type, p.content, &p.authSafeCI)) return false;
    if (!body.empty()) {
        Reader whole;
        if (read_any(body, tag, mac, &whole, P) || tag != kSequence || !body.empty()) return false;
        p.macData = span_of(whole);
    }
    return true;
}

}  // namespace

bool read_attributes(Reader attrs, Bag &bag) {
    while (!attrs.empty()) {
        Reader a, whole, o, values, v;
        uint8_t tag = 0;
        if (read_any(attrs, tag, a, &whole, P) || tag != kSequence || read_tlv(a, kOid, o, P) ||
            read_tlv(a, kSet, values, P))
            return false;
        Span type = span_of(o);
        if (type == kOidFriendlyName && !bag.hasFriendlyName && next_is(values, 0x1E)) {
            if (read_tlv(values, 0x1E, v, P)) return false;
            bag.friendlyName.assign(v.data(), v.data() + v.remaining());
            bag.hasFriendlyName = true;
        } else if (type == kOidLocalKeyId && !bag.hasLocalKeyId && next_is(values, kOctetString)) {
            if (read_tlv(values, kOctetString, v, P)) return false;
            bag.localKeyId.assign(v.data(), v.data() + v.remaining());
            bag.hasLocalKeyId = true;
        } else {
            put_raw(bag.others, span_of(whole));
        }
    }
    return true;
}

int decrypt_bare(SecBytes &plain, Span algDer, Span cipher) {
    struct P12Cipher {
        int pbesID, cipherID, keyLength, ivLength;
    };
    static const P12Cipher kTable[] = {
        {QRT_PKCS5_P12_SHA1_RC4_128, QRT_CSP_CIPHER_RC4, 16, 0}, {QRT_PKCS5_P12_SHA1_RC4_40, QRT_CSP_CIPHER_RC4, 5, 0},
        {QRT_PKCS5_P12_SHA1_3DES, QRT_CSP_CIPHER_TDES, 24, 8},   {QRT_PKCS5_P12_SHA1_2DES, QRT_CSP_CIPHER_TDES, 16, 8},
        {QRT_PKCS5_P12_SHA1_RC2_128, QRT_CSP_CIPHER_RC2, 16, 8}, {QRT_PKCS5_P12_SHA1_RC2_40, QRT_CSP_CIPHER_RC2, 5, 8}};
    BIN a = as_bin(algDer);
    ZQ_PKCS5_PBES_ALGID id{};
    ZQ_PKCS5_P12PBE_PARAM prm{};
    int rc = QRT_PKCS5_P12PBEAId_Decode(&id, &prm, &a);
    const P12Cipher *c = nullptr;
    for (const P12Cipher &e : kTable)
        if (e.pbesID == id.pbesID) c = &e;
    if (rc || !c) {
        QRT_PKCS5_P12PBEParam_Reset(&prm);
        return rc ? rc : QRT_PKCS12_UNKNOWN_PBEID;
    }
    BIN nopw{0, nullptr};
    BinOwner key, iv, out;
    unsigned iterations = static_cast<unsigned>(prm.iterationCount);
    rc = QRT_CSP_PKCS12_KDF(key.get(), static_cast<unsigned>(c->keyLength), &nopw, &prm.salt, iterations, 1,
                            QRT_CSP_HASH_SHA1);
    if (!rc && c->ivLength)
        rc = QRT_CSP_PKCS12_KDF(iv.get(), static_cast<unsigned>(c->ivLength), &nopw, &prm.salt, iterations, 2,
                                QRT_CSP_HASH_SHA1);
    QRT_PKCS5_P12PBEParam_Reset(&prm);
    if (rc) return rc;
    SecBytes k(key->value, key->value + key->length);
    if (c->pbesID == QRT_PKCS5_P12_SHA1_2DES) k.insert(k.end(), key->value, key->value + 8);  // K1 K2 K1
    BIN kb = as_bin(span_of(k)), in = as_bin(cipher);
    if (!c->ivLength) {
        rc = QRT_CSP_Decrypt(out.get(), &in, &kb, c->cipherID, nullptr);
    } else {
        ZQ_CSP_CipherParam cp{};
        cp.modeID = QRT_CSP_MODE_CBC;
        cp.paddingID = QRT_CSP_PAD_PKCS5;
        cp.modeParam.iv = iv.get();
        if (c->cipherID == QRT_CSP_CIPHER_RC2) cp.suiteParam.rc2.effectiveBits = 8 * c->keyLength;
        rc = QRT_CSP_Decrypt(out.get(), &in, &kb, c->cipherID, &cp);
    }
    if (rc) return rc;
    plain.assign(out->value, out->value + out->length);
    return 0;
}

int open_safe(Span contentInfo, const BIN *password, const ZQ_PKCS12_USERDATA *ud, Safe &safe) {
    size_t count = safe.bags.size();
    Safe got;
    got.bags.swap(safe.bags);
    int rc = open_safe_counted(contentInfo, password, ud, got, count);
    if (rc == 0)
        safe = std::move(got);
    else
        safe.bags.swap(got.bags);
    return rc;
}

void put_attributes(SecBytes &out, const Bag &bag) {
    std::vector<SecBytes> attrs;
    if (bag.hasFriendlyName) {
        SecBytes a, set;
        put_tlv(a, 0x06, kOidFriendlyName);
        put_tlv(set, 0x1E, span_of(bag.friendlyName));
        put_tlv(a, kSet, set);
        attrs.emplace_back();
        put_tlv(attrs.back(), kSequence, a);
    }
    if (bag.hasLocalKeyId) {
        SecBytes a, set;
        put_tlv(a, 0x06, kOidLocalKeyId);
        put_tlv(set, kOctetString, span_of(bag.localKeyId));
        put_tlv(a, kSet, set);
        attrs.emplace_back();
        put_tlv(attrs.back(), kSequence, a);
    }
    Reader others(bag.others.data(), bag.others.size());
    while (!others.empty()) {
        uint8_t tag = 0;
        Reader c, whole;
        if (read_any(others, tag, c, &whole, P)) break;
        attrs.emplace_back(whole.data(), whole.data() + whole.remaining());
    }
    if (attrs.empty()) return;
    sort_der_set(attrs.begin(), attrs.end());
    SecBytes set;
    for (const SecBytes &a : attrs) put_raw(set, span_of(a));
    put_tlv(out, kSet, set);
}

int read_pfx(Content &out, const BIN *pfx, const BIN *password, const ZQ_PKCS12_USERDATA *ud) {
    Span src = span_of(pfx);
    SecBytes norm;
    PfxParts parts;
    if (!parse_pfx(src, parts)) {
        if (!normalize(PFX_PDU, src, norm) || !parse_pfx(span_of(norm), (parts = PfxParts{})))
            return QRT_PKCS12_BAD_PFX;
    }
    if (parts.version != 3) return QRT_PKCS12_UNKNOWN_VERSION;
    Span pw = span_of(password);

    // The AuthenticatedSafe octets, from data or from signed data.
    SecBytes authSafe;
    if (parts.type == kOidData) {
        if (!read_octets(parts.content, authSafe) || !parts.content.empty()) return QRT_PKCS12_BAD_PFX;
    } else if (parts.type == kOidSignedData) {
        out.itgID = QRT_PKCS12_ITG_PUBKEY;
        if (ud && ud->itgID && ud->itgID != QRT_PKCS12_ITG_PUBKEY) return QRT_PKCS12_MISMATCH_ITGID;
        ZQ_PKCS7_SIGNED *sd = QRT_PKCS7_Signed_New();
        if (!sd) return QRT_PKCS12_MALLOC_FAILED;
        BIN ci = as_bin(parts.authSafeCI);
        BinOwner octets;
        int rc = QRT_PKCS7_Signed_DecodeBin(sd, &ci, 0);
        if (rc == 0 && sd->content.typeID != QRT_PKCS7_DATA) rc = QRT_PKCS12_BAD_SIGNED_DATA;
        if (rc == 0) rc = QRT_PKCS7_Data_Decode(octets.get(), &sd->content);
        if (rc) {
            rc = QRT_PKCS12_BAD_SIGNED_DATA;
        } else if (QRT_PKCS7_Signed_Verify(sd, nullptr, nullptr, nullptr) != 0) {
            rc = QRT_PKCS12_INVALID_SIGNATURE;
        }
        QRT_PKCS7_Signed_Free(sd);
        if (rc) return rc;
        authSafe.assign(octets->value, octets->value + octets->length);
    } else {
        return QRT_PKCS12_UNKNOWN_ITGID;
    }

    if (parts.macData.n) {
        out.itgID = QRT_PKCS12_ITG_PASSWORD;
        if (ud && ud->itgID && ud->itgID != QRT_PKCS12_ITG_PASSWORD) return QRT_PKCS12_MISMATCH_ITGID;
        if (int rc = verify_macdata(parts.macData, span_of(authSafe), pw, nullptr)) return rc;
    } else if (ud && ud->itgID && out.itgID != ud->itgID) {
        return QRT_PKCS12_MISMATCH_ITGID;
    }

    int rc = read_safes(span_of(authSafe), out, password, ud);
    if (rc == QRT_PKCS12_BAD_PFX) {
        SecBytes der;
        if (normalize(AuthenticatedSafe_PDU, span_of(authSafe), der)) {
            out.bags.clear();
            out.safes.clear();
            rc = read_safes(span_of(der), out, password, ud);
        }
    }
    return rc;
}

namespace {

void put_bag(SecBytes &out, const Bag &bag) {
    SecBytes body, value;
    put_tlv(body, 0x06, oid_of_bag(bag.bagID));
    if (bag.bagID == QRT_PKCS12_BAG_CERT || bag.bagID == QRT_PKCS12_BAG_CRL) {
        SecBytes typed, wrap;
        put_tlv(typed, 0x06, bag.bagID == QRT_PKCS12_BAG_CERT ? kOidX509Cert : kOidX509Crl);
        put_tlv(wrap, kOctetString, span_of(bag.value));
        put_tlv(typed, 0xA0, wrap);
        put_tlv(value, kSequence, typed);
    } else {
        put_raw(value, span_of(bag.value));
    }
    put_tlv(body, 0xA0, value);
    put_attributes(body, bag);
    put_tlv(out, kSequence, body);
}

// The password scheme of a pbeID for libOstrelPKCS5.
bool scheme_of(int pbeID, ZQ_PKCS5_PBES_ALGID &s) {
    s = ZQ_PKCS5_PBES_ALGID{};
    if (pbeID == QRT_PKCS12_PBE_PBES2_AES256) {
        s.pbesID = QRT_PKCS5_PBES2;
        s.pbes2Param.kdfID = QRT_PKCS5_KDF_PBKDF2;
        s.pbes2Param.prfID = QRT_PKCS5_PRF_HMAC_SHA256;
        s.pbes2Param.encID = QRT_PKCS5_ENC_AES256_CBC;
        return true;
    }
    s.pbesID = pbes_of_pbe(pbeID);
    return s.pbesID != 0;
}

}  // namespace

int seal_safe(SecBytes &out, const Safe &mode, const BIN *password) {
    SecBytes items, contents;
    for (const Bag &b : mode.bags) put_bag(items, b);
    put_tlv(contents, kSequence, items);
    Span safe = span_of(contents);
    SecBytes body, wrap;
    switch (mode.pvcID) {
        case QRT_PKCS12_PVC_NONE:
            put_tlv(wrap, kOctetString, safe);
            put_tlv(body, 0x06, kOidData);
            put_tlv(body, 0xA0, wrap);
            put_tlv(out, kSequence, body);
            return 0;
        case QRT_PKCS12_PVC_PASSWORD: {
            ZQ_PKCS5_PBES_ALGID scheme;
            if (!scheme_of(mode.pbeID, scheme)) return QRT_PKCS12_UNKNOWN_PBEID;
            if (!has_bytes(password)) return QRT_PKCS12_INVALID_INPUT;
            BIN plain = as_bin(safe);
            BinOwner alg, cipher;
            if (int rc = QRT_PKCS5_EncryptData(alg.get(), cipher.get(), &scheme, &plain, password)) return rc;
            SecBytes eci, ed;
            put_tlv(eci, 0x06, kOidData);
            put_raw(eci, span_of(alg.get()));
            put_tlv(eci, 0x80, span_of(cipher.get()));
            const uint8_t v0[] = {0x02, 0x01, 0x00};
            put_raw(ed, Span{v0, sizeof v0});
            put_tlv(ed, kSequence, eci);
            put_tlv(wrap, kSequence, ed);
            put_tlv(body, 0x06, kOidEncryptedData);
            put_tlv(body, 0xA0, wrap);
            put_tlv(out, kSequence, body);
            return 0;
        }
        case QRT_PKCS12_PVC_PUBKEY: {
            if (mode.encID != QRT_PKCS7_DES && mode.encID != QRT_PKCS7_DES3) return QRT_PKCS12_UNKNOWN_ENCID;
            if (mode.recipCert.empty()) return QRT_PKCS12_INVALID_INPUT;
            BIN recip = as_bin(span_of(mode.recipCert));
            BIN plain = as_bin(safe);
            BinOwner data, env;
            if (int rc = QRT_PKCS7_Data_Encode(data.get(), &plain)) return rc;
            if (int rc = QRT_PKCS7_EncodeEnveloped(env.get(), mode.encID, data.get(), &recip)) return rc;
            put_raw(out, span_of(env.get()));
            return 0;
        }
        default:
            return QRT_PKCS12_UNKNOWN_PVCID;
    }
}

int write_pfx(BIN *pfx, const std::vector<Bag> &bags, const ZQ_PKCS12_USERDATA &ud) {
    std::vector<Safe> safes(1);
    Safe &s = safes[0];
    s.pvcID = ud.pvcID;
    s.pbeID = ud.pbeID;
    s.encID = ud.encID;
    if (has_bytes(ud.recipCert)) s.recipCert.assign(ud.recipCert->value, ud.recipCert->value + ud.recipCert->length);
    s.bags = bags;
    return write_safes(pfx, safes, ud);
}

int write_safes(BIN *pfx, const std::vector<Safe> &safes, const ZQ_PKCS12_USERDATA &ud) {
    if (ud.itgID != QRT_PKCS12_ITG_PASSWORD && ud.itgID != QRT_PKCS12_ITG_PUBKEY) return QRT_PKCS12_UNKNOWN_ITGID;
    if (safes.empty()) return QRT_PKCS12_NO_BAG;
    SecBytes cis, authSafe;
    for (const Safe &s : safes)
        if (int rc = seal_safe(cis, s, ud.password)) return rc;
    put_tlv(authSafe, kSequence, cis);

    SecBytes body;
    const uint8_t v3[] = {0x02, 0x01, 0x03};
    put_raw(body, Span{v3, sizeof v3});
    if (ud.itgID == QRT_PKCS12_ITG_PASSWORD) {
        if (!has_bytes(ud.password)) return QRT_PKCS12_INVALID_INPUT;
        // SHA-1 with 1024 iterations beside the PKCS#12 PBE identifiers; SHA-256 with 2048
        // otherwise, as current peers write.
        bool legacy = pbes_of_pbe(ud.pbeID) != 0;
        SecBytes outer, wrap, mac;
        put_tlv(wrap, kOctetString, authSafe);
        put_tlv(outer, 0x06, kOidData);
        put_tlv(outer, 0xA0, wrap);
        put_tlv(body, kSequence, outer);
        if (int rc = encode_macdata(mac, legacy ? QRT_CSP_HASH_SHA1 : QRT_CSP_HASH_SHA256, legacy ? 1024 : 2048,
                                    span_of(authSafe), span_of(ud.password)))
            return rc;
        put_raw(body, span_of(mac));
    } else {
        if (!has_bytes(ud.signerCert) || !has_bytes(ud.signerKey)) return QRT_PKCS12_INVALID_INPUT;
        SecBytes key;
        provider_key(key, span_of(ud.signerKey));
        BIN plain = as_bin(span_of(authSafe)), k = as_bin(span_of(key));
        BinOwner data, sd;
        if (int rc = QRT_PKCS7_Data_Encode(data.get(), &plain)) return rc;
        int algID = ud.signAlgID ? ud.signAlgID : QRT_PKCS7_SHA256;
        if (int rc = QRT_PKCS7_EncodeSigned(sd.get(), algID, data.get(), ud.signerCert, &k, nullptr, nullptr))
            return rc;
        put_raw(body, span_of(sd.get()));
    }
    SecBytes der;
    put_tlv(der, kSequence, body);
    return bin_assign(pfx, span_of(der)) ? 0 : QRT_PKCS12_MALLOC_FAILED;
}

}  // namespace ostrel::pkcs12
