// Every page of files written by other programs decodes to the exact image
// beside it, through PPM and through PNG of the kind the page calls for.
#include <gtest/gtest.h>
#include <png.h>

#include "tool_harness.h"

namespace tool_test {
namespace {

struct CorpusFile {
    const char *name; // without extension
    const char *extension;
    int pages;
};

const CorpusFile kCorpus[] = {
    {"np_bilevel", ".pcx", 1},      {"np_1bit_2planes", ".pcx", 1},
    {"np_1bit_3planes", ".pcx", 1}, {"np_1bit_4planes", ".pcx", 1},
    {"np_packed_2bit", ".pcx", 1},  {"np_packed_4bit", ".pcx", 1},
    {"np_8bit", ".pcx", 1},         {"np_8bit_few_colours", ".pcx", 1},
    {"np_24bit", ".pcx", 1},        {"np_window_offset", ".pcx", 1},
    {"im_palette8", ".pcx", 1},     {"im_truecolor", ".pcx", 1},
    {"pil_bilevel", ".pcx", 1},     {"pil_gray", ".pcx", 1},
    {"pil_palette", ".pcx", 1},     {"pil_rgb", ".pcx", 1},
    {"im_pages", ".dcx", 3},        {"np_pages", ".dcx", 4},
};

void PrintTo(const CorpusFile &file, std::ostream *os) {
    *os << file.name << file.extension;
}

std::string corpus(const std::string &name) {
    return std::string(PCXTOOL_CORPUS_DIR) + "/" + name;
}

std::string reference_name(const CorpusFile &file, int page) {
    return std::string(file.name) + (file.pages > 1 ? ".p" + std::to_string(page) : "") + ".ppm";
}

// The PNG kind each library colour class turns into.
int png_color_type_for(long color_class) {
    switch (color_class) {
    case 0: return PNG_COLOR_TYPE_GRAY;
    case 3: return PNG_COLOR_TYPE_RGB;
    default: return PNG_COLOR_TYPE_PALETTE; // the corpus has no page whose palette makes it gray
    }
}

class CorpusDecode : public testing::TestWithParam<CorpusFile> {};

TEST_P(CorpusDecode, EveryPageMatchesItsReferenceImage) {
    const CorpusFile &file = GetParam();
    const std::string source = corpus(std::string(file.name) + file.extension);
    TempDir dir;

    const RunResult info = run_pcxtool({"info", "--json", source});
    ASSERT_EQ(info.exit_code, 0) << info.err;
    const auto pages = info_pages(info.out);
    ASSERT_EQ(static_cast<int>(pages.size()), file.pages);

    const RunResult to_ppm = run_pcxtool({"decode", source, dir / "page-%d.ppm"});
    ASSERT_EQ(to_ppm.exit_code, 0) << to_ppm.err;
    const RunResult to_png = run_pcxtool({"decode", source, dir / "page-%d.png"});
    ASSERT_EQ(to_png.exit_code, 0) << to_png.err;

    for (int page = 0; page < file.pages; ++page) {
        SCOPED_TRACE("page " + std::to_string(page));
        const Image expected = read_ppm(corpus(reference_name(file, page)));
        ASSERT_GT(expected.width, 0);
        EXPECT_TRUE(read_ppm(dir / ("page-" + std::to_string(page) + ".ppm")) == expected);

        const PngFile png = read_png(dir / ("page-" + std::to_string(page) + ".png"));
        EXPECT_TRUE(png.image == expected);
        const long color_class = pages[static_cast<size_t>(page)].at("color_class");
        EXPECT_EQ(png.color_type, png_color_type_for(color_class));
        if (color_class == 0) {
            EXPECT_EQ(png.bit_depth, 1);
        }
    }
}

TEST_P(CorpusDecode, OnePageAloneAsPnmOfTheFittingType) {
    const CorpusFile &file = GetParam();
    const std::string source = corpus(std::string(file.name) + file.extension);
    const int last = file.pages - 1;
    TempDir dir;
    const RunResult info = run_pcxtool({"info", "--json", source});
    ASSERT_EQ(info.exit_code, 0) << info.err;
    const long color_class = info_pages(info.out).at(static_cast<size_t>(last)).at("color_class");

    const RunResult run = run_pcxtool({"decode", "--page", std::to_string(last), source, dir / "one.pnm"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const std::vector<uint8_t> pnm = read_bytes(dir / "one.pnm");
    ASSERT_GE(pnm.size(), 2u);
    EXPECT_EQ(pnm[1], color_class == 0 ? '4' : '6') << "bilevel pages give PBM, the corpus's others PPM";
    // With --page the name is used as given: no page suffix.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusDecode, testing::ValuesIn(kCorpus),
                         [](const testing::TestParamInfo<CorpusFile> &param_info) {
                             return std::string(param_info.param.name);
                         });

} // namespace
} // namespace tool_test
