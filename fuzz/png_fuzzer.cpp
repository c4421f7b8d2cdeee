// pcxtool's PNG reader on any bytes: it either refuses them with an input
// error or gives an image whose pixels are all there. Chunk checksums are
// set right before reading, so that mutated headers reach the tool's code
// instead of failing libpng's checksum test.
#include <cstddef>
#include <cstdint>
#include <vector>

#include <zlib.h>

#include "fuzz_check.h"
#include "png_io.h"
#include "tool_error.h"

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
    try {
        const pcxtool::RgbImage image = pcxtool::read_png(bytes, "input");
        FUZZ_CHECK(image.width > 0 && image.height > 0);
        FUZZ_CHECK(image.width <= pcxtool::kMaxImageSide && image.height <= pcxtool::kMaxImageSide);
        FUZZ_CHECK(image.rgb.size() == size_t(image.width) * size_t(image.height) * 3);
        touch_bytes(image.rgb.data(), image.rgb.size());
    } catch (const pcxtool::ToolError &) {
    }
    return 0;
}
