#include "pcx/stored_lines.h"

#include <cstring>

#include "pcx/header.h"
#include "pcx/read_buffer.h"

namespace iff {

bool page_lines_stored(const IFFHandle &h) {
    return h.header[pcx_format::kEncodingAt] == kStoredEncoding;
}

int32_t read_stored_line(IFFHandle &h) {
    int32_t remaining = h.scan_bytes;
    uint8_t *out = h.line_buffer;
    while (remaining > 0) {
        if (h.read_available == 0) {
            if (read_buffer_refill(h) < 0) return 1;
            // The refill hands over its first byte; it is still at the cursor's
            // left, so take the block whole.
            --h.read_cursor;
            ++h.read_available;
        }
        const uint32_t n = h.read_available < uint32_t(remaining) ? h.read_available : uint32_t(remaining);
        std::memcpy(out, h.read_cursor, n);
        out += n;
        h.read_cursor += n;
        h.read_available -= n;
        remaining -= int32_t(n);
    }
    return 0;
}

} // namespace iff
