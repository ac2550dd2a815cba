// Time-stamp requests: the TimeStampReq DER of a request record, and the identifier tables and
// INTEGER helpers the request and the response checks share.
#include <string>

#include "tsp_internal.h"

namespace ostrel::tsp {
namespace {

struct HashRow {
    const ObjectID *oid;
    int csp;      // QRT_CSP_HASH_...
    int imprint;  // QRT_TSP_HASH_..., 0 when a message imprint may not use it
};

// Digest algorithms a token may sign with; message imprints are md5 or sha-1 only.
const HashRow kHashes[] = {
    {&sha_1, QRT_CSP_HASH_SHA1, QRT_TSP_HASH_SHA1},
    {&md5, QRT_CSP_HASH_MD5, QRT_TSP_HASH_MD5},
    {&sha_256, QRT_CSP_HASH_SHA256, 0},
    {&sha_384, QRT_CSP_HASH_SHA384, 0},
    {&sha_512, QRT_CSP_HASH_SHA512, 0},
    {&sha_224, QRT_CSP_HASH_SHA224, 0},
};

const HashRow *hash_row(const ObjectID &oid) {
    for (const HashRow &r : kHashes)
        if (oid_equal(*r.oid, oid)) return &r;
    return nullptr;
}

const ObjectID *imprint_oid(int hashID) {
    for (const HashRow &r : kHashes)
        if (r.imprint && r.imprint == hashID) return r.oid;
    return nullptr;
}

// The INTEGER contents without redundant leading sign octets.
Reader minimal_integer(const uint8_t *p, size_t n) {
    while (n > 1 && ((p[0] == 0x00 && !(p[1] & 0x80)) || (p[0] == 0xFF && (p[1] & 0x80)))) {
        ++p;
        --n;
    }
    return Reader(p, n);
}

// INTEGER contents of v: big-endian two's complement in its shortest form.
size_t int_contents(int v, uint8_t out[4]) {
    const auto u = static_cast<uint32_t>(v);
    const uint8_t full[4] = {static_cast<uint8_t>(u >> 24), static_cast<uint8_t>(u >> 16), static_cast<uint8_t>(u >> 8),
                             static_cast<uint8_t>(u)};
    Reader m = minimal_integer(full, sizeof full);
    std::memcpy(out, m.data(), m.remaining());
    return m.remaining();
}

const uint8_t kNullParams[] = {0x05, 0x00};

// TimeStampReq ::= SEQUENCE { version INTEGER { v1(1) }, messageImprint MessageImprint,
//     reqPolicy TSAPolicyId OPTIONAL, nonce INTEGER OPTIONAL, certReq BOOLEAN DEFAULT FALSE,
//     extensions [0] IMPLICIT Extensions OPTIONAL }
int encode_request(BIN &out, const ZQ_TSP_Request &r) {
    const ObjectID *alg = imprint_oid(r.hashID);
    if (!alg) return QRT_TSP_UNKNOWN_HASHID;
    if (!has_bytes(&r.hashedMessage)) return QRT_TSP_INVALID_INPUT;

    TimeStampReq q{};
    q.version = 1;
    // MessageImprint ::= SEQUENCE { hashAlgorithm AlgorithmIdentifier, hashedMessage OCTET STRING }
    q.messageImprint.hashAlgorithm.algorithm = *alg;
    q.messageImprint.hashAlgorithm.bit_mask = AlgorithmIdentifier_parameters_present;
    q.messageImprint.hashAlgorithm.parameters = Any{sizeof kNullParams, const_cast<uint8_t *>(kNullParams)};
    q.messageImprint.hashedMessage = r.hashedMessage;
    uint8_t nonce[4];
    if (r.nonceAttach) {
        q.bit_mask |= TimeStampReq_nonce_present;
        q.nonce = HUGE{static_cast<unsigned short>(int_contents(r.nonce, nonce)), nonce};
    }
    if (r.certReq) {
        q.bit_mask |= TimeStampReq_certReq_present;
        q.certReq = 1;
    }
    // the caller's two strings travel as one extension, "name$value", under id-at-surname
    std::string joined;
    Extensions_ ext{};
    if (r.extName && *r.extName && r.extValue && *r.extValue) {
        joined = std::string(r.extName) + "$" + r.extValue;
        ext.value.extnID = id_at_surname;
        ext.value.extnValue = BIN{static_cast<unsigned>(joined.size()), reinterpret_cast<uint8_t *>(joined.data())};
        q.bit_mask |= TimeStampReq_extensions_present;
        q.extensions = &ext;
    }
    return QRT_ASN_EncodePDU(&out, &q, TimeStampReq_PDU);
}

}  // namespace

void set_bytes(BIN &out, const uint8_t *p, size_t n) {
    out = BIN{0, nullptr};
    if (!n) return;
    auto *v = static_cast<uint8_t *>(QRT_malloc(n));
    if (!v) throw std::bad_alloc();
    std::memcpy(v, p, n);
    out = BIN{static_cast<unsigned>(n), v};
}

int csp_hash_of(const ObjectID &oid) {
    const HashRow *r = hash_row(oid);
    return r ? r->csp : 0;
}

int imprint_hash_of(const ObjectID &oid) {
    const HashRow *r = hash_row(oid);
    return r ? r->imprint : 0;
}

bool same_integer(const HUGE &a, const HUGE &b) {
    Reader x = minimal_integer(a.value, a.value ? a.length : 0);
    Reader y = minimal_integer(b.value, b.value ? b.length : 0);
    return same_bytes(x.data(), x.remaining(), y.data(), y.remaining());
}

int int_of(const HUGE &h, int &out) {
    Reader m = minimal_integer(h.value, h.value ? h.length : 0);
    if (m.empty() || m.remaining() > 4) return -1;
    uint32_t v = (m.data()[0] & 0x80) ? 0xFFFFFFFFu : 0;
    for (size_t i = 0; i < m.remaining(); ++i) v = (v << 8) | m.data()[i];
    out = static_cast<int>(v);
    return 0;
}

}  // namespace ostrel::tsp

using namespace ostrel;
using namespace ostrel::tsp;

extern "C" {

QRT_API int QRT_TSP_EncodeRequest(BIN *out, const ZQ_TSP_Request *request) {
    if (!out) return QRT_TSP_INVALID_INPUT;
    *out = BIN{0, nullptr};
    if (!request) return QRT_TSP_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] { return encode_request(*out, *request); });
}

}  // extern "C"
