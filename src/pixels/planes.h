// Per-line bridge between the file's plane layout in line_buffer and the
// host's pixel layout.
#pragma once

#include <cstdint>

#include "core/handle.h"

namespace iff {

// Reading: the decoded line in h.line_buffer to the host's pixels at
// destination, host_line_bytes(h) bytes. When h.plane_pad is set, the used
// planes are first copied there, zero-padded to h.plane_span bytes each.
void merge_line(IFFHandle &h, uint8_t *destination);

// Reading: 1-bit samples in planes planes (planes > 1), each plane_stride
// bytes apart in source, to width host pixels in pixel_format. Reads
// (width + 7) / 8 bytes of each of the first min(planes, 8) planes; a line
// of more planes has the value of its first 8.
void merge_bit_planes(const uint8_t *source, int32_t plane_stride, int32_t planes, int32_t width, int32_t pixel_format,
                      uint8_t *destination);

// Writing: one host line at source to file layout in h.line_buffer; never
// writes past bytes_per_line of a plane, whatever the width.
void split_line(IFFHandle &h, const uint8_t *source);

// Bytes merge_line writes for one line in the handle's current pixel_format.
int64_t host_line_bytes(const IFFHandle &h);

// Sets h.planes_used and h.plane_span: how many planes, and how many bytes of
// each, the conversions read from a decoded line of the current page.
void plan_plane_reads(IFFHandle &h);

} // namespace iff
