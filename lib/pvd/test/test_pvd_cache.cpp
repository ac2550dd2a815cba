// The process-wide cache: the read/write lock's semantics in one table, the lists' answers, the
// per-kind wrappers with their cursor and source rules, and a concurrency stress run (16 threads
// on all six lists while another empties the cache now and then; run it under the tsan preset).
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <random>
#include <thread>

#include "pvd_test_util.hpp"

namespace {

using namespace pvd_test;
using namespace std::chrono_literals;

// ---- the lock ----

enum Op { Read, Write };

int lock_op(ZQ_PVD_RWLock *l, Op op) {
    return op == Read ? QRT_PVD_Cache_RWLock_ReadLock(l) : QRT_PVD_Cache_RWLock_WriteLock(l);
}
int unlock_op(ZQ_PVD_RWLock *l, Op op) {
    return op == Read ? QRT_PVD_Cache_RWLock_ReadUnlock(l) : QRT_PVD_Cache_RWLock_WriteUnlock(l);
}

TEST(PvdLock, Semantics) {
    // a holder and a second taker: readers share, a writer is alone
    struct Row {
        Op held, taken;
        bool waits;
    } rows[] = {
        {Read, Read, false},
        {Read, Write, true},
        {Write, Read, true},
        {Write, Write, true},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(std::to_string(r.held) + " then " + std::to_string(r.taken));
        ZQ_PVD_RWLock lock = QRT_PVD_RWLOCK_INITIALIZER;
        ASSERT_EQ(lock_op(&lock, r.held), 0);
        auto second = std::async(std::launch::async, [&] { return lock_op(&lock, r.taken); });
        bool done = second.wait_for(r.waits ? 150ms : 5s) == std::future_status::ready;
        EXPECT_EQ(done, !r.waits);
        EXPECT_EQ(unlock_op(&lock, r.held), 0);
        ASSERT_EQ(second.wait_for(5s), std::future_status::ready);
        EXPECT_EQ(second.get(), 0);
        EXPECT_EQ(unlock_op(&lock, r.taken), 0);
        EXPECT_EQ(lock.readers, 0);
        EXPECT_EQ(lock.writer, 0);
    }

    // the -1 cases
    ZQ_PVD_RWLock lock;
    ASSERT_EQ(QRT_PVD_Cache_RWLock_InitLock(&lock), 0);
    EXPECT_EQ(QRT_PVD_Cache_RWLock_ReadUnlock(&lock), -1);
    EXPECT_EQ(QRT_PVD_Cache_RWLock_WriteUnlock(&lock), -1);
    ASSERT_EQ(QRT_PVD_Cache_RWLock_ReadLock(&lock), 0);
    EXPECT_EQ(QRT_PVD_Cache_RWLock_WriteUnlock(&lock), -1);  // a reader is no writer
    EXPECT_EQ(QRT_PVD_Cache_RWLock_ReadUnlock(&lock), 0);
    EXPECT_EQ(QRT_PVD_Cache_RWLock_ReadUnlock(&lock), -1);
    ASSERT_EQ(QRT_PVD_Cache_RWLock_WriteLock(&lock), 0);
    EXPECT_EQ(QRT_PVD_Cache_RWLock_ReadUnlock(&lock), -1);  // a writer is no reader
    EXPECT_EQ(QRT_PVD_Cache_RWLock_WriteUnlock(&lock), 0);
    EXPECT_EQ(QRT_PVD_Cache_RWLock_WriteUnlock(&lock), -1);
    EXPECT_EQ(QRT_PVD_Cache_RWLock_FinalLock(&lock), 0);
    for (auto f : {QRT_PVD_Cache_RWLock_InitLock, QRT_PVD_Cache_RWLock_FinalLock, QRT_PVD_Cache_RWLock_ReadLock,
                   QRT_PVD_Cache_RWLock_ReadUnlock, QRT_PVD_Cache_RWLock_WriteLock, QRT_PVD_Cache_RWLock_WriteUnlock})
        EXPECT_EQ(f(nullptr), -1);
}

// ---- the lists ----

Bytes value(const std::string &s) { return Bytes(s.begin(), s.end()); }

Bytes get(int type, const char *key, int *rc) {
    Out out;
    *rc = QRT_PVD_Cache_GetObject(out.get(), type, key);
    return out.bytes();
}

TEST(PvdCache, ListsAnswerByTypeAndKey) {
    trace_on();
    QRT_PVD_Finalize();
    struct Miss {
        int type, code;
    } misses[] = {{PVD_TYPE_CERT, QRT_PVD_CERT_NOT_FOUND}, {PVD_TYPE_CA, QRT_PVD_CERT_NOT_FOUND},
                  {PVD_TYPE_ROOT, QRT_PVD_CERT_NOT_FOUND}, {PVD_TYPE_CRL, QRT_PVD_CRL_NOT_FOUND},
                  {PVD_TYPE_ARL, QRT_PVD_CRL_NOT_FOUND},   {PVD_TYPE_CTL, QRT_PVD_CTL_NOT_FOUND}};
    int rc;
    for (const Miss &m : misses) {
        EXPECT_TRUE(get(m.type, "cn=absent", &rc).empty());
        EXPECT_EQ(rc, m.code) << m.type;
    }
    EXPECT_TRUE(trace_records().empty());  // misses leave no record
    for (int bad : {0, 2, 13, 25}) {
        get(bad, "cn=x", &rc);
        EXPECT_EQ(rc, QRT_PVD_INTERNAL) << bad;
        Bytes v = value("v");
        BIN b = view(v);
        EXPECT_EQ(QRT_PVD_Cache_AddObject(bad, "cn=x", &b), QRT_PVD_INTERNAL);
    }
    EXPECT_EQ(last_record().func, "QRT_PVD_Cache_AddObject");

    // the same key in different lists, twice in one list (the second value replaces the first),
    // keys compared byte for byte
    Bytes v1 = value("first"), v2 = value("second"), v3 = value("root");
    BIN b1 = view(v1), b2 = view(v2), b3 = view(v3);
    ASSERT_EQ(QRT_PVD_Cache_AddObject(PVD_TYPE_CA, "cn=k", &b1), 0);
    ASSERT_EQ(QRT_PVD_Cache_AddObject(PVD_TYPE_ROOT, "cn=k", &b3), 0);
    ASSERT_EQ(QRT_PVD_Cache_AddObject(PVD_TYPE_CA, "cn=k", &b2), 0);
    EXPECT_EQ(get(PVD_TYPE_CA, "cn=k", &rc), v2);
    EXPECT_EQ(get(PVD_TYPE_ROOT, "cn=k", &rc), v3);
    get(PVD_TYPE_CA, "CN=k", &rc);
    EXPECT_EQ(rc, QRT_PVD_CERT_NOT_FOUND);
    get(PVD_TYPE_CA, "cn=k ", &rc);
    EXPECT_EQ(rc, QRT_PVD_CERT_NOT_FOUND);
    // many keys: every one answers with its own value
    for (int i = 0; i < 3000; ++i) {
        Bytes v = value("value " + std::to_string(i));
        BIN b = view(v);
        ASSERT_EQ(QRT_PVD_Cache_AddObject(PVD_TYPE_CRL, ("ldap://x/cn=" + std::to_string(i)).c_str(), &b), 0);
    }
    for (int i = 0; i < 3000; i += 7)
        EXPECT_EQ(get(PVD_TYPE_CRL, ("ldap://x/cn=" + std::to_string(i)).c_str(), &rc),
                  value("value " + std::to_string(i)));

    EXPECT_EQ(QRT_PVD_Cache_AddObject(PVD_TYPE_CA, nullptr, &b1), QRT_PVD_INVALID_INPUT);
    BIN empty{0, nullptr};
    EXPECT_EQ(QRT_PVD_Cache_AddObject(PVD_TYPE_CA, "cn=e", &empty), QRT_PVD_INVALID_INPUT);

    EXPECT_EQ(QRT_PVD_Finalize(), 0);
    EXPECT_EQ(QRT_PVD_Initialize(), 0);
    get(PVD_TYPE_CA, "cn=k", &rc);
    EXPECT_EQ(rc, QRT_PVD_CERT_NOT_FOUND);
    get(PVD_TYPE_CRL, "ldap://x/cn=7", &rc);
    EXPECT_EQ(rc, QRT_PVD_CRL_NOT_FOUND);
}

ZQ_PVD_InterObject object(const Bytes &b, int type, int source, const char *dn) {
    ZQ_PVD_InterObject o{};
    o.typeID = type;
    o.encObj = view(b);
    o.source = source;
    o.subjectDN = const_cast<char *>(dn);
    return o;
}

TEST(PvdCache, WrappersOnAContext) {
    trace_on();
    QRT_PVD_Finalize();
    Bytes ca = value("ca value"), root = value("root value"), crl = value("crl value"), ctl = value("ctl value");
    ZQ_PVD_Context ctx{};

    // AddCert: only objects from the store (3) or the directory (4)
    for (int source : {0, 1, 2}) {
        ZQ_PVD_InterObject o = object(ca, PVD_TYPE_CA, source, "cn=w");
        EXPECT_EQ(QRT_PVD_Cache_AddCert(&ctx, &o), 0);
    }
    int rc;
    get(PVD_TYPE_CA, "cn=w", &rc);
    EXPECT_EQ(rc, QRT_PVD_CERT_NOT_FOUND);
    ZQ_PVD_InterObject oca = object(ca, PVD_TYPE_CA, PVD_SOURCE_STORE, "cn=w"),
                       oroot = object(root, PVD_TYPE_ROOT, PVD_SOURCE_LDAP, "cn=w");
    EXPECT_EQ(QRT_PVD_Cache_AddCert(&ctx, &oca), 0);
    EXPECT_EQ(QRT_PVD_Cache_AddCert(&ctx, &oroot), 0);

    // GetCert: list 3 first, one candidate per cursor, then 43036
    ZQ_PVD_BuildCursor cur{};
    Out a, b;
    EXPECT_EQ(QRT_PVD_Cache_GetCert(&ctx, &cur, a.get(), "cn=w"), 0);
    EXPECT_EQ(a.bytes(), ca);
    EXPECT_EQ(QRT_PVD_Cache_GetCert(&ctx, &cur, b.get(), "cn=w"), QRT_PVD_CERT_NOT_FOUND);
    QRT_PVD_BuildCursor_Reset(&cur);
    // only a root under another name: list 5
    ZQ_PVD_InterObject oroot2 = object(root, PVD_TYPE_ROOT, PVD_SOURCE_STORE, "cn=only root");
    QRT_PVD_Cache_AddCert(&ctx, &oroot2);
    Out c;
    EXPECT_EQ(QRT_PVD_Cache_GetCert(&ctx, &cur, c.get(), "cn=only root"), 0);
    EXPECT_EQ(c.bytes(), root);
    QRT_PVD_BuildCursor_Reset(&cur);

    // trust lists: anything not from the cache, under its lookup name
    ZQ_PVD_InterObject octl = object(ctl, PVD_TYPE_CTL, PVD_SOURCE_CACHE, "cn=ctl");
    QRT_PVD_Cache_AddCTL(&ctx, &octl);
    Out d;
    EXPECT_EQ(QRT_PVD_Cache_GetCTL(&ctx, &cur, d.get(), "cn=ctl"), QRT_PVD_CTL_NOT_FOUND);
    QRT_PVD_BuildCursor_Reset(&cur);
    octl.source = PVD_SOURCE_INPUT;
    QRT_PVD_Cache_AddCTL(&ctx, &octl);
    Out e;
    EXPECT_EQ(QRT_PVD_Cache_GetCTL(&ctx, &cur, e.get(), "cn=ctl"), 0);
    EXPECT_EQ(e.bytes(), ctl);
    QRT_PVD_BuildCursor_Reset(&cur);

    // CRLs: under the key given, from the store or the directory
    ZQ_PVD_InterObject ocrl = object(crl, PVD_TYPE_ARL, PVD_SOURCE_INPUT, nullptr);
    QRT_PVD_Cache_AddCRL(&ctx, "ldap://d/cn=crl", &ocrl);
    Out f;
    EXPECT_EQ(QRT_PVD_Cache_GetCRL(&ctx, f.get(), PVD_TYPE_ARL, "ldap://d/cn=crl"), QRT_PVD_CRL_NOT_FOUND);
    ocrl.source = PVD_SOURCE_LDAP;
    QRT_PVD_Cache_AddCRL(&ctx, "ldap://d/cn=crl", &ocrl);
    Out g;
    EXPECT_EQ(QRT_PVD_Cache_GetCRL(&ctx, g.get(), PVD_TYPE_ARL, "ldap://d/cn=crl"), 0);
    EXPECT_EQ(g.bytes(), crl);

    // disabled: nothing found, nothing added
    ctx.cacheDisable = 1;
    Out h;
    EXPECT_EQ(QRT_PVD_Cache_GetCert(&ctx, &cur, h.get(), "cn=w"), QRT_PVD_CERT_NOT_FOUND);
    EXPECT_EQ(QRT_PVD_Cache_GetCTL(&ctx, &cur, h.get(), "cn=ctl"), QRT_PVD_CTL_NOT_FOUND);
    EXPECT_EQ(QRT_PVD_Cache_GetCRL(&ctx, h.get(), PVD_TYPE_ARL, "ldap://d/cn=crl"), QRT_PVD_CRL_NOT_FOUND);
    ZQ_PVD_InterObject onew = object(ca, PVD_TYPE_CA, PVD_SOURCE_LDAP, "cn=new");
    EXPECT_EQ(QRT_PVD_Cache_AddCert(&ctx, &onew), 0);
    get(PVD_TYPE_CA, "cn=new", &rc);
    EXPECT_EQ(rc, QRT_PVD_CERT_NOT_FOUND);
    QRT_PVD_BuildCursor_Reset(&cur);
    EXPECT_TRUE(trace_records().empty());
    QRT_PVD_Finalize();
}

// ---- threads ----

constexpr int kTypes[6] = {PVD_TYPE_CERT, PVD_TYPE_CA, PVD_TYPE_ROOT, PVD_TYPE_CRL, PVD_TYPE_ARL, PVD_TYPE_CTL};
constexpr int kKeys = 32;
constexpr size_t kValueSize = 1024;

// A 1 KB value that carries its key and writer and can be checked whole.
Bytes stress_value(uint32_t key, uint32_t nonce) {
    Bytes v(kValueSize);
    std::memcpy(v.data(), &key, 4);
    std::memcpy(v.data() + 4, &nonce, 4);
    uint64_t x = (uint64_t{key} << 32 | nonce) * 0x9e3779b97f4a7c15ull + 1;
    for (size_t i = 8; i < kValueSize; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        v[i] = static_cast<unsigned char>(x);
    }
    return v;
}

bool whole(const Bytes &v, uint32_t key) {
    if (v.size() != kValueSize) return false;
    uint32_t k, nonce;
    std::memcpy(&k, v.data(), 4);
    std::memcpy(&nonce, v.data() + 4, 4);
    return k == key && v == stress_value(key, nonce);
}

TEST(PvdCacheThreads, Stress) {
    QRT_PVD_Finalize();
    std::atomic<bool> stop{false};
    std::atomic<long> gets{0}, hits{0}, adds{0}, bad{0}, finals{0};
    std::vector<std::string> keys;
    for (int i = 0; i < kKeys; ++i) keys.push_back("cn=stress key " + std::to_string(i) + ",o=Ostrel,c=KR");

    std::vector<std::thread> threads;
    for (int t = 0; t < 16; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937 rng(static_cast<unsigned>(t) * 7919u + 1);
            uint32_t nonce = static_cast<uint32_t>(t) << 24;
            while (!stop.load(std::memory_order_relaxed)) {
                int type = kTypes[rng() % 6];
                uint32_t k = rng() % kKeys;
                if (rng() % 4 == 0) {
                    Bytes v = stress_value(k, ++nonce);
                    BIN b = view(v);
                    if (QRT_PVD_Cache_AddObject(type, keys[k].c_str(), &b) != 0) ++bad;
                    ++adds;
                } else {
                    Out out;
                    int rc = QRT_PVD_Cache_GetObject(out.get(), type, keys[k].c_str());
                    ++gets;
                    if (rc == 0) {
                        ++hits;
                        if (!whole(out.bytes(), k)) ++bad;
                    } else if (rc != QRT_PVD_CERT_NOT_FOUND && rc != QRT_PVD_CRL_NOT_FOUND &&
                               rc != QRT_PVD_CTL_NOT_FOUND) {
                        ++bad;
                    }
                }
            }
        });
    }
    threads.emplace_back([&] {
        while (!stop.load(std::memory_order_relaxed)) {
            std::this_thread::sleep_for(20ms);
            QRT_PVD_Finalize();
            QRT_PVD_Initialize();
            ++finals;
        }
    });
    std::this_thread::sleep_for(2s);
    stop = true;
    // a deadlock would leave a thread hanging here: fail loudly instead of waiting for ctest
    auto joined = std::async(std::launch::async, [&] {
        for (auto &th : threads) th.join();
    });
    if (joined.wait_for(30s) != std::future_status::ready) {
        ADD_FAILURE() << "threads did not finish: deadlock";
        std::abort();
    }
    EXPECT_EQ(bad.load(), 0);
    EXPECT_GT(hits.load(), 0);
    EXPECT_GT(adds.load(), 0);
    EXPECT_GT(finals.load(), 5);
    std::printf("stress: %ld gets (%ld hits), %ld adds, %ld finalizes\n", gets.load(), hits.load(), adds.load(),
                finals.load());
    QRT_PVD_Finalize();
}

}  // namespace
