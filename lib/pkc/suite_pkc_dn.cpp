// Distinguished names as one line of text and back.
//
// The text is a persisted key (stores hash it into paths and compare it), so its form is fixed:
// RDNs from the last to the first joined by ",", members of a multi-valued RDN (again last to
// first) joined by "+", each "NAME=value" with the value in the local code set, cut to 201 bytes
// on a whole character, the backslash and , = + < > ; escaped with a backslash and bytes below
// 0x20 as \xx. Attributes of types outside the table are left out; a value that decodes to ""
// is written as "=" alone. The parser undoes every escape the printer writes, so print, parse,
// print gives the same text.
//
// Lists are walked with loops, never by recursion: a decoded name may hold a million RDNs.
#include <algorithm>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "ostrel/asn_tree.hpp"
#include "pkc_dn.hpp"

namespace ostrel::pkc {
namespace {

enum class Syntax { Printable, IA5, UTF8, PrintOnly };

struct AttrName {
    const ObjectID *oid;
    const char *upper;
    const char *lower;
    Syntax syntax;  // the string type the parser builds
};

// C and DNQUALIFIER are PrintableString, E and DC IA5String (RFC 5280), ID is printed only.
const AttrName kNames[] = {
    {&id_at_countryName, "C", "c", Syntax::Printable},
    {&id_at_organizationName, "O", "o", Syntax::UTF8},
    {&id_at_organizationalUnitName, "OU", "ou", Syntax::UTF8},
    {&id_at_commonName, "CN", "cn", Syntax::UTF8},
    {&id_at_stateOrProvinceName, "S", "s", Syntax::UTF8},
    {&id_at_localityName, "L", "l", Syntax::UTF8},
    {&id_at_title, "T", "t", Syntax::UTF8},
    {&pkcs_9_at_emailAddress, "E", "e", Syntax::IA5},
    {&domainComponent, "DC", "dc", Syntax::IA5},
    {&pkcs_9_at_unstructuredName, "ID", "id", Syntax::PrintOnly},
    {&id_at_dnQualifier, "DNQUALIFIER", "dnqualifier", Syntax::Printable},
};

constexpr size_t kMaxText = 64 * 1024;
constexpr size_t kMaxRdns = 1024;

const AttrName *name_of(const ObjectID &oid) {
    for (const AttrName &a : kNames)
        if (oid_equal(*a.oid, oid))
            return &a;
    return nullptr;
}

const AttrName *name_of(std::string_view type) {
    for (const AttrName &a : kNames) {
        if (a.syntax == Syntax::PrintOnly || std::strlen(a.upper) != type.size()) continue;
        bool same = true;
        for (size_t i = 0; i < type.size() && same; ++i)
            same = (type[i] >= 'a' && type[i] <= 'z' ? type[i] - 32 : type[i]) == a.upper[i];
        if (same) return &a;
    }
    return nullptr;
}

// ---- Name to text --------------------------------------------------------------------------

bool is_special(unsigned char c) {
    return c == '\\' || c == ',' || c == '=' || c == '+' || c == '<' || c == '>' || c == ';';
}

void append_escaped(std::string &out, const char *s, size_t n) {
    static constexpr char kDigits[] = "0123456789abcdef";
    for (size_t i = 0; i < n; ++i) {
        auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x20) {
            const char esc[3] = {'\\', kDigits[c >> 4], kDigits[c & 15]};
            out.append(esc, 3);
        } else {
            if (is_special(c)) out += '\\';
            out += static_cast<char>(c);
        }
    }
}

// Appends NAME "=" value sep; an empty value gives "=" sep without the name.
bool append_attr(std::string &out, const char *shortName, const Any &value, char sep) {
    thread_local std::string text;
    bool ok = decode_string(value.value, value.length, text);
    if (ok) {
        size_t n = whole_chars(text.data(), text.size(), kMaxValueBytes);
        if (n) out += shortName;
        out += '=';
        append_escaped(out, text.data(), n);
        out += sep;
    }
    if (text.capacity() > 64 * 1024) std::string().swap(text);  // a huge value keeps no memory
    return ok;
}

// Visits the nodes of a list from the last to the first without recursion.
template <class Node, class F>
int for_each_reversed(const Node *head, F &&visit) {
    const Node *small[32];
    std::vector<const Node *> big;
    size_t n = 0;
    for (const Node *p = head; p; p = p->next) ++n;
    const Node **nodes = small;
    if (n > std::size(small)) {
        big.resize(n);
        nodes = big.data();
    }
    size_t i = 0;
    for (const Node *p = head; p; p = p->next) nodes[i++] = p;
    while (i)
        if (int rc = visit(*nodes[--i])) return rc;
    return 0;
}

int print_attr(std::string &out, const AttributeTypeAndValue &a, char sep, bool upper) {
    const AttrName *n = name_of(a.type);
    if (!n) return 0;
    return append_attr(out, upper ? n->upper : n->lower, a.value, sep) ? 0 : QRT_PKC_BAD_RDN;
}

// One RDN with its trailing ","; the members of a multi-valued one joined by "+".
int print_rdn(std::string &out, RelativeDistinguishedName rdn, bool upper) {
    if (!rdn) return 0;
    if (!rdn->next) return print_attr(out, rdn->value, ',', upper);
    size_t start = out.size();
    int rc = for_each_reversed(rdn, [&](const RelativeDistinguishedName_ &m) {
        return print_attr(out, m.value, '+', upper);
    });
    if (rc == 0 && out.size() > start) out.back() = ',';
    return rc;
}

int print_rdns(std::string &out, RDNSequence rdns, bool upper) {
    return for_each_reversed(rdns, [&](const RDNSequence_ &r) { return print_rdn(out, r.value, upper); });
}

// The public appenders hand the text to a string buffer in one piece.
int add_to(ZQ_PKC_StrBuf *buf, const std::string &text) {
    return QRT_PKC_StrBuf_AddString(buf, text.data(), static_cast<int>(text.size()));
}

// A returned string: QRT_malloc'ed so that any library may release it.
int give(const std::string &text, char **out) {
    auto *s = static_cast<char *>(QRT_malloc(text.size() + 1));
    if (!s) return QRT_PKC_MALLOC_FAILED;
    std::memcpy(s, text.data(), text.size());
    s[text.size()] = '\0';
    *out = s;
    return 0;
}

// The scratch text of the printers, kept per thread; a huge name does not keep its memory.
struct Scratch {
    std::string &s;
    Scratch() : s(buffer()) { s.clear(); }
    ~Scratch() {
        if (s.capacity() > 64 * 1024) std::string().swap(s);
    }
    static std::string &buffer() {
        thread_local std::string b;
        return b;
    }
};

int print_name_to(const Name *name, char **out) {
    *out = nullptr;
    Scratch text;
    int rc = name_to_text(*name, text.s);
    return rc ? rc : give(text.s, out);
}

// ---- Text to name --------------------------------------------------------------------------

void free_rdn(RelativeDistinguishedName rdn) {
    while (rdn) {
        RelativeDistinguishedName next = rdn->next;
        QRT_free(rdn->value.type.value);
        QRT_free(rdn->value.value.value);
        QRT_free(rdn);
        rdn = next;
    }
}

void free_rdns(RDNSequence rdns) {
    while (rdns) {
        RDNSequence next = rdns->next;
        free_rdn(rdns->value);
        QRT_free(rdns);
        rdns = next;
    }
}

// Owns a list under construction; releases it unless it was handed on.
template <class List, void (*Free)(List)>
struct ListOwner {
    List head = nullptr;
    ListOwner() = default;
    ListOwner(const ListOwner &) = delete;
    ListOwner &operator=(const ListOwner &) = delete;
    ~ListOwner() { Free(head); }
    List release() { return std::exchange(head, nullptr); }
    // A new zeroed node put in front of the list.
    List push_front() {
        auto node = static_cast<List>(QRT_calloc(1, sizeof(*head)));
        if (!node) throw std::bad_alloc();
        node->next = head;
        head = node;
        return node;
    }
};
using RdnOwner = ListOwner<RelativeDistinguishedName, free_rdn>;
using RdnsOwner = ListOwner<RDNSequence, free_rdns>;

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Undoes the escapes of a value: "\" and two hex digits is that byte, "\" and any other
// character that character. A lone trailing "\" or "\" with a single hex digit fails.
bool unescape(std::string_view in, std::string &out) {
    out.clear();
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '\\') {
            out += in[i];
            continue;
        }
        if (++i == in.size()) return false;
        int hi = hex_digit(in[i]);
        if (hi < 0) {
            out += in[i];
            continue;
        }
        if (i + 1 == in.size()) return false;
        int lo = hex_digit(in[i + 1]);
        if (lo < 0) return false;
        out += static_cast<char>(hi << 4 | lo);
        ++i;
    }
    return true;
}

