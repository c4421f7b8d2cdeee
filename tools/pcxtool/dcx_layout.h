// The byte layout that pcxtool handles itself: the DCX page directory, and
// the header fields the library's image description does not carry.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "byte_view.h"

namespace pcxtool {

constexpr uint32_t kDcxSignature = 0x3ADE68B1;
constexpr size_t kPcxHeaderSize = 128;
// The library counts pages in 16 bits.
constexpr size_t kMaxPages = 65535;

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
// input errors naming `name`.
std::vector<PageSpan> page_spans(ByteView file, const std::string &name);

// The layout fields of the PCX header at `offset` (which page_spans checked).
struct HeaderFields {
    int version;
    int bits_per_plane;
    int planes;
    int bytes_per_line;
};
HeaderFields header_fields(ByteView file, uint32_t offset);

// Plane lines of `bytes_per_line` bytes hold `width` pixels of
// `bits_per_plane` bits; a shorter stated length means a damaged header.
inline bool plane_line_holds(const HeaderFields &header, int64_t width) {
    return static_cast<int64_t>(header.bytes_per_line) * 8 >= width * header.bits_per_plane;
}

// A DCX file: signature, one offset per page, a zero entry, then the pages'
// bytes one after another.
std::vector<uint8_t> build_dcx(const std::vector<std::vector<uint8_t>> &pages);

// The signature and directory of a DCX file whose pages have these sizes;
// the pages' bytes follow it in order.
std::vector<uint8_t> dcx_directory(const std::vector<size_t> &page_sizes);

} // namespace pcxtool
