#include "png_io.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <png.h>

#include "tool_error.h"

namespace pcxtool {

namespace {

// libpng reports errors by longjmp to the setjmp of the calling frame. The
// functions that call it keep nothing with a destructor on their own frame,
// so that jump skips no destructor; they return false and leave the message
// in the context.
struct PngContext {
    png_structp png = nullptr;
    png_infop info = nullptr;
    char message[256] = {};
    // Reading: the bytes being decoded.
    const uint8_t *input = nullptr;
    size_t input_size = 0;
    size_t input_position = 0;
};

void on_png_error(png_structp png, png_const_charp message) {
    auto *context = static_cast<PngContext *>(png_get_error_ptr(png));
    std::snprintf(context->message, sizeof context->message, "%s", message);
    png_longjmp(png, 1);
}

void on_png_warning(png_structp, png_const_charp) {}

void on_png_read(png_structp png, png_bytep data, size_t length) {
    auto *context = static_cast<PngContext *>(png_get_io_ptr(png));
    if (context->input_size - context->input_position < length) {
        png_error(png, "the file ends early");
    }
    std::memcpy(data, context->input + context->input_position, length);
    context->input_position += length;
}

int32_t dpi_from_pixels_per_metre(png_uint_32 per_metre) {
    const uint64_t dpi = (static_cast<uint64_t>(per_metre) * 254 + 5000) / 10000;
    return dpi > 65535 ? 65535 : static_cast<int32_t>(dpi);
}

png_uint_32 pixels_per_metre_from_dpi(int32_t dpi) {
    return static_cast<png_uint_32>((static_cast<uint64_t>(dpi) * 10000 + 127) / 254);
}

// Deflate codes a 258-byte match in 2 bits at best, so compressed data of N
// bytes expand to at most 1032 N bytes.
constexpr uint64_t kMaxDeflateExpansion = 1032;

struct PngHeader {
    png_uint_32 width;
    png_uint_32 height;
    int stored_pixel_bits; // as stored in the file, before any expansion
    int passes;
    size_t row_bytes;
    int32_t dpi_x;
    int32_t dpi_y;
};

// Sets up decoding to 8-bit RGBA whatever the file's colour type and depth.
bool read_png_header(PngContext &context, PngHeader *header) {
    if (setjmp(png_jmpbuf(context.png))) {
        return false;
    }
    png_set_read_fn(context.png, &context, on_png_read);
    png_read_info(context.png, context.info);
    header->width = png_get_image_width(context.png, context.info);
    header->height = png_get_image_height(context.png, context.info);
    header->stored_pixel_bits =
        png_get_channels(context.png, context.info) * png_get_bit_depth(context.png, context.info);
    if (header->width > kMaxImageSide || header->height > kMaxImageSide) {
        std::snprintf(context.message, sizeof context.message, "%lu x %lu pixels is larger than a PCX image can be",
                      static_cast<unsigned long>(header->width), static_cast<unsigned long>(header->height));
        return false;
    }
    png_uint_32 res_x = 0;
    png_uint_32 res_y = 0;
    int unit = 0;
    if (png_get_pHYs(context.png, context.info, &res_x, &res_y, &unit) != 0 && unit == PNG_RESOLUTION_METER) {
        header->dpi_x = dpi_from_pixels_per_metre(res_x);
        header->dpi_y = dpi_from_pixels_per_metre(res_y);
    }
    png_set_expand(context.png);
    png_set_scale_16(context.png);
    png_set_gray_to_rgb(context.png);
    png_set_add_alpha(context.png, 0xFF, PNG_FILLER_AFTER);
    header->passes = png_set_interlace_handling(context.png);
    png_read_update_info(context.png, context.info);
    header->row_bytes = png_get_rowbytes(context.png, context.info);
    return true;
}

bool read_png_rows(PngContext &context, const PngHeader &header, uint8_t *pixels) {
    if (setjmp(png_jmpbuf(context.png))) {
        return false;
    }
    for (int pass = 0; pass < header.passes; ++pass) {
        for (png_uint_32 y = 0; y < header.height; ++y) {
            png_read_row(context.png, pixels + static_cast<size_t>(y) * header.row_bytes, nullptr);
        }
    }
    return true;
}

bool read_png_row(PngContext &context, uint8_t *row) {
    if (setjmp(png_jmpbuf(context.png))) {
        return false;
    }
    png_read_row(context.png, row, nullptr);
    return true;
}

uint8_t blend_onto_white(uint8_t value, uint8_t alpha) {
    return static_cast<uint8_t>((value * alpha + 255 * (255 - alpha) + 127) / 255);
}

void blend_pixels(const uint8_t *rgba, size_t pixels, uint8_t *rgb) {
    for (size_t i = 0; i < pixels; ++i) {
        const uint8_t alpha = rgba[4 * i + 3];
        for (size_t c = 0; c < 3; ++c) {
            rgb[3 * i + c] = blend_onto_white(rgba[4 * i + c], alpha);
        }
    }
}

struct PngLayout {
    int color_type;
    int bit_depth;
};

PngLayout png_layout(const PageImage &image) {
    switch (image.kind) {
    case PageKind::Bilevel: return {PNG_COLOR_TYPE_GRAY, 1};
    case PageKind::Gray: return {PNG_COLOR_TYPE_GRAY, 8};
    case PageKind::Rgb: return {PNG_COLOR_TYPE_RGB, 8};
    case PageKind::Rgba: return {PNG_COLOR_TYPE_RGB_ALPHA, 8};
    case PageKind::Indexed: break;
    }
    const size_t entries = image.palette.size();
    return {PNG_COLOR_TYPE_PALETTE, entries <= 2 ? 1 : entries <= 4 ? 2 : entries <= 16 ? 4 : 8};
}

bool start_png(PngContext &context, std::FILE *file, const PageImage &image, const PngLayout &layout,
               const png_color *palette, int palette_entries) {
    if (setjmp(png_jmpbuf(context.png))) {
        return false;
    }
    png_init_io(context.png, file);
    png_set_IHDR(context.png, context.info, static_cast<png_uint_32>(image.width),
                 static_cast<png_uint_32>(image.height), layout.bit_depth, layout.color_type, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (palette_entries > 0) {
        png_set_PLTE(context.png, context.info, palette, palette_entries);
    }
    if (image.dpi_x > 0 && image.dpi_y > 0) {
        png_set_pHYs(context.png, context.info, pixels_per_metre_from_dpi(image.dpi_x),
                     pixels_per_metre_from_dpi(image.dpi_y), PNG_RESOLUTION_METER);
    }
    png_write_info(context.png, context.info);
    return true;
}

bool write_png_row(PngContext &context, const uint8_t *row) {
    if (setjmp(png_jmpbuf(context.png))) {
        return false;
    }
    png_write_row(context.png, row);
    return true;
}

bool end_png(PngContext &context) {
    if (setjmp(png_jmpbuf(context.png))) {
        return false;
    }
    png_write_end(context.png, context.info);
    return true;
}

class PngSink : public RowSink {
  public:
    explicit PngSink(PendingFile &file) : file_(file) {
        context_.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &context_, on_png_error, on_png_warning);
        if (context_.png != nullptr) {
            context_.info = png_create_info_struct(context_.png);
        }
        if (context_.info == nullptr) {
            throw input_error(file_.target() + ": cannot start a PNG file: out of memory");
        }
    }
    ~PngSink() override { png_destroy_write_struct(&context_.png, &context_.info); }

    void begin(const PageImage &image) override {
        layout_ = png_layout(image);
        width_ = static_cast<size_t>(image.width);
        std::vector<png_color> palette;
        for (const Rgb &entry : image.palette) {
            palette.push_back(png_color{entry.r, entry.g, entry.b});
        }
        packed_.assign((width_ * static_cast<size_t>(layout_.bit_depth) + 7) / 8, 0);
        check(start_png(context_, file_.stream(), image, layout_, palette.data(), static_cast<int>(palette.size())));
    }

    void row(const uint8_t *pixels) override {
        if (layout_.bit_depth == 8) {
            check(write_png_row(context_, pixels));
            return;
        }
        // Samples narrower than a byte are packed first pixel in the high bits.
        std::fill(packed_.begin(), packed_.end(), 0);
        const int depth = layout_.bit_depth;
        const int per_byte = 8 / depth;
        for (size_t x = 0; x < width_; ++x) {
            const int shift = 8 - depth * (static_cast<int>(x % static_cast<size_t>(per_byte)) + 1);
            packed_[x / static_cast<size_t>(per_byte)] |= static_cast<uint8_t>(pixels[x] << shift);
        }
        check(write_png_row(context_, packed_.data()));
    }

    void finish() override { check(end_png(context_)); }

  private:
    void check(bool ok) {
        if (!ok) {
            throw input_error(file_.target() + ": cannot write the PNG file: " + context_.message);
        }
    }

    PendingFile &file_;
    PngContext context_;
    PngLayout layout_{};
    size_t width_ = 0;
    std::vector<uint8_t> packed_;
};

} // namespace

bool has_png_signature(ByteView bytes) {
    return bytes.size() >= 8 && png_sig_cmp(bytes.data(), 0, 8) == 0;
}

RgbImage read_png(ByteView bytes, const std::string &name, uint64_t max_pixels) {
    PngContext context;
    context.input = bytes.data();
    context.input_size = bytes.size();
    context.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &context, on_png_error, on_png_warning);
    if (context.png != nullptr) {
        context.info = png_create_info_struct(context.png);
    }
    struct Cleanup {
        PngContext &context;
        ~Cleanup() { png_destroy_read_struct(&context.png, &context.info, nullptr); }
    } cleanup{context};
    if (context.info == nullptr) {
        throw input_error(name + ": cannot read the PNG file: out of memory");
    }
    // libpng reads a variable-length ancillary chunk into a buffer of the
    // length the chunk claims, even past the end of the file; none of these
    // chunks matters for a PCX image, so they are skipped unread.
    static const png_byte kSkippedChunks[] = "sPLT\0iCCP\0tEXt\0zTXt\0iTXt\0eXIf\0pCAL\0sCAL\0hIST\0";
    png_set_keep_unknown_chunks(context.png, PNG_HANDLE_CHUNK_NEVER, kSkippedChunks, 9);

