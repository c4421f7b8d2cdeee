// Which files decode writes, from the output name and the page count.
#include <gtest/gtest.h>
#include <set>

#include "tool_harness.h"

namespace tool_test {
namespace {

struct Naming {
    const char *name;
    const char *source;
    std::vector<std::string> options;
    const char *pattern;
    std::set<std::string> files;
};

void PrintTo(const Naming &naming, std::ostream *os) {
    *os << naming.name;
}

const Naming kNamings[] = {
    {"suffix_per_page", "np_pages.dcx", {}, "x.png", {"x.p0.png", "x.p1.png", "x.p2.png", "x.p3.png"}},
    {"padded_number", "np_pages.dcx", {}, "x-%03d.pnm", {"x-000.pnm", "x-001.pnm", "x-002.pnm", "x-003.pnm"}},
    {"one_page_asked", "np_pages.dcx", {"--page", "2"}, "x.png", {"x.png"}},
    {"one_page_asked_with_number", "np_pages.dcx", {"--page=1"}, "100%%-%d.ppm", {"100%-1.ppm"}},
    {"single_page_file", "np_24bit.pcx", {}, "x.png", {"x.png"}},
    {"single_page_file_with_number", "np_24bit.pcx", {}, "x-%d.png", {"x-0.png"}},
    {"extension_in_capitals", "im_pages.dcx", {}, "X.PPM", {"X.p0.PPM", "X.p1.PPM", "X.p2.PPM"}},
};

class OutputNames : public testing::TestWithParam<Naming> {};

TEST_P(OutputNames, DecodeWritesExactlyTheseFiles) {
    const Naming &naming = GetParam();
    TempDir dir;
    std::vector<std::string> args{"decode"};
    args.insert(args.end(), naming.options.begin(), naming.options.end());
    args.insert(args.end(), {std::string(PCXTOOL_CORPUS_DIR) + "/" + naming.source, dir / naming.pattern});
    const RunResult run = run_pcxtool(args);
    ASSERT_EQ(run.exit_code, 0) << run.err;
    std::set<std::string> files;
    for (const auto &entry : fs::directory_iterator(dir.path())) {
        files.insert(entry.path().filename().string());
    }
    EXPECT_EQ(files, naming.files);
}

INSTANTIATE_TEST_SUITE_P(Patterns, OutputNames, testing::ValuesIn(kNamings),
                         [](const testing::TestParamInfo<Naming> &param_info) {
                             return std::string(param_info.param.name);
                         });

} // namespace
} // namespace tool_test
