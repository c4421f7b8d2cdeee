// Steps the window decoders share, at their cursor's pace.
#pragma once

#include <cstdint>
#include <cstring>

#include "core/pcx_format.h"
#include "pcx/rle_windows.h"

namespace iff {

constexpr uint8_t kCountMark = pcx_format::kRunMark;

// The data bytes of a window's pairs, from its marks (bytes of 0xC0 or
// above): a byte is data when an odd number of marked bytes lie in a row in
// front of it. Chains of marks that begin on an even bit are told from those
// that begin on an odd one by one addition, whose overflow says the next
// window's first byte is data. `carry` says this window's first byte is.
template <typename Mask> inline Mask pair_data_bytes(Mask marks, Mask &carry) {
    constexpr auto kEvenBits = Mask(0x5555555555555555ULL);
    marks &= Mask(~carry); // a marked data byte begins no chain
    const Mask follows_mark = Mask(marks << 1) | carry;
    const Mask odd_starts = marks & Mask(~kEvenBits) & Mask(~follows_mark);
    Mask even_starts;
    carry = __builtin_add_overflow(odd_starts, marks, &even_starts) ? 1 : 0;
    return Mask(kEvenBits ^ Mask(even_starts << 1)) & follows_mark;
}

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

// The decoder's locals as the state it hands back. A window that took a C1
// or C2 count byte as its last byte left the data byte at the cursor, which
// gives one more copy; the line has room for it, as every window leaves at
// least one byte of the line.
inline WindowState hand_back(uint32_t carry, uint8_t *out, const uint8_t *cursor, uint32_t available,
                             int32_t remaining) {
    if (carry) {
        *out++ = cursor[0];
        ++cursor;
        --available;
        --remaining;
    }
    return {out, const_cast<uint8_t *>(cursor), available, remaining};
}

} // namespace iff
