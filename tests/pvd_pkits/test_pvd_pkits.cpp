// Runs every row of the PKITS expected-verdict table through QRT_PVD_VerifyCertPath: the trust
// anchor in trustCerts, the rest of the path and the auxiliary certificates in otherCerts, the
// row's CRLs in otherCRLs, at 2020-06-15, with cache, store, directory and OCSP off.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "ostrel/test_support.hpp"
#include "suite_pvd.h"

namespace {

const std::string kDir = "../shared/conformance/pkits/";
constexpr time_t kTime = 1592179200;  // 2020-06-15T00:00:00Z

std::vector<std::string> split(const std::string &s, char sep) {
    std::vector<std::string> out;
    if (s.empty()) return out;
    std::stringstream in(s);
    std::string item;
    while (std::getline(in, item, sep)) out.push_back(item);
    return out;
}

struct Row {
    std::string id, name, expected, anchor;
    std::vector<std::string> path, crls, aux;
    std::string settings;
};

std::vector<Row> load_rows() {
    std::ifstream in(kDir + "expected.tsv");
    std::vector<Row> rows;
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
        auto f = split(line, '\t');
        f.resize(9);
        rows.push_back(Row{f[0], f[1], f[2], f[3], split(f[4], ','), split(f[5], ','), split(f[8], ','), f[6]});
    }
    return rows;
}

// Rows whose verdict differs from the published one, each for one of this validator's own rules.
const std::map<std::string, std::string> kListed = {
    {"4.3.10", "names fold case and spaces only in PrintableString values"},
    {"4.3.11", "names fold case and spaces only in PrintableString values"},
    {"4.4.19", "a CRL is verified with the issuer's key and must carry its key identifier"},
    {"4.5.1", "a self-issued CA certificate is typed as a root and never an input candidate"},
    {"4.5.3", "a self-issued CA certificate is typed as a root and never an input candidate"},
    {"4.5.5", "the first CRL under the issuer's name decides"},
    {"4.5.7", "the first CRL under the issuer's name decides"},
    {"4.6.15", "a self-issued CA certificate is typed as a root and never an input candidate"},
    {"4.6.17", "a self-issued CA certificate is typed as a root and never an input candidate"},
    {"4.9.6", "a self-issued CA certificate is typed as a root and never an input candidate"},
    {"4.11.7", "a self-issued CA certificate is typed as a root and never an input candidate"},
    {"4.12.7", "a self-issued CA certificate is typed as a root and never an input candidate"},
    {"4.12.9", "a self-issued CA certificate is typed as a root and never an input candidate"},
    {"4.13.14", "an empty subject DN is checked against the DN name constraints"},
    {"4.13.19", "a self-issued CA certificate is typed as a root and never an input candidate"},
    {"4.13.22", "only directoryName constraints are processed"},
    {"4.13.24", "only directoryName constraints are processed"},
    {"4.13.26", "only directoryName constraints are processed"},
    {"4.13.28", "only directoryName constraints are processed"},
    {"4.13.29", "only directoryName constraints are processed"},
    {"4.13.31", "only directoryName constraints are processed"},
    {"4.13.33", "only directoryName constraints are processed"},
    {"4.13.35", "only directoryName constraints are processed"},
    {"4.13.37", "only directoryName constraints are processed"},
    {"4.13.38", "only directoryName constraints are processed"},
    {"4.14.4", "distribution point names are compared only as full names"},
    {"4.14.5", "distribution point names are compared only as full names"},
    {"4.14.7", "distribution point names are compared only as full names"},
    {"4.14.9", "a CRL with a distribution point covers a certificate that names none"},
    {"4.14.11", "onlyContains and onlySomeReasons of a CRL are not processed"},
    {"4.14.12", "onlyContains and onlySomeReasons of a CRL are not processed"},
    {"4.14.14", "onlyContains and onlySomeReasons of a CRL are not processed"},
    {"4.14.16", "onlyContains and onlySomeReasons of a CRL are not processed"},
    {"4.14.17", "onlyContains and onlySomeReasons of a CRL are not processed"},
    {"4.14.21", "onlyContains and onlySomeReasons of a CRL are not processed"},
    {"4.14.24", "the caller's CRLs are looked up by the certificate issuer's name"},
    {"4.14.25", "the caller's CRLs are looked up by the certificate issuer's name"},
    {"4.14.28", "distribution point names are compared only as full names"},
    {"4.14.29", "distribution point names are compared only as full names"},
    {"4.14.30", "the caller's CRLs are looked up by the certificate issuer's name"},
    {"4.14.33", "the caller's CRLs are looked up by the certificate issuer's name"},
    {"4.15.4", "delta CRLs are not used"},
    {"4.15.5", "delta CRLs are not used"},
};

