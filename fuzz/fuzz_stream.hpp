// Fuzz input arriving on a stream: the bytes are written into one end of a socket pair (its
// buffers sized to hold them all) for the reader under test on the other end.
#pragma once

#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

namespace ostrel::fuzz {

// The largest input a stream target takes: it fits the socket buffers whole.
inline constexpr size_t kMaxStreamInput = 200000;

// Opens the pair and writes data into fds[0]; false (nothing open) when it cannot.
inline bool feed_stream(const uint8_t *data, size_t size, int fds[2]) {
    if (size > kMaxStreamInput || socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return false;
    int sz = 1 << 20;
    setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &sz, sizeof sz);
    setsockopt(fds[1], SOL_SOCKET, SO_RCVBUF, &sz, sizeof sz);
    size_t off = 0;
    while (off < size) {
        ssize_t w = write(fds[0], data + off, size - off);
        if (w <= 0) break;
        off += static_cast<size_t>(w);
    }
    return true;
}

}  // namespace ostrel::fuzz
