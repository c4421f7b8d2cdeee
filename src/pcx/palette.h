// The page's colours: built when a page is read, handed to the host, taken
// from the host, and stored when a written file is closed.
#pragma once

#include <cstdint>

#include "core/handle.h"

namespace iff {

// Frees the palette and sets the field to none.
void release_palette(IFFHandle &h);

// Builds h.palette for the page just parsed (colour map, built-in tables or
// the 256-colour tail block). The stream is left where it stood. 0, or why
// the page has no palette: 4 depth above 8, 5 no memory, 10 short tail block.
int32_t palette_at_page_open(IFFHandle &h);

// Bytes of the palette the host sees in the current sample layout: 768 in the
// expanded form, else 3 * 2^depth; 0 when that does not fit the 16-bit answer.
int32_t palette_host_bytes(const IFFHandle &h);

// Writes the palette into the host's area in the current sample layout.
int32_t palette_export(const IFFHandle &h, uint8_t *area);

// Replaces the palette with palette_host_bytes(h) bytes from the host's area.
int32_t palette_replace(IFFHandle &h, const uint8_t *area);

// Stores the palette of a file being written: the header's colour map for
// depths 2 to 4, the tail block for depth 8. Leaves the stream where it stood.
int32_t palette_at_close(IFFHandle &h);

} // namespace iff
