// Large pages decoded to a PNM file go out in two parts written side by side;
// the file, the messages and the exit status must be what decoding the page
// in one pass to standard output gives, whatever part a fault lies in.
#include <gtest/gtest.h>

#include "tool_harness.h"

namespace tool_test {
namespace {

enum class Damage { None, CutEarly, CutLate, NoPaletteBlock };

struct LargePage {
    const char *name;
    Content content;
    int width, height;
    const char *output; // the file's extension, which picks the PNM type
    Damage damage;
};

const LargePage kLargePages[] = {
    {"true_colour", Content::TrueColour, 1300, 1200, "ppm", Damage::None},
    {"palette", Content::ManyColours, 1400, 1100, "ppm", Damage::None},
    {"gray", Content::Gray, 1300, 1200, "pgm", Damage::None},
    {"bilevel_as_pbm", Content::BlackWhite, 2000, 1300, "pbm", Damage::None},
    {"bilevel_as_ppm", Content::BlackWhite, 2000, 1300, "ppm", Damage::None},
    // A file cut short fails in the first part or in the second.
    {"cut_in_the_first_part", Content::TrueColour, 1300, 1200, "ppm", Damage::CutEarly},
    {"cut_in_the_second_part", Content::TrueColour, 1300, 1200, "ppm", Damage::CutLate},
    // The warning comes once.
    {"palette_block_missing", Content::ManyColours, 1400, 1100, "ppm", Damage::NoPaletteBlock},
};

void PrintTo(const LargePage &page, std::ostream *os) {
    *os << page.name;
}

class LargePages : public testing::TestWithParam<LargePage> {};

TEST_P(LargePages, DecodeAsInOnePass) {
    const LargePage &page = GetParam();
    TempDir dir;
    write_pnm(dir / "in.pnm", make_image(page.content, page.width, page.height), false);
    ASSERT_EQ(run_pcxtool({"encode", dir / "in.pnm", dir / "in.pcx"}).exit_code, 0);
    std::vector<uint8_t> pcx = read_bytes(dir / "in.pcx");
    if (page.damage == Damage::CutEarly) pcx.resize(pcx.size() / 4);
    if (page.damage == Damage::CutLate) pcx.resize(pcx.size() * 9 / 10);
    if (page.damage == Damage::NoPaletteBlock) pcx.resize(pcx.size() - 769);
    write_bytes(dir / "in.pcx", pcx);

    const std::string out = dir / (std::string("out.") + page.output);
    const RunResult to_file = run_pcxtool({"decode", dir / "in.pcx", out});
    const RunResult in_one_pass = run_pcxtool({"decode", "--to", page.output, dir / "in.pcx", "-"});
    EXPECT_EQ(to_file.exit_code, in_one_pass.exit_code) << to_file.err;
    EXPECT_EQ(to_file.err, in_one_pass.err);
    if (page.damage == Damage::CutEarly || page.damage == Damage::CutLate) {
        EXPECT_EQ(to_file.exit_code, 1);
        EXPECT_FALSE(fs::exists(out));
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2) << "a file was left";
        return;
    }
    ASSERT_EQ(to_file.exit_code, 0) << to_file.err;
    const std::vector<uint8_t> written = read_bytes(out);
    EXPECT_TRUE(written == std::vector<uint8_t>(in_one_pass.out.begin(), in_one_pass.out.end()));
    EXPECT_EQ(page.damage == Damage::NoPaletteBlock, to_file.err.find("warning") != std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Pages, LargePages, testing::ValuesIn(kLargePages),
                         [](const testing::TestParamInfo<LargePage> &param_info) {
                             return std::string(param_info.param.name);
                         });

} // namespace
} // namespace tool_test
