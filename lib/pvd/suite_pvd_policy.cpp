// Certificate policy processing: the policy sets of a path held as fixed arrays of nodes (a flat
// form of the valid policy tree), the caller's initial set, a certificate's set, their
// intersection, policy mappings, and the counters and constraints that decide when a policy is
// required. The sets are bounded (50 nodes of 10 expected policies), so a hostile path costs at
// most a fixed amount of work and memory per certificate before it is refused with 43047. The
// state's lifecycle (initial state, release, the deep copy a path builder snapshots before an
// issuer candidate) covers the whole record, name sets and working key included.
#include <cstring>
#include <string>
#include <string_view>

#include "ostrel/asn_tree.hpp"
#include "pvd_internal.h"

namespace ostrel::pvd {
namespace {

constexpr int kMaxNodes = PVD_MAX_POLICIES;
constexpr int kMaxExpected = PVD_MAX_EXPECTED;

bool same(const ObjectID &a, const ObjectID &b) { return QRT_ASN_CmpOID(&a, &b) == 0; }
bool is_any(const ObjectID &oid) { return same(oid, anyPolicy); }

int copy_oid(ObjectID &dst, const ObjectID &src) {
    if (QRT_ASN_CopyOID(&dst, &src) == 0) return 0;
    dst = ObjectID{0, nullptr};
    return QRT_PVD_MALLOC_FAILED;
}

// Counts read from a record are trusted only inside their array bounds.
int node_count(const ZQ_PVD_Policies &s) { return s.count < 0 ? 0 : (s.count > kMaxNodes ? kMaxNodes : s.count); }
int expected_count(const ZQ_PVD_PolicyNode &n) {
    return n.expectedCount < 0 ? 0 : (n.expectedCount > kMaxExpected ? kMaxExpected : n.expectedCount);
}

void reset_expected(ZQ_PVD_PolicyNode &n) {
    for (int i = 0; i < expected_count(n); ++i) QRT_ASN_ResetOID(&n.expected[i]);
    n.expectedCount = 0;
    n.expectedHasAny = 0;
}

void reset_node(ZQ_PVD_PolicyNode &n) {
    reset_expected(n);
    QRT_ASN_ResetOID(&n.validPolicy);
    QRT_ASN_ResetOID(&n.anchorPolicy);
    std::memset(&n, 0, sizeof n);
}

void reset_set(ZQ_PVD_Policies &s) {
    for (int i = 0; i < node_count(s); ++i) reset_node(s.nodes[i]);
    s.count = 0;
    s.hasAny = 0;
}

int add_expected(ZQ_PVD_PolicyNode &n, const ObjectID &oid) {
    if (expected_count(n) >= kMaxExpected) return QRT_PVD_CERT_POLICY_EXCEED;
    int i = expected_count(n);
    if (int rc = copy_oid(n.expected[i], oid)) return rc;
    n.expectedCount = i + 1;
    if (is_any(oid)) n.expectedHasAny = 1;
    return 0;
}

// node := {policy, expected {expected} when given, anchor policy when given}; empty on failure.
int init_node(ZQ_PVD_PolicyNode &n, const ObjectID &policy, const ObjectID *expected, const ObjectID *anchor) {
    reset_node(n);
    int rc = copy_oid(n.validPolicy, policy);
    if (!rc && expected) rc = add_expected(n, *expected);
    if (!rc && anchor) {
        rc = copy_oid(n.anchorPolicy, *anchor);
        n.hasAnchorPolicy = rc == 0;
    }
    if (rc) {
        reset_node(n);
        return rc;
    }
    n.isAny = is_any(policy);
    return 0;
}

int copy_node(ZQ_PVD_PolicyNode &dst, const ZQ_PVD_PolicyNode &src) {
    int rc = init_node(dst, src.validPolicy, nullptr, src.hasAnchorPolicy ? &src.anchorPolicy : nullptr);
    for (int i = 0; !rc && i < expected_count(src); ++i) rc = add_expected(dst, src.expected[i]);
    if (rc) reset_node(dst);
    return rc;
}

// Moves the node into the set; the node stays with the caller when the set is full.
int add_node(ZQ_PVD_Policies &s, ZQ_PVD_PolicyNode &n) {
    int i = node_count(s);
    if (i >= kMaxNodes) return QRT_PVD_CERT_POLICY_EXCEED;
    s.nodes[i] = n;
    std::memset(&n, 0, sizeof n);
    s.count = i + 1;
    if (s.nodes[i].isAny) s.hasAny = 1;
    return 0;
}

// A set under construction beside the one it will replace: released unless moved over.
struct LocalSet {
    ZQ_PVD_Policies s{};
    LocalSet() = default;
    LocalSet(const LocalSet &) = delete;
    LocalSet &operator=(const LocalSet &) = delete;
    ~LocalSet() { reset_set(s); }

