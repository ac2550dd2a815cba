// Identifiers, the DER writer, the PKCS#12 key derivation and the password MAC (MacData).
#include "ostrel/ct.hpp"
#include "pkcs12_internal.h"

using namespace ostrel;
using namespace ostrel::pkcs12;

namespace ostrel::pkcs12 {

namespace {
const uint8_t kData[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x01};
const uint8_t kSigned[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};
const uint8_t kEnveloped[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x03};
const uint8_t kEncrypted[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x06};
const uint8_t kX509Cert[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x16, 0x01};
const uint8_t kX509Crl[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x17, 0x01};
const uint8_t kFriendly[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x14};
const uint8_t kLocalKey[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x15};
// 1.2.840.113549.1.12.10.1.n and 1.2.840.113549.1.12.1.n: the last octet is n.
const uint8_t kBagPrefix[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x0C, 0x0A, 0x01};
const uint8_t kPbePrefix[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x0C, 0x01};
const uint8_t kBagOids[6][11] = {{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x0C, 0x0A, 0x01, 0x01},
                                 {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x0C, 0x0A, 0x01, 0x02},
                                 {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x0C, 0x0A, 0x01, 0x03},
                                 {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x0C, 0x0A, 0x01, 0x04},
                                 {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x0C, 0x0A, 0x01, 0x05},
                                 {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x0C, 0x0A, 0x01, 0x06}};
const uint8_t kPbeOids[6][10] = {{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x0C, 0x01, 0x01},
                                 {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x0C, 0x01, 0x02},
                                 {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x0C, 0x01, 0x03},
                                 {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x0C, 0x01, 0x04},
                                 {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x0C, 0x01, 0x05},
                                 {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x0C, 0x01, 0x06}};

struct MacHash {
    int hashID;
    Span oid;
    int length;
};
const uint8_t kSha1[] = {0x2B, 0x0E, 0x03, 0x02, 0x1A};
const uint8_t kSha256[] = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
const uint8_t kSha384[] = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x02};
const uint8_t kSha512[] = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x03};
const uint8_t kSha224[] = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x04};
const MacHash kMacHashes[] = {{QRT_CSP_HASH_SHA1, {kSha1, sizeof kSha1}, 20},
                              {QRT_CSP_HASH_SHA224, {kSha224, sizeof kSha224}, 28},
                              {QRT_CSP_HASH_SHA256, {kSha256, sizeof kSha256}, 32},
                              {QRT_CSP_HASH_SHA384, {kSha384, sizeof kSha384}, 48},
                              {QRT_CSP_HASH_SHA512, {kSha512, sizeof kSha512}, 64}};

const uint8_t kNullParam[] = {0x05, 0x00};
}  // namespace

const Span kOidData{kData, sizeof kData}, kOidSignedData{kSigned, sizeof kSigned},
    kOidEnvelopedData{kEnveloped, sizeof kEnveloped}, kOidEncryptedData{kEncrypted, sizeof kEncrypted};
const Span kOidX509Cert{kX509Cert, sizeof kX509Cert}, kOidX509Crl{kX509Crl, sizeof kX509Crl},
    kOidFriendlyName{kFriendly, sizeof kFriendly}, kOidLocalKeyId{kLocalKey, sizeof kLocalKey};

void put_tlv(SecBytes &out, uint8_t tag, Span c) {
    out.push_back(tag);
    if (c.n < 0x80) {
        out.push_back(static_cast<uint8_t>(c.n));
    } else {
        int k = c.n > 0xFFFFFF ? 4 : c.n > 0xFFFF ? 3 : c.n > 0xFF ? 2 : 1;
        out.push_back(static_cast<uint8_t>(0x80 | k));
        for (int i = k - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(c.n >> (8 * i)));
    }
    put_raw(out, c);
}

bool bin_assign(BIN *out, Span s) {
    *out = BIN{0, nullptr};
    if (s.n == 0) return true;
    return QRT_BIN_Set(out, s.p, static_cast<int>(s.n)) == 0;
}

