// Rows between the callers' forms and the forms TIFF stores: palette indices
// packed two to a byte and back, bits complemented, and the unused bits at the
// end of a packed row cleared.
#pragma once

#include <cstddef>
#include <cstdint>

namespace iff::tiff {

// The first pixel whose index is entries or more, or width when none is.
size_t first_index_outside(const uint8_t *indices, size_t width, uint32_t entries);

// Indices below 16, two to a byte, the first in the high half.
void pack_nibbles(const uint8_t *indices, size_t width, uint8_t *packed);

// Indices of `bits` (1, 2, 4) packed first in the high bits, a byte each.
void unpack_indices(const uint8_t *packed, size_t width, int bits, uint8_t *indices);

void complement(uint8_t *bytes, size_t count);

// Clears the bits beyond width in the last byte of a packed 1-bit row.
void clear_tail_bits(uint8_t *row, size_t width);

} // namespace iff::tiff
