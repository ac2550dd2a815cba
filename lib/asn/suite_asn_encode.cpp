// The encoder: DER from a value tree, written back to front into the context's scratch buffer so
// every length is known when its header is written. DEFAULT values are left out, SET
// components go in tag order and SET OF elements in the order of their encodings.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <vector>

#include "asn_ber.hpp"
#include "asn_internal.h"

namespace ostrel::asn {

namespace {

constexpr size_t kScratchKeep = size_t{1} << 20;  // larger scratch buffers are released after use

// A vector that keeps its first N elements inline, so short lists cost no allocation.
template <class T, size_t N>
class SmallVec {
  public:
    size_t size() const { return heap_.empty() ? n_ : heap_.size(); }
    T *data() { return heap_.empty() ? local_ : heap_.data(); }
    T &operator[](size_t i) { return data()[i]; }
    void push_back(const T &v) {
        if (heap_.empty() && n_ < N) {
            local_[n_++] = v;
            return;
        }
        if (heap_.empty()) heap_.assign(local_, local_ + n_);
        heap_.push_back(v);
    }

  private:
    T local_[N];
    size_t n_ = 0;
    std::vector<T> heap_;
};

struct Span {
    size_t from_end;  // distance of the element's first byte from the buffer end
    size_t len;
};

class Encoder {
  public:
    explicit Encoder(ZQ_ASN_CTX *ctx) : ctx_(ctx), buf_(ctx->scratch), cap_(ctx->scratch ? ctx->scratchSize : 0) {}
    ~Encoder() {
        if (cap_ > kScratchKeep) {
            ctx_->freeFn(buf_);
            buf_ = nullptr;
            cap_ = 0;
        }
        ctx_->scratch = buf_;
        ctx_->scratchSize = cap_;
    }

    int code = 0;
    const char *what = "";

    bool value(const TypeDesc &d, uint32_t tagov, const void *v);
    size_t used() const { return used_; }
    const uint8_t *data() const { return buf_ + cap_ - used_; }

  private:
    bool fail(int c, const char *w) {
        if (!code) {
            code = c;
            what = w;
        }
        return false;
    }
    uint8_t *front() { return buf_ + cap_ - used_; }
    bool reserve(size_t n) {
        if (cap_ - used_ >= n) return true;
        if (used_ + n > 0x7FFFFFFFu) return fail(QRT_ASN_E_TOO_LONG, "encoding larger than 2 GB");
        size_t ncap = std::max(cap_ * 2, used_ + n + 1024);
        auto *nb = static_cast<uint8_t *>(ctx_->allocFn(ncap));
        if (!nb) return fail(QRT_ASN_E_OUT_MEMORY, "out of memory");
        if (used_) std::memcpy(nb + ncap - used_, front(), used_);
        if (buf_) ctx_->freeFn(buf_);
        buf_ = nb;
        cap_ = ncap;
        return true;
    }
    bool put(const void *p, size_t n) {
        if (!reserve(n)) return false;
        used_ += n;
        if (n) std::memcpy(front(), p, n);
        return true;
    }
    bool byte(uint8_t b) { return put(&b, 1); }
    bool length(size_t n) {
        uint8_t b[9];
        return put(b, length_octets(n, b));
    }
    bool ident(uint32_t tag, bool cons) {
        uint8_t b[6];
        return put(b, ident_octets(tag, cons, b));
    }
    bool header(size_t mark, uint32_t tag, bool cons) { return length(used_ - mark) && ident(tag, cons); }

    bool field(const Field &f, const void *slot);
    bool contents(const TypeDesc &d, const void *v);
    bool time(const GeneralizedTime &g, bool general);
    bool any(const Any &a);
    bool sort_spans(Span *spans, size_t count, size_t region_used, bool by_tag);

