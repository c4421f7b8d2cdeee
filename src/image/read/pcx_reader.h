// Reading PCX and DCX files through the line library: page descriptions, and
// a page's rows a block at a time.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/byte_view.h"
#include "base/image_error.h"
#include "base/memory_stream.h"
#include "iffpcx.h"
#include "iffpcx_image.h"
#include "read/dcx_layout.h"

namespace image {

struct PageInfo {
    int index = 0;
    PageSpan span{};
    int32_t width = 0;
    int32_t height = 0;
    uint32_t color_class = 0; // as the library describes it
    int32_t bits = 0;         // as the library describes it: 8 for 24-bit RGB
    HeaderFields header{};
    int32_t dpi_x = 0;
    int32_t dpi_y = 0;
    int palette_entries = 0; // 0 for pages of more than 8 bits
    uint32_t kind = IFFPCX_KIND_RGB;
    // The colours decoding gives the indices: the exported palette, or a gray
    // ramp for grayscale pages read without one; 1 << depth entries.
    std::vector<std::array<uint8_t, 3>> colours;
    uint32_t warnings = 0; // IFFPCX_WARN_...
};

// Four 8-bit planes: red, green, blue and alpha.
bool is_rgba_layout(const HeaderFields &header);

struct RowRange {
    int32_t first = 0;
    int32_t end = INT32_MAX;
};

// What decode_page delivers: the page's kind (bilevel 0 black 1 white, gray
// levels, indices, RGB, RGBA), packed bilevel rows (1 for black), or the
// palette indices of any page of up to 8 bits.
enum class Delivery { Kind, Packed, Index };

// Receives a page's rows, `count` at a time from row y, `stride` apart.
class RowReceiver {
  public:
    virtual ~RowReceiver() = default;
    virtual void rows(int32_t y, const uint8_t *pixels, size_t count, size_t stride) = 0;
};

struct Limits {
    uint64_t max_pixels = 0;     // 0: none
    uint64_t max_file_bytes = 0; // 0: the most a position can express
    uint32_t max_pages = 0;      // 0: the format's most
};

class PcxFile {
  public:
    // Opens bytes the caller keeps alive, named `name` in messages.
    PcxFile(ByteView bytes, std::string name, const Limits &limits);
    ~PcxFile();
    PcxFile(const PcxFile &) = delete;
    PcxFile &operator=(const PcxFile &) = delete;

    const std::string &name() const { return name_; }
    bool is_dcx() const { return is_dcx_; }
    int page_count() const { return static_cast<int>(spans_.size()); }
    ByteView bytes() const { return bytes_; }
    const Limits &limits() const { return limits_; }
    const PageSpan &span(int page) const { return spans_[static_cast<size_t>(page)]; }

    PageInfo page_info(int page);
    // Refuses, from the header alone, a page that decode_page would refuse
    // before its first line: a layout not converted, an empty window, plane
    // lines too short for the width, more pixels than allowed.
    PageInfo check_page(int page);
    // Rows `first` up to `end` (the page's height at most) of a page: two
    // readers may decode two parts of one page side by side. With
    // keep_partial, a page whose data end early is completed with lines of
    // zeros (index 0) and the failure, which names the first missing line,
    // is returned instead of thrown.
    std::optional<ImageError> decode_page(int page, Delivery delivery, RowReceiver &receiver, bool keep_partial,
                                          RowRange rows = {});

    // "name: " or "name: page N: ", as messages begin.
    std::string where(int page) const;

  private:
    void open();
    void select(int page);
    void set_index_layout(int page);
    class PageLines;
    std::vector<std::array<uint8_t, 3>> export_palette(int page, int depth, bool *exported);
    [[noreturn]] void fail(int page, const std::string &step, int32_t status) const;

    std::string name_;
    ByteView bytes_;
    Limits limits_;
    MemoryStream stream_;
    IFFImageInfo info_{}; // the library refills it on every page selection
    int32_t handle_ = 0;
    bool is_dcx_ = false;
    bool lines_read_ = false; // the handle has delivered lines: a decode seeks to its first
    std::vector<PageSpan> spans_;
};

} // namespace image
