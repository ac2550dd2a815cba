// Directory fetching: the library builds an LDAP URI and hands it to the caller's
// CB_LDAP_GetObject, which answers with the values found (DER or PEM). Every buffer is bounded:
// a URI that does not fit its 1024 bytes fails, an answer is read to its first 64 values, a PEM
// value is decoded within its own bytes. A callback failure only moves the search on; "not found"
// answers leave no trace record.
#include <string>

#include "pvd_internal.h"
#include "suite_codec.h"

namespace ostrel::pvd {
namespace {

constexpr std::string_view kLdapScheme = "ldap://";
constexpr std::string_view kPemBegin = "-----BEGIN";

// The prefix of url up to and including the first "/" after "ldap://"; npos when there is none.
size_t server_end(std::string_view url) {
    size_t s = url.find(kLdapScheme);
    if (s == std::string_view::npos) return std::string_view::npos;
    size_t slash = url.find('/', s + kLdapScheme.size());
    return slash == std::string_view::npos ? slash : slash + 1;
}

// Writes uri into dst (PVD_URI_MAX bytes) when it fits with its terminating zero.
int put_uri(char *dst, const std::string &uri) {
    dst[0] = '\0';
    if (uri.size() >= PVD_URI_MAX) return -1;
    std::memcpy(dst, uri.c_str(), uri.size() + 1);
    return 0;
}

int encode_uri(char *dst, const char *serverURL, const char *name, const char *crldpURL) {
    dst[0] = '\0';
    std::string uri;
    if (serverURL) {
        uri = serverURL;
        if (uri.empty() || uri.back() != '/') uri.push_back('/');
    } else {
        std::string_view dp(crldpURL);
        size_t end = server_end(dp);
        if (end == std::string_view::npos) return -1;
        uri.assign(dp.substr(0, end));
    }
    uri.append(name);
    return put_uri(dst, uri);
}

int decode_pem(BIN *out, const BIN &bin) {
    std::string_view v = view_of(bin);
    size_t nl = v.find('\n');
    if (nl == std::string_view::npos) return QRT_PVD_CRL_INVALID;
    std::string text;
    for (char c : v.substr(nl + 1)) {
        if (c == '-') break;
        if (c != '\r' && c != '\n') text.push_back(c);
    }
    BinOwner der;
    if (QRT_Base64ToBin(text.c_str(), der.get()) != 0 || !has_bytes(der.get())) return QRT_PVD_CRL_INVALID;
    der.release_to(out);
    return 0;
}

bool is_pem(const BIN &b) { return view_of(b).substr(0, kPemBegin.size()) == kPemBegin; }

int post_process(ZQ_BIN_LIST *list) {
    // read no more than the first values
    size_t n = 1;
    for (ZQ_BIN_LIST *p = list; p->next; p = p->next) {
        if (++n > PVD_LDAP_MAX_VALUES) {
            QRT_BIN_LIST_Free(p->next);
            p->next = nullptr;
            break;
        }
    }
    for (ZQ_BIN_LIST *p = list; p; p = p->next) {
        if (!is_pem(p->value)) continue;
        BIN der{0, nullptr};
        if (int rc = QRT_PVD_DecodePEM(&der, &p->value)) return rc;
        QRT_BIN_Reset(&p->value);
        p->value = der;
    }
    // runs of equal adjacent values collapse to one
    for (ZQ_BIN_LIST *p = list; p;) {
        ZQ_BIN_LIST *next = p->next;
        if (next && QRT_BIN_Cmp(&p->value, &next->value) == 0) {
            p->next = next->next;
            next->next = nullptr;
            QRT_BIN_LIST_Free(next);
            continue;
        }
        p = next;
    }
    return 0;
}

bool directory_usable(const ZQ_PVD_Context &ctx) { return !ctx.ldapDisable && ctx.cb.CB_LDAP_GetObject; }

int call_directory(ZQ_PVD_Context &ctx, ZQ_BIN_LIST *list, int typeID, const char *uri) {
    ++ctx.ldapCalls;
    return ctx.cb.CB_LDAP_GetObject(list, typeID, uri);
}

int from_servers(ZQ_PVD_Context &ctx, ZQ_BIN_LIST *list, int typeID, const char *name) {
    if (ctx.ldapInfon < 1 || !ctx.cb.CB_LDAP_GetObject) return QRT_PVD_CERT_NOT_FOUND;
    int last = QRT_PVD_CERT_NOT_FOUND;
    int count = ctx.ldapInfon < PVD_MAX_LDAPINFO ? ctx.ldapInfon : PVD_MAX_LDAPINFO;
    for (int i = 0; i < count; ++i) {
        char uri[PVD_URI_MAX];
        const char *server = ctx.ldapInfos[i].srvrURL;
        if (!server || encode_uri(uri, server, name, nullptr) != 0) continue;  // no URI: nothing to ask
        QRT_BIN_LIST_Reset(list);
        last = call_directory(ctx, list, typeID, uri);
        if (last == 0) return post_process(list);
    }
    QRT_BIN_LIST_Reset(list);
    return last;
}

// The first call for a cursor fetches with `fetch`; each call hands out one value.
template <class Fetch>
int cursor_get(ZQ_PVD_BuildCursor *cursor, BIN *out, int notFound, Fetch &&fetch) {
    if (!cursor->fetched) {
        ListOwner list;
        ZQ_BIN_LIST *got = fetch(list.head) == 0 && !list.empty() ? list.release() : nullptr;
        cursor_set(cursor, got);
    }
    return cursor_take(cursor, out) ? 0 : notFound;
}

int get_cert(ZQ_PVD_Context &ctx, ZQ_PVD_BuildCursor *cursor, BIN *out, const char *dn, const char *crldpURL) {
    return cursor_get(cursor, out, QRT_PVD_CERT_NOT_FOUND, [&](ZQ_BIN_LIST *list) {
        if (from_servers(ctx, list, PVD_TYPE_CA, dn) == 0 && has_bytes(&list->value)) return 0;
        QRT_BIN_LIST_Reset(list);
        if (!crldpURL) return QRT_PVD_CERT_NOT_FOUND;
        // once more at the distribution point's server
        char uri[PVD_URI_MAX];
        if (encode_uri(uri, nullptr, dn, crldpURL) != 0) return QRT_PVD_CERT_NOT_FOUND;
        if (int rc = call_directory(ctx, list, PVD_TYPE_CA, uri)) return rc;
        return post_process(list);
    });
}

int get_crl(ZQ_PVD_Context &ctx, BIN *out, int crlType, const char *dpURL) {
    if (!dpURL) return QRT_PVD_CRL_NOT_FOUND;  // no DN to look up
    char *server = nullptr, *dn = nullptr;
    if (QRT_PVD_CRLDP_Decode(&server, &dn, dpURL) != 0) return QRT_PVD_CERT_CRLDP_INVALID;
    std::string base(server), name(dn);
    QRT_free(server);
    QRT_free(dn);
    ListOwner list;
    // the distribution point's own server first, then each configured one with the same DN
    int count = ctx.ldapInfon < PVD_MAX_LDAPINFO ? ctx.ldapInfon : PVD_MAX_LDAPINFO;
    for (int i = -1; i < count; ++i) {
        char uri[PVD_URI_MAX];
        int rc = i < 0                      ? put_uri(uri, base + name)
                 : ctx.ldapInfos[i].srvrURL ? encode_uri(uri, ctx.ldapInfos[i].srvrURL, name.c_str(), nullptr)
                                            : -1;
        if (rc != 0) continue;
        QRT_BIN_LIST_Reset(list.head);
        if (call_directory(ctx, list.head, crlType, uri) != 0) continue;
        // the first value, a PEM one decoded
        for (ZQ_BIN_LIST *p = list.head; p; p = p->next) {
            if (!has_bytes(&p->value)) continue;
            if (is_pem(p->value)) return QRT_PVD_DecodePEM(out, &p->value);
            *out = p->value;
            p->value = BIN{0, nullptr};
            return 0;
        }
    }
    return QRT_PVD_CRL_NOT_FOUND;
}

// The value of the first "O=" attribute of dn (at an attribute's start), up to the next ",".
std::string organisation(std::string_view dn) {
    for (size_t i = 0; i + 1 < dn.size(); ++i) {
        bool start = i == 0 || ((dn[i - 1] == ',' || dn[i - 1] == '+') && (i < 2 || dn[i - 2] != '\\'));
        if (!start || (dn[i] != 'O' && dn[i] != 'o') || dn[i + 1] != '=') continue;
        std::string_view v = dn.substr(i + 2);
        v = v.substr(0, v.find(','));
        return std::string(v.substr(0, PVD_DN_RELATED_MAX));
    }
    return std::string();
}

}  // namespace
}  // namespace ostrel::pvd

