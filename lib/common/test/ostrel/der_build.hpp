// Hand-built DER for tests that need encodings no tool writes on request (duplicate serials,
// absent optional fields, entries by the hundred thousand).
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

namespace ostrel::test::der {

using Bytes = std::vector<unsigned char>;

inline Bytes tlv(unsigned char tag, const Bytes &content) {
    Bytes out{tag};
    size_t n = content.size();
    if (n < 0x80) {
        out.push_back(static_cast<unsigned char>(n));
    } else {
        Bytes len;
        for (size_t m = n; m; m >>= 8) len.insert(len.begin(), static_cast<unsigned char>(m));
        out.push_back(static_cast<unsigned char>(0x80 | len.size()));
        out.insert(out.end(), len.begin(), len.end());
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

// The elements of a DER constructed value, each whole (tag, length, contents).
inline std::vector<Bytes> children(const Bytes &tlv) {
    std::vector<Bytes> out;
    auto header = [&](size_t at, size_t &len) {
        size_t n = tlv[at + 1], h = 2;
        if (n & 0x80) {
            size_t k = n & 0x7f;
            n = 0;
            for (size_t i = 0; i < k; ++i) n = n << 8 | tlv[at + 2 + i];
            h += k;
        }
        len = n;
        return h;
    };
    size_t len, at = header(0, len);
    while (at < tlv.size()) {
        size_t n, h = header(at, n);
        out.emplace_back(tlv.begin() + static_cast<long>(at), tlv.begin() + static_cast<long>(at + h + n));
        at += h + n;
    }
    return out;
}

inline Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline Bytes seq(std::initializer_list<Bytes> parts) { return tlv(0x30, cat(parts)); }
inline Bytes text(unsigned char tag, const std::string &s) { return tlv(tag, Bytes(s.begin(), s.end())); }
inline Bytes utc(const std::string &yymmddhhmmssZ) { return text(0x17, yymmddhhmmssZ); }
inline Bytes integer(const Bytes &content) { return tlv(0x02, content); }

// AlgorithmIdentifier sha256WithRSAEncryption with NULL parameters.
inline Bytes sha256_rsa() {
    return seq({tlv(0x06, {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x01, 0x0b}), Bytes{0x05, 0x00}});
}
// Name with one commonName.
inline Bytes cn_name(const std::string &cn) {
    return seq({tlv(0x31, seq({tlv(0x06, {0x55, 0x04, 0x03}), text(0x0c, cn)}))});
}

// One CRL entry; reason < 0 leaves out the reasonCode extension.
inline Bytes crl_entry(const Bytes &serial, const std::string &when, int reason = -1) {
    if (reason < 0) return seq({integer(serial), utc(when)});
    Bytes ext = seq({tlv(0x06, {0x55, 0x1d, 0x15}), tlv(0x04, tlv(0x0a, {static_cast<unsigned char>(reason)}))});
    return seq({integer(serial), utc(when), seq({ext})});
}

// TBSCertList v2 over the entries (already encoded, concatenated); nextUpdate empty leaves it out.
inline Bytes tbs_cert_list(const Bytes &entries, const std::string &thisUpdate, const std::string &nextUpdate) {
    Bytes body = cat({integer({0x01}), sha256_rsa(), cn_name("Test CRL Issuer"), utc(thisUpdate)});
    if (!nextUpdate.empty()) body = cat({body, utc(nextUpdate)});
    if (!entries.empty()) body = cat({body, tlv(0x30, entries)});
    return tlv(0x30, body);
}

// A CertificateList around tbs with a made-up signature (for look-ups, which do not check it).
inline Bytes certificate_list(const Bytes &tbs) {
    return seq({tbs, sha256_rsa(), tlv(0x03, {0x00, 0x01, 0x02, 0x03})});
}

}  // namespace ostrel::test::der
