// Signature AlgorithmIdentifiers and SubjectPublicKeyInfos from outside: the table's reader never
// misbehaves, and whatever it accepts encodes to an identifier that reads back to the same
// algorithm. The first byte picks the reader; the rest is its input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "suite_csp.h"

namespace {

bool same(const ZQ_CSP_SigAlg &a, const ZQ_CSP_SigAlg &b) {
    return a.signID == b.signID && a.hashID == b.hashID && a.pkeyID == b.pkeyID && a.mgfHashID == b.mgfHashID &&
           a.saltLength == b.saltLength;
}

// sha256WithRSAEncryption and a few bytes to check.
const unsigned char kSha256Rsa[] = {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x01, 0x0b};
const unsigned char kRsaPss[] = {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x01, 0x0a};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1 || size > 1 << 14) return 0;
    const uint8_t sel = data[0];
    BIN in{static_cast<unsigned>(size - 1), const_cast<uint8_t *>(data + 1)};
    switch (sel % 3) {
        case 0: {  // a whole AlgorithmIdentifier: accepted ones survive encoding
            ZQ_CSP_SigAlg alg{};
            if (QRT_CSP_SigAlg_Decode(&alg, &in) != 0) break;
            BIN der{0, nullptr};
            if (QRT_CSP_SigAlg_Encode(&der, &alg) != 0) abort();
            ZQ_CSP_SigAlg back{};
            if (QRT_CSP_SigAlg_Decode(&back, &der) != 0 || !same(alg, back)) abort();
            QRT_BIN_Reset(&der);
            break;
        }
        case 1: {  // RSASSA-PSS parameters given as the parts of a tree
            ZQ_CSP_AlgID id{kRsaPss, sizeof kRsaPss, &in};
            ZQ_CSP_SigAlg alg{};
            (void)QRT_CSP_SigAlg_FromAlgID(&alg, &id);
            break;
        }
        default: {  // a SubjectPublicKeyInfo under a signature check
            ZQ_CSP_AlgID id{kSha256Rsa, sizeof kSha256Rsa, nullptr};
            unsigned char sig[256] = {1}, msg[3] = {'a', 'b', 'c'};
            BIN s{sizeof sig, sig}, m{sizeof msg, msg};
            int rc = QRT_CSP_VerifySignedData(&id, &m, &s, &in, nullptr);
            if (rc == 0) abort();  // nothing verifies a constant signature
            break;
        }
    }
    char *trace = nullptr;
    QRT_Trace_GetError(&trace);
    QRT_free(trace);
    return 0;
}