using namespace ostrel::pvd;

extern "C" {

QRT_API int QRT_PVD_EncodeURI(char *dst, const char *serverURL, const char *name, const char *crldpURL) {
    if (!dst || !name || (!serverURL && !crldpURL)) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    return PVD_FAIL(contained([&] { return encode_uri(dst, serverURL, name, crldpURL); }));
}

QRT_API int QRT_PVD_CRLDP_Decode(char **serverOut, char **dnOut, const char *crldpURL) {
    if (serverOut) *serverOut = nullptr;
    if (dnOut) *dnOut = nullptr;
    if (!crldpURL) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    int rc = contained([&] {
        std::string_view url(crldpURL);
        size_t end = server_end(url);
        if (end == std::string_view::npos) return -1;
        std::string_view dn = url.substr(end);
        dn = dn.substr(0, dn.find_first_of("?\n"));
        if (serverOut) *serverOut = dup_string(url.substr(0, end));
        if (dnOut) *dnOut = dup_string(dn);
        return 0;
    });
    if (rc) {
        if (serverOut) QRT_free(*serverOut), *serverOut = nullptr;
        if (dnOut) QRT_free(*dnOut), *dnOut = nullptr;
    }
    return PVD_FAIL(rc);
}

QRT_API int QRT_PVD_LDAP_ObjList_PostProcess(ZQ_BIN_LIST *list) {
    if (!list) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    return PVD_FAIL(contained([&] { return post_process(list); }));
}

QRT_API int QRT_PVD_LDAP_GetObjectUsingLDAPInfos(ZQ_PVD_Context *ctx, ZQ_BIN_LIST *list, const int typeID,
                                                 const char *name) {
    if (!ctx || !list || !name) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    return contained([&] { return from_servers(*ctx, list, typeID, name); });
}

QRT_API int QRT_PVD_LDAP_GetCert(ZQ_PVD_Context *ctx, ZQ_PVD_BuildCursor *cursor, BIN *out, const char *dn,
                                 const char *crldpURL) {
    if (!ctx || !cursor || !out || !dn) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    *out = BIN{0, nullptr};
    if (!directory_usable(*ctx)) return QRT_PVD_CERT_NOT_FOUND;
    return PVD_FAIL(contained([&] { return get_cert(*ctx, cursor, out, dn, crldpURL); }));
}

QRT_API int QRT_PVD_LDAP_GetCTL(ZQ_PVD_Context *ctx, ZQ_PVD_BuildCursor *cursor, BIN *out, const char *name) {
    if (!ctx || !cursor || !out || !name) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    *out = BIN{0, nullptr};
    if (!directory_usable(*ctx)) return QRT_PVD_CTL_NOT_FOUND;
    return PVD_FAIL(contained([&] {
        return cursor_get(cursor, out, QRT_PVD_CTL_NOT_FOUND,
                          [&](ZQ_BIN_LIST *list) { return from_servers(*ctx, list, PVD_TYPE_CTL, name); });
    }));
}

QRT_API int QRT_PVD_LDAP_GetCRL(ZQ_PVD_Context *ctx, BIN *out, const int crlType, const char *, const char *,
                                const char *dpURL) {
    if (!ctx || !out) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    *out = BIN{0, nullptr};
    if (!directory_usable(*ctx)) return QRT_PVD_CRL_NOT_FOUND;
    return PVD_FAIL(contained([&] { return get_crl(*ctx, out, crlType, dpURL); }));
}

QRT_API int QRT_PVD_IsPEM(const BIN *bin) { return bin && is_pem(*bin) ? 1 : 0; }

QRT_API int QRT_PVD_DecodePEM(BIN *out, const BIN *bin) {
    if (!out || !has_bytes(bin)) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    *out = BIN{0, nullptr};
    return PVD_FAIL(contained([&] { return decode_pem(out, *bin); }));
}

QRT_API int QRT_PVD_IsDNRelated(const char *dn, const char *text) {
    if (!dn || !text) return 0;
    int related = 0;
    contained([&] {
        std::string org = organisation(dn);
        related = !org.empty() && std::strstr(text, org.c_str()) ? 1 : 0;
        return 0;
    });
    return related;
}

}  // extern "C"
