#include "png_io.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <libdeflate.h>
#include <png.h>
#include <zlib.h>

#include "format_error.h"

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

// PNG rows before compression: a filter byte, then the filtered row. Rows of
// 8-bit gray and RGB pages take the filter whose output has the smallest sum
// of magnitudes (the usual heuristic); packed and palette rows stay
// unfiltered, which suits them best.
class RowFilter {
  public:
    void start(size_t row_bytes, size_t bytes_per_pixel, bool adaptive) {
        row_bytes_ = row_bytes;
        bpp_ = std::min(bytes_per_pixel, row_bytes);
        adaptive_ = adaptive;
        previous_.assign(row_bytes, 0);
        for (auto &trial : trials_) {
            trial.assign(row_bytes, 0);
        }
    }

    // Writes the filter byte and the filtered row, 1 + row_bytes bytes, at dest.
    void filter(const uint8_t *row, uint8_t *dest) {
        if (!adaptive_) {
            dest[0] = 0;
            std::memcpy(dest + 1, row, row_bytes_);
            return;
        }
        // Each filter in a loop of its own, which the compiler vectorises.
        const uint8_t *up = previous_.data();
        const size_t n = row_bytes_;
        const size_t b = bpp_;
        uint8_t *sub = trials_[0].data();
        uint8_t *upper = trials_[1].data();
        uint8_t *average = trials_[2].data();
        uint8_t *paeth = trials_[3].data();
        for (size_t i = 0; i < b; ++i) { // the first pixel has no left neighbour
            sub[i] = row[i];
            upper[i] = static_cast<uint8_t>(row[i] - up[i]);
            average[i] = static_cast<uint8_t>(row[i] - (up[i] >> 1));
            paeth[i] = static_cast<uint8_t>(row[i] - up[i]);
        }
        for (size_t i = b; i < n; ++i) sub[i] = static_cast<uint8_t>(row[i] - row[i - b]);
        for (size_t i = b; i < n; ++i) upper[i] = static_cast<uint8_t>(row[i] - up[i]);
        for (size_t i = b; i < n; ++i) average[i] = static_cast<uint8_t>(row[i] - ((row[i - b] + up[i]) >> 1));
        for (size_t i = b; i < n; ++i) {
            const int16_t a = row[i - b];
            const int16_t u = up[i];
            const int16_t c = up[i - b];
            const int16_t pa = static_cast<int16_t>(u > c ? u - c : c - u);
            const int16_t pb = static_cast<int16_t>(a > c ? a - c : c - a);
            const int16_t pc = static_cast<int16_t>(a + u > 2 * c ? a + u - 2 * c : 2 * c - a - u);
            const int16_t predicted = pa <= pb && pa <= pc ? a : pb <= pc ? u : c;
            paeth[i] = static_cast<uint8_t>(row[i] - predicted);
        }
        const uint8_t *candidates[5] = {row, sub, upper, average, paeth};
        int best = 0;
        uint32_t best_cost = cost(row);
        for (int type = 1; type < 5; ++type) {
            const uint32_t c = cost(candidates[type]);
            if (c < best_cost) {
                best_cost = c;
                best = type;
            }
        }
        dest[0] = static_cast<uint8_t>(best);
        std::memcpy(dest + 1, candidates[best], n);
        std::memcpy(previous_.data(), row, n);
    }

  private:
    // Sum of the bytes taken as signed values' magnitudes.
    uint32_t cost(const uint8_t *bytes) const {
        uint32_t sum = 0;
        for (size_t i = 0; i < row_bytes_; ++i) {
            const uint32_t v = bytes[i];
            sum += v < 128 ? v : 256 - v;
        }
        return sum;
    }

    size_t row_bytes_ = 0;
    size_t bpp_ = 1;
    bool adaptive_ = false;
    std::vector<uint8_t> previous_;
    std::vector<uint8_t> trials_[4];
};

void put_be32(std::vector<uint8_t> &out, uint32_t v) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
                              static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
    out.insert(out.end(), bytes, bytes + 4);
}

// One chunk: length, type, data, and the CRC of type and data.
void put_chunk(std::vector<uint8_t> &out, const char *type, const uint8_t *data, size_t size) {
    put_be32(out, static_cast<uint32_t>(size));
    const size_t typed = out.size();
    out.insert(out.end(), type, type + 4);
    if (size > 0) {
        out.insert(out.end(), data, data + size);
    }
    put_be32(out, static_cast<uint32_t>(libdeflate_crc32(0, out.data() + typed, 4 + size)));
}

// The compressed rows go out in IDAT chunks of at most this many bytes.
constexpr size_t kIdatBytes = size_t{1} << 20;
constexpr int kLevel = 6;
// zlib's level 6 spends several times as long as its level 5 on noisy
// pictures for 3 % less at most; photographs come out the same size.
constexpr int kStreamLevel = 5;

