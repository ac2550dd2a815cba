// Allocation failure swept across a sample of every library's exported functions.
//
// From the Nth request on, the I/O core's allocator (QRT_malloc, QRT_calloc, QRT_realloc) and
// operator new fail; each sampled call runs for N = 0, 1, 2, ... until it gets through without a
// refusal. Every call that met a refusal must fail with a code of its own library (or the
// documented failure value of a function whose result is no code): no exception may escape, no
// failure may read as success, and a failure that came from a throw must be in the trace under the
// function's name. Under AddressSanitizer the process also leaks nothing.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <new>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ostrel/alloc_gate.hpp"
#include "ostrel/test_support.hpp"
#include "suite_asn.h"
#include "suite_cas.h"
#include "suite_codec.h"
#include "suite_config.h"
#include "suite_crs.h"
#include "suite_crypto.h"
#include "suite_csp.h"
#include "suite_io.h"
#include "suite_log.h"
#include "suite_misc.h"
#include "suite_php.h"
#include "suite_ras.h"
#include "suite_sss.h"

namespace {

std::atomic<bool> g_armed{false};
std::atomic<long> g_left{0};             // requests still granted while armed
std::atomic<long> g_refused{0};          // requests refused while armed
std::atomic<bool> g_first_threw{false};  // the first refusal was a throwing operator new

bool grant() {
    if (!g_armed.load(std::memory_order_relaxed)) return true;
    if (g_left.fetch_sub(1) > 0) return true;
    g_refused.fetch_add(1);
    return false;
}

int qrt_gate(size_t) { return grant() ? 1 : 0; }

void *new_or_null(size_t n) { return grant() ? std::malloc(n ? n : 1) : nullptr; }

void *new_or_throw(size_t n) {
    void *p = new_or_null(n);
    if (!p) {
        if (g_refused.load() == 1) g_first_threw = true;
        throw std::bad_alloc();
    }
    return p;
}

}  // namespace

// Replacements for the whole process (the libraries' requests come here too).
__attribute__((visibility("default"))) void *operator new(size_t n) { return new_or_throw(n); }
__attribute__((visibility("default"))) void *operator new[](size_t n) { return new_or_throw(n); }
__attribute__((visibility("default"))) void *operator new(size_t n, const std::nothrow_t &) noexcept {
    return new_or_null(n);
}
__attribute__((visibility("default"))) void *operator new[](size_t n, const std::nothrow_t &) noexcept {
    return new_or_null(n);
}
__attribute__((visibility("default"))) void operator delete(void *p) noexcept { std::free(p); }
__attribute__((visibility("default"))) void operator delete[](void *p) noexcept { std::free(p); }
__attribute__((visibility("default"))) void operator delete(void *p, size_t) noexcept { std::free(p); }
__attribute__((visibility("default"))) void operator delete[](void *p, size_t) noexcept { std::free(p); }
__attribute__((visibility("default"))) void operator delete(void *p, const std::nothrow_t &) noexcept { std::free(p); }
__attribute__((visibility("default"))) void operator delete[](void *p, const std::nothrow_t &) noexcept {
    std::free(p);
}

namespace {

using ostrel::test::trace_field;
using ostrel::test::trace_records;

constexpr long kOk = 0;
constexpr long kNull = -1;  // what a call returns here when its function gave NULL

// One sampled call. `call` runs it (armed) and returns its result; `release` frees what it made
// (unarmed), after a success or a failure alike.
struct Case {
    std::string name;  // the exported function, as its trace records name it
    std::string lib;   // the library whose codes it returns
    std::function<long()> call;
    std::function<void()> release = [] {};
    long ok = kOk;             // the result of a successful call
    std::set<long> also = {};  // documented failure values beyond the library's codes
    bool records = true;       // false for the crypto core and the forms documented to leave none
    // For a call that may do without an allocation (an optional cache): true when what a
    // successful call made is right (run before release).
    std::function<bool()> verify = nullptr;
};

// The codes of a library, read from its list (name, number, texts); none for a library without one.
const std::set<long> &codes_of(const std::string &lib) {
    static std::map<std::string, std::set<long>> cache;
    auto it = cache.find(lib);
    if (it != cache.end()) return it->second;
    std::set<long> codes;
    std::ifstream in(std::string(OSTREL_SOURCE_DIR) + "/lib/" + lib + "/errors.tsv");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream row(line);
        std::string name, number;
        std::getline(row, name, '\t');
        std::getline(row, number, '\t');
        codes.insert(std::stol(number));
    }
    return cache.emplace(lib, codes).first->second;
}

