// Where a call goes and what it asks for: the location (an LDAP URL or a host with an optional
// port), the attribute pair of the object kind, and the base DN converted from EUC-KR to UTF-8.
#include <ldap.h>

#include <charconv>
#include <memory>
#include <string_view>

#include "ldap_internal.h"
#include "suite_codec.h"

namespace ostrel::ldap {
namespace {

constexpr int kDefaultPort = 389;
constexpr char kAnyObject[] = "(objectclass=*)";

struct KindAttrs {
    int kind;
    const char *plain;
    const char *binary;
};

constexpr KindAttrs kKinds[] = {
    {QRT_LDAP_CA_CERT, "cACertificate", "cACertificate;binary"},
    {QRT_LDAP_USER_CERT, "userCertificate", "userCertificate;binary"},
    {QRT_LDAP_ARL, "authorityRevocationList", "authorityRevocationList;binary"},
    {QRT_LDAP_CRL, "certificateRevocationList", "certificateRevocationList;binary"},
    {QRT_LDAP_DELTA_CRL, "deltaRevocationList", "deltaRevocationList;binary"},
    {QRT_LDAP_TRUST_LIST, "certificateTrustList", "certificateTrustList;binary"},
    {QRT_LDAP_SIGN_CERT, "signCertificate", "signCertificate;binary"},
};

const KindAttrs *find_kind(int kind) {
    for (const KindAttrs &k : kKinds)
        if (k.kind == kind) return &k;
    return nullptr;
}

// The texts of ldap_url_parse's codes, which are not LDAP result codes.
constexpr const char *kUrlErrors[] = {
    "success",
    "can't allocate memory space",
    "parameter is bad",
    "URL doesn't begin with ldap[si]://",
    "URL is missing trailing \">\"",
    "URL is bad",
    "host port is bad",
    "bad (or missing) attributes",
    "scope string is invalid (or missing)",
    "bad or missing filter",
    "bad or missing extensions",
};

const char *url_error_text(int rc) {
    return rc >= 0 && rc < static_cast<int>(std::size(kUrlErrors)) ? kUrlErrors[rc] : "unknown URL error";
}

struct UrlDescFree {
    void operator()(LDAPURLDesc *d) const { ldap_free_urldesc(d); }
};
using UrlDesc = std::unique_ptr<LDAPURLDesc, UrlDescFree>;

struct MemFree {
    void operator()(char *p) const { ldap_memfree(p); }
};

// A host that ldap_initialize would read as more than one server: it takes a list of URLs
// separated by commas or blanks, and libldap writes both into a URL's host unescaped.
bool names_several(std::string_view host) {
    for (unsigned char c : host)
        if (c == ',' || c <= 0x20 || c == 0x7f) return true;
    return false;
}

// scheme://host:port for ldap_initialize, escaped by libldap and read back to be sure it names
// that one server; empty when it cannot (a host with characters no URL may hold or with list
// separators, a port out of range).
std::string server_url(const char *scheme, const char *host, int port) {
    if (port < 1 || port > 65535 || names_several(host)) return {};
    LDAPURLDesc d{};
    d.lud_scheme = const_cast<char *>(scheme);
    d.lud_host = const_cast<char *>(host);
    d.lud_port = port;
    d.lud_scope = LDAP_SCOPE_DEFAULT;
    std::unique_ptr<char, MemFree> s(ldap_url_desc2str(&d));
    if (!s) return {};
    LDAPURLDesc *back = nullptr;
    int rc = ldap_url_parse(s.get(), &back);
    UrlDesc owned(back);
    if (rc != LDAP_URL_SUCCESS || back->lud_port != port ||
        std::string_view(back->lud_host ? back->lud_host : "") != host)
        return {};
    return s.get();
}

// "host", "host:port", "[address]:port" or a bare IPv6 address; false for a port that is not
// a number from 1 to 65535.
bool split_host(std::string_view loc, std::string &host, int &port) {
    port = kDefaultPort;
    std::string_view rest;
    if (!loc.empty() && loc.front() == '[') {
        size_t close = loc.find(']');
        if (close == std::string_view::npos) return false;
        host.assign(loc.substr(1, close - 1));
        rest = loc.substr(close + 1);
        if (rest.empty()) return true;
        if (rest.front() != ':') return false;
        rest.remove_prefix(1);
    } else {
        size_t colon = loc.find(':');
        if (colon == std::string_view::npos || loc.find(':', colon + 1) != std::string_view::npos) {
            host.assign(loc);  // no port, or an IPv6 address without brackets
            return true;
        }
        host.assign(loc.substr(0, colon));
        rest = loc.substr(colon + 1);
    }
    int p = 0;
    auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), p);
    if (ec != std::errc() || end != rest.data() + rest.size() || p < 1 || p > 65535) return false;
    port = p;
    return true;
}