    // Adds {policy, expected {expected}, anchor policy when given}.
    int add(const ObjectID &policy, const ObjectID *anchor) {
        if (node_count(s) >= kMaxNodes) return QRT_PVD_CERT_POLICY_EXCEED;
        ZQ_PVD_PolicyNode n{};
        if (int rc = init_node(n, policy, &policy, anchor)) return rc;
        return add_node(s, n);
    }
    // Adds {policy} alone, as the caller's set holds its policies.
    int add_plain(const ObjectID &policy) {
        if (node_count(s) >= kMaxNodes) return QRT_PVD_CERT_POLICY_EXCEED;
        ZQ_PVD_PolicyNode n{};
        if (int rc = init_node(n, policy, nullptr, nullptr)) return rc;
        return add_node(s, n);
    }
    int add_copy(const ZQ_PVD_PolicyNode &src) {
        if (node_count(s) >= kMaxNodes) return QRT_PVD_CERT_POLICY_EXCEED;
        ZQ_PVD_PolicyNode n{};
        if (int rc = copy_node(n, src)) return rc;
        return add_node(s, n);
    }
    // The set replaces `into`, whose nodes are released.
    void move_to(ZQ_PVD_Policies &into) {
        reset_set(into);
        std::memcpy(&into, &s, sizeof s);
        std::memset(&s, 0, sizeof s);
    }
};

int copy_set(ZQ_PVD_Policies &dst, const ZQ_PVD_Policies &src) {
    LocalSet out;
    for (int i = 0; i < node_count(src); ++i)
        if (int rc = out.add_copy(src.nodes[i])) return rc;
    out.move_to(dst);
    return 0;
}

const ObjectID *anchor_of(const ZQ_PVD_PolicyNode &n) { return n.hasAnchorPolicy ? &n.anchorPolicy : nullptr; }

bool any_in_expected(const ZQ_PVD_Policies &s) {
    for (int i = 0; i < node_count(s); ++i)
        if (s.nodes[i].expectedHasAny) return true;
    return false;
}

ZQ_PVD_PolicyNode *first_expecting(ZQ_PVD_Policies &s, const ObjectID &oid) {
    for (int i = 0; i < node_count(s); ++i) {
        ZQ_PVD_PolicyNode &n = s.nodes[i];
        for (int k = 0; k < expected_count(n); ++k)
            if (same(n.expected[k], oid)) return &n;
    }
    return nullptr;
}

bool has_policy(const ZQ_PVD_Policies &s, const ObjectID &oid) {
    for (int i = 0; i < node_count(s); ++i)
        if (same(s.nodes[i].validPolicy, oid)) return true;
    return false;
}

void delete_nodes(ZQ_PVD_Policies &s, const ObjectID &oid) {
    int kept = 0, n = node_count(s);
    for (int i = 0; i < n; ++i) {
        if (same(s.nodes[i].validPolicy, oid)) {
            reset_node(s.nodes[i]);
        } else {
            if (kept != i) {
                s.nodes[kept] = s.nodes[i];
                std::memset(&s.nodes[i], 0, sizeof s.nodes[i]);
            }
            ++kept;
        }
    }
    s.count = kept;
    s.hasAny = 0;
    for (int i = 0; i < kept; ++i)
        if (s.nodes[i].isAny) s.hasAny = 1;
}

// initPolicies: NULL or "any-policy" is {anyPolicy}; otherwise dotted identifiers separated by
// commas, empty items skipped.
int from_string(ZQ_PVD_Policies &out, const char *text) {
    reset_set(out);
    LocalSet set;
    if (!text || std::strcmp(text, "any-policy") == 0) {
        if (int rc = set.add_plain(anyPolicy)) return PVD_FAIL_AS("QRT_PVD_Policies_FromString", rc);
        set.move_to(out);
        return 0;
    }
    std::string_view rest(text);
    while (!rest.empty()) {
        size_t comma = rest.find(',');
        std::string item(rest.substr(0, comma));
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        if (item.empty()) continue;
        if (node_count(set.s) >= kMaxNodes)
            return PVD_FAIL_AS("QRT_PVD_Policies_FromString", QRT_PVD_CERT_POLICY_EXCEED);
        ObjectID oid{0, nullptr};
        if (int rc = QRT_ASN_DotVal2OID(&oid, item.c_str())) return PVD_FAIL_AS("QRT_PVD_Policies_FromString", rc);
        int rc = set.add_plain(oid);
        QRT_ASN_ResetOID(&oid);
        if (rc) return PVD_FAIL_AS("QRT_PVD_Policies_FromString", rc);
    }
    set.move_to(out);
    return 0;
}

// Some encoders append an empty SEQUENCE (30 00) to the only PolicyInformation and count it in
// both enclosing lengths. Undo that on a copy, and only where both lengths are short-form
// lengths that hold it; a long-form length is never patched.
int decode_repaired(AsnTree<CertificatePolicies> &cp, const BIN &value) {
    const unsigned char *v = value.value;
    unsigned int len = value.length;
    if (len <= 5 || v[len - 2] != 0x30 || v[len - 1] != 0x00) return -1;
    if (v[1] >= 0x80 || v[1] < 2 || v[3] >= 0x80 || v[3] < 2) return -1;
    std::string copy(reinterpret_cast<const char *>(v), len - 2);
    copy[1] = static_cast<char>(v[1] - 2);
    copy[3] = static_cast<char>(v[3] - 2);
    BIN fixed{len - 2, reinterpret_cast<unsigned char *>(copy.data())};
    return cp.decode(&fixed);
}

int from_cp_ext(ZQ_PVD_Policies &out, const BIN &value) {
    reset_set(out);
    AsnTree<CertificatePolicies> cp(CertificatePolicies_PDU);
    if (cp.decode(&value) != 0 && decode_repaired(cp, value) != 0)
        return PVD_FAIL_AS("QRT_PVD_Policies_FromCPExt", QRT_PVD_CERT_EXT_INVALID);
    LocalSet set;
    for (auto *p = *cp; p; p = p->next)
        if (int rc = set.add_plain(p->value.policyIdentifier)) return PVD_FAIL_AS("QRT_PVD_Policies_FromCPExt", rc);
    set.move_to(out);
    return 0;
}

// The valid set against a certificate's set:
//  (a) the certificate asserts anyPolicy and inhibitAnyPolicy > 0: every policy some valid node
//      expects, standing for that node's anchor policy;
//  (b) some valid node expects anyPolicy: every policy the certificate asserts; one that a node
//      expects by name stands for that node's anchor policy (a mapped policy keeps the policy it
//      was mapped from), any other for itself. The certificate's anyPolicy is left to (a), so
//      inhibitAnyPolicy governs it;
//  (c) otherwise: every asserted policy that a valid node expects, under that node's anchor.
int make_intersection(int inhibitAnyPolicy, ZQ_PVD_Policies &valid, const ZQ_PVD_Policies &cert) {
    if (node_count(valid) == 0) return 0;
    if (node_count(cert) == 0) {
        reset_set(valid);
        return 0;
    }
    LocalSet next;
    bool a = cert.hasAny && inhibitAnyPolicy > 0;
    bool b = any_in_expected(valid);
    if (a)
        for (int i = 0; i < node_count(valid); ++i) {
            const ZQ_PVD_PolicyNode &v = valid.nodes[i];
            for (int k = 0; k < expected_count(v); ++k)
                if (int rc = next.add(v.expected[k], anchor_of(v))) return rc;
        }
    if (b)
        for (int i = 0; i < node_count(cert); ++i) {
            const ObjectID &p = cert.nodes[i].validPolicy;
            if (is_any(p)) continue;
            const ZQ_PVD_PolicyNode *v = first_expecting(valid, p);
            if (int rc = next.add(p, v ? anchor_of(*v) : &p)) return rc;
        }
    if (!a && !b)
        for (int i = 0; i < node_count(cert); ++i) {
            const ObjectID &p = cert.nodes[i].validPolicy;
            if (const ZQ_PVD_PolicyNode *v = first_expecting(valid, p))
                if (int rc = next.add(p, anchor_of(*v))) return rc;
        }
    next.move_to(valid);
    return 0;
}

// PolicyMappings ::= SEQUENCE OF SEQUENCE { issuerDomainPolicy, subjectDomainPolicy }
// grouped by issuer policy: {issuer policy, expected = its subject policies in order, anchor
// policy = issuer policy}.
int group_mappings(LocalSet &groups, const PolicyMappings list) {
    for (auto *m = list; m; m = m->next) {
        const ObjectID &from = m->value.issuerDomainPolicy;
        const ObjectID &to = m->value.subjectDomainPolicy;
        if (is_any(from) || is_any(to)) return QRT_PVD_CERT_POLICY_MAPPING_INVALID;
        ZQ_PVD_PolicyNode *g = nullptr;
        for (int i = 0; i < node_count(groups.s) && !g; ++i)
            if (same(groups.s.nodes[i].validPolicy, from)) g = &groups.s.nodes[i];
        if (g) {
            if (int rc = add_expected(*g, to)) return rc;
            continue;
        }
        if (node_count(groups.s) >= kMaxNodes) return QRT_PVD_CERT_POLICY_EXCEED;
        ZQ_PVD_PolicyNode n{};
        if (int rc = init_node(n, from, &to, &from)) return rc;
        if (int rc = add_node(groups.s, n)) return rc;
    }
    return 0;
}

int apply_policy_mapping(int policyMapping, ZQ_PVD_Policies &valid, const BIN &value) {
    static const char *const fn = "QRT_PVD_Policies_ApplyPolicyMapping";
    AsnTree<PolicyMappings> pm(PolicyMappings_PDU);
    if (pm.decode(&value) != 0) return PVD_FAIL_AS(fn, QRT_PVD_CERT_POLICY_MAPPING_INVALID);
    LocalSet groups;
    if (int rc = group_mappings(groups, *pm)) return PVD_FAIL_AS(fn, rc);
    if (node_count(groups.s) == 0) return 0;

    // The new valid set is built beside the old one, so a failure leaves the old one whole.
    LocalSet next;
    for (int i = 0; i < node_count(valid); ++i) {
        const ZQ_PVD_PolicyNode &v = valid.nodes[i];
        const ZQ_PVD_PolicyNode *m = nullptr;
        for (int g = 0; g < node_count(groups.s) && !m; ++g)
            if (same(groups.s.nodes[g].validPolicy, v.validPolicy)) m = &groups.s.nodes[g];
        if (m && policyMapping < 1) continue;  // mapping inhibited: the mapped policy goes
        if (int rc = next.add_copy(v)) return PVD_FAIL_AS(fn, rc);
        if (!m) continue;
        ZQ_PVD_PolicyNode &n = next.s.nodes[next.s.count - 1];
        reset_expected(n);  // its anchor policy stays
        for (int k = 0; k < expected_count(*m); ++k)
            if (int rc = add_expected(n, m->expected[k])) return PVD_FAIL_AS(fn, rc);
    }
    if (policyMapping >= 1 && valid.hasAny)
        for (int g = 0; g < node_count(groups.s); ++g)
            if (!has_policy(valid, groups.s.nodes[g].validPolicy))
                if (int rc = next.add_copy(groups.s.nodes[g])) return PVD_FAIL_AS(fn, rc);
    next.move_to(valid);
    return 0;
}

bool intersects(const ZQ_PVD_Policies &valid, const ZQ_PVD_Policies &user) {
    if (node_count(valid) == 0 || node_count(user) == 0) return false;
    if (valid.hasAny || user.hasAny) return true;
    for (int i = 0; i < node_count(valid); ++i) {
        const ZQ_PVD_PolicyNode &v = valid.nodes[i];
        if (v.hasAnchorPolicy && has_policy(user, v.anchorPolicy)) return true;
    }
    return false;
}

// Every counter of the state moves by `by`, except those at 0; the level index and
// maxPathLength always move.
void move_levels(ZQ_PVD_StateVars &st, int by) {
    for (int *c : {&st.explicitPolicy, &st.inhibitAnyPolicy, &st.policyMapping})
        if (*c != 0) *c = *c + by < 0 ? 0 : *c + by;
    st.levelIndex += by;
    st.maxPathLength += by;
}

void reset_subtrees(ZQ_PVD_NameSubtrees &s) {
    int n = s.count < 0 ? 0 : (s.count > PVD_MAX_SUBTREES ? PVD_MAX_SUBTREES : s.count);
    for (int i = 0; i < n; ++i) QRT_free(s.dn[i]);
    std::memset(&s, 0, sizeof s);
}

// dst := a copy of src; dst (zero-filled on entry) holds what was copied so far on failure.
int copy_subtrees(ZQ_PVD_NameSubtrees &dst, const ZQ_PVD_NameSubtrees &src) {
    dst.isAll = src.isAll;
    int n = src.count < 0 ? 0 : (src.count > PVD_MAX_SUBTREES ? PVD_MAX_SUBTREES : src.count);
    for (int i = 0; i < n; ++i) {
        if (src.dn[i]) {
            size_t len = std::strlen(src.dn[i]) + 1;
            dst.dn[i] = static_cast<char *>(QRT_malloc(len));
            if (!dst.dn[i]) return QRT_PVD_MALLOC_FAILED;
            std::memcpy(dst.dn[i], src.dn[i], len);
        }
        dst.count = i + 1;
    }
    return 0;
}

int copy_bin(BIN &dst, const BIN &src) {
    if (!src.value) return 0;
    return QRT_BIN_Copy(&dst, &src) == 0 ? 0 : QRT_PVD_MALLOC_FAILED;
}

void reset_state(ZQ_PVD_StateVars &st) {
    reset_set(st.userPolicies);
    reset_set(st.validPolicies);
    reset_subtrees(st.permitted);
    reset_subtrees(st.excluded);
    QRT_BIN_Reset(&st.pubKey);
    QRT_BIN_Reset(&st.pubKeyParam);
    QRT_free(st.pubKeyDN);
    std::memset(&st, 0, sizeof st);
}

int init_state(ZQ_PVD_StateVars &st, const char *initPolicies, int mappingInhibit, int explicitPolicy, int anyInhibit) {
    reset_state(st);
    if (int rc = from_string(st.userPolicies, initPolicies)) return rc;
    LocalSet valid;
    if (int rc = valid.add(anyPolicy, nullptr)) {
        reset_state(st);
        return rc;
    }
    valid.move_to(st.validPolicies);
    st.initPolicyMappingInhibit = mappingInhibit != 0;
    st.initExplicitPolicy = explicitPolicy != 0;
    st.initAnyPolicyInhibit = anyInhibit != 0;
    st.explicitPolicy = st.initExplicitPolicy ? 0 : 2;
    st.policyMapping = st.initPolicyMappingInhibit ? 0 : 2;
    st.inhibitAnyPolicy = st.initAnyPolicyInhibit ? 0 : 2;
    st.maxPathLength = 1;
    st.levelIndex = 1;
    st.levelsBelowRoot = 0;
    st.permitted.isAll = 1;
    return 0;
}

int copy_state(ZQ_PVD_StateVars &dst, const ZQ_PVD_StateVars &src) {
    reset_state(dst);
    ZQ_PVD_StateVars tmp{};
    int rc = copy_set(tmp.userPolicies, src.userPolicies);
    if (!rc) rc = copy_set(tmp.validPolicies, src.validPolicies);
    if (!rc) rc = copy_subtrees(tmp.permitted, src.permitted);
    if (!rc) rc = copy_subtrees(tmp.excluded, src.excluded);
    if (!rc) rc = copy_bin(tmp.pubKey, src.pubKey);
    if (!rc) rc = copy_bin(tmp.pubKeyParam, src.pubKeyParam);
    if (!rc && src.pubKeyDN) {
        size_t len = std::strlen(src.pubKeyDN) + 1;
        tmp.pubKeyDN = static_cast<char *>(QRT_malloc(len));
        if (tmp.pubKeyDN)
            std::memcpy(tmp.pubKeyDN, src.pubKeyDN, len);
        else
            rc = QRT_PVD_MALLOC_FAILED;
    }
    if (rc) {
        reset_state(tmp);
        return rc;
    }
    tmp.initPolicyMappingInhibit = src.initPolicyMappingInhibit;
    tmp.initExplicitPolicy = src.initExplicitPolicy;
    tmp.initAnyPolicyInhibit = src.initAnyPolicyInhibit;
    tmp.explicitPolicy = src.explicitPolicy;
    tmp.inhibitAnyPolicy = src.inhibitAnyPolicy;
    tmp.policyMapping = src.policyMapping;
    tmp.maxPathLength = src.maxPathLength;
    tmp.levelIndex = src.levelIndex;
    tmp.levelsBelowRoot = src.levelsBelowRoot;
    tmp.pubKeyAlg = src.pubKeyAlg;
    std::memcpy(&dst, &tmp, sizeof tmp);
    return 0;
}

// PolicyConstraints ::= SEQUENCE { requireExplicitPolicy [0] SkipCerts OPTIONAL,
//                                  inhibitPolicyMapping [1] SkipCerts OPTIONAL }
int check_policy_consts(ZQ_PVD_StateVars &st, const BIN &value, bool target) {
    AsnTree<PolicyConstraints> pc(PolicyConstraints_PDU);
    if (pc.decode(&value) != 0) return PVD_FAIL_AS("QRT_PVD_CheckPolicyConsts", QRT_PVD_CERT_EXT_INVALID);
    bool require = pc->bit_mask & PolicyConstraints_requireExplicitPolicy_present;
    bool inhibit = pc->bit_mask & PolicyConstraints_inhibitPolicyMapping_present;
    if (target) {
        if (require && pc->requireExplicitPolicy == 0) st.explicitPolicy = 0;
        return 0;
    }
    if (require && pc->requireExplicitPolicy < st.explicitPolicy) st.explicitPolicy = pc->requireExplicitPolicy;
    if (inhibit && pc->inhibitPolicyMapping < st.policyMapping) st.policyMapping = pc->inhibitPolicyMapping;
    return 0;
}

// InhibitAnyPolicy ::= SkipCerts (an INTEGER that fits 32 bits)
int check_inhibit_any(ZQ_PVD_StateVars &st, const BIN &value) {
    AsnTree<InhibitAnyPolicy> iap(InhibitAnyPolicy_PDU);
    if (iap.decode(&value) != 0) return PVD_FAIL_AS("QRT_PVD_CheckInhibitAnyPolicy", QRT_PVD_CERT_EXT_INVALID);
    if (*iap < st.inhibitAnyPolicy) st.inhibitAnyPolicy = *iap;
    return 0;
}

// The step every certificate below the trust anchor passes.
int check_cert(ZQ_PVD_StateVars &st, int flags, const BIN *cp, bool critical) {
    LocalSet cert;
    if (cp)
        if (int rc = from_cp_ext(cert.s, *cp)) return rc;
    if (!(flags & PVD_FLAG_STRICT)) {
        if (int rc = QRT_PVD_Policies_MakeIntersection(&st, &st.validPolicies, &cert.s)) return rc;
        if (st.explicitPolicy == 0 && node_count(st.validPolicies) == 0) return QRT_PVD_CERT_POLICY_INVALID;
        return 0;
    }
    // The simple rule: only a critical extension narrows the valid set, and unless either side
    // accepts any policy, the certificate must assert one of the caller's policies.
    if (critical)
        if (int rc = QRT_PVD_Policies_MakeIntersection(&st, &st.validPolicies, &cert.s)) return rc;
    if (st.userPolicies.hasAny || cert.s.hasAny) return 0;
    for (int i = 0; i < node_count(cert.s); ++i)
        if (has_policy(st.userPolicies, cert.s.nodes[i].validPolicy)) return 0;
    return QRT_PVD_CERT_POLICY_INVALID;
}

// A CA certificate after its mappings: counters, then its constraints.
int check_ca(ZQ_PVD_StateVars &st, const BIN *pc, const BIN *iap, bool selfSigned) {
    if (!selfSigned)
        for (int *c : {&st.explicitPolicy, &st.policyMapping, &st.inhibitAnyPolicy})
            if (*c > 0) --*c;
    if (pc)
        if (int rc = QRT_PVD_CheckPolicyConsts(&st, pc, 0)) return rc;
    if (iap)
        if (int rc = QRT_PVD_CheckInhibitAnyPolicy(&st, iap)) return rc;
    return 0;
}

int check_target(ZQ_PVD_StateVars &st, const BIN *pc, bool selfSigned) {
    if (!selfSigned && st.explicitPolicy > 0) --st.explicitPolicy;
    if (pc)
        if (int rc = QRT_PVD_CheckPolicyConsts(&st, pc, 1)) return rc;
    if (st.explicitPolicy < 1 && !intersects(st.validPolicies, st.userPolicies)) return QRT_PVD_CERT_POLICY_INVALID;
    return 0;
}

}  // namespace
}  // namespace ostrel::pvd

