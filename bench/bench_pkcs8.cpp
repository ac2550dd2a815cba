// EncryptedPrivateKeyInfo decoding and password change against OpenSSL's PKCS#8 decryption for
// the same container, in the same run. The key is a fixed PrivateKeyInfo-shaped value; the cost
// is the key derivation and the decryption.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <vector>

#include "suite_pkcs8.h"

namespace {

const unsigned char kPassword[] = "bench-password";
constexpr unsigned kPasswordLength = sizeof kPassword - 1;

// A container made by us: PBES2, AES-256-CBC, HMAC-SHA-256, 2048 iterations.
std::vector<unsigned char> container() {
    std::vector<unsigned char> priv(600, 0x11);
    priv[0] = 0x30;
    priv[1] = 0x82;
    priv[2] = 0x02;
    priv[3] = 0x54;
    BIN pk{static_cast<unsigned>(priv.size()), priv.data()};
    ZQ_PKCS8_ENC_PRIVKEY_INFO enc{};
    enc.pbesID.pbesID = QRT_PKCS5_PBES2;
    enc.pbesID.pbes2Param.kdfID = QRT_PKCS5_KDF_PBKDF2;
    enc.pbesID.pbes2Param.encID = QRT_PKCS5_ENC_AES256_CBC;
    enc.pbesID.pbes2Param.prfID = QRT_PKCS5_PRF_HMAC_SHA256;
    enc.info.algID = QRT_PKCS8_ALG_RSA;
    enc.info.privKey = &pk;
    BIN pw{kPasswordLength, const_cast<unsigned char *>(kPassword)};
    BIN der{0, nullptr};
    if (QRT_PKCS8_EncodeEncPrivKeyInfo(&der, &enc, &pw)) return {};
    std::vector<unsigned char> out(der.value, der.value + der.length);
    QRT_BIN_Reset(&der);
    return out;
}

void BM_Ostrel_DecodeEnc(benchmark::State &st) {
    auto der = container();
    BIN d{static_cast<unsigned>(der.size()), der.data()};
    BIN pw{kPasswordLength, const_cast<unsigned char *>(kPassword)};
    for (auto _ : st) {
        ZQ_PKCS8_ENC_PRIVKEY_INFO enc{};
        if (QRT_PKCS8_DecodeEncPrivKeyInfo(&enc, &d, &pw)) st.SkipWithError("decode failed");
        QRT_PKCS8_ResetEncPrivKeyInfo(&enc);
    }
}

void BM_OpenSSL_DecodeEnc(benchmark::State &st) {
    auto der = container();
    for (auto _ : st) {
        const unsigned char *p = der.data();
        X509_SIG *sig = d2i_X509_SIG(nullptr, &p, static_cast<long>(der.size()));
        PKCS8_PRIV_KEY_INFO *info =
            sig ? PKCS8_decrypt(sig, reinterpret_cast<const char *>(kPassword), kPasswordLength) : nullptr;
        if (!info) st.SkipWithError("decode failed");
        PKCS8_PRIV_KEY_INFO_free(info);
        X509_SIG_free(sig);
    }
}

void BM_Ostrel_ChangePassword(benchmark::State &st) {
    auto der = container();
    BIN d{static_cast<unsigned>(der.size()), der.data()};
    BIN pw{kPasswordLength, const_cast<unsigned char *>(kPassword)};
    for (auto _ : st) {
        BIN out{0, nullptr};
        if (QRT_PKCS8_ChangePassword(&out, &d, &pw, &pw)) st.SkipWithError("change failed");
        QRT_BIN_Reset(&out);
    }
}

}  // namespace

BENCHMARK(BM_Ostrel_DecodeEnc);
BENCHMARK(BM_OpenSSL_DecodeEnc);
BENCHMARK(BM_Ostrel_ChangePassword);
BENCHMARK_MAIN();
