#include "pcx/header.h"

#include <cstring>

#include "pcx/palette.h"
#include "pcx/read_buffer.h"
#include "pcx/rle_decoder.h"
#include "pcx/stream_io.h"
#include "pixels/planes.h"
#include "platform/heap.h"

namespace iff {

int32_t check_header(const uint8_t *header) {
    const auto version = int8_t(header[pcx_format::kVersionAt]);
    if (header[pcx_format::kManufacturerAt] != pcx_format::kManufacturer || version < 2 || version > 5)
        return IFF_ERR_FORMAT;
    // Beyond the format check, only what would make a buffer size meaningless:
    // an empty window, no planes (or a count that goes negative as a signed
    // byte) and a depth of zero or below. Odd or oversized line lengths open.
    const int32_t width =
        int32_t(load_le16(header + pcx_format::kXMaxAt)) - int32_t(load_le16(header + pcx_format::kXMinAt)) + 1;
    const int32_t height =
        int32_t(load_le16(header + pcx_format::kYMaxAt)) - int32_t(load_le16(header + pcx_format::kYMinAt)) + 1;
    const auto planes = int8_t(header[pcx_format::kPlanesAt]);
    const auto bits = int8_t(header[pcx_format::kBitsPerPixelAt]);
    if (width <= 0 || height <= 0 || planes <= 0 || bits <= 0) return IFF_ERR_FORMAT;
    return IFF_OK;
}

int64_t page_data_end(const IFFHandle &h) {
    if (h.tail_block_start >= 0) return h.tail_block_start;
    // A next page that does not lie behind this one's start says nothing of
    // where this one ends: the stream's end bounds it.
    if (int64_t(h.page_end) <= int64_t(h.page_offset)) return INT64_MAX;
    return h.page_end;
}

void release_line_buffers(IFFHandle &h) {
    heap_free(h.line_buffer);
    h.line_buffer = nullptr;
    heap_free(h.plane_pad);
    h.plane_pad = nullptr;
    heap_free(h.encode_buffer);
    h.encode_buffer = nullptr;
    h.encode_capacity = 0;
}

int32_t parse_page(IFFHandle &h) {
    uint8_t raw[kHeaderSize];
    if (!stream_read_exact(h, raw, kHeaderSize)) return IFF_ERR_READ;
    if (int32_t status = check_header(raw)) return status;
    std::memcpy(h.header, raw, kHeaderSize);

    h.version = raw[pcx_format::kVersionAt];
    h.bits_per_pixel = raw[pcx_format::kBitsPerPixelAt];
    h.x_min = int32_t(load_le16(raw + pcx_format::kXMinAt));
    h.y_min = int32_t(load_le16(raw + pcx_format::kYMinAt));
    h.x_max = int32_t(load_le16(raw + pcx_format::kXMaxAt));
    h.y_max = int32_t(load_le16(raw + pcx_format::kYMaxAt));
    h.width = h.x_max - h.x_min + 1;
    h.height = h.y_max - h.y_min + 1;
    h.planes = raw[pcx_format::kPlanesAt];
    h.bytes_per_line = int32_t(load_le16(raw + pcx_format::kBytesPerLineAt));
    h.palette_info = int32_t(load_le16(raw + pcx_format::kPaletteInfoAt));
    h.scan_bytes = int32_t(h.planes) * h.bytes_per_line;
    h.current_line = 0;

    // A page without a palette of its own still opens; the export reports why.
    h.tail_block_start = -1;
    h.palette_status = palette_at_page_open(h);
    h.data_end = page_data_end(h);

    release_line_buffers(h);
    read_buffer_release(h);
    h.line_buffer = static_cast<uint8_t *>(heap_alloc(size_t(h.scan_bytes) + kLineSlack));
    if (h.line_buffer == nullptr) return IFF_ERR_MEMORY;
    plan_plane_reads(h);
    if (h.bytes_per_line < h.plane_span) {
        h.plane_pad = static_cast<uint8_t *>(heap_alloc(size_t(h.planes_used) * size_t(h.plane_span)));
        if (h.plane_pad == nullptr) {
            release_line_buffers(h);
            return IFF_ERR_MEMORY;
        }
    }
    if (read_buffer_create(h, pcx::kReadCapacity) != IFF_OK) {
        release_line_buffers(h);
        return IFF_ERR_MEMORY;
    }
    read_buffer_restart(h);
    return IFF_OK;
}

void describe_page(IFFHandle &h, IFFImageInfo *info) {
    const int32_t depth = depth_of(h);
    int32_t bits = depth;
    uint32_t color_class;
    if (depth == 1) {
        color_class = 0;
    } else if (depth == 24) {
        color_class = 3;
        bits = 8;
    } else {
        color_class = h.palette_info == 2 ? 1 : 2;
    }
    h.color_class = color_class;
    if (info == nullptr) return;
    info->width = h.width;
    info->height = h.height;
    info->bits = bits;
    info->color_class = color_class;
    info->kind = 2;
}

namespace {

struct WriteLayout {
    int32_t bits_per_pixel;
    int32_t planes;
    uint8_t version;
    int32_t plane_bytes; // before rounding up to even
};

bool write_layout_for(const IFFImageInfo &info, WriteLayout &layout) {
    const int32_t w = info.width;
    switch (info.bits) {
    case 1: layout = {1, 1, 2, (w + 7) / 8}; return true;
    case 2: layout = {2, 1, 2, (2 * w + 7) / 8}; return true;
    case 3: layout = {1, 3, 5, (w + 7) / 8}; return true;
    case 4: layout = {1, 4, 5, (w + 7) / 8}; return true;
    case 8: layout = {8, info.color_class == 3 ? 3 : 1, 5, w}; return true;
    default: return false;
    }
}

} // namespace

int32_t write_setup(IFFHandle &h, const IFFImageInfo &info) {
    h.palette = nullptr;
    h.palette_entries = 0;
    if (info.color_class > 3) return IFF_ERR_HANDLE;
    // A window holds 1 to 65536 pixels a side; the checks come before any
    // size or window is derived from the width.
    if (info.width <= 0 || info.height <= 0) return IFF_ERR_HANDLE;
    if (info.width > pcx::kMaxWindow || info.height > pcx::kMaxWindow) return IFF_ERR_UNSUPPORTED;
    h.width = info.width;
    h.height = info.height;
    h.x_min = h.y_min = 0;
    h.x_max = h.width - 1;
    h.y_max = h.height - 1;
    WriteLayout layout{};
    if (!write_layout_for(info, layout)) return IFF_ERR_UNSUPPORTED;
    h.bits_per_pixel = layout.bits_per_pixel;
    h.planes = uint8_t(layout.planes);
    h.version = layout.version;
    h.bytes_per_line = (layout.plane_bytes + 1) & ~1;
    h.palette_info = info.color_class == 1 ? 2 : 1;
    if (info.kind > 8) return IFF_ERR_HANDLE;
    if (info.kind > 2) return IFF_ERR_UNSUPPORTED;
    // The header holds a plane's line length in 16 bits: an 8-bit line of
    // 65535 or 65536 pixels, rounded up to even, does not fit, and a file
    // that cannot say how long its lines are is not written.
    if (h.bytes_per_line > 0xFFFF) return IFF_ERR_UNSUPPORTED;

    const int32_t depth = depth_of(h);
    h.color_class = depth == 1 ? 0 : depth == 24 ? 3 : h.palette_info == 2 ? 1 : 2;
    return IFF_OK;
}

int32_t write_open_header(IFFHandle &h, uint32_t open_mode, const void *source) {
    if (open_mode != IFF_MODE_WRITE) {
        h.error = IFF_ERR_UNSUPPORTED;
        return IFF_ERR_UNSUPPORTED;
    }
    // The buffers come first: once the stream is created or truncated, only
    // the stream itself can fail the open. The encoder needs at most two bytes
    // per line byte; both are sized for that from the layout, whatever the width.
    const size_t line_bytes = (size_t(h.width) + 1) * h.planes + 1;
    h.line_buffer = static_cast<uint8_t *>(heap_alloc_zeroed(line_bytes));
    if (h.line_buffer == nullptr) return IFF_ERR_MEMORY;
    h.encode_capacity = int32_t(4 * line_bytes);
    h.encode_buffer = static_cast<uint8_t *>(heap_alloc(size_t(h.encode_capacity)));
    if (h.encode_buffer == nullptr) {
        release_line_buffers(h);
        return IFF_ERR_MEMORY;
    }

    h.stream = h.stream_ops.open(source, kOpenCreate, kOpenPermission);
    if (h.stream < 0) return IFF_ERR_OPEN;

    uint8_t *hd = h.header;
    std::memset(hd, 0, kHeaderSize);
    hd[pcx_format::kManufacturerAt] = pcx_format::kManufacturer;
    hd[pcx_format::kVersionAt] = h.version;
    hd[pcx_format::kEncodingAt] = 1;
    hd[pcx_format::kBitsPerPixelAt] = uint8_t(h.bits_per_pixel);
    store_le16(hd + pcx_format::kXMinAt, uint32_t(h.x_min));
    store_le16(hd + pcx_format::kYMinAt, uint32_t(h.y_min));
    store_le16(hd + pcx_format::kXMaxAt, uint32_t(h.x_max));
    store_le16(hd + pcx_format::kYMaxAt, uint32_t(h.y_max));
    store_le16(hd + pcx_format::kHorizontalDpiAt, 100);
    store_le16(hd + pcx_format::kVerticalDpiAt, 100);
    hd[pcx_format::kPlanesAt] = h.planes;
    store_le16(hd + pcx_format::kBytesPerLineAt, uint32_t(h.bytes_per_line));
    store_le16(hd + pcx_format::kPaletteInfoAt, uint32_t(h.palette_info));
    h.width = h.x_max - h.x_min + 1;
    h.scan_bytes = int32_t(h.planes) * h.bytes_per_line;

    if (stream_write(h, hd, kHeaderSize) != kHeaderSize) return IFF_ERR_WRITE;
    return IFF_OK;
}

} // namespace iff
