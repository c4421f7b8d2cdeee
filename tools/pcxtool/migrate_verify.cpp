#include "migrate_verify.h"

#include <cstring>
#include <memory>
#include <vector>

#include "image/tiff/tiff_reader.h"
#include "png_io.h"
#include "tool_error.h"

namespace pcxtool {

namespace {

// The form the TIFF writer takes each kind of page in.
iffpcx_form stored_form(uint32_t kind) {
    switch (kind) {
    case IFFPCX_KIND_BILEVEL: return IFFPCX_FORM_BITS;
    case IFFPCX_KIND_GRAY: return IFFPCX_FORM_GRAY;
    case IFFPCX_KIND_INDEXED: return IFFPCX_FORM_INDEX;
    case IFFPCX_KIND_RGB: return IFFPCX_FORM_RGB;
    default: return IFFPCX_FORM_RGBA;
    }
}

// The source page's pixels in `form`, rows `stride` bytes apart.
std::vector<uint8_t> decoded(PcxPages &source, const iffpcx_page_info &info, iffpcx_form form, size_t &stride) {
    size_t size = 0;
    iffpcx_error error{};
    if (iffpcx_decoded_size(&info, form, &stride, &size) != IFFPCX_OK) {
        throw input_error(source.path() + ": page " + std::to_string(info.index) + " cannot be decoded to compare");
    }
    std::vector<uint8_t> pixels(size);
    if (iffpcx_decode(source.handle(), info.index, form, IFFPCX_ONE_THREAD, pixels.data(), stride, &error) !=
        IFFPCX_OK) {
        throw_layer_error(error);
    }
    return pixels;
}

[[noreturn]] void differs(const std::string &name, uint32_t page, const std::string &what) {
    throw input_error(name + ": page " + std::to_string(page) + " does not match its source: " + what);
}

std::string pair(int32_t x, int32_t y) {
    return std::to_string(x) + " x " + std::to_string(y);
}

struct RowCompare {
    const uint8_t *expected;
    size_t stride;
    size_t row_bytes;
    int32_t first_difference = -1;
};

int compare_rows(void *context, int32_t y, const uint8_t *rows, size_t count, size_t stride) {
    auto &compare = *static_cast<RowCompare *>(context);
    for (size_t k = 0; k < count; ++k) {
        const uint8_t *want = compare.expected + (size_t(y) + k) * compare.stride;
        if (std::memcmp(want, rows + k * stride, compare.row_bytes) != 0) {
            compare.first_difference = y + int32_t(k);
            return 1;
        }
    }
    return 0;
}

} // namespace

void verify_tiff(PcxPages &source, ByteView tiff, const std::string &name) {
    std::unique_ptr<iff::tiff::Reader> reader;
    iff::tiff::Error error;
    if (iff::tiff::Reader::open_memory(tiff.data(), tiff.size(), name.c_str(), reader, &error) !=
        iff::tiff::Status::ok) {
        throw input_error(error.message);
    }
    if (reader->page_count() != uint32_t(source.page_count())) {
        throw input_error(name + ": " + std::to_string(reader->page_count()) + " pages where its source has " +
                          std::to_string(source.page_count()));
    }
    for (uint32_t page = 0; page < reader->page_count(); ++page) {
        const iffpcx_page_info info = source.page_info(int(page));
        iff::tiff::PageInfo stored;
        if (reader->page_info(page, stored, &error) != iff::tiff::Status::ok) {
            throw input_error(error.message);
        }
        if (stored.width != info.width || stored.height != info.height) {
            differs(name, page, pair(stored.width, stored.height) + " pixels, not " + pair(info.width, info.height));
        }
        if (uint32_t(stored.kind) != info.kind) {
            differs(name, page, "another kind of page");
        }
        if (stored.dpi_x != info.dpi_x || stored.dpi_y != info.dpi_y) {
            differs(name, page, pair(stored.dpi_x, stored.dpi_y) + " dpi, not " + pair(info.dpi_x, info.dpi_y));
        }
        if (info.kind == IFFPCX_KIND_INDEXED &&
            (stored.palette_entries < info.palette_entries ||
             std::memcmp(stored.palette, info.palette, 3 * size_t(info.palette_entries)) != 0)) {
            differs(name, page, "another palette");
        }
        size_t stride = 0;
        const std::vector<uint8_t> expected = decoded(source, info, stored_form(info.kind), stride);
        RowCompare compare{expected.data(), stride, iff::tiff::row_bytes(stored.kind, stored.width)};
        if (reader->read_rows(page, compare_rows, &compare, &error) != iff::tiff::Status::ok) {
            if (compare.first_difference >= 0) {
                differs(name, page, "row " + std::to_string(compare.first_difference) + " differs");
            }
            throw input_error(error.message);
        }
    }
}

void verify_png(PcxPages &source, int page, ByteView png, const std::string &name) {
    const RgbImage stored = read_png(png, name, kDefaultMaxPixels, true);
    const iffpcx_page_info info = source.page_info(page);
    const auto index = uint32_t(page);
    if (stored.width != info.width || stored.height != info.height) {
        differs(name, index, pair(stored.width, stored.height) + " pixels, not " + pair(info.width, info.height));
    }
    // PNG keeps a resolution only when both are known.
    const bool known = info.dpi_x > 0 && info.dpi_y > 0;
    if (stored.dpi_x != (known ? info.dpi_x : 0) || stored.dpi_y != (known ? info.dpi_y : 0)) {
        differs(name, index, pair(stored.dpi_x, stored.dpi_y) + " dpi, not " + pair(info.dpi_x, info.dpi_y));
    }
    size_t stride = 0;
    const std::vector<uint8_t> expected = decoded(source, info, IFFPCX_FORM_RGBA, stride);
    const size_t row_bytes = 4 * size_t(info.width);
    for (int32_t y = 0; y < info.height; ++y) {
        if (std::memcmp(expected.data() + size_t(y) * stride, stored.rgb.data() + size_t(y) * row_bytes, row_bytes) !=
            0) {
            differs(name, index, "row " + std::to_string(y) + " differs");
        }
    }
}

} // namespace pcxtool
