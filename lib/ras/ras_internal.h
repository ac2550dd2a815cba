// Private declarations shared by the RA service-message modules.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ras_limits.h"
#include "suite_ras.h"

#define OSTREL_REASON_FN QRT_RAS_GetErrorReason
#include "ostrel/guard.hpp"
#include "ostrel/reader.hpp"
#include "ostrel/trace.hpp"

namespace ostrel::ras {
// The boundary of the exported functions (ostrel/guard.hpp). The library has no internal-failure
// code; other exceptions read as invalid input.
inline constexpr Boundary kBoundary{OSTREL_FAIL_FN, QRT_RAS_INVALID_INPUT, QRT_RAS_MALLOC_FAILED,
                                    QRT_RAS_INVALID_INPUT};
}  // namespace ostrel::ras
#define OSTREL_BOUNDARY ::ostrel::ras::kBoundary

namespace ostrel::ras {

// ---- Field limits (suite_ras_field.cpp) --------------------------------------------------

inline bool valid_form(int nType) {
    return nType == QRT_RAS_FORM_TEXT_OLD || nType == QRT_RAS_FORM_TEXT || nType == QRT_RAS_FORM_WEB;
}

// Appends one field; 71060 when the value holds the form's separator or a web name is empty.
int put_value(std::string &out, std::string_view name, std::string_view value, int nType);

// The fields of one web-form record body ("name?value#..."), indexed once: the first segment
// of a name wins, and names only match at segment starts.
class WebFields {
  public:
    explicit WebFields(std::string_view body);
    // True and the value when the body holds the field.
    bool find(std::string_view name, std::string_view &value) const;

  private:
    std::string_view body_;
};

// Reads the next text-form value (up to "$") from a record body; 71060 when there is no "$".
int next_text_value(std::string_view body, size_t &pos, std::string_view &value);

// The largest value a field may carry in a form and a destination of `width` bytes, and the
// code for exceeding it; 71110 as the code when the name is unknown.
struct Bound {
    size_t max;
    int code;
};
Bound bound_of(std::string_view name, int nType, size_t width);
Bound bound_of(const Limit *limit, int nType, size_t width);

// ---- Operation layouts (suite_ras_layout.cpp) --------------------------------------------

enum FormBit : uint8_t { kOld = 1, kText = 2, kWeb = 4 };
constexpr uint8_t kAll = kOld | kText | kWeb;
constexpr uint8_t kTextOnly = kText;          // form 1 only
constexpr uint8_t kTextAndWeb = kText | kWeb;  // forms 1 and 2
constexpr uint8_t kWebOnly = kWeb;

inline uint8_t form_bit(int nType) {
    return nType == QRT_RAS_FORM_TEXT_OLD ? kOld : nType == QRT_RAS_FORM_TEXT ? kText : kWeb;
}

// When a field is present besides its form.
enum class When : uint8_t {
    always,
    code_zero,     // the record's `code` is all zeros
    code_nonzero,  // the record's `code` is not
    ref1,          // `ref_no` is "1"
    ref2,
    ref3,
};

struct Field {
    const char *name;
    uint32_t offset;
    uint32_t width;  // bytes, terminator included
    uint8_t forms;
    When when;
    uint8_t limit_at;  // index into kLimits
    const Limit *limit() const { return &kLimits[limit_at]; }
};

struct Layout {
    const Field *fields;
    size_t count;
    size_t size;         // sizeof the structure
    ptrdiff_t next;      // offset of the `next` pointer of a list, or -1
    bool combined_name;  // user_name carries "name(english name)" in the text forms
};

struct Operation {
    int opcode;
    int request;  // service codes
    int reply;
    int web;      // -1 when the operation cannot be framed in the web form
    bool legacy;  // known to the older header builders
    Layout req;
    Layout rep;
};

const Operation *find_op(int opcode);
const Operation *find_op_by_service(int serviceCode);
const Operation *find_op_by_web(int webCode);

// ---- Records (suite_ras_record.cpp) ------------------------------------------------------

// The body of one record of a structure.
int encode_body(std::string &out, const Layout &layout, const void *msg, int nType);
// Parses one record body into a structure the caller allocated and zeroed.
int decode_body(void *msg, const Layout &layout, std::string_view body, int nType);
// A new zeroed structure of the layout; nullptr when memory is short.
void *new_struct(const Layout &layout);
// Releases a structure (and for a list the whole chain), wiping it first.
void free_struct(const Layout &layout, void *msg);

// Appends the four-digit length and the body; 71004 when the body needs more digits.
int frame_record(std::string &out, std::string_view body);
// Splits the next four-digit-length record off `in`: 71103 for a length that is not digits,
// 71060 when it claims more bytes than remain.
int next_record(Reader &in, std::string_view &body);

// Records of a request (one) or a reply (one per list element) into out; *count the records.
// More than `max` records (9999 when negative) fail with `overflow`, so a cyclic list ends.
int encode_records(std::string &out, const Operation &op, bool request, const void *msg, int nType, int *count,
                   int max, int overflow);
// Parses one request record or `count` reply records from in into a new structure.
int decode_records(void **msg, const Operation &op, bool request, Reader &in, int count, int nType);

// ---- Headers (suite_ras_header.cpp) ------------------------------------------------------

int encode_header(std::string &out, const ZQ_RAS_MsgHeader &header, size_t bodyLen, int nType);
int decode_header(ZQ_RAS_MsgHeader &header, Reader &in, int nMsgType, int nType);

inline std::string_view view_of(const BIN *b) {
    if (!b || !b->value) return {};
    return {reinterpret_cast<const char *>(b->value), b->length};
}

}  // namespace ostrel::ras
