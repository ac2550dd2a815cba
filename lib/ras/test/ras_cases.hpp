// Every RA operation as test data: the fields of its request and reply structures, the forms it
// may be framed in, and the fields each form does not carry. Shared by the RAS and CAS tests.
#pragma once

#include <cstddef>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "suite_ras.h"

namespace ras_test {

struct Fld {
    std::string name;
    size_t off, width;
};

#define FLD(T, n) \
    Fld { #n, offsetof(T, n), sizeof(T::n) }

struct Side {
    size_t size;
    std::vector<Fld> fields;
    ptrdiff_t next = -1;  // list replies
    // Fields a form (0, 1, 2) does not carry.
    std::set<std::string> dropped[3];
};

struct Case {
    const char *name;
    int opcode, request, reply;
    bool web;
    Side req, rep;
};

inline std::set<std::string> S(std::initializer_list<const char *> l) { return {l.begin(), l.end()}; }

inline const std::vector<Case> &cases() {
    using UNQ = ZQ_RAS_USER_NEW_REQ;
    using UNP = ZQ_RAS_USER_NEW_REP;
    const std::set<std::string> web_extras = S({"cert_type", "cert_class", "reserved1", "acc_flag", "org", "orgid",
                                               "position", "alien_number", "ext1", "ext2", "ext3", "ext4", "ext5",
                                               "signature"});
    Side user_req{sizeof(UNQ),
                  {FLD(UNQ, corp_code), FLD(UNQ, oper_id), FLD(UNQ, reg_date), FLD(UNQ, reg_serial), FLD(UNQ, type),
                   FLD(UNQ, company), FLD(UNQ, user_name), FLD(UNQ, euser_name), FLD(UNQ, user_id), FLD(UNQ, ssn),
                   FLD(UNQ, policy_type), FLD(UNQ, email), FLD(UNQ, cell_phone), FLD(UNQ, fax), FLD(UNQ, zipcode),
                   FLD(UNQ, address), FLD(UNQ, phone), FLD(UNQ, czipcode), FLD(UNQ, caddress), FLD(UNQ, cphone),
                   FLD(UNQ, cert_type), FLD(UNQ, cert_class), FLD(UNQ, signature), FLD(UNQ, reserved1),
                   FLD(UNQ, acc_flag), FLD(UNQ, org), FLD(UNQ, orgid), FLD(UNQ, position), FLD(UNQ, alien_number),
                   FLD(UNQ, ext1), FLD(UNQ, ext2), FLD(UNQ, ext3), FLD(UNQ, ext4), FLD(UNQ, ext5)},
                  -1,
                  {web_extras, web_extras, S({"signature"})}};
    Side user_rep{sizeof(UNP),
                  {FLD(UNP, code), FLD(UNP, message), FLD(UNP, corp_code), FLD(UNP, oper_id), FLD(UNP, reg_date),
                   FLD(UNP, reg_serial), FLD(UNP, company), FLD(UNP, user_name), FLD(UNP, user_id), FLD(UNP, ssn),
                   FLD(UNP, policy_type), FLD(UNP, auth_reference), FLD(UNP, auth_code), FLD(UNP, cert_type),
                   FLD(UNP, cert_class), FLD(UNP, root_hash)},
                  -1,
                  {S({"policy_type", "cert_type", "cert_class"}), S({"cert_type", "cert_class"}), S({"policy_type"})}};
    // Replies: policy_type in form 1 only, cert_type and cert_class in the web form only.
    auto rep_drops = [](Side s) {
        s.dropped[0] = S({"policy_type", "cert_type", "cert_class"});
        s.dropped[1] = S({"cert_type", "cert_class"});
        s.dropped[2] = S({"policy_type"});
        return s;
    };

    using BQ = ZQ_RAS_USER_NEW_BULK_REQ;
    using BP = ZQ_RAS_USER_NEW_BULK_REP;
    using CMQ = ZQ_RAS_CERT_MAN_REQ;
    using CMP = ZQ_RAS_CERT_MAN_REP;
    using CVQ = ZQ_RAS_CERT_VIEW_REQ;
    using CVP = ZQ_RAS_CERT_VIEW_REP;
    using RVQ = ZQ_RAS_RESULT_VIEW_REQ;
    using RVP = ZQ_RAS_RESULT_VIEW_REP;
    using EVQ = ZQ_RAS_EVENT_VIEW_REQ;
    using EVP = ZQ_RAS_EVENT_VIEW_REP;
    using ENQ = ZQ_RAS_EVENT_NO_REQ;
    using ENP = ZQ_RAS_EVENT_NO_REP;
    using SSQ = ZQ_RAS_SYS_STAT_REQ;
    using SSP = ZQ_RAS_SYS_STAT_REP;
    using NQ = ZQ_RAS_NOTI_REQ;
    using NP = ZQ_RAS_NOTI_REP;
    using NLQ = ZQ_RAS_NL_USER_NEW_REQ;
    using NLP = ZQ_RAS_NL_USER_NEW_REP;
    using FRQ = ZQ_RAS_FORCED_REVOKE_REQ;
    using FRP = ZQ_RAS_FORCED_REVOKE_REP;
    using UCQ = ZQ_RAS_USER_ID_CHANGE_REQ;
    using UCP = ZQ_RAS_USER_ID_CHANGE_REP;
    using SDQ = ZQ_RAS_SECRET_DOWN_REQ;
    using SDP = ZQ_RAS_SECRET_DOWN_REP;
    const auto typed = S({"cert_type", "cert_class"});

    static const std::vector<Case> all = {
        {"user registration", 142, 20, 21, true, user_req, user_rep},
        {"user registration 159", 159, 25, 26, true, user_req, user_rep},
        {"user registration 150", 150, 28, 29, true, user_req, user_rep},
        {"user registration 204", 204, 92, 93, true, user_req, user_rep},
        {"user registration 225", 225, 94, 95, true, user_req, user_rep},
        {"bulk registration", 153, 22, 23, false,
         {sizeof(BQ),
          {FLD(BQ, code), FLD(BQ, message), FLD(BQ, request_count), FLD(BQ, value)},
          -1,
          {S({"code", "message"}), S({"code", "message"}), S({"code", "message"})}},
         {sizeof(BP), {FLD(BP, code), FLD(BP, message), FLD(BP, response_count), FLD(BP, value)}}},
        {"certificate management", 143, 40, 41, true,
         {sizeof(CMQ),
          {FLD(CMQ, corp_code), FLD(CMQ, oper_id), FLD(CMQ, cert_serial), FLD(CMQ, policy_type), FLD(CMQ, svc_code),
           FLD(CMQ, cert_type), FLD(CMQ, cert_class)},
          -1,
          {typed, typed, {}}},
         rep_drops({sizeof(CMP),
                    {FLD(CMP, code), FLD(CMP, message), FLD(CMP, corp_code), FLD(CMP, oper_id), FLD(CMP, policy_type),
                     FLD(CMP, cert_serial), FLD(CMP, svc_code), FLD(CMP, cert_type), FLD(CMP, user_id),
                     FLD(CMP, cert_class)}})},
        {"certificate view", 144, 50, 51, true,
         {sizeof(CVQ),
          {FLD(CVQ, corp_code), FLD(CVQ, oper_id), FLD(CVQ, policy_type), FLD(CVQ, ref_no), FLD(CVQ, cert_serial),
           FLD(CVQ, user_id), FLD(CVQ, ssn), FLD(CVQ, rec_start), FLD(CVQ, rec_no), FLD(CVQ, cert_type),
           FLD(CVQ, cert_class)},
          -1,
          {S({"policy_type", "cert_type", "cert_class"}), typed, S({"policy_type"})}},
         rep_drops({sizeof(CVP),
                    {FLD(CVP, code), FLD(CVP, message), FLD(CVP, corp_code), FLD(CVP, oper_id), FLD(CVP, policy_type),
                     FLD(CVP, cert_serial), FLD(CVP, user_id), FLD(CVP, dn), FLD(CVP, ssn), FLD(CVP, val_from),
                     FLD(CVP, val_to), FLD(CVP, cert_status), FLD(CVP, tot_rec_no), FLD(CVP, cur_rec_no),
                     FLD(CVP, cert_type), FLD(CVP, cert_class)},
                    offsetof(CVP, next)})},
        {"registration-result view", 145, 52, 53, true,
         {sizeof(RVQ),
          {FLD(RVQ, policy_type), FLD(RVQ, reg_date), FLD(RVQ, corp_code), FLD(RVQ, reg_serial), FLD(RVQ, user_id),
           FLD(RVQ, cert_type), FLD(RVQ, cert_class)},
          -1,
          {S({"policy_type", "user_id", "cert_type", "cert_class"}), typed, S({"policy_type"})}},
         rep_drops({sizeof(RVP),
                    {FLD(RVP, code),        FLD(RVP, message),    FLD(RVP, reg_date),       FLD(RVP, corp_code),
                     FLD(RVP, reg_serial),  FLD(RVP, reg_type),   FLD(RVP, policy_type),    FLD(RVP, company),
                     FLD(RVP, user_name),   FLD(RVP, user_id),    FLD(RVP, ssn),            FLD(RVP, auth_reference),
                     FLD(RVP, auth_code),   FLD(RVP, root_hash),  FLD(RVP, event_date),     FLD(RVP, cert_serial),
                     FLD(RVP, event_type),  FLD(RVP, val_from),   FLD(RVP, val_to),         FLD(RVP, dn),
                     FLD(RVP, cert_type),   FLD(RVP, cert_class)}})},
        {"event view", 146, 60, 61, true,
         {sizeof(EVQ), {FLD(EVQ, date), FLD(EVQ, corp_code), FLD(EVQ, from_serial), FLD(EVQ, to_serial)}},
         rep_drops({sizeof(EVP),
                    {FLD(EVP, code), FLD(EVP, message), FLD(EVP, msg_serial), FLD(EVP, corp_code),
                     FLD(EVP, event_date), FLD(EVP, policy_type), FLD(EVP, cert_serial), FLD(EVP, event_type),
                     FLD(EVP, val_from), FLD(EVP, val_to), FLD(EVP, reg_date), FLD(EVP, reg_serial), FLD(EVP, ssn),
                     FLD(EVP, dn), FLD(EVP, cert_type), FLD(EVP, cert_class)},
                    offsetof(EVP, next)})},
        {"event number", 147, 70, 71, true,
         {sizeof(ENQ), {FLD(ENQ, date), FLD(ENQ, corp_code), FLD(ENQ, last_recv)}},
         {sizeof(ENP),
          {FLD(ENP, code), FLD(ENP, message), FLD(ENP, reg_date), FLD(ENP, corp_code), FLD(ENP, last_recv),
           FLD(ENP, last_sent)}}},
        {"system status", 148, 80, 81, true,
         {sizeof(SSQ), {FLD(SSQ, corp_code)}},
         {sizeof(SSP), {FLD(SSP, code), FLD(SSP, message), FLD(SSP, corp_code)}}},
        {"notice", 149, 30, 31, true,
         {sizeof(NQ), {FLD(NQ, message)}},
         rep_drops({sizeof(NP),
                    {FLD(NP, user_id), FLD(NP, corp_code), FLD(NP, msg_serial), FLD(NP, event_date),
                     FLD(NP, policy_type), FLD(NP, cert_serial), FLD(NP, event_type), FLD(NP, val_from),
                     FLD(NP, val_to), FLD(NP, reg_date), FLD(NP, reg_serial), FLD(NP, ssn), FLD(NP, dn),
                     FLD(NP, cert_type), FLD(NP, cert_class)}})},
        {"registration without login", 151, 90, 91, false,
         {sizeof(NLQ),
          {FLD(NLQ, corp_code), FLD(NLQ, reg_date), FLD(NLQ, last_login), FLD(NLQ, user_id), FLD(NLQ, lc_user_id),
           FLD(NLQ, ssn), FLD(NLQ, cert_serial), FLD(NLQ, cert_status), FLD(NLQ, reserved1), FLD(NLQ, reserved2),
           FLD(NLQ, reserved3)},
          -1,
          {S({"corp_code", "lc_user_id", "ssn", "cert_status"}), S({"corp_code", "lc_user_id", "ssn", "cert_status"}),
           S({"corp_code", "lc_user_id", "ssn", "cert_status"})}},
         {sizeof(NLP), {FLD(NLP, code), FLD(NLP, message)}}},
        {"forced revocation", 152, 82, 83, false,
         {sizeof(FRQ), {FLD(FRQ, corp_code), FLD(FRQ, policy_type), FLD(FRQ, ssn), FLD(FRQ, user_id)}},
         rep_drops({sizeof(FRP),
                    {FLD(FRP, code), FLD(FRP, message), FLD(FRP, corp_code), FLD(FRP, policy_type), FLD(FRP, ssn),
                     FLD(FRP, user_id)}})},
        {"user-id change", 221, 98, 99, false,
         {sizeof(UCQ),
          {FLD(UCQ, corp_code), FLD(UCQ, reg_serial), FLD(UCQ, ssn), FLD(UCQ, old_user_id), FLD(UCQ, new_user_id)}},
         {sizeof(UCP), {FLD(UCP, code), FLD(UCP, message), FLD(UCP, ssn), FLD(UCP, new_user_id)}}},
        {"key download", 226, 96, 97, true,
         {sizeof(SDQ),
          {FLD(SDQ, auth_reference), FLD(SDQ, auth_code), FLD(SDQ, key_password), FLD(SDQ, user_id),
           FLD(SDQ, corp_code)}},
         {sizeof(SDP),
          {FLD(SDP, code), FLD(SDP, message), FLD(SDP, corp_code), FLD(SDP, sgcert), FLD(SDP, sgsecret),
           FLD(SDP, sgrandom), FLD(SDP, kmcert), FLD(SDP, kmsecret), FLD(SDP, kmrandom)}}},
    };
    return all;
}

#undef FLD

// The longest value a field may carry in a form: its width less the terminator, except the
// text forms' shorter user_id and cert_serial.
inline size_t max_len(const Fld &f, int form) {
    size_t m = f.width - 1;
    if (form != QRT_RAS_FORM_WEB && f.name == "user_id") m = std::min<size_t>(m, 24);
    if (form != QRT_RAS_FORM_WEB && f.name == "cert_serial") m = std::min<size_t>(m, 12);
    return m;
}

// A heap structure zeroed, released with free().
struct Buf {
    std::vector<char> bytes;
    explicit Buf(size_t n) : bytes(n, 0) {}
    char *at(const Fld &f) { return bytes.data() + f.off; }
    void *get() { return bytes.data(); }
};

// Fills every field with `len(field)` copies of a letter that differs per field and per seed.
template <class LenFn>
void fill(Buf &b, const Side &side, int seed, LenFn len) {
    for (size_t i = 0; i < side.fields.size(); ++i) {
        const Fld &f = side.fields[i];
        size_t n = len(f);
        std::memset(b.at(f), 'A' + static_cast<int>((i + 7 * seed) % 26), n);
        b.at(f)[n] = '\0';
    }
}

inline void *next_of(const Side &s, void *p) {
    void *n;
    std::memcpy(&n, static_cast<char *>(p) + s.next, sizeof n);
    return n;
}

// Fields a form leaves out of this particular structure, beyond the fixed ones.
inline std::set<std::string> dropped(const Case &c, bool request, int form, const char *base) {
    const Side &s = request ? c.req : c.rep;
    std::set<std::string> d = s.dropped[form];
    auto val = [&](const char *name) -> std::string {
        for (const Fld &f : s.fields)
            if (f.name == name) return base + f.off;
        return "";
    };
    if (request && c.opcode == 144) {
        if (val("ref_no") != "1") d.insert("cert_serial");
        if (val("ref_no") != "2") d.insert("user_id");
        if (val("ref_no") != "3") d.insert("ssn");
    }
    bool user_rep = !request && s.fields.size() == 16 && s.fields[15].name == "root_hash";
    if (user_rep && val("code").find_first_not_of('0') != std::string::npos)
        for (const char *n : {"company", "user_name", "user_id", "policy_type", "auth_reference", "auth_code",
                              "root_hash"})
            d.insert(n);
    return d;
}

inline void expect_same(const Case &c, bool request, int form, const char *sent, const char *got, int index) {
    const Side &s = request ? c.req : c.rep;
    auto d = dropped(c, request, form, sent);
    for (const Fld &f : s.fields) {
        std::string want = d.count(f.name) ? "" : std::string(sent + f.off);
        EXPECT_EQ(std::string(got + f.off), want)
            << c.name << (request ? " request" : " reply") << " form " << form << " record " << index << " field "
            << f.name;
    }
}

// Links records[0..n) through their `next` pointers.
inline void link(const Side &s, std::vector<Buf> &records) {
    for (size_t i = 0; i + 1 < records.size(); ++i) {
        void *n = records[i + 1].get();
        std::memcpy(records[i].bytes.data() + s.next, &n, sizeof n);
    }
}

}  // namespace ras_test
