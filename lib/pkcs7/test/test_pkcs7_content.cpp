// The content layer and the identifier tables: what a content's digest covers (including BER
// from streaming peers), the signer identifiers each (alg id, digest id) writes, the
// IssuerAndSerialNumber read off a certificate's bytes, and the error texts.
#include <gtest/gtest.h>

#include "asn_test_util.hpp"
#include "ostrel/der_build.hpp"
#include "ostrel/test_support.hpp"
#include "suite_csp.h"
#include "suite_pkcs7.h"

namespace {

using asn_test::Bytes;
using asn_test::view;
using ostrel::test::from_hex;
using ostrel::test::to_hex;
using ostrel::test::der::seq;
using ostrel::test::der::tlv;

using Out = ostrel::test::OutBin;
std::string hex(const Out &o) { return to_hex(o.b.value, o.b.length); }

struct Content {
    ZQ_PKCS7_CONTENT c{};
    ~Content() { QRT_PKCS7_Content_Reset(&c); }
};

const Bytes kIdData = from_hex("06092a864886f70d010701");

Bytes content_info(const Bytes &type, const Bytes &value) { return seq({type, tlv(0xA0, value)}); }

std::string digest_message(const Bytes &contentInfo) {
    Content c;
    BIN in = view(contentInfo);
    EXPECT_EQ(QRT_PKCS7_Content_Decode(&c.c, &in), 0) << ostrel::test::trace_text();
    Out m;
    EXPECT_EQ(QRT_PKCS7_Content_GetDigestMessage(&m, &c.c), 0) << ostrel::test::trace_text();
    return std::string(m.b.value, m.b.value + m.b.length);
}

}  // namespace

// The digest covers the value's octets however the sender framed them: a definite OCTET STRING,
// the same streamed (indefinite, constructed, in pieces), or a non-string value in BER.
TEST(Pkcs7Content, DigestMessageOfEveryFraming) {
    const std::string text = "The quick brown fox jumps over the lazy dog";
    Bytes octets(text.begin(), text.end());
    Bytes der = content_info(kIdData, tlv(0x04, octets));
    EXPECT_EQ(digest_message(der), text);
    EXPECT_EQ(digest_message(asn_test::to_ber(der)), text);
    // three pieces, the indefinite [0] and ContentInfo as a streaming signer writes them
    Bytes pieces = {0x30, 0x80};
    pieces.insert(pieces.end(), kIdData.begin(), kIdData.end());
    for (unsigned char b : {0xA0, 0x80, 0x24, 0x80}) pieces.push_back(b);
    for (size_t at = 0; at < octets.size(); at += 17) {
        size_t n = std::min<size_t>(17, octets.size() - at);
        pieces.push_back(0x04);
        pieces.push_back(static_cast<unsigned char>(n));
        pieces.insert(pieces.end(), octets.begin() + static_cast<long>(at), octets.begin() + static_cast<long>(at + n));
    }
    for (int i = 0; i < 6; ++i) pieces.push_back(0);
    EXPECT_EQ(digest_message(pieces), text);
    // a SEQUENCE value in BER is digested over its DER contents, never over nothing
    Bytes inner = seq({tlv(0x02, {0x05}), tlv(0x04, octets)});
    Bytes ber_inner = asn_test::to_ber(inner);
    Bytes ci = content_info(from_hex("06092a864886f70d010702"), ber_inner);
    EXPECT_EQ(digest_message(ci), std::string(inner.begin() + 2, inner.end()));

    // a record built by hand with a BER value gets the same treatment
    ZQ_PKCS7_CONTENT hand{QRT_PKCS7_DATA, nullptr};
    Bytes ber_value = asn_test::to_ber(tlv(0x04, octets));
    BIN v = view(ber_value);
    hand.value = &v;
    Out m;
    ASSERT_EQ(QRT_PKCS7_Content_GetDigestMessage(&m, &hand), 0);
    EXPECT_EQ(std::string(m.b.value, m.b.value + m.b.length), text);
    Out md, expect;
    ASSERT_EQ(QRT_PKCS7_Content_ComputeDigest(&md, &hand, QRT_PKCS7_SHA256), 0);
    BIN t = view(octets);
    ASSERT_EQ(QRT_CSP_Hash(&expect, &t, QRT_CSP_HASH_SHA256), 0);
    EXPECT_EQ(hex(md), hex(expect));
    EXPECT_EQ(QRT_PKCS7_Content_VerifyDigest(&hand, QRT_PKCS7_SHA256, &md.b), 0);
    md.b.value[0] ^= 1;
    EXPECT_EQ(QRT_PKCS7_Content_VerifyDigest(&hand, QRT_PKCS7_SHA256, &md.b), QRT_PKCS7_INVALID_DIGEST);
    Out none;
    EXPECT_EQ(QRT_PKCS7_Content_ComputeDigest(&none, &hand, 4), QRT_PKCS7_UNKNOWN_DIGESTID);
}

