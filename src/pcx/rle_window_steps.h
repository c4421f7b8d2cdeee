// Steps the window decoders share, at their cursor's pace.
#pragma once

#include <cstdint>
#include <cstring>

namespace iff {

// Fills the run whose pair is at the cursor, when it ends within the line;
// false, with nothing moved, when it crosses the line's end (the caller's
// careful path splits it).
inline bool fill_run(uint8_t *&out, const uint8_t *&cursor, uint32_t &available, int32_t &remaining) {
    const int32_t count = cursor[0] & 0x3F;
    if (count > remaining) return false;
    std::memset(out, cursor[1], 64); // within kLineSlack; only count bytes are kept
    out += count;
    remaining -= count;
    cursor += 2;
    available -= 2;
    return true;
}

// After a window's `produced` bytes of output: on past the window when no other run ended its
// stretch (its carry taken on), else to that run, filled when it ends within
// the line; false when it crosses the line's end and is left to the caller.
inline bool pass_window(uint32_t produced, uint64_t runs, uint32_t width, uint32_t carry_out, uint32_t &carry,
                        uint8_t *&out, const uint8_t *&cursor, uint32_t &available, int32_t &remaining) {
    out += produced;
    remaining -= int32_t(produced);
    if (!runs) {
        cursor += width;
        available -= width;
        carry = carry_out;
        return true;
    }
    // The cursor goes to the run's count byte, its data byte behind it.
    const auto first = uint32_t(__builtin_ctzll(runs));
    cursor += first;
    available -= first;
    carry = 0;
    return fill_run(out, cursor, available, remaining);
}

// Hands the decoder's locals back to the caller's. A window that took a C1
// or C2 count byte as its last byte left the data byte at the cursor, which
// gives one more copy; the line has room for it, as every window leaves at
// least one byte of the line.
inline void hand_back(uint32_t carry, uint8_t *out, const uint8_t *cursor, uint32_t available, int32_t remaining,
                      uint8_t *&out_ref, uint8_t *&cursor_ref, uint32_t &available_ref, int32_t &remaining_ref) {
    if (carry) {
        *out++ = cursor[0];
        ++cursor;
        --available;
        --remaining;
    }
    out_ref = out;
    cursor_ref = const_cast<uint8_t *>(cursor);
    available_ref = available;
    remaining_ref = remaining;
}

} // namespace iff
