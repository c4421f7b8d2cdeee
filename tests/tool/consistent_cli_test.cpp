// pcxtool's commands agree with one another: outputs named as another format
// are refused, PAM goes both ways, PNM streams become DCX files, several
// inputs go to --out-dir, unpack takes decode's templates, and the help
// texts match the README.
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sstream>

#include "tool_harness.h"

namespace tool_test {
namespace {

std::string corpus(const std::string &name) {
    return std::string(PCXTOOL_CORPUS_DIR) + "/" + name;
}

std::set<std::string> files_in(const fs::path &folder) {
    std::set<std::string> names;
    for (const auto &entry : fs::recursive_directory_iterator(folder)) {
        names.insert(fs::relative(entry.path(), folder).string());
    }
    return names;
}

std::string text_of(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A PNM stream of three different images, as netpbm writes pages.
const Content kStreamContents[] = {Content::TenColours, Content::Gray, Content::TrueColour};

void write_stream(const std::string &path) {
    TempDir parts;
    std::string stream;
    for (size_t i = 0; i < 3; ++i) {
        const std::string part = parts / ("p" + std::to_string(i) + ".pnm");
        write_pnm(part, make_image(kStreamContents[i], 20 + static_cast<int>(i), 9), false);
        stream += text_of(part);
    }
    write_bytes(path, std::vector<uint8_t>(stream.begin(), stream.end()));
}

struct Refusal {
    const char *name;
    std::vector<std::string> args; // "@" stands for the test's folder
    int exit_code;
    std::vector<std::string> message;
};

void PrintTo(const Refusal &refusal, std::ostream *os) {
    *os << refusal.name;
}

const Refusal kRefusals[] = {
    {"encode_to_a_png_name", {"encode", corpus("np_24bit.ppm"), "@/x.png"}, 2, {"'@/x.png'", "PNG", "writes PCX"}},
    {"encode_to_against_its_name", {"encode", "--to", "dcx", corpus("np_24bit.ppm"), "@/x.pcx"}, 2, {"PCX", "DCX"}},
    {"encode_to_another_format", {"encode", "--to", "png", corpus("np_24bit.ppm"), "@/x"}, 2, {"pcx or dcx"}},
    {"decode_to_a_pcx_name", {"decode", corpus("np_24bit.pcx"), "@/x.pcx"}, 2, {"PCX", ".png, .pnm"}},
    {"decode_to_against_its_name", {"decode", "--to", "ppm", corpus("np_24bit.pcx"), "@/x.png"}, 2, {"PNG", "PPM"}},
    {"decode_pam_into_a_pgm_name", {"decode", "--to", "pam", corpus("np_24bit.pcx"), "@/x.pgm"}, 2, {"PGM", "PAM"}},
    {"pack_to_a_pcx_name", {"pack", "@/out.pcx", corpus("np_24bit.pcx")}, 2, {"PCX", "pack writes DCX"}},
    {"unpack_template_of_png", {"unpack", corpus("np_pages.dcx"), "@/p-%d.png"}, 2, {"PNG", "PCX"}},
    {"unpack_template_without_number", {"unpack", corpus("np_pages.dcx"), "@/p-%%.pcx"}, 2, {"%d"}},
    {"repair_dcx_to_a_pcx_name", {"repair", corpus("np_pages.dcx"), "@/r.pcx"}, 2, {"PCX", "DCX"}},
    {"several_inputs_without_out_dir",
     {"decode", corpus("np_24bit.pcx"), corpus("np_8bit.pcx"), "@/png/"},
     2,
     {"--out-dir DIR"}},
    {"out_dir_missing", {"decode", "--out-dir", "@/none", corpus("np_24bit.pcx")}, 2, {"@/none", "not a folder"}},
    {"out_dir_from_standard_input", {"encode", "--out-dir", "@", "-"}, 2, {"standard input"}},
    {"stream_to_a_pcx_file", {"encode", "@/stream.pnm", "@/x.pcx"}, 2, {"holds 3 images", ".dcx"}},
    {"colors_without_quantize", {"encode", "--colors", "8", corpus("np_24bit.ppm"), "@/x.pcx"}, 2, {"--quantize"}},
    {"threshold_and_quantize",
     {"encode", "--quantize", "--threshold", "9", corpus("np_24bit.ppm"), "@/x.pcx"},
     2,
     {"give one"}},
    {"threshold_beyond_one_bit",
     {"encode", "--bits", "4", "--threshold", "9", corpus("np_24bit.ppm"), "@/x.pcx"},
     2,
     {"--bits 1"}},
    {"quantize_to_24_bits", {"encode", "--quantize", "--bits", "24", corpus("np_24bit.ppm"), "@/x.pcx"}, 2, {"24"}},
    {"more_colors_than_bits",
     {"encode", "--quantize", "--bits", "4", "--colors", "17", corpus("np_24bit.ppm"), "@/x.pcx"},
     2,
     {"--colors", "2 to 16"}},
    {"colours_that_do_not_fit", {"encode", "--bits", "4", corpus("np_24bit.ppm"), "@/x.pcx"}, 1, {"--quantize"}},
    {"help_for_no_such_command", {"help", "convert"}, 2, {"unknown command 'convert'"}},
};

class Consistency : public testing::TestWithParam<Refusal> {};

TEST_P(Consistency, RefusesWithBothNamesAndWritesNothing) {
    const Refusal &refusal = GetParam();
    TempDir dir;
    write_stream(dir / "stream.pnm");
    const std::string folder = dir.path().string();
    auto placed = [&](std::string text) {
        for (size_t at = text.find('@'); at != std::string::npos; at = text.find('@', at + folder.size())) {
            text.replace(at, 1, folder);
        }
        return text;
    };
    std::vector<std::string> args;
    for (const std::string &arg : refusal.args) {
        args.push_back(placed(arg));
    }
    const auto before = files_in(dir.path());
    const RunResult run = run_pcxtool(args);
    EXPECT_EQ(run.exit_code, refusal.exit_code) << run.err;
    for (const std::string &fragment : refusal.message) {
        EXPECT_NE(run.err.find(placed(fragment)), std::string::npos) << "missing '" << fragment << "' in " << run.err;
    }
    EXPECT_EQ(files_in(dir.path()), before);
}

INSTANTIATE_TEST_SUITE_P(Cases, Consistency, testing::ValuesIn(kRefusals),
                         [](const testing::TestParamInfo<Refusal> &param_info) {
                             return std::string(param_info.param.name);
                         });

// Every kind of page to PAM and back: the header names its tuple type, and
// encode reads it back to the pixels decode gives as PPM.
struct PamCase {
    std::string source;
    const char *page;
    const char *tuple_type;
};

TEST(Pam, RoundTripsEveryKindOfPage) {
    const PamCase cases[] = {{corpus("np_bilevel.pcx"), "0", "TUPLTYPE BLACKANDWHITE\n"},
                             {std::string(PCXTOOL_SOURCE_DIR) + "/samples/sample.dcx", "3", "TUPLTYPE GRAYSCALE\n"},
                             {corpus("np_8bit.pcx"), "0", "TUPLTYPE RGB\n"},
                             {corpus("np_24bit.pcx"), "0", "TUPLTYPE RGB\n"}};
    TempDir dir;
    for (const PamCase &pam : cases) {
        SCOPED_TRACE(pam.tuple_type);
        ASSERT_EQ(run_pcxtool({"decode", "--page", pam.page, pam.source, dir / "page.pam"}).exit_code, 0);
        EXPECT_NE(text_of(dir / "page.pam").find(pam.tuple_type), std::string::npos);
        ASSERT_EQ(run_pcxtool({"encode", dir / "page.pam", dir / "back.pcx"}).exit_code, 0);
        ASSERT_EQ(run_pcxtool({"decode", dir / "back.pcx", dir / "back.ppm"}).exit_code, 0);
        ASSERT_EQ(run_pcxtool({"decode", "--page", pam.page, pam.source, dir / "page.ppm"}).exit_code, 0);
        EXPECT_EQ(read_ppm(dir / "back.ppm"), read_ppm(dir / "page.ppm"));
        // --to pam with a name of no extension writes the same bytes.
        ASSERT_EQ(run_pcxtool({"decode", "--page", pam.page, "--to", "pam", pam.source, dir / "page"}).exit_code, 0);
        EXPECT_EQ(read_bytes(dir / "page"), read_bytes(dir / "page.pam"));
    }
}

// PAM with alpha is blended onto white, as PNG is: a gray-and-alpha and an
// RGB-and-alpha image of the same pixels as a PNG of them.
TEST(Pam, AlphaIsBlendedOntoWhite) {
    struct Tuples {
        const char *header;
        std::vector<uint8_t> samples;
        Image expected;
    };
    const Tuples cases[] = {
        {"P7\nWIDTH 2\nHEIGHT 1\nDEPTH 2\nMAXVAL 255\nTUPLTYPE GRAYSCALE_ALPHA\nENDHDR\n",
         {0, 0, 100, 255},
         {2, 1, {255, 255, 255, 100, 100, 100}}},
        {"P7\nWIDTH 2\nHEIGHT 1\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n",
         {200, 0, 0, 255, 0, 0, 0, 128},
         {2, 1, {200, 0, 0, 127, 127, 127}}},
        {"P7\nWIDTH 3\nHEIGHT 1\nDEPTH 1\nMAXVAL 1\nTUPLTYPE BLACKANDWHITE\nENDHDR\n",
         {0, 1, 0},
         {3, 1, {0, 0, 0, 255, 255, 255, 0, 0, 0}}},
    };
    TempDir dir;
    for (const Tuples &tuples : cases) {
        SCOPED_TRACE(tuples.header);
        std::vector<uint8_t> bytes(tuples.header, tuples.header + std::string(tuples.header).size());
        bytes.insert(bytes.end(), tuples.samples.begin(), tuples.samples.end());
        write_bytes(dir / "in.pam", bytes);
        const RunResult run = run_pcxtool({"encode", dir / "in.pam", dir / "out.pcx"});
        ASSERT_EQ(run.exit_code, 0) << run.err;
        ASSERT_EQ(run_pcxtool({"decode", dir / "out.pcx", dir / "out.ppm"}).exit_code, 0);
        EXPECT_EQ(read_ppm(dir / "out.ppm"), tuples.expected);
    }
}

// A stream of three images becomes a DCX file of three pages, each page the
// image it came from, also through standard output with --to dcx.
TEST(PnmStream, BecomesThePagesOfADcxFile) {
    TempDir dir;
    write_stream(dir / "stream.pnm");
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"encode", dir / "stream.pnm", dir / "book.dcx"},
          std::vector<std::string>{"encode", "--to", "dcx", dir / "stream.pnm", dir / "book"}}) {
        const RunResult run = run_pcxtool(args);
        ASSERT_EQ(run.exit_code, 0) << run.err;
        const std::string book = args.back();
        const RunResult info = run_pcxtool({"info", "--json", book});
        ASSERT_EQ(info_pages(info.out).size(), 3u);
        for (int page = 0; page < 3; ++page) {
            const std::string out = dir / ("page" + std::to_string(page) + ".ppm");
            ASSERT_EQ(run_pcxtool({"decode", "--page", std::to_string(page), book, out}).exit_code, 0);
            EXPECT_EQ(read_ppm(out), make_image(kStreamContents[page], 20 + page, 9)) << "page " << page;
        }
    }
}

