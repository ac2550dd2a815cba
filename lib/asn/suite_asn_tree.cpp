// Walks over value trees: release, deep copy and comparison, all driven by the descriptors.
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include <atomic>
#include <mutex>

#include "asn_engine.hpp"
#include "asn_internal.h"
#include "asn_release_hook.h"

namespace ostrel::asn {

namespace {

struct Node {
    Node *next;
};

// ---- release hooks ------------------------------------------------------------------------

struct Hook {
    std::atomic<const TypeDesc *> type{nullptr};
    std::atomic<QRT_ASN_ReleaseHook> fn{nullptr};
};
constexpr unsigned kMaxHooks = 4;
Hook g_hooks[kMaxHooks];
// Published after the slot is filled: a releasing thread reads only slots below it.
std::atomic<unsigned> g_hook_count{0};
std::mutex g_hook_lock;

// One relaxed load per constructed value when no hook is registered.
inline void run_hooks(const TypeDesc &d, void *v) {
    unsigned n = g_hook_count.load(std::memory_order_acquire);
    for (unsigned i = 0; i < n; ++i)
        if (g_hooks[i].type.load(std::memory_order_relaxed) == &d) g_hooks[i].fn.load(std::memory_order_relaxed)(v);
}

// ---- release ------------------------------------------------------------------------------

// in_kept: the value lies inside a field whose received encoding is kept; the kept encodings of
// the fields within it are views into that one and are not released on their own.
void free_value(ZQ_ASN_CTX *ctx, const TypeDesc &d, void *v, bool in_kept = false);

void free_field(ZQ_ASN_CTX *ctx, const Field &f, void *slot, bool in_kept) {
    const TypeDesc &d = kTypes[f.type];
    if (f.flags & F_PTR) {
        void *p = *static_cast<void **>(slot);
        if (p) {
            free_value(ctx, d, p, in_kept);
            ctx->freeFn(p);
            *static_cast<void **>(slot) = nullptr;
        }
        return;
    }
    free_value(ctx, d, slot, in_kept);
}

// Every pointer of the tree is released whether or not its presence bit is set: trees are
// built zeroed, and a field whose bit was cleared must not leak.
void free_value(ZQ_ASN_CTX *ctx, const TypeDesc &d, void *v, bool in_kept) {
    switch (d.kind) {
        case K_HUGE: {
            HUGE *h = static_cast<HUGE *>(v);
            ctx->freeFn(h->value);
            h->value = nullptr;
            h->length = 0;
            break;
        }
        case K_OID: {
            ObjectID *o = static_cast<ObjectID *>(v);
            ctx->freeFn(o->value);
            o->value = nullptr;
            o->length = 0;
            break;
        }
        case K_BITS: {
            BitString *b = static_cast<BitString *>(v);
            ctx->freeFn(b->value);
            b->value = nullptr;
            b->length = 0;
            break;
        }
        case K_OCTETS:
        case K_STRING:
        case K_ANY: {
            BIN *b = static_cast<BIN *>(v);
            ctx->freeFn(b->value);
            b->value = nullptr;
            b->length = 0;
            break;
        }
        case K_SEQ:
        case K_SET: {
            if (g_hook_count.load(std::memory_order_relaxed)) run_hooks(d, v);
            const Field *fs = fields_of(d);
            if (!(d.flags & T_KEPT)) {
                for (unsigned i = 0; i < d.nfields; ++i)
                    free_field(ctx, fs[i], static_cast<uint8_t *>(v) + fs[i].offset, in_kept);
                break;
            }
            for (unsigned i = 0; i < d.nfields; ++i) {
                free_field(ctx, fs[i], static_cast<uint8_t *>(v) + fs[i].offset, in_kept || fs[i].kept);
                if (fs[i].kept) {
                    Any *a = reinterpret_cast<Any *>(static_cast<uint8_t *>(v) + fs[i].kept);
                    if (!in_kept) ctx->freeFn(a->value);
                    a->value = nullptr;
                    a->length = 0;
                }
            }
            break;
        }
        case K_CHOICE: {
            unsigned idx = *static_cast<unsigned short *>(v);
            if (idx >= 1 && idx <= d.nfields) {
                const Field &f = fields_of(d)[idx - 1];
                free_field(ctx, f, static_cast<uint8_t *>(v) + f.offset, in_kept);
            }
            break;
        }
        case K_SEQOF:
        case K_SETOF: {
            const Field &ef = fields_of(d)[0];
            Node *n = *static_cast<Node **>(v);
            *static_cast<Node **>(v) = nullptr;
            while (n) {
                Node *next = n->next;
                free_field(ctx, ef, reinterpret_cast<uint8_t *>(n) + ef.offset, in_kept);
                ctx->freeFn(n);
                n = next;
            }
            break;
        }
        case K_TAGGED:
            free_value(ctx, kTypes[d.inner], v, in_kept);
            break;
        default:
            break;
    }
}

// ---- copy ---------------------------------------------------------------------------------

class Copier {
  public:
    explicit Copier(ZQ_ASN_CTX *ctx) : ctx_(ctx) {}
    int code = 0;
    const char *what = "";

