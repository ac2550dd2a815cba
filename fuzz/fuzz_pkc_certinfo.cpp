// Arbitrary bytes as a DER certificate through the record and the extended record, under the
// EUC-KR and the UTF-8 locale. Every string field stays NUL-terminated inside its width, and a
// failure leaves nothing allocated. No crash, no read past a buffer, no leak.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "suite_pkc.h"

namespace {

template <size_t N>
void check_field(const char (&field)[N]) {
    if (!std::memchr(field, 0, N)) __builtin_trap();
}

void check(const CertInfo &ci) {
    check_field(ci.sSerial);
    check_field(ci.sSignatureAlgDesc);
    check_field(ci.sIssuerRDN);
    check_field(ci.sFrom);
    check_field(ci.sTo);
    check_field(ci.sSubjectRDN);
    check_field(ci.sSubjectKeyAlgDesc);
    check_field(ci.sSubjectPublicKey);
    check_field(ci.sSignature);
    check_field(ci.sAuthorityKeyID);
    check_field(ci.sSubjectKeyID);
    check_field(ci.sKeyUsageDesc);
    check_field(ci.sPolicyID);
    check_field(ci.sCPSURI);
    check_field(ci.sUserNotice);
    check_field(ci.sSubjectAltName);
    check_field(ci.sVIDHashAlgDesc);
    check_field(ci.sVID);
    check_field(ci.sIssuerAltName);
    check_field(ci.sBasicConstraints);
    check_field(ci.sExtendedKeyUsage);
    check_field(ci.sCrlDistributionPoints);
    check_field(ci.sAIAs);
    check_field(ci.sNetscapeUsageDesc);
    check_field(ci.sMSFP);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static CertInfoEx ex;
    const unsigned length = static_cast<unsigned>(size);
    for (const char *locale : {"ko_KR-euc", "ko_KR-UTF-8"}) {
        QRT_PKC_SetOption("locale", locale);
        if (QRT_ExtractCertInfo(0, nullptr, data, length, 1, &ex.info) == 0) check(ex.info);
        if (QRT_ExtractCertInfoEx(0, nullptr, data, length, 1, &ex) == 0) {
            check(ex.info);
            check_field(ex.sRegisteredNumber);
            check_field(ex.sRepresentativeName);
            check_field(ex.sRepresentativeTitle);
            check_field(ex.sNetscapeComment);
            check_field(ex.sAuthorityCertSerial);
            check_field(ex.sRSAModulus);
            check_field(ex.sRSAExponent);
            check_field(ex.sKCDSA_P);
            check_field(ex.sKCDSA_Q);
            check_field(ex.sKCDSA_G);
        }
    }
    char *trace = nullptr;  // the failures' records would otherwise pile up
    QRT_Trace_GetError(&trace);
    QRT_free(trace);
    return 0;
}
