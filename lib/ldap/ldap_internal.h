// Private declarations shared by the directory library's modules.
#pragma once

#include <string>
#include <vector>

#include "suite_ldap.h"

#define OSTREL_REASON_FN QRT_LDAP_GetErrorReason
#include "ostrel/guard.hpp"
#include "ostrel/owners.hpp"
#include "ostrel/trace.hpp"

namespace ostrel::ldap {

// The library has no memory or internal code of its own: those of the I/O core stand in.
inline constexpr Boundary kBoundary{OSTREL_FAIL_FN, QRT_LDAP_INVALID_INPUT, QRT_IO_MALLOC_FAILED, QRT_IO_INTERNAL};

// What one call asks of the directory: where, under which entry, which attributes.
struct Query {
    std::string server;  // the connection's URL: scheme, host and port only
    std::string base;    // UTF-8
    int scope = 0;       // LDAP_SCOPE_BASE
    std::string filter;  // "(objectclass=*)" unless the URL names one
    std::vector<std::string> attrs;
};

// Who binds and how long the call may wait.
struct Access {
    const timeval *timeout = nullptr;  // NULL: no time-out
    const char *bind_dn = nullptr;     // both or neither
    const char *bind_pw = nullptr;
};

// Access from a time-out: a zero or negative one is none.
Access access_of(const timeval *timeout);
// Access from the parameters of the _Ex calls (NULL: anonymous, no time-out).
Access access_of(const ZQ_LDAP_GET_PARAM *param);

// The location (URL or host[:port]), the kind and the DN as a query; failures are recorded
// under fn. 34013 for a host without a DN, 34007 for a URL that does not parse, 34011 for a
// kind without attributes, the converter's code for a DN that is not EUC-KR.
int make_query(const char *fn, const char *location, const char *dn, int kind, Query &q);

// Values appended through a tail pointer; handed to the caller's list only when complete.
class ValueList {
  public:
    ValueList() = default;
    ValueList(const ValueList &) = delete;
    ValueList &operator=(const ValueList &) = delete;
    ~ValueList() { QRT_BIN_LIST_Free(head_); }

    // 0, or the I/O core's code when memory runs short.
    int add(const unsigned char *data, unsigned int length);
    bool empty() const { return head_ == nullptr; }
    // Appends every value, in order, after the last node of *list.
    void splice_into(ZQ_BIN_LIST **list);

  private:
    ZQ_BIN_LIST *head_ = nullptr;
    ZQ_BIN_LIST **tail_ = &head_;
};

// Connects, binds, searches and takes the first usable value into out.
int fetch_one(const char *fn, const Query &q, const Access &a, BinOwner &out);
// The same, taking every usable value of every entry.
int fetch_all(const char *fn, const Query &q, const Access &a, ValueList &out);

}  // namespace ostrel::ldap

#define OSTREL_BOUNDARY ::ostrel::ldap::kBoundary
