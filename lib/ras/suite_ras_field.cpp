// Field encoding and decoding: the per-field limits, "value$" in the text forms and
// "name?value#" in the web form.
#include <algorithm>
#include <cstring>

#include "ostrel/textmsg.hpp"
#include "ras_internal.h"

namespace ostrel::ras {
namespace {

// A text-form value may run this far before its "$" at most.
constexpr size_t kMaxTextValue = 1000001;

}  // namespace

Bound bound_of(std::string_view name, int nType, size_t width) { return bound_of(limit_of(name), nType, width); }

Bound bound_of(const Limit *l, int nType, size_t width) {
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
    return OSTREL_GUARD_TRACE([&] {
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
    if (v.find('\0') != std::string_view::npos) return OSTREL_FAIL(QRT_RAS_INVALID_INPUT);
    if (!v.empty()) std::memcpy(value, v.data(), v.size());
    value[v.size()] = '\0';
    return 0;
}

QRT_API int QRT_RAS_GetDataLenSize(void) { return 4; }

}  // extern "C"