    PngHeader header{};
    if (!read_png_header(context, &header)) {
        throw input_error(name + ": cannot read the PNG file: " + context.message);
    }
    check_pixel_limit(header.width, header.height, max_pixels, name + ": ");
    const uint64_t stored_bytes =
        uint64_t{header.height} *
        (1 + (uint64_t{header.width} * static_cast<uint64_t>(header.stored_pixel_bits) + 7) / 8);
    if (stored_bytes > kMaxDeflateExpansion * bytes.size()) {
        throw input_error(name + ": cannot read the PNG file: its " + std::to_string(bytes.size()) +
                          " bytes cannot hold the " + std::to_string(header.width) + " x " +
                          std::to_string(header.height) + " image its header claims; the file is damaged or cut short");
    }
    if (header.row_bytes != 4 * static_cast<size_t>(header.width)) {
        throw input_error(name + ": cannot read the PNG file: unexpected row layout");
    }

    RgbImage image;
    image.width = static_cast<int32_t>(header.width);
    image.height = static_cast<int32_t>(header.height);
    image.dpi_x = header.dpi_x;
    image.dpi_y = header.dpi_y;
    const size_t width = header.width;
    image.rgb.resize(3 * width * header.height);
    if (header.passes == 1) {
        // Row by row: only one row of RGBA is held besides the image.
        std::vector<uint8_t> row(header.row_bytes);
        for (size_t y = 0; y < header.height; ++y) {
            if (!read_png_row(context, row.data())) {
                throw input_error(name + ": cannot read the PNG file: " + context.message);
            }
            blend_pixels(row.data(), width, image.rgb.data() + 3 * width * y);
        }
    } else {
        // Interlaced passes fill the whole image before any row is complete.
        std::vector<uint8_t> rgba(header.row_bytes * header.height);
        if (!read_png_rows(context, header, rgba.data())) {
            throw input_error(name + ": cannot read the PNG file: " + context.message);
        }
        blend_pixels(rgba.data(), width * header.height, image.rgb.data());
    }
    return image;
}

std::unique_ptr<RowSink> make_png_sink(PendingFile &file) {
    return std::make_unique<PngSink>(file);
}

} // namespace pcxtool