// The malloc code of each library, which a throw must come out as.
long malloc_code(const std::string &lib) {
    static const std::map<std::string, long> codes = {
        {"io", QRT_IO_MALLOC_FAILED},   {"codec", QRT_CODEC_MALLOC_FAILED}, {"asn", QRT_ASN_MALLOC_FAILED},
        {"crypto", WJ_ERR_MEMORY},      {"csp", QRT_CSP_MALLOC_FAILED},     {"ras", QRT_RAS_MALLOC_FAILED},
        {"cas", QRT_CAS_MALLOC_FAILED}, {"crs", QRT_CRS_MALLOC_FAILED},     {"php", QRT_PHP_MALLOC_FAILED},
        {"sss", QRT_SSS_MALLOC_FAILED},
    };
    auto it = codes.find(lib);
    return it == codes.end() ? 0 : it->second;
}

// Libraries whose functions also return another library's codes, as their headers say: the
// provider the crypto core's (its state gate), the CA messages the RA messages'.
const std::map<std::string, std::string> kAlsoCodesOf = {{"csp", "crypto"}, {"cas", "ras"}};

struct Outcome {
    long rc;
    long refused;
    bool first_threw;
    std::vector<std::string> records;
    bool escaped = false;
};

Outcome run_armed(const Case &c, long grant_count) {
    QRT_Trace_ClearError();
    g_refused = 0;
    g_first_threw = false;
    g_left = grant_count;
    QRT_Test_SetAllocGate(qrt_gate);
    g_armed = true;
    long rc;
    try {
        rc = c.call();
    } catch (...) {
        g_armed = false;
        QRT_Test_SetAllocGate(nullptr);
        return {0, g_refused.load(), g_first_threw.load(), trace_records(), true};
    }
    g_armed = false;
    QRT_Test_SetAllocGate(nullptr);
    return {rc, g_refused.load(), g_first_threw.load(), trace_records()};
}

bool recorded(const std::vector<std::string> &records, const std::string &func, long code) {
    for (const std::string &r : records)
        if (trace_field(r, 2) == func && trace_field(r, 3) == std::to_string(code)) return true;
    return false;
}

// What went wrong in a sweep, by kind, with the grant counts where it did (the first few).
class Findings {
  public:
    void add(const std::string &kind, long n, const std::string &detail = "") {
        auto &f = kinds_[kind];
        if (f.count++ < 4) f.examples += " " + std::to_string(n) + (detail.empty() ? "" : "(" + detail + ")");
    }
    void report(const std::string &name) const {
        for (const auto &[kind, f] : kinds_)
            ADD_FAILURE() << name << ": " << kind << " at " << f.count << " grant counts, e.g." << f.examples;
    }

  private:
    struct Kind {
        long count = 0;
        std::string examples;
    };
    std::map<std::string, Kind> kinds_;
};

struct Coverage {
    long allocations = -1;  // what the call asks for when nothing fails
    long thrown = 0;        // failures that began with a throw
};

Coverage sweep(const Case &c) {
    std::set<long> codes = codes_of(c.lib);
    if (auto it = kAlsoCodesOf.find(c.lib); it != kAlsoCodesOf.end()) codes.merge(std::set<long>(codes_of(it->second)));
    Findings found;
    Coverage cover;
    for (long n = 0; n < 20000; ++n) {
        Outcome o = run_armed(c, n);
        bool right = !o.escaped && o.rc == c.ok && c.verify && c.verify();
        c.release();
        if (o.escaped) {
            found.add("an exception escaped", n);
            continue;
        }
        if (o.refused == 0) {
            EXPECT_EQ(o.rc, c.ok) << c.name << ": fails with nothing refused";
            found.report(c.name);
            cover.allocations = n;
            return cover;
        }
        if (o.first_threw) ++cover.thrown;
        if (o.rc == c.ok) {
            if (!right) found.add("success reported after a refused allocation", n);
        } else if (!codes.count(o.rc) && !c.also.count(o.rc)) {
            found.add("a result that is no code of its library", n, std::to_string(o.rc));
        } else if (!c.records) {
            if (!o.records.empty()) found.add("a record from a form that leaves none", n, o.records.front());
        } else if (o.first_threw && o.rc == malloc_code(c.lib) && !recorded(o.records, c.name, o.rc)) {
            found.add("no record of a throw", n);
        }
    }
    found.report(c.name);
    ADD_FAILURE() << c.name << ": never got through";
    return cover;
}

