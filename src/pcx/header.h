// The 128-byte PCX page header and the operations built on it.
#pragma once

#include <cstdint>

#include "core/handle.h"

namespace iff {

// Sizes the library chooses; the format's own facts are in core/pcx_format.h.
namespace pcx {
constexpr int32_t kReadCapacity = 262140;
constexpr int32_t kMaxWindow = 65536; // pixels a side a header's window can describe
} // namespace pcx

// The status a header gets at page parse: 0, or IFF_ERR_FORMAT for a foreign
// header or one that no buffer size can make safe.
int32_t check_header(const uint8_t *header);

// Where the current page's image data end: at the 256-colour block its
// palette came from, else where the page ends (the next page's offset or the
// stream's end).
int64_t page_data_end(const IFFHandle &h);

// Reads the header at the stream's position into the handle, builds the
// page's palette and its buffers. The stream is left at the first image byte.
int32_t parse_page(IFFHandle &h);

// Reports the current page to info and sets the handle's colour class.
void describe_page(IFFHandle &h, IFFImageInfo *info);

// Takes the layout of a file to write from info.
int32_t write_setup(IFFHandle &h, const IFFImageInfo &info);

// Creates the file, writes its first header and allocates the line buffers.
int32_t write_open_header(IFFHandle &h, uint32_t open_mode, const void *source);

// Releases a buffer of the handle and sets its field to none.
void release_line_buffers(IFFHandle &h);

} // namespace iff
