// pcxtool between netpbm's programs in shell pipelines: '-' for standard
// input and output, nothing but the image on stdout, messages on stderr.
#include <gtest/gtest.h>

#include "iffpcx.h"
#include "tool_harness.h"

namespace tool_test {
namespace {

// The corpus folder as $C in every script; "$1" is pcxtool.
std::string with_corpus(const std::string &script) {
    return "C='" + std::string(PCXTOOL_CORPUS_DIR) + "'; set -e; " + script;
}

struct Pipeline {
    const char *name;
    std::vector<std::string> peers; // programs the scripts need
    std::string script;
    std::string same_as;  // a script whose stdout the first must match byte for byte
    std::string contains; // else a fragment of its stdout
};

void PrintTo(const Pipeline &pipeline, std::ostream *os) {
    *os << pipeline.name;
}

const Pipeline kPipelines[] = {
    {"decode_to_stdout_as_pcxtoppm_does",
     {"pcxtoppm"},
     R"("$1" decode "$C/np_24bit.pcx" -)",
     R"(pcxtoppm "$C/np_24bit.pcx")",
     ""},
    {"bilevel_page_as_ppm",
     {"pcxtoppm"},
     R"(cat "$C/np_bilevel.pcx" | "$1" decode --to ppm - -)",
     R"(pcxtoppm "$C/np_bilevel.pcx")",
     ""},
    {"bilevel_page_is_pbm_by_default", {"pnmfile"}, R"("$1" decode "$C/np_bilevel.pcx" - | pnmfile)", "", "PBM raw"},
    {"encode_in_a_netpbm_chain",
     {"pcxtoppm", "pnmscale"},
     R"(pcxtoppm < "$C/np_24bit.pcx" | pnmscale 2 | "$1" encode - - | pcxtoppm)",
     R"(pcxtoppm < "$C/np_24bit.pcx" | pnmscale 2)",
     ""},
    {"ppmtopcx_output_decoded",
     {"pcxtoppm", "ppmtopcx"},
     R"(ppmtopcx < "$C/np_24bit.ppm" 2>/dev/null | "$1" decode - -)",
     R"(ppmtopcx < "$C/np_24bit.ppm" 2>/dev/null | pcxtoppm)",
     ""},
    {"png_through_a_pipe",
     {"pcxtoppm"},
     R"("$1" decode --to png "$C/np_8bit.pcx" - | "$1" encode - - | pcxtoppm)",
     R"(pcxtoppm "$C/np_8bit.pcx")",
     ""},
    {"dcx_page_chosen_from_stdin",
     {},
     R"("$1" decode --page 2 - - < "$C/np_pages.dcx")",
     R"("$1" decode --page 2 "$C/np_pages.dcx" -)",
     ""},
    {"every_dcx_page_as_a_pnm_stream",
     {"pnmfile"},
     R"("$1" decode - - < "$C/np_pages.dcx" | pnmfile -allimages)",
     "",
     "Image 3"},
    {"info_of_a_pipe",
     {"ppmtopcx"},
     R"(ppmtopcx < "$C/np_24bit.ppm" 2>/dev/null | "$1" info -)",
     "",
     "standard input: PCX, 1 page"},
    {"info_of_dev_stdin", {}, R"(cat "$C/np_pages.dcx" | "$1" info /dev/stdin)", "", "/dev/stdin: DCX, 4 pages"},
    {"pack_from_stdin_to_stdout",
     {"pcxtoppm"},
     R"(cat "$C/np_24bit.pcx" | "$1" pack - - "$C/np_bilevel.pcx" | "$1" decode --page 1 --to ppm - -)",
     R"(pcxtoppm "$C/np_bilevel.pcx")",
     ""},
};

class Pipelines : public testing::TestWithParam<Pipeline> {};

TEST_P(Pipelines, CarryTheImageAndNothingElse) {
    const Pipeline &pipeline = GetParam();
    for (const std::string &peer : pipeline.peers) {
        if (!program_exists(peer)) {
            GTEST_SKIP() << peer << " (netpbm) is not installed";
        }
    }
    const RunResult run = run_shell(with_corpus(pipeline.script));
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.err, "") << "messages on a successful run";
    if (!pipeline.same_as.empty()) {
        const RunResult expected = run_shell(with_corpus(pipeline.same_as));
        ASSERT_EQ(expected.exit_code, 0) << expected.err;
        ASSERT_FALSE(expected.out.empty());
        EXPECT_TRUE(run.out == expected.out) << run.out.size() << " bytes, not the expected " << expected.out.size();
    } else {
        EXPECT_NE(run.out.find(pipeline.contains), std::string::npos) << run.out;
    }
}

INSTANTIATE_TEST_SUITE_P(Peers, Pipelines, testing::ValuesIn(kPipelines),
                         [](const testing::TestParamInfo<Pipeline> &param_info) {
                             return std::string(param_info.param.name);
                         });

// Success lines appear only with -v, and always on stderr: stdout may be
// carrying an image.
TEST(Messages, SuccessLinesOnlyWithVerboseAndOnStderr) {
    TempDir dir;
    const std::string corpus = PCXTOOL_CORPUS_DIR;
    struct Command {
        std::vector<std::string> args;
        std::string line;
    };
    const Command commands[] = {
        {{"decode", corpus + "/np_pages.dcx", dir / "p-%d.png"}, "p-3.png: page 3"},
        {{"encode", corpus + "/np_24bit.ppm", dir / "e.pcx"}, "e.pcx: 129 x 40, "},
        {{"pack", dir / "b.dcx", corpus + "/np_24bit.pcx", corpus + "/np_bilevel.pcx"}, "b.dcx: 2 pages"},
        {{"unpack", corpus + "/np_pages.dcx", dir / "u"}, "u3.pcx"},
    };
    for (const Command &command : commands) {
        const RunResult quiet = run_pcxtool(command.args);
        EXPECT_EQ(quiet.exit_code, 0) << quiet.err;
        EXPECT_EQ(quiet.out + quiet.err, "") << command.args[0];
        std::vector<std::string> verbose_args = command.args;
        verbose_args.insert(verbose_args.begin() + 1, "-v");
        const RunResult verbose = run_pcxtool(verbose_args);
        EXPECT_EQ(verbose.exit_code, 0) << verbose.err;
        EXPECT_EQ(verbose.out, "") << command.args[0];
        EXPECT_NE(verbose.err.find(command.line), std::string::npos) << verbose.err;
    }
}

TEST(Version, IsTheLibrarysVersion) {
    const RunResult run = run_pcxtool({"--version"});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_NE(run.out.find(IFFPCX_VERSION_STRING), std::string::npos) << run.out;
}

// A page of twelve 1-bit planes has no palette, whatever size one of its
// depth would have.
TEST(Info, PagesDeeperThanEightBitsHaveNoPalette) {
    TempDir dir;
    std::vector<uint8_t> file(128, 0);
    file[0] = 10;
    file[1] = 5;
    file[2] = 1;
    file[3] = 1;   // bits per plane
    file[8] = 7;   // 8 pixels wide
    file[65] = 12; // planes
    file[66] = 2;  // bytes per plane line
    file.insert(file.end(), 24, 0x55);
    write_bytes(dir / "deep.pcx", file);
    const RunResult text = run_pcxtool({"info", dir / "deep.pcx"});
    ASSERT_EQ(text.exit_code, 0) << text.err;
    EXPECT_NE(text.out.find("12 bits (12 planes x 1 bit)"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("no palette"), std::string::npos) << text.out;
    const RunResult json = run_pcxtool({"info", "--json", dir / "deep.pcx"});
    ASSERT_EQ(json.exit_code, 0) << json.err;
    EXPECT_EQ(info_pages(json.out).at(0).at("palette_entries"), 0);
}

} // namespace
} // namespace tool_test
