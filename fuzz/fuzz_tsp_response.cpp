// Time-stamp responses from any bytes, checked against one fixed request (SHA-1 imprint of a
// fixed message, nonce 0x01234567, certificate asked for) and against none: the outputs must stay
// empty whenever the check fails.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "suite_tsp.h"

namespace {

BIN make_request() {
    static const char kMessage[] = "time-stamp fuzz message";
    BIN msg{sizeof kMessage - 1, reinterpret_cast<unsigned char *>(const_cast<char *>(kMessage))};
    BIN digest{0, nullptr}, out{0, nullptr};
    if (QRT_CSP_Hash(&digest, &msg, QRT_CSP_HASH_SHA1) != 0) abort();
    ZQ_TSP_Request q{};
    q.hashID = QRT_TSP_HASH_SHA1;
    q.hashedMessage = digest;
    q.nonceAttach = 1;
    q.nonce = 0x01234567;
    q.certReq = 1;
    if (QRT_TSP_EncodeRequest(&out, &q) != 0) abort();
    QRT_BIN_Reset(&digest);
    return out;
}

void check(const BIN &response, const BIN *request) {
    ZQ_TSP_TSTInfo info{};
    BIN cert{0, nullptr}, token{0, nullptr};
    int rc = QRT_TSP_DecodeResponseEx(&info, &cert, &token, &response, request, nullptr);
    if (rc != 0) {
        ZQ_TSP_TSTInfo zero{};
        if (cert.value || token.value || std::memcmp(&info, &zero, sizeof info) != 0) abort();
    }
    QRT_TSP_TSTInfo_Reset(&info);
    QRT_BIN_Reset(&cert);
    QRT_BIN_Reset(&token);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const BIN request = make_request();
    if (!size) return 0;
    BIN in{static_cast<unsigned>(size), const_cast<uint8_t *>(data)};
    check(in, &request);
    check(in, nullptr);
    return 0;
}