void sweep_all(const std::vector<Case> &cases) {
    QRT_Trace_Initialize();
    for (const Case &c : cases) {
        Coverage cover = sweep(c);
        std::printf("[ sweep    ] %s: %ld allocations, each failed in turn (%ld by a throw)\n", c.name.c_str(),
                    cover.allocations, cover.thrown);
    }
}

// The crypto core leaves no trace records of its own.
std::vector<Case> core_cases(std::vector<Case> cases) {
    for (Case &c : cases) c.records = false;
    return cases;
}

bool same(const BIN &a, const BIN &b) { return QRT_BIN_Cmp(&a, &b) == 0; }

BIN bin_of(const std::string &s) {
    return BIN{static_cast<unsigned int>(s.size()), reinterpret_cast<unsigned char *>(const_cast<char *>(s.data()))};
}
BIN bin_of(const std::string &&) = delete;

ZQ_PHP_DATA data_of(const BIN &b) { return ZQ_PHP_DATA{b.length, b.value}; }

// The crypto core back in its first state, so the next operation runs the self-tests (under the
// sweep, with memory failing inside them).
void fresh_core() {
    WJC_Finalize();
    ASSERT_EQ(WJC_Initialize(), 0);
    ASSERT_EQ(WJC_GetState(), WJC_STATE_LOADED);
}

// The DER of the sample root certificate.
std::string sample_certificate() {
    std::ifstream in(std::string(OSTREL_SOURCE_DIR) + "/samples/root-ca.pem");
    std::string line, b64;
    while (std::getline(in, line))
        if (line.rfind("-----", 0) != 0) b64 += line;
    BIN der{0, nullptr};
    EXPECT_EQ(QRT_Base64ToBin(b64.c_str(), &der), 0);
    std::string out(reinterpret_cast<char *>(der.value), der.length);
    QRT_BIN_Reset(&der);
    return out;
}

}  // namespace

TEST(AllocFailure, IoCore) {
    const std::string bytes = "0123456789abcdef";
    BIN src = bin_of(bytes), copy{0, nullptr};
    ZQ_BIN_LIST list{}, *head = nullptr, list_copy{};
    for (int i = 0; i < 3; ++i) ASSERT_EQ(QRT_BIN_LIST_Add(&head, &src), 0);
    list = *head;
    unsigned char *hex_out = nullptr;
    int hex_len = 0;
    char *text = nullptr;
    HUGE huge{0, nullptr};
    ASSERT_EQ(QRT_HexToHuge("0102030405060708", &huge), 0);
    ostrel::test::TempDir dir;
    const std::string path = dir / "f.bin";
    ostrel::test::write_file(path, bytes);
    BIN file{0, nullptr};

    // A listener for the client, on an ephemeral loopback port.
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t alen = sizeof addr;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(listener, 16), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr *>(&addr), &alen), 0);
    const int port = ntohs(addr.sin_port);
    int fd = -1;

    sweep_all({
        {"QRT_BIN_Copy", "io", [&] { return QRT_BIN_Copy(&copy, &src); }, [&] { QRT_BIN_Reset(&copy); }},
        {"QRT_BIN_LIST_Copy", "io", [&] { return QRT_BIN_LIST_Copy(&list_copy, &list); },
         [&] { QRT_BIN_LIST_Reset(&list_copy); }},
        {"QRT_HexToBin", "io", [&] { return QRT_HexToBin("00ff10ab", &hex_out, &hex_len); },
         [&] {
             QRT_free(hex_out);
             hex_out = nullptr;
         }},
        {"QRT_HugeToHex", "io", [&] { return QRT_HugeToHex(&huge, &text); },
         [&] {
             QRT_free(text);
             text = nullptr;
         }},
        {"QRT_File_ReadBin", "io", [&] { return QRT_File_ReadBin(&file, path.c_str()); },
         [&] { QRT_BIN_Reset(&file); }},
        {"QRT_GetTimeStr",
         "io",
         [&] {
             text = QRT_GetTimeStr(1700000000, 1);
             return text ? kOk : kNull;
         },
         [&] {
             QRT_free(text);
             text = nullptr;
         },
         kOk,
         {kNull}},
        // A host name to resolve: the answer's work buffer is allocated.
        {"QRT_Socket_Client",
         "io",
         [&] {
             fd = QRT_Socket_Client("localhost", port);
             return fd >= 0 ? kOk : fd;
         },
         [&] {
             if (fd >= 0) close(fd);
             fd = -1;
         },
         kOk,
         {-1}},
    });
    close(listener);
    QRT_BIN_LIST_Free(head);
    QRT_free(huge.value);
}

