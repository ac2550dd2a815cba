// Whole RA messages: every operation through every form it supports, the wire details peers
// depend on, and hostile or oversized input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "ostrel/test_support.hpp"
#include "ras_cases.hpp"
#include "suite_ras.h"

using namespace ras_test;

namespace {

const char *kStamp = "20240102030405";

std::string str(const BIN &b) { return std::string(reinterpret_cast<const char *>(b.value), b.length); }
BIN bin_of(const std::string &s) {
    return BIN{static_cast<unsigned int>(s.size()), reinterpret_cast<unsigned char *>(const_cast<char *>(s.data()))};
}
BIN bin_of(const std::string &&) = delete;  // the BIN would outlive the text

ZQ_RAS_MsgHeader header(int code, int records) {
    ZQ_RAS_MsgHeader h{};
    h.serviceCode = code;
    h.recordNum = records;
    std::strcpy(h.msgDateTime, kStamp);
    return h;
}

// Values large enough to overflow a four-digit record length are kept for the CAS binary form.
size_t capped(const Fld &f, int form) {
    size_t n = max_len(f, form);
    if (f.name == "value") return 9000;
    return std::min<size_t>(n, 1500);
}

// Encodes `records` structures (a list when there are several) and decodes them back.
void round_trip(const Case &c, bool request, int form, std::vector<Buf> &records) {
    const Side &s = request ? c.req : c.rep;
    link(s, records);
    const int code = request ? c.request : c.reply;
    ZQ_RAS_MsgHeader h = header(code, static_cast<int>(records.size()));
    BIN wire{0, nullptr};
    ASSERT_EQ(QRT_RAS_EncodeMsg(&wire, records[0].get(), &h, form), 0) << c.name << " form " << form;
    void *out = nullptr;
    ZQ_RAS_MsgHeader got{};
    ASSERT_EQ(QRT_RAS_DecodeMsg(&out, &got, &wire, request ? 1 : 0, form), 0) << c.name << " form " << form;
    EXPECT_EQ(got.serviceCode, code);
    EXPECT_EQ(got.opCode, c.opcode);
    EXPECT_EQ(got.recordNum, static_cast<int>(records.size()));
    EXPECT_STREQ(got.msgDateTime, form == QRT_RAS_FORM_WEB ? "" : kStamp);
    void *p = out;
    for (size_t i = 0; i < records.size(); ++i) {
        ASSERT_NE(p, nullptr) << c.name << ": list ends after " << i;
        expect_same(c, request, form, records[i].bytes.data(), static_cast<char *>(p), static_cast<int>(i));
        p = s.next >= 0 ? next_of(s, p) : nullptr;
    }
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(QRT_RAS_FreeMsgStr(out, code), 0);
    QRT_BIN_Reset(&wire);
}

std::vector<int> forms_of(const Case &c) {
    if (c.web) return {0, 1, 2};
    return {0, 1};
}

}  // namespace

TEST(RasMessage, EveryOperationRoundTripsWithLongestValues) {
    for (const Case &c : cases()) {
        for (int form : forms_of(c)) {
            for (bool request : {true, false}) {
                const Side &s = request ? c.req : c.rep;
                // Lists get three records; the certificate-view request tries each key choice.
                std::vector<std::string> variants = {""};
                if (request && c.opcode == 144) variants = {"1", "2", "3", "4"};
                if (!request && s.fields[0].name == "code") variants = {"0000", "9999"};
                for (const std::string &v : variants) {
                    std::vector<Buf> records;
                    size_t n = s.next >= 0 ? 3 : 1;
                    for (size_t i = 0; i < n; ++i) {
                        records.emplace_back(s.size);
                        fill(records.back(), s, static_cast<int>(i), [&](const Fld &f) { return capped(f, form); });
                        if (!v.empty()) std::strcpy(records.back().at(s.fields[request ? 3 : 0]), v.c_str());
                    }
                    round_trip(c, request, form, records);
                }
            }
        }
    }
}

