// Large images are encoded to a file on two threads: the second numbers the
// colours and codes some rows itself. The file, the messages and the exit
// status must be what encoding to standard output on one thread gives,
// whatever rows bring new colours or a 257th.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tool_harness.h"

namespace tool_test {
namespace {

// Colours the 200-colour image does not have, in its last tenth of rows
// only: 56 of them make 256 colours, 57 a 257th.
enum class Late { None, NewColours, Colour257 };

struct LargeImage {
    const char *name;
    Content content;
    int width, height;
    Late late;
    std::vector<std::string> options;
};

const LargeImage kLargeImages[] = {
    {"palette", Content::ManyColours, 1401, 1100, Late::None, {}},
    {"palette_aligned", Content::ManyColours, 1400, 1100, Late::None, {"--align-palette"}},
    {"new_colours_in_the_last_rows", Content::ManyColours, 1401, 1100, Late::NewColours, {}},
    {"new_colours_in_the_last_rows_8_bits", Content::ManyColours, 1400, 1100, Late::NewColours, {"--bits", "8"}},
    // Rewritten as 24-bit RGB, or refused with --bits 8.
    {"colour_257_in_the_last_rows", Content::ManyColours, 1401, 1100, Late::Colour257, {}},
    {"colour_257_in_the_last_rows_8_bits", Content::ManyColours, 1400, 1100, Late::Colour257, {"--bits", "8"}},
    {"colour_257_half_way", Content::ManyThenTrueColour, 1400, 1100, Late::None, {}},
    {"true_colour", Content::TrueColour, 1301, 1000, Late::None, {}},
    {"gray", Content::Gray, 1300, 1000, Late::None, {}},
    {"bilevel", Content::BlackWhite, 1501, 1000, Late::None, {}},
    {"ten_colours", Content::TenColours, 1300, 1000, Late::None, {}},
};

void PrintTo(const LargeImage &image, std::ostream *os) {
    *os << image.name;
}

Image make_large_image(const LargeImage &large) {
    Image image = make_image(large.content, large.width, large.height);
    const int added = large.late == Late::NewColours ? 56 : large.late == Late::Colour257 ? 57 : 0;
    for (int y = large.height * 9 / 10, k = 0; added > 0 && y < large.height; ++y) {
        for (int x = y % 7; x < large.width; x += 7, k = (k + 1) % added) {
            uint8_t *pixel = image.rgb.data() + 3 * (static_cast<size_t>(y) * large.width + x);
            pixel[0] = 250; // the image's own colours have red below 200
            pixel[1] = pixel[2] = static_cast<uint8_t>(k);
        }
    }
    return image;
}

class LargeImages : public testing::TestWithParam<LargeImage> {};

TEST_P(LargeImages, EncodeAsOnOneThread) {
    const LargeImage &large = GetParam();
    TempDir dir;
    write_pnm(dir / "in.ppm", make_large_image(large), false);
    std::vector<std::string> to_file = {"encode"};
    to_file.insert(to_file.end(), large.options.begin(), large.options.end());
    std::vector<std::string> to_stdout = to_file;
    to_file.insert(to_file.end(), {dir / "in.ppm", dir / "out.pcx"});
    to_stdout.insert(to_stdout.end(), {dir / "in.ppm", "-"});

    const RunResult file_run = run_pcxtool(to_file);
    const RunResult one_thread = run_pcxtool(to_stdout);
    EXPECT_EQ(file_run.exit_code, one_thread.exit_code) << file_run.err;
    EXPECT_EQ(file_run.err, one_thread.err);
    if (large.late == Late::Colour257 && large.options.size() == 2) {
        EXPECT_EQ(file_run.exit_code, 1);
        EXPECT_NE(file_run.err.find("more than 256 colours"), std::string::npos) << file_run.err;
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1) << "a file was left";
        return;
    }
    ASSERT_EQ(file_run.exit_code, 0) << file_run.err;
    EXPECT_TRUE(read_bytes(dir / "out.pcx") == std::vector<uint8_t>(one_thread.out.begin(), one_thread.out.end()));
}

INSTANTIATE_TEST_SUITE_P(Images, LargeImages, testing::ValuesIn(kLargeImages),
                         [](const testing::TestParamInfo<LargeImage> &param_info) {
                             return std::string(param_info.param.name);
                         });

} // namespace
} // namespace tool_test
