// The time-stamp exchange: a request over the SHA-1 of the caller's message with a fresh nonce,
// one record out and one back over the caller's connected socket, and the answer checked
// against the request.
#include "tsp_internal.h"

namespace ostrel::tsp {
namespace {

// A positive 31-bit nonce from four random bytes.
int fresh_nonce(int &nonce) {
    BinOwner r;
    if (int rc = QRT_CSP_GenerateRandom(r.get(), 4)) return rc;
    if (r->length != 4) return QRT_TSP_INTERNAL;
    const uint8_t *b = r->value;
    nonce = static_cast<int>((uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3]) & 0x7FFFFFFFu);
    return 0;
}

int client(ZQ_TSP_TSTInfo &tstInfo, BIN &requestOut, BIN &responseOut, BIN &certOut, const BIN &message,
           const BIN *tsaCert, int socket) {
    BinOwner digest;
    if (int rc = QRT_CSP_Hash(digest.get(), &message, QRT_CSP_HASH_SHA1)) return rc;
    ZQ_TSP_Request q{};
    q.hashID = QRT_TSP_HASH_SHA1;
    q.hashedMessage = *digest;
    q.nonceAttach = 1;
    if (int rc = fresh_nonce(q.nonce)) return rc;
    // without a certificate of its own the client needs the TSA's in the token
    q.certReq = tsaCert ? 0 : 1;
    BinOwner request;
    if (int rc = QRT_TSP_EncodeRequest(request.get(), &q)) return rc;

    if (QRT_Socket_SendRecord(socket, 0, request.get()) != 0) return QRT_TSP_SOCKET_WRITE_FAILED;
    BinOwner response;
    int type = 0;
    if (QRT_Socket_RecvRecord(socket, &type, response.get()) != 0) return QRT_TSP_SOCKET_READ_FAILED;

    BinOwner cert;
    ZQ_TSP_TSTInfo info{};
    if (int rc = QRT_TSP_DecodeResponse(&info, cert.get(), response.get(), request.get(), tsaCert)) return rc;
    tstInfo = info;
    request.release_to(&requestOut);
    response.release_to(&responseOut);
    cert.release_to(&certOut);
    return 0;
}

}  // namespace
}  // namespace ostrel::tsp

using namespace ostrel;
using namespace ostrel::tsp;

extern "C" {

QRT_API int QRT_TSP_Client(ZQ_TSP_TSTInfo *tstInfo, BIN *requestOut, BIN *responseOut, BIN *certOut, const BIN *message,
                           const BIN *tsaCert, int socket) {
    if (!tstInfo || !requestOut || !responseOut || !certOut) return QRT_TSP_INVALID_INPUT;
    QRT_TSP_TSTInfo_Reset(tstInfo);
    *requestOut = BIN{0, nullptr};
    *responseOut = BIN{0, nullptr};
    *certOut = BIN{0, nullptr};
    if (!has_bytes(message)) return QRT_TSP_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        return client(*tstInfo, *requestOut, *responseOut, *certOut, *message, has_bytes(tsaCert) ? tsaCert : nullptr,
                      socket);
    });
}

}  // extern "C"
