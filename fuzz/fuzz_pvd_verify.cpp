// Whole path validations from any bytes, with signatures off so that hostile contents reach the
// name, extension, policy and CRL steps. Only the caller's lists are sources (cache, store and
// directory off), so a result must hold what the verdict promises:
//   failure: no path is handed out;
//   success: the path starts with the target and ends with the given anchor, is at most three
//     certificates long, and its evidence runs parallel to it: a CRL of the input for every
//     certificate below the anchor (OCSP is off), nothing for the anchor.
//
// Input: records of a two-byte big-endian length and that many bytes: the target, an
// intermediate (otherCerts), the trust anchor (trustCerts), then up to four CRLs (otherCRLs).
// Missing or empty records are left out. Seeds: PKITS paths of one CA with their two CRLs.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "suite_pvd.h"

namespace {

constexpr size_t kCerts = 3, kMaxCrls = 4;
constexpr time_t kTime = 1592179200;  // 2020-06-15, inside the validity of the seeds

struct Record {
    const uint8_t *data = nullptr;
    size_t size = 0;
};

bool same(const BIN &b, const Record &r) {
    return r.size && b.length == r.size && b.value && std::memcmp(b.value, r.data, r.size) == 0;
}

BIN view(const Record &r) { return BIN{static_cast<unsigned>(r.size), const_cast<uint8_t *>(r.data)}; }

void check(int rc, const ZQ_PVD_CertPathResult &res, const std::vector<Record> &recs) {
    if (rc != 0) {
        if (res.certPath || res.revInfos) abort();
        return;
    }
    if (!res.certPath) abort();
    std::vector<const ZQ_PVD_Object *> path, evidence;
    for (const ZQ_PVD_ObjectList *p = res.certPath; p; p = p->next) path.push_back(&p->value);
    for (const ZQ_PVD_ObjectList *p = res.revInfos; p; p = p->next) evidence.push_back(&p->value);
    if (path.size() < 2 || path.size() > kCerts || evidence.size() != path.size()) abort();
    if (!same(path.front()->encObj, recs[0]) || !same(path.back()->encObj, recs[2])) abort();
    if (path.back()->typeID != PVD_TYPE_ROOT || evidence.back()->encObj.length != 0) abort();
    for (size_t i = 0; i + 1 < path.size(); ++i) {
        const ZQ_PVD_Object &e = *evidence[i];
        if (e.typeID != PVD_TYPE_CRL) abort();
        bool given = false;
        for (size_t k = kCerts; k < recs.size() && !given; ++k) given = same(e.encObj, recs[k]);
        if (!given) abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::vector<Record> recs;
    while (size >= 2 && recs.size() < kCerts + kMaxCrls) {
        size_t n = static_cast<size_t>(data[0]) << 8 | data[1];
        data += 2;
        size -= 2;
        if (n > size) n = size;
        recs.push_back(Record{data, n});
        data += n;
        size -= n;
    }
    recs.resize(std::max(recs.size(), kCerts));
    if (!recs[0].size) return 0;

    ZQ_PVD_ObjectList intermediate{}, anchor{}, crls[kMaxCrls]{};
    ZQ_PVD_CertPathRequest req{};
    req.tgtCert.encObj = view(recs[0]);
    req.vrfyTime = kTime;
    if (recs[1].size) {
        intermediate.value = ZQ_PVD_Object{PVD_TYPE_CA, view(recs[1]), nullptr};
        req.otherCerts = &intermediate;
    }
    if (recs[2].size) {
        anchor.value = ZQ_PVD_Object{PVD_TYPE_ROOT, view(recs[2]), nullptr};
        req.trustCerts = &anchor;
    }
    ZQ_PVD_ObjectList **tail = &req.otherCRLs;
    for (size_t k = kCerts, i = 0; k < recs.size(); ++k) {
        if (!recs[k].size) continue;
        crls[i].value = ZQ_PVD_Object{PVD_TYPE_CRL, view(recs[k]), nullptr};
        *tail = &crls[i];
        tail = &crls[i++].next;
    }

    ZQ_PVD_VerifyParam param{};
    param.flags = PVD_FLAG_NO_SIGN | PVD_FLAG_NO_OCSP;
    param.cache.disable = 1;
    param.store.disable = 1;
    param.ldap.disable = 1;
    ZQ_PVD_CertPathResult res{};
    int rc = QRT_PVD_VerifyCertPath(&res, &req, &param);
    check(rc, res, recs);
    QRT_PVD_CertPathResult_Reset(&res);
    QRT_PVD_CertPathResult_Reset(&res);  // a reset record is safe to reset again
    if (res.certPath || res.revInfos) abort();
    return 0;
}