TEST(AllocFailure, Codec) {
    const std::string plain = "The quick brown fox jumps over the lazy dog", euckr = "\xc7\xd1\xb1\xdb ABC";
    BIN in = bin_of(plain), b64{0, nullptr}, back{0, nullptr}, hangul = bin_of(euckr), utf8{0, nullptr};
    ASSERT_EQ(QRT_Base64_Encode(&b64, &in), 0);
    BIN out{0, nullptr};
    char *text = nullptr;
    int len = 0;
    sweep_all({
        {"QRT_Base64_Encode", "codec", [&] { return QRT_Base64_Encode(&out, &in); }, [&] { QRT_BIN_Reset(&out); }},
        {"QRT_Base64_Decode", "codec", [&] { return QRT_Base64_Decode(&back, &b64); }, [&] { QRT_BIN_Reset(&back); }},
        {"QRT_Codec_Convert", "codec", [&] { return QRT_Codec_Convert(&utf8, &hangul, "ko_KR-UTF-8", "ko_KR-euc"); },
         [&] { QRT_BIN_Reset(&utf8); }},
        {"QRT_EncodeUTF8", "codec", [&] { return QRT_EncodeUTF8(euckr.c_str(), &text, &len); },
         [&] {
             QRT_free(text);
             text = nullptr;
         }},
    });
    QRT_BIN_Reset(&b64);
}

TEST(AllocFailure, Asn) {
    const std::string der = sample_certificate();
    ASSERT_FALSE(der.empty());
    BIN in = bin_of(der), out{0, nullptr};
    void *tree = nullptr, *copy = nullptr;
    ASSERT_EQ(QRT_ASN_DecodePDU(&tree, &in, Certificate_PDU), 0);
    ObjectID oid{0, nullptr};
    char *dotted = nullptr;
    sweep_all({
        {"QRT_ASN_OID2DotVal", "asn", [&] { return QRT_ASN_OID2DotVal(&dotted, QRT_ASN_GetOID(13)); },
         [&] {
             QRT_free(dotted);
             dotted = nullptr;
         }},
        {"QRT_ASN_DotVal2OID", "asn", [&] { return QRT_ASN_DotVal2OID(&oid, "1.2.840.113549.1.1.11"); },
         [&] { QRT_ASN_ResetOID(&oid); }},
        {"QRT_ASN_DecodePDU", "asn",
         [&] {
             void *t = nullptr;
             int rc = QRT_ASN_DecodePDU(&t, &in, Certificate_PDU);
             if (t) QRT_ASN_FreePDU(t, Certificate_PDU);
             return rc;
         }},
        {"QRT_ASN_EncodePDU", "asn", [&] { return QRT_ASN_EncodePDU(&out, tree, Certificate_PDU); },
         [&] { QRT_BIN_Reset(&out); }},
        {"QRT_ASN_CopyPDU", "asn", [&] { return QRT_ASN_CopyPDU(&copy, tree, Certificate_PDU); },
         [&] {
             if (copy) QRT_ASN_FreePDU(copy, Certificate_PDU);
             copy = nullptr;
         }},
    });
    QRT_ASN_FreePDU(tree, Certificate_PDU);
}

