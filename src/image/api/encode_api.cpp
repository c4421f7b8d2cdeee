// Encoding images as PCX files, and assembling DCX files.
#include <cstring>
#include <memory>
#include <optional>

#include "api/guarded.h"
#include "api/output_object.h"
#include "base/memory_stream.h"
#include "base/status_names.h"
#include "read/dcx_layout.h"
#include "write/pcx_writer.h"

namespace image {

namespace {

// The image's rows as RGB, back to back: the caller's own pixels when they
// are that already, else converted into memory of this encode's own.
class RgbRows {
  public:
    explicit RgbRows(const iffpcx_image &image) {
        if (image.width < 1 || image.height < 1 || image.width > kMaxImageSide || image.height > kMaxImageSide) {
            throw ImageError(IFFPCX_ERR_ARGUMENT, name(image) + ": " + std::to_string(image.width) + " x " +
                                                      std::to_string(image.height) +
                                                      " pixels: a PCX image is 1 to 65535 pixels a side");
        }
        if ((image.pixels == nullptr) == (image.row == nullptr)) {
            argument_error(name(image) + ": give either pixels or a row callback");
        }
        const auto width = static_cast<size_t>(image.width);
        const auto height = static_cast<size_t>(image.height);
        pixels_.width = image.width;
        pixels_.height = image.height;
        pixels_.dpi_x = image.dpi_x;
        pixels_.dpi_y = image.dpi_y;
        if (image.form == IFFPCX_FORM_RGB && image.pixels != nullptr && image.stride == 3 * width) {
            pixels_.rgb = static_cast<const uint8_t *>(image.pixels);
            return;
        }
        const size_t row_bytes = bytes_of_row(image);
        if (image.pixels != nullptr && image.stride < row_bytes) {
            argument_error(name(image) + ": a stride shorter than a row's " + std::to_string(row_bytes) + " bytes");
        }
        owned_.reset(new uint8_t[3 * width * height]);
        for (size_t y = 0; y < height; ++y) {
            const uint8_t *row = image.pixels != nullptr ? static_cast<const uint8_t *>(image.pixels) + y * image.stride
                                                         : image.row(image.row_context, static_cast<int32_t>(y));
            if (row == nullptr) {
                throw ImageError(IFFPCX_ERR_CALLBACK,
                                 name(image) + ": the row callback gave no row " + std::to_string(y));
            }
            to_rgb(image, row, owned_.get() + 3 * width * y);
        }
        pixels_.rgb = owned_.get();
    }

    const RgbPixels &pixels() const { return pixels_; }

    static std::string name(const iffpcx_image &image) { return name_or(image.name, "image"); }

  private:
    static size_t bytes_of_row(const iffpcx_image &image) {
        const auto width = static_cast<size_t>(image.width);
        switch (image.form) {
        case IFFPCX_FORM_INDEX:
        case IFFPCX_FORM_GRAY:
        case IFFPCX_FORM_BOOL: return width;
        case IFFPCX_FORM_RGB: return 3 * width;
        case IFFPCX_FORM_RGBA: return 4 * width;
        case IFFPCX_FORM_BITS: return (width + 7) / 8;
        default: argument_error(name(image) + ": form " + std::to_string(image.form) + " cannot be encoded");
        }
    }

    static void to_rgb(const iffpcx_image &image, const uint8_t *row, uint8_t *rgb) {
        const auto width = static_cast<size_t>(image.width);
        for (size_t x = 0; x < width; ++x, rgb += 3) {
            switch (image.form) {
            case IFFPCX_FORM_INDEX: {
                if (image.palette == nullptr || row[x] >= image.palette_entries) {
                    argument_error(name(image) + ": index " + std::to_string(row[x]) + " lies beyond the palette's " +
                                   std::to_string(image.palette_entries) + " entries");
                }
                std::memcpy(rgb, image.palette + 3 * row[x], 3);
                break;
            }
            case IFFPCX_FORM_GRAY: std::memset(rgb, row[x], 3); break;
            case IFFPCX_FORM_BOOL: std::memset(rgb, row[x] != 0 ? 255 : 0, 3); break;
            case IFFPCX_FORM_BITS: std::memset(rgb, (row[x / 8] & (0x80 >> (x % 8))) != 0 ? 0 : 255, 3); break;
            case IFFPCX_FORM_RGB: std::memcpy(rgb, row + 3 * x, 3); break;
            default: { // RGBA, blended onto white
                const uint8_t *pixel = row + 4 * x;
                const unsigned alpha = pixel[3];
                for (int c = 0; c < 3; ++c) {
                    rgb[c] = static_cast<uint8_t>((pixel[c] * alpha + 255 * (255 - alpha) + 127) / 255);
                }
                break;
            }
            }
        }
    }

