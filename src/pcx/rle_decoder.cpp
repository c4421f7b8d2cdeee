#include "pcx/rle_decoder.h"

#include <cstring>

#include "pcx/byte_scan.h"
#include "pcx/read_buffer.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define IFF_WINDOW_DECODER 1
#endif

namespace iff {
namespace {

constexpr uint8_t kCountMark = 0xC0;

#ifdef IFF_WINDOW_DECODER
// Tables for 16-byte windows taken as two halves of eight bytes.
struct WindowTables {
    // counts[c][marks]: which marked bytes of a half are count bytes, when the
    // byte in front of the half was a count byte (c = 1) or not; bit 8 says
    // the half's last byte is a count byte, so the next byte is data.
    uint16_t counts[2][256];
    // shuffle[keep]: the indices of the bytes a half keeps, in order.
    uint8_t shuffle[256][8];
    uint8_t kept[256]; // bits set in keep
};

constexpr WindowTables make_window_tables() {
    WindowTables t{};
    for (int carry = 0; carry < 2; ++carry) {
        for (int marks = 0; marks < 256; ++marks) {
            int counts = 0;
            bool previous = carry != 0;
            for (int i = 0; i < 8; ++i) {
                const bool is_count = ((marks >> i) & 1) && !previous;
                counts |= is_count << i;
                previous = is_count;
            }
            t.counts[carry][marks] = uint16_t(counts | (previous ? 0x100 : 0));
        }
    }
    for (int keep = 0; keep < 256; ++keep) {
        int n = 0;
        for (int i = 0; i < 8; ++i) {
            if ((keep >> i) & 1) t.shuffle[keep][n++] = uint8_t(i);
        }
        t.kept[keep] = uint8_t(n);
    }
    return t;
}

constexpr WindowTables kWindow = make_window_tables();

// Photos code most pixels as literals and single-byte pairs (C1 xx). A
// window of 16 coded bytes is decoded without a branch per pair: its count
// bytes are found from the marks, and when all of them count 1 the window's
// output is the window without them, gathered by one shuffle per half. A run
// of another length ends the window's stretch and is filled on its own.
// Works while a window and a run's pair lie in the buffer and 16 bytes of
// output in the line, and returns with the cursor at the next pair or
// literal; a run that crosses the line's end is left to the caller.
__attribute__((target("ssse3"))) void decode_windows(uint8_t *&out_ref, uint8_t *&cursor_ref,
                                                     uint32_t &available_ref, int32_t &remaining_ref) {
    // Locals, which the stores through out cannot alias.
    uint8_t *out = out_ref;
    const uint8_t *cursor = cursor_ref;
    uint32_t available = available_ref;
    int32_t remaining = remaining_ref;
    const __m128i top = _mm_set1_epi8(char(kCountMark));
    const __m128i single = _mm_set1_epi8(char(kCountMark | 1));
    const __m128i high_half = _mm_set1_epi8(8);
    while (remaining >= 16 && available >= 18) {
        if (cursor[0] > (kCountMark | 1)) {
            // A run of two or more: run-heavy data spends its time here.
            const int32_t count = cursor[0] & 0x3F;
            if (count > remaining) break;
            std::memset(out, cursor[1], 64); // within kLineSlack; only count bytes are kept
            out += count;
            remaining -= count;
            cursor += 2;
            available -= 2;
            continue;
        }
        const __m128i window = _mm_loadu_si128(reinterpret_cast<const __m128i *>(cursor));
        const auto marks = uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(window, top), top)));
        const auto singles = uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(window, single)));
        const uint32_t low = kWindow.counts[0][marks & 0xFF];
        const uint32_t high = kWindow.counts[low >> 8][marks >> 8];
        const uint32_t counts = (low & 0xFF) | (high & 0xFF) << 8;
        const uint32_t runs = counts & ~singles;
        // Bytes taken: up to the first other run, and never a pair whose
        // data byte lies beyond the window.
        uint32_t taken = (high >> 8) ? 0x7FFF : 0xFFFF;
        if (runs) taken &= (runs & (0u - runs)) - 1;
        const uint32_t keep = taken & ~counts;
        const __m128i low_order = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(kWindow.shuffle[keep & 0xFF]));
        const __m128i high_order = _mm_add_epi8(
            _mm_loadl_epi64(reinterpret_cast<const __m128i *>(kWindow.shuffle[keep >> 8])), high_half);
        const uint32_t low_kept = kWindow.kept[keep & 0xFF];
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out), _mm_shuffle_epi8(window, low_order));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out + low_kept), _mm_shuffle_epi8(window, high_order));
        const uint32_t produced = low_kept + kWindow.kept[keep >> 8];
        const uint32_t consumed = kWindow.kept[taken & 0xFF] + kWindow.kept[taken >> 8];
        out += produced;
        remaining -= int32_t(produced);
        cursor += consumed;
        available -= consumed;
        if (runs) {
            // The cursor is at a run's count byte, its data byte behind it.
            const int32_t count = cursor[0] & 0x3F;
            if (count > remaining) break;
            std::memset(out, cursor[1], 64); // within kLineSlack; only count bytes are kept
            out += count;
            remaining -= count;
            cursor += 2;
            available -= 2;
        }
    }
    out_ref = out;
    cursor_ref = const_cast<uint8_t *>(cursor);
    available_ref = available;
    remaining_ref = remaining;
}

bool has_window_decoder() { return __builtin_cpu_supports("ssse3"); }
#endif

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

#ifdef IFF_WINDOW_DECODER
    const bool windows = has_window_decoder();
#endif
    while (remaining > 0) {
#ifdef IFF_WINDOW_DECODER
        if (windows) decode_windows(out, cursor, available, remaining);
#endif
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
            if (count <= 8) {
                const uint64_t fill = value * kLowBits;
                std::memcpy(out, &fill, 8); // within kLineSlack; only count bytes are kept
            } else {
                std::memset(out, value, 64); // within kLineSlack
            }
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
