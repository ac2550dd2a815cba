// The state a validation carries from level to level: the policy sets (fixed arrays of nodes, so
// a set is built beside another and moved over without allocating anything but identifier
// contents), the path counters, the name-constraint sets and the working public key. This module
// holds the sets' records and the initial state.
#include "pvd_internal.h"

namespace ostrel::pvd {
namespace {

bool is_any(const ObjectID *oid) { return oid && QRT_ASN_CmpOID(oid, &anyPolicy) == 0; }

int copy_oid(ObjectID *dst, const ObjectID *src) {
    if (QRT_ASN_CopyOID(dst, src) != 0) {
        *dst = ObjectID{0, nullptr};
        return QRT_PVD_MALLOC_FAILED;
    }
    return 0;
}

void reset_node(ZQ_PVD_PolicyNode &n) {
    QRT_ASN_ResetOID(&n.validPolicy);
    for (int i = 0; i < n.expectedCount && i < PVD_MAX_EXPECTED; ++i) QRT_ASN_ResetOID(&n.expected[i]);
    QRT_ASN_ResetOID(&n.anchorPolicy);
    std::memset(&n, 0, sizeof n);
}

void reset_set(ZQ_PVD_Policies &set) {
    for (int i = 0; i < set.count && i < PVD_MAX_POLICIES; ++i) reset_node(set.nodes[i]);
    set.count = 0;
    set.hasAny = 0;
}

void reset_subtrees(ZQ_PVD_NameSubtrees &s) {
    for (int i = 0; i < s.count && i < PVD_MAX_SUBTREES; ++i) QRT_free(s.dn[i]);
    std::memset(&s, 0, sizeof s);
}

int add_expected(ZQ_PVD_PolicyNode &n, const ObjectID *oid) {
    if (n.expectedCount >= PVD_MAX_EXPECTED) return QRT_PVD_CERT_POLICY_EXCEED;
    if (int rc = copy_oid(&n.expected[n.expectedCount], oid)) return rc;
    ++n.expectedCount;
    if (is_any(oid)) n.expectedHasAny = 1;
    return 0;
}

int init_node(ZQ_PVD_PolicyNode &n, const ObjectID *policy, const ObjectID *expected, const ObjectID *anchor) {
    std::memset(&n, 0, sizeof n);
    const ObjectID *p = policy ? policy : &anyPolicy;
    n.isAny = is_any(p) ? 1 : 0;
    int rc = copy_oid(&n.validPolicy, p);
    if (!rc && expected) rc = add_expected(n, expected);
    if (!rc && anchor) {
        rc = copy_oid(&n.anchorPolicy, anchor);
        n.hasAnchorPolicy = rc ? 0 : 1;
    }
    if (rc) reset_node(n);
    return rc;
}

int add_node(ZQ_PVD_Policies &set, ZQ_PVD_PolicyNode &node) {
    if (set.count >= PVD_MAX_POLICIES) return QRT_PVD_CERT_POLICY_EXCEED;
    set.nodes[set.count++] = node;
    if (node.isAny) set.hasAny = 1;
    std::memset(&node, 0, sizeof node);
    return 0;
}

int init_set(ZQ_PVD_Policies &set, bool withAny) {
    std::memset(&set, 0, sizeof set);
    if (!withAny) return 0;
    ZQ_PVD_PolicyNode n;
    if (int rc = init_node(n, &anyPolicy, &anyPolicy, nullptr)) return rc;
    return add_node(set, n);
}

// initPolicies: NULL or "any-policy", else dotted identifiers separated by commas.
int from_string(ZQ_PVD_Policies &set, const char *text) {
    reset_set(set);
    if (!text || std::strcmp(text, "any-policy") == 0) return init_set(set, true);
    std::string_view rest(text);
    while (!rest.empty()) {
        size_t comma = rest.find(',');
        std::string item(rest.substr(0, comma));
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        if (item.empty()) continue;
        if (set.count >= PVD_MAX_POLICIES) return QRT_PVD_CERT_POLICY_EXCEED;
        ObjectID oid{0, nullptr};
        if (int rc = QRT_ASN_DotVal2OID(&oid, item.c_str())) return rc;
        ZQ_PVD_PolicyNode n;
        int rc = init_node(n, &oid, nullptr, nullptr);
        QRT_ASN_ResetOID(&oid);
        if (rc) return rc;
        if ((rc = add_node(set, n))) return rc;
    }
    return 0;
}

}  // namespace
}  // namespace ostrel::pvd