TEST(RasMessage, EveryOperationRoundTripsWithEmptyValues) {
    for (const Case &c : cases()) {
        for (int form : forms_of(c)) {
            for (bool request : {true, false}) {
                const Side &s = request ? c.req : c.rep;
                std::vector<Buf> records;
                records.emplace_back(s.size);
                if (s.next >= 0) records.emplace_back(s.size);
                round_trip(c, request, form, records);
            }
        }
    }
}

TEST(RasMessage, LengthFieldCountsItsOwnDigitsOnlyForRequests) {
    ZQ_RAS_SYS_STAT_REQ req{};
    std::strcpy(req.corp_code, "1234");
    ZQ_RAS_MsgHeader h = header(80, 1);
    BIN wire{0, nullptr};
    ASSERT_EQ(QRT_RAS_EncodeMsg(&wire, &req, &h, QRT_RAS_FORM_TEXT), 0);
    EXPECT_EQ(str(wire), std::string("0033") + "80" + kStamp + "0001" + "0005" + "1234$");
    QRT_BIN_Reset(&wire);

    ZQ_RAS_SYS_STAT_REP rep{};
    std::strcpy(rep.code, "0000");
    std::strcpy(rep.message, "ok");
    std::strcpy(rep.corp_code, "1234");
    h = header(81, 1);
    ASSERT_EQ(QRT_RAS_EncodeMsg(&wire, &rep, &h, QRT_RAS_FORM_TEXT), 0);
    EXPECT_EQ(str(wire), std::string("0037") + "81" + kStamp + "0001" + "0013" + "0000$ok$1234$");
    QRT_BIN_Reset(&wire);

    ASSERT_EQ(QRT_RAS_EncodeMsg(&wire, &rep, &h, QRT_RAS_FORM_WEB), 0);
    EXPECT_EQ(str(wire), "007001" "0036" "code?0000#message?ok#corp_code?1234#");
    QRT_BIN_Reset(&wire);

    // The older builders stamp the local time and take the codes of an opcode.
    ASSERT_EQ(QRT_RAS_GenReqMsgHeader(&wire, 148, 1, 9), 0);
    ASSERT_EQ(wire.length, 24u);
    EXPECT_EQ(str(wire).substr(0, 6), "003380");
    EXPECT_EQ(QRT_RAS_CheckDate(str(wire).substr(6, 14).c_str()), 0);
    ZQ_RAS_MsgHeader back{};
    EXPECT_EQ(QRT_RAS_AnalHeader(&back, &wire), 24);
    EXPECT_EQ(back.opCode, 148);
    QRT_BIN_Reset(&wire);
    ASSERT_EQ(QRT_RAS_GenRepMsgHeader(&wire, 148, 1, 9), 0);
    EXPECT_EQ(str(wire).substr(0, 6), "002981");
    QRT_BIN_Reset(&wire);
    EXPECT_EQ(QRT_RAS_GenReqMsgHeader(&wire, 226, 1, 9), 71100) << "the older builders know fewer opcodes";
}

