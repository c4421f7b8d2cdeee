#include "pcx_reader.h"

#include <algorithm>
#include <cstring>

#include "base/status_names.h"
#include "read/plane_values.h"

namespace image {

namespace {

using Colour = std::array<uint8_t, 3>;

// Layouts whose lines are turned into images: 1 to 8 bits per pixel in one
// plane or several 1-bit planes, 24-bit RGB in three 8-bit planes and RGBA
// in four.
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

bool all_gray(const std::vector<Colour> &palette) {
    for (const Colour &entry : palette) {
        if (entry[0] != entry[1] || entry[1] != entry[2]) {
            return false;
        }
    }
    return true;
}

// Rows are decoded into blocks of about this size, many lines a call.
constexpr size_t kBlockBytes = 256 * 1024;

// A bilevel pixel from its palette colour: 1 white, 0 black.
uint8_t bilevel_value(const Colour &colour) {
    return colour[0] + colour[1] + colour[2] >= 384 ? 1 : 0;
}

std::vector<Colour> gray_ramp(size_t entries) {
    std::vector<Colour> ramp(entries);
    for (size_t k = 0; k < entries; ++k) {
        const auto level = static_cast<uint8_t>(entries > 1 ? 255 * k / (entries - 1) : 0);
        ramp[k] = Colour{level, level, level};
    }
    return ramp;
}

size_t channels(uint32_t kind) {
    return kind == IFFPCX_KIND_RGBA ? 4 : kind == IFFPCX_KIND_RGB ? 3 : 1;
}

const char *color_class_name(uint32_t color_class) {
    switch (color_class) {
    case IFF_CLASS_BILEVEL: return "bilevel";
    case IFF_CLASS_GRAY: return "grayscale";
    case IFF_CLASS_PALETTE: return "palette";
    case IFF_CLASS_RGB: return "rgb";
    default: return "unknown";
    }
}

} // namespace

bool is_rgba_layout(const HeaderFields &header) {
    return header.bits_per_plane == 8 && header.planes == 4;
}

PcxFile::PcxFile(ByteView bytes, std::string name, const Limits &limits)
    : name_(std::move(name)), bytes_(bytes), limits_(limits), stream_(bytes) {
    open();
}

void PcxFile::open() {
    if (bytes_.size() > static_cast<size_t>(INT32_MAX)) {
        throw ImageError(IFFPCX_ERR_LIMIT, name_ + ": larger than the 2 GiB a PCX or DCX file can be read from");
    }
    if (limits_.max_file_bytes != 0 && bytes_.size() > limits_.max_file_bytes) {
        throw ImageError(IFFPCX_ERR_LIMIT, name_ + ": " + std::to_string(bytes_.size()) +
                                               " bytes, more than the limit of " +
                                               std::to_string(limits_.max_file_bytes));
    }
    is_dcx_ = has_dcx_signature(bytes_);
    spans_ = page_spans(bytes_, name_, limits_.max_pages != 0 ? limits_.max_pages : pcx_format::kDcxMostPages);
    const int32_t opened = IFFOpen(stream_.source(), IFF_MODE_READ | IFF_MODE_STREAMS, &info_);
    if (opened <= 0) {
        const bool plausible = starts_like_pcx_or_dcx(bytes_);
        throw ImageError(plausible ? status_of_library(-opened) : IFFPCX_ERR_NOT_PCX,
                         name_ + ": cannot open as PCX or DCX: " + describe_status(-opened) +
                             (plausible ? "" : "; the file does not start like a PCX or DCX file"),
                         -1, -1, -opened);
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
        throw ImageError(IFFPCX_ERR_LIBRARY, name_ + ": the library counts " + std::to_string(count) +
                                                 " pages where the directory lists " + std::to_string(spans_.size()));
    }
}

PcxFile::~PcxFile() {
    if (handle_ > 0) {
        IFFClose(handle_);
    }
}

std::string PcxFile::where(int page) const {
    std::string text = name_ + ": ";
    if (page >= 0 && (is_dcx_ || page > 0)) {
        text += "page " + std::to_string(page) + ": ";
    }
    return text;
}

void PcxFile::fail(int page, const std::string &step, int32_t status) const {
    throw ImageError(status_of_library(status), where(page) + step + " failed: " + describe_status(status), page, -1,
                     status);
}

void PcxFile::select(int page) {
    if (page < 0 || page >= page_count()) {
        throw ImageError(IFFPCX_ERR_ARGUMENT,
                         name_ + ": has no page " + std::to_string(page) + " (it has " + std::to_string(page_count()) +
                             (page_count() == 1 ? " page, numbered 0)"
                                                : " pages, numbered 0 to " + std::to_string(page_count() - 1) + ")"),
                         page);
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
    const int depth = info.header.bits_per_plane * info.header.planes;
    if (info.color_class != IFF_CLASS_RGB && depth <= 8) {
        uint16_t palette_bytes = 0;
        status = IFFControl(handle_, IFF_REQ_PALETTE | IFF_REQ_SIZE_QUERY, 0, 0, &palette_bytes);
        if (status != IFF_OK) {
            fail(page, "asking the palette size", status);
        }
        info.palette_entries = palette_bytes / 3;
        // The colours decoding gives the indices; a page the library sizes
        // otherwise is refused by decode_page.
        if (palette_bytes == 3 * (size_t{1} << depth)) {
            std::vector<uint8_t> bytes(palette_bytes);
            if (IFFControl(handle_, IFF_REQ_PALETTE, 0, 0, bytes.data()) == IFF_OK) {
                info.colours.resize(bytes.size() / 3);
                std::memcpy(info.colours.data(), bytes.data(), bytes.size());
            } else if (info.color_class == IFF_CLASS_GRAY) {
                info.colours = gray_ramp(size_t{1} << depth);
            }
        }
    }
    if (info.color_class == IFF_CLASS_RGB) {
        info.kind = IFFPCX_KIND_RGB;
    } else if (is_rgba_layout(info.header)) {
        info.kind = IFFPCX_KIND_RGBA;
    } else if (info.color_class == IFF_CLASS_BILEVEL) {
        info.kind = IFFPCX_KIND_BILEVEL;
    } else if (info.color_class == IFF_CLASS_GRAY && all_gray(info.colours)) {
        info.kind = IFFPCX_KIND_GRAY;
    } else {
        info.kind = IFFPCX_KIND_INDEXED;
    }
    // A 256-colour page keeps its palette in a block at its end; without one
    // the colours come from the header's 16-entry map.
    using pcx_format::kPaletteBlockSize;
    const PageSpan &span = info.span;
    if (depth == 8 && info.header.version == pcx_format::kVersionLatest && info.color_class == IFF_CLASS_PALETTE &&
        (span.end - span.offset < pcx_format::kHeaderSize + kPaletteBlockSize ||
         bytes_[span.end - kPaletteBlockSize] != pcx_format::kPaletteBlockMarker)) {
        info.warnings |= IFFPCX_WARN_NO_PALETTE_BLOCK;
    }
    return info;
}

std::vector<Colour> PcxFile::export_palette(int page, int depth, bool *exported) {
    const size_t entries = size_t{1} << depth;
    uint16_t size = 0;
    int32_t status = IFFControl(handle_, IFF_REQ_PALETTE | IFF_REQ_SIZE_QUERY, 0, 0, &size);
    if (status != IFF_OK) {
        fail(page, "asking the palette size", status);
    }
    if (size != 3 * entries) {
        throw ImageError(IFFPCX_ERR_LIBRARY,
                         where(page) + "the library sizes the palette of a " + std::to_string(depth) + "-bit page at " +
                             std::to_string(size) + " bytes, not " + std::to_string(3 * entries),
                         page);
    }
    std::vector<uint8_t> bytes(3 * entries);
    status = IFFControl(handle_, IFF_REQ_PALETTE, 0, 0, bytes.data());
    *exported = status == IFF_OK;
    std::vector<Colour> palette(entries);
    std::memcpy(palette.data(), bytes.data(), bytes.size());
    return palette;
}

PageInfo PcxFile::check_page(int page) {
    const PageInfo info = page_info(page);
    const HeaderFields &header = info.header;
    if (!supported_layout(header)) {
        throw ImageError(IFFPCX_ERR_UNSUPPORTED,
                         where(page) + kNotConverted + std::to_string(header.planes) + " planes of " +
                             std::to_string(header.bits_per_plane) + " bits",
                         page);
    }
    if (info.width <= 0 || info.height <= 0) {
        throw ImageError(IFFPCX_ERR_MALFORMED,
                         where(page) + "the page's window is empty (" + std::to_string(info.width) + " x " +
                             std::to_string(info.height) + ")",
                         page);
    }
    if (!plane_line_holds(header, info.width)) {
        const int64_t needed = (static_cast<int64_t>(info.width) * header.bits_per_plane + 7) / 8;
        throw ImageError(IFFPCX_ERR_MALFORMED,
                         where(page) + "the header gives " + std::to_string(header.bytes_per_line) +
                             " bytes per plane line, fewer than the " + std::to_string(needed) + " that " +
                             std::to_string(info.width) + " pixels of " + std::to_string(header.bits_per_plane) +
                             (header.bits_per_plane == 1 ? " bit" : " bits") + " need; the header is damaged",
                         page);
    }
    const auto width = static_cast<uint64_t>(info.width);
    const auto height = static_cast<uint64_t>(info.height);
    if (limits_.max_pixels != 0 && width * height > limits_.max_pixels) {
        throw ImageError(IFFPCX_ERR_LIMIT,
                         where(page) + std::to_string(width) + " x " + std::to_string(height) + " is " +
                             std::to_string(width * height) + " pixels, more than the limit of " +
                             std::to_string(limits_.max_pixels),
                         page);
    }
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

std::optional<ImageError> PcxFile::decode_page(int page, Delivery delivery, RowReceiver &receiver, bool keep_partial,
                                               RowRange rows) {
    const PageInfo info = check_page(page);
    const HeaderFields &header = info.header;
    const int depth = header.bits_per_plane * header.planes;
    const bool rgb = depth == 24;
    if (rgb != (info.color_class == IFF_CLASS_RGB)) {
        throw ImageError(IFFPCX_ERR_LIBRARY,
                         where(page) + "the library describes a " + std::to_string(depth) + "-bit page as " +
                             color_class_name(info.color_class),
                         page);
    }
    const uint32_t kind = info.kind;
    std::vector<Colour> palette;
    if (kind == IFFPCX_KIND_RGBA) {
        // The library delivers such lines whole only in the interleaved layout.
        const int32_t status = IFFControl(handle_, IFF_REQ_PIXEL_FORMAT, IFF_PIXELS_INTERLEAVED, 0, nullptr);
        if (status != IFF_OK) {
            fail(page, "choosing the interleaved sample layout", status);
        }
    } else if (kind != IFFPCX_KIND_RGB) {
        bool exported = false;
        palette = export_palette(page, depth, &exported);
        if (!exported && info.color_class != IFF_CLASS_GRAY) {
            throw ImageError(IFFPCX_ERR_MALFORMED, where(page) + "the page's palette could not be read", page);
        }
        if (!exported) {
            palette = gray_ramp(palette.size()); // grayscale pages read without palette
        }
    }
    if (delivery == Delivery::Index && (kind == IFFPCX_KIND_RGB || kind == IFFPCX_KIND_RGBA)) {
        throw ImageError(IFFPCX_ERR_ARGUMENT,
                         where(page) + "a page of " + std::to_string(depth) + " bits has no indices", page);
    }

    // Bilevel pages asked packed come from the library packed, inverted when
    // index 0 is black, so that they are PBM rows.
    const bool packed = delivery == Delivery::Packed && kind == IFFPCX_KIND_BILEVEL && depth == 1;
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
    const size_t width = static_cast<size_t>(info.width);
    const size_t line_bytes = packed ? (width + 7) / 8 : width * channels(kind);
    uint16_t delivered = 0;
    status = IFFControl(handle_, IFF_REQ_LINE_SIZE, 0, 0, &delivered);
    if (status != IFF_OK) {
        fail(page, "asking the line size", status);
    }
    // The answer is 16 bits wide: a longer line is answered with 0.
    const size_t expected = line_bytes > 0xFFFF ? 0 : line_bytes;
    if (delivered != expected) {
        throw ImageError(IFFPCX_ERR_LIBRARY,
                         where(page) + "the library delivers lines of " + std::to_string(delivered) + " bytes, not " +
                             std::to_string(line_bytes),
                         page);
    }
    const PageSpan &span = info.span;
    std::unique_ptr<PlaneValues> plane_values;
    if (PlaneValues::needed(header)) {
        plane_values =
            std::make_unique<PlaneValues>(bytes_.slice(span.offset, span.end), header, info.width, where(page));
    }

    // Lines lie a stride apart: a byte per pixel (three for RGB) whatever
    // the layout, so packed rows are shorter than their stride.
    const size_t stride = width * channels(kind);
    const size_t line_room = std::max(stride, plane_values ? plane_values->scan_stride() : 0);
    const size_t block_lines = std::max<size_t>(1, std::min<size_t>(kBlockBytes / line_room, size_t(info.height)));
    std::vector<uint8_t> block(block_lines * stride);
    PageLines lines(handle_, plane_values.get(), block_lines);

    // Index to output byte for the one-byte-per-pixel pages; an index the
    // palette does not hold is refused.
    std::array<uint8_t, 256> mapped{};
    std::array<bool, 256> known{};
    for (size_t index = 0; index < palette.size() && index < 256; ++index) {
        known[index] = true;
        mapped[index] = kind == IFFPCX_KIND_BILEVEL ? bilevel_value(palette[index])
                        : kind == IFFPCX_KIND_GRAY  ? palette[index][0]
                                                    : static_cast<uint8_t>(index);
    }
    // Palette pages whose palette holds every value the depth allows need no
    // pass: their rows are the indices as the library delivers them, as are
    // the rows of any page asked for its indices.
    const bool every_index_known =
        (kind == IFFPCX_KIND_INDEXED || delivery == Delivery::Index) && palette.size() >= (size_t{1} << depth);
    const bool translate = !packed && kind != IFFPCX_KIND_RGB && kind != IFFPCX_KIND_RGBA && !every_index_known;
    const uint8_t pad_mask = static_cast<uint8_t>(0xFF00 >> (info.width % 8 == 0 ? 8 : info.width % 8));

    const int32_t end_row = std::min(rows.end, info.height);
    const int32_t first_row = std::clamp(rows.first, 0, end_row);
    // Lines from missing_from on are not in the file: kept, they are handed
    // over as samples of 0 (index 0), as the library would deliver them.
    int32_t missing_from = end_row;
    std::optional<ImageError> shortfall;
    const auto lines_missing = [&](int32_t line, int32_t failure) {
        ImageError error(status_of_library(failure),
                         where(page) + "decoding line " + std::to_string(line) + " failed: " + describe_status(failure),
                         page, line, failure);
        if (!keep_partial || failure != IFF_ERR_LINE) {
            throw error;
        }
        missing_from = line;
        shortfall = error;
    };
    // The lines before a later part are decoded and dropped; a page decoded
    // before starts again from its first line.
    if (first_row > 0 || (lines_read_ && plane_values == nullptr)) {
        status = lines.seek(first_row);
        if (status != IFF_OK) {
            lines_missing(first_row > 0 ? lines.failing_line(0, uint32_t(first_row), block.data(), 0) : 0, status);
        }
    }
    lines_read_ = true;
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
                        const int32_t at = y + int32_t(k);
                        throw ImageError(IFFPCX_ERR_MALFORMED,
                                         where(page) + "line " + std::to_string(at) + " holds index " +
                                             std::to_string(index) + ", beyond the " + std::to_string(palette.size()) +
                                             "-entry palette",
                                         page, at);
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
        receiver.rows(y, block.data(), count, stride);
        y += int32_t(count);
    }
    return shortfall;
}

} // namespace image
