// decode --partial: a page whose data end early is still written, its lines
// from the first missing one on as index 0, the message names that line and
// the exit status is 1, on every way a page is decoded.
#include <gtest/gtest.h>

#include "tool_harness.h"

namespace tool_test {
namespace {

enum class Source { Pcx, LastPageOfDcx };

struct PartialCase {
    const char *name;
    Content content;
    int width, height;
    int kept_percent; // of the PCX file's bytes
    Source source;
    const char *output; // a file name, or "-" for standard output (as PPM)
};

void PrintTo(const PartialCase &c, std::ostream *os) {
    *os << c.name;
}

const PartialCase kPartialCases[] = {
    {"rgb_in_one_pass", Content::TrueColour, 300, 200, 50, Source::Pcx, "out.ppm"},
    // (A cut 8-bit page loses the palette block at its end: these keep theirs.)
    {"palette_to_png", Content::TenColours, 300, 200, 40, Source::Pcx, "out.png"},
    {"bilevel_rows_packed", Content::BlackWhite, 300, 200, 60, Source::Pcx, "out.ppm"},
    {"rgb_to_standard_output", Content::TrueColour, 300, 200, 50, Source::Pcx, "-"},
    // A large page goes to a PNM file in two parts; the data end in either.
    {"cut_in_the_first_part", Content::TrueColour, 1300, 1200, 25, Source::Pcx, "out.ppm"},
    {"cut_in_the_second_part", Content::TrueColour, 1300, 1200, 90, Source::Pcx, "out.ppm"},
    // Page 1 of two, decoded on the second thread.
    {"dcx_page_on_the_second_thread", Content::TenColours, 300, 200, 50, Source::LastPageOfDcx, "out-%d.ppm"},
};

// A decoded output as RGB, whatever its format.
Image decoded(const std::string &path) {
    return path.size() > 4 && path.substr(path.size() - 4) == ".png" ? read_png(path).image : read_ppm(path);
}

class PartialPages : public testing::TestWithParam<PartialCase> {};

TEST_P(PartialPages, KeepTheDecodedLinesAndZerosBelow) {
    const PartialCase &c = GetParam();
    TempDir dir;
    const Image image = make_image(c.content, c.width, c.height);
    write_pnm(dir / "in.pnm", image, false);
    ASSERT_EQ(run_pcxtool({"encode", dir / "in.pnm", dir / "whole.pcx"}).exit_code, 0);
    std::vector<uint8_t> pcx = read_bytes(dir / "whole.pcx");
    pcx.resize(pcx.size() * static_cast<size_t>(c.kept_percent) / 100);
    write_bytes(dir / "cut.pcx", pcx);
    std::string input = dir / "cut.pcx";
    if (c.source == Source::LastPageOfDcx) {
        input = dir / "in.dcx";
        ASSERT_EQ(run_pcxtool({"pack", input, dir / "whole.pcx", dir / "cut.pcx"}).exit_code, 0);
    }
    const bool to_stdout = std::string(c.output) == "-";
    const std::string output = to_stdout ? "-" : dir / c.output;

    const RunResult without = run_pcxtool({"decode", "--to", "ppm", input, dir / "plain-%d.ppm"});
    EXPECT_EQ(without.exit_code, 1);
    EXPECT_FALSE(fs::exists(dir / "plain-0.ppm")) << "without --partial nothing is written";

    std::vector<std::string> args = {"decode", "--partial", input, output};
    if (to_stdout) {
        args.insert(args.begin() + 1, {"--to", "ppm"});
    }
    const RunResult run = run_pcxtool(args);
    EXPECT_EQ(run.exit_code, 1);
    const std::string failed = "decoding line ";
    const size_t named = run.err.find(failed);
    ASSERT_NE(named, std::string::npos) << run.err;
    EXPECT_NE(run.err.find("failed: IFF_ERR_LINE", named), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("--partial"), std::string::npos) << run.err;
    const int missing = std::stoi(run.err.substr(named + failed.size()));
    EXPECT_GT(missing, 0);
    EXPECT_LT(missing, c.height);

    Image kept;
    if (to_stdout) {
        write_bytes(dir / "stdout.ppm", std::vector<uint8_t>(run.out.begin(), run.out.end()));
        kept = read_ppm(dir / "stdout.ppm");
    } else if (c.source == Source::LastPageOfDcx) {
        EXPECT_TRUE(read_ppm(dir / "out-0.ppm") == image) << "the whole page is written as it is";
        kept = read_ppm(dir / "out-1.ppm");
    } else {
        kept = decoded(output);
    }
    ASSERT_EQ(kept.width, c.width);
    ASSERT_EQ(kept.height, c.height);
    // Index 0 is the image's first colour in a palette layout, else black.
    const bool palette_layout = c.content == Content::TenColours;
    const std::vector<uint8_t> zero =
        palette_layout ? std::vector<uint8_t>(image.rgb.begin(), image.rgb.begin() + 3) : std::vector<uint8_t>{0, 0, 0};
    const size_t row = 3 * static_cast<size_t>(c.width);
    const size_t decoded_bytes = row * static_cast<size_t>(missing);
    EXPECT_TRUE(std::equal(kept.rgb.begin(), kept.rgb.begin() + static_cast<long>(decoded_bytes), image.rgb.begin()))
        << "the lines before " << missing << " are as decoded";
    for (size_t at = decoded_bytes; at < kept.rgb.size(); at += 3) {
        ASSERT_TRUE(std::equal(zero.begin(), zero.end(), kept.rgb.begin() + static_cast<long>(at)))
            << "pixel " << (at - decoded_bytes) / 3 << " of line " << missing;
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, PartialPages, testing::ValuesIn(kPartialCases),
                         [](const testing::TestParamInfo<PartialCase> &param_info) {
                             return std::string(param_info.param.name);
                         });

} // namespace
} // namespace tool_test
