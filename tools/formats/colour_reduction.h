// Fewer colours for an image to encode: a palette chosen by libimagequant
// (when pcxtool was built with it), or black and white by a luma threshold.
// Results stay RGB images, so that the encoder picks their layout from their
// colours as for any other image.
#pragma once

#include <string>

#include "rgb_image.h"

namespace pcxtool {

// Whether the quantiser was built in (libimagequant-dev).
bool quantizer_available();

// The image in at most `colours` colours (2 to 256), chosen for it, with
// error diffusion when `dither`; with `black_and_white` the colours are
// black and white only. Failures (the quantiser's, or its absence) are
// format errors naming `name`.
RgbImage quantize_colours(const RgbImage &image, int colours, bool dither, bool black_and_white,
                          const std::string &name);

// Black where a pixel's luma (0.299 R + 0.587 G + 0.114 B) is below `level`,
// white elsewhere.
RgbImage threshold_to_black_and_white(const RgbImage &image, int level);

} // namespace pcxtool
