// Object identifiers: dotted text and contents octets both ways (arcs of any size), comparison
// and copies, the index table, PKCS#12 bag types and the algorithm numbers of the provider.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "asn_internal.h"

namespace ostrel::asn {

namespace {

// A non-negative number as decimal limbs of 10^9, least significant first.
using Big = std::vector<uint32_t>;
constexpr uint32_t kLimb = 1000000000u;

void mul_add(Big &b, uint32_t m, uint32_t a) {
    uint64_t carry = a;
    for (uint32_t &l : b) {
        uint64_t v = uint64_t{l} * m + carry;
        l = static_cast<uint32_t>(v % kLimb);
        carry = v / kLimb;
    }
    while (carry) {
        b.push_back(static_cast<uint32_t>(carry % kLimb));
        carry /= kLimb;
    }
}

// Divides by d in place and returns the remainder.
uint32_t div_small(Big &b, uint32_t d) {
    uint64_t rem = 0;
    for (size_t i = b.size(); i-- > 0;) {
        uint64_t v = b[i] + rem * kLimb;
        b[i] = static_cast<uint32_t>(v / d);
        rem = v % d;
    }
    while (!b.empty() && b.back() == 0) b.pop_back();
    return static_cast<uint32_t>(rem);
}

bool less_than(const Big &b, uint32_t v) { return b.empty() || (b.size() == 1 && b[0] < v); }

void sub_small(Big &b, uint32_t v) {
    uint64_t borrow = v;
    for (size_t i = 0; i < b.size() && borrow; ++i) {
        if (b[i] >= borrow) {
            b[i] = static_cast<uint32_t>(b[i] - borrow);
            borrow = 0;
        } else {
            b[i] = static_cast<uint32_t>(b[i] + kLimb - borrow);
            borrow = 1;
        }
    }
    while (!b.empty() && b.back() == 0) b.pop_back();
}

std::string to_text(const Big &b) {
    if (b.empty()) return "0";
    std::string s = std::to_string(b.back());
    char buf[16];
    for (size_t i = b.size() - 1; i-- > 0;) {
        std::snprintf(buf, sizeof buf, "%09u", b[i]);
        s += buf;
    }
    return s;
}

bool fail(ZQ_ASN_CTX *ctx, int code, const char *what) {
    if (ctx) {
        ctx->errorCode = code;
        std::snprintf(ctx->errorText, sizeof ctx->errorText, "%s", what);
    }
    return false;
}

}  // namespace

int oid_to_dotted(ZQ_ASN_CTX *ctx, const ObjectID *oid, char **out) {
    *out = nullptr;
    const unsigned char *v = oid->value;
    size_t n = oid->length;
    if (!n || !v || (v[n - 1] & 0x80)) return fail(ctx, QRT_ASN_E_BAD_OBJID, "empty or unterminated identifier"), QRT_ASN_E_BAD_OBJID;
    std::string text;
    Big arc;
    bool first = true;
    for (size_t i = 0; i < n; ++i) {
        if (v[i] == 0x80 && (i == 0 || !(v[i - 1] & 0x80)))
            return fail(ctx, QRT_ASN_E_BAD_OBJID, "arc not in its shortest form"), QRT_ASN_E_BAD_OBJID;
        mul_add(arc, 128, v[i] & 0x7Fu);
        if (v[i] & 0x80) continue;
        if (first) {
            unsigned top = less_than(arc, 40) ? 0 : less_than(arc, 80) ? 1 : 2;
            sub_small(arc, 40 * top);
            text = std::to_string(top);
            first = false;
        }
        // Appended piece by piece: no temporary strings to copy, and nothing for -O3 to misread.
        text += '.';
        text += to_text(arc);
        arc.clear();
    }
    char *s = static_cast<char *>(QRT_malloc(text.size() + 1));
    if (!s) return QRT_ASN_E_OUT_MEMORY;
    std::memcpy(s, text.c_str(), text.size() + 1);
    *out = s;
    return 0;
}

int dotted_to_oid(ZQ_ASN_CTX *ctx, const char *text, ObjectID *oid) {
    oid->length = 0;
    oid->value = nullptr;
    std::vector<Big> arcs;
    const char *p = text;
    while (true) {
        if (*p < '0' || *p > '9') return fail(ctx, QRT_ASN_E_BAD_DOTVAL, "arc is not a decimal number"), QRT_ASN_E_BAD_DOTVAL;
        Big b;
        while (*p >= '0' && *p <= '9') {
            mul_add(b, 10, static_cast<uint32_t>(*p - '0'));
            ++p;
            if (b.size() > 64) return fail(ctx, QRT_ASN_E_BAD_DOTVAL, "arc too large"), QRT_ASN_E_BAD_DOTVAL;
        }
        arcs.push_back(b);
        if (*p == 0) break;
        if (*p != '.') return fail(ctx, QRT_ASN_E_BAD_DOTVAL, "unexpected character"), QRT_ASN_E_BAD_DOTVAL;
        ++p;
    }
    if (arcs.size() < 2 || !less_than(arcs[0], 3) || (less_than(arcs[0], 2) && !less_than(arcs[1], 40)))
        return fail(ctx, QRT_ASN_E_BAD_DOTVAL, "first arcs out of range"), QRT_ASN_E_BAD_DOTVAL;
    uint32_t top = arcs[0].empty() ? 0 : arcs[0][0];
    Big joined = arcs[1];
    // joined = 40 * top + second
    Big add;
    mul_add(add, 1, 40 * top);
    {
        uint64_t carry = 0;
        size_t m = std::max(joined.size(), add.size());
        joined.resize(m, 0);
        for (size_t i = 0; i < m; ++i) {
            uint64_t s = uint64_t{joined[i]} + (i < add.size() ? add[i] : 0) + carry;
            joined[i] = static_cast<uint32_t>(s % kLimb);
            carry = s / kLimb;
        }
        if (carry) joined.push_back(static_cast<uint32_t>(carry));
        while (!joined.empty() && joined.back() == 0) joined.pop_back();
    }
    std::vector<unsigned char> der;
    auto emit = [&der](Big b) {
        unsigned char tmp[600];
        int k = 0;
        do {
            tmp[k++] = static_cast<unsigned char>(div_small(b, 128));
        } while (!b.empty() && k < 600);
        while (k > 1) der.push_back(static_cast<unsigned char>(0x80 | tmp[--k]));
        der.push_back(tmp[0]);
    };
    emit(joined);
    for (size_t i = 2; i < arcs.size(); ++i) emit(arcs[i]);
    if (der.size() > 0xFFFF) return fail(ctx, QRT_ASN_E_BAD_DOTVAL, "identifier too long"), QRT_ASN_E_BAD_DOTVAL;
    oid->value = static_cast<unsigned char *>(QRT_malloc(der.size()));
    if (!oid->value) return QRT_ASN_E_OUT_MEMORY;
    std::memcpy(oid->value, der.data(), der.size());
    oid->length = static_cast<unsigned short>(der.size());
    return 0;
}

}  // namespace ostrel::asn

