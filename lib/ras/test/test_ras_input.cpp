// The code tables, field encoding, input checks on Korean (EUC-KR) text, status words and the
// library frame.
#include <gtest/gtest.h>
#include <iconv.h>

#include <algorithm>
#include <cstring>

#include <string>

#include "suite_ras.h"

namespace {

// EUC-KR bytes of UTF-8 text, the encoding the peers use for Korean names.
std::string euckr(const std::string &utf8) {
    iconv_t cd = iconv_open("EUC-KR", "UTF-8");
    EXPECT_NE(cd, (iconv_t)-1);
    std::string out(utf8.size() * 2 + 1, '\0');
    char *in = const_cast<char *>(utf8.data());
    size_t inleft = utf8.size();
    char *o = out.data();
    size_t outleft = out.size();
    EXPECT_NE(iconv(cd, &in, &inleft, &o, &outleft), (size_t)-1);
    iconv_close(cd);
    out.resize(out.size() - outleft);
    return out;
}

}  // namespace

TEST(RasCodes, ServiceOperationAndWebCodes) {
    const struct {
        int opcode, request, reply, web;
        bool legacy;
    } rows[] = {
        {142, 20, 21, 10, true},  {153, 22, 23, -1, false}, {159, 25, 26, 90, true},   {150, 28, 29, 100, true},
        {149, 30, 31, 80, true},  {143, 40, 41, 20, true},  {144, 50, 51, 30, true},   {145, 52, 53, 40, true},
        {146, 60, 61, 50, true},  {147, 70, 71, 60, true},  {148, 80, 81, 70, true},   {152, 82, 83, -1, true},
        {151, 90, 91, -1, true},  {204, 92, 93, 101, false}, {225, 94, 95, 102, false}, {226, 96, 97, 103, false},
        {221, 98, 99, -1, true},
    };
    for (const auto &r : rows) {
        EXPECT_EQ(QRT_RAS_GetOpCode(r.request), r.opcode);
        EXPECT_EQ(QRT_RAS_GetOpCode(r.reply), r.opcode);
        EXPECT_EQ(QRT_RAS_GetReqFlag(r.request), 1);
        EXPECT_EQ(QRT_RAS_GetReqFlag(r.reply), 0);
        EXPECT_EQ(QRT_RAS_GetYvSvcCode(r.request), r.web);
        EXPECT_EQ(QRT_RAS_GetYvSvcCode(r.reply), r.web);
        EXPECT_EQ(QRT_RAS_GetSvcCode(r.opcode, 1), r.request);
        EXPECT_EQ(QRT_RAS_GetSvcCode(r.opcode, 0), r.reply);
        if (r.web >= 0) {
            EXPECT_EQ(QRT_RAS_GetSvcCode(r.web, 1), r.request);
            EXPECT_EQ(QRT_RAS_GetSvcCode(r.web, 0), r.reply);
        }
        EXPECT_EQ(QRT_RAS_GetReqSvcCode(r.opcode), r.legacy ? r.request : -1) << r.opcode;
        EXPECT_EQ(QRT_RAS_GetRepSvcCode(r.opcode), r.legacy ? r.reply : -1) << r.opcode;
        EXPECT_EQ(QRT_RAS_IsSvcCode(r.request), 1);
        EXPECT_EQ(QRT_RAS_IsSvcCode(r.reply), 1);
    }
    for (int code : {0, 24, 27, 32, 42, 54, 100, -1}) {
        EXPECT_EQ(QRT_RAS_GetOpCode(code), -1) << code;
        EXPECT_EQ(QRT_RAS_GetReqFlag(code), 0) << code;
        EXPECT_EQ(QRT_RAS_IsSvcCode(code), 0) << code;
    }
    EXPECT_EQ(QRT_RAS_GetSvcCode(11, 1), -1);
    EXPECT_EQ(QRT_RAS_GetDataLenSize(), 4);
}

