// Reading PCX and DCX files through the library.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dcx_layout.h"
#include "iffpcx.h"
#include "memory_stream.h"
#include "page_image.h"

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
    int palette_entries = 0; // 0 for RGB pages
};

const char *color_class_name(uint32_t color_class);

class PcxFile {
  public:
    // Loads the whole file and opens it with the library; every failure is
    // an input error that names the file.
    explicit PcxFile(std::string path);
    // A second reader of the same bytes with a handle of its own, so that
    // another thread can decode other pages.
    struct SecondReader {};
    PcxFile(const PcxFile &other, SecondReader);
    ~PcxFile();
    PcxFile(const PcxFile &) = delete;
    PcxFile &operator=(const PcxFile &) = delete;

    const std::string &path() const { return path_; }
    bool is_dcx() const { return is_dcx_; }
    int page_count() const { return static_cast<int>(spans_.size()); }

    PageInfo page_info(int page);
    // Warnings go to stderr, or are appended to *warnings when given.
    void decode_page(int page, RowSink &sink, std::string *warnings = nullptr);

  private:
    void open(std::vector<uint8_t> bytes);
    void select(int page);
    void set_index_layout(int page);
    int32_t failing_line(int32_t first, uint32_t count);
    std::vector<Rgb> export_palette(int page, int depth, bool *exported);
    [[noreturn]] void fail(int page, const std::string &step, int32_t status) const;
    std::string where(int page) const;

    std::string path_;
    MemoryStream stream_;
    StreamSource source_;
    IFFImageInfo info_{}; // the library refills it on every page selection
    int32_t handle_ = 0;
    bool is_dcx_ = false;
    std::vector<PageSpan> spans_;
};

} // namespace pcxtool
