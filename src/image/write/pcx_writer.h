// Writing a PCX file through the line library.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "write/encode_layout.h"
#include "write/pcx_output.h"

namespace image {

// PCX windows and line lengths are 16-bit, which bounds what can be encoded.
constexpr int64_t kMaxImageSide = 65535;

// An image to encode: every pixel as red, green, blue, rows back to back.
struct RgbPixels {
    int32_t width = 0;
    int32_t height = 0;
    const uint8_t *rgb = nullptr; // width * height * 3 bytes
    int32_t dpi_x = 0;            // 0: the library's default
    int32_t dpi_y = 0;
};

struct WriteOptions {
    // Keep the library's placement of the 256-colour block, which ends the
    // file on a multiple of 32 bytes and may leave a gap before the block.
    // By default the block follows the image data directly, which readers
    // that read the file front to back need.
    bool align_palette = false;
    bool one_thread = false;
};

// Writes the image to `output` as a PCX file in the layout that
// choose_layout picks for its colours (or checks for `requested_bits`), and
// returns that layout. Layouts the colours cannot take are failures naming
// `name`, the image; failures to write name the output.
PcxLayout write_pcx(const RgbPixels &image, std::optional<int> requested_bits, const WriteOptions &options,
                    PcxOutput &output, const std::string &name);

} // namespace image
