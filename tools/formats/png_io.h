// PNG files through libpng: pages written row by row, images read whole.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "byte_output.h"
#include "byte_view.h"
#include "page_image.h"
#include "pixel_limit.h"
#include "rgb_image.h"

namespace pcxtool {

bool has_png_signature(ByteView bytes);

// Reads any PNG as 8-bit RGB; translucent pixels are blended onto white,
// since a PCX image has no transparency. An image of more than `max_pixels`,
// or larger than the file's compressed bytes could hold, is refused from its
// header, before any pixel memory is taken.
// With keep_alpha, the pixels are 8-bit RGBA as stored (four bytes each), not blended.
RgbImage read_png(ByteView bytes, const std::string &name, uint64_t max_pixels = kDefaultMaxPixels,
                  bool keep_alpha = false);

// Bilevel pages become 1-bit gray, gray pages 8-bit gray, palette pages
// indexed PNGs with their palette, RGB pages 8-bit RGB, RGBA pages 8-bit RGBA.
std::unique_ptr<RowSink> make_png_sink(ByteOutput &file);

} // namespace pcxtool