// ldap_init's own failure when there is no usable server address.
int bad_server(const char *fn) {
    QRT_Trace_PutError("ldap_init", LDAP_PARAM_ERROR, ldap_err2string(LDAP_PARAM_ERROR), __FILE__, __LINE__);
    return OSTREL_FAIL_AS(fn, QRT_LDAP_INIT_FAILED);
}

}  // namespace

Access access_of(const timeval *timeout) {
    Access a;
    if (timeout && (timeout->tv_sec > 0 || (timeout->tv_sec == 0 && timeout->tv_usec > 0))) a.timeout = timeout;
    return a;
}

Access access_of(const ZQ_LDAP_GET_PARAM *param) {
    if (!param) return Access{};
    Access a = access_of(param->timeout);
    if (param->bindDN && param->bindPW) {
        a.bind_dn = param->bindDN;
        a.bind_pw = param->bindPW;
    }
    return a;
}

int make_query(const char *fn, const char *location, const char *dn, int kind, Query &q) {
    const char *base = dn;
    UrlDesc url;
    if (ldap_is_ldap_url(location)) {  // any ldap scheme
        LDAPURLDesc *d = nullptr;
        int rc = ldap_url_parse(location, &d);
        url.reset(d);
        if (rc != LDAP_URL_SUCCESS) {
            QRT_Trace_PutError("ldap_url_parse", rc, url_error_text(rc), __FILE__, __LINE__);
            return OSTREL_FAIL_AS(fn, QRT_LDAP_URL_PARSE_FAILED);
        }
        // An empty host leaves the choice of server to the client library's defaults.
        q.server = server_url(url->lud_scheme, url->lud_host ? url->lud_host : "", url->lud_port);
        if (q.server.empty()) return bad_server(fn);
        base = url->lud_dn ? url->lud_dn : "";
        q.scope = url->lud_scope == LDAP_SCOPE_DEFAULT ? LDAP_SCOPE_BASE : url->lud_scope;
        if (url->lud_filter && *url->lud_filter) q.filter = url->lud_filter;
        for (char **a = url->lud_attrs; a && *a; ++a) q.attrs.emplace_back(*a);
    } else {
        if (!dn || !*location) return OSTREL_FAIL_AS(fn, QRT_LDAP_INVALID_INPUT);
        std::string host;
        int port = kDefaultPort;
        if (!split_host(location, host, port) || host.empty()) return bad_server(fn);
        q.server = server_url("ldap", host.c_str(), port);
        if (q.server.empty()) return bad_server(fn);
        q.scope = LDAP_SCOPE_BASE;
    }
    if (q.filter.empty()) q.filter = kAnyObject;

    if (q.attrs.empty()) {
        const KindAttrs *k = find_kind(kind);
        if (!k) return OSTREL_FAIL_AS(fn, QRT_LDAP_INVALID_KIND);
        q.attrs = {k->plain, k->binary};
    }

    char *utf8 = nullptr;
    int len = 0;
    if (int rc = QRT_EncodeUTF8(base, &utf8, &len)) {
        QRT_free(utf8);
        return OSTREL_FAIL_AS(fn, rc);
    }
    qrt_ptr<char> owned(utf8);
    q.base.assign(utf8, static_cast<size_t>(len));
    return 0;
}

}  // namespace ostrel::ldap
