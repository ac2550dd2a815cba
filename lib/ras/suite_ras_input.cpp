// Checks on registration input lengths, cutting of two-byte (EUC-KR) text, and the words of
// certificate status codes.
#include <cstdio>
#include <cstring>

#include "ras_internal.h"

namespace {

// Cuts text (a buffer of cap bytes) to at most n bytes. Bytes with the high bit set start a
// two-byte character and are taken in pairs, so a pair that would straddle the cut is dropped.
void hangul_cut(char *text, size_t cap, size_t n) {
    size_t i = 0;
    while (i < n && i < cap && text[i]) {
        if (static_cast<unsigned char>(text[i]) & 0x80) {
            if (i + 2 > n) break;
            if (i + 1 >= cap || !text[i + 1]) {  // a lone lead byte at the end stays as it is
                ++i;
                break;
            }
            i += 2;
        } else {
            ++i;
        }
    }
    if (i < cap) text[i] = '\0';
}

constexpr size_t kMaxCompany = 32;
constexpr size_t kMaxNames = 64;

// The two rules: company at most 32 bytes; 1.5 x name + English name + user id at most 64.
int check_lengths(const ZQ_RAS_USER_NEW_REQ &r) {
    if (strnlen(r.company, sizeof r.company) > kMaxCompany) return QRT_RAS_COMPANY_TOO_LONG;
    size_t name = strnlen(r.user_name, sizeof r.user_name);
    size_t rest = strnlen(r.euser_name, sizeof r.euser_name) + strnlen(r.user_id, sizeof r.user_id);
    if (3 * name + 2 * rest > 2 * kMaxNames) return QRT_RAS_CHECK_INPUT_MSG;
    return 0;
}

}  // namespace

extern "C" {

QRT_API int QRT_RAS_ChkInputLen(const ZQ_RAS_USER_NEW_REQ *req) {
    if (!req) return OSTREL_FAIL(QRT_RAS_INVALID_INPUT);
    int rc = check_lengths(*req);
    return rc ? OSTREL_FAIL(rc) : 0;
}

QRT_API int QRT_RAS_Check_InputLnegth(const ZQ_RAS_USER_NEW_REQ *req) {
    if (!req) return OSTREL_FAIL(QRT_RAS_INVALID_INPUT);
    int rc = check_lengths(*req);
    return rc ? OSTREL_FAIL(rc) : 0;
}

QRT_API int QRT_RAS_Check_InputLnegthHangulCut(ZQ_RAS_USER_NEW_REQ *req) {
    if (!req) return OSTREL_FAIL(QRT_RAS_INVALID_INPUT);
    if (strnlen(req->company, sizeof req->company) > kMaxCompany)
        hangul_cut(req->company, sizeof req->company, kMaxCompany);
    // The name travels as "name(english)": two more bytes.
    long name = static_cast<long>(strnlen(req->user_name, sizeof req->user_name));
    long rest = static_cast<long>(strnlen(req->euser_name, sizeof req->euser_name) +
                                  strnlen(req->user_id, sizeof req->user_id));
    if (name * 3 / 2 + rest + 2 > static_cast<long>(kMaxNames)) {
        long keep = (static_cast<long>(kMaxNames) - 2 - rest) * 2 / 3;
        if (keep <= 0) return OSTREL_FAIL(QRT_RAS_CHECK_INPUT_MSG);
        hangul_cut(req->user_name, sizeof req->user_name, static_cast<size_t>(keep));
    }
    return 0;
}

QRT_API int QRT_RAS_HangulCut(char *text, int n) {
    if (!text || n < 0) return OSTREL_FAIL(QRT_RAS_INVALID_INPUT);
    hangul_cut(text, static_cast<size_t>(n) + 1, static_cast<size_t>(n));
    return 0;
}

QRT_API int QRT_RAS_GetCertStatus(const char *word) {
    if (!word) return -1;
    if (std::strcmp(word, "valid") == 0) return 10;
    if (std::strncmp(word, "revoke", 6) == 0) return 30;
    if (std::strncmp(word, "suspend", 7) == 0) return 40;
    return -1;
}

QRT_API int QRT_RAS_GetCertStatusStr(int status, char *out, int outSize) {
    if (!out || outSize < 1) return OSTREL_FAIL(QRT_RAS_INVALID_INPUT);
    int n;
    switch (status) {
        case 10:
        case 15:
        case 20:
        case 41:
            n = std::snprintf(out, static_cast<size_t>(outSize), "valid");
            break;
        case 30:
            n = std::snprintf(out, static_cast<size_t>(outSize), "revoked");
            break;
        case 40:
            n = std::snprintf(out, static_cast<size_t>(outSize), "suspended");
            break;
        default:
            n = std::snprintf(out, static_cast<size_t>(outSize), "unknown(%d)", status);
    }
    if (n < 0 || n >= outSize) {
        out[0] = '\0';
        return OSTREL_FAIL(QRT_RAS_INVALID_INPUT);
    }
    return 0;
}

}  // extern "C"