// Rows are filtered as they come. Up to kWholeBytes of them are compressed
// in one piece by libdeflate, which is several times faster than zlib's
// stream at a smaller size, and which needs them all at once; larger pages
// stream through zlib, so that no page holds more than about twice
// kWholeBytes, whatever its size.
class PngSink : public RowSink {
  public:
    explicit PngSink(ByteOutput &file) : file_(file) {}
    ~PngSink() override {
        if (streaming_) {
            deflateEnd(&stream_);
        }
    }
    PngSink(const PngSink &) = delete;
    PngSink &operator=(const PngSink &) = delete;

    void begin(const PageImage &image) override {
        image_ = image;
        layout_ = png_layout(image);
        width_ = static_cast<size_t>(image.width);
        const size_t channels = layout_.color_type == PNG_COLOR_TYPE_RGB_ALPHA ? 4
                                : layout_.color_type == PNG_COLOR_TYPE_RGB     ? 3
                                                                               : 1;
        const size_t row_bytes = (width_ * channels * static_cast<size_t>(layout_.bit_depth) + 7) / 8;
        packed_.assign(row_bytes, 0);
        filter_.start(row_bytes, channels, layout_.bit_depth == 8 && layout_.color_type != PNG_COLOR_TYPE_PALETTE);
        filtered_.clear();
        const uint64_t filtered_bytes = (uint64_t{row_bytes} + 1) * static_cast<uint64_t>(image.height);
        if (filtered_bytes <= kWholeBytes) {
            filtered_.reserve(filtered_bytes);
            return;
        }
        write_header();
        if (deflateInit(&stream_, kStreamLevel) != Z_OK) {
            throw format_error(file_.target() + ": cannot write the PNG file: out of memory");
        }
        streaming_ = true;
        filtered_.resize(1 + row_bytes);
        idat_.resize(kIdatBytes);
    }

    void row(const uint8_t *pixels) override {
        if (layout_.bit_depth != 8) {
            // Samples narrower than a byte are packed first pixel in the high bits.
            std::fill(packed_.begin(), packed_.end(), 0);
            const int depth = layout_.bit_depth;
            const int per_byte = 8 / depth;
            for (size_t x = 0; x < width_; ++x) {
                const int shift = 8 - depth * (static_cast<int>(x % static_cast<size_t>(per_byte)) + 1);
                packed_[x / static_cast<size_t>(per_byte)] |= static_cast<uint8_t>(pixels[x] << shift);
            }
            pixels = packed_.data();
        }
        if (streaming_) {
            filter_.filter(pixels, filtered_.data());
            compress(filtered_.data(), filtered_.size(), Z_NO_FLUSH);
            return;
        }
        const size_t at = filtered_.size();
        filtered_.resize(at + 1 + packed_.size());
        filter_.filter(pixels, filtered_.data() + at);
    }

    void finish() override {
        if (streaming_) {
            compress(nullptr, 0, Z_FINISH);
        } else {
            write_header();
            compress_whole();
        }
        std::vector<uint8_t> out;
        put_chunk(out, "IEND", nullptr, 0);
        file_.write(out.data(), out.size());
    }

  private:
    static constexpr uint64_t kWholeBytes = uint64_t{32} << 20;

    // The signature and the chunks before the image data.
    void write_header() {
        std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        std::vector<uint8_t> header;
        put_be32(header, static_cast<uint32_t>(image_.width));
        put_be32(header, static_cast<uint32_t>(image_.height));
        header.push_back(static_cast<uint8_t>(layout_.bit_depth));
        header.push_back(static_cast<uint8_t>(layout_.color_type));
        header.insert(header.end(), {0, 0, 0}); // deflate, adaptive filtering, not interlaced
        put_chunk(out, "IHDR", header.data(), header.size());
        if (layout_.color_type == PNG_COLOR_TYPE_PALETTE) {
            std::vector<uint8_t> palette;
            for (const Rgb &entry : image_.palette) {
                palette.insert(palette.end(), {entry.r, entry.g, entry.b});
            }
            put_chunk(out, "PLTE", palette.data(), palette.size());
        }
        if (image_.dpi_x > 0 && image_.dpi_y > 0) {
            std::vector<uint8_t> phys;
            put_be32(phys, pixels_per_metre_from_dpi(image_.dpi_x));
            put_be32(phys, pixels_per_metre_from_dpi(image_.dpi_y));
            phys.push_back(PNG_RESOLUTION_METER);
            put_chunk(out, "pHYs", phys.data(), phys.size());
        }
        file_.write(out.data(), out.size());
    }

    void write_idat(const uint8_t *data, size_t size) {
        std::vector<uint8_t> out;
        for (size_t at = 0; at < size; at += kIdatBytes) {
            out.clear();
            put_chunk(out, "IDAT", data + at, std::min(kIdatBytes, size - at));
            file_.write(out.data(), out.size());
        }
    }

    void compress_whole() {
        struct CompressorDeleter {
            void operator()(libdeflate_compressor *c) const { libdeflate_free_compressor(c); }
        };
        std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor(libdeflate_alloc_compressor(kLevel));
        if (!compressor) {
            throw format_error(file_.target() + ": cannot write the PNG file: out of memory");
        }
        std::vector<uint8_t> compressed(libdeflate_zlib_compress_bound(compressor.get(), filtered_.size()));
        const size_t size = libdeflate_zlib_compress(compressor.get(), filtered_.data(), filtered_.size(),
                                                     compressed.data(), compressed.size());
        if (size == 0) {
            throw format_error(file_.target() + ": cannot write the PNG file: the compressor failed");
        }
        std::vector<uint8_t>().swap(filtered_);
        write_idat(compressed.data(), size);
    }

