// How a host's pixel_format value is read. One meaning, shared by the line
// conversions, the line-size answer and every palette step.
#pragma once

#include <cstdint>

namespace iff {

constexpr int32_t kPolarityFlag = 4096;

struct SampleLayout {
    int32_t mode;  // 0 packed, 1 index, 2 left-justified, 3 scaled
    bool inverted; // complement samples on reading
};

// 4096 or more: inverted, and 4096 is taken off once. A mode outside 0..3
// counts as 3 (scaled), the layout a host gets when it sets none.
inline SampleLayout read_layout(int32_t pixel_format) {
    const bool inverted = pixel_format >= kPolarityFlag;
    int32_t mode = inverted ? pixel_format - kPolarityFlag : pixel_format;
    if (mode < 0 || mode > 3) mode = 3;
    return {mode, inverted};
}

// The layout value that asks for every plane of a 3- or 4-plane line of 8-bit
// samples, one byte of each per pixel; any other line reads it as mode 3.
constexpr int32_t kInterleavedMode = 4;

// True when pixel_format, polarity flag taken off, is the interleaved layout.
inline bool interleaves_planes(int32_t pixel_format) {
    return (pixel_format >= kPolarityFlag ? pixel_format - kPolarityFlag : pixel_format) == kInterleavedMode;
}

// The host sees and hands over palettes in the expanded form of 256 entries
// for modes 2 and 3, and as n entries for modes 0 and 1.
inline bool palette_is_expanded(int32_t pixel_format) {
    return read_layout(pixel_format).mode >= 2;
}

} // namespace iff