using namespace ostrel::asn;

namespace {

bool same(const ObjectID *a, const ObjectID *b) {
    return a->length == b->length && (a->length == 0 || (a->value && b->value && std::memcmp(a->value, b->value, a->length) == 0));
}

// Returns the number paired with the first constant equal to oid, or -1.
struct AlgEntry {
    const ObjectID *oid;
    int number;
};

template <size_t N>
int match(const AlgEntry (&table)[N], const ObjectID *oid) {
    for (const AlgEntry &e : table)
        if (same(e.oid, oid)) return e.number;
    return -1;
}

const AlgEntry kSigAlgs[] = {
    {&sha1WithRSAEncryption, 2},   {&md5WithRSAEncryption, 1},    {&id_dsa_with_sha1, 3},
    {&md2WithRSAEncryption, 0},    {&sha256WithRSAEncryption, 4}, {&sha384WithRSAEncryption, 5},
    {&sha512WithRSAEncryption, 6}, {&id_RSASSA_PSS, 7},
};

const AlgEntry kEncAlgs[] = {
    {&seedCBC, 10}, {&seedECB, 10},      {&seedOFB, 10},      {&seedCFB, 10}, {&des_ecb, 0},
    {&des_cbc, 0},  {&des_ofb, 0},       {&des_cfb, 0},       {&desCBC, 0},   {&des_ede3_cbc, 1},
    {&rc2_cbc, 2},  {&rc2CBC, 2},        {&rc5_CBC_PAD, 4},   {&rsaEncryption, 7},
    {&kcdsa, 9},    {&id_RSAES_OAEP, 11},
};

const AlgEntry kDigestAlgs[] = {
    {&sha_1, 2}, {&md5, 1}, {&md2, 0}, {&hash160, 5}, {&sha_256, 7}, {&sha_384, 8}, {&sha_512, 9},
};

const ObjectID *const kBagTypes[] = {
    &keyBag, &pkcs8ShroudedKeyBag, &certBag, &crlBag, &secretBag, &safeContentsBag,
    &x509Certificate, &sdsiCertificate, &x509CRL,
};

}  // namespace

