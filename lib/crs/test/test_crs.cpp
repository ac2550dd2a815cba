// Certificate-status messages: records of every operation both ways, the headers' length
// fields, option and code rules, and hostile input.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "ostrel/test_support.hpp"
#include "suite_crs.h"

namespace {

struct F {
    const char *name;
    size_t off, width;
};
#define RQ(n) F{#n, offsetof(ZQ_CRS_REQ_MSG, n), sizeof(ZQ_CRS_REQ_MSG::n)}
#define RP(n) F{#n, offsetof(ZQ_CRS_REP_MSG, n), sizeof(ZQ_CRS_REP_MSG::n)}

const std::vector<F> kStatusReq = {RQ(corp_code), RQ(oper_id), RQ(issuer_dn), RQ(issuer_pub_hash), RQ(cert_serial),
                                   RQ(issuer_url)};
const std::vector<F> kDbReq = {RQ(local_db_id), RQ(db_user), RQ(db_pass), RQ(db_name), RQ(reserved1)};
const std::vector<F> kStatusRep = {RP(corp_code),   RP(produceAt),    RP(issuder_dn),     RP(cert_serial),
                                   RP(cert_status), RP(revoked_time), RP(revoked_reason), RP(thisupdate),
                                   RP(nextupdate)};

std::string str(const BIN &b) { return std::string(reinterpret_cast<const char *>(b.value), b.length); }
BIN bin_of(const std::string &s) {
    return BIN{static_cast<unsigned int>(s.size()), reinterpret_cast<unsigned char *>(const_cast<char *>(s.data()))};
}
BIN bin_of(const std::string &&) = delete;

void fill(void *base, const std::vector<F> &fields, bool longest, int seed) {
    for (size_t i = 0; i < fields.size(); ++i) {
        char *p = static_cast<char *>(base) + fields[i].off;
        size_t n = longest ? fields[i].width - 1 : 0;
        std::memset(p, 'a' + static_cast<int>((i + seed) % 26), n);
        p[n] = '\0';
    }
}

std::vector<F> req_fields(int op) {
    if (op == 93) return kDbReq;
    auto f = kStatusReq;
    if (op == 95) f.push_back(RQ(user_id));
    return f;
}

}  // namespace

TEST(CrsRecords, RequestsRoundTrip) {
    for (int op : {50, 95, 93}) {
        for (bool longest : {true, false}) {
            ZQ_CRS_REQ_MSG req{};
            // Fields the operation does not send stay empty after the trip.
            std::vector<F> all = kStatusReq;
            all.push_back(RQ(user_id));
            all.insert(all.end(), kDbReq.begin(), kDbReq.end());
            fill(&req, all, longest, 1);
            BIN rec{0, nullptr};
            ASSERT_EQ(QRT_CRS_GenReqMsg(&req, op, &rec), 0) << op;
            ZQ_CRS_REQ_MSG *back = nullptr;
            ASSERT_EQ(QRT_CRS_AnalReq(&back, &rec, op), 0) << op;
            auto sent = req_fields(op);
            for (const F &f : all) {
                bool carried = false;
                for (const F &s : sent) carried |= s.off == f.off;
                const char *want = carried ? reinterpret_cast<char *>(&req) + f.off : "";
                EXPECT_STREQ(reinterpret_cast<char *>(back) + f.off, want) << op << " " << f.name;
            }
            QRT_CRS_FreeReqMsgStr(back);
            // The body alone parses the same.
            BIN body{rec.length - 4, rec.value + 4};
            ASSERT_EQ(QRT_CRS_AnalOneReq(&back, &body, op), 0);
            EXPECT_STREQ(back->corp_code, req_fields(op)[0].off == 0 ? req.corp_code : "");
            QRT_CRS_FreeReqMsgStr(back);
            QRT_BIN_Reset(&rec);
        }
    }
}

TEST(CrsRecords, RepliesRoundTripAsLists) {
    const struct {
        int op, option;
        bool user;
    } rows[] = {{51, 0, false}, {51, 1, true}, {50, 1, true}, {96, 0, false}, {96, 1, false}, {94, 1, false}};
    for (const auto &row : rows) {
        for (const char *code : {"0000", "0012"}) {
            ZQ_CRS_REP_MSG reps[3]{};
            for (int i = 0; i < 3; ++i) {
                std::vector<F> all = kStatusRep;
                all.push_back(RP(message));
                all.push_back(RP(user_id));
                fill(&reps[i], all, i != 1, i);
                std::strcpy(reps[i].code, code);
                if (i < 2) reps[i].next = &reps[i + 1];
            }
            BIN wire{0, nullptr};
            int count = 0;
            ASSERT_EQ(QRT_CRS_GenRepMsg(reps, row.op, row.option, &count, &wire), 0);
            EXPECT_EQ(count, 3);
            ZQ_CRS_REP_MSG *back = nullptr;
            ASSERT_EQ(QRT_CRS_AnalRep(&back, &wire, row.op, 3), 0);
            const bool full = std::strcmp(code, "0000") == 0 && row.op != 94;
            ZQ_CRS_REP_MSG *p = back;
            for (int i = 0; i < 3; ++i, p = p->next) {
                ASSERT_NE(p, nullptr);
                EXPECT_STREQ(p->code, code);
                EXPECT_STREQ(p->message, reps[i].message);
                for (const F &f : kStatusRep)
                    EXPECT_STREQ(reinterpret_cast<char *>(p) + f.off,
                                 full ? reinterpret_cast<char *>(&reps[i]) + f.off : "")
                        << row.op << " " << code << " " << f.name;
                EXPECT_STREQ(p->user_id, full && row.user ? reps[i].user_id : "") << row.op << " " << row.option;
            }
            EXPECT_EQ(p, nullptr);
            QRT_CRS_FreeRepMsgStr(back);
            QRT_BIN_Reset(&wire);
        }
    }
}

