// RA messages through libOstrelRAS against the same bytes built and split with OpenSSL's
// string helpers (BIO_printf into a memory BIO; OPENSSL_strlcpy into the fields), same inputs.
#include <benchmark/benchmark.h>
#include <openssl/bio.h>
#include <openssl/crypto.h>

#include <cstring>
#include <string>

#include "suite_ras.h"

namespace {

ZQ_RAS_USER_NEW_REQ sample() {
    ZQ_RAS_USER_NEW_REQ r{};
    std::strcpy(r.corp_code, "C001");
    std::strcpy(r.oper_id, "operator01");
    std::strcpy(r.reg_date, "20240102030405");
    std::strcpy(r.reg_serial, "000123");
    std::strcpy(r.type, "1");
    std::strcpy(r.company, "Example Trading Company Limited");
    std::strcpy(r.user_name, "Hong");
    std::strcpy(r.euser_name, "Gil Dong Hong");
    std::strcpy(r.user_id, "gildong");
    std::strcpy(r.ssn, "8001011234567");
    std::strcpy(r.policy_type, "01");
    std::strcpy(r.email, "gildong@example.com");
    std::strcpy(r.cell_phone, "010-1234-5678");
    std::strcpy(r.fax, "02-123-4567");
    std::strcpy(r.zipcode, "04524");
    std::strcpy(r.address, "1 Sejong-daero, Jung-gu, Seoul");
    std::strcpy(r.phone, "02-123-4568");
    std::strcpy(r.czipcode, "04525");
    std::strcpy(r.caddress, "2 Sejong-daero, Jung-gu, Seoul");
    std::strcpy(r.cphone, "02-123-4569");
    return r;
}

const char *const *text_fields(const ZQ_RAS_USER_NEW_REQ &r) {
    static const char *f[19];
    const char *v[] = {r.corp_code, r.oper_id, r.reg_date, r.reg_serial, r.type, r.company, r.user_name,
                       r.user_id, r.ssn, r.policy_type, r.email, r.cell_phone, r.fax, r.zipcode, r.address,
                       r.phone, r.czipcode, r.caddress, r.cphone};
    std::memcpy(f, v, sizeof v);
    return f;
}

void BM_Ostrel_EncodeRegistration(benchmark::State &st) {
    ZQ_RAS_USER_NEW_REQ r = sample();
    ZQ_RAS_MsgHeader h{20, 1, "20240102030405", 0};
    for (auto _ : st) {
        BIN out{0, nullptr};
        QRT_RAS_EncodeMsg(&out, &r, &h, QRT_RAS_FORM_TEXT);
        benchmark::DoNotOptimize(out.value);
        QRT_BIN_Reset(&out);
    }
}

// The same message: fields with "$", the name pair, the record length and the header.
void BM_OpenSSL_BioPrintfRegistration(benchmark::State &st) {
    ZQ_RAS_USER_NEW_REQ r = sample();
    const char *const *f = text_fields(r);
    for (auto _ : st) {
        BIO *body = BIO_new(BIO_s_mem());
        for (int i = 0; i < 19; ++i) {
            if (i == 6)
                BIO_printf(body, "%s(%s)$", r.user_name, r.euser_name);
            else
                BIO_printf(body, "%s$", f[i]);
        }
        char *p = nullptr;
        long n = BIO_get_mem_data(body, &p);
        BIO *msg = BIO_new(BIO_s_mem());
        BIO_printf(msg, "%04ld%02d%s%04d%04ld", n + 28, 20, "20240102030405", 1, n);
        BIO_write(msg, p, (int)n);
        char *q = nullptr;
        long m = BIO_get_mem_data(msg, &q);
        unsigned char *out = (unsigned char *)OPENSSL_memdup(q, (size_t)m);
        benchmark::DoNotOptimize(out);
        OPENSSL_free(out);
        BIO_free(msg);
        BIO_free(body);
    }
}

std::string encoded() {
    ZQ_RAS_USER_NEW_REQ r = sample();
    ZQ_RAS_MsgHeader h{20, 1, "20240102030405", 0};
    BIN out{0, nullptr};
    QRT_RAS_EncodeMsg(&out, &r, &h, QRT_RAS_FORM_TEXT);
    std::string s((char *)out.value, out.length);
    QRT_BIN_Reset(&out);
    return s;
}

void BM_Ostrel_DecodeRegistration(benchmark::State &st) {
    std::string wire = encoded();
    BIN in{(unsigned)wire.size(), (unsigned char *)wire.data()};
    for (auto _ : st) {
        void *msg = nullptr;
        ZQ_RAS_MsgHeader h{};
        QRT_RAS_DecodeMsg(&msg, &h, &in, 1, QRT_RAS_FORM_TEXT);
        benchmark::DoNotOptimize(msg);
        QRT_RAS_FreeMsgStr(msg, 20);
    }
}

// The same parse: header digits, record length, each "$" field copied into a new structure.
void BM_OpenSSL_StrlcpyRegistration(benchmark::State &st) {
    std::string wire = encoded();
    ZQ_RAS_USER_NEW_REQ proto{};
    const char *base = (const char *)&proto;
    const char *const *f = text_fields(proto);
    size_t off[19], width[19];
    const size_t w[] = {5, 21, 15, 7, 2, 101, 101, 101, 21, 3, 51, 21, 21, 21, 201, 21, 21, 201, 21};
    for (int i = 0; i < 19; ++i) off[i] = (size_t)(f[i] - base), width[i] = w[i];
    for (auto _ : st) {
        auto *r = (ZQ_RAS_USER_NEW_REQ *)OPENSSL_zalloc(sizeof(ZQ_RAS_USER_NEW_REQ));
        const char *p = wire.data() + 28, *end = wire.data() + wire.size();
        long code = strtol(std::string(wire, 4, 2).c_str(), nullptr, 10);
        benchmark::DoNotOptimize(code);
        for (int i = 0; i < 19 && p < end; ++i) {
            const char *d = (const char *)memchr(p, '$', (size_t)(end - p));
            if (!d) break;
            size_t n = (size_t)(d - p) + 1;
            OPENSSL_strlcpy((char *)r + off[i], p, n < width[i] ? n : width[i]);
            p = d + 1;
        }
        benchmark::DoNotOptimize(r);
        OPENSSL_clear_free(r, sizeof *r);
    }
}

}  // namespace

BENCHMARK(BM_Ostrel_EncodeRegistration);
BENCHMARK(BM_OpenSSL_BioPrintfRegistration);
BENCHMARK(BM_Ostrel_DecodeRegistration);
BENCHMARK(BM_OpenSSL_StrlcpyRegistration);
BENCHMARK_MAIN();
