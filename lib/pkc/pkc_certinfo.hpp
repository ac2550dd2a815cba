// Private pieces shared by the certificate record (suite_pkc) and the extension formatters
// (suite_pkc_exts): the identifier table's names, extension lookup and text helpers.
#pragma once

#include <string>
#include <vector>

#include "pkc_internal.h"

namespace ostrel::pkc {

// Hash name of a provider hash id ("SHA256"), nullptr when the table has none.
const char *hash_name(int hashID);

// The identity data an otherName of a subjectAltName carries: the holder's real name and the
// first VID with its hash.
struct Identity {
    std::string realName;  // UTF-8, as carried
    int hashID = -1;
    std::vector<unsigned char> vid;
};

// Reads DER IdentifyData; QRT_PKC_NO_VID_INFO when it holds no VID, QRT_PKC_UNKNOWN_HASHID for a
// hash without a name, QRT_PKC_BAD_EXTENSION when it does not decode.
int read_identity(const BIN &der, Identity &out);

// Dotted text of an identifier, "unknown" when it cannot be converted.
std::string dotted(const ObjectID &oid);

// Bytes of a string value up to its first NUL (a NUL would end the C field early).
std::string text_of(const BIN &b);

// A text field of fixed capacity: items are added while the text is shorter than the capacity
// less 2, and the result is cut to capacity - 1 bytes.
class Field {
  public:
    explicit Field(int capacity) : capacity_(capacity) {}
    bool full() const { return static_cast<int>(s_.size()) >= capacity_ - 2; }
    std::string &text() { return s_; }
    // Appends an item, preceded by sep when the text is not empty; false once full.
    bool add(const std::string &item, const char *sep = "\n") {
        if (full()) return false;
        if (item.empty()) return true;
        if (!s_.empty()) s_ += sep;
        s_ += item;
        return true;
    }
    void write(char *out) const { put_field(out, static_cast<size_t>(capacity_), s_); }

  private:
    int capacity_;
    std::string s_;
};

// Formatters with the locale conversions and traces left to their exported callers.
int general_name_text(std::string &out, const GeneralName &name);
int time_text(std::string &out, const Time &t);

}  // namespace ostrel::pkc