TEST(Pkcs7Content, ContentInfoAndData) {
    Content c;
    Bytes unknown = content_info(from_hex("06032a0304"), tlv(0x04, {1}));
    BIN in = view(unknown);
    EXPECT_EQ(QRT_PKCS7_Content_Decode(&c.c, &in), QRT_PKCS7_UNKNOWN_TYPEID);
    Bytes broken = {0x30, 0x05, 0x06, 0x01};
    in = view(broken);
    EXPECT_EQ(QRT_PKCS7_Content_Decode(&c.c, &in), QRT_PKCS7_BAD_CONTENT_INFO);
    EXPECT_EQ(c.c.value, nullptr);
    // a content without value has nothing to digest
    Bytes bare = seq({kIdData});
    in = view(bare);
    ASSERT_EQ(QRT_PKCS7_Content_Decode(&c.c, &in), 0);
    EXPECT_EQ(c.c.typeID, QRT_PKCS7_DATA);
    Out m;
    EXPECT_EQ(QRT_PKCS7_Content_GetDigestMessage(&m, &c.c), QRT_PKCS7_NO_CONTENT);

    for (const std::string &payload : {std::string(), std::string("x"), std::string(70000, 'q')}) {
        Bytes data(payload.begin(), payload.end());
        BIN d = view(data);
        Out wrapped, back;
        ASSERT_EQ(QRT_PKCS7_EncodeData(&wrapped, &d), 0);
        ASSERT_EQ(QRT_PKCS7_DecodeData(&back, &wrapped.b), 0) << ostrel::test::trace_text();
        EXPECT_EQ(back.bytes(), data);
        Content again;
        ASSERT_EQ(QRT_PKCS7_Content_Decode(&again.c, &wrapped.b), 0);
        Out re;
        ASSERT_EQ(QRT_PKCS7_Content_Encode(&re, &again.c), 0);
        EXPECT_EQ(re.bytes(), wrapped.bytes());
    }
    Out dvcs;
    Bytes one = {1};
    BIN d = view(one);
    EXPECT_EQ(QRT_PKCS7_DVCS_EncodeData(&dvcs, &d, 5), QRT_PKCS7_UNKNOWN_TYPEID);
    ASSERT_EQ(QRT_PKCS7_DVCS_EncodeData(&dvcs, &d, QRT_PKCS7_DVCS_REQUEST), 0);
    EXPECT_NE(hex(dvcs).find("2a864886f70d0109100107"), std::string::npos);
}

// What each signer algorithm writes, and that each reads back to its alg id.
TEST(Pkcs7Content, SignerIdentifierTable) {
    struct Row {
        int alg, digest, hash, sign;
        const char *written;
    };
    const Row rows[] = {
        {1, 3, 3, 3, "300d06092a864886f70d0101010500"},
        {1, 5, 4, 10, "300d06092a864886f70d0101010500"},
        {2, 3, 3, 11, "300d06092a864886f70d01010a3000"},
        {2, 6, 6, 11, nullptr},
        {3, 3, 3, 15, "300906072a8648ce380403"},
        {5, 6, 6, 16, "300a06082a8648ce3d040302"},
        {11, 3, 3, 21, "300a06082a831a8c9a440117"},
        {11, 5, 4, 22, "300a06082a831a8c9a440116"},
        {12, 3, 3, 23, nullptr},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.alg * 1000 + r.digest);
        int hash = 0, sign = 0;
        ASSERT_EQ(QRT_PKCS7_AlgID_TO_SignID(&hash, &sign, r.alg, r.digest), 0);
        EXPECT_EQ(hash, r.hash);
        EXPECT_EQ(sign, r.sign);
        Out der;
        ASSERT_EQ(QRT_PKCS7_AlgID_To_ObjID(&der, r.alg, r.digest), 0) << ostrel::test::trace_text();
        if (r.written) {
            EXPECT_EQ(hex(der), r.written);
        }
        EXPECT_EQ(QRT_PKCS7_ObjID_To_AlgID(&der.b), r.alg);
    }
    // PSS with SHA-256 writes the parameters it uses: hash, MGF1 with it, salt 32
    Out pss;
    ASSERT_EQ(QRT_PKCS7_AlgID_To_ObjID(&pss, 2, 6), 0);
    EXPECT_NE(hex(pss).find("a11c301a06092a864886f70d010108300d0609608648016503040201"), std::string::npos);
    EXPECT_NE(hex(pss).find("a203020120"), std::string::npos);

    int hash = 0, sign = 0;
    EXPECT_EQ(QRT_PKCS7_AlgID_TO_SignID(&hash, &sign, 3, 5), QRT_PKCS7_UNKNOWN_DIGESTID);
    EXPECT_EQ(QRT_PKCS7_AlgID_TO_SignID(&hash, &sign, 4, 3), QRT_PKCS7_UNKNOWN_ALGID);
    EXPECT_EQ(QRT_PKCS7_AlgID_TO_SignID(&hash, &sign, 12, 6), QRT_PKCS7_UNKNOWN_DIGESTID);

    // digests and content encryption both ways; RC2's second name reads as RC2
    for (int d : {1, 2, 3, 5, 6, 7, 8}) EXPECT_EQ(QRT_PKCS7_ObjID_To_DigestID(QRT_PKCS7_DigestID_To_ObjID(d)), d);
    EXPECT_EQ(QRT_PKCS7_DigestID_To_ObjID(4), nullptr);
    EXPECT_EQ(QRT_PKCS7_DigestID_To_HashID(5), QRT_CSP_HASH_HAS160);
    for (int e : {1, 2, 3, 4, 8, 9, 17, 18, 19, 20, 21})
        EXPECT_EQ(QRT_PKCS7_ObjID_To_EncID(QRT_PKCS7_EncID_To_ObjID(e)), e);
    EXPECT_EQ(QRT_PKCS7_ObjID_To_EncID(&rc2CBC), QRT_PKCS7_RC2);
    int key = 0, cipher = 0;
    EXPECT_EQ(QRT_PKCS7_GetEncInfo(&key, &cipher, 5), QRT_PKCS7_UNKNOWN_ENCID);
    ASSERT_EQ(QRT_PKCS7_GetEncInfo(&key, &cipher, QRT_PKCS7_ARIA256), 0);
    EXPECT_EQ(key, 32);
    EXPECT_EQ(cipher, QRT_CSP_CIPHER_ARIA256);
    for (int t : {1, 2, 3, 4, 5, 6, 14, 16, 17, 18, 30, 43, 44})
        EXPECT_EQ(QRT_PKCS7_ObjID_To_TypeID(QRT_PKCS7_TypeID_To_ObjID(t)), t);
}