int bag_of_oid(Span oid) {
    if (oid.n != sizeof kBagPrefix + 1 || std::memcmp(oid.p, kBagPrefix, sizeof kBagPrefix) != 0) return 0;
    int n = oid.p[sizeof kBagPrefix];
    return n >= 1 && n <= 6 ? n : 0;
}

Span oid_of_bag(int bagID) {
    if (bagID < 1 || bagID > 6) return {};
    return Span{kBagOids[bagID - 1], sizeof kBagOids[0]};
}

int mac_hash_of_oid(Span oid) {
    for (const MacHash &h : kMacHashes)
        if (h.oid == oid) return h.hashID;
    return 0;
}

Span oid_of_mac_hash(int hashID) {
    for (const MacHash &h : kMacHashes)
        if (h.hashID == hashID) return h.oid;
    return {};
}

int hash_length(int hashID) {
    for (const MacHash &h : kMacHashes)
        if (h.hashID == hashID) return h.length;
    return 0;
}

void widen_password(SecBytes &out, Span password, bool bare) {
    out.assign(password.n * 2 + (bare ? 0 : 2), 0);
    for (size_t i = 0; i < password.n; ++i) out[2 * i + 1] = password.p[i];
}

namespace {
// HMAC-SHA-224 has no MAC number in the provider: built from its hash.
int hmac_sha224(SecBytes &mac, Span key, Span data) {
    const size_t block = 64;
    SecBytes k(block, 0);
    if (key.n > block) {
        BIN in{static_cast<unsigned>(key.n), const_cast<uint8_t *>(key.p)};
        BinOwner h;
        if (int rc = QRT_CSP_Hash(h.get(), &in, QRT_CSP_HASH_SHA224)) return rc;
        std::memcpy(k.data(), h->value, h->length);
    } else if (key.n) {
        std::memcpy(k.data(), key.p, key.n);
    }
    SecBytes inner(block), outer(block);
    for (size_t i = 0; i < block; ++i) {
        inner[i] = static_cast<uint8_t>(k[i] ^ 0x36);
        outer[i] = static_cast<uint8_t>(k[i] ^ 0x5C);
    }
    put_raw(inner, data);
    BIN in{static_cast<unsigned>(inner.size()), inner.data()};
    BinOwner ih;
    if (int rc = QRT_CSP_Hash(ih.get(), &in, QRT_CSP_HASH_SHA224)) return rc;
    put_raw(outer, span_of(ih.get()));
    BIN out_in{static_cast<unsigned>(outer.size()), outer.data()};
    BinOwner oh;
    if (int rc = QRT_CSP_Hash(oh.get(), &out_in, QRT_CSP_HASH_SHA224)) return rc;
    mac.assign(oh->value, oh->value + oh->length);
    return 0;
}
}  // namespace

int mac_compute(SecBytes &mac, int hashID, Span data, Span bmp, Span salt, unsigned iterations) {
    int len = hash_length(hashID);
    if (!len) return QRT_PKCS12_BAD_MAC_DATA;
    BIN pw{static_cast<unsigned>(bmp.n), const_cast<uint8_t *>(bmp.p)};
    BIN s{static_cast<unsigned>(salt.n), const_cast<uint8_t *>(salt.p)};
    if (!bmp.n) pw.value = nullptr;
    if (!salt.n) s.value = nullptr;
    BinOwner key;
    if (int rc = QRT_CSP_PKCS12_KDF(key.get(), static_cast<unsigned>(len), &pw, &s, iterations, 3, hashID)) return rc;
    if (hashID == QRT_CSP_HASH_SHA224) return hmac_sha224(mac, span_of(key.get()), data);
    BIN in{static_cast<unsigned>(data.n), const_cast<uint8_t *>(data.p)};
    BinOwner out;
    // The provider's HMAC numbers follow its hash numbers.
    if (int rc = QRT_CSP_MAC(out.get(), &in, key.get(), hashID, nullptr)) return rc;
    mac.assign(out->value, out->value + out->length);
    return 0;
}

