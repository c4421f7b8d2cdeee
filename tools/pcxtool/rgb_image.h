// An image read for encoding: every pixel as red, green, blue.
#pragma once

#include <cstdint>
#include <vector>

namespace pcxtool {

// PCX windows and line lengths are 16-bit, which bounds what can be encoded;
// readers refuse larger images before allocating for them.
constexpr int64_t kMaxImageSide = 65535;

struct RgbImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> rgb; // width * height * 3 bytes, rows top to bottom
    int32_t dpi_x = 0;        // 0 when the source gives none
    int32_t dpi_y = 0;
};

} // namespace pcxtool