// The result code of every other invalid row: the rule that rejects it, so that a right verdict
// for a wrong reason shows. (A CA out of its validity period or not typed as a CA is passed over
// as a candidate: 43036; a self-issued CA certificate is typed as a root: 43036 or 43037.)
const std::map<std::string, int> kCodes = {
    {"4.1.2", 43032},    {"4.1.3", 43032},    {"4.1.6", 43032},    {"4.2.1", 43036},     {"4.2.2", 43033},
    {"4.2.5", 43036},    {"4.2.6", 43034},    {"4.2.7", 43034},    {"4.3.1", 43036},     {"4.3.2", 43036},
    {"4.4.1", 43095},    {"4.4.2", 43035},    {"4.4.3", 43035},    {"4.4.4", 43092},     {"4.4.5", 43095},
    {"4.4.6", 43095},    {"4.4.8", 43100},    {"4.4.9", 43100},    {"4.4.10", 43100},    {"4.4.11", 43093},
    {"4.4.12", 43093},   {"4.4.15", 43035},   {"4.4.18", 43035},   {"4.4.20", 43103},    {"4.4.21", 43103},
    {"4.5.2", 43036},    {"4.5.8", 43036},    {"4.6.1", 43036},    {"4.6.2", 43036},     {"4.6.3", 43036},
    {"4.6.5", 43048},    {"4.6.6", 43048},    {"4.6.9", 43048},    {"4.6.10", 43048},    {"4.6.11", 43048},
    {"4.6.12", 43048},   {"4.6.16", 43036},   {"4.7.1", 43045},    {"4.7.2", 43045},     {"4.7.4", 43045},
    {"4.7.5", 43045},    {"4.8.1.3", 43046},  {"4.8.2.2", 43046},  {"4.8.3.2", 43046},   {"4.8.3.3", 43046},
    {"4.8.4", 43046},    {"4.8.5", 43046},    {"4.8.6.3", 43046},  {"4.8.7", 43046},     {"4.8.8", 43046},
    {"4.8.9", 43046},    {"4.8.12", 43046},   {"4.8.14.2", 43046}, {"4.9.3", 43046},     {"4.9.5", 43046},
    {"4.9.7", 43036},    {"4.9.8", 43036},    {"4.10.1.2", 43046}, {"4.10.1.3", 43046},  {"4.10.2.1", 43046},
    {"4.10.2.2", 43046}, {"4.10.3.1", 43046}, {"4.10.4", 43046},   {"4.10.5.2", 43046},  {"4.10.6.2", 43046},
    {"4.10.7", 43053},   {"4.10.8", 43053},   {"4.10.10", 43046},  {"4.10.13.3", 43046}, {"4.11.1", 43046},
    {"4.11.3", 43046},   {"4.11.5", 43046},   {"4.11.6", 43046},   {"4.11.8", 43036},    {"4.11.9", 43036},
    {"4.11.10", 43036},  {"4.11.11", 43036},  {"4.12.1", 43046},   {"4.12.3.2", 43046},  {"4.12.4", 43046},
    {"4.12.5", 43046},   {"4.12.6", 43046},   {"4.12.8", 43036},   {"4.12.10", 43037},   {"4.13.2", 43052},
    {"4.13.3", 43052},   {"4.13.7", 43052},   {"4.13.8", 43052},   {"4.13.9", 43052},    {"4.13.10", 43052},
    {"4.13.12", 43052},  {"4.13.13", 43052},  {"4.13.15", 43052},  {"4.13.16", 43052},   {"4.13.17", 43052},
    {"4.13.20", 43052},  {"4.14.2", 43035},   {"4.14.3", 43104},   {"4.14.6", 43104},    {"4.14.8", 43104},
    {"4.14.15", 43035},  {"4.14.20", 43035},  {"4.14.23", 43035},  {"4.14.26", 43095},   {"4.14.27", 43095},
    {"4.14.31", 43095},  {"4.14.32", 43095},  {"4.14.34", 43104},  {"4.14.35", 43102},   {"4.15.1", 43100},
    {"4.15.3", 43035},   {"4.15.6", 43035},   {"4.15.9", 43035},   {"4.15.10", 43093},   {"4.16.2", 43040},
};

