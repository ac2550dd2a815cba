// The time-stamp client against a real TSA (openssl ts -reply behind a loopback record server):
// granted tokens from RSA and ECDSA signers with SHA-1 and SHA-256 digests, our requests as
// openssl reads them, and the answers a client must refuse (refusals, tampered tokens, other
// requests' tokens, a look-alike TSA, tokens nothing can check, silent TSAs), with every output
// left empty on failure.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "ostrel/asn_tree.hpp"
#include "ostrel/der_build.hpp"
#include "ostrel/loopback_server.hpp"
#include "ostrel/test_support.hpp"
#include "ostrel/tlv.hpp"
#include "suite_asn.h"
#include "suite_tsp.h"

namespace {

using Bytes = std::vector<unsigned char>;
using ostrel::test::LoopbackServer;
using ostrel::test::OutBin;
using ostrel::test::read_file;
using ostrel::test::run;
using ostrel::test::TempDir;
using ostrel::test::trace_field;
using ostrel::test::trace_records;
using ostrel::test::trace_text;
using ostrel::test::write_file;
namespace der = ostrel::test::der;

BIN view(const Bytes &b) { return BIN{static_cast<unsigned>(b.size()), const_cast<unsigned char *>(b.data())}; }
Bytes bytes_of(const std::string &s) { return Bytes(s.begin(), s.end()); }

size_t find(const Bytes &hay, const Bytes &needle) {
    auto it = std::search(hay.begin(), hay.end(), needle.begin(), needle.end());
    return it == hay.end() ? std::string::npos : static_cast<size_t>(it - hay.begin());
}

struct Info {
    ZQ_TSP_TSTInfo t{};
    ~Info() { QRT_TSP_TSTInfo_Reset(&t); }
    bool empty() const { return !t.hashID && !t.hashedMessage.value && !t.genTime && !t.noncePresent && !t.nonce; }
};

// One exchange with its outputs.
struct Stamp {
    Info info;
    OutBin request, response, cert;
    int rc = -1;
    bool outputs_empty() const { return info.empty() && request.empty() && response.empty() && cert.empty(); }
};

// A small PKI and a TSA: a CA, an RSA and an ECDSA TSA it issued (critical timeStamping key
// usage), and a self-signed look-alike of the RSA TSA; tsa.cnf has one section per TSA setup.
class Tsa : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!ostrel::test::have_command("openssl")) GTEST_SKIP() << "no openssl";
        QRT_Trace_Initialize();
        const std::string d = dir_.path();
        std::string ext =
            "extendedKeyUsage=critical,timeStamping\nbasicConstraints=CA:FALSE\n"
            "subjectKeyIdentifier=hash\nauthorityKeyIdentifier=keyid\n";
        write_file(dir_ / "ext.cnf", ext);
        const std::string ec = "-newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes";
        const std::string cmds[] = {
            "openssl req -x509 " + ec + " -keyout ca.key -out ca.pem -subj '/CN=Test TSA Root' -days 2",
            "openssl req -newkey rsa:2048 -nodes -keyout tsa.key -out tsa.csr -subj '/CN=Test TSA'",
            "openssl x509 -req -in tsa.csr -CA ca.pem -CAkey ca.key -set_serial 2 -days 2 -extfile ext.cnf -out "
            "tsa.pem",
            "openssl req " + ec + " -keyout ec.key -out ec.csr -subj '/CN=Test EC TSA'",
            "openssl x509 -req -in ec.csr -CA ca.pem -CAkey ca.key -set_serial 3 -days 2 -extfile ext.cnf -out ec.pem",
            "openssl req -x509 " + ec +
                " -keyout evil.key -out evil.pem -subj '/CN=Test TSA' -days 2 -addext "
                "extendedKeyUsage=critical,timeStamping",
            "openssl x509 -in tsa.pem -outform DER -out tsa.der",
            "openssl x509 -in evil.pem -outform DER -out evil.der",
        };
        for (const std::string &c : cmds) ASSERT_EQ(run("cd " + d + " && " + c + " 2>/dev/null"), 0) << c;
        std::string cnf = "[ tsa ]\ndefault_tsa = rsa\n";
        auto add_section = [&](const std::string &name, const std::string &signer, const std::string &digest,
                               const std::string &digests) {
            cnf += "[ " + name + " ]\nserial = " + d + "/serial\ncrypto_device = builtin\nsigner_cert = " + d + "/" +
                   signer + ".pem\ncerts = " + d + "/ca.pem\nsigner_key = " + d + "/" + signer +
                   ".key\nsigner_digest = " + digest + "\ndefault_policy = 1.2.3.4.1\ndigests = " + digests +
                   "\naccuracy = secs:1, millisecs:500, microsecs:100\ness_cert_id_alg = sha1\n";
        };
        add_section("rsa", "tsa", "sha256", "sha1, sha256");
        add_section("sha1", "tsa", "sha1", "sha1, sha256");
        add_section("ec", "ec", "sha256", "sha1, sha256");
        add_section("nosha1", "tsa", "sha256", "sha256");
        add_section("evil", "evil", "sha256", "sha1, sha256");
        write_file(dir_ / "tsa.cnf", cnf);
        write_file(dir_ / "serial", "01\n");
        tsaDer_ = bytes_of(read_file(dir_ / "tsa.der"));
        evilDer_ = bytes_of(read_file(dir_ / "evil.der"));
        ASSERT_FALSE(tsaDer_.empty());
        ASSERT_TRUE(server_.start(ostrel::test::record_handler([this](const Bytes &q, Bytes &r) {
            r = reply(q, section_.load());
            return !r.empty();
        })));
    }

    // openssl's answer to a query (refusals included), from a TSA section.
    Bytes reply(const Bytes &query, const std::string &sec) {
        write_file(dir_ / "q.tsq", std::string(query.begin(), query.end()));
        std::remove((dir_ / "r.tsr").c_str());
        run("cd " + dir_.path() + " && openssl ts -reply -config tsa.cnf -section " + sec +
            " -queryfile q.tsq -out r.tsr 2>/dev/null");
        return bytes_of(read_file(dir_ / "r.tsr"));
    }

    void stamp(Stamp &s, const std::string &message, const Bytes *tsaCert = nullptr, const char *sec = "rsa") {
        section_ = sec;
        int fd = QRT_Socket_Client("127.0.0.1", server_.port());
        ASSERT_GE(fd, 0);
        Bytes m = bytes_of(message);
        BIN msg = view(m), cert = tsaCert ? view(*tsaCert) : BIN{0, nullptr};
        s.rc = QRT_TSP_Client(&s.info.t, &s.request, &s.response, &s.cert, &msg, tsaCert ? &cert : nullptr, fd);
        QRT_Socket_Close(fd);
    }

    int decode(Info &info, OutBin &cert, const Bytes &response, const Bytes &request, const Bytes *tsaCert = nullptr) {
        BIN r = view(response), q = view(request), c = tsaCert ? view(*tsaCert) : BIN{0, nullptr};
        return QRT_TSP_DecodeResponse(&info.t, &cert, &r, &q, tsaCert ? &c : nullptr);
    }

    std::string openssl_text(const std::string &cmd, const Bytes &in) {
        write_file(dir_ / "in.der", std::string(in.begin(), in.end()));
        std::string out;
        run("cd " + dir_.path() + " && " + cmd + " 2>&1", &out);
        return out;
    }

    // The TSTInfo DER a response's token carries.
    static Bytes tst_of(const Bytes &response) {
        Info i;
        OutBin cert, token, content, signer;
        BIN r = view(response);
        EXPECT_EQ(QRT_TSP_DecodeResponseEx(&i.t, &cert, &token, &r, nullptr, nullptr), 0) << trace_text();
        EXPECT_NE(find(response, token.bytes()), std::string::npos);  // the token as it came
        EXPECT_EQ(QRT_TSP_AsnSigned_Decode(&content, &signer, token.get(), nullptr), 0) << trace_text();
        EXPECT_EQ(signer.bytes(), cert.bytes());
        return content.bytes();
    }

    TempDir dir_;
    LoopbackServer server_;
    Bytes tsaDer_, evilDer_;
    std::atomic<const char *> section_{"rsa"};
};

