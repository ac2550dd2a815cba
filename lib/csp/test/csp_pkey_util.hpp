// Keys for the provider's public-key tests, made once per process through the core and handed
// out in the provider's BIN forms.
#pragma once

#include "csp_test_util.hpp"
#include "suite_crypto.h"

namespace csptest {

struct RawKeys {
    Bytes param, pub, priv;
};

template <class F>
Bytes core_out(F f) {
    unsigned n = 0;
    EXPECT_EQ(f(nullptr, &n), 0);
    Bytes out(n);
    EXPECT_EQ(f(out.data(), &n), 0);
    out.resize(n);
    return out;
}

inline Bytes der_int(const WJ_BigInt *a) {
    return core_out([&](unsigned char *o, unsigned *l) { return WJ_BigInt_DerEncode(o, l, a); });
}

inline RawKeys make_rsa(unsigned bytes = 128) {
    WJ_RSA_PrivateKey *k = WJ_RSA_PrivateKey_New();
    WJ_RSA_PublicKey *p = WJ_RSA_PublicKey_New();
    EXPECT_EQ(WJ_RSA_GenerateKey(k, p, bytes, 0), 0);
    RawKeys r;
    r.priv = core_out([&](unsigned char *o, unsigned *l) { return WJ_PKCS1_PrivateKey_Encode(o, l, k); });
    r.pub = core_out([&](unsigned char *o, unsigned *l) { return WJ_PKCS1_PublicKey_Encode(o, l, p); });
    WJ_RSA_PrivateKey_Free(k);
    WJ_RSA_PublicKey_Free(p);
    return r;
}

// Discrete-log keys over given parameters (alg WJ_PKEY_DH, _DSA or _KCDSA).
inline RawKeys make_dl(int alg, const Bytes &param) {
    WJ_DL_Parameters *p = WJ_DSA_Parameters_New();
    int rc = alg == WJ_PKEY_DH    ? WJ_DH_Parameters_Decode(p, param.data(), (unsigned)param.size())
             : alg == WJ_PKEY_DSA ? WJ_DSA_Parameters_Decode(p, param.data(), (unsigned)param.size())
                                  : WJ_KCDSA_Parameters_Decode(p, param.data(), (unsigned)param.size());
    EXPECT_EQ(rc, 0);
    WJ_BigInt *x = WJ_BigInt_New(1), *y = WJ_BigInt_New(1);
    rc = alg == WJ_PKEY_DH    ? WJ_DH_GenerateKey(x, y, p)
         : alg == WJ_PKEY_DSA ? WJ_DSA_GenerateKey(x, y, p)
                              : WJ_KCDSA_GenerateKey(x, y, p);
    EXPECT_EQ(rc, 0);
    RawKeys r{param, der_int(y), der_int(x)};
    WJ_BigInt_Free(x);
    WJ_BigInt_Free(y);
    WJ_DSA_Parameters_Free(p);
    return r;
}

inline Bytes dl_params(int alg, unsigned bits, unsigned qbits) {
    WJ_DL_Parameters *p = WJ_DSA_Parameters_New();
    int rc = alg == WJ_PKEY_DH    ? WJ_DH_GenerateParameters(p, bits, qbits)
             : alg == WJ_PKEY_DSA ? WJ_DSA_GenerateParameters(p, bits, qbits)
                                  : WJ_KCDSA_GenerateParameters(p, bits, qbits);
    EXPECT_EQ(rc, 0);
    Bytes der = core_out([&](unsigned char *o, unsigned *l) {
        return alg == WJ_PKEY_DH    ? WJ_DH_Parameters_Encode(o, l, p)
               : alg == WJ_PKEY_DSA ? WJ_DSA_Parameters_Encode(o, l, p)
                                    : WJ_KCDSA_Parameters_Encode(o, l, p);
    });
    WJ_DSA_Parameters_Free(p);
    return der;
}

// EC keys on a curve; kcdsa: Q = d^-1 G.
inline RawKeys make_ec(int curve, bool kcdsa) {
    WJ_EC_Parameters *p = WJ_ECDSA_Parameters_New();
    EXPECT_EQ(WJ_ECDSA_Parameters_SetCurve(p, curve), 0);
    WJ_EC_POINT *q = WJ_EC_Point_New(p);
    WJ_BigInt *d = WJ_BigInt_New(1);
    EXPECT_EQ(kcdsa ? WJ_ECKCDSA_GenerateKey(d, q, p) : WJ_ECDSA_GenerateKey(d, q, p), 0);
    RawKeys r;
    r.param = core_out([&](unsigned char *o, unsigned *l) { return WJ_ECDSA_Parameters_Encode(o, l, p); });
    r.pub = core_out([&](unsigned char *o, unsigned *l) { return WJ_EC_Point_Encode(o, l, q, 0); });
    r.priv = der_int(d);
    WJ_BigInt_Free(d);
    WJ_EC_Point_Free(q);
    WJ_ECDSA_Parameters_Free(p);
    return r;
}

// Shared keys of the tests (made on first use).
inline const RawKeys &rsa_keys() {
    static RawKeys k = make_rsa();
    return k;
}
inline const Bytes &kcdsa_params() {
    static Bytes p = dl_params(WJ_PKEY_KCDSA, 1024, 160);
    return p;
}
inline const Bytes &dsa_params() {
    static Bytes p = dl_params(WJ_PKEY_DSA, 1024, 160);
    return p;
}

}  // namespace csptest
