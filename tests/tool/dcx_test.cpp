// Packing PCX files into a DCX file and unpacking it again.
#include <gtest/gtest.h>

#include "tool_harness.h"

namespace tool_test {
namespace {

std::string corpus(const std::string &name) {
    return std::string(PCXTOOL_CORPUS_DIR) + "/" + name;
}

uint32_t u32_at(const std::vector<uint8_t> &bytes, size_t at) {
    return static_cast<uint32_t>(bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | bytes[at + 3] << 24);
}

// Pages of four different layouts, from files other programs wrote.
const std::vector<std::string> kPages = {"np_bilevel.pcx", "np_1bit_4planes.pcx", "pil_palette.pcx", "np_24bit.pcx"};

TEST(PackUnpack, UnpackReturnsThePackedPagesByteForByte) {
    TempDir dir;
    std::vector<std::string> args{"pack", dir / "all.dcx"};
    for (const std::string &page : kPages) {
        args.push_back(corpus(page));
    }
    const RunResult packed = run_pcxtool(args);
    ASSERT_EQ(packed.exit_code, 0) << packed.err;

    // The directory: signature, one offset per page, a zero entry, then the
    // pages back to back.
    const std::vector<uint8_t> dcx = read_bytes(dir / "all.dcx");
    ASSERT_EQ(u32_at(dcx, 0), 0x3ADE68B1u);
    uint32_t offset = static_cast<uint32_t>(4 + 4 * (kPages.size() + 1));
    for (size_t i = 0; i < kPages.size(); ++i) {
        EXPECT_EQ(u32_at(dcx, 4 + 4 * i), offset);
        offset += static_cast<uint32_t>(fs::file_size(corpus(kPages[i])));
    }
    EXPECT_EQ(u32_at(dcx, 4 + 4 * kPages.size()), 0u);
    EXPECT_EQ(dcx.size(), offset);

    const RunResult unpacked = run_pcxtool({"unpack", dir / "all.dcx", dir / "page-"});
    ASSERT_EQ(unpacked.exit_code, 0) << unpacked.err;
    for (size_t i = 0; i < kPages.size(); ++i) {
        EXPECT_EQ(read_bytes(dir / ("page-" + std::to_string(i) + ".pcx")), read_bytes(corpus(kPages[i]))) << i;
    }
    EXPECT_FALSE(fs::exists(dir / ("page-" + std::to_string(kPages.size()) + ".pcx")));
}

TEST(PackUnpack, DcxInputsContributeEachOfTheirPages) {
    TempDir dir;
    ASSERT_EQ(run_pcxtool({"pack", dir / "more.dcx", corpus("np_pages.dcx"), corpus("pil_rgb.pcx")}).exit_code, 0);
    const RunResult info = run_pcxtool({"info", "--json", dir / "more.dcx"});
    ASSERT_EQ(info.exit_code, 0) << info.err;
    EXPECT_EQ(info_pages(info.out).size(), 5u);
    // The repacked pages decode to the same images as the originals.
    ASSERT_EQ(run_pcxtool({"decode", dir / "more.dcx", dir / "p%d.ppm"}).exit_code, 0);
    for (int page = 0; page < 4; ++page) {
        EXPECT_TRUE(read_ppm(dir / ("p" + std::to_string(page) + ".ppm")) ==
                    read_ppm(corpus("np_pages.p" + std::to_string(page) + ".ppm")))
            << page;
    }
    EXPECT_TRUE(read_ppm(dir / "p4.ppm") == read_ppm(corpus("pil_rgb.ppm")));
}

// A directory of 1024 entries, as some writers make, repacks into the
// compact one with the same pages.
TEST(PackUnpack, UnpackThenPackKeepsEveryPage) {
    TempDir dir;
    ASSERT_EQ(run_pcxtool({"unpack", corpus("im_pages.dcx"), dir / "im"}).exit_code, 0);
    ASSERT_EQ(run_pcxtool({"pack", dir / "again.dcx", dir / "im0.pcx", dir / "im1.pcx", dir / "im2.pcx"}).exit_code, 0);
    ASSERT_EQ(run_pcxtool({"decode", dir / "again.dcx", dir / "again.ppm"}).exit_code, 0);
    for (int page = 0; page < 3; ++page) {
        const std::string suffix = ".p" + std::to_string(page) + ".ppm";
        EXPECT_TRUE(read_ppm(dir / ("again" + suffix)) == read_ppm(corpus("im_pages" + suffix))) << page;
    }
}

} // namespace

// Pages decoded on two threads are reported as one thread would: warnings
// of the pages before the first failure, in page order, then that failure.
TEST(DecodeDcx, ReportsPagesInOrderWhateverThreadDecodedThem) {
    TempDir dir;
    std::vector<uint8_t> cut = read_bytes(corpus("np_bilevel.pcx"));
    cut.resize(cut.size() / 2); // the last page: its data end early
    std::vector<uint8_t> no_block = read_bytes(corpus("im_palette8.pcx"));
    no_block.resize(no_block.size() - 769); // the 256-colour block cut off
    const std::vector<std::vector<uint8_t>> pages = {read_bytes(corpus("np_bilevel.pcx")), no_block, no_block,
                                                     read_bytes(corpus("np_24bit.pcx")), cut};
    std::vector<uint8_t> dcx = {0xB1, 0x68, 0xDE, 0x3A};
    uint32_t offset = static_cast<uint32_t>(4 * (pages.size() + 2));
    auto put_u32 = [&dcx](uint32_t v) {
        for (int k = 0; k < 4; ++k) dcx.push_back(static_cast<uint8_t>(v >> (8 * k)));
    };
    for (const auto &page : pages) {
        put_u32(offset);
        offset += static_cast<uint32_t>(page.size());
    }
    put_u32(0);
    for (const auto &page : pages) dcx.insert(dcx.end(), page.begin(), page.end());
    write_bytes(dir / "mixed.dcx", dcx);

    // Pages 1 and 2 warn on different threads; page 4 fails last.
    const RunResult failed = run_pcxtool({"decode", dir / "mixed.dcx", dir / "page-%d.ppm"});
    EXPECT_EQ(failed.exit_code, 1);
    const std::string file = dir / "mixed.dcx";
    const std::string warning = ": has no 256-colour palette block; its colours may be wrong\n";
    const std::string warnings =
        "pcxtool: warning: " + file + ": page 1" + warning + "pcxtool: warning: " + file + ": page 2" + warning;
    EXPECT_EQ(failed.err.substr(0, warnings.size()), warnings);
    EXPECT_NE(failed.err.find(file + ": page 4: decoding line"), std::string::npos) << failed.err;
    EXPECT_FALSE(fs::exists(dir / "page-0.ppm"));
    EXPECT_FALSE(fs::exists(dir / "page-3.ppm"));

    // The pages that decode come out as each does alone.
    const RunResult all = run_pcxtool({"decode", corpus("np_pages.dcx"), dir / "all-%d.ppm"});
    ASSERT_EQ(all.exit_code, 0) << all.err;
    for (int page = 0; page < 4; ++page) {
        const RunResult one =
            run_pcxtool({"decode", "--page", std::to_string(page), corpus("np_pages.dcx"), dir / "one.ppm"});
        ASSERT_EQ(one.exit_code, 0) << one.err;
        EXPECT_EQ(read_bytes(dir / ("all-" + std::to_string(page) + ".ppm")), read_bytes(dir / "one.ppm")) << page;
    }
}

} // namespace tool_test