Bytes sha1(const std::string &m) {
    Bytes in = bytes_of(m);
    BIN i = view(in);
    OutBin o;
    EXPECT_EQ(QRT_CSP_Hash(&o, &i, QRT_CSP_HASH_SHA1), 0);
    return o.bytes();
}

// The nonce openssl prints ("Nonce: 0x..."), or -1.
long long printed_nonce(const std::string &text) {
    size_t p = text.find("Nonce: 0x");
    return p == std::string::npos ? -1 : std::stoll(text.substr(p + 9), nullptr, 16);
}

TEST_F(Tsa, GrantedTokenCarriesImprintNonceAccuracyTimeAndSigner) {
    Stamp s;
    stamp(s, "the message to stamp");
    ASSERT_EQ(s.rc, 0) << trace_text();
    const ZQ_TSP_TSTInfo &t = s.info.t;
    EXPECT_EQ(t.hashID, QRT_TSP_HASH_SHA1);
    EXPECT_EQ(Bytes(t.hashedMessage.value, t.hashedMessage.value + t.hashedMessage.length),
              sha1("the message to stamp"));
    EXPECT_LE(std::llabs(static_cast<long long>(t.genTime - time(nullptr))), 60);
    EXPECT_EQ(t.accuracyPresent, 1);
    EXPECT_EQ(t.seconds, 1);
    EXPECT_EQ(t.millis, 500);
    EXPECT_EQ(t.micros, 100);
    EXPECT_EQ(s.cert.bytes(), tsaDer_);

    // our request as openssl reads it: sha1, our nonce (the one the token echoes), certReq
    std::string text = openssl_text("openssl ts -query -in in.der -text", s.request.bytes());
    EXPECT_NE(text.find("Hash Algorithm: sha1"), std::string::npos) << text;
    EXPECT_NE(text.find("Certificate required: yes"), std::string::npos) << text;
    ASSERT_EQ(t.noncePresent, 1);
    EXPECT_GE(t.nonce, 0);
    EXPECT_EQ(printed_nonce(text), t.nonce) << text;
    write_file(dir_ / "theirs.tsr", std::string(s.response.b.value, s.response.b.value + s.response.b.length));
    EXPECT_NE(openssl_text("openssl ts -verify -queryfile in.der -in theirs.tsr -CAfile ca.pem -untrusted tsa.pem",
                           s.request.bytes())
                  .find("Verification: OK"),
              std::string::npos);

    // with the TSA's certificate at hand the client asks for none, and checks against it
    Stamp k;
    stamp(k, "the message to stamp", &tsaDer_);
    ASSERT_EQ(k.rc, 0) << trace_text();
    EXPECT_NE(openssl_text("openssl ts -query -in in.der -text", k.request.bytes()).find("Certificate required: no"),
              std::string::npos);
    EXPECT_EQ(k.cert.bytes(), tsaDer_);
    EXPECT_NE(k.info.t.nonce, t.nonce);

    // the TSTInfo read on its own against the request gives the same record
    Bytes tst = tst_of(s.response.bytes());
    BIN c = view(tst);
    Info direct;
    ASSERT_EQ(QRT_TSP_AsnTSTInfo_Decode(&direct.t, &c, s.request.get()), 0) << trace_text();
    EXPECT_EQ(direct.t.nonce, t.nonce);
    EXPECT_EQ(direct.t.genTime, t.genTime);
}

