#include "pcx/line_reader.h"

#include "pcx/header.h"
#include "pcx/read_buffer.h"
#include "pcx/rle_decoder.h"
#include "pcx/stored_lines.h"
#include "pcx/stream_io.h"
#include "pixels/planes.h"

namespace iff {
namespace {

// A handle can decode only with both buffers: a write handle has no read
// buffer, and a page parse that ran out of memory may leave either missing.
bool can_decode(const IFFHandle &h) {
    return h.read_buffer != nullptr && h.line_buffer != nullptr;
}

// Back to the page's first line: the stream at the first image byte, the
// buffer empty (which also drops a pushed-back run).
int32_t rewind_page(IFFHandle &h) {
    const int64_t first_byte = int64_t(h.page_offset) + kHeaderSize;
    if (first_byte > INT32_MAX || stream_seek(h, int32_t(first_byte), kFromStart) < 0) {
        h.error = IFF_ERR_SEEK;
        return IFF_ERR_SEEK;
    }
    read_buffer_restart(h);
    h.current_line = 0;
    return IFF_OK;
}

// The page's next scan line into line_buffer, stored or run-length coded as
// its header says: 0, or 1 when the stream ended first.
int32_t next_line(IFFHandle &h) {
    return page_lines_stored(h) ? read_stored_line(h) : decode_line(h);
}

} // namespace

int32_t get_lines(IFFHandle &h, uint32_t count, uint8_t *destination) {
    if (!can_decode(h)) return IFF_ERR_REQUEST;
    if (count > 0 && destination == nullptr) return IFF_ERR_REQUEST;
    for (uint32_t i = 0; i < count; ++i) {
        if (next_line(h) != 0) return IFF_ERR_LINE;
        h.current_line = int32_t(uint32_t(h.current_line) + 1); // wraps, never overflows
        merge_line(h, destination);
        destination += h.line_stride;
    }
    return IFF_OK;
}

int32_t seek_line(IFFHandle &h, int32_t target) {
    if (h.mode != IFF_MODE_READ) return IFF_ERR_HANDLE;
    if (!can_decode(h)) return IFF_ERR_REQUEST;
    if (target < 0) return IFF_ERR_REQUEST;
    if (h.current_line > target) {
        if (int32_t status = rewind_page(h)) return status;
    }
    while (h.current_line < target) {
        if (next_line(h) != 0) return IFF_ERR_LINE;
        h.current_line = int32_t(uint32_t(h.current_line) + 1); // wraps, never overflows
    }
    return IFF_OK;
}

} // namespace iff
