// Writing a PCX file through the library, into memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "encode_layout.h"
#include "rgb_image.h"

namespace pcxtool {

struct WriteOptions {
    int32_t dpi_x = 0; // 0: the image's own resolution, else the library's default
    int32_t dpi_y = 0;
    // Keep the library's placement of the 256-colour block, which ends the
    // file on a multiple of 32 bytes and may leave a gap before the block.
    // By default the block follows the image data directly, which readers
    // that read the file front to back need.
    bool align_palette = false;
};

// The bytes of the PCX file; library failures are input errors naming `name`.
std::vector<uint8_t> write_pcx(const RgbImage &image, const PcxLayout &layout, const WriteOptions &options,
                               const std::string &name);

} // namespace pcxtool
