// migrate's proof: a written file decoded again (by libtiff or libpng) and
// compared with the decoded source, pixel for pixel, with its resolution.
#pragma once

#include <string>

#include "byte_view.h"
#include "pcx_pages.h"

namespace pcxtool {

// Every page of `source` in the TIFF file's pages, in order. Throws an
// input error naming the first difference.
void verify_tiff(PcxPages &source, ByteView tiff, const std::string &name);

// Page `page` of `source` as the PNG file, compared in RGBA.
void verify_png(PcxPages &source, int page, ByteView png, const std::string &name);

} // namespace pcxtool
