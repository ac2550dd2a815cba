// Password-based key derivation against published vectors and OpenSSL's own implementations.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>

#include <string>

#include "csp_test_util.hpp"
#include "suite_crypto.h"

using namespace csptest;

namespace {

Bytes str(const std::string &s) { return Bytes(s.begin(), s.end()); }

Bytes pbkdf2(const Bytes &pw, const Bytes &salt, unsigned iter, unsigned len, int hash) {
    BIN p = view(pw), s = view(salt);
    Out out;
    EXPECT_EQ(QRT_CSP_PBKDF2(&out, len, &p, &s, iter, hash), 0);
    return out.bytes();
}

Bytes ossl_pbkdf2(const Bytes &pw, const Bytes &salt, unsigned iter, unsigned len, const EVP_MD *md) {
    Bytes out(len);
    EXPECT_EQ(
        PKCS5_PBKDF2_HMAC(reinterpret_cast<const char *>(pw.data()), static_cast<int>(pw.size()), salt.data(),
                          static_cast<int>(salt.size()), static_cast<int>(iter), md, static_cast<int>(len), out.data()),
        1);
    return out;
}

// The password in BMPString form with its two-byte terminator.
Bytes bmp(const Bytes &ascii) {
    Bytes b;
    for (unsigned char c : ascii) b.insert(b.end(), {0, c});
    b.insert(b.end(), {0, 0});
    return b;
}

}  // namespace

TEST(CspKdf, Pbkdf2Rfc6070) {
    struct V {
        std::string pw, salt;
        unsigned iter, len;
        const char *hex;
    } vs[] = {
        {"password", "salt", 1, 20, "0c60c80f961f0e71f3a9b524af6012062fe037a6"},
        {"password", "salt", 2, 20, "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957"},
        {"password", "salt", 4096, 20, "4b007901b765489abead49d926f721d065a429c1"},
        {"passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096, 25,
         "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038"},
        {std::string("pass\0word", 9), std::string("sa\0lt", 5), 4096, 16, "56fa6aa75548099dcc37d7f03425e0c3"},
    };
    for (const V &v : vs)
        EXPECT_EQ(hexs(pbkdf2(str(v.pw), str(v.salt), v.iter, v.len, QRT_CSP_HASH_SHA1)), v.hex) << v.pw;
}

TEST(CspKdf, Pbkdf2AgainstOpenSSL) {
    struct H {
        int id;
        const EVP_MD *md;
    } hs[] = {{QRT_CSP_HASH_SHA1, EVP_sha1()},
              {QRT_CSP_HASH_SHA224, EVP_sha224()},
              {QRT_CSP_HASH_SHA256, EVP_sha256()},
              {QRT_CSP_HASH_SHA384, EVP_sha384()},
              {QRT_CSP_HASH_SHA512, EVP_sha512()}};
    // Password lengths around the HMAC block (longer ones are hashed first), output lengths that
    // cut the last block, and counts of one and several iterations.
    for (const H &h : hs)
        for (size_t pw_len : {0u, 1u, 63u, 64u, 65u, 129u})
            for (unsigned iter : {1u, 2u, 1000u})
                for (unsigned len : {1u, 32u, 33u, 100u}) {
                    Bytes pw = pattern(pw_len, 3), salt = pattern(16, 4);
                    EXPECT_EQ(pbkdf2(pw, salt, iter, len, h.id), ossl_pbkdf2(pw, salt, iter, len, h.md))
                        << h.id << " " << pw_len << " " << iter << " " << len;
                }
}

TEST(CspKdf, Pbkdf1IsAHashChain) {
    for (int hash : {QRT_CSP_HASH_MD2, QRT_CSP_HASH_MD5, QRT_CSP_HASH_SHA1})
        for (unsigned iter : {1u, 2u, 1000u}) {
            Bytes pw = str("password"), salt = pattern(8, 2);
            Bytes t = pw;
            t.insert(t.end(), salt.begin(), salt.end());
            for (unsigned i = 0; i < iter; ++i) {
                BIN in = view(t);
                Out d;
                ASSERT_EQ(QRT_CSP_Hash(&d, &in, hash), 0);
                t = d.bytes();
            }
            BIN p = view(pw), s = view(salt);
            Out out;
            ASSERT_EQ(QRT_CSP_PBKDF1(&out, 16, &p, &s, iter, hash), 0);
            EXPECT_EQ(out.bytes(), Bytes(t.begin(), t.begin() + 16)) << hash << " " << iter;
        }
}

