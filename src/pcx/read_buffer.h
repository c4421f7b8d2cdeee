// The read buffer: the page's coded bytes pulled from the stream in large
// blocks, with headroom in front for the push-back of a run split by a line end.
#pragma once

#include <cstdint>

#include "core/handle.h"

namespace iff {

constexpr int32_t kReadHeadroom = 5;

// Allocates capacity + headroom bytes; 0, or IFF_ERR_MEMORY with no buffer.
int32_t read_buffer_create(IFFHandle &h, int32_t capacity);

// Frees the buffer; 1 when there was one, 0 otherwise.
int32_t read_buffer_release(IFFHandle &h);

// Empties the buffer for decoding from the page's first image byte, where the
// stream stands.
void read_buffer_restart(IFFHandle &h);

// Reads the next block into the data area and returns its first byte (the
// cursor then stands behind it), or -1 when the stream yields no byte. Inside
// the page's lines no block reaches past the page's data end.
int32_t read_buffer_refill(IFFHandle &h);

} // namespace iff