// The end of the part of s that starts at `from` and runs to the first unescaped `stop` (or the
// end); an escape covers the one character after its backslash.
size_t find_unescaped(std::string_view s, size_t from, char stop) {
    for (size_t i = from; i < s.size(); ++i) {
        if (s[i] == '\\') ++i;
        else if (s[i] == stop) return i;
    }
    return s.size();
}

// Splits "TYPE=value" at its first unescaped "="; the value keeps its escapes.
bool split_item(std::string_view item, std::string_view &type, std::string_view &value) {
    size_t eq = find_unescaped(item, 0, '=');
    if (eq == item.size()) return false;
    type = item.substr(0, eq);
    value = item.substr(eq + 1);
    return !type.empty();
}

bool printable(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           std::strchr(" '()+,-./:=?", c) != nullptr;
}

// Strict UTF-8: shortest forms, no surrogates, at most U+10FFFF.
bool valid_utf8(const std::string &s) {
    const auto *p = reinterpret_cast<const unsigned char *>(s.data());
    size_t n = s.size();
    for (size_t i = 0; i < n;) {
        unsigned c = p[i];
        size_t k;
        uint32_t cp, min;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            k = 1, cp = c & 0x1F, min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            k = 2, cp = c & 0x0F, min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            k = 3, cp = c & 0x07, min = 0x10000;
        } else {
            return false;
        }
        if (n - i <= k) return false;
        for (size_t j = 1; j <= k; ++j) {
            if ((p[i + j] & 0xC0) != 0x80) return false;
            cp = cp << 6 | (p[i + j] & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += k + 1;
    }
    return true;
}

void put_length(std::string &der, size_t n) {
    if (n < 0x80) {
        der += static_cast<char>(n);
        return;
    }
    char bytes[4];
    int k = 0;
    for (size_t v = n; v; v >>= 8) bytes[k++] = static_cast<char>(v & 0xFF);
    der += static_cast<char>(0x80 | k);
    while (k) der += bytes[--k];
}

// Fills attr (zeroed) from a table entry and a value in the local code set: 0 or BAD_RDN.
// Values are 1 to 201 bytes, so that the printed text holds them whole; a country is two
// PrintableString characters.
int build_attr(AttributeTypeAndValue &attr, const AttrName &name, const std::string &local) {
    if (local.empty() || local.size() > kMaxValueBytes) return QRT_PKC_BAD_RDN;
    std::string content;
    unsigned char tag;
    switch (name.syntax) {
        case Syntax::Printable:
            if (!std::all_of(local.begin(), local.end(), [](char c) { return printable(static_cast<unsigned char>(c)); }))
                return QRT_PKC_BAD_RDN;
            if (name.oid == &id_at_countryName && local.size() != 2) return QRT_PKC_BAD_RDN;
            tag = 0x13;
            content = local;
            break;
        case Syntax::IA5:
            if (!std::all_of(local.begin(), local.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
                return QRT_PKC_BAD_RDN;
            tag = 0x16;
            content = local;
            break;
        case Syntax::UTF8:
            if (!local_to_utf8(local.data(), local.size(), content) || !valid_utf8(content)) return QRT_PKC_BAD_RDN;
            tag = 0x0C;
            break;
        default: return QRT_PKC_BAD_RDN;
    }
    std::string der(1, static_cast<char>(tag));
    put_length(der, content.size());
    der += content;

    auto *oid = static_cast<unsigned char *>(QRT_malloc(name.oid->length));
    auto *value = static_cast<unsigned char *>(QRT_malloc(der.size() + 1));  // engine trees end strings with a 0
    if (!oid || !value) {
        QRT_free(oid);
        QRT_free(value);
        throw std::bad_alloc();
    }
    std::memcpy(oid, name.oid->value, name.oid->length);
    std::memcpy(value, der.data(), der.size());
    value[der.size()] = 0;
    attr.type.length = name.oid->length;
    attr.type.value = oid;
    attr.value.length = static_cast<unsigned int>(der.size());
    attr.value.value = value;
    return 0;
}

int build_item(AttributeTypeAndValue &attr, std::string_view item, std::string &scratch) {
    std::string_view type, value;
    if (!split_item(item, type, value) || !unescape(value, scratch)) return QRT_PKC_BAD_RDN;
    const AttrName *name = name_of(type);
    return name ? build_attr(attr, *name, scratch) : QRT_PKC_BAD_RDN;
}

// RDNs are split at unescaped ",", members at unescaped "+"; each new RDN and each new member
// goes in front, so the text's first RDN becomes the name's last, as the printer expects.
int parse_name(std::string_view text, RDNSequence &out) {
    RdnsOwner rdns;
    std::string scratch;
    size_t count = 0;
    for (size_t at = 0; !text.empty() && at <= text.size();) {
        size_t end = find_unescaped(text, at, ',');
        if (++count > kMaxRdns) return QRT_PKC_BAD_RDN;
        std::string_view piece = text.substr(at, end - at);
        RdnOwner members;
        for (size_t m = 0; m <= piece.size();) {
            size_t plus = find_unescaped(piece, m, '+');
            int rc = build_item(members.push_front()->value, piece.substr(m, plus - m), scratch);
            if (rc) return rc;
            m = plus + 1;
        }
        rdns.push_front()->value = members.release();
        at = end + 1;
    }
    out = rdns.release();
    return 0;
}

}  // namespace

int name_to_text(const Name &name, std::string &out) {
    if (name.choice != Name_rdnSequence_chosen) return QRT_PKC_BAD_RDN;
    size_t start = out.size();
    int rc = print_rdns(out, name.u.rdnSequence, dn_upper());
    if (rc) return rc;
    if (out.size() > start) out.pop_back();  // the last RDN's ","
    return 0;
}

int rdn_to_text(RelativeDistinguishedName rdn, std::string &out) {
    size_t start = out.size();
    int rc = print_rdn(out, rdn, dn_upper());
    if (rc) return rc;
    if (out.size() > start) out.pop_back();
    return 0;
}

}  // namespace ostrel::pkc

using namespace ostrel::pkc;

extern "C" {

QRT_API int QRT_ExtractRDN(int, const Name *name, char **out) {
    if (!name || !out) return QRT_PKC_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] { return print_name_to(name, out); });
}

