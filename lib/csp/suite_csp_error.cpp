// The provider's library frame: version, version check and error texts (English, Korean).
#include "csp_internal.h"
#include "ostrel/frame.hpp"

namespace {

constexpr const char *kVersion = "1.7.0.0";

const ERR_MSG_DATA kEnglish[] = {
    {6001, "invalid input"},
    {6002, "internal"},
    {6003, "malloc failed"},
    {6010, "id is unknown"},
    {6011, "mac is invalid"},
    {6012, "signature is invalid"},
    {6013, "keypair is invalid"},
    {6021, "cipher mode is unknown"},
    {6022, "cipher padding is unknown"},
    {6023, "cipher padding is invalid"},
    {6024, "cipher iv length is incorrect"},
    {6025, "cipher mode size is incorrect"},
    {6026, "cipher key length is incorrect"},
    {6030, "pkey privkey is bad"},
    {6031, "pkey pubkey is bad"},
    {6032, "pkey param is bad"},
    {6033, "pkey signature is bad"},
    {6100, "generate_rsakey function failed"},
    {6101, "encode_rsakey function failed"},
    {6102, "decode_rsakey function failed"},
    {6103, "rsa_encrypt function failed"},
    {6104, "rsa_decrypt function failed"},
    {6105, "rsa_sign function failed"},
    {6106, "rsa_verify function failed"},
    {6110, "crypto function failed"},
    {6120, "CMVP stated not supported"},
    {0, nullptr},
};

// Written in UTF-8; the build turns these literals into EUC-KR bytes.
const ERR_MSG_DATA kKorean[] = {
    {6001, "함수 인자가 NULL 입니다."},
    {6002, "함수 내부적인 에러가 발생했습니다."},
    {6003, "함수 내부에서 메모리 할당이 실패했습니다."},
    {6010, "알 수 없는 아이디가 지정되었습니다."},
    {6011, "맥 값이 잘못되었습니다."},
    {6012, "서명 값이 잘못되었습니다."},
    {6013, "올바른 키 쌍이 아닙니다."},
    {6021, "알 수 없는 암호 모드가 지정되었습니다."},
    {6022, "알 수 없는 암호 패딩 방법이 지정되었습니다."},
    {6023, "암호 패딩 값이 잘못 되었습니다."},
    {6024, "암호 초기화 벡터 길이가 올바르지 않습니다."},
    {6025, "암호 모드 사이즈가 올바르지 않습니다."},
    {6026, "암호 키 길이가 올바르지 않습니다."},
    {6030, "비밀키 데이터가 잘못되었습니다."},
    {6031, "공개키 데이터가 잘못되었습니다."},
    {6032, "공개키 파라미터 데이터가 잘못되었습니다."},
    {6033, "서명 데이터가 잘못되었습니다."},
    {6100, "generate_rsakey 함수가 실패했습니다."},
    {6101, "encode_rsakey 함수가 실패했습니다."},
    {6102, "decode_rsakey 함수가 실패했습니다."},
    {6103, "rsa_encrypt 함수가 실패했습니다."},
    {6104, "rsa_decrypt 함수가 실패했습니다."},
    {6105, "rsa_sign 함수가 실패했습니다."},
    {6106, "rsa_verify 함수가 실패했습니다."},
    {6110, "crypto 함수가 실패했습니다."},
    {6120, "지원되지 않는 CMVP 상태입니다."},
    {0, nullptr},
};

}  // namespace

extern "C" {

QRT_API const char *QRT_CSP_GetVersion(void) { return kVersion; }
QRT_API const char *QRT_GetVersionCSP(void) { return kVersion; }

QRT_API int QRT_CSP_CheckVersion(const char *required) {
    return ostrel::check_version(kVersion, required, {{WJC_GetVersion, "1.2.3.0"}, {QRT_IO_GetVersion, "1.5.1.0"}});
}

QRT_API const char *QRT_CSP_GetErrorReason(int code, int locale) {
    return ostrel::reason_of(kEnglish, kKorean, code, locale);
}
QRT_API const char *QRT_GetErrReasonCSP(int code, int locale) { return QRT_CSP_GetErrorReason(code, locale); }

}  // extern "C"