// Several inputs into one folder, named after them; one bad input leaves
// none of the outputs.
TEST(OutDir, WritesEveryInputOrNone) {
    TempDir dir;
    fs::create_directory(dir / "out");
    write_pnm(dir / "50%.ppm", make_image(Content::TenColours, 8, 8), false);
    struct Batch {
        std::vector<std::string> args;
        int exit_code;
        std::set<std::string> files;
    };
    const Batch batches[] = {
        {{"decode", "--out-dir", dir / "out", corpus("np_24bit.pcx"), corpus("np_pages.dcx")},
         0,
         {"np_24bit.png", "np_pages.p0.png", "np_pages.p1.png", "np_pages.p2.png", "np_pages.p3.png"}},
        {{"decode", "--to", "pam", "--out-dir", dir / "out", corpus("np_bilevel.pcx")}, 0, {"np_bilevel.pam"}},
        {{"encode", "--out-dir", dir / "out", corpus("np_24bit.ppm"), dir / "50%.ppm"}, 0, {"np_24bit.pcx", "50%.pcx"}},
        {{"decode", "--out-dir", dir / "out", corpus("np_24bit.pcx"), corpus("np_24bit.ppm")}, 1, {}},
        {{"encode", "--out-dir", dir / "out", corpus("np_24bit.ppm"), corpus("np_8bit.pcx")}, 1, {}},
    };
    for (const Batch &batch : batches) {
        SCOPED_TRACE(batch.args[0] + " " + batch.args.back());
        fs::remove_all(dir / "out");
        fs::create_directory(dir / "out");
        const RunResult run = run_pcxtool(batch.args);
        EXPECT_EQ(run.exit_code, batch.exit_code) << run.err;
        EXPECT_EQ(files_in(dir / "out"), batch.files);
    }
}

