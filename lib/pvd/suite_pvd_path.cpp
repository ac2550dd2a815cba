// Path building: the issuer search, the link checks and revocation of one validation.
#include "pvd_internal.h"

using namespace ostrel::pvd;

extern "C" QRT_API int QRT_PVD_VerifyCertPath(ZQ_PVD_CertPathResult *, ZQ_PVD_CertPathRequest *request,
                                              ZQ_PVD_VerifyParam *param) {
    if (!request || !param) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    return PVD_FAIL(QRT_PVD_INTERNAL);
}
