// Arbitrary bytes as a location, a DN and a kind, through what the library parses itself before
// any connection: the URL or host[:port], the attribute pair and the EUC-KR base DN. A query that
// comes out must name exactly one server by a URL that parses back with no DN, attributes or
// filter, and carry attributes and a filter; nothing may leak.
#include <ldap.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "ldap_internal.h"

namespace {

constexpr int kKinds[] = {1, 2, 3, 65, 66, 67, 81, 145};

bool server_is_plain(const std::string &server) {
    LDAPURLDesc *d = nullptr;
    if (ldap_url_parse(server.c_str(), &d) != LDAP_URL_SUCCESS) return false;
    bool plain =
        (!d->lud_dn || !*d->lud_dn) && !d->lud_attrs && !d->lud_filter && d->lud_port > 0 && d->lud_port <= 65535;
    ldap_free_urldesc(d);
    return plain;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    const int kind = kKinds[data[0] % std::size(kKinds)];
    // location NUL dn; without a NUL the DN is absent.
    std::string rest(reinterpret_cast<const char *>(data + 1), size - 1);
    size_t nul = rest.find('\0');
    std::string location = rest.substr(0, nul);
    std::string dn = nul == std::string::npos ? std::string() : rest.substr(nul + 1);
    const char *dnp = nul == std::string::npos ? nullptr : dn.c_str();

    ostrel::ldap::Query q;
    int rc = ostrel::ldap::make_query("fuzz", location.c_str(), dnp, kind, q);
    if (rc != 0) return 0;
    if (q.server.find_first_of(", \t\r\n") != std::string::npos || !server_is_plain(q.server)) __builtin_trap();
    if (q.attrs.empty() || q.filter.empty()) __builtin_trap();
    return 0;
}
