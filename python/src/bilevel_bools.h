// Bilevel pages as numpy's bools, one byte a pixel (1 white, 0 black).
#pragma once

#include <cstddef>
#include <cstdint>

#include "iffpcx_image.h"

namespace pyiffpcx {

// Decodes a bilevel page into width bytes a row, as IFFPCX_FORM_BOOL gives
// it, by way of the packed rows, which the line library delivers several
// times faster than bytes; each block of rows is spread out straight into
// pixels, on two threads for a large page.
iffpcx_status decode_bools(iffpcx_file *file, uint32_t page, uint32_t flags, uint8_t *pixels, size_t width,
                           iffpcx_error *error);

} // namespace pyiffpcx
