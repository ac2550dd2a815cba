// The certificate file store's layout and its whole-or-nothing file writes.
//
// One tree serves the path-validation library and the tools that fill it:
//   <root>/<kind>/<40 lower-case hex digits: SHA-1 of the subject's DN text>/<file>
// with kind "root", "ca", "crl" or "ctl" (the tools add "user" and others beside them) and file
// "cert_<serial hex>.der", "cert.crl" or "ctl.der". Readers pick up entries whose name holds
// "cert" and ".der"; a temporary written beside them never does.
//
// Header only; the includer links the I/O core and the provider (for SHA-1).
#pragma once

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "suite_csp.h"
#include "suite_io.h"

namespace ostrel::store {

inline constexpr int kSha1 = 3;  // the provider's hash id of SHA-1

// 40 lower-case hex digits of SHA-1 over the DN text; empty when hashing fails.
inline std::string subject_dir_name(std::string_view dnText) {
    BIN in{static_cast<unsigned int>(dnText.size()),
           const_cast<unsigned char *>(reinterpret_cast<const unsigned char *>(dnText.data()))};
    BIN digest{0, nullptr};
    std::string hex;
    if (QRT_CSP_Hash(&digest, &in, kSha1) == 0 && digest.value && digest.length == 20) {
        static constexpr char kDigits[] = "0123456789abcdef";
        hex.reserve(40);
        for (unsigned int i = 0; i < digest.length; ++i) {
            hex.push_back(kDigits[digest.value[i] >> 4]);
            hex.push_back(kDigits[digest.value[i] & 15]);
        }
    }
    QRT_BIN_Reset(&digest);
    return hex;
}

// "<root>/<kind>/<subject dir>": whole, never cut, whatever the root's length.
inline std::string subject_dir(std::string_view root, std::string_view kind, std::string_view dnText) {
    std::string dir(root);
    if (!dir.empty() && dir.back() != '/') dir.push_back('/');
    dir.append(kind);
    dir.push_back('/');
    dir.append(subject_dir_name(dnText));
    return dir;
}

inline std::string cert_file_name(std::string_view serialHex) {
    std::string name("cert_");
    name.append(serialHex);
    name.append(".der");
    return name;
}

// Whether a directory entry is one the readers take as a certificate file.
inline bool is_cert_entry(const char *name) {
    return std::strstr(name, "cert") != nullptr && std::strstr(name, ".der") != nullptr;
}

// Creates every missing directory of path with 0777 filtered by the process umask (no chmod: a
// store root is a trust anchor and must not become world-writable). Returns 0 or errno.
inline int make_dirs(const std::string &path) {
    if (path.empty()) return EINVAL;
    std::string partial;
    partial.reserve(path.size());
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || (path[i] == '/' && i > 0)) {
            partial.assign(path, 0, i);
            if (::mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST) return errno;
        }
    }
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0) return errno;
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

// Writes data to target whole or not at all: a temporary beside it (named so that no store
// reader matches it), fsync, rename. On failure the temporary is removed and an existing target
// stays as it was. mode is filtered by the umask. Returns 0 or errno.
inline int write_file_atomic(const std::string &target, const void *data, size_t len, mode_t mode) {
    std::string dir, base;
    size_t slash = target.rfind('/');
    if (slash == std::string::npos) {
        dir = ".";
        base = target;
    } else {
        dir = target.substr(0, slash == 0 ? 1 : slash);
        base = target.substr(slash + 1);
    }
    if (base.empty()) return EINVAL;
    // open() applies the umask to mode itself; the name is unique per process and call.
    static std::atomic<unsigned> counter{0};
    std::string tmp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        tmp = dir + "/.ostrel-tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1));
        fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0 && errno != EEXIST) return errno;
    }
    if (fd < 0) return EEXIST;
    int err = 0;
    const auto *p = static_cast<const unsigned char *>(data);
    size_t left = len;
    while (!err && left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            err = errno;
            break;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    if (!err && ::fsync(fd) != 0) err = errno;
    if (::close(fd) != 0 && !err) err = errno;
    if (!err && ::rename(tmp.c_str(), target.c_str()) != 0) err = errno;
    if (err) ::unlink(tmp.c_str());
    return err;
}

}  // namespace ostrel::store