TEST(RasFields, PutAndGetValues) {
    BIN body{0, nullptr};
    ASSERT_EQ(QRT_RAS_PutValue(&body, "corp_code", "1234", QRT_RAS_FORM_TEXT), 0);
    ASSERT_EQ(QRT_RAS_PutValue(&body, "oper_id", "", QRT_RAS_FORM_TEXT), 0);
    ASSERT_EQ(QRT_RAS_PutValue(&body, nullptr, "12345", QRT_RAS_FORM_TEXT), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(body.value), body.length), "1234$$12345$");
    EXPECT_EQ(QRT_RAS_PutValue(&body, "x", "a$b", QRT_RAS_FORM_TEXT), 71060);

    char v[8];
    int pos = 0;
    ASSERT_EQ(QRT_RAS_GetValue(v, sizeof v, "corp_code", &body, &pos, QRT_RAS_FORM_TEXT), 0);
    EXPECT_STREQ(v, "1234");
    EXPECT_EQ(pos, 5);
    ASSERT_EQ(QRT_RAS_GetValue(v, sizeof v, "oper_id", &body, &pos, QRT_RAS_FORM_TEXT), 0);
    EXPECT_STREQ(v, "");
    EXPECT_EQ(QRT_RAS_GetValue(v, sizeof v, "corp_code", &body, &pos, QRT_RAS_FORM_TEXT), 71008);
    EXPECT_EQ(pos, 6) << "a failed read does not advance";
    EXPECT_EQ(QRT_RAS_GetValue(v, 4, "message", &body, &pos, QRT_RAS_FORM_TEXT), 71035) << "caller's buffer bounds";
    EXPECT_EQ(QRT_RAS_GetValue(v, sizeof v, "rec_start", &body, &pos, QRT_RAS_FORM_TEXT_OLD), 71043);
    EXPECT_EQ(QRT_RAS_GetValue(v, sizeof v, "no_such_field", &body, &pos, QRT_RAS_FORM_TEXT), 71110);
    pos = 12;
    EXPECT_EQ(QRT_RAS_GetValue(v, sizeof v, "oper_id", &body, &pos, QRT_RAS_FORM_TEXT), 71060) << "no more values";
    QRT_BIN_Reset(&body);

    ASSERT_EQ(QRT_RAS_PutValue(&body, "code", "000", QRT_RAS_FORM_WEB), 0);
    ASSERT_EQ(QRT_RAS_PutValue(&body, "corp_code", "9", QRT_RAS_FORM_WEB), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(body.value), body.length), "code?000#corp_code?9#");
    EXPECT_EQ(QRT_RAS_PutValue(&body, "", "x", QRT_RAS_FORM_WEB), 71060);
    EXPECT_EQ(QRT_RAS_PutValue(&body, nullptr, "x", QRT_RAS_FORM_WEB), 71060);
    EXPECT_EQ(QRT_RAS_PutValue(&body, "m", "a#b", QRT_RAS_FORM_WEB), 71060);
    ASSERT_EQ(QRT_RAS_GetValue(v, sizeof v, "code", &body, nullptr, QRT_RAS_FORM_WEB), 0);
    EXPECT_STREQ(v, "0000");
    ASSERT_EQ(QRT_RAS_GetValue(v, sizeof v, "corp_code", &body, nullptr, QRT_RAS_FORM_WEB), 0);
    EXPECT_STREQ(v, "9");
    ASSERT_EQ(QRT_RAS_GetValue(v, sizeof v, "message", &body, nullptr, QRT_RAS_FORM_WEB), 0);
    EXPECT_STREQ(v, "") << "a missing field is empty";
    QRT_BIN_Reset(&body);
}

TEST(RasInput, CheckDateGroupByGroup) {
    const std::pair<const char *, int> rows[] = {
        {"20020101000000", 0},  {"20011231235959", -1}, {"19991231000000", -1}, {"20020001000000", -2},
        {"20021301000000", -2}, {"20020100000000", -3}, {"20020132000000", -3}, {"20020131240000", 0},
        {"20020131250000", -4}, {"20020131006000", 0},  {"20020131006100", -5}, {"20020131000060", 0},
        {"20020131000061", -6}, {"2002013100006", -6},  {"200x0131000000", -1}, {"2002x131000000", -2}, {"", -1},
    };
    for (auto [date, rc] : rows) EXPECT_EQ(QRT_RAS_CheckDate(date), rc) << date;
    EXPECT_EQ(QRT_RAS_CheckDate(nullptr), -1);
}

TEST(RasInput, HangulCutNeverSplitsAPair) {
    const std::string name = euckr("홍길동");  // three two-byte characters
    ASSERT_EQ(name.size(), 6u);
    for (int n = 0; n <= 7; ++n) {
        std::string t = name;
        ASSERT_EQ(QRT_RAS_HangulCut(t.data(), n), 0);
        size_t kept = std::strlen(t.c_str());
        EXPECT_EQ(kept, static_cast<size_t>(std::min(n, 6) / 2 * 2)) << n;
    }
    // Pairs are counted from the start, whatever the second byte.
    std::string mixed = "a";  // a, pair, b, pair
    mixed += euckr("가");
    mixed += 'b';
    mixed += euckr("나");
    const std::pair<int, size_t> rows[] = {{1, 1}, {2, 1}, {3, 3}, {4, 4}, {5, 4}, {6, 6}};
    for (auto [n, want] : rows) {
        std::string t = mixed;
        QRT_RAS_HangulCut(t.data(), n);
        EXPECT_EQ(std::strlen(t.c_str()), want) << n;
    }
    EXPECT_EQ(QRT_RAS_HangulCut(nullptr, 3), 71060);
    std::string t = "abc";
    EXPECT_EQ(QRT_RAS_HangulCut(t.data(), -1), 71060);
}