TEST(RasMessage, RegistrationTextFormCarriesBothNamesInOneField) {
    ZQ_RAS_USER_NEW_REQ req{};
    std::strcpy(req.user_name, "Hong");
    std::strcpy(req.euser_name, "Gil Dong");
    std::strcpy(req.signature, "never sent");
    std::strcpy(req.cert_type, "WEB");
    BIN body{0, nullptr};
    ASSERT_EQ(QRT_RAS_GenOneReqMsg(&body, &req, 142, QRT_RAS_FORM_TEXT), 0);
    EXPECT_EQ(str(body), "$$$$$$Hong(Gil Dong)$$$$$$$$$$$$$");
    QRT_BIN_Reset(&body);
    ASSERT_EQ(QRT_RAS_GenOneReqMsg(&body, &req, 142, QRT_RAS_FORM_WEB), 0);
    std::string web = str(body);
    EXPECT_NE(web.find("#user_name?Hong#euser_name?Gil Dong#"), std::string::npos);
    EXPECT_NE(web.find("#cert_type?WEB#"), std::string::npos);
    EXPECT_EQ(web.find("signature"), std::string::npos);
    QRT_BIN_Reset(&body);

    // An empty English name still leaves the parentheses; a peer without them is read whole.
    req.euser_name[0] = '\0';
    ASSERT_EQ(QRT_RAS_GenOneReqMsg(&body, &req, 142, QRT_RAS_FORM_TEXT_OLD), 0);
    EXPECT_NE(str(body).find("$Hong()$"), std::string::npos);
    QRT_BIN_Reset(&body);
    std::string text = "$$$$$$Kim (Jr.)(Kim Jr)$$$$$$$$$$$$$";
    BIN peer = bin_of(text);
    void *out = nullptr;
    ASSERT_EQ(QRT_RAS_AnalOneReq(&out, &peer, 142, QRT_RAS_FORM_TEXT), 0);
    auto *r = static_cast<ZQ_RAS_USER_NEW_REQ *>(out);
    EXPECT_STREQ(r->user_name, "Kim (Jr.)");
    EXPECT_STREQ(r->euser_name, "Kim Jr");
    QRT_RAS_FreeMsgStr(out, 20);
    text = "$$$$$$Kim$$$$$$$$$$$$$";
    peer = bin_of(text);
    ASSERT_EQ(QRT_RAS_AnalOneReq(&out, &peer, 142, QRT_RAS_FORM_TEXT), 0);
    EXPECT_STREQ(static_cast<ZQ_RAS_USER_NEW_REQ *>(out)->user_name, "Kim");
    QRT_RAS_FreeMsgStr(out, 20);
}

TEST(RasMessage, CertificateViewKeyFieldFollowsRefNo) {
    ZQ_RAS_CERT_VIEW_REQ req{};
    std::strcpy(req.corp_code, "C");
    std::strcpy(req.oper_id, "O");
    std::strcpy(req.policy_type, "P");
    std::strcpy(req.cert_serial, "S");
    std::strcpy(req.user_id, "U");
    std::strcpy(req.ssn, "N");
    std::strcpy(req.rec_start, "1");
    std::strcpy(req.rec_no, "9");
    const std::pair<const char *, const char *> rows[] = {
        {"1", "C$O$P$1$S$1$9$"}, {"2", "C$O$P$2$U$1$9$"}, {"3", "C$O$P$3$N$1$9$"}, {"4", "C$O$P$4$1$9$"}};
    for (auto [ref, want] : rows) {
        std::strcpy(req.ref_no, ref);
        BIN body{0, nullptr};
        ASSERT_EQ(QRT_RAS_GenOneReqMsg(&body, &req, 144, QRT_RAS_FORM_TEXT), 0);
        EXPECT_EQ(str(body), want) << "ref_no " << ref;
        QRT_BIN_Reset(&body);
    }
    // The older text form leaves policy_type out.
    BIN body{0, nullptr};
    ASSERT_EQ(QRT_RAS_GenOneReqMsg(&body, &req, 144, QRT_RAS_FORM_TEXT_OLD), 0);
    EXPECT_EQ(str(body), "C$O$4$1$9$");
    QRT_BIN_Reset(&body);
}

