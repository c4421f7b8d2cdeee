// An image read for encoding: every pixel as red, green, blue.
#pragma once

#include <cstdint>
#include <memory>

#include "byte_view.h"

namespace pcxtool {

// PCX windows and line lengths are 16-bit, which bounds what can be encoded;
// readers refuse larger images before allocating for them.
constexpr int64_t kMaxImageSide = 65535;

// PCX has no transparency: a translucent sample is blended onto white, as
// PNG and PAM images are read.
inline uint8_t blend_onto_white(uint8_t value, uint8_t alpha) {
    return static_cast<uint8_t>((value * alpha + 255 * (255 - alpha) + 127) / 255);
}

// Move-only: rgb may point into the image's own buffer.
struct RgbImage {
    int32_t width = 0;
    int32_t height = 0;
    // width * height * 3 bytes, rows top to bottom: the image's own buffer,
    // or the input's bytes when they already are these pixels.
    ByteView rgb;
    int32_t dpi_x = 0; // 0 when the source gives none
    int32_t dpi_y = 0;

    RgbImage() = default;
    RgbImage(RgbImage &&) = default;
    RgbImage &operator=(RgbImage &&) = default;
    RgbImage(const RgbImage &) = delete;
    RgbImage &operator=(const RgbImage &) = delete;

    // Room for `bytes` of pixels, left uninitialised: the reader writes
    // every one of them.
    uint8_t *allocate(size_t bytes) {
        owned_.reset(new uint8_t[bytes]);
        rgb = ByteView(owned_.get(), bytes);
        return owned_.get();
    }

  private:
    std::unique_ptr<uint8_t[]> owned_;
};

} // namespace pcxtool