    ZQ_ASN_CTX *ctx_;
    uint8_t *buf_;
    size_t cap_;
    size_t used_ = 0;
    unsigned depth_ = 0;
};

bool Encoder::field(const Field &f, const void *slot) {
    const TypeDesc &d = kTypes[f.type];
    const void *target = slot;
    if (f.flags & F_PTR) {
        target = *static_cast<const void *const *>(slot);
        if (!target) return fail(QRT_ASN_E_BAD_PTR, "missing value behind a pointer field");
    }
    if (!(f.flags & F_EXPLICIT)) return value(d, (f.flags & F_TAGGED) ? f.tag : 0, target);
    size_t mark = used_;
    return value(d, 0, target) && header(mark, f.tag, true);
}

bool Encoder::value(const TypeDesc &d, uint32_t tagov, const void *v) {
    if (++depth_ > kMaxDepth) return fail(QRT_ASN_E_TOO_LONG, "value nested deeper than 64 levels");
    bool ok;
    if (d.kind == K_CHOICE) {
        unsigned idx = *static_cast<const unsigned short *>(v);
        if (idx < 1 || idx > d.nfields) return fail(QRT_ASN_E_BAD_CHOICE, "choice number out of range");
        const Field &f = fields_of(d)[idx - 1];
        ok = field(f, static_cast<const uint8_t *>(v) + f.offset);
    } else if (d.kind == K_ANY) {
        ok = any(*static_cast<const Any *>(v));
    } else if (d.kind == K_TAGGED) {
        size_t mark = used_;
        ok = value(kTypes[d.inner], 0, v) && header(mark, tagov ? tagov : d.tag, true);
    } else {
        size_t mark = used_;
        bool cons = d.kind == K_SEQ || d.kind == K_SET || d.kind == K_SEQOF || d.kind == K_SETOF;
        ok = contents(d, v) && header(mark, tagov ? tagov : d.tag, cons);
    }
    --depth_;
    return ok;
}

bool Encoder::contents(const TypeDesc &d, const void *v) {
    switch (d.kind) {
        case K_BOOL:
            return byte(*static_cast<const unsigned char *>(v) ? 0xFF : 0x00);
        case K_INT: {
            int32_t x = *static_cast<const int *>(v);
            uint8_t b[4];
            int n = 4;
            for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(static_cast<uint32_t>(x) >> (24 - 8 * i));
            int s = 0;
            while (n - s > 1 && ((b[s] == 0 && !(b[s + 1] & 0x80)) || (b[s] == 0xFF && (b[s + 1] & 0x80)))) ++s;
            return put(b + s, static_cast<size_t>(n - s));
        }
        case K_HUGE: {
            const HUGE *h = static_cast<const HUGE *>(v);
            if (h->length == 0) return byte(0);
            if (!h->value) return fail(QRT_ASN_E_BAD_PTR, "INTEGER without its octets");
            // DER: no redundant leading 00 or FF octets
            const unsigned char *c = h->value;
            size_t n = h->length;
            while (n > 1 && ((c[0] == 0 && !(c[1] & 0x80)) || (c[0] == 0xFF && (c[1] & 0x80)))) {
                ++c;
                --n;
            }
            return put(c, n);
        }
        case K_BITS: {
            const BitString *b = static_cast<const BitString *>(v);
            size_t n = (static_cast<size_t>(b->length) + 7) / 8;
            if (n && !b->value) return fail(QRT_ASN_E_BAD_PTR, "BIT STRING without its octets");
            unsigned unused = static_cast<unsigned>(n * 8 - b->length);
            if (!put(b->value, n)) return false;
            if (n) front()[n - 1] = static_cast<uint8_t>(front()[n - 1] & (0xFF << unused));
            return byte(static_cast<uint8_t>(unused));
        }
        case K_NAMEDBITS: {
            unsigned width = d.size * 8;
            uint32_t x = d.size == 2 ? *static_cast<const unsigned short *>(v) : *static_cast<const unsigned int *>(v);
            if (!x) return byte(0);
            unsigned nbits = width - static_cast<unsigned>(__builtin_ctz(x));
            unsigned nbytes = (nbits + 7) / 8;
            uint8_t b[5];
            b[0] = static_cast<uint8_t>(nbytes * 8 - nbits);
            for (unsigned k = 0; k < nbytes; ++k) b[1 + k] = static_cast<uint8_t>(x >> (width - 8 - 8 * k));
            return put(b, nbytes + 1);
        }
        case K_OCTETS:
        case K_STRING: {
            const BIN *b = static_cast<const BIN *>(v);
            if (b->length && !b->value) return fail(QRT_ASN_E_BAD_PTR, "string without its octets");
            return put(b->value, b->length);
        }
        case K_NULL:
            return true;
        case K_OID: {
            const ObjectID *o = static_cast<const ObjectID *>(v);
            if (!o->length || !o->value || (o->value[o->length - 1] & 0x80))
                return fail(QRT_ASN_E_BAD_OBJID, "object identifier empty or ending inside an arc");
            for (unsigned k = 0; k < o->length; ++k)
                if (o->value[k] == 0x80 && (k == 0 || !(o->value[k - 1] & 0x80)))
                    return fail(QRT_ASN_E_BAD_OBJID, "object identifier arc not in its shortest form");
            return put(o->value, o->length);
        }
        case K_UTCTIME:
        case K_GENTIME:
            return time(*static_cast<const GeneralizedTime *>(v), d.kind == K_GENTIME);
        case K_SEQ:
        case K_SET: {
            const Field *fs = fields_of(d);
            uint32_t mask = get_mask(v, d.mask_bytes);
            const uint8_t *base = static_cast<const uint8_t *>(v);
            SmallVec<Span, 8> spans;
            size_t start = used_;
            for (unsigned i = d.nfields; i-- > 0;) {
                const Field &f = fs[i];
                if ((f.flags & (F_OPTIONAL | F_DEFAULT)) && !(mask & f.present)) continue;
                size_t mark = used_;
                if (!field(f, base + f.offset)) return false;
                if (f.dflt >= 0) {
                    const Default &df = kDefaults[f.dflt];
                    if (used_ - mark == df.len && std::memcmp(front(), df.der, df.len) == 0) {
                        used_ = mark;
                        continue;
                    }
                }
                if (d.kind == K_SET) spans.push_back(Span{used_, used_ - mark});
            }
            if (d.kind == K_SET && spans.size() > 1) return sort_spans(spans.data(), spans.size(), used_ - start, true);
            return true;
        }
        case K_SEQOF:
        case K_SETOF: {
            const Field &ef = fields_of(d)[0];
            struct Node {
                const Node *next;
            };
            SmallVec<const Node *, 16> nodes;
            for (const Node *n = *static_cast<const Node *const *>(v); n; n = n->next) {
                if (nodes.size() >= kMaxElements) return fail(QRT_ASN_E_TOO_LONG, "list longer than 1048576 elements");
                nodes.push_back(n);
            }
            SmallVec<Span, 8> spans;
            size_t start = used_;
            bool sorted = d.kind == K_SETOF && nodes.size() > 1;
            for (size_t i = nodes.size(); i-- > 0;) {
                size_t mark = used_;
                if (!field(ef, reinterpret_cast<const uint8_t *>(nodes[i]) + ef.offset)) return false;
                if (sorted) spans.push_back(Span{used_, used_ - mark});
            }
            if (sorted) return sort_spans(spans.data(), spans.size(), used_ - start, false);
            return true;
        }
        default:
            return fail(QRT_ASN_E_FATAL_ERROR, "descriptor of unknown kind");
    }
}

// Reorders the just-written elements: by their encodings (SET OF) or by their tags (SET).
bool Encoder::sort_spans(Span *spans, size_t count, size_t region_used, bool by_tag) {
    const uint8_t *region = front();
    std::vector<uint8_t> copy(region, region + region_used);
    size_t region_from_end = used_;
    auto at = [&](const Span &s) { return copy.data() + (region_from_end - s.from_end); };
    auto tag_of = [&](const Span &s) {
        const uint8_t *p = at(s);
        uint32_t tag = 0;
        bool cons;
        Err e;
        read_tag(p, p + s.len, tag, cons, e);
        return tag;
    };
    if (by_tag) {
        std::stable_sort(spans, spans + count, [&](const Span &a, const Span &b) { return tag_of(a) < tag_of(b); });
    } else {
        std::stable_sort(spans, spans + count, [&](const Span &a, const Span &b) {
            size_t m = std::min(a.len, b.len);
            int c = std::memcmp(at(a), at(b), m);
            return c < 0 || (c == 0 && a.len < b.len);
        });
    }
    uint8_t *out = buf_ + cap_ - used_;
    for (size_t i = 0; i < count; ++i) {
        std::memcpy(out, at(spans[i]), spans[i].len);
        out += spans[i].len;
    }
    return true;
}

bool Encoder::time(const GeneralizedTime &g0, bool general) {
    GeneralizedTime g = g0;
    if (!g.utc && g.mindiff) {
        // DER wants UTC: move the local time by its difference.
        struct tm tm {};
        int year = g.year;
        if (!general) year += year < 50 ? 2000 : 1900;
        tm.tm_year = year - 1900;
        tm.tm_mon = g.month - 1;
        tm.tm_mday = g.day;
        tm.tm_hour = g.hour;
        tm.tm_min = g.minute;
        tm.tm_sec = g.second;
        time_t t = timegm(&tm) - static_cast<time_t>(g.mindiff) * 60;
        struct tm u {};
        if (!gmtime_r(&t, &u)) return fail(QRT_ASN_E_BAD_TIME, "time out of range");
        year = u.tm_year + 1900;
        if (!general) {
            if (year < 1950 || year > 2049) return fail(QRT_ASN_E_BAD_TIME, "UTCTime year out of range");
            year %= 100;
        }
        g.year = static_cast<short>(year);
        g.month = static_cast<short>(u.tm_mon + 1);
        g.day = static_cast<short>(u.tm_mday);
        g.hour = static_cast<short>(u.tm_hour);
        g.minute = static_cast<short>(u.tm_min);
        g.second = static_cast<short>(u.tm_sec);
    }
    if (g.month < 1 || g.month > 12 || g.day < 1 || g.day > 31 || g.hour < 0 || g.hour > 23 || g.minute < 0 ||
        g.minute > 59 || g.second < 0 || g.second > 60 || g.millisec < 0 || g.millisec > 999)
        return fail(QRT_ASN_E_BAD_TIME, "time field out of range");
    char s[40];
    int n;
    if (general) {
        if (g.year < 0 || g.year > 9999) return fail(QRT_ASN_E_BAD_TIME, "GeneralizedTime year out of range");
        n = std::snprintf(s, sizeof s, "%04d%02d%02d%02d%02d%02d", g.year, g.month, g.day, g.hour, g.minute, g.second);
        if (g.millisec) {
            char f[8];
            std::snprintf(f, sizeof f, ".%03d", g.millisec);
            size_t fl = std::strlen(f);
            while (f[fl - 1] == '0') f[--fl] = 0;
            std::memcpy(s + n, f, fl);
            n += static_cast<int>(fl);
        }
    } else {
        if (g.year < 0 || g.year > 99) return fail(QRT_ASN_E_BAD_TIME, "UTCTime year out of range");
        n = std::snprintf(s, sizeof s, "%02d%02d%02d%02d%02d%02d", g.year, g.month, g.day, g.hour, g.minute, g.second);
    }
    s[n++] = 'Z';
    return put(s, static_cast<size_t>(n));
}

bool Encoder::any(const Any &a) {
    if (!a.value || a.length < 2) return fail(QRT_ASN_E_BAD_ENCODING, "open type without an encoding");
    const uint8_t *p = a.value, *end = a.value + a.length, *next;
    bool canonical = true;
    Err e;
    if (!skip_element(p, end, false, depth_, next, canonical, e) || next != end)
        return fail(QRT_ASN_E_BAD_ENCODING, "open type does not hold exactly one encoding");
    if (canonical) return put(a.value, a.length);
    std::vector<uint8_t> norm;
    if (!normalize_element(p, end, depth_, norm, next, e))
        return fail(QRT_ASN_E_BAD_ENCODING, "open type cannot be read");
    return put(norm.data(), norm.size());
}

}  // namespace

int engine_encode(ZQ_ASN_CTX *ctx, int pdu, const void *value, unsigned char **out, size_t *outlen) {
    *out = nullptr;
    *outlen = 0;
    ctx->errorCode = 0;
    ctx->errorText[0] = 0;
    if (pdu <= 0 || static_cast<unsigned>(pdu) >= kPduCount || kPdus[pdu] < 0) {
        ctx->errorCode = QRT_ASN_E_BAD_PDU;
        std::snprintf(ctx->errorText, sizeof ctx->errorText, "no type has the number %d", pdu);
        return ctx->errorCode;
    }
    const TypeDesc &d = kTypes[kPdus[pdu]];
    Encoder enc(ctx);
    bool ok;
    try {
        ok = enc.value(d, 0, value);
    } catch (const std::bad_alloc &) {
        ok = false;
        enc.code = QRT_ASN_E_OUT_MEMORY;
        enc.what = "out of memory";
    }
    if (ok) {
        size_t n = enc.used();
        auto *buf = static_cast<unsigned char *>(ctx->allocFn(n ? n : 1));
        if (buf) {
            std::memcpy(buf, enc.data(), n);
            *out = buf;
            *outlen = n;
            return 0;
        }
        enc.code = QRT_ASN_E_OUT_MEMORY;
        enc.what = "out of memory";
    }
    ctx->errorCode = enc.code;
    std::snprintf(ctx->errorText, sizeof ctx->errorText, "%s", enc.what);
    return enc.code;
}

}  // namespace ostrel::asn
