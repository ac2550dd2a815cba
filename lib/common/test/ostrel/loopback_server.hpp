// A small in-process server on a free 127.0.0.1 port for the tests: stubs that answer with canned
// or hostile bytes, and record servers that hand each query to a peer command. Connections are
// served one at a time on a background thread; stop() (and the destructor) ends it.
#pragma once

#include <atomic>
#include <cerrno>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "suite_io.h"

namespace ostrel::test {

class LoopbackServer {
public:
    using Handler = std::function<void(int fd)>;

    LoopbackServer() = default;
    LoopbackServer(const LoopbackServer &) = delete;
    LoopbackServer &operator=(const LoopbackServer &) = delete;
    ~LoopbackServer() { stop(); }

    // Listens on a free loopback port; each accepted connection goes to handler, which owns the
    // exchange (the server closes the socket after it returns). False when the socket fails.
    bool start(Handler handler) {
        stop();
        listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (listen_fd_ < 0) return false;
        int one = 1;
        ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(listen_fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(listen_fd_, 16) != 0 ||
            ::getsockname(listen_fd_, reinterpret_cast<sockaddr *>(&a), &len) != 0) {
            ::close(listen_fd_);
            listen_fd_ = -1;
            return false;
        }
        port_ = ntohs(a.sin_port);
        stopping_ = false;
        thread_ = std::thread([this, h = std::move(handler)] {
            while (!stopping_) {
                pollfd p{listen_fd_, POLLIN, 0};
                if (::poll(&p, 1, 50) <= 0) continue;
                int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd < 0) continue;
                ++connections_;
                h(fd);
                ::close(fd);
            }
        });
        return true;
    }

    void stop() {
        if (thread_.joinable()) {
            stopping_ = true;
            thread_.join();
        }
        if (listen_fd_ >= 0) ::close(listen_fd_);
        listen_fd_ = -1;
    }

    int port() const { return port_; }
    int connections() const { return connections_; }
    // Whether stop() was asked: a handler that stalls on purpose polls this to end.
    bool stopping() const { return stopping_; }

private:
    int listen_fd_ = -1;
    int port_ = -1;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    std::thread thread_;
};

// A handler that reads one record (the I/O core's framing), passes its payload to answer and
// sends the result back as a record of type 0; nothing is sent when answer returns false.
inline LoopbackServer::Handler record_handler(
    std::function<bool(const std::vector<unsigned char> &query, std::vector<unsigned char> &reply)> answer) {
    return [answer = std::move(answer)](int fd) {
        int type = 0;
        BIN payload{0, nullptr};
        if (QRT_Socket_RecvRecord(fd, &type, &payload) != 0) {
            QRT_BIN_Reset(&payload);
            return;
        }
        std::vector<unsigned char> query(payload.value, payload.value + payload.length);
        QRT_BIN_Reset(&payload);
        std::vector<unsigned char> reply;
        if (!answer(query, reply)) return;
        BIN out{static_cast<unsigned int>(reply.size()), reply.data()};
        QRT_Socket_SendRecord(fd, 0, &out);
    };
}

}  // namespace ostrel::test
