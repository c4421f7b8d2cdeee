// Scan lines of pages that store their image data without run-length coding
// (header encoding byte 0), as several writers produce them.
#pragma once

#include <cstdint>

#include "core/handle.h"

namespace iff {

// The header encoding value of a page whose lines are stored as they are.
constexpr uint8_t kStoredEncoding = 0;

// True when the current page's lines are stored, not run-length coded.
bool page_lines_stored(const IFFHandle &h);

// Copies the page's next scan_bytes bytes into line_buffer through the read
// buffer: 0 when the line is complete, 1 when the stream ended or failed
// first. The bytes of a partial line are consumed, as with a coded line.
int32_t read_stored_line(IFFHandle &h);

} // namespace iff
