// Encrypted content (the content-encryption table in CBC mode with PKCS#5 padding, a fresh IV
// each time, RC2 parameters by the RFC 2268 table) and encrypted data with a caller key.
//
// What is encrypted: for data the bare payload (the OCTET STRING's octets); for any other type
// the complete DER of the inner value, as CMS peers do. Decrypting gives data back wrapped as
// data and any other type wrapped with its content type, so a round trip is exact.
#include <cstring>
#include <vector>

#include "ostrel/rc2_params.hpp"
#include "ostrel/tlv.hpp"
#include "pkcs7_envelope.hpp"

using namespace ostrel;
using namespace ostrel::pkcs7;

namespace {

// The library's code for an RC2 parameter that does not read (shared with signed-and-enveloped
// data by its error table).
constexpr int kBadRc2Param = QRT_PKCS7_BAD_SIGNENVELOPED_DATA;
constexpr int kRc2MaxBits = 1024;    // RC2 keys are at most 128 bytes
constexpr int kRc2DefaultBits = 32;  // RFC 2268: a parameter without a version

// The key length a row takes when reading: RC2 any of 1..128 bytes, the others exactly theirs.
bool key_fits(const EncAlg &e, size_t n) {
    return e.encID == QRT_PKCS7_RC2 ? n >= 1 && n <= 128 : n == static_cast<size_t>(e.keyLength);
}

int block_length(int cipherID) {
    ZQ_CSP_CipherInfo info{};
    if (QRT_CSP_GetCipherInfo(&info, cipherID) != 0 || info.blockLength <= 0 || info.blockLength > 32) return 0;
    return info.blockLength;
}

// The cipher parameter of a content's algorithm: its IV (and RC2 effective bits).
int cipher_param(const EncAlg &e, const ZQ_PKCS7_ENC_CONTENT &ec, BinOwner &iv, int &bits) {
    if (!has_bytes(ec.param)) return e.encID == QRT_PKCS7_RC2 ? kBadRc2Param : QRT_PKCS7_BAD_ENC_CONTENT;
    int want = block_length(e.cipherID);
    if (e.encID == QRT_PKCS7_RC2) {
        if (QRT_PKCS7_DecodeRC2Param(&bits, iv.get(), ec.param) != 0) return kBadRc2Param;
        return 0;
    }
    AsnTree<OctetString> os(OctetString_PDU);
    if (os.decode(ec.param) != 0 || static_cast<int>(os->length) != want) return QRT_PKCS7_BAD_ENC_CONTENT;
    set_bin(iv.get(), os->value, os->length);
    return 0;
}

// Runs the content's cipher over `in` with `key`.
int run_cipher(BIN *out, const BIN &in, const ZQ_PKCS7_ENC_CONTENT &ec, const BIN &key, bool encrypt) {
    const EncAlg *e = ec.encID ? enc_alg(ec.encID) : nullptr;
    if (!e) return QRT_PKCS7_UNKNOWN_ENCID;
    if (!key_fits(*e, key.length) || !key.value) return QRT_PKCS7_BAD_KEY;
    BinOwner iv;
    int bits = 0;
    if (int rc = cipher_param(*e, ec, iv, bits)) return rc;
    ZQ_CSP_CipherParam p{};
    p.suiteParam.rc2.effectiveBits = bits;
    p.modeID = QRT_CSP_MODE_CBC;
    p.modeParam.iv = iv.get();
    p.paddingID = QRT_CSP_PAD_PKCS5;
    if (encrypt) return QRT_CSP_Encrypt(out, &in, &key, e->cipherID, &p) ? QRT_PKCS7_BAD_ENC_CONTENT : 0;
    // a wrong key, broken padding or a length that is no multiple of the block all end here
    return QRT_CSP_Decrypt(out, &in, &key, e->cipherID, &p) ? QRT_PKCS7_BAD_ENC_CONTENT : 0;
}

// The DER AlgorithmIdentifier { oid, params }.
void write_alg(BIN *out, const ObjectID &oid, const BIN *params) {
    AlgorithmIdentifier a{};
    a.algorithm = oid;
    if (has_bytes(params)) {
        a.bit_mask = AlgorithmIdentifier_parameters_present;
        a.parameters = *params;
    }
    if (QRT_ASN_EncodePDU(out, &a, AlgorithmIdentifier_PDU) != 0) throw std::bad_alloc();
}

void put_header(uint8_t *&p, uint8_t tag, size_t n) {
    uint8_t len[9];
    size_t ln = tlv::length_octets(n, len);
    *p++ = tag;
    std::memcpy(p, len, ln);
    p += ln;
}

size_t header_size(size_t n) {
    uint8_t len[9];
    return 1 + tlv::length_octets(n, len);
}

// ContentInfo { id-data, [0] EXPLICIT OCTET STRING } written around a payload in one buffer: a
// large decrypted content is copied once.
int data_content_info(BIN *out, const BIN &payload) {
    const size_t os = header_size(payload.length) + payload.length;
    const size_t tagged = header_size(os) + os;
    const size_t body = header_size(id_data.length) + id_data.length + tagged;
    const size_t total = header_size(body) + body;
    if (total > 0x7fffffffu) return QRT_PKCS7_MALLOC_FAILED;
    auto *buf = static_cast<uint8_t *>(QRT_malloc(total));
    if (!buf) return QRT_PKCS7_MALLOC_FAILED;
    uint8_t *p = buf;
    put_header(p, tlv::kSequence, body);
    put_header(p, tlv::kOid, id_data.length);
    std::memcpy(p, id_data.value, id_data.length);
    p += id_data.length;
    put_header(p, 0xA0, os);
    put_header(p, tlv::kOctetString, payload.length);
    if (payload.length) std::memcpy(p, payload.value, payload.length);
    *out = BIN{static_cast<unsigned>(total), buf};
    return 0;
}

}  // namespace

