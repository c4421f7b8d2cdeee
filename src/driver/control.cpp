#include "driver/control.h"

#include <cstring>

#include "pcx/dcx_directory.h"
#include "pcx/header.h"
#include "pcx/palette.h"
#include "pcx/stream_io.h"
#include "pixels/planes.h"

namespace iff {
namespace {

void store_u16(void *data, uint32_t v) {
    const auto half = uint16_t(v);
    std::memcpy(data, &half, sizeof half);
}

int32_t palette_request(IFFHandle &h, bool size_query, void *data) {
    if (size_query) {
        store_u16(data, uint32_t(palette_host_bytes(h)));
        return IFF_OK;
    }
    if (h.mode == IFF_MODE_READ) return palette_export(h, static_cast<uint8_t *>(data));
    return palette_replace(h, static_cast<const uint8_t *>(data));
}

// data: two 32-bit slots, horizontal then vertical. Bit 0 of flags selects the
// horizontal value, bit 1 the vertical; each selected value takes the next slot.
int32_t resolution_request(IFFHandle &h, uint32_t flags, void *data) {
    auto *slot = static_cast<uint8_t *>(data);
    const uint32_t fields[2] = {pcx_format::kHorizontalDpiAt, pcx_format::kVerticalDpiAt};
    for (int axis = 0; axis < 2; ++axis) {
        if (!(flags & (axis == 0 ? IFF_RESOLUTION_X : IFF_RESOLUTION_Y))) continue;
        if (h.mode == IFF_MODE_READ) {
            const uint32_t dpi = load_le16(h.header + fields[axis]);
            std::memcpy(slot, &dpi, 4);
        } else {
            uint32_t dpi;
            std::memcpy(&dpi, slot, 4);
            store_le16(h.header + fields[axis], dpi & 0xFFFF);
        }
        slot += 4;
    }
    return IFF_OK;
}

int32_t select_page_request(IFFHandle &h, uint32_t flags, int32_t value) {
    if (h.mode != IFF_MODE_READ || (flags & 0xFF) != 0 || ((flags >> 8) & 0xFF) == 1) return IFF_ERR_REQUEST;
    if (h.page_count == 1) return IFF_OK;
    if (value < 0 || value >= int32_t(h.page_count)) return IFF_ERR_REQUEST;
    return select_page(h, value);
}

// Only a write handle stores a palette block, and only until a close has
// placed it: moving it then would leave the part written at the old place.
int32_t palette_placement_request(IFFHandle &h, uint32_t flags) {
    if (h.mode != IFF_MODE_WRITE || h.tail_block_start >= 0) return IFF_ERR_REQUEST;
    if (flags != IFF_PALETTE_ALIGNED && flags != IFF_PALETTE_AFTER_DATA) return IFF_ERR_REQUEST;
    h.tail_block_after_data = flags == IFF_PALETTE_AFTER_DATA;
    return IFF_OK;
}

// Bytes of one host line: what IFFGetLine delivers on reading, what
// IFFPutLine takes on writing.
int64_t line_bytes(const IFFHandle &h) {
    if (h.mode != IFF_MODE_WRITE) return host_line_bytes(h);
    if (h.planes == 1 && h.pixel_format == 0) return (int64_t(h.width) * h.bits_per_pixel + 7) / 8;
    return h.planes == 3 && h.bits_per_pixel == 8 ? 3 * int64_t(h.width) : h.width;
}

} // namespace

int32_t control(IFFHandle &h, uint32_t request, uint32_t flags, int32_t value, void *data) {
    const bool size_query = (request & IFF_REQ_SIZE_QUERY) != 0;
    request &= ~uint32_t(IFF_REQ_SIZE_QUERY);
    flags &= 0xFFFF;
    const bool needs_data = request == IFF_REQ_STATUS || request == IFF_REQ_LINE_SIZE || request == IFF_REQ_PALETTE ||
                            request == IFF_REQ_RESOLUTION || request == IFF_REQ_PAGE_COUNT ||
                            request == IFF_REQ_LINE_STRIDE;
    if (needs_data && data == nullptr) return IFF_ERR_REQUEST;
    switch (request) {
    case IFF_REQ_STATUS: {
        const uint32_t status = h.error;
        std::memcpy(data, &status, 4);
        return IFF_OK;
    }
    case IFF_REQ_LINE_SIZE: {
        // The answer is 16 bits wide; a longer line answers 0 rather than a
        // truncated size a host would allocate too little for.
        const int64_t bytes = line_bytes(h);
        store_u16(data, bytes > 0xFFFF ? 0u : uint32_t(bytes));
        return IFF_OK;
    }
    case IFF_REQ_PALETTE: return palette_request(h, size_query, data);
    case IFF_REQ_PIXEL_FORMAT:
        h.pixel_format = int16_t(uint16_t(flags));
        // The interleaved layout widens the lines of 32-bit pages.
        if (h.mode != IFF_MODE_WRITE && h.width > 0) fix_line_stride(h);
        return IFF_OK;
    case IFF_REQ_RESOLUTION: return resolution_request(h, flags, data);
    case IFF_REQ_PAGE_COUNT:
        if (h.mode != IFF_MODE_READ || flags == 1) return IFF_ERR_REQUEST;
        store_u16(data, h.page_count);
        return IFF_OK;
    case IFF_REQ_SELECT_PAGE: return select_page_request(h, flags, value);
    case IFF_REQ_LINE_STRIDE: {
        // 32 bits wide, and never below what one line takes in the current
        // sample layout, so a host sizes every line and every multi-line area
        // from it.
        const auto stride = uint32_t(h.line_stride > 0 ? h.line_stride : 0);
        std::memcpy(data, &stride, sizeof stride);
        return IFF_OK;
    }
    case IFF_REQ_ABANDON: h.abandoned = true; return IFF_OK;
    case IFF_REQ_PALETTE_PLACEMENT: return palette_placement_request(h, flags);
    default: return IFF_ERR_UNSUPPORTED;
    }
}

} // namespace iff
