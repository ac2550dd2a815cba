// Round trips of real objects and the engine's answers to broken and hostile encodings.
#include <gtest/gtest.h>

#include <dirent.h>

#include <string>
#include <vector>

#include "ostrel/test_support.hpp"
#include "suite_asn.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes read_bytes(const std::string &path) {
    std::string s = ostrel::test::read_file(path);
    return Bytes(s.begin(), s.end());
}

// DER of every file in a directory that openssl can read as a certificate (PEM or DER).
std::vector<std::pair<std::string, Bytes>> certificates_in(const std::string &dir, const char *kind = "x509") {
    std::vector<std::pair<std::string, Bytes>> out;
    DIR *d = opendir(dir.c_str());
    if (!d) return out;
    ostrel::test::TempDir tmp;
    while (dirent *e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        std::string path = dir + "/" + name;
        std::string der = tmp / "out.der";
        std::string cmd = std::string("openssl ") + kind + " -in '" + path + "' -outform DER -out " + der + " 2>/dev/null";
        if (ostrel::test::run(cmd) != 0)
            cmd = std::string("openssl ") + kind + " -inform DER -in '" + path + "' -outform DER -out " + der + " 2>/dev/null";
        if (ostrel::test::run(cmd) != 0) continue;
        out.emplace_back(name, read_bytes(der));
    }
    closedir(d);
    return out;
}

void expect_round_trip(const Bytes &der, int pdu, const std::string &what) {
    BIN in{static_cast<unsigned int>(der.size()), const_cast<unsigned char *>(der.data())};
    void *tree = nullptr;
    ASSERT_EQ(QRT_ASN_DecodePDU(&tree, &in, pdu), 0) << what << "\n" << [] {
        std::string s;
        for (auto &r : ostrel::test::trace_records()) s += r + "\n";
        return s;
    }();
    BIN out{0, nullptr};
    ASSERT_EQ(QRT_ASN_EncodePDU(&out, tree, pdu), 0) << what;
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

class AsnTest : public ::testing::Test {
  protected:
    void SetUp() override {
        QRT_Trace_Initialize();
        QRT_Trace_ClearError();
    }
};

TEST_F(AsnTest, SystemRootCertificatesRoundTrip) {
    auto certs = certificates_in("/usr/share/ca-certificates/mozilla");
    ASSERT_GT(certs.size(), 50u) << "ca-certificates is not installed";
    for (auto &[name, der] : certs) expect_round_trip(der, Certificate_PDU, name);
}

}  // namespace
