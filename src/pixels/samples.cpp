// Single-plane lines: file samples to the host's layout and back.
#include "pixels/samples.h"

#include <cstring>

#include "pixels/sample_layout.h"
#include "pixels/sample_lut.h"

namespace iff {
namespace {

// Builds the table and its expansion unless the key already matches. Only
// the depths that look samples up in the table get here.
void prepare_table(SampleTable &table, int32_t depth, int32_t mode, bool inverted) {
    const int32_t polarity = inverted ? 0 : 1;
    if (table.depth == depth && table.polarity == polarity && table.mode == mode) return;
    build_sample_lut(mode, polarity, depth, table.entries);
    build_expanded_lut(depth, table.entries, table.expanded);
    table.depth = depth;
    table.polarity = polarity;
    table.mode = mode;
}

void copy_bytes(uint8_t *destination, const uint8_t *source, int64_t count, bool complement) {
    if (count <= 0) return;
    if (!complement) {
        std::memcpy(destination, source, size_t(count));
        return;
    }
    for (int64_t i = 0; i < count; ++i) destination[i] = uint8_t(~source[i]);
}

// Depths 1, 2 and 4: each source byte becomes its run of host bytes at once.
template <int32_t Depth>
void expand_bytes(uint8_t *destination, const uint8_t *source, int32_t count, const uint8_t *expanded) {
    constexpr int32_t per_byte = samples_per_byte(Depth);
    const int32_t whole = count / per_byte;
    for (int32_t i = 0; i < whole; ++i) {
        std::memcpy(destination + int64_t(i) * per_byte, expanded + source[i] * 8, per_byte);
    }
    const int32_t rest = count % per_byte;
    if (rest) std::memcpy(destination + int64_t(whole) * per_byte, expanded + source[whole] * 8, rest);
}

// Four 6-bit samples in every three bytes.
void unpack_depth6(uint8_t *destination, const uint8_t *source, int32_t count, const uint8_t *entries) {
    const int32_t groups = count / 4;
    for (int32_t g = 0; g < groups; ++g, source += 3, destination += 4) {
        destination[0] = entries[source[0] >> 2];
        destination[1] = entries[((source[0] & 0x03) << 4) | (source[1] >> 4)];
        destination[2] = entries[((source[1] & 0x0F) << 2) | (source[2] >> 6)];
        destination[3] = entries[source[2] & 0x3F];
    }
    const int32_t rest = count % 4; // reads exactly the 1, 2 or 3 bytes these need
    if (rest >= 1) destination[0] = entries[source[0] >> 2];
    if (rest >= 2) destination[1] = entries[((source[0] & 0x03) << 4) | (source[1] >> 4)];
    if (rest >= 3) destination[2] = entries[((source[1] & 0x0F) << 2) | (source[2] >> 6)];
}

// 12-bit samples, two in every three bytes, to 16-bit words low byte first.
void unpack_depth12(uint8_t *destination, const uint8_t *source, int32_t count, int32_t mode) {
    auto put = [mode](uint8_t *out, int32_t s) {
        int32_t word = s;                          // mode 1: 0..4095
        if (mode == 2) word = s << 4;              // left-justified
        if (mode == 3) word = (s << 4) | (s >> 8); // top bits repeated below
        out[0] = uint8_t(word);
        out[1] = uint8_t(word >> 8);
    };
    const int32_t pairs = count / 2;
    for (int32_t i = 0; i < pairs; ++i, source += 3, destination += 4) {
        put(destination, (source[0] << 4) | (source[1] >> 4));
        put(destination + 2, ((source[1] & 0x0F) << 8) | source[2]);
    }
    if (count % 2) put(destination, (source[0] << 4) | (source[1] >> 4));
}

} // namespace

int64_t sample_source_bytes(int64_t count, int32_t depth) {
    if (count <= 0 || depth <= 0) return 0;
    return (count * depth + 7) / 8;
}

int64_t sample_host_bytes(int64_t count, int32_t depth, int32_t pixel_format) {
    if (count <= 0) return 0;
    if (read_layout(pixel_format).mode == 0) return sample_source_bytes(count, depth);
    switch (depth) {
    case 1:
    case 2:
    case 4:
    case 6:
    case 8: return count;
    case 12:
    case 16: return 2 * count;
    case 32: return 4 * count;
    default: return 0;
    }
}

void unpack_samples(uint8_t *destination, const uint8_t *source, int32_t count, int32_t depth, int32_t pixel_format,
                    SampleTable table) {
    if (count <= 0) return;
    const SampleLayout layout = read_layout(pixel_format);
    if (layout.mode == 0) {
        copy_bytes(destination, source, sample_source_bytes(count, depth), layout.inverted);
        return;
    }
    switch (depth) {
    case 1:
        prepare_table(table, depth, layout.mode, layout.inverted);
        expand_bytes<1>(destination, source, count, table.expanded);
        break;
    case 2:
        prepare_table(table, depth, layout.mode, layout.inverted);
        expand_bytes<2>(destination, source, count, table.expanded);
        break;
    case 4:
        prepare_table(table, depth, layout.mode, layout.inverted);
        expand_bytes<4>(destination, source, count, table.expanded);
        break;
    case 6:
        prepare_table(table, depth, layout.mode, layout.inverted);
        unpack_depth6(destination, source, count, table.entries);
        break;
    case 8: copy_bytes(destination, source, count, layout.inverted); break;
    case 12: unpack_depth12(destination, source, count, layout.mode); break;
    case 16: copy_bytes(destination, source, 2 * int64_t(count), false); break;
    case 32: copy_bytes(destination, source, 4 * int64_t(count), false); break;
    default: break; // no host layout for this depth: nothing is written
    }
}

void pack_samples(uint8_t *destination, const uint8_t *source, int32_t count, int32_t depth, int32_t pixel_format) {
    if (count <= 0) return;
    if (pixel_format == 0 || depth == 8) {
        copy_bytes(destination, source, pixel_format == 0 ? sample_source_bytes(count, depth) : count, false);
        return;
    }
    if (depth != 1 && depth != 2 && depth != 4) return;
    // Exactly 1 takes the low bits of each host byte; every other value
    // (polarity flag included, which writing ignores) the top bits.
    const int32_t shift = pixel_format == 1 ? 0 : 8 - depth;
    const int32_t mask = (1 << depth) - 1;
    const int32_t per_byte = samples_per_byte(depth);
    int32_t i = 0;
    for (; count - i >= per_byte; i += per_byte) {
        int32_t byte = 0;
        for (int32_t j = 0; j < per_byte; ++j) byte = (byte << depth) | ((source[i + j] >> shift) & mask);
        *destination++ = uint8_t(byte);
    }
    if (i < count) { // partial last byte: samples in the top bits, zeros below
        int32_t byte = 0;
        for (int32_t j = 0; j < per_byte; ++j) {
            byte <<= depth;
            if (i + j < count) byte |= (source[i + j] >> shift) & mask;
        }
        *destination = uint8_t(byte);
    }
}

} // namespace iff
