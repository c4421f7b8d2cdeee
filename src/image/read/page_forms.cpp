#include "page_forms.h"

#include <cstring>
#include <string>

namespace image {

namespace {

// Gray from colour by luma, rounded.
uint8_t luma(uint32_t red, uint32_t green, uint32_t blue) {
    return static_cast<uint8_t>((299 * red + 587 * green + 114 * blue + 500) / 1000);
}

[[noreturn]] void cannot_give(const PageInfo &page, const char *form) {
    static const char *const kinds[] = {"bilevel", "gray", "indexed", "RGB", "RGBA"};
    throw ImageError(IFFPCX_ERR_ARGUMENT, std::string("a ") + kinds[page.kind] + " page cannot be decoded as " + form,
                     page.index);
}

} // namespace

FormPlan plan_form(const PageInfo &page, uint32_t form) {
    const uint32_t kind = page.kind;
    const size_t width = static_cast<size_t>(page.width > 0 ? page.width : 0);
    const bool colour = kind == IFFPCX_KIND_RGB || kind == IFFPCX_KIND_RGBA;
    const size_t kind_bytes = kind == IFFPCX_KIND_RGBA ? 4 : kind == IFFPCX_KIND_RGB ? 3 : 1;
    FormPlan plan;
    switch (form) {
    case IFFPCX_FORM_DEFAULT: plan.pixel_bytes = kind_bytes; break;
    case IFFPCX_FORM_BOOL:
        if (kind != IFFPCX_KIND_BILEVEL) cannot_give(page, "BOOL");
        plan.pixel_bytes = 1;
        break;
    case IFFPCX_FORM_BITS:
        if (kind != IFFPCX_KIND_BILEVEL) cannot_give(page, "BITS");
        // One-bit pages come packed from the library; others are packed here.
        plan.convert = page.header.bits_per_plane * page.header.planes != 1;
        plan.delivery = plan.convert ? Delivery::Kind : Delivery::Packed;
        plan.row_bytes = (width + 7) / 8;
        return plan;
    case IFFPCX_FORM_INDEX:
        if (colour) cannot_give(page, "INDEX");
        plan.delivery = Delivery::Index;
        plan.pixel_bytes = 1;
        break;
    case IFFPCX_FORM_GRAY:
        plan.convert = kind != IFFPCX_KIND_GRAY;
        plan.pixel_bytes = 1;
        break;
    case IFFPCX_FORM_RGB:
        plan.convert = kind != IFFPCX_KIND_RGB;
        plan.pixel_bytes = 3;
        break;
    case IFFPCX_FORM_RGBA:
        plan.convert = kind != IFFPCX_KIND_RGBA;
        plan.pixel_bytes = 4;
        break;
    default: throw ImageError(IFFPCX_ERR_ARGUMENT, "form " + std::to_string(form) + " is not an iffpcx_form");
    }
    plan.row_bytes = width * plan.pixel_bytes;
    return plan;
}

void convert_rows(const PageInfo &page, uint32_t form, const uint8_t *in, size_t in_stride, uint8_t *out,
                  size_t out_stride, size_t count) {
    const size_t width = static_cast<size_t>(page.width);
    const uint32_t kind = page.kind;
    // Each delivered value's colour: bilevel 0 black 1 white, gray levels,
    // or palette entries.
    uint8_t colours[256][3] = {};
    if (kind == IFFPCX_KIND_BILEVEL) {
        std::memset(colours[1], 255, 3);
    } else if (kind == IFFPCX_KIND_GRAY) {
        for (int level = 0; level < 256; ++level) {
            std::memset(colours[level], level, 3);
        }
    } else if (kind == IFFPCX_KIND_INDEXED && !page.colours.empty()) {
        std::memcpy(colours, page.colours.data(), 3 * std::min<size_t>(page.colours.size(), 256));
    }
    const size_t in_bytes = kind == IFFPCX_KIND_RGBA ? 4 : kind == IFFPCX_KIND_RGB ? 3 : 1;
    for (size_t row = 0; row < count; ++row) {
        const uint8_t *from = in + row * in_stride;
        uint8_t *to = out + row * out_stride;
        if (form == IFFPCX_FORM_BITS) {
            std::memset(to, 0, (width + 7) / 8);
            for (size_t x = 0; x < width; ++x) {
                if (from[x] == 0) { // black
                    to[x / 8] = static_cast<uint8_t>(to[x / 8] | 0x80 >> (x % 8));
                }
            }
            continue;
        }
        for (size_t x = 0; x < width; ++x) {
            const uint8_t *rgb = in_bytes == 1 ? colours[from[x]] : from + in_bytes * x;
            switch (form) {
            case IFFPCX_FORM_GRAY: to[x] = luma(rgb[0], rgb[1], rgb[2]); break;
            case IFFPCX_FORM_RGB: std::memcpy(to + 3 * x, rgb, 3); break;
            default: // RGBA
                std::memcpy(to + 4 * x, rgb, 3);
                to[4 * x + 3] = in_bytes == 4 ? from[4 * x + 3] : 255;
                break;
            }
        }
    }
}

} // namespace image
