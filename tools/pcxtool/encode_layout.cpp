#include "encode_layout.h"

#include <algorithm>
#include <cstring>

#include "tool_error.h"

namespace pcxtool {

namespace {

constexpr size_t kMaxPaletteColours = 256;

struct ColourSummary {
    std::vector<Rgb> colours; // in order of first appearance, at most 257
    std::vector<uint8_t> numbers; // each pixel's place in colours, while there are at most 256
    bool gray = true;
    bool black_and_white = true;
    bool more_than_256() const { return colours.size() > kMaxPaletteColours; }
};

// Whether the rest of the pixels, from rgb on, are gray and black and white.
void summarise_grays(const uint8_t *rgb, size_t pixels, ColourSummary &summary) {
    for (size_t i = 0; i < pixels && summary.gray; ++i, rgb += 3) {
        summary.gray = rgb[0] == rgb[1] && rgb[1] == rgb[2];
        summary.black_and_white = summary.black_and_white && summary.gray && (rgb[0] == 0 || rgb[0] == 255);
    }
}

ColourSummary summarise(const RgbImage &image) {
    ColourSummary summary;
    ColourTable seen;
    // A direct-mapped cache in front of the table: one probe for most pixels.
    constexpr size_t kCacheSlots = 4096;
    constexpr uint32_t kCached = 1u << 24;
    std::vector<uint32_t> cache_keys(kCacheSlots, 0);
    std::vector<uint8_t> cache_numbers(kCacheSlots, 0);
    // Locals, which the byte stores below cannot alias.
    uint32_t *keys = cache_keys.data();
    uint8_t *cached = cache_numbers.data();
    bool gray = true;
    bool black_and_white = true;
    const size_t pixels = image.rgb.size() / 3;
    const uint8_t *rgb = image.rgb.data();
    // The numbers grow a block at a time, so an image that turns out to have
    // many colours touches little of their room.
    constexpr size_t kBlock = 65536;
    summary.numbers.reserve(pixels);
    size_t i = 0;
    bool many = false;
    while (i < pixels && !many) {
        const size_t block_end = std::min(pixels, i + kBlock);
        summary.numbers.resize(block_end);
        uint8_t *numbers = summary.numbers.data();
        for (; i < block_end; ++i, rgb += 3) {
            if (gray) {
                gray = rgb[0] == rgb[1] && rgb[1] == rgb[2];
                black_and_white = black_and_white && gray && (rgb[0] == 0 || rgb[0] == 255);
            }
            uint32_t key = 0;
            if (i + 1 < pixels) {
                std::memcpy(&key, rgb, 4); // the next pixel's first byte is masked off
                key &= 0xFFFFFF;
            } else {
                key = static_cast<uint32_t>(rgb[0]) | static_cast<uint32_t>(rgb[1]) << 8 |
                      static_cast<uint32_t>(rgb[2]) << 16;
            }
            const size_t slot = (key * 0x9E3779B1u) >> 20;
            if (keys[slot] == (key | kCached)) {
                numbers[i] = cached[slot];
                continue;
            }
            const uint32_t colour = pack_rgb(rgb);
            int32_t number = seen.find(colour);
            if (number < 0) {
                number = static_cast<int32_t>(summary.colours.size());
                summary.colours.push_back(Rgb{rgb[0], rgb[1], rgb[2]});
                if (summary.more_than_256()) {
                    many = true;
                    break;
                }
                seen.add(colour, static_cast<uint16_t>(number));
            }
            keys[slot] = key | kCached;
            cached[slot] = static_cast<uint8_t>(number);
            numbers[i] = static_cast<uint8_t>(number);
        }
    }
    summary.gray = gray;
    summary.black_and_white = black_and_white;
    if (many) {
        summary.numbers = std::vector<uint8_t>();
        summarise_grays(rgb + 3, pixels - i - 1, summary); // nothing else left to learn
    }
    return summary;
}

std::vector<Rgb> gray_ramp() {
    std::vector<Rgb> ramp;
    for (int level = 0; level < 256; ++level) {
        const auto v = static_cast<uint8_t>(level);
        ramp.push_back(Rgb{v, v, v});
    }
    return ramp;
}

std::string colour_count(const ColourSummary &summary) {
    return summary.more_than_256() ? "more than 256 colours" : std::to_string(summary.colours.size()) + " colours";
}

} // namespace

PcxLayout choose_layout(const RgbImage &image, std::optional<int> requested_bits, const std::string &name) {
    ColourSummary summary = summarise(image);
    PcxLayout layout;
    const auto palette_layout = [&](int32_t bits) {
        const size_t capacity = size_t{1} << bits;
        if (summary.more_than_256() || summary.colours.size() > capacity) {
            throw input_error(name + ": has " + colour_count(summary) + "; a " + std::to_string(bits) +
                              "-bit PCX image holds at most " + std::to_string(capacity));
        }
        layout.color_class = 2;
        layout.bits = bits;
        layout.palette = summary.colours;
        layout.indices = std::move(summary.numbers); // the palette is in the order the pixels were numbered
    };

    if (!requested_bits) {
        if (summary.black_and_white) {
            layout.color_class = 0;
            layout.bits = 1;
            layout.palette = {Rgb{0, 0, 0}, Rgb{255, 255, 255}};
        } else if (summary.gray) {
            layout.color_class = 1;
            layout.bits = 8;
            layout.palette = gray_ramp();
        } else if (summary.colours.size() <= 16) {
            palette_layout(4);
        } else if (!summary.more_than_256()) {
            palette_layout(8);
        }
        return layout; // otherwise the default, 24-bit RGB
    }

    switch (*requested_bits) {
    case 1:
        // A 1-bit file stores no palette: it always reads back black and white.
        if (!summary.black_and_white) {
            throw input_error(name + ": a 1-bit PCX image is black and white, and this image has other colours; "
                                     "use --bits 4 or leave --bits out");
        }
        layout.color_class = 0;
        layout.bits = 1;
        layout.palette = {Rgb{0, 0, 0}, Rgb{255, 255, 255}};
        break;
    case 2:
    case 3:
    case 4: palette_layout(*requested_bits); break;
    case 8:
        if (summary.gray) {
            layout.color_class = 1;
            layout.bits = 8;
            layout.palette = gray_ramp();
        } else {
            palette_layout(8);
        }
        break;
    case 24: break;
    default: throw usage_error("--bits takes 1, 2, 3, 4, 8 or 24");
    }
    return layout;
}

IndexMap::IndexMap(const PcxLayout &layout) : gray_levels_(layout.color_class == 1) {
    for (size_t k = 0; k < layout.palette.size(); ++k) {
        const Rgb &c = layout.palette[k];
        const uint8_t rgb[3] = {c.r, c.g, c.b};
        if (indices_.find(pack_rgb(rgb)) < 0) { // a repeated colour keeps its first index
            indices_.add(pack_rgb(rgb), static_cast<uint16_t>(k));
        }
    }
}

uint8_t IndexMap::index_of(const uint8_t *rgb) const {
    if (gray_levels_) {
        return rgb[0];
    }
    const int32_t found = indices_.find(pack_rgb(rgb));
    return found >= 0 ? static_cast<uint8_t>(found) : 0;
}

void IndexMap::map_row(const uint8_t *rgb, size_t count, uint8_t *indices) const {
    if (gray_levels_) {
        for (size_t x = 0; x < count; ++x) {
            indices[x] = rgb[3 * x];
        }
        return;
    }
    uint32_t previous = 0;
    uint8_t previous_index = index_of(rgb);
    if (count > 0) {
        previous = pack_rgb(rgb);
    }
    for (size_t x = 0; x < count; ++x) {
        const uint32_t colour = pack_rgb(rgb + 3 * x);
        if (colour != previous) {
            const int32_t found = indices_.find(colour);
            previous_index = found >= 0 ? static_cast<uint8_t>(found) : 0;
            previous = colour;
        }
        indices[x] = previous_index;
    }
}

} // namespace pcxtool