using namespace ostrel::pvd;

extern "C" {

QRT_API int QRT_PVD_PolicyNode_Init(ZQ_PVD_PolicyNode *node, const ObjectID *policy, const ObjectID *expected,
                                    const ObjectID *anchor) {
    return OSTREL_GUARD(node != nullptr,
                        [&] { return init_node(*node, policy ? *policy : anyPolicy, expected, anchor); });
}

QRT_API int QRT_PVD_PolicyNode_AddExpected(ZQ_PVD_PolicyNode *node, const ObjectID *oid) {
    return OSTREL_GUARD(node && oid, [&] { return add_expected(*node, *oid); });
}

QRT_API void QRT_PVD_PolicyNode_ResetExpected(ZQ_PVD_PolicyNode *node) {
    if (node) reset_expected(*node);
}

QRT_API void QRT_PVD_PolicyNode_Reset(ZQ_PVD_PolicyNode *node) {
    if (node) reset_node(*node);
}

QRT_API int QRT_PVD_Policies_Init(ZQ_PVD_Policies *set, int withAny) {
    return OSTREL_GUARD(set != nullptr, [&] {
        LocalSet s;
        if (withAny)
            if (int rc = s.add(anyPolicy, nullptr)) return rc;
        s.move_to(*set);
        return 0;
    });
}

QRT_API void QRT_PVD_Policies_Reset(ZQ_PVD_Policies *set) {
    if (set) reset_set(*set);
}

QRT_API int QRT_PVD_Policies_AddNode(ZQ_PVD_Policies *set, ZQ_PVD_PolicyNode *node) {
    return OSTREL_GUARD(set && node, [&] { return add_node(*set, *node); });
}

QRT_API int QRT_PVD_Policies_DeleteNode(ZQ_PVD_Policies *set, const ObjectID *oid) {
    return OSTREL_GUARD(set && oid, [&] {
        delete_nodes(*set, *oid);
        return 0;
    });
}

QRT_API int QRT_PVD_Policies_HasAnyInExpected(const ZQ_PVD_Policies *set) {
    return set && any_in_expected(*set) ? 1 : 0;
}

QRT_API ZQ_PVD_PolicyNode *QRT_PVD_Policies_HasPolicyInExpected(ZQ_PVD_Policies *set, const ObjectID *oid) {
    return set && oid ? first_expecting(*set, *oid) : nullptr;
}

QRT_API int QRT_PVD_Policies_FromString(ZQ_PVD_Policies *set, const char *text) {
    return OSTREL_GUARD(set != nullptr, [&] { return from_string(*set, text); });
}

QRT_API int QRT_PVD_Policies_FromCPExt(ZQ_PVD_Policies *set, const BIN *certificatePolicies) {
    return OSTREL_GUARD(set && certificatePolicies, [&] { return from_cp_ext(*set, *certificatePolicies); });
}

QRT_API int QRT_PVD_Policies_MakeIntersection(const ZQ_PVD_StateVars *vars, ZQ_PVD_Policies *valid,
                                              const ZQ_PVD_Policies *certSet) {
    if (!vars || !valid || !certSet) return QRT_PVD_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] { return make_intersection(vars->inhibitAnyPolicy, *valid, *certSet); });
}

