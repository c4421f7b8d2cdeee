#include "pcx/dcx_directory.h"

#include "pcx/header.h"
#include "pcx/stream_io.h"
#include "pixels/sample_layout.h"

namespace iff {
namespace {

constexpr int32_t kMaxPages = 65535; // page_count is 16 bits wide

// Reads the directory entries of page index and the page behind it (its end)
// into page_offset and page_end; a last page ends at the end of the stream.
int32_t read_page_bounds(IFFHandle &h) {
    uint8_t entries[8];
    if (!stream_read_exact(h, entries, 8)) {
        h.error = IFF_ERR_READ;
        return IFF_ERR_READ;
    }
    h.page_offset = load_le32(entries);
    h.page_end = int32_t(load_le32(entries + 4));
    if (h.page_end == 0) h.page_end = stream_seek(h, 0, kFromEnd);
    return IFF_OK;
}

// Page offsets beyond what a seek can reach fail like a seek.
int32_t seek_to_page(IFFHandle &h) {
    if (h.page_offset > uint32_t(INT32_MAX) || stream_seek(h, int32_t(h.page_offset), kFromStart) < 0)
        return IFF_ERR_SEEK;
    return IFF_OK;
}

} // namespace

int32_t dcx_open(IFFHandle &h) {
    h.page_count = 0;
    int32_t pages = 0;
    for (;;) {
        uint8_t entry[4];
        if (!stream_read_exact(h, entry, 4)) {
            h.error = IFF_ERR_READ;
            return IFF_ERR_READ;
        }
        if (load_le32(entry) == 0) break;
        // The count is 16 bits wide; a longer directory cannot be counted.
        if (++pages > kMaxPages) return IFF_ERR_FORMAT;
    }
    if (pages == 0) return IFF_ERR_FORMAT; // no page at all
    h.page_count = uint16_t(pages);
    if (stream_seek(h, 4, kFromStart) < 0) return IFF_ERR_SEEK;
    if (int32_t status = read_page_bounds(h)) return status;
    if (int32_t status = seek_to_page(h)) return status;
    return parse_page(h);
}

int32_t select_page(IFFHandle &h, int32_t index) {
    if (stream_seek(h, 4 + 4 * index, kFromStart) < 0) {
        h.error = IFF_ERR_SEEK;
        return IFF_ERR_SEEK;
    }
    if (int32_t status = read_page_bounds(h)) return status;
    if (int32_t status = seek_to_page(h)) return status;
    if (int32_t status = parse_page(h)) return status;
    describe_page(h, h.description);
    fix_line_stride(h);
    return IFF_OK;
}

void fix_line_stride(IFFHandle &h) {
    // Lines of 8 bits in 4 planes take 4 bytes a pixel in the interleaved
    // layout; the defined layouts deliver plane 0 alone, 1 byte a pixel, and
    // keep the stride of their colour class.
    if (h.mode != IFF_MODE_WRITE && h.bits_per_pixel == 8 && h.planes == 4 && interleaves_planes(h.pixel_format)) {
        h.line_stride = 4 * h.width;
        return;
    }
    switch (h.color_class) {
    case 0: h.line_stride = h.width; break;
    case 3: h.line_stride = 3 * h.width; break;
    default: h.line_stride = (h.bits_per_pixel + 7) / 8 * h.width; break;
    }
}

} // namespace iff
