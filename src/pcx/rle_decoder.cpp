#include "pcx/rle_decoder.h"

#include <cstring>

#include "pcx/read_buffer.h"

namespace iff {
namespace {

constexpr uint8_t kCountMark = 0xC0;

// Number of leading bytes of data[0..limit) below 0xC0 (literals). A byte
// with both top bits set is found eight at a time: in x & (x << 1) bit 7 of a
// byte is set exactly when bits 7 and 6 of that byte were.
inline uint32_t literal_stretch(const uint8_t *data, uint32_t limit) {
    uint32_t i = 0;
    for (; i + 8 <= limit; i += 8) {
        uint64_t word;
        std::memcpy(&word, data + i, 8);
        const uint64_t marks = word & (word << 1) & 0x8080808080808080ULL;
        if (marks != 0) {
            uint32_t first = 0;
            while (data[i + first] < kCountMark) ++first;
            return i + first;
        }
    }
    while (i < limit && data[i] < kCountMark) ++i;
    return i;
}

} // namespace

int32_t decode_line(IFFHandle &h) {
    int32_t remaining = h.scan_bytes;
    if (remaining <= 0) return 0;
    uint8_t *out = h.line_buffer;
    uint8_t *cursor = h.read_cursor;
    uint32_t available = h.read_available;

    // One byte through the buffer, refilling it when empty; -1 at the end.
    auto fetch = [&]() -> int32_t {
        if (available > 0) {
            --available;
            return *cursor++;
        }
        const int32_t b = read_buffer_refill(h);
        cursor = h.read_cursor;
        available = h.read_available;
        return b;
    };
    auto sync = [&]() {
        h.read_cursor = cursor;
        h.read_available = available;
    };

    while (remaining > 0) {
        if (available > 0 && *cursor < kCountMark) {
            const uint32_t limit = available < uint32_t(remaining) ? available : uint32_t(remaining);
            const uint32_t n = literal_stretch(cursor, limit);
            std::memcpy(out, cursor, n);
            out += n;
            cursor += n;
            available -= n;
            remaining -= int32_t(n);
            continue;
        }
        const int32_t b = fetch();
        if (b < 0) {
            sync();
            return 1;
        }
        if ((b & kCountMark) != kCountMark) {
            *out++ = uint8_t(b);
            --remaining;
            continue;
        }
        int32_t count = b & 0x3F;
        const int32_t value = fetch();
        if (value < 0) {
            sync();
            return 1;
        }
        if (count > remaining) {
            // The pair's own two bytes take the rest of the run; when the data
            // byte began a refill, the count byte lands in the headroom.
            cursor -= 2;
            available += 2;
            cursor[0] = uint8_t((count - remaining) | kCountMark);
            cursor[1] = uint8_t(value);
            count = remaining;
        }
        std::memset(out, value, 64); // within kLineSlack; only count bytes are kept
        out += count;
        remaining -= count;
    }
    sync();
    return 0;
}

} // namespace iff
