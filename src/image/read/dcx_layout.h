// Where the pages of a PCX or DCX file lie: the DCX page directory, and the
// header fields the line library's image description does not carry.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/byte_view.h"
#include "core/pcx_format.h"

namespace image {

bool has_dcx_signature(ByteView file);
// A DCX signature, or the first byte of every PCX header.
bool starts_like_pcx_or_dcx(ByteView file);

// Where one page's bytes lie in its file: [offset, end).
struct PageSpan {
    uint32_t offset;
    uint32_t end;
};

// The pages of a DCX file (by its directory) or the single page of a PCX
// file. A directory without terminator, an offset inside the directory or
// past the end, offsets out of order, or a page too short for its header are
// malformed files, named `name`; more than `max_pages` pages go past a limit.
std::vector<PageSpan> page_spans(ByteView file, const std::string &name,
                                 uint32_t max_pages = pcx_format::kDcxMostPages);

// The layout fields of the PCX header at `offset` (which page_spans checked).
struct HeaderFields {
    int version;
    int encoding;
    int bits_per_plane;
    int planes;
    int bytes_per_line;
    int palette_info;
    int x_min, y_min, x_max, y_max;
};
HeaderFields header_fields(ByteView file, uint32_t offset);

// Plane lines of `bytes_per_line` bytes hold `width` pixels of
// `bits_per_plane` bits; a shorter stated length means a damaged header.
inline bool plane_line_holds(const HeaderFields &header, int64_t width) {
    return static_cast<int64_t>(header.bytes_per_line) * 8 >= width * header.bits_per_plane;
}

// The signature and directory of a DCX file whose pages have these sizes;
// the pages' bytes follow it in order.
std::vector<uint8_t> dcx_directory(const std::vector<size_t> &page_sizes);

} // namespace image