    // Feeds bytes to the zlib stream; each full output buffer goes out as an
    // IDAT chunk, and with Z_FINISH the rest of the stream too.
    void compress(const uint8_t *data, size_t size, int flush) {
        stream_.next_in = const_cast<Bytef *>(data); // zlib's own interface is not const
        stream_.avail_in = static_cast<uInt>(size);
        for (;;) {
            stream_.next_out = idat_.data() + idat_used_;
            stream_.avail_out = static_cast<uInt>(idat_.size() - idat_used_);
            const int status = deflate(&stream_, flush);
            if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
                throw format_error(file_.target() + ": cannot write the PNG file: the compressor failed");
            }
            idat_used_ = idat_.size() - stream_.avail_out;
            if (idat_used_ == idat_.size() || (status == Z_STREAM_END && idat_used_ > 0)) {
                write_idat(idat_.data(), idat_used_);
                idat_used_ = 0;
            }
            if (status == Z_STREAM_END || (flush != Z_FINISH && stream_.avail_in == 0 && stream_.avail_out > 0)) {
                return;
            }
        }
    }

    ByteOutput &file_;
    PageImage image_;
    PngLayout layout_{};
    size_t width_ = 0;
    std::vector<uint8_t> packed_;
    RowFilter filter_;
    std::vector<uint8_t> filtered_; // every filtered row, or the one being streamed
    bool streaming_ = false;
    z_stream stream_{};
    std::vector<uint8_t> idat_; // compressed bytes not yet written, when streaming
    size_t idat_used_ = 0;
};

} // namespace

bool has_png_signature(ByteView bytes) {
    return bytes.size() >= 8 && png_sig_cmp(bytes.data(), 0, 8) == 0;
}

RgbImage read_png(ByteView bytes, const std::string &name, uint64_t max_pixels, bool keep_alpha) {
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
        throw format_error(name + ": cannot read the PNG file: out of memory");
    }
    // libpng reads a variable-length ancillary chunk into a buffer of the
    // length the chunk claims, even past the end of the file; none of these
    // chunks matters for a PCX image, so they are skipped unread.
    static const png_byte kSkippedChunks[] = "sPLT\0iCCP\0tEXt\0zTXt\0iTXt\0eXIf\0pCAL\0sCAL\0hIST\0";
    png_set_keep_unknown_chunks(context.png, PNG_HANDLE_CHUNK_NEVER, kSkippedChunks, 9);

    PngHeader header{};
    if (!read_png_header(context, &header)) {
        throw format_error(name + ": cannot read the PNG file: " + context.message);
    }
    check_pixel_limit(header.width, header.height, max_pixels, name + ": ");
    const uint64_t stored_bytes =
        uint64_t{header.height} *
        (1 + (uint64_t{header.width} * static_cast<uint64_t>(header.stored_pixel_bits) + 7) / 8);
    if (stored_bytes > kMaxDeflateExpansion * bytes.size()) {
        throw format_error(name + ": cannot read the PNG file: its " + std::to_string(bytes.size()) +
                           " bytes cannot hold the " + std::to_string(header.width) + " x " +
                           std::to_string(header.height) +
                           " image its header claims; the file is damaged or cut short");
    }
    if (header.row_bytes != 4 * static_cast<size_t>(header.width)) {
        throw format_error(name + ": cannot read the PNG file: unexpected row layout");
    }

    RgbImage image;
    image.width = static_cast<int32_t>(header.width);
    image.height = static_cast<int32_t>(header.height);
    image.dpi_x = header.dpi_x;
    image.dpi_y = header.dpi_y;
    const size_t width = header.width;
    const size_t channels = keep_alpha ? 4 : 3;
    uint8_t *const rgb = image.allocate(channels * width * header.height);
    if (header.passes == 1) {
        // Row by row: only one row of RGBA is held besides the image.
        std::vector<uint8_t> row(header.row_bytes);
        for (size_t y = 0; y < header.height; ++y) {
            if (!read_png_row(context, row.data())) {
                throw format_error(name + ": cannot read the PNG file: " + context.message);
            }
            uint8_t *const out = rgb + channels * width * y;
            keep_alpha ? (void)std::memcpy(out, row.data(), 4 * width) : blend_pixels(row.data(), width, out);
        }
    } else {
        // Interlaced passes fill the whole image before any row is complete.
        std::vector<uint8_t> rgba(header.row_bytes * header.height);
        if (!read_png_rows(context, header, rgba.data())) {
            throw format_error(name + ": cannot read the PNG file: " + context.message);
        }
        keep_alpha ? (void)std::memcpy(rgb, rgba.data(), rgba.size())
                   : blend_pixels(rgba.data(), width * header.height, rgb);
    }
    return image;
}

std::unique_ptr<RowSink> make_png_sink(ByteOutput &file) {
    return std::make_unique<PngSink>(file);
}

} // namespace pcxtool
