// Arbitrary text as an OCSP responder URL through the tools' splitter, into buffers of the sizes
// the OCSP callback uses and into tight ones: it must never write past them, and what it accepts
// must be the URL again: "http://" + host [+ ":" + port] [+ "/" + path], with a host free of ":"
// and "/" and a port of 1-65535.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "validate.h"

namespace {

void check(const std::string &url, size_t hostSize, size_t pathSize) {
    std::string host(hostSize, '\x7f'), path(pathSize, '\x7f');
    int port = -1;
    if (parseURL(url.c_str(), host.data(), hostSize, &port, path.data(), pathSize) != 0) return;
    const size_t hl = std::strlen(host.c_str()), pl = std::strlen(path.c_str());
    if (hl == 0 || hl >= hostSize || pl >= pathSize) __builtin_trap();
    if (port < 1 || port > 65535) __builtin_trap();
    const std::string h = host.substr(0, hl), p = path.substr(0, pl);
    if (h.find_first_of(":/") != std::string::npos) __builtin_trap();
    if (url.compare(0, 7 + hl, "http://" + h) != 0) __builtin_trap();
    std::string rest = url.substr(7 + hl);
    if (!rest.empty() && rest[0] == ':') {
        size_t slash = rest.find('/');
        std::string digits = rest.substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
        if (digits.empty() || std::stol(digits.substr(digits.size() > 6 ? digits.size() - 6 : 0)) != port)
            __builtin_trap();
        rest = slash == std::string::npos ? std::string() : rest.substr(slash);
    } else if (port != 80) {
        __builtin_trap();
    }
    if (rest.empty() ? !p.empty() : rest != "/" + p) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // The URL is a C string: it ends at the first NUL.
    std::string url(reinterpret_cast<const char *>(data), size);
    url.resize(std::strlen(url.c_str()));
    check(url, 256, 1024);
    check(url, 8, 8);
    check("http://" + url, 16, 16);
    return 0;
}