QRT_API int QRT_PVD_Policies_ApplyPolicyMapping(const ZQ_PVD_StateVars *vars, ZQ_PVD_Policies *valid,
                                                const BIN *policyMappings) {
    if (!vars || !valid) return QRT_PVD_INVALID_INPUT;
    if (!policyMappings) return 0;
    return OSTREL_GUARD([&] { return apply_policy_mapping(vars->policyMapping, *valid, *policyMappings); });
}

QRT_API int QRT_PVD_Policies_AssureIntersection(const ZQ_PVD_Policies *valid, const ZQ_PVD_Policies *user) {
    return valid && user && intersects(*valid, *user) ? 0 : -1;
}

QRT_API int QRT_PVD_StateVars_Init(ZQ_PVD_StateVars *vars, const char *initPolicies, int initPolicyMappingInhibit,
                                   int initExplicitPolicy, int initAnyPolicyInhibit) {
    if (!vars) return QRT_PVD_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] {
        return init_state(*vars, initPolicies, initPolicyMappingInhibit, initExplicitPolicy, initAnyPolicyInhibit);
    });
}

QRT_API void QRT_PVD_StateVars_Reset(ZQ_PVD_StateVars *vars) {
    if (vars) reset_state(*vars);
}

QRT_API int QRT_PVD_StateVars_Copy(ZQ_PVD_StateVars *dst, const ZQ_PVD_StateVars *src) {
    if (!dst || !src || dst == src) return QRT_PVD_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] { return copy_state(*dst, *src); });
}