TEST(AllocFailure, CryptoCore) {
    fresh_core();
    const unsigned char msg[] = "abc";
    unsigned char digest[WJ_HASH_MAX_LENGTH], der[64], pubder[600], sig[512];
    unsigned dn = 0, n = 0;
    WJ_BigInt *a = WJ_BigInt_New(8), *e = WJ_BigInt_New(2), *m = WJ_BigInt_New(8), *r = WJ_BigInt_New(1);
    const unsigned char av[] = {0x12, 0x34, 0x56, 0x78, 0x9a, 0xbc, 0xde, 0xf0, 0x11};
    const unsigned char mv[] = {0xf1, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef, 0x01, 0x03};
    const unsigned char ev[] = {0x01, 0x00, 0x01};
    WJ_BigInt_BytesToInt(a, av, sizeof av);
    WJ_BigInt_BytesToInt(m, mv, sizeof mv);
    WJ_BigInt_BytesToInt(e, ev, sizeof ev);

    // The first operation runs the self-tests, with memory failing inside them.
    sweep_all(core_cases({{"WJC_Hash", "crypto", [&] { return WJC_Hash(digest, &dn, msg, 3, WJ_HASH_SHA256); }}}));
    EXPECT_EQ(WJC_GetState(), WJC_STATE_OPERATING) << "a shortage of memory is no failed self-test";

    WJ_RSA_PrivateKey *priv = WJ_RSA_PrivateKey_New();
    WJ_RSA_PublicKey *pub = WJ_RSA_PublicKey_New();
    ASSERT_EQ(WJ_RSA_GenerateKey(priv, pub, 128, 0), 0);
    unsigned pubn = sizeof pubder;
    ASSERT_EQ(WJ_PKCS1_PublicKey_Encode(pubder, &pubn, pub), 0);
    WJ_EC_Parameters *ec = WJ_ECDSA_Parameters_New();
    ASSERT_EQ(WJ_ECDSA_Parameters_SetCurve(ec, WJ_EC_CURVE_P256), 0);
    WJ_BigInt *d = WJ_BigInt_New(8);
    WJ_EC_POINT *q = WJ_EC_Point_New(ec);
    ASSERT_EQ(WJ_ECDSA_GenerateKey(d, q, ec), 0);
    WJ_ECDSA_Signature *esig = WJ_ECDSA_Signature_New();
    WJC_PKEY_PUBLIC_KEY *generic = WJC_PKEY_PublicKey_New();
    WJ_BigInt *decoded = WJ_BigInt_New(1);

    sweep_all(core_cases({
        {"WJ_BigInt_ModExp", "crypto", [&] { return WJ_BigInt_ModExp(r, a, e, m); }},
        {"WJ_BigInt_DerEncode", "crypto",
         [&] {
             n = sizeof der;
             return WJ_BigInt_DerEncode(der, &n, m);
         }},
        {"WJ_BigInt_DerDecode", "crypto", [&] { return WJ_BigInt_DerDecode(decoded, der, n); }},
        {"WJ_PKCS1_V15_Sign", "crypto",
         [&] {
             n = sizeof sig;
             return WJ_PKCS1_V15_Sign(sig, &n, WJ_HASH_SHA256, digest, 32, priv);
         }},
        {"WJ_ECDSA_Sign", "crypto", [&] { return WJ_ECDSA_Sign(esig, digest, 32, d, ec); }},
        {"WJC_PKEY_PublicKey_FromBinary", "crypto",
         [&] { return WJC_PKEY_PublicKey_FromBinary(generic, WJ_PKEY_RSA, pubder, pubn); }},
    }));
    EXPECT_EQ(WJ_ECDSA_Verify(esig, digest, 32, q, ec), 0);

    WJC_PKEY_PublicKey_Free(generic);
    WJ_ECDSA_Signature_Free(esig);
    WJ_EC_Point_Free(q);
    WJ_ECDSA_Parameters_Free(ec);
    WJ_RSA_PrivateKey_Free(priv);
    WJ_RSA_PublicKey_Free(pub);
    for (WJ_BigInt *b : {a, e, m, r, d, decoded}) WJ_BigInt_Free(b);
}