TEST(RasMessage, WebFormReadsFieldsAnywhereAndShortCode) {
    // Fields in any order, "000" as success, a missing field empty, names matched whole.
    std::string body = "corp_code?ABCD#message?fine#code?000#";
    std::string wire = "007001" + std::string("0037") + body;
    BIN in = bin_of(wire);
    void *out = nullptr;
    ZQ_RAS_MsgHeader h{};
    ASSERT_EQ(QRT_RAS_DecodeMsg(&out, &h, &in, 0, QRT_RAS_FORM_WEB), 0);
    auto *rep = static_cast<ZQ_RAS_SYS_STAT_REP *>(out);
    EXPECT_EQ(h.serviceCode, 81);
    EXPECT_STREQ(rep->code, "0000");
    EXPECT_STREQ(rep->message, "fine");
    EXPECT_STREQ(rep->corp_code, "ABCD");
    QRT_RAS_FreeMsgStr(out, 81);

    // corp_code must not be taken for code, nor a value that merely contains "code?".
    body = "message?x code?9#corp_code?1234#";
    wire = "007001" + std::string("0032") + body;
    in = bin_of(wire);
    ASSERT_EQ(QRT_RAS_DecodeMsg(&out, &h, &in, 0, QRT_RAS_FORM_WEB), 0);
    rep = static_cast<ZQ_RAS_SYS_STAT_REP *>(out);
    EXPECT_STREQ(rep->code, "");
    EXPECT_STREQ(rep->message, "x code?9");
    QRT_RAS_FreeMsgStr(out, 81);

    // The same web code serves both directions: the caller says which it expects.
    wire = "007001" "0015corp_code?1234#";
    in = bin_of(wire);
    ASSERT_EQ(QRT_RAS_DecodeMsg(&out, &h, &in, 1, QRT_RAS_FORM_WEB), 0);
    EXPECT_EQ(h.serviceCode, 80);
    EXPECT_STREQ(static_cast<ZQ_RAS_SYS_STAT_REQ *>(out)->corp_code, "1234");
    QRT_RAS_FreeMsgStr(out, 80);
}

TEST(RasMessage, OperationsWithoutWebCodeCannotBeFramedOnTheWeb) {
    Buf any(sizeof(ZQ_RAS_USER_NEW_BULK_REQ));
    for (int code : {22, 23, 82, 83, 90, 91, 98, 99}) {
        ZQ_RAS_MsgHeader h = header(code, 1);
        BIN out{0, nullptr};
        EXPECT_EQ(QRT_RAS_EncodeMsg(&out, any.get(), &h, QRT_RAS_FORM_WEB), 71101) << code;
        EXPECT_EQ(out.value, nullptr);
        EXPECT_EQ(QRT_RAS_GenMsgHeader(&out, &h, 0, QRT_RAS_FORM_WEB), 71101) << code;
    }
    ZQ_RAS_MsgHeader h = header(24, 1);
    BIN out{0, nullptr};
    EXPECT_EQ(QRT_RAS_EncodeMsg(&out, any.get(), &h, QRT_RAS_FORM_TEXT), 71101) << "24 is no service code";
}

TEST(RasMessage, HeaderChecksOnDecoding) {
    ZQ_RAS_SYS_STAT_REQ req{};
    std::strcpy(req.corp_code, "1234");
    auto wire_at = [&](const char *stamp) {
        return std::string("0033") + "80" + stamp + "0001" + "0005" + "1234$";
    };
    const struct {
        std::string wire;
        int nMsgType;
        int rc;
    } rows[] = {
        {wire_at("20020101000000"), 1, 0},
        {wire_at("20010101000000"), 1, 71102},  // 2001 and before are refused
        {wire_at("20021301000000"), 1, 71102},
        {wire_at("20020100000000"), 1, 71102},
        {wire_at("20020132000000"), 1, 71102},
        {wire_at("20020101246060"), 1, 0},      // hour 24, minute and second 60 pass
        {wire_at("20020101250000"), 1, 71102},
        {wire_at("20020101006100"), 1, 71102},
        {wire_at("20020101000061"), 1, 71102},
        {wire_at("2002010100000x"), 1, 71103},
        {wire_at("20020101000000"), 0, 71101},  // a request where a reply was expected
        {"003 80" + std::string(kStamp) + "00010005" + "1234$", 1, 71103},
        {"0033" "80" + std::string(kStamp) + "00010009" + "1234$", 1, 71060},  // record runs past the end
        {"0033" "80" + std::string(kStamp) + "0001000x" + "1234$", 1, 71103},
        {"0033" "80" + std::string(kStamp) + "0001" + "0004" + "1234", 1, 71060},  // no "$"
        {"0033" "80" + std::string(kStamp) + "000", 1, 71103},
        {"0033" "80" + std::string(kStamp) + "0001" + "00", 1, 71060},
        {"0033" "80" + std::string(kStamp) + "0001", 1, 71109},
        {"0033" "77" + std::string(kStamp) + "0001" + "0005" + "1234$", 1, 71101},
    };
    for (const auto &row : rows) {
        BIN in = bin_of(row.wire);
        void *out = reinterpret_cast<void *>(1);
        ZQ_RAS_MsgHeader h{};
        EXPECT_EQ(QRT_RAS_DecodeMsg(&out, &h, &in, row.nMsgType, QRT_RAS_FORM_TEXT), row.rc) << row.wire;
        if (row.rc) {
            EXPECT_EQ(out, nullptr) << row.wire;
        }
        QRT_RAS_FreeMsgStr(out, 80);
    }
    std::string text = "00x001";
    BIN web = bin_of(text);
    void *out = nullptr;
    ZQ_RAS_MsgHeader h{};
    EXPECT_EQ(QRT_RAS_DecodeMsg(&out, &h, &web, 1, QRT_RAS_FORM_WEB), 71103);
    text = "014201" "0000";
    web = bin_of(text);
    EXPECT_EQ(QRT_RAS_DecodeMsg(&out, &h, &web, 1, QRT_RAS_FORM_WEB), 71101) << "an opcode is no web code";
}

