#include "pcx_reader.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "file_io.h"
#include "pixel_limit.h"
#include "plane_values.h"
#include "status_names.h"
#include "tool_error.h"

namespace pcxtool {

namespace {

constexpr size_t kPaletteBlockSize = 769;
constexpr uint8_t kPaletteBlockMarker = 12;

// Layouts whose lines pcxtool turns into images: 1 to 8 bits per pixel in
// one plane or several 1-bit planes, 24-bit RGB in three 8-bit planes and
// RGBA in four.
bool supported_layout(const HeaderFields &header) {
    const int bits = header.bits_per_plane;
    const int planes = header.planes;
    if (bits == 8 && (planes == 3 || planes == 4)) {
        return true;
    }
    if (bits != 1 && bits != 2 && bits != 4 && bits != 8) {
        return false;
    }
    return planes >= 1 && bits * planes <= 8;
}

bool all_gray(const std::vector<Rgb> &palette) {
    for (const Rgb &entry : palette) {
        if (entry.r != entry.g || entry.g != entry.b) {
            return false;
        }
    }
    return true;
}

// Rows are decoded into blocks of about this size, many lines a call.
constexpr size_t kBlockBytes = 256 * 1024;

// A bilevel pixel from its palette colour: 1 white, 0 black.
uint8_t bilevel_value(const Rgb &colour) {
    return colour.r + colour.g + colour.b >= 384 ? 1 : 0;
}

std::vector<Rgb> gray_ramp(int entries) {
    std::vector<Rgb> ramp(static_cast<size_t>(entries));
    for (int k = 0; k < entries; ++k) {
        const auto level = static_cast<uint8_t>(entries > 1 ? 255 * k / (entries - 1) : 0);
        ramp[static_cast<size_t>(k)] = Rgb{level, level, level};
    }
    return ramp;
}

} // namespace

const char *color_class_name(uint32_t color_class) {
    switch (color_class) {
    case 0: return "bilevel";
    case 1: return "grayscale";
    case 2: return "palette";
    case 3: return "rgb";
    default: return "unknown";
    }
}

bool is_rgba_layout(const HeaderFields &header) {
    return header.bits_per_plane == 8 && header.planes == 4;
}

const char *page_kind_name(const PageInfo &page) {
    return is_rgba_layout(page.header) ? "rgba" : color_class_name(page.color_class);
}

PcxFile::PcxFile(const std::string &path) : input_(std::make_unique<InputFile>(path, starts_like_pcx_or_dcx)) {
    path_ = input_->name();
    bytes_ = input_->bytes();
    open();
}

PcxFile::PcxFile(ByteView bytes, std::string name) : path_(std::move(name)), bytes_(bytes) {
    open();
}

void PcxFile::open() {
    if (bytes_.size() > static_cast<size_t>(INT32_MAX)) {
        throw input_error(path_ + ": larger than the 2 GiB a PCX or DCX file can be read from");
    }
    is_dcx_ = has_dcx_signature(bytes_);
    spans_ = page_spans(bytes_, path_);
    stream_ = MemoryStream(bytes_);
    source_ = make_stream_source(stream_);
    const int32_t opened = IFFOpen(&source_, IFF_MODE_READ | IFF_MODE_STREAMS, &info_);
    if (opened <= 0) {
        throw input_error(path_ + ": cannot open as PCX or DCX: " + describe_status(-opened) +
                          (starts_like_pcx_or_dcx(bytes_) ? "" : "; the file does not start like a PCX or DCX file"));
    }
    handle_ = opened;
    uint16_t count = 0;
    const int32_t status = IFFControl(handle_, IFF_REQ_PAGE_COUNT, 0, 0, &count);
    if (status != IFF_OK || count != spans_.size()) {
        // The destructor does not run for a constructor that throws.
        IFFClose(handle_);
        handle_ = 0;
        if (status != IFF_OK) {
            fail(-1, "counting the pages", status);
        }
        throw input_error(path_ + ": the library counts " + std::to_string(count) +
                          " pages where the directory lists " + std::to_string(spans_.size()));
    }
}

PcxFile::~PcxFile() {
    if (handle_ > 0) {
        IFFClose(handle_);
    }
}

std::string PcxFile::where(int page) const {
    std::string text = path_ + ": ";
    if (page >= 0 && (is_dcx_ || page > 0)) {
        text += "page " + std::to_string(page) + ": ";
    }
    return text;
}

void PcxFile::fail(int page, const std::string &step, int32_t status) const {
    throw input_error(where(page) + step + " failed: " + describe_status(status));
}

void PcxFile::select(int page) {
    if (page < 0 || page >= page_count()) {
        throw input_error(path_ + ": has no page " + std::to_string(page) + " (it has " + std::to_string(page_count()) +
                          (page_count() == 1 ? " page, numbered 0)"
                                             : " pages, numbered 0 to " + std::to_string(page_count() - 1) + ")"));
    }
    if (page_count() > 1) {
        const int32_t status = IFFControl(handle_, IFF_REQ_SELECT_PAGE, 0, page, nullptr);
        if (status != IFF_OK) {
            fail(page, "selecting the page", status);
        }
    }
}

void PcxFile::set_index_layout(int page) {
    const int32_t status = IFFControl(handle_, IFF_REQ_PIXEL_FORMAT, IFF_PIXELS_INDEX, 0, nullptr);
    if (status != IFF_OK) {
        fail(page, "choosing the index sample layout", status);
    }
}

PageInfo PcxFile::page_info(int page) {
    select(page);
    set_index_layout(page);
    PageInfo info;
    info.index = page;
    info.span = spans_[static_cast<size_t>(page)];
    info.width = info_.width;
    info.height = info_.height;
    info.color_class = info_.color_class;
    info.bits = info_.bits;
    info.header = header_fields(bytes_, info.span.offset);

    int32_t dpi[2] = {0, 0};
    int32_t status = IFFControl(handle_, IFF_REQ_RESOLUTION, 3, 0, dpi);
    if (status != IFF_OK) {
        fail(page, "reading the resolution", status);
    }
    info.dpi_x = dpi[0];
    info.dpi_y = dpi[1];

    // Pages of more than 8 bits per pixel have no palette, whatever size the
    // library would build for them.
    if (info.color_class != 3 && info.header.bits_per_plane * info.header.planes <= 8) {
        uint16_t palette_bytes = 0;
        status = IFFControl(handle_, IFF_REQ_PALETTE | IFF_REQ_SIZE_QUERY, 0, 0, &palette_bytes);
        if (status != IFF_OK) {
            fail(page, "asking the palette size", status);
        }
        info.palette_entries = palette_bytes / 3;
    }
    return info;
}

std::vector<Rgb> PcxFile::export_palette(int page, int depth, bool *exported) {
    const size_t entries = size_t{1} << depth;
    uint16_t size = 0;
    int32_t status = IFFControl(handle_, IFF_REQ_PALETTE | IFF_REQ_SIZE_QUERY, 0, 0, &size);
    if (status != IFF_OK) {
        fail(page, "asking the palette size", status);
    }
    if (size != 3 * entries) {
        throw input_error(where(page) + "the library sizes the palette of a " + std::to_string(depth) +
                          "-bit page at " + std::to_string(size) + " bytes, not " + std::to_string(3 * entries));
    }
    std::vector<uint8_t> bytes(3 * entries);
    status = IFFControl(handle_, IFF_REQ_PALETTE, 0, 0, bytes.data());
    *exported = status == IFF_OK;
    std::vector<Rgb> palette(entries);
    for (size_t k = 0; k < entries; ++k) {
        palette[k] = Rgb{bytes[3 * k], bytes[3 * k + 1], bytes[3 * k + 2]};
    }
    return palette;
}

PageInfo PcxFile::check_page(int page) {
    const PageInfo info = page_info(page);
    const HeaderFields &header = info.header;
    if (!supported_layout(header)) {
        throw input_error(where(page) + "pcxtool does not convert pages of " + std::to_string(header.planes) +
                          " planes of " + std::to_string(header.bits_per_plane) + " bits");
    }
    if (info.width <= 0 || info.height <= 0) {
        throw input_error(where(page) + "the page's window is empty (" + std::to_string(info.width) + " x " +
                          std::to_string(info.height) + ")");
    }
    if (!plane_line_holds(header, info.width)) {
        const int64_t needed = (static_cast<int64_t>(info.width) * header.bits_per_plane + 7) / 8;
        throw input_error(where(page) + "the header gives " + std::to_string(header.bytes_per_line) +
                          " bytes per plane line, fewer than the " + std::to_string(needed) + " that " +
                          std::to_string(info.width) + " pixels of " + std::to_string(header.bits_per_plane) +
                          (header.bits_per_plane == 1 ? " bit" : " bits") + " need; the header is damaged");
    }
    check_pixel_limit(static_cast<uint64_t>(info.width), static_cast<uint64_t>(info.height), max_pixels_, where(page));
    return info;
}

// Where a page's lines come from: the file's handle, or for bit planes of 2
// or 4 bits the handle of their bytes, whose values are put together here.
// Lines go `stride` bytes apart.
class PcxFile::PageLines {
  public:
    PageLines(int32_t handle, const PlaneValues *planes, size_t block_lines)
        : handle_(planes != nullptr ? planes->handle() : handle), planes_(planes) {
        if (planes_ != nullptr) {
            scans_.resize(block_lines * planes_->scan_stride());
        }
    }