int encode_macdata(SecBytes &out, int hashID, unsigned iterations, Span authSafe, Span password) {
    Span oid = oid_of_mac_hash(hashID);
    if (!oid.n || iterations < 1) return QRT_PKCS12_INVALID_INPUT;
    BinOwner salt;
    if (int rc = QRT_CSP_GenerateRandom(salt.get(), 8)) return rc;
    SecBytes bmp, mac;
    widen_password(bmp, password, false);
    if (int rc = mac_compute(mac, hashID, authSafe, span_of(bmp), span_of(salt.get()), iterations)) return rc;
    SecBytes alg, digestInfo, count, body;
    put_tlv(alg, 0x06, oid);
    put_raw(alg, Span{kNullParam, sizeof kNullParam});
    put_tlv(digestInfo, 0x30, alg);
    put_tlv(digestInfo, 0x04, span_of(mac));
    put_tlv(body, 0x30, digestInfo);
    put_tlv(body, 0x04, span_of(salt.get()));
    // the count as a minimal positive INTEGER
    uint8_t n[5];
    int k = 0;
    for (int i = 3; i >= 0; --i) {
        uint8_t b = static_cast<uint8_t>(iterations >> (8 * i));
        if (k == 0 && b == 0 && i > 0) continue;
        if (k == 0 && (b & 0x80)) n[k++] = 0;
        n[k++] = b;
    }
    put_tlv(body, 0x02, Span{n, static_cast<size_t>(k)});
    put_tlv(out, 0x30, body);
    return 0;
}

// Reads MacData { DigestInfo { AlgorithmIdentifier, OCTET STRING }, macSalt, iterations DEFAULT 1 }
// and checks the MAC, first with the widened password, then, for an empty password, in the
// zero-length form. *bare tells which one matched.
int verify_macdata(Span macData, Span authSafe, Span password, bool *bare) {
    using namespace tlv;
    const Profile P = Profile::kBer;
    Reader r(macData.p, macData.n), body, di, alg, oid, value, salt;
    if (read_tlv(r, kSequence, body, P) || read_tlv(body, kSequence, di, P) || read_tlv(di, kSequence, alg, P) ||
        read_tlv(alg, kOid, oid, P))
        return QRT_PKCS12_BAD_MAC_DATA;
    // parameters: absent or NULL
    if (!alg.empty()) {
        Reader nul;
        if (read_tlv(alg, kNull, nul, P) || !nul.empty() || !alg.empty()) return QRT_PKCS12_BAD_MAC_DATA;
    }
    if (read_tlv(di, kOctetString, value, P) || !di.empty() || read_tlv(body, kOctetString, salt, P))
        return QRT_PKCS12_BAD_MAC_DATA;
    uint32_t iterations = 1;
    if (!body.empty()) {
        Reader mag;
        if (read_unsigned(body, mag, P) || mag.remaining() > 4) return QRT_PKCS12_BAD_MAC_DATA;
        uint64_t v = 0;
        for (size_t i = 0; i < mag.remaining(); ++i) v = (v << 8) | mag.data()[i];
        if (v < 1 || v > static_cast<uint64_t>(QRT_PKCS5_GetIterationLimit())) return QRT_PKCS12_BAD_MAC_DATA;
        iterations = static_cast<uint32_t>(v);
    }
    if (!body.empty()) return QRT_PKCS12_BAD_MAC_DATA;
    int hashID = mac_hash_of_oid(span_of(oid));
    if (!hashID) return QRT_PKCS12_BAD_MAC_DATA;
    if (value.remaining() != static_cast<size_t>(hash_length(hashID))) return QRT_PKCS12_INVALID_MAC;
    for (int form = 0; form < (password.n ? 1 : 2); ++form) {
        SecBytes bmp, mac;
        widen_password(bmp, password, form == 1);
        if (int rc = mac_compute(mac, hashID, authSafe, span_of(bmp), span_of(salt), iterations)) return rc;
        if (ct_equal(mac.data(), value.data(), mac.size())) {
            if (bare) *bare = form == 1;
            return 0;
        }
    }
    return QRT_PKCS12_INVALID_MAC;
}

}  // namespace ostrel::pkcs12