    RgbPixels pixels_;
    std::unique_ptr<uint8_t[]> owned_;
};

std::optional<int> requested_bits(const iffpcx_encode_options *options) {
    const int32_t bits = options != nullptr ? options->bits : 0;
    if (bits == 0) {
        return std::nullopt;
    }
    if (bits != 1 && bits != 2 && bits != 3 && bits != 4 && bits != 8 && bits != 24) {
        argument_error("bits must be 0, 1, 2, 3, 4, 8 or 24, not " + std::to_string(bits));
    }
    return bits;
}

WriteOptions write_options(const iffpcx_encode_options *options) {
    WriteOptions chosen;
    const uint32_t flags = options != nullptr ? options->flags : 0;
    chosen.align_palette = (flags & IFFPCX_ALIGN_PALETTE) != 0;
    chosen.one_thread = (flags & IFFPCX_ONE_THREAD) != 0;
    return chosen;
}

void fill_layout(const PcxLayout &chosen, iffpcx_layout *layout) {
    if (layout == nullptr) {
        return;
    }
    std::memset(layout, 0, sizeof *layout);
    layout->color_class = chosen.color_class;
    layout->bits = chosen.depth();
    layout->palette_entries = static_cast<uint32_t>(std::min<size_t>(chosen.palette.size(), 256));
    for (size_t k = 0; k < layout->palette_entries; ++k) {
        layout->palette[3 * k] = chosen.palette[k].r;
        layout->palette[3 * k + 1] = chosen.palette[k].g;
        layout->palette[3 * k + 2] = chosen.palette[k].b;
    }
}

void check_output(const iffpcx_output *output) {
    if (output == nullptr) {
        argument_error("no output was given");
    }
}

// A page goes into a DCX file only if the library opens it as a PCX file.
void check_pcx_page(ByteView page, const std::string &name) {
    MemoryStream stream(page);
    IFFImageInfo info{};
    const int32_t handle = IFFOpen(stream.source(), IFF_MODE_READ | IFF_MODE_STREAMS, &info);
    if (handle <= 0) {
        throw ImageError(IFFPCX_ERR_NOT_PCX, name + ": not a PCX page: " + describe_status(-handle), -1, -1, -handle);
    }
    IFFClose(handle);
}

void write_dcx(iffpcx_output &output, const std::vector<ByteView> &pages) {
    std::vector<size_t> sizes;
    for (const ByteView &page : pages) {
        sizes.push_back(page.size());
    }
    const std::vector<uint8_t> directory = dcx_directory(sizes);
    std::vector<ByteView> pieces{ByteView(directory)};
    pieces.insert(pieces.end(), pages.begin(), pages.end());
    write_whole(output, pieces);
}

} // namespace

} // namespace image

using namespace image;

extern "C" {

iffpcx_status iffpcx_encode(const iffpcx_image *image, const iffpcx_encode_options *options, iffpcx_output *output,
                            iffpcx_layout *layout, iffpcx_error *error) {
    return guarded(error, [&] {
        check_output(output);
        if (image == nullptr) {
            argument_error("no image was given");
        }
        const std::optional<int> bits = requested_bits(options);
        const RgbRows rows(*image);
        const WriteOptions chosen = write_options(options);
        PcxOutput &pcx = start_pcx(*output);
        fill_layout(write_pcx(rows.pixels(), bits, chosen, pcx, RgbRows::name(*image)), layout);
    });
}

iffpcx_status iffpcx_encode_dcx(const iffpcx_image *images, size_t count, const iffpcx_encode_options *options,
                                iffpcx_output *output, iffpcx_error *error) {
    return guarded(error, [&] {
        check_output(output);
        if (images == nullptr || count == 0) {
            argument_error("no images were given");
        }
        const std::optional<int> bits = requested_bits(options);
        const WriteOptions chosen = write_options(options);
        std::vector<std::unique_ptr<PcxOutput>> coded;
        std::vector<ByteView> pages;
        for (size_t k = 0; k < count; ++k) {
            const RgbRows rows(images[k]);
            coded.push_back(std::make_unique<PcxOutput>(output->name));
            write_pcx(rows.pixels(), bits, chosen, *coded.back(), RgbRows::name(images[k]));
            pages.push_back(coded.back()->contents());
        }
        write_dcx(*output, pages);
    });
}

iffpcx_status iffpcx_pack_dcx(const iffpcx_bytes *pages, size_t count, iffpcx_output *output, iffpcx_error *error) {
    return guarded(error, [&] {
        if (pages == nullptr || count == 0) {
            argument_error("no pages were given");
        }
        std::vector<ByteView> views;
        for (size_t k = 0; k < count; ++k) {
            if (pages[k].data == nullptr) {
                argument_error("page " + std::to_string(k) + " has no bytes");
            }
            views.emplace_back(pages[k].data, pages[k].size);
            check_pcx_page(views.back(), pages[k].name != nullptr ? pages[k].name : "page " + std::to_string(k));
        }
        if (output != nullptr) {
            write_dcx(*output, views);
        }
    });
}

} // extern "C"
