// Private declarations shared by the CA service-message modules.
#pragma once

#include <string>
#include <string_view>

#include "suite_cas.h"

#define OSTREL_REASON_FN QRT_CAS_GetErrorReason
#include "ostrel/guard.hpp"
#include "ostrel/trace.hpp"

namespace ostrel::cas {
// The boundary of the exported functions (ostrel/guard.hpp). The library has no internal-failure
// code; other exceptions read as invalid input.
inline constexpr Boundary kBoundary{OSTREL_FAIL_FN, QRT_CAS_INVALID_INPUT, QRT_CAS_MALLOC_FAILED,
                                    QRT_CAS_INVALID_INPUT};
}  // namespace ostrel::cas
#define OSTREL_BOUNDARY ::ostrel::cas::kBoundary

namespace ostrel::cas {

inline bool valid_form(int nType) {
    return nType == QRT_CAS_FORM_BINARY || nType == QRT_CAS_FORM_TEXT || nType == QRT_CAS_FORM_WEB;
}

inline std::string_view view_of(const BIN *b) {
    if (!b || !b->value) return {};
    return {reinterpret_cast<const char *>(b->value), b->length};
}

// The integrity value of a record body: hex of the signature when `sign` is given, else of the
// SHA-1 digest.
int integrity_hex(std::string &hex, std::string_view body, CB_ComputeSignature sign);

// Checks the integrity value that ends a received record body ("...$<hex>$") and gives the
// fields before it and the hex text.
int check_integrity(std::string_view record, std::string_view &fields, std::string_view &hex);

// Headers of the three forms; `offset` receives where the records begin.
int encode_header(BIN *out, const ZQ_CAS_MsgHeader &header, int nType);
int decode_header(ZQ_CAS_MsgHeader &header, const BIN &in, int nMsgType, int nType, int &offset);

}  // namespace ostrel::cas
