// Images of about 2000 x 2000 pixels, as a host hands them over: one byte per
// pixel (three for RGB), lines one after another.
#pragma once

#include <cstdint>
#include <vector>

#include "iffpcx.h"

namespace bench {

struct HostImage {
    const char *name;
    IFFImageInfo info;  // the description to write it with
    int32_t line_bytes; // host bytes of one line
    std::vector<uint8_t> pixels;
};

// 8-bit gray with smooth shading and noise: few runs, many bytes of 0xC0 or
// above that code as two bytes.
HostImage shaded_gray(int32_t width, int32_t height);

// 24-bit colour of the same kind, each channel shaded differently.
HostImage shaded_rgb(int32_t width, int32_t height);

// 8-bit gray in flat shapes (rectangles and discs of a few levels): almost
// all runs of the full 63 bytes.
HostImage flat_gray(int32_t width, int32_t height);

// A 1-bit page of text: white margins and line gaps (long runs), lines of
// glyph-like strokes (short runs). Pixels are 0 (black) or 255 (white).
HostImage text_page(int32_t width, int32_t height);

} // namespace bench