QRT_API void QRT_PVD_StateVars_Upward(ZQ_PVD_StateVars *vars) {
    if (vars) move_levels(*vars, 1);
}

QRT_API void QRT_PVD_StateVars_Downward(ZQ_PVD_StateVars *vars) {
    if (vars) move_levels(*vars, -1);
}

QRT_API void QRT_PVD_StateVars_SetAsRoot(ZQ_PVD_StateVars *vars) {
    if (vars) vars->levelsBelowRoot = 0;
}

QRT_API void QRT_PVD_StateVars_ResetAsRoot(ZQ_PVD_StateVars *vars) {
    if (!vars) return;
    // The count includes the new root itself; what lies above it is the rest.
    if (vars->levelsBelowRoot > 1) move_levels(*vars, -(vars->levelsBelowRoot - 1));
    vars->levelsBelowRoot = 0;
}

QRT_API void QRT_PVD_StateVars_CountLevel(ZQ_PVD_StateVars *vars) {
    if (vars) ++vars->levelsBelowRoot;
}

QRT_API int QRT_PVD_StateVars_IsTarget(const ZQ_PVD_StateVars *vars) {
    return vars && vars->levelsBelowRoot >= vars->levelIndex ? 1 : 0;
}

QRT_API int QRT_PVD_Policy_CheckCert(ZQ_PVD_StateVars *vars, int flags, const BIN *certificatePolicies, int critical) {
    if (!vars) return QRT_PVD_INVALID_INPUT;
    if (flags & PVD_FLAG_NO_POLICY) return 0;
    return OSTREL_GUARD_TRACE([&] { return check_cert(*vars, flags, certificatePolicies, critical != 0); });
}

