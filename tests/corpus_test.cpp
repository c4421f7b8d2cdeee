// Files written by other programs decode exactly to the images they hold,
// every page of the multi-page files included, through the entry points only.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "iffpcx.h"
#include "support/memory_stream.h"
#include "support/pcx_builder.h"

namespace {

// The copy in the repository, or another folder of the same files named by
// IFFPCX_CORPUS.
const std::string kCorpus = std::getenv("IFFPCX_CORPUS") != nullptr ? std::getenv("IFFPCX_CORPUS") : IFFPCX_CORPUS_DIR;

// Decodes the current page to RGB: indices through the exported palette,
// 24-bit lines directly.
void decode_page(int32_t handle, const IFFImageInfo &info, test::Image &out) {
    out.width = info.width;
    out.height = info.height;
    out.rgb.assign(size_t(info.width) * size_t(info.height) * 3, 0);
    const bool rgb = info.color_class == 3;
    std::vector<uint8_t> palette(768, 0);
    if (!rgb) {
        ASSERT_EQ(IFFControl(handle, IFF_REQ_PIXEL_FORMAT, IFF_PIXELS_INDEX, 0, nullptr), IFF_OK);
        uint16_t size = 0;
        ASSERT_EQ(IFFControl(handle, IFF_REQ_PALETTE | IFF_REQ_SIZE_QUERY, 0, 0, &size), IFF_OK);
        ASSERT_LE(size, 768);
        ASSERT_EQ(IFFControl(handle, IFF_REQ_PALETTE, 0, 0, palette.data()), IFF_OK);
    }
    uint16_t line_size = 0;
    ASSERT_EQ(IFFControl(handle, IFF_REQ_LINE_SIZE, 0, 0, &line_size), IFF_OK);
    std::vector<uint8_t> line(line_size + 16u);
    for (int y = 0; y < info.height; ++y) {
        ASSERT_EQ(IFFGetLine(handle, 1, line.data()), IFF_OK) << "line " << y;
        uint8_t *row = out.rgb.data() + size_t(y) * size_t(info.width) * 3;
        if (rgb) {
            std::memcpy(row, line.data(), size_t(info.width) * 3);
        } else {
            for (int x = 0; x < info.width; ++x) std::memcpy(row + 3 * x, palette.data() + 3 * line[size_t(x)], 3);
        }
    }
}

struct CorpusFile {
    const char *name;
    int pages;
};

class CorpusTest : public ::testing::TestWithParam<CorpusFile> {};

TEST_P(CorpusTest, DecodesEveryPageExactly) {
    const CorpusFile file = GetParam();
    const std::string base = kCorpus + "/" + file.name;
    const bool multi = file.pages > 1;
    const std::string path = base + (multi ? ".dcx" : ".pcx");
    IFFImageInfo info{};
    // Read through the host's stream callbacks, in small reads, as well as by name.
    for (int through_stream = 0; through_stream < 2; ++through_stream) {
        test::MemoryStream stream(test::read_file(path));
        stream.max_read = 777;
        const int32_t handle = through_stream ? IFFOpen(stream.source(), IFF_MODE_READ | IFF_MODE_STREAMS, &info)
                                              : IFFOpen(path.c_str(), IFF_MODE_READ, &info);
        ASSERT_GT(handle, 0) << path;
        uint16_t pages = 0;
        ASSERT_EQ(IFFControl(handle, IFF_REQ_PAGE_COUNT, 0, 0, &pages), IFF_OK);
        ASSERT_EQ(pages, file.pages);
        for (int page = 0; page < file.pages; ++page) {
            if (page > 0) {
                ASSERT_EQ(IFFControl(handle, IFF_REQ_SELECT_PAGE, 0, page, nullptr), IFF_OK);
            }
            test::Image expected, actual;
            const std::string ppm = multi ? base + ".p" + std::to_string(page) + ".ppm" : base + ".ppm";
            ASSERT_TRUE(test::read_ppm(ppm, expected)) << ppm;
            decode_page(handle, info, actual);
            ASSERT_EQ(actual.width, expected.width) << ppm;
            ASSERT_EQ(actual.height, expected.height) << ppm;
            EXPECT_TRUE(actual.rgb == expected.rgb) << ppm;
        }
        EXPECT_EQ(IFFClose(handle), IFF_OK);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, CorpusTest,
    ::testing::Values(CorpusFile{"im_palette8", 1}, CorpusFile{"im_truecolor", 1}, CorpusFile{"np_1bit_2planes", 1},
                      CorpusFile{"np_1bit_3planes", 1}, CorpusFile{"np_1bit_4planes", 1}, CorpusFile{"np_24bit", 1},
                      CorpusFile{"np_8bit", 1}, CorpusFile{"np_8bit_few_colours", 1}, CorpusFile{"np_bilevel", 1},
                      CorpusFile{"np_packed_2bit", 1}, CorpusFile{"np_packed_4bit", 1},
                      CorpusFile{"np_window_offset", 1}, CorpusFile{"pil_bilevel", 1}, CorpusFile{"pil_gray", 1},
                      CorpusFile{"pil_palette", 1}, CorpusFile{"pil_rgb", 1}, CorpusFile{"im_pages", 3},
                      CorpusFile{"np_pages", 4}),
    [](const ::testing::TestParamInfo<CorpusFile> &param) { return std::string(param.param.name); });

} // namespace