using namespace ostrel::pvd;

extern "C" {

QRT_API int QRT_PVD_PolicyNode_Init(ZQ_PVD_PolicyNode *node, const ObjectID *policy, const ObjectID *expected,
                                    const ObjectID *anchor) {
    if (!node) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    return PVD_FAIL(init_node(*node, policy, expected, anchor));
}

QRT_API int QRT_PVD_PolicyNode_AddExpected(ZQ_PVD_PolicyNode *node, const ObjectID *oid) {
    if (!node || !oid) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    return PVD_FAIL(add_expected(*node, oid));
}

QRT_API void QRT_PVD_PolicyNode_ResetExpected(ZQ_PVD_PolicyNode *node) {
    if (!node) return;
    for (int i = 0; i < node->expectedCount && i < PVD_MAX_EXPECTED; ++i) QRT_ASN_ResetOID(&node->expected[i]);
    node->expectedCount = 0;
    node->expectedHasAny = 0;
}

QRT_API void QRT_PVD_PolicyNode_Reset(ZQ_PVD_PolicyNode *node) {
    if (node) reset_node(*node);
}

QRT_API int QRT_PVD_Policies_Init(ZQ_PVD_Policies *set, const int withAny) {
    if (!set) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    return PVD_FAIL(init_set(*set, withAny != 0));
}

QRT_API void QRT_PVD_Policies_Reset(ZQ_PVD_Policies *set) {
    if (set) reset_set(*set);
}

QRT_API int QRT_PVD_Policies_AddNode(ZQ_PVD_Policies *set, ZQ_PVD_PolicyNode *node) {
    if (!set || !node) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    return PVD_FAIL(add_node(*set, *node));
}

QRT_API int QRT_PVD_Policies_FromString(ZQ_PVD_Policies *set, const char *text) {
    if (!set) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    int rc = contained([&] { return from_string(*set, text); });
    if (rc) reset_set(*set);
    return PVD_FAIL(rc);
}

QRT_API int QRT_PVD_StateVars_Init(ZQ_PVD_StateVars *vars, const char *initPolicies, const int mappingInhibit,
                                   const int explicitPolicy, const int anyPolicyInhibit) {
    if (!vars) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    std::memset(vars, 0, sizeof *vars);
    int rc = QRT_PVD_Policies_FromString(&vars->userPolicies, initPolicies);
    if (!rc) rc = init_set(vars->validPolicies, true);
    if (rc) {
        QRT_PVD_StateVars_Reset(vars);
        return PVD_FAIL(rc);
    }
    vars->initPolicyMappingInhibit = mappingInhibit ? 1 : 0;
    vars->initExplicitPolicy = explicitPolicy ? 1 : 0;
    vars->initAnyPolicyInhibit = anyPolicyInhibit ? 1 : 0;
    // The path length is known only after the climb: the counters start at 2 (0 for a set input)
    // and grow with every level climbed.
    vars->explicitPolicy = explicitPolicy ? 0 : 2;
    vars->inhibitAnyPolicy = anyPolicyInhibit ? 0 : 2;
    vars->policyMapping = mappingInhibit ? 0 : 2;
    vars->maxPathLength = 1;
    vars->permitted.isAll = 1;
    return 0;
}

QRT_API void QRT_PVD_StateVars_Reset(ZQ_PVD_StateVars *vars) {
    if (!vars) return;
    reset_set(vars->userPolicies);
    reset_set(vars->validPolicies);
    reset_subtrees(vars->permitted);
    reset_subtrees(vars->excluded);
    QRT_BIN_Reset(&vars->pubKey);
    QRT_BIN_Reset(&vars->pubKeyParam);
    QRT_free(vars->pubKeyDN);
    std::memset(vars, 0, sizeof *vars);
}

}  // extern "C"