// unpack's templates number and pad pages as decode's do, and the pages are
// the bytes the prefix form writes.
TEST(Unpack, TakesDecodesTemplates) {
    TempDir dir;
    ASSERT_EQ(run_pcxtool({"unpack", corpus("np_pages.dcx"), dir / "plain-"}).exit_code, 0);
    ASSERT_EQ(run_pcxtool({"unpack", corpus("np_pages.dcx"), dir / "100%%-%03d.pcx"}).exit_code, 0);
    for (int page = 0; page < 4; ++page) {
        EXPECT_EQ(read_bytes(dir / ("100%-00" + std::to_string(page) + ".pcx")),
                  read_bytes(dir / ("plain-" + std::to_string(page) + ".pcx")));
    }
}

// help CMD and CMD --help print the same; -V is --version; --max-pixels 0
// lifts the limit.
TEST(CommandLine, SpellingsThatMeanTheSame) {
    TempDir dir;
    const std::vector<std::vector<std::string>> pairs[] = {
        {{"help", "decode"}, {"decode", "--help"}},
        {{"help", "unpack"}, {"unpack", "-h"}},
        {{"-V"}, {"--version"}},
        {{"decode", "--max-pixels", "0", corpus("np_24bit.pcx"), "-"}, {"decode", corpus("np_24bit.pcx"), "-"}},
    };
    for (const auto &pair : pairs) {
        const RunResult first = run_pcxtool(pair[0]);
        const RunResult second = run_pcxtool(pair[1]);
        EXPECT_EQ(first.exit_code, 0) << first.err;
        EXPECT_EQ(first.out, second.out) << pair[0][0];
        EXPECT_FALSE(first.out.empty());
    }
}

