// The decoder: one walk over the descriptors that turns BER (or, with the strict flag, only DER)
// into a value tree. It never reads past its input, bounds nesting and element counts, and on
// failure the caller releases the partial tree, whose pointers are always valid or NULL.
#include <cstdio>
#include <cstring>
#include <new>

#include "asn_ber.hpp"
#include "asn_internal.h"

namespace ostrel::asn {

namespace {

bool type_accepts(const TypeDesc &d, uint32_t tag);

inline bool field_accepts(const Field &f, uint32_t tag) {
    return (f.flags & F_TAGGED) ? f.tag == tag : type_accepts(kTypes[f.type], tag);
}

bool type_accepts(const TypeDesc &d, uint32_t tag) {
    if (d.kind == K_ANY) return true;
    if (d.kind == K_CHOICE) {
        const Field *fs = fields_of(d);
        for (unsigned i = 0; i < d.nfields; ++i)
            if (field_accepts(fs[i], tag)) return true;
        return false;
    }
    return d.tag == tag;
}

inline bool digits(const char *s, int n, int &out) {
    int v = 0;
    for (int i = 0; i < n; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        v = v * 10 + (s[i] - '0');
    }
    out = v;
    return true;
}

class Decoder {
  public:
    explicit Decoder(ZQ_ASN_CTX *ctx) : ctx_(ctx), der_(ctx->flags & QRT_ASN_FLAG_STRICT_DER) {}

    Err err;

    bool value(const TypeDesc &d, uint32_t tagov, const uint8_t *&p, const uint8_t *end, void *out);

  private:
    void *zalloc(size_t n) {
        void *m = ctx_->allocFn(n ? n : 1);
        if (m) std::memset(m, 0, n ? n : 1);
        return m;
    }
    void *alloc(size_t n) { return ctx_->allocFn(n ? n : 1); }
    bool oom(const uint8_t *p) { return err.set(QRT_ASN_E_OUT_MEMORY, p, "out of memory"); }
    bool bad(const uint8_t *p, const char *what) { return err.set(QRT_ASN_E_DATA_ERROR, p, what); }

    bool enter(const uint8_t *p) {
        if (++depth_ > kMaxDepth) return err.set(QRT_ASN_E_LIMITED, p, "nesting deeper than 64 levels");
        return true;
    }
    void leave() { --depth_; }

    bool field(const Field &f, const uint8_t *&p, const uint8_t *end, void *slot);
    bool sequence(const TypeDesc &d, const Tlv &t, const uint8_t *&next, void *out);
    bool set(const TypeDesc &d, const Tlv &t, const uint8_t *&next, void *out);
    bool list(const TypeDesc &d, const Tlv &t, const uint8_t *&next, void *out);
    bool any(const uint8_t *&p, const uint8_t *end, void *out);
    bool string(const Tlv &t, uint32_t utag, bool bits, const uint8_t *&next, uint8_t *&buf, size_t &len,
                unsigned &unused);
    bool segments(const Tlv &t, uint32_t utag, bool bits, uint8_t *dst, size_t &total, unsigned &unused,
                  bool &last_unused, const uint8_t *&next);
    bool integer(const Tlv &t, int &out, bool nonneg);
    bool time(const Tlv &t, bool general, GeneralizedTime &g);
    void apply_default(const Field &f, void *slot);
    bool check_default(const Field &f, const uint8_t *s, const uint8_t *e);
    bool kept_field(const Field &f, uint8_t *base, const uint8_t *&p, const uint8_t *end);

    // The copy of the kept field being decoded, which the kept fields inside it point into.
    struct Region {
        const uint8_t *start = nullptr;
        unsigned char *copy = nullptr;
    };

