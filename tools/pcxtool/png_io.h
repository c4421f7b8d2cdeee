// PNG files through libpng: pages written row by row, images read whole.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "file_io.h"
#include "page_image.h"
#include "rgb_image.h"

namespace pcxtool {

bool has_png_signature(const std::vector<uint8_t> &bytes);

// Reads any PNG as 8-bit RGB; translucent pixels are blended onto white,
// since a PCX image has no transparency.
RgbImage read_png(const std::vector<uint8_t> &bytes, const std::string &name);

// Bilevel pages become 1-bit gray, gray pages 8-bit gray, palette pages
// indexed PNGs with their palette, RGB pages 8-bit RGB, RGBA pages 8-bit RGBA.
std::unique_ptr<RowSink> make_png_sink(PendingFile &file);

} // namespace pcxtool
