// Directory fetches against a slapd on loopback (started here, loaded with 1000 pkiUser
// entries), side by side in one run:
//   Cert/Ostrel      QRT_LDAP_GetCert by URL: connect, anonymous bind, search, copy, unbind
//   Cert/libldap     the same calls on raw libldap, the value copied into a vector
//   Cert/ldapsearch  `ldapsearch -x -LLL` for the same entry and attributes, a process a fetch
//   List/Ostrel      QRT_LDAP_GetCertList_Ex bound as the rootdn: the 1000 certificates
//   List/libldap     the same search on raw libldap, the values collected into vectors
//   List/ldapsearch  `ldapsearch -x -LLL` bound as the rootdn
// The work is mostly waiting on the server, so the ratios are of wall-clock time: each other
// implementation's over ours (above 1: we are faster). After the table the peak heap of one list
// fetch is given against the bytes of the values it returns (malloc is counted in this program).
#include <benchmark/benchmark.h>
#include <ldap.h>
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "directory.hpp"
#include "suite_ldap.h"

// ---- Heap accounting: every malloc of the process, counted only while asked ----------------

extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void *__libc_memalign(size_t, size_t);
void __libc_free(void *);
}

namespace {

std::atomic<bool> g_counting{false};
std::atomic<long> g_live{0}, g_peak{0};

void counted(void *p) {
    if (!p || !g_counting.load(std::memory_order_relaxed)) return;
    long now = g_live += static_cast<long>(malloc_usable_size(p));
    long peak = g_peak.load();
    while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
    }
}

void uncounted(void *p) {
    if (p && g_counting.load(std::memory_order_relaxed)) g_live -= static_cast<long>(malloc_usable_size(p));
}

}  // namespace

extern "C" {
void *malloc(size_t n) {
    void *p = __libc_malloc(n);
    counted(p);
    return p;
}
void *calloc(size_t n, size_t size) {
    void *p = __libc_calloc(n, size);
    counted(p);
    return p;
}
void *realloc(void *old, size_t n) {
    uncounted(old);
    void *p = __libc_realloc(old, n);
    counted(p ? p : (n ? old : nullptr));
    return p;
}
void free(void *p) {
    uncounted(p);
    __libc_free(p);
}
void *memalign(size_t align, size_t n) {
    void *p = __libc_memalign(align, n);
    counted(p);
    return p;
}
void *aligned_alloc(size_t align, size_t n) { return memalign(align, n); }
int posix_memalign(void **out, size_t align, size_t n) {
    void *p = memalign(align, n);
    if (!p) return ENOMEM;
    *out = p;
    return 0;
}
}

