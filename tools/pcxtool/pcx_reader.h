// Reading PCX and DCX files through the library.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "byte_view.h"
#include "dcx_layout.h"
#include "iffpcx.h"
#include "memory_stream.h"
#include "page_image.h"
#include "pixel_limit.h"

namespace pcxtool {

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
};

class InputFile;

const char *color_class_name(uint32_t color_class);

// Four 8-bit planes: red, green, blue and alpha.
bool is_rgba_layout(const HeaderFields &header);

// The page's kind as pcxtool names it: the colour class, or "rgba".
const char *page_kind_name(const PageInfo &page);

struct RowRange {
    int32_t first = 0;
    int32_t end = INT32_MAX;
};

class PcxFile {
  public:
    // Reads the file ("-": standard input) and opens it with the library;
    // every failure is an input error that names the file.
    explicit PcxFile(const std::string &path);
    // Opens bytes the caller keeps alive, named `name` in messages.
    PcxFile(ByteView bytes, std::string name);
    PcxFile(std::vector<uint8_t> &&bytes, std::string name) = delete; // would outlive its bytes
    ~PcxFile();
    PcxFile(const PcxFile &) = delete;
    PcxFile &operator=(const PcxFile &) = delete;

    // The path, or "standard input".
    const std::string &path() const { return path_; }
    bool is_dcx() const { return is_dcx_; }
    int page_count() const { return static_cast<int>(spans_.size()); }

    // Pages larger than this are refused (kDefaultMaxPixels unless set).
    void set_max_pixels(uint64_t max_pixels) { max_pixels_ = max_pixels; }

    PageInfo page_info(int page);
    // Refuses, from the header alone, a page that decode_page would refuse
    // before its first line: a layout pcxtool does not convert, an empty
    // window, plane lines too short for the width, more pixels than allowed.
    PageInfo check_page(int page);
    // Rows `first` up to `end` (the page's height at most) of a page: two
    // readers may decode two parts of one page side by side. Warnings go to
    // stderr, or are appended to *warnings when given. Returns "" once every
    // row went to the sink; with keep_partial_pages, a page whose data end
    // early is completed with lines of zeros (index 0) and the failure, which
    // names the first missing line, is returned instead of thrown.
    std::string decode_page(int page, RowSink &sink, std::string *warnings = nullptr, RowRange rows = {});
    void keep_partial_pages(bool keep) { keep_partial_ = keep; }

    // A reader of the same bytes with the same settings, for another thread.
    std::unique_ptr<PcxFile> another_reader() const;

    // The file's bytes, which a second reader on another thread may share
    // while this one lives.
    ByteView bytes() const { return bytes_; }
    uint64_t max_pixels() const { return max_pixels_; }

  private:
    void open();
    void select(int page);
    void set_index_layout(int page);
    class PageLines;
    std::vector<Rgb> export_palette(int page, int depth, bool *exported);
    [[noreturn]] void fail(int page, const std::string &step, int32_t status) const;
    std::string where(int page) const;

    std::string path_;
    std::unique_ptr<InputFile> input_; // when the bytes come from a file
    ByteView bytes_;
    MemoryStream stream_;
    StreamSource source_;
    IFFImageInfo info_{}; // the library refills it on every page selection
    int32_t handle_ = 0;
    bool is_dcx_ = false;
    std::vector<PageSpan> spans_;
    uint64_t max_pixels_ = kDefaultMaxPixels;
    bool keep_partial_ = false;
};

} // namespace pcxtool