TEST(AllocFailure, Provider) {
    fresh_core();
    const std::string text = "a message to digest, encrypt and sign", key16 = "0123456789abcdef";
    BIN in = bin_of(text), key = bin_of(key16), iv_bin = bin_of(key16), out{0, nullptr}, back{0, nullptr};
    ZQ_CSP_CipherParam cbc{};
    cbc.modeID = QRT_CSP_MODE_CBC;
    cbc.modeParam.iv = &iv_bin;
    cbc.paddingID = QRT_CSP_PAD_PKCS5;

    // The first operation runs the core's self-tests.
    sweep_all({{"QRT_CSP_Hash", "csp", [&] { return QRT_CSP_Hash(&out, &in, QRT_CSP_HASH_SHA256); },
                [&] { QRT_BIN_Reset(&out); }}});
    EXPECT_EQ(QRT_CSP_GetState(), QRT_CSP_STATE_OPERATING);

    BIN digest{0, nullptr}, ecparam{0, nullptr}, ecpriv{0, nullptr}, ecpub{0, nullptr}, sig{0, nullptr};
    ASSERT_EQ(QRT_CSP_Hash(&digest, &in, QRT_CSP_HASH_SHA256), 0);
    ZQ_CSP_GenParamParam gp{};
    gp.ecdsa.ncid = WJ_EC_CURVE_P256;
    ASSERT_EQ(QRT_CSP_GenerateParam(&ecparam, QRT_CSP_PKEY_ECDSA, &gp), 0);
    ZQ_CSP_GenKeyPairParam kp{};
    kp.ecdsa.pkeyParam = &ecparam;
    ASSERT_EQ(QRT_CSP_GenerateKeyPair(&ecpriv, &ecpub, QRT_CSP_PKEY_ECDSA, &kp), 0);

    // Digest-level signatures take PKCS#1 keys, the message forms the generic ones.
    BIN rsapriv{0, nullptr}, rsapub{0, nullptr}, pkcs1pub{0, nullptr}, pkcs1priv{0, nullptr};
    ZQ_CSP_GenKeyPairParam rp{};
    rp.rsa.keyLength = 1024;
    ASSERT_EQ(QRT_CSP_GenerateKeyPair(&rsapriv, &rsapub, QRT_CSP_PKEY_RSA, &rp), 0);
    ASSERT_EQ(QRT_GenerateKeyPairBin(0, 1024, &pkcs1pub, &pkcs1priv), 0);
    ASSERT_EQ(QRT_CSP_ComputeSignature(&sig, &digest, &pkcs1priv, QRT_CSP_SIGN_RSA_SHA256, nullptr), 0);
    BIN gpriv{0, nullptr}, gpub{0, nullptr};

    // RSA encryption is random: a success is checked by decrypting.
    Case encrypt{"QRT_CSP_PublicEncrypt", "csp",
                 [&] { return QRT_CSP_PublicEncrypt(&out, &key, &rsapub, QRT_CSP_PENC_RSA_V15, nullptr); },
                 [&] { QRT_BIN_Reset(&out); }};
    encrypt.verify = [&] {
        bool right =
            QRT_CSP_PrivateDecrypt(&back, &out, &rsapriv, QRT_CSP_PENC_RSA_V15, nullptr) == 0 && same(back, key);
        QRT_BIN_Reset(&back);
        return right;
    };
    Case encrypt_old{"QRT_PublicEncryptBin",
                     "csp",
                     [&] { return QRT_PublicEncryptBin(&pkcs1pub, &key, &out); },
                     [&] { QRT_BIN_Reset(&out); },
                     kOk,
                     {},
                     false};
    encrypt_old.verify = [&] {
        bool right = QRT_PrivateDecryptBin(&pkcs1priv, &out, &back) == 0 && same(back, key);
        QRT_BIN_Reset(&back);
        return right;
    };

    sweep_all({
        {"QRT_CSP_Encrypt", "csp", [&] { return QRT_CSP_Encrypt(&out, &in, &key, QRT_CSP_CIPHER_AES, &cbc); },
         [&] { QRT_BIN_Reset(&out); }},
        {"QRT_CSP_GenerateKeyPair", "csp",
         [&] { return QRT_CSP_GenerateKeyPair(&gpriv, &gpub, QRT_CSP_PKEY_ECDSA, &kp); },
         [&] {
             QRT_BIN_Reset(&gpriv);
             QRT_BIN_Reset(&gpub);
         }},
        {"QRT_CSP_ComputeSignature", "csp",
         [&] { return QRT_CSP_ComputeSignature(&out, &digest, &pkcs1priv, QRT_CSP_SIGN_RSA_SHA256, nullptr); },
         [&] { QRT_BIN_Reset(&out); }},
        {"QRT_CSP_VerifySignature", "csp",
         [&] { return QRT_CSP_VerifySignature(&sig, &digest, &pkcs1pub, QRT_CSP_SIGN_RSA_SHA256, nullptr); }},
        {"QRT_CSP_ComputeSignature", "csp",  // the message form records under the digest form's name
         [&] { return QRT_CSP_ComputeMsgSignature(&out, &in, &rsapriv, QRT_CSP_SIGN_RSA_SHA256, nullptr); },
         [&] { QRT_BIN_Reset(&out); }},
        encrypt,
        encrypt_old,
        {"QRT_GenSignatureBin",
         "csp",
         [&] { return QRT_GenSignatureBin(&pkcs1priv, 2, &in, &back); },
         [&] { QRT_BIN_Reset(&back); },
         kOk,
         {},
         false},
    });
    for (BIN *b : {&digest, &ecparam, &ecpriv, &ecpub, &sig, &rsapriv, &rsapub, &pkcs1pub, &pkcs1priv})
        QRT_BIN_Reset(b);
}

