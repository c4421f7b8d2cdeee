// pcxtool's PNG reader on any bytes, against libpng's own reading of the same
// bytes at full depth: an image pcxtool reads has every pixel libpng reads,
// each sample scaled to 8 bits with rounding and blended onto white by its
// alpha; what libpng refuses pcxtool refuses too; and what pcxtool refuses
// and libpng reads is beyond pcxtool's own limits. Chunk checksums are set
// right before reading, so that mutated headers reach the readers instead of
// failing libpng's checksum test.
#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <png.h>
#include <zlib.h>

#include "format_error.h"
#include "fuzz_check.h"
#include "png_io.h"

namespace {

// Images past this are refused by pcxtool before libpng would read them whole.
constexpr uint64_t kMaxPixels = uint64_t{1} << 22;

struct Reference {
    png_structp png = nullptr;
    png_infop info = nullptr;
    const uint8_t *input = nullptr;
    size_t size = 0;
    size_t position = 0;
};

void on_error(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

void on_warning(png_structp, png_const_charp) {}

void on_read(png_structp png, png_bytep data, size_t length) {
    auto *reference = static_cast<Reference *>(png_get_io_ptr(png));
    if (reference->size - reference->position < length) {
        png_error(png, "the file ends early");
    }
    std::memcpy(data, reference->input + reference->position, length);
    reference->position += length;
}

// The value pcxtool gives a sample of 16 bits (8-bit samples come as v * 257),
// blended onto white by its alpha.
uint8_t expected(uint32_t value16, uint32_t alpha16) {
    const uint32_t value = (value16 * 255 + 32895) >> 16;
    const uint32_t alpha = (alpha16 * 255 + 32895) >> 16;
    return static_cast<uint8_t>((value * alpha + 255 * (255 - alpha) + 127) / 255);
}

enum class Outcome { Refused, Read, BeyondLimits };

// Reads the image as 16-bit RGBA, as every colour type and depth expands to.
// libpng reports errors by longjmp here; nothing on this frame has a
// destructor. `rgba` is 8 bytes a pixel of the image's size.
Outcome read_reference(Reference &reference, png_uint_32 *width, png_uint_32 *height, std::vector<uint8_t> *rgba) {
    if (setjmp(png_jmpbuf(reference.png)) != 0) {
        return Outcome::Refused;
    }
    png_set_read_fn(reference.png, &reference, on_read);
    // The chunks pcxtool skips, skipped here too: none changes a pixel.
    static const png_byte kSkippedChunks[] = "sPLT\0iCCP\0tEXt\0zTXt\0iTXt\0eXIf\0pCAL\0sCAL\0hIST\0";
    png_set_keep_unknown_chunks(reference.png, PNG_HANDLE_CHUNK_NEVER, kSkippedChunks, 9);
    png_read_info(reference.png, reference.info);
    *width = png_get_image_width(reference.png, reference.info);
    *height = png_get_image_height(reference.png, reference.info);
    if (uint64_t{*width} * *height > kMaxPixels || *width > 65535 || *height > 65535) {
        return Outcome::BeyondLimits;
    }
    png_set_expand(reference.png);
    png_set_expand_16(reference.png);
    png_set_gray_to_rgb(reference.png);
    png_set_add_alpha(reference.png, 0xFFFF, PNG_FILLER_AFTER);
    const int passes = png_set_interlace_handling(reference.png);
    png_read_update_info(reference.png, reference.info);
    FUZZ_CHECK(png_get_rowbytes(reference.png, reference.info) == 8 * size_t{*width});
    rgba->resize(8 * size_t{*width} * *height);
    for (int pass = 0; pass < passes; ++pass) {
        for (png_uint_32 y = 0; y < *height; ++y) {
            png_read_row(reference.png, rgba->data() + 8 * size_t{*width} * y, nullptr);
        }
    }
    return Outcome::Read;
}

// Refusals that pcxtool's limits give where libpng reads on.
bool refused_by_right(const std::string &reason) {
    return reason.find("larger than a PCX image can be") != std::string::npos ||
           reason.find("more than the limit") != std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > (1u << 20)) return 0;
    std::vector<uint8_t> bytes(data, data + size);
    for (size_t at = 8; at + 12 <= bytes.size();) {
        const size_t length =
            size_t(bytes[at]) << 24 | size_t(bytes[at + 1]) << 16 | size_t(bytes[at + 2]) << 8 | bytes[at + 3];
        if (length > bytes.size() - at - 12) break;
        const uLong crc = crc32(0, bytes.data() + at + 4, uInt(length + 4));
        for (int k = 0; k < 4; ++k) bytes[at + 8 + length + size_t(k)] = uint8_t(crc >> (24 - 8 * k));
        at += length + 12;
    }
    if (!pcxtool::has_png_signature(bytes)) return 0;
    pcxtool::RgbImage image;
    bool accepted = false;
    std::string reason;
    try {
        image = pcxtool::read_png(bytes, "input", kMaxPixels);
        accepted = true;
        FUZZ_CHECK(image.width > 0 && image.height > 0);
        FUZZ_CHECK(image.rgb.size() == size_t(image.width) * size_t(image.height) * 3);
    } catch (const pcxtool::FormatError &error) {
        reason = error.what();
    }

    Reference reference;
    reference.input = bytes.data();
    reference.size = bytes.size();
    reference.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &reference, on_error, on_warning);
    if (reference.png == nullptr) return 0;
    reference.info = png_create_info_struct(reference.png);
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    std::vector<uint8_t> rgba;
    const Outcome outcome =
        reference.info != nullptr ? read_reference(reference, &width, &height, &rgba) : Outcome::Refused;
    png_destroy_read_struct(&reference.png, &reference.info, nullptr);
    if (outcome != Outcome::Read) {
        FUZZ_CHECK(!accepted); // what libpng refuses, or pcxtool's limits, pcxtool must not read
        return 0;
    }
    if (!accepted) {
        if (!refused_by_right(reason)) {
            std::fprintf(stderr, "pcxtool refuses what libpng reads: %s\n", reason.c_str());
        }
        FUZZ_CHECK(refused_by_right(reason));
        return 0;
    }
    FUZZ_CHECK(width == uint32_t(image.width) && height == uint32_t(image.height));
    for (size_t pixel = 0; pixel < size_t{width} * height; ++pixel) {
        const uint8_t *sample = rgba.data() + 8 * pixel;
        const uint32_t alpha = uint32_t(sample[6]) << 8 | sample[7];
        for (size_t c = 0; c < 3; ++c) {
            const uint32_t value = uint32_t(sample[2 * c]) << 8 | sample[2 * c + 1];
            FUZZ_CHECK(image.rgb[3 * pixel + c] == expected(value, alpha));
        }
    }
    return 0;
}