    // `count` lines, at most the block's: IFFGetLine's status.
    int32_t get(uint32_t count, uint8_t *lines, size_t stride) {
        if (planes_ == nullptr) {
            return IFFGetLine(handle_, count, lines);
        }
        const int32_t status = IFFGetLine(handle_, count, scans_.data());
        for (uint32_t k = 0; status == IFF_OK && k < count; ++k) {
            planes_->combine(scans_.data() + k * planes_->scan_stride(), lines + k * stride);
        }
        return status;
    }

    int32_t seek(int32_t line) { return IFFSeek(handle_, line); }

    // The line of a failed block that could not be decoded: the lines before
    // it decode again, one at a time, into their places (all into the first
    // when `stride` is 0).
    int32_t failing_line(int32_t first, uint32_t count, uint8_t *lines, size_t stride) {
        if (seek(first) != IFF_OK) {
            return first;
        }
        for (uint32_t k = 0; k + 1 < count; ++k) {
            if (get(1, lines + k * stride, stride) != IFF_OK) {
                return first + int32_t(k);
            }
        }
        return first + int32_t(count) - 1;
    }

  private:
    int32_t handle_;
    const PlaneValues *planes_;
    std::vector<uint8_t> scans_; // a block of scan lines, for the planes' values
};

std::string PcxFile::decode_page(int page, RowSink &sink, std::string *warnings, RowRange rows) {
    const PageInfo info = check_page(page);
    const HeaderFields &header = info.header;
    const int depth = header.bits_per_plane * header.planes;
    const bool rgb = depth == 24;
    const bool rgba = is_rgba_layout(header);
    if (rgb != (info.color_class == 3)) {
        throw input_error(where(page) + "the library describes a " + std::to_string(depth) + "-bit page as " +
                          color_class_name(info.color_class));
    }

    PageImage image;
    image.width = info.width;
    image.height = info.height;
    image.dpi_x = info.dpi_x;
    image.dpi_y = info.dpi_y;
    std::vector<Rgb> palette;
    if (rgb) {
        image.kind = PageKind::Rgb;
    } else if (rgba) {
        // The library delivers such lines whole only in the interleaved layout.
        image.kind = PageKind::Rgba;
        const int32_t status = IFFControl(handle_, IFF_REQ_PIXEL_FORMAT, IFF_PIXELS_INTERLEAVED, 0, nullptr);
        if (status != IFF_OK) {
            fail(page, "choosing the interleaved sample layout", status);
        }
    } else {
        bool exported = false;
        palette = export_palette(page, depth, &exported);
        if (!exported && info.color_class != 1) {
            throw input_error(where(page) + "the page's palette could not be read");
        }
        if (!exported) {
            palette = gray_ramp(static_cast<int>(palette.size())); // grayscale pages read without palette
        }
        if (info.color_class == 0) {
            image.kind = PageKind::Bilevel;
        } else if (info.color_class == 1 && all_gray(palette)) {
            image.kind = PageKind::Gray;
        } else {
            image.kind = PageKind::Indexed;
            image.palette = palette;
        }
    }

    // Bilevel pages for a sink that takes packed rows come from the library
    // packed, inverted when index 0 is black, so that they are PBM rows.
    const bool packed = image.kind == PageKind::Bilevel && sink.takes_packed_bilevel() && depth == 1;
    int32_t status = IFF_OK;
    bool all_black = false;
    bool all_white = false;
    bool inverted = false;
    if (packed) {
        const bool black0 = bilevel_value(palette[0]) == 0;
        const bool black1 = bilevel_value(palette[1]) == 0;
        all_black = black0 && black1;
        all_white = !black0 && !black1;
        inverted = black0 && !black1;
        const uint32_t layout = IFF_PIXELS_PACKED | (inverted ? IFF_PIXELS_INVERT : 0);
        status = IFFControl(handle_, IFF_REQ_PIXEL_FORMAT, layout, 0, nullptr);
        if (status != IFF_OK) {
            fail(page, "choosing the packed sample layout", status);
        }
    }

    // The library delivers one byte per pixel (three for RGB), or packed
    // bilevel rows; its own answer is checked so that a line never outgrows
    // the buffer.
    const size_t line_bytes = packed ? packed_row_bytes(image) : row_bytes(image);
    uint16_t delivered = 0;
    status = IFFControl(handle_, IFF_REQ_LINE_SIZE, 0, 0, &delivered);
    if (status != IFF_OK) {
        fail(page, "asking the line size", status);
    }
    // The answer is 16 bits wide: a longer line is answered with 0.
    const size_t expected = line_bytes > 0xFFFF ? 0 : line_bytes;
    if (delivered != expected) {
        throw input_error(where(page) + "the library delivers lines of " + std::to_string(delivered) + " bytes, not " +
                          std::to_string(line_bytes));
    }
    const PageSpan &span = info.span;
    std::unique_ptr<PlaneValues> plane_values;
    if (PlaneValues::needed(header)) {
        plane_values =
            std::make_unique<PlaneValues>(bytes_.slice(span.offset, span.end), header, image.width, where(page));
    }

    // Lines lie a stride apart: a byte per pixel (three for RGB) whatever
    // the layout, so packed rows are shorter than their stride.
    const size_t stride = row_bytes(image);
    const size_t line_room = std::max(stride, plane_values ? plane_values->scan_stride() : 0);
    const size_t block_lines = std::max<size_t>(1, std::min<size_t>(kBlockBytes / line_room, size_t(image.height)));
    std::vector<uint8_t> block(block_lines * stride);
    PageLines lines(handle_, plane_values.get(), block_lines);

    // Index to output byte for the one-byte-per-pixel pages; an index the
    // palette does not hold is refused.
    std::array<uint8_t, 256> mapped{};
    std::array<bool, 256> known{};
    for (size_t index = 0; index < palette.size() && index < 256; ++index) {
        known[index] = true;
        mapped[index] = image.kind == PageKind::Bilevel ? bilevel_value(palette[index])
                        : image.kind == PageKind::Gray  ? palette[index].r
                                                        : static_cast<uint8_t>(index);
    }
    // Palette pages whose palette holds every value the depth allows need no
    // pass: their rows are the indices as the library delivers them.
    const bool every_index_known = image.kind == PageKind::Indexed && palette.size() >= (size_t{1} << depth);
    const bool translate = !packed && image.kind != PageKind::Rgb && image.kind != PageKind::Rgba && !every_index_known;
    const uint8_t pad_mask = static_cast<uint8_t>(0xFF00 >> (image.width % 8 == 0 ? 8 : image.width % 8));

    image.packed_bilevel = packed;
    sink.begin(image);
    const int32_t end_row = std::min(rows.end, image.height);
    const int32_t first_row = std::clamp(rows.first, 0, end_row);
    // Lines from missing_from on are not in the file: kept, they are handed
    // over as samples of 0 (index 0), as the library would deliver them.
    int32_t missing_from = end_row;
    std::string shortfall;
    const auto lines_missing = [&](int32_t line, int32_t failure) {
        const std::string message =
            where(page) + "decoding line " + std::to_string(line) + " failed: " + describe_status(failure);
        if (!keep_partial_ || failure != IFF_ERR_LINE) {
            throw input_error(message);
        }
        missing_from = line;
        const std::string last = std::to_string(image.height - 1);
        shortfall = message + "; kept with " +
                    (line + 1 == image.height ? "line " + last : "lines " + std::to_string(line) + " to " + last) +
                    " as zeros (--partial)";
    };
    // The lines before a later part are decoded and dropped.
    if (first_row > 0) {
        status = lines.seek(first_row);
        if (status != IFF_OK) {
            lines_missing(lines.failing_line(0, uint32_t(first_row), block.data(), 0), status);
        }
    }
    for (int32_t y = first_row; y < end_row;) {
        const auto count = static_cast<uint32_t>(std::min<size_t>(block_lines, size_t(end_row - y)));
        uint32_t decoded = 0;
        if (y < missing_from) {
            status = lines.get(count, block.data(), stride);
            decoded = count;
            if (status != IFF_OK) {
                const int32_t failed = lines.failing_line(y, count, block.data(), stride);
                lines_missing(failed, status);
                decoded = uint32_t(failed - y);
            }
        }
        std::memset(block.data() + decoded * stride, inverted ? 0xFF : 0, (count - decoded) * stride);
        for (uint32_t k = 0; k < count; ++k) {
            uint8_t *line = block.data() + k * stride;
            if (translate) {
                for (size_t x = 0; x < line_bytes; ++x) {
                    const uint8_t index = line[x];
                    if (!known[index]) {
                        throw input_error(where(page) + "line " + std::to_string(y + int32_t(k)) + " holds index " +
                                          std::to_string(index) + ", beyond the " + std::to_string(palette.size()) +
                                          "-entry palette");
                    }
                    line[x] = mapped[index];
                }
            } else if (packed) {
                if (all_black || all_white) {
                    std::memset(line, all_black ? 0xFF : 0, line_bytes);
                }
                line[line_bytes - 1] &= pad_mask;
            }
        }
        sink.rows(block.data(), count, stride);
        y += int32_t(count);
    }
    // A 256-colour page keeps its palette in a block at its end; without one
    // the colours come from the header's 16-entry map.
    if (end_row == image.height && depth == 8 && header.version == 5 && info.color_class == 2 &&
        (span.end - span.offset < kPcxHeaderSize + kPaletteBlockSize ||
         bytes_[span.end - kPaletteBlockSize] != kPaletteBlockMarker)) {
        const std::string warning =
            "pcxtool: warning: " + where(page) + "has no 256-colour palette block; its colours may be wrong\n";
        if (warnings != nullptr) {
            *warnings += warning;
        } else {
            std::fputs(warning.c_str(), stderr);
        }
    }
    sink.finish();
    return shortfall;
}

std::unique_ptr<PcxFile> PcxFile::another_reader() const {
    auto reader = std::make_unique<PcxFile>(bytes_, path_);
    reader->max_pixels_ = max_pixels_;
    reader->keep_partial_ = keep_partial_;
    return reader;
}

} // namespace pcxtool
