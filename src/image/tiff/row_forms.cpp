#include "image/tiff/row_forms.h"

namespace iff::tiff {

size_t first_index_outside(const uint8_t *indices, size_t width, uint32_t entries) {
    if (entries >= 256) return width;
    // The largest index first, so the usual row costs one pass without a branch.
    uint8_t largest = 0;
    for (size_t x = 0; x < width; ++x) largest = indices[x] > largest ? indices[x] : largest;
    if (largest < entries) return width;
    size_t x = 0;
    while (indices[x] < entries) ++x;
    return x;
}

void pack_nibbles(const uint8_t *indices, size_t width, uint8_t *packed) {
    size_t x = 0;
    for (; x + 1 < width; x += 2) *packed++ = uint8_t(indices[x] << 4 | indices[x + 1]);
    if (x < width) *packed = uint8_t(indices[x] << 4);
}

void unpack_indices(const uint8_t *packed, size_t width, int bits, uint8_t *indices) {
    const int per_byte = 8 / bits;
    const auto mask = uint8_t((1u << bits) - 1);
    for (size_t x = 0; x < width; ++x) {
        const int shift = 8 - bits * (int(x % size_t(per_byte)) + 1);
        indices[x] = uint8_t(packed[x / size_t(per_byte)] >> shift & mask);
    }
}

void complement(uint8_t *bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) bytes[i] = uint8_t(~bytes[i]);
}

void clear_tail_bits(uint8_t *row, size_t width) {
    if (width % 8 != 0) row[width / 8] &= uint8_t(0xFF00 >> (width % 8));
}

} // namespace iff::tiff
