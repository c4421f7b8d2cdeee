// The shipped sample is what samples/make_sample.sh makes, and every page
// of it converts.
#include <cstdlib>
#include <gtest/gtest.h>

#include "tool_harness.h"

namespace tool_test {
namespace {

const std::string kSample = std::string(PCXTOOL_SOURCE_DIR) + "/samples/sample.dcx";

TEST(Sample, MakeSampleReproducesTheShippedFile) {
    TempDir dir;
    setenv("PCXTOOL", PCXTOOL_PATH, 1);
    const RunResult run =
        run_program({"bash", std::string(PCXTOOL_SOURCE_DIR) + "/samples/make_sample.sh", dir / "sample.dcx"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(read_bytes(dir / "sample.dcx"), read_bytes(kSample))
        << "samples/sample.dcx is stale: run samples/make_sample.sh";
}

TEST(Sample, PagesHaveTheirOwnLayoutsAndAllDecode) {
    const RunResult info = run_pcxtool({"info", "--json", kSample});
    ASSERT_EQ(info.exit_code, 0) << info.err;
    const auto pages = info_pages(info.out);
    const std::vector<std::pair<long, long>> layouts = {{0, 1}, {2, 4}, {2, 8}, {1, 8}, {3, 24}};
    ASSERT_EQ(pages.size(), layouts.size());
    for (size_t i = 0; i < pages.size(); ++i) {
        EXPECT_EQ(pages[i].at("color_class"), layouts[i].first) << "page " << i;
        EXPECT_EQ(pages[i].at("depth"), layouts[i].second) << "page " << i;
    }
    TempDir dir;
    const RunResult decode = run_pcxtool({"decode", kSample, dir / "page-%d.png"});
    ASSERT_EQ(decode.exit_code, 0) << decode.err;
    for (size_t i = 0; i < pages.size(); ++i) {
        const PngFile png = read_png(dir / ("page-" + std::to_string(i) + ".png"));
        EXPECT_EQ(png.image.width, pages[i].at("width"));
        EXPECT_EQ(png.image.height, pages[i].at("height"));
    }
}

} // namespace
} // namespace tool_test
