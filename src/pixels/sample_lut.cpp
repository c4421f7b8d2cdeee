// The sample table: sample value -> host byte, for one depth, mode and
// polarity, and its per-byte expansion.
#include "pixels/sample_lut.h"
#include "pixels/samples.h"

namespace iff {

void build_sample_lut(int32_t mode, int32_t polarity, int32_t depth, uint8_t *table) {
    if (mode < 1 || mode > 3 || depth < 1 || depth > 8) return;
    const int32_t max = (1 << depth) - 1;
    for (int32_t v = 0; v <= max; ++v) {
        const int32_t s = polarity == 0 ? max - v : v;
        int32_t out = s; // mode 1: the value itself
        if (mode == 2) out = s << (8 - depth);
        if (mode == 3) out = (255 * s + max / 2) / max; // rounded to nearest
        table[v] = uint8_t(out);
    }
}

void build_expanded_lut(int32_t depth, const uint8_t *entries, uint8_t *expanded) {
    if (depth != 1 && depth != 2 && depth != 4) return;
    const int32_t per_byte = samples_per_byte(depth);
    const int32_t mask = (1 << depth) - 1;
    for (int32_t b = 0; b < 256; ++b) {
        for (int32_t j = 0; j < per_byte; ++j) {
            const int32_t sample = (b >> (8 - depth * (j + 1))) & mask;
            expanded[b * 8 + j] = entries[sample];
        }
    }
}

} // namespace iff
