#include "colour_reduction.h"

#include <memory>

#include "format_error.h"

#ifdef PCXTOOL_HAVE_IMAGEQUANT
#include <libimagequant.h>
#endif

namespace pcxtool {

namespace {

uint8_t luma(const uint8_t *rgb) {
    return static_cast<uint8_t>((299u * rgb[0] + 587u * rgb[1] + 114u * rgb[2] + 500u) / 1000u);
}

size_t pixel_count(const RgbImage &image) {
    return static_cast<size_t>(image.width) * static_cast<size_t>(image.height);
}

// An image of the same size and resolution; *rgb receives its pixels.
RgbImage same_frame(const RgbImage &image, uint8_t **rgb) {
    RgbImage reduced;
    reduced.width = image.width;
    reduced.height = image.height;
    reduced.dpi_x = image.dpi_x;
    reduced.dpi_y = image.dpi_y;
    *rgb = reduced.allocate(3 * pixel_count(image));
    return reduced;
}

#ifdef PCXTOOL_HAVE_IMAGEQUANT
// The quantiser's objects, each freed by its own function.
struct Quantiser {
    liq_attr *attr = nullptr;
    liq_image *image = nullptr;
    liq_result *result = nullptr;
    ~Quantiser() {
        if (result != nullptr) liq_result_destroy(result);
        if (image != nullptr) liq_image_destroy(image);
        if (attr != nullptr) liq_attr_destroy(attr);
    }
};

// Rows handed to the quantiser as it asks for them, opaque: no RGBA copy of
// the whole image.
void give_row(liq_color row_out[], int row, int width, void *context) {
    const auto *image = static_cast<const RgbImage *>(context);
    const uint8_t *rgb = image->rgb.data() + 3 * static_cast<size_t>(row) * static_cast<size_t>(image->width);
    for (int x = 0; x < width; ++x) {
        row_out[x] = liq_color{rgb[3 * x], rgb[3 * x + 1], rgb[3 * x + 2], 255};
    }
}
#endif

} // namespace

bool quantizer_available() {
#ifdef PCXTOOL_HAVE_IMAGEQUANT
    return true;
#else
    return false;
#endif
}

RgbImage quantize_colours(const RgbImage &image, int colours, bool dither, bool black_and_white,
                          const std::string &name) {
#ifdef PCXTOOL_HAVE_IMAGEQUANT
    Quantiser q;
    q.attr = liq_attr_create();
    if (q.attr == nullptr || liq_set_max_colors(q.attr, colours) != LIQ_OK) {
        throw format_error(name + ": the quantiser could not be set up");
    }
    q.image = liq_image_create_custom(q.attr, give_row, const_cast<RgbImage *>(&image), image.width, image.height, 0);
    if (q.image == nullptr) {
        throw format_error(name + ": the quantiser could not take the image");
    }
    if (black_and_white) {
        liq_image_add_fixed_color(q.image, liq_color{0, 0, 0, 255});
        liq_image_add_fixed_color(q.image, liq_color{255, 255, 255, 255});
    }
    if (liq_image_quantize(q.image, q.attr, &q.result) != LIQ_OK ||
        liq_set_dithering_level(q.result, dither ? 1.0f : 0.0f) != LIQ_OK) {
        throw format_error(name + ": the quantiser found no palette for the image");
    }
    const size_t pixels = pixel_count(image);
    std::unique_ptr<uint8_t[]> indices(new uint8_t[pixels]);
    if (liq_write_remapped_image(q.result, q.image, indices.get(), pixels) != LIQ_OK) {
        throw format_error(name + ": the quantiser could not map the image to its palette");
    }
    const liq_palette *palette = liq_get_palette(q.result);
    uint8_t *rgb = nullptr;
    RgbImage reduced = same_frame(image, &rgb);
    for (size_t i = 0; i < pixels; ++i) {
        const liq_color &colour = palette->entries[indices[i] < palette->count ? indices[i] : 0];
        rgb[3 * i] = colour.r;
        rgb[3 * i + 1] = colour.g;
        rgb[3 * i + 2] = colour.b;
    }
    return reduced;
#else
    (void)image, (void)colours, (void)dither, (void)black_and_white;
    throw format_error(name + ": --quantize is not available: pcxtool was built without libimagequant "
                              "(libimagequant-dev)");
#endif
}

RgbImage threshold_to_black_and_white(const RgbImage &image, int level) {
    const size_t pixels = pixel_count(image);
    uint8_t *rgb = nullptr;
    RgbImage reduced = same_frame(image, &rgb);
    const uint8_t *in = image.rgb.data();
    for (size_t i = 0; i < pixels; ++i) {
        const uint8_t value = luma(in + 3 * i) < level ? 0 : 255;
        rgb[3 * i] = rgb[3 * i + 1] = rgb[3 * i + 2] = value;
    }
    return reduced;
}

} // namespace pcxtool
