// CA service messages: every operation in the binary, text and web forms, the integrity value
// of registration requests (checked against OpenSSL's SHA-1), signatures from a callback, and
// the headers.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "../../ras/test/ras_cases.hpp"
#include "ostrel/test_support.hpp"
#include "suite_cas.h"

using namespace ras_test;

namespace {

const char *kStamp = "20240102030405";

std::string str(const BIN &b) { return std::string(reinterpret_cast<const char *>(b.value), b.length); }
BIN bin_of(const std::string &s) {
    return BIN{static_cast<unsigned int>(s.size()), reinterpret_cast<unsigned char *>(const_cast<char *>(s.data()))};
}
BIN bin_of(const std::string &&) = delete;

std::string sha1_hex(const std::string &data) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_Digest(data.data(), data.size(), md, &n, EVP_sha1(), nullptr);
    return ostrel::test::to_hex(md, n);
}

ZQ_CAS_MsgHeader header(int code, int records) {
    ZQ_CAS_MsgHeader h{};
    h.serviceCode = code;
    h.recordNum = records;
    std::strcpy(h.msgDateTime, kStamp);
    return h;
}

// The binary form has no four-digit limits: values may reach their full width there.
size_t longest(const Fld &f, int form) {
    size_t n = max_len(f, form);
    if (form == QRT_CAS_FORM_BINARY) return n;
    return f.name == "value" ? 9000 : std::min<size_t>(n, 1500);
}

void round_trip(const Case &c, bool request, int form, std::vector<Buf> &records) {
    const Side &s = request ? c.req : c.rep;
    link(s, records);
    const int code = request ? c.request : c.reply;
    ZQ_CAS_MsgHeader h = header(code, static_cast<int>(records.size()));
    BIN wire{0, nullptr};
    ASSERT_EQ(QRT_CAS_EncodeMsg(&wire, records[0].get(), &h, form, nullptr), 0) << c.name << " form " << form;
    void *out = nullptr;
    ZQ_CAS_MsgHeader got{};
    ASSERT_EQ(QRT_CAS_DecodeMsg(&out, &got, &wire, request ? 1 : 0, form), 0) << c.name << " form " << form;
    EXPECT_EQ(got.serviceCode, code);
    EXPECT_EQ(got.opCode, c.opcode);
    EXPECT_EQ(got.recordNum, static_cast<int>(records.size()));
    EXPECT_STREQ(got.msgDateTime, form == QRT_CAS_FORM_TEXT ? kStamp : "");
    // The binary form carries the fields of the older text variant.
    const int fields_form = form == QRT_CAS_FORM_BINARY ? QRT_RAS_FORM_TEXT_OLD : form;
    void *p = out;
    for (size_t i = 0; i < records.size(); ++i, p = s.next >= 0 ? next_of(s, p) : nullptr) {
        ASSERT_NE(p, nullptr);
        expect_same(c, request, fields_form, records[i].bytes.data(), static_cast<char *>(p), static_cast<int>(i));
    }
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(QRT_CAS_FreeMsgStr(out, code), 0);
    QRT_BIN_Reset(&wire);
}

std::vector<unsigned char> g_signature;
BIN g_signed_input{0, nullptr};
int g_hash_alg = -1, g_reserved = -1;

int sign_cb(BIN *sig, const BIN *in, int hashAlg, int reserved) {
    g_hash_alg = hashAlg;
    g_reserved = reserved;
    QRT_BIN_Reset(&g_signed_input);
    QRT_BIN_Copy(&g_signed_input, in);
    return QRT_BIN_Set(sig, g_signature.data(), static_cast<int>(g_signature.size()));
}

int failing_cb(BIN *, const BIN *, int, int) { return 5; }

ZQ_RAS_USER_NEW_REQ sample_user() {
    ZQ_RAS_USER_NEW_REQ r{};
    std::strcpy(r.corp_code, "C001");
    std::strcpy(r.oper_id, "operator");
    std::strcpy(r.reg_date, kStamp);
    std::strcpy(r.user_name, "Hong");
    std::strcpy(r.euser_name, "Gil Dong");
    std::strcpy(r.user_id, "hong");
    std::strcpy(r.ssn, "8001011234567");
    return r;
}

}  // namespace