namespace {

using ostrel::test::Directory;
using Bytes = std::vector<unsigned char>;

Directory *g_dir = nullptr;

const char *const kCaAttrs[] = {"cACertificate", "cACertificate;binary", nullptr};
const char *const kUserAttrs[] = {"userCertificate", "userCertificate;binary", nullptr};

bool usable(const berval *v) { return v->bv_len > 0 && !(v->bv_len == 4 && std::memcmp(v->bv_val, "NULL", 4) == 0); }

// Raw libldap: connect, bind, search; nullptr (everything released) on failure.
LDAP *raw_search(const char *who, const char *pw, const char *base, int scope, const char *const *attrs,
                 LDAPMessage **res) {
    LDAP *ld = nullptr;
    std::string server = "ldap://127.0.0.1:" + std::to_string(g_dir->port());
    if (ldap_initialize(&ld, server.c_str()) != LDAP_SUCCESS) return nullptr;
    int version = LDAP_VERSION3, deref = LDAP_DEREF_ALWAYS, limit = 30;
    ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    berval cred{pw ? std::strlen(pw) : 0, const_cast<char *>(pw)};
    if (ldap_sasl_bind_s(ld, who, LDAP_SASL_SIMPLE, &cred, nullptr, nullptr, nullptr) != LDAP_SUCCESS) {
        ldap_unbind_ext(ld, nullptr, nullptr);
        return nullptr;
    }
    ldap_set_option(ld, LDAP_OPT_DEREF, &deref);
    ldap_set_option(ld, LDAP_OPT_TIMELIMIT, &limit);
    int rc = ldap_search_ext_s(ld, base, scope, "(objectclass=*)", const_cast<char **>(attrs), 0, nullptr, nullptr,
                               nullptr, LDAP_NO_LIMIT, res);
    if (rc != LDAP_SUCCESS) {
        ldap_msgfree(*res);
        ldap_unbind_ext(ld, nullptr, nullptr);
        return nullptr;
    }
    return ld;
}

bool raw_cert(Bytes &out) {
    LDAPMessage *res = nullptr;
    LDAP *ld = raw_search(nullptr, nullptr, "cn=Test CA,o=Test", LDAP_SCOPE_BASE, kCaAttrs, &res);
    if (!ld) return false;
    bool found = false;
    if (LDAPMessage *e = ldap_first_entry(ld, res)) {
        for (const char *const *a = kCaAttrs; *a && !found; ++a) {
            berval **vals = ldap_get_values_len(ld, e, *a);
            for (int i = 0; vals && vals[i] && !found; ++i)
                if (usable(vals[i])) {
                    out.assign(vals[i]->bv_val, vals[i]->bv_val + vals[i]->bv_len);
                    found = true;
                }
            ldap_value_free_len(vals);
        }
    }
    ldap_msgfree(res);
    ldap_unbind_ext(ld, nullptr, nullptr);
    return found;
}

bool raw_list(std::vector<Bytes> &out) {
    LDAPMessage *res = nullptr;
    LDAP *ld =
        raw_search(Directory::kRootDN, Directory::kRootPW, "ou=Users,o=Test", LDAP_SCOPE_ONELEVEL, kUserAttrs, &res);
    if (!ld) return false;
    for (LDAPMessage *e = ldap_first_entry(ld, res); e; e = ldap_next_entry(ld, e))
        for (const char *const *a = kUserAttrs; *a; ++a) {
            berval **vals = ldap_get_values_len(ld, e, *a);
            for (int i = 0; vals && vals[i]; ++i)
                if (usable(vals[i])) out.emplace_back(vals[i]->bv_val, vals[i]->bv_val + vals[i]->bv_len);
            ldap_value_free_len(vals);
        }
    ldap_msgfree(res);
    ldap_unbind_ext(ld, nullptr, nullptr);
    return true;
}

size_t list_size(ZQ_BIN_LIST *list) {
    size_t n = 0;
    for (; list; list = list->next) ++n;
    return n;
}

std::string ca_url() { return g_dir->url("cn=Test%20CA,o=Test"); }
std::string users_url() { return g_dir->url("ou=Users,o=Test??one"); }

ZQ_LDAP_GET_PARAM root_param() {
    return {nullptr, const_cast<char *>(Directory::kRootDN), const_cast<char *>(Directory::kRootPW)};
}

bool ready(benchmark::State &state) {
    if (g_dir) return true;
    state.SkipWithError("no directory (slapd, ldap-utils, openssl or python3 missing)");
    return false;
}

void Cert_Ostrel(benchmark::State &state) {
    if (!ready(state)) return;
    const std::string url = ca_url();
    for (auto _ : state) {
        BIN out{0, nullptr};
        if (QRT_LDAP_GetCert(&out, url.c_str(), nullptr, QRT_LDAP_CA_CERT, nullptr) != 0) {
            state.SkipWithError("QRT_LDAP_GetCert failed");
            break;
        }
        benchmark::DoNotOptimize(out.value);
        QRT_BIN_Reset(&out);
    }
}

void Cert_libldap(benchmark::State &state) {
    if (!ready(state)) return;
    for (auto _ : state) {
        Bytes out;
        if (!raw_cert(out)) {
            state.SkipWithError("raw libldap fetch failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
}

void Cert_ldapsearch(benchmark::State &state) {
    if (!ready(state)) return;
    const std::string cmd = "ldapsearch -x -LLL -H ldap://127.0.0.1:" + std::to_string(g_dir->port()) +
                            " -s base -b 'cn=Test CA,o=Test' cACertificate 'cACertificate;binary'";
    for (auto _ : state) {
        std::string text;
        if (ostrel::test::run(cmd, &text) != 0) {
            state.SkipWithError("ldapsearch failed");
            break;
        }
        benchmark::DoNotOptimize(text.data());
    }
}

void List_Ostrel(benchmark::State &state) {
    if (!ready(state)) return;
    const std::string url = users_url();
    ZQ_LDAP_GET_PARAM root = root_param();
    for (auto _ : state) {
        ZQ_BIN_LIST *list = nullptr;
        if (QRT_LDAP_GetCertList_Ex(&list, url.c_str(), nullptr, QRT_LDAP_USER_CERT, &root) != 0 ||
            list_size(list) != Directory::kUsers) {
            state.SkipWithError("QRT_LDAP_GetCertList_Ex failed");
            QRT_BIN_LIST_Free(list);
            break;
        }
        QRT_BIN_LIST_Free(list);
    }
}

void List_libldap(benchmark::State &state) {
    if (!ready(state)) return;
    for (auto _ : state) {
        std::vector<Bytes> values;
        if (!raw_list(values) || values.size() != Directory::kUsers) {
            state.SkipWithError("raw libldap list failed");
            break;
        }
        benchmark::DoNotOptimize(values.data());
    }
}

void List_ldapsearch(benchmark::State &state) {
    if (!ready(state)) return;
    const std::string cmd = "ldapsearch -x -LLL -H ldap://127.0.0.1:" + std::to_string(g_dir->port()) + " -D " +
                            Directory::kRootDN + " -w " + Directory::kRootPW +
                            " -s one -b 'ou=Users,o=Test' userCertificate 'userCertificate;binary'";
    for (auto _ : state) {
        std::string text;
        if (ostrel::test::run(cmd, &text) != 0) {
            state.SkipWithError("ldapsearch failed");
            break;
        }
        benchmark::DoNotOptimize(text.data());
    }
}

BENCHMARK(Cert_Ostrel)->Name("Cert/Ostrel")->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(Cert_libldap)->Name("Cert/libldap")->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(Cert_ldapsearch)->Name("Cert/ldapsearch")->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(List_Ostrel)->Name("List/Ostrel")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(List_libldap)->Name("List/libldap")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(List_ldapsearch)->Name("List/ldapsearch")->UseRealTime()->Unit(benchmark::kMillisecond);

// Wall-clock ratios, family by family: every other implementation's time over ours, from the
// medians of the repetitions (run with --benchmark_repetitions=5
// --benchmark_enable_random_interleaving=true on a shared machine).
class RealTimeRatios : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &r : runs) {
            if (r.error_occurred) continue;
            // Repetitions reported only as aggregates: their median stands for them.
            const bool median_run = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
            if (r.run_type != Run::RT_Iteration && !median_run) continue;
            // "<family>/<implementation>/real_time"
            std::string name = r.benchmark_name();
            size_t slash = name.find('/');
            if (slash == std::string::npos) continue;
            size_t end = name.find('/', slash + 1);
            std::string impl = name.substr(slash + 1, end == std::string::npos ? std::string::npos : end - slash - 1);
            std::vector<double> &t = times_[name.substr(0, slash)][impl];
            if (median_run) t.clear();
            t.push_back(r.GetAdjustedRealTime());
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        for (auto &[family, impls] : times_) {
            auto ours = impls.find("Ostrel");
            if (ours == impls.end()) continue;
            const double base = median(ours->second);
            if (base <= 0) continue;
            for (auto &[impl, t] : impls)
                if (impl != "Ostrel")
                    std::printf("ratio %-6s %-10s / Ostrel = %.2f (wall clock)\n", family.c_str(), impl.c_str(),
                                median(t) / base);
        }
    }

  private:
    static double median(std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    }
    std::map<std::string, std::map<std::string, std::vector<double>>> times_;
};

// The most heap one list fetch holds at once, over the bytes of the values it returns.
template <class F>
long peak_heap_of(F fetch) {
    g_live = 0;
    g_peak = 0;
    g_counting = true;
    fetch();
    g_counting = false;
    return g_peak.load();
}

void report_peak_heap() {
    if (!g_dir) return;
    size_t value_bytes = 0;
    for (const Bytes &u : g_dir->users) value_bytes += u.size();
    ZQ_LDAP_GET_PARAM root = root_param();
    const std::string url = users_url();
    long ours = peak_heap_of([&] {
        ZQ_BIN_LIST *list = nullptr;
        QRT_LDAP_GetCertList_Ex(&list, url.c_str(), nullptr, QRT_LDAP_USER_CERT, &root);
        QRT_BIN_LIST_Free(list);
    });
    long raw = peak_heap_of([] {
        std::vector<Bytes> values;
        raw_list(values);
    });
    std::printf("peak heap List/Ostrel  %ld bytes = %.2f x the %zu bytes of the values\n", ours,
                static_cast<double>(ours) / static_cast<double>(value_bytes), value_bytes);
    std::printf("peak heap List/libldap %ld bytes = %.2f x the values\n", raw,
                static_cast<double>(raw) / static_cast<double>(value_bytes));
}

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    QRT_Trace_Initialize();
    Directory dir;
    if (dir.start(true))
        g_dir = &dir;
    else
        std::fprintf(stderr, "bench_ldap: no directory: %s\n", dir.why().c_str());
    RealTimeRatios reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    report_peak_heap();
    benchmark::Shutdown();
    return 0;
}
