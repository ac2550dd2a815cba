// Sockets and record framing over socketpairs and loopback TCP.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "ostrel/test_support.hpp"
#include "suite_io.h"

using ostrel::test::to_hex;
using ostrel::test::trace_field;
using ostrel::test::trace_records;

namespace {

struct Pair {
    int a = -1, b = -1;
    explicit Pair(int type = SOCK_STREAM) {
        int fds[2];
        if (socketpair(AF_UNIX, type, 0, fds) == 0) {
            a = fds[0];
            b = fds[1];
        }
    }
    ~Pair() {
        if (a >= 0) close(a);
        if (b >= 0) close(b);
    }
};

std::string read_some(int fd, size_t n) {
    std::string s(n, '\0');
    size_t got = 0;
    while (got < n) {
        ssize_t r = read(fd, &s[got], n - got);
        if (r <= 0) break;
        got += (size_t)r;
    }
    s.resize(got);
    return s;
}

int local_port(int fd) {
    sockaddr_in a{};
    socklen_t l = sizeof a;
    getsockname(fd, (sockaddr *)&a, &l);
    return ntohs(a.sin_port);
}

}  // namespace

TEST(IoRecord, WireBytes) {
    Pair p;
    unsigned char abc[] = {0x41, 0x42, 0x43};
    BIN payload{3, abc};
    ASSERT_EQ(QRT_Socket_SendRecord(p.a, 7, &payload), 0);
    std::string wire = read_some(p.b, 8);
    EXPECT_EQ(to_hex(wire.data(), wire.size()), "0000000407414243");

    BIN empty{0, nullptr};
    ASSERT_EQ(QRT_Socket_SendRecord(p.a, 9, &empty), 0);
    int type = -1;
    BIN got{0, nullptr};
    ASSERT_EQ(QRT_Socket_RecvRecord(p.b, &type, &got), 0);
    EXPECT_EQ(type, 9);
    EXPECT_EQ(got.length, 0u);
    EXPECT_EQ(got.value, nullptr);

    ASSERT_EQ(QRT_SendData(p.a, 255, abc, 3), 0);
    unsigned char *data = nullptr;
    int len = 0;
    ASSERT_EQ(QRT_ReadData(p.b, &data, &len), 0);
    EXPECT_EQ(len, 3);
    EXPECT_EQ(std::memcmp(data, abc, 3), 0);
    QRT_free(data);
    EXPECT_EQ(QRT_Socket_SendRecord(p.a, 1, nullptr), 8001);
}

TEST(IoRecord, LengthLimits) {
    QRT_Trace_Initialize();
    for (const char *head : {"0000000001", "000186a201"}) {  // length fields 0 and 100002
        Pair p;
        auto bytes = ostrel::test::from_hex(head);
        bytes.push_back('Z');
        ASSERT_EQ(write(p.a, bytes.data(), bytes.size()), (ssize_t)bytes.size());
        int type;
        BIN got{0, nullptr};
        EXPECT_EQ(QRT_Socket_RecvRecord(p.b, &type, &got), -1) << head;
        EXPECT_EQ(got.value, nullptr);
        EXPECT_EQ(read_some(p.b, 1), "Z") << "nothing past the header is read";
    }
    {
        Pair p;
        std::vector<unsigned char> big(100000, 0x5a);
        BIN payload{(unsigned int)big.size(), big.data()};
        std::thread sender([&] { EXPECT_EQ(QRT_Socket_SendRecord(p.a, 3, &payload), 0); });
        int type;
        BIN got{0, nullptr};
        EXPECT_EQ(QRT_Socket_RecvRecord(p.b, &type, &got), 0) << "length field 100001 is accepted";
        sender.join();
        EXPECT_EQ(got.length, 100000u);
        EXPECT_EQ(QRT_BIN_Cmp(&got, &payload), 0);
        QRT_BIN_Reset(&got);
    }
    trace_records();
    QRT_Trace_Finalize();
}

