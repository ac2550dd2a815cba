// The library frame: version, version check and the English and Korean error texts.
#include "ostrel/frame.hpp"
#include "ras_internal.h"

namespace {

constexpr const char *kVersion = "1.5.0.4";
constexpr const char *kUndefined = "UnDefined Error Reason";

constexpr ostrel::PairedReason kReasons[] = {
    {71001, "msg len size is too long", "메시지 길이 필드가 너무 깁니다."},
    {71003, "rec num size is too long", "레코드 개수 필드가 너무 깁니다."},
    {71004, "rec len size is too long", "레코드 길이 필드가 너무 깁니다."},
    {71005, "date time size is too long", "일시의 길이가 너무 깁니다."},
    {71006, "date size is too long", "일자의 길이가 너무 깁니다."},
    {71007, "rec size is too long", "레코드의 길이가 너무 깁니다."},
    {71008, "corp code size is too long", "기관 코드의 길이가 너무 깁니다."},
    {71009, "oper id size is too long", "운영자 ID의 길이가 너무 깁니다."},
    {71011, "reg date size is too long", "등록 일자의 길이가 너무 깁니다."},
    {71012, "reg serial size is too long", "등록 일련번호의 길이가 너무 깁니다."},
    {71013, "type size is too long", "유형의 길이가 너무 깁니다."},
    {71014, "company size is too long", "회사명의 길이가 너무 깁니다."},
    {71015, "user name size is too long", "사용자 이름의 길이가 너무 깁니다."},
    {71016, "english user name size is too long", "영문 사용자 이름의 길이가 너무 깁니다."},
    {71018, "user id size is too long", "사용자 ID의 길이가 너무 깁니다."},
    {71019, "ssn size is too long", "주민등록번호의 길이가 너무 깁니다."},
    {71021, "policy type size is too long", "정책 유형의 길이가 너무 깁니다."},
    {71022, "email size is too long", "전자우편 주소의 길이가 너무 깁니다."},
    {71023, "cell phone size is too long", "휴대전화 번호의 길이가 너무 깁니다."},
    {71024, "fax size is too long", "팩스 번호의 길이가 너무 깁니다."},
    {71025, "zip code size is too long", "우편번호의 길이가 너무 깁니다."},
    {71026, "address size is too long", "주소의 길이가 너무 깁니다."},
    {71027, "phone size is too long", "전화번호의 길이가 너무 깁니다."},
    {71028, "company zip code size is too long", "회사 우편번호의 길이가 너무 깁니다."},
    {71029, "company address size is too long", "회사 주소의 길이가 너무 깁니다."},
    {71030, "company phone size is too long", "회사 전화번호의 길이가 너무 깁니다."},
    {71031, "cert type size is too long", "인증서 유형의 길이가 너무 깁니다."},
    {71032, "cert class size is too long", "인증서 등급의 길이가 너무 깁니다."},
    {71033, "signature size is too long", "서명값의 길이가 너무 깁니다."},
    {71034, "code size is too long", "결과 코드의 길이가 너무 깁니다."},
    {71035, "msg size is too long", "메시지의 길이가 너무 깁니다."},
    {71036, "auth code size is too long", "인가 코드의 길이가 너무 깁니다."},
    {71037, "auth reference size is too long", "참조 번호의 길이가 너무 깁니다."},
    {71038, "root hash size is too long", "루트 해시의 길이가 너무 깁니다."},
    {71039, "svc code size is too long", "서비스 코드의 길이가 너무 깁니다."},
    {71041, "cert serial size is too long", "인증서 일련번호의 길이가 너무 깁니다."},
    {71042, "ref no size is too long", "조회 구분의 길이가 너무 깁니다."},
    {71043, "rec start size is too long", "시작 레코드 번호의 길이가 너무 깁니다."},
    {71044, "rec no size is too long", "레코드 수의 길이가 너무 깁니다."},
    {71045, "total rec no size is too long", "전체 레코드 수의 길이가 너무 깁니다."},
    {71046, "current rec no size is too long", "현재 레코드 번호의 길이가 너무 깁니다."},
    {71047, "valid from size is too long", "유효기간 시작일의 길이가 너무 깁니다."},
    {71048, "valid to size is too long", "유효기간 종료일의 길이가 너무 깁니다."},
    {71049, "dn size is too long", "DN의 길이가 너무 깁니다."},
    {71051, "cert status size is too long", "인증서 상태의 길이가 너무 깁니다."},
    {71052, "reg type size is too long", "등록 유형의 길이가 너무 깁니다."},
    {71053, "event type size is too long", "이벤트 유형의 길이가 너무 깁니다."},
    {71054, "event date size is too long", "이벤트 일자의 길이가 너무 깁니다."},
    {71055, "msg serial size is too long", "메시지 일련번호의 길이가 너무 깁니다."},
    {71056, "from msg serial size is too long", "시작 메시지 일련번호의 길이가 너무 깁니다."},
    {71057, "to msg serial size is too long", "끝 메시지 일련번호의 길이가 너무 깁니다."},
    {71058, "last recv size is too long", "마지막 수신 번호의 길이가 너무 깁니다."},
    {71059, "last sent size is too long", "마지막 송신 번호의 길이가 너무 깁니다."},
    {71060, "input argument is not valid", "입력 인자가 올바르지 않습니다."},
    {71061, "memory allocation failed", "메모리 할당에 실패했습니다."},
    {71062, "reserved1 size is too long", "예비 필드 1의 길이가 너무 깁니다."},
    {71063, "reserved2 size is too long", "예비 필드 2의 길이가 너무 깁니다."},
    {71064, "reserved3 size is too long", "예비 필드 3의 길이가 너무 깁니다."},
    {71065, "last login size is too long", "마지막 로그인 시각의 길이가 너무 깁니다."},
    {71066, "kmb user id size is too long", "키 관리 사용자 ID의 길이가 너무 깁니다."},
    {71067, "cert status comment size is too long", "인증서 상태 설명의 길이가 너무 깁니다."},
    {71068, "acc flag size is too long", "계정 구분의 길이가 너무 깁니다."},
    {71072, "org size is too long", "소속 기관의 길이가 너무 깁니다."},
    {71073, "orgid size is too long", "소속 기관 ID의 길이가 너무 깁니다."},
    {71074, "cert size is too long", "인증서의 길이가 너무 깁니다."},
    {71075, "secret size is too long", "비밀 정보의 길이가 너무 깁니다."},
    {71076, "random size is too long", "난수의 길이가 너무 깁니다."},
    {71100, "invalid opcode", "잘못된 오퍼레이션 코드입니다."},
    {71101, "invalid service code", "잘못된 서비스 코드입니다."},
    {71102, "invalid date format", "잘못된 날짜 형식입니다."},
    {71103, "invalid header format", "잘못된 헤더 형식입니다."},
    {71106, "check input msg", "입력 메시지를 확인하십시오."},
    {71107, "invalid reg type value", "잘못된 등록 유형 값입니다."},
    {71108, "invalid ref no value", "잘못된 조회 구분 값입니다."},
    {71109, "invalid loop count", "레코드 개수가 맞지 않습니다."},
    {71110, "invalid field name", "잘못된 필드 이름입니다."},
    {71111, "invalid res code", "잘못된 결과 코드입니다."},
    {71112, "position size is too long", "직위의 길이가 너무 깁니다."},
    {71113, "alien_number size is too long", "외국인 등록번호의 길이가 너무 깁니다."},
    {71114, "ext1 size is too long", "확장 필드 1의 길이가 너무 깁니다."},
    {71115, "ext2 size is too long", "확장 필드 2의 길이가 너무 깁니다."},
    {71116, "ext3 size is too long", "확장 필드 3의 길이가 너무 깁니다."},
    {71117, "ext4 size is too long", "확장 필드 4의 길이가 너무 깁니다."},
    {71118, "ext5 size is too long", "확장 필드 5의 길이가 너무 깁니다."},
};

}  // namespace

extern "C" {

QRT_API const char *QRT_RAS_GetVersion(void) { return kVersion; }
QRT_API const char *QRT_GetVersionRAS(void) { return kVersion; }

QRT_API int QRT_RAS_CheckVersion(const char *required) {
    return ostrel::check_version(kVersion, required, {{QRT_IO_GetVersion, "1.5.1.0"}});
}

QRT_API const char *QRT_RAS_GetErrorReason(int code, int locale) {
    const char *r = ostrel::find_paired_reason(kReasons, code, locale);
    return r ? r : kUndefined;
}
QRT_API const char *QRT_GetErrReasonRAS(int code, int locale) { return QRT_RAS_GetErrorReason(code, locale); }

}  // extern "C"
