// Writing a PCX file through the library.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "encode_layout.h"
#include "file_io.h"
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

// Writes the image to `file` as a PCX file in the layout that choose_layout
// picks for its colours (or checks for --bits), and returns that layout.
// Layouts the colours cannot take are input errors naming `name`, the input;
// failures to write name the file.
PcxLayout write_pcx(const RgbImage &image, std::optional<int> requested_bits, const WriteOptions &options,
                    PendingFile &file, const std::string &name);

} // namespace pcxtool