// The IssuerAndSerialNumber taken off a certificate's bytes equals the one the ASN.1 engine
// writes from the decoded certificate, and the key information comes with it.
TEST(Pkcs7Content, CertificateInfos) {
    Bytes cert = asn_test::file_bytes("../shared/conformance/pkits/certs/GoodCACert.crt");
    ASSERT_FALSE(cert.empty());
    BIN c = view(cert);
    Out isn, key, param;
    int pkey = 0;
    ASSERT_EQ(QRT_PKCS7_Cert_GetInfos(&isn, &pkey, &key, &param, &c), 0) << ostrel::test::trace_text();
    EXPECT_EQ(pkey, QRT_CSP_PKEY_RSA);
    EXPECT_GT(key.b.length, 200u);

    void *tree = nullptr;
    ASSERT_EQ(QRT_ASN_DecodePDU(&tree, &c, Certificate_PDU), 0);
    auto *decoded = static_cast<Certificate *>(tree);
    IssuerAndSerialNumber expect{};
    expect.issuer = decoded->tbsCertificate.issuer;
    expect.serialNumber = decoded->tbsCertificate.serialNumber;
    Out der;
    ASSERT_EQ(QRT_ASN_EncodePDU(&der, &expect, IssuerAndSerialNumber_PDU), 0);
    QRT_ASN_FreePDU(tree, Certificate_PDU);
    EXPECT_EQ(hex(isn), hex(der));

    Bytes junk = {0x30, 0x03, 0x02, 0x01, 0x01};
    BIN j = view(junk);
    Out none;
    EXPECT_EQ(QRT_PKCS7_Cert_GetInfos(&none, nullptr, nullptr, nullptr, &j), QRT_PKCS7_BAD_CERT);
    EXPECT_TRUE(none.empty());
}

TEST(Pkcs7Content, FrameAndTexts) {
    EXPECT_STREQ(QRT_PKCS7_GetVersion(), "1.7.0.1");
    EXPECT_EQ(QRT_PKCS7_CheckVersion("1.7.0.1"), 0);
    EXPECT_EQ(QRT_PKCS7_CheckVersion("1.7.0.2"), -1);
    EXPECT_STREQ(QRT_PKCS7_GetErrorReason(QRT_PKCS7_INVALID_SIGNATURE, 1), "invalid signature");
    EXPECT_STREQ(QRT_PKCS7_GetErrorReason(QRT_PKCS7_NO_MESSAGE_DIGEST_ATTRIB, 1), "no message digest attrib");
    EXPECT_STRNE(QRT_PKCS7_GetErrorReason(QRT_PKCS7_INVALID_SIGNATURE, 0), "");
    EXPECT_STREQ(QRT_PKCS7_GetErrorReason(QRT_CSP_INVALID_SIGNATURE, 1),
                 QRT_CSP_GetErrorReason(QRT_CSP_INVALID_SIGNATURE, 1));
    EXPECT_STREQ(QRT_PKCS7_GetErrorReason(9999, 1), "");
}
