// Run-length coding of one scan line, and the write entry point's work.
#pragma once

#include <cstdint>

#include "core/handle.h"

namespace iff {

constexpr int32_t kEncodeSlack = 8;

// Codes size bytes of line into out and returns the coded length: runs of 2
// to 63 equal bytes as a count byte and the value, single bytes below 0xC0 as
// themselves and single bytes of 0xC0 or above behind the count byte 0xC1.
// out must hold 2 * size + kEncodeSlack bytes: stretches are copied a word at
// a time.
int32_t encode_runs(const uint8_t *line, int32_t size, uint8_t *out);

// Codes line_buffer into encode_buffer and writes it with one write call:
// 0, or 1 after a short write (error becomes IFF_ERR_WRITE).
int32_t encode_line(IFFHandle &h);

// Splits, codes and writes count host lines while error is 0; returns error.
int32_t put_lines(IFFHandle &h, uint32_t count, const uint8_t *source);

} // namespace iff