    ZQ_ASN_CTX *ctx_;
    bool der_;
    unsigned depth_ = 0;
    Region region_;
};

void Decoder::apply_default(const Field &f, void *slot) {
    if (f.dflt < 0 || !kDefaults[f.dflt].has_value || (f.flags & F_PTR)) return;
    const TypeDesc *d = &kTypes[f.type];
    while (d->kind == K_TAGGED) d = &kTypes[d->inner];
    int v = kDefaults[f.dflt].value;
    switch (d->kind) {
        case K_BOOL:
            *static_cast<unsigned char *>(slot) = static_cast<unsigned char>(v);
            break;
        case K_INT:
            *static_cast<int *>(slot) = v;
            break;
        case K_NAMEDBITS:
            if (d->size == 2)
                *static_cast<unsigned short *>(slot) = static_cast<unsigned short>(v);
            else
                *static_cast<unsigned int *>(slot) = static_cast<unsigned int>(v);
            break;
        default:
            break;
    }
}

bool Decoder::check_default(const Field &f, const uint8_t *s, const uint8_t *e) {
    if (!der_ || f.dflt < 0) return true;
    const Default &d = kDefaults[f.dflt];
    if (static_cast<size_t>(e - s) == d.len && std::memcmp(s, d.der, d.len) == 0)
        return bad(s, "DEFAULT value present in DER");
    return true;
}

// A field the schema marks keeps its encoding as it arrived, for signatures over it. The
// outermost such field gets a copy, taken before its contents are decoded; the marked fields
// inside it keep views into that copy (the tree walkers release and duplicate by the same rule).
bool Decoder::kept_field(const Field &f, uint8_t *base, const uint8_t *&p, const uint8_t *end) {
    Any *a = reinterpret_cast<Any *>(base + f.kept);
    const uint8_t *s = p;
    if (region_.copy) {
        if (!field(f, p, end, base + f.offset)) return false;
        a->value = region_.copy + (s - region_.start);
        a->length = static_cast<unsigned int>(p - s);
        return true;
    }
    Tlv t;
    if (!read_header(s, end, der_, t, err)) return false;
    const uint8_t *e = t.end;
    if (t.indef) {
        bool canonical = true;
        if (!skip_element(s, end, der_, depth_, e, canonical, err)) return false;
    }
    size_t n = static_cast<size_t>(e - s);
    a->value = static_cast<unsigned char *>(alloc(n));
    if (!a->value) return oom(s);
    std::memcpy(a->value, s, n);
    a->length = static_cast<unsigned int>(n);
    Region saved = region_;
    region_ = Region{s, a->value};
    bool ok = field(f, p, end, base + f.offset);
    region_ = saved;
    return ok;
}

bool Decoder::field(const Field &f, const uint8_t *&p, const uint8_t *end, void *slot) {
    const TypeDesc &d = kTypes[f.type];
    void *target = slot;
    if (f.flags & F_PTR) {
        target = zalloc(d.size);
        if (!target) return oom(p);
        *static_cast<void **>(slot) = target;
    }
    if (!(f.flags & F_EXPLICIT)) return value(d, (f.flags & F_TAGGED) ? f.tag : 0, p, end, target);
    Tlv t;
    if (!read_header(p, end, der_, t, err)) return false;
    if (t.tag != f.tag || !t.cons) return bad(p, "unexpected tag");
    if (!enter(p)) return false;
    Window w = open(t);
    if (w.at_end()) return bad(p, "empty explicit tag");
    if (!value(d, 0, w.p, w.end, target)) return false;
    if (!w.close(p, err)) return false;
    leave();
    return true;
}

bool Decoder::value(const TypeDesc &d, uint32_t tagov, const uint8_t *&p, const uint8_t *end, void *out) {
    if (d.kind == K_CHOICE) {
        uint32_t tag;
        bool cons;
        const uint8_t *q = p;
        if (!read_tag(q, end, tag, cons, err)) return false;
        const Field *fs = fields_of(d);
        for (unsigned i = 0; i < d.nfields; ++i) {
            if (field_accepts(fs[i], tag)) {
                *static_cast<unsigned short *>(out) = static_cast<unsigned short>(i + 1);
                return field(fs[i], p, end, static_cast<uint8_t *>(out) + fs[i].offset);
            }
        }
        return bad(p, "no alternative of the CHOICE has this tag");
    }
    if (d.kind == K_ANY) return any(p, end, out);

    Tlv t;
    if (!read_header(p, end, der_, t, err)) return false;
    uint32_t want = tagov ? tagov : d.tag;
    if (t.tag != want) return bad(p, "unexpected tag");
    const uint8_t *next = t.end;
    switch (d.kind) {
        case K_BOOL:
            if (t.cons || t.end - t.content != 1) return bad(p, "BOOLEAN of wrong length");
            if (der_ && t.content[0] != 0 && t.content[0] != 0xFF) return bad(p, "BOOLEAN not 00 or FF in DER");
            *static_cast<unsigned char *>(out) = t.content[0] ? 1 : 0;
            break;
        case K_INT:
            if (!integer(t, *static_cast<int *>(out), d.flags & T_NONNEG)) return false;
            break;
        case K_HUGE: {
            size_t n = static_cast<size_t>(t.end - t.content);
            if (t.cons || n == 0) return bad(p, "empty or constructed INTEGER");
            if (n > 0xFFFF) return err.set(QRT_ASN_E_LIMITED, p, "INTEGER longer than 65535 octets");
            if (der_ && n > 1 &&
                ((t.content[0] == 0 && !(t.content[1] & 0x80)) || (t.content[0] == 0xFF && (t.content[1] & 0x80))))
                return bad(p, "INTEGER not in its shortest form");
            HUGE *h = static_cast<HUGE *>(out);
            h->value = static_cast<unsigned char *>(alloc(n));
            if (!h->value) return oom(p);
            std::memcpy(h->value, t.content, n);
            h->length = static_cast<unsigned short>(n);
            break;
        }
        case K_BITS: {
            uint8_t *buf;
            size_t n;
            unsigned unused;
            if (!string(t, 3, true, next, buf, n, unused)) return false;
            BitString *b = static_cast<BitString *>(out);
            if (n > (0xFFFFFFFFu >> 3)) {
                ctx_->freeFn(buf);
                return err.set(QRT_ASN_E_LIMITED, p, "BIT STRING too long");
            }
            b->value = buf;
            b->length = static_cast<unsigned int>(n * 8 - unused);
            break;
        }
        case K_NAMEDBITS: {
            uint8_t *buf;
            size_t n;
            unsigned unused;
            if (!string(t, 3, true, next, buf, n, unused)) return false;
            unsigned width = d.size * 8;
            uint32_t v = 0;
            bool beyond = false;
            for (size_t k = 0; k < n; ++k) {
                uint8_t byte = buf[k];
                if (k + 1 == n) byte = static_cast<uint8_t>(byte & (0xFF << unused));
                if (k < width / 8)
                    v |= uint32_t{byte} << (width - 8 - 8 * k);
                else if (byte)
                    beyond = true;
            }
            bool trailing = n > 0 && !(buf[n - 1] & (1u << unused));
            ctx_->freeFn(buf);
            if (der_ && (beyond || trailing)) return bad(p, "named BIT STRING not in its DER form");
            if (d.size == 2)
                *static_cast<unsigned short *>(out) = static_cast<unsigned short>(v);
            else
                *static_cast<unsigned int *>(out) = v;
            break;
        }
        case K_OCTETS:
        case K_STRING: {
            uint8_t *buf;
            size_t n;
            unsigned unused;
            if (!string(t, d.tag & 0x3FFFFFFFu, false, next, buf, n, unused)) return false;
            if (n > 0xFFFFFFFEu) {
                ctx_->freeFn(buf);
                return err.set(QRT_ASN_E_LIMITED, p, "string too long");
            }
            BIN *b = static_cast<BIN *>(out);
            b->value = buf;
            b->length = static_cast<unsigned int>(n);
            break;
        }
        case K_NULL:
            if (t.cons || t.end != t.content) return bad(p, "NULL with contents");
            break;
        case K_OID: {
            size_t n = static_cast<size_t>(t.end - t.content);
            if (t.cons || n == 0) return bad(p, "empty or constructed OBJECT IDENTIFIER");
            if (n > 0xFFFF) return err.set(QRT_ASN_E_LIMITED, p, "OBJECT IDENTIFIER longer than 65535 octets");
            if (t.content[n - 1] & 0x80) return bad(p, "OBJECT IDENTIFIER ends inside an arc");
            for (size_t k = 0; k < n; ++k)
                if (t.content[k] == 0x80 && (k == 0 || !(t.content[k - 1] & 0x80)))
                    return bad(p, "OBJECT IDENTIFIER arc not in its shortest form");
            ObjectID *o = static_cast<ObjectID *>(out);
            o->value = static_cast<unsigned char *>(alloc(n));
            if (!o->value) return oom(p);
            std::memcpy(o->value, t.content, n);
            o->length = static_cast<unsigned short>(n);
            break;
        }
        case K_UTCTIME:
        case K_GENTIME:
            if (!time(t, d.kind == K_GENTIME, *static_cast<GeneralizedTime *>(out))) return false;
            break;
        case K_SEQ:
            if (!sequence(d, t, next, out)) return false;
            break;
        case K_SET:
            if (!set(d, t, next, out)) return false;
            break;
        case K_SEQOF:
        case K_SETOF:
            if (!list(d, t, next, out)) return false;
            break;
        case K_TAGGED: {
            if (!t.cons) return bad(p, "explicit tag on a primitive element");
            if (!enter(p)) return false;
            Window w = open(t);
            if (w.at_end()) return bad(p, "empty explicit tag");
            if (!value(kTypes[d.inner], 0, w.p, w.end, out)) return false;
            if (!w.close(next, err)) return false;
            leave();
            break;
        }
        default:
            return err.set(QRT_ASN_E_FATAL_ERROR, p, "descriptor of unknown kind");
    }
    p = next;
    return true;
}

bool Decoder::integer(const Tlv &t, int &out, bool nonneg) {
    const uint8_t *c = t.content;
    size_t n = static_cast<size_t>(t.end - c);
    if (t.cons || n == 0) return bad(t.start, "empty or constructed INTEGER");
    if (n > 1 && ((c[0] == 0 && !(c[1] & 0x80)) || (c[0] == 0xFF && (c[1] & 0x80)))) {
        if (der_) return bad(t.start, "INTEGER not in its shortest form");
        while (n > 1 && ((c[0] == 0 && !(c[1] & 0x80)) || (c[0] == 0xFF && (c[1] & 0x80)))) {
            ++c;
            --n;
        }
    }
    if (n > 4) return err.set(QRT_ASN_E_LIMITED, t.start, "INTEGER does not fit 32 bits");
    uint32_t v = (c[0] & 0x80) ? 0xFFFFFFFFu : 0;
    for (size_t k = 0; k < n; ++k) v = (v << 8) | c[k];
    int s = static_cast<int>(v);
    if (nonneg && s < 0)
        return err.set(QRT_ASN_E_NEGATIVE_UINTEGER, t.start, "negative value for a non-negative INTEGER");
    out = s;
    return true;
}

// Segments of a constructed string: counts (dst NULL) or copies them.
bool Decoder::segments(const Tlv &t, uint32_t utag, bool bits, uint8_t *dst, size_t &total, unsigned &unused,
                       bool &last_unused, const uint8_t *&next) {
    if (!enter(t.start)) return false;
    Window w = open(t);
    while (!w.at_end()) {
        Tlv c;
        if (!read_header(w.p, w.end, der_, c, err)) return false;
        if (c.tag != ASN_TAG(0, utag)) return bad(w.p, "segment of a constructed string has the wrong tag");
        if (c.cons) {
            if (!segments(c, utag, bits, dst, total, unused, last_unused, w.p)) return false;
            continue;
        }
        const uint8_t *s = c.content;
        size_t n = static_cast<size_t>(c.end - c.content);
        if (bits) {
            if (n == 0) return bad(w.p, "BIT STRING segment without its unused-bits octet");
            if (last_unused) return bad(w.p, "unused bits in a BIT STRING segment before the last");
            if (s[0] > 7 || (n == 1 && s[0] != 0)) return bad(w.p, "bad unused-bits count");
            unused = s[0];
            last_unused = s[0] != 0;
            ++s;
            --n;
        }
        if (dst) std::memcpy(dst + total, s, n);
        total += n;
        w.p = c.end;
    }
    if (!w.close(next, err)) return false;
    leave();
    return true;
}

// Contents of a string type in a new buffer with a zero byte after them.
bool Decoder::string(const Tlv &t, uint32_t utag, bool bits, const uint8_t *&next, uint8_t *&buf, size_t &len,
                     unsigned &unused) {
    unused = 0;
    if (!t.cons) {
        const uint8_t *s = t.content;
        size_t n = static_cast<size_t>(t.end - t.content);
        if (bits) {
            if (n == 0) return bad(t.start, "BIT STRING without its unused-bits octet");
            if (s[0] > 7 || (n == 1 && s[0] != 0)) return bad(t.start, "bad unused-bits count");
            unused = s[0];
            if (der_ && unused && (s[n - 1] & ((1u << unused) - 1))) return bad(t.start, "unused bits not zero in DER");
            ++s;
            --n;
        }
        buf = static_cast<uint8_t *>(alloc(n + 1));
        if (!buf) return oom(t.start);
        if (n) std::memcpy(buf, s, n);
        buf[n] = 0;
        len = n;
        next = t.end;
        return true;
    }
    if (der_) return bad(t.start, "constructed string in DER");
    size_t total = 0;
    bool last = false;
    const uint8_t *after;
    unsigned depth = depth_;
    if (!segments(t, utag, bits, nullptr, total, unused, last, after)) return false;
    depth_ = depth;
    buf = static_cast<uint8_t *>(alloc(total + 1));
    if (!buf) return oom(t.start);
    size_t copied = 0;
    last = false;
    if (!segments(t, utag, bits, buf, copied, unused, last, after)) {
        ctx_->freeFn(buf);
        return false;
    }
    buf[total] = 0;
    len = total;
    next = after;
    return true;
}

bool Decoder::time(const Tlv &t, bool general, GeneralizedTime &g) {
    if (t.cons) return bad(t.start, "constructed time");
    const char *s = reinterpret_cast<const char *>(t.content);
    int n = static_cast<int>(t.end - t.content);
    if (n > 40) return bad(t.start, "time too long");
    std::memset(&g, 0, sizeof g);
    int i = 0, v;
    int yd = general ? 4 : 2;
    if (n < yd + 6) return bad(t.start, "time too short");
    if (!digits(s, yd, v)) return bad(t.start, "bad year");
    g.year = static_cast<short>(v);
    i = yd;
    int fields[5] = {0, 0, 0, 0, 0};
    int nf = 0;
    while (nf < 5 && i + 2 <= n && s[i] >= '0' && s[i] <= '9') {
        if (!digits(s + i, 2, fields[nf])) return bad(t.start, "bad time digits");
        i += 2;
        ++nf;
    }
    // month, day, hour required; minutes required for UTCTime
    if (nf < (general ? 3 : 4)) return bad(t.start, "time without hour or minutes");
    if (der_ && nf < 5) return bad(t.start, "time without seconds in DER");
    g.month = static_cast<short>(fields[0]);
    g.day = static_cast<short>(fields[1]);
    g.hour = static_cast<short>(fields[2]);
    g.minute = static_cast<short>(fields[3]);
    g.second = static_cast<short>(fields[4]);
    if (general && nf == 5 && i < n && (s[i] == '.' || s[i] == ',')) {
        if (der_ && s[i] == ',') return bad(t.start, "decimal comma in DER");
        ++i;
        int ms = 0, nd = 0, last = 0;
        while (i < n && s[i] >= '0' && s[i] <= '9') {
            if (nd < 3) ms = ms * 10 + (s[i] - '0');
            last = s[i] - '0';
            ++nd;
            ++i;
        }
        if (nd == 0) return bad(t.start, "empty fraction of a second");
        if (der_ && (last == 0 || nd > 3)) return bad(t.start, "fraction of a second not in its DER form");
        for (int k = nd; k < 3; ++k) ms *= 10;
        g.millisec = static_cast<short>(ms);
    }
    if (i < n && s[i] == 'Z') {
        g.utc = 1;
        ++i;
    } else if (i < n && (s[i] == '+' || s[i] == '-')) {
        if (der_) return bad(t.start, "time difference in DER");
        int sign = s[i] == '-' ? -1 : 1;
        ++i;
        int hh, mm = 0;
        if (i + 2 > n || !digits(s + i, 2, hh)) return bad(t.start, "bad time difference");
        i += 2;
        if (i + 2 <= n) {
            if (!digits(s + i, 2, mm)) return bad(t.start, "bad time difference");
            i += 2;
        } else if (!general) {
            return bad(t.start, "bad time difference");
        }
        if (hh > 23 || mm > 59) return bad(t.start, "bad time difference");
        g.mindiff = static_cast<short>(sign * (hh * 60 + mm));
    } else if (!general || der_) {
        return bad(t.start, "time without zone");
    }
    if (i != n) return bad(t.start, "unexpected characters in a time");
    if (g.month < 1 || g.month > 12 || g.day < 1 || g.day > 31 || g.hour > 23 || g.minute > 59 || g.second > 60)
        return bad(t.start, "time field out of range");
    return true;
}

bool Decoder::sequence(const TypeDesc &d, const Tlv &t, const uint8_t *&next, void *out) {
    if (!t.cons) return bad(t.start, "primitive SEQUENCE");
    if (!enter(t.start)) return false;
    Window w = open(t);
    const Field *fs = fields_of(d);
    uint8_t *base = static_cast<uint8_t *>(out);
    for (unsigned i = 0; i < d.nfields; ++i) {
        const Field &f = fs[i];
        bool optional = (f.flags & (F_OPTIONAL | F_DEFAULT)) != 0;
        bool here = false;
        if (!w.at_end()) {
            uint32_t tag;
            bool cons;
            const uint8_t *q = w.p;
            if (!read_tag(q, w.end, tag, cons, err)) return false;
            here = field_accepts(f, tag);
        }
        if (!here) {
            if (!optional)
                return bad(w.p, w.at_end() ? "SEQUENCE ends before a mandatory field" : "unexpected tag in a SEQUENCE");
            apply_default(f, base + f.offset);
            continue;
        }
        if (optional) set_mask(base, d.mask_bytes, f.present);
        const uint8_t *s = w.p;
        if (!(f.kept ? kept_field(f, base, w.p, w.end) : field(f, w.p, w.end, base + f.offset))) return false;
        if ((f.flags & F_DEFAULT) && !check_default(f, s, w.p)) return false;
    }
    if (!w.close(next, err)) return false;
    leave();
    return true;
}

bool Decoder::set(const TypeDesc &d, const Tlv &t, const uint8_t *&next, void *out) {
    if (!t.cons) return bad(t.start, "primitive SET");
    if (!enter(t.start)) return false;
    Window w = open(t);
    const Field *fs = fields_of(d);
    uint8_t *base = static_cast<uint8_t *>(out);
    uint64_t seen = 0;
    uint32_t last_tag = 0;
    bool first = true;
    while (!w.at_end()) {
        uint32_t tag;
        bool cons;
        const uint8_t *q = w.p;
        if (!read_tag(q, w.end, tag, cons, err)) return false;
        unsigned i = 0;
        for (; i < d.nfields; ++i)
            if (!(seen >> i & 1) && field_accepts(fs[i], tag)) break;
        if (i == d.nfields) return bad(w.p, "unexpected or repeated element in a SET");
        if (der_ && !first && tag <= last_tag) return bad(w.p, "SET elements not in tag order in DER");
        first = false;
        last_tag = tag;
        const Field &f = fs[i];
        if (f.flags & (F_OPTIONAL | F_DEFAULT)) set_mask(base, d.mask_bytes, f.present);
        const uint8_t *s = w.p;
        if (!(f.kept ? kept_field(f, base, w.p, w.end) : field(f, w.p, w.end, base + f.offset))) return false;
        if ((f.flags & F_DEFAULT) && !check_default(f, s, w.p)) return false;
        seen |= uint64_t{1} << i;
    }
    for (unsigned i = 0; i < d.nfields; ++i) {
        if (seen >> i & 1) continue;
        if (!(fs[i].flags & (F_OPTIONAL | F_DEFAULT))) return bad(w.p, "SET lacks a mandatory element");
        apply_default(fs[i], base + fs[i].offset);
    }
    if (!w.close(next, err)) return false;
    leave();
    return true;
}

struct Node {
    Node *next;
};

bool Decoder::list(const TypeDesc &d, const Tlv &t, const uint8_t *&next, void *out) {
    if (!t.cons) return bad(t.start, "primitive SEQUENCE OF");
    if (!enter(t.start)) return false;
    Window w = open(t);
    const Field &ef = fields_of(d)[0];
    Node **tail = static_cast<Node **>(out);
    size_t count = 0;
    const uint8_t *prev = nullptr;
    size_t prev_len = 0;
    while (!w.at_end()) {
        if (++count > kMaxElements) return err.set(QRT_ASN_E_LIMITED, w.p, "more than 1048576 elements in a list");
        Node *node = static_cast<Node *>(zalloc(d.size));
        if (!node) return oom(w.p);
        *tail = node;
        tail = &node->next;
        const uint8_t *s = w.p;
        if (!field(ef, w.p, w.end, reinterpret_cast<uint8_t *>(node) + ef.offset)) return false;
        size_t n = static_cast<size_t>(w.p - s);
        if (der_ && d.kind == K_SETOF && prev) {
            size_t m = prev_len < n ? prev_len : n;
            int c = std::memcmp(prev, s, m);
            if (c > 0 || (c == 0 && prev_len > n)) return bad(s, "SET OF elements not sorted in DER");
        }
        prev = s;
        prev_len = n;
    }
    if (!w.close(next, err)) return false;
    leave();
    return true;
}

bool Decoder::any(const uint8_t *&p, const uint8_t *end, void *out) {
    const uint8_t *next;
    bool canonical = true;
    if (!skip_element(p, end, der_, depth_, next, canonical, err)) return false;
    Any *a = static_cast<Any *>(out);
    size_t n = static_cast<size_t>(next - p);
    if (canonical) {
        if (n > 0xFFFFFFFFu) return err.set(QRT_ASN_E_LIMITED, p, "open type too long");
        a->value = static_cast<unsigned char *>(alloc(n));
        if (!a->value) return oom(p);
        std::memcpy(a->value, p, n);
        a->length = static_cast<unsigned int>(n);
    } else {
        std::vector<uint8_t> norm;
        const uint8_t *after;
        if (!normalize_element(p, end, depth_, norm, after, err)) return false;
        a->value = static_cast<unsigned char *>(alloc(norm.size()));
        if (!a->value) return oom(p);
        std::memcpy(a->value, norm.data(), norm.size());
        a->length = static_cast<unsigned int>(norm.size());
    }
    p = next;
    return true;
}

}  // namespace

bool skip_element(const uint8_t *p, const uint8_t *end, bool der, unsigned depth, const uint8_t *&next, bool &canonical,
                  Err &e) {
    Tlv t;
    if (!read_header(p, end, der, t, e)) return false;
    if (!t.minimal) canonical = false;
    if (!t.cons) {
        next = t.end;
        return true;
    }
    if (depth + 1 > kMaxDepth) return e.set(QRT_ASN_E_LIMITED, p, "nesting deeper than 64 levels");
    if (t.indef) canonical = false;
    if (is_universal_string(t.tag)) {
        if (der) return e.set(QRT_ASN_E_DATA_ERROR, p, "constructed string in DER");
        canonical = false;
    }
    Window w = open(t);
    while (!w.at_end())
        if (!skip_element(w.p, w.end, der, depth + 1, w.p, canonical, e)) return false;
    return w.close(next, e);
}

namespace {

void put_len(std::vector<uint8_t> &out, size_t pos, size_t n) {
    uint8_t b[9];
    size_t k = length_octets(n, b);
    out.insert(out.begin() + static_cast<std::ptrdiff_t>(pos), b, b + k);
}

void put_ident(std::vector<uint8_t> &out, uint32_t tag, bool cons) {
    uint8_t b[6];
    size_t k = ident_octets(tag, cons, b);
    out.insert(out.end(), b, b + k);
}

// Concatenated contents of the segments of a constructed universal string.
bool flatten(const Tlv &t, unsigned depth, bool bits, std::vector<uint8_t> &data, unsigned &unused, Err &e,
             const uint8_t *&next) {
    if (depth + 1 > kMaxDepth) return e.set(QRT_ASN_E_LIMITED, t.start, "nesting deeper than 64 levels");
    Window w = open(t);
    while (!w.at_end()) {
        Tlv c;
        if (!read_header(w.p, w.end, false, c, e)) return false;
        if ((c.tag & 0x3FFFFFFFu) != (t.tag & 0x3FFFFFFFu) || (c.tag >> 30) != 0)
            return e.set(QRT_ASN_E_DATA_ERROR, w.p, "segment of a constructed string has the wrong tag");
        if (c.cons) {
            if (!flatten(c, depth + 1, bits, data, unused, e, w.p)) return false;
            continue;
        }
        const uint8_t *s = c.content;
        size_t n = static_cast<size_t>(c.end - c.content);
        if (bits) {
            if (n == 0 || s[0] > 7) return e.set(QRT_ASN_E_DATA_ERROR, w.p, "bad BIT STRING segment");
            if (unused) return e.set(QRT_ASN_E_DATA_ERROR, w.p, "unused bits in a BIT STRING segment before the last");
            unused = s[0];
            ++s;
            --n;
        }
        data.insert(data.end(), s, s + n);
        w.p = c.end;
    }
    return w.close(next, e);
}

}  // namespace

bool normalize_element(const uint8_t *p, const uint8_t *end, unsigned depth, std::vector<uint8_t> &out,
                       const uint8_t *&next, Err &e) {
    Tlv t;
    if (!read_header(p, end, false, t, e)) return false;
    if (!t.cons) {
        put_ident(out, t.tag, false);
        size_t pos = out.size();
        out.insert(out.end(), t.content, t.end);
        put_len(out, pos, static_cast<size_t>(t.end - t.content));
        next = t.end;
        return true;
    }
    if (depth + 1 > kMaxDepth) return e.set(QRT_ASN_E_LIMITED, p, "nesting deeper than 64 levels");
    if (is_universal_string(t.tag)) {
        bool bits = (t.tag & 0x3FFFFFFFu) == 3;
        std::vector<uint8_t> data;
        unsigned unused = 0;
        if (!flatten(t, depth, bits, data, unused, e, next)) return false;
        put_ident(out, t.tag, false);
        size_t pos = out.size();
        if (bits) out.push_back(static_cast<uint8_t>(unused));
        out.insert(out.end(), data.begin(), data.end());
        put_len(out, pos, out.size() - pos);
        return true;
    }
    put_ident(out, t.tag, true);
    size_t pos = out.size();
    Window w = open(t);
    while (!w.at_end())
        if (!normalize_element(w.p, w.end, depth + 1, out, w.p, e)) return false;
    if (!w.close(next, e)) return false;
    put_len(out, pos, out.size() - pos);
    return true;
}

namespace {

void record(ZQ_ASN_CTX *ctx, const Err &e, const uint8_t *base) {
    ctx->errorCode = e.code;
    std::snprintf(ctx->errorText, sizeof ctx->errorText, "%s at offset %zu", e.what,
                  e.at && e.at >= base ? static_cast<size_t>(e.at - base) : size_t{0});
}

}  // namespace

int engine_decode(ZQ_ASN_CTX *ctx, int pdu, const unsigned char *in, size_t len, void **out) {
    *out = nullptr;
    ctx->errorCode = 0;
    ctx->errorText[0] = 0;
    if (pdu <= 0 || static_cast<unsigned>(pdu) >= kPduCount || kPdus[pdu] < 0) {
        ctx->errorCode = QRT_ASN_E_BAD_PDU;
        std::snprintf(ctx->errorText, sizeof ctx->errorText, "no type has the number %d", pdu);
        return ctx->errorCode;
    }
    const TypeDesc &d = kTypes[kPdus[pdu]];
    Err e;
    const uint8_t *p = in, *end = in + len;
    {
        uint32_t tag;
        bool cons;
        const uint8_t *q = p;
        if (!read_tag(q, end, tag, cons, e)) {
            record(ctx, e, in);
            return e.code;
        }
        if (!type_accepts(d, tag)) {
            e.set(QRT_ASN_E_PDU_MISMATCH, p, "the input is not of the PDU's type");
            record(ctx, e, in);
            return e.code;
        }
    }
    void *root = ctx->allocFn(value_size(d));
    if (!root) {
        e.set(QRT_ASN_E_OUT_MEMORY, p, "out of memory");
        record(ctx, e, in);
        return e.code;
    }
    std::memset(root, 0, value_size(d));
    Decoder dec(ctx);
    bool ok;
    try {
        ok = dec.value(d, 0, p, end, root);
        if (ok && p != end) ok = dec.err.set(QRT_ASN_E_DATA_ERROR, p, "data after the end of the value");
    } catch (const std::bad_alloc &) {
        ok = dec.err.set(QRT_ASN_E_OUT_MEMORY, p, "out of memory");
    }
    if (!ok) {
        record(ctx, dec.err, in);
        engine_free(ctx, pdu, root);
        ctx->errorCode = dec.err.code;
        return dec.err.code;
    }
    *out = root;
    return 0;
}

}  // namespace ostrel::asn
