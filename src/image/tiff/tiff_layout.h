// How a page is stored in TIFF: its tags, chosen from its kind and the
// caller's compression, and how its rows are cut into strips.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/tiff/tiff_types.h"

namespace iff::tiff {

// A page as the writer receives it.
struct Page {
    int32_t width = 0;
    int32_t height = 0;
    Kind kind = Kind::bilevel;
    const uint8_t *palette = nullptr; // indexed: palette_entries RGB triples (1 to 256)
    uint32_t palette_entries = 0;
    // Dots per inch. 0: not known. A page with neither gets no resolution
    // tags; where only one is known the other is written as 0, which readers
    // take as not known (libtiff keeps the two tags as one field).
    int32_t dpi_x = 0;
    int32_t dpi_y = 0;
};

// The caller's choice; page_default gives each kind its own: Group 4 for
// bilevel pages, Deflate for the others. g4 applies to bilevel pages only and
// leaves the others at their default.
enum class Compression { page_default, none, lzw, deflate, g4 };

// Parses "none", "lzw", "deflate", "g4" (and "default"); false for anything else.
bool parse_compression(const char *name, Compression &compression);

struct Layout {
    uint16_t compression = 0;      // COMPRESSION_...
    uint16_t predictor = 1;        // 2: horizontal differencing
    uint16_t photometric = 0;      // PHOTOMETRIC_...
    uint16_t bits = 8;             // bits per sample
    uint16_t samples = 1;          // samples per pixel
    bool alpha = false;            // the fourth sample is unassociated alpha
    uint32_t colormap_entries = 0; // palette pages: 2^bits
    uint32_t rows_per_strip = 1;
    size_t row_bytes = 0;    // one row in the caller's form
    size_t stored_bytes = 0; // one row as stored (smaller for 4-bit palette pages)
    bool one_strip = false;  // the page is one strip, coded as its rows arrive
};

// Checks the page and chooses how it is stored. Status::argument (with why
// set to the reason) for a page that cannot be written.
Status choose_layout(const Page &page, Compression compression, Layout &layout, const char **why);

} // namespace iff::tiff