QRT_API int QRT_PVD_CheckPolicyConsts(ZQ_PVD_StateVars *vars, const BIN *policyConstraints, int isTarget) {
    if (!vars) return QRT_PVD_INVALID_INPUT;
    if (!policyConstraints) return 0;
    return OSTREL_GUARD([&] { return check_policy_consts(*vars, *policyConstraints, isTarget != 0); });
}

QRT_API int QRT_PVD_CheckInhibitAnyPolicy(ZQ_PVD_StateVars *vars, const BIN *inhibitAnyPolicy) {
    if (!vars) return QRT_PVD_INVALID_INPUT;
    if (!inhibitAnyPolicy) return 0;
    return OSTREL_GUARD([&] { return check_inhibit_any(*vars, *inhibitAnyPolicy); });
}

QRT_API int QRT_PVD_Policy_CheckCA(ZQ_PVD_StateVars *vars, const BIN *policyConstraints, const BIN *inhibitAnyPolicy,
                                   int selfSigned) {
    if (!vars) return QRT_PVD_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] { return check_ca(*vars, policyConstraints, inhibitAnyPolicy, selfSigned != 0); });
}

QRT_API int QRT_PVD_Policy_CheckTarget(ZQ_PVD_StateVars *vars, const BIN *policyConstraints, int selfSigned) {
    if (!vars) return QRT_PVD_INVALID_INPUT;
    return OSTREL_GUARD_TRACE([&] { return check_target(*vars, policyConstraints, selfSigned != 0); });
}

}  // extern "C"
