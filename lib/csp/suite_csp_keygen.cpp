// Key-pair and domain-parameter generation through the core's generic interface.
#include <cstring>
#include <type_traits>
#include <vector>

#include "csp_pkey.hpp"

using namespace ostrel;
using namespace ostrel::csp;

namespace {

// The parameter BIN of a key-generation parameter, by algorithm.
const BIN *gen_param_bin(int id, const ZQ_CSP_GenKeyPairParam *p) {
    switch (id) {
        case kDh:
            return p->dh.pkeyParam;
        case kDsa:
            return p->dsa.pkeyParam;
        case kKcdsa:
            return p->kcdsa.pkeyParam;
        case kEcdsa:
            return p->ecdsa.pkeyParam;
        default:
            return p->eckcdsa.pkeyParam;
    }
}

}  // namespace

extern "C" {

QRT_API int QRT_CSP_GenerateKeyPair(BIN *privateKey, BIN *publicKey, int pkeyID, ZQ_CSP_GenKeyPairParam *param) {
    const char *const fn_ = __func__;
    if (!privateKey || !publicKey || !param) return QRT_CSP_INVALID_INPUT;
    *privateKey = BIN{0, nullptr};
    *publicKey = BIN{0, nullptr};
    if (int rc = state_gate()) return OSTREL_FAIL_AS(fn_, rc);
    return OSTREL_GUARD([&] {
        int core = core_pkey_id(pkeyID);
        if (!core) return OSTREL_FAIL_AS(fn_, QRT_CSP_UNKNOWN_ID);
        GenericPriv priv(WJC_PKEY_PrivateKey_New());
        GenericPub pub(WJC_PKEY_PublicKey_New());
        GenericParams params(WJC_PKEY_Parameters_New());
        if (!priv || !pub || !params) return OSTREL_FAIL_AS(fn_, QRT_CSP_MALLOC_FAILED);
        int rc;
        if (pkeyID == kRsa) {
            if (param->rsa.keyLength < 0 || param->rsa.e < 0) return QRT_CSP_INVALID_INPUT;
            WJC_PKEY_RSA_GENPARAM rsa{static_cast<unsigned>(param->rsa.keyLength),
                                      static_cast<unsigned long>(param->rsa.e)};
            rc = WJC_PKEY_GenerateKeyPair(priv.get(), pub.get(), core, nullptr, &rsa);
        } else {
            const BIN *pb = gen_param_bin(pkeyID, param);
            if (!bin_ok(pb)) return QRT_CSP_INVALID_INPUT;
            if ((rc = WJC_PKEY_Parameters_Decode(params.get(), core, pb->value, pb->length)) != 0) {
                OSTREL_CORE_FAIL("WJC_PKEY_Parameters_Decode", rc);
                return OSTREL_FAIL_AS(fn_, QRT_CSP_BAD_PARAM);
            }
            rc = WJC_PKEY_GenerateKeyPair(priv.get(), pub.get(), core, params.get(), nullptr);
        }
        if (rc) {
            OSTREL_CORE_FAIL("WJC_PKEY_GenerateKeyPair", rc);
            return OSTREL_FAIL_AS(fn_, rc);  // the core's own code
        }
        // Sized to the encodings (a large RSA private key does not fit a fixed buffer).
        if ((rc = output_of(
                 privateKey,
                 [&](unsigned char *o, unsigned *l) { return WJC_PKEY_PrivateKey_ToBinary(o, l, priv.get()); },
                 "WJC_PKEY_PrivateKey_ToBinary")) ||
            (rc = output_of(
                 publicKey, [&](unsigned char *o, unsigned *l) { return WJC_PKEY_PublicKey_ToBinary(o, l, pub.get()); },
                 "WJC_PKEY_PublicKey_ToBinary"))) {
            QRT_BIN_Reset(privateKey);
            return OSTREL_FAIL_AS(fn_, rc);
        }
        return 0;
    });
}

QRT_API int QRT_CSP_GenerateParam(BIN *param, int pkeyID, ZQ_CSP_GenParamParam *genParam) {
    const char *const fn_ = __func__;
    if (!param || !genParam) return QRT_CSP_INVALID_INPUT;
    *param = BIN{0, nullptr};
    if (int rc = state_gate()) return OSTREL_FAIL_AS(fn_, rc);
    return OSTREL_GUARD([&] {
        WJC_PKEY_GENPARAM gen{};
        int core = core_pkey_id(pkeyID);
        auto bits = [](int v) { return v < 0 ? 0u : static_cast<unsigned>(v); };
        switch (pkeyID) {
            case kDh:
                gen.primeBits = bits(genParam->dh.primeLength);
                gen.subprimeBits = bits(genParam->dh.factorLength);
                break;
            case kDsa:
                gen.primeBits = bits(genParam->dsa.primeLength);
                break;
            case kKcdsa:
                gen.primeBits = bits(genParam->kcdsa.primeLength);
                break;
            case kEcdsa:
                gen.curve = genParam->ecdsa.ncid;
                break;
            case kEckcdsa:
                gen.curve = genParam->eckcdsa.ncid;
                break;
            default:
                return OSTREL_FAIL_AS(fn_, QRT_CSP_UNKNOWN_ID);
        }
        GenericParams params(WJC_PKEY_Parameters_New());
        if (!params) return OSTREL_FAIL_AS(fn_, QRT_CSP_MALLOC_FAILED);
        int rc = WJC_PKEY_GenerateParameters(params.get(), core, &gen);
        if (!rc)
            rc = output_of(
                param, [&](unsigned char *o, unsigned *l) { return WJC_PKEY_Parameters_Encode(o, l, params.get()); },
                "WJC_PKEY_Parameters_Encode");
        else
            OSTREL_CORE_FAIL("WJC_PKEY_GenerateParameters", rc);
        return rc ? OSTREL_FAIL_AS(fn_, rc) : 0;  // the core's own code
    });
}

}  // extern "C"
