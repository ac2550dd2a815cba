// One bounds-checked reader for outside bytes: a view with a cursor whose every read either
// advances or fails, and never reads past the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace ostrel {

class Reader {
  public:
    Reader() = default;
    Reader(const void *data, size_t len) : p_(static_cast<const uint8_t *>(data)), n_(data ? len : 0) {}

    size_t remaining() const { return n_; }
    bool empty() const { return n_ == 0; }
    const uint8_t *data() const { return p_; }

    [[nodiscard]] bool u8(uint8_t &out) {
        if (n_ < 1) return false;
        out = *p_;
        advance(1);
        return true;
    }
    [[nodiscard]] bool be16(uint16_t &out) {
        if (n_ < 2) return false;
        out = static_cast<uint16_t>((p_[0] << 8) | p_[1]);
        advance(2);
        return true;
    }
    [[nodiscard]] bool be32(uint32_t &out) {
        if (n_ < 4) return false;
        out = (uint32_t{p_[0]} << 24) | (uint32_t{p_[1]} << 16) | (uint32_t{p_[2]} << 8) | p_[3];
        advance(4);
        return true;
    }
    // Splits off the next `len` bytes as a sub-reader.
    [[nodiscard]] bool sub(size_t len, Reader &out) {
        if (n_ < len) return false;
        out = Reader(p_, len);
        advance(len);
        return true;
    }
    [[nodiscard]] bool copy(void *dst, size_t len) {
        if (n_ < len) return false;
        if (len) std::memcpy(dst, p_, len);
        advance(len);
        return true;
    }
    [[nodiscard]] bool skip(size_t len) {
        if (n_ < len) return false;
        advance(len);
        return true;
    }
    [[nodiscard]] bool peek(uint8_t &out) const {
        if (n_ < 1) return false;
        out = *p_;
        return true;
    }

  private:
    void advance(size_t k) {
        p_ += k;
        n_ -= k;
    }
    const uint8_t *p_ = nullptr;
    size_t n_ = 0;
};

}  // namespace ostrel