// An object list owning copies of the files' bytes.
struct Objects {
    std::vector<std::string> data;
    std::vector<ZQ_PVD_ObjectList> nodes;
    void add(const std::string &path) { data.push_back(ostrel::test::read_file(path)); }
    ZQ_PVD_ObjectList *list() {
        nodes.assign(data.size(), ZQ_PVD_ObjectList{});
        for (size_t i = 0; i < data.size(); ++i) {
            nodes[i].value.encObj =
                BIN{static_cast<unsigned>(data[i].size()), reinterpret_cast<unsigned char *>(data[i].data())};
            nodes[i].next = i + 1 < data.size() ? &nodes[i + 1] : nullptr;
        }
        return nodes.empty() ? nullptr : nodes.data();
    }
};

// Our result code for one row.
int validate(const Row &row) {
    std::string target = ostrel::test::read_file(kDir + "certs/" + row.path.at(0));
    Objects trust, other, crls;
    trust.add(kDir + "certs/" + row.anchor);
    for (size_t i = 1; i < row.path.size(); ++i) other.add(kDir + "certs/" + row.path[i]);
    for (auto &a : row.aux) other.add(kDir + "certs/" + a);
    for (auto &c : row.crls) crls.add(kDir + "crls/" + c);
    ZQ_PVD_CertPathRequest req{};
    req.tgtCert.encObj = BIN{static_cast<unsigned>(target.size()), reinterpret_cast<unsigned char *>(target.data())};
    req.vrfyTime = kTime;
    req.trustCerts = trust.list();
    req.otherCerts = other.list();
    req.otherCRLs = crls.list();
    std::string policies;
    for (auto &s : split(row.settings, ';')) {
        if (s.rfind("policy=", 0) == 0)
            policies = s.substr(7);
        else if (s == "explicit=1")
            req.initExplicitPolicy = 1;
        else if (s == "inhibit_mapping=1")
            req.initPolicyMappingInhibit = 1;
        else if (s == "inhibit_any=1")
            req.initAnyPolicyInhibit = 1;
        else
            ADD_FAILURE() << row.id << ": unknown setting " << s;
    }
    if (!policies.empty()) req.initPolicies = policies.data();
    ZQ_PVD_VerifyParam param{};
    param.flags = PVD_FLAG_NO_OCSP;
    param.cache.disable = 1;
    param.store.disable = 1;
    param.ldap.disable = 1;
    ZQ_PVD_CertPathResult result{};
    int rc = QRT_PVD_VerifyCertPath(&result, &req, &param);
    if (rc == 0) {
        // a valid path ends at the anchor and runs parallel to its evidence
        size_t n = 0, m = 0;
        for (ZQ_PVD_ObjectList *p = result.certPath; p; p = p->next) ++n;
        for (ZQ_PVD_ObjectList *p = result.revInfos; p; p = p->next) ++m;
        EXPECT_EQ(n, m) << row.id;
        EXPECT_GE(n, row.path.size() + 1) << row.id;
        EXPECT_EQ(result.vrfyTime, kTime) << row.id;
    }
    QRT_PVD_CertPathResult_Reset(&result);
    ostrel::test::trace_records();  // the trace of one row is not the next one's
    return rc;
}

}  // namespace

TEST(Pkits, EveryRowAgreesOrIsExplained) {
    auto rows = load_rows();
    ASSERT_EQ(rows.size(), 249u);
    int agree = 0, listed = 0, unexplained = 0;
    for (const Row &row : rows) {
        int rc = validate(row);
        bool agrees = (rc == 0) == (row.expected == "valid");
        auto l = kListed.find(row.id);
        if (l != kListed.end()) {
            EXPECT_FALSE(agrees) << row.id << " is listed (" << l->second << ") but no longer differs";
            listed += agrees ? 0 : 1;
            agree += agrees ? 1 : 0;
            continue;
        }
        if (!agrees) {
            ++unexplained;
            ADD_FAILURE() << row.id << " " << row.name << ": expected " << row.expected << ", got " << rc;
            continue;
        }
        ++agree;
        if (rc != 0) {
            auto c = kCodes.find(row.id);
            if (c == kCodes.end())
                ADD_FAILURE() << row.id << ": no expected code for " << rc;
            else
                EXPECT_EQ(rc, c->second) << row.id << " " << row.name;
        }
    }
    std::printf("pkits: %zu rows, %d agree, %d listed, %d unexplained\n", rows.size(), agree, listed, unexplained);
    EXPECT_EQ(unexplained, 0);
}
