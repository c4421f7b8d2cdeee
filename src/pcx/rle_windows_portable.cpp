#include <cstring>

#include "pcx/byte_scan.h"
#include "pcx/rle_windows.h"

namespace iff {
namespace {

constexpr uint32_t kSpan = 64;

// One bit per byte of a word whose bytes each hold 0x80 or 0: bit i for the
// byte at address i. The multiply gathers the eight bits into the top byte
// without carries (the products' places 8i + 56 - 7k never meet).
inline uint64_t byte_mask(uint64_t marks) {
    if (kBigEndian) marks = __builtin_bswap64(marks);
    return ((marks >> 7) * 0x0102040810204080ULL) >> 56;
}

// Bit i set where the byte at span[i] is 0xC0 or above, for 64 bytes.
inline uint64_t span_marks(const uint8_t *span) {
    uint64_t marks = 0;
    for (uint32_t j = 0; j < kSpan / 8; ++j) marks |= byte_mask(count_byte_marks(load_word(span + 8 * j))) << (8 * j);
    return marks;
}

} // namespace

// The portable loop, for processors without the vector ones: the marks of
// 64 coded bytes are gathered into one word first, so finding the next
// count byte is a shift and a count of trailing zeros in a register rather
// than a load whose address waits for the last pair. Literals go out sixteen
// bytes at a time, pairs as one fill of eight bytes or of 64.
void decode_windows_portable(WindowState &state) {
    uint8_t *out = state.out;
    const uint8_t *cursor = state.cursor;
    uint32_t available = state.available;
    int32_t remaining = state.remaining;
    // A span reads up to 16 bytes from its last place.
    while (remaining >= 16 && available >= kSpan + 16) {
        const uint64_t marks = span_marks(cursor);
        uint32_t at = 0;
        bool line_ends = false;
        while (at < kSpan) {
            const uint64_t ahead = marks >> at;
            uint32_t literals = ahead ? uint32_t(__builtin_ctzll(ahead)) : kSpan - at;
            if (int32_t(literals) >= remaining) {
                literals = uint32_t(remaining);
                line_ends = true;
            }
            if (literals <= 16) {
                std::memcpy(out, cursor + at, 16); // within kLineSlack; only literals bytes are kept
            } else {
                std::memcpy(out, cursor + at, literals);
            }
            out += literals;
            remaining -= int32_t(literals);
            at += literals;
            if (line_ends || at >= kSpan) break;
            const int32_t count = cursor[at] & 0x3F;
            if (count > remaining) {
                line_ends = true; // a run across the line's end is the caller's
                break;
            }
            const uint8_t value = cursor[at + 1];
            fill_pair(out, count, value);
            out += count;
            remaining -= count;
            at += 2;
        }
        cursor += at;
        available -= at;
        if (line_ends) break;
    }
    state = {out, const_cast<uint8_t *>(cursor), available, remaining};
}

} // namespace iff
