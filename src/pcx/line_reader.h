// The read entry points' work: deliver lines, move to a line.
#pragma once

#include <cstdint>

#include "core/handle.h"

namespace iff {

// Decodes count lines and delivers each at destination, line_stride apart.
int32_t get_lines(IFFHandle &h, uint32_t count, uint8_t *destination);

// Moves to line target of the page: forward by decoding, back by rewinding.
int32_t seek_line(IFFHandle &h, int32_t target);

} // namespace iff
