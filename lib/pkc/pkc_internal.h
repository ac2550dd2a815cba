// Private declarations shared by the certificate library's modules.
#pragma once

#include <string>

#include "suite_pkc.h"

#define OSTREL_REASON_FN QRT_PKC_GetErrorReason
#include "ostrel/guard.hpp"
#include "ostrel/trace.hpp"

namespace ostrel::pkc {
inline constexpr Boundary kBoundary{OSTREL_FAIL_FN, QRT_PKC_INVALID_INPUT, QRT_PKC_MALLOC_FAILED,
                                    QRT_PKC_INTERNAL};
}  // namespace ostrel::pkc
#define OSTREL_BOUNDARY ::ostrel::pkc::kBoundary

namespace ostrel::pkc {

// The "locale" option: the code set names are written in and read from.
enum class Locale { KoEuc, KoUtf8, JaEuc, JaSjis, JaUtf8 };
Locale current_locale();
// The "dncase" option: true for upper-case attribute short names.
bool dn_upper();

// Lowercase hex of n bytes appended to out.
void append_hex(std::string &out, const unsigned char *p, size_t n);

// Copies s into a fixed field of `width` bytes (with the NUL), cut on a byte boundary.
void put_field(char *field, size_t width, const std::string &s);

}  // namespace ostrel::pkc
