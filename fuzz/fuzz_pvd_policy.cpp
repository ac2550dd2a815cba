// Policy processing from any bytes: a path of certificates described by their policy
// extensions runs through the steps (certificate set and its repair, intersection, mappings,
// constraints, the final check), and the sets must stay within their bounds and consistent
// with their flags; a certificatePolicies value must come back unchanged from its repair.
//
// Input: one byte of settings (bit 0 explicit policy, 1 mapping inhibit, 2 anyPolicy inhibit,
// 3 strict rule, 4 the first record is the caller's initial set), then records of a tag byte, a
// two-byte big-endian length and that many bytes. Tag % 6: 0 certificatePolicies, 1 the same
// critical, 2 policyMappings, 3 policyConstraints, 4 inhibitAnyPolicy, 5 end of a CA certificate
// (odd tag / 6: self-signed). What follows the last CA is the target.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "suite_pvd_internal.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Cert {
    std::optional<Bytes> cp, pm, pc, iap;
    bool critical = false, selfSigned = false;
};

void check_set(const ZQ_PVD_Policies &s) {
    if (s.count < 0 || s.count > PVD_MAX_POLICIES) abort();
    int any = 0;
    for (int i = 0; i < s.count; ++i) {
        const ZQ_PVD_PolicyNode &n = s.nodes[i];
        if (n.expectedCount < 0 || n.expectedCount > PVD_MAX_EXPECTED) abort();
        if (n.isAny) any = 1;
        if (n.isAny != (QRT_ASN_CmpOID(&n.validPolicy, &anyPolicy) == 0)) abort();
        int expAny = 0;
        for (int k = 0; k < n.expectedCount; ++k)
            if (QRT_ASN_CmpOID(&n.expected[k], &anyPolicy) == 0) expAny = 1;
        if (expAny != n.expectedHasAny) abort();
    }
    if (any != s.hasAny) abort();
}

const BIN *view(const std::optional<Bytes> &v, BIN &slot) {
    if (!v) return nullptr;
    slot = BIN{static_cast<unsigned int>(v->size()), const_cast<uint8_t *>(v->data())};
    return &slot;
}

int run(ZQ_PVD_StateVars *st, const std::vector<Cert> &path, int flags) {
    for (size_t i = 0; i < path.size(); ++i) QRT_PVD_StateVars_Upward(st);
    QRT_PVD_StateVars_SetAsRoot(st);
    QRT_PVD_StateVars_Downward(st);
    for (const Cert &c : path) {
        BIN a, b, d, e;
        QRT_PVD_StateVars_CountLevel(st);
        int rc = QRT_PVD_Policy_CheckCert(st, flags, view(c.cp, a), c.critical);
        check_set(st->validPolicies);
        if (rc) return rc;
        if (QRT_PVD_StateVars_IsTarget(st)) return QRT_PVD_Policy_CheckTarget(st, view(c.pc, b), c.selfSigned);
        rc = QRT_PVD_Policies_ApplyPolicyMapping(st, &st->validPolicies, view(c.pm, d));
        check_set(st->validPolicies);
        if (rc) return rc;
        if ((rc = QRT_PVD_Policy_CheckCA(st, view(c.pc, b), view(c.iap, e), c.selfSigned))) return rc;
    }
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    uint8_t settings = data[0];
    std::vector<Cert> path(1);
    std::optional<std::string> initPolicies;
    size_t pos = 1;
    for (int record = 0; pos + 3 <= size && path.size() <= 40; ++record) {
        uint8_t tag = data[pos];
        size_t len = (static_cast<size_t>(data[pos + 1]) << 8) | data[pos + 2];
        pos += 3;
        if (len > size - pos) len = size - pos;
        Bytes v(data + pos, data + pos + len);
        pos += len;
        if (record == 0 && (settings & 0x10)) {
            initPolicies.emplace(v.begin(), v.end());
            initPolicies->resize(strnlen(initPolicies->c_str(), initPolicies->size()));
            continue;
        }
        Cert &c = path.back();
        switch (tag % 6) {
            case 0:
            case 1:
                c.cp = v;
                c.critical = tag % 6 == 1;
                break;
            case 2:
                c.pm = v;
                break;
            case 3:
                c.pc = v;
                break;
            case 4:
                c.iap = v;
                break;
            default:
                c.selfSigned = (tag / 6) & 1;
                path.emplace_back();
        }
    }

    // The certificate set alone, and the bytes it read left as they were.
    for (const Cert &c : path) {
        if (!c.cp) continue;
        ZQ_PVD_Policies set{};
        BIN b{static_cast<unsigned int>(c.cp->size()), const_cast<uint8_t *>(c.cp->data())};
        Bytes before = *c.cp;
        int rc = QRT_PVD_Policies_FromCPExt(&set, &b);
        check_set(set);
        if (rc && set.count) abort();
        if (before != *c.cp) abort();
        QRT_PVD_Policies_Reset(&set);
    }

    auto *st = static_cast<ZQ_PVD_StateVars *>(calloc(1, sizeof(ZQ_PVD_StateVars)));
    if (!st) return 0;
    if (QRT_PVD_StateVars_Init(st, initPolicies ? initPolicies->c_str() : nullptr, settings & 2, settings & 1,
                               settings & 4) == 0) {
        check_set(st->userPolicies);
        run(st, path, (settings & 8) ? PVD_FLAG_STRICT : 0);
        check_set(st->validPolicies);
    }
    QRT_PVD_StateVars_Reset(st);
    free(st);
    return 0;
}
