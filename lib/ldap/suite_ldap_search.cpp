// One search per call over its own connection: connect and bind (LDAPv3, anonymous or simple),
// search, take the usable values, and release every libldap object on every path.
#include <ldap.h>

#include <cstring>
#include <mutex>

#include "ldap_internal.h"

namespace ostrel::ldap {
namespace {

constexpr int kServerTimeLimit = 30;  // seconds the directory may spend on a search
constexpr char kNullText[] = "NULL";  // what some directories store for "no value"

// A failed LDAP call: its name, its LDAP code and libldap's text for the code.
void record_ldap(const char *call, int lrc, int line) {
    QRT_Trace_PutError(call, lrc, ldap_err2string(lrc), __FILE__, line);
}
#define RECORD_LDAP(call, lrc) record_ldap((call), (lrc), __LINE__)

// libldap answers a client-side time-out with LDAP_TIMEOUT (-5); 85 is the same condition in
// the numbering of other client libraries.
bool timed_out(int lrc) { return lrc == LDAP_TIMEOUT || lrc == 85; }

bool usable(const berval *v) {
    return v && v->bv_len > 0 && v->bv_val &&
           !(v->bv_len == sizeof kNullText - 1 && std::memcmp(v->bv_val, kNullText, v->bv_len) == 0);
}

// The values of one attribute of an entry, released with ldap_value_free_len.
class Values {
  public:
    Values(LDAP *ld, LDAPMessage *entry, const std::string &attr) : v_(ldap_get_values_len(ld, entry, attr.c_str())) {}
    Values(const Values &) = delete;
    Values &operator=(const Values &) = delete;
    ~Values() {
        if (v_) ldap_value_free_len(v_);
    }
    berval **begin() const { return v_; }
    berval **end() const { return v_ ? v_ + ldap_count_values_len(v_) : v_; }
    bool empty() const { return begin() == end(); }

  private:
    berval **v_;
};

// A connection and its search result, released in that order's reverse.
class Session {
  public:
    Session() = default;
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;
    ~Session() {
        if (res) ldap_msgfree(res);
        if (ld) ldap_unbind_ext(ld, nullptr, nullptr);
    }

    LDAP *ld = nullptr;
    LDAPMessage *res = nullptr;
};

// Options set before the bind: the protocol version (libldap starts at 2, which current
// servers refuse), no referrals (every connection of the call keeps the bound below), the
// bound on one incoming message, and with a time-out the connect and bind limits.
int set_connection_options(LDAP *ld, const Access &a) {
    int version = LDAP_VERSION3;
    if (int lrc = ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version)) return lrc;
    if (int lrc = ldap_set_option(ld, LDAP_OPT_REFERRALS, LDAP_OPT_OFF)) return lrc;
    Sockbuf *sb = nullptr;
    if (int lrc = ldap_get_option(ld, LDAP_OPT_SOCKBUF, &sb)) return lrc;
    ber_len_t max = QRT_LDAP_MAX_ANSWER;
    if (!sb || ber_sockbuf_ctrl(sb, LBER_SB_OPT_SET_MAX_INCOMING, &max) != 1) return LDAP_LOCAL_ERROR;
    if (a.timeout) {
        if (int lrc = ldap_set_option(ld, LDAP_OPT_NETWORK_TIMEOUT, a.timeout)) return lrc;
        if (int lrc = ldap_set_option(ld, LDAP_OPT_TIMEOUT, a.timeout)) return lrc;
    }
    return LDAP_SUCCESS;
}

// Options set after the bind: aliases always dereferenced, the server's time limit.
int set_search_options(LDAP *ld) {
    int deref = LDAP_DEREF_ALWAYS;
    if (int lrc = ldap_set_option(ld, LDAP_OPT_DEREF, &deref)) return lrc;
    int limit = kServerTimeLimit;
    return ldap_set_option(ld, LDAP_OPT_TIMELIMIT, &limit);
}

// libldap sets up its process-wide defaults on first use without guarding against a second
// thread doing the same: the first call of the process does it alone.
void init_client_library() {
    static std::once_flag once;
    std::call_once(once, [] {
        int version = 0;
        ldap_get_option(nullptr, LDAP_OPT_PROTOCOL_VERSION, &version);
    });
}

// Connects, binds and searches; s.res holds the entries found. A size-limit answer is recorded
// and its entries kept.
int search(const char *fn, const Query &q, const Access &a, Session &s) {
    init_client_library();
    int lrc = ldap_initialize(&s.ld, q.server.c_str());
    if (lrc != LDAP_SUCCESS || !s.ld) {
        RECORD_LDAP("ldap_init", lrc ? lrc : LDAP_LOCAL_ERROR);
        return OSTREL_FAIL_AS(fn, QRT_LDAP_INIT_FAILED);
    }
    if ((lrc = set_connection_options(s.ld, a)) != LDAP_SUCCESS) {
        RECORD_LDAP("ldap_set_option", lrc);
        return OSTREL_FAIL_AS(fn, QRT_LDAP_SET_OPTION_FAILED);
    }

    berval cred{0, nullptr};
    const char *who = nullptr;
    if (a.bind_dn && a.bind_pw) {
        who = a.bind_dn;
        cred.bv_val = const_cast<char *>(a.bind_pw);
        cred.bv_len = std::strlen(a.bind_pw);
    }
    lrc = ldap_sasl_bind_s(s.ld, who, LDAP_SASL_SIMPLE, &cred, nullptr, nullptr, nullptr);
    if (lrc != LDAP_SUCCESS) {
        RECORD_LDAP("ldap_simple_bind_s", lrc);
        return OSTREL_FAIL_AS(fn, timed_out(lrc) ? QRT_LDAP_TIMEOUT : QRT_LDAP_BIND_FAILED);
    }
    if ((lrc = set_search_options(s.ld)) != LDAP_SUCCESS) {
        RECORD_LDAP("ldap_set_option", lrc);
        return OSTREL_FAIL_AS(fn, QRT_LDAP_SET_OPTION_FAILED);
    }

    std::vector<char *> attrs;
    attrs.reserve(q.attrs.size() + 1);
    for (const std::string &name : q.attrs) attrs.push_back(const_cast<char *>(name.c_str()));
    attrs.push_back(nullptr);
    // libldap takes a writable time-out it does not change.
    timeval limit{};
    timeval *tv = nullptr;
    if (a.timeout) {
        limit = *a.timeout;
        tv = &limit;
    }
    lrc = ldap_search_ext_s(s.ld, q.base.c_str(), q.scope, q.filter.c_str(), attrs.data(), 0, nullptr, nullptr, tv,
                            LDAP_NO_LIMIT, &s.res);
    if (lrc == LDAP_SIZELIMIT_EXCEEDED) {
        RECORD_LDAP("ldap_search_ext_s", lrc);
    } else if (lrc != LDAP_SUCCESS) {
        RECORD_LDAP("ldap_search_ext_s", lrc);
        return OSTREL_FAIL_AS(fn, timed_out(lrc) ? QRT_LDAP_TIMEOUT : QRT_LDAP_SEARCH_FAILED);
    }
    return 0;
}

}  // namespace

