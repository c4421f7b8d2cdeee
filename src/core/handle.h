// The per-image record behind every handle value.
#pragma once

#include <cstdint>

#include "core/pcx_format.h"
#include "iffpcx.h"

namespace iff {

constexpr int32_t kHeaderSize = int32_t(pcx_format::kHeaderSize);

struct IFFHandle {
    int32_t stream = -1;      // open callback's result; -1 while there is none
    uint32_t mode = 0;        // open mode: 0 read, 1 write, 3 read lines only
    uint32_t color_class = 0; // 0 bilevel, 1 grayscale, 2 palette colour, 3 RGB
    int32_t bits_per_pixel = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t line_stride = 0;  // bytes the host's pointer advances per line
    int32_t pixel_format = 3; // host sample layout (see iffpcx.h)
    int32_t current_line = 0; // lines decoded since the start of the page
    int32_t scan_bytes = -1;  // bytes_per_line * planes

    // Read buffer: one block of read_capacity + kReadHeadroom bytes; read_buffer
    // points past the headroom, which takes the push-back of a split run.
    uint8_t *read_buffer = nullptr;
    uint8_t *read_cursor = nullptr;
    uint32_t read_available = 0;
    int32_t read_capacity = 0;
    int64_t read_position = 0; // stream offset behind the buffer's last byte
    // Where the page's image data end (a stream offset): while the decoder is
    // inside the page's lines, refills stop there, so a page cut short fails
    // instead of decoding what follows it.
    int64_t data_end = INT64_MAX;

    IFFStreamOps stream_ops{};
    IFFImageInfo *description = nullptr;
    uint32_t error = 0;     // sticky status of the line writer and page selection
    bool abandoned = false; // IFFClose releases without completing the file

    // Sample table and the layout it was built for.
    int32_t lut_depth = 0;
    int32_t lut_polarity = 1; // 1 normal, 0 inverted
    int32_t lut_mode = 0;     // 0: not built for any mode yet
    uint8_t lut[256] = {};
    uint8_t lut_expanded[256 * 8] = {}; // each source byte's host bytes at depths 1, 2, 4

    uint8_t header[kHeaderSize] = {}; // the page header as stored in the file

    uint8_t *line_buffer = nullptr;   // one scan line in file layout
    uint8_t *encode_buffer = nullptr; // coded form of one line (writing)
    int32_t encode_capacity = 0;

    // When a plane is shorter than its pixels need, each decoded line is laid
    // out here with every plane padded by zeros to plane_span bytes, so the
    // conversions never read one plane's missing bytes from the next plane.
    uint8_t *plane_pad = nullptr;
    int32_t plane_span = 0;  // bytes per plane the conversions read
    int32_t planes_used = 0; // planes the conversions read

    int32_t x_min = 0, y_min = 0, x_max = 0, y_max = 0;
    int32_t palette_info = 0; // 1 colour or bilevel, 2 grayscale
    int32_t bytes_per_line = 0;
    uint8_t version = 0;
    uint8_t planes = 0;

    uint8_t *palette = nullptr;         // RGB triples
    int32_t palette_entries = 0;        // entries the palette holds
    int32_t palette_status = 0;         // why the current page has no palette (0: it has one)
    int32_t tail_block_start = -1;      // the 256-colour block: where a page's was found, or a written file's goes
    bool tail_block_after_data = false; // place it right behind the data, not on a 32-byte end

    uint16_t page_count = 0;
    uint32_t page_offset = 0;
    int32_t page_end = 0;
};

// Depth of the current layout: planes times bits per pixel.
inline int32_t depth_of(const IFFHandle &h) {
    return int32_t(h.planes) * h.bits_per_pixel;
}

} // namespace iff
