// PNG and PNM images encoded to PCX and decoded again come back unchanged,
// in the layout their colours call for or the one asked for.
#include <gtest/gtest.h>
#include <png.h>

#include "tool_harness.h"

namespace tool_test {
namespace {

enum class Input { Png, Pnm, PlainPnm, Pnm16 };

struct RoundTrip {
    const char *name;
    Content content;
    int width;
    int height;
    Input input;
    std::vector<std::string> options;
    // What `info --json` reports for the written file.
    long color_class;
    long depth;
    long planes;
    long bits_per_plane;
};

const RoundTrip kRoundTrips[] = {
    // Automatic layouts, from every input kind.
    {"black_white_png", Content::BlackWhite, 37, 23, Input::Png, {}, 0, 1, 1, 1},
    {"black_white_pbm", Content::BlackWhite, 37, 23, Input::Pnm, {}, 0, 1, 1, 1},
    {"black_white_plain_pbm", Content::BlackWhite, 16, 9, Input::PlainPnm, {}, 0, 1, 1, 1},
    {"gray_png", Content::Gray, 37, 23, Input::Png, {}, 1, 8, 1, 8},
    {"gray_pgm_16bit", Content::Gray, 40, 7, Input::Pnm16, {}, 1, 8, 1, 8},
    {"gray_plain_pgm", Content::Gray, 9, 5, Input::PlainPnm, {}, 1, 8, 1, 8},
    {"two_colours_png", Content::TwoColours, 37, 23, Input::Png, {}, 2, 4, 4, 1},
    {"ten_colours_ppm", Content::TenColours, 37, 23, Input::Pnm, {}, 2, 4, 4, 1},
    {"ten_colours_plain_ppm", Content::TenColours, 12, 6, Input::PlainPnm, {}, 2, 4, 4, 1},
    {"many_colours_png", Content::ManyColours, 61, 29, Input::Png, {}, 2, 8, 1, 8},
    {"many_colours_ppm", Content::ManyColours, 61, 29, Input::Pnm, {}, 2, 8, 1, 8},
    {"true_colour_png", Content::TrueColour, 51, 33, Input::Png, {}, 3, 24, 3, 8},
    {"true_colour_ppm_16bit", Content::TrueColour, 51, 33, Input::Pnm16, {}, 3, 24, 3, 8},
    {"single_pixel", Content::TrueColour, 1, 1, Input::Png, {}, 0, 1, 1, 1},
    {"single_row", Content::ManyColours, 300, 1, Input::Pnm, {}, 2, 8, 1, 8},
    // Past the first rows the 8-bit layout is settled and the rest are
    // numbered as they are written; a 257th colour further down starts
    // the file again in 24 bits.
    {"many_colours_past_the_first_rows", Content::ManyColours, 1000, 600, Input::Pnm, {}, 2, 8, 1, 8},
    {"more_colours_further_down", Content::ManyThenTrueColour, 1000, 600, Input::Pnm, {}, 3, 24, 3, 8},
    // Layouts asked for with --bits.
    {"bits_2", Content::TwoColours, 37, 23, Input::Png, {"--bits", "2"}, 2, 2, 1, 2},
    {"bits_3", Content::TwoColours, 37, 23, Input::Png, {"--bits", "3"}, 2, 3, 3, 1},
    {"bits_4_of_two", Content::TwoColours, 8, 3, Input::Png, {"--bits", "4"}, 2, 4, 4, 1},
    {"bits_8_palette", Content::TenColours, 37, 23, Input::Png, {"--bits=8"}, 2, 8, 1, 8},
    {"bits_8_of_black_white", Content::BlackWhite, 37, 23, Input::Png, {"--bits", "8"}, 1, 8, 1, 8},
    {"bits_24", Content::ManyColours, 37, 23, Input::Png, {"--bits", "24"}, 3, 24, 3, 8},
    {"bits_1", Content::BlackWhite, 37, 23, Input::Pnm, {"--bits", "1"}, 0, 1, 1, 1},
    {"aligned_palette", Content::ManyColours, 61, 29, Input::Png, {"--align-palette"}, 2, 8, 1, 8},
};

void PrintTo(const RoundTrip &trip, std::ostream *os) {
    *os << trip.name;
}

std::string write_input(const TempDir &dir, const RoundTrip &trip, const Image &image) {
    switch (trip.input) {
    case Input::Png: write_png(dir / "in.png", image); return dir / "in.png";
    case Input::Pnm: write_pnm(dir / "in.pnm", image, false); return dir / "in.pnm";
    case Input::PlainPnm: write_pnm(dir / "in.pnm", image, true); return dir / "in.pnm";
    case Input::Pnm16: write_pnm(dir / "in.pnm", image, false, 65535); return dir / "in.pnm";
    }
    return {};
}

class EncodeDecode : public testing::TestWithParam<RoundTrip> {};

TEST_P(EncodeDecode, ImageComesBackInTheExpectedLayout) {
    const RoundTrip &trip = GetParam();
    TempDir dir;
    const Image image = make_image(trip.content, trip.width, trip.height);
    const std::string input = write_input(dir, trip, image);

    std::vector<std::string> encode{"encode"};
    encode.insert(encode.end(), trip.options.begin(), trip.options.end());
    encode.insert(encode.end(), {input, dir / "out.pcx"});
    const RunResult encoded = run_pcxtool(encode);
    ASSERT_EQ(encoded.exit_code, 0) << encoded.err;

    const RunResult info = run_pcxtool({"info", "--json", dir / "out.pcx"});
    ASSERT_EQ(info.exit_code, 0) << info.err;
    const auto pages = info_pages(info.out);
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].at("width"), trip.width);
    EXPECT_EQ(pages[0].at("height"), trip.height);
    EXPECT_EQ(pages[0].at("color_class"), trip.color_class);
    EXPECT_EQ(pages[0].at("depth"), trip.depth);
    EXPECT_EQ(pages[0].at("planes"), trip.planes);
    EXPECT_EQ(pages[0].at("bits_per_plane"), trip.bits_per_plane);

