#include "pcx/rle_decoder.h"

#include <cstring>

#include "core/pcx_format.h"
#include "pcx/byte_scan.h"
#include "pcx/read_buffer.h"
#include "pcx/rle_windows.h"

namespace iff {
namespace {

constexpr uint8_t kCountMark = pcx_format::kRunMark;

// Number of leading bytes of data[0..limit) below 0xC0 (literals).
inline uint32_t literal_stretch(const uint8_t *data, uint32_t limit) {
    uint32_t i = 0;
    for (; i + 8 <= limit; i += 8) {
        const uint64_t marks = count_byte_marks(load_word(data + i));
        if (marks != 0) return i + first_marked_byte(marks);
    }
    while (i < limit && data[i] < kCountMark) ++i;
    return i;
}

// The rest of a run that crosses the line's end goes back in front of the
// cursor, into the two bytes that held its pair; when the data byte began a
// refill, the count byte lands in the headroom.
inline void push_back(uint8_t *&cursor, uint32_t &available, int32_t rest, uint8_t value) {
    cursor -= 2;
    available += 2;
    cursor[0] = uint8_t(rest | kCountMark);
    cursor[1] = value;
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

    const WindowDecoders windows = window_decoders(cpu_level());
    while (remaining > 0) {
        if (windows.wide) {
            WindowState state{out, cursor, available, remaining};
            windows.wide(state);
            if (windows.narrow) windows.narrow(state);
            out = state.out;
            cursor = state.cursor;
            available = state.available;
            remaining = state.remaining;
        }
        // Fast loop, while a whole word of the buffer and of the line is left:
        // literals eight at a time, each pair without a test of the buffer's
        // end. It leaves to the paths below only a run that crosses the line's
        // end and the last bytes of the buffer and of the line.
        while (remaining >= 8 && available >= 16) {
            const uint64_t word = load_word(cursor);
            const uint64_t marks = count_byte_marks(word);
            std::memcpy(out, &word, 8); // the literals in front of a count byte; the rest is overwritten
            if (marks == 0) {
                out += 8;
                cursor += 8;
                available -= 8;
                remaining -= 8;
                continue;
            }
            const uint32_t literals = first_marked_byte(marks);
            out += literals;
            cursor += literals;
            available -= literals;
            remaining -= int32_t(literals);
            const int32_t count = cursor[0] & 0x3F;
            if (count > remaining) break;
            const uint8_t value = cursor[1];
            fill_pair(out, count, value);
            out += count;
            remaining -= count;
            cursor += 2;
            available -= 2;
        }
        if (remaining <= 0) break;
        if (available >= 2) {
            // Fast path: the next byte, and a pair's data byte, lie in the buffer.
            const uint8_t b = *cursor;
            if (b < kCountMark) {
                const uint32_t limit = available < uint32_t(remaining) ? available : uint32_t(remaining);
                const uint32_t n = literal_stretch(cursor, limit);
                if (n <= 8 && available >= 8) {
                    std::memcpy(out, cursor, 8); // short stretch: one word, into the line's slack
                } else {
                    std::memcpy(out, cursor, n);
                }
                out += n;
                cursor += n;
                available -= n;
                remaining -= int32_t(n);
                continue;
            }
            const int32_t count = b & 0x3F;
            const uint8_t value = cursor[1];
            cursor += 2;
            available -= 2;
            if (count > remaining) {
                push_back(cursor, available, count - remaining, value);
                std::memset(out, value, size_t(remaining));
                break;
            }
            std::memset(out, value, 64); // within kLineSlack; only count bytes are kept
            out += count;
            remaining -= count;
            continue;
        }
        // Careful path at the buffer's end: byte by byte, refilling as needed.
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
            push_back(cursor, available, count - remaining, uint8_t(value));
            count = remaining;
        }
        std::memset(out, value, size_t(count));
        out += count;
        remaining -= count;
    }
    sync();
    return 0;
}

} // namespace iff