TEST(CasMessage, EveryOperationRoundTripsInEveryForm) {
    for (const Case &c : cases()) {
        std::vector<int> forms = {QRT_CAS_FORM_BINARY, QRT_CAS_FORM_TEXT};
        if (c.web) forms.push_back(QRT_CAS_FORM_WEB);
        for (int form : forms) {
            for (bool request : {true, false}) {
                for (bool full : {true, false}) {
                    const Side &s = request ? c.req : c.rep;
                    std::vector<Buf> records;
                    for (int i = 0; i < (s.next >= 0 ? 3 : 1); ++i) {
                        records.emplace_back(s.size);
                        if (full) fill(records.back(), s, i, [&](const Fld &f) { return longest(f, form); });
                        if (full && !request && s.fields[0].name == "code") std::strcpy(records.back().at(s.fields[0]), "0000");
                        if (full && request && c.opcode == 144) std::strcpy(records.back().at(s.fields[3]), "2");
                    }
                    round_trip(c, request, form, records);
                }
            }
        }
    }
}

TEST(CasIntegrity, RegistrationDigestIsAppendedAndChecked) {
    ZQ_RAS_USER_NEW_REQ req = sample_user();
    for (int code : {20, 25, 28}) {
        int op = QRT_RAS_GetOpCode(code);
        ZQ_CAS_MsgHeader h = header(code, 1);
        BIN wire{0, nullptr};
        ASSERT_EQ(QRT_CAS_EncodeMsg(&wire, &req, &h, QRT_CAS_FORM_TEXT, nullptr), 0);
        BIN fields{0, nullptr};
        ASSERT_EQ(QRT_RAS_GenOneReqMsg(&fields, &req, op, QRT_RAS_FORM_TEXT), 0);
        const std::string body = str(fields) + sha1_hex(str(fields)) + "$";
        char len[5];
        std::snprintf(len, sizeof len, "%04zu", body.size());
        EXPECT_EQ(str(wire).substr(20), len + body) << code;
        QRT_BIN_Reset(&fields);

        void *out = nullptr;
        ZQ_CAS_MsgHeader got{};
        ASSERT_EQ(QRT_CAS_DecodeMsg(&out, &got, &wire, 1, QRT_CAS_FORM_TEXT), 0);
        EXPECT_STREQ(static_cast<ZQ_RAS_USER_NEW_REQ *>(out)->euser_name, "Gil Dong");
        EXPECT_STREQ(static_cast<ZQ_RAS_USER_NEW_REQ *>(out)->signature, "") << "a digest is not a signature";
        QRT_CAS_FreeMsgStr(out, code);

        // One hex digit or one field byte altered; hex that is not hex, or of odd length.
        const std::string head = str(wire).substr(0, 20);
        auto framed = [&](const std::string &b) {
            char l[8];
            std::snprintf(l, sizeof l, "%04zu", b.size());
            return head + l + b;
        };
        ASSERT_EQ(framed(body), str(wire));
        const size_t hex_at = body.size() - 41;
        std::string digit = body, field = body, nonhex = body, odd = body;
        digit[hex_at + 7] = digit[hex_at + 7] == '0' ? '1' : '0';
        field[field.find("hong")] = 'H';
        nonhex[hex_at] = 'g';
        odd.erase(hex_at, 1);
        const std::pair<std::string, int> rows[] = {
            {framed(digit), 72009}, {framed(field), 72009}, {framed(nonhex), 72008}, {framed(odd), 72008},
        };
        for (const auto &[text, rc] : rows) {
            BIN in = bin_of(text);
            EXPECT_EQ(QRT_CAS_DecodeMsg(&out, &got, &in, 1, QRT_CAS_FORM_TEXT), rc) << text;
            EXPECT_EQ(out, nullptr);
        }
        QRT_BIN_Reset(&wire);
    }

    // The binary and web forms carry the plain fields.
    for (int form : {QRT_CAS_FORM_BINARY, QRT_CAS_FORM_WEB}) {
        BIN rec{0, nullptr}, fields{0, nullptr};
        ASSERT_EQ(QRT_CAS_GenReqMsg(&rec, &req, 142, form, nullptr), 0);
        ASSERT_EQ(QRT_RAS_GenOneReqMsg(&fields, &req, 142, form), 0);
        EXPECT_EQ(str(rec).substr(4), str(fields)) << form;
        QRT_BIN_Reset(&rec);
        QRT_BIN_Reset(&fields);
    }
    // Other requests carry none in the text form either.
    ZQ_RAS_SYS_STAT_REQ ss{};
    std::strcpy(ss.corp_code, "C001");
    BIN rec{0, nullptr};
    ASSERT_EQ(QRT_CAS_GenReqMsg(&rec, &ss, 148, QRT_CAS_FORM_TEXT, nullptr), 0);
    EXPECT_EQ(str(rec), "0005C001$");
    QRT_BIN_Reset(&rec);

    // A record whose integrity value is not closed by "$", or has no field before it.
    std::string open = "0006" "a$b$cd", bare = "0003" "ab$";
    for (std::string *t : {&open, &bare}) {
        BIN in = bin_of(*t);
        void *out = nullptr;
        EXPECT_EQ(QRT_CAS_AnalReq(&out, &in, 142, QRT_CAS_FORM_TEXT), 71060) << *t;
    }
}

