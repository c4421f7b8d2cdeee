// Netpbm images: PBM, PGM and PPM, plain (P1-P3) and raw (P4-P6), and PAM
// (P7), for pages with alpha or when asked for.
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

enum class PnmType {
    Any, // the type that fits the page: PBM bilevel, PGM gray, PAM RGBA, PPM otherwise
    Pbm,
    Pgm,
    Ppm,
    Pam, // every page: BLACKANDWHITE, GRAYSCALE, RGB or RGB_ALPHA
};

bool has_pnm_signature(ByteView bytes);

// Reads the first image of a PNM or PAM file (PAM: gray, gray and alpha, RGB,
// RGB and alpha, or black and white; alpha blended onto white); samples of other maximum values are
// scaled to 0..255. An image of more than `max_pixels`, or more than the
// file's remaining bytes can hold, is refused from its header, before any
// pixel memory is taken. The pixels of a raw PPM of maximum value 255 are
// the file's own bytes: that image points into `bytes`, which must outlive it.
RgbImage read_pnm(ByteView bytes, const std::string &name, uint64_t max_pixels = kDefaultMaxPixels);
// Every image of a stream of them, one after another as netpbm writes the
// pages of a file (whitespace between them allowed); bytes after the last
// that do not start another image are ignored, as read_pnm ignores them.
std::vector<RgbImage> read_pnm_images(ByteView bytes, const std::string &name, uint64_t max_pixels = kDefaultMaxPixels);

// Writes pages as raw PNM, RGBA pages (and every page of type Pam) as PAM. A page
// that does not fit the asked type (colour into PGM, alpha into PPM, say) is
// an input error naming the page's kind.
std::unique_ptr<RowSink> make_pnm_sink(ByteOutput &file, PnmType type);
// A sink for the rows of a page from `first_row` on, written at their place
// in the file (the header and the rows before are another sink's), so that
// two threads can each write a part of one PBM, PGM or PPM file.
std::unique_ptr<RowSink> make_pnm_part_sink(ByteOutput &file, PnmType type, int32_t first_row);

} // namespace pcxtool