namespace ostrel::pkcs7 {

int enc_content_read(ZQ_PKCS7_ENC_CONTENT *ec, const ObjectID &type, const AlgorithmIdentifier &alg, BIN *encrypted) {
    int t = type_id(type);
    if (t < 0) return QRT_PKCS7_UNKNOWN_TYPEID;
    ec->typeID = t;
    const EncAlg *e = enc_alg(alg.algorithm);
    ec->encID = e ? e->encID : 0;
    BinOwner der;
    if (QRT_ASN_EncodePDU(der.get(), &alg, AlgorithmIdentifier_PDU) != 0) return QRT_PKCS7_ASN_ENCODING_FAILED;
    ec->algID = new_bin(*der);
    if ((alg.bit_mask & AlgorithmIdentifier_parameters_present) && alg.parameters.length)
        ec->param = new_bin(alg.parameters);
    if (encrypted) {
        // the engine's buffer is taken over: no second copy of a large content
        BIN *v = QRT_BIN_New();
        if (!v) throw std::bad_alloc();
        *v = *encrypted;
        *encrypted = BIN{0, nullptr};
        ec->encrypted = v;
    }
    return 0;
}

int enc_content_view(const ZQ_PKCS7_ENC_CONTENT &ec, ObjectID &type, AlgorithmIdentifier &alg, BIN &encrypted,
                     unsigned char &bit_mask, AsnTree<AlgorithmIdentifier> &keep) {
    const ObjectID *t = type_oid(ec.typeID);
    if (!t) return QRT_PKCS7_UNKNOWN_TYPEID;
    type = *t;
    if (has_bytes(ec.algID)) {
        if (keep.decode(ec.algID) != 0) return QRT_PKCS7_BAD_ENC_CONTENT;
        alg = *keep;
    } else {
        const EncAlg *e = enc_alg(ec.encID);
        if (!e) return QRT_PKCS7_UNKNOWN_ENCID;
        alg = AlgorithmIdentifier{};
        alg.algorithm = *e->oid;
        if (has_bytes(ec.param)) {
            alg.bit_mask = AlgorithmIdentifier_parameters_present;
            alg.parameters = *ec.param;
        }
    }
    if (has_bytes(ec.encrypted)) {
        encrypted = *ec.encrypted;
        bit_mask = 0x80;
    }
    return 0;
}

size_t enc_key_length(const ZQ_PKCS7_ENC_CONTENT &ec) {
    const EncAlg *e = enc_alg(ec.encID);
    if (!e) return 16;
    if (e->encID != QRT_PKCS7_RC2) return static_cast<size_t>(e->keyLength);
    int bits = 0;
    BinOwner iv;
    if (!has_bytes(ec.param) || QRT_PKCS7_DecodeRC2Param(&bits, iv.get(), ec.param) != 0) return 16;
    return bits >= 8 && bits <= kRc2MaxBits ? static_cast<size_t>(bits + 7) / 8 : 16;
}

int enc_cipher(BIN *out, const BIN &in, const ZQ_PKCS7_ENC_CONTENT &ec, const BIN &key, bool encrypt) {
    return run_cipher(out, in, ec, key, encrypt);
}

int plain_to_content_info(BIN *out, int typeID, const BIN &plain) {
    if (typeID == QRT_PKCS7_DATA) return data_content_info(out, plain);
    // the plaintext is the inner value's encoding: wrapped, read back (BER brought to DER) and
    // written again, so that what comes out is one DER ContentInfo
    const ObjectID *oid = type_oid(typeID);
    if (!oid) return QRT_PKCS7_UNKNOWN_TYPEID;
    Reader r(plain.value, plain.length);
    tlv::Header h;
    if (tlv::read_header(r, tlv::Profile::kBer, h) != tlv::kOk) return QRT_PKCS7_BAD_ENC_CONTENT;
    ContentInfoWire w{};
    w.contentType = *oid;
    w.bit_mask = ContentInfoWire_content_present;
    w.content = plain;
    BinOwner wrapped;
    if (QRT_ASN_EncodePDU(wrapped.get(), &w, ContentInfoWire_PDU) != 0) return QRT_PKCS7_BAD_ENC_CONTENT;
    AsnTree<ContentInfoWire> back(ContentInfoWire_PDU);
    if (back.decode(wrapped.get()) != 0) return QRT_PKCS7_BAD_ENC_CONTENT;
    if (QRT_ASN_EncodePDU(out, back.get(), ContentInfoWire_PDU) != 0) return QRT_PKCS7_ASN_ENCODING_FAILED;
    return 0;
}

// The plaintext of a content record: the payload for data, the value's DER otherwise.
int content_plaintext(Reader &octets, const ZQ_PKCS7_CONTENT &content, BinOwner &normalized) {
    if (!has_bytes(content.value)) return QRT_PKCS7_NO_CONTENT;
    if (content.typeID == QRT_PKCS7_DATA) return digest_message(octets, *content.value, normalized);
    octets = Reader(content.value->value, content.value->length);
    return 0;
}

int enc_decrypt_plain(BinOwner &plain, const ZQ_PKCS7_ENC_CONTENT &ec, const BIN &key) {
    if (!enc_alg(ec.encID)) return QRT_PKCS7_UNKNOWN_ENCID;
    if (!has_bytes(ec.encrypted)) return QRT_PKCS7_NO_CONTENT;
    return run_cipher(plain.get(), *ec.encrypted, ec, key, false);
}

int enc_decrypt_content(BIN *contentInfo, const ZQ_PKCS7_ENC_CONTENT &ec, const BIN &key) {
    BinOwner plain;
    if (int rc = enc_decrypt_plain(plain, ec, key)) return rc;
    return plain_to_content_info(contentInfo, ec.typeID, *plain);
}

}  // namespace ostrel::pkcs7