TEST_F(Tsa, SignersOfEveryKindAndTheAlgorithmsTheTsaRefuses) {
    // rsaEncryption with the hash named by digestAlgorithm (SHA-1 and SHA-256), and ECDSA
    for (const char *sec : {"sha1", "rsa", "ec"}) {
        Stamp s;
        stamp(s, "every signer", nullptr, sec);
        EXPECT_EQ(s.rc, 0) << sec << "\n" << trace_text();
    }
    Stamp s;
    QRT_Trace_ClearError();
    stamp(s, "no sha-1 here", nullptr, "nosha1");
    EXPECT_EQ(s.rc, QRT_TSP_REJECTED_BAD_ALG);
    EXPECT_TRUE(s.outputs_empty());
    auto records = trace_records();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(trace_field(records.back(), 2), "QRT_TSP_Client");
    EXPECT_EQ(trace_field(records.back(), 3), "38081");
}

TEST_F(Tsa, HostileAndForeignAnswersAreRefusedWithEmptyOutputs) {
    Stamp s, k, evil, evilCerts;
    stamp(s, "original message");
    stamp(k, "original message", &tsaDer_);  // a token without certificates
    stamp(evil, "original message", &tsaDer_, "evil");
    stamp(evilCerts, "original message", nullptr, "evil");
    ASSERT_EQ(s.rc, 0) << trace_text();
    ASSERT_EQ(k.rc, 0) << trace_text();
    EXPECT_EQ(evil.rc, QRT_TSP_BAD_CERT);
    EXPECT_TRUE(evil.outputs_empty());
    // without a certificate of its own the caller is handed the look-alike's to judge
    ASSERT_EQ(evilCerts.rc, 0);
    EXPECT_EQ(evilCerts.cert.bytes(), evilDer_);

    const Bytes resp = s.response.bytes(), req = s.request.bytes();
    auto patched = [&](const Bytes &from, size_t at, unsigned char value) {
        Bytes b = from;
        b.at(at) = value;
        return b;
    };
    // granted -> grantedWithMods: the status INTEGER right after the two SEQUENCE headers
    size_t status = find(resp, Bytes{0x30, 0x03, 0x02, 0x01, 0x00});
    ASSERT_NE(status, std::string::npos);
    // a refusal for a request of version 2 (badRequest), and its failInfo with badAlg added
    Bytes v2 = req;
    v2.at(find(v2, Bytes{0x02, 0x01, 0x01}) + 2) = 0x02;
    const Bytes badRequest = reply(v2, "rsa");
    size_t bits = find(badRequest, Bytes{0x03, 0x02, 0x05, 0x20});
    ASSERT_NE(bits, std::string::npos);
    Bytes twoBits = patched(badRequest, bits + 3, 0xA0);
    // granted without a token: the status alone
    Bytes bare = der::seq({der::seq({der::integer({0x00})})});
    // another request: the same message with another nonce, another message
    Stamp other;
    stamp(other, "another message");
    const Bytes tst = tst_of(resp);
    size_t tstAt = find(resp, tst);
    ASSERT_NE(tstAt, std::string::npos);

    struct Case {
        const char *what;
        Bytes response, request;
        const Bytes *tsaCert;
        int code;
    };
    const Case cases[] = {
        {"grantedWithMods", patched(resp, status + 4, 0x01), req, nullptr, QRT_TSP_REJECTED},
        {"badRequest", badRequest, req, nullptr, QRT_TSP_REJECTED_BAD_REQUEST},
        {"badAlg and badRequest", twoBits, req, nullptr, QRT_TSP_REJECTED},
        {"granted without token", bare, req, nullptr, QRT_TSP_NO_TIMESTAMP_TOKEN},
        {"another request's nonce", resp, k.request.bytes(), nullptr, QRT_TSP_INVALID_NONCE},
        {"another message", resp, other.request.bytes(), nullptr, QRT_TSP_INVALID_MESSAGE_HASH},
        {"flipped signature byte", patched(resp, resp.size() - 1, resp.back() ^ 0x01), req, nullptr,
         QRT_TSP_INVALID_SIGNEDDATA},
        {"flipped TSTInfo byte", patched(resp, tstAt + tst.size() - 1, tst.back() ^ 0x01), req, nullptr,
         QRT_TSP_INVALID_SIGNEDDATA},
        {"no certificate anywhere", k.response.bytes(), k.request.bytes(), nullptr, QRT_TSP_NO_CERT},
        {"look-alike signer, its certificate embedded", evilCerts.response.bytes(), evilCerts.request.bytes(), &tsaDer_,
         QRT_TSP_BAD_CERT},
        {"another signer's certificate given", resp, req, &evilDer_, QRT_TSP_BAD_CERT},
        {"not a response", req, req, nullptr, QRT_TSP_BAD_RESPONSE},
        {"not a request", resp, resp, nullptr, QRT_TSP_BAD_REQUEST},
    };
    for (const Case &c : cases) {
        QRT_Trace_ClearError();
        Info info;
        OutBin cert;
        EXPECT_EQ(decode(info, cert, c.response, c.request, c.tsaCert), c.code) << c.what;
        EXPECT_TRUE(info.empty() && cert.empty()) << c.what;
        auto records = trace_records();
        ASSERT_FALSE(records.empty()) << c.what;
        EXPECT_EQ(trace_field(records.back(), 2), "QRT_TSP_DecodeResponse") << c.what;
        EXPECT_EQ(trace_field(records.back(), 3), std::to_string(c.code)) << c.what;
    }
    // the untampered answer with the certificate given passes; a token without certificates too
    Info ok;
    OutBin cert;
    EXPECT_EQ(decode(ok, cert, resp, req, &tsaDer_), 0) << trace_text();
    Info ok2;
    OutBin cert2;
    EXPECT_EQ(decode(ok2, cert2, k.response.bytes(), k.request.bytes(), &tsaDer_), 0) << trace_text();
}

