// Single-plane sample conversions between file bytes and host bytes.
#pragma once

#include <cstdint>

namespace iff {

// The table key: the layout a table was last built for.
struct SampleTable {
    int32_t &depth;
    int32_t &polarity; // 1 normal, 0 inverted
    int32_t &mode;     // 0 while no table was built
    uint8_t *entries;  // 256 bytes: sample value -> host byte
    uint8_t *expanded; // 256 * 8 bytes: at depths 1, 2 and 4, the host bytes of
                       // each source byte (8 / depth of them), built with entries
};

// Fills entries 0..2^depth-1 of table for mode 1, 2 or 3 and depth 1..8;
// polarity 1 normal, 0 inverted. Any other mode or depth leaves it unchanged.
void build_sample_lut(int32_t mode, int32_t polarity, int32_t depth, uint8_t *table);

// File samples of one plane (source) to count host samples (destination),
// in the layout read_layout gives pixel_format. Reads at most
// sample_source_bytes(count, depth) bytes of source and writes exactly
// sample_host_bytes(count, depth, pixel_format). The table is rebuilt only
// when depth, polarity or mode differ from its key.
void unpack_samples(uint8_t *destination, const uint8_t *source, int32_t count, int32_t depth, int32_t pixel_format,
                    SampleTable table);

// Host samples to file bytes of one plane (depth 1, 2, 4 or 8). Writes
// (count * depth + 7) / 8 bytes. pixel_format 0 is a packed copy, exactly 1
// takes the low bits of each host byte, any other value the top bits; the
// polarity flag has no meaning here.
void pack_samples(uint8_t *destination, const uint8_t *source, int32_t count, int32_t depth, int32_t pixel_format);

// Bytes of one plane that unpack_samples reads for count samples of depth.
int64_t sample_source_bytes(int64_t count, int32_t depth);

// Bytes unpack_samples writes for count samples of depth in pixel_format.
int64_t sample_host_bytes(int64_t count, int32_t depth, int32_t pixel_format);

} // namespace iff
