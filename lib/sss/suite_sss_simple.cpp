// The simple n-of-n scheme: n-1 random shares and the secret XOR all of them.
#include <cstring>

#include "ostrel/owners.hpp"
#include "sss_internal.h"

namespace ostrel::sss {

namespace {

// A byte buffer wiped on release.
struct Secret {
    std::vector<uint8_t> bytes;
    explicit Secret(size_t n) : bytes(n) {}
    ~Secret() { wipe(bytes.data(), bytes.size()); }
};

}  // namespace

int share_simple(ZQ_SSS_SHARE *set, BIN *info, const BIN &secret, int n) {
    if (secret.length == 0 || !secret.value || secret.length > 0x7fffffffu) return QRT_SSS_BAD_SECRET;
    if (n < 2) return QRT_SSS_BAD_PARAM;
    const size_t len = secret.length;
    Secret last(len);
    std::memcpy(last.bytes.data(), secret.value, len);
    Secret share(len);
    ZQ_SSS_BLIST *tail = nullptr;
    for (int i = 1; i < n; ++i) {
        if (WJ_GetRandom(share.bytes.data(), static_cast<unsigned>(len)) != 0) return QRT_SSS_INTERNAL;
        for (size_t j = 0; j < len; ++j) last.bytes[j] ^= share.bytes[j];
        append_share(set, tail, share.bytes.data(), len);
    }
    append_share(set, tail, last.bytes.data(), len);
    std::vector<uint8_t> out = encode_simple_info(static_cast<uint32_t>(n), static_cast<uint32_t>(len));
    return to_bin(info, out.data(), out.size());
}

int recover_simple(BIN *secret, const ZQ_SSS_SHARE *set, const BIN &info) {
    SimpleInfo si;
    if (int rc = parse_simple_info(info, si)) return rc;
    std::vector<const ZQ_SSS_BLIST *> shares;
    if (static_cast<uint32_t>(set->num) != si.n) return QRT_SSS_BAD_SHARE;
    if (int rc = first_shares(set, si.n, shares)) return rc;
    for (const ZQ_SSS_BLIST *s : shares)
        if (s->len < 0 || static_cast<uint32_t>(s->len) != si.secret_len || !s->data) return QRT_SSS_BAD_SHARE;
    Secret out(si.secret_len);
    for (const ZQ_SSS_BLIST *s : shares)
        for (size_t j = 0; j < si.secret_len; ++j) out.bytes[j] ^= s->data[j];
    return to_bin(secret, out.bytes.data(), out.bytes.size());
}

}  // namespace ostrel::sss
