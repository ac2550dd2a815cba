// The limits of the message fields by name, as data the layouts resolve at compile time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string_view>

namespace ostrel::ras {

struct Limit {
    const char *name;
    uint32_t text;  // maximum characters in the text forms
    uint32_t web;   // maximum characters in the web form
    int code;       // the field's "too long" code
};

// Maximum characters per field name, text and web form, and the code for exceeding it.
inline constexpr Limit kLimits[] = {
    {"corp_code", 4, 4, 71008},
    {"oper_id", 20, 20, 71009},
    {"reg_date", 14, 14, 71011},
    {"reg_serial", 6, 6, 71012},
    {"type", 1, 1, 71013},
    {"company", 100, 100, 71014},
    {"user_name", 202, 100, 71015},
    {"euser_name", 100, 100, 71016},
    {"user_id", 24, 100, 71018},
    {"old_user_id", 20, 20, 71018},
    {"new_user_id", 20, 20, 71018},
    {"ssn", 20, 20, 71019},
    {"policy_type", 2, 2, 71021},
    {"email", 50, 50, 71022},
    {"cell_phone", 20, 20, 71023},
    {"fax", 20, 20, 71024},
    {"zipcode", 20, 20, 71025},
    {"address", 200, 200, 71026},
    {"phone", 20, 20, 71027},
    {"czipcode", 20, 20, 71028},
    {"caddress", 200, 200, 71029},
    {"cphone", 20, 20, 71030},
    {"cert_type", 4, 4, 71031},
    {"cert_class", 4, 4, 71032},
    {"signature", 256, 256, 71033},
    {"code", 4, 4, 71034},
    {"message", 200, 200, 71035},
    {"auth_code", 20, 20, 71036},
    {"auth_reference", 20, 20, 71037},
    {"root_hash", 40, 40, 71038},
    {"svc_code", 2, 2, 71039},
    {"cert_serial", 12, 40, 71041},
    {"ref_no", 1, 1, 71042},
    {"rec_start", 3, 3, 71043},
    {"rec_no", 3, 3, 71044},
    {"tot_rec_no", 3, 3, 71045},
    {"cur_rec_no", 3, 3, 71046},
    {"val_from", 14, 14, 71047},
    {"val_to", 14, 14, 71048},
    {"dn", 200, 200, 71049},
    {"pub_key", 200, 200, 71049},
    {"cert_status", 2, 2, 71051},
    {"reg_type", 1, 1, 71052},
    {"event_type", 2, 2, 71053},
    {"event_date", 14, 14, 71054},
    {"msg_serial", 6, 6, 71055},
    {"from_serial", 6, 6, 71056},
    {"to_serial", 6, 6, 71057},
    {"last_recv", 6, 6, 71058},
    {"last_sent", 6, 6, 71059},
    {"date", 8, 8, 71006},
    {"last_login", 14, 14, 71065},
    {"lc_user_id", 20, 20, 71066},
    {"request_count", 10, 10, 71065},
    {"response_count", 10, 10, 71065},
    {"value", 1000000, 1000000, 71065},
    {"reserved1", 30, 30, 71062},
    {"reserved2", 30, 30, 71063},
    {"reserved3", 30, 30, 71064},
    {"acc_flag", 1, 1, 71068},
    {"org", 20, 20, 71072},
    {"orgid", 50, 50, 71073},
    {"sgcert", 4096, 4096, 71074},
    {"kmcert", 4096, 4096, 71074},
    {"sgsecret", 4096, 4096, 71075},
    {"kmsecret", 4096, 4096, 71075},
    {"key_password", 50, 50, 71075},
    {"sgrandom", 50, 50, 71076},
    {"kmrandom", 50, 50, 71076},
    {"position", 200, 200, 71112},
    {"alien_number", 200, 200, 71113},
    {"ext1", 200, 200, 71114},
    {"ext2", 200, 200, 71115},
    {"ext3", 200, 200, 71116},
    {"ext4", 200, 200, 71117},
    {"ext5", 200, 200, 71118},
};

// The index of a field name's limit; -1 for a name the messages do not use.
constexpr int limit_index(std::string_view name) {
    for (size_t i = 0; i < std::size(kLimits); ++i)
        if (name == kLimits[i].name) return static_cast<int>(i);
    return -1;
}

// The limit entry of a field name; nullptr for a name the messages do not use.
inline const Limit *limit_of(std::string_view name) {
    int i = limit_index(name);
    return i < 0 ? nullptr : &kLimits[i];
}

}  // namespace ostrel::ras
