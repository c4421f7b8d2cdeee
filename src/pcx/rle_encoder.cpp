#include "pcx/rle_encoder.h"

#include <cstring>

#include "pcx/byte_scan.h"
#include "pcx/stream_io.h"
#include "pixels/planes.h"

namespace iff {

namespace {

// End of the stretch from i of bytes that go out as they stand: single bytes
// (unequal to the next one) below 0xC0.
int32_t plain_stretch_end(const uint8_t *line, int32_t i, int32_t size) {
    for (; i + 9 <= size; i += 8) {
        const uint64_t here = load_word(line + i);
        const uint64_t marks = zero_byte_marks(here ^ load_word(line + i + 1)) | count_byte_marks(here);
        if (marks != 0) return i + int32_t(first_marked_byte(marks));
    }
    for (; i < size; ++i) {
        if (line[i] >= 0xC0 || (i + 1 < size && line[i] == line[i + 1])) return i;
    }
    return size;
}

// Copies n bytes that go out as they stand, eight at a time; may write up to
// seven bytes beyond them (kEncodeSlack) but reads only the room bytes that
// lie in the line from src.
inline void copy_plain(uint8_t *out, const uint8_t *src, int32_t n, int32_t room) {
    if (n <= 8 && room >= 8) {
        std::memcpy(out, src, 8);
        return;
    }
    if (n < 8) {
        for (int32_t k = 0; k < n; ++k) out[k] = src[k];
        return;
    }
    int32_t k = 0;
    for (; k + 8 <= n; k += 8) std::memcpy(out + k, src + k, 8);
    if (k < n) std::memcpy(out + n - 8, src + n - 8, 8);
}

} // namespace

int32_t encode_runs(const uint8_t *line, int32_t size, uint8_t *out) {
    uint8_t *const start = out;
    int32_t i = 0;
    while (i < size) {
        const int32_t plain_end = plain_stretch_end(line, i, size);
        copy_plain(out, line + i, plain_end - i, size - i);
        out += plain_end - i;
        i = plain_end;
        if (i == size) break;
        // A run, or a single byte of 0xC0 or above.
        const uint8_t value = line[i];
        int32_t end = i + 1;
        const int32_t limit = size - i > 63 ? i + 63 : size;
        while (end < limit && line[end] == value) ++end;
        const int32_t run = end - i;
        *out++ = uint8_t(0xC0 | run); // a single byte here is 0xC0 or above: 0xC1
        *out++ = value;
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
