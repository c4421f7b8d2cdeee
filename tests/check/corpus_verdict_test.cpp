// Files of other programs get the verdicts their writers earned; repaired,
// each checks valid and decodes to the same image.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "check/check_support.h"
#include "support/memory_stream.h"

namespace {

// What each writer breaks: netpbm and ImageMagick write odd bytes per line
// for odd widths, ImageMagick a resolution of 0, Pillow a filler that is not
// zero. None of them breaks more than a warning's rule.
struct CorpusVerdict {
    const char *file;
    const char *format_id;
    std::set<std::string> ids;
};

const CorpusVerdict kCorpus[] = {
    {"np_bilevel.pcx", "fmt/90", {"PCX-BPL-ODD"}},
    {"np_1bit_2planes.pcx", "fmt/90", {"PCX-BPL-ODD"}},
    {"np_1bit_3planes.pcx", "fmt/90", {}},
    {"np_1bit_4planes.pcx", "fmt/90", {"PCX-BPL-ODD"}},
    {"np_packed_2bit.pcx", "fmt/90", {}},
    {"np_packed_4bit.pcx", "fmt/90", {"PCX-BPL-ODD"}},
    {"np_8bit.pcx", "fmt/90", {"PCX-BPL-ODD"}},
    {"np_8bit_few_colours.pcx", "fmt/90", {"PCX-BPL-ODD"}},
    {"np_24bit.pcx", "fmt/90", {"PCX-BPL-ODD"}},
    {"np_window_offset.pcx", "fmt/90", {}},
    {"np_pages.dcx", "x-fmt/348", {"PCX-BPL-ODD"}},
    {"im_palette8.pcx", "fmt/90", {"PCX-BPL-ODD", "PCX-RESOLUTION"}},
    {"im_truecolor.pcx", "fmt/90", {"PCX-BPL-ODD", "PCX-RESOLUTION"}},
    {"im_pages.dcx", "x-fmt/348", {"PCX-BPL-ODD", "PCX-RESOLUTION"}},
    {"pil_bilevel.pcx", "fmt/87", {"PCX-FILLER"}},
    {"pil_gray.pcx", "fmt/90", {"PCX-FILLER"}},
    {"pil_palette.pcx", "fmt/90", {"PCX-FILLER"}},
    {"pil_rgb.pcx", "fmt/90", {"PCX-FILLER"}},
};

class CorpusFile : public testing::TestWithParam<CorpusVerdict> {};

TEST_P(CorpusFile, GetsItsWritersVerdict) {
    const CorpusVerdict &expected = GetParam();
    const auto bytes = test::read_file(std::string(IFFPCX_CORPUS_DIR) + "/" + expected.file);
    const check_test::Judged judged = check_test::judge(bytes);
    EXPECT_EQ(judged.format_id, expected.format_id);
    EXPECT_EQ(judged.ids, expected.ids);
    EXPECT_EQ(judged.verdict, "valid");
    EXPECT_EQ(check_test::judge(bytes, true).verdict, expected.ids.empty() ? "valid" : "not-valid");
}

TEST_P(CorpusFile, RepairsToTheSameImage) {
    const auto bytes = test::read_file(std::string(IFFPCX_CORPUS_DIR) + "/" + GetParam().file);
    const check_test::Repaired repaired = check_test::repair(bytes);
    ASSERT_EQ(repaired.status, IFFPCX_OK) << repaired.message;
    const check_test::Judged after = check_test::judge(repaired.bytes, true);
    // A resolution of 0 cannot be mended without changing the file's image.
    EXPECT_TRUE(after.ids.empty() || after.ids == std::set<std::string>{"PCX-RESOLUTION"});
    EXPECT_EQ(after.format_id, check_test::judge(bytes).format_id);
    const auto before = check_test::decode_all(bytes);
    ASSERT_FALSE(before.empty());
    EXPECT_TRUE(before == check_test::decode_all(repaired.bytes));
    if (GetParam().ids.empty()) {
        EXPECT_EQ(repaired.bytes, bytes); // nothing to change: the same bytes
    }
}

INSTANTIATE_TEST_SUITE_P(Writers, CorpusFile, testing::ValuesIn(kCorpus),
                         [](const testing::TestParamInfo<CorpusVerdict> &param) {
                             std::string name;
                             for (const char *c = param.param.file; *c != '\0' && *c != '.'; ++c)
                                 if (*c != '_') name += *c;
                             return name;
                         });

} // namespace
