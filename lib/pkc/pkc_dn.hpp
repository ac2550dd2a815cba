// Names as text and attribute strings in the local code set, for the library's other modules
// (the certificate record, alternative names, distribution points).
#pragma once

#include <cstddef>
#include <string>

#include "pkc_internal.h"

namespace ostrel::pkc {

// Most bytes of one value in the text form.
inline constexpr size_t kMaxValueBytes = 201;

// Appends the text form of a name (no trailing separator). 0, or QRT_PKC_BAD_RDN for a name that
// is no RDN sequence or holds a value that does not decode. Throws std::bad_alloc.
int name_to_text(const Name &name, std::string &out);
// Appends one RDN, its members joined by "+" (no trailing separator), as for a name relative to
// a CRL issuer. Same results.
int rdn_to_text(RelativeDistinguishedName rdn, std::string &out);

// One DER string (tag, length, content) in the local code set, uncut, into out (replaced).
// False for an unsupported tag, a malformed encoding, an empty content or a character the local
// code set lacks.
bool decode_string(const unsigned char *der, size_t length, std::string &out);

// UTF-8 to the local code set and back, appended to out; false when a character does not convert.
bool utf8_to_local(const char *utf8, size_t length, std::string &out);
bool local_to_utf8(const char *local, size_t length, std::string &out);

// The longest prefix of s, at most limit bytes, that ends on a character of the local code set.
size_t whole_chars(const char *s, size_t length, size_t limit);

}  // namespace ostrel::pkc
