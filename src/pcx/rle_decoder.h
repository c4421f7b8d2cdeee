// Run-length decoding of one scan line.
#pragma once

#include <cstdint>

#include "core/handle.h"

namespace iff {

// Bytes behind line_buffer's scan_bytes that run fills may touch, so a run is
// one fixed-size store instead of a call; they are never read.
constexpr int32_t kLineSlack = 64;

// Decodes the page's next scan_bytes bytes into line_buffer: 0 when the line
// is complete, 1 when the stream ended or failed first. The rest of a run
// that crosses the line's end is pushed back in front of the read cursor and
// begins the next line.
int32_t decode_line(IFFHandle &h);

} // namespace iff
