// Peer servers for the tests (an OCSP responder, a time-stamp authority, a directory server):
// started as child processes on a free 127.0.0.1 port, waited for until ready, always stopped by
// pid, their output kept in a log file for the failure message.
#pragma once

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ostrel::test {

// A port on 127.0.0.1 that nothing listens on now (bound and released; the peer takes it next).
inline int free_loopback_port() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    int port = -1;
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(fd);
    return port;
}

// Whether a TCP connect to 127.0.0.1:port succeeds now.
inline bool loopback_port_open(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

// One child process: argv[0] is looked up in PATH, stdout and stderr go to `log`, stdin is
// /dev/null. The destructor stops it (SIGTERM, then SIGKILL after a grace period) and reaps it.
class PeerProcess {
public:
    PeerProcess() = default;
    PeerProcess(const PeerProcess &) = delete;
    PeerProcess &operator=(const PeerProcess &) = delete;
    ~PeerProcess() { stop(); }

    // Starts the process in directory `cwd` (empty: the current one). False when fork fails.
    bool start(const std::vector<std::string> &argv, const std::string &log, const std::string &cwd = {}) {
        stop();
        log_ = log;
        std::vector<char *> args;
        for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ < 0) return false;
        if (pid_ == 0) {
            // Its own process group, so stop() also ends whatever it starts.
            ::setpgid(0, 0);
            int in = ::open("/dev/null", O_RDONLY);
            int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (in >= 0) ::dup2(in, 0);
            if (out >= 0) {
                ::dup2(out, 1);
                ::dup2(out, 2);
            }
            if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(126);
            ::execvp(args[0], args.data());
            ::_exit(127);
        }
        ::setpgid(pid_, pid_);
        return true;
    }

    // Waits until ready() holds, the process ends, or the time runs out.
    bool wait_ready(const std::function<bool()> &ready, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            if (!running()) return false;
            if (ready()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    // Waits until the log holds `text` (a server's "ready" line).
    bool wait_log(const std::string &text, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        return wait_ready([&] { return log_text().find(text) != std::string::npos; }, limit);
    }

    bool wait_port(int port, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        return wait_ready([port] { return loopback_port_open(port); }, limit);
    }

    bool running() {
        if (pid_ <= 0) return false;
        int status = 0;
        pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_ || (r < 0 && errno == ECHILD)) {
            pid_ = -1;
            return false;
        }
        return true;
    }

    void stop() {
        if (pid_ <= 0) return;
        const pid_t pid = pid_;
        pid_ = -1;
        ::kill(-pid, SIGTERM);
        ::kill(pid, SIGTERM);
        for (int i = 0; i < 100; ++i) {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) != 0) {
                ::kill(-pid, SIGKILL);  // what it started, if anything is left of its group
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ::kill(-pid, SIGKILL);
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }

    pid_t pid() const { return pid_; }

    std::string log_text() const {
        std::ifstream f(log_, std::ios::binary);
        std::stringstream ss;
        ss << f.rdbuf();
        return ss.str();
    }

private:
    pid_t pid_ = -1;
    std::string log_;
};

}  // namespace ostrel::test
