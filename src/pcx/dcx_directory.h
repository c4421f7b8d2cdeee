// Multi-page files: a directory of page offsets in front of PCX pages.
#pragma once

#include <cstdint>

#include "core/handle.h"

namespace iff {

// Counts the pages (the stream stands right after the signature) and parses
// the first one.
int32_t dcx_open(IFFHandle &h);

// Parses page index (0 <= index < page_count), describes it to the host and
// fixes the line stride again.
int32_t select_page(IFFHandle &h, int32_t index);

// The stride by which the host's pointer advances per line, from the
// handle's colour class: never below what one line takes in any layout.
void fix_line_stride(IFFHandle &h);

} // namespace iff