TEST(RasMessage, RecordCountMustMatchTheHeader) {
    ZQ_RAS_CERT_VIEW_REP a{}, b{};
    a.next = &b;
    ZQ_RAS_MsgHeader h = header(51, 3);
    BIN out{0, nullptr};
    EXPECT_EQ(QRT_RAS_EncodeMsg(&out, &a, &h, QRT_RAS_FORM_TEXT), 71109);
    h.recordNum = 1;
    EXPECT_EQ(QRT_RAS_EncodeMsg(&out, &a, &h, QRT_RAS_FORM_TEXT), 71109);
    b.next = &a;  // a cycle ends at the header's count
    h.recordNum = 5;
    EXPECT_EQ(QRT_RAS_EncodeMsg(&out, &a, &h, QRT_RAS_FORM_TEXT), 71109);
    b.next = nullptr;
    h.recordNum = 2;
    ASSERT_EQ(QRT_RAS_EncodeMsg(&out, &a, &h, QRT_RAS_FORM_TEXT), 0);
    int records = 0;
    BIN recs{0, nullptr};
    ASSERT_EQ(QRT_RAS_GenRepMsg(&recs, &a, 144, QRT_RAS_FORM_TEXT, &records), 0);
    EXPECT_EQ(records, 2);
    EXPECT_EQ(str(out).substr(24), str(recs));

    // The reply list is released whole when a later record fails.
    std::string bad = str(out).substr(0, 20) + "0003" + str(recs) + "0002x$";
    BIN in = bin_of(bad);
    void *msg = nullptr;
    ZQ_RAS_MsgHeader got{};
    EXPECT_EQ(QRT_RAS_DecodeMsg(&msg, &got, &in, 0, QRT_RAS_FORM_TEXT), 71060);
    EXPECT_EQ(msg, nullptr);
    QRT_BIN_Reset(&out);
    // A single reply says one record.
    ZQ_RAS_SYS_STAT_REP one{};
    h = header(81, 2);
    EXPECT_EQ(QRT_RAS_EncodeMsg(&out, &one, &h, QRT_RAS_FORM_TEXT), 71109);
    QRT_BIN_Reset(&recs);
}