extern "C" {

QRT_API const ObjectID *QRT_ASN_GetOID(int index) {
    if (index < 0 || static_cast<unsigned>(index) >= kOidTableSize) return nullptr;
    return kOidTable[index];
}
QRT_API const ObjectID *QRT_GetObjectID(int index) { return QRT_ASN_GetOID(index); }

QRT_API int QRT_ASN_OID2DotVal(char **out, const ObjectID *oid) {
    if (!out || !oid) return QRT_ASN_INVALID_INPUT;
    *out = nullptr;
    ZQ_ASN_CTX *ctx = QRT_ASN_AcquireCTX();
    if (!ctx) return OSTREL_FAIL(QRT_ASN_INTERNAL);
    int rc = OSTREL_GUARD([&] { return oid_to_dotted(ctx, oid, out); });
    QRT_ASN_ReleaseCTX();
    if (rc == QRT_ASN_MALLOC_FAILED) return rc;  // thrown; the guard has recorded it
    if (rc == QRT_ASN_E_OUT_MEMORY) return OSTREL_FAIL(QRT_ASN_MALLOC_FAILED);
    if (rc) {
        QRT_Trace_PutError("ossEncodedOidToDotVal", rc, ctx->errorText, __FILE__, __LINE__);
        return OSTREL_FAIL(QRT_ASN_OSS_FAILED);
    }
    return 0;
}

QRT_API int QRT_ASN_DotVal2OID(ObjectID *oid, const char *text) {
    if (!oid || !text) return QRT_ASN_INVALID_INPUT;
    oid->length = 0;
    oid->value = nullptr;
    ZQ_ASN_CTX *ctx = QRT_ASN_AcquireCTX();
    if (!ctx) return OSTREL_FAIL(QRT_ASN_INTERNAL);
    int rc = OSTREL_GUARD([&] { return dotted_to_oid(ctx, text, oid); });
    QRT_ASN_ReleaseCTX();
    if (rc == QRT_ASN_MALLOC_FAILED) return rc;  // thrown; the guard has recorded it
    if (rc == QRT_ASN_E_OUT_MEMORY) return OSTREL_FAIL(QRT_ASN_MALLOC_FAILED);
    if (rc) {
        QRT_Trace_PutError("ossDotValToEncodedOid", rc, ctx->errorText, __FILE__, __LINE__);
        return OSTREL_FAIL(QRT_ASN_OSS_FAILED);
    }
    return 0;
}

QRT_API int QRT_ASN_CmpOID(const ObjectID *a, const ObjectID *b) {
    if (!a || !b) return 1;
    return same(a, b) ? 0 : 1;
}
QRT_API int QRT_CompareOID(const ObjectID *a, const ObjectID *b) { return QRT_ASN_CmpOID(a, b); }

QRT_API int QRT_ASN_CopyOID(ObjectID *dst, const ObjectID *src) {
    if (!dst || !src) return QRT_ASN_INVALID_INPUT;
    dst->length = 0;
    dst->value = nullptr;
    if (!src->length) return 0;
    if (!src->value) return QRT_ASN_INVALID_INPUT;
    dst->value = static_cast<unsigned char *>(QRT_malloc(src->length));
    if (!dst->value) return OSTREL_FAIL_AS("QRT_ASN_CopyOID", QRT_ASN_MALLOC_FAILED);
    std::memcpy(dst->value, src->value, src->length);
    dst->length = src->length;
    return 0;
}
QRT_API int QRT_DupOID(ObjectID *dst, const ObjectID *src) { return QRT_ASN_CopyOID(dst, src); }

QRT_API void QRT_ASN_ResetOID(ObjectID *oid) {
    if (!oid) return;
    QRT_free(oid->value);
    oid->value = nullptr;
    oid->length = 0;
}
QRT_API void QRT_OidFree(ObjectID *oid) { QRT_ASN_ResetOID(oid); }

QRT_API int QRT_EncodedOIDToDotVal(ZQ_ASN_CTX *world, const ObjectID *oid, char **out) {
    if (!world || !oid || !out) return QRT_ASN_INVALID_INPUT;
    int rc = OSTREL_GUARD([&] { return oid_to_dotted(world, oid, out); });
    if (rc == QRT_ASN_E_OUT_MEMORY || rc == QRT_ASN_MALLOC_FAILED) return QRT_ASN_MALLOC_FAILED;
    return rc ? QRT_ASN_OSS_FAILED : 0;
}

QRT_API int QRT_DotValToEncodedOID(ZQ_ASN_CTX *world, const char *text, ObjectID *oid) {
    if (!world || !text || !oid) return QRT_ASN_INVALID_INPUT;
    int rc = OSTREL_GUARD([&] { return dotted_to_oid(world, text, oid); });
    if (rc == QRT_ASN_E_OUT_MEMORY || rc == QRT_ASN_MALLOC_FAILED) return QRT_ASN_MALLOC_FAILED;
    return rc ? QRT_ASN_OSS_FAILED : 0;
}

QRT_API const ObjectID *QRT_ASN_GetBagType(int i) {
    if (i < 0 || i >= static_cast<int>(sizeof kBagTypes / sizeof kBagTypes[0])) return nullptr;
    return kBagTypes[i];
}
QRT_API const ObjectID *QRT_GetBagType(int i) { return QRT_ASN_GetBagType(i); }

QRT_API int QRT_GetSigAlg(ZQ_ASN_CTX *world, const ObjectID *oid) {
    if (!world || !oid) return -1;
    return match(kSigAlgs, oid);
}

QRT_API int QRT_GetEncAlg(ZQ_ASN_CTX *world, const ObjectID *oid) {
    if (!world || !oid) return -1;
    return match(kEncAlgs, oid);
}

QRT_API int QRT_GetDigestAlg(ZQ_ASN_CTX *world, const ObjectID *oid) {
    if (!world || !oid) return -1;
    return match(kDigestAlgs, oid);
}

}  // extern "C"
