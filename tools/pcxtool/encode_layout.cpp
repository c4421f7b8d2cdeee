#include "encode_layout.h"

#include "tool_error.h"

namespace pcxtool {

namespace {

constexpr size_t kMaxPaletteColours = 256;

uint32_t pack(const uint8_t *rgb) {
    return static_cast<uint32_t>(rgb[0] << 16 | rgb[1] << 8 | rgb[2]);
}

struct ColourSummary {
    std::vector<Rgb> colours; // in order of first appearance, at most 257
    bool gray = true;
    bool black_and_white = true;
    bool more_than_256() const { return colours.size() > kMaxPaletteColours; }
};

ColourSummary summarise(const RgbImage &image) {
    ColourSummary summary;
    std::unordered_map<uint32_t, bool> seen;
    const size_t pixels = image.rgb.size() / 3;
    for (size_t i = 0; i < pixels; ++i) {
        const uint8_t *rgb = &image.rgb[3 * i];
        const bool is_gray = rgb[0] == rgb[1] && rgb[1] == rgb[2];
        summary.gray = summary.gray && is_gray;
        summary.black_and_white = summary.black_and_white && is_gray && (rgb[0] == 0 || rgb[0] == 255);
        if (!summary.more_than_256() && seen.emplace(pack(rgb), true).second) {
            summary.colours.push_back(Rgb{rgb[0], rgb[1], rgb[2]});
        }
        if (summary.more_than_256() && !summary.gray) {
            break; // nothing left to learn
        }
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
    const ColourSummary summary = summarise(image);
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
        indices_.emplace(pack(rgb), static_cast<uint8_t>(k));
    }
}

uint8_t IndexMap::index_of(const uint8_t *rgb) const {
    if (gray_levels_) {
        return rgb[0];
    }
    const auto found = indices_.find(pack(rgb));
    return found != indices_.end() ? found->second : 0;
}

} // namespace pcxtool
