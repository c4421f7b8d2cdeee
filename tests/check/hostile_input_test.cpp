// Inputs made to hurt: the fuzz targets' seeds and kept crashes, and headers
// that claim far more than the file holds. Each is judged and repaired (or
// refused) from the bytes present; memory follows the file, not the claim.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "check/check_support.h"
#include "support/memory_stream.h"
#include "support/pcx_builder.h"

namespace {

namespace fs = std::filesystem;

TEST(HostileInputs, FuzzSeedsAndCrashesAreJudgedAndRepairedOrRefused) {
    size_t files = 0;
    for (const char *kind : {"seeds", "crashes"}) {
        const fs::path root = fs::path(IFFPCX_SOURCE_DIR) / "fuzz" / kind;
        for (const auto &entry : fs::recursive_directory_iterator(root)) {
            if (!entry.is_regular_file()) continue;
            const auto bytes = test::read_file(entry.path().string());
            const check_test::Judged judged = check_test::judge(bytes);
            ASSERT_EQ(judged.status, IFFPCX_OK) << entry.path();
            const check_test::Repaired repaired = check_test::repair(bytes);
            if (repaired.status == IFFPCX_OK) {
                EXPECT_EQ(check_test::judge(repaired.bytes).verdict, "valid") << entry.path();
            } else {
                EXPECT_NE(judged.verdict, "valid") << entry.path() << ": " << repaired.message;
            }
            ++files;
        }
    }
    EXPECT_GT(files, 20u);
}

// Headers that claim the largest window in every layout, with a few bytes of
// data: the data end at once, and nothing the size of the claim is made.
TEST(HostileInputs, HugeWindowWithLittleDataEndsAtOnce) {
    struct Layout {
        uint8_t bits, planes;
    };
    for (const Layout layout : {Layout{1, 1}, Layout{1, 4}, Layout{8, 1}, Layout{8, 3}, Layout{8, 4}}) {
        test::PcxLayout l;
        l.bits = layout.bits;
        l.planes = layout.planes;
        l.x_max = l.y_max = 65534; // 65535 x 65535 pixels
        l.bytes_per_line = 65535;
        const auto file = test::pcx_file(l, {0xFF, 0x00, 0xFF, 0x00, 0x12});
        const check_test::Judged judged = check_test::judge(file);
        EXPECT_EQ(judged.verdict, "not-well-formed");
        EXPECT_EQ(judged.ids.count("PCX-DATA-SHORT"), 1u);
        EXPECT_EQ(check_test::repair(file).status, IFFPCX_ERR_TRUNCATED);
    }
}

// Runs of count 0 produce nothing: a file of them is walked to its end, and
// a page that claims huge lines but holds them all is refused by the limit
// before repair decodes it.
TEST(HostileInputs, EmptyRunsAndLargePagesStayBounded) {
    test::PcxLayout l;
    l.bits = 1;
    l.x_max = 15;
    l.bytes_per_line = 2;
    std::vector<uint8_t> coded;
    for (int i = 0; i < 100000; ++i) coded.insert(coded.end(), {0xC0, 0x00});
    coded.insert(coded.end(), {0x01, 0x02});
    EXPECT_EQ(check_test::judge(test::pcx_file(l, coded)).ids, std::set<std::string>{"PCX-RUN-EMPTY"});

    l.bits = 8;
    l.x_max = 16383;
    l.y_max = 16384; // one line more than the default limit's pixels
    l.bytes_per_line = 16384;
    std::vector<uint8_t> runs;
    for (int i = 0; i < 16385 * 16384 / 63 + 1; ++i) runs.insert(runs.end(), {0xFF, 0x00});
    auto file = test::pcx_file(l, runs);
    test::append_tail_palette(file, {});
    EXPECT_EQ(check_test::judge(file).verdict, "not-valid"); // the last run crosses the last line's end
    EXPECT_EQ(check_test::repair(file).status, IFFPCX_ERR_LIMIT);
}

} // namespace
