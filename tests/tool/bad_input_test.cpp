// Bad input and bad usage: a message naming the file, page and reason, the
// right exit status, and no output file (nor a leftover temporary one).
#include <functional>
#include <gtest/gtest.h>
#include <set>

#include "tool_harness.h"

namespace tool_test {
namespace {

std::string corpus(const std::string &name) {
    return std::string(PCXTOOL_CORPUS_DIR) + "/" + name;
}

std::vector<uint8_t> head_of(const std::string &path, size_t count) {
    std::vector<uint8_t> bytes = read_bytes(path);
    bytes.resize(std::min(bytes.size(), count));
    return bytes;
}

std::vector<uint8_t> text_bytes(const std::string &text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

std::vector<uint8_t> dcx_directory(const std::vector<uint32_t> &entries) {
    std::vector<uint8_t> bytes;
    for (uint32_t value : entries) {
        for (int shift = 0; shift < 32; shift += 8) {
            bytes.push_back(static_cast<uint8_t>(value >> shift));
        }
    }
    return bytes;
}

std::set<std::string> listing(const fs::path &folder) {
    std::set<std::string> names;
    for (const auto &entry : fs::recursive_directory_iterator(folder)) {
        names.insert(entry.path().lexically_relative(folder).string());
    }
    return names;
}

struct BadCase {
    const char *name;
    // Prepares the folder and returns the command line.
    std::function<std::vector<std::string>(const TempDir &)> setup;
    int exit_code;
    std::vector<std::string> message; // every fragment must appear on stderr
};

void PrintTo(const BadCase &bad, std::ostream *os) {
    *os << bad.name;
}

const std::string kLongText(400, 'x');

const BadCase kBadInputs[] = {
    {"truncated_pcx",
     [](const TempDir &d) {
         write_bytes(d / "cut.pcx", head_of(corpus("pil_palette.pcx"), 1000));
         return std::vector<std::string>{"decode", d / "cut.pcx", d / "out.png"};
     },
     1,
     {"cut.pcx", "decoding line", "IFF_ERR_LINE"}},
    {"truncated_dcx",
     [](const TempDir &d) {
         write_bytes(d / "cut.dcx", head_of(corpus("np_pages.dcx"), 2000));
         return std::vector<std::string>{"decode", d / "cut.dcx", d / "out.png"};
     },
     1,
     {"cut.dcx", "page 2", "past the end"}},
    {"later_page_fails_so_no_page_is_written",
     [](const TempDir &d) {
         // A good page, then one whose image data stop early.
         std::vector<uint8_t> dcx = dcx_directory({0x3ADE68B1, 16, 16 + 178, 0});
         const std::vector<uint8_t> good = read_bytes(corpus("np_packed_2bit.pcx"));
         EXPECT_EQ(good.size(), 178u);
         const std::vector<uint8_t> cut = head_of(corpus("np_24bit.pcx"), 400);
         dcx.insert(dcx.end(), good.begin(), good.end());
         dcx.insert(dcx.end(), cut.begin(), cut.end());
         write_bytes(d / "two.dcx", dcx);
         return std::vector<std::string>{"decode", d / "two.dcx", d / "page-%d.png"};
     },
     1,
     {"two.dcx", "page 1", "IFF_ERR_LINE"}},
    {"text_file",
     [](const TempDir &d) {
         write_bytes(d / "notes.pcx", text_bytes("These are notes, not an image.\n" + kLongText));
         return std::vector<std::string>{"decode", d / "notes.pcx", d / "out.png"};
     },
     1,
     {"notes.pcx", "IFF_ERR_FORMAT", "does not start like a PCX"}},
    {"short_text_file",
     [](const TempDir &d) {
         write_bytes(d / "hi.pcx", text_bytes("hi\n"));
         return std::vector<std::string>{"decode", d / "hi.pcx", d / "out.png"};
     },
     1,
     {"hi.pcx", "IFF_ERR_READ"}},
    {"missing_file",
     [](const TempDir &d) {
         return std::vector<std::string>{"decode", d / "absent.pcx", d / "out.png"};
     },
     1,
     {"absent.pcx", "No such file"}},
    {"page_past_the_end",
     [](const TempDir &d) {
         return std::vector<std::string>{"decode", "--page", "4", corpus("np_pages.dcx"), d / "out.png"};
     },
     1,
     {"np_pages.dcx", "no page 4", "0 to 3"}},
    {"page_past_the_end_of_a_pcx_file",
     [](const TempDir &d) {
         return std::vector<std::string>{"decode", "--page", "1", corpus("np_24bit.pcx"), d / "out.png"};
     },
     1,
     {"np_24bit.pcx", "no page 1"}},
    {"decode_into_missing_folder",
     [](const TempDir &d) {
         return std::vector<std::string>{"decode", corpus("np_24bit.pcx"), d / "none/out.png"};
     },
     1,
     {"none", "No such file or directory"}},
    {"encode_into_missing_folder",
     [](const TempDir &d) {
         write_pnm(d / "in.ppm", make_image(Content::TenColours, 8, 8), false);
         return std::vector<std::string>{"encode", d / "in.ppm", d / "none/out.pcx"};
     },
     1,
     {"none", "No such file or directory"}},
    {"unpack_into_missing_folder",
     [](const TempDir &d) {
         return std::vector<std::string>{"unpack", corpus("np_pages.dcx"), d / "none/p"};
     },
     1,
     {"none", "No such file or directory"}},
    {"encode_text_file",
     [](const TempDir &d) {
         write_bytes(d / "notes.png", text_bytes("not a picture\n"));
         return std::vector<std::string>{"encode", d / "notes.png", d / "out.pcx"};
     },
     1,
     {"notes.png", "not a PNG or PNM image"}},
    {"encode_truncated_png",
     [](const TempDir &d) {
         write_png(d / "full.png", make_image(Content::TrueColour, 40, 40));
         write_bytes(d / "cut.png", head_of(d / "full.png", 100));
         return std::vector<std::string>{"encode", d / "cut.png", d / "out.pcx"};
     },
     1,
     {"cut.png", "cannot read the PNG file"}},
    {"encode_truncated_ppm",
     [](const TempDir &d) {
         write_pnm(d / "full.ppm", make_image(Content::TrueColour, 40, 40), false);
         write_bytes(d / "cut.ppm", head_of(d / "full.ppm", 1000));
         return std::vector<std::string>{"encode", d / "cut.ppm", d / "out.pcx"};
     },
     1,
     {"cut.ppm", "end early"}},
    {"colours_into_one_bit",
     [](const TempDir &d) {
         write_png(d / "in.png", make_image(Content::TwoColours, 8, 8));
         return std::vector<std::string>{"encode", "--bits", "1", d / "in.png", d / "out.pcx"};
     },
     1,
     {"in.png", "black and white"}},
    {"too_many_colours_for_four_bits",
     [](const TempDir &d) {
         write_png(d / "in.png", make_image(Content::ManyColours, 30, 30));
         return std::vector<std::string>{"encode", "--bits", "4", d / "in.png", d / "out.pcx"};
     },
     1,
     {"in.png", "at most 16"}},
    {"more_colours_further_down_for_eight_bits",
     [](const TempDir &d) {
         write_pnm(d / "in.ppm", make_image(Content::ManyThenTrueColour, 1000, 600), false);
         return std::vector<std::string>{"encode", "--bits", "8", d / "in.ppm", d / "out.pcx"};
     },
     1,
     {"in.ppm", "more than 256 colours", "at most 256"}},
    {"colour_page_into_pgm",
     [](const TempDir &d) {
         return std::vector<std::string>{"decode", corpus("np_24bit.pcx"), d / "out.pgm"};
     },
     1,
     {"out.pgm", "cannot hold", ".ppm"}},
    {"pack_a_text_file",
     [](const TempDir &d) {
         write_bytes(d / "notes.pcx", text_bytes(kLongText));
         return std::vector<std::string>{"pack", d / "out.dcx", corpus("np_24bit.pcx"), d / "notes.pcx"};
     },
     1,
     {"notes.pcx", "not a PCX page", "IFF_ERR_FORMAT"}},
    {"unpack_a_pcx_file",
     [](const TempDir &d) {
         return std::vector<std::string>{"unpack", corpus("np_24bit.pcx"), d / "p"};
     },
     1,
     {"np_24bit.pcx", "not a DCX file"}},
    {"directory_without_terminator",
     [](const TempDir &d) {
         write_bytes(d / "open.dcx", dcx_directory({0x3ADE68B1, 12, 200}));
         return std::vector<std::string>{"unpack", d / "open.dcx", d / "p"};
     },
     1,
     {"open.dcx", "no terminating zero"}},
    {"directory_out_of_order",
     [](const TempDir &d) {
         std::vector<uint8_t> dcx = dcx_directory({0x3ADE68B1, 400, 16, 0});
         dcx.resize(800, 0);
         write_bytes(d / "order.dcx", dcx);
         return std::vector<std::string>{"unpack", d / "order.dcx", d / "p"};
     },
     1,
     {"order.dcx", "page 0", "lies before"}},
    // Bad usage.
    {"no_command", [](const TempDir &) { return std::vector<std::string>{}; }, 2, {"usage: pcxtool"}},
    {"unknown_command",
     [](const TempDir &) { return std::vector<std::string>{"convert"}; },
     2,
     {"unknown command 'convert'"}},
    {"decode_without_output",
     [](const TempDir &) {
         return std::vector<std::string>{"decode", corpus("np_24bit.pcx")};
     },
     2,
     {"decode needs IN and OUT", "--help"}},
    {"unknown_option",
     [](const TempDir &d) {
         return std::vector<std::string>{"decode", "--fast", corpus("np_24bit.pcx"), d / "o.png"};
     },
     2,
     {"unknown option '--fast'"}},
    {"page_not_a_number",
     [](const TempDir &d) {
         return std::vector<std::string>{"decode", "--page", "two", corpus("np_pages.dcx"), d / "o.png"};
     },
     2,
     {"--page", "'two'"}},
    {"bad_name_pattern",
     [](const TempDir &d) {
         return std::vector<std::string>{"decode", corpus("np_pages.dcx"), d / "o-%s.png"};
     },
     2,
     {"%d"}},
    {"unknown_output_extension",
     [](const TempDir &d) {
         return std::vector<std::string>{"decode", corpus("np_24bit.pcx"), d / "o.jpg"};
     },
     2,
     {".png, .pnm"}},
    {"bits_not_offered",
     [](const TempDir &d) {
         return std::vector<std::string>{"encode", "--bits", "5", corpus("np_24bit.ppm"), d / "o.pcx"};
     },
     2,
     {"--bits takes 1, 2, 3, 4, 8 or 24"}},
    {"dpi_zero",
     [](const TempDir &d) {
         return std::vector<std::string>{"encode", "--dpi", "0", corpus("np_24bit.ppm"), d / "o.pcx"};
     },
     2,
     {"--dpi"}},
    {"option_twice",
     [](const TempDir &d) {
         return std::vector<std::string>{"decode", "--page", "1", "--page", "2", corpus("np_pages.dcx"), d / "o.png"};
     },
     2,
     {"--page given twice"}},
    {"pack_without_inputs",
     [](const TempDir &d) {
         return std::vector<std::string>{"pack", d / "o.dcx"};
     },
     2,
     {"pack needs"}},
};

class BadInput : public testing::TestWithParam<BadCase> {};

TEST_P(BadInput, FailsWithAClearMessageAndNoOutput) {
    const BadCase &bad = GetParam();
    TempDir dir;
    const std::vector<std::string> args = bad.setup(dir);
    const std::set<std::string> before = listing(dir.path());
    const RunResult run = run_pcxtool(args);
    EXPECT_EQ(run.exit_code, bad.exit_code) << run.err;
    for (const std::string &fragment : bad.message) {
        EXPECT_NE(run.err.find(fragment), std::string::npos) << "missing '" << fragment << "' in: " << run.err;
    }
    EXPECT_EQ(listing(dir.path()), before) << "a failed run leaves the folder as it was";
    EXPECT_TRUE(run.out.empty() || bad.exit_code == 2) << run.out;
}

INSTANTIATE_TEST_SUITE_P(Cases, BadInput, testing::ValuesIn(kBadInputs),
                         [](const testing::TestParamInfo<BadCase> &param_info) {
                             return std::string(param_info.param.name);
                         });

TEST(Help, EveryCommandExplainsItselfOnStdout) {
    for (const char *command : {"info", "decode", "encode", "pack", "unpack"}) {
        const RunResult run = run_pcxtool({command, "--help"});
        EXPECT_EQ(run.exit_code, 0) << command;
        EXPECT_EQ(run.out.rfind(std::string("usage: pcxtool ") + command, 0), 0u) << run.out;
        EXPECT_TRUE(run.err.empty()) << run.err;
    }
    const RunResult overview = run_pcxtool({"--help"});
    EXPECT_EQ(overview.exit_code, 0);
    for (const char *command : {"info", "decode", "encode", "pack", "unpack"}) {
        EXPECT_NE(overview.out.find(std::string("  ") + command + " "), std::string::npos) << command;
    }
}

// One unreadable file among several: the others are still described, and
// the exit status tells that something failed.
TEST(Info, ReportsTheReadableFilesAndFailsForTheOthers) {
    TempDir dir;
    write_bytes(dir / "bad.pcx", text_bytes(kLongText));
    const RunResult text = run_pcxtool({"info", corpus("np_24bit.pcx"), dir / "bad.pcx", corpus("np_pages.dcx")});
    EXPECT_EQ(text.exit_code, 1);
    EXPECT_NE(text.out.find("np_24bit.pcx: PCX, 1 page"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("np_pages.dcx: DCX, 4 pages"), std::string::npos) << text.out;
    EXPECT_NE(text.err.find("bad.pcx"), std::string::npos);

    const RunResult json = run_pcxtool({"info", "--json", corpus("np_24bit.pcx"), dir / "bad.pcx"});
    EXPECT_EQ(json.exit_code, 1);
    EXPECT_EQ(info_pages(json.out).size(), 1u);
    EXPECT_NE(json.out.find("\"error\": \""), std::string::npos) << json.out;
}

} // namespace
} // namespace tool_test
