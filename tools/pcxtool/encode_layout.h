// Which PCX layout an image is written in, and its palette.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "page_image.h"
#include "rgb_image.h"

namespace pcxtool {

struct PcxLayout {
    uint32_t color_class = 3; // 0 bilevel, 1 grayscale, 2 palette colour, 3 RGB
    int32_t bits = 8;         // 1, 2, 3, 4 or 8 (8 with class 3 is 24-bit RGB)
    std::vector<Rgb> palette; // the image's colours; empty for RGB
    int depth() const { return color_class == 3 ? 24 : bits; }
};

// Picks the layout from the image's colours, or checks the one asked for
// with --bits (1, 2, 3, 4, 8 or 24) against them:
//   only black and white      1-bit (its palette is fixed black and white)
//   only grays                8-bit grayscale
//   up to 16 colours          4 bit planes with the colours in the header
//   up to 256 colours         8-bit with a 256-colour palette
//   more                      24-bit RGB
// A layout that cannot hold the colours exactly is an input error.
PcxLayout choose_layout(const RgbImage &image, std::optional<int> requested_bits, const std::string &name);

// Maps pixels to the layout's palette indices.
class IndexMap {
  public:
    explicit IndexMap(const PcxLayout &layout);
    uint8_t index_of(const uint8_t *rgb) const;

  private:
    bool gray_levels_;
    std::unordered_map<uint32_t, uint8_t> indices_;
};

} // namespace pcxtool
