// Field encoding and decoding: the per-field limits, "value$" in the text forms and
// "name?value#" in the web form.
#include <algorithm>
#include <cstring>

#include "ostrel/guard.hpp"
#include "ostrel/textmsg.hpp"
#include "ras_internal.h"

namespace ostrel::ras {
namespace {

// Maximum characters per field name, text and web form, and the code for exceeding it.
constexpr Limit kLimits[] = {
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

// A text-form value may run this far before its "$" at most.
constexpr size_t kMaxTextValue = 1000001;

}  // namespace

const Limit *find_limit(std::string_view name) {
    for (const Limit &l : kLimits)
        if (name == l.name) return &l;
    return nullptr;
}

Bound bound_of(std::string_view name, int nType, size_t width) {
    const Limit *l = find_limit(name);
    if (!l) return {0, QRT_RAS_INVALID_FIELD_NAME};
    size_t max = nType == QRT_RAS_FORM_WEB ? l->web : l->text;
    if (width > 0) max = std::min(max, width - 1);
    return {max, l->code};
}

int put_value(std::string &out, std::string_view name, std::string_view value, int nType) {
    if (nType == QRT_RAS_FORM_WEB) {
        if (name.empty() || name.find_first_of("?#") != std::string_view::npos) return QRT_RAS_INVALID_INPUT;
        // A "#" inside the value would end it early and shift every later field.
        if (value.find('#') != std::string_view::npos) return QRT_RAS_INVALID_INPUT;
        out.append(name).append(1, '?').append(value).append(1, '#');
        return 0;
    }
    // A "$" inside the value would split it into two fields.
    if (value.find('$') != std::string_view::npos) return QRT_RAS_INVALID_INPUT;
    out.append(value).append(1, '$');
    return 0;
}

WebFields::WebFields(std::string_view body) : body_(body) {}

bool WebFields::find(std::string_view name, std::string_view &value) const {
    size_t at = 0;
    while (at < body_.size()) {
        size_t end = body_.find('#', at);
        if (end == std::string_view::npos) end = body_.size();
        std::string_view seg = body_.substr(at, end - at);
        if (seg.size() > name.size() && seg[name.size()] == '?' && seg.compare(0, name.size(), name) == 0) {
            value = seg.substr(name.size() + 1);
            return true;
        }
        at = end + 1;
    }
    return false;
}

int next_text_value(std::string_view body, size_t &pos, std::string_view &value) {
    if (pos > body.size()) return QRT_RAS_INVALID_INPUT;
    size_t span = std::min(body.size() - pos, kMaxTextValue + 1);
    const void *hit = std::memchr(body.data() + pos, '$', span);
    if (!hit) return QRT_RAS_INVALID_INPUT;
    size_t end = static_cast<size_t>(static_cast<const char *>(hit) - body.data());
    value = body.substr(pos, end - pos);
    pos = end + 1;
    return 0;
}

}  // namespace ostrel::ras

using namespace ostrel::ras;

extern "C" {

QRT_API int QRT_RAS_PutValue(BIN *out, const char *fieldName, const char *value, int nType) {
    if (!out || !valid_form(nType) || (out->length && !out->value)) return OSTREL_FAIL(QRT_RAS_INVALID_INPUT);
    if (nType == QRT_RAS_FORM_WEB && (!fieldName || !*fieldName)) return OSTREL_FAIL(QRT_RAS_INVALID_INPUT);
    int rc = ostrel::guard(QRT_RAS_MALLOC_FAILED, QRT_RAS_INVALID_INPUT, [&] {
        std::string piece;
        int r = put_value(piece, fieldName ? fieldName : "", value ? value : "", nType);
        if (r) return r;
        size_t total = size_t{out->length} + piece.size();
        if (total > 0x7FFFFFFFu) return QRT_RAS_REC_TOO_LONG;
        auto *p = static_cast<unsigned char *>(QRT_realloc(out->value, total + 1));
        if (!p) return QRT_RAS_MALLOC_FAILED;
        std::memcpy(p + out->length, piece.data(), piece.size());
        p[total] = 0;
        out->value = p;
        out->length = static_cast<unsigned int>(total);
        return 0;
    });
    return rc ? OSTREL_FAIL(rc) : 0;
}

QRT_API int QRT_RAS_GetValue(char *value, int valueSize, const char *fieldName, const BIN *body, int *pos,
                             int nType) {
    if (!value || valueSize < 1 || !fieldName || !body || (body->length && !body->value) || !valid_form(nType))
        return OSTREL_FAIL(QRT_RAS_INVALID_INPUT);
    if (nType != QRT_RAS_FORM_WEB && (!pos || *pos < 0)) return OSTREL_FAIL(QRT_RAS_INVALID_INPUT);
    value[0] = '\0';
    Bound b = bound_of(fieldName, nType, static_cast<size_t>(valueSize));
    if (b.code == QRT_RAS_INVALID_FIELD_NAME) return OSTREL_FAIL(b.code);
    std::string_view text = view_of(body), v;
    if (nType == QRT_RAS_FORM_WEB) {
        if (!WebFields(text).find(fieldName, v)) return 0;
        if (std::strcmp(fieldName, "code") == 0 && v == "000") v = "0000";
    } else {
        size_t p = static_cast<size_t>(*pos);
        int rc = next_text_value(text, p, v);
        if (rc) return OSTREL_FAIL(rc);
        if (p > 0x7FFFFFFFu) return OSTREL_FAIL(QRT_RAS_REC_TOO_LONG);
        if (v.size() > b.max) return OSTREL_FAIL(b.code);
        *pos = static_cast<int>(p);
    }
    if (v.size() > b.max) return OSTREL_FAIL(b.code);
    std::memcpy(value, v.data(), v.size());
    value[v.size()] = '\0';
    return 0;
}

QRT_API int QRT_RAS_GetDataLenSize(void) { return 4; }

}  // extern "C"
