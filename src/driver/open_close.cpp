#include "driver/open_close.h"

#include <new>

#include "core/handle.h"
#include "driver/handle_table.h"
#include "pcx/dcx_directory.h"
#include "pcx/header.h"
#include "pcx/palette.h"
#include "pcx/read_buffer.h"
#include "pcx/stream_io.h"
#include "platform/file_streams.h"
#include "platform/heap.h"

namespace iff {
namespace {

// Frees the record and everything it owns, closing the stream if open.
void discard(IFFHandle *h) {
    if (h->stream >= 0) {
        h->stream_ops.close(h->stream);
        h->stream = -1;
    }
    release_line_buffers(*h);
    read_buffer_release(*h);
    release_palette(*h);
    h->~IFFHandle();
    heap_free(h);
}

// A host table must have every callback the open mode calls: a reading host
// may leave write out.
bool install_streams(IFFHandle &h, const void *source, uint32_t mode, uint32_t open_mode) {
    if (!(mode & IFF_MODE_STREAMS)) {
        h.stream_ops = file_stream_ops();
        return true;
    }
    if (source == nullptr) return false;
    h.stream_ops = *static_cast<const IFFStreamOps *>(source);
    const IFFStreamOps &ops = h.stream_ops;
    const bool reading = open_mode == IFF_MODE_READ || open_mode == IFF_MODE_READ_LINES;
    return ops.open && ops.close && ops.read && ops.seek && (ops.write || reading);
}

int32_t open_for_reading(IFFHandle &h, const void *source) {
    h.stream = h.stream_ops.open(source, kOpenExisting, kOpenPermission);
    if (h.stream < 0) {
        h.stream = -1;
        return IFF_ERR_OPEN;
    }
    uint8_t signature[4];
    if (!stream_read_exact(h, signature, 4)) return IFF_ERR_READ;
    int32_t status;
    if (load_le32(signature) == pcx_format::kDcxSignature) {
        status = dcx_open(h);
    } else {
        h.page_count = 1;
        h.page_offset = 0;
        h.page_end = stream_seek(h, 0, kFromEnd);
        if (stream_seek(h, 0, kFromStart) < 0) return IFF_ERR_SEEK;
        status = parse_page(h);
    }
    if (status == IFF_OK) describe_page(h, h.description);
    return status;
}

} // namespace

int32_t open_image(const void *source, uint32_t mode, IFFImageInfo *info) {
    if (info == nullptr) return -IFF_ERR_REQUEST;
    // The handle value and every buffer are had before the stream is opened,
    // so an open that fails for want of either creates or truncates nothing.
    const int32_t value = reserve_handle();
    if (value <= 0) return -IFF_ERR_MEMORY;
    void *block = heap_alloc(sizeof(IFFHandle));
    if (block == nullptr) {
        unregister_handle(value);
        return -IFF_ERR_MEMORY;
    }
    IFFHandle *h = new (block) IFFHandle();

    const uint32_t open_mode = mode & ~uint32_t(IFF_MODE_STREAMS) & 0x7FFF;
    info->reserved = 0;
    h->mode = open_mode;
    h->description = info;
    int32_t status = IFF_OK;
    if (!install_streams(*h, source, mode, open_mode)) {
        status = IFF_ERR_REQUEST;
    } else if (open_mode == IFF_MODE_WRITE || open_mode == 2) {
        status = write_setup(*h, *info);
        if (status == IFF_OK) status = write_open_header(*h, open_mode, source);
    } else if (open_mode == IFF_MODE_READ || open_mode == IFF_MODE_READ_LINES) {
        status = open_for_reading(*h, source);
    } else {
        status = IFF_ERR_UNSUPPORTED;
    }
    if (status == IFF_OK) {
        fix_line_stride(*h);
        bind_handle(value, h);
        return value;
    }
    unregister_handle(value);
    discard(h);
    return -status;
}

int32_t close_image(int32_t value) {
    IFFHandle *h = find_handle(value);
    if (h == nullptr) return IFF_ERR_HANDLE;
    int32_t status = IFF_OK;
    if (h->mode == IFF_MODE_WRITE && !h->abandoned) {
        // A failed palette step keeps the handle, so the host can hand over
        // a palette and close again; a host that gives up on the file ends
        // the handle with IFF_REQ_ABANDON and another close.
        if (int32_t palette_status = palette_at_close(*h)) return palette_status;
        // A line that failed to write was reported by IFFPutLine and stays
        // in the sticky status; close reports only its own steps.
        if (stream_seek(*h, 0, kFromStart) < 0)
            status = IFF_ERR_SEEK;
        else if (stream_write(*h, h->header, kHeaderSize) != kHeaderSize)
            status = IFF_ERR_WRITE;
    }
    unregister_handle(value);
    const int32_t closed = h->stream_ops.close(h->stream);
    h->stream = -1;
    discard(h);
    return closed != 0 ? IFF_ERR_CLOSE : status;
}

} // namespace iff
