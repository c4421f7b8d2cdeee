// The six exported functions. Each finds its handle, does its work and
// returns a status; nothing is thrown across the interface.
#include "iffpcx.h"

#include "driver/control.h"
#include "driver/handle_table.h"
#include "driver/open_close.h"
#include "pcx/line_reader.h"
#include "pcx/rle_encoder.h"

using iff::IFFHandle;

namespace {

// Runs work on the live handle value names, or returns IFF_ERR_HANDLE.
template <typename Work> int32_t with_handle(int32_t value, Work work) noexcept {
    try {
        IFFHandle *h = iff::find_handle(value);
        return h ? work(*h) : IFF_ERR_HANDLE;
    } catch (...) {
        return IFF_ERR_MEMORY;
    }
}

} // namespace

extern "C" {

IFF_API int32_t IFF_CALL IFFOpen(const void *source, uint32_t mode, IFFImageInfo *info) {
    try {
        return iff::open_image(source, mode, info);
    } catch (...) {
        return -IFF_ERR_MEMORY;
    }
}

IFF_API int32_t IFF_CALL IFFClose(int32_t handle) {
    try {
        return iff::close_image(handle);
    } catch (...) {
        return IFF_ERR_MEMORY;
    }
}

IFF_API int32_t IFF_CALL IFFGetLine(int32_t handle, uint32_t count, void *lines) {
    return with_handle(handle, [&](IFFHandle &h) { return iff::get_lines(h, count, static_cast<uint8_t *>(lines)); });
}

IFF_API int32_t IFF_CALL IFFPutLine(int32_t handle, uint32_t count, const void *lines) {
    return with_handle(handle,
                       [&](IFFHandle &h) { return iff::put_lines(h, count, static_cast<const uint8_t *>(lines)); });
}

IFF_API int32_t IFF_CALL IFFSeek(int32_t handle, int32_t line) {
    return with_handle(handle, [&](IFFHandle &h) { return iff::seek_line(h, line); });
}

IFF_API int32_t IFF_CALL IFFControl(int32_t handle, uint32_t request, uint32_t flags, int32_t value, void *data) {
    return with_handle(handle, [&](IFFHandle &h) { return iff::control(h, request, flags, value, data); });
}

} // extern "C"
