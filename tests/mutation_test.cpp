// Damaged files: every truncation and many single-byte changes of real files
// open or fail with a status, and whatever opens reads to its end without
// touching memory outside the library's buffers (the sanitizer build checks).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "iffpcx.h"
#include "support/memory_stream.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Opens, exports the palette and reads every line of every page in two layouts.
int32_t exercise(const Bytes &file) {
    test::MemoryStream stream(file);
    IFFImageInfo info{};
    const int32_t h = IFFOpen(stream.source(), IFF_MODE_READ | IFF_MODE_STREAMS, &info);
    if (h <= 0) {
        EXPECT_EQ(stream.opens, stream.closes);
        return h;
    }
    uint16_t pages = 1;
    IFFControl(h, IFF_REQ_PAGE_COUNT, 0, 0, &pages);
    for (int page = 0; page < pages && page < 4; ++page) {
        if (page > 0 && IFFControl(h, IFF_REQ_SELECT_PAGE, 0, page, nullptr) != IFF_OK) continue;
        for (uint32_t format : {0u, 1u, 4099u}) {
            IFFControl(h, IFF_REQ_PIXEL_FORMAT, format, 0, nullptr);
            uint16_t palette_size = 0, line_size = 0;
            IFFControl(h, IFF_REQ_PALETTE | IFF_REQ_SIZE_QUERY, 0, 0, &palette_size);
            Bytes palette(palette_size);
            IFFControl(h, IFF_REQ_PALETTE, 0, 0, palette.data());
            IFFControl(h, IFF_REQ_LINE_SIZE, 0, 0, &line_size);
            // The stride may exceed the line size (RGB, wide samples): room for both.
            Bytes line(size_t(line_size) + 4u * size_t(info.width > 0 ? info.width : 0) + 16u);
            IFFSeek(h, 0);
            for (int y = 0; y < info.height && y < 64; ++y)
                if (IFFGetLine(h, 1, line.data()) != IFF_OK) break;
        }
    }
    EXPECT_EQ(IFFClose(h), IFF_OK);
    return h;
}

class Mutation : public ::testing::TestWithParam<const char *> {};

TEST_P(Mutation, TruncatedAndAlteredFilesFailCleanly) {
    const Bytes original = test::read_file(std::string(IFFPCX_CORPUS_DIR) + "/" + GetParam());
    ASSERT_FALSE(original.empty());
    ASSERT_GT(exercise(original), 0);
    for (size_t length = 0; length < original.size(); length += 1 + length / 64) {
        exercise(Bytes(original.begin(), original.begin() + long(length)));
    }
    // Every byte of the header region (and a DCX's directory) set to values
    // that reach the limits of each field.
    const size_t region = original.size() < 200 ? original.size() : 200;
    for (size_t at = 0; at < region; ++at) {
        for (uint8_t value : {uint8_t(0x00), uint8_t(0xFF), uint8_t(0x80), uint8_t(original[at] ^ 0x01)}) {
            Bytes altered = original;
            altered[at] = value;
            exercise(altered);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Files, Mutation,
                         ::testing::Values("np_packed_2bit.pcx", "np_1bit_3planes.pcx", "pil_rgb.pcx", "np_8bit.pcx",
                                           "np_pages.dcx"));

} // namespace
