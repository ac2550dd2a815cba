// Key, parameter and signature bytes from outside: the core's decoders and the provider's
// signature check never misbehave, and the strict DER forms encode back to exactly their input.
// The first byte picks the decoder; the rest is its input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "suite_csp.h"

namespace {

using Bytes = std::vector<unsigned char>;

template <class F>
Bytes encoded(F f) {
    unsigned n = 0;
    if (f(nullptr, &n) != 0) abort();
    Bytes out(n);
    if (f(out.data(), &n) != 0) abort();
    out.resize(n);
    return out;
}

void same(const Bytes &enc, const uint8_t *in, size_t n) {
    if (enc.size() != n || std::memcmp(enc.data(), in, n) != 0) abort();
}

// A P-256 point and its parameters for the provider's checks.
const unsigned char kP256[] = {0x06, 0x08, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1 || size > 1 << 14) return 0;
    const uint8_t sel = data[0];
    const uint8_t *in = data + 1;
    const unsigned n = static_cast<unsigned>(size - 1);
    switch (sel % 12) {
        case 0: {  // PKCS#1 public key: what decodes re-encodes to the SEQUENCE it came from
            WJ_RSA_PublicKey *k = WJ_RSA_PublicKey_New();
            if (WJ_PKCS1_PublicKey_Decode(k, in, n) == 0) {
                Bytes e = encoded([&](unsigned char *o, unsigned *l) { return WJ_PKCS1_PublicKey_Encode(o, l, k); });
                if (e.size() > n || std::memcmp(e.data(), in, e.size()) != 0) abort();
                unsigned char sig[8] = {1};
                WJ_PKCS1_V15_Verify(sig, sizeof sig, WJ_HASH_SHA1, sig, 0, k);
            }
            WJ_RSA_PublicKey_Free(k);
            break;
        }
        case 1: {
            WJ_RSA_PrivateKey *k = WJ_RSA_PrivateKey_New();
            if (WJ_PKCS1_PrivateKey_Decode(k, in, n) == 0) {
                Bytes e = encoded([&](unsigned char *o, unsigned *l) { return WJ_PKCS1_PrivateKey_Encode(o, l, k); });
                if (e.size() > n || std::memcmp(e.data(), in, e.size()) != 0) abort();
            }
            WJ_RSA_PrivateKey_Free(k);
            break;
        }
        case 2:
        case 3:
        case 4: {  // DSA, KCDSA, DH parameters
            WJ_DL_Parameters *p = WJ_DSA_Parameters_New();
            int rc = sel % 12 == 2   ? WJ_DSA_Parameters_Decode(p, in, n)
                     : sel % 12 == 3 ? WJ_KCDSA_Parameters_Decode(p, in, n)
                                     : WJ_DH_Parameters_Decode(p, in, n);
            if (rc == 0 && sel % 12 != 4) {
                same(encoded([&](unsigned char *o, unsigned *l) {
                         return sel % 12 == 2 ? WJ_DSA_Parameters_Encode(o, l, p) : WJ_KCDSA_Parameters_Encode(o, l, p);
                     }),
                     in, n);
            }
            WJ_DSA_Parameters_Free(p);
            break;
        }
        case 5: {  // EC parameters, then a point on that curve from the same bytes
            WJ_EC_Parameters *p = WJ_ECDSA_Parameters_New();
            if (WJ_ECDSA_Parameters_Decode(p, in, n) == 0) {
                WJ_EC_POINT *q = WJ_EC_Point_New(p);
                WJ_ECDSA_PublicKey_Decode(q, in, n, p);
                WJ_EC_Point_Free(q);
            }
            WJ_ECDSA_Parameters_Free(p);
            break;
        }
        case 6: {  // a point on P-256 or B-233
            WJ_EC_Parameters *p = WJ_ECDSA_Parameters_New();
            WJ_ECDSA_Parameters_SetCurve(p, sel & 0x80 ? WJ_EC_CURVE_B233 : WJ_EC_CURVE_P256);
            WJ_EC_POINT *q = WJ_EC_Point_New(p);
            if (WJ_ECDSA_PublicKey_Decode(q, in, n, p) == 0) {
                Bytes e =
                    encoded([&](unsigned char *o, unsigned *l) { return WJ_EC_Point_Encode(o, l, q, in[0] != 4); });
                same(e, in, n);
            }
            WJ_EC_Point_Free(q);
            WJ_ECDSA_Parameters_Free(p);
            break;
        }
        case 7: {
            WJ_DSA_Signature *s = WJ_DSA_Signature_New();
            if (WJ_DSA_Signature_Decode(s, in, n) == 0)
                same(encoded([&](unsigned char *o, unsigned *l) { return WJ_DSA_Signature_Encode(o, l, s); }), in, n);
            WJ_DSA_Signature_Free(s);
            break;
        }
        case 8: {
            WJ_KCDSA_Signature *s = WJ_KCDSA_Signature_New();
            if (WJ_KCDSA_Signature_Decode(s, in, n) == 0)
                same(encoded([&](unsigned char *o, unsigned *l) { return WJ_KCDSA_Signature_Encode(o, l, s); }), in, n);
            WJ_KCDSA_Signature_Free(s);
            break;
        }
        case 9:
        case 10: {  // generic key forms of the algorithm named by the second byte
            static const int algs[] = {WJ_PKEY_RSA,   WJ_PKEY_DH,    WJ_PKEY_DSA,
                                       WJ_PKEY_KCDSA, WJ_PKEY_ECDSA, WJ_PKEY_ECKCDSA};
            if (n < 1) break;
            int alg = algs[in[0] % 6];
            if (sel % 12 == 9) {
                WJC_PKEY_PUBLIC_KEY *k = WJC_PKEY_PublicKey_New();
                if (WJC_PKEY_PublicKey_FromBinary(k, alg, in + 1, n - 1) == 0)
                    encoded([&](unsigned char *o, unsigned *l) { return WJC_PKEY_PublicKey_ToBinary(o, l, k); });
                WJC_PKEY_PublicKey_Free(k);
            } else {
                WJC_PKEY_PRIVATE_KEY *k = WJC_PKEY_PrivateKey_New();
                if (WJC_PKEY_PrivateKey_FromBinary(k, alg, in + 1, n - 1) == 0)
                    encoded([&](unsigned char *o, unsigned *l) { return WJC_PKEY_PrivateKey_ToBinary(o, l, k); });
                WJC_PKEY_PrivateKey_Free(k);
            }
            break;
        }
        default: {  // the provider: signature and key bytes from outside for an algorithm of ours
            if (n < 2) break;
            static const int ids[] = {4, 15, 16, 21, 23, 11};
            int id = ids[in[0] % 6];
            unsigned split = in[1] % (n - 1);
            BIN sig{split, const_cast<unsigned char *>(in + 2)},
                key{n - 2 - split, const_cast<unsigned char *>(in + 2 + split)};
            unsigned char digest[32] = {7};
            BIN d{32, digest};
            BIN param{sizeof kP256, const_cast<unsigned char *>(kP256)};
            ZQ_CSP_SignParam p{};
            p.rsa_pss.hashID = 6;
            p.rsa_pss.mgfID = 1;
            if (id != 4 && id != 11) p.ecdsa.pkeyParam = id == 16 || id == 23 ? &param : &key;
            QRT_CSP_VerifySignature(&sig, &d, &key, id, &p);
            break;
        }
    }
    return 0;
}