// Signed attributes are hashed as they arrived: out of DER order and signed so, they verify;
// reordered without signing again, they do not.
TEST_F(Tsa, SignedAttributesAreCheckedAsReceived) {
    Stamp s;
    stamp(s, "attributes");
    ASSERT_EQ(s.rc, 0) << trace_text();
    Bytes resp = s.response.bytes();
    // find the signer's [0] attributes and signature through the ASN.1 layer's view
    BIN r = view(resp);
    ostrel::AsnTree<TimeStampResp> tr(TimeStampResp_PDU);
    ASSERT_EQ(tr.decode(&r), 0);
    ostrel::AsnTree<SignedDataWire> sd(SignedDataWire_PDU);
    ASSERT_EQ(sd.decode(&tr->timeStampToken.content), 0);
    ostrel::AsnTree<SignerInfoWire> si(SignerInfoWire_PDU);
    ASSERT_EQ(si.decode(&sd->signerInfos->value), 0);
    Bytes attrs(si->signedAttrs_encoded.value, si->signedAttrs_encoded.value + si->signedAttrs_encoded.length);
    Bytes sig(si->signature.value, si->signature.value + si->signature.length);
    size_t attrsAt = find(resp, attrs), sigAt = find(resp, sig);
    ASSERT_NE(attrsAt, std::string::npos);
    ASSERT_NE(sigAt, std::string::npos);

    // the same attributes in reverse order (same length), then signed over with the SET tag
    using namespace ostrel;
    Reader all(attrs.data(), attrs.size()), body;
    ASSERT_EQ(tlv::read_tlv(all, 0xA0, body), tlv::kOk);
    std::vector<Bytes> elems;
    while (!body.empty()) {
        uint8_t tag = 0;
        Reader c, whole;
        ASSERT_EQ(tlv::read_any(body, tag, c, &whole), tlv::kOk);
        elems.emplace_back(whole.data(), whole.data() + whole.remaining());
    }
    ASSERT_GE(elems.size(), 3u);
    size_t header = attrs.size();
    for (const Bytes &e : elems) header -= e.size();
    Bytes reordered(attrs.begin(), attrs.begin() + static_cast<long>(header));
    for (auto it = elems.rbegin(); it != elems.rend(); ++it) reordered.insert(reordered.end(), it->begin(), it->end());
    ASSERT_EQ(reordered.size(), attrs.size());
    std::copy(reordered.begin(), reordered.end(), resp.begin() + static_cast<long>(attrsAt));

    Info info;
    OutBin cert;
    EXPECT_EQ(decode(info, cert, resp, s.request.bytes()), QRT_TSP_INVALID_SIGNEDDATA);

    FILE *f = std::fopen((dir_ / "tsa.key").c_str(), "r");
    ASSERT_NE(f, nullptr);
    EVP_PKEY *key = PEM_read_PrivateKey(f, nullptr, nullptr, nullptr);
    std::fclose(f);
    ASSERT_NE(key, nullptr);
    Bytes tbs = reordered;
    tbs[0] = 0x31;
    EVP_MD_CTX *md = EVP_MD_CTX_new();
    size_t n = sig.size();
    Bytes fresh(n);
    ASSERT_EQ(EVP_DigestSignInit(md, nullptr, EVP_sha256(), nullptr, key), 1);
    ASSERT_EQ(EVP_DigestSign(md, fresh.data(), &n, tbs.data(), tbs.size()), 1);
    EVP_MD_CTX_free(md);
    EVP_PKEY_free(key);
    ASSERT_EQ(n, sig.size());
    std::copy(fresh.begin(), fresh.end(), resp.begin() + static_cast<long>(sigAt));
    Info info2;
    OutBin cert2;
    EXPECT_EQ(decode(info2, cert2, resp, s.request.bytes()), 0) << trace_text();
}