extern "C" {

QRT_API int QRT_PKCS12_KDF(BIN *out, int length, int hashID, const BIN *password, const BIN *salt, int iterations,
                           int diversifier) {
    if (!out || !password || !salt) return QRT_PKCS12_INVALID_INPUT;
    *out = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        ZQ_PKCS5_P12KDF_PARAM p{hashID, *salt, iterations, diversifier};
        return QRT_PKCS5_P12KDF(out, length, password, &p);
    });
}

QRT_API int QRT_PKCS12_MAC(BIN *mac, int hashID, const BIN *data, const BIN *password, const BIN *salt,
                           int iterations) {
    if (!mac || !data || !password || !salt) return QRT_PKCS12_INVALID_INPUT;
    *mac = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&] {
        SecBytes bmp, out;
        widen_password(bmp, span_of(password), false);
        if (int rc = mac_compute(out, hashID, span_of(data), span_of(bmp), span_of(salt),
                                 iterations < 1 ? 1u : static_cast<unsigned>(iterations)))
            return rc;
        return bin_assign(mac, span_of(out)) ? 0 : QRT_PKCS12_MALLOC_FAILED;
    });
}

QRT_API int QRT_PKCS12_AsnMacData_Encode(BIN *macData, int hashID, int iterations, const BIN *authSafe,
                                         const BIN *password) {
    if (!macData || !authSafe || !password) return QRT_PKCS12_INVALID_INPUT;
    *macData = BIN{0, nullptr};
    if (iterations < 1) return QRT_PKCS12_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        SecBytes out;
        if (int rc =
                encode_macdata(out, hashID, static_cast<unsigned>(iterations), span_of(authSafe), span_of(password)))
            return rc;
        return bin_assign(macData, span_of(out)) ? 0 : QRT_PKCS12_MALLOC_FAILED;
    });
}

QRT_API int QRT_PKCS12_AsnMacData_Verify(const BIN *macData, const BIN *authSafe, const BIN *password) {
    if (!has_bytes(macData) || !authSafe || !password) return QRT_PKCS12_INVALID_INPUT;
    return OSTREL_GUARD_TRACE(
        [&] { return verify_macdata(span_of(macData), span_of(authSafe), span_of(password), nullptr); });
}

QRT_API int QRT_PKCS12_PbeID_To_ObjID(BIN *oid, int pbeID) {
    if (!oid) return QRT_PKCS12_INVALID_INPUT;
    *oid = BIN{0, nullptr};
    if (pbeID < 1 || pbeID > 6) return QRT_PKCS12_UNKNOWN_PBEID;
    return bin_assign(oid, Span{kPbeOids[pbeID - 1], sizeof kPbeOids[0]}) ? 0 : QRT_PKCS12_MALLOC_FAILED;
}

QRT_API int QRT_PKCS12_ObjID_To_PbeID(int *pbeID, const BIN *oid) {
    if (!pbeID || !oid) return QRT_PKCS12_INVALID_INPUT;
    *pbeID = 0;
    Span s = span_of(oid);
    if (s.n != sizeof kPbePrefix + 1 || std::memcmp(s.p, kPbePrefix, sizeof kPbePrefix) != 0 || s.p[s.n - 1] < 1 ||
        s.p[s.n - 1] > 6)
        return QRT_PKCS12_UNKNOWN_PBEID;
    *pbeID = s.p[s.n - 1];
    return 0;
}

QRT_API int QRT_PKCS12_BagID_To_ObjID(BIN *oid, int bagID) {
    if (!oid) return QRT_PKCS12_INVALID_INPUT;
    *oid = BIN{0, nullptr};
    Span s = oid_of_bag(bagID);
    if (!s.n) return QRT_PKCS12_UNKNOWN_BAGID;
    return bin_assign(oid, s) ? 0 : QRT_PKCS12_MALLOC_FAILED;
}

QRT_API int QRT_PKCS12_ObjID_To_BagID(int *bagID, const BIN *oid) {
    if (!bagID || !oid) return QRT_PKCS12_INVALID_INPUT;
    *bagID = bag_of_oid(span_of(oid));
    return *bagID ? 0 : QRT_PKCS12_UNKNOWN_BAGID;
}

}  // extern "C"
