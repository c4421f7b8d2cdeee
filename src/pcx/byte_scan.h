// Eight-bytes-at-a-time searches over coded and plain lines. A word is
// loaded in the processor's own byte order, so which end of it holds the
// lowest-addressed byte depends on that order; the helpers below hide it.
#pragma once

#include <cstdint>
#include <cstring>

namespace iff {

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr bool kBigEndian = true;
#else
constexpr bool kBigEndian = false;
#endif

constexpr uint64_t kHighBits = 0x8080808080808080ULL;
constexpr uint64_t kLowBits = 0x0101010101010101ULL;

inline uint64_t load_word(const uint8_t *p) {
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// Bit 7 of a byte is set where that byte has both top bits set (0xC0 or above).
inline uint64_t count_byte_marks(uint64_t word) {
    return word & (word << 1) & kHighBits;
}

// Bit 7 is set in the lowest-addressed zero byte; bytes above it may carry
// false marks. Little-endian: the borrow runs towards higher addresses, past
// the first zero byte only. Big-endian: it would run towards lower ones, so
// every byte is tested on its own.
inline uint64_t zero_byte_marks(uint64_t word) {
    if (kBigEndian) {
        constexpr uint64_t kLow7 = ~kHighBits;
        return ~(((word & kLow7) + kLow7) | word | kLow7);
    }
    return (word - kLowBits) & ~word & kHighBits;
}

// The `count` copies of a pair (count at most 63) as one store of eight
// bytes, or of 64; the bytes behind them are scratch (the line's slack).
inline void fill_pair(uint8_t *out, int32_t count, uint8_t value) {
    if (count <= 8) {
        const uint64_t fill = value * kLowBits;
        std::memcpy(out, &fill, 8);
    } else {
        std::memset(out, value, 64);
    }
}

// Index of the lowest-addressed marked byte of a non-zero mark word.
inline uint32_t first_marked_byte(uint64_t marks) {
#if defined(__GNUC__) || defined(__clang__)
    return uint32_t(kBigEndian ? __builtin_clzll(marks) : __builtin_ctzll(marks)) / 8;
#else
    uint32_t index = 0;
    for (uint64_t bit = kBigEndian ? 0x8000000000000000ULL : 0x80; !(marks & bit); ++index)
        bit = kBigEndian ? bit >> 8 : bit << 8;
    return index;
#endif
}

} // namespace iff
