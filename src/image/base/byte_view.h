// Read-only bytes that someone else owns: a mapped file, a buffer read from a
// pipe, or a caller's own buffer. The readers take these, so they work on any
// bytes without touching the file system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace image {

class ByteView {
  public:
    ByteView() = default;
    ByteView(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    ByteView(const std::vector<uint8_t> &bytes) : data_(bytes.data()), size_(bytes.size()) {} // NOLINT: implicit

    const uint8_t *data() const { return data_; }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const uint8_t &operator[](size_t at) const { return data_[at]; }
    const uint8_t *begin() const { return data_; }
    const uint8_t *end() const { return data_ + size_; }

    // The bytes [from, to); the caller keeps them inside the view.
    ByteView slice(size_t from, size_t to) const { return ByteView(data_ + from, to - from); }

  private:
    const uint8_t *data_ = nullptr;
    size_t size_ = 0;
};

} // namespace image
