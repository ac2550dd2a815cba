// Certificate policy processing: tables of the set operations (initial set, a certificate's set
// and its repair, intersection, mappings), the counters over a path, the constraints, the
// policy sections of PKITS replayed through the steps, chains made by openssl, and hostile
// policy growth against its time and memory bound.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "ostrel/alloc_gate.hpp"
#include "ostrel/asn_tree.hpp"
#include "ostrel/der_build.hpp"
#include "ostrel/test_support.hpp"
#include "suite_pvd_internal.h"

namespace {

namespace der = ostrel::test::der;
using Bytes = der::Bytes;
using ostrel::test::run;
using ostrel::test::TempDir;
using ostrel::test::trace_field;
using ostrel::test::trace_records;

// Test policies are pN = 1.3.6.1.4.1.99999.1.N; "any" is anyPolicy.
const std::string kArc = "1.3.6.1.4.1.99999.1.";

std::string dotted(const std::string &name) {
    if (name == "any") return "2.5.29.32.0";
    if (name.size() > 1 && name[0] == 'p') return kArc + name.substr(1);
    return name;
}

struct Oid {
    ObjectID o{0, nullptr};
    explicit Oid(const std::string &name) { EXPECT_EQ(QRT_ASN_DotVal2OID(&o, dotted(name).c_str()), 0) << name; }
    ~Oid() { QRT_ASN_ResetOID(&o); }
    Oid(const Oid &) = delete;
    Oid &operator=(const Oid &) = delete;
    const ObjectID *operator&() const { return &o; }
};

std::string name_of(const ObjectID &oid) {
    char *text = nullptr;
    if (QRT_ASN_OID2DotVal(&text, &oid) != 0 || !text) return "?";
    std::string s = text;
    QRT_free(text);
    if (s == "2.5.29.32.0") return "any";
    if (s.rfind(kArc, 0) == 0) return std::string("p").append(s, kArc.size());
    return s;
}

// "p1[p2,p3]^p1 any[any]": each node's policy, [its expected list] when it has one, ^its anchor
// policy when it has one.
std::string show(const ZQ_PVD_Policies &s) {
    std::string out;
    for (int i = 0; i < s.count; ++i) {
        const ZQ_PVD_PolicyNode &n = s.nodes[i];
        if (!out.empty()) out += ' ';
        out += name_of(n.validPolicy);
        if (n.expectedCount) {
            out += '[';
            for (int k = 0; k < n.expectedCount; ++k) {
                if (k) out += ',';
                out += name_of(n.expected[k]);
            }
            out += ']';
        }
        if (n.hasAnchorPolicy) out += '^' + name_of(n.anchorPolicy);
    }
    return out;
}

// Sets and states live on the heap (a state is some 20 KB) and are released at scope exit.
struct Set {
    std::unique_ptr<ZQ_PVD_Policies> p = std::make_unique<ZQ_PVD_Policies>();
    Set() { std::memset(p.get(), 0, sizeof *p); }
    ~Set() { QRT_PVD_Policies_Reset(p.get()); }
    ZQ_PVD_Policies *operator&() { return p.get(); }
    ZQ_PVD_Policies &operator*() { return *p; }
    ZQ_PVD_Policies *operator->() { return p.get(); }
};

struct State {
    std::unique_ptr<ZQ_PVD_StateVars> p = std::make_unique<ZQ_PVD_StateVars>();
    State() { std::memset(p.get(), 0, sizeof *p); }
    ~State() { QRT_PVD_StateVars_Reset(p.get()); }
    ZQ_PVD_StateVars *operator&() { return p.get(); }
    ZQ_PVD_StateVars *operator->() { return p.get(); }
};

std::vector<std::string> words(const std::string &text) {
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

// The inverse of show(): builds a set through the node functions.
void parse_set(ZQ_PVD_Policies *out, const std::string &layout) {
    for (const std::string &w : words(layout)) {
        size_t br = w.find('['), hat = w.find('^');
        std::string policy = w.substr(0, std::min(br, hat));
        ZQ_PVD_PolicyNode n{};
        Oid p(policy);
        std::optional<Oid> anchor;
        if (hat != std::string::npos) anchor.emplace(w.substr(hat + 1));
        ASSERT_EQ(QRT_PVD_PolicyNode_Init(&n, &p, nullptr, anchor ? &*anchor : nullptr), 0);
        if (br != std::string::npos) {
            std::string list = w.substr(br + 1, w.find(']') - br - 1);
            for (size_t pos = 0; pos <= list.size();) {
                size_t c = list.find(',', pos);
                if (c == std::string::npos) c = list.size();
                Oid e(list.substr(pos, c - pos));
                ASSERT_EQ(QRT_PVD_PolicyNode_AddExpected(&n, &e), 0);
                pos = c + 1;
            }
        }
        ASSERT_EQ(QRT_PVD_Policies_AddNode(out, &n), 0);
    }
}

// ---- DER of the policy extensions ----------------------------------------------------------

Bytes oid_der(const std::string &name) {
    Oid o(name);
    return der::tlv(0x06, Bytes(o.o.value, o.o.value + o.o.length));
}

Bytes cp_der(const std::string &policies) {
    Bytes body;
    for (const std::string &p : words(policies)) body = der::cat({body, der::seq({oid_der(p)})});
    return der::tlv(0x30, body);
}

// "p1:p3 p1:p4" maps p1 to p3 and p4.
Bytes pm_der(const std::string &pairs) {
    Bytes body;
    for (const std::string &w : words(pairs)) {
        size_t c = w.find(':');
        body = der::cat({body, der::seq({oid_der(w.substr(0, c)), oid_der(w.substr(c + 1))})});
    }
    return der::tlv(0x30, body);
}

Bytes small_int(unsigned char tag, int v) {
    Bytes content;
    for (unsigned x = static_cast<unsigned>(v);; x >>= 8) {
        content.insert(content.begin(), static_cast<unsigned char>(x & 0xff));
        if (x < 0x80) break;
    }
    return der::tlv(tag, content);
}

// requireExplicitPolicy / inhibitPolicyMapping; -1 leaves the field out.
Bytes pc_der(int require, int inhibit) {
    Bytes body;
    if (require >= 0) body = der::cat({body, small_int(0x80, require)});
    if (inhibit >= 0) body = der::cat({body, small_int(0x81, inhibit)});
    return der::tlv(0x30, body);
}

Bytes iap_der(int v) { return small_int(0x02, v); }

struct View {
    BIN b{0, nullptr};
    explicit View(const Bytes &v) : b{static_cast<unsigned int>(v.size()), const_cast<unsigned char *>(v.data())} {}
    const BIN *operator&() const { return &b; }
};

// One path certificate as the steps see it.
struct Cert {
    std::optional<Bytes> cp, pm, pc, iap;
    bool cpCritical = false;
    bool selfSigned = false;
};

const BIN *opt(const std::optional<Bytes> &v, BIN &slot) {
    if (!v) return nullptr;
    slot = BIN{static_cast<unsigned int>(v->size()), const_cast<unsigned char *>(v->data())};
    return &slot;
}

// A path below the trust anchor, top-down, through the steps in the order path validation calls
// them: the climb (one level up per issuer searched), the anchor (one level back down), then
// per certificate the count, the certificate step and the CA or target steps.
int run_path(ZQ_PVD_StateVars *st, const std::vector<Cert> &path, int flags = 0) {
    for (size_t i = 0; i < path.size(); ++i) QRT_PVD_StateVars_Upward(st);
    QRT_PVD_StateVars_SetAsRoot(st);
    QRT_PVD_StateVars_Downward(st);
    for (const Cert &c : path) {
        BIN a, b, d, e;
        QRT_PVD_StateVars_CountLevel(st);
        if (flags & PVD_FLAG_NO_POLICY) continue;
        if (int rc = QRT_PVD_Policy_CheckCert(st, flags, opt(c.cp, a), c.cpCritical)) return rc;
        if (QRT_PVD_StateVars_IsTarget(st)) return QRT_PVD_Policy_CheckTarget(st, opt(c.pc, b), c.selfSigned);
        if (int rc = QRT_PVD_Policies_ApplyPolicyMapping(st, &st->validPolicies, opt(c.pm, d))) return rc;
        if (int rc = QRT_PVD_Policy_CheckCA(st, opt(c.pc, b), opt(c.iap, e), c.selfSigned)) return rc;
    }
    return (flags & PVD_FLAG_NO_POLICY) && QRT_PVD_StateVars_IsTarget(st) ? 0 : QRT_PVD_INTERNAL;
}

// The extensions of a DER certificate.
Cert cert_of(const std::string &derText) {
    Cert c;
    BIN in{static_cast<unsigned int>(derText.size()),
           reinterpret_cast<unsigned char *>(const_cast<char *>(derText.data()))};
    ostrel::AsnTree<Certificate> cert(Certificate_PDU);
    EXPECT_EQ(cert.decode(&in), 0);
    if (!cert) return c;
    const TBSCertificate &tbs = cert->tbsCertificate;
    c.selfSigned = tbs.issuer_encoded.length == tbs.subject_encoded.length &&
                   std::memcmp(tbs.issuer_encoded.value, tbs.subject_encoded.value, tbs.issuer_encoded.length) == 0;
    for (auto *e = tbs.extensions; e; e = e->next) {
        const Extension &x = e->value;
        Bytes v(x.extnValue.value, x.extnValue.value + x.extnValue.length);
        if (ostrel::oid_equal(x.extnID, id_ce_certificatePolicies)) {
            c.cp = v;
            c.cpCritical = (x.bit_mask & Extension_critical_present) && x.critical;
        } else if (ostrel::oid_equal(x.extnID, id_ce_policyMappings)) {
            c.pm = v;
        } else if (ostrel::oid_equal(x.extnID, id_ce_policyConstraints)) {
            c.pc = v;
        } else if (ostrel::oid_equal(x.extnID, id_ce_inhibitAnyPolicy)) {
            c.iap = v;
        }
    }
    return c;
}

bool has_record(const std::vector<std::string> &recs, const std::string &func, int code) {
    for (const std::string &r : recs)
        if (trace_field(r, 2) == func && trace_field(r, 3) == std::to_string(code) &&
            trace_field(r, 5) == "suite_pvd_policy.cpp")
            return true;
    return false;
}

class PvdPolicy : public ::testing::Test {
  protected:
    void SetUp() override {
        QRT_Trace_Initialize();
        trace_records();
    }
};

// ---- The caller's set and a certificate's set ------------------------------------------------

TEST_F(PvdPolicy, InitialSetFromText) {
    struct Row {
        const char *text;
        int rc;
        std::string set;
        bool hasAny;
    } rows[] = {
        {nullptr, 0, "any", true},
        {"any-policy", 0, "any", true},
        {"1.3.6.1.4.1.99999.1.1,,1.3.6.1.4.1.99999.1.2,", 0, "p1 p2", false},
        {",1.3.6.1.4.1.99999.1.7", 0, "p7", false},
        {"1.3.6.1.4.1.99999.1.1,2.5.29.32.0", 0, "p1 any", true},
        {"", 0, "", false},
        {",,,", 0, "", false},
        {"any-policy,1.3.6.1.4.1.99999.1.1", -1, "", false},  // only the exact text names anyPolicy
        {"1.3.6.1.4.1.99999.1.1, 1.3.6.1.4.1.99999.1.2", -1, "", false},
        {"1.2.x", -1, "", false},
    };
    for (const Row &r : rows) {
        Set s;
        parse_set(&s, "p9");  // what the set held before is released
        int rc = QRT_PVD_Policies_FromString(&s, r.text);
        std::string label = r.text ? r.text : "(null)";
        if (r.rc < 0) {
            EXPECT_GE(rc, 1000) << label;  // the ASN.1 layer's code for an item that is no identifier
            EXPECT_LT(rc, 2000) << label;
            EXPECT_EQ(s->count, 0) << label;
            EXPECT_TRUE(has_record(trace_records(), "QRT_PVD_Policies_FromString", rc)) << label;
            continue;
        }
        EXPECT_EQ(rc, r.rc) << label;
        EXPECT_EQ(show(*s), r.set) << label;
        EXPECT_EQ(s->hasAny != 0, r.hasAny) << label;
    }

    // 50 items fill the set; the 51st is refused.
    std::string fifty;
    for (int i = 1; i <= 50; ++i) {
        if (i > 1) fifty += ',';
        fifty.append(kArc).append(std::to_string(i));
    }
    Set s;
    EXPECT_EQ(QRT_PVD_Policies_FromString(&s, fifty.c_str()), 0);
    EXPECT_EQ(s->count, 50);
    std::string more = fifty + "," + kArc + "51";
    EXPECT_EQ(QRT_PVD_Policies_FromString(&s, more.c_str()), QRT_PVD_CERT_POLICY_EXCEED);
    EXPECT_EQ(s->count, 0);
    trace_records();
    State st;
    EXPECT_EQ(QRT_PVD_StateVars_Init(&st, more.c_str(), 0, 0, 0), QRT_PVD_CERT_POLICY_EXCEED);
    auto recs = trace_records();
    EXPECT_TRUE(has_record(recs, "QRT_PVD_Policies_FromString", QRT_PVD_CERT_POLICY_EXCEED));
    EXPECT_TRUE(has_record(recs, "QRT_PVD_StateVars_Init", QRT_PVD_CERT_POLICY_EXCEED));
}

TEST_F(PvdPolicy, CertificateSetAndItsRepair) {
    // PolicyInformation with a CPS qualifier, as the repair's input needs one.
    Bytes qualifier = der::seq(
        {der::tlv(0x06, {0x2b, 0x06, 0x01, 0x05, 0x05, 0x07, 0x02, 0x01}), der::text(0x16, "http://cps.example/")});
    Bytes info = der::cat({oid_der("p1"), der::seq({qualifier})});
    Bytes good = der::seq({der::tlv(0x30, info)});
    // The stray empty SEQUENCE counted in both lengths.
    Bytes stray = der::seq({der::tlv(0x30, der::cat({info, Bytes{0x30, 0x00}}))});
    // The same with the outer length in long form: left alone.
    Bytes inner = der::tlv(0x30, der::cat({info, Bytes{0x30, 0x00}}));
    Bytes longForm = der::cat({Bytes{0x30, 0x81, static_cast<unsigned char>(inner.size())}, inner});
    Bytes many;
    for (int i = 1; i <= 51; ++i)
        many = der::cat({many, der::seq({oid_der(std::string("p").append(std::to_string(i)))})});

    struct Row {
        const char *what;
        Bytes value;
        int rc;
        std::string set;
    } rows[] = {
        {"plain", cp_der("p1 any p2"), 0, "p1 any p2"},
        {"with qualifiers", good, 0, "p1"},
        {"stray 30 00 repaired", stray, 0, "p1"},
        {"long-form length not patched", longForm, QRT_PVD_CERT_EXT_INVALID, ""},
        {"empty list", Bytes{0x30, 0x00}, 0, ""},
        {"not a SEQUENCE OF", Bytes{0x04, 0x02, 0x30, 0x00}, QRT_PVD_CERT_EXT_INVALID, ""},
        {"truncated", Bytes(good.begin(), good.end() - 1), QRT_PVD_CERT_EXT_INVALID, ""},
        {"trailing 30 00 outside", der::cat({cp_der("p1"), Bytes{0x30, 0x00}}), QRT_PVD_CERT_EXT_INVALID, ""},
        {"51 policies", der::tlv(0x30, many), QRT_PVD_CERT_POLICY_EXCEED, ""},
    };
    for (const Row &r : rows) {
        Bytes before = r.value;
        Set s;
        View v(r.value);
        EXPECT_EQ(QRT_PVD_Policies_FromCPExt(&s, &v), r.rc) << r.what;
        EXPECT_EQ(show(*s), r.set) << r.what;
        EXPECT_EQ(r.value, before) << r.what << ": the certificate's bytes changed";
        if (r.rc) {
            EXPECT_TRUE(has_record(trace_records(), "QRT_PVD_Policies_FromCPExt", r.rc)) << r.what;
        }
    }
    Set s;
    Bytes any = cp_der("any");
    View v(any);
    ASSERT_EQ(QRT_PVD_Policies_FromCPExt(&s, &v), 0);
    EXPECT_TRUE(s->hasAny && s->nodes[0].isAny);
    EXPECT_EQ(QRT_PVD_Policies_FromCPExt(&s, nullptr), QRT_PVD_INVALID_INPUT);
}

// ---- Intersection and mappings -----------------------------------------------------------------

TEST_F(PvdPolicy, MakeIntersection) {
    struct Row {
        const char *what;
        int inhibitAny;
        std::string valid, cert;
        int rc;
        std::string out;
    } rows[] = {
        // (a) the certificate asserts anyPolicy: every expected policy, under its node's anchor
        {"(a) expected of each node", 1, "p1[p2,p3]^p1 p4[p5]", "any", 0, "p2[p2]^p1 p3[p3]^p1 p5[p5]"},
        {"(a) needs inhibitAnyPolicy > 0", 0, "p1[p2,p3]^p1", "any", 0, ""},
        {"(a) and (b)", 1, "p5[p6]^p5 any[any]", "any p7", 0, "p6[p6]^p5 any[any] p7[p7]^p7"},
        // (b) some node expects anyPolicy: every asserted policy stands for itself
        {"(b) anchors itself", 2, "any[any]", "p1 p2", 0, "p1[p1]^p1 p2[p2]^p2"},
        {"(b) keeps anyPolicy to (a)", 2, "any[any]", "any", 0, "any[any]"},
        {"(b) anyPolicy under inhibitAnyPolicy 0", 0, "any[any]", "any p1", 0, "p1[p1]^p1"},
        {"(b) a mapped policy keeps its anchor", 2, "any[any] p1[p3]^p1", "p3 p9", 0, "p3[p3]^p1 p9[p9]^p9"},
        // (c) asserted policies some node expects, under the first such node's anchor
        {"(c) first expecting node", 2, "p1[p2]^p1 p3[p2,p4]^p3", "p2 p4 p9", 0, "p2[p2]^p1 p4[p4]^p3"},
        {"(c) no anchor", 2, "p1[p2]", "p2", 0, "p2[p2]"},
        {"(c) nothing in common", 2, "p1[p2]^p1", "p3", 0, ""},
        {"empty valid set stays empty", 2, "", "p1 any", 0, ""},
        {"empty certificate set empties", 2, "any[any]", "", 0, ""},
        {"more than 50 nodes", 1,
         "p1[p1,p2,p3,p4,p5,p6,p7,p8,p9,p10] p2[p1,p2,p3,p4,p5,p6,p7,p8,p9,p10] p3[p1,p2,p3,p4,p5,p6,p7,p8,p9,p10] "
         "p4[p1,p2,p3,p4,p5,p6,p7,p8,p9,p10] p5[p1,p2,p3,p4,p5,p6,p7,p8,p9,p10] p6[p1]",
         "any", QRT_PVD_CERT_POLICY_EXCEED, "unchanged"},
    };
    for (const Row &r : rows) {
        State st;
        st->inhibitAnyPolicy = r.inhibitAny;
        Set valid, cert;
        parse_set(&valid, r.valid);
        parse_set(&cert, r.cert);
        std::string before = show(*valid);
        EXPECT_EQ(QRT_PVD_Policies_MakeIntersection(&st, &valid, &cert), r.rc) << r.what;
        EXPECT_EQ(show(*valid), r.out == "unchanged" ? before : r.out) << r.what;
        EXPECT_EQ(valid->hasAny != 0, r.out.find("any[") != std::string::npos && r.out != "unchanged") << r.what;
        if (r.rc) {
            EXPECT_TRUE(has_record(trace_records(), "QRT_PVD_Policies_MakeIntersection", r.rc)) << r.what;
        }
    }
}

TEST_F(PvdPolicy, ApplyPolicyMapping) {
    std::string eleven;
    for (int i = 10; i <= 20; ++i) eleven.append(" p1:p").append(std::to_string(i));
    struct Row {
        const char *what;
        int policyMapping;
        std::string valid;
        std::optional<Bytes> mappings;
        int rc;
        std::string out;
    } rows[] = {
        {"no extension", 2, "p1[p1]^p1", std::nullopt, 0, "p1[p1]^p1"},
        {"replacement keeps the anchor", 2, "p1[p1]^p1 p2[p2]^p2", pm_der("p1:p3 p1:p4"), 0, "p1[p3,p4]^p1 p2[p2]^p2"},
        {"every node with the policy", 1, "p1[p1]^p7 p1[p1]", pm_der("p1:p3"), 0, "p1[p3]^p7 p1[p3]"},
        {"inhibited: the mapped policy goes", 0, "p1[p1]^p1 p2[p2]^p2", pm_der("p1:p3 p2:p2"), 0, ""},
        {"inhibited leaves others", 0, "p1[p1]^p1 p5[p5]^p5", pm_der("p1:p3"), 0, "p5[p5]^p5"},
        {"added under anyPolicy", 1, "any[any]", pm_der("p1:p2 p1:p3 p4:p5"), 0, "any[any] p1[p2,p3]^p1 p4[p5]^p4"},
        {"not added without anyPolicy", 1, "p5[p5]^p5", pm_der("p1:p2"), 0, "p5[p5]^p5"},
        {"not added when inhibited", 0, "any[any]", pm_der("p1:p2"), 0, "any[any]"},
        {"from anyPolicy", 2, "any[any]", pm_der("any:p2"), QRT_PVD_CERT_POLICY_MAPPING_INVALID, "unchanged"},
        {"to anyPolicy", 2, "p1[p1]", pm_der("p1:p2 p1:any"), QRT_PVD_CERT_POLICY_MAPPING_INVALID, "unchanged"},
        {"undecodable", 2, "p1[p1]", Bytes{0x30, 0x03, 0x30, 0x01, 0x06}, QRT_PVD_CERT_POLICY_MAPPING_INVALID,
         "unchanged"},
        {"eleven subject policies", 2, "p1[p1]", pm_der(eleven), QRT_PVD_CERT_POLICY_EXCEED, "unchanged"},
        {"empty list", 2, "p1[p1]", Bytes{0x30, 0x00}, 0, "p1[p1]"},
    };
    for (const Row &r : rows) {
        State st;
        st->policyMapping = r.policyMapping;
        Set valid;
        parse_set(&valid, r.valid);
        std::string before = show(*valid);
        BIN slot;
        EXPECT_EQ(QRT_PVD_Policies_ApplyPolicyMapping(&st, &valid, opt(r.mappings, slot)), r.rc) << r.what;
        EXPECT_EQ(show(*valid), r.out == "unchanged" ? before : r.out) << r.what;
        if (r.rc) {
            EXPECT_TRUE(has_record(trace_records(), "QRT_PVD_Policies_ApplyPolicyMapping", r.rc)) << r.what;
        }
    }
    // Deleting by policy closes the gaps and recomputes the set's anyPolicy flag.
    Set s;
    parse_set(&s, "p1[p2]^p1 any[any] p4 p1");
    Oid p1("p1"), any("any");
    ASSERT_EQ(QRT_PVD_Policies_DeleteNode(&s, &p1), 0);
    EXPECT_EQ(show(*s), "any[any] p4");
    ASSERT_EQ(QRT_PVD_Policies_DeleteNode(&s, &any), 0);
    EXPECT_EQ(show(*s), "p4");
    EXPECT_FALSE(s->hasAny);
}

// ---- Counters and constraints ------------------------------------------------------------------

TEST_F(PvdPolicy, CountersOverPaths) {
    // Anchor, CA, target: the counters read 3 and maxPathLength 2 when the CA is processed.
    State st;
    ASSERT_EQ(QRT_PVD_StateVars_Init(&st, nullptr, 0, 1, 0), 0);
    EXPECT_EQ(show(st->validPolicies), "any[any]");
    EXPECT_EQ(show(st->userPolicies), "any");
    EXPECT_EQ(st->explicitPolicy, 0);
    EXPECT_EQ(st->policyMapping, 2);
    QRT_PVD_StateVars_Upward(&st);  // the target's issuer
    QRT_PVD_StateVars_Upward(&st);  // the CA's issuer: the anchor
    EXPECT_EQ(st->policyMapping, 4);
    QRT_PVD_StateVars_SetAsRoot(&st);
    QRT_PVD_StateVars_Downward(&st);
    QRT_PVD_StateVars_CountLevel(&st);
    EXPECT_FALSE(QRT_PVD_StateVars_IsTarget(&st));
    EXPECT_EQ(st->policyMapping, 3);
    EXPECT_EQ(st->inhibitAnyPolicy, 3);
    EXPECT_EQ(st->explicitPolicy, 0);  // set by the caller: stays 0
    EXPECT_EQ(st->maxPathLength, 2);
    ASSERT_EQ(QRT_PVD_Policy_CheckCA(&st, nullptr, nullptr, 0), 0);
    EXPECT_EQ(st->policyMapping, 2);
    EXPECT_EQ(st->inhibitAnyPolicy, 2);
    QRT_PVD_StateVars_CountLevel(&st);
    EXPECT_TRUE(QRT_PVD_StateVars_IsTarget(&st));

    // Target, CA, directory root, trust list, anchor: once the directory root becomes the anchor,
    // the counters are those of a path of two below it.
    State ctl;
    ASSERT_EQ(QRT_PVD_StateVars_Init(&ctl, nullptr, 0, 0, 1), 0);
    for (int i = 0; i < 4; ++i) QRT_PVD_StateVars_Upward(&ctl);
    QRT_PVD_StateVars_SetAsRoot(&ctl);
    QRT_PVD_StateVars_Downward(&ctl);
    QRT_PVD_StateVars_CountLevel(&ctl);  // the trust list
    QRT_PVD_StateVars_CountLevel(&ctl);  // the directory root
    QRT_PVD_StateVars_ResetAsRoot(&ctl);
    QRT_PVD_StateVars_Downward(&ctl);
    EXPECT_EQ(ctl->explicitPolicy, 3);
    EXPECT_EQ(ctl->policyMapping, 3);
    EXPECT_EQ(ctl->inhibitAnyPolicy, 0);
    EXPECT_EQ(ctl->maxPathLength, 2);
    QRT_PVD_StateVars_CountLevel(&ctl);
    EXPECT_FALSE(QRT_PVD_StateVars_IsTarget(&ctl));
    QRT_PVD_StateVars_CountLevel(&ctl);
    EXPECT_TRUE(QRT_PVD_StateVars_IsTarget(&ctl));
}

TEST_F(PvdPolicy, ConstraintsLowerCounters) {
    struct Row {
        const char *what;
        std::optional<Bytes> pc, iap;
        bool target;
        int rc;
        int explicitPolicy, policyMapping, inhibitAny;  // from 3, 3, 3
    } rows[] = {
        {"requireExplicitPolicy 1", pc_der(1, -1), std::nullopt, false, 0, 1, 3, 3},
        {"inhibitPolicyMapping 0", pc_der(-1, 0), std::nullopt, false, 0, 3, 0, 3},
        {"larger values do not raise", pc_der(7, 9), iap_der(5), false, 0, 3, 3, 3},
        {"both", pc_der(0, 1), iap_der(0), false, 0, 0, 1, 0},
        {"target: requireExplicitPolicy 0", pc_der(0, 0), std::nullopt, true, 0, 0, 3, 3},
        {"target: other values ignored", pc_der(1, 0), std::nullopt, true, 0, 3, 3, 3},
        {"negative SkipCerts", Bytes{0x30, 0x03, 0x80, 0x01, 0xff}, std::nullopt, false, QRT_PVD_CERT_EXT_INVALID, 3, 3,
         3},
        {"undecodable policyConstraints", Bytes{0x30, 0x05, 0x80}, std::nullopt, false, QRT_PVD_CERT_EXT_INVALID, 3, 3,
         3},
        {"inhibitAnyPolicy past 32 bits", std::nullopt, Bytes{0x02, 0x05, 0x01, 0x00, 0x00, 0x00, 0x00}, false,
         QRT_PVD_CERT_EXT_INVALID, 3, 3, 3},
        {"inhibitAnyPolicy not an INTEGER", std::nullopt, Bytes{0x04, 0x01, 0x00}, false, QRT_PVD_CERT_EXT_INVALID, 3,
         3, 3},
    };
    for (const Row &r : rows) {
        State st;
        st->explicitPolicy = st->policyMapping = st->inhibitAnyPolicy = 3;
        BIN a, b;
        int rc = QRT_PVD_CheckPolicyConsts(&st, opt(r.pc, a), r.target);
        if (!rc) rc = QRT_PVD_CheckInhibitAnyPolicy(&st, opt(r.iap, b));
        EXPECT_EQ(rc, r.rc) << r.what;
        EXPECT_EQ(st->explicitPolicy, r.explicitPolicy) << r.what;
        EXPECT_EQ(st->policyMapping, r.policyMapping) << r.what;
        EXPECT_EQ(st->inhibitAnyPolicy, r.inhibitAny) << r.what;
        if (r.rc) {
            auto recs = trace_records();
            EXPECT_TRUE(has_record(recs, "QRT_PVD_CheckPolicyConsts", r.rc) ||
                        has_record(recs, "QRT_PVD_CheckInhibitAnyPolicy", r.rc))
                << r.what;
        }
    }
}

// ---- Whole paths -------------------------------------------------------------------------------

struct Inputs {
    const char *policies = nullptr;
    int mappingInhibit = 0, explicitPolicy = 0, anyInhibit = 0;
};

int run_with(const Inputs &in, const std::vector<Cert> &path, int flags = 0, std::string *valid = nullptr) {
    State st;
    if (int rc = QRT_PVD_StateVars_Init(&st, in.policies, in.mappingInhibit, in.explicitPolicy, in.anyInhibit))
        return rc;
    int rc = run_path(&st, path, flags);
    if (valid) *valid = show(st->validPolicies);
    return rc;
}

Cert with_cp(const std::string &policies, bool critical = false) {
    Cert c;
    c.cp = cp_der(policies);
    c.cpCritical = critical;
    return c;
}

TEST_F(PvdPolicy, PathRules) {
    const std::string p1 = dotted("p1"), p12 = dotted("p1") + "," + dotted("p2"),
                      p13 = dotted("p1") + "," + dotted("p3");
    Cert none;
    Cert anyInhibited0 = with_cp("any");
    anyInhibited0.iap = iap_der(0);
    Cert mapping = with_cp("p1");
    mapping.pm = pm_der("p1:p2");
    Cert garbage;
    garbage.cp = Bytes{0x30, 0x05, 0x30, 0x03, 0x06, 0x01};

    struct Row {
        const char *what;
        Inputs in;
        std::vector<Cert> path;
        int flags;
        int rc;
    } rows[] = {
        {"no policies anywhere", {}, {none, none}, 0, 0},
        {"explicit policy: CA without certificatePolicies",
         {nullptr, 0, 1},
         {none, with_cp("p1")},
         0,
         QRT_PVD_CERT_POLICY_INVALID},
        {"explicit policy met", {p1.c_str(), 0, 1}, {with_cp("p1 p2"), with_cp("p1")}, 0, 0},
        {"explicit policy, other user policy",
         {"1.3.6.1.4.1.99999.1.2", 0, 1},
         {with_cp("p1"), with_cp("p1")},
         0,
         QRT_PVD_CERT_POLICY_INVALID},
        {"user set not met, explicit policy not required",
         {"1.3.6.1.4.1.99999.1.2"},
         {with_cp("p1"), with_cp("p1")},
         0,
         0},
        {"mapping followed", {p1.c_str(), 0, 1}, {mapping, with_cp("p2")}, 0, 0},
        {"mapping inhibited by the caller",
         {p1.c_str(), 1, 1},
         {mapping, with_cp("p2")},
         0,
         QRT_PVD_CERT_POLICY_INVALID},
        {"inhibitAnyPolicy 0 stops anyPolicy below",
         {nullptr, 0, 1},
         {anyInhibited0, with_cp("any")},
         0,
         QRT_PVD_CERT_POLICY_INVALID},
        {"inhibitAnyPolicy 0, explicit policy asserted below", {nullptr, 0, 1}, {anyInhibited0, with_cp("p3")}, 0, 0},
        {"caller's inhibitAnyPolicy",
         {nullptr, 0, 1, 1},
         {with_cp("any"), with_cp("p3")},
         0,
         QRT_PVD_CERT_POLICY_INVALID},
        {"undecodable in the target", {}, {none, garbage}, 0, QRT_PVD_CERT_EXT_INVALID},
        {"undecodable in the target, strict", {}, {none, garbage}, PVD_FLAG_STRICT, QRT_PVD_CERT_EXT_INVALID},
        {"undecodable ignored without policy processing", {}, {none, garbage}, PVD_FLAG_NO_POLICY, 0},
        {"strict: CA shares no policy with the caller's",
         {p1.c_str(), 0, 1},
         {with_cp("p9"), with_cp("p1")},
         PVD_FLAG_STRICT,
         QRT_PVD_CERT_POLICY_INVALID},
        {"strict: non-critical sharing a policy",
         {p12.c_str(), 0, 1},
         {with_cp("p2 p1"), with_cp("p1")},
         PVD_FLAG_STRICT,
         0},
        {"strict: target shares no policy",
         {p1.c_str()},
         {with_cp("p1"), with_cp("p2")},
         PVD_FLAG_STRICT,
         QRT_PVD_CERT_POLICY_INVALID},
        {"strict: critical narrowing to nothing",
         {p13.c_str(), 0, 1},
         {with_cp("p1", true), with_cp("p3", true)},
         PVD_FLAG_STRICT,
         QRT_PVD_CERT_POLICY_INVALID},
        {"strict: critical narrows the set",
         {p1.c_str(), 0, 1},
         {with_cp("p1", true), with_cp("p1 p3", true)},
         PVD_FLAG_STRICT,
         0},
        {"strict: anyPolicy asserted passes", {p1.c_str()}, {with_cp("any"), with_cp("any")}, PVD_FLAG_STRICT, 0},
        {"target requireExplicitPolicy 0",
         {"1.3.6.1.4.1.99999.1.5"},
         {with_cp("p1"),
          [] {
              Cert c = with_cp("p1");
              c.pc = pc_der(0, -1);
              return c;
          }()},
         0,
         QRT_PVD_CERT_POLICY_INVALID},
    };
    for (const Row &r : rows) {
        std::string valid;
        EXPECT_EQ(run_with(r.in, r.path, r.flags, &valid), r.rc) << r.what << " (valid set: " << valid << ")";
    }

    // Strict and non-critical: the valid set is what it was.
    State st;
    ASSERT_EQ(QRT_PVD_StateVars_Init(&st, nullptr, 0, 0, 0), 0);
    BIN slot;
    std::optional<Bytes> cp = cp_der("p4");
    ASSERT_EQ(QRT_PVD_Policy_CheckCert(&st, PVD_FLAG_STRICT, opt(cp, slot), 0), 0);
    EXPECT_EQ(show(st->validPolicies), "any[any]");
    ASSERT_EQ(QRT_PVD_Policy_CheckCert(&st, PVD_FLAG_STRICT, opt(cp, slot), 1), 0);
    EXPECT_EQ(show(st->validPolicies), "p4[p4]^p4");

    // A failing step leaves its record and the callers' under their names.
    trace_records();
    EXPECT_EQ(run_with({}, {none, garbage}), QRT_PVD_CERT_EXT_INVALID);
    auto recs = trace_records();
    EXPECT_TRUE(has_record(recs, "QRT_PVD_Policies_FromCPExt", QRT_PVD_CERT_EXT_INVALID));
    EXPECT_TRUE(has_record(recs, "QRT_PVD_Policy_CheckCert", QRT_PVD_CERT_EXT_INVALID));
}

// ---- PKITS, policy sections, through the policy steps alone ---------------------------------

std::vector<std::string> split(const std::string &s, char sep) {
    std::vector<std::string> out;
    std::string cur;
    std::istringstream in(s);
    while (std::getline(in, cur, sep)) out.push_back(cur);
    if (!s.empty() && s.back() == sep) out.emplace_back();
    return out;
}

// Rows whose policy verdict here differs from the expected one, and why.
const std::map<std::string, std::string> kPkitsListed = {
    {"4.12.9",
     "anyPolicy in a self-issued intermediate counts only while inhibitAnyPolicy > 0; there is no self-issued "
     "exception"},
};

TEST_F(PvdPolicy, PkitsPolicySections) {
    const std::string base = "../shared/conformance/pkits/";
    std::string table = ostrel::test::read_file(base + "expected.tsv");
    if (table.empty()) GTEST_SKIP() << "no PKITS data";
    int rows = 0, agree = 0, listed = 0;
    for (const std::string &line : split(table, '\n')) {
        auto f = split(line, '\t');
        if (f.size() < 7 || !(f[0].rfind("4.8.", 0) == 0 || f[0].rfind("4.9.", 0) == 0 || f[0].rfind("4.10.", 0) == 0 ||
                              f[0].rfind("4.11.", 0) == 0 || f[0].rfind("4.12.", 0) == 0))
            continue;
        std::string policies;
        Inputs in;
        for (const std::string &kv : split(f[6], ';')) {
            if (kv.rfind("policy=", 0) == 0) policies = kv.substr(7);
            if (kv == "explicit=1") in.explicitPolicy = 1;
            if (kv == "inhibit_mapping=1") in.mappingInhibit = 1;
            if (kv == "inhibit_any=1") in.anyInhibit = 1;
        }
        if (!policies.empty()) in.policies = policies.c_str();
        std::vector<Cert> path;
        for (const std::string &name : split(f[4], ','))
            path.insert(path.begin(), cert_of(ostrel::test::read_file(base + "certs/" + name)));
        int rc = run_with(in, path);
        bool valid = rc == 0, expected = f[2] == "valid";
        ++rows;
        auto it = kPkitsListed.find(f[0]);
        if (valid == expected) {
            ++agree;
            EXPECT_TRUE(it == kPkitsListed.end()) << f[0] << " is listed but agrees";
        } else {
            ++listed;
            EXPECT_TRUE(it != kPkitsListed.end())
                << f[0] << " " << f[1] << ": " << (valid ? "valid" : "invalid") << " (" << rc << "), expected " << f[2];
        }
        if (!valid) {
            EXPECT_TRUE(rc == QRT_PVD_CERT_POLICY_INVALID || rc == QRT_PVD_CERT_POLICY_MAPPING_INVALID)
                << f[0] << ": " << rc;
        }
    }
    EXPECT_EQ(rows, 88);
    std::printf("pkits policy sections: %d rows, %d agree, %d listed\n", rows, agree, listed);
}

// ---- Chains made by openssl -------------------------------------------------------------------

TEST_F(PvdPolicy, OpensslChains) {
    if (!ostrel::test::have_command("openssl")) GTEST_SKIP() << "no openssl";
    TempDir dir;
    auto sh = [&](const std::string &cmd) {
        std::string out;
        int rc = run("cd " + dir.path() + " && " + cmd + " 2>&1", &out);
        EXPECT_EQ(rc, 0) << cmd << "\n" << out;
        return rc == 0;
    };
    const std::string p = kArc;
    ostrel::test::write_file(dir / "ext.cnf",
                             "[map]\nbasicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign\n"
                             "certificatePolicies=" +
                                 p + "1," + p +
                                 "2\n"
                                 "policyMappings=" +
                                 p + "1:" + p + "3," + p + "1:" + p +
                                 "4\n"
                                 "policyConstraints=requireExplicitPolicy:0\n"
                                 "[any]\nbasicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign\n"
                                 "certificatePolicies=critical,2.5.29.32.0\n"
                                 "policyConstraints=requireExplicitPolicy:0\ninhibitAnyPolicy=0\n"
                                 "[ee3]\ncertificatePolicies=" +
                                 p +
                                 "3\n"
                                 "[ee1]\ncertificatePolicies=" +
                                 p +
                                 "1\n"
                                 "[eeany]\ncertificatePolicies=2.5.29.32.0\n");
    const std::string key = "openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out ";
    ASSERT_TRUE(sh(key + "root.key && openssl req -x509 -new -key root.key -subj /CN=Root -days 30 -out root.pem"));
    for (const char *ca : {"map", "any"}) {
        std::string c = ca;
        ASSERT_TRUE(sh(key + c + ".key && openssl req -new -key " + c + ".key -subj /CN=" + c + " -out " + c +
                       ".csr && openssl x509 -req -in " + c + ".csr -CA root.pem -CAkey root.key -set_serial 2 " +
                       "-days 30 -extfile ext.cnf -extensions " + c + " -outform DER -out " + c + ".der && " +
                       "openssl x509 -inform DER -in " + c + ".der -out " + c + ".pem"));
    }
    struct Ee {
        const char *name, *ca, *section;
    } ees[] = {{"m3", "map", "ee3"}, {"m1", "map", "ee1"}, {"aany", "any", "eeany"}, {"a1", "any", "ee1"}};
    ASSERT_TRUE(sh(key + "ee.key && openssl req -new -key ee.key -subj /CN=ee -out ee.csr"));
    for (const Ee &e : ees)
        ASSERT_TRUE(sh(std::string("openssl x509 -req -in ee.csr -CA ") + e.ca + ".pem -CAkey " + e.ca +
                       ".key -set_serial 3 -days 30 -extfile ext.cnf -extensions " + e.section + " -outform DER -out " +
                       e.name + ".der"));
    auto load = [&](const std::string &f) { return cert_of(ostrel::test::read_file(dir / f)); };
    Cert mapCA = load("map.der"), anyCA = load("any.der");
    ASSERT_TRUE(mapCA.cp && mapCA.pm && mapCA.pc && !mapCA.iap && !mapCA.selfSigned);
    ASSERT_TRUE(anyCA.cp && anyCA.cpCritical && anyCA.iap);

    const std::string p1 = dotted("p1"), p2 = dotted("p2"), p4 = dotted("p4");
    struct Row {
        const char *what;
        Cert ca;
        const char *ee;
        const char *policies;
        int rc;
        std::string valid;
    } rows[] = {
        {"mapped policy under the issuer's", mapCA, "m3.der", p1.c_str(), 0, "p3[p3]^p1"},
        {"mapped policy, any user policy", mapCA, "m3.der", nullptr, 0, "p3[p3]^p1"},
        {"mapped policy, other user policy", mapCA, "m3.der", p2.c_str(), QRT_PVD_CERT_POLICY_INVALID, ""},
        {"mapped policy is no user policy", mapCA, "m3.der", p4.c_str(), QRT_PVD_CERT_POLICY_INVALID, ""},
        {"issuer policy mapped away", mapCA, "m1.der", nullptr, QRT_PVD_CERT_POLICY_INVALID, ""},
        {"anyPolicy after inhibitAnyPolicy 0", anyCA, "aany.der", nullptr, QRT_PVD_CERT_POLICY_INVALID, ""},
        {"explicit policy after inhibitAnyPolicy 0", anyCA, "a1.der", p1.c_str(), 0, "p1[p1]^p1"},
    };
    for (const Row &r : rows) {
        std::string valid;
        EXPECT_EQ(run_with({r.policies}, {r.ca, load(r.ee)}, 0, &valid), r.rc) << r.what;
        if (r.rc == 0) {
            EXPECT_EQ(valid, r.valid) << r.what;
        }
    }
}

// ---- Hostile growth ---------------------------------------------------------------------------

struct AllocCount {
    static inline size_t calls = 0, bytes = 0;
    static int gate(size_t size) {
        ++calls;
        bytes += size;
        return 1;
    }
    AllocCount() {
        calls = bytes = 0;
        QRT_Test_SetAllocGate(gate);
    }
    ~AllocCount() { QRT_Test_SetAllocGate(nullptr); }
};

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr double kBudgetMs = 100;  // instrumented builds: the bound is checked, the figure is not
#else
constexpr double kBudgetMs = 5;
#endif

TEST_F(PvdPolicy, PolicyGrowthIsBounded) {
    // Six CAs, each asserting 40 policies and mapping each to 10 others; the next CA asserts 40 of
    // the policies mapped to. In the second shape each CA also asserts anyPolicy.
    for (bool withAny : {false, true}) {
        std::vector<Cert> path;
        for (int ca = 0; ca < 6; ++ca) {
            std::string policies, mappings;
            for (int i = 0; i < 40; ++i) {
                int from = ca * 1000 + i * 10;  // ca 0 asserts 0, 10, ...; each maps to the next CA's
                policies += " p" + std::to_string(ca == 0 ? i * 10 : from);
                for (int k = 0; k < 10; ++k)
                    mappings += " p" + std::to_string(ca == 0 ? i * 10 : from) + ":p" +
                                std::to_string((ca + 1) * 1000 + i * 10 + k);
            }
            if (withAny) policies += " any";
            Cert c = with_cp(policies);
            c.pm = pm_der(mappings);
            path.push_back(c);
        }
        path.push_back(with_cp("p6000 p6001"));
        // The best of a few runs, as the machine may be busy with other work.
        int rc = -1;
        double ms = 1e9;
        size_t bytes = 0, calls = 0;
        for (int attempt = 0; attempt < 5; ++attempt) {
            State st;
            ASSERT_EQ(QRT_PVD_StateVars_Init(&st, nullptr, 0, 1, 0), 0);
            AllocCount count;
            auto t0 = std::chrono::steady_clock::now();
            rc = run_path(&st, path);
            ms = std::min(ms, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
            bytes = AllocCount::bytes;
            calls = AllocCount::calls;
            EXPECT_LE(st->validPolicies.count, PVD_MAX_POLICIES);
        }
        EXPECT_TRUE(rc == 0 || rc == QRT_PVD_CERT_POLICY_EXCEED) << rc;
        if (withAny) {
            EXPECT_EQ(rc, QRT_PVD_CERT_POLICY_EXCEED);
        }
        EXPECT_LT(ms, kBudgetMs);
        // Allocation is the identifiers' contents and the decoded extensions: some KB per certificate.
        EXPECT_LT(bytes, 512u * 1024);
        std::printf("growth %s: result %d in %.3f ms, %zu allocations, %zu bytes\n",
                    withAny ? "with anyPolicy" : "by mappings", rc, ms, calls, bytes);
    }
}

TEST_F(PvdPolicy, AllocationFailureLeavesNothingBehind) {
    // Fail the Nth allocation of a state's life (initial set, mappings, intersection, copy) for
    // every N until it gets through: each refusal is a failure code, and nothing leaks (ASan).
    std::vector<Cert> path = {with_cp("p1 p2 any"), with_cp("p3 p4")};
    path[0].pm = pm_der("p1:p3 p1:p4 p2:p5");
    static int left;
    for (int n = 0;; ++n) {
        left = n;
        QRT_Test_SetAllocGate([](size_t) { return left-- > 0 ? 1 : 0; });
        State st, copy;
        int rc = QRT_PVD_StateVars_Init(&st, "1.3.6.1.4.1.99999.1.1,1.3.6.1.4.1.99999.1.2", 0, 1, 0);
        if (!rc) rc = run_path(&st, path);
        if (!rc) rc = QRT_PVD_StateVars_Copy(&copy, &st);
        QRT_Test_SetAllocGate(nullptr);
        trace_records();
        if (rc == 0) {
            EXPECT_EQ(show(copy->validPolicies), "p3[p3]^p1 p4[p4]^p1");
            EXPECT_GT(n, 10);
            break;
        }
        ASSERT_LT(n, 2000);
    }
}

}  // namespace

TEST_F(PvdPolicy, CopyTakesTheWholeState) {
    // The snapshot of a level holds its own name sets and working key: the original can be
    // released (or changed) and the copy stays whole; a failing copy leaves nothing behind.
    auto dup = [](const char *s) {
        char *p = static_cast<char *>(QRT_malloc(std::strlen(s) + 1));
        std::strcpy(p, s);
        return p;
    };
    std::optional<State> st(std::in_place);
    ASSERT_EQ(QRT_PVD_StateVars_Init(&*st, "1.3.6.1.4.1.99999.1.1", 0, 1, 0), 0);
    EXPECT_EQ((*st)->levelIndex, 1);
    EXPECT_EQ((*st)->permitted.isAll, 1);
    (*st)->permitted.isAll = 0;
    (*st)->permitted.dn[0] = dup("O=Permitted");
    (*st)->permitted.count = 1;
    (*st)->excluded.dn[0] = dup("O=Excluded,C=KR");
    (*st)->excluded.count = 1;
    const unsigned char key[] = {1, 2, 3, 4}, param[] = {5, 6};
    ASSERT_EQ(QRT_BIN_Set(&(*st)->pubKey, key, sizeof key), 0);
    ASSERT_EQ(QRT_BIN_Set(&(*st)->pubKeyParam, param, sizeof param), 0);
    (*st)->pubKeyAlg = 7;
    (*st)->pubKeyDN = dup("CN=CA");
    QRT_PVD_StateVars_Upward(&*st);

    State copy;
    ASSERT_EQ(QRT_PVD_StateVars_Copy(&copy, &*st), 0);
    st.reset();
    EXPECT_EQ(copy->permitted.isAll, 0);
    ASSERT_EQ(copy->permitted.count, 1);
    EXPECT_STREQ(copy->permitted.dn[0], "O=Permitted");
    ASSERT_EQ(copy->excluded.count, 1);
    EXPECT_STREQ(copy->excluded.dn[0], "O=Excluded,C=KR");
    ASSERT_EQ(copy->pubKey.length, sizeof key);
    EXPECT_EQ(std::memcmp(copy->pubKey.value, key, sizeof key), 0);
    ASSERT_EQ(copy->pubKeyParam.length, sizeof param);
    EXPECT_EQ(copy->pubKeyAlg, 7);
    EXPECT_STREQ(copy->pubKeyDN, "CN=CA");
    EXPECT_EQ(copy->levelIndex, 2);
    EXPECT_EQ(show(copy->userPolicies), "p1");
    EXPECT_EQ(show(copy->validPolicies), "any[any]");

    static int left;
    for (int n = 0;; ++n) {
        left = n;
        State again;
        QRT_Test_SetAllocGate([](size_t) { return left-- > 0 ? 1 : 0; });
        int rc = QRT_PVD_StateVars_Copy(&again, &copy);
        QRT_Test_SetAllocGate(nullptr);
        trace_records();
        if (rc == 0) {
            EXPECT_STREQ(again->pubKeyDN, "CN=CA");
            break;
        }
        EXPECT_EQ(rc, QRT_PVD_MALLOC_FAILED);
        EXPECT_EQ(again->permitted.count + again->userPolicies.count + again->pubKey.length, 0u);
        ASSERT_LT(n, 100);
    }
}