extern "C" {

QRT_API int QRT_PKCS7_GetEKB(int version) { return rc2_bits_of_version(version); }

QRT_API int QRT_PKCS7_EncodeRC2Param(BIN *out, int effectiveBits, const BIN *iv) {
    if (!out || !iv || iv->length != 8 || !iv->value) return QRT_PKCS7_INVALID_INPUT;
    *out = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        if (effectiveBits < 1 || effectiveBits > kRc2MaxBits) return QRT_PKCS7_BAD_KEY;
        // RC2-CBCParameter ::= SEQUENCE { rc2ParameterVersion INTEGER, iv OCTET STRING }
        RC2_CBC_Parameter p{};
        p.bit_mask = RC2_CBC_Parameter_rc2ParameterVersion_present;
        p.rc2ParameterVersion = rc2_version_of_bits(effectiveBits);
        p.iv = *iv;
        if (QRT_ASN_EncodePDU(out, &p, RC2_CBC_Parameter_PDU) != 0) return QRT_PKCS7_ASN_ENCODING_FAILED;
        return 0;
    });
}

QRT_API int QRT_PKCS7_DecodeRC2Param(int *effectiveBits, BIN *iv, const BIN *in) {
    if (!effectiveBits || !iv || !has_bytes(in)) return QRT_PKCS7_INVALID_INPUT;
    *effectiveBits = 0;
    *iv = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        int bits = kRc2DefaultBits;
        BinOwner v;
        if (in->value[0] == tlv::kOctetString) {
            // RFC 2268 also allows the IV alone
            AsnTree<OctetString> os(OctetString_PDU);
            if (os.decode(in) != 0) return kBadRc2Param;
            set_bin(v.get(), os->value, os->length);
        } else {
            AsnTree<RC2_CBC_Parameter> p(RC2_CBC_Parameter_PDU);
            if (p.decode(in) != 0) return kBadRc2Param;
            if (p->bit_mask & RC2_CBC_Parameter_rc2ParameterVersion_present)
                bits = rc2_bits_of_version(p->rc2ParameterVersion);
            set_bin(v.get(), p->iv.value, p->iv.length);
        }
        if (bits < 1 || bits > kRc2MaxBits || v->length != 8) return kBadRc2Param;
        *effectiveBits = bits;
        v.release_to(iv);
        return 0;
    });
}

