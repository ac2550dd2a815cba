// The growable string of the formatters and the name printer.
#include <cstring>
#include <string>

#include "pkc_internal.h"

struct _ZQ_PKC_StrBuf {
    std::string s;
    size_t grow = 1024;
};

namespace ostrel::pkc {

void append_hex(std::string &out, const unsigned char *p, size_t n) {
    static constexpr char kDigits[] = "0123456789abcdef";
    size_t at = out.size();
    out.resize(at + 2 * n);
    for (size_t i = 0; i < n; ++i) {
        out[at + 2 * i] = kDigits[p[i] >> 4];
        out[at + 2 * i + 1] = kDigits[p[i] & 15];
    }
}

void put_field(char *field, size_t width, const std::string &s) {
    if (!width) return;
    size_t n = s.size() < width - 1 ? s.size() : width - 1;
    std::memcpy(field, s.data(), n);
    field[n] = '\0';
}

}  // namespace ostrel::pkc

extern "C" {

QRT_API ZQ_PKC_StrBuf *QRT_PKC_StrBuf_New(void) {
    return OSTREL_GUARD_OR(static_cast<ZQ_PKC_StrBuf *>(nullptr), [&] { return new _ZQ_PKC_StrBuf; });
}

QRT_API int QRT_PKC_StrBuf_Init(ZQ_PKC_StrBuf *buf, int initial, int grow) {
    if (!buf || initial < 0 || grow < 0) return QRT_PKC_INVALID_INPUT;
    return OSTREL_GUARD([&] {
        buf->s.clear();
        buf->s.reserve(static_cast<size_t>(initial));
        buf->grow = grow > 0 ? static_cast<size_t>(grow) : 1024;
        return 0;
    });
}

QRT_API int QRT_PKC_StrBuf_AddString(ZQ_PKC_StrBuf *buf, const char *s, int length) {
    if (!buf || !s) return QRT_PKC_INVALID_INPUT;
    size_t n = length < 0 ? std::strlen(s) : static_cast<size_t>(length);
    return OSTREL_GUARD([&] {
        if (buf->s.size() + n > buf->s.capacity()) {
            size_t want = buf->s.capacity() + (n > buf->grow ? n : buf->grow);
            buf->s.reserve(want);
        }
        buf->s.append(s, n);
        return 0;
    });
}

QRT_API const char *QRT_PKC_StrBuf_GetString(const ZQ_PKC_StrBuf *buf) { return buf ? buf->s.c_str() : nullptr; }
QRT_API int QRT_PKC_StrBuf_GetLength(const ZQ_PKC_StrBuf *buf) { return buf ? static_cast<int>(buf->s.size()) : 0; }
QRT_API void QRT_PKC_StrBuf_Free(ZQ_PKC_StrBuf *buf) { delete buf; }

}  // extern "C"
