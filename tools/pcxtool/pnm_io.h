// Netpbm images: PBM, PGM and PPM, plain (P1-P3) and raw (P4-P6); PAM (P7)
// for pages with alpha.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "file_io.h"
#include "page_image.h"
#include "rgb_image.h"

namespace pcxtool {

enum class PnmType {
    Any, // the type that fits the page: PBM bilevel, PGM gray, PAM RGBA, PPM otherwise
    Pbm,
    Pgm,
    Ppm,
};

bool has_pnm_signature(const std::vector<uint8_t> &bytes);

// Reads the first image of a PNM file; samples of other maximum values are
// scaled to 0..255.
RgbImage read_pnm(const std::vector<uint8_t> &bytes, const std::string &name);

// Writes pages as raw PNM, RGBA pages as PAM with TUPLTYPE RGB_ALPHA. A page
// that does not fit the asked type (colour into PGM, alpha into PPM, say) is
// an input error naming the page's kind.
std::unique_ptr<RowSink> make_pnm_sink(PendingFile &file, PnmType type);

} // namespace pcxtool
