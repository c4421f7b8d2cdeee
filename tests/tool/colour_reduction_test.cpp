// encode --quantize and --threshold: the colours a PCX layout holds, close
// to the original. Closeness is measured per channel over the whole image:
// the mean absolute error and the PSNR (10 log10(255^2 / mean squared error)).
#include <cmath>
#include <gtest/gtest.h>
#include <set>

#include "tool_harness.h"

namespace tool_test {
namespace {

// A photo-like image: smooth gradients in every channel, every pixel's
// colour its own (32768 colours).
Image gradients() {
    Image image{256, 128, {}};
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            image.rgb.insert(image.rgb.end(), {static_cast<uint8_t>(x), static_cast<uint8_t>(2 * y),
                                               static_cast<uint8_t>(255 - (x + 2 * y) / 2)});
        }
    }
    return image;
}

size_t colour_count(const Image &image) {
    std::set<uint32_t> colours;
    for (size_t i = 0; i + 2 < image.rgb.size(); i += 3) {
        colours.insert(static_cast<uint32_t>(image.rgb[i] << 16 | image.rgb[i + 1] << 8 | image.rgb[i + 2]));
    }
    return colours.size();
}

struct Closeness {
    double mean_error;
    double psnr;
    double block_error; // the mean error of 8 x 8 blocks' averages, which dithering keeps
};

double block_error(const Image &original, const Image &reduced) {
    double sum = 0;
    int blocks = 0;
    for (int by = 0; by + 8 <= original.height; by += 8) {
        for (int bx = 0; bx + 8 <= original.width; bx += 8) {
            for (int c = 0; c < 3; ++c) {
                int difference = 0;
                for (int y = by; y < by + 8; ++y) {
                    for (int x = bx; x < bx + 8; ++x) {
                        const size_t at = 3 * (static_cast<size_t>(y) * original.width + x) + c;
                        difference += int{original.rgb[at]} - int{reduced.rgb[at]};
                    }
                }
                sum += std::abs(difference) / 64.0;
                ++blocks;
            }
        }
    }
    return sum / blocks;
}

Closeness closeness(const Image &original, const Image &reduced) {
    double sum = 0, squares = 0;
    for (size_t i = 0; i < original.rgb.size(); ++i) {
        const double d = std::abs(int{original.rgb[i]} - int{reduced.rgb[i]});
        sum += d;
        squares += d * d;
    }
    const double n = static_cast<double>(original.rgb.size());
    return {sum / n, squares == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 * n / squares),
            block_error(original, reduced)};
}

struct Reduction {
    const char *name;
    std::vector<std::string> options;
    bool needs_quantizer;
    size_t most_colours;
    long depth;                // the layout's bits per pixel
    double mean_error_at_most; // bounds with room over what was measured
    double psnr_at_least;
    double block_error_at_most;
};

void PrintTo(const Reduction &reduction, std::ostream *os) {
    *os << reduction.name;
}

// Measured on this image (mean error, PSNR, block error): 256 colours 3.5,
// 35.5 dB, 1.2; dithered 4.3, 33.5, 0.4; 16 colours 14.0, 23.6, 11.6; 10
// dithered 21.0, 19.8, 7.6; 4 colours 28.3, 17.5, 26.7; black and white
// dithered 121, 5.3, 57; by threshold 114, 5.7, 111. Bounds leave about a
// fifth more; dithering shows as the smaller block error.
const Reduction kReductions[] = {
    {"palette_of_256", {"--quantize"}, true, 256, 8, 4.5, 33, 2},
    {"palette_of_256_dithered", {"--quantize", "--dither"}, true, 256, 8, 5.5, 31, 1},
    {"sixteen_colours", {"--quantize", "--bits", "4"}, true, 16, 4, 17, 22, 14},
    {"ten_colours_dithered", {"--quantize", "--bits", "4", "--colors", "10", "--dither"}, true, 10, 4, 25, 18, 10},
    {"four_colours", {"--quantize", "--bits", "2"}, true, 4, 2, 34, 16, 32},
    {"black_and_white_dithered", {"--quantize", "--bits", "1", "--dither"}, true, 2, 1, 128, 5, 70},
    {"threshold", {"--threshold", "128"}, false, 2, 1, 128, 5, 128},
};

class ColourReduction : public testing::TestWithParam<Reduction> {};

TEST_P(ColourReduction, StaysWithinItsColoursAndCloseToTheOriginal) {
    const Reduction &reduction = GetParam();
#ifndef PCXTOOL_HAVE_IMAGEQUANT
    if (reduction.needs_quantizer) {
        const RunResult run = run_pcxtool({"encode", "--quantize", PCXTOOL_CORPUS_DIR "/np_24bit.ppm", "/dev/null"});
        EXPECT_EQ(run.exit_code, 2);
        EXPECT_NE(run.err.find("not available"), std::string::npos) << run.err;
        GTEST_SKIP() << "pcxtool was built without libimagequant";
    }
#endif
    TempDir dir;
    const Image original = gradients();
    write_png(dir / "photo.png", original);
    std::vector<std::string> args{"encode"};
    args.insert(args.end(), reduction.options.begin(), reduction.options.end());
    args.insert(args.end(), {dir / "photo.png", dir / "photo.pcx"});
    const RunResult run = run_pcxtool(args);
    ASSERT_EQ(run.exit_code, 0) << run.err;
    ASSERT_EQ(run_pcxtool({"decode", dir / "photo.pcx", dir / "back.ppm"}).exit_code, 0);
    const Image reduced = read_ppm(dir / "back.ppm");
    ASSERT_EQ(reduced.width, original.width);
    ASSERT_EQ(reduced.height, original.height);
    EXPECT_LE(colour_count(reduced), reduction.most_colours);
    const Closeness close = closeness(original, reduced);
    EXPECT_LE(close.mean_error, reduction.mean_error_at_most);
    EXPECT_GE(close.psnr, reduction.psnr_at_least);
    EXPECT_LE(close.block_error, reduction.block_error_at_most);
    const RunResult info = run_pcxtool({"info", "--json", dir / "photo.pcx"});
    EXPECT_EQ(info_pages(info.out).at(0).at("depth"), reduction.depth);
}

INSTANTIATE_TEST_SUITE_P(Cases, ColourReduction, testing::ValuesIn(kReductions),
                         [](const testing::TestParamInfo<Reduction> &param_info) {
                             return std::string(param_info.param.name);
                         });

// --threshold is the luma rule exactly: black below the level, white from it.
TEST(ColourReduction, ThresholdFollowsLuma) {
    TempDir dir;
    const Image image{4, 1, {0, 0, 0, 127, 127, 127, 128, 128, 128, 0, 255, 0}}; // luma 0, 127, 128, 150
    write_pnm(dir / "in.ppm", image, false);
    ASSERT_EQ(run_pcxtool({"encode", "--threshold", "128", dir / "in.ppm", dir / "out.pcx"}).exit_code, 0);
    ASSERT_EQ(run_pcxtool({"decode", dir / "out.pcx", dir / "out.ppm"}).exit_code, 0);
    EXPECT_EQ(read_ppm(dir / "out.ppm"), (Image{4, 1, {0, 0, 0, 0, 0, 0, 255, 255, 255, 255, 255, 255}}));
}

} // namespace
} // namespace tool_test
