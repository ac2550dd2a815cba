// Helpers shared by the ASN.1 layer's tests: reading certificates, round trips, BER forms.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "ostrel/asn_tree.hpp"
#include "ostrel/test_support.hpp"
#include "suite_asn.h"

namespace asn_test {

using Bytes = std::vector<unsigned char>;

using ostrel::test::trace_text;

inline BIN view(const Bytes &b) { return BIN{static_cast<unsigned>(b.size()), const_cast<unsigned char *>(b.data())}; }
inline Bytes file_bytes(const std::string &path) {
    std::string s = ostrel::test::read_file(path);
    return Bytes(s.begin(), s.end());
}

inline Bytes base64(const std::string &text) {
    Bytes out;
    unsigned v = 0;
    int bits = 0;
    for (char c : text) {
        int d;
        if (c >= 'A' && c <= 'Z') d = c - 'A';
        else if (c >= 'a' && c <= 'z') d = c - 'a' + 26;
        else if (c >= '0' && c <= '9') d = c - '0' + 52;
        else if (c == '+') d = 62;
        else if (c == '/') d = 63;
        else continue;
        v = (v << 6) | static_cast<unsigned>(d);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<unsigned char>(v >> bits));
        }
    }
    return out;
}

// Every PEM block of the given label in a text.
inline std::vector<Bytes> pem_blocks(const std::string &text, const std::string &label) {
    std::vector<Bytes> out;
    std::string begin = "-----BEGIN " + label + "-----", end = "-----END " + label + "-----";
    size_t pos = 0;
    while ((pos = text.find(begin, pos)) != std::string::npos) {
        size_t e = text.find(end, pos);
        if (e == std::string::npos) break;
        out.push_back(base64(text.substr(pos + begin.size(), e - pos - begin.size())));
        pos = e + end.size();
    }
    return out;
}

inline std::vector<std::string> names_in(const std::string &dir) {
    std::vector<std::string> out;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d))
            if (e->d_name[0] != '.') out.push_back(e->d_name);
        closedir(d);
    }
    std::sort(out.begin(), out.end());
    return out;
}

inline std::vector<std::pair<std::string, Bytes>> files_in(const std::string &dir) {
    std::vector<std::pair<std::string, Bytes>> out;
    for (auto &n : names_in(dir)) {
        std::string s = ostrel::test::read_file(dir + "/" + n);
        out.emplace_back(n, Bytes(s.begin(), s.end()));
    }
    return out;
}

inline std::vector<std::pair<std::string, Bytes>> pem_certificates_in(const std::string &dir) {
    std::vector<std::pair<std::string, Bytes>> out;
    for (auto &n : names_in(dir))
        for (auto &b : pem_blocks(ostrel::test::read_file(dir + "/" + n), "CERTIFICATE")) out.emplace_back(n, b);
    return out;
}

// Decode, encode (same bytes), copy, compare, encode the copy, free.
inline void expect_round_trip(const Bytes &der, int pdu, const std::string &what) {
    BIN in{static_cast<unsigned int>(der.size()), const_cast<unsigned char *>(der.data())};
    void *tree = nullptr;
    ASSERT_EQ(QRT_ASN_DecodePDU(&tree, &in, pdu), 0) << what << "\n" << trace_text();
    BIN out{0, nullptr};
    ASSERT_EQ(QRT_ASN_EncodePDU(&out, tree, pdu), 0) << what << "\n" << trace_text();
    EXPECT_EQ(Bytes(out.value, out.value + out.length), der) << what;
    void *copy = nullptr;
    ASSERT_EQ(QRT_ASN_CopyPDU(&copy, tree, pdu), 0) << what;
    EXPECT_EQ(QRT_ASN_CmpPDU(tree, copy, pdu), 0) << what;
    BIN out2{0, nullptr};
    ASSERT_EQ(QRT_ASN_EncodePDU(&out2, copy, pdu), 0) << what;
    EXPECT_EQ(QRT_BIN_Cmp(&out, &out2), 0) << what;
    QRT_BIN_Reset(&out);
    QRT_BIN_Reset(&out2);
    EXPECT_EQ(QRT_ASN_FreePDU(copy, pdu), 0);
    EXPECT_EQ(QRT_ASN_FreePDU(tree, pdu), 0);
}

// Decoding `ber` gives the tree whose encoding is `der`.
inline void expect_decodes_to(const Bytes &ber, const Bytes &der, int pdu) {
    BIN in{static_cast<unsigned int>(ber.size()), const_cast<unsigned char *>(ber.data())};
    void *tree = nullptr;
    ASSERT_EQ(QRT_ASN_DecodePDU(&tree, &in, pdu), 0) << ostrel::test::to_hex(ber.data(), ber.size()) << "\n"
                                                    << trace_text();
    BIN out{0, nullptr};
    ASSERT_EQ(QRT_ASN_EncodePDU(&out, tree, pdu), 0);
    EXPECT_EQ(ostrel::test::to_hex(out.value, out.length), ostrel::test::to_hex(der.data(), der.size()));
    QRT_BIN_Reset(&out);
    QRT_ASN_FreePDU(tree, pdu);
}

// A DER encoding rewritten as BER: indefinite lengths everywhere, OCTET STRINGs in two pieces.
inline Bytes to_ber(const Bytes &der) {
    std::function<size_t(size_t, Bytes &)> walk = [&](size_t p, Bytes &out) -> size_t {
        unsigned char id = der[p];
        size_t q = p + 1;
        size_t len = der[q++];
        if (len & 0x80) {
            int n = static_cast<int>(len & 0x7f);
            len = 0;
            while (n--) len = (len << 8) | der[q++];
        }
        size_t end = q + len;
        if (id & 0x20) {
            out.push_back(id);
            out.push_back(0x80);
            while (q < end) q = walk(q, out);
            out.push_back(0);
            out.push_back(0);
        } else if (id == 0x04 && len >= 2) {
            size_t half = len / 2;
            out.insert(out.end(), {0x24, 0x80, 0x04, static_cast<unsigned char>(0x81), static_cast<unsigned char>(half)});
            out.insert(out.end(), der.begin() + static_cast<long>(q), der.begin() + static_cast<long>(q + half));
            size_t rest = len - half;
            out.insert(out.end(), {0x04, 0x82, static_cast<unsigned char>(rest >> 8), static_cast<unsigned char>(rest)});
            out.insert(out.end(), der.begin() + static_cast<long>(q + half), der.begin() + static_cast<long>(end));
            out.push_back(0);
            out.push_back(0);
        } else {
            out.insert(out.end(), der.begin() + static_cast<long>(p), der.begin() + static_cast<long>(end));
        }
        return end;
    };
    Bytes out;
    walk(0, out);
    return out;
}

// A decoded tree released at scope exit.
template <class T>
class Tree : public ostrel::AsnTree<T> {
  public:
    Tree(const Bytes &der, int pdu) : ostrel::AsnTree<T>(pdu) {
        BIN in{static_cast<unsigned int>(der.size()), const_cast<unsigned char *>(der.data())};
        this->decode(&in);
    }
};

class AsnTest : public ::testing::Test {
  protected:
    void SetUp() override {
        QRT_Trace_Initialize();
        QRT_Trace_ClearError();
    }
    void TearDown() override { QRT_Trace_ClearError(); }
};

}  // namespace asn_test