TEST(RasInput, RegistrationLengthsOnKoreanNames) {
    ZQ_RAS_USER_NEW_REQ req{};
    std::strcpy(req.company, euckr("한국정보인증주식회사").c_str());  // 20 bytes
    std::strcpy(req.user_name, euckr("홍길동").c_str());               // 6 bytes: counts as 9
    std::strcpy(req.euser_name, "Hong Gildong");                      // 12
    std::strcpy(req.user_id, std::string(43, 'u').c_str());           // 9 + 12 + 43 = 64
    EXPECT_EQ(QRT_RAS_ChkInputLen(&req), 0);
    EXPECT_EQ(QRT_RAS_Check_InputLnegth(&req), 0);
    req.user_id[43] = 'u';  // 65
    EXPECT_EQ(QRT_RAS_ChkInputLen(&req), 71106);
    EXPECT_EQ(QRT_RAS_Check_InputLnegth(&req), 71106);
    std::strcpy(req.company, euckr("가나다라마바사아자차카타파하가나다").c_str());  // 34 bytes
    EXPECT_EQ(QRT_RAS_ChkInputLen(&req), 71014);

    // Cutting: the company to 32 bytes, the name to (62 - 12 - 10) * 2 / 3 = 26 bytes.
    std::string company = "x";
    company += euckr("가나다라마바사아자차카타파하가나다");  // 35 bytes
    std::strcpy(req.company, company.c_str());
    std::strcpy(req.user_name, euckr("가나다라마바사아자차카타파하가").c_str());             // 30 bytes
    std::strcpy(req.user_id, "uuuuuuuuuu");
    ASSERT_EQ(QRT_RAS_Check_InputLnegthHangulCut(&req), 0);
    EXPECT_EQ(std::strlen(req.company), 31u) << "the pair across byte 32 goes whole";
    EXPECT_EQ(std::string(req.user_name), euckr("가나다라마바사아자차카타파"));
    EXPECT_EQ(QRT_RAS_ChkInputLen(&req), 0);
    // Nothing to cut: unchanged.
    ZQ_RAS_USER_NEW_REQ copy = req;
    ASSERT_EQ(QRT_RAS_Check_InputLnegthHangulCut(&req), 0);
    EXPECT_EQ(std::memcmp(&copy, &req, sizeof req), 0);
    // English name and user id leave no room for the Korean name.
    std::strcpy(req.euser_name, std::string(31, 'e').c_str());
    std::strcpy(req.user_id, std::string(31, 'u').c_str());
    EXPECT_EQ(QRT_RAS_Check_InputLnegthHangulCut(&req), 71106);
}

TEST(RasInput, CertificateStatusWords) {
    char out[32];
    const std::pair<int, const char *> rows[] = {{10, "valid"},   {15, "valid"},       {20, "valid"},
                                                 {41, "valid"},   {30, "revoked"},     {40, "suspended"},
                                                 {11, "unknown(11)"}, {-7, "unknown(-7)"}};
    for (auto [code, word] : rows) {
        ASSERT_EQ(QRT_RAS_GetCertStatusStr(code, out, sizeof out), 0);
        EXPECT_STREQ(out, word);
    }
    EXPECT_EQ(QRT_RAS_GetCertStatusStr(11, out, 5), 71060) << "never overruns the caller's buffer";
    EXPECT_STREQ(out, "");
    EXPECT_EQ(QRT_RAS_GetCertStatus("valid"), 10);
    EXPECT_EQ(QRT_RAS_GetCertStatus("revoked"), 30);
    EXPECT_EQ(QRT_RAS_GetCertStatus("revoke"), 30);
    EXPECT_EQ(QRT_RAS_GetCertStatus("suspended"), 40);
    EXPECT_EQ(QRT_RAS_GetCertStatus("valid!"), -1);
    EXPECT_EQ(QRT_RAS_GetCertStatus(nullptr), -1);
}

TEST(RasFrame, VersionAndErrorTexts) {
    EXPECT_STREQ(QRT_RAS_GetVersion(), "1.5.0.4");
    EXPECT_STREQ(QRT_GetVersionRAS(), "1.5.0.4");
    EXPECT_EQ(QRT_RAS_CheckVersion("1.5.0.4"), 0);
    EXPECT_EQ(QRT_RAS_CheckVersion(nullptr), 0);
    EXPECT_EQ(QRT_RAS_CheckVersion("1.5.0.5"), -1);
    EXPECT_STREQ(QRT_RAS_GetErrorReason(71001, 1), "msg len size is too long");
    EXPECT_STREQ(QRT_RAS_GetErrorReason(71041, 1), "cert serial size is too long");
    EXPECT_STREQ(QRT_RAS_GetErrorReason(71113, 1), "alien_number size is too long");
    EXPECT_STREQ(QRT_RAS_GetErrorReason(71118, 1), "ext5 size is too long");
    EXPECT_STREQ(QRT_GetErrReasonRAS(71101, 1), "invalid service code");
    EXPECT_EQ(std::string(QRT_RAS_GetErrorReason(71101, 0)), euckr("잘못된 서비스 코드입니다."));
    for (int code : {71002, 71010, 70000, 0})
        EXPECT_STREQ(QRT_RAS_GetErrorReason(code, 1), "UnDefined Error Reason") << code;
    EXPECT_STREQ(QRT_RAS_GetErrorReason(71001, 2), "UnDefined Error Reason");
    // Every code has both texts.
    for (int code = 71001; code <= 71118; ++code) {
        std::string en = QRT_RAS_GetErrorReason(code, 1), ko = QRT_RAS_GetErrorReason(code, 0);
        EXPECT_EQ(en == "UnDefined Error Reason", ko == "UnDefined Error Reason") << code;
    }
}
