// PKCS#12 PBE parameters, written and read here without the ASN.1 layer, and their
// AlgorithmIdentifier.
#include <cstring>
#include <vector>

#include "pkcs5_internal.h"

using namespace ostrel::pkcs5;

namespace {

constexpr int kP12Iterations = 1024;
constexpr int kSaltLength = 8;

// DER length octets of n.
void put_length(std::vector<unsigned char> &v, size_t n) {
    if (n < 0x80) {
        v.push_back(static_cast<unsigned char>(n));
        return;
    }
    unsigned char b[sizeof(size_t)];
    int k = 0;
    for (size_t x = n; x; x >>= 8) b[k++] = static_cast<unsigned char>(x);
    v.push_back(static_cast<unsigned char>(0x80 | k));
    while (k) v.push_back(b[--k]);
}

// Reads a tag octet and a definite length (short or long form, at most four length octets)
// whose contents fit in [p, end). On success p stands at the contents and n is their length.
bool read_header(const unsigned char *&p, const unsigned char *end, unsigned char tag, size_t &n) {
    if (end - p < 2 || p[0] != tag) return false;
    const unsigned char *q = p + 1;
    unsigned char l0 = *q++;
    if (l0 < 0x80) {
        n = l0;
    } else {
        int k = l0 & 0x7F;
        if (k == 0 || k > 4 || end - q < k) return false;
        n = 0;
        for (int i = 0; i < k; ++i) n = (n << 8) | *q++;
    }
    if (n > static_cast<size_t>(end - q)) return false;
    p = q;
    return true;
}

bool is_p12(const Scheme *s) { return s && s->family == kPkcs12; }

}  // namespace

extern "C" {

QRT_API int QRT_PKCS5_P12PBEParam_Generate(ZQ_PKCS5_P12PBE_PARAM *param) {
    if (!param) return QRT_PKCS5_INVALID_INPUT;
    *param = ZQ_PKCS5_P12PBE_PARAM{};
    return OSTREL_GUARD_TRACE([&]() -> int {
        int rc = QRT_CSP_GenerateRandom(&param->salt, kSaltLength);
        if (rc) return rc;
        param->iterationCount = kP12Iterations;
        return 0;
    });
}

QRT_API void QRT_PKCS5_P12PBEParam_Reset(ZQ_PKCS5_P12PBE_PARAM *param) {
    if (!param) return;
    QRT_BIN_Reset(&param->salt);
    *param = ZQ_PKCS5_P12PBE_PARAM{};
}

QRT_API int QRT_PKCS5_P12PBEParam_Encode(BIN *der, const ZQ_PKCS5_P12PBE_PARAM *param) {
    if (!der || !param) return QRT_PKCS5_INVALID_INPUT;
    *der = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&]() -> int {
        if (param->iterationCount < 1 || (param->salt.length && !param->salt.value)) return QRT_PKCS5_INVALID_INPUT;
        // The count as a minimal positive INTEGER: 1 to 4 contents octets.
        unsigned char count[5];
        int k = 0;
        for (unsigned x = static_cast<unsigned>(param->iterationCount); x; x >>= 8) count[k++] = static_cast<unsigned char>(x);
        if (count[k - 1] & 0x80) count[k++] = 0;
        std::vector<unsigned char> body;
        body.reserve(param->salt.length + 16);
        body.push_back(0x04);
        put_length(body, param->salt.length);
        body.insert(body.end(), param->salt.value, param->salt.value + param->salt.length);
        body.push_back(0x02);
        body.push_back(static_cast<unsigned char>(k));
        while (k) body.push_back(count[--k]);
        std::vector<unsigned char> out;
        out.reserve(body.size() + 6);
        out.push_back(0x30);
        put_length(out, body.size());
        out.insert(out.end(), body.begin(), body.end());
        bin_assign(der, out.data(), out.size());
        return 0;
    });
}

QRT_API int QRT_PKCS5_P12PBEParam_Decode(ZQ_PKCS5_P12PBE_PARAM *param, const BIN *der) {
    if (!param || !der || (der->length && !der->value)) return QRT_PKCS5_INVALID_INPUT;
    *param = ZQ_PKCS5_P12PBE_PARAM{};
    return OSTREL_GUARD_TRACE([&]() -> int {
        const unsigned char *p = der->value;
        const unsigned char *end = p + der->length;
        size_t n, saltLen, countLen;
        if (der->length < 6 || !read_header(p, end, 0x30, n)) return QRT_PKCS5_BAD_ALGORITHM_PARAMETER;
        end = p + n;  // the inner elements stay inside the SEQUENCE
        if (!read_header(p, end, 0x04, saltLen)) return QRT_PKCS5_BAD_ALGORITHM_PARAMETER;
        const unsigned char *salt = p;
        p += saltLen;
        if (!read_header(p, end, 0x02, countLen)) return QRT_PKCS5_BAD_ALGORITHM_PARAMETER;
        // A positive count of one to four octets.
        if (countLen < 1 || countLen > 4 || (p[0] & 0x80)) return QRT_PKCS5_BAD_ALGORITHM_PARAMETER;
        long long count = 0;
        for (size_t i = 0; i < countLen; ++i) count = (count << 8) | p[i];
        if (!count_acceptable(count)) return QRT_PKCS5_BAD_ALGORITHM_PARAMETER;
        bin_assign(&param->salt, salt, saltLen);
        param->iterationCount = static_cast<int>(count);
        return 0;
    });
}

QRT_API int QRT_PKCS5_P12PBEAId_Encode(BIN *der, int pbesID, const ZQ_PKCS5_P12PBE_PARAM *param) {
    if (!der || !param) return QRT_PKCS5_INVALID_INPUT;
    *der = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&]() -> int {
        const Scheme *s = scheme_by_id(pbesID);
        if (!is_p12(s)) return QRT_PKCS5_UNKNOWN_PBESID;
        BinOwner params;
        int rc = QRT_PKCS5_P12PBEParam_Encode(params.get(), param);
        if (rc) return rc;
        AlgorithmIdentifier a{};
        a.bit_mask = AlgorithmIdentifier_parameters_present;
        a.algorithm = *s->oid;
        a.parameters = (*params);
        return QRT_ASN_EncodePDU(der, &a, AlgorithmIdentifier_PDU);
    });
}

QRT_API int QRT_PKCS5_P12PBEAId_Decode(ZQ_PKCS5_PBES_ALGID *algId, ZQ_PKCS5_P12PBE_PARAM *param, const BIN *der) {
    if (!algId || !param || !der) return QRT_PKCS5_INVALID_INPUT;
    *param = ZQ_PKCS5_P12PBE_PARAM{};
    return OSTREL_GUARD_TRACE([&]() -> int {
        AsnTree<AlgorithmIdentifier> ai(AlgorithmIdentifier_PDU);
        int rc = ai.decode(der);
        if (rc) return rc;
        const Scheme *s = scheme_by_oid(ai->algorithm);
        if (!is_p12(s)) return QRT_PKCS5_UNKNOWN_PBESID;
        if (!(ai->bit_mask & AlgorithmIdentifier_parameters_present) || ai->parameters.length == 0)
            return QRT_PKCS5_BAD_ALGORITHM_PARAMETER;
        rc = QRT_PKCS5_P12PBEParam_Decode(param, &ai->parameters);
        if (rc) return rc;
        algId->pbesID = s->pbesID;
        return 0;
    });
}

}  // extern "C"
