// Integrity values: the SHA-1 digest of the provider, or a caller's signature, as hex text.
#include <cstring>

#include "ostrel/ct.hpp"
#include "cas_internal.h"
#include "ostrel/owners.hpp"
#include "ostrel/textmsg.hpp"
#include "suite_csp.h"

namespace ostrel::cas {
namespace {

constexpr int kSha1 = QRT_CSP_HASH_SHA1;
constexpr unsigned kDigestLength = 20;

BIN bin_view(std::string_view s) {
    return BIN{static_cast<unsigned int>(s.size()), reinterpret_cast<unsigned char *>(const_cast<char *>(s.data()))};
}

int digest(BinOwner &out, std::string_view data) {
    BIN in = bin_view(data);
    if (QRT_CSP_Hash(out.get(), &in, kSha1) != 0) return QRT_CAS_HASH_FAILED;
    if (out->length != kDigestLength) return QRT_CAS_INVALID_HASH_LENGTH;
    return 0;
}

int to_hex(std::string &hex, const BIN &bytes) {
    char *raw = nullptr;
    int rc = QRT_BinToHex(bytes.value, static_cast<int>(bytes.length), &raw);
    qrt_ptr<char> text(raw);  // released also when the copy below throws
    if (rc != 0 || !text) return QRT_CAS_HEX_FAILED;
    hex.assign(text.get());
    return 0;
}

// Bytes of a hex text; 72008 when it is not hex.
int from_hex(BinOwner &out, std::string_view hex) {
    std::string text(hex);
    unsigned char *bytes = nullptr;
    int n = 0;
    int rc = QRT_HexToBin(text.c_str(), &bytes, &n);
    out->value = bytes;
    out->length = bytes ? static_cast<unsigned int>(n) : 0;
    return rc ? QRT_CAS_HEX_DECODE_FAILED : 0;
}

// Compares a received digest with one computed over data, without an early exit.
int compare_digest(const BIN &got, std::string_view data) {
    if (got.length != kDigestLength) return QRT_CAS_INVALID_HASH_LENGTH;
    BinOwner want;
    if (int rc = digest(want, data); rc) return rc;
    return ostrel::ct_equal(got.value, want->value, kDigestLength) ? 0 : QRT_CAS_INVALID_HASH_VALUE;
}

}  // namespace

int integrity_hex(std::string &hex, std::string_view body, CB_ComputeSignature sign) {
    if (body.empty()) return QRT_CAS_INVALID_INPUT;
    BinOwner value;
    if (sign) {
        BIN in = bin_view(body);
        if (sign(value.get(), &in, kSha1, 0) != 0 || value->length == 0 || !value->value) return QRT_CAS_SIGN_FAILED;
    } else if (int rc = digest(value, body); rc) {
        return rc;
    }
    return to_hex(hex, *value);
}

int check_integrity(std::string_view record, std::string_view &fields, std::string_view &hex) {
    if (record.size() < 2 || record.back() != '$') return QRT_RAS_INVALID_INPUT;
    size_t prev = record.rfind('$', record.size() - 2);
    if (prev == std::string_view::npos) return QRT_RAS_INVALID_INPUT;
    fields = record.substr(0, prev + 1);
    hex = record.substr(prev + 1, record.size() - prev - 2);
    BinOwner value;
    if (int rc = from_hex(value, hex); rc) return rc;
    if (value->length == 0) return QRT_CAS_INVALID_HASH_LENGTH;
    // A value of digest length is the digest; any other is a signature the receiver checks.
    if (value->length != kDigestLength) return 0;
    return compare_digest(*value, fields);
}

}  // namespace ostrel::cas

using namespace ostrel::cas;

namespace {

int hex_out(BIN *hex, const std::string &text) {
    return ostrel::textmsg::to_bin(text, hex) ? 0 : QRT_CAS_MALLOC_FAILED;
}

}  // namespace

extern "C" {

QRT_API int QRT_CAS_GenHexHashValue(BIN *hex, const BIN *in) {
    if (!hex) return OSTREL_FAIL(QRT_CAS_INVALID_INPUT);
    *hex = BIN{0, nullptr};
    if (!in || !in->value || in->length == 0) return OSTREL_FAIL(QRT_CAS_INVALID_INPUT);
    return OSTREL_GUARD_TRACE([&] {
        std::string text;
        int rc = integrity_hex(text, view_of(in), nullptr);
        return rc ? rc : hex_out(hex, text);
    });
}

QRT_API int QRT_CAS_GenHexSignedValue(BIN *hex, const BIN *in, CB_ComputeSignature sign) {
    if (!hex) return OSTREL_FAIL(QRT_CAS_INVALID_INPUT);
    *hex = BIN{0, nullptr};
    if (!sign || !in || !in->value || in->length == 0) return OSTREL_FAIL(QRT_CAS_INVALID_INPUT);
    return OSTREL_GUARD_TRACE([&] {
        std::string text;
        int rc = integrity_hex(text, view_of(in), sign);
        return rc ? rc : hex_out(hex, text);
    });
}

QRT_API int QRT_CAS_CheckHexHashValue(const char *hex, const BIN *in) {
    if (!hex || !in || !in->value || in->length == 0) return OSTREL_FAIL(QRT_CAS_INVALID_INPUT);
    return OSTREL_GUARD_TRACE([&] {
        ostrel::BinOwner value;
        int rc = from_hex(value, hex);
        return rc ? rc : compare_digest(*value, view_of(in));
    });
}

}  // extern "C"
