// Which PCX layout an image is written in, and its palette.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace image {

struct Rgb {
    uint8_t r, g, b;
    bool operator==(const Rgb &other) const { return r == other.r && g == other.g && b == other.b; }
};

struct PcxLayout {
    uint32_t color_class = 3; // 0 bilevel, 1 grayscale, 2 palette colour, 3 RGB
    int32_t bits = 8;         // 1, 2, 3, 4 or 8 (8 with class 3 is 24-bit RGB)
    std::vector<Rgb> palette; // the image's colours; empty for RGB
    int depth() const { return color_class == 3 ? 24 : bits; }
};

// Colours, as keys of 24 bits, to numbers 0 to 255 in two levels of tables:
// the first indexed by a colour's red and green gives the start of a block
// of 256 numbers, the block is indexed by its blue. A lookup takes two loads
// and no compare; no pixel allocates.
class ColourTable {
  public:
    static constexpr size_t kMaxColours = 256;
    static constexpr uint32_t kNone = 0x100; // what find gives a colour without a number

    // Lookups through plain pointers, which a loop can hold in registers:
    // its byte stores could otherwise change a vector's pointer, as far as
    // the compiler knows.
    struct Lookup {
        const uint32_t *blocks;
        const uint16_t *numbers;
        uint32_t find(uint32_t key) const { return numbers[blocks[key & 0xFFFF] | key >> 16]; }
        // The same for a pixel's three bytes, with no key built.
        uint32_t find_pixel(const uint8_t *rgb) const {
            const size_t red_green = static_cast<size_t>(rgb[0]) | static_cast<size_t>(rgb[1]) << 8;
            return numbers[blocks[red_green] | rgb[2]];
        }
    };

    ColourTable() : blocks_(size_t{1} << 16, 0), numbers_((kMaxColours + 1) << 8, kNone) {}
    Lookup lookup() const { return Lookup{blocks_.data(), numbers_.data()}; }
    uint32_t find(uint32_t key) const { return lookup().find(key); }
    // Numbers a colour not yet held; false when the table is full.
    bool add(uint32_t key, uint8_t number) {
        if (count_ >= kMaxColours) {
            return false;
        }
        uint32_t &block = blocks_[key & 0xFFFF];
        if (block == 0) { // block 0 holds no colour: it stands for every red and green not yet seen
            block = static_cast<uint32_t>(++used_blocks_ << 8);
        }
        numbers_[block | key >> 16] = number;
        ++count_;
        return true;
    }

  private:
    std::vector<uint32_t> blocks_;  // by red and green: where its block of numbers_ starts
    std::vector<uint16_t> numbers_; // kNone or a number; a block of 256 for each red and green seen
    size_t used_blocks_ = 0;
    size_t count_ = 0;
};

// A pixel's key: its three bytes as one number.
inline uint32_t pixel_key(const uint8_t *rgb) {
    return static_cast<uint32_t>(rgb[0]) | static_cast<uint32_t>(rgb[1]) << 8 | static_cast<uint32_t>(rgb[2]) << 16;
}

// An image's colours in order of first appearance, learnt a stretch of pixels
// at a time, each pixel numbered by its colour's place, while there are at
// most 256; a palette layout's palette is in this order.
class ColourSummary {
  public:
    // Numbers `count` pixels of three bytes each into `numbers`; false at the
    // first pixel of a 257th colour, which is counted but not numbered, and
    // the summary then takes no more.
    bool add(const uint8_t *rgb, size_t count, uint8_t *numbers);

    const std::vector<Rgb> &colours() const { return colours_; }
    bool more_than_256() const { return colours_.size() > ColourTable::kMaxColours; }
    bool gray() const { return !more_than_256() && !non_gray_; }
    bool black_and_white() const { return !more_than_256() && !non_black_and_white_; }

  private:
    // The number of a colour, numbering it if it is new; ColourTable::kNone
    // for a 257th colour.
    uint32_t learn(uint32_t key, const uint8_t *rgb);
    // Numbers pixels one at a time, learning new colours in order.
    bool learn_all(const uint8_t *rgb, size_t count, uint8_t *numbers);

    ColourTable table_;
    std::vector<Rgb> colours_; // at most 257
    bool non_gray_ = false;
    bool non_black_and_white_ = false;
};

// Picks the layout from the image's colours, or checks the one asked for
// (1, 2, 3, 4, 8 or 24) against them:
//   only black and white      1-bit (its palette is fixed black and white)
//   only grays                8-bit grayscale
//   up to 16 colours          4 bit planes with the colours in the header
//   up to 256 colours         8-bit with a 256-colour palette
//   more                      24-bit RGB
// A layout that cannot hold the colours exactly is refused (IFFPCX_ERR_COLOURS).
PcxLayout choose_layout(const ColourSummary &summary, std::optional<int> requested_bits, const std::string &name);

// Whether the colours of part of an image already settle its layout as the
// 8-bit palette, unless the rest brings a 257th colour.
bool settles_on_8bit_palette(const ColourSummary &summary, std::optional<int> requested_bits);

// Maps pixels to the layout's palette indices.
class IndexMap {
  public:
    explicit IndexMap(const PcxLayout &layout);
    // Indices of `count` pixels of three bytes each.
    void map_row(const uint8_t *rgb, size_t count, uint8_t *indices) const;

  private:
    uint8_t index_of(uint32_t key) const;

    bool gray_levels_;
    ColourTable indices_;
};

} // namespace image
