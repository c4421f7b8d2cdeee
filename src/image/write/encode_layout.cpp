#include "encode_layout.h"

#include <algorithm>

#include "base/image_error.h"

namespace image {

namespace {

std::vector<Rgb> gray_ramp() {
    std::vector<Rgb> ramp;
    for (int level = 0; level < 256; ++level) {
        const auto v = static_cast<uint8_t>(level);
        ramp.push_back(Rgb{v, v, v});
    }
    return ramp;
}

std::string colour_count(const ColourSummary &summary) {
    return summary.more_than_256() ? "more than 256 colours" : std::to_string(summary.colours().size()) + " colours";
}

} // namespace

uint32_t ColourSummary::learn(uint32_t key, const uint8_t *rgb) {
    const uint32_t known = table_.find(key);
    if (known != ColourTable::kNone || more_than_256()) {
        return known;
    }
    const Rgb colour{rgb[0], rgb[1], rgb[2]};
    colours_.push_back(colour);
    if (more_than_256()) {
        return ColourTable::kNone;
    }
    // Grays and black and white follow from the colours: no pixel tests them.
    non_gray_ = non_gray_ || colour.r != colour.g || colour.g != colour.b;
    non_black_and_white_ = non_black_and_white_ || non_gray_ || (colour.r != 0 && colour.r != 255);
    const auto number = static_cast<uint8_t>(colours_.size() - 1);
    table_.add(key, number);
    return number;
}

bool ColourSummary::add(const uint8_t *rgb, size_t count, uint8_t *numbers) {
    if (more_than_256() || count == 0) {
        return !more_than_256();
    }
    const ColourTable::Lookup table = table_.lookup();
    // Eight pixels at a time are looked up without a test between them; the
    // rare group with a colour not yet numbered is done again in order.
    constexpr size_t kGroup = 8;
    // The pixels come cold from the input file's pages, and waiting for them
    // is most of the loop's time: they are fetched 2 KiB ahead, at most up
    // to the last byte.
    constexpr size_t kAhead = 2048;
    const size_t last_byte = 3 * count - 1;
    size_t i = 0;
    for (; i + kGroup <= count; i += kGroup) {
        const uint8_t *group = rgb + 3 * i;
        __builtin_prefetch(rgb + std::min(3 * i + kAhead, last_byte));
        uint32_t missing = 0;
        for (size_t k = 0; k < kGroup; ++k) {
            const uint32_t number = table.find_pixel(group + 3 * k);
            numbers[i + k] = static_cast<uint8_t>(number);
            missing |= number;
        }
        if ((missing & ColourTable::kNone) != 0 && !learn_all(group, kGroup, numbers + i)) {
            return false;
        }
    }
    return learn_all(rgb + 3 * i, count - i, numbers + i);
}

bool ColourSummary::learn_all(const uint8_t *rgb, size_t count, uint8_t *numbers) {
    for (size_t k = 0; k < count; ++k, rgb += 3) {
        const uint32_t number = learn(pixel_key(rgb), rgb);
        if (number == ColourTable::kNone) {
            return false;
        }
        numbers[k] = static_cast<uint8_t>(number);
    }
    return true;
}

PcxLayout choose_layout(const ColourSummary &summary, std::optional<int> requested_bits, const std::string &name) {
    PcxLayout layout;
    const auto palette_layout = [&](int32_t bits) {
        const size_t capacity = size_t{1} << bits;
        if (summary.more_than_256() || summary.colours().size() > capacity) {
            throw ImageError(IFFPCX_ERR_COLOURS, name + ": has " + colour_count(summary) + "; a " +
                                                     std::to_string(bits) + "-bit PCX image holds at most " +
                                                     std::to_string(capacity));
        }
        layout.color_class = 2;
        layout.bits = bits;
        layout.palette = summary.colours(); // in the order the pixels were numbered
    };

    if (!requested_bits) {
        if (summary.black_and_white()) {
            layout.color_class = 0;
            layout.bits = 1;
            layout.palette = {Rgb{0, 0, 0}, Rgb{255, 255, 255}};
        } else if (summary.gray()) {
            layout.color_class = 1;
            layout.bits = 8;
            layout.palette = gray_ramp();
        } else if (summary.colours().size() <= 16) {
            palette_layout(4);
        } else if (!summary.more_than_256()) {
            palette_layout(8);
        }
        return layout; // otherwise the default, 24-bit RGB
    }

    switch (*requested_bits) {
    case 1:
        // A 1-bit file stores no palette: it always reads back black and white.
        if (!summary.black_and_white()) {
            throw ImageError(IFFPCX_ERR_COLOURS,
                             name + ": a 1-bit PCX image is black and white, and this image has other colours");
        }
        layout.color_class = 0;
        layout.bits = 1;
        layout.palette = {Rgb{0, 0, 0}, Rgb{255, 255, 255}};
        break;
    case 2:
    case 3:
    case 4: palette_layout(*requested_bits); break;
    case 8:
        if (summary.gray()) {
            layout.color_class = 1;
            layout.bits = 8;
            layout.palette = gray_ramp();
        } else {
            palette_layout(8);
        }
        break;
    case 24: break;
    default: throw ImageError(IFFPCX_ERR_ARGUMENT, "bits must be 0, 1, 2, 3, 4, 8 or 24");
    }
    return layout;
}

bool settles_on_8bit_palette(const ColourSummary &summary, std::optional<int> requested_bits) {
    if (summary.more_than_256() || summary.gray()) {
        return false;
    }
    if (!requested_bits) {
        return summary.colours().size() > 16; // and not gray, so neither 1-bit nor 4-bit
    }
    return *requested_bits == 8;
}

IndexMap::IndexMap(const PcxLayout &layout) : gray_levels_(layout.color_class == 1) {
    for (size_t k = 0; k < layout.palette.size() && k < ColourTable::kMaxColours; ++k) {
        const Rgb &c = layout.palette[k];
        const uint8_t rgb[3] = {c.r, c.g, c.b};
        if (indices_.find(pixel_key(rgb)) == ColourTable::kNone) { // a repeated colour keeps its first index
            indices_.add(pixel_key(rgb), static_cast<uint8_t>(k));
        }
    }
}

uint8_t IndexMap::index_of(uint32_t key) const {
    const uint32_t found = indices_.find(key);
    return found != ColourTable::kNone ? static_cast<uint8_t>(found) : 0;
}

void IndexMap::map_row(const uint8_t *rgb, size_t count, uint8_t *indices) const {
    if (gray_levels_) {
        for (size_t x = 0; x < count; ++x) {
            indices[x] = rgb[3 * x];
        }
        return;
    }
    if (count == 0) {
        return;
    }
    uint32_t previous = pixel_key(rgb);
    uint8_t index = index_of(previous);
    for (size_t x = 0; x < count; ++x) {
        const uint32_t key = pixel_key(rgb + 3 * x);
        if (key != previous) {
            index = index_of(key);
            previous = key;
        }
        indices[x] = index;
    }
}

} // namespace image
