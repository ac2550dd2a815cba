// Private declarations shared by the path-validation library's modules: the boundary, the one
// way to fail (with the rule that "not found" answers leave no record), and small owners.
#pragma once

#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "suite_pkc.h"
#include "suite_pvd.h"
#include "suite_pvd_internal.h"

#define OSTREL_REASON_FN QRT_PVD_GetErrorReason
#include "ostrel/asn_tree.hpp"
#include "ostrel/guard.hpp"
#include "ostrel/owners.hpp"
#include "ostrel/trace.hpp"

namespace ostrel::pvd {

inline constexpr Boundary kBoundary{OSTREL_FAIL_FN, QRT_PVD_INVALID_INPUT, QRT_PVD_MALLOC_FAILED, QRT_PVD_INTERNAL};

// The "not found" answers of the candidate sources: never recorded in the trace.
inline bool is_not_found(int code) {
    return code == QRT_PVD_CERT_NOT_FOUND || code == QRT_PVD_CTL_NOT_FOUND || code == QRT_PVD_CRL_NOT_FOUND;
}

// Records a failure under func (unless it is a "not found" answer) and returns the code.
inline int fail(const char *func, int code, const char *file, int line) {
    if (code != 0 && !is_not_found(code)) ::ostrel::put_error(OSTREL_REASON_FN, func, code, file, line);
    return code;
}

inline bool has_bytes(const BIN *b) { return b && b->value && b->length; }
inline bool same_bin(const BIN &a, const BIN &b) {
    return a.length == b.length &&
           (a.length == 0 || (a.value && b.value && std::memcmp(a.value, b.value, a.length) == 0));
}
inline std::string_view view_of(const BIN &b) {
    return b.value ? std::string_view(reinterpret_cast<const char *>(b.value), b.length) : std::string_view();
}

// Runs body, mapping what C++ may throw to this library's codes without recording anything: for
// the functions that record their failures themselves.
template <class F>
int contained(F &&body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc &) {
        return QRT_PVD_MALLOC_FAILED;
    } catch (...) {
        return QRT_PVD_INTERNAL;
    }
}

// A new string from the I/O core's allocator (QRT_free); throws std::bad_alloc.
char *dup_string(std::string_view s);

// The not-found code of an object type: 43095 for CRL kinds, 43074 for trust lists, else 43036.
inline int not_found_of(int typeID) {
    switch (typeID) {
        case PVD_TYPE_CRL:
        case PVD_TYPE_ARL:
        case PVD_TYPE_CRL_OTHER:
            return QRT_PVD_CRL_NOT_FOUND;
        case PVD_TYPE_CTL:
            return QRT_PVD_CTL_NOT_FOUND;
        default:
            return QRT_PVD_CERT_NOT_FOUND;
    }
}

// The catalogue number of an object type's decoded tree, 0 for a type that keeps none.
int pdu_of_type(int typeID);

// An object's decoded tree as the kind its type names; NULL for another kind or no tree.
inline const Certificate *cert_tree(const ZQ_PVD_InterObject *o) {
    return o && o->pAsnObj && pdu_of_type(o->typeID) == Certificate_PDU ? static_cast<const Certificate *>(o->pAsnObj)
                                                                        : nullptr;
}
inline const CertificateList *crl_tree(const ZQ_PVD_InterObject *o) {
    return o && o->pAsnObj && pdu_of_type(o->typeID) == CertificateList_PDU
               ? static_cast<const CertificateList *>(o->pAsnObj)
               : nullptr;
}
inline const CertificateTrustList *ctl_tree(const ZQ_PVD_InterObject *o) {
    return o && o->pAsnObj && o->typeID == PVD_TYPE_CTL ? static_cast<const CertificateTrustList *>(o->pAsnObj)
                                                        : nullptr;
}

// Hands out the cursor's next non-empty candidate (its buffer moved into out); false when none.
bool cursor_take(ZQ_PVD_BuildCursor *cursor, BIN *out);
// Makes list the cursor's fetched candidates (taking it over; NULL: none).
void cursor_set(ZQ_PVD_BuildCursor *cursor, ZQ_BIN_LIST *list);

// A list head node on the heap, released with its nodes unless handed over.
struct ListOwner {
    ZQ_BIN_LIST *head = nullptr;
    ListOwner() : head(QRT_BIN_LIST_New()) {
        if (!head) throw std::bad_alloc();
    }
    ListOwner(const ListOwner &) = delete;
    ListOwner &operator=(const ListOwner &) = delete;
    ~ListOwner() { QRT_BIN_LIST_Free(head); }
    ZQ_BIN_LIST *release() {
        ZQ_BIN_LIST *h = head;
        head = nullptr;
        return h;
    }
    bool empty() const { return !head || (!head->value.value && !head->next); }
};

// Decodes an extension's value: 1 decoded, 0 absent, -1 undecodable.
template <class T>
int decode_ext(AsnTree<T> &out, const Extensions exts, const ObjectID &oid) {
    const Extension *ext = QRT_GetExtension(exts, &oid);
    if (!ext) return 0;
    if (out.decode(&ext->extnValue) != 0 || !out) return -1;
    return 1;
}

// Name equality as the path checks compare names (only PrintableString values fold case and
// spaces), without a trace record: for comparisons whose mismatch is no failure.
bool names_equal(const Name &a, const Name &b);

}  // namespace ostrel::pvd

#define OSTREL_BOUNDARY ::ostrel::pvd::kBoundary
// Records under the current (exported) function's name; inside lambdas use PVD_FAIL_AS.
#define PVD_FAIL(code) ::ostrel::pvd::fail(__func__, (code), __FILE__, __LINE__)
#define PVD_FAIL_AS(func, code) ::ostrel::pvd::fail((func), (code), __FILE__, __LINE__)
