// pcxtool's PNM reader on any bytes: it either refuses them with an input
// error or gives an image whose pixels are all there.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_check.h"
#include "pnm_io.h"
#include "tool_error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > (1u << 20)) return 0;
    const std::vector<uint8_t> bytes(data, data + size);
    if (!pcxtool::has_pnm_signature(bytes)) return 0;
    try {
        const pcxtool::RgbImage image = pcxtool::read_pnm(bytes, "input");
        FUZZ_CHECK(image.width > 0 && image.height > 0);
        FUZZ_CHECK(image.width <= pcxtool::kMaxImageSide && image.height <= pcxtool::kMaxImageSide);
        FUZZ_CHECK(image.rgb.size() == size_t(image.width) * size_t(image.height) * 3);
        touch_bytes(image.rgb.data(), image.rgb.size());
    } catch (const pcxtool::ToolError &) {
    }
    return 0;
}
