// Eight-bytes-at-a-time searches over coded and plain lines.
#pragma once

#include <cstdint>
#include <cstring>

namespace iff {

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the word scans take the lowest-addressed byte as the lowest-order byte"
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

// Bit 7 of the lowest zero byte is set (higher bytes may carry false marks).
inline uint64_t zero_byte_marks(uint64_t word) {
    return (word - kLowBits) & ~word & kHighBits;
}

// Index of the lowest-addressed marked byte of a non-zero mark word.
inline uint32_t first_marked_byte(uint64_t marks) {
#if defined(__GNUC__) || defined(__clang__)
    return uint32_t(__builtin_ctzll(marks)) / 8;
#else
    uint32_t index = 0;
    while (!(marks & 0x80)) {
        marks >>= 8;
        ++index;
    }
    return index;
#endif
}

} // namespace iff