TEST(IoRecord, PeerClosingMidRecord) {
    QRT_Trace_Initialize();
    Pair p;
    auto bytes = ostrel::test::from_hex("0000000b01616263");  // promises 10 payload bytes, sends 3
    ASSERT_EQ(write(p.a, bytes.data(), bytes.size()), (ssize_t)bytes.size());
    close(p.a);
    p.a = -1;
    int type;
    BIN got{0, nullptr};
    EXPECT_EQ(QRT_Socket_RecvRecord(p.b, &type, &got), 8040);
    EXPECT_EQ(got.value, nullptr);
    auto recs = trace_records();
    ASSERT_FALSE(recs.empty());
    EXPECT_EQ(trace_field(recs.back(), 2), "QRT_Socket_RecvRecord");
    EXPECT_EQ(trace_field(recs.back(), 4), "socket closed");
    QRT_Trace_Finalize();
}

TEST(IoSocket, SendAllUsesPiecesOf2048) {
    Pair p(SOCK_SEQPACKET);  // message boundaries show each send call
    std::vector<unsigned char> data(5000, 1);
    ASSERT_EQ(QRT_Socket_SendAll(p.a, data.data(), 5000), 0);
    std::vector<int> sizes;
    char buf[8192];
    for (int i = 0; i < 3; ++i) sizes.push_back((int)recv(p.b, buf, sizeof buf, 0));
    EXPECT_EQ(sizes, std::vector<int>({2048, 2048, 904}));
    EXPECT_EQ(QRT_Socket_SendAll(p.a, nullptr, 5), 8001);
    EXPECT_EQ(QRT_Socket_SendAll(p.a, data.data(), 0), 0);
}

TEST(IoSocket, LoopbackClientServer) {
    int srv = QRT_Socket_Server(nullptr, 0);
    ASSERT_GT(srv, 0);
    int port = local_port(srv);
    std::string peer;
    std::thread server([&] {
        char addr[16] = {};
        int c = QRT_Socket_Accept(srv, addr);
        peer = addr;
        int type = 0;
        BIN got{0, nullptr};
        if (QRT_Socket_RecvRecord(c, &type, &got) == 0) QRT_Socket_SendRecord(c, type + 1, &got);
        QRT_BIN_Reset(&got);
        QRT_Socket_Close(c);
    });
    int c = QRT_Socket_ClientEx("127.0.0.1", port, 5);
    ASSERT_GT(c, 0);
    std::string msg(70000, 'm');
    BIN payload{(unsigned int)msg.size(), (unsigned char *)msg.data()};
    ASSERT_EQ(QRT_Socket_SendRecord(c, 4, &payload), 0);
    int type = 0;
    BIN back{0, nullptr};
    ASSERT_EQ(QRT_Socket_RecvRecord(c, &type, &back), 0);
    EXPECT_EQ(type, 5);
    EXPECT_EQ(QRT_BIN_Cmp(&back, &payload), 0);
    QRT_BIN_Reset(&back);
    unsigned char *rest = nullptr;
    EXPECT_EQ(QRT_ReadRawData(c, &rest, 1), -1) << "the server closed";
    QRT_Socket_Close(c);
    server.join();
    QRT_Socket_Close(srv);
    EXPECT_EQ(peer, "127.0.0.1");
}

TEST(IoSocket, UnresolvableNameAndRefusedConnection) {
    setenv("RES_OPTIONS", "timeout:1 attempts:1", 1);
    QRT_Trace_Initialize();
    EXPECT_EQ(QRT_Socket_Client("no-such-host.invalid", 80), -1);
    auto recs = trace_records();
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(trace_field(recs[0], 2), "gethostbyname_r");
    EXPECT_EQ(trace_field(recs[1], 2), "QRT_Socket_Client");

    int srv = QRT_Socket_Server(nullptr, 0);
    int port = local_port(srv);
    QRT_Socket_Close(srv);  // nothing listens there any more
    EXPECT_EQ(QRT_Bind("127.0.0.1", port), -1);
    recs = trace_records();
    ASSERT_FALSE(recs.empty());
    EXPECT_EQ(trace_field(recs[0], 2), "connect");
    QRT_Trace_Finalize();
}

TEST(IoSocket, ByteOrder) {
    EXPECT_EQ(QRT_htonl(0x01020304), htonl(0x01020304));
    EXPECT_EQ(QRT_Socket_ntohs(QRT_Socket_htons(0xABCD)), 0xABCD);
    EXPECT_EQ(QRT_ntohl(QRT_htonl(0xDEADBEEF)), 0xDEADBEEFu);
}