TEST(RasMessage, ValuesNeverOverrunTheirFields) {
    // A web-form user_id may hold 100 characters, but this reply keeps 24.
    std::string body = "code?0000#user_id?" + std::string(30, 'u') + "#";
    BIN in = bin_of(body);
    void *out = nullptr;
    EXPECT_EQ(QRT_RAS_AnalOneRep(&out, &in, 143, QRT_RAS_FORM_WEB), 71018);
    EXPECT_EQ(out, nullptr);
    body = "code?0000#user_id?" + std::string(24, 'u') + "#";
    in = bin_of(body);
    ASSERT_EQ(QRT_RAS_AnalOneRep(&out, &in, 143, QRT_RAS_FORM_WEB), 0);
    EXPECT_EQ(std::string(static_cast<ZQ_RAS_CERT_MAN_REP *>(out)->user_id), std::string(24, 'u'));
    QRT_RAS_FreeMsgStr(out, 41);

    // The text forms' limits, and the registration name split back into its fields.
    const struct {
        int op;
        bool req;
        std::string body;
        int rc;
    } rows[] = {
        {148, true, "12345$", 71008},
        {148, true, "1234$", 0},
        {148, true, std::string("12\0""4$", 5), 71060},  // a zero byte would cut the value
        {151, true, "$$" + std::string(21, 'u') + "$$$$$", 71018},  // user_id[21] despite the limit of 24
        {143, true, "$$$" + std::string(13, 's') + "$$", 71041},     // cert_serial is 12 in text
        {142, true, "$$$$$$" + std::string(101, 'k') + "()$", 71015},
        {142, true, "$$$$$$k(" + std::string(101, 'e') + ")$", 71016},
        {142, true, "$$$$$$" + std::string(100, 'k') + "(" + std::string(100, 'e') + ")$$$$$$$$$$$$$$", 0},
        {142, true, "$$$$$$" + std::string(100, 'k') + "((" + std::string(100, 'e') + "))$", 71015},
    };
    for (const auto &row : rows) {
        BIN b = bin_of(row.body);
        void *m = nullptr;
        int rc = row.req ? QRT_RAS_AnalOneReq(&m, &b, row.op, QRT_RAS_FORM_TEXT)
                         : QRT_RAS_AnalOneRep(&m, &b, row.op, QRT_RAS_FORM_TEXT);
        EXPECT_EQ(rc, row.rc) << row.op << " " << row.body.substr(0, 40);
        QRT_RAS_FreeMsgStr(m, QRT_RAS_GetReqSvcCode(row.op));
    }

    // On encoding, a field filled to its last byte without a terminator is too long.
    ZQ_RAS_FORCED_REVOKE_REQ fr{};
    std::memset(fr.user_id, 'x', sizeof fr.user_id);
    BIN enc{0, nullptr};
    EXPECT_EQ(QRT_RAS_GenOneReqMsg(&enc, &fr, 152, QRT_RAS_FORM_TEXT), 71018);
    EXPECT_EQ(enc.value, nullptr);
    ZQ_RAS_USER_NEW_REQ un{};
    std::memset(un.euser_name, 'e', sizeof un.euser_name);
    EXPECT_EQ(QRT_RAS_GenOneReqMsg(&enc, &un, 142, QRT_RAS_FORM_TEXT), 71016);
}

TEST(RasMessage, SeparatorsInsideValuesAreRefused) {
    ZQ_RAS_SYS_STAT_REQ req{};
    std::strcpy(req.corp_code, "1$3");
    ZQ_RAS_MsgHeader h = header(80, 1);
    BIN out{0, nullptr};
    EXPECT_EQ(QRT_RAS_EncodeMsg(&out, &req, &h, QRT_RAS_FORM_TEXT), 71060);
    ASSERT_EQ(QRT_RAS_EncodeMsg(&out, &req, &h, QRT_RAS_FORM_WEB), 0) << "\"$\" is plain text on the web";
    QRT_BIN_Reset(&out);
    std::strcpy(req.corp_code, "1#3");
    EXPECT_EQ(QRT_RAS_EncodeMsg(&out, &req, &h, QRT_RAS_FORM_WEB), 71060);
    ASSERT_EQ(QRT_RAS_EncodeMsg(&out, &req, &h, QRT_RAS_FORM_TEXT), 0);
    QRT_BIN_Reset(&out);
}

