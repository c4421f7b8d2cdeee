// Rows of palette indices turned into RGB triples, the inner loop of
// writing palette and grayscale pages as PPM.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pcxtool {

class PaletteRows {
  public:
    // `colours` holds 256 entries of red, green, blue.
    explicit PaletteRows(const uint8_t (*colours)[3]);

    // Writes 3 * count bytes at out.
    void expand(const uint8_t *indices, size_t count, uint8_t *out) const;

    // What the 64-pixel loop reads: the three channels' tables, and where
    // each byte of three 64-byte parts of output comes from.
    struct Tables {
        alignas(64) uint8_t channels[3][256]; // red, green and blue
        alignas(64) uint8_t red_green[3][64]; // pixel, or 64 + pixel for green
        alignas(64) uint8_t blue[3][64];      // pixel
        uint64_t blue_lanes[3];               // the bytes that take blue
    };

  private:
    uint32_t packed_[256]; // red | green << 8 | blue << 16
    Tables tables_;
};

} // namespace pcxtool