// Tokens signed by other means: openssl cms around a TSTInfo, with and without the TSTInfo
// content type, in DER and in BER (and without a signingCertificate attribute: the embedded
// signer is used).
TEST_F(Tsa, ContentTypeOfTheTokenMustBeTstInfo) {
    Stamp s;
    stamp(s, "cms token");
    ASSERT_EQ(s.rc, 0) << trace_text();
    const Bytes req = s.request.bytes(), tst = tst_of(s.response.bytes());
    write_file(dir_ / "tst.der", std::string(tst.begin(), tst.end()));
    struct Variant {
        const char *type, *options;
        int code;
    };
    // DER; BER as streamed (indefinite lengths, the content as a constructed OCTET STRING)
    for (const Variant &v :
         {Variant{"1.2.840.113549.1.9.16.1.4", "", 0}, Variant{"1.2.840.113549.1.9.16.1.4", "-stream", 0},
          Variant{"1.2.3.4", "", QRT_TSP_INVALID_CONTENT_TYPE}}) {
        ASSERT_EQ(run("cd " + dir_.path() + " && openssl cms -sign -binary -nodetach " + v.options +
                      " -in tst.der -econtent_type " + v.type +
                      " -signer tsa.pem -inkey tsa.key -md sha256 -outform DER -out cms.der 2>/dev/null"),
                  0);
        Bytes wrapped = der::seq({der::seq({der::integer({0x00})}), bytes_of(read_file(dir_ / "cms.der"))});
        Info info;
        OutBin c;
        EXPECT_EQ(decode(info, c, wrapped, req), v.code) << v.type << " " << v.options << "\n" << trace_text();
    }
}

