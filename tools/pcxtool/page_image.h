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
};

inline size_t row_bytes(const PageImage &image) {
    const size_t channels = image.kind == PageKind::Rgba ? 4 : image.kind == PageKind::Rgb ? 3 : 1;
    return static_cast<size_t>(image.width) * channels;
}

// Receives a page row by row, top to bottom.
class RowSink {
  public:
    virtual ~RowSink() = default;
    virtual void begin(const PageImage &image) = 0;
    virtual void row(const uint8_t *pixels) = 0;
    virtual void finish() = 0;
};

} // namespace pcxtool
