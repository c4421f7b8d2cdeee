#include "pcx/read_buffer.h"

#include "pcx/stream_io.h"
#include "platform/heap.h"

namespace iff {
namespace {

// Bytes the next refill may take: up to the page's data end while a line of
// the page is being decoded; past the last line, decoding goes on into
// whatever follows, up to the stream's end.
int32_t refill_size(const IFFHandle &h) {
    if (uint32_t(h.current_line) >= uint32_t(h.height)) return h.read_capacity;
    const int64_t left = h.data_end - h.read_position;
    if (left <= 0) return 0;
    return left < h.read_capacity ? int32_t(left) : h.read_capacity;
}

} // namespace

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

void read_buffer_restart(IFFHandle &h) {
    h.read_cursor = h.read_buffer;
    h.read_available = 0;
    h.read_position = int64_t(h.page_offset) + kHeaderSize;
}

int32_t read_buffer_refill(IFFHandle &h) {
    h.read_cursor = h.read_buffer;
    h.read_available = 0;
    const int32_t size = refill_size(h);
    if (size == 0) return -1;
    int32_t n = stream_read(h, h.read_buffer, size);
    if (n <= 0) return -1;
    if (n > size) n = size; // a callback that claims more than it was given room for
    h.read_position += n;
    h.read_available = uint32_t(n - 1);
    return *h.read_cursor++;
}

} // namespace iff