    bool value(const TypeDesc &d, const void *s, void *o);

  private:
    bool fail(int c, const char *w) {
        if (!code) {
            code = c;
            what = w;
        }
        return false;
    }
    template <class T>
    bool dup(T &o, const T &s) {
        o.length = s.length;
        o.value = nullptr;
        if (!s.value) {
            if (s.length) return fail(QRT_ASN_E_BAD_PTR, "buffer missing in the source value");
            return true;
        }
        o.value = static_cast<unsigned char *>(ctx_->allocFn(static_cast<size_t>(s.length) + 1));
        if (!o.value) return fail(QRT_ASN_E_OUT_MEMORY, "out of memory");
        std::memcpy(o.value, s.value, s.length);
        o.value[s.length] = 0;
        return true;
    }
    bool field(const Field &f, const void *s, void *o);
    bool kept_field(const Field &f, const void *s, void *o);

    // The kept encoding being copied (source bytes and their copy), which the kept encodings of
    // the fields inside it point into.
    struct Region {
        bool inside = false;
        const unsigned char *src = nullptr;
        size_t len = 0;
        unsigned char *dst = nullptr;
    };

    ZQ_ASN_CTX *ctx_;
    unsigned depth_ = 0;
    Region region_;
};

// A field with a kept encoding: the outermost is duplicated, those inside it become views into
// the duplicate (a view the source holds elsewhere is dropped, as the release rule expects).
bool Copier::kept_field(const Field &f, const void *s, void *o) {
    const Any &sa = *reinterpret_cast<const Any *>(static_cast<const uint8_t *>(s) + f.kept);
    Any &oa = *reinterpret_cast<Any *>(static_cast<uint8_t *>(o) + f.kept);
    const void *sv = static_cast<const uint8_t *>(s) + f.offset;
    void *ov = static_cast<uint8_t *>(o) + f.offset;
    if (region_.inside) {
        if (sa.value && region_.src && sa.value >= region_.src && sa.length <= region_.len &&
            static_cast<size_t>(sa.value - region_.src) <= region_.len - sa.length) {
            oa.value = region_.dst + (sa.value - region_.src);
            oa.length = sa.length;
        }
        return field(f, sv, ov);
    }
    if (!dup(oa, sa)) return false;
    Region saved = region_;
    region_ = Region{true, oa.value ? sa.value : nullptr, oa.value ? sa.length : 0, oa.value};
    bool ok = field(f, sv, ov);
    region_ = saved;
    return ok;
}

bool Copier::field(const Field &f, const void *s, void *o) {
    const TypeDesc &d = kTypes[f.type];
    if (!(f.flags & F_PTR)) return value(d, s, o);
    const void *sp = *static_cast<const void *const *>(s);
    if (!sp) return fail(QRT_ASN_E_BAD_PTR, "missing value behind a pointer field");
    void *op = ctx_->allocFn(d.size);
    if (!op) return fail(QRT_ASN_E_OUT_MEMORY, "out of memory");
    std::memset(op, 0, d.size);
    *static_cast<void **>(o) = op;
    return value(d, sp, op);
}

bool Copier::value(const TypeDesc &d, const void *s, void *o) {
    if (++depth_ > 4 * kMaxDepth) return fail(QRT_ASN_E_TOO_LONG, "value nested too deeply");
    bool ok = true;
    switch (d.kind) {
        case K_BOOL:
            *static_cast<unsigned char *>(o) = *static_cast<const unsigned char *>(s);
            break;
        case K_INT:
            *static_cast<int *>(o) = *static_cast<const int *>(s);
            break;
        case K_NAMEDBITS:
            std::memcpy(o, s, d.size);
            break;
        case K_NULL:
            break;
        case K_UTCTIME:
        case K_GENTIME:
            *static_cast<GeneralizedTime *>(o) = *static_cast<const GeneralizedTime *>(s);
            break;
        case K_HUGE:
            ok = dup(*static_cast<HUGE *>(o), *static_cast<const HUGE *>(s));
            break;
        case K_OID:
            ok = dup(*static_cast<ObjectID *>(o), *static_cast<const ObjectID *>(s));
            break;
        case K_BITS: {
            const BitString *sb = static_cast<const BitString *>(s);
            BitString *ob = static_cast<BitString *>(o);
            BIN tmp{(sb->length + 7) / 8, sb->value}, out{0, nullptr};
            ok = dup(out, tmp);
            ob->value = out.value;
            ob->length = sb->length;
            break;
        }
        case K_OCTETS:
        case K_STRING:
        case K_ANY:
            ok = dup(*static_cast<BIN *>(o), *static_cast<const BIN *>(s));
            break;
        case K_SEQ:
        case K_SET: {
            const Field *fs = fields_of(d);
            uint32_t mask = get_mask(s, d.mask_bytes);
            if (d.mask_bytes) std::memcpy(o, s, d.mask_bytes);
            for (unsigned i = 0; ok && i < d.nfields; ++i) {
                const Field &f = fs[i];
                if ((f.flags & (F_OPTIONAL | F_DEFAULT)) && !(mask & f.present)) {
                    if (!(f.flags & F_PTR)) {
                        // absent DEFAULT fields keep their default value
                        const TypeDesc *fd = &kTypes[f.type];
                        while (fd->kind == K_TAGGED) fd = &kTypes[fd->inner];
                        if (fd->kind == K_BOOL || fd->kind == K_INT || fd->kind == K_NAMEDBITS)
                            std::memcpy(static_cast<uint8_t *>(o) + f.offset,
                                        static_cast<const uint8_t *>(s) + f.offset, fd->size);
                    }
                    continue;
                }
                // a copy of a received tree is still verifiable over the bytes that arrived
                ok = f.kept
                         ? kept_field(f, s, o)
                         : field(f, static_cast<const uint8_t *>(s) + f.offset, static_cast<uint8_t *>(o) + f.offset);
            }
            break;
        }
        case K_CHOICE: {
            unsigned idx = *static_cast<const unsigned short *>(s);
            if (idx < 1 || idx > d.nfields) {
                ok = fail(QRT_ASN_E_BAD_CHOICE, "choice number out of range");
                break;
            }
            *static_cast<unsigned short *>(o) = static_cast<unsigned short>(idx);
            const Field &f = fields_of(d)[idx - 1];
            ok = field(f, static_cast<const uint8_t *>(s) + f.offset, static_cast<uint8_t *>(o) + f.offset);
            break;
        }
        case K_SEQOF:
        case K_SETOF: {
            const Field &ef = fields_of(d)[0];
            Node **tail = static_cast<Node **>(o);
            size_t count = 0;
            for (const Node *n = *static_cast<const Node *const *>(s); ok && n; n = n->next) {
                if (++count > kMaxElements) {
                    ok = fail(QRT_ASN_E_TOO_LONG, "list longer than 1048576 elements");
                    break;
                }
                Node *c = static_cast<Node *>(ctx_->allocFn(d.size));
                if (!c) {
                    ok = fail(QRT_ASN_E_OUT_MEMORY, "out of memory");
                    break;
                }
                std::memset(c, 0, d.size);
                *tail = c;
                tail = &c->next;
                ok = field(ef, reinterpret_cast<const uint8_t *>(n) + ef.offset,
                           reinterpret_cast<uint8_t *>(c) + ef.offset);
            }
            break;
        }
        case K_TAGGED:
            ok = value(kTypes[d.inner], s, o);
            break;
        default:
            ok = fail(QRT_ASN_E_FATAL_ERROR, "descriptor of unknown kind");
    }
    --depth_;
    return ok;
}

// ---- comparison ---------------------------------------------------------------------------

bool equal_value(const TypeDesc &d, const void *a, const void *b, unsigned depth);

bool equal_field(const Field &f, const void *a, const void *b, unsigned depth) {
    const TypeDesc &d = kTypes[f.type];
    if (f.flags & F_PTR) {
        const void *pa = *static_cast<const void *const *>(a), *pb = *static_cast<const void *const *>(b);
        if (!pa || !pb) return pa == pb;
        return equal_value(d, pa, pb, depth);
    }
    return equal_value(d, a, b, depth);
}

template <class T>
bool same_bytes(const T &a, const T &b) {
    if (a.length != b.length) return false;
    if (!a.length) return true;
    if (!a.value || !b.value) return a.value == b.value;
    return std::memcmp(a.value, b.value, a.length) == 0;
}

// The C value of an absent DEFAULT field of a simple type, for comparing with a present one.
bool default_equals(const Field &f, const void *slot) {
    if (f.dflt < 0 || !kDefaults[f.dflt].has_value) return false;
    const TypeDesc *d = &kTypes[f.type];
    while (d->kind == K_TAGGED) d = &kTypes[d->inner];
    int v = kDefaults[f.dflt].value;
    switch (d->kind) {
        case K_BOOL:
            return (*static_cast<const unsigned char *>(slot) != 0) == (v != 0);
        case K_INT:
            return *static_cast<const int *>(slot) == v;
        case K_NAMEDBITS:
            return d->size == 2 ? *static_cast<const unsigned short *>(slot) == static_cast<unsigned short>(v)
                                : *static_cast<const unsigned int *>(slot) == static_cast<unsigned int>(v);
        default:
            return false;
    }
}

// The elements of a SET OF are unordered: two short sets are equal when every element of one
// matches a distinct element of the other.
bool same_members(const Field &ef, const void *a, const void *b, unsigned depth) {
    constexpr size_t kMax = 64;
    const Node *xs[kMax], *ys[kMax];
    size_t nx = 0, ny = 0;
    for (const Node *n = *static_cast<const Node *const *>(a); n; n = n->next) {
        if (nx == kMax) return false;
        xs[nx++] = n;
    }
    for (const Node *n = *static_cast<const Node *const *>(b); n; n = n->next) {
        if (ny == kMax) return false;
        ys[ny++] = n;
    }
    if (nx != ny) return false;
    bool used[kMax] = {};
    for (size_t i = 0; i < nx; ++i) {
        size_t j = 0;
        for (; j < ny; ++j)
            if (!used[j] && equal_field(ef, reinterpret_cast<const uint8_t *>(xs[i]) + ef.offset,
                                        reinterpret_cast<const uint8_t *>(ys[j]) + ef.offset, depth + 1))
                break;
        if (j == ny) return false;
        used[j] = true;
    }
    return true;
}

bool equal_value(const TypeDesc &d, const void *a, const void *b, unsigned depth) {
    if (depth > 4 * kMaxDepth) return false;
    switch (d.kind) {
        case K_BOOL:
            return (*static_cast<const unsigned char *>(a) != 0) == (*static_cast<const unsigned char *>(b) != 0);
        case K_INT:
            return *static_cast<const int *>(a) == *static_cast<const int *>(b);
        case K_NAMEDBITS:
            return std::memcmp(a, b, d.size) == 0;
        case K_NULL:
            return true;
        case K_UTCTIME:
        case K_GENTIME: {
            const GeneralizedTime &x = *static_cast<const GeneralizedTime *>(a);
            const GeneralizedTime &y = *static_cast<const GeneralizedTime *>(b);
            return x.year == y.year && x.month == y.month && x.day == y.day && x.hour == y.hour &&
                   x.minute == y.minute && x.second == y.second && x.millisec == y.millisec && x.mindiff == y.mindiff &&
                   (x.utc != 0) == (y.utc != 0);
        }
        case K_HUGE:
            return same_bytes(*static_cast<const HUGE *>(a), *static_cast<const HUGE *>(b));
        case K_OID:
            return same_bytes(*static_cast<const ObjectID *>(a), *static_cast<const ObjectID *>(b));
        case K_OCTETS:
        case K_STRING:
        case K_ANY:
            return same_bytes(*static_cast<const BIN *>(a), *static_cast<const BIN *>(b));
        case K_BITS: {
            const BitString &x = *static_cast<const BitString *>(a), &y = *static_cast<const BitString *>(b);
            if (x.length != y.length) return false;
            size_t n = x.length / 8;
            unsigned rest = x.length % 8;
            if (!x.length) return true;
            if (!x.value || !y.value) return x.value == y.value;
            if (n && std::memcmp(x.value, y.value, n) != 0) return false;
            if (rest) {
                uint8_t m = static_cast<uint8_t>(0xFF << (8 - rest));
                if ((x.value[n] & m) != (y.value[n] & m)) return false;
            }
            return true;
        }
        case K_SEQ:
        case K_SET: {
            const Field *fs = fields_of(d);
            uint32_t ma = get_mask(a, d.mask_bytes), mb = get_mask(b, d.mask_bytes);
            for (unsigned i = 0; i < d.nfields; ++i) {
                const Field &f = fs[i];
                const uint8_t *fa = static_cast<const uint8_t *>(a) + f.offset;
                const uint8_t *fb = static_cast<const uint8_t *>(b) + f.offset;
                if (f.flags & (F_OPTIONAL | F_DEFAULT)) {
                    bool pa = (ma & f.present) != 0, pb = (mb & f.present) != 0;
                    if (!pa && !pb) continue;
                    if (pa != pb) {
                        // a DEFAULT field left out equals one that carries the default value
                        if ((f.flags & F_DEFAULT) && !(f.flags & F_PTR) && default_equals(f, pa ? fa : fb)) continue;
                        return false;
                    }
                }
                if (!equal_field(f, fa, fb, depth + 1)) return false;
            }
            return true;
        }
        case K_CHOICE: {
            unsigned ia = *static_cast<const unsigned short *>(a), ib = *static_cast<const unsigned short *>(b);
            if (ia != ib || ia < 1 || ia > d.nfields) return false;
            const Field &f = fields_of(d)[ia - 1];
            return equal_field(f, static_cast<const uint8_t *>(a) + f.offset,
                               static_cast<const uint8_t *>(b) + f.offset, depth + 1);
        }
        case K_SEQOF:
        case K_SETOF: {
            const Field &ef = fields_of(d)[0];
            const Node *x = *static_cast<const Node *const *>(a), *y = *static_cast<const Node *const *>(b);
            size_t count = 0;
            for (; x && y; x = x->next, y = y->next) {
                if (++count > kMaxElements) return false;
                if (!equal_field(ef, reinterpret_cast<const uint8_t *>(x) + ef.offset,
                                 reinterpret_cast<const uint8_t *>(y) + ef.offset, depth + 1))
                    break;
            }
            if (!x && !y) return true;
            return d.kind == K_SETOF && same_members(ef, a, b, depth);
        }
        case K_TAGGED:
            return equal_value(kTypes[d.inner], a, b, depth + 1);
        default:
            return false;
    }
}

bool valid_pdu(ZQ_ASN_CTX *ctx, int pdu) {
    if (pdu > 0 && static_cast<unsigned>(pdu) < kPduCount && kPdus[pdu] >= 0) return true;
    ctx->errorCode = QRT_ASN_E_BAD_PDU;
    std::snprintf(ctx->errorText, sizeof ctx->errorText, "no type has the number %d", pdu);
    return false;
}

}  // namespace

int engine_free(ZQ_ASN_CTX *ctx, int pdu, void *value) {
    if (!valid_pdu(ctx, pdu)) return QRT_ASN_E_BAD_PDU;
    if (!value) return 0;
    free_value(ctx, kTypes[kPdus[pdu]], value);
    ctx->freeFn(value);
    return 0;
}

int engine_copy(ZQ_ASN_CTX *ctx, int pdu, const void *src, void **dst) {
    *dst = nullptr;
    if (!valid_pdu(ctx, pdu)) return QRT_ASN_E_BAD_PDU;
    const TypeDesc &d = kTypes[kPdus[pdu]];
    size_t n = value_size(d);
    void *o = ctx->allocFn(n);
    if (!o) {
        ctx->errorCode = QRT_ASN_E_OUT_MEMORY;
        std::snprintf(ctx->errorText, sizeof ctx->errorText, "out of memory");
        return ctx->errorCode;
    }
    std::memset(o, 0, n);
    Copier c(ctx);
    bool ok;
    try {
        ok = c.value(d, src, o);
    } catch (const std::bad_alloc &) {
        ok = false;
        c.code = QRT_ASN_E_OUT_MEMORY;
        c.what = "out of memory";
    }
    if (!ok) {
        free_value(ctx, d, o);
        ctx->freeFn(o);
        ctx->errorCode = c.code;
        std::snprintf(ctx->errorText, sizeof ctx->errorText, "%s", c.what);
        return c.code;
    }
    *dst = o;
    return 0;
}

int engine_compare(ZQ_ASN_CTX *ctx, int pdu, const void *a, const void *b) {
    if (!valid_pdu(ctx, pdu)) return 1;
    if (a == b) return 0;
    if (!a || !b) return 1;
    return equal_value(kTypes[kPdus[pdu]], a, b, 0) ? 0 : 1;
}

}  // namespace ostrel::asn

extern "C" QRT_API int QRT_ASN_SetReleaseHook(int pdu, QRT_ASN_ReleaseHook hook) {
    using namespace ostrel::asn;
    if (!hook || pdu <= 0 || static_cast<unsigned>(pdu) >= kPduCount || kPdus[pdu] < 0) return QRT_ASN_INVALID_INPUT;
    const TypeDesc *type = &kTypes[kPdus[pdu]];
    if (type->kind != K_SEQ && type->kind != K_SET) return QRT_ASN_INVALID_INPUT;
    std::lock_guard<std::mutex> lock(g_hook_lock);
    unsigned n = g_hook_count.load(std::memory_order_relaxed);
    for (unsigned i = 0; i < n; ++i)
        if (g_hooks[i].type.load(std::memory_order_relaxed) == type && g_hooks[i].fn.load(std::memory_order_relaxed) == hook)
            return 0;
    if (n == kMaxHooks) return QRT_ASN_INVALID_INPUT;
    g_hooks[n].type.store(type, std::memory_order_relaxed);
    g_hooks[n].fn.store(hook, std::memory_order_relaxed);
    g_hook_count.store(n + 1, std::memory_order_release);
    return 0;
}
