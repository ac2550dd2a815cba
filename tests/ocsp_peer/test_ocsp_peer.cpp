// The whole exchange over HTTP against `openssl ocsp` serving on a loopback port, one responder
// process per signer. The responder binds every address and serves one connection at a time;
// it is ready when its log shows "ACCEPT" (probing the port would leave it spinning on a
// connection closed without a request).
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "ocsp_pki.hpp"
#include "ostrel/peer_process.hpp"
#include "ostrel/test_support.hpp"

namespace {

using namespace ocsp_test;
using ostrel::test::OutBin;
using ostrel::test::PeerProcess;

const Pki &pki() {
    static Pki p;
    return p;
}

class Responder {
  public:
    // Starts `openssl ocsp` with the signer options; false when it does not come up.
    bool start(const std::string &signer) {
        port_ = ostrel::test::free_loopback_port();
        std::vector<std::string> argv{"openssl", "ocsp", "-index", "index.txt", "-CA", "ca.pem"};
        std::istringstream words(signer);
        for (std::string w; words >> w;) argv.push_back(w);
        for (const char *w : {"-port", "", "-timeout", "5"}) argv.push_back(w);
        argv[argv.size() - 3] = std::to_string(port_);
        log_ = pki().path("responder-" + std::to_string(port_) + ".log");
        return port_ > 0 && proc_.start(argv, log_, pki().path("")) && proc_.wait_log("ACCEPT");
    }
    std::string log() const { return proc_.log_text(); }

    // One exchange of QRT_OCSP_Client over HTTP; serverCert names a certificate of the PKI.
    int ask(Resp &resp, OutBin &q, OutBin &a, const ZQ_OCSP_Request &r, const char *serverCert) {
        Bytes server = serverCert ? pki().der(serverCert) : Bytes();
        BIN s = bin(server);
        std::string url = "http://127.0.0.1:" + std::to_string(port_) + "/";
        ZQ_OCSP_ClientParam p{};
        p.serverCert = serverCert ? &s : nullptr;
        p.useHTTP = 1;
        p.proxyURL = url.data();
        int fd = QRT_Socket_ClientEx("127.0.0.1", port_, 5);
        int rc = QRT_OCSP_Client(&resp.r, &q, &a, &r, &p, fd);
        QRT_Socket_Close(fd);
        return rc;
    }

  private:
    PeerProcess proc_;
    int port_ = -1;
    std::string log_;
};

bool contains(const Bytes &hay, const Bytes &needle) {
    return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

TEST(OcspPeer, StatusesOverHttp) {
    ASSERT_TRUE(pki().ok());
    Responder responder;
    ASSERT_TRUE(responder.start("-rsigner ca.pem -rkey ca.key -nmin 60")) << responder.log();
    Req r(pki(), {"ee1", "ee2", "unknown"});
    Resp resp;
    OutBin q, a;
    ASSERT_EQ(responder.ask(resp, q, a, r.r, "ca"), 0) << responder.log();
    auto s = resp.singles();
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(s[0]->certStatus, QRT_OCSP_STATUS_GOOD);
    EXPECT_EQ(s[1]->certStatus, QRT_OCSP_STATUS_REVOKED);
    EXPECT_EQ(s[1]->revoked.revocationReason, 1);  // keyCompromise
    EXPECT_EQ(s[1]->revoked.revocationTime, pki().revocation_time());
    EXPECT_EQ(s[2]->certStatus, QRT_OCSP_STATUS_UNKNOWN);
    for (auto *one : s) EXPECT_EQ(one->nextUpdate, one->thisUpdate + 3600);
    const char *names[] = {"ee1", "ee2", "unknown"};
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(cert_id_text(s[i]->certID), pki().python_cert_id(names[i]));
    ASSERT_TRUE(resp.r.cert);
    EXPECT_EQ(bytes(*resp.r.cert), pki().der("ca"));
    EXPECT_EQ(to_hex(resp.r.responderKeyID.value, resp.r.responderKeyID.length), pki().python_key_hash("ca"));
    // the responder echoed our nonce extnValue (04 14 and 20 octets, the request's last 22)
    Bytes req = q.bytes();
    EXPECT_TRUE(contains(a.bytes(), Bytes(req.end() - 22, req.end())));
}

TEST(OcspPeer, ResponderSigners) {
    ASSERT_TRUE(pki().ok());
    const Bytes sha1Rsa{0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x01, 0x05};
    const Bytes sha256Rsa{0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x01, 0x0b};
    const Bytes pss{0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x01, 0x0a};
    const Bytes ecdsa256{0x2a, 0x86, 0x48, 0xce, 0x3d, 0x04, 0x03, 0x02};
    struct Case {
        const char *signer;
        const char *serverCert;
        const char *responder;   // the certificate the response must carry
        const Bytes &algorithm;  // the signature algorithm it must use
    } cases[] = {
        {"-rsigner rsp.pem -rkey rsp.key -resp_key_id", "ca", "rsp", sha256Rsa},
        {"-rsigner rsp.pem -rkey rsp.key -resp_key_id", nullptr, "rsp", sha256Rsa},
        {"-rsigner ca.pem -rkey ca.key -rmd sha1", "ca", "ca", sha1Rsa},
        {"-rsigner rspec.pem -rkey rspec.key", "ca", "rspec", ecdsa256},
        {"-rsigner ca.pem -rkey ca.key -rsigopt rsa_padding_mode:pss", "ca", "ca", pss},
    };
    for (const Case &c : cases) {
        Responder responder;
        ASSERT_TRUE(responder.start(c.signer)) << responder.log();
        Req r(pki(), {"ee1"});
        Resp resp;
        OutBin q, a;
        ASSERT_EQ(responder.ask(resp, q, a, r.r, c.serverCert), 0) << c.signer << "\n" << responder.log();
        EXPECT_TRUE(contains(a.bytes(), c.algorithm)) << c.signer;
        auto s = resp.singles();
        ASSERT_EQ(s.size(), 1u);
        EXPECT_EQ(s[0]->certStatus, QRT_OCSP_STATUS_GOOD);
        EXPECT_EQ(s[0]->nextUpdate, 0) << "no -nmin: no nextUpdate";
        ASSERT_TRUE(resp.r.cert);
        EXPECT_EQ(bytes(*resp.r.cert), pki().der(c.responder)) << c.signer;
        EXPECT_EQ(to_hex(resp.r.responderKeyID.value, resp.r.responderKeyID.length),
                  pki().python_key_hash(c.responder));
    }
}

}  // namespace