TEST(RasMessage, OversizedMessagesAreRefusedNotMisframed) {
    // Four digits cannot state a record or message above 9999 bytes.
    Buf bulk(sizeof(ZQ_RAS_USER_NEW_BULK_REQ));
    auto *b = static_cast<ZQ_RAS_USER_NEW_BULK_REQ *>(bulk.get());
    std::memset(b->value, 'v', 1000000);
    ZQ_RAS_MsgHeader h = header(22, 1);
    BIN out{0, nullptr};
    EXPECT_EQ(QRT_RAS_EncodeMsg(&out, b, &h, QRT_RAS_FORM_TEXT), 71004);
    b->value[9980] = '\0';
    EXPECT_EQ(QRT_RAS_EncodeMsg(&out, b, &h, QRT_RAS_FORM_TEXT), 71001) << "record fits, message does not";
    b->value[9000] = '\0';
    ASSERT_EQ(QRT_RAS_EncodeMsg(&out, b, &h, QRT_RAS_FORM_TEXT), 0);
    QRT_BIN_Reset(&out);

    ZQ_RAS_SECRET_DOWN_REP down{};
    std::memset(down.sgcert, 'c', 4096);
    std::memset(down.kmcert, 'c', 4096);
    std::memset(down.sgsecret, 's', 4096);
    h = header(97, 1);
    EXPECT_EQ(QRT_RAS_EncodeMsg(&out, &down, &h, QRT_RAS_FORM_WEB), 71004);
    h = header(80, 10000);
    EXPECT_EQ(QRT_RAS_GenMsgHeader(&out, &h, 0, QRT_RAS_FORM_TEXT), 71003);
    h = header(80, 100);
    EXPECT_EQ(QRT_RAS_GenMsgHeader(&out, &h, 0, QRT_RAS_FORM_WEB), 71003);
    h = header(80, 1);
    h.msgDateTime[13] = '\0';
    EXPECT_EQ(QRT_RAS_GenMsgHeader(&out, &h, 0, QRT_RAS_FORM_TEXT), 71102);
}

TEST(RasMessage, FreeMsgStrKnowsEveryServiceCode) {
    // Key download replies (97) and the 204/225 variants are released like the others.
    for (int code : {92, 95, 97, 20, 51, 61}) {
        const ras_test::Case *c = nullptr;
        for (const auto &k : cases())
            if (k.request == code || k.reply == code) c = &k;
        ASSERT_NE(c, nullptr);
        void *m = QRT_calloc(1, c->request == code ? c->req.size : c->rep.size);
        EXPECT_EQ(QRT_RAS_IsSvcCode(code), 1) << code;
        EXPECT_EQ(QRT_RAS_FreeMsgStr(m, code), 0) << code;
    }
    EXPECT_EQ(QRT_RAS_FreeMsgStr(nullptr, 81), 0);
    EXPECT_EQ(QRT_RAS_FreeMsgStr(nullptr, 24), 71101);
}

TEST(RasMessage, FailuresLeaveTraceRecords) {
    QRT_Trace_Initialize();
    std::string text = std::string("0033") + "80" + "20010101000000" + "0001" + "0005" + "1234$";
    BIN in = bin_of(text);
    void *out = nullptr;
    ZQ_RAS_MsgHeader h{};
    EXPECT_EQ(QRT_RAS_DecodeMsg(&out, &h, &in, 1, QRT_RAS_FORM_TEXT), 71102);
    auto recs = ostrel::test::trace_records();
    ASSERT_EQ(recs.size(), 1u);
    EXPECT_EQ(ostrel::test::trace_field(recs[0], 2), "QRT_RAS_DecodeMsg");
    EXPECT_EQ(ostrel::test::trace_field(recs[0], 3), "71102");
    EXPECT_EQ(ostrel::test::trace_field(recs[0], 4), "invalid date format");
    QRT_Trace_Finalize();
}