TEST(CasIntegrity, SignatureFromTheCallback) {
    ZQ_RAS_USER_NEW_REQ req = sample_user();
    g_signature.assign(128, 0);
    for (size_t i = 0; i < g_signature.size(); ++i) g_signature[i] = static_cast<unsigned char>(i * 37 + 1);
    BIN rec{0, nullptr}, fields{0, nullptr};
    ASSERT_EQ(QRT_CAS_GenReqMsg(&rec, &req, 150, QRT_CAS_FORM_TEXT, sign_cb), 0);
    ASSERT_EQ(QRT_RAS_GenOneReqMsg(&fields, &req, 150, QRT_RAS_FORM_TEXT), 0);
    EXPECT_EQ(g_hash_alg, 3);
    EXPECT_EQ(g_reserved, 0);
    EXPECT_EQ(str(g_signed_input), str(fields)) << "the callback signs the record's fields";
    const std::string hex = ostrel::test::to_hex(g_signature.data(), g_signature.size());
    EXPECT_EQ(str(rec).substr(4), str(fields) + hex + "$");

    // The receiver gets the signature's hex to verify itself.
    void *out = nullptr;
    ASSERT_EQ(QRT_CAS_AnalReq(&out, &rec, 150, QRT_CAS_FORM_TEXT), 0);
    EXPECT_EQ(std::string(static_cast<ZQ_RAS_USER_NEW_REQ *>(out)->signature), hex);
    QRT_CAS_FreeMsgStr(out, 28);
    QRT_BIN_Reset(&rec);

    // Too long for the structure's field: refused, not cut.
    g_signature.assign(129, 7);
    ASSERT_EQ(QRT_CAS_GenReqMsg(&rec, &req, 150, QRT_CAS_FORM_TEXT, sign_cb), 0);
    EXPECT_EQ(QRT_CAS_AnalReq(&out, &rec, 150, QRT_CAS_FORM_TEXT), 71033);
    EXPECT_EQ(out, nullptr);
    QRT_BIN_Reset(&rec);

    ZQ_CAS_MsgHeader h = header(28, 1);
    EXPECT_EQ(QRT_CAS_EncodeMsg(&rec, &req, &h, QRT_CAS_FORM_TEXT, failing_cb), 72012);
    EXPECT_EQ(rec.value, nullptr);
    g_signature.clear();
    EXPECT_EQ(QRT_CAS_EncodeMsg(&rec, &req, &h, QRT_CAS_FORM_TEXT, sign_cb), 72012) << "an empty signature";
    QRT_BIN_Reset(&fields);
    QRT_BIN_Reset(&g_signed_input);
}

