// Owner of an ASN.1 value tree: released with QRT_ASN_FreePDU and its catalogue number unless
// handed on to the caller. For libraries that link the ASN.1 layer.
#pragma once

#include <cstring>

#include "suite_asn.h"

namespace ostrel {

// Two object identifiers with the same length and contents octets.
inline bool oid_equal(const ObjectID &a, const ObjectID &b) {
    return a.length == b.length && (a.length == 0 || (a.value && b.value && std::memcmp(a.value, b.value, a.length) == 0));
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

}  // namespace ostrel
