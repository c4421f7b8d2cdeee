#include "synthetic_images.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace bench {
namespace {

IFFImageInfo described(int32_t width, int32_t height, uint32_t color_class, int32_t bits) {
    IFFImageInfo info{};
    info.width = width;
    info.height = height;
    info.color_class = color_class;
    info.bits = bits;
    return info;
}

uint8_t shade(int32_t x, int32_t y, double phase, std::mt19937 &rng) {
    const double v = 128.0 + 70.0 * std::sin(x / 37.0 + phase) + 45.0 * std::cos(y / 23.0 - phase) +
                     double(int32_t(rng() % 25) - 12);
    return uint8_t(std::clamp(v, 0.0, 255.0));
}

} // namespace

HostImage shaded_gray(int32_t width, int32_t height) {
    HostImage image{"gray8", described(width, height, 1, 8), width, {}};
    image.pixels.resize(size_t(width) * size_t(height));
    std::mt19937 rng(1);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) image.pixels[size_t(y) * size_t(width) + size_t(x)] = shade(x, y, 0.0, rng);
    return image;
}

HostImage shaded_rgb(int32_t width, int32_t height) {
    HostImage image{"rgb24", described(width, height, 3, 8), 3 * width, {}};
    image.pixels.resize(3 * size_t(width) * size_t(height));
    std::mt19937 rng(2);
    size_t at = 0;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) image.pixels[at++] = shade(x, y, 1.7 * c, rng);
    return image;
}

HostImage flat_gray(int32_t width, int32_t height) {
    HostImage image{"flat8", described(width, height, 1, 8), width, {}};
    image.pixels.assign(size_t(width) * size_t(height), 40);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            uint8_t v = 40;
            if (x > width / 10 && x < width / 2 && y > height / 8 && y < height / 2) v = 200;
            const int32_t dx = x - 2 * width / 3, dy = y - 2 * height / 3;
            if (int64_t(dx) * dx + int64_t(dy) * dy < int64_t(width / 4) * (width / 4)) v = 120;
            image.pixels[size_t(y) * size_t(width) + size_t(x)] = v;
        }
    }
    return image;
}

HostImage text_page(int32_t width, int32_t height) {
    HostImage image{"bilevel", described(width, height, 0, 1), width, {}};
    image.pixels.assign(size_t(width) * size_t(height), 255);
    std::mt19937 rng(3);
    const int32_t margin = width / 12;
    const int32_t line_pitch = 48, text_height = 28;
    for (int32_t top = margin; top + text_height < height - margin; top += line_pitch) {
        int32_t x = margin;
        while (x < width - margin) {
            if (rng() % 6 == 0) { // a space between words
                x += 14;
                continue;
            }
            const int32_t glyph = 10 + int32_t(rng() % 12);
            // A glyph: a few vertical and horizontal strokes, 2-3 pixels thick.
            const int32_t strokes = 2 + int32_t(rng() % 3);
            for (int32_t s = 0; s < strokes; ++s) {
                const bool vertical = rng() % 2 == 0;
                const int32_t at = int32_t(rng() % uint32_t(vertical ? glyph : text_height));
                const int32_t thick = 2 + int32_t(rng() % 2);
                for (int32_t dy = 0; dy < text_height; ++dy) {
                    for (int32_t dx = 0; dx < glyph; ++dx) {
                        const bool on = vertical ? (dx >= at && dx < at + thick) : (dy >= at && dy < at + thick);
                        const int32_t px = x + dx;
                        if (on && px < width - margin) image.pixels[size_t(top + dy) * size_t(width) + size_t(px)] = 0;
                    }
                }
            }
            x += glyph + 3;
        }
    }
    return image;
}

} // namespace bench
