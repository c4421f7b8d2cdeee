// pcxtool check and repair as a user runs them: lines, JSON, exit statuses,
// and outputs that appear only when repair succeeds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tool_harness.h"

namespace tool_test {
namespace {

std::string corpus(const std::string &name) {
    return std::string(PCXTOOL_CORPUS_DIR) + "/" + name;
}

// A 16 x 1 1-bit page whose run crosses the line's end: not-valid.
std::vector<uint8_t> crossing_run_page() {
    std::vector<uint8_t> page(128, 0);
    page[0] = 10;
    page[1] = 5;
    page[2] = 1;
    page[3] = 1;
    page[8] = 15;
    page[12] = page[14] = 100;
    page[65] = 1;
    page[66] = 2;
    page[68] = 1;
    page.push_back(0xC3); // a run of 3 in a line of 2 bytes
    page.push_back(0xAA);
    return page;
}

struct Usage {
    std::vector<std::string> args;
    int exit_code;
    const char *out_starts; // stdout's start
    const char *err_has;    // part of stderr
};

TEST(CheckCommand, VerdictsLinesAndExitStatus) {
    TempDir dir;
    write_bytes(dir / "cross.pcx", crossing_run_page());
    write_bytes(dir / "text.pcx", {'h', 'i'});
    const std::string cross = dir / "cross.pcx", text = dir / "text.pcx";
    const std::vector<Usage> cases = {
        {{"check", corpus("np_1bit_3planes.pcx")}, 0, "", ""},
        {{"check", corpus("np_8bit.pcx"), corpus("pil_rgb.pcx")}, 0, "", ""},
        {{"check", "--strict", corpus("np_8bit.pcx")}, 1, "", ""},
        {{"check", cross}, 1, "", ""},
        {{"check", text, corpus("np_1bit_3planes.pcx")}, 1, "", ""},
        {{"check", dir / "missing.pcx", corpus("np_1bit_3planes.pcx")}, 1, "", "missing.pcx"},
        {{"check"}, 2, "", "check needs at least one FILE"},
        {{"check", "--fast", cross}, 2, "", "unknown option '--fast'"},
        {{"repair", cross}, 2, "", "repair needs IN and OUT"},
    };
    for (const Usage &usage : cases) {
        const RunResult run = run_pcxtool(usage.args);
        EXPECT_EQ(run.exit_code, usage.exit_code) << usage.args.back() << run.err;
        EXPECT_NE(run.err.find(usage.err_has), std::string::npos) << run.err;
    }
    const RunResult run = run_pcxtool({"check", corpus("np_8bit.pcx"), cross, text});
    EXPECT_EQ(run.out, corpus("np_8bit.pcx") +
                           ": pcx fmt/90, version 5: valid (0 fatal, 0 errors, 1 warning)\n"
                           "  page 0, byte 66: warning PCX-BPL-ODD: 101 bytes per line: odd, where the format asks "
                           "for an even count\n" +
                           cross +
                           ": pcx fmt/90, version 5: not-valid (0 fatal, 1 error, 0 warnings)\n"
                           "  page 0, byte 128: error PCX-RUN-CROSSES-LINE: runs cross the end of a scan line once; "
                           "readers disagree on where they go\n" +
                           text +
                           ": unknown: not-well-formed (1 fatal, 0 errors, 0 warnings)\n"
                           "  byte 0: fatal FILE-NOT-PCX: neither the PCX manufacturer byte 10 nor the DCX "
                           "signature\n");
}

TEST(CheckCommand, JsonHasAnObjectPerFile) {
    TempDir dir;
    write_bytes(dir / "cross.pcx", crossing_run_page());
    const RunResult run =
        run_pcxtool({"check", "--json", "--strict", corpus("np_pages.dcx"), dir / "cross.pcx", dir / "gone.pcx"});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.out.rfind("[\n  {\"file\": \"" + corpus("np_pages.dcx") +
                                "\", \"format\": \"dcx\", \"format_id\": \"x-fmt/348\", \"version\": 5, "
                                "\"verdict\": \"not-valid\", \"pages\": [{\"page\": 0, ",
                            0),
              0u)
        << run.out;
    EXPECT_NE(run.out.find(",\n  {\"file\": \"" + (dir / "cross.pcx") + "\", \"format\": \"pcx\""), std::string::npos);
    EXPECT_NE(run.out.find(",\n  {\"file\": \"" + (dir / "gone.pcx") + "\", \"error\": \""), std::string::npos);
    EXPECT_EQ(run.out.substr(run.out.size() - 3), "\n]\n");
}

TEST(RepairCommand, WritesAValidFileOrNothing) {
    TempDir dir;
    write_bytes(dir / "cross.pcx", crossing_run_page());
    RunResult run = run_pcxtool({"repair", "-v", dir / "cross.pcx", dir / "fixed.pcx"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.err, dir / "fixed.pcx" + ": page 0: image data coded again, every run inside its plane's line\n");
    EXPECT_EQ(run_pcxtool({"check", "--strict", dir / "fixed.pcx"}).exit_code, 0);
    EXPECT_EQ(run_pcxtool({"repair", dir / "fixed.pcx", dir / "again.pcx"}).err, "");
    EXPECT_EQ(read_bytes(dir / "again.pcx"), read_bytes(dir / "fixed.pcx"));

    std::vector<uint8_t> short_page = crossing_run_page();
    short_page.pop_back();
    write_bytes(dir / "short.pcx", short_page);
    run = run_pcxtool({"repair", dir / "short.pcx", dir / "out.pcx"});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.err, "pcxtool: repair: " + (dir / "short.pcx") +
                           ": page 0: cannot repair: not well-formed: PCX-DATA-SHORT: the image data end in line 0 "
                           "of 1 (2 bytes of lines missing)\n");
    EXPECT_EQ(run_pcxtool({"repair", dir / "cross.pcx", dir / "cross.pcx"}).exit_code, 1);
    EXPECT_EQ(read_bytes(dir / "cross.pcx"), crossing_run_page());
    EXPECT_FALSE(fs::exists(dir / "out.pcx"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 4);
}

// The reader the gap troubles reads the repaired file, as it reads the file
// its writer made.
TEST(RepairCommand, NetpbmReadsARepairedPaletteGap) {
    if (!program_exists("pcxtoppm")) GTEST_SKIP() << "netpbm is not installed";
    TempDir dir;
    std::vector<uint8_t> file = read_bytes(corpus("np_8bit.pcx"));
    file.insert(file.end() - 769, 17, 0);
    write_bytes(dir / "gap.pcx", file);
    EXPECT_NE(run_program({"pcxtoppm", dir / "gap.pcx"}).exit_code, 0);
    const RunResult check = run_pcxtool({"check", dir / "gap.pcx"});
    EXPECT_NE(check.out.find("error PCX-PALETTE-GAP"), std::string::npos) << check.out;
    ASSERT_EQ(run_pcxtool({"repair", dir / "gap.pcx", dir / "fixed.pcx"}).exit_code, 0);
    const RunResult repaired = run_program({"pcxtoppm", dir / "fixed.pcx"});
    EXPECT_EQ(repaired.exit_code, 0);
    EXPECT_EQ(repaired.out, run_program({"pcxtoppm", corpus("np_8bit.pcx")}).out);
}

} // namespace
} // namespace tool_test
