// Password-based MAC: a PBKDF2 key, then the provider's MAC.
#include "ostrel/ct.hpp"
#include "pkcs5_internal.h"

using namespace ostrel::pkcs5;

extern "C" {

QRT_API int QRT_PKCS5_PBMAC1_Generate(BIN *mac, const BIN *data, const BIN *password, const ZQ_PKCS5_PBMAC1_PARAM *p) {
    if (!mac || !data || !password || !p) return QRT_PKCS5_INVALID_INPUT;
    *mac = BIN{0, nullptr};
    return OSTREL_GUARD_TRACE([&]() -> int {
        BinOwner key;
        int rc = QRT_PKCS5_PBKDF2(key.get(), p->macKeyLength, password, &p->pbkdf2Param);
        if (rc) return rc;
        return QRT_CSP_MAC(mac, data, key.get(), p->macID, nullptr);
    });
}

QRT_API int QRT_PKCS5_PBMAC1_Verify(const BIN *mac, const BIN *data, const BIN *password,
                                    const ZQ_PKCS5_PBMAC1_PARAM *p) {
    if (!mac || !data || !password || !p) return QRT_PKCS5_INVALID_INPUT;
    return OSTREL_GUARD([&]() -> int {
        BinOwner computed;
        int rc = QRT_PKCS5_PBMAC1_Generate(computed.get(), data, password, p);
        if (rc) return rc;
        if (computed->length != mac->length || (mac->length && !mac->value) ||
            !ostrel::ct_equal(computed->value, mac->value, mac->length))
            return QRT_PKCS5_INVALID_MAC;  // a mismatch leaves no trace record
        return 0;
    });
}

}  // extern "C"