QRT_API int QRT_PKCS7_EncContent_Encrypt(ZQ_PKCS7_ENC_CONTENT *ec, int encID, const ZQ_PKCS7_CONTENT *content,
                                         const BIN *key) {
    if (!ec || !content || !key) return QRT_PKCS7_INVALID_INPUT;
    QRT_PKCS7_EncContent_Reset(ec);
    int rc = OSTREL_GUARD_TRACE([&] {
        const EncAlg *e = enc_alg(encID);
        if (!e) return QRT_PKCS7_UNKNOWN_ENCID;
        if (!type_oid(content->typeID)) return QRT_PKCS7_UNKNOWN_TYPEID;
        if (!key_fits(*e, key->length) || !key->value) return QRT_PKCS7_BAD_KEY;
        BinOwner norm;
        Reader octets;
        if (int r = content_plaintext(octets, *content, norm)) return r;

        int block = block_length(e->cipherID);
        if (!block) return QRT_PKCS7_INTERNAL;
        BinOwner iv, param;
        if (int r = QRT_CSP_GenerateRandom(iv.get(), block)) return r;
        if (e->encID == QRT_PKCS7_RC2) {
            if (int r = QRT_PKCS7_EncodeRC2Param(param.get(), static_cast<int>(key->length * 8), iv.get())) return r;
        } else if (QRT_ASN_EncodePDU(param.get(), iv.get(), OctetString_PDU) != 0) {
            return QRT_PKCS7_ASN_ENCODING_FAILED;
        }
        ec->typeID = content->typeID;
        ec->encID = encID;
        ec->param = new_bin(*param);
        BinOwner alg;
        write_alg(alg.get(), *e->oid, param.get());
        ec->algID = new_bin(*alg);
        BIN in{static_cast<unsigned>(octets.remaining()), const_cast<uint8_t *>(octets.data())};
        ec->encrypted = new_bin(nullptr, 0);
        return run_cipher(ec->encrypted, in, *ec, *key, true);
    });
    if (rc) QRT_PKCS7_EncContent_Reset(ec);
    return rc;
}

QRT_API int QRT_PKCS7_EncContent_Decrypt(ZQ_PKCS7_CONTENT *content, const ZQ_PKCS7_ENC_CONTENT *ec, const BIN *key) {
    if (!content || !ec || !key) return QRT_PKCS7_INVALID_INPUT;
    QRT_PKCS7_Content_Reset(content);
    return OSTREL_GUARD_TRACE([&] {
        BinOwner der;
        if (int rc = enc_decrypt_content(der.get(), *ec, *key)) return rc;
        return QRT_PKCS7_Content_Decode(content, der.get());
    });
}

QRT_API void QRT_PKCS7_EncContent_Reset(ZQ_PKCS7_ENC_CONTENT *ec) {
    if (!ec) return;
    free_bin(ec->algID);
    free_bin(ec->param);
    free_bin(ec->encrypted);
    ec->typeID = ec->encID = 0;
}

/* ---- Encrypted data ----------------------------------------------------------------------- */

QRT_API ZQ_PKCS7_ENCRYPTED *QRT_PKCS7_Encrypted_New(void) {
    auto *ed = static_cast<ZQ_PKCS7_ENCRYPTED *>(QRT_malloc(sizeof(ZQ_PKCS7_ENCRYPTED)));
    if (ed) *ed = ZQ_PKCS7_ENCRYPTED{};
    return ed;
}