// The help texts are the source: every option a command's help lists is in
// the README's section for that command.
TEST(CommandLine, ReadmeNamesEveryOptionOfEachCommandsHelp) {
    const std::string readme = text_of(std::string(PCXTOOL_SOURCE_DIR) + "/README.md");
    for (const char *command : {"info", "decode", "encode", "pack", "unpack", "check", "repair"}) {
        const size_t start = readme.find(std::string("\n### ") + command + "\n");
        ASSERT_NE(start, std::string::npos) << command;
        const size_t end = readme.find("\n#", start + 5);
        const std::string section = readme.substr(start, end - start);
        const std::string help = run_pcxtool({command, "--help"}).out;
        std::set<std::string> options;
        for (size_t at = help.find("--"); at != std::string::npos; at = help.find("--", at + 2)) {
            size_t stop = at + 2;
            while (stop < help.size() && (std::isalnum(static_cast<unsigned char>(help[stop])) || help[stop] == '-')) {
                ++stop;
            }
            if (stop > at + 2) {
                options.insert(help.substr(at, stop - at));
            }
        }
        EXPECT_FALSE(options.empty()) << command;
        for (const std::string &option : options) {
            EXPECT_NE(section.find(option), std::string::npos) << command << ": " << option << " is not in the README";
        }
    }
}

} // namespace
} // namespace tool_test