TEST(AllocFailure, ConfigLogMisc) {
    ostrel::test::TempDir dir;
    ostrel::test::write_file(dir / "a.conf", "name = value\nlist = one two \"three four\"\n# note\nlast = x\n");
    const std::string path = dir / "a.conf";
    ZQ_ENV_LIST *list = nullptr;
    QRT_SIGHANDLER old = SIG_DFL;
    sweep_all({
        {"QRT_ReadConfigFile", "config", [&] { return QRT_ReadConfigFile(path.c_str(), &list); },
         [&] {
             QRT_FreeEnvList(list);
             list = nullptr;
         }},
        // The log and the console helpers allocate nothing: they get through at once.
        {"QRT_LOG_Msg", "log", [&] { return QRT_LOG_Msg(__FILE__, __LINE__, 5, "%s %d", "value", 7); }},
        {"QRT_SetSignal", "misc",
         [&] {
             old = QRT_SetSignal(SIGUSR2, SIG_IGN);
             return old == SIG_ERR ? kNull : kOk;
         },
         [&] { QRT_SetSignal(SIGUSR2, old); }},
    });
}

TEST(AllocFailure, MessageLibraries) {
    ZQ_RAS_USER_NEW_REQ user{};
    std::strcpy(user.corp_code, "C001");
    std::strcpy(user.oper_id, "operator");
    std::strcpy(user.reg_date, "20240102030405");
    std::strcpy(user.user_name, "Hong");
    std::strcpy(user.user_id, "hong");
    BIN ras{0, nullptr}, cas{0, nullptr}, field{0, nullptr}, hex{0, nullptr};
    ASSERT_EQ(QRT_RAS_GenReqMsg(&ras, &user, 142, QRT_RAS_FORM_TEXT), 0);
    ASSERT_EQ(QRT_CAS_GenReqMsg(&cas, &user, 142, QRT_CAS_FORM_TEXT, nullptr), 0);
    void *msg = nullptr;
    BIN out{0, nullptr};
    const std::string body = "some record body";
    BIN body_bin = bin_of(body);
    ASSERT_EQ(QRT_CAS_GenHexHashValue(&hex, &body_bin), 0);
    const std::string hex_text(reinterpret_cast<char *>(hex.value), hex.length);

    ZQ_CRS_REQ_MSG req{};
    std::strcpy(req.corp_code, "C001");
    std::strcpy(req.issuer_dn, "cn=issuer");
    std::strcpy(req.cert_serial, "0102");
    ZQ_CRS_REP_MSG rep[2]{};
    for (ZQ_CRS_REP_MSG &p : rep) {
        std::strcpy(p.code, "0000");
        std::strcpy(p.corp_code, "C001");
        std::strcpy(p.cert_serial, "0102");
        std::strcpy(p.cert_status, "good");
    }
    rep[0].next = &rep[1];
    BIN crs_req{0, nullptr}, crs_rep{0, nullptr};
    int count = 0;
    ASSERT_EQ(QRT_CRS_GenReqMsg(&req, 50, &crs_req), 0);
    ASSERT_EQ(QRT_CRS_GenRepMsg(rep, 51, 0, &count, &crs_rep), 0);
    ZQ_CRS_REQ_MSG *req_back = nullptr;
    ZQ_CRS_REP_MSG *rep_back = nullptr;

    fresh_core();  // the CA form's integrity digest is the first operation of the core
    sweep_all({
        {"QRT_RAS_GenReqMsg", "ras", [&] { return QRT_RAS_GenReqMsg(&out, &user, 142, QRT_RAS_FORM_TEXT); },
         [&] { QRT_BIN_Reset(&out); }},
        {"QRT_RAS_AnalReq", "ras", [&] { return QRT_RAS_AnalReq(&msg, &ras, 142, QRT_RAS_FORM_TEXT); },
         [&] {
             QRT_RAS_FreeMsgStr(msg, QRT_RAS_GetReqSvcCode(142));
             msg = nullptr;
         }},
        {"QRT_RAS_PutValue", "ras", [&] { return QRT_RAS_PutValue(&field, "name", "value", QRT_RAS_FORM_WEB); },
         [&] { QRT_BIN_Reset(&field); }},
        {"QRT_CAS_GenReqMsg", "cas", [&] { return QRT_CAS_GenReqMsg(&out, &user, 142, QRT_CAS_FORM_TEXT, nullptr); },
         [&] { QRT_BIN_Reset(&out); }},
        {"QRT_CAS_AnalReq", "cas", [&] { return QRT_CAS_AnalReq(&msg, &cas, 142, QRT_CAS_FORM_TEXT); },
         [&] {
             QRT_CAS_FreeMsgStr(msg, QRT_RAS_GetReqSvcCode(142));
             msg = nullptr;
         }},
        {"QRT_CAS_GenHexHashValue", "cas", [&] { return QRT_CAS_GenHexHashValue(&out, &body_bin); },
         [&] { QRT_BIN_Reset(&out); }},
        {"QRT_CAS_CheckHexHashValue", "cas", [&] { return QRT_CAS_CheckHexHashValue(hex_text.c_str(), &body_bin); }},
        {"QRT_CRS_GenReqMsg", "crs", [&] { return QRT_CRS_GenReqMsg(&req, 50, &out); }, [&] { QRT_BIN_Reset(&out); }},
        {"QRT_CRS_AnalReq", "crs", [&] { return QRT_CRS_AnalReq(&req_back, &crs_req, 50); },
         [&] {
             QRT_CRS_FreeReqMsgStr(req_back);
             req_back = nullptr;
         }},
        {"QRT_CRS_GenRepMsg", "crs", [&] { return QRT_CRS_GenRepMsg(rep, 51, 0, &count, &out); },
         [&] { QRT_BIN_Reset(&out); }},
        {"QRT_CRS_AnalRep", "crs", [&] { return QRT_CRS_AnalRep(&rep_back, &crs_rep, 51, 2); },
         [&] {
             QRT_CRS_FreeRepMsgStr(rep_back);
             rep_back = nullptr;
         }},
    });
    for (BIN *b : {&ras, &cas, &hex, &crs_req, &crs_rep}) QRT_BIN_Reset(b);
}

