// Owner of an ASN.1 value tree: released with QRT_ASN_FreePDU and its catalogue number unless
// handed on to the caller. For libraries that link the ASN.1 layer.
#pragma once

#include <cstring>

#include "ostrel/tlv.hpp"
#include "suite_asn.h"

namespace ostrel {

// Two object identifiers with the same length and contents octets.
inline bool oid_equal(const ObjectID &a, const ObjectID &b) {
    return a.length == b.length &&
           (a.length == 0 || (a.value && b.value && std::memcmp(a.value, b.value, a.length) == 0));
}

template <class T>
class AsnTree {
  public:
    explicit AsnTree(int pdu) : pdu_(pdu) {}
    AsnTree(int pdu, T *tree) : pdu_(pdu), tree_(tree) {}
    AsnTree(const AsnTree &) = delete;
    AsnTree &operator=(const AsnTree &) = delete;
    AsnTree(AsnTree &&o) noexcept : pdu_(o.pdu_), tree_(o.release()) {}
    ~AsnTree() { reset(); }

    // Decodes `in` into a new tree (the old one is released first); the ASN code.
    int decode(const BIN *in) {
        reset();
        void *v = nullptr;
        int rc = QRT_ASN_DecodePDU(&v, in, pdu_);
        tree_ = static_cast<T *>(v);
        return rc;
    }
    void reset(T *tree = nullptr) {
        if (tree_) QRT_ASN_FreePDU(tree_, pdu_);
        tree_ = tree;
    }
    T *release() {
        T *t = tree_;
        tree_ = nullptr;
        return t;
    }
    T *get() const { return tree_; }
    T *operator->() const { return tree_; }
    T &operator*() const { return *tree_; }
    explicit operator bool() const { return tree_ != nullptr; }
    int pdu() const { return pdu_; }

  private:
    int pdu_;
    T *tree_ = nullptr;
};

// The DER of a decoded certificate whose to-be-signed part is the one received: the bytes the
// issuer signed pass on unchanged even where the engine's encoding of the tree would differ (a
// non-minimal length, say); the algorithm and the signature are encoded from the tree. A tree
// built by hand (nothing received) is encoded whole. Release *out with QRT_BIN_Reset; 0 or the
// ASN code (-1 when memory runs out).
inline int certificate_der(BIN *out, const Certificate &cert) {
    *out = BIN{0, nullptr};
    const Any &tbs = cert.tbsCertificate_encoded;
    if (!tbs.value || !tbs.length) return QRT_ASN_EncodePDU(out, &cert, Certificate_PDU);
    BIN alg{0, nullptr};
    if (int rc = QRT_ASN_EncodePDU(&alg, &cert.signatureAlgorithm, AlgorithmIdentifier_PDU)) return rc;
    // BIT STRING: the count of unused bits, then the signature's bytes
    const size_t sigBytes = (static_cast<size_t>(cert.signature.length) + 7) / 8;
    const uint8_t unused = static_cast<uint8_t>(sigBytes * 8 - cert.signature.length);
    uint8_t sigLen[9], seqLen[9];
    const size_t sl = tlv::length_octets(sigBytes + 1, sigLen);
    const size_t body = tbs.length + alg.length + 1 + sl + 1 + sigBytes;
    const size_t ql = tlv::length_octets(body, seqLen);
    auto *p = static_cast<unsigned char *>(QRT_malloc(1 + ql + body));
    if (p) {
        unsigned char *w = p;
        auto put = [&w](const void *src, size_t n) {
            if (n) std::memcpy(w, src, n);
            w += n;
        };
        *w++ = tlv::kSequence;
        put(seqLen, ql);
        put(tbs.value, tbs.length);
        put(alg.value, alg.length);
        *w++ = tlv::kBitString;
        put(sigLen, sl);
        *w++ = unused;
        put(cert.signature.value, sigBytes);
        *out = BIN{static_cast<unsigned>(1 + ql + body), p};
    }
    QRT_BIN_Reset(&alg);
    return p ? 0 : -1;
}

}  // namespace ostrel
