#include "pcx/palette.h"

#include <cstring>

#include "core/pcx_format.h"
#include "pcx/header.h"
#include "pcx/stream_io.h"
#include "pixels/sample_layout.h"
#include "platform/heap.h"

namespace iff {
namespace {

constexpr int32_t kTailBlockBytes = int32_t(pcx_format::kPaletteBlockSize);
constexpr uint8_t kTailMarker = pcx_format::kPaletteBlockMarker;
constexpr int32_t kFullEntries = 256;

void set_entry(uint8_t *palette, int32_t k, uint8_t r, uint8_t g, uint8_t b) {
    palette[3 * k] = r;
    palette[3 * k + 1] = g;
    palette[3 * k + 2] = b;
}

// Entry k of n is the gray 255 k / (n - 1), cut toward zero.
void fill_gray_ramp(uint8_t *palette, int32_t n, int32_t from) {
    for (int32_t k = from; k < n; ++k) {
        const auto v = uint8_t(255 * k / (n - 1));
        set_entry(palette, k, v, v, v);
    }
}

// The eight colours of depth-3 pages of versions 3 and 4: red is bit 2 of the
// index, green bit 1, blue bit 0, at full intensity or at 192.
void fill_eight_colours(uint8_t *palette, uint8_t on) {
    for (int32_t k = 0; k < 8; ++k) set_entry(palette, k, (k & 4) ? on : 0, (k & 2) ? on : 0, (k & 1) ? on : 0);
}

// The header's colour map holds 16 entries; a deeper page takes the gray ramp
// for the entries the map cannot describe.
void copy_colour_map(IFFHandle &h, int32_t n) {
    if (h.palette_info > 2) {
        fill_gray_ramp(h.palette, n, 0);
        return;
    }
    const uint8_t *map = h.header + pcx_format::kColourMapAt;
    const int32_t from_map = n < 16 ? n : 16;
    for (int32_t k = 0; k < from_map; ++k) {
        const uint8_t *e = map + 3 * k;
        if (h.palette_info == 2)
            set_entry(h.palette, k, e[0], e[0], e[0]);
        else
            set_entry(h.palette, k, e[0], e[1], e[2]);
    }
    fill_gray_ramp(h.palette, n, from_map);
}

// The 256-colour block at the end of an 8-bit page: 0 when it was taken,
// IFF_ERR_READ when it is cut short, -1 when there is none (no marker, or no
// room for one behind the header).
int32_t read_tail_block(IFFHandle &h) {
    const int32_t saved = stream_seek(h, 0, kFromCurrent);
    if (saved < 0) return -1;
    const int64_t start = int64_t(h.page_end) - kTailBlockBytes;
    if (start < int64_t(h.page_offset) + kHeaderSize || start > INT32_MAX) return -1;
    int32_t result = -1;
    uint8_t marker = 0;
    if (stream_seek(h, int32_t(start), kFromStart) >= 0) {
        if (!stream_read_exact(h, &marker, 1))
            result = IFF_ERR_READ;
        else if (marker == kTailMarker)
            result = stream_read_exact(h, h.palette, 3 * kFullEntries) ? 0 : IFF_ERR_READ;
    }
    if (result == 0) h.tail_block_start = int32_t(start); // the page's image data end there
    stream_seek(h, saved, kFromStart);
    return result;
}

} // namespace

void release_palette(IFFHandle &h) {
    heap_free(h.palette);
    h.palette = nullptr;
    h.palette_entries = 0;
}

int32_t palette_at_page_open(IFFHandle &h) {
    release_palette(h);
    const int32_t depth = depth_of(h);
    if (depth > 8 || depth < 1) return IFF_ERR_REQUEST;
    const int32_t n = 1 << depth;
    h.palette = static_cast<uint8_t *>(heap_alloc(size_t(3 * n)));
    if (h.palette == nullptr) return IFF_ERR_MEMORY;
    h.palette_entries = n;

    switch (h.version) {
    case 3:
        if (n == 8)
            fill_eight_colours(h.palette, 255);
        else
            fill_gray_ramp(h.palette, n, 0);
        break;
    case 4:
        if (depth == 3)
            fill_eight_colours(h.palette, 192);
        else
            copy_colour_map(h, n);
        break;
    case 5:
        // Only 8-bit pages keep their colours in the tail block; shallower
        // pages keep them in the colour map, whatever byte lies where a block
        // would start (image data can hold a 12 there by chance).
        if (depth == 8) {
            const int32_t status = read_tail_block(h);
            if (status > 0) {
                release_palette(h);
                return status;
            }
            if (status == 0) break;
        }
        copy_colour_map(h, n);
        break;
    default: copy_colour_map(h, n); break;
    }
    return IFF_OK;
}

int32_t palette_host_bytes(const IFFHandle &h) {
    if (palette_is_expanded(h.pixel_format)) return 3 * kFullEntries;
    const int32_t depth = depth_of(h);
    // 3 * 2^depth must fit the 16-bit size answer; deeper images have no
    // palette a host could hand over.
    if (depth < 1 || depth > 14) return 0;
    return 3 << depth;
}

int32_t palette_export(const IFFHandle &h, uint8_t *area) {
    if (h.color_class == 0 && h.bits_per_pixel == 1) {
        static const uint8_t kBlackWhite[6] = {0, 0, 0, 255, 255, 255};
        std::memcpy(area, kBlackWhite, sizeof kBlackWhite);
        return IFF_OK;
    }
    if (h.color_class > 2) return IFF_ERR_REQUEST;
    if (h.palette == nullptr) return h.palette_status != 0 ? h.palette_status : IFF_ERR_REQUEST;
    const int32_t n = h.palette_entries;
    const int32_t repeat = palette_is_expanded(h.pixel_format) ? kFullEntries / n : 1;
    for (int32_t k = 0; k < n; ++k) {
        for (int32_t r = 0; r < repeat; ++r) {
            std::memcpy(area, h.palette + 3 * k, 3);
            area += 3;
        }
    }
    return IFF_OK;
}

int32_t palette_replace(IFFHandle &h, const uint8_t *area) {
    const int32_t bytes = palette_host_bytes(h);
    if (bytes == 0) return IFF_ERR_REQUEST;
    release_palette(h);
    h.palette = static_cast<uint8_t *>(heap_alloc(size_t(bytes)));
    if (h.palette == nullptr) return IFF_ERR_MEMORY;
    std::memcpy(h.palette, area, size_t(bytes));
    h.palette_entries = bytes / 3;
    return IFF_OK;
}

int32_t palette_at_close(IFFHandle &h) {
    const int32_t depth = depth_of(h);
    if (depth == 1 || depth == 24) return IFF_OK;
    if (depth < 2 || depth > 8) return IFF_ERR_UNSUPPORTED;
    if (h.palette == nullptr) {
        if (h.palette_info == 1) return IFF_ERR_FORMAT;
        // Grayscale without a host palette: the ramp k of 256 entries, of
        // which a shallower depth takes every (256 / n)-th level.
        h.palette = static_cast<uint8_t *>(heap_alloc(3 * kFullEntries));
        if (h.palette == nullptr) return IFF_ERR_MEMORY;
        h.palette_entries = kFullEntries;
        for (int32_t k = 0; k < kFullEntries; ++k) set_entry(h.palette, k, uint8_t(k), uint8_t(k), uint8_t(k));
    }
    const int32_t saved = stream_seek(h, 0, kFromCurrent);
    const int32_t n = 1 << depth;

    if (depth <= 4) {
        // A palette of 256 entries at a shallower depth is in the expanded
        // form and gives every (256 / n)-th entry; otherwise the first n. The
        // palette's own shape decides, so a sample layout changed after the
        // hand-over never makes the copy read past the entries it holds.
        const bool expanded = h.palette_entries == kFullEntries;
        const int32_t step = expanded ? kFullEntries / n : 1;
        uint8_t *map = h.header + pcx_format::kColourMapAt;
        for (int32_t k = 0; k < n && k * step < h.palette_entries; ++k)
            std::memcpy(map + 3 * k, h.palette + 3 * k * step, 3);
    } else if (depth == 8) {
        // By default the block ends the file on a multiple of 32 bytes, as
        // hosts of this library rely on; asked to, it follows the data
        // directly. Once placed, a retry after a failed write puts it in the
        // same place, over the part written before, rather than behind it.
        if (h.tail_block_start < 0) {
            const int32_t old_end = stream_seek(h, 0, kFromEnd);
            if (old_end < 0) return IFF_ERR_SEEK;
            const int64_t start = h.tail_block_after_data ? int64_t(old_end)
                                                          : ((int64_t(old_end) + 800) & ~int64_t(31)) - kTailBlockBytes;
            if (start > INT32_MAX) return IFF_ERR_SEEK;
            h.tail_block_start = int32_t(start);
        }
        if (stream_seek(h, h.tail_block_start, kFromStart) < 0) return IFF_ERR_SEEK;
        const uint8_t marker = kTailMarker;
        if (stream_write(h, &marker, 1) != 1) return IFF_ERR_WRITE;
        uint8_t entries[3 * kFullEntries] = {};
        const int32_t held = h.palette_entries < kFullEntries ? h.palette_entries : kFullEntries;
        std::memcpy(entries, h.palette, size_t(3 * held));
        if (stream_write(h, entries, sizeof entries) != int32_t(sizeof entries)) return IFF_ERR_WRITE;
    } else {
        return IFF_ERR_UNSUPPORTED;
    }
    if (saved >= 0) stream_seek(h, saved, kFromStart);
    return IFF_OK;
}

} // namespace iff