TEST(CrsRecords, FailedStatusCarriesOnlyCodeAndMessage) {
    ZQ_CRS_REP_MSG rep{};
    std::strcpy(rep.code, "0301");
    std::strcpy(rep.message, "unknown issuer");
    std::strcpy(rep.corp_code, "C1");
    std::strcpy(rep.user_id, "kim");
    BIN out{0, nullptr};
    ASSERT_EQ(QRT_CRS_GenOneRepMsg(&rep, 51, &out, 1), 0);
    EXPECT_EQ(str(out), "0301$unknown issuer$");
    QRT_BIN_Reset(&out);
    std::strcpy(rep.code, "0000");
    ASSERT_EQ(QRT_CRS_GenOneRepMsg(&rep, 51, &out, 1), 0);
    EXPECT_EQ(str(out), "0000$unknown issuer$C1$$$$$$$$$kim$");
    QRT_BIN_Reset(&out);
    ASSERT_EQ(QRT_CRS_GenOneRepMsg(&rep, 94, &out, 7), 0) << "other replies ignore the option";
    EXPECT_EQ(str(out), "0000$unknown issuer$");
    QRT_BIN_Reset(&out);

    EXPECT_EQ(QRT_CRS_GenOneRepMsg(&rep, 51, &out, 2), -4);
    int n = 0;
    EXPECT_EQ(QRT_CRS_GenRepMsg(&rep, 51, 2, &n, &out), -4);
    EXPECT_EQ(out.value, nullptr);
    EXPECT_EQ(QRT_CRS_GenOneRepMsg(&rep, 52, &out, 0), -4);
}

TEST(CrsHeaders, LengthFieldsAndParsing) {
    BIN h{0, nullptr};
    ASSERT_EQ(QRT_CRS_GenReqMsgHeader(&h, 50, 1, 100), 0);
    ASSERT_EQ(h.length, 24u);
    EXPECT_EQ(str(h).substr(0, 6), "012450");
    EXPECT_EQ(str(h).substr(20), "0001");
    ZQ_CRS_MsgHeader back{};
    EXPECT_EQ(QRT_CRS_AnalHeader(&back, &h), 24);
    EXPECT_EQ(back.serviceCode, 50);
    EXPECT_EQ(back.opCode, 50);
    EXPECT_EQ(back.recordNum, 1);
    EXPECT_EQ(QRT_CRS_CheckDate(back.msgDateTime), 0);
    QRT_BIN_Reset(&h);

    ASSERT_EQ(QRT_CRS_GenRepMsgHeader(&h, 50, 1, 100), 0);
    EXPECT_EQ(str(h).substr(0, 6), "012051");
    EXPECT_EQ(QRT_CRS_AnalHeader(&back, &h), 24);
    EXPECT_EQ(back.opCode, 50);
    QRT_BIN_Reset(&h);

    ASSERT_EQ(QRT_CRS_CA_GenReqMsgHeader(&h, 95, 2), 0);
    ASSERT_EQ(h.length, 20u);
    EXPECT_EQ(str(h).substr(0, 2), "95");
    EXPECT_EQ(QRT_CRS_CA_AnalHeader(&back, &h), 20);
    EXPECT_EQ(back.recordNum, 2);
    QRT_BIN_Reset(&h);

    EXPECT_EQ(QRT_CRS_GenReqMsgHeader(&h, 52, 1, 0), -4);
    EXPECT_EQ(QRT_CRS_CA_GenReqMsgHeader(&h, 0, 1), -4);
    EXPECT_EQ(QRT_CRS_GenReqMsgHeader(&h, 50, 1, 9990), -6) << "four digits cannot state it";

    const std::pair<std::string, int> rows[] = {
        {"0124" "50" "20240102030405" "0001", 24},
        {"0124" "52" "20240102030405" "0001", -4},
        {"0124" "50" "20010102030405" "0001", -5},
        {"0124" "50" "20241302030405" "0001", -5},
        {"01x4" "50" "20240102030405" "0001", -2},
        {"0124" "50" "20240102030405" "001", -2},
    };
    for (const auto &[text, rc] : rows) {
        BIN in = bin_of(text);
        EXPECT_EQ(QRT_CRS_AnalHeader(&back, &in), rc) << text;
    }
}

