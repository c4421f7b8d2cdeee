// One block of memory with one owner, grown only when a page needs more than
// it holds: never per row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace iff::tiff {

class OwnedBuffer {
  public:
    OwnedBuffer() = default;
    OwnedBuffer(const OwnedBuffer &) = delete;
    OwnedBuffer &operator=(const OwnedBuffer &) = delete;
    ~OwnedBuffer() { std::free(data_); }

    // At least size bytes (contents not kept); false when memory is short.
    bool reserve(size_t size) {
        if (size <= capacity_) return true;
        void *block = std::malloc(size);
        if (block == nullptr) return false;
        std::free(data_);
        data_ = static_cast<uint8_t *>(block);
        capacity_ = size;
        return true;
    }
    uint8_t *data() { return data_; }

  private:
    uint8_t *data_ = nullptr;
    size_t capacity_ = 0;
};

} // namespace iff::tiff