// A request made by openssl (a 64-bit nonce) is matched as an INTEGER; the record cannot hold it.
TEST_F(Tsa, RequestsMadeElsewhere) {
    write_file(dir_ / "msg.txt", "made elsewhere");
    ASSERT_EQ(run("cd " + dir_.path() + " && openssl ts -query -data msg.txt -sha1 -cert -out q2.tsq 2>/dev/null"), 0);
    Bytes q = bytes_of(read_file(dir_ / "q2.tsq"));
    Bytes resp = reply(q, "rsa");
    Info info;
    OutBin cert;
    ASSERT_EQ(decode(info, cert, resp, q), 0) << trace_text();
    EXPECT_EQ(info.t.noncePresent, 1);
    EXPECT_EQ(info.t.nonce, 0);
}

TEST(TspClient, SilentOrClosingTsaAndDeadSocket) {
    // closes without answering
    LoopbackServer closing;
    ASSERT_TRUE(closing.start(ostrel::test::record_handler([](const Bytes &, Bytes &) { return false; })));
    // reads the query and stays silent
    LoopbackServer silent;
    ASSERT_TRUE(silent.start([&silent](int) {
        while (!silent.stopping()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }));
    Bytes m = bytes_of("message");
    BIN msg = view(m);
    for (LoopbackServer *srv : {&closing, &silent}) {
        int fd = QRT_Socket_ClientEx("127.0.0.1", srv->port(), 1);
        ASSERT_GE(fd, 0);
        Stamp s;
        auto start = std::chrono::steady_clock::now();
        s.rc = QRT_TSP_Client(&s.info.t, &s.request, &s.response, &s.cert, &msg, nullptr, fd);
        QRT_Socket_Close(fd);
        EXPECT_EQ(s.rc, QRT_TSP_SOCKET_READ_FAILED);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
        EXPECT_TRUE(s.outputs_empty());
    }
    Stamp s;
    EXPECT_EQ(QRT_TSP_Client(&s.info.t, &s.request, &s.response, &s.cert, &msg, nullptr, -1),
              QRT_TSP_SOCKET_WRITE_FAILED);
    BIN empty{0, nullptr};
    EXPECT_EQ(QRT_TSP_Client(&s.info.t, &s.request, &s.response, &s.cert, &empty, nullptr, -1), QRT_TSP_INVALID_INPUT);
    EXPECT_TRUE(s.outputs_empty());
}

TEST(TspRequest, EncodedAsOpenSSLReadsIt) {
    Bytes digest(16, 0xAB);
    ZQ_TSP_Request q{};
    q.hashID = QRT_TSP_HASH_MD5;
    q.hashedMessage = view(digest);
    q.nonceAttach = 1;
    q.nonce = 0x00800000;  // a leading zero octet keeps it positive
    q.extName = "name";
    q.extValue = "value";
    OutBin out;
    ASSERT_EQ(QRT_TSP_EncodeRequest(&out, &q), 0);
    Bytes b = out.bytes();
    EXPECT_NE(find(b, Bytes{0x02, 0x04, 0x00, 0x80, 0x00, 0x00}), std::string::npos);
    EXPECT_EQ(find(b, Bytes{0x01, 0x01, 0xFF}), std::string::npos);  // certReq FALSE is left out
    EXPECT_NE(find(b, der::seq({der::tlv(0x06, {0x55, 0x04, 0x04}), der::text(0x04, "name$value")})),
              std::string::npos);
    TempDir d;
    write_file(d / "q.der", std::string(b.begin(), b.end()));
    std::string text;
    ASSERT_EQ(run("openssl ts -query -in " + (d / "q.der") + " -text 2>/dev/null", &text), 0);
    EXPECT_NE(text.find("Hash Algorithm: md5"), std::string::npos) << text;
    EXPECT_EQ(printed_nonce(text), 0x00800000) << text;

    q.hashID = 3;
    OutBin refused;
    EXPECT_EQ(QRT_TSP_EncodeRequest(&refused, &q), QRT_TSP_UNKNOWN_HASHID);
    EXPECT_TRUE(refused.empty());
}

TEST(TspFrame, VersionAndTexts) {
    EXPECT_STREQ(QRT_TSP_GetVersion(), "1.5.2.3");
    EXPECT_EQ(QRT_TSP_CheckVersion("1.5.2.3"), 0);
    EXPECT_EQ(QRT_TSP_CheckVersion("1.5.2.4"), -1);
    EXPECT_STREQ(QRT_TSP_GetErrorReason(QRT_TSP_NO_TIMESTAMP_TOKEN, 1), "no timestamp tocken");
    EXPECT_STREQ(QRT_TSP_GetErrorReason(6012, 1), QRT_CSP_GetErrorReason(6012, 1));
    EXPECT_STREQ(QRT_TSP_GetErrorReason(35001, 1), "");
}

}  // namespace