TEST(CrsRecords, HostileInputIsRefused) {
    const std::pair<std::string, int> rows[] = {
        {"0006" "a$b$c$", -2},                       // ends before all six values
        {"0099" "a$", -2},                           // states more than there is
        {"00x6" "a$b$c$", -2},
        {"0008" "12345$$$", -6},                     // corp_code holds 4
        {std::string("0008" "1\0""34$$$$", 12), -2},       // a zero byte would cut the value
        {"0013" "$$$$$$", -2},
    };
    for (const auto &[text, rc] : rows) {
        BIN in = bin_of(text);
        ZQ_CRS_REQ_MSG *req = reinterpret_cast<ZQ_CRS_REQ_MSG *>(1);
        EXPECT_EQ(QRT_CRS_AnalReq(&req, &in, 50), rc) << text;
        EXPECT_EQ(req, nullptr);
    }
    std::string ok = "0006" "$$$$$$";
    BIN in = bin_of(ok);
    ZQ_CRS_REQ_MSG *req = nullptr;
    ASSERT_EQ(QRT_CRS_AnalReq(&req, &in, 50), 0);
    QRT_CRS_FreeReqMsgStr(req);

    // A list is released whole when a later record fails.
    std::string two = "0002" "0$" "0003" "01$";
    in = bin_of(two);
    ZQ_CRS_REP_MSG *rep = nullptr;
    EXPECT_EQ(QRT_CRS_AnalRep(&rep, &in, 94, 2), -2);
    EXPECT_EQ(rep, nullptr);
    std::string big = "0207" "0000$" + std::string(201, 'm') + "$";  // message holds 200
    in = bin_of(big);
    EXPECT_EQ(QRT_CRS_AnalRep(&rep, &in, 94, 1), -6);

    // On encoding, a field without its terminator is too long, and "$" inside a value refused.
    ZQ_CRS_REQ_MSG full{};
    std::memset(full.oper_id, 'o', sizeof full.oper_id);
    BIN out{0, nullptr};
    EXPECT_EQ(QRT_CRS_GenReqMsg(&full, 50, &out), -6);
    std::memset(full.oper_id, 0, sizeof full.oper_id);
    std::strcpy(full.issuer_dn, "cn=a$b");
    EXPECT_EQ(QRT_CRS_GenReqMsg(&full, 50, &out), -2);
    EXPECT_EQ(out.value, nullptr);
}

TEST(CrsFrame, ValuesTextsAndTrace) {
    BIN b{0, nullptr};
    ASSERT_EQ(QRT_CRS_PutValue(&b, "corp_code", "C1"), 0);
    ASSERT_EQ(QRT_CRS_PutValue(&b, "oper_id", ""), 0);
    EXPECT_EQ(str(b), "C1$$");
    EXPECT_EQ(QRT_CRS_PutValue(&b, nullptr, "x"), -2);
    EXPECT_EQ(QRT_CRS_PutValue(&b, "x", nullptr), -2);
    QRT_BIN_Reset(&b);
    EXPECT_EQ(QRT_CRS_GetDataLenSize(), 4);
    EXPECT_EQ(QRT_CRS_GetReqSvcCode(96), 95);
    EXPECT_EQ(QRT_CRS_GetRepSvcCode(93), 94);
    EXPECT_EQ(QRT_CRS_GetOpCode(51), 50);
    EXPECT_EQ(QRT_CRS_GetOpCode(20), -4);

    EXPECT_STREQ(QRT_CRS_GetErrorReason(-2, 1), "Invalid input arguement");
    EXPECT_STREQ(QRT_CRS_GetErrorReason(-3, 1), "Fail to allocate memory");
    EXPECT_STREQ(QRT_CRS_GetErrorReason(-4, 1), "Invalid Service Code");
    EXPECT_STRNE(QRT_CRS_GetErrorReason(-4, 0), "UnDefined Error Reason");
    EXPECT_STREQ(QRT_CRS_GetErrorReason(-99, 1), "UnDefined Error Reason");
    EXPECT_STREQ(QRT_CRS_GetErrorReason(-2, 3), "UnDefined Error Reason");
    EXPECT_EQ(QRT_CRS_CheckVersion(QRT_CRS_GetVersion()), 0);
    EXPECT_STREQ(QRT_GetVersionCRS(), QRT_CRS_GetVersion());

    QRT_Trace_Initialize();
    ZQ_CRS_REP_MSG rep{};
    EXPECT_EQ(QRT_CRS_GenOneRepMsg(&rep, 51, &b, 2), -4);
    auto recs = ostrel::test::trace_records();
    ASSERT_EQ(recs.size(), 1u);
    EXPECT_EQ(ostrel::test::trace_field(recs[0], 2), "QRT_CRS_GenOneRepMsg");
    EXPECT_EQ(ostrel::test::trace_field(recs[0], 4), "Invalid Service Code");
    QRT_Trace_Finalize();
}