    ASSERT_EQ(run_pcxtool({"decode", dir / "out.pcx", dir / "back.ppm"}).exit_code, 0);
    EXPECT_TRUE(read_ppm(dir / "back.ppm") == image);
    ASSERT_EQ(run_pcxtool({"decode", dir / "out.pcx", dir / "back.png"}).exit_code, 0);
    const PngFile png = read_png(dir / "back.png");
    EXPECT_TRUE(png.image == image);
    const int expected_type = trip.color_class == 0 || (trip.color_class == 1 && is_gray(image)) ? PNG_COLOR_TYPE_GRAY
                              : trip.color_class == 3                                            ? PNG_COLOR_TYPE_RGB
                                                      : PNG_COLOR_TYPE_PALETTE;
    EXPECT_EQ(png.color_type, expected_type);
}

INSTANTIATE_TEST_SUITE_P(Layouts, EncodeDecode, testing::ValuesIn(kRoundTrips),
                         [](const testing::TestParamInfo<RoundTrip> &param_info) {
                             return std::string(param_info.param.name);
                         });

// Where the run-length coded image data of a one-page PCX file end: after
// planes times bytes-per-line decoded bytes for every line.
size_t image_data_end(const std::vector<uint8_t> &pcx) {
    const size_t height = static_cast<size_t>((pcx[10] | pcx[11] << 8) - (pcx[6] | pcx[7] << 8) + 1);
    const size_t decoded_size = height * pcx[65] * static_cast<size_t>(pcx[66] | pcx[67] << 8);
    size_t at = 128;
    for (size_t decoded = 0; decoded < decoded_size && at < pcx.size(); ++at) {
        if (pcx[at] >= 0xC0) {
            decoded += pcx[at] & 0x3Fu;
            ++at; // the repeated byte
        } else {
            ++decoded;
        }
    }
    return at;
}

