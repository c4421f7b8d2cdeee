// A decoded page as pcxtool passes it from the reader to an image writer.
#pragma once

#include <cstdint>
#include <vector>

namespace pcxtool {

struct Rgb {
    uint8_t r, g, b;
    bool operator==(const Rgb &other) const { return r == other.r && g == other.g && b == other.b; }
};

// What a row holds, one byte per pixel unless noted:
//   Bilevel  0 black, 1 white
//   Gray     the gray level
//   Indexed  an index into `palette`
//   Rgb      three bytes per pixel, red, green, blue
//   Rgba     four bytes per pixel, red, green, blue, alpha
enum class PageKind { Bilevel, Gray, Indexed, Rgb, Rgba };

struct PageImage {
    PageKind kind = PageKind::Rgb;
    int32_t width = 0;
    int32_t height = 0;
    std::vector<Rgb> palette; // Indexed only: 2 to 256 entries
    int32_t dpi_x = 0;        // 0 when unknown
    int32_t dpi_y = 0;
    bool packed_bilevel = false; // Bilevel rows come packed (packed_row_bytes)
};

inline size_t row_bytes(const PageImage &image) {
    const size_t channels = image.kind == PageKind::Rgba ? 4 : image.kind == PageKind::Rgb ? 3 : 1;
    return static_cast<size_t>(image.width) * channels;
}

// Bytes of a bilevel row packed eight pixels a byte, first pixel in the high
// bit, 1 for black, the last byte's unused bits 0: a PBM row as it stands.
inline size_t packed_row_bytes(const PageImage &image) {
    return (static_cast<size_t>(image.width) + 7) / 8;
}

// Receives a page row by row, top to bottom.
class RowSink {
  public:
    virtual ~RowSink() = default;
    virtual void begin(const PageImage &image) = 0;
    virtual void row(const uint8_t *pixels) = 0;
    // `count` rows `stride` bytes apart; they come in blocks so that a sink
    // can convert and write many at once.
    virtual void rows(const uint8_t *pixels, size_t count, size_t stride) {
        for (size_t k = 0; k < count; ++k) {
            row(pixels + k * stride);
        }
    }
    // A sink that answers true is handed the rows of bilevel pages packed
    // (packed_row_bytes), not one byte per pixel.
    virtual bool takes_packed_bilevel() const { return false; }
    virtual void finish() = 0;
};

} // namespace pcxtool