QRT_API int QRT_GetIssuerRDNFromCert(int, const TBSCertificate *tbs, char **out) {
    if (!tbs || !out) return QRT_PKC_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] { return print_name_to(&tbs->issuer, out); });
}

QRT_API int QRT_GetRDNFromCert(int, const TBSCertificate *tbs, char **out) {
    if (!tbs || !out) return QRT_PKC_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] { return print_name_to(&tbs->subject, out); });
}

QRT_API int QRT_ExtractDN(int, const BIN *certDER, int issuer, char **out) {
    if (!certDER || !out) return QRT_PKC_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        *out = nullptr;
        ostrel::AsnTree<Certificate> cert(Certificate_PDU);
        if (int rc = cert.decode(certDER)) return rc;
        const TBSCertificate &tbs = cert->tbsCertificate;
        return print_name_to(issuer ? &tbs.issuer : &tbs.subject, out);
    });
}

// The appenders leave each RDN's trailing separator, as the walk writes it.
QRT_API int QRT_PKC_AsnRDNs_ToString(ZQ_PKC_StrBuf *buf, const RDNSequence rdns) {
    if (!buf) return QRT_PKC_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        std::string text;
        int rc = print_rdns(text, rdns, dn_upper());
        return rc ? rc : add_to(buf, text);
    });
}