TEST(CspKdf, Pkcs12AgainstOpenSSL) {
    struct H {
        int id;
        const EVP_MD *md;
    } hs[] = {
        {QRT_CSP_HASH_SHA1, EVP_sha1()}, {QRT_CSP_HASH_SHA256, EVP_sha256()}, {QRT_CSP_HASH_SHA512, EVP_sha512()}};
    for (const H &h : hs)
        for (int id : {1, 2, 3})
            for (size_t salt_len : {1u, 8u, 63u, 64u, 65u})
                for (size_t pw_len : {0u, 31u, 32u, 33u})
                    for (unsigned iter : {1u, 3u}) {
                        // pw_len 0 stands for the empty password: only its terminator.
                        Bytes pw = bmp(pattern(pw_len, 5)), salt = pattern(salt_len, 6);
                        const unsigned len = 70;  // several output blocks, the last one cut
                        Bytes want(len);
                        ASSERT_EQ(PKCS12_key_gen_uni(pw.data(), static_cast<int>(pw.size()), salt.data(),
                                                     static_cast<int>(salt.size()), id, static_cast<int>(iter),
                                                     static_cast<int>(len), want.data(), h.md),
                                  1);
                        BIN p = view(pw), s = view(salt);
                        Out out;
                        ASSERT_EQ(QRT_CSP_PKCS12_KDF(&out, len, &p, &s, iter, id, h.id), 0);
                        EXPECT_EQ(out.bytes(), want) << h.id << " " << id << " " << salt_len << " " << pw_len;
                    }
    // No password block at all.
    Bytes salt = pattern(8), want(24);
    ASSERT_EQ(PKCS12_key_gen_uni(nullptr, 0, salt.data(), 8, 1, 2048, 24, want.data(), EVP_sha1()), 1);
    BIN none{0, nullptr}, s = view(salt);
    Out out;
    ASSERT_EQ(QRT_CSP_PKCS12_KDF(&out, 24, &none, &s, 2048, 1, QRT_CSP_HASH_SHA1), 0);
    EXPECT_EQ(out.bytes(), want);
}

TEST(CspKdf, RefusedInputs) {
    Bytes pw = str("pw"), salt = pattern(8);
    BIN p = view(pw), s = view(salt), broken{4, nullptr};
    Out out;
    // NULL arguments, zero lengths and counts, bytes missing behind a length.
    EXPECT_EQ(QRT_CSP_PBKDF2(nullptr, 16, &p, &s, 1, QRT_CSP_HASH_SHA1), QRT_CSP_INVALID_INPUT);
    EXPECT_EQ(QRT_CSP_PBKDF2(&out, 0, &p, &s, 1, QRT_CSP_HASH_SHA1), QRT_CSP_INVALID_INPUT);
    EXPECT_EQ(QRT_CSP_PBKDF2(&out, 16, &p, &s, 0, QRT_CSP_HASH_SHA1), QRT_CSP_INVALID_INPUT);
    EXPECT_EQ(QRT_CSP_PBKDF2(&out, 16, nullptr, &s, 1, QRT_CSP_HASH_SHA1), QRT_CSP_INVALID_INPUT);
    EXPECT_EQ(QRT_CSP_PBKDF2(&out, 16, &p, &broken, 1, QRT_CSP_HASH_SHA1), QRT_CSP_INVALID_INPUT);
    EXPECT_EQ(QRT_CSP_PBKDF1(&out, 16, &broken, &s, 1, QRT_CSP_HASH_MD5), QRT_CSP_INVALID_INPUT);
    EXPECT_EQ(QRT_CSP_PKCS12_KDF(&out, 16, &p, nullptr, 1, 1, QRT_CSP_HASH_SHA1), QRT_CSP_INVALID_INPUT);
    // Lengths past the hash and identifiers outside the defined ones.
    EXPECT_EQ(QRT_CSP_PBKDF1(&out, 21, &p, &s, 1, QRT_CSP_HASH_SHA1), QRT_CSP_INVALID_INPUT);
    EXPECT_EQ(QRT_CSP_PBKDF1(&out, 17, &p, &s, 1, QRT_CSP_HASH_MD5), QRT_CSP_INVALID_INPUT);
    EXPECT_EQ(QRT_CSP_PKCS12_KDF(&out, 16, &p, &s, 1, 0, QRT_CSP_HASH_SHA1), QRT_CSP_INVALID_INPUT);
    EXPECT_EQ(QRT_CSP_PKCS12_KDF(&out, 16, &p, &s, 1, 4, QRT_CSP_HASH_SHA1), QRT_CSP_INVALID_INPUT);
    // Hashes a function does not take.
    EXPECT_EQ(QRT_CSP_PBKDF1(&out, 16, &p, &s, 1, QRT_CSP_HASH_SHA256), QRT_CSP_UNKNOWN_ID);
    EXPECT_EQ(QRT_CSP_PBKDF2(&out, 16, &p, &s, 1, QRT_CSP_HASH_MD5), QRT_CSP_UNKNOWN_ID);
    EXPECT_EQ(QRT_CSP_PBKDF2(&out, 16, &p, &s, 1, 99), QRT_CSP_UNKNOWN_ID);
    EXPECT_EQ(QRT_CSP_PKCS12_KDF(&out, 16, &p, &s, 1, 1, QRT_CSP_HASH_HAS160), QRT_CSP_UNKNOWN_ID);
    EXPECT_EQ(out.b.length, 0u);
    EXPECT_EQ(out.b.value, nullptr);
}

// Hashes without a fast path go through the core's general hash path.
TEST(CspKdf, CoreGeneralHashPath) {
    Bytes pw = pattern(70, 7), salt = pattern(12, 8);
    for (unsigned iter : {1u, 5u}) {
        Bytes got(40);
        ASSERT_EQ(WJ_PBKDF2_HMAC(got.data(), 40, pw.data(), 70, salt.data(), 12, iter, WJ_HASH_MD5), 0);
        EXPECT_EQ(got, ossl_pbkdf2(pw, salt, iter, 40, EVP_md5())) << iter;
    }
}