// The 256-colour block follows the image data directly unless
// --align-palette asks for the library's placement on a 32-byte boundary.
TEST(PalettePlacement, BlockFollowsTheDataUnlessAlignmentIsAsked) {
    TempDir dir;
    bool saw_gap = false;
    for (int width : {61, 62, 63, 64, 65}) {
        SCOPED_TRACE("width " + std::to_string(width));
        write_png(dir / "in.png", make_image(Content::ManyColours, width, 9));
        ASSERT_EQ(run_pcxtool({"encode", dir / "in.png", dir / "packed.pcx"}).exit_code, 0);
        ASSERT_EQ(run_pcxtool({"encode", "--align-palette", dir / "in.png", dir / "aligned.pcx"}).exit_code, 0);
        const std::vector<uint8_t> packed = read_bytes(dir / "packed.pcx");
        const std::vector<uint8_t> aligned = read_bytes(dir / "aligned.pcx");
        ASSERT_GT(packed.size(), 128u + 769u);

        const size_t data_end = image_data_end(packed);
        EXPECT_EQ(packed.size(), data_end + 769) << "the block right after the data";
        EXPECT_EQ(packed[data_end], 12);

        EXPECT_EQ(aligned.size() % 32, 0u);
        EXPECT_EQ(image_data_end(aligned), data_end);
        ASSERT_GE(aligned.size(), data_end + 769);
        EXPECT_LT(aligned.size() - (data_end + 769), 32u);
        saw_gap = saw_gap || aligned.size() != packed.size();
        // The same header, image data and palette; only the gap differs.
        EXPECT_TRUE(std::equal(packed.begin(), packed.begin() + static_cast<long>(data_end), aligned.begin()));
        EXPECT_TRUE(std::equal(packed.end() - 769, packed.end(), aligned.end() - 769));
    }
    EXPECT_TRUE(saw_gap) << "no width left a gap to close";
}

TEST(Resolution, DpiIsWrittenAndCarriedThroughPng) {
    struct Case {
        std::vector<std::string> options;
        long dpi_x, dpi_y;
    };
    const Case cases[] = {{{}, 100, 100}, {{"--dpi", "300"}, 300, 300}, {{"--dpi=72x144"}, 72, 144}};
    TempDir dir;
    write_png(dir / "in.png", make_image(Content::TenColours, 20, 10));
    for (const Case &c : cases) {
        std::vector<std::string> args{"encode"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.insert(args.end(), {dir / "in.png", dir / "a.pcx"});
        ASSERT_EQ(run_pcxtool(args).exit_code, 0);
        // Through a PNG's pHYs chunk and back into a second PCX file.
        ASSERT_EQ(run_pcxtool({"decode", dir / "a.pcx", dir / "a.png"}).exit_code, 0);
        ASSERT_EQ(run_pcxtool({"encode", dir / "a.png", dir / "b.pcx"}).exit_code, 0);
        const std::string dpi = "\"dpi\": [" + std::to_string(c.dpi_x) + ", " + std::to_string(c.dpi_y) + "]";
        for (const char *name : {"a.pcx", "b.pcx"}) {
            EXPECT_NE(run_pcxtool({"info", "--json", dir / name}).out.find(dpi), std::string::npos) << name;
        }
    }
}

TEST(Transparency, TranslucentPngPixelsAreBlendedOntoWhite) {
    TempDir dir;
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = 3;
    png.height = 1;
    png.format = PNG_FORMAT_RGBA;
    const uint8_t rgba[] = {10, 20, 30, 255, 0, 0, 0, 0, 200, 0, 100, 128};
    ASSERT_TRUE(png_image_write_to_file(&png, (dir / "alpha.png").c_str(), 0, rgba, 0, nullptr));
    ASSERT_EQ(run_pcxtool({"encode", dir / "alpha.png", dir / "out.pcx"}).exit_code, 0);
    ASSERT_EQ(run_pcxtool({"decode", dir / "out.pcx", dir / "out.ppm"}).exit_code, 0);
    const Image back = read_ppm(dir / "out.ppm");
    const std::vector<uint8_t> expected{10, 20, 30, 255, 255, 255, 227, 127, 177};
    EXPECT_EQ(back.rgb, expected);
}

} // namespace
} // namespace tool_test
