// The largest page pcxtool decodes or encodes unless told otherwise.
#pragma once

#include <cstdint>
#include <string>

#include "format_error.h"

namespace pcxtool {

// 16384 x 16384: about a quarter of a billion pixels, where other image
// tools refuse or warn too. A 24-bit page of that size takes 768 MiB.
constexpr uint64_t kDefaultMaxPixels = uint64_t{16384} * 16384;
// The largest window a PCX header can describe, 65536 pixels a side (its
// 16-bit corners 0 and 65535); --max-pixels at this value lifts the limit.
constexpr uint64_t kLargestPcxPixels = uint64_t{65536} * 65536;

// Refuses an image whose header claims more pixels than `max_pixels`, before
// anything is allocated or written for it. `where` names the file (and page).
inline void check_pixel_limit(uint64_t width, uint64_t height, uint64_t max_pixels, const std::string &where) {
    const uint64_t pixels = width * height;
    if (pixels > max_pixels) {
        throw format_error(where + std::to_string(width) + " x " + std::to_string(height) + " is " +
                           std::to_string(pixels) + " pixels, more than the limit of " + std::to_string(max_pixels) +
                           " (--max-pixels N raises it)");
    }
}

} // namespace pcxtool