TEST(AllocFailure, HandshakeAndSharing) {
    BIN pub{0, nullptr}, priv{0, nullptr};
    ASSERT_EQ(QRT_GenerateKeyPairBin(0, 1024, &pub, &priv), 0);
    const std::string id = "user@example", pw = "weak password";
    BIN id_bin = bin_of(id), pw_bin = bin_of(pw);
    ZQ_PHP_DATA identity = data_of(id_bin), password = data_of(pw_bin), ca_priv = data_of(priv), ca_pub = data_of(pub);
    ZQ_PHP_DATA cert{0, nullptr}, out{0, nullptr}, blind{0, nullptr};
    ASSERT_EQ(QRT_PHP_EncodePHPCert(&cert, &identity, &ca_pub, &ca_priv), 0);
    ZQ_PHP_CERT decoded{};

    const std::string secret = "the secret to share among five";
    BIN secret_bin = bin_of(secret), info{0, nullptr}, back{0, nullptr};
    ZQ_SSS_SHARE *shares = QRT_SSS_CreateShare(), *work = QRT_SSS_CreateShare();
    ZQ_SSS_PARAM param{5, 3};
    ASSERT_EQ(QRT_SSS_ShareSecret(shares, &info, &secret_bin, QRT_SSS_SCHEME_SHAMIR, &param), 0);
    BIN work_info{0, nullptr};

    fresh_core();
    sweep_all({
        {"QRT_PHP_ComputeKDF", "php", [&] { return QRT_PHP_ComputeKDF(&out, 128, &password); },
         [&] { QRT_PHP_DATA_Reset(&out); }},
        {"QRT_PHP_EncodePHPCert", "php", [&] { return QRT_PHP_EncodePHPCert(&out, &identity, &ca_pub, &ca_priv); },
         [&] { QRT_PHP_DATA_Reset(&out); }},
        {"QRT_PHP_DecodePHPCert", "php", [&] { return QRT_PHP_DecodePHPCert(&decoded, &cert); },
         [&] { QRT_PHP_PHPCert_Reset(&decoded); }},
        {"QRT_PHP_ComputeWeakValue", "php", [&] { return QRT_PHP_ComputeWeakValue(&out, &blind, &password, &ca_pub); },
         [&] {
             QRT_PHP_DATA_Reset(&out);
             QRT_PHP_DATA_Reset(&blind);
         }},
        {"QRT_SSS_ShareSecret", "sss",
         [&] { return QRT_SSS_ShareSecret(work, &work_info, &secret_bin, QRT_SSS_SCHEME_SHAMIR, &param); },
         [&] {
             QRT_BIN_Reset(&work_info);
             QRT_SSS_DestroyShare(work);
             work = QRT_SSS_CreateShare();
         }},
        {"QRT_SSS_RecoverSecret", "sss",
         [&] { return QRT_SSS_RecoverSecret(&back, shares, QRT_SSS_SCHEME_SHAMIR, &info); },
         [&] { QRT_BIN_Reset(&back); }},
    });
    QRT_SSS_DestroyShare(work);
    QRT_SSS_DestroyShare(shares);
    QRT_PHP_DATA_Reset(&cert);
    for (BIN *b : {&pub, &priv, &info}) QRT_BIN_Reset(b);
}
