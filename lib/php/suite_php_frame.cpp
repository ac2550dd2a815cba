// The handshake library's frame: version, version check and error texts.
#include "ostrel/frame.hpp"
#include "php_internal.h"
#include "suite_asn.h"
#include "suite_crypto.h"
#include "suite_csp.h"

namespace {

constexpr const char *kVersion = "1.5.0.3";
constexpr const char *kUndefined = "UnDefined Error Reason";

const ERR_MSG_DATA kEnglish[] = {
    {40001, "invalid input"},
    {40002, "internal"},
    {40003, "malloc failed"},
    {40010, "socket read failed"},
    {40011, "socket write failed"},
    {40012, "socket closed"},
    {40013, "socket read wait"},
    {40014, "socket write wait"},
    {40020, "unknown version"},
    {40021, "unknown message"},
    {40022, "unknown cert"},
    {40023, "unknown userid"},
    {40024, "blocked userid"},
    {40025, "bad message"},
    {40026, "bad certificate"},
    {40030, "invalid strong"},
    {40031, "invalid phpcert"},
    {40035, "no certificate"},
    {40050, "asn function failed"},
    {40051, "bigint function failed"},
    {40052, "rsa function failed"},
    {40053, "pkcs1 function failed"},
    {40054, "csp function failed"},
    {40060, "unexpected_message alert received"},
    {40061, "illegal_parameter alert received"},
    {40062, "unknown_userid alert received"},
    {40066, "blocked_userid alert received"},
    {40063, "no_certificate alert received"},
    {40064, "bad_certificate alert received"},
    {40065, "internal_error alert received"},
    {0, nullptr},
};

// Written in UTF-8; the build turns these literals into EUC-KR bytes.
const ERR_MSG_DATA kKorean[] = {
    {40001, "함수 인자가 잘못되었습니다."},
    {40002, "함수 내부적인 에러가 발생했습니다."},
    {40003, "함수 내부에서 메모리 할당이 실패했습니다."},
    {40010, "소켓 읽기가 실패했습니다."},
    {40011, "소켓 쓰기가 실패했습니다."},
    {40012, "소켓이 닫혔습니다."},
    {40013, "소켓 읽기 대기 시간이 지났습니다."},
    {40014, "소켓 쓰기 대기 시간이 지났습니다."},
    {40020, "알 수 없는 버전입니다."},
    {40021, "알 수 없는 메시지입니다."},
    {40022, "알 수 없는 인증서 종류입니다."},
    {40023, "알 수 없는 사용자입니다."},
    {40024, "사용이 정지된 사용자입니다."},
    {40025, "메시지 형식이 잘못되었습니다."},
    {40026, "인증서 형식이 잘못되었습니다."},
    {40030, "강한 값이 올바르지 않습니다."},
    {40031, "PHP 인증서가 올바르지 않습니다."},
    {40035, "인증서가 없습니다."},
    {40050, "ASN 함수가 실패했습니다."},
    {40051, "큰 정수 함수가 실패했습니다."},
    {40052, "RSA 함수가 실패했습니다."},
    {40053, "PKCS1 함수가 실패했습니다."},
    {40054, "CSP 함수가 실패했습니다."},
    {40060, "unexpected_message 경고를 받았습니다."},
    {40061, "illegal_parameter 경고를 받았습니다."},
    {40062, "unknown_userid 경고를 받았습니다."},
    {40066, "blocked_userid 경고를 받았습니다."},
    {40063, "no_certificate 경고를 받았습니다."},
    {40064, "bad_certificate 경고를 받았습니다."},
    {40065, "internal_error 경고를 받았습니다."},
    {0, nullptr},
};

}  // namespace

extern "C" {

QRT_API const char *QRT_PHP_GetVersion(void) { return kVersion; }
QRT_API const char *QRT_GetVersionPHP(void) { return kVersion; }

QRT_API int QRT_PHP_CheckVersion(const char *required) {
    return ostrel::check_version(kVersion, required,
                                 {{QRT_IO_GetVersion, "1.5.1.1"},
                                  {QRT_ASN_GetVersion, "1.5.1.5"},
                                  {QRT_CSP_GetVersion, "1.5.0.11"},
                                  {WJC_GetVersion, "1.2.3.0"}});
}

QRT_API const char *QRT_PHP_GetErrorReason(int code, int locale) {
    const char *r = nullptr;
    if (locale == 1) r = ostrel::find_reason(kEnglish, code);
    if (locale == 0) r = ostrel::find_reason(kKorean, code);
    return r ? r : kUndefined;
}
QRT_API const char *QRT_GetErrReasonPHP(int code, int locale) { return QRT_PHP_GetErrorReason(code, locale); }

}  // extern "C"
