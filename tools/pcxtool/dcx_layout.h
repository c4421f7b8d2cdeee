// The byte layout that pcxtool handles itself: the DCX page directory, and
// the header fields the library's image description does not carry.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pcxtool {

constexpr uint32_t kDcxSignature = 0x3ADE68B1;
constexpr size_t kPcxHeaderSize = 128;
// The library counts pages in 16 bits.
constexpr size_t kMaxPages = 65535;

bool has_dcx_signature(const std::vector<uint8_t> &file);

// Where one page's bytes lie in its file: [offset, end).
struct PageSpan {
    uint32_t offset;
    uint32_t end;
};

// The pages of a DCX file (by its directory) or the single page of a PCX
// file. A directory without terminator, an offset inside the directory or
// past the end, offsets out of order, or a page too short for its header are
// input errors naming `name`.
std::vector<PageSpan> page_spans(const std::vector<uint8_t> &file, const std::string &name);

// The layout fields of the PCX header at `offset` (which page_spans checked).
struct HeaderFields {
    int version;
    int bits_per_plane;
    int planes;
    int bytes_per_line;
};
HeaderFields header_fields(const std::vector<uint8_t> &file, uint32_t offset);

// A DCX file: signature, one offset per page, a zero entry, then the pages'
// bytes one after another.
std::vector<uint8_t> build_dcx(const std::vector<std::vector<uint8_t>> &pages);

} // namespace pcxtool
