// The schema engine: descriptor tables produced by the generator and the one walker that
// decodes, encodes, copies, compares and frees every type through them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ostrel/tlv.hpp"
#include "suite_asn.h"

// A tag as class (0 universal, 1 application, 2 context, 3 private) and number.
#define ASN_TAG(cls, num) ((uint32_t(cls) << 30) | uint32_t(num))

namespace ostrel::asn {

enum Kind : uint8_t {
    K_BOOL,
    K_INT,        // int
    K_HUGE,       // HUGE, INTEGER content octets
    K_BITS,       // BitString
    K_NAMEDBITS,  // unsigned short / unsigned int, bit 0 most significant
    K_OCTETS,     // BIN
    K_STRING,     // BIN, character string of the descriptor's universal tag
    K_NULL,
    K_OID,      // ObjectID
    K_UTCTIME,  // UTCTime
    K_GENTIME,  // GeneralizedTime
    K_ANY,      // Any: one complete encoding
    K_SEQ,
    K_SET,
    K_SEQOF,  // list; the one field describes the element inside the node
    K_SETOF,
    K_CHOICE,
    K_TAGGED,  // explicit tag around `inner`
};

enum FieldFlags : uint16_t {
    F_OPTIONAL = 1,
    F_DEFAULT = 2,
    F_TAGGED = 4,  // `tag` replaces (implicit) or wraps (with F_EXPLICIT) the type's own tag
    F_EXPLICIT = 8,
    F_PTR = 16,  // the member is a pointer to the value
};

enum TypeFlags : uint8_t {
    T_NONNEG = 1,  // small INTEGER whose range starts at 0 or above
    T_KEPT = 2,    // SEQUENCE or SET with a field whose received encoding is kept
};

struct Field {
    uint32_t offset;  // in the parent struct, the union (choice) or the list node
    uint16_t type;    // index into kTypes
    uint16_t flags;
    uint32_t tag;
    uint32_t present;  // bit of the parent's bit_mask for OPTIONAL and DEFAULT fields
    int16_t dflt;      // index into kDefaults, -1 without a default
    uint32_t kept;     // offset of the Any keeping the field's received encoding, 0 for none
    const char *name;
};

struct Default {
    const unsigned char *der;  // the default value encoded as the field would be
    unsigned len;
    int value;  // C value for BOOLEAN, INTEGER and named bits
    bool has_value;
};

struct TypeDesc {
    Kind kind;
    uint8_t mask_bytes;  // width of bit_mask: 0, 1, 2 or 4
    uint8_t flags;
    uint16_t nfields;
    uint32_t tag;    // tag used when the field does not give one (0 for CHOICE and ANY)
    uint32_t size;   // sizeof the C value (the node for lists)
    uint32_t first;  // first field in kFields
    uint16_t inner;  // K_TAGGED: the tagged type
    const char *name;
};

extern const Field kFields[];
extern const Default kDefaults[];
extern const TypeDesc kTypes[];
extern const unsigned kTypeCount;
extern const int kPdus[];
extern const unsigned kPduCount;
extern const ObjectID *const kOidTable[];
extern const unsigned kOidTableSize;

constexpr unsigned kMaxDepth = 64;                // nesting of constructed encodings
constexpr size_t kMaxElements = size_t{1} << 20;  // elements of one SEQUENCE OF / SET OF

// Engine entry points: each returns 0 or a QRT_ASN_E_* code and leaves the engine's message in
// ctx->errorText. Trees and buffers come from ctx's allocator.
int engine_decode(ZQ_ASN_CTX *ctx, int pdu, const unsigned char *in, size_t len, void **out);
int engine_encode(ZQ_ASN_CTX *ctx, int pdu, const void *value, unsigned char **out, size_t *outlen);
int engine_copy(ZQ_ASN_CTX *ctx, int pdu, const void *src, void **dst);
// 0 when equal, 1 when the values differ or cannot be compared.
int engine_compare(ZQ_ASN_CTX *ctx, int pdu, const void *a, const void *b);
int engine_free(ZQ_ASN_CTX *ctx, int pdu, void *value);

// Short class name of a failure for the trace ("" when the code has none).
const char *class_name(int code, bool encoding);

// Engine context set-up shared by the master context and QRT_OssInit.
int engine_init(ZQ_ASN_CTX *ctx);
void engine_final(ZQ_ASN_CTX *ctx);
int engine_set_flags(ZQ_ASN_CTX *ctx, unsigned flags);
int engine_dup(const ZQ_ASN_CTX *master, ZQ_ASN_CTX *copy);

// Object-identifier text conversions (arcs of any size).
int oid_to_dotted(ZQ_ASN_CTX *ctx, const ObjectID *oid, char **out);
int dotted_to_oid(ZQ_ASN_CTX *ctx, const char *text, ObjectID *oid);

// ---- Descriptor helpers shared by the walkers -------------------------------------------

inline const Field *fields_of(const TypeDesc &d) { return &kFields[d.first]; }

// The presence bits of a SEQUENCE or SET value (its leading bit_mask of 0, 1, 2 or 4 bytes).
inline uint32_t get_mask(const void *v, unsigned bytes) {
    switch (bytes) {
        case 1:
            return *static_cast<const uint8_t *>(v);
        case 2:
            return *static_cast<const uint16_t *>(v);
        case 4:
            return *static_cast<const uint32_t *>(v);
        default:
            return 0;
    }
}

inline void set_mask(void *v, unsigned bytes, uint32_t bit) {
    switch (bytes) {
        case 1:
            *static_cast<uint8_t *>(v) = static_cast<uint8_t>(*static_cast<uint8_t *>(v) | bit);
            break;
        case 2:
            *static_cast<uint16_t *>(v) = static_cast<uint16_t>(*static_cast<uint16_t *>(v) | bit);
            break;
        case 4:
            *static_cast<uint32_t *>(v) |= bit;
            break;
        default:
            break;
    }
}

// Size of the C value a PDU of this type is held in (a list is a pointer to its first node).
inline size_t value_size(const TypeDesc &d) { return d.kind == K_SEQOF || d.kind == K_SETOF ? sizeof(void *) : d.size; }

using tlv::length_octets;

// Identifier octets of a tag (class and number as ASN_TAG packs them); the count written into b.
inline size_t ident_octets(uint32_t tag, bool cons, uint8_t b[6]) {
    uint32_t cls = tag >> 30, num = tag & 0x3FFFFFFFu;
    uint8_t b0 = static_cast<uint8_t>((cls << 6) | (cons ? 0x20 : 0));
    if (num < 31) {
        b[0] = static_cast<uint8_t>(b0 | num);
        return 1;
    }
    uint8_t tmp[5];
    int m = 0;
    do {
        tmp[m++] = static_cast<uint8_t>(num & 0x7F);
        num >>= 7;
    } while (num);
    size_t k = 0;
    b[k++] = static_cast<uint8_t>(b0 | 0x1F);
    while (m > 1) b[k++] = static_cast<uint8_t>(0x80 | tmp[--m]);
    b[k++] = tmp[0];
    return k;
}

}  // namespace ostrel::asn
