// Keys and certificates for the handshake tests, made at run time with the openssl CLI: a test
// CA (RSA key and self-signed X.509 certificate) and server RSA keys in PKCS#1 DER.
#pragma once

#include <openssl/bn.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "ostrel/test_support.hpp"
#include "suite_php.h"

namespace php_test {

using Bytes = std::vector<unsigned char>;

inline ZQ_PHP_DATA view(const Bytes &b) {
    return ZQ_PHP_DATA{static_cast<unsigned>(b.size()), const_cast<unsigned char *>(b.data())};
}
inline ZQ_PHP_DATA view(const std::string &s) {
    return ZQ_PHP_DATA{static_cast<unsigned>(s.size()),
                       reinterpret_cast<unsigned char *>(const_cast<char *>(s.data()))};
}
// A view of a string literal (static storage, so the view never dangles).
inline ZQ_PHP_DATA view(const char *literal) {
    return ZQ_PHP_DATA{static_cast<unsigned>(std::strlen(literal)),
                       reinterpret_cast<unsigned char *>(const_cast<char *>(literal))};
}
inline Bytes bytes_of(const ZQ_PHP_DATA &d) { return d.len ? Bytes(d.data, d.data + d.len) : Bytes{}; }
inline Bytes file_bytes(const std::string &path) {
    std::string s = ostrel::test::read_file(path);
    return Bytes(s.begin(), s.end());
}

struct RsaKey {
    Bytes priv;  // PKCS#1 RSAPrivateKey DER
    Bytes pub;   // PKCS#1 RSAPublicKey DER
    std::string pem;
};

// A fresh RSA key of `bits` in dir/name.*; throws when openssl fails.
inline RsaKey make_rsa(const ostrel::test::TempDir &dir, const std::string &name, int bits) {
    std::string pem = dir / (name + ".pem"), priv = dir / (name + ".der"), pub = dir / (name + ".pub");
    auto run = [](const std::string &cmd) {
        if (ostrel::test::run(cmd + " 2>/dev/null") != 0) throw std::runtime_error("failed: " + cmd);
    };
    run("openssl genrsa -out " + pem + " " + std::to_string(bits));
    run("openssl rsa -in " + pem + " -traditional -outform DER -out " + priv);
    run("openssl rsa -in " + pem + " -RSAPublicKey_out -outform DER -out " + pub);
    return RsaKey{file_bytes(priv), file_bytes(pub), pem};
}

// A self-signed CA certificate (DER) for key.
inline Bytes make_ca_cert(const ostrel::test::TempDir &dir, const RsaKey &key, const std::string &name) {
    std::string crt = dir / (name + ".crt");
    std::string cmd = "openssl req -x509 -new -key " + key.pem + " -subj /CN=" + name + " -days 2 -outform DER -out " +
                      crt + " 2>/dev/null";
    if (ostrel::test::run(cmd) != 0) throw std::runtime_error("failed: " + cmd);
    return file_bytes(crt);
}

// The INTEGERs of a DER SEQUENCE (enough for PKCS#1 keys), as OpenSSL numbers.
inline std::vector<BIGNUM *> der_integers(const Bytes &der) {
    std::vector<BIGNUM *> out;
    size_t at = 0;
    auto length = [&](size_t &p) {
        size_t n = der.at(p++);
        if (n & 0x80) {
            size_t k = n & 0x7f;
            n = 0;
            while (k--) n = n << 8 | der.at(p++);
        }
        return n;
    };
    if (der.at(at++) != 0x30) throw std::runtime_error("not a SEQUENCE");
    length(at);
    while (at < der.size()) {
        if (der.at(at++) != 0x02) throw std::runtime_error("not an INTEGER");
        size_t n = length(at);
        out.push_back(BN_bin2bn(der.data() + at, static_cast<int>(n), nullptr));
        at += n;
    }
    return out;
}

// The strong password by its definition, h^(2d) mod n with h = KDF(password, bytes of n),
// computed with OpenSSL from the server's private key.
inline Bytes reference_strong(const RsaKey &key, const std::string &password) {
    std::vector<BIGNUM *> v = der_integers(key.priv);  // version, n, e, d, ...
    BIGNUM *n = v.at(1), *d = v.at(3);
    ZQ_PHP_DATA pw = view(password), h{};
    if (QRT_PHP_ComputeKDF(&h, BN_num_bytes(n), &pw) != 0) throw std::runtime_error("KDF failed");
    BN_CTX *ctx = BN_CTX_new();
    BIGNUM *g = BN_bin2bn(h.data, static_cast<int>(h.len), nullptr), *r = BN_new();
    BN_mod_sqr(g, g, n, ctx);
    BN_mod_exp(r, g, d, n, ctx);
    Bytes out(static_cast<size_t>(BN_num_bytes(r)));
    BN_bn2bin(r, out.data());
    if (out.empty()) out.push_back(0);
    QRT_PHP_DATA_Reset(&h);
    BN_free(g);
    BN_free(r);
    BN_CTX_free(ctx);
    for (BIGNUM *b : v) BN_free(b);
    return out;
}

// A PHP certificate for identity and the server's public key, signed by the CA key.
inline Bytes php_cert(const std::string &identity, const RsaKey &server, const RsaKey &ca) {
    ZQ_PHP_DATA id = view(identity), pub = view(server.pub), caKey = view(ca.priv), out{};
    if (QRT_PHP_EncodePHPCert(&out, &id, &pub, &caKey) != 0) throw std::runtime_error("EncodePHPCert failed");
    Bytes b = bytes_of(out);
    QRT_PHP_DATA_Reset(&out);
    return b;
}

}  // namespace php_test