QRT_API int QRT_PKC_AsnMultiValuedRDNs_ToString(ZQ_PKC_StrBuf *buf, const RelativeDistinguishedName rdn) {
    if (!buf) return QRT_PKC_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        std::string text;
        int rc = print_rdn(text, rdn, dn_upper());
        return rc ? rc : add_to(buf, text);
    });
}

QRT_API int QRT_PKC_X520Name_ToString(ZQ_PKC_StrBuf *buf, const char *shortName, const Any *value) {
    if (!buf || !shortName || !value) return QRT_PKC_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        std::string text;
        return append_attr(text, shortName, *value, ',') ? add_to(buf, text) : QRT_PKC_BAD_RDN;
    });
}

QRT_API int QRT_PKC_X520CountryName_ToString(ZQ_PKC_StrBuf *buf, const char *shortName, const Any *value) {
    if (!buf || !shortName || !value) return QRT_PKC_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        std::string text;
        return append_attr(text, shortName, *value, ',') ? add_to(buf, text) : QRT_PKC_BAD_RDN;
    });
}

QRT_API int QRT_ImplementRDN(Name *out, const char *text) {
    if (!out || !text) return QRT_PKC_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        size_t n = strnlen(text, kMaxText + 1);
        if (n > kMaxText) return QRT_PKC_BAD_RDN;
        RDNSequence rdns = nullptr;
        if (int rc = parse_name(std::string_view(text, n), rdns)) return rc;
        out->choice = Name_rdnSequence_chosen;
        out->u.rdnSequence = rdns;
        return 0;
    });
}

