#include "pcx/read_buffer.h"

#include "pcx/stream_io.h"
#include "platform/heap.h"

namespace iff {

int32_t read_buffer_create(IFFHandle &h, int32_t capacity) {
    auto *block = static_cast<uint8_t *>(heap_alloc(size_t(capacity) + kReadHeadroom));
    if (block == nullptr) {
        h.read_buffer = h.read_cursor = nullptr;
        h.read_available = 0;
        return IFF_ERR_MEMORY;
    }
    h.read_buffer = h.read_cursor = block + kReadHeadroom;
    h.read_capacity = capacity;
    h.read_available = 0;
    return IFF_OK;
}

int32_t read_buffer_release(IFFHandle &h) {
    if (h.read_buffer == nullptr) return 0;
    heap_free(h.read_buffer - kReadHeadroom);
    h.read_buffer = h.read_cursor = nullptr;
    h.read_available = 0;
    return 1;
}

int32_t read_buffer_refill(IFFHandle &h) {
    h.read_cursor = h.read_buffer;
    h.read_available = 0;
    int32_t n = stream_read(h, h.read_buffer, h.read_capacity);
    if (n <= 0) return -1;
    if (n > h.read_capacity) n = h.read_capacity; // a callback that claims more than it was given room for
    h.read_available = uint32_t(n - 1);
    return *h.read_cursor++;
}

} // namespace iff