TEST(CasIntegrity, HexDigestFunctions) {
    std::string abc = "abc";
    BIN in = bin_of(abc);
    BIN hex{0, nullptr};
    ASSERT_EQ(QRT_CAS_GenHexHashValue(&hex, &in), 0);
    EXPECT_EQ(str(hex), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(hex.value[hex.length], 0);
    EXPECT_EQ(QRT_CAS_CheckHexHashValue(reinterpret_cast<char *>(hex.value), &in), 0);
    EXPECT_EQ(QRT_CAS_CheckHexHashValue("A9993E364706816ABA3E25717850C26C9CD0D89D", &in), 0);
    EXPECT_EQ(QRT_CAS_CheckHexHashValue("a9993e364706816aba3e25717850c26c9cd0d89e", &in), 72009);
    EXPECT_EQ(QRT_CAS_CheckHexHashValue("a9993e36", &in), 72004);
    EXPECT_EQ(QRT_CAS_CheckHexHashValue("a9993e3", &in), 72008);
    EXPECT_EQ(QRT_CAS_CheckHexHashValue("zz", &in), 72008);
    QRT_BIN_Reset(&hex);
    BIN empty{0, nullptr};
    EXPECT_EQ(QRT_CAS_GenHexHashValue(&hex, &empty), 72001);
    EXPECT_EQ(QRT_CAS_GenHexSignedValue(&hex, &empty, sign_cb), 72001);
    EXPECT_EQ(QRT_CAS_GenHexSignedValue(&hex, &in, nullptr), 72001);
    EXPECT_EQ(QRT_CAS_GenHexSignedValue(&hex, &in, failing_cb), 72012);
    EXPECT_EQ(QRT_CAS_CheckHexHashValue("00", &empty), 72001);
}

TEST(CasHeaders, BinaryTextAndOlderForms) {
    ZQ_CAS_MsgHeader h = header(51, 258);
    BIN out{0, nullptr};
    ASSERT_EQ(QRT_CAS_EncodeMsgHeader(&out, &h, QRT_CAS_FORM_BINARY), 0);
    EXPECT_EQ(ostrel::test::to_hex(out.value, out.length), "9000000102");  // opcode 144, count 258
    ZQ_CAS_MsgHeader got{};
    int offset = 0;
    ASSERT_EQ(QRT_CAS_DecodeMsgHeader(&got, &out, 0, QRT_CAS_FORM_BINARY, &offset), 0);
    EXPECT_EQ(offset, 5);
    EXPECT_EQ(got.serviceCode, 51);
    EXPECT_EQ(got.recordNum, 258);
    ASSERT_EQ(QRT_CAS_DecodeMsgHeader(&got, &out, 1, QRT_CAS_FORM_BINARY, &offset), 0);
    EXPECT_EQ(got.serviceCode, 50) << "the opcode names both directions";
    QRT_BIN_Reset(&out);
    for (unsigned char op : {0, 10, 141, 255}) {  // 10 is a web code, not an opcode
        std::string b{static_cast<char>(op), 0, 0, 0, 1};
        BIN in = bin_of(b);
        EXPECT_EQ(QRT_CAS_DecodeMsgHeader(&got, &in, 1, QRT_CAS_FORM_BINARY, &offset), -71993) << int(op);
    }
    std::string shortb = "\x90\x00";
    BIN in = bin_of(shortb);
    EXPECT_EQ(QRT_CAS_DecodeMsgHeader(&got, &in, 1, QRT_CAS_FORM_BINARY, &offset), 72010);

    h = header(20, 1);
    ASSERT_EQ(QRT_CAS_EncodeMsgHeader(&out, &h, QRT_CAS_FORM_TEXT), 0);
    EXPECT_EQ(str(out), std::string("20") + kStamp + "0001");
    ASSERT_EQ(QRT_CAS_DecodeMsgHeader(&got, &out, 1, QRT_CAS_FORM_TEXT, &offset), 0);
    EXPECT_EQ(offset, 20);
    EXPECT_STREQ(got.msgDateTime, kStamp);
    EXPECT_EQ(QRT_CAS_AnalHeader(&got, &out), 20);
    EXPECT_EQ(got.opCode, 142);
    QRT_BIN_Reset(&out);

    ASSERT_EQ(QRT_CAS_GenMsgHeader(&out, 226, 3), 0);
    ASSERT_EQ(out.length, 20u);
    EXPECT_EQ(str(out).substr(0, 2), "96");
    EXPECT_EQ(str(out).substr(16), "0003");
    EXPECT_EQ(QRT_CAS_AnalHeader(&got, &out), 20);
    QRT_BIN_Reset(&out);
    EXPECT_EQ(QRT_CAS_GenMsgHeader(&out, 10, 1), 72007);
    const std::pair<std::string, int> rows[] = {
        {std::string("24") + kStamp + "0001", 72006},
        {std::string("20") + "20011231235959" + "0001", 72010},
        {std::string("20") + kStamp + "00x1", 72010},
        {std::string("20") + kStamp + "001", 72010},
    };
    for (const auto &[text, rc] : rows) {
        BIN t = bin_of(text);
        EXPECT_EQ(QRT_CAS_AnalHeader(&got, &t), rc) << text;
    }
    std::string old = std::string("20") + "20011231235959" + "0001";
    BIN t = bin_of(old);
    EXPECT_EQ(QRT_CAS_DecodeMsgHeader(&got, &t, 1, QRT_CAS_FORM_TEXT, &offset), 71102);
    h = header(22, 1);
    EXPECT_EQ(QRT_CAS_EncodeMsgHeader(&out, &h, QRT_CAS_FORM_WEB), 71101);
}

TEST(CasMessage, ReplyCountMustMatch) {
    ZQ_RAS_EVENT_VIEW_REP a{}, b{};
    a.next = &b;
    for (int form : {QRT_CAS_FORM_BINARY, QRT_CAS_FORM_TEXT}) {
        ZQ_CAS_MsgHeader h = header(61, 3);
        BIN out{0, nullptr};
        EXPECT_EQ(QRT_CAS_EncodeMsg(&out, &a, &h, form, nullptr), 72011) << form;
        h.recordNum = 1;
        EXPECT_EQ(QRT_CAS_EncodeMsg(&out, &a, &h, form, nullptr), 72011) << form;
        h.recordNum = 2;
        ASSERT_EQ(QRT_CAS_EncodeMsg(&out, &a, &h, form, nullptr), 0);
        // The header claims three records where two came.
        std::string wire = str(out);
        if (form == QRT_CAS_FORM_BINARY)
            wire[4] = 3;
        else
            wire[19] = '3';
        BIN in = bin_of(wire);
        void *msg = reinterpret_cast<void *>(1);
        ZQ_CAS_MsgHeader got{};
        EXPECT_EQ(QRT_CAS_DecodeMsg(&msg, &got, &in, 0, form), 72011) << form;
        EXPECT_EQ(msg, nullptr);
        // A binary record claiming more bytes than remain.
        if (form == QRT_CAS_FORM_BINARY) {
            wire = str(out);
            wire[5] = 0x7f;
            in = bin_of(wire);
            EXPECT_EQ(QRT_CAS_DecodeMsg(&msg, &got, &in, 0, form), 71060);
        }
        QRT_BIN_Reset(&out);
    }
}

TEST(CasFrame, VersionAndTexts) {
    EXPECT_STREQ(QRT_CAS_GetVersion(), "1.5.0.2");
    EXPECT_STREQ(QRT_GetVersionCAS(), "1.5.0.2");
    EXPECT_EQ(QRT_CAS_CheckVersion("1.5.0.2"), 0);
    EXPECT_EQ(QRT_CAS_CheckVersion("1.5.0.3"), -1);
    EXPECT_EQ(QRT_CAS_GetDataLenSize(), 4);
    EXPECT_STREQ(QRT_CAS_GetErrorReason(72009, 1), "Invalid hash value");
    EXPECT_STREQ(QRT_CAS_GetErrorReason(72012, 1), "Fail to sign value");
    EXPECT_STREQ(QRT_GetErrReasonCAS(72001, 1), "Invalid Input value");
    EXPECT_STRNE(QRT_CAS_GetErrorReason(72009, 0), QRT_CAS_GetErrorReason(72009, 1));
    EXPECT_STREQ(QRT_CAS_GetErrorReason(71102, 1), "invalid date format") << "RA codes are the RA library's";
    EXPECT_STREQ(QRT_CAS_GetErrorReason(-71993, 1), "UnDefined Error Reason");

    QRT_Trace_Initialize();
    std::string bad = "0006" "a$b$cd";
    BIN in = bin_of(bad);
    void *out = nullptr;
    EXPECT_EQ(QRT_CAS_AnalReq(&out, &in, 142, QRT_CAS_FORM_TEXT), 71060);
    auto recs = ostrel::test::trace_records();
    ASSERT_FALSE(recs.empty());
    EXPECT_EQ(ostrel::test::trace_field(recs.back(), 2), "QRT_CAS_AnalReq");
    EXPECT_EQ(ostrel::test::trace_field(recs.back(), 4), "input argument is not valid");
    QRT_Trace_Finalize();
}
