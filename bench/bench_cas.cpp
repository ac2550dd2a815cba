// The integrity value of a registration record (SHA-1 as hex) through libOstrelCAS against
// OpenSSL's EVP digest and hex helper, and the whole signed-by-digest text message against
// the same bytes made with OpenSSL, same inputs.
#include <benchmark/benchmark.h>
#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <cstring>
#include <string>

#include "suite_cas.h"

namespace {

std::string record(size_t n) {
    std::string s;
    while (s.size() < n) s += "field" + std::to_string(s.size()) + "$";
    s.resize(n);
    return s;
}

void BM_Ostrel_HexDigest(benchmark::State &st) {
    std::string r = record((size_t)st.range(0));
    BIN in{(unsigned)r.size(), (unsigned char *)r.data()};
    for (auto _ : st) {
        BIN hex{0, nullptr};
        QRT_CAS_GenHexHashValue(&hex, &in);
        benchmark::DoNotOptimize(hex.value);
        QRT_BIN_Reset(&hex);
    }
    st.SetBytesProcessed((int64_t)st.iterations() * st.range(0));
}

void BM_OpenSSL_HexDigest(benchmark::State &st) {
    std::string r = record((size_t)st.range(0));
    for (auto _ : st) {
        unsigned char md[EVP_MAX_MD_SIZE];
        unsigned int n = 0;
        EVP_Digest(r.data(), r.size(), md, &n, EVP_sha1(), nullptr);
        size_t len = 0;
        char buf[2 * EVP_MAX_MD_SIZE + 1];
        OPENSSL_buf2hexstr_ex(buf, sizeof buf, &len, md, n, '\0');
        char *hex = OPENSSL_strdup(buf);
        benchmark::DoNotOptimize(hex);
        OPENSSL_free(hex);
    }
    st.SetBytesProcessed((int64_t)st.iterations() * st.range(0));
}

ZQ_RAS_USER_NEW_REQ sample() {
    ZQ_RAS_USER_NEW_REQ r{};
    std::strcpy(r.corp_code, "C001");
    std::strcpy(r.oper_id, "operator01");
    std::strcpy(r.reg_date, "20240102030405");
    std::strcpy(r.company, "Example Trading Company Limited");
    std::strcpy(r.user_name, "Hong");
    std::strcpy(r.euser_name, "Gil Dong Hong");
    std::strcpy(r.user_id, "gildong");
    std::strcpy(r.ssn, "8001011234567");
    std::strcpy(r.email, "gildong@example.com");
    std::strcpy(r.address, "1 Sejong-daero, Jung-gu, Seoul");
    return r;
}

void BM_Ostrel_RegistrationWithDigest(benchmark::State &st) {
    ZQ_RAS_USER_NEW_REQ r = sample();
    ZQ_CAS_MsgHeader h{20, 1, "20240102030405", 0};
    for (auto _ : st) {
        BIN out{0, nullptr};
        QRT_CAS_EncodeMsg(&out, &r, &h, QRT_CAS_FORM_TEXT, nullptr);
        benchmark::DoNotOptimize(out.value);
        QRT_BIN_Reset(&out);
    }
}

void BM_OpenSSL_RegistrationWithDigest(benchmark::State &st) {
    ZQ_RAS_USER_NEW_REQ r = sample();
    const char *f[] = {r.corp_code, r.oper_id, r.reg_date, r.reg_serial, r.type, r.company, nullptr,
                       r.user_id, r.ssn, r.policy_type, r.email, r.cell_phone, r.fax, r.zipcode, r.address,
                       r.phone, r.czipcode, r.caddress, r.cphone};
    for (auto _ : st) {
        BIO *body = BIO_new(BIO_s_mem());
        for (const char *v : f) {
            if (v)
                BIO_printf(body, "%s$", v);
            else
                BIO_printf(body, "%s(%s)$", r.user_name, r.euser_name);
        }
        char *p = nullptr;
        long n = BIO_get_mem_data(body, &p);
        unsigned char md[EVP_MAX_MD_SIZE];
        unsigned int mdn = 0;
        EVP_Digest(p, (size_t)n, md, &mdn, EVP_sha1(), nullptr);
        char hex[2 * EVP_MAX_MD_SIZE + 1];
        size_t hl = 0;
        OPENSSL_buf2hexstr_ex(hex, sizeof hex, &hl, md, mdn, '\0');
        BIO *msg = BIO_new(BIO_s_mem());
        BIO_printf(msg, "%02d%s%04d%04ld", 20, "20240102030405", 1, n + 41);
        BIO_write(msg, p, (int)n);
        BIO_printf(msg, "%s$", hex);
        char *q = nullptr;
        long m = BIO_get_mem_data(msg, &q);
        unsigned char *out = (unsigned char *)OPENSSL_memdup(q, (size_t)m);
        benchmark::DoNotOptimize(out);
        OPENSSL_free(out);
        BIO_free(msg);
        BIO_free(body);
    }
}

}  // namespace

BENCHMARK(BM_Ostrel_HexDigest)->Arg(512)->Arg(8192);
BENCHMARK(BM_OpenSSL_HexDigest)->Arg(512)->Arg(8192);
BENCHMARK(BM_Ostrel_RegistrationWithDigest);
BENCHMARK(BM_OpenSSL_RegistrationWithDigest);
BENCHMARK_MAIN();
