// Private to src/pixels: the per-byte expansion that goes with the sample
// table at depths 1, 2 and 4.
#pragma once

#include <cstdint>

namespace iff {

// Host bytes a source byte stands for at depth 1, 2 or 4.
constexpr int32_t samples_per_byte(int32_t depth) {
    return 8 / depth;
}

// Fills expanded[b * 8 + j] with the host byte of sample j of source byte b
// (first sample in the most significant bits), for every b, from entries.
// Any depth other than 1, 2 and 4 leaves expanded unchanged.
void build_expanded_lut(int32_t depth, const uint8_t *entries, uint8_t *expanded);

} // namespace iff