int ValueList::add(const unsigned char *data, unsigned int length) {
    ZQ_BIN_LIST *node = QRT_BIN_LIST_New();
    if (!node) return QRT_IO_MALLOC_FAILED;
    if (int rc = QRT_BIN_Set(&node->value, data, static_cast<int>(length))) {
        QRT_free(node);
        return rc;
    }
    *tail_ = node;
    tail_ = &node->next;
    return 0;
}

void ValueList::splice_into(ZQ_BIN_LIST **list) {
    ZQ_BIN_LIST **end = list;
    while (*end) end = &(*end)->next;
    *end = head_;
    head_ = nullptr;
    tail_ = &head_;
}

int fetch_one(const char *fn, const Query &q, const Access &a, BinOwner &out) {
    Session s;
    if (int rc = search(fn, q, a, s)) return rc;
    LDAPMessage *entry = ldap_first_entry(s.ld, s.res);
    if (!entry) return OSTREL_FAIL_AS(fn, QRT_LDAP_NO_ENTRY);
    // The first attribute that has values decides: its first usable value, or none at all.
    for (const std::string &attr : q.attrs) {
        Values values(s.ld, entry, attr);
        if (values.empty()) continue;
        for (berval *v : values) {
            if (!usable(v)) continue;
            if (int rc =
                    QRT_BIN_Set(out.get(), reinterpret_cast<unsigned char *>(v->bv_val), static_cast<int>(v->bv_len)))
                return OSTREL_FAIL_AS(fn, rc);
            return 0;
        }
        return OSTREL_FAIL_AS(fn, QRT_LDAP_NO_RESULTS);
    }
    return OSTREL_FAIL_AS(fn, QRT_LDAP_NO_RESULTS);
}

int fetch_all(const char *fn, const Query &q, const Access &a, ValueList &out) {
    Session s;
    if (int rc = search(fn, q, a, s)) return rc;
    bool found = false;
    // Each entry is released once its values are copied, so the result and the copies are not
    // both held in full.
    while (LDAPMessage *entry = ldap_first_entry(s.ld, s.res)) {
        found = true;
        for (const std::string &attr : q.attrs) {
            Values values(s.ld, entry, attr);
            for (berval *v : values)
                if (usable(v))
                    if (int rc =
                            out.add(reinterpret_cast<unsigned char *>(v->bv_val), static_cast<unsigned int>(v->bv_len)))
                        return OSTREL_FAIL_AS(fn, rc);
        }
        ldap_delete_result_entry(&s.res, entry);
        ldap_msgfree(entry);
    }
    if (!found) return OSTREL_FAIL_AS(fn, QRT_LDAP_NO_ENTRY);
    if (out.empty()) return OSTREL_FAIL_AS(fn, QRT_LDAP_NO_RESULTS);
    return 0;
}

}  // namespace ostrel::ldap