QRT_API int QRT_PKCS7_Encrypted_Encode(BIN *out, const ZQ_PKCS7_ENCRYPTED *ed) {
    if (!out || !ed) return QRT_PKCS7_INVALID_INPUT;
    *out = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        // EncryptedData ::= SEQUENCE { version, encryptedContentInfo, [1] unprotectedAttrs }
        EncryptedDataWire w{};
        AsnTree<AlgorithmIdentifier> keep(AlgorithmIdentifier_PDU);
        EncryptedContentInfoWire &eci = w.encryptedContentInfo;
        if (int rc = enc_content_view(ed->encContent, eci.contentType, eci.contentEncryptionAlgorithm,
                                      eci.encryptedContent, eci.bit_mask, keep))
            return rc;
        BinOwner inner;
        if (QRT_ASN_EncodePDU(inner.get(), &w, EncryptedDataWire_PDU) != 0) return QRT_PKCS7_ASN_ENCODING_FAILED;
        ZQ_PKCS7_CONTENT c{QRT_PKCS7_ENCRYPTED, inner.get()};
        return QRT_PKCS7_Content_Encode(out, &c);
    });
}

QRT_API int QRT_PKCS7_Encrypted_Decode(ZQ_PKCS7_ENCRYPTED *ed, const ZQ_PKCS7_CONTENT *contentInfo) {
    if (!ed || !contentInfo) return QRT_PKCS7_INVALID_INPUT;
    QRT_PKCS7_Encrypted_Reset(ed);
    int rc = OSTREL_GUARD_TRACE([&] {
        if (contentInfo->typeID != QRT_PKCS7_ENCRYPTED) return QRT_PKCS7_MISMATCH_TYPEID;
        if (!has_bytes(contentInfo->value)) return QRT_PKCS7_NO_CONTENT;
        AsnTree<EncryptedDataWire> w(EncryptedDataWire_PDU);
        if (w.decode(contentInfo->value) != 0) return QRT_PKCS7_BAD_ENCRYPTED_DATA;
        ed->version = w->version;
        EncryptedContentInfoWire &eci = w->encryptedContentInfo;
        return enc_content_read(
            &ed->encContent, eci.contentType, eci.contentEncryptionAlgorithm,
            (eci.bit_mask & EncryptedContentInfoWire_encryptedContent_present) ? &eci.encryptedContent : nullptr);
    });
    if (rc) QRT_PKCS7_Encrypted_Reset(ed);
    return rc;
}

QRT_API void QRT_PKCS7_Encrypted_Reset(ZQ_PKCS7_ENCRYPTED *ed) {
    if (!ed) return;
    QRT_PKCS7_EncContent_Reset(&ed->encContent);
    ed->version = 0;
}

QRT_API void QRT_PKCS7_Encrypted_Free(ZQ_PKCS7_ENCRYPTED *ed) {
    QRT_PKCS7_Encrypted_Reset(ed);
    QRT_free(ed);
}

QRT_API int QRT_PKCS7_EncodeEncrypted(BIN *out, int encID, const BIN *content, const BIN *key) {
    if (!out || !has_bytes(content) || !key) return QRT_PKCS7_INVALID_INPUT;
    *out = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        if (!enc_alg(encID)) return QRT_PKCS7_UNKNOWN_ENCID;
        ZQ_PKCS7_CONTENT c{};
        ZQ_PKCS7_ENCRYPTED ed{};
        int rc = QRT_PKCS7_Content_Decode(&c, content);
        if (rc == 0) rc = QRT_PKCS7_EncContent_Encrypt(&ed.encContent, encID, &c, key);
        if (rc == 0) rc = QRT_PKCS7_Encrypted_Encode(out, &ed);
        QRT_PKCS7_Content_Reset(&c);
        QRT_PKCS7_Encrypted_Reset(&ed);
        return rc;
    });
}

QRT_API int QRT_PKCS7_DecodeEncrypted(int *encIdOut, BIN *contentOut, const BIN *in, const BIN *key) {
    if (!contentOut || !has_bytes(in) || !key) return QRT_PKCS7_INVALID_INPUT;
    *contentOut = BIN{0, nullptr};
    if (encIdOut) *encIdOut = 0;
    return OSTREL_GUARD_TRACE([&] {
        ZQ_PKCS7_CONTENT c{};
        ZQ_PKCS7_ENCRYPTED ed{};
        int rc = QRT_PKCS7_Content_Decode(&c, in);
        if (rc == 0) rc = QRT_PKCS7_Encrypted_Decode(&ed, &c);
        if (rc == 0) rc = enc_decrypt_content(contentOut, ed.encContent, *key);
        if (rc == 0 && encIdOut) *encIdOut = ed.encContent.encID;
        QRT_PKCS7_Content_Reset(&c);
        QRT_PKCS7_Encrypted_Reset(&ed);
        return rc;
    });
}

}  // extern "C"