QRT_API int QRT_GetAttrTypeAndValue(const char *item, int length, char **type, char **value) {
    if (!item || !type || !value) return QRT_PKC_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        *type = *value = nullptr;
        std::string_view whole(item, length < 0 ? std::strlen(item) : static_cast<size_t>(length));
        std::string_view t, v;
        std::string plain;
        if (!split_item(whole, t, v) || !unescape(v, plain)) return QRT_PKC_BAD_RDN;
        if (give(std::string(t), type)) throw std::bad_alloc();
        if (give(plain, value)) {
            QRT_free(std::exchange(*type, nullptr));
            throw std::bad_alloc();
        }
        return 0;
    });
}

QRT_API int QRT_PKC_AsnRDN_Encode(AttributeTypeAndValue *attr, const char *type, int typeLength, const char *value) {
    if (!(attr && type && value && typeLength > 0)) return QRT_PKC_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        *attr = AttributeTypeAndValue{};
        const AttrName *name = name_of(std::string_view(type, static_cast<size_t>(typeLength)));
        return name ? build_attr(*attr, *name, value) : QRT_PKC_BAD_RDN;
    });
}

QRT_API void QRT_PKC_AsnRDNs_Free(RDNSequence rdns) { free_rdns(rdns); }

QRT_API void QRT_NameFree(Name *name) {
    if (!name) return;
    if (name->choice == Name_rdnSequence_chosen) free_rdns(name->u.rdnSequence);
    *name = Name{};
}

}  // extern "C"
