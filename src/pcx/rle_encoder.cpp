#include "pcx/rle_encoder.h"

#include "pcx/stream_io.h"
#include "pixels/planes.h"

namespace iff {

int32_t encode_runs(const uint8_t *line, int32_t size, uint8_t *out) {
    uint8_t *const start = out;
    int32_t i = 0;
    while (i < size) {
        const uint8_t value = line[i];
        // Length of the stretch of equal bytes from i, at most 63.
        int32_t end = i + 1;
        const int32_t limit = size - i > 63 ? i + 63 : size;
        while (end < limit && line[end] == value) ++end;
        const int32_t run = end - i;
        if (run >= 2) {
            *out++ = uint8_t(0xC0 | run);
            *out++ = value;
        } else {
            if ((value & 0xC0) == 0xC0) *out++ = 0xC1;
            *out++ = value;
        }
        i = end;
    }
    return int32_t(out - start);
}

int32_t encode_line(IFFHandle &h) {
    const int32_t size = h.scan_bytes > 0 ? h.scan_bytes : 0;
    const int32_t coded = encode_runs(h.line_buffer, size, h.encode_buffer);
    if (stream_write(h, h.encode_buffer, coded) != coded) {
        h.error = IFF_ERR_WRITE;
        return 1;
    }
    return 0;
}

int32_t put_lines(IFFHandle &h, uint32_t count, const uint8_t *source) {
    if (h.encode_buffer == nullptr || h.line_buffer == nullptr) return IFF_ERR_REQUEST;
    if (count > 0 && source == nullptr && h.error == 0) return IFF_ERR_REQUEST;
    for (uint32_t i = 0; i < count && h.error == 0; ++i) {
        split_line(h, source);
        encode_line(h);
        source += h.line_stride;
    }
    return int32_t(h.error);
}

} // namespace iff
