// Which PCX layout an image is written in, and its palette.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "page_image.h"
#include "rgb_image.h"

namespace pcxtool {

struct PcxLayout {
    uint32_t color_class = 3; // 0 bilevel, 1 grayscale, 2 palette colour, 3 RGB
    int32_t bits = 8;         // 1, 2, 3, 4 or 8 (8 with class 3 is 24-bit RGB)
    std::vector<Rgb> palette; // the image's colours; empty for RGB
    std::vector<uint8_t> indices; // palette layouts: each pixel's index, found while choosing
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

// Colours (0xRRGGBB) to numbers below 65536 in a fixed open-addressed
// table, so that no pixel allocates; it holds up to 512 colours.
class ColourTable {
  public:
    static constexpr size_t kMaxColours = 512;
    ColourTable() : keys_(kSlots, 0), values_(kSlots, 0) {}
    // The colour's number, or -1 when it has none.
    int32_t find(uint32_t colour) const {
        size_t slot = first_slot(colour);
        while (keys_[slot] != 0) {
            if (keys_[slot] == (colour | kUsed)) {
                return values_[slot];
            }
            slot = (slot + 1) & (kSlots - 1);
        }
        return -1;
    }
    // Numbers a colour not yet held; false when the table is full.
    bool add(uint32_t colour, uint16_t value) {
        if (count_ >= kMaxColours) {
            return false;
        }
        size_t slot = first_slot(colour);
        while (keys_[slot] != 0) {
            slot = (slot + 1) & (kSlots - 1);
        }
        keys_[slot] = colour | kUsed;
        values_[slot] = value;
        ++count_;
        return true;
    }

  private:
    static constexpr size_t kSlots = 4 * kMaxColours; // a power of two, at most a quarter full
    static constexpr uint32_t kUsed = 1u << 24;
    static size_t first_slot(uint32_t colour) { return (colour * 0x9E3779B1u) >> 21 & (kSlots - 1); }
    std::vector<uint32_t> keys_; // colour | kUsed; 0 for an empty slot
    std::vector<uint16_t> values_;
    size_t count_ = 0;
};

inline uint32_t pack_rgb(const uint8_t *rgb) {
    return static_cast<uint32_t>(rgb[0]) << 16 | static_cast<uint32_t>(rgb[1]) << 8 | rgb[2];
}

// Maps pixels to the layout's palette indices.
class IndexMap {
  public:
    explicit IndexMap(const PcxLayout &layout);
    uint8_t index_of(const uint8_t *rgb) const;
    // Indices of `count` pixels of three bytes each.
    void map_row(const uint8_t *rgb, size_t count, uint8_t *indices) const;

  private:
    bool gray_levels_;
    ColourTable indices_;
};

} // namespace pcxtool
